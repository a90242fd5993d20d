// What the core's own files share: the statuses the core answers itself, its log line and the entry and
// exit trace of its operations.
#ifndef ZELKOR_CORE_H
#define ZELKOR_CORE_H

#include "core/zelkor.h"

namespace zelkorcore {

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

// One line of the core. The message is formatted here and written as it stands.
__attribute__((format(printf, 4, 5))) void logLine(const char* function, uint32_t type, uint32_t level,
                                                   const char* format, ...);

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

} // namespace zelkorcore

#endif
