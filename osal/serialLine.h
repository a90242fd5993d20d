// What the firmware console's protocols need of a serial line: reads that end on a count or on silence,
// whole writes, dropping stale input, and a bounded wait for the next byte. The console module gives the
// protocols a line over its open serial port; nothing above this interface touches the port itself.
#ifndef OSAL_SERIAL_LINE_H
#define OSAL_SERIAL_LINE_H

#include <cstdint>

class SerialLine {
  public:
    virtual ~SerialLine() = default;
    // Reads until count bytes arrived or the line fell silent; got is the number read (0 on silence).
    // False when the line itself failed.
    virtual bool read(uint8_t* buffer, uint32_t count, uint32_t& got) = 0;
    // Writes the bytes in one call; false unless every byte was written.
    virtual bool write(const uint8_t* data, uint32_t count) = 0;
    // Discards input that arrived and was not read (and output not yet sent); false on failure.
    virtual bool dropInput() = 0;
    // Waits until input is ready or the time passed; false on timeout or a failed line.
    virtual bool waitInput(uint32_t milliseconds) = 0;
    // The line's clock in milliseconds: the time bounds of the protocols are deadlines on it, so that a
    // line whose silence costs no real time (a test's) keeps them.
    virtual uint64_t nowMs() = 0;
};

#endif
