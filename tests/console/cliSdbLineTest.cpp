// zelkor_open on interface code 2 against a family Quenza serial debug bridge line: the boot ROM answers
// at 38400 7N1 and the firmware console shares the line at the frame its UART holds. The open finds the
// console silent at 38400 8N1, meets the boot ROM at 38400 7N1, reads the firmware UART's settings through
// it and reaches the console in its third pass at those settings.
#include "client/zsimClient.h"
#include "console/ConsolePersona.h"
#include "core/zelkor.h"
#include "ial/comInstance.h"
#include "osal/osalTime.h"
#include "scenario/Scenario.h"
#include "serial/SerialExpander.h"
#include "tests/support/libraryLists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kLineControl = 0x4280000C;
constexpr uint32_t kDivisorLow = 0x42800000;
constexpr uint32_t kP2h = 0x42400010;

struct BridgeLine {
    BridgeLine(const std::string& scenario, zsim::ConsoleOptions options, std::vector<zsim::SerialFault> faults = {})
        : enclosure(zsim::parseScenario(scenario)), expander(*enclosure->devices.at(0)->expander),
          persona(expander, options) {
        zsim::SerialSetup setup;
        setup.start = zsim::SerialProgram::QuenzaRom;
        setup.firmwareConsole = &persona;
        setup.faults = std::move(faults);
        serial = std::make_unique<zsim::SerialExpander>(expander, std::move(setup));
        zsim::client::clearSerialLineRecord();
        previousWait = osal_setSilenceWaitFunction(zsim::SerialExpander::silenceWait);
        previousSleep = osal_setSleepFunction([](uint32_t) {});
        previousSleepUs = osal_setSleepUsFunction([](uint32_t) {});
    }
    ~BridgeLine() {
        serial.reset();
        osal_setSilenceWaitFunction(previousWait);
        osal_setSleepFunction(previousSleep);
        osal_setSleepUsFunction(previousSleepUs);
        gChipTypeFlag = 0;
    }
    BridgeLine(const BridgeLine&) = delete;
    BridgeLine& operator=(const BridgeLine&) = delete;

    std::vector<std::string> commands() {
        return serial->inspect([this](zsim::Expander&) { return persona.commands(); });
    }
    uint32_t word(uint32_t address) {
        return serial->inspect([&](zsim::Expander& e) { return e.space().readWord(address); });
    }
    // The boot ROM's frames as "g ADDRESS" or "p ADDRESS DATA".
    std::vector<std::string> romFrames() const {
        std::vector<std::string> out;
        for (const zsim::SerialFrame& f : serial->frames()) {
            char text[40];
            if (f.command == "p" && f.bytes.size() == 11)
                std::snprintf(text, sizeof text, "p %08x %08x", f.address,
                              uint32_t{f.bytes[6]} << 24 | uint32_t{f.bytes[7]} << 16 | uint32_t{f.bytes[8]} << 8 |
                                  f.bytes[9]);
            else
                std::snprintf(text, sizeof text, "%s %08x", f.command.c_str(), f.address);
            out.emplace_back(text);
        }
        return out;
    }
    // The frames the product set on the line, as the preload recorded them.
    static std::vector<std::string> framings() {
        std::vector<std::string> out;
        for (const std::string& line : zsim::client::serialLineRecord()) {
            const std::string tail = line.substr(line.find("speed="));
            out.push_back(tail.substr(0, tail.find(" flow=")));
        }
        return out;
    }

    std::unique_ptr<zsim::Enclosure> enclosure;
    zsim::Expander& expander;
    zsim::ConsolePersona persona;
    std::unique_ptr<zsim::SerialExpander> serial;
    OsalSilenceWaitFunction previousWait = nullptr;
    OsalSleepFunction previousSleep = nullptr;
    OsalSleepUsFunction previousSleepUs = nullptr;
};

uint64_t target(const std::string& path) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(path.c_str())); }

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

constexpr const char kScenario[] = "device sg0 quenza\n    sas-address 500605B0:0000C3D0\n    ip 10.1.2.3\n";

struct BypassCase {
    const char* name;
    uint8_t lineControl;
    uint8_t divisor;
    const char* framing; // the third pass's frame
};

class CliSdbBypass : public ::testing::TestWithParam<BypassCase> {};

