#include "model/Expander.h"

#include <algorithm>
#include <cstdio>

namespace zsim {

namespace {

const FamilyTraits kOstrel{
    .family = Family::Ostrel,
    .name = "ostrel",
    .signature = {0x5EA1D0C3u, 0x5ED0A1C3u, 0x5ED0C3A1u},
    .flashBase = 0x14000000u,
    .flashSize = 0x04000000u,
    .deviceSignatureAddress = 0xC000002Cu,
    .sasAddressHigh = 0xB0000048u,
    .sasAddressLow = 0xB000004Cu,
    .ethernetPageId = 0xFF10,
    .macPageId = 0,
    .miscConfigAddress = 0xC00000A0u,
    .miscControlAddress = 0x40900018u,
    .armControlAddress = 0x40F00000u,
    .chipResetAddress = 0xC0000200u,
    .chipResetKey = 0x05ED0C31u,
    .watchdogAddresses = {0x40800000u, 0},
    .watchdogWord = 0xC02DC6C0u,
    .partitionByEntryId = true,
    .dataModeOnly = false,
    .flashControlAddress = 0x1C000004u,
};

const FamilyTraits kQuenza{
    .family = Family::Quenza,
    .name = "quenza",
    .signature = {0x7A3E91F4u, 0x7A91E3F4u, 0x7A91F4E3u},
    .flashBase = 0x10000000u,
    .flashSize = 0x04000000u,
    .deviceSignatureAddress = 0xC380002Cu,
    .sasAddressHigh = 0xC0000048u,
    .sasAddressLow = 0xC000004Cu,
    .ethernetPageId = 0xFF27,
    .macPageId = 0xFE05,
    .miscConfigAddress = 0,
    .miscControlAddress = 0x42400018u,
    .armControlAddress = 0x43C00000u,
    .chipResetAddress = 0xC3800200u,
    .chipResetKey = 0x07A91F48u,
    .watchdogAddresses = {0x42000000u, 0x42000004u},
    .watchdogWord = 0x802DC6C0u,
    .partitionByEntryId = false,
    .dataModeOnly = false,
    .flashControlAddress = 0x2C000004u,
};

const FamilyTraits kPalx{
    .family = Family::Palx,
    .name = "palx",
    .signature = {0x5AEAA55Au, 0xA55AEAA5u, 0x5AA55AEAu},
    .flashBase = 0x10000000u,
    .flashSize = 0x00200000u,
    .deviceSignatureAddress = 0,
    .sasAddressHigh = 0,
    .sasAddressLow = 0,
    .ethernetPageId = 0,
    .macPageId = 0,
    .miscConfigAddress = 0,
    .miscControlAddress = 0,
    .armControlAddress = 0x40F00000u,
    .chipResetAddress = 0xC0000200u,
    .chipResetKey = 0x50414C58u,
    .watchdogAddresses = {0, 0},
    .watchdogWord = 0,
    .partitionByEntryId = false,
    .dataModeOnly = true,
};

// Palx flash regions 0 to 7 (offsets from the flash start).
constexpr std::array<FlashEntry, 8> kPalxRegions{{
    {0, 0x40000, 0x00000},
    {1, 0x40000, 0x40000},
    {2, 0x40000, 0x80000},
    {3, 0x10000, 0xC0000},
    {4, 0x10000, 0xD0000},
    {5, 0x10000, 0xE0000},
    {6, 0x10000, 0xF0000},
    {7, 0x10000, 0x100000},
}};

constexpr uint8_t kBufferWholeFlash = 0x00;
constexpr uint8_t kBufferFirmware = 0xE0;
constexpr uint8_t kBufferEraseReplaced = 0xE2;
constexpr uint8_t kBufferEraseTarget = 0xEB;
constexpr std::array<uint8_t, 7> kDesignatedIds{0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE7, 0xEA};

void putLe16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void putLe32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getLe32(const SparseBytes& store, uint64_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | store.get(offset + i);
    return value;
}

bool isEraseRequest(uint32_t offset, std::span<const uint8_t> data) {
    return offset == 0 && data.size() == kEraseRequestLength &&
           std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xFF; });
}

