// Routines and operations shared by the three hardware modules. Every difference between the families
// comes from their HalFamily descriptor.
#include "hal/zelkorHalCommon.h"

#include "hal/zelkorHalRegions.h"
#include "osal/osalTime.h"

#include <array>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

LL_LIST* gHALInstanceList = nullptr;
uint32_t gHBFlags = 0;

namespace {

constexpr ZELKOR_STATUS kNotViaThisInterface = 3;
constexpr uint32_t kInterfaceDebugPort = ZELKOR_INTERFACE_COM;
constexpr uint32_t kInterfaceTcp = ZELKOR_INTERFACE_TCP;
constexpr uint32_t kRegisterBytes = 4;
constexpr uint32_t kWatchdogKind = 2;

// Flash-table entries that end the walk: small ones of the reserved ids below 3.
constexpr uint32_t kSmallEntrySize = 0x80000;
constexpr uint32_t kReservedEntryIds = 3;
// Partition rows after the firmware partition (0x80) take region ids from 0x81 up; 0xC0 to 0xFF name the
// memory window and the designated buffers, which a partition must never alias.
constexpr uint32_t kFirstNonPartitionId = MEMORY_WINDOW_REGION_ID;
// A partition named by entry id 0xFF gets region id 0x17F and index 0xFF: no buffer id can carry it, and
// the index tells every interface to leave its programming and erasing to the hardware module.
constexpr uint32_t kSelfProgrammedEntryId = 0xFF;

// Region ids a partition row may take: 0x81 to 0xBF, and the self-programmed partition's.
bool partitionIdUsable(const HalFamily& f, uint32_t entryId, uint32_t regionId) {
    if (f.partitionsByEntryId && entryId == kSelfProgrammedEntryId)
        return true;
    return regionId > FIRMWARE_PARTITION_REGION_ID && regionId < kFirstNonPartitionId;
}

constexpr const char* kAccessRead = "Reading %d bytes at 0x%08x offset";
constexpr const char* kAccessReadFailed = "Reading %d bytes at 0x%08x offset **** FAILED ****";
constexpr const char* kAccessWrite = "Writing %d bytes at 0x%08x offset";
constexpr const char* kAccessWriteFailed = "Writing %d bytes at 0x%08x offset **** FAILED ****";

bool keepsInstance(ZELKOR_STATUS status) {
    return status == 0 || status == HAL_NO_DYNAMIC_REGIONS || status == HAL_FOREIGN_FIRMWARE;
}

#define HAL_LOG_IF(family, handle, function, level, text, ...)                                               \
    do {                                                                                                     \
        if ((text) != nullptr)                                                                               \
            halLog(family, handle, function, level, text __VA_OPT__(, ) __VA_ARGS__);                        \
    } while (0)
// The same for a text that takes no values: it is written as it stands, never read as a format.
#define HAL_LOG_TEXT(family, handle, function, level, text)                                                  \
    do {                                                                                                     \
        if ((text) != nullptr)                                                                               \
            halLog(family, handle, function, level, "%s", text);                                             \
    } while (0)

// ---- open ----

// Bytes of the flash table the family reads: the head and as many entries as it considers, never more
// than the record holds.
uint32_t flashTableBytes(const HalFamily& f) {
    return std::min<uint32_t>(f.flashTableSize, sizeof(FLASH_TABLE));
}

// Turns the flash table into partition rows. The walk covers the entries the table read holds, whatever
// count the device claims, and skips entries that do not describe a stretch of this flash.
void walkFlashTable(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const FLASH_TABLE& table) {
    const char* fn = "halPopulateRegionList";
    ZELKOR_INSTANCE* handle = hi->handle;
    const uint32_t capacity = flashTableCapacity(flashTableBytes(f));
    const uint32_t claimed = table.entryCount;
    if (claimed > capacity)
        halLog(f, handle, fn, ZELKOR_LOG_WARN, "Flash table claims %u entries; only %u are read", claimed,
               capacity);
    const uint32_t count = std::min(claimed, capacity);
    for (uint32_t i = 0; i < count; ++i) {
        const FLASH_TABLE_ENTRY& e = table.entries[i];
        const uint32_t id = e.entryId;
        if (e.size < kSmallEntrySize && id < kReservedEntryIds)
            break;
        const uint32_t regionId = FIRMWARE_PARTITION_REGION_ID + (f.partitionsByEntryId ? id : i);
        // Entry 0 only resizes the firmware partition, which starts at the flash base.
        if (i > 0 && !partitionIdUsable(f, id, regionId)) {
            halLog(
                f, handle, fn, ZELKOR_LOG_WARN,
                regionId <= 0xFF
                    ? "Flash table entry %u (id %u) would take region id 0x%X of another buffer; skipped"
                    : "Flash table entry %u (id %u) would take region id 0x%X, which no buffer id carries; "
                      "skipped",
                i, id, regionId);
            continue;
        }
        const bool inside =
            i == 0 ? e.size <= f.flashBytes : e.offset < f.flashBytes && e.size <= f.flashBytes - e.offset;
        if (!inside) {
            halLog(f, handle, fn, ZELKOR_LOG_WARN,
                   "Flash table entry %u (id %u, offset 0x%08x, size 0x%08x) lies outside the flash; skipped",
                   i, id, e.offset, e.size);
            continue;
        }
        if (i == 0) {
            for (ZELKOR_REGION_LIST* node = handle->regions; node != nullptr; node = node->next) {
                if (node->region.regionId == FIRMWARE_PARTITION_REGION_ID) {
                    node->region.size = e.size;
                    node->region.flashType = ZELKOR_FLASH_TYPE_UNKNOWN;
                    break;
                }
            }
            continue;
        }
        const uint32_t index = f.partitionsByEntryId ? id : i;
        const ZELKOR_REGION row{ZELKOR_REGION_PARTITION,
                                regionId,
                                index,
                                f.flashBase + e.offset,
                                e.size,
                                0,
                                ZELKOR_FLASH_TYPE_UNKNOWN,
                                f.partitionsByEntryId ? 0 : id};
        if (addNodeToRegionList(&handle->regions, &row) != 0) {
            HAL_LOG_TEXT(f, handle, fn, ZELKOR_LOG_ERROR, f.updatingRegionsFailed);
            break;
        }
    }
}

// A header that is not this family's, read over the debug port of a family that lets a few commands on
// anyway: 0 for those commands, else 32.
ZELKOR_STATUS foreignHeaderOnDebugPort(const HalFamily& f, ZELKOR_INSTANCE* handle) {
    const char* fn = "halPopulateRegionList";
    std::fputs("\n\nWARN: Invalid FW Header present in Flash\n", stdout);
    halLog(f, handle, fn, ZELKOR_LOG_WARN, "Invalid FW Header present in Flash");
    // Without an option block nothing shows the command is one of those let on.
    const ZELKOR_SHARED_VARS* options = handle->options;
    const bool letOn =
        options != nullptr &&
        ((options->commandIndex == 0 && options->subCommandIndex < 2) ||
         (options->commandIndex == 3 && (options->subCommandIndex == 3 || options->subCommandIndex == 4)));
    if (letOn) {
        std::fflush(stdout);
        return 0;
    }
    std::fputs("INFO: Only reg get/set commands are supported in this mode\n"
               "INFO: Please refer user guide for details.\n",
               stdout);
    std::fflush(stdout);
    return HAL_FOREIGN_FIRMWARE;
}

// Reads the firmware header and, when it is this family's, the flash table: 0 (also for a blank flash),
// 26 when either cannot be read, 32 for a header of another kind.
ZELKOR_STATUS readDynamicRegions(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi) {
    const char* fn = "halPopulateRegionList";
    ZELKOR_INSTANCE* handle = hi->handle;
    ZELKOR_REGION row = f.staticRows[f.headerRow];
    constexpr uint32_t kHeaderBytes = sizeof(ZELKOR_FW_HEADER);
    std::array<uint8_t, kHeaderBytes> headerBytes{};
    HAL_LOG_IF(f, handle, fn, ZELKOR_LOG_INFO, f.headerRead, kHeaderBytes, 0);
    if (halRead(hi, &row, 0, headerBytes.data(), kHeaderBytes) != 0) {
        HAL_LOG_IF(f, handle, fn, ZELKOR_LOG_ERROR, f.headerReadFailed, kHeaderBytes, 0);
        HAL_LOG_TEXT(f, handle, fn, ZELKOR_LOG_ERROR, f.dynamicRegionsFailed);
        return HAL_NO_DYNAMIC_REGIONS;
    }
    const ZELKOR_FW_HEADER header = fwHeaderFromBytes(headerBytes.data(), headerBytes.size());
    HAL_LOG_TEXT(f, handle, fn, ZELKOR_LOG_INFO, f.headerValidating);
    const bool family = fwSignatureIs(header, f.signature);
    const bool blank = fwHeaderBlank(header);
    if (blank) {
        halLog(f, handle, fn, ZELKOR_LOG_INFO, "%s", f.flashBlank);
        return 0;
    }
    if (!family) {
        if (f.lenientHeaderOnDebugPort && handle->interface == kInterfaceDebugPort)
            return foreignHeaderOnDebugPort(f, handle);
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", f.headerForeign);
        return HAL_FOREIGN_FIRMWARE;
    }

    const uint32_t tableOffset = header.flashTableOffset;
    const uint32_t tableBytes = flashTableBytes(f);
    std::array<uint8_t, sizeof(FLASH_TABLE)> table{};
    HAL_LOG_IF(f, handle, fn, ZELKOR_LOG_INFO, f.tableRead, tableBytes, tableOffset);
    // A table offset from the device that would put the table past the flash is not read at all.
    const bool inside = tableOffset <= f.flashBytes - tableBytes;
    if (!inside || halRead(hi, &row, tableOffset, table.data(), tableBytes) != 0) {
        HAL_LOG_IF(f, handle, fn, ZELKOR_LOG_ERROR, f.tableReadFailed, tableBytes, tableOffset);
        HAL_LOG_TEXT(f, handle, fn, ZELKOR_LOG_ERROR, f.dynamicRegionsFailed);
        return HAL_NO_DYNAMIC_REGIONS;
    }
    HAL_LOG_TEXT(f, handle, fn, ZELKOR_LOG_INFO, f.updatingRegions);
    walkFlashTable(f, hi, flashTableFromBytes(table.data(), tableBytes));
    return 0;
}

// Builds the handle's region list: the static rows, what the flash says, the designated rows.
ZELKOR_STATUS halPopulateRegionList(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi) {
    const char* fn = "halPopulateRegionList";
    ZELKOR_INSTANCE* handle = hi->handle;
    freeHalRegionList(&handle->regions);
    for (const ZELKOR_REGION& row : f.staticRows) {
        if (addNodeToRegionList(&handle->regions, &row) != 0) {
            HAL_LOG_TEXT(f, handle, fn, ZELKOR_LOG_ERROR, f.rowsFailed);
            return HAL_NO_MEMORY;
        }
    }
    if (f.progressAfterRows && handle->progress != nullptr)
        handle->progress(1, 0);
    if (!f.readsFlash)
        return 0;

    ZELKOR_STATUS status = 0;
    if (handle->interface != ZELKOR_INTERFACE_RAMDEBUG)
        status = readDynamicRegions(f, hi);
    if (handle->designatedRegions != 0) {
        for (const ZELKOR_REGION& row : f.designatedRows) {
            if (addNodeToRegionList(&handle->regions, &row) != 0) {
                HAL_LOG_TEXT(f, handle, fn, ZELKOR_LOG_ERROR, f.designatedFailed);
                return HAL_NO_MEMORY;
            }
        }
    }
    return status;
}

// ---- registers ----

// How a register access is logged: the announcing line before it, the failure line after a failure.
struct AccessLog {
    bool announce = true;
    bool failure = true;
};

ZELKOR_STATUS readRegister(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window, const char* fn,
                           uint32_t address, uint32_t* value, AccessLog log = {}) {
    if (log.announce)
        halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, kAccessRead, kRegisterBytes, address);
    const ZELKOR_STATUS status = halReadWord(hi, window, address, value);
    if (status != 0 && log.failure)
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, kAccessReadFailed, kRegisterBytes, address);
    return status;
}

