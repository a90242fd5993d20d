// What the files of the in-band SAS interface module share: its statuses, the expander registers and
// page layouts it reads, the log and console helpers, the device access and the steps one file calls in
// another. Internal to the module; the operations are reached only through ial_sas_query_symbol.
#ifndef IAL_SAS_MODULE_H
#define IAL_SAS_MODULE_H

#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace ialsas {

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

// ---- log and console (sasDeviceAccess.cpp) ----

// One line of the module's log through the handle's log function (nothing without one).
__attribute__((format(printf, 4, 5))) void logLine(const ZELKOR_INSTANCE* handle, const char* function,
                                                   uint32_t level, const char* format, ...);
// A line on standard output, flushed at once.
__attribute__((format(printf, 1, 2))) void say(const char* format, ...);

#define LOG_INFO(handle, fn, ...) logLine(handle, fn, ZELKOR_LOG_INFO, __VA_ARGS__)
#define LOG_WARN(handle, fn, ...) logLine(handle, fn, ZELKOR_LOG_WARN, __VA_ARGS__)
#define LOG_ERROR(handle, fn, ...) logLine(handle, fn, ZELKOR_LOG_ERROR, __VA_ARGS__)

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

// ---- small helpers (sasDeviceAccess.cpp) ----

// Copies text into a fixed field, cut to fit and always terminated.
template <size_t N> void setText(char (&field)[N], const char* text) {
    const size_t n = strnlen(text, N - 1);
    std::memcpy(field, text, n);
    field[n] = '\0';
}

uint32_t littleEndian32(const uint8_t* at);
uint32_t bigEndian32(const uint8_t* at);
void putLittleEndian32(uint8_t* at, uint32_t value);
bool isFamilyType(uint32_t type);
bool isQuenzaType(uint32_t type);
uint32_t highHalf(uint64_t address);
uint32_t lowHalf(uint64_t address);
// 1 when the two addresses are equal, compared by their halves.
int cmpSasAddress(const ZELKOR_INSTANCE* handle, uint32_t highA, uint32_t lowA, uint32_t highB,
                  uint32_t lowB);

// ---- device access (sasDeviceAccess.cpp) ----

// One READ BUFFER that must bring every byte asked for; a short transfer counts as failed.
ZELKOR_STATUS readWhole(const SAS_INSTANCE& inst, uint32_t bufferId, uint8_t* data, uint32_t length,
                        uint32_t offset, uint8_t descriptorFlag);
// One WRITE BUFFER that the device must take whole; bytes it reports as not taken make the write fail.
ZELKOR_STATUS writeWhole(const SAS_INSTANCE& inst, uint32_t bufferId, const uint8_t* data, uint32_t length,
                         uint32_t offset, uint8_t descriptorFlag);
// A register or memory word (four bytes, little-endian).
ZELKOR_STATUS readWord(const SAS_INSTANCE& inst, uint32_t bufferId, uint32_t address, uint32_t* value);
ZELKOR_STATUS writeRegister(const SAS_INSTANCE& inst, uint32_t address, uint32_t value);
// Closes the held device once; the descriptor is cleared so that nothing closes it again.
void closeDevice(SAS_INSTANCE& inst);
// The listed instance equal to p (the list's cursor is left on its node), or null.
SAS_INSTANCE* listedInstance(void* p);
// Takes a listed instance off the list and frees it; false when the list refused the removal (the
// instance is freed all the same).
bool releaseInstance(SAS_INSTANCE* inst);

// ---- identification (sasIdentify.cpp) ----

// Firmware signature: sets the current expander type (0 when none is recognised).
ZELKOR_STATUS getSignature(SAS_INSTANCE& inst);
ZELKOR_STATUS getIDAndRevision(SAS_INSTANCE& inst);

// ---- SAS address (sasAddress.cpp) ----

ZELKOR_STATUS zelkor_ial_getExpanderSasAddress(SAS_INSTANCE& inst);

// ---- Ethernet settings (sasEthernet.cpp) ----

// Register 0x424000C0 bit 6 says the expander has no IP address configured; otherwise the Ethernet page
// is read.
void readIpSettings(SAS_INSTANCE& inst);

// ---- open, list, close, version (sasDiscovery.cpp) ----

ZELKOR_STATUS sasOpen(ZELKOR_INSTANCE* handle, uint64_t sasAddress, void** out);
ZELKOR_STATUS sasGetExpanders(void* instance, ZELKOR_EXPANDER_LIST** out);
ZELKOR_STATUS sasClose(void* instance);
ZELKOR_STATUS sasVersion(uint8_t* major, uint8_t* minor);

// ---- region operations (sasRegions.cpp) ----

ZELKOR_STATUS sasDownloadRegion(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                                FILE* file, uint8_t* buffer);
ZELKOR_STATUS sasUploadRegion(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size,
                              FILE* file, uint8_t* buffer);
ZELKOR_STATUS sasEraseRegion(void* instance, ZELKOR_REGION* region);

} // namespace ialsas

#endif