std::string dottedQuad(const uint8_t* bytes) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

} // namespace

const FamilyTraits& familyTraits(Family family) {
    switch (family) {
    case Family::Ostrel:
        return kOstrel;
    case Family::Quenza:
        return kQuenza;
    case Family::Palx:
        break;
    }
    return kPalx;
}

const char* familyName(Family family) {
    return familyTraits(family).name;
}

std::optional<Family> familyFromName(const std::string& name) {
    for (Family family : {Family::Ostrel, Family::Quenza, Family::Palx})
        if (name == familyName(family))
            return family;
    return std::nullopt;
}

Expander::Expander(Family family)
    : traits_(familyTraits(family)), flash_(0xFF, familyTraits(family).flashSize),
      nor_(std::make_unique<NorBank>()), seeprom_(std::make_unique<Seeprom>()),
      i2c_(std::make_unique<I2cController>(*seeprom_)) {
    if (!traits_.dataModeOnly)
        for (uint8_t id : kDesignatedIds)
            designated_.emplace(id, SparseBytes(0xFF, kDesignatedBufferSize));
    Window flash{traits_.flashBase, traits_.flashSize, nullptr, nullptr, nullptr, nullptr};
    flash.readAccess = [this](uint32_t offset, std::span<uint8_t> out) { nor_->read(offset, out); };
    flash.writeAccess = [this](uint32_t offset, std::span<const uint8_t> in) { nor_->write(offset, in); };
    space_.mapWindow(std::move(flash));
    Window i2c{kI2cControllerBase, kI2cControllerSize, nullptr, nullptr, nullptr, nullptr};
    i2c.readAccess = [this](uint32_t offset, std::span<uint8_t> out) { i2c_->read(offset, out); };
    i2c.writeAccess = [this](uint32_t offset, std::span<const uint8_t> in) { i2c_->write(offset, in); };
    space_.mapWindow(std::move(i2c));
    defineRegisters();
    setFlashParts({{defaultNorPart(traits_.flashSize), 0}});
}

void Expander::setFlashParts(const std::vector<std::pair<NorPart, uint32_t>>& parts) {
    nor_ = std::make_unique<NorBank>();
    for (const auto& [part, base] : parts) {
        auto chip = std::make_unique<NorChip>(part, base, flash_);
        if (sink_)
            chip->setSink(sink_);
        nor_->add(std::move(chip));
    }
    const bool words = !parts.empty() && parts.front().first.width == NorWidth::X16Word;
    space_.findRegister(kFlashBusRegister)->value = words ? kFlashBus16 : 0;
}

void Expander::setEventSink(std::function<void(const std::string&)> sink) {
    sink_ = std::move(sink);
    for (auto& chip : nor_->chips())
        chip->setSink(sink_);
    i2c_->setSink(sink_);
}

void Expander::defineRegisters() {
    const FamilyTraits& t = traits_;
    if (t.deviceSignatureAddress != 0)
        space_.defineRegister(t.deviceSignatureAddress, "device-signature", 0, 0);
    if (t.sasAddressHigh != 0) {
        space_.defineRegister(t.sasAddressHigh, "sas-address-high", 0, 0);
        space_.defineRegister(t.sasAddressLow, "sas-address-low", 0, 0);
    }
    if (t.miscConfigAddress != 0)
        space_.defineRegister(t.miscConfigAddress, "misc-config", 0, 0xFFFFFFFFu);
    if (t.miscControlAddress != 0)
        space_.defineRegister(t.miscControlAddress, "misc-control", 0, 0xFFFFFFFFu);
    if (t.ethernetPageId != 0)
        space_.defineRegister(kIpStatusRegister, "ip-status", 0, 0xFFFFFFFFu);
    space_.defineRegister(t.armControlAddress, "arm-control", 0, 0xFFFFFFFFu).onWrite =
        [this](uint32_t word) {
            if (word == 0)
                ++armStops_;
            else if (word == 1)
                ++armStarts_;
        };
    if (t.flashControlAddress != 0)
        space_.defineRegister(t.flashControlAddress, "flash-control", 0, 0xFFFFFFFFu);
    space_.defineRegister(t.armControlAddress + 4, "arm-boot-address", 0, 0xFFFFFFFFu);
    space_.defineRegister(kFlashBusRegister, "flash-bus", 0, 0xFFFFFFFFu);
    space_.defineRegister(kBootSlotRegister, "boot-slot", 0, 0xFFFFFFFFu);
    space_.defineRegister(t.chipResetAddress, "chip-reset", 0, 0).onWrite = [this](uint32_t word) {
        if (word == traits_.chipResetKey)
            ++chipResets_;
    };
    for (uint32_t address : t.watchdogAddresses)
        if (address != 0)
            space_.defineRegister(address, "watchdog", 0, 0).onWrite = [this](uint32_t word) {
                if (word == traits_.watchdogWord)
                    ++watchdogResets_;
            };
}

