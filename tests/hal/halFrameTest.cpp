// The hardware modules' frame: the names each family answers, open (region list from the static rows, the
// firmware header and the flash table), getRegions, close and the common helpers.
#include "hal/zelkorHalCommon.h"
#include "hal/zelkorHalRegions.h"
#include "tests/hal/halFixture.h"

#include <gmock/gmock.h>

#include <set>

namespace {

using testing::ElementsAreArray;
using testing::IsEmpty;

// ---- op names ----

const std::vector<std::string> kEveryName = {
    "zelkor_hal_open",
    "zelkor_hal_close",
    "zelkor_hal_version",
    "zelkor_hal_getRegions",
    "zelkor_hal_getRegionVersion",
    "zelkor_hal_getDevices",
    "zelkor_hal_getPhys",
    "zelkor_hal_getPhy",
    "zelkor_hal_getPorts",
    "zelkor_hal_getRouteTable",
    "zelkor_hal_getZonePermissions",
    "zelkor_hal_setMorv",
    "zelkor_hal_setSmartCli",
    "zelkor_hal_resetExpander",
    "zelkor_hal_resetPhy",
    "zelkor_hal_xml2bin",
    "zelkor_hal_bin2xml",
    "zelkor_hal_testPhy",
    "zelkor_hal_bootRecordValidation",
    "zelkor_hal_fwExpanderValidation",
    "zelkor_hal_fwChecksumValidation",
    "zelkor_hal_getFwVersion",
    "zelkor_hal_fwImageValidation",
    "zelkor_hal_mfgImageValidation",
    "zelkor_hal_mfgChecksumValidation",
    "zelkor_hal_getRegionChecksum",
    "zelkor_hal_downloadRegion",
    "zelkor_hal_downloadRamdebug",
    "zelkor_hal_uploadRegion",
    "zelkor_hal_eraseRegion",
};

std::set<std::string> answeredBy(QUERY_SYMBOL_FUNCTION query) {
    std::set<std::string> names;
    for (const std::string& name : kEveryName)
        if (query(name.c_str()) != nullptr)
            names.insert(name);
    return names;
}

std::set<std::string> everyNameBut(std::initializer_list<const char*> left) {
    std::set<std::string> names(kEveryName.begin(), kEveryName.end());
    for (const char* name : left)
        names.erase(name);
    return names;
}

TEST(HalQuery, EachFamilyAnswersExactlyItsNames) {
    const auto ostrel = everyNameBut({"zelkor_hal_downloadRamdebug", "zelkor_hal_bootRecordValidation"});
    const auto quenza = everyNameBut({"zelkor_hal_bootRecordValidation"});
    const auto palx =
        everyNameBut({"zelkor_hal_setMorv", "zelkor_hal_setSmartCli", "zelkor_hal_downloadRamdebug"});
    EXPECT_EQ(answeredBy(hal_ostrel_query_symbol), ostrel);
    EXPECT_EQ(answeredBy(hal_quenza_query_symbol), quenza);
    EXPECT_EQ(answeredBy(hal_palx_query_symbol), palx);
    EXPECT_EQ(ostrel.size(), 28u);
    EXPECT_EQ(quenza.size(), 29u);
    EXPECT_EQ(palx.size(), 27u);
}

TEST(HalQuery, OnlyTheWholeExactNameMatches) {
    for (QUERY_SYMBOL_FUNCTION query :
         {hal_ostrel_query_symbol, hal_quenza_query_symbol, hal_palx_query_symbol}) {
        for (const char* name : {"zelkor_hal_Open", "ZELKOR_HAL_OPEN", "zelkor_hal_open ", "zelkor_hal_ope",
                                 "zelkor_hal_", "", "zelkor_ial_open", "zelkor_open"})
            EXPECT_EQ(query(name), nullptr) << name;
        EXPECT_EQ(query(nullptr), nullptr);
    }
}

TEST(HalQuery, FamiliesShareNoOperationThatKeepsFamilyData) {
    // The descriptor-driven operations differ per family; version is the one shared function.
    EXPECT_NE(hal_ostrel_query_symbol("zelkor_hal_open"), hal_quenza_query_symbol("zelkor_hal_open"));
    EXPECT_NE(hal_ostrel_query_symbol("zelkor_hal_resetExpander"),
              hal_palx_query_symbol("zelkor_hal_resetExpander"));
    EXPECT_EQ(hal_ostrel_query_symbol("zelkor_hal_version"), hal_palx_query_symbol("zelkor_hal_version"));
}

TEST(HalQuery, VersionIsOneZero) {
    auto version = reinterpret_cast<HAL_VERSION_FUNCTION>(hal_quenza_query_symbol("zelkor_hal_version"));
    uint8_t major = 0;
    uint8_t minor = 9;
    EXPECT_EQ(version(&major, &minor), 0u);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(version(nullptr, &minor), 5u);
    EXPECT_EQ(version(&major, nullptr), 5u);
}

// Operations that are not built into the modules, or that are given null arguments, answer a status, never
// success; the fixed ones answer what they always answer.
TEST_F(HalTest, OperationsWithoutWorkAnswerTheirStatus) {
    struct Case {
        const FamilyCase* family;
        const char* name;
        ZELKOR_STATUS status;
    };
    const Case cases[] = {
        {&kOstrel, "zelkor_hal_getPhys", 5}, // no list pointer
        {&kQuenza, "zelkor_hal_getPhys", 5},
        {&kPalx, "zelkor_hal_getPhys", 5},
        {&kQuenza, "zelkor_hal_getPorts", 5},
        {&kPalx, "zelkor_hal_getDevices", 5},
        {&kOstrel, "zelkor_hal_getRouteTable", 5},
        {&kOstrel, "zelkor_hal_testPhy", 1},
        {&kQuenza, "zelkor_hal_testPhy", 1},
        {&kPalx, "zelkor_hal_testPhy", 1},
        {&kPalx, "zelkor_hal_getZonePermissions", 29},
        {&kOstrel, "zelkor_hal_getZonePermissions", 5}, // no row
        {&kPalx, "zelkor_hal_bin2xml", 1},
        {&kQuenza, "zelkor_hal_bin2xml", 5},             // no template
        {&kOstrel, "zelkor_hal_eraseRegion", 5},          // no region
        {&kQuenza, "zelkor_hal_downloadRamdebug", 2},     // the interface's answer, passed back
        {&kPalx, "zelkor_hal_bootRecordValidation", 5},   // no file
        {&kQuenza, "zelkor_hal_getFwVersion", 5},         // no version text
        {&kOstrel, "zelkor_hal_fwChecksumValidation", 5}, // no word count
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family->name) + " " + c.name);
        use(*c.family);
        ASSERT_EQ(open(), 0u);
        // Every slot takes the instance first; the other arguments are not looked at.
        using AnySlot = ZELKOR_STATUS (*)(ZELKOR_HAL_INSTANCE*, void*, void*, void*, void*, void*);
        AnySlot slot = op<AnySlot>(c.name);
        ASSERT_NE(slot, nullptr);
        gModel.calls.clear();
        EXPECT_EQ(slot(hi_, nullptr, nullptr, nullptr, nullptr, nullptr), c.status);
        ZELKOR_HAL_INSTANCE stranger{};
        EXPECT_EQ(slot(&stranger, nullptr, nullptr, nullptr, nullptr, nullptr), 4u);
        EXPECT_THAT(gModel.calls, IsEmpty());
    }
}

