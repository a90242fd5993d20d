// Command-line parser and help: table driven, with getopt_long in permuting mode underneath and a check of
// every option against the words as typed.
#include "frontend/clparser.h"

#include "core/zelkor.h"
#include "frontend/brannic.h"
#include "frontend/messages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

CL_PARSER gClParser{};
char gCmdbuff[1024]{};

CMD_ENTRY subSetCmdList[5] = {
    {"ipaddr", 1, 1, nullptr, 0, nullptr, 0},  {"subnetmask", 1, 1, nullptr, 0, nullptr, 0},
    {"gateway", 1, 1, nullptr, 0, nullptr, 0}, {"dhcp", 1, 1, nullptr, 0, nullptr, 0},
    {nullptr, 0, 0, nullptr, 0, nullptr, 0},
};
CMD_ENTRY subGetCmdList[3] = {
    {"avail", 0, 0, nullptr, 0, nullptr, 0},
    {"ipconfig", 0, 0, nullptr, 0, nullptr, 0},
    {nullptr, 0, 0, nullptr, 0, nullptr, 0},
};
CMD_ENTRY subResetCmdList[2] = {
    {"exp", 0, 0, nullptr, 0, nullptr, 0},
    {nullptr, 0, 0, nullptr, 0, nullptr, 0},
};
CMD_ENTRY cmdList[CMD_COUNT + 1] = {
    {"set", 1, 1, nullptr, 0, subSetCmdList, 4},
    {"get", 1, 1, nullptr, 0, subGetCmdList, 2},
    {"reset", 1, 1, nullptr, 0, subResetCmdList, 1},
    {nullptr, 0, 0, nullptr, 0, nullptr, 0},
};

// The short and the long word of one option sit at an even index and the next odd one.
const char* const helpOptionsList[HELP_TOPIC_COUNT] = {
    "h", "help",      "l", "log",     "q", "quiet",  "y",   "yes", "f",     "force",
    "r", "resetchip", "w", "wdreset", "i", "inband", "get", "set", "reset",
};

const struct option long_options[] = {
    {"help", no_argument, nullptr, 'h'},
    {"log", required_argument, nullptr, 'l'},
    {"quiet", no_argument, nullptr, 'q'},
    {"yes", no_argument, nullptr, 'y'},
    {"force", no_argument, nullptr, 'f'},
    {"resetchip", no_argument, nullptr, 'r'},
    {"wdreset", no_argument, nullptr, 'w'},
    {"inband", required_argument, nullptr, 'i'},
    {nullptr, 0, nullptr, 0},
};

namespace {

constexpr const char* kShortOptions = ":hyfqwri:l:";

// Longest argument that may stand on a command line with -l (the log file name's field less its zero).
constexpr size_t kLongestLogArgument = sizeof(LOG_CONFIG{}.name) - 1;

// Parser state beyond gClParser, for one parse.
struct ParseState {
    bool addressGiven;
    bool addressTwice;
    const char* helpTopic;    // the word after -h as the option parser met it (null: none)
    size_t commandLineLength; // the joined command line's full length, before any cut
};

ParseState sState{};

template <size_t N> void copyText(char (&field)[N], const char* text) {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
}

void showText(const char* text) {
    messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "%s", text);
}

// A text shown as a line of its own.
void showLine(const char* text) {
    messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "%s\n", text);
}

const char* longNameOf(int letter) {
    for (const struct option* row = long_options; row->name != nullptr; ++row)
        if (row->val == letter)
            return row->name;
    return nullptr;
}

bool isLongName(const char* text) {
    for (const struct option* row = long_options; row->name != nullptr; ++row)
        if (std::strcmp(text, row->name) == 0)
            return true;
    return false;
}

