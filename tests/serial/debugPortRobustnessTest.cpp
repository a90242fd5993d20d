// The debug-port readers on seeded random replies from the serial expander (its Random fault damages every
// reply of the program: cut, dropped, repeated, flipped, padded with noise, NULs, prompt bytes): the
// Ostrel monitor's dump text, the Quenza boot ROM's 4-byte answers, the bootstraps' replies and block
// reads, and the connection probe. Each ends with one of its documented statuses, stores nothing past
// the size given, returns the model's value when the reply was clean, and sends a bounded number of
// bytes. A failure names the seed and shows the bytes.
#include "serialFixture.h"

#include "console/ReplyMutator.h"
#include "core/modules.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
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


// The debug-port module's operations (open with its probe passes, bootstrap load and identification, the
// expander listing, region reads and writes) on an expander whose replies turn random after a seeded
// number of good ones.
class ComModuleRandomReplies : public SerialExpanderTest {
  protected:
    void SetUp() override {
        SerialExpanderTest::SetUp();
        osal_setSleepFunction([](uint32_t) {});
        char dir[] = "/tmp/zcomRobustXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        support_ = dir;
        for (const auto& [name, bytes] : {std::pair{"/bootstrapOstrel.fw", &ostrelBootstrap_},
                                          std::pair{"/bstrapQuenzaDax.bin", &quenzaBootstrap_}}) {
            std::ofstream out(support_ + name, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
        }
        setenv("ZELKOR_SUPPORT_FILES", support_.c_str(), 1);
        handle_.interface = ZELKOR_INTERFACE_COM;
        handle_.log = zelkor_messageLog;
        handle_.options = &options_;
    }
    void TearDown() override {
        unsetenv("ZELKOR_SUPPORT_FILES");
        std::error_code ignored;
        std::filesystem::remove_all(support_, ignored);
        SerialExpanderTest::TearDown();
    }

    template <typename F> F op(const char* name) { return reinterpret_cast<F>(ial_com_query_symbol(name)); }

    ZELKOR_INSTANCE handle_{};
    ZELKOR_SHARED_VARS options_{};
    std::string support_;
    std::vector<uint8_t> ostrelBootstrap_ = std::vector<uint8_t>(64, 0x11);
    std::vector<uint8_t> quenzaBootstrap_ = std::vector<uint8_t>(96, 0x22);
};

TEST_F(ComModuleRandomReplies, OperationsStayWithinTheirContract) {
    constexpr uint32_t kSeeds = 160;
    const auto open = op<IAL_OPEN_FUNCTION>("zelkor_ial_open");
    const auto close = op<IAL_CLOSE_FUNCTION>("zelkor_ial_close");
    const auto list = op<IAL_GET_EXPANDERS_FUNCTION>("zelkor_ial_getExpanders");
    const auto upload = op<IAL_TRANSFER_FUNCTION>("zelkor_ial_uploadRegion");
    const auto download = op<IAL_TRANSFER_FUNCTION>("zelkor_ial_downloadRegion");
    const std::set<ZELKOR_STATUS> openStatuses = {0, 1, 4, 5, 6, 7, 18, 19, 20, 21, 22, 23, 25, 56, 57};
    const SerialProgram programs[] = {SerialProgram::OstrelMonitor, SerialProgram::QuenzaRom,
                                      SerialProgram::OstrelBootstrap, SerialProgram::QuenzaBootstrap};
    uint32_t opened = 0, uploaded = 0;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        std::mt19937 rng(seed * 2654435761u);
        const SerialProgram program = programs[seed % 4];
        const bool ostrel = program == SerialProgram::OstrelMonitor || program == SerialProgram::OstrelBootstrap;
        SerialSetup setup;
        setup.start = program;
        setup.ostrelBootstrap = ostrelBootstrap_;
        setup.quenzaBootstrap = quenzaBootstrap_;
        // The damage starts after a seeded number of good replies, so that it meets every stage.
        setup.faults.push_back(SerialFault{"any", std::nullopt, SerialFaultKind::Random, seed, static_cast<uint32_t>(rng() % (seed % 3 == 0 ? 300 : 12)), 0});
        start(std::string(ostrel ? "device sg0 ostrel\n    product 0x220\n    revision 1\n"
                                 : "device sg0 quenza\n    product 0x230\n    revision 2\n") + kMemory,
              setup);
        handle_.interface = seed % 5 == 0 ? ZELKOR_INTERFACE_RAMDEBUG : ZELKOR_INTERFACE_COM;
        gChipTypeFlag = 0;
        void* instance = nullptr;
        std::string done;
        const ZELKOR_STATUS openStatus = open(&handle_, reinterpret_cast<uintptr_t>(serial_->path().c_str()), &instance);
        done += "open " + std::to_string(openStatus);
        auto context = [&] {
            std::vector<uint8_t> shown;
            for (const zsim::SerialByte& b : serial_->bytes())
                if (!b.toDevice)
                    shown.push_back(b.byte);
            return "seed " + std::to_string(seed) + " " + zsim::serialProgramName(program) + ": " + done +
                   "\nshown: " + zsim::hexDump(shown, 400) + "\nsent: " + zsim::hexDump(serial_->hostBytes(), 200);
        };
        EXPECT_TRUE(openStatuses.count(openStatus) == 1) << context();
        EXPECT_EQ(instance != nullptr, openStatus == 0 || openStatus == 57) << context();
        if (instance != nullptr) {
            ++opened;
            ZELKOR_EXPANDER_LIST* expanders = nullptr;
            const ZELKOR_STATUS listed = list(instance, &expanders);
            done += ", list " + std::to_string(listed);
            EXPECT_TRUE(listed == 0 || listed == 1) << context();
            EXPECT_EQ(expanders != nullptr, listed == 0) << context();
            std::free(expanders); // the caller's list

            const uint32_t size = 1 + rng() % 200;
            std::vector<uint8_t> buffer(size + kGuardBytes, kGuard);
            ZELKOR_REGION memory{ZELKOR_REGION_MEMORY, 0xC0, 0, 0, 0, 0, 0, 0};
            ZELKOR_REGION flash{ZELKOR_REGION_PARTITION, 0x85, 1, ostrel ? 0x14100000u : 0x10100000u, 0x100000, 0, 3, 0};
            ZELKOR_REGION& region = rng() % 2 == 0 ? memory : flash;
            const uint32_t offset = &region == &memory ? kAddress + rng() % 8 : rng() % 4096;
            const ZELKOR_STATUS read = upload(instance, &region, offset, size, nullptr, buffer.data());
            done += ", upload " + std::to_string(size) + " " + std::to_string(read);
            EXPECT_TRUE(read == 0 || read == 1) << context();
            uploaded += read == 0 ? 1 : 0;
            EXPECT_TRUE(guarded(buffer, size)) << context();

            std::vector<uint8_t> data(1 + rng() % 200, 0x5A);
            const ZELKOR_STATUS written =
                download(instance, &region, offset, static_cast<uint32_t>(data.size()), nullptr, data.data());
            done += ", download " + std::to_string(data.size()) + " " + std::to_string(written);
            EXPECT_TRUE(written == 0 || written == 1 || written == 27) << context();
            close(instance);
        }
        EXPECT_LE(serial_->hostBytes().size(), size_t{256} * 1024) << context();
        serial_.reset();
        if (HasFailure())
            return;
    }
    // The damage met the later operations too, not only the open.
    EXPECT_GE(opened, kSeeds / 4);
    EXPECT_GE(uploaded, 1u);
}

