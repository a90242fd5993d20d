// The expander firmware's console commands as the library sends them: one table of commands (format,
// how much acknowledgement text is read, the closing text after a transfer, how the reply is handled),
// the register access of the console, the text commands and the transfers that carry their data with
// XMODEM. Every routine works on a CliLink: the serial line and the handle whose log and progress
// callback it uses.
#ifndef ZELKOR_CLI_COMMANDS_H
#define ZELKOR_CLI_COMMANDS_H

#include "core/zelkor.h"
#include "osal/serialLine.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

struct CliLink {
    SerialLine& line;
    const ZELKOR_INSTANCE* handle; // may be null
};

enum class CliCommandId {
    ByteRead,
    WordRead,
    ByteWrite,       // the whole 32-bit data word
    ByteWriteInWord, // one data byte of a split word write
    HalfWordWrite,
    WordWrite,
    FlashDownload,
    FlashUpload,
    MemoryDownload,
    MemoryUpload,
    RegionErase,
    BufferSize,
    WatchdogReset,
    NetworkSettings,
};

enum class CliReplyKind {
    Value,    // a number after the address and "0x"
    WriteAck, // at least one byte, the rest drained
    Send,     // acknowledgement text, XMODEM send, closing text
    Receive,  // acknowledgement text, XMODEM receive, closing text
    Text,     // a text read and handed back
    Capacity, // a decimal number after ':'
};

struct CliCommandRow {
    CliCommandId id;
    const char* format;
    uint32_t replyLimit;   // reply (or acknowledgement) bytes read after the command
    uint32_t closingFixed; // closing text: this many bytes plus the digits of the size; 0: none
    CliReplyKind reply;
    // Log texts of a transfer's four steps (command, acknowledgement, data, closing text); null elsewhere.
    const char* steps[4];
};

const CliCommandRow& cliCommand(CliCommandId id);

// The log form of a text printed for the user: without its "\n**** ERROR **** " frame and line ends.
std::string cliLogText(const char* printed);

// The console prompt, found from the third byte of the answer to a carriage return.
inline constexpr const char CLI_PROMPT[] = "\n cmd >";

// REGISTER_OP operation bits.
inline constexpr uint32_t CLI_OP_WRITE = 0x1;
inline constexpr uint32_t CLI_OP_BYTE = 0x8;

// Serial-layer statuses that the register access passes on.
inline constexpr int32_t CLI_LINE_FAILED = -1;
inline constexpr int32_t CLI_BAD_ARGUMENT = -2;

// The value of a read reply: the hexadecimal number after "0x" that follows the address (as "%x"), with
// its digits ended by a blank, a line end or (unless ended is asked for) the end of the reply; none for any
// other reply. A reply that stops right after the digits may have been cut inside the number.
std::optional<uint32_t> cliParseValue(std::span<const uint8_t> reply, uint32_t address, bool ended = false);
// The capacity after the first ':' (two characters on), decimal, up to a blank; none unless it is a
// number of 32 bits.
std::optional<uint32_t> cliParseCapacity(std::span<const uint8_t> reply);
// The IP address text after "IP Address" (any case), from its first digit to a blank or line end, at
// most 15 characters; "0.0.0.0" when the reply names none.
void cliParseIpAddress(std::span<const uint8_t> reply, char (&ip)[16]);

// Register and memory access through the console (the REGISTER_OP of the console): operation bits as
// above; out receives a read's value. 0 or a negative status.
int32_t cliRegisterAccess(CliLink link, uint32_t operation, uint32_t address, uint32_t data, uint32_t* out);

// Drops stale input, writes text, reads the reply (until size bytes or silence) into reply, then drains up
// to size more. 0 or CLI_LINE_FAILED; got is the reply's length.
int32_t cli_specific_command_operation(CliLink link, const char* text, uint8_t* reply, uint32_t size, uint32_t* got);

// Transfers: 0 or 1 (the failure logged).
ZELKOR_STATUS cli_fdl_operation(CliLink link, uint8_t bufferId, uint32_t offset, const uint8_t* data,
                               uint32_t size);
ZELKOR_STATUS cli_ful_operation(CliLink link, uint8_t bufferId, uint32_t offset, uint8_t* buffer, uint32_t size);
// Writes size bytes at address; the whole last block goes out with the memory's own bytes behind the data,
// read back first (6 when memory is short, 1 when the read fails).
ZELKOR_STATUS cli_mdl_operation(CliLink link, uint32_t address, const uint8_t* data, uint32_t size);
ZELKOR_STATUS cli_mul_operation(CliLink link, uint32_t address, uint8_t* buffer, uint32_t size);
ZELKOR_STATUS cli_regerase_operation(CliLink link, uint32_t regionId);
ZELKOR_STATUS cli_buffsize_operation(CliLink link, uint8_t bufferId, uint32_t* capacity);
ZELKOR_STATUS perform_reset_watchdog(CliLink link);
// Fills ip with the expander's IP address text (6 when memory is short, 1 when the command failed).
ZELKOR_STATUS getGen3ExpIPAddress(CliLink link, char (&ip)[16]);

#endif
