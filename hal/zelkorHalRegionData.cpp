// Constants and texts of the region operations and the image checks, per family.
#include "hal/zelkorHalRegionOps.h"

uint32_t gFlashOpsFlag = 0;
uint32_t gFlashOpsFlagQuenza = 0;

namespace {

constexpr uint32_t kOstrelQuenzaAvailableFlash = 0x3FFFFFFu;
constexpr uint32_t kPalxAvailableFlash = 0x200000u;

constexpr HalFlashTexts kOstrelFlashTexts{
    .eraseByPartBlocks = false,
    .tooLarge = nullptr,
    .eraseFailed = "Flash Erase **** FAILED ****",
    .erasePassed = nullptr,
    .eraseStopping = "Stoping the ARM processor",
    .eraseStopFailed = "Stoping the ARM processor **** FAILED ****",
    .erasePerforming = "Performing Flash Erase",
    .eraseStartAnyway = "Starting the ARM processor even though the retVal is not SUCCESS",
    .eraseStarting = "Starting the ARM processor",
    .eraseStartFailed = "Starting the ARM processor **** FAILED ****",
};

constexpr HalFlashTexts kQuenzaFlashTexts = [] {
    HalFlashTexts t = kOstrelFlashTexts;
    t.eraseByPartBlocks = true;
    t.tooLarge = "Number of bytes to download is greater than Flash size";
    t.erasePassed = "Flash blocks erase **** PASSED ****";
    return t;
}();

constexpr HalFlashTexts kPalxFlashTexts{
    .eraseByPartBlocks = false,
    .tooLarge = nullptr,
    .eraseFailed = nullptr,
    .erasePassed = nullptr,
    .eraseStopping = "Stoping the ARM processor",
    .eraseStopFailed = "Unable to Stop the ARM processor **** FAILED ****",
    .erasePerforming = "Performing Flash Erase operation",
    .eraseStartAnyway = "Starting ARM processor, even though the retval is not SUCCESS",
    .eraseStarting = "Starting ARM processor",
    .eraseStartFailed = nullptr,
};

// What Ostrel and Quenza share; each family changes a few lines below.
constexpr HalRegionData ostrelQuenza() {
    return HalRegionData{
        .availableFlash = kOstrelQuenzaAvailableFlash,
        .flashControl = 0,
        .flashEnableBits = 0,
        .flashFlag = nullptr,
        .quenzaEnable = false,
        .halvesLargeFlashReads = false,
        .palxSteps = false,
        .nullInstanceSignatureAndVersion = 5,
        .determining = "Determining the Region",
        .invalidArguments = nullptr,
        .wholeFlashRefused = nullptr,
        .boundFailed = "File size is crossing the region boundaries **** FAILED ****",
        .boundStatus = HAL_OUTSIDE_REGION,
        .requestWarning = nullptr,
        .uploadWholeFlashRefused =
            "Operation on Flash is not supported over the selected interface **** FAILED ****",
        .uploadFailed = nullptr,
        .eraseAnnounce = "Erasing region 0x%02x",
        .eraseRequestWarning = nullptr,
        .signatureLoad = "Copying File to Buffer",
        .signatureLoadFailed = "Copying File to Buffer **** FAILED ****",
        .signatureLoadDone = "Copying File to Buffer SUCCESS",
        .signaturePassed = "Validating the Firmware signature SUCCESS",
        .signatureFailed = "Validating the Firmware signature **** FAILED ****",
        .checksumSpan = HalChecksumSpan::LengthLessHeader,
        .checksumLoad = "Copying file to buffer",
        .checksumLoadFailed = "Copying file to buffer **** FAILED ****",
        .checksumPassed = "Firmware Checksum validation Passed",
        .checksumFailed = "Firmware Checksum validation **** FAILED ****",
        .versionLoad = "Copying File to Buffer",
        .versionLoadFailed = "Copying File to Buffer **** FAILED ****",
        .versionLoadDone = "Successuflly copied File to Buffer",
        .identityPalx = false,
        .identityHeaderBytes = sizeof(ZELKOR_FW_HEADER),
        .identityLoad = "Copying file to Buffer",
        .identityLoadFailed = "Copying file to Buffer **** FAILED ****",
        .identityLoadDone = "Successfully copied file to Buffer",
        .identityReadFailed = "Reading %d bytes at 0x%08x offset **** FAILED ****",
        .identityPassed = "Firmware image validation Passed",
        .identityFailed = "Firmware image validation **** FAILED ****",
        .checksManufacturingImage = true,
        .rejectsEndMarks = false,
        .regionChecksumFailed = "Region Checksum **** FAILED ****",
        .regionVersionChecksSignature = true,
        .regionVersionBytes = sizeof(ZELKOR_FW_HEADER),
        .regionVersionRead = "Reading Firmware Header of %d bytes at 0x00000000 offset",
        .regionVersionReadFailed =
            "Reading Firmware Header of %d bytes at 0x00000000 offset **** FAILED ****",
    };
}

} // namespace