// Pass 1 is silence, pass 2 meets the boot ROM, pass 3 the console at the UART's frame; the latch is closed
// again, and the instance keeps the UART's frame until it closes, when the console re-reads the
// miscellaneous register.
TEST_P(CliSdbBypass, ThirdPassReachesTheConsoleAtTheFirmwareUartFrame) {
    const BypassCase& c = GetParam();
    BridgeLine line(kScenario, zsim::ConsoleOptions{.lineControl = c.lineControl, .divisor = c.divisor});
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* list = nullptr;
    const std::string path = line.serial->path();
    ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_CLI, target(path), &handle, nullptr, &list), 0u);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->expander.type, ZELKOR_CHIP_QUENZA);
    EXPECT_EQ(list->expander.sasAddressHigh, 0x500605B0u);
    EXPECT_EQ(list->expander.sasAddressLow, 0x0000C3D0u);
    EXPECT_STREQ(list->expander.ipAddress, "10.1.2.3");
    std::free(list);

    const std::vector<std::string> framings = BridgeLine::framings();
    ASSERT_EQ(framings.size(), 3u);
    EXPECT_EQ(framings[0], "speed=38400 bits=8 parity=none stop=1");
    EXPECT_EQ(framings[1], "speed=38400 bits=7 parity=none stop=1");
    EXPECT_EQ(framings[2], c.framing);

    // The boot ROM saw the probe, then the identification and the bypass, in this order and nothing else.
    const std::vector<std::string> rom = line.romFrames();
    char open[40];
    char close[40];
    std::snprintf(open, sizeof open, "p 4280000c %08x", c.lineControl | 0x80u);
    std::snprintf(close, sizeof close, "p 4280000c %08x", uint32_t{c.lineControl});
    const std::vector<std::string> expected = {"probe 00000000", "probe 00000000", "g c380002c", "g c38000a0",
                                               "g c380002c",     "g 42400010",     "g 42400018", "g 4280000c",
                                               open,             "g 42800000",     close};
    EXPECT_EQ(rom, expected);
    EXPECT_EQ(line.word(kLineControl), c.lineControl);

    // The console was told of one frame, its own, before its first command.
    const std::vector<std::string> trace =
        line.serial->inspect([&line](zsim::Expander&) { return line.persona.trace(); });
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front(), std::string("frame ") + c.framing);
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(), [](const std::string& t) { return t.rfind("frame ", 0) == 0; }),
              1);
    const std::vector<std::string> commands = line.commands();
    EXPECT_TRUE(contains(commands, "ful 80 00000000 84"));
    EXPECT_TRUE(contains(commands, "ipconfig"));

    ZELKOR_REGION_LIST* regions = nullptr;
    EXPECT_EQ(zelkor_getRegions(handle, &regions), 0u);
    EXPECT_NE(regions, nullptr);
    freeList(regions);
    const size_t before = line.commands().size();
    EXPECT_EQ(zelkor_close(handle), 0u);
    const std::vector<std::string> after = line.commands();
    ASSERT_EQ(after.size(), before + 1);
    EXPECT_EQ(after.back(), "mr32 0x42400018 1");
    EXPECT_EQ(line.romFrames().size(), expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, CliSdbBypass,
    ::testing::Values(BypassCase{"even8", 0x1B, 1, "speed=115200 bits=8 parity=even stop=1"},
                      BypassCase{"plain57600", 0x03, 2, "speed=57600 bits=8 parity=none stop=1"}),
    [](const ::testing::TestParamInfo<BypassCase>& info) { return std::string(info.param.name); });

// When the boot ROM fails the bypass, the open ends in its second pass: no console command is sent and the
// UART's latch is closed again whenever it was opened.
TEST(CliSdbBypassFailure, EndsInTheDebugPassAndLeavesTheLatchClosed) {
    struct Case {
        const char* name;
        std::vector<zsim::SerialFault> faults;
        const char* scenarioTail;
        bool latchOpened;
    };
    const Case cases[] = {
        {"divisor read silent",
         {zsim::SerialFault{.command = "g", .address = kDivisorLow, .kind = zsim::SerialFaultKind::Silence}},
         "",
         true},
        {"line control read silent",
         {zsim::SerialFault{.command = "g", .address = kLineControl, .kind = zsim::SerialFaultKind::Silence}},
         "",
         false},
        {"firmware not running", {}, "    register 0x42400010 0x00\n", false},
        {"signature read silent",
         {zsim::SerialFault{.command = "g", .address = 0xC380002C, .kind = zsim::SerialFaultKind::Silence}},
         "",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BridgeLine line(std::string(kScenario) + c.scenarioTail,
                        zsim::ConsoleOptions{.lineControl = 0x1B, .divisor = 1}, c.faults);
        ZELKOR_INSTANCE* handle = nullptr;
        ZELKOR_EXPANDER_LIST* list = nullptr;
        const std::string path = line.serial->path();
        testing::internal::CaptureStdout();
        EXPECT_NE(zelkor_open(ZELKOR_INTERFACE_CLI, target(path), &handle, nullptr, &list), 0u);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(list, nullptr);
        EXPECT_TRUE(line.commands().empty());
        EXPECT_EQ(BridgeLine::framings().size(), 2u);
        EXPECT_EQ(line.word(kLineControl), 0x1Bu);
        const std::vector<std::string> rom = line.romFrames();
        const bool opened = contains(rom, "p 4280000c 0000009b");
        EXPECT_EQ(opened, c.latchOpened);
        if (opened) {
            ASSERT_FALSE(rom.empty());
            EXPECT_EQ(rom.back(), "p 4280000c 0000001b");
        }
        EXPECT_EQ(contains(rom, "g 4280000c"), c.latchOpened || std::string(c.name) == "line control read silent");
    }
}

} // namespace
