// Identification through the register operations, and the RAM-debug download: the bootstrap moved back to
// the boot ROM, the watchdogs, the word-by-word load and its read-back, and a reopen that fails.
#include "serialFixture.h"

#include "core/modules.h"
#include "ial/comRamLoad.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

using zsim::SerialFault;
using zsim::SerialFaultKind;
using zsim::SerialProgram;
using zsim::SerialSetup;

SerialSetup programSetup(SerialProgram program, std::vector<SerialFault> faults = {}) {
    SerialSetup setup;
    setup.start = program;
    setup.faults = std::move(faults);
    return setup;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

std::unique_ptr<FILE, FileCloser> imageFile(size_t size, uint8_t seed) {
    std::unique_ptr<FILE, FileCloser> file(std::tmpfile());
    for (size_t i = 0; i < size; ++i)
        std::fputc(static_cast<uint8_t>(seed + i * 13), file.get());
    std::rewind(file.get());
    return file;
}

TEST_F(SerialExpanderTest, OstrelIdentificationTable) {
    struct Case {
        const char* name;
        std::string scenario;
        ZELKOR_STATUS status;
        const char* model;
        const char* revision;
        uint8_t revisionCode;
        uint32_t type;
    };
    const Case cases[] = {
        {"A0", "product 0x220\n    revision 0\n", 0, "Tolvane24", "A0", 0, ZELKOR_CHIP_OSTREL},
        {"B0/B1: bit 7 sticks", "product 0x224\n    revision 2\n    register 0xC00000A0 0\n", 0, "Tolvane12", "B0/B1", 2,
         ZELKOR_CHIP_OSTREL},
        {"B2: only bit 6 sticks", "product 0x225\n    revision 2\n    register 0xC00000A0 0 writable 0xFFFFFF7F\n", 0,
         "Tolvane16", "B2", 4, ZELKOR_CHIP_OSTREL},
        {"B3: neither sticks", "product 0x226\n    revision 2\n    register 0xC00000A0 0 writable 0xFFFFFF3F\n", 0,
         "Tolvane20", "B3", 5, ZELKOR_CHIP_OSTREL},
        {"switch board", "product 0x223\n    revision 1\n    firmware-identity 200\n", 0, "Brisko16", "A1", 1,
         ZELKOR_CHIP_OSTREL_SWITCH},
        {"36-port board", "product 0x223\n    revision 1\n    firmware-identity 100\n", 0, "Tolvane36", "A1", 1,
         ZELKOR_CHIP_OSTREL},
        {"unknown product", "product 0x2AB\n    revision 1\n", 19, "Unknown Expander", "A1", 1, ZELKOR_CHIP_OSTREL},
        {"unknown revision", "product 0x227\n    revision 9\n", 0, "Tolvane20A", "Unknown Revision", 9, ZELKOR_CHIP_OSTREL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start("device sg0 ostrel\n    " + c.scenario, programSetup(SerialProgram::OstrelBootstrap));
        openAt(kSerialBaud115200, 8);
        COM_INSTANCE instance{};
        instance.port = port_;
        instance.registerOp = pbs_operation;
        EXPECT_EQ(getOstrelIDAndRevision(&instance), c.status);
        EXPECT_STREQ(instance.expander.name, c.model);
        EXPECT_STREQ(instance.expander.revision, c.revision);
        EXPECT_EQ(instance.expander.revisionCode, c.revisionCode);
        EXPECT_EQ(instance.expander.type, c.type);
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

TEST_F(SerialExpanderTest, SwitchBoardProbeClearsGpioBitEight) {
    start("device sg0 ostrel\n    product 0x223\n    register 0x40100010 0x1FF\n    register 0x40100014 0x101\n",
          programSetup(SerialProgram::OstrelBootstrap));
    openAt(kSerialBaud115200, 8);
    COM_INSTANCE instance{};
    instance.port = port_;
    instance.registerOp = pbs_operation;
    getOstrelIDAndRevision(&instance);
    EXPECT_EQ(word(0x40100010), 0xFFU);
    EXPECT_EQ(word(0x40100014), 0x1U);
}

TEST_F(SerialExpanderTest, QuenzaIdentificationAndSasAddress) {
    struct Case {
        SerialProgram program;
        uint32_t baud;
        REGISTER_OP op;
    };
    for (const Case c : {Case{SerialProgram::QuenzaRom, kSerialBaud115200, hws_operation_quenza},
                         Case{SerialProgram::QuenzaBootstrap, kSerialBaud57600, pbs_operation_quenza}}) {
        start("device sg0 quenza\n    product 0x230\n    revision 1\n    sas-address 500605B0:0000B2D0\n",
              programSetup(c.program));
        openAt(c.baud, 8);
        gChipTypeFlag = 1;
        COM_INSTANCE instance{};
        instance.port = port_;
        instance.registerOp = c.op;
        ASSERT_EQ(getQuenzaIDAndRevision(&instance), 0U);
        EXPECT_EQ(instance.expander.productId, 0x230);
        EXPECT_EQ(instance.expander.revisionCode, 1);
        EXPECT_TRUE(instance.expander.type == ZELKOR_CHIP_QUENZA || instance.expander.type == ZELKOR_CHIP_QUENZA_DAX);
        ASSERT_EQ(getExpanderSASAddress(&instance), 0U);
        EXPECT_EQ(instance.expander.sasAddressHigh, 0x500605B0U);
        EXPECT_EQ(instance.expander.sasAddressLow, 0x0000B2D0U);
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

int gRamProgress = 0;
void countRamProgress(int32_t, int32_t) { ++gRamProgress; }

class RamDebugTest : public SerialExpanderTest {
  protected:
    void SetUp() override {
        SerialExpanderTest::SetUp();
        osal_setSleepFunction([](uint32_t) {});
        osal_setSilenceWaitFunction(zsim::SerialExpander::silenceWait);
        handle_.interface = ZELKOR_INTERFACE_RAMDEBUG;
        handle_.log = zelkor_messageLog;
        handle_.options = &options_;
        handle_.progress = countRamProgress;
    }
    void TearDown() override {
        if (instance_ != nullptr)
            close_(instance_);
        instance_ = nullptr;
        SerialExpanderTest::TearDown();
    }
    // The module's open on interface 7 with a bootstrap running: 57 and an instance.
    void openWithBootstrap(const std::string& scenario, std::vector<SerialFault> faults = {}) {
        start(scenario, programSetup(SerialProgram::QuenzaBootstrap, std::move(faults)));
        options_.ramDebugBusy = 1;
        ASSERT_EQ(open_(&handle_, reinterpret_cast<uintptr_t>(serial_->path().c_str()), &instance_), 57U);
    }
    std::vector<uint8_t> ram(size_t size) {
        std::vector<uint8_t> bytes(size);
        serial_->inspect([&](zsim::Expander& e) {
            e.space().read(0, bytes);
            return 0;
        });
        return bytes;
    }

    IAL_OPEN_FUNCTION open_ = reinterpret_cast<IAL_OPEN_FUNCTION>(ial_com_query_symbol("zelkor_ial_open"));
    IAL_CLOSE_FUNCTION close_ = reinterpret_cast<IAL_CLOSE_FUNCTION>(ial_com_query_symbol("zelkor_ial_close"));
    IAL_DOWNLOAD_RAMDEBUG_FUNCTION ramdebug_ =
        reinterpret_cast<IAL_DOWNLOAD_RAMDEBUG_FUNCTION>(ial_com_query_symbol("zelkor_ial_downloadRamdebug"));
    ZELKOR_INSTANCE handle_{};
    ZELKOR_SHARED_VARS options_{};
    void* instance_ = nullptr;
};

constexpr const char* kQuenzaWithWatchdogs =
    "device sg0 quenza\n    product 0x230\n    register 0x42000000 0x80000003 writable 0xFFFFFFFF\n"
    "    register 0x42000004 0x80000005 writable 0xFFFFFFFF\n";

TEST_F(RamDebugTest, ImageLoadsWordByWordAfterTheBaudChange) {
    struct Case {
        size_t size;
        int progress;
        uint32_t lastAddress;
    };
    for (const Case c : {Case{4098, 1, 0xFFC}, Case{8192, 2, 0x1FFC}}) {
        SCOPED_TRACE(c.size);
        openWithBootstrap(kQuenzaWithWatchdogs);
        auto image = imageFile(c.size, 0x31);
        std::vector<uint8_t> expected(c.size);
        ASSERT_EQ(std::fread(expected.data(), 1, c.size, image.get()), c.size);
        std::rewind(image.get());
        serial_->clearRecord();
        gRamProgress = 0;
        options_.consoleEcho = 0;
        ASSERT_EQ(ramdebug_(instance_, serial_->path().c_str(), 1, image.get(), 0), 0U);
        EXPECT_EQ(serial_->programSwitches(),
                  (std::vector<std::string>{"quenza-bootstrap->quenza-rom", "quenza-rom->ram-debug"}));
        // Whole words only; the ARM was stopped for the load.
        const size_t sent = c.size / 4 * 4;
        auto loaded = ram(c.size);
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + static_cast<long>(sent), loaded.begin()));
        EXPECT_TRUE(std::all_of(loaded.begin() + static_cast<long>(sent), loaded.end(), [](uint8_t b) { return b == 0; }));
        uint32_t highest = 0;
        for (const auto& f : serial_->frames())
            if (f.program == SerialProgram::QuenzaRom && f.command == "p" && f.address < 0x40000)
                highest = std::max(highest, f.address);
        EXPECT_EQ(highest, c.lastAddress);
        EXPECT_EQ(gRamProgress, c.progress);
        EXPECT_EQ(serial_->ramWritesWhileRunning(), 0U);
        EXPECT_EQ(word(0x42000000), 0x3U);
        EXPECT_EQ(word(0x42000004), 0x5U);
        EXPECT_EQ(word(0x43C00004), 0U);
        EXPECT_EQ(word(0x42400018), 0x80U);
        EXPECT_EQ(options_.ramDebugBusy, 0);
        EXPECT_EQ(options_.consoleEcho, 0U);
        close_(instance_);
        instance_ = nullptr;
    }
}

TEST_F(RamDebugTest, PostValidationReadsEveryWordBack) {
    openWithBootstrap(kQuenzaWithWatchdogs);
    auto image = imageFile(4098, 0x55);
    ASSERT_EQ(ramdebug_(instance_, serial_->path().c_str(), 1, image.get(), 1), 0U);
    size_t reads = 0;
    for (const auto& f : serial_->frames())
        if (f.command == "g" && f.address < 0x40000)
            ++reads;
    EXPECT_EQ(reads, 1024U);

    EXPECT_EQ(postValidateRamdebugImage(nullptr, image.get()), 1U);
}

TEST_F(SerialExpanderTest, ReadBackComparesTheWordsSent) {
    struct Case {
        const char* name;
        size_t flipAt; // RAM byte changed after the load, or none
        ZELKOR_STATUS status;
    };
    const Case cases[] = {
        {"equal; the two trailing bytes were never sent", SIZE_MAX, 0},
        {"one byte differs", 0x101, 1},
        {"the last word differs", 0xFFF, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start("device sg0 quenza\n    product 0x230\n", programSetup(SerialProgram::QuenzaRom));
        openAt(kSerialBaud115200, 8);
        gChipTypeFlag = 1;
        auto image = imageFile(4098, 0x77);
        std::vector<uint8_t> bytes(4096);
        ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), image.get()), bytes.size());
        std::rewind(image.get());
        if (c.flipAt != SIZE_MAX)
            bytes[c.flipAt] ^= 0x40;
        serial_->inspect([&](zsim::Expander& e) {
            e.space().write(0, bytes);
            return 0;
        });
        ZELKOR_INSTANCE handle{};
        handle.log = zelkor_messageLog;
        COM_INSTANCE instance{};
        instance.handle = &handle;
        instance.port = port_;
        instance.registerOp = hws_operation_quenza;
        EXPECT_EQ(postValidateRamdebugImage(&instance, image.get()), c.status);
        osal_serialPortClose(port_);
        port_ = nullptr;
    }
}

TEST_F(RamDebugTest, WatchdogsAlreadyOffAreLeftAlone) {
    openWithBootstrap("device sg0 quenza\n    product 0x230\n    register 0x42000000 0x3 writable 0xFFFFFFFF\n"
                      "    register 0x42000004 0x5 writable 0xFFFFFFFF\n");
    auto image = imageFile(64, 1);
    serial_->clearRecord();
    testing::internal::CaptureStdout();
    ASSERT_EQ(ramdebug_(instance_, serial_->path().c_str(), 1, image.get(), 0), 0U);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\nINFO: Watchdog is already disabled."), std::string::npos);
    for (const auto& f : serial_->frames())
        EXPECT_FALSE(f.command == "p" && (f.address == 0x42000000 || f.address == 0x42000004));
}

TEST_F(RamDebugTest, AFailedReopenLeavesNoPort) {
    openWithBootstrap(kQuenzaWithWatchdogs);
    zsim::client::denySerialOpen(serial_->path());
    auto image = imageFile(64, 1);
    EXPECT_EQ(ramdebug_(instance_, serial_->path().c_str(), 1, image.get(), 0), 22U);
    zsim::client::denySerialOpen("");
    EXPECT_EQ(static_cast<COM_INSTANCE*>(instance_)->port, nullptr);
    EXPECT_EQ(ramdebug_(instance_, serial_->path().c_str(), 1, image.get(), 0), 4U);
    EXPECT_EQ(options_.ramDebugBusy, 0);
    EXPECT_EQ(close_(instance_), 0U);
    instance_ = nullptr;
}

TEST_F(RamDebugTest, SmartCliFlagIsReadFromTheLiveOpenOnly) {
    // Before any open and after the close no record is live: the flag reads as clear.
    EXPECT_EQ(comSmartCliBusy(), 0);
    openWithBootstrap(kQuenzaWithWatchdogs);
    options_.smartCliBusy = 1;
    EXPECT_EQ(comSmartCliBusy(), 1);
    close_(instance_);
    instance_ = nullptr;
    EXPECT_EQ(comSmartCliBusy(), 0);
}

} // namespace
