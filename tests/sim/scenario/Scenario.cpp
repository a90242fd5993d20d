#include "scenario/Scenario.h"
#include "scenario/ScenarioLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

namespace zsim {

namespace {

// ---- tokens ----

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

template <size_t N>
std::array<uint8_t, N> parseSeparated(const Line& line, const std::string& text, char separator, int base) {
    std::array<uint8_t, N> bytes{};
    std::stringstream in(text);
    std::string part;
    size_t count = 0;
    while (std::getline(in, part, separator)) {
        if (count == N || part.empty() || part.size() > 3)
            line.fail("malformed value: '" + text + "'");
        char* end = nullptr;
        const unsigned long value = std::strtoul(part.c_str(), &end, base);
        if (*end != '\0' || value > 255)
            line.fail("malformed value: '" + text + "'");
        bytes[count++] = static_cast<uint8_t>(value);
    }
    if (count != N)
        line.fail("malformed value: '" + text + "'");
    return bytes;
}

// ---- faults ----

FaultMatch parseMatch(const Line& line, const std::string& text) {
    FaultMatch match;
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ':');)
        parts.push_back(part);
    if (parts.empty())
        line.fail("empty fault match");
    const std::string& what = parts[0];
    if (what == "any" && parts.size() == 1)
        return match;
    if (what == "opcode" && parts.size() == 2) {
        match.command = FaultMatch::Command::Opcode;
        match.opcode = static_cast<uint8_t>(parseNumber(line, parts[1], 0xFF));
        return match;
    }
    if (what == "inquiry" && parts.size() <= 2) {
        match.command = FaultMatch::Command::Inquiry;
        if (parts.size() == 2) {
            if (parts[1] == "std")
                match.command = FaultMatch::Command::StandardInquiry;
            else
                match.selector = static_cast<uint8_t>(parseNumber(line, parts[1], 0xFF));
        }
        return match;
    }
    if ((what == "read-buffer" || what == "write-buffer") && parts.size() <= 3) {
        match.command =
            what == "read-buffer" ? FaultMatch::Command::ReadBuffer : FaultMatch::Command::WriteBuffer;
        if (parts.size() >= 2)
            match.selector = static_cast<uint8_t>(parseNumber(line, parts[1], 0xFF));
        if (parts.size() == 3)
            match.offset = static_cast<uint32_t>(parseNumber(line, parts[2], UINT32_MAX));
        return match;
    }
    line.fail("unknown fault match '" + text + "'");
}

Fault parseFault(const Line& line) {
    Fault fault;
    fault.match = parseMatch(line, line.arg(0));
    static const std::map<std::string, std::pair<FaultKind, int>> kinds{
        // name -> kind, number of values (-1: optional)
        {"unit-attention", {FaultKind::UnitAttention, 0}},
        {"illegal-request", {FaultKind::IllegalRequest, 0}},
        {"busy", {FaultKind::Busy, 0}},
        {"transport-error", {FaultKind::TransportError, 0}},
        {"driver-error", {FaultKind::DriverError, 0}},
        {"ioctl-failure", {FaultKind::IoctlFailure, -1}},
        {"short", {FaultKind::ShortTransfer, 1}},
        {"zero", {FaultKind::ZeroTransfer, 0}},
        {"length", {FaultKind::Length, 1}},
        {"executed-failure", {FaultKind::ExecutedFailure, 0}},
    };
    const auto kind = kinds.find(line.arg(1));
    if (kind == kinds.end())
        line.fail("unknown fault kind '" + line.arg(1) + "'");
    fault.kind = kind->second.first;
    size_t next = 2;
    if (fault.kind == FaultKind::IoctlFailure)
        fault.argument = EIO;
    if (kind->second.second != 0 && next < line.args.size() && line.args[next].find('=') == std::string::npos)
        fault.argument = static_cast<uint32_t>(parseNumber(line, line.args[next++], UINT32_MAX));
    else if (kind->second.second == 1)
        line.fail("fault '" + line.arg(1) + "' needs a value");
    for (; next < line.args.size(); ++next) {
        const std::string& option = line.args[next];
        if (option.rfind("skip=", 0) == 0)
            fault.skip = static_cast<uint32_t>(parseNumber(line, option.substr(5), UINT32_MAX));
        else if (option == "count=always")
            fault.count = 0;
        else if (option.rfind("count=", 0) == 0)
            fault.count = static_cast<uint32_t>(parseNumber(line, option.substr(6), UINT32_MAX));
        else
            line.fail("unknown fault option '" + option + "'");
    }
    return fault;
}

