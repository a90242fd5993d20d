#include "scenario/ScenarioLine.h"

#include <algorithm>
#include <cctype>

namespace zsim {

uint64_t parseNumber(const Line& line, const std::string& text, uint64_t maximum) {
    if (text.empty())
        line.fail("empty number");
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    uint64_t value = 0;
    for (char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && std::isxdigit(static_cast<unsigned char>(c)))
            digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (digit < 0 || digits.empty())
            line.fail("not a number: '" + text + "'");
        const uint64_t base = hex ? 16 : 10;
        if (value > (UINT64_MAX - digit) / base)
            line.fail("number too large: '" + text + "'");
        value = value * base + digit;
    }
    if (value > maximum)
        line.fail("value out of range: '" + text + "'");
    return value;
}

std::vector<uint8_t> parseHexBytes(const Line& line, size_t firstArg) {
    std::string digits;
    for (size_t i = firstArg; i < line.args.size(); ++i)
        for (char c : line.args[i])
            if (c != ':' && c != '-')
                digits += c;
    if (digits.size() % 2 != 0)
        line.fail("odd number of hex digits");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(digits[i])) ||
            !std::isxdigit(static_cast<unsigned char>(digits[i + 1])))
            line.fail("not hex: '" + digits.substr(i, 2) + "'");
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

uint64_t parseSasAddress(const Line& line, const std::string& text) {
    std::string digits;
    for (char c : text.substr(text.rfind("0x", 0) == 0 ? 2 : 0))
        if (c != ':')
            digits += c;
    if (digits.empty() || digits.size() > 16 || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c));
        }))
        line.fail("not a SAS address: '" + text + "'");
    return std::stoull(digits, nullptr, 16);
}

bool parseOnOff(const Line& line, const std::string& text) {
    if (text == "on" || text == "1")
        return true;
    if (text == "off" || text == "0")
        return false;
    line.fail("expected on or off: '" + text + "'");
}

} // namespace zsim
