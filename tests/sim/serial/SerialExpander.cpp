#include "serial/SerialExpander.h"

#include "console/ReplyMutator.h"

#include "console/HostFrame.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace zsim {

namespace {

constexpr uint32_t kRamSize = 0x40000;
constexpr uint32_t kOstrelMisc = 0x40900018;
constexpr uint32_t kOstrelBaudSelect = 0x7U << 11;
constexpr uint32_t kOstrelBootFromRam = 8;
constexpr uint32_t kQuenzaBootFromRam = 0;
// The longest block read a bootstrap serves; it ignores a longer one. The length is the host's word, and
// a frame torn or shifted on the line can carry any length at all.
constexpr uint32_t kMaxBlockRead = 4096;

std::atomic<SerialExpander*> sActive{nullptr};

using HookSetter = void (*)(void (*)(int));

// Before the host changes its line setting, the expander takes what was written at the old one; before
// the host flushes a queue, it takes what was written and sends its answers, so that a flush of output
// discards nothing already written and a flush of input every answer so far, whenever this thread runs.
void settleBeforeLineChange(int) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        SerialExpander* active = sActive;
        if (active == nullptr || active->settled())
            return;
        const timespec wait{0, 50000};
        ppoll(nullptr, 0, &wait, nullptr);
    }
}

uint64_t nowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// A real pause, not one of the program's sleeps (the preload makes those return at once).
void realPause(std::chrono::nanoseconds span) {
    const timespec wait{static_cast<time_t>(span.count() / 1000000000), static_cast<long>(span.count() % 1000000000)};
    ppoll(nullptr, 0, &wait, nullptr);
}

// whole: the line carries all eight bits even at a 7-bit setting (the serial debug bridge's frames).
std::optional<uint8_t> cross(uint8_t byte, const LineSetting& from, const LineSetting& to, bool whole = false) {
    if (from.speed == 0 || to.speed == 0)
        return std::nullopt;
    const uint32_t fast = std::max(from.speed, to.speed);
    const uint32_t slow = std::min(from.speed, to.speed);
    if (fast >= 2 * slow)
        return std::nullopt;
    if (fast != slow)
        return static_cast<uint8_t>(~byte | 0x80);
    if (from.dataBits != to.dataBits || from.parity != to.parity)
        return static_cast<uint8_t>(byte | 0x80);
    if (to.dataBits == 7 && !whole)
        return static_cast<uint8_t>(byte & 0x7F);
    return byte;
}