// An option counts only when a word as typed introduces it: one dash with its letter (alone or among other
// letters), two dashes with its letter alone, or two dashes with its long name. One dash with the long name
// refuses it outright, and so do abbreviations of the long name. One dash with another option's long name is
// no cluster of letters: -resetchip introduces neither -h nor -i.
bool optionIntroduced(const std::vector<const char*>& words, char letter, const char* longName) {
    for (size_t i = 1; i < words.size(); ++i) {
        const char* word = words[i];
        if (word[0] == '-' && word[1] != '-') {
            if (std::strcmp(word + 1, longName) == 0)
                return false;
            if (!isLongName(word + 1) && std::strchr(word + 1, letter) != nullptr)
                return true;
        } else if (word[0] == '-' && word[1] == '-') {
            if ((word[2] == letter && word[3] == '\0') || std::strcmp(word + 2, longName) == 0)
                return true;
        }
    }
    return false;
}

// Joins the words as typed into gCmdbuff, each followed by a blank, cutting what does not fit. False when a
// word is longer than a log file name may be.
bool joinCommandLine(const std::vector<const char*>& words) {
    std::string joined;
    bool fits = true;
    for (const char* word : words) {
        if (std::strlen(word) > kLongestLogArgument)
            fits = false;
        joined += word;
        joined += ' ';
    }
    sState.commandLineLength = joined.size();
    copyText(gCmdbuff, joined.c_str());
    return fits;
}

void takeAddress(const char* text) {
    if (sState.addressGiven) {
        sState.addressTwice = true;
        return;
    }
    gClParser.interfaceKind = 0;
    copyText(gClParser.addressText, validateArgument(text) != 0 ? kZeroSasAddress : text);
    gInstance.interfaceCode = MORV_INTERFACE_INBAND;
    sState.addressGiven = true;
}

void takeLogName(const std::vector<const char*>& words, const char* name, uint32_t& result) {
    if (!joinCommandLine(words)) {
        result = 59;
        return;
    }
    gClParser.optionFlags |= CL_OPT_LOG;
    gInstance.logConfig.truncate = 1;
    gInstance.logConfig.typeMask = 0xFFFFFFFF;
    gInstance.logConfig.levelMask = 0xFF;
    copyText(gClParser.logFileName, name);
    copyText(gInstance.logConfig.name, name);
}

void toggleReset(uint16_t flag, uint16_t exclusive, uint32_t& result) {
    if (gClParser.optionFlags & exclusive)
        result = 1;
    else
        gClParser.optionFlags |= flag;
}

// Applies one option that getopt_long returned; the result becomes 1 for anything refused.
void applyOption(int option, const std::vector<const char*>& words, uint32_t argc, char** argv,
                 uint32_t& result) {
    if (option == ':') {
        // A missing address stands for "no SAS address"; a missing log file name is an error.
        if (optopt == 'i' && optionIntroduced(words, 'i', longNameOf('i')))
            takeAddress(kZeroSasAddress);
        else
            result = 1;
        return;
    }
    const char* longName = longNameOf(option);
    if (longName == nullptr || !optionIntroduced(words, static_cast<char>(option), longName)) {
        result = 1;
        return;
    }
    switch (option) {
    case 'h':
        gClParser.optionFlags |= CL_OPT_HELP;
        sState.helpTopic = static_cast<uint32_t>(optind) < argc ? argv[optind] : nullptr;
        break;
    case 'l':
        takeLogName(words, optarg, result);
        break;
    case 'q':
        gClParser.optionFlags |= CL_OPT_QUIET;
        break;
    case 'y':
        gClParser.optionFlags |= CL_OPT_YES;
        break;
    case 'f':
        gClParser.optionFlags |= CL_OPT_FORCE;
        gSharedVars.force = 1;
        break;
    case 'r':
        toggleReset(CL_OPT_RESETCHIP, CL_OPT_WDRESET, result);
        break;
    case 'w':
        toggleReset(CL_OPT_WDRESET, CL_OPT_RESETCHIP, result);
        break;
    case 'i':
        takeAddress(optarg);
        break;
    default:
        result = 1;
        break;
    }
}

