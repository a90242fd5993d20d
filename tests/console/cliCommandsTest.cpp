// The console commands against the simulator's console persona in virtual time: the command lines the
// console receives, what lands in the model, the values read back, and the failures of garbled, silent
// and dropped answers.
#include "tests/console/virtualLine.h"

#include "console/ConsolePersona.h"
#include "ial/cliCommands.h"
#include "osal/xmodem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using zsim::ConsoleFault;
using zsim::ConsoleFaultKind;
using zsim::ConsolePersona;

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> pattern(uint32_t size, uint8_t seed) {
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i * 13 + seed);
    return data;
}

// One expander, its console persona (echo on or off) and a virtual line to it.
struct Console {
    explicit Console(bool echo = false, zsim::Family family = zsim::Family::Quenza)
        : expander(family), persona(expander, zsim::ConsoleOptions{.echo = echo}), line(persona) {}
    CliLink link() { return CliLink{line, nullptr}; }
    std::vector<uint8_t> memory(uint32_t address, uint32_t size) {
        std::vector<uint8_t> out;
        expander.readMemory(address, size, out);
        return out;
    }
    zsim::Expander expander;
    ConsolePersona persona;
    VirtualLine line;
};

struct WriteCase {
    const char* name;
    uint32_t operation;
    uint32_t address;
    uint32_t data;
    std::vector<std::string> commands;
    std::vector<uint8_t> memory; // at the address, after the write
};

class CliWrites : public ::testing::TestWithParam<std::tuple<WriteCase, bool>> {};

TEST_P(CliWrites, SplitIntoCommandsAndLandInMemory) {
    const auto& [c, echo] = GetParam();
    Console console(echo);
    EXPECT_EQ(cliRegisterAccess(console.link(), c.operation, c.address, c.data, nullptr), 0);
    EXPECT_EQ(console.persona.commands(), c.commands);
    EXPECT_EQ(console.memory(c.address, static_cast<uint32_t>(c.memory.size())), c.memory);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliWrites,
    ::testing::Combine(
        ::testing::Values(
            WriteCase{"word", 1, 0x20000000, 0x11223344, {"mw32 0x20000000 0x11223344"}, {0x44, 0x33, 0x22, 0x11}},
            WriteCase{"evenAddress",
                      1,
                      0x20000002,
                      0xAABBCCDD,
                      {"mw16 0x20000002 0xccdd", "mw16 0x20000004 0xaabb"},
                      {0xDD, 0xCC, 0xBB, 0xAA}},
            WriteCase{"oddAddress",
                      1,
                      0x20000001,
                      0xAABBCCDD,
                      {"mw8 0x20000001 0xdd", "mw8 0x20000002 0xcc", "mw8 0x20000003 0xbb", "mw8 0x20000004 0xaa"},
                      {0xDD, 0xCC, 0xBB, 0xAA}},
            WriteCase{"byte", 9, 0x20000003, 0x000000AB, {"mw8 0x20000003 0x000000ab"}, {0xAB, 0x00}}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "Echo" : "Quiet");
    });

TEST(CliReads, WordAndByteFromTheAddressSpace) {
    for (bool echo : {false, true}) {
        SCOPED_TRACE(echo);
        Console console(echo);
        console.expander.space().writeWord(0x20000010, 0x8899AABB);
        uint32_t value = 0;
        EXPECT_EQ(cliRegisterAccess(console.link(), 0, 0x20000010, 0, &value), 0);
        EXPECT_EQ(value, 0x8899AABBu);
        EXPECT_EQ(cliRegisterAccess(console.link(), 8, 0x20000011, 0, &value), 0);
        EXPECT_EQ(value, 0xAAu);
        // The firmware's P2H register shows its console.
        EXPECT_EQ(cliRegisterAccess(console.link(), 0, zsim::kP2hRegister, 0, &value), 0);
        EXPECT_EQ(value, 0x3Eu);
        EXPECT_EQ(console.persona.commands(),
                  (std::vector<std::string>{"mr32 0x20000010 1", "mr8 0x20000011 1", "mr32 0x42400010 1"}));
    }
}

