// Memory, region, trace and log routines in-process against the real library and the simulated enclosure
// (in-band): what they print, the SCSI commands they send and what the expander holds afterwards.
#include "tests/frontend_periphery/testBytes.h"
#include "tests/frontend_periphery/frontSimFixture.h"
#include "tests/frontend_periphery/traceBuffers.h"

#include "frontend/messages.h"
#include "frontend/regions.h"
#include "frontend/trace.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kQuenzaAddress = 0x5000CCAB0400B7F0;

const std::string kQuenza = "device sg0 quenza\n"
                            "    sas-address 5000CCAB:0400B7F0\n"
                            "    product 0x233\n"
                            "    partition 0 0x000000 0x200000\n"
                            "    partition 4 0x200000 0x080000\n"
                            "    partition 6 0x280000 0x000100\n";

class FrontRegions : public FrontSimTest {
  protected:
    void SetUp() override {
        FrontSimTest::SetUp();
        displayCount = 0;
    }
};

TEST_F(FrontRegions, GetMemoryShowsEachDwordWithItsCharacters) {
    openInband(kQuenza + "    memory 0x20001000 41422080 7F213031 11223344\n", kQuenzaAddress);
    uint32_t status = 1;
    std::string out = run([&] { status = getMemory("0x20001000", "3"); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, "0x20001000: 0x80204241\t\tBA\n"
                   "0x20001004: 0x3130217F\t\t10!\x7F\n"
                   "0x20001008: 0x44332211\t\tD3\"\n");
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_EQ(commands()[0].substr(0, 18), "3C01C020001000000C");

    // The debug serial port reads whole dwords: from 0x20001000, one more, shown from the address asked.
    gClParser.interfaceKind = 1;
    out = run([&] { status = getMemory("20001002", "2"); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, "0x20001002: 0x217F8020\t\t!\x7F\n0x20001006: 0x22113130\t\t\"10\n");
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_EQ(commands()[0].substr(6, 12), "20001000000C");
}

TEST_F(FrontRegions, GetMemoryRefusesBeforeAnyCommand) {
    openInband(kQuenza, kQuenzaAddress);
    struct Case {
        const char* address;
        const char* count;
        uint32_t status;
        std::string out;
    };
    const std::vector<Case> cases{
        {"0x1000", "0", 5, "Number of data bytes to be read cannot be 0.\n"},
        {"0x10g0", nullptr, 5, "Invalid memory address -- \"0x10g0\"\n"},
        {"", nullptr, 5, "Invalid memory address -- \"\"\n"},
        {"0x1000", "0x", 5, "Invalid number of dwords -- \"0x\"\n"},
        {"0xFFFFFFFC", "2", 5, "Memory range is beyond the address space.\n"},
        {"0x0", "0x40000000", 5, "Memory range is beyond the address space.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        uint32_t status = 0;
        const std::string out = run([&] { status = getMemory(c.address, c.count); });
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(out, c.out);
        EXPECT_TRUE(commands().empty());
    }
    // The last dword of the address space is within it.
    uint32_t status = 1;
    run([&] { status = getMemory("0xFFFFFFFC", nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(commands().size(), 1u);
}

TEST_F(FrontRegions, UploadDownloadAndEraseAPartition) {
    openInband(kQuenza + "    flash 0x280000 0102030405060708\n", kQuenzaAddress);
    // Upload two dwords from offset 4 of partition 2 (table entry 6, 256 bytes) into a file.
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    uint32_t status = 1;
    run([&] { status = uploadRegion(4, 2, 1, 2, out); });
    EXPECT_EQ(status, 0u);
    std::rewind(out);
    uint8_t read[8] = {};
    EXPECT_EQ(std::fread(read, 1, sizeof read, out), 4u);
    EXPECT_EQ(hex({read, read + 4}), "05060708");
    std::fclose(out);

    // Download a file of 8 bytes at offset 0x10, then erase.
    FILE* in = std::tmpfile();
    ASSERT_NE(in, nullptr);
    const uint8_t image[8] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
    std::fwrite(image, 1, sizeof image, in);
    std::rewind(in);
    std::string shown = run([&] { status = downloadRegion(0x10, 2, 2, in); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(shown, "Downloading File.");
    ASSERT_FALSE(commands().empty());
    EXPECT_EQ(commands().back().substr(commands().back().size() - 16), "A0A1A2A3A4A5A6A7");
    std::fclose(in);
    std::string flash;
    for (const std::string& line : state("sg0", "flash 0x0028"))
        flash += line + "\n";
    EXPECT_EQ(flash, "flash 0x00280000 0102030405060708\nflash 0x00280010 A0A1A2A3A4A5A6A7\n");

    shown = run([&] { status = eraseRegion(2, 2); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(shown, "Erasing Region.");
    EXPECT_FALSE(commands().empty());
    EXPECT_TRUE(state("sg0", "flash 0x0028").empty()) << "the partition is erased";
}

TEST_F(FrontRegions, RangesOutsideTheRegionAreRefusedBeforeAnyCommand) {
    openInband(kQuenza, kQuenzaAddress);
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::vector<uint8_t> bytes(16, 0x5A);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    struct Case {
        const char* label;
        uint32_t (*call)(FILE*);
        uint32_t status;
    };
    const std::vector<Case> cases{
        {"download behind the end", [](FILE* f) { return downloadRegion(0xF8, 2, 2, f); }, 43},
        {"download offset near 4 GiB", [](FILE* f) { return downloadRegion(0xFFFFFFF8, 2, 2, f); }, 43},
        {"upload at the size", [](FILE* f) { return uploadRegion(0x100, 2, 0, 2, f); }, 5},
        {"upload past the end", [](FILE* f) { return uploadRegion(0xFC, 2, 2, 2, f); }, 5},
        {"upload count that wraps", [](FILE* f) { return uploadRegion(0, 2, 0x40000001, 2, f); }, 5},
        {"no file", [](FILE*) { return uploadRegion(0, 2, 1, 2, nullptr); }, 5},
        {"no such partition", [](FILE* f) { return downloadRegion(0, 9, 2, f); }, 1},
        {"erase no such partition", [](FILE*) { return eraseRegion(2, 9); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        uint32_t status = 0;
        run([&] { status = c.call(file); });
        EXPECT_EQ(status, c.status);
        EXPECT_TRUE(commands().empty());
    }
    std::fclose(file);
}

TEST_F(FrontRegions, RamDebugNeedsTheDebugPortAndSendsNothing) {
    openInband(kQuenza, kQuenzaAddress);
    uint32_t status = 0;
    const std::string out = run([&] { status = downloadRamdebug(0, nullptr, 0); });
    EXPECT_EQ(status, 2u);
    EXPECT_EQ(out, "\nFunction is not applicable.\n");
    EXPECT_TRUE(commands().empty());
}

TEST_F(FrontRegions, SmartCliWritesTheMiscControlRegister) {
    openInband(kQuenza + "    register 0x42400018 0x00000100\n", kQuenzaAddress);
    uint32_t status = 1;
    const std::string out = run([&] { status = setSmartCli(); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, "");
    const std::vector<std::string> sent = commands();
    ASSERT_FALSE(sent.empty());
    // The last command writes the register.
    EXPECT_EQ(sent.back().substr(0, 14), "3B01C042400018");
    const std::vector<std::string> reg = state("sg0", "register 0x42400018");
    ASSERT_EQ(reg.size(), 1u);
    EXPECT_EQ(reg[0], "register 0x42400018 0x00000400 misc-control");
}

// ---- trace and log ----

std::string bufferLines(uint8_t id, const std::vector<uint8_t>& bytes, uint32_t size) {
    char head[64];
    std::snprintf(head, sizeof head, "    buffer-size 0x%02X %u\n", id, size);
    return std::string(head) + std::string("    buffer 0x") + hex({id}) + std::string(" 0 ") + hex(bytes) + "\n";
}

TEST_F(FrontRegions, TraceIsReadAtTheSizeItsBufferReportsAndDecoded) {
    TraceBuffer t;
    t.strings[2] = {"s0", "s1", "s2", "s3", "s4", "phy %d rate %x", "name %s"};
    t.entries = {{5, 2, {3, 0xA}}, {6, 2, {0x1234}}};
    const std::vector<uint8_t> bytes = t.build();
    openInband(kQuenza + bufferLines(0xE7, bytes, static_cast<uint32_t>(bytes.size())), kQuenzaAddress);
    uint32_t status = 1;
    const std::string out = run([&] { status = getTrace(); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, "phy 3 rate a\nname 0x1234\n");
    const std::vector<std::string> sent = commands();
    ASSERT_EQ(sent.size(), 2u);
    // The descriptor first (mode 3, four bytes), then the whole buffer.
    EXPECT_EQ(sent[0], std::string("3C03E7000000000004") + std::string("00"));
    char whole[32];
    std::snprintf(whole, sizeof whole, "3C02E7000000%06zX00", bytes.size());
    EXPECT_EQ(sent[1], whole);
    // The region's flag is back to plain reads.
    for (ZELKOR_REGION_LIST* n = gInstance.regionList; n != nullptr; n = n->next)
        EXPECT_EQ(n->region.descriptorFlag, 0u);
}

TEST_F(FrontRegions, TraceOfAnErasedBufferIsRefused) {
    openInband(kQuenza, kQuenzaAddress);
    uint32_t status = 0;
    const std::string out = run([&] { status = getTrace(); });
    EXPECT_EQ(status, TRACE_STATUS_UNDECODABLE);
    EXPECT_EQ(out, "**** ERROR **** Trace length is past the buffer\n");
}

TEST_F(FrontRegions, EventLogAndTextLog) {
    std::vector<uint8_t> log(64, 0);
    log[0] = 0x10;
    log[16] = 0x2A;
    log[24] = 'O', log[25] = 'K';
    std::vector<uint8_t> withEnd = log;
    withEnd.resize(128, 0);
    const std::string text = "boot 100% ok\n";
    std::vector<uint8_t> textBytes(text.begin(), text.end());
    openInband(kQuenza + bufferLines(0xE5, withEnd, 128) +
                   bufferLines(0xEA, textBytes, static_cast<uint32_t>(textBytes.size())),
               kQuenzaAddress);
    uint32_t status = 1;
    std::string out = run([&] { status = getLog(nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out.rfind("Decoding the Log          Time Stamp: 0x0000000000000010\n", 0), 0u) << out;
    // One entry: the second is all zero and ends the log.
    EXPECT_EQ(out.find("Time Stamp", 30), std::string::npos);
    EXPECT_NE(out.find("           Log Code: 0x0000002a\n"), std::string::npos);
    // The first data word shows all four of its bytes, zeros included.
    EXPECT_NE(out.find(std::string("  Log Specific Data: 0x00004B4F\t OK\0\0\n", 38)), std::string::npos);
    ASSERT_EQ(commands().size(), 2u);
    EXPECT_EQ(commands()[1].substr(0, 6), "3C02E5");

    out = run([&] { status = getLog("text"); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, text);
    ASSERT_EQ(commands().size(), 2u);
    EXPECT_EQ(commands()[0].substr(0, 6), "3C03EA");
}

TEST_F(FrontRegions, OfflineLogFile) {
    openInband(kQuenza, kQuenzaAddress);
    gClParser.interfaceKind = 8;
    const std::string path = testing::TempDir() + "morvane_offline_log";
    std::snprintf(gClParser.addressText, sizeof gClParser.addressText, "%s", path.c_str());
    std::remove(path.c_str());
    uint32_t status = 0;
    std::string out = run([&] { status = getLog(nullptr); });
    EXPECT_EQ(status, 0x1028u);
    EXPECT_EQ(out, "File \"" + path + "\" not found.\n");

    { FILE* f = std::fopen(path.c_str(), "wb"); ASSERT_NE(f, nullptr); std::fclose(f); }
    out = run([&] { status = getLog(nullptr); });
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(out, "No valid log entry found in the file.");

    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::vector<uint8_t> zero(64, 0);
        std::fwrite(zero.data(), 1, zero.size(), f);
        std::fclose(f);
    }
    out = run([&] { status = getLog(nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, "No valid log entry found in the file.");
    EXPECT_TRUE(commands().empty());
    std::remove(path.c_str());
}

} // namespace
