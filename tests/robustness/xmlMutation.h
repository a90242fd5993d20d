// Hostile inputs made from valid ones, for the robustness tests of the XML side: seeded mutations of XML
// texts (bit flips, cuts, hostile element and attribute values, repeated and missing lines, renamed
// elements, deep nesting, documents that are empty or not XML) and of region images (flips, cuts, length
// fields that disagree with the data, wrong page ids, repeated pages), plus purely random bytes. Every
// mutation is a function of the seed alone, so a failure's seed reproduces its input.
#ifndef TESTS_ROBUSTNESS_XML_MUTATION_H
#define TESTS_ROBUSTNESS_XML_MUTATION_H

#include "dice.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace robust {


inline std::string hexNumber(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// A text shown in a failure message: printable bytes as they are, the others as \xNN; very long texts
// are shortened in the middle.
inline std::string shown(const std::string& text, size_t limit = 6000) {
    std::string out;
    auto add = [&out](unsigned char c) {
        if (c == '\n' || (c >= 0x20 && c < 0x7F)) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    };
    if (text.size() <= limit) {
        for (unsigned char c : text)
            add(c);
        return out;
    }
    for (size_t i = 0; i < limit / 2; ++i)
        add(static_cast<unsigned char>(text[i]));
    out += "\n[... " + std::to_string(text.size() - limit) + " bytes ...]\n";
    for (size_t i = text.size() - limit / 2; i < text.size(); ++i)
        add(static_cast<unsigned char>(text[i]));
    return out;
}

// ---- XML texts ----

// Values that break numbers, texts and names: huge and negative numbers, prefixes where none belong,
// non-ASCII and control bytes, a NUL, entities, and very long runs.
inline std::string hostileValue(Dice& d) {
    switch (d.below(16)) {
    case 0:
        return "";
    case 1:
        return d.oneOf({"-1", "-0", "-2147483648", "+5", " 7 ", "1e9", "0.5"});
    case 2:
        return d.oneOf({"4294967295", "4294967296", "18446744073709551615", "18446744073709551616",
                        "99999999999999999999999999999999", "65531", "65532", "65535", "65536", "2147483648"});
    case 3:
        return d.oneOf({"0x", "0X", "0x0x1", "x1", "0xFFFFFFFF", "0x100000000", "FFFFFFFF", "100000000",
                        "FFFFFFFFFFFFFFFFFFFFFFFF"});
    case 4: { // a long run
        const size_t count = d.oneOf(std::vector<size_t>{7, 8, 9, 16, 17, 255, 256, 511, 512, 513, 4096, 20000});
        return d.oneOf({"", "1", "0x"}) + std::string(count, d.oneOf(std::vector<char>{'0', 'F', '1', 'a', ' ', '.'}));
    }
    case 5:
        return d.oneOf({"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF\xFE", "\xC3", "\x80", "\xED\xA0\x80"});
    case 6:
        return std::string("ab\0cd", 5);
    case 7:
        return d.oneOf({"&#0;", "&#1;", "&#x7F;", "&#xFFFF;", "&#x10FFFF;", "&#xD800;", "&lt;&gt;&amp;&quot;",
                        "&undefined;", "&#65;"});
    case 8:
        return d.oneOf({"1.2.3", "1.2.3.4.5", "256.256.256.256", "...", "1..2.3", "-1.0.0.0", "999999999999.1.1.1",
                        "0.0.0.0", "255.255.255.255", "1.2.3.4 junk"});
    case 9:
        return d.oneOf({"TRUE", "true", "True", "FALSE", "Dec", "DEC", "dec", "PAGE", "page1"});
    case 10:
        return d.chance(50) ? std::to_string(d.word())
                            : d.oneOf({"0", "1", "2", "3", "4", "5", "8", "9", "15", "16", "31", "32", "33", "63", "64",
                                       "255", "256", "16383", "16384"});
    case 11:
        return hexNumber(d.word()).substr(2);
    case 12:
        return "\t\n \r";
    case 13:
        return d.oneOf({"%s%s%s%n", "%x%x%x%x", "\\\\", "'\"", "]]>", "<!--", "<a>"});
    case 14:
        return d.text(1 + d.below(12));
    default:
        return std::string(70000, d.oneOf(std::vector<char>{'A', '1', '0'}));
    }
}

// Start and end of every element text (between '>' and the next '<') and of every attribute value.
struct Span {
    size_t begin;
    size_t end;
};

inline std::vector<Span> textSpans(const std::string& xml) {
    std::vector<Span> spans;
    for (size_t i = 0; i < xml.size(); ++i) {
        if (xml[i] != '>')
            continue;
        size_t next = xml.find('<', i + 1);
        if (next == std::string::npos)
            break;
        spans.push_back({i + 1, next});
    }
    return spans;
}

inline std::vector<Span> attributeSpans(const std::string& xml) {
    std::vector<Span> spans;
    for (size_t i = 0; i + 1 < xml.size(); ++i) {
        if (xml[i] != '=' || xml[i + 1] != '"')
            continue;
        size_t close = xml.find('"', i + 2);
        if (close == std::string::npos)
            break;
        spans.push_back({i + 2, close});
        i = close;
    }
    return spans;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return out;
}

inline std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts)
        out += p;
    return out;
}

