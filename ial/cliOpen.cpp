#include "ial/cliOpen.h"

#include "core/firmwareImage.h"
#include "osal/osalTime.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kModule = "zelkor_ial_CLI";
constexpr const char* kOpen = "zelkor_ial_open";
constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kOpenFailed = 20;
constexpr ZELKOR_STATUS kNoDevice = 21;
constexpr ZELKOR_STATUS kNoPermission = 22;
constexpr ZELKOR_STATUS kConfigureFailed = 23;
constexpr ZELKOR_STATUS kReadFailed = 25;

constexpr uint32_t kPromptAnswer = 512;
constexpr uint32_t kDebugPortPasses = 2; // passes on the debug port's settings before giving up
constexpr uint32_t kMinimumNameLength = 10;
constexpr uint32_t kReopenDelayMs = 10;

constexpr uint32_t kQuenzaSignature = 0xC380002C;
constexpr uint32_t kQuenzaMiscellaneous = 0xC38000A0;
constexpr uint32_t kBoardLow = 0x14000028;
constexpr uint32_t kBoardHigh = 0x14000029;
constexpr uint32_t kP2hRegister = 0x42400010;
constexpr uint32_t kMiscellaneous = 0x42400018;
constexpr uint8_t kFirmwareBuffer = 0xE0;
// The console reads the firmware header only as far as its first signature word.
constexpr uint32_t kSignatureOffset = offsetof(ZELKOR_FW_HEADER, signature);
constexpr uint32_t kFirstSignatureEnd = kSignatureOffset + sizeof(uint32_t);

constexpr const char kNothingConnected[] = "\n**** ERROR **** Nothing seems to be connected to the port.";

struct ModeRow {
    CliProbeMode mode;
    CliPortSettings settings; // the third mode takes baud and frame from the firmware UART
};
constexpr ModeRow kModes[] = {
    {CliProbeMode::Console, {8, 8, 1, 0, 0, 20000}},
    {CliProbeMode::DebugPort, {8, 7, 1, 0, 10000, 0}},
    {CliProbeMode::ConsoleOnUart, {0, 0, 0, 0, 0, 20000}},
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

__attribute__((format(printf, 2, 3))) void print(const ZELKOR_INSTANCE* handle, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fputs(text, stdout);
    std::fflush(stdout);
    logLine(handle, kOpen, ZELKOR_LOG_ERROR, "%s **** FAILED ****", cliLogText(text).c_str());
}

void failed(const ZELKOR_INSTANCE* handle, const char* function, const char* text) {
    logLine(handle, function, ZELKOR_LOG_ERROR, "%s **** FAILED ****", text);
}

void progress(const ZELKOR_INSTANCE* handle) {
    if (handle != nullptr && handle->progress != nullptr)
        handle->progress(1, 0);
}

bool refusedName(const char* path) {
    return std::strcmp(path, "/dev/tty") == 0 || std::strcmp(path, "/dev/systty") == 0 ||
           std::strlen(path) < kMinimumNameLength;
}

// "\n% " from the second byte and nothing after it: the debug port's monitor.
bool isMonitorPrompt(const uint8_t* answer, uint32_t length) {
    return length == 4 && std::memcmp(answer + 1, "\n% ", 3) == 0;
}

ZELKOR_STATUS doCli38400(CliTarget& target, CliOpenState& state, const char* success) {
    state.onConsole = true;
    const ZELKOR_STATUS status = cliIdentifyOnConsole(target, state);
    if (status == 0) {
        logLine(target.handle, kOpen, ZELKOR_LOG_INFO, "%s", success);
        if (target.handle != nullptr)
            target.handle->designatedRegions = 1;
    }
    return status;
}

ZELKOR_STATUS doHwSerial38400(CliPort& port, ZELKOR_INSTANCE* handle, ZELKOR_EXPANDER& record,
                              CliOpenState& state) {
    constexpr const char* fn = "doHwSerial38400";
    const CliRegisterFunction rom = port.romRegisterAccess();
    state.onConsole = false;
    uint32_t word = 0;
    if (rom(0, kQuenzaSignature, 0, &word) != 0) {
        failed(handle, fn, "Reading Device Signature");
        return kFailure;
    }
    if (rom(0, kQuenzaMiscellaneous, 0, &word) != 0) {
        failed(handle, fn, "Reading Miscellaneous Register");
        return kFailure;
    }
    if (getGen3ExptIDAndRevision(rom, handle, record) != 0) {
        failed(handle, fn, "Reading Expander ID and Revision");
        return kFailure;
    }
    state.quenza = true;
    return sdbBypass(rom, handle, true, state);
}

} // namespace