const HalRegionData kOstrelRegionData = [] {
    HalRegionData d = ostrelQuenza();
    d.flashControl = 0x1C000004u;
    d.flashEnableBits = 0x3370001Fu;
    d.flashFlag = &gFlashOpsFlag;
    d.requestWarning = "Writing %d bytes at 0x%08x offset has FAILED";
    d.eraseRequestWarning = "Erasing region 0x%02x FAILED";
    d.flashTexts = &kOstrelFlashTexts;
    return d;
}();

const HalRegionData kQuenzaRegionData = [] {
    HalRegionData d = ostrelQuenza();
    d.flashControl = 0x2C000004u;
    d.flashEnableBits = 0x3370000Fu;
    d.flashFlag = &gFlashOpsFlagQuenza;
    d.quenzaEnable = true;
    d.halvesLargeFlashReads = true;
    d.wholeFlashRefused = "Operation on Flash not supported over selected interface **** FAILED ****";
    d.uploadFailed = "Reading %d bytes at 0x%08x offset **** FAILED ****";
    d.checksumSpan = HalChecksumSpan::LengthInFile;
    d.versionLoadDone = "Successfully copied File to Buffer";
    d.rejectsEndMarks = true;
    d.flashTexts = &kQuenzaFlashTexts;
    return d;
}();

const HalRegionData kPalxRegionData{
    .availableFlash = kPalxAvailableFlash,
    .flashControl = 0,
    .flashEnableBits = 0,
    .flashFlag = nullptr,
    .quenzaEnable = false,
    .halvesLargeFlashReads = false,
    .palxSteps = true,
    .nullInstanceSignatureAndVersion = 4,
    .determining = "Determining the Specific region",
    .invalidArguments = "Invalid Arguments **** FAILED ****",
    .wholeFlashRefused = nullptr,
    .boundFailed = "Checking for the region boundary **** FAILED ****",
    .boundStatus = 5,
    .requestWarning = nullptr,
    .uploadWholeFlashRefused = nullptr,
    .uploadFailed = nullptr,
    .eraseAnnounce = "Erasing Region Id %d",
    .eraseRequestWarning = nullptr,
    .signatureLoad = "Copying data from File to Buffer",
    .signatureLoadFailed = "Copying data from File to Buffer **** FAILED ****",
    .signatureLoadDone = nullptr,
    .signaturePassed = "Firmware Signature validation Passed",
    .signatureFailed = "Unable to determine Firmware Signature **** FAILED ****",
    .checksumSpan = HalChecksumSpan::WholeFile,
    .checksumLoad = "Copying data from File to Buffer",
    .checksumLoadFailed = "Copying data from File to Buffer **** FAILED ****",
    .checksumPassed = "Checksum validation Passed",
    .checksumFailed = "Checksum validation **** FAILED ****",
    .versionLoad = "Copying data from File to Buffer",
    .versionLoadFailed = "Copying data from File to Buffer **** FAILED ****",
    .versionLoadDone = nullptr,
    .identityPalx = true,
    .identityHeaderBytes = 136,
    .identityLoad = "Copying data from File to Buffer",
    .identityLoadFailed = "Copying data from File to Buffer **** FAILED ****",
    .identityLoadDone = nullptr,
    .identityReadFailed = "Unable to Read %d bytes at 0x%08x offset **** FAILED ****",
    .identityPassed = "Signature validation Passed",
    .identityFailed = "Unable to determine the Signature **** FAILED ****",
    .checksManufacturingImage = false,
    .rejectsEndMarks = false,
    .regionChecksumFailed = "Checksum validation **** FAILED ****",
    .regionVersionChecksSignature = false,
    .regionVersionBytes = 136,
    .regionVersionRead = "Reading %d bytes at 0x00000000 offset",
    .regionVersionReadFailed = "Reading %d bytes at 0x00000000 offset **** FAILED ****",
    .flashTexts = &kPalxFlashTexts,
};
