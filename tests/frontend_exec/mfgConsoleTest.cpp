// init on the firmware console interface (code 2) through the fake modules: the board page is read by id,
// first its 4-byte header, then the length that header gives.
#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "tests/frontend_exec/execFixture.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

class MfgOnConsole : public ExecTest {
  protected:
    struct Opened {
        uint32_t status;
        std::string name;
        std::vector<std::pair<uint32_t, uint32_t>> reads; // offset and length of every page read
    };

    // init with the page reply the device gives (from its length field on), or a failing first read.
    Opened open(const std::vector<uint8_t>& reply, ZELKOR_STATUS firstRead = 0) {
        gFake.heapExpanders = {makeExpander(ZELKOR_CHIP_QUENZA, "Vellor_48", kTargetHigh, kTargetLow)};
        // The page region (kind 12) after the memory window and a partition.
        gFake.regions = {makeRegion(0), {2, 0x80, 0, 0, 0x100000, 0, 0, 0}, {12, 0xE6, 0, 0, 0, 0, 0, 0}};
        Opened o;
        gFake.uploadData = [&o, reply, firstRead](uint32_t offset, uint32_t length, uint8_t* buffer) {
            o.reads.emplace_back(offset, length);
            if (o.reads.size() == 1 && firstRead != 0)
                return firstRead;
            std::memcpy(buffer, reply.data(), std::min<size_t>(length, reply.size()));
            return ZELKOR_STATUS{0};
        };
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
        gClParser.optionFlags = CL_OPT_QUIET;
        gInstance.interfaceCode = ZELKOR_INTERFACE_CLI;
        gInstance.target.text = "/dev/ttyS9";
        testing::internal::CaptureStdout();
        o.status = init();
        testing::internal::GetCapturedStdout();
        o.name = gInstance.expanderList != nullptr ? gInstance.expanderList->expander.name : "";
        cleanQuillet();
        if (gInstance.handle != nullptr)
            zelkor_close(gInstance.handle);
        gInstance = MORV_INSTANCE{};
        gFake.uploadData = nullptr;
        return o;
    }
};

std::vector<uint8_t> boardReply(uint16_t length, const char* board) {
    std::vector<uint8_t> reply(4 + 24, 0);
    reply[0] = static_cast<uint8_t>(length);
    reply[1] = static_cast<uint8_t>(length >> 8);
    reply[2] = 0x01;
    reply[3] = 0xFF;
    std::memcpy(reply.data() + 12, board, std::min<size_t>(std::strlen(board), 16));
    return reply;
}

TEST_F(MfgOnConsole, ReadsThePageByIdHeaderFirst) {
    const Opened o = open(boardReply(28, "RX4800 24G"));
    EXPECT_EQ(o.status, 0u);
    EXPECT_EQ(o.name, "RX4800 (Vellor_48)");
    const std::vector<std::pair<uint32_t, uint32_t>> reads{{0xFF010200, 4}, {0xFF010200, 28}};
    EXPECT_EQ(o.reads, reads);
}

TEST_F(MfgOnConsole, AReplyThatCannotHoldTheNameOrAFailedReadNamesItUnknown) {
    struct Case {
        const char* label;
        std::vector<uint8_t> reply;
        ZELKOR_STATUS firstRead;
        size_t reads;
    };
    const std::vector<Case> cases{
        {"header read fails", boardReply(28, "RX4800"), 25, 1},
        {"length 0 (the library sends no read of 0 bytes)", boardReply(0, "RX4800"), 0, 1},
        {"shorter than the name", boardReply(20, "RX4800"), 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Opened o = open(c.reply, c.firstRead);
        EXPECT_EQ(o.status, 0u);
        EXPECT_EQ(o.name, "Unknown (Vellor_48)");
        EXPECT_EQ(o.reads.size(), c.reads);
    }
}

} // namespace
