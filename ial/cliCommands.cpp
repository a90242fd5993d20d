#include "ial/cliCommands.h"

#include "osal/xmodem.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kModule = "zelkor_ial_CLI";
constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kNoMemory = 6;
constexpr uint32_t kMaxHexDigits = 8;
constexpr uint32_t kMaxDecimalDigits = 10;

constexpr CliCommandRow kCommands[] = {
    {CliCommandId::ByteRead, "mr8 0x%08x 1\r", 322, 0, CliReplyKind::Value, {}},
    {CliCommandId::WordRead, "mr32 0x%08x 1\r", 322, 0, CliReplyKind::Value, {}},
    {CliCommandId::ByteWrite, "mw8 0x%08x 0x%08x\r", 128, 0, CliReplyKind::WriteAck, {}},
    {CliCommandId::ByteWriteInWord, "mw8 0x%08x 0x%02x\r", 128, 0, CliReplyKind::WriteAck, {}},
    {CliCommandId::HalfWordWrite, "mw16 0x%08x 0x%04x\r", 128, 0, CliReplyKind::WriteAck, {}},
    {CliCommandId::WordWrite, "mw32 0x%08x 0x%08x\r", 128, 0, CliReplyKind::WriteAck, {}},
    {CliCommandId::FlashDownload, "fdl %x %08x y\r", 129, 45, CliReplyKind::Send,
     {"Flash write operation over Smart/USB serial interface before download",
      "Reading additional string after Flash write operation to clear serial receive buffer",
      "Downloading data over Smart/USB serial interface using xmodem protocol",
      "Reading additional string after download to clear serial receive buffer"}},
    {CliCommandId::FlashUpload, "ful %x %08x %d\r", 173, 48, CliReplyKind::Receive,
     {"Flash read operation over Smart/USB serial interface before upload",
      "Reading additional string after Flash read operation to clear serial receive buffer",
      "Uploading data over Smart/USB serial interface using xmodem protocol",
      "Reading additional string after upload to clear serial receive buffer"}},
    {CliCommandId::MemoryDownload, "mdl %08x\r", 256, 46, CliReplyKind::Send,
     {"Memory write operation over Smart/USB serial interface before download",
      "Reading additional string after Memory write operation to clear serial receive buffer",
      "Downloading data to memory over Smart/USB serial interface using xmodem protocol",
      "Reading additional string after memory download to clear serial receive buffer"}},
    {CliCommandId::MemoryUpload, "mul %08x %08d\r", 134, 54, CliReplyKind::Receive,
     {"Memory read operation over Smart/USB serial interface before upload",
      "Reading additional string after Memory read operation to clear serial receive buffer",
      "Uploading data from memory over Smart/USB serial interface using xmodem protocol",
      "Reading additional string after memory upload to clear serial receive buffer"}},
    {CliCommandId::RegionErase, "regerase %02d\r", 255, 0, CliReplyKind::Text, {}},
    {CliCommandId::BufferSize, "buffsize %x\r", 512, 0, CliReplyKind::Capacity, {}},
    {CliCommandId::WatchdogReset, "reset watchdog\r", 512, 0, CliReplyKind::Text, {}},
    {CliCommandId::NetworkSettings, "ipconfig\r", 512, 0, CliReplyKind::Text, {}},
};

__attribute__((format(printf, 4, 5))) void logLine(const ZELKOR_INSTANCE* handle, const char* function,
                                                   uint32_t level, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LOG_FUNCTION log = handle != nullptr && handle->log != nullptr ? handle->log : zelkor_messageLog;
    log(kModule, function, ZELKOR_LOG_CLI, level, 1, "%s", text);
}

void logFailed(const ZELKOR_INSTANCE* handle, const char* function, const char* text) {
    logLine(handle, function, ZELKOR_LOG_ERROR, "%s **** FAILED ****", text);
}

// The command's text with its values; the whole text is written, whatever its length.
std::string formatCommand(const CliCommandRow& row, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0) {
    char text[96];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int n = std::snprintf(text, sizeof text, row.format, a, b, c);
#pragma GCC diagnostic pop
    return std::string(text, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof text) - 1)));
}

// Drops what an earlier exchange left on the line, then writes the command.
bool sendCommand(SerialLine& line, const std::string& text) {
    if (!line.dropInput())
        return false;
    return line.write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
}

// The one reply reader: bytes until limit or silence; none when the line failed.
std::optional<std::vector<uint8_t>> readReply(SerialLine& line, uint32_t limit) {
    std::vector<uint8_t> reply(limit);
    uint32_t got = 0;
    if (!line.read(reply.data(), limit, got))
        return std::nullopt;
    reply.resize(got);
    return reply;
}

