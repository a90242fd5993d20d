// The Morvane binary as a user runs it: banner, help, command-line errors, exit status and the log file.
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <regex>

namespace {

using testsupport::ProcessResult;
using testsupport::TempDir;

const std::string kBinary = MORVANE_BINARY;
const std::string kAddress = "5000ABCD12345678";
const std::string kStars(80, '*');
const std::string kBanner =
    "\n" + kStars + "\n    Morvane\n\n    Expander IP Configuration Utility\n\n    Version: 19.1.0.0\n\n" +
    kStars + "\n\n";
const std::string kSyntax = "SYNTAX:\n    Morvane OPTIONS INTERFACE COMMAND\n\n";
const std::string kInvalidOption = "Invalid Option check -h for help.\n";
constexpr int kInvalidInputExit = 0x26; // 0x1026 as the operating system keeps it
const std::string kLogBanner = "******************** # Morvane LOG # *******************";

// Help sections as the whole usage shows them, in order.
const std::string kHelpOptions = "OPTIONS:\n    -h, --help\n\tDisplays complete usage.\n    -h <interface | "
                                 "command | option>, --help <interface "
                                 "| command | option>\n\tDisplays usage of the very first INTERFACE , "
                                 "COMMAND or OPTION\n\tencountered after -h, "
                                 "--h or --help option in the command line.\n\tThe interface,  command or "
                                 "option should not be prefixed with "
                                 "'-'.\n";
const std::string kHelpLog =
    "    -l <file>, --log <file>\n\tCreates a log ( <file> ) of internal operations.\n";
const std::string kHelpQuiet = "    -q, --quiet\n\tRuns in quiet mode minimizing output.\n";
const std::string kHelpYes = "    -y, --yes\n\tSuppresses all user confirmation prompts.\n";
const std::string kHelpForce = "    -f, --force\n\tSuppresses all user warning & confirmation prompts.\n";
const std::string kHelpResetChip = "    -r, --resetchip\n\tHard reset the Expander.\n";
const std::string kHelpWdReset = "    -w, --wdreset\n\tWatchdog reset of the Expander.\n";
const std::string kHelpInband = "INTERFACE:\n    -i <sas addr>, --inband <sas addr>\tNOTE: sas addr is only "
                                "optional for 'get avail' command.\n";
const std::string kHelpGet =
    "COMMAND:    \n    get <avail | ipconfig>\n\n\tget avail\n\t    Displays the list of expanders available "
    "to the "
    "selected interface.\n\n\tget ipconfig\n\t    Displays the parameters in ethernet configuration "
    "page.\n\n\te.g."
    "\n\t    For getting (reading) parameters in ethernet configuration page\n\t    via Inband run following "
    "command\n\n\t    \"Morvane -i <SAS Address> get ipconfig\"\n\n";
const std::string kHelpSet =
    "COMMAND:    \n    set <ipaddr | subnetmask | gateway | dhcp> <value>\n\n\tset ipaddr <IP Address>\n\t   "
    " Sets "
    "the IP address of expander.\n\n\tset subnetmask <Subnet Mask Address>\n\t    Sets the subnet mask "
    "address of "
    "expander.\n\n\tset gateway <Gateway Address>\n\t    Sets the gateway address of expander.\n\n\tset dhcp "
    "<0/1>\n\t    Enables/Disables the DHCP status of expander.\n\t    \t0 - Disable.\n\t    \t1 - "
    "Enable.\n\n\te.g."
    "\n\t    For setting (writing) IP Address of expander\n\t    via Inband run following command\n\n\t    "
    "\"Morvane -i <SAS Address> set ipaddr <IP Address>\"\n\n";
const std::string kHelpReset =
    "COMMAND:    \n    reset <exp>\n\n\treset exp\n\t    Resets Expander.\n\n\te.g.\n\t    "
    "For resetting expander via Inband, run following command\n\n\t    \"Morvane -i <SAS "
    "Address> reset exp\"\n\n";

std::string note(const std::string& s, const std::string& upper, const std::string& longName) {
    const std::string b64(64, ' ');
    const std::string b65(65, ' ');
    return "\n    NOTE:" + b64 + "\n\tCommand line options are case sensitive. e.g. " + s +
           " will work but " + upper + " will throw error message.\n" + b64 +
           "\n\t- <ShortOption>, -- <ShortOption> and -- <LongOption> are treated same by zelkor command "
           "line "
           "parser." +
           b65 +
           "\n\tAll the above 3 options will work in similar manner.\n\t- <LongOption> shall not work and "
           "error "
           "message will be reported to user." +
           b65 + "\n\t\te.g. " + s + ", -" + s + " and --" + longName +
           " will work as mentioned above but -" + longName + " will throw error message.\n\n";
}

const std::string kWholeUsage = kSyntax + kHelpOptions + kHelpLog + kHelpQuiet + kHelpYes + kHelpForce +
                                kHelpResetChip + kHelpWdReset + note("-r", "-R", "resetchip") + kHelpInband +
                                note("-i", "-I", "inband") + kHelpGet + kHelpSet + kHelpReset;

class CliTest : public ::testing::Test {
  protected:
    ProcessResult run(const std::vector<std::string>& args) {
        ProcessResult result = testsupport::runProcess(kBinary, args, dir_.path());
        EXPECT_EQ(result.err, "") << "stderr of a run";
        return result;
    }
    std::filesystem::path file(const std::string& name) const { return dir_ / name; }
    bool dirEmpty() const { return std::filesystem::is_empty(dir_.path()); }

