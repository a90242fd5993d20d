// The console's readers on seeded random and damaged answers, in virtual time: the console persona (and
// the bare XMODEM peer) answer through a mutator that cuts, drops, repeats, flips and pads their replies
// with random bytes, NULs, XMODEM control bytes and prompts. Whatever arrives, each operation ends with
// one of its documented statuses, within a bound of line time and of bytes sent, stores nothing past the
// size it was given, returns no value the reply did not hold, and never types a command into a transfer.
// A failure names its seed and shows what the product was shown.
#include "tests/console/virtualLine.h"

#include "console/ConsolePersona.h"
#include "console/MutatingEndpoint.h"
#include "console/ReplyMutator.h"
#include "console/XmodemPeer.h"
#include "ial/cliCommands.h"
#include "ial/cliRegions.h"
#include "osal/osalTime.h"
#include "osal/xmodem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using zsim::hexDump;
using zsim::MutatingEndpoint;
using zsim::ReplyMutator;

constexpr uint8_t kGuard = 0xA5;
constexpr uint32_t kGuardBytes = 64;
constexpr uint64_t kMaxOperationMs = 10 * 60 * 1000; // line time one operation may hold the line
constexpr size_t kMaxOperationWrites = 64 * 1024;    // bytes one operation may send
// The serial status a module operation passes on unchanged, as its unsigned result.
constexpr int64_t kLineFailedStatus = static_cast<uint32_t>(CLI_LINE_FAILED);
constexpr uint32_t kMemoryBase = 0x20000000;
constexpr uint8_t kDataBuffer = 0x80; // flash partition 0

std::vector<uint8_t> pattern(uint32_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i * 29 + seed * 7 + 1);
    // Control bytes inside the data: the readers must not take them for framing.
    const uint8_t controls[] = {0x01, 0x04, 0x18, 0x1A, 0x06, 0x15, 0x00, '\r'};
    for (uint32_t i = 0; i < size && i < sizeof controls; ++i)
        data[(i * 37) % size] = controls[i];
    return data;
}

std::string_view asText(const std::vector<uint8_t>& bytes, size_t from) {
    from = std::min(from, bytes.size());
    return {reinterpret_cast<const char*>(bytes.data()) + from, bytes.size() - from};
}

// True when the text holds "0x" (any case) followed by hexadecimal digits whose value, masked, is value.
bool holdsHexValue(std::string_view text, uint32_t value, uint32_t mask) {
    for (size_t i = 0; i + 2 < text.size(); ++i) {
        if (text[i] != '0' || (text[i + 1] != 'x' && text[i + 1] != 'X'))
            continue;
        uint64_t v = 0;
        size_t k = i + 2;
        for (; k < text.size() && std::isxdigit(static_cast<unsigned char>(text[k])) != 0; ++k)
            v = (v << 4) | static_cast<uint64_t>(std::stoi(std::string(1, text[k]), nullptr, 16));
        if (k > i + 2 && (static_cast<uint32_t>(v) & mask) == value)
            return true;
    }
    return false;
}

bool holdsDecimal(std::string_view text, uint32_t value) {
    return text.find(std::to_string(value)) != std::string_view::npos;
}

// A command line of the console: printable text ended by a carriage return.
bool isCommandLine(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 3 || bytes.back() != '\r')
        return false;
    return std::all_of(bytes.begin(), bytes.end() - 1, [](uint8_t b) { return b >= 0x20 && b < 0x7F; });
}

bool guardsIntact(const std::vector<uint8_t>& buffer, uint32_t size) {
    return std::all_of(buffer.begin() + size, buffer.end(), [](uint8_t b) { return b == kGuard; });
}

void noSleep(uint32_t) {}

