// The image checks of the three hardware modules over small image files, and the checksum and version of a
// region read through the model-backed fake interface.
#include "hal/zelkorHalCommon.h"
#include "tests/hal/halFixture.h"

#include <gmock/gmock.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t get32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File fileOf(const Bytes& bytes) {
    File f(std::tmpfile());
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), f.get());
    std::rewind(f.get());
    return f;
}

// A firmware image of the family's signature: size bytes of a counting pattern with the header fields set.
Bytes firmware(const std::array<uint32_t, 3>& signature, size_t size, uint32_t lengthWord = 0xFFFFFFFFu) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + 3);
    for (int i = 0; i < 3 && 16 <= size; ++i)
        put32(b, 4 + 4 * i, signature[i]);
    if (size >= 80)
        put32(b, 76, lengthWord);
    return b;
}

Bytes cut(Bytes b, size_t size) {
    b.resize(size);
    return b;
}

// Makes the sum of the first n words 0 by adjusting word n - 1.
void balance(Bytes& b, uint32_t n) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 1 < n; ++i)
        sum += get32(b, 4 * i);
    put32(b, 4 * (n - 1), 0u - sum);
}

constexpr std::array<uint32_t, 3> kOstrelWords{0x5EA1D0C3u, 0x5ED0A1C3u, 0x5ED0C3A1u};
constexpr std::array<uint32_t, 3> kQuenzaWords{0x7A3E91F4u, 0x7A91E3F4u, 0x7A91F4E3u};
constexpr std::array<uint32_t, 3> kPalxWords{0x5AEAA55Au, 0xA55AEAA5u, 0x5AA55AEAu};

class HalValidation : public HalTest {
  protected:
    void openFamily(const FamilyCase& family) {
        use(family);
        ASSERT_EQ(open(), 0u);
        gModel.calls.clear();
    }
    ZELKOR_STATUS fileCheck(const char* name, const Bytes& image) {
        File f = fileOf(image);
        return op<HAL_FILE_FUNCTION>(name)(hi_, f.get());
    }
    ZELKOR_REGION* row(uint32_t kind) {
        for (ZELKOR_REGION_LIST* n = handle_.regions; n != nullptr; n = n->next)
            if (n->region.kind == kind)
                return &n->region;
        return nullptr;
    }
};

TEST_F(HalValidation, FirmwareSignatureBelongsToTheFamily) {
    struct Case {
        const FamilyCase* family;
        Bytes image;
        ZELKOR_STATUS status;
        const char* line;
    };
    const Case cases[] = {
        {&kOstrel, firmware(kOstrelWords, 84), 0, "Validating the Firmware signature SUCCESS"},
        {&kOstrel, firmware(kQuenzaWords, 84), 1, "Validating the Firmware signature **** FAILED ****"},
        {&kQuenza, firmware(kQuenzaWords, 16), 0, "Validating the Firmware signature SUCCESS"},
        {&kQuenza, cut(firmware(kQuenzaWords, 16), 15), 1, "Image file ends before byte 16 **** FAILED ****"},
        {&kPalx, firmware(kPalxWords, 84), 0, "Firmware Signature validation Passed"},
        {&kPalx, firmware(kOstrelWords, 84), 1, "Unable to determine Firmware Signature **** FAILED ****"},
        {&kPalx, Bytes{}, 1, "Image file ends before byte 8 **** FAILED ****"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family->name) + " " + std::to_string(c.image.size()));
        openFamily(*c.family);
        EXPECT_EQ(fileCheck("zelkor_hal_fwExpanderValidation", c.image), c.status);
        EXPECT_EQ(close(), 0u);
        const std::vector<std::string> lines = log_->lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.ends_with(c.line); }));
        log_ = std::make_unique<LogCapture>();
    }
}

