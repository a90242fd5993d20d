// The library handle: open (module loading, version checks, the interface and hardware opens) and
// close, the instance list and the built-in modules' registration. The operations are bound by name in
// zelkorBinding.cpp; the zelkor_ operations that use the handle are in zelkorOperations.cpp.
#include "core/lib.h"
#include "core/modules.h"
#include "core/zelkorCore.h"
#include "core/zelkorInternal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

using namespace zelkorcore;

uint32_t gFlags = 0;
LL_LIST* gZelkorInstanceList = nullptr;
ZELKOR_INSTANCE* gPtrZelkorHandleXml = nullptr;

namespace {

constexpr uint32_t kLastInterface = 8;

bool keepsHandleOpen(ZELKOR_STATUS status) {
    return status == 0 || status == kNoDynamicRegions || status == kNoFirmwareImage;
}

// Interface slots of an offline handle: there is no interface, so every operation that would reach
// the expander answers "not supported via present interface" instead of finding an empty slot.
ZELKOR_STATUS offlineOpen(ZELKOR_INSTANCE*, uint64_t, void** instance) {
    if (instance != nullptr)
        *instance = nullptr;
    return kNotSupportedHere;
}
ZELKOR_STATUS offlineClose(void*) {
    return kNotSupportedHere;
}
ZELKOR_STATUS offlineVersion(uint8_t*, uint8_t*) {
    return kNotSupportedHere;
}
ZELKOR_STATUS offlineGetExpanders(void*, ZELKOR_EXPANDER_LIST** expanders) {
    if (expanders != nullptr)
        *expanders = nullptr;
    return kNotSupportedHere;
}
ZELKOR_STATUS offlineTransfer(void*, ZELKOR_REGION*, uint32_t, uint32_t, FILE*, uint8_t*) {
    return kNotSupportedHere;
}
ZELKOR_STATUS offlineRamdebug(void*, const char*, uint32_t, FILE*, uint8_t) {
    return kNotSupportedHere;
}
ZELKOR_STATUS offlineErase(void*, ZELKOR_REGION*) {
    return kNotSupportedHere;
}

constexpr IAL_VECTORS kOfflineInterface = {offlineOpen,         offlineClose,    offlineVersion,
                                           offlineGetExpanders, offlineTransfer, offlineRamdebug,
                                           offlineTransfer,     offlineErase};

struct BuiltInModule {
    const char* name;
    QUERY_SYMBOL_FUNCTION querySymbol;
    const char* failure;
};

constexpr BuiltInModule kBuiltInModules[] = {
    {"IAL-COM", ial_com_query_symbol, "Registering IAL-COM library **** FAILED ****"},
    {"IAL-CLI", ial_cli_query_symbol, "Registering IAL-CLI library **** FAILED ****"},
    {"IAL-TCP", ial_tcp_query_symbol, "Registering IAL-TCP library **** FAILED ****"},
    {"IAL-SAS", ial_sas_query_symbol, "Registering IAL-SAS library **** FAILED ****"},
    {"HAL-Palx", hal_palx_query_symbol, "Registering HAL-PALX library **** FAILED ****"},
    {"HAL-Ostrel", hal_ostrel_query_symbol, "Registering HAL-OSTREL library **** FAILED ****"},
    {"HAL-Quenza", hal_quenza_query_symbol, "Registering HAL-GEN3 library **** FAILED ****"},
};

// The interface module of an interface code; "" for codes that have none.
const char* interfaceModule(uint32_t interface) {
    switch (interface) {
    case ZELKOR_INTERFACE_SAS:
        return "IAL-SAS";
    case ZELKOR_INTERFACE_COM:
    case ZELKOR_INTERFACE_RAMDEBUG:
        return "IAL-COM";
    case ZELKOR_INTERFACE_CLI:
        return "IAL-CLI";
    case ZELKOR_INTERFACE_TCP:
        return "IAL-TCP";
    default:
        return "";
    }
}

bool isOffline(uint32_t interface) {
    return interface == ZELKOR_INTERFACE_OFFLINE_OSTREL || interface == ZELKOR_INTERFACE_OFFLINE_QUENZA;
}

// Every code needs somewhere to put the handle (the offline ones too: a handle nobody can reach would
// stay open for good); the interface codes also need a target, code 8 is never accepted.
bool argumentsValid(uint32_t interface, uint64_t target, ZELKOR_INSTANCE** outHandle) {
    if (interface == kLastInterface || outHandle == nullptr)
        return false;
    const bool needsTarget = interface != ZELKOR_INTERFACE_SAS && !isOffline(interface);
    return !needsTarget || target != 0;
}

bool versionCompatible(uint8_t major, uint8_t minor) {
    return static_cast<int8_t>(major) >= 1 && static_cast<int8_t>(minor) >= 0;
}

void initialiseOnce() {
    if (gFlags & ZELKOR_FLAG_INITIALISED)
        return;
    if (registerLibs() == 0)
        gFlags |= ZELKOR_FLAG_REGISTERED;
    gZelkorInstanceList = ll_new();
    if (gZelkorInstanceList != nullptr)
        gFlags |= ZELKOR_FLAG_INSTANCE_LIST;
    else
        LOG_FAILURE("zelkor_open", "Zelkor Instance creation **** FAILED ****");
    gFlags |= ZELKOR_FLAG_INITIALISED;
}

// Loads, binds, checks and opens the interface module, then asks it for its expanders. For the
// offline codes a new one-node list stands for the expander. *warning receives 57 when the
// interface open found a bootstrap already running.
ZELKOR_STATUS openInterface(ZELKOR_INSTANCE* handle, uint32_t interface, uint64_t target,
                            ZELKOR_EXPANDER_LIST** expanders, ZELKOR_STATUS* warning) {
    const char* fn = "zelkor_open";
    if (isOffline(interface)) {
        auto* record = static_cast<ZELKOR_EXPANDER_LIST*>(std::calloc(1, sizeof(ZELKOR_EXPANDER_LIST)));
        if (record == nullptr) {
            LOG_FAILURE(fn, "Memory allocation 0f %d bytes for Zelkor Instance **** FAILED ****",
                        static_cast<int>(sizeof(ZELKOR_EXPANDER_LIST)));
            return kNoMemory;
        }
        record->expander.type =
            interface == ZELKOR_INTERFACE_OFFLINE_OSTREL ? ZELKOR_CHIP_OSTREL : ZELKOR_CHIP_QUENZA;
        handle->ialVectors = kOfflineInterface;
        *expanders = record;
        return 0;
    }
    const char* module = interfaceModule(interface);
    if (module[0] != '\0')
        handle->interface = interface;
    if (module[0] == '\0' || libOpen(module, &handle->ialEntry) != LIB_SUCCESS) {
        LOG_FAILURE(fn, "Loading %s IAL library **** FAILED ****", module);
        return kIalNotLoaded;
    }
    if (mapIalVectors(handle) != 0) {
        LOG_FAILURE(fn, "Mapping %s library **** FAILED ****", module);
        return kIalNotMapped;
    }
    const IAL_VECTORS& ial = handle->ialVectors;
    uint8_t major = 0;
    uint8_t minor = 0;
    if (ial.zelkor_ial_version(&major, &minor) != 0) {
        LOG_FAILURE(fn, "Retrieving %s version **** FAILED ****", module);
        return kIalVersionFailed;
    }
    if (!versionCompatible(major, minor)) {
        LOG_FAILURE(fn, "Incompatible %s version **** FAILED ****", module);
        return kIalIncompatible;
    }

    ZELKOR_STATUS status = ial.zelkor_ial_open(handle, target, &handle->ialInstance);
    if (status != 0 && interface == ZELKOR_INTERFACE_SAS) {
        LOG_INFO(fn, "zelkor_ial_open -- retrying on IB error");
        if (ial.zelkor_ial_open(handle, target, &handle->ialInstance) != 0) {
            LOG_FAILURE(fn, "zelkor_ial_open **** retry FAILED ****");
            return kIalOpenFailed;
        }
    } else if (status == kBootstrapInRam) {
        LOG_INFO(fn,
                 "Modifying UART baudrate before ramdebug image download since bootstrap is present in RAM.");
        *warning = kBootstrapInRam;
    } else if (status != 0) {
        LOG_FAILURE(fn, "zelkor_ial_open **** FAILED ****");
        return status == kIalBusy ? kIalBusy : kIalOpenFailed;
    }

    // A listing without a first record gives no chip type to choose the hardware module by.
    ZELKOR_EXPANDER_LIST* list = nullptr;
    if (ial.zelkor_ial_getExpanders(handle->ialInstance, &list) != 0 || list == nullptr) {
        LOG_FAILURE(fn, "zelkor_ial_getExpanders **** FAILED ****");
        std::fputs("**** Zelkor is unable to get Expanders detail  FAILED****\n", stdout);
        std::fflush(stdout);
        return kNoExpanders;
    }
    *expanders = list;
    return 0;
}

// Loads, binds, checks and opens the hardware module of the chip type; 0, 26 or 32 on success.
ZELKOR_STATUS openHardware(ZELKOR_INSTANCE* handle, uint32_t chipType) {
    const char* fn = "zelkor_open";
    const char* module = nullptr;
    switch (chipType) {
    case ZELKOR_CHIP_PALX:
        LOG_INFO(fn, "Opening PALX HAL Library");
        module = "HAL-Palx";
        break;
    case ZELKOR_CHIP_OSTREL:
    case ZELKOR_CHIP_OSTREL_SWITCH:
        LOG_INFO(fn, "Opening OSTREL HAL Library");
        module = "HAL-Ostrel";
        break;
    case ZELKOR_CHIP_QUENZA:
    case ZELKOR_CHIP_QUENZA_DAX:
        LOG_INFO(fn, "Opening GEN3 HAL Library");
        module = "HAL-Quenza";
        break;
    default:
        LOG_FAILURE(fn, " Invalid Expander Type **** FAILED ****");
        return kBadChipType;
    }
    if (libOpen(module, &handle->halEntry) != LIB_SUCCESS) {
        LOG_FAILURE(fn, "Loading HAL library **** FAILED ****");
        return kHalNotLoaded;
    }
    if (mapHalVectors(handle, chipType) != 0) {
        LOG_FAILURE(fn, "Mapping HAL library **** FAILED ****");
        return kHalNotMapped;
    }
    const HAL_VECTORS& hal = handle->halVectors;
    uint8_t major = 0;
    uint8_t minor = 0;
    if (hal.zelkor_hal_version(&major, &minor) != 0) {
        LOG_FAILURE(fn, "Retrieving HAL version **** FAILED ****");
        return kHalVersionFailed;
    }
    if (!versionCompatible(major, minor)) {
        LOG_FAILURE(fn, "Incompatible HAL version **** FAILED ****");
        return kHalIncompatible;
    }
    const ZELKOR_STATUS status = hal.zelkor_hal_open(handle, &handle->halInstance, chipType);
    if (!keepsHandleOpen(status)) {
        LOG_FAILURE(fn, "zelkor_hal_open **** FAILED ****");
        return kHalOpenFailed;
    }
    return status;
}

template <typename Node> void freeChain(Node** head) {
    Node* node = *head;
    while (node != nullptr) {
        Node* next = node->next;
        std::free(node);
        node = next;
    }
    *head = nullptr;
}

// The in-band module builds its expander list once per run, keeps it and hands the same list out again;
// every other source hands out a list of its own that belongs to whoever receives it.
bool moduleKeepsList(uint32_t interface) {
    return interface == ZELKOR_INTERFACE_SAS;
}

} // namespace

