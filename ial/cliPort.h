// The firmware console's line and port over the serial port layer: the SerialLine the console protocols
// use, and the CliPort the open moves between its probe settings. Silence waits go through the layer's
// silence seam; the line's clock moves on by every silent wait's full length, so that the protocols'
// deadlines hold even where the seam answers at once.
#ifndef ZELKOR_CLI_PORT_H
#define ZELKOR_CLI_PORT_H

#include "ial/cliOpen.h"
#include "ial/comInstance.h"
#include "osal/osalCom.h"

#include <cstdint>

// The console's register operation (a REGISTER_OP): mr and mw commands on the port.
ZELKOR_STATUS cli_operation(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address, uint32_t data,
                            void* value, uint8_t revision);

// A register operation of the serial modules on a port, as the console's routines call it.
CliRegisterFunction cliRegisterOver(REGISTER_OP operation, SERIAL_PORT_HANDLE* port, uint8_t revision);

class ComLine : public SerialLine {
  public:
    explicit ComLine(SERIAL_PORT_HANDLE* port) : port_(port) {}
    void attach(SERIAL_PORT_HANDLE* port) { port_ = port; }
    SERIAL_PORT_HANDLE* port() const { return port_; }

    bool read(uint8_t* buffer, uint32_t count, uint32_t& got) override;
    bool write(const uint8_t* data, uint32_t count) override;
    bool dropInput() override;
    bool waitInput(uint32_t milliseconds) override;
    uint64_t nowMs() override;

  private:
    bool hungUp() const;
    SERIAL_PORT_HANDLE* port_;
    uint64_t silentMs_ = 0; // silence the seam answered faster than its length
};

class ComPort : public CliPort {
  public:
    ComPort() : line_(nullptr) {}
    ~ComPort() override { close(); }
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    int32_t open(const char* path) override;
    int32_t configure(const CliPortSettings& settings) override;
    int32_t clearError() override;
    void close() override;
    SerialLine& line() override { return line_; }
    CliRegisterFunction romRegisterAccess() override;

    // Hands the open port over to the instance that keeps it (the port no longer closes it).
    SERIAL_PORT_HANDLE* release();

  private:
    SERIAL_PORT_HANDLE* port_ = nullptr;
    ComLine line_;
};

#endif
