// Region download, upload and erase. The request goes to the interface module first, on the region that
// holds the address; an interface that cannot program the flash itself answers 27 or 28 (the Palx boot record
// 35), and the module does that work itself through the flash engine or the SEEPROM programmer.
#include "hal/flash.h"
#include "hal/zelkorHalCommon.h"
#include "hal/zelkorHalRegionOps.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr uint32_t kDesignatedIdFirst = 0xE0;
constexpr uint32_t kPalxRefusedInBandFirst = 4; // regions 4 and 5 take no download or erase in-band
constexpr uint32_t kPalxRefusedInBandLast = 5;
constexpr uint32_t kFlashEnableBit = 0x10000;
constexpr uint32_t kInterfaceCode3 = ZELKOR_INTERFACE_NONE;

enum class InterfaceClass { Direct, DebugPort, Other };

// In-band, firmware command line and TCP reach the flash through the firmware; the debug port through a
// bootstrap; nothing else reaches it.
InterfaceClass classOf(const ZELKOR_INSTANCE* handle) {
    switch (handle->interface) {
    case ZELKOR_INTERFACE_SAS:
    case ZELKOR_INTERFACE_CLI:
    case ZELKOR_INTERFACE_TCP:
        return InterfaceClass::Direct;
    case ZELKOR_INTERFACE_COM:
    case kInterfaceCode3:
        return InterfaceClass::DebugPort;
    default:
        return InterfaceClass::Other;
    }
}

// Rows an address can resolve to besides the memory window and the whole flash. Ostrel and Quenza leave out
// the designated rows (ids from 0xE0), whose base 0 and size would take in every low address.
bool resolvable(const HalFamily& f, const ZELKOR_REGION& r) {
    if (r.kind < ZELKOR_REGION_PARTITION)
        return false;
    return f.regionOps->palxSteps || r.kind == ZELKOR_REGION_PARTITION || r.regionId < kDesignatedIdFirst;
}

// Rows a transfer must stay inside: everything but the designated rows, which the interface serves.
bool bounded(const HalFamily& f, const ZELKOR_REGION& r) {
    return f.regionOps->palxSteps || r.kind <= ZELKOR_REGION_PARTITION || r.regionId < kDesignatedIdFirst;
}

bool holds(const ZELKOR_REGION& r, uint64_t address) {
    return address >= r.base && address < uint64_t{r.base} + r.size;
}

struct Target {
    ZELKOR_REGION* region = nullptr;
    uint64_t offset = 0;
};

// The region a memory-window or whole-flash address lies in: the first other row that holds it, else the
// whole flash, else the memory window. Rows of other kinds are their own target.
Target resolve(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region, uint32_t offset) {
    if (region->kind > ZELKOR_REGION_FLASH)
        return {region, offset};
    const uint64_t address =
        region->kind == ZELKOR_REGION_MEMORY ? uint64_t{offset} : uint64_t{offset} + f.flashBase;
    ZELKOR_REGION* whole = nullptr;
    ZELKOR_REGION* window = nullptr;
    for (ZELKOR_REGION_LIST* node = hi->handle->regions; node != nullptr; node = node->next) {
        ZELKOR_REGION& r = node->region;
        if (r.kind == ZELKOR_REGION_FLASH && whole == nullptr)
            whole = &r;
        else if (r.kind == ZELKOR_REGION_MEMORY && window == nullptr)
            window = &r;
        else if (resolvable(f, r) && holds(r, address))
            return {&r, address - r.base};
    }
    if (whole != nullptr && holds(*whole, address))
        return {whole, address - whole->base};
    // A whole-flash address beyond the flash is no memory address: it stays a whole-flash address, which
    // the bound check refuses.
    if (region->kind == ZELKOR_REGION_FLASH)
        return {whole != nullptr ? whole : region, address - f.flashBase};
    return {window != nullptr ? window : region, address};
}

// offset + length inside the row, without wrapping.
bool inside(const ZELKOR_REGION& r, uint64_t offset, uint32_t length) {
    return offset + length <= r.size;
}

// Bytes the file holds, or nothing when it cannot be measured. The position is left at the start.
std::optional<uint64_t> fileBytes(FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0)
        return std::nullopt;
    const long end = std::ftell(file);
    std::rewind(file);
    if (end < 0)
        return std::nullopt;
    return static_cast<uint64_t>(end);
}

