// Morvane's process entry and its command executors.
#include "frontend/brannic.h"

#include "frontend/clparser.h"
#include "frontend/messages.h"

#include <array>
#include <cstring>

MORV_INSTANCE gInstance{};
uint8_t gDisplayStatusFlag = 0;

namespace {

constexpr uint32_t kStatusNotSupported = 3;

using Executor = uint32_t (*)(uint32_t subCommand);

// One executor per row of cmdList, in its order.
constexpr std::array<Executor, CMD_COUNT> kExecutors{executeSetCmd, executeGetCmd, executeResetCmd};

void trace(const char* function, const char* text) {
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 1, function, MSG_DEST_LOG, "%s", text);
}

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
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "\n");
    zelkor_closeLogger();
}

} // namespace

uint32_t executeSetCmd(uint32_t) {
    return kStatusNotSupported;
}

uint32_t executeGetCmd(uint32_t) {
    return kStatusNotSupported;
}

uint32_t executeResetCmd(uint32_t) {
    return kStatusNotSupported;
}

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
    if (status != 0 && gDisplayStatusFlag == 0) {
        displayZelkorStatus(status);
        gDisplayStatusFlag = 1;
    }
    finishRun();
    return static_cast<int>(status);
}
