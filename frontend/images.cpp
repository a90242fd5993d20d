// Image checks before a download, the read-back after it, and the versions a region holds.
#include "frontend/images.h"

#include "core/firmwareImage.h"
#include "frontend/handlerSupport.h"
#include "frontend/mfgPages.h"
#include "frontend/regions.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

using namespace morv;

namespace {

constexpr size_t kVersionText = 60;
constexpr uint32_t kKindBackup = 5;
constexpr uint32_t kKindFwPartition = 4;
constexpr uint32_t kStatusFailure = 1;
constexpr uint32_t kStatusNoMemory = 6;
constexpr uint32_t kStatusInvalidPage = 37;
constexpr uint32_t kStatusBlank = 42;
constexpr uint32_t kStatusNotFirmware = 32;
constexpr const char* kPassed = "Passed";
constexpr const char* kFailed = "Failed";
constexpr const char* kDownloadQuestion = "Are you sure to download file to expander?(y/n):";
constexpr const char* kDownloadAborted = "Download operation aborted by user\n";

// A result line: shown, and logged at level ERROR when it failed.
void resultLine(const char* function, const char* format, const char* result) {
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, format, result);
    if (result == kFailed)
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, function, MSG_DEST_LOG, format, result);
}

uint32_t askToDownload() {
    if (optionGiven(CL_OPT_FORCE) || optionGiven(CL_OPT_YES))
        return 0;
    return getConfirmation(kDownloadQuestion, kDownloadAborted, 1);
}

uint32_t warnPreValidationFailed(const char* function) {
    logOnly(function, ZELKOR_LOG_WARN, "Pre-Validation of image has failed");
    showAlways("Warning: Pre-Validation of image has failed.\n\n");
    if (optionGiven(CL_OPT_YES))
        return 0;
    return getConfirmation(kDownloadQuestion, kDownloadAborted, 1);
}

// A version text buffer: one byte more than the library may fill, so that it always ends.
using VersionText = std::array<char, kVersionText + 1>;

std::string versionOf(const VersionText& text) {
    return std::string(text.data(), strnlen(text.data(), kVersionText));
}

bool allocate(std::vector<uint8_t>& buffer, size_t size, const char* function) {
    try {
        buffer.assign(size, 0);
        return true;
    } catch (const std::bad_alloc&) {
        reportError(function, "Failed allocating memory.\n");
        return false;
    }
}

// Characters of a device text field up to its first zero byte.
std::string deviceText(const uint8_t* field, size_t size) {
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, size));
}

} // namespace

bool hasFwSignature(const uint8_t* header) {
    return fwSignatureIs(fwHeaderFromBytes(header, sizeof(ZELKOR_FW_HEADER)), FW_SIGNATURE_QUENZA);
}

uint32_t sumOfWords(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    for (size_t at = 0; size - at >= 4; at += 4)
        sum += readLe32(data + at);
    return sum;
}

bool imageBytesMatch(const uint8_t* file, const uint8_t* data, size_t length, uint32_t compareMode,
                     uint32_t chipType) {
    size_t skipFirst = 1, skipLast = 0; // an empty range
    if (compareMode == 0 && chipType >= ZELKOR_CHIP_OSTREL && chipType <= ZELKOR_CHIP_QUENZA_DAX) {
        skipFirst = 28;
        skipLast = 32;
    } else if (compareMode == 0 && chipType == ZELKOR_CHIP_PALX) {
        skipFirst = 38;
        skipLast = 42;
    }
    for (size_t i = 0; i < length; ++i)
        if ((i < skipFirst || i > skipLast) && file[i] != data[i])
            return false;
    return true;
}

std::string mfgVersionLines(const uint8_t* d) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "\n\tProduct Id            :\t%02d\n\tPlatform Id           :\t%02d\n"
                  "\tFW Version            :\t%02d.%02d.%02d.%02d\n\tMFG Version           :\t%02d.%02d\n"
                  "\tPlatform Version      :\t%02d.%02d\n\tProduct Name          :\t",
                  d[0], d[1], d[4], d[5], d[6], d[7], d[8], d[9], d[10], d[11]);
    return text + deviceText(d + 16, 20) + "\n\tPlatform Name         :\t" + deviceText(d + 36, 20) + "\n";
}

