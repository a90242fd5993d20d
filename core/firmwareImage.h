// The firmware image header and the flash table as the code reads them: decoded from the little-endian
// bytes of an image file or of the flash into their records, and the signature words of the three chip
// families. Header-only, so that the library, its modules and the front end read them the same way.
#ifndef ZELKOR_FIRMWARE_IMAGE_H
#define ZELKOR_FIRMWARE_IMAGE_H

#include "core/zelkor.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

using FwSignature = std::array<uint32_t, ZELKOR_FW_SIGNATURE_WORDS>;

inline constexpr FwSignature FW_SIGNATURE_OSTREL{0x5EA1D0C3u, 0x5ED0A1C3u, 0x5ED0C3A1u};
inline constexpr FwSignature FW_SIGNATURE_QUENZA{0x7A3E91F4u, 0x7A91E3F4u, 0x7A91F4E3u};
inline constexpr FwSignature FW_SIGNATURE_PALX{0x5AEAA55Au, 0xA55AEAA5u, 0x5AA55AEAu};
// Every signature word of a blank flash.
inline constexpr uint32_t FW_SIGNATURE_BLANK_WORD = 0xFFFFFFFFu;

// Bytes an image must hold to hold the whole header field.
#define FW_HEADER_FIELD_END(field) (offsetof(ZELKOR_FW_HEADER, field) + sizeof(ZELKOR_FW_HEADER::field))

namespace firmware_image_detail {

template <typename T> void fromLittleEndian(T& value) {
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
        std::array<uint8_t, sizeof(T)> bytes{};
        std::memcpy(bytes.data(), &value, sizeof(T));
        std::reverse(bytes.begin(), bytes.end());
        std::memcpy(&value, bytes.data(), sizeof(T));
    }
}

} // namespace firmware_image_detail

// The header of the first length bytes of an image or of the flash; fields beyond them read 0. The bytes
// are copied, so they need no alignment.
inline ZELKOR_FW_HEADER fwHeaderFromBytes(const uint8_t* bytes, size_t length) {
    ZELKOR_FW_HEADER header{};
    std::memcpy(&header, bytes, std::min(length, sizeof header));
    using firmware_image_detail::fromLittleEndian;
    fromLittleEndian(header.reserved0);
    for (uint32_t& word : header.signature)
        fromLittleEndian(word);
    fromLittleEndian(header.palxIdentity);
    fromLittleEndian(header.reserved34);
    fromLittleEndian(header.imageIdentity);
    fromLittleEndian(header.secondIdentity);
    fromLittleEndian(header.imageSize);
    fromLittleEndian(header.imageLength);
    fromLittleEndian(header.flashTableOffset);
    return header;
}

// The flash table of the first length bytes read from the flash; entries beyond them read 0.
inline FLASH_TABLE flashTableFromBytes(const uint8_t* bytes, size_t length) {
    FLASH_TABLE table{};
    std::memcpy(&table, bytes, std::min(length, sizeof table));
    for (FLASH_TABLE_ENTRY& entry : table.entries) {
        firmware_image_detail::fromLittleEndian(entry.size);
        firmware_image_detail::fromLittleEndian(entry.offset);
    }
    return table;
}

// True when the header carries the family's three signature words.
inline bool fwSignatureIs(const ZELKOR_FW_HEADER& header, const FwSignature& signature) {
    return std::equal(signature.begin(), signature.end(), std::begin(header.signature));
}

// True when every signature word reads as erased flash.
inline bool fwHeaderBlank(const ZELKOR_FW_HEADER& header) {
    return std::all_of(std::begin(header.signature), std::end(header.signature),
                       [](uint32_t word) { return word == FW_SIGNATURE_BLANK_WORD; });
}

// Entries a table read of that many bytes holds.
inline constexpr uint32_t flashTableCapacity(uint32_t bytes) {
    return bytes < offsetof(FLASH_TABLE, entries)
               ? 0
               : static_cast<uint32_t>((bytes - offsetof(FLASH_TABLE, entries)) / sizeof(FLASH_TABLE_ENTRY));
}

#endif
