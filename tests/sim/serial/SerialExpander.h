// A serial expander: a thread on a pseudo-terminal master that plays the programs answering on an
// expander's serial debug port (the family Ostrel boot-ROM monitor, the family Quenza boot ROM, the two
// bootstrap loaders, a RAM-debug program) over the same Expander model the other front ends use.
//
// The line: the host's speed is read from the terminal (tcgetattr on the master shows the slave's), its
// data bits and parity from the preload's record of the host's last tcsetattr. Each program runs at its
// own setting. A byte crosses a mismatched line by one rule: when one speed is at least twice the other
// nothing crosses; other speed differences turn it into junk (the byte complemented, bit 7 set); equal
// speeds with another frame set bit 7; a 7-bit line clears bit 7.
//
// The family Quenza serial debug bridge line (a firmware console in the setup): the boot ROM answers at
// 38400 7N1, a carriage return with its echo and "\n% ", and its binary frames cross that line whole; the
// firmware's console shares the line and hears only bytes sent at the frame its own UART holds.
#ifndef ZSIM_SERIAL_EXPANDER_H
#define ZSIM_SERIAL_EXPANDER_H

#include "console/LineEndpoint.h"
#include "model/Expander.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zsim {

enum class SerialProgram { OstrelMonitor, QuenzaRom, OstrelBootstrap, QuenzaBootstrap, RamDebug };
const char* serialProgramName(SerialProgram program);

enum class SerialFaultKind {
    Silence,     // the command is carried out, its reply never sent
    Garbled,     // every reply byte has bits 0 and 5 flipped
    ShortReply,  // only the first `argument` reply bytes are sent
    StalePrompt, // `argument` extra prompt bytes follow the reply
    WrongEcho,   // the monitor echoes a different character
    MissingEcho, // the monitor echoes nothing
    DropLine,    // the line drops (the host's reads and writes fail with EIO)
    Random,      // the reply is damaged at random (cut, dropped, repeated, flipped, padded with noise);
                 // `argument` seeds it, and the same seed damages the same way
};

// Matches commands by name ("any" for all; "echo" for each character the monitor echoes) and optionally
// by address (or cell); lets `skip` through, then strikes `count` times (0: always).
struct SerialFault {
    std::string command = "any";
    std::optional<uint32_t> address;
    SerialFaultKind kind = SerialFaultKind::Silence;
    uint32_t argument = 0;
    uint32_t skip = 0;
    uint32_t count = 1;
    uint32_t seen = 0;
    uint32_t struck = 0;
};

struct SerialSetup {
    SerialProgram start = SerialProgram::OstrelMonitor;
    // What RAM must hold when the ARM starts from it for each bootstrap to run; anything else runs as a
    // RAM-debug program.
    std::vector<uint8_t> ostrelBootstrap;
    std::vector<uint8_t> quenzaBootstrap;
    // Length of the boot ROM's answer to "r,4,0\r": 13 or 18 bytes.
    uint32_t romProbeLength = 13;
    std::vector<SerialFault> faults;
    // Real-time pacing: every character on the line takes ten bit times, both ways.
    bool pacing = false;
    // The firmware console on the family Quenza serial debug bridge line (not owned); null: no console.
    LineEndpoint* firmwareConsole = nullptr;
};

struct LineSetting {
    uint32_t speed = 0;
    int dataBits = 8;
    int parity = 0;
    int stopBits = 1;
};

// One byte on the line.
struct SerialByte {
    bool toDevice = true;
    uint8_t byte = 0;
    bool crossed = false;
    LineSetting host;
    LineSetting device;
    bool console = false; // the firmware console's byte, not the debug program's
};

// One complete command a program received.
struct SerialFrame {
    SerialProgram program;
    std::string command;
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

class SerialExpander {
  public:
    SerialExpander(Expander& model, SerialSetup setup);
    ~SerialExpander();
    SerialExpander(const SerialExpander&) = delete;
    SerialExpander& operator=(const SerialExpander&) = delete;

    // The slave's path, for the product to open.
    const std::string& path() const { return path_; }

    std::vector<SerialFrame> frames() const;
    std::vector<SerialByte> bytes() const;
    // Bytes the host wrote, as it wrote them.
    std::vector<uint8_t> hostBytes() const;
    std::vector<std::string> programSwitches() const;
    SerialProgram program() const;
    uint32_t ramWritesWhileRunning() const;
    std::vector<SerialFault> faults() const;
    void clearRecord();

    // Runs fn on the model with the expander's thread held off.
    template <typename F> auto inspect(F fn) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return fn(model_);
    }

    // The silence wait for tests: true as soon as the descriptor has input, false once this expander has
    // nothing more to say (its thread waits for input and nothing is in flight).
    static bool silenceWait(int descriptor, uint32_t tenths);
    // True while the expander's thread waits for input with nothing in flight.
    bool settled() const;

    struct Impl;

  private:
    bool quiescent() const;
    void run();

    Expander& model_;
    std::unique_ptr<Impl> impl_;
    std::string path_;
    int master_ = -1;
    int heldSlave_ = -1;
    int wake_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> idle_{false};
    std::atomic<uint64_t> generation_{0};
    std::thread thread_;
};

} // namespace zsim

#endif
