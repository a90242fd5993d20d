// The library handle: open (module loading, binding of the operations by name, version checks),
// close, and the zelkor_ operations that forward to the bound module operations.
#include "core/lib.h"
#include "core/modules.h"
#include "core/zelkorInternal.h"
#include "core/zelkorVersion.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

uint32_t gFlags = 0;
LL_LIST* gZelkorInstanceList = nullptr;
ZELKOR_INSTANCE* gPtrZelkorHandleXml = nullptr;

namespace {

constexpr const char* kModule = "zelkor";
constexpr uint32_t kTypeCore = ZELKOR_LOG_CORE;
constexpr uint32_t kTypeEntry = ZELKOR_LOG_CORE | ZELKOR_LOG_ENTRY;
constexpr uint32_t kTypeExit = ZELKOR_LOG_CORE | ZELKOR_LOG_EXIT;

// Statuses used by the core itself.
constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kNotSupportedHere = 3;
constexpr ZELKOR_STATUS kInvalidHandle = 4;
constexpr ZELKOR_STATUS kInvalidArgument = 5;
constexpr ZELKOR_STATUS kNoMemory = 6;
constexpr ZELKOR_STATUS kNotInitialised = 7;
constexpr ZELKOR_STATUS kIalNotLoaded = 8;
constexpr ZELKOR_STATUS kHalNotLoaded = 9;
constexpr ZELKOR_STATUS kIalNotMapped = 10;
constexpr ZELKOR_STATUS kHalNotMapped = 11;
constexpr ZELKOR_STATUS kIalOpenFailed = 12;
constexpr ZELKOR_STATUS kHalOpenFailed = 13;
constexpr ZELKOR_STATUS kIalVersionFailed = 14;
constexpr ZELKOR_STATUS kHalVersionFailed = 15;
constexpr ZELKOR_STATUS kIalIncompatible = 16;
constexpr ZELKOR_STATUS kHalIncompatible = 17;
constexpr ZELKOR_STATUS kNoExpanders = 18;
constexpr ZELKOR_STATUS kBadChipType = 19;
constexpr ZELKOR_STATUS kNoDynamicRegions = 26;
constexpr ZELKOR_STATUS kNoFirmwareImage = 32;
constexpr ZELKOR_STATUS kIalBusy = 56;
constexpr ZELKOR_STATUS kBootstrapInRam = 57;

constexpr uint32_t kLastInterface = 8;

bool keepsHandleOpen(ZELKOR_STATUS status) {
    return status == 0 || status == kNoDynamicRegions || status == kNoFirmwareImage;
}

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

#define LOG_FAILURE(function, ...) logLine(function, kTypeCore, ZELKOR_LOG_ERROR, __VA_ARGS__)
#define LOG_INFO(function, ...) logLine(function, kTypeCore, ZELKOR_LOG_INFO, __VA_ARGS__)

// Entry trace now, exit trace when the scope ends (after every other line of the operation).
class Trace {
  public:
    explicit Trace(const char* function) : function_(function) {
        zelkor_messageLog(kModule, function_, kTypeEntry, ZELKOR_LOG_INFO, 1, nullptr);
    }
    ~Trace() { zelkor_messageLog(kModule, function_, kTypeExit, ZELKOR_LOG_INFO, 1, nullptr); }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

  private:
    const char* function_;
};

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

// Binds slots one name at a time, in the order asked; the first name the module cannot resolve is
// logged and ends the binding (later names are not asked for).
class Binder {
  public:
    Binder(LIB_ENTRY* entry, const char* function) : entry_(entry), function_(function) {}

    template <typename Slot> void operator()(const char* name, Slot& slot, bool wanted = true) {
        if (failed_ || !wanted)
            return;
        ZELKOR_GENERIC_FUNCTION function = nullptr;
        if (libQuerySym(entry_, name, &function) != LIB_SUCCESS) {
            LOG_FAILURE(function_, "Querying %s symbol **** FAILED ****", name);
            failed_ = true;
            return;
        }
        slot = reinterpret_cast<Slot>(function);
    }
    bool ok() const { return !failed_; }

