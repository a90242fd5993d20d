// The request protocol's readers on seeded random and damaged reply streams from a scripted expander on
// loopback: DATA length fields larger and smaller than the data, zero and the largest value, unknown
// frame types, busy answers, the stream split at every byte, and the connection closed mid-frame. Each
// exchange ends with one of its documented statuses, never writes past the caller's length, delivers
// data only when it all arrived, and ends within a bounded number of waits (the sleep seam; no real
// waits) and of requests sent. A failure names its seed and shows the stream.
#include "console/ReplyMutator.h"
#include "tcpFixture.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <set>
#include <string>

namespace {

const Bytes kTunnel = {0x50, 0x06, 0x05, 0xB0, 0x00, 0x11, 0x22, 0x3F};
constexpr uint8_t kGuard = 0xEE;
constexpr size_t kGuardBytes = 64;
constexpr size_t kRequest = sizeof(TCP_REQUEST_HEADER);

std::string dump(const Bytes& bytes) { return zsim::hexDump(bytes, 400); }

Bytes payload(size_t size, uint32_t seed) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(0x40 + (i * 13 + seed) % 0x3F);
    return data;
}

// The stream split into pieces, each sent once the product has taken the ones before it.
std::vector<PeerStep> pieces(const Bytes& stream, const std::vector<size_t>& cuts) {
    std::vector<PeerStep> steps{expect(kRequest)};
    size_t from = 0;
    for (size_t cut : cuts) {
        if (cut <= from || cut >= stream.size())
            continue;
        steps.push_back(sendWhenDrained(Bytes(stream.begin() + static_cast<long>(from), stream.begin() + static_cast<long>(cut))));
        from = cut;
    }
    steps.push_back(sendWhenDrained(Bytes(stream.begin() + static_cast<long>(from), stream.end())));
    return steps;
}

class TcpRobustness : public TcpPeerTest {
  protected:
    struct Result {
        ZELKOR_STATUS status;
        Bytes out;
        bool guardsIntact;
    };
    Result read(uint32_t length) {
        Bytes buffer(length + kGuardBytes, kGuard);
        const ZELKOR_STATUS status = tcpReadBuffer(socket_, 0xE6, buffer.data(), 0x200, length, kTunnel.data(), 0);
        const bool intact = std::all_of(buffer.begin() + length, buffer.end(), [](uint8_t b) { return b == kGuard; });
        buffer.resize(length);
        return {status, buffer, intact};
    }
    // Bounds every exchange keeps: its waits go through the seam, and it sends a bounded number of requests.
    void expectBounded(const Bytes& received) {
        EXPECT_LE(gSleepCalls, kTcpBusyRetries);
        EXPECT_LE(received.size(), (kTcpBusyRetries + 1) * (kRequest + 64));
    }
};

// A read of one DATA frame and its RESPONSE, split at every byte: the data arrives whole.
TEST_F(TcpRobustness, ReadSplitAtEveryByte) {
    const Bytes data = payload(40, 3);
    const Bytes stream = dataFrame(data) + responseFrame(0);
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        std::vector<PeerStep> steps = pieces(stream, {cut});
        steps.push_back(closeFin());
        start(steps);
        const Result r = read(static_cast<uint32_t>(data.size()));
        EXPECT_EQ(r.status, 0u);
        EXPECT_EQ(r.out, data);
        EXPECT_TRUE(r.guardsIntact);
        finish();
        if (HasFailure())
            return;
    }
}

struct StreamCase {
    const char* name;
    // The reply stream for a read of `length` bytes.
    std::function<Bytes(const Bytes& data, std::mt19937& rng)> stream;
    bool closeMidway; // the peer closes after the stream (otherwise too)
    bool reset;       // the close is a reset
    std::set<ZELKOR_STATUS> statuses;
};

Bytes withLength(const Bytes& data, uint32_t announced) { return dataFrame(data, announced); }

