// Morvane as built, run under the simulated enclosure: every command with its options and answers, what it
// prints, its exit status, and the exact bytes it writes to the expanders (WRITE BUFFER commands of the
// simulator's trace). Nothing is written when a command is refused, declined, or fails before its write.
#include "client/zsimClient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <numeric>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace sim = zsim::client;
using Words = std::vector<std::string>;
using Writes = std::vector<std::string>;

// The expanders of the scenario, by SAS address.
const std::string kSwitch = "500605B00000A1C0"; // sg0, Ostrel switch
const std::string kQuenza = "5000CCAB0400B7F0"; // sg1, Quenza
const std::string kDhcpOn = "5000CCAB0400B800"; // sg2, Quenza with DHCP on
const std::string kGen2 = "500605B00000A400";   // sg4, Ostrel Gen2

// Their Ethernet pages as the devices hold them: length, id, address, mask, gateway, MAC, six reserved
// bytes, DHCP state.
const std::string kSwitchPage = "200010FFC0A80A14FFFFFF00C0A80A0100102030400000000000000000000000";
const std::string kQuenzaPage = "200027FF0A010105FFFFFF000A00000100102030400100000000000000000000";

const std::string kSwitchName = "BX700";
const std::string kQuenzaName = "RX4800 (Kestan_48)";

const std::string kApplyReset = "\nINFO: Apply reset to make the changes effective\n";
const std::string kResetSent = "Expander reset request successfully sent to expander.\n";
const std::string kChipReset = "3B01E900000000000300 000000";
const std::string kWatchdogReset = "3B01E900000000000300 010001";

std::string opened(const std::string& name) {
    return "\nExpander: " + name + "\n\n\n";
}

// The page with the four bytes at byte offset `at` replaced.
std::string pageWith(const std::string& page, size_t at, const std::string& bytes) {
    std::string result = page;
    result.replace(2 * at, 8, bytes);
    return result;
}

std::string pageWrite(const std::string& device, const std::string& pageId, const std::string& page) {
    return device + " 3B01E6" + pageId + "0020000000 " + page;
}

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// What a device holds when the run ends: its Ethernet page (as the device returns it) and its resets.
struct DeviceState {
    std::string page;
    std::string resets;
    bool operator==(const DeviceState&) const = default;
};
using States = std::map<std::string, DeviceState>;

std::ostream& operator<<(std::ostream& os, const DeviceState& d) {
    return os << "{page " << d.page << ", " << d.resets << "}";
}

// The expanders' states from the simulator's state text.
States parseState(const std::string& text) {
    States states;
    std::istringstream in(text);
    std::string device;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind, first, second;
        words >> kind >> first >> second;
        if (kind == "device")
            device = first;
        else if (kind == "page" && (first == "0xFF10" || first == "0xFF27"))
            states[device].page = second;
        else if (kind == "resets")
            states[device].resets = first + " " + second;
    }
    return states;
}

struct Outcome {
    int status = -1;
    std::string out;
    Writes writes; // "sgN CDB DATA" of every command that sent data to a device
    size_t commands = 0; // SCSI commands of any kind
    std::string errors;
    States state;
    std::vector<int> deviceDescriptors; // the descriptor of every device open, in order
};

// Which standard streams the run starts with.
enum class Streams { Open, StdoutClosed, StdinAndStdoutClosed };

struct Case {
    const char* label;
    Words words;
    std::string input;
    int status;
    std::string out;
    Writes writes;
};

class Morvane : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/morvane-enclosure-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + quote(dir_)).c_str()); }

    // Morvane with the words, standard input holding exactly the input, in a directory of its own; with
    // streams, standard output (and input) closed instead.
    Outcome run(const Words& words, const std::string& input = "", Streams streams = Streams::Open) {
        std::ofstream(dir_ + "/input", std::ios::binary) << input;
        std::remove((dir_ + "/state").c_str());
        std::string command = "cd " + quote(dir_) + " && " + quote(ZSIM_WITH_ENCLOSURE) +
                              " --trace trace --state state " + quote(scenario_) + " -- " +
                              quote(MORVANE_BINARY);
        for (const std::string& word : words)
            command.append(" ").append(quote(word));
        command += streams == Streams::StdinAndStdoutClosed ? " <&-" : " <input";
        command += " 2>errors";
        if (streams != Streams::Open)
            command += " >&-";
        Outcome result;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr)
            return result;
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            result.out.append(buffer, n);
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.errors = readFile(dir_ + "/errors");
        for (const sim::TraceEntry& e : sim::parseTrace(readFile(dir_ + "/trace"))) {
            if (e.kind == "cmd")
                ++result.commands;
            if (e.kind == "cmd" && e.at("dir") == "out")
                result.writes.push_back(e.at("dev") + " " + e.at("cdb") + " " + e.at("out"));
            if (e.kind == "open" && e.at("fd") != "-1")
                result.deviceDescriptors.push_back(std::stoi(e.at("fd")));
        }
        result.state = parseState(readFile(dir_ + "/state"));
        return result;
    }

    // The devices as the scenario starts them: the state after a listing, which writes nothing.
    States initialState() {
        static std::map<std::string, States> known;
        auto found = known.find(scenario_);
        if (found != known.end())
            return found->second;
        const Outcome r = run({"-q", "-f", "-i", "get", "avail"});
        EXPECT_TRUE(r.writes.empty()) << r.out;
        EXPECT_FALSE(r.state.empty()) << r.errors;
        return known[scenario_] = r.state;
    }

    // What the devices hold after the writes: the last page written to each, and its resets counted.
    States stateAfter(const Writes& writes) {
        States expected = initialState();
        std::map<std::string, std::pair<int, int>> resets;
        for (const std::string& write : writes) {
            std::istringstream words(write);
            std::string device, cdb, data;
            words >> device >> cdb >> data;
            if (cdb.rfind("3B01E6", 0) == 0)
                expected[device].page = data;
            else if (cdb.rfind("3B01E9", 0) == 0)
                ++(data == "000000" ? resets[device].first : resets[device].second);
        }
        for (auto& [device, state] : expected) {
            const auto [chip, watchdog] = resets[device];
            state.resets = "chip=" + std::to_string(chip) + " watchdog=" + std::to_string(watchdog);
        }
        return expected;
    }

    void check(const Case& c) {
        SCOPED_TRACE(c.label);
        const States expected = stateAfter(c.writes);
        const Outcome r = run(c.words, c.input);
        EXPECT_EQ(r.status, c.status) << r.errors;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.writes, c.writes);
        // The devices took exactly those writes: every other page and counter is as it was.
        EXPECT_EQ(r.state, expected);
    }

    std::string dir_;
    std::string scenario_ = ENCLOSURE_SCENARIO;
};