  private:
    LIB_ENTRY* entry_;
    const char* function_;
    bool failed_ = false;
};

#define SLOT(vectors, name) #name, (vectors).name

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

// How one public operation checks its handle and slot, and what it answers when they fail.
struct OperationRule {
    const char* name;                       // the operation, also the log function name
    const char* slot;                       // the slot's operation name
    ZELKOR_STATUS notFound;                 // the handle is not listed
    ZELKOR_STATUS notMapped;                // the slot is empty
    ZELKOR_STATUS nullHandle = 0;           // non-zero: a null handle is refused with this code
    const char* nullHandleNotice = nullptr; // also printed on standard output for a null handle
    const char* notFoundLine = nullptr;     // logged after the not-found line
    bool silentUnmapped = false;            // an empty slot logs nothing
    const char* unmappedSuffix = "";        // appended to the not-mapped line
    const char* failurePrefix = "";         // put before the slot name in the failure line
    bool recordXmlHandle = false;           // the handle becomes the page engine's handle
};

// The checks of one call, with its entry and exit traces around.
class Operation {
  public:
    explicit Operation(const OperationRule& rule) : rule_(rule), trace_(rule.name) {}

    // True (after the failure line) when a null handle is refused outright.
    bool refusesNullHandle(const ZELKOR_INSTANCE* handle) const {
        if (handle != nullptr || rule_.nullHandle == 0)
            return false;
        fail("Handle is NULL **** FAILED ****");
        if (rule_.nullHandleNotice != nullptr) {
            std::printf("%s\n", rule_.nullHandleNotice);
            std::fflush(stdout);
        }
        return true;
    }

    ZELKOR_INSTANCE* find(ZELKOR_INSTANCE* handle) const {
        ZELKOR_INSTANCE* listed = getZelkorInstance(handle);
        if (listed == nullptr && rule_.notFoundLine != nullptr)
            fail(rule_.notFoundLine);
        if (listed != nullptr && rule_.recordXmlHandle)
            gPtrZelkorHandleXml = listed;
        return listed;
    }

    // Calls the slot with the arguments unchanged; an empty slot answers the not-mapped code.
    template <typename Slot, typename... Args> ZELKOR_STATUS call(Slot slot, Args... args) const {
        if (slot == nullptr && rule_.silentUnmapped)
            return rule_.notMapped;
        ZELKOR_STATUS status = rule_.notMapped;
        if (slot == nullptr)
            LOG_FAILURE(rule_.name, "%s is not Mapped **** FAILED ****%s", rule_.slot, rule_.unmappedSuffix);
        else
            status = slot(args...);
        if (status != 0)
            LOG_FAILURE(rule_.name, "%s%s **** FAILED ****", rule_.failurePrefix, rule_.slot);
        return status;
    }

    void fail(const char* text) const { LOG_FAILURE(rule_.name, "%s", text); }
    const OperationRule& rule() const { return rule_; }

