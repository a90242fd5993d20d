#include "osal/xmodem.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

constexpr const char* kModule = "xmodem";
constexpr uint32_t kJunkLimit = 100;     // bytes that start no block, since the last block taken
constexpr uint32_t kProgressEvery = 24;  // blocks per progress event

__attribute__((format(printf, 4, 5))) void logLine(const ZELKOR_INSTANCE* handle, const char* function,
                                                   uint32_t level, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LOG_FUNCTION log = handle != nullptr && handle->log != nullptr ? handle->log : zelkor_messageLog;
    log(kModule, function, ZELKOR_LOG_CLI, level, 1, "%s", text);
}

// XMODEM failures go to standard output as well as to the log.
void report(const ZELKOR_INSTANCE* handle, const char* function, const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
    logLine(handle, function, ZELKOR_LOG_ERROR, "%s", text);
}

void progress(const ZELKOR_INSTANCE* handle) {
    if (handle != nullptr && handle->progress != nullptr)
        handle->progress(1, 0);
}

// The one reply reader: the next byte within the wait, kSilence, or kLineFailed.
constexpr int kSilence = -1;
constexpr int kLineFailed = -2;

int readReply(SerialLine& line, uint32_t milliseconds) {
    if (!line.waitInput(milliseconds))
        return kSilence;
    uint8_t byte = 0;
    uint32_t got = 0;
    if (!line.read(&byte, 1, got))
        return kLineFailed;
    return got == 1 ? byte : kSilence;
}

bool sendByte(SerialLine& line, uint8_t byte) { return line.write(&byte, 1); }

} // namespace

void xmodemCancel(SerialLine& line) {
    const uint8_t bytes[] = {XMODEM_CAN, XMODEM_CAN};
    line.write(bytes, sizeof bytes);
}

XmodemBlock xmodemBuildBlock(uint8_t number, const uint8_t* data, uint32_t length) {
    XmodemBlock block{};
    block[0] = XMODEM_SOH;
    block[1] = number;
    block[2] = static_cast<uint8_t>(~number);
    const uint32_t n = std::min(length, XMODEM_DATA_SIZE);
    if (n > 0)
        std::memcpy(&block[3], data, n);
    std::fill(block.begin() + 3 + n, block.begin() + 3 + XMODEM_DATA_SIZE, XMODEM_PAD);
    uint8_t sum = 0;
    for (uint32_t i = 0; i < XMODEM_DATA_SIZE; ++i)
        sum = static_cast<uint8_t>(sum + block[3 + i]);
    block[XMODEM_BLOCK_SIZE - 1] = sum;
    return block;
}

XmodemVerdict xmodemCheckBlock(const uint8_t* afterSoh) {
    if (static_cast<uint8_t>(afterSoh[0] ^ afterSoh[1]) != 0xFF)
        return XmodemVerdict::BadComplement;
    uint8_t sum = 0;
    for (uint32_t i = 0; i < XMODEM_DATA_SIZE; ++i)
        sum = static_cast<uint8_t>(sum + afterSoh[2 + i]);
    return sum == afterSoh[2 + XMODEM_DATA_SIZE] ? XmodemVerdict::Good : XmodemVerdict::BadChecksum;
}

namespace {

// One receive. Every wait is cut to what is left of the receive's deadline on the line's clock; stray
// bytes, damaged blocks, repeats and silent NAK rounds each count toward a limit that only a block taken
// resets, so that a far end that never delivers data is given up, never followed for ever.
class Receiver {
  public:
    Receiver(SerialLine& line, const ZELKOR_INSTANCE* handle, uint8_t* buffer, uint32_t size)
        : line_(line), handle_(handle), buffer_(buffer), size_(size),
          deadline_(line.nowMs() + xmodemReceiveAllowanceMs(size)) {}

    ZELKOR_STATUS run() {
        // The sender starts on our NAK; each NAK waits its time for the first byte.
        int header = kSilence;
        for (uint32_t i = 0; i < XMODEM_RETRIES && header == kSilence && !expired(); ++i) {
            if (!sendByte(line_, XMODEM_NAK)) {
                report(handle_, kFn, "\n\nERROR: Failed NAK transmission, to initiate data transfer");
                return XMODEM_ERROR;
            }
            header = next(XMODEM_ANSWER_WAIT_MS);
        }
        if (header == kLineFailed)
            return XMODEM_ERROR;
        if (header == kSilence) {
            logLine(handle_, kFn, ZELKOR_LOG_ERROR, "No data received from the sender **** FAILED ****");
            return XMODEM_ERROR;
        }
        for (;;) {
            if (header == kLineFailed)
                return XMODEM_ERROR;
            // The end and a cancel are taken as they come; anything else only within the deadline.
            if (header != XMODEM_EOT && header != XMODEM_CAN && expired())
                return timedOut();
            if (header == kSilence) {
                if (++silentNaks_ > XMODEM_RETRIES)
                    return giveUp("Sender fell silent **** FAILED ****");
                if (!sendByte(line_, XMODEM_NAK)) {
                    report(handle_, kFn, "\n\nERROR: Failed transmitting NAK in absence of data/EOT packet");
                    return XMODEM_ERROR;
                }
            } else if (header == XMODEM_SOH) {
                if (const auto done = block())
                    return *done;
            } else if (header == XMODEM_EOT) {
                return end();
            } else if (header == XMODEM_CAN) {
                if (!sendByte(line_, XMODEM_ACK))
                    report(handle_, kFn, "\n\nERROR: Failed sending ACK for CAN packet");
                return XMODEM_CANCELLED;
            } else if (++strays_ > kJunkLimit) {
                return giveUp("Too many bytes that start no packet **** FAILED ****");
            }
            header = next(XMODEM_ANSWER_WAIT_MS);
        }
    }

