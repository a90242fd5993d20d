// The TCP interface module against an expander that misbehaves: busy answers, replies split and
// coalesced, cut short, longer than asked for, connections closed or reset, silence. Whatever happens:
// no crash, nothing written past the caller's buffer (the sanitizer build watches), a failure code where
// the exchange failed, and a bounded number of resends.
#include "ialTcpFixture.h"

#include <numeric>

namespace {

using zsim::TcpBytes;
using zsim::TcpFaultKind;
using zsim::TcpFrameKind;

enum class Op { ReadWord, WriteWord, ReadLarge, FlashDownload };

constexpr uint32_t kWordAddress = 0x20000000;
constexpr uint32_t kWriteAddress = 0x20000010;
constexpr uint32_t kLargeSize = 3000;
constexpr uint32_t kDownloadSize = 2500;
constexpr uint32_t kFlashOffset = 0x1000;
const TcpBytes kWord = {0x11, 0x22, 0x33, 0x44};

TcpBytes pattern(size_t size, uint8_t start) {
    TcpBytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), start);
    return bytes;
}

struct FaultCase {
    const char* what;
    Op op;
    TcpFrameKind frame;
    TcpFaultKind kind;
    uint32_t argument;
    uint32_t count; // 0: every matching frame
    ZELKOR_STATUS expected;
    size_t frames; // frames the expander receives for the operation
    uint32_t sleeps;
    std::optional<uint32_t> offset = std::nullopt;
};
void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.what;
}

class IalTcpFault : public IalTcpTest, public ::testing::WithParamInterface<FaultCase> {
  protected:
    void SetUp() override {
        IalTcpTest::SetUp();
        startListed("device sg0 ostrel\n sas-address 500605B0:0000A1C0\n memory 0x20000000 11223344\n"
                    " flash 0x101000 " +
                    hex(pattern(kLargeSize, 7)) + "\n");
    }

    static std::string hex(const TcpBytes& bytes) {
        std::string text;
        char digits[3];
        for (uint8_t b : bytes) {
            std::snprintf(digits, sizeof digits, "%02X", b);
            text += digits;
        }
        return text;
    }

    // Runs the operation; on success checks what it moved.
    ZELKOR_STATUS run(Op op, bool checkResult) {
        ZELKOR_REGION window = region(ZELKOR_REGION_MEMORY, 0xC0);
        ZELKOR_REGION partition = region(ZELKOR_REGION_PARTITION, 0x85, 1);
        switch (op) {
        case Op::ReadWord: {
            // Exactly the room asked for, on the heap, so that any overrun is caught.
            auto room = std::make_unique<uint8_t[]>(4);
            const ZELKOR_STATUS status =
                ops_.upload(instance_, &window, kWordAddress, 4, nullptr, room.get());
            if (checkResult && status == 0) {
                EXPECT_EQ(TcpBytes(room.get(), room.get() + 4), kWord);
            }
            return status;
        }
        case Op::WriteWord: {
            const TcpBytes value = {0xA1, 0xB2, 0xC3, 0xD4};
            const ZELKOR_STATUS status = ops_.download(instance_, &window, kWriteAddress, 4, nullptr,
                                                       const_cast<uint8_t*>(value.data()));
            if (checkResult && status == 0) {
                EXPECT_EQ(
                    server().inspect([](zsim::Expander& e) { return e.space().readWord(kWriteAddress); }),
                    0xD4C3B2A1u);
            }
            return status;
        }
        case Op::ReadLarge: {
            auto room = std::make_unique<uint8_t[]>(kLargeSize);
            const ZELKOR_STATUS status =
                ops_.upload(instance_, &partition, kFlashOffset, kLargeSize, nullptr, room.get());
            if (checkResult && status == 0) {
                EXPECT_EQ(TcpBytes(room.get(), room.get() + kLargeSize), pattern(kLargeSize, 7));
            }
            return status;
        }
        case Op::FlashDownload: {
            TcpBytes image = pattern(kDownloadSize, 0x40);
            const ZELKOR_STATUS status =
                ops_.download(instance_, &partition, kFlashOffset, kDownloadSize, nullptr, image.data());
            if (checkResult && status == 0) {
                std::vector<uint8_t> stored;
                server().inspect([&](zsim::Expander& e) {
                    return e.readBuffer(0x85, kFlashOffset, kDownloadSize, stored);
                });
                EXPECT_EQ(stored, image);
            }
            return status;
        }
        }
        return 0xFFFFFFFF;
    }
};

TEST_P(IalTcpFault, EndsWithTheRightCodeAndBoundedResends) {
    const FaultCase& c = GetParam();
    zsim::TcpFault f = fault(c.frame, c.kind, c.argument, c.count);
    f.match.offset = c.offset;
    server().addFault(f);
    if (c.kind == TcpFaultKind::Silence)
        shortenReceiveTimeout();
    const uint32_t progressBefore = gProgressEvents;
    EXPECT_EQ(run(c.op, true), c.expected);
    EXPECT_EQ(server().frames().size(), c.frames);
    EXPECT_EQ(gModuleSleeps, c.sleeps);
    EXPECT_GE(server().faultsStruck().at(0), 1u) << "the fault was met";
    if (c.op == Op::FlashDownload) {
        EXPECT_EQ(gProgressEvents - progressBefore, c.expected == 0 ? 4u : 0u);
    }
    if (c.expected == 0 || c.kind == TcpFaultKind::Silence) {
        // The stream is still in step: the next exchange on the same connection works.
        server().clearFrames();
        EXPECT_EQ(run(Op::ReadWord, true), 0u);
        EXPECT_EQ(server().frames().size(), 1u);
    }
}

