#pragma once
// Entry and exit traces of an interface module's operations, through the handle's log function (the
// library's own log when the handle has none).

#include "core/zelkor.h"

#include <cstdint>

class IalTrace {
  public:
    IalTrace(const char* module, uint32_t type, const ZELKOR_INSTANCE* handle, const char* function)
        : module_(module), type_(type), handle_(handle), function_(function) {
        write(ZELKOR_LOG_ENTRY);
    }
    ~IalTrace() { write(ZELKOR_LOG_EXIT); }
    IalTrace(const IalTrace&) = delete;
    IalTrace& operator=(const IalTrace&) = delete;

  private:
    void write(uint32_t bit) const {
        LOG_FUNCTION log = handle_ != nullptr && handle_->log != nullptr ? handle_->log : zelkor_messageLog;
        log(module_, function_, type_ | bit, ZELKOR_LOG_INFO, 1, nullptr);
    }
    const char* module_;
    uint32_t type_;
    const ZELKOR_INSTANCE* handle_;
    const char* function_;
};
