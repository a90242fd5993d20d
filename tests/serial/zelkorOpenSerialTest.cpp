// zelkor_open on the debug-port interfaces, through the core and the hardware modules, against the
// serial expander: the handle, its expander record and the region list the hardware module reads from
// the model's flash.
#include "serialFixture.h"
#include "core/modules.h"
#include "tests/support/libraryLists.h"
#include "tests/support/testSupport.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <type_traits>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using zsim::SerialProgram;
using zsim::SerialSetup;

// While it lives, allocations of this thread are not leaks to the sanitizer's leak check: for a caller
// that keeps its lists to the end of the process.
struct LeakCheckOff {
#if defined(__SANITIZE_ADDRESS__)
    LeakCheckOff() { __lsan_disable(); }
    ~LeakCheckOff() { __lsan_enable(); }
#else
    LeakCheckOff() = default;
#endif
    LeakCheckOff(const LeakCheckOff&) = delete;
    LeakCheckOff& operator=(const LeakCheckOff&) = delete;
};

// Every node of a list and every byte of its records, copied out (the sanitizer build sees a freed
// one).
std::vector<ZELKOR_EXPANDER> readWhole(const ZELKOR_EXPANDER_LIST* list) {
    std::vector<ZELKOR_EXPANDER> records;
    for (; list != nullptr; list = list->next) {
        ZELKOR_EXPANDER record;
        std::memcpy(&record, &list->expander, sizeof record);
        records.push_back(record);
    }
    return records;
}

// A hardware module whose open fails: the real module's operations, its open answering 7.
QUERY_SYMBOL_FUNCTION gRealHardware = nullptr;
uint32_t gHalOpens = 0;
ZELKOR_STATUS failingHalOpen(ZELKOR_INSTANCE*, ZELKOR_HAL_INSTANCE** instance, uint32_t) {
    ++gHalOpens;
    *instance = nullptr;
    return 7;
}
static_assert(std::is_same_v<decltype(&failingHalOpen), HAL_OPEN_FUNCTION>);
ZELKOR_GENERIC_FUNCTION hardwareWithFailingOpen(const char* name) {
    if (std::strcmp(name, "zelkor_hal_open") == 0)
        return reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(failingHalOpen);
    return gRealHardware(name);
}

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
        freeList(expanders);
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
        freeList(expanders);
    }
}

struct ListCase {
    const char* name;
    const char* scenario;
    SerialProgram program;
    uint32_t interface;
    uint32_t sasHigh;
    uint32_t sasLow;
};
const ListCase kListCases[] = {
    {"Ostrel bootstrap, code 1", "device sg0 ostrel\n    product 0x220\n    sas-address 500605B0:0000A1C0\n",
     SerialProgram::OstrelBootstrap, ZELKOR_INTERFACE_COM, 0x500605B0, 0x0000A1C0},
    {"Quenza bootstrap, code 1", "device sg0 quenza\n    product 0x230\n    sas-address 500605B0:0000B2D0\n",
     SerialProgram::QuenzaBootstrap, ZELKOR_INTERFACE_COM, 0x500605B0, 0x0000B2D0},
    {"Quenza ROM, code 7", "device sg0 quenza\n    product 0x230\n    sas-address 500605B0:0000C3E0\n",
     SerialProgram::QuenzaRom, ZELKOR_INTERFACE_RAMDEBUG, 0x500605B0, 0x0000C3E0},
};

// Every list the open and two listings hand out is the caller's: each one stays whole after the later
// listings, and after the close, until the caller frees it (before or after the close, or never). The
// sanitizer build sees a list read after it was freed, freed twice, or lost.
TEST_F(ZelkorOpenSerialTest, EveryListHandedOutStaysTheCallersUntilItFreesIt) {
    enum class Order { FreeThenClose, CloseThenFree, FreeNothing };
    for (const ListCase& c : kListCases) {
        for (const Order order : {Order::FreeThenClose, Order::CloseThenFree, Order::FreeNothing}) {
            SCOPED_TRACE(std::string(c.name) + ", order " + std::to_string(static_cast<int>(order)));
            std::optional<LeakCheckOff> keptToTheEnd;
            if (order == Order::FreeNothing)
                keptToTheEnd.emplace();
            ZELKOR_EXPANDER_LIST* lists[3] = {};
            const ZELKOR_STATUS opened = openOn(c.scenario, c.program, c.interface, &lists[0]);
            ASSERT_TRUE(opened == 0 || opened == 26 || opened == 32) << opened;
            ASSERT_EQ(zelkor_getExpanders(handle_, &lists[1]), 0U);
            ASSERT_EQ(zelkor_getExpanders(handle_, &lists[2]), 0U);
            EXPECT_NE(lists[0], lists[1]);
            EXPECT_NE(lists[1], lists[2]);
            auto expectWhole = [&](const char* when) {
                for (const ZELKOR_EXPANDER_LIST* list : lists) {
                    const std::vector<ZELKOR_EXPANDER> records = readWhole(list);
                    ASSERT_EQ(records.size(), 1U) << when;
                    EXPECT_EQ(records[0].sasAddressHigh, c.sasHigh) << when;
                    EXPECT_EQ(records[0].sasAddressLow, c.sasLow) << when;
                    EXPECT_EQ(records[0].type == ZELKOR_CHIP_QUENZA_DAX ? ZELKOR_CHIP_QUENZA : records[0].type,
                              c.program == SerialProgram::OstrelBootstrap ? ZELKOR_CHIP_OSTREL : ZELKOR_CHIP_QUENZA)
                        << when;
                }
            };
            expectWhole("after the listings");
            if (order == Order::FreeThenClose) {
                // The front end's order: its lists first, then the handle.
                for (ZELKOR_EXPANDER_LIST* list : lists)
                    freeList(list);
            }
            EXPECT_EQ(zelkor_close(handle_), 0U);
            handle_ = nullptr;
            if (order != Order::FreeThenClose)
                expectWhole("after the close");
            if (order == Order::CloseThenFree) {
                for (ZELKOR_EXPANDER_LIST* list : lists)
                    freeList(list);
            }
        }
    }
}

// An open that fails after the interface handed out its list (here the hardware module's open) hands
// out no list and frees that one exactly once: the sanitizer build sees a leak or a double free.
TEST_F(ZelkorOpenSerialTest, FailedOpenAfterTheListingHandsOutNoList) {
    ZELKOR_INSTANCE* unused = nullptr;
    ASSERT_EQ(zelkor_open(8, 0, &unused, nullptr, nullptr), 5U); // builds the module registry
    for (const ListCase& c : kListCases) {
        SCOPED_TRACE(c.name);
        const bool ostrel = c.program == SerialProgram::OstrelBootstrap;
        gRealHardware = ostrel ? hal_ostrel_query_symbol : hal_quenza_query_symbol;
        RegistryQuerySwap swap({{ostrel ? "HAL-Ostrel" : "HAL-Quenza", hardwareWithFailingOpen}});
        gHalOpens = 0;
        // Whatever the caller's pointer held, a failed open leaves it null.
        ZELKOR_EXPANDER_LIST stale{};
        ZELKOR_EXPANDER_LIST* expanders = &stale;
        EXPECT_EQ(openOn(c.scenario, c.program, c.interface, &expanders), 13U);
        EXPECT_EQ(gHalOpens, 1U) << "the hardware open, which comes after the listing, was reached";
        EXPECT_EQ(handle_, nullptr);
        EXPECT_EQ(expanders, nullptr);
    }
}

} // namespace
