// The trace buffer and the event log of the expander firmware, decoded into text.
#include "frontend/trace.h"

#include "frontend/handlerSupport.h"
#include "frontend/regions.h"
#include "frontend/traceFormat.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <new>

using namespace morv;

namespace {

constexpr size_t kTraceHeader = 16;
constexpr size_t kBlockHeader = 16;
constexpr size_t kSubsystems = 7;
constexpr size_t kMaxStrings = 1000;
constexpr size_t kMaxArguments = 5;
constexpr size_t kLogEntry = 64;
constexpr size_t kLogDataWords = 10;

constexpr uint32_t kTraceRegionKind = 9;
constexpr uint32_t kLogRegionKind = 8;
constexpr uint32_t kTextLogBuffer = 0xEA;
constexpr uint8_t kOfflineLogKind = 8;

constexpr uint32_t kStatusNoUploadRegion = 33;
constexpr uint32_t kStatusNoMemory = 6;
constexpr uint32_t kStatusInvalidArgument = 5;
constexpr uint32_t kStatusFileNotFound = 0x1028;

constexpr const char* kNoLogEntryInRegion = "There are no valid log entry in the log region.";
constexpr const char* kNoLogEntryInFile = "No valid log entry found in the file.";

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char text[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

DecodedText failure(DecodedText out, uint32_t status, const std::string& console, const std::string& log) {
    out.status = status;
    out.console += console;
    out.log.push_back(log);
    return out;
}

// One string of a trace block: where it starts in the buffer and how long it is.
struct TraceString {
    size_t offset;
    size_t length;
};

bool isPrintable(uint8_t c) {
    return c >= 0x21 && c <= 0x7F;
}

} // namespace

DecodedText decodeTrace(const uint8_t* data, size_t size) {
    DecodedText out;
    if (data == nullptr || size < kTraceHeader)
        return failure(out, TRACE_STATUS_UNDECODABLE, "**** ERROR **** Trace buffer is shorter than its header\n",
                       format("Trace buffer of %zu bytes is shorter than its header.\n", size));
    const uint32_t total = readLe32(data + 4);
    const uint32_t stringLength = readLe32(data + 12);
    if (total > size)
        return failure(out, TRACE_STATUS_UNDECODABLE, "**** ERROR **** Trace length is past the buffer\n",
                       format("Trace length %u is past the %zu bytes read.\n", total, size));
    if (stringLength > size - kTraceHeader)
        return failure(out, TRACE_STATUS_UNDECODABLE, "**** ERROR **** Embedded strings are past the buffer\n",
                       format("Embedded strings length %u is past the %zu bytes read.\n", stringLength, size));
    const size_t stringsEnd = kTraceHeader + stringLength;
    // The string blocks lie within the strings and within the valid data.
    const size_t blockLimit = stringsEnd < total ? stringsEnd : total;

    std::array<std::vector<TraceString>, kSubsystems> strings;
    size_t block = kTraceHeader;
    for (size_t subsystem = 0; subsystem < kSubsystems; ++subsystem) {
        if (block + kBlockHeader > blockLimit)
            return failure(out, TRACE_STATUS_UNDECODABLE, "**** ERROR **** String block is past the trace length\n",
                           format("String block of subsystem %zu is past the trace length.\n", subsystem));
        const uint16_t count = readLe16(data + block + 2);
        const uint32_t length = readLe32(data + block + 4);
        if (length >= stringLength)
            return failure(out, TRACE_STATUS_UNDECODABLE,
                           "Embedded String Length of a particular subsystem cannot be greater than Total "
                           "Embedded Strings Length",
                           "Embedded String Length of a particular subsystem is greater than Total Embedded "
                           "Strings Length.");
        const size_t first = block + kBlockHeader;
        if (length > blockLimit - first)
            return failure(out, TRACE_STATUS_UNDECODABLE, "**** ERROR **** String block is past the trace length\n",
                           format("String block of subsystem %zu is past the trace length.\n", subsystem));
        const size_t end = first + length;
        for (size_t s = first; s < end;) {
            const void* zero = std::memchr(data + s, 0, end - s);
            if (zero == nullptr) {
                out.console += format("**** buffer crossing the limit i = %zu\n", s - first);
                break;
            }
            if (strings[subsystem].size() == kMaxStrings)
                return failure(out, TRACE_STATUS_UNDECODABLE,
                               "**** ERROR **** More than 1000 strings in one subsystem\n",
                               format("More than 1000 strings in subsystem %zu.\n", subsystem));
            const size_t stop = static_cast<size_t>(static_cast<const uint8_t*>(zero) - data);
            strings[subsystem].push_back({s, stop - s});
            s = stop + 1;
        }
        if (strings[subsystem].size() != count) {
            out.console += format("**** ERROR **** Number of strings are not Matching. Embedded strings header "
                                  "says #%d strings and available #%d\n",
                                  count, static_cast<int>(strings[subsystem].size()));
            out.console += format("SubSystem = %zu \n", subsystem);
            return failure(out, TRACE_STATUS_UNDECODABLE, "",
                           format("Unmatching number of strings. Embedded strings header says #%d strings and "
                                  "available #%d\n",
                                  count, static_cast<int>(strings[subsystem].size())));
        }
        block = end;
    }

    for (size_t entry = stringsEnd; entry < total;) {
        if (total - entry < 4)
            return failure(out, TRACE_STATUS_UNDECODABLE, "**** ERROR **** Trace entry is past the trace length\n",
                           format("Trace entry at 0x%zx is past the trace length.\n", entry));
        if (readLe32(data + entry) == 0) {
            entry += 4;
            continue;
        }
        const uint16_t index = readLe16(data + entry);
        const uint8_t subsystem = data[entry + 2];
        const size_t argumentCount = data[entry + 3];
        if (subsystem >= kSubsystems)
            return failure(out, TRACE_STATUS_UNDECODABLE,
                           "**** ERROR **** Currently FW is supporting only #6 subsystems",
                           format("Currently only #6 subsystems supported. Subsystem = %d\n", subsystem));
        if (index >= strings[subsystem].size()) {
            out.console += "**** ERROR **** Invalid String Index";
            out.console += format("**** ERROR **** String Index = %d and Subsystem = %d\n", index, subsystem);
            return failure(out, 1, "",
                           format("Invalid String Index. Subsystem = %d and String index = %d\n", subsystem,
                                  index));
        }
        const size_t argumentBytes = 4 * argumentCount;
        if (argumentBytes > total - entry - 4)
            return failure(out, TRACE_STATUS_UNDECODABLE, "**** ERROR **** Trace entry is past the trace length\n",
                           format("Trace entry at 0x%zx is past the trace length.\n", entry));
        if (argumentCount > kMaxArguments) {
            out.console += "**** ERROR **** Currently max 5 arguments are supported\n";
        } else {
            std::array<uint32_t, kMaxArguments> arguments{};
            for (size_t a = 0; a < argumentCount; ++a)
                arguments[a] = readLe32(data + entry + 4 + 4 * a);
            const TraceString& string = strings[subsystem][index];
            out.console += formatTrace(reinterpret_cast<const char*>(data + string.offset), string.length,
                                       arguments.data(), argumentCount);
            out.console += '\n';
        }
        entry += 4 + argumentBytes;
    }
    return out;
}

DecodedText decodeLog(const uint8_t* data, size_t size, bool offline) {
    DecodedText out;
    size_t decoded = 0;
    for (size_t at = 0; data != nullptr && size - at >= kLogEntry; at += kLogEntry) {
        const uint8_t* entry = data + at;
        bool zero = true;
        for (size_t i = 0; i < kLogEntry && zero; ++i)
            zero = entry[i] == 0;
        if (zero || (readLe32(entry) == 0xFFFFFFFF && readLe32(entry + 4) == 0xFFFFFFFF &&
                     readLe32(entry + 12) == 0xFFFFFFFF))
            break;
        if (decoded++ == 0)
            out.console += "Decoding the Log ";
        const unsigned long long stamp =
            static_cast<unsigned long long>(readLe32(entry + 4)) << 32 | readLe32(entry);
        out.console += format("         Time Stamp: 0x%016llx\n", stamp);
        out.console += format("Log Entry Qualifier: 0x%04x\n", readLe16(entry + 14));
        out.console += format("       Log Sequence: 0x%04x\n", readLe16(entry + 12));
        out.console += format("           Log Code: 0x%08x\n", readLe32(entry + 16));
        out.console += format("          Log Class: 0x%02x\n", entry[23]);
        out.console += format("      Argument Type: 0x%02x\n", entry[22]);
        out.console += format("             Locale: 0x%04x\n", readLe16(entry + 20));
        out.console += "  Log Specific Data: ";
        for (size_t w = 0; w < kLogDataWords; ++w) {
            const uint8_t* word = entry + 24 + 4 * w;
            out.console += format(w == 0 ? "0x%08X\t " : "                   : 0x%08X\t ", readLe32(word));
            // A word's bytes in the order they are stored: all four of the first word, only those that
            // are characters of the others. They are written as bytes, never read as a format.
            for (size_t b = 0; b < 4; ++b)
                if (w == 0 || isPrintable(word[b]))
                    out.console += static_cast<char>(word[b]);
            out.console += '\n';
        }
        out.console += "-------------------------------------------";
    }
    if (decoded == 0)
        out.console += offline ? kNoLogEntryInFile : kNoLogEntryInRegion;
    return out;
}

DecodedText decodeTextLog(const uint8_t* data, size_t size) {
    DecodedText out;
    if (data == nullptr || size == 0 || data[0] == 0) {
        out.console = kNoLogEntryInRegion;
        out.status = 1;
        return out;
    }
    const void* zero = std::memchr(data, 0, size);
    const size_t length = zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
    out.console.assign(reinterpret_cast<const char*>(data), length);
    return out;
}

UnknownSizeRead readUnknownSizeRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION& region) {
    UnknownSizeRead read;
    uint8_t sizeWord[4] = {};
    region.descriptorFlag = 1;
    read.status = zelkor_uploadRegion(handle, &region, 0, sizeof sizeWord, nullptr, sizeWord);
    region.descriptorFlag = 0;
    if (read.status != 0) {
        read.failed = UnknownSizeStep::Size;
        return read;
    }
    region.size = readLe32(sizeWord);
    try {
        read.data.assign(region.size, 0);
    } catch (const std::bad_alloc&) {
        read.status = kStatusNoMemory;
        read.failed = UnknownSizeStep::Allocation;
        return read;
    }
    read.status = zelkor_uploadRegion(handle, &region, 0, region.size, nullptr, read.data.data());
    if (read.status != 0)
        read.failed = UnknownSizeStep::Data;
    return read;
}

