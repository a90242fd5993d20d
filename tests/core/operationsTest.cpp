#include "tests/support/testSupport.h"

#include "core/zelkorInternal.h"

#include <algorithm>
#include <fstream>
#include <functional>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

// Distinct addresses for the pointer arguments, so that a swapped or dropped argument shows in the
// recorded call. The fakes never dereference them.
alignas(16) char gStorage[16][16];
template <typename T> T* address(int i) {
    return reinterpret_cast<T*>(gStorage[i]);
}

ZELKOR_REGION* const kRegion = address<ZELKOR_REGION>(0);
FILE* const kFile = address<FILE>(1);
uint8_t* const kBuffer = address<uint8_t>(2);
char* const kText = address<char>(3);
const char* const kPath = address<const char>(4);
const char* const kOtherPath = address<const char>(5);
void* const kContext = address<void>(6);
ZELKOR_REGION_LIST** const kRegionsOut = address<ZELKOR_REGION_LIST*>(7);
ZELKOR_DEVICE_LIST** const kDevicesOut = address<ZELKOR_DEVICE_LIST*>(8);
ZELKOR_PHY_LIST** const kPhysOut = address<ZELKOR_PHY_LIST*>(9);
ZELKOR_PORT_LIST** const kPortsOut = address<ZELKOR_PORT_LIST*>(10);
ZELKOR_ROUTE_LIST** const kRoutesOut = address<ZELKOR_ROUTE_LIST*>(11);
ZELKOR_PHY* const kPhy = address<ZELKOR_PHY>(12);
uint32_t* const kWords = address<uint32_t>(13);
uint32_t* const kRow = address<uint32_t>(14);
ZELKOR_REGION* gRegionPointer = kRegion;
char* gTextPointer = kText;

struct OperationRow {
    const char* name;
    const char* slot;
    ZELKOR_STATUS notFound;
    ZELKOR_STATUS notMapped;
    std::function<ZELKOR_STATUS(ZELKOR_INSTANCE*)> invoke;
    std::function<std::string(ZELKOR_INSTANCE*)> expectedCall;
    std::function<void(HAL_VECTORS&)> clearSlot;
    ZELKOR_STATUS nullHandle = 0; // 0: a null handle is simply not listed
    bool silentUnmapped = false;
    const char* unmappedSuffix = "";
    uint32_t chipType = ZELKOR_CHIP_QUENZA; // the handle the row runs on
    uint32_t interface = 7;
};