TEST_F(HalValidation, NullArgumentsAndStrangers) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza, &kPalx}) {
        SCOPED_TRACE(family->name);
        openFamily(*family);
        for (const char* name : {"zelkor_hal_fwExpanderValidation", "zelkor_hal_fwImageValidation",
                                 "zelkor_hal_mfgImageValidation", "zelkor_hal_mfgChecksumValidation"}) {
            auto check = op<HAL_FILE_FUNCTION>(name);
            EXPECT_EQ(check(hi_, nullptr), 5u) << name;
            ZELKOR_HAL_INSTANCE stranger{};
            File f = fileOf(firmware(kOstrelWords, 84));
            EXPECT_EQ(check(&stranger, f.get()), 4u) << name;
        }
        auto version = op<HAL_GET_FW_VERSION_FUNCTION>("zelkor_hal_getFwVersion");
        File f = fileOf(firmware(kOstrelWords, 84));
        EXPECT_EQ(version(hi_, f.get(), nullptr), 5u);
        char text[16];
        EXPECT_EQ(version(hi_, nullptr, text), 5u);
        auto regionVersion = op<HAL_GET_REGION_VERSION_FUNCTION>("zelkor_hal_getRegionVersion");
        EXPECT_EQ(regionVersion(hi_, nullptr, text), 5u);
        EXPECT_EQ(regionVersion(hi_, row(ZELKOR_REGION_FLASH), nullptr), 5u);
        auto regionChecksum = op<HAL_GET_REGION_CHECKSUM_FUNCTION>("zelkor_hal_getRegionChecksum");
        EXPECT_EQ(regionChecksum(hi_, f.get(), nullptr), 5u);
        EXPECT_THAT(gModel.calls, testing::IsEmpty());
    }
}

// A null instance: 5 from every check, except that family Palx answers 4 from its signature check and from
// the version of an image file.
TEST_F(HalValidation, NullInstanceStatusOfEachCheck) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza, &kPalx}) {
        SCOPED_TRACE(family->name);
        openFamily(*family);
        const bool palx = family == &kPalx;
        const ZELKOR_STATUS signatureAndVersion = palx ? 4u : 5u;
        File f = fileOf(firmware(kOstrelWords, 84));
        char text[16] = {};
        uint32_t words = 0;
        ZELKOR_REGION* flash = row(ZELKOR_REGION_FLASH);
        struct Check {
            const char* name;
            ZELKOR_STATUS status;
        };
        std::vector<Check> checks = {
            {"zelkor_hal_fwExpanderValidation", signatureAndVersion},
            {"zelkor_hal_fwImageValidation", 5},
            {"zelkor_hal_mfgImageValidation", 5},
            {"zelkor_hal_mfgChecksumValidation", 5},
        };
        if (palx)
            checks.push_back({"zelkor_hal_bootRecordValidation", 5});
        for (const Check& c : checks)
            EXPECT_EQ(op<HAL_FILE_FUNCTION>(c.name)(nullptr, f.get()), c.status) << c.name;
        EXPECT_EQ(op<HAL_FW_CHECKSUM_FUNCTION>("zelkor_hal_fwChecksumValidation")(nullptr, f.get(), &words),
                  5u);
        EXPECT_EQ(op<HAL_GET_FW_VERSION_FUNCTION>("zelkor_hal_getFwVersion")(nullptr, f.get(), text),
                  signatureAndVersion);
        EXPECT_EQ(
            op<HAL_GET_REGION_CHECKSUM_FUNCTION>("zelkor_hal_getRegionChecksum")(nullptr, f.get(), flash),
            5u);
        EXPECT_EQ(op<HAL_GET_REGION_VERSION_FUNCTION>("zelkor_hal_getRegionVersion")(nullptr, flash, text),
                  5u);
        EXPECT_THAT(gModel.calls, testing::IsEmpty());
        EXPECT_EQ(close(), 0u);
    }
}

