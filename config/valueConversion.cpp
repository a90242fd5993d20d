#include "config/valueConversion.h"

#include "config/engineState.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace pageengine {

namespace {

constexpr uint64_t MAX_DECIMAL_FORMAT_VALUE = 0xFFFFFFFFull;

bool isHexDigit(char c) {
    return c != '\0' && std::strchr("0123456789ABCDEFabcdef", c) != nullptr;
}
bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

uint32_t hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<uint32_t>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<uint32_t>(c - 'a' + 10);
    return static_cast<uint32_t>(c - 'A' + 10);
}

bool hasHexPrefix(std::string_view text) {
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Digits read as a number of at most 64 bits; nothing for an empty text, a foreign character or overflow.
std::optional<uint64_t> parseNumber(std::string_view digits, uint32_t base) {
    if (digits.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        bool valid = base == 16 ? isHexDigit(c) : isDecimalDigit(c);
        if (!valid)
            return std::nullopt;
        uint32_t digit = hexDigitValue(c);
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / base)
            return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

// Decimal digits as a number; a value too large for 64 bits saturates (it fails every range check).
std::optional<uint64_t> parseDecimalSaturating(std::string_view digits) {
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDecimalDigit))
        return std::nullopt;
    std::optional<uint64_t> value = parseNumber(digits, 10);
    return value ? value : std::optional<uint64_t>(std::numeric_limits<uint64_t>::max());
}

std::size_t hexDigitCount(uint64_t value) {
    std::size_t digits = 1;
    while (value >>= 4)
        ++digits;
    return digits;
}

bool belowPowerOfTwo(uint64_t value, uint32_t bits) {
    return bits >= 64 || value < (uint64_t{1} << bits);
}

void invalidContentForElement(std::string_view element, std::string_view page) {
    userMessage("\nERROR : Invalid content for element \"%.*s\" in page \"%.*s\".\n\n",
                static_cast<int>(element.size()), element.data(), static_cast<int>(page.size()), page.data());
}

// The two lines that report a value with more digits than its field holds.
void tooManyDigits(const PAGE_DATA_NODE& node, std::string_view page, const char* unit, std::size_t found) {
    userMessage("ERROR : Invalid content for element \"%s\" in page \"%.*s\".\n", node.name.c_str(),
                static_cast<int>(page.size()), page.data());
    if (node.count == 1)
        userMessage("Expected maximum 1 %s, %zu %sS found.", unit, found, unit);
    else
        userMessage("Expected maximum %d %sS, %zu %sS found.", static_cast<int>(node.count), unit, found,
                    unit);
}

void putLittleEndian(uint8_t* bytes, uint32_t width, uint64_t value) {
    for (uint32_t i = 0; i < width; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getLittleEndian(const uint8_t* bytes, uint32_t width) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < width; ++i)
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return value;
}

ZELKOR_STATUS setTextData(PAGE_DATA_NODE& node, std::string_view text, std::string_view page, uint8_t fill) {
    if (text.size() > node.count) {
        invalidContentForElement(node.name, page);
        return STATUS_INVALID_XML;
    }
    node.data.assign(std::size_t{node.count} + 1, fill);
    std::copy(text.begin(), text.end(), node.data.begin());
    node.data[node.count] = 0;
    return STATUS_OK;
}

ZELKOR_STATUS setWideTextData(PAGE_DATA_NODE& node, std::string_view text, std::string_view page) {
    if (text.size() > node.count) {
        invalidContentForElement(node.name, page);
        return STATUS_INVALID_XML;
    }
    node.data.assign(text.begin(), text.end());
    node.data.push_back(0);
    node.count = static_cast<uint32_t>(text.size() + 1);
    return STATUS_OK;
}

