// In-band region operations through the real SCSI-generic layer under the simulated enclosure: flash
// transfers in 64 KiB chunks, descriptor-mode capacity, erase, reset control, memory access, the
// Ethernet field patch, and the end-to-end open through the core.
#include "tests/sas/ialSasFixture.h"

#include <cstdlib>
#include <cstring>
#include <numeric>

namespace {

constexpr uint64_t kOstrelAddress = 0x500605B00000A1C0ull;
constexpr uint64_t kQuenzaAddress = 0x5000CCAB0400B7F0ull;

const char* kTwoFamilies = R"(
device sg0 ostrel
    sas-address 500605B0:0000A1C0
    ip 192.168.10.20
    mask 255.255.255.0
    gateway 192.168.10.1
    mac 00:0A:F7:11:22:33
device sg1 quenza
    sas-address 5000CCAB:0400B7F0
    ip 10.20.30.40
    mask 255.255.0.0
    gateway 10.20.0.1
    mac 00:0A:F7:A0:B1:C2
)";

ZELKOR_REGION region(uint32_t kind, uint32_t id, uint32_t index = 0, uint32_t base = 0,
                     uint32_t descriptor = 0) {
    return ZELKOR_REGION{kind, id, index, base, 0x100000, descriptor, ZELKOR_FLASH_TYPE_UNKNOWN, 0};
}

ZELKOR_REGION window() {
    return region(ZELKOR_REGION_MEMORY, 0xC0);
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        out += two;
    }
    return out;
}

using RegionOps = SasModuleTest;

TEST_F(RegionOps, FlashDownloadGoesInChunksOf64KiBWithProgress) {
    sim::loadScenario(kTwoFamilies);
    openOn(kOstrelAddress);
    std::vector<uint8_t> image(150000);
    std::iota(image.begin(), image.end(), static_cast<uint8_t>(7));
    // A partition away from the flash header and table.
    ZELKOR_REGION firmware = region(ZELKOR_REGION_PARTITION, 0x85, 5, 0x14100000u);
    ASSERT_EQ(download(&firmware, 0x100, image.size(), nullptr, image.data()), 0u);
    EXPECT_EQ(cdbs(), (std::vector<std::string>{"3B028500010001000000", "3B028501010001000000",
                                                "3B02850201000049F000"}));
    EXPECT_EQ(sProgressEvents, 3);
    const auto commands = sim::commands();
    EXPECT_EQ(commands[2].bytes("out"), std::vector<uint8_t>(image.begin() + 0x20000, image.end()));

    // Read back through the same region, in chunks, without progress events.
    sim::clearTrace();
    std::vector<uint8_t> back(image.size(), 0xAA);
    ASSERT_EQ(upload(&firmware, 0x100, back.size(), nullptr, back.data()), 0u);
    EXPECT_EQ(back, image);
    EXPECT_EQ(cdbs(), (std::vector<std::string>{"3C028500010001000000", "3C028501010001000000",
                                                "3C02850201000049F000"}));
    EXPECT_EQ(sProgressEvents, 3);
}