// ---- devices ----

struct PageEdit {
    enum class Op { Data, Raw, Remove } op;
    uint16_t id;
    std::vector<uint8_t> bytes;
};

struct RegisterSetting {
    uint32_t address;
    uint32_t value;
    std::optional<uint32_t> writable;
};

struct ByteWrite {
    uint32_t where;
    uint8_t buffer; // buffer id for designated buffers
    std::vector<uint8_t> bytes;
};

// What one device block says; built into a Device when the block ends.
struct DeviceBlock {
    int line = 0;
    std::unique_ptr<Device> device;
    std::optional<Family> family;
    uint16_t product = 0;
    uint8_t revision = 0;
    std::string boardName = "SIMBOARD";
    EthernetSettings ethernet;
    std::string dhcpAddress;
    std::optional<std::string> managementAddress;
    FirmwareHeader header;
    bool blankFlash = false;
    std::optional<std::vector<FlashEntry>> table;
    std::vector<ByteWrite> flash;
    std::vector<PageEdit> pages;
    std::vector<RegisterSetting> registers;
    std::vector<ByteWrite> memory;
    std::vector<ByteWrite> buffers;
    std::vector<std::pair<uint8_t, uint32_t>> bufferSizes;
    Topology topology;
    std::vector<std::pair<NorPart, uint32_t>> parts;
    std::vector<std::pair<size_t, NorFault>> norFaults; // part index, fault
    std::vector<I2cFault> i2cFaults;
    std::vector<ByteWrite> seeprom;
};

// `flash-fault KIND [VALUES]`, for the part declared last (the default part when none is).
NorFault parseNorFault(const Line& line) {
    const std::string& kind = line.arg(0);
    NorFault fault;
    auto value = [&](size_t i) { return static_cast<uint32_t>(parseNumber(line, line.arg(i), UINT32_MAX)); };
    if (kind == "stuck-bit") {
        line.expectArgs(3, 3);
        fault = {NorFaultKind::StuckBit, value(1), value(2) & 0xFF};
    } else if (kind == "protected" || kind == "locked") {
        line.expectArgs(2, 2);
        fault = {kind == "locked" ? NorFaultKind::Locked : NorFaultKind::Protected, value(1), 0};
    } else if (kind == "dq5-timeout" || kind == "endless-toggle") {
        line.expectArgs(1, 1);
        fault.kind = kind == "dq5-timeout" ? NorFaultKind::Dq5Timeout : NorFaultKind::EndlessToggle;
    } else if (kind == "busy") {
        line.expectArgs(2, 2);
        fault = {NorFaultKind::Busy, 0, value(1)};
    } else {
        line.fail("unknown flash fault '" + kind +
                  "' (stuck-bit, protected, locked, dq5-timeout, endless-toggle, busy)");
    }
    return fault;
}

