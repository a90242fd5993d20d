// Region download, upload and erase of the hardware modules over the model-backed fake interface: which row
// and offset each interface class gets, the debug-port class with its flash flag and ARM control, Palx's
// refused regions, requests the interface hands back, and handles without an interface.
#include "hal/flash.h"
#include "hal/zelkorHalCommon.h"
#include "model/I2cBus.h"
#include "osal/osalTime.h"
#include "tests/hal/halFixture.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

class HalRegionOps : public HalTest {
  protected:
    void openFamily(const FamilyCase& family, uint32_t interface = ZELKOR_INTERFACE_SAS) {
        use(family);
        handle_.interface = interface;
        if (&family != &kPalx) {
            // Firmware partition and partition 5 (Ostrel 0x85, Quenza 0x81).
            zsim::FirmwareHeader header;
            header.signature = gModel.expander->traits().signature;
            gModel.expander->writeFirmwareHeader(header);
            gModel.expander->writeFlashTable(0x100, {{0, 0x100000, 0}, {5, 0x100000, 0x100000}});
        }
        ASSERT_EQ(open(), 0u);
        gModel.calls.clear();
        gFlashOpsFlag = 0;
        gFlashOpsFlagQuenza = 0;
    }
    ZELKOR_REGION row(uint32_t kind, uint32_t id) {
        for (ZELKOR_REGION_LIST* n = handle_.regions; n != nullptr; n = n->next)
            if (n->region.kind == kind && n->region.regionId == id)
                return n->region;
        ADD_FAILURE() << "no row of kind " << kind << " id " << id;
        return {};
    }
    ZELKOR_STATUS download(ZELKOR_REGION r, uint32_t offset, uint32_t length = 16) {
        std::vector<uint8_t> data(length, 0x5A);
        return op<HAL_TRANSFER_FUNCTION>("zelkor_hal_downloadRegion")(hi_, &r, offset, length, nullptr,
                                                                      data.data());
    }
    ZELKOR_STATUS upload(ZELKOR_REGION r, uint32_t offset, uint32_t length = 16) {
        std::vector<uint8_t> data(length);
        return op<HAL_TRANSFER_FUNCTION>("zelkor_hal_uploadRegion")(hi_, &r, offset, length, nullptr,
                                                                    data.data());
    }
    ZELKOR_STATUS erase(ZELKOR_REGION r) { return op<HAL_ERASE_FUNCTION>("zelkor_hal_eraseRegion")(hi_, &r); }
    // The calls the fake saw: op, region id, offset, size.
    std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>> seen() const {
        std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>> result;
        for (const InterfaceCall& c : gModel.calls)
            result.emplace_back(c.op, c.region.regionId, c.offset, c.size);
        return result;
    }
};

