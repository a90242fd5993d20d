#include "scenario/Scenario.h"

#include <cstdio>
#include <sstream>

namespace zsim {

std::string toHex(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text(2 * count, '0');
    for (size_t i = 0; i < count; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string formatSasAddress(uint64_t address) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(address));
    return text;
}

namespace {

std::string hex32(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string hexId(uint32_t value, int digits) {
    char text[12];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

const char* kindName(const Device& device) {
    switch (device.kind) {
    case DeviceKind::Expander:
        return familyName(device.expander->family());
    case DeviceKind::Disk:
        return "disk";
    case DeviceKind::Enclosure:
        break;
    }
    return "enclosure";
}

void describeExpander(std::ostringstream& out, const Expander& expander) {
    for (const auto& [id, raw] : expander.pages())
        out << "page " << hexId(id, 4) << ' ' << toHex(raw.data(), raw.size()) << '\n';
    for (const auto& [address, reg] : expander.space().registers())
        out << "register " << hex32(address) << ' ' << hex32(reg.value) << ' ' << reg.name << '\n';
    for (const auto& [address, bytes] : expander.space().memory().runs())
        out << "memory " << hex32(static_cast<uint32_t>(address)) << ' ' << toHex(bytes.data(), bytes.size())
            << '\n';
    for (const auto& [offset, bytes] : expander.flash().runs())
        out << "flash " << hex32(static_cast<uint32_t>(offset)) << ' ' << toHex(bytes.data(), bytes.size())
            << '\n';
    for (const auto& [id, store] : expander.designatedBuffers())
        for (const auto& [offset, bytes] : store.runs())
            out << "buffer " << hexId(id, 2) << ' ' << hex32(static_cast<uint32_t>(offset)) << ' '
                << toHex(bytes.data(), bytes.size()) << '\n';
    for (const auto& chip : expander.norBank().chips())
        out << "nor " << hex32(chip->base()) << ' ' << chip->part().name << ' ' << chip->modeName() << '\n';
    const std::vector<uint8_t>& seeprom = expander.seeprom().bytes();
    for (size_t at = 0; at < seeprom.size();) {
        if (seeprom[at] == 0xFF) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < seeprom.size() && seeprom[end] != 0xFF && end - at < 4096)
            ++end;
        out << "seeprom " << hex32(static_cast<uint32_t>(at)) << ' ' << toHex(&seeprom[at], end - at) << '\n';
        at = end;
    }
    if (expander.i2c().transfers() != 0)
        out << "i2c transfers=" << expander.i2c().transfers() << '\n';
    out << "resets chip=" << expander.chipResets() << " watchdog=" << expander.watchdogResets() << '\n';
    if (expander.armStops() != 0 || expander.armStarts() != 0)
        out << "arm stops=" << expander.armStops() << " starts=" << expander.armStarts() << '\n';
    if (!expander.phyResets().empty()) {
        out << "phy-resets";
        for (const auto& [phy, count] : expander.phyResets())
            out << ' ' << phy << '=' << count;
        out << '\n';
    }
    out << "erases";
    for (uint8_t id : expander.erasedBuffers())
        out << ' ' << hexId(id, 2);
    out << '\n';
}

} // namespace

std::string describeState(const Enclosure& enclosure) {
    std::ostringstream out;
    out << "# zsim state\n";
    for (const auto& device : enclosure.devices) {
        out << "device " << device->name() << ' ' << kindName(*device) << '\n';
        if (device->expander)
            describeExpander(out, *device->expander);
        for (const Fault& fault : device->faults)
            out << "fault-struck " << fault.struck << '\n';
        out << "end\n";
    }
    return out.str();
}

} // namespace zsim