// ---- open ----

std::vector<ZELKOR_REGION> rowsOf(std::initializer_list<std::span<const ZELKOR_REGION>> parts) {
    std::vector<ZELKOR_REGION> rows;
    for (auto part : parts)
        rows.insert(rows.end(), part.begin(), part.end());
    return rows;
}

ZELKOR_REGION resized(ZELKOR_REGION row, uint32_t size) {
    row.size = size;
    return row;
}

void writeHeader(std::array<uint32_t, 3> signature, uint32_t tableOffset = 0x100) {
    zsim::FirmwareHeader header;
    header.signature = signature;
    header.flashTableOffset = tableOffset;
    gModel.expander->writeFirmwareHeader(header);
}

void writeFamilyHeader(uint32_t tableOffset = 0x100) {
    zsim::FirmwareHeader header;
    header.signature = gModel.expander->traits().signature;
    header.flashTableOffset = tableOffset;
    gModel.expander->writeFirmwareHeader(header);
}

const std::vector<zsim::FlashEntry> kThreePartitions = {
    {0, 0x100000, 0}, {5, 0x100000, 0x100000}, {9, 0x80000, 0x200000}};

struct FamilyRows {
    const FamilyCase* family;
    std::span<const ZELKOR_REGION> statics;
    std::span<const ZELKOR_REGION> designated;
    uint32_t base;
    uint32_t headerRegionId; // the row the header and the table are read through
};

const FamilyRows kOstrelRows{&kOstrel, gOstrelRegions, gDesignatedRegions, 0x14000000u, 0x00};
const FamilyRows kQuenzaRows{&kQuenza, gQuenzaRegions, gDesignatedRegionsQuenza, 0x10000000u, 0x80};

