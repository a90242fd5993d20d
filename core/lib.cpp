// Module registry. Static modules answer operation names through their query function; shared-object
// modules are loaded with the dynamic loader at their first open and unloaded at their last close.
#include "core/lib.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

LL_LIST* gLibs = nullptr;

namespace {

constexpr uint32_t kStaticTag = 0;
constexpr uint32_t kDynamicTag = 1;

bool isEmptyText(const char* text) {
    return text == nullptr || text[0] == '\0';
}

// Appends a zeroed entry under the name cut to its field; the caller fills the module part.
uint32_t addEntry(const char* name, uint32_t tag, LIB_ENTRY** added) {
    if (initLibs() != LIB_SUCCESS)
        return LIB_NO_MEMORY;
    // Duplicates are judged on the name as it will be stored.
    char stored[LIB_NAME_SIZE] = {};
    std::strncpy(stored, name, LIB_NAME_SIZE - 1);
    LIB_ENTRY* existing = nullptr;
    if (findLibEntry(LIB_FIND_BY_NAME, stored, nullptr, &existing) == LIB_SUCCESS)
        return LIB_DUPLICATE;
    auto* entry = static_cast<LIB_ENTRY*>(std::calloc(1, sizeof(LIB_ENTRY)));
    if (entry == nullptr)
        return LIB_NO_MEMORY;
    std::memcpy(entry->name, stored, LIB_NAME_SIZE);
    if (ll_add(gLibs, entry, tag, LL_AT_TAIL) != LL_SUCCESS) {
        std::free(entry);
        return LIB_NOT_FOUND;
    }
    *added = entry;
    return LIB_SUCCESS;
}

// The registered entry that is entry itself and is open.
uint32_t findOpenEntry(LIB_ENTRY* entry, LIB_ENTRY** found) {
    if (findLibEntry(LIB_FIND_BY_ENTRY, nullptr, entry, found) != LIB_SUCCESS)
        return LIB_NOT_FOUND;
    return (*found)->openCount != 0 ? LIB_SUCCESS : LIB_NOT_OPEN;
}

} // namespace

uint32_t initLibs() {
    if (gLibs == nullptr)
        gLibs = ll_new();
    return gLibs != nullptr ? LIB_SUCCESS : LIB_NO_MEMORY;
}

uint32_t libRegisterSll(const char* name, QUERY_SYMBOL_FUNCTION querySymbol) {
    if (isEmptyText(name) || querySymbol == nullptr)
        return LIB_BAD_ARGUMENT;
    LIB_ENTRY* entry = nullptr;
    const uint32_t status = addEntry(name, kStaticTag, &entry);
    if (status == LIB_SUCCESS)
        entry->querySymbol = querySymbol;
    return status;
}

uint32_t libRegisterDll(const char* name, const char* path) {
    if (isEmptyText(name) || isEmptyText(path))
        return LIB_BAD_ARGUMENT;
    // The path is copied first so that a shortage leaves no entry without one.
    char* pathCopy = strdup(path);
    if (pathCopy == nullptr)
        return LIB_NO_MEMORY;
    LIB_ENTRY* entry = nullptr;
    const uint32_t status = addEntry(name, kDynamicTag, &entry);
    if (status != LIB_SUCCESS) {
        std::free(pathCopy);
        return status;
    }
    entry->path = pathCopy;
    return LIB_SUCCESS;
}

uint32_t libOpen(const char* name, LIB_ENTRY** entry) {
    if (name == nullptr || entry == nullptr)
        return LIB_BAD_ARGUMENT;
    *entry = nullptr;
    LIB_ENTRY* found = nullptr;
    if (findLibEntry(LIB_FIND_BY_NAME, name, nullptr, &found) != LIB_SUCCESS)
        return LIB_NOT_FOUND;
    if (found->path != nullptr && found->dlHandle == nullptr) {
        found->dlHandle = dlopen(found->path, RTLD_NOW);
        if (found->dlHandle == nullptr)
            return LIB_NOT_FOUND;
    }
    ++found->openCount;
    *entry = found;
    return LIB_SUCCESS;
}

uint32_t libQuerySym(LIB_ENTRY* entry, const char* operationName, ZELKOR_GENERIC_FUNCTION* function) {
    if (entry == nullptr || operationName == nullptr || function == nullptr)
        return LIB_BAD_ARGUMENT;
    *function = nullptr;
    LIB_ENTRY* found = nullptr;
    if (const uint32_t status = findOpenEntry(entry, &found); status != LIB_SUCCESS)
        return status;
    ZELKOR_GENERIC_FUNCTION answer = nullptr;
    if (found->querySymbol != nullptr)
        answer = found->querySymbol(operationName);
    else if (found->dlHandle != nullptr)
        answer = reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(dlsym(found->dlHandle, operationName));
    else
        return LIB_NOT_OPEN;
    if (answer == nullptr)
        return LIB_NO_SYMBOL;
    *function = answer;
    return LIB_SUCCESS;
}

uint32_t libClose(LIB_ENTRY* entry) {
    if (entry == nullptr)
        return LIB_BAD_ARGUMENT;
    LIB_ENTRY* found = nullptr;
    if (const uint32_t status = findOpenEntry(entry, &found); status != LIB_SUCCESS)
        return status;
    if (--found->openCount == 0 && found->path != nullptr && found->dlHandle != nullptr) {
        dlclose(found->dlHandle);
        found->dlHandle = nullptr;
    }
    return LIB_SUCCESS;
}

uint32_t findLibEntry(uint32_t mode, const char* name, LIB_ENTRY* entry, LIB_ENTRY** found) {
    if (gLibs == nullptr)
        return LIB_NOT_FOUND;
    if (found == nullptr || (mode == LIB_FIND_BY_NAME && name == nullptr) ||
        (mode == LIB_FIND_BY_ENTRY && entry == nullptr))
        return LIB_BAD_ARGUMENT;
    *found = nullptr;
    void* data = nullptr;
    ll_moveFirst(gLibs);
    while (ll_get(gLibs, &data, nullptr) == LL_SUCCESS) {
        auto* candidate = static_cast<LIB_ENTRY*>(data);
        const bool match = mode == LIB_FIND_BY_NAME    ? std::strcmp(candidate->name, name) == 0
                           : mode == LIB_FIND_BY_ENTRY ? candidate == entry
                                                       : false;
        if (match) {
            *found = candidate;
            return LIB_SUCCESS;
        }
        ll_moveNext(gLibs);
    }
    return LIB_NOT_FOUND;
}
