// Morvane's process entry and its command executors.
#include "frontend/brannic.h"

#include "frontend/clparser.h"
#include "frontend/handlerSupport.h"
#include "frontend/messages.h"
#include "frontend/mfgPages.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

MORV_INSTANCE gInstance{};
uint8_t gDisplayStatusFlag = 0;

using namespace morv;

namespace {

constexpr uint32_t kStatusFailure = 1;
constexpr uint32_t kStatusNoAvailList = 1;
constexpr uint32_t kStatusInvalidHandle = 4;
constexpr uint32_t kStatusInvalidArgument = 5;
constexpr uint32_t kStatusUnsupported = 29;
constexpr uint32_t kStatusNoRegionList = 33;
constexpr uint32_t kStatusNoExpanderList = 34;
constexpr uint32_t kStatusInterfaceBusy = 56;
constexpr uint32_t kStatusBootstrapInRam = 57;

// Where init reads the board page: the page region by id on the firmware console, else partition 3.
constexpr uint32_t kMfgRegionKindById = 12;
constexpr uint32_t kMfgRegionKindFlash = 2;
constexpr uint32_t kMfgRegionIndexFlash = 3;

constexpr uint32_t kDhcpUnknown = 0xFFFFFFFF;
constexpr const char* kNotConfigured = "NotConfigured";
constexpr const char* kNoExpander = "No Expander seems to be attached to the Host machine";
constexpr const char* kResetNeedsAddress =
    "A reset needs the SAS address of the expander (-i <sas addr>); no expander was reset.\n";

// Longest answer to a yes/no question; a longer line is one answer that is neither.
constexpr size_t kAnswerLimit = 255;

// Reset kinds of zelkor_resetExpander.
constexpr uint8_t kChipReset = 1;
constexpr uint8_t kWatchdogReset = 2;

using Executor = uint32_t (*)(uint32_t subCommand);

// One executor per row of cmdList, in its order.
constexpr std::array<Executor, CMD_COUNT> kExecutors{executeSetCmd, executeGetCmd, executeResetCmd};

void showStatusOnce(uint32_t status) {
    if (gDisplayStatusFlag != 0)
        return;
    displayZelkorStatus(status);
    gDisplayStatusFlag = 1;
}

bool confirmationsOff() {
    return optionGiven(CL_OPT_FORCE) || optionGiven(CL_OPT_YES);
}

bool resetRequested() {
    return optionGiven(CL_OPT_RESETCHIP) || optionGiven(CL_OPT_WDRESET);
}

bool openLetsCommandGoOn(uint32_t status) {
    return status == 0 || status == 26 || status == 32;
}

uint64_t openTarget() {
    if (gInstance.interfaceCode == MORV_INTERFACE_INBAND)
        return (static_cast<uint64_t>(gInstance.target.sas.high) << 32) | gInstance.target.sas.low;
    return reinterpret_cast<uintptr_t>(gInstance.target.text);
}

uint32_t regionIndexWord(const ZELKOR_REGION_LIST* node) { return node->region.index; }

ZELKOR_REGION_LIST* nextRegion(const ZELKOR_REGION_LIST* node) { return node->next; }

// Walks from the third node on: the third counts in any case, every later one until a node of index 0.
void countRegions() {
    const ZELKOR_REGION_LIST* node = gInstance.regionList;
    for (int skipped = 0; skipped < 2 && node != nullptr; ++skipped)
        node = nextRegion(node);
    if (node == nullptr)
        return;
    ++gSharedVars.regionCount;
    for (node = nextRegion(node); node != nullptr && regionIndexWord(node) != 0; node = nextRegion(node))
        ++gSharedVars.regionCount;
}

template <typename Node> void freeChain(Node*& head) {
    while (head != nullptr) {
        Node* next = head->next;
        std::free(head);
        head = next;
    }
}

// The open of a command: the open's status, and the status that ends the command at once when non-zero (no
// expander list; for set and reset, family Ostrel Gen2, chip type 2, which has neither).
struct Opened {
    uint32_t status;
    uint32_t refusal;
};

Opened openForCommand(const char* function, bool gen2Refused) {
    // Busy during the open, so that the progress events of the open print their dots.
    gInstance.busy = 1;
    const uint32_t status = init();
    gInstance.busy = 0;
    const ZELKOR_EXPANDER* first = firstExpander();
    if (first == nullptr) {
        logOnly(function, ZELKOR_LOG_ERROR, kNoExpander);
        return {status, MORV_STATUS_INVALID_INPUT};
    }
    if (gen2Refused && first->type == ZELKOR_CHIP_OSTREL) {
        logOnly(function, ZELKOR_LOG_ERROR, "Command is not supported with attached Gen2 expander");
        showAlways(" \nCommand is not supported with attached Gen2 expander. \n");
        return {status, MORV_STATUS_INVALID_INPUT};
    }
    return {status, 0};
}

// How a reset is carried out: as the step after a get or set (busy off, a line feed before the result) or
// as the reset command itself (busy on while it runs).
enum class ResetAs { FollowUp, Command };

uint32_t requestReset(const char* function, uint8_t kind, ResetAs as) {
    if (as == ResetAs::Command)
        gInstance.busy = 1;
    trace("resetExpander", "Entry.\n");
    const uint32_t status = zelkor_resetExpander(gInstance.handle, kind);
    if (status != 0)
        displayZelkorStatus(status);
    trace("resetExpander", "Exit.\n");
    if (as == ResetAs::FollowUp)
        showAlways("\n");
    gInstance.busy = 0;
    if (status == 0)
        showAlways("Expander reset request successfully sent to expander.\n");
    else
        reportError(function, "Failed Resetting Expander\n");
    return status;
}

// The reset that -r or -w asks for after a get or set.
uint32_t followUpReset(const char* function) {
    return requestReset(function, optionGiven(CL_OPT_WDRESET) ? kWatchdogReset : kChipReset,
                        ResetAs::FollowUp);
}

enum class Answer { Yes, No, Other, EndOfInput };

// One line of standard input: up to its line feed or the end of the input.
Answer readAnswer() {
    std::string line;
    size_t length = 0;
    bool anything = false;
    int c;
    while ((c = std::fgetc(stdin)) != EOF) {
        anything = true;
        if (c == '\n')
            break;
        if (length < kAnswerLimit)
            line += static_cast<char>(c);
        ++length;
    }
    if (!anything)
        return Answer::EndOfInput;
    if (length > kAnswerLimit)
        return Answer::Other;
    if (line == "y" || line == "Y")
        return Answer::Yes;
    if (line == "n" || line == "N")
        return Answer::No;
    return Answer::Other;
}

// Four decimal pieces of at most 255 separated by exactly three dots; the bytes in text order.
bool parseDottedQuad(const char* text, uint8_t (&bytes)[4]) {
    if (text == nullptr || text[0] == '\0' || std::strspn(text, "0123456789.") != std::strlen(text))
        return false;
    size_t dots = 0;
    for (const char* p = text; *p != '\0'; ++p)
        dots += *p == '.' ? 1 : 0;
    if (dots != 3)
        return false;
    size_t pieces = 0;
    for (const char* p = text; *p != '\0';) {
        if (*p == '.') {
            ++p;
            continue;
        }
        uint32_t value = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            value = value * 10 + static_cast<uint32_t>(*p - '0');
            if (value > 255)
                return false;
        }
        bytes[pieces++] = static_cast<uint8_t>(value);
    }
    return pieces == 4;
}