// Number types: the text is one big-endian hexadecimal number of 2 x width x count digits (a ByteString
// is its bytes in text order).
ZELKOR_STATUS setNumberData(PAGE_DATA_NODE& node, std::string_view text, std::string_view page) {
    const std::size_t chunk = 2 * std::size_t{node.width};
    const std::size_t wanted = chunk * node.count;
    std::string digits(text);
    if (digits.size() < wanted)
        digits.insert(0, wanted - digits.size(), '0');
    if (!std::all_of(digits.begin(), digits.end(), isHexDigit)) {
        userMessage("\nERROR : Invalid content \"%s\" in page \"%.*s\".", digits.c_str(),
                    static_cast<int>(page.size()), page.data());
        return STATUS_INVALID_XML;
    }
    if (digits.size() % 2 != 0)
        digits.insert(0, 1, '0');
    if (digits.size() > wanted) {
        std::size_t excess = digits.size() - wanted;
        if (!std::all_of(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(excess),
                         [](char c) { return c == '0'; })) {
            const char* unit = node.width == 4 ? "DWORD" : node.width == 2 ? "WORD" : "BYTE";
            tooManyDigits(node, page, unit, (digits.size() + chunk - 1) / chunk);
            return STATUS_INVALID_XML;
        }
        digits.erase(0, excess);
    }
    node.data.assign(wanted / 2, 0);
    const bool textOrder = node.type == FieldType::ByteString;
    for (std::size_t i = 0; i < node.count; ++i) {
        uint64_t value = *parseNumber(std::string_view(digits).substr(i * chunk, chunk), 16);
        std::size_t element = textOrder ? i : node.count - 1 - i;
        putLittleEndian(&node.data[element * node.width], node.width, value);
    }
    return STATUS_OK;
}

ZELKOR_STATUS setBitData(PAGE_DATA_NODE& node, std::string_view text, std::string_view page) {
    node.data.assign(4, 0);
    std::string_view digits = text;
    if (hasHexPrefix(digits)) {
        digits.remove_prefix(2);
        if (digits.empty())
            return STATUS_INVALID_XML;
    }
    if (digits.empty())
        return node.count <= 32 ? STATUS_OK : STATUS_INVALID_XML; // no value: all bits clear
    const std::size_t allowed = (std::size_t{node.count} + 3) / 4;
    if (digits.size() > allowed) {
        std::size_t excess = digits.size() - allowed;
        if (!std::all_of(digits.begin(), digits.begin() + static_cast<std::ptrdiff_t>(excess),
                         [](char c) { return c == '0'; })) {
            tooManyDigits(node, page, "BIT", 4 * digits.size());
            return STATUS_INVALID_XML;
        }
        digits.remove_prefix(excess);
    }
    std::string kept(digits);
    uint32_t value = 0;
    if (convertToHex(kept.c_str(), &value) != STATUS_OK || node.count > 32 ||
        !belowPowerOfTwo(value, node.count))
        return STATUS_INVALID_XML;
    putLittleEndian(node.data.data(), 4, value);
    return STATUS_OK;
}

// Four decimal numbers 0 to 255 separated by dots, optionally surrounded by blanks; an empty text is
// 0.0.0.0. Anything else is refused rather than stored in part.
bool parseDottedQuad(std::string_view text, uint8_t (&bytes)[4]) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i == text.size()) {
        std::fill(std::begin(bytes), std::end(bytes), 0);
        return true;
    }
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
        std::size_t start = i;
        while (i < text.size() && isDecimalDigit(text[i]) && i - start < 4)
            ++i;
        std::optional<uint64_t> value = parseNumber(text.substr(start, i - start), 10);
        if (!value || i - start > 3 || *value > 255)
            return false;
        bytes[part] = static_cast<uint8_t>(*value);
    }
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i == text.size();
}

ZELKOR_STATUS setIpAddressData(PAGE_DATA_NODE& node, std::string_view text, std::string_view page) {
    uint8_t bytes[4] = {};
    if (node.count != 4 || !parseDottedQuad(text, bytes)) {
        invalidContentForElement(node.name, page);
        return STATUS_INVALID_XML;
    }
    node.data.assign(std::begin(bytes), std::end(bytes));
    return STATUS_OK;
}

ZELKOR_STATUS offsetValidationFailed(const std::string& child, const std::string& container) {
    userMessage("\nERROR : Offset validation failed for element \"%s\" in parent element \"%s\".\n\n",
                child.c_str(), container.c_str());
    userMessage("The XML file failed Schema validation.");
    return STATUS_OFFSET_VALIDATION;
}

bool isDecimalFormatType(FieldType type) {
    return type == FieldType::Bit || type == FieldType::Byte || type == FieldType::ByteArray ||
           type == FieldType::Word || type == FieldType::Dword;
}

bool isWholeByteWidth(uint32_t width) {
    return width == 1 || width == 2 || width == 4;
}

std::string hexText(std::span<const uint8_t> bytes, bool reversed) {
    std::string text;
    char digits[3];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[reversed ? bytes.size() - 1 - i : i]);
        text += digits;
    }
    return text;
}

} // namespace