TEST_F(HalValidation, FirmwareWordSumSpansTheFamilysLength) {
    constexpr uint32_t kUntouched = 0xAAAA5555u;
    struct Case {
        const FamilyCase* family;
        size_t size;
        uint32_t lengthWord;
        uint32_t balancedWords; // the sum of this many words is 0 (the next word is not)
        ZELKOR_STATUS status;
        uint32_t wordsOut;
    };
    const Case cases[] = {
        {&kOstrel, 0x200, 0x100, 0x3C, 0, 0x3C},            // the length less the 16-byte trailer
        {&kOstrel, 0x200, 0x100, 0x40, 1, 0x3C},            // the trailer is not summed
        {&kOstrel, 0x200, 0xFFFFFFFF, 0x80, 0, kUntouched}, // no length: the whole file
        {&kOstrel, 0x200, 8, 0x80, 1, kUntouched},          // below the trailer
        {&kOstrel, 0x100, 0x104, 0x40, 1, kUntouched},      // past the file
        {&kOstrel, 0x100, 0x100, 0x3C, 0, 0x3C},            // exactly the file
        {&kQuenza, 0x200, 0x100, 0x40, 0, 0x40},            // file longer than the length
        {&kQuenza, 0xFC, 0x100, 0x3F, 0, kUntouched},       // file shorter: its own size
        {&kQuenza, 0x200, 0x100, 0x3F, 1, 0x40},
        {&kPalx, 0x102, 0x10, 0x40, 0, kUntouched}, // whole words of the file, length ignored
        {&kPalx, 0x100, 0x10, 0x3F, 1, kUntouched},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family->name) + " size " + std::to_string(c.size) + " words " +
                     std::to_string(c.balancedWords));
        openFamily(*c.family);
        Bytes image = firmware(kOstrelWords, c.size, c.lengthWord);
        balance(image, c.balancedWords);
        if (c.balancedWords * 4 + 4 <= c.size && get32(image, c.balancedWords * 4) == 0)
            image[c.balancedWords * 4] = 1;
        File f = fileOf(image);
        uint32_t words = kUntouched;
        EXPECT_EQ(op<HAL_FW_CHECKSUM_FUNCTION>("zelkor_hal_fwChecksumValidation")(hi_, f.get(), &words),
                  c.status);
        EXPECT_EQ(words, c.wordsOut);
    }
}

TEST_F(HalValidation, ChecksumOfAnImageTooShortForItsLengthWordFails) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza}) {
        openFamily(*family);
        File f = fileOf(Bytes(79, 0));
        uint32_t words = 7;
        EXPECT_EQ(op<HAL_FW_CHECKSUM_FUNCTION>("zelkor_hal_fwChecksumValidation")(hi_, f.get(), &words), 1u);
        EXPECT_EQ(words, 7u);
    }
}

TEST_F(HalValidation, FirmwareVersionOfTheImage) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza, &kPalx}) {
        SCOPED_TRACE(family->name);
        openFamily(*family);
        Bytes image(40, 0);
        put32(image, 36, 0x020A6407); // bytes 36..39: 07 64 0A 02
        char text[16] = "unchanged";
        auto version = op<HAL_GET_FW_VERSION_FUNCTION>("zelkor_hal_getFwVersion");
        File f = fileOf(image);
        EXPECT_EQ(version(hi_, f.get(), text), 0u);
        EXPECT_STREQ(text, "02.10.100.07");
        File shortFile = fileOf(Bytes(39, 0));
        std::strcpy(text, "unchanged");
        EXPECT_EQ(version(hi_, shortFile.get(), text), 1u);
        EXPECT_STREQ(text, "unchanged");
    }
}

TEST_F(HalValidation, ImageIdentityAgainstTheFlashHeader) {
    struct Case {
        const FamilyCase* family;
        bool blankFlash;
        uint32_t fileIdentity;
        uint16_t fileSecond; // Ostrel, Quenza: u16 at 44; Palx: u16 at 32
        ZELKOR_STATUS status;
    };
    const Case cases[] = {
        {&kOstrel, false, 0xBEEF1234, 0x55, 0}, // only the low 16 bits of the identity count
        {&kOstrel, false, 0x1235, 0x55, 1},     {&kQuenza, false, 0x1234, 0x56, 1},
        {&kQuenza, false, 0x00001234, 0x55, 0}, {&kQuenza, true, 0x1234, 0x55, 1},
        {&kPalx, false, 0xABCD1234, 0x77, 0},   {&kPalx, false, 0x1234, 0x77, 1}, // the whole word counts
        {&kPalx, false, 0xABCD1234, 0x78, 1},   {&kPalx, true, 0x1, 0x2, 0},      // blank flash passes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family->name) + " " + std::to_string(c.fileIdentity));
        openFamily(*c.family);
        if (!c.blankFlash) {
            zsim::FirmwareHeader header;
            header.signature = gModel.expander->traits().signature;
            header.identity = c.family == &kPalx ? 0xABCD1234 : 0x77771234;
            header.secondIdentity = 0x55;
            gModel.expander->writeFirmwareHeader(header);
            gModel.expander->flash().set(32, 0x77);
            gModel.expander->flash().set(33, 0);
        }
        Bytes image(84, 0);
        put32(image, 40, c.fileIdentity);
        const size_t second = c.family == &kPalx ? 32 : 44;
        image[second] = static_cast<uint8_t>(c.fileSecond);
        image[second + 1] = static_cast<uint8_t>(c.fileSecond >> 8);
        EXPECT_EQ(fileCheck("zelkor_hal_fwImageValidation", image), c.status);
        ASSERT_EQ(gModel.calls.size(), 1u);
        EXPECT_EQ(gModel.calls[0].region.kind, ZELKOR_REGION_FLASH);
        EXPECT_EQ(gModel.calls[0].offset, 0u);
        EXPECT_EQ(gModel.calls[0].size, c.family == &kPalx ? 136u : 84u);
    }
}

