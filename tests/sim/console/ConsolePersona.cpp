#include "console/ConsolePersona.h"

#include "console/HostFrame.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string_view>

namespace zsim {

namespace {

constexpr const char* kPrompt = "\n cmd >";
constexpr uint8_t kPageStore = 0xE6;
constexpr uint8_t kEraseOfE2 = 0xEB;
constexpr uint32_t kPageOffsetLow = 0x200;
constexpr uint8_t kFirstPartition = 0x80;

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

uint32_t number(const std::string& text, int base) {
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, base));
}

std::string hex(const char* format, uint32_t value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

uint32_t digits(uint32_t value) { return static_cast<uint32_t>(std::to_string(value).size()); }

// "\r\n", the message padded with dots, and the prompt: exactly length bytes (the message cut if need be).
std::string sized(const std::string& message, size_t length) {
    std::string text(length, '.');
    const std::string head = "\r\n" + message;
    const std::string_view prompt(kPrompt);
    size_t body = length;
    if (length >= prompt.size()) {
        body = length - prompt.size();
        std::copy(prompt.begin(), prompt.end(), text.begin() + static_cast<long>(body));
    }
    std::copy_n(head.begin(), std::min(head.size(), body), text.begin());
    return text;
}

} // namespace

ConsolePersona::ConsolePersona(Expander& expander, ConsoleOptions options)
    : expander_(expander), options_(options) {
    AddressSpace& space = expander_.space();
    if (space.findRegister(kP2hRegister) == nullptr)
        space.defineRegister(kP2hRegister, "p2h", '>', 0);
    if (space.findRegister(kUartDivisorLow) == nullptr)
        space.defineRegister(kUartDivisorLow, "uart-dll", 0, 0);
    if (space.findRegister(kUartLineControl) == nullptr) {
        // The divisor latch shows the divisor only while bit 7 of the line control register is set.
        Register& lcr = space.defineRegister(kUartLineControl, "uart-lcr", options_.lineControl, 0xFF);
        const uint8_t divisor = options_.divisor;
        lcr.onWrite = [&space, divisor](uint32_t written) {
            if (Register* dll = space.findRegister(kUartDivisorLow))
                dll->value = (written & 0x80) != 0 ? divisor : 0;
        };
    }
}

void ConsolePersona::begin(uint64_t now) { now_ = now; }

void ConsolePersona::onFrame(const UartFrame& frame) { trace_.push_back("frame " + frameText(frame)); }

std::optional<UartFrame> ConsolePersona::frame() const {
    // A 16550-style UART clocked for 115200 at divisor 1.
    constexpr uint32_t kUartClockBaud = 115200;
    const Register* lcr = expander_.space().findRegister(kUartLineControl);
    if (lcr == nullptr || options_.divisor == 0)
        return std::nullopt;
    const uint32_t control = lcr->value;
    UartFrame frame;
    frame.speed = kUartClockBaud / options_.divisor;
    frame.dataBits = static_cast<int>(control & 0x3) + 5;
    frame.stopBits = (control & 0x4) != 0 ? 2 : 1;
    frame.parity = (control & 0x8) == 0 ? 0 : (control & 0x10) != 0 ? 2 : 1;
    return frame;
}

ConsoleFault* ConsolePersona::strike(const std::string& command) {
    for (ConsoleFault& fault : faults_) {
        if (!fault.command.empty() && fault.command != command)
            continue;
        ++fault.seen;
        if (fault.seen > fault.skip && (fault.count == 0 || fault.struck < fault.count)) {
            ++fault.struck;
            return &fault;
        }
    }
    return nullptr;
}

void ConsolePersona::onBytes(const uint8_t* bytes, size_t count, uint64_t now) {
    now_ = now;
    for (size_t i = 0; i < count && !dropped_; ++i) {
        const uint8_t byte = bytes[i];
        if (peer_) {
            peer_->onBytes(&byte, 1, now);
            pumpTransfer(now);
            continue;
        }
        // Printable characters are echoed; the carriage return's echo is the answer's own "\r\n".
        if (options_.echo && byte >= 0x20 && byte < 0x7F)
            output_.push_back(byte);
        if (byte == '\r') {
            const std::string line = line_;
            line_.clear();
            execute(line, now);
        } else if (byte >= 0x20 && byte < 0x7F && line_.size() < 512) {
            // The line editor keeps printable characters only.
            line_.push_back(static_cast<char>(byte));
        }
    }
}

