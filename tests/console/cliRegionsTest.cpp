// The command-line module's region operations against the console persona in virtual time: the command
// lines each request becomes (the wire table), the model's state afterwards, and the requests refused
// before anything is sent.
#include "tests/console/virtualLine.h"

#include "console/ConsolePersona.h"
#include "ial/cliRegions.h"
#include "osal/osalTime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::vector<uint8_t> pattern(uint32_t size, uint8_t seed = 1) {
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i * 17 + seed);
    return data;
}

std::vector<uint32_t> gSleeps;
void recordSleep(uint32_t milliseconds) { gSleeps.push_back(milliseconds); }

ZELKOR_REGION row(uint32_t kind, uint32_t id, uint32_t index = 0, uint32_t base = 0, uint32_t flag = 0) {
    return ZELKOR_REGION{kind, id, index, base, 0x03FFFFFF, flag, ZELKOR_FLASH_TYPE_UNKNOWN, 0};
}

const ZELKOR_REGION kMemory = row(ZELKOR_REGION_MEMORY, 0xC0);

// The console of one expander, a handle with its option block, and the module's target over them.
struct Module {
    explicit Module(zsim::Family family = zsim::Family::Quenza, uint32_t chipType = ZELKOR_CHIP_QUENZA)
        : expander(family), persona(expander), line(persona) {
        zsim::FirmwareHeader header;
        header.signature = expander.traits().signature;
        expander.writeFirmwareHeader(header);
        expander.writeFlashTable(header.flashTableOffset,
                                 {{0, 0x100000, 0}, {5, 0x100000, 0x100000}, {9, 0x80000, 0x200000}});
        handle.options = &options;
        record.type = chipType;
        previousSleep = osal_setSleepFunction(recordSleep);
        gSleeps.clear();
    }
    ~Module() { osal_setSleepFunction(previousSleep); }
    CliTarget target() {
        CliLink link{line, &handle};
        return CliTarget{link, &handle, record,
                         [this](uint32_t op, uint32_t address, uint32_t data, uint32_t* out) {
                             return cliRegisterAccess(CliLink{line, &handle}, op, address, data, out);
                         },
                         true};
    }
    Lines commands() const { return persona.commands(); }

    zsim::Expander expander;
    zsim::ConsolePersona persona;
    VirtualLine line;
    ZELKOR_SHARED_VARS options{};
    ZELKOR_INSTANCE handle{};
    ZELKOR_EXPANDER record{};
    OsalSleepFunction previousSleep = nullptr;
};

TEST(CliRegionWrites, MemoryWritesByLength) {
    struct Case {
        uint32_t size;
        size_t commands;
        std::string first;
        std::string last;
    };
    for (const Case& c : {Case{100, 25, "mw32 0x20000000 0x", "mw32 0x20000060 0x"},
                          Case{6, 3, "mw32 0x20000000 0x", "mw8 0x20000005 0x000000"},
                          Case{200, 2, "mul 20000000 00000256", "mdl 20000000"}}) {
        SCOPED_TRACE(c.size);
        Module m;
        CliTarget t = m.target();
        const std::vector<uint8_t> data = pattern(c.size);
        EXPECT_EQ(cliDownloadRegion(t, &kMemory, 0x20000000, c.size, nullptr, data.data()), 0u);
        const Lines lines = m.commands();
        ASSERT_EQ(lines.size(), c.commands);
        EXPECT_EQ(lines.front().rfind(c.first, 0), 0u) << lines.front();
        EXPECT_EQ(lines.back().rfind(c.last, 0), 0u) << lines.back();
        std::vector<uint8_t> stored;
        m.expander.readMemory(0x20000000, c.size, stored);
        EXPECT_EQ(stored, data);
    }
}

TEST(CliRegionWrites, WatchdogRegisterSendsOnlyTheResetCommand) {
    Module m;
    CliTarget t = m.target();
    const std::vector<uint8_t> word = {0xC0, 0xC6, 0x2D, 0x80};
    EXPECT_EQ(cliDownloadRegion(t, &kMemory, 0x42000000, 4, nullptr, word.data()), 0u);
    EXPECT_EQ(m.commands(), Lines{"reset watchdog"});
    EXPECT_EQ(m.line.written(), std::vector<uint8_t>({'r', 'e', 's', 'e', 't', ' ', 'w', 'a', 't', 'c', 'h', 'd',
                                                      'o', 'g', '\r'}));
}

