#include "scsi/ScsiTarget.h"

#include <algorithm>
#include <cstring>

namespace zsim {

namespace {

constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kOpReadBuffer = 0x3C;
constexpr uint8_t kOpReportLuns = 0xA0;

constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
constexpr uint8_t kAscInvalidFieldInParameters = 0x26;
constexpr uint8_t kAscPowerOnReset = 0x29;

constexpr uint8_t kDidError = 0x07;
constexpr uint8_t kDriverError = 0x04;
constexpr uint8_t kDriverSense = 0x08;

constexpr uint8_t kBufferConfigPage = 0xE6;
constexpr uint8_t kBufferReset = 0xE9;

uint32_t bigEndian(std::span<const uint8_t> bytes, size_t at, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << 8) | bytes[at + i];
    return value;
}

bool isRegisterBuffer(uint8_t id) {
    return id >= 0xC0 && id <= 0xDF;
}

ScsiReply checkCondition(uint8_t key, uint8_t asc, uint8_t ascq = 0) {
    ScsiReply reply;
    reply.status = kStatusCheckCondition;
    reply.driverStatus = kDriverSense;
    reply.sense.assign(18, 0);
    reply.sense[0] = 0x70; // current error, fixed format
    reply.sense[2] = key;
    reply.sense[7] = 10; // additional sense length
    reply.sense[12] = asc;
    reply.sense[13] = ascq;
    return reply;
}

ScsiReply invalidField() {
    return checkCondition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
}

ScsiReply fromOutcome(Outcome outcome) {
    switch (outcome) {
    case Outcome::Ok:
        return {};
    case Outcome::InvalidParameter:
        return checkCondition(kSenseIllegalRequest, kAscInvalidFieldInParameters);
    case Outcome::InvalidField:
        break;
    }
    return invalidField();
}

void putText(std::vector<uint8_t>& out, size_t at, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i)
        out[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

void appendNaa(std::vector<uint8_t>& page, uint8_t protocolAndCodeSet, uint8_t flags, uint64_t address) {
    page.insert(page.end(), {protocolAndCodeSet, flags, 0x00, 0x08});
    for (int shift = 56; shift >= 0; shift -= 8)
        page.push_back(static_cast<uint8_t>(address >> shift));
}

void setPageLength(std::vector<uint8_t>& page) {
    const size_t length = page.size() - 4;
    page[2] = static_cast<uint8_t>(length >> 8);
    page[3] = static_cast<uint8_t>(length);
}

std::vector<uint8_t> standardInquiry(const Device& device) {
    std::vector<uint8_t> data(36, 0);
    data[0] = device.identity.peripheralType;
    data[2] = 0x06; // SPC-4
    data[3] = 0x02; // response data format
    data[4] = static_cast<uint8_t>(data.size() - 5);
    data[6] = device.identity.peripheralType == 0x0D ? 0x40 : 0x00; // EncServ
    putText(data, 8, 8, device.identity.vendor);
    putText(data, 16, 16, device.identity.product);
    putText(data, 32, 4, device.identity.revision);
    return data;
}

std::optional<std::vector<uint8_t>> vpdPage(const Device& device, uint8_t code) {
    const ScsiIdentity& id = device.identity;
    if (const auto found = id.vpdOverrides.find(code); found != id.vpdOverrides.end())
        return found->second;
    std::vector<uint8_t> page{id.peripheralType, code, 0, 0};
    const bool management = device.expander != nullptr;
    switch (code) {
    case 0x00: {
        std::vector<uint8_t> codes{0x00, 0x83};
        if (management)
            codes.push_back(0x85);
        for (const auto& [other, bytes] : id.vpdOverrides)
            codes.push_back(other);
        std::sort(codes.begin(), codes.end());
        codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
        page.insert(page.end(), codes.begin(), codes.end());
        break;
    }
    case 0x83:
        if (id.logicalUnitAddress) // binary code set, association logical unit, NAA
            appendNaa(page, 0x01, 0x03, *id.logicalUnitAddress);
        if (id.targetPortAddress) // SAS protocol, binary; PIV, association target port, NAA
            appendNaa(page, 0x61, 0x93, *id.targetPortAddress);
        break;
    case 0x85: {
        if (!management)
            return std::nullopt;
        // One network services descriptor: association logical unit, storage configuration service,
        // followed by the NUL-terminated address padded to a multiple of four.
        const std::string address = device.expander->managementAddress();
        const size_t length = (address.size() + 1 + 3) / 4 * 4;
        page.insert(page.end(),
                    {0x01, 0x00, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
        const size_t at = page.size();
        page.resize(at + length, 0);
        std::memcpy(&page[at], address.data(), address.size());
        break;
    }
    default:
        return std::nullopt;
    }
    setPageLength(page);
    return page;
}

ScsiReply inquiry(const Device& device, std::span<const uint8_t> cdb) {
    if (cdb.size() < 6 || (cdb[1] & 0x02) != 0)
        return invalidField();
    const bool evpd = (cdb[1] & 0x01) != 0;
    ScsiReply reply;
    if (!evpd) {
        if (cdb[2] != 0)
            return invalidField();
        reply.dataIn = standardInquiry(device);
    } else {
        auto page = vpdPage(device, cdb[2]);
        if (!page)
            return invalidField();
        reply.dataIn = std::move(*page);
    }
    const uint32_t allocation = bigEndian(cdb, 3, 2);
    if (reply.dataIn.size() > allocation)
        reply.dataIn.resize(allocation);
    return reply;
}

ScsiReply readBuffer(const Expander& expander, const BufferCommand& command) {
    ScsiReply reply;
    Outcome outcome = Outcome::Ok;
    if (command.mode == 3) {
        uint32_t capacity = 0;
        outcome = expander.bufferCapacity(command.bufferId, capacity);
        reply.dataIn = {0x00, static_cast<uint8_t>(capacity >> 16), static_cast<uint8_t>(capacity >> 8),
                        static_cast<uint8_t>(capacity)};
        if (reply.dataIn.size() > command.length)
            reply.dataIn.resize(command.length);
    } else if (command.mode == 1 && command.bufferId == kBufferConfigPage) {
        outcome = expander.readPage(static_cast<uint16_t>(command.offset), command.length, reply.dataIn);
    } else if (command.mode == 1 && isRegisterBuffer(command.bufferId)) {
        outcome = expander.readMemory(command.offset, command.length, reply.dataIn);
    } else if (command.mode == 2) {
        outcome = expander.readBuffer(command.bufferId, command.offset, command.length, reply.dataIn);
    } else {
        outcome = Outcome::InvalidField;
    }
    if (outcome != Outcome::Ok)
        return fromOutcome(outcome);
    return reply;
}

ScsiReply writeBuffer(Expander& expander, const BufferCommand& command, std::span<const uint8_t> data) {
    Outcome outcome = Outcome::InvalidField;
    if (command.mode == 1 && command.bufferId == kBufferConfigPage)
        outcome = expander.writePage(static_cast<uint16_t>(command.offset), data);
    else if (command.mode == 1 && command.bufferId == kBufferReset)
        outcome = expander.resetControl(command.offset, data);
    else if (command.mode == 1 && isRegisterBuffer(command.bufferId))
        outcome = expander.writeMemory(command.offset, data);
    else if (command.mode == 2)
        outcome = expander.writeBuffer(command.bufferId, command.offset, data);
    return fromOutcome(outcome);
}

bool matches(const FaultMatch& match, std::span<const uint8_t> cdb, bool dataModeOnly) {
    if (cdb.empty())
        return false;
    switch (match.command) {
    case FaultMatch::Command::Any:
        return true;
    case FaultMatch::Command::Opcode:
        return cdb[0] == match.opcode;
    case FaultMatch::Command::StandardInquiry:
        return cdb[0] == kOpInquiry && cdb.size() > 1 && (cdb[1] & 0x01) == 0;
    case FaultMatch::Command::Inquiry:
        if (cdb[0] != kOpInquiry || cdb.size() < 3)
            return false;
        return !match.selector || ((cdb[1] & 0x01) != 0 && cdb[2] == *match.selector);
    case FaultMatch::Command::ReadBuffer:
    case FaultMatch::Command::WriteBuffer: {
        const uint8_t opcode =
            match.command == FaultMatch::Command::ReadBuffer ? kOpReadBuffer : kOpWriteBuffer;
        if (cdb[0] != opcode)
            return false;
        if (!match.selector)
            return true;
        const auto decoded = decodeBufferCdb(cdb, dataModeOnly);
        const uint8_t id = cdb.size() > 2 ? cdb[2] : 0;
        return id == *match.selector && (!match.offset || (decoded && decoded->offset == *match.offset));
    }
    }
    return false;
}

Fault* strikingFault(Device& device, std::span<const uint8_t> cdb) {
    const bool dataModeOnly = device.expander && device.expander->traits().dataModeOnly;
    Fault* striking = nullptr;
    for (Fault& fault : device.faults) {
        if (!matches(fault.match, cdb, dataModeOnly))
            continue;
        ++fault.seen;
        if (striking == nullptr && fault.seen > fault.skip &&
            (fault.count == 0 || fault.struck < fault.count)) {
            ++fault.struck;
            striking = &fault;
        }
    }
    return striking;
}

// Replaces the length field of a reply with a device-supplied value.
void patchLength(ScsiReply& reply, std::span<const uint8_t> cdb, uint32_t value, bool dataModeOnly) {
    std::vector<uint8_t>& data = reply.dataIn;
    if (cdb[0] == kOpInquiry) {
        const bool evpd = cdb.size() > 1 && (cdb[1] & 0x01) != 0;
        if (!evpd && data.size() > 4) {
            data[4] = static_cast<uint8_t>(value);
        } else if (evpd && data.size() >= 4) {
            data[2] = static_cast<uint8_t>(value >> 8);
            data[3] = static_cast<uint8_t>(value);
        }
        return;
    }
    const auto decoded = cdb[0] == kOpReadBuffer ? decodeBufferCdb(cdb, dataModeOnly) : std::nullopt;
    if (!decoded)
        return;
    if (decoded->mode == 1 && decoded->bufferId == kBufferConfigPage && data.size() >= 2) {
        data[0] = static_cast<uint8_t>(value);
        data[1] = static_cast<uint8_t>(value >> 8);
    } else if (decoded->mode == 3 && data.size() >= 4) {
        data[1] = static_cast<uint8_t>(value >> 16);
        data[2] = static_cast<uint8_t>(value >> 8);
        data[3] = static_cast<uint8_t>(value);
    }
}

ScsiReply dispatch(Device& device, const ScsiCommand& command, uint32_t& consumed) {
    const std::span<const uint8_t> cdb = command.cdb;
    consumed = 0;
    switch (cdb[0]) {
    case kOpTestUnitReady:
        return {};
    case kOpRequestSense: {
        ScsiReply reply;
        reply.dataIn.assign(18, 0);
        reply.dataIn[0] = 0x70;
        reply.dataIn[7] = 10;
        if (cdb.size() >= 5 && reply.dataIn.size() > cdb[4])
            reply.dataIn.resize(cdb[4]);
        return reply;
    }
    case kOpInquiry:
        return inquiry(device, cdb);
    case kOpReportLuns: {
        ScsiReply reply;
        reply.dataIn.assign(16, 0);
        reply.dataIn[3] = 8; // one LUN: 0
        const uint32_t allocation = cdb.size() >= 10 ? bigEndian(cdb, 6, 4) : 0;
        if (reply.dataIn.size() > allocation)
            reply.dataIn.resize(allocation);
        return reply;
    }
    case kOpReadBuffer:
    case kOpWriteBuffer: {
        if (!device.expander || cdb.size() < 10)
            return invalidField();
        const auto decoded = decodeBufferCdb(cdb, device.expander->traits().dataModeOnly);
        if (!decoded)
            return invalidField();
        if (!decoded->write)
            return readBuffer(*device.expander, *decoded);
        // The device takes the parameter list length the command names; a host that offers less has
        // not sent the whole list.
        if (command.dataOut.size() < decoded->length)
            return invalidField();
        consumed = decoded->length;
        return writeBuffer(*device.expander, *decoded, command.dataOut.first(decoded->length));
    }
    default:
        return checkCondition(kSenseIllegalRequest, kAscInvalidOpcode);
    }
}

} // namespace

std::optional<BufferCommand> decodeBufferCdb(std::span<const uint8_t> cdb, bool dataModeOnly) {
    if (cdb.size() < 10 || (cdb[0] != kOpReadBuffer && cdb[0] != kOpWriteBuffer))
        return std::nullopt;
    BufferCommand command;
    command.write = cdb[0] == kOpWriteBuffer;
    command.mode = cdb[1] & 0x1F;
    command.bufferId = cdb[2];
    const uint8_t id = command.bufferId;
    const bool special = id == kBufferConfigPage || id == kBufferReset || isRegisterBuffer(id);
    auto wide = [&] {
        command.offset = bigEndian(cdb, 3, 3);
        command.length = bigEndian(cdb, 6, 3);
        return std::optional<BufferCommand>(command);
    };
    if (dataModeOnly)
        return command.mode == 2 ? wide() : std::nullopt;
    switch (command.mode) {
    case 1:
        if (id == kBufferConfigPage) {
            if (cdb[7] != 0 || cdb[8] != 0)
                return std::nullopt;
            command.offset = bigEndian(cdb, 3, 2);
            command.length = bigEndian(cdb, 5, 2);
            return command;
        }
        if (id == kBufferReset)
            return wide();
        if (isRegisterBuffer(id)) {
            command.offset = bigEndian(cdb, 3, 4);
            command.length = bigEndian(cdb, 7, 2);
            return command;
        }
        return std::nullopt;
    case 2:
        return special ? std::nullopt : wide();
    case 3:
        // Descriptor mode: READ BUFFER only, for buffer 0 and the designated range.
        if (command.write || special || !(id == 0 || id >= 0xE0))
            return std::nullopt;
        return wide();
    default:
        return std::nullopt;
    }
}

// A fault that answers instead of the device; nullopt for the faults that alter the device's reply.
static std::optional<ScsiReply> errorReply(const Fault& fault, const ScsiCommand& command) {
    ScsiReply reply;
    switch (fault.kind) {
    case FaultKind::UnitAttention:
        reply = checkCondition(kSenseUnitAttention, kAscPowerOnReset);
        break;
    case FaultKind::IllegalRequest:
        reply = invalidField();
        break;
    case FaultKind::Busy:
        reply.status = kStatusBusy;
        break;
    case FaultKind::TransportError:
        reply.hostStatus = kDidError;
        break;
    case FaultKind::DriverError:
        reply.driverStatus = kDriverError;
        break;
    case FaultKind::IoctlFailure:
        reply.ioctlFailed = true;
        reply.ioctlErrno = static_cast<int>(fault.argument);
        break;
    case FaultKind::ShortTransfer:
    case FaultKind::ZeroTransfer:
    case FaultKind::Length:
    case FaultKind::ExecutedFailure:
        return std::nullopt;
    }
    reply.resid = command.direction == DataDirection::ToDevice ? static_cast<uint32_t>(command.dataOut.size())
                                                               : command.dataInLength;
    return reply;
}

ScsiReply executeScsi(Device& device, const ScsiCommand& command) {
    if (command.cdb.empty())
        return invalidField();
    const bool dataModeOnly = device.expander && device.expander->traits().dataModeOnly;
    const Fault* fault = strikingFault(device, command.cdb);
    if (fault != nullptr)
        if (auto reply = errorReply(*fault, command))
            return *reply;
    uint32_t consumed = 0;
    ScsiReply reply = dispatch(device, command, consumed);
    const bool good = reply.status == kStatusGood && reply.sense.empty();
    uint32_t limit = UINT32_MAX;
    if (fault != nullptr && good) {
        if (fault->kind == FaultKind::ShortTransfer)
            limit = fault->argument;
        else if (fault->kind == FaultKind::ZeroTransfer)
            limit = 0;
        else if (fault->kind == FaultKind::Length)
            patchLength(reply, command.cdb, fault->argument, dataModeOnly);
        else if (fault->kind == FaultKind::ExecutedFailure)
            reply = checkCondition(kSenseAbortedCommand, 0);
    }
    const bool dataIn =
        command.direction == DataDirection::FromDevice || command.direction == DataDirection::Both;
    if (!dataIn)
        reply.dataIn.clear();
    const size_t delivered = std::min<size_t>({reply.dataIn.size(), command.dataInLength, limit});
    reply.dataIn.resize(delivered);
    if (dataIn) {
        reply.resid = command.dataInLength - static_cast<uint32_t>(delivered);
    } else if (command.direction == DataDirection::ToDevice) {
        const uint32_t crossed = std::min(consumed, limit);
        reply.resid = static_cast<uint32_t>(command.dataOut.size()) - crossed;
    }
    return reply;
}

} // namespace zsim
