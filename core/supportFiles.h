// The one lookup of support files (XML, XSD) under the directory named by ZELKOR_SUPPORT_FILES: the
// variable's value joined with the name, bounded by the buffer the path goes to, and proved to exist by
// opening it. Each caller brings its own log texts as a row of data.
#ifndef ZELKOR_SUPPORT_FILES_H
#define ZELKOR_SUPPORT_FILES_H

#include "core/zelkor.h"

#include <cstddef>
#include <string>

inline constexpr const char* SUPPORT_FILES_VARIABLE = "ZELKOR_SUPPORT_FILES";

// Statuses of the lookup.
inline constexpr ZELKOR_STATUS SUPPORT_UNSET = 52;
inline constexpr ZELKOR_STATUS SUPPORT_NOT_FOUND = 53;
inline constexpr ZELKOR_STATUS SUPPORT_TOO_LONG = 58;

// One caller's texts. A null text is not written; a null module writes nothing at all. Texts that take
// values take them in the order noted.
struct SupportLookupTexts {
    const char* module;
    const char* function; // null: the function the caller names
    uint32_t type;
    bool refusesDirectories;         // a name holding ':', '\\' or '/' is refused with 53
    std::size_t capacity;            // bytes of the destination, terminator included
    const char* directoryRefused[2]; // no values
    const char* unset;               // no values
    const char* announce;            // (the variable's value)
    const char* tooLong;             // (int bytes needed, the variable's value, the name)
    const char* notFound[2];         // (the name, the variable's value)
    const char* found;               // (the joined path)
};

// 0 and the joined path; 52 the variable is unset; 53 refused or not found; 58 the path does not fit.
ZELKOR_STATUS lookupSupportFile(const char* name, const SupportLookupTexts& texts, const char* function,
                                std::string& path);

// Whether a file opens for reading (and closes again).
bool fileReadable(const char* path);

// Copies a text into a fixed buffer when it fits, terminator included; false (buffer untouched) otherwise.
bool copyBounded(char* buffer, std::size_t capacity, const std::string& text);

#endif
