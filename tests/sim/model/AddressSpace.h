// The expander's sparse 32-bit address space: plain memory (reads 0 until written), registers with a
// writable mask and a write hook, and windows that map a range onto another store (the flash).
#ifndef ZSIM_ADDRESS_SPACE_H
#define ZSIM_ADDRESS_SPACE_H

#include "model/SparseBytes.h"

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace zsim {

struct Register {
    std::string name;
    uint32_t value = 0;
    uint32_t writableMask = 0xFFFFFFFFu;
    // Called after a write with the word as written (before the mask was applied).
    std::function<void(uint32_t written)> onWrite;
};

struct Window {
    uint32_t first = 0;
    uint32_t size = 0;
    std::function<uint8_t(uint32_t offset)> read;
    std::function<void(uint32_t offset, uint8_t value)> write;
    // An access-level device: a transfer that starts inside the window is handed over whole, as one
    // access (a FIFO read pops once, a busy flash part toggles once). Either both or neither are set.
    std::function<void(uint32_t offset, std::span<uint8_t> out)> readAccess;
    std::function<void(uint32_t offset, std::span<const uint8_t> in)> writeAccess;
};

class AddressSpace {
  public:
    // Registers sit at 4-byte aligned addresses; a partial write merges into the word.
    Register& defineRegister(uint32_t address, std::string name, uint32_t value, uint32_t writableMask);
    Register* findRegister(uint32_t address);
    const std::map<uint32_t, Register>& registers() const { return registers_; }

    void mapWindow(Window window) { windows_.push_back(std::move(window)); }

    void read(uint32_t address, std::span<uint8_t> out) const;
    void write(uint32_t address, std::span<const uint8_t> in);
    uint32_t readWord(uint32_t address) const;
    void writeWord(uint32_t address, uint32_t value);

    const SparseBytes& memory() const { return memory_; }

  private:
    const Window* windowFor(uint32_t address) const;
    const Window* deviceFor(uint32_t address) const;

    std::map<uint32_t, Register> registers_;
    std::vector<Window> windows_;
    SparseBytes memory_{0x00};
};

} // namespace zsim

#endif
