// zelkor_open on the debug-port interfaces, through the core and the hardware modules, against the
// serial expander: the handle, its expander record and the region list the hardware module reads from
// the model's flash.
#include "serialFixture.h"
#include "tests/support/libraryLists.h"

#include <cstdlib>

namespace {

using zsim::SerialProgram;
using zsim::SerialSetup;

class ZelkorOpenSerialTest : public SerialExpanderTest {
  protected:
    void SetUp() override {
        SerialExpanderTest::SetUp();
        osal_setSleepFunction([](uint32_t) {});
        osal_setSilenceWaitFunction(zsim::SerialExpander::silenceWait);
    }
    void TearDown() override {
        if (handle_ != nullptr)
            zelkor_close(handle_);
        handle_ = nullptr;
        gSharedVars.ramDebugBusy = 0;
        gSharedVars.smartCliBusy = 0;
        SerialExpanderTest::TearDown();
    }
    // zelkor_open on the interface against a serial expander running the program over the scenario's
    // model; the expander list it hands out, or null.
    ZELKOR_STATUS openOn(const char* scenario, SerialProgram program, uint32_t interface,
                         ZELKOR_EXPANDER_LIST** expanders) {
        SerialSetup setup;
        setup.start = program;
        start(scenario, setup);
        *expanders = nullptr;
        const std::string path = serial_->path();
        return zelkor_open(interface, reinterpret_cast<uintptr_t>(path.c_str()), &handle_, nullptr, expanders);
    }
    ZELKOR_INSTANCE* handle_ = nullptr;
};

TEST_F(ZelkorOpenSerialTest, OpensOnEachInterfaceAndListsTheFlashRegions) {
    struct Case {
        const char* name;
        const char* scenario;
        SerialProgram program;
        uint32_t interface;
        uint32_t chipType;
    };
    const Case cases[] = {
        {"Ostrel bootstrap, code 1", "device sg0 ostrel\n    product 0x220\n", SerialProgram::OstrelBootstrap,
         ZELKOR_INTERFACE_COM, ZELKOR_CHIP_OSTREL},
        {"Quenza bootstrap, code 1", "device sg0 quenza\n    product 0x230\n", SerialProgram::QuenzaBootstrap,
         ZELKOR_INTERFACE_COM, ZELKOR_CHIP_QUENZA},
        {"Quenza ROM, code 7", "device sg0 quenza\n    product 0x230\n", SerialProgram::QuenzaRom,
         ZELKOR_INTERFACE_RAMDEBUG, ZELKOR_CHIP_QUENZA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZELKOR_EXPANDER_LIST* expanders = nullptr;
        const ZELKOR_STATUS status = openOn(c.scenario, c.program, c.interface, &expanders);
        EXPECT_TRUE(status == 0 || status == 26 || status == 32) << status;
        ASSERT_NE(handle_, nullptr);
        ASSERT_NE(expanders, nullptr);
        EXPECT_EQ(expanders->expander.type == ZELKOR_CHIP_QUENZA_DAX ? ZELKOR_CHIP_QUENZA : expanders->expander.type,
                  c.chipType);
        ZELKOR_REGION_LIST* regions = nullptr;
        EXPECT_EQ(zelkor_getRegions(handle_, &regions), 0U);
        EXPECT_NE(regions, nullptr);
        // The hardware module lists the firmware partitions of the model's flash table.
        size_t partitions = 0;
        while (regions != nullptr) {
            partitions += regions->region.kind == ZELKOR_REGION_PARTITION ? 1 : 0;
            ZELKOR_REGION_LIST* next = regions->next;
            std::free(regions);
            regions = next;
        }
        EXPECT_GT(partitions, 0U);
        // The smart CLI setting lands in the family's misc control register.
        const uint32_t misc = c.chipType == ZELKOR_CHIP_OSTREL ? 0x40900018 : 0x42400018;
        EXPECT_EQ(zelkor_setSmartCli(handle_), 0U);
        EXPECT_NE(word(misc) & 0x400, 0U);
        // A chip reset requested through the hardware module reaches the model's reset register.
        zelkor_resetExpander(handle_, 1);
        EXPECT_EQ(serial_->inspect([](zsim::Expander& e) { return e.chipResets(); }), 1U);
        zelkor_close(handle_);
        handle_ = nullptr;
    }
}

// An erase of a flash partition over the debug port: the module leaves it to the hardware module (27),
// whose flash engine erases the partition's blocks through the bootstrap's byte accesses; the flash
// outside the partition keeps its bytes.
TEST_F(ZelkorOpenSerialTest, PartitionEraseGoesThroughTheFlashEngine) {
    struct Case {
        const char* name;
        const char* scenario;
        SerialProgram program;
        uint32_t window;
    };
    const Case cases[] = {
        {"Ostrel", "device sg0 ostrel\n    product 0x220\n    flash-part amd-x16-byte\n", SerialProgram::OstrelBootstrap,
         0x14000000},
        {"Quenza", "device sg0 quenza\n    product 0x230\n    flash-part amd-x16-word\n",
         SerialProgram::QuenzaBootstrap, 0x10000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZELKOR_EXPANDER_LIST* expanders = nullptr;
        const ZELKOR_STATUS opened = openOn(c.scenario, c.program, ZELKOR_INTERFACE_COM, &expanders);
        ASSERT_TRUE(opened == 0 || opened == 26 || opened == 32) << opened;
        ZELKOR_REGION_LIST* regions = nullptr;
        ASSERT_EQ(zelkor_getRegions(handle_, &regions), 0U);
        ZELKOR_REGION partition{};
        bool found = false;
        for (ZELKOR_REGION_LIST* node = regions; node != nullptr; node = node->next)
            if (!found && node->region.kind == ZELKOR_REGION_PARTITION && node->region.size >= 0x10000) {
                partition = node->region;
                found = true;
            }
        freeList(regions);
        ASSERT_TRUE(found);
        const uint32_t offset = partition.base - c.window;
        const uint32_t after = offset + partition.size;
        // Marks in the partition's first and last byte and just past it.
        serial_->inspect([&](zsim::Expander& e) {
            e.flash().write(offset, std::vector<uint8_t>{0x12});
            e.flash().write(after - 1, std::vector<uint8_t>{0x34});
            e.flash().write(after, std::vector<uint8_t>{0x56});
            return 0;
        });
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS erased = zelkor_eraseRegion(handle_, &partition);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(erased, 0U) << printed;
        serial_->inspect([&](zsim::Expander& e) {
            EXPECT_EQ(e.flash().get(offset), 0xFF);
            EXPECT_EQ(e.flash().get(after - 1), 0xFF);
            EXPECT_EQ(e.flash().get(after), 0x56);
            EXPECT_EQ(e.norBank().chips().at(0)->modeName(), "read-array");
            return 0;
        });
        zelkor_close(handle_);
        handle_ = nullptr;
    }
}

} // namespace