  private:
    const OperationRule& rule_;
    Trace trace_;
};

// The common shape: refuse a null handle where the rule says so, find the handle, call its hardware
// slot with the hardware instance in place of the handle.
template <auto Slot, typename... Args>
ZELKOR_STATUS callHardware(const OperationRule& rule, ZELKOR_INSTANCE* handle, Args... args) {
    Operation op(rule);
    if (op.refusesNullHandle(handle))
        return rule.nullHandle;
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return rule.notFound;
    return op.call(listed->halVectors.*Slot, listed->halInstance, args...);
}

// Operations whose out-argument the core itself needs: a null one is refused with 5.
bool refusesNull(const Operation& op, const void* pointer) {
    if (pointer != nullptr)
        return false;
    op.fail("Invalid Arguments **** FAILED ****");
    return true;
}

void reportProgress(const ZELKOR_INSTANCE* handle) {
    if (handle->progress != nullptr && (handle->options == nullptr || handle->options->noProgress != 1))
        handle->progress(1, 0);
}

// Rules of the operations, as their callers see them.
constexpr OperationRule rule(const char* name, const char* slot, ZELKOR_STATUS notFound,
                             ZELKOR_STATUS notMapped) {
    return OperationRule{.name = name, .slot = slot, .notFound = notFound, .notMapped = notMapped};
}
constexpr OperationRule kGetRegions = rule("zelkor_getRegions", "zelkor_hal_getRegions", 4, 2);
constexpr OperationRule kGetRegionVersion{.name = "zelkor_getRegionVersion",
                                          .slot = "zelkor_hal_getRegionVersion",
                                          .notFound = 1,
                                          .notMapped = 4,
                                          .silentUnmapped = true};
constexpr OperationRule kGetDevices = rule("zelkor_getDevices", "zelkor_hal_getDevices", 4, 2);
constexpr OperationRule kGetPhys = rule("zelkor_getPhys", "zelkor_hal_getPhys", 4, 2);
constexpr OperationRule kGetPhy = rule("zelkor_getPhy", "zelkor_hal_getPhy", 4, 2);
constexpr OperationRule kGetPorts = rule("zelkor_getPorts", "zelkor_hal_getPorts", 4, 2);
constexpr OperationRule kGetRouteTable = rule("zelkor_getRouteTable", "zelkor_hal_getRouteTable", 4, 2);
constexpr OperationRule kGetZonePermissions =
    rule("zelkor_getZonePermissions", "zelkor_hal_getZonePermissions", 4, 2);
constexpr OperationRule kSetMorv{
    .name = "zelkor_setMorv", .slot = "zelkor_hal_setMorv", .notFound = 4, .notMapped = 2, .nullHandle = 4};
constexpr OperationRule kSetSmartCli{.name = "zelkor_setSmartCli",
                                     .slot = "zelkor_hal_setSmartCli",
                                     .notFound = 4,
                                     .notMapped = 2,
                                     .nullHandle = 4};
constexpr OperationRule kResetExpander{.name = "zelkor_resetExpander",
                                       .slot = "zelkor_hal_resetExpander",
                                       .notFound = 4,
                                       .notMapped = 2,
                                       .nullHandle = 4};
constexpr OperationRule kResetPhy{.name = "zelkor_resetPhy",
                                  .slot = "zelkor_hal_resetPhy",
                                  .notFound = 4,
                                  .notMapped = 2,
                                  .unmappedSuffix = " "};
constexpr OperationRule kTestPhy = rule("zelkor_testPhy", "zelkor_hal_testPhy", 4, 2);
constexpr OperationRule kEraseRegion = rule("zelkor_eraseRegion", "zelkor_hal_eraseRegion", 4, 2);
constexpr OperationRule kUploadRegion = rule("zelkor_uploadRegion", "zelkor_hal_uploadRegion", 4, 2);
constexpr OperationRule kDownloadRegion = rule("zelkor_downloadRegion", "zelkor_hal_downloadRegion", 4, 2);
constexpr OperationRule kDownloadRamdebug{.name = "zelkor_downloadRamdebug",
                                          .slot = "zelkor_hal_downloadRamdebug",
                                          .notFound = 4,
                                          .notMapped = 2,
                                          .nullHandle = 5,
                                          .notFoundLine = "Zelkor Instance Handle is NULL **** FAILED ****",
                                          .silentUnmapped = true};
constexpr OperationRule kGetRegionChecksum =
    rule("zelkor_getRegionChecksum", "zelkor_hal_getRegionChecksum", 1, 2);
constexpr OperationRule kGetFwVersion = rule("zelkor_getFwVersion", "zelkor_hal_getFwVersion", 1, 2);
constexpr OperationRule kFwChecksumValidation =
    rule("zelkor_fwChecksumValidation", "zelkor_hal_fwChecksumValidation", 1, 2);
constexpr OperationRule kFwExpanderValidation =
    rule("zelkor_fwExpanderValidation", "zelkor_hal_fwExpanderValidation", 1, 2);
constexpr OperationRule kFwImageValidation =
    rule("zelkor_fwImageValidation", "zelkor_hal_fwImageValidation", 1, 2);
constexpr OperationRule kMfgImageValidation =
    rule("zelkor_mfgImageValidation", "zelkor_hal_mfgImageValidation", 1, 2);
constexpr OperationRule kMfgChecksumValidation =
    rule("zelkor_mfgChecksumValidation", "zelkor_hal_mfgChecksumValidation", 1, 2);
constexpr OperationRule kBootRecordValidation =
    rule("zelkor_bootRecordValidation", "zelkor_hal_bootRecordValidation", 1, 2);
constexpr OperationRule kXml2bin{.name = "zelkor_xml2bin",
                                 .slot = "zelkor_hal_xml2bin",
                                 .notFound = 1,
                                 .notMapped = 2,
                                 .nullHandle = 5,
                                 .nullHandleNotice = "zelkor_xml2bin: invalid handle",
                                 .recordXmlHandle = true};
constexpr OperationRule kBin2xml{.name = "zelkor_bin2xml",
                                 .slot = "zelkor_hal_bin2xml",
                                 .notFound = 1,
                                 .notMapped = 2,
                                 .nullHandle = 5,
                                 .nullHandleNotice = "zelkor_bin2xml: invalid handle",
                                 .recordXmlHandle = true};
constexpr OperationRule kReadFlashRegionData =
    rule("zelkor_readFlashRegionData", "zelkor_hal_uploadRegion", 4, 2);
constexpr OperationRule kReadManufacturingPage =
    rule("zelkor_readManufacturingPage", "zelkor_hal_uploadRegion", 4, 2);
constexpr OperationRule kGetExpanders{.name = "zelkor_getExpanders",
                                      .slot = "zelkor_ial_getExpanders",
                                      .notFound = 4,
                                      .notMapped = 2,
                                      .failurePrefix = " "};
constexpr OperationRule kTestRegion = rule("zelkor_testRegion", "", 4, 2);

} // namespace

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

