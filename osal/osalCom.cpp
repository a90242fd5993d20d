#include "osal/osalCom.h"

#include "osal/osalTime.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

uint32_t gChipTypeFlag = 0;

namespace {

int32_t sLastStatus = 0;

ZELKOR_STATUS keep(ZELKOR_STATUS status) {
    sLastStatus = static_cast<int32_t>(status);
    return status;
}

constexpr speed_t kSpeeds[] = {B110, B300, B600, B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200};
constexpr uint32_t kSpeedCount = sizeof kSpeeds / sizeof kSpeeds[0];

constexpr uint32_t kQuietModeVtime = 2;
constexpr uint32_t kDefaultVtime = 3;

// Silent reads tolerated while waiting for the prompt in the 38400/8-bit mode.
constexpr uint32_t kQuietPromptSilences = 5;
// Bytes of the "% " prompt read after its '%'.
constexpr uint32_t kPromptTailBytes = 5;

// The read time-out the port is set to, in tenths of a second.
uint32_t readTimeout(const SERIAL_PORT_HANDLE* port) {
    termios attributes{};
    if (tcgetattr(port->descriptor, &attributes) != 0 || attributes.c_cc[VTIME] == 0)
        return kDefaultVtime;
    return attributes.c_cc[VTIME];
}

ZELKOR_STATUS rejectSettings(SERIAL_PORT_HANDLE* port, ZELKOR_STATUS status) {
    port->settings = SERIAL_PORT_SETTINGS{};
    return keep(status);
}

// Checks the handle of a read or write: -7 for none, -6 when never configured.
ZELKOR_STATUS checkUsable(const SERIAL_PORT_HANDLE* port) {
    if (port == nullptr)
        return kSerialNullHandle;
    if ((port->flags & kSerialPortConfigured) == 0)
        return kSerialNotConfigured;
    return kSerialOk;
}

// One write call for the whole buffer; a call the kernel cuts short is continued.
bool writeAll(int descriptor, const uint8_t* data, uint32_t count, uint32_t* written) {
    while (*written < count) {
        const ssize_t n = ::write(descriptor, data + *written, count - *written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        *written += static_cast<uint32_t>(n);
    }
    return true;
}

// One byte, or silence / failure.
ZELKOR_STATUS readByte(SERIAL_PORT_HANDLE* port, uint8_t* byte, uint32_t* got) {
    return osal_serialPortRead(port, byte, 1, got);
}

} // namespace

bool osal_serialPortIsQuietMode(const SERIAL_PORT_HANDLE* port) {
    return port != nullptr && port->settings.baudIndex == kSerialBaud38400 && port->settings.dataBits == 8;
}

SERIAL_PORT_HANDLE* osal_serialPortOpen(const char* path) {
    if (path == nullptr) {
        keep(kSerialBadArgument);
        return nullptr;
    }
    const int descriptor = ::open(path, O_RDWR | O_NOCTTY);
    if (descriptor < 0) {
        keep(errno == ENOENT ? kSerialNoDevice : errno == EACCES ? kSerialNoPermission : kSerialFailed);
        return nullptr;
    }
    auto* port = new (std::nothrow) SERIAL_PORT_HANDLE{};
    if (port == nullptr) {
        ::close(descriptor);
        keep(kSerialNoMemory);
        return nullptr;
    }
    port->descriptor = descriptor;
    keep(kSerialOk);
    return port;
}

ZELKOR_STATUS osal_serialPortSetParam(SERIAL_PORT_HANDLE* port, const SERIAL_PORT_SETTINGS* settings) {
    if (port == nullptr)
        return keep(kSerialBadArgument);
    if (settings == nullptr)
        return rejectSettings(port, kSerialBadArgument);
    termios current{};
    if (tcgetattr(port->descriptor, &current) != 0) {
        std::printf("\n\nERROR: Failed reading the tc attribute structure");
        return rejectSettings(port, kSerialFailed);
    }

    termios raw{};
    raw.c_iflag = IGNBRK | IGNPAR;
    raw.c_oflag = 0;
    raw.c_cflag = CREAD | CLOCAL;
    raw.c_lflag = 0;
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = osal_serialPortIsQuietMode(port) ? kQuietModeVtime : kDefaultVtime;

    if (settings->baudIndex >= kSpeedCount)
        return rejectSettings(port, kSerialBadArgument);
    cfsetispeed(&raw, kSpeeds[settings->baudIndex]);
    cfsetospeed(&raw, kSpeeds[settings->baudIndex]);

    switch (settings->dataBits) {
    case 5: raw.c_cflag |= CS5; break;
    case 6: raw.c_cflag |= CS6; break;
    case 7: raw.c_cflag |= CS7; break;
    case 8: raw.c_cflag |= CS8; break;
    default: return rejectSettings(port, kSerialBadArgument);
    }
    switch (settings->stopBits) {
    case 1: break;
    case 2: raw.c_cflag |= CSTOPB; break;
    default: return rejectSettings(port, kSerialBadArgument);
    }
    switch (settings->parity) {
    case 0: break;
    case 1:
        raw.c_iflag |= INPCK;
        raw.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        raw.c_iflag |= INPCK;
        raw.c_cflag |= PARENB;
        break;
    default: return rejectSettings(port, kSerialBadArgument);
    }
    switch (settings->flowControl) {
    case 0: break;
    case 1: raw.c_iflag |= IXON | IXOFF; break;
    case 2: raw.c_cflag |= CRTSCTS; break;
    default: return rejectSettings(port, kSerialBadArgument);
    }

    tcflush(port->descriptor, TCIFLUSH);
    if (tcsetattr(port->descriptor, TCSANOW, &raw) != 0) {
        std::printf("\n\nERROR: Failed setting the tc attribute structure");
        return rejectSettings(port, kSerialFailed);
    }
    port->settings = *settings;
    port->flags |= kSerialPortConfigured;
    return keep(kSerialOk);
}

ZELKOR_STATUS osal_serialPortRead(SERIAL_PORT_HANDLE* port, uint8_t* buffer, uint32_t count, uint32_t* read) {
    if (read != nullptr)
        *read = 0;
    if (const ZELKOR_STATUS usable = checkUsable(port); usable != kSerialOk)
        return keep(usable);
    if (buffer == nullptr || read == nullptr || count == 0)
        return keep(kSerialBadArgument);

    const uint32_t tenths = readTimeout(port);
    while (*read < count) {
        if (!osal_waitForInput(port->descriptor, tenths))
            break;
        const ssize_t n = ::read(port->descriptor, buffer + *read, count - *read);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // A dropped line (EIO) fails the read whatever came before it.
        if (n < 0)
            return keep(kSerialFailed);
        if (n == 0)
            break;
        *read += static_cast<uint32_t>(n);
    }
    if (*read > 0 || osal_serialPortIsQuietMode(port))
        return keep(kSerialOk);
    return keep(kSerialFailed);
}

ZELKOR_STATUS osal_serialPortWrite(SERIAL_PORT_HANDLE* port, const uint8_t* buffer, uint32_t count,
                                   uint32_t* written, uint32_t paced) {
    if (written != nullptr)
        *written = 0;
    if (const ZELKOR_STATUS usable = checkUsable(port); usable != kSerialOk)
        return keep(usable);
    if (buffer == nullptr || written == nullptr || count == 0)
        return keep(kSerialBadArgument);

    ZELKOR_STATUS status = kSerialOk;
    if (count < 2 || paced == 0) {
        writeAll(port->descriptor, buffer, count, written);
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t one = 0;
            if (!writeAll(port->descriptor, buffer + i, 1, &one)) {
                status = kSerialFailed;
                break;
            }
            *written += one;
            if (port->settings.interByteDelay != 0)
                osal_sleepUs(port->settings.interByteDelay);
        }
    }
    if (port->settings.postWriteDelay != 0)
        osal_sleepUs(port->settings.postWriteDelay);
    if (*written != count)
        status = kSerialFailed;
    return keep(status);
}

