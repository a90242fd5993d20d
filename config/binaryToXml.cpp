#include "config/binaryToXml.h"

#include "config/engineState.h"
#include "config/mfgRegion.h"
#include "config/stamps.h"
#include "config/valueConversion.h"
#include "config/xmlParser.h"
#include "config/xmlRaii.h"
#include "config/xsdParser.h"

#include <libxml/xmlschemas.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace pageengine {

namespace {

struct StaticListRelease {
    ~StaticListRelease() { freeStaticPageList(); }
};

void fileNameMissing() {
    engineLog(FUNCTION_BIN2XML, ZELKOR_LOG_ERROR, "File Name missing.\n");
}

ZELKOR_STATUS parseFailed(const char* path) {
    engineLog(FUNCTION_BIN2XML, ZELKOR_LOG_ERROR, "LIBXML2 failed to parse the XML file %s.\n", path);
    return STATUS_XML_PARSE;
}

ZELKOR_STATUS schemaValidationFailed(const char* format, const std::string& value, ZELKOR_STATUS status) {
    userMessage(format, value.c_str());
    userMessage("The XML file failed Schema validation.");
    return status;
}

// The whole image, measured from its end. Anything that cannot be measured or read in full is 43.
ZELKOR_STATUS readImage(FILE* image, std::vector<uint8_t>& bytes) {
    if (std::fseek(image, 0, SEEK_END) != 0)
        return STATUS_IMAGE_READ;
    long size = std::ftell(image);
    if (size < 0 || size > MAX_IMAGE_SIZE || std::fseek(image, 0, SEEK_SET) != 0)
        return STATUS_IMAGE_READ;
    bytes.resize(static_cast<std::size_t>(size));
    if (size > 0 && std::fread(bytes.data(), 1, bytes.size(), image) != bytes.size())
        return STATUS_IMAGE_READ;
    return STATUS_OK;
}

// The user element a peppered field NAME stands for: blanks removed, letters in any case, a digit of the
// NAME matching any character.
bool nameMatches(const std::string& fieldName, const xmlNode* user) {
    std::string wanted;
    for (char c : fieldName)
        if (c != ' ' && c != '\t')
            wanted += c;
    std::string_view given(charStr(user->name));
    if (given.size() != wanted.size())
        return false;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        unsigned char w = static_cast<unsigned char>(wanted[i]);
        if (std::isdigit(w))
            continue;
        if (std::tolower(w) != std::tolower(static_cast<unsigned char>(given[i])))
            return false;
    }
    return true;
}

ZELKOR_STATUS fillUserElements(xmlNode* peppered, xmlNode*& cursor, PageReader& reader, uint32_t depth);

// A field that no user element takes: its bytes are passed over.
ZELKOR_STATUS consumeField(xmlNode* element, const PAGE_DATA_NODE& field, PageReader& reader, uint32_t depth) {
    if (field.hasChildren) {
        if (ZELKOR_STATUS status = reader.enterContainer(field); status != STATUS_OK)
            return status;
        xmlNode* none = nullptr;
        ZELKOR_STATUS status = fillUserElements(element->children, none, reader, depth + 1);
        reader.leaveContainer();
        return status;
    }
    std::optional<std::string> text;
    return reader.readField(field, text);
}

ZELKOR_STATUS fillUserElements(xmlNode* peppered, xmlNode*& cursor, PageReader& reader, uint32_t depth) {
    const std::string& pageName = engineState().gPageName;
    for (xmlNode* element = peppered; element != nullptr; element = element->next) {
        if (!isElement(element))
            continue;
        if (depth == 0 && nameIs(element, "CONFIGSET")) {
            if (ZELKOR_STATUS status = fillUserElements(element->children, cursor, reader, 0); status != STATUS_OK)
                return status;
            continue;
        }
        PAGE_DATA_NODE field;
        field.topLevel = depth == 0 ? 1 : 0;
        field.level = depth;
        if (ZELKOR_STATUS status = populateFieldProperties(element, field, pageName); status != STATUS_OK)
            return status;
        xmlNode* match = nullptr;
        if (!isReservedFieldName(field.name)) {
            for (xmlNode* user = cursor; user != nullptr; user = nextElementSibling(user))
                if (isElement(user) && nameMatches(field.name, user)) {
                    match = user;
                    break;
                }
        }
        if (match == nullptr) {
            if (ZELKOR_STATUS status = consumeField(element, field, reader, depth); status != STATUS_OK)
                return status;
            continue;
        }
        cursor = nextElementSibling(match);
        if (field.hasChildren) {
            if (ZELKOR_STATUS status = reader.enterContainer(field); status != STATUS_OK)
                return status;
            xmlNode* inner = firstElementChild(match);
            ZELKOR_STATUS status = fillUserElements(element->children, inner, reader, depth + 1);
            reader.leaveContainer();
            if (status != STATUS_OK)
                return status;
            continue;
        }
        if (ZELKOR_STATUS status = populateDataInXmlwithBinaryData(field, match, reader); status != STATUS_OK)
            return status;
    }
    return STATUS_OK;
}

