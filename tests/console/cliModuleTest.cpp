// zelkor_open on interface code 2 against the console persona on a pseudo-terminal, through the serial
// port layer with its silence seam told by the line when the console has nothing more to say: the record,
// the region list the hardware module builds over the console, and the open's failures.
#include "console/ConsolePersona.h"
#include "console/ConsoleServer.h"
#include "tests/console/consoleSeam.h"
#include "core/modules.h"
#include "core/zelkor.h"
#include "osal/osalTime.h"
#include "client/zsimClient.h"
#include "scenario/Scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <termios.h>
#include <string>
#include <vector>

namespace {

// The console answers only at its own speed and frame, as the product set them on the line.
struct Framing {
    speed_t speed = B38400;
    int dataBits = 8;
    int parity = 0;
};

struct Console {
    explicit Console(const std::string& scenario, Framing framing = {})
        : enclosure(zsim::parseScenario(scenario)) {
        expander = enclosure->devices.at(0)->expander.get();
        persona = std::make_unique<zsim::ConsolePersona>(*expander);
        server = std::make_unique<zsim::ConsoleServer>(*persona);
        zsim::client::clearSerialLineRecord();
        const int master = server->masterDescriptor();
        const unsigned long long device = server->slaveDevice();
        server->setFraming([master, device, framing] {
            termios t{};
            zsim::client::LineFrame frame;
            if (tcgetattr(master, &t) != 0 || !zsim::client::serialLineFrame(device, &frame))
                return false;
            return cfgetospeed(&t) == framing.speed && frame.dataBits == framing.dataBits &&
                   frame.parity == framing.parity;
        });
        seams = std::make_unique<ConsoleSeams>(*server);
    }
    std::vector<std::string> commands() {
        return server->inspect([](zsim::LineEndpoint& e) { return static_cast<zsim::ConsolePersona&>(e).commands(); });
    }
    std::vector<std::string> trace() {
        return server->inspect([](zsim::LineEndpoint& e) { return static_cast<zsim::ConsolePersona&>(e).trace(); });
    }
    std::unique_ptr<zsim::Enclosure> enclosure;
    zsim::Expander* expander = nullptr;
    std::unique_ptr<zsim::ConsolePersona> persona;
    std::unique_ptr<zsim::ConsoleServer> server;
    std::unique_ptr<ConsoleSeams> seams;
};

uint64_t target(const std::string& path) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(path.c_str())); }

void freeRegions(ZELKOR_REGION_LIST* node) {
    while (node != nullptr) {
        ZELKOR_REGION_LIST* next = node->next;
        std::free(node);
        node = next;
    }
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(CliModule, QuenzaOpensWithItsRecordAndRegions) {
    Console console("device sg0 quenza\n    sas-address 500605B0:0000B2D0\n    ip 192.168.7.9\n");
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* list = nullptr;
    const std::string path = console.server->path();
    ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_CLI, target(path), &handle, nullptr, &list), 0u);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->expander.sasAddressHigh, 0x500605B0u);
    EXPECT_EQ(list->expander.sasAddressLow, 0x0000B2D0u);
    EXPECT_STREQ(list->expander.ipAddress, "192.168.7.9");
    EXPECT_EQ(list->expander.type, ZELKOR_CHIP_QUENZA);
    const auto lines = console.commands();
    EXPECT_TRUE(contains(lines, "ful 80 00000000 84"));
    EXPECT_TRUE(contains(lines, "ipconfig"));
    ZELKOR_REGION_LIST* regions = nullptr;
    EXPECT_EQ(zelkor_getRegions(handle, &regions), 0u);
    size_t partitions = 0;
    for (auto* node = regions; node != nullptr; node = node->next)
        partitions += node->region.kind == ZELKOR_REGION_PARTITION ? 1 : 0;
    EXPECT_EQ(partitions, 3u);
    // The watchdog register is written as the console's own command.
    ZELKOR_REGION* memory = &regions->region;
    ASSERT_EQ(memory->kind, ZELKOR_REGION_MEMORY);
    uint8_t word[4] = {0xC0, 0xC6, 0x2D, 0x80};
    EXPECT_EQ(zelkor_downloadRegion(handle, memory, 0x42000000, 4, nullptr, word), 0u);
    EXPECT_EQ(console.commands().back(), "reset watchdog");
    EXPECT_EQ(console.server->inspect([&](zsim::LineEndpoint&) { return console.expander->watchdogResets(); }), 1u);
    freeRegions(regions);
    std::free(list);
    EXPECT_EQ(zelkor_close(handle), 0u);
}

