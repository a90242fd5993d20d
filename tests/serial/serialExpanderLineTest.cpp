// The serial expander's side of the line where the product's flushes and damaged frames meet it: a flush
// finds every byte written already taken and every answer to it already sent, however late the
// expander's thread runs; a block read of a length no bootstrap serves costs the expander nothing.
#include "serialFixture.h"

#include <cstring>

namespace {

using zsim::SerialProgram;
using zsim::SerialSetup;

SerialSetup programSetup(SerialProgram program) {
    SerialSetup setup;
    setup.start = program;
    return setup;
}

std::vector<uint8_t> littleEndian(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

void append(std::vector<uint8_t>& frame, const std::vector<uint8_t>& bytes) {
    frame.insert(frame.end(), bytes.begin(), bytes.end());
}

TEST_F(SerialExpanderTest, FlushesFindTheWrittenBytesTakenAndTheirAnswersSent) {
    constexpr uint32_t kAddress = 0x20000200;
    constexpr uint32_t kRounds = 200;
    start("device sg0 quenza\n", programSetup(SerialProgram::QuenzaBootstrap));
    openAt(kSerialBaud57600, 8);
    for (uint32_t round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // A word write in one piece, flushed both ways the moment it is written.
        std::vector<uint8_t> frame = {0xCA, 0xFE, 0x01};
        append(frame, littleEndian(kAddress));
        append(frame, littleEndian(1));
        append(frame, littleEndian(round));
        uint32_t written = 0;
        ASSERT_EQ(osal_serialPortWrite(port_, frame.data(), static_cast<uint32_t>(frame.size()), &written, 0), kSerialOk);
        ASSERT_EQ(osal_serialPortEmptyBuffer(port_, kSerialFlushOutput), kSerialOk);
        ASSERT_EQ(osal_serialPortEmptyBuffer(port_, kSerialFlushInput), kSerialOk);
        ASSERT_EQ(serial_->frames().size(), round);
        ASSERT_EQ(word(kAddress), round);
        // The answer went with the input flush: nothing follows it.
        uint8_t reply[8] = {};
        uint32_t got = 0;
        osal_serialPortRead(port_, reply, sizeof reply, &got);
        ASSERT_EQ(got, 0U);
    }
    EXPECT_EQ(serial_->hostBytes().size(), size_t{kRounds} * 15);
}

TEST_F(SerialExpanderTest, BlockReadsLongerThanABootstrapServesAreIgnored) {
    struct Case {
        const char* name;
        SerialProgram program;
        uint32_t baud;
        uint32_t length;
    };
    // 0x204272A8: an "rB " frame cut after its first length byte, completed by the next "rB ".
    const Case cases[] = {
        {"Ostrel, a cut frame's length", SerialProgram::OstrelBootstrap, kSerialBaud115200, 0x204272A8},
        {"Ostrel, the largest length", SerialProgram::OstrelBootstrap, kSerialBaud115200, 0xFFFFFFFF},
        {"Quenza, one past the longest served", SerialProgram::QuenzaBootstrap, kSerialBaud57600, 4097},
        {"Quenza, the largest length", SerialProgram::QuenzaBootstrap, kSerialBaud57600, 0xFFFFFFFF},
    };
    constexpr uint32_t kAddress = 0x20000100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool ostrel = c.program == SerialProgram::OstrelBootstrap;
        start(ostrel ? "device sg0 ostrel\n    memory 0x20000100 78 56 34 12\n"
                     : "device sg0 quenza\n    memory 0x20000100 78 56 34 12\n",
              programSetup(c.program));
        openAt(c.baud, 8);
        std::vector<uint8_t> frame = ostrel ? std::vector<uint8_t>{'r', 'B', ' '} : std::vector<uint8_t>{0xCA, 0xFE, 0x05};
        append(frame, littleEndian(kAddress));
        append(frame, littleEndian(c.length));
        uint32_t written = 0;
        ASSERT_EQ(osal_serialPortWrite(port_, frame.data(), static_cast<uint32_t>(frame.size()), &written, 0), kSerialOk);
        uint8_t reply[64] = {};
        uint32_t got = 0;
        osal_serialPortRead(port_, reply, sizeof reply, &got);
        EXPECT_EQ(got, 0U);
        ASSERT_EQ(serial_->frames().size(), 1U);
        EXPECT_EQ(serial_->frames()[0].command, "rB");

        // The bootstrap still serves the next block read.
        COM_INSTANCE instance{};
        instance.port = port_;
        uint8_t data[4] = {};
        got = 0;
        EXPECT_EQ((ostrel ? pbs_rB_operation : pbs_rB_operation_Gen3)(&instance, data, kAddress, 4, &got), 0U);
        EXPECT_EQ(got, 4U);
        const uint8_t expected[4] = {0x78, 0x56, 0x34, 0x12};
        EXPECT_EQ(std::memcmp(data, expected, 4), 0);
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

} // namespace
