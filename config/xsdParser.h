// The one reader of configuration schemas: the XSD parsed once into a libxml2 schema, its global element
// and type declarations found by name through the schema's tables, and the queries every document builder
// and the stamp resolution make on a declaration node (type, length, OFFSET, fixed or default values).
//
// Declaration nodes lie in the XSD document as libxml2 leaves it after compiling it (blank text and
// comments removed); the queries still look at element children only.
#ifndef CONFIG_XSD_PARSER_H
#define CONFIG_XSD_PARSER_H

#include "config/xmlRaii.h"
#include "core/zelkor.h"

#include <libxml/xmlschemas.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pageengine {

struct XmlSchemaFree {
    void operator()(xmlSchema* schema) const noexcept { xmlSchemaFree(schema); }
};
struct XmlSchemaParserCtxtFree {
    void operator()(xmlSchemaParserCtxt* context) const noexcept { xmlSchemaFreeParserCtxt(context); }
};
struct XmlSchemaValidCtxtFree {
    void operator()(xmlSchemaValidCtxt* context) const noexcept { xmlSchemaFreeValidCtxt(context); }
};
using XmlSchemaPtr = std::unique_ptr<xmlSchema, XmlSchemaFree>;
using XmlSchemaParserCtxtPtr = std::unique_ptr<xmlSchemaParserCtxt, XmlSchemaParserCtxtFree>;
using XmlSchemaValidCtxtPtr = std::unique_ptr<xmlSchemaValidCtxt, XmlSchemaValidCtxtFree>;

// Names of the engine's data types; letter case ignored, null or empty is false.
bool isStandardDataType(const char* name);

class XsdSchema {
  public:
    // Reads the XSD with network access off and compiles it. 0; 41 the file or the schema does not
    // parse; 6 out of memory.
    static ZELKOR_STATUS load(const std::string& path, std::unique_ptr<XsdSchema>& out);

    xmlSchema* compiled() const { return schema_.get(); }
    // Global element declarations in document order.
    const std::vector<xmlNode*>& globalElements() const { return elements_; }
    xmlNode* globalElement(std::string_view name) const;
    // A global simple or complex type's declaration node, or null.
    xmlNode* globalType(std::string_view name) const;
    // The declaration of a page: an element declared below MANUFACTURING, else a global element.
    const xmlNode* pageDeclaration(const std::string& name) const;
    // The first element declared below MANUFACTURING with that name, or null (indexed once).
    const xmlNode* declarationBelowRoot(const std::string& name) const;

  private:
    XmlDocPtr document_;
    XmlSchemaParserCtxtPtr parser_;
    XmlSchemaPtr schema_;
    std::vector<xmlNode*> elements_;
    mutable std::optional<std::unordered_map<std::string, const xmlNode*>> pages_;
};

// The XSD of one conversion, compiled at most once and handed to every step that reads it. The schema
// name is looked up as a builder looks it up (as given, else under ZELKOR_SUPPORT_FILES).
class ConversionSchema {
  public:
    explicit ConversionSchema(std::string name) : name_(std::move(name)) {}
    ConversionSchema(const ConversionSchema&) = delete;
    ConversionSchema& operator=(const ConversionSchema&) = delete;

    // The compiled schema, or null with the status of the one attempt: 52, 53, 58 from the lookup, 41 the
    // file or the schema does not parse, 6 out of memory, 5 no name.
    const XsdSchema* get(ZELKOR_STATUS& status);
    const std::string& name() const { return name_; }

  private:
    std::string name_;
    bool tried_ = false;
    ZELKOR_STATUS status_ = 0;
    std::unique_ptr<XsdSchema> schema_;
};

// Element children of a node, for walking XSD and user documents alike.
xmlNode* firstElementChild(const xmlNode* node);
xmlNode* nextElementSibling(const xmlNode* node);
// An XSD node of this local name (xs:element, xs:sequence, ...).
bool isXsd(const xmlNode* node, const char* localName);

// The "fixed" value of a declaration, else its "default".
std::optional<std::string> defGetAttribValue(const xmlNode* declaration);
// The value of one attribute of a declaration when that attribute is its "fixed" or "default".
std::optional<std::string> getAttribValue(const xmlAttr* attribute);
// The text of a declaration's attribute of that name when it is shorter than 512 characters.
std::optional<std::string> defGetAttributeValueFromSchemaNode(const xmlNode* node, const char* name);

