// Value stamps in a parsed document, resolved in place before conversion: USE takes the value another
// element names with DEFINE, FORMAT="Dec" marks a decimal value, QUERY="TRUE" asks the caller for the
// value. Documents in the user form (page elements named "page...", field types from the XSD) and in the
// peppered form (PAGE elements, fields named by type) are handled alike. Each entry reads the XSD afresh.
#ifndef CONFIG_STAMPS_H
#define CONFIG_STAMPS_H

#include "config/xsdParser.h"
#include "core/zelkor.h"

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pageengine {

// The caller's supplier of QUERY values (zelkor.h); the engine frees whatever *value holds afterwards.
using QUERY_VALUE_CALLBACK = ::QUERY_VALUE_CALLBACK;

// Room for the longest valid answer to a field of this LENGTH (hexadecimal digits, a dotted address, a
// decimal value or a text), with a "0x" prefix and the terminator.
std::size_t queryValueBufferSize(uint32_t length);

// USE resolution over first, its siblings and their descendants. 0; 5 null argument; 40 a stamp error.
ZELKOR_STATUS processUseAttrib(xmlNode* first, xmlDoc* document, void* reserved, const char* xsdPath);
// The same with the conversion's schema, compiled only when a field's type must be looked up.
ZELKOR_STATUS processUseAttrib(xmlNode* first, xmlDoc* document, void* reserved, ConversionSchema& schema);

// The text of the one element below root whose DEFINE is stamp. 0; 40 none, several, or no content.
ZELKOR_STATUS fetchDataForUseAttrib(xmlNode* root, xmlDoc* document, void* reserved, const char* xsdPath,
                                    const char* stamp, std::string& value);
// The search behind it: from node on (its descendants, then its following siblings, depth first in
// document order), the elements whose DEFINE is stamp (exact); it stops at the second.
void fetchDefinedNodeWithStamp(xmlNode* node, const char* stamp, std::vector<xmlNode*>& found);

// Removes every USE attribute of the subtree. 0, or 5 for a null argument.
ZELKOR_STATUS removeUseAttrib(xmlNode* first, xmlDoc* document, const char* outputPath, const char* xsdPath);

// FORMAT="Dec" resolution. 0; 5; 40.
ZELKOR_STATUS processFormatDecAttrib(xmlNode* first, xmlDoc* document, void* reserved, const char* xsdPath);
ZELKOR_STATUS processFormatDecAttrib(xmlNode* first, xmlDoc* document, void* reserved, ConversionSchema& schema);

// QUERY resolution. 0; 5; 40 misuse; 49 an answer that is not valid for its field; the callback's status.
ZELKOR_STATUS searchQueryAttrib(xmlNode* first, xmlDoc* document, QUERY_VALUE_CALLBACK callback, void* context,
                                const char* xsdPath);

// A user-form field's properties as its XSD declares them.
struct XsdFieldProperties {
    uint32_t code = 10;       // user-value type code
    std::string typeName;     // the declared type
    uint32_t length = 1;      // LENGTH (hexadecimal in the XSD)
    uint32_t offset = 0;      // OFFSET (decimal in the XSD)
    std::string name;         // a NAME the XSD fixes
    uint32_t writeMode = 0;
};

// One visit of the scan over the schema's global element declarations (xmlHashScanner): notes the
// declaration of the page being looked for, among MANUFACTURING's or global.
void SchemaHashtableScanner(void* payload, void* data, const xmlChar* name);

// 0 found; 1 not found; 54 the field's page is dropped by the unit or general filter.
ZELKOR_STATUS fetchElementfromXsd(const XsdSchema* schema, xmlNode* element, XsdFieldProperties& properties);

} // namespace pageengine

#endif
