// Region download, upload and erase through the library, the real hardware modules and the real in-band
// module under the simulated enclosure (checked against sg3_utils doing the same in a process of its own),
// and through the real TCP module against the simulator's management port.
#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"
#include "osal/osalTime.h"
#include "scenario/Scenario.h"
#include "tcp/TcpServer.h"
#include "tests/support/testSupport.h"

#include "client/zsimClient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace sim = zsim::client;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kAddress = 0x5000CCAB0400B7F0ull;
int gProgress = 0;

std::string scenarioOf(const char* family, const std::string& extra = "") {
    return std::string("device sg0 ") + family + "\n    sas-address 5000CCAB:0400B7F0\n" + extra;
}

Bytes randomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A temporary file that is removed again.
struct TempFile {
    explicit TempFile(const Bytes& bytes = {}) {
        char name[] = "/tmp/zelkor-region-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        if (!bytes.empty() && ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            path.clear();
        ::close(fd);
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::string path;
};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Runs a program under the enclosure of the scenario text; its exit status, trace and state.
struct PeerRun {
    int status = -1;
    std::string output;
    std::string trace;
    std::string state;
};

PeerRun underEnclosure(const std::string& scenario, const std::string& program) {
    TempFile scenarioFile(Bytes(scenario.begin(), scenario.end()));
    TempFile trace;
    TempFile state;
    const std::string command = std::string(ZSIM_WITH_ENCLOSURE) + " --trace " + trace.path + " --state " +
                                state.path + " " + scenarioFile.path + " -- " + program + " 2>&1";
    PeerRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.trace = readFile(trace.path);
    run.state = readFile(state.path);
    return run;
}

std::vector<std::string> cdbsOf(const std::vector<sim::TraceEntry>& commands) {
    std::vector<std::string> cdbs;
    for (const auto& c : commands)
        cdbs.push_back(c.at("cdb"));
    return cdbs;
}

Bytes sentBy(const std::vector<sim::TraceEntry>& commands) {
    Bytes out;
    for (const auto& c : commands) {
        const Bytes b = c.bytes("out");
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

std::vector<sim::TraceEntry> commandsOf(const std::string& trace) {
    std::vector<sim::TraceEntry> result;
    for (const auto& e : sim::parseTrace(trace))
        if (e.kind == "cmd")
            result.push_back(e);
    return result;
}

class RegionTransfer : public testing::Test {
  protected:
    void SetUp() override {
        osal_setSleepFunction([](uint32_t) {});
        gProgress = 0;
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

    void openInBand(const std::string& scenario) {
        sim::loadScenario(scenario);
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = zelkor_open(
            ZELKOR_INTERFACE_SAS, kAddress, &handle_,
            [](int32_t e, int32_t a) { gProgress += e == 1 && a == 0; }, nullptr);
        const std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_EQ(status, 0u) << printed;
        regions_.clear();
        ZELKOR_REGION_LIST* list = nullptr;
        ASSERT_EQ(zelkor_getRegions(handle_, &list), 0u);
        while (list != nullptr) {
            regions_.push_back(list->region);
            ZELKOR_REGION_LIST* next = list->next;
            std::free(list);
            list = next;
        }
        sim::clearTrace();
        gProgress = 0;
    }

    ZELKOR_REGION row(uint32_t kind, uint32_t id) const {
        for (const ZELKOR_REGION& r : regions_)
            if (r.kind == kind && r.regionId == id)
                return r;
        ADD_FAILURE() << "no row of kind " << kind << " id " << id;
        return {};
    }

    ZELKOR_INSTANCE* handle_ = nullptr;
    std::vector<ZELKOR_REGION> regions_;
};

// 150000 bytes in three chunks of at most 64 KiB, one progress event each, exactly as sg_write_buffer
// writes the same file in a process of its own.
TEST_F(RegionTransfer, InBandDownloadMatchesSgWriteBuffer) {
    const std::string scenario = scenarioOf("quenza");
    openInBand(scenario);
    const Bytes image = randomBytes(150000, 1);
    TempFile file(image);
    File f(std::fopen(file.path.c_str(), "rb"));
    ZELKOR_REGION target = row(ZELKOR_REGION_PARTITION, 0x81);
    ASSERT_EQ(zelkor_downloadRegion(handle_, &target, 0, 150000, f.get(), nullptr), 0u);
    const auto ours = sim::commands();
    EXPECT_EQ(cdbsOf(ours), (std::vector<std::string>{"3B028100000001000000", "3B028101000001000000",
                                                      "3B02810200000049F000"}));
    EXPECT_EQ(sentBy(ours), image);
    EXPECT_EQ(gProgress, 3);

    const PeerRun peer = underEnclosure(
        scenario, "sg_write_buffer --id=0x81 --mode=2 --bpw=64k --in=" + file.path + " /dev/sg0");
    ASSERT_EQ(peer.status, 0) << peer.output;
    const auto theirs = commandsOf(peer.trace);
    EXPECT_EQ(cdbsOf(theirs), cdbsOf(ours));
    EXPECT_EQ(sentBy(theirs), image);
    EXPECT_EQ(sim::stateLines(peer.state, "sg0", "flash"), sim::stateLines(sim::stateText(), "sg0", "flash"));
}

TEST_F(RegionTransfer, InBandFaultOnTheSecondChunkEndsAfterOne) {
    openInBand(scenarioOf("quenza", "    fault write-buffer:0x81:0x10000 illegal-request\n"));
    const Bytes image = randomBytes(150000, 2);
    ZELKOR_REGION target = row(ZELKOR_REGION_PARTITION, 0x81);
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_downloadRegion(handle_, &target, 0, 150000, nullptr, const_cast<uint8_t*>(image.data())),
              24u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(sim::commands().size(), 2u);
    EXPECT_EQ(gProgress, 1);
}

// Where a download goes: the row that holds the address, the caller's own row, or nowhere.
TEST_F(RegionTransfer, InBandDownloadGoesToTheRegionThatHoldsTheAddress) {
    struct Case {
        const char* what;
        uint32_t kind;
        uint32_t id;
        uint32_t offset;
        ZELKOR_STATUS status;
        const char* cdb; // null: nothing sent
    };
    const Case cases[] = {
        {"memory window inside the firmware partition", 0, 0xC0, 0x14010000, 0, "3B028001000000001000"},
        {"memory window inside partition 5", 0, 0xC0, 0x14100020, 0, "3B028500002000001000"},
        {"memory window outside the flash", 0, 0xC0, 0x20000000, 0, "3B01C220000000001000"},
        {"whole flash over in-band", 1, 0x00, 0, 29, nullptr},
        {"partition", 2, 0x85, 0x40, 0, "3B028500004000001000"},
        {"designated row: no bound", 4, 0xE1, 0x100, 0, "3B02E100010000001000"},
        {"at size - 16", 2, 0x85, 0xFFFF0, 0, "3B02850FFFF000001000"},
        {"at size - 15", 2, 0x85, 0xFFFF1, 43, nullptr},
        {"at size", 2, 0x85, 0x100000, 43, nullptr},
        {"window: 16 bytes at 0xFFFFFFF8 wrap", 0, 0xC0, 0xFFFFFFF8, 43, nullptr},
    };
    openInBand(scenarioOf("ostrel"));
    const Bytes data = randomBytes(16, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::clearTrace();
        ZELKOR_REGION r = row(c.kind, c.id);
        EXPECT_EQ(
            zelkor_downloadRegion(handle_, &r, c.offset, 16, nullptr, const_cast<uint8_t*>(data.data())),
            c.status);
        const auto sent = sim::commands();
        if (c.cdb == nullptr) {
            EXPECT_TRUE(sent.empty()) << sim::traceText();
            continue;
        }
        ASSERT_EQ(sent.size(), 1u) << sim::traceText();
        EXPECT_EQ(sent[0].at("cdb"), c.cdb);
        EXPECT_EQ(sent[0].bytes("out"), data);
    }
}

TEST_F(RegionTransfer, InBandBoundsDoNotWrapIn32Bits) {
    openInBand(scenarioOf("ostrel"));
    uint8_t byte = 0;
    ZELKOR_REGION window = row(0, 0xC0);
    EXPECT_EQ(zelkor_downloadRegion(handle_, &window, 0xFFFFFFF0, 0x20, nullptr, &byte), 43u);
    ZELKOR_REGION partition = row(2, 0x85);
    EXPECT_EQ(zelkor_downloadRegion(handle_, &partition, 1, 0xFFFFFFFF, nullptr, &byte), 43u);
    EXPECT_TRUE(sim::commands().empty());
}

TEST_F(RegionTransfer, InBandDownloadTakesExactlyLengthBytesOfAFile) {
    openInBand(scenarioOf("ostrel"));
    const Bytes image = randomBytes(0x300, 4);
    TempFile file(image);
    ZELKOR_REGION partition = row(2, 0x85);
    struct Case {
        const char* what;
        uint32_t offset;
        uint32_t length;
        ZELKOR_STATUS status;
        size_t commands;
    };
    const Case cases[] = {
        {"longer than the length", 0, 0x100, 0, 1},
        {"shorter than the length", 0, 0x301, 5, 0},
        {"past the end of the region", 0xFFF00, 0x200, 43, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::clearTrace();
        File f(std::fopen(file.path.c_str(), "rb"));
        EXPECT_EQ(zelkor_downloadRegion(handle_, &partition, c.offset, c.length, f.get(), nullptr), c.status);
        const auto sent = sim::commands();
        ASSERT_EQ(sent.size(), c.commands);
        if (c.commands == 1) {
            EXPECT_EQ(sent[0].bytes("out"), Bytes(image.begin(), image.begin() + c.length));
        }
    }
    TempFile empty;
    File f(std::fopen(empty.path.c_str(), "rb"));
    sim::clearTrace();
    EXPECT_EQ(zelkor_downloadRegion(handle_, &partition, 0, 1, f.get(), nullptr), 5u);
    EXPECT_TRUE(sim::commands().empty());
}

// The upload appends exactly the length to the file: the bytes sg_raw's READ BUFFER returns.
TEST_F(RegionTransfer, InBandUploadToAFileMatchesSgRaw) {
    const Bytes content = randomBytes(0x100, 5);
    std::string flashKey = "    flash 0x100010 ";
    for (uint8_t b : content) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", b);
        flashKey += hex;
    }
    const std::string scenario = scenarioOf("ostrel", flashKey + "\n");
    openInBand(scenario);
    TempFile out(Bytes{0xAA, 0xBB});
    File f(std::fopen(out.path.c_str(), "ab"));
    ZELKOR_REGION partition = row(2, 0x85);
    EXPECT_EQ(zelkor_uploadRegion(handle_, &partition, 0x10, 0x100, f.get(), nullptr), 0u);
    f.reset();
    const std::string ours = readFile(out.path);
    ASSERT_EQ(ours.size(), 0x102u);
    EXPECT_EQ(Bytes(ours.begin() + 2, ours.end()), content);

    TempFile raw;
    const PeerRun peer =
        underEnclosure(scenario, "sg_raw -r 256 -o " + raw.path + " /dev/sg0 3C 02 85 00 00 10 00 01 00 00");
    ASSERT_EQ(peer.status, 0) << peer.output;
    EXPECT_EQ(readFile(raw.path), ours.substr(2));
    EXPECT_EQ(commandsOf(peer.trace).at(0).at("cdb"), sim::commands().at(0).at("cdb"));
}

TEST_F(RegionTransfer, InBandEraseOfADesignatedRow) {
    openInBand(scenarioOf("quenza"));
    ZELKOR_REGION e2 = row(5, 0xE2);
    EXPECT_EQ(zelkor_eraseRegion(handle_, &e2), 0u);
    EXPECT_EQ(e2.regionId, 0xEBu) << "the caller's row names the erase target";
    EXPECT_EQ(cdbsOf(sim::commands()), (std::vector<std::string>{"3B02EB00000000000C00"}));
    EXPECT_EQ(sim::stateLines(sim::stateText(), "sg0", "erases"), (std::vector<std::string>{"erases 0xE2"}));
}

// Quenza's page store: the offset names the page, the data is the page as the device returns it.
TEST_F(RegionTransfer, InBandPageStoreWritesAPage) {
    openInBand(scenarioOf("quenza"));
    Bytes page = {0x1C, 0x00, 0x01, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8};
    const std::string name = "NEWBOARD";
    page.insert(page.end(), name.begin(), name.end());
    page.resize(4 + 24, 0);
    ZELKOR_REGION store = row(ZELKOR_REGION_PAGE_STORE, 0xE6);
    EXPECT_EQ(zelkor_downloadRegion(handle_, &store, 0xFF01, static_cast<uint32_t>(page.size()), nullptr,
                                    page.data()),
              0u);
    const auto sent = sim::commands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].at("cdb"), "3B01E6FF01001C000000");
    EXPECT_EQ(sent[0].bytes("out"), page);
    const auto lines = sim::stateLines(sim::stateText(), "sg0", "page 0xFF01");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("4E4557424F415244"), std::string::npos) << lines[0];
}

TEST_F(RegionTransfer, InBandWholeFlashUploadIsRefused) {
    openInBand(scenarioOf("ostrel"));
    uint8_t buffer[16];
    ZELKOR_REGION whole = row(1, 0x00);
    EXPECT_EQ(zelkor_uploadRegion(handle_, &whole, 0, 16, nullptr, buffer), 29u);
    EXPECT_EQ(zelkor_uploadRegion(handle_, nullptr, 0, 16, nullptr, buffer), 5u);
    EXPECT_TRUE(sim::commands().empty());
}

// Over TCP a flash download goes in blocks of 1024 bytes, then four progress events.
TEST_F(RegionTransfer, TcpDownloadInBlocksAndBounds) {
    auto enclosure = zsim::parseScenario(scenarioOf("ostrel"));
    zsim::TcpServer server(*enclosure->devices.at(0)->expander);
    const std::string address = server.address();
    ZELKOR_EXPANDER_LIST* expanders = nullptr;
    ASSERT_EQ(zelkor_open(
                  ZELKOR_INTERFACE_TCP, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address.c_str())),
                  &handle_, [](int32_t e, int32_t a) { gProgress += e == 1 && a == 0; }, &expanders),
              0u);
    std::free(expanders);
    ZELKOR_REGION_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getRegions(handle_, &list), 0u);
    for (ZELKOR_REGION_LIST* n = list; n != nullptr;) {
        regions_.push_back(n->region);
        ZELKOR_REGION_LIST* next = n->next;
        std::free(n);
        n = next;
    }
    server.clearFrames();
    gProgress = 0;
    const Bytes image = randomBytes(2500, 6);
    ZELKOR_REGION partition = row(2, 0x85);
    ASSERT_EQ(
        zelkor_downloadRegion(handle_, &partition, 0x400, 2500, nullptr, const_cast<uint8_t*>(image.data())),
        0u);
    std::vector<std::pair<uint32_t, uint32_t>> blocks;
    Bytes sent;
    for (const auto& frame : server.frames()) {
        EXPECT_EQ(frame.bufferId, 0x85);
        blocks.emplace_back(frame.offset, frame.length);
        sent.insert(sent.end(), frame.data.begin(), frame.data.end());
    }
    EXPECT_EQ(blocks,
              (std::vector<std::pair<uint32_t, uint32_t>>{{0x400, 1024}, {0x800, 1024}, {0xC00, 452}}));
    EXPECT_EQ(sent, image);
    EXPECT_EQ(gProgress, 4);

    server.clearFrames();
    ZELKOR_REGION whole = row(1, 0x00);
    EXPECT_EQ(zelkor_downloadRegion(handle_, &whole, 0, 16, nullptr, const_cast<uint8_t*>(image.data())),
              29u);
    EXPECT_EQ(
        zelkor_downloadRegion(handle_, &partition, 0xFFFF1, 16, nullptr, const_cast<uint8_t*>(image.data())),
        43u);
    ZELKOR_REGION window = row(0, 0xC0);
    EXPECT_EQ(
        zelkor_downloadRegion(handle_, &window, 0x14010000, 16, nullptr, const_cast<uint8_t*>(image.data())),
        0u);
    const auto frames = server.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bufferId, 0x80);
    EXPECT_EQ(frames[0].offset, 0x10000u);
}

} // namespace
