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

  private:
    XmlDocPtr document_;
    XmlSchemaParserCtxtPtr parser_;
    XmlSchemaPtr schema_;
    std::vector<xmlNode*> elements_;
    mutable std::optional<std::unordered_map<std::string, const xmlNode*>> pages_;
};

// Element children of a node, for walking XSD and user documents alike.
xmlNode* firstElementChild(const xmlNode* node);
xmlNode* nextElementSibling(const xmlNode* node);
// An XSD node of this local name (xs:element, xs:sequence, ...).
bool isXsd(const xmlNode* node, const char* localName);

// The "fixed" value of a declaration, else its "default".
std::optional<std::string> xsdValue(const xmlNode* declaration);

struct XsdAttribute {
    std::string name;
    std::string value; // fixed or default
};
// The xs:attribute declarations with a name and a fixed or default value that an element declaration
// (or a type's declaration node) carries, through complexType, simpleContent, extension and restriction.
std::vector<XsdAttribute> xsdAttributes(const xmlNode* declaration);
// One of them by name, letter case ignored.
std::optional<std::string> xsdAttributeValue(const xmlNode* declaration, std::string_view name);

// A declaration's type name: its own "type" attribute, else the base of the extension or restriction of
// its complexType's simpleContent, else the value of its "TYPE" attribute declaration.
std::optional<std::string> xsdTypeName(const xmlNode* declaration);

// The element declarations one level below a declaration, in order: through its complexType (or, for a
// declaration typed by a named complex type, that type), sequences and choices.
std::vector<xmlNode*> xsdChildElements(const XsdSchema& schema, const xmlNode* declaration);

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