// The RAM-debug download (baud change of a running bootstrap, return to the boot ROM, watchdog, word
// by word load, read-back) on replies that turn random after a seeded number of good ones: a
// documented status, and the option block's busy and echo flags back at 0 whatever happened.
TEST_F(ComModuleRandomReplies, RamDebugDownloadStaysWithinItsContract) {
    constexpr uint32_t kSeeds = 80;
    const auto open = op<IAL_OPEN_FUNCTION>("zelkor_ial_open");
    const auto close = op<IAL_CLOSE_FUNCTION>("zelkor_ial_close");
    const auto ramdebug = op<IAL_DOWNLOAD_RAMDEBUG_FUNCTION>("zelkor_ial_downloadRamdebug");
    const std::set<ZELKOR_STATUS> statuses = {0, 1, 4, 5, 20, 21, 22, 23};
    uint32_t downloads = 0;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        std::mt19937 rng(seed * 97);
        SerialSetup setup;
        setup.start = SerialProgram::QuenzaBootstrap;
        setup.quenzaBootstrap = quenzaBootstrap_;
        setup.faults.push_back(SerialFault{"any", std::nullopt, SerialFaultKind::Random, seed,
                                           static_cast<uint32_t>(8 + rng() % 300), 0});
        start("device sg0 quenza\n    product 0x230\n    register 0x42000000 0x80000003 writable 0xFFFFFFFF\n"
              "    register 0x42000004 0x80000005 writable 0xFFFFFFFF\n",
              setup);
        handle_.interface = ZELKOR_INTERFACE_RAMDEBUG;
        options_.ramDebugBusy = 1;
        gChipTypeFlag = 0;
        void* instance = nullptr;
        const ZELKOR_STATUS opened = open(&handle_, reinterpret_cast<uintptr_t>(serial_->path().c_str()), &instance);
        if (instance != nullptr) {
            std::unique_ptr<FILE, int (*)(FILE*)> image(std::tmpfile(), &std::fclose);
            ASSERT_NE(image, nullptr);
            const std::vector<uint8_t> bytes(4 + rng() % 600, 0x3C);
            std::fwrite(bytes.data(), 1, bytes.size(), image.get());
            std::rewind(image.get());
            options_.ramDebugBusy = 1;
            const ZELKOR_STATUS status =
                ramdebug(instance, serial_->path().c_str(), opened == 57 ? 1 : 0, image.get(), rng() % 2 == 0 ? 1 : 0);
            ++downloads;
            std::vector<uint8_t> shown;
            for (const zsim::SerialByte& b : serial_->bytes())
                if (!b.toDevice)
                    shown.push_back(b.byte);
            SCOPED_TRACE("seed " + std::to_string(seed) + " open " + std::to_string(opened) + " ramdebug " +
                         std::to_string(status) + "\nshown: " + zsim::hexDump(shown, 400));
            EXPECT_TRUE(statuses.count(status) == 1);
            EXPECT_EQ(options_.ramDebugBusy, 0);
            EXPECT_EQ(options_.consoleEcho, 0u);
            close(instance);
        }
        EXPECT_LE(serial_->hostBytes().size(), size_t{256} * 1024);
        serial_.reset();
        if (HasFailure())
            return;
    }
    EXPECT_GE(downloads, kSeeds / 2);
}

} // namespace