TEST(CliRegionWrites, EraseTargetBeforeTheBufferWithNoMoreThanTheData) {
    Module m;
    CliTarget t = m.target();
    ASSERT_EQ(m.expander.writeBuffer(0xE2, 0, pattern(512, 9)), zsim::Outcome::Ok);
    const ZELKOR_REGION e2 = row(5, 0xE2);
    const std::vector<uint8_t> data = pattern(50, 3);
    EXPECT_EQ(cliDownloadRegion(t, &e2, 0, 50, nullptr, data.data()), 0u);
    EXPECT_EQ(m.commands(), (Lines{"fdl eb 00000000 y", "fdl e2 00000000 y"}));
    EXPECT_EQ(m.expander.erasedBuffers(), std::vector<uint8_t>{0xE2});
    std::vector<uint8_t> stored;
    m.expander.readBuffer(0xE2, 0, 50, stored);
    EXPECT_EQ(stored, data);
}

TEST(CliRegionWrites, FailedEraseTargetWriteStops) {
    Module m;
    m.persona.addFault(zsim::ConsoleFault{.command = "fdl", .kind = zsim::ConsoleFaultKind::Xmodem,
                                          .xmodem = zsim::XmodemPeerFault::CancelBlock});
    CliTarget t = m.target();
    const ZELKOR_REGION e2 = row(5, 0xE2);
    const std::vector<uint8_t> data = pattern(50);
    EXPECT_EQ(cliDownloadRegion(t, &e2, 0, 50, nullptr, data.data()), 1u);
    EXPECT_EQ(m.commands(), Lines{"fdl eb 00000000 y"});
}

TEST(CliRegionWrites, RefusedBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        ZELKOR_REGION region;
        uint32_t offset;
        uint32_t size;
        ZELKOR_STATUS status;
    };
    const std::vector<uint8_t> data = pattern(512);
    for (const Case& c : {Case{"indexFF", row(2, 0x81, 0xFF), 0, 16, 27},
                          Case{"sizeZero", row(2, 0x81, 1), 0, 0, 5},
                          // The Ethernet page id with the size code of the hardware module's setMorv.
                          Case{"ethernetSizeCode", kMemory, 0xFF27, 0xE6, 3}}) {
        SCOPED_TRACE(c.name);
        Module m;
        CliTarget t = m.target();
        EXPECT_EQ(cliDownloadRegion(t, &c.region, c.offset, c.size, nullptr, data.data()), c.status);
        EXPECT_TRUE(m.line.written().empty());
    }
}

TEST(CliRegionWrites, FileShorterThanTheSizeIsNotOverRead) {
    Module m;
    CliTarget t = m.target();
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::vector<uint8_t> data = pattern(100);
    std::fwrite(data.data(), 1, data.size(), file);
    const ZELKOR_REGION e3 = row(6, 0xE3);
    EXPECT_EQ(cliDownloadRegion(t, &e3, 0, 200, file, nullptr), 5u);
    EXPECT_TRUE(m.line.written().empty());
    EXPECT_EQ(cliDownloadRegion(t, &e3, 0, 100, file, nullptr), 0u);
    std::vector<uint8_t> stored;
    m.expander.readBuffer(0xE3, 0, 100, stored);
    EXPECT_EQ(stored, data);
    std::fclose(file);
}

TEST(CliRegionWrites, SwitchChipWaitsForItsPrompt) {
    Module m(zsim::Family::Ostrel, ZELKOR_CHIP_OSTREL_SWITCH);
    CliTarget t = m.target();
    const ZELKOR_REGION partition = row(2, 0x85, 5, 0x14100000);
    const std::vector<uint8_t> data = pattern(128);
    EXPECT_EQ(cliDownloadRegion(t, &partition, 0, 128, nullptr, data.data()), 0u);
    // The prompt probe's two carriage returns are empty command lines.
    EXPECT_EQ(m.commands(), (Lines{"fdl 85 00000000 y", "", ""}));
    EXPECT_EQ(gSleeps, std::vector<uint32_t>{100});
}

TEST(CliRegionReads, CommandByKind) {
    struct Case {
        const char* name;
        zsim::Family family;
        ZELKOR_REGION region;
        uint32_t offset;
        uint32_t size;
        std::string command;
    };
    for (const Case& c :
         {Case{"quenzaFirmwareHeader", zsim::Family::Quenza, row(2, 0x80, 0, 0x10000000), 0, 84, "ful 80 00000000 84"},
          Case{"ostrelWholeFlash", zsim::Family::Ostrel, row(1, 0x00, 0, 0x14000000), 0, 84, "mul 14000000 00000084"},
          Case{"memory", zsim::Family::Quenza, kMemory, 0xC380002C, 4, "mul c380002c 00000004"},
          Case{"page", zsim::Family::Quenza, row(12, 0xE6), 0xFF270200, 32, "ful e6 ff270200 32"},
          Case{"descriptor", zsim::Family::Quenza, row(3, 0xE1, 0, 0, 1), 0, 4, "buffsize e1"}}) {
        SCOPED_TRACE(c.name);
        Module m(c.family);
        m.expander.setEthernet(zsim::EthernetSettings{.ip = {10, 0, 0, 7}});
        CliTarget t = m.target();
        std::vector<uint8_t> buffer(c.size);
        EXPECT_EQ(cliUploadRegion(t, &c.region, c.offset, c.size, nullptr, buffer.data()), 0u);
        EXPECT_EQ(m.commands(), Lines{c.command});
        std::vector<uint8_t> expected;
        if (c.region.descriptorFlag == 1)
            expected = {0x00, 0x00, 0x01, 0x00}; // 64 KiB
        else if (c.region.kind == 12)
            m.expander.readPage(0xFF27, c.size, expected);
        else if (c.region.kind == 2)
            m.expander.readBuffer(0x80, c.offset, c.size, expected);
        else
            m.expander.readMemory(c.region.base + c.offset, c.size, expected);
        EXPECT_EQ(buffer, expected);
    }
}