ZELKOR_STATUS writeRegister(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window,
                            const char* fn, uint32_t address, uint32_t value, AccessLog log = {}) {
    if (log.announce)
        halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, kAccessWrite, kRegisterBytes, address);
    const ZELKOR_STATUS status = halWriteWord(hi, window, address, value);
    if (status != 0 && log.failure)
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, kAccessWriteFailed, kRegisterBytes, address);
    return status;
}

// The common start of the Ethernet and reset operations: the instance checks (5 null, 4 not held), the
// entry line and the memory window (17 without one).
ZELKOR_STATUS beginRegisterOperation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* fn,
                                     ZELKOR_REGION** window) {
    if (hi == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    halLogEntry(f, hi->handle, fn);
    if (f.announcesRegionLookup)
        halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Getting HAL region List");
    ZELKOR_REGION_LIST* node = nullptr;
    getHALRegion(hi, &node);
    if (node == nullptr) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "Unable to identify the region **** FAILED ****");
        return HAL_NO_MEMORY_WINDOW;
    }
    *window = &node->region;
    return 0;
}

// A TCP peer hangs up once it has taken the chip reset request: the request went out.
bool resetRequestWentOut(const HalFamily& f, ZELKOR_INSTANCE* handle, ZELKOR_STATUS status) {
    if (!f.chipResetTakesHangUp || status != HAL_CONNECTION_DROPPED || handle->interface != kInterfaceTcp)
        return false;
    halLog(f, handle, "zelkor_hal_resetExpander", ZELKOR_LOG_INFO,
           "Updating the return value after successfully sending the \"reset\" request to the Expander "
           "over Ethernet interface");
    return true;
}