ZELKOR_STATUS mapIalVectors(ZELKOR_INSTANCE* handle) {
    IAL_VECTORS& v = handle->ialVectors;
    Binder bind(handle->ialEntry, "mapIalVectors");
    bind(SLOT(v, zelkor_ial_open));
    bind(SLOT(v, zelkor_ial_close));
    bind(SLOT(v, zelkor_ial_version));
    bind(SLOT(v, zelkor_ial_getExpanders));
    bind(SLOT(v, zelkor_ial_downloadRegion));
    bind(SLOT(v, zelkor_ial_downloadRamdebug), handle->interface == ZELKOR_INTERFACE_RAMDEBUG);
    bind(SLOT(v, zelkor_ial_uploadRegion));
    bind(SLOT(v, zelkor_ial_eraseRegion));
    return bind.ok() ? 0 : kIalNotMapped;
}

ZELKOR_STATUS mapHalVectors(ZELKOR_INSTANCE* handle, uint32_t chipType) {
    HAL_VECTORS& v = handle->halVectors;
    const bool palx = chipType == ZELKOR_CHIP_PALX;
    const bool quenza = chipType == ZELKOR_CHIP_QUENZA || chipType == ZELKOR_CHIP_QUENZA_DAX;
    Binder bind(handle->halEntry, "mapHalVectors");
    bind(SLOT(v, zelkor_hal_open));
    bind(SLOT(v, zelkor_hal_close));
    bind(SLOT(v, zelkor_hal_version));
    bind(SLOT(v, zelkor_hal_getRegions));
    bind(SLOT(v, zelkor_hal_getRegionVersion));
    bind(SLOT(v, zelkor_hal_getDevices));
    bind(SLOT(v, zelkor_hal_getPhy));
    bind(SLOT(v, zelkor_hal_getPhys));
    bind(SLOT(v, zelkor_hal_getPorts));
    bind(SLOT(v, zelkor_hal_getRouteTable));
    bind(SLOT(v, zelkor_hal_getZonePermissions));
    bind(SLOT(v, zelkor_hal_setMorv), !palx);
    bind(SLOT(v, zelkor_hal_setSmartCli), !palx);
    bind(SLOT(v, zelkor_hal_downloadRamdebug), quenza && handle->interface == ZELKOR_INTERFACE_RAMDEBUG);
    bind(SLOT(v, zelkor_hal_resetExpander));
    bind(SLOT(v, zelkor_hal_resetPhy));
    bind(SLOT(v, zelkor_hal_xml2bin));
    bind(SLOT(v, zelkor_hal_bin2xml));
    bind(SLOT(v, zelkor_hal_testPhy));
    bind(SLOT(v, zelkor_hal_bootRecordValidation), palx);
    bind(SLOT(v, zelkor_hal_fwExpanderValidation));
    bind(SLOT(v, zelkor_hal_fwChecksumValidation));
    bind(SLOT(v, zelkor_hal_mfgChecksumValidation));
    bind(SLOT(v, zelkor_hal_getFwVersion));
    bind(SLOT(v, zelkor_hal_fwImageValidation));
    bind(SLOT(v, zelkor_hal_mfgImageValidation));
    bind(SLOT(v, zelkor_hal_getRegionChecksum));
    bind(SLOT(v, zelkor_hal_downloadRegion));
    bind(SLOT(v, zelkor_hal_uploadRegion));
    bind(SLOT(v, zelkor_hal_eraseRegion));
    return bind.ok() ? 0 : kHalNotMapped;
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

extern "C" ZELKOR_STATUS zelkor_version(uint8_t* major, uint8_t* minor) {
    Trace trace("zelkor_version");
    if (major == nullptr || minor == nullptr) {
        LOG_FAILURE("zelkor_version", "Invalid Arguments **** FAILED ****");
        return kInvalidArgument;
    }
    *major = ZELKOR_VERSION_MAJOR;
    *minor = ZELKOR_VERSION_MINOR;
    return 0;
}

extern "C" ZELKOR_STATUS zelkor_getExpanders(ZELKOR_INSTANCE* handle, ZELKOR_EXPANDER_LIST** expanders) {
    Operation op(kGetExpanders);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kGetExpanders.notFound;
    if (refusesNull(op, expanders))
        return kInvalidArgument;
    return op.call(listed->ialVectors.zelkor_ial_getExpanders, listed->ialInstance, expanders);
}

extern "C" ZELKOR_STATUS zelkor_getRegions(ZELKOR_INSTANCE* handle, ZELKOR_REGION_LIST** regions) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getRegions>(kGetRegions, handle, regions);
}

