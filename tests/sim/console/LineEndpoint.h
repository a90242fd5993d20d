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
};

} // namespace zsim

#endif