void ConsolePersona::onTime(uint64_t now) {
    now_ = now;
    if (delayedAt_ && now >= *delayedAt_) {
        output_.insert(output_.end(), delayed_.begin(), delayed_.end());
        delayed_.clear();
        delayedAt_.reset();
    }
    if (peer_) {
        peer_->onTime(now);
        pumpTransfer(now);
    }
}

std::optional<uint64_t> ConsolePersona::nextDeadline() const {
    std::optional<uint64_t> next = delayedAt_;
    if (peer_ && peer_->nextDeadline())
        next = next ? std::min(*next, *peer_->nextDeadline()) : peer_->nextDeadline();
    return next;
}

void ConsolePersona::emitText(const std::string& text) {
    if (active_ != nullptr && active_->kind == ConsoleFaultKind::Slow) {
        delayed_.insert(delayed_.end(), text.begin(), text.end());
        delayedAt_ = now_ + active_->argument;
        return;
    }
    if (active_ != nullptr && active_->kind == ConsoleFaultKind::DropMidReply) {
        output_.insert(output_.end(), text.begin(), text.begin() + static_cast<long>(text.size() / 2));
        dropped_ = true;
        trace_.push_back("line dropped");
        return;
    }
    output_.insert(output_.end(), text.begin(), text.end());
    if (active_ != nullptr && active_->kind == ConsoleFaultKind::OverLong)
        output_.insert(output_.end(), 400, 'x');
}

void ConsolePersona::reply(const std::string& body) { emitText("\r\n" + body + kPrompt); }

