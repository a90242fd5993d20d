// Region words, region lookup and the region and memory commands.
#ifndef REGIONS_H
#define REGIONS_H

#include "core/zelkor.h"

#include <cstdint>
#include <cstdio>

// Region kind of a region word that names none.
constexpr uint32_t REGION_KIND_NONE = 13;

// Lookups of findRegion that found nothing in this run.
extern uint32_t displayCount;

// The region kind of a region word with or without its index text; REGION_KIND_NONE when none applies.
uint32_t getRegion(uint32_t unused, const char* word, const char* indexText);

// The first node of the handle's region list of that kind, or null; nothing shown.
ZELKOR_REGION_LIST* firstRegionOfKind(uint32_t kind);

// The region of that kind (kind 2: with that index), or null after telling the user what is missing.
ZELKOR_REGION_LIST* findRegion(uint32_t kind, uint32_t index);

// Writes the whole file into the region at the offset: 5 no file or unreadable length, 1 no region, 43 when it
// does not fit behind the offset, else the library's status.
uint32_t downloadRegion(uint32_t offset, uint32_t index, uint32_t kind, FILE* file);

// Reads dwordCount words (0: everything behind the offset) of the region into the file: 5 no file or a range
// outside the region, 1 no region, else the library's status.
uint32_t uploadRegion(uint32_t offset, uint32_t index, uint32_t dwordCount, uint32_t kind, FILE* file);

uint32_t eraseRegion(uint32_t kind, uint32_t index);

// Writes length bytes of the buffer at the expander address through the memory window.
uint32_t setMemory(uint32_t address, uint32_t length, uint8_t* buffer);

// Shows dwords of expander memory from the address text (hexadecimal), one dword or the count text's number.
uint32_t getMemory(const char* addressText, const char* countText);

uint32_t downloadRamdebug(uint32_t baudChange, FILE* image, uint8_t postValidate);

uint32_t setSmartCli();

// Reads a hexadecimal text of at most 8 digits, with an optional 0x or 0X: 0 read, 1 not a number.
uint32_t hexStrToU32(const char* text, uint32_t* out);

// Asks whether the XML file's dynamic values may take their defaults: 0 yes (or -y), MORV_STATUS_DECLINED.
uint32_t getUserConfirmationForXMLDefaultNode();

#endif
