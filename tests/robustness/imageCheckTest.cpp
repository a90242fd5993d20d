// The checks a user's image file passes before anything is written to an expander, on seeded mutations of
// valid images: the three hardware modules' firmware, manufacturing and boot-record checks over the
// model-backed fake interface, and the two page walks over a region image (the page engine's and the front
// end's). Mutations flip bits, cut at every length class, set header length, offset and count fields to
// values around the file's size, repeat or drop pages, and often put the sums right again so that the deeper
// checks are reached; some images are random bytes. The checks hold for any input: a known status, no byte
// of a caller's buffer outside its field touched, nothing written to the expander, and a pass only for an
// image that satisfies what the check claims. A failure names the seed and shows the image.
#include "imageMutation.h"
#include "config/mfgRegion.h"
#include "frontend/mfgPages.h"
#include "hal/zelkorHalCommon.h"
#include "tests/hal/halFixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace robust;

constexpr int kCases = 300;

// ---- the hardware modules' checks ----

class ImageChecks : public HalTest, public testing::WithParamInterface<const FamilyCase*> {
  protected:
    void SetUp() override {
        HalTest::SetUp();
        const FamilyCase& f = *GetParam();
        use(f);
        ASSERT_EQ(open(), 0u);
        // An identified firmware in flash: the family's signature and identity fields.
        zsim::FirmwareHeader header;
        header.signature = gModel.expander->traits().signature;
        header.identity = 0xABCD1234;
        header.secondIdentity = 0x55;
        header.version = 0x02070001;
        gModel.expander->writeFirmwareHeader(header);
        flashHeader_.resize(136);
        gModel.expander->flash().read(0, flashHeader_);
        gModel.calls.clear();
    }

    ZELKOR_REGION* whole() {
        for (ZELKOR_REGION_LIST* n = handle_.regions; n != nullptr; n = n->next)
            if (n->region.kind == ZELKOR_REGION_FLASH)
                return &n->region;
        return nullptr;
    }

    // Every call the checks made since the last look was a read.
    void expectOnlyReads() {
        for (const InterfaceCall& c : gModel.calls) {
            EXPECT_EQ(c.op, "upload") << "the check wrote to the expander at 0x" << std::hex << c.offset;
        }
        gModel.calls.clear();
    }

    ZELKOR_STATUS fileCheck(const char* name, const Bytes& image) {
        auto check = op<HAL_FILE_FUNCTION>(name);
        if (check == nullptr)
            return HAL_NOT_APPLICABLE;
        File f = fileOf(image);
        return check(hi_, f.get());
    }

    // Each firmware check once on the image; the checks that hold for any image.
    void checkFirmware(const Bytes& image) {
        const FamilyCase& f = *GetParam();
        const std::array<uint32_t, 3>& words = gModel.expander->traits().signature;

        const ZELKOR_STATUS expander = fileCheck("zelkor_hal_fwExpanderValidation", image);
        EXPECT_TRUE(expander == 0 || expander == 1) << "expander validation " << expander;
        if (expander == 0) {
            ASSERT_GE(image.size(), 16u);
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(le32(image, 4 + 4 * i), words[i]) << "passed with a foreign signature word " << i;
            }
        }

        // The word count between guard words.
        std::array<uint32_t, 3> count{0xC0FFEE01u, 0x5A5A5A5Au, 0xC0FFEE02u};
        File file = fileOf(image);
        const ZELKOR_STATUS checksum =
            op<HAL_FW_CHECKSUM_FUNCTION>("zelkor_hal_fwChecksumValidation")(hi_, file.get(), &count[1]);
        EXPECT_TRUE(checksum == 0 || checksum == 1) << "checksum validation " << checksum;
        EXPECT_EQ(count[0], 0xC0FFEE01u);
        EXPECT_EQ(count[2], 0xC0FFEE02u);
        const size_t n = summedWords(f, image);
        if (n == SIZE_MAX) {
            EXPECT_EQ(checksum, 1u) << "a length word naming no span of the file passed";
        }
        else
            EXPECT_EQ(checksum == 0, wordSum(image, n) == 0) << n << " words";
        if (count[1] != 0x5A5A5A5Au) {
            EXPECT_NE(&f, &kPalx) << "the Palx check takes no word count";
            EXPECT_EQ(count[1], n) << "word count other than the words summed";
        }