const std::vector<StreamCase>& readCases() {
    static const std::vector<StreamCase> table = {
        {"lengthLarger", [](const Bytes& d, std::mt19937& r) { return withLength(d, static_cast<uint32_t>(d.size() + 1 + r() % 5000)); },
         false, false, {1}},
        {"lengthLargerThenResponse",
         [](const Bytes& d, std::mt19937& r) { return withLength(d, static_cast<uint32_t>(d.size() + 1 + r() % 60)) + responseFrame(0); },
         false, false, {0, 1}}, // the frame may swallow the response: the data itself did all arrive
        {"lengthMaximum", [](const Bytes& d, std::mt19937&) { return withLength(d, 0xFFFFFFFF) + responseFrame(0); }, false, true, {1}},
        {"lengthZero", [](const Bytes& d, std::mt19937&) { return withLength({}, 0) + d + responseFrame(0); }, false, false, {1}},
        {"lengthSmallerThenResponse",
         [](const Bytes& d, std::mt19937& r) {
             const size_t n = r() % d.size();
             return withLength(Bytes(d.begin(), d.begin() + static_cast<long>(n)), static_cast<uint32_t>(n)) + responseFrame(0);
         },
         false, false, {1}},
        {"headerCut", [](const Bytes& d, std::mt19937& r) { Bytes f = dataFrame(d); f.resize(1 + r() % (kTcpReplyHeaderSize - 1)); return f; },
         false, true, {1}},
        {"dataCut", [](const Bytes& d, std::mt19937& r) { Bytes f = dataFrame(d); f.resize(kTcpReplyHeaderSize + r() % d.size()); return f; },
         false, false, {1}},
        {"responseFailure", [](const Bytes&, std::mt19937& r) { return responseFrame(1 + r() % 7); }, false, false, {1}},
        {"responseAfterPartOfTheData",
         [](const Bytes& d, std::mt19937& r) {
             const size_t n = 1 + r() % (d.size() - 1);
             return dataFrame(Bytes(d.begin(), d.begin() + static_cast<long>(n))) + responseFrame(0);
         },
         false, false, {1}},
        {"dataInTwoFrames",
         [](const Bytes& d, std::mt19937& r) {
             const size_t n = 1 + r() % (d.size() - 1);
             return dataFrame(Bytes(d.begin(), d.begin() + static_cast<long>(n))) +
                    dataFrame(Bytes(d.begin() + static_cast<long>(n), d.end())) + responseFrame(0);
         },
         false, false, {0}},
        {"busyThenData", [](const Bytes& d, std::mt19937&) { return responseFrame(kTcpResponseBusy) + dataFrame(d) + responseFrame(0); },
         false, false, {0}},
        {"surplusData",
         [](const Bytes& d, std::mt19937& r) { return dataFrame(d + payload(1 + r() % 300, 9)) + responseFrame(0); }, false, false, {0}},
        {"unknownTypes",
         [](const Bytes& d, std::mt19937& r) {
             Bytes junk = payload(1 + r() % 200, static_cast<uint32_t>(r()));
             junk[0] = static_cast<uint8_t>(0x10 + r() % 0xE0);
             return junk + dataFrame(d) + responseFrame(0);
         },
         false, false, {0, 1}},
        {"randomBytes",
         [](const Bytes&, std::mt19937& r) {
             Bytes junk(r() % 2000);
             for (auto& b : junk)
                 b = static_cast<uint8_t>(r() % 7 == 0 ? 4 + r() % 2 : r());
             return junk;
         },
         false, false, {0, 1}},
    };
    return table;
}

// Damaged reads: every case of the table with seeded lengths, splits and closes.
TEST_F(TcpRobustness, DamagedReadStreams) {
    constexpr uint32_t kSeeds = 24;
    for (const StreamCase& c : readCases()) {
        for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
            std::mt19937 rng(seed * 31 + static_cast<uint32_t>(std::hash<std::string>{}(c.name) % 1000));
            const Bytes data = payload(2 + rng() % 900, seed);
            const Bytes stream = c.stream(data, rng);
            std::vector<size_t> cuts;
            for (uint32_t i = rng() % 4; i > 0 && !stream.empty(); --i)
                cuts.push_back(rng() % stream.size());
            std::sort(cuts.begin(), cuts.end());
            std::vector<PeerStep> steps = pieces(stream, cuts);
            const bool reset = c.reset || seed % 5 == 0;
            steps.push_back(reset ? closeRst() : closeFin());
            gSleepCalls = 0;
            start(steps);
            const Result r = read(static_cast<uint32_t>(data.size()));
            const Bytes received = finish();
            SCOPED_TRACE(std::string(c.name) + " seed " + std::to_string(seed) + " length " + std::to_string(data.size()) +
                         " status " + std::to_string(r.status) + "\nstream: " + dump(stream));
            // A reset may overtake bytes not read yet (the kernel drops them), so a read that would have
            // succeeded may fail; it must never succeed with other data.
            EXPECT_TRUE(c.statuses.count(r.status) == 1 || (reset && r.status == 1));
            EXPECT_TRUE(r.guardsIntact);
            if (r.status == 0 && std::string(c.name) != "randomBytes") {
                EXPECT_EQ(r.out, data);
            }
            expectBounded(received);
            if (HasFailure())
                return;
        }
    }
}

