// The firmware UART's settings as the firmware set them, read through the expander's registers: the line
// control register gives the frame, the divisor latch (shown while line control bit 7 is set) the baud
// rate. Used by the command-line module to follow the firmware's console onto the debug port's line.
#ifndef ZELKOR_CLI_UART_H
#define ZELKOR_CLI_UART_H

#include "ial/cliRegions.h"

#include <cstdint>

inline constexpr uint32_t CLI_UART_LINE_CONTROL = 0x4280000C;
inline constexpr uint32_t CLI_UART_DIVISOR_LOW = 0x42800000;
inline constexpr uint32_t CLI_UART_DIVISOR_ACCESS = 0x80; // line control bit 7

// In the serial port layer's coding: baud index 8 38400, 9 57600, 10 115200; parity 0 none, 1 odd, 2 even.
struct CliUartSettings {
    uint32_t baudIndex;
    uint32_t dataBits;
    uint32_t stopBits;
    uint32_t parity;
};

// The frame of a line control value and the baud index of a divisor.
CliUartSettings cliDecodeUart(uint8_t lineControl, uint8_t divisor);

// Reads the line control register, opens the divisor latch, reads the divisor and closes the latch
// again, whatever the divisor read gave. 0, or 1 when an access failed (settings then untouched).
ZELKOR_STATUS getUARTConnParams(const CliRegisterFunction& registerAccess, const ZELKOR_INSTANCE* handle,
                                  CliUartSettings* settings);

#endif
