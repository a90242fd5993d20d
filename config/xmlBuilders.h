// The documents of the XML conversion chain. From the XSD alone the default document (every declared
// element with its default text); merging the user's XML into it the complete document; from the complete
// document (dynamic pages) or from the user's XML and the XSD (static pages) the peppered document that
// zelkor_ParseXmlFile reads. Each entry starts from fresh state; what one step hands the next is in
// conversionCarry() (engineState.h).
//
// xml2bin, dynamic pages, the XSD compiled once for both builders that read it:
//     ConversionSchema schema(xsd);
//     xsdCreateDefaultXml(schema, defaultPath);
//     comCreateCompleteXml(defaultPath, userDocument, completePath, nullptr);
//     defCreatePepperedXml(schema, completePath, pepperedPath, 0);
// xml2bin, static pages:
//     createPepperedXml(xsd, userDocument, pepperedPath, 0);
// then zelkor_ParseXmlFile and zelkor_CreateBinaryFile. For bin2xml the peppered builder runs with
// recordPages 1, which lists the user's pages for zelkor_CreateOutputXMLFile (binaryToXml.h).
#ifndef CONFIG_XML_BUILDERS_H
#define CONFIG_XML_BUILDERS_H

#include "config/xmlRaii.h"
#include "core/zelkor.h"

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string>

namespace pageengine {

class ConversionSchema;
class XsdSchema;

// Default document of a schema. 0; 5 null name; 52, 53, 58 schema lookup; 1 output not creatable;
// 36 the schema declares no global element or no MANUFACTURING; 40 a type that contains itself, types
// nested deeper than a document can hold (MAX_DOCUMENT_DEPTH), or a maxOccurs above 65531; 41 the schema
// does not parse or the document cannot be saved; 6 out of memory.
ZELKOR_STATUS xsdCreateDefaultXml(const char* xsdName, const char* outName, void* unused);
// The same from the conversion's schema (its name is the schema name written into the root).
ZELKOR_STATUS xsdCreateDefaultXml(ConversionSchema& schema, const char* outName);
// The root scan on its own: the MANUFACTURING declaration's content under root. 0; 36 no schema, no
// global element or no MANUFACTURING; the statuses of the element processing.
ZELKOR_STATUS xsdProcessSchema(const XsdSchema* schema, xmlNode* root);

// Peppered document of static pages from the user's document and the XSD: one element per declaration on
// the way to each user page. 0; 5; 52, 53, 58; 41 schema or save failure; 1 no MANUFACTURING in the user
// document, a PAGE with configuration groups, output not creatable; 36 no MANUFACTURING in the schema; 40
// a page giving an element (or a configuration group) more often than it declares places for it (printed
// with element and page), a type that contains itself, more elements than a document can hold, or a
// FORMAT="Dec" value that is not a decimal number of at most 32 bits; 6 out of memory.
ZELKOR_STATUS createPepperedXml(const char* xsdName, xmlDoc* userDocument, const char* outName,
                                uint8_t recordPages);

// Complete document: the user's pages merged into the default document. 0; 5; 41 the default document
// does not parse or cannot be saved; 1 output not creatable or no MANUFACTURING in the user document;
// 40 a user page the schema does not declare, or a UNIT the schema does not allow on it (both printed).
ZELKOR_STATUS comCreateCompleteXml(const char* defaultName, xmlDoc* userDocument, const char* completeName,
                                   void* unused);

// Peppered document of dynamic pages from the complete document and the XSD. 0; 5; 52, 53, 58; 1 output
// not creatable; 41 a document does not parse or cannot be saved; 40 a FORMAT="Dec" error, a type that
// contains itself; 6 out of memory.
ZELKOR_STATUS defCreatePepperedXml(const char* xsdName, const char* completeName, const char* outName,
                                   uint8_t recordPages);
// The same from the conversion's schema.
ZELKOR_STATUS defCreatePepperedXml(ConversionSchema& schema, const char* completeName, const char* outName,
                                   uint8_t recordPages);

// The node set of an XPath expression when it holds at least one node, else null (after printing
// "Error in xmlXPathNewContext" or "Error in xmlXPathEvalExpression" when it cannot be evaluated).
XmlXPathObjectPtr getnodeset(xmlDoc* document, const char* xpath);

// 1 when the node has an element child.
int comHasValidChildNodes(const xmlNode* node);
// Element children of an element, document or entity node; 0 for other nodes.
unsigned long childElementCount(const xmlNode* node);
// Gives target the source's text (entity-encoded) when target's own text is empty.
void comCompareAndSetContent(const xmlNode* source, xmlNode* target);
// Decimal text of a positive number; "0" below 1.
std::string convertDecimalToString(long number);

// Length of a named type, as decimal text ("0" for a name not in the table).
const char* defGetLengthByType(const std::string& type);
// A declared length in units of its type: 4 for IPAddress, 1 without a LENGTH text, else the text read
// as hexadecimal (-1 when it is none).
long defGetLengthInBytes(const std::string& type, const std::optional<std::string>& lengthText);
// 1 when an element child of the node is named BIT, else 0.
int defAreChildrenBits(const xmlNode* node);

} // namespace pageengine

#endif