CliPortSettings cliProbeSettings(CliProbeMode mode, const CliUartSettings& uart) {
    for (const ModeRow& row : kModes) {
        if (row.mode != mode)
            continue;
        CliPortSettings settings = row.settings;
        if (mode == CliProbeMode::ConsoleOnUart) {
            settings.baudIndex = uart.baudIndex;
            settings.dataBits = uart.dataBits;
            settings.stopBits = uart.stopBits;
            settings.parity = uart.parity;
        }
        return settings;
    }
    return kModes[0].settings;
}

ZELKOR_STATUS getGen3ExptIDAndRevision(const CliRegisterFunction& access, const ZELKOR_INSTANCE* handle,
                                ZELKOR_EXPANDER& record) {
    uint32_t signature = 0;
    if (access(0, kQuenzaSignature, 0, &signature) != 0) {
        failed(handle, "getGen3ExptIDAndRevision", "Reading Device Signature");
        return kFailure;
    }
    logLine(handle, "getGen3ExptIDAndRevision", ZELKOR_LOG_INFO, "Device Signature is 0x%08x", signature);
    record.productId = static_cast<uint16_t>(signature >> 16);
    record.revisionCode = static_cast<uint8_t>(signature >> 8);
    productIDAndRevDecode(&record);
    return 0;
}

ZELKOR_STATUS getOstreExptIDAndRevision(const CliRegisterFunction& access, const ZELKOR_INSTANCE* handle,
                                ZELKOR_EXPANDER& record) {
    constexpr const char* fn = "getOstreExptIDAndRevision";
    const ComOstrelProbe probe{
        access,
        // The board value from two bytes of the firmware header in the flash window, low byte first.
        [&access, handle](uint32_t* board) -> ZELKOR_STATUS {
            uint32_t low = 0;
            uint32_t high = 0;
            if (access(CLI_OP_BYTE, kBoardLow, 0, &low) != 0 || access(CLI_OP_BYTE, kBoardHigh, 0, &high) != 0) {
                failed(handle, fn, "Reading the board identity");
                return kReadFailed;
            }
            *board = low | (high << 8);
            return 0;
        },
        [handle](uint32_t level, const char* text) { logLine(handle, fn, level, "%s", text); },
        "Probing the Expander Revision"};
    return comIdentifyOstrel(probe, record);
}

ZELKOR_STATUS cliIdentifyOnConsole(CliTarget& target, CliOpenState& state) {
    if (target.record.productId != 0)
        return 0;
    uint8_t header[kFirstSignatureEnd] = {};
    if (cli_ful_operation(target.link, kFirmwareBuffer, kSignatureOffset, header + kSignatureOffset,
                          sizeof(uint32_t)) != 0)
        return kFailure;
    // The least significant byte of the first signature word tells the family Ostrel firmware.
    const uint32_t first = fwHeaderFromBytes(header, sizeof header).signature[0];
    if ((first & 0xFFu) == (FW_SIGNATURE_OSTREL[0] & 0xFFu))
        return getOstreExptIDAndRevision(target.registerAccess, target.handle, target.record);
    const ZELKOR_STATUS status = getGen3ExptIDAndRevision(target.registerAccess, target.handle, target.record);
    if (status == 0)
        state.quenza = true;
    return status;
}

ZELKOR_STATUS sdbBypass(const CliRegisterFunction& access, const ZELKOR_INSTANCE* handle, bool check,
                           CliOpenState& state) {
    constexpr const char* fn = "sdbBypass";
    uint32_t value = 0;
    if (check && (access(0, kP2hRegister, 0, &value) != 0 || (value & 0xFF) != '>')) {
        failed(handle, fn, "Firmware is not active or the CLI is not available");
        return kFailure;
    }
    if (access(0, kMiscellaneous, 0, &value) != 0) {
        failed(handle, fn, "Reading Miscellaneous Register");
        return kFailure;
    }
    if (!check)
        return 0;
    state.sdbBypassed = true;
    return getUARTConnParams(access, handle, &state.uart);
}