TEST_F(HalValidation, ImageIdentityNeedsTheFieldsAndAReadableFlash) {
    openFamily(kOstrel);
    EXPECT_EQ(fileCheck("zelkor_hal_fwImageValidation", Bytes(45, 0)), 1u);
    EXPECT_THAT(gModel.calls, testing::IsEmpty()) << "nothing is read for a file without the fields";
    gModel.failures.push_back({"upload", 0u, 25});
    EXPECT_EQ(fileCheck("zelkor_hal_fwImageValidation", Bytes(46, 0)), 25u);
}

// A manufacturing image: the region header, then pages of (id, data) with their sums.
Bytes mfgImage(const std::vector<std::pair<uint16_t, Bytes>>& pages, bool validByte = true) {
    Bytes b = {0xF9, 0x04, static_cast<uint8_t>(validByte ? 0x10 : 0x11), 0x08, 0xFF, 0xFF, 0x00, 0x01};
    for (const auto& [id, data] : pages) {
        const uint16_t length = static_cast<uint16_t>(data.size() + 4);
        Bytes record = {0xF9,
                        0,
                        0xFF,
                        0xFF,
                        static_cast<uint8_t>(length),
                        static_cast<uint8_t>(length >> 8),
                        static_cast<uint8_t>(id),
                        static_cast<uint8_t>(id >> 8)};
        record.insert(record.end(), data.begin(), data.end());
        uint8_t sum = 0;
        for (size_t i = 4; i < record.size(); ++i)
            sum = static_cast<uint8_t>(sum + record[i]);
        record[1] = sum;
        b.insert(b.end(), record.begin(), record.end());
    }
    return b;
}

TEST_F(HalValidation, ManufacturingImageByteAndPageSums) {
    const Bytes good = mfgImage({{0xFF01, {1, 2, 3, 4}}, {0xFF10, {9, 9}}});
    Bytes badSum = good;
    badSum[9] ^= 1;
    const Bytes endMark = mfgImage({{0xFF01, {1, 2, 3, 4}}, {0xFFFF, {}}});
    Bytes longRecord = good;
    longRecord[8 + 4] = 0x40; // first page claims more bytes than the file holds
    Bytes cutHeader = good;
    cutHeader.insert(cutHeader.end(), {0xF9, 0x00, 0xFF});
    struct Case {
        const char* what;
        const Bytes* image;
        ZELKOR_STATUS ostrel;
        ZELKOR_STATUS quenza;
    };
    const Case cases[] = {
        {"good", &good, 0, 0},
        {"bad sum", &badSum, 1, 1},
        {"page id 0xFFFF", &endMark, 0, 1},
        {"page past the file", &longRecord, 1, 1},
        {"record header cut", &cutHeader, 1, 1},
    };
    for (const Case& c : cases) {
        for (const FamilyCase* family : {&kOstrel, &kQuenza, &kPalx}) {
            SCOPED_TRACE(std::string(c.what) + " " + family->name);
            openFamily(*family);
            const ZELKOR_STATUS expected = family == &kPalx ? 0 : family == &kOstrel ? c.ostrel : c.quenza;
            EXPECT_EQ(fileCheck("zelkor_hal_mfgChecksumValidation", *c.image), expected);
            EXPECT_EQ(fileCheck("zelkor_hal_mfgImageValidation", *c.image), 0u);
        }
    }
    for (const FamilyCase* family : {&kOstrel, &kQuenza, &kPalx}) {
        openFamily(*family);
        const ZELKOR_STATUS expected = family == &kPalx ? 0 : 1;
        EXPECT_EQ(fileCheck("zelkor_hal_mfgImageValidation", mfgImage({}, false)), expected);
        EXPECT_EQ(fileCheck("zelkor_hal_mfgImageValidation", Bytes{0xF9, 0x04}), expected);
    }
}

