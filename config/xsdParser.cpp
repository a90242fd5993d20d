#include "config/xsdParser.h"

#include "config/engineState.h"
#include "config/pageRecords.h"
#include "core/supportFiles.h"

#include <libxml/hash.h>
#include <libxml/schemasInternals.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

namespace pageengine {

namespace {

constexpr const char* SCHEMA_INSTANCE_NS = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::size_t SUPPORT_PATH_SIZE = 512;

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The complexType a declaration's own content lies in: its child, or the declaration itself.
const xmlNode* ownComplexType(const xmlNode* declaration) {
    if (isXsd(declaration, "complexType"))
        return declaration;
    for (const xmlNode* child = firstElementChild(declaration); child != nullptr;
         child = nextElementSibling(child))
        if (isXsd(child, "complexType"))
            return child;
    return nullptr;
}

// The simpleContent's or complexContent's extension or restriction under a complexType.
const xmlNode* derivation(const xmlNode* complexType) {
    for (const xmlNode* content = firstElementChild(complexType); content != nullptr;
         content = nextElementSibling(content)) {
        if (!isXsd(content, "simpleContent") && !isXsd(content, "complexContent"))
            continue;
        for (const xmlNode* step = firstElementChild(content); step != nullptr; step = nextElementSibling(step))
            if (isXsd(step, "extension") || isXsd(step, "restriction"))
                return step;
    }
    return nullptr;
}

void collectAttributes(const xmlNode* parent, std::vector<XsdAttribute>& out) {
    for (const xmlNode* child = defGetSchemaAttributeNode(parent); child != nullptr; child = nextElementSibling(child)) {
        if (!isXsd(child, "attribute"))
            continue;
        std::optional<std::string> name = xmlProp(child, "name");
        std::optional<std::string> value = defGetAttribValue(child);
        if (name && value)
            out.push_back({*name, *value});
    }
}

bool isCompositor(const xmlNode* node) {
    return isXsd(node, "sequence") || isXsd(node, "choice") || isXsd(node, "all");
}

// The node after one in a content model: its next sibling, read into groups (a group's first member
// stands for the group), and past the end of a group what follows it; the enclosing complexType ends it.
const xmlNode* nextInContentModel(const xmlNode* node) {
    for (;;) {
        const xmlNode* next = nextElementSibling(node);
        if (next == nullptr) {
            if (!isCompositor(node->parent))
                return nullptr;
            node = node->parent;
            continue;
        }
        while (isCompositor(next) && firstElementChild(next) != nullptr)
            next = firstElementChild(next);
        if (!isCompositor(next))
            return next;
        node = next; // an empty group
    }
}

// The first member of a group's content model that is no group itself.
const xmlNode* firstInContentModel(const xmlNode* group) {
    const xmlNode* node = firstElementChild(group);
    while (isCompositor(node)) {
        const xmlNode* first = firstElementChild(node);
        node = first != nullptr ? first : nextInContentModel(node);
    }
    return node;
}

void collectElements(const xmlNode* group, std::vector<xmlNode*>& out) {
    for (xmlNode* child = firstElementChild(group); child != nullptr; child = nextElementSibling(child)) {
        if (isXsd(child, "element"))
            out.push_back(child);
        else if (isCompositor(child))
            collectElements(child, out);
    }
}

} // namespace

bool isStandardDataType(const char* name) {
    return name != nullptr && *name != '\0' && findDataType(name) != nullptr;
}

ZELKOR_STATUS XsdSchema::load(const std::string& path, std::unique_ptr<XsdSchema>& out) {
    out.reset();
    try {
        auto schema = std::unique_ptr<XsdSchema>(new XsdSchema());
        schema->document_ = readXmlFile(path.c_str());
        if (!schema->document_)
            return 41;
        schema->parser_.reset(xmlSchemaNewDocParserCtxt(schema->document_.get()));
        if (!schema->parser_)
            return 6;
        // Schema errors are the caller's to report by status; libxml2's own lines would only repeat them.
        xmlSchemaSetParserErrors(schema->parser_.get(), nullptr, nullptr, nullptr);
        schema->schema_.reset(xmlSchemaParse(schema->parser_.get()));
        if (!schema->schema_)
            return 41;
        xmlNode* root = xmlDocGetRootElement(schema->document_.get());
        for (xmlNode* child = firstElementChild(root); child != nullptr; child = nextElementSibling(child))
            if (isXsd(child, "element") && xmlProp(child, "name"))
                schema->elements_.push_back(child);
        out = std::move(schema);
        return 0;
    } catch (const std::bad_alloc&) {
        return 6;
    }
}

const XsdSchema* ConversionSchema::get(ZELKOR_STATUS& status) {
    if (!tried_) {
        tried_ = true;
        std::string path;
        if (name_.empty())
            status_ = 5;
        else if ((status_ = resolveSchemaPath(name_.c_str(), path)) == 0)
            status_ = XsdSchema::load(path, schema_);
    }
    status = status_;
    return schema_.get();
}

xmlNode* XsdSchema::globalElement(std::string_view name) const {
    if (!schema_ || schema_->elemDecl == nullptr)
        return nullptr;
    std::string key(name);
    auto* declaration =
        static_cast<xmlSchemaElement*>(xmlHashLookup(schema_->elemDecl, xmlStr(key.c_str())));
    return declaration != nullptr ? declaration->node : nullptr;
}

xmlNode* XsdSchema::globalType(std::string_view name) const {
    if (!schema_ || schema_->typeDecl == nullptr)
        return nullptr;
    std::string key(name);
    auto* type = static_cast<xmlSchemaType*>(xmlHashLookup(schema_->typeDecl, xmlStr(key.c_str())));
    return type != nullptr ? type->node : nullptr;
}

const xmlNode* XsdSchema::declarationBelowRoot(const std::string& name) const {
    if (!pages_) {
        pages_.emplace();
        if (const xmlNode* manufacturing = globalElement("MANUFACTURING"))
            for (const xmlNode* page : xsdChildElements(*this, manufacturing))
                pages_->emplace(xmlProp(page, "name").value_or(""), page);
    }
    auto found = pages_->find(name);
    return found != pages_->end() ? found->second : nullptr;
}

const xmlNode* XsdSchema::pageDeclaration(const std::string& name) const {
    if (const xmlNode* below = declarationBelowRoot(name))
        return below;
    return globalElement(name);
}

xmlNode* firstElementChild(const xmlNode* node) {
    if (node == nullptr)
        return nullptr;
    for (xmlNode* child = node->children; child != nullptr; child = child->next)
        if (isElement(child))
            return child;
    return nullptr;
}

xmlNode* nextElementSibling(const xmlNode* node) {
    if (node == nullptr)
        return nullptr;
    for (xmlNode* next = node->next; next != nullptr; next = next->next)
        if (isElement(next))
            return next;
    return nullptr;
}

bool isXsd(const xmlNode* node, const char* localName) {
    return isElement(node) && nameIs(node, localName);
}

std::optional<std::string> defGetAttribValue(const xmlNode* declaration) {
    if (declaration == nullptr)
        return std::nullopt;
    if (std::optional<std::string> fixed = xmlProp(declaration, "fixed"))
        return fixed;
    return xmlProp(declaration, "default");
}

std::optional<std::string> getAttribValue(const xmlAttr* attribute) {
    if (attribute == nullptr || (!xmlStrEqual(attribute->name, xmlStr("fixed")) &&
                                 !xmlStrEqual(attribute->name, xmlStr("default"))))
        return std::nullopt;
    XmlCharPtr value(xmlNodeListGetString(attribute->doc, attribute->children, 1));
    return std::string(value ? charStr(value.get()) : "");
}

std::optional<std::string> defGetAttributeValueFromSchemaNode(const xmlNode* node, const char* name) {
    std::optional<std::string> value = node != nullptr ? xmlProp(node, name) : std::nullopt;
    if (value && value->size() >= 512)
        return std::nullopt;
    return value;
}

const xmlNode* defGetSchemaAttributeNode(const xmlNode* node) {
    for (const xmlNode* child = firstElementChild(node); child != nullptr; child = nextElementSibling(child))
        if (isXsd(child, "attribute"))
            return child;
    return nullptr;
}

std::vector<XsdAttribute> xsdAttributes(const xmlNode* declaration) {
    std::vector<XsdAttribute> attributes;
    const xmlNode* complexType = ownComplexType(declaration);
    if (complexType == nullptr)
        return attributes;
    collectAttributes(complexType, attributes);
    if (const xmlNode* step = derivation(complexType))
        collectAttributes(step, attributes);
    return attributes;
}

std::optional<std::string> xsdAttributeValue(const xmlNode* declaration, std::string_view name) {
    for (const XsdAttribute& attribute : xsdAttributes(declaration))
        if (sameIgnoringCase(attribute.name, name))
            return attribute.value;
    return std::nullopt;
}

namespace {

// A type name a field can be of: a built-in XML Schema type (xs:string and the like) names none, so the
// TYPE attribute declaration decides then.
bool namesSchemaType(const std::optional<std::string>& type) {
    return type && !type->empty() && type->find(':') == std::string::npos;
}

} // namespace

std::optional<std::string> defGetTypeFromSchema(const xmlNode* declaration) {
    if (declaration == nullptr)
        return std::nullopt;
    std::optional<std::string> type =
        xmlHasProp(declaration, xmlStr("type")) != nullptr ? defGetAttributeValueFromSchemaNode(declaration, "type")
                                                           : defGetAttributeValueFromSchemaNode(declaration, "TYPE");
    return namesSchemaType(type) ? type : std::nullopt;
}

std::optional<std::string> defGetTypeFromSimpleContent(const xmlNode* declaration) {
    if (const xmlNode* step = derivation(ownComplexType(declaration))) {
        if (std::optional<std::string> base = defGetAttributeValueFromSchemaNode(step, "base"); namesSchemaType(base))
            return base;
    }
    return std::nullopt;
}

std::optional<std::string> defGetTypeFromNode(const xmlNode* declaration) {
    if (declaration == nullptr)
        return std::nullopt;
    if (std::optional<std::string> own = defGetTypeFromSchema(declaration))
        return own;
    if (std::optional<std::string> base = defGetTypeFromSimpleContent(declaration))
        return base;
    return xsdAttributeValue(declaration, "type");
}

std::optional<std::string> defGetElementOffsetFromNode(const xmlNode* declaration) {
    return xsdAttributeValue(declaration, "OFFSET");
}

const xmlNode* defFindNodeFromSchema(const XsdSchema& schema, std::string_view typeName) {
    return schema.globalType(typeName);
}

const xmlNode* xsdContentHolder(const XsdSchema& schema, const xmlNode* declaration) {
    if (declaration == nullptr || ownComplexType(declaration) != nullptr)
        return declaration;
    std::optional<std::string> type = xmlProp(declaration, "type");
    if (type && !isStandardDataType(type->c_str())) {
        if (const xmlNode* named = schema.globalType(*type); isXsd(named, "complexType"))
            return named;
    }
    return declaration;
}

std::vector<xmlNode*> xsdChildElements(const XsdSchema& schema, const xmlNode* declaration) {
    std::vector<xmlNode*> elements;
    const xmlNode* complexType = ownComplexType(xsdContentHolder(schema, declaration));
    if (complexType == nullptr)
        return elements;
    for (const xmlNode* child = firstElementChild(complexType); child != nullptr;
         child = nextElementSibling(child))
        if (isXsd(child, "sequence") || isXsd(child, "choice") || isXsd(child, "all"))
            collectElements(child, elements);
    return elements;
}

const xmlNode* defGetSchemaElementsForNode(const XsdSchema& schema, const xmlNode* declaration) {
    const xmlNode* complexType = ownComplexType(xsdContentHolder(schema, declaration));
    for (const xmlNode* child = firstElementChild(complexType); child != nullptr; child = nextElementSibling(child)) {
        if (!isCompositor(child))
            continue;
        for (const xmlNode* node = firstInContentModel(child); node != nullptr; node = nextInContentModel(node))
            if (isXsd(node, "element"))
                return node;
    }
    return nullptr;
}

const xmlNode* defGetNamedNodeFromSchema(const xmlNode* node, std::string_view name, std::string_view kind) {
    for (; node != nullptr; node = nextInContentModel(node)) {
        if (!isElement(node) || !sameIgnoringCase(charStr(node->name), kind))
            continue;
        if (std::optional<std::string> own = xmlProp(node, "name"); own && sameIgnoringCase(*own, name))
            return node;
    }
    return nullptr;
}

const xmlNode* defGetChildNode(const XsdSchema& schema, const xmlNode* declaration, std::string_view name) {
    return defGetNamedNodeFromSchema(defGetSchemaElementsForNode(schema, declaration), name, "element");
}

std::optional<uint64_t> xsdOccurrences(const xmlNode* declaration) {
    std::optional<std::string> text = xmlProp(declaration, "maxOccurs");
    if (!text || *text == "unbounded")
        return 1;
    if (text->empty() || text->size() > 18 || text->find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::strtoull(text->c_str(), nullptr, 10);
}

// The builders' schema lookup writes nothing of its own: their callers report the status.
constexpr SupportLookupTexts kSchemaLookup{.module = nullptr,
                                          .function = nullptr,
                                          .type = 0,
                                          .refusesDirectories = false,
                                          .capacity = SUPPORT_PATH_SIZE};

ZELKOR_STATUS fetchFileFromEnvironmantVariable(const char* name, std::string& path) {
    return lookupSupportFile(name, kSchemaLookup, nullptr, path);
}

ZELKOR_STATUS resolveSchemaPath(const char* name, std::string& path) {
    if (FILE* file = std::fopen(name, "r")) {
        std::fclose(file);
        path = name;
        return 0;
    }
    return fetchFileFromEnvironmantVariable(name, path);
}

ZELKOR_STATUS createOutputFile(const char* name) {
    FILE* file = std::fopen(name, "w");
    if (file == nullptr) {
        std::printf("Unable to open file :%s\n", name);
        std::fflush(stdout);
        return 1;
    }
    return std::fclose(file) == 0 ? 0 : 1;
}

// Levels of element nesting in a document, the root being 1.
std::size_t elementDepth(const xmlDoc* document) {
    std::size_t deepest = 0, depth = 0;
    const xmlNode* node = document != nullptr ? document->children : nullptr;
    while (node != nullptr) {
        if (node->type == XML_ELEMENT_NODE) {
            ++depth;
            deepest = std::max(deepest, depth);
            if (node->children != nullptr) {
                node = node->children;
                continue;
            }
            --depth;
        }
        while (node != nullptr && node->next == nullptr) {
            node = node->parent;
            if (node == nullptr || node->type != XML_ELEMENT_NODE)
                node = nullptr;
            else
                --depth;
        }
        if (node != nullptr)
            node = node->next;
    }
    return deepest;
}

ZELKOR_STATUS saveDocument(xmlDoc* document, const char* name) {
    // A document nested deeper than a reader takes would be written, and then refused by every step after.
    if (elementDepth(document) > MAX_DOCUMENT_DEPTH) {
        userMessage("\nERROR : Elements nest deeper than %u levels.\n", static_cast<unsigned>(MAX_DOCUMENT_DEPTH));
        return STATUS_INVALID_XML;
    }
    // Serialised in memory and written here, so that a failing write or close is seen.
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(document, &text, &size, "UTF-8", 1);
    XmlCharPtr owned(text);
    if (text == nullptr || size < 0)
        return 41;
    FILE* file = std::fopen(name, "wb");
    if (file == nullptr)
        return 41;
    bool written = std::fwrite(text, 1, static_cast<std::size_t>(size), file) == static_cast<std::size_t>(size);
    written = std::fflush(file) == 0 && written;
    return std::fclose(file) == 0 && written ? 0 : 41;
}

xmlNode* createManufacturingRoot(xmlDoc* document, const std::string& schemaName) {
    xmlNode* root = xmlNewDocNode(document, nullptr, xmlStr("MANUFACTURING"), nullptr);
    if (root == nullptr)
        return nullptr;
    xmlDocSetRootElement(document, root);
    xmlNs* ns = xmlNewNs(root, xmlStr(SCHEMA_INSTANCE_NS), xmlStr("xsi"));
    if (ns == nullptr ||
        xmlNewNsProp(root, ns, xmlStr("noNamespaceSchemaLocation"), xmlStr(schemaName.c_str())) == nullptr)
        return nullptr;
    return root;
}

} // namespace pageengine