        // The version text in a 16-byte field between guard bytes.
        std::array<char, 32> version;
        version.fill('\x7E');
        file = fileOf(image);
        const ZELKOR_STATUS got =
            op<HAL_GET_FW_VERSION_FUNCTION>("zelkor_hal_getFwVersion")(hi_, file.get(), version.data() + 8);
        EXPECT_TRUE(got == 0 || got == 1) << "version " << got;
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(version[i], '\x7E') << "byte before the field";
            EXPECT_EQ(version[24 + i], '\x7E') << "byte past the field";
        }
        EXPECT_EQ(got == 0, image.size() >= 40);
        if (got == 0) {
            char expected[16];
            std::snprintf(expected, sizeof expected, "%02d.%02d.%02d.%02d", image[39], image[38], image[37], image[36]);
            EXPECT_STREQ(version.data() + 8, expected);
        }

        const ZELKOR_STATUS identity = fileCheck("zelkor_hal_fwImageValidation", image);
        EXPECT_TRUE(identity == 0 || identity == 1) << "image validation " << identity;
        const bool palx = &f == &kPalx;
        const size_t needed = palx ? 44 : 46;
        if (image.size() < needed) {
            EXPECT_EQ(identity, 1u);
        } else {
            const bool equal = palx ? le32(image, 40) == le32(flashHeader_, 40) && le16(image, 32) == le16(flashHeader_, 32)
                                    : le16(image, 40) == le16(flashHeader_, 40) && le16(image, 44) == le16(flashHeader_, 44);
            EXPECT_EQ(identity == 0, equal);
        }

        if (palx) {
            const ZELKOR_STATUS boot = fileCheck("zelkor_hal_bootRecordValidation", image);
            EXPECT_TRUE(boot == 0 || boot == 1) << "boot record " << boot;
            EXPECT_EQ(boot == 0, image.size() >= 4 && std::memcmp(image.data(), "Palx", 4) == 0);
        }
        expectOnlyReads();
    }

    Bytes flashHeader_;
};

TEST_P(ImageChecks, FirmwareImagesOfAnyShape) {
    const FamilyCase& f = *GetParam();
    const uint32_t seedBase = 0x1A6E0000u + (static_cast<uint32_t>(f.chipType) << 12);
    int passedSum = 0;
    int passedIdentity = 0;
    for (int i = 0; i < kCases && !HasFailure(); ++i) {
        const uint32_t seed = seedBase + static_cast<uint32_t>(i);
        Dice d(seed);
        Bytes image = firmwareImage(d, f, flashHeader_);
        if (i % 10 != 0)
            image = mutateFirmware(d, f, std::move(image));
        SCOPED_TRACE(seedText(seed) + ", image of " +
                     std::to_string(image.size()) + " bytes:\n" + hex(image));
        checkFirmware(image);
        passedSum += wordSum(image, std::min(summedWords(f, image), image.size() / 4)) == 0 ? 1 : 0;
        passedIdentity += image.size() >= 46 && le16(image, 40) == le16(flashHeader_, 40) ? 1 : 0;
    }
    // The mutations must leave enough images whole for the deeper checks to be reached.
    EXPECT_GT(passedSum, kCases / 5);
    EXPECT_GT(passedIdentity, kCases / 5);
}

// Only the Palx module checks boot records.
class BootRecordChecks : public ImageChecks {};

TEST_P(BootRecordChecks, BootRecordsOfAnyShape) {
    const FamilyCase& f = *GetParam();
    for (int i = 0; i < kCases && !HasFailure(); ++i) {
        const uint32_t seed = 0xB0070000u + static_cast<uint32_t>(i);
        Dice d(seed);
        Bytes image{'P', 'a', 'l', 'x'};
        const Bytes rest = d.bytes(d.pick({0, 1, 4, 508}, 1024));
        image.insert(image.end(), rest.begin(), rest.end());
        image = mutateFirmware(d, f, std::move(image));
        SCOPED_TRACE(seedText(seed) + ", image:\n" + hex(image));
        const ZELKOR_STATUS boot = fileCheck("zelkor_hal_bootRecordValidation", image);
        EXPECT_TRUE(boot == 0 || boot == 1) << boot;
        EXPECT_EQ(boot == 0, image.size() >= 4 && std::memcmp(image.data(), "Palx", 4) == 0);
        expectOnlyReads();
    }
}