// Names an element may be renamed to: every type name, the structure's names, names the engine has no
// conversion for.
inline std::string elementName(Dice& d) {
    return d.oneOf({"BIT", "BYTE", "ByteArray", "ByteString", "WORD", "DWORD", "IPAddress", "CHAR", "CHAR_NULL_PAD",
                    "UNICHARV", "Hex", "CONFIGSET", "PAGE", "MANUFACTURING", "page1", "page2", "flags", "lanes",
                    "count", "bit", "dword", "Unknown", "x"});
}

inline std::string attributeName(Dice& d) {
    return d.oneOf({"LENGTH", "OFFSET", "ID", "NAME", "UNIT", "QUERY", "FORMAT", "DEFINE", "USE", "INDEX", "TYPE",
                    "xsi:noNamespaceSchemaLocation", "Product", "SchemaVersion"});
}

// One mutation of an XML text.
inline std::string mutateXml(Dice& d, std::string xml) {
    switch (d.below(14)) {
    case 0: { // bit flips
        for (uint32_t n = 1 + d.below(4); n > 0 && !xml.empty(); --n)
            xml[d.below(static_cast<uint32_t>(xml.size()))] ^= static_cast<char>(1u << d.below(8));
        return xml;
    }
    case 1: { // a cut: nothing, a few bytes, inside, one byte short
        const uint32_t size = static_cast<uint32_t>(xml.size());
        const uint32_t cuts[] = {0, 1, 2, 5, 38, size / 3, size / 2, size - 2, size - 1, d.below(size)};
        return xml.substr(0, cuts[d.below(10)]);
    }
    case 2:
    case 3:
    case 4: { // element texts
        std::vector<Span> spans = textSpans(xml);
        for (uint32_t n = 1 + d.below(2); n > 0 && !spans.empty(); --n) {
            const Span s = spans[d.below(static_cast<uint32_t>(spans.size()))];
            xml.replace(s.begin, s.end - s.begin, hostileValue(d));
            spans = textSpans(xml);
        }
        return xml;
    }
    case 5:
    case 6:
    case 7: { // attribute values
        std::vector<Span> spans = attributeSpans(xml);
        for (uint32_t n = 1 + d.below(2); n > 0 && !spans.empty(); --n) {
            const Span s = spans[d.below(static_cast<uint32_t>(spans.size()))];
            std::string value = hostileValue(d);
            // A quote would only end the value early; keep the document's shape.
            std::replace(value.begin(), value.end(), '"', '\'');
            xml.replace(s.begin, s.end - s.begin, value);
            spans = attributeSpans(xml);
        }
        return xml;
    }
    case 8: { // lines repeated or missing
        std::vector<std::string> parts = lines(xml);
        if (parts.size() < 3)
            return xml;
        const uint32_t at = 1 + d.below(static_cast<uint32_t>(parts.size() - 2));
        if (d.chance(50)) {
            parts.erase(parts.begin() + at);
        } else {
            const std::string copy = parts[at];
            parts.insert(parts.begin() + at, d.chance(30) ? 200 : 1 + d.below(3), copy);
        }
        return joined(parts);
    }
    case 9: { // an element renamed (start tag only, or both tags)
        size_t open = std::string::npos;
        for (uint32_t tries = 0; tries < 20 && open == std::string::npos; ++tries) {
            size_t at = xml.find('<', d.below(static_cast<uint32_t>(xml.size())));
            if (at != std::string::npos && at + 1 < xml.size() && std::isalpha(static_cast<unsigned char>(xml[at + 1])))
                open = at;
        }
        if (open == std::string::npos)
            return xml;
        size_t nameEnd = xml.find_first_of(" />", open + 1);
        if (nameEnd == std::string::npos)
            return xml;
        const std::string oldName = xml.substr(open + 1, nameEnd - open - 1);
        const std::string newName = elementName(d);
        xml.replace(open + 1, oldName.size(), newName);
        if (d.chance(70)) {
            size_t close = xml.find("</" + oldName + ">", open);
            if (close != std::string::npos)
                xml.replace(close + 2, oldName.size(), newName);
        }
        return xml;
    }
    case 10: { // an attribute added to an element
        std::vector<Span> spans = textSpans(xml);
        if (spans.empty())
            return xml;
        const Span s = spans[d.below(static_cast<uint32_t>(spans.size()))];
        size_t tagEnd = s.begin - 1;
        if (tagEnd > 0 && xml[tagEnd - 1] == '/')
            --tagEnd;
        std::string value = hostileValue(d);
        std::replace(value.begin(), value.end(), '"', '\'');
        std::string attribute(" ");
        attribute.append(attributeName(d)).append("=\"").append(value).append("\"");
        xml.insert(tagEnd, attribute);
        return xml;
    }
    case 11: { // deep nesting inside an element
        std::vector<Span> spans = textSpans(xml);
        if (spans.empty())
            return xml;
        const Span s = spans[d.below(static_cast<uint32_t>(spans.size()))];
        const std::string name = elementName(d);
        const uint32_t depth = d.oneOf(std::vector<uint32_t>{2, 3, 10, 100, 255, 256, 300, 2000});
        std::string open, close;
        for (uint32_t i = 0; i < depth; ++i) {
            open += "<" + name + (d.chance(20) ? " LENGTH=\"1\"" : "") + ">";
            close += "</" + name + ">";
        }
        xml.replace(s.begin, s.end - s.begin, open + (d.chance(50) ? "1" : "") + close);
        return xml;
    }
    case 12: // documents that are empty or hardly XML
        return d.oneOf({"", " ", "\n", "<", "<?xml version=\"1.0\"?>", "<MANUFACTURING/>", "<MANUFACTURING>",
                        "<?xml version=\"1.0\"?><MANUFACTURING></MANUFACTURING>", "not xml at all",
                        "\xEF\xBB\xBF", "<a><b></a></b>", "<!DOCTYPE x [<!ENTITY e \"&e;\">]><x>&e;</x>",
                        "<?xml version=\"1.0\" encoding=\"UTF-16\"?><MANUFACTURING/>", "{\"json\": true}"});
    default: // random bytes
        return d.text(d.below(600));
    }
}