extern "C" ZELKOR_STATUS zelkor_getRegionVersion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                                 char* version) {
    Operation op(kGetRegionVersion);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kGetRegionVersion.notFound;
    if (version == nullptr) {
        op.fail("Invalid Zelkor Version **** FAILED ****");
        return kFailure;
    }
    return op.call(listed->halVectors.zelkor_hal_getRegionVersion, listed->halInstance, region, version);
}

extern "C" ZELKOR_STATUS zelkor_getDevices(ZELKOR_INSTANCE* handle, ZELKOR_DEVICE_LIST** devices) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getDevices>(kGetDevices, handle, devices);
}

extern "C" ZELKOR_STATUS zelkor_getPhys(ZELKOR_INSTANCE* handle, ZELKOR_PHY_LIST** phys) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getPhys>(kGetPhys, handle, phys);
}

extern "C" ZELKOR_STATUS zelkor_getPhy(ZELKOR_INSTANCE* handle, uint32_t phy, ZELKOR_PHY* out) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getPhy>(kGetPhy, handle, phy, out);
}

extern "C" ZELKOR_STATUS zelkor_getPorts(ZELKOR_INSTANCE* handle, ZELKOR_PORT_LIST** ports) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getPorts>(kGetPorts, handle, ports);
}

extern "C" ZELKOR_STATUS zelkor_getRouteTable(ZELKOR_INSTANCE* handle, uint32_t phy,
                                              ZELKOR_ROUTE_LIST** routes) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getRouteTable>(kGetRouteTable, handle, phy, routes);
}

