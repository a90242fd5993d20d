// Parts that misbehave and accesses that fail: the engine ends with 1, prints the lines of the failing step,
// leaves every part reading its array, and touches nothing of the flash past the block it failed in.
#include "tests/hal/flashFixture.h"

#include <gmock/gmock.h>

namespace {

struct FaultCase {
    const char* name;
    const char* part;
    uint32_t bus;
    std::vector<zsim::NorFault> faults;
    std::vector<InterfaceFailure> failures;
    bool download;
    ZELKOR_STATUS status;
    std::string printed;
};

constexpr uint32_t kAt = 0x20000; // the block every case works on
constexpr uint32_t kBytes = 0x100000;

class FlashFault : public FlashTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(FlashFault, FailsWithTheStepsLinesAndLeavesTheRestAlone) {
    const FaultCase& c = GetParam();
    parts({{c.part, 0}}, c.bus);
    for (const zsim::NorFault& f : c.faults)
        chip().addFault(f);
    fill(kBytes);
    gModel.failures = c.failures;
    gModel.record = false;
    std::vector<uint8_t> data(0x10000);
    for (uint32_t i = 0; i < data.size(); ++i)
        data[i] = datum(i);
    ZELKOR_STATUS status = 0;
    const std::string out = printed([&] {
        status = c.download
                     ? flash_performDownloading(&handle_, kOstrelWindow, kAt, 0x10000, data.data(), kAvail, 0)
                     : flash_performErasing(&handle_, kOstrelWindow, kAt, 0x10000, kAvail);
    });
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(out, c.printed);
    EXPECT_EQ(chip().modeName(), "read-array");
    const std::vector<uint8_t> got = image(kBytes);
    for (uint32_t i = 0; i < kBytes; ++i) {
        if (i < kAt || i >= kAt + 0x10000) {
            ASSERT_EQ(got[i], pattern(i)) << "byte 0x" << std::hex << i;
        }
    }
}

using K = zsim::NorFaultKind;
const std::string kEraseFailed = "\n\nERROR: Failed flash erase block in erase operation";

INSTANTIATE_TEST_SUITE_P(
    Cases, FlashFault,
    testing::Values(
        FaultCase{"StuckBit",
                  "amd-x16-byte",
                  0,
                  {{K::StuckBit, kAt + 5, 0x80}},
                  {},
                  true,
                  1,
                  "\n\nERROR: Flash verify failed at 0x20005\n\n\nERROR: Failed programming flash at address "
                  "0x20000\n"},
        FaultCase{"ProtectedSector",
                  "amd-x16-byte",
                  0,
                  {{K::Protected, kAt, 0}},
                  {},
                  false,
                  1,
                  "\n\nERROR: Flash blank check failed at 0x20000\n" + kEraseFailed},
        FaultCase{
            "LockedBlock",
            "intel-0003-byte",
            0,
            {{K::Locked, kAt, 0}},
            {},
            false,
            1,
            "\n\nERROR: Flash ready bit is not set\n\nERROR: Failed flash erase block on 0x20000 address\n" +
                kEraseFailed},
        FaultCase{"Dq5Timeout",
                  "amd-x16-byte",
                  0,
                  {{K::Dq5Timeout, 0, 0}},
                  {},
                  false,
                  1,
                  "\n\nERROR: Failed flash erase block on 0x20000 address\n" + kEraseFailed},
        FaultCase{"BusyPolls", "amd-x16-byte", 0, {{K::Busy, 0, 6}}, {}, true, 0, ""},
        FaultCase{"IntelBusyPolls", "intel-0003-byte", 0, {{K::Busy, 0, 6}}, {}, true, 0, ""},
        // The third byte's first unlock cycle fails: three 0xAAA writes of the erase, two of each byte
        // before.
        FaultCase{"NthWriteFails",
                  "amd-x16-byte",
                  0,
                  {},
                  {{"download", 0x14000AAA, 24, std::nullopt, 7, 1}},
                  true,
                  1,
                  "\n\nERROR: Flash write byte 0xffffffaa, failed at address 0x14000aaa\n"
                  "\n\nERROR: Failed writing auto select1 command 0xaa to 8 bit AMD flash address 0xaaa\n"
                  "\n\nERROR: Failed byte programming 8 bit AMD flash"
                  "\n\nERROR: Failed programming flash at address 0x20000\n"},
        // The block is overwritten whole and not read: the first read there is the erase poll.
        FaultCase{
            "PollReadFails",
            "amd-x16-byte",
            0,
            {},
            {{"upload", 0x14020000, 25, std::nullopt, 0, 1}},
            true,
            1,
            "\n\nERROR: Flash read failed at 0x14020000\n\n\nERROR: Failed reading Dq6 from flash at address "
            "0x20000\n\n\nERROR: Failed flash erase block on 0x20000 address\n\n\nERROR: Failed erasing "
            "block "
            "on chip"},
        // An x8-only part wants its unlock at 0x555/0x2AA: the erase is never taken, the blank check says so.
        FaultCase{"X8OnlyAmd",
                  "amd-x8",
                  0,
                  {},
                  {},
                  false,
                  1,
                  "\n\nERROR: Flash blank check failed at 0x20000\n" + kEraseFailed},
        // An Intel part strapped for words takes a byte on both lanes and shows no status on the upper one.
        FaultCase{"X16Intel",
                  "intel-0001-x16",
                  0x20000000,
                  {},
                  {},
                  true,
                  1,
                  "\n\nERROR: Flash access timeout\n\nERROR: Failed flash program cycle at 0x20001\n"
                  "\n\nERROR: Failed programming flash at address 0x20000\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// The endless toggle: the poll gives up when its counter reaches 0x400001, after the first read and
// 0x400002 more, and the part is reset.
TEST_F(FlashFault, EndlessToggleStopsAtThePollLimit) {
    parts({{"amd-x16-byte", 0}});
    chip().addFault({K::EndlessToggle, 0, 0});
    gModel.record = false;
    gModel.watch = kOstrelWindow + kAt;
    const std::string out =
        printed([&] { EXPECT_EQ(flash_performErasing(&handle_, kOstrelWindow, kAt, 0x10000, kAvail), 1u); });
    EXPECT_EQ(out, "\n\nERROR: Flash access timeout\n\nERROR: Failed flash erase block on 0x20000 address\n" +
                       kEraseFailed);
    EXPECT_EQ(gModel.watched, 1u + 0x400002u);
    EXPECT_EQ(chip().modeName(), "read-array");
}

} // namespace
