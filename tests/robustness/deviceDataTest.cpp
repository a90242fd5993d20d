// Whatever an expander answers, opening the library on it must end cleanly. Seeded enclosures carry random
// and adversarial device data: configuration pages whose length field and real size disagree, pages of
// another id, VPD pages whose inner lengths run past the page, firmware headers and flash tables with random
// offsets, sizes, ids and count bytes, and short, zero and refused transfers. For each one the library is
// opened on the expander's address and once without an address (as a listing does), its regions taken and
// the handle closed; the checks are those that hold for any device: a known status, terminated text
// fields, a cached Ethernet page that fits its cache, flash regions inside the flash and no write to the
// device other than the revision probe's. A failure names the seed and shows the scenario.
#include "dice.h"
#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"
#include "osal/osalTime.h"

#include "client/zsimClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

namespace sim = zsim::client;

constexpr uint64_t kAddress = 0x5000CCAB0400B7F0ull;
constexpr uint32_t kFlashBytes = 0x04000000u;
constexpr int kCasesPerFamily = 300;

struct Family {
    const char* kind;
    uint32_t seedBase;
    uint16_t ethernetPage;
    uint16_t macPage;   // 0: none
    uint32_t tableSize; // bytes of the flash table the hardware module reads
    std::vector<uint32_t> products;
};

const Family kOstrel{.kind = "ostrel",
                     .seedBase = 0x05710000u,
                     .ethernetPage = 0xFF10,
                     .macPage = 0,
                     .tableSize = 136,
                     .products = {0x220, 0x221, 0x223, 0x224, 0x225, 0x226, 0x227, 0x211, 0x213}};
const Family kQuenza{.kind = "quenza",
                     .seedBase = 0x0E3A0000u,
                     .ethernetPage = 0xFF27,
                     .macPage = 0xFE05,
                     .tableSize = 424,
                     .products = {0x230, 0x231, 0x233, 0x238, 0x23D, 0x240}};

void PrintTo(const Family& f, std::ostream* os) {
    *os << f.kind;
}

// ---- random scenario text ----

using robust::Dice;

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        text += two;
    }
    return text;
}