// The direct class resolves an address to its row; the debug-port class writes the caller's own row and
// offset and marks the flash as prepared.
TEST_F(HalRegionOps, EachInterfaceClassGetsItsRowAndOffset) {
    struct Case {
        uint32_t interface;
        uint32_t kind;
        uint32_t id;
        uint32_t offset;
        ZELKOR_STATUS status;
        std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>> calls;
        uint32_t flag;
    };
    const Case cases[] = {
        {ZELKOR_INTERFACE_SAS, 0, 0xC0, 0x14010000, 0, {{"download", 0x80, 0x10000, 16}}, 0},
        {ZELKOR_INTERFACE_TCP, 0, 0xC0, 0x14010000, 0, {{"download", 0x80, 0x10000, 16}}, 0},
        {ZELKOR_INTERFACE_SAS, 0, 0xC0, 0x20000000, 0, {{"download", 0xC0, 0x20000000, 16}}, 0},
        {ZELKOR_INTERFACE_CLI, 1, 0x00, 0, 29, {}, 0},
        {ZELKOR_INTERFACE_COM, 0, 0xC0, 0x14010000, 0, {{"download", 0xC0, 0x14010000, 16}}, 1},
        {ZELKOR_INTERFACE_NONE, 1, 0x00, 0x20, 0, {{"download", 0x00, 0x20, 16}}, 1},
        {ZELKOR_INTERFACE_COM, 2, 0x80, 0x03FFFFF0, 43, {}, 0}, // the caller's own row bounds it too
        {ZELKOR_INTERFACE_RAMDEBUG, 2, 0x80, 0, 1, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("interface " + std::to_string(c.interface) + " offset " + std::to_string(c.offset));
        openFamily(kOstrel, c.interface);
        EXPECT_EQ(download(row(c.kind, c.id), c.offset), c.status);
        EXPECT_EQ(seen(), c.calls);
        EXPECT_EQ(gFlashOpsFlag, c.flag);
    }
}

// A code-3 upload runs with the ARM stopped; a failed stop does not keep the read from going ahead, and a
// failed start is the result of a read that succeeded.
TEST_F(HalRegionOps, CodeThreeUploadStopsAndStartsTheArm) {
    openFamily(kQuenza, ZELKOR_INTERFACE_NONE);
    EXPECT_EQ(upload(row(2, 0x80), 0x40), 0u);
    EXPECT_THAT(seen(), ElementsAre(std::make_tuple("download", 0xC0u, 0x43C00000u, 4u),
                                    std::make_tuple("upload", 0x80u, 0x40u, 16u),
                                    std::make_tuple("download", 0xC0u, 0x43C00000u, 4u)));
    EXPECT_THAT(accesses(), ElementsAre(Access{'W', 0x43C00000u, 0}, Access{'W', 0x43C00000u, 1}));
    EXPECT_EQ(gModel.expander->armStops(), 1u);
    EXPECT_EQ(gModel.expander->armStarts(), 1u);

    gModel.calls.clear();
    gModel.failures.push_back({"download", 0x43C00000u, 24});
    std::string printed = this->printed([&] { EXPECT_EQ(upload(row(2, 0x80), 0), 24u); });
    EXPECT_EQ(printed, "Failed to stop the ARMFailed to start the ARM");
    EXPECT_EQ(gModel.calls.size(), 3u) << "the read went ahead";

    // Other interfaces leave the ARM alone.
    openFamily(kQuenza, ZELKOR_INTERFACE_COM);
    EXPECT_EQ(upload(row(2, 0x80), 0), 0u);
    EXPECT_THAT(accesses(), IsEmpty());
}

// A debug-port upload of the whole flash enables and identifies the flash first (once the flag is clear) and
// reads no more than the part holds; Quenza half of a part of 32 MiB or more.
TEST_F(HalRegionOps, DebugPortWholeFlashUploadEnablesTheFlash) {
    openFamily(kQuenza, ZELKOR_INTERFACE_COM);
    EXPECT_EQ(upload(row(1, 0x00), 0), 0u);
    const std::vector<Access> seenAccesses = accesses();
    ASSERT_GE(seenAccesses.size(), 6u);
    EXPECT_THAT(std::vector<Access>(seenAccesses.begin(), seenAccesses.begin() + 6),
                ElementsAre(Access{'R', 0x2C000004u, 0}, Access{'W', 0x2C000004u, 0x3370000Fu},
                            Access{'R', 0x2C000004u, 0}, Access{'W', 0x2C000004u, 0x3371000Fu},
                            Access{'R', 0x2C000004u, 0}, Access{'R', zsim::kFlashBusRegister, 0}));
    EXPECT_EQ(gModel.calls.back().op, "upload");
    EXPECT_EQ(gModel.calls.back().region.kind, ZELKOR_REGION_FLASH);
    EXPECT_EQ(gModel.calls.back().size, 16u);
    EXPECT_EQ(gFlashOpsFlagQuenza, 1u);
    struct Clamp {
        const FamilyCase* family;
        const char* part;
        uint32_t length;
        uint32_t read;
    };
    const Clamp clamps[] = {
        {&kQuenza, nullptr, 0x3000000, 0x2000000}, // the family's 64 MiB part
        {&kOstrel, nullptr, 0x3000000, 0x3000000},
        {&kQuenza, "amd-2m-byte", 0x300000, 0x200000},
    };
    for (const Clamp& c : clamps) {
        SCOPED_TRACE(std::string(c.family->name) + " " + std::to_string(c.length));
        openFamily(*c.family, ZELKOR_INTERFACE_COM);
        gFlashInfo = FLASH_INFO{};
        if (c.part != nullptr)
            gModel.expander->setFlashParts({{*zsim::findNorPart(c.part), 0}});
        EXPECT_EQ(upload(row(1, 0x00), 0, c.length), 0u);
        ASSERT_FALSE(gModel.calls.empty());
        EXPECT_EQ(gModel.calls.back().op, "upload");
        EXPECT_EQ(gModel.calls.back().size, c.read);
    }
    // Over in-band the whole flash is refused before anything is sent.
    openFamily(kQuenza);
    EXPECT_EQ(upload(row(1, 0x00), 0), 29u);
    EXPECT_THAT(gModel.calls, IsEmpty());
}

TEST_F(HalRegionOps, FlashEnableNeedsBitSixteenToStick) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza}) {
        SCOPED_TRACE(family->name);
        openFamily(*family, ZELKOR_INTERFACE_COM);
        const uint32_t control = family == &kOstrel ? 0x1C000004u : 0x2C000004u;
        EXPECT_EQ(hal_flashEnable(hi_), 0u);
        gModel.expander->space().defineRegister(control, "flash-control", 0, 0xFFFEFFFFu);
        EXPECT_EQ(hal_flashEnable(hi_), 1u);
        gModel.failures.push_back({"upload", control, 25});
        EXPECT_EQ(hal_flashEnable(hi_), 25u);
    }
    // Quenza stops at a failed first write; Ostrel goes on.
    for (const FamilyCase* family : {&kOstrel, &kQuenza}) {
        openFamily(*family, ZELKOR_INTERFACE_COM);
        const uint32_t control = family == &kOstrel ? 0x1C000004u : 0x2C000004u;
        gModel.failures.push_back({"download", control, 24, std::nullopt, 0, 1});
        const ZELKOR_STATUS status = hal_flashEnable(hi_);
        EXPECT_EQ(status, family == &kOstrel ? 0u : 24u);
        EXPECT_EQ(accesses().size(), family == &kOstrel ? 5u : 2u);
    }
}