#define ROW(op, slot, nf, nm, ...)                                                                           \
    OperationRow {                                                                                           \
#op, #slot, nf, nm, [](ZELKOR_INSTANCE* h) { return op(h __VA_OPT__(, ) __VA_ARGS__); },           \
            [](ZELKOR_INSTANCE* h) { return describeCall(#slot, h->halInstance __VA_OPT__(, ) __VA_ARGS__); }, \
            [](HAL_VECTORS& v) { v.slot = nullptr; }         \
    }

template <typename Change> OperationRow with(OperationRow row, Change change) {
    change(row);
    return row;
}

const std::vector<OperationRow>& rows() {
    static const std::vector<OperationRow> table = {
        ROW(zelkor_getRegions, zelkor_hal_getRegions, 4, 2, kRegionsOut),
        with(ROW(zelkor_getRegionVersion, zelkor_hal_getRegionVersion, 1, 4, kRegion, kText),
             [](OperationRow& r) { r.silentUnmapped = true; }),
        ROW(zelkor_getDevices, zelkor_hal_getDevices, 4, 2, kDevicesOut),
        ROW(zelkor_getPhys, zelkor_hal_getPhys, 4, 2, kPhysOut),
        ROW(zelkor_getPhy, zelkor_hal_getPhy, 4, 2, 7u, kPhy),
        ROW(zelkor_getPorts, zelkor_hal_getPorts, 4, 2, kPortsOut),
        ROW(zelkor_getRouteTable, zelkor_hal_getRouteTable, 4, 2, 11u, kRoutesOut),
        ROW(zelkor_getZonePermissions, zelkor_hal_getZonePermissions, 4, 2, 200u, kRow),
        with(ROW(zelkor_setMorv, zelkor_hal_setMorv, 4, 2, kBuffer, uint8_t{3}),
             [](OperationRow& r) { r.nullHandle = 4; }),
        with(ROW(zelkor_setSmartCli, zelkor_hal_setSmartCli, 4, 2),
             [](OperationRow& r) { r.nullHandle = 4; }),
        with(ROW(zelkor_resetExpander, zelkor_hal_resetExpander, 4, 2, uint8_t{2}),
             [](OperationRow& r) { r.nullHandle = 4; }),
        with(ROW(zelkor_resetPhy, zelkor_hal_resetPhy, 4, 2, 5u),
             [](OperationRow& r) { r.unmappedSuffix = " "; }),
        ROW(zelkor_testPhy, zelkor_hal_testPhy, 4, 2, 1u, 2u, kContext),
        ROW(zelkor_eraseRegion, zelkor_hal_eraseRegion, 4, 2, kRegion),
        ROW(zelkor_uploadRegion, zelkor_hal_uploadRegion, 4, 2, kRegion, 0x100u, 0x40u, kFile, kBuffer),
        ROW(zelkor_downloadRegion, zelkor_hal_downloadRegion, 4, 2, kRegion, 0x200u, 0x80u, kFile, kBuffer),
        with(ROW(zelkor_downloadRamdebug, zelkor_hal_downloadRamdebug, 4, 2, kPath, 1u, kFile, uint8_t{1}),
             [](OperationRow& r) {
                 r.nullHandle = 5;
                 r.silentUnmapped = true;
             }),
        OperationRow{"zelkor_getRegionChecksum", "zelkor_hal_getRegionChecksum", 1, 2,
                     [](ZELKOR_INSTANCE* h) { return zelkor_getRegionChecksum(h, kFile, &gRegionPointer); },
                     [](ZELKOR_INSTANCE* h) {
                         return describeCall("zelkor_hal_getRegionChecksum", h->halInstance, kFile, kRegion);
                     },
                     [](HAL_VECTORS& v) { v.zelkor_hal_getRegionChecksum = nullptr; }},
        OperationRow{"zelkor_getFwVersion", "zelkor_hal_getFwVersion", 1, 2,
                     [](ZELKOR_INSTANCE* h) { return zelkor_getFwVersion(h, kFile, &gTextPointer); },
                     [](ZELKOR_INSTANCE* h) {
                         return describeCall("zelkor_hal_getFwVersion", h->halInstance, kFile, kText);
                     },
                     [](HAL_VECTORS& v) { v.zelkor_hal_getFwVersion = nullptr; }},
        ROW(zelkor_fwChecksumValidation, zelkor_hal_fwChecksumValidation, 1, 2, kFile, kWords),
        ROW(zelkor_fwExpanderValidation, zelkor_hal_fwExpanderValidation, 1, 2, kFile),
        ROW(zelkor_fwImageValidation, zelkor_hal_fwImageValidation, 1, 2, kFile),
        ROW(zelkor_mfgImageValidation, zelkor_hal_mfgImageValidation, 1, 2, kFile),
        ROW(zelkor_mfgChecksumValidation, zelkor_hal_mfgChecksumValidation, 1, 2, kFile),
        with(ROW(zelkor_bootRecordValidation, zelkor_hal_bootRecordValidation, 1, 2, kFile),
             [](OperationRow& r) {
                 r.chipType = ZELKOR_CHIP_PALX;
                 r.interface = 0;
             }),
        with(ROW(zelkor_xml2bin, zelkor_hal_xml2bin, 1, 2, kPath, kOtherPath, kFile, kContext),
             [](OperationRow& r) { r.nullHandle = 5; }),
        with(ROW(zelkor_bin2xml, zelkor_hal_bin2xml, 1, 2, kPath, kOtherPath, kFile),
             [](OperationRow& r) { r.nullHandle = 5; }),
    };
    return table;
}

std::string line(const char* level, const char* function, const std::string& text) {
    return std::string(level) + " : zelkor::" + function + " : " + text;
}

bool anyFailureLine(const std::vector<std::string>& lines) {
    for (const std::string& l : lines)
        if (l.find("**** FAILED ****") != std::string::npos)
            return true;
    return false;
}

const std::string kNotFound =
    line("ERROR", "getZelkorInstance", "Unable to find ZELKOR instance **** FAILED ****");

class OperationsTest : public FakeModuleTest {
  protected:
    // A fresh log and a handle for the row.
    ZELKOR_INSTANCE* prepare(const OperationRow& row) {
        TearDown();
        SetUp();
        ZELKOR_INSTANCE* handle = openHandle(row.interface, row.chipType);
        restartLog();
        return handle;
    }
};

TEST_F(OperationsTest, ReachesTheSlotWithTheHardwareInstanceAndTheArgumentsUnchanged) {
    for (const OperationRow& row : rows()) {
        SCOPED_TRACE(row.name);
        ZELKOR_INSTANCE* handle = prepare(row);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(row.invoke(handle), 0u);
        EXPECT_THAT(gFake.calls, ElementsAre(row.expectedCall(handle)));
        std::vector<std::string> lines = log_->lines();
        EXPECT_FALSE(anyFailureLine(lines));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), line("INFO", row.name, "Entry"));
        EXPECT_EQ(lines.back(), line("INFO", row.name, "Exit"));

        // The module's status comes back as it stands, with the failure line.
        restartLog();
        gFake.results[row.slot] = 44;
        EXPECT_EQ(row.invoke(handle), 44u);
        EXPECT_TRUE(containsLine(log_->lines(),
                                 line("ERROR", row.name, std::string(row.slot) + " **** FAILED ****")));
        EXPECT_EQ(zelkor_close(handle), 0u);
    }
}