TEST(CliReads, ReadWithoutOutValueSendsNothing) {
    Console console;
    EXPECT_EQ(cliRegisterAccess(console.link(), 0, 0x20000010, 0, nullptr), CLI_BAD_ARGUMENT);
    EXPECT_TRUE(console.line.written().empty());
}

struct ReplyCase {
    const char* name;
    ConsoleFaultKind kind;
    uint32_t argument;
    int32_t status;
};

class CliReplyFaults : public ::testing::TestWithParam<ReplyCase> {};

// A garbled, silent or dropped answer fails, never with a value; the next read is clean again.
TEST_P(CliReplyFaults, ReadFailsWithoutAValue) {
    const ReplyCase& c = GetParam();
    Console console;
    console.expander.space().writeWord(0x20000000, 0x0000003E);
    console.persona.addFault(ConsoleFault{.command = "mr32", .kind = c.kind, .argument = c.argument});
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(cliRegisterAccess(console.link(), 0, 0x20000000, 0, &value), c.status);
    EXPECT_EQ(value, c.status == 0 ? 0x3Eu : 0u);
    if (!console.persona.dropped()) {
        EXPECT_EQ(cliRegisterAccess(console.link(), 0, 0x20000000, 0, &value), 0);
        EXPECT_EQ(value, 0x3Eu);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CliReplyFaults,
                         ::testing::Values(ReplyCase{"noAddress", ConsoleFaultKind::NoAddress, 0, CLI_LINE_FAILED},
                                           ReplyCase{"prefixWithoutDigits", ConsoleFaultKind::PrefixNoDigits, 0,
                                                     CLI_LINE_FAILED},
                                           ReplyCase{"nul", ConsoleFaultKind::Nul, 0, CLI_LINE_FAILED},
                                           ReplyCase{"overLong", ConsoleFaultKind::OverLong, 0, CLI_LINE_FAILED},
                                           ReplyCase{"silence", ConsoleFaultKind::Silence, 0, CLI_LINE_FAILED},
                                           ReplyCase{"slowWithinQuiet", ConsoleFaultKind::Slow, 100, 0},
                                           ReplyCase{"slowPastQuiet", ConsoleFaultKind::Slow, 500, CLI_LINE_FAILED},
                                           ReplyCase{"droppedMidReply", ConsoleFaultKind::DropMidReply, 0,
                                                     CLI_LINE_FAILED}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliReplyFaults, SilentWriteFails) {
    Console console;
    console.persona.addFault(ConsoleFault{.command = "mw32", .kind = ConsoleFaultKind::Silence});
    EXPECT_EQ(cliRegisterAccess(console.link(), 1, 0x20000000, 1, nullptr), CLI_LINE_FAILED);
}

struct ParseCase {
    const char* name;
    std::string reply;
    uint32_t address;
    std::optional<uint32_t> value;
};

class CliValueParser : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CliValueParser, OnlyTheBytesReceived) {
    const ParseCase& c = GetParam();
    const std::vector<uint8_t> bytes = bytesOf(c.reply);
    EXPECT_EQ(cliParseValue(bytes, c.address), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliValueParser,
    ::testing::Values(ParseCase{"upperPrefix", "\r\n42400010 : 0X0000003E\r\n\n cmd >", 0x42400010, 0x3E},
                      ParseCase{"echoFirst", "mr32 0x42400010 1\r\r\n42400010 : 0X0000003E\r\n\n cmd >", 0x42400010,
                                0x3E},
                      ParseCase{"valueAtEnd", "42400010 : 0x1f", 0x42400010, 0x1F},
                      ParseCase{"noAddress", "\r\nvalue : 0X0000003E\r\n", 0x42400010, std::nullopt},
                      ParseCase{"noPrefix", "\r\n42400010 : 3E\r\n", 0x42400010, std::nullopt},
                      ParseCase{"prefixWithoutDigits", "\r\n42400010 : 0x \r\n", 0x42400010, std::nullopt},
                      ParseCase{"prefixAtEnd", "\r\n42400010 : 0x", 0x42400010, std::nullopt},
                      ParseCase{"nineDigits", "\r\n42400010 : 0x123456789\r\n", 0x42400010, std::nullopt},
                      ParseCase{"nulInNumber", std::string("42400010 : 0X000\0003E\r\n", 22), 0x42400010,
                                std::nullopt},
                      ParseCase{"junkAfterNumber", "42400010 : 0X3Eg\r\n", 0x42400010, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct CapacityCase {
    const char* name;
    std::string reply;
    std::optional<uint32_t> value;
};

class CliCapacityParser : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(CliCapacityParser, DecimalAfterTheColon) {
    const CapacityCase& c = GetParam();
    EXPECT_EQ(cliParseCapacity(bytesOf(c.reply)), c.value);
}

INSTANTIATE_TEST_SUITE_P(Table, CliCapacityParser,
                         ::testing::Values(CapacityCase{"plain", "\r\nBuffer size : 65536 bytes\r\n", 65536},
                                           CapacityCase{"atEnd", "size : 7", 7},
                                           CapacityCase{"largest", "size : 4294967295\r\n", 4294967295u},
                                           CapacityCase{"over32Bits", "size : 4294967296\r\n", std::nullopt},
                                           CapacityCase{"elevenDigits", "size : 12345678901\r\n", std::nullopt},
                                           CapacityCase{"noColon", "size 65536\r\n", std::nullopt},
                                           CapacityCase{"noDigits", "size : \r\n", std::nullopt},
                                           CapacityCase{"letters", "size : 64K\r\n", std::nullopt},
                                           CapacityCase{"colonAtEnd", "size :", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

struct IpCase {
    const char* name;
    std::string reply;
    const char* ip;
};

class CliIpParser : public ::testing::TestWithParam<IpCase> {};

TEST_P(CliIpParser, FifteenCharactersAtMost) {
    const IpCase& c = GetParam();
    char ip[16];
    std::memset(ip, 'X', sizeof ip);
    cliParseIpAddress(bytesOf(c.reply), ip);
    EXPECT_STREQ(ip, c.ip);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliIpParser,
    ::testing::Values(IpCase{"plain", "\r\nIP Address   : 192.168.1.5\r\nSubnet Mask  : 255.0.0.0\r\n", "192.168.1.5"},
                      IpCase{"anyCase", "ip address: 10.0.0.1 ", "10.0.0.1"},
                      IpCase{"missing", "\r\nSubnet Mask  : 255.0.0.0\r\n", "0.0.0.0"},
                      IpCase{"noDigit", "IP Address : none", "0.0.0.0"},
                      IpCase{"sixteenCharacters", "IP Address : 1234567890123456\r\n", "123456789012345"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliTextCommands, NetworkSettingsFromTheEthernetPage) {
    Console console;
    zsim::EthernetSettings settings;
    settings.ip = {192, 168, 10, 20};
    console.expander.setEthernet(settings);
    char ip[16] = {};
    EXPECT_EQ(getGen3ExpIPAddress(console.link(), ip), 0u);
    EXPECT_STREQ(ip, "192.168.10.20");
    EXPECT_EQ(console.persona.commands(), (std::vector<std::string>{"ipconfig"}));
}

TEST(CliTextCommands, WatchdogResetReachesTheModel) {
    Console console;
    EXPECT_EQ(perform_reset_watchdog(console.link()), 0u);
    EXPECT_EQ(console.expander.watchdogResets(), 1u);
    EXPECT_EQ(console.persona.commands(), (std::vector<std::string>{"reset watchdog"}));
}

TEST(CliTextCommands, BufferSizeAndRegionErase) {
    Console console;
    zsim::FirmwareHeader header;
    header.signature = console.expander.traits().signature;
    console.expander.writeFirmwareHeader(header);
    console.expander.writeFlashTable(header.flashTableOffset, {{0, 0x100000, 0}, {5, 0x100000, 0x100000}});
    console.expander.setDesignatedBufferSize(0xE3, 4096);
    uint32_t capacity = 0;
    EXPECT_EQ(cli_buffsize_operation(console.link(), 0xE3, &capacity), 0u);
    EXPECT_EQ(capacity, 4096u);
    EXPECT_EQ(cli_regerase_operation(console.link(), 1), 0u);
    // Wider fields are written whole, carriage return included.
    EXPECT_EQ(cli_regerase_operation(console.link(), 100), 0u);
    EXPECT_EQ(console.persona.commands(), (std::vector<std::string>{"buffsize e3", "regerase 01", "regerase 100"}));
    EXPECT_EQ(console.expander.erasedBuffers(), (std::vector<uint8_t>{0x81}));
}

TEST(CliTransfers, FlashUploadAndDownloadOfADataBuffer) {
    for (bool echo : {false, true}) {
        SCOPED_TRACE(echo);
        Console console(echo);
        const std::vector<uint8_t> data = pattern(300, 5);
        ASSERT_EQ(console.expander.writeBuffer(0xE1, 0x100, data), zsim::Outcome::Ok);
        std::vector<uint8_t> buffer(300);
        EXPECT_EQ(cli_ful_operation(console.link(), 0xE1, 0x100, buffer.data(), 300), 0u);
        EXPECT_EQ(buffer, data);

        const std::vector<uint8_t> written = pattern(256, 9);
        EXPECT_EQ(cli_fdl_operation(console.link(), 0xE3, 0x20, written.data(), 256), 0u);
        std::vector<uint8_t> stored;
        console.expander.readBuffer(0xE3, 0x20, 256, stored);
        EXPECT_EQ(stored, written);
        EXPECT_EQ(console.persona.commands(), (std::vector<std::string>{"ful e1 00000100 300", "fdl e3 00000020 y"}));
    }
}

// 200 bytes: the memory is read back first, and the second block carries the memory's own tail.
TEST(CliTransfers, MemoryDownloadSendsTheReadBackTail) {
    Console console;
    const std::vector<uint8_t> before = pattern(256, 77);
    console.expander.writeMemory(0x20001000, before);
    const std::vector<uint8_t> data = pattern(200, 1);
    EXPECT_EQ(cli_mdl_operation(console.link(), 0x20001000, data.data(), 200), 0u);
    std::vector<uint8_t> expected = data;
    expected.insert(expected.end(), before.begin() + 200, before.end());
    EXPECT_EQ(console.memory(0x20001000, 256), expected);
    EXPECT_EQ(console.persona.commands(), (std::vector<std::string>{"mul 20001000 00000256", "mdl 20001000"}));
    ASSERT_NE(console.persona.lastTransfer(), nullptr);
    EXPECT_EQ(console.persona.lastTransfer()->stats().blocksReceived, 2u);
    // "\r\n", text, count 256 and the prompt: 46 and three digits.
    EXPECT_EQ(console.persona.trace().back(), "closing 49");
}

TEST(CliTransfers, RefusedUploadStopsBeforeAnyXmodemTraffic) {
    Console console;
    console.persona.addFault(ConsoleFault{.command = "ful", .kind = ConsoleFaultKind::Refuse});
    std::vector<uint8_t> buffer(128);
    EXPECT_EQ(cli_ful_operation(console.link(), 0xE1, 0, buffer.data(), 128), 1u);
    EXPECT_EQ(std::count(console.line.written().begin(), console.line.written().end(), XMODEM_NAK), 0);
    EXPECT_EQ(console.persona.lastTransfer(), nullptr);
}

TEST(CliTransfers, FailedCommandWriteSendsNoData) {
    Console console;
    console.persona.addFault(ConsoleFault{.command = "mw32", .kind = ConsoleFaultKind::DropMidReply});
    EXPECT_EQ(cliRegisterAccess(console.link(), 1, 0x20000000, 1, nullptr), CLI_LINE_FAILED);
    const size_t before = console.line.written().size();
    const std::vector<uint8_t> data = pattern(128, 3);
    EXPECT_EQ(cli_fdl_operation(console.link(), 0xE1, 0, data.data(), 128), 1u);
    EXPECT_EQ(console.line.written().size(), before);
}

struct TransferCase {
    const char* name;
    const char* command; // fdl or ful
    ConsoleFault fault;
    ZELKOR_STATUS status;
};

class CliTransferFaults : public ::testing::TestWithParam<TransferCase> {};

// After each fault the console still answers the next command cleanly.
TEST_P(CliTransferFaults, StatusAndAFollowingCommand) {
    const TransferCase& c = GetParam();
    Console console;
    ConsoleFault fault = c.fault;
    fault.command = c.command;
    console.persona.addFault(fault);
    const std::vector<uint8_t> data = pattern(300, 11);
    ASSERT_EQ(console.expander.writeBuffer(0xE1, 0, data), zsim::Outcome::Ok);
    std::vector<uint8_t> buffer(300);
    const ZELKOR_STATUS status = std::string(c.command) == "ful"
                                     ? cli_ful_operation(console.link(), 0xE1, 0, buffer.data(), 300)
                                     : cli_fdl_operation(console.link(), 0xE3, 0, data.data(), 300);
    EXPECT_EQ(status, c.status);
    // No fault holds the line for longer than a transfer of its size may take, with its commands.
    EXPECT_LE(console.line.nowMs(), xmodemReceiveAllowanceMs(300) + 10000);
    if (status == 0 && std::string(c.command) == "ful") {
        EXPECT_EQ(buffer, data);
    }
    if (!console.persona.dropped()) {
        // A console left in a transfer gives it up after its own time-out.
        if (status != 0)
            console.line.idle(12000);
        uint32_t value = 0;
        console.expander.space().writeWord(0x20000000, 0x1234);
        EXPECT_EQ(cliRegisterAccess(console.link(), 0, 0x20000000, 0, &value), 0);
        EXPECT_EQ(value, 0x1234u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliTransferFaults,
    ::testing::Values(
        TransferCase{"closingShort", "ful", ConsoleFault{.kind = ConsoleFaultKind::ClosingShort}, 0},
        TransferCase{"closingLong", "ful", ConsoleFault{.kind = ConsoleFaultKind::ClosingLong}, 0},
        TransferCase{"closingLongAfterDownload", "fdl", ConsoleFault{.kind = ConsoleFaultKind::ClosingLong}, 0},
        TransferCase{"overLongAckHoldingQ", "fdl", ConsoleFault{.kind = ConsoleFaultKind::OverLongAck, .argument = 4},
                     1},
        TransferCase{"silentCommand", "ful", ConsoleFault{.kind = ConsoleFaultKind::Silence}, 1},
        TransferCase{"badChecksum", "ful",
                     ConsoleFault{.kind = ConsoleFaultKind::Xmodem, .xmodem = zsim::XmodemPeerFault::BadChecksum,
                                  .at = 2},
                     0},
        // An upload whose far end answers NAKs with stray bytes and cut blocks is given up, not followed.
        TransferCase{"strayBytes", "ful",
                     ConsoleFault{.kind = ConsoleFaultKind::Xmodem, .xmodem = zsim::XmodemPeerFault::StrayAndCut},
                     1},
        TransferCase{"droppedMidTransfer", "ful",
                     ConsoleFault{.kind = ConsoleFaultKind::Xmodem, .xmodem = zsim::XmodemPeerFault::DropLine, .at = 2},
                     1},
        TransferCase{"nakStorm", "fdl",
                     ConsoleFault{.kind = ConsoleFaultKind::Xmodem, .xmodem = zsim::XmodemPeerFault::NakStorm}, 1},
        TransferCase{"eotAfterQuiet", "fdl",
                     ConsoleFault{.kind = ConsoleFaultKind::Xmodem, .xmodem = zsim::XmodemPeerFault::EotAfterQuiet}, 0},
        TransferCase{"refusedDownload", "fdl", ConsoleFault{.kind = ConsoleFaultKind::Refuse}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