extern "C" ZELKOR_STATUS zelkor_getZonePermissions(ZELKOR_INSTANCE* handle, uint32_t zoneGroup,
                                                   uint32_t row[8]) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getZonePermissions>(kGetZonePermissions, handle, zoneGroup,
                                                                     row);
}

extern "C" ZELKOR_STATUS zelkor_setMorv(ZELKOR_INSTANCE* handle, uint8_t* value, uint8_t selector) {
    return callHardware<&HAL_VECTORS::zelkor_hal_setMorv>(kSetMorv, handle, value, selector);
}

extern "C" ZELKOR_STATUS zelkor_setSmartCli(ZELKOR_INSTANCE* handle) {
    return callHardware<&HAL_VECTORS::zelkor_hal_setSmartCli>(kSetSmartCli, handle);
}

extern "C" ZELKOR_STATUS zelkor_resetExpander(ZELKOR_INSTANCE* handle, uint8_t kind) {
    return callHardware<&HAL_VECTORS::zelkor_hal_resetExpander>(kResetExpander, handle, kind);
}

extern "C" ZELKOR_STATUS zelkor_resetPhy(ZELKOR_INSTANCE* handle, uint32_t phy) {
    return callHardware<&HAL_VECTORS::zelkor_hal_resetPhy>(kResetPhy, handle, phy);
}

extern "C" ZELKOR_STATUS zelkor_testPhy(ZELKOR_INSTANCE* handle, uint32_t first, uint32_t second,
                                        void* data) {
    return callHardware<&HAL_VECTORS::zelkor_hal_testPhy>(kTestPhy, handle, first, second, data);
}

extern "C" ZELKOR_STATUS zelkor_eraseRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region) {
    return callHardware<&HAL_VECTORS::zelkor_hal_eraseRegion>(kEraseRegion, handle, region);
}

extern "C" ZELKOR_STATUS zelkor_uploadRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region, uint32_t offset,
                                             uint32_t length, FILE* file, uint8_t* buffer) {
    return callHardware<&HAL_VECTORS::zelkor_hal_uploadRegion>(kUploadRegion, handle, region, offset, length,
                                                               file, buffer);
}

extern "C" ZELKOR_STATUS zelkor_downloadRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                               uint32_t offset, uint32_t length, FILE* file,
                                               uint8_t* buffer) {
    return callHardware<&HAL_VECTORS::zelkor_hal_downloadRegion>(kDownloadRegion, handle, region, offset,
                                                                 length, file, buffer);
}

extern "C" ZELKOR_STATUS zelkor_downloadRamdebug(ZELKOR_INSTANCE* handle, const char* ttyPath,
                                                 uint32_t baudChange, FILE* image, uint8_t postValidate) {
    return callHardware<&HAL_VECTORS::zelkor_hal_downloadRamdebug>(kDownloadRamdebug, handle, ttyPath,
                                                                   baudChange, image, postValidate);
}

extern "C" ZELKOR_STATUS zelkor_getRegionChecksum(ZELKOR_INSTANCE* handle, FILE* image,
                                                  ZELKOR_REGION** region) {
    Operation op(kGetRegionChecksum);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kGetRegionChecksum.notFound;
    if (refusesNull(op, region))
        return kInvalidArgument;
    return op.call(listed->halVectors.zelkor_hal_getRegionChecksum, listed->halInstance, image, *region);
}

