// Image checks, versions and the read-back after a download, against the real library and a simulated Quenza
// expander (in-band), with image files built from the header layout.
#include "tests/frontend_periphery/testBytes.h"
#include "tests/frontend_periphery/frontSimFixture.h"

#include "frontend/images.h"
#include "frontend/messages.h"
#include "frontend/regions.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint64_t kQuenzaAddress = 0x5000CCAB0400B7F0;

const std::string kQuenza = "device sg0 quenza\n"
                            "    sas-address 5000CCAB:0400B7F0\n"
                            "    product 0x233\n"
                            "    firmware-version 2.7.0.1\n"
                            "    image-size 0x100\n"
                            "    partition 0 0x000000 0x200000\n"
                            "    partition 3 0x200000 0x010000\n"
                            "    partition 7 0x210000 0x001000\n"
                            "    partition 9 0x211000 0x004000\n";

uint32_t wordSum(const std::vector<uint8_t>& b) {
    uint32_t sum = 0;
    for (size_t at = 0; at + 4 <= b.size(); at += 4)
        sum += static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
    return sum;
}

// A firmware image of the family with the signature words given, version 1.2.3.4, words summing to 0.
std::vector<uint8_t> fwImage(uint32_t first = 0x7A3E91F4, size_t size = 256) {
    std::vector<uint8_t> b(size, 0);
    putLe32(b, 4, first);
    putLe32(b, 8, 0x7A91E3F4);
    putLe32(b, 12, 0x7A91F4E3);
    putLe32(b, 36, 0x01020304);
    putLe32(b, 76, 0xFFFFFFFF);
    for (size_t i = 84; i < size; ++i)
        b[i] = static_cast<uint8_t>(i);
    putLe32(b, size - 4, 0);
    putLe32(b, size - 4, 0u - wordSum(b));
    return b;
}

// Output without the progress dots, whose number depends on the library's reads.
std::string withoutDots(std::string text) {
    std::erase(text, '.');
    return text;
}

