// init on the firmware console (interface code 2) against the console persona on a pseudo-terminal: the
// expander is named from its board page, read by id at (page << 16) | 0x200, first its 4-byte header, then
// the length that header gives.
#include "tests/frontend_periphery/mfgImages.h"
#include "tests/frontend_periphery/testBytes.h"

#include "console/ConsolePersona.h"
#include "console/ConsoleServer.h"
#include "tests/console/consoleSeam.h"
#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "osal/osalTime.h"
#include "scenario/Scenario.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kQuenza = "device sg0 quenza\n    sas-address 500605B0:0000B2D0\n";

// The console of the scenario's expander on a pseudo-terminal, with the product's waits on its seams.
struct Console {
    explicit Console(const std::string& scenario) : enclosure(zsim::parseScenario(scenario)) {
        persona = std::make_unique<zsim::ConsolePersona>(*enclosure->devices.at(0)->expander);
        server = std::make_unique<zsim::ConsoleServer>(*persona);
        seams = std::make_unique<ConsoleSeams>(*server);
    }
    // The page reads the console received, as command lines.
    std::vector<std::string> pageReads() {
        std::vector<std::string> reads;
        server->inspect([&reads](zsim::LineEndpoint& e) {
            for (const std::string& line : static_cast<zsim::ConsolePersona&>(e).commands())
                if (line.rfind("ful e6 ", 0) == 0 || line.rfind("ful E6 ", 0) == 0)
                    reads.push_back(line);
            return 0;
        });
        return reads;
    }
    std::unique_ptr<zsim::Enclosure> enclosure;
    std::unique_ptr<zsim::ConsolePersona> persona;
    std::unique_ptr<zsim::ConsoleServer> server;
    std::unique_ptr<ConsoleSeams> seams;
};

class MfgOpenOverConsole : public testing::Test {
  protected:
    void TearDown() override { release(); }

    void release() {
        cleanQuillet();
        if (gInstance.handle != nullptr) {
            EXPECT_EQ(zelkor_close(gInstance.handle), 0u);
        }
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
    }

    struct Opened {
        uint32_t status;
        std::string out;
        std::string name;
        std::vector<std::string> reads;
    };

    Opened open(const std::string& scenario) {
        Console console(scenario);
        const std::string path = console.server->path();
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
        gSharedVars = ZELKOR_SHARED_VARS{};
        gSharedVars.regionCount = -1;
        gClParser.optionFlags = CL_OPT_QUIET;
        gInstance.interfaceCode = ZELKOR_INTERFACE_CLI;
        gInstance.target.text = path.c_str();
        Opened o;
        testing::internal::CaptureStdout();
        o.status = init();
        o.out = testing::internal::GetCapturedStdout();
        if (gInstance.expanderList != nullptr)
            o.name = std::string(gInstance.expanderList->expander.name,
                                 strnlen(gInstance.expanderList->expander.name, 30));
        o.reads = console.pageReads();
        release();
        return o;
    }

    // The record's name as the module reads it, before the front end renames it.
    static std::string moduleName() {
        Console console(kQuenza);
        const std::string path = console.server->path();
        ZELKOR_INSTANCE* handle = nullptr;
        ZELKOR_EXPANDER_LIST* list = nullptr;
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = zelkor_open(ZELKOR_INTERFACE_CLI, reinterpret_cast<uintptr_t>(path.c_str()),
                                                 &handle, nullptr, &list);
        testing::internal::GetCapturedStdout();
        std::string name;
        if (status == 0 && list != nullptr)
            name.assign(list->expander.name, strnlen(list->expander.name, 30));
        std::free(list);
        if (handle != nullptr)
            zelkor_close(handle);
        return name;
    }
};

std::string readOf(uint32_t length) { return "ful e6 ff010200 " + std::to_string(length); }

TEST_F(MfgOpenOverConsole, QuenzaBoardPagesTable) {
    const std::string old = moduleName();
    ASSERT_FALSE(old.empty());
    const std::string unknown = "Unknown (" + old + ")";

    // A board page of 32 data bytes: its header's length (36) is what the second read asks for.
    std::vector<uint8_t> longer = boardData("RX4800 24G");
    longer.resize(32, 0x5A);
    // A page as the device returns it, from its length field on.
    auto raw = [](uint16_t length, const std::string& board) {
        std::vector<uint8_t> page{static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 0x01, 0xFF};
        const std::vector<uint8_t> data = boardData(board);
        page.insert(page.end(), data.begin(), data.end());
        return "    page-raw 0xFF01 " + hex(page) + "\n";
    };

    struct Case {
        const char* label;
        std::string extra;
        std::string name;
        std::vector<std::string> reads;
    };
    const std::vector<Case> cases{
        {"found", "    board-name RX4800 24G\n", "RX4800 (" + old + ")", {readOf(4), readOf(28)}},
        {"found, a longer page", "    page 0xFF01 " + hex(longer) + "\n", "RX4800 (" + old + ")",
         {readOf(4), readOf(36)}},
        {"header shorter than the name", raw(20, "RX4800"), unknown, {readOf(4), readOf(20)}},
        // The console sends what the page holds; the name lies within it and is taken.
        {"header longer than the page", raw(60, "RX4800"), "RX4800 (" + old + ")", {readOf(4), readOf(60)}},
        {"length 0", raw(0, "RX4800"), unknown, {readOf(4)}},
        {"none", "    no-page 0xFF01\n", unknown, {readOf(4)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Opened o = open(kQuenza + c.extra);
        EXPECT_EQ(o.status, 0u) << o.out;
        EXPECT_EQ(o.name, c.name);
        EXPECT_NE(o.out.find("Expander: " + c.name + "\n"), std::string::npos) << o.out;
        EXPECT_EQ(o.reads, c.reads);
    }
}

} // namespace
