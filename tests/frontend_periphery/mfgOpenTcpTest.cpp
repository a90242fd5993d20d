// init over TCP (interface code 4) against the simulated expander's management port: the expander is named
// from the board page of its manufacturing partition, read in two bounded reads.
#include "tests/frontend_periphery/testBytes.h"
#include "tests/frontend_periphery/mfgImages.h"

#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "frontend/mfgPages.h"
#include "osal/osalTcp.h"
#include "osal/osalTime.h"
#include "scenario/Scenario.h"
#include "tcp/TcpServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

void noSleep(uint32_t) {}

// Four partitions; the fourth (table entry 3: index 3 by position and by entry id) holds the manufacturing
// image.
std::string scenario(const char* family, const std::string& extra, uint32_t mfgSize,
                     const std::vector<uint8_t>& image) {
    char partitions[256];
    std::snprintf(partitions, sizeof partitions,
                  "    partition 0 0x000000 0x100000\n    partition 4 0x100000 0x10000\n"
                  "    partition 5 0x110000 0x10000\n    partition 3 0x120000 0x%X\n",
                  mfgSize);
    std::string text = std::string("device sg0 ") + family + "\n    sas-address 5000CCAB:0400B7F0\n" + extra +
                       partitions;
    if (!image.empty())
        text += std::string("    flash 0x120000 ") + hex(image) + "\n";
    return text;
}

class MfgOpenOverTcp : public testing::Test {
  protected:
    void SetUp() override {
        tcpResetProtocolState();
        previousSleep_ = osal_setSleepFunction(noSleep);
    }
    void TearDown() override {
        cleanQuillet();
        if (gInstance.handle != nullptr) {
            EXPECT_EQ(zelkor_close(gInstance.handle), 0u);
        }
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
        osal_setSleepFunction(previousSleep_);
    }

    struct Opened {
        uint32_t status;
        std::string name;
        std::vector<uint32_t> partitionReads; // lengths of the reads of the manufacturing partition
    };

    Opened open(const std::string& text) {
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
        gSharedVars = ZELKOR_SHARED_VARS{};
        gSharedVars.regionCount = -1;
        gClParser.optionFlags = CL_OPT_QUIET;
        enclosure_ = zsim::parseScenario(text);
        server_ = std::make_unique<zsim::TcpServer>(*enclosure_->devices.at(0)->expander);
        address_ = server_->address();
        std::snprintf(gSharedVars.addressCopy, sizeof gSharedVars.addressCopy, "%s", address_.c_str());
        gInstance.interfaceCode = ZELKOR_INTERFACE_TCP;
        gInstance.target.text = address_.c_str();
        Opened o;
        testing::internal::CaptureStdout();
        o.status = init();
        testing::internal::GetCapturedStdout();
        if (gInstance.expanderList != nullptr)
            o.name = std::string(gInstance.expanderList->expander.name,
                                 strnlen(gInstance.expanderList->expander.name, 30));
        // The manufacturing partition's buffer id, as the region list gives it.
        uint32_t bufferId = 0x100;
        for (const ZELKOR_REGION_LIST* n = gInstance.regionList; n != nullptr; n = n->next)
            if (n->region.kind == 2 && n->region.index == 3)
                bufferId = n->region.regionId;
        for (const zsim::TcpReceivedFrame& f : server_->frames())
            if (f.kind == zsim::TcpFrameKind::Read && f.bufferId == bufferId)
                o.partitionReads.push_back(f.length);
        return o;
    }

    OsalSleepFunction previousSleep_ = nullptr;
    std::unique_ptr<zsim::Enclosure> enclosure_;
    std::unique_ptr<zsim::TcpServer> server_;
    std::string address_;
};