namespace {

// Decoded text goes to standard output as it stands (it may hold any byte); its log lines to the log.
uint32_t show(const char* function, const DecodedText& decoded) {
    std::fwrite(decoded.console.data(), 1, decoded.console.size(), stdout);
    std::fflush(stdout);
    for (const std::string& line : decoded.log)
        logOnly(function, ZELKOR_LOG_ERROR, line.c_str());
    return decoded.status;
}

void sizeReadFailed(const char* function) {
    logOnly(function, ZELKOR_LOG_ERROR, "Unable to read size of buffer\n");
    showAlways("**** ERROR **** Unable to read size of buffer");
}

// The dword count and offset of a failed whole-buffer read, in the function's own log text.
void dataReadFailed(const char* function, const char* text, const ZELKOR_REGION& region) {
    messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, function, MSG_DEST_LOG, text, region.size / 4, 0u);
}

uint32_t getOfflineLog() {
    const char* fn = "getLog";
    const char* path = gClParser.addressText;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, fn, MSG_DEST_LOG, "File \"%s\" not found.\n", path);
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "File \"%s\" not found.\n", path);
        return kStatusFileNotFound;
    }
    std::vector<uint8_t> data;
    uint8_t chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        data.insert(data.end(), chunk, chunk + n);
    std::fclose(file);
    if (data.empty()) {
        showAlways(kNoLogEntryInFile);
        return 1;
    }
    return show(fn, decodeLog(data.data(), data.size(), true));
}

} // namespace