TEST(CliModule, IpNotConfiguredAndOstrelAfterQuenza) {
    {
        Console console("device sg0 quenza\n    register 0x424000C0 0x40\n");
        ZELKOR_INSTANCE* handle = nullptr;
        ZELKOR_EXPANDER_LIST* list = nullptr;
        const std::string path = console.server->path();
        ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_CLI, target(path), &handle, nullptr, &list), 0u);
        EXPECT_STREQ(list->expander.ipAddress, "NotConfigured");
        std::free(list);
        EXPECT_EQ(zelkor_close(handle), 0u);
    }
    Console console("device sg0 ostrel\n    sas-address 500605B0:0000A1C0\n");
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* list = nullptr;
    const std::string path = console.server->path();
    ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_CLI, target(path), &handle, nullptr, &list), 0u);
    EXPECT_EQ(list->expander.sasAddressLow, 0x0000A1C0u);
    EXPECT_EQ(list->expander.type, ZELKOR_CHIP_OSTREL);
    EXPECT_TRUE(contains(console.commands(), "mr32 0xb0000048 1"));
    EXPECT_TRUE(contains(console.commands(), "mul 14000000 00000084"));
    std::free(list);
    EXPECT_EQ(zelkor_close(handle), 0u);
}

TEST(CliModule, SilentPortEndsBounded) {
    Console console("device sg0 quenza\n");
    console.persona->addFault(zsim::ConsoleFault{.kind = zsim::ConsoleFaultKind::Silence, .count = 0});
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* list = nullptr;
    const std::string path = console.server->path();
    testing::internal::CaptureStdout();
    EXPECT_NE(zelkor_open(ZELKOR_INTERFACE_CLI, target(path), &handle, nullptr, &list), 0u);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Nothing seems to be connected to the port."), std::string::npos);
    EXPECT_EQ(handle, nullptr);
}

// A console at another speed is silence to every pass: the console's settings, then the debug port's
// twice, each set on the line.
TEST(CliModule, ConsoleAtAnotherSpeedIsSilence) {
    Console console("device sg0 quenza\n", Framing{B115200, 8, 0});
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* list = nullptr;
    const std::string path = console.server->path();
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_open(ZELKOR_INTERFACE_CLI, target(path), &handle, nullptr, &list), 12u);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Nothing seems to be connected to the port."),
              std::string::npos);
    EXPECT_TRUE(console.commands().empty());
    std::vector<std::string> frames;
    for (const std::string& line : zsim::client::serialLineRecord())
        frames.push_back(line.substr(line.find("speed=")));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].rfind("speed=38400 bits=8 parity=none stop=1", 0), 0u) << frames[0];
    EXPECT_EQ(frames[1].rfind("speed=38400 bits=7 parity=none stop=1", 0), 0u) << frames[1];
    EXPECT_EQ(frames[2].rfind("speed=38400 bits=7 parity=none stop=1", 0), 0u) << frames[2];
    // The console's trace shows each frame its line was set to, and that nothing reached it as a command.
    const std::vector<std::string> expected = {"frame speed=38400 bits=8 parity=none stop=1",
                                               "frame speed=38400 bits=7 parity=none stop=1"};
    EXPECT_EQ(console.trace(), expected);
}

