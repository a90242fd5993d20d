// The front end's image routines on seeded mutated images, through the core and the real hardware modules to
// the expander model: the pre-download checks of a user's firmware, manufacturing and boot-record file, the
// read-back comparison after a download, and the version and board-name look-ups over firmware and
// manufacturing images the flash holds. Whatever the files and the flash hold, a routine ends with a known
// status, leaves the caller's buffers outside their fields alone, keeps the expander's name a terminated
// text, and sends nothing but reads to the expander. A failure names the seed and shows the images.
#include "imageMutation.h"
#include "tests/hal/modelFrontEnd.h"

#include "frontend/images.h"
#include "frontend/messages.h"
#include "frontend/mfgPages.h"
#include "frontend/regions.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace robust;
using modelfront::kHigh;
using modelfront::kLow;

constexpr uint32_t kFlashBase = 0;
constexpr uint32_t kFirmwareAt = 0x100000; // flash-table entry id 1
constexpr uint32_t kMfgAt = 0x200000;      // entry id 3
constexpr uint32_t kMfgSize = 0x10000;
constexpr uint32_t kKindPartition = 2;

struct Kind {
    zsim::Family family;
    uint32_t chipType;
};

class FrontImageRoutines : public ModelFrontEnd {
  protected:
    void TearDown() override {
        closeFrontEnd();
        EXPECT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
        ModelFrontEnd::TearDown();
    }

    // init as the parser leaves the in-band command: 0 once the handle and the region list are there.
    uint32_t openFrontEnd() {
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
        gClParser.optionFlags = CL_OPT_QUIET;
        gDisplayStatusFlag = 0;
        gInstance.interfaceCode = MORV_INTERFACE_INBAND;
        gInstance.target.sas.low = kLow;
        gInstance.target.sas.high = kHigh;
        testing::internal::CaptureStdout();
        const uint32_t status = init();
        testing::internal::GetCapturedStdout();
        return status;
    }

    void closeFrontEnd() {
        cleanQuillet();
        if (gInstance.handle != nullptr) {
            EXPECT_EQ(zelkor_close(gInstance.handle), 0u);
        }
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
    }

    // The routine's status, run with standard output captured (no check runs while it is), and a check that
    // it only read from the expander.
    template <typename F> uint32_t quietly(const char* what, F&& routine) {
        gModel.calls.clear();
        testing::internal::CaptureStdout();
        const uint32_t status = routine();
        testing::internal::GetCapturedStdout();
        SCOPED_TRACE(what);
        EXPECT_TRUE(status < 0x100 || status == MORV_STATUS_DECLINED) << "status " << status;
        for (const InterfaceCall& c : gModel.calls) {
            EXPECT_EQ(c.op, "upload") << "a write to the expander at 0x" << std::hex << c.offset;
        }
        const ZELKOR_EXPANDER* first = gInstance.expanderList != nullptr ? &gInstance.expanderList->expander : nullptr;
        if (first != nullptr) {
            EXPECT_NE(std::memchr(first->name, '\0', sizeof first->name), nullptr) << "name without its end";
        }
        return status;
    }

    // The index of the partition of the flash-table entry id: Quenza rows carry the id, Ostrel rows are
    // indexed by it; 0xEE (no such partition) when the family has none.
    static uint32_t partitionOf(uint32_t entryId) {
        for (const ZELKOR_REGION_LIST* node = gInstance.regionList; node != nullptr; node = node->next) {
            const ZELKOR_REGION& r = node->region;
            if (r.kind == kKindPartition && (r.entryId == entryId || (r.entryId == 0 && r.index == entryId)))
                return r.index;
        }
        return 0xEE;
    }
};