void ConsolePersona::execute(const std::string& line, uint64_t now) {
    trace_.push_back("cmd " + line);
    commands_.push_back(line);
    const std::vector<std::string> w = words(line);
    const std::string name = w.empty() ? std::string() : w[0];
    active_ = strike(name);
    if (active_ != nullptr && active_->kind == ConsoleFaultKind::Silence)
        return;
    const bool refuse = active_ != nullptr && active_->kind == ConsoleFaultKind::Refuse;
    const size_t echoLength = options_.echo ? line.size() : 0;

    if (name.empty()) {
        reply("");
    } else if ((name == "mr8" || name == "mr32") && w.size() >= 2) {
        const uint32_t address = number(w[1], 16);
        std::vector<uint8_t> bytes;
        expander_.readMemory(address, name == "mr8" ? 1 : 4, bytes);
        uint32_t value = 0;
        for (size_t i = 0; i < bytes.size(); ++i)
            value |= uint32_t{bytes[i]} << (8 * i);
        const std::string shown = hex(name == "mr8" ? "0X%02X" : "0X%08X", value);
        std::string body = hex("%08x", address) + " : " + shown + "\r\n";
        if (active_ != nullptr) {
            switch (active_->kind) {
            case ConsoleFaultKind::NoAddress:
                body = "value : " + shown + "\r\n";
                break;
            case ConsoleFaultKind::PrefixNoDigits:
                body = hex("%08x", address) + " : 0x \r\n";
                break;
            case ConsoleFaultKind::Nul:
                body = hex("%08x", address) + " : " + shown.substr(0, 5) + std::string(1, '\0') + shown.substr(5) +
                       "\r\n";
                break;
            default:
                break;
            }
        }
        reply(body);
    } else if ((name == "mw8" || name == "mw16" || name == "mw32") && w.size() >= 3) {
        const uint32_t address = number(w[1], 16);
        const uint32_t value = number(w[2], 16);
        const size_t width = name == "mw8" ? 1 : name == "mw16" ? 2 : 4;
        std::vector<uint8_t> bytes(width);
        for (size_t i = 0; i < width; ++i)
            bytes[i] = static_cast<uint8_t>(value >> (8 * i));
        expander_.writeMemory(address, bytes);
        reply("");
    } else if (name == "fdl" && w.size() >= 3) {
        const uint8_t id = static_cast<uint8_t>(number(w[1], 16));
        const uint32_t offset = number(w[2], 16);
        startTransfer(XmodemPeer::Role::Receiver, {}, echoLength, 129, 45,
                      [this, id, offset, refuse](const std::vector<uint8_t>& data) {
                          if (refuse)
                              return false;
                          if (id == kPageStore) {
                              if (data.size() < 4 || (offset & 0xFFFF) != kPageOffsetLow)
                                  return false;
                              const size_t length = data[0] | (data[1] << 8);
                              if (length > data.size())
                                  return false;
                              return expander_.writePage(static_cast<uint16_t>(offset >> 16),
                                                         std::span(data.data(), length)) == Outcome::Ok;
                          }
                          if (id == kEraseOfE2) {
                              const std::vector<uint8_t> erase(kEraseRequestLength, 0xFF);
                              return expander_.writeBuffer(kEraseOfE2, 0, erase) == Outcome::Ok;
                          }
                          return expander_.writeBuffer(id, offset, data) == Outcome::Ok;
                      },
                      now);
    } else if (name == "ful" && w.size() >= 4) {
        const uint8_t id = static_cast<uint8_t>(number(w[1], 16));
        const uint32_t offset = number(w[2], 16);
        const uint32_t size = number(w[3], 10);
        std::vector<uint8_t> data;
        Outcome outcome = Outcome::InvalidField;
        if (id == kPageStore) {
            if ((offset & 0xFFFF) == kPageOffsetLow)
                outcome = expander_.readPage(static_cast<uint16_t>(offset >> 16), size, data);
        } else {
            outcome = expander_.readBuffer(id, offset, size, data);
        }
        if (outcome != Outcome::Ok || refuse) {
            emitText(sized("Xmodem Transfer Failed", 173 - std::min<size_t>(echoLength, 173)));
            return;
        }
        startTransfer(XmodemPeer::Role::Sender, std::move(data), echoLength, 173, 48,
                      [](const std::vector<uint8_t>&) { return true; }, now);
    } else if (name == "mdl" && w.size() >= 2) {
        const uint32_t address = number(w[1], 16);
        startTransfer(XmodemPeer::Role::Receiver, {}, echoLength, 256, 46,
                      [this, address, refuse](const std::vector<uint8_t>& data) {
                          return !refuse && expander_.writeMemory(address, data) == Outcome::Ok;
                      },
                      now);
    } else if (name == "mul" && w.size() >= 3) {
        const uint32_t address = number(w[1], 16);
        const uint32_t size = number(w[2], 10);
        std::vector<uint8_t> data;
        expander_.readMemory(address, size, data);
        startTransfer(XmodemPeer::Role::Sender, std::move(data), echoLength, 134, 54,
                      [](const std::vector<uint8_t>&) { return true; }, now);
    } else if (name == "regerase" && w.size() >= 2) {
        const uint32_t region = number(w[1], 10);
        const std::vector<uint8_t> erase(kEraseRequestLength, 0xFF);
        // Partitions are buffers 0x80 to 0xDF; the designated buffers follow.
        const bool ok = !refuse && region < 0x60 &&
                        expander_.writeBuffer(static_cast<uint8_t>(kFirstPartition + region), 0, erase) ==
                            Outcome::Ok;
        reply(ok ? "Region " + std::to_string(region) + " erased\r\n" : "Invalid region\r\n");
    } else if (name == "buffsize" && w.size() >= 2) {
        uint32_t capacity = 0;
        const bool ok = !refuse &&
                        expander_.bufferCapacity(static_cast<uint8_t>(number(w[1], 16)), capacity) == Outcome::Ok;
        reply(ok ? "Buffer size : " + std::to_string(capacity) + " bytes\r\n" : "Invalid buffer id\r\n");
    } else if (name == "ipconfig") {
        std::vector<uint8_t> page;
        const uint16_t id = expander_.traits().ethernetPageId;
        std::string body = "No network settings\r\n";
        if (id != 0 && expander_.readPage(id, 0xFFFF, page) == Outcome::Ok && page.size() >= 16) {
            auto quad = [&](size_t at) {
                return std::to_string(page[at]) + "." + std::to_string(page[at + 1]) + "." +
                       std::to_string(page[at + 2]) + "." + std::to_string(page[at + 3]);
            };
            body = "IP Address   : " + quad(4) + "\r\nSubnet Mask  : " + quad(8) + "\r\nGateway      : " + quad(12) +
                   "\r\n";
        }
        reply(body);
    } else if (name == "reset" && w.size() >= 2 && w[1] == "watchdog") {
        const FamilyTraits& traits = expander_.traits();
        if (traits.watchdogAddresses[0] != 0)
            expander_.space().writeWord(traits.watchdogAddresses[0], traits.watchdogWord);
        reply("Watchdog reset\r\n");
    } else {
        reply("Invalid command\r\n");
    }
}