extern "C" ZELKOR_STATUS zelkor_getFwVersion(ZELKOR_INSTANCE* handle, FILE* image, char** version) {
    Operation op(kGetFwVersion);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kGetFwVersion.notFound;
    if (refusesNull(op, version))
        return kInvalidArgument;
    return op.call(listed->halVectors.zelkor_hal_getFwVersion, listed->halInstance, image, *version);
}

extern "C" ZELKOR_STATUS zelkor_fwChecksumValidation(ZELKOR_INSTANCE* handle, FILE* image, uint32_t* words) {
    return callHardware<&HAL_VECTORS::zelkor_hal_fwChecksumValidation>(kFwChecksumValidation, handle, image,
                                                                       words);
}

extern "C" ZELKOR_STATUS zelkor_fwExpanderValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_fwExpanderValidation>(kFwExpanderValidation, handle, image);
}

extern "C" ZELKOR_STATUS zelkor_fwImageValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_fwImageValidation>(kFwImageValidation, handle, image);
}

extern "C" ZELKOR_STATUS zelkor_mfgImageValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_mfgImageValidation>(kMfgImageValidation, handle, image);
}

extern "C" ZELKOR_STATUS zelkor_mfgChecksumValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_mfgChecksumValidation>(kMfgChecksumValidation, handle,
                                                                        image);
}

extern "C" ZELKOR_STATUS zelkor_bootRecordValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_bootRecordValidation>(kBootRecordValidation, handle, image);
}

extern "C" ZELKOR_STATUS zelkor_xml2bin(ZELKOR_INSTANCE* handle, const char* xmlPath, const char* third,
                                        FILE* output, void* context) {
    return callHardware<&HAL_VECTORS::zelkor_hal_xml2bin>(kXml2bin, handle, xmlPath, third, output, context);
}

extern "C" ZELKOR_STATUS zelkor_bin2xml(ZELKOR_INSTANCE* handle, const char* templatePath,
                                        const char* outputPath, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_bin2xml>(kBin2xml, handle, templatePath, outputPath, image);
}

extern "C" ZELKOR_STATUS zelkor_readFlashRegionData(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                                    uint32_t offset, uint32_t length, uint8_t* buffer) {
    Operation op(kReadFlashRegionData);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kReadFlashRegionData.notFound;
    if (refusesNull(op, buffer))
        return kInvalidArgument;
    const HAL_TRANSFER_FUNCTION read = listed->halVectors.zelkor_hal_uploadRegion;
    if (read != nullptr)
        reportProgress(listed);
    const ZELKOR_STATUS status = op.call(read, listed->halInstance, region, offset, length, nullptr, buffer);
    if (read != nullptr)
        reportProgress(listed);
    return status;
}

extern "C" ZELKOR_STATUS zelkor_readManufacturingPage(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                                      uint32_t offset, uint32_t length, uint8_t* buffer) {
    const char* fn = kReadManufacturingPage.name;
    Operation op(kReadManufacturingPage);
    if (handle == nullptr || region == nullptr || offset == 0 || length == 0 || buffer == nullptr) {
        logLine(fn, kTypeEntry, ZELKOR_LOG_ERROR,
                "Invalid zelkor_readManufacturingPage() function argument **** FAILED ****");
        return kInvalidArgument;
    }
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr) {
        logLine(fn, kTypeEntry, ZELKOR_LOG_ERROR, "Unable to find ZELKOR instance **** FAILED ****");
        return kReadManufacturingPage.notFound;
    }
    const HAL_TRANSFER_FUNCTION read = listed->halVectors.zelkor_hal_uploadRegion;
    const ZELKOR_STATUS status = op.call(read, listed->halInstance, region, offset, length, nullptr, buffer);
    if (read == nullptr)
        return status;
    return status == 0 ? 0 : kFailure;
}

extern "C" ZELKOR_STATUS zelkor_testRegion(ZELKOR_INSTANCE* handle) {
    Operation op(kTestRegion);
    return op.find(handle) != nullptr ? kFailure : kInvalidHandle;
}
