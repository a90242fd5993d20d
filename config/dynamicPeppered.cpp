// Peppered document of dynamic pages: each page of the complete document looked up in the XSD. A page
// becomes a PAGE element, a field an element named by its declared type with NAME, LENGTH (in units of the
// type), OFFSET for bit fields and the field's own attributes; containers nest their children and sum
// their children's LENGTH when the schema gives none.
#include "config/builderSupport.h"
#include "config/engineState.h"
#include "config/valueConversion.h"
#include "config/xmlBuilders.h"
#include "config/xsdParser.h"

#include <cctype>
#include <cstdlib>
#include <new>
#include <strings.h>
#include <unordered_map>

namespace pageengine {

namespace {

struct TypeLength {
    const char* name;
    const char* length;
};
constexpr TypeLength TYPE_LENGTHS[] = {
    {"U8", "1"},        {"BYTE", "1"},          {"U16", "1"},          {"WORD", "1"},
    {"U32", "1"},       {"DWORD", "1"},         {"CHAR", "1"},         {"CHAR_NULL_PAD", "1"},
    {"UNICHARV", "1"},  {"IPAddress", "4"},     {"U64", "8"},          {"STRING_4", "4"},
    {"STRING_20", "20"}, {"STRING_32", "32"},   {"STRING_64", "64"},   {"STRING_128", "128"},
    {"STRING_256", "256"},
};

bool sameIgnoringCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// A hexadecimal length or offset text; nothing when it is not one.
std::optional<long> hexNumber(const std::string& text) {
    uint32_t value = 0;
    if (convertToHex(text.c_str(), &value) != STATUS_OK)
        return std::nullopt;
    return static_cast<long>(value);
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

long defGetLengthInBytes(const std::string& type, const std::optional<std::string>& lengthText) {
    if (type == "IPAddress")
        return 4;
    if (!lengthText)
        return 1;
    return hexNumber(*lengthText).value_or(-1);
}

int defAreChildrenBits(const xmlNode* node) {
    for (const xmlNode* child = firstElementChild(node); child != nullptr; child = nextElementSibling(child))
        if (nameIs(child, "BIT"))
            return 1;
    return 0;
}

namespace {

class DynamicBuilder {
  public:
    DynamicBuilder(const XsdSchema& schema, xmlDoc* output) : schema_(schema), output_(output) {}

    xmlNode* defCreateDynamicNode(const xmlNode* page, const xmlNode* pageType);
    bool failed() const { return failed_; }

  private:
    xmlNode* defCreateDynamicElement(const xmlNode* field, const xmlNode* declaration);
    xmlNode* defCreateDynamicElementFromStaticElement(const xmlNode* field, const xmlNode* declaration);
    bool defSetContentFromXml(const xmlNode* field, xmlNode* out);
    long defGetLengthFromNode(const xmlNode* declaration, int depth = 0);
    std::string elementType(const xmlNode* declaration);
    const xmlNode* declarationBelow(const xmlNode* holder, const xmlNode* field);
    const xmlNode* globalType(const std::string& name) const { return defFindNodeFromSchema(schema_, name); }

    const XsdSchema& schema_;
    xmlDoc* output_;
    ExpansionGuard guard_;
    std::string pageName_;
    bool failed_ = false;
    std::unordered_map<const xmlNode*, std::unordered_map<std::string, const xmlNode*>> declarations_;
};

// The declared type an element is named by; a non-standard type name that names a global type with a
// declaration takes that declaration's type. A named type that declares none is a plain container.
std::string DynamicBuilder::elementType(const xmlNode* declaration) {
    std::optional<std::string> type = defGetTypeFromNode(declaration);
    if (type && !isStandardDataType(type->c_str())) {
        if (const xmlNode* named = globalType(*type))
            type = defGetTypeFromNode(named);
    }
    return type.value_or("CONFIGSET");
}

long DynamicBuilder::defGetLengthFromNode(const xmlNode* declaration, int depth) {
    if (declaration == nullptr || depth > 32)
        return -1;
    if (std::optional<std::string> own = xmlProp(declaration, "type")) {
        if (isStandardDataType(own->c_str()) || globalType(*own) == nullptr)
            return std::atol(defGetLengthByType(*own));
        return defGetLengthFromNode(globalType(*own), depth + 1);
    }
    std::optional<std::string> type = defGetTypeFromNode(declaration);
    if (!type)
        return -1;
    std::optional<std::string> text = xsdAttributeValue(declaration, "LENGTH");
    if (!text) {
        if (const xmlNode* first = firstElementChild(declaration))
            text = xmlProp(first, "LENGTH");
    }
    return defGetLengthInBytes(*type, text);
}

bool DynamicBuilder::defSetContentFromXml(const xmlNode* field, xmlNode* out) {
    std::string text = xmlText(field);
    if (text.empty())
        return true;
    std::string converted;
    if (!fieldTextForPeppered(text, isDecimalWord(xmlProp(field, "FORMAT")), charStr(field->name), pageName_,
                              converted)) {
        failed_ = true;
        return false;
    }
    return setElementText(out, converted);
}

xmlNode* DynamicBuilder::defCreateDynamicElement(const xmlNode* field, const xmlNode* declaration) {
    std::string type = elementType(declaration);
    // The field's element is named by its type: a type that is no XML name, or one longer than any name a
    // reader takes, would make the document unreadable.
    if (type.size() > MAX_NAME_LENGTH || xmlValidateName(xmlStr(type.c_str()), 0) != 0) {
        userMessage("\nERROR : Invalid TYPE \"%s\" for element \"%s\".\n", cutName(type).c_str(),
                    charStr(field->name));
        failed_ = true;
        return nullptr;
    }
    xmlNode* element = xmlNewDocNode(output_, nullptr, xmlStr(type.c_str()), nullptr);
    if (element == nullptr)
        return nullptr;
    xmlSetProp(element, xmlStr("NAME"), field->name);
    long length = defGetLengthFromNode(declaration);
    xmlSetProp(element, xmlStr("LENGTH"), xmlStr(std::to_string(length < 1 ? 0 : length).c_str()));
    defSetAllAttributes(field, element);
    if (type == "BIT") {
        long offset = hexNumber(defGetElementOffsetFromNode(declaration).value_or("0")).value_or(0);
        xmlSetProp(element, xmlStr("OFFSET"), xmlStr(std::to_string(offset < 1 ? 0 : offset).c_str()));
    }
    return element;
}

// The declaration of a field below a page type or a container: defGetChildNode, remembered per holder
// and name, so that pages sharing a type look each declaration up once.
const xmlNode* DynamicBuilder::declarationBelow(const xmlNode* holder, const xmlNode* field) {
    std::unordered_map<std::string, const xmlNode*>& known = declarations_[holder];
    std::string key = lowerCase(charStr(field->name));
    auto found = known.find(key);
    if (found == known.end())
        found = known.emplace(std::move(key), defGetChildNode(schema_, holder, charStr(field->name))).first;
    return found->second;
}

long defUpdateLength(xmlNode* node) {
    std::optional<std::string> own = xmlProp(node, "LENGTH");
    if (own && !own->empty() && own->find_first_not_of("0123456789") == std::string::npos && std::atol(own->c_str()) > 0)
        return std::atol(own->c_str());
    long sum = 0;
    for (xmlNode* child = firstElementChild(node); child != nullptr; child = nextElementSibling(child)) {
        if (hasElementChild(child)) {
            sum += defUpdateLength(child);
        } else if (nameIs(child, "IPAddress") && !xmlHasProp(child, xmlStr("LENGTH"))) {
            xmlSetProp(child, xmlStr("LENGTH"), xmlStr("4"));
            sum += 4;
        } else {
            sum += std::atol(xmlProp(child, "LENGTH").value_or("0").c_str());
        }
    }
    xmlSetProp(node, xmlStr("LENGTH"), xmlStr(std::to_string(sum < 1 ? 0 : sum).c_str()));
    return sum;
}

xmlNode* DynamicBuilder::defCreateDynamicElementFromStaticElement(const xmlNode* field, const xmlNode* declaration) {
    if (field == nullptr || declaration == nullptr)
        return nullptr;
    xmlNode* element = defCreateDynamicElement(field, declaration);
    if (element == nullptr)
        return nullptr;
    if (!hasElementChild(field)) {
        if (!defSetContentFromXml(field, element)) {
            xmlFreeNode(element);
            return nullptr;
        }
        return element;
    }
    const xmlNode* holder = xsdContentHolder(schema_, declaration);
    if (!guard_.enter(holder, charStr(field->name))) {
        failed_ = true;
        xmlFreeNode(element);
        return nullptr;
    }
    for (const xmlNode* child = firstElementChild(field); child != nullptr; child = nextElementSibling(child)) {
        const xmlNode* childDeclaration = declarationBelow(holder, child);
        if (childDeclaration == nullptr)
            continue;
        xmlNode* made = defCreateDynamicElementFromStaticElement(child, childDeclaration);
        if (made == nullptr) {
            if (failed_) {
                guard_.leave();
                xmlFreeNode(element);
                return nullptr;
            }
            continue;
        }
        xmlAddChild(element, made);
    }
    guard_.leave();
    defUpdateLength(element);
    return element;
}

xmlNode* DynamicBuilder::defCreateDynamicNode(const xmlNode* page, const xmlNode* pageType) {
    pageName_ = charStr(page->name);
    xmlNode* element = xmlNewDocNode(output_, nullptr, xmlStr("PAGE"), nullptr);
    if (element == nullptr)
        return nullptr;
    xmlSetProp(element, xmlStr("NAME"), page->name);
    defSetAllAttributes(page, element);
    // The schema's page attributes up to the page's ID; the page's own attributes stay as given.
    for (const XsdAttribute& attribute : xsdAttributes(pageType)) {
        if (xmlHasProp(element, xmlStr("ID")) != nullptr)
            break;
        if (sameIgnoringCase(attribute.name, "type") || attribute.name == "UNIT" ||
            xmlHasProp(element, xmlStr(attribute.name.c_str())) != nullptr)
            continue;
        xmlSetProp(element, xmlStr(attribute.name.c_str()), xmlStr(attribute.value.c_str()));
    }
    for (const xmlNode* field = firstElementChild(page); field != nullptr; field = nextElementSibling(field)) {
        const xmlNode* declaration = declarationBelow(pageType, field);
        if (declaration == nullptr)
            continue;
        xmlNode* made = defCreateDynamicElementFromStaticElement(field, declaration);
        if (made == nullptr) {
            if (failed_) {
                xmlFreeNode(element);
                return nullptr;
            }
            continue;
        }
        xmlAddChild(element, made);
    }
    return element;
}

// A page declared without a type (or with a simple one) describes no fields: it makes no PAGE element.
bool hasComplexType(const xmlNode* holder) {
    if (isXsd(holder, "complexType"))
        return true;
    for (const xmlNode* child = firstElementChild(holder); child != nullptr; child = nextElementSibling(child))
        if (isXsd(child, "complexType"))
            return true;
    return false;
}

ZELKOR_STATUS defProcessCompleteXml(const XsdSchema& schema, xmlDoc* complete, xmlDoc* output, xmlNode* root,
                                    uint8_t recordPages) {
    DynamicBuilder builder(schema, output);
    for (const xmlNode* page = firstElementChild(xmlDocGetRootElement(complete)); page != nullptr;
         page = nextElementSibling(page)) {
        if (nameIs(page, "PAGE")) {
            xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(page), output, 1);
            if (copy == nullptr)
                return STATUS_FAILURE;
            xmlAddChild(root, copy);
            continue;
        }
        const xmlNode* declaration = schema.pageDeclaration(charStr(page->name));
        const xmlNode* pageType = xsdContentHolder(schema, declaration);
        if (pageType != nullptr && hasComplexType(pageType)) {
            xmlNode* made = builder.defCreateDynamicNode(page, pageType);
            if (made == nullptr)
                return builder.failed() ? STATUS_INVALID_XML : STATUS_NO_MEMORY;
            xmlAddChild(root, made);
        }
        if (recordPages == 1)
            recordStaticPage(charStr(page->name));
    }
    return STATUS_OK;
}

ZELKOR_STATUS buildDynamic(ConversionSchema* shared, const char* xsdName, const char* completeName, const char* outName,
                           uint8_t recordPages) {
    ConversionCarry& carry = conversionCarry();
    freeStaticPageList();
    carry.gStrSchemaFilename.clear();
    if (xsdName == nullptr || completeName == nullptr || outName == nullptr)
        return STATUS_NULL_ARGUMENT;
    XmlDocPtr complete = readXmlFile(completeName);
    if (!complete || !nameIs(xmlDocGetRootElement(complete.get()), "MANUFACTURING"))
        return STATUS_XML_PARSE;
    std::string schemaPath;
    if (ZELKOR_STATUS status = resolveSchemaPath(xsdName, schemaPath); status != STATUS_OK)
        return status;
    carry.gStrSchemaFilename = xsdName;
    if (ZELKOR_STATUS status = createOutputFile(outName); status != STATUS_OK)
        return status;
    XmlDocPtr output(xmlNewDoc(xmlStr("1.0")));
    if (!output)
        return STATUS_FAILURE;
    ConversionSchema own(xsdName);
    ZELKOR_STATUS loaded = STATUS_OK;
    const XsdSchema* schema = (shared != nullptr ? *shared : own).get(loaded);
    if (schema == nullptr)
        return loaded == STATUS_NO_MEMORY ? loaded : STATUS_XML_PARSE;
    xmlNode* root = createManufacturingRoot(output.get(), xsdName);
    if (root == nullptr)
        return STATUS_NO_MEMORY;
    const xmlNode* completeRoot = xmlDocGetRootElement(complete.get());
    xmlSetProp(root, xmlStr("Product"), xmlStr(xmlProp(completeRoot, "Product").value_or("Quenza").c_str()));
    xmlSetProp(root, xmlStr("SchemaVersion"), xmlStr(xmlProp(completeRoot, "SchemaVersion").value_or("03").c_str()));
    if (ZELKOR_STATUS status = defProcessCompleteXml(*schema, complete.get(), output.get(), root, recordPages);
        status != STATUS_OK)
        return status;
    return saveDocument(output.get(), outName);
}

} // namespace

const char* defGetLengthByType(const std::string& type) {
    for (const TypeLength& entry : TYPE_LENGTHS)
        if (type == entry.name)
            return entry.length;
    return "0";
}

ZELKOR_STATUS defCreatePepperedXml(const char* xsdName, const char* completeName, const char* outName,
                                   uint8_t recordPages) {
    try {
        return buildDynamic(nullptr, xsdName, completeName, outName, recordPages);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

ZELKOR_STATUS defCreatePepperedXml(ConversionSchema& schema, const char* completeName, const char* outName,
                                   uint8_t recordPages) {
    try {
        return buildDynamic(&schema, schema.name().c_str(), completeName, outName, recordPages);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

} // namespace pageengine