class ImageFile {
  public:
    explicit ImageFile(const std::vector<uint8_t>& bytes) : file_(std::tmpfile()) {
        std::fwrite(bytes.data(), 1, bytes.size(), file_);
        std::rewind(file_);
    }
    ~ImageFile() { std::fclose(file_); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    FILE* get() const { return file_; }

  private:
    FILE* file_;
};

class FrontImages : public FrontSimTest {
  protected:
    void SetUp() override {
        FrontSimTest::SetUp();
        displayCount = 0;
        inputPath_ = testing::TempDir() + std::string("front_images_input_") + std::to_string(getpid());
    }
    void TearDown() override {
        ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
        std::remove(inputPath_.c_str());
        FrontSimTest::TearDown();
    }
    void feed(const std::string& input) {
        std::ofstream(inputPath_, std::ios::binary | std::ios::trunc) << input;
        ASSERT_NE(std::freopen(inputPath_.c_str(), "r", stdin), nullptr);
    }
    ZELKOR_REGION* partition(uint32_t index) {
        ZELKOR_REGION_LIST* node = findRegion(2, index);
        return node != nullptr ? &node->region : nullptr;
    }
    std::string inputPath_;
};

const std::string kOwnHead = "   Expander Validation: Passed\n"
                             "              Checksum: Passed\n"
                             "Target Firmware Region: 00\n"
                             "       Current Version: 02.07.00.01\n"
                             "   Replacement Version: 01.02.03.04\n"
                             "      Image Validation: Passed\n\n";
const std::string kQuestion = "Are you sure to download file to expander?(y/n):";
const std::string kWarning = "Warning: Pre-Validation of image has failed.\n\n";

TEST_F(FrontImages, FirmwareFileChecksAndTheQuestion) {
    openInband(kQuenza, kQuenzaAddress);
    std::vector<uint8_t> badSum = fwImage();
    badSum[100] ^= 1;
    struct Case {
        const char* label;
        std::vector<uint8_t> image;
        uint16_t options;
        std::string input;
        uint32_t status;
        std::string out;
    };
    const std::string otherHead = "   Expander Validation: Failed\n"
                                  "              Checksum: Failed\n"
                                  "Target Firmware Region: 00\n"
                                  "       Current Version: 02.07.00.01\n"
                                  "   Replacement Version: 01.02.03.04\n"
                                  "      Image Validation: Passed\n\n";
    const std::string badSumHead = "   Expander Validation: Passed\n"
                                   "              Checksum: Failed\n"
                                   "Target Firmware Region: 00\n"
                                   "       Current Version: 02.07.00.01\n"
                                   "   Replacement Version: 01.02.03.04\n"
                                   "      Image Validation: Passed\n\n";
    const std::vector<Case> cases{
        {"own family, -y", fwImage(), CL_OPT_YES, "", 0, kOwnHead + "Pre-Validation of image is successful.\n\n"},
        {"own family, asked, yes", fwImage(), 0, "y\n", 0,
         kOwnHead + "Pre-Validation of image is successful.\n\n" + kQuestion + "\n"},
        {"own family, declined", fwImage(), 0, "n\n", MORV_STATUS_DECLINED,
         kOwnHead + "Pre-Validation of image is successful.\n\n" + kQuestion + "\n" +
             "Download operation aborted by user\n"},
        {"other family, asked", fwImage(0x11111111), 0, "y\n", 0, otherHead + kWarning + kQuestion + "\n"},
        {"other family, -y", fwImage(0x11111111), CL_OPT_YES, "", 0, otherHead + kWarning},
        {"other family, -f", fwImage(0x11111111), CL_OPT_FORCE, "", 0, otherHead},
        {"bad sum, declined", badSum, 0, "", MORV_STATUS_DECLINED,
         badSumHead + kWarning + kQuestion + "\nDownload operation aborted by user\n"},
        {"file too short for a version", std::vector<uint8_t>(20, 0), CL_OPT_FORCE, "", 1,
         "   Expander Validation: Failed\n              Checksum: Failed\nTarget Firmware Region: 00\n"
         "       Current Version: 02.07.00.01\n   Replacement Version:                \n"
         "      Image Validation: Failed\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ImageFile file(c.image);
        gClParser.optionFlags = c.options;
        feed(c.input);
        uint32_t words = 0;
        uint32_t status = 0xDEAD;
        const std::string out = run([&] { status = validateFwFile(file.get(), 2, 0, &words); });
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(out, c.out);
        // Checks read the flash at most; nothing is written.
        for (const std::string& cdb : commands())
            EXPECT_EQ(cdb.substr(0, 2), "3C");
    }
}

TEST_F(FrontImages, BlankFlashShowsAllOnesAsItsVersion) {
    // Partition 1 (table entry 3) is erased.
    openInband(kQuenza, kQuenzaAddress);
    ImageFile file(fwImage());
    gClParser.optionFlags = CL_OPT_YES;
    uint32_t words = 0;
    const std::string out = run([&] { EXPECT_EQ(validateFwFile(file.get(), 2, 1, &words), 0u); });
    EXPECT_NE(out.find("       Current Version: 255.255.255.255\n"), std::string::npos) << out;
}

TEST_F(FrontImages, RegionVersions) {
    // The flash header summed to zero over its image size, so that the firmware partition holds an image.
    openInband(kQuenza, kQuenzaAddress);
    std::vector<uint8_t> head(0x100);
    ASSERT_EQ(zelkor_readFlashRegionData(gInstance.handle, partition(0), 0, 0x100, head.data()), 0u);
    putLe32(head, 0xFC, 0);
    const uint32_t fix = 0u - wordSum(head);
    cleanQuillet();
    ASSERT_EQ(zelkor_close(gInstance.handle), 0u);
    gInstance.handle = nullptr;
    gPtrExpList = nullptr;

    // The MFG Version Info page in partition 1 (table entry 3).
    std::vector<uint8_t> page(56, 0);
    page[0] = 7, page[1] = 12, page[4] = 1, page[5] = 2, page[6] = 3, page[7] = 4, page[8] = 5, page[9] = 6;
    page[10] = 8, page[11] = 9;
    std::memcpy(page.data() + 16, "Kestan", 6);
    std::memcpy(page.data() + 36, "Vellor", 6);
    std::vector<uint8_t> mfg{0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01, 0xF9, 0x00, 0xFF, 0xFF, 60, 0, 0x0F, 0xFF};
    mfg.insert(mfg.end(), page.begin(), page.end());
    uint8_t sum = 0;
    for (size_t i = 12; i < mfg.size(); ++i)
        sum = static_cast<uint8_t>(sum + mfg[i]);
    mfg[9] = sum;
    std::vector<uint8_t> fixBytes(4);
    putLe32(fixBytes, 0, fix);
    openInband(kQuenza + std::string("    flash 0xFC ") + hex(fixBytes) + std::string("\n    flash 0x200000 ") + hex(mfg) + "\n",
               kQuenzaAddress);

    uint32_t status = 1;
    std::string out = run([&] { status = getVersion(2, 0); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, "Firmware Region Version: 02.07.00.01 ");

    out = run([&] { status = getVersion(2, 1); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(withoutDots(out), "Reading the MFG Version Info page\n\tProduct Id            :\t07\n"
                   "\tPlatform Id           :\t12\n\tFW Version            :\t01020304\n"
                   "\tMFG Version           :\t0506\n\tPlatform Version      :\t0809\n"
                   "\tProduct Name          :\tKestan\n\tPlatform Name         :\tVellor\n");

    // Entry id 7 holds neither kind of image; nothing is read.
    out = run([&] { status = getVersion(2, 2); });
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(commands().empty());

    // Entry id 9: no MFG region header there.
    out = run([&] { status = getVersion(2, 3); });
    EXPECT_EQ(status, 1u);

    // A region that is not there.
    out = run([&] { status = getVersion(2, 8); });
    EXPECT_EQ(status, 1u);
}

TEST_F(FrontImages, VersionPageMissingOrBroken) {
    struct Case {
        const char* label;
        std::string flash;
        uint32_t status;
        std::string out;
    };
    const std::vector<Case> cases{
        {"end before the page", "F904100" "8FFFF0001" "F900FFFF00000000", 1,
         "MFG image in the specified flash region does not have MFG Version Info Page\n Unable to retrieve "
         "version\n"},
        {"page too short", "F904100" "8FFFF0001" "F9xxFFFF08000FFF0000000000000000", 37,
         "Invalid MFG Version Info Page (0xFF0F)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string flash = c.flash;
        // The short page: length 8, id 0xFF0F, four data bytes; its sum fills the xx.
        if (const size_t at = flash.find("xx"); at != std::string::npos)
            flash.replace(at, 2, "17");
        cleanQuillet();
        if (gInstance.handle != nullptr)
            zelkor_close(gInstance.handle);
        gInstance.handle = nullptr;
        gPtrExpList = nullptr;
        openInband(kQuenza + "    flash 0x200000 " + flash + "\n", kQuenzaAddress);
        uint32_t status = 0;
        const std::string out = run([&] { status = displayMfgImageVersion(partition(1)); });
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(withoutDots(out), c.out);
    }
}

TEST_F(FrontImages, SizeWordPastTheRegionIsNoImage) {
    openInband(kQuenza + "    image-size 0x300000\n", kQuenzaAddress);
    uint32_t valid = 1;
    run([&] { valid = isValidFWImgPresent(partition(0)); });
    EXPECT_EQ(valid, 0u);
    EXPECT_EQ(commands().size(), 1u) << "only the header is read";
}

TEST_F(FrontImages, PostValidationReadsBackAndComparesFromTheFilesStart) {
    openInband(kQuenza, kQuenzaAddress);
    const std::vector<uint8_t> image = fwImage();
    ImageFile file(image);
    // A library check first: it leaves the file at its end.
    gClParser.optionFlags = CL_OPT_YES;
    uint32_t words = 0;
    run([&] { validateFwFile(file.get(), 2, 2, &words); });
    ASSERT_EQ(run([&] { EXPECT_EQ(downloadRegion(0, 2, 2, file.get()), 0u); }), "Downloading File.");

    char message[64] = {};
    uint32_t status = 0;
    std::string out = run([&] { status = postValidationOfImage(0, file.get(), 2, 2, nullptr, message, 0); });
    EXPECT_EQ(status, 1u) << message;
    EXPECT_EQ(withoutDots(out), "Post-validating");
    out = run([&] { status = postValidationOfImage(3, file.get(), 2, 2, nullptr, message, 64); });
    EXPECT_EQ(status, 1u) << message;

    // The expander rewrote bytes 28 to 32: mode 0 still verifies, mode 1 does not.
    std::vector<uint8_t> rewritten(image.begin() + 28, image.begin() + 33);
    for (uint8_t& b : rewritten)
        b ^= 0x5A;
    ZELKOR_REGION* region = partition(2);
    ASSERT_NE(region, nullptr);
    std::vector<uint8_t> readBack(image);
    std::copy(rewritten.begin(), rewritten.end(), readBack.begin() + 28);
    ImageFile changed(readBack);
    ASSERT_EQ(run([&] { EXPECT_EQ(downloadRegion(0, 2, 2, changed.get()), 0u); }), "Downloading File.");
    out = run([&] { status = postValidationOfImage(0, file.get(), 2, 2, nullptr, message, 0); });
    EXPECT_EQ(status, 1u) << message;
    out = run([&] { status = postValidationOfImage(1, file.get(), 2, 2, nullptr, message, 0); });
    EXPECT_EQ(status, 0u);
    EXPECT_STREQ(message, "(Data Comparision failed).\n");

    // Mode 3 compares at most 8192 bytes; a longer length is refused before any read; other modes are not
    // handled; a length past the region is refused.
    out = run([&] { status = postValidationOfImage(3, file.get(), 2, 3, nullptr, message, 2049); });
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(commands().empty());
    out = run([&] { status = postValidationOfImage(2, file.get(), 2, 2, nullptr, message, 1); });
    EXPECT_EQ(status, POST_VALIDATION_MODE_NOT_HANDLED);
    out = run([&] { status = postValidationOfImage(1, file.get(), 2, 2, nullptr, message, 0x4001); });
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(commands().empty());
}

} // namespace
