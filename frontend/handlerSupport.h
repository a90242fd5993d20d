// What every front-end command routine shares: entry and exit traces, the shown and logged texts, and
// reading the expander's text fields.
#ifndef HANDLER_SUPPORT_H
#define HANDLER_SUPPORT_H

#include "core/zelkor.h"
#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "frontend/messages.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace morv {

inline void trace(const char* function, const char* text) {
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 1, function, MSG_DEST_LOG, "%s", text);
}

// Entry trace now, exit trace when the scope ends, so that every return has one.
class FunctionTrace {
  public:
    explicit FunctionTrace(const char* function) : function_(function) { trace(function_, "Entry.\n"); }
    ~FunctionTrace() { trace(function_, "Exit.\n"); }
    FunctionTrace(const FunctionTrace&) = delete;
    FunctionTrace& operator=(const FunctionTrace&) = delete;

  private:
    const char* function_;
};

inline void showAlways(const char* text) {
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "%s", text);
}

inline void logOnly(const char* function, uint32_t level, const char* text) {
    messageLog(kMorvModule, level, 1, function, MSG_DEST_LOG, "%s", text);
}

// A user-visible error: once to the log, once to the console.
inline void reportError(const char* function, const char* text) {
    logOnly(function, ZELKOR_LOG_ERROR, text);
    showAlways(text);
}

// Progress dots while the scope runs.
class BusyScope {
  public:
    BusyScope() { gInstance.busy = 1; }
    ~BusyScope() { gInstance.busy = 0; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

// One progress dot, shown while busy.
inline void progressDot() {
    zelkor_messageHandler(1, 0);
}

// Text of any length on the console, whatever the quiet setting.
inline void consoleText(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// A text field of a record as text, bounded by its field even when the record left it unterminated.
template <size_t N> std::string fieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

inline bool optionGiven(uint16_t flag) {
    return (gClParser.optionFlags & flag) != 0;
}

inline const ZELKOR_EXPANDER* firstExpander() {
    return gInstance.expanderList != nullptr ? &gInstance.expanderList->expander : nullptr;
}

inline uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline uint16_t readLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// A decimal word of the command line: digits only, at least one, within 32 bits.
inline bool parseDecimalWord(const char* text, uint32_t& out) {
    if (text == nullptr || *text == '\0')
        return false;
    uint64_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > 0xFFFFFFFFu)
            return false;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

} // namespace morv

#endif
