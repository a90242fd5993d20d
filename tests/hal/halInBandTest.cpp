// The hardware modules' open behind the real in-band interface module, under the simulated enclosure: the
// region list each family builds from the flash table the expander's flash holds, and the warnings of an
// unreadable or foreign firmware header. (A blank flash gives the in-band module no family to identify.)
#include "hal/zelkorHalRegions.h"
#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"
#include "osal/osalTime.h"
#include "tests/support/testSupport.h"

#include "client/zsimClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

inline bool operator==(const ZELKOR_REGION& a, const ZELKOR_REGION& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline void PrintTo(const ZELKOR_REGION& r, std::ostream* os) {
    char text[160];
    std::snprintf(text, sizeof text, "{kind %u id 0x%X index %u base 0x%08X size 0x%08X type 0x%X entry %u}",
                  r.kind, r.regionId, r.index, r.base, r.size, r.flashType, r.entryId);
    *os << text;
}

namespace {

namespace sim = zsim::client;

constexpr uint64_t kAddress = 0x5000CCAB0400B7F0ull;

ZELKOR_REGION partition(uint32_t id, uint32_t index, uint32_t base, uint32_t size, uint32_t entryId) {
    return ZELKOR_REGION{ZELKOR_REGION_PARTITION,   id,     index, base, size, 0,
                         ZELKOR_FLASH_TYPE_UNKNOWN, entryId};
}

struct Family {
    const char* kind;
    const char* signatureWord1; // the word the in-band module identifies the family by
    std::vector<ZELKOR_REGION> statics;
    std::vector<ZELKOR_REGION> designated;
    uint32_t base;
    const char* headerBuffer; // the buffer the header and the table are read through
    std::vector<ZELKOR_REGION> partitions;
};

const Family kOstrel{
    "ostrel",
    "0x5EA1D0C3",
    {gOstrelRegions.begin(), gOstrelRegions.end()},
    {gDesignatedRegions.begin(), gDesignatedRegions.end()},
    0x14000000u,
    "0x00",
    {partition(0x85, 5, 0x14100000, 0x100000, 0), partition(0x89, 9, 0x14200000, 0x80000, 0)}};
const Family kQuenza{
    "quenza",
    "0x7A3E91F4",
    {gQuenzaRegions.begin(), gQuenzaRegions.end()},
    {gDesignatedRegionsQuenza.begin(), gDesignatedRegionsQuenza.end()},
    0x10000000u,
    "0x80",
    {partition(0x81, 1, 0x10100000, 0x100000, 5), partition(0x82, 2, 0x10200000, 0x80000, 9)}};

class InBandOpen : public testing::TestWithParam<Family> {
  protected:
    static void SetUpTestSuite() { buildModuleRegistry(); }
    void SetUp() override {
        osal_setSleepFunction([](uint32_t) {});
    }
    void TearDown() override {
        // The in-band module keeps the list it built for the process; each test is a process of its own.
        while (gPtrExpList != nullptr) {
            ZELKOR_EXPANDER_LIST* next = gPtrExpList->next;
            std::free(gPtrExpList);
            gPtrExpList = next;
        }
        gExpanderType = 0xFF;
        osal_setSleepFunction(nullptr);
    }

    // Opens the scenario's expander through the core, takes its region list and closes it again.
    std::vector<ZELKOR_REGION> regionsAfterOpen(const std::string& keys, ZELKOR_STATUS expected) {
        sim::loadScenario(std::string("device sg0 ") + GetParam().kind +
                          "\n    sas-address 5000CCAB:0400B7F0\n" + keys);
        ZELKOR_INSTANCE* handle = nullptr;
        // The in-band module reports a failed device read on standard output as well.
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = zelkor_open(
            ZELKOR_INTERFACE_SAS, kAddress, &handle, [](int32_t, int32_t) {}, nullptr);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, expected);
        std::vector<ZELKOR_REGION> rows;
        if (handle == nullptr)
            return rows;
        ZELKOR_REGION_LIST* list = nullptr;
        EXPECT_EQ(zelkor_getRegions(handle, &list), 0u);
        while (list != nullptr) {
            rows.push_back(list->region);
            ZELKOR_REGION_LIST* next = list->next;
            std::free(list);
            list = next;
        }
        EXPECT_EQ(zelkor_close(handle), 0u);
        return rows;
    }

    std::vector<ZELKOR_REGION> rows(uint32_t firmwareSize, const std::vector<ZELKOR_REGION>& parts) const {
        const Family& f = GetParam();
        std::vector<ZELKOR_REGION> result = f.statics;
        result[2].size = firmwareSize;
        result.insert(result.end(), parts.begin(), parts.end());
        result.insert(result.end(), f.designated.begin(), f.designated.end());
        return result;
    }
};

const char* kPartitions = "    partition 0 0 0x100000\n    partition 5 0x100000 0x100000\n"
                          "    partition 9 0x200000 0x80000\n";

TEST_P(InBandOpen, FlashTableGivesThePartitions) {
    EXPECT_EQ(regionsAfterOpen(kPartitions, 0), rows(0x100000, GetParam().partitions));
}

TEST_P(InBandOpen, ForeignHeaderWarnsWith32) {
    const std::string keys =
        std::string("    firmware ") + GetParam().signatureWord1 + ",1,2\n" + kPartitions;
    EXPECT_EQ(regionsAfterOpen(keys, 32), rows(0x03FFFFFF, {}));
}

TEST_P(InBandOpen, UnreadableHeaderOrTableWarnsWith26) {
    for (const char* offset : {":0", ":0x100"}) {
        SCOPED_TRACE(offset);
        const std::string keys = std::string(kPartitions) +
                                 "    fault read-buffer:" + GetParam().headerBuffer + offset +
                                 " illegal-request count=always\n";
        EXPECT_EQ(regionsAfterOpen(keys, 26), rows(0x03FFFFFF, {}));
    }
}

// The count byte of the table (offset 2) comes from the device: claiming 255 entries lets the erased flash
// after the three real ones be read as entries, and none of them becomes a row.
TEST_P(InBandOpen, CountByteFromTheDeviceAddsNoErasedEntries) {
    const std::string keys = std::string(kPartitions) + "    flash 0x102 FF\n";
    EXPECT_EQ(regionsAfterOpen(keys, 0), rows(0x100000, GetParam().partitions));
}

// A table said to lie past the end of the flash is not read: the dynamic regions are missing (26).
TEST_P(InBandOpen, TableOffsetPastTheFlashWarnsWith26) {
    const std::string keys = std::string(kPartitions) + "    flash-table-offset 0x03FFFFF0\n";
    EXPECT_EQ(regionsAfterOpen(keys, 26), rows(0x03FFFFFF, {}));
}

INSTANTIATE_TEST_SUITE_P(Families, InBandOpen, testing::Values(kOstrel, kQuenza),
                         [](const auto& info) { return std::string(info.param.kind); });

} // namespace