TEST_F(OperationsTest, UnknownNullAndClosedHandlesNeverReachTheModule) {
    for (const OperationRow& row : rows()) {
        SCOPED_TRACE(row.name);
        ZELKOR_INSTANCE* handle = prepare(row);
        ASSERT_NE(handle, nullptr);
        ZELKOR_INSTANCE stranger = *handle; // bound slots, but not a listed handle
        EXPECT_EQ(row.invoke(&stranger), row.notFound);
        EXPECT_TRUE(containsInOrder(
            log_->lines(), {line("INFO", row.name, "Entry"), kNotFound, line("INFO", row.name, "Exit")}));

        restartLog();
        testing::internal::CaptureStdout();
        EXPECT_EQ(row.invoke(nullptr), row.nullHandle != 0 ? row.nullHandle : row.notFound);
        const std::string console = testing::internal::GetCapturedStdout();
        const std::vector<std::string> lines = log_->lines();
        if (row.nullHandle != 0) {
            EXPECT_TRUE(containsLine(lines, line("ERROR", row.name, "Handle is NULL **** FAILED ****")));
            EXPECT_FALSE(containsLine(lines, kNotFound));
        }
        const bool xml =
            row.slot == std::string("zelkor_hal_xml2bin") || row.slot == std::string("zelkor_hal_bin2xml");
        EXPECT_EQ(console, xml ? std::string(row.name) + ": invalid handle\n" : "");

        EXPECT_EQ(zelkor_close(handle), 0u);
        EXPECT_EQ(row.invoke(handle), row.notFound) << "after close";
        EXPECT_THAT(callNames(gFake.calls), ElementsAre("zelkor_hal_close", "zelkor_ial_close"));
    }
}

TEST_F(OperationsTest, EmptySlotAnswersNotMapped) {
    for (const OperationRow& row : rows()) {
        SCOPED_TRACE(row.name);
        ZELKOR_INSTANCE* handle = prepare(row);
        ASSERT_NE(handle, nullptr);
        row.clearSlot(handle->halVectors);
        EXPECT_EQ(row.invoke(handle), row.notMapped);
        EXPECT_THAT(gFake.calls, IsEmpty());
        const std::vector<std::string> lines = log_->lines();
        if (row.silentUnmapped) {
            EXPECT_FALSE(anyFailureLine(lines));
        } else {
            EXPECT_TRUE(containsInOrder(
                lines, {line("ERROR", row.name,
                             std::string(row.slot) + " is not Mapped **** FAILED ****" + row.unmappedSuffix),
                        line("ERROR", row.name, std::string(row.slot) + " **** FAILED ****")}));
        }
        EXPECT_EQ(zelkor_close(handle), 0u);
    }
}

