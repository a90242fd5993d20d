#include "model/NorFlash.h"

#include <algorithm>
#include <cstdio>

namespace zsim {

namespace {

constexpr uint32_t k64K = 0x10000;
constexpr uint32_t kDefaultBusyReads = 2;

// Status register bits of the Intel set.
constexpr uint8_t kSrReady = 0x80;
constexpr uint8_t kSrEraseError = 0x20;
constexpr uint8_t kSrProgramError = 0x10;
constexpr uint8_t kSrLocked = 0x02;
// Data-polling bits of the AMD set.
constexpr uint16_t kDq6 = 0x40;
constexpr uint16_t kDq5 = 0x20;

NorPart part(std::string name, NorSet set, NorWidth width, bool cfi, uint16_t commandSet, uint8_t mfg,
             uint8_t dev, std::vector<NorEraseRegion> regions) {
    uint32_t size = 0;
    for (const NorEraseRegion& r : regions)
        size += r.blockSize * r.blocks;
    return NorPart{std::move(name), set, width, cfi, commandSet, mfg, dev, size, std::move(regions)};
}

const std::vector<NorPart>& parts() {
    using S = NorSet;
    using W = NorWidth;
    const std::vector<NorEraseRegion> bottomBoot{{0x4000, 1}, {0x2000, 2}, {0x8000, 1}, {k64K, 15}};
    static const std::vector<NorPart> table{
        // Parts without CFI, answering only their identifier codes.
        part("noncfi-amd-5b", S::Amd, W::X16Byte, false, 0, 0x01, 0x5B, bottomBoot),
        part("noncfi-fujitsu-5b", S::Amd, W::X16Byte, false, 0, 0x04, 0x5B, bottomBoot),
        part("noncfi-intel-a6", S::Intel, W::X8Only, false, 0, 0x89, 0xA6, {{k64K, 16}}),
        part("noncfi-intel-aa", S::Intel, W::X8Only, false, 0, 0x89, 0xAA, {{k64K, 32}}),
        part("noncfi-unknown", S::Amd, W::X16Byte, false, 0, 0x37, 0x42, {{k64K, 16}}),
        // CFI parts.
        part("amd-x16-word", S::Amd, W::X16Word, true, 2, 0x01, 0x7E, {{k64K, 16}}),
        part("amd-x16-byte", S::Amd, W::X16Byte, true, 2, 0x01, 0x7E, {{k64K, 16}}),
        part("amd-bootblock-byte", S::Amd, W::X16Byte, true, 2, 0x01, 0x22, {{0x2000, 8}, {k64K, 15}}),
        part("amd-bootblock-word", S::Amd, W::X16Word, true, 2, 0x01, 0x22, {{0x2000, 8}, {k64K, 15}}),
        part("amd-x8", S::Amd, W::X8Only, true, 2, 0x01, 0x4F, {{k64K, 16}}),
        part("amd-set4-byte", S::Amd, W::X16Byte, true, 4, 0x04, 0x7E, {{k64K, 16}}),
        part("intel-0001-x16", S::Intel, W::X16Word, true, 1, 0x89, 0x16, {{k64K, 16}}),
        part("intel-0003-byte", S::Intel, W::X16Byte, true, 3, 0x89, 0x17, {{k64K, 16}}),
        part("intel-0003-x8", S::Intel, W::X8Only, true, 3, 0x89, 0x18, {{k64K, 16}}),
        part("unknown-set6-byte", S::Amd, W::X16Byte, true, 6, 0x20, 0x33, {{k64K, 16}}),
        part("amd-2m-byte", S::Amd, W::X16Byte, true, 2, 0x01, 0x7E, {{k64K, 32}}),
    };
    return table;
}

} // namespace

const NorPart* findNorPart(const std::string& name) {
    for (const NorPart& p : parts())
        if (p.name == name)
            return &p;
    return nullptr;
}

std::vector<std::string> norPartNames() {
    std::vector<std::string> names;
    for (const NorPart& p : parts())
        names.push_back(p.name);
    return names;
}

NorPart defaultNorPart(uint32_t size) {
    return part("default", NorSet::Amd, NorWidth::X16Byte, true, 2, 0x01, 0x7E, {{k64K, size / k64K}});
}

NorChip::NorChip(NorPart part, uint32_t base, SparseBytes& array)
    : part_(std::move(part)), base_(base), array_(array) {}

void NorChip::addFault(const NorFault& fault) {
    faults_.push_back(fault);
    if (fault.kind == NorFaultKind::Dq5Timeout)
        dq5Armed_ = true;
}

uint32_t NorChip::byteOffset(uint32_t busAddress) const {
    return part_.width == NorWidth::X16Word ? busAddress * 2 : busAddress;
}

uint32_t NorChip::lineAddress(uint32_t busAddress) const {
    return (part_.width == NorWidth::X16Byte ? busAddress >> 1 : busAddress) & 0x7FF;
}

std::optional<std::pair<uint32_t, uint32_t>> NorChip::blockOf(uint32_t byteAt) const {
    uint32_t start = 0;
    for (const NorEraseRegion& r : part_.regions) {
        for (uint32_t b = 0; b < r.blocks; ++b, start += r.blockSize)
            if (byteAt >= start && byteAt - start < r.blockSize)
                return std::make_pair(start, r.blockSize);
    }
    return std::nullopt;
}

bool NorChip::faultIn(NorFaultKind kind, uint32_t byteAt) const {
    const auto block = blockOf(byteAt);
    for (const NorFault& f : faults_)
        if (f.kind == kind && block && f.offset >= block->first && f.offset - block->first < block->second)
            return true;
    return false;
}

void NorChip::emit(const char* what, uint32_t address, uint32_t value) {
    if (!sink_)
        return;
    char text[160];
    std::snprintf(text, sizeof text, "nor part=%s base=0x%X op=%s addr=0x%X data=0x%X mode=%s",
                  part_.name.c_str(), base_, what, address, value, modeName().c_str());
    sink_(text);
}

std::string NorChip::modeName() const {
    switch (mode_) {
    case Mode::Array:
        return "read-array";
    case Mode::Query:
        return "query";
    case Mode::Autoselect:
        return "autoselect";
    case Mode::Status:
        return "status";
    case Mode::ProgramSetup:
    case Mode::IntelProgram:
        return "program-setup";
    case Mode::IntelErase:
    case Mode::EraseUnlock:
    case Mode::EraseUnlock1:
    case Mode::EraseUnlock2:
        return "erase-setup";
    case Mode::Unlock1:
    case Mode::Unlock2:
        break;
    }
    return "unlock";
}

void NorChip::startBusy(uint16_t dq7Source, bool erase) {
    mode_ = Mode::Status;
    busyDone_ = false;
    busyLeft_ = kDefaultBusyReads;
    busyForever_ = false;
    dq5_ = false;
    dq7_ = erase ? 0 : static_cast<uint16_t>(~dq7Source & 0x8080);
    for (const NorFault& f : faults_) {
        if (f.kind == NorFaultKind::Busy)
            busyLeft_ = f.value;
        if (f.kind == NorFaultKind::EndlessToggle)
            busyForever_ = true;
    }
    if (dq5Armed_ && part_.set == NorSet::Amd) {
        dq5Armed_ = false;
        busyForever_ = true;
        dq5_ = true;
    }
}

uint16_t NorChip::statusRead() {
    if (part_.set == NorSet::Intel) {
        if (!busyDone_ && !busyForever_ && busyLeft_ == 0)
            busyDone_ = true;
        if (!busyDone_) {
            if (busyLeft_ > 0)
                --busyLeft_;
            return static_cast<uint16_t>(intelStatus_ & ~kSrReady);
        }
        return intelStatus_;
    }
    // AMD: DQ6 toggles on every read while the embedded operation runs, DQ7 shows the complement of the
    // data, DQ5 rises when it exceeded its time; then the part goes back to the array by itself.
    if (!busyForever_ && busyLeft_ == 0) {
        busyDone_ = true;
        mode_ = Mode::Array;
        return 0; // not used: the caller reads the array
    }
    if (busyLeft_ > 0)
        --busyLeft_;
    toggle_ = !toggle_;
    uint16_t value = dq7_;
    if (toggle_)
        value |= kDq6 | (kDq6 << 8);
    if (dq5_)
        value |= kDq5 | (kDq5 << 8);
    return value;
}

uint16_t NorChip::queryValue(uint32_t index) const {
    std::vector<uint8_t> q(0x2D + 4 * part_.regions.size(), 0);
    q[0x10] = 'Q';
    q[0x11] = 'R';
    q[0x12] = 'Y';
    q[0x13] = static_cast<uint8_t>(part_.commandSet);
    q[0x14] = static_cast<uint8_t>(part_.commandSet >> 8);
    q[0x1B] = 0x27;
    q[0x1C] = 0x36;
    q[0x1F] = 0x04;
    q[0x21] = 0x0A;
    q[0x23] = 0x05;
    q[0x25] = 0x04;
    uint32_t log2 = 0;
    while ((uint64_t{1} << log2) < part_.size)
        ++log2;
    q[0x27] = static_cast<uint8_t>(log2);
    q[0x28] = part_.width == NorWidth::X8Only ? 0x00 : 0x02;
    q[0x2C] = static_cast<uint8_t>(part_.regions.size());
    for (size_t i = 0; i < part_.regions.size(); ++i) {
        const uint32_t blocks = part_.regions[i].blocks - 1;
        const uint32_t unit = part_.regions[i].blockSize / 256;
        q[0x2D + 4 * i] = static_cast<uint8_t>(blocks);
        q[0x2E + 4 * i] = static_cast<uint8_t>(blocks >> 8);
        q[0x2F + 4 * i] = static_cast<uint8_t>(unit);
        q[0x30 + 4 * i] = static_cast<uint8_t>(unit >> 8);
    }
    return index < q.size() ? q[index] : 0;
}

uint16_t NorChip::autoselectValue(uint32_t index) const {
    if (index == 0)
        return part_.manufacturer;
    if (index == 1)
        return part_.device;
    return 0;
}

uint16_t NorChip::readUnit(uint32_t busAddress) {
    const uint32_t at = byteOffset(busAddress);
    switch (mode_) {
    case Mode::Query:
    case Mode::Autoselect: {
        // Query and identifier data sit in the low byte of each word; in byte mode A-1 selects the lane.
        const uint32_t index = part_.width == NorWidth::X16Byte ? busAddress >> 1 : busAddress;
        if (part_.width == NorWidth::X16Byte && (busAddress & 1) != 0)
            return 0;
        return mode_ == Mode::Query ? queryValue(index) : autoselectValue(index);
    }
    default:
        break;
    }
    const uint8_t low = array_.get(uint64_t{base_} + at);
    if (part_.width != NorWidth::X16Word)
        return low;
    return static_cast<uint16_t>(low | (array_.get(uint64_t{base_} + at + 1) << 8));
}

void NorChip::read(uint32_t offset, std::span<uint8_t> out) {
    const bool word = part_.width == NorWidth::X16Word;
    // One access: a status read moves the status on once, whatever the width of the transfer.
    if (mode_ == Mode::Status) {
        const uint16_t status = statusRead();
        if (mode_ == Mode::Status) {
            for (size_t i = 0; i < out.size(); ++i) {
                const uint32_t o = offset + static_cast<uint32_t>(i);
                out[i] = static_cast<uint8_t>(word && (o & 1) ? status >> 8 : status);
            }
            return;
        }
    }
    for (size_t i = 0; i < out.size(); ++i) {
        const uint32_t o = offset + static_cast<uint32_t>(i);
        if (o >= part_.size) {
            out[i] = 0xFF;
            continue;
        }
        const uint16_t unit = readUnit(word ? o >> 1 : o);
        out[i] = static_cast<uint8_t>(word && (o & 1) ? unit >> 8 : unit);
    }
}

void NorChip::write(uint32_t offset, std::span<const uint8_t> in) {
    if (part_.width != NorWidth::X16Word) {
        for (size_t i = 0; i < in.size(); ++i)
            cycle(offset + static_cast<uint32_t>(i), in[i]);
        return;
    }
    // On a 16-bit bus a word at an even offset is one cycle; a lone byte is a word cycle with the byte on
    // both lanes.
    size_t i = 0;
    while (i < in.size()) {
        const uint32_t o = offset + static_cast<uint32_t>(i);
        if ((o & 1) == 0 && i + 1 < in.size()) {
            cycle(o >> 1, static_cast<uint16_t>(in[i] | (in[i + 1] << 8)));
            i += 2;
        } else {
            cycle(o >> 1, static_cast<uint16_t>(in[i] | (in[i] << 8)));
            ++i;
        }
    }
}

void NorChip::cycle(uint32_t busAddress, uint16_t data) {
    ++cycles_;
    if (byteOffset(busAddress) >= part_.size)
        return;
    if (part_.set == NorSet::Amd)
        amdCycle(busAddress, data);
    else
        intelCycle(busAddress, data);
    emit("write", busAddress, data);
}

void NorChip::program(uint32_t byteAt, uint16_t data, bool wide) {
    const int count = wide ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        const uint32_t at = byteAt + static_cast<uint32_t>(i);
        const uint8_t value = static_cast<uint8_t>(data >> (8 * i));
        uint8_t next = static_cast<uint8_t>(array_.get(uint64_t{base_} + at) & value);
        for (const NorFault& f : faults_)
            if (f.kind == NorFaultKind::StuckBit && f.offset == at)
                next |= static_cast<uint8_t>(f.value);
        array_.set(uint64_t{base_} + at, next);
    }
}

