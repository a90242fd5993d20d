// NOR flash parts behind the expander's flash window, modelled on JEDEC CFI (JESD68) and the two common
// command sets: AMD/Fujitsu (unlock cycles, autoselect, DQ7/DQ6/DQ5 status) and Intel/Sharp (read array,
// identifier, query, status register). A part keeps its array in the expander's flash store; every read or
// write of the window is one bus access that the part decodes by its current mode.
#ifndef ZSIM_NOR_FLASH_H
#define ZSIM_NOR_FLASH_H

#include "model/SparseBytes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zsim {

enum class NorSet { Amd, Intel };

// How the part sits on the bus: an x8-only part, an x8/x16 part strapped for words (window offset >> 1 is
// the word address) or for bytes (the window offset is the byte address).
enum class NorWidth { X8Only, X16Word, X16Byte };

struct NorEraseRegion {
    uint32_t blockSize = 0;
    uint32_t blocks = 0;
};

struct NorPart {
    std::string name;
    NorSet set = NorSet::Amd;
    NorWidth width = NorWidth::X16Byte;
    bool cfi = true;
    uint16_t commandSet = 2; // CFI primary command set
    uint8_t manufacturer = 0;
    uint8_t device = 0;
    uint32_t size = 0;
    std::vector<NorEraseRegion> regions;
};

// The parts a scenario can name with `flash-part NAME`; null for an unknown name.
const NorPart* findNorPart(const std::string& name);
std::vector<std::string> norPartNames();
// The part that fills the family's flash when a scenario names none: AMD command set, CFI, byte mode,
// uniform 64 KiB blocks.
NorPart defaultNorPart(uint32_t size);

enum class NorFaultKind {
    StuckBit,      // bits of one byte that no program clears
    Protected,     // AMD: programs and erases in the block holding the offset are ignored
    Locked,        // Intel: programs and erases in the block fail with the lock bit in the status
    Dq5Timeout,    // AMD: the next program or erase never ends; DQ5 rises, the status stays until reset
    EndlessToggle, // every program or erase toggles DQ6 for ever (DQ5 stays clear)
    Busy,          // every program or erase stays busy for N status reads
};

struct NorFault {
    NorFaultKind kind = NorFaultKind::Busy;
    uint32_t offset = 0; // part offset (stuck bit, protected, locked)
    uint32_t value = 0;  // stuck-bit mask, busy reads
};

// One part at a window offset.
class NorChip {
  public:
    using Sink = std::function<void(const std::string&)>;
    NorChip(NorPart part, uint32_t base, SparseBytes& array);

    const NorPart& part() const { return part_; }
    uint32_t base() const { return base_; }
    uint32_t size() const { return part_.size; }
    void addFault(const NorFault& fault);
    void setSink(Sink sink) { sink_ = std::move(sink); }

    // One access at a window offset relative to the part's base.
    void read(uint32_t offset, std::span<uint8_t> out);
    void write(uint32_t offset, std::span<const uint8_t> in);

    // "read-array", "query", "autoselect", "status", "program-setup", "erase-setup", ... as the state shows.
    std::string modeName() const;
    uint64_t cycles() const { return cycles_; }

  private:
    enum class Mode {
        Array,
        Query,
        Autoselect,
        Status,
        Unlock1,
        Unlock2,
        ProgramSetup,
        EraseUnlock,
        EraseUnlock1,
        EraseUnlock2,
        IntelProgram,
        IntelErase
    };
    void cycle(uint32_t busAddress, uint16_t data);
    void amdCycle(uint32_t busAddress, uint16_t data);
    void intelCycle(uint32_t busAddress, uint16_t data);
    // Bytes of the part for a bus address in its units (word or byte).
    uint32_t byteOffset(uint32_t busAddress) const;
    uint32_t lineAddress(uint32_t busAddress) const; // A10..A0 of the command decode
    uint16_t readUnit(uint32_t busAddress);
    uint16_t queryValue(uint32_t index) const;
    uint16_t autoselectValue(uint32_t index) const;
    void program(uint32_t byteAt, uint16_t data, bool wide);
    void eraseBlockAt(uint32_t byteAt);
    void eraseChip();
    std::optional<std::pair<uint32_t, uint32_t>> blockOf(uint32_t byteAt) const; // start, size
    bool faultIn(NorFaultKind kind, uint32_t byteAt) const;
    void startBusy(uint16_t dq7Source, bool erase);
    uint16_t statusRead();
    void emit(const char* what, uint32_t address, uint32_t value);

    NorPart part_;
    uint32_t base_;
    SparseBytes& array_;
    std::vector<NorFault> faults_;
    Sink sink_;
    Mode mode_ = Mode::Array;
    // Busy state of an AMD embedded operation or an Intel status.
    uint32_t busyLeft_ = 0;
    bool busyForever_ = false;
    bool dq5_ = false;
    bool toggle_ = false;
    uint16_t dq7_ = 0;
    bool busyDone_ = true;
    uint8_t intelStatus_ = 0x80;
    bool dq5Armed_ = false;
    uint64_t cycles_ = 0;
};

// The parts of one flash window; offsets past every part read 0xFF and take no writes.
class NorBank {
  public:
    void add(std::unique_ptr<NorChip> chip) { chips_.push_back(std::move(chip)); }
    std::vector<std::unique_ptr<NorChip>>& chips() { return chips_; }
    const std::vector<std::unique_ptr<NorChip>>& chips() const { return chips_; }
    void read(uint32_t offset, std::span<uint8_t> out);
    void write(uint32_t offset, std::span<const uint8_t> in);

  private:
    NorChip* chipAt(uint32_t offset) const;
    std::vector<std::unique_ptr<NorChip>> chips_;
};

} // namespace zsim

#endif
