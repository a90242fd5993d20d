// A fake interface module in front of the simulator's expander model: memory-window reads and writes reach
// the model's address space, flash-region reads and writes its data buffers, and the Ethernet request is
// served the way the in-band module serves it (the selected field patched into the page). Every call is
// recorded with the bytes it carried, and chosen calls can be made to fail.
#ifndef TESTS_HAL_MODEL_INTERFACE_H
#define TESTS_HAL_MODEL_INTERFACE_H

#include "core/zelkor.h"
#include "model/Expander.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct InterfaceCall {
    std::string op; // "upload", "download" or "erase"
    ZELKOR_REGION region{};
    uint32_t offset = 0;
    uint32_t size = 0;
    std::vector<uint8_t> data; // downloads: every byte the size names, read from the caller's buffer
};

// Makes a call fail: the operation, optionally only at one offset or on one region id, and the status it
// answers. It lets the first skip matching calls through, then strikes count times (0: every time).
struct InterfaceFailure {
    std::string op;
    std::optional<uint32_t> offset;
    ZELKOR_STATUS status;
    std::optional<uint32_t> regionId = std::nullopt;
    uint32_t skip = 0;
    uint32_t count = 0;
    uint32_t matched = 0; // matching calls seen so far
};

struct ModelInterface {
    std::unique_ptr<zsim::Expander> expander;
    ZELKOR_INSTANCE* handle = nullptr;
    std::vector<InterfaceCall> calls;
    std::vector<InterfaceFailure> failures;
    // Calls are recorded only while record is set (a poll that runs millions of reads is only counted).
    bool record = true;
    uint64_t uploads = 0;
    uint64_t downloads = 0;
    // Uploads at one address, counted also while nothing is recorded.
    std::optional<uint32_t> watch;
    uint64_t watched = 0;
    // What the interface open sets in the handle.
    uint8_t designatedRegions = 1;
    // The expander list the interface hands out (one record of the model's chip type): on interface code 0
    // this record itself, as the in-band module hands out the list it keeps; on the other codes, or with
    // heapList, a fresh copy of it that the caller frees.
    ZELKOR_EXPANDER_LIST listed{};
    bool heapList = false;

    void reset(zsim::Family family, uint32_t chipType);
};

extern ModelInterface gModel;

// The interface operations, as a module's slots.
IAL_VECTORS modelInterfaceVectors();
// A query function answering the interface operation names with the fake's operations.
ZELKOR_GENERIC_FUNCTION modelInterfaceQuery(const char* name);
// Every interface module's name with the fake's query function, for a RegistryQuerySwap.
std::vector<std::pair<const char*, QUERY_SYMBOL_FUNCTION>> modelInterfaceEntries();

#endif