TEST_F(OperationsTest, PalxHandleHasNoEthernetSettings) {
    ZELKOR_INSTANCE* handle = openHandle(0, ZELKOR_CHIP_PALX);
    uint8_t value[4] = {10, 0, 0, 1};
    EXPECT_EQ(zelkor_setMorv(handle, value, 0), 2u);
    EXPECT_TRUE(containsInOrder(
        log_->lines(), {line("ERROR", "zelkor_setMorv", "zelkor_hal_setMorv is not Mapped **** FAILED ****"),
                        line("ERROR", "zelkor_setMorv", "zelkor_hal_setMorv **** FAILED ****")}));
    EXPECT_THAT(gFake.calls, IsEmpty());
    EXPECT_EQ(zelkor_close(handle), 0u);
}

TEST_F(OperationsTest, UnlistedHandleForRamDebugDownloadLogsBothLines) {
    ZELKOR_INSTANCE stranger{};
    EXPECT_EQ(zelkor_downloadRamdebug(&stranger, kPath, 0, kFile, 0), 4u);
    EXPECT_TRUE(
        containsInOrder(log_->lines(), {kNotFound, line("ERROR", "zelkor_downloadRamdebug",
                                                        "Zelkor Instance Handle is NULL **** FAILED ****")}));
}

TEST_F(OperationsTest, ArgumentsTheCoreNeedsItself) {
    ZELKOR_INSTANCE* handle = openHandle(7, ZELKOR_CHIP_QUENZA);
    EXPECT_EQ(zelkor_getRegionVersion(handle, kRegion, nullptr), 1u);
    EXPECT_EQ(zelkor_getRegionChecksum(handle, kFile, nullptr), 5u);
    EXPECT_EQ(zelkor_getFwVersion(handle, kFile, nullptr), 5u);
    EXPECT_EQ(zelkor_getExpanders(handle, nullptr), 5u);
    EXPECT_EQ(zelkor_readFlashRegionData(handle, kRegion, 0, 4, nullptr), 5u);
    EXPECT_THAT(gFake.calls, IsEmpty());
    const std::vector<std::string> lines = log_->lines();
    EXPECT_TRUE(containsLine(
        lines, line("ERROR", "zelkor_getRegionVersion", "Invalid Zelkor Version **** FAILED ****")));
    EXPECT_TRUE(
        containsLine(lines, line("ERROR", "zelkor_getFwVersion", "Invalid Arguments **** FAILED ****")));
    EXPECT_EQ(zelkor_close(handle), 0u);
}

TEST_F(OperationsTest, XmlConversionsRecordTheirHandleForThePageEngine) {
    ZELKOR_INSTANCE* first = openHandle(7, ZELKOR_CHIP_QUENZA);
    ZELKOR_INSTANCE* second = openHandle(0, ZELKOR_CHIP_OSTREL);
    EXPECT_EQ(zelkor_xml2bin(first, kPath, nullptr, kFile, nullptr), 0u);
    EXPECT_EQ(gPtrZelkorHandleXml, first);
    EXPECT_EQ(zelkor_bin2xml(second, kPath, kOtherPath, kFile), 0u);
    EXPECT_EQ(gPtrZelkorHandleXml, second);
    EXPECT_EQ(zelkor_close(first), 0u);
    EXPECT_EQ(zelkor_close(second), 0u);
}

void recordProgress(int32_t event, int32_t argument) {
    gFake.calls.push_back(describeCall("progress", event, argument));
}