struct PepperedPage {
    xmlNode* element;
    std::string name;
    std::string idText;
    uint16_t id;
};

// The peppered PAGE siblings by 16-bit id, checked once.
ZELKOR_STATUS indexPepperedPages(xmlNode* first, std::vector<PepperedPage>& pages,
                                 std::unordered_map<uint16_t, std::vector<std::size_t>>& byId) {
    for (xmlNode* element = first; element != nullptr; element = element->next) {
        if (!isElement(element))
            continue;
        std::string name = cutName(xmlProp(element, "NAME").value_or(""));
        std::optional<std::string> id = xmlProp(element, "ID");
        if (!id || id->empty())
            return schemaValidationFailed("\nERROR : Page ID is missing for page \"%s\".\n\n", name,
                                          STATUS_PAGE_ID_MISSING);
        uint32_t value = 0;
        if (convertToHex(id->c_str(), &value) != STATUS_OK)
            return schemaValidationFailed("\nERROR : Invalid Page ID for page \"%s\".\n\n", name, STATUS_INVALID_XML);
        byId[static_cast<uint16_t>(value)].push_back(pages.size());
        pages.push_back({element, name, *id, static_cast<uint16_t>(value)});
    }
    return STATUS_OK;
}

ZELKOR_STATUS convertBack(const char* userXmlPath, const char* outputXmlPath, FILE* image,
                          const char* pepperedXmlPath) {
    if (image == nullptr)
        return STATUS_NULL_ARGUMENT;
    if (pepperedXmlPath == nullptr || userXmlPath == nullptr || outputXmlPath == nullptr) {
        fileNameMissing();
        return STATUS_NULL_ARGUMENT;
    }
    XmlDocPtr peppered = readXmlFile(pepperedXmlPath);
    if (!peppered)
        return parseFailed(pepperedXmlPath);
    std::optional<std::string> location = getSchemaNameFromXmlFile(peppered.get());
    if (!location)
        return STATUS_NO_SCHEMA_LOCATION;
    xmlNode* firstPage = findXmlNode(peppered.get(), "//PAGE");
    if (firstPage == nullptr) {
        userMessage("\nERROR : XML does not contain any page.\n");
        userMessage("Invalid XML file.");
        return STATUS_INVALID_XML;
    }
    std::vector<uint8_t> bytes;
    if (ZELKOR_STATUS status = readImage(image, bytes); status != STATUS_OK)
        return status;

    XmlDocPtr output(xmlNewDoc(xmlStr("1.0")));
    if (!output)
        return STATUS_NO_MEMORY;
    const ConversionCarry& carry = conversionCarry();
    if (createRootNodeInOutputXml(output.get(), carry.gStrSchemaFilename.empty() ? *location
                                                                                 : carry.gStrSchemaFilename) == nullptr)
        return STATUS_NO_MEMORY;
    xmlNode* root = xmlDocGetRootElement(output.get());
    const xmlNode* pepperedRoot = xmlDocGetRootElement(peppered.get());
    for (const char* attribute : {"SchemaVersion", "Product"})
        if (!xmlHasProp(root, xmlStr(attribute)))
            if (std::optional<std::string> value = xmlProp(pepperedRoot, attribute))
                xmlSetProp(root, xmlStr(attribute), xmlStr(value->c_str()));

    XmlDocPtr user = readXmlFile(userXmlPath);
    if (!user)
        return parseFailed(userXmlPath);
    // The user's page elements by name: the first element of that name anywhere, as "//name" selects.
    std::unordered_map<std::string, xmlNode*> userPages;
    std::unordered_set<std::string> listed;
    for (const PAGE_RECORD& record : carry.gStaticPageList)
        listed.insert(record.name);
    std::function<void(xmlNode*)> indexUser = [&](xmlNode* node) {
        for (; node != nullptr; node = node->next) {
            if (!isElement(node))
                continue;
            userPages.emplace(charStr(node->name), node);
            indexUser(node->children);
        }
    };
    indexUser(xmlDocGetRootElement(user.get()));

    std::vector<PepperedPage> pages;
    std::unordered_map<uint16_t, std::vector<std::size_t>> byId;
    bool indexed = false;
    std::unordered_set<uint16_t> emittedIds;
    EngineState& state = engineState();
    auto convertPage = [&](const MfgPage& page) -> ZELKOR_STATUS {
        if (!indexed) {
            indexed = true;
            if (ZELKOR_STATUS status = indexPepperedPages(firstPage, pages, byId); status != STATUS_OK)
                return status;
        }
        const uint16_t id = page.header.pageId;
        auto found = byId.find(id);
        const PepperedPage* described = nullptr;
        if (found != byId.end())
            for (std::size_t at : found->second)
                if (nameIs(pages[at].element, "PAGE")) {
                    described = &pages[at];
                    break;
                }
        bool emitted = emittedIds.count(id) != 0;
        if (found != byId.end()) {
            const PepperedPage& first = pages[found->second.front()];
            bool namesDiffer = std::any_of(found->second.begin(), found->second.end(),
                                           [&](std::size_t at) { return pages[at].name != first.name; });
            if (emitted || namesDiffer) {
                return schemaValidationFailed("\nERROR : Page ID \"%s\" is used for multiple pages.\n\n",
                                              (described != nullptr ? *described : first).idText,
                                              STATUS_DUPLICATE_PAGE_ID);
            }
        }
        if (described == nullptr)
            return STATUS_OK;
        state.gPageName = described->name;
        PageReader reader(page.data);
        PAGE_RECORD record;
        record.name = described->name;
        record.pageId = id;
        record.length = page.header.length;
        xmlNode* copy = nullptr;
        ZELKOR_STATUS status = STATUS_OK;
        auto userPage = listed.count(described->name) != 0 ? userPages.find(described->name) : userPages.end();
        if (userPage != userPages.end()) {
            copy = xmlDocCopyNode(userPage->second, output.get(), 1);
            if (copy == nullptr)
                return STATUS_NO_MEMORY;
            status = updateNodePropertiesWithBinaryData(described->element->children, copy->children, record, reader);
        } else {
            copy = xmlDocCopyNode(described->element, output.get(), 1);
            if (copy == nullptr)
                return STATUS_NO_MEMORY;
            status = readBinaryIntoPepperedPage(copy->children, reader);
        }
        if (status != STATUS_OK) {
            xmlFreeNode(copy);
            return status;
        }
        xmlAddChild(root, copy);
        state.gXMLPagelist.push_back(std::move(record));
        emittedIds.insert(id);
        return STATUS_OK;
    };
    PageWalkResult walked = walkRegionImage(bytes, convertPage);
    if (walked.end == PageWalkEnd::Stopped)
        return walked.status;
    if (walked.end == PageWalkEnd::Complete)
        removeUseAttrib(root, output.get(), outputXmlPath, nullptr);
    if (saveDocument(output.get(), outputXmlPath) != STATUS_OK)
        return STATUS_FAILURE;
    return walked.end == PageWalkEnd::BadPage ? STATUS_FAILURE : STATUS_OK;
}

} // namespace

