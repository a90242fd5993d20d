// Identification of the parts behind the flash window: CFI parts by their query answer, the four known parts
// without CFI by their identifier codes, the bus width from the bus word, and the type code handed out.
#include "tests/hal/flashFixture.h"

#include <gmock/gmock.h>

namespace {

using testing::ElementsAreArray;

struct IdentifyCase {
    const char* name;
    const char* part;
    uint32_t bus;
    ZELKOR_STATUS status;
    uint32_t type;
    uint32_t size;  // flash_retrieveFlashSize
    uint32_t block; // flash_retrieveBlockSize: the block at offset 0
    uint8_t regions;
    uint8_t factor;
    uint8_t cfi;
    uint8_t nonCfiIndex;
};

class FlashIdentify : public FlashTest, public testing::WithParamInterface<IdentifyCase> {};

TEST_P(FlashIdentify, GivesTypeSizeGeometryAndLeavesThePartReadingItsArray) {
    const IdentifyCase& c = GetParam();
    parts({{c.part, 0}}, c.bus);
    uint32_t type = 0;
    std::string printed;
    ZELKOR_STATUS status = 0;
    printed = this->printed([&] { status = identify(&type); });
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(chip().modeName(), "read-array");
    EXPECT_EQ(gFlashInfo.BusIs16Bit, c.bus != 0 ? 1u : 0u);
    if (c.status != 0)
        return;
    EXPECT_EQ(flash_retrieveFlashSize(), c.size);
    EXPECT_EQ(gFlashInfo.MaxRegions, c.regions);
    EXPECT_EQ(gFlashInfo.MultiplicationFactor, c.factor);
    EXPECT_EQ(gFlashInfo.CfiCompliance, c.cfi);
    if (c.cfi == 0) {
        EXPECT_EQ(gFlashInfo.NonCfiIndex, c.nonCfiIndex);
    }
    EXPECT_EQ(flash_retrieveBlockSize(), c.block);
    EXPECT_EQ(chip().modeName(), "read-array");
}

constexpr uint32_t k16 = 0x20000000;
constexpr uint32_t kNone = FLASH_TYPE_NONE;

INSTANTIATE_TEST_SUITE_P(
    Parts, FlashIdentify,
    testing::Values(IdentifyCase{"AmdByteMode", "amd-x16-byte", 0, 0, 3, 0x100000, 0x10000, 1, 2, 1, 0},
                    IdentifyCase{"AmdWordMode", "amd-x16-word", k16, 0, 4, 0x100000, 0x10000, 1, 2, 1, 0},
                    IdentifyCase{"BusBit29And28", "amd-x16-word", 0x30000000, 0, 4, 0x100000, 0x10000, 1, 2,
                                 1, 0},
                    IdentifyCase{"BusBit28", "amd-x16-word", 0x10000000, 0, 4, 0x100000, 0x10000, 1, 2, 1, 0},
                    IdentifyCase{"AmdBootBlock", "amd-bootblock-byte", 0, 0, 3, 0x100000, 0x2000, 2, 2, 1, 0},
                    IdentifyCase{"AmdX8", "amd-x8", 0, 0, 3, 0x100000, 0x10000, 1, 1, 1, 0},
                    IdentifyCase{"CommandSet4IsAmd", "amd-set4-byte", 0, 0, 3, 0x100000, 0x10000, 1, 2, 1, 0},
                    IdentifyCase{"Intel0001Word", "intel-0001-x16", k16, 0, 1, 0x100000, 0x10000, 1, 2, 1, 0},
                    IdentifyCase{"Intel0003Byte", "intel-0003-byte", 0, 0, 0, 0x100000, 0x10000, 1, 2, 1, 0},
                    IdentifyCase{"Intel0003X8", "intel-0003-x8", 0, 0, 0, 0x100000, 0x10000, 1, 1, 1, 0},
                    IdentifyCase{"NonCfiAmd", "noncfi-amd-5b", 0, 0, 3, 0x100000, 0x4000, 4, 1, 0, 0},
                    IdentifyCase{"NonCfiIntelA6", "noncfi-intel-a6", 0, 0, 0, 0x100000, 0x10000, 1, 1, 0, 1},
                    IdentifyCase{"NonCfiIntelAA", "noncfi-intel-aa", 0, 0, 0, 0x200000, 0x10000, 1, 1, 0, 2},
                    IdentifyCase{"NonCfiFujitsu", "noncfi-fujitsu-5b", 0, 0, 3, 0x100000, 0x4000, 4, 1, 0, 3},
                    IdentifyCase{"CommandSet6", "unknown-set6-byte", 0, 1, kNone, 0, 0, 0, 0, 0, 0},
                    IdentifyCase{"UnknownCodes", "noncfi-unknown", 0, 1, kNone, 0, 0, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A part whose query answer names no size a window holds, or no erase region, is not taken.
TEST_F(FlashIdentify, QueryAnswersTheEngineCannotDriveAreUnrecognised) {
    zsim::NorPart huge = *zsim::findNorPart("amd-x16-byte");
    huge.regions = {{0x10000, 2048}};
    huge.size = 0x8000000; // 128 MiB: size byte 27
    zsim::NorPart empty = *zsim::findNorPart("amd-x16-byte");
    empty.regions.clear();
    for (const zsim::NorPart& p : {huge, empty}) {
        gModel.expander->setFlashParts({{p, 0}});
        uint32_t type = 0;
        EXPECT_EQ(identify(&type), 1u);
        EXPECT_EQ(type, FLASH_TYPE_NONE);
        EXPECT_EQ(chip().modeName(), "read-array");
    }
}

// Array bytes that happen to look like a command set are no query answer.
TEST_F(FlashIdentify, CommandSetBytesWithoutQryAreNotCfi) {
    parts({{"noncfi-unknown", 0}});
    gModel.expander->flash().write(0x26, std::vector<uint8_t>{0x02});
    gModel.expander->flash().write(0x28, std::vector<uint8_t>{0x00});
    gModel.expander->flash().write(0x4E, std::vector<uint8_t>{0x14}); // and a size and a region count
    gModel.expander->flash().write(0x58, std::vector<uint8_t>{0x01});
    uint32_t type = 0;
    EXPECT_EQ(identify(&type), 1u);
    EXPECT_EQ(type, FLASH_TYPE_NONE);
}

TEST_F(FlashIdentify, BaseZeroAndAnUnreadableBusWordIdentifyNothing) {
    parts({{"amd-x16-word", 0}}, k16);
    uint32_t type = 0;
    EXPECT_EQ(flash_retriveFlashType(&handle_, 0, &type), 1u);
    EXPECT_EQ(type, FLASH_TYPE_NONE);
    EXPECT_EQ(gFlashInfo.BusIs16Bit, 1u);
    EXPECT_THAT(cycles(), ElementsAreArray({"R 0x2C000000/4"}));

    gModel.calls.clear();
    gModel.failures = {{"upload", 0x2C000000, 25}};
    std::string out = printed([&] { EXPECT_EQ(identify(&type), 1u); });
    EXPECT_EQ(out, "\n\nERROR: Failed finding flash bus size");
    EXPECT_EQ(type, FLASH_TYPE_NONE);
    EXPECT_EQ(cycles().size(), 1u);
    EXPECT_TRUE(
        containsLine(log_->lines(), "INFO : Flash::flash_retriveFlashType() : Unsupported flash on board"));
}

// The whole conversation of a CFI probe of a part strapped for words: no "QRY" at 0x10, the query again at
// 0xAA, the answer at every second byte, and the part reset twice.
TEST_F(FlashIdentify, CyclesOfAWordModeCfiProbe) {
    parts({{"amd-x16-word", 0}}, k16);
    uint32_t type = 0;
    ASSERT_EQ(identify(&type), 0u);
    EXPECT_THAT(cycles(), ElementsAreArray({"R 0x2C000000/4", "W 0x55=0x98", "R 0x10", "W 0xAA=0x98",
                                            "R 0x20", "R 0x22", "R 0x24", "R 0x28", "R 0x26", "R 0x4E",
                                            "R 0x58", "W 0x0=0xF0", "W 0x0=0xF0"}));
    EXPECT_TRUE(containsInOrder(
        log_->lines(),
        {"INFO : Flash::flash_decideMultiplicationFactor() : flashAddr = 0x10, Byte = 0xff",
         "INFO : Flash::flash_decideMultiplicationFactor() : Failed QRY match, Flash is not in 16 bit mode",
         "INFO : Flash::flash_decideMultiplicationFactor() : flashAddr = 0x24, Byte = 0x59",
         "INFO : Flash::flash_findCfiPart() : flashAddr = 0x28, upper = 0x0",
         "INFO : Flash::flash_findCfiPart() : flashAddr = 0x26, Byte = 0x2",
         "INFO : Flash::flash_findCfiPart() : commandSet = 0x2",
         "INFO : Flash::flash_findCfiPart() : AMD Flash identified",
         "INFO : Flash::flash_findCfiPart() : flashAddr = 0x4e, gFlashInfo.DeviceSize = 0x14",
         "INFO : Flash::flash_findCfiPart() : flashAddr = 0x58, gFlashInfo.MaxRegions = 0x1",
         "INFO : Flash::flash_findDeviceInfo() : Valid CFI Component Found",
         "INFO : Flash::flash_retriveFlashType() : Flash Type = 16 bit AMD"}));
}

TEST_F(FlashIdentify, LogOfANonCfiProbe) {
    parts({{"noncfi-amd-5b", 0}});
    uint32_t type = 0;
    ASSERT_EQ(identify(&type), 0u);
    EXPECT_TRUE(containsInOrder(
        log_->lines(),
        {"INFO : Flash::flash_decideMultiplicationFactor() : Failed QRY match, Flash is not in 16 bit mode",
         "INFO : Flash::flash_decideMultiplicationFactor() : Failed QRY match, Flash is not in 8 bit mode",
         "WARN : Flash::flash_findDeviceInfo() : Non CFI Component Found",
         "INFO : Flash::flash_retriveFlashType() : Flash Type = 8 bit AMD"}));
    // The AMD identifier read: reset, unlock, autoselect, codes at 0 and 2, and the AMD reset.
    const std::vector<std::string> all = cycles();
    const std::vector<std::string> tail(all.end() - 7, all.end());
    EXPECT_THAT(tail, ElementsAreArray({"W 0x0=0xF0", "W 0xAAA=0xAA", "W 0x555=0x55", "W 0xAAA=0x90", "R 0x0",
                                        "R 0x2", "W 0x0=0xF0"}));
}

// A second part is looked for where the first ends; none there fails the positioning.
TEST_F(FlashIdentify, PositioningBeyondThePartsFindsTheSecondOrNothing) {
    parts({{"amd-x16-byte", 0}, {"intel-0003-byte", 0x100000}});
    uint32_t type = 0;
    ASSERT_EQ(identify(&type), 0u);
    ASSERT_EQ(flash_init(0x123456), 0u);
    EXPECT_EQ(gFlashInfo.BaseFlashAddress, 0x100000u);
    EXPECT_EQ(gFlashInfo.FlashAlgo, FLASH_ALGO_INTEL);
    EXPECT_EQ(gFlashInfo.CurrentBlockStartAddress, 0x120000u);
    EXPECT_EQ(gFlashInfo.CurrentBlock, 2u);
    const std::string out = printed([&] { EXPECT_EQ(flash_init(0x200000), 1u); });
    EXPECT_EQ(out, "\n\nERROR: Either flash is not connected or out of range");
}

} // namespace