void ConsolePersona::startTransfer(XmodemPeer::Role role, std::vector<uint8_t> data, size_t echoLength,
                                   uint32_t ackLimit, uint32_t closingFixed,
                                   std::function<bool(const std::vector<uint8_t>&)> finish, uint64_t now) {
    const size_t ackLength = ackLimit - std::min<size_t>(echoLength, ackLimit);
    // The acknowledgement ends without a prompt: the transfer follows at once.
    std::string ack(ackLength, ' ');
    const std::string_view head = "\r\nStart the XMODEM transfer now";
    std::copy_n(head.begin(), std::min(head.size(), ackLength), ack.begin());
    if (active_ != nullptr && active_->kind == ConsoleFaultKind::OverLongAck)
        ack.append(std::max<uint32_t>(active_->argument, 1), 'q');
    output_.insert(output_.end(), ack.begin(), ack.end());
    closingFixed_ = closingFixed;
    closingCount_ = role == XmodemPeer::Role::Sender ? static_cast<uint32_t>(data.size()) : 0;
    finish_ = std::move(finish);
    const bool xmodemFault = active_ != nullptr && active_->kind == ConsoleFaultKind::Xmodem;
    peer_ = std::make_shared<XmodemPeer>(role, std::move(data), xmodemFault ? active_->xmodem : XmodemPeerFault::None,
                                         xmodemFault ? active_->at : 1);
    peerFrames_ = 0;
    peer_->begin(now);
    pumpTransfer(now);
}

void ConsolePersona::pumpTransfer(uint64_t /*now*/) {
    auto& out = peer_->output();
    output_.insert(output_.end(), out.begin(), out.end());
    out.clear();
    const auto& frames = peer_->frames();
    for (; peerFrames_ < frames.size(); ++peerFrames_)
        trace_.push_back(frames[peerFrames_]);
    if (peer_->dropped()) {
        dropped_ = true;
        trace_.push_back("line dropped");
        lastPeer_ = std::move(peer_);
        return;
    }
    if (!peer_->done())
        return;
    const bool sender = peer_->stats().blocksSent > 0 || closingCount_ > 0;
    const uint32_t count = sender ? closingCount_ : static_cast<uint32_t>(peer_->data().size());
    const bool ok = peer_->stats().finished && finish_(peer_->data());
    lastPeer_ = std::move(peer_);
    size_t length = closingFixed_ + digits(count);
    if (active_ != nullptr && active_->kind == ConsoleFaultKind::ClosingShort)
        --length;
    if (active_ != nullptr && active_->kind == ConsoleFaultKind::ClosingLong)
        ++length;
    const std::string closing =
        sized(ok ? "Xmodem transfer of " + std::to_string(count) + " bytes done" : "Xmodem Transfer Failed", length);
    trace_.push_back("closing " + std::to_string(closing.size()));
    output_.insert(output_.end(), closing.begin(), closing.end());
}

} // namespace zsim