// The DHCP switch: "0" or "1"; an empty word is 0.
bool parseDhcpValue(const char* text, uint8_t& value) {
    if (text == nullptr)
        return false;
    if (text[0] == '\0') {
        value = 0;
        return true;
    }
    if ((text[0] != '0' && text[0] != '1') || text[1] != '\0')
        return false;
    value = static_cast<uint8_t>(text[0] - '0');
    return true;
}

// DHCP on (neither off nor unknown) for an expander of the list with the command's SAS address.
bool dhcpOnAtTarget() {
    for (const ZELKOR_EXPANDER_LIST* node = gInstance.expanderList; node != nullptr; node = node->next) {
        const ZELKOR_EXPANDER& e = node->expander;
        if (e.sasAddressLow == gInstance.target.sas.low && e.sasAddressHigh == gInstance.target.sas.high &&
            e.dhcp != 0 && e.dhcp != kDhcpUnknown)
            return true;
    }
    return false;
}

uint32_t writeSetting(const char* function, uint8_t* value, uint8_t selector) {
    FunctionTrace functionTrace(function);
    const uint32_t status = zelkor_setMorv(gInstance.handle, value, selector);
    if (status != 0)
        showStatusOnce(status);
    return status;
}

// What differs between the set sub-commands. Questions and success texts are indexed by the DHCP value (the
// address settings use the first).
struct SetRow {
    uint32_t (*write)(uint8_t* value, uint8_t selector);
    const char* invalidLog;
    const char* invalidText;
    const char* dhcpLog;
    const char* dhcpText;
    std::array<const char*, 2> question;
    std::array<const char*, 2> success;
    const char* failureLog;
    const char* failureText;
};

