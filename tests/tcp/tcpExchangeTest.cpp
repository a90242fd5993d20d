// The request protocol against a scripted expander: exact frames, busy answers, reassembly, short
// and oversized replies, dropped and silent connections.
#include "tcpFixture.h"

namespace {

const Bytes kTunnel = {0x50, 0x06, 0x05, 0xB0, 0x00, 0x11, 0x22, 0x3F};
constexpr size_t kReadRequest = sizeof(TCP_REQUEST_HEADER);
constexpr size_t kWriteRequest4 = sizeof(TCP_REQUEST_HEADER) + 4;

Bytes queryReply(uint32_t high, uint32_t low, const Bytes& tunnel) {
    Bytes reply(16, 0);
    reply[0] = 0x08;
    for (uint32_t half : {high, low})
        for (int i = 0; i < 4; ++i)
            reply.push_back(static_cast<uint8_t>(half >> (24 - 8 * i)));
    return reply + tunnel;
}

// The read request of 4 bytes of buffer 0xC2 at 0xC000004C.
Bytes registerReadRequest(uint8_t transactionId, const Bytes& tunnel) {
    Bytes request = {0x02, transactionId, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x32,
                     0x00, 0x00,          0x00, 0x36, 0x00, 0x04, 0x93, 0xE0};
    request = request + tunnel + Bytes(11, 0x00);
    return request +
           Bytes{0x0A, 0x00, 0x00, 0x00, 0x04, 0x3C, 0x01, 0xC2, 0xC0, 0x00, 0x00, 0x4C, 0x00, 0x04, 0x00};
}

Bytes slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + from, bytes.begin() + to);
}

class TcpExchange : public TcpPeerTest {
  protected:
    ZELKOR_STATUS readRegister(Bytes& out) {
        out.assign(4, 0xEE);
        return tcpReadBuffer(socket_, 0xC2, out.data(), 0xC000004C, 4, kTunnel.data(), 0);
    }
    ZELKOR_STATUS writeRegister(const Bytes& value) {
        return tcpWriteBuffer(socket_, 0xC2, value.data(), 0xC00000A0, static_cast<uint32_t>(value.size()),
                              kTunnel.data(), 0);
    }
};

TEST_F(TcpExchange, QueryThenReadCarryTheTunnelAddressByteForByte) {
    const Bytes value = {0x78, 0x56, 0x34, 0x12};
    start({expect(12), send(queryReply(0x5000C500, 0x0ABCDEF1, kTunnel)), expect(kReadRequest),
           send(dataFrame(value) + responseFrame(0))});
    uint32_t high = 0, low = 0;
    ASSERT_EQ(tcpQuerySasAddress(socket_, &high, &low), 0u);
    EXPECT_EQ(high, 0x5000C500u);
    EXPECT_EQ(low, 0x0ABCDEF1u);
    EXPECT_EQ(Bytes(tcpTunnelAddress(), tcpTunnelAddress() + kTcpTunnelAddressSize), kTunnel);
    EXPECT_EQ(gTransactionID, 1);

    gTransactionID = 7;
    Bytes out(4, 0xEE);
    ASSERT_EQ(tcpReadBuffer(socket_, 0xC2, out.data(), 0xC000004C, 4, tcpTunnelAddress(), 0), 0u);
    EXPECT_EQ(out, value);
    EXPECT_EQ(gTransactionID, 8);

    const Bytes query = {0x08, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x03, 0xFC};
    EXPECT_EQ(finish(), query + registerReadRequest(7, kTunnel));
}