std::string number(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string faultKind(Dice& d) {
    switch (d.below(7)) {
    case 0:
        return "short " + std::to_string(d.pick({0, 1, 2, 3, 4, 5, 31, 32}, 300));
    case 1:
        return "zero";
    case 2:
        return "length " + number(d.pick({0, 1, 3, 4, 5, 32, 254, 255, 256, 0xFFFF}, 0xFFFF));
    case 3:
        return "illegal-request";
    case 4:
        return "unit-attention";
    case 5:
        return "busy";
    default:
        return "transport-error";
    }
}

std::string faultTail(Dice& d) {
    return " skip=" + std::to_string(d.below(3)) + (d.chance(30) ? " count=always" : "");
}

// A configuration page as the device returns it: a length field, an id and data that need not agree.
std::string pageKeys(Dice& d, uint16_t id, uint32_t dataSize) {
    const std::string at = number(id);
    switch (d.below(5)) {
    case 0:
        return "";
    case 1:
        return "    no-page " + at + "\n";
    case 2:
    case 3: {
        const uint32_t length = d.pick(
            {0, 1, 3, 4, 5, 4 + dataSize - 1, 4 + dataSize, 4 + dataSize + 1, 254, 255, 256, 0xFFFC, 0xFFFF},
            0xFFFF);
        const uint32_t present = std::min<uint32_t>(
            d.pick({0, 1, 2, 3, 4, 4 + dataSize, length, length - 1, length + 1}, 300), 600);
        std::vector<uint8_t> raw = d.bytes(present);
        const uint16_t pageId = d.chance(75) ? id : static_cast<uint16_t>(d.word());
        const uint8_t head[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                 static_cast<uint8_t>(pageId), static_cast<uint8_t>(pageId >> 8)};
        std::copy_n(head, std::min<size_t>(4, raw.size()), raw.begin());
        // Often a DHCP word of 0, so that the addresses of the page itself are taken.
        if (raw.size() >= 32 && d.chance(50))
            std::fill(raw.begin() + 28, raw.begin() + 32, 0);
        return "    page-raw " + at + " " + hex(raw) + "\n";
    }
    default:
        return "    fault read-buffer:0xE6:" + at + " " + faultKind(d) + faultTail(d) + "\n";
    }
}

// A VPD page reply with inner lengths that need not fit it.
std::string vpdKeys(Dice& d, uint8_t page, bool expander = true) {
    const std::string at = number(page);
    switch (d.below(4)) {
    case 0:
        return "";
    case 1: {
        std::vector<uint8_t> raw = d.bytes(d.pick({0, 1, 3, 4, 7, 8, 9, 23, 24, 255, 256}, 300));
        const uint32_t pageLength = d.pick({0, 1, 4, 15, 16, 20, 251, 252, 0xFFFF}, 0xFFFF);
        const uint32_t inner = d.pick({0, 1, 15, 16, 0xFF, 0xFFFF}, 0xFFFF);
        const uint8_t head[8] = {0x0D,
                                 page,
                                 static_cast<uint8_t>(pageLength >> 8),
                                 static_cast<uint8_t>(pageLength),
                                 0x01,
                                 static_cast<uint8_t>(d.word()),
                                 static_cast<uint8_t>(inner >> 8),
                                 static_cast<uint8_t>(inner)};
        std::copy_n(head, std::min<size_t>(8, raw.size()), raw.begin());
        // The address text, printable or not, NUL terminated or not.
        if (d.chance(50))
            for (size_t i = 8; i < raw.size(); ++i)
                raw[i] = static_cast<uint8_t>('0' + raw[i] % 10);
        return "    vpd " + at + " " + hex(raw) + "\n";
    }
    case 2:
        if (!expander)
            return "";
        return "    management-address " + std::string(d.below(40), '7') + "\n";
    default:
        return "    fault inquiry:" + at + " " + faultKind(d) + faultTail(d) + "\n";
    }
}

// Firmware header fields and a flash table of random entries at a random place.
std::string flashKeys(Dice& d, const Family& f) {
    std::string keys;
    switch (d.below(10)) {
    case 0:
        keys += "    firmware blank\n";
        break;
    case 1:
        keys += "    firmware " +
                number(d.chance(50) ? (f.macPage != 0 ? 0x7A3E91F4u : 0x5EA1D0C3u) : d.word()) + "," +
                number(d.word()) + "," + number(d.word()) + "\n";
        break;
    default:
        break;
    }
    const uint32_t tableOffset =
        d.chance(50) ? 0x100
                     : d.pick({0x100, 0, 4, 84, kFlashBytes - f.tableSize, kFlashBytes - f.tableSize + 1,
                               kFlashBytes - 4, kFlashBytes - 1, kFlashBytes, 0xFFFFFFFFu},
                              d.chance(50) ? 0x1000 : UINT32_MAX);
    if (tableOffset != 0x100)
        keys += "    flash-table-offset " + number(tableOffset) + "\n";
    for (const char* field : {"image-size", "image-length"})
        if (d.chance(20))
            keys += std::string("    ") + field + " " + number(d.word()) + "\n";
    // The identity word is also what tells a switch model apart.
    if (d.chance(30))
        keys += "    firmware-identity " + number(d.pick({200, 0x100C8, 201}, UINT32_MAX)) + "\n";
    if (d.chance(70) && tableOffset < kFlashBytes) {
        const uint32_t entries = d.pick({1, 2, 3, 11, 34, 35}, 40);
        std::vector<uint8_t> table(4 + 12 * entries, 0);
        table[0] = static_cast<uint8_t>(d.word());
        table[2] = static_cast<uint8_t>(d.chance(50) ? entries
                                                     : d.pick({0, 1, 3, 10, 11, 12, 34, 35, 36, 255}, 255));
        for (uint32_t i = 0; i < entries; ++i) {
            uint8_t* e = &table[4 + 12 * i];
            // Entry 0 is the firmware partition the expander is identified through: mostly left at offset 0.
            const bool firmware = i == 0 && d.chance(75);
            e[0] = static_cast<uint8_t>(d.pick({0, 1, 2, 3, 5, 9, 0x3F, 0x40, 0x41, 0x7F, 0xFF}, 255));
            const uint32_t size = firmware ? 0x100000
                                           : d.pick({0, 0x7FFFF, 0x80000, 0x100000, kFlashBytes - 1,
                                                     kFlashBytes, kFlashBytes + 1, 0xFFFFFFFFu},
                                                    UINT32_MAX);
            const uint32_t offset =
                firmware
                    ? 0
                    : d.pick({0, 0x100000, kFlashBytes - 0x80000, kFlashBytes - 1, kFlashBytes, 0xFFFFFFFFu},
                             UINT32_MAX);
            for (int k = 0; k < 4; ++k) {
                e[4 + k] = static_cast<uint8_t>(size >> (8 * k));
                e[8 + k] = static_cast<uint8_t>(offset >> (8 * k));
            }
        }
        // The simulator takes no bytes past the end of the flash.
        table.resize(std::min<size_t>(table.size(), kFlashBytes - tableOffset));
        keys += "    flash " + number(tableOffset) + " " + hex(table) + "\n";
    }
    if (d.chance(25)) {
        const char* buffers[] = {"0x00", "0x80", "0xE0"};
        keys += std::string("    fault read-buffer:") + buffers[d.below(3)] + " " + faultKind(d) +
                faultTail(d) + "\n";
    }
    return keys;
}

// Identity registers: product, revision (and the probe register of family Ostrel), IP status.
std::string registerKeys(Dice& d, const Family& f) {
    std::string keys;
    const uint32_t product =
        d.chance(85) ? f.products[d.below(static_cast<uint32_t>(f.products.size()))] : d.below(0x10000);
    keys += "    product " + number(product) + "\n";
    keys += "    revision " + number(d.pick({0, 1, 2, 3, 0xFF}, 255)) + "\n";
    if (f.macPage == 0 && d.chance(60))
        keys += "    register 0xC00000A0 " + number(d.word()) + " writable " +
                number(d.pick({0xFFFFFFFFu, 0xFFFFFF7Fu, 0xFFFFFF3Fu, 0}, UINT32_MAX)) + "\n";
    if (d.chance(50))
        keys += "    register 0x424000C0 " + number(d.chance(50) ? d.word() & ~0x40u : d.word()) + "\n";
    if (d.chance(40))
        keys += "    dhcp on\n";
    if (d.chance(30)) {
        const char* matches[] = {"read-buffer:0xC0", "read-buffer:0xC2", "write-buffer:0xC2",
                                 "read-buffer:0xE0", "read-buffer:0xE6", "read-buffer:0xE1"};
        keys += std::string("    fault ") + matches[d.below(6)] + " " + faultKind(d) + faultTail(d) + "\n";
    }
    return keys;
}

std::string generalFaults(Dice& d) {
    std::string keys;
    const char* matches[] = {"any", "read-buffer", "inquiry", "inquiry:std", "write-buffer"};
    for (uint32_t n = d.chance(30) ? 1 + d.below(2) : 0; n > 0; --n)
        keys += std::string("    fault ") + matches[d.below(5)] + " " + faultKind(d) +
                " skip=" + std::to_string(d.below(20)) + (d.chance(20) ? " count=always" : "") + "\n";
    return keys;
}

// The keys of one expander of the family.
std::string expanderKeys(Dice& d, const Family& f) {
    std::string text = registerKeys(d, f);
    text += pageKeys(d, 0xFF01, 24);
    text += pageKeys(d, f.ethernetPage, 28);
    if (f.macPage != 0)
        text += pageKeys(d, f.macPage, 8);
    if (d.chance(20))
        text += "    dhcp-address " + std::string(d.below(40), '9') + "\n";
    text += vpdKeys(d, 0x85);
    text += vpdKeys(d, 0x83);
    text += flashKeys(d, f);
    text += generalFaults(d);
    return text;
}

// The expander under test as sg0, now and then behind or ahead of another device that the scans meet too.
std::string randomScenario(const Family& f, uint32_t seed) {
    Dice d(seed);
    std::string text = std::string("device sg0 ") + f.kind + "\n    sas-address 5000CCAB:0400B7F0\n";
    text += expanderKeys(d, f);
    if (d.chance(30)) {
        std::string other;
        switch (d.below(4)) {
        case 0:
            other = "device sg1 ostrel\n" + expanderKeys(d, kOstrel);
            break;
        case 1:
            other = "device sg1 quenza\n" + expanderKeys(d, kQuenza);
            break;
        case 2:
            other = "device sg1 disk\n";
            break;
        default:
            other = "device sg1 enclosure\n" + vpdKeys(d, 0x83, false);
            break;
        }
        text = d.chance(50) ? text + other : other + text;
    }
    return text;
}

// ---- the checks ----

template <size_t N> bool terminated(const char (&field)[N]) {
    return std::memchr(field, '\0', N) != nullptr;
}

void expectRecordSound(const ZELKOR_EXPANDER& e, const char* whose) {
    SCOPED_TRACE(whose);
    EXPECT_TRUE(terminated(e.name));
    EXPECT_TRUE(terminated(e.revision));
    EXPECT_TRUE(terminated(e.macAddress));
    EXPECT_TRUE(terminated(e.ipAddress));
    EXPECT_TRUE(terminated(e.subnetMask));
    EXPECT_TRUE(terminated(e.gateway));
    EXPECT_LE(e.ethernetPageLength, sizeof e.ethernetPage);
}

// The revision probe of family Ostrel writes MISC_CONFIG_REG at most twice per identification of an Ostrel
// device (one read of its device-signature register each; the core retries a failed in-band open); an
// open sends no other write.
void expectNoWrites() {
    int probes = 0;
    int identifications = 0;
    for (const auto& c : sim::commands()) {
        const std::string& cdb = c.at("cdb");
        if (cdb == "3C01C0C000002C000400")
            ++identifications;
        if (cdb.rfind("3B", 0) != 0)
            continue;
        const bool probe = cdb == "3B01C2C00000A0000400";
        EXPECT_TRUE(probe) << "write during the open: " << cdb;
        // A write the device refused unexecuted (unit attention, busy) may be sent again.
        const auto status = c.fields.find("status");
        probes += probe && status != c.fields.end() && status->second == "0x00" ? 1 : 0;
    }
    EXPECT_LE(probes, 2 * identifications);
}

// The flash of the hardware module the chip type chose (an Ostrel device may identify as a type-1 model).
struct Flash {
    uint32_t base;
    uint32_t bytes;
};

Flash flashOf(uint32_t chipType) {
    switch (chipType) {
    case ZELKOR_CHIP_PALX:
        return {0x10000000u, 0x00200000u};
    case ZELKOR_CHIP_OSTREL:
    case ZELKOR_CHIP_OSTREL_SWITCH:
        return {0x14000000u, kFlashBytes};
    default:
        return {0x10000000u, kFlashBytes};
    }
}

void expectRegionsInsideFlash(const Flash& f, ZELKOR_INSTANCE* handle) {
    ZELKOR_REGION_LIST* list = nullptr;
    EXPECT_EQ(zelkor_getRegions(handle, &list), 0u);
    while (list != nullptr) {
        const ZELKOR_REGION& r = list->region;
        if (r.kind == ZELKOR_REGION_FLASH || r.kind == ZELKOR_REGION_PARTITION) {
            EXPECT_GE(r.base, f.base) << "region 0x" << std::hex << r.regionId;
            const uint64_t start = uint64_t{r.base} - f.base;
            EXPECT_LE(start + r.size, f.bytes)
                << "region 0x" << std::hex << r.regionId << " base 0x" << r.base << " size 0x" << r.size;
            // Region ids 0xC0 to 0xFF are the memory window's and the designated buffers'; only the
            // partition of entry id 0xFF lies beyond them (0x17F, index 0xFF: left to the hardware module).
            const bool selfProgrammed = r.regionId == 0x17F && r.index == 0xFF;
            EXPECT_TRUE(r.regionId < 0xC0u || selfProgrammed)
                << "a flash region aliasing a designated buffer: 0x" << std::hex << r.regionId;
        }
        ZELKOR_REGION_LIST* next = list->next;
        std::free(list);
        list = next;
    }
}

// A READ BUFFER descriptor of a designated buffer, read through the interface as a 4-byte descriptor-mode
// upload: whatever the device answers, a success hands out a 24-bit capacity.
void expectDescriptorSound(ZELKOR_INSTANCE* handle) {
    ZELKOR_REGION region{ZELKOR_REGION_DESIGNATED_FIRST + 1, 0xE1, 0, 0, 0, 1, ZELKOR_FLASH_TYPE_UNKNOWN, 0};
    uint8_t capacity[4] = {};
    testing::internal::CaptureStdout();
    const ZELKOR_STATUS status =
        handle->ialVectors.zelkor_ial_uploadRegion(handle->ialInstance, &region, 0, 4, nullptr, capacity);
    testing::internal::GetCapturedStdout();
    if (status == 0) {
        EXPECT_EQ(capacity[3], 0) << "descriptor capacity wider than its 24-bit field";
    }
}

class DeviceData : public testing::TestWithParam<Family> {
  protected:
    void SetUp() override {
        osal_setSleepFunction([](uint32_t) {});
        resetModule();
    }
    void TearDown() override {
        resetModule();
        gSharedVars.availWithoutAddress = 0;
        osal_setSleepFunction(nullptr);
    }

    // The in-band module keeps its expander list and counters for the process; every case starts afresh.
    static void resetModule() {
        while (gPtrExpList != nullptr) {
            ZELKOR_EXPANDER_LIST* next = gPtrExpList->next;
            std::free(gPtrExpList);
            gPtrExpList = next;
        }
        gExpanderType = 0xFF;
        gFillIpAddrFlag = 0;
        gFlagDeviceErrorDisplayOpen = 0;
        gFlagDeviceErrorDisplayList = 0;
    }

    // Opens (on the address, or without one as a listing does), checks and closes; the handle's status.
    static ZELKOR_STATUS openAndCheck(bool withAddress) {
        SCOPED_TRACE(withAddress ? "open on the address" : "open without an address");
        resetModule();
        sim::clearTrace();
        gSharedVars.availWithoutAddress = withAddress ? 0 : 1;
        ZELKOR_INSTANCE* handle = nullptr;
        ZELKOR_EXPANDER_LIST* expanders = nullptr;
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = zelkor_open(
            ZELKOR_INTERFACE_SAS, withAddress ? kAddress : 0, &handle, [](int32_t, int32_t) {}, &expanders);
        testing::internal::GetCapturedStdout();
        gSharedVars.availWithoutAddress = 0;

        static const std::set<ZELKOR_STATUS> kOpenStatuses{0, 12, 13, 18, 19, 26, 32};
        EXPECT_TRUE(kOpenStatuses.count(status) == 1) << "status " << status;
        const bool open = status == 0 || status == 26 || status == 32;
        EXPECT_EQ(handle != nullptr, open) << "status " << status;
        for (const ZELKOR_EXPANDER_LIST* node = expanders; open && node != nullptr; node = node->next)
            expectRecordSound(node->expander, "listed record");
        if (handle != nullptr) {
            if (const auto* inst = static_cast<const SAS_INSTANCE*>(handle->ialInstance))
                expectRecordSound(inst->expander, "working record");
            expectRegionsInsideFlash(flashOf(expanders != nullptr ? expanders->expander.type : 0), handle);
            expectDescriptorSound(handle);
        }
        expectNoWrites();
        if (handle != nullptr) {
            testing::internal::CaptureStdout();
            EXPECT_EQ(zelkor_close(handle), 0u);
            testing::internal::GetCapturedStdout();
        }
        return status;
    }
};

TEST_P(DeviceData, OpenSurvivesAnyDeviceData) {
    const Family& f = GetParam();
    int opened = 0;
    for (int i = 0; i < kCasesPerFamily && !HasFailure(); ++i) {
        const uint32_t seed = f.seedBase + static_cast<uint32_t>(i);
        const std::string scenario = randomScenario(f, seed);
        SCOPED_TRACE("seed " + number(seed) + ", scenario:\n" + scenario);
        ASSERT_NO_THROW(sim::loadScenario(scenario));
        opened += openAndCheck(true) == 0 ? 1 : 0;
        openAndCheck(false);
    }
    // The cases must reach the hardware open, not stop at identification.
    EXPECT_GT(opened, kCasesPerFamily / 10);
}

INSTANTIATE_TEST_SUITE_P(Families, DeviceData, testing::Values(kOstrel, kQuenza),
                         [](const auto& info) { return std::string(info.param.kind); });

// ---- the Ethernet write-back ----

// Family Quenza with a random Ethernet page (length field, data, DHCP word), sometimes one the cache cannot
// hold or the device cuts short, and a write-back fault now and then. A setting goes back as one WRITE
// BUFFER of the page as it was read, only the selected field's four bytes changed; a page that was never
// cached whole, or a selector that names no field, sends nothing.
class EthernetWriteBack : public DeviceData {};

std::string hex4(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

TEST_F(EthernetWriteBack, OnlyTheSelectedFieldChanges) {
    constexpr uint32_t kSeedBase = 0x5E7B0000u;
    constexpr uint32_t kFieldAt[] = {4, 8, 12, 28};
    int written = 0;
    for (int i = 0; i < 150 && !HasFailure(); ++i) {
        const uint32_t seed = kSeedBase + static_cast<uint32_t>(i);
        Dice d(seed);
        const uint32_t length = d.pick({32, 33, 36, 254, 255, 31, 0}, 254);
        const uint32_t present =
            d.chance(85) || length == 0 ? length : d.pick({length - 1, length + 1, 4}, length);
        std::vector<uint8_t> raw = d.bytes(std::max<uint32_t>(present, 4));
        raw[0] = static_cast<uint8_t>(length);
        raw[1] = static_cast<uint8_t>(length >> 8);
        raw[2] = 0x27;
        raw[3] = 0xFF;
        if (raw.size() >= 32 && d.chance(60))
            std::fill(raw.begin() + 28, raw.begin() + 32, 0);
        std::string scenario =
            "device sg0 quenza\n    sas-address 5000CCAB:0400B7F0\n    page-raw 0xFF27 " + hex(raw) + "\n";
        const bool writeFault = d.chance(15);
        if (writeFault)
            scenario += "    fault write-buffer:0xE6 " +
                        std::string(d.chance(50) ? "zero" : "illegal-request") + "\n";
        SCOPED_TRACE("seed " + number(seed) + ", scenario:\n" + scenario);
        ASSERT_NO_THROW(sim::loadScenario(scenario));
        const bool cached = length >= 32 && length < 255 && raw.size() >= length;

        resetModule();
        ZELKOR_INSTANCE* handle = nullptr;
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS opened = zelkor_open(
            ZELKOR_INTERFACE_SAS, kAddress, &handle, [](int32_t, int32_t) {}, nullptr);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(opened, 0u);

        const uint8_t selector = static_cast<uint8_t>(d.below(6));
        const std::vector<uint8_t> value = d.bytes(4);
        std::vector<uint8_t> argument = value;
        sim::clearTrace();
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = zelkor_setMorv(handle, argument.data(), selector);
        testing::internal::GetCapturedStdout();

        std::vector<zsim::client::TraceEntry> writes;
        for (const auto& c : sim::commands())
            if (c.at("cdb").rfind("3B", 0) == 0)
                writes.push_back(c);
        if (selector > 3 || !cached) {
            EXPECT_NE(status, 0u) << "selector " << int{selector};
            EXPECT_TRUE(writes.empty()) << writes.front().at("cdb");
        } else {
            ASSERT_EQ(writes.size(), 1u);
            EXPECT_EQ(writes[0].at("cdb"), "3B01E6FF27" + hex4(length) + "000000");
            std::vector<uint8_t> expected(raw.begin(), raw.begin() + length);
            std::copy(value.begin(), value.end(), expected.begin() + kFieldAt[selector]);
            EXPECT_EQ(writes[0].bytes("out"), expected) << "selector " << int{selector};
            EXPECT_EQ(status == 0, !writeFault) << "status " << status;
            written += 1;
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(zelkor_close(handle), 0u);
        testing::internal::GetCapturedStdout();
    }
    EXPECT_GT(written, 30);
}

} // namespace