uint32_t validateFwFile(FILE* image, uint32_t kind, uint32_t index, void* checksum) {
    const char* fn = "validateFwFile";
    FunctionTrace functionTrace(fn);
    bool preValidated = false;
    if (zelkor_fwExpanderValidation(gInstance.handle, image) != 0) {
        resultLine(fn, "   Expander Validation: %s\n", kFailed);
        resultLine(fn, "              Checksum: %s\n", kFailed);
    } else {
        resultLine(fn, "   Expander Validation: %s\n", kPassed);
        preValidated = zelkor_fwChecksumValidation(gInstance.handle, image, static_cast<uint32_t*>(checksum)) == 0;
        resultLine(fn, "              Checksum: %s\n", preValidated ? kPassed : kFailed);
    }
    if (kind == kKindBackup) {
        showAlways("Target Firmware Region: Firmware backup region\n");
    } else {
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "Target Firmware Region: %02d\n",
                   index);
    }
    ZELKOR_REGION_LIST* node = findRegion(kind, index);
    if (node == nullptr)
        return kStatusFailure;
    VersionText version{};
    const uint32_t current = zelkor_getRegionVersion(gInstance.handle, &node->region, version.data());
    if (current == kStatusBlank)
        std::snprintf(version.data(), version.size(), "%s", "255.255.255.255");
    else if (current == kStatusNotFirmware)
        std::snprintf(version.data(), version.size(), "%s", "Not a valid firmware image for this region");
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "       Current Version: %s\n",
               versionOf(version).c_str());

    version.fill('\0');
    std::memset(version.data(), ' ', 15);
    char* replacement = version.data();
    const uint32_t status = zelkor_getFwVersion(gInstance.handle, image, &replacement);
    version[kVersionText] = '\0';
    if (status == 0) {
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "   Replacement Version: %s\n",
                   versionOf(version).c_str());
        resultLine(fn, "      Image Validation: %s\n", kPassed);
        showAlways("\n");
        if (preValidated) {
            showAlways("Pre-Validation of image is successful.\n\n");
            return askToDownload();
        }
    } else {
        version.fill('\0');
        std::memset(version.data(), ' ', 15);
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "   Replacement Version: %s\n",
                   versionOf(version).c_str());
        resultLine(fn, "      Image Validation: %s\n", kFailed);
        // An image whose version cannot be read is not downloaded on a passed pre-validation's word.
        if (preValidated)
            return status;
    }
    if (optionGiven(CL_OPT_FORCE))
        return status;
    return warnPreValidationFailed(fn);
}

uint32_t validateMfgFile(FILE* image, uint8_t* valid) {
    const char* fn = "validateMfgFile";
    FunctionTrace functionTrace(fn);
    uint8_t result = 1;
    if (zelkor_mfgImageValidation(gInstance.handle, image) != 0) {
        resultLine(fn, "      Image Validation: %s\n", kFailed);
        result = 0;
    } else {
        resultLine(fn, "      Image Validation: %s\n", kPassed);
    }
    const uint32_t status = zelkor_mfgChecksumValidation(gInstance.handle, image);
    if (status != 0) {
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "              Checksum: %s\n\n",
                   kFailed);
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, fn, MSG_DEST_LOG, "              Checksum: %s\n", kFailed);
        result = 0;
    } else {
        resultLine(fn, "              Checksum: %s\n", kPassed);
    }
    if (valid != nullptr)
        *valid = result;
    return status;
}

uint32_t validateBootRecordFile(FILE* image) {
    const char* fn = "validateBootRecordFile";
    FunctionTrace functionTrace(fn);
    const uint32_t status = zelkor_bootRecordValidation(gInstance.handle, image);
    if (status != 0) {
        if (optionGiven(CL_OPT_FORCE))
            return status;
        return warnPreValidationFailed(fn);
    }
    showAlways("Pre-Validation of image is successful.\n\n");
    return askToDownload();
}

uint32_t isValidFWImgPresent(ZELKOR_REGION* region) {
    const char* fn = "isValidFWImgPresent";
    FunctionTrace functionTrace(fn);
    if (region == nullptr)
        return 0;
    uint8_t header[sizeof(ZELKOR_FW_HEADER)] = {};
    if (zelkor_readFlashRegionData(gInstance.handle, region, 0, sizeof header, header) != 0 ||
        !hasFwSignature(header))
        return 0;
    const uint32_t size = fwHeaderFromBytes(header, sizeof header).imageSize;
    // An image said to be larger than its region is none.
    if (size > region->size)
        return 0;
    if (size < 4)
        return 1;
    std::vector<uint8_t> image;
    if (!allocate(image, size, fn))
        return 0;
    if (zelkor_readFlashRegionData(gInstance.handle, region, 0, size, image.data()) != 0)
        return 0;
    return sumOfWords(image.data(), image.size()) == 0 ? 1 : 0;
}

uint32_t isValidMFGImgPresent(ZELKOR_REGION* region) {
    FunctionTrace functionTrace("isValidMFGImgPresent");
    if (region == nullptr)
        return 0;
    uint8_t header[8] = {};
    if (zelkor_readFlashRegionData(gInstance.handle, region, 0, sizeof header, header) != 0)
        return 0;
    return isMfgRegionHeader(header) ? 1 : 0;
}

uint32_t displayMfgImageVersion(ZELKOR_REGION* region) {
    const char* fn = "displayMfgImageVersion";
    FunctionTrace functionTrace(fn);
    if (region == nullptr)
        return kStatusFailure;
    BusyScope busy;
    std::vector<uint8_t> data;
    const size_t size = std::min<size_t>(MFG_WALK_LIMIT, region->size);
    if (!allocate(data, size, fn))
        return kStatusNoMemory;
    const uint32_t status =
        zelkor_readFlashRegionData(gInstance.handle, region, 0, static_cast<uint32_t>(size), data.data());
    progressDot();
    if (status != 0)
        return status;
    const PageHit hit = findMfgPage(data.data(), data.size(), PAGE_MFG_VERSION);
    switch (hit.result) {
    case PageWalk::End:
        showAlways("MFG image in the specified flash region does not have MFG Version Info Page\n ");
        reportError(fn, "Unable to retrieve version.\n");
        return kStatusFailure;
    case PageWalk::Past:
        return 0;
    case PageWalk::Invalid:
        reportError(fn, "Invalid MFG Version Info Page (0xFF0F).\n");
        return kStatusInvalidPage;
    case PageWalk::Found:
        break;
    }
    consoleText(mfgVersionLines(data.data() + hit.offset + 8));
    return 0;
}