std::string_view asText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

size_t findIgnoringCase(std::string_view text, std::string_view what, size_t from = 0) {
    for (size_t i = from; i + what.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < what.size() && std::tolower(static_cast<unsigned char>(text[i + k])) ==
                                      std::tolower(static_cast<unsigned char>(what[k])))
            ++k;
        if (k == what.size())
            return i;
    }
    return std::string_view::npos;
}

bool endsField(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

uint32_t decimalDigits(uint32_t value) {
    uint32_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

// One register write command and its answer: a byte must come, the rest is drained.
int32_t writeUnit(SerialLine& line, CliCommandId id, uint32_t address, uint32_t value) {
    const CliCommandRow& row = cliCommand(id);
    if (!sendCommand(line, formatCommand(row, address, value)))
        return CLI_LINE_FAILED;
    uint8_t first = 0;
    uint32_t got = 0;
    if (!line.read(&first, 1, got) || got != 1)
        return CLI_LINE_FAILED;
    if (!readReply(line, row.replyLimit))
        return CLI_LINE_FAILED;
    return 0;
}

// A transfer command: the command, its acknowledgement, the data through XMODEM, the closing text.
// send holds the data of a download, receive the buffer of an upload.
ZELKOR_STATUS transfer(CliLink link, const CliCommandRow& row, const std::string& text, const uint8_t* send,
                       uint8_t* receive, uint32_t size, const char* function) {
    const ZELKOR_INSTANCE* handle = link.handle;
    logLine(handle, function, ZELKOR_LOG_INFO, "%s", row.steps[0]);
    if (!sendCommand(link.line, text)) {
        // Without the command the data would be typed at the console as commands.
        logFailed(handle, function, row.steps[0]);
        return kFailure;
    }
    const auto ack = readReply(link.line, row.replyLimit);
    if (!ack) {
        logFailed(handle, function, row.steps[1]);
        return kFailure;
    }
    if (row.id == CliCommandId::FlashUpload &&
        asText(*ack).find("Xmodem Transfer Failed") != std::string_view::npos) {
        logLine(handle, function, ZELKOR_LOG_ERROR,
                "Received 'Xmodem Transfer Failed' response when reading response for 'ful' command.");
        // A damaged acknowledgement may hide a transfer the console did start.
        xmodemCancel(link.line);
        return kFailure;
    }
    const ZELKOR_STATUS moved = send != nullptr ? xFileTransByte(link.line, handle, send, size)
                                                : xFileRcveByte(link.line, handle, receive, size);
    if (moved != XMODEM_SUCCESS) {
        // Whichever side gave up, the console must be out of the transfer before the next command.
        xmodemCancel(link.line);
        logFailed(handle, function, row.steps[2]);
        return kFailure;
    }
    const auto closing = readReply(link.line, row.closingFixed + decimalDigits(size));
    if (!closing || closing->empty()) {
        logFailed(handle, function, row.steps[3]);
        return kFailure;
    }
    return 0;
}

} // namespace

const CliCommandRow& cliCommand(CliCommandId id) {
    for (const CliCommandRow& row : kCommands)
        if (row.id == id)
            return row;
    return kCommands[0];
}

std::string cliLogText(const char* printed) {
    std::string_view text(printed);
    constexpr std::string_view frame = "**** ERROR **** ";
    while (!text.empty() && (text.front() == '\n' || text.front() == '\r'))
        text.remove_prefix(1);
    if (text.substr(0, frame.size()) == frame)
        text.remove_prefix(frame.size());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.remove_suffix(1);
    std::string out(text);
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

std::optional<uint32_t> cliParseValue(std::span<const uint8_t> reply, uint32_t address, bool ended) {
    const std::string_view text = asText(reply);
    char name[16];
    std::snprintf(name, sizeof name, "%x", address);
    const size_t at = text.find(name);
    if (at == std::string_view::npos)
        return std::nullopt;
    const size_t prefix = findIgnoringCase(text, "0x", at);
    if (prefix == std::string_view::npos)
        return std::nullopt;
    size_t end = prefix + 2;
    uint32_t value = 0;
    while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])) != 0) {
        if (end - (prefix + 2) == kMaxHexDigits)
            return std::nullopt; // more digits than a word holds
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[end])));
        value = (value << 4) | static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        ++end;
    }
    if (end == prefix + 2 || (end < text.size() && !endsField(text[end])) || (ended && end == text.size()))
        return std::nullopt;
    return value;
}