ZELKOR_STATUS convertToHex(const char* text, uint32_t* value) {
    if (text == nullptr || value == nullptr)
        return STATUS_NULL_ARGUMENT;
    std::string_view digits(text);
    if (hasHexPrefix(digits) && digits.size() < 11)
        digits.remove_prefix(2);
    if (digits.empty() || digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), isHexDigit))
        return STATUS_FAILURE;
    *value = static_cast<uint32_t>(*parseNumber(digits, 16));
    return STATUS_OK;
}

ZELKOR_STATUS setNodeData(PAGE_DATA_NODE& node, std::string_view text, std::string_view pageName) {
    switch (node.type) {
    case FieldType::Char:
        return setTextData(node, text, pageName, ' ');
    case FieldType::CharNullPad:
        return setTextData(node, text, pageName, 0);
    case FieldType::UniCharV:
        return setWideTextData(node, text, pageName);
    case FieldType::Bit:
        return setBitData(node, text, pageName);
    case FieldType::IpAddress:
        return setIpAddressData(node, text, pageName);
    case FieldType::Byte:
    case FieldType::ByteArray:
    case FieldType::ByteString:
    case FieldType::Word:
    case FieldType::Dword:
        return setNumberData(node, text, pageName);
    case FieldType::Hex:
        break;
    }
    return STATUS_INVALID_XML;
}

ZELKOR_STATUS getChildNodeData(std::vector<PAGE_DATA_NODE>& nodes, std::size_t container) {
    if (container >= nodes.size() || !isWholeByteWidth(nodes[container].width))
        return STATUS_INVALID_XML;
    const uint32_t level = nodes[container].level;
    const std::size_t containerBytes = std::size_t{nodes[container].width} * nodes[container].count;
    const uint64_t firstElementBits = 8ull * nodes[container].width;
    if (nodes[container].data.size() < containerBytes)
        nodes[container].data.resize(containerBytes, 0);
    uint64_t running = 0;
    for (std::size_t i = container + 1; i < nodes.size() && nodes[i].level > level && !nodes[i].topLevel;
         ++i) {
        if (nodes[i].level != level + 1)
            continue; // a grandchild, packed with its own container
        if (nodes[i].hasChildren) {
            if (ZELKOR_STATUS status = getChildNodeData(nodes, i); status != STATUS_OK)
                return status;
        }
        PAGE_DATA_NODE& parent = nodes[container];
        const PAGE_DATA_NODE& child = nodes[i];
        if (child.offset != 0 && child.offset < running)
            return offsetValidationFailed(child.name, parent.name);
        const uint64_t position = child.offset != 0 ? child.offset : running;
        if (child.width == WIDTH_BIT) {
            // A bit field lives in the container's first element, counted from its least significant bit.
            if (position + child.count > firstElementBits || child.data.size() < 4)
                return offsetValidationFailed(child.name, parent.name);
            uint32_t value = getLittleEndian(child.data.data(), 4);
            uint32_t element = getLittleEndian(parent.data.data(), parent.width);
            element |= value << position;
            putLittleEndian(parent.data.data(), parent.width, element);
            running = position + child.count;
        } else if (isWholeByteWidth(child.width)) {
            const uint64_t size = uint64_t{child.width} * child.count;
            if (position + size > containerBytes || child.data.size() < size)
                return offsetValidationFailed(child.name, parent.name);
            std::copy_n(child.data.begin(), size,
                        parent.data.begin() + static_cast<std::ptrdiff_t>(position));
            running = position + size;
        } else {
            return STATUS_INVALID_XML;
        }
    }
    return STATUS_OK;
}

ZELKOR_STATUS PageReader::pageOverrun(const PAGE_DATA_NODE& field) {
    overrun_ = true;
    engineLog(FUNCTION_BIN2XML, ZELKOR_LOG_ERROR, "Page data ends inside field \"%s\".\n",
              field.name.c_str());
    return STATUS_FAILURE;
}

ZELKOR_STATUS PageReader::place(const PAGE_DATA_NODE& field, std::size_t size, std::size_t& at) {
    if (containers_.empty()) {
        if (size > data_.size() - gPageDataCounter)
            return pageOverrun(field);
        at = gPageDataCounter;
        gPageDataCounter += size;
        return STATUS_OK;
    }
    Container& parent = containers_.back();
    if ((field.offset != 0 && field.offset < parent.nextByte) ||
        uint64_t{field.offset != 0 ? field.offset : parent.nextByte} + size > parent.size)
        return offsetValidationFailed(field.name, parent.name);
    std::size_t relative = field.offset != 0 ? field.offset : parent.nextByte;
    at = parent.start + relative;
    parent.nextByte = relative + size;
    return STATUS_OK;
}

