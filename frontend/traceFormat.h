// The formatter for format strings that come from the expander (its trace buffer): they are never handed to
// printf.
#ifndef TRACE_FORMAT_H
#define TRACE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

// Longest formatted trace line, its terminating zero included.
constexpr size_t TRACE_LINE_LIMIT = 1024;

// Formats the 32-bit argument words with a printf-style format. Accepted: flags "-+ #0", width and precision
// digits, length modifiers (skipped: every argument is one 32-bit word), conversions d i u x X o c p, %s
// (printed as %p, never read as a text) and %%. Any other conversion, and any conversion beyond the given
// arguments, is printed as written. The result is cut to TRACE_LINE_LIMIT - 1 bytes.
std::string formatTrace(const char* format, size_t formatLength, const uint32_t* args, size_t argCount);

#endif
