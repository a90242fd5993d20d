// The expander's trace buffer and event log: reading them and turning them into text.
#ifndef TRACE_H
#define TRACE_H

#include "core/zelkor.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Status of a trace buffer that cannot be decoded.
constexpr uint32_t TRACE_STATUS_UNDECODABLE = 0xFFFFFFFF;

// What a decoding prints on standard output and writes to the log, and its result.
struct DecodedText {
    uint32_t status = 0;
    std::string console;
    std::vector<std::string> log;
};

// Decodes the bytes read from a trace buffer. Every length the buffer carries is checked against the bytes
// there are before it is used.
DecodedText decodeTrace(const uint8_t* data, size_t size);

// Decodes the 64-byte event log entries up to an end entry or the last whole entry. offline: the data came
// from a saved log file (its own texts for an empty log).
DecodedText decodeLog(const uint8_t* data, size_t size, bool offline);

// A text log: its bytes up to the first zero byte; 1 when it starts with one.
DecodedText decodeTextLog(const uint8_t* data, size_t size);

// Where a read of a region of unknown size stopped.
enum class UnknownSizeStep { Done, Size, Allocation, Data };

struct UnknownSizeRead {
    uint32_t status = 0;
    UnknownSizeStep failed = UnknownSizeStep::Done;
    std::vector<uint8_t> data;
};

// Asks the region for its size (descriptor flag set for that one read, cleared again whatever happens),
// stores it in the region's size word and reads that many bytes from offset 0.
UnknownSizeRead readUnknownSizeRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION& region);

// Reads the trace buffer (first region of kind 9) and prints its entries.
uint32_t getTrace();

// Reads the event log (first region of kind 8; the text log when an argument word is given) or, on the
// offline interface kind, the log file named by the address text, and prints it.
uint32_t getLog(const char* argument);

#endif