// One expander's console behind the mutator, on a virtual line, and the module's target over it.
struct Bench {
    Bench(uint32_t seed, double rate, bool echo, zsim::Family family)
        : expander(family), persona(expander, zsim::ConsoleOptions{.echo = echo}), mutator(seed, rate),
          far(persona, mutator, [this] { return persona.inTransfer(); }), line(far) {
        zsim::FirmwareHeader header;
        header.signature = expander.traits().signature;
        expander.writeFirmwareHeader(header);
        expander.writeFlashTable(header.flashTableOffset, {{0, 0x100000, 0}, {5, 0x100000, 0x100000}});
        handle.options = &options;
        options.regionCount = 1;
        record.type = family == zsim::Family::Quenza ? ZELKOR_CHIP_QUENZA : ZELKOR_CHIP_OSTREL;
        expander.writeMemory(kMemoryBase, pattern(2048, seed));
        expander.writeBuffer(kDataBuffer, 0, pattern(2048, seed + 1));
    }
    CliLink link() { return CliLink{line, nullptr}; }
    CliTarget target() {
        return CliTarget{CliLink{line, &handle}, &handle, record,
                         [this](uint32_t op, uint32_t address, uint32_t data, uint32_t* out) {
                             return cliRegisterAccess(CliLink{line, &handle}, op, address, data, out);
                         },
                         true};
    }
    std::vector<uint8_t> memory(uint32_t address, uint32_t size) {
        std::vector<uint8_t> out;
        expander.readMemory(address, size, out);
        return out;
    }
    std::vector<uint8_t> buffer(uint8_t id, uint32_t offset, uint32_t size) {
        std::vector<uint8_t> out;
        expander.readBuffer(id, offset, size, out);
        return out;
    }

    zsim::Expander expander;
    zsim::ConsolePersona persona;
    ReplyMutator mutator;
    MutatingEndpoint far;
    VirtualLine line;
    ZELKOR_SHARED_VARS options{};
    ZELKOR_INSTANCE handle{};
    ZELKOR_EXPANDER record{};
};

// What one operation gives the checks.
struct Outcome {
    int64_t status = 0;
    bool valueOk = true;   // a value returned is held by what the product was shown
    bool storedOk = true;  // nothing stored past the size
    bool dataOk = true;    // the data matches the model (judged only when the answers were clean)
    std::string detail;
};

struct Operation {
    const char* name;
    std::set<int64_t> statuses; // the documented ones
    std::function<Outcome(Bench&, std::mt19937&, size_t shownFrom)> run;
};

uint32_t pick(std::mt19937& rng, uint32_t low, uint32_t high) {
    return low + static_cast<uint32_t>(rng() % (high - low + 1));
}

Outcome readRegister(Bench& b, std::mt19937& rng, size_t from, bool byte) {
    const uint32_t address = kMemoryBase + pick(rng, 0, 255) * (byte ? 1 : 4);
    uint32_t value = 0xDEADBEEF;
    Outcome o;
    o.status = cliRegisterAccess(b.link(), byte ? CLI_OP_BYTE : 0, address, 0, &value);
    const std::string_view shown = asText(b.far.shown(), from);
    if (o.status == 0) {
        o.valueOk = holdsHexValue(shown, value, byte ? 0xFF : 0xFFFFFFFF);
        std::vector<uint8_t> expected = b.memory(address, byte ? 1 : 4);
        uint32_t model = 0;
        std::memcpy(&model, expected.data(), expected.size());
        o.dataOk = value == model;
    } else {
        o.valueOk = value == 0;
    }
    o.detail = "value " + std::to_string(value);
    return o;
}

Outcome receive(Bench& b, std::mt19937& rng, bool flash) {
    const uint32_t size = pick(rng, 1, 700);
    const uint32_t offset = pick(rng, 0, 600);
    std::vector<uint8_t> buffer(size + kGuardBytes, kGuard);
    Outcome o;
    o.status = flash ? cli_ful_operation(b.link(), kDataBuffer, offset, buffer.data(), size)
                     : cli_mul_operation(b.link(), kMemoryBase + offset, buffer.data(), size);
    o.storedOk = guardsIntact(buffer, size);
    if (o.status == 0) {
        const std::vector<uint8_t> model =
            flash ? b.buffer(kDataBuffer, offset, size) : b.memory(kMemoryBase + offset, size);
        o.dataOk = std::equal(model.begin(), model.end(), buffer.begin());
    }
    o.detail = "size " + std::to_string(size);
    return o;
}

