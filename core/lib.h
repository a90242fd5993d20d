// Module registry: interface and hardware modules registered by name, opened and resolved by name.
#ifndef LIB_H
#define LIB_H

#include "core/zelkor.h"

// Results of the registry (a code space of its own).
constexpr uint32_t LIB_SUCCESS = 0;
constexpr uint32_t LIB_NOT_FOUND = 1; // no such entry or no registry; loading failed; list refused the entry
constexpr uint32_t LIB_BAD_ARGUMENT = 2;
constexpr uint32_t LIB_NO_MEMORY = 3;
constexpr uint32_t LIB_DUPLICATE = 4;
constexpr uint32_t LIB_NO_SYMBOL = 6;
constexpr uint32_t LIB_NOT_OPEN = 7;

// Lookup modes of findLibEntry.
constexpr uint32_t LIB_FIND_BY_NAME = 0;
constexpr uint32_t LIB_FIND_BY_ENTRY = 1;

constexpr size_t LIB_NAME_SIZE = 32;

// One registered module: static (querySymbol set) or a shared object (path set, dlHandle while loaded).
// Entries are allocated zeroed and live for the whole process.
struct LIB_ENTRY {
    char name[LIB_NAME_SIZE];
    QUERY_SYMBOL_FUNCTION querySymbol;
    char* path;
    void* dlHandle;
    uint32_t openCount;
};

// The registry in registration order; node tags: 0 static entry, 1 shared-object entry.
extern LL_LIST* gLibs;

uint32_t initLibs();
uint32_t libRegisterSll(const char* name, QUERY_SYMBOL_FUNCTION querySymbol);
uint32_t libRegisterDll(const char* name, const char* path);
uint32_t libOpen(const char* name, LIB_ENTRY** entry);
uint32_t libQuerySym(LIB_ENTRY* entry, const char* operationName, ZELKOR_GENERIC_FUNCTION* function);
uint32_t libClose(LIB_ENTRY* entry);
uint32_t findLibEntry(uint32_t mode, const char* name, LIB_ENTRY* entry, LIB_ENTRY** found);

#endif
