// In-band SAS interface module "IAL-SAS": finds the expanders behind the host's SCSI-generic devices,
// identifies each one (firmware signature, device signature, revision, board name, SAS address, Ethernet
// settings), selects the addressed one or lists them all, and reads, writes and erases expander regions
// with READ BUFFER and WRITE BUFFER. Operations are reached only through ial_sas_query_symbol.
#include "ial/zelkorIalSas.h"

#include "core/firmwareImage.h"
#include "core/modules.h"
#include "ial/sasCommands.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

LL_LIST* gSasInstanceList = nullptr;
ZELKOR_EXPANDER_LIST* gPtrExpList = nullptr;
uint8_t gFillIpAddrFlag = 0;
uint32_t gFlagDeviceErrorDisplayOpen = 0;
uint32_t gFlagDeviceErrorDisplayList = 0;

namespace {

constexpr const char* kModule = "zelkor_ial_SAS";

// Statuses of this module.
constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kInvalidInstance = 4;
constexpr ZELKOR_STATUS kInvalidArguments = 5;
constexpr ZELKOR_STATUS kNoMemory = 6;
constexpr ZELKOR_STATUS kUnknownExpander = 19;
constexpr ZELKOR_STATUS kNotAttached = 20;
constexpr ZELKOR_STATUS kNoExpanders = 21;
constexpr ZELKOR_STATUS kSwitchUnreadable = 25;
constexpr ZELKOR_STATUS kProgramFlashYourself = 27;
constexpr ZELKOR_STATUS kNotSupportedOnPalx = 29;
constexpr ZELKOR_STATUS kNoScsiDevices = 51;
// A READ BUFFER that brought fewer bytes than asked: the record it should fill is not there.
constexpr ZELKOR_STATUS kShortRead = SAS_READ_EMPTY;

// The first firmware signature word (buffer 0xE0 and, for type 1, buffer 0) tells the family.
constexpr uint32_t kSignatureOffset = offsetof(ZELKOR_FW_HEADER, signature);

// Expander registers.
constexpr uint32_t DEVICE_SIGNATURE_ADDRESS = 0xC000002Cu;
constexpr uint32_t DEVICE_SIGNATURE_ADDRESS_QUENZA = 0xC380002Cu;
constexpr uint32_t MISC_CONFIG_REG = 0xC00000A0u;
constexpr uint32_t SWITCH_MODEL_REG = 0x14000028u;
constexpr uint32_t IP_STATUS_REG = 0x424000C0u;
constexpr uint32_t IP_NOT_CONFIGURED = 1u << 6;
constexpr uint32_t SAS_ADDRESS_HIGH_OSTREL = 0xB0000048u;
constexpr uint32_t SAS_ADDRESS_LOW_OSTREL = 0xB000004Cu;
constexpr uint32_t SAS_ADDRESS_HIGH_QUENZA = 0xC0000048u;
constexpr uint32_t SAS_ADDRESS_LOW_QUENZA = 0xC000004Cu;
constexpr uint32_t kSwitchModel = 200;

// Configuration pages and their layout as a READ BUFFER of buffer 0xE6 returns them: little-endian
// length and id, then the data (data byte k is reply byte k + 4).
constexpr uint32_t kPageHeaderSize = 4;
constexpr uint32_t kBoardNameAt = 12;
constexpr uint32_t kBoardNameSize = 16;
constexpr uint32_t kEthernetIpAt = 4;
constexpr uint32_t kEthernetMaskAt = 8;
constexpr uint32_t kEthernetGatewayAt = 12;
constexpr uint32_t kEthernetMacAt = 16;
constexpr uint32_t kEthernetDhcpAt = 28;
constexpr uint32_t kEthernetPageMinimum = kEthernetDhcpAt + 4;
constexpr uint32_t kMacPageMacAt = 4;
constexpr uint32_t kMacPageMinimum = kMacPageMacAt + 6;
// The cached page lives in ZELKOR_EXPANDER.ethernetPage; a page that does not fit counts as missing.
constexpr uint32_t kEthernetCacheSize = sizeof(ZELKOR_EXPANDER::ethernetPage);
constexpr uint32_t kVpdAddressAt = 8;
constexpr uint32_t kVpdAddressLength = 15;

// Region operations.
constexpr uint32_t kChunkSize = 0x10000;
constexpr uint32_t kRegionIndexSelfProgram = 0xFF;
constexpr uint32_t kEthernetSizeCode = 0xE6;
constexpr std::array<uint8_t, 3> kChipResetRequest{0x00, 0x00, 0x00};
constexpr std::array<uint8_t, 3> kWatchdogResetRequest{0x01, 0x00, 0x01};
constexpr size_t kEraseRequestSize = 12;

constexpr const char* kUnknown = "Unknown";
constexpr const char* kReadFailedNotice = " **** OSAL SAS Device Read data FAILED";

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using HeapBytes = std::unique_ptr<uint8_t, FreeDeleter>;

// ---- log and console ----

__attribute__((format(printf, 4, 5))) void logLine(const ZELKOR_INSTANCE* handle, const char* function,
                                                   uint32_t level, const char* format, ...) {
    if (handle == nullptr || handle->log == nullptr)
        return;
    char text[512] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    handle->log(kModule, function, ZELKOR_LOG_SAS, level, 1, "%s", text);
}

#define LOG_INFO(handle, fn, ...) logLine(handle, fn, ZELKOR_LOG_INFO, __VA_ARGS__)
#define LOG_WARN(handle, fn, ...) logLine(handle, fn, ZELKOR_LOG_WARN, __VA_ARGS__)
#define LOG_ERROR(handle, fn, ...) logLine(handle, fn, ZELKOR_LOG_ERROR, __VA_ARGS__)

__attribute__((format(printf, 1, 2))) void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// Entry trace now, exit trace when the scope ends.
class Trace {
  public:
    Trace(const ZELKOR_INSTANCE* handle, const char* function) : handle_(handle), function_(function) {
        if (handle_ != nullptr && handle_->log != nullptr)
            handle_->log(kModule, function_, ZELKOR_LOG_SAS | ZELKOR_LOG_ENTRY, ZELKOR_LOG_INFO, 1, nullptr);
    }
    ~Trace() {
        if (handle_ != nullptr && handle_->log != nullptr)
            handle_->log(kModule, function_, ZELKOR_LOG_SAS | ZELKOR_LOG_EXIT, ZELKOR_LOG_INFO, 1, nullptr);
    }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