// The first xs:attribute among a node's children, or null.
const xmlNode* defGetSchemaAttributeNode(const xmlNode* node);

struct XsdAttribute {
    std::string name;
    std::string value; // fixed or default
};
// The xs:attribute declarations with a name and a fixed or default value that an element declaration
// (or a type's declaration node) carries, through complexType, simpleContent, extension and restriction.
std::vector<XsdAttribute> xsdAttributes(const xmlNode* declaration);
// One of them by name, letter case ignored.
std::optional<std::string> xsdAttributeValue(const xmlNode* declaration, std::string_view name);

// A declaration's own "type" attribute, else its "TYPE", when it names a type of the schema (not a
// built-in xs: type, not empty, shorter than 512 characters).
std::optional<std::string> defGetTypeFromSchema(const xmlNode* declaration);
// The base of the extension or restriction under a declaration's complexType (simple or complex
// content), when it names a type of the schema.
std::optional<std::string> defGetTypeFromSimpleContent(const xmlNode* declaration);
// A declaration's type name: defGetTypeFromSchema, else defGetTypeFromSimpleContent, else the value of
// its "type" attribute declaration (letter case ignored).
std::optional<std::string> defGetTypeFromNode(const xmlNode* declaration);
// The OFFSET text a declaration fixes through its attribute declarations.
std::optional<std::string> defGetElementOffsetFromNode(const xmlNode* declaration);

// A global type's declaration node by its name, or null.
const xmlNode* defFindNodeFromSchema(const XsdSchema& schema, std::string_view typeName);

// The element declarations one level below a declaration, in order: through its complexType (or, for a
// declaration typed by a named complex type, that type), sequences and choices.
std::vector<xmlNode*> xsdChildElements(const XsdSchema& schema, const xmlNode* declaration);
// The first of them, or null.
const xmlNode* defGetSchemaElementsForNode(const XsdSchema& schema, const xmlNode* declaration);
// The first of node and the declarations after it in its content model (its following siblings, read
// through nested sequence, choice and all groups) whose local name is kind and whose "name" is name,
// both compared without regard to case; null when there is none.
const xmlNode* defGetNamedNodeFromSchema(const xmlNode* node, std::string_view name, std::string_view kind);
// The element declaration of that name among those one level below a declaration (letter case ignored).
const xmlNode* defGetChildNode(const XsdSchema& schema, const xmlNode* declaration, std::string_view name);

// The declaration that holds a declaration's children: the named complex type it refers to, else itself.
const xmlNode* xsdContentHolder(const XsdSchema& schema, const xmlNode* declaration);

// maxOccurs as an element count: absent or "unbounded" 1, else the decimal value; nothing when invalid.
std::optional<uint64_t> xsdOccurrences(const xmlNode* declaration);

// Most elements one declaration may repeat into: more than a page can hold is refused.
inline constexpr uint64_t XSD_MAX_OCCURRENCES = 65531;
// Most elements one document build makes: repetitions nested in repetitions are refused before they are
// built instead of exhausting memory.
inline constexpr uint64_t XSD_MAX_ELEMENTS = 1024 * 1024;

// Support-file lookup of a schema: ZELKOR_SUPPORT_FILES joined with the name. 0 and the path; 52 the
// variable is not set; 58 the path would not fit in 512 bytes; 53 it cannot be opened for reading.
ZELKOR_STATUS fetchFileFromEnvironmantVariable(const char* name, std::string& path);

// The schema file a builder reads: the name as given when it can be opened, else the support-file path.
ZELKOR_STATUS resolveSchemaPath(const char* name, std::string& path);

// Creates (and closes) an output file, printing "Unable to open file :%s\n" when it cannot; 0 or 1.
ZELKOR_STATUS createOutputFile(const char* name);

// Levels of element nesting a saved document may have (the root is level 1): libxml2 reads no deeper.
inline constexpr std::size_t MAX_DOCUMENT_DEPTH = 256;
std::size_t elementDepth(const xmlDoc* document);

// Saves a document; 0, 40 when its elements nest deeper than MAX_DOCUMENT_DEPTH (printed), or 41 when
// libxml2 reports a failure.
ZELKOR_STATUS saveDocument(xmlDoc* document, const char* name);

// The root MANUFACTURING with the schema-instance namespace and xsi:noNamespaceSchemaLocation.
xmlNode* createManufacturingRoot(xmlDoc* document, const std::string& schemaName);

} // namespace pageengine

#endif
