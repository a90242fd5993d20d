// The region operations of the firmware command-line module over the console: memory writes as register
// commands or an mdl transfer, flash writes with fdl, reads with ful, mul or buffsize, erases with
// regerase, the expander listing with the SAS address and the IP address, and the prompt probe. The
// module hands each operation its target: the console link, the register operation in use and the
// instance's record.
#ifndef ZELKOR_CLI_REGIONS_H
#define ZELKOR_CLI_REGIONS_H

#include "core/zelkor.h"
#include "ial/cliCommands.h"
#include "ial/comInstance.h"

#include <cstdint>
#include <cstdio>
#include <functional>

// A register access (operation bits as cliRegisterAccess): 0 or a negative status. The same access type
// the serial modules' shared identification takes.
using CliRegisterFunction = ComRegisterAccess;

struct CliTarget {
    CliLink link;
    ZELKOR_INSTANCE* handle; // options, progress, log; may be null
    ZELKOR_EXPANDER& record;
    CliRegisterFunction registerAccess;
    bool onConsole; // the register operation is the console's own (not the debug port's)
};

// Sends "\r", drops what comes until silence, sends "\r" again and reads the answer (sleeping 100 ms
// first when asked). 0 or CLI_LINE_FAILED; got is the answer's length.
int32_t readPrompt(SerialLine& line, uint8_t* answer, uint32_t size, uint32_t* got, bool sleepFirst);
// True when the answer holds the console prompt from its third byte (and, when exact, nothing after it).
bool cliIsPrompt(const uint8_t* answer, uint32_t length, bool exact);

ZELKOR_STATUS cliDownloadRegion(CliTarget& target, const ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                                FILE* file, const uint8_t* buffer);
ZELKOR_STATUS cliUploadRegion(CliTarget& target, const ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                              FILE* file, uint8_t* buffer);
ZELKOR_STATUS cliEraseRegion(CliTarget& target, const ZELKOR_REGION* region);
// Fills the record's SAS address and IP address text and hands out a one-node copy of it.
ZELKOR_STATUS cliGetExpanders(CliTarget& target, ZELKOR_EXPANDER_LIST** out);

#endif