ZELKOR_STATUS chipReset(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window) {
    const char* fn = "zelkor_hal_resetExpander";
    ZELKOR_INSTANCE* handle = hi->handle;
    const uint32_t first = f.chipResetTextsNameKey ? f.chipResetKey : kRegisterBytes;
    halLog(f, handle, fn, ZELKOR_LOG_INFO, f.chipResetAnnounce, first, f.chipResetRegister);
    const ZELKOR_STATUS status = halWriteWord(hi, window, f.chipResetRegister, f.chipResetKey);
    if (!f.resetWritesChecked || resetRequestWentOut(f, handle, status))
        return 0;
    if (status != 0)
        HAL_LOG_IF(f, handle, fn, ZELKOR_LOG_ERROR, f.chipResetFailed, first, f.chipResetRegister);
    return status;
}

// Over the debug port the processor is pointed at the flash before the watchdog fires, and the firmware's
// console is switched back afterwards. A family that checks its reset writes stops at the first failure;
// the other issues every write and stops only when the misc control word cannot be read.
ZELKOR_STATUS watchdogReset(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window) {
    const char* fn = "zelkor_hal_resetExpander";
    ZELKOR_INSTANCE* handle = hi->handle;
    const bool debugPort = handle->interface == kInterfaceDebugPort;
    const AccessLog log{.announce = true, .failure = f.resetWritesChecked};
    const auto write = [&](uint32_t address, uint32_t value) {
        const ZELKOR_STATUS status = writeRegister(f, hi, window, fn, address, value, log);
        return f.resetWritesChecked ? status : 0;
    };
    if (debugPort) {
        if (f.watchdogDelayDebugPortMs != 0)
            osal_sleepMs(f.watchdogDelayDebugPortMs);
        if (const ZELKOR_STATUS status = write(f.armControl + ARM_BOOT_ADDRESS_OFFSET, f.flashBase);
            status != 0) {
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Failed to change BOOT address ");
            return status;
        }
    }
    const uint32_t watchdog = debugPort ? f.watchdogRegisterDebugPort : f.watchdogRegister;
    if (const ZELKOR_STATUS status = write(watchdog, f.watchdogWord); status != 0 || !debugPort)
        return status;
    uint32_t misc = 0;
    if (const ZELKOR_STATUS status = readRegister(f, hi, window, fn, f.miscControl, &misc, log); status != 0)
        return status;
    return write(f.miscControl, (misc & ~SMART_CLI_BIT) | f.miscSetAfterWatchdog);
}

} // namespace