// A few mutations one after the other, now and then.
inline std::string hostileXml(Dice& d, const std::string& valid) {
    std::string xml = mutateXml(d, valid);
    for (uint32_t n = d.chance(25) ? 1 + d.below(3) : 0; n > 0; --n)
        xml = mutateXml(d, xml);
    return xml;
}

// A schema with hostile values where a schema holds values the engine reads: the fixed and default
// values of declarations (TYPE, LENGTH, OFFSET, ID, NAME and field texts) and the occurrence bounds; now
// and then a mutation of any kind on top.
inline std::string hostileSchema(Dice& d, std::string xsd) {
    std::vector<Span> spans;
    for (const char* key : {"fixed=\"", "default=\"", "maxOccurs=\"", "minOccurs=\""})
        for (size_t at = xsd.find(key); at != std::string::npos; at = xsd.find(key, at + 1)) {
            const size_t begin = at + std::char_traits<char>::length(key);
            const size_t end = xsd.find('"', begin);
            if (end != std::string::npos)
                spans.push_back({begin, end});
        }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin > b.begin; });
    // From the end backwards, so that the earlier spans stay where they are.
    std::vector<Span> chosen;
    for (const Span& s : spans)
        if (d.chance(6))
            chosen.push_back(s);
    if (chosen.empty() && !spans.empty())
        chosen.push_back(spans[d.below(static_cast<uint32_t>(spans.size()))]);
    for (const Span& s : chosen) {
        std::string value = d.chance(30) ? elementName(d) : hostileValue(d);
        for (char& c : value)
            if (c == '"' || c == '<' || c == '&')
                c = '_';
        xsd.replace(s.begin, s.end - s.begin, value);
    }
    return d.chance(20) ? mutateXml(d, xsd) : xsd;
}

