// Binary to XML: a region image turned back into a configuration document, page by page, through the
// peppered document that describes its pages; the schema check of a document; the engine's cleanup.
//
// A conversion back, for a caller such as a hardware module:
//     createPepperedXml(xsd, userDocument, pepperedPath, 1);      // or the dynamic chain, recordPages 1
//     conversionCarry().gStrSchemaVersion = ...; gStrProductName = ...;   // from the template's root
//     zelkor_CreateOutputXMLFile(handle, userPath, outputPath, openImage, pepperedPath);
#ifndef CONFIG_BINARY_TO_XML_H
#define CONFIG_BINARY_TO_XML_H

#include "config/pageRecords.h"
#include "core/zelkor.h"

#include <libxml/tree.h>

#include <cstdio>
#include <string>

struct ZELKOR_INSTANCE;

namespace pageengine {

// Largest image read back.
inline constexpr long MAX_IMAGE_SIZE = 64L * 1024 * 1024;

// Writes the XML of an image. Pages the user's document holds (listed by the peppered builder) keep the
// user's elements; other described pages take the peppered page's; pages nothing describes are skipped.
// 0; 5 missing argument; 41 a document does not parse; 36 the peppered root has no schema location;
// 40 no PAGE, an invalid page ID, or text that XML cannot carry; 37 page without ID; 38 duplicate page;
// 43 the image cannot be measured and read whole (a pipe, a short read, above 64 MiB); 6 out of memory;
// 1 the output cannot be saved, or the image holds a bad page (the pages before it are saved); a
// conversion status.
ZELKOR_STATUS zelkor_CreateOutputXMLFile(ZELKOR_INSTANCE* handle, const char* userXmlPath, const char* outputXmlPath,
                                         FILE* image, const char* pepperedXmlPath);

class PageReader;
// Fills the user page's elements from the page bytes, matching each peppered field with the user's
// elements from the current one on.
ZELKOR_STATUS updateNodePropertiesWithBinaryData(xmlNode* pepperedFirstChild, xmlNode* userFirstChild,
                                                 PAGE_RECORD& page, PageReader& reader);

// Schema check: 6 valid; 5 invalid or null document; 1 no XSD path or the XSD cannot be read; 2 no
// schema parser context; 3 the schema does not parse; 4 no validation context.
int is_valid(xmlDoc* document, const char* xsdPath);

// Frees the engine's lists. Leaves libxml2's global state alone, so that schemas and documents the
// caller holds stay usable. 0.
ZELKOR_STATUS zelkor_CleanXmlParser();

// The output root: MANUFACTURING with the schema name, SchemaVersion and Product of conversionCarry().
xmlNode* createRootNodeInOutputXml(xmlDoc* document, const std::string& schemaName);
// A peppered root: MANUFACTURING with the schema name.
xmlNode* createRootNodeInPepperedXml(xmlDoc* document, const std::string& schemaName);

} // namespace pageengine

#endif
