// XMODEM with the 8-bit checksum and 128-byte blocks, as the expander firmware's console speaks it: a
// sender and a receiver over a SerialLine. The console module calls them through xFileTransByte and
// xFileRcveByte with its instance; these routines take the line and the handle whose progress callback
// and log they use.
#ifndef OSAL_XMODEM_H
#define OSAL_XMODEM_H

#include "core/zelkor.h"
#include "osal/serialLine.h"

#include <array>
#include <cstdint>

inline constexpr uint8_t XMODEM_SOH = 0x01;
inline constexpr uint8_t XMODEM_EOT = 0x04;
inline constexpr uint8_t XMODEM_ACK = 0x06;
inline constexpr uint8_t XMODEM_NAK = 0x15;
inline constexpr uint8_t XMODEM_CAN = 0x18;
inline constexpr uint8_t XMODEM_PAD = 0x1A;

inline constexpr uint32_t XMODEM_DATA_SIZE = 128;
inline constexpr uint32_t XMODEM_BLOCK_SIZE = 132; // SOH, number, complement, data, checksum

// Results of both directions.
inline constexpr ZELKOR_STATUS XMODEM_SUCCESS = 0;
inline constexpr ZELKOR_STATUS XMODEM_ERROR = 1;
inline constexpr ZELKOR_STATUS XMODEM_CANCELLED = 3; // the sender cancelled (receiver only)

// Waits, in milliseconds of line time.
inline constexpr uint32_t XMODEM_ANSWER_WAIT_MS = 1000;  // one NAK's or one block answer's wait
inline constexpr uint32_t XMODEM_START_WAIT_MS = 20000;  // the sender's wait for the receiver's start: two of a 10 s NAK interval
inline constexpr uint32_t XMODEM_EOT_WAIT_MS = 2000;     // the answer to EOT (receivers wait 1 s of quiet)
inline constexpr uint32_t XMODEM_RETRIES = 10;           // NAKs per wait, answers per block, EOTs
inline constexpr uint32_t XMODEM_BYTE_WAIT_MS = 300;     // between two bytes of one block: the line's longest silence

// Line time a receive may take in all: ten NAK rounds for the start, as many per block and for the end.
inline constexpr uint64_t XMODEM_RECEIVE_START_MS = uint64_t{XMODEM_RETRIES} * XMODEM_ANSWER_WAIT_MS;
inline constexpr uint64_t XMODEM_RECEIVE_BLOCK_MS = uint64_t{XMODEM_RETRIES} * XMODEM_ANSWER_WAIT_MS;
constexpr uint64_t xmodemReceiveAllowanceMs(uint32_t size) {
    const uint64_t blocks = (uint64_t{size} + XMODEM_DATA_SIZE - 1) / XMODEM_DATA_SIZE;
    return XMODEM_RECEIVE_START_MS + (blocks + 1) * XMODEM_RECEIVE_BLOCK_MS;
}

using XmodemBlock = std::array<uint8_t, XMODEM_BLOCK_SIZE>;

// Block number `number` holding up to 128 bytes of data, padded with 0x1A.
XmodemBlock xmodemBuildBlock(uint8_t number, const uint8_t* data, uint32_t length);

enum class XmodemVerdict { Good, BadComplement, BadChecksum };
// Judges the 131 bytes that follow SOH: number, complement, data, checksum.
XmodemVerdict xmodemCheckBlock(const uint8_t* afterSoh);

// Tells the peer the transfer is over (CAN CAN): a peer that started a transfer the product gives up would
// otherwise take what the product sends next as XMODEM data.
void xmodemCancel(SerialLine& line);

// Sends size bytes; 0 when the receiver acknowledged every block and the end, else 1.
ZELKOR_STATUS xFileTransByte(SerialLine& line, const ZELKOR_INSTANCE* handle, const uint8_t* data, uint32_t size);
// Receives exactly size bytes into buffer (never more are stored) within xmodemReceiveAllowanceMs(size)
// of line time; 0, 1 (the line failed, or the receive was given up and the sender told so with CAN CAN),
// or 3 when the sender cancelled.
ZELKOR_STATUS xFileRcveByte(SerialLine& line, const ZELKOR_INSTANCE* handle, uint8_t* buffer, uint32_t size);

#endif
