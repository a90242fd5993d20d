// The in-band module's region operations: reads, writes and erases of memory, configuration pages and
// flash regions with READ BUFFER and WRITE BUFFER, the Ethernet page patch and the reset requests.
#include "ial/sasModule.h"

#include <cstdio>

namespace ialsas {

// ---- region operations ----

// 1 for the flash kinds (1 to 10), 0 for memory; 5 for a null handle.
uint32_t zelkor_ial_checkRegion(const ZELKOR_INSTANCE* handle, const ZELKOR_REGION* region) {
    const char* fn = "zelkor_ial_checkRegion";
    if (handle == nullptr) {
        say("**** ERROR **** PtrZelkor is NULL");
        return kInvalidArguments;
    }
    if (region->kind >= ZELKOR_REGION_FLASH && region->kind <= ZELKOR_REGION_BOOT_RECORD) {
        LOG_INFO(handle, fn, "Read/Write to FLASH\n");
        return 1;
    }
    LOG_INFO(handle, fn, "Read/Write to Memory or Register\n");
    return 0;
}

// The whole file, read from its start into a new zeroed buffer.
ZELKOR_STATUS zelkor_ial_convertFileToBuffer(FILE* file, HeapBytes* buffer, uint32_t* size) {
    if (file == nullptr)
        return kInvalidArguments;
    if (std::fseek(file, 0, SEEK_END) != 0)
        return kFailure;
    const long length = std::ftell(file);
    if (length < 0 || static_cast<unsigned long>(length) > UINT32_MAX || std::fseek(file, 0, SEEK_SET) != 0)
        return kFailure;
    HeapBytes bytes(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(length) + 1, 1)));
    if (!bytes)
        return kNoMemory;
    if (std::fread(bytes.get(), 1, static_cast<size_t>(length), file) != static_cast<size_t>(length))
        return kFailure;
    *buffer = std::move(bytes);
    if (size != nullptr)
        *size = static_cast<uint32_t>(length);
    return 0;
}

// Reset and memory-window addresses of a family.
struct MemoryRules {
    uint32_t chipReset;
    uint32_t watchdogReset;
};

MemoryRules memoryRules(uint32_t type) {
    if (isQuenzaType(type))
        return {0xC3800200u, 0x42000000u};
    return {0xC0000200u, 0x40800000u};
}

// Byte of the cached Ethernet page where a field selector's four bytes start; 0 for no field.
uint32_t ethernetFieldOffset(uint8_t selector) {
    switch (selector) {
    case 0:
        return kEthernetIpAt;
    case 1:
        return kEthernetMaskAt;
    case 2:
        return kEthernetGatewayAt;
    case 3:
        return kEthernetDhcpAt;
    default:
        return 0;
    }
}

ZELKOR_STATUS writeFlash(SAS_INSTANCE& inst, const ZELKOR_REGION& region, uint32_t offset, uint32_t size,
                         const uint8_t* data) {
    const char* fn = "zelkor_ial_downloadRegion";
    ZELKOR_INSTANCE* handle = inst.handle;
    const auto descriptor = static_cast<uint8_t>(region.descriptorFlag);
    LOG_INFO(handle, fn, "Writing to Flash using 0x%x buffer Id", region.regionId);
    if (!isFamilyType(inst.expander.type)) {
        const ZELKOR_STATUS status = writeWhole(inst, region.regionId, data, size, offset, descriptor);
        if (status != 0)
            LOG_ERROR(handle, fn, "Writing to Flash using 0x%x buffer Id ***** FAILED *****",
                      region.regionId);
        return status;
    }
    for (uint32_t done = 0; done < size;) {
        const uint32_t chunk = size - done < kChunkSize ? size - done : kChunkSize;
        const uint32_t at = offset + done;
        LOG_INFO(handle, fn, "Writing to Flash using 0x%x buffer Id at Offset 0x%08x", region.regionId, at);
        const ZELKOR_STATUS status = writeWhole(inst, region.regionId, data + done, chunk, at, descriptor);
        if (status != 0) {
            LOG_ERROR(handle, fn, "Writing to Flash using 0x%x buffer Id at Offset 0x%08x ***** FAILED *****",
                      region.regionId, at);
            return status;
        }
        if (handle->progress != nullptr)
            handle->progress(1, 0);
        done += chunk;
    }
    return 0;
}