    TempDir dir_;
};

std::string describe(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args)
        text += "[" + arg + "] ";
    return text;
}

// ---- help ----

TEST_F(CliTest, HelpAloneShowsBannerAndWholeUsage) {
    const ProcessResult r = run({"-h"});
    EXPECT_EQ(r.out, kBanner + kWholeUsage + "\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(CliTest, LongHelpAndItsShortSpellingsShowTheWholeUsage) {
    for (const char* spelling : {"--help", "--h"}) {
        const ProcessResult r = run({spelling});
        EXPECT_EQ(r.out, kBanner + kWholeUsage + "\n") << spelling;
        EXPECT_EQ(r.status, 0) << spelling;
    }
}

TEST_F(CliTest, EveryHelpTopicShowsItsSectionOnly) {
    struct Case {
        const char* topic;
        const std::string* section;
    };
    const Case cases[] = {
        {"h", &kHelpOptions},     {"help", &kHelpOptions},    {"l", &kHelpLog},
        {"log", &kHelpLog},       {"q", &kHelpQuiet},         {"quiet", &kHelpQuiet},
        {"y", &kHelpYes},         {"yes", &kHelpYes},         {"f", &kHelpForce},
        {"force", &kHelpForce},   {"r", &kHelpResetChip},     {"resetchip", &kHelpResetChip},
        {"w", &kHelpWdReset},     {"wdreset", &kHelpWdReset}, {"i", &kHelpInband},
        {"inband", &kHelpInband}, {"get", &kHelpGet},         {"set", &kHelpSet},
        {"reset", &kHelpReset},
    };
    for (const Case& c : cases) {
        const ProcessResult r = run({"-h", c.topic});
        EXPECT_EQ(r.out, kBanner + kSyntax + *c.section + "\n") << c.topic;
        EXPECT_EQ(r.status, 0) << c.topic;
    }
}

TEST_F(CliTest, QuietHelpHasNoBanner) {
    ProcessResult r = run({"-q", "-h"});
    EXPECT_EQ(r.out, kWholeUsage + "\n");
    EXPECT_EQ(r.status, 0);
    r = run({"--quiet", "--help", "set"});
    EXPECT_EQ(r.out, kSyntax + kHelpSet + "\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(CliTest, HelpTopicIsTheWordAfterHelpEvenWhenOptionsFollow) {
    const ProcessResult r = run({"-h", "get", "-q"});
    EXPECT_EQ(r.out, kSyntax + kHelpGet + "\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(CliTest, HelpTopicFarAlongALongCommandLine) {
    std::vector<std::string> args(300, "x");
    args.insert(args.end(), {"-q", "-h", "reset"});
    const ProcessResult r = run(args);
    EXPECT_EQ(r.out, kSyntax + kHelpReset + "\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(CliTest, UnknownHelpTopicFails) {
    const ProcessResult r = run({"-h", "bogus"});
    EXPECT_EQ(r.out, kBanner + "bogus is not a valid option for help!!\nTry -h for all valid options\n" +
                         kInvalidOption);
    EXPECT_EQ(r.status, kInvalidInputExit);
}

TEST_F(CliTest, HelpWithAValidTopicIsShownBeforeASyntaxError) {
    const ProcessResult r = run({"-h", "set", "-R"});
    EXPECT_EQ(r.out, kBanner + kSyntax + kHelpSet + "Syntax error.\n" + kInvalidOption);
    EXPECT_EQ(r.status, kInvalidInputExit);
}

// ---- command-line errors ----

TEST_F(CliTest, ErrorsShowTheirTextAfterTheBanner) {
    ProcessResult r = run({"-i", kAddress, "bogus"});
    EXPECT_EQ(r.out, kBanner + "Invalid command 'bogus'!\n" + kInvalidOption);
    EXPECT_EQ(r.status, kInvalidInputExit);
    r = run({});
    EXPECT_EQ(r.out, kBanner + "No interface specified\nTry -h for all valid options\n" + kInvalidOption);
    EXPECT_EQ(r.status, kInvalidInputExit);
}

TEST_F(CliTest, EachClassOfSyntaxErrorHasItsText) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string a = kAddress;
    const Case cases[] = {
        // Options refused by the parser or by the check of the typed words.
        {{"-resetchip", "-i", a, "get", "ipconfig"}, "Syntax error.\n"},
        {{"-R", "-i", a, "get", "ipconfig"}, "Syntax error.\n"},
        {{"--reset", "-i", a, "get", "ipconfig"}, "Syntax error.\n"},
        {{"-inband", a, "get", "ipconfig"}, "Syntax error.\n"},
        {{"--bogus", "-i", a, "get", "ipconfig"}, "Syntax error.\n"},
        {{"-x", "-i", a, "get", "ipconfig"}, "Syntax error.\n"},
        {{"-r", "-w", "-i", a, "reset", "exp"}, "Syntax error.\n"},
        {{"-w", "-i", a, "reset", "exp", "-r"}, "Syntax error.\n"},
        {{"-i", a, "get", "ipconfig", "-l"}, "Syntax error.\n"},
        // The interface.
        {{"-i", a, "-i", a, "get", "ipconfig"}, ""},
        {{"get", "ipconfig"}, "No interface specified\nTry -h for all valid options\n"},
        {{"-i"}, ""},
        {{"-i", "0x0000000000000000", "get", "avail"}, "SAS address is not provided.\n"},
        {{"-i", "get", "ipconfig"}, "SAS address is not provided.\n"},
        {{"-i", "-y", "get", "avail"}, "SAS address is not provided.\n"},
        {{"-qi", "get", "ipconfig"}, "Invalid Argument get\nCheck -h for help\n"},
        // Commands and their words.
        {{"-i", a}, "Command missing!\n"},
        {{"-i", a, "bogus"}, "Invalid command 'bogus'!\n"},
        {{"-i", a, "GET", "avail"}, "Invalid command 'GET'!\n"},
        {{"-i", a, "get"}, "No option provided for 'get' command!\n"},
        {{"-i", a, "set"}, "No option provided for 'set' command!\n"},
        {{"-i", a, "reset"}, "No option provided for 'reset' command!\n"},
        {{"-i", a, "get", "bogus"}, "Invalid command 'bogus'!\n"},
        {{"-i", a, "reset", "chip"}, "Invalid command 'chip'!\n"},
        {{"-i", a, "get", "avail", "extra"}, "Invalid Argument extra\n"},
        {{"-i", a, "reset", "exp", "now"}, "Invalid Argument now\n"},
        {{"-i", a, "set", "ipaddr"}, "Syntax error.\n"},
        {{"-i", a, "set", "dhcp"}, "Syntax error.\n"},
        {{"-i", a, "set", "ipaddr", "1.2.3.4", "extra"}, "Syntax error.\n"},
        {{"-i", a, "set", "gateway", "1.2.3.4", "5.6.7.8"}, "Syntax error.\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult r = run(args);
        EXPECT_EQ(r.out, c.message + kInvalidOption) << describe(c.args);
        EXPECT_EQ(r.status, kInvalidInputExit) << describe(c.args);
    }
}

TEST_F(CliTest, QuietStillShowsParseMessages) {
    const ProcessResult r = run({"--quiet", "-i", kAddress});
    EXPECT_EQ(r.out, "Command missing!\n" + kInvalidOption);
}

// ---- SAS addresses ----

TEST_F(CliTest, SasAddressFormsThatPass) {
    const std::vector<std::string> addresses = {"5000ABCD12345678", "0x5000abcd12345678",
                                                "0X5000ABCD12345678", "0123456789abcdef", "FFFFFFFFFFFFFFFF"};
    for (const std::string& address : addresses) {
        const ProcessResult r = run({"-q", "-i", address, "get", "ipconfig"});
        EXPECT_EQ(r.out.find("Invalid"), std::string::npos) << address << ": " << r.out;
        EXPECT_EQ(r.out.find("Syntax error."), std::string::npos) << address;
    }
}

TEST_F(CliTest, SasAddressFormsThatFail) {
    const std::vector<std::string> addresses = {
        "5000ABCD1234567",    // 15 digits
        "5000ABCD123456789",  // 17 digits
        "5000ABCD1234567G",   // not hexadecimal
        "0x5000ABCD1234567",  // 15 digits after the prefix
        "0x0x5000ABCD123456", // a second prefix
        "x5000ABCD12345678",  // half a prefix
        "",
        std::string(600, 'A'), // longer than the address field
    };
    for (const std::string& address : addresses) {
        const ProcessResult r = run({"-q", "-i", address, "get", "ipconfig"});
        EXPECT_EQ(r.out, "Invalid SAS Address.\n" + kInvalidOption) << address;
        EXPECT_EQ(r.status, kInvalidInputExit) << address;
    }
}

TEST_F(CliTest, AddressThatLooksLikeAnOptionOrCommandCountsAsMissing) {
    for (const char* address : {"5000-ABCD12345678", "set", "reset"}) {
        const ProcessResult r = run({"-q", "-i", address, "get", "ipconfig"});
        EXPECT_EQ(r.out, "SAS address is not provided.\n" + kInvalidOption) << address;
        EXPECT_EQ(r.status, kInvalidInputExit) << address;
    }
}

// ---- valid command lines reach their command ----

TEST_F(CliTest, ValidCommandLinesPassTheParser) {
    const std::string a = kAddress;
    const std::vector<std::vector<std::string>> lines = {
        {"-i", a, "get", "ipconfig"},
        {"-i", a, "get", "avail"},
        {"-i", "get", "avail"},
        {"--inband", a, "reset", "exp"},
        {"--i", a, "set", "ipaddr", "192.168.1.10"},
        {"-i", a, "set", "subnetmask", "255.255.255.0"},
        {"-i", a, "set", "gateway", "10.0.0.1"},
        {"-i", a, "set", "dhcp", "1"},
        {"-y", "-f", "-r", "-i", a, "set", "dhcp", "0"},
        {"-yr", "-i", a, "get", "ipconfig"},
        {"--r", "-i", a, "get", "ipconfig"},
        {"--resetchip", "--yes", "--force", "-i", a, "get", "ipconfig"},
        {"--wdreset", "-i", a, "get", "ipconfig"},
        {"-i", a, "get", "ipconfig", "-w"},
    };
    for (const auto& args : lines) {
        const ProcessResult r = run(args);
        EXPECT_EQ(r.out.rfind(kBanner, 0), 0u) << describe(args);
        EXPECT_EQ(r.out.find(kInvalidOption), std::string::npos) << describe(args) << r.out;
        EXPECT_EQ(r.out.find("Syntax error."), std::string::npos) << describe(args);
    }
}

TEST_F(CliTest, QuietValidCommandHasNoBanner) {
    const ProcessResult r = run({"-q", "-i", kAddress, "get", "ipconfig"});
    EXPECT_EQ(r.out.find("Expander IP Configuration Utility"), std::string::npos);
    EXPECT_EQ(r.out.find(kInvalidOption), std::string::npos);
}

TEST_F(CliTest, NoLogFileWithoutLogOption) {
    run({"-q", "-i", kAddress, "get", "ipconfig"});
    run({"-q", "-h"});
    EXPECT_TRUE(dirEmpty());
}

// ---- the log file ----

// A log line: optional stamp, optional level word, module::function, message.
const std::regex
    kStampedLine(R"(\d{1,2}/\d{1,2}/\d{2} \d{2}:\d{2}:\d{2} : (INFO|WARN|ERROR) : [A-Za-z_]+::\w+ : .*)");

TEST_F(CliTest, LogFileStartsWithBannerCommandLineAndEntryTrace) {
    const std::time_t before = std::time(nullptr);
    const ProcessResult r = run({"-q", "-l", "run.log", "-i", kAddress, "get", "ipconfig"});
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(r.out.find(kInvalidOption), std::string::npos);
    const auto lines = testsupport::readLines(file("run.log"));
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], kLogBanner);
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], kBinary + " -q -l run.log -i " + kAddress + " get ipconfig ");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "");
    const std::string entry = lines[5];
    ASSERT_TRUE(std::regex_match(entry, kStampedLine)) << entry;
    const std::string stamp = entry.substr(0, entry.find(" : "));
    EXPECT_TRUE(stamp == testsupport::logStamp(before) || stamp == testsupport::logStamp(after)) << stamp;
    EXPECT_EQ(entry.substr(entry.find(" : ")), " : INFO : morv::main : Entry.");
    EXPECT_EQ(lines[6], "");
    // Every further line is a stamped line or the empty line after a message that ended in a line feed.
    for (size_t i = 7; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].empty() || std::regex_match(lines[i], kStampedLine)) << lines[i];
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(lines[lines.size() - 2].ends_with(" : INFO : morv::main : Exit.")) << lines[lines.size() - 2];
    EXPECT_EQ(lines.back(), "");
}

