#include "ial/cliUart.h"

namespace {

constexpr uint32_t kDataBits[4] = {5, 6, 7, 8};      // line control bits 0-1
constexpr uint32_t kParity[4] = {0, 1, 0, 2};         // line control bits 3-4: none, odd, none, even
constexpr uint32_t kStopBits[2] = {1, 2};             // line control bit 2

struct DivisorRow {
    uint8_t divisor;
    uint32_t baudIndex;
};
constexpr DivisorRow kDivisors[] = {{1, 10}, {2, 9}};
constexpr uint32_t kOtherDivisorBaud = 8;

void logFailure(const ZELKOR_INSTANCE* handle, const char* text) {
    LOG_FUNCTION log = handle != nullptr && handle->log != nullptr ? handle->log : zelkor_messageLog;
    log("zelkor_ial_CLI", "getUARTConnParams", ZELKOR_LOG_CLI, ZELKOR_LOG_ERROR, 1, "%s **** FAILED ****", text);
}

} // namespace

CliUartSettings cliDecodeUart(uint8_t lineControl, uint8_t divisor) {
    CliUartSettings settings{kOtherDivisorBaud, kDataBits[lineControl & 0x3], kStopBits[(lineControl >> 2) & 0x1],
                             kParity[(lineControl >> 3) & 0x3]};
    for (const DivisorRow& row : kDivisors)
        if (row.divisor == divisor)
            settings.baudIndex = row.baudIndex;
    return settings;
}

ZELKOR_STATUS getUARTConnParams(const CliRegisterFunction& registerAccess, const ZELKOR_INSTANCE* handle,
                                  CliUartSettings* settings) {
    // Word accesses: the debug port's boot-ROM frames carry no byte write, and the register is a word.
    uint32_t lineControl = 0;
    if (registerAccess(0, CLI_UART_LINE_CONTROL, 0, &lineControl) != 0) {
        logFailure(handle, "Reading UART line control register");
        return 1;
    }
    if (registerAccess(CLI_OP_WRITE, CLI_UART_LINE_CONTROL, lineControl | CLI_UART_DIVISOR_ACCESS, nullptr) != 0) {
        logFailure(handle, "Setting the 7th bit of UART line control register");
        return 1;
    }
    uint32_t divisor = 0;
    const bool divisorRead = registerAccess(0, CLI_UART_DIVISOR_LOW, 0, &divisor) == 0;
    // The latch is closed again even when the divisor could not be read: left open, the firmware's UART
    // would send and receive nothing.
    const bool restored =
        registerAccess(CLI_OP_WRITE, CLI_UART_LINE_CONTROL, lineControl & ~CLI_UART_DIVISOR_ACCESS, nullptr) == 0;
    if (!divisorRead) {
        logFailure(handle, "Reading UART divisor latch");
        return 1;
    }
    if (!restored) {
        logFailure(handle, "Clearing the 7th bit of UART line control register");
        return 1;
    }
    *settings = cliDecodeUart(static_cast<uint8_t>(lineControl), static_cast<uint8_t>(divisor));
    return 0;
}
