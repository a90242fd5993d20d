// Encoding of the buffer command and of the frames, without a connection.
#include "osal/osalTcp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Cdb = std::vector<uint8_t>;

struct CdbCase {
    const char* what;
    uint8_t operation;
    uint8_t bufferId;
    uint32_t offset;
    uint32_t length;
    uint8_t descriptorFlag;
    Cdb expected;
};

TEST(TcpCdb, EncodesEachBufferClass) {
    // clang-format off
    const CdbCase cases[] = {
        {"register read",                                    0x3C, 0xC2, 0xC000004C, 4,        0, {0x3C, 0x01, 0xC2, 0xC0, 0x00, 0x00, 0x4C, 0x00, 0x04, 0x00}},
        {"memory write, descriptor flag ignored",            0x3B, 0xC0, 0x12345678, 0xABCD,   1, {0x3B, 0x01, 0xC0, 0x12, 0x34, 0x56, 0x78, 0xAB, 0xCD, 0x00}},
        {"last register buffer",                             0x3C, 0xDF, 0x01020304, 0xFFFF,   0, {0x3C, 0x01, 0xDF, 0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0x00}},
        {"buffer below the register range ignores the flag", 0x3C, 0xBF, 0x123456,   0x10,     1, {0x3C, 0x02, 0xBF, 0x12, 0x34, 0x56, 0x00, 0x00, 0x10, 0x00}},
        {"configuration pages get no page-id form",          0x3C, 0xE6, 0xFF10,     4,        0, {0x3C, 0x02, 0xE6, 0x00, 0xFF, 0x10, 0x00, 0x00, 0x04, 0x00}},
        {"reset control follows the descriptor flag",        0x3B, 0xE9, 0,          3,        1, {0x3B, 0x03, 0xE9, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}},
        {"signature, data mode",                             0x3C, 0xE0, 4,          4,        0, {0x3C, 0x02, 0xE0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x04, 0x00}},
        {"signature, descriptor mode",                       0x3C, 0xE0, 4,          4,        1, {0x3C, 0x03, 0xE0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x04, 0x00}},
        {"buffer 0 in descriptor mode",                      0x3C, 0x00, 0,          0x20,     1, {0x3C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00}},
        {"flash region, largest 24-bit fields",              0x3B, 0x10, 0xFFFFFF,   0xFFFFFF, 1, {0x3B, 0x02, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}},
    };
    // clang-format on
    for (const CdbCase& c : cases) {
        uint8_t cdb[kTcpCdbSize];
        ASSERT_TRUE(tcpPrepareCdb(cdb, c.operation, c.bufferId, c.offset, c.length, c.descriptorFlag))
            << c.what;
        EXPECT_EQ(Cdb(cdb, cdb + kTcpCdbSize), c.expected) << c.what;
    }
}

TEST(TcpCdb, RefusesValuesTheirFieldCannotCarry) {
    const struct {
        const char* what;
        uint8_t bufferId;
        uint32_t offset;
        uint32_t length;
    } cases[] = {
        {"register length above 16 bits", 0xC2, 0, 0x10000},
        {"memory length above 16 bits", 0xC0, 0x14000000, 0x12345},
        {"offset above 24 bits", 0xE0, 0x1000000, 4},
        {"length above 24 bits", 0x10, 0, 0x1000000},
    };
    for (const auto& c : cases) {
        uint8_t cdb[kTcpCdbSize];
        std::memset(cdb, 0xAA, sizeof cdb);
        EXPECT_FALSE(tcpPrepareCdb(cdb, 0x3C, c.bufferId, c.offset, c.length, 0)) << c.what;
        EXPECT_EQ(Cdb(cdb, cdb + kTcpCdbSize), Cdb(kTcpCdbSize, 0)) << c.what;
    }
}

TEST(TcpFrames, SasAddressQueryLayout) {
    TCP_SAS_ADDRESS_QUERY query;
    tcpBuildSasAddressQuery(query, 0x5A);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&query);
    EXPECT_EQ(Cdb(bytes, bytes + sizeof query),
              (Cdb{0x08, 0x5A, 0x08, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x03, 0xFC}));
}

TEST(TcpFrames, ReadAndWriteHeadersDifferInTypeAndBytesSent) {
    const uint8_t tunnel[kTcpTunnelAddressSize] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t cdb[kTcpCdbSize];
    ASSERT_TRUE(tcpPrepareCdb(cdb, 0x3B, 0x10, 0x1000, 1024, 0));
    TCP_REQUEST_HEADER write;
    tcpBuildRequestHeader(write, kTcpFrameWrite, 9, 1024, tunnel, cdb);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&write);
    Cdb expected = {0x01, 0x09, 0x0A, 0x00, 0x00, 0x00, 0x04, 0x32, 0x00, 0x00, 0x04, 0x32,
                    0x00, 0x04, 0x93, 0xE0, 1,    2,    3,    4,    5,    6,    7,    8};
    expected.insert(expected.end(), 11, 0x00);
    expected.insert(expected.end(), {0x0A, 0x00, 0x00, 0x04, 0x00});
    expected.insert(expected.end(), cdb, cdb + kTcpCdbSize);
    EXPECT_EQ(Cdb(bytes, bytes + sizeof write), expected);

    TCP_REQUEST_HEADER read;
    tcpBuildRequestHeader(read, kTcpFrameRead, 9, 1024, tunnel, cdb);
    const auto* readBytes = reinterpret_cast<const uint8_t*>(&read);
    expected[0] = 0x02;
    expected[6] = 0x00; // a read sends only its 50 header bytes
    EXPECT_EQ(Cdb(readBytes, readBytes + sizeof read), expected);
}

TEST(TcpFrames, ParsersWaitForTheWholeHeader) {
    uint8_t frame[32] = {};
    frame[0] = kTcpFrameData;
    frame[27] = 0x04;
    uint32_t value = 0;
    EXPECT_FALSE(tcpParseDataHeader(frame, 27, &value));
    ASSERT_TRUE(tcpParseDataHeader(frame, 28, &value));
    EXPECT_EQ(value, 4u);
    EXPECT_FALSE(tcpParseResponse(frame, 28, &value)) << "a DATA frame is not a RESPONSE";

    frame[0] = kTcpFrameResponse;
    frame[24] = 0x01;
    frame[27] = 0x08;
    EXPECT_FALSE(tcpParseResponse(frame, 27, &value));
    ASSERT_TRUE(tcpParseResponse(frame, 28, &value));
    EXPECT_EQ(value, 0x01000008u);
}

TEST(TcpFrames, SasAddressReplyNeedsAllItsFields) {
    uint8_t reply[32];
    for (unsigned i = 0; i < sizeof reply; ++i)
        reply[i] = static_cast<uint8_t>(i);
    uint32_t high = 0xDEAD, low = 0xBEEF;
    uint8_t tunnel[kTcpTunnelAddressSize] = {};
    EXPECT_FALSE(tcpParseSasAddressReply(reply, 31, &high, &low, tunnel));
    EXPECT_EQ(high, 0xDEADu);
    EXPECT_EQ(low, 0xBEEFu);
    ASSERT_TRUE(tcpParseSasAddressReply(reply, 32, &high, &low, tunnel));
    EXPECT_EQ(high, 0x10111213u);
    EXPECT_EQ(low, 0x14151617u);
    EXPECT_EQ(Cdb(tunnel, tunnel + sizeof tunnel), (Cdb{24, 25, 26, 27, 28, 29, 30, 31}));
}

} // namespace