void Expander::setIdentity(uint64_t sasAddress, uint16_t productId, uint8_t revision) {
    sasAddress_ = sasAddress;
    productId_ = productId;
    if (Register* reg = space_.findRegister(traits_.deviceSignatureAddress);
        reg && traits_.deviceSignatureAddress)
        reg->value = (static_cast<uint32_t>(productId) << 16) | (static_cast<uint32_t>(revision) << 8);
    if (traits_.sasAddressHigh != 0) {
        space_.findRegister(traits_.sasAddressHigh)->value = static_cast<uint32_t>(sasAddress >> 32);
        space_.findRegister(traits_.sasAddressLow)->value = static_cast<uint32_t>(sasAddress);
    }
}

void Expander::writeFirmwareHeader(const FirmwareHeader& header) {
    std::array<uint8_t, kFirmwareHeaderSize> bytes;
    flash_.read(0, bytes);
    putLe32(&bytes[4], header.signature[0]);
    putLe32(&bytes[8], header.signature[1]);
    putLe32(&bytes[12], header.signature[2]);
    putLe32(&bytes[36], header.version);
    putLe32(&bytes[40], header.identity);
    bytes[44] = static_cast<uint8_t>(header.secondIdentity);
    bytes[45] = static_cast<uint8_t>(header.secondIdentity >> 8);
    putLe32(&bytes[56], header.imageSize);
    putLe32(&bytes[76], header.imageLength);
    putLe32(&bytes[80], header.flashTableOffset);
    flash_.write(0, bytes);
}

void Expander::writeFlashTable(uint32_t offset, const std::vector<FlashEntry>& entries) {
    std::vector<uint8_t> bytes(4 + kFlashTableEntrySize * entries.size(), 0);
    bytes[2] = static_cast<uint8_t>(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* entry = &bytes[4 + kFlashTableEntrySize * i];
        entry[0] = entries[i].id;
        putLe32(entry + 4, entries[i].size);
        putLe32(entry + 8, entries[i].offset);
    }
    flash_.write(offset, bytes);
}

std::vector<FlashEntry> Expander::flashTable() const {
    std::vector<FlashEntry> entries;
    if (traits_.dataModeOnly) {
        entries.assign(kPalxRegions.begin(), kPalxRegions.end());
        return entries;
    }
    for (int i = 0; i < 3; ++i)
        if (getLe32(flash_, 4 + 4 * i) != traits_.signature[i])
            return entries;
    const uint32_t table = getLe32(flash_, 80);
    const uint32_t count = flash_.get(uint64_t{table} + 2);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = uint64_t{table} + 4 + kFlashTableEntrySize * i;
        entries.push_back({flash_.get(at), getLe32(flash_, at + 4), getLe32(flash_, at + 8)});
    }
    return entries;
}

void Expander::setPageData(uint16_t id, std::span<const uint8_t> data) {
    std::vector<uint8_t> raw(4 + data.size());
    putLe16(raw, 0, static_cast<uint16_t>(raw.size()));
    putLe16(raw, 2, id);
    std::copy(data.begin(), data.end(), raw.begin() + 4);
    pages_[id] = std::move(raw);
}