constexpr TcpFrameKind R = TcpFrameKind::Read;
constexpr TcpFrameKind W = TcpFrameKind::Write;
constexpr uint32_t kEvery = 0;
constexpr ZELKOR_STATUS kLost = 62;
constexpr size_t kAllResends = 1 + kTcpBusyRetries;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, IalTcpFault, ::testing::Values(
    // busy answers: resent after a wait, and given up after the last resend
    FaultCase{"ReadBusyOnce",              Op::ReadWord,      R, TcpFaultKind::Busy,      0,    1,      0,     2, 1},
    FaultCase{"ReadBusyAlways",            Op::ReadWord,      R, TcpFaultKind::Busy,      0,    kEvery, 1,     kAllResends, kTcpBusyRetries},
    FaultCase{"WriteBusyOnce",             Op::WriteWord,     W, TcpFaultKind::Busy,      0,    1,      0,     2, 1},
    FaultCase{"WriteBusyAlways",           Op::WriteWord,     W, TcpFaultKind::Busy,      0,    kEvery, 1,     kAllResends, kTcpBusyRetries},
    FaultCase{"DownloadSecondBlockBusy",   Op::FlashDownload, W, TcpFaultKind::Busy,      0,    1,      0,     4, 1, kFlashOffset + 1024},
    // replies split across segments, the cut piece coalesced with the next frame
    FaultCase{"ReadSplitInDataHeader",     Op::ReadWord,      R, TcpFaultKind::Split,     10,   1,      0,     1, 0},
    FaultCase{"ReadSplitInLengthField",    Op::ReadWord,      R, TcpFaultKind::Split,     26,   1,      0,     1, 0},
    FaultCase{"ReadSplitInData",           Op::ReadWord,      R, TcpFaultKind::Split,     30,   1,      0,     1, 0},
    FaultCase{"ReadSplitInResponse",       Op::ReadWord,      R, TcpFaultKind::Split,     45,   1,      0,     1, 0},
    FaultCase{"ReadCoalesced",             Op::ReadWord,      R, TcpFaultKind::Coalesce,  0,    1,      0,     1, 0},
    FaultCase{"LargeReadSplitInSecondHeader", Op::ReadLarge,  R, TcpFaultKind::Split,     1060, 1,      0,     1, 0},
    FaultCase{"LargeReadCoalesced",        Op::ReadLarge,     R, TcpFaultKind::Coalesce,  0,    1,      0,     1, 0},
    FaultCase{"WriteSplitInResponse",      Op::WriteWord,     W, TcpFaultKind::Split,     20,   1,      0,     1, 0},
    // short replies
    FaultCase{"ReadCutInDataHeader",       Op::ReadWord,      R, TcpFaultKind::Truncate,  20,   1,      1,     1, 0},
    FaultCase{"ReadCutInData",             Op::ReadWord,      R, TcpFaultKind::Truncate,  30,   1,      1,     1, 0},
    FaultCase{"LargeReadCutInSecondFrame", Op::ReadLarge,     R, TcpFaultKind::Truncate,  1500, 1,      1,     1, 0},
    FaultCase{"ReadFewerBytesThanAsked",   Op::ReadWord,      R, TcpFaultKind::ShortData, 2,    1,      1,     1, 0},
    FaultCase{"LargeReadFewerBytes",       Op::ReadLarge,     R, TcpFaultKind::ShortData, 2000, 1,      1,     1, 0},
    FaultCase{"WriteResponseCut",          Op::WriteWord,     W, TcpFaultKind::Truncate,  10,   1,      kLost, 1, 0},
    // a reply longer than the request
    FaultCase{"ReadLongerThanAsked",       Op::ReadWord,      R, TcpFaultKind::Oversize,  8,    1,      0,     1, 0},
    FaultCase{"ReadFarLongerThanAsked",    Op::ReadWord,      R, TcpFaultKind::Oversize,  3000, 1,      0,     1, 0},
    FaultCase{"LargeReadLongerThanAsked",  Op::ReadLarge,     R, TcpFaultKind::Oversize,  100,  1,      0,     1, 0},
    // the connection dropped
    FaultCase{"ReadClosed",                Op::ReadWord,      R, TcpFaultKind::CloseFin,  0,    1,      1,     1, 0},
    FaultCase{"ReadReset",                 Op::ReadWord,      R, TcpFaultKind::CloseRst,  0,    1,      1,     1, 0},
    FaultCase{"WriteClosed",               Op::WriteWord,     W, TcpFaultKind::CloseFin,  0,    1,      kLost, 1, 0},
    FaultCase{"WriteReset",                Op::WriteWord,     W, TcpFaultKind::CloseRst,  0,    1,      kLost, 1, 0},
    FaultCase{"DownloadClosedAtBlockTwo",  Op::FlashDownload, W, TcpFaultKind::CloseFin,  0,    1,      kLost, 2, 0, kFlashOffset + 1024},
    // silence until the receive time-out
    FaultCase{"ReadSilence",               Op::ReadWord,      R, TcpFaultKind::Silence,   0,    1,      1,     1, 0},
    FaultCase{"WriteSilence",              Op::WriteWord,     W, TcpFaultKind::Silence,   0,    1,      kLost, 1, 0},
    // failing responses
    FaultCase{"ReadFailingResponse",       Op::ReadWord,      R, TcpFaultKind::Fail,      2,    1,      1,     1, 0},
    FaultCase{"WriteFailingResponse",      Op::WriteWord,     W, TcpFaultKind::Fail,      3,    1,      1,     1, 0},
    FaultCase{"DownloadLastBlockFails",    Op::FlashDownload, W, TcpFaultKind::Fail,      2,    1,      1,     3, 0, kFlashOffset + 2048}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

} // namespace