// Only the file's size is used: that many bytes (rounded up to whole words) of the region are summed.
TEST_F(HalValidation, RegionChecksumOverTheFileSize) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza, &kPalx}) {
        SCOPED_TRACE(family->name);
        openFamily(*family);
        const Bytes flash = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9};
        gModel.expander->flash().write(0, flash);
        ZELKOR_REGION* whole = row(ZELKOR_REGION_FLASH);
        auto checksum = op<HAL_GET_REGION_CHECKSUM_FUNCTION>("zelkor_hal_getRegionChecksum");
        File five = fileOf(Bytes(5, 0xEE));
        EXPECT_EQ(checksum(hi_, five.get(), whole), 0u);
        ASSERT_EQ(gModel.calls.size(), 1u);
        EXPECT_EQ(gModel.calls[0].size, 8u);
        EXPECT_EQ(gModel.calls[0].region.regionId, whole->regionId);
        File nine = fileOf(Bytes(9, 0));
        EXPECT_EQ(checksum(hi_, nine.get(), whole), 1u);
        // An empty file names no bytes: their sum is 0, and nothing is read.
        File empty = fileOf({});
        EXPECT_EQ(checksum(hi_, empty.get(), whole), 0u);
        EXPECT_EQ(gModel.calls.size(), 2u) << "an empty file reads nothing";
        // The count is filled in; the offset is literal text.
        const std::string module = family == &kOstrel   ? "zelkor_hal_OSTREL"
                                   : family == &kQuenza ? "zelkor_hal_GEN3"
                                                        : "zelkor_hal_PALX";
        EXPECT_TRUE(containsLine(log_->lines(), "INFO : " + module +
                                                    "::zelkor_hal_getRegionChecksum : Reading 8 bytes at "
                                                    "0x00000000 offset"));
        log_ = std::make_unique<LogCapture>();
    }
}

TEST_F(HalValidation, RegionVersionFromItsHeader) {
    struct Case {
        const FamilyCase* family;
        const char* flash; // "family", "blank" or "partial"
        ZELKOR_STATUS status;
        const char* version;
    };
    const Case cases[] = {
        {&kOstrel, "family", 0, "02.10.100.07"}, {&kQuenza, "family", 0, "02.10.100.07"},
        {&kOstrel, "blank", 42, "unchanged"},    {&kQuenza, "partial", 32, "unchanged"},
        {&kPalx, "partial", 0, "02.10.100.07"}, // Palx looks at no signature
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family->name) + " " + c.flash);
        openFamily(*c.family);
        if (std::string(c.flash) != "blank") {
            zsim::FirmwareHeader header;
            header.signature = gModel.expander->traits().signature;
            if (std::string(c.flash) == "partial")
                header.signature[2] = 0xFFFFFFFF;
            header.version = 0x020A6407;
            gModel.expander->writeFirmwareHeader(header);
        }
        char text[16] = "unchanged";
        ZELKOR_REGION* whole = row(ZELKOR_REGION_FLASH);
        EXPECT_EQ(op<HAL_GET_REGION_VERSION_FUNCTION>("zelkor_hal_getRegionVersion")(hi_, whole, text),
                  c.status);
        EXPECT_STREQ(text, c.version);
        ASSERT_EQ(gModel.calls.size(), 1u);
        EXPECT_EQ(gModel.calls[0].size, c.family == &kPalx ? 136u : 84u);
    }
}

TEST_F(HalValidation, PalxBootRecordSignature) {
    openFamily(kPalx);
    EXPECT_EQ(fileCheck("zelkor_hal_bootRecordValidation", Bytes{'P', 'a', 'l', 'x', 0, 1}), 0u);
    EXPECT_EQ(fileCheck("zelkor_hal_bootRecordValidation", Bytes{'P', 'a', 'l', 'X'}), 1u);
    EXPECT_EQ(fileCheck("zelkor_hal_bootRecordValidation", Bytes{'P', 'a', 'l'}), 1u);
}

} // namespace
