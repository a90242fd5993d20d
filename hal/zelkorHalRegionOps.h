// Region download, upload and erase, and the image checks, as the three hardware modules do them. What the
// families do differently is data in HalRegionData, one member of the family descriptor.
#ifndef ZELKOR_HAL_REGION_OPS_H
#define ZELKOR_HAL_REGION_OPS_H

#include "core/zelkor.h"

#include <cstdint>
#include <cstdio>

struct HalFamily;
struct ZELKOR_HAL_INSTANCE;

// Set once a download went the debug-port way or an upload prepared the flash; never cleared.
extern uint32_t gFlashOpsFlag;       // Ostrel
extern uint32_t gFlashOpsFlagQuenza; // Quenza

// Statuses of the region operations and the checks.
inline constexpr ZELKOR_STATUS HAL_NOT_VIA_INTERFACE = 3;
inline constexpr ZELKOR_STATUS HAL_FLASH_SELF_PROGRAM = 27;      // the module programs the flash itself
inline constexpr ZELKOR_STATUS HAL_FLASH_SELF_PROGRAM_STOP = 28; // the same with the ARM stopped
inline constexpr ZELKOR_STATUS HAL_BOOT_RECORD_I2C = 35;         // the boot record goes through I2C
inline constexpr ZELKOR_STATUS HAL_BLANK_FLASH = 42;
inline constexpr ZELKOR_STATUS HAL_OUTSIDE_REGION = 43;

// How a firmware image's word sum is bounded.
enum class HalChecksumSpan {
    LengthLessHeader, // the length word less the 16-byte trailer (Ostrel)
    LengthInFile,     // the length word when the file is longer, else the file (Quenza)
    WholeFile,        // the whole file (Palx)
};

// Lines and rules of the flash work a module does itself when the interface asks for it.
struct HalFlashTexts {
    bool eraseByPartBlocks;     // a bootstrap erase spans the part's blocks (Quenza), else whole 64 KiB
    const char* tooLarge;       // before 44, or null
    const char* eraseFailed;    // the bootstrap erase failed
    const char* erasePassed;    // or null
    const char* eraseStopping;  // region erase with the ARM stopped
    const char* eraseStopFailed;
    const char* erasePerforming;
    const char* eraseStartAnyway;
    const char* eraseStarting;
    const char* eraseStartFailed; // or null
};

// Texts are the module's own log lines; null means the family writes no such line.
struct HalRegionData {
    // Flash access.
    uint32_t availableFlash;    // bytes of flash the engine may use
    uint32_t flashControl;      // flash-control register, 0: the family enables no flash
    uint32_t flashEnableBits;   // ORed in by the first enable step
    uint32_t* flashFlag;        // the family's flash-prepared flag, or null
    bool quenzaEnable;          // a failed first enable write ends the enable
    bool halvesLargeFlashReads; // a whole-flash read takes half of a part of 32 MiB or more
    bool palxSteps;             // regions 4 and 5 refused in-band, every row of kind 2 and above resolves
    // Status of a null instance in the signature check and the version of an image file (the other checks
    // answer 5).
    ZELKOR_STATUS nullInstanceSignatureAndVersion;

    // Download, upload, erase.
    const char* determining;
    const char* invalidArguments; // logged at level 1 before 5
    const char* wholeFlashRefused;
    const char* boundFailed;
    ZELKOR_STATUS boundStatus;
    const char* requestWarning; // (length, offset) before a 27 or 28 is handled
    const char* uploadWholeFlashRefused;
    const char* uploadFailed;        // (length, offset)
    const char* eraseAnnounce;       // (index)
    const char* eraseRequestWarning; // (index)

    // Firmware signature.
    const char* signatureLoad;
    const char* signatureLoadFailed;
    const char* signatureLoadDone;
    const char* signaturePassed;
    const char* signatureFailed;
    // Word sum.
    HalChecksumSpan checksumSpan;
    const char* checksumLoad;
    const char* checksumLoadFailed;
    const char* checksumPassed;
    const char* checksumFailed;
    // Version of an image.
    const char* versionLoad;
    const char* versionLoadFailed;
    const char* versionLoadDone;
    // Identity against the flash header.
    bool identityPalx; // u32 at 40 and u16 at 32, a blank flash passes; else u16 at 40 and at 44
    uint32_t identityHeaderBytes;
    const char* identityLoad;
    const char* identityLoadFailed;
    const char* identityLoadDone;
    const char* identityReadFailed; // (bytes, 0)
    const char* identityPassed;
    const char* identityFailed;
    // Manufacturing image.
    bool checksManufacturingImage;
    bool rejectsEndMarks; // a page id or length of 0 or 0xFFFF fails the image
    // Region checks.
    const char* regionChecksumFailed;
    bool regionVersionChecksSignature;
    uint32_t regionVersionBytes;
    const char* regionVersionRead;       // (bytes)
    const char* regionVersionReadFailed; // (bytes)
    const HalFlashTexts* flashTexts = nullptr;
};

// Texts and constants of the three families.
extern const HalRegionData kOstrelRegionData;
extern const HalRegionData kQuenzaRegionData;
extern const HalRegionData kPalxRegionData;