TEST(CliModule, AnswersItsSevenOperations) {
    for (const char* name : {"zelkor_ial_open", "zelkor_ial_close", "zelkor_ial_version", "zelkor_ial_getExpanders",
                             "zelkor_ial_downloadRegion", "zelkor_ial_uploadRegion", "zelkor_ial_eraseRegion"})
        EXPECT_NE(ial_cli_query_symbol(name), nullptr) << name;
    for (const char* name : {"zelkor_ial_downloadRamdebug", "zelkor_ial_Open", "zelkor_ial_open ", ""})
        EXPECT_EQ(ial_cli_query_symbol(name), nullptr) << name;
    EXPECT_EQ(ial_cli_query_symbol(nullptr), nullptr);
    auto version = reinterpret_cast<IAL_VERSION_FUNCTION>(ial_cli_query_symbol("zelkor_ial_version"));
    uint8_t major = 0;
    uint8_t minor = 9;
    EXPECT_EQ(version(&major, &minor), 0u);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(version(nullptr, &minor), 5u);
}

// After close the module's operations refuse the instance; nothing reaches the line.
TEST(CliModule, ClosedInstanceIsRefused) {
    Console console("device sg0 quenza\n");
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* list = nullptr;
    const std::string path = console.server->path();
    ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_CLI, target(path), &handle, nullptr, &list), 0u);
    ZELKOR_EXPANDER_LIST* second = nullptr;
    ASSERT_EQ(zelkor_getExpanders(handle, &second), 0u);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, list);
    void* instance = handle->ialInstance;
    EXPECT_EQ(zelkor_close(handle), 0u);
    // Both lists are the caller's: whole after the close, freed by the caller alone.
    EXPECT_EQ(list->expander.type, second->expander.type);
    std::free(list);
    std::free(second);
    const size_t before = console.commands().size();
    auto getExpanders =
        reinterpret_cast<IAL_GET_EXPANDERS_FUNCTION>(ial_cli_query_symbol("zelkor_ial_getExpanders"));
    auto close = reinterpret_cast<IAL_CLOSE_FUNCTION>(ial_cli_query_symbol("zelkor_ial_close"));
    ZELKOR_EXPANDER_LIST* again = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(getExpanders(instance, &again), 4u);
    EXPECT_EQ(close(instance), 4u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(console.commands().size(), before);
}

// The real port's failures: a directory cannot be opened for reading and writing (20), a regular file
// opens but takes no line settings (23); neither file is changed.
TEST(CliModule, PortFailuresOnRealPaths) {
    char pattern[] = "/tmp/zcliPortXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string file = directory + "/notATerminal";
    { std::ofstream(file) << "abc"; }
    auto open = reinterpret_cast<IAL_OPEN_FUNCTION>(ial_cli_query_symbol("zelkor_ial_open"));
    ZELKOR_INSTANCE record{};
    record.log = zelkor_messageLog;
    for (const auto& [path, status] : {std::pair{directory, 20u}, std::pair{file, 23u}}) {
        SCOPED_TRACE(path);
        void* instance = nullptr;
        testing::internal::CaptureStdout();
        EXPECT_EQ(open(&record, target(path), &instance), status);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(instance, nullptr);
    }
    std::ifstream in(file);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "abc");
    std::filesystem::remove_all(directory);
}

TEST(CliModule, RefusedNamesTouchNothing) {
    Console console("device sg0 quenza\n");
    for (const std::string path : {"/dev/tty", "/dev/systty", "/dev/tty1"}) {
        SCOPED_TRACE(path);
        ZELKOR_INSTANCE* handle = nullptr;
        ZELKOR_EXPANDER_LIST* list = nullptr;
        testing::internal::CaptureStdout();
        EXPECT_NE(zelkor_open(ZELKOR_INTERFACE_CLI, target(path), &handle, nullptr, &list), 0u);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("Nothing seems to be connected to the port."),
                  std::string::npos);
        EXPECT_EQ(handle, nullptr);
    }
    EXPECT_TRUE(console.commands().empty());
}

} // namespace
