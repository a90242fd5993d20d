#include "osal/xmodem.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kModule = "xmodem";
constexpr uint32_t kJunkLimit = 100;     // consecutive bytes that start no block before giving up
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

ZELKOR_STATUS xFileRcveByte(SerialLine& line, const ZELKOR_INSTANCE* handle, uint8_t* buffer, uint32_t size) {
    constexpr const char* fn = "xFileRcveByte";
    // The sender starts on our NAK; each NAK waits its time for the first byte.
    int header = kSilence;
    for (uint32_t i = 0; i < XMODEM_RETRIES && header == kSilence; ++i) {
        if (!sendByte(line, XMODEM_NAK)) {
            report(handle, fn, "\n\nERROR: Failed NAK transmission, to initiate data transfer");
            return XMODEM_ERROR;
        }
        header = readReply(line, XMODEM_ANSWER_WAIT_MS);
    }
    if (header == kLineFailed)
        return XMODEM_ERROR;
    if (header == kSilence) {
        logLine(handle, fn, ZELKOR_LOG_ERROR, "No data received from the sender **** FAILED ****");
        return XMODEM_ERROR;
    }

    uint8_t expected = 1;
    uint32_t accepted = 0; // blocks taken, not wrapped
    uint32_t stored = 0;
    bool invalidNumberSeen = false;
    uint8_t invalidNumber = 0;
    uint32_t junk = 0;
    uint32_t silentNaks = 0;
    uint32_t badBlocks = 0; // consecutive blocks refused
    uint32_t repeats = 0;   // consecutive repeats of the block taken last
    uint32_t surplus = 0;   // blocks taken after the size was filled
    uint8_t rest[XMODEM_BLOCK_SIZE - 1];
    for (;;) {
        if (header == kLineFailed)
            return XMODEM_ERROR;
        if (header == kSilence) {
            if (++silentNaks > XMODEM_RETRIES) {
                xmodemCancel(line);
                logLine(handle, fn, ZELKOR_LOG_ERROR, "Sender fell silent **** FAILED ****");
                return XMODEM_ERROR;
            }
            if (!sendByte(line, XMODEM_NAK)) {
                report(handle, fn, "\n\nERROR: Failed transmitting NAK in absence of data/EOT packet");
                return XMODEM_ERROR;
            }
            header = readReply(line, XMODEM_ANSWER_WAIT_MS);
            continue;
        }
        silentNaks = 0;
        if (header == XMODEM_SOH) {
            junk = 0;
            uint32_t got = 0;
            if (!line.read(rest, sizeof rest, got))
                return XMODEM_ERROR;
            const bool whole = got == sizeof rest;
            const XmodemVerdict verdict = whole ? xmodemCheckBlock(rest) : XmodemVerdict::BadChecksum;
            if (verdict != XmodemVerdict::Good) {
                // A short or damaged block: drop what is left of it and ask again.
                line.dropInput();
                if (++badBlocks > XMODEM_RETRIES) {
                    xmodemCancel(line);
                    logLine(handle, fn, ZELKOR_LOG_ERROR, "Too many invalid packets **** FAILED ****");
                    return XMODEM_ERROR;
                }
                if (!sendByte(line, XMODEM_NAK)) {
                    report(handle, fn, "\n\nERROR: Failed sending NAK for invalid CRC packet");
                    return XMODEM_ERROR;
                }
            } else if (rest[0] == expected) {
                badBlocks = 0;
                repeats = 0;
                if (stored < size) {
                    const uint32_t n = std::min(XMODEM_DATA_SIZE, size - stored);
                    std::memcpy(buffer + stored, &rest[2], n);
                    stored += n;
                } else if (++surplus > XMODEM_RETRIES) {
                    // A sender that goes on past the data would hold the line for ever.
                    xmodemCancel(line);
                    logLine(handle, fn, ZELKOR_LOG_ERROR, "Sender goes on past %u bytes **** FAILED ****", size);
                    return XMODEM_ERROR;
                }
                if (!sendByte(line, XMODEM_ACK)) {
                    report(handle, fn, "\n\nERROR: Failed transmitting ACK for valid data packet");
                    return XMODEM_ERROR;
                }
                ++expected;
                ++accepted;
                if ((accepted + 1) % kProgressEvery == 0)
                    progress(handle);
            } else if (accepted > 0 && rest[0] == static_cast<uint8_t>(expected - 1)) {
                // Our ACK was lost: the block is stored already. A sender that never moves on is given up.
                if (++repeats > XMODEM_RETRIES) {
                    xmodemCancel(line);
                    logLine(handle, fn, ZELKOR_LOG_ERROR, "Packet %x repeated without end **** FAILED ****",
                            rest[0]);
                    return XMODEM_ERROR;
                }
                invalidNumberSeen = true;
                invalidNumber = rest[0];
                if (!sendByte(line, XMODEM_ACK)) {
                    report(handle, fn, "\n\nERROR: Failed transmitting ACK for valid data packet");
                    return XMODEM_ERROR;
                }
            } else {
                // Neither the next block nor a repeat: blocks were lost.
                xmodemCancel(line);
                logLine(handle, fn, ZELKOR_LOG_ERROR, "Invalid packet number found %x", rest[0]);
                return XMODEM_ERROR;
            }
        } else if (header == XMODEM_EOT) {
            if (stored < size) {
                xmodemCancel(line);
                logLine(handle, fn, ZELKOR_LOG_ERROR, "Transfer ended after %u of %u bytes **** FAILED ****",
                        stored, size);
                return XMODEM_ERROR;
            }
            if (!sendByte(line, XMODEM_ACK)) {
                report(handle, fn, "\n\nERROR: Failed sending ACK for valid EOT packet");
                return XMODEM_ERROR;
            }
            if (invalidNumberSeen)
                logLine(handle, fn, ZELKOR_LOG_ERROR, "Invalid packet number found %x", invalidNumber);
            return XMODEM_SUCCESS;
        } else if (header == XMODEM_CAN || ++junk > kJunkLimit) {
            if (!sendByte(line, XMODEM_ACK))
                report(handle, fn, "\n\nERROR: Failed sending ACK for CAN packet");
            return XMODEM_CANCELLED;
        }
        header = readReply(line, XMODEM_ANSWER_WAIT_MS);
    }
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