// `i2c-fault KIND [VALUES] [skip=N] [count=N|always]`; a fault strikes every time unless counted.
I2cFault parseI2cFault(const Line& line) {
    static const std::map<std::string, std::pair<I2cFaultKind, size_t>> kinds{
        {"nack", {I2cFaultKind::Nack, 0}},          {"write-protect", {I2cFaultKind::WriteProtect, 0}},
        {"flip", {I2cFaultKind::FlipByte, 2}},      {"reset-stuck", {I2cFaultKind::ResetStuck, 0}},
        {"busy-stuck", {I2cFaultKind::BusyStuck, 0}}, {"level-over", {I2cFaultKind::LevelOver, 0}},
    };
    const auto kind = kinds.find(line.arg(0));
    if (kind == kinds.end())
        line.fail("unknown i2c fault '" + line.arg(0) + "'");
    I2cFault fault;
    fault.kind = kind->second.first;
    size_t next = 1;
    if (kind->second.second == 2) {
        fault.offset = static_cast<uint32_t>(parseNumber(line, line.arg(1), 0xFFFF));
        fault.value = static_cast<uint32_t>(parseNumber(line, line.arg(2), 0xFF));
        next = 3;
    }
    for (; next < line.args.size(); ++next) {
        const std::string& option = line.args[next];
        if (option.rfind("skip=", 0) == 0)
            fault.skip = static_cast<uint32_t>(parseNumber(line, option.substr(5), UINT32_MAX));
        else if (option == "count=always")
            fault.count = 0;
        else if (option.rfind("count=", 0) == 0)
            fault.count = static_cast<uint32_t>(parseNumber(line, option.substr(6), UINT32_MAX));
        else
            line.fail("unknown fault option '" + option + "'");
    }
    return fault;
}

uint64_t defaultSasAddress(int number) {
    return 0x500A0B0C00000000ull + (static_cast<uint64_t>(number) << 8);
}

DeviceBlock startDevice(const Line& line) {
    line.expectArgs(2, 2);
    int number = -1;
    const std::string& name = line.arg(0);
    if (name.rfind("sg", 0) != 0 || name.size() < 3)
        line.fail("device name must be sgN: '" + name + "'");
    number = static_cast<int>(parseNumber(line, name.substr(2), 1u << 20));
    DeviceBlock block;
    block.line = line.number;
    block.device = std::make_unique<Device>();
    Device& device = *block.device;
    device.number = number;
    device.identity.target = number;
    const std::string& kind = line.arg(1);
    ScsiIdentity& id = device.identity;
    if (const auto family = familyFromName(kind)) {
        block.family = family;
        device.kind = DeviceKind::Expander;
        id.peripheralType = 0x0D;
        id.vendor = kind == "ostrel" ? "OSTREL" : kind == "quenza" ? "QUENZA" : "PALX";
        id.product = "SAS EXPANDER";
        id.revision = "0100";
        id.targetPortAddress = defaultSasAddress(number);
        id.logicalUnitAddress = defaultSasAddress(number) + 1;
        block.product = *family == Family::Ostrel ? 0x220 : *family == Family::Quenza ? 0x230 : 0x211;
        block.header.signature = familyTraits(*family).signature;
        block.ethernet.ip = {10, 0, 0, static_cast<uint8_t>(10 + number)};
        block.ethernet.mask = {255, 255, 255, 0};
        block.ethernet.gateway = {10, 0, 0, 1};
        block.ethernet.mac = {0x00, 0x10, 0x20, 0x30, 0x40, static_cast<uint8_t>(number)};
    } else if (kind == "disk") {
        device.kind = DeviceKind::Disk;
        id.peripheralType = 0x00;
        id.vendor = "SIMDISK";
        id.product = "VIRTUAL DISK";
        id.revision = "1.00";
        id.logicalUnitAddress = 0x5000C50000000000ull + static_cast<uint64_t>(number);
    } else if (kind == "enclosure") {
        device.kind = DeviceKind::Enclosure;
        id.peripheralType = 0x0D;
        id.vendor = "GENERIC";
        id.product = "SES DEVICE";
        id.revision = "0001";
        id.logicalUnitAddress = 0x5000D10000000000ull + static_cast<uint64_t>(number);
    } else {
        line.fail("unknown device kind '" + kind + "' (ostrel, quenza, palx, disk, enclosure)");
    }
    return block;
}

void requireExpander(const Line& line, const DeviceBlock& block) {
    if (!block.family)
        line.fail("'" + line.key + "' applies only to expanders");
}