// ---- common routines ----

void halLog(const HalFamily& family, const ZELKOR_INSTANCE* handle, const char* function, uint32_t level,
            const char* format, ...) {
    if (handle == nullptr || handle->log == nullptr)
        return;
    char text[512] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    handle->log(family.module, function, family.logType, level, 1, "%s", text);
}

void halLogEntry(const HalFamily& family, const ZELKOR_INSTANCE* handle, const char* function) {
    if (handle != nullptr && handle->log != nullptr)
        handle->log(family.module, function, family.logType | ZELKOR_LOG_ENTRY, ZELKOR_LOG_INFO, 1, nullptr);
}

ZELKOR_HAL_INSTANCE* getHALInstance(ZELKOR_HAL_INSTANCE* hi) {
    if (hi == nullptr || gHALInstanceList == nullptr)
        return nullptr;
    void* data = nullptr;
    ll_moveFirst(gHALInstanceList);
    while (ll_get(gHALInstanceList, &data, nullptr) == LL_SUCCESS) {
        if (data == hi)
            return hi;
        ll_moveNext(gHALInstanceList);
    }
    return nullptr;
}

ZELKOR_STATUS getHALRegion(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION_LIST** out) {
    ZELKOR_REGION_LIST* node = hi != nullptr && hi->handle != nullptr ? hi->handle->regions : nullptr;
    if (node == nullptr)
        return 1;
    for (; node != nullptr; node = node->next) {
        if (node->region.kind == ZELKOR_REGION_MEMORY) {
            *out = node;
            break;
        }
    }
    return 0;
}

