// The parser in-process: what it leaves in gClParser, gInstance, gSharedVars, the command rows and gCmdbuff.
#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "frontend/messages.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// An argument vector that lives as long as the parse results point into it.
class Args {
  public:
    explicit Args(std::vector<std::string> words) : words_(std::move(words)) {
        words_.insert(words_.begin(), "Morvane");
        for (std::string& word : words_)
            pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    uint32_t count() const { return static_cast<uint32_t>(words_.size()); }
    char** vector() { return pointers_.data(); }

  private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

class ParserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gInstance = MORV_INSTANCE{};
        gSharedVars = ZELKOR_SHARED_VARS{};
        gSharedVars.regionCount = -1;
    }
    void TearDown() override { zelkor_closeLogger(); }

    // Parses with stdout captured into output_.
    uint32_t parse(Args& args) {
        testing::internal::CaptureStdout();
        const uint32_t status = parseCommandLine(args.count(), args.vector());
        output_ = testing::internal::GetCapturedStdout();
        return status;
    }

    std::string output_;
};

TEST_F(ParserTest, SasAddressBecomesHighAndLowWord) {
    struct Case {
        const char* text;
        uint32_t high;
        uint32_t low;
    };
    const Case cases[] = {
        {"5000ABCD12345678", 0x5000ABCD, 0x12345678},
        {"0x0123456789abcdef", 0x01234567, 0x89ABCDEF},
        {"0XFFFFFFFF00000001", 0xFFFFFFFF, 0x00000001},
        {"0x0000000000000000", 0, 0},
        {"0000000000000000", 0, 0},
    };
    for (const Case& c : cases) {
        gInstance.target.sas = {0xDEAD, 0xBEEF};
        Args args({"-q", "-i", c.text, "get", "ipconfig"});
        if (std::strcmp(c.text, "0x0000000000000000") == 0) {
            // The zero address itself stands for "none": only "get avail" may go without one.
            EXPECT_EQ(parse(args), MORV_STATUS_INVALID_INPUT) << c.text;
            continue;
        }
        ASSERT_EQ(parse(args), 0u) << c.text << output_;
        EXPECT_EQ(gInstance.target.sas.high, c.high) << c.text;
        EXPECT_EQ(gInstance.target.sas.low, c.low) << c.text;
        EXPECT_EQ(gInstance.interfaceCode, MORV_INTERFACE_INBAND);
        EXPECT_STREQ(gClParser.addressText, c.text);
    }
}

TEST_F(ParserTest, ConvertSasAddressRefusesWhatIsNotSixteenDigits) {
    uint32_t low = 7;
    uint32_t high = 7;
    testing::internal::CaptureStdout();
    EXPECT_EQ(convertSasAddress("5000ABCD1234567", &low, &high), MORV_STATUS_INVALID_INPUT);
    EXPECT_EQ(convertSasAddress("5000ABCD123456789", &low, &high), MORV_STATUS_INVALID_INPUT);
    EXPECT_EQ(convertSasAddress("0x", &low, &high), MORV_STATUS_INVALID_INPUT);
    EXPECT_EQ(convertSasAddress(" 5000ABCD1234567", &low, &high), MORV_STATUS_INVALID_INPUT);
    std::string expected;
    for (int i = 0; i < 4; ++i)
        expected += "Invalid SAS Address.\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    EXPECT_EQ(low, 7u);
    EXPECT_EQ(high, 7u);
}