class HalOpen : public HalTest, public testing::WithParamInterface<FamilyRows> {
  protected:
    void SetUp() override {
        HalTest::SetUp();
        use(*GetParam().family);
    }
    // The partition rows of kThreePartitions as the family names them.
    std::vector<ZELKOR_REGION> partitionRows() const {
        const FamilyRows& p = GetParam();
        if (p.family == &kOstrel)
            return {regionRow(2, 0x85, 5, p.base + 0x100000, 0x100000),
                    regionRow(2, 0x89, 9, p.base + 0x200000, 0x80000)};
        return {regionRow(2, 0x81, 1, p.base + 0x100000, 0x100000, 5),
                regionRow(2, 0x82, 2, p.base + 0x200000, 0x80000, 9)};
    }
    std::vector<ZELKOR_REGION> withPartitions(uint32_t firmwareSize, const std::vector<ZELKOR_REGION>& parts,
                                              bool designated = true) const {
        const FamilyRows& p = GetParam();
        std::vector<ZELKOR_REGION> rows = {p.statics[0], p.statics[1], resized(p.statics[2], firmwareSize)};
        rows.insert(rows.end(), parts.begin(), parts.end());
        if (designated)
            rows.insert(rows.end(), p.designated.begin(), p.designated.end());
        return rows;
    }
    // The uploads the open made: region id, offset, size.
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> reads() const {
        std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> result;
        for (const InterfaceCall& c : gModel.calls) {
            EXPECT_EQ(c.op, "upload");
            result.emplace_back(c.region.regionId, c.offset, c.size);
        }
        return result;
    }
    uint32_t tableSize() const { return GetParam().family == &kOstrel ? 136 : 424; }
};

TEST_P(HalOpen, BlankFlashGivesTheStaticAndDesignatedRows) {
    const FamilyRows& p = GetParam();
    EXPECT_EQ(open(), 0u);
    ASSERT_NE(hi_, nullptr);
    EXPECT_EQ(regions(), rowsOf({p.statics, p.designated}));
    EXPECT_THAT(reads(), ElementsAreArray({std::make_tuple(p.headerRegionId, 0u, 84u)}));
    const char* blank = p.family == &kOstrel ? "Flash is blank" : "Flash is BLANK";
    const std::string module = p.family == &kOstrel ? "zelkor_hal_OSTREL" : "zelkor_hal_GEN3";
    EXPECT_TRUE(
        containsInOrder(log_->lines(), {"INFO : " + module + "::zelkor_hal_open : Entry",
                                        "INFO : " + module + "::zelkor_hal_open : Populating the region List",
                                        "INFO : " + module + "::halPopulateRegionList : " + blank}));
}

TEST_P(HalOpen, FlashTableAddsItsPartitions) {
    const FamilyRows& p = GetParam();
    writeFamilyHeader(0x100);
    gModel.expander->writeFlashTable(0x100, kThreePartitions);
    EXPECT_EQ(open(), 0u);
    EXPECT_EQ(regions(), withPartitions(0x100000, partitionRows()));
    EXPECT_THAT(reads(), ElementsAreArray({std::make_tuple(p.headerRegionId, 0u, 84u),
                                           std::make_tuple(p.headerRegionId, 0x100u, tableSize())}));
}

TEST_P(HalOpen, WithoutDesignatedRegionsOnlyTheFlashRows) {
    handle_.designatedRegions = 0;
    writeFamilyHeader();
    gModel.expander->writeFlashTable(0x100, kThreePartitions);
    EXPECT_EQ(open(), 0u);
    EXPECT_EQ(regions(), withPartitions(0x100000, partitionRows(), false));
}

TEST_P(HalOpen, SmallReservedFirstEntryEndsTheWalk) {
    const FamilyRows& p = GetParam();
    writeFamilyHeader();
    gModel.expander->writeFlashTable(0x100, {{2, 0x10000, 0}, {5, 0x100000, 0x100000}});
    EXPECT_EQ(open(), 0u);
    EXPECT_EQ(regions(), rowsOf({p.statics, p.designated}));
}

TEST_P(HalOpen, SmallFirstEntryOfOtherIdResizesTheFirmwarePartition) {
    writeFamilyHeader();
    gModel.expander->writeFlashTable(0x100, {{3, 0x1000, 0}});
    EXPECT_EQ(open(), 0u);
    EXPECT_EQ(regions(), withPartitions(0x1000, {}));
}

