// The SEEPROM boot-record programmer (family Palx) on seeded boot-record files of every length class and
// seeded slot tables and boot-slot words, against the simulator's I2C controller and SEEPROM behind the
// model-backed fake interface. Whatever the file and the table hold, the download ends with a known status,
// writes nothing outside the slot table and the one record of the boot slot, writes nothing at all for an
// empty file, and a success leaves the file's bytes in the record with the record summing to 0.
#include "imageMutation.h"

#include "hal/iic.h"
#include "osal/osalTime.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

using namespace robust;

class SeepromImages : public HalTest {
  protected:
    void SetUp() override {
        HalTest::SetUp();
        use(kPalx);
        // The model's time moves with the sleeps; nothing waits.
        osal_setSleepFunction([](uint32_t ms) { gModel.expander->elapse(uint64_t{ms} * 1000); });
    }
    static std::vector<uint8_t>& rom() { return gModel.expander->seeprom().bytes(); }
};

TEST_F(SeepromImages, AnyFileAnyTable) {
    int written = 0;
    for (int i = 0; i < 120 && !HasFailure(); ++i) {
        const uint32_t seed = 0x5EE90000u + static_cast<uint32_t>(i);
        Dice d(seed);
        gModel.reset(zsim::Family::Palx, ZELKOR_CHIP_PALX);
        gModel.handle = &handle_;
        for (uint32_t k = 0; k < zsim::Seeprom::kSize; ++k)
            rom()[k] = static_cast<uint8_t>(k * 5 + 1);
        // A slot table of random entries (now and then a zero, naming no slot, or offset 0) and a boot slot.
        for (uint32_t k = 0; k < 4; ++k)
            rom()[k] = static_cast<uint8_t>(d.pick({0x00, 0x80, 0x81, 0xA1, 0xFF, 0x7F, 0x01}, 255));
        const uint32_t istwi = d.below(4);
        gModel.expander->space().findRegister(zsim::kBootSlotRegister)->value =
            d.chance(80) ? istwi << 2 : d.word();
        Bytes file{'P', 'a', 'l', 'x'};
        const Bytes rest = d.bytes(d.pick({0, 8187, 8188, 8189, 8190, 8191, 8192, 9000, 0x40000}, 12000));
        file.insert(file.end(), rest.begin(), rest.end());
        if (d.chance(20))
            file.resize(d.pick({0, 1, 3, 63, 64, 65}, 200));
        SCOPED_TRACE(seedText(seed) + ": table " + hex(Bytes(rom().begin(), rom().begin() + 4)) + ", file of " +
                     std::to_string(file.size()) + " bytes");
        const std::vector<uint8_t> before = rom();

        File f = fileOf(file);
        const ZELKOR_STATUS status = downloadBinaryToSeeprom(&handle_, 0x40300000, 0, 220, f.get());
        EXPECT_TRUE(status == 0 || status == 1 || status == 6 || status == 25) << "status " << status;

        const std::vector<uint8_t>& after = rom();
        std::vector<size_t> changed;
        for (size_t k = 0; k < after.size(); ++k)
            if (after[k] != before[k])
                changed.push_back(k);
        if (file.empty()) {
            EXPECT_NE(status, 0u);
            EXPECT_TRUE(changed.empty()) << "an empty file wrote byte " << changed.front();
            continue;
        }
        // The slot the record went to, by the table as it stands afterwards (a table without a slot for
        // every boot slot is put back to the defaults first).
        const uint32_t slotWord = gModel.expander->space().findRegister(zsim::kBootSlotRegister)->value;
        const uint32_t slot = (after[(slotWord >> 2) & 3] & 0x7Fu) * 64;
        for (size_t k : changed) {
            const bool inTable = k < 4;
            const bool inRecord = slot != 0 && k >= slot && k < slot + SEEPROM_BOOT_RECORD_SIZE;
            EXPECT_TRUE(inTable || inRecord) << "byte 0x" << std::hex << k << " changed, slot 0x" << slot;
            if (HasFailure())
                break;
        }
        if (status == 0) {
            ++written;
            ASSERT_NE(slot, 0u);
            const size_t n = std::min<size_t>(file.size(), SEEPROM_BOOT_RECORD_SIZE - 1);
            EXPECT_TRUE(std::equal(file.begin(), file.begin() + static_cast<long>(n), after.begin() + slot))
                << "the record does not hold the file";
            const uint8_t sum = std::accumulate(after.begin() + slot, after.begin() + slot + SEEPROM_BOOT_RECORD_SIZE,
                                                uint8_t{0});
            EXPECT_EQ(sum, 0) << "record sum";
        }
    }
    EXPECT_GT(written, 20);
}

} // namespace