const std::array<SetRow, 4> kSetRows{{
    {setIpAddress,
     "Invalid IP Address.\n",
     "\nERROR : Invalid IP Address.",
     "Dhcp is enabled so set ip address will not be effective.",
     "ERROR: Dhcp is enabled so set ip address will not be effective.\n\n",
     {"Are you sure you want to set IP Address?(y/n):", nullptr},
     {"\nSet IP address Successful\n", nullptr},
     "Unable to set the IP address\n",
     "\nERROR: Unable to set the IP address\n"},
    {setSubnetMask,
     "Invalid Subnet Mask Address.\n",
     "\nERROR : Invalid Subnet Mask Address.",
     "Dhcp is enabled so set subnet mask will not be effective.",
     "ERROR: Dhcp is enabled so set subnet mask will not be effective.\n\n",
     {"Are you sure you want to set Subnet Mask?(y/n):", nullptr},
     {"\nSet Subnet Mask Successful\n", nullptr},
     "Unable to set the Subnet Mask\n",
     "\nERROR: Unable to set the Subnet Mask\n"},
    {setGateway,
     "Invalid Gateway Address.\n",
     "\nERROR : Invalid Gateway Address.",
     "Dhcp is enabled so set gateway address will not be effective.",
     "ERROR: Dhcp is enabled so set gateway address will not be effective.\n\n",
     {"Are you sure you want to set Gateway?(y/n):", nullptr},
     {"\nSet Gateway Successful\n", nullptr},
     "Unable to set the Gateway\n",
     "\nERROR: Unable to set the Gateway\n"},
    {setDhcpStatus,
     nullptr,
     nullptr,
     nullptr,
     nullptr,
     {"Are you sure you want to disable DHCP Status?(y/n):",
      "Are you sure you want to enable DHCP Status?(y/n):"},
     {"\nDHCP status is disabled\n", "\nDHCP status is enabled\n"},
     "Unable to set the DHCP\n",
     "\nERROR: Unable to set the DHCP\n"},
}};

// The value word of a set sub-command, as the parser found it.
const char* setValueWord(uint32_t subCommand) {
    char** position = subSetCmdList[subCommand].argumentPosition;
    return position != nullptr ? *position : nullptr;
}

} // namespace

uint32_t init() {
    const char* fn = "init";
    FunctionTrace functionTrace(fn);
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_CONSOLE, "Initializing Interface.");
    const uint32_t status = zelkor_open(gInstance.interfaceCode, openTarget(), &gInstance.handle,
                                        zelkor_messageHandler, &gInstance.expanderList);
    if (status == kStatusInterfaceBusy || status == kStatusBootstrapInRam)
        return status;
    if (!openLetsCommandGoOn(status)) {
        displayZelkorStatus(status);
        reportError(fn, "Failed to Initialize Communication!\n");
        return status;
    }
    if (gInstance.interfaceCode == ZELKOR_INTERFACE_RAMDEBUG)
        return status;
    if (gInstance.handle == nullptr) {
        showAlways("\n");
        reportError(fn, "Unable to retrieve zelkor handle.\n");
        return kStatusInvalidHandle;
    }
    const uint32_t regions = zelkor_getRegions(gInstance.handle, &gInstance.regionList);
    if (regions != 0) {
        displayZelkorStatus(regions);
        reportError(fn, "Unable to retrieve Region List.\n");
        return regions;
    }
    if (gInstance.regionList == nullptr) {
        showAlways("\n");
        reportError(fn, "Unable to retrieve Region List.\n");
        return kStatusNoRegionList;
    }
    countRegions();
    const ZELKOR_EXPANDER* first = firstExpander();
    if (first == nullptr) {
        showAlways("\n");
        reportError(fn, "Unable To retrieve Expander List.\n");
        return kStatusNoExpanderList;
    }
    // Off the in-band interface the expander is named from its board page.
    const bool named = first->type >= ZELKOR_CHIP_OSTREL && first->type <= ZELKOR_CHIP_QUENZA_DAX;
    if (gInstance.interfaceCode != MORV_INTERFACE_INBAND && named) {
        const bool byId = isFulPossible() != 0;
        if (readMfgInfo(byId ? kMfgRegionKindById : kMfgRegionKindFlash, byId ? 0 : kMfgRegionIndexFlash,
                        PAGE_BOARD) != 0)
            nameUnknownExpander();
    }
    // From here on everything is shown: quiet keeps only the banner and the open's own output away.
    if (gInstance.interfaceCode == MORV_INTERFACE_INBAND || named)
        gClParser.optionFlags &= static_cast<uint16_t>(~CL_OPT_QUIET);
    showAlways("\n");
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_CONSOLE, "Expander: %s\n",
               fieldText(first->name).c_str());
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, 0, "\n\n");
    return status;
}