ZELKOR_STATUS ialDownload(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* r, uint32_t offset, uint32_t length,
                          FILE* file, uint8_t* buffer) {
    ZELKOR_INSTANCE* h = hi->handle;
    if (h->ialVectors.zelkor_ial_downloadRegion == nullptr)
        return HAL_NOT_VIA_INTERFACE;
    return h->ialVectors.zelkor_ial_downloadRegion(h->ialInstance, r, offset, length, file, buffer);
}

ZELKOR_STATUS ialUpload(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* r, uint32_t offset, uint32_t length,
                        FILE* file, uint8_t* buffer) {
    ZELKOR_INSTANCE* h = hi->handle;
    if (h->ialVectors.zelkor_ial_uploadRegion == nullptr)
        return HAL_NOT_VIA_INTERFACE;
    return h->ialVectors.zelkor_ial_uploadRegion(h->ialInstance, r, offset, length, file, buffer);
}

ZELKOR_STATUS ialErase(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* r) {
    ZELKOR_INSTANCE* h = hi->handle;
    if (h->ialVectors.zelkor_ial_eraseRegion == nullptr)
        return HAL_NOT_VIA_INTERFACE;
    return h->ialVectors.zelkor_ial_eraseRegion(h->ialInstance, r);
}

ZELKOR_REGION* memoryWindow(ZELKOR_HAL_INSTANCE* hi) {
    ZELKOR_REGION_LIST* node = nullptr;
    getHALRegion(hi, &node);
    return node != nullptr ? &node->region : nullptr;
}

bool isPalxRefusedInBand(const HalFamily& f, const ZELKOR_HAL_INSTANCE* hi, const ZELKOR_REGION& r) {
    return f.regionOps->palxSteps && hi->handle->interface == ZELKOR_INTERFACE_SAS &&
           r.kind == ZELKOR_REGION_PARTITION && r.index >= kPalxRefusedInBandFirst &&
           r.index <= kPalxRefusedInBandLast;
}

// Bytes a whole-flash read may take of the part: all of it, or (Quenza) half of a part of 32 MiB or more.
uint32_t flashReadLimit(const HalRegionData& d, uint32_t partBytes) {
    constexpr uint32_t kHalvedFrom = 0x2000000;
    return d.halvesLargeFlashReads && partBytes >= kHalvedFrom ? partBytes / 2 : partBytes;
}

} // namespace

