// Firmware, manufacturing and boot-record image checks, and the checksum and version of a region. Every
// check loads the caller's file into the instance first; a header field the file is too short to hold fails
// the check instead of being read past the loaded bytes.
#include "hal/zelkorHalCommon.h"
#include "hal/zelkorHalRegionOps.h"

#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kLengthTrailer = 16; // bytes of an Ostrel image the length word counts but the sum leaves
constexpr uint32_t kMfgValidOffset = 2;
constexpr uint8_t kMfgValid = 0x10;
constexpr uint32_t kMfgFirstPageOffset = 3;
constexpr uint32_t kMfgPageHeader = 8;
constexpr uint32_t kMfgSummedFrom = 4;                 // a page's sum starts at its length field
constexpr uint32_t kBootRecordSignature = 0x50616C78u; // "Palx", big-endian

uint32_t le(const uint8_t* p, uint32_t width) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < width; ++i)
        value |= static_cast<uint32_t>(p[i]) << (8 * i);
    return value;
}

// True when the loaded file holds its first end bytes.
bool imageHolds(const ZELKOR_HAL_INSTANCE* hi, uint64_t end) {
    return end <= hi->imageSize;
}

// The header of the loaded file; fields the file is too short to hold read 0.
ZELKOR_FW_HEADER imageHeader(const ZELKOR_HAL_INSTANCE* hi) {
    return fwHeaderFromBytes(hi->image.get(), hi->imageSize);
}

// The identity fields a family compares, and the bytes of a file each needs, in the order they are
// checked: Palx the whole identity word and the Palx identity, the others the low half of the identity
// word and the second identity.
struct Identity {
    std::array<uint32_t, 2> fields;
    static constexpr std::array<uint64_t, 2> ends(bool palx) {
        if (palx)
            return {FW_HEADER_FIELD_END(imageIdentity), FW_HEADER_FIELD_END(palxIdentity)};
        return {offsetof(ZELKOR_FW_HEADER, imageIdentity) + sizeof(uint16_t),
                FW_HEADER_FIELD_END(secondIdentity)};
    }
    static Identity of(const ZELKOR_FW_HEADER& h, bool palx) {
        if (palx)
            return {{h.imageIdentity, h.palxIdentity}};
        return {{h.imageIdentity & 0xFFFFu, h.secondIdentity}};
    }
};

uint32_t wordSum(const uint8_t* bytes, uint32_t words) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < words; ++i)
        sum += le(bytes + 4 * i, 4);
    return sum;
}

void formatVersion(const ZELKOR_FW_HEADER& header, char* out) {
    // Each byte is at most three digits: the text never passes 15 characters and its zero.
    std::snprintf(out, 16, "%02d.%02d.%02d.%02d", header.version[3], header.version[2], header.version[1],
                  header.version[0]);
}

#define LOG_IF(f, hi, fn, level, text, ...)                                                                  \
    do {                                                                                                     \
        if ((text) != nullptr)                                                                               \
            halLog(f, (hi)->handle, fn, level, text __VA_OPT__(, ) __VA_ARGS__);                             \
    } while (0)

// The start of every check: the instance (nullStatus for null, 4 when not held), the file (5), then the
// file loaded with its announcing, failure and success lines.
ZELKOR_STATUS beginCheck(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* fn, FILE* image,
                         const char* load, const char* loadFailed, const char* loadDone,
                         ZELKOR_STATUS nullStatus = HAL_INVALID_ARGUMENT) {
    if (hi == nullptr)
        return nullStatus;
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    halLogEntry(f, hi->handle, fn);
    if (image == nullptr)
        return HAL_INVALID_ARGUMENT;
    LOG_IF(f, hi, fn, ZELKOR_LOG_INFO, load);
    if (const ZELKOR_STATUS status = readFileToBuffer(hi, image); status != 0) {
        LOG_IF(f, hi, fn, ZELKOR_LOG_ERROR, loadFailed);
        return status;
    }
    LOG_IF(f, hi, fn, ZELKOR_LOG_INFO, loadDone);
    return 0;
}

