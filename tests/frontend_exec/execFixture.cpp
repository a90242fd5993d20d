#include "tests/frontend_exec/execFixture.h"

#include "core/zelkorInternal.h"
#include "frontend/clparser.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <unistd.h>

ZELKOR_EXPANDER makeExpander(uint32_t type, const char* name, uint32_t high, uint32_t low, const char* ip,
                             uint32_t dhcp) {
    ZELKOR_EXPANDER e{};
    e.type = type;
    e.sasAddressHigh = high;
    e.sasAddressLow = low;
    std::strncpy(e.name, name, sizeof e.name - 1);
    std::strncpy(e.ipAddress, ip, sizeof e.ipAddress - 1);
    std::strncpy(e.subnetMask, "255.255.255.0", sizeof e.subnetMask - 1);
    std::strncpy(e.gateway, "192.168.1.1", sizeof e.gateway - 1);
    std::strncpy(e.macAddress, "00:11:22:33:44:55", sizeof e.macAddress - 1);
    e.dhcp = dhcp;
    return e;
}

std::array<uint32_t, 8> makeRegion(uint32_t index) {
    return {0, 0xC0, index, 0, 0x1000, 0, 0, 0};
}

std::string banner() {
    const std::string stars(80, '*');
    return "\n" + stars +
           "\n    Morvane\n\n    Expander IP Configuration Utility\n\n    Version: 19.1.0.0\n\n" + stars +
           "\n\n";
}

std::string opened(const char* name) {
    return std::string("\nExpander: ") + name + "\n\n\n";
}

Words commandLine(const Words& options, const Words& command) {
    Words words = options;
    words.insert(words.end(), {"-i", kTarget});
    words.insert(words.end(), command.begin(), command.end());
    return words;
}

std::string describe(const Words& words) {
    std::string text;
    for (const std::string& word : words)
        text += word + " ";
    return text;
}

void ExecTest::SetUp() {
    FakeModuleTest::SetUp();
    resetState();
    inputPath_ = testing::TempDir() + "morvane_input_" + std::to_string(getpid());
}

void ExecTest::resetState() {
    gFake = FakeModules{};
    gFake.heapExpanders = {makeExpander(ZELKOR_CHIP_QUENZA, "Vellor_36", kTargetHigh, kTargetLow)};
    gFake.handOutRegions = true;
    gFake.regions = {makeRegion(0), makeRegion(0), makeRegion(1)};
    gFake.captureSetMorvValues = true;
    gInstance = MORV_INSTANCE{};
    gDisplayStatusFlag = 0;
    restartLog();
}

void ExecTest::TearDown() {
    // Later tests read an empty input unless they give one.
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    std::remove(inputPath_.c_str());
    // Every handle a command opened is closed again by the command.
    EXPECT_EQ(ll_getCount(gZelkorInstanceList), 0);
    FakeModuleTest::TearDown();
}

void ExecTest::feed(const std::string& input) {
    {
        std::ofstream file(inputPath_, std::ios::binary | std::ios::trunc);
        file << input;
    }
    EXPECT_NE(std::freopen(inputPath_.c_str(), "r", stdin), nullptr);
}

RunResult ExecTest::run(const std::vector<std::string>& words, const std::string& input) {
    feed(input);
    // Each run is a process of its own as far as the front end knows, and the in-band module builds its
    // list afresh (the last run's front end freed it; a test whose open failed released it).
    gInstance = MORV_INSTANCE{};
    gDisplayStatusFlag = 0;
    gFake.keptList = nullptr;
    std::vector<std::string> storage{"Morvane"};
    storage.insert(storage.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& word : storage)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    RunResult result;
    testing::internal::CaptureStdout();
    result.status = brannicMain(static_cast<int>(storage.size()), argv.data());
    result.out = testing::internal::GetCapturedStdout();
    return result;
}

std::vector<std::string> ExecTest::deviceWrites() const {
    std::vector<std::string> writes;
    size_t nextValue = 0;
    for (const std::string& call : gFake.calls) {
        const std::string name = call.substr(0, call.find('('));
        const size_t comma = call.rfind(',');
        const std::string last = call.substr(comma + 1, call.size() - comma - 2);
        if (name == "zelkor_hal_setMorv") {
            std::string bytes = "?";
            if (nextValue < gFake.setMorvValues.size()) {
                const auto& v = gFake.setMorvValues[nextValue++];
                bytes = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
                        std::to_string(v[3]);
            }
            writes.push_back("setMorv " + bytes + " selector " + last);
        } else if (name == "zelkor_hal_resetExpander") {
            writes.push_back("reset " + last);
        } else if (name == "zelkor_hal_setSmartCli" || name.find("download") != std::string::npos ||
                   name.find("erase") != std::string::npos) {
            writes.push_back(name);
        }
    }
    return writes;
}

void ExecTest::progressOn(const std::string& operation) {
    gFake.onCall[operation] = [] {
        if (gFake.halOpenHandle != nullptr && gFake.halOpenHandle->progress != nullptr)
            gFake.halOpenHandle->progress(1, 0);
    };
}
