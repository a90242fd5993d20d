// The simulated console's side of an XMODEM transfer (checksum variant, 128-byte blocks), written from
// the protocol's public description: a sender for the console's uploads, a receiver for its downloads.
// It is a state machine driven by the host's bytes and by time, so that the same peer serves a console
// thread on a pseudo-terminal (real time) and a test's virtual line (virtual time). A fault makes it
// misbehave once at a chosen block, or for the whole transfer.
#ifndef ZSIM_XMODEM_PEER_H
#define ZSIM_XMODEM_PEER_H

#include "console/LineEndpoint.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zsim {

enum class XmodemPeerFault {
    None,
    // Sender faults (the host receives).
    Silent,       // never sends anything
    WrongNumber,  // sends the block after block `at` in its place (a block lost)
    RepeatBlock,  // sends block `at` a second time after its ACK
    BadChecksum,  // block `at` goes out once with a wrong checksum
    BadComplement,// block `at` goes out once with a wrong complement of its number
    ShortBlock,   // block `at` goes out once cut after 100 bytes
    LongBlock,    // block `at` goes out once with one byte more (133 bytes)
    CancelAt,     // CAN in place of block `at`
    EarlyEot,     // EOT in place of block `at`
    Junk,         // a stream of bytes that start no block in place of block `at`
    StallAt,      // falls silent in place of block `at`
    StrayOnNak,   // never sends a block: answers every tenth NAK with one byte that starts none
    StrayAndCut,  // the same, and after every 99 such bytes a block cut after SOH and three bytes
    Dribble,      // sends every block one byte at a time, 250 ms apart
    // Receiver faults (the host sends).
    NoStart,      // never asks for the first block
    QuitAtStart,  // answers the start with 'q'
    CancelStart,  // answers the start with CAN
    NakStorm,     // answers every block with NAK
    CancelBlock,  // answers block `at` with CAN
    LoseAck,      // leaves block `at` unanswered once
    EotAfterQuiet,// answers EOT only after 1 s without another byte
    EotUnanswered,// never answers EOT
    // Both directions.
    DropLine,     // the line drops when block `at` is due or arrives
};

struct XmodemPeerStats {
    uint32_t naksReceived = 0;  // NAKs from the host
    uint32_t acksReceived = 0;
    uint32_t eotsReceived = 0;  // EOTs from the host
    uint32_t cansReceived = 0;
    uint32_t blocksReceived = 0; // blocks from the host, repeats included
    uint32_t blocksSent = 0;     // blocks to the host, repeats included
    uint32_t eotsSent = 0;
    std::vector<uint64_t> eotTimes; // when each EOT from the host arrived
    bool finished = false;  // the transfer ended as the protocol says
    bool dropped = false;   // the line was dropped
};

class XmodemPeer : public LineEndpoint {
  public:
    enum class Role { Sender, Receiver };

    // A sender of data, or a receiver (data collects the blocks taken, padding included).
    XmodemPeer(Role role, std::vector<uint8_t> data, XmodemPeerFault fault = XmodemPeerFault::None,
               uint32_t at = 1);

    // The transfer starts at time now (milliseconds): a receiver asks for the first block.
    void begin(uint64_t now) override;
    // The host wrote these bytes at time now.
    void onBytes(const uint8_t* bytes, size_t count, uint64_t now) override;
    // Time has reached now.
    void onTime(uint64_t now) override;
    // When the peer next wants onTime, if ever.
    std::optional<uint64_t> nextDeadline() const override;

    // Bytes for the host, taken by the line.
    std::vector<uint8_t>& output() override { return output_; }
    bool dropped() const override { return stats_.dropped; }
    const std::vector<uint8_t>& data() const { return data_; }
    const XmodemPeerStats& stats() const { return stats_; }
    bool done() const { return stats_.finished || stats_.dropped || gaveUp_; }
    // One line per event, for the simulator's trace.
    const std::vector<std::string>& frames() const { return frames_; }

  private:
    void start(uint64_t now);
    void sendBlock(uint64_t now);
    void senderByte(uint8_t byte, uint64_t now);
    void receiverByte(uint8_t byte, uint64_t now);
    void finishBlock(uint64_t now);
    void emit(uint8_t byte) { output_.push_back(byte); }
    void strayAnswer();
    void note(const std::string& frame) { frames_.push_back(frame); }
    bool faultAt(XmodemPeerFault fault, uint32_t block);

    Role role_;
    std::vector<uint8_t> data_;
    XmodemPeerFault fault_;
    uint32_t at_;
    bool faultUsed_ = false;
    std::vector<uint8_t> output_;
    std::vector<std::string> frames_;
    XmodemPeerStats stats_;
    std::optional<uint64_t> deadline_;
    bool started_ = false;
    bool gaveUp_ = false;

    // Sender state.
    uint32_t block_ = 1;       // block to send, counted from 1 without wrapping
    bool eotPhase_ = false;
    bool repeatPending_ = false;
    uint32_t naksSeen_ = 0;        // for the stray faults
    uint32_t straysSent_ = 0;
    std::vector<uint8_t> paced_;   // the rest of a dribbled block
    uint64_t pacedAt_ = 0;         // when its next byte goes out

    // Receiver state.
    std::vector<uint8_t> incoming_; // the block being collected, SOH included
    uint32_t expected_ = 1;
    uint32_t startNaks_ = 0;
    uint32_t idleNaks_ = 0;
    bool eotPending_ = false;
};

} // namespace zsim

#endif