namespace zelkorcore {

// One line of the core. The message is formatted here and written as it stands.
__attribute__((format(printf, 4, 5))) void logLine(const char* function, uint32_t type, uint32_t level,
                                                   const char* format, ...) {
    char text[512] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    zelkor_messageLog(kModule, function, type, level, 1, "%s", text);
}

} // namespace zelkorcore

ZELKOR_STATUS registerLibs() {
    ZELKOR_STATUS result = 0;
    for (const BuiltInModule& module : kBuiltInModules) {
        if (libRegisterSll(module.name, module.querySymbol) != LIB_SUCCESS) {
            LOG_FAILURE("zelkor_open", "%s", module.failure);
            result = kFailure;
        }
    }
    return result;
}

ZELKOR_INSTANCE* getZelkorInstance(ZELKOR_INSTANCE* handle) {
    if (handle != nullptr && gZelkorInstanceList != nullptr) {
        void* data = nullptr;
        ll_moveFirst(gZelkorInstanceList);
        while (ll_get(gZelkorInstanceList, &data, nullptr) == LL_SUCCESS) {
            if (data == handle)
                return handle;
            ll_moveNext(gZelkorInstanceList);
        }
    }
    LOG_FAILURE("getZelkorInstance", "Unable to find ZELKOR instance **** FAILED ****");
    return nullptr;
}