void NorChip::eraseBlockAt(uint32_t byteAt) {
    if (const auto block = blockOf(byteAt))
        array_.clear(uint64_t{base_} + block->first, block->second);
}

void NorChip::eraseChip() {
    uint32_t start = 0;
    for (const NorEraseRegion& r : part_.regions)
        for (uint32_t b = 0; b < r.blocks; ++b, start += r.blockSize)
            if (!faultIn(NorFaultKind::Protected, start))
                array_.clear(uint64_t{base_} + start, r.blockSize);
}

void NorChip::amdCycle(uint32_t busAddress, uint16_t data) {
    const uint8_t d = static_cast<uint8_t>(data);
    const uint32_t line = lineAddress(busAddress);
    const uint32_t at = byteOffset(busAddress);
    if (d == 0xF0 && mode_ != Mode::ProgramSetup) { // reset, also out of a hung operation
        mode_ = Mode::Array;
        busyDone_ = true;
        busyForever_ = false;
        busyLeft_ = 0;
        return;
    }
    switch (mode_) {
    case Mode::Status:
        return; // the embedded operation ignores writes
    case Mode::Array:
    case Mode::Query:
    case Mode::Autoselect:
        if (d == 0xAA && line == 0x555)
            mode_ = Mode::Unlock1;
        else if (d == 0x98 && line == 0x55 && part_.cfi)
            mode_ = Mode::Query;
        else
            mode_ = Mode::Array;
        return;
    case Mode::Unlock1:
        mode_ = d == 0x55 && line == 0x2AA ? Mode::Unlock2 : Mode::Array;
        return;
    case Mode::Unlock2:
        mode_ = Mode::Array;
        if (line == 0x555 && d == 0x90)
            mode_ = Mode::Autoselect;
        else if (line == 0x555 && d == 0xA0)
            mode_ = Mode::ProgramSetup;
        else if (line == 0x555 && d == 0x80)
            mode_ = Mode::EraseUnlock;
        return;
    case Mode::ProgramSetup:
        if (faultIn(NorFaultKind::Protected, at)) {
            mode_ = Mode::Array; // a protected sector ignores the program
            return;
        }
        program(at, data, part_.width == NorWidth::X16Word);
        startBusy(data, false);
        return;
    case Mode::EraseUnlock:
        mode_ = d == 0xAA && line == 0x555 ? Mode::EraseUnlock1 : Mode::Array;
        return;
    case Mode::EraseUnlock1:
        mode_ = d == 0x55 && line == 0x2AA ? Mode::EraseUnlock2 : Mode::Array;
        return;
    case Mode::EraseUnlock2:
        mode_ = Mode::Array;
        if (d == 0x30) {
            if (faultIn(NorFaultKind::Protected, at))
                return;
            eraseBlockAt(at);
            startBusy(0, true);
        } else if (d == 0x10 && line == 0x555) {
            eraseChip();
            startBusy(0, true);
        }
        return;
    default:
        mode_ = Mode::Array;
        return;
    }
}