void applyDeviceKey(const Line& line, DeviceBlock& block) {
    Device& device = *block.device;
    ScsiIdentity& id = device.identity;
    const std::string& key = line.key;
    if (key == "node") {
        line.expectArgs(1, 1);
        if (line.arg(0) != "absent" && line.arg(0) != "present")
            line.fail("node is present or absent");
        device.hasNode = line.arg(0) == "present";
    } else if (key == "scsi-type") {
        line.expectArgs(1, 1);
        id.peripheralType = static_cast<uint8_t>(parseNumber(line, line.arg(0), 0x1F));
    } else if (key == "scsi-address") {
        line.expectArgs(4, 4);
        id.host = static_cast<int>(parseNumber(line, line.arg(0), INT32_MAX));
        id.channel = static_cast<int>(parseNumber(line, line.arg(1), INT32_MAX));
        id.target = static_cast<int>(parseNumber(line, line.arg(2), INT32_MAX));
        id.lun = static_cast<int>(parseNumber(line, line.arg(3), INT32_MAX));
    } else if (key == "inquiry-vendor") {
        id.vendor = line.rest;
    } else if (key == "inquiry-product") {
        id.product = line.rest;
    } else if (key == "inquiry-revision") {
        id.revision = line.rest;
    } else if (key == "sas-address") {
        line.expectArgs(1, 1);
        id.targetPortAddress = parseSasAddress(line, line.arg(0));
    } else if (key == "lu-address") {
        line.expectArgs(1, 1);
        if (line.arg(0) == "none")
            id.logicalUnitAddress.reset();
        else
            id.logicalUnitAddress = parseSasAddress(line, line.arg(0));
    } else if (key == "vpd") {
        id.vpdOverrides[static_cast<uint8_t>(parseNumber(line, line.arg(0), 0xFF))] = parseHexBytes(line, 1);
    } else if (key == "fault") {
        device.faults.push_back(parseFault(line));
    } else if (key == "product") {
        requireExpander(line, block);
        line.expectArgs(1, 1);
        block.product = static_cast<uint16_t>(parseNumber(line, line.arg(0), 0xFFFF));
    } else if (key == "revision") {
        requireExpander(line, block);
        line.expectArgs(1, 1);
        block.revision = static_cast<uint8_t>(parseNumber(line, line.arg(0), 0xFF));
    } else if (key == "board-name") {
        requireExpander(line, block);
        block.boardName = line.rest;
    } else if (key == "ip" || key == "mask" || key == "gateway") {
        requireExpander(line, block);
        line.expectArgs(1, 1);
        auto& field = key == "ip"     ? block.ethernet.ip
                      : key == "mask" ? block.ethernet.mask
                                      : block.ethernet.gateway;
        field = parseSeparated<4>(line, line.arg(0), '.', 10);
    } else if (key == "mac") {
        requireExpander(line, block);
        line.expectArgs(1, 1);
        block.ethernet.mac = parseSeparated<6>(line, line.arg(0), ':', 16);
    } else if (key == "dhcp") {
        requireExpander(line, block);
        line.expectArgs(1, 1);
        block.ethernet.dhcp = parseOnOff(line, line.arg(0));
    } else if (key == "dhcp-address") {
        requireExpander(line, block);
        block.dhcpAddress = line.rest;
    } else if (key == "management-address") {
        requireExpander(line, block);
        block.managementAddress = line.rest;
    } else if (key == "page" || key == "page-raw" || key == "no-page") {
        requireExpander(line, block);
        const auto pageId = static_cast<uint16_t>(parseNumber(line, line.arg(0), 0xFFFF));
        const auto op = key == "page"       ? PageEdit::Op::Data
                        : key == "page-raw" ? PageEdit::Op::Raw
                                            : PageEdit::Op::Remove;
        if (op == PageEdit::Op::Remove)
            line.expectArgs(1, 1);
        block.pages.push_back(
            {op, pageId, op == PageEdit::Op::Remove ? std::vector<uint8_t>{} : parseHexBytes(line, 1)});
    } else if (key == "register") {
        requireExpander(line, block);
        if (line.args.size() != 2 && !(line.args.size() == 4 && line.args[2] == "writable"))
            line.fail("register ADDRESS VALUE [writable MASK]");
        RegisterSetting setting{static_cast<uint32_t>(parseNumber(line, line.arg(0), UINT32_MAX)),
                                static_cast<uint32_t>(parseNumber(line, line.arg(1), UINT32_MAX)),
                                std::nullopt};
        if (line.args.size() == 4)
            setting.writable = static_cast<uint32_t>(parseNumber(line, line.arg(3), UINT32_MAX));
        block.registers.push_back(setting);
    } else if (key == "memory") {
        requireExpander(line, block);
        block.memory.push_back(
            {static_cast<uint32_t>(parseNumber(line, line.arg(0), UINT32_MAX)), 0, parseHexBytes(line, 1)});
    } else if (key == "firmware") {
        requireExpander(line, block);
        line.expectArgs(1, 1);
        const std::string& what = line.arg(0);
        block.blankFlash = what == "blank";
        if (const auto family = familyFromName(what)) {
            block.header.signature = familyTraits(*family).signature;
        } else if (!block.blankFlash) {
            std::stringstream in(what);
            std::string word;
            for (size_t i = 0; i < 3; ++i) {
                if (!std::getline(in, word, ','))
                    line.fail("firmware is a family, blank, or three words W1,W2,W3");
                block.header.signature[i] = static_cast<uint32_t>(parseNumber(line, word, UINT32_MAX));
            }
        }
    } else if (key == "firmware-version") {
        requireExpander(line, block);
        line.expectArgs(1, 1);
        const auto parts = parseSeparated<4>(line, line.arg(0), '.', 10);
        block.header.version =
            (static_cast<uint32_t>(parts[0]) << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
    } else if (key == "firmware-identity" || key == "firmware-second-identity" || key == "image-size" ||
               key == "image-length" || key == "flash-table-offset") {
        requireExpander(line, block);
        line.expectArgs(1, 1);
        const auto value = static_cast<uint32_t>(parseNumber(line, line.arg(0), UINT32_MAX));
        if (key == "firmware-identity")
            block.header.identity = value;
        else if (key == "firmware-second-identity")
            block.header.secondIdentity = static_cast<uint16_t>(value);
        else if (key == "image-size")
            block.header.imageSize = value;
        else if (key == "image-length")
            block.header.imageLength = value;
        else
            block.header.flashTableOffset = value;
    } else if (key == "partition") {
        requireExpander(line, block);
        line.expectArgs(3, 3);
        if (!block.table)
            block.table.emplace();
        block.table->push_back({static_cast<uint8_t>(parseNumber(line, line.arg(0), 0xFF)),
                                static_cast<uint32_t>(parseNumber(line, line.arg(2), UINT32_MAX)),
                                static_cast<uint32_t>(parseNumber(line, line.arg(1), UINT32_MAX))});
    } else if (key == "flash") {
        requireExpander(line, block);
        ByteWrite write{static_cast<uint32_t>(parseNumber(line, line.arg(0), UINT32_MAX)), 0,
                        parseHexBytes(line, 1)};
        if (uint64_t{write.where} + write.bytes.size() > familyTraits(*block.family).flashSize)
            line.fail("flash bytes beyond the end of the flash");
        block.flash.push_back(std::move(write));
    } else if (key == "buffer-size") {
        requireExpander(line, block);
        block.bufferSizes.push_back({static_cast<uint8_t>(parseNumber(line, line.arg(0), 0xFF)),
                                     static_cast<uint32_t>(parseNumber(line, line.arg(1), 0xFFFFFF))});
    } else if (key == "flash-file" || key == "buffer-file") {
        // A file's bytes into the flash or into a buffer, for images too large to write out as hex.
        requireExpander(line, block);
        const bool flash = key == "flash-file";
        line.expectArgs(flash ? 2 : 3, flash ? 2 : 3);
        std::ifstream in(line.arg(flash ? 1 : 2), std::ios::binary);
        if (!in)
            line.fail("cannot read '" + line.arg(flash ? 1 : 2) + "'");
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (flash) {
            ByteWrite write{static_cast<uint32_t>(parseNumber(line, line.arg(0), UINT32_MAX)), 0,
                            std::move(bytes)};
            if (uint64_t{write.where} + write.bytes.size() > familyTraits(*block.family).flashSize)
                line.fail("flash bytes beyond the end of the flash");
            block.flash.push_back(std::move(write));
        } else {
            block.buffers.push_back({static_cast<uint32_t>(parseNumber(line, line.arg(1), UINT32_MAX)),
                                     static_cast<uint8_t>(parseNumber(line, line.arg(0), 0xFF)),
                                     std::move(bytes)});
        }
    } else if (key == "flash-part") {
        requireExpander(line, block);
        if (line.args.size() != 1 && !(line.args.size() == 3 && line.args[1] == "at"))
            line.fail("flash-part NAME [at OFFSET]");
        const NorPart* part = findNorPart(line.arg(0));
        if (part == nullptr)
            line.fail("unknown flash part '" + line.arg(0) + "'");
        const uint32_t at =
            line.args.size() == 3 ? static_cast<uint32_t>(parseNumber(line, line.arg(2), UINT32_MAX)) : 0;
        if (uint64_t{at} + part->size > familyTraits(*block.family).flashSize)
            line.fail("flash part beyond the end of the flash");
        block.parts.push_back({*part, at});
    } else if (key == "flash-fault") {
        requireExpander(line, block);
        block.norFaults.push_back({block.parts.empty() ? 0 : block.parts.size() - 1, parseNorFault(line)});
    } else if (key == "i2c-fault") {
        requireExpander(line, block);
        block.i2cFaults.push_back(parseI2cFault(line));
    } else if (key == "seeprom") {
        requireExpander(line, block);
        ByteWrite write{static_cast<uint32_t>(parseNumber(line, line.arg(0), 0xFFFF)), 0, parseHexBytes(line, 1)};
        if (write.where + write.bytes.size() > Seeprom::kSize)
            line.fail("seeprom bytes beyond its end");
        block.seeprom.push_back(std::move(write));
    } else if (key == "buffer") {
        requireExpander(line, block);
        block.buffers.push_back({static_cast<uint32_t>(parseNumber(line, line.arg(1), UINT32_MAX)),
                                 static_cast<uint8_t>(parseNumber(line, line.arg(0), 0xFF)),
                                 parseHexBytes(line, 2)});
    } else if (applyTopologyKey(line, block.topology)) {
        requireExpander(line, block);
    } else {
        line.fail("unknown key '" + key + "'");
    }
}

std::unique_ptr<Device> buildDevice(DeviceBlock& block, const std::string& source) {
    std::unique_ptr<Device> device = std::move(block.device);
    if (!block.family)
        return device;
    auto fail = [&](const std::string& message) {
        throw ScenarioError(source + ":" + std::to_string(block.line) + ": " + message);
    };
    auto expander = std::make_unique<Expander>(*block.family);
    expander->setIdentity(device->identity.targetPortAddress.value_or(0), block.product, block.revision);
    if (!block.blankFlash) {
        expander->writeFirmwareHeader(block.header);
        if (*block.family != Family::Palx) {
            const std::vector<FlashEntry> defaults{
                {0, 0x100000, 0}, {5, 0x100000, 0x100000}, {9, 0x80000, 0x200000}};
            expander->writeFlashTable(block.header.flashTableOffset, block.table.value_or(defaults));
        }
    }
    for (const ByteWrite& write : block.flash)
        expander->flash().write(write.where, write.bytes);
    if (!block.parts.empty())
        expander->setFlashParts(block.parts);
    for (const auto& [index, fault] : block.norFaults)
        expander->norBank().chips().at(index)->addFault(fault);
    for (const I2cFault& fault : block.i2cFaults)
        expander->i2c().addFault(fault);
    for (const ByteWrite& write : block.seeprom)
        std::copy(write.bytes.begin(), write.bytes.end(), expander->seeprom().bytes().begin() + write.where);
    if (*block.family != Family::Palx) {
        expander->setEthernet(block.ethernet);
        expander->setBoardName(block.boardName);
    }
    expander->setDhcpAddress(block.dhcpAddress);
    expander->setManagementAddress(block.managementAddress);
    for (const PageEdit& edit : block.pages) {
        if (edit.op == PageEdit::Op::Data)
            expander->setPageData(edit.id, edit.bytes);
        else if (edit.op == PageEdit::Op::Raw)
            expander->setPageRaw(edit.id, edit.bytes);
        else
            expander->removePage(edit.id);
    }
    expander->topology() = block.topology;
    expander->installTopology();
    for (const RegisterSetting& setting : block.registers) {
        Register* reg = expander->space().findRegister(setting.address);
        if (reg == nullptr)
            reg = &expander->space().defineRegister(setting.address, "scenario", 0, 0xFFFFFFFFu);
        reg->value = setting.value;
        if (setting.writable)
            reg->writableMask = *setting.writable;
    }
    for (const ByteWrite& write : block.memory)
        expander->space().write(write.where, write.bytes);
    for (const auto& [id, size] : block.bufferSizes)
        if (!expander->setDesignatedBufferSize(id, size))
            fail("no designated buffer " + std::to_string(id));
    for (const ByteWrite& write : block.buffers) {
        const auto found = expander->designatedBuffers().find(write.buffer);
        if (found == expander->designatedBuffers().end())
            fail("no designated buffer " + std::to_string(write.buffer));
        if (expander->writeBuffer(write.buffer, write.where, write.bytes) != Outcome::Ok)
            fail("buffer bytes do not fit");
    }
    device->expander = std::move(expander);
    return device;
}

} // namespace