ZELKOR_STATUS halDownloadRegion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                                uint32_t offset, uint32_t length, FILE* file, uint8_t* buffer) {
    const char* fn = "zelkor_hal_downloadRegion";
    const HalRegionData& d = *f.regionOps;
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    ZELKOR_INSTANCE* handle = hi->handle;
    halLogEntry(f, handle, fn);
    if (region == nullptr || length == 0 || (file == nullptr) == (buffer == nullptr)) {
        if (d.invalidArguments != nullptr)
            halLog(f, handle, fn, ZELKOR_LOG_INFO, "%s", d.invalidArguments);
        return HAL_INVALID_ARGUMENT;
    }
    // Exactly length bytes go, on every interface: a file that holds fewer is refused.
    if (file != nullptr) {
        const auto bytes = fileBytes(file);
        if (!bytes || *bytes < length) {
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "File holds fewer than %u bytes **** FAILED ****",
                   length);
            return HAL_INVALID_ARGUMENT;
        }
    }
    halLog(f, handle, fn, ZELKOR_LOG_INFO, "%s", d.determining);
    const InterfaceClass cls = classOf(handle);
    const Target target = resolve(f, hi, region, offset);

    if (d.palxSteps && isPalxRefusedInBand(f, hi, *target.region)) {
        std::printf("\nERROR: Cannot download the image on region %d. Firmware does not support it.",
                    static_cast<int>(target.region->index));
        std::fflush(stdout);
        return HAL_NOT_VIA_INTERFACE;
    }
    if (!d.palxSteps) {
        if (cls == InterfaceClass::Other)
            return HAL_FAILURE;
        if (cls == InterfaceClass::Direct && region->kind == ZELKOR_REGION_FLASH) {
            if (d.wholeFlashRefused != nullptr)
                halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", d.wholeFlashRefused);
            return HAL_UNSUPPORTED_EXPANDER;
        }
    }
    // The debug port of Ostrel and Quenza, and code 3 of Palx, write the caller's own region and offset.
    const bool ownRegion =
        d.palxSteps ? handle->interface == kInterfaceCode3 : cls == InterfaceClass::DebugPort;
    ZELKOR_REGION* to = ownRegion ? region : target.region;
    const uint64_t at = ownRegion ? uint64_t{offset} : target.offset;
    if (bounded(f, *to) && !inside(*to, at, length)) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", d.boundFailed);
        return d.boundStatus;
    }
    halLog(f, handle, fn, ZELKOR_LOG_INFO, "Writing %d bytes at 0x%08x offset", static_cast<int>(length),
           static_cast<uint32_t>(at));
    const ZELKOR_STATUS status = ialDownload(hi, to, static_cast<uint32_t>(at), length, file, buffer);
    if (!d.palxSteps && cls == InterfaceClass::DebugPort && d.flashFlag != nullptr)
        *d.flashFlag = 1;
    const bool flashRequest = status == HAL_FLASH_SELF_PROGRAM || status == HAL_FLASH_SELF_PROGRAM_STOP;
    if (flashRequest && d.requestWarning != nullptr)
        halLog(f, handle, fn, ZELKOR_LOG_WARN, d.requestWarning, static_cast<int>(length), offset);
    // The whole-chip erase goes with a whole-flash row on the debug port (Palx: on code 3 too).
    const bool wholeChipInterface = d.palxSteps ? handle->interface == ZELKOR_INTERFACE_COM ||
                                                      handle->interface == kInterfaceCode3
                                                : cls == InterfaceClass::DebugPort;
    const HalFlashRequest request{
        .caller = region,
        .offset = offset,
        .length = length,
        .file = file,
        .buffer = buffer,
        .sent = to,
        .sentOffset = static_cast<uint32_t>(at),
        .target = target.region,
        .wholeChip = static_cast<uint8_t>(wholeChipInterface && region->kind == ZELKOR_REGION_FLASH),
    };
    if (d.palxSteps && (flashRequest || status == HAL_BOOT_RECORD_I2C))
        return halPalxProgramRequest(f, hi, request, status);
    if (!d.palxSteps && flashRequest)
        return halProgramRequest(f, hi, request, status);
    return status;
}

ZELKOR_STATUS halUploadRegion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                              uint32_t offset, uint32_t length, FILE* file, uint8_t* buffer) {
    const char* fn = "zelkor_hal_uploadRegion";
    const HalRegionData& d = *f.regionOps;
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    ZELKOR_INSTANCE* handle = hi->handle;
    halLogEntry(f, handle, fn);
    if (region == nullptr)
        return HAL_INVALID_ARGUMENT;
    halLog(f, handle, fn, ZELKOR_LOG_INFO, "Reading %d bytes at 0x%08x offset", static_cast<int>(length),
           offset);
    if (d.palxSteps) {
        const ZELKOR_STATUS status = ialUpload(hi, region, offset, length, file, buffer);
        if (status == HAL_BOOT_RECORD_I2C)
            return halBootRecordUpload(f, hi, offset, length, file, buffer);
        return status;
    }

    const InterfaceClass cls = classOf(handle);
    if (cls == InterfaceClass::Direct && region->kind == ZELKOR_REGION_FLASH) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", d.uploadWholeFlashRefused);
        return HAL_UNSUPPORTED_EXPANDER;
    }
    if (cls == InterfaceClass::DebugPort && region->kind == ZELKOR_REGION_FLASH && d.flashFlag != nullptr &&
        *d.flashFlag == 0) {
        // The flash must answer reads through the window; its size, which would bound the read, comes from
        // the flash identification.
        if (hal_flashEnable(hi) != 0) {
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Enabling the flash **** FAILED ****");
        } else {
            halLog(f, handle, fn, ZELKOR_LOG_INFO, "Identifying the flash type");
            uint32_t type = 0;
            if (flash_retriveFlashType(handle, f.flashBase, &type) != 0) {
                halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Unknown flash type **** FAILED ****");
            } else {
                length = std::min(length, flashReadLimit(d, flash_retrieveFlashSize()));
                *d.flashFlag = 1;
            }
        }
    }
    ZELKOR_REGION* window = handle->interface == kInterfaceCode3 ? memoryWindow(hi) : nullptr;
    if (window != nullptr) {
        halLog(f, handle, fn, ZELKOR_LOG_INFO, "Stopping the ARM processor");
        if (f.armStop(hi, window) != 0) {
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Stopping the ARM processor **** FAILED ****");
            std::printf("Failed to stop the ARM");
            std::fflush(stdout);
        }
    }
    ZELKOR_STATUS status = ialUpload(hi, region, offset, length, file, buffer);
    if (status != 0 && d.uploadFailed != nullptr)
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, d.uploadFailed, static_cast<int>(length), offset);
    if (window != nullptr) {
        const ZELKOR_STATUS started = f.armStart(hi, window);
        if (started != 0) {
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Starting the ARM processor **** FAILED ****");
            std::printf("Failed to start the ARM");
            std::fflush(stdout);
            if (status == 0)
                status = started;
        }
    }
    return status;
}