TEST_F(CliTest, LogEchoesTheCommandLineAsTyped) {
    run({"-q", "-i", kAddress, "get", "--log", "run.log", "ipconfig"});
    const auto lines = testsupport::readLines(file("run.log"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], kBinary + " -q -i " + kAddress + " get --log run.log ipconfig ");
}

TEST_F(CliTest, LogNameWithPercentSignsIsUsedVerbatim) {
    run({"-q", "-l", "t%s%d%n.log", "-i", kAddress, "get", "ipconfig"});
    ASSERT_TRUE(std::filesystem::exists(file("t%s%d%n.log")));
    const auto lines = testsupport::readLines(file("t%s%d%n.log"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], kBinary + " -q -l t%s%d%n.log -i " + kAddress + " get ipconfig ");
}

TEST_F(CliTest, LogStartsAnew) {
    testsupport::writeFile(file("run.log"), "old content\n");
    run({"-q", "-l", "run.log", "-i", kAddress, "get", "ipconfig"});
    const auto lines = testsupport::readLines(file("run.log"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], kLogBanner);
}

TEST_F(CliTest, FailedParseIsLoggedAndTheLogClosed) {
    const ProcessResult r = run({"-q", "-l", "run.log", "-i", kAddress, "bogus"});
    EXPECT_EQ(r.out, "Invalid command 'bogus'!\n" + kInvalidOption);
    EXPECT_EQ(r.status, kInvalidInputExit);
    const auto lines = testsupport::readLines(file("run.log"));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], kLogBanner);
    EXPECT_TRUE(std::regex_match(lines[5], kStampedLine));
    EXPECT_TRUE(lines[7].ends_with(" : ERROR : morv::main : Invalid Option check -h for help.")) << lines[7];
    EXPECT_TRUE(std::regex_match(lines[7], kStampedLine));
    EXPECT_EQ(lines[8], "");
    EXPECT_TRUE(lines[9].ends_with(" : INFO : morv::main : Exit.")) << lines[9];
    EXPECT_EQ(lines[10], "");
}