uint32_t getTrace() {
    const char* fn = "getTrace";
    FunctionTrace functionTrace(fn);
    ZELKOR_REGION_LIST* node = firstRegionOfKind(kTraceRegionKind);
    if (node == nullptr) {
        reportError(fn, "**** ERROR **** Upload Region Not Found");
        return kStatusNoUploadRegion;
    }
    const UnknownSizeRead read = readUnknownSizeRegion(gInstance.handle, node->region);
    switch (read.failed) {
    case UnknownSizeStep::Size:
        sizeReadFailed(fn);
        return read.status;
    case UnknownSizeStep::Allocation:
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, fn, MSG_DEST_LOG, "Unable to Allocate memory of %d bytes",
                   static_cast<int>(node->region.size));
        return read.status;
    case UnknownSizeStep::Data:
        dataReadFailed(fn, "Reading %d dwords at offset 0x%08x **** FAILED ****", node->region);
        return read.status;
    case UnknownSizeStep::Done:
        break;
    }
    return show(fn, decodeTrace(read.data.data(), read.data.size()));
}

uint32_t getLog(const char* argument) {
    const char* fn = "getLog";
    FunctionTrace functionTrace(fn);
    if (gClParser.interfaceKind == kOfflineLogKind)
        return getOfflineLog();
    const ZELKOR_EXPANDER* first = firstExpander();
    if (first != nullptr && first->type == ZELKOR_CHIP_PALX) {
        reportError(fn, "Get Log is not supported for this Expander\n");
        return kStatusInvalidArgument;
    }
    ZELKOR_REGION_LIST* node = firstRegionOfKind(kLogRegionKind);
    if (node == nullptr)
        return kStatusInvalidArgument;
    if (argument != nullptr)
        node->region.regionId = kTextLogBuffer;
    const UnknownSizeRead read = readUnknownSizeRegion(gInstance.handle, node->region);
    switch (read.failed) {
    case UnknownSizeStep::Size:
        sizeReadFailed(fn);
        return read.status;
    case UnknownSizeStep::Allocation:
        logOnly(fn, ZELKOR_LOG_ERROR, "Failed allocating memory.\n");
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS,
                   " %s() ---- Memory allocation(%d Bytes) of Log failed\n", fn,
                   static_cast<int>(node->region.size));
        return read.status;
    case UnknownSizeStep::Data:
        dataReadFailed(fn, "Reading %d dwords from 0x%08x offset **** FAILED ****", node->region);
        return read.status == kStatusInvalidArgument ? 1 : read.status;
    case UnknownSizeStep::Done:
        break;
    }
    if (argument != nullptr)
        return show(fn, decodeTextLog(read.data.data(), read.data.size()));
    return show(fn, decodeLog(read.data.data(), read.data.size(), false));
}
