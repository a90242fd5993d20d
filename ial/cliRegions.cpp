#include "ial/cliRegions.h"

#include "osal/osalTime.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr const char* kModule = "zelkor_ial_CLI";
constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kNotSupportedHere = 3;
constexpr ZELKOR_STATUS kInvalidInstance = 4;
constexpr ZELKOR_STATUS kInvalidArgument = 5;
constexpr ZELKOR_STATUS kNoMemory = 6;
constexpr ZELKOR_STATUS kProgramFlashYourself = 27;

constexpr uint32_t kWatchdogAddress = 0x42000000;
constexpr uint32_t kInvalidRegionIndex = 0xFF;
constexpr uint32_t kRegisterWriteLimit = 128; // larger memory writes go as one mdl transfer
constexpr uint8_t kBufferWithEraseTarget = 0xE2;
constexpr uint8_t kEraseTargetBuffer = 0xEB;
constexpr uint32_t kEraseTargetBytes = 129;
constexpr uint8_t kEthernetSizeCode = 0xE6;
constexpr uint32_t kSwitchPromptPolls = 600;
constexpr uint32_t kSwitchPromptAnswer = 16;
constexpr uint32_t kEraseDelayMs = 5000;
constexpr uint32_t kDrainLimit = 4096; // bytes dropped at most while waiting for the line's silence
constexpr uint32_t kIpStatusRegister = 0x424000C0;
constexpr uint32_t kIpNotConfiguredBit = 1u << 6;

struct SasRegisters {
    uint32_t high;
    uint32_t low;
};
constexpr SasRegisters kOstrelSas{0xB0000048, 0xB000004C};
constexpr SasRegisters kQuenzaSas{0xC0000048, 0xC000004C};

// The SAS address words of the family's registers, high half first: 0 or the failing access's status.
int32_t readSasAddress(const CliTarget& target, const SasRegisters& sas, uint32_t* high, uint32_t* low) {
    int32_t status = target.registerAccess(0, sas.high, 0, high);
    if (status == 0)
        status = target.registerAccess(0, sas.low, 0, low);
    return status;
}

int32_t getGen3ExpSASAddress(const CliTarget& target, uint32_t* high, uint32_t* low) {
    return readSasAddress(target, kQuenzaSas, high, low);
}

int32_t getOstrelExpSASAddress(const CliTarget& target, uint32_t* high, uint32_t* low) {
    return readSasAddress(target, kOstrelSas, high, low);
}

__attribute__((format(printf, 3, 4))) void logError(const ZELKOR_INSTANCE* handle, const char* function,
                                                    const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LOG_FUNCTION log = handle != nullptr && handle->log != nullptr ? handle->log : zelkor_messageLog;
    log(kModule, function, ZELKOR_LOG_CLI, ZELKOR_LOG_ERROR, 1, "%s", text);
}

// A user-facing failure: printed and logged.
__attribute__((format(printf, 3, 4))) void fail(const ZELKOR_INSTANCE* handle, const char* function,
                                                const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fputs(text, stdout);
    std::fflush(stdout);
    logError(handle, function, "%s **** FAILED ****", cliLogText(text).c_str());
}

void progress(const ZELKOR_INSTANCE* handle) {
    if (handle != nullptr && handle->progress != nullptr)
        handle->progress(1, 0);
}

bool isFlash(const ZELKOR_REGION* region) {
    return (region->kind >= ZELKOR_REGION_FLASH && region->kind <= ZELKOR_REGION_DESIGNATED_LAST) ||
           region->kind == ZELKOR_REGION_PAGE_STORE;
}

bool argumentsValid(const ZELKOR_REGION* region, uint32_t size, FILE* file, const void* buffer) {
    return region != nullptr && size != 0 && (file == nullptr) != (buffer == nullptr);
}

// The whole file; none when it cannot be read.
std::optional<std::vector<uint8_t>> fileToBuffer(FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0)
        return std::nullopt;
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return std::nullopt;
    std::vector<uint8_t> data;
    try {
        data.resize(static_cast<size_t>(end));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    if (std::fread(data.data(), 1, data.size(), file) != data.size())
        return std::nullopt;
    return data;
}

ZELKOR_STATUS writeMemory(CliTarget& target, const ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                          const uint8_t* data) {
    constexpr const char* fn = "zelkor_ial_downloadRegion";
    const ZELKOR_INSTANCE* handle = target.handle;
    if (offset == kWatchdogAddress)
        return perform_reset_watchdog(target.link);
    // An Ethernet setting comes as the page id with a size code, not as data: this console has no page to
    // patch, and the size would send bytes past the caller's value.
    const uint32_t selector = handle != nullptr ? handle->fieldSelector : 0;
    if (size == ((selector << 8) | kEthernetSizeCode) &&
        (offset == MFG_PAGE_ETHERNET_OSTREL || offset == MFG_PAGE_ETHERNET_QUENZA)) {
        logError(handle, fn, "Ethernet settings cannot be written over the serial console **** FAILED ****");
        return kNotSupportedHere;
    }
    const uint32_t address = region->base + offset;
    if (size > kRegisterWriteLimit) {
        if (cli_mdl_operation(target.link, address, data, size) != 0) {
            fail(handle, fn, "\n**** ERROR **** MDL operation failed");
            return kFailure;
        }
        return 0;
    }
    for (uint32_t done = 0; done < size;) {
        const bool word = size - done >= 4;
        uint32_t value = 0;
        std::memcpy(&value, data + done, word ? 4 : 1);
        const uint32_t operation = word ? CLI_OP_WRITE : (CLI_OP_WRITE | CLI_OP_BYTE);
        if (target.registerAccess(operation, address + done, value, nullptr) != 0) {
            fail(handle, fn, "\n**** ERROR **** Writing %d byte to Memory at 0x%08x offset failed\n", word ? 4 : 1,
                 address + done);
            return kFailure;
        }
        done += word ? 4 : 1;
    }
    return 0;
}

