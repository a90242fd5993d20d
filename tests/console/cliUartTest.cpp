// Decoding the firmware UART's settings, and reading them through the console: the divisor latch is
// closed again on every path.
#include "tests/console/virtualLine.h"

#include "console/ConsolePersona.h"
#include "ial/cliUart.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
    uint8_t lineControl;
    uint8_t divisor;
    CliUartSettings expected;
};

class CliUartDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(CliUartDecode, FrameAndBaud) {
    const DecodeCase& c = GetParam();
    const CliUartSettings s = cliDecodeUart(c.lineControl, c.divisor);
    EXPECT_EQ(s.baudIndex, c.expected.baudIndex);
    EXPECT_EQ(s.dataBits, c.expected.dataBits);
    EXPECT_EQ(s.stopBits, c.expected.stopBits);
    EXPECT_EQ(s.parity, c.expected.parity);
}

INSTANTIATE_TEST_SUITE_P(Table, CliUartDecode,
                         ::testing::Values(DecodeCase{0x1B, 1, {10, 8, 1, 2}}, // 8 bits, even parity
                                           DecodeCase{0x03, 2, {9, 8, 1, 0}},
                                           DecodeCase{0x0B, 3, {8, 8, 1, 1}}, // odd parity
                                           DecodeCase{0x06, 12, {8, 7, 2, 0}},
                                           DecodeCase{0x00, 0, {8, 5, 1, 0}},
                                           DecodeCase{0x15, 1, {10, 6, 2, 0}})); // bit 4 without bit 3: none

struct Console {
    Console(uint8_t lineControl, uint8_t divisor)
        : expander(zsim::Family::Quenza),
          persona(expander, zsim::ConsoleOptions{.lineControl = lineControl, .divisor = divisor}), line(persona) {}
    CliRegisterFunction access() {
        return [this](uint32_t op, uint32_t address, uint32_t data, uint32_t* out) {
            return cliRegisterAccess(CliLink{line, nullptr}, op, address, data, out);
        };
    }
    uint32_t lineControl() { return expander.space().readWord(CLI_UART_LINE_CONTROL); }
    zsim::Expander expander;
    zsim::ConsolePersona persona;
    VirtualLine line;
};

TEST(CliUartRead, ThroughTheDivisorLatch) {
    Console console(0x1B, 1);
    CliUartSettings s{};
    EXPECT_EQ(getUARTConnParams(console.access(), nullptr, &s), 0u);
    EXPECT_EQ(s.baudIndex, 10u);
    EXPECT_EQ(s.parity, 2u);
    EXPECT_EQ(console.lineControl(), 0x1Bu);
    EXPECT_EQ(console.persona.commands(),
              (std::vector<std::string>{"mr32 0x4280000c 1", "mw32 0x4280000c 0x0000009b", "mr32 0x42800000 1",
                                        "mw32 0x4280000c 0x0000001b"}));
}

TEST(CliUartRead, LatchClosedWhenTheDivisorReadFails) {
    Console console(0x03, 2);
    console.persona.addFault(zsim::ConsoleFault{.command = "mr32", .kind = zsim::ConsoleFaultKind::Silence, .skip = 1});
    CliUartSettings s{99, 99, 99, 99};
    EXPECT_EQ(getUARTConnParams(console.access(), nullptr, &s), 1u);
    EXPECT_EQ(console.lineControl() & CLI_UART_DIVISOR_ACCESS, 0u);
    EXPECT_EQ(s.baudIndex, 99u);
}

} // namespace