// The manufacturing checksum walk of the family, by the algorithm: pass or fail.
bool mfgSumsRight(const FamilyCase& f, const Bytes& b) {
    if (b.size() <= 3)
        return false;
    for (size_t p = b[3]; p < b.size();) {
        if (p + 8 > b.size())
            return false;
        const size_t length = le16(b, p + 4);
        const uint32_t id = le16(b, p + 6);
        if (&f == &kQuenza && (id == 0 || id == 0xFFFF || length == 0 || length == 0xFFFF))
            return false;
        if (p + 4 + length > b.size())
            return false;
        uint8_t sum = 0;
        for (size_t i = 0; i < length; ++i)
            sum = static_cast<uint8_t>(sum + b[p + 4 + i]);
        if (sum != b[p + 1])
            return false;
        p += 4 + length;
    }
    return true;
}

TEST_P(ImageChecks, ManufacturingImagesOfAnyShape) {
    const FamilyCase& f = *GetParam();
    const bool checks = &f != &kPalx;
    int passed = 0;
    for (int i = 0; i < kCases && !HasFailure(); ++i) {
        const uint32_t seed = 0x3F600000u + (static_cast<uint32_t>(f.chipType) << 12) + static_cast<uint32_t>(i);
        Dice d(seed);
        Bytes image = mfgBase(d);
        if (i % 10 != 0)
            image = mutateMfg(d, std::move(image));
        SCOPED_TRACE(seedText(seed) + ", image:\n" + hex(image));
        const ZELKOR_STATUS valid = fileCheck("zelkor_hal_mfgImageValidation", image);
        EXPECT_EQ(valid == 0, !checks || (image.size() > 2 && image[2] == 0x10)) << valid;
        EXPECT_TRUE(valid == 0 || valid == 1) << valid;

        File file = fileOf(image);
        const ZELKOR_STATUS sums = op<HAL_FILE_FUNCTION>("zelkor_hal_mfgChecksumValidation")(hi_, file.get());
        EXPECT_TRUE(sums == 0 || sums == 1) << sums;
        EXPECT_EQ(sums == 0, !checks || mfgSumsRight(f, image));
        // The file is left where the walk ended: never past its end.
        const long at = std::ftell(file.get());
        EXPECT_GE(at, 0);
        EXPECT_LE(static_cast<size_t>(at), image.size());
        passed += sums == 0 && checks ? 1 : 0;
        expectOnlyReads();
    }
    if (checks) {
        EXPECT_GT(passed, kCases / 10);
    }
}

// The region checksum reads as many bytes of a region as the file holds (the interface module bounds the
// read); regions of every kind, and files shorter, as long as and longer than them.
TEST_P(ImageChecks, RegionChecksumOverAnyFileSize) {
    const FamilyCase& f = *GetParam();
    const std::vector<ZELKOR_REGION> rows = regions();
    ASSERT_FALSE(rows.empty());
    static const std::set<ZELKOR_STATUS> kKnown{0, 1, 5, 6, 9, 10, 14, 16, 17, 20, 25};
    auto checksum = op<HAL_GET_REGION_CHECKSUM_FUNCTION>("zelkor_hal_getRegionChecksum");
    for (int i = 0; i < 60 && !HasFailure(); ++i) {
        const uint32_t seed = 0x5C4E0000u + (static_cast<uint32_t>(f.chipType) << 12) + static_cast<uint32_t>(i);
        Dice d(seed);
        ZELKOR_REGION region = d.oneOf(rows);
        const uint32_t size = std::min<uint32_t>(
            region.size <= 0x4000 ? d.pick({0, 1, 3, 4, region.size - 1, region.size, region.size + 1}, region.size + 8)
                                  : d.pick({1, 4, 5, 84, 4096}, 0x4000),
            0x8000);
        char what[96];
        std::snprintf(what, sizeof what, ": region id 0x%X size 0x%X, file of 0x%X", region.regionId, region.size, size);
        SCOPED_TRACE(seedText(seed) + what);
        File file = fileOf(d.bytes(size));
        const ZELKOR_STATUS status = checksum(hi_, file.get(), &region);
        EXPECT_TRUE(kKnown.count(status) == 1) << "status " << status;
        expectOnlyReads();
    }
}

