// The library opened through the core as a caller opens it: the fake interface module in the registry, the
// real hardware modules bound by name.
#include "hal/zelkorHalCommon.h"
#include "hal/zelkorHalRegions.h"
#include "osal/osalTime.h"
#include "tests/hal/halFixture.h"

#include <gmock/gmock.h>

namespace {

using testing::IsEmpty;

constexpr uint64_t kSasAddress = 0x5000ABCD00001234ull;
char gTtyPath[] = "/dev/ttyFAKE2";


class ThroughCore : public testing::Test {
  protected:
    static void SetUpTestSuite() { buildModuleRegistry(); }
    void SetUp() override {
        osal_setSleepFunction([](uint32_t) {});
        swap_.emplace(modelInterfaceEntries());
        log_ = std::make_unique<LogCapture>();
    }
    void TearDown() override {
        log_.reset();
        swap_.reset();
        osal_setSleepFunction(nullptr);
        // Every hardware instance the tests opened was closed again.
        EXPECT_EQ(gHALInstanceList != nullptr ? ll_getCount(gHALInstanceList) : 0, 0);
    }

    static std::vector<ZELKOR_REGION> listed(ZELKOR_INSTANCE* handle, ZELKOR_STATUS* status = nullptr) {
        ZELKOR_REGION_LIST* list = nullptr;
        const ZELKOR_STATUS got = zelkor_getRegions(handle, &list);
        if (status != nullptr)
            *status = got;
        std::vector<ZELKOR_REGION> rows;
        while (list != nullptr) {
            rows.push_back(list->region);
            ZELKOR_REGION_LIST* next = list->next;
            std::free(list);
            list = next;
        }
        return rows;
    }