// The count byte comes from the device: the walk never goes past the entries the table read holds.
TEST_P(HalOpen, WalkStaysInsideTheTableWhateverTheCountByteSays) {
    const FamilyRows& p = GetParam();
    const uint32_t capacity = (tableSize() - 4) / 12;
    std::vector<zsim::FlashEntry> entries = {{0, 0x100000, 0}};
    for (uint32_t i = 1; i < capacity + 6; ++i)
        entries.push_back({static_cast<uint8_t>(i + 2), 0x80000, 0x100000 + 0x80000 * i});
    writeFamilyHeader();
    gModel.expander->writeFlashTable(0x100, entries);
    gModel.expander->flash().set(0x100 + 2, 0xFF); // claims 255 entries
    EXPECT_EQ(open(), 0u);

    std::vector<ZELKOR_REGION> parts;
    for (uint32_t i = 1; i < capacity; ++i) {
        const zsim::FlashEntry& e = entries[i];
        if (p.family == &kOstrel)
            parts.push_back(regionRow(2, 0x80 + e.id, e.id, p.base + e.offset, e.size));
        else
            parts.push_back(regionRow(2, 0x80 + i, i, p.base + e.offset, e.size, e.id));
    }
    EXPECT_EQ(regions(), withPartitions(0x100000, parts));
    EXPECT_THAT(reads(), ElementsAreArray({std::make_tuple(p.headerRegionId, 0u, 84u),
                                           std::make_tuple(p.headerRegionId, 0x100u, tableSize())}));
}

TEST_P(HalOpen, EntriesOutsideTheFlashAreSkipped) {
    const FamilyRows& p = GetParam();
    writeFamilyHeader();
    // Quenza's device serves the firmware partition by entry 0, so only Ostrel can be shown a wrong one.
    const bool ostrel = p.family == &kOstrel;
    gModel.expander->writeFlashTable(0x100,
                                     {
                                         {0, ostrel ? 0x05000000u : 0x100000u, 0}, // larger than the flash
                                         {4, 0x80000, 0x04000000},                 // starts past the end
                                         {5, 0x00200000, 0x03F00000},              // runs past the end
                                         {6, 0x2000, 0xFFFFF000},                  // wraps the address space
                                         {0x40, 0x80000, 0x100000}, // id beyond the partition ids
                                         {7, 0x80000, 0x300000},    // the one good entry
                                         {0, 0x80000, 0x380000},    // the firmware partition's id again
                                     });
    EXPECT_EQ(open(), 0u);
    std::vector<ZELKOR_REGION> parts;
    if (ostrel)
        parts = {regionRow(2, 0x87, 7, p.base + 0x300000, 0x80000)};
    else // Quenza names partitions by position, so the id does not matter to it
        parts = {regionRow(2, 0x84, 4, p.base + 0x100000, 0x80000, 0x40),
                 regionRow(2, 0x85, 5, p.base + 0x300000, 0x80000, 7),
                 regionRow(2, 0x86, 6, p.base + 0x380000, 0x80000, 0)};
    EXPECT_EQ(regions(), withPartitions(ostrel ? 0x03FFFFFF : 0x100000, parts));
}

TEST_P(HalOpen, TableOffsetPastTheFlashIsNotRead) {
    const FamilyRows& p = GetParam();
    writeFamilyHeader(0x03FFFFF0);
    EXPECT_EQ(open(), 26u);
    ASSERT_NE(hi_, nullptr);
    EXPECT_EQ(regions(), rowsOf({p.statics, p.designated}));
    EXPECT_THAT(reads(), ElementsAreArray({std::make_tuple(p.headerRegionId, 0u, 84u)}));
}

