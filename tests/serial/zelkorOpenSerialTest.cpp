// zelkor_open on the debug-port interfaces, through the core and the hardware modules, against the
// serial expander: the handle, its expander record and the region list the hardware module reads from
// the model's flash.
#include "serialFixture.h"

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
        SerialSetup setup;
        setup.start = c.program;
        start(c.scenario, setup);
        ZELKOR_EXPANDER_LIST* expanders = nullptr;
        const std::string path = serial_->path();
        const ZELKOR_STATUS status =
            zelkor_open(c.interface, reinterpret_cast<uintptr_t>(path.c_str()), &handle_, nullptr, &expanders);
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

} // namespace