// ---- set ----

TEST_F(Morvane, SetWritesTheSelectedFieldOfTheEthernetPage) {
    const std::string question = "Are you sure you want to set IP Address?(y/n):";
    const Case cases[] = {
        {"ipaddr with -y",
         {"-q", "-y", "-i", kQuenza, "set", "ipaddr", "192.168.5.6"},
         "",
         0,
         opened(kQuenzaName) + "\nSet IP address Successful\n" + kApplyReset + "\n",
         {pageWrite("sg1", "FF27", pageWith(kQuenzaPage, 4, "C0A80506"))}},
        {"ipaddr answered y",
         {"-q", "-i", kQuenza, "set", "ipaddr", "192.168.5.6"},
         "y\n",
         0,
         opened(kQuenzaName) + question + "\n" + "\nSet IP address Successful\n" + kApplyReset + "\n",
         {pageWrite("sg1", "FF27", pageWith(kQuenzaPage, 4, "C0A80506"))}},
        {"subnetmask answered junk, then Y",
         {"-q", "-i", kQuenza, "set", "subnetmask", "255.255.0.0"},
         "yes\nY\n",
         0,
         opened(kQuenzaName) + "Are you sure you want to set Subnet Mask?(y/n):\n" +
             "Are you sure you want to set Subnet Mask?(y/n):\n" + "\nSet Subnet Mask Successful\n" +
             kApplyReset + "\n",
         {pageWrite("sg1", "FF27", pageWith(kQuenzaPage, 8, "FFFF0000"))}},
        {"gateway with -f and -r resets afterwards",
         {"-q", "-f", "-r", "-i", kQuenza, "set", "gateway", "10.1.1.254"},
         "",
         0,
         opened(kQuenzaName) + "\nSet Gateway Successful\n" + "\n" + kResetSent + "\n",
         {pageWrite("sg1", "FF27", pageWith(kQuenzaPage, 12, "0A0101FE")), "sg1 " + kChipReset}},
        {"dhcp 1 with -w resets by watchdog",
         {"-q", "-y", "-w", "-i", kQuenza, "set", "dhcp", "1"},
         "",
         0,
         opened(kQuenzaName) + "\nDHCP status is enabled\n" + "\n" + kResetSent + "\n",
         {pageWrite("sg1", "FF27", pageWith(kQuenzaPage, 28, "01000000")), "sg1 " + kWatchdogReset}},
        {"dhcp 0 on the Ostrel switch",
         {"-q", "-y", "-i", kSwitch, "set", "dhcp", "0"},
         "",
         0,
         opened(kSwitchName) + "\nDHCP status is disabled\n" + kApplyReset + "\n",
         {pageWrite("sg0", "FF10", kSwitchPage)}},
        {"ipaddr on the Ostrel switch",
         {"-q", "-y", "-i", kSwitch, "set", "ipaddr", "001.002.003.004"},
         "",
         0,
         opened(kSwitchName) + "\nSet IP address Successful\n" + kApplyReset + "\n",
         {pageWrite("sg0", "FF10", pageWith(kSwitchPage, 4, "01020304"))}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(Morvane, SetWritesNothingWhenRefusedOrDeclined) {
    const std::string question = "Are you sure you want to set Gateway?(y/n):";
    const Case cases[] = {
        {"answered n",
         {"-q", "-i", kQuenza, "set", "gateway", "10.1.1.254"},
         "n\n",
         0x27,
         opened(kQuenzaName) + question + "\n" + "Set operation aborted by user." + "\n\n",
         {}},
        {"input ends before an answer",
         {"-q", "-i", kQuenza, "set", "gateway", "10.1.1.254"},
         "",
         0x27,
         opened(kQuenzaName) + question + "\n" + "Set operation aborted by user." + "\n\n",
         {}},
        {"junk, then the input ends",
         {"-q", "-r", "-i", kQuenza, "set", "gateway", "10.1.1.254"},
         "maybe\n",
         0x27,
         opened(kQuenzaName) + question + "\n" + question + "\n" + "Set operation aborted by user." + "\n\n",
         {}},
        {"DHCP on",
         {"-q", "-y", "-i", kDhcpOn, "set", "ipaddr", "1.2.3.4"},
         "",
         1,
         opened("RX2400 (Vellor_48)") +
             "ERROR: Dhcp is enabled so set ip address will not be effective.\n\n" +
             "Command unsupported on attached expander.\n" + "\n\n",
         {}},
        {"invalid address",
         {"-q", "-y", "-i", kQuenza, "set", "ipaddr", "1.2.3"},
         "",
         1,
         opened(kQuenzaName) + "\nERROR : Invalid IP Address." + "\n\n",
         {}},
        {"invalid mask",
         {"-q", "-y", "-r", "-i", kQuenza, "set", "subnetmask", "255.255.255.256"},
         "",
         1,
         opened(kQuenzaName) + "\nERROR : Invalid Subnet Mask Address." + "\n\n",
         {}},
        {"invalid DHCP value",
         {"-q", "-y", "-i", kQuenza, "set", "dhcp", "2"},
         "",
         5,
         opened(kQuenzaName) + "\nInvalid argument.\n" + "\n",
         {}},
        {"Gen2 expander",
         {"-q", "-y", "-i", kGen2, "set", "ipaddr", "1.2.3.4"},
         "",
         0x26,
         opened("BX500 (Tolvane28)") + " \nCommand is not supported with attached Gen2 expander. \n" + "\n\n",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

// ---- reset ----

TEST_F(Morvane, ResetExpAsksAndSendsTheChipReset) {
    const std::string question = "Are you sure you want to reset Expander?(y/n):";
    const Case cases[] = {
        {"answered y",
         {"-q", "-i", kQuenza, "reset", "exp"},
         "y\n",
         0,
         opened(kQuenzaName) + question + "\n" + kResetSent + "\n",
         {"sg1 " + kChipReset}},
        {"-y with -w is still the chip reset",
         {"-q", "-y", "-w", "-i", kSwitch, "reset", "exp"},
         "",
         0,
         opened(kSwitchName) + kResetSent + "\n",
         {"sg0 " + kChipReset}},
        {"answered n",
         {"-q", "-i", kQuenza, "reset", "exp"},
         "n\n",
         0x27,
         opened(kQuenzaName) + question + "\n" + "Reset operation aborted by user\n" + "\n\n",
         {}},
        {"Gen2 expander",
         {"-q", "-y", "-i", kGen2, "reset", "exp"},
         "",
         0x26,
         opened("BX500 (Tolvane28)") + " \nCommand is not supported with attached Gen2 expander. \n" + "\n\n",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

// ---- get ----

const std::string kListing = "1) BX700 (500605B0:0000A1C0)  (192.168.10.20) \n"
                             "2) RX4800 (Kestan_48) (5000CCAB:0400B7F0)  (10.1.1.5) \n"
                             "3) RX2400 (Vellor_48) (5000CCAB:0400B800)  (10.1.1.99) \n"
                             "4) BX500 (Tolvane28) (500605B0:0000A400)  (10.0.0.14) \n";

TEST_F(Morvane, GetListsAndShowsWithoutWriting) {
    const std::string ipconfig = "          IP Address: 10.1.1.5\n"
                                 "         Subnet Mask: 255.255.255.0\n"
                                 "             Gateway: 10.0.0.1\n"
                                 "         MAC Address: 0.16.32.48.64.1\n "
                                 "         DHCP Status: Disabled\n";
    const Case cases[] = {
        {"avail without an address",
         {"-q", "-i", "get", "avail"},
         "n\n",
         0,
         opened(kSwitchName) + kListing + "\n",
         {}},
        {"avail of one expander",
         {"-q", "-i", kQuenza, "get", "avail"},
         "",
         0,
         opened(kQuenzaName) + "1) RX4800 (Kestan_48) (5000CCAB:0400B7F0)  (10.1.1.5) \n" + "\n",
         {}},
        {"ipconfig",
         {"-q", "-i", kQuenza, "get", "ipconfig"},
         "",
         0,
         opened(kQuenzaName) + ipconfig + "\n",
         {}},
        {"ipconfig of the Ostrel switch",
         {"-q", "-i", kSwitch, "get", "ipconfig"},
         "",
         0,
         opened(kSwitchName) +
             "          IP Address: 192.168.10.20\n"
             "         Subnet Mask: 255.255.255.0\n"
             "             Gateway: 192.168.10.1\n"
             "         MAC Address: 0.16.32.48.64.0\n "
             "         DHCP Status: Disabled\n" +
             "\n",
         {}},
        // get is not refused on Gen2: only set and reset are.
        {"ipconfig of a Gen2 expander",
         {"-q", "-i", kGen2, "get", "ipconfig"},
         "",
         0,
         opened("BX500 (Tolvane28)") +
             "          IP Address: 10.0.0.14\n"
             "         Subnet Mask: 255.255.255.0\n"
             "             Gateway: 10.0.0.1\n"
             "         MAC Address: 0.16.32.48.64.4\n "
             "         DHCP Status: Disabled\n" +
             "\n",
         {}},
        {"ipconfig with DHCP on: the address the expander reports for DHCP",
         {"-q", "-i", kDhcpOn, "get", "ipconfig"},
         "",
         0,
         opened("RX2400 (Vellor_48)") +
             "          IP Address: 10.1.1.99\n"
             "         Subnet Mask: Unknown\n"
             "             Gateway: Unknown\n"
             "         MAC Address: 0.16.32.48.64.2\n "
             "         DHCP Status: Enabled\n" +
             "\n",
         {}},
        {"ipconfig with -w",
         {"-q", "-w", "-i", kQuenza, "get", "ipconfig"},
         "",
         0,
         opened(kQuenzaName) + ipconfig + "\n" + kResetSent + "\n",
         {"sg1 " + kWatchdogReset}},
        {"avail with -r",
         {"-q", "-r", "-i", kSwitch, "get", "avail"},
         "",
         0,
         opened(kSwitchName) + "1) BX700 (500605B0:0000A1C0)  (192.168.10.20) \n" + "\n" + kResetSent + "\n",
         {"sg0 " + kChipReset}},
        // Without an address no expander is meant: the reset is refused rather than sent to the first one.
        {"avail with -r and no address",
         {"-q", "-r", "-y", "-i", "get", "avail"},
         "",
         0x26,
         opened(kSwitchName) + kListing +
             "\nERROR: A reset needs the SAS address of the expander (-i <sas addr>); no expander was "
             "reset.\n" +
             "\n\n",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

// The topology, trace, log and memory routines are no commands of this tool: their words are refused before
// any device is reached.
TEST_F(Morvane, TheLibrarysOtherOperationsAreNoCommands) {
    struct Refused {
        Words command;
        const char* word;
    };
    const std::vector<Refused> cases{
        {{"get", "phy"}, "phy"},          {{"get", "trace"}, "trace"}, {{"get", "log"}, "log"},
        {{"get", "mem", "0x1000"}, "mem"}, {{"reset", "phy", "3"}, "phy"},
    };
    for (const Refused& c : cases) {
        for (const Words& options : {Words{"-q", "-y", "-i", kQuenza}, Words{"-f", "-i", kSwitch}}) {
            Words words = options;
            words.insert(words.end(), c.command.begin(), c.command.end());
            SCOPED_TRACE(std::accumulate(words.begin(), words.end(), std::string(),
                                         [](std::string a, const std::string& b) { return a + b + " "; }));
            const Outcome r = run(words);
            EXPECT_EQ(r.status, 38) << r.errors;
            const std::string refusal =
                std::string("Invalid command '") + c.word + "'!\nInvalid Option check -h for help.\n";
            // Without quiet the banner comes first.
            ASSERT_GE(r.out.size(), refusal.size());
            EXPECT_EQ(r.out.substr(r.out.size() - refusal.size()), refusal);
            EXPECT_TRUE(words[0] != "-q" || r.out == refusal) << r.out;
            EXPECT_EQ(r.commands, 0u);
        }
    }
}

TEST_F(Morvane, WithoutQuietTheBannerAndTheOpenAreShown) {
    const std::string stars(80, '*');
    const std::string banner =
        "\n" + stars + "\n    Morvane\n\n    Expander IP Configuration Utility\n\n    Version: 19.1.0.0\n\n" +
        stars + "\n\n";
    const Outcome r = run({"-y", "-i", kQuenza, "set", "ipaddr", "192.168.5.6"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner + "Initializing Interface." + opened(kQuenzaName) +
                         "\nSet IP address Successful\n" + kApplyReset + "\n");
    EXPECT_EQ(r.writes, Writes{pageWrite("sg1", "FF27", pageWith(kQuenzaPage, 4, "C0A80506"))});
}

TEST_F(Morvane, NotAttachedAddressWritesNothing) {
    const Outcome r = run({"-q", "-y", "-i", "5000000000000001", "reset", "exp"});
    EXPECT_EQ(r.status, 0x26);
    EXPECT_NE(r.out.find("Failed to Initialize Communication!\n"), std::string::npos) << r.out;
    EXPECT_TRUE(r.writes.empty());
}

// ---- every family and the expanders that cannot take a command ----

// The expanders of the families scenario.
const std::string kType4 = "5000CCAB0400C000";    // sg0, Quenza, DHCP off
const std::string kKerrin = "500605B00000A500";   // sg1, chip type 1
const std::string kForeign = "500605B00000A600";  // sg2, Ostrel switch with a foreign image: open warns 32
const std::string kNoHeader = "5000CCAB0400C100"; // sg3, flash header unreadable: open warns 26
const std::string kNoIp = "5000CCAB0400D000";     // sg4, no IP address configured
const std::string kNoPage = "5000CCAB0400E000";   // sg5, empty Ethernet page: settings unknown

const std::string kType4Name = "QZ36 (Vellor_36)";
const std::string kType4Page = "200027FFAC100009FFFFF000AC10000102030405060700000000000000000000";
const std::string kHeaderReadFailed = " **** OSAL SAS Device Read data FAILED";
const std::string kPageMissing = "\n\nWARN: Ethernet Configuration Page (0xFF27) not found in flash";

class MorvaneFamilies : public Morvane {
  protected:
    void SetUp() override {
        Morvane::SetUp();
        scenario_ = FAMILIES_SCENARIO;
    }
};

TEST_F(MorvaneFamilies, SetOnChipType4AsksAndWritesTheField) {
    const std::string ipQuestion = "Are you sure you want to set IP Address?(y/n):\n";
    const Case cases[] = {
        {"ipaddr answered Y",
         {"-q", "-i", kType4, "set", "ipaddr", "10.20.30.40"},
         "Y\n",
         0,
         opened(kType4Name) + ipQuestion + "\nSet IP address Successful\n" + kApplyReset + "\n",
         {pageWrite("sg0", "FF27", pageWith(kType4Page, 4, "0A141E28"))}},
        {"subnetmask answered junk, then y",
         {"-q", "-i", kType4, "set", "subnetmask", "255.255.255.128"},
         "maybe\ny\n",
         0,
         opened(kType4Name) + "Are you sure you want to set Subnet Mask?(y/n):\n" +
             "Are you sure you want to set Subnet Mask?(y/n):\n" + "\nSet Subnet Mask Successful\n" +
             kApplyReset + "\n",
         {pageWrite("sg0", "FF27", pageWith(kType4Page, 8, "FFFFFF80"))}},
        {"gateway with -f and -w",
         {"-q", "-f", "-w", "-i", kType4, "set", "gateway", "172.16.0.254"},
         "n\n",
         0,
         opened(kType4Name) + "\nSet Gateway Successful\n" + "\n" + kResetSent + "\n",
         {pageWrite("sg0", "FF27", pageWith(kType4Page, 12, "AC1000FE")), "sg0 " + kWatchdogReset}},
        {"dhcp 1 answered y, with -r",
         {"-q", "-r", "-i", kType4, "set", "dhcp", "1"},
         "y\n",
         0,
         opened(kType4Name) + "Are you sure you want to enable DHCP Status?(y/n):\n" +
             "\nDHCP status is enabled\n" + "\n" + kResetSent + "\n",
         {pageWrite("sg0", "FF27", pageWith(kType4Page, 28, "01000000")), "sg0 " + kChipReset}},
        {"dhcp 0 answered N",
         {"-q", "-r", "-i", kType4, "set", "dhcp", "0"},
         "N\ny\n",
         0x27,
         opened(kType4Name) + "Are you sure you want to disable DHCP Status?(y/n):\n" +
             "Set operation aborted by user." + "\n\n",
         {}},
        {"ipaddr answered yes, then the input ends",
         {"-q", "-i", kType4, "set", "ipaddr", "10.20.30.40"},
         "yes\n",
         0x27,
         opened(kType4Name) + ipQuestion + ipQuestion + "Set operation aborted by user." + "\n\n",
         {}},
        {"ipaddr, the input ends at once",
         {"-q", "-w", "-i", kType4, "set", "ipaddr", "10.20.30.40"},
         "",
         0x27,
         opened(kType4Name) + ipQuestion + "Set operation aborted by user." + "\n\n",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(MorvaneFamilies, SetRefusesAValueThatIsNoAddressOrSwitch) {
    const Case cases[] = {
        {"a piece above 255",
         {"-q", "-y", "-i", kType4, "set", "ipaddr", "192.168.1.300"},
         "",
         1,
         opened(kType4Name) + "\nERROR : Invalid IP Address." + "\n\n",
         {}},
        {"an empty piece",
         {"-q", "-y", "-r", "-i", kType4, "set", "ipaddr", "1..2.3"},
         "",
         1,
         opened(kType4Name) + "\nERROR : Invalid IP Address." + "\n\n",
         {}},
        {"a letter",
         {"-q", "-y", "-i", kType4, "set", "gateway", "1.2.3.4a"},
         "",
         1,
         opened(kType4Name) + "\nERROR : Invalid Gateway Address." + "\n\n",
         {}},
        {"DHCP 10",
         {"-q", "-y", "-w", "-i", kType4, "set", "dhcp", "10"},
         "",
         5,
         opened(kType4Name) + "\nInvalid argument.\n" + "\n",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(MorvaneFamilies, SetWritesNothingWhereTheExpanderCannotTakeIt) {
    const Case cases[] = {
        {"chip type 1 has no Ethernet page",
         {"-q", "-y", "-i", kKerrin, "set", "ipaddr", "1.2.3.4"},
         "",
         2,
         opened("Kerrin28") + "\nFunction is not applicable.\n" + "\nERROR: Unable to set the IP address\n" +
             "\n",
         {}},
        {"foreign image",
         {"-q", "-y", "-i", kForeign, "set", "gateway", "1.2.3.4"},
         "",
         32,
         opened("FOREIGN") + "\nRegion does not contain a valid firmware image.\n" + "\n",
         {}},
        {"unreadable flash header",
         {"-q", "-y", "-i", kNoHeader, "set", "dhcp", "1"},
         "",
         26,
         kHeaderReadFailed + opened("NOHDR (Vellor_48)") + "\nFailed loading dynamic regions.\n" + "\n",
         {}},
        {"no address configured, so no page was read",
         {"-q", "-y", "-i", kNoIp, "set", "ipaddr", "1.2.3.4"},
         "",
         1,
         opened("NOIP (Vellor_48)") + "\n" + "\nERROR: Unable to set the IP address\n" + "\n",
         {}},
        // DHCP unknown does not refuse: the question is put, but there is no page to write back.
        {"settings unknown",
         {"-q", "-i", kNoPage, "set", "subnetmask", "255.0.0.0"},
         "y\n",
         1,
         kPageMissing + opened("NOPAGE (Vellor_48)") + "Are you sure you want to set Subnet Mask?(y/n):\n" +
             "\n" + "\nERROR: Unable to set the Subnet Mask\n" + "\n",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(MorvaneFamilies, ResetExpAnswersAndWarnings) {
    const std::string question = "Are you sure you want to reset Expander?(y/n):\n";
    const Case cases[] = {
        {"answered Y",
         {"-q", "-i", kType4, "reset", "exp"},
         "Y\n",
         0,
         opened(kType4Name) + question + kResetSent + "\n",
         {"sg0 " + kChipReset}},
        {"junk, then y",
         {"-q", "-i", kType4, "reset", "exp"},
         "x\ny\n",
         0,
         opened(kType4Name) + question + question + kResetSent + "\n",
         {"sg0 " + kChipReset}},
        {"yes, then the input ends",
         {"-q", "-w", "-i", kType4, "reset", "exp"},
         "yes\n",
         0x27,
         opened(kType4Name) + question + question + "Reset operation aborted by user\n" + "\n\n",
         {}},
        {"the input ends at once",
         {"-q", "-i", kType4, "reset", "exp"},
         "",
         0x27,
         opened(kType4Name) + question + "Reset operation aborted by user\n" + "\n\n",
         {}},
        {"-f with -r",
         {"-q", "-f", "-r", "-i", kType4, "reset", "exp"},
         "n\n",
         0,
         opened(kType4Name) + kResetSent + "\n",
         {"sg0 " + kChipReset}},
        {"chip type 1 in-band",
         {"-q", "-y", "-i", kKerrin, "reset", "exp"},
         "",
         0x26,
         opened("Kerrin28") + "WARN: This functionality is not supported in PALX through SAS interface" +
             "\n\n",
         {}},
        // The open's warnings do not stop the reset.
        {"foreign image",
         {"-q", "-y", "-i", kForeign, "reset", "exp"},
         "",
         0,
         opened("FOREIGN") + kResetSent + "\n",
         {"sg2 " + kChipReset}},
        {"unreadable flash header",
         {"-q", "-y", "-i", kNoHeader, "reset", "exp"},
         "",
         0,
         kHeaderReadFailed + opened("NOHDR (Vellor_48)") + kResetSent + "\n",
         {"sg3 " + kChipReset}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(MorvaneFamilies, GetOnEveryFamily) {
    const std::string listing = "1) QZ36 (Vellor_36) (5000CCAB:0400C000)  (172.16.0.9) \n"
                                "2) Kerrin28 (500605B0:0000A500)  \n"
                                "3) FOREIGN (500605B0:0000A600)  (10.0.0.12) \n"
                                "4) NOHDR (Vellor_48) (5000CCAB:0400C100)  (10.0.0.13) \n"
                                "5) NOIP (Vellor_48) (5000CCAB:0400D000)  \n"
                                "6) NOPAGE (Vellor_48) (5000CCAB:0400E000)  (Unknown) \n";
    const std::string unsupported = "\nCommand unsupported on attached expander.\n";
    const Case cases[] = {
        {"avail without an address: -f keeps the page warning away",
         {"-q", "-f", "-i", "get", "avail"},
         "n\n",
         0,
         opened(kType4Name) + listing + "\n",
         {}},
        {"avail without an address",
         {"-q", "-i", "get", "avail"},
         "",
         0,
         kPageMissing + opened(kType4Name) + listing + "\n",
         {}},
        {"avail with -w and no address resets nothing",
         {"-q", "-f", "-w", "-i", "get", "avail"},
         "y\n",
         0x26,
         opened(kType4Name) + listing +
             "\nERROR: A reset needs the SAS address of the expander (-i <sas addr>); no expander was "
             "reset.\n" +
             "\n\n",
         {}},
        {"avail with -w",
         {"-q", "-w", "-i", kType4, "get", "avail"},
         "n\n",
         0,
         opened(kType4Name) + "1) QZ36 (Vellor_36) (5000CCAB:0400C000)  (172.16.0.9) \n" + "\n" + kResetSent +
             "\n",
         {"sg0 " + kWatchdogReset}},
        {"ipconfig with -r",
         {"-q", "-r", "-i", kType4, "get", "ipconfig"},
         "n\n",
         0,
         opened(kType4Name) +
             "          IP Address: 172.16.0.9\n"
             "         Subnet Mask: 255.255.240.0\n"
             "             Gateway: 172.16.0.1\n"
             "         MAC Address: 2.3.4.5.6.7\n "
             "         DHCP Status: Disabled\n" +
             "\n" + kResetSent + "\n",
         {"sg0 " + kChipReset}},
        {"ipconfig, no address configured",
         {"-q", "-i", kNoIp, "get", "ipconfig"},
         "",
         0,
         opened("NOIP (Vellor_48)") +
             "          IP Address: NotConfigured\n"
             "         Subnet Mask: \n"
             "             Gateway: \n"
             "         MAC Address: \n "
             "         DHCP Status: Disabled\n" +
             "\n",
         {}},
        {"ipconfig, settings unknown",
         {"-q", "-f", "-i", kNoPage, "get", "ipconfig"},
         "",
         0,
         opened("NOPAGE (Vellor_48)") +
             "          IP Address: Unknown\n"
             "         Subnet Mask: Unknown\n"
             "             Gateway: Unknown\n"
             "         MAC Address: Unknown\n "
             "         DHCP Status: Unknown\n" +
             "\n",
         {}},
        {"ipconfig on chip type 1",
         {"-q", "-r", "-i", kKerrin, "get", "ipconfig"},
         "",
         29,
         opened("Kerrin28") + unsupported + "\n",
         {}},
        // The interface refuses the reset register of chip type 1 before anything is sent.
        {"avail with -r on chip type 1",
         {"-q", "-r", "-i", kKerrin, "get", "avail"},
         "",
         29,
         opened("Kerrin28") + "1) Kerrin28 (500605B0:0000A500)  \n" +
             "WARN: This functionality is not supported in PALX" + unsupported + "\n" +
             "Failed Resetting Expander\n" + unsupported + "\n",
         {}},
        {"avail, foreign image",
         {"-q", "-r", "-i", kForeign, "get", "avail"},
         "",
         32,
         opened("FOREIGN") + "\nRegion does not contain a valid firmware image.\n" + "\n",
         {}},
        {"ipconfig, unreadable flash header",
         {"-q", "-w", "-i", kNoHeader, "get", "ipconfig"},
         "",
         26,
         kHeaderReadFailed + opened("NOHDR (Vellor_48)") + "\nFailed loading dynamic regions.\n" + "\n",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

// Quiet hides the banner, "Initializing Interface." and the open's progress dot (the chip type 1 module gives
// one); everything from the expander's name on is shown either way.
TEST_F(MorvaneFamilies, QuietHidesTheBannerAndTheOpen) {
    const std::string stars(80, '*');
    const std::string banner =
        "\n" + stars + "\n    Morvane\n\n    Expander IP Configuration Utility\n\n    Version: 19.1.0.0\n\n" +
        stars + "\n\n";
    const std::string rest = opened("Kerrin28") + "1) Kerrin28 (500605B0:0000A500)  \n" + "\n";
    const Case cases[] = {
        {"without -q",
         {"-i", kKerrin, "get", "avail"},
         "",
         0,
         banner + "Initializing Interface." + "." + rest,
         {}},
        {"with -q", {"-q", "-i", kKerrin, "get", "avail"}, "", 0, rest, {}},
        {"--quiet with a refused reset",
         {"--quiet", "-y", "-i", kKerrin, "reset", "exp"},
         "",
         0x26,
         opened("Kerrin28") + "WARN: This functionality is not supported in PALX through SAS interface" +
             "\n\n",
         {}},
    };
    for (const Case& c : cases)
        check(c);
}

// ---- resets that the chip carries out but answers with a failure ----

// The expanders of the reset-failure scenario: each carries out every in-band reset and answers its command
// with CHECK CONDITION.
const std::string kFailingSwitch = "5000ABCD00003333"; // sg0, Ostrel switch
const std::string kFailingQuenza = "5000CCAB0400F000"; // sg1, Quenza
const std::string kFailingSwitchPage = "200010FF0A00000AFFFFFF000A00000100102030400000000000000000000000";
const std::string kFailingQuenzaPage = "200027FF0A00000BFFFFFF000A00000100102030400100000000000000000000";
const std::string kWriteFailed = " **** Osal SAS Device Write data  FAILED****";

class MorvaneResetFailure : public Morvane {
  protected:
    void SetUp() override {
        Morvane::SetUp();
        scenario_ = RESET_FAILURE_SCENARIO;
    }
};

// An Ostrel chip may drop the command that reset it, so the answer to an Ostrel reset is not looked at; a
// Quenza reset answered with a failure is a failure.
TEST_F(MorvaneResetFailure, OstrelResetsSucceedWhateverTheAnswerQuenzaResetsFail) {
    const std::string failed = "Failed Resetting Expander\n";
    const std::string writing = "\nFailed writing to interface.\n";
    const Case cases[] = {
        {"Ostrel reset exp",
         {"-q", "-y", "-i", kFailingSwitch, "reset", "exp"},
         "",
         0,
         opened("SW5000") + kWriteFailed + kResetSent + "\n",
         {"sg0 " + kChipReset}},
        {"Ostrel set with -r",
         {"-q", "-y", "-r", "-i", kFailingSwitch, "set", "ipaddr", "10.9.8.7"},
         "",
         0,
         opened("SW5000") + "\nSet IP address Successful\n" + kWriteFailed + "\n" + kResetSent + "\n",
         {pageWrite("sg0", "FF10", pageWith(kFailingSwitchPage, 4, "0A090807")), "sg0 " + kChipReset}},
        {"Ostrel set with -w",
         {"-q", "-f", "-w", "-i", kFailingSwitch, "set", "gateway", "10.0.0.254"},
         "",
         0,
         opened("SW5000") + "\nSet Gateway Successful\n" + kWriteFailed + "\n" + kResetSent + "\n",
         {pageWrite("sg0", "FF10", pageWith(kFailingSwitchPage, 12, "0A0000FE")), "sg0 " + kWatchdogReset}},
        {"Ostrel get with -r",
         {"-q", "-r", "-i", kFailingSwitch, "get", "avail"},
         "",
         0,
         opened("SW5000") + "1) SW5000 (5000ABCD:00003333)  (10.0.0.10) \n" + kWriteFailed + "\n" +
             kResetSent + "\n",
         {"sg0 " + kChipReset}},
        {"Quenza reset exp",
         {"-q", "-y", "-i", kFailingQuenza, "reset", "exp"},
         "",
         24,
         opened("QZRESET (Vellor_48)") + kWriteFailed + writing + failed + writing + "\n",
         {"sg1 " + kChipReset}},
        {"Quenza set with -w",
         {"-q", "-y", "-w", "-i", kFailingQuenza, "set", "dhcp", "1"},
         "",
         24,
         opened("QZRESET (Vellor_48)") + "\nDHCP status is enabled\n" + kWriteFailed + writing + "\n" +
             failed + writing + "\n",
         {pageWrite("sg1", "FF27", pageWith(kFailingQuenzaPage, 28, "01000000")), "sg1 " + kWatchdogReset}},
    };
    for (const Case& c : cases)
        check(c);
}

// ---- log ----

TEST_F(Morvane, LogHoldsTheCommandFromFrontEndToDevice) {
    const Outcome r =
        run({"-q", "-y", "-r", "-l", "command.log", "-i", kQuenza, "set", "gateway", "10.1.1.1"});
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> lines;
    {
        static const std::regex stamp(R"(^\d+/\d+/\d\d \d\d:\d\d:\d\d : )");
        std::istringstream in(readFile(dir_ + "/command.log"));
        for (std::string line; std::getline(in, line);)
            if (!line.empty())
                lines.push_back(std::regex_replace(line, stamp, ""));
    }
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "******************** # Morvane LOG # *******************");
    EXPECT_NE(lines[1].find(" -q -y -r -l command.log -i " + kQuenza + " set gateway 10.1.1.1"),
              std::string::npos)
        << lines[1];
    const std::vector<std::string> wanted = {
        "INFO : morv::main : Entry.",
        "INFO : morv::executeSetCmd : Entry.",
        "INFO : morv::init : Entry.",
        "INFO : zelkor::zelkor_open : Entry",
        "INFO : zelkor_ial_SAS::zelkor_ial_open : Entry",
        "INFO : zelkor::zelkor_open : Opening GEN3 HAL Library",
        "INFO : zelkor_hal_GEN3::zelkor_hal_open : Populating the region List",
        "INFO : zelkor_hal_GEN3::halPopulateRegionList : Reading 84 bytes at 0x00000000 offset",
        "INFO : zelkor_ial_SAS::zelkor_ial_uploadRegion : Uploading 84 bytes from 0x00000000 offset",
        "INFO : zelkor_hal_GEN3::halPopulateRegionList : Reading 424 bytes at 0x00000100 offset",
        "INFO : zelkor::zelkor_open : Exit",
        "INFO : zelkor_hal_GEN3::zelkor_hal_getRegions : Region List Populated successfully.",
        "INFO : morv::init : Exit.",
        "INFO : morv::setGateway : Entry.",
        "INFO : zelkor_hal_GEN3::zelkor_hal_setMorv : Writing data in Ethernet Configuration Page",
        "INFO : zelkor_ial_SAS::zelkor_ial_downloadRegion : Downloading 742 bytes at 0x0000ff27 Offset",
        "INFO : zelkor_ial_SAS::zelkor_ial_downloadRegion : Writing to Memory/Register using 0xe6 buffer Id",
        "INFO : morv::setGateway : Exit.",
        "INFO : morv::resetExpander : Entry.",
        "INFO : zelkor_hal_GEN3::zelkor_hal_resetExpander : Writing 4 bytes at 0xc3800200 offset",
        "INFO : zelkor_ial_SAS::zelkor_ial_downloadRegion : Writing to Memory/ Register using 0xe9 buffer Id",
        "INFO : morv::resetExpander : Exit.",
        "INFO : morv::executeSetCmd : Exit.",
        "INFO : zelkor::zelkor_close : Entry",
        "INFO : zelkor_hal_GEN3::zelkor_hal_close : Entry",
        "INFO : zelkor_ial_SAS::zelkor_ial_close : Entry",
        "INFO : morv::main : Exit.",
    };
    auto at = lines.begin();
    for (const std::string& line : wanted) {
        at = std::find(at, lines.end(), line);
        ASSERT_NE(at, lines.end()) << "missing, in this order: " << line;
        ++at;
    }
    EXPECT_EQ(r.writes,
              (Writes{pageWrite("sg1", "FF27", pageWith(kQuenzaPage, 12, "0A010101")), "sg1 " + kChipReset}));
}

// A caller that starts the tool with standard streams closed: no device takes descriptor 0, 1 or 2 (text
// written to standard output would reach the expander as commands), and the expander changes exactly as
// with the streams open, with the same status.
TEST_F(Morvane, ClosedStandardStreamsAreNoDeviceDescriptors) {
    const Words commands[] = {
        {"-y", "-i", kQuenza, "set", "gateway", "10.20.0.7"},
        {"-y", "-r", "-i", kSwitch, "set", "ipaddr", "192.168.10.21"},
        {"-q", "-i", kQuenza, "reset", "exp"},
    };
    for (const Words& words : commands) {
        std::string label;
        for (const std::string& word : words)
            label += " " + word;
        SCOPED_TRACE(label);
        const Outcome open = run(words, "y\n");
        ASSERT_FALSE(open.deviceDescriptors.empty()) << open.errors;
        for (const Streams streams : {Streams::StdoutClosed, Streams::StdinAndStdoutClosed}) {
            SCOPED_TRACE(streams == Streams::StdoutClosed ? "stdout closed" : "stdin and stdout closed");
            const Outcome closed = run(words, "y\n", streams);
            EXPECT_EQ(closed.errors, open.errors);
            ASSERT_EQ(closed.deviceDescriptors.size(), open.deviceDescriptors.size());
            for (const int fd : closed.deviceDescriptors)
                EXPECT_GT(fd, 2) << "a device opened as a standard descriptor";
            // With standard input closed there is no answer: the reset is declined as on an empty input.
            const bool asks = words[0] == "-q";
            if (streams == Streams::StdinAndStdoutClosed && asks) {
                const Outcome unanswered = run(words, "");
                EXPECT_EQ(closed.status, unanswered.status);
                EXPECT_EQ(closed.writes, unanswered.writes);
                EXPECT_EQ(closed.state, unanswered.state);
                continue;
            }
            EXPECT_EQ(closed.status, open.status);
            EXPECT_EQ(closed.writes, open.writes);
            EXPECT_EQ(closed.state, open.state);
        }
    }
    // The command as it was met: the gateway lands in the Quenza page, nothing else changes.
    const Outcome r = run({"-y", "-i", kQuenza, "set", "gateway", "10.20.0.7"}, "", Streams::StdoutClosed);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.writes, Writes{pageWrite("sg1", "FF27", pageWith(kQuenzaPage, 12, "0A140007"))});
    EXPECT_EQ(r.state, stateAfter(r.writes));
}

} // namespace
