// The expander model: address space, flash layout, pages, buffers and resets.
#include "model/Expander.h"
#include "scenario/Scenario.h"

#include <gtest/gtest.h>

namespace zsim {
namespace {

using Bytes = std::vector<uint8_t>;

const std::vector<FlashEntry> kTable{{0, 0x100000, 0}, {5, 0x20000, 0x100000}, {9, 0x10000, 0x120000}};

void installFirmware(Expander& expander) {
    FirmwareHeader header;
    header.signature = expander.traits().signature;
    expander.writeFirmwareHeader(header);
    expander.writeFlashTable(header.flashTableOffset, kTable);
}

TEST(SparseBytes, UnwrittenBytesReadAsFillAndRunsListWhatDiffers) {
    SparseBytes store(0xFF, 0x10000);
    const Bytes data{1, 2, 0xFF, 3};
    store.write(0x0FFE, data); // across a chunk boundary
    Bytes out(6);
    store.read(0x0FFD, out);
    EXPECT_EQ(out, (Bytes{0xFF, 1, 2, 0xFF, 3, 0xFF}));
    const auto runs = store.runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, 0x0FFEu);
    EXPECT_EQ(runs[0].second, (Bytes{1, 2}));
    EXPECT_EQ(runs[1].first, 0x1001u);
    store.clear(0x0FFF, 2);
    EXPECT_EQ(store.get(0x0FFE), 1);
    EXPECT_EQ(store.get(0x0FFF), 0xFF);
    EXPECT_EQ(store.get(0x1001), 3);
    store.write(0xFFFF, data); // only the byte inside the store is kept
    EXPECT_EQ(store.get(0xFFFF), 1);
    EXPECT_EQ(store.get(0x10000), 0xFF);
}

TEST(AddressSpace, RegistersMaskWritesAndSeeTheWordAsWritten) {
    AddressSpace space;
    std::vector<uint32_t> seen;
    Register& reg = space.defineRegister(0x1000, "r", 0x11, 0x000000F0);
    reg.onWrite = [&](uint32_t word) { seen.push_back(word); };
    space.writeWord(0x1000, 0xABCDEF0F);
    EXPECT_EQ(space.readWord(0x1000), 0x01u); // only bits 4..7 are writable
    EXPECT_EQ(seen, (std::vector<uint32_t>{0xABCDEF0F}));
    // A partial write merges into the word and is seen once.
    const Bytes high{0x30};
    space.write(0x1000, high);
    EXPECT_EQ(space.readWord(0x1000), 0x31u & 0xF1u);
    EXPECT_EQ(seen.size(), 2u);
    // Plain memory reads 0 until written.
    EXPECT_EQ(space.readWord(0x2000), 0u);
    space.writeWord(0x2000, 0x12345678);
    EXPECT_EQ(space.readWord(0x2000), 0x12345678u);
    EXPECT_EQ(space.readWord(0x2001) & 0xFFFFFF, 0x123456u);
}

TEST(Expander, IdentityAndFlashAppearInTheAddressSpace) {
    Expander ostrel(Family::Ostrel);
    ostrel.setIdentity(0x500605B00000A1C0ull, 0x223, 2);
    EXPECT_EQ(ostrel.space().readWord(0xC000002C), 0x02230200u);
    EXPECT_EQ(ostrel.space().readWord(0xB0000048), 0x500605B0u);
    EXPECT_EQ(ostrel.space().readWord(0xB000004C), 0x0000A1C0u);
    FirmwareHeader header;
    header.signature = ostrel.traits().signature;
    header.identity = 200;
    ostrel.writeFirmwareHeader(header);
    EXPECT_EQ(ostrel.space().readWord(0x14000004), 0x5EA1D0C3u);
    EXPECT_EQ(ostrel.space().readWord(0x14000028) & 0xFFFF, 200u);
    // The identity registers are read-only.
    ostrel.space().writeWord(0xC000002C, 0);
    EXPECT_EQ(ostrel.space().readWord(0xC000002C), 0x02230200u);

    Expander quenza(Family::Quenza);
    quenza.setIdentity(0x5000CCAB00000001ull, 0x238, 1);
    EXPECT_EQ(quenza.space().readWord(0xC380002C), 0x02380100u);
    EXPECT_EQ(quenza.space().readWord(0xC0000048), 0x5000CCABu);
}

TEST(Expander, ResetsThroughTheKeyRegistersAndTheResetControl) {
    Expander quenza(Family::Quenza);
    quenza.space().writeWord(0xC3800200, 0x12345678); // wrong key
    quenza.space().writeWord(0xC3800200, 0x07A91F48);
    quenza.space().writeWord(0x42000000, 0x802DC6C0);
    EXPECT_EQ(quenza.chipResets(), 1u);
    EXPECT_EQ(quenza.watchdogResets(), 1u);
    EXPECT_EQ(quenza.resetControl(0, Bytes{0, 0, 0}), Outcome::Ok);
    EXPECT_EQ(quenza.resetControl(0, Bytes{1, 0, 1}), Outcome::Ok);
    EXPECT_EQ(quenza.resetControl(0, Bytes{1, 0, 0}), Outcome::InvalidParameter);
    EXPECT_EQ(quenza.resetControl(1, Bytes{0, 0, 0}), Outcome::InvalidField);
    EXPECT_EQ(quenza.chipResets(), 2u);
    EXPECT_EQ(quenza.watchdogResets(), 2u);
}

TEST(Expander, PagesAreWrittenWholeWithTheirOwnLengthAndId) {
    Expander ostrel(Family::Ostrel);
    const Bytes data(28, 7);
    ostrel.setPageData(0xFF10, data);
    Bytes out;
    ASSERT_EQ(ostrel.readPage(0xFF10, 4, out), Outcome::Ok);
    EXPECT_EQ(out, (Bytes{0x20, 0x00, 0x10, 0xFF}));
    ASSERT_EQ(ostrel.readPage(0xFF10, 200, out), Outcome::Ok);
    EXPECT_EQ(out.size(), 32u); // a longer read gets the page
    EXPECT_EQ(ostrel.readPage(0xFF27, 4, out), Outcome::InvalidField);

    Bytes page = out;
    page[4] = 1;
    EXPECT_EQ(ostrel.writePage(0xFF10, page), Outcome::Ok);
    EXPECT_EQ(ostrel.pages().at(0xFF10)[4], 1);
    EXPECT_EQ(ostrel.writePage(0xFF27, page), Outcome::InvalidParameter); // id differs
    page.pop_back();
    EXPECT_EQ(ostrel.writePage(0xFF10, page), Outcome::InvalidParameter); // length differs
    EXPECT_EQ(ostrel.writePage(0xFF10, Bytes{4, 0}), Outcome::InvalidParameter);
}

struct PartitionCase {
    Family family;
    uint8_t buffer;
    uint32_t expectedOffset;
};

TEST(Expander, PartitionBuffersFollowTheFlashTable) {
    for (const PartitionCase& c :
         {PartitionCase{Family::Ostrel, 0x85, 0x100000}, PartitionCase{Family::Ostrel, 0x89, 0x120000},
          PartitionCase{Family::Quenza, 0x81, 0x100000}, PartitionCase{Family::Quenza, 0x82, 0x120000},
          PartitionCase{Family::Ostrel, 0x80, 0}, PartitionCase{Family::Quenza, 0xE0, 0}}) {
        Expander expander(c.family);
        installFirmware(expander);
        const Bytes marker{0xA5, 0x5A};
        expander.flash().write(c.expectedOffset + 0x10, marker);
        Bytes out;
        ASSERT_EQ(expander.readBuffer(c.buffer, 0x10, 2, out), Outcome::Ok) << int(c.buffer);
        EXPECT_EQ(out, marker) << int(c.buffer);
    }
    Expander ostrel(Family::Ostrel);
    installFirmware(ostrel);
    Bytes out;
    EXPECT_EQ(ostrel.readBuffer(0x81, 0, 4, out), Outcome::InvalidField); // no entry of id 1
    EXPECT_EQ(ostrel.readBuffer(0x85, 0x20000, 4, out), Outcome::InvalidField);
    ASSERT_EQ(ostrel.readBuffer(0x85, 0x1FFFE, 4, out), Outcome::Ok);
    EXPECT_EQ(out.size(), 2u); // a read past the end delivers what there is
    EXPECT_EQ(ostrel.writeBuffer(0x85, 0x1FFFE, Bytes{1, 2, 3}), Outcome::InvalidField);
    // A blank flash has no table: only the firmware partition, as large as the flash.
    Expander blank(Family::Quenza);
    EXPECT_EQ(blank.readBuffer(0x81, 0, 4, out), Outcome::InvalidField);
    ASSERT_EQ(blank.readBuffer(0x80, 0x3FFFFFC, 8, out), Outcome::Ok);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Expander, TwelveErasedBytesAtOffsetZeroEraseTheBuffer) {
    Expander quenza(Family::Quenza);
    installFirmware(quenza);
    const Bytes data{1, 2, 3, 4};
    const Bytes erase(12, 0xFF);
    ASSERT_EQ(quenza.writeBuffer(0xE2, 0x100, data), Outcome::Ok);
    ASSERT_EQ(quenza.writeBuffer(0xE2, 0, erase), Outcome::Ok); // a plain write on 0xE2
    EXPECT_EQ(quenza.designatedBuffers().at(0xE2).get(0x100), 1);
    EXPECT_TRUE(quenza.erasedBuffers().empty());
    ASSERT_EQ(quenza.writeBuffer(0xEB, 0, erase), Outcome::Ok); // 0xEB erases 0xE2
    EXPECT_EQ(quenza.designatedBuffers().at(0xE2).get(0x100), 0xFF);
    EXPECT_EQ(quenza.writeBuffer(0xEB, 0, data), Outcome::InvalidParameter);
    Bytes out;
    EXPECT_EQ(quenza.readBuffer(0xEB, 0, 4, out), Outcome::InvalidField);
    quenza.flash().write(0x100000, data);
    ASSERT_EQ(quenza.writeBuffer(0x81, 0, erase), Outcome::Ok);
    EXPECT_EQ(quenza.flash().get(0x100000), 0xFF);
    EXPECT_EQ(quenza.erasedBuffers(), (Bytes{0xE2, 0x81}));
}

TEST(Expander, ManagementAddressFollowsTheEthernetPage) {
    Expander ostrel(Family::Ostrel);
    EthernetSettings settings;
    settings.ip = {192, 168, 1, 5};
    ostrel.setEthernet(settings);
    ostrel.setDhcpAddress("10.0.0.99");
    EXPECT_EQ(ostrel.managementAddress(), "192.168.1.5");
    settings.dhcp = true;
    ostrel.setEthernet(settings);
    EXPECT_EQ(ostrel.managementAddress(), "10.0.0.99");
    ostrel.setManagementAddress("fe80::1");
    EXPECT_EQ(ostrel.managementAddress(), "fe80::1");
}

TEST(Expander, PalxAnswersOnlyItsFlashRegions) {
    Expander palx(Family::Palx);
    FirmwareHeader header;
    header.signature = palx.traits().signature;
    palx.writeFirmwareHeader(header);
    Bytes out;
    ASSERT_EQ(palx.readBuffer(0x00, 4, 4, out), Outcome::Ok);
    EXPECT_EQ(out, (Bytes{0x5A, 0xA5, 0xEA, 0x5A}));
    EXPECT_EQ(palx.readBuffer(0xE0, 4, 4, out), Outcome::InvalidField);
    const Bytes data{9};
    ASSERT_EQ(palx.writeBuffer(7, 0, data), Outcome::Ok);
    EXPECT_EQ(palx.flash().get(0x100000), 9);
    EXPECT_EQ(palx.readBuffer(8, 0, 4, out), Outcome::InvalidField);
}

// The route table and the zone rows through the window: index, fetch, data registers.
TEST(Topology, WindowLoadsRouteEntriesAndPermissionWords) {
    Expander e(Family::Quenza);
    Topology& t = e.topology();
    t.present = true;
    t.routes[7] = {0x5000C50000000077ull, 0x8000000000000200ull};
    t.zoneRows[3] = {1, 2, 3, 4, 5, 6, 7, 8};
    t.tableUnavailable = true;
    e.installTopology();
    AddressSpace& s = e.space();
    EXPECT_EQ(s.readWord(0xA000000C) & 0x8000u, 0x8000u);
    EXPECT_EQ(s.readWord(0xC3800100), 8u); // one past the highest entry
    s.writeWord(0xA0000008, 7);
    s.writeWord(0xA000000C, 4);
    EXPECT_EQ(s.readWord(0xA0000020), 0x00000077u);
    EXPECT_EQ(s.readWord(0xA0000024), 0x5000C500u);
    EXPECT_EQ(s.readWord(0xA0000030), 0x200u);
    EXPECT_EQ(s.readWord(0xA0000034), 0x80000000u);
    EXPECT_EQ(s.readWord(0xA000000C) & 0x8000u, 0x8000u); // the fetch leaves bit 15 as it was
    s.writeWord(0xA0000008, 0x800 | (3 * 8 + 5));
    s.writeWord(0xA000000C, 4);
    EXPECT_EQ(s.readWord(0xA0000030), 6u);
    s.writeWord(0xA0000008, 6); // an index without an entry loads zeros
    s.writeWord(0xA000000C, 4);
    EXPECT_EQ(s.readWord(0xA0000020) | s.readWord(0xA0000024) | s.readWord(0xA0000030), 0u);
}

// A phy block is the DISCOVER response from byte 8 on, its selector moved from bit 7 to bit 4 of word 1.
TEST(Topology, PhyBlockMirrorsTheDiscoverResponse) {
    Expander e(Family::Ostrel);
    e.setIdentity(0x5000CCAB0400B7F0ull, 0x220, 0);
    Topology& t = e.topology();
    t.present = true;
    t.phyCount = 11;
    PhyState& p = t.phys[2];
    p.deviceType = 1;
    p.sataDevice = true;
    p.sataPortSelector = true;
    p.attachedSasAddress = 0x5000C50000000044ull;
    p.negotiatedRate = 9;
    e.installTopology();
    const std::vector<uint8_t> r = e.discoverResponse(2);
    ASSERT_EQ(r.size(), kDiscoverResponseSize);
    EXPECT_EQ(r[15], 0x81); // selector (bit 7) and SATA device
    const uint32_t block = 0xC0040040u + (2u << 12);
    EXPECT_EQ(e.space().readWord(block + 4), 0x10090011u); // type 1, rate 9, selector bit 4, SATA device
    EXPECT_EQ(e.space().readWord(block + 8), 0x5000CCABu);
    EXPECT_EQ(e.space().readWord(block + 20), 0x00000044u);
    EXPECT_TRUE(e.discoverResponse(11).empty());
}

} // namespace
} // namespace zsim
