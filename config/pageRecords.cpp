#include "config/pageRecords.h"

#include <strings.h>

namespace pageengine {

// In the engine's fixed order. "Hex" is a known name without a conversion of its own.
const DataTypeInfo standardDataTypes[nuberOfStandardDataTypes] = {
    {"BIT", FieldType::Bit, WIDTH_BIT, WRITE_NUMBER, USER_TYPE_BIT},
    {"BYTE", FieldType::Byte, 1, WRITE_NUMBER, USER_TYPE_BYTE},
    {"ByteArray", FieldType::ByteArray, 1, WRITE_NUMBER, USER_TYPE_BYTE},
    {"CHAR", FieldType::Char, 1, WRITE_TEXT_SPACE_PADDED, USER_TYPE_CHAR},
    {"DWORD", FieldType::Dword, 4, WRITE_NUMBER, USER_TYPE_DWORD},
    {"Hex", FieldType::Hex, 1, WRITE_NUMBER, USER_TYPE_BYTE},
    {"WORD", FieldType::Word, 2, WRITE_NUMBER, USER_TYPE_WORD},
    {"IPAddress", FieldType::IpAddress, 1, WRITE_NUMBER, USER_TYPE_IPADDRESS},
    {"ByteString", FieldType::ByteString, 1, WRITE_NUMBER, USER_TYPE_BYTE},
    {"CHAR_NULL_PAD", FieldType::CharNullPad, 1, WRITE_TEXT_ZERO_PADDED, USER_TYPE_CHAR_NULL_PAD},
    {"UNICHARV", FieldType::UniCharV, WIDTH_WIDE_TEXT, WRITE_WIDE_TEXT, USER_TYPE_UNICHARV},
};

const DataTypeInfo* findDataType(std::string_view elementName) {
    for (const DataTypeInfo& info : standardDataTypes) {
        std::string_view name(info.name);
        if (name.size() == elementName.size() &&
            strncasecmp(name.data(), elementName.data(), name.size()) == 0)
            return &info;
    }
    return nullptr;
}

const DataTypeInfo& dataTypeInfo(FieldType type) {
    for (const DataTypeInfo& info : standardDataTypes)
        if (info.type == type)
            return info;
    return standardDataTypes[1];
}

std::string cutName(std::string_view name) {
    if (name.size() <= MAX_NAME_LENGTH)
        return std::string(name);
    // Cut on a character boundary so that a UTF-8 name stays valid.
    std::size_t end = MAX_NAME_LENGTH;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return std::string(name.substr(0, end));
}

} // namespace pageengine
