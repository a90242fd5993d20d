// The expander's first I2C controller as a block of 32-bit registers (FIFOs of eight bytes, transfer counts,
// done bits, busy bit, soft reset) and the serial EEPROM on its bus at 7-bit address 0x50: 64 KiB with
// big-endian 16-bit offsets, 32-byte pages and a write cycle in model time during which it does not
// acknowledge its address.
#ifndef ZSIM_I2C_BUS_H
#define ZSIM_I2C_BUS_H

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace zsim {

inline constexpr uint32_t kI2cControllerBase = 0x40300000u;
inline constexpr uint32_t kI2cControllerSize = 0x100;
inline constexpr uint32_t kBootSlotRegister = 0x40000034u; // bits 3:2: the slot the expander boots from

enum class I2cFaultKind {
    Nack,         // the SEEPROM does not acknowledge its address (skip/count as for the other faults)
    WriteProtect, // writes are acknowledged and ignored
    FlipByte,     // the byte at an offset reads with its bits in a mask inverted
    ResetStuck,   // the soft reset never ends
    BusyStuck,    // the busy bit never clears
    LevelOver,    // the receive level reads as more than the FIFO holds
};

struct I2cFault {
    I2cFaultKind kind = I2cFaultKind::Nack;
    uint32_t offset = 0;
    uint32_t value = 0;
    uint32_t skip = 0;
    uint32_t count = 0; // 0: always
    uint32_t seen = 0;
    uint32_t struck = 0;
};

class Seeprom {
  public:
    static constexpr uint32_t kSize = 0x10000;
    static constexpr uint32_t kPage = 32;
    static constexpr uint64_t kWriteCycleUs = 5000;

    Seeprom() : bytes_(kSize, 0xFF) {}
    std::vector<uint8_t>& bytes() { return bytes_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    uint32_t pointer() const { return pointer_; }
    uint64_t writes() const { return writeCycles_; }

    // The bus side; false is a NACK of the address byte.
    bool startWrite(uint64_t now);
    void writeByte(uint8_t value);
    void stop(uint64_t now);
    bool startRead(uint64_t now);
    uint8_t readByte();

    bool writeProtect = false;
    uint32_t flipOffset = 0;
    uint8_t flipMask = 0;

  private:
    std::vector<uint8_t> bytes_;
    uint32_t pointer_ = 0;
    uint64_t busyUntil_ = 0;
    // The transfer being received: offset bytes, then data into the page buffer.
    int offsetBytes_ = 0;
    std::vector<uint8_t> pending_;
    uint32_t pendingAt_ = 0;
    uint64_t writeCycles_ = 0;
};

class I2cController {
  public:
    using Sink = std::function<void(const std::string&)>;
    explicit I2cController(Seeprom& seeprom) : seeprom_(seeprom) {}

    void read(uint32_t offset, std::span<uint8_t> out);
    void write(uint32_t offset, std::span<const uint8_t> in);
    void elapse(uint64_t microseconds) { now_ += microseconds; }
    uint64_t now() const { return now_; }
    void addFault(const I2cFault& fault);
    const std::vector<I2cFault>& faults() const { return faults_; }
    void setSink(Sink sink) { sink_ = std::move(sink); }
    // Register words as the state shows them.
    uint32_t registerWord(uint32_t offset) const;
    uint32_t transfers() const { return transfers_; }

  private:
    uint32_t readWord(uint32_t offset);
    void writeWord(uint32_t offset, uint32_t value);
    void run();
    void start();
    void finish(bool nack);
    bool strikes(I2cFaultKind kind);
    bool has(I2cFaultKind kind) const;

    Seeprom& seeprom_;
    Sink sink_;
    std::vector<I2cFault> faults_;
    uint64_t now_ = 0;
    uint32_t regs_[kI2cControllerSize / 4] = {};
    uint64_t resetUntil_ = 0;
    bool resetting_ = false;
    bool active_ = false;
    bool busy_ = false;
    bool reading_ = false;
    uint32_t toSend_ = 0;
    uint32_t toReceive_ = 0;
    std::deque<uint8_t> tx_;
    std::deque<uint8_t> rx_;
    std::vector<uint8_t> carried_; // bytes of the current transfer, for the trace
    uint32_t transfers_ = 0;
};

} // namespace zsim

#endif