ZELKOR_STATUS osal_serialComDbgPortWrite(SERIAL_PORT_HANDLE* port, const uint8_t* buffer, uint32_t count,
                                         uint32_t* echoed, uint32_t waitAfterError) {
    if (echoed != nullptr)
        *echoed = 0;
    if (const ZELKOR_STATUS usable = checkUsable(port); usable != kSerialOk)
        return keep(usable);
    if (buffer == nullptr || echoed == nullptr || count == 0)
        return keep(kSerialBadArgument);

    const bool quiet = osal_serialPortIsQuietMode(port);
    ZELKOR_STATUS result = kSerialOk;
    bool writeFailed = false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t written = 0;
        if (osal_serialPortWrite(port, buffer + i, 1, &written, 0) != kSerialOk) {
            result = kSerialFailed;
            writeFailed = true;
            break;
        }
        if (gChipTypeFlag != 0)
            continue;
        uint8_t echo = 0;
        uint32_t got = 0;
        const ZELKOR_STATUS status = readByte(port, &echo, &got);
        if (status != kSerialOk || (got == 0 && !quiet)) {
            result = kSerialFailed;
            break;
        }
        if (got == 1 && echo == buffer[i])
            ++*echoed;
    }

    if (gChipTypeFlag != 0)
        return keep(result);
    if (result != kSerialOk && waitAfterError == 0)
        return keep(result);

    // The prompt: the monitor's '%' or the bootstrap's '#'.
    uint8_t byte = 0;
    uint32_t silences = 0;
    for (;;) {
        uint32_t got = 0;
        const ZELKOR_STATUS status = readByte(port, &byte, &got);
        if (status != kSerialOk)
            return keep(result != kSerialOk ? result : kSerialFailed);
        if (got == 0) {
            if (!quiet || ++silences >= kQuietPromptSilences)
                return keep(result != kSerialOk ? result : kSerialFailed);
            continue;
        }
        if (byte == '%' || byte == '#')
            break;
    }
    if (byte == '%' && !writeFailed) {
        for (uint32_t i = 0; i < kPromptTailBytes; ++i) {
            uint8_t tail = 0;
            uint32_t got = 0;
            if (readByte(port, &tail, &got) != kSerialOk || got == 0 || tail == ' ')
                break;
        }
    }
    if (result != kSerialOk)
        return keep(result);
    return keep(*echoed == count ? kSerialOk : kSerialFailed);
}

ZELKOR_STATUS osal_serialPortEmptyBuffer(SERIAL_PORT_HANDLE* port, uint32_t selector) {
    if (port == nullptr || selector == 0)
        return keep(kSerialBadArgument);
    const int queue = (selector & 1U) != 0 ? TCOFLUSH : TCIFLUSH;
    if (tcflush(port->descriptor, queue) != 0)
        return keep(kSerialFailed);
    return keep(kSerialOk);
}

ZELKOR_STATUS osal_serialPortClearError(SERIAL_PORT_HANDLE* port) {
    return keep(port == nullptr ? kSerialBadArgument : kSerialOk);
}

ZELKOR_STATUS osal_serialPortGetLastStatus() { return static_cast<ZELKOR_STATUS>(sLastStatus); }

void osal_serialPortSleep(uint32_t microseconds) { osal_sleepUs(microseconds); }

ZELKOR_STATUS osal_serialPortClose(SERIAL_PORT_HANDLE* port) {
    if (port == nullptr)
        return keep(kSerialBadArgument);
    if (::close(port->descriptor) != 0)
        return keep(kSerialFailed);
    delete port;
    return keep(kSerialOk);
}