uint32_t getAvail() {
    FunctionTrace functionTrace("getAvail");
    if (gInstance.expanderList == nullptr)
        return kStatusNoAvailList;
    const uint32_t interface = gInstance.interfaceCode;
    const bool showsAddress = interface == ZELKOR_INTERFACE_SAS || interface == ZELKOR_INTERFACE_CLI ||
                              interface == ZELKOR_INTERFACE_TCP;
    int number = 0;
    for (ZELKOR_EXPANDER_LIST* node = gInstance.expanderList; node != nullptr; node = node->next) {
        ZELKOR_EXPANDER& e = node->expander;
        if (e.type < ZELKOR_CHIP_PALX || e.type > ZELKOR_CHIP_QUENZA_DAX)
            continue;
        ++number;
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "%d) %s", number,
                   fieldText(e.name).c_str());
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, " (%08X:%08X)  ",
                   e.sasAddressHigh, e.sasAddressLow);
        if (e.type != ZELKOR_CHIP_PALX && interface == ZELKOR_INTERFACE_TCP &&
            gInstance.target.text != nullptr) {
            std::strncpy(e.ipAddress, gInstance.target.text, sizeof e.ipAddress - 1);
            e.ipAddress[sizeof e.ipAddress - 1] = '\0';
        }
        const std::string ip = fieldText(e.ipAddress);
        if (e.type != ZELKOR_CHIP_PALX && showsAddress && ip != kNotConfigured)
            messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "(%s) \n", ip.c_str());
        else
            showAlways("\n");
    }
    return 0;
}

uint32_t getIpConfig() {
    FunctionTrace functionTrace("getIpConfig");
    if (gInstance.expanderList == nullptr)
        return kStatusNoExpanderList;
    if (gInstance.interfaceCode != MORV_INTERFACE_INBAND)
        return 0;
    for (const ZELKOR_EXPANDER_LIST* node = gInstance.expanderList; node != nullptr; node = node->next) {
        const ZELKOR_EXPANDER& e = node->expander;
        const char* dhcp = e.dhcp == 0 ? "Disabled" : e.dhcp == kDhcpUnknown ? "Unknown" : "Enabled";
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS,
                   "          IP Address: %s\n"
                   "         Subnet Mask: %s\n"
                   "             Gateway: %s\n"
                   "         MAC Address: %s\n "
                   "         DHCP Status: %s\n",
                   fieldText(e.ipAddress).c_str(), fieldText(e.subnetMask).c_str(),
                   fieldText(e.gateway).c_str(), fieldText(e.macAddress).c_str(), dhcp);
    }
    return 0;
}

uint32_t getConfirmation(const char* question, const char* abortText, uint8_t ask) {
    const char* fn = "getConfirmation";
    FunctionTrace functionTrace(fn);
    // A question that cannot be put is no consent.
    if (question == nullptr || abortText == nullptr) {
        logOnly(fn, ZELKOR_LOG_ERROR, "Invalid function parameters");
        return MORV_STATUS_DECLINED;
    }
    if (ask == 0 || optionGiven(CL_OPT_YES))
        return 0;
    for (;;) {
        showAlways(question);
        const Answer answer = readAnswer();
        showAlways("\n");
        if (answer == Answer::Yes)
            return 0;
        // The end of the input can bring no answer any more: it declines.
        if (answer == Answer::No || answer == Answer::EndOfInput)
            break;
    }
    reportError(fn, abortText);
    return MORV_STATUS_DECLINED;
}

