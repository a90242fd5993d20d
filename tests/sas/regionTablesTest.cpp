// Self-check of the static region tables against the invariants every handle's region list relies on.
#include "hal/zelkorHalRegions.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <set>
#include <span>
#include <vector>

namespace {

void expectBuiltRow(const ZELKOR_REGION& row) {
    EXPECT_EQ(row.descriptorFlag, 0u);
    EXPECT_EQ(row.flashType, ZELKOR_FLASH_TYPE_UNKNOWN);
    EXPECT_EQ(row.entryId, 0u);
}

void expectMemoryWindow(const ZELKOR_REGION& row) {
    EXPECT_EQ(row.kind, ZELKOR_REGION_MEMORY);
    EXPECT_EQ(row.regionId, MEMORY_WINDOW_REGION_ID);
    EXPECT_EQ(row.base, 0u);
    EXPECT_EQ(row.size, 0xFFFFFFFFu);
}

struct FamilyTables {
    const char* name;
    std::span<const ZELKOR_REGION> statics;
    std::span<const ZELKOR_REGION> designated;
    uint32_t flashBase;
};

// Names the case in test listings.
[[maybe_unused]] void PrintTo(const FamilyTables& c, std::ostream* os) {
    *os << c.name;
}

class FamilyRegions : public testing::TestWithParam<FamilyTables> {};

TEST_P(FamilyRegions, StaticRowsAreWindowFlashAndFirmwarePartition) {
    const FamilyTables& t = GetParam();
    ASSERT_EQ(t.statics.size(), 3u);
    expectMemoryWindow(t.statics[0]);
    const ZELKOR_REGION& flash = t.statics[1];
    const ZELKOR_REGION& firmware = t.statics[2];
    EXPECT_EQ(flash.kind, ZELKOR_REGION_FLASH);
    EXPECT_EQ(flash.regionId, 0u);
    EXPECT_EQ(firmware.kind, ZELKOR_REGION_PARTITION);
    EXPECT_EQ(firmware.regionId, FIRMWARE_PARTITION_REGION_ID);
    for (const ZELKOR_REGION* row : {&flash, &firmware}) {
        EXPECT_EQ(row->base, t.flashBase);
        EXPECT_EQ(row->size, OSTREL_QUENZA_FLASH_SIZE);
        EXPECT_EQ(row->index, 0u);
    }
    for (const ZELKOR_REGION& row : t.statics)
        expectBuiltRow(row);
}

TEST_P(FamilyRegions, DesignatedRowsCarrySizeOnlyInTheFirstAndDistinctIds) {
    const FamilyTables& t = GetParam();
    ASSERT_FALSE(t.designated.empty());
    std::set<uint32_t> ids;
    for (size_t i = 0; i < t.designated.size(); ++i) {
        const ZELKOR_REGION& row = t.designated[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(row.size, i == 0 ? OSTREL_QUENZA_FLASH_SIZE : 0u);
        EXPECT_EQ(row.base, 0u);
        EXPECT_EQ(row.index, 0u);
        EXPECT_GE(row.regionId, 0xE0u);
        EXPECT_LE(row.regionId, 0xE7u);
        EXPECT_TRUE(row.kind == ZELKOR_REGION_PAGE_STORE || (row.kind >= ZELKOR_REGION_DESIGNATED_FIRST &&
                                                             row.kind <= ZELKOR_REGION_DESIGNATED_LAST));
        EXPECT_TRUE(ids.insert(row.regionId).second) << "id repeated";
        expectBuiltRow(row);
    }
    // Whole list of a handle: no region id twice.
    for (const ZELKOR_REGION& row : t.statics)
        if (row.kind != ZELKOR_REGION_FLASH) {
            EXPECT_TRUE(ids.insert(row.regionId).second);
        }
    EXPECT_EQ(t.designated.front().regionId, 0xE0u);
    EXPECT_EQ(t.designated.back().kind, ZELKOR_REGION_DESIGNATED_LAST);
    EXPECT_EQ(t.designated.back().regionId, 0xE7u);
}

INSTANTIATE_TEST_SUITE_P(
    Families, FamilyRegions,
    testing::Values(FamilyTables{"Ostrel", gOstrelRegions, gDesignatedRegions, OSTREL_FLASH_BASE},
                    FamilyTables{"Quenza", gQuenzaRegions, gDesignatedRegionsQuenza, QUENZA_FLASH_BASE}),
    [](const testing::TestParamInfo<FamilyTables>& info) { return std::string(info.param.name); });

TEST(DesignatedRegions, QuenzaAddsThePageStoreBeforeTheLastRow) {
    ASSERT_EQ(gDesignatedRegionsQuenza.size(), gDesignatedRegions.size() + 1);
    for (size_t i = 0; i + 1 < gDesignatedRegions.size(); ++i) {
        EXPECT_EQ(gDesignatedRegionsQuenza[i].kind, gDesignatedRegions[i].kind);
        EXPECT_EQ(gDesignatedRegionsQuenza[i].regionId, gDesignatedRegions[i].regionId);
    }
    const ZELKOR_REGION& store = gDesignatedRegionsQuenza[gDesignatedRegionsQuenza.size() - 2];
    EXPECT_EQ(store.kind, ZELKOR_REGION_PAGE_STORE);
    EXPECT_EQ(store.regionId, 0xE6u);
    EXPECT_TRUE(std::none_of(gDesignatedRegions.begin(), gDesignatedRegions.end(),
                             [](const ZELKOR_REGION& r) { return r.regionId == 0xE6u; }));
}

TEST(PalxRegions, WindowFlashEightContiguousRegionsAndBootRecord) {
    ASSERT_EQ(gPalxRegions.size(), 11u);
    expectMemoryWindow(gPalxRegions.front());
    const ZELKOR_REGION& flash = gPalxRegions[1];
    EXPECT_EQ(flash.kind, ZELKOR_REGION_FLASH);
    EXPECT_EQ(flash.base, PALX_FLASH_BASE);
    EXPECT_EQ(flash.size, PALX_FLASH_SIZE);
    // Regions 0 to 7: id and index equal their position, each begins where the previous one ends,
    // and all lie inside the whole flash.
    uint32_t expectedBase = PALX_FLASH_BASE;
    for (uint32_t n = 0; n < 8; ++n) {
        const ZELKOR_REGION& row = gPalxRegions[2 + n];
        SCOPED_TRACE(n);
        EXPECT_EQ(row.kind, ZELKOR_REGION_PARTITION);
        EXPECT_EQ(row.regionId, n);
        EXPECT_EQ(row.index, n);
        EXPECT_EQ(row.base, expectedBase);
        EXPECT_GT(row.size, 0u);
        expectedBase = row.base + row.size;
    }
    EXPECT_LE(expectedBase, flash.base + flash.size);
    const ZELKOR_REGION& boot = gPalxRegions.back();
    EXPECT_EQ(boot.kind, ZELKOR_REGION_BOOT_RECORD);
    EXPECT_EQ(boot.regionId, 0x0Au);
    EXPECT_EQ(boot.index, 0x0Au);
    EXPECT_EQ(boot.base, 0x40300000u);
    EXPECT_EQ(boot.size, 0x2000u);
    for (const ZELKOR_REGION& row : gPalxRegions)
        expectBuiltRow(row);
}

// Every row word for word as the handles' region lists must carry it, written out here rather than taken
// from the tables' own constants: kind, id, index, base, size, descriptor flag, flash type, entry id.
using Row = std::array<uint32_t, 8>;
constexpr uint32_t kUnknownFlash = 0xFFFFFFFEu;

std::vector<Row> rowsOf(std::span<const ZELKOR_REGION> table) {
    std::vector<Row> rows;
    for (const ZELKOR_REGION& r : table)
        rows.push_back(
            {r.kind, r.regionId, r.index, r.base, r.size, r.descriptorFlag, r.flashType, r.entryId});
    return rows;
}

Row designatedRow(uint32_t kind, uint32_t id, uint32_t size = 0) {
    return {kind, id, 0, 0, size, 0, kUnknownFlash, 0};
}

TEST(RegionTables, EveryRowWordForWord) {
    EXPECT_EQ(rowsOf(gOstrelRegions), (std::vector<Row>{
                                          {0, 0xC0, 0, 0, 0xFFFFFFFF, 0, kUnknownFlash, 0},
                                          {1, 0x00, 0, 0x14000000, 0x03FFFFFF, 0, kUnknownFlash, 0},
                                          {2, 0x80, 0, 0x14000000, 0x03FFFFFF, 0, kUnknownFlash, 0},
                                      }));
    EXPECT_EQ(rowsOf(gQuenzaRegions), (std::vector<Row>{
                                          {0, 0xC0, 0, 0, 0xFFFFFFFF, 0, kUnknownFlash, 0},
                                          {1, 0x00, 0, 0x10000000, 0x03FFFFFF, 0, kUnknownFlash, 0},
                                          {2, 0x80, 0, 0x10000000, 0x03FFFFFF, 0, kUnknownFlash, 0},
                                      }));
    EXPECT_EQ(rowsOf(gDesignatedRegions),
              (std::vector<Row>{designatedRow(3, 0xE0, 0x03FFFFFF), designatedRow(4, 0xE1),
                                designatedRow(5, 0xE2), designatedRow(6, 0xE3), designatedRow(7, 0xE4),
                                designatedRow(8, 0xE5), designatedRow(9, 0xE7)}));
    EXPECT_EQ(rowsOf(gDesignatedRegionsQuenza),
              (std::vector<Row>{designatedRow(3, 0xE0, 0x03FFFFFF), designatedRow(4, 0xE1),
                                designatedRow(5, 0xE2), designatedRow(6, 0xE3), designatedRow(7, 0xE4),
                                designatedRow(8, 0xE5), designatedRow(12, 0xE6), designatedRow(9, 0xE7)}));
    EXPECT_EQ(rowsOf(gPalxRegions), (std::vector<Row>{
                                        {0, 0xC0, 0, 0, 0xFFFFFFFF, 0, kUnknownFlash, 0},
                                        {1, 0, 0, 0x10000000, 0x00200000, 0, kUnknownFlash, 0},
                                        {2, 0, 0, 0x10000000, 0x00040000, 0, kUnknownFlash, 0},
                                        {2, 1, 1, 0x10040000, 0x00040000, 0, kUnknownFlash, 0},
                                        {2, 2, 2, 0x10080000, 0x00040000, 0, kUnknownFlash, 0},
                                        {2, 3, 3, 0x100C0000, 0x00010000, 0, kUnknownFlash, 0},
                                        {2, 4, 4, 0x100D0000, 0x00010000, 0, kUnknownFlash, 0},
                                        {2, 5, 5, 0x100E0000, 0x00010000, 0, kUnknownFlash, 0},
                                        {2, 6, 6, 0x100F0000, 0x00010000, 0, kUnknownFlash, 0},
                                        {2, 7, 7, 0x10100000, 0x00010000, 0, kUnknownFlash, 0},
                                        {10, 0x0A, 0x0A, 0x40300000, 0x00002000, 0, kUnknownFlash, 0},
                                    }));
}

} // namespace