// A check that failed because the file lacks a field it needs.
ZELKOR_STATUS shortImage(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* fn, uint32_t offset,
                         const char* failed) {
    halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "Image file ends before byte %u **** FAILED ****", offset);
    LOG_IF(f, hi, fn, ZELKOR_LOG_ERROR, failed);
    return HAL_FAILURE;
}

ZELKOR_REGION* wholeFlashRow(ZELKOR_HAL_INSTANCE* hi) {
    for (ZELKOR_REGION_LIST* node = hi->handle->regions; node != nullptr; node = node->next)
        if (node->region.kind == ZELKOR_REGION_FLASH)
            return &node->region;
    return nullptr;
}

} // namespace

ZELKOR_STATUS halFwExpanderValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image) {
    const char* fn = "zelkor_hal_fwExpanderValidation";
    const HalRegionData& d = *f.regionOps;
    if (const ZELKOR_STATUS s = beginCheck(f, hi, fn, image, d.signatureLoad, d.signatureLoadFailed,
                                           d.signatureLoadDone, d.nullInstanceSignatureAndVersion))
        return s;
    const ZELKOR_FW_HEADER header = imageHeader(hi);
    for (uint32_t i = 0; i < ZELKOR_FW_SIGNATURE_WORDS; ++i) {
        const uint32_t end = offsetof(ZELKOR_FW_HEADER, signature) + sizeof(uint32_t) * (i + 1);
        if (!imageHolds(hi, end))
            return shortImage(f, hi, fn, end, d.signatureFailed);
        if (header.signature[i] != f.signature[i]) {
            halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", d.signatureFailed);
            return HAL_FAILURE;
        }
    }
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "%s", d.signaturePassed);
    return 0;
}

ZELKOR_STATUS halFwChecksumValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image,
                                      uint32_t* words) {
    const char* fn = "zelkor_hal_fwChecksumValidation";
    const HalRegionData& d = *f.regionOps;
    const bool takesLength = d.checksumSpan != HalChecksumSpan::WholeFile;
    if (hi != nullptr && getHALInstance(hi) != nullptr && takesLength && words == nullptr)
        return HAL_INVALID_ARGUMENT; // the word count would be written through null
    if (const ZELKOR_STATUS s = beginCheck(f, hi, fn, image, d.checksumLoad, d.checksumLoadFailed, nullptr))
        return s;
    const uint32_t size = hi->imageSize;
    uint32_t n = size / 4;
    if (takesLength) {
        constexpr uint32_t kLengthEnd = FW_HEADER_FIELD_END(imageLength);
        if (!imageHolds(hi, kLengthEnd))
            return shortImage(f, hi, fn, kLengthEnd, d.checksumFailed);
        const uint32_t length = imageHeader(hi).imageLength;
        if (length != ZELKOR_FW_LENGTH_UNSET) {
            if (d.checksumSpan == HalChecksumSpan::LengthLessHeader) {
                // A length below the trailer or past the file names no span of this file.
                if (length < kLengthTrailer || length > size) {
                    halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR,
                           "Image length 0x%08x does not fit the file of %u bytes", length, size);
                    halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", d.checksumFailed);
                    return HAL_FAILURE;
                }
                n = length / 4 - kLengthTrailer / 4;
                *words = n;
            } else if (size > length) {
                n = length / 4;
                *words = n;
            }
        }
    }
    if (wordSum(hi->image.get(), n) != 0) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", d.checksumFailed);
        return HAL_FAILURE;
    }
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "%s", d.checksumPassed);
    return 0;
}