std::optional<uint32_t> cliParseCapacity(std::span<const uint8_t> reply) {
    const std::string_view text = asText(reply);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon + 2 >= text.size())
        return std::nullopt;
    uint64_t value = 0;
    size_t i = colon + 2;
    const size_t start = i;
    for (; i < text.size() && !endsField(text[i]); ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) == 0 || i - start == kMaxDecimalDigits)
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (i == start || value > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

void cliParseIpAddress(std::span<const uint8_t> reply, char (&ip)[16]) {
    const std::string_view text = asText(reply);
    std::strcpy(ip, "0.0.0.0");
    size_t i = findIgnoringCase(text, "IP Address");
    if (i == std::string_view::npos)
        return;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) == 0)
        ++i;
    if (i == text.size())
        return;
    size_t n = 0;
    while (i + n < text.size() && n < sizeof ip - 1 && !endsField(text[i + n]))
        ++n;
    std::memcpy(ip, text.data() + i, n);
    ip[n] = '\0';
}

int32_t cliRegisterAccess(CliLink link, uint32_t operation, uint32_t address, uint32_t data, uint32_t* out) {
    SerialLine& line = link.line;
    const bool byte = (operation & CLI_OP_BYTE) != 0;
    if ((operation & CLI_OP_WRITE) == 0) {
        if (out == nullptr)
            return CLI_BAD_ARGUMENT;
        *out = 0;
        const CliCommandRow& row = cliCommand(byte ? CliCommandId::ByteRead : CliCommandId::WordRead);
        if (!sendCommand(line, formatCommand(row, address)))
            return CLI_LINE_FAILED;
        const auto reply = readReply(line, row.replyLimit);
        if (!reply)
            return CLI_LINE_FAILED;
        if (reply->size() == row.replyLimit) {
            // The reply's end was not seen: the value cannot be trusted.
            line.dropInput();
            return CLI_LINE_FAILED;
        }
        // The console ends the number with a line end; a reply that stops in its digits was cut short.
        const auto value = cliParseValue(*reply, address, true);
        if (!value)
            return CLI_LINE_FAILED;
        *out = byte ? (*value & 0xFF) : *value;
        return 0;
    }
    struct Unit {
        CliCommandId id;
        uint32_t address;
        uint32_t value;
    };
    std::array<Unit, 4> units{};
    size_t count = 0;
    if (byte) {
        units[count++] = {CliCommandId::ByteWrite, address, data};
    } else if (address % 4 == 0) {
        units[count++] = {CliCommandId::WordWrite, address, data};
    } else if (address % 2 == 0) {
        units[count++] = {CliCommandId::HalfWordWrite, address, data & 0xFFFF};
        units[count++] = {CliCommandId::HalfWordWrite, address + 2, data >> 16};
    } else {
        for (uint32_t i = 0; i < 4; ++i)
            units[count++] = {CliCommandId::ByteWriteInWord, address + i, (data >> (8 * i)) & 0xFF};
    }
    for (size_t i = 0; i < count; ++i)
        if (const int32_t status = writeUnit(line, units[i].id, units[i].address, units[i].value); status != 0)
            return status;
    return 0;
}

int32_t cli_specific_command_operation(CliLink link, const char* text, uint8_t* reply, uint32_t size, uint32_t* got) {
    *got = 0;
    if (!sendCommand(link.line, text))
        return CLI_LINE_FAILED;
    if (!link.line.read(reply, size, *got))
        return CLI_LINE_FAILED;
    if (!readReply(link.line, size))
        return CLI_LINE_FAILED;
    return 0;
}

ZELKOR_STATUS cli_fdl_operation(CliLink link, uint8_t bufferId, uint32_t offset, const uint8_t* data,
                               uint32_t size) {
    const CliCommandRow& row = cliCommand(CliCommandId::FlashDownload);
    return transfer(link, row, formatCommand(row, bufferId, offset), data, nullptr, size, "cli_fdl_operation");
}

ZELKOR_STATUS cli_ful_operation(CliLink link, uint8_t bufferId, uint32_t offset, uint8_t* buffer, uint32_t size) {
    const CliCommandRow& row = cliCommand(CliCommandId::FlashUpload);
    return transfer(link, row, formatCommand(row, bufferId, offset, size), nullptr, buffer, size,
                    "cli_ful_operation");
}

