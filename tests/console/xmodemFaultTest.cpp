// The product's XMODEM sender and receiver against the simulator's peer misbehaving in one way at a
// time, in virtual time: status, the bytes stored (never past the size), what the product sent, and how
// long the line was held.
#include "tests/console/virtualLine.h"

#include "console/XmodemPeer.h"

#include "osal/xmodem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using zsim::XmodemPeer;
using Fault = zsim::XmodemPeerFault;

// Data holding every control byte of the protocol.
std::vector<uint8_t> pattern(uint32_t size) {
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    const uint8_t controls[] = {0x01, 0x04, 0x18, 0x1A, 0x06, 0x15};
    for (uint32_t i = 0; i < size && i < sizeof controls; ++i)
        data[i] = controls[i];
    return data;
}

uint32_t countByte(const std::vector<uint8_t>& bytes, uint8_t value) {
    return static_cast<uint32_t>(std::count(bytes.begin(), bytes.end(), value));
}

bool endsWithCancel(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 2 && bytes[bytes.size() - 1] == XMODEM_CAN && bytes[bytes.size() - 2] == XMODEM_CAN;
}

constexpr uint8_t kGuard = 0xA5;
constexpr uint32_t kGuardBytes = 256;

struct ReceiveCase {
    const char* name;
    Fault fault;
    uint32_t at;
    uint32_t size;
    ZELKOR_STATUS status;
    bool cancels;       // the product ends with CAN CAN
    uint32_t naks;      // NAKs the product sends, 0: not checked
    uint64_t maxTimeMs; // virtual time the transfer may take
};

class XmodemReceiveFaults : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(XmodemReceiveFaults, StatusDataAndBounds) {
    const ReceiveCase& c = GetParam();
    const std::vector<uint8_t> data = pattern(c.size);
    XmodemPeer peer(XmodemPeer::Role::Sender, data, c.fault, c.at);
    VirtualLine line(peer);
    std::vector<uint8_t> buffer(c.size + kGuardBytes, kGuard);

    const ZELKOR_STATUS status = xFileRcveByte(line, nullptr, buffer.data(), c.size);

