// Library state and routines behind the zelkor_ operations, shared inside the library only.
#ifndef ZELKOR_INTERNAL_H
#define ZELKOR_INTERNAL_H

#include "core/zelkor.h"

// gFlags bits: first-call initialisation done, built-in modules registered, instance list created.
constexpr uint32_t ZELKOR_FLAG_INITIALISED = 1;
constexpr uint32_t ZELKOR_FLAG_REGISTERED = 2;
constexpr uint32_t ZELKOR_FLAG_INSTANCE_LIST = 4;
// Every one of these bits must be set before an open proceeds.
constexpr uint32_t gFlagsRef = 7;

extern uint32_t gFlags;
// Open handles in opening order.
extern LL_LIST* gZelkorInstanceList;
// The handle whose services the configuration page engine uses: the last one given to
// zelkor_xml2bin or zelkor_bin2xml.
extern ZELKOR_INSTANCE* gPtrZelkorHandleXml;

// Whether a file is the one zelkor_xml2xml wrote last (same device and inode): its USE and FORMAT stamps
// are resolved already.
bool stampsResolvedByXml2xml(const char* path);

// Registers the seven built-in modules; 1 when any registration failed.
ZELKOR_STATUS registerLibs();
// Bind the handle's interface and hardware slots by name: 0, or 10 / 11.
ZELKOR_STATUS mapIalVectors(ZELKOR_INSTANCE* handle);
ZELKOR_STATUS mapHalVectors(ZELKOR_INSTANCE* handle, uint32_t chipType);
// The listed handle equal to handle, or null after logging the not-found line. The instance list's
// cursor is left on the handle's node.
ZELKOR_INSTANCE* getZelkorInstance(ZELKOR_INSTANCE* handle);
// Releases everything a handle holds, in the teardown order, and the handle itself.
void freeResources(ZELKOR_INSTANCE* handle);

#endif