TEST_F(FrontImageRoutines, AnyFileAndAnyFlashContent) {
    const Kind kinds[] = {{zsim::Family::Quenza, 4}, {zsim::Family::Ostrel, 3}, {zsim::Family::Palx, 1}};
    const FamilyCase* cases[] = {&kQuenza, &kOstrel, &kPalx};
    int opened = 0;
    for (int i = 0; i < 240 && !HasFailure(); ++i) {
        const uint32_t seed = 0xF1A60000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const uint32_t k = d.below(3);
        // The flash table: the firmware, manufacturing and one more partition, now and then with entries that
        // overlap them, lie past the flash's end or have no size.
        std::vector<zsim::FlashEntry> table{
            {0, 0x100000, kFlashBase}, {1, 0x100000, kFirmwareAt}, {3, kMfgSize, kMfgAt}, {9, 0x4000, 0x210000}};
        if (d.chance(30)) {
            for (uint32_t n = 1 + d.below(4); n > 0; --n) {
                const uint8_t id = static_cast<uint8_t>(d.pick({1, 2, 3, 5, 9, 0x3F, 0xFF}, 255));
                const uint32_t size = d.pick({0, 1, 0x4000, 0x80000, 0x100000, 0x4000000, 0xFFFFFFFF}, UINT32_MAX);
                const uint32_t offset =
                    d.pick({kFirmwareAt, kMfgAt + 0x100, kMfgAt - 1, 0x3FFFFFF, 0x4000000, 0xFFFFFFFF}, UINT32_MAX);
                table.insert(table.begin() + static_cast<long>(d.below(static_cast<uint32_t>(table.size() + 1))),
                             {id, size, offset});
            }
        }
        expander(kinds[k].family, kinds[k].chipType, false, table);
        // The flash: a firmware image in partition 1 and a manufacturing image in partition 2, both mutated.
        std::vector<uint8_t> header(136);
        gModel.expander->flash().read(0, header);
        Bytes flashFirmware = firmwareImage(d, *cases[k], header);
        put32(flashFirmware, 56, static_cast<uint32_t>(flashFirmware.size()));
        balance(flashFirmware, flashFirmware.size() / 4);
        flashFirmware = mutateFirmware(d, *cases[k], std::move(flashFirmware));
        MfgImage version = MfgImage().page(PAGE_BOARD, boardData(d.chance(50) ? "Kestan_7" : std::string(16, 'Q')));
        version.page(PAGE_MFG_VERSION, d.bytes(56));
        Bytes flashMfg = mutateMfg(d, d.chance(50) ? version.bytes() : mfgBase(d));
        gModel.expander->flash().write(kFirmwareAt, flashFirmware);
        gModel.expander->flash().write(kMfgAt, flashMfg);
        // The user's files.
        const Bytes fileFirmware = mutateFirmware(d, *cases[k], firmwareImage(d, *cases[k], header));
        const Bytes fileMfg = mutateMfg(d, mfgBase(d));
        Bytes fileBoot{'P', 'a', 'l', 'x'};
        fileBoot = mutateFirmware(d, *cases[k], fileBoot);
        SCOPED_TRACE(seedText(seed) + ", chip type " + std::to_string(kinds[k].chipType) + "\nflash firmware:\n" +
                     hex(flashFirmware) + "\nflash manufacturing image:\n" + hex(flashMfg) + "\nfirmware file:\n" +
                     hex(fileFirmware) + "\nmanufacturing file:\n" + hex(fileMfg));
        const uint32_t open = openFrontEnd();
        ASSERT_TRUE(open == 0 || open == 26 || open == 32) << "open " << open;
        ++opened;

        // The user is asked at most once; the answer, the options and the files vary.
        gClParser.optionFlags = static_cast<uint16_t>(CL_OPT_QUIET | (d.chance(40) ? CL_OPT_FORCE : 0) |
                                                      (d.chance(30) ? CL_OPT_YES : 0));
        const std::string answer = d.oneOf({"y\n", "n\n", ""});
        const std::string inputPath = testing::TempDir() + "front_image_input_" + std::to_string(getpid());
        std::ofstream(inputPath, std::ios::binary | std::ios::trunc) << answer;
        ASSERT_NE(std::freopen(inputPath.c_str(), "r", stdin), nullptr);

        std::array<uint32_t, 3> words{0xC0FFEE01u, 0x5A5A5A5Au, 0xC0FFEE02u};
        File firmware = fileOf(fileFirmware);
        const uint32_t index = partitionOf(d.chance(50) ? 1 : 3);
        quietly("validateFwFile", [&] { return validateFwFile(firmware.get(), kKindPartition, index, &words[1]); });
        EXPECT_EQ(words[0], 0xC0FFEE01u);
        EXPECT_EQ(words[2], 0xC0FFEE02u);

        std::array<uint8_t, 3> valid{0xEE, 0x77, 0xEE};
        File mfg = fileOf(fileMfg);
        const uint32_t mfgStatus = quietly("validateMfgFile", [&] { return validateMfgFile(mfg.get(), &valid[1]); });
        EXPECT_TRUE(valid[1] == 0 || valid[1] == 1);
        if (valid[1] == 1) {
            EXPECT_EQ(mfgStatus, 0u);
        }
        EXPECT_EQ(valid[0], 0xEE);
        EXPECT_EQ(valid[2], 0xEE);

        File boot = fileOf(fileBoot);
        quietly("validateBootRecordFile", [&] { return validateBootRecordFile(boot.get()); });
        std::remove(inputPath.c_str());

        // The read-back after a download: any mode, any word count, the file as it stands.
        std::array<char, 96> message;
        message.fill('\x7E');
        const uint32_t mode = d.below(5);
        const uint32_t count = d.pick({0, 1, static_cast<uint32_t>(fileFirmware.size() / 4), 2048, 2049, 0x40000,
                                       0x40001, 0x3FFFFFFF, 0xFFFFFFFF},
                                      UINT32_MAX);
        const uint32_t region = d.below(5);
        const uint32_t verified = quietly("postValidationOfImage", [&] {
            return postValidationOfImage(mode, firmware.get(), kKindPartition, region, nullptr, message.data() + 16,
                                         count);
        });
        EXPECT_LE(verified, 2u);
        for (size_t b = 0; b < 16; ++b) {
            EXPECT_EQ(message[b], '\x7E') << "byte before the message";
            EXPECT_EQ(message[16 + 64 + b], '\x7E') << "byte past the message";
        }

        // Versions and the board name from what the flash holds.
        for (uint32_t entry : {0, 1, 3, 9})
            quietly("getVersion", [&] { return getVersion(kKindPartition, partitionOf(entry)); });
        quietly("readMfgInfo", [&] { return readMfgInfo(kKindPartition, partitionOf(3), PAGE_BOARD); });
        ZELKOR_REGION_LIST* node = findRegion(kKindPartition, partitionOf(3));
        quietly("displayMfgImageVersion",
                [&] { return displayMfgImageVersion(node != nullptr ? &node->region : nullptr); });
        closeFrontEnd();
    }
    EXPECT_EQ(opened, 240);
}

} // namespace