TEST(CliRegionReads, FileReceivesDataOnlyOnSuccess) {
    Module m;
    m.persona.addFault(zsim::ConsoleFault{.command = "mul", .kind = zsim::ConsoleFaultKind::Xmodem,
                                          .xmodem = zsim::XmodemPeerFault::EarlyEot, .at = 2});
    CliTarget t = m.target();
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(cliUploadRegion(t, &kMemory, 0x20000000, 300, file, nullptr), 1u);
    EXPECT_EQ(std::ftell(file), 0L);
    std::fclose(file);
}

TEST(CliRegionErase, WholeFlashByCounterAndPartitionsByIndex) {
    Module m;
    m.options.regionCount = 2;
    CliTarget t = m.target();
    const ZELKOR_REGION flash = row(1, 0, 0, 0x10000000);
    EXPECT_EQ(cliEraseRegion(t, &flash), 0u);
    EXPECT_EQ(m.commands(), (Lines{"regerase 02", "regerase 01", "regerase 00"}));
    EXPECT_EQ(gSleeps, (std::vector<uint32_t>{5000, 5000, 5000}));
    EXPECT_EQ(m.expander.erasedBuffers(), (std::vector<uint8_t>{0x82, 0x81, 0x80}));

    const ZELKOR_REGION partition = row(2, 0x81, 1, 0x10100000);
    EXPECT_EQ(cliEraseRegion(t, &partition), 0u);
    EXPECT_EQ(m.commands().back(), "regerase 01");
}

TEST(CliRegionErase, RefusedKindsSendNothing) {
    struct Case {
        const char* name;
        ZELKOR_REGION region;
        int32_t counter;
        bool onConsole;
        ZELKOR_STATUS status;
    };
    for (const Case& c : {Case{"designated", row(5, 0xE2), 0, true, 5}, Case{"memory", kMemory, 0, true, 5},
                          Case{"counterBelowZero", row(1, 0), -1, true, 4},
                          Case{"indexFF", row(2, 0x81, 0xFF), 0, true, 27},
                          Case{"debugPortPath", row(2, 0x81, 1), 0, false, 27}}) {
        SCOPED_TRACE(c.name);
        Module m;
        m.options.regionCount = c.counter;
        CliTarget t = m.target();
        t.onConsole = c.onConsole;
        EXPECT_EQ(cliEraseRegion(t, &c.region), c.status);
        EXPECT_TRUE(m.line.written().empty());
    }
}

TEST(CliExpanders, SasAddressOfTheRecordsFamilyAndTheIpAddress) {
    struct Case {
        zsim::Family family;
        uint32_t type;
        uint32_t ipStatus;
        const char* ip;
        std::string firstRead;
    };
    for (const Case& c : {Case{zsim::Family::Quenza, ZELKOR_CHIP_QUENZA, 0, "10.1.2.3", "mr32 0xc0000048 1"},
                          Case{zsim::Family::Ostrel, ZELKOR_CHIP_OSTREL, 0, "10.1.2.3", "mr32 0xb0000048 1"},
                          Case{zsim::Family::Quenza, ZELKOR_CHIP_QUENZA_DAX, 0x40, "NotConfigured",
                               "mr32 0xc0000048 1"}}) {
        SCOPED_TRACE(c.type);
        Module m(c.family, c.type);
        m.expander.setIdentity(0x500605B00000A1C0ull, 0x230, 0);
        zsim::EthernetSettings settings;
        settings.ip = {10, 1, 2, 3};
        m.expander.setEthernet(settings);
        m.expander.space().writeWord(0x424000C0, c.ipStatus);
        CliTarget t = m.target();
        ZELKOR_EXPANDER_LIST* list = nullptr;
        ASSERT_EQ(cliGetExpanders(t, &list), 0u);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->expander.sasAddressHigh, 0x500605B0u);
        EXPECT_EQ(list->expander.sasAddressLow, 0x0000A1C0u);
        EXPECT_STREQ(list->expander.ipAddress, c.ip);
        EXPECT_EQ(list->next, nullptr);
        EXPECT_EQ(m.commands().front(), c.firstRead);
        std::free(list);
    }
}

} // namespace