// The log's first lines: banner, the command line as typed, and main's entry trace.
void writeLogHead() {
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_LOG, "%s",
               "******************** # Morvane LOG # *******************\n");
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_LOG, "%s", gCmdbuff);
    const size_t logged = std::min<size_t>(std::strlen(gCmdbuff), MSG_TEXT_LIMIT);
    if (logged < sState.commandLineLength)
        messageLog(kMorvModule, ZELKOR_LOG_WARN, 1, "main", MSG_DEST_LOG,
                   "Command line too long for the log: its first %zu of %zu characters are shown.", logged,
                   sState.commandLineLength);
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_LOG, "\n");
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 1, "main", MSG_DEST_LOG, "Entry.\n");
}

bool isZeroAddress() {
    return strcasecmp(gClParser.addressText, kZeroSasAddress) == 0;
}

char* wordAt(uint32_t index, uint32_t argc, char** argv) {
    return index < argc ? argv[index] : nullptr;
}

// Without a SAS address only "get avail" may go on, its "get" standing as the command word. Returns that
// word, or null after the failure was shown.
const char* acceptAvailWithoutAddress(const char* word, uint32_t argc, char** argv) {
    const uint32_t next = static_cast<uint32_t>(optind);
    if (std::strcmp(word, "avail") == 0 && next >= 2 && std::strcmp(argv[next - 1], "get") == 0) {
        gSharedVars.availWithoutAddress = 1;
        return argv[next - 1];
    }
    uint32_t examined = 0;
    for (uint32_t i = 1; i < argc; ++i) {
        examined = i;
        const char* arg = argv[i];
        if (std::strcmp(arg, "-i") != 0 && std::strcmp(arg, "--i") != 0 && std::strcmp(arg, "--inband") != 0)
            continue;
        const char* after = wordAt(i + 1, argc, argv);
        if (after == nullptr)
            break;
        if (std::strcmp(after, "get") == 0 && std::strcmp(word, "avail") == 0) {
            gSharedVars.availWithoutAddress = 1;
            return after;
        }
        showText("SAS address is not provided.\n");
        return nullptr;
    }
    if (examined >= 2)
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "Invalid Argument %s\n",
                   argv[examined - 1]);
    showLine("Check -h for help");
    return nullptr;
}

// Help sections in the order of the whole usage; each piece is one line (or block) of its own.
struct HelpSection {
    std::array<const char*, 2> pieces;
    char noteLetter; // the option the section's note is about in the whole usage, 0 for none
};

const std::array<HelpSection, 11> kHelpSections{{
    {{"OPTIONS:\n    -h, --help\n\tDisplays complete usage.\n    -h <interface | command | option>, --help "
      "<interface | command | option>\n\tDisplays usage of the very first INTERFACE , COMMAND or OPTION\n"
      "\tencountered after -h, --h or --help option in the command line.\n\tThe interface,  command or "
      "option "
      "should not be prefixed with '-'.",
      nullptr},
     0},
    {{"    -l <file>, --log <file>", "\tCreates a log ( <file> ) of internal operations."}, 0},
    {{"    -q, --quiet", "\tRuns in quiet mode minimizing output."}, 0},
    {{"    -y, --yes", "\tSuppresses all user confirmation prompts."}, 0},
    {{"    -f, --force", "\tSuppresses all user warning & confirmation prompts."}, 0},
    {{"    -r, --resetchip", "\tHard reset the Expander."}, 0},
    {{"    -w, --wdreset", "\tWatchdog reset of the Expander."}, 'r'},
    {{"INTERFACE:\n    -i <sas addr>, --inband <sas addr>\tNOTE: sas addr is only optional for 'get avail' "
      "command.",
      nullptr},
     'i'},
    {{"COMMAND:    \n    get <avail | ipconfig>\n\n\tget avail\n\t    Displays the list of expanders "
      "available "
      "to the selected interface.\n\n\tget ipconfig\n\t    Displays the parameters in ethernet configuration "
      "page.\n\n\te.g.\n\t    For getting (reading) parameters in ethernet configuration page\n\t    via "
      "Inband "
      "run following command\n\n\t    \"Morvane -i <SAS Address> get ipconfig\"\n",
      nullptr},
     0},
    {{"COMMAND:    \n    set <ipaddr | subnetmask | gateway | dhcp> <value>\n\n\tset ipaddr <IP Address>\n\t "
      " "
      "  Sets the IP address of expander.\n\n\tset subnetmask <Subnet Mask Address>\n\t    Sets the subnet "
      "mask address of expander.\n\n\tset gateway <Gateway Address>\n\t    Sets the gateway address of "
      "expander.\n\n\tset dhcp <0/1>\n\t    Enables/Disables the DHCP status of expander.\n\t    \t0 - "
      "Disable.\n\t    \t1 - Enable.\n\n\te.g.\n\t    For setting (writing) IP Address of expander\n\t    "
      "via "
      "Inband run following command\n\n\t    \"Morvane -i <SAS Address> set ipaddr <IP Address>\"\n",
      nullptr},
     0},
    {{"COMMAND:    \n    reset <exp>\n\n\treset exp\n\t    Resets Expander.\n\n\te.g.\n\t    For resetting "
      "expander via Inband, run following command\n\n\t    \"Morvane -i <SAS Address> reset exp\"\n",
      nullptr},
     0},
}};

