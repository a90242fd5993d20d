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

// The front end's state for the one command of this process. Every list here was handed out by the library
// and is owned by the front end until cleanQuillet frees it.
struct MORV_INSTANCE {
    ZELKOR_INSTANCE* handle; // from zelkor_open; null until opened
    uint32_t interfaceCode;  // 0: in-band SAS
    MORV_TARGET target;
    ZELKOR_REGION_LIST* regionList; // copy from zelkor_getRegions
    ZELKOR_EXPANDER_LIST* expanderList;
    ZELKOR_DEVICE_LIST* deviceList; // the topology lists, for the topology commands
    ZELKOR_PHY_LIST* phyList;
    ZELKOR_PORT_LIST* portList;
    ZELKOR_ROUTE_LIST* routeList;
    LOG_CONFIG logConfig; // handed to zelkor_initLogger on -l
    uint8_t busy;         // while set, progress events print a dot
};

extern MORV_INSTANCE gInstance;

// Set once a status text has been shown, so that main does not show it again.
extern uint8_t gDisplayStatusFlag;

// Interface codes of MORV_INSTANCE.interfaceCode
constexpr uint32_t MORV_INTERFACE_INBAND = 0;

// Sub-commands of the executors (rows of their sub-command tables).
constexpr uint32_t SET_IPADDR = 0;
constexpr uint32_t SET_SUBNETMASK = 1;
constexpr uint32_t SET_GATEWAY = 2;
constexpr uint32_t SET_DHCP = 3;
constexpr uint32_t GET_AVAIL = 0;
constexpr uint32_t GET_IPCONFIG = 1;
constexpr uint32_t RESET_EXP = 0;

// Opens the library on the command's interface, fetches the region list and names the expander. 0, or the
// warnings 26 and 32, let the command go on.
uint32_t init();

// One executor per row of the command table; each gets the selected sub-command index.
uint32_t executeSetCmd(uint32_t subCommand);
uint32_t executeGetCmd(uint32_t subCommand);
uint32_t executeResetCmd(uint32_t subCommand);

// Lists the expanders (1 without a list) and shows their Ethernet settings (34 without a list).
uint32_t getAvail();
uint32_t getIpConfig();

// Asks the yes/no question on standard input unless ask is 0 or -y was given: 0 to go on,
// MORV_STATUS_DECLINED after "n", at the end of the input, or for missing texts.
uint32_t getConfirmation(const char* question, const char* abortText, uint8_t ask);

// Write one Ethernet setting (four value bytes) through zelkor_setMorv; a failure's status is shown once.
uint32_t setIpAddress(uint8_t* value, uint8_t selector);
uint32_t setSubnetMask(uint8_t* value, uint8_t selector);
uint32_t setGateway(uint8_t* value, uint8_t selector);
uint32_t setDhcpStatus(uint8_t* value, uint8_t selector);

// Frees every list of gInstance and clears the heads.
void cleanQuillet();

// The process entry: parses, dispatches and returns the process status.
int brannicMain(int argc, char** argv);

#endif