TEST_F(CliTest, HelpWithLogWritesTheLogHead) {
    const ProcessResult r = run({"-q", "-l", "run.log", "-h", "q"});
    EXPECT_EQ(r.out, kSyntax + kHelpQuiet + "\n");
    EXPECT_EQ(r.status, 0);
    const auto lines = testsupport::readLines(file("run.log"));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], kLogBanner);
    EXPECT_EQ(lines[2], kBinary + " -q -l run.log -h q ");
    EXPECT_TRUE(lines[5].ends_with(" : INFO : morv::main : Entry.")) << lines[5];
    EXPECT_TRUE(lines[7].ends_with(" : INFO : morv::main : Exit.")) << lines[7];
}

TEST_F(CliTest, RefusedLogNames) {
    for (const char* name : {"set", "get", "reset", "up", "down", "erase", "test", "my-log.txt", "-y"}) {
        const ProcessResult r = run({"-q", "-l", name, "-i", kAddress, "get", "ipconfig"});
        EXPECT_EQ(r.out, std::string("Invalid Log File Name: ") + name + "\n" + kInvalidOption) << name;
        EXPECT_EQ(r.status, kInvalidInputExit) << name;
    }
    EXPECT_TRUE(dirEmpty());
}

TEST_F(CliTest, LogThatCannotBeCreated) {
    for (const char* name : {"nodir/run.log", ""}) {
        const ProcessResult r = run({"-q", "-l", name, "-i", kAddress, "get", "ipconfig"});
        EXPECT_EQ(r.out, "ERROR: Log file creation failed.\n" + kInvalidOption) << name;
        EXPECT_EQ(r.status, kInvalidInputExit) << name;
    }
    EXPECT_TRUE(dirEmpty());
}