const std::vector<Operation>& operations() {
    static const std::vector<Operation> table = {
        {"wordRead", {0, CLI_LINE_FAILED}, [](Bench& b, std::mt19937& r, size_t f) { return readRegister(b, r, f, false); }},
        {"byteRead", {0, CLI_LINE_FAILED}, [](Bench& b, std::mt19937& r, size_t f) { return readRegister(b, r, f, true); }},
        {"write",
         {0, CLI_LINE_FAILED},
         [](Bench& b, std::mt19937& r, size_t) {
             const uint32_t ops[] = {CLI_OP_WRITE, CLI_OP_WRITE | CLI_OP_BYTE};
             Outcome o;
             o.status = cliRegisterAccess(b.link(), ops[r() % 2], kMemoryBase + pick(r, 0, 64), r(), nullptr);
             return o;
         }},
        {"buffsize",
         {0, 1},
         [](Bench& b, std::mt19937&, size_t from) {
             uint32_t capacity = 0xDEADBEEF;
             Outcome o;
             o.status = cli_buffsize_operation(b.link(), kDataBuffer, &capacity);
             o.valueOk = o.status == 0 ? holdsDecimal(asText(b.far.shown(), from), capacity) : capacity == 0xDEADBEEF;
             o.detail = "capacity " + std::to_string(capacity);
             return o;
         }},
        {"ipconfig",
         {0, 1},
         [](Bench& b, std::mt19937&, size_t from) {
             char ip[16];
             std::memset(ip, 'z', sizeof ip);
             Outcome o;
             o.status = getGen3ExpIPAddress(b.link(), ip);
             const size_t length = strnlen(ip, sizeof ip);
             o.storedOk = length < sizeof ip;
             if (o.status == 0 && o.storedOk && std::string_view(ip) != "0.0.0.0")
                 o.valueOk = asText(b.far.shown(), from).find(ip) != std::string_view::npos;
             o.detail = "ip " + std::string(ip, length);
             return o;
         }},
        {"watchdog", {0, 1}, [](Bench& b, std::mt19937&, size_t) { return Outcome{perform_reset_watchdog(b.link())}; }},
        {"regerase", {0, 1}, [](Bench& b, std::mt19937& r, size_t) { return Outcome{cli_regerase_operation(b.link(), pick(r, 0, 9))}; }},
        {"ful", {0, 1}, [](Bench& b, std::mt19937& r, size_t) { return receive(b, r, true); }},
        {"mul", {0, 1}, [](Bench& b, std::mt19937& r, size_t) { return receive(b, r, false); }},
        {"fdl",
         {0, 1},
         [](Bench& b, std::mt19937& r, size_t) {
             const std::vector<uint8_t> data = pattern(pick(r, 1, 700), r());
             Outcome o;
             o.status = cli_fdl_operation(b.link(), kDataBuffer, pick(r, 0, 600), data.data(),
                                          static_cast<uint32_t>(data.size()));
             return o;
         }},
        {"mdl",
         {0, 1, 6},
         [](Bench& b, std::mt19937& r, size_t) {
             const std::vector<uint8_t> data = pattern(pick(r, 1, 500), r());
             Outcome o;
             o.status = cli_mdl_operation(b.link(), kMemoryBase + pick(r, 0, 600), data.data(),
                                          static_cast<uint32_t>(data.size()));
             return o;
         }},
        {"readPrompt",
         {0, CLI_LINE_FAILED},
         [](Bench& b, std::mt19937& r, size_t) {
             const uint32_t size = pick(r, 1, 512);
             std::vector<uint8_t> answer(size + kGuardBytes, kGuard);
             uint32_t got = 0;
             Outcome o;
             o.status = readPrompt(b.line, answer.data(), size, &got, r() % 2 == 0);
             o.storedOk = got <= size && guardsIntact(answer, size);
             o.detail = "got " + std::to_string(got);
             return o;
         }},
        {"getExpanders",
         {0, 1, 6, kLineFailedStatus},
         [](Bench& b, std::mt19937&, size_t) {
             CliTarget target = b.target();
             ZELKOR_EXPANDER_LIST* list = nullptr;
             Outcome o;
             o.status = cliGetExpanders(target, &list);
             o.storedOk = strnlen(b.record.ipAddress, sizeof b.record.ipAddress) < sizeof b.record.ipAddress;
             std::free(list);
             return o;
         }},
        {"uploadRegion",
         {0, 1},
         [](Bench& b, std::mt19937& r, size_t) {
             const uint32_t size = pick(r, 1, 300);
             const uint32_t kinds[] = {ZELKOR_REGION_MEMORY, ZELKOR_REGION_PARTITION};
             const ZELKOR_REGION region{kinds[r() % 2], kDataBuffer, 1, kMemoryBase, 0x100000, r() % 4 == 0 ? 1u : 0u,
                                        ZELKOR_FLASH_TYPE_UNKNOWN, 0};
             std::vector<uint8_t> buffer(size + kGuardBytes, kGuard);
             CliTarget target = b.target();
             Outcome o;
             o.status = cliUploadRegion(target, &region, pick(r, 0, 200), size, nullptr, buffer.data());
             o.storedOk = guardsIntact(buffer, size);
             return o;
         }},
        {"downloadRegion",
         {0, 1, kLineFailedStatus},
         [](Bench& b, std::mt19937& r, size_t) {
             const std::vector<uint8_t> data = pattern(pick(r, 1, 300), r());
             const uint32_t kinds[] = {ZELKOR_REGION_MEMORY, ZELKOR_REGION_PARTITION};
             const ZELKOR_REGION region{kinds[r() % 2], kDataBuffer, 1, kMemoryBase, 0x100000, 0,
                                        ZELKOR_FLASH_TYPE_UNKNOWN, 0};
             CliTarget target = b.target();
             Outcome o;
             o.status = cliDownloadRegion(target, &region, pick(r, 0, 200), static_cast<uint32_t>(data.size()),
                                          nullptr, data.data());
             return o;
         }},
    };
    return table;
}

