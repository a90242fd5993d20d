// Serial port layer under the two serial interface modules and XMODEM: a Linux tty in raw mode with one
// of eleven baud rates and a chosen frame format, byte reads with short silence time-outs, writes at
// once or paced, and the debug-port write with echo check and prompt wait. The status of the last call
// is kept process-wide. Internal to the library.
#ifndef OSAL_COM_H
#define OSAL_COM_H

#include "core/zelkor.h"

#include <cstdint>

struct SERIAL_PORT_SETTINGS {
    uint32_t baudIndex;       // 0 110, 1 300, 2 600, 3 1200, 4 2400, 5 4800, 6 9600, 7 19200, 8 38400, 9 57600, 10 115200
    uint32_t dataBits;        // 5 to 8
    uint32_t stopBits;        // 1 or 2
    uint32_t parity;          // 0 none, 1 odd, 2 even
    uint32_t flowControl;     // 0 none, 1 XON/XOFF, 2 RTS/CTS
    uint32_t interByteDelay;  // microseconds after each byte of a paced write
    uint32_t postWriteDelay;  // microseconds after every write call
};
static_assert(sizeof(SERIAL_PORT_SETTINGS) == 28, "SERIAL_PORT_SETTINGS is seven words");

constexpr uint32_t kSerialPortConfigured = 0x1; // flags bit 0, set by the first successful apply

struct SERIAL_PORT_HANDLE {
    int32_t descriptor;
    uint32_t flags;
    SERIAL_PORT_SETTINGS settings; // the settings last applied; all zero after a failed apply
};

// Statuses of this layer, negative values carried in the unsigned status type.
constexpr ZELKOR_STATUS kSerialOk = 0;
constexpr ZELKOR_STATUS kSerialFailed = static_cast<ZELKOR_STATUS>(-1);
constexpr ZELKOR_STATUS kSerialBadArgument = static_cast<ZELKOR_STATUS>(-2);
constexpr ZELKOR_STATUS kSerialNoMemory = static_cast<ZELKOR_STATUS>(-3);
constexpr ZELKOR_STATUS kSerialNoDevice = static_cast<ZELKOR_STATUS>(-4);
constexpr ZELKOR_STATUS kSerialNoPermission = static_cast<ZELKOR_STATUS>(-5);
constexpr ZELKOR_STATUS kSerialNotConfigured = static_cast<ZELKOR_STATUS>(-6);
constexpr ZELKOR_STATUS kSerialNullHandle = static_cast<ZELKOR_STATUS>(-7);

constexpr uint32_t kSerialBaud38400 = 8;
constexpr uint32_t kSerialBaud57600 = 9;
constexpr uint32_t kSerialBaud115200 = 10;

// Flush selectors: odd discards unsent output, even non-zero unread input.
constexpr uint32_t kSerialFlushOutput = 1;
constexpr uint32_t kSerialFlushInput = 2;

// 1 while a family Quenza program is being talked to: the echo check and prompt wait of
// osal_serialComDbgPortWrite are off.
extern uint32_t gChipTypeFlag;

// Opens the path read-write without making it the controlling terminal. A new zeroed handle, or null
// with the last status -2 (null path), -4 (no such node), -5 (no permission), -3 or -1.
SERIAL_PORT_HANDLE* osal_serialPortOpen(const char* path);
// Puts the port in raw mode with the settings; pending input is discarded. 0, -1 or -2.
ZELKOR_STATUS osal_serialPortSetParam(SERIAL_PORT_HANDLE* port, const SERIAL_PORT_SETTINGS* settings);
// Reads until count bytes arrived or the line fell silent. 0 when something arrived (or, at 38400
// baud with 8 data bits, also when nothing did); -1 on silence or a failed read; -2, -6, -7.
ZELKOR_STATUS osal_serialPortRead(SERIAL_PORT_HANDLE* port, uint8_t* buffer, uint32_t count, uint32_t* read);
// Writes at once, or byte by byte with the inter-byte delay when paced; the post-write delay follows.
ZELKOR_STATUS osal_serialPortWrite(SERIAL_PORT_HANDLE* port, const uint8_t* buffer, uint32_t count,
                                   uint32_t* written, uint32_t paced);
// Writes to a monitor that echoes every character: each byte alone, its echo checked, then the prompt
// ('%' or '#') awaited. The echo check and prompt wait are skipped while gChipTypeFlag is 1.
ZELKOR_STATUS osal_serialComDbgPortWrite(SERIAL_PORT_HANDLE* port, const uint8_t* buffer, uint32_t count,
                                         uint32_t* echoed, uint32_t waitAfterError);
ZELKOR_STATUS osal_serialPortEmptyBuffer(SERIAL_PORT_HANDLE* port, uint32_t selector);
ZELKOR_STATUS osal_serialPortClearError(SERIAL_PORT_HANDLE* port);
ZELKOR_STATUS osal_serialPortGetLastStatus();
void osal_serialPortSleep(uint32_t microseconds);
// Closes the descriptor and frees the handle; -2 for a null handle, -1 (handle kept) when close fails.
ZELKOR_STATUS osal_serialPortClose(SERIAL_PORT_HANDLE* port);

// The 38400 baud, 8 data bit configuration, whose silences count as empty reads.
bool osal_serialPortIsQuietMode(const SERIAL_PORT_HANDLE* port);

#endif