ZELKOR_STATUS PageReader::readBit(const PAGE_DATA_NODE& field, std::optional<std::string>& text) {
    if (containers_.empty()) {
        topBitOffset_ += field.count; // a bit field outside a container has no bytes to read
        return STATUS_OK;
    }
    Container& parent = containers_.back();
    if (field.count == 0 || field.count > 32)
        return STATUS_INVALID_XML;
    uint64_t position = field.offset != 0 ? field.offset : parent.gBitOffset;
    if ((field.offset != 0 && field.offset < parent.gBitOffset) ||
        position + field.count > 8ull * parent.width)
        return offsetValidationFailed(field.name, parent.name);
    uint32_t element = getLittleEndian(&data_[parent.start], parent.width);
    uint64_t mask = (uint64_t{1} << field.count) - 1;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>((element >> position) & mask));
    text = digits;
    parent.gBitOffset = static_cast<uint32_t>(position + field.count);
    return STATUS_OK;
}

ZELKOR_STATUS PageReader::readField(const PAGE_DATA_NODE& field, std::optional<std::string>& text) {
    text.reset();
    std::size_t at = 0;
    ZELKOR_STATUS status = STATUS_OK;
    switch (field.type) {
    case FieldType::Bit:
        status = readBit(field, text);
        break;
    case FieldType::UniCharV: {
        if (!containers_.empty())
            return STATUS_INVALID_XML;
        std::string characters;
        std::size_t cursor = gPageDataCounter;
        for (;;) {
            if (data_.size() - cursor < 2)
                return pageOverrun(field);
            if (data_[cursor] == 0 && data_[cursor + 1] == 0)
                break;
            characters += static_cast<char>(data_[cursor]);
            cursor += 2;
        }
        gPageDataCounter = cursor + 2;
        text = std::move(characters);
        break;
    }
    case FieldType::Char:
    case FieldType::CharNullPad: {
        if ((status = place(field, field.count, at)) != STATUS_OK)
            return status;
        auto bytes = data_.subspan(at, field.count);
        auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
        text = std::string(bytes.begin(), end);
        break;
    }
    case FieldType::IpAddress: {
        if ((status = place(field, field.count, at)) != STATUS_OK)
            return status;
        std::string address;
        for (std::size_t i = 0; i < field.count; ++i) {
            if (i != 0)
                address += '.';
            address += std::to_string(data_[at + i]);
        }
        text = std::move(address);
        break;
    }
    case FieldType::ByteString:
        if ((status = place(field, field.count, at)) != STATUS_OK)
            return status;
        text = hexText(data_.subspan(at, field.count), false);
        break;
    case FieldType::Byte:
    case FieldType::ByteArray:
    case FieldType::Word:
    case FieldType::Dword: {
        std::size_t size = std::size_t{field.width} * field.count;
        if ((status = place(field, size, at)) != STATUS_OK)
            return status;
        text = hexText(data_.subspan(at, size), true);
        break;
    }
    case FieldType::Hex:
        return STATUS_INVALID_XML;
    }
    if (status != STATUS_OK || !text || !field.formatDecimal || !isDecimalFormatType(field.type))
        return status;
    // Decimal output: the value must fit the 32 bits the decimal form allows.
    std::string_view digits(*text);
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
    uint32_t value = 0;
    if (!digits.empty()) {
        std::string kept(digits);
        if (convertToHex(kept.c_str(), &value) != STATUS_OK) {
            invalidContentForElement(field.name, engineState().gPageName);
            return STATUS_INVALID_XML;
        }
    }
    text = std::to_string(value);
    return STATUS_OK;
}

ZELKOR_STATUS PageReader::enterContainer(const PAGE_DATA_NODE& container) {
    if (!isWholeByteWidth(container.width) || container.count == 0)
        return STATUS_INVALID_XML;
    std::size_t size = std::size_t{container.width} * container.count;
    std::size_t at = 0;
    if (ZELKOR_STATUS status = place(container, size, at); status != STATUS_OK)
        return status;
    containers_.push_back({container.name, at, container.width, size, 0, 0});
    return STATUS_OK;
}

