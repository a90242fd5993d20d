#include "config/stamps.h"

#include "config/builderSupport.h"
#include "config/engineState.h"
#include "config/mfgRegion.h"
#include "config/pageRecords.h"
#include "config/valueConversion.h"
#include "config/xmlRaii.h"

#include <libxml/hash.h>
#include <libxml/schemasInternals.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <unordered_map>

namespace pageengine {

namespace {

// Page and element names of a field for messages, and which form its document has.
struct FieldPlace {
    std::optional<std::string> page;
    std::optional<std::string> element;
    const xmlNode* pageNode = nullptr;
    bool peppered = false;
};

FieldPlace placeOf(const xmlNode* field) {
    FieldPlace place;
    for (const xmlNode* up = field->parent; isElement(up); up = up->parent) {
        std::string_view name(charStr(up->name));
        if (name.substr(0, 4) == "page") {
            place.page = std::string(name);
            place.element = charStr(field->name);
            place.pageNode = up;
            return place;
        }
        if (name.substr(0, 4) == "PAGE") {
            place.page = xmlProp(up, "NAME");
            place.element = xmlProp(field, "NAME");
            place.pageNode = up;
            place.peppered = true;
            return place;
        }
    }
    return place;
}

// The four forms of a misused-attribute message, by the names known.
ZELKOR_STATUS misuse(const char* attribute, const FieldPlace& place) {
    if (place.element && place.page)
        userMessage("\nERROR: Invalid utilization of \"%s\" attribute for element \"%s\" in page \"%s\".\n", attribute,
                    place.element->c_str(), place.page->c_str());
    else if (place.element)
        userMessage("\nERROR: Invalid utilization of \"%s\" attribute for element \"%s\".\n", attribute,
                    place.element->c_str());
    else if (place.page)
        userMessage("\nERROR: Invalid utilization of \"%s\" attribute in page \"%s\".\n", attribute,
                    place.page->c_str());
    else
        userMessage("\nERROR: Invalid utilization of \"%s\" attribute.", attribute);
    return STATUS_INVALID_XML;
}

bool isBlankOnly(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string trimmed(const std::string& text) {
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos)
        return {};
    return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

bool isNumberCode(uint32_t code) {
    return code == USER_TYPE_BIT || code == USER_TYPE_BYTE || code == USER_TYPE_WORD || code == USER_TYPE_DWORD;
}

std::string withoutHexPrefix(const std::string& text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return text.substr(2);
    return text;
}

// Depth-first, document order: node, its descendants, then its following siblings.
void walkElements(xmlNode* first, const std::function<bool(xmlNode*)>& visit) {
    for (xmlNode* node = first; node != nullptr; node = node->next) {
        if (!isElement(node))
            continue;
        if (!visit(node))
            return;
        walkElements(node->children, visit);
    }
}

// Type code, type name and LENGTH of one field, as USE and QUERY need them.
struct StampType {
    uint32_t code = USER_TYPE_FROM_XSD;
    std::string typeName;
    uint32_t length = 1;
    bool fromXsd = false;
};

// The per-entry context: the conversion's XSD, compiled on the first field that needs it.
class StampContext {
  public:
    explicit StampContext(ConversionSchema& schema) : schema_(schema) {}

    // 0, or 54 when the field's page is filtered out.
    ZELKOR_STATUS typeOf(xmlNode* field, const FieldPlace& place, StampType& type);

  private:
    const XsdSchema* schema() {
        ZELKOR_STATUS ignored = STATUS_OK; // without a schema a field's type stays unknown
        return schema_.get(ignored);
    }

    ConversionSchema& schema_;
};

bool peppedPageFiltered(const FieldPlace& place) {
    const EngineSwitches& switches = engineSwitches();
    if (!place.peppered || place.pageNode == nullptr || (!switches.gFlagUnit && !switches.gFlagGeneral))
        return false;
    bool unit = xmlProp(place.pageNode, "UNIT") == "TRUE";
    return (switches.gFlagUnit && !unit) || (switches.gFlagGeneral && unit);
}

ZELKOR_STATUS StampContext::typeOf(xmlNode* field, const FieldPlace& place, StampType& type) {
    type = StampType{};
    if (peppedPageFiltered(place))
        return STATUS_NO_UNIT_PAGE;
    const DataTypeInfo* info = findDataType(charStr(field->name));
    std::optional<std::string> lengthText = xmlProp(field, "LENGTH");
    if (info != nullptr) {
        type.code = info->userCode;
        type.typeName = info->name;
    } else {
        XsdFieldProperties properties;
        ZELKOR_STATUS found = fetchElementfromXsd(schema(), field, properties);
        if (found == STATUS_NO_UNIT_PAGE)
            return found;
        if (found == STATUS_OK) {
            type.code = properties.code;
            type.typeName = properties.typeName;
            type.length = properties.length;
            type.fromXsd = true;
        }
    }
    if (lengthText && !lengthText->empty()) {
        uint32_t value = 0;
        if (place.peppered) {
            char* end = nullptr;
            unsigned long number = std::strtoul(lengthText->c_str(), &end, 10);
            value = end != nullptr && *end == '\0' ? static_cast<uint32_t>(number) : 0;
        } else if (convertToHex(lengthText->c_str(), &value) != STATUS_OK) {
            value = 0;
        }
        type.length = value == 0 ? 1 : value;
    }
    return STATUS_OK;
}

// Validity of a value supplied for a field (a "0x" prefix already dropped for numbers).
bool acceptable(const std::string& value, const StampType& type) {
    if (type.typeName.rfind("STRING", 0) != 0 && validateUserInput(value.c_str(), type.code) != 1)
        return false;
    return validateInputLength(value.c_str(), type.code, type.length) == 1;
}

// Declarations already searched in vain, with the shallowest depth they were searched from: a schema's
// types may share each other's content many times over, and searching it again finds nothing new.
using SearchedDeclarations = std::unordered_map<const xmlNode*, int>;

const xmlNode* declarationBelow(const XsdSchema& schema, const xmlNode* holder, const std::string& name, int depth,
                                SearchedDeclarations& searched) {
    if (holder == nullptr || depth > 16)
        return nullptr;
    if (auto before = searched.find(holder); before != searched.end() && before->second <= depth)
        return nullptr;
    std::vector<xmlNode*> children = xsdChildElements(schema, holder);
    for (const xmlNode* child : children)
        if (xmlProp(child, "name") == name)
            return child;
    for (const xmlNode* child : children)
        if (const xmlNode* found = declarationBelow(schema, child, name, depth + 1, searched))
            return found;
    auto [entry, added] = searched.emplace(holder, depth);
    if (!added)
        entry->second = std::min(entry->second, depth);
    return nullptr;
}

// What the scan of the global element declarations looks for: a page's declaration, below MANUFACTURING
// or global.
struct PageSearch {
    const XsdSchema* schema;
    std::string page;
    const xmlNode* belowRoot = nullptr;
    const xmlNode* global = nullptr;
};

// The first page declaration of that name among MANUFACTURING's, else the global one of that name.
const xmlNode* pageDeclarationByScan(const XsdSchema& schema, const std::string& page) {
    PageSearch search{&schema, page};
    if (schema.compiled() != nullptr && schema.compiled()->elemDecl != nullptr)
        xmlHashScan(schema.compiled()->elemDecl, SchemaHashtableScanner, &search);
    return search.belowRoot != nullptr ? search.belowRoot : search.global;
}

// The declaration of name at or below holder's element declarations (depth first).
const xmlNode* declarationBelow(const XsdSchema& schema, const xmlNode* holder, const std::string& name) {
    SearchedDeclarations searched;
    return declarationBelow(schema, holder, name, 0, searched);
}

} // namespace

void SchemaHashtableScanner(void* payload, void* data, const xmlChar* name) {
    auto* declaration = static_cast<xmlSchemaElement*>(payload);
    auto* search = static_cast<PageSearch*>(data);
    if (declaration == nullptr || declaration->node == nullptr || name == nullptr)
        return;
    if (xmlStrEqual(name, xmlStr("MANUFACTURING")))
        search->belowRoot = search->schema->declarationBelowRoot(search->page);
    if (search->page == charStr(name))
        search->global = declaration->node;
}

void fetchDefinedNodeWithStamp(xmlNode* node, const char* stamp, std::vector<xmlNode*>& found) {
    for (; node != nullptr && found.size() < 2; node = node->next) {
        if (!isElement(node))
            continue;
        if (xmlProp(node, "DEFINE") == std::string(stamp))
            found.push_back(node);
        fetchDefinedNodeWithStamp(node->children, stamp, found);
    }
}

std::size_t queryValueBufferSize(uint32_t length) {
    std::size_t characters = std::max<std::size_t>({8u * std::max<std::size_t>(length, 1), 15, length});
    return 2 + characters + 1;
}

ZELKOR_STATUS fetchElementfromXsd(const XsdSchema* schema, xmlNode* element, XsdFieldProperties& properties) {
    properties = XsdFieldProperties{};
    if (element == nullptr)
        return STATUS_FAILURE;
    std::vector<std::string> chain{charStr(element->name)};
    const xmlNode* page = nullptr;
    for (const xmlNode* up = element->parent; isElement(up); up = up->parent) {
        if (std::string_view(charStr(up->name)).substr(0, 4) == "page") {
            page = up;
            break;
        }
        chain.insert(chain.begin(), charStr(up->name));
    }
    if (page == nullptr || schema == nullptr)
        return STATUS_FAILURE;
    const std::string pageName = charStr(page->name);
    const xmlNode* declaration = pageDeclarationByScan(*schema, pageName);

    const EngineSwitches& switches = engineSwitches();
    if (switches.gFlagUnit || switches.gFlagGeneral) {
        std::optional<std::string> unit = xmlProp(page, "UNIT");
        if (!unit && declaration != nullptr)
            unit = xsdAttributeValue(xsdContentHolder(*schema, declaration), "UNIT");
        bool unitPage = isTrueWord(unit);
        if ((switches.gFlagGeneral && unitPage) || (switches.gFlagUnit && !unitPage))
            return STATUS_NO_UNIT_PAGE;
    }
    for (const std::string& name : chain)
        declaration = declarationBelow(*schema, declaration, name);
    if (declaration == nullptr)
        return STATUS_FAILURE;

    std::optional<std::string> type = defGetTypeFromNode(declaration);
    const xmlNode* holder = xsdContentHolder(*schema, declaration);
    if (type && !isStandardDataType(type->c_str())) {
        if (const xmlNode* named = schema->globalType(*type)) {
            if (std::optional<std::string> inner = defGetTypeFromNode(named)) {
                type = inner;
                holder = named;
            }
        }
    }
    std::vector<XsdAttribute> attributes = xsdAttributes(holder);
    if (holder != declaration) {
        std::vector<XsdAttribute> own = xsdAttributes(declaration);
        attributes.insert(attributes.begin(), own.begin(), own.end());
    }
    for (const XsdAttribute& attribute : attributes) {
        if (attribute.name == "TYPE" && findDataType(attribute.value) != nullptr) {
            type = attribute.value;
        } else if (attribute.name == "LENGTH") {
            uint32_t value = 0;
            if (convertToHex(attribute.value.c_str(), &value) == STATUS_OK)
                properties.length = value == 0 ? 1 : value;
        } else if (attribute.name == "OFFSET") {
            properties.offset = static_cast<uint32_t>(std::strtoul(attribute.value.c_str(), nullptr, 10));
        } else if (attribute.name == "NAME") {
            properties.name = attribute.value;
        }
    }
    const DataTypeInfo* info = type ? findDataType(*type) : nullptr;
    if (info == nullptr && attributes.empty())
        return STATUS_FAILURE;
    if (info == nullptr)
        info = &dataTypeInfo(FieldType::Char); // declared attributes without a known TYPE
    properties.code = info->userCode;
    properties.typeName = info->name;
    properties.writeMode = info->writeMode;
    return STATUS_OK;
}

ZELKOR_STATUS fetchDataForUseAttrib(xmlNode* root, xmlDoc* /*document*/, void* /*reserved*/, const char* /*xsdPath*/,
                                    const char* stamp, std::string& value) {
    if (root == nullptr || stamp == nullptr)
        return STATUS_NULL_ARGUMENT;
    std::vector<xmlNode*> defined;
    fetchDefinedNodeWithStamp(root, stamp, defined);
    if (defined.empty()) {
        userMessage("\nERROR: Stamp \"%s\" is not defined in XML.\n", stamp);
        return STATUS_INVALID_XML;
    }
    if (defined.size() > 1) {
        userMessage("\nERROR: Stamp \"%s\" is defined more than once in XML.\n", stamp);
        return STATUS_INVALID_XML;
    }
    value = trimmed(xmlText(defined.front()));
    return value.empty() ? STATUS_INVALID_XML : STATUS_OK;
}

ZELKOR_STATUS processUseAttrib(xmlNode* first, xmlDoc* document, void* reserved, const char* xsdPath) {
    ConversionSchema schema(xsdPath != nullptr ? xsdPath : "");
    return processUseAttrib(first, document, reserved, schema);
}

ZELKOR_STATUS processUseAttrib(xmlNode* first, xmlDoc* document, void* reserved, ConversionSchema& schema) {
    if (first == nullptr || document == nullptr)
        return STATUS_NULL_ARGUMENT;
    try {
        // Every DEFINE of the document, once.
        std::unordered_map<std::string, std::vector<xmlNode*>> stamps;
        walkElements(xmlDocGetRootElement(document), [&](xmlNode* node) {
            if (std::optional<std::string> stamp = xmlProp(node, "DEFINE"))
                stamps[*stamp].push_back(node);
            return true;
        });
        (void)reserved;
        StampContext context(schema);
        ZELKOR_STATUS status = STATUS_OK;
        walkElements(first, [&](xmlNode* field) {
            std::optional<std::string> stamp = xmlProp(field, "USE");
            if (!stamp)
                return true;
            FieldPlace place = placeOf(field);
            if (hasElementChild(field)) {
                status = misuse("USE", place);
                return false;
            }
            if (isTrueWord(xmlProp(field, "QUERY")))
                return true;
            StampType type;
            if (context.typeOf(field, place, type) == STATUS_NO_UNIT_PAGE)
                return true;
            if (stamp->empty() || (*stamp)[0] == ' ' || !isBlankOnly(xmlText(field))) {
                status = misuse("USE", place);
                return false;
            }
            auto found = stamps.find(*stamp);
            if (found == stamps.end() || found->second.size() != 1) {
                userMessage(found == stamps.end() ? "\nERROR: Stamp \"%s\" is not defined in XML.\n"
                                                  : "\nERROR: Stamp \"%s\" is defined more than once in XML.\n",
                            stamp->c_str());
                status = misuse("USE", place);
                return false;
            }
            std::string value = trimmed(xmlText(found->second.front()));
            if (isNumberCode(type.code))
                value = withoutHexPrefix(value);
            if (value.empty() || !acceptable(value, type)) {
                status = misuse("USE", place);
                return false;
            }
            if (!setElementText(field, value)) {
                status = STATUS_NO_MEMORY;
                return false;
            }
            xmlUnsetProp(field, xmlStr("USE"));
            return true;
        });
        return status;
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

ZELKOR_STATUS removeUseAttrib(xmlNode* first, xmlDoc* document, const char* /*outputPath*/, const char* /*xsdPath*/) {
    if (first == nullptr || document == nullptr)
        return STATUS_NULL_ARGUMENT;
    walkElements(first, [](xmlNode* node) {
        xmlUnsetProp(node, xmlStr("USE"));
        return true;
    });
    return STATUS_OK;
}

ZELKOR_STATUS processFormatDecAttrib(xmlNode* first, xmlDoc* document, void* reserved, const char* xsdPath) {
    ConversionSchema schema(xsdPath != nullptr ? xsdPath : "");
    return processFormatDecAttrib(first, document, reserved, schema);
}

ZELKOR_STATUS processFormatDecAttrib(xmlNode* first, xmlDoc* document, void* /*reserved*/, ConversionSchema& schema) {
    if (first == nullptr || document == nullptr)
        return STATUS_NULL_ARGUMENT;
    EngineState& state = engineState();
    try {
        StampContext context(schema);
        ZELKOR_STATUS status = STATUS_OK;
        walkElements(first, [&](xmlNode* field) {
            if (nameIs(field, "PAGE"))
                state.gFormatPageName = xmlProp(field, "NAME").value_or("");
            if (!isDecimalWord(xmlProp(field, "FORMAT")))
                return true;
            FieldPlace place = placeOf(field);
            state.gFormatPageName = place.page.value_or("");
            state.gFormatElementName = place.element.value_or(charStr(field->name));
            if (hasElementChild(field)) {
                status = misuse("FORMAT", place);
                return false;
            }
            StampType type;
            if (context.typeOf(field, place, type) == STATUS_NO_UNIT_PAGE)
                return true;
            static const char* const decimalTypes[] = {"DWORD", "WORD", "BYTE", "ByteArray", "BIT"};
            if (std::none_of(std::begin(decimalTypes), std::end(decimalTypes),
                             [&](const char* name) { return type.typeName == name; }))
                return true;
            std::string text = trimmed(xmlText(field));
            if (text.empty())
                return true;
            if (text.find_first_not_of("0123456789") != std::string::npos) {
                if (state.gFormatPageName.empty())
                    userMessage("\nERROR : Invalid content for element \"%s\".\n\n", state.gFormatElementName.c_str());
                else
                    userMessage("\nERROR : Invalid content for element \"%s\" in page \"%s\".\n\n",
                                state.gFormatElementName.c_str(), state.gFormatPageName.c_str());
                status = STATUS_INVALID_XML;
                return false;
            }
            if (validateDecimalValueRangeForFomatAttrib(text.c_str(), type.code, type.length) != 1) {
                status = STATUS_INVALID_XML;
                return false;
            }
            // The peppered form is written in hexadecimal; the user form stays decimal until its
            // peppered document is built.
            if (place.peppered) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%lx", std::strtoul(text.c_str(), nullptr, 10));
                if (!setElementText(field, hex)) {
                    status = STATUS_NO_MEMORY;
                    return false;
                }
            }
            return true;
        });
        return status;
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

ZELKOR_STATUS searchQueryAttrib(xmlNode* first, xmlDoc* document, QUERY_VALUE_CALLBACK callback, void* context,
                                const char* xsdPath) {
    if (first == nullptr || document == nullptr || callback == nullptr)
        return STATUS_NULL_ARGUMENT;
    EngineState& state = engineState();
    try {
        ConversionSchema schema(xsdPath != nullptr ? xsdPath : "");
        StampContext stamps(schema);
        ZELKOR_STATUS status = STATUS_OK;
        walkElements(first, [&](xmlNode* field) {
            if (!isTrueWord(xmlProp(field, "QUERY")))
                return true;
            FieldPlace place = placeOf(field);
            if (!place.page || hasElementChild(field)) {
                status = misuse("QUERY", place);
                return false;
            }
            state.gBoolFormatDecimalFound = isDecimalWord(xmlProp(field, "FORMAT"));
            StampType type;
            if (stamps.typeOf(field, place, type) == STATUS_NO_UNIT_PAGE) {
                state.gBoolFormatDecimalFound = false;
                return true;
            }
            // A field longer than a page can hold has no value to ask for; its buffer would be sized by
            // the document alone.
            if (type.length > MFG_PAGE_DATA_MAX) {
                state.gBoolFormatDecimalFound = false;
                status = misuse("QUERY", place);
                return false;
            }
            const std::size_t size = queryValueBufferSize(type.length);
            char* buffer = static_cast<char*>(std::calloc(size, 1));
            if (buffer == nullptr) {
                status = STATUS_NO_MEMORY;
                return false;
            }
            std::string text = trimmed(xmlText(field));
            std::memcpy(buffer, text.data(), std::min(text.size(), size - 1));
            ZELKOR_STATUS answered = callback(context, &buffer, type.typeName.c_str(), type.fromXsd ? 0 : type.length);
            std::string value = buffer != nullptr ? std::string(buffer) : std::string();
            std::free(buffer);
            if (answered != STATUS_OK) {
                state.gBoolFormatDecimalFound = false;
                status = answered;
                return false;
            }
            if (isNumberCode(type.code))
                value = withoutHexPrefix(value);
            // The caller's text becomes the element's content: it must be text the document can carry.
            if (!acceptable(value, type) || !xmlCanCarry(value)) {
                state.gBoolFormatDecimalFound = false;
                status = STATUS_QUERY_INVALID;
                return false;
            }
            if (!setElementText(field, value)) {
                status = STATUS_NO_MEMORY;
                return false;
            }
            xmlSetProp(field, xmlStr("QUERY"), xmlStr("FALSE"));
            xmlUnsetProp(field, xmlStr("USE"));
            state.gBoolFormatDecimalFound = false;
            return true;
        });
        return status;
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

} // namespace pageengine