  private:
    static constexpr const char* kFn = "xFileRcveByte";

    bool expired() { return line_.nowMs() >= deadline_; }

    // The next byte within the wait or what is left of the deadline, whichever is shorter.
    int next(uint32_t milliseconds) {
        const uint64_t now = line_.nowMs();
        const uint64_t left = now < deadline_ ? deadline_ - now : 0;
        return readReply(line_, static_cast<uint32_t>(std::min<uint64_t>(milliseconds, left)));
    }

    __attribute__((format(printf, 2, 3))) ZELKOR_STATUS giveUp(const char* format, ...) {
        xmodemCancel(line_);
        char text[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        logLine(handle_, kFn, ZELKOR_LOG_ERROR, "%s", text);
        return XMODEM_ERROR;
    }

    ZELKOR_STATUS timedOut() {
        return giveUp("Transfer of %u bytes not done in %llu ms **** FAILED ****", size_,
                      static_cast<unsigned long long>(xmodemReceiveAllowanceMs(size_)));
    }

    // A block taken: the far end delivers, so the counts of what went wrong since start again.
    void progressMade() {
        silentNaks_ = 0;
        strays_ = 0;
        badBlocks_ = 0;
        repeats_ = 0;
    }

    // The block after SOH; a result when the transfer ends with it.
    std::optional<ZELKOR_STATUS> block() {
        // Byte by byte, so that a sender that trickles its block cannot hold the line past the deadline.
        uint32_t got = 0;
        while (got < sizeof rest_) {
            const int byte = next(XMODEM_BYTE_WAIT_MS);
            if (byte == kLineFailed)
                return XMODEM_ERROR;
            if (byte == kSilence)
                break;
            rest_[got++] = static_cast<uint8_t>(byte);
        }
        if (got < sizeof rest_ && expired())
            return timedOut();
        const XmodemVerdict verdict = got == sizeof rest_ ? xmodemCheckBlock(rest_) : XmodemVerdict::BadChecksum;
        if (verdict != XmodemVerdict::Good) {
            // A short or damaged block: drop what is left of it and ask again.
            line_.dropInput();
            if (++badBlocks_ > XMODEM_RETRIES)
                return giveUp("Too many invalid packets **** FAILED ****");
            if (!sendByte(line_, XMODEM_NAK)) {
                report(handle_, kFn, "\n\nERROR: Failed sending NAK for invalid CRC packet");
                return XMODEM_ERROR;
            }
            return std::nullopt;
        }
        if (rest_[0] == expected_) {
            progressMade();
            if (stored_ < size_) {
                const uint32_t n = std::min(XMODEM_DATA_SIZE, size_ - stored_);
                std::memcpy(buffer_ + stored_, &rest_[2], n);
                stored_ += n;
            } else if (++surplus_ > XMODEM_RETRIES) {
                // A sender that goes on past the data would hold the line for ever.
                return giveUp("Sender goes on past the size **** FAILED ****");
            }
            if (!sendByte(line_, XMODEM_ACK)) {
                report(handle_, kFn, "\n\nERROR: Failed transmitting ACK for valid data packet");
                return XMODEM_ERROR;
            }
            ++expected_;
            ++accepted_;
            if ((accepted_ + 1) % kProgressEvery == 0)
                progress(handle_);
            return std::nullopt;
        }
        if (accepted_ > 0 && rest_[0] == static_cast<uint8_t>(expected_ - 1)) {
            // Our ACK was lost: the block is stored already. A sender that never moves on is given up.
            if (++repeats_ > XMODEM_RETRIES)
                return giveUp("Packet repeated without end **** FAILED ****");
            invalidNumberSeen_ = true;
            invalidNumber_ = rest_[0];
            if (!sendByte(line_, XMODEM_ACK)) {
                report(handle_, kFn, "\n\nERROR: Failed transmitting ACK for valid data packet");
                return XMODEM_ERROR;
            }
            return std::nullopt;
        }
        // Neither the next block nor a repeat: blocks were lost.
        return giveUp("Invalid packet number found %x", rest_[0]);
    }

    ZELKOR_STATUS end() {
        if (stored_ < size_)
            return giveUp("Transfer ended after %u of %u bytes **** FAILED ****", stored_, size_);
        if (!sendByte(line_, XMODEM_ACK)) {
            report(handle_, kFn, "\n\nERROR: Failed sending ACK for valid EOT packet");
            return XMODEM_ERROR;
        }
        if (invalidNumberSeen_)
            logLine(handle_, kFn, ZELKOR_LOG_ERROR, "Invalid packet number found %x", invalidNumber_);
        return XMODEM_SUCCESS;
    }

    SerialLine& line_;
    const ZELKOR_INSTANCE* handle_;
    uint8_t* buffer_;
    const uint32_t size_;
    const uint64_t deadline_;
    uint8_t expected_ = 1;
    uint32_t accepted_ = 0; // blocks taken, not wrapped
    uint32_t stored_ = 0;
    bool invalidNumberSeen_ = false;
    uint8_t invalidNumber_ = 0;
    uint32_t silentNaks_ = 0; // NAK rounds without a byte
    uint32_t strays_ = 0;     // bytes that started no block
    uint32_t badBlocks_ = 0;  // blocks refused
    uint32_t repeats_ = 0;    // repeats of the block taken last
    uint32_t surplus_ = 0;    // blocks taken after the size was filled
    uint8_t rest_[XMODEM_BLOCK_SIZE - 1] = {};
};

} // namespace

ZELKOR_STATUS xFileRcveByte(SerialLine& line, const ZELKOR_INSTANCE* handle, uint8_t* buffer, uint32_t size) {
    return Receiver(line, handle, buffer, size).run();
}

ZELKOR_STATUS xFileTransByte(SerialLine& line, const ZELKOR_INSTANCE* handle, const uint8_t* data, uint32_t size) {
    constexpr const char* fn = "xFileTransByte";
    // The receiver asks for the first block with NAK; anything else before it is ignored, within a bound.
    const uint64_t startDeadline = line.nowMs() + XMODEM_START_WAIT_MS;
    for (;;) {
        const uint64_t now = line.nowMs();
        if (now >= startDeadline) {
            logLine(handle, fn, ZELKOR_LOG_ERROR, "No start from the receiver **** FAILED ****");
            return XMODEM_ERROR;
        }
        const int byte = readReply(line, static_cast<uint32_t>(startDeadline - now));
        if (byte == kLineFailed) {
            report(handle, fn, "\n\nERROR: Failed reading handshake byte");
            return XMODEM_ERROR;
        }
        if (byte == XMODEM_NAK)
            break;
        if (byte == XMODEM_CAN || byte == 'q' || byte == 'Q') {
            logLine(handle, fn, ZELKOR_LOG_ERROR, "Receiver refused the transfer (0x%02x) **** FAILED ****",
                    byte);
            return XMODEM_ERROR;
        }
    }

    uint8_t number = 1;
    uint32_t blocks = 0;
    for (uint32_t sent = 0; sent < size;) {
        const uint32_t n = std::min(XMODEM_DATA_SIZE, size - sent);
        const XmodemBlock block = xmodemBuildBlock(number, data + sent, n);
        if ((blocks + 1) % kProgressEvery == 0)
            progress(handle);
        if (!line.write(block.data(), XMODEM_BLOCK_SIZE)) {
            report(handle, fn, "\n\nERROR: Failed transmitting data packet");
            return XMODEM_ERROR;
        }
        bool acknowledged = false;
        for (uint32_t answers = 0; answers < XMODEM_RETRIES && !acknowledged; ++answers) {
            const int reply = readReply(line, XMODEM_ANSWER_WAIT_MS);
            if (reply == kLineFailed) {
                report(handle, fn, "\n\nERROR: Failed reading ACK for data packet");
                return XMODEM_ERROR;
            }
            if (reply == XMODEM_ACK) {
                acknowledged = true;
            } else if (reply == XMODEM_NAK) {
                if (!line.write(block.data(), XMODEM_BLOCK_SIZE)) {
                    logLine(handle, fn, ZELKOR_LOG_WARN, "Resending data packet %u **** FAILED ****", number);
                    return XMODEM_ERROR;
                }
            } else if (reply == XMODEM_CAN) {
                logLine(handle, fn, ZELKOR_LOG_ERROR, "Receiver cancelled at packet %u **** FAILED ****",
                        number);
                return XMODEM_ERROR;
            }
        }
        if (!acknowledged) {
            xmodemCancel(line);
            logLine(handle, fn, ZELKOR_LOG_ERROR, "Packet %u not acknowledged **** FAILED ****", number);
            return XMODEM_ERROR;
        }
        sent += n;
        ++number;
        ++blocks;
    }

    for (uint32_t eots = 0; eots < XMODEM_RETRIES; ++eots) {
        if (!sendByte(line, XMODEM_EOT)) {
            report(handle, fn, "\n\nERROR: Failed sending EOT byte to terminate transfer");
            return XMODEM_ERROR;
        }
        const int reply = readReply(line, XMODEM_EOT_WAIT_MS);
        if (reply == kLineFailed) {
            report(handle, fn, "\n\nERROR: Failed reading ACK for EOT byte");
            return XMODEM_ERROR;
        }
        if (reply == XMODEM_ACK)
            return XMODEM_SUCCESS;
    }
    logLine(handle, fn, ZELKOR_LOG_ERROR, "End of transfer not acknowledged **** FAILED ****");
    return XMODEM_ERROR;
}
