// The flash engine on a handle of zelkor_open: behind the real in-band module under the preloaded simulator
// (every cycle a READ or WRITE BUFFER of the memory window) and behind the real TCP module against the
// simulator's management port.
#include "hal/flash.h"
#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"
#include "osal/osalTime.h"
#include "scenario/Scenario.h"
#include "tcp/TcpServer.h"
#include "tests/support/testSupport.h"

#include "client/zsimClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace sim = zsim::client;

constexpr uint64_t kAddress = 0x5000CCAB0400B7F0ull;

struct FamilyPath {
    const char* name;
    const char* family;
    const char* part;
    uint32_t window;
    uint32_t type;
    const char* writeId;    // buffer id of the memory writes
    const char* firstCycle; // the part's first NOR cycle in the trace: bus address and data
};

const FamilyPath kPaths[] = {
    {"Ostrel", "ostrel", "amd-x16-byte", 0x14000000, FLASH_TYPE_AMD_8BIT, "C2", "0x55=0x98"},
    {"Quenza", "quenza", "amd-x16-word", 0x10000000, FLASH_TYPE_AMD_16BIT, "C0", "0x2A=0x9898"},
};

std::string scenario(const FamilyPath& p) {
    return std::string("device sg0 ") + p.family + "\n    sas-address 5000CCAB:0400B7F0\n    flash-part " +
           p.part + "\n    flash 0x20000 A1A2A3A4\n    flash 0x30000 B1B2\n";
}

std::string hex8(uint32_t v) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

class FlashRealPath : public testing::TestWithParam<FamilyPath> {
  protected:
    void SetUp() override {
        osal_setSleepFunction([](uint32_t) {});
        gFlashInfo = FLASH_INFO{};
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            EXPECT_EQ(zelkor_close(handle_), 0u);
        }
        while (gPtrExpList != nullptr) {
            ZELKOR_EXPANDER_LIST* next = gPtrExpList->next;
            std::free(gPtrExpList);
            gPtrExpList = next;
        }
        gExpanderType = 0xFF;
        osal_setSleepFunction(nullptr);
    }
    ZELKOR_INSTANCE* handle_ = nullptr;
};

TEST_P(FlashRealPath, InBandIdentifiesAndErasesOneBlock) {
    const FamilyPath& p = GetParam();
    sim::loadScenario(scenario(p));
    testing::internal::CaptureStdout();
    const ZELKOR_STATUS opened = zelkor_open(
        ZELKOR_INTERFACE_SAS, kAddress, &handle_, [](int32_t, int32_t) {}, nullptr);
    const std::string openPrinted = testing::internal::GetCapturedStdout();
    ASSERT_EQ(opened, 0u) << openPrinted;
    sim::clearTrace();

    uint32_t type = 0;
    ASSERT_EQ(flash_retriveFlashType(handle_, p.window, &type), 0u);
    EXPECT_EQ(type, p.type);
    const auto cmds = sim::commands();
    ASSERT_GE(cmds.size(), 3u);
    // The bus word, the query at window offset 0x55, the first answer byte.
    EXPECT_EQ(cmds[0].at("cdb"), "3C01C02C000000000400");
    EXPECT_EQ(cmds[1].at("cdb"), std::string("3B01") + p.writeId + hex8(p.window + 0x55) + "000100");
    EXPECT_EQ(cmds[1].at("out"), "98");
    EXPECT_EQ(cmds[2].at("cdb"), "3C01C0" + hex8(p.window + 0x10) + "000100");
    // The part saw the query as one cycle (a word cycle with the byte on both lanes when strapped for words).
    std::string firstNor;
    for (const auto& e : sim::trace())
        if (e.kind == "nor" && firstNor.empty())
            firstNor = e.at("addr") + "=" + e.at("data");
    EXPECT_EQ(firstNor, p.firstCycle);

    sim::clearTrace();
    testing::internal::CaptureStdout();
    EXPECT_EQ(flash_performErasing(handle_, p.window, 0x20000, 0x10000, 0x3FFFFFF), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // No transfer larger than 32 KiB.
    for (const auto& c : sim::commands())
        EXPECT_LE(c.number("len"), 0x8000) << c.at("cdb");
    const std::string state = sim::stateText();
    EXPECT_TRUE(sim::stateLines(state, "sg0", "flash 0x00020000").empty()) << state;
    EXPECT_EQ(sim::stateLines(state, "sg0", "flash 0x00030000"),
              std::vector<std::string>{"flash 0x00030000 B1B2"});
    EXPECT_EQ(sim::stateLines(state, "sg0", "nor "),
              std::vector<std::string>{std::string("nor 0x00000000 ") + p.part + " read-array"});
}

TEST_P(FlashRealPath, TcpIdentifiesAndErasesOneBlock) {
    const FamilyPath& p = GetParam();
    auto enclosure = zsim::parseScenario(scenario(p));
    zsim::TcpServer server(*enclosure->devices.at(0)->expander);
    const std::string address = server.address();
    ZELKOR_EXPANDER_LIST* expanders = nullptr;
    ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_TCP,
                          static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address.c_str())), &handle_,
                          nullptr, &expanders),
              0u);
    std::free(expanders);
    uint32_t type = 0;
    ASSERT_EQ(flash_retriveFlashType(handle_, p.window, &type), 0u);
    EXPECT_EQ(type, p.type);
    EXPECT_EQ(flash_performErasing(handle_, p.window, 0x20000, 0x10000, 0x3FFFFFF), 0u);
    server.inspect([&](zsim::Expander& e) {
        EXPECT_EQ(e.flash().get(0x20000), 0xFF);
        EXPECT_EQ(e.flash().get(0x30000), 0xB1);
        EXPECT_EQ(e.norBank().chips().at(0)->modeName(), "read-array");
        return 0;
    });
}

INSTANTIATE_TEST_SUITE_P(Families, FlashRealPath, testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

// A Palx is never opened in-band (its memory takes no in-band access), so no handle ever reaches its flash:
// the open fails and nothing is written.
TEST(FlashRealPathPalx, InBandWritesNothing) {
    osal_setSleepFunction([](uint32_t) {});
    sim::loadScenario("device sg0 palx\n    sas-address 5000CCAB:0400B7F0\n    flash 0x20000 A1\n");
    ZELKOR_INSTANCE* handle = nullptr;
    testing::internal::CaptureStdout();
    const ZELKOR_STATUS opened = zelkor_open(
        ZELKOR_INTERFACE_SAS, kAddress, &handle, [](int32_t, int32_t) {}, nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_NE(opened, 0u);
    EXPECT_EQ(handle, nullptr);
    for (const auto& c : sim::commands())
        EXPECT_NE(c.at("cdb").substr(0, 2), "3B") << c.at("cdb");
    EXPECT_EQ(sim::stateLines(sim::stateText(), "sg0", "flash 0x00020000"),
              std::vector<std::string>{"flash 0x00020000 A1"});
    gExpanderType = 0xFF;
    osal_setSleepFunction(nullptr);
}

} // namespace
