// Owners for libxml2 objects and the few node helpers the page engine uses everywhere.
#ifndef CONFIG_XML_RAII_H
#define CONFIG_XML_RAII_H

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

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
