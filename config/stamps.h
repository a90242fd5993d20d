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

namespace pageengine {

// The caller's supplier of QUERY values (zelkor.h); the engine frees whatever *value holds afterwards.
using QUERY_VALUE_CALLBACK = ::QUERY_VALUE_CALLBACK;

// Room for the longest valid answer to a field of this LENGTH (hexadecimal digits, a dotted address, a
// decimal value or a text), with a "0x" prefix and the terminator.
std::size_t queryValueBufferSize(uint32_t length);

// USE resolution over first, its siblings and their descendants. 0; 5 null argument; 40 a stamp error.
ZELKOR_STATUS processUseAttrib(xmlNode* first, xmlDoc* document, void* reserved, const char* xsdPath);

// The text of the one element below root whose DEFINE is stamp. 0; 40 none, several, or no content.
ZELKOR_STATUS fetchDataForUseAttrib(xmlNode* root, xmlDoc* document, void* reserved, const char* xsdPath,
                                    const char* stamp, std::string& value);

// Removes every USE attribute of the subtree. 0, or 5 for a null argument.
ZELKOR_STATUS removeUseAttrib(xmlNode* first, xmlDoc* document, const char* outputPath, const char* xsdPath);

// FORMAT="Dec" resolution. 0; 5; 40.
ZELKOR_STATUS processFormatDecAttrib(xmlNode* first, xmlDoc* document, void* reserved, const char* xsdPath);

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

// 0 found; 1 not found; 54 the field's page is dropped by the unit or general filter.
ZELKOR_STATUS fetchElementfromXsd(const XsdSchema* schema, xmlNode* element, XsdFieldProperties& properties);

} // namespace pageengine

#endif