ZELKOR_STATUS halEraseRegion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region) {
    const char* fn = "zelkor_hal_eraseRegion";
    const HalRegionData& d = *f.regionOps;
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    ZELKOR_INSTANCE* handle = hi->handle;
    halLogEntry(f, handle, fn);
    if (region == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (isPalxRefusedInBand(f, hi, *region)) {
        std::printf("\nERROR: Cannot Erase region %d. Firmware does not support it.",
                    static_cast<int>(region->index));
        std::fflush(stdout);
        return HAL_NOT_VIA_INTERFACE;
    }
    halLog(f, handle, fn, ZELKOR_LOG_INFO, d.eraseAnnounce, region->index);
    const ZELKOR_STATUS status = ialErase(hi, region);
    if (status != HAL_FLASH_SELF_PROGRAM && status != HAL_FLASH_SELF_PROGRAM_STOP)
        return status;
    if (d.eraseRequestWarning != nullptr)
        halLog(f, handle, fn, ZELKOR_LOG_WARN, d.eraseRequestWarning, region->index);
    return halEraseRequest(f, hi, region, status);
}

ZELKOR_STATUS halDownloadRamdebug(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* ttyPath,
                                  uint32_t baudChange, FILE* image, uint8_t postValidate) {
    const char* fn = "zelkor_hal_downloadRamdebug";
    if (hi == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (getHALInstance(hi) == nullptr || hi->handle == nullptr)
        return HAL_INVALID_HANDLE;
    ZELKOR_INSTANCE* handle = hi->handle;
    halLogEntry(f, handle, fn);
    if (handle->ialVectors.zelkor_ial_downloadRamdebug == nullptr)
        return HAL_INVALID_HANDLE;
    const ZELKOR_STATUS status = handle->ialVectors.zelkor_ial_downloadRamdebug(
        handle->ialInstance, ttyPath, baudChange, image, postValidate);
    if (status != 0)
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "zelkor_ial_downloadRamdebug **** FAILED ****");
    return status;
}

ZELKOR_STATUS hal_flashEnable(ZELKOR_HAL_INSTANCE* hi) {
    const HalFamily& f = *hi->family;
    const HalRegionData& d = *f.regionOps;
    if (d.flashControl == 0)
        return HAL_FAILURE;
    // Every access goes through the family's own memory-window row.
    ZELKOR_REGION window = f.staticRows[0];
    uint32_t value = 0;
    if (const ZELKOR_STATUS s = halReadWord(hi, &window, d.flashControl, &value))
        return s;
    if (const ZELKOR_STATUS s = halWriteWord(hi, &window, d.flashControl, value | d.flashEnableBits);
        s != 0 && d.quenzaEnable)
        return s;
    if (const ZELKOR_STATUS s = halReadWord(hi, &window, d.flashControl, &value))
        return s;
    if (const ZELKOR_STATUS s = halWriteWord(hi, &window, d.flashControl, value | kFlashEnableBit))
        return s;
    if (const ZELKOR_STATUS s = halReadWord(hi, &window, d.flashControl, &value))
        return s;
    return (value & kFlashEnableBit) != 0 ? 0 : HAL_FAILURE;
}