TEST_F(RegionOps, FailedChunkEndsTheDownloadWithItsStatus) {
    sim::loadScenario(std::string(kTwoFamilies) + "    fault write-buffer:0x80 illegal-request skip=1\n");
    openOn(kQuenzaAddress);
    std::vector<uint8_t> image(0x30000, 0x5A);
    ZELKOR_REGION firmware = region(ZELKOR_REGION_PARTITION, 0x80);
    testing::internal::CaptureStdout();
    EXPECT_EQ(download(&firmware, 0, image.size(), nullptr, image.data()), 24u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(cdbs().size(), 2u);
    EXPECT_EQ(sProgressEvents, 1);
    EXPECT_TRUE(containsLine(log_->lines(),
                             "ERROR : zelkor_ial_SAS::zelkor_ial_downloadRegion : Writing to Flash "
                             "using 0x80 buffer Id at Offset 0x00010000 ***** FAILED *****"));
}

TEST_F(RegionOps, RegionIndex0xFFAsksTheHardwareModuleToProgram) {
    sim::loadScenario(kTwoFamilies);
    openOn(kOstrelAddress);
    uint8_t data[16] = {};
    ZELKOR_REGION flash = region(ZELKOR_REGION_FLASH, 0x00, 0xFF);
    testing::internal::CaptureStdout();
    EXPECT_EQ(download(&flash, 0, sizeof data, nullptr, data), 27u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " **** Invalid Download Region ID  ****");
    EXPECT_TRUE(cdbs().empty());
}

TEST_F(RegionOps, DescriptorModeReadGivesTheBufferCapacity) {
    sim::loadScenario(kTwoFamilies);
    openOn(kQuenzaAddress);
    ZELKOR_REGION designated = region(4, 0xE1, 0, 0, 1);
    uint8_t word[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(upload(&designated, 0, 4, nullptr, word), 0u);
    uint32_t capacity = 0;
    std::memcpy(&capacity, word, 4);
    EXPECT_EQ(capacity, 0x10000u);
    EXPECT_EQ(cdbs(), std::vector<std::string>{"3C03E100000000000400"});
}

TEST_F(RegionOps, EraseOf0xE2GoesTo0xEBAndChangesTheRegion) {
    sim::loadScenario(kTwoFamilies);
    openOn(kOstrelAddress);
    ZELKOR_REGION designated = region(5, 0xE2);
    ASSERT_EQ(erase(&designated), 0u);
    EXPECT_EQ(designated.regionId, 0xEBu);
    const auto commands = sim::commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].at("cdb"), "3B02EB00000000000C00");
    EXPECT_EQ(commands[0].at("out"), std::string(24, 'F'));
    EXPECT_EQ(sim::stateLines(sim::stateText(), "sg0", "erases"), std::vector<std::string>{"erases 0xE2"});
}

TEST_F(RegionOps, WholeFlashEraseWalksThePartitionsOfTheHandle) {
    sim::loadScenario(kTwoFamilies);
    openOn(kOstrelAddress);
    ZELKOR_REGION whole = region(ZELKOR_REGION_FLASH, 0x00);
    EXPECT_EQ(erase(&whole), 4u); // no partition in the handle's list
    ZELKOR_REGION_LIST nodes[3] = {{region(ZELKOR_REGION_MEMORY, 0xC0), nullptr},
                                   {region(ZELKOR_REGION_PARTITION, 0x85, 5), nullptr},
                                   {region(ZELKOR_REGION_PARTITION, 0x89, 9), nullptr}};
    nodes[0].next = &nodes[1];
    nodes[1].next = &nodes[2];
    handle_.regions = nodes;
    ASSERT_EQ(erase(&whole), 0u);
    handle_.regions = nullptr;
    EXPECT_EQ(cdbs(), (std::vector<std::string>{"3B028500000000000C00", "3B028900000000000C00"}));
    EXPECT_EQ(sim::stateLines(sim::stateText(), "sg0", "erases"),
              std::vector<std::string>{"erases 0x85 0x89"});
}

struct ResetCase {
    const char* label;
    uint64_t address;
    uint32_t target;
    const char* data;
    const char* resets;
};

class ResetControl : public SasModuleTest, public testing::WithParamInterface<ResetCase> {};

TEST_P(ResetControl, RegisterWriteBecomesAResetRequest) {
    const ResetCase& c = GetParam();
    sim::loadScenario(kTwoFamilies);
    openOn(c.address);
    ZELKOR_REGION memory = window();
    uint8_t value[4] = {0x48, 0x1F, 0xA9, 0x07}; // never sent
    ASSERT_EQ(download(&memory, c.target, 4, nullptr, value), 0u);
    const auto commands = sim::commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].at("cdb"), "3B01E900000000000300");
    EXPECT_EQ(commands[0].at("out"), c.data);
    const std::string device = c.address == kOstrelAddress ? "sg0" : "sg1";
    EXPECT_EQ(sim::stateLines(sim::stateText(), device, "resets"), std::vector<std::string>{c.resets});
}

