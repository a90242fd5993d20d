// The expander firmware's serial console over the expander model: a line of text ended by a carriage
// return is a command; every answer is "\r\n", the command's output and the prompt "\n cmd >". Register
// and memory commands (mr8, mr32, mw8, mw16, mw32) work on the address space, the transfer commands move
// data with XMODEM (ful and fdl on the data buffers, mul and mdl on memory), and regerase, buffsize,
// ipconfig and "reset watchdog" act on the model. The acknowledgement text of a transfer command fills
// exactly the length the command's row gives (echo included), and the closing text is its fixed length
// plus the digits of the byte count. Faults make one command misbehave.
#ifndef ZSIM_CONSOLE_PERSONA_H
#define ZSIM_CONSOLE_PERSONA_H

#include "console/LineEndpoint.h"
#include "console/XmodemPeer.h"
#include "model/Expander.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zsim {

// Expander registers the console's host reads to find the firmware and its UART.
inline constexpr uint32_t kP2hRegister = 0x42400010;       // low byte '>' while the console runs
inline constexpr uint32_t kUartLineControl = 0x4280000C;   // bit 7: divisor latch access
inline constexpr uint32_t kUartDivisorLow = 0x42800000;    // the divisor while bit 7 is set

enum class ConsoleFaultKind {
    Silence,         // no answer at all
    NoAddress,       // a read's answer without the address
    PrefixNoDigits,  // a read's answer with "0x" and no digits
    Nul,             // a read's answer with a NUL inside the number
    OverLong,        // an answer of 400 bytes more
    Slow,            // the answer after `argument` milliseconds
    DropMidReply,    // half the answer, then the line drops
    OverLongAck,     // the acknowledgement runs `argument` bytes past its length, holding 'q'
    ClosingShort,    // the closing text one byte short
    ClosingLong,     // the closing text one byte long
    Xmodem,          // the transfer's XMODEM peer misbehaves (xmodem, at)
    Refuse,          // the command is refused ("Xmodem Transfer Failed" for transfers)
};

struct ConsoleFault {
    std::string command; // first word of the command line; empty: any
    ConsoleFaultKind kind = ConsoleFaultKind::Silence;
    uint32_t argument = 0;
    XmodemPeerFault xmodem = XmodemPeerFault::None;
    uint32_t at = 1;
    uint32_t skip = 0;  // matching commands let through first
    uint32_t count = 1; // times it strikes; 0 = always
    uint32_t seen = 0;
    uint32_t struck = 0;
};

struct ConsoleOptions {
    bool echo = false;
    uint8_t lineControl = 0x03; // the firmware UART's frame: 8N1
    uint8_t divisor = 3;        // 1 115200, 2 57600, other 38400
};

class ConsolePersona : public LineEndpoint {
  public:
    ConsolePersona(Expander& expander, ConsoleOptions options = {});

    void begin(uint64_t now) override;
    void onBytes(const uint8_t* bytes, size_t count, uint64_t now) override;
    void onTime(uint64_t now) override;
    std::optional<uint64_t> nextDeadline() const override;
    std::vector<uint8_t>& output() override { return output_; }
    bool dropped() const override { return dropped_; }
    // The firmware UART's frame as its line control register and divisor hold it now.
    std::optional<UartFrame> frame() const override;
    void onFrame(const UartFrame& frame) override;

    void addFault(ConsoleFault fault) { faults_.push_back(std::move(fault)); }
    const std::vector<ConsoleFault>& faults() const { return faults_; }
    // Every frame the host set, command line, XMODEM frame and drop, in order.
    const std::vector<std::string>& trace() const { return trace_; }
    // The command lines alone.
    const std::vector<std::string>& commands() const { return commands_; }
    // The peer of the last transfer (null before any).
    const XmodemPeer* lastTransfer() const { return lastPeer_.get(); }
    // True while an XMODEM transfer is under way: the host's bytes go to its peer, not to the console.
    bool inTransfer() const { return peer_ != nullptr; }

  private:
    void execute(const std::string& line, uint64_t now);
    void reply(const std::string& body);
    void emitText(const std::string& text);
    ConsoleFault* strike(const std::string& command);
    void startTransfer(XmodemPeer::Role role, std::vector<uint8_t> data, size_t echoLength, uint32_t ackLimit,
                       uint32_t closingFixed, std::function<bool(const std::vector<uint8_t>&)> finish,
                       uint64_t now);
    void pumpTransfer(uint64_t now);

    Expander& expander_;
    ConsoleOptions options_;
    std::string line_;
    std::vector<uint8_t> output_;
    std::vector<uint8_t> delayed_;
    std::optional<uint64_t> delayedAt_;
    bool dropped_ = false;
    std::vector<ConsoleFault> faults_;
    ConsoleFault* active_ = nullptr; // the fault of the command being answered
    std::vector<std::string> trace_;
    std::vector<std::string> commands_;

    // The transfer under way.
    std::shared_ptr<XmodemPeer> peer_;
    std::shared_ptr<XmodemPeer> lastPeer_;
    uint64_t now_ = 0;
    size_t peerFrames_ = 0;
    uint32_t closingFixed_ = 0;
    uint32_t closingCount_ = 0;
    std::function<bool(const std::vector<uint8_t>&)> finish_;
};

} // namespace zsim

#endif