  private:
    const ZELKOR_INSTANCE* handle_;
    const char* function_;
};

// ---- small helpers ----

// Copies text into a fixed field, cut to fit and always terminated.
template <size_t N> void setText(char (&field)[N], const char* text) {
    const size_t n = strnlen(text, N - 1);
    std::memcpy(field, text, n);
    field[n] = '\0';
}

uint32_t littleEndian32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint32_t bigEndian32(const uint8_t* at) {
    return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
           (static_cast<uint32_t>(at[2]) << 8) | static_cast<uint32_t>(at[3]);
}

void putLittleEndian32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool isFamilyType(uint32_t type) {
    return type >= ZELKOR_CHIP_OSTREL && type <= ZELKOR_CHIP_QUENZA_DAX;
}

bool isQuenzaType(uint32_t type) {
    return type == ZELKOR_CHIP_QUENZA || type == ZELKOR_CHIP_QUENZA_DAX;
}

uint32_t highHalf(uint64_t address) {
    return static_cast<uint32_t>(address >> 32);
}

uint32_t lowHalf(uint64_t address) {
    return static_cast<uint32_t>(address);
}

// 1 when the two addresses are equal, compared by their halves.
int cmpSasAddress(const ZELKOR_INSTANCE* handle, uint32_t highA, uint32_t lowA, uint32_t highB,
                  uint32_t lowB) {
    Trace trace(handle, "cmpSasAddress");
    return highA == highB && lowA == lowB ? 1 : 0;
}

// ---- device access ----

// One READ BUFFER that must bring every byte asked for; a short transfer counts as failed.
ZELKOR_STATUS readWhole(const SAS_INSTANCE& inst, uint32_t bufferId, uint8_t* data, uint32_t length,
                        uint32_t offset, uint8_t descriptorFlag) {
    uint32_t transferred = 0;
    const ZELKOR_STATUS status =
        zelkor_ial_readData(bufferId, data, length, inst.device, offset, descriptorFlag, &transferred);
    if (status != 0)
        return status;
    return transferred == length ? 0 : kShortRead;
}

// One WRITE BUFFER that the device must take whole; bytes it reports as not taken make the write fail.
ZELKOR_STATUS writeWhole(const SAS_INSTANCE& inst, uint32_t bufferId, const uint8_t* data, uint32_t length,
                         uint32_t offset, uint8_t descriptorFlag) {
    uint32_t transferred = 0;
    const ZELKOR_STATUS status =
        zelkor_ial_writeData(bufferId, data, length, inst.device, offset, descriptorFlag, &transferred);
    if (status != 0)
        return status;
    return transferred == length ? 0 : SAS_WRITE_FAILED;
}

// A register or memory word (four bytes, little-endian).
ZELKOR_STATUS readWord(const SAS_INSTANCE& inst, uint32_t bufferId, uint32_t address, uint32_t* value) {
    std::array<uint8_t, 4> bytes{};
    const ZELKOR_STATUS status = readWhole(inst, bufferId, bytes.data(), bytes.size(), address, 0);
    *value = status == 0 ? littleEndian32(bytes.data()) : 0;
    return status;
}

ZELKOR_STATUS writeRegister(const SAS_INSTANCE& inst, uint32_t address, uint32_t value) {
    std::array<uint8_t, 4> bytes{};
    putLittleEndian32(bytes.data(), value);
    return writeWhole(inst, SAS_BUFFER_REGISTER, bytes.data(), bytes.size(), address, 0);
}

// Closes the held device once; the descriptor is cleared so that nothing closes it again.
void closeDevice(SAS_INSTANCE& inst) {
    if (inst.device == OSAL_SAS_NO_DEVICE)
        return;
    osal_sasDeviceClose(inst.device);
    inst.device = OSAL_SAS_NO_DEVICE;
}

// The listed instance equal to p (the list's cursor is left on its node), or null.
SAS_INSTANCE* listedInstance(void* p) {
    if (p == nullptr || gSasInstanceList == nullptr)
        return nullptr;
    void* data = nullptr;
    ll_moveFirst(gSasInstanceList);
    while (ll_get(gSasInstanceList, &data, nullptr) == LL_SUCCESS) {
        if (data == p)
            return static_cast<SAS_INSTANCE*>(p);
        ll_moveNext(gSasInstanceList);
    }
    return nullptr;
}

// Takes a listed instance off the list and frees it; false when the list refused the removal (the
// instance is freed all the same).
bool releaseInstance(SAS_INSTANCE* inst) {
    bool removed = listedInstance(inst) != nullptr && ll_remove(gSasInstanceList, LL_AT_CURSOR) == LL_SUCCESS;
    std::free(inst);
    return removed;
}

// ---- identification ----

// Firmware signature: sets the current expander type (0 when none is recognised).
ZELKOR_STATUS getSignature(SAS_INSTANCE& inst) {
    const char* fn = "getSignature";
    ZELKOR_INSTANCE* handle = inst.handle;
    Trace trace(handle, fn);
    gExpanderType = 0;
    LOG_INFO(handle, fn, "Reading Firmware Signature");
    uint32_t word = 0;
    readWord(inst, SAS_BUFFER_SIGNATURE, kSignatureOffset, &word);
    if (word == FW_SIGNATURE_QUENZA[0]) {
        gExpanderType = ZELKOR_CHIP_QUENZA;
    } else if (word == FW_SIGNATURE_OSTREL[0]) {
        gExpanderType = ZELKOR_CHIP_OSTREL;
    } else {
        readWord(inst, SAS_BUFFER_SIGNATURE_TYPE1, kSignatureOffset, &word);
        if (word != FW_SIGNATURE_PALX[0]) {
            LOG_ERROR(handle, fn, "Valid Firmware Signature Not Found");
            return kFailure;
        }
        gExpanderType = ZELKOR_CHIP_PALX;
        setText(inst.expander.name, "Kerrin - Unknown no of phys....");
        setText(inst.expander.revision, "Unknown Revision");
    }
    LOG_INFO(handle, fn, "Valid Firmware Signature Found");
    return 0;
}

// Names used for the board when the manufacturer page gives none.
struct BoardNameFallback {
    const char* headerFailed;
    const char* dataFailed;
};

BoardNameFallback boardFallback(uint32_t type, bool quenzaRules) {
    if (type == ZELKOR_CHIP_OSTREL_SWITCH)
        return {"Unknown Switch", "Unknown Switch"};
    if (quenzaRules && isQuenzaType(type))
        return {"Unknown", "Unknown "};
    return {"Unknown", "Unknown"};
}

// Board name from the manufacturer page 0xFF01, then the display name built from it. 0, or 6 when the
// page buffer could not be allocated.
ZELKOR_STATUS fillBoardName(SAS_INSTANCE& inst, const char* fn, bool quenzaRules) {
    ZELKOR_INSTANCE* handle = inst.handle;
    ZELKOR_EXPANDER& e = inst.expander;
    const BoardNameFallback fallback = boardFallback(e.type, quenzaRules);
    char board[kBoardNameSize + 1] = {};
    ZELKOR_STATUS result = 0;
    // The flag describes the device being identified only.
    gFillIpAddrFlag = 0;

    LOG_INFO(handle, fn, "Reading Report Manufacturer Configuration Page header");
    std::array<uint8_t, kPageHeaderSize> header{};
    bool headerRead = readWhole(inst, SAS_BUFFER_CONFIG_PAGE, header.data(), header.size(),
                                MFG_PAGE_MANUFACTURER_CONFIG, 1) == 0;
    const uint32_t length = header[0] | (header[1] << 8);
    if (quenzaRules && (header[2] != 0x01 || header[3] != 0xFF))
        headerRead = false;
    // A page too short to hold the board name is no manufacturer page.
    if (!headerRead || length < kBoardNameAt + kBoardNameSize) {
        gFillIpAddrFlag = 0;
        LOG_ERROR(handle, fn, "Unable to read report manufacture page Header **** FAILED ****");
        setText(board, fallback.headerFailed);
    } else {
        LOG_INFO(handle, fn, "Reading Report Manufacturer Configuration Page data");
        HeapBytes page(static_cast<uint8_t*>(std::calloc(length, 1)));
        if (!page) {
            LOG_ERROR(handle, fn,
                      "Memory allocation for reading Report Manufacturer Configuration Page data **** FAILED "
                      "****");
            result = kNoMemory;
            setText(board, fallback.dataFailed);
        } else if (readWhole(inst, SAS_BUFFER_CONFIG_PAGE, page.get(), length, MFG_PAGE_MANUFACTURER_CONFIG,
                             1) != 0) {
            LOG_ERROR(handle, fn, "Unable to read report manufacture page data **** FAILED ****");
            setText(board, fallback.dataFailed);
        } else {
            // At most 16 bytes, cut at the first blank (or NUL).
            const uint8_t* name = page.get() + kBoardNameAt;
            size_t n = 0;
            while (n < kBoardNameSize && name[n] != ' ' && name[n] != '\0')
                ++n;
            std::memcpy(board, name, n);
            board[n] = '\0';
            gFillIpAddrFlag = 1;
        }
    }

    if (e.type == ZELKOR_CHIP_OSTREL_SWITCH) {
        setText(e.name, board);
    } else {
        char model[sizeof e.name + 1] = {};
        std::memcpy(model, e.name, sizeof e.name);
        char combined[sizeof board + sizeof model + 4];
        std::snprintf(combined, sizeof combined, "%s (%s)", board, model);
        setText(e.name, combined);
    }
    return result;
}

struct OstrelModel {
    uint16_t productId;
    const char* name;
    uint32_t type;
};

constexpr std::array<OstrelModel, 8> kOstrelModels{{
    {0x211, "Kerrin28", ZELKOR_CHIP_PALX},
    {0x213, "Kerrin36", ZELKOR_CHIP_PALX},
    {0x220, "Tolvane24", ZELKOR_CHIP_OSTREL},
    {0x221, "Tolvane28", ZELKOR_CHIP_OSTREL},
    {0x224, "Tolvane12", ZELKOR_CHIP_OSTREL},
    {0x225, "Tolvane16", ZELKOR_CHIP_OSTREL},
    {0x226, "Tolvane20", ZELKOR_CHIP_OSTREL},
    {0x227, "Tolvane20A", ZELKOR_CHIP_OSTREL},
}};
constexpr uint16_t kProductTolvane36OrSwitch = 0x223;

// Revision probe of family Ostrel revision 2: which of bits 7 and 6 of MISC_CONFIG_REG stick when set.
// 7 or 6 for the bit that stuck, 0 for neither, -1 when a register access failed. The register is left
// as written.
int probeMiscConfig(const SAS_INSTANCE& inst, const char* fn) {
    ZELKOR_INSTANCE* handle = inst.handle;
    constexpr uint32_t kBytes = 4;
    uint32_t value = 0;
    auto readFailed = [&](const char* notice, const char* text) {
        say("%s", notice);
        LOG_ERROR(handle, fn, text, kBytes, MISC_CONFIG_REG, SAS_BUFFER_REGISTER);
        return -1;
    };
    constexpr const char* kReadFailed =
        "Reading %d bytes of MISC_CONFIG_REG at 0x%08x offset using 0x%x buffer ID **** FAILED ****";
    if (readWord(inst, SAS_BUFFER_REGISTER, MISC_CONFIG_REG, &value) != 0)
        return readFailed(
            kReadFailedNotice,
            "Unable to read %d bytes of data at 0x%08x offset using 0x%x Buffer ID **** FAILED ****");
    value |= 0x80;
    if (writeRegister(inst, MISC_CONFIG_REG, value) != 0) {
        LOG_ERROR(
            handle, fn,
            "Unable to Write 0x%x data of %d bytes at 0x%08x offset using 0x%x Buffer ID **** FAILED ****",
            value, kBytes, MISC_CONFIG_REG, SAS_BUFFER_REGISTER);
        return -1;
    }
    if (readWord(inst, SAS_BUFFER_REGISTER, MISC_CONFIG_REG, &value) != 0)
        return readFailed(kReadFailedNotice, kReadFailed);
    if (value & 0x80)
        return 7;
    if (readWord(inst, SAS_BUFFER_REGISTER, MISC_CONFIG_REG, &value) != 0)
        return readFailed(kReadFailedNotice, kReadFailed);
    value |= 0x40;
    if (writeRegister(inst, MISC_CONFIG_REG, value) != 0) {
        LOG_ERROR(
            handle, fn,
            "Writing %d bytes of MISC_CONFIG_REG at 0x%08x offset using 0x%x buffer ID **** FAILED ****",
            kBytes, MISC_CONFIG_REG, SAS_BUFFER_REGISTER);
        return -1;
    }
    if (readWord(inst, SAS_BUFFER_REGISTER, MISC_CONFIG_REG, &value) != 0)
        return readFailed("\n **** OSAL SAS Device Read data FAILED", kReadFailed);
    return (value & 0x40) ? 6 : 0;
}

// Reads the device-signature register; logs as both family identifications do.
ZELKOR_STATUS readDeviceSignature(const SAS_INSTANCE& inst, const char* fn, uint32_t address,
                                  uint32_t* value) {
    ZELKOR_INSTANCE* handle = inst.handle;
    LOG_INFO(handle, fn, "Reading %d bytes of DEVICE_SIGNATURE_ADDRESS at 0x%08x offset using 0x%x buffer ID",
             4, address, SAS_BUFFER_MEMORY);
    const ZELKOR_STATUS status = readWord(inst, SAS_BUFFER_MEMORY, address, value);
    if (status != 0) {
        LOG_ERROR(handle, fn,
                  "Unable to read %d bytes of data at 0x%08x offset using 0x%x Buffer ID **** FAILED ****", 4,
                  address, SAS_BUFFER_MEMORY);
        return status;
    }
    LOG_INFO(handle, fn, "DeviceSignatureAddress(0x%08x) value is 0x%08x", address, *value);
    return 0;
}

// The argument checks of both family identifications; true when the step must end with *result.
bool refusesIdentification(const SAS_INSTANCE* inst, ZELKOR_STATUS* result) {
    if (inst == nullptr || inst->handle == nullptr) {
        say("**** ERROR **** PtrZelkor is NULL");
        *result = kInvalidArguments;
        return true;
    }
    if (inst->handle->progress == nullptr) {
        say("**** ERROR **** Invalid arguments");
        *result = kInvalidArguments;
        return true;
    }
    return false;
}

ZELKOR_STATUS zelkor_ial_getExpanderIDAndRevision(SAS_INSTANCE* inst) {
    const char* fn = "zelkor_ial_getExpanderIDAndRevision";
    ZELKOR_STATUS refused = 0;
    if (refusesIdentification(inst, &refused))
        return refused;
    ZELKOR_INSTANCE* handle = inst->handle;
    ZELKOR_EXPANDER& e = inst->expander;
    Trace trace(handle, fn);
    uint32_t signature = 0;
    if (const ZELKOR_STATUS status = readDeviceSignature(*inst, fn, DEVICE_SIGNATURE_ADDRESS, &signature))
        return status;

    const auto revisionBits = static_cast<uint8_t>(signature >> 8);
    e.revisionCode = revisionBits;
    bool decided = true;
    switch (revisionBits) {
    case 0:
    case 1:
        setText(e.revision, revisionBits == 0 ? "A0" : "A1");
        e.revisionIndex = revisionBits;
        break;
    case 2:
        switch (probeMiscConfig(*inst, fn)) {
        case 7:
            setText(e.revision, "B0/B1");
            e.revisionIndex = 2;
            e.revisionCode = 2;
            break;
        case 6:
            setText(e.revision, "B2");
            e.revisionIndex = 3;
            e.revisionCode = 4;
            break;
        case 0:
            setText(e.revision, "B3");
            e.revisionIndex = 4;
            e.revisionCode = 5;
            break;
        default:
            decided = false;
            break;
        }
        break;
    default:
        setText(e.revision, "Unknown Revision");
        break;
    }
    if (decided)
        LOG_INFO(handle, fn, "Expander Revision is %s ", e.revision);

    e.productId = static_cast<uint16_t>(signature >> 16);
    ZELKOR_STATUS status = 0;
    if (e.productId == kProductTolvane36OrSwitch) {
        uint32_t model = 0;
        if (readWord(*inst, SAS_BUFFER_REGISTER, SWITCH_MODEL_REG, &model) != 0) {
            say("%s", kReadFailedNotice);
            status = kSwitchUnreadable;
        } else if ((model & 0xFFFF) == kSwitchModel) {
            setText(e.name, "Brisko16");
            e.type = ZELKOR_CHIP_OSTREL_SWITCH;
        } else {
            setText(e.name, "Tolvane36");
            e.type = ZELKOR_CHIP_OSTREL;
        }
    } else {
        status = kUnknownExpander;
        setText(e.name, "Unknown Expander");
        for (const OstrelModel& m : kOstrelModels)
            if (m.productId == e.productId) {
                setText(e.name, m.name);
                e.type = m.type;
                status = 0;
                break;
            }
    }

    if (e.type == ZELKOR_CHIP_OSTREL || e.type == ZELKOR_CHIP_OSTREL_SWITCH)
        status = fillBoardName(*inst, fn, false);
    LOG_INFO(handle, fn, "Expander type is %s ", e.name);
    return status;
}

ZELKOR_STATUS zelkor_ial_getExpanderIDAndRevisionQuenza(SAS_INSTANCE* inst) {
    const char* fn = "zelkor_ial_getExpanderIDAndRevisionGen3";
    ZELKOR_STATUS refused = 0;
    if (refusesIdentification(inst, &refused))
        return refused;
    ZELKOR_INSTANCE* handle = inst->handle;
    ZELKOR_EXPANDER& e = inst->expander;
    Trace trace(handle, fn);
    uint32_t signature = 0;
    if (const ZELKOR_STATUS status =
            readDeviceSignature(*inst, fn, DEVICE_SIGNATURE_ADDRESS_QUENZA, &signature))
        return status;
    e.productId = static_cast<uint16_t>(signature >> 16);
    e.revisionCode = static_cast<uint8_t>(signature >> 8);
    productIDAndRevDecode(&e);
    LOG_INFO(handle, fn, "Device found is %s ", e.familyName != nullptr ? e.familyName : "");
    ZELKOR_STATUS status = 0;
    if (isFamilyType(e.type))
        status = fillBoardName(*inst, fn, true);
    LOG_INFO(handle, fn, "Expander Type is %s ", e.name);
    return status;
}

ZELKOR_STATUS getIDAndRevision(SAS_INSTANCE& inst) {
    const char* fn = "getIDAndRevision";
    ZELKOR_INSTANCE* handle = inst.handle;
    Trace trace(handle, fn);
    switch (gExpanderType) {
    case ZELKOR_CHIP_OSTREL:
        LOG_INFO(handle, fn, "Reading Id and Revision of theExpander");
        return zelkor_ial_getExpanderIDAndRevision(&inst);
    case ZELKOR_CHIP_QUENZA:
    case ZELKOR_CHIP_QUENZA_DAX:
        LOG_INFO(handle, fn, "Reading Id and Revision of the Expander");
        return zelkor_ial_getExpanderIDAndRevisionQuenza(&inst);
    default:
        LOG_ERROR(handle, fn, "Reading Expander Id and Revision **** FAILED ****");
        return kFailure;
    }
}

// ---- SAS address ----

ZELKOR_STATUS fillAddressFromRegisters(SAS_INSTANCE* inst, const char* fn, uint32_t highAddress,
                                       uint32_t lowAddress) {
    if (inst == nullptr || inst->handle == nullptr) {
        say("**** ERROR **** PtrZelkor is NULL");
        return kInvalidArguments;
    }
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    uint32_t high = 0;
    uint32_t low = 0;
    LOG_INFO(handle, fn, "Reading %d bytes using 0x%x buffer ID at 0x%08x offset for SAS address High", 4,
             SAS_BUFFER_REGISTER, highAddress);
    ZELKOR_STATUS status = readWord(*inst, SAS_BUFFER_REGISTER, highAddress, &high);
    if (status != 0) {
        say("%s", kReadFailedNotice);
        LOG_ERROR(handle, fn,
                  "Unable to read %d bytes using 0x%x buffer ID at 0x%08x offset for SAS address High **** "
                  "FAILED ****",
                  4, SAS_BUFFER_REGISTER, highAddress);
        return status;
    }
    LOG_INFO(handle, fn, "SAS address High 0x%08x ", high);
    LOG_INFO(handle, fn, "Reading %d bytes using 0x%x buffer ID at 0x%08x offset for SAS address Low", 4,
             SAS_BUFFER_REGISTER, lowAddress);
    status = readWord(*inst, SAS_BUFFER_REGISTER, lowAddress, &low);
    if (status != 0) {
        say("%s", kReadFailedNotice);
        LOG_ERROR(handle, fn,
                  "Unable to read %d bytes using 0x%x buffer ID at 0x%08x offset for SAS address Low **** "
                  "FAILED ****",
                  4, SAS_BUFFER_REGISTER, lowAddress);
        return status;
    }
    LOG_INFO(handle, fn, "SAS address Low 0x%08x ", low);
    inst->expander.sasAddressHigh = high;
    inst->expander.sasAddressLow = low;
    return 0;
}

// Family Ostrel and Quenza: the address from the family's SAS-address registers.
ZELKOR_STATUS zelkor_ial_fillOstrelSpecificInfo(SAS_INSTANCE* inst) {
    return fillAddressFromRegisters(inst, "zelkor_ial_fillOstrelSpecificInfo", SAS_ADDRESS_HIGH_OSTREL,
                                    SAS_ADDRESS_LOW_OSTREL);
}

ZELKOR_STATUS zelkor_ial_fillGen3SpecificInfo(SAS_INSTANCE* inst) {
    return fillAddressFromRegisters(inst, "zelkor_ial_fillGen3SpecificInfo", SAS_ADDRESS_HIGH_QUENZA,
                                    SAS_ADDRESS_LOW_QUENZA);
}

// Chip type 1: the address from INQUIRY VPD page 0x83.
ZELKOR_STATUS zelkor_ial_fillPalxSpecificInfo(SAS_INSTANCE* inst) {
    const char* fn = "zelkor_ial_fillPalxSpecificInfo";
    if (inst == nullptr || inst->handle == nullptr) {
        say("**** ERROR **** PtrZelkor is NULL");
        return kInvalidArguments;
    }
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    LOG_INFO(handle, fn, "Reading VPD page");
    std::array<uint8_t, SAS_INQUIRY_REPLY_LENGTH> reply{};
    uint32_t received = 0;
    const ZELKOR_STATUS status =
        zelkor_ial_inquiryVpd(inst->device, VPD_DEVICE_IDENTIFICATION, reply.data(), &received);
    uint64_t address = 0;
    if (status != 0)
        LOG_ERROR(handle, fn, "Unable to read VPD page **** FAILED ****");
    else
        address = getSASAddress(reply.data(), received);
    inst->expander.sasAddressHigh = highHalf(address);
    inst->expander.sasAddressLow = lowHalf(address);
    LOG_INFO(handle, fn, "Sas Address %08x%08x", inst->expander.sasAddressHigh, inst->expander.sasAddressLow);
    return status;
}

ZELKOR_STATUS zelkor_ial_getExpanderSasAddress(SAS_INSTANCE& inst) {
    const char* fn = "zelkor_ial_getExpanderSasAddress";
    if (inst.handle == nullptr)
        return kInvalidArguments;
    Trace trace(inst.handle, fn);
    ZELKOR_STATUS status = kUnknownExpander;
    switch (inst.expander.type) {
    case ZELKOR_CHIP_OSTREL:
    case ZELKOR_CHIP_OSTREL_SWITCH:
        status = zelkor_ial_fillOstrelSpecificInfo(&inst);
        break;
    case ZELKOR_CHIP_QUENZA:
    case ZELKOR_CHIP_QUENZA_DAX:
        status = zelkor_ial_fillGen3SpecificInfo(&inst);
        break;
    case ZELKOR_CHIP_PALX:
        status = zelkor_ial_fillPalxSpecificInfo(&inst);
        break;
    default:
        break;
    }
    if (status != 0)
        LOG_ERROR(inst.handle, fn, "Filling Expander specific information **** FAILED ****");
    return status;
}

// ---- Ethernet settings ----

struct EthernetFamily {
    const char* function;
    uint16_t pageId;
    uint16_t macPageId; // 0: the MAC address is in the Ethernet page
    const char* dataFailed;
    const char* headerFailed;
    uint32_t headerFailedLevel;
    const char* notFoundLog;
    const char* notFoundNotice;
};

constexpr EthernetFamily kEthernetOstrel{
    "zelkor_ial_fillIpAddr",
    MFG_PAGE_ETHERNET_OSTREL,
    0,
    "Unable to read ethernet data **** FAILED ****",
    "Unable to read ethernet page Header**** FAILED ****",
    ZELKOR_LOG_ERROR,
    "Ethernet Configuration Page (0xFF10) not found in Flash ",
    "\n\nWARN: Ethernet Configuration Page (0xFF10) not found in flash",
};

constexpr EthernetFamily kEthernetQuenza{
    "zelkor_ial_fillIpAddrGen3",
    MFG_PAGE_ETHERNET_QUENZA,
    MFG_PAGE_MAC_ADDRESS_QUENZA,
    "Unable to read ethernet data**** FAILED ****",
    "Unable to read ethernet page Header **** FAILED ****",
    ZELKOR_LOG_WARN,
    "Ethernet Configuration Page (0xFF27) not found in Flash",
    "\n\nWARN: Ethernet Configuration Page (0xFF27) not found in flash",
};

// Settings that could not be read are shown as unknown.
void markEthernetUnknown(ZELKOR_EXPANDER& e) {
    setText(e.ipAddress, kUnknown);
    setText(e.subnetMask, kUnknown);
    setText(e.gateway, kUnknown);
    setText(e.macAddress, kUnknown);
    e.dhcp = 0xFFFFFFFFu;
}

template <size_t N> void dottedQuad(char (&field)[N], const uint8_t* at) {
    std::snprintf(field, N, "%u.%u.%u.%u", at[0], at[1], at[2], at[3]);
}

// Length of a page from its header: 0 when the header could not be read whole or is of another page.
uint32_t pageLength(const SAS_INSTANCE& inst, uint16_t pageId, bool* readOk) {
    std::array<uint8_t, kPageHeaderSize> header{};
    *readOk = readWhole(inst, SAS_BUFFER_CONFIG_PAGE, header.data(), header.size(), pageId, 1) == 0;
    return *readOk ? static_cast<uint32_t>(header[0] | (header[1] << 8)) : 0;
}

// IP text of a VPD 0x85 reply: the first network address, at most 15 characters. False when the reply,
// as received and as its page length says, does not hold that much of the address.
bool vpdAddressText(const uint8_t* reply, uint32_t received, char (&out)[16]) {
    out[0] = '\0';
    if (received < kVpdAddressAt)
        return false;
    const uint32_t pageEnd = 4 + ((static_cast<uint32_t>(reply[2]) << 8) | reply[3]);
    const uint32_t addressLength = (static_cast<uint32_t>(reply[6]) << 8) | reply[7];
    const uint32_t wanted = addressLength < kVpdAddressLength ? addressLength : kVpdAddressLength;
    if (kVpdAddressAt + wanted > received || kVpdAddressAt + wanted > pageEnd)
        return false;
    size_t n = 0;
    while (n < wanted && reply[kVpdAddressAt + n] != '\0') {
        out[n] = static_cast<char>(reply[kVpdAddressAt + n]);
        ++n;
    }
    out[n] = '\0';
    return true;
}

ZELKOR_STATUS fillEthernet(SAS_INSTANCE& inst, const EthernetFamily& family) {
    const char* fn = family.function;
    ZELKOR_INSTANCE* handle = inst.handle;
    ZELKOR_EXPANDER& e = inst.expander;
    Trace trace(handle, fn);
    e.ethernetPageLength = 0;

    LOG_INFO(handle, fn, "Reading Ethernet Config page header");
    bool headerRead = false;
    const uint32_t length = pageLength(inst, family.pageId, &headerRead);
    bool macHeaderRead = true;
    const uint32_t macLength = family.macPageId != 0 ? pageLength(inst, family.macPageId, &macHeaderRead) : 0;
    // A page that cannot hold the settings, or that the cache cannot hold, is treated as missing.
    bool missing = !headerRead || length < kEthernetPageMinimum || length >= kEthernetCacheSize;
    if (family.macPageId != 0)
        missing = missing || !macHeaderRead || macLength < kMacPageMinimum || macLength >= kEthernetCacheSize;

    if (missing) {
        if (gFillIpAddrFlag != 0) {
            logLine(handle, fn, family.headerFailedLevel, "%s", family.headerFailed);
            if (handle->options == nullptr || handle->options->force == 0) {
                LOG_WARN(handle, fn, "%s", family.notFoundLog);
                say("%s", family.notFoundNotice);
            }
        } else {
            LOG_WARN(handle, fn, "Unable to read Ethernet parameters as Manufacturing Region is blank.");
        }
        markEthernetUnknown(e);
        return 0;
    }

    LOG_INFO(handle, fn, "Reading Ethernet Config page data");
    std::array<uint8_t, kEthernetCacheSize> page{};
    std::array<uint8_t, kEthernetCacheSize> macPage{};
    ZELKOR_STATUS status = readWhole(inst, SAS_BUFFER_CONFIG_PAGE, page.data(), length, family.pageId, 1);
    if (status == 0 && family.macPageId != 0)
        status = readWhole(inst, SAS_BUFFER_CONFIG_PAGE, macPage.data(), macLength, family.macPageId, 1);
    if (status != 0) {
        LOG_ERROR(handle, fn, "%s", family.dataFailed);
        markEthernetUnknown(e);
        return status;
    }

    const uint32_t dhcp = bigEndian32(&page[kEthernetDhcpAt]);
    char ip[16] = {};
    char mask[16] = {};
    char gateway[16] = {};
    if (dhcp == 0) {
        dottedQuad(ip, &page[kEthernetIpAt]);
        dottedQuad(mask, &page[kEthernetMaskAt]);
        dottedQuad(gateway, &page[kEthernetGatewayAt]);
    } else {
        LOG_INFO(handle, fn, "Reading VPD page");
        std::array<uint8_t, SAS_INQUIRY_REPLY_LENGTH> reply{};
        uint32_t received = 0;
        status =
            zelkor_ial_inquiryVpd(inst.device, VPD_MANAGEMENT_NETWORK_ADDRESSES, reply.data(), &received);
        if (status == 0 && !vpdAddressText(reply.data(), received, ip))
            status = kShortRead;
        if (status != 0) {
            LOG_ERROR(handle, fn, "Unable to read VPD page **** FAILED ****");
            markEthernetUnknown(e);
            return status;
        }
        setText(mask, kUnknown);
        setText(gateway, kUnknown);
    }
    const uint8_t* mac = family.macPageId != 0 ? &macPage[kMacPageMacAt] : &page[kEthernetMacAt];
    std::snprintf(e.macAddress, sizeof e.macAddress, "%u.%u.%u.%u.%u.%u", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    setText(e.ipAddress, ip);
    setText(e.subnetMask, mask);
    setText(e.gateway, gateway);
    e.dhcp = dhcp;
    e.ethernetPageLength = length;
    std::memcpy(e.ethernetPage, page.data(), length);
    LOG_INFO(handle, fn, "IP Address = %s", e.ipAddress);
    LOG_INFO(handle, fn, "Subnet Mask = %s", e.subnetMask);
    LOG_INFO(handle, fn, "Gateway = %s", e.gateway);
    LOG_INFO(handle, fn, "MAC Address = %s", e.macAddress);
    LOG_INFO(handle, fn, dhcp != 0 ? "DHCP Status = ENABLED" : "DHCP Status = DISABLED");
    return 0;
}

// Family Ostrel: page 0xFF10 holds the settings and the MAC address.
ZELKOR_STATUS zelkor_ial_fillIpAddr(SAS_INSTANCE& inst) {
    return fillEthernet(inst, kEthernetOstrel);
}

// Family Quenza: page 0xFF27 holds the settings, page 0xFE05 the MAC address.
ZELKOR_STATUS zelkor_ial_fillIpAddrQuenza(SAS_INSTANCE& inst) {
    return fillEthernet(inst, kEthernetQuenza);
}

ZELKOR_STATUS zelkor_ial_getExpanderIpAddress(SAS_INSTANCE& inst) {
    if (inst.handle == nullptr)
        return kInvalidArguments;
    Trace trace(inst.handle, "zelkor_ial_getExpanderIpAddress");
    switch (inst.expander.type) {
    case ZELKOR_CHIP_OSTREL:
    case ZELKOR_CHIP_OSTREL_SWITCH:
        zelkor_ial_fillIpAddr(inst);
        break;
    case ZELKOR_CHIP_QUENZA:
    case ZELKOR_CHIP_QUENZA_DAX:
        zelkor_ial_fillIpAddrQuenza(inst);
        break;
    default:
        break;
    }
    return 0;
}

// Register 0x424000C0 bit 6 says the expander has no IP address configured; otherwise the Ethernet page
// is read.
void readIpSettings(SAS_INSTANCE& inst) {
    uint32_t ipStatus = 0;
    if (readWord(inst, SAS_BUFFER_REGISTER, IP_STATUS_REG, &ipStatus) != 0) {
        markEthernetUnknown(inst.expander);
        return;
    }
    if (ipStatus & IP_NOT_CONFIGURED)
        setText(inst.expander.ipAddress, "NotConfigured");
    else
        zelkor_ial_getExpanderIpAddress(inst);
}

// A new list node holding the record's identity and settings (not its cached page).
ZELKOR_EXPANDER_LIST* copyExpAttributes(const ZELKOR_INSTANCE* handle, const ZELKOR_EXPANDER& e) {
    Trace trace(handle, "copyExpAttributes");
    auto* node = static_cast<ZELKOR_EXPANDER_LIST*>(std::calloc(1, sizeof(ZELKOR_EXPANDER_LIST)));
    if (node == nullptr)
        return nullptr;
    ZELKOR_EXPANDER& n = node->expander;
    n.sasAddressLow = e.sasAddressLow;
    n.sasAddressHigh = e.sasAddressHigh;
    n.type = e.type;
    n.productId = e.productId;
    n.revisionCode = e.revisionCode;
    n.revisionIndex = e.revisionIndex;
    std::memcpy(n.name, e.name, sizeof n.name);
    std::memcpy(n.revision, e.revision, sizeof n.revision);
    std::memcpy(n.ipAddress, e.ipAddress, sizeof n.ipAddress);
    std::memcpy(n.subnetMask, e.subnetMask, sizeof n.subnetMask);
    std::memcpy(n.gateway, e.gateway, sizeof n.gateway);
    std::memcpy(n.macAddress, e.macAddress, sizeof n.macAddress);
    n.dhcp = e.dhcp;
    node->next = nullptr;
    return node;
}

// ---- open, list, close, version ----

// What one scan over the device directory does with an identified expander.
struct ScanTexts {
    const char* function;
    const char* giveUp;
    bool listing;
};

// Opens device N, identifies it and reads its SAS address. True with the device held in the instance;
// false with nothing held. *giveUp is set when too many devices failed to open.
bool identifyDevice(SAS_INSTANCE& inst, int number, const ScanTexts& texts, int* openFailures, bool* giveUp) {
    ZELKOR_INSTANCE* handle = inst.handle;
    const char* fn = texts.function;
    LOG_INFO(handle, fn, texts.listing ? "Opening the SCSI device %d " : "Opening the SCSI device %d",
             number);
    const OsalSasDevice device = osal_sasDeviceOpen(number);
    if (device == OSAL_SAS_NO_DEVICE) {
        // The listing's scan names only the devices it opens and identifies.
        if (!texts.listing)
            LOG_ERROR(handle, fn, "Attached device %d may not be ENCLOSURE type", number + 1);
        if (++*openFailures > 4096) {
            LOG_ERROR(handle, fn, "%s", texts.giveUp);
            *giveUp = true;
        }
        return false;
    }
    inst.device = device;
    // Nothing of the previous device may carry over.
    std::memset(&inst.expander, 0, sizeof inst.expander);
    bool identified = getSignature(inst) == 0;
    if (identified) {
        LOG_INFO(handle, fn, "Reading Id and Revision of SCSI device %d", number + 1);
        identified = getIDAndRevision(inst) == 0;
    }
    if (!identified) {
        if (!texts.listing)
            LOG_ERROR(handle, fn, "Reading Expander Id and Revision for SCSI device %d **** FAILED ****",
                      number + 1);
        closeDevice(inst);
        return false;
    }
    if (isFamilyType(inst.expander.type))
        gExpanderType = inst.expander.type;
    if (!texts.listing)
        LOG_INFO(handle, fn, "Reading Expander SAS address for SCSI device %d", number + 1);
    if (zelkor_ial_getExpanderSasAddress(inst) != 0) {
        if (!texts.listing)
            LOG_ERROR(handle, fn, "Reading Expander SAS address for SCSI device %d **** FAILED ****",
                      number + 1);
        closeDevice(inst);
        return false;
    }
    return true;
}

const char* openFamilyWord(uint32_t type) {
    switch (type) {
    case ZELKOR_CHIP_OSTREL:
        return "Ostrel";
    case ZELKOR_CHIP_OSTREL_SWITCH:
        return "Switch";
    case ZELKOR_CHIP_QUENZA:
        return "Quenza";
    case ZELKOR_CHIP_QUENZA_DAX:
        return "Dax";
    default:
        return "Palx";
    }
}

const char* listingFamilyWord(uint32_t type) {
    switch (type) {
    case ZELKOR_CHIP_OSTREL:
        return "OSTREL";
    case ZELKOR_CHIP_OSTREL_SWITCH:
        return "SWITCH";
    case ZELKOR_CHIP_QUENZA:
        return "GEN3";
    default:
        return "";
    }
}

// The scan of the open: finds the expander with the given address and keeps its device open.
ZELKOR_STATUS selectExpander(SAS_INSTANCE& inst, uint32_t high, uint32_t low) {
    const char* fn = "zelkor_ial_open";
    ZELKOR_INSTANCE* handle = inst.handle;
    LOG_INFO(handle, fn, "Detecting the total number of SCSI devices attached to the Host");
    const int count = osal_numScsiDevices();
    if (count < 0) {
        LOG_ERROR(handle, fn, "Host machine is unable to detect any attached SCSI device. **** FAILED ****");
        return kNoScsiDevices;
    }
    LOG_INFO(handle, fn, "Host machine has detected %d attached SCSI devices\n", count);

    const ScanTexts texts{fn, "Unable to communicate over interface **** FAILED ****", false};
    std::vector<int> numbers;
    bool selected = false;
    if (osal_scsiDeviceNumbers(&numbers) == 0) {
        int openFailures = count;
        bool giveUp = false;
        for (int number : numbers) {
            if (!identifyDevice(inst, number, texts, &openFailures, &giveUp)) {
                if (giveUp)
                    break;
                continue;
            }
            LOG_INFO(handle, fn, "Comparing SAS address specified by user with that of Expander");
            if (cmpSasAddress(handle, inst.expander.sasAddressHigh, inst.expander.sasAddressLow, high, low) ==
                1) {
                selected = true;
                break;
            }
            LOG_ERROR(handle, fn,
                      "Comparison of SAS address specified by user with that of Expander **** FAILED ****");
            closeDevice(inst);
        }
    }

    if (!selected) {
        LOG_ERROR(handle, fn, "Sas address %08x%08x is not attached to the HOST machine **** FAILED ****",
                  high, low);
        if (gFlagDeviceErrorDisplayOpen == 1) {
            say("\n SCSI device is not ENCLOSURE  type");
            say(" \n Sas address %08x%08x is not attached to the HOST machine **** FAILED ****", high, low);
        }
        ++gFlagDeviceErrorDisplayOpen;
        return kNotAttached;
    }

    LOG_INFO(handle, fn, "%s Device with SAS address %08x%08x is attached to the HOST machine",
             openFamilyWord(inst.expander.type), high, low);
    LOG_INFO(handle, fn, "Reading IP Address of %08x%08x device", high, low);
    readIpSettings(inst);
    if (gPtrExpList == nullptr) {
        gPtrExpList = copyExpAttributes(handle, inst.expander);
        if (gPtrExpList == nullptr) {
            LOG_ERROR(handle, fn,
                      "Unable to allocate memory for creating the list of expanders **** FAILED ****");
            closeDevice(inst);
            return kNoMemory;
        }
    }
    return 0;
}

ZELKOR_STATUS sasOpen(ZELKOR_INSTANCE* handle, uint64_t sasAddress, void** out) {
    const char* fn = "zelkor_ial_open";
    if (gSasInstanceList == nullptr) {
        gSasInstanceList = ll_new();
        if (gSasInstanceList == nullptr)
            return kNoMemory;
    }
    if (out != nullptr)
        *out = nullptr;
    if (handle == nullptr || out == nullptr)
        return kInvalidArguments;
    Trace trace(handle, fn);
    handle->designatedRegions = 1;

    auto* inst = static_cast<SAS_INSTANCE*>(std::calloc(1, sizeof(SAS_INSTANCE)));
    if (inst == nullptr) {
        LOG_ERROR(handle, fn, "Unable to allocate Memory for IAL SAS instance **** FAILED ****");
        return kNoMemory;
    }
    inst->handle = handle;
    inst->device = OSAL_SAS_NO_DEVICE;
    if (ll_add(gSasInstanceList, inst, sizeof *inst, LL_AT_TAIL) != LL_SUCCESS) {
        LOG_ERROR(handle, fn,
                  "Unable to allocate Memory for adding the SAS instance to IAL list **** FAILED ****");
        std::free(inst);
        return kNoMemory;
    }

    if (sasAddress == 0 && handle->options != nullptr && handle->options->availWithoutAddress == 1) {
        LOG_INFO(handle, fn, "User has not provided SAS address");
        *out = inst;
        return 0;
    }
    const ZELKOR_STATUS status = selectExpander(*inst, highHalf(sasAddress), lowHalf(sasAddress));
    if (status != 0) {
        closeDevice(*inst);
        releaseInstance(inst);
        return status;
    }
    *out = inst;
    return 0;
}

ZELKOR_STATUS sasGetExpanders(void* instance, ZELKOR_EXPANDER_LIST** out) {
    const char* fn = "zelkor_ial_getExpanders";
    SAS_INSTANCE* inst = listedInstance(instance);
    if (inst == nullptr)
        return kInvalidInstance;
    if (inst->handle == nullptr) {
        say("**** ERROR **** ptrZelkor is NULL");
        return kInvalidInstance;
    }
    if (out == nullptr)
        return kInvalidArguments;
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    *out = nullptr;
    if (gPtrExpList != nullptr) {
        *out = gPtrExpList;
        LOG_INFO(handle, fn, "Expander list is already created.");
        return 0;
    }

    LOG_INFO(handle, fn, "Detecting the total number of SCSI devices attached to the Host");
    const int count = osal_numScsiDevices();
    if (count <= 0) {
        LOG_ERROR(handle, fn, "Host machine is unable to detect any attached SCSI devices. **** FAILED ****");
        if (gFlagDeviceErrorDisplayList == 1)
            say("\n ****Host machine is unable to detect any attached SCSI device****");
        ++gFlagDeviceErrorDisplayList;
        return kNoScsiDevices;
    }
    LOG_INFO(handle, fn, "Host machine has detected %d attached SCSI devices\n", count);
    std::vector<int> numbers;
    if (osal_scsiDeviceNumbers(&numbers) != 0)
        return kNotAttached;

    // A device held from before would be lost by the scan.
    closeDevice(*inst);
    const ScanTexts texts{fn, "Opening the interface for communicating **** FAILED ****", true};
    int openFailures = count;
    bool giveUp = false;
    ZELKOR_EXPANDER_LIST* tail = nullptr;
    OsalSasDevice keptDevice = OSAL_SAS_NO_DEVICE;
    ZELKOR_EXPANDER keptRecord{};
    uint32_t keptType = gExpanderType;
    for (int number : numbers) {
        if (!identifyDevice(*inst, number, texts, &openFailures, &giveUp)) {
            if (giveUp)
                break;
            continue;
        }
        LOG_INFO(handle, fn, "Reading IP Address of Expander");
        readIpSettings(*inst);
        ZELKOR_EXPANDER_LIST* node = copyExpAttributes(handle, inst->expander);
        if (node == nullptr) {
            LOG_ERROR(handle, fn,
                      "Unable to create list of expanders due to insufficient memory **** FAILED ***");
            closeDevice(*inst);
            break;
        }
        if (tail == nullptr)
            gPtrExpList = node;
        else
            tail->next = node;
        tail = node;
        LOG_INFO(handle, fn, "Found %s Device and its Sas address %08x%08x",
                 listingFamilyWord(inst->expander.type), inst->expander.sasAddressHigh,
                 inst->expander.sasAddressLow);
        if (keptDevice == OSAL_SAS_NO_DEVICE) {
            // The first expander listed is the one later commands talk to.
            keptDevice = inst->device;
            keptRecord = inst->expander;
            keptType = gExpanderType;
            inst->device = OSAL_SAS_NO_DEVICE;
        } else {
            closeDevice(*inst);
        }
    }

    if (gPtrExpList == nullptr) {
        LOG_ERROR(handle, fn, "Unable to find a Expanders **** FAILED ****");
        return kNoExpanders;
    }
    *out = gPtrExpList;
    inst->device = keptDevice;
    inst->expander = keptRecord;
    gExpanderType = keptType;
    return 0;
}

ZELKOR_STATUS sasClose(void* instance) {
    const char* fn = "zelkor_ial_close";
    if (instance == nullptr)
        return kInvalidInstance;
    SAS_INSTANCE* inst = listedInstance(instance);
    if (inst == nullptr)
        return 0;
    if (inst->handle == nullptr)
        return kInvalidInstance;
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    ZELKOR_STATUS status = 0;
    if (inst->device == OSAL_SAS_NO_DEVICE) {
        LOG_ERROR(handle, fn, "Invalid SAS device handle **** FAILED ****");
        status = kFailure;
    }
    closeDevice(*inst);
    if (!releaseInstance(inst)) {
        LOG_ERROR(handle, fn, "Unable to remove the Sas instance");
        status = kFailure;
    }
    return status;
}

ZELKOR_STATUS sasVersion(uint8_t* major, uint8_t* minor) {
    if (major == nullptr || minor == nullptr)
        return kInvalidArguments;
    *major = 1;
    *minor = 0;
    return 0;
}

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

// ---- the module's operation table ----

struct Symbol {
    const char* name;
    ZELKOR_GENERIC_FUNCTION function;
};

template <typename F> ZELKOR_GENERIC_FUNCTION generic(F function) {
    return reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(function);
}

const Symbol kSymbols[] = {
    {"zelkor_ial_open", generic<IAL_OPEN_FUNCTION>(sasOpen)},
    {"zelkor_ial_close", generic<IAL_CLOSE_FUNCTION>(sasClose)},
    {"zelkor_ial_version", generic<IAL_VERSION_FUNCTION>(sasVersion)},
    {"zelkor_ial_getExpanders", generic<IAL_GET_EXPANDERS_FUNCTION>(sasGetExpanders)},
    {"zelkor_ial_downloadRegion", generic<IAL_TRANSFER_FUNCTION>(sasDownloadRegion)},
    {"zelkor_ial_uploadRegion", generic<IAL_TRANSFER_FUNCTION>(sasUploadRegion)},
    {"zelkor_ial_eraseRegion", generic<IAL_ERASE_FUNCTION>(sasEraseRegion)},
};

} // namespace

extern "C" ZELKOR_GENERIC_FUNCTION ial_sas_query_symbol(const char* name) {
    if (name == nullptr)
        return nullptr;
    for (const Symbol& symbol : kSymbols)
        if (std::strcmp(symbol.name, name) == 0)
            return symbol.function;
    return nullptr;
}