ZELKOR_STATUS halGetFwVersion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image, char* version) {
    const char* fn = "zelkor_hal_getFwVersion";
    const HalRegionData& d = *f.regionOps;
    if (hi != nullptr && getHALInstance(hi) != nullptr && version == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (const ZELKOR_STATUS s = beginCheck(f, hi, fn, image, d.versionLoad, d.versionLoadFailed,
                                           d.versionLoadDone, d.nullInstanceSignatureAndVersion))
        return s;
    constexpr uint32_t kVersionEnd = FW_HEADER_FIELD_END(version);
    if (!imageHolds(hi, kVersionEnd))
        return shortImage(f, hi, fn, kVersionEnd, nullptr);
    formatVersion(imageHeader(hi), version);
    return 0;
}

ZELKOR_STATUS halFwImageValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image) {
    const char* fn = "zelkor_hal_fwImageValidation";
    const HalRegionData& d = *f.regionOps;
    if (const ZELKOR_STATUS s =
            beginCheck(f, hi, fn, image, d.identityLoad, d.identityLoadFailed, d.identityLoadDone))
        return s;
    for (const uint64_t end : Identity::ends(d.identityPalx))
        if (!imageHolds(hi, end))
            return shortImage(f, hi, fn, static_cast<uint32_t>(end), d.identityFailed);

    ZELKOR_REGION* flash = wholeFlashRow(hi);
    if (flash == nullptr) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "Unable to identify the region **** FAILED ****");
        return HAL_NO_MEMORY_WINDOW;
    }
    const uint32_t bytes = d.identityHeaderBytes;
    std::vector<uint8_t> flashBytes(bytes);
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Reading %d bytes at 0x%08x offset", bytes, 0);
    if (const ZELKOR_STATUS s = halRead(hi, flash, 0, flashBytes.data(), bytes); s != 0) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, d.identityReadFailed, bytes, 0);
        return s;
    }
    const ZELKOR_FW_HEADER flashHeader = fwHeaderFromBytes(flashBytes.data(), flashBytes.size());
    if (Identity::of(imageHeader(hi), d.identityPalx).fields ==
        Identity::of(flashHeader, d.identityPalx).fields) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "%s", d.identityPassed);
        return 0;
    }
    if (d.identityPalx) {
        if (fwHeaderBlank(flashHeader)) {
            halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Flash is blank");
            return 0;
        }
    }
    halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", d.identityFailed);
    return HAL_FAILURE;
}

ZELKOR_STATUS halMfgImageValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image) {
    const char* fn = "zelkor_hal_mfgImageValidation";
    if (hi == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    halLogEntry(f, hi->handle, fn);
    if (image == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (!f.regionOps->checksManufacturingImage)
        return 0;
    const bool valid = std::fseek(image, kMfgValidOffset, SEEK_SET) == 0 && std::fgetc(image) == kMfgValid;
    std::rewind(image);
    if (!valid) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "Mfg image validation **** FAILED ****");
        return HAL_FAILURE;
    }
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Mfg image validation Successful");
    return 0;
}