// ---- region images ----

inline unsigned lengthAt(const std::string& image, size_t p) {
    return static_cast<uint8_t>(image[p + 4]) | (static_cast<uint8_t>(image[p + 5]) << 8);
}

// Page offsets of a well-formed image.
inline std::vector<size_t> pageOffsets(const std::string& image) {
    std::vector<size_t> offsets;
    for (size_t p = 8; p + 8 <= image.size();) {
        const unsigned length = lengthAt(image, p);
        if (length < 4 || length == 0xFFFF)
            break;
        offsets.push_back(p);
        p += 4 + length;
    }
    return offsets;
}

// Sets every page checksum of the image as far as its pages can be walked, so that a mutation reaches the
// page conversion rather than the checksum test.
inline void fixChecksums(std::string& image) {
    for (size_t p = 8; p + 8 <= image.size();) {
        const unsigned length = lengthAt(image, p);
        if (length == 0 || length == 0xFFFF)
            break;
        uint32_t sum = 0;
        for (size_t i = p + 4; i < std::min(image.size(), p + 4 + length); ++i)
            sum += static_cast<uint8_t>(image[i]);
        image[p + 1] = static_cast<char>(sum);
        image[p] = static_cast<char>(image[p] | 1);
        p += 4 + length;
    }
}

inline void setLength(std::string& image, size_t p, unsigned length) {
    image[p + 4] = static_cast<char>(length);
    image[p + 5] = static_cast<char>(length >> 8);
}

// One mutation of a region image.
inline std::string mutateImage(Dice& d, std::string image) {
    const std::vector<size_t> pages = pageOffsets(image);
    const size_t page = pages.empty() ? 8 : d.oneOf(pages);
    const unsigned length = pages.empty() ? 4 : lengthAt(image, page);
    switch (d.below(9)) {
    case 0: // bit flips
        for (uint32_t n = 1 + d.below(4); n > 0 && !image.empty(); --n)
            image[d.below(static_cast<uint32_t>(image.size()))] ^= static_cast<char>(1u << d.below(8));
        break;
    case 1: { // a cut in every length class: inside the region header, inside a page header, in the data
        const size_t size = image.size();
        const size_t cuts[] = {0, 1, 7, 8, 9, 11, 12, 15, page + 5, page + 8, page + 4 + length - 1,
                               page + 4 + length + 1, size - 1, d.below(static_cast<uint32_t>(size))};
        image.resize(std::min(size, cuts[d.below(14)]));
        break;
    }
    case 2:
    case 3: { // a length field larger or smaller than the data
        const unsigned lengths[] = {0, 1, 2, 3, 4, 5, 7, 8, length - 4, length - 1, length + 1, length + 4,
                                    static_cast<unsigned>(image.size()), 0xFFFB, 0xFFFC, 0xFFFE, 0xFFFF,
                                    d.below(0x10000)};
        if (page + 6 <= image.size())
            setLength(image, page, lengths[d.below(18)] & 0xFFFF);
        break;
    }
    case 4: // a wrong page id
        if (page + 8 <= image.size()) {
            const uint16_t id = static_cast<uint16_t>(d.chance(50) ? d.word() : d.oneOf(std::vector<uint32_t>{
                                                                                    0, 0xFFFF, 0xFF0F, 0xFF01, 0xFE01,
                                                                                    0xFF10, 0xFF27}));
            image[page + 6] = static_cast<char>(id);
            image[page + 7] = static_cast<char>(id >> 8);
        }
        break;
    case 5: // a page repeated
        if (page + 4 + length <= image.size())
            image.insert(page + 4 + length, image.substr(page, 4 + length));
        break;
    case 6: // data bytes random
        for (size_t i = page + 8; i < std::min(image.size(), page + 4 + length); ++i)
            if (d.chance(50))
                image[i] = static_cast<char>(d.word());
        break;
    case 7: // garbage after the last page
        image += d.text(d.below(40));
        break;
    default: // random bytes behind a region header, or without one
        image = (d.chance(50) ? image.substr(0, 8) : std::string()) + d.text(d.below(300));
        break;
    }
    if (d.chance(70))
        fixChecksums(image);
    return image;
}

} // namespace robust

#endif
