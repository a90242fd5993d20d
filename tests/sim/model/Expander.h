// Model of one SAS expander of family Ostrel, Quenza or Palx as its firmware presents itself to a host:
// the address space with its registers, the configuration pages, the flash with a firmware header and a
// flash table, the designated buffers and the reset control. Front ends (the SCSI target, later a TCP
// server) decode their own wire format and call the operations below.
#ifndef ZSIM_EXPANDER_H
#define ZSIM_EXPANDER_H

#include "model/AddressSpace.h"
#include "model/I2cBus.h"
#include "model/NorFlash.h"
#include "model/SparseBytes.h"
#include "model/Topology.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zsim {

enum class Family { Ostrel, Quenza, Palx };

// What differs between the families, as data.
struct FamilyTraits {
    Family family;
    const char* name;
    std::array<uint32_t, 3> signature; // firmware header words 1 to 3
    uint32_t flashBase;                // expander address of the first flash byte
    uint32_t flashSize;
    uint32_t deviceSignatureAddress; // 0: none
    uint32_t sasAddressHigh;         // 0: none
    uint32_t sasAddressLow;
    uint16_t ethernetPageId;     // 0: none
    uint16_t macPageId;          // 0: the MAC lives in the Ethernet page only
    uint32_t miscConfigAddress;  // revision probe register, 0: none
    uint32_t miscControlAddress; // 0: none
    uint32_t armControlAddress;
    uint32_t chipResetAddress;
    uint32_t chipResetKey;
    std::array<uint32_t, 2> watchdogAddresses; // 0: none
    uint32_t watchdogWord;
    bool partitionByEntryId;          // buffer 0x80 + n names flash-table entry id n (else entry n)
    bool dataModeOnly;                // every buffer command uses the data mode with 24-bit fields
    uint32_t flashControlAddress = 0; // flash-control register (flash enable in bit 16), 0: none
};

const FamilyTraits& familyTraits(Family family);
const char* familyName(Family family);
std::optional<Family> familyFromName(const std::string& name);

inline constexpr uint32_t kIpStatusRegister = 0x424000C0u; // bit 6: no IP address configured
inline constexpr uint32_t kFlashBusRegister = 0x2C000000u; // bits 29:28: the flash bus is 16 bits wide
inline constexpr uint32_t kFlashBus16 = 0x20000000u;
inline constexpr uint32_t kFlashTableEntrySize = 12;
inline constexpr uint32_t kFirmwareHeaderSize = 84;
inline constexpr size_t kEraseRequestLength = 12; // 12 bytes of 0xFF at offset 0 erase a buffer
inline constexpr uint32_t kDesignatedBufferSize = 0x10000;

// Why a request was refused; the front end turns it into its own error (sense data, a response status).
enum class Outcome { Ok, InvalidField, InvalidParameter };

struct FlashEntry {
    uint8_t id = 0;
    uint32_t size = 0;
    uint32_t offset = 0;
};

struct FirmwareHeader {
    std::array<uint32_t, 3> signature{};
    uint32_t version = 0x01000000;      // bytes 36..39: shown as "%02d.%02d.%02d.%02d" of 39, 38, 37, 36
    uint32_t identity = 0;              // bytes 40..43
    uint16_t secondIdentity = 0;        // bytes 44..45
    uint32_t imageSize = 0;             // bytes 56..59
    uint32_t imageLength = 0xFFFFFFFFu; // bytes 76..79
    uint32_t flashTableOffset = 0x100;  // bytes 80..83
};

struct EthernetSettings {
    std::array<uint8_t, 4> ip{};
    std::array<uint8_t, 4> mask{};
    std::array<uint8_t, 4> gateway{};
    std::array<uint8_t, 6> mac{};
    bool dhcp = false;
};

class Expander {
  public:
    explicit Expander(Family family);
    Expander(const Expander&) = delete;
    Expander& operator=(const Expander&) = delete;

    const FamilyTraits& traits() const { return traits_; }
    Family family() const { return traits_.family; }

    // Identity, kept in the read-only registers.
    void setIdentity(uint64_t sasAddress, uint16_t productId, uint8_t revision);
    uint64_t sasAddress() const { return sasAddress_; }

    AddressSpace& space() { return space_; }
    const AddressSpace& space() const { return space_; }
    SparseBytes& flash() { return flash_; }
    const SparseBytes& flash() const { return flash_; }

    // Flash contents: the header at offset 0 and the flash table where the header says.
    void writeFirmwareHeader(const FirmwareHeader& header);
    void writeFlashTable(uint32_t offset, const std::vector<FlashEntry>& entries);
    // The table as the flash holds it now (empty when the header is not the family's or the flash blank).
    std::vector<FlashEntry> flashTable() const;