TEST_F(ParserTest, CommandRowsRecordTheirWords) {
    struct Case {
        std::vector<std::string> words;
        uint32_t command;
        uint32_t subCommand;
        const char* subWord;
        const char* value; // null for sub-commands without an argument
    };
    const Case cases[] = {
        {{"set", "ipaddr", "1.2.3.4"}, CMD_SET, 0, "ipaddr", "1.2.3.4"},
        {{"set", "subnetmask", "255.0.0.0"}, CMD_SET, 1, "subnetmask", "255.0.0.0"},
        {{"set", "gateway", "10.0.0.1"}, CMD_SET, 2, "gateway", "10.0.0.1"},
        {{"set", "dhcp", "1"}, CMD_SET, 3, "dhcp", "1"},
        {{"get", "avail"}, CMD_GET, 0, "avail", nullptr},
        {{"get", "ipconfig"}, CMD_GET, 1, "ipconfig", nullptr},
        {{"reset", "exp"}, CMD_RESET, 0, "exp", nullptr},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words{"-q", "-i", "5000ABCD12345678"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        Args args(words);
        ASSERT_EQ(parse(args), 0u) << c.words[0] << " " << c.words[1] << output_;
        EXPECT_EQ(gClParser.commandIndex, c.command);
        CMD_ENTRY& row = cmdList[c.command];
        EXPECT_EQ(row.subCommandIndex, c.subCommand);
        ASSERT_NE(row.argumentPosition, nullptr);
        EXPECT_STREQ(*row.argumentPosition, c.subWord);
        if (c.value != nullptr) {
            ASSERT_NE(row.subCommands[c.subCommand].argumentPosition, nullptr);
            EXPECT_STREQ(*row.subCommands[c.subCommand].argumentPosition, c.value);
        }
    }
}

TEST_F(ParserTest, CommandWordsMayStandBeforeTheOptions) {
    Args args({"set", "gateway", "10.0.0.1", "-q", "-i", "5000ABCD12345678"});
    ASSERT_EQ(parse(args), 0u) << output_;
    EXPECT_EQ(gClParser.commandIndex, CMD_SET);
    EXPECT_EQ(cmdList[CMD_SET].subCommandIndex, 2u);
    EXPECT_STREQ(*subSetCmdList[2].argumentPosition, "10.0.0.1");
}

TEST_F(ParserTest, AvailWithoutAddressListsEveryExpander) {
    for (const std::vector<std::string>& words : {std::vector<std::string>{"-q", "-i", "get", "avail"},
                                                  std::vector<std::string>{"-i", "get", "-q", "avail"}}) {
        gSharedVars.availWithoutAddress = 0;
        gInstance.target.sas = {1, 2};
        Args args(words);
        ASSERT_EQ(parse(args), 0u) << output_;
        EXPECT_EQ(gSharedVars.availWithoutAddress, 1);
        EXPECT_STREQ(gClParser.addressText, "0x0000000000000000");
        EXPECT_EQ(gInstance.target.sas.low, 0u);
        EXPECT_EQ(gInstance.target.sas.high, 0u);
        EXPECT_EQ(gClParser.commandIndex, CMD_GET);
        EXPECT_EQ(cmdList[CMD_GET].subCommandIndex, 0u);
    }
    Args withAddress({"-q", "-i", "5000ABCD12345678", "get", "avail"});
    gSharedVars.availWithoutAddress = 0;
    ASSERT_EQ(parse(withAddress), 0u);
    EXPECT_EQ(gSharedVars.availWithoutAddress, 0);
}

TEST_F(ParserTest, OptionSpellingsAndTheirFlags) {
    struct Case {
        std::vector<std::string> options;
        uint16_t flags; // besides quiet
        uint8_t force;
    };
    const Case cases[] = {
        {{"-y"}, CL_OPT_YES, 0},
        {{"--yes"}, CL_OPT_YES, 0},
        {{"--y"}, CL_OPT_YES, 0},
        {{"-f"}, CL_OPT_FORCE, 1},
        {{"--force"}, CL_OPT_FORCE, 1},
        {{"-r"}, CL_OPT_RESETCHIP, 0},
        {{"--r"}, CL_OPT_RESETCHIP, 0},
        {{"--resetchip"}, CL_OPT_RESETCHIP, 0},
        {{"-yr"}, CL_OPT_YES | CL_OPT_RESETCHIP, 0},
        {{"-w"}, CL_OPT_WDRESET, 0},
        {{"--wdreset"}, CL_OPT_WDRESET, 0},
        {{"-yfw"}, CL_OPT_YES | CL_OPT_FORCE | CL_OPT_WDRESET, 1},
    };
    for (const Case& c : cases) {
        gSharedVars.force = 0;
        std::vector<std::string> words{"-q"};
        words.insert(words.end(), c.options.begin(), c.options.end());
        words.insert(words.end(), {"-i", "5000ABCD12345678", "reset", "exp"});
        Args args(words);
        ASSERT_EQ(parse(args), 0u) << c.options[0] << output_;
        EXPECT_EQ(gClParser.optionFlags, c.flags | CL_OPT_QUIET) << c.options[0];
        EXPECT_EQ(gSharedVars.force, c.force) << c.options[0];
    }
}

TEST_F(ParserTest, RefusedOptionSpellings) {
    for (const char* option : {"-resetchip", "-wdreset", "-force", "-yes", "-quiet", "--res", "--wd", "--fo",
                               "-R", "-Y", "--", "-"}) {
        Args args({"-q", option, "-i", "5000ABCD12345678", "reset", "exp"});
        EXPECT_NE(parse(args), 0u) << option;
    }
}

TEST_F(ParserTest, ResetChipAndWatchdogResetExcludeEachOther) {
    Args first({"-q", "-r", "-w", "-i", "5000ABCD12345678", "reset", "exp"});
    EXPECT_EQ(parse(first), 1u);
    EXPECT_EQ(gClParser.optionFlags & CL_OPT_WDRESET, 0);
    Args second({"-q", "--wdreset", "--resetchip", "-i", "5000ABCD12345678", "reset", "exp"});
    EXPECT_EQ(parse(second), 1u);
    EXPECT_EQ(gClParser.optionFlags & CL_OPT_RESETCHIP, 0);
}

TEST_F(ParserTest, AddressTextIsBoundedByItsField) {
    const std::string longAddress(2000, 'A');
    Args args({"-q", "-i", longAddress, "get", "ipconfig"});
    EXPECT_EQ(parse(args), MORV_STATUS_INVALID_INPUT);
    EXPECT_EQ(output_, "Invalid SAS Address.\n");
    EXPECT_EQ(std::strlen(gClParser.addressText), sizeof gClParser.addressText - 1);
    EXPECT_EQ(std::string(gClParser.addressText), longAddress.substr(0, sizeof gClParser.addressText - 1));
}

TEST_F(ParserTest, LogOptionFillsTheLogConfiguration) {
    // Log file names may hold no '-', so the log goes to a relative name in a scratch directory.
    testsupport::TempDir dir;
    testsupport::ScopedChdir inside(dir.path());
    const std::string name = "x.log";
    Args args({"-q", "-l", name, "-i", "5000ABCD12345678", "get", "ipconfig"});
    ASSERT_EQ(parse(args), 0u) << output_;
    EXPECT_STREQ(gClParser.logFileName, name.c_str());
    EXPECT_STREQ(gInstance.logConfig.name, name.c_str());
    EXPECT_EQ(gInstance.logConfig.truncate, 1);
    EXPECT_EQ(gInstance.logConfig.typeMask, 0xFFFFFFFFu);
    EXPECT_EQ(gInstance.logConfig.levelMask, 0xFF);
    EXPECT_EQ(std::string(gCmdbuff), "Morvane -q -l " + name + " -i 5000ABCD12345678 get ipconfig ");
}

TEST_F(ParserTest, LongestLogNameFitsItsField) {
    // 499 characters fit both fields; the file itself cannot be made with a name that long.
    const std::string name(499, 'n');
    Args args({"-q", "-l", name, "-i", "5000ABCD12345678", "get", "ipconfig"});
    EXPECT_EQ(parse(args), 59u);
    EXPECT_EQ(output_, "ERROR: Log file creation failed.\n");
    EXPECT_EQ(std::string(gClParser.logFileName), name);
    EXPECT_EQ(std::string(gInstance.logConfig.name), name);
}

TEST_F(ParserTest, JoinedCommandLineIsCutToItsBuffer) {
    testsupport::TempDir dir;
    testsupport::ScopedChdir inside(dir.path());
    std::vector<std::string> words{"-q", "-l", "x.log", "-i", "5000ABCD12345678", "get", "ipconfig"};
    for (int i = 0; i < 6; ++i)
        words.push_back(std::string(300, static_cast<char>('a' + i)));
    std::string joined = "Morvane ";
    for (const std::string& word : words)
        joined += word + " ";
    Args args(words);
    EXPECT_EQ(parse(args), 1u); // the extra words are refused after the log opened
    EXPECT_EQ(std::strlen(gCmdbuff), sizeof gCmdbuff - 1);
    EXPECT_EQ(std::string(gCmdbuff), joined.substr(0, sizeof gCmdbuff - 1));
    EXPECT_TRUE(std::filesystem::exists(dir / "x.log"));
}

TEST_F(ParserTest, HelpReturnsByTopic) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(help(nullptr), 0u);
    EXPECT_EQ(help("set"), MORV_STATUS_HELP_TOPIC);
    EXPECT_EQ(help("inband"), MORV_STATUS_HELP_TOPIC);
    EXPECT_EQ(help("bogus"), MORV_STATUS_INVALID_INPUT);
    EXPECT_EQ(help(""), MORV_STATUS_INVALID_INPUT);
    EXPECT_EQ(help("-h"), MORV_STATUS_INVALID_INPUT);
    testing::internal::GetCapturedStdout();
}

