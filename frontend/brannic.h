// Morvane front end: commands, executors and the process entry.
#ifndef BRANNIC_H
#define BRANNIC_H

#include "core/zelkor.h"

#include <cstdint>

// What the command addresses: a SAS address (interface code 0) or the address text of the other interfaces.
union MORV_TARGET {
    struct {
        uint32_t low;
        uint32_t high;
    } sas;
    const char* text;
};

// The front end's state for the one command of this process.
struct MORV_INSTANCE {
    uint32_t interfaceCode; // 0: in-band SAS
    MORV_TARGET target;
    LOG_CONFIG logConfig; // handed to zelkor_initLogger on -l
    uint8_t busy;         // while set, progress events print a dot
};

extern MORV_INSTANCE gInstance;

// Set once a status text has been shown, so that main does not show it again.
extern uint8_t gDisplayStatusFlag;

// Interface codes of MORV_INSTANCE.interfaceCode
constexpr uint32_t MORV_INTERFACE_INBAND = 0;

// One executor per row of the command table; each gets the selected sub-command index.
uint32_t executeSetCmd(uint32_t subCommand);
uint32_t executeGetCmd(uint32_t subCommand);
uint32_t executeResetCmd(uint32_t subCommand);

// The process entry: parses, dispatches and returns the process status.
int brannicMain(int argc, char** argv);

#endif
