// The far end of a simulated serial line: something that takes the host's bytes and time, and has bytes
// for the host. The console persona and its XMODEM peer are endpoints; a thread on a pseudo-terminal
// drives one in real time, a test's virtual line in virtual time.
#ifndef ZSIM_LINE_ENDPOINT_H
#define ZSIM_LINE_ENDPOINT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zsim {

// A serial frame: speed in baud, data bits, parity (0 none, 1 odd, 2 even) and stop bits.
struct UartFrame {
    uint32_t speed = 0;
    int dataBits = 8;
    int parity = 0;
    int stopBits = 1;
    bool operator==(const UartFrame&) const = default;
};

class LineEndpoint {
  public:
    virtual ~LineEndpoint() = default;
    // The line comes up at time now (milliseconds).
    virtual void begin(uint64_t now) = 0;
    // The host wrote these bytes at time now.
    virtual void onBytes(const uint8_t* bytes, size_t count, uint64_t now) = 0;
    // Time has reached now.
    virtual void onTime(uint64_t now) = 0;
    // When the endpoint next wants onTime, if ever.
    virtual std::optional<uint64_t> nextDeadline() const = 0;
    // Bytes for the host; the line takes them from the front.
    virtual std::vector<uint8_t>& output() = 0;
    // The line was dropped: nothing crosses any more.
    virtual bool dropped() const = 0;
    // The frame the endpoint's own UART runs at, where it has one; a line shared with other programs
    // hands the endpoint only bytes sent at that frame.
    virtual std::optional<UartFrame> frame() const { return std::nullopt; }
    // The host's bytes from now on are sent at this frame (told when it changes).
    virtual void onFrame(const UartFrame& /*frame*/) {}
};

} // namespace zsim

#endif