class ConsoleRandomReplies : public ::testing::Test {
  protected:
    void SetUp() override { previousSleep_ = osal_setSleepFunction(noSleep); }
    void TearDown() override { osal_setSleepFunction(previousSleep_); }

  private:
    OsalSleepFunction previousSleep_ = nullptr;
};

// Each seed runs three operations in a row on one console, so that what one leaves on the line meets the
// next.
TEST_F(ConsoleRandomReplies, EveryOperationStaysWithinItsContract) {
    constexpr uint32_t kCases = 400;
    const auto& table = operations();
    for (uint32_t seed = 1; seed <= kCases; ++seed) {
        std::mt19937 rng(seed);
        const double rate = (seed % 4 == 0) ? 0.0 : (seed % 4 == 1 ? 0.15 : 0.5);
        Bench bench(seed, rate, rng() % 2 == 0, rng() % 3 == 0 ? zsim::Family::Ostrel : zsim::Family::Quenza);
        // Some lines drop part way, as a pulled cable does.
        if (seed % 7 == 3)
            bench.far.dropAfter(static_cast<uint32_t>(rng() % 40));
        std::string done;
        for (uint32_t step = 0; step < 3; ++step) {
            const Operation& op = table[rng() % table.size()];
            const size_t shownFrom = bench.far.shown().size();
            const size_t writesFrom = bench.line.written().size();
            const uint32_t changesFrom = bench.mutator.changes();
            const uint64_t started = bench.line.nowMs();
            const Outcome o = op.run(bench, rng, shownFrom);
            const std::vector<uint8_t> shown(bench.far.shown().begin() + static_cast<long>(shownFrom),
                                             bench.far.shown().end());
            std::string notes;
            for (uint32_t i = changesFrom; i < bench.mutator.changes(); ++i)
                notes += bench.mutator.notes()[i] + "; ";
            const std::vector<uint8_t> sent(bench.line.written().begin() + static_cast<long>(writesFrom),
                                            bench.line.written().end());
            const std::string stepText = "seed " + std::to_string(seed) + " step " + std::to_string(step) + " " +
                                         op.name + " (" + o.detail + ") status " + std::to_string(o.status) +
                                         "\nchanges: " + notes + "\nshown: " + hexDump(shown) +
                                         "\nsent: " + hexDump(sent, 256);
            done += "\n" + stepText;
            SCOPED_TRACE(stepText);
            EXPECT_TRUE(op.statuses.count(o.status) == 1);
            EXPECT_TRUE(o.valueOk);
            EXPECT_TRUE(o.storedOk);
            EXPECT_LE(bench.line.nowMs() - started, kMaxOperationMs);
            EXPECT_LE(bench.line.written().size() - writesFrom, kMaxOperationWrites);
            // Clean answers on a fresh console: the operation works.
            const bool clean =
                bench.mutator.changes() == changesFrom && changesFrom == 0 && step == 0 && !bench.far.dropped();
            if (clean) {
                EXPECT_EQ(o.status, 0);
                EXPECT_TRUE(o.dataOk);
            }
            if (HasFailure())
                return;
        }
        for (const auto& w : bench.far.writes()) {
            std::string trace;
            for (const std::string& t : bench.persona.trace())
                trace += t.substr(0, 80) + " | ";
            SCOPED_TRACE("seed " + std::to_string(seed) + ": " + done + "\nconsole: " + trace);
            EXPECT_FALSE(w.duringTransfer && isCommandLine(w.bytes))
                << "typed into a transfer: " << std::string(w.bytes.begin(), w.bytes.end());
        }
        if (HasFailure())
            return;
    }
}

