// In-band SAS interface module: its instance record and the module-wide state that discovery keeps for
// the whole process. The operations themselves are reached only through ial_sas_query_symbol.
#ifndef IAL_ZELKOR_IAL_SAS_H
#define IAL_ZELKOR_IAL_SAS_H

#include "core/zelkor.h"
#include "osal/osalSas.h"

#include <cstdint>

// One open of the module: the handle it serves, the expander device it holds (OSAL_SAS_NO_DEVICE when
// none) and the working record of the expander being identified or, once selected, the one held.
struct SAS_INSTANCE {
    ZELKOR_INSTANCE* handle;
    OsalSasDevice device;
    ZELKOR_EXPANDER expander;
};

// Open instances; created on the first open.
extern LL_LIST* gSasInstanceList;
// The expander list, built once per process by the first open that selects an expander or the first
// listing, and handed out again on every later listing.
extern ZELKOR_EXPANDER_LIST* gPtrExpList;
// Set when the board name of the device being identified came from its manufacturer page.
extern uint8_t gFillIpAddrFlag;
// Failures counted per process: opens that found no expander with the given address, listings that
// found no device. Their console texts appear on the second failure only.
extern uint32_t gFlagDeviceErrorDisplayOpen;
extern uint32_t gFlagDeviceErrorDisplayList;

#endif