uint32_t setIpAddress(uint8_t* value, uint8_t selector) {
    return writeSetting("setIpAddress", value, selector);
}

uint32_t setSubnetMask(uint8_t* value, uint8_t selector) {
    return writeSetting("setSubnetMask", value, selector);
}

uint32_t setGateway(uint8_t* value, uint8_t selector) {
    return writeSetting("setGateway", value, selector);
}

uint32_t setDhcpStatus(uint8_t* value, uint8_t selector) {
    return writeSetting("setDhcpStatus", value, selector);
}

uint32_t executeSetCmd(uint32_t subCommand) {
    const char* fn = "executeSetCmd";
    FunctionTrace functionTrace(fn);
    if (subCommand >= kSetRows.size())
        return MORV_STATUS_INVALID_INPUT;
    const Opened opened = openForCommand(fn, true);
    if (opened.refusal != 0)
        return opened.refusal;
    if (opened.status != 0)
        return opened.status;

    const SetRow& row = kSetRows[subCommand];
    const char* word = setValueWord(subCommand);
    uint8_t value[4] = {};
    size_t choice = 0;
    if (subCommand == SET_DHCP) {
        if (!parseDhcpValue(word, value[0])) {
            logOnly("main", ZELKOR_LOG_ERROR, "Invalid argument.\n");
            return kStatusInvalidArgument;
        }
        choice = value[0];
    } else {
        if (!parseDottedQuad(word, value)) {
            logOnly(fn, ZELKOR_LOG_ERROR, row.invalidLog);
            showAlways(row.invalidText);
            return kStatusFailure;
        }
        if (gInstance.interfaceCode == MORV_INTERFACE_INBAND && dhcpOnAtTarget()) {
            logOnly(fn, ZELKOR_LOG_ERROR, row.dhcpLog);
            showAlways(row.dhcpText);
            showAlways("Command unsupported on attached expander.\n");
            return kStatusFailure;
        }
    }
    if (!confirmationsOff() &&
        getConfirmation(row.question[choice], "Set operation aborted by user.", 1) != 0)
        return MORV_STATUS_DECLINED;

    const uint32_t written = row.write(value, static_cast<uint8_t>(subCommand));
    if (written != 0) {
        logOnly(fn, ZELKOR_LOG_ERROR, row.failureLog);
        showAlways(row.failureText);
        return written;
    }
    showAlways(row.success[choice]);
    if (!resetRequested()) {
        showAlways("\nINFO: Apply reset to make the changes effective\n");
        return 0;
    }
    return followUpReset(fn);
}

uint32_t executeGetCmd(uint32_t subCommand) {
    const char* fn = "executeGetCmd";
    FunctionTrace functionTrace(fn);
    if (subCommand != GET_AVAIL && subCommand != GET_IPCONFIG)
        return MORV_STATUS_INVALID_INPUT;
    const Opened opened = openForCommand(fn, false);
    if (opened.refusal != 0)
        return opened.refusal;
    if (opened.status != 0)
        return opened.status;

    if (subCommand == GET_AVAIL) {
        if (!confirmationsOff() && getConfirmation("Are you sure you want to get list of expanders?(y/n):",
                                                   "Get operation aborted by user.", 0) != 0)
            return MORV_STATUS_DECLINED;
        const uint32_t listed = getAvail();
        if (listed != 0) {
            reportError(fn, "Unable To retrieve Expander List.\n");
            showStatusOnce(listed);
            return listed;
        }
        if (!resetRequested())
            return 0;
        // Without an address the handle stands on whichever expander came first: no reset by chance.
        if (gSharedVars.availWithoutAddress != 0) {
            logOnly(fn, ZELKOR_LOG_ERROR, kResetNeedsAddress);
            messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "\nERROR: %s",
                       kResetNeedsAddress);
            return MORV_STATUS_INVALID_INPUT;
        }
        return followUpReset(fn);
    }

    if (firstExpander()->type == ZELKOR_CHIP_PALX)
        return kStatusUnsupported;
    if (!confirmationsOff() &&
        getConfirmation("Are you sure you want to get IP configuration parameters?(y/n):",
                        "Get operation aborted by user.", 0) != 0)
        return MORV_STATUS_DECLINED;
    if (getIpConfig() != 0)
        reportError(fn, "Unable To Get the ip configuration parameters .\n");
    if (!resetRequested())
        return 0;
    return followUpReset(fn);
}