TEST_F(OperationsTest, ReadFlashRegionDataReportsProgressAroundTheRead) {
    ZELKOR_INSTANCE* handle = openHandle(0, ZELKOR_CHIP_OSTREL);
    handle->progress = recordProgress;
    const std::string read = describeCall("zelkor_hal_uploadRegion", handle->halInstance, kRegion, 0x10u,
                                          0x20u, static_cast<FILE*>(nullptr), kBuffer);
    EXPECT_EQ(zelkor_readFlashRegionData(handle, kRegion, 0x10, 0x20, kBuffer), 0u);
    EXPECT_THAT(gFake.calls, ElementsAre("progress(1,0)", read, "progress(1,0)"));

    gFake.calls.clear();
    gSharedVars.noProgress = 1;
    gFake.results["zelkor_hal_uploadRegion"] = 25;
    EXPECT_EQ(zelkor_readFlashRegionData(handle, kRegion, 0x10, 0x20, kBuffer), 25u);
    EXPECT_THAT(gFake.calls, ElementsAre(read)) << "progress muted";
    EXPECT_TRUE(containsLine(log_->lines(), line("ERROR", "zelkor_readFlashRegionData",
                                                 "zelkor_hal_uploadRegion **** FAILED ****")));

    ZELKOR_INSTANCE stranger{};
    EXPECT_EQ(zelkor_readFlashRegionData(&stranger, kRegion, 0x10, 0x20, kBuffer), 4u);
    handle->halVectors.zelkor_hal_uploadRegion = nullptr;
    gFake.calls.clear();
    gSharedVars.noProgress = 0;
    EXPECT_EQ(zelkor_readFlashRegionData(handle, kRegion, 0x10, 0x20, kBuffer), 2u);
    EXPECT_THAT(gFake.calls, IsEmpty());
    EXPECT_EQ(zelkor_close(handle), 0u);
}

TEST_F(OperationsTest, ReadManufacturingPage) {
    ZELKOR_INSTANCE* handle = openHandle(0, ZELKOR_CHIP_OSTREL);
    const char* fn = "zelkor_readManufacturingPage";
    const std::string invalid =
        line("ERROR", fn, "Invalid zelkor_readManufacturingPage() function argument **** FAILED ****");
    EXPECT_EQ(zelkor_readManufacturingPage(handle, kRegion, 0xFF10, 0, kBuffer), 5u) << "length 0";
    EXPECT_EQ(zelkor_readManufacturingPage(handle, kRegion, 0, 16, kBuffer), 5u) << "page id 0";
    EXPECT_EQ(zelkor_readManufacturingPage(handle, nullptr, 0xFF10, 16, kBuffer), 5u);
    EXPECT_EQ(zelkor_readManufacturingPage(handle, kRegion, 0xFF10, 16, nullptr), 5u);
    EXPECT_EQ(zelkor_readManufacturingPage(nullptr, kRegion, 0xFF10, 16, kBuffer), 5u);
    EXPECT_THAT(gFake.calls, IsEmpty()) << "the device is not touched";

    ZELKOR_INSTANCE stranger{};
    EXPECT_EQ(zelkor_readManufacturingPage(&stranger, kRegion, 0xFF10, 16, kBuffer), 4u);

    EXPECT_EQ(zelkor_readManufacturingPage(handle, kRegion, 0xFF10, 16, kBuffer), 0u);
    EXPECT_THAT(gFake.calls, ElementsAre(describeCall("zelkor_hal_uploadRegion", handle->halInstance, kRegion,
                                                      0xFF10u, 16u, static_cast<FILE*>(nullptr), kBuffer)));
    gFake.results["zelkor_hal_uploadRegion"] = 25;
    EXPECT_EQ(zelkor_readManufacturingPage(handle, kRegion, 0xFF10, 16, kBuffer), 1u)
        << "any read failure is 1";
    const std::vector<std::string> lines = log_->lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), invalid), 5);
    EXPECT_TRUE(containsInOrder(
        lines, {kNotFound, line("ERROR", fn, "Unable to find ZELKOR instance **** FAILED ****")}));
    EXPECT_TRUE(containsLine(lines, line("ERROR", fn, "zelkor_hal_uploadRegion **** FAILED ****")));
    EXPECT_EQ(zelkor_close(handle), 0u);
}