uint32_t getVersion(uint32_t kind, uint32_t index) {
    const char* fn = "getVersion";
    FunctionTrace functionTrace(fn);
    VersionText version{};
    ZELKOR_REGION_LIST* node = findRegion(kind, index);
    if (node == nullptr)
        return kStatusFailure;
    ZELKOR_REGION* region = &node->region;
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 1, fn, MSG_DEST_LOG, "Region Type = %x\n", region->entryId);
    if (kind != kKindFwPartition && region->entryId > 2) {
        if (region->entryId == 3) {
            if (isValidMFGImgPresent(region) != 0) {
                showAlways("Reading the MFG Version Info page.");
                if (displayMfgImageVersion(region) == 0)
                    return 0;
            }
            logOnly(fn, ZELKOR_LOG_ERROR, "region does not contain valid MFG image.\n");
        } else {
            logOnly(fn, ZELKOR_LOG_ERROR, "region does not contain valid FW or MFG image.\n");
        }
        return kStatusFailure;
    }
    if (isValidFWImgPresent(region) == 0) {
        logOnly(fn, ZELKOR_LOG_ERROR, "region does not contain valid firmware image.\n");
        return kStatusFailure;
    }
    const uint32_t status = zelkor_getRegionVersion(gInstance.handle, region, version.data());
    if (status != 0)
        return status;
    consoleText(std::string("Firmware Region Version: ") + versionOf(version) + " ");
    return 0;
}

uint32_t postValidationOfImage(uint32_t mode, FILE* image, uint32_t kind, uint32_t index, void*, char* message,
                               uint32_t dwordCount) {
    const char* fn = "postValidationOfImage";
    FunctionTrace functionTrace(fn);
    BusyScope busy;
    auto fail = [message](const char* reason) {
        if (message != nullptr)
            std::snprintf(message, 64, "%s", reason);
        return 0u;
    };
    showAlways("Post-validating.");
    progressDot();
    ZELKOR_REGION_LIST* node = findRegion(kind, index);
    if (node == nullptr || image == nullptr)
        return fail("(Image uploading failed).\n");
    uint64_t length = 4ull * dwordCount;
    if (dwordCount == 0) {
        if (std::fseek(image, 0, SEEK_END) != 0)
            return fail("(Image uploading failed).\n");
        const long end = std::ftell(image);
        if (end < 0)
            return fail("(Image uploading failed).\n");
        length = static_cast<uint64_t>(end);
    }
    progressDot();
    if (mode != 0 && mode != 1 && mode != 3)
        return POST_VALIDATION_MODE_NOT_HANDLED;
    // What is read back lies within the region, and for mode 3 within its buffer.
    if (length > node->region.size || (mode == 3 && length > POST_VALIDATION_MODE3_LIMIT))
        return fail("(Image is larger than what can be read back).\n");
    std::vector<uint8_t> data;
    if (!allocate(data, mode == 3 ? POST_VALIDATION_MODE3_LIMIT : static_cast<size_t>(length), fn))
        return 0;
    if (length != 0 && zelkor_readFlashRegionData(gInstance.handle, &node->region, 0,
                                                  static_cast<uint32_t>(length), data.data()) != 0)
        return fail("(Image uploading failed).\n");
    if (compareDownloadedDataWithFileData(image, static_cast<uint32_t>(length), data.data(), mode) != 0)
        return fail("(Data Comparision failed).\n");
    return 1;
}

uint32_t compareDownloadedDataWithFileData(FILE* image, uint32_t length, const uint8_t* data,
                                           uint32_t compareMode) {
    const char* fn = "compareDownloadedDataWithFileData";
    FunctionTrace functionTrace(fn);
    if (gInstance.busy != 0)
        progressDot();
    if (length == 0)
        return 0;
    std::vector<uint8_t> file;
    if (image == nullptr || data == nullptr || !allocate(file, length, fn))
        return 1;
    // The library's own checks leave the file at its end: the image is compared from its first byte.
    if (std::fseek(image, 0, SEEK_SET) != 0 || std::fread(file.data(), 1, length, image) != length) {
        logOnly(fn, ZELKOR_LOG_ERROR, "Failed to read the file");
        return 1;
    }
    const ZELKOR_EXPANDER* first = firstExpander();
    if (!imageBytesMatch(file.data(), data, length, compareMode, first != nullptr ? first->type : 0)) {
        logOnly(fn, ZELKOR_LOG_ERROR, "Comparison of downloaded data with file data failed");
        return 1;
    }
    if (gInstance.busy != 0)
        progressDot();
    return 0;
}