INSTANTIATE_TEST_SUITE_P(
    Families, ResetControl,
    testing::Values(
        ResetCase{"OstrelChip", kOstrelAddress, 0xC0000200u, "000000", "resets chip=1 watchdog=0"},
        ResetCase{"OstrelWatchdog", kOstrelAddress, 0x40800000u, "010001", "resets chip=0 watchdog=1"},
        ResetCase{"QuenzaChip", kQuenzaAddress, 0xC3800200u, "000000", "resets chip=1 watchdog=0"},
        ResetCase{"QuenzaWatchdog", kQuenzaAddress, 0x42000000u, "010001", "resets chip=0 watchdog=1"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RegionOps, PlainMemoryAccessPerFamily) {
    sim::loadScenario(kTwoFamilies);
    ZELKOR_REGION memory = region(ZELKOR_REGION_MEMORY, 0xC0, 0, 0x40000000u);
    uint8_t value[4] = {0x11, 0x22, 0x33, 0x44};
    uint8_t back[4] = {};

    openOn(kOstrelAddress);
    ASSERT_EQ(download(&memory, 0x00900018u, 4, nullptr, value), 0u);
    ASSERT_EQ(upload(&memory, 0x00900018u, 4, nullptr, back), 0u);
    EXPECT_EQ(std::memcmp(back, value, 4), 0);
    EXPECT_EQ(cdbs(), (std::vector<std::string>{"3B01C240900018000400", "3C01C040900018000400"}));
    ASSERT_EQ(close(instance_), 0u);

    openOn(kQuenzaAddress);
    ASSERT_EQ(download(&memory, 0x02400018u, 4, nullptr, value), 0u);
    EXPECT_EQ(cdbs(), (std::vector<std::string>{"3B01C042400018000400"}));
    EXPECT_EQ(sim::stateLines(sim::stateText(), "sg1", "register 0x42400018"),
              std::vector<std::string>{"register 0x42400018 0x44332211 misc-control"});
}

TEST_F(RegionOps, MemoryAccessOnAType1ExpanderIsRefused) {
    sim::loadScenario("device sg0 ostrel\n sas-address 500605B0:0000A1C0\n product 0x213\n");
    openOn(kOstrelAddress);
    EXPECT_EQ(sas()->expander.type, 1u);
    ZELKOR_REGION memory = window();
    uint8_t word[4] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(download(&memory, 0x40900018u, 4, nullptr, word), 29u);
    EXPECT_EQ(upload(&memory, 0x40900018u, 4, nullptr, word), 29u);
    EXPECT_EQ(
        testing::internal::GetCapturedStdout(),
        "WARN: This functionality is not supported in PALXWARN: This functionality is not supported in PALX");
    EXPECT_TRUE(cdbs().empty());
}

TEST_F(RegionOps, ArgumentChecks) {
    sim::loadScenario(kTwoFamilies);
    openOn(kOstrelAddress);
    ZELKOR_REGION memory = window();
    uint8_t word[4] = {};
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(download(nullptr, 0, 4, nullptr, word), 5u);
    EXPECT_EQ(download(&memory, 0, 0, nullptr, word), 5u);
    EXPECT_EQ(download(&memory, 0, 4, file, word), 5u);
    EXPECT_EQ(upload(&memory, 0, 4, nullptr, nullptr), 5u);
    EXPECT_EQ(erase(nullptr), 5u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " ****Invalid Arguments for  IAL Download Region   ****"
                                                      " ****Invalid Arguments for  IAL Download Region   ****"
                                                      " ****Invalid Arguments for  IAL Download Region   ****"
                                                      " ****Invalid Arguments for  IAL Upload Region   ****"
                                                      " **** Invalid Arguments for  IAL Erase Region  ****");
    int notAnInstance = 0;
    auto upOp = op<IAL_TRANSFER_FUNCTION>("zelkor_ial_uploadRegion");
    auto eraseOp = op<IAL_ERASE_FUNCTION>("zelkor_ial_eraseRegion");
    EXPECT_EQ(upOp(&notAnInstance, &memory, 0, 4, nullptr, word), 4u);
    EXPECT_EQ(upOp(nullptr, &memory, 0, 4, nullptr, word), 4u);
    EXPECT_EQ(eraseOp(&notAnInstance, &memory), 4u);
    EXPECT_TRUE(cdbs().empty());
    std::fclose(file);
}

TEST_F(RegionOps, FileTransfers) {
    sim::loadScenario(kTwoFamilies);
    openOn(kOstrelAddress);
    ZELKOR_REGION designated = region(4, 0xE1);
    FILE* in = std::tmpfile();
    ASSERT_NE(in, nullptr);
    const std::string content = "firmware-bytes-0123456789";
    std::fputs(content.c_str(), in);
    // The whole file is read from its start, whatever the stream position.
    ASSERT_EQ(download(&designated, 0x10, content.size(), in, nullptr), 0u);
    EXPECT_EQ(sim::commands().at(0).at("out"), hex(std::vector<uint8_t>(content.begin(), content.end())));
    // Never more than the file holds.
    testing::internal::CaptureStdout();
    EXPECT_EQ(download(&designated, 0x10, content.size() + 1, in, nullptr), 5u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(sim::commands().size(), 1u);
    std::fclose(in);

    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(upload(&designated, 0x10, content.size(), out, nullptr), 0u);
    std::rewind(out);
    char back[64] = {};
    ASSERT_EQ(std::fread(back, 1, content.size(), out), content.size());
    EXPECT_EQ(std::string(back), content);
    std::fclose(out);

    // A stream that takes no bytes fails the upload.
    FILE* readOnly = std::fopen("/dev/null", "r");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(upload(&designated, 0x10, content.size(), readOnly, nullptr), 1u);
    std::fclose(readOnly);
}

// ---- transfers that do not cross whole ----

// Every case runs on the Quenza expander of kTwoFamilies (its block is the last, so the fault is its).
struct ShortTransferCase {
    const char* label;
    const char* fault;
    bool write;
    bool erase;
    ZELKOR_REGION region;
    uint32_t offset;
    uint32_t size;
    ZELKOR_STATUS status;
    size_t commandsSent;
    const char* logLine;
};

void PrintTo(const ShortTransferCase& c, std::ostream* os) {
    *os << c.label;
}

class ShortTransfer : public SasModuleTest, public testing::WithParamInterface<ShortTransferCase> {};

TEST_P(ShortTransfer, FailsTheOperation) {
    const ShortTransferCase& c = GetParam();
    std::string scenario = kTwoFamilies;
    if (c.fault[0] != '\0')
        scenario += std::string("    fault ") + c.fault + "\n";
    sim::loadScenario(scenario);
    openOn(kQuenzaAddress);
    ZELKOR_REGION region = c.region;
    std::vector<uint8_t> data(c.size, 0x5A);
    testing::internal::CaptureStdout();
    ZELKOR_STATUS status = 0;
    if (c.erase)
        status = erase(&region);
    else if (c.write)
        status = download(&region, c.offset, c.size, nullptr, data.data());
    else
        status = upload(&region, c.offset, c.size, nullptr, data.data());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(sim::commands().size(), c.commandsSent);
    EXPECT_TRUE(containsLine(log_->lines(), c.logLine)) << c.logLine;
    if (c.write && !c.erase && c.region.kind != ZELKOR_REGION_MEMORY) {
        EXPECT_EQ(sProgressEvents, static_cast<int>(c.commandsSent) - 1); // none for the short chunk
    }
}

INSTANTIATE_TEST_SUITE_P(
    Regions, ShortTransfer,
    testing::Values(
        ShortTransferCase{"UploadMemoryWord", "read-buffer:0xC0:0x42400018 short 2", false, false, window(),
                          0x42400018u, 4, 1, 1,
                          "ERROR : zelkor_ial_SAS::zelkor_ial_uploadRegion : Reading from Memory/Register "
                          "using 0xc2 buffer Id **** FAILED ****"},
        ShortTransferCase{"UploadFlashChunk", "read-buffer:0x80 short 100 skip=1", false, false,
                          region(ZELKOR_REGION_PARTITION, 0x80), 0, 0x30000, 1, 2,
                          "ERROR : zelkor_ial_SAS::zelkor_ial_uploadRegion : Reading from Flash using 0x80 "
                          "buffer Id at Offset 0x00010000 **** FAILED **** "},
        // The designated buffer holds 64 KiB: a read that runs past its end brings what there is.
        ShortTransferCase{"UploadPastTheEndOfABuffer", "", false, false, region(4, 0xE1), 0x100, 0x10000, 1,
                          1,
                          "ERROR : zelkor_ial_SAS::zelkor_ial_uploadRegion : Reading from Flash using 0xe1 "
                          "buffer Id at Offset 0x00000100 **** FAILED **** "},
        ShortTransferCase{"UploadDescriptor", "read-buffer:0xE1 short 2", false, false,
                          region(4, 0xE1, 0, 0, 1), 0, 4, 1, 1,
                          "ERROR : zelkor_ial_SAS::zelkor_ial_uploadRegion : Reading from Flash using 0xe1 "
                          "buffer Id at Offset 0x00000000 **** FAILED **** "},
        ShortTransferCase{"DownloadFlashChunk", "write-buffer:0x81 short 100 skip=1", true, false,
                          region(ZELKOR_REGION_PARTITION, 0x81), 0, 0x30000, 24, 2,
                          "ERROR : zelkor_ial_SAS::zelkor_ial_downloadRegion : Writing to Flash using 0x81 "
                          "buffer Id at Offset 0x00010000 ***** FAILED *****"},
        ShortTransferCase{"DownloadMemoryWord", "write-buffer:0xC0 short 2", true, false, window(),
                          0x42400018u, 4, 24, 1,
                          "ERROR : zelkor_ial_SAS::zelkor_ial_downloadRegion : Writing to Memory/Register "
                          "using 0xc2 buffer Id ***** FAILED *****"},
        ShortTransferCase{"DownloadEthernetPage", "write-buffer:0xE6 short 10", true, false, window(), 0xFF27,
                          0xE6, 24, 1,
                          "ERROR : zelkor_ial_SAS::zelkor_ial_downloadRegion : Writing to Memory/Register "
                          "using 0xe6 buffer Id ***** FAILED *****"},
        ShortTransferCase{"DownloadChipReset", "write-buffer:0xE9 short 1", true, false, window(),
                          0xC3800200u, 4, 24, 1,
                          "ERROR : zelkor_ial_SAS::zelkor_ial_downloadRegion : Writing to Memory/Register "
                          "using 0xe9 buffer Id ***** FAILED *****"},
        ShortTransferCase{"Erase", "write-buffer:0xE1 short 4", true, true, region(5, 0xE1), 0, 0, 24, 1,
                          "ERROR : zelkor_ial_SAS::zelkor_ial_eraseRegion : Write data using 0xe1 bufferId "
                          "**** FAILED ****"}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- the Ethernet field patch ----

struct PatchCase {
    const char* label;
    uint64_t address;
    uint16_t pageId;
    uint8_t selector;
    size_t firstByte; // page byte where the four bytes land; 0: none
};

class EthernetPatch : public SasModuleTest, public testing::WithParamInterface<PatchCase> {};

TEST_P(EthernetPatch, ChangesExactlyTheSelectedFieldAndWritesThePageWhole) {
    const PatchCase& c = GetParam();
    sim::loadScenario(kTwoFamilies);
    openOn(c.address);
    const std::vector<uint8_t> before(sas()->expander.ethernetPage,
                                      sas()->expander.ethernetPage + sas()->expander.ethernetPageLength);
    ASSERT_EQ(before.size(), 32u);
    handle_.fieldSelector = c.selector;
    ZELKOR_REGION memory = window();
    // Exactly four bytes of value on the heap: the module must not read past them.
    auto value = std::make_unique<uint8_t[]>(4);
    const uint8_t bytes[4] = {0xC0, 0xA8, 0x01, 0x63};
    std::memcpy(value.get(), bytes, 4);
    const uint32_t size = (static_cast<uint32_t>(c.selector) << 8) | 0xE6;
    ASSERT_EQ(download(&memory, c.pageId, size, nullptr, value.get()), 0u);

    std::vector<uint8_t> expected = before;
    if (c.firstByte != 0)
        std::memcpy(&expected[c.firstByte], bytes, 4);
    const auto commands = sim::commands();
    ASSERT_EQ(commands.size(), 1u);
    char cdb[32];
    std::snprintf(cdb, sizeof cdb, "3B01E6%04X0020000000", c.pageId);
    EXPECT_EQ(commands[0].at("cdb"), cdb);
    EXPECT_EQ(commands[0].bytes("out"), expected);
    EXPECT_EQ(std::vector<uint8_t>(sas()->expander.ethernetPage, sas()->expander.ethernetPage + 32),
              expected);
    EXPECT_EQ(sas()->expander.ethernetField, c.selector);
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "page 0x%04X ", c.pageId);
    const std::string device = c.address == kOstrelAddress ? "sg0" : "sg1";
    EXPECT_EQ(sim::stateLines(sim::stateText(), device, prefix),
              std::vector<std::string>{std::string(prefix) + hex(expected)});
}

INSTANTIATE_TEST_SUITE_P(Fields, EthernetPatch,
                         testing::Values(PatchCase{"OstrelIp", kOstrelAddress, 0xFF10, 0, 4},
                                         PatchCase{"OstrelMask", kOstrelAddress, 0xFF10, 1, 8},
                                         PatchCase{"OstrelGateway", kOstrelAddress, 0xFF10, 2, 12},
                                         PatchCase{"OstrelDhcp", kOstrelAddress, 0xFF10, 3, 28},
                                         PatchCase{"OstrelOtherSelector", kOstrelAddress, 0xFF10, 7, 0},
                                         PatchCase{"QuenzaIp", kQuenzaAddress, 0xFF27, 0, 4},
                                         PatchCase{"QuenzaGateway", kQuenzaAddress, 0xFF27, 2, 12},
                                         PatchCase{"QuenzaDhcp", kQuenzaAddress, 0xFF27, 3, 28}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(RegionOps, LongestCachedPageIsWrittenBackWhole) {
    // 254 bytes: the most the cache holds. Data after the DHCP word are the page's own and go back as read.
    std::vector<uint8_t> page(254, 0);
    const uint8_t head[] = {0xFE, 0x00, 0x10, 0xFF, 10, 1, 2, 3, 255, 255, 255, 0, 10, 1, 2, 1};
    std::memcpy(page.data(), head, sizeof head);
    for (size_t i = 32; i < page.size(); ++i)
        page[i] = static_cast<uint8_t>(i);
    sim::loadScenario("device sg0 ostrel\n sas-address 500605B0:0000A1C0\n page-raw 0xFF10 " + hex(page) +
                      "\n");
    openOn(kOstrelAddress);
    ASSERT_EQ(sas()->expander.ethernetPageLength, 254u);
    handle_.fieldSelector = 2;
    ZELKOR_REGION memory = window();
    uint8_t gateway[4] = {10, 1, 2, 254};
    ASSERT_EQ(download(&memory, 0xFF10, 0x2E6, nullptr, gateway), 0u);
    std::memcpy(&page[12], gateway, 4);
    const auto commands = sim::commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].at("cdb"), "3B01E6FF1000FE000000");
    EXPECT_EQ(commands[0].bytes("out"), page);
}

TEST_F(RegionOps, PageNotReadWholeIsNeverWrittenBack) {
    sim::loadScenario(std::string(kTwoFamilies) + "    fault read-buffer:0xE6:0xFF27 short 20 skip=1\n");
    openOn(kQuenzaAddress);
    EXPECT_EQ(sas()->expander.ethernetPageLength, 0u);
    ZELKOR_REGION memory = window();
    uint8_t value[4] = {10, 0, 0, 9};
    EXPECT_NE(download(&memory, 0xFF27, 0xE6, nullptr, value), 0u);
    EXPECT_TRUE(cdbs().empty());
}

TEST_F(RegionOps, FailedWriteBackLeavesThePatchedCache) {
    sim::loadScenario(std::string(kTwoFamilies) + "    fault write-buffer:0xE6 busy\n");
    openOn(kQuenzaAddress);
    ZELKOR_REGION memory = window();
    uint8_t value[4] = {10, 0, 0, 9};
    testing::internal::CaptureStdout();
    EXPECT_EQ(download(&memory, 0xFF27, 0xE6, nullptr, value), 24u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::memcmp(sas()->expander.ethernetPage + 4, value, 4), 0);
    EXPECT_TRUE(containsLine(log_->lines(), "ERROR : zelkor_ial_SAS::zelkor_ial_downloadRegion : Writing to "
                                            "Memory/Register using 0xe6 buffer Id ***** FAILED *****"));
}

// ---- through the core ----

void countEvents(int32_t, int32_t) {}

TEST_F(RegionOps, CoreOpenReachesTheHardwareModule) {
    sim::loadScenario(kTwoFamilies);
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* list = nullptr;
    // The in-band module selects the expander; the Quenza hardware module then reads the firmware header
    // and the flash table through it. Closing the handle releases the interface again.
    ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_SAS, kQuenzaAddress, &handle, countEvents, &list), 0u);
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(gPtrExpList, nullptr);
    EXPECT_EQ(gPtrExpList->expander.type, 4u);
    EXPECT_EQ(FIELD(gPtrExpList->expander, ipAddress), "10.20.30.40");
    ZELKOR_REGION_LIST* regions = nullptr;
    EXPECT_EQ(zelkor_getRegions(handle, &regions), 0u);
    EXPECT_NE(regions, nullptr);
    while (regions != nullptr) {
        ZELKOR_REGION_LIST* next = regions->next;
        std::free(regions);
        regions = next;
    }
    EXPECT_EQ(zelkor_close(handle), 0u);
    EXPECT_EQ(heldDevices(), 0);
    EXPECT_EQ(ll_getCount(gSasInstanceList), 0);
    EXPECT_TRUE(containsInOrder(
        log_->lines(),
        {"INFO : zelkor::zelkor_open : Opening GEN3 HAL Library",
         "INFO : zelkor_hal_GEN3::halPopulateRegionList : Reading 84 bytes at 0x00000000 offset",
         "INFO : zelkor_ial_SAS::zelkor_ial_uploadRegion : Reading from Flash using 0x80 buffer Id"}));
}

TEST_F(RegionOps, CoreOpenRetriesAnAddressThatIsNotAttached) {
    sim::loadScenario(kTwoFamilies);
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* list = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_open(ZELKOR_INTERFACE_SAS, 0x5000000000000001ull, &handle, countEvents, &list), 12u);
    EXPECT_EQ(
        testing::internal::GetCapturedStdout(),
        "\n SCSI device is not ENCLOSURE  type \n Sas address 5000000000000001 is not attached to the HOST "
        "machine **** FAILED ****");
    EXPECT_EQ(heldDevices(), 0);
}

} // namespace