// 27 and 28 are warned of by Ostrel, then served by the module itself.
TEST_F(HalRegionOps, RequestsOfTheInterfaceAreWarnedOf) {
    for (ZELKOR_STATUS request : {27u, 28u}) {
        openFamily(kOstrel);
        gModel.failures.push_back({"download", std::nullopt, request, 0x85u, 0, 1});
        gModel.failures.push_back({"erase", std::nullopt, request, 0x85u, 0, 1});
        const ZELKOR_REGION partition = row(2, 0x85);
        gModel.record = false;
        EXPECT_EQ(download(partition, 0x10), 0u);
        EXPECT_EQ(erase(partition), 0u);
        gModel.record = true;
        EXPECT_EQ(download(partition, 0x10), 0u) << "the fault strikes once";
        const std::vector<std::string> lines = log_->lines();
        log_ = std::make_unique<LogCapture>();
        EXPECT_TRUE(containsInOrder(
            lines,
            {"WARN : zelkor_hal_OSTREL::zelkor_hal_downloadRegion : Writing 16 bytes at 0x00000010 offset "
             "has FAILED",
             "INFO : zelkor_hal_OSTREL::zelkor_hal_eraseRegion : Erasing region 0x05",
             "WARN : zelkor_hal_OSTREL::zelkor_hal_eraseRegion : Erasing region 0x05 FAILED"}));
    }
}

TEST_F(HalRegionOps, PalxRegionsAndBounds) {
    openFamily(kPalx);
    for (uint32_t id : {4u, 5u}) {
        const std::string text = printed([&] {
            EXPECT_EQ(download(row(2, id), 0), 3u);
            EXPECT_EQ(erase(row(2, id)), 3u);
        });
        EXPECT_EQ(text, "\nERROR: Cannot download the image on region " + std::to_string(id) +
                            ". Firmware does not support it.\nERROR: Cannot Erase region " +
                            std::to_string(id) + ". Firmware does not support it.");
    }
    EXPECT_THAT(gModel.calls, IsEmpty());
    // A whole-flash address resolves to its flash region; one past the flash is refused with 5.
    EXPECT_EQ(download(row(1, 0), 0x40010), 0u);
    EXPECT_EQ(download(row(1, 0), 0x1FFFF8), 5u);
    EXPECT_EQ(download(row(1, 0), 0xFFFFFFF8), 5u);
    EXPECT_EQ(download(row(2, 3), 0xFFF1), 5u);
    EXPECT_EQ(seen(), (std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>>{
                          {"download", 1, 0x10, 16}}));

    // The boot record is its own target, bounded by its 8 KiB; a 35 from the interface sends the bytes through
    // the I2C programmer, laid over the record at their offset.
    gModel.calls.clear();
    const ZELKOR_REGION bootRecord = row(ZELKOR_REGION_BOOT_RECORD, 0x0A);
    EXPECT_EQ(download(bootRecord, 0x1FF8), 5u);
    gModel.failures.push_back({"download", std::nullopt, 35, 0x0Au, 0, 1});
    gModel.failures.push_back({"upload", std::nullopt, 35, 0x0Au});
    gModel.expander->seeprom().bytes()[0] = 0x81; // the boot slot's record at byte 64
    gModel.expander->space().findRegister(zsim::kBootSlotRegister)->value = 0;
    osal_setSleepFunction([](uint32_t ms) { gModel.expander->elapse(uint64_t{ms} * 1000); });
    EXPECT_EQ(download(bootRecord, 0x1FE0), 0u) << "read back and compared";
    EXPECT_EQ(gModel.expander->seeprom().bytes()[64 + 0x1FE0], 0x5A);
    EXPECT_EQ(gModel.expander->seeprom().bytes()[64 + 0x1FEF], 0x5A);
    ASSERT_FALSE(gModel.calls.empty());
    EXPECT_EQ(seen().front(), std::make_tuple(std::string("download"), 0x0Au, 0x1FE0u, 16u));
    gModel.failures.clear();

    // Over the debug port regions 4 and 5 go to the interface; code 3 writes the caller's own row.
    openFamily(kPalx, ZELKOR_INTERFACE_COM);
    EXPECT_EQ(download(row(2, 4), 0), 0u);
    openFamily(kPalx, ZELKOR_INTERFACE_NONE);
    EXPECT_EQ(download(row(1, 0), 0x40010), 0u);
    EXPECT_EQ(seen(), (std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>>{
                          {"download", 0, 0x40010, 16}}));
}

