#include "model/AddressSpace.h"

#include <algorithm>

namespace zsim {

Register& AddressSpace::defineRegister(uint32_t address, std::string name, uint32_t value,
                                       uint32_t writableMask) {
    Register& reg = registers_[address & ~3u];
    reg.name = std::move(name);
    reg.value = value;
    reg.writableMask = writableMask;
    return reg;
}

Register* AddressSpace::findRegister(uint32_t address) {
    const auto found = registers_.find(address & ~3u);
    return found == registers_.end() ? nullptr : &found->second;
}

const Window* AddressSpace::windowFor(uint32_t address) const {
    for (const Window& window : windows_)
        if (!window.readAccess && address - window.first < window.size)
            return &window;
    return nullptr;
}

const Window* AddressSpace::deviceFor(uint32_t address) const {
    for (const Window& window : windows_)
        if (window.readAccess && address - window.first < window.size)
            return &window;
    return nullptr;
}

void AddressSpace::read(uint32_t address, std::span<uint8_t> out) const {
    if (const Window* device = deviceFor(address); device != nullptr && !out.empty()) {
        const uint32_t offset = address - device->first;
        const size_t n = std::min<size_t>(out.size(), device->size - offset);
        device->readAccess(offset, out.first(n));
        if (n < out.size())
            read(address + static_cast<uint32_t>(n), out.subspan(n));
        return;
    }
    for (size_t i = 0; i < out.size(); ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        if (deviceFor(at) != nullptr) {
            read(at, out.subspan(i));
            return;
        }
        if (const auto reg = registers_.find(at & ~3u); reg != registers_.end())
            out[i] = static_cast<uint8_t>(reg->second.value >> (8 * (at & 3u)));
        else if (const Window* window = windowFor(at); window != nullptr)
            out[i] = window->read(at - window->first);
        else
            out[i] = memory_.get(at);
    }
}

void AddressSpace::write(uint32_t address, std::span<const uint8_t> in) {
    if (const Window* device = deviceFor(address); device != nullptr && !in.empty()) {
        const uint32_t offset = address - device->first;
        const size_t n = std::min<size_t>(in.size(), device->size - offset);
        device->writeAccess(offset, in.first(n));
        if (n < in.size())
            write(address + static_cast<uint32_t>(n), in.subspan(n));
        return;
    }
    std::map<uint32_t, uint32_t> written; // register word -> the word as written
    for (size_t i = 0; i < in.size(); ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        if (deviceFor(at) != nullptr) {
            write(at, in.subspan(i));
            break;
        }
        if (const auto reg = registers_.find(at & ~3u); reg != registers_.end()) {
            uint32_t& word = written.try_emplace(reg->first, reg->second.value).first->second;
            const uint32_t shift = 8 * (at & 3u);
            word = (word & ~(0xFFu << shift)) | (static_cast<uint32_t>(in[i]) << shift);
        } else if (const Window* window = windowFor(at); window != nullptr) {
            if (window->write)
                window->write(at - window->first, in[i]);
        } else {
            memory_.set(at, in[i]);
        }
    }
    for (const auto& [at, word] : written) {
        Register& reg = registers_[at];
        reg.value = (reg.value & ~reg.writableMask) | (word & reg.writableMask);
        if (reg.onWrite)
            reg.onWrite(word);
    }
}

uint32_t AddressSpace::readWord(uint32_t address) const {
    uint8_t bytes[4];
    read(address, bytes);
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void AddressSpace::writeWord(uint32_t address, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    write(address, bytes);
}

} // namespace zsim