ZELKOR_STATUS writeFlash(CliTarget& target, const ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                         const uint8_t* data) {
    constexpr const char* fn = "zelkor_ial_downloadRegion";
    const ZELKOR_INSTANCE* handle = target.handle;
    const uint8_t bufferId = static_cast<uint8_t>(region->regionId);
    if (bufferId == kBufferWithEraseTarget) {
        // The erase target first, with no more than the data there is.
        if (cli_fdl_operation(target.link, kEraseTargetBuffer, offset, data, std::min(size, kEraseTargetBytes)) != 0) {
            fail(handle, fn, "\n**** ERROR **** FDL operation failed");
            return kFailure;
        }
    }
    if (cli_fdl_operation(target.link, bufferId, offset, data, size) != 0) {
        fail(handle, fn, "\n**** ERROR **** FDL operation failed");
        return kFailure;
    }
    if (target.record.type != ZELKOR_CHIP_OSTREL_SWITCH)
        return 0;
    // The switch model programs its flash after the transfer: its prompt comes back when it is done.
    for (uint32_t poll = 0; poll < kSwitchPromptPolls; ++poll) {
        uint8_t answer[kSwitchPromptAnswer];
        uint32_t got = 0;
        if (const int32_t status = readPrompt(target.link.line, answer, sizeof answer, &got, true); status != 0)
            return static_cast<ZELKOR_STATUS>(status);
        if (cliIsPrompt(answer, got, false))
            return 0;
    }
    return kFailure;
}

} // namespace

int32_t readPrompt(SerialLine& line, uint8_t* answer, uint32_t size, uint32_t* got, bool sleepFirst) {
    *got = 0;
    const uint8_t cr = '\r';
    if (!line.write(&cr, 1))
        return CLI_LINE_FAILED;
    for (uint32_t dropped = 0; dropped < kDrainLimit; ++dropped) {
        uint8_t byte = 0;
        uint32_t n = 0;
        if (!line.read(&byte, 1, n))
            return CLI_LINE_FAILED;
        if (n == 0)
            break;
    }
    if (!line.write(&cr, 1))
        return CLI_LINE_FAILED;
    if (sleepFirst)
        osal_sleepMs(100);
    std::memset(answer, 0, size);
    if (!line.read(answer, size, *got))
        return CLI_LINE_FAILED;
    return 0;
}

bool cliIsPrompt(const uint8_t* answer, uint32_t length, bool exact) {
    constexpr uint32_t prompt = sizeof CLI_PROMPT - 1;
    if (length < 2 + prompt || (exact && length != 2 + prompt))
        return false;
    return std::memcmp(answer + 2, CLI_PROMPT, prompt) == 0;
}

ZELKOR_STATUS cliDownloadRegion(CliTarget& target, const ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                                FILE* file, const uint8_t* buffer) {
    constexpr const char* fn = "zelkor_ial_downloadRegion";
    const ZELKOR_INSTANCE* handle = target.handle;
    if (!argumentsValid(region, size, file, buffer)) {
        fail(handle, fn, "\n**** ERROR **** Invalid arguments");
        return kInvalidArgument;
    }
    std::optional<std::vector<uint8_t>> fileData;
    if (file != nullptr) {
        fileData = fileToBuffer(file);
        if (!fileData) {
            fail(handle, fn, "\n**** ERROR **** Converting File to Buffer");
            return kNoMemory;
        }
        // Only bytes the file holds are written.
        if (fileData->size() < size) {
            fail(handle, fn, "\n**** ERROR **** Invalid arguments");
            return kInvalidArgument;
        }
        buffer = fileData->data();
    }
    if (!isFlash(region))
        return writeMemory(target, region, offset, size, buffer);
    if (region->index == kInvalidRegionIndex) {
        fail(handle, fn, "\n**** ERROR **** Invalid flash Region Id 0x%02x \n", region->index);
        return kProgramFlashYourself;
    }
    return writeFlash(target, region, offset, size, buffer);
}