TEST_F(MfgOpenOverTcp, QuenzaImagesTable) {
    // The name before the page: a walk that passes the first 64 KiB leaves it.
    MfgImage none;
    none.filler(65536);
    const Opened plain = open(scenario("quenza", "", 0x20000, none.bytes()));
    ASSERT_EQ(plain.status, 0u);
    const std::string old = plain.name;
    ASSERT_FALSE(old.empty());
    cleanQuillet();
    zelkor_close(gInstance.handle);
    gInstance.handle = nullptr;

    struct Case {
        const char* label;
        std::vector<uint8_t> image;
        uint32_t size;
        std::string name;
        std::vector<uint32_t> reads;
    };
    std::vector<Case> cases;
    const std::string unknown = "Unknown (" + old + ")";
    {
        MfgImage m;
        m.filler(10).page(PAGE_BOARD, boardData("RX4800 24G")).end(0);
        cases.push_back({"found", m.bytes(), 0x10000, "RX4800 (" + old + ")", {8, 0x10000}});
    }
    {
        MfgImage m;
        m.end(0).page(PAGE_BOARD, boardData("RX4800"));
        cases.push_back({"length 0 first", m.bytes(), 0x10000, unknown, {8, 0x10000}});
    }
    {
        MfgImage m;
        m.page(PAGE_BOARD, boardData("RX4800"));
        m.bytes()[m.last() + 1] ^= 0x40;
        cases.push_back({"bad sum", m.bytes(), 0x10000, unknown, {8, 0x10000}});
    }
    {
        MfgImage m;
        m.page(PAGE_BOARD, boardData("RX4800"));
        m.bytes()[m.last()] &= 0xFE;
        cases.push_back({"valid bit clear", m.bytes(), 0x10000, unknown, {8, 0x10000}});
    }
    {
        MfgImage m;
        m.filler(65536 - 16 + 4).page(PAGE_BOARD, boardData("RX4800"));
        cases.push_back({"past 64 KiB", m.bytes(), 0x20000, old, {8, 0x10000}});
    }
    {
        MfgImage m;
        m.filler(65532 - 16).page(PAGE_BOARD, boardData("RX4800"));
        cases.push_back({"header at 65532", m.bytes(), 0x20000, old, {8, 0x10000}});
    }
    {
        MfgImage m;
        m.page(PAGE_BOARD, std::vector<uint8_t>(12, 'A'));
        cases.push_back({"page shorter than its name", m.bytes(), 0x10000, unknown, {8, 0x10000}});
    }
    {
        MfgImage m;
        m.filler(220).page(PAGE_BOARD, boardData("RX4800"));
        cases.push_back({"small partition cuts the page", m.bytes(), 0x100, unknown, {8, 0x100}});
    }
    {
        MfgImage m;
        m.filler(4).filler(8).end(0xFFFF);
        cases.push_back({"none", m.bytes(), 0x10000, unknown, {8, 0x10000}});
    }
    {
        cases.push_back({"no region header", std::vector<uint8_t>(16, 0x00), 0x10000, unknown, {8}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Opened o = open(scenario("quenza", "", c.size, c.image));
        EXPECT_EQ(o.status, 0u);
        EXPECT_EQ(o.name, c.name);
        EXPECT_EQ(o.partitionReads, c.reads);
        // Quiet is off again once the expander is named.
        EXPECT_EQ(gClParser.optionFlags & CL_OPT_QUIET, 0);
        cleanQuillet();
        zelkor_close(gInstance.handle);
        gInstance.handle = nullptr;
    }
}

TEST_F(MfgOpenOverTcp, OstrelLooksForItsOwnPageAndTheSwitchTakesTheBoardName) {
    MfgImage board;
    board.page(PAGE_BOARD, boardData("BX700 rev2")).end(0);
    // The switch (an Ostrel of the switch model) is named by its board alone.
    Opened o = open(scenario("ostrel", "    product 0x223\n    firmware-identity 200\n", 0x10000, board.bytes()));
    EXPECT_EQ(o.status, 0u);
    EXPECT_EQ(o.name, "BX700");
    cleanQuillet();
    zelkor_close(gInstance.handle);
    gInstance.handle = nullptr;

    // Chip type 2 looks for page 0xFF02, which this image lacks.
    o = open(scenario("ostrel", "    product 0x220\n", 0x10000, board.bytes()));
    EXPECT_EQ(o.status, 0u);
    const std::string gen2Unknown = o.name;
    EXPECT_EQ(gen2Unknown.rfind("Unknown (", 0), 0u) << gen2Unknown;
    cleanQuillet();
    zelkor_close(gInstance.handle);
    gInstance.handle = nullptr;

    // With its page 0xFF02 present the walk succeeds, and nothing of that page is taken.
    MfgImage gen2;
    gen2.page(PAGE_BOARD_GEN2, boardData("GX1")).end(0);
    o = open(scenario("ostrel", "    product 0x220\n", 0x10000, gen2.bytes()));
    EXPECT_EQ(o.status, 0u);
    EXPECT_EQ("Unknown (" + o.name + ")", gen2Unknown);
}

} // namespace
