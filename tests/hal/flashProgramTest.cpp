// Erase and download through the flash engine, each judged by the final image of the flash: the range holds
// what the operation put there (0xFF or the data), every other byte its old pattern.
#include "tests/hal/flashFixture.h"

#include <gmock/gmock.h>

namespace {

uint8_t sProgressByte = 0;

enum class Op { Erase, Download, WholeChip };

struct ProgramCase {
    const char* name;
    std::vector<std::pair<std::string, uint32_t>> parts;
    uint32_t bus;
    Op op;
    uint32_t offset;
    uint32_t size;
    ZELKOR_STATUS status;
    // Bytes the operation changes: [first, end); erased for an erase, data from `offset` for a download.
    uint32_t first;
    uint32_t end;
    int ticks;
    int sleeps500; // 500 ms waits
    std::string printed;
    bool dataErasesRest = false; // whole chip: every byte outside the data is erased
};

constexpr uint32_t kFlashBytes = 0x120000;

class FlashProgram : public FlashTest, public testing::WithParamInterface<ProgramCase> {};

TEST_P(FlashProgram, ChangesTheRangeAndKeepsTheRest) {
    const ProgramCase& c = GetParam();
    parts(c.parts, c.bus);
    fill(kFlashBytes);
    std::vector<uint8_t> data(c.size > 0x400000 ? 0 : c.size);
    for (uint32_t i = 0; i < data.size(); ++i)
        data[i] = datum(i);
    ZELKOR_STATUS status = 0;
    const std::string out = printed([&] {
        if (c.op == Op::Erase)
            status = flash_performErasing(&handle_, kOstrelWindow, c.offset, c.size, kAvail);
        else
            status = flash_performDownloading(&handle_, kOstrelWindow, c.offset, c.size, data.data(), kAvail,
                                              c.op == Op::WholeChip ? 1 : 0);
    });
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(out, c.printed);
    EXPECT_EQ(sProgress, c.ticks);
    EXPECT_EQ(std::count(sSleeps.begin(), sSleeps.end(), 500u), c.sleeps500);
    EXPECT_EQ(sSleeps.size(), static_cast<size_t>(c.sleeps500));
    EXPECT_EQ(gOperationStarted, 0);
    for (auto& chip : gModel.expander->norBank().chips())
        EXPECT_EQ(chip->modeName(), "read-array");
    // No transfer of the engine carries more than 32 KiB.
    for (const InterfaceCall& call : gModel.calls)
        ASSERT_LE(call.size, 0x8000u);

    const std::vector<uint8_t> got = image(kFlashBytes);
    uint32_t wrong = 0;
    uint32_t firstWrong = 0;
    for (uint32_t i = 0; i < kFlashBytes; ++i) {
        uint8_t want = pattern(i);
        if (i >= c.first && i < c.end)
            want = c.op == Op::Erase ? 0xFF : datum(i - c.offset);
        else if (c.dataErasesRest && i < 0x100000)
            want = 0xFF;
        if (got[i] != want && wrong++ == 0)
            firstWrong = i;
    }
    EXPECT_EQ(wrong, 0u) << "first wrong byte at 0x" << std::hex << firstWrong;
}

using P = std::vector<std::pair<std::string, uint32_t>>;
const P kAmd{{"amd-x16-byte", 0}};
const P kAmdWord{{"amd-x16-word", 0}};
const P kBoot{{"amd-bootblock-byte", 0}};
const P kIntel{{"intel-0003-byte", 0}};
const P kTwo{{"amd-x16-byte", 0}, {"intel-0003-byte", 0x100000}};
const P kNonCfiAmd{{"noncfi-amd-5b", 0}};
const P kNonCfiIntel{{"noncfi-intel-a6", 0}};
constexpr uint32_t k16 = 0x20000000;

INSTANTIATE_TEST_SUITE_P(
    Cases, FlashProgram,
    testing::Values(
        // One whole block: state 11 and 25 ticks.
        ProgramCase{"EraseOneBlock", kAmd, 0, Op::Erase, 0x10000, 0x10000, 0, 0x10000, 0x20000, 25, 0, ""},
        // One byte short of the block end erases the block whole.
        ProgramCase{"EraseBlockLessOne", kAmd, 0, Op::Erase, 0x20000, 0xFFFF, 0, 0x20000, 0x30000, 25, 0, ""},
        // Two bytes short: the block is erased and its last two bytes programmed back.
        ProgramCase{"EraseBlockLessTwo", kAmd, 0, Op::Erase, 0x20000, 0xFFFE, 0, 0x20000, 0x2FFFE, 0, 0, ""},
        // From inside a block across its end: the first 0x100 bytes come back, the next block keeps its tail.
        ProgramCase{"EraseAcrossABlockEnd", kAmd, 0, Op::Erase, 0x100, 0x10000, 0, 0x100, 0x10100, 32, 0, ""},
        ProgramCase{"EraseInsideOneBlock", kAmd, 0, Op::Erase, 0x30010, 0x20, 0, 0x30010, 0x30030, 7, 0, ""},
        ProgramCase{"EraseWholePart", kAmd, 0, Op::Erase, 0, kAvail, 0, 0, 0x100000, 0, 0, ""},
        // A range that reaches the end of the flash but starts later keeps what lies before it.
        ProgramCase{"EraseToTheEndFromLater", kAmd, 0, Op::Erase, 0x10000, kAvail, 0, 0x10000, 0x100000, 25,
                    0, ""},
        ProgramCase{"EraseBeyondTheFlash", kAmd, 0, Op::Erase, 0x100000, 0x10000, 1, 0, 0, 0, 0,
                    "\n\nERROR: Erase size of 0x10000 is greater than available flash of 0x100000 size\n"},
        // Eight 8 KiB blocks, then into the 64 KiB region.
        ProgramCase{"EraseAcrossRegions", kBoot, 0, Op::Erase, 0, 0x12000, 0, 0, 0x12000, 30, 0, ""},
        ProgramCase{"EraseAcrossTwoParts", kTwo, 0, Op::Erase, 0xF0000, 0x20000, 0, 0xF0000, 0x110000, 25, 0,
                    ""},
        // Parts without CFI are driven with the command set their maker's codes stand for.
        ProgramCase{"NonCfiAmdErase", kNonCfiAmd, 0, Op::Erase, 0x20000, 0x10000, 0, 0x20000, 0x30000, 25, 0,
                    ""},
        ProgramCase{"NonCfiAmdBootBlocks", kNonCfiAmd, 0, Op::Erase, 0x4000, 0x4000, 0, 0x4000, 0x8000, 25, 0,
                    ""},
        ProgramCase{"NonCfiIntelDownload", kNonCfiIntel, 0, Op::Download, 0x20000, 0x100, 0, 0x20000, 0x20100,
                    8, 0, ""},
        ProgramCase{"IntelWholePart", kIntel, 0, Op::Erase, 0, kAvail, 0, 0, 0x100000, 0, 0, ""},
        ProgramCase{"SixteenBitAmdErase", kAmdWord, k16, Op::Erase, 0x20000, 0x20000, 0, 0x20000, 0x40000, 25,
                    2, ""},
        ProgramCase{"DownloadWholeBlocks", kAmd, 0, Op::Download, 0x30000, 0x20000, 0, 0x30000, 0x50000, 16,
                    0, ""},
        ProgramCase{"DownloadInsideBlocks", kAmd, 0, Op::Download, 0x30100, 0x20000, 0, 0x30100, 0x50100, 24,
                    0, ""},
        ProgramCase{"DownloadOneBlockTicks", kAmd, 0, Op::Download, 0, 0x10000, 0, 0, 0x10000, 8, 0, ""},
        ProgramCase{
            "DownloadTooLarge", kAmd, 0, Op::Download, 0, 0x100001, 44, 0, 0, 0, 0,
            "\n\nERROR: Download size of 0x100001 is greater than available flash of 0x100000 size\n"},
        ProgramCase{"DownloadPastTheEnd", kAmd, 0, Op::Download, 0xFFF00, 0x200, 44, 0, 0, 0, 0,
                    "\n\nERROR: Download size of 0x200 is greater than available flash of 0x100000 size\n"},
        ProgramCase{"DownloadWordMode", kAmdWord, k16, Op::Download, 0x10004, 0x100, 0, 0x10004, 0x10104, 8,
                    1, ""},
        ProgramCase{"DownloadAcrossTwoParts", kTwo, 0, Op::Download, 0xF8000, 0x10000, 0, 0xF8000, 0x108000,
                    16, 0, ""},
        ProgramCase{"WholeChipDownload", kAmd, 0, Op::WholeChip, 0, 0x100, 0, 0, 0x100, 0, 0, "", true},
        // An odd count on a 16-bit bus: the last word carries 0xFF in its upper byte.
        ProgramCase{"WholeChipOddWords", kAmdWord, k16, Op::WholeChip, 0, 0x101, 0, 0, 0x101, 0, 1, "", true},
        // A whole-chip download that starts later erases only the blocks it writes.
        ProgramCase{"WholeChipFromLater", kAmd, 0, Op::WholeChip, 0x10000, 0x100, 0, 0x10000, 0x10100, 8, 0,
                    ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashProgram, RefusesEmptyArgumentsWithoutAnAccess) {
    parts(kAmd);
    uint8_t byte = 0;
    EXPECT_EQ(flash_performErasing(&handle_, kOstrelWindow, 0, 0, kAvail), 1u);
    EXPECT_EQ(flash_performErasing(&handle_, 0, 0, 0x10, kAvail), 1u);
    EXPECT_EQ(flash_performErasing(&handle_, kOstrelWindow, 0, 0x10, 0), 1u);
    EXPECT_EQ(flash_performDownloading(&handle_, kOstrelWindow, 0, 1, nullptr, kAvail, 0), 1u);
    EXPECT_EQ(flash_performDownloading(&handle_, kOstrelWindow, 0, 0, &byte, kAvail, 0), 1u);
    EXPECT_TRUE(gModel.calls.empty());
}

// What an earlier binding found (a 16-bit bus, a larger flash) says nothing of the flash an operation meets.
TEST_F(FlashProgram, EachOperationLearnsItsOwnFlash) {
    parts({{"amd-2m-byte", 0}});
    fill(0x200000);
    ASSERT_EQ(flash_performErasing(&handle_, kOstrelWindow, 0x10000, 0x10000, kAvail), 0u);
    EXPECT_EQ(gFlashInfo.AvailableFlash, 0x200000u);
    parts(kAmdWord, k16);
    uint32_t type = 0;
    ASSERT_EQ(identify(&type), 0u);
    ASSERT_EQ(gFlashInfo.BusIs16Bit, 1u);

    parts(kAmd, 0); // now a 1 MiB part on an 8-bit bus
    fill(0x200000);
    const std::string out = printed([&] {
        EXPECT_EQ(
            flash_performDownloading(&handle_, kOstrelWindow, 0x100000, 0x10, &sProgressByte, kAvail, 0),
            44u);
    });
    EXPECT_EQ(out, "\n\nERROR: Download size of 0x10 is greater than available flash of 0x100000 size\n");
    EXPECT_EQ(gFlashInfo.BusIs16Bit, 0u);
    ASSERT_EQ(flash_performErasing(&handle_, kOstrelWindow, 0x20000, 0x10000, kAvail), 0u);
    const std::vector<uint8_t> got = image(0x40000);
    for (uint32_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], i >= 0x20000 && i < 0x30000 ? 0xFF : pattern(i)) << std::hex << i;
}

// Erase-region bytes 0x3F, 0x00, 0x00, 0x01 describe 64 blocks of 64 KiB.
TEST_F(FlashProgram, RegionBytesGiveBlockCountAndSize) {
    zsim::NorPart p = *zsim::findNorPart("amd-x16-byte");
    p.regions = {{0x10000, 64}};
    p.size = 0x400000;
    gModel.expander->setFlashParts({{p, 0}});
    uint32_t type = 0;
    ASSERT_EQ(identify(&type), 0u);
    gModel.calls.clear();
    uint16_t blocks = 0;
    uint32_t size = 0;
    ASSERT_EQ(flash_readRegionInfo(0, &blocks, &size), 0u);
    EXPECT_EQ(blocks, 64u);
    EXPECT_EQ(size, 0x10000u);
    EXPECT_THAT(cycles(),
                testing::ElementsAre("W 0xAA=0x98", "R 0x5C", "R 0x5A", "R 0x60", "R 0x5E", "W 0x0=0xF0"));
}

// The 16-bit program prefix goes to the unlock words, the data to the unit.
TEST_F(FlashProgram, SixteenBitAmdProgramCycles) {
    parts(kAmdWord, k16);
    uint32_t type = 0;
    ASSERT_EQ(identify(&type), 0u);
    ASSERT_EQ(flash_init(0x10000), 0u);
    gModel.calls.clear();
    const uint8_t data[2] = {0x34, 0x12};
    ASSERT_EQ(flash_programBytes(data, 0x10000, 2), 0u);
    const std::vector<std::string> all = cycles();
    ASSERT_GE(all.size(), 5u);
    EXPECT_THAT(std::vector<std::string>(all.begin(), all.begin() + 4),
                testing::ElementsAre("W 0xAAA=0xAA", "W 0x555=0x55", "W 0xAAA=0xA0", "W 0x10000=0x1234"));
    EXPECT_EQ(all.back(), "R 0x10000/2"); // the read-back
}

} // namespace