ZELKOR_STATUS addNodeToRegionList(ZELKOR_REGION_LIST** head, const ZELKOR_REGION* row) {
    if (row == nullptr || head == nullptr)
        return HAL_INVALID_ARGUMENT;
    // calloc: the list goes to callers that free it node by node with free().
    auto* node = static_cast<ZELKOR_REGION_LIST*>(std::calloc(1, sizeof(ZELKOR_REGION_LIST)));
    if (node == nullptr)
        return HAL_NO_MEMORY;
    node->region = *row;
    ZELKOR_REGION_LIST** tail = head;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = node;
    return 0;
}

void freeHalRegionList(ZELKOR_REGION_LIST** head) {
    ZELKOR_REGION_LIST* node = *head;
    while (node != nullptr) {
        ZELKOR_REGION_LIST* next = node->next;
        std::free(node);
        node = next;
    }
    *head = nullptr;
}

ZELKOR_STATUS readFileToBuffer(ZELKOR_HAL_INSTANCE* hi, FILE* file) {
    if (hi == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (file == nullptr)
        return HAL_INVALID_ARGUMENT;
    // Always read: a FILE pointer is no identity, since the C library hands the address of a closed
    // stream to the next one it opens, and a cached image would then stand for another file.
    if (std::fseek(file, 0, SEEK_END) != 0)
        return HAL_FAILURE;
    const long end = std::ftell(file);
    if (end < 0 || static_cast<unsigned long>(end) > 0xFFFFFFFCul)
        return HAL_FAILURE;
    const auto size = static_cast<uint32_t>(end);
    const uint32_t rounded = (size + 3u) & ~3u;
    std::rewind(file);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[rounded == 0 ? 1 : rounded]());
    if (!buffer)
        return HAL_NO_MEMORY;
    // A file that cannot be read whole is not taken for an image with zeros at its end.
    if (std::fread(buffer.get(), 1, size, file) != size)
        return HAL_FAILURE;
    hi->loadedFile = file;
    hi->image = std::move(buffer);
    hi->imageSize = size;
    return 0;
}