std::unique_ptr<Enclosure> parseScenario(const std::string& text, const std::string& source) {
    auto enclosure = std::make_unique<Enclosure>();
    std::optional<DeviceBlock> current;
    auto finish = [&] {
        if (!current)
            return;
        enclosure->devices.push_back(buildDevice(*current, source));
        current.reset();
    };
    std::istringstream in(text);
    std::string raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        if (const auto hash = raw.find('#'); hash != std::string::npos)
            raw.erase(hash);
        const std::string content = trim(raw);
        if (content.empty())
            continue;
        const auto space = content.find_first_of(" \t");
        Line line{source,
                  number,
                  content.substr(0, space),
                  {},
                  space == std::string::npos ? "" : trim(content.substr(space))};
        line.args = splitWords(line.rest);
        if (line.key == "device") {
            finish();
            current = startDevice(line);
            const std::string name = current->device->name();
            if (enclosure->find(current->device->number) != nullptr ||
                std::find(enclosure->entries.begin(), enclosure->entries.end(), name) !=
                    enclosure->entries.end())
                line.fail("device " + name + " declared twice");
            enclosure->entries.push_back(name);
        } else if (line.key == "sysfs") {
            line.expectArgs(1, 1);
            const std::string& state = line.arg(0);
            if (state == "present")
                enclosure->sysfs = SysfsState::Present;
            else if (state == "absent")
                enclosure->sysfs = SysfsState::Absent;
            else if (state == "unreadable")
                enclosure->sysfs = SysfsState::Unreadable;
            else
                line.fail("sysfs is present, absent or unreadable");
        } else if (line.key == "entry") {
            line.expectArgs(1, 1);
            enclosure->entries.push_back(line.arg(0));
        } else if (line.key == "command-latency") {
            line.expectArgs(1, 1);
            enclosure->commandLatencyUs = static_cast<uint32_t>(parseNumber(line, line.arg(0), 10000000));
        } else if (current) {
            applyDeviceKey(line, *current);
        } else {
            line.fail("'" + line.key + "' outside a device block");
        }
    }
    finish();
    return enclosure;
}

std::unique_ptr<Enclosure> loadScenarioFile(const std::string& path) {
    std::ifstream file(path);
    if (!file)
        throw ScenarioError(path + ": cannot open the scenario: " + std::strerror(errno));
    std::stringstream text;
    text << file.rdbuf();
    return parseScenario(text.str(), path);
}

} // namespace zsim