uint32_t executeResetCmd(uint32_t subCommand) {
    const char* fn = "executeResetCmd";
    FunctionTrace functionTrace(fn);
    if (subCommand != RESET_EXP)
        return 0;
    const Opened opened = openForCommand(fn, true);
    if (opened.refusal != 0)
        return opened.refusal;
    // The reset goes on after the open's warnings.
    if (!openLetsCommandGoOn(opened.status))
        return opened.status;
    if (gInstance.interfaceCode == MORV_INTERFACE_INBAND && firstExpander()->type == ZELKOR_CHIP_PALX) {
        logOnly(fn, ZELKOR_LOG_WARN, "This functionality is not supported in PALX through SAS interface");
        showAlways("WARN: This functionality is not supported in PALX through SAS interface");
        return MORV_STATUS_INVALID_INPUT;
    }
    if (!confirmationsOff() && getConfirmation("Are you sure you want to reset Expander?(y/n):",
                                               "Reset operation aborted by user\n", 1) != 0)
        return MORV_STATUS_DECLINED;
    // The reset command always asks for the chip reset.
    return requestReset(fn, kChipReset, ResetAs::Command);
}

void cleanQuillet() {
    freeChain(gInstance.regionList);
    freeChain(gInstance.expanderList);
    freeChain(gInstance.deviceList);
    freeChain(gInstance.phyList);
    freeChain(gInstance.portList);
    freeChain(gInstance.routeList);
}

namespace {

void presetRun() {
    std::strncpy(gInstance.logConfig.name, "morv.log", sizeof gInstance.logConfig.name - 1);
    gSharedVars.regionCount = -1;
    gSharedVars.consoleEcho = 0;
    gSharedVars.ramDebugBusy = 0;
    gSharedVars.smartCliBusy = 0;
    gSharedVars.force = 0;
    gSharedVars.availWithoutAddress = 0;
    std::memset(gSharedVars.addressCopy, 0, sizeof gSharedVars.addressCopy);
}

// Last words of every run: main's exit trace, a line feed, the log closed.
void finishRun() {
    trace("main", "Exit.\n");
    showAlways("\n");
    zelkor_closeLogger();
}

// Closes the handle the command opened; 0 when there was none.
uint32_t closeHandle() {
    if (gInstance.handle == nullptr)
        return 0;
    const uint32_t status = zelkor_close(gInstance.handle);
    gInstance.handle = nullptr;
    if (status != 0) {
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, "main", MSG_DEST_LOG,
                   "Falied to close zelkor instance.\n");
        showAlways("Falied to close zelkor instance.\n");
        if (gDisplayStatusFlag == 0)
            displayZelkorStatus(status);
    }
    return status;
}

} // namespace

int brannicMain(int argc, char** argv) {
    presetRun();
    const uint32_t parsed = parseCommandLine(argc > 0 ? static_cast<uint32_t>(argc) : 0, argv);
    if (parsed != 0) {
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS,
                   "Invalid Option check -h for help.\n");
        // 59: the log could not be opened, so there is nothing more to write to it.
        if (parsed != 59) {
            messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, "main", MSG_DEST_LOG,
                       "Invalid Option check -h for help.\n");
            trace("main", "Exit.\n");
            zelkor_closeLogger();
        }
        return static_cast<int>(MORV_STATUS_INVALID_INPUT);
    }
    if (gClParser.optionFlags & CL_OPT_HELP) {
        finishRun();
        return 0;
    }

    const uint32_t command = gClParser.commandIndex;
    if (command >= CMD_COUNT) {
        finishRun();
        return static_cast<int>(MORV_STATUS_INVALID_INPUT);
    }
    const uint32_t subCommand = cmdList[command].subCommandIndex;
    gSharedVars.commandIndex = command;
    gSharedVars.subCommandIndex = subCommand;
    const uint32_t status = kExecutors[command](subCommand);
    if (gInstance.expanderList != nullptr && status != 0)
        showStatusOnce(status);
    cleanQuillet();
    const uint32_t closeStatus = closeHandle();
    finishRun();
    return static_cast<int>(status != 0 ? status : closeStatus);
}