// A name that stands for anything but a regular file is a log that cannot be created: the run ends as
// after any failed log creation, and nothing is written through the name.
TEST_F(CliTest, LogNameThatIsNoRegularFile) {
    const std::string original = "root:x:0:0:root:/root:/bin/sh\n";
    testsupport::writeFile(file("passwd"), original);
    std::filesystem::create_symlink(file("passwd"), file("link.log"));
    std::filesystem::create_symlink(file("absent"), file("dangling.log"));
    std::filesystem::create_directory(file("dir.log"));
    ASSERT_EQ(::mkfifo(file("fifo.log").c_str(), 0600), 0);
    // A reader on the FIFO, so that a run that opened it for writing would write instead of waiting.
    const int reader = ::open(file("fifo.log").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (const char* name : {"link.log", "dangling.log", "dir.log", "fifo.log", "/dev/full"}) {
        const ProcessResult r = run({"-q", "-l", name, "-i", kAddress, "get", "ipconfig"});
        EXPECT_EQ(r.out, "ERROR: Log file creation failed.\n" + kInvalidOption) << name;
        EXPECT_EQ(r.status, kInvalidInputExit) << name;
    }
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 0); // no writer ever held it
    ::close(reader);
    EXPECT_EQ(testsupport::readFile(file("passwd")), original);
    EXPECT_TRUE(std::filesystem::is_symlink(file("link.log")));
    EXPECT_FALSE(std::filesystem::exists(file("absent")));
    EXPECT_TRUE(std::filesystem::is_empty(file("dir.log")));
}