void NorChip::intelCycle(uint32_t busAddress, uint16_t data) {
    const uint8_t d = static_cast<uint8_t>(data);
    const uint32_t at = byteOffset(busAddress);
    if (mode_ == Mode::IntelProgram) {
        mode_ = Mode::Status;
        if (faultIn(NorFaultKind::Locked, at)) {
            intelStatus_ = kSrReady | kSrProgramError | kSrLocked;
        } else {
            program(at, data, part_.width == NorWidth::X16Word);
            intelStatus_ = kSrReady;
        }
        startBusy(0, false);
        return;
    }
    if (mode_ == Mode::IntelErase) {
        mode_ = Mode::Status;
        if (d != 0xD0) {
            intelStatus_ = kSrReady | kSrEraseError | kSrProgramError; // command sequence error
            busyDone_ = true;
            return;
        }
        if (faultIn(NorFaultKind::Locked, at)) {
            intelStatus_ = kSrReady | kSrEraseError | kSrLocked;
        } else {
            eraseBlockAt(at);
            intelStatus_ = kSrReady;
        }
        startBusy(0, true);
        return;
    }
    switch (d) {
    case 0xFF:
        mode_ = Mode::Array;
        busyDone_ = true;
        busyForever_ = false;
        busyLeft_ = 0;
        return;
    case 0x90:
        mode_ = Mode::Autoselect;
        return;
    case 0x98:
        if (part_.cfi)
            mode_ = Mode::Query;
        return;
    case 0x70:
        mode_ = Mode::Status;
        return;
    case 0x50:
        intelStatus_ = static_cast<uint8_t>(intelStatus_ & ~0x3Au);
        return;
    case 0x40:
    case 0x10:
        mode_ = Mode::IntelProgram;
        return;
    case 0x20:
        mode_ = Mode::IntelErase;
        return;
    default:
        mode_ = Mode::Array;
        return;
    }
}

NorChip* NorBank::chipAt(uint32_t offset) const {
    for (const auto& chip : chips_)
        if (offset >= chip->base() && offset - chip->base() < chip->size())
            return chip.get();
    return nullptr;
}

void NorBank::read(uint32_t offset, std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
        const uint32_t at = offset + static_cast<uint32_t>(done);
        NorChip* chip = chipAt(at);
        if (chip == nullptr) {
            out[done++] = 0xFF;
            continue;
        }
        const size_t n = std::min<size_t>(out.size() - done, chip->base() + chip->size() - at);
        chip->read(at - chip->base(), out.subspan(done, n));
        done += n;
    }
}

void NorBank::write(uint32_t offset, std::span<const uint8_t> in) {
    size_t done = 0;
    while (done < in.size()) {
        const uint32_t at = offset + static_cast<uint32_t>(done);
        NorChip* chip = chipAt(at);
        if (chip == nullptr) {
            ++done;
            continue;
        }
        const size_t n = std::min<size_t>(in.size() - done, chip->base() + chip->size() - at);
        chip->write(at - chip->base(), in.subspan(done, n));
        done += n;
    }
}

} // namespace zsim
