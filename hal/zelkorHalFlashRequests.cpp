// The flash and SEEPROM work a hardware module does itself when the interface cannot: the interface answers
// a download or erase with 27 (program or erase here, the ARM running), 28 (the same with the ARM stopped) or,
// for the Palx boot record, 35 (through the I2C programmer). Exactly the caller's length bytes go, inside the
// caller's row, and an ARM stopped here is started again on every way out.
#include "hal/flash.h"
#include "hal/iic.h"
#include "hal/zelkorHalCommon.h"
#include "hal/zelkorHalRegionOps.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

namespace {

constexpr uint32_t kOstrelEraseBlock = 0x10000;
constexpr uint32_t kI2cBase = 0x40300000;
constexpr uint32_t kI2cClock = 220;
constexpr ZELKOR_STATUS kNoMemory = 6;

using Bytes = std::vector<uint8_t>;

// The caller's length bytes, from the buffer or from the start of the file; nothing when the file holds
// fewer (*status 5) or the memory is not there (*status 6).
std::optional<Bytes> takeData(const HalFlashRequest& r, ZELKOR_STATUS* status) {
    try {
        if (r.buffer != nullptr)
            return Bytes(r.buffer, r.buffer + r.length);
        Bytes data(r.length);
        std::rewind(r.file);
        const size_t got = std::fread(data.data(), 1, data.size(), r.file);
        std::rewind(r.file);
        if (got != data.size()) {
            *status = HAL_INVALID_ARGUMENT;
            return std::nullopt;
        }
        return data;
    } catch (const std::bad_alloc&) {
        *status = kNoMemory;
        return std::nullopt;
    }
}

// The flash offset of the caller's address, when length bytes from it lie in the flash.
std::optional<uint32_t> flashOffset(const HalFamily& f, const ZELKOR_REGION& row, uint32_t offset,
                                    uint32_t length) {
    const uint64_t address = uint64_t{row.base} + offset;
    if (address < f.flashBase)
        return std::nullopt;
    const uint64_t at = address - f.flashBase;
    if (at + length > f.regionOps->availableFlash)
        return std::nullopt;
    return static_cast<uint32_t>(at);
}

// Where the target row ends, as a flash offset (the whole flash when it is no flash row).
uint64_t targetEnd(const HalFamily& f, const ZELKOR_REGION& target) {
    const uint64_t avail = f.regionOps->availableFlash;
    if (target.kind == ZELKOR_REGION_MEMORY || target.base < f.flashBase)
        return avail;
    return std::min(avail, uint64_t{target.base} + target.size - f.flashBase);
}

ZELKOR_STATUS ialDownload(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* r, uint32_t offset, uint32_t length,
                          FILE* file, uint8_t* buffer) {
    ZELKOR_INSTANCE* h = hi->handle;
    if (h->ialVectors.zelkor_ial_downloadRegion == nullptr)
        return HAL_NOT_VIA_INTERFACE;
    if (file != nullptr)
        std::rewind(file);
    return h->ialVectors.zelkor_ial_downloadRegion(h->ialInstance, r, offset, length, file, buffer);
}

// Reads the caller's bytes back through the module's own upload and compares them with what was written.
ZELKOR_STATUS readBack(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const HalFlashRequest& r,
                       const Bytes& data) {
    const char* fn = "zelkor_hal_downloadRegion";
    Bytes back;
    try {
        back.resize(r.length);
    } catch (const std::bad_alloc&) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "Unable to allocate memory **** FAILED ****");
        return kNoMemory;
    }
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Reading %d bytes at 0x%08x offset", static_cast<int>(r.length),
           r.offset);
    if (const ZELKOR_STATUS s = halUploadRegion(f, hi, r.caller, r.offset, r.length, nullptr, back.data()))
        return s;
    if (back != data) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR,
               "Special condition for Comparison of data read using EPP **** FAILED ****I dont understand what "
               "is this. Please dont ask me.");
        return HAL_FAILURE;
    }
    return 0;
}