    std::unique_ptr<LogCapture> log_;
    std::optional<RegistryQuerySwap> swap_;
};

void writeTable() {
    zsim::FirmwareHeader header;
    header.signature = gModel.expander->traits().signature;
    gModel.expander->writeFirmwareHeader(header);
    gModel.expander->writeFlashTable(0x100, {{0, 0x100000, 0}, {5, 0x100000, 0x100000}});
}

TEST_F(ThroughCore, EveryFamilyOpensAndServesTheMainRoad) {
    struct Case {
        const char* label;
        zsim::Family family;
        uint32_t chipType;
        size_t regions;
        bool ethernet;
        uint32_t pageId;
    };
    const Case cases[] = {
        {"Ostrel", zsim::Family::Ostrel, 2, 3 + 1 + 7, true, 0xFF10},
        {"Ostrel switch", zsim::Family::Ostrel, 3, 3 + 1 + 7, true, 0xFF10},
        {"Quenza", zsim::Family::Quenza, 4, 3 + 1 + 8, true, 0xFF27},
        {"Quenza Dax", zsim::Family::Quenza, 5, 3 + 1 + 8, true, 0xFF27},
        {"Palx", zsim::Family::Palx, 1, 11, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        gModel.reset(c.family, c.chipType);
        gModel.expander->setEthernet({{10, 0, 0, 5}, {255, 0, 0, 0}, {10, 0, 0, 1}, {}, false});
        writeTable();
        ZELKOR_INSTANCE* handle = nullptr;
        ZELKOR_EXPANDER_LIST* expanders = nullptr;
        ASSERT_EQ(zelkor_open(0, kSasAddress, &handle, nullptr, &expanders), 0u);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(expanders, &gModel.listed);

        ZELKOR_STATUS status = 1;
        const std::vector<ZELKOR_REGION> rows = listed(handle, &status);
        EXPECT_EQ(status, 0u);
        ASSERT_EQ(rows.size(), c.regions);
        EXPECT_EQ(rows[0], regionRow(0, 0xC0, 0, 0, 0xFFFFFFFF));

        uint8_t value[4] = {10, 0, 0, 77};
        gModel.calls.clear();
        if (c.ethernet) {
            EXPECT_EQ(zelkor_setMorv(handle, value, 0), 0u);
            ASSERT_EQ(gModel.calls.size(), 1u);
            EXPECT_EQ(gModel.calls[0].offset, c.pageId);
            EXPECT_EQ(gModel.calls[0].size, 0xE6u);
            std::vector<uint8_t> page;
            gModel.expander->readPage(static_cast<uint16_t>(c.pageId), 0xFFFF, page);
            EXPECT_EQ(std::vector<uint8_t>(page.begin() + 4, page.begin() + 8),
                      std::vector<uint8_t>(value, value + 4));
        } else {
            // Palx has no Ethernet settings: the core leaves the slot empty.
            EXPECT_EQ(zelkor_setMorv(handle, value, 0), 2u);
            EXPECT_THAT(gModel.calls, IsEmpty());
        }
        EXPECT_EQ(zelkor_resetExpander(handle, 1), 0u);
        EXPECT_EQ(gModel.expander->chipResets(), 1u);
        // A model without phy data counts no phys: an empty list.
        auto* phys = reinterpret_cast<ZELKOR_PHY_LIST*>(&value);
        EXPECT_EQ(zelkor_getPhys(handle, &phys), 0u);
        EXPECT_EQ(phys, nullptr);
        EXPECT_EQ(zelkor_close(handle), 0u);
    }
}

TEST_F(ThroughCore, FlashWarningsKeepTheHandleOpen) {
    struct Case {
        const char* label;
        std::function<void()> arrange;
        ZELKOR_STATUS status;
    };
    const Case cases[] = {
        {"foreign firmware",
         [] {
             zsim::FirmwareHeader header;
             header.signature = {0x5AEAA55Au, 0xA55AEAA5u, 0x5AA55AEAu};
             gModel.expander->writeFirmwareHeader(header);
         },
         32},
        {"unreadable header",
         [] {
             gModel.failures = {{"upload", 0, 25}};
         },
         26},
    };
    for (const Case& c : cases) {
        for (auto [family, chipType] :
             {std::pair{zsim::Family::Ostrel, 2u}, std::pair{zsim::Family::Quenza, 4u}}) {
            SCOPED_TRACE(std::string(c.label) + " " + zsim::familyName(family));
            gModel.reset(family, chipType);
            c.arrange();
            ZELKOR_INSTANCE* handle = nullptr;
            EXPECT_EQ(zelkor_open(0, kSasAddress, &handle, nullptr, nullptr), c.status);
            ASSERT_NE(handle, nullptr);
            EXPECT_EQ(listed(handle).size(), chipType == 2 ? 10u : 11u);
            EXPECT_EQ(zelkor_close(handle), 0u);
        }
    }
}

TEST_F(ThroughCore, OfflineHandlesHaveNoMemoryWindow) {
    for (uint32_t code : {5u, 6u}) {
        SCOPED_TRACE(code);
        gModel.reset(zsim::Family::Ostrel, 2);
        ZELKOR_INSTANCE* handle = nullptr;
        ASSERT_EQ(zelkor_open(code, 0, &handle, nullptr, nullptr), 0u);
        ZELKOR_STATUS status = 1;
        EXPECT_THAT(listed(handle, &status), IsEmpty());
        EXPECT_EQ(status, 0u);
        uint8_t value[4] = {1, 2, 3, 4};
        EXPECT_EQ(zelkor_setMorv(handle, value, 1), 17u);
        EXPECT_EQ(zelkor_resetExpander(handle, 2), 17u);
        EXPECT_THAT(gModel.calls, IsEmpty());
        EXPECT_EQ(zelkor_close(handle), 0u);
    }
}

TEST_F(ThroughCore, QuenzaForRamDebugBindsItsRamDebugOperation) {
    gModel.reset(zsim::Family::Quenza, 4);
    gModel.designatedRegions = 0;
    writeTable();
    ZELKOR_INSTANCE* handle = nullptr;
    ASSERT_EQ(zelkor_open(7, reinterpret_cast<uintptr_t>(gTtyPath), &handle, nullptr, nullptr), 0u);
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(handle->halVectors.zelkor_hal_downloadRamdebug, nullptr);
    EXPECT_EQ(zelkor_downloadRamdebug(handle, gTtyPath, 0, nullptr, 0), 2u);
    EXPECT_EQ(listed(handle), std::vector<ZELKOR_REGION>(gQuenzaRegions.begin(), gQuenzaRegions.end()));
    EXPECT_THAT(gModel.calls, IsEmpty());
    EXPECT_EQ(zelkor_close(handle), 0u);
}

} // namespace