// Damaged write answers: any status but the documented ones is a fault; success needs RESPONSE 0.
TEST_F(TcpRobustness, DamagedWriteAnswers) {
    constexpr uint32_t kSeeds = 150;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        std::mt19937 rng(seed * 7717);
        Bytes stream;
        bool success = false;
        bool ambiguous = false; // a frame cut short, junk or a DATA length that lies: frames may merge
        for (uint32_t frames = 1 + rng() % 4; frames > 0; --frames) {
            switch (rng() % 6) {
            case 0: stream = stream + responseFrame(kTcpResponseBusy); break;
            case 1: {
                const Bytes data = payload(rng() % 50, seed);
                const uint32_t announced = static_cast<uint32_t>(rng() % 80);
                ambiguous = ambiguous || announced != data.size();
                stream = stream + dataFrame(data, announced);
                break;
            }
            case 2: stream = stream + responseFrame(static_cast<uint32_t>(rng())); break;
            case 3: {
                Bytes junk = payload(1 + rng() % 100, seed);
                junk[0] = static_cast<uint8_t>(rng());
                stream = stream + junk;
                ambiguous = true;
                break;
            }
            case 4: {
                Bytes cut = responseFrame(0);
                cut.resize(rng() % cut.size());
                stream = stream + cut;
                ambiguous = true;
                break;
            }
            default: stream = stream + responseFrame(0); success = true; break;
            }
        }
        std::vector<PeerStep> steps{expect(kRequest + 4)};
        for (size_t from = 0; from < stream.size();) {
            const size_t n = std::min(stream.size() - from, size_t{1} + rng() % 40);
            steps.push_back(sendWhenDrained(Bytes(stream.begin() + static_cast<long>(from), stream.begin() + static_cast<long>(from + n))));
            from += n;
        }
        steps.push_back(seed % 3 == 0 ? closeRst() : closeFin());
        gSleepCalls = 0;
        start(steps);
        const Bytes value = {1, 2, 3, 4};
        const ZELKOR_STATUS status = tcpWriteBuffer(socket_, 0xC2, value.data(), 0xC00000A0, 4, kTunnel.data(), 0);
        const Bytes received = finish();
        SCOPED_TRACE("seed " + std::to_string(seed) + " status " + std::to_string(status) + "\nstream: " + dump(stream));
        EXPECT_TRUE(status == 0 || status == 1 || status == kTcpStatusConnectionLost);
        if (!success && !ambiguous) {
            EXPECT_NE(status, 0u);
        }
        expectBounded(received);
        if (HasFailure())
            return;
    }
}

// The SAS-address query's reply of a random length, split at random and closed after it: a reply of 32
// bytes or more gives the address from bytes 16 to 23 and the tunnel address from bytes 24 to 31, a
// shorter one fails and leaves the tunnel address as it was.
TEST_F(TcpRobustness, QueryRepliesOfEveryLength) {
    constexpr uint32_t kSeeds = 200;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        std::mt19937 rng(seed * 40503);
        const size_t length = seed <= 40 ? seed - 1 : rng() % (seed % 2 == 0 ? 40 : 700);
        Bytes reply(length);
        for (auto& b : reply)
            b = static_cast<uint8_t>(rng());
        std::vector<size_t> cuts;
        for (uint32_t i = rng() % 3; i > 0 && length > 0; --i)
            cuts.push_back(rng() % length);
        std::sort(cuts.begin(), cuts.end());
        std::vector<PeerStep> steps = pieces(reply, cuts);
        steps[0] = expect(sizeof(TCP_SAS_ADDRESS_QUERY));
        steps.push_back(seed % 4 == 0 ? closeRst() : closeFin());
        tcpResetProtocolState();
        start(steps);
        uint32_t high = 0xDEADBEEF, low = 0xDEADBEEF;
        const ZELKOR_STATUS status = tcpQuerySasAddress(socket_, &high, &low);
        finish();
        SCOPED_TRACE("seed " + std::to_string(seed) + " length " + std::to_string(length) + " status " +
                     std::to_string(status) + "\nreply: " + dump(reply));
        const Bytes tunnel(tcpTunnelAddress(), tcpTunnelAddress() + kTcpTunnelAddressSize);
        if (length >= kTcpSasAddressReplySize) {
            EXPECT_EQ(status, 0u);
            EXPECT_EQ(high, (uint32_t{reply[16]} << 24) | (uint32_t{reply[17]} << 16) | (uint32_t{reply[18]} << 8) | reply[19]);
            EXPECT_EQ(low, (uint32_t{reply[20]} << 24) | (uint32_t{reply[21]} << 16) | (uint32_t{reply[22]} << 8) | reply[23]);
            EXPECT_EQ(tunnel, Bytes(reply.begin() + 24, reply.begin() + 32));
        } else {
            EXPECT_EQ(status, 1u);
            EXPECT_EQ(tunnel, Bytes(kTcpTunnelAddressSize, 0));
        }
        if (HasFailure())
            return;
    }
}

} // namespace
