// The configuration page engine's data types and its in-memory page list: one PAGE_RECORD per converted
// page, one PAGE_DATA_NODE per field element of that page.
#ifndef CONFIG_PAGE_RECORDS_H
#define CONFIG_PAGE_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pageengine {

enum class FieldType : uint8_t {
    Bit,
    Byte,
    ByteArray,
    Char,
    Dword,
    Hex,
    Word,
    IpAddress,
    ByteString,
    CharNullPad,
    UniCharV,
};

// Width codes: bytes per element, 0 for a bit field, 7 for wide text.
inline constexpr uint32_t WIDTH_BIT = 0;
inline constexpr uint32_t WIDTH_WIDE_TEXT = 7;

// How a field's bytes go into the image.
inline constexpr uint32_t WRITE_NUMBER = 0;
inline constexpr uint32_t WRITE_TEXT_SPACE_PADDED = 1;
inline constexpr uint32_t WRITE_TEXT_ZERO_PADDED = 2;
inline constexpr uint32_t WRITE_WIDE_TEXT = 3;

// Type codes of values a user supplies (stamps and queried values).
inline constexpr uint32_t USER_TYPE_BIT = 0;
inline constexpr uint32_t USER_TYPE_BYTE = 1;
inline constexpr uint32_t USER_TYPE_WORD = 2;
inline constexpr uint32_t USER_TYPE_DWORD = 4;
inline constexpr uint32_t USER_TYPE_CHAR = 5;
inline constexpr uint32_t USER_TYPE_CHAR_NULL_PAD = 6;
inline constexpr uint32_t USER_TYPE_UNICHARV = 7;
inline constexpr uint32_t USER_TYPE_FROM_XSD = 10;
inline constexpr uint32_t USER_TYPE_IPADDRESS = 15;

struct DataTypeInfo {
    const char* name;
    FieldType type;
    uint32_t width;
    uint32_t writeMode;
    uint32_t userCode;
};

inline constexpr std::size_t nuberOfStandardDataTypes = 11;
extern const DataTypeInfo standardDataTypes[nuberOfStandardDataTypes];

// The type an element name stands for (letter case ignored), or null.
const DataTypeInfo* findDataType(std::string_view elementName);
const DataTypeInfo& dataTypeInfo(FieldType type);

// Names of pages and fields hold at most this many bytes.
inline constexpr std::size_t MAX_NAME_LENGTH = 511;
std::string cutName(std::string_view name);

struct PAGE_DATA_NODE {
    uint32_t width = 0;
    std::string name;
    uint32_t writeMode = WRITE_NUMBER;
    uint32_t count = 1;
    uint32_t offset = 0;
    // Numbers: count x width little-endian bytes (4 for a bit field, its value as a u32); text: count + 1
    // bytes, NUL terminated.
    std::vector<uint8_t> data;
    uint8_t topLevel = 0;
    uint8_t hasChildren = 0;
    uint8_t query = 0;
    uint32_t level = 0;
    FieldType type = FieldType::Byte;
    uint8_t formatDecimal = 0;
};

struct PAGE_RECORD {
    std::string name;
    uint32_t length = 0;
    uint16_t pageId = 0;
    uint8_t checksum = 0;
    std::vector<PAGE_DATA_NODE> nodes;
};

} // namespace pageengine

#endif