void Expander::setPageRaw(uint16_t id, std::vector<uint8_t> raw) {
    pages_[id] = std::move(raw);
}

void Expander::removePage(uint16_t id) {
    pages_.erase(id);
}

void Expander::setEthernet(const EthernetSettings& settings) {
    if (traits_.ethernetPageId == 0)
        return;
    // Data layout: IP, mask, gateway, MAC, six reserved bytes, DHCP state as a big-endian word.
    std::vector<uint8_t> data(28, 0);
    std::copy(settings.ip.begin(), settings.ip.end(), data.begin());
    std::copy(settings.mask.begin(), settings.mask.end(), data.begin() + 4);
    std::copy(settings.gateway.begin(), settings.gateway.end(), data.begin() + 8);
    std::copy(settings.mac.begin(), settings.mac.end(), data.begin() + 12);
    data[27] = settings.dhcp ? 1 : 0;
    setPageData(traits_.ethernetPageId, data);
    if (traits_.macPageId != 0) {
        std::vector<uint8_t> mac(8, 0);
        std::copy(settings.mac.begin(), settings.mac.end(), mac.begin());
        setPageData(traits_.macPageId, mac);
    }
}

void Expander::setBoardName(const std::string& name) {
    // Eight bytes ahead of the 16-byte board name, which is NUL padded.
    std::vector<uint8_t> data(24, 0);
    std::copy_n(name.begin(), std::min<size_t>(name.size(), 16), data.begin() + 8);
    setPageData(0xFF01, data);
}

std::string Expander::managementAddress() const {
    if (managementAddress_)
        return *managementAddress_;
    const auto page = pages_.find(traits_.ethernetPageId);
    if (traits_.ethernetPageId == 0 || page == pages_.end() || page->second.size() < 32)
        return dhcpAddress_;
    const std::vector<uint8_t>& raw = page->second;
    const bool dhcp = raw[28] != 0 || raw[29] != 0 || raw[30] != 0 || raw[31] != 0;
    return dhcp ? dhcpAddress_ : dottedQuad(&raw[4]);
}

Outcome Expander::readPage(uint16_t id, uint32_t length, std::vector<uint8_t>& out) const {
    const auto page = pages_.find(id);
    if (page == pages_.end())
        return Outcome::InvalidField;
    const std::vector<uint8_t>& raw = page->second;
    out.assign(raw.begin(), raw.begin() + std::min<size_t>(length, raw.size()));
    return Outcome::Ok;
}

Outcome Expander::writePage(uint16_t id, std::span<const uint8_t> data) {
    // A page travels whole: its length field counts every byte sent and its id is the one addressed.
    if (data.size() < 4)
        return Outcome::InvalidParameter;
    const uint16_t length = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const uint16_t pageId = static_cast<uint16_t>(data[2] | (data[3] << 8));
    if (length != data.size() || pageId != id)
        return Outcome::InvalidParameter;
    pages_[id].assign(data.begin(), data.end());
    return Outcome::Ok;
}

Outcome Expander::readMemory(uint32_t address, uint32_t length, std::vector<uint8_t>& out) const {
    out.resize(length);
    space_.read(address, out);
    return Outcome::Ok;
}

Outcome Expander::writeMemory(uint32_t address, std::span<const uint8_t> data) {
    space_.write(address, data);
    return Outcome::Ok;
}

Outcome Expander::resetControl(uint32_t offset, std::span<const uint8_t> data) {
    if (offset != 0)
        return Outcome::InvalidField;
    const std::array<uint8_t, 3> chip{0, 0, 0};
    const std::array<uint8_t, 3> watchdog{1, 0, 1};
    if (std::equal(data.begin(), data.end(), chip.begin(), chip.end()))
        ++chipResets_;
    else if (std::equal(data.begin(), data.end(), watchdog.begin(), watchdog.end()))
        ++watchdogResets_;
    else
        return Outcome::InvalidParameter;
    return Outcome::Ok;
}