ZELKOR_STATUS cli_mul_operation(CliLink link, uint32_t address, uint8_t* buffer, uint32_t size) {
    const CliCommandRow& row = cliCommand(CliCommandId::MemoryUpload);
    return transfer(link, row, formatCommand(row, address, size), nullptr, buffer, size, "cli_mul_operation");
}

ZELKOR_STATUS cli_mdl_operation(CliLink link, uint32_t address, const uint8_t* data, uint32_t size) {
    constexpr const char* fn = "cli_mdl_operation";
    // Whole blocks reach the memory: the last one carries the memory's own bytes behind the data.
    const uint64_t rounded = (uint64_t{size} + XMODEM_DATA_SIZE - 1) / XMODEM_DATA_SIZE * XMODEM_DATA_SIZE;
    if (rounded > UINT32_MAX)
        return kFailure;
    std::vector<uint8_t> blocks;
    try {
        blocks.assign(rounded, 0);
    } catch (const std::bad_alloc&) {
        logFailed(link.handle, fn, "Unable to allocate memory");
        return kNoMemory;
    }
    const uint32_t whole = static_cast<uint32_t>(rounded);
    if (cli_mul_operation(link, address, blocks.data(), whole) != 0) {
        logFailed(link.handle, fn, "Reading memory before download");
        return kFailure;
    }
    std::memcpy(blocks.data(), data, size);
    const CliCommandRow& row = cliCommand(CliCommandId::MemoryDownload);
    return transfer(link, row, formatCommand(row, address), blocks.data(), nullptr, whole, fn);
}

ZELKOR_STATUS cli_regerase_operation(CliLink link, uint32_t regionId) {
    const CliCommandRow& row = cliCommand(CliCommandId::RegionErase);
    if (!sendCommand(link.line, formatCommand(row, regionId)) || !readReply(link.line, row.replyLimit)) {
        logFailed(link.handle, "cli_regerase_operation", "Region erase over Smart/USB serial interface");
        return kFailure;
    }
    return 0;
}

ZELKOR_STATUS cli_buffsize_operation(CliLink link, uint8_t bufferId, uint32_t* capacity) {
    constexpr const char* fn = "cli_buffsize_operation";
    const CliCommandRow& row = cliCommand(CliCommandId::BufferSize);
    if (!sendCommand(link.line, formatCommand(row, bufferId))) {
        logFailed(link.handle, fn, "Write request on serial port");
        return kFailure;
    }
    const auto reply = readReply(link.line, row.replyLimit);
    if (!reply) {
        logFailed(link.handle, fn, "Reading data in block of 512 Bytes");
        return kFailure;
    }
    const auto value = cliParseCapacity(*reply);
    if (!value) {
        logFailed(link.handle, fn, "Reading the buffer size");
        return kFailure;
    }
    *capacity = *value;
    if (!readReply(link.line, row.replyLimit)) {
        logFailed(link.handle, fn, "Clearing the COM port");
        return kFailure;
    }
    return 0;
}

ZELKOR_STATUS perform_reset_watchdog(CliLink link) {
    constexpr const char* fn = "perform_reset_watchdog";
    const CliCommandRow& row = cliCommand(CliCommandId::WatchdogReset);
    logLine(link.handle, fn, ZELKOR_LOG_INFO, "Executing Watchdog Reset command over Smart/USB serial interface");
    std::vector<uint8_t> reply(row.replyLimit);
    uint32_t got = 0;
    if (cli_specific_command_operation(link, row.format, reply.data(), row.replyLimit, &got) != 0) {
        logFailed(link.handle, fn, "Watchdog Reset command over Smart/USB serial interface");
        return kFailure;
    }
    return 0;
}

ZELKOR_STATUS getGen3ExpIPAddress(CliLink link, char (&ip)[16]) {
    constexpr const char* fn = "getGen3ExpIPAddress";
    const CliCommandRow& row = cliCommand(CliCommandId::NetworkSettings);
    std::vector<uint8_t> reply;
    try {
        reply.resize(row.replyLimit);
    } catch (const std::bad_alloc&) {
        logLine(link.handle, fn, ZELKOR_LOG_ERROR, "Unable to allocate memoryfor response packet****** FAILED *****");
        return kNoMemory;
    }
    uint32_t got = 0;
    if (cli_specific_command_operation(link, row.format, reply.data(), row.replyLimit, &got) != 0) {
        logFailed(link.handle, fn, "Reading IP address over Smart/USB serial interface");
        return kFailure;
    }
    cliParseIpAddress(std::span<const uint8_t>(reply.data(), got), ip);
    return 0;
}