// The note on how options may be written, about one option (its letter and long name).
void showOptionNote(char letter, const char* longName) {
    const std::string shortWord = std::string("-") + letter;
    const std::string upperWord = std::string("-") + static_cast<char>(letter - 'a' + 'A');
    const std::string blanks64(64, ' ');
    const std::string blanks65(65, ' ');
    const std::string lines[] = {
        "",
        "    NOTE:" + blanks64,
        "\tCommand line options are case sensitive. e.g. " + shortWord + " will work but " + upperWord +
            " will throw error message.",
        blanks64,
        "\t- <ShortOption>, -- <ShortOption> and -- <LongOption> are treated same by zelkor command line "
        "parser." +
            blanks65,
        "\tAll the above 3 options will work in similar manner.",
        "\t- <LongOption> shall not work and error message will be reported to user." + blanks65,
        "\t\te.g. " + shortWord + ", -" + shortWord + " and --" + longName +
            " will work as mentioned above but -" + longName + " will throw error message.",
        "",
    };
    for (const std::string& line : lines)
        consoleLine(line.c_str());
}

void showHelpSection(const HelpSection& section, bool wholeUsage) {
    for (const char* piece : section.pieces)
        if (piece != nullptr)
            consoleLine(piece);
    if (wholeUsage && section.noteLetter != 0)
        showOptionNote(section.noteLetter, longNameOf(section.noteLetter));
}

// Section of a help topic: both words of an option share one, the commands follow the options.
size_t helpSectionOf(uint32_t topicIndex) {
    constexpr uint32_t kOptionWords = 16;
    return topicIndex < kOptionWords ? topicIndex / 2 : topicIndex - kOptionWords / 2;
}

} // namespace

void displayHeader() {
    const std::string stars(80, '*');
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_CONSOLE,
               "\n%s\n    Morvane\n\n    Expander IP Configuration Utility\n\n    Version: %s\n\n%s\n\n",
               stars.c_str(), kMorvaneVersion, stars.c_str());
}

uint32_t validateArgument(const char* text) {
    static constexpr std::array<const char*, 7> kReservedWords{"down", "erase", "get", "reset",
                                                               "set",  "test",  "up"};
    if (text == nullptr || std::strchr(text, '-') != nullptr)
        return 1;
    for (const char* word : kReservedWords)
        if (std::strcmp(text, word) == 0)
            return 1;
    return 0;
}

uint32_t getHelpOptionIndex(const char* text) {
    if (text == nullptr)
        return CL_NOT_FOUND;
    for (uint32_t i = 0; i < HELP_TOPIC_COUNT; ++i)
        if (std::strcmp(text, helpOptionsList[i]) == 0)
            return i;
    return CL_NOT_FOUND;
}