std::optional<FlashEntry> Expander::partition(uint8_t id) const {
    const std::vector<FlashEntry> table = flashTable();
    if (traits_.dataModeOnly) {
        if (id < table.size())
            return table[id];
        return std::nullopt;
    }
    if (id < 0x80 || id > 0xBF)
        return std::nullopt;
    const uint32_t n = id - 0x80u;
    if (table.empty())
        return n == 0 ? std::optional<FlashEntry>(FlashEntry{0, traits_.flashSize, 0}) : std::nullopt;
    if (n == 0 || !traits_.partitionByEntryId)
        return n < table.size() ? std::optional<FlashEntry>(table[n]) : std::nullopt;
    for (size_t i = 1; i < table.size(); ++i)
        if (table[i].id == n)
            return table[i];
    return std::nullopt;
}

std::optional<Expander::Target> Expander::resolve(uint8_t id) const {
    auto* flash = const_cast<SparseBytes*>(&flash_);
    auto flashTarget = [&](const FlashEntry& entry) -> std::optional<Target> {
        if (uint64_t{entry.offset} + entry.size > traits_.flashSize)
            return std::nullopt;
        return Target{flash, entry.offset, entry.size, id, false};
    };
    if (traits_.dataModeOnly) {
        if (id == kBufferWholeFlash)
            return Target{flash, 0, traits_.flashSize, id, false};
        if (const auto entry = partition(id))
            return flashTarget(*entry);
        return std::nullopt;
    }
    if (id == kBufferWholeFlash)
        return Target{flash, 0, traits_.flashSize, id, false};
    if (id == kBufferFirmware) {
        const auto entry = partition(0x80);
        return entry ? flashTarget(*entry) : std::nullopt;
    }
    if (id == kBufferEraseTarget) {
        SparseBytes& store = designated_.at(kBufferEraseReplaced);
        return Target{&store, 0, store.size(), kBufferEraseReplaced, true};
    }
    if (const auto found = designated_.find(id); found != designated_.end())
        return Target{&found->second, 0, found->second.size(), id, false};
    if (const auto entry = partition(id))
        return flashTarget(*entry);
    return std::nullopt;
}

Outcome Expander::readBuffer(uint8_t id, uint32_t offset, uint32_t length, std::vector<uint8_t>& out) const {
    const auto target = resolve(id);
    if (!target || target->eraseOnly || offset >= target->size)
        return Outcome::InvalidField;
    // A read past the end of the buffer delivers what there is.
    const uint64_t count = std::min<uint64_t>(length, target->size - offset);
    out.resize(count);
    // The flash answers a buffer read the way it answers the window: in the mode its parts are in.
    if (target->store == &flash_)
        nor_->read(static_cast<uint32_t>(target->offset + offset), out);
    else
        target->store->read(target->offset + offset, out);
    return Outcome::Ok;
}

Outcome Expander::writeBuffer(uint8_t id, uint32_t offset, std::span<const uint8_t> data) {
    const auto target = resolve(id);
    if (!target)
        return Outcome::InvalidField;
    const bool erase = isEraseRequest(offset, data) && id != kBufferEraseReplaced;
    if (erase) {
        target->store->clear(target->offset, target->size);
        erased_.push_back(target->eraseOf);
        return Outcome::Ok;
    }
    if (target->eraseOnly)
        return Outcome::InvalidParameter;
    if (uint64_t{offset} + data.size() > target->size)
        return Outcome::InvalidField;
    target->store->write(target->offset + offset, data);
    return Outcome::Ok;
}

bool Expander::setDesignatedBufferSize(uint8_t id, uint32_t size) {
    const auto found = designated_.find(id);
    if (found == designated_.end() || size > 0xFFFFFF)
        return false;
    found->second = SparseBytes(0xFF, size);
    return true;
}

Outcome Expander::bufferCapacity(uint8_t id, uint32_t& capacity) const {
    const auto target = resolve(id);
    if (!target || target->eraseOnly)
        return Outcome::InvalidField;
    capacity = static_cast<uint32_t>(std::min<uint64_t>(target->size, 0xFFFFFF));
    return Outcome::Ok;
}

} // namespace zsim