TEST_F(TcpExchange, WriteSendsHeaderAndDataByteForByte) {
    start({expect(kWriteRequest4), send(responseFrame(0))});
    gTransactionID = 3;
    ASSERT_EQ(writeRegister({0x11, 0x22, 0x33, 0x44}), 0u);
    Bytes expected = {0x01, 0x03, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x36,
                      0x00, 0x00, 0x00, 0x36, 0x00, 0x04, 0x93, 0xE0};
    expected = expected + kTunnel + Bytes(11, 0x00) + Bytes{0x0A, 0x00, 0x00, 0x00, 0x04, 0x3B, 0x01, 0xC2,
                                                            0xC0, 0x00, 0x00, 0xA0, 0x00, 0x04, 0x00} +
               Bytes{0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(finish(), expected);
}

TEST_F(TcpExchange, ResetProtocolStateForgetsCounterAndTunnel) {
    start({expect(12), send(queryReply(1, 2, kTunnel))});
    uint32_t high = 0, low = 0;
    ASSERT_EQ(tcpQuerySasAddress(socket_, &high, &low), 0u);
    tcpResetProtocolState();
    EXPECT_EQ(gTransactionID, 0);
    EXPECT_EQ(Bytes(tcpTunnelAddress(), tcpTunnelAddress() + kTcpTunnelAddressSize), Bytes(8, 0));
}

TEST_F(TcpExchange, BusyReadIsSentAgainWithTheSameTransactionId) {
    const Bytes value = {1, 2, 3, 4};
    start({expect(kReadRequest), send(responseFrame(kTcpResponseBusy)), expect(kReadRequest),
           send(dataFrame(value) + responseFrame(0))});
    gTransactionID = 255;
    Bytes out;
    ASSERT_EQ(readRegister(out), 0u);
    EXPECT_EQ(out, value);
    EXPECT_EQ(gTransactionID, 0) << "the counter wraps and the resend took no new id";
    EXPECT_EQ(gSleepCalls, 1u);
    EXPECT_EQ(gSleptMs, kTcpBusyWaitMs);
    const Bytes request = registerReadRequest(255, kTunnel);
    EXPECT_EQ(finish(), request + request);
}

TEST_F(TcpExchange, BusyWriteIsSentAgainWithANewTransactionId) {
    start({expect(kWriteRequest4), send(responseFrame(kTcpResponseBusy)), expect(kWriteRequest4),
           send(responseFrame(0))});
    gTransactionID = 20;
    ASSERT_EQ(writeRegister({9, 9, 9, 9}), 0u);
    EXPECT_EQ(gTransactionID, 22);
    EXPECT_EQ(gSleepCalls, 1u);
    const Bytes sent = finish();
    ASSERT_EQ(sent.size(), 2 * kWriteRequest4);
    Bytes first = slice(sent, 0, kWriteRequest4);
    Bytes second = slice(sent, kWriteRequest4, sent.size());
    EXPECT_EQ(first[1], 20);
    EXPECT_EQ(second[1], 21);
    second[1] = 20;
    EXPECT_EQ(first, second) << "only the transaction id changes";
}

TEST_F(TcpExchange, UnknownFrameBeforeTheReplyCausesAResend) {
    Bytes strange(kTcpReplyHeaderSize, 0x00);
    strange[0] = 0x09;
    const Bytes value = {4, 3, 2, 1};
    start({expect(kReadRequest), send(strange), expect(kReadRequest),
           send(dataFrame(value) + responseFrame(0)), expect(kWriteRequest4), send(strange),
           expect(kWriteRequest4), send(responseFrame(0))});
    Bytes out;
    ASSERT_EQ(readRegister(out), 0u);
    EXPECT_EQ(out, value);
    ASSERT_EQ(writeRegister({5, 6, 7, 8}), 0u);
    const Bytes sent = finish();
    ASSERT_EQ(sent.size(), 2 * kReadRequest + 2 * kWriteRequest4);
    EXPECT_EQ(slice(sent, 0, kReadRequest), slice(sent, kReadRequest, 2 * kReadRequest));
    EXPECT_EQ(sent[2 * kReadRequest + 1] + 1, sent[2 * kReadRequest + kWriteRequest4 + 1]);
}

// An expander busy with a long flash operation answers busy for a long while: a minute of busy answers
// (one resend every 200 ms) is waited out, read and write alike.
TEST_F(TcpExchange, ExpanderBusyForAMinuteIsWaitedOut) {
    constexpr size_t kBusyAnswers = 60000 / kTcpBusyWaitMs;
    std::vector<PeerStep> steps;
    for (size_t i = 0; i < kBusyAnswers; ++i) {
        steps.push_back(expect(kReadRequest));
        steps.push_back(send(responseFrame(kTcpResponseBusy)));
    }
    steps.push_back(expect(kReadRequest));
    steps.push_back(send(dataFrame({1, 2, 3, 4}) + responseFrame(0)));
    for (size_t i = 0; i < kBusyAnswers; ++i) {
        steps.push_back(expect(kWriteRequest4));
        steps.push_back(send(responseFrame(kTcpResponseBusy)));
    }
    steps.push_back(expect(kWriteRequest4));
    steps.push_back(send(responseFrame(0)));
    start(steps);
    Bytes out;
    ASSERT_EQ(readRegister(out), 0u);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(writeRegister({1, 2, 3, 4}), 0u);
    EXPECT_EQ(gSleptMs, 2 * 60000u);
    EXPECT_EQ(finish().size(), (kBusyAnswers + 1) * (kReadRequest + kWriteRequest4));
}

// An expander that stays busy: the request is given up once it has been busy for as long as the
// request's own time-out field (300000 ms) grants.
struct EndlessBusyCase {
    const char* what;
    bool write;
};
void PrintTo(const EndlessBusyCase& c, std::ostream* os) {
    *os << c.what;
}

class TcpEndlessBusy : public TcpExchange, public ::testing::WithParamInterface<EndlessBusyCase> {};

TEST_P(TcpEndlessBusy, GivesUpAfterTheLastResend) {
    const size_t requestSize = GetParam().write ? kWriteRequest4 : kReadRequest;
    start({answerEach(requestSize, responseFrame(kTcpResponseBusy))});
    Bytes out;
    const ZELKOR_STATUS status = GetParam().write ? writeRegister({1, 2, 3, 4}) : readRegister(out);
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(gSleepCalls, kTcpBusyRetries);
    EXPECT_EQ(gSleptMs, 300000u);
    EXPECT_EQ(finish().size(), (1 + kTcpBusyRetries) * requestSize);
}

INSTANTIATE_TEST_SUITE_P(ReadAndWrite, TcpEndlessBusy,
                         ::testing::Values(EndlessBusyCase{"read", false}, EndlessBusyCase{"write", true}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(TcpExchange, LateBusyAnswersAndEmptyFramesAreBounded) {
    // After data began, busy answers are not resent; an endless run of them ends the read.
    start({expect(kReadRequest),
           send(dataFrame({1, 2, 3, 4}) + repeated(responseFrame(kTcpResponseBusy), kTcpMaxIdleFrames + 1)),
           expect(kWriteRequest4), send(repeated(dataFrame({}), kTcpMaxIdleFrames + 1))});
    Bytes out;
    EXPECT_EQ(readRegister(out), 1u);
    EXPECT_EQ(writeRegister({1, 2, 3, 4}), 1u);
    EXPECT_EQ(gSleepCalls, 0u);
    EXPECT_EQ(finish().size(), kReadRequest + kWriteRequest4) << "no request was sent again";
}

// One reply stream (DATA of 8 bytes, then RESPONSE 0) cut in two at every interesting place.
class TcpSplitReply : public TcpExchange, public ::testing::WithParamInterface<size_t> {};

TEST_P(TcpSplitReply, ReassemblesAcrossSegments) {
    const Bytes value = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
    const Bytes reply = dataFrame(value) + responseFrame(0);
    const size_t cut = GetParam();
    start(
        {expect(kReadRequest), send(slice(reply, 0, cut)), sendWhenDrained(slice(reply, cut, reply.size()))});
    Bytes out(value.size(), 0xEE);
    ASSERT_EQ(tcpReadBuffer(socket_, 0x10, out.data(), 0x2000, 8, kTunnel.data(), 0), 0u);
    EXPECT_EQ(out, value);
    EXPECT_EQ(gSleepCalls, 0u) << "a partial frame is not a reason to resend";
    EXPECT_EQ(finish().size(), kReadRequest);
}

// Inside the DATA header, around its length field, inside the data, and inside the RESPONSE.
INSTANTIATE_TEST_SUITE_P(CutPoints, TcpSplitReply, ::testing::Values(1, 10, 24, 26, 28, 31, 36, 40, 60, 63));

TEST_F(TcpExchange, ReassemblesCoalescedFramesAndLargeData) {
    Bytes large(3000);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<uint8_t>(i * 13 + 1);
    const Bytes firstHalf = slice(large, 0, 1000), secondHalf = slice(large, 1000, large.size());
    start(
        {expect(kReadRequest),
         // two DATA frames and the RESPONSE in one segment
         send(dataFrame({1, 2, 3, 4}) + dataFrame({5, 6, 7, 8}) + responseFrame(0)), expect(kReadRequest),
         // data larger than one receive, its frames split and coalesced differently
         send(slice(dataFrame(firstHalf), 0, 500)),
         sendWhenDrained(slice(dataFrame(firstHalf), 500, 1028) + dataFrame(secondHalf) + responseFrame(0))});
    Bytes out(8, 0xEE);
    ASSERT_EQ(tcpReadBuffer(socket_, 0xE0, out.data(), 0, 8, kTunnel.data(), 0), 0u);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    Bytes big(large.size(), 0xEE);
    ASSERT_EQ(tcpReadBuffer(socket_, 0x10, big.data(), 0, 3000, kTunnel.data(), 0), 0u);
    EXPECT_EQ(big, large);
}

TEST_F(TcpExchange, DataBeyondTheRequestIsDroppedAndFramingHolds) {
    // The expander answers 4 requested bytes with 8; the surplus must neither overrun the caller's
    // buffer nor be read as the next frame.
    const Bytes surplus = {0x21, 0x22, 0x23, 0x24, 0x05, 0xFF, 0xFF, 0xFF};
    start({expect(kReadRequest), send(dataFrame(surplus) + responseFrame(0)), expect(kReadRequest),
           send(dataFrame({9, 8, 7, 6}) + responseFrame(0))});
    Bytes out;
    ASSERT_EQ(readRegister(out), 0u);
    EXPECT_EQ(out, (Bytes{0x21, 0x22, 0x23, 0x24}));
    ASSERT_EQ(readRegister(out), 0u);
    EXPECT_EQ(out, (Bytes{9, 8, 7, 6}));
}

// One request (a read or a write of 4 register bytes) and what the expander does after it.
struct OutcomeCase {
    const char* what;
    bool write;
    std::vector<PeerStep> after;
    ZELKOR_STATUS expected;
};
void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.what;
}

class TcpOutcome : public TcpExchange, public ::testing::WithParamInterface<OutcomeCase> {};

// A read succeeds only with all its bytes and no failing response; a write answers by the reply, and
// 62 when the connection goes while the reply is awaited.
TEST_P(TcpOutcome, FollowsTheReply) {
    const size_t requestSize = GetParam().write ? kWriteRequest4 : kReadRequest;
    std::vector<PeerStep> steps = {expect(requestSize)};
    steps.insert(steps.end(), GetParam().after.begin(), GetParam().after.end());
    start(steps);
    Bytes out;
    EXPECT_EQ(GetParam().write ? writeRegister({1, 2, 3, 4}) : readRegister(out), GetParam().expected);
    EXPECT_EQ(gSleepCalls, 0u);
    EXPECT_EQ(finish().size(), requestSize) << "nothing was sent again";
}

const Bytes kValue = {1, 2, 3, 4};
constexpr bool kRead = false;
constexpr bool kWrite = true;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Replies, TcpOutcome,
    ::testing::Values(
        OutcomeCase{"readClosedAfterRequest",        kRead, {closeFin()}, 1},
        OutcomeCase{"readResetAfterRequest",         kRead, {closeRst()}, 1},
        OutcomeCase{"readShortDataHeader",           kRead, {send(slice(dataFrame(kValue), 0, 26)), closeFin()}, 1},
        OutcomeCase{"readDataCutShort",              kRead, {send(slice(dataFrame(kValue), 0, 30)), closeFin()}, 1},
        OutcomeCase{"readShortResponse",             kRead, {send(dataFrame(kValue) + slice(responseFrame(2), 0, 20)), closeFin()}, 1},
        OutcomeCase{"readFewerBytesThanAsked",       kRead, {send(dataFrame({1, 2}) + responseFrame(0))}, 1},
        OutcomeCase{"readResponseWithoutData",       kRead, {send(responseFrame(0))}, 1},
        OutcomeCase{"readFailingResponse",           kRead, {send(responseFrame(2))}, 1},
        OutcomeCase{"readFailingResponseAfterData",  kRead, {send(dataFrame(kValue) + responseFrame(2))}, 1},
        OutcomeCase{"readHugeLengthCutShort",        kRead, {send(dataFrame(Bytes(10, 7), 0xFFFFFFFF)), closeRst()}, 1},
        OutcomeCase{"readCompleteDataThenClose",     kRead, {send(dataFrame(kValue)), closeFin()}, 0},
        OutcomeCase{"writeClosed",                   kWrite, {closeFin()}, kTcpStatusConnectionLost},
        OutcomeCase{"writeReset",                    kWrite, {closeRst()}, kTcpStatusConnectionLost},
        OutcomeCase{"writeShortResponseThenClose",   kWrite, {send(slice(responseFrame(0), 0, 20)), closeFin()}, kTcpStatusConnectionLost},
        OutcomeCase{"writeFailingResponse",          kWrite, {send(responseFrame(3))}, 1},
        OutcomeCase{"writeDataBeforeResponse",       kWrite, {send(dataFrame(kValue) + responseFrame(0))}, 0},
        OutcomeCase{"writeSplitResponse",            kWrite, {send(slice(responseFrame(0), 0, 25)), sendWhenDrained(slice(responseFrame(0), 25, 28))}, 0}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

TEST_F(TcpExchange, SilentExpanderEndsEachExchangeAtTheTimeout) {
    start({expect(kReadRequest), expect(kWriteRequest4), expect(12)});
    setReceiveTimeout(100);
    Bytes out;
    EXPECT_EQ(readRegister(out), 1u);
    EXPECT_EQ(writeRegister({1, 2, 3, 4}), kTcpStatusConnectionLost);
    uint32_t high = 0, low = 0;
    EXPECT_EQ(tcpQuerySasAddress(socket_, &high, &low), 1u);
    EXPECT_EQ(gSleepCalls, 0u);
    EXPECT_EQ(finish().size(), kReadRequest + kWriteRequest4 + 12);
}

TEST_F(TcpExchange, SasAddressReplyIsGatheredUntilCompleteAndRefusedWhenShort) {
    const Bytes reply = queryReply(0x11111111, 0x22222222, kTunnel);
    const Bytes other = {9, 9, 9, 9, 9, 9, 9, 9};
    start({expect(12), send(slice(reply, 0, 10)), sendWhenDrained(slice(reply, 10, reply.size())), expect(12),
           send(slice(queryReply(0x33333333, 0x44444444, other), 0, 31)), closeFin()});
    uint32_t high = 0, low = 0;
    ASSERT_EQ(tcpQuerySasAddress(socket_, &high, &low), 0u);
    EXPECT_EQ(high, 0x11111111u);
    EXPECT_EQ(low, 0x22222222u);
    high = low = 0;
    EXPECT_EQ(tcpQuerySasAddress(socket_, &high, &low), 1u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(Bytes(tcpTunnelAddress(), tcpTunnelAddress() + kTcpTunnelAddressSize), kTunnel)
        << "a short reply leaves the tunnel address of the last good one";
}

TEST_F(TcpExchange, RefusesArgumentsWithoutSendingAnything) {
    start({});
    Bytes out(4);
    const uint8_t* tunnel = kTunnel.data();
    EXPECT_EQ(tcpReadBuffer(socket_, 0xC2, nullptr, 0, 4, tunnel, 0), 5u);
    EXPECT_EQ(tcpReadBuffer(socket_, 0xC2, out.data(), 0, 0, tunnel, 0), 5u);
    EXPECT_EQ(tcpReadBuffer(socket_, 0xC2, out.data(), 0, 4, nullptr, 0), 5u);
    EXPECT_EQ(tcpReadBuffer(socket_, 0xC2, out.data(), 0, 0x10000, tunnel, 0), 5u);
    EXPECT_EQ(tcpWriteBuffer(socket_, 0xC2, nullptr, 0, 4, tunnel, 0), 5u);
    EXPECT_EQ(tcpWriteBuffer(socket_, 0x10, out.data(), 0x1000000, 4, tunnel, 0), 5u);
    EXPECT_EQ(tcpQuerySasAddress(socket_, nullptr, nullptr), 5u);
    EXPECT_EQ(gTransactionID, 0) << "no transaction id was taken";
    EXPECT_TRUE(finish().empty());
}

} // namespace