// XMODEM alone against the simulator's peer with damaged answers: the receiver never stores past the size
// and reports 0 only with the sender's data; the sender ends within its bounds.
TEST(XmodemRandomReplies, ReceiverAndSenderStayWithinTheirContract) {
    constexpr uint32_t kCases = 400;
    const OsalSleepFunction previous = osal_setSleepFunction(noSleep);
    for (uint32_t seed = 1; seed <= kCases; ++seed) {
        std::mt19937 rng(seed * 7919);
        const uint32_t size = pick(rng, 1, 1200);
        const std::vector<uint8_t> data = pattern(size, seed);
        const bool receiving = seed % 2 == 1;
        zsim::XmodemPeer peer(receiving ? zsim::XmodemPeer::Role::Sender : zsim::XmodemPeer::Role::Receiver, data);
        ReplyMutator mutator(seed, seed % 3 == 0 ? 0.05 : 0.3);
        MutatingEndpoint far(peer, mutator);
        VirtualLine line(far);
        std::vector<uint8_t> buffer(size + kGuardBytes, kGuard);
        const ZELKOR_STATUS status = receiving ? xFileRcveByte(line, nullptr, buffer.data(), size)
                                               : xFileTransByte(line, nullptr, data.data(), size);
        std::string notes;
        for (const auto& n : mutator.notes())
            notes += n + "; ";
        SCOPED_TRACE("seed " + std::to_string(seed) + (receiving ? " receive " : " send ") + std::to_string(size) +
                     " status " + std::to_string(status) + "\nchanges: " + notes + "\nshown: " + hexDump(far.shown()));
        if (receiving) {
            EXPECT_TRUE(status == XMODEM_SUCCESS || status == XMODEM_ERROR || status == XMODEM_CANCELLED);
            EXPECT_TRUE(guardsIntact(buffer, size));
            if (status == XMODEM_SUCCESS && mutator.changes() == 0) {
                EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
            }
        } else {
            EXPECT_TRUE(status == XMODEM_SUCCESS || status == XMODEM_ERROR);
        }
        if (mutator.changes() == 0) {
            EXPECT_EQ(status, XMODEM_SUCCESS);
        }
        EXPECT_LE(line.nowMs(), kMaxOperationMs);
        EXPECT_LE(line.written().size(), kMaxOperationWrites);
        if (::testing::Test::HasFailure())
            break;
    }
    osal_setSleepFunction(previous);
}

// A far end that answers every write with random bytes only.
class NoiseEndpoint : public zsim::LineEndpoint {
  public:
    explicit NoiseEndpoint(ReplyMutator& mutator, std::mt19937& rng) : mutator_(mutator), rng_(rng) {}
    void begin(uint64_t) override {}
    void onBytes(const uint8_t*, size_t, uint64_t) override {
        const std::vector<uint8_t> bytes = mutator_.noise(rng_() % 3 == 0 ? rng_() % 700 : rng_() % 40);
        output_.insert(output_.end(), bytes.begin(), bytes.end());
        shown_.insert(shown_.end(), bytes.begin(), bytes.end());
    }
    void onTime(uint64_t) override {}
    std::optional<uint64_t> nextDeadline() const override { return std::nullopt; }
    std::vector<uint8_t>& output() override { return output_; }
    bool dropped() const override { return false; }
    const std::vector<uint8_t>& shown() const { return shown_; }

  private:
    ReplyMutator& mutator_;
    std::mt19937& rng_;
    std::vector<uint8_t> output_;
    std::vector<uint8_t> shown_;
};