// Patches the selected field of the cached Ethernet page with the caller's four bytes and writes the
// whole page back. A page that was never cached whole is not written.
ZELKOR_STATUS patchEthernetPage(SAS_INSTANCE& inst, uint32_t address, const uint8_t* value) {
    const char* fn = "zelkor_ial_downloadRegion";
    ZELKOR_EXPANDER& e = inst.expander;
    const uint32_t length = e.ethernetPageLength;
    if (length < kEthernetPageMinimum || length >= kEthernetCacheSize) {
        LOG_ERROR(inst.handle, fn, "Ethernet Configuration Page is not cached **** FAILED ****");
        return kFailure;
    }
    if (const uint32_t at = ethernetFieldOffset(e.ethernetField); at != 0)
        std::memcpy(e.ethernetPage + at, value, 4);
    return writeWhole(inst, SAS_BUFFER_CONFIG_PAGE, e.ethernetPage, length, address & 0xFFFF, 1);
}

ZELKOR_STATUS writeMemory(SAS_INSTANCE& inst, const ZELKOR_REGION& region, uint32_t offset, uint32_t size,
                          const uint8_t* data) {
    const char* fn = "zelkor_ial_downloadRegion";
    ZELKOR_INSTANCE* handle = inst.handle;
    ZELKOR_EXPANDER& e = inst.expander;
    const bool quenza = isQuenzaType(e.type);
    const auto descriptor = static_cast<uint8_t>(region.descriptorFlag);
    const MemoryRules rules = memoryRules(e.type);
    LOG_INFO(handle, fn, "Writing to Memory/Register using 0x%x buffer Id", SAS_BUFFER_REGISTER);
    const uint32_t address = offset + region.base;
    e.ethernetField = handle->fieldSelector;
    ZELKOR_STATUS status = 0;
    uint32_t buffer = SAS_BUFFER_RESET;
    if (address == rules.chipReset) {
        if (quenza)
            LOG_INFO(handle, fn, "Writing to Memory/ Register using 0x%x buffer Id", SAS_BUFFER_RESET);
        status = writeWhole(inst, SAS_BUFFER_RESET, kChipResetRequest.data(), kChipResetRequest.size(), 0,
                            descriptor);
    } else if (address == rules.watchdogReset) {
        if (quenza)
            LOG_INFO(handle, fn, "Writing to Memory/Register using 0x%x buffer Id", SAS_BUFFER_RESET);
        status = writeWhole(inst, SAS_BUFFER_RESET, kWatchdogResetRequest.data(),
                            kWatchdogResetRequest.size(), 0, descriptor);
    } else if (size == ((static_cast<uint32_t>(handle->fieldSelector) << 8) | kEthernetSizeCode)) {
        buffer = SAS_BUFFER_CONFIG_PAGE;
        if (quenza)
            LOG_INFO(handle, fn, "Writing to Memory/Register using 0x%x buffer Id", SAS_BUFFER_CONFIG_PAGE);
        status = patchEthernetPage(inst, address, data);
    } else {
        buffer = SAS_BUFFER_REGISTER;
        uint32_t target = SAS_BUFFER_REGISTER;
        if (quenza) {
            LOG_INFO(handle, fn, "Writing to Memory/Register using 0x%x buffer Id ", SAS_BUFFER_REGISTER);
            target = region.regionId;
        }
        status = writeWhole(inst, target, data, size, address, descriptor);
    }
    if (status != 0)
        LOG_ERROR(handle, fn, "Writing to Memory/Register using 0x%x buffer Id ***** FAILED *****", buffer);
    return status;
}

// A flash region of index 0xFF is programmed and erased by the hardware module itself: nothing is sent, and
// 27 asks the module to do it. No other check comes first, since the region's id need not fit a buffer id.
bool selfProgrammed(const ZELKOR_REGION& region) {
    return region.kind >= ZELKOR_REGION_FLASH && region.kind <= ZELKOR_REGION_BOOT_RECORD &&
           region.index == kRegionIndexSelfProgram;
}

ZELKOR_STATUS leaveToHardwareModule(ZELKOR_INSTANCE* handle, const char* fn, const char* consoleText) {
    LOG_ERROR(handle, fn, "Invalid Region Id 0x%x **** FAILED ****", kRegionIndexSelfProgram);
    say("%s", consoleText);
    return kProgramFlashYourself;
}

constexpr const char* kDownloadLeft = " **** Invalid Download Region ID  ****";
constexpr const char* kEraseLeft = " **** Invalid Erase Region ID  ****";