ZELKOR_STATUS initPalxRegionList(ZELKOR_REGION_LIST** head) {
    freeHalRegionList(head);
    for (const ZELKOR_REGION& row : gPalxRegions) {
        if (addNodeToRegionList(head, &row) != 0) {
            freeHalRegionList(head);
            return HAL_NO_MEMORY;
        }
    }
    return 0;
}

ZELKOR_STATUS halRead(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region, uint32_t offset, uint8_t* buffer,
                      uint32_t size) {
    ZELKOR_INSTANCE* handle = hi->handle;
    if (handle->ialVectors.zelkor_ial_uploadRegion == nullptr)
        return kNotViaThisInterface;
    return handle->ialVectors.zelkor_ial_uploadRegion(handle->ialInstance, region, offset, size, nullptr,
                                                      buffer);
}

ZELKOR_STATUS halWrite(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region, uint32_t offset, uint8_t* buffer,
                       uint32_t size) {
    ZELKOR_INSTANCE* handle = hi->handle;
    if (handle->ialVectors.zelkor_ial_downloadRegion == nullptr)
        return kNotViaThisInterface;
    return handle->ialVectors.zelkor_ial_downloadRegion(handle->ialInstance, region, offset, size, nullptr,
                                                        buffer);
}

ZELKOR_STATUS halReadWord(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window, uint32_t address, uint32_t* value) {
    std::array<uint8_t, kRegisterBytes> bytes{};
    const ZELKOR_STATUS status = halRead(hi, window, address, bytes.data(), kRegisterBytes);
    if (status == 0)
        std::memcpy(value, bytes.data(), kRegisterBytes);
    return status;
}

ZELKOR_STATUS halWriteWord(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window, uint32_t address, uint32_t value) {
    std::array<uint8_t, kRegisterBytes> bytes{};
    std::memcpy(bytes.data(), &value, kRegisterBytes);
    return halWrite(hi, window, address, bytes.data(), kRegisterBytes);
}

namespace {

// One write of the run word to an ARM run control register.
ZELKOR_STATUS setArmRun(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window, uint32_t control, bool run) {
    return halWriteWord(hi, window, control, run ? 1 : 0);
}

} // namespace

ZELKOR_STATUS startArm(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window) {
    return setArmRun(hi, window, ARM_CONTROL_OSTREL, true);
}

ZELKOR_STATUS stopArm(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window) {
    return setArmRun(hi, window, ARM_CONTROL_OSTREL, false);
}

ZELKOR_STATUS startArmQuenza(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window) {
    return setArmRun(hi, window, ARM_CONTROL_QUENZA, true);
}

ZELKOR_STATUS stopArmQuenza(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window) {
    return setArmRun(hi, window, ARM_CONTROL_QUENZA, false);
}

HalGeneric halLookup(std::span<const HalOperation> table, const char* name) {
    if (name == nullptr)
        return nullptr;
    for (const HalOperation& operation : table)
        if (std::strcmp(operation.name, name) == 0)
            return operation.function;
    return nullptr;
}