// Bytes a bootstrap erase takes from the flash offset: whole 64 KiB blocks (Ostrel) or the part's blocks over
// the target (Quenza), never past the target's end. 0 with *status set when the part's block size is unknown.
uint32_t eraseSpan(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const HalFlashRequest& r, uint32_t at,
                   ZELKOR_STATUS* status) {
    const HalRegionData& d = *f.regionOps;
    const uint64_t dataSize = r.length;
    uint64_t span = 0;
    if (!d.flashTexts->eraseByPartBlocks) {
        span = (dataSize + kOstrelEraseBlock - 1) / kOstrelEraseBlock * kOstrelEraseBlock;
    } else {
        const uint64_t block = flash_retrieveBlockSize();
        const uint64_t regionSize = r.target->size;
        halLog(f, hi->handle, "zelkor_hal_downloadRegion", ZELKOR_LOG_INFO,
               "Actual Data size = 0x%lx, Flash Block size = 0x%lx, Flash Region size = 0x%lx.\n",
               static_cast<unsigned long>(dataSize), static_cast<unsigned long>(block),
               static_cast<unsigned long>(regionSize));
        if (block == 0) {
            std::printf("\nERROR: Unable to find the flash block-size information");
            std::fflush(stdout);
            *status = HAL_FAILURE;
            return 0;
        }
        const uint64_t over = (block >= regionSize || regionSize == d.availableFlash) ? dataSize : regionSize;
        span = (over + block - 1) / block * block;
        halLog(f, hi->handle, "zelkor_hal_downloadRegion", ZELKOR_LOG_INFO, "Calculated Erase size = 0x%lx \n",
               static_cast<unsigned long>(span));
    }
    // A span from a non-zero offset, or rounded up to whole blocks, stops where the target ends.
    return static_cast<uint32_t>(std::min(span, targetEnd(f, *r.target) - at));
}

// Enable, identify, size check, then program (28) or erase and let the interface write again (27).
ZELKOR_STATUS programFlash(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const HalFlashRequest& r,
                           ZELKOR_STATUS request) {
    const char* fn = "zelkor_hal_downloadRegion";
    const HalRegionData& d = *f.regionOps;
    const HalFlashTexts& t = *d.flashTexts;
    ZELKOR_INSTANCE* handle = hi->handle;
    halLog(f, handle, fn, ZELKOR_LOG_INFO, "Enabling the flash");
    if (const ZELKOR_STATUS s = hal_flashEnable(hi)) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Enabling the flash **** FAILED ****");
        return s;
    }
    halLog(f, handle, fn, ZELKOR_LOG_INFO, "Identifying the flash type");
    uint32_t type = FLASH_TYPE_NONE;
    if (flash_retriveFlashType(handle, f.flashBase, &type) != 0) {
        halLog(f, handle, fn, ZELKOR_LOG_INFO, "Retrying due to the failure in retriving flash type");
        if (flash_retriveFlashType(handle, f.flashBase, &type) != 0) {
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Unknown flash type **** FAILED ****");
            return HAL_FAILURE;
        }
    }
    if (r.length > flash_retrieveFlashSize()) {
        if (t.tooLarge != nullptr)
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", t.tooLarge);
        return FLASH_TOO_LARGE;
    }
    r.target->flashType = type;
    const std::optional<uint32_t> at = flashOffset(f, *r.caller, r.offset, r.length);
    if (!at) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", d.boundFailed);
        return d.boundStatus;
    }
    ZELKOR_STATUS status = 0;
    std::optional<Bytes> data = takeData(r, &status);
    if (!data) {
        if (status == kNoMemory)
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Unable to allocate %d bytes of memory **** FAILED ****",
                   static_cast<int>(r.length));
        return status;
    }
    auto program = [&](uint8_t wholeChip) {
        halLog(f, handle, fn, ZELKOR_LOG_INFO, "Writing %d bytes at 0x%08x offset", static_cast<int>(r.length),
               f.flashBase + *at);
        return flash_performDownloading(handle, f.flashBase, *at, r.length, data->data(), d.availableFlash,
                                        wholeChip);
    };
    if (request == HAL_FLASH_SELF_PROGRAM_STOP)
        return program(r.wholeChip);

    // A bootstrap on the debug port writes the flash once it is erased.
    uint32_t span = d.availableFlash;
    if (r.wholeChip == 0) {
        span = eraseSpan(f, hi, r, *at, &status);
        if (status != 0)
            return status;
    }
    halLog(f, handle, fn, ZELKOR_LOG_INFO,
           "Erasing the Flash sectors. This is only for COM interface which uses Bootstrap");
    if (const ZELKOR_STATUS s = flash_performErasing(handle, f.flashBase, *at, span, d.availableFlash)) {
        if (t.eraseFailed != nullptr)
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", t.eraseFailed);
        return s;
    }
    if (t.erasePassed != nullptr)
        halLog(f, handle, fn, ZELKOR_LOG_INFO, "%s", t.erasePassed);
    halLog(f, handle, fn, ZELKOR_LOG_INFO, "Writing %d bytes at 0x%08x offset", static_cast<int>(r.length),
           r.sentOffset);
    status = ialDownload(hi, r.sent, r.sentOffset, r.length, r.file, r.buffer);
    // An interface that still cannot write leaves the span erased: the engine writes it.
    if (status == HAL_FLASH_SELF_PROGRAM)
        status = program(0);
    if (status != 0)
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Writing %d bytes at 0x%08x offset **** FAILED ****",
               static_cast<int>(r.length), r.sentOffset);
    return status;
}

