// Peppered document of static pages: the XSD walked alongside the user's document. Every element the
// schema declares on the way to a user page is emitted, named by the type its TYPE attribute declaration
// fixes, with the other declared attributes, and the user's text or else the schema's default.
#include "config/builderSupport.h"
#include "config/engineState.h"
#include "config/valueConversion.h"
#include "config/xmlBuilders.h"
#include "config/xsdParser.h"

#include <new>
#include <unordered_map>

namespace pageengine {

namespace {

class StaticBuilder {
  public:
    StaticBuilder(const XsdSchema& schema, xmlDoc* output) : schema_(schema), output_(output) {}

    ZELKOR_STATUS processPage(const xmlNode* declaration, const xmlNode* userPage, xmlNode* root);

  private:
    // One declaration emitted under parent, matched with the user's element (null: defaults only).
    ZELKOR_STATUS processXmlElement(const xmlNode* declaration, const xmlNode* user, xmlNode* parent,
                                    std::optional<uint64_t> index);
    // The declarations below a holder, each matched among the user element's children.
    ZELKOR_STATUS processChildNode(const xmlNode* holder, const xmlNode* user, xmlNode* parent);
    ZELKOR_STATUS processChoice(const xmlNode* choice, const xmlNode* user, xmlNode* parent);
    ZELKOR_STATUS processDeclaration(const xmlNode* declaration, const std::vector<const xmlNode*>& matches,
                                     xmlNode* parent);
    ZELKOR_STATUS processXmlAttribute(const xmlNode* holder, xmlNode* element, const std::string& name);