TEST_P(HalOpen, UnreadableHeaderOrTableWarnsWith26) {
    const FamilyRows& p = GetParam();
    const bool ostrel = p.family == &kOstrel;
    const std::string where =
        std::string(ostrel ? "zelkor_hal_OSTREL" : "zelkor_hal_GEN3") + "::halPopulateRegionList : ";
    struct Case {
        uint32_t failingOffset;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {0, ostrel ? std::vector<std::string>{"ERROR : " + where +
                                              "Reading the Firmware header **** FAILED ****"}
                   : std::vector<std::string>{"ERROR : " + where +
                                                  "Reading 84 bytes at 0x00000000 offset **** FAILED ****",
                                              "ERROR : " + where + "Error loading Dynamic regions"}},
        {0x100, ostrel
                    ? std::vector<std::string>{"ERROR : " + where +
                                               "Reading the Flash table information **** FAILED ****"}
                    : std::vector<std::string>{"ERROR : " + where +
                                                   "Reading 424 bytes at 0x00000100 offset **** FAILED ****",
                                               "ERROR : " + where + "Error loading Dynamic regions"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failingOffset);
        use(*p.family);
        log_.reset();
        log_ = std::make_unique<LogCapture>();
        writeFamilyHeader();
        gModel.expander->writeFlashTable(0x100, kThreePartitions);
        gModel.failures = {{"upload", c.failingOffset, 25}};
        EXPECT_EQ(open(), 26u);
        ASSERT_NE(hi_, nullptr);
        EXPECT_EQ(regions(), rowsOf({p.statics, p.designated}));
        EXPECT_TRUE(containsInOrder(log_->lines(), c.lines));
        EXPECT_EQ(close(), 0u);
    }
}

TEST_P(HalOpen, ForeignSignatureWarnsWith32) {
    const FamilyRows& p = GetParam();
    writeHeader({0x5AEAA55Au, 0xA55AEAA5u, 0x5AA55AEAu}); // a Palx image
    gModel.expander->writeFlashTable(0x100, kThreePartitions);
    std::string out;
    out = printed([&] { EXPECT_EQ(open(), 32u); });
    ASSERT_NE(hi_, nullptr);
    EXPECT_EQ(out, "");
    EXPECT_EQ(regions(), rowsOf({p.statics, p.designated}));
    const std::string line = p.family == &kOstrel
                                 ? "ERROR : zelkor_hal_OSTREL::halPopulateRegionList : Validating the "
                                   "Firmware header **** FAILED ****"
                                 : "ERROR : zelkor_hal_GEN3::halPopulateRegionList : Invalid FW Header";
    EXPECT_TRUE(containsLine(log_->lines(), line));
    // The instance stays listed and usable.
    ZELKOR_REGION_LIST* copy = nullptr;
    EXPECT_EQ(op<HAL_GET_REGIONS_FUNCTION>("zelkor_hal_getRegions")(hi_, &copy), 0u);
    EXPECT_NE(copy, nullptr);
    while (copy != nullptr) {
        ZELKOR_REGION_LIST* next = copy->next;
        std::free(copy);
        copy = next;
    }
}

TEST_P(HalOpen, RamDebugInterfaceReadsNothing) {
    const FamilyRows& p = GetParam();
    handle_.interface = ZELKOR_INTERFACE_RAMDEBUG;
    handle_.designatedRegions = 0;
    writeFamilyHeader();
    gModel.expander->writeFlashTable(0x100, kThreePartitions);
    EXPECT_EQ(open(), 0u);
    EXPECT_EQ(regions(), rowsOf({p.statics}));
    EXPECT_THAT(gModel.calls, IsEmpty());
}

TEST_P(HalOpen, WithoutInterfaceModuleTheListIsLeftAlone) {
    handle_.ialEntry = nullptr;
    EXPECT_EQ(open(), 0u);
    ASSERT_NE(hi_, nullptr);
    EXPECT_THAT(regions(), IsEmpty());
    EXPECT_THAT(gModel.calls, IsEmpty());
}

TEST_P(HalOpen, NullArgumentsAreRefused) {
    auto openOp = op<HAL_OPEN_FUNCTION>("zelkor_hal_open");
    ZELKOR_HAL_INSTANCE* out = reinterpret_cast<ZELKOR_HAL_INSTANCE*>(&handle_);
    EXPECT_EQ(openOp(nullptr, &out, GetParam().family->chipType), 5u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(openOp(&handle_, nullptr, GetParam().family->chipType), 5u);
    EXPECT_THAT(gModel.calls, IsEmpty());
}

[[maybe_unused]] void PrintTo(const FamilyRows& rows, std::ostream* os) {
    *os << rows.family->name;
}

INSTANTIATE_TEST_SUITE_P(Families, HalOpen, testing::Values(kOstrelRows, kQuenzaRows),
                         [](const auto& info) { return std::string(info.param.family->name); });

// The rows each family lists, written out as the device's address map has them (not taken from the
// module's own tables): a blank flash on an interface that wants the designated regions.
TEST_F(HalTest, EachFamilyListsItsOwnRows) {
    const auto r = [](uint32_t kind, uint32_t id, uint32_t index, uint32_t base, uint32_t size) {
        return regionRow(kind, id, index, base, size);
    };
    const std::vector<ZELKOR_REGION> designatedHead = {
        r(3, 0xE0, 0, 0, 0x03FFFFFF), r(4, 0xE1, 0, 0, 0), r(5, 0xE2, 0, 0, 0),
        r(6, 0xE3, 0, 0, 0),          r(7, 0xE4, 0, 0, 0), r(8, 0xE5, 0, 0, 0),
    };
    std::vector<ZELKOR_REGION> ostrel = {r(0, 0xC0, 0, 0, 0xFFFFFFFF), r(1, 0x00, 0, 0x14000000, 0x03FFFFFF),
                                         r(2, 0x80, 0, 0x14000000, 0x03FFFFFF)};
    ostrel.insert(ostrel.end(), designatedHead.begin(), designatedHead.end());
    ostrel.push_back(r(9, 0xE7, 0, 0, 0));
    std::vector<ZELKOR_REGION> quenza = {r(0, 0xC0, 0, 0, 0xFFFFFFFF), r(1, 0x00, 0, 0x10000000, 0x03FFFFFF),
                                         r(2, 0x80, 0, 0x10000000, 0x03FFFFFF)};
    quenza.insert(quenza.end(), designatedHead.begin(), designatedHead.end());
    quenza.push_back(r(12, 0xE6, 0, 0, 0));
    quenza.push_back(r(9, 0xE7, 0, 0, 0));
    const std::vector<ZELKOR_REGION> palx = {
        r(0, 0xC0, 0, 0, 0xFFFFFFFF),
        r(1, 0, 0, 0x10000000, 0x00200000),
        r(2, 0, 0, 0x10000000, 0x00040000),
        r(2, 1, 1, 0x10040000, 0x00040000),
        r(2, 2, 2, 0x10080000, 0x00040000),
        r(2, 3, 3, 0x100C0000, 0x00010000),
        r(2, 4, 4, 0x100D0000, 0x00010000),
        r(2, 5, 5, 0x100E0000, 0x00010000),
        r(2, 6, 6, 0x100F0000, 0x00010000),
        r(2, 7, 7, 0x10100000, 0x00010000),
        r(10, 0x0A, 0x0A, 0x40300000, 0x00002000),
    };
    struct Case {
        const FamilyCase* family;
        const std::vector<ZELKOR_REGION>* rows;
    };
    for (const Case& c : {Case{&kOstrel, &ostrel}, Case{&kQuenza, &quenza}, Case{&kPalx, &palx}}) {
        SCOPED_TRACE(c.family->name);
        use(*c.family);
        EXPECT_EQ(open(), 0u);
        EXPECT_EQ(regions(), *c.rows);
    }
}

// What open logs on its way through a valid header and flash table, in order.
TEST_F(HalTest, OpenLogsItsWayThroughTheFlash) {
    struct Case {
        const FamilyCase* family;
        std::vector<std::string> lines;
    };
    const std::string ostrel = "INFO : zelkor_hal_OSTREL::";
    const std::string quenza = "INFO : zelkor_hal_GEN3::";
    const Case cases[] = {
        {&kOstrel,
         {ostrel + "zelkor_hal_open : Entry", ostrel + "zelkor_hal_open : Populating the region List",
          ostrel + "halPopulateRegionList : Reading the Firmware header ",
          ostrel + "halPopulateRegionList : Validating the Firmware header ",
          ostrel + "halPopulateRegionList : Reading the Flash table information",
          ostrel + "halPopulateRegionList : Updating the region list "}},
        {&kQuenza,
         {quenza + "zelkor_hal_open : Entry", quenza + "zelkor_hal_open : Populating the region List",
          quenza + "halPopulateRegionList : Reading 84 bytes at 0x00000000 offset",
          quenza + "halPopulateRegionList : Reading 424 bytes at 0x00000100 offset"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family->name);
        use(*c.family);
        log_.reset();
        log_ = std::make_unique<LogCapture>();
        writeFamilyHeader(0x100);
        gModel.expander->writeFlashTable(0x100, kThreePartitions);
        EXPECT_EQ(open(), 0u);
        std::vector<std::string> lines;
        for (const std::string& line : log_->lines())
            if (line.find("zelkor_hal_") != std::string::npos)
                lines.push_back(line);
        EXPECT_EQ(lines, c.lines);
    }
}

// Quenza over the debug port lets the register commands on with a foreign header.
TEST_F(HalTest, QuenzaForeignHeaderOverTheDebugPort) {
    struct Case {
        uint32_t command;
        uint32_t sub;
        ZELKOR_STATUS status;
    };
    const Case cases[] = {{0, 0, 0}, {0, 1, 0}, {3, 3, 0}, {3, 4, 0}, {0, 2, 32}, {1, 0, 32}, {3, 2, 32}};
    const std::string warning = "\n\nWARN: Invalid FW Header present in Flash\n";
    const std::string info = "INFO: Only reg get/set commands are supported in this mode\n"
                             "INFO: Please refer user guide for details.\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.command) + "/" + std::to_string(c.sub));
        use(kQuenza);
        handle_.interface = ZELKOR_INTERFACE_COM;
        handle_.designatedRegions = 0;
        gSharedVars.commandIndex = c.command;
        gSharedVars.subCommandIndex = c.sub;
        writeHeader({1, 2, 3});
        const std::string out = printed([&] { EXPECT_EQ(open(), c.status); });
        EXPECT_EQ(out, c.status == 0 ? warning : warning + info);
        EXPECT_EQ(regions(), rowsOf({gQuenzaRegions}));
    }
    EXPECT_TRUE(containsLine(
        log_->lines(), "WARN : zelkor_hal_GEN3::halPopulateRegionList : Invalid FW Header present in Flash"));
}

// Without an option block nothing shows the command is one of the register commands: 32.
TEST_F(HalTest, QuenzaForeignHeaderOverTheDebugPortWithoutOptionsIs32) {
    use(kQuenza);
    handle_.interface = ZELKOR_INTERFACE_COM;
    handle_.options = nullptr;
    writeHeader({1, 2, 3});
    const std::string out = printed([&] { EXPECT_EQ(open(), 32u); });
    EXPECT_EQ(out, "\n\nWARN: Invalid FW Header present in Flash\n"
                   "INFO: Only reg get/set commands are supported in this mode\n"
                   "INFO: Please refer user guide for details.\n");
}

// Ostrel has no such mode: a foreign header is 32 on every interface.
TEST_F(HalTest, OstrelForeignHeaderOverTheDebugPortIs32) {
    handle_.interface = ZELKOR_INTERFACE_COM;
    gSharedVars.commandIndex = 0;
    gSharedVars.subCommandIndex = 0;
    writeHeader({1, 2, 3});
    EXPECT_EQ(printed([&] { EXPECT_EQ(open(), 32u); }), "");
}

TEST_F(HalTest, PalxOpenListsItsElevenRowsAndReadsNothing) {
    for (bool interface : {true, false}) {
        use(kPalx);
        if (!interface)
            handle_.ialEntry = nullptr;
        sProgress = 0;
        EXPECT_EQ(open(), 0u);
        EXPECT_EQ(regions(), rowsOf({gPalxRegions}));
        EXPECT_EQ(sProgress, 1);
        EXPECT_THAT(gModel.calls, IsEmpty());
    }
}

// A handle whose list held rows from before gets a fresh list, not the old rows twice.
TEST_F(HalTest, OpenReplacesAnEarlierList) {
    addNodeToRegionList(&handle_.regions, &gPalxRegions[3]);
    EXPECT_EQ(open(), 0u);
    EXPECT_EQ(regions(), rowsOf({gOstrelRegions, gDesignatedRegions}));
}

// ---- getRegions and close ----

TEST_F(HalTest, GetRegionsHandsOutACopy) {
    writeFamilyHeader();
    gModel.expander->writeFlashTable(0x100, kThreePartitions);
    ASSERT_EQ(open(), 0u);
    auto getRegions = op<HAL_GET_REGIONS_FUNCTION>("zelkor_hal_getRegions");
    ZELKOR_REGION_LIST* copy = nullptr;
    ASSERT_EQ(getRegions(hi_, &copy), 0u);
    std::vector<ZELKOR_REGION> copied;
    for (ZELKOR_REGION_LIST* node = copy; node != nullptr;) {
        copied.push_back(node->region);
        for (const ZELKOR_REGION_LIST* own = handle_.regions; own != nullptr; own = own->next)
            EXPECT_NE(node, own);
        ZELKOR_REGION_LIST* next = node->next;
        std::free(node);
        node = next;
    }
    EXPECT_EQ(copied, regions());
    EXPECT_EQ(copied.size(), 12u);

    EXPECT_EQ(getRegions(hi_, nullptr), 5u);
    ZELKOR_HAL_INSTANCE stranger{};
    copy = reinterpret_cast<ZELKOR_REGION_LIST*>(&stranger);
    EXPECT_EQ(getRegions(&stranger, &copy), 4u);
    EXPECT_EQ(getRegions(nullptr, &copy), 4u);
}

TEST_F(HalTest, GetRegionsOnAnEmptyListIsNull) {
    handle_.ialEntry = nullptr;
    ASSERT_EQ(open(), 0u);
    ZELKOR_REGION_LIST* copy = reinterpret_cast<ZELKOR_REGION_LIST*>(&handle_);
    EXPECT_EQ(op<HAL_GET_REGIONS_FUNCTION>("zelkor_hal_getRegions")(hi_, &copy), 0u);
    EXPECT_EQ(copy, nullptr);
    EXPECT_TRUE(containsLine(log_->lines(),
                             "INFO : zelkor_hal_OSTREL::zelkor_hal_getRegions : Region List does not exist"));
}

TEST_F(HalTest, CloseUnlistsTheInstanceOnce) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza, &kPalx}) {
        use(*family);
        ASSERT_EQ(open(), 0u);
        ZELKOR_HAL_INSTANCE* opened = hi_;
        auto closeOp = op<HAL_INSTANCE_FUNCTION>("zelkor_hal_close");
        EXPECT_EQ(closeOp(opened), 0u);
        hi_ = nullptr;
        EXPECT_EQ(closeOp(opened), 4u);
        EXPECT_EQ(closeOp(nullptr), 4u);
    }
}