TEST_F(OperationsTest, ReadManufacturingPageWithAnEmptyReadSlotAnswersNotMapped) {
    ZELKOR_INSTANCE* handle = openHandle(0, ZELKOR_CHIP_OSTREL);
    handle->halVectors.zelkor_hal_uploadRegion = nullptr;
    EXPECT_EQ(zelkor_readManufacturingPage(handle, kRegion, 0xFF10, 16, kBuffer), 2u);
    EXPECT_THAT(gFake.calls, IsEmpty());
    EXPECT_TRUE(containsLine(log_->lines(), line("ERROR", "zelkor_readManufacturingPage",
                                                 "zelkor_hal_uploadRegion is not Mapped **** FAILED ****")));
    EXPECT_EQ(zelkor_close(handle), 0u);
}

// The argument and not-found lines of zelkor_readManufacturingPage carry the entry-trace type: a log that
// takes core lines but no entry traces shows only the lookup's own line.
TEST_F(OperationsTest, ReadManufacturingPageArgumentLinesNeedEntryTraces) {
    ZELKOR_INSTANCE* handle = openHandle(0, ZELKOR_CHIP_OSTREL);
    log_.reset();
    const std::string path = testing::TempDir() + "core-only.log";
    LOG_CONFIG config{};
    std::snprintf(config.name, sizeof config.name, "%s", path.c_str());
    config.truncate = 1;
    config.typeMask = ZELKOR_LOG_CORE;
    config.levelMask = 0xFF;
    ASSERT_EQ(zelkor_initLogger(&config), 0u);
    ZELKOR_INSTANCE stranger{};
    EXPECT_EQ(zelkor_readManufacturingPage(handle, kRegion, 0xFF10, 0, kBuffer), 5u);
    EXPECT_EQ(zelkor_readManufacturingPage(&stranger, kRegion, 0xFF10, 16, kBuffer), 4u);
    ASSERT_EQ(zelkor_closeLogger(), 0u);
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string text; std::getline(in, text);)
        lines.push_back(text.substr(text.find(" : ") + 3)); // without the time stamp
    std::remove(path.c_str());
    EXPECT_EQ(lines, std::vector<std::string>{kNotFound});
    restartLog();
    EXPECT_EQ(zelkor_close(handle), 0u);
}

TEST_F(OperationsTest, GetExpandersAsksTheInterface) {
    ZELKOR_INSTANCE* handle = openHandle(4, ZELKOR_CHIP_QUENZA);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    EXPECT_EQ(zelkor_getExpanders(handle, &list), 0u);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->expander.type, ZELKOR_CHIP_QUENZA);
    EXPECT_THAT(gFake.calls,
                ElementsAre(describeCall("zelkor_ial_getExpanders", gFake.ialInstance(), &list)));
    std::free(list);
    list = nullptr;
    gFake.results["zelkor_ial_getExpanders"] = 25;
    EXPECT_EQ(zelkor_getExpanders(handle, &list), 25u);
    EXPECT_TRUE(containsLine(
        log_->lines(), line("ERROR", "zelkor_getExpanders", " zelkor_ial_getExpanders **** FAILED ****")));
    ZELKOR_INSTANCE stranger{};
    EXPECT_EQ(zelkor_getExpanders(&stranger, &list), 4u);
    EXPECT_EQ(zelkor_close(handle), 0u);
}

TEST_F(OperationsTest, TestRegionAndVersion) {
    ZELKOR_INSTANCE* handle = openHandle(0, ZELKOR_CHIP_OSTREL);
    EXPECT_EQ(zelkor_testRegion(handle), 1u);
    EXPECT_THAT(gFake.calls, IsEmpty());
    EXPECT_EQ(zelkor_close(handle), 0u);
    EXPECT_EQ(zelkor_testRegion(handle), 4u);

    uint8_t major = 0;
    uint8_t minor = 9;
    EXPECT_EQ(zelkor_version(&major, &minor), 0u);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(zelkor_version(nullptr, &minor), 5u);
    EXPECT_EQ(zelkor_version(&major, nullptr), 5u);
    EXPECT_TRUE(
        containsInOrder(log_->lines(), {line("INFO", "zelkor_version", "Entry"),
                                        line("ERROR", "zelkor_version", "Invalid Arguments **** FAILED ****"),
                                        line("INFO", "zelkor_version", "Exit")}));
}

} // namespace