// ---- the operations ----

ZELKOR_STATUS halVersion(uint8_t* major, uint8_t* minor) {
    if (major == nullptr || minor == nullptr)
        return HAL_INVALID_ARGUMENT;
    *major = 1;
    *minor = 0;
    return 0;
}

ZELKOR_STATUS halOpen(const HalFamily& f, ZELKOR_INSTANCE* handle, ZELKOR_HAL_INSTANCE** out,
                      uint32_t chipType) {
    const char* fn = "zelkor_hal_open";
    if (out != nullptr)
        *out = nullptr;
    if (handle == nullptr || out == nullptr)
        return HAL_INVALID_ARGUMENT;
    halLogEntry(f, handle, fn);
    if (gHALInstanceList == nullptr) {
        gHALInstanceList = ll_new();
        if (gHALInstanceList == nullptr) {
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Unable to Create HAL instance **** FAILED ****");
            return HAL_NO_MEMORY;
        }
        gHBFlags |= HAL_FLAG_LIST_CREATED;
    }
    if ((gHBFlags & HAL_FLAG_LIST_CREATED) == 0) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Unable to Initialize HAL Library **** FAILED ****");
        return HAL_NOT_INITIALISED;
    }
    std::unique_ptr<ZELKOR_HAL_INSTANCE> hi(new (std::nothrow) ZELKOR_HAL_INSTANCE{});
    if (!hi) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, f.allocationFailed,
               static_cast<int>(sizeof(ZELKOR_HAL_INSTANCE)));
        return HAL_NO_MEMORY;
    }
    hi->handle = handle;
    hi->family = &f;
    hi->chipType = chipType;
    halLog(f, handle, fn, ZELKOR_LOG_INFO, "Populating the region List");

    // Without an interface (an offline expander) there is nothing to read the regions from.
    ZELKOR_STATUS status = 0;
    if (!f.readsFlash || handle->ialEntry != nullptr)
        status = halPopulateRegionList(f, hi.get());
    if (!keepsInstance(status)) {
        freeHalRegionList(&handle->regions);
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", f.populateFailed);
        return status;
    }
    if (ll_add(gHALInstanceList, hi.get(), sizeof(ZELKOR_HAL_INSTANCE), LL_AT_TAIL) != LL_SUCCESS) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Unable to add the HAL instance to List **** FAILED ****");
        return HAL_LIST_REFUSED;
    }
    *out = hi.release();
    return status;
}

ZELKOR_STATUS halClose(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi) {
    const char* fn = "zelkor_hal_close";
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    halLogEntry(f, hi->handle, fn);
    // getHALInstance left the cursor on hi's node.
    if (ll_remove(gHALInstanceList, LL_AT_CURSOR) != LL_SUCCESS) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", f.removeFailed);
        return HAL_FAILURE;
    }
    delete hi;
    return 0;
}

ZELKOR_STATUS halGetRegions(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION_LIST** out) {
    const char* fn = "zelkor_hal_getRegions";
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    if (out == nullptr)
        return HAL_INVALID_ARGUMENT;
    ZELKOR_INSTANCE* handle = hi->handle;
    halLogEntry(f, handle, fn);
    *out = nullptr;
    if (handle->regions == nullptr) {
        halLog(f, handle, fn, ZELKOR_LOG_INFO, "Region List does not exist");
        return 0;
    }
    ZELKOR_REGION_LIST** tail = out;
    for (const ZELKOR_REGION_LIST* node = handle->regions; node != nullptr; node = node->next) {
        auto* copy = static_cast<ZELKOR_REGION_LIST*>(std::calloc(1, sizeof(ZELKOR_REGION_LIST)));
        if (copy == nullptr) {
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, f.copyFailed,
                   static_cast<int>(sizeof(ZELKOR_REGION_LIST)));
            return HAL_NO_MEMORY;
        }
        copy->region = node->region;
        *tail = copy;
        tail = &copy->next;
    }
    HAL_LOG_TEXT(f, handle, fn, ZELKOR_LOG_INFO, f.copyDone);
    return 0;
}