    // Configuration pages, each kept as the device returns it: little-endian length (data + 4), little-endian
    // id, data.
    void setPageData(uint16_t id, std::span<const uint8_t> data);
    void setPageRaw(uint16_t id, std::vector<uint8_t> raw);
    void removePage(uint16_t id);
    const std::map<uint16_t, std::vector<uint8_t>>& pages() const { return pages_; }
    void setEthernet(const EthernetSettings& settings);
    void setBoardName(const std::string& name);
    // The management address text that INQUIRY VPD page 0x85 reports.
    void setManagementAddress(std::optional<std::string> text) { managementAddress_ = std::move(text); }
    void setDhcpAddress(std::string text) { dhcpAddress_ = std::move(text); }
    std::string managementAddress() const;

    // Operations of the front ends.
    Outcome readPage(uint16_t id, uint32_t length, std::vector<uint8_t>& out) const;
    Outcome writePage(uint16_t id, std::span<const uint8_t> data);
    Outcome readMemory(uint32_t address, uint32_t length, std::vector<uint8_t>& out) const;
    Outcome writeMemory(uint32_t address, std::span<const uint8_t> data);
    Outcome resetControl(uint32_t offset, std::span<const uint8_t> data);
    Outcome readBuffer(uint8_t id, uint32_t offset, uint32_t length, std::vector<uint8_t>& out) const;
    Outcome writeBuffer(uint8_t id, uint32_t offset, std::span<const uint8_t> data);
    // Capacity of a data buffer, as a READ BUFFER descriptor reports it.
    Outcome bufferCapacity(uint8_t id, uint32_t& capacity) const;

    // The NOR parts behind the flash window, each at its window offset (replacing the default part that
    // fills the flash). The bus word follows the first part: 16 bits for a part strapped for words.
    void setFlashParts(const std::vector<std::pair<NorPart, uint32_t>>& parts);
    NorBank& norBank() { return *nor_; }
    const NorBank& norBank() const { return *nor_; }
    I2cController& i2c() { return *i2c_; }
    const I2cController& i2c() const { return *i2c_; }
    const Seeprom& seeprom() const { return *seeprom_; }
    Seeprom& seeprom() { return *seeprom_; }
    // Model time moves on with the program's sleeps (the SEEPROM's write cycle, the controller's reset).
    void elapse(uint64_t microseconds) { i2c_->elapse(microseconds); }
    // Where the NOR cycles and I2C transfers are reported (the preload's trace); null: nowhere.
    void setEventSink(std::function<void(const std::string&)> sink);

    // A designated buffer of that size (at most 24 bits), erased; false for an id that names none.
    bool setDesignatedBufferSize(uint8_t id, uint32_t size);

    // Designated buffers (0xE1 to 0xE5, 0xE7, 0xEA) and the history of resets and erases.
    const std::map<uint8_t, SparseBytes>& designatedBuffers() const { return designated_; }
    uint32_t chipResets() const { return chipResets_; }
    uint32_t watchdogResets() const { return watchdogResets_; }
    // Words 0 and 1 written to the ARM control register.
    uint32_t armStops() const { return armStops_; }
    uint32_t armStarts() const { return armStarts_; }
    const std::vector<uint8_t>& erasedBuffers() const { return erased_; }
    // Phys, route table and zone rows: what the scenario says, laid into the address space by
    // installTopology (before the scenario's own registers and memory, which may override any of it).
    Topology& topology() { return topology_; }
    const Topology& topology() const { return topology_; }
    void installTopology();
    // The phy count the chip works with (N), and an SMP DISCOVER response for a phy below it (else empty).
    uint32_t phyCount() const;
    std::vector<uint8_t> discoverResponse(uint32_t phy) const;
    // Resets taken per phy (writes of bit 1 to its reset register).
    const std::map<uint32_t, uint32_t>& phyResets() const { return phyResets_; }
    uint16_t productId() const { return productId_; }

    void setResetCounts(uint32_t chip, uint32_t watchdog) {
        chipResets_ = chip;
        watchdogResets_ = watchdog;
    }

  private:
    // A data buffer resolved to the store behind it.
    struct Target {
        SparseBytes* store = nullptr;
        uint64_t offset = 0;
        uint64_t size = 0;
        uint8_t eraseOf = 0; // buffer erased by the erase request (0xEB stands for 0xE2)
        bool eraseOnly = false;
    };
    std::optional<Target> resolve(uint8_t id) const;
    std::optional<FlashEntry> partition(uint8_t id) const;
    void defineRegisters();

    const FamilyTraits& traits_;
    AddressSpace space_;
    SparseBytes flash_;
    std::unique_ptr<NorBank> nor_;
    std::unique_ptr<Seeprom> seeprom_;
    std::unique_ptr<I2cController> i2c_;
    std::function<void(const std::string&)> sink_;
    mutable std::map<uint8_t, SparseBytes> designated_;
    std::map<uint16_t, std::vector<uint8_t>> pages_;
    uint64_t sasAddress_ = 0;
    std::optional<std::string> managementAddress_;
    std::string dhcpAddress_;
    uint32_t chipResets_ = 0;
    uint32_t watchdogResets_ = 0;
    uint32_t armStops_ = 0;
    uint32_t armStarts_ = 0;
    std::vector<uint8_t> erased_;
    uint16_t productId_ = 0;
    Topology topology_;
    std::map<uint32_t, uint32_t> phyResets_;
};

} // namespace zsim

#endif