uint32_t isValidCommand(const char* word, const CMD_ENTRY* table, uint32_t count) {
    if (word == nullptr || table == nullptr || count == 0 || table[0].name == nullptr)
        return CL_NOT_FOUND;
    for (uint32_t i = 0; i < count && table[i].name != nullptr; ++i)
        if (std::strcmp(word, table[i].name) == 0)
            return i;
    return CL_NOT_FOUND;
}

uint32_t help(const char* topic) {
    uint32_t topicIndex = CL_NOT_FOUND;
    if (topic != nullptr) {
        topicIndex = getHelpOptionIndex(topic);
        if (topicIndex == CL_NOT_FOUND) {
            messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS,
                       "%s is not a valid option for help!!\n", topic);
            showText("Try -h for all valid options\n");
            return MORV_STATUS_INVALID_INPUT;
        }
    }
    consoleLine("SYNTAX:\n    Morvane OPTIONS INTERFACE COMMAND\n");
    if (topicIndex != CL_NOT_FOUND) {
        showHelpSection(kHelpSections[helpSectionOf(topicIndex)], false);
        return MORV_STATUS_HELP_TOPIC;
    }
    for (const HelpSection& section : kHelpSections)
        showHelpSection(section, true);
    return 0;
}

uint32_t convertSasAddress(const char* text, uint32_t* low, uint32_t* high) {
    if (text == nullptr || low == nullptr || high == nullptr)
        return MORV_STATUS_INVALID_INPUT;
    if (std::strcmp(text, kZeroSasAddress) == 0) {
        *low = 0;
        *high = 0;
        return 0;
    }
    const char* digits = text;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits += 2;
    auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    constexpr size_t kDigits = 16;
    uint32_t words[2] = {0, 0};
    size_t count = 0;
    for (; digits[count] != '\0'; ++count) {
        const int value = hexValue(digits[count]);
        if (value < 0 || count >= kDigits) {
            count = 0;
            break;
        }
        words[count / 8] = (words[count / 8] << 4) | static_cast<uint32_t>(value);
    }
    if (count != kDigits) {
        showLine("Invalid SAS Address.");
        return MORV_STATUS_INVALID_INPUT;
    }
    *high = words[0];
    *low = words[1];
    return 0;
}

uint32_t parseCommand(CMD_ENTRY* row, uint32_t argc, char** argv) {
    if (row == nullptr || argv == nullptr)
        return 1;
    uint32_t position = static_cast<uint32_t>(optind);
    if (isZeroAddress() && position > 0)
        --position;
    const char* subWord = wordAt(position + 1, argc, argv);
    if (subWord == nullptr) {
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS,
                   "No option provided for '%s' command!\n", row->name);
        return 1;
    }
    const uint32_t subIndex = row->subCommands != nullptr && row->subCommandCount != 0
                                  ? isValidCommand(subWord, row->subCommands, row->subCommandCount)
                                  : CL_NOT_FOUND;
    if (subIndex == CL_NOT_FOUND) {
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "Invalid command '%s'!\n",
                   subWord);
        return 1;
    }
    row->argumentPosition = &argv[position + 1];
    row->subCommandIndex = subIndex;
    CMD_ENTRY& sub = row->subCommands[subIndex];
    const uint32_t first = position + 2;
    if (sub.maxArguments == 0 && sub.minArguments == 0) {
        if (const char* extra = wordAt(first, argc, argv)) {
            messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "Invalid Argument %s\n",
                       extra);
            return 1;
        }
    } else if (sub.maxArguments > 0) {
        sub.argumentPosition = &argv[first];
        for (uint32_t i = 0; i < sub.minArguments; ++i) {
            if (wordAt(first + i, argc, argv) == nullptr) {
                showText("Syntax error.\n");
                return 1;
            }
        }
        // Optional arguments are numbers, except for erase.
        for (uint32_t i = sub.minArguments; i < sub.maxArguments; ++i) {
            const char* optional = wordAt(first + i, argc, argv);
            if (optional != nullptr && std::strcmp(row->name, "erase") != 0 &&
                std::strspn(optional, "0123456789") != std::strlen(optional)) {
                messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS,
                           "Invalid Argument '%s'\n", optional);
                return 1;
            }
        }
    }
    if (wordAt(first + sub.maxArguments, argc, argv) != nullptr) {
        showText("Syntax error.\n");
        return 1;
    }
    return 0;
}