TEST_F(CliTest, ArgumentOfMoreThan499CharactersRefusesTheLog) {
    // 499 characters may stand on a command line with -l; the log opens and the word itself is refused.
    ProcessResult r = run({"-q", "-l", "run.log", "-i", kAddress, "get", "avail", std::string(499, 'z')});
    EXPECT_EQ(r.out.substr(0, 17), "Invalid Argument ");
    EXPECT_TRUE(std::filesystem::exists(file("run.log")));
    std::filesystem::remove(file("run.log"));

    r = run({"-q", "-l", "run.log", "-i", kAddress, "get", "avail", std::string(500, 'z')});
    EXPECT_EQ(r.out, "ERROR: Log file creation failed.\n" + kInvalidOption);
    EXPECT_EQ(r.status, kInvalidInputExit);
    EXPECT_TRUE(dirEmpty());
}

TEST_F(CliTest, OverlongCommandLineIsCutAndTheLogSaysSo) {
    std::vector<std::string> args{"-q", "-l", "run.log", "-i", kAddress, "get", "ipconfig"};
    for (char c : {'a', 'b', 'c', 'd'})
        args.push_back(std::string(400, c));
    std::string typed = kBinary + " ";
    for (const std::string& arg : args)
        typed += arg + " ";
    ASSERT_GT(typed.size(), 1023u);

    const ProcessResult r = run(args);
    EXPECT_EQ(r.status, kInvalidInputExit);
    const auto lines = testsupport::readLines(file("run.log"));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], typed.substr(0, 510));
    EXPECT_TRUE(std::regex_match(lines[3], kStampedLine)) << lines[3];
    EXPECT_TRUE(
        lines[3].ends_with(" : WARN : morv::main : Command line too long for the log: its first 510 of " +
                           std::to_string(typed.size()) + " characters are shown."))
        << lines[3];
}

} // namespace