ZELKOR_STATUS zelkor_CreateOutputXMLFile(ZELKOR_INSTANCE* handle, const char* userXmlPath, const char* outputXmlPath,
                                         FILE* image, const char* pepperedXmlPath) {
    StaticListRelease release;
    resetEngineState();
    setXmlHandle(handle);
    try {
        return convertBack(userXmlPath, outputXmlPath, image, pepperedXmlPath);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

ZELKOR_STATUS updateNodePropertiesWithBinaryData(xmlNode* pepperedFirstChild, xmlNode* userFirstChild,
                                                 PAGE_RECORD& /*page*/, PageReader& reader) {
    xmlNode* cursor = userFirstChild;
    while (cursor != nullptr && !isElement(cursor))
        cursor = cursor->next;
    try {
        return fillUserElements(pepperedFirstChild, cursor, reader, 0);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

int is_valid(xmlDoc* document, const char* xsdPath) {
    if (xsdPath == nullptr)
        return 1;
    XmlDocPtr schemaDocument = readXmlFile(xsdPath);
    if (!schemaDocument)
        return 1;
    XmlSchemaParserCtxtPtr parser(xmlSchemaNewDocParserCtxt(schemaDocument.get()));
    if (!parser)
        return 2;
    XmlSchemaPtr schema(xmlSchemaParse(parser.get()));
    if (!schema)
        return 3;
    XmlSchemaValidCtxtPtr validation(xmlSchemaNewValidCtxt(schema.get()));
    if (!validation)
        return 4;
    if (document == nullptr)
        return 5;
    return xmlSchemaValidateDoc(validation.get(), document) == 0 ? 6 : 5;
}

ZELKOR_STATUS zelkor_CleanXmlParser() {
    resetEngineState();
    freeStaticPageList();
    return STATUS_OK;
}

xmlNode* createRootNodeInOutputXml(xmlDoc* document, const std::string& schemaName) {
    xmlNode* root = createManufacturingRoot(document, schemaName);
    if (root == nullptr)
        return nullptr;
    const ConversionCarry& carry = conversionCarry();
    if (!carry.gStrSchemaVersion.empty())
        xmlSetProp(root, xmlStr("SchemaVersion"), xmlStr(carry.gStrSchemaVersion.c_str()));
    if (!carry.gStrProductName.empty())
        xmlSetProp(root, xmlStr("Product"), xmlStr(carry.gStrProductName.c_str()));
    return root;
}

xmlNode* createRootNodeInPepperedXml(xmlDoc* document, const std::string& schemaName) {
    return createManufacturingRoot(document, schemaName);
}

} // namespace pageengine