uint32_t parseCommandLine(uint32_t argc, char** argv) {
    gClParser = CL_PARSER{};
    sState = ParseState{};
    std::memset(gCmdbuff, 0, sizeof gCmdbuff);
    if (argv == nullptr || argc == 0)
        argc = 0;
    // The words as typed: getopt_long reorders argv while it works.
    const std::vector<const char*> words(argv, argv + argc);

    uint32_t result = 0;
    opterr = 0;
    optind = 0; // a fresh scan, also when a process parses more than once
    int option;
    while (argc > 0 &&
           (option = getopt_long(static_cast<int>(argc), argv, kShortOptions, long_options, nullptr)) != -1)
        applyOption(option, words, argc, argv, result);
    if (argc == 0)
        optind = 0;

    const bool helpGiven = (gClParser.optionFlags & CL_OPT_HELP) != 0;
    if (result == 1) {
        displayHeader();
        if (helpGiven && help(sState.helpTopic) > MORV_STATUS_HELP_TOPIC)
            return 1;
        showText("Syntax error.\n");
        return 1;
    }
    if (result == 59) {
        displayHeader();
        showLine("ERROR: Log file creation failed.");
        return 59;
    }
    displayHeader();
    if (helpGiven && help(sState.helpTopic) > MORV_STATUS_HELP_TOPIC)
        return 1;

    if (gClParser.optionFlags & CL_OPT_LOG) {
        if (validateArgument(gClParser.logFileName) != 0) {
            messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS,
                       "Invalid Log File Name: %s\n", gClParser.logFileName);
            gClParser.optionFlags &= static_cast<uint16_t>(~CL_OPT_LOG);
            return 1;
        }
        if (zelkor_initLogger(&gInstance.logConfig) != 0)
            return 59;
        writeLogHead();
        if (helpGiven)
            return 0;
    }

    if (sState.addressTwice)
        return 1;
    if (sState.addressGiven) {
        if (validateArgument(gClParser.addressText) != 0) {
            messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "Invalid Argument %s\n",
                       gClParser.addressText);
            showLine("Check -h for help");
            return 1;
        }
        if (gInstance.interfaceCode == MORV_INTERFACE_INBAND) {
            const uint32_t status = convertSasAddress(gClParser.addressText, &gInstance.target.sas.low,
                                                      &gInstance.target.sas.high);
            if (status != 0)
                return status;
        } else {
            gInstance.target.text = gClParser.addressText;
        }
    }
    if (helpGiven)
        return 0;
    if (!sState.addressGiven) {
        showLine("No interface specified");
        showLine("Try -h for all valid options");
        return 1;
    }

    const char* word = wordAt(static_cast<uint32_t>(optind), argc, argv);
    if (isZeroAddress()) {
        if (word == nullptr)
            return MORV_STATUS_INVALID_INPUT;
        word = acceptAvailWithoutAddress(word, argc, argv);
        if (word == nullptr)
            return MORV_STATUS_INVALID_INPUT;
    }
    if (word == nullptr) {
        showText("Command missing!\n");
        return MORV_STATUS_NO_COMMAND;
    }
    const uint32_t command = isValidCommand(word, cmdList, CMD_COUNT);
    gClParser.commandIndex = command;
    if (command == CL_NOT_FOUND) {
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "Invalid command '%s'!\n",
                   word);
        return MORV_STATUS_INVALID_INPUT;
    }
    return parseCommand(&cmdList[command], argc, argv);
}