// ---- common helpers ----

TEST_F(HalTest, MemoryWindowIsTheFirstRowOfKindZero) {
    ASSERT_EQ(open(), 0u);
    ZELKOR_REGION_LIST* window = nullptr;
    EXPECT_EQ(getHALRegion(hi_, &window), 0u);
    ASSERT_EQ(window, handle_.regions);
    // Without a window the pointer is left as it was.
    ZELKOR_REGION_LIST* first = handle_.regions;
    handle_.regions = first->next;
    window = nullptr;
    EXPECT_EQ(getHALRegion(hi_, &window), 0u);
    EXPECT_EQ(window, nullptr);
    handle_.regions = first;
}

TEST_F(HalTest, ArmStartAndStopWriteTheFamilyControlWord) {
    struct Case {
        const FamilyCase* family;
        uint32_t address;
        ArmRunControl start;
        ArmRunControl stop;
    };
    for (const Case& c : {Case{&kOstrel, 0x40F00000u, startArm, stopArm},
                          Case{&kQuenza, 0x43C00000u, startArmQuenza, stopArmQuenza},
                          Case{&kPalx, 0x40F00000u, startArm, stopArm}}) {
        SCOPED_TRACE(c.family->name);
        use(*c.family);
        ASSERT_EQ(open(), 0u);
        gModel.calls.clear();
        ZELKOR_REGION_LIST* window = nullptr;
        getHALRegion(hi_, &window);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(c.start(hi_, &window->region), 0u);
        EXPECT_EQ(gModel.expander->space().readWord(c.address), 1u);
        EXPECT_EQ(c.stop(hi_, &window->region), 0u);
        EXPECT_THAT(accesses(), ElementsAreArray({Access{'W', c.address, 1}, Access{'W', c.address, 0}}));
        // The module's own operations use the family's pair.
        EXPECT_EQ(hi_->family->armStart, c.start);
        EXPECT_EQ(hi_->family->armStop, c.stop);
        gModel.failures = {{"download", c.address, 24}};
        EXPECT_EQ(c.start(hi_, &window->region), 24u);
    }
}