// Pure noise for an answer: no value is read out of it, nothing is stored past the size.
TEST(ConsoleNoiseReplies, NoValueAndNoOverflow) {
    constexpr uint32_t kCases = 400;
    const OsalSleepFunction previous = osal_setSleepFunction(noSleep);
    for (uint32_t seed = 1; seed <= kCases; ++seed) {
        std::mt19937 rng(seed * 104729);
        ReplyMutator mutator(seed, 1.0);
        NoiseEndpoint far(mutator, rng);
        VirtualLine line(far);
        const uint32_t size = pick(rng, 1, 400);
        std::vector<uint8_t> buffer(size + kGuardBytes, kGuard);
        uint32_t value = 0xDEADBEEF;
        const uint32_t address = kMemoryBase + pick(rng, 0, 255) * 4;
        const int32_t read = cliRegisterAccess(CliLink{line, nullptr}, 0, address, 0, &value);
        const std::vector<uint8_t> readShown = far.shown();
        const ZELKOR_STATUS received = rng() % 2 == 0 ? xFileRcveByte(line, nullptr, buffer.data(), size)
                                                      : cli_mul_operation(CliLink{line, nullptr}, address, buffer.data(), size);
        SCOPED_TRACE("seed " + std::to_string(seed) + " read " + std::to_string(read) + " value " +
                     std::to_string(value) + " receive " + std::to_string(received) + "\nshown: " + hexDump(far.shown()));
        EXPECT_TRUE(read == 0 || read == CLI_LINE_FAILED);
        if (read == 0) {
            EXPECT_TRUE(holdsHexValue(asText(readShown, 0), value, 0xFFFFFFFF));
        } else {
            EXPECT_EQ(value, 0u);
        }
        EXPECT_TRUE(received == 0 || received == 1 || received == 3);
        EXPECT_TRUE(guardsIntact(buffer, size));
        EXPECT_LE(line.nowMs(), kMaxOperationMs);
        EXPECT_LE(line.written().size(), kMaxOperationWrites);
        if (::testing::Test::HasFailure())
            break;
    }
    osal_setSleepFunction(previous);
}


// A far end that answers each command line with the bytes the test gives for its first word.
class ScriptedConsole : public zsim::LineEndpoint {
  public:
    using Answers = std::vector<std::pair<std::string, std::string>>;
    explicit ScriptedConsole(Answers answers) : answers_(std::move(answers)) {}
    void begin(uint64_t) override {}
    void onBytes(const uint8_t* bytes, size_t count, uint64_t) override {
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] != '\r') {
                line_.push_back(static_cast<char>(bytes[i]));
                continue;
            }
            for (const auto& [word, answer] : answers_)
                if (line_.rfind(word, 0) == 0)
                    output_.insert(output_.end(), answer.begin(), answer.end());
            line_.clear();
        }
    }
    void onTime(uint64_t) override {}
    std::optional<uint64_t> nextDeadline() const override { return std::nullopt; }
    std::vector<uint8_t>& output() override { return output_; }
    bool dropped() const override { return false; }

  private:
    std::vector<std::pair<std::string, std::string>> answers_;
    std::string line_;
    std::vector<uint8_t> output_;
};

// A read reply that stops inside its number (the line fell silent after "0XE" of "0XE6") holds no value.
TEST(CliRegressions, ReplyCutInsideTheNumberGivesNoValue) {
    struct Case {
        uint32_t operation;
        const char* reply;
        int32_t status;
        uint32_t value;
    };
    for (const Case& c : {Case{CLI_OP_BYTE, "\r\n2000000e : 0XE", CLI_LINE_FAILED, 0},
                          Case{0, "\r\n2000000e : 0X000000", CLI_LINE_FAILED, 0},
                          Case{CLI_OP_BYTE, "\r\n2000000e : 0XE6\r\n", 0, 0xE6},
                          Case{0, "\r\n2000000e : 0X0000E6 \n cmd >", 0, 0xE6}}) {
        SCOPED_TRACE(c.reply);
        ScriptedConsole console(ScriptedConsole::Answers{{"mr", c.reply}});
        VirtualLine line(console);
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(cliRegisterAccess(CliLink{line, nullptr}, c.operation, 0x2000000E, 0, &value), c.status);
        EXPECT_EQ(value, c.value);
    }
}