// Listed instance with a handle, or null.
SAS_INSTANCE* regionInstance(void* instance) {
    SAS_INSTANCE* inst = listedInstance(instance);
    return inst != nullptr && inst->handle != nullptr ? inst : nullptr;
}

// Logs and shows the refusal of a transfer's arguments.
ZELKOR_STATUS refuseTransfer(ZELKOR_INSTANCE* handle, const char* fn, const char* consoleText) {
    LOG_ERROR(handle, fn, "Invalid Arguments **** FAILED ****");
    say("%s", consoleText);
    return kInvalidArguments;
}

// A region, a size, and exactly one of file and buffer.
bool transferArgumentsValid(const ZELKOR_REGION* region, uint32_t size, const FILE* file,
                            const uint8_t* buffer) {
    return region != nullptr && size != 0 && (file == nullptr) != (buffer == nullptr);
}

constexpr const char* kDownloadRefused = " ****Invalid Arguments for  IAL Download Region   ****";

ZELKOR_STATUS sasDownloadRegion(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                                FILE* file, uint8_t* buffer) {
    const char* fn = "zelkor_ial_downloadRegion";
    SAS_INSTANCE* inst = regionInstance(instance);
    if (inst == nullptr)
        return kInvalidInstance;
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    if (!transferArgumentsValid(region, size, file, buffer))
        return refuseTransfer(handle, fn, kDownloadRefused);
    LOG_INFO(handle, fn, "Downloading %d bytes at 0x%08x Offset", size, offset);
    const bool flash = zelkor_ial_checkRegion(handle, region) == 1;
    if (flash && selfProgrammed(*region)) {
        LOG_INFO(handle, fn, "Writing to Flash using 0x%x buffer Id", region->regionId);
        return leaveToHardwareModule(handle, fn, kDownloadLeft);
    }
    HeapBytes fromFile;
    const uint8_t* data = buffer;
    if (file != nullptr) {
        uint32_t fileSize = 0;
        if (const ZELKOR_STATUS status = zelkor_ial_convertFileToBuffer(file, &fromFile, &fileSize)) {
            LOG_ERROR(handle, fn, "Converting File to buffer **** FAILED ****");
            return status;
        }
        // Never send more than the file holds.
        if (fileSize < size)
            return refuseTransfer(handle, fn, kDownloadRefused);
        data = fromFile.get();
    }
    if (flash)
        return writeFlash(*inst, *region, offset, size, data);
    if (isFamilyType(inst->expander.type))
        return writeMemory(*inst, *region, offset, size, data);
    say("WARN: This functionality is not supported in PALX");
    return kNotSupportedOnPalx;
}