// An offline handle (codes 5 and 6) has no interface slots: the operations answer 3 instead of calling them.
TEST_F(HalRegionOps, OfflineHandlesReachNoInterface) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza}) {
        use(*family);
        handle_.interface =
            family == &kOstrel ? ZELKOR_INTERFACE_OFFLINE_OSTREL : ZELKOR_INTERFACE_OFFLINE_QUENZA;
        handle_.ialEntry = nullptr;
        handle_.ialVectors = IAL_VECTORS{};
        ASSERT_EQ(open(), 0u);
        ZELKOR_REGION partition{2, 0x80, 0, 0, 0x1000, 0, ZELKOR_FLASH_TYPE_UNKNOWN, 0};
        EXPECT_EQ(upload(partition, 0), 3u);
        EXPECT_EQ(erase(partition), 3u);
        EXPECT_EQ(download(partition, 0), 1u);
        if (family == &kQuenza) {
            EXPECT_EQ(op<HAL_DOWNLOAD_RAMDEBUG_FUNCTION>("zelkor_hal_downloadRamdebug")(hi_, "/dev/null", 0,
                                                                                        nullptr, 0),
                      4u);
        }
    }
}

TEST_F(HalRegionOps, ArgumentsAreCheckedBeforeAnythingIsSent) {
    openFamily(kOstrel);
    auto downloadSlot = op<HAL_TRANSFER_FUNCTION>("zelkor_hal_downloadRegion");
    ZELKOR_REGION partition = row(2, 0x80);
    uint8_t byte = 0;
    EXPECT_EQ(downloadSlot(hi_, nullptr, 0, 1, nullptr, &byte), 5u);
    EXPECT_EQ(downloadSlot(hi_, &partition, 0, 0, nullptr, &byte), 5u);
    EXPECT_EQ(downloadSlot(hi_, &partition, 0, 1, nullptr, nullptr), 5u);
    FILE* file = std::tmpfile();
    EXPECT_EQ(downloadSlot(hi_, &partition, 0, 1, file, &byte), 5u);
    EXPECT_EQ(downloadSlot(hi_, &partition, 0, 1, file, nullptr), 5u) << "an empty file holds no byte";
    std::fclose(file);
    auto uploadSlot = op<HAL_TRANSFER_FUNCTION>("zelkor_hal_uploadRegion");
    EXPECT_EQ(uploadSlot(hi_, nullptr, 0, 1, nullptr, &byte), 5u);
    ZELKOR_HAL_INSTANCE stranger{};
    EXPECT_EQ(downloadSlot(&stranger, &partition, 0, 1, nullptr, &byte), 4u);
    EXPECT_EQ(uploadSlot(&stranger, &partition, 0, 1, nullptr, &byte), 4u);
    EXPECT_EQ(op<HAL_ERASE_FUNCTION>("zelkor_hal_eraseRegion")(&stranger, &partition), 4u);
    EXPECT_THAT(gModel.calls, IsEmpty());
}

} // namespace