    EXPECT_EQ(status, c.status);
    EXPECT_TRUE(std::all_of(buffer.begin() + c.size, buffer.end(), [](uint8_t b) { return b == kGuard; }))
        << "bytes stored past the size";
    if (c.status == XMODEM_SUCCESS) {
        EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
        EXPECT_TRUE(peer.stats().finished); // the end was acknowledged
    }
    EXPECT_EQ(endsWithCancel(line.written()), c.cancels);
    if (c.naks != 0) {
        EXPECT_EQ(countByte(line.written(), XMODEM_NAK), c.naks);
    }
    EXPECT_LE(line.nowMs(), c.maxTimeMs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, XmodemReceiveFaults,
    ::testing::Values(
        ReceiveCase{"clean", Fault::None, 1, 300, XMODEM_SUCCESS, false, 1, 1000},
        // Ten NAKs of a second each, then failure: not success with nothing stored.
        ReceiveCase{"silentSender", Fault::Silent, 1, 300, XMODEM_ERROR, false, 10, 10500},
        ReceiveCase{"repeatedBlock", Fault::RepeatBlock, 2, 300, XMODEM_SUCCESS, false, 1, 1000},
        ReceiveCase{"lostBlock", Fault::WrongNumber, 2, 300, XMODEM_ERROR, true, 1, 1000},
        ReceiveCase{"badChecksum", Fault::BadChecksum, 2, 300, XMODEM_SUCCESS, false, 2, 1000},
        ReceiveCase{"badComplement", Fault::BadComplement, 1, 300, XMODEM_SUCCESS, false, 2, 1000},
        // The short block is judged on its own bytes, never on an earlier block's.
        ReceiveCase{"shortBlock", Fault::ShortBlock, 2, 300, XMODEM_SUCCESS, false, 2, 2000},
        ReceiveCase{"block133", Fault::LongBlock, 2, 300, XMODEM_SUCCESS, false, 0, 2000},
        ReceiveCase{"cancel", Fault::CancelAt, 2, 300, XMODEM_CANCELLED, false, 1, 1000},
        ReceiveCase{"eotBeforeSize", Fault::EarlyEot, 3, 300, XMODEM_ERROR, true, 1, 1000},
        // A burst of bytes that start no block is given up, not taken for the sender's cancel.
        ReceiveCase{"junk", Fault::Junk, 2, 300, XMODEM_ERROR, true, 1, 1000},
        // A far end that answers one NAK in ten with a stray byte, and the same with a cut block after
        // every 99 stray bytes: given up within the receive's allowance, not followed for hours.
        ReceiveCase{"strayOnNak", Fault::StrayOnNak, 1, 1, XMODEM_ERROR, true, 0, xmodemReceiveAllowanceMs(1)},
        ReceiveCase{"strayAndCut", Fault::StrayAndCut, 1, 16, XMODEM_ERROR, true, 0,
                    xmodemReceiveAllowanceMs(16)},
        // Ten NAKs per silent wait between blocks, then failure.
        ReceiveCase{"stall", Fault::StallAt, 2, 300, XMODEM_ERROR, true, 11, 11000},
        ReceiveCase{"lineDropped", Fault::DropLine, 2, 300, XMODEM_ERROR, false, 0, 11000}),
    [](const auto& info) { return std::string(info.param.name); });

// The deadline follows from the size: ten NAK rounds to start, as many per block and for the end.
TEST(XmodemReceive, AllowanceFollowsTheSize) {
    EXPECT_EQ(xmodemReceiveAllowanceMs(1), 30000u);
    EXPECT_EQ(xmodemReceiveAllowanceMs(128), 30000u);
    EXPECT_EQ(xmodemReceiveAllowanceMs(129), 40000u);
    EXPECT_EQ(xmodemReceiveAllowanceMs(65536), 10000u + 513u * 10000u);
}

// A sender that trickles its blocks a byte at a time, too slow for the deadline, is given up at the
// deadline: not before it, not after it.
TEST(XmodemReceive, SlowSenderIsCutOffAtTheDeadline) {
    for (const uint32_t size : {1u, 300u}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> data = pattern(size);
        XmodemPeer peer(XmodemPeer::Role::Sender, data, Fault::Dribble);
        VirtualLine line(peer);
        std::vector<uint8_t> buffer(size + kGuardBytes, kGuard);
        EXPECT_EQ(xFileRcveByte(line, nullptr, buffer.data(), size), XMODEM_ERROR);
        EXPECT_EQ(line.nowMs(), xmodemReceiveAllowanceMs(size));
        EXPECT_TRUE(endsWithCancel(line.written()));
        EXPECT_GE(peer.stats().cansReceived, 1u); // the sender was told
        EXPECT_TRUE(std::all_of(buffer.begin() + size, buffer.end(), [](uint8_t b) { return b == kGuard; }));
    }
}

// Every size a transfer can end on stores exactly its bytes.
TEST(XmodemReceive, SizesStoreExactlyTheirBytes) {
    for (uint32_t size : {1u, 127u, 128u, 129u, 300u, 65536u}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> data = pattern(size);
        XmodemPeer peer(XmodemPeer::Role::Sender, data);
        VirtualLine line(peer);
        std::vector<uint8_t> buffer(size + kGuardBytes, kGuard);
        ASSERT_EQ(xFileRcveByte(line, nullptr, buffer.data(), size), XMODEM_SUCCESS);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
        EXPECT_TRUE(std::all_of(buffer.begin() + size, buffer.end(), [](uint8_t b) { return b == kGuard; }));
        EXPECT_TRUE(peer.stats().finished);
    }
}

struct SendCase {
    const char* name;
    Fault fault;
    uint32_t at;
    ZELKOR_STATUS status;
    bool sendsNothing; // not one byte reaches the line
    bool cancels;
    uint32_t eots; // EOTs the peer sees
    uint64_t minTimeMs;
    uint64_t maxTimeMs;
};

class XmodemSendFaults : public ::testing::TestWithParam<SendCase> {};

TEST_P(XmodemSendFaults, StatusAndBounds) {
    const SendCase& c = GetParam();
    const std::vector<uint8_t> data = pattern(300);
    XmodemPeer peer(XmodemPeer::Role::Receiver, {}, c.fault, c.at);
    VirtualLine line(peer);

    const ZELKOR_STATUS status = xFileTransByte(line, nullptr, data.data(), static_cast<uint32_t>(data.size()));

    EXPECT_EQ(status, c.status);
    EXPECT_EQ(line.written().empty(), c.sendsNothing);
    EXPECT_EQ(endsWithCancel(line.written()), c.cancels);
    EXPECT_EQ(peer.stats().eotsReceived, c.eots);
    if (c.status == XMODEM_SUCCESS) {
        ASSERT_EQ(peer.data().size(), 384u);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), peer.data().begin()));
        EXPECT_TRUE(std::all_of(peer.data().begin() + 300, peer.data().end(),
                                [](uint8_t b) { return b == XMODEM_PAD; }));
        EXPECT_TRUE(peer.stats().finished);
    }
    EXPECT_GE(line.nowMs(), c.minTimeMs);
    EXPECT_LE(line.nowMs(), c.maxTimeMs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, XmodemSendFaults,
    ::testing::Values(
        SendCase{"clean", Fault::None, 1, XMODEM_SUCCESS, false, false, 1, 0, 1000},
        // A receiver that never starts holds the sender for a bounded time.
        SendCase{"noStart", Fault::NoStart, 1, XMODEM_ERROR, true, false, 0, 20000, 20000},
        SendCase{"quit", Fault::QuitAtStart, 1, XMODEM_ERROR, true, false, 0, 0, 1000},
        SendCase{"cancelAtStart", Fault::CancelStart, 1, XMODEM_ERROR, true, false, 0, 0, 1000},
        SendCase{"nakStorm", Fault::NakStorm, 1, XMODEM_ERROR, false, true, 0, 0, 1000},
        SendCase{"cancelBlock", Fault::CancelBlock, 2, XMODEM_ERROR, false, false, 0, 0, 1000},
        SendCase{"lostAck", Fault::LoseAck, 2, XMODEM_SUCCESS, false, false, 1, 1000, 3000},
        // A receiver that answers EOT after a quiet second sees one EOT.
        SendCase{"eotAfterQuiet", Fault::EotAfterQuiet, 1, XMODEM_SUCCESS, false, false, 1, 1000, 2000},
        SendCase{"eotUnanswered", Fault::EotUnanswered, 1, XMODEM_ERROR, false, false, 10, 15000, 21000},
        SendCase{"lineDropped", Fault::DropLine, 2, XMODEM_ERROR, false, false, 0, 0, 11000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(XmodemSend, NakStormResendsAtMostTenTimes) {
    const std::vector<uint8_t> data = pattern(300);
    XmodemPeer peer(XmodemPeer::Role::Receiver, {}, Fault::NakStorm);
    VirtualLine line(peer);
    EXPECT_EQ(xFileTransByte(line, nullptr, data.data(), 300), XMODEM_ERROR);
    EXPECT_EQ(peer.stats().blocksReceived, 11u); // the block and ten resends
}

TEST(XmodemSend, UnansweredEotsAreSpacedForAQuietSecond) {
    const std::vector<uint8_t> data = pattern(10);
    XmodemPeer peer(XmodemPeer::Role::Receiver, {}, Fault::EotUnanswered);
    VirtualLine line(peer);
    EXPECT_EQ(xFileTransByte(line, nullptr, data.data(), 10), XMODEM_ERROR);
    const auto& times = peer.stats().eotTimes;
    ASSERT_EQ(times.size(), 10u);
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], 1500u);
}

// The block builder against hand-computed bytes: number, complement, padding, checksum.
TEST(XmodemBlock, BuildsAndJudges) {
    const uint8_t data[3] = {0x01, 0x02, 0xFF};
    const XmodemBlock block = xmodemBuildBlock(0x42, data, 3);
    EXPECT_EQ(block[0], XMODEM_SOH);
    EXPECT_EQ(block[1], 0x42);
    EXPECT_EQ(block[2], 0xBD);
    EXPECT_EQ(block[3], 0x01);
    EXPECT_EQ(block[5], 0xFF);
    EXPECT_EQ(block[6], XMODEM_PAD);
    EXPECT_EQ(block[130], XMODEM_PAD);
    // 1 + 2 + 255 + 125 * 26 = 3508 = 0xDB4
    EXPECT_EQ(block[131], 0xB4);
    EXPECT_EQ(xmodemCheckBlock(&block[1]), XmodemVerdict::Good);
    XmodemBlock bad = block;
    bad[131] ^= 1;
    EXPECT_EQ(xmodemCheckBlock(&bad[1]), XmodemVerdict::BadChecksum);
    bad = block;
    bad[2] ^= 1;
    EXPECT_EQ(xmodemCheckBlock(&bad[1]), XmodemVerdict::BadComplement);
}

} // namespace