void freeResources(ZELKOR_INSTANCE* handle) {
    freeChain(&handle->regions);
    if (handle->halInstance != nullptr && handle->halVectors.zelkor_hal_close != nullptr)
        handle->halVectors.zelkor_hal_close(handle->halInstance);
    if (handle->halEntry != nullptr)
        libClose(handle->halEntry);
    if (handle->ialInstance != nullptr && handle->ialVectors.zelkor_ial_close != nullptr)
        handle->ialVectors.zelkor_ial_close(handle->ialInstance);
    if (handle->ialEntry != nullptr)
        libClose(handle->ialEntry);
    std::free(handle);
}

extern "C" ZELKOR_STATUS zelkor_open(uint32_t interface, uint64_t target, ZELKOR_INSTANCE** outHandle,
                                     PROGRESS_CALLBACK progress, ZELKOR_EXPANDER_LIST** outExpanders) {
    const char* fn = "zelkor_open";
    Trace trace(fn);
    // A failed open hands out no list.
    if (outExpanders != nullptr)
        *outExpanders = nullptr;
    if (interface > kLastInterface) {
        LOG_FAILURE(fn, "Invalid interface **** FAILED ****");
        return kInvalidArgument;
    }
    if (outHandle != nullptr)
        *outHandle = nullptr;
    initialiseOnce();
    if ((gFlags & gFlagsRef) != gFlagsRef) {
        LOG_FAILURE(fn, "Zelkor library initialization **** FAILED ****");
        return kNotInitialised;
    }
    if (!argumentsValid(interface, target, outHandle)) {
        LOG_FAILURE(fn, "Invalid interface **** FAILED ****");
        return kInvalidArgument;
    }

    auto* handle = static_cast<ZELKOR_INSTANCE*>(std::calloc(1, sizeof(ZELKOR_INSTANCE)));
    if (handle == nullptr) {
        LOG_FAILURE(fn, "Memory allocation 0f %d bytes for Zelkor Instance **** FAILED ****",
                    static_cast<int>(sizeof(ZELKOR_INSTANCE)));
        return kNoMemory;
    }
    handle->progress = progress;
    handle->log = zelkor_messageLog;
    handle->search = strIgnoreCaseStr;
    handle->options = &gSharedVars;
    handle->xsdPath = gSharedVars.supportPath;
    handle->hostText = gSharedVars.addressCopy;
    handle->fieldSelector = gSharedVars.fieldSelector;

    ZELKOR_EXPANDER_LIST* expanders = nullptr;
    ZELKOR_STATUS warning = 0;
    ZELKOR_STATUS status = openInterface(handle, interface, target, &expanders, &warning);
    if (status == 0)
        status = openHardware(handle, expanders->expander.type);
    if (keepsHandleOpen(status) && ll_add(gZelkorInstanceList, handle, 0, LL_AT_TAIL) != LL_SUCCESS) {
        LOG_FAILURE(fn, "Memory Allocation **** FAILED ****");
        status = kNoMemory;
    }
    // The list goes to the caller, who frees it whenever it likes (no later call or close does). A list
    // nobody takes (a failed open, or no outExpanders) is freed here once, unless its module keeps it.
    const bool handedOut = keepsHandleOpen(status) && outExpanders != nullptr;
    if (handedOut)
        *outExpanders = expanders;
    else if (!moduleKeepsList(interface))
        freeChain(&expanders);
    if (!keepsHandleOpen(status)) {
        freeResources(handle);
        return status;
    }
    *outHandle = handle;
    return status == 0 ? warning : status;
}

extern "C" ZELKOR_STATUS zelkor_close(ZELKOR_INSTANCE* handle) {
    Trace trace("zelkor_close");
    if (getZelkorInstance(handle) == nullptr)
        return kInvalidHandle;
    if (ll_remove(gZelkorInstanceList, LL_AT_CURSOR) != LL_SUCCESS) {
        LOG_FAILURE("zelkor_close", "Removing Zelkor instance **** FAILED ****");
        return kFailure;
    }
    freeResources(handle);
    // The page engine must not keep a handle that is gone: it falls back to the library's own search.
    if (gPtrZelkorHandleXml == handle)
        gPtrZelkorHandleXml = nullptr;
    return 0;
}