// A transfer the product gives up is called off with CAN CAN before anything else is sent, so that the
// console's XMODEM side does not take the next command for data.
TEST(CliRegressions, AbandonedTransferIsCancelledBeforeTheNextCommand) {
    const OsalSleepFunction previous = osal_setSleepFunction(noSleep);
    {
        // The acknowledgement of "ful" names a failed transfer: nothing but the cancel follows the command.
        ScriptedConsole console(ScriptedConsole::Answers{{"ful", "\r\nXmodem Transfer Failed\r\n\n cmd >"}});
        VirtualLine line(console);
        uint8_t buffer[8];
        EXPECT_EQ(cli_ful_operation(CliLink{line, nullptr}, kDataBuffer, 0, buffer, sizeof buffer), 1u);
        const std::string sent(line.written().begin(), line.written().end());
        EXPECT_EQ(sent, "ful 80 00000000 8\r\x18\x18");
    }
    {
        // The console's receiver never asks for the first block: the product's sender gives up, and the
        // console still answers the next command.
        Bench bench(1, 0.0, false, zsim::Family::Quenza);
        bench.persona.addFault(zsim::ConsoleFault{.command = "fdl",
                                                  .kind = zsim::ConsoleFaultKind::Xmodem,
                                                  .xmodem = zsim::XmodemPeerFault::NoStart});
        uint8_t data[200] = {};
        EXPECT_EQ(cli_fdl_operation(bench.link(), kDataBuffer, 0, data, sizeof data), 1u);
        const std::vector<uint8_t>& sent = bench.line.written();
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(sent[sent.size() - 1], XMODEM_CAN);
        EXPECT_EQ(sent[sent.size() - 2], XMODEM_CAN);
        EXPECT_FALSE(bench.persona.inTransfer());
        uint32_t value = 0;
        EXPECT_EQ(cliRegisterAccess(bench.link(), 0, kMemoryBase, 0, &value), 0);
        const std::vector<uint8_t> word = bench.memory(kMemoryBase, 4);
        uint32_t expected = 0;
        std::memcpy(&expected, word.data(), 4);
        EXPECT_EQ(value, expected);
    }
    osal_setSleepFunction(previous);
}

// A sender stuck on one block: every answer brings the same block again (or, after the data, ever new
// blocks). The receiver must end on its own, within its bounds.
class EndlessSender : public zsim::LineEndpoint {
  public:
    explicit EndlessSender(bool advance) : advance_(advance) {}
    void begin(uint64_t) override {}
    void onBytes(const uint8_t* bytes, size_t count, uint64_t) override {
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] == XMODEM_CAN)
                cancelled_ = true;
            if (cancelled_ || (bytes[i] != XMODEM_NAK && bytes[i] != XMODEM_ACK))
                continue;
            if (bytes[i] == XMODEM_ACK && advance_)
                ++number_;
            const std::vector<uint8_t> data(XMODEM_DATA_SIZE, static_cast<uint8_t>(number_));
            const XmodemBlock block = xmodemBuildBlock(number_, data.data(), XMODEM_DATA_SIZE);
            output_.insert(output_.end(), block.begin(), block.end());
        }
    }
    void onTime(uint64_t) override {}
    std::optional<uint64_t> nextDeadline() const override { return std::nullopt; }
    std::vector<uint8_t>& output() override { return output_; }
    bool dropped() const override { return false; }

  private:
    bool advance_;
    bool cancelled_ = false;
    uint8_t number_ = 1;
    std::vector<uint8_t> output_;
};

TEST(XmodemRegressions, EndlessSenderIsGivenUp) {
    for (const bool advance : {false, true}) {
        SCOPED_TRACE(advance ? "ever new blocks" : "the same block");
        EndlessSender sender(advance);
        VirtualLine line(sender);
        constexpr uint32_t kSize = 256;
        std::vector<uint8_t> buffer(kSize + kGuardBytes, kGuard);
        const ZELKOR_STATUS status = xFileRcveByte(line, nullptr, buffer.data(), kSize);
        EXPECT_EQ(status, XMODEM_ERROR);
        EXPECT_TRUE(guardsIntact(buffer, kSize));
        EXPECT_LE(line.written().size(), 64u);
        const std::vector<uint8_t>& sent = line.written();
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(sent[sent.size() - 1], XMODEM_CAN);
    }
}

} // namespace