void PageReader::leaveContainer() {
    // The container's place was claimed whole when it was entered: the next field follows its last byte.
    if (!containers_.empty())
        containers_.pop_back();
}

bool isReservedFieldName(std::string_view name) {
    return name.find("Reserved") != std::string_view::npos || name.find("reserved") != std::string_view::npos;
}

int validateUserInput(const char* text, uint32_t code) {
    if (text == nullptr)
        return 0;
    std::string_view value(text);
    switch (code) {
    case USER_TYPE_BIT:
    case USER_TYPE_BYTE:
    case USER_TYPE_WORD:
    case USER_TYPE_DWORD:
        if (engineState().gBoolFormatDecimalFound)
            return std::all_of(value.begin(), value.end(), isDecimalDigit) ? 1 : 0;
        return std::all_of(value.begin(), value.end(), isHexDigit) ? 1 : 0;
    case USER_TYPE_CHAR:
    case USER_TYPE_CHAR_NULL_PAD:
    case USER_TYPE_UNICHARV:
    case USER_TYPE_FROM_XSD:
        return 1;
    case USER_TYPE_IPADDRESS: {
        if (value.find_first_not_of("0123456789.") != std::string_view::npos ||
            std::count(value.begin(), value.end(), '.') != 3)
            return 0;
        std::size_t start = 0;
        for (int part = 0; part < 4; ++part) {
            std::size_t end = part < 3 ? value.find('.', start) : value.size();
            std::optional<uint64_t> number = parseDecimalSaturating(value.substr(start, end - start));
            if (!number || *number > 255 || (part == 0 && *number < 1))
                return 0;
            start = end + 1;
        }
        return 1;
    }
    default:
        return 0;
    }
}

int validateInputLength(const char* text, uint32_t code, uint32_t length) {
    if (text == nullptr)
        return 0;
    std::string_view value(text);
    const bool decimal = engineState().gBoolFormatDecimalFound;
    const uint64_t digitLimit = 2ull * code * length;
    switch (code) {
    case USER_TYPE_BIT: {
        std::optional<uint64_t> number = decimal ? parseDecimalSaturating(value) : parseNumber(value, 16);
        return number && belowPowerOfTwo(*number, length) ? 1 : 0;
    }
    case USER_TYPE_BYTE:
    case USER_TYPE_WORD:
    case USER_TYPE_DWORD: {
        if (!decimal)
            return value.size() <= digitLimit ? 1 : 0;
        std::optional<uint64_t> number = parseDecimalSaturating(value);
        if (!number)
            return 0;
        if (*number > MAX_DECIMAL_FORMAT_VALUE) {
            userMessage(
                "\nINFO  : Maximum value supported for Decimal format is 4294967295(i.e. 0XFFFFFFFF).");
            return 0;
        }
        return hexDigitCount(*number) <= digitLimit ? 1 : 0;
    }
    case USER_TYPE_CHAR:
    case USER_TYPE_CHAR_NULL_PAD:
    case USER_TYPE_UNICHARV:
        return value.size() <= length ? 1 : 0;
    default:
        return 1;
    }
}

int validateDecimalValueRangeForFomatAttrib(const char* text, uint32_t code, uint32_t length) {
    if (code != USER_TYPE_BIT && code != USER_TYPE_BYTE && code != USER_TYPE_WORD && code != USER_TYPE_DWORD)
        return 1;
    std::optional<uint64_t> parsed = text != nullptr ? parseDecimalSaturating(text) : std::nullopt;
    bool valid = parsed.has_value();
    const uint64_t number = parsed.value_or(0);
    if (valid && code == USER_TYPE_BIT) {
        valid = belowPowerOfTwo(number, length);
    } else if (valid) {
        if (number > MAX_DECIMAL_FORMAT_VALUE) {
            userMessage(
                "\nINFO  : Maximum value supported for Decimal format is 4294967295(i.e. 0XFFFFFFFF).");
            valid = false;
        } else {
            valid = hexDigitCount(number) <= 2ull * code * length;
        }
    }
    if (!valid) {
        const EngineState& state = engineState();
        if (state.gFormatPageName.empty())
            userMessage("\nERROR : Invalid content for element \"%s\".\n\n",
                        state.gFormatElementName.c_str());
        else
            invalidContentForElement(state.gFormatElementName, state.gFormatPageName);
    }
    return valid ? 1 : 0;
}

} // namespace pageengine
