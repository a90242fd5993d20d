// The debug-port readers on seeded random replies from the serial expander (its Random fault damages every
// reply of the program: cut, dropped, repeated, flipped, padded with noise, NULs, prompt bytes): the
// Ostrel monitor's dump text, the Quenza boot ROM's 4-byte answers, the bootstraps' replies and block
// reads, and the connection probe. Each ends with one of its documented statuses, stores nothing past
// the size given, returns the model's value when the reply was clean, and sends a bounded number of
// bytes. A failure names the seed and shows the bytes.
#include "serialFixture.h"

#include "console/ReplyMutator.h"

#include <algorithm>
#include <functional>
#include <random>
#include <set>

namespace {

using zsim::SerialFault;
using zsim::SerialFaultKind;
using zsim::SerialProgram;
using zsim::SerialSetup;

constexpr uint8_t kGuard = 0xA5;
constexpr uint32_t kGuardBytes = 32;
constexpr size_t kMaxHostBytes = 4096;

struct Reader {
    const char* name;
    const char* scenario;
    SerialProgram program;
    uint32_t baud;
    uint32_t bits;
    uint32_t chipTypeFlag;
    std::set<ZELKOR_STATUS> statuses;
    // Runs the reader; answers whether what it stored stayed in bounds, and the value it read (if any).
    std::function<bool(SERIAL_PORT_HANDLE*, std::mt19937&, ZELKOR_STATUS&, std::optional<uint64_t>&, uint32_t&)> run;
};

constexpr uint32_t kAddress = 0x20000100;
constexpr const char* kMemory = "    memory 0x20000100 78 56 34 12 9A BC DE F0 01 18 04 25 23 0D 0A 00\n";

bool guarded(const std::vector<uint8_t>& buffer, uint32_t size) {
    return std::all_of(buffer.begin() + size, buffer.end(), [](uint8_t b) { return b == kGuard; });
}

bool registerRead(REGISTER_OP op, SERIAL_PORT_HANDLE* port, std::mt19937& rng, ZELKOR_STATUS& status,
                  std::optional<uint64_t>& value, uint32_t& address, bool byteAllowed) {
    const bool byte = byteAllowed && rng() % 2 == 0;
    address = kAddress + (byte ? rng() % 16 : 4 * (rng() % 4));
    uint32_t word = 0xDEADBEEF;
    uint8_t cell[kGuardBytes + 1];
    std::fill(std::begin(cell), std::end(cell), kGuard);
    status = byte ? op(port, kReadByte, address, 0, cell, 1) : op(port, kReadWord, address, 0, &word, 1);
    // A byte read's value carries bit 32, to tell it from a word's.
    value = byte ? std::optional<uint64_t>(cell[0] | (uint64_t{1} << 32)) : std::optional<uint64_t>(word);
    if (byte)
        return std::all_of(cell + 1, std::end(cell), [](uint8_t b) { return b == kGuard; });
    return true;
}

bool blockRead(bool ostrel, SERIAL_PORT_HANDLE* port, std::mt19937& rng, ZELKOR_STATUS& status, std::optional<uint64_t>&,
               uint32_t&) {
    COM_INSTANCE instance{};
    instance.port = port;
    const uint32_t length = 1 + rng() % 300;
    std::vector<uint8_t> buffer(length + kGuardBytes, kGuard);
    uint32_t got = 0;
    const uint32_t flash = ostrel ? 0x14000000 : 0x10000000;
    status = (ostrel ? pbs_rB_operation : pbs_rB_operation_Gen3)(&instance, buffer.data(), flash + rng() % 4096, length, &got);
    return got <= length && guarded(buffer, length);
}

const std::vector<Reader>& readers() {
    static const std::vector<Reader> table = {
        {"ostrelMonitor", "device sg0 ostrel\n    revision 1\n", SerialProgram::OstrelMonitor, kSerialBaud38400, 7, 0,
         {kSerialOk, kSerialFailed},
         [](SERIAL_PORT_HANDLE* p, std::mt19937& r, ZELKOR_STATUS& s, std::optional<uint64_t>& v, uint32_t& a) {
             return registerRead(hws_operation, p, r, s, v, a, true);
         }},
        {"quenzaRom", "device sg0 quenza\n    product 0x230\n    revision 2\n", SerialProgram::QuenzaRom, kSerialBaud115200,
         8, 1, {kSerialOk, kSerialFailed},
         [](SERIAL_PORT_HANDLE* p, std::mt19937& r, ZELKOR_STATUS& s, std::optional<uint64_t>& v, uint32_t& a) {
             return registerRead(hws_operation_quenza, p, r, s, v, a, false);
         }},
        {"quenzaBootstrap", "device sg0 quenza\n", SerialProgram::QuenzaBootstrap, kSerialBaud57600, 8, 1,
         {kSerialOk, kSerialFailed},
         [](SERIAL_PORT_HANDLE* p, std::mt19937& r, ZELKOR_STATUS& s, std::optional<uint64_t>& v, uint32_t& a) {
             return registerRead(pbs_operation_quenza, p, r, s, v, a, true);
         }},
        {"ostrelBlockRead", "device sg0 ostrel\n", SerialProgram::OstrelBootstrap, kSerialBaud115200, 8, 0, {0, 1},
         [](SERIAL_PORT_HANDLE* p, std::mt19937& r, ZELKOR_STATUS& s, std::optional<uint64_t>& v, uint32_t& a) {
             return blockRead(true, p, r, s, v, a);
         }},
        {"quenzaBlockRead", "device sg0 quenza\n", SerialProgram::QuenzaBootstrap, kSerialBaud57600, 8, 1, {0, 1},
         [](SERIAL_PORT_HANDLE* p, std::mt19937& r, ZELKOR_STATUS& s, std::optional<uint64_t>& v, uint32_t& a) {
             return blockRead(false, p, r, s, v, a);
         }},
        {"connectionProbe", "device sg0 quenza\n", SerialProgram::QuenzaRom, kSerialBaud115200, 8, 1,
         {kSerialOk, kSerialFailed},
         [](SERIAL_PORT_HANDLE* p, std::mt19937& r, ZELKOR_STATUS& s, std::optional<uint64_t>&, uint32_t&) {
             const uint32_t size = 1 + r() % 50;
             std::vector<uint8_t> answer(size + kGuardBytes, kGuard);
             uint32_t count = 0;
             s = readConnectionPrompt(p, answer.data(), size, &count, 0);
             classifyConnectionAnswer(answer.data(), count);
             return count <= size && guarded(answer, size);
         }},
    };
    return table;
}

TEST_F(SerialExpanderTest, ReadersOnRandomReplies) {
    constexpr uint32_t kSeedsPerReader = 200;
    for (const Reader& reader : readers()) {
        for (uint32_t seed = 1; seed <= kSeedsPerReader; ++seed) {
            // Every fourth seed leaves the replies clean: the reader must then work.
            const bool clean = seed % 4 == 0;
            SerialSetup setup;
            setup.start = reader.program;
            if (!clean)
                setup.faults.push_back(SerialFault{"any", std::nullopt, SerialFaultKind::Random, seed, 0, 0});
            start(std::string(reader.scenario) + kMemory, setup);
            openAt(reader.baud, reader.bits);
            gChipTypeFlag = reader.chipTypeFlag;
            gQuenzaConnectionFlag = 2;
            std::mt19937 rng(seed);
            ZELKOR_STATUS status = 0xFFFF;
            std::optional<uint64_t> value;
            uint32_t address = 0;
            const bool inBounds = reader.run(port_, rng, status, value, address);
            std::vector<uint8_t> shown;
            for (const zsim::SerialByte& b : serial_->bytes())
                if (!b.toDevice)
                    shown.push_back(b.byte);
            SCOPED_TRACE(std::string(reader.name) + " seed " + std::to_string(seed) + " status " +
                         std::to_string(static_cast<int32_t>(status)) + "\nshown: " + zsim::hexDump(shown) +
                         "\nsent: " + zsim::hexDump(serial_->hostBytes(), 128));
            EXPECT_TRUE(reader.statuses.count(status) == 1);
            EXPECT_TRUE(inBounds);
            EXPECT_LE(serial_->hostBytes().size(), kMaxHostBytes);
            if (clean) {
                EXPECT_EQ(status, 0u);
                if (value) {
                    const bool byte = (*value >> 32) != 0;
                    const uint32_t model = word(address & ~3u) >> (byte ? 8 * (address & 3) : 0);
                    EXPECT_EQ(static_cast<uint32_t>(*value), byte ? model & 0xFF : model);
                }
            }
            osal_serialPortClose(port_);
            port_ = nullptr;
            serial_.reset();
            if (HasFailure())
                return;
        }
    }
}

} // namespace