ZELKOR_STATUS sasUploadRegion(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                              FILE* file, uint8_t* buffer) {
    const char* fn = "zelkor_ial_uploadRegion";
    SAS_INSTANCE* inst = regionInstance(instance);
    if (inst == nullptr)
        return kInvalidInstance;
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    if (!transferArgumentsValid(region, size, file, buffer))
        return refuseTransfer(handle, fn, " ****Invalid Arguments for  IAL Upload Region   ****");
    LOG_INFO(handle, fn, "Uploading %d bytes from 0x%08x offset", size, offset);
    const bool flash = zelkor_ial_checkRegion(handle, region) == 1;
    HeapBytes forFile;
    uint8_t* data = buffer;
    if (file != nullptr) {
        forFile.reset(static_cast<uint8_t*>(std::calloc(size, 1)));
        if (!forFile) {
            LOG_ERROR(
                handle, fn,
                "Unable to allocate memory for copying the data from target device to local buffer. **** "
                "FAILED ****");
            return kNoMemory;
        }
        data = forFile.get();
    }
    const auto descriptor = static_cast<uint8_t>(region->descriptorFlag);
    // Every read must bring all the bytes asked for: a short one fails like a failed one, so that the
    // caller never takes unfilled bytes for the region's content.
    ZELKOR_STATUS status = 0;
    if (flash) {
        LOG_INFO(handle, fn, "Reading from Flash using 0x%x buffer Id", region->regionId);
        std::memset(data, 0, size);
        for (uint32_t done = 0; done < size;) {
            const uint32_t chunk = size - done < kChunkSize ? size - done : kChunkSize;
            const uint32_t at = offset + done;
            LOG_INFO(handle, fn, "Reading from Flash using 0x%x buffer Id at Offset 0x%08x ",
                     region->regionId, at);
            status = readWhole(*inst, region->regionId, data + done, chunk, at, descriptor);
            if (status != 0) {
                say("%s", kReadFailedNotice);
                LOG_ERROR(handle, fn,
                          "Reading from Flash using 0x%x buffer Id at Offset 0x%08x **** FAILED **** ",
                          region->regionId, at);
                break;
            }
            done += chunk;
        }
        // A 4-byte read in descriptor mode is a READ BUFFER descriptor: hand out the capacity it carries.
        if (status == 0 && descriptor == 1 && size == 4)
            putLittleEndian32(data, (static_cast<uint32_t>(data[1]) << 16) |
                                        (static_cast<uint32_t>(data[2]) << 8) | data[3]);
    } else if (isFamilyType(inst->expander.type)) {
        LOG_INFO(handle, fn, "Reading from Memory/Register using 0x%x buffer Id", SAS_BUFFER_REGISTER);
        const uint32_t address = offset + region->base;
        LOG_INFO(handle, fn, "Exact offset after adding the base is 0x%08x\n", address);
        status = readWhole(*inst, region->regionId, data, size, address, descriptor);
        if (status != 0) {
            LOG_ERROR(handle, fn, "Reading from Memory/Register using 0x%x buffer Id **** FAILED ****",
                      SAS_BUFFER_REGISTER);
            return status;
        }
    } else {
        say("WARN: This functionality is not supported in PALX");
        return kNotSupportedOnPalx;
    }
    // A file that did not take every byte is a failed upload.
    if (file != nullptr && (std::fwrite(data, 1, size, file) != size || std::fflush(file) != 0) &&
        status == 0)
        status = kFailure;
    return status;
}

ZELKOR_STATUS eraseBuffer(const SAS_INSTANCE& inst, uint32_t bufferId, uint8_t descriptor) {
    std::array<uint8_t, kEraseRequestSize> request;
    request.fill(0xFF);
    return writeWhole(inst, bufferId, request.data(), request.size(), 0, descriptor);
}

ZELKOR_STATUS sasEraseRegion(void* instance, ZELKOR_REGION* region) {
    const char* fn = "zelkor_ial_eraseRegion";
    SAS_INSTANCE* inst = regionInstance(instance);
    if (inst == nullptr)
        return kInvalidInstance;
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    if (region == nullptr) {
        LOG_ERROR(handle, fn, "Invalid Argument **** FAILED ****");
        say(" **** Invalid Arguments for  IAL Erase Region  ****");
        return kInvalidArguments;
    }
    const auto descriptor = static_cast<uint8_t>(region->descriptorFlag);
    if (region->kind != ZELKOR_REGION_FLASH) {
        if (selfProgrammed(*region))
            return leaveToHardwareModule(handle, fn, kEraseLeft);
        if (region->regionId == SAS_BUFFER_ERASE_REPLACED)
            region->regionId = SAS_BUFFER_ERASE_TARGET;
        LOG_INFO(handle, fn, "Writing data using 0x%02x bufferId", region->regionId);
        const ZELKOR_STATUS status = eraseBuffer(*inst, region->regionId, descriptor);
        if (status != 0)
            LOG_ERROR(handle, fn, "Write data using 0x%02x bufferId **** FAILED ****", region->regionId);
        return status;
    }
    LOG_INFO(handle, fn, "Erasing entire Flash");
    ZELKOR_STATUS status = kInvalidInstance;
    for (const ZELKOR_REGION_LIST* node = handle->regions; node != nullptr; node = node->next) {
        if (node->region.kind != ZELKOR_REGION_PARTITION)
            continue;
        LOG_INFO(handle, fn, "Erasing 0x%x Region using 0x%x buffer Id", node->region.index,
                 node->region.regionId);
        // A partition the interface cannot erase ends the walk: the hardware module erases the flash.
        if (selfProgrammed(node->region))
            return leaveToHardwareModule(handle, fn, kEraseLeft);
        status = eraseBuffer(*inst, node->region.regionId, descriptor);
        if (status != 0) {
            LOG_ERROR(handle, fn, "Erasing 0x%x Region ID**** FAILED ****", node->region.index);
            say(" **** Invalid Erase Region ID  ****");
            break;
        }
    }
    return status;
}

} // namespace ialsas
