// The peppered XML form: parsing it into the engine's page list (XML to binary), filling its field
// elements from page bytes (binary to XML), and the root-attribute lookups of a configuration document.
//
// A conversion to binary is, for a caller such as a hardware module:
//     pageengine::zelkor_ParseXmlFile(handle, pepperedPath, rootCheckSwitch, context);
//     pageengine::zelkor_CreateBinaryFile(handle, openImageFile);   // config/mfgRegion.h
// The parse starts by resetting the engine's conversion state, so conversions can follow each other.
#ifndef CONFIG_XML_PARSER_H
#define CONFIG_XML_PARSER_H

#include "config/pageRecords.h"
#include "config/valueConversion.h"
#include "core/zelkor.h"

#include <libxml/tree.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ZELKOR_INSTANCE;

namespace pageengine {

// Parses a peppered document into engineState().gXMLPagelist. The root check runs when rootCheckSwitch
// is null; context is handed down the field walk unchanged. Results: 0; 5 no file name; 41 the file does
// not parse; 36 root check failed; 37 page without ID; 38 duplicate page id; 40 invalid page id, no page,
// invalid element or content, page too long; 39 offset validation; 6 out of memory; 54 and 55 from the
// unit and general page filters.
ZELKOR_STATUS zelkor_ParseXmlFile(ZELKOR_INSTANCE* handle, const char* path, const char* rootCheckSwitch,
                                  void* context);

// The field walk over the children of a page (XML to binary): appends one node per field element to the
// page record and adds the top-level fields' sizes to its length.
ZELKOR_STATUS readXmlNodePropertiesToDataNode(xmlNode* firstChild, PAGE_RECORD& page, void* context);

// Type, NAME, LENGTH, OFFSET, QUERY and FORMAT of one field element, without its value. 0 or 40.
ZELKOR_STATUS populateFieldProperties(xmlNode* element, PAGE_DATA_NODE& node, std::string_view pageName);

// Properties and value of one field element (a container gets zeroed bytes to pack into). 0 or 40.
ZELKOR_STATUS populateDataFromXml(xmlNode* element, PAGE_DATA_NODE& node);

// Appends a copy of a node: 5 for a null argument, 6 out of memory.
ZELKOR_STATUS addNodeToElementList(std::vector<PAGE_DATA_NODE>* list, const PAGE_DATA_NODE* node);

// The first node an XPath expression selects, or null.
xmlNode* findXmlNode(xmlDoc* document, const char* expression);

// Root attributes xsi:noNamespaceSchemaLocation, SchemaVersion and Product; nothing, after printing the
// schema-validity message, when the attribute is missing.
std::optional<std::string> getSchemaNameFromXmlFile(xmlDoc* document);
std::optional<std::string> getSchemaVersionFromXmlFile(xmlDoc* document);
std::optional<std::string> getProductNameFromXmlFile(xmlDoc* document);

// The field walk over the children of a peppered page (binary to XML): each field element's text is set
// from the page bytes the reader walks. 0; 1 the page is shorter than its fields (reader.overrun());
// 39, 40 the peppered page describes no readable layout; 6 out of memory.
ZELKOR_STATUS readBinaryIntoPepperedPage(xmlNode* firstChild, PageReader& reader);

// One leaf field read back into a user's element; a reserved field's bytes are consumed and the user's
// text is kept.
ZELKOR_STATUS populateDataInXmlwithBinaryData(const PAGE_DATA_NODE& field, xmlNode* userElement,
                                              PageReader& reader);

} // namespace pageengine

#endif
