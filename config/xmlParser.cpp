#include "config/xmlParser.h"

#include "config/engineState.h"
#include "config/mfgRegion.h"
#include "config/xmlRaii.h"

#include <libxml/xpath.h>

#include <algorithm>
#include <limits>
#include <new>
#include <unordered_set>

namespace pageengine {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A decimal attribute; absent or empty reads as 0, anything but digits (and surrounding blanks) is refused.
bool parseDecimalAttribute(const std::optional<std::string>& text, uint32_t& value) {
    value = 0;
    if (!text)
        return true;
    std::string_view digits(*text);
    while (!digits.empty() && isBlank(digits.front()))
        digits.remove_prefix(1);
    while (!digits.empty() && isBlank(digits.back()))
        digits.remove_suffix(1);
    uint64_t number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
        if (number > std::numeric_limits<uint32_t>::max())
            return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

bool isTrueText(const std::optional<std::string>& text) {
    return text && (*text == "TRUE" || *text == "true" || *text == "True");
}

bool isDecimalFormat(const std::optional<std::string>& text) {
    return text && (*text == "Dec" || *text == "dec" || *text == "DEC");
}

void invalidElement(std::string_view element, std::string_view page) {
    userMessage("\nERROR : Invalid element \"%.*s\" in page \"%.*s\".\n", static_cast<int>(element.size()),
                element.data(), static_cast<int>(page.size()), page.data());
}

ZELKOR_STATUS pageTooLong(std::string_view page) {
    userMessage("\nERROR : Page \"%.*s\" is too long: a page holds at most %u data bytes.\n\n",
                static_cast<int>(page.size()), page.data(), MFG_PAGE_DATA_MAX);
    engineLog(FUNCTION_XML2BIN, ZELKOR_LOG_ERROR, "Page too long in XML File.\n");
    return STATUS_INVALID_XML;
}

void schemaAttributeMissing(const xmlNode* root, const char* attribute) {
    const char* name = root != nullptr ? charStr(root->name) : "";
    int line = root != nullptr ? static_cast<int>(xmlGetLineNo(root)) : 0;
    userMessage("\n%d: element %s: Schemas validity error : element %s: '%s' is required but missing\n", line,
                name, name, attribute);
}

std::optional<std::string> rootAttribute(xmlDoc* document, const char* attribute, const char* shownName,
                                         bool mayBeEmpty) {
    xmlNode* root = document != nullptr ? xmlDocGetRootElement(document) : nullptr;
    if (root != nullptr) {
        std::optional<std::string> value = xmlProp(root, attribute);
        if (value && (mayBeEmpty || !value->empty()))
            return value;
    }
    schemaAttributeMissing(root, shownName);
    return std::nullopt;
}

// Bytes a top-level field adds to its page.
std::size_t topLevelSize(const PAGE_DATA_NODE& node) {
    if (node.writeMode == WRITE_WIDE_TEXT)
        return 2 * std::size_t{node.count}; // characters + terminator, two bytes each
    if (node.width == WIDTH_BIT)
        return 0;
    return std::size_t{node.width} * node.count;
}

ZELKOR_STATUS walkFields(xmlNode* first, PAGE_RECORD& page, uint32_t depth, void* context) {
    for (xmlNode* element = first; element != nullptr; element = element->next) {
        if (!isElement(element))
            continue;
        if (depth == 0 && nameIs(element, "CONFIGSET")) {
            if (ZELKOR_STATUS status = walkFields(element->children, page, 0, context); status != STATUS_OK)
                return status;
            continue;
        }
        PAGE_DATA_NODE node;
        node.topLevel = depth == 0 ? 1 : 0;
        node.level = depth;
        if (ZELKOR_STATUS status = populateDataFromXml(element, node); status != STATUS_OK) {
            if (status == STATUS_INVALID_XML)
                userMessage("\nERROR : Invalid XML file.");
            return status;
        }
        if (node.topLevel) {
            std::size_t size = topLevelSize(node);
            if (size > MFG_PAGE_DATA_MAX - page.length) {
                pageTooLong(page.name);
                userMessage("\nERROR : Invalid XML file.");
                return STATUS_INVALID_XML;
            }
            page.length += static_cast<uint32_t>(size);
        }
        if (ZELKOR_STATUS status = addNodeToElementList(&page.nodes, &node); status != STATUS_OK)
            return status;
        if (node.hasChildren) {
            if (ZELKOR_STATUS status = walkFields(element->children, page, depth + 1, context);
                status != STATUS_OK)
                return status;
        }
    }
    return STATUS_OK;
}

// Packing, padding and checksum of a page whose fields were read.
ZELKOR_STATUS finishPage(PAGE_RECORD& page) {
    page.length += 4; // the length and id fields
    for (std::size_t i = 0; i < page.nodes.size(); ++i) {
        if (page.nodes[i].topLevel && page.nodes[i].hasChildren) {
            if (ZELKOR_STATUS status = getChildNodeData(page.nodes, i); status != STATUS_OK)
                return status;
        }
    }
    if (uint32_t remainder = page.length % 4; remainder != 0) {
        PAGE_DATA_NODE padding;
        padding.width = 1;
        padding.count = 4 - remainder;
        padding.topLevel = 1;
        padding.data.assign(padding.count, 0);
        page.length += padding.count;
        page.nodes.push_back(std::move(padding));
    }
    uint8_t sum = 0;
    for (const PAGE_DATA_NODE& node : page.nodes) {
        if (!node.topLevel)
            continue;
        if (node.width == WIDTH_BIT) {
            invalidElement(node.name, page.name);
            userMessage("ERROR : Invalid XML file.");
            return STATUS_INVALID_XML;
        }
        sum = static_cast<uint8_t>(sum + mfgChecksum(serializeNode(node)));
    }
    const uint8_t header[4] = {
        static_cast<uint8_t>(page.length & 0xFF), static_cast<uint8_t>(page.length >> 8),
        static_cast<uint8_t>(page.pageId & 0xFF), static_cast<uint8_t>(page.pageId >> 8)};
    page.checksum = static_cast<uint8_t>(sum + mfgChecksum(header));
    return STATUS_OK;
}

ZELKOR_STATUS parsePages(const char* path, const char* rootCheckSwitch, void* context) {
    EngineState& state = engineState();
    const EngineSwitches& switches = engineSwitches();
    if (path == nullptr || *path == '\0') {
        engineLog(FUNCTION_XML2BIN, ZELKOR_LOG_ERROR, "File Name missing.\n");
        return STATUS_NULL_ARGUMENT;
    }
    XmlDocPtr document = readXmlFile(path);
    if (!document) {
        engineLog(FUNCTION_XML2BIN, ZELKOR_LOG_ERROR, "LIBXML2 failed to parse the XML file %s.\n", path);
        return STATUS_XML_PARSE;
    }
    if (rootCheckSwitch == nullptr) {
        xmlNode* root = findXmlNode(document.get(), "//MANUFACTURING");
        std::optional<std::string> location =
            root != nullptr ? xmlProp(root, "noNamespaceSchemaLocation") : std::nullopt;
        if (!location || location->empty()) {
            schemaAttributeMissing(root != nullptr ? root : xmlDocGetRootElement(document.get()),
                                   "xsi:noNamespaceSchemaLocation");
            return STATUS_NO_SCHEMA_LOCATION;
        }
    }
    xmlNode* first = findXmlNode(document.get(), "//PAGE");
    if (first == nullptr) {
        engineLog(FUNCTION_XML2BIN, ZELKOR_LOG_ERROR, "Invalid XML file.\n");
        userMessage("\nERROR : XML does not contain any page.\n");
        userMessage("Invalid XML file.");
        return STATUS_INVALID_XML;
    }

    ZELKOR_STATUS status = STATUS_OK;
    unsigned unitPages = 0;
    unsigned generalPages = 0;
    std::unordered_set<uint16_t> seenIds;
    for (xmlNode* element = first; element != nullptr; element = element->next) {
        if (!isElement(element))
            continue;
        PAGE_RECORD page;
        page.name = cutName(xmlProp(element, "NAME").value_or(""));
        state.gPageName = page.name;

        std::optional<std::string> id = xmlProp(element, "ID");
        if (!id || id->empty()) {
            engineLog(FUNCTION_XML2BIN, ZELKOR_LOG_ERROR, "Invalid Page Id in XML File.\n");
            userMessage("\nERROR : Page ID is missing for page \"%s\".\n\n", page.name.c_str());
            userMessage("The XML file failed Schema validation.");
            return STATUS_PAGE_ID_MISSING;
        }
        uint32_t idValue = 0;
        if (convertToHex(id->c_str(), &idValue) != STATUS_OK) {
            userMessage("\nERROR : Invalid Page ID for page \"%s\".\n\n", page.name.c_str());
            userMessage("The XML file failed Schema validation.");
            status = STATUS_INVALID_XML;
            break;
        }
        page.pageId = static_cast<uint16_t>(idValue & 0xFFFF);

        const bool unitPage = xmlProp(element, "UNIT").value_or("") == "TRUE";
        if (switches.gFlagUnit) {
            if (!unitPage)
                continue;
            ++unitPages;
        }
        if (switches.gFlagGeneral) {
            if (unitPage)
                continue;
            ++generalPages;
        }

        if (seenIds.count(page.pageId) != 0) {
            engineLog(FUNCTION_XML2BIN, ZELKOR_LOG_ERROR, "Duplicate Page Id in XML File.\n");
            userMessage("\nERROR : Page ID \"%s\" is used for multiple pages.\n\n", id->c_str());
            userMessage("The XML file failed Schema validation.");
            return STATUS_DUPLICATE_PAGE_ID;
        }

        if (!hasElementChild(element))
            continue;
        if (nameIs(element, "PAGE")) {
            if ((status = readXmlNodePropertiesToDataNode(element->children, page, context)) != STATUS_OK)
                break;
            if ((status = modifyPepperedXmlOutput(page)) != STATUS_OK)
                break;
        }
        if ((status = finishPage(page)) != STATUS_OK)
            break;
        seenIds.insert(page.pageId);
        state.gXMLPagelist.push_back(std::move(page));
    }

    if (switches.gFlagUnit && unitPages == 0) {
        engineLog(FUNCTION_XML2BIN, ZELKOR_LOG_ERROR, "Unit page is not available in XML File.\n");
        userMessage("Xml does not contain any unit page...");
        return STATUS_NO_UNIT_PAGE;
    }
    if (switches.gFlagGeneral && generalPages == 0) {
        engineLog(FUNCTION_XML2BIN, ZELKOR_LOG_ERROR, "Only Unit pages are available in XML File.\n");
        userMessage("Xml does not contain any Non-unit page...");
        return STATUS_NO_GENERAL_PAGE;
    }
    return status;
}

// Text read back from a page must be text an XML document can carry: UTF-8 without control characters
// other than tab, line feed and carriage return. Erased (0xFF) or binary bytes would read back changed.
ZELKOR_STATUS readCarriableField(const PAGE_DATA_NODE& field, PageReader& reader, std::string_view pageName,
                                 std::optional<std::string>& text) {
    if (ZELKOR_STATUS status = reader.readField(field, text); status != STATUS_OK)
        return status;
    if (text && !xmlCanCarry(*text)) {
        userMessage("\nERROR : Invalid content for element \"%s\" in page \"%.*s\".\n\n", field.name.c_str(),
                    static_cast<int>(pageName.size()), pageName.data());
        return STATUS_INVALID_XML;
    }
    return STATUS_OK;
}

ZELKOR_STATUS walkBinary(xmlNode* first, PageReader& reader, uint32_t depth) {
    const std::string& pageName = engineState().gPageName;
    for (xmlNode* element = first; element != nullptr; element = element->next) {
        if (!isElement(element))
            continue;
        if (depth == 0 && nameIs(element, "CONFIGSET")) {
            if (ZELKOR_STATUS status = walkBinary(element->children, reader, 0); status != STATUS_OK)
                return status;
            continue;
        }
        PAGE_DATA_NODE field;
        field.topLevel = depth == 0 ? 1 : 0;
        field.level = depth;
        if (ZELKOR_STATUS status = populateFieldProperties(element, field, pageName); status != STATUS_OK)
            return status;
        if (field.hasChildren) {
            if (ZELKOR_STATUS status = reader.enterContainer(field); status != STATUS_OK)
                return status;
            ZELKOR_STATUS status = walkBinary(element->children, reader, depth + 1);
            reader.leaveContainer();
            if (status != STATUS_OK)
                return status;
            continue;
        }
        std::optional<std::string> text;
        if (ZELKOR_STATUS status = readCarriableField(field, reader, pageName, text); status != STATUS_OK)
            return status;
        if (text && !setElementText(element, *text))
            return STATUS_NO_MEMORY;
    }
    return STATUS_OK;
}

} // namespace

ZELKOR_STATUS zelkor_ParseXmlFile(ZELKOR_INSTANCE* handle, const char* path, const char* rootCheckSwitch,
                                  void* context) {
    resetEngineState();
    setXmlHandle(handle);
    try {
        return parsePages(path, rootCheckSwitch, context);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

ZELKOR_STATUS readXmlNodePropertiesToDataNode(xmlNode* firstChild, PAGE_RECORD& page, void* context) {
    return walkFields(firstChild, page, 0, context);
}

ZELKOR_STATUS populateFieldProperties(xmlNode* element, PAGE_DATA_NODE& node, std::string_view pageName) {
    const DataTypeInfo* info = findDataType(charStr(element->name));
    if (info == nullptr || info->type == FieldType::Hex) {
        invalidElement(charStr(element->name), pageName);
        return STATUS_INVALID_XML;
    }
    node.type = info->type;
    node.width = info->width;
    node.writeMode = info->writeMode;
    node.name = cutName(xmlProp(element, "NAME").value_or(""));
    uint32_t length = 0;
    uint32_t offset = 0;
    if (!parseDecimalAttribute(xmlProp(element, "LENGTH"), length) ||
        !parseDecimalAttribute(xmlProp(element, "OFFSET"), offset)) {
        userMessage("\nERROR : Invalid content for element \"%s\" in page \"%.*s\".\n\n", node.name.c_str(),
                    static_cast<int>(pageName.size()), pageName.data());
        return STATUS_INVALID_XML;
    }
    node.count = length == 0 ? 1 : length;
    node.offset = offset;
    node.query = isTrueText(xmlProp(element, "QUERY")) ? 1 : 0;
    node.formatDecimal = isDecimalFormat(xmlProp(element, "FORMAT")) ? 1 : 0;
    node.hasChildren = hasElementChild(element) ? 1 : 0;

    if (node.hasChildren) {
        // A container is a number made of its children's bytes; bits and wide text cannot hold children.
        if (node.width == WIDTH_BIT || node.width == WIDTH_WIDE_TEXT) {
            invalidElement(node.name, pageName);
            return STATUS_INVALID_XML;
        }
        node.writeMode = WRITE_NUMBER;
    } else if (node.type == FieldType::IpAddress) {
        // An address is always four bytes.
        if (length != 0 && length != 4) {
            userMessage("\nERROR : Invalid content for element \"%s\" in page \"%.*s\".\n\n",
                        node.name.c_str(), static_cast<int>(pageName.size()), pageName.data());
            return STATUS_INVALID_XML;
        }
        node.count = 4;
    }
    // A field that no page could hold is refused before its bytes are made; wide text is sized by its
    // characters, which the page total bounds.
    if (node.width != WIDTH_WIDE_TEXT && std::size_t{node.width} * node.count > MFG_PAGE_DATA_MAX)
        return pageTooLong(pageName);
    return STATUS_OK;
}

ZELKOR_STATUS populateDataFromXml(xmlNode* element, PAGE_DATA_NODE& node) {
    const std::string& pageName = engineState().gPageName;
    if (ZELKOR_STATUS status = populateFieldProperties(element, node, pageName); status != STATUS_OK)
        return status;
    if (node.hasChildren) {
        node.data.assign(std::size_t{node.width} * node.count, 0);
        return STATUS_OK;
    }
    return setNodeData(node, xmlText(element), pageName);
}

ZELKOR_STATUS addNodeToElementList(std::vector<PAGE_DATA_NODE>* list, const PAGE_DATA_NODE* node) {
    if (list == nullptr || node == nullptr)
        return STATUS_NULL_ARGUMENT;
    try {
        list->push_back(*node);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
    return STATUS_OK;
}

xmlNode* findXmlNode(xmlDoc* document, const char* expression) {
    if (document == nullptr || expression == nullptr)
        return nullptr;
    XmlXPathContextPtr context(xmlXPathNewContext(document));
    if (!context)
        return nullptr;
    XmlXPathObjectPtr result(xmlXPathEvalExpression(xmlStr(expression), context.get()));
    if (!result || result->nodesetval == nullptr || result->nodesetval->nodeNr == 0)
        return nullptr;
    return result->nodesetval->nodeTab[0];
}

std::optional<std::string> getSchemaNameFromXmlFile(xmlDoc* document) {
    return rootAttribute(document, "noNamespaceSchemaLocation", "xsi:noNamespaceSchemaLocation", false);
}

std::optional<std::string> getSchemaVersionFromXmlFile(xmlDoc* document) {
    return rootAttribute(document, "SchemaVersion", "SchemaVersion", true);
}

std::optional<std::string> getProductNameFromXmlFile(xmlDoc* document) {
    return rootAttribute(document, "Product", "Product", true);
}

ZELKOR_STATUS readBinaryIntoPepperedPage(xmlNode* firstChild, PageReader& reader) {
    try {
        return walkBinary(firstChild, reader, 0);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

ZELKOR_STATUS populateDataInXmlwithBinaryData(const PAGE_DATA_NODE& field, xmlNode* userElement,
                                              PageReader& reader) {
    std::optional<std::string> text;
    if (ZELKOR_STATUS status = readCarriableField(field, reader, engineState().gPageName, text);
        status != STATUS_OK)
        return status;
    if (text && userElement != nullptr && !isReservedFieldName(field.name) &&
        !setElementText(userElement, *text))
        return STATUS_NO_MEMORY;
    return STATUS_OK;
}

} // namespace pageengine
