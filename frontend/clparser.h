// The command line of Morvane: options, interface, command tables, help and banner.
#ifndef CLPARSER_H
#define CLPARSER_H

#include <getopt.h>

#include <cstdint>

inline constexpr const char* kMorvaneVersion = "19.1.0.0";

// The address text that stands for "no SAS address given".
inline constexpr const char* kZeroSasAddress = "0x0000000000000000";

// Option flags of CL_PARSER.optionFlags
constexpr uint16_t CL_OPT_HELP = 0x0001;
constexpr uint16_t CL_OPT_LOG = 0x0002;
constexpr uint16_t CL_OPT_QUIET = 0x0004;
constexpr uint16_t CL_OPT_XML = 0x0008;
constexpr uint16_t CL_OPT_YES = 0x0010;
constexpr uint16_t CL_OPT_FORCE = 0x0020;
constexpr uint16_t CL_OPT_RESETCHIP = 0x0080;
constexpr uint16_t CL_OPT_WDRESET = 0x0100;

// The parsed command line.
struct CL_PARSER {
    uint16_t optionFlags;
    char logFileName[500];
    char xmlFileName[500];
    uint8_t interfaceKind;
    char addressText[501]; // as typed, or kZeroSasAddress when missing or rejected
    uint32_t commandIndex; // row of cmdList, CL_NOT_FOUND after an unknown command word
};

extern CL_PARSER gClParser;

// The command line joined with blanks, for the log.
extern char gCmdbuff[1024];

// One row of a command table.
struct CMD_ENTRY {
    const char* name;
    uint32_t maxArguments;
    uint32_t minArguments;
    char** argumentPosition;  // set by the parser: the sub-command word, or a sub-command's first argument
    uint32_t subCommandIndex; // set by the parser: the selected row of subCommands
    CMD_ENTRY* subCommands;
    uint32_t subCommandCount;
};

// Rows of cmdList
constexpr uint32_t CMD_SET = 0;
constexpr uint32_t CMD_GET = 1;
constexpr uint32_t CMD_RESET = 2;
constexpr uint32_t CMD_COUNT = 3;

// Each table ends with a row whose name is null.
extern CMD_ENTRY cmdList[CMD_COUNT + 1];
extern CMD_ENTRY subSetCmdList[5];
extern CMD_ENTRY subGetCmdList[3];
extern CMD_ENTRY subResetCmdList[2];

constexpr uint32_t HELP_TOPIC_COUNT = 19;
extern const char* const helpOptionsList[HELP_TOPIC_COUNT];

extern const struct option long_options[];

constexpr uint32_t CL_NOT_FOUND = 0xFFFFFFFF;

// Parses the process arguments into gClParser, gInstance, gCmdbuff and gSharedVars; shows the banner and the
// help and opens the log on -l. 0 on success (also after help), else a failure status.
uint32_t parseCommandLine(uint32_t argc, char** argv);

// Checks the words after the command word against the row's sub-commands; 0 or 1.
uint32_t parseCommand(CMD_ENTRY* row, uint32_t argc, char** argv);

// Shows the whole usage (null topic, 0) or one topic's section (MORV_STATUS_HELP_TOPIC).
uint32_t help(const char* topic);

void displayHeader();

// 1 rejects the text as an address or file name, 0 accepts it.
uint32_t validateArgument(const char* text);

uint32_t getHelpOptionIndex(const char* text);

// Index of the row named word among the first count rows, or CL_NOT_FOUND.
uint32_t isValidCommand(const char* word, const CMD_ENTRY* table, uint32_t count);

// Turns an address text of 16 hexadecimal digits (optionally after 0x) into its two words.
uint32_t convertSasAddress(const char* text, uint32_t* low, uint32_t* high);

#endif