// Starts the ARM after work done with it stopped: the work's failure first, else the start's.
ZELKOR_STATUS restartArm(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* fn, ZELKOR_STATUS status,
                         const char* anyway, const char* starting, const char* startFailed) {
    ZELKOR_REGION window = f.staticRows[0];
    halLog(f, hi->handle, fn, status != 0 ? ZELKOR_LOG_WARN : ZELKOR_LOG_INFO, "%s",
           status != 0 ? anyway : starting);
    const ZELKOR_STATUS started = f.armStart(hi, &window);
    if (started != 0 && startFailed != nullptr)
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", startFailed);
    return status != 0 ? status : started;
}

ZELKOR_STATUS stopArmLogged(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* fn, const char* stopping,
                            const char* failed, uint32_t failedLevel = ZELKOR_LOG_ERROR) {
    ZELKOR_REGION window = f.staticRows[0];
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "%s", stopping);
    const ZELKOR_STATUS s = f.armStop(hi, &window);
    if (s != 0)
        halLog(f, hi->handle, fn, failedLevel, "%s", failed);
    return s;
}

// The end of a SEEPROM transfer with the ARM stopped: a failure is logged and returned, the ARM started
// again either way (a start that fails after a good transfer is the result).
ZELKOR_STATUS seepromDone(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* fn, ZELKOR_STATUS status,
                          const char* failed) {
    if (status == 0)
        return restartArm(f, hi, fn, 0, nullptr, "Starting ARM processor", nullptr);
    halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", failed);
    ZELKOR_REGION window = f.staticRows[0];
    f.armStart(hi, &window);
    return status;
}

// The boot record through the I2C programmer: the caller's bytes, read back and compared.
ZELKOR_STATUS writeBootRecord(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const HalFlashRequest& r, Bytes& data) {
    const char* fn = "zelkor_hal_downloadRegion";
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Writing binary data to SEEPROM");
    // The programmer lays an image over the start of the record: bytes for a later offset are laid over the
    // record as it stands, which is then written whole.
    Bytes image(data);
    if (r.offset != 0) {
        image.assign(SEEPROM_BOOT_RECORD_SIZE, 0);
        if (const ZELKOR_STATUS s =
                uploadSeepromToBinary(hi->handle, kI2cBase, 0, kI2cClock, nullptr, image.data()))
            return s;
        std::copy(data.begin(), data.end(), image.begin() + r.offset);
    }
    FILE* file = fmemopen(image.data(), image.size(), "rb");
    if (file == nullptr)
        return kNoMemory;
    ZELKOR_STATUS s = downloadBinaryToSeeprom(hi->handle, kI2cBase, 0, kI2cClock, file);
    std::fclose(file);
    if (s == 0)
        s = readBack(f, hi, r, data);
    return s;
}

} // namespace

ZELKOR_STATUS halProgramRequest(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const HalFlashRequest& r,
                                ZELKOR_STATUS request) {
    const char* fn = "zelkor_hal_downloadRegion";
    const bool stop = request == HAL_FLASH_SELF_PROGRAM_STOP;
    if (stop) {
        if (const ZELKOR_STATUS s = stopArmLogged(f, hi, fn, "Stopping the ARM processor",
                                                  "Stopping the ARM processor **** FAILED ****"))
            return s;
    }
    const ZELKOR_STATUS status = programFlash(f, hi, r, request);
    if (!stop)
        return status;
    return restartArm(f, hi, fn, status, "Starting the ARM processor even though the retVal is not SUCCESS",
                      "Starting the ARM processor", "Starting the ARM processor **** FAILED ****");
}

