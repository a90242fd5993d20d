#include "ial/cliPort.h"

#include "osal/osalTime.h"

#include <chrono>
#include <poll.h>

namespace {

constexpr int32_t kSerialStatusFailed = -1;

uint64_t steadyMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

} // namespace

bool ComLine::hungUp() const {
    pollfd p{port_->descriptor, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool ComLine::read(uint8_t* buffer, uint32_t count, uint32_t& got) {
    got = 0;
    if (port_ == nullptr)
        return false;
    const ZELKOR_STATUS status = osal_serialPortRead(port_, buffer, count, &got);
    if (status == kSerialOk)
        return true;
    // Outside the 38400 8N1 mode silence reads as a failure too: only a line that hung up has failed.
    return status == kSerialFailed && got == 0 && !hungUp();
}

bool ComLine::write(const uint8_t* data, uint32_t count) {
    uint32_t written = 0;
    return port_ != nullptr && osal_serialPortWrite(port_, data, count, &written, 0) == kSerialOk &&
           written == count;
}

bool ComLine::dropInput() {
    return port_ != nullptr && osal_serialPortEmptyBuffer(port_, kSerialFlushOutput) == kSerialOk &&
           osal_serialPortEmptyBuffer(port_, kSerialFlushInput) == kSerialOk;
}

bool ComLine::waitInput(uint32_t milliseconds) {
    if (port_ == nullptr)
        return false;
    const uint64_t start = steadyMs();
    const bool ready = osal_waitForInput(port_->descriptor, (milliseconds + 99) / 100);
    if (!ready) {
        const uint64_t spent = steadyMs() - start;
        if (spent < milliseconds)
            silentMs_ += milliseconds - spent;
    }
    return ready && !hungUp();
}

uint64_t ComLine::nowMs() { return steadyMs() + silentMs_; }

int32_t ComPort::open(const char* path) {
    close();
    port_ = osal_serialPortOpen(path);
    line_.attach(port_);
    return port_ != nullptr ? 0 : static_cast<int32_t>(osal_serialPortGetLastStatus());
}

int32_t ComPort::configure(const CliPortSettings& settings) {
    const SERIAL_PORT_SETTINGS applied{settings.baudIndex, settings.dataBits, settings.stopBits, settings.parity,
                                       0, settings.interByteDelayUs, settings.postWriteDelayUs};
    return static_cast<int32_t>(osal_serialPortSetParam(port_, &applied));
}

int32_t ComPort::clearError() { return static_cast<int32_t>(osal_serialPortClearError(port_)); }

void ComPort::close() {
    if (port_ != nullptr)
        osal_serialPortClose(port_);
    port_ = nullptr;
    line_.attach(nullptr);
}

SERIAL_PORT_HANDLE* ComPort::release() {
    SERIAL_PORT_HANDLE* port = port_;
    port_ = nullptr;
    return port;
}

CliRegisterFunction cliRegisterOver(REGISTER_OP operation, SERIAL_PORT_HANDLE* port, uint8_t revision) {
    return [operation, port, revision](uint32_t op, uint32_t address, uint32_t data, uint32_t* out) {
        uint32_t word = 0;
        uint8_t byte = 0;
        const bool wantsByte = (op & CLI_OP_BYTE) != 0;
        const ZELKOR_STATUS status =
            operation(port, op, address, data, wantsByte ? static_cast<void*>(&byte) : static_cast<void*>(&word),
                      revision);
        if (out != nullptr)
            *out = wantsByte ? byte : word;
        return static_cast<int32_t>(status);
    };
}

CliRegisterFunction ComPort::romRegisterAccess() {
    // Reopening the port between passes must not leave the operation on a closed handle.
    return [this](uint32_t op, uint32_t address, uint32_t data, uint32_t* out) {
        if (port_ == nullptr)
            return kSerialStatusFailed;
        return cliRegisterOver(hws_operation_quenza_Cli, port_, 0)(op, address, data, out);
    };
}