    const XsdSchema& schema_;
    xmlDoc* output_;
    ExpansionGuard guard_;
    std::string pageName_;
    std::optional<std::string> pageId_;
    bool unitCarry_ = false;
    uint64_t made_ = 0;      // elements made so far
    uint64_t enclosing_ = 1; // elements each new one is repeated into by the repetitions around it
};

using ByName = std::unordered_map<std::string, std::vector<const xmlNode*>>;
const std::vector<const xmlNode*> NO_MATCHES;

// The user's elements below a parent, by name, in document order.
ByName childrenByName(const xmlNode* user) {
    std::unordered_map<std::string, std::vector<const xmlNode*>> byName;
    for (const xmlNode* child = firstElementChild(user); child != nullptr; child = nextElementSibling(child))
        byName[charStr(child->name)].push_back(child);
    return byName;
}

// The user's occurrence of a repeated declaration: the one whose INDEX is the occurrence, else the
// occurrence-th of that name.
const xmlNode* occurrence(const std::vector<const xmlNode*>& matches, uint64_t index) {
    for (const xmlNode* match : matches)
        if (xmlProp(match, "INDEX") == std::to_string(index))
            return match;
    for (const xmlNode* match : matches)
        if (xmlProp(match, "INDEX"))
            return nullptr; // indexed, but not this index
    return index < matches.size() ? matches[index] : nullptr;
}

ZELKOR_STATUS StaticBuilder::processXmlAttribute(const xmlNode* holder, xmlNode* element, const std::string& name) {
    for (const XsdAttribute& attribute : xsdAttributes(holder)) {
        if (attribute.name == "TYPE") {
            // The field's element is named by it: a value that is no XML name, or one longer than any name a
            // reader takes, would make the document unreadable.
            if (attribute.value.size() > MAX_NAME_LENGTH || xmlValidateName(xmlStr(attribute.value.c_str()), 0) != 0) {
                userMessage("\nERROR : Invalid TYPE \"%s\" for element \"%s\".\n", cutName(attribute.value).c_str(),
                            name.c_str());
                return STATUS_INVALID_XML;
            }
            xmlNodeSetName(element, xmlStr(attribute.value.c_str()));
        } else if (attribute.name == "ID" && pageId_) {
            xmlSetProp(element, xmlStr("ID"), xmlStr(pageId_->c_str()));
            pageId_.reset();
        } else if (attribute.name == "NAME") {
            // A reserved field keeps the NAME the schema fixes, so that reading back leaves it alone.
            const std::string& shown = isReservedFieldName(attribute.value) ? attribute.value : name;
            xmlSetProp(element, xmlStr("NAME"), xmlStr(shown.c_str()));
        } else if (xmlHasProp(element, xmlStr(attribute.name.c_str())) == nullptr) {
            // What the user's element carried over (UNIT, INDEX, FORMAT, QUERY) stays.
            xmlSetProp(element, xmlStr(attribute.name.c_str()), xmlStr(attribute.value.c_str()));
        }
    }
    return STATUS_OK;
}

ZELKOR_STATUS StaticBuilder::processXmlElement(const xmlNode* declaration, const xmlNode* user, xmlNode* parent,
                                               std::optional<uint64_t> index) {
    const std::string name = cutName(xmlProp(declaration, "name").value_or(""));
    const xmlNode* holder = xsdContentHolder(schema_, declaration);
    const bool container = !xsdChildElements(schema_, declaration).empty();

    xmlNode* element = xmlNewDocNode(output_, nullptr, xmlStr("NEW"), nullptr);
    if (element == nullptr)
        return STATUS_INVALID_XML;
    xmlAddChild(parent, element);
    std::string text = xsdValue(declaration).value_or("");
    bool decimal = false;
    if (user != nullptr && !container) {
        std::string given = xmlText(user);
        if (!given.empty())
            text = given;
        decimal = isDecimalWord(xmlProp(user, "FORMAT"));
    }
    std::string converted;
    if (!fieldTextForPeppered(text, decimal, name, pageName_, converted))
        return STATUS_INVALID_XML;
    if (!container && !setElementText(element, converted))
        return STATUS_NO_MEMORY;
    xmlSetProp(element, xmlStr("NAME"), xmlStr(name.c_str()));
    if (unitCarry_) {
        xmlSetProp(element, xmlStr("UNIT"), xmlStr("TRUE"));
        unitCarry_ = false;
    }
    if (index)
        xmlSetProp(element, xmlStr("INDEX"), xmlStr(std::to_string(*index).c_str()));
    if (decimal)
        xmlSetProp(element, xmlStr("FORMAT"), xmlStr("Dec"));
    if (std::optional<std::string> query = user != nullptr ? xmlProp(user, "QUERY") : std::nullopt)
        xmlSetProp(element, xmlStr("QUERY"), xmlStr(query->c_str()));

    if (holder != declaration && !guard_.enter(holder, name))
        return STATUS_INVALID_XML;
    ZELKOR_STATUS status = processChildNode(holder, user, element);
    if (status == STATUS_OK)
        status = processXmlAttribute(holder, element, name);
    if (holder != declaration)
        guard_.leave();
    return status;
}

// One declaration of a content model: as many elements as it occurs.
ZELKOR_STATUS StaticBuilder::processDeclaration(const xmlNode* declaration,
                                               const std::vector<const xmlNode*>& matches, xmlNode* parent) {
    std::optional<uint64_t> count = xsdOccurrences(declaration);
    const std::string name = xmlProp(declaration, "name").value_or("");
    if (!count || *count > XSD_MAX_OCCURRENCES || *count * enclosing_ > XSD_MAX_ELEMENTS ||
        (made_ += *count) > XSD_MAX_ELEMENTS) {
        userMessage("\nERROR : Element \"%s\" repeats more often than a page can hold.\n", name.c_str());
        return STATUS_INVALID_XML;
    }
    if (*count == 1)
        return processXmlElement(declaration, matches.empty() ? nullptr : matches.front(), parent, std::nullopt);
    const uint64_t outer = enclosing_;
    enclosing_ = outer * *count;
    ZELKOR_STATUS status = STATUS_OK;
    for (uint64_t i = 0; i < *count && status == STATUS_OK; ++i)
        status = processXmlElement(declaration, occurrence(matches, i), parent, i);
    enclosing_ = outer;
    return status;
}

// A choice emits the alternatives the user chose, in the user's order; when the user chose none, every
// alternative with its defaults.
ZELKOR_STATUS StaticBuilder::processChoice(const xmlNode* choice, const xmlNode* user, xmlNode* parent) {
    std::unordered_map<std::string, const xmlNode*> alternatives;
    std::vector<const xmlNode*> all;
    for (const xmlNode* child = firstElementChild(choice); child != nullptr; child = nextElementSibling(child)) {
        if (!isXsd(child, "element"))
            continue;
        alternatives.emplace(xmlProp(child, "name").value_or(""), child);
        all.push_back(child);
    }
    bool chosen = false;
    for (const xmlNode* given = firstElementChild(user); given != nullptr; given = nextElementSibling(given)) {
        auto found = alternatives.find(charStr(given->name));
        if (found == alternatives.end())
            continue;
        chosen = true;
        if (ZELKOR_STATUS status = processXmlElement(found->second, given, parent, std::nullopt); status != STATUS_OK)
            return status;
    }
    if (chosen)
        return STATUS_OK;
    for (const xmlNode* alternative : all)
        if (ZELKOR_STATUS status = processDeclaration(alternative, NO_MATCHES, parent); status != STATUS_OK)
            return status;
    return STATUS_OK;
}

ZELKOR_STATUS StaticBuilder::processChildNode(const xmlNode* holder, const xmlNode* user, xmlNode* parent) {
    const xmlNode* complexType = isXsd(holder, "complexType") ? holder : nullptr;
    for (const xmlNode* child = firstElementChild(holder); complexType == nullptr && child != nullptr;
         child = nextElementSibling(child))
        if (isXsd(child, "complexType"))
            complexType = child;
    const ByName given = childrenByName(user);
    auto matchesOf = [&](const xmlNode* declaration) -> const std::vector<const xmlNode*>& {
        auto found = given.find(xmlProp(declaration, "name").value_or(""));
        return found != given.end() ? found->second : NO_MATCHES;
    };
    for (const xmlNode* group = firstElementChild(complexType); group != nullptr; group = nextElementSibling(group)) {
        if (!isXsd(group, "sequence") && !isXsd(group, "choice"))
            continue;
        if (isXsd(group, "choice")) {
            if (ZELKOR_STATUS status = processChoice(group, user, parent); status != STATUS_OK)
                return status;
            continue;
        }
        for (const xmlNode* item = firstElementChild(group); item != nullptr; item = nextElementSibling(item)) {
            ZELKOR_STATUS status = STATUS_OK;
            if (isXsd(item, "element"))
                status = processDeclaration(item, matchesOf(item), parent);
            else if (isXsd(item, "choice"))
                status = processChoice(item, user, parent);
            if (status != STATUS_OK)
                return status;
        }
    }
    return STATUS_OK;
}

ZELKOR_STATUS StaticBuilder::processPage(const xmlNode* declaration, const xmlNode* userPage, xmlNode* root) {
    pageName_ = charStr(userPage->name);
    unitCarry_ = xmlProp(userPage, "UNIT") == "TRUE";
    pageId_ = xmlProp(userPage, "ID");
    ZELKOR_STATUS status = processXmlElement(declaration, userPage, root, std::nullopt);
    pageId_.reset();
    unitCarry_ = false;
    return status;
}

bool pageHasGroups(const xmlNode* page) {
    for (const xmlNode* child = firstElementChild(page); child != nullptr; child = nextElementSibling(child))
        if (nameIs(child, "CONFIGSET") || isConfigGroupName(charStr(child->name)))
            return true;
    return false;
}

// The root takes the attributes the MANUFACTURING declaration fixes (SchemaVersion, Product, ...).
void rootAttributes(const xmlNode* declaration, xmlNode* root) {
    for (const XsdAttribute& attribute : xsdAttributes(declaration))
        xmlSetProp(root, xmlStr(attribute.name.c_str()), xmlStr(attribute.value.c_str()));
}

ZELKOR_STATUS buildStatic(const char* xsdName, xmlDoc* userDocument, const char* outName, uint8_t recordPages) {
    ConversionCarry& carry = conversionCarry();
    freeStaticPageList();
    carry.gStrSchemaFilename.clear();
    if (xsdName == nullptr || userDocument == nullptr || outName == nullptr)
        return STATUS_NULL_ARGUMENT;
    std::string schemaPath;
    if (ZELKOR_STATUS status = resolveSchemaPath(xsdName, schemaPath); status != STATUS_OK)
        return status;
    carry.gStrSchemaFilename = schemaPath;
    std::unique_ptr<XsdSchema> schema;
    if (ZELKOR_STATUS status = XsdSchema::load(schemaPath, schema); status != STATUS_OK)
        return status == STATUS_NO_MEMORY ? status : STATUS_XML_PARSE;
    if (ZELKOR_STATUS status = createOutputFile(outName); status != STATUS_OK)
        return status;
    XmlDocPtr output(xmlNewDoc(xmlStr("1.0")));
    if (!output)
        return STATUS_FAILURE;

    xmlNode* userRoot = xmlDocGetRootElement(userDocument);
    if (!nameIs(userRoot, "MANUFACTURING"))
        return STATUS_FAILURE;
    xmlNode* root = createManufacturingRoot(output.get(), schemaPath);
    if (root == nullptr)
        return STATUS_NO_MEMORY;
    const xmlNode* manufacturing = schema->globalElement("MANUFACTURING");
    if (manufacturing == nullptr)
        return STATUS_NO_ROOT_DECLARATION;
    rootAttributes(manufacturing, root);

    StaticBuilder builder(*schema, output.get());
    for (xmlNode* child = firstElementChild(userRoot); child != nullptr; child = nextElementSibling(child)) {
        if (nameIs(child, "PAGE")) {
            if (pageHasGroups(child)) {
                userMessage("\nCONFIGSET type (Or cg_ element and configGroup) is not supported with dynamic pages");
                return STATUS_FAILURE;
            }
            xmlNode* copy = xmlDocCopyNode(child, output.get(), 1);
            if (copy == nullptr)
                return STATUS_FAILURE;
            xmlAddChild(root, copy);
            continue;
        }
        if (const xmlNode* declaration = schema->pageDeclaration(charStr(child->name))) {
            if (ZELKOR_STATUS status = builder.processPage(declaration, child, root); status != STATUS_OK)
                return status;
        }
        if (recordPages == 1)
            recordStaticPage(charStr(child->name));
    }
    return saveDocument(output.get(), outName);
}

} // namespace

ZELKOR_STATUS createPepperedXml(const char* xsdName, xmlDoc* userDocument, const char* outName,
                                uint8_t recordPages) {
    try {
        return buildStatic(xsdName, userDocument, outName, recordPages);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

} // namespace pageengine
