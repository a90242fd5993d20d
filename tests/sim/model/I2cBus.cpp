#include "model/I2cBus.h"

#include <cstdio>

namespace zsim {

namespace {

constexpr uint32_t kRegAck = 0x04;
constexpr uint32_t kRegReset = 0x24;
constexpr uint32_t kRegControl = 0x28;
constexpr uint32_t kRegReceiveCount = 0x2C;
constexpr uint32_t kRegTransmitCount = 0x30;
constexpr uint32_t kRegAddress = 0x34;
constexpr uint32_t kRegFifo = 0x3C;
constexpr uint32_t kRegTransmitLevel = 0x40;
constexpr uint32_t kRegReceiveLevel = 0x44;
constexpr uint32_t kRegStatus = 0x4C;

constexpr uint32_t kControlBusy = 0x08;
constexpr uint32_t kStatusDone = 0x400;
constexpr uint32_t kStatusNack = 0x800;
constexpr size_t kFifoDepth = 8;
constexpr uint64_t kResetUs = 1000;
constexpr uint8_t kSeepromAddress = 0x50;
constexpr uint32_t kLevelOverValue = 12;

} // namespace

bool Seeprom::startWrite(uint64_t now) {
    if (now < busyUntil_)
        return false;
    offsetBytes_ = 0;
    pending_.clear();
    return true;
}

void Seeprom::writeByte(uint8_t value) {
    if (offsetBytes_ == 0) {
        pointer_ = static_cast<uint32_t>(value) << 8;
        ++offsetBytes_;
    } else if (offsetBytes_ == 1) {
        pointer_ |= value;
        pendingAt_ = pointer_;
        ++offsetBytes_;
    } else {
        pending_.push_back(value);
    }
}

void Seeprom::stop(uint64_t now) {
    if (pending_.empty())
        return;
    // A page write wraps inside its 32-byte page.
    if (!writeProtect)
        for (size_t i = 0; i < pending_.size(); ++i) {
            const uint32_t at =
                (pendingAt_ & ~(kPage - 1)) | ((pendingAt_ + static_cast<uint32_t>(i)) & (kPage - 1));
            bytes_[at & (kSize - 1)] = pending_[i];
        }
    pointer_ = (pendingAt_ + static_cast<uint32_t>(pending_.size())) & (kSize - 1);
    pending_.clear();
    busyUntil_ = now + kWriteCycleUs;
    ++writeCycles_;
}

bool Seeprom::startRead(uint64_t now) {
    return now >= busyUntil_;
}

uint8_t Seeprom::readByte() {
    uint8_t value = bytes_[pointer_];
    if (flipMask != 0 && pointer_ == flipOffset)
        value ^= flipMask;
    pointer_ = (pointer_ + 1) & (kSize - 1);
    return value;
}

void I2cController::addFault(const I2cFault& fault) {
    faults_.push_back(fault);
    if (fault.kind == I2cFaultKind::WriteProtect)
        seeprom_.writeProtect = true;
    if (fault.kind == I2cFaultKind::FlipByte) {
        seeprom_.flipOffset = fault.offset;
        seeprom_.flipMask = static_cast<uint8_t>(fault.value);
    }
}

bool I2cController::strikes(I2cFaultKind kind) {
    for (I2cFault& f : faults_) {
        if (f.kind != kind)
            continue;
        const uint32_t seen = f.seen++;
        if (seen < f.skip || (f.count != 0 && f.struck >= f.count))
            continue;
        ++f.struck;
        return true;
    }
    return false;
}

bool I2cController::has(I2cFaultKind kind) const {
    for (const I2cFault& f : faults_)
        if (f.kind == kind)
            return true;
    return false;
}

uint32_t I2cController::registerWord(uint32_t offset) const {
    return regs_[(offset & (kI2cControllerSize - 1)) / 4];
}

void I2cController::start() {
    ++transfers_;
    active_ = true;
    busy_ = true;
    carried_.clear();
    const uint8_t address = static_cast<uint8_t>(regs_[kRegAddress / 4]);
    reading_ = (address & 1) != 0;
    toSend_ = regs_[kRegTransmitCount / 4];
    toReceive_ = regs_[kRegReceiveCount / 4];
    regs_[kRegStatus / 4] = 0;
    rx_.clear();
    bool ack = (address >> 1) == kSeepromAddress;
    if (ack)
        ack = reading_ ? seeprom_.startRead(now_) : seeprom_.startWrite(now_);
    if (ack && strikes(I2cFaultKind::Nack))
        ack = false;
    if (!ack) {
        finish(true);
        return;
    }
    run();
}

void I2cController::finish(bool nack) {
    active_ = false;
    regs_[kRegStatus / 4] = nack ? kStatusNack : kStatusDone;
    if (!reading_ && !nack)
        seeprom_.stop(now_);
    if (nack)
        tx_.clear(); // the controller drops what was queued for a transfer that ended
    if (sink_) {
        std::string hex;
        char two[4];
        for (uint8_t b : carried_) {
            std::snprintf(two, sizeof two, "%02X", b);
            hex += two;
        }
        char text[96];
        std::snprintf(text, sizeof text, "i2c op=%s addr=0x%02X ack=%d bytes=", reading_ ? "read" : "write",
                      regs_[kRegAddress / 4] & 0xFF, nack ? 0 : 1);
        sink_(text + hex);
    }
}

void I2cController::run() {
    if (!active_)
        return;
    if (!reading_) {
        while (!tx_.empty() && toSend_ > 0) {
            carried_.push_back(tx_.front());
            seeprom_.writeByte(tx_.front());
            tx_.pop_front();
            --toSend_;
        }
        if (toSend_ == 0)
            finish(false);
        return;
    }
    while (rx_.size() < kFifoDepth && toReceive_ > 0) {
        const uint8_t b = seeprom_.readByte();
        carried_.push_back(b);
        rx_.push_back(b);
        --toReceive_;
    }
    if (toReceive_ == 0)
        finish(false);
}

uint32_t I2cController::readWord(uint32_t offset) {
    switch (offset) {
    case kRegReset:
        if (resetting_ && now_ >= resetUntil_ && !strikes(I2cFaultKind::ResetStuck)) {
            resetting_ = false;
            regs_[kRegReset / 4] &= ~1u;
        }
        return regs_[kRegReset / 4];
    case kRegControl:
        return (regs_[kRegControl / 4] & ~kControlBusy) | (busy_ ? kControlBusy : 0);
    case kRegFifo: {
        uint32_t value = 0;
        if (!rx_.empty()) {
            value = rx_.front();
            rx_.pop_front();
        }
        run();
        return value;
    }
    case kRegTransmitLevel:
        run();
        return static_cast<uint32_t>(tx_.size());
    case kRegReceiveLevel:
        run();
        if (!rx_.empty() && strikes(I2cFaultKind::LevelOver))
            return kLevelOverValue;
        return static_cast<uint32_t>(rx_.size());
    case kRegStatus:
        run();
        return regs_[kRegStatus / 4];
    default:
        return regs_[offset / 4];
    }
}

void I2cController::writeWord(uint32_t offset, uint32_t value) {
    switch (offset) {
    case kRegReset:
        regs_[kRegReset / 4] = value;
        if ((value & 1) != 0) {
            resetting_ = true;
            resetUntil_ = now_ + kResetUs;
            active_ = false;
            busy_ = false;
            tx_.clear();
            rx_.clear();
        }
        return;
    case kRegControl: {
        const uint32_t before = regs_[kRegControl / 4];
        regs_[kRegControl / 4] = value;
        if (value == 9 && before == 1)
            start();
        return;
    }
    case kRegFifo:
        if (tx_.size() < kFifoDepth && (active_ || regs_[kRegStatus / 4] == 0))
            tx_.push_back(static_cast<uint8_t>(value));
        run();
        return;
    case kRegAck:
        regs_[kRegAck / 4] = value;
        if (value == 1) {
            regs_[kRegStatus / 4] = 0;
            if (!active_ && !strikes(I2cFaultKind::BusyStuck))
                busy_ = false;
        }
        return;
    default:
        regs_[offset / 4] = value;
        return;
    }
}

// Each transfer is one register access: the word at the aligned offset.
void I2cController::read(uint32_t offset, std::span<uint8_t> out) {
    const uint32_t word = readWord(offset & ~3u & (kI2cControllerSize - 1));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = i < 4 ? static_cast<uint8_t>(word >> (8 * i)) : 0;
}

void I2cController::write(uint32_t offset, std::span<const uint8_t> in) {
    uint32_t word = 0;
    for (size_t i = 0; i < in.size() && i < 4; ++i)
        word |= static_cast<uint32_t>(in[i]) << (8 * i);
    writeWord(offset & ~3u & (kI2cControllerSize - 1), word);
}

} // namespace zsim