TEST_F(ParserTest, ValidateArgument) {
    struct Case {
        const char* text;
        uint32_t verdict;
    };
    const Case cases[] = {
        {nullptr, 1}, {"-x", 1},       {"a-b", 1},    {"down", 1},
        {"erase", 1}, {"get", 1},      {"reset", 1},  {"set", 1},
        {"test", 1},  {"up", 1},       {"", 0},       {"Set", 0},
        {"sets", 0},  {"morv.log", 0}, {"upload", 0}, {"5000ABCD12345678", 0},
        {"a%sb", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(validateArgument(c.text), c.verdict) << (c.text ? c.text : "(null)");
}

TEST_F(ParserTest, HelpTopicIndex) {
    const char* const topics[] = {"h",   "help",   "l",     "log", "q",         "quiet", "y",
                                  "yes", "f",      "force", "r",   "resetchip", "w",     "wdreset",
                                  "i",   "inband", "get",   "set", "reset"};
    for (uint32_t i = 0; i < 19; ++i)
        EXPECT_EQ(getHelpOptionIndex(topics[i]), i) << topics[i];
    for (const char* other : {"H", "-h", "--help", "", "exp", "avail", "res"})
        EXPECT_EQ(getHelpOptionIndex(other), CL_NOT_FOUND) << other;
    EXPECT_EQ(getHelpOptionIndex(nullptr), CL_NOT_FOUND);
}

TEST_F(ParserTest, IsValidCommand) {
    EXPECT_EQ(isValidCommand("set", cmdList, 3), 0u);
    EXPECT_EQ(isValidCommand("get", cmdList, 3), 1u);
    EXPECT_EQ(isValidCommand("reset", cmdList, 3), 2u);
    EXPECT_EQ(isValidCommand("reset", cmdList, 2), CL_NOT_FOUND); // beyond the count
    EXPECT_EQ(isValidCommand("Set", cmdList, 3), CL_NOT_FOUND);
    EXPECT_EQ(isValidCommand("se", cmdList, 3), CL_NOT_FOUND);
    EXPECT_EQ(isValidCommand(nullptr, cmdList, 3), CL_NOT_FOUND);
    EXPECT_EQ(isValidCommand("set", nullptr, 3), CL_NOT_FOUND);
    EXPECT_EQ(isValidCommand("set", cmdList, 0), CL_NOT_FOUND);
    EXPECT_EQ(isValidCommand("dhcp", subSetCmdList, 4), 3u);
    // A count larger than the table stops at its closing row.
    EXPECT_EQ(isValidCommand("bogus", subResetCmdList, 100), CL_NOT_FOUND);
    const CMD_ENTRY empty[1] = {{nullptr, 0, 0, nullptr, 0, nullptr, 0}};
    EXPECT_EQ(isValidCommand("set", empty, 1), CL_NOT_FOUND);
}

TEST_F(ParserTest, CommandTablesHaveTheirShape) {
    struct Row {
        const char* name;
        uint32_t max;
        uint32_t min;
        const CMD_ENTRY* sub;
        uint32_t count;
    };
    const Row rows[] = {{"set", 1, 1, subSetCmdList, 4},
                        {"get", 1, 1, subGetCmdList, 2},
                        {"reset", 1, 1, subResetCmdList, 1}};
    for (uint32_t i = 0; i < CMD_COUNT; ++i) {
        EXPECT_STREQ(cmdList[i].name, rows[i].name);
        EXPECT_EQ(cmdList[i].maxArguments, rows[i].max);
        EXPECT_EQ(cmdList[i].minArguments, rows[i].min);
        EXPECT_EQ(cmdList[i].subCommands, rows[i].sub);
        EXPECT_EQ(cmdList[i].subCommandCount, rows[i].count);
        // Every table closes with a row without a name, right after its counted rows.
        EXPECT_EQ(rows[i].sub[rows[i].count].name, nullptr);
    }
    EXPECT_EQ(cmdList[CMD_COUNT].name, nullptr);
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(subSetCmdList[i].maxArguments + subSetCmdList[i].minArguments, 2u);
    for (const CMD_ENTRY* row : {&subGetCmdList[0], &subGetCmdList[1], &subResetCmdList[0]})
        EXPECT_EQ(row->maxArguments + row->minArguments, 0u);
}

} // namespace