TEST_F(HalTest, FileLoadsRoundedToWholeWordsAndIsNeverTakenFromAnEarlierFile) {
    ASSERT_EQ(open(), 0u);
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite("ABCDEFG", 1, 7, file);
    EXPECT_EQ(readFileToBuffer(hi_, file), 0u);
    EXPECT_EQ(hi_->imageSize, 7u);
    EXPECT_EQ(std::memcmp(hi_->image.get(), "ABCDEFG\0", 8), 0);
    // The same stream again is read again, with what it holds now.
    std::fwrite("HIJ", 1, 3, file);
    EXPECT_EQ(readFileToBuffer(hi_, file), 0u);
    EXPECT_EQ(hi_->imageSize, 10u);
    EXPECT_EQ(std::memcmp(hi_->image.get(), "ABCDEFGHIJ\0\0", 12), 0);
    std::fclose(file);
    // The C library may give the next stream the closed one's address: its own bytes are loaded.
    FILE* other = std::tmpfile();
    ASSERT_NE(other, nullptr);
    std::fwrite("XYZ", 1, 3, other);
    EXPECT_EQ(readFileToBuffer(hi_, other), 0u);
    EXPECT_EQ(hi_->imageSize, 3u);
    EXPECT_EQ(std::memcmp(hi_->image.get(), "XYZ\0", 4), 0);
    EXPECT_EQ(readFileToBuffer(nullptr, other), 5u);
    std::fclose(other);
}

TEST_F(HalTest, PalxListHelperBuildsTheElevenRows) {
    ZELKOR_REGION_LIST* head = nullptr;
    addNodeToRegionList(&head, &gOstrelRegions[0]);
    EXPECT_EQ(initPalxRegionList(&head), 0u);
    std::vector<ZELKOR_REGION> rows;
    for (const ZELKOR_REGION_LIST* node = head; node != nullptr; node = node->next)
        rows.push_back(node->region);
    EXPECT_EQ(rows, rowsOf({gPalxRegions}));
    freeHalRegionList(&head);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(addNodeToRegionList(&head, nullptr), 5u);
}

} // namespace
