// TCP interface module "IAL-TCP": open, close and version, the expander listing with the chip
// identification over TCP, and region upload, download and erase carried as TCP requests. Operations
// are reached only through the query function.
#include "ial/ialTrace.h"
#include "ial/zelkorIalTcp.h"

#include "core/modules.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

LL_LIST* gTcpInstanceList = nullptr;

namespace {

constexpr const char* kModule = "zelkor_ial_TCP";
constexpr uint32_t kType = ZELKOR_LOG_TCP;

constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kNotSupportedHere = 3;
constexpr ZELKOR_STATUS kInvalidInstance = 4;
constexpr ZELKOR_STATUS kInvalidArgument = 5;
constexpr ZELKOR_STATUS kNoMemory = 6;
constexpr ZELKOR_STATUS kNotInitialised = 7;
constexpr ZELKOR_STATUS kConnectFailed = 21;
constexpr ZELKOR_STATUS kReadFailed = 25;
constexpr ZELKOR_STATUS kProgramFlashYourself = 27;

constexpr uint8_t kRegisterBuffer = 0xC2;
constexpr uint8_t kMemoryBuffer = 0xC0;
constexpr uint8_t kResetControlBuffer = 0xE9;
constexpr uint32_t kGenerationProbeAddress = 0xC000004C;
constexpr uint32_t kQuenzaSignatureAddress = 0xC380002C;
constexpr uint32_t kOstrelSignatureAddress = 0xC000002C;
constexpr uint32_t MISC_CONFIG_REG = 0xC00000A0;
constexpr uint32_t kSwitchIdentityAddress = 0x14000028;
constexpr uint8_t kSwitchIdentity = 200;
constexpr uint16_t kProductBriskoOrTolvane36 = 0x223;
constexpr uint32_t kQuenzaWatchdogAddress = 0x42000000;
constexpr std::array<uint8_t, 3> kWatchdogResetData = {0x01, 0x00, 0x01};
constexpr uint32_t kFlashBlockSize = 1024;
constexpr uint32_t kDownloadProgressEvents = 4;
constexpr uint32_t kInvalidRegionIndex = 0xFF;
constexpr uint32_t kEraseLength = 12;
constexpr uint8_t kEthernetSizeCode = 0xE6;
constexpr uint8_t kWriteBufferOperation = 0x3B;

// ---- logging and console ----

__attribute__((format(printf, 5, 6))) void logLine(const ZELKOR_INSTANCE* handle, const char* function,
                                                   uint32_t level, uint32_t type, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LOG_FUNCTION log = handle != nullptr && handle->log != nullptr ? handle->log : zelkor_messageLog;
    log(kModule, function, type, level, 1, "%s", text);
}

#define LOG_INFO(handle, function, ...) logLine(handle, function, ZELKOR_LOG_INFO, kType, __VA_ARGS__)
#define LOG_ERROR(handle, function, ...) logLine(handle, function, ZELKOR_LOG_ERROR, kType, __VA_ARGS__)

// Entry trace now, exit trace when the operation ends.
struct Trace : IalTrace {
    Trace(const ZELKOR_INSTANCE* handle, const char* function) : IalTrace(kModule, kType, handle, function) {}
};

__attribute__((format(printf, 1, 2))) void printConsole(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

const char* hostName(const ZELKOR_INSTANCE* handle) {
    return handle->hostText != nullptr ? handle->hostText : "";
}

template <size_t N> void copyText(char (&field)[N], const char* text) {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
}

// ---- instances ----

bool isListed(const TCP_INSTANCE* instance) {
    if (instance == nullptr || gTcpInstanceList == nullptr)
        return false;
    void* data = nullptr;
    ll_moveFirst(gTcpInstanceList);
    while (ll_get(gTcpInstanceList, &data, nullptr) == LL_SUCCESS) {
        if (data == instance)
            return true;
        ll_moveNext(gTcpInstanceList);
    }
    return false;
}

// The instance when it is listed, has a handle and, when asked, a connection.
TCP_INSTANCE* usable(void* instance, bool needsSocket) {
    auto* tcp = static_cast<TCP_INSTANCE*>(instance);
    if (!isListed(tcp) || tcp->handle == nullptr || (needsSocket && tcp->socket == kTcpNoSocket))
        return nullptr;
    return tcp;
}

int socketOf(const TCP_INSTANCE* instance) {
    return static_cast<int>(instance->socket);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using CPtr = std::unique_ptr<T, FreeDeleter>;

// ---- register access ----

ZELKOR_STATUS readWord(const TCP_INSTANCE* instance, uint32_t address, uint32_t* word) {
    uint8_t bytes[4] = {};
    const ZELKOR_STATUS status = tcpReadBuffer(socketOf(instance), kRegisterBuffer, bytes, address,
                                               sizeof bytes, instance->tunnelAddress, 0);
    if (status == 0)
        std::memcpy(word, bytes, sizeof bytes); // registers travel in host order
    return status;
}

ZELKOR_STATUS writeWord(const TCP_INSTANCE* instance, uint32_t address, uint32_t word) {
    uint8_t bytes[4];
    std::memcpy(bytes, &word, sizeof bytes);
    return tcpWriteBuffer(socketOf(instance), kRegisterBuffer, bytes, address, sizeof bytes,
                          instance->tunnelAddress, 0);
}

// ---- identification ----

constexpr const char* kIdentify = "zelkor_ial_getExpanders";

ZELKOR_STATUS identifyQuenza(TCP_INSTANCE* instance) {
    const ZELKOR_INSTANCE* handle = instance->handle;
    ZELKOR_EXPANDER& record = instance->expander;
    uint32_t signature = 0;
    LOG_INFO(handle, kIdentify, "Reading Device Signature");
    if (readWord(instance, kQuenzaSignatureAddress, &signature) != 0) {
        LOG_ERROR(handle, kIdentify, "Reading Device Signature **** FAILED ****");
        return kFailure;
    }
    LOG_INFO(handle, kIdentify, "Reading Expander specific information");
    if (readWord(instance, kQuenzaSignatureAddress, &signature) != 0) {
        LOG_INFO(handle, kIdentify, "Retrying to read Device Signature");
        if (readWord(instance, kQuenzaSignatureAddress, &signature) != 0) {
            LOG_ERROR(handle, kIdentify, "Retrying to read Device Signature **** FAILED ****");
            return kFailure;
        }
    }
    LOG_INFO(handle, kIdentify, "Device Signature is 0x%08x", signature);
    record.productId = static_cast<uint16_t>(signature >> 16);
    record.revisionCode = static_cast<uint8_t>(signature >> 8);
    productIDAndRevDecode(&record);
    LOG_INFO(handle, kIdentify, "Device found is %s", record.familyName != nullptr ? record.familyName : "");
    LOG_INFO(handle, kIdentify, "Expander Revision Id is %s", record.revision);
    LOG_INFO(handle, kIdentify, "Expander Type is %s", record.name);
    return 0;
}

// Revision 2 of family Ostrel: which bits of MISC_CONFIG_REG stick when set tells the board step.
ZELKOR_STATUS probeOstrelRevision(TCP_INSTANCE* instance) {
    const ZELKOR_INSTANCE* handle = instance->handle;
    ZELKOR_EXPANDER& record = instance->expander;
    struct Step {
        const char* read;
        const char* write;
        const char* reread;
        uint32_t bit;
    };
    const Step steps[] = {
        {"Reading Miscellaneous Config register for identifying Ostrel boards",
         "Clearing Flash Bad Signature bit in Miscellaneous Config register for identifying Ostrel boards",
         "Re-reading Miscellaneous Config register for identifying Ostrel boards", 1u << 7},
        {"Reading Miscellaneous Config register for identifying Ostrel B2 and B3 boards",
         "Clearing Flash Bad Signature bit in Miscellaneous Config register for identifying Ostrel B2 and B3 "
         "boards",
         "Reading Miscellaneous Config register after clearing Flash Bad Signature bit for identifying "
         "Ostrel "
         "B2 and B3 boards",
         1u << 6},
    };
    for (const Step& step : steps) {
        uint32_t value = 0;
        LOG_INFO(handle, kIdentify, "%s", step.read);
        if (readWord(instance, MISC_CONFIG_REG, &value) != 0) {
            LOG_ERROR(handle, kIdentify, "%s **** FAILED ****", step.read);
            return kFailure;
        }
        LOG_INFO(handle, kIdentify, "%s", step.write);
        if (writeWord(instance, MISC_CONFIG_REG, value | step.bit) != 0) {
            LOG_ERROR(handle, kIdentify, "%s **** FAILED ****", step.write);
            return kFailure;
        }
        LOG_INFO(handle, kIdentify, "%s", step.reread);
        if (readWord(instance, MISC_CONFIG_REG, &value) != 0) {
            LOG_ERROR(handle, kIdentify, "%s **** FAILED ****", step.reread);
            return kFailure;
        }
        if ((value & step.bit) != 0) {
            const bool first = step.bit == steps[0].bit;
            copyText(record.revision, first ? "B0/B1" : "B2");
            record.revisionIndex = first ? 2 : 3;
            record.revisionCode = first ? 2 : 4;
            return 0;
        }
    }
    copyText(record.revision, "B3");
    record.revisionIndex = 4;
    record.revisionCode = 5;
    return 0;
}

struct OstrelModel {
    uint16_t productId;
    const char* name;
    uint32_t type;
};

constexpr OstrelModel kOstrelModels[] = {
    {0x211, "Kerrin28", ZELKOR_CHIP_PALX},    {0x213, "Kerrin36", ZELKOR_CHIP_PALX},
    {0x220, "Tolvane24", ZELKOR_CHIP_OSTREL}, {0x221, "Tolvane28", ZELKOR_CHIP_OSTREL},
    {0x224, "Tolvane12", ZELKOR_CHIP_OSTREL}, {0x225, "Tolvane16", ZELKOR_CHIP_OSTREL},
    {0x226, "Tolvane20", ZELKOR_CHIP_OSTREL}, {0x227, "Tolvane20A", ZELKOR_CHIP_OSTREL},
};

ZELKOR_STATUS identifyOstrel(TCP_INSTANCE* instance) {
    const ZELKOR_INSTANCE* handle = instance->handle;
    ZELKOR_EXPANDER& record = instance->expander;
    LOG_INFO(handle, kIdentify, "Device is Ostrel. Reading device specific information");
    LOG_INFO(handle, kIdentify, "Reading Ostrel Device Signature");
    uint32_t signature = 0;
    if (readWord(instance, kOstrelSignatureAddress, &signature) != 0) {
        LOG_ERROR(handle, kIdentify, "Reading Ostrel Device Signature **** FAILED ****");
        return kFailure;
    }
    LOG_INFO(handle, kIdentify, "Ostrel Device Signature is 0x%08x", signature);

    const uint8_t revision = static_cast<uint8_t>(signature >> 8);
    if (revision == 0 || revision == 1) {
        copyText(record.revision, revision == 0 ? "A0" : "A1");
        record.revisionIndex = revision;
        record.revisionCode = revision;
    } else if (revision == 2) {
        if (const ZELKOR_STATUS status = probeOstrelRevision(instance); status != 0)
            return status;
    } else {
        record.revisionCode = revision;
        copyText(record.revision, "Unknown Revision");
        LOG_ERROR(handle, kIdentify, "Expander Revision Id is %s **** FAILED ****", record.revision);
        return kFailure;
    }
    LOG_INFO(handle, kIdentify, "Expander Revision Id is %s", record.revision);

    record.productId = static_cast<uint16_t>(signature >> 16);
    if (record.productId == kProductBriskoOrTolvane36) {
        // The switch model carries its identity in the firmware header the flash window shows.
        LOG_INFO(handle, kIdentify, "Reading 1 Dword from 0x%08x memory location", kSwitchIdentityAddress);
        uint8_t identity = 0;
        if (tcpReadBuffer(socketOf(instance), kMemoryBuffer, &identity, kSwitchIdentityAddress, 1,
                          instance->tunnelAddress, 0) != 0) {
            LOG_ERROR(handle, kIdentify, "Reading 1 Dword from 0x%08x memory location **** FAILED ****",
                      kSwitchIdentityAddress);
            return kReadFailed;
        }
        const bool isSwitch = identity == kSwitchIdentity;
        copyText(record.name, isSwitch ? "Brisko16" : "Tolvane36");
        record.type = isSwitch ? ZELKOR_CHIP_OSTREL_SWITCH : ZELKOR_CHIP_OSTREL;
    } else {
        const auto* model =
            std::find_if(std::begin(kOstrelModels), std::end(kOstrelModels),
                         [&](const OstrelModel& m) { return m.productId == record.productId; });
        if (model != std::end(kOstrelModels)) {
            copyText(record.name, model->name);
            record.type = model->type;
        } else {
            copyText(record.name, "Unknown Expander");
        }
    }
    LOG_INFO(handle, kIdentify, "Expander Type is %s", record.name);
    return 0;
}

ZELKOR_STATUS identifyChip(TCP_INSTANCE* instance) {
    const ZELKOR_INSTANCE* handle = instance->handle;
    LOG_INFO(handle, kIdentify, "Identifying Expander as Gen2 or Gen3");
    uint32_t word = 0;
    if (readWord(instance, kGenerationProbeAddress, &word) != 0) {
        LOG_ERROR(handle, kIdentify, "Identifying Expander as Gen2 or Gen3 **** FAILED ****");
        LOG_INFO(handle, kIdentify, "Retrying to identify Expander as Gen2 or Gen3");
        // A word that could not be read names no family.
        if (readWord(instance, kGenerationProbeAddress, &word) != 0) {
            LOG_ERROR(handle, kIdentify, "Retrying to identify Expander as Gen2 or Gen3 **** FAILED ****");
            return kFailure;
        }
    }
    return word != 0 ? identifyQuenza(instance) : identifyOstrel(instance);
}

// ---- operations ----

ZELKOR_STATUS tcpVersion(uint8_t* major, uint8_t* minor) {
    if (major == nullptr || minor == nullptr)
        return kInvalidArgument;
    *major = 1;
    *minor = 0;
    return 0;
}

ZELKOR_STATUS tcpOpen(ZELKOR_INSTANCE* handle, uint64_t target, void** out) {
    constexpr const char* fn = "zelkor_ial_open";
    Trace trace(handle, fn);
    if (gTcpInstanceList == nullptr) {
        gTcpInstanceList = ll_new();
        if (gTcpInstanceList == nullptr) {
            printConsole("\n**** ERROR **** Failed to Initialize Library");
            return kNotInitialised;
        }
    }
    if (out != nullptr)
        *out = nullptr;
    if (handle == nullptr || target == 0 || out == nullptr) {
        printConsole("\n**** ERROR **** Invalid Arguments");
        return kInvalidArgument;
    }
    const char* address = reinterpret_cast<const char*>(static_cast<uintptr_t>(target));

    handle->designatedRegions = 1;
    CPtr<TCP_INSTANCE> instance(static_cast<TCP_INSTANCE*>(std::calloc(1, sizeof(TCP_INSTANCE))));
    if (instance == nullptr) {
        printConsole("\n**** ERROR **** Unable to allocate Memory");
        return kNoMemory;
    }
    instance->handle = handle;
    instance->socket = kTcpNoSocket;
    LOG_INFO(handle, fn, "Connecting to %s", hostName(handle));
    const int socket = osal_tcpConnOpen(address);
    if (socket < 0) {
        printConsole("\n**** ERROR **** Unable to connect to %s\n", hostName(handle));
        LOG_ERROR(handle, fn, "Connecting to %s **** FAILED ****", hostName(handle));
        return kConnectFailed;
    }
    instance->socket = static_cast<uint64_t>(socket);
    LOG_INFO(handle, fn, "Connection to Expander with host name %s successful", hostName(handle));
    if (ll_add(gTcpInstanceList, instance.get(), 0, LL_AT_TAIL) != LL_SUCCESS) {
        LOG_ERROR(handle, fn, "Unable to allocate Memory **** FAILED ****");
        printConsole("\n**** ERROR **** Unable to allocate Memory");
        osal_tcpConnClose(socket);
        return kNoMemory;
    }
    *out = instance.release();
    return 0;
}

ZELKOR_STATUS tcpClose(void* instance) {
    constexpr const char* fn = "zelkor_ial_close";
    auto* tcp = static_cast<TCP_INSTANCE*>(instance);
    if (!isListed(tcp) || tcp->handle == nullptr)
        return kInvalidInstance;
    Trace trace(tcp->handle, fn);
    if (tcp->socket != kTcpNoSocket)
        osal_tcpConnClose(socketOf(tcp));
    tcp->socket = kTcpNoSocket;
    // isListed left the cursor on this instance.
    if (ll_remove(gTcpInstanceList, LL_AT_CURSOR) != LL_SUCCESS) {
        LOG_ERROR(tcp->handle, fn, "Unable to deallocate Memory **** FAILED ****");
        return kFailure;
    }
    std::free(tcp);
    return 0;
}

ZELKOR_STATUS tcpGetExpanders(void* instance, ZELKOR_EXPANDER_LIST** out) {
    constexpr const char* fn = kIdentify;
    TCP_INSTANCE* tcp = usable(instance, true);
    if (tcp == nullptr)
        return kInvalidInstance;
    const ZELKOR_INSTANCE* handle = tcp->handle;
    Trace trace(handle, fn);
    if (out == nullptr) {
        LOG_ERROR(handle, fn, "Invalid Argument PtrList **** FAILED ****");
        return kInvalidArgument;
    }
    if (*out != nullptr)
        return 0;
    CPtr<ZELKOR_EXPANDER_LIST> node(
        static_cast<ZELKOR_EXPANDER_LIST*>(std::calloc(1, sizeof(ZELKOR_EXPANDER_LIST))));
    if (node == nullptr) {
        LOG_ERROR(handle, fn, "Unable to allocate memory for the Expanders List **** FAILED ****");
        return kNoMemory;
    }
    LOG_INFO(handle, fn, "Reading Expander SAS Address");
    uint32_t high = 0;
    uint32_t low = 0;
    // Nothing of a reply that did not arrive whole is used.
    if (tcpQuerySasAddress(socketOf(tcp), &high, &low) != 0) {
        LOG_ERROR(handle, fn, "Reading Expander SAS Address **** FAILED ****");
        return kFailure;
    }
    tcp->expander.sasAddressHigh = high;
    tcp->expander.sasAddressLow = low;
    std::memcpy(tcp->tunnelAddress, tcpTunnelAddress(), kTcpTunnelAddressSize);

    if (tcp->identified == 0) {
        if (const ZELKOR_STATUS status = identifyChip(tcp); status != 0) {
            LOG_ERROR(handle, fn, "Unable to find the Expanders SAS Address **** FAILED ****");
            return status;
        }
        tcp->identified = 1;
    }
    LOG_INFO(handle, fn, "Expander SAS Address is 0x%08x:%08x", high, low);
    node->expander = tcp->expander;
    node->next = nullptr;
    *out = node.release();
    return 0;
}

// Checks shared by upload and download: 0, or 5 after the failure line. The region id must fit the
// request's buffer id, unless the region is left to the hardware module (checked before this).
ZELKOR_STATUS checkTransfer(const ZELKOR_INSTANCE* handle, const char* fn, const ZELKOR_REGION* region,
                            uint32_t size, FILE* file, const uint8_t* buffer, bool selfProgrammed = false) {
    if (region == nullptr || size == 0 || (file == nullptr) == (buffer == nullptr) ||
        (region->regionId > 0xFF && !selfProgrammed)) {
        LOG_ERROR(handle, fn, "Invalid Arguments **** FAILED ****");
        return kInvalidArgument;
    }
    return 0;
}

// A flash region of index 0xFF: the hardware module programs and erases it itself (27), nothing is sent.
bool selfProgrammed(const ZELKOR_REGION* region) {
    return region != nullptr && region->kind >= ZELKOR_REGION_FLASH &&
           region->kind <= ZELKOR_REGION_DESIGNATED_LAST && region->index == kInvalidRegionIndex;
}

// Kinds 1 to 9 are flash; everything else is memory or registers.
bool checkRegion(const ZELKOR_INSTANCE* handle, const ZELKOR_REGION* region) {
    const bool flash = region->kind >= ZELKOR_REGION_FLASH && region->kind <= ZELKOR_REGION_DESIGNATED_LAST;
    LOG_INFO(handle, "zelkor_ial_checkRegion", "%s",
             flash ? "Read/Write to FLASH\n" : "Read/Write to Memory or Register\n");
    return flash;
}

ZELKOR_STATUS tcpUpload(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file,
                        uint8_t* buffer) {
    constexpr const char* fn = "zelkor_ial_uploadRegion";
    TCP_INSTANCE* tcp = usable(instance, true);
    if (tcp == nullptr)
        return kInvalidInstance;
    const ZELKOR_INSTANCE* handle = tcp->handle;
    Trace trace(handle, fn);
    if (const ZELKOR_STATUS status = checkTransfer(handle, fn, region, size, file, buffer); status != 0)
        return status;
    const bool flash = checkRegion(handle, region);
    CPtr<uint8_t> fileBuffer;
    if (file != nullptr) {
        fileBuffer.reset(static_cast<uint8_t*>(std::calloc(size, 1)));
        if (fileBuffer == nullptr) {
            LOG_ERROR(handle, fn, "Unable to allocate %d Bytes of Memory **** FAILED ****",
                      static_cast<int>(size));
            return kNoMemory;
        }
        buffer = fileBuffer.get();
    }
    const uint8_t bufferId = static_cast<uint8_t>(region->regionId);
    const uint32_t address = flash ? offset : offset + region->base;
    LOG_INFO(handle, fn, "Reading %d Bytes at 0x%08x offset using 0x%02x BufferId", static_cast<int>(size),
             address, bufferId);
    if (flash)
        std::memset(buffer, 0, size);
    const ZELKOR_STATUS status =
        tcpReadBuffer(socketOf(tcp), bufferId, buffer, address, size, tcp->tunnelAddress,
                      static_cast<uint8_t>(region->descriptorFlag));
    if (status != 0) {
        LOG_ERROR(handle, fn, "Reading %d Bytes at 0x%08x offset using 0x%02x BufferId **** FAILED ****",
                  static_cast<int>(size), address, bufferId);
        return status;
    }
    if (flash && region->descriptorFlag == 1 && size == 4) {
        // A buffer descriptor: the capacity is the big-endian 24-bit number in bytes 1 to 3.
        const uint32_t capacity = (uint32_t{buffer[1]} << 16) | (uint32_t{buffer[2]} << 8) | buffer[3];
        for (int i = 0; i < 4; ++i)
            buffer[i] = static_cast<uint8_t>(capacity >> (8 * i));
    }
    if (file != nullptr) {
        const bool written = std::fwrite(buffer, 1, size, file) == size;
        if (std::fflush(file) != 0 || !written) {
            LOG_ERROR(handle, fn, "%d Bytes Written to the file **** FAILED ****", static_cast<int>(size));
            return kFailure;
        }
    }
    LOG_INFO(handle, fn, "%d Bytes Written to the file", static_cast<int>(size));
    return 0;
}

// The whole file from its start, in a new buffer; its length in bytes goes to length.
ZELKOR_STATUS fileToBuffer(FILE* file, CPtr<uint8_t>& out, size_t* length) {
    if (std::fseek(file, 0, SEEK_END) != 0)
        return kNoMemory;
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return kNoMemory;
    *length = static_cast<size_t>(end);
    out.reset(static_cast<uint8_t*>(std::calloc(*length + 1, 1)));
    if (out == nullptr)
        return kNoMemory;
    if (std::fread(out.get(), 1, *length, file) != *length)
        return kNoMemory;
    return 0;
}

constexpr const char* kDownload = "zelkor_ial_downloadRegion";
constexpr const char* kWritingText = "Writing %d Bytes at 0x%08x Offset using 0x%02x Buffer ID";
constexpr const char* kWritingFailedText =
    "Writing %d Bytes at 0x%08x Offset using 0x%02x Buffer ID **** FAILED ****";

ZELKOR_STATUS downloadMemory(const TCP_INSTANCE* tcp, const ZELKOR_REGION* region, uint32_t offset,
                             uint32_t size, const uint8_t* data) {
    const ZELKOR_INSTANCE* handle = tcp->handle;
    const uint32_t address = offset + region->base;
    const uint8_t flag = static_cast<uint8_t>(region->descriptorFlag);
    if (address == kQuenzaWatchdogAddress) {
        LOG_INFO(handle, kDownload, kWritingText, static_cast<int>(kWatchdogResetData.size()), 0u,
                 kResetControlBuffer);
        const ZELKOR_STATUS status =
            tcpWriteBuffer(socketOf(tcp), kResetControlBuffer, kWatchdogResetData.data(), 0,
                           static_cast<uint32_t>(kWatchdogResetData.size()), tcp->tunnelAddress, flag);
        if (status != 0 && status != kTcpStatusConnectionLost)
            LOG_ERROR(handle, kDownload, kWritingFailedText, static_cast<int>(kWatchdogResetData.size()), 0u,
                      kResetControlBuffer);
        return status;
    }
    // An Ethernet setting arrives as the page id with a size code, not as that many bytes of data; this
    // interface has no page to patch, and sending the size as a length would read past the caller's value.
    const uint32_t sizeCode = (uint32_t{handle->fieldSelector} << 8) | kEthernetSizeCode;
    if (size == sizeCode && (address == MFG_PAGE_ETHERNET_OSTREL || address == MFG_PAGE_ETHERNET_QUENZA)) {
        LOG_ERROR(handle, kDownload, "Ethernet settings cannot be written over TCP **** FAILED ****");
        return kNotSupportedHere;
    }
    LOG_INFO(handle, kDownload, kWritingText, static_cast<int>(size), address, kRegisterBuffer);
    const ZELKOR_STATUS status = tcpWriteBuffer(socketOf(tcp), static_cast<uint8_t>(region->regionId), data,
                                                address, size, tcp->tunnelAddress, flag);
    if (status != 0 && status != kTcpStatusConnectionLost)
        LOG_ERROR(handle, kDownload, kWritingFailedText, static_cast<int>(size), address, kRegisterBuffer);
    return status;
}

ZELKOR_STATUS downloadFlash(const TCP_INSTANCE* tcp, const ZELKOR_REGION* region, uint32_t offset,
                            uint32_t size, const uint8_t* data) {
    const ZELKOR_INSTANCE* handle = tcp->handle;
    if (region->index == kInvalidRegionIndex) {
        LOG_ERROR(handle, kDownload, "Invalid Region ID **** FAILED ****");
        return kProgramFlashYourself;
    }
    const uint8_t bufferId = static_cast<uint8_t>(region->regionId);
    // Every block's offset must fit the request, or the download would stop half-way through the flash.
    const uint64_t lastBlock = uint64_t{offset} + (size - 1) / kFlashBlockSize * kFlashBlockSize;
    uint8_t cdb[kTcpCdbSize];
    if (lastBlock > UINT32_MAX ||
        !tcpPrepareCdb(cdb, kWriteBufferOperation, bufferId, static_cast<uint32_t>(lastBlock),
                       std::min(kFlashBlockSize, size), static_cast<uint8_t>(region->descriptorFlag))) {
        LOG_ERROR(handle, kDownload, "Invalid Arguments **** FAILED ****");
        return kInvalidArgument;
    }
    LOG_INFO(handle, kDownload, kWritingText, static_cast<int>(size), offset, bufferId);
    constexpr const char* blocksFn = "tcpWriteBuffer_downloadInBlocks";
    LOG_INFO(handle, blocksFn, "Block size = %d", static_cast<int>(kFlashBlockSize));
    LOG_INFO(handle, blocksFn, "Number of blocks = %d", static_cast<int>(size / kFlashBlockSize));
    LOG_INFO(handle, blocksFn, "Last block size = %d", static_cast<int>(size % kFlashBlockSize));
    for (uint32_t done = 0; done < size;) {
        const uint32_t block = std::min(kFlashBlockSize, size - done);
        const ZELKOR_STATUS status =
            tcpWriteBuffer(socketOf(tcp), bufferId, data + done, offset + done, block, tcp->tunnelAddress,
                           static_cast<uint8_t>(region->descriptorFlag));
        if (status != 0) {
            LOG_ERROR(handle, blocksFn, "Writing %d bytes at %08x offset **** FAILED ****",
                      static_cast<int>(block), offset + done);
            LOG_ERROR(handle, kDownload, kWritingFailedText, static_cast<int>(size), offset, bufferId);
            return status;
        }
        done += block;
    }
    if (handle->progress != nullptr)
        for (uint32_t i = 0; i < kDownloadProgressEvents; ++i)
            handle->progress(1, 0);
    return 0;
}

ZELKOR_STATUS download(const TCP_INSTANCE* tcp, const ZELKOR_REGION* region, bool flash, uint32_t offset,
                       uint32_t size, const uint8_t* data) {
    return flash ? downloadFlash(tcp, region, offset, size, data)
                 : downloadMemory(tcp, region, offset, size, data);
}

ZELKOR_STATUS tcpDownload(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file,
                          uint8_t* buffer) {
    TCP_INSTANCE* tcp = usable(instance, true);
    if (tcp == nullptr)
        return kInvalidInstance;
    const ZELKOR_INSTANCE* handle = tcp->handle;
    Trace trace(handle, kDownload);
    const bool leftToModule = selfProgrammed(region);
    if (const ZELKOR_STATUS status =
            checkTransfer(handle, kDownload, region, size, file, buffer, leftToModule);
        status != 0)
        return status;
    const bool flash = checkRegion(handle, region);
    if (leftToModule)
        return downloadFlash(tcp, region, offset, size, buffer);
    CPtr<uint8_t> fileBuffer;
    if (file != nullptr) {
        LOG_INFO(handle, kDownload, "Converting File to Buffer");
        size_t length = 0;
        if (const ZELKOR_STATUS status = fileToBuffer(file, fileBuffer, &length); status != 0) {
            LOG_ERROR(handle, kDownload, "Unable to convert file to Buffer **** FAILED ****");
            return status;
        }
        // Only bytes the file holds are written; a size beyond its end is refused, not padded.
        if (length < size) {
            LOG_ERROR(handle, kDownload, "Invalid Arguments **** FAILED ****");
            return kInvalidArgument;
        }
        buffer = fileBuffer.get();
    }
    return download(tcp, region, flash, offset, size, buffer);
}

ZELKOR_STATUS tcpErase(void* instance, ZELKOR_REGION* region) {
    constexpr const char* fn = "zelkor_ial_eraseRegion";
    TCP_INSTANCE* tcp = usable(instance, false);
    if (tcp == nullptr)
        return kInvalidInstance;
    const ZELKOR_INSTANCE* handle = tcp->handle;
    Trace trace(handle, fn);
    if (region == nullptr) {
        LOG_ERROR(handle, fn, "Invalid Arguments **** FAILED ****");
        return kInvalidArgument;
    }
    if (tcp->socket == kTcpNoSocket)
        return kInvalidInstance;
    uint8_t erase[kEraseLength];
    std::memset(erase, 0xFF, sizeof erase);
    auto eraseOne = [&](const ZELKOR_REGION& target) {
        LOG_INFO(handle, fn, "Erasing region using 0x%02x Buffer ID", target.regionId);
        const ZELKOR_STATUS status =
            target.regionId > 0xFF && !selfProgrammed(&target)
                ? kInvalidArgument
                : download(tcp, &target, checkRegion(handle, &target), 0, kEraseLength, erase);
        if (status != 0)
            LOG_ERROR(handle, fn, "Erasing region using 0x%02x Buffer ID **** FAILED ****", target.regionId);
        return status;
    };
    if (region->kind != ZELKOR_REGION_FLASH) {
        if (region->regionId == 0xE2)
            region->regionId = 0xEB; // the erase request of buffer 0xE2 goes to 0xEB
        return eraseOne(*region);
    }
    LOG_INFO(handle, fn, "Erasing entire Flash");
    ZELKOR_STATUS status = kInvalidInstance; // no partition found
    for (const ZELKOR_REGION_LIST* node = handle->regions; node != nullptr; node = node->next) {
        if (node->region.kind != ZELKOR_REGION_PARTITION)
            continue;
        status = eraseOne(node->region);
        if (status != 0)
            break;
    }
    return status;
}

struct Operation {
    const char* name;
    ZELKOR_GENERIC_FUNCTION function;
};

const Operation kOperations[] = {
    {"zelkor_ial_open", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(tcpOpen)},
    {"zelkor_ial_close", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(tcpClose)},
    {"zelkor_ial_version", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(tcpVersion)},
    {"zelkor_ial_getExpanders", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(tcpGetExpanders)},
    {"zelkor_ial_downloadRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(tcpDownload)},
    {"zelkor_ial_uploadRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(tcpUpload)},
    {"zelkor_ial_eraseRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(tcpErase)},
};

// The slot types the core binds these operations to.
static_assert(std::is_same_v<decltype(&tcpOpen), IAL_OPEN_FUNCTION>);
static_assert(std::is_same_v<decltype(&tcpClose), IAL_CLOSE_FUNCTION>);
static_assert(std::is_same_v<decltype(&tcpVersion), IAL_VERSION_FUNCTION>);
static_assert(std::is_same_v<decltype(&tcpGetExpanders), IAL_GET_EXPANDERS_FUNCTION>);
static_assert(std::is_same_v<decltype(&tcpDownload), IAL_TRANSFER_FUNCTION>);
static_assert(std::is_same_v<decltype(&tcpUpload), IAL_TRANSFER_FUNCTION>);
static_assert(std::is_same_v<decltype(&tcpErase), IAL_ERASE_FUNCTION>);

} // namespace

extern "C" ZELKOR_GENERIC_FUNCTION ial_tcp_query_symbol(const char* name) {
    if (name == nullptr)
        return nullptr;
    for (const Operation& operation : kOperations)
        if (std::strcmp(operation.name, name) == 0)
            return operation.function;
    return nullptr;
}
