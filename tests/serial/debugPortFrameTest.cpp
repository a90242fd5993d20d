// The register operations, bootstrap commands and probes of the four debug-port programs against the
// serial expander: every frame byte-exact as the expander received it, the model's state after a write,
// the word a read returns, and the replies that must fail.
#include "serialFixture.h"

#include <cstring>

namespace {

using zsim::SerialFault;
using zsim::SerialFaultKind;
using zsim::SerialProgram;
using zsim::SerialSetup;

std::vector<uint8_t> bytesOf(std::initializer_list<int> list) {
    std::vector<uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<uint8_t>(b));
    return out;
}

SerialSetup programSetup(SerialProgram program, std::vector<SerialFault> faults = {}) {
    SerialSetup setup;
    setup.start = program;
    setup.faults = std::move(faults);
    return setup;
}

TEST_F(SerialExpanderTest, MonitorWordWritePokesCellsInOrder) {
    struct Case {
        uint8_t revision;
        const char* cell3;
    };
    for (const Case c : {Case{0, "p 3 41"}, Case{2, "p 3 40"}}) {
        SCOPED_TRACE(c.revision);
        start("device sg0 ostrel\n    revision " + std::to_string(c.revision) + "\n",
              programSetup(SerialProgram::OstrelMonitor));
        openAt(kSerialBaud38400, 7);
        EXPECT_EQ(hws_operation(port_, kWriteWord, 0x40900018, 0x00001234, nullptr, c.revision), kSerialOk);
        const std::vector<std::string> expected = {"p C 00", "p 0 18", "p 1 00", "p 2 90", c.cell3, "p 8 01",
                                                   "p 4 34", "p 5 12", "p 6 00", "p 7 00", "p C 01", "p C 00"};
        EXPECT_EQ(commandTexts(), expected);
        // The write lands; the baud select bits were cleared by it, so the monitor now runs at 115200.
        EXPECT_EQ(word(0x40900018), 0x1234U);
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

TEST_F(SerialExpanderTest, MonitorReadsAssembleCellsLeastSignificantFirst) {
    start("device sg0 ostrel\n    product 0x220\n    revision 1\n    memory 0x20000010 A5\n",
          programSetup(SerialProgram::OstrelMonitor));
    openAt(kSerialBaud38400, 7);
    uint32_t signature = 0;
    ASSERT_EQ(hws_operation(port_, kReadWord, 0xC000002C, 0, &signature, 1), kSerialOk);
    EXPECT_EQ(signature, 0x02200100U);
    const std::vector<std::string> dumps = {"d 4", "d 5", "d 6", "d 7"};
    auto texts = commandTexts();
    EXPECT_EQ(std::vector<std::string>(texts.end() - 4, texts.end()), dumps);
    EXPECT_EQ(texts[5], "p 8 00");

    serial_->clearRecord();
    uint8_t byte = 0;
    ASSERT_EQ(hws_operation(port_, kReadByte, 0x20000010, 0, &byte, 1), kSerialOk);
    EXPECT_EQ(byte, 0xA5);
    texts = commandTexts();
    EXPECT_EQ(texts[5], "p 8 02");
    EXPECT_EQ(texts.back(), "d 4");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string("d 4")), 1);
    EXPECT_EQ(hws_operation(port_, kReadWord, 0xC000002C, 0, nullptr, 1), kSerialBadArgument);
}