ZELKOR_STATUS halMfgChecksumValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image) {
    const char* fn = "zelkor_hal_mfgChecksumValidation";
    const HalRegionData& d = *f.regionOps;
    if (hi == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    halLogEntry(f, hi->handle, fn);
    if (image == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (!d.checksManufacturingImage)
        return 0;
    if (const ZELKOR_STATUS s = readFileToBuffer(hi, image); s != 0)
        return s;
    const uint8_t* bytes = hi->image.get();
    const uint64_t size = hi->imageSize;
    auto fail = [&](uint64_t at) {
        std::fseek(image, static_cast<long>(std::min(at, size)), SEEK_SET);
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "Checksum validation **** FAILED ****");
        return HAL_FAILURE;
    };
    if (size <= kMfgFirstPageOffset)
        return fail(size);
    uint64_t at = bytes[kMfgFirstPageOffset];
    while (at < size) {
        // A record header or page that runs past the file's end is not summed from beyond it.
        if (at + kMfgPageHeader > size)
            return fail(at);
        const uint32_t length = le(bytes + at + 4, 2);
        const uint32_t id = le(bytes + at + 6, 2);
        if (d.rejectsEndMarks && (id == 0 || id == 0xFFFF || length == 0 || length == 0xFFFF))
            return fail(at);
        if (at + kMfgSummedFrom + length > size)
            return fail(at);
        uint8_t sum = 0;
        for (uint32_t i = 0; i < length; ++i)
            sum = static_cast<uint8_t>(sum + bytes[at + kMfgSummedFrom + i]);
        if (sum != bytes[at + 1])
            return fail(at);
        at += kMfgSummedFrom + length;
    }
    std::fseek(image, static_cast<long>(size), SEEK_SET);
    return 0;
}

ZELKOR_STATUS halGetRegionChecksum(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image,
                                   ZELKOR_REGION* region) {
    const char* fn = "zelkor_hal_getRegionChecksum";
    const HalRegionData& d = *f.regionOps;
    if (hi != nullptr && getHALInstance(hi) != nullptr && region == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (const ZELKOR_STATUS s = beginCheck(f, hi, fn, image, d.checksumLoad, d.checksumLoadFailed, nullptr))
        return s;
    const uint32_t rounded = (hi->imageSize + 3u) & ~3u;
    // An empty file names no bytes: their sum is 0, and nothing is read from the region.
    if (rounded == 0)
        return 0;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[rounded]());
    if (!bytes) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "Unable to allocate %d bytes of memory **** FAILED ****",
               static_cast<int>(rounded));
        return HAL_NO_MEMORY;
    }
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Reading %d bytes at 0x00000000 offset",
           static_cast<int>(rounded));
    if (const ZELKOR_STATUS s = halRead(hi, region, 0, bytes.get(), rounded); s != 0) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "Reading %d bytes at 0x00000000 offset **** FAILED ****",
               static_cast<int>(rounded));
        return s;
    }
    if (wordSum(bytes.get(), rounded / 4) != 0) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", d.regionChecksumFailed);
        return HAL_FAILURE;
    }
    return 0;
}

ZELKOR_STATUS halGetRegionVersion(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                                  char* version) {
    const char* fn = "zelkor_hal_getRegionVersion";
    const HalRegionData& d = *f.regionOps;
    if (hi == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    halLogEntry(f, hi->handle, fn);
    if (region == nullptr || version == nullptr)
        return HAL_INVALID_ARGUMENT;
    const uint32_t bytes = d.regionVersionBytes;
    std::vector<uint8_t> headerBytes(bytes);
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, d.regionVersionRead, static_cast<int>(bytes));
    if (const ZELKOR_STATUS s = halRead(hi, region, 0, headerBytes.data(), bytes); s != 0) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, d.regionVersionReadFailed, static_cast<int>(bytes));
        return s;
    }
    const ZELKOR_FW_HEADER header = fwHeaderFromBytes(headerBytes.data(), headerBytes.size());
    if (d.regionVersionChecksSignature) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Validating Firmware Header");
        if (!fwSignatureIs(header, f.signature)) {
            halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "Validating Firmware Header **** FAILED ****");
            return fwHeaderBlank(header) ? HAL_BLANK_FLASH : HAL_FOREIGN_FIRMWARE;
        }
        halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Validating Firmware Header Successful");
    }
    formatVersion(header, version);
    return 0;
}

ZELKOR_STATUS halBootRecordValidation(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, FILE* image) {
    const char* fn = "zelkor_hal_bootRecordValidation";
    const char* failed = "Unable to determine the Boot Loader Signature of Palx **** FAILED ****";
    if (const ZELKOR_STATUS s = beginCheck(f, hi, fn, image, "Copying data from File to Buffer",
                                           "Copying data from File to Buffer **** FAILED ****", nullptr))
        return s;
    if (hi->imageSize < 4)
        return shortImage(f, hi, fn, 4, failed);
    const uint8_t* b = hi->image.get();
    const uint32_t word = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    if (word != kBootRecordSignature) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", failed);
        return HAL_FAILURE;
    }
    halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Palx Boot Loader Signature Passed");
    return 0;
}
