#include "console/XmodemPeer.h"

#include <algorithm>

namespace zsim {

namespace {

constexpr uint8_t SOH = 0x01, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18, PAD = 0x1A;
constexpr size_t kData = 128;
constexpr size_t kBlock = 132;
constexpr uint64_t kCharTimeout = 1000;  // within a block, and between blocks before a NAK
constexpr uint64_t kAnswerTimeout = 10000;
constexpr uint32_t kRetries = 10;
constexpr uint64_t kDribbleMs = 250;   // between the bytes of a dribbled block: under the line's silence
constexpr uint8_t kStray = 0x55;       // a byte that starts no block
constexpr uint32_t kStrayEvery = 10;   // NAKs per stray byte
constexpr uint32_t kStraysPerCut = 99; // stray bytes per cut block

} // namespace

XmodemPeer::XmodemPeer(Role role, std::vector<uint8_t> data, XmodemPeerFault fault, uint32_t at)
    : role_(role), data_(std::move(data)), fault_(fault), at_(at) {
    if (role_ == Role::Receiver)
        data_.clear();
}

bool XmodemPeer::faultAt(XmodemPeerFault fault, uint32_t block) {
    if (fault_ != fault || block != at_ || faultUsed_)
        return false;
    faultUsed_ = true;
    return true;
}

void XmodemPeer::begin(uint64_t now) {
    if (role_ == Role::Sender)
        return; // waits for the host's NAK
    switch (fault_) {
    case XmodemPeerFault::NoStart:
        note("xmodem start none");
        return;
    case XmodemPeerFault::QuitAtStart:
        note("xmodem start q");
        emit('q');
        gaveUp_ = true;
        return;
    case XmodemPeerFault::CancelStart:
        note("xmodem start CAN");
        emit(CAN);
        emit(CAN);
        gaveUp_ = true;
        return;
    default:
        break;
    }
    start(now);
}

void XmodemPeer::start(uint64_t now) {
    note("xmodem out NAK");
    emit(NAK);
    ++startNaks_;
    deadline_ = now + kCharTimeout;
}

void XmodemPeer::onBytes(const uint8_t* bytes, size_t count, uint64_t now) {
    for (size_t i = 0; i < count && !done(); ++i) {
        if (role_ == Role::Sender)
            senderByte(bytes[i], now);
        else
            receiverByte(bytes[i], now);
    }
}

void XmodemPeer::sendBlock(uint64_t now) {
    const uint32_t total = static_cast<uint32_t>((data_.size() + kData - 1) / kData);
    deadline_ = now + kAnswerTimeout;
    if (block_ > total || faultAt(XmodemPeerFault::EarlyEot, block_)) {
        eotPhase_ = true;
        note("xmodem out EOT");
        emit(EOT);
        ++stats_.eotsSent;
        return;
    }
    if (faultAt(XmodemPeerFault::CancelAt, block_)) {
        note("xmodem out CAN");
        emit(CAN);
        emit(CAN);
        gaveUp_ = true;
        return;
    }
    if (faultAt(XmodemPeerFault::Junk, block_)) {
        note("xmodem out junk");
        for (int i = 0; i < 200; ++i)
            emit(0x55);
        return;
    }
    if (faultAt(XmodemPeerFault::StallAt, block_)) {
        note("xmodem out stall");
        fault_ = XmodemPeerFault::Silent; // for good: every later byte is ignored
        deadline_.reset();
        return;
    }
    if (faultAt(XmodemPeerFault::DropLine, block_)) {
        note("xmodem line dropped");
        stats_.dropped = true;
        return;
    }
    uint32_t number = block_;
    if (faultAt(XmodemPeerFault::WrongNumber, block_))
        number = block_ + 1;
    std::vector<uint8_t> block(kBlock, PAD);
    block[0] = SOH;
    block[1] = static_cast<uint8_t>(number);
    block[2] = static_cast<uint8_t>(255 - block[1]);
    const size_t from = size_t{number - 1} * kData;
    for (size_t i = 0; i < kData && from + i < data_.size(); ++i)
        block[3 + i] = data_[from + i];
    uint8_t sum = 0;
    for (size_t i = 0; i < kData; ++i)
        sum = static_cast<uint8_t>(sum + block[3 + i]);
    block[kBlock - 1] = sum;
    if (faultAt(XmodemPeerFault::BadChecksum, block_))
        block[kBlock - 1] ^= 0xFF;
    if (faultAt(XmodemPeerFault::BadComplement, block_))
        block[2] ^= 0x01;
    if (faultAt(XmodemPeerFault::ShortBlock, block_))
        block.resize(100);
    if (faultAt(XmodemPeerFault::LongBlock, block_))
        block.push_back(0x55);
    note("xmodem out block " + std::to_string(block[1]) + " len=" + std::to_string(block.size()));
    ++stats_.blocksSent;
    if (fault_ == XmodemPeerFault::Dribble) {
        // The first byte now, the others one by one; the answer is awaited after the last.
        emit(block[0]);
        paced_.assign(block.begin() + 1, block.end());
        pacedAt_ = now + kDribbleMs;
        deadline_ = now + paced_.size() * kDribbleMs + kAnswerTimeout;
        return;
    }
    output_.insert(output_.end(), block.begin(), block.end());
}

void XmodemPeer::strayAnswer() {
    if (++naksSeen_ % kStrayEvery != 0)
        return;
    emit(kStray);
    ++straysSent_;
    if (fault_ == XmodemPeerFault::StrayAndCut && straysSent_ % kStraysPerCut == 0) {
        note("xmodem out cut block");
        for (const uint8_t byte : {SOH, uint8_t{1}, uint8_t{0xFE}, uint8_t{0x00}})
            emit(byte);
    }
}

std::optional<uint64_t> XmodemPeer::nextDeadline() const {
    if (!paced_.empty() && !done())
        return deadline_ ? std::min(*deadline_, pacedAt_) : pacedAt_;
    return deadline_;
}

void XmodemPeer::senderByte(uint8_t byte, uint64_t now) {
    if (fault_ == XmodemPeerFault::Silent)
        return;
    if (byte == NAK)
        ++stats_.naksReceived;
    else if (byte == ACK)
        ++stats_.acksReceived;
    else if (byte == CAN)
        ++stats_.cansReceived;
    if (fault_ == XmodemPeerFault::StrayOnNak || fault_ == XmodemPeerFault::StrayAndCut) {
        if (byte == CAN) {
            note("xmodem in CAN");
            gaveUp_ = true;
        } else if (byte == NAK) {
            strayAnswer();
        }
        return;
    }
    // A NAK or ACK in the middle of a dribbled block calls the rest of it off.
    if (byte == NAK || byte == ACK || byte == CAN)
        paced_.clear();
    if (!started_) {
        if (byte == NAK) {
            started_ = true;
            sendBlock(now);
        } else if (byte == CAN) {
            // A receiver may call the transfer off before it starts, as senders of the protocol honour.
            note("xmodem start refused with CAN");
            gaveUp_ = true;
            deadline_.reset();
        }
        return;
    }
    if (byte == CAN) {
        note("xmodem in CAN");
        gaveUp_ = true;
        deadline_.reset();
        return;
    }
    if (eotPhase_) {
        if (byte == ACK) {
            note("xmodem in ACK of EOT");
            stats_.finished = true;
            deadline_.reset();
        } else if (byte == NAK) {
            emit(EOT);
            ++stats_.eotsSent;
            deadline_ = now + kAnswerTimeout;
        }
        return;
    }
    if (byte == ACK) {
        if (faultAt(XmodemPeerFault::RepeatBlock, block_)) {
            sendBlock(now);
            return;
        }
        ++block_;
        sendBlock(now);
    } else if (byte == NAK) {
        sendBlock(now);
    }
}

void XmodemPeer::receiverByte(uint8_t byte, uint64_t now) {
    if (eotPending_) {
        // The end counts only after a second of quiet; every byte starts the wait again.
        if (byte == EOT) {
            ++stats_.eotsReceived;
            stats_.eotTimes.push_back(now);
        }
        deadline_ = now + kCharTimeout;
        return;
    }
    if (!incoming_.empty()) {
        incoming_.push_back(byte);
        deadline_ = now + kCharTimeout;
        if (incoming_.size() == kBlock)
            finishBlock(now);
        return;
    }
    switch (byte) {
    case SOH:
        started_ = true;
        incoming_.push_back(byte);
        deadline_ = now + kCharTimeout;
        return;
    case EOT:
        ++stats_.eotsReceived;
        stats_.eotTimes.push_back(now);
        note("xmodem in EOT");
        if (fault_ == XmodemPeerFault::EotUnanswered) {
            deadline_.reset();
        } else if (fault_ == XmodemPeerFault::EotAfterQuiet) {
            eotPending_ = true;
            deadline_ = now + kCharTimeout;
        } else {
            emit(ACK);
            stats_.finished = true;
            deadline_.reset();
        }
        return;
    case CAN:
        ++stats_.cansReceived;
        note("xmodem in CAN");
        gaveUp_ = true;
        deadline_.reset();
        return;
    default:
        return;
    }
}

void XmodemPeer::finishBlock(uint64_t now) {
    ++stats_.blocksReceived;
    const std::vector<uint8_t> block = std::move(incoming_);
    incoming_.clear();
    idleNaks_ = 0;
    deadline_ = now + kCharTimeout;
    note("xmodem in block " + std::to_string(block[1]));
    if (faultAt(XmodemPeerFault::DropLine, expected_)) {
        note("xmodem line dropped");
        stats_.dropped = true;
        return;
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < kData; ++i)
        sum = static_cast<uint8_t>(sum + block[3 + i]);
    const bool intact = static_cast<uint8_t>(block[1] + block[2]) == 0xFF && sum == block[kBlock - 1];
    if (!intact || fault_ == XmodemPeerFault::NakStorm) {
        emit(NAK);
        return;
    }
    if (faultAt(XmodemPeerFault::CancelBlock, expected_)) {
        emit(CAN);
        emit(CAN);
        gaveUp_ = true;
        deadline_.reset();
        return;
    }
    if (block[1] == static_cast<uint8_t>(expected_)) {
        data_.insert(data_.end(), block.begin() + 3, block.begin() + 3 + kData);
        if (faultAt(XmodemPeerFault::LoseAck, expected_)) {
            ++expected_;
            return;
        }
        ++expected_;
        emit(ACK);
    } else if (block[1] == static_cast<uint8_t>(expected_ - 1)) {
        emit(ACK);
    } else {
        emit(CAN);
        emit(CAN);
        gaveUp_ = true;
        deadline_.reset();
    }
}

void XmodemPeer::onTime(uint64_t now) {
    if (!paced_.empty() && !done() && now >= pacedAt_) {
        emit(paced_.front());
        paced_.erase(paced_.begin());
        pacedAt_ = now + kDribbleMs;
    }
    if (!deadline_ || now < *deadline_)
        return;
    deadline_.reset();
    if (done())
        return;
    if (role_ == Role::Sender) {
        note("xmodem sender gave up");
        gaveUp_ = true;
        return;
    }
    if (eotPending_) {
        emit(ACK);
        stats_.finished = true;
        return;
    }
    if (!incoming_.empty()) {
        incoming_.clear();
        emit(NAK);
        deadline_ = now + kCharTimeout;
        return;
    }
    uint32_t& naks = started_ ? idleNaks_ : startNaks_;
    if (naks >= kRetries) {
        note("xmodem receiver gave up");
        gaveUp_ = true;
        return;
    }
    ++naks;
    emit(NAK);
    deadline_ = now + kCharTimeout;
}

} // namespace zsim
