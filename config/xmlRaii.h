// Owners for libxml2 objects and the few node helpers the page engine uses everywhere.
#ifndef CONFIG_XML_RAII_H
#define CONFIG_XML_RAII_H

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pageengine {

struct XmlDocFree {
    void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
};
struct XmlXPathContextFree {
    void operator()(xmlXPathContext* context) const noexcept { xmlXPathFreeContext(context); }
};
struct XmlXPathObjectFree {
    void operator()(xmlXPathObject* object) const noexcept { xmlXPathFreeObject(object); }
};
struct XmlCharFree {
    void operator()(xmlChar* text) const noexcept { xmlFree(text); }
};

using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;
using XmlXPathContextPtr = std::unique_ptr<xmlXPathContext, XmlXPathContextFree>;
using XmlXPathObjectPtr = std::unique_ptr<xmlXPathObject, XmlXPathObjectFree>;
using XmlCharPtr = std::unique_ptr<xmlChar, XmlCharFree>;

// Every document the library reads goes through here: never from the network, whatever the file names.
inline XmlDocPtr readXmlFile(const char* path, int options = 0) {
    return XmlDocPtr(xmlReadFile(path, nullptr, options | XML_PARSE_NONET));
}

inline XmlDocPtr readXmlMemory(const std::string& text, const char* baseName, int options = 0) {
    return XmlDocPtr(xmlReadMemory(text.data(), static_cast<int>(text.size()), baseName, nullptr,
                                   options | XML_PARSE_NONET));
}

inline const xmlChar* xmlStr(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}
inline const char* charStr(const xmlChar* text) {
    return reinterpret_cast<const char*>(text);
}

inline bool isElement(const xmlNode* node) {
    return node != nullptr && node->type == XML_ELEMENT_NODE;
}

inline bool nameIs(const xmlNode* node, const char* name) {
    return node != nullptr && xmlStrEqual(node->name, xmlStr(name));
}

// An attribute's value (namespace-blind: matched by local name), or nothing when absent.
inline std::optional<std::string> xmlProp(const xmlNode* node, const char* name) {
    XmlCharPtr value(xmlGetProp(node, xmlStr(name)));
    if (!value)
        return std::nullopt;
    return std::string(charStr(value.get()));
}

// The text content of a node and its descendants.
inline std::string xmlText(const xmlNode* node) {
    XmlCharPtr value(xmlNodeGetContent(node));
    return value ? std::string(charStr(value.get())) : std::string();
}

inline bool hasElementChild(const xmlNode* node) {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next)
        if (isElement(child))
            return true;
    return false;
}

// Whether a text can be an element's content: well-formed UTF-8 (shortest forms, no surrogates, nothing
// above U+10FFFF) of characters XML allows (no control characters but tab, line feed and carriage return;
// not U+FFFE or U+FFFF). A text that fails would make the saved document unreadable.
inline bool xmlCanCarry(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        uint32_t c = lead;
        if (lead >= 0x80) {
            if (lead >= 0xC2 && lead <= 0xDF) {
                length = 2;
                c = lead & 0x1F;
            } else if (lead >= 0xE0 && lead <= 0xEF) {
                length = 3;
                c = lead & 0x0F;
            } else if (lead >= 0xF0 && lead <= 0xF4) {
                length = 4;
                c = lead & 0x07;
            } else {
                return false;
            }
            if (text.size() - i < length)
                return false;
            for (std::size_t k = 1; k < length; ++k) {
                const unsigned char next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80)
                    return false;
                c = (c << 6) | (next & 0x3F);
            }
            const uint32_t shortest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
            if (c < shortest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
                return false;
        }
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
        if (!allowed)
            return false;
        i += length;
    }
    return true;
}

// Replaces an element's content by a text, encoding the characters XML reserves.
inline bool setElementText(xmlNode* node, const std::string& text) {
    XmlCharPtr encoded(xmlEncodeEntitiesReentrant(node->doc, xmlStr(text.c_str())));
    if (!encoded)
        return false;
    xmlNodeSetContent(node, encoded.get());
    return true;
}

} // namespace pageengine

#endif