uint32_t le(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 | static_cast<uint32_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(b[at + 3]) << 24;
}
uint32_t be(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
           static_cast<uint32_t>(b[at + 2]) << 8 | static_cast<uint32_t>(b[at + 3]);
}
void putLe(std::vector<uint8_t>& out, uint32_t v, int n = 4) {
    for (int i = 0; i < n; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

} // namespace

const char* serialProgramName(SerialProgram program) {
    switch (program) {
    case SerialProgram::OstrelMonitor: return "ostrel-monitor";
    case SerialProgram::QuenzaRom: return "quenza-rom";
    case SerialProgram::OstrelBootstrap: return "ostrel-bootstrap";
    case SerialProgram::QuenzaBootstrap: return "quenza-bootstrap";
    case SerialProgram::RamDebug: return "ram-debug";
    }
    return "?";
}

struct SerialExpander::Impl {
    Expander& model;
    SerialSetup setup;
    SerialProgram program;
    std::vector<SerialFrame> frames;
    std::vector<SerialByte> bytes;
    std::vector<uint8_t> hostBytes;
    std::vector<std::string> switches;
    uint32_t ramWritesWhileRunning = 0;
    bool armRunning = true;
    std::optional<SerialProgram> pendingSwitch;
    bool dropLine = false;
    std::vector<uint8_t> output;
    // Parser state of the program running.
    std::vector<uint8_t> frame;
    uint32_t dataExpected = 0; // flash-write data still to come
    uint32_t baudZeros = 0;    // zero bytes awaited after the Quenza bootstrap's baud command
    bool quenzaBootstrapFast = false;
    uint8_t cells[16] = {};
    UartFrame consoleFrame; // the frame the firmware console was last told of
    std::optional<ReplyMutator> mutator; // the Random fault's, seeded when it first strikes

    // The line is busy until then; a paced character waits for it and takes its ten bit times.
    std::chrono::steady_clock::time_point lineFree{};
    void pace(uint32_t speed) {
        if (speed == 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (lineFree < now)
            lineFree = now;
        lineFree += std::chrono::nanoseconds(10'000'000'000LL / speed);
        // Short waits are gathered: the timer's own latency would otherwise add to each character.
        if (lineFree - now > std::chrono::milliseconds(2))
            realPause(std::chrono::duration_cast<std::chrono::nanoseconds>(lineFree - now));
    }

    Impl(Expander& m, SerialSetup s) : model(m), setup(std::move(s)), program(setup.start) {
        if (program == SerialProgram::OstrelMonitor) {
            // After reset the monitor runs at 38400: the baud select bits are set.
            uint32_t misc = model.space().readWord(kOstrelMisc);
            model.space().writeWord(kOstrelMisc, misc | kOstrelBaudSelect);
        }
    }

    LineSetting deviceLine() const {
        switch (program) {
        case SerialProgram::OstrelMonitor: {
            const uint32_t misc = model.space().readWord(kOstrelMisc);
            return {(misc & kOstrelBaudSelect) != 0 ? 38400U : 115200U, 7, 0};
        }
        case SerialProgram::QuenzaBootstrap: return {quenzaBootstrapFast ? 115200U : 57600U, 8, 0};
        case SerialProgram::QuenzaRom:
            if (bridge())
                return {38400, 7, 0};
            return {115200, 8, 0};
        default: return {115200, 8, 0};
        }
    }

    // The serial debug bridge line: the boot ROM shares it with the firmware console.
    bool bridge() const { return setup.firmwareConsole != nullptr; }
    // Whether the firmware console hears a byte the host sent at this setting.
    bool consoleHears(const LineSetting& host) const {
        if (!bridge())
            return false;
        const std::optional<UartFrame> frame = setup.firmwareConsole->frame();
        return frame && frame->speed == host.speed && frame->dataBits == host.dataBits &&
               frame->parity == host.parity && frame->stopBits == host.stopBits;
    }
    LineSetting consoleLine() const {
        const std::optional<UartFrame> frame = bridge() ? setup.firmwareConsole->frame() : std::nullopt;
        if (!frame)
            return {};
        return {frame->speed, frame->dataBits, frame->parity, frame->stopBits};
    }

    // The fault that strikes this command, if any.
    std::optional<SerialFault> strike(const std::string& command, uint32_t address) {
        for (SerialFault& f : setup.faults) {
            if (f.command != "any" && f.command != command)
                continue;
            if (f.address && *f.address != address)
                continue;
            if (f.command == "any" && command == "echo")
                continue;
            ++f.seen;
            if (f.seen <= f.skip || (f.count != 0 && f.struck >= f.count))
                continue;
            ++f.struck;
            return f;
        }
        return std::nullopt;
    }

    void record(const std::string& command, uint32_t address) {
        frames.push_back({program, command, address, frame});
    }

    uint8_t promptByte() const {
        return program == SerialProgram::QuenzaRom || program == SerialProgram::OstrelMonitor ? '%' : '#';
    }

    // Sends a command's reply through the fault that strikes it.
    void reply(const std::string& command, uint32_t address, std::vector<uint8_t> bytesOut) {
        const auto fault = strike(command, address);
        if (fault) {
            switch (fault->kind) {
            case SerialFaultKind::Silence: return;
            case SerialFaultKind::Garbled:
                for (uint8_t& b : bytesOut)
                    b ^= 0x21;
                break;
            case SerialFaultKind::ShortReply: bytesOut.resize(std::min<size_t>(bytesOut.size(), fault->argument)); break;
            case SerialFaultKind::StalePrompt: bytesOut.insert(bytesOut.end(), fault->argument, promptByte()); break;
            case SerialFaultKind::DropLine: dropLine = true; return;
            case SerialFaultKind::Random:
                if (!mutator)
                    mutator.emplace(fault->argument, 1.0);
                bytesOut = mutator->apply(std::move(bytesOut));
                break;
            default: break;
            }
        }
        output.insert(output.end(), bytesOut.begin(), bytesOut.end());
    }

    void switchTo(SerialProgram next) {
        switches.push_back(std::string(serialProgramName(program)) + "->" + serialProgramName(next));
        program = next;
        frame.clear();
        dataExpected = 0;
        baudZeros = 0;
        quenzaBootstrapFast = false;
    }

    // ---- the address space, with what a write sets off ----

    uint32_t readWord(uint32_t address) const {
        std::vector<uint8_t> out;
        model.readMemory(address, 4, out);
        out.resize(4, 0);
        return le(out, 0);
    }
    uint8_t readByte(uint32_t address) const {
        std::vector<uint8_t> out;
        model.readMemory(address, 1, out);
        return out.empty() ? 0 : out[0];
    }
    void write(uint32_t address, uint32_t value, uint32_t length) {
        std::vector<uint8_t> in;
        putLe(in, value, static_cast<int>(length));
        if (address < kRamSize && armRunning)
            ++ramWritesWhileRunning;
        model.writeMemory(address, in);
        const FamilyTraits& t = model.traits();
        if (address == t.armControlAddress && length == 4) {
            if (value == 0)
                armRunning = false;
            if (value == 1) {
                armRunning = true;
                const uint32_t boot = model.space().readWord(t.armControlAddress + 4);
                const bool ostrel = model.family() == Family::Ostrel;
                if (boot == (ostrel ? kOstrelBootFromRam : kQuenzaBootFromRam))
                    pendingSwitch = startFromRam(ostrel);
            }
        }
    }
    SerialProgram startFromRam(bool ostrel) const {
        const std::vector<uint8_t>& image = ostrel ? setup.ostrelBootstrap : setup.quenzaBootstrap;
        if (image.empty())
            return SerialProgram::RamDebug;
        std::vector<uint8_t> ram(image.size());
        model.space().read(0, ram);
        if (ram == image)
            return ostrel ? SerialProgram::OstrelBootstrap : SerialProgram::QuenzaBootstrap;
        return SerialProgram::RamDebug;
    }

    // ---- the programs ----

    void feed(uint8_t byte) {
        switch (program) {
        case SerialProgram::OstrelMonitor: return monitor(byte);
        case SerialProgram::QuenzaRom: return quenzaRom(byte);
        case SerialProgram::OstrelBootstrap: return ostrelBootstrap(byte);
        case SerialProgram::QuenzaBootstrap: return quenzaBootstrap(byte);
        case SerialProgram::RamDebug: return;
        }
    }

    static int hex(uint8_t c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    void monitor(uint8_t byte) {
        const auto echoFault = strike("echo", static_cast<uint32_t>(frame.size()));
        if (!echoFault || echoFault->kind != SerialFaultKind::MissingEcho)
            output.push_back(echoFault && echoFault->kind == SerialFaultKind::WrongEcho ? static_cast<uint8_t>(byte ^ 0x01)
                                                                                        : byte);
        if (byte != '\r') {
            frame.push_back(byte);
            return;
        }
        const std::string line(frame.begin(), frame.end());
        std::string answer = "\n% ";
        std::string command = "probe";
        uint32_t cell = 0;
        if (line.size() == 6 && line[0] == 'p' && line[1] == ' ' && line[3] == ' ' && hex(line[2]) >= 0 &&
            hex(line[4]) >= 0 && hex(line[5]) >= 0) {
            command = "poke";
            cell = static_cast<uint32_t>(hex(line[2]));
            cells[cell] = static_cast<uint8_t>(hex(line[4]) * 16 + hex(line[5]));
            if (cell == 0xC && cells[cell] == 1)
                monitorGo();
        } else if (line.size() >= 3 && line[0] == 'd' && line[1] == ' ' && hex(line[2]) >= 0) {
            command = "dump";
            cell = static_cast<uint32_t>(hex(line[2])) & 0xF;
            char text[40];
            std::snprintf(text, sizeof text, "\n  loc  %x <= %02x\n\n%% ", cell, cells[cell]);
            answer = text;
        } else if (!line.empty()) {
            command = "unknown";
        }
        record(command, cell);
        frame.clear();
        reply(command, cell, std::vector<uint8_t>(answer.begin(), answer.end()));
    }

    void monitorGo() {
        uint32_t address = cells[0] | cells[1] << 8 | cells[2] << 16 | static_cast<uint32_t>(cells[3]) << 24;
        // On A0 silicon the access kind rides in bits 24 and 27 of the address.
        if (static_cast<uint8_t>(model.space().readWord(model.traits().deviceSignatureAddress) >> 8) == 0)
            address &= ~0x09000000U;
        const bool writeAccess = (cells[8] & 1) != 0;
        const bool byteAccess = (cells[8] & 2) != 0;
        if (writeAccess) {
            const uint32_t data = cells[4] | cells[5] << 8 | cells[6] << 16 | static_cast<uint32_t>(cells[7]) << 24;
            write(address, byteAccess ? cells[4] : data, byteAccess ? 1 : 4);
        } else if (byteAccess) {
            cells[4] = readByte(address);
        } else {
            const uint32_t v = readWord(address);
            for (int i = 0; i < 4; ++i)
                cells[4 + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    }

    void quenzaRom(uint8_t byte) {
        if (frame.empty() && byte != 'p' && byte != 'g' && byte != 'r') {
            if (byte == '\r') {
                frame.push_back(byte);
                record("probe", 0);
                frame.clear();
                // On the bridge line the carriage return is echoed before the prompt.
                if (bridge())
                    reply("probe", 0, {'\r', '\n', '%', ' '});
                else
                    reply("probe", 0, {'%'});
            }
            return;
        }
        frame.push_back(byte);
        if (frame[0] == 'r') {
            if (byte != '\r')
                return;
            record("version", 0);
            const bool ok = frame == std::vector<uint8_t>{'r', ',', '4', ',', '0', '\r'};
            frame.clear();
            if (!ok)
                return;
            const uint32_t signature = model.space().readWord(model.traits().deviceSignatureAddress);
            char text[32];
            if (setup.romProbeLength == 18)
                std::snprintf(text, sizeof text, "r,4,0\r\n%08X\r\n%%", signature);
            else
                std::snprintf(text, sizeof text, "r,4,0\r\n%04X\r%%", signature >> 16);
            reply("version", 0, std::vector<uint8_t>(text, text + std::strlen(text)));
            return;
        }
        const size_t length = frame[0] == 'p' ? 11 : 7;
        if (frame.size() < length)
            return;
        const uint32_t address = be(frame, 2);
        const bool wellFormed = frame[1] == 0x04 && frame[length - 1] == 0x0D;
        const std::string command(1, static_cast<char>(frame[0]));
        record(command, address);
        std::vector<uint8_t> answer;
        if (wellFormed && frame[0] == 'p') {
            write(address, be(frame, 6), 4);
            answer = {'%'};
        } else if (wellFormed) {
            const uint32_t v = readWord(address);
            answer = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                      static_cast<uint8_t>(v), '%'};
        }
        frame.clear();
        if (!answer.empty())
            reply(command, address, answer);
    }

    // One byte of a bootstrap's flash-write data; the header (offset and length words end at `header`)
    // came before it. The last byte writes the data into the flash and answers '#'.
    void flashData(uint8_t byte, size_t header) {
        frame.push_back(byte);
        if (--dataExpected != 0)
            return;
        const uint32_t offset = le(frame, header - 8);
        const uint32_t length = le(frame, header - 4);
        model.flash().write(offset, std::span<const uint8_t>(frame.data() + header, length));
        record("f", offset);
        frame.clear();
        reply("f-data", offset, {'#'});
    }

    void ostrelBootstrap(uint8_t byte) {
        if (dataExpected > 0) {
            flashData(byte, 10);
            return;
        }
        if (frame.empty()) {
            if (byte == '\r') {
                frame.push_back(byte);
                record("probe", 0);
                frame.clear();
                reply("probe", 0, {'#'});
                return;
            }
            if (byte != 'w' && byte != 'r' && byte != 'f')
                return;
        }
        frame.push_back(byte);
        const uint8_t first = frame[0];
        if (frame.size() == 2 && first != 'f' && !((first == 'w' && (byte == 'w' || byte == 'b')) || (first == 'r' && byte == 'B'))) {
            frame.clear();
            return;
        }
        if (frame.size() == 3 && first != 'f' && byte != ' ') {
            frame.clear();
            return;
        }
        const size_t length = first == 'f' ? 10 : (first == 'w' && frame.size() >= 2 && frame[1] == 'b') ? 8 : 11;
        if (frame.size() < length)
            return;
        if (first == 'f') {
            dataExpected = le(frame, 6);
            reply("f", le(frame, 2), {'#'});
            if (dataExpected == 0)
                frame.clear();
            return;
        }
        const uint32_t address = le(frame, 3);
        if (first == 'w') {
            const bool byteWrite = frame[1] == 'b';
            write(address, byteWrite ? frame[7] : le(frame, 7), byteWrite ? 1 : 4);
            const std::string command = byteWrite ? "wb" : "ww";
            record(command, address);
            frame.clear();
            reply(command, address, {'#'});
            return;
        }
        const uint32_t count = le(frame, 7);
        record("rB", address);
        frame.clear();
        if (count > kMaxBlockRead)
            return;
        std::vector<uint8_t> data;
        model.readMemory(address, count, data);
        data.resize(count, 0);
        std::vector<uint8_t> answer{'#'};
        answer.insert(answer.end(), data.begin(), data.end());
        answer.push_back('#');
        reply("rB", address, answer);
    }

    void quenzaBootstrap(uint8_t byte) {
        if (baudZeros > 0) {
            if (byte != 0) {
                baudZeros = 0;
                return;
            }
            if (--baudZeros == 0)
                reply("baud-confirm", 0, {'#'});
            return;
        }
        if (dataExpected > 0) {
            flashData(byte, 11);
            return;
        }
        if (frame.empty()) {
            if (byte == '\r') {
                frame.push_back(byte);
                record("probe", 0);
                frame.clear();
                reply("probe", 0, {0, 0, 0, 0, '#'});
                return;
            }
            if (byte != 0xCA)
                return;
        }
        frame.push_back(byte);
        if (frame.size() == 2 && byte != 0xFE) {
            frame.clear();
            return;
        }
        if (frame.size() < 3)
            return;
        size_t length = 0;
        switch (frame[2]) {
        case 0x01: length = 15; break;
        case 0x03: length = 12; break;
        case 0x04: case 0x05: case 0x07: case 0x0E: length = 11; break;
        case 0x0A: length = 4; break;
        case 0x0B: length = 3; break;
        default: frame.clear(); return;
        }
        if (frame.size() < length)
            return;
        const uint8_t command = frame[2];
        const uint32_t address = length >= 7 ? le(frame, 3) : 0;
        static const char* const kNames[16] = {"", "ww", "", "wb", "rw", "rB", "", "f", "", "", "baud", "sdb", "", "", "rb", ""};
        const std::string name = kNames[command];
        if (command != 0x07)
            record(name, address);
        const std::vector<uint8_t> status = {0, 0, 0, 0, '#'};
        std::vector<uint8_t> answer;
        switch (command) {
        case 0x01: write(address, le(frame, 11), 4); answer = status; break;
        case 0x03: write(address, frame[11], 1); answer = status; break;
        case 0x04: putLe(answer, readWord(address)); answer.insert(answer.end(), status.begin(), status.end()); break;
        case 0x0E: answer.push_back(readByte(address)); answer.insert(answer.end(), status.begin(), status.end()); break;
        case 0x05: {
            const uint32_t count = le(frame, 7);
            if (count > kMaxBlockRead) {
                frame.clear();
                return;
            }
            std::vector<uint8_t> data;
            model.readMemory(address, count, data);
            data.resize(count, 0);
            answer.push_back(0);
            answer.insert(answer.end(), data.begin(), data.end());
            answer.push_back('#');
            break;
        }
        case 0x07:
            dataExpected = le(frame, 7);
            reply("f", address, {'#'});
            if (dataExpected == 0)
                frame.clear();
            return;
        case 0x0A:
            frame.clear();
            quenzaBootstrapFast = true;
            baudZeros = 3;
            return;
        case 0x0B:
            frame.clear();
            pendingSwitch = SerialProgram::QuenzaRom;
            return;
        default: break;
        }
        frame.clear();
        reply(name, address, answer);
    }
};

SerialExpander::SerialExpander(Expander& model, SerialSetup setup)
    : model_(model), impl_(std::make_unique<Impl>(model, std::move(setup))) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[64] = {};
    if (ptsname_r(master_, name, sizeof name) != 0)
        throw std::runtime_error("no pseudo-terminal name");
    path_ = name;
    // Held for the whole life of the expander, so that the product's closes never hang the line up.
    heldSlave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
    termios attributes{};
    tcgetattr(master_, &attributes);
    cfmakeraw(&attributes);
    tcsetattr(master_, TCSANOW, &attributes);
    if (pipe(wake_) != 0)
        throw std::runtime_error("no pipe");
    if (impl_->setup.firmwareConsole != nullptr)
        impl_->setup.firmwareConsole->begin(nowMs());
    sActive = this;
    if (auto setHook = reinterpret_cast<HookSetter>(dlsym(RTLD_DEFAULT, "zsim_serialSetLineChangeHook")))
        setHook(settleBeforeLineChange);
    thread_ = std::thread([this] { run(); });
}

SerialExpander::~SerialExpander() {
    stop_ = true;
    if (wake_[1] >= 0) {
        const char c = 0;
        (void)::write(wake_[1], &c, 1);
    }
    if (thread_.joinable())
        thread_.join();
    SerialExpander* self = this;
    if (sActive.compare_exchange_strong(self, nullptr))
        if (auto setHook = reinterpret_cast<HookSetter>(dlsym(RTLD_DEFAULT, "zsim_serialSetLineChangeHook")))
        setHook(nullptr);
    for (int fd : {master_, heldSlave_, wake_[0], wake_[1]})
        if (fd >= 0)
            ::close(fd);
}

namespace {

LineSetting hostLine(int master, int slave) {
    const UartFrame frame = hostFrame(master, slave);
    return {frame.speed, frame.dataBits, frame.parity, frame.stopBits};
}

} // namespace

void SerialExpander::run() {
    LineEndpoint* console = impl_->setup.firmwareConsole;
    while (!stop_) {
        ++generation_;
        idle_ = true;
        pollfd entries[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        // A console keeps time of its own (slow answers, transfer time-outs): it is woken now and then.
        const int ready = poll(entries, 2, console != nullptr ? 5 : -1);
        idle_ = false;
        ++generation_;
        if (stop_ || ready < 0)
            break;
        uint8_t input[256];
        ssize_t n = 0;
        if ((entries[0].revents & POLLIN) != 0)
            n = ::read(master_, input, sizeof input);
        if (n <= 0 && console == nullptr)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        Impl& d = *impl_;
        for (ssize_t i = 0; i < n; ++i) {
            const LineSetting host = hostLine(master_, heldSlave_);
            const LineSetting device = d.deviceLine();
            d.hostBytes.push_back(input[i]);
            // Paced, a character takes its ten bit times to arrive.
            if (d.setup.pacing)
                d.pace(host.speed);
            if (d.program != SerialProgram::QuenzaRom || !d.bridge() ||
                host.speed != device.speed || host.dataBits != device.dataBits || host.parity != device.parity) {
                if (d.consoleHears(host)) {
                    const UartFrame frame{host.speed, host.dataBits, host.parity, host.stopBits};
                    if (frame != d.consoleFrame) {
                        console->onFrame(frame);
                        d.consoleFrame = frame;
                    }
                    d.bytes.push_back({true, input[i], true, host, d.consoleLine(), true});
                    console->onBytes(&input[i], 1, nowMs());
                    continue;
                }
            }
            const auto crossed = cross(input[i], host, device, d.bridge());
            d.bytes.push_back({true, input[i], crossed.has_value(), host, device});
            if (crossed)
                d.feed(*crossed);
            // The reply goes out at the setting the program had while it answered, in one piece unless paced.
            std::vector<uint8_t> reply;
            for (uint8_t out : d.output) {
                const auto back = cross(out, device, host, d.bridge());
                d.bytes.push_back({false, out, back.has_value(), host, device});
                if (!back)
                    continue;
                if (!d.setup.pacing) {
                    reply.push_back(*back);
                    continue;
                }
                d.pace(device.speed);
                (void)::write(master_, &*back, 1);
            }
            if (!reply.empty())
                (void)::write(master_, reply.data(), reply.size());
            d.output.clear();
            if (d.pendingSwitch) {
                d.switchTo(*d.pendingSwitch);
                d.pendingSwitch.reset();
            }
            if (d.dropLine)
                break;
        }
        if (console != nullptr && !d.dropLine) {
            // The console's answers leave at its own frame and cross to the host's by the line's rules.
            console->onTime(nowMs());
            std::vector<uint8_t> out;
            out.swap(console->output());
            const LineSetting host = hostLine(master_, heldSlave_);
            const LineSetting own = d.consoleLine();
            std::vector<uint8_t> crossed;
            for (uint8_t byte : out) {
                const auto back = cross(byte, own, host);
                d.bytes.push_back({false, byte, back.has_value(), host, own, true});
                if (!back)
                    continue;
                if (d.setup.pacing) {
                    d.pace(own.speed);
                    (void)::write(master_, &*back, 1);
                } else {
                    crossed.push_back(*back);
                }
            }
            if (!crossed.empty())
                (void)::write(master_, crossed.data(), crossed.size());
            if (console->dropped())
                d.dropLine = true;
        }
        if (d.dropLine) {
            ::close(master_);
            ::close(heldSlave_);
            master_ = -1;
            heldSlave_ = -1;
            stop_ = true;
            return;
        }
    }
}

bool SerialExpander::settled() const { return quiescent(); }

bool SerialExpander::quiescent() const {
    const uint64_t before = generation_;
    if (!idle_ || master_ < 0)
        return master_ < 0;
    pollfd entry{master_, POLLIN, 0};
    const bool pending = poll(&entry, 1, 0) > 0;
    if (pending || !idle_ || generation_ != before)
        return false;
    if (LineEndpoint* console = impl_->setup.firmwareConsole) {
        // A console with output to send or a timed event due soon has more to say.
        std::lock_guard<std::mutex> lock(mutex_);
        const auto next = console->nextDeadline();
        if (!console->output().empty() || (next && *next <= nowMs() + 100))
            return false;
    }
    return true;
}

bool SerialExpander::silenceWait(int descriptor, uint32_t /*tenths*/) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        pollfd entry{descriptor, POLLIN, 0};
        if (poll(&entry, 1, 0) > 0)
            return true;
        SerialExpander* active = sActive;
        if (active == nullptr || active->quiescent()) {
            pollfd again{descriptor, POLLIN, 0};
            return poll(&again, 1, 0) > 0;
        }
        realPause(std::chrono::microseconds(50));
    }
    return false;
}

std::vector<SerialFrame> SerialExpander::frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return impl_->frames;
}
std::vector<SerialByte> SerialExpander::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return impl_->bytes;
}
std::vector<uint8_t> SerialExpander::hostBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return impl_->hostBytes;
}
std::vector<std::string> SerialExpander::programSwitches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return impl_->switches;
}
SerialProgram SerialExpander::program() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return impl_->program;
}
uint32_t SerialExpander::ramWritesWhileRunning() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return impl_->ramWritesWhileRunning;
}
std::vector<SerialFault> SerialExpander::faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return impl_->setup.faults;
}
void SerialExpander::clearRecord() {
    std::lock_guard<std::mutex> lock(mutex_);
    impl_->frames.clear();
    impl_->bytes.clear();
    impl_->hostBytes.clear();
    impl_->switches.clear();
}

} // namespace zsim
