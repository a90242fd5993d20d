// Opening the firmware console: the probe passes over the port's three settings (the console at 38400
// 8N1, the serial debug port at 38400 7N1, the console at the firmware UART's own settings after the SDB
// bypass), the prompt checks, and the chip identification over the console or the debug port. The port
// itself is reached through a CliPort, which the module builds over the serial port layer.
#ifndef ZELKOR_CLI_OPEN_H
#define ZELKOR_CLI_OPEN_H

#include "ial/cliRegions.h"
#include "ial/cliUart.h"

#include <cstdint>

// Port settings of a probe mode, in the serial port layer's coding (no flow control).
struct CliPortSettings {
    uint32_t baudIndex;
    uint32_t dataBits;
    uint32_t stopBits;
    uint32_t parity;
    uint32_t interByteDelayUs;
    uint32_t postWriteDelayUs;
};

enum class CliProbeMode : uint32_t { DebugPort = 0, Console = 1, ConsoleOnUart = 2 };

// The settings of a mode; the firmware UART's own settings serve the third.
CliPortSettings cliProbeSettings(CliProbeMode mode, const CliUartSettings& uart);

// The port under the open: a serial status (0 or negative) from each call.
class CliPort {
  public:
    virtual ~CliPort() = default;
    virtual int32_t open(const char* path) = 0;
    virtual int32_t configure(const CliPortSettings& settings) = 0;
    virtual int32_t clearError() = 0;
    virtual void close() = 0;
    virtual SerialLine& line() = 0;
    // The register operation of the family Quenza boot-ROM monitor on this port.
    virtual CliRegisterFunction romRegisterAccess() = 0;
};

// What an open learnt besides the record.
struct CliOpenState {
    bool sdbBypassed = false;
    CliUartSettings uart{};
    bool quenza = false;    // a family Quenza program answered
    bool onConsole = false; // the register operation in use is the console's
};

// Serial statuses of the port layer the open tells apart.
inline constexpr int32_t CLI_PORT_NO_DEVICE = -4;
inline constexpr int32_t CLI_PORT_NO_PERMISSION = -5;

// The passes of the open on the path: 0 with the record identified and the port open at the mode that
// answered, or the open's status with the port closed.
ZELKOR_STATUS cliOpenPasses(CliPort& port, ZELKOR_INSTANCE* handle, const char* path, ZELKOR_EXPANDER& record,
                            CliOpenState& state);

// Identification over the console (reads the firmware signature first when the product is not known yet).
ZELKOR_STATUS cliIdentifyOnConsole(CliTarget& target, CliOpenState& state);
// The family Ostrel identification through the console's register access.
ZELKOR_STATUS getOstreExptIDAndRevision(const CliRegisterFunction& access, const ZELKOR_INSTANCE* handle,
                                ZELKOR_EXPANDER& record);
// The family Quenza identification: the device signature decoded as read.
ZELKOR_STATUS getGen3ExptIDAndRevision(const CliRegisterFunction& access, const ZELKOR_INSTANCE* handle,
                                ZELKOR_EXPANDER& record);
// The firmware check (P2H '>'), the miscellaneous register and, with the check, the firmware UART's
// settings. Without the check only the miscellaneous register is read.
ZELKOR_STATUS sdbBypass(const CliRegisterFunction& access, const ZELKOR_INSTANCE* handle, bool check,
                           CliOpenState& state);

#endif