// What a download asked of the interface, for the flash work the interface hands back.
struct HalFlashRequest {
    ZELKOR_REGION* caller;
    uint32_t offset;
    uint32_t length;
    FILE* file;
    uint8_t* buffer;
    ZELKOR_REGION* sent; // the row and offset the interface was given
    uint32_t sentOffset;
    ZELKOR_REGION* target; // the row the address resolved to: the flash work stays inside it
    uint8_t wholeChip;
};

// A 27 or 28 from a download (Ostrel, Quenza), a 27, 28 or 35 (Palx), a 27 or 28 from an erase, and a 35
// from a Palx upload: the module does the flash or SEEPROM work itself.
ZELKOR_STATUS halProgramRequest(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const HalFlashRequest& r,
                                ZELKOR_STATUS request);
ZELKOR_STATUS halPalxProgramRequest(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const HalFlashRequest& r,
                                    ZELKOR_STATUS request);
ZELKOR_STATUS halEraseRequest(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                              ZELKOR_STATUS request);
ZELKOR_STATUS halBootRecordUpload(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, uint32_t offset, uint32_t length,
                                  FILE* file, uint8_t* buffer);

// ---- the operations, once for every family ----

ZELKOR_STATUS halDownloadRegion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                                uint32_t offset, uint32_t length, FILE* file, uint8_t* buffer);
ZELKOR_STATUS halUploadRegion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                              uint32_t offset, uint32_t length, FILE* file, uint8_t* buffer);
ZELKOR_STATUS halEraseRegion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region);
ZELKOR_STATUS halDownloadRamdebug(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* ttyPath,
                                  uint32_t baudChange, FILE* image, uint8_t postValidate);
// Sets the flash-control enable bits (Ostrel, Quenza): 0 when bit 16 reads back set, 1 when not, else the
// status of the failed access.
ZELKOR_STATUS hal_flashEnable(ZELKOR_HAL_INSTANCE* hi);

ZELKOR_STATUS halFwExpanderValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image);
ZELKOR_STATUS halFwChecksumValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image,
                                      uint32_t* words);
ZELKOR_STATUS halGetFwVersion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image, char* version);
ZELKOR_STATUS halFwImageValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image);
ZELKOR_STATUS halMfgImageValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image);
ZELKOR_STATUS halMfgChecksumValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image);
ZELKOR_STATUS halGetRegionChecksum(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image,
                                   ZELKOR_REGION* region);
ZELKOR_STATUS halGetRegionVersion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                                  char* version);
ZELKOR_STATUS halBootRecordValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image);

// The operations with the family's own slot signatures, for the op-name tables.
template <const HalFamily& Family> struct HalRegionOps {
    static ZELKOR_STATUS download(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* r, uint32_t o, uint32_t n, FILE* f,
                                  uint8_t* b) {
        return halDownloadRegion(Family, hi, r, o, n, f, b);
    }
    static ZELKOR_STATUS upload(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* r, uint32_t o, uint32_t n, FILE* f,
                                uint8_t* b) {
        return halUploadRegion(Family, hi, r, o, n, f, b);
    }
    static ZELKOR_STATUS erase(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* r) {
        return halEraseRegion(Family, hi, r);
    }
    static ZELKOR_STATUS ramdebug(ZELKOR_HAL_INSTANCE* hi, const char* tty, uint32_t baud, FILE* image,
                                  uint8_t validate) {
        return halDownloadRamdebug(Family, hi, tty, baud, image, validate);
    }
    static ZELKOR_STATUS fwExpander(ZELKOR_HAL_INSTANCE* hi, FILE* f) {
        return halFwExpanderValidation(Family, hi, f);
    }
    static ZELKOR_STATUS fwChecksum(ZELKOR_HAL_INSTANCE* hi, FILE* f, uint32_t* words) {
        return halFwChecksumValidation(Family, hi, f, words);
    }
    static ZELKOR_STATUS fwVersion(ZELKOR_HAL_INSTANCE* hi, FILE* f, char* out) {
        return halGetFwVersion(Family, hi, f, out);
    }
    static ZELKOR_STATUS fwImage(ZELKOR_HAL_INSTANCE* hi, FILE* f) {
        return halFwImageValidation(Family, hi, f);
    }
    static ZELKOR_STATUS mfgImage(ZELKOR_HAL_INSTANCE* hi, FILE* f) {
        return halMfgImageValidation(Family, hi, f);
    }
    static ZELKOR_STATUS mfgChecksum(ZELKOR_HAL_INSTANCE* hi, FILE* f) {
        return halMfgChecksumValidation(Family, hi, f);
    }
    static ZELKOR_STATUS regionChecksum(ZELKOR_HAL_INSTANCE* hi, FILE* f, ZELKOR_REGION* r) {
        return halGetRegionChecksum(Family, hi, f, r);
    }
    static ZELKOR_STATUS regionVersion(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* r, char* out) {
        return halGetRegionVersion(Family, hi, r, out);
    }
    static ZELKOR_STATUS bootRecord(ZELKOR_HAL_INSTANCE* hi, FILE* f) {
        return halBootRecordValidation(Family, hi, f);
    }
};

#endif