TEST_F(SerialExpanderTest, MonitorReplyFaultsFailTheOperation) {
    struct Case {
        const char* name;
        SerialFault fault;
    };
    const Case cases[] = {
        {"garbled dump", {"dump", std::nullopt, SerialFaultKind::Garbled}},
        {"short dump", {"dump", std::nullopt, SerialFaultKind::ShortReply, 10}},
        {"silent dump", {"dump", std::nullopt, SerialFaultKind::Silence}},
        {"wrong echo", {"echo", 2U, SerialFaultKind::WrongEcho}},
        {"missing echo", {"echo", 0U, SerialFaultKind::MissingEcho}},
        {"silent poke", {"poke", std::nullopt, SerialFaultKind::Silence}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start("device sg0 ostrel\n    revision 1\n", programSetup(SerialProgram::OstrelMonitor, {c.fault}));
        openAt(kSerialBaud38400, 7);
        uint32_t value = 0;
        EXPECT_NE(hws_operation(port_, kReadWord, 0xC000002C, 0, &value, 1), kSerialOk);
        EXPECT_EQ(serial_->faults().at(0).struck, 1U);
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

TEST_F(SerialExpanderTest, QuenzaRomFramesAndTheTrueWord) {
    start("device sg0 quenza\n    product 0x230\n    revision 2\n", programSetup(SerialProgram::QuenzaRom));
    openAt(kSerialBaud115200, 8);
    gChipTypeFlag = 1;
    ASSERT_EQ(hws_operation_quenza(port_, kWriteWord, 0x42400018, 0x11223344, nullptr, 0), kSerialOk);
    ASSERT_EQ(serial_->frames().size(), 1U);
    EXPECT_EQ(serial_->frames()[0].bytes, bytesOf({0x70, 0x04, 0x42, 0x40, 0x00, 0x18, 0x11, 0x22, 0x33, 0x44, 0x0D}));
    EXPECT_EQ(word(0x42400018), 0x11223344U);

    uint32_t signature = 0;
    ASSERT_EQ(hws_operation_quenza(port_, kReadWord, 0xC380002C, 0, &signature, 0), kSerialOk);
    EXPECT_EQ(serial_->frames()[1].bytes, bytesOf({0x67, 0x04, 0xC3, 0x80, 0x00, 0x2C, 0x0D}));
    EXPECT_EQ(signature, 0x02300200U);
    uint32_t cli = 0;
    ASSERT_EQ(hws_operation_quenza_Cli(port_, kReadWord, 0x42400018, 0, &cli, 0), kSerialOk);
    EXPECT_EQ(cli, 0x11223344U);

    // The boot ROM has no byte access; nothing is sent for one.
    const size_t before = serial_->hostBytes().size();
    uint8_t byte = 0;
    EXPECT_EQ(hws_operation_quenza(port_, kWriteByte, 0x42000000, 1, nullptr, 0), kSerialBadArgument);
    EXPECT_EQ(hws_operation_quenza(port_, kReadByte, 0x42000000, 0, &byte, 0), kSerialBadArgument);
    EXPECT_EQ(serial_->hostBytes().size(), before);
}

TEST_F(SerialExpanderTest, QuenzaRomRepliesOfTheWrongShapeFailAndStalePromptsShiftNothing) {
    struct Case {
        const char* name;
        SerialFault fault;
        bool fails;
    };
    const Case cases[] = {
        {"three data bytes", {"g", std::nullopt, SerialFaultKind::ShortReply, 3}, true},
        {"no prompt", {"g", std::nullopt, SerialFaultKind::ShortReply, 4}, true},
        {"garbled", {"g", std::nullopt, SerialFaultKind::Garbled}, true},
        {"silence", {"g", std::nullopt, SerialFaultKind::Silence}, true},
        {"stale prompts after a write", {"p", std::nullopt, SerialFaultKind::StalePrompt, 2}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start("device sg0 quenza\n    product 0x230\n    revision 2\n", programSetup(SerialProgram::QuenzaRom, {c.fault}));
        openAt(kSerialBaud115200, 8);
        gChipTypeFlag = 1;
        ASSERT_EQ(hws_operation_quenza(port_, kWriteWord, 0x42400018, 0x80000001, nullptr, 0), kSerialOk);
        uint32_t value = 0xDEAD;
        const ZELKOR_STATUS status = hws_operation_quenza(port_, kReadWord, 0x42400018, 0, &value, 0);
        if (c.fails) {
            EXPECT_EQ(status, kSerialFailed);
            EXPECT_EQ(value, 0U);
        } else {
            EXPECT_EQ(status, kSerialOk);
            EXPECT_EQ(value, 0x80000001U);
        }
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

TEST_F(SerialExpanderTest, OstrelBootstrapWritesAndReadsThroughBlockRead) {
    start("device sg0 ostrel\n    memory 0x20000100 78 56 34 12 9A\n", programSetup(SerialProgram::OstrelBootstrap));
    openAt(kSerialBaud115200, 8, 3000);
    ASSERT_EQ(pbs_operation(port_, kWriteWord, 0x20000200, 0xCAFEF00D, nullptr, 0), kSerialOk);
    ASSERT_EQ(pbs_operation(port_, kWriteByte, 0x20000204, 0x5A, nullptr, 0), kSerialOk);
    uint32_t value = 0;
    ASSERT_EQ(pbs_operation(port_, kReadWord, 0x20000100, 0, &value, 0), kSerialOk);
    EXPECT_EQ(value, 0x12345678U);
    uint8_t byte = 0;
    ASSERT_EQ(pbs_operation(port_, kReadByte, 0x20000104, 0, &byte, 0), kSerialOk);
    EXPECT_EQ(byte, 0x9A);
    const auto frames = serial_->frames();
    ASSERT_EQ(frames.size(), 4U);
    EXPECT_EQ(frames[0].bytes, bytesOf({'w', 'w', ' ', 0x00, 0x02, 0x00, 0x20, 0x0D, 0xF0, 0xFE, 0xCA}));
    EXPECT_EQ(frames[1].bytes, bytesOf({'w', 'b', ' ', 0x04, 0x02, 0x00, 0x20, 0x5A}));
    EXPECT_EQ(frames[2].bytes, bytesOf({'r', 'B', ' ', 0x00, 0x01, 0x00, 0x20, 0x04, 0x00, 0x00, 0x00}));
    EXPECT_EQ(frames[3].bytes, bytesOf({'r', 'B', ' ', 0x04, 0x01, 0x00, 0x20, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(word(0x20000200), 0xCAFEF00DU);
    EXPECT_EQ(word(0x20000204) & 0xFF, 0x5AU);
    // Paced: one inter-byte delay per frame byte.
    EXPECT_EQ(std::count(gSerialSleeps.begin(), gSerialSleeps.end(), 3000U), 11 + 8 + 11 + 11);
}

TEST_F(SerialExpanderTest, QuenzaBootstrapFramesAndReplyLengths) {
    start("device sg0 quenza\n    memory 0x20000100 78 56 34 12 9A\n", programSetup(SerialProgram::QuenzaBootstrap));
    openAt(kSerialBaud57600, 8, 300);
    gChipTypeFlag = 1;
    ASSERT_EQ(pbs_operation_quenza(port_, kWriteWord, 0x20000200, 0x11223344, nullptr, 0), kSerialOk);
    ASSERT_EQ(pbs_operation_quenza(port_, kWriteByte, 0x20000208, 0x77, nullptr, 0), kSerialOk);
    uint32_t value = 0;
    ASSERT_EQ(pbs_operation_quenza(port_, kReadWord, 0x20000100, 0, &value, 0), kSerialOk);
    EXPECT_EQ(value, 0x12345678U);
    uint8_t byte = 0;
    ASSERT_EQ(pbs_operation_quenza(port_, kReadByte, 0x20000104, 0, &byte, 0), kSerialOk);
    EXPECT_EQ(byte, 0x9A);
    const auto frames = serial_->frames();
    ASSERT_EQ(frames.size(), 4U);
    EXPECT_EQ(frames[0].bytes, bytesOf({0xCA, 0xFE, 0x01, 0x00, 0x02, 0x00, 0x20, 0x01, 0x00, 0x00, 0x00, 0x44, 0x33,
                                        0x22, 0x11}));
    EXPECT_EQ(frames[1].bytes, bytesOf({0xCA, 0xFE, 0x03, 0x08, 0x02, 0x00, 0x20, 0x01, 0x00, 0x00, 0x00, 0x77}));
    EXPECT_EQ(frames[2].bytes, bytesOf({0xCA, 0xFE, 0x04, 0x00, 0x01, 0x00, 0x20, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(frames[3].bytes, bytesOf({0xCA, 0xFE, 0x0E, 0x04, 0x01, 0x00, 0x20, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(word(0x20000200), 0x11223344U);
}

TEST_F(SerialExpanderTest, QuenzaBootstrapReadsOfAnotherLengthFail) {
    struct Case {
        const char* name;
        SerialFault fault;
    };
    const Case cases[] = {
        {"eight of nine", {"rw", std::nullopt, SerialFaultKind::ShortReply, 8}},
        {"stale prompts make it longer", {"rw", std::nullopt, SerialFaultKind::StalePrompt, 1}},
        {"nothing", {"rw", std::nullopt, SerialFaultKind::Silence}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start("device sg0 quenza\n    memory 0x20000100 78 56 34 12\n", programSetup(SerialProgram::QuenzaBootstrap, {c.fault}));
        openAt(kSerialBaud57600, 8);
        uint32_t value = 0xFFFF;
        EXPECT_EQ(pbs_operation_quenza(port_, kReadWord, 0x20000100, 0, &value, 0), kSerialFailed);
        EXPECT_NE(value, 0x12345678U);
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

TEST_F(SerialExpanderTest, BootstrapFlashWriteAndBlockRead) {
    struct Case {
        const char* name;
        SerialProgram program;
        uint32_t baud;
        std::vector<uint8_t> command;
    };
    const Case cases[] = {
        {"Ostrel", SerialProgram::OstrelBootstrap, kSerialBaud115200,
         bytesOf({'f', 3, 0x00, 0x10, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00})},
        {"Quenza", SerialProgram::QuenzaBootstrap, kSerialBaud57600,
         bytesOf({0xCA, 0xFE, 0x07, 0x00, 0x10, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool ostrel = c.program == SerialProgram::OstrelBootstrap;
        start(ostrel ? "device sg0 ostrel\n" : "device sg0 quenza\n", programSetup(c.program));
        openAt(c.baud, 8);
        COM_INSTANCE instance{};
        instance.port = port_;
        const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6};
        ASSERT_EQ((ostrel ? pbs_f_operation : pbs_f_operation_quenza)(&instance, 3, 0x1000, data.data(), 6), 0U);
        const auto host = serial_->hostBytes();
        std::vector<uint8_t> expected = c.command;
        expected.insert(expected.end(), data.begin(), data.end());
        EXPECT_EQ(host, expected);
        std::vector<uint8_t> flash(6);
        serial_->inspect([&](zsim::Expander& e) {
            e.flash().read(0x1000, flash);
            return 0;
        });
        EXPECT_EQ(flash, data);

        std::vector<uint8_t> back(6);
        uint32_t got = 0;
        const uint32_t flashBase = ostrel ? 0x14000000 : 0x10000000;
        ASSERT_EQ((ostrel ? pbs_rB_operation : pbs_rB_operation_Gen3)(&instance, back.data(), flashBase + 0x1000, 6, &got), 0U);
        EXPECT_EQ(got, 6U);
        EXPECT_EQ(back, data);
        EXPECT_EQ(pbs_f_operation(&instance, 3, 0, nullptr, 6), 5U);
        EXPECT_EQ(pbs_f_operation(nullptr, 3, 0, data.data(), 6), 4U);
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

TEST_F(SerialExpanderTest, FlashWriteWithoutCommandAckSendsNoData) {
    start("device sg0 ostrel\n", programSetup(SerialProgram::OstrelBootstrap, {{"f", std::nullopt, SerialFaultKind::Garbled}}));
    openAt(kSerialBaud115200, 8);
    COM_INSTANCE instance{};
    instance.port = port_;
    const std::vector<uint8_t> data = {9, 9, 9, 9};
    EXPECT_EQ(pbs_f_operation(&instance, 0, 0x2000, data.data(), 4), 1U);
    EXPECT_EQ(serial_->hostBytes().size(), 10U);
}

TEST_F(SerialExpanderTest, ProbesTellEachProgram) {
    struct Case {
        const char* name;
        const char* scenario;
        SerialProgram program;
        uint32_t romLength;
        uint32_t baud;
        uint32_t bits;
        uint32_t chipTypeFlag;
        uint32_t connectionFlag;
        ComProgram expected;
        uint32_t count;
    };
    const Case cases[] = {
        {"Ostrel monitor", "device sg0 ostrel\n", SerialProgram::OstrelMonitor, 13, kSerialBaud38400, 7, 0, 2,
         ComProgram::OstrelMonitor, 4},
        {"Ostrel bootstrap", "device sg0 ostrel\n", SerialProgram::OstrelBootstrap, 13, kSerialBaud115200, 8, 0, 2,
         ComProgram::OstrelBootstrap, 1},
        {"Quenza ROM, short text", "device sg0 quenza\n", SerialProgram::QuenzaRom, 13, kSerialBaud115200, 8, 1, 2,
         ComProgram::QuenzaRom, 13},
        {"Quenza ROM, long text", "device sg0 quenza\n", SerialProgram::QuenzaRom, 18, kSerialBaud115200, 8, 1, 2,
         ComProgram::QuenzaRom, 18},
        {"Quenza ROM before the flag", "device sg0 quenza\n", SerialProgram::QuenzaRom, 13, kSerialBaud115200, 8, 0, 2,
         ComProgram::Other, 1},
        {"Quenza bootstrap", "device sg0 quenza\n", SerialProgram::QuenzaBootstrap, 13, kSerialBaud57600, 8, 1, 3,
         ComProgram::QuenzaBootstrap, 5},
        {"Quenza bootstrap seen too fast: nothing crosses", "device sg0 quenza\n", SerialProgram::QuenzaBootstrap, 13,
         kSerialBaud115200, 8, 0, 2, ComProgram::None, 0},
        {"Ostrel monitor at 57600: junk", "device sg0 ostrel\n", SerialProgram::OstrelMonitor, 13, kSerialBaud57600, 8, 0, 2,
         ComProgram::Other, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SerialSetup setup = programSetup(c.program);
        setup.romProbeLength = c.romLength;
        start(c.scenario, setup);
        openAt(c.baud, c.bits);
        gChipTypeFlag = c.chipTypeFlag;
        gQuenzaConnectionFlag = c.connectionFlag;
        uint8_t answer[50];
        uint32_t count = 0;
        readConnectionPrompt(port_, answer, sizeof answer, &count, 0);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(classifyConnectionAnswer(answer, count), c.expected);
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

TEST_F(SerialExpanderTest, QuenzaBaudSwitchAndReturnToTheRom) {
    start("device sg0 quenza\n", programSetup(SerialProgram::QuenzaBootstrap));
    openAt(kSerialBaud57600, 8);
    ASSERT_EQ(pbs_setBootstrapBaudrate_115200(port_, 0), 0U);
    const SERIAL_PORT_SETTINGS fast{kSerialBaud115200, 8, 1, 0, 0, 0, 0};
    ASSERT_EQ(osal_serialPortSetParam(port_, &fast), kSerialOk);
    ASSERT_EQ(pbs_setBootstrapBaudrate_115200(port_, 1), 0U);
    uint8_t byte = 0;
    uint32_t got = 0;
    ASSERT_EQ(osal_serialPortRead(port_, &byte, 1, &got), kSerialOk);
    EXPECT_EQ(got, 1U);
    ASSERT_EQ(pbs_SwitchToSdb(port_), 0U);
    gChipTypeFlag = 1;
    uint32_t value = 0;
    ASSERT_EQ(hws_operation_quenza(port_, kReadWord, 0xC380002C, 0, &value, 0), kSerialOk);
    EXPECT_EQ(serial_->program(), SerialProgram::QuenzaRom);
    EXPECT_EQ(serial_->hostBytes(), bytesOf({0xCA, 0xFE, 0x0A, 0x00, 0, 0, 0, 0xCA, 0xFE, 0x0B, 0x67, 0x04, 0xC3, 0x80, 0x00,
                                             0x2C, 0x0D}));
}

} // namespace