ZELKOR_STATUS cliUploadRegion(CliTarget& target, const ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                              FILE* file, uint8_t* buffer) {
    constexpr const char* fn = "zelkor_ial_uploadRegion";
    const ZELKOR_INSTANCE* handle = target.handle;
    if (!argumentsValid(region, size, file, buffer)) {
        fail(handle, fn, "\n**** ERROR **** Invalid arguments ");
        return kInvalidArgument;
    }
    std::vector<uint8_t> data;
    try {
        data.resize(size);
    } catch (const std::bad_alloc&) {
        fail(handle, fn, "\n**** ERROR **** Malloc failed when requested 0x%08x bytes\n", size);
        return kFailure;
    }
    ZELKOR_STATUS status = 0;
    if (region->descriptorFlag == 1) {
        uint32_t capacity = 0;
        status = cli_buffsize_operation(target.link, static_cast<uint8_t>(region->regionId), &capacity);
        std::memcpy(data.data(), &capacity, std::min<uint32_t>(size, sizeof capacity));
    } else if (isFlash(region) && region->kind != ZELKOR_REGION_FLASH) {
        status = cli_ful_operation(target.link, static_cast<uint8_t>(region->regionId), offset, data.data(), size);
    } else {
        status = cli_mul_operation(target.link, region->base + offset, data.data(), size);
    }
    if (status != 0)
        return status;
    if (file != nullptr) {
        if (std::fwrite(data.data(), 1, size, file) != size || std::fflush(file) != 0)
            return kFailure;
    } else {
        std::memcpy(buffer, data.data(), size);
    }
    return 0;
}

ZELKOR_STATUS cliEraseRegion(CliTarget& target, const ZELKOR_REGION* region) {
    constexpr const char* fn = "zelkor_ial_eraseRegion";
    const ZELKOR_INSTANCE* handle = target.handle;
    if (region == nullptr) {
        fail(handle, fn, "\n**** ERROR **** Invalid Argument");
        return kInvalidArgument;
    }
    if (!target.onConsole) {
        logError(handle, fn, "Low level flash support required.\n");
        return kProgramFlashYourself;
    }
    auto eraseOne = [&](uint32_t id) {
        if (cli_regerase_operation(target.link, id) != 0) {
            fail(handle, fn, "\n**** ERROR **** CLI regerase command failed");
            return kFailure;
        }
        return ZELKOR_STATUS{0};
    };
    if (region->kind == ZELKOR_REGION_FLASH) {
        const int32_t count = handle != nullptr && handle->options != nullptr ? handle->options->regionCount : -1;
        if (count < 0)
            return kInvalidInstance;
        for (int32_t id = count; id >= 0; --id) {
            progress(handle);
            osal_sleepMs(kEraseDelayMs);
            if (const ZELKOR_STATUS status = eraseOne(static_cast<uint32_t>(id)); status != 0)
                return status;
        }
        return 0;
    }
    if (region->kind != ZELKOR_REGION_PARTITION) {
        // Only partitions have a number the console erases by; other rows carry index 0, the firmware's.
        fail(handle, fn, "\n**** ERROR **** Invalid Argument");
        return kInvalidArgument;
    }
    if (region->index == kInvalidRegionIndex)
        return kProgramFlashYourself;
    return eraseOne(region->index);
}

ZELKOR_STATUS cliGetExpanders(CliTarget& target, ZELKOR_EXPANDER_LIST** out) {
    constexpr const char* fn = "zelkor_ial_getExpanders";
    const ZELKOR_INSTANCE* handle = target.handle;
    if (out == nullptr) {
        fail(handle, fn, "\n**** ERROR **** Invalid ZELKOR argument");
        return kInvalidArgument;
    }
    ZELKOR_EXPANDER& record = target.record;
    // The registers of the instance's own family, whatever another open left in process-wide flags.
    const bool quenza = record.type == ZELKOR_CHIP_QUENZA || record.type == ZELKOR_CHIP_QUENZA_DAX;
    uint32_t high = 0;
    uint32_t low = 0;
    const int32_t status =
        quenza ? getGen3ExpSASAddress(target, &high, &low) : getOstrelExpSASAddress(target, &high, &low);
    if (status != 0) {
        fail(handle, fn, "\n**** ERROR **** Unable to get SAS address");
        return static_cast<ZELKOR_STATUS>(status);
    }
    record.sasAddressHigh = high;
    record.sasAddressLow = low;
    uint32_t ipStatus = 0;
    if (target.registerAccess(0, kIpStatusRegister, 0, &ipStatus) == 0) {
        if ((ipStatus & kIpNotConfiguredBit) != 0) {
            std::strcpy(record.ipAddress, "NotConfigured");
        } else if (const ZELKOR_STATUS ip = getGen3ExpIPAddress(target.link, record.ipAddress); ip != 0) {
            logError(handle, fn, "Unable to get IP address of the Expander **** FAILED ****");
            return ip;
        }
    }
    auto* node = static_cast<ZELKOR_EXPANDER_LIST*>(std::calloc(1, sizeof(ZELKOR_EXPANDER_LIST)));
    if (node == nullptr) {
        fail(handle, fn, "\n**** ERROR **** Unable to allocate memory for the Expander's list");
        return kNoMemory;
    }
    node->expander = record;
    *out = node;
    return 0;
}