ZELKOR_STATUS halPalxProgramRequest(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const HalFlashRequest& r,
                                    ZELKOR_STATUS request) {
    const char* fn = "zelkor_hal_downloadRegion";
    const HalRegionData& d = *f.regionOps;
    ZELKOR_INSTANCE* handle = hi->handle;
    ZELKOR_STATUS status = 0;
    if (request == HAL_BOOT_RECORD_I2C) {
        // Code 3 skipped the bound check before the interface, and a row may be larger than the record:
        // no byte goes past the row or past the record's 8192 bytes, and nothing reaches the SEEPROM then.
        const uint64_t end = uint64_t{r.offset} + r.length;
        if (end > r.caller->size || end > SEEPROM_BOOT_RECORD_SIZE) {
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", d.boundFailed);
            return d.boundStatus;
        }
        std::optional<Bytes> data = takeData(r, &status);
        if (!data) {
            if (status == kNoMemory)
                halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Unable to allocate %d bytes of memory **** FAILED ****",
                       static_cast<int>(r.length));
            return status;
        }
        if (const ZELKOR_STATUS s = stopArmLogged(f, hi, fn, "Stoping ARM Processor",
                                                  "Unable to Stop ARM Processor **** FAILED ****"))
            return s;
        status = writeBootRecord(f, hi, r, *data);
        return seepromDone(f, hi, fn, status, "SEEPROM write failed.\n");
    }

    const std::optional<uint32_t> at = flashOffset(f, *r.caller, r.offset, r.length);
    if (!at) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", d.boundFailed);
        return d.boundStatus;
    }
    std::optional<Bytes> data = takeData(r, &status);
    if (!data) {
        if (status == kNoMemory)
            halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Insufficient memory **** FAILED ****");
        return status;
    }
    const bool stop = request == HAL_FLASH_SELF_PROGRAM_STOP;
    if (stop) {
        if (const ZELKOR_STATUS s = stopArmLogged(f, hi, fn, "Stoping ARM processor",
                                                  "Unabel to Stop ARM processor **** FAILED ****"))
            return s;
    }
    status = flash_performDownloading(handle, f.flashBase, *at, r.length, data->data(), d.availableFlash,
                                      r.wholeChip);
    if (status == 0)
        status = readBack(f, hi, r, *data);
    if (!stop)
        return status;
    return restartArm(f, hi, fn, status, "Starting ARM processor even though the retVal is not SUCCESS",
                      "Starting ARM processor", nullptr);
}

ZELKOR_STATUS halEraseRequest(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                              ZELKOR_STATUS request) {
    const char* fn = "zelkor_hal_eraseRegion";
    const HalRegionData& d = *f.regionOps;
    const HalFlashTexts& t = *d.flashTexts;
    ZELKOR_INSTANCE* handle = hi->handle;
    const bool stop = request == HAL_FLASH_SELF_PROGRAM_STOP;
    if (stop) {
        if (const ZELKOR_STATUS s = stopArmLogged(f, hi, fn, t.eraseStopping, t.eraseStopFailed))
            return s;
    }
    auto erase = [&]() -> ZELKOR_STATUS {
        if (d.flashControl != 0) {
            halLog(f, handle, fn, ZELKOR_LOG_INFO, "Enabling the Flash");
            if (const ZELKOR_STATUS s = hal_flashEnable(hi)) {
                halLog(f, handle, fn, ZELKOR_LOG_ERROR, "Enabling the Flash **** FAILED ****");
                return s;
            }
        }
        // The whole flash from its start; any other row only when it lies in the flash.
        uint32_t at = 0;
        uint32_t size = d.availableFlash;
        if (region->kind != ZELKOR_REGION_FLASH) {
            const std::optional<uint32_t> inFlash = flashOffset(f, *region, 0, region->size);
            if (!inFlash || region->size == 0) {
                halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", d.boundFailed);
                return d.boundStatus;
            }
            at = *inFlash;
            size = region->size;
        }
        halLog(f, handle, fn, ZELKOR_LOG_INFO, "%s", t.erasePerforming);
        return flash_performErasing(handle, f.flashBase, at, size, d.availableFlash);
    };
    const ZELKOR_STATUS status = erase();
    if (!stop)
        return status;
    return restartArm(f, hi, fn, status, t.eraseStartAnyway, t.eraseStarting, t.eraseStartFailed);
}

ZELKOR_STATUS halBootRecordUpload(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, uint32_t offset, uint32_t length,
                                  FILE* file, uint8_t* buffer) {
    const char* fn = "zelkor_hal_uploadRegion";
    ZELKOR_INSTANCE* handle = hi->handle;
    if ((file == nullptr && buffer == nullptr) || uint64_t{offset} + length > SEEPROM_BOOT_RECORD_SIZE) {
        halLog(f, handle, fn, ZELKOR_LOG_ERROR, "%s", f.regionOps->boundFailed);
        return HAL_INVALID_ARGUMENT;
    }
    if (const ZELKOR_STATUS s = stopArmLogged(f, hi, fn, "Stoping ARM processor", "Unable to Stop ARM processor",
                                              ZELKOR_LOG_ERROR))
        return s;
    halLog(f, handle, fn, ZELKOR_LOG_INFO, "Reading data fro SEEPROM");
    // The record is read whole into the module's own buffer; the caller gets its length bytes.
    std::vector<uint8_t> record(SEEPROM_BOOT_RECORD_SIZE);
    ZELKOR_STATUS status = uploadSeepromToBinary(handle, kI2cBase, 0, kI2cClock, nullptr, record.data());
    if (status == 0) {
        const uint8_t* from = record.data() + offset;
        if (buffer != nullptr)
            std::memcpy(buffer, from, length);
        else if (std::fwrite(from, 1, length, file) != length || std::fflush(file) != 0)
            status = HAL_FAILURE;
    }
    return seepromDone(f, hi, fn, status, "SEEPROM read failed.\n");
}