ZELKOR_STATUS cliOpenPasses(CliPort& port, ZELKOR_INSTANCE* handle, const char* path, ZELKOR_EXPANDER& record,
                            CliOpenState& state) {
    bool portOpen = false;
    auto end = [&](ZELKOR_STATUS status) {
        if (status != 0 && portOpen)
            port.close();
        return status;
    };
    CliProbeMode mode = CliProbeMode::Console;
    uint32_t debugPortPasses = 0;
    for (uint32_t pass = 0;; ++pass) {
        if (refusedName(path)) {
            print(handle, "%s", kNothingConnected);
            return end(kFailure);
        }
        if (pass > 0) {
            if (port.clearError() != 0)
                return end(kFailure);
            port.close();
            portOpen = false;
            osal_sleepMs(kReopenDelayMs);
        }
        const int32_t opened = port.open(path);
        if (opened != 0) {
            if (opened == CLI_PORT_NO_DEVICE) {
                print(handle, "\n**** ERROR **** Requested %s port does not exist\n", path);
                return kNoDevice;
            }
            if (opened == CLI_PORT_NO_PERMISSION) {
                print(handle, "\n**** ERROR **** User does not have permission to Open the %s port\n", path);
                return kNoPermission;
            }
            print(handle, "\n**** ERROR **** Unable to open the %s port \n", path);
            return kOpenFailed;
        }
        portOpen = true;
        if (port.configure(cliProbeSettings(mode, state.uart)) != 0) {
            print(handle, "\n**** ERROR **** Unable to configure the %s port\n", path);
            return end(kConfigureFailed);
        }
        if (mode == CliProbeMode::DebugPort)
            ++debugPortPasses;
        uint8_t answer[kPromptAnswer];
        uint32_t got = 0;
        const bool answered = readPrompt(port.line(), answer, sizeof answer, &got, mode == CliProbeMode::DebugPort) == 0;
        if (!answered && mode == CliProbeMode::ConsoleOnUart) {
            print(handle, "%s", "\n**** ERROR **** Failed to read the connection prompt");
            return end(kReadFailed);
        }
        if (!answered || got == 0) {
            // Silence on the console's settings may be a debug port at its own frame: try that, twice at most.
            if (mode != CliProbeMode::ConsoleOnUart && debugPortPasses < kDebugPortPasses) {
                mode = CliProbeMode::DebugPort;
                progress(handle);
                continue;
            }
            print(handle, "%s", kNothingConnected);
            return end(kFailure);
        }
        CliTarget target{CliLink{port.line(), handle}, handle, record,
                         [&port, handle](uint32_t op, uint32_t address, uint32_t data, uint32_t* out) {
                             return cliRegisterAccess(CliLink{port.line(), handle}, op, address, data, out);
                         },
                         true};
        switch (mode) {
        case CliProbeMode::Console:
            if (cliIsPrompt(answer, got, true))
                return end(doCli38400(target, state,
                                      "Able to communicate with Active Firmware present in Expander over Smart/USB "
                                      "serial interface"));
            print(handle, "%s",
                  "\n**** ERROR **** Zelkor cannot communicate on the specified interface.\nPlease check the "
                  "interface option and connected port on the board.\n");
            return end(kFailure);
        case CliProbeMode::DebugPort: {
            if (!isMonitorPrompt(answer, got)) {
                failed(handle, kOpen, "Receiving Debug prompt over Debug Serial interface");
                return end(kFailure);
            }
            const ZELKOR_STATUS status = doHwSerial38400(port, handle, record, state);
            if (status != 0) {
                failed(handle, kOpen, "Communication over Debug Serial interface");
                return end(status);
            }
            logLine(handle, kOpen, ZELKOR_LOG_INFO, "Active Firmware is present on board.");
            mode = CliProbeMode::ConsoleOnUart;
            continue;
        }
        case CliProbeMode::ConsoleOnUart:
            if (cliIsPrompt(answer, got, false))
                return end(doCli38400(target, state,
                                      "Able to communicate with Active Firmware present in Expander at user defined "
                                      "baudrate over Smart/USB serial interface"));
            failed(handle, kOpen, "Zelkor cannot communicate over Smart/USB Serial interface at user defined baud rate");
            return end(kFailure);
        }
    }
}
