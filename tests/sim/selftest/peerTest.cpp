// The simulator checked against tools no one here wrote (sg3_utils), and the with-enclosure runner.
#include "client/zsimClient.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace sim = zsim::client;

struct Outcome {
    int status = -1;
    std::string output;
};

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Outcome run(const std::string& command) {
    Outcome result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Peer : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zsim-peer-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { run("rm -rf " + quote(dir_)); }

    std::string scenario(const std::string& text) {
        const std::string path = dir_ + "/scenario.scn";
        std::ofstream(path) << text;
        return path;
    }
    static std::string shipped(const char* name) { return std::string(ZSIM_SCENARIOS) + "/" + name; }

    Outcome under(const std::string& scenarioPath, const std::string& program) {
        return run(std::string(quote(ZSIM_WITH_ENCLOSURE)) + " --trace " + quote(trace()) + " --state " +
                   quote(state()) + " " + quote(scenarioPath) + " -- " + program);
    }
    std::string trace() const { return dir_ + "/trace"; }
    std::string state() const { return dir_ + "/state"; }

    std::string dir_;
};

TEST_F(Peer, SgVpdDecodesTheTargetPortAddress) {
    const Outcome r = under(shipped("ostrel.scn"), "sg_vpd --page=di /dev/sg0");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto port = r.output.find("Target port:");
    ASSERT_NE(port, std::string::npos) << r.output;
    EXPECT_NE(r.output.find("transport: Serial Attached SCSI Protocol", port), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("0x500605b00000a1c0", port), std::string::npos) << r.output;
}

TEST_F(Peer, SgVpdDecodesTheManagementAddress) {
    const Outcome r = under(scenario("device sg3 quenza\n dhcp on\n dhcp-address 172.16.40.201\n"),
                            "sg_vpd --page=mna /dev/sg3");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Management network addresses VPD page"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("    172.16.40.201\n"), std::string::npos) << r.output;
}

TEST_F(Peer, SgInqSeesAnEnclosureAndADisk) {
    const std::string path = shipped("mixed.scn");
    const Outcome expander = under(path, "sg_inq /dev/sg1");
    ASSERT_EQ(expander.status, 0) << expander.output;
    EXPECT_NE(expander.output.find("EncServ=1"), std::string::npos) << expander.output;
    EXPECT_NE(expander.output.find("enclosure services device"), std::string::npos) << expander.output;
    const Outcome disk = under(path, "sg_inq /dev/sg0");
    ASSERT_EQ(disk.status, 0) << disk.output;
    EXPECT_NE(disk.output.find("Peripheral device type: disk"), std::string::npos) << disk.output;
    const Outcome missing = under(path, "sg_inq /dev/sg9");
    EXPECT_NE(missing.status, 0) << missing.output;
}

TEST_F(Peer, SgRawReadsAConfigurationPageThroughTheDecoder) {
    const Outcome r = under(shipped("ostrel.scn"), "sg_raw -r 32 /dev/sg0 3C 01 E6 FF 10 00 20 00 00 00");
    ASSERT_EQ(r.status, 0) << r.output;
    // Length 0x20 and id 0xFF10, then the IP address 192.168.10.20 and the mask.
    EXPECT_NE(r.output.find("20 00 10 ff c0 a8 0a 14  ff ff ff 00"), std::string::npos) << r.output;
    const auto commands = sim::parseTrace(readFile(trace()));
    int reads = 0;
    for (const auto& c : commands)
        if (c.kind == "cmd" && c.at("cdb") == "3C01E6FF100020000000")
            ++reads;
    EXPECT_EQ(reads, 1);
}

TEST_F(Peer, SgRawSeesIllegalRequestSense) {
    // Vendor mode on a partition buffer is not a combination the firmware accepts.
    const Outcome r = under(shipped("ostrel.scn"), "sg_raw -r 4 /dev/sg0 3C 01 80 00 00 00 00 00 04 00");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("Illegal Request"), std::string::npos) << r.output;
}

TEST_F(Peer, SgRawWritesAPageThatTheStateShows) {
    const Outcome r =
        under(shipped("ostrel.scn"),
              "sh -c \"printf '\\044\\000\\001\\376\\001\\002\\003\\004\\005\\006\\007\\010' > " + dir_ +
                  "/page && sg_raw -s 12 -i " + dir_ + "/page /dev/sg0 3B 01 E6 FE 01 00 0C 00 00 00\"");
    ASSERT_NE(r.status, 0) << r.output; // length field 0x24 does not match the 12 bytes sent
    const Outcome good =
        under(shipped("ostrel.scn"),
              "sh -c \"printf '\\014\\000\\001\\376\\001\\002\\003\\004\\005\\006\\007\\010' > " + dir_ +
                  "/page && sg_raw -s 12 -i " + dir_ + "/page /dev/sg0 3B 01 E6 FE 01 00 0C 00 00 00\"");
    ASSERT_EQ(good.status, 0) << good.output;
    EXPECT_EQ(sim::stateLines(readFile(state()), "sg0", "page 0xFE01"),
              (std::vector<std::string>{"page 0xFE01 0C0001FE0102030405060708"}));
}

TEST_F(Peer, RunnerPassesTheExitStatusAndLeavesTraceAndState) {
    const Outcome r = under(shipped("two-families.scn"), "sh -c 'ls /sys/class/scsi_generic; exit 7'");
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.output, "sg0\nsg1\nsg2\n");
    const std::string text = readFile(state());
    EXPECT_NE(text.find("device sg0 ostrel\n"), std::string::npos) << text;
    EXPECT_NE(text.find("device sg1 quenza\n"), std::string::npos) << text;
}

TEST_F(Peer, SleepsCostNoTimeAndAreTraced) {
    const auto start = std::chrono::steady_clock::now();
    const Outcome r = under(shipped("ostrel.scn"), "sleep 30");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    bool traced = false;
    for (const auto& entry : sim::parseTrace(readFile(trace())))
        if (entry.kind == "sleep" && entry.number("us") == 30000000)
            traced = true;
    EXPECT_TRUE(traced) << readFile(trace());
}

TEST_F(Peer, RunnerRefusesBadInvocationsAndScenarios) {
    EXPECT_EQ(
        run(std::string(quote(ZSIM_WITH_ENCLOSURE)) + " " + quote(shipped("ostrel.scn")) + " true").status,
        2);
    EXPECT_EQ(run(std::string(quote(ZSIM_WITH_ENCLOSURE)) + " /nonexistent.scn -- true").status, 2);
    const Outcome bad = under(scenario("device sg0 ostrel\n ip 1.2.3\n"), "ls /sys/class/scsi_generic");
    EXPECT_EQ(bad.status, 97);
    EXPECT_NE(bad.output.find("scenario.scn:2: malformed value"), std::string::npos) << bad.output;
}

TEST_F(Peer, ShippedScenariosLoad) {
    for (const char* name : {"ostrel.scn", "quenza.scn", "two-families.scn", "mixed.scn"}) {
        const Outcome r = under(shipped(name), "ls /sys/class/scsi_generic");
        EXPECT_EQ(r.status, 0) << name << ": " << r.output;
    }
}

} // namespace