INSTANTIATE_TEST_SUITE_P(Families, ImageChecks, testing::Values(&kOstrel, &kQuenza, &kPalx),
                         [](const auto& info) { return std::string(info.param->name); });
INSTANTIATE_TEST_SUITE_P(Palx, BootRecordChecks, testing::Values(&kPalx),
                         [](const auto& info) { return std::string(info.param->name); });

// ---- the page walks over a region image ----

// The image in a heap block of exactly its size, so that a read past it is caught.
struct Exact {
    explicit Exact(const Bytes& b) : bytes(new uint8_t[b.empty() ? 1 : b.size()]), size(b.size()) {
        std::copy(b.begin(), b.end(), bytes.get());
    }
    std::unique_ptr<uint8_t[]> bytes;
    size_t size;
};

TEST(RegionImageWalks, EveryPageHandedOutLiesInTheImage) {
    int complete = 0;
    int found = 0;
    for (int i = 0; i < 400 && !HasFailure(); ++i) {
        const uint32_t seed = 0x9A6E0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        Bytes image = mfgBase(d);
        if (i % 10 != 0)
            image = mutateMfg(d, std::move(image));
        // The walks start at byte 8 whatever byte 3 says.
        if (d.chance(50) && image.size() > 3)
            image[3] = 8;
        SCOPED_TRACE(seedText(seed) + ", image:\n" + hex(image));
        const Exact exact(image);
        const std::span<const uint8_t> view(exact.bytes.get(), exact.size);

        size_t last = 0;
        const pageengine::PageWalkResult r = pageengine::walkRegionImage(view, [&](const pageengine::MfgPage& p) {
            EXPECT_GE(p.offset, std::max<size_t>(8, last));
            EXPECT_LE(p.offset + 8 + p.data.size(), view.size());
            EXPECT_EQ(p.data.data(), view.data() + p.offset + 8);
            EXPECT_EQ(p.data.size() + 4, p.header.length);
            EXPECT_NE(p.header.flags & 1, 0);
            uint8_t sum = 0;
            for (size_t k = p.offset + 4; k < p.offset + 4 + p.header.length; ++k)
                sum = static_cast<uint8_t>(sum + view[k]);
            EXPECT_EQ(sum, p.header.checksum);
            last = p.offset + 1;
            return p.header.pageId == 0xFE01 ? ZELKOR_STATUS{7} : ZELKOR_STATUS{0}; // a visitor may stop the walk
        });
        EXPECT_LE(r.offset, std::max<size_t>(view.size(), 8));
        switch (r.end) {
        case pageengine::PageWalkEnd::Complete:
            EXPECT_EQ(r.status, 0u);
            ++complete;
            break;
        case pageengine::PageWalkEnd::BadPage:
            EXPECT_EQ(r.status, 1u);
            EXPECT_LT(r.offset, view.size());
            break;
        case pageengine::PageWalkEnd::Stopped:
            EXPECT_EQ(r.status, 7u);
            break;
        }

        // The front end's walk for each page id its readers take.
        for (uint32_t id : {PAGE_BOARD, PAGE_ENCLOSURE_ID, PAGE_MFG_VERSION, 0x1234u}) {
            const PageHit hit = findMfgPage(view.data(), view.size(), id);
            if (hit.result == PageWalk::Found) {
                const size_t length = le16(image, hit.offset + 4);
                EXPECT_LE(hit.offset + 4 + length, view.size()) << "a found page past the image";
                EXPECT_GE(length, mfgPageMinLength(id));
                EXPECT_EQ(le16(image, hit.offset + 6), id);
                ++found;
            } else if (hit.result == PageWalk::Invalid) {
                EXPECT_LE(hit.offset + 8, view.size());
            }
        }
    }
    EXPECT_GT(complete, 40);
    EXPECT_GT(found, 5);
}

} // namespace