ZELKOR_STATUS halSetMorv(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, uint8_t* value, uint8_t selector) {
    const char* fn = "zelkor_hal_setMorv";
    ZELKOR_REGION* window = nullptr;
    if (const ZELKOR_STATUS status = beginRegisterOperation(f, hi, fn, &window); status != 0)
        return status;
    ZELKOR_INSTANCE* handle = hi->handle;
    if (f.ethernetPageId == 0)
        return HAL_UNSUPPORTED_EXPANDER;
    // The size code names the field; a selector beyond the four fields would name none and ask the
    // interface for a write of up to 64 KiB.
    if (value == nullptr || selector > ETHERNET_FIELD_LAST) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Invalid Ethernet setting (field %u) **** FAILED ****",
               selector);
        return HAL_INVALID_ARGUMENT;
    }
    halLog(f, handle, fn, ZELKOR_LOG_INFO, "Writing data in Ethernet Configuration Page");
    handle->fieldSelector = selector;
    const uint32_t size = (static_cast<uint32_t>(selector) << 8) | ETHERNET_SIZE_CODE;
    // The size code is a request code, not a length, but a module that takes it for a length reads that
    // many bytes: it gets a zero-filled buffer that long, the caller's four bytes first.
    std::array<uint8_t, ((ETHERNET_FIELD_LAST << 8) | ETHERNET_SIZE_CODE) + 1> data{};
    std::memcpy(data.data(), value, ETHERNET_VALUE_SIZE);
    const ZELKOR_STATUS status = halWrite(hi, window, f.ethernetPageId, data.data(), size);
    if (status != 0)
        halLog(f, handle, fn, ZELKOR_LOG_ERROR,
               "Writing data in Ethernet Configuration Page **** FAILED ****");
    return status;
}

ZELKOR_STATUS halSetSmartCli(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi) {
    const char* fn = "zelkor_hal_setSmartCli";
    ZELKOR_REGION* window = nullptr;
    if (const ZELKOR_STATUS status = beginRegisterOperation(f, hi, fn, &window); status != 0)
        return status;
    uint32_t misc = 0;
    ZELKOR_STATUS status = 0;
    if (f.smartCliMergesBit) {
        // The write is announced once, ahead of the read it depends on; failures are only returned.
        constexpr AccessLog kQuiet{.announce = false, .failure = false};
        halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, kAccessWrite, kRegisterBytes, f.miscControl);
        status = readRegister(f, hi, window, fn, f.miscControl, &misc, kQuiet);
        if (status != 0)
            return status;
        return writeRegister(f, hi, window, fn, f.miscControl, misc | SMART_CLI_BIT, kQuiet);
    }
    status = readRegister(f, hi, window, fn, f.miscControl, &misc);
    if (status != 0)
        return status;
    return writeRegister(f, hi, window, fn, f.miscControl, SMART_CLI_BIT);
}

ZELKOR_STATUS halResetExpander(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, uint8_t kind) {
    const char* fn = "zelkor_hal_resetExpander";
    ZELKOR_REGION* window = nullptr;
    if (const ZELKOR_STATUS status = beginRegisterOperation(f, hi, fn, &window); status != 0)
        return status;
    if (kind == kWatchdogKind && f.watchdogRegister != 0)
        return watchdogReset(f, hi, window);
    return chipReset(f, hi, window);
}

ZELKOR_STATUS halFixedAnswer(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* operation,
                             ZELKOR_STATUS answer) {
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    halLogEntry(f, hi->handle, operation);
    if (answer == HAL_NOT_APPLICABLE)
        halLog(f, hi->handle, operation, ZELKOR_LOG_ERROR,
               "Operation not supported by this module **** FAILED ****");
    return answer;
}
