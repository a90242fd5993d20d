// The default document: every element the schema declares under MANUFACTURING, with its default or
// fixed text, repeated as maxOccurs says, and the root and page attributes the schema fixes.
#include "config/engineState.h"
#include "config/xmlBuilders.h"
#include "config/xsdParser.h"

#include <algorithm>
#include <new>

namespace pageengine {

namespace {

bool isStandardNameExactly(const std::string& name) {
    return std::any_of(std::begin(standardDataTypes), std::end(standardDataTypes),
                       [&](const DataTypeInfo& info) { return name == info.name; });
}

class DefaultBuilder {
  public:
    DefaultBuilder(const XsdSchema& schema, xmlDoc* document) : schema_(schema), document_(document) {}

    ZELKOR_STATUS xsdProcessComplexType(const xmlNode* node, xmlNode* parent);
    ZELKOR_STATUS xsdProcessSequence(const xmlNode* node, xmlNode* parent);
    ZELKOR_STATUS xsdProcessElement(const xmlNode* node, xmlNode* parent);
    ZELKOR_STATUS xsdProcessAttribute(const xmlNode* node, xmlNode* parent);

  private:
    const XsdSchema& schema_;
    xmlDoc* document_;
    std::vector<const xmlNode*> expanding_; // named types being expanded on the current path
    uint64_t made_ = 0;      // elements made so far
    uint64_t enclosing_ = 1; // elements each new one is repeated into by the repetitions around it
};

ZELKOR_STATUS DefaultBuilder::xsdProcessComplexType(const xmlNode* node, xmlNode* parent) {
    if (!isXsd(node, "complexType"))
        return STATUS_OK;
    const xmlNode* first = firstElementChild(node);
    if (isXsd(first, "sequence"))
        return xsdProcessSequence(first, parent);
    if (isXsd(first, "attribute"))
        return xsdProcessAttribute(first, parent);
    return STATUS_OK;
}

ZELKOR_STATUS DefaultBuilder::xsdProcessSequence(const xmlNode* node, xmlNode* parent) {
    if (!isXsd(node, "sequence"))
        return STATUS_OK;
    for (const xmlNode* child = firstElementChild(node); child != nullptr; child = nextElementSibling(child)) {
        if (nameIs(child, "MANUFACTURING"))
            break;
        if (isXsd(child, "element")) {
            if (ZELKOR_STATUS status = xsdProcessElement(child, parent); status != STATUS_OK)
                return status;
        }
    }
    for (const xmlNode* sibling = nextElementSibling(node); sibling != nullptr;
         sibling = nextElementSibling(sibling)) {
        if (isXsd(sibling, "attribute")) {
            if (ZELKOR_STATUS status = xsdProcessAttribute(sibling, parent); status != STATUS_OK)
                return status;
        }
    }
    return STATUS_OK;
}

ZELKOR_STATUS DefaultBuilder::xsdProcessElement(const xmlNode* node, xmlNode* parent) {
    const std::string name = cutName(xmlProp(node, "name").value_or(""));
    std::optional<std::string> type = xmlProp(node, "type");
    if (!type)
        type = xmlProp(node, "TYPE");
    const std::string text = defGetAttribValue(node).value_or("");
    std::optional<uint64_t> count = xsdOccurrences(node);
    if (!count || *count > XSD_MAX_OCCURRENCES || *count * enclosing_ > XSD_MAX_ELEMENTS ||
        (made_ += *count) > XSD_MAX_ELEMENTS) {
        userMessage("\nERROR : Element \"%s\" repeats more often than a page can hold.\n", name.c_str());
        return STATUS_INVALID_XML;
    }
    if (name.empty())
        return STATUS_OK; // a reference or a nameless declaration makes no element

    // A named type expanded inside itself would never end.
    const xmlNode* named = nullptr;
    if (type && !isStandardNameExactly(*type))
        named = schema_.globalType(*type);
    if (named != nullptr && std::find(expanding_.begin(), expanding_.end(), named) != expanding_.end()) {
        userMessage("\nERROR : Type \"%s\" contains itself.\n", type->c_str());
        return STATUS_INVALID_XML;
    }
    // Named types nested in each other past what a reader takes: the document could not be read, and
    // the expansion would run out of stack first.
    if (named != nullptr && expanding_.size() >= MAX_DOCUMENT_DEPTH) {
        userMessage("\nERROR : Elements nest deeper than %u levels.\n", static_cast<unsigned>(MAX_DOCUMENT_DEPTH));
        return STATUS_INVALID_XML;
    }

    const uint64_t outer = enclosing_;
    enclosing_ = outer * *count;
    struct Restore {
        uint64_t& value;
        uint64_t saved;
        ~Restore() { value = saved; }
    } restore{enclosing_, outer};
    for (uint64_t i = 0; i < *count; ++i) {
        xmlNode* element = xmlNewDocNode(document_, nullptr, xmlStr(name.c_str()), nullptr);
        if (element == nullptr || !setElementText(element, text)) {
            xmlFreeNode(element);
            return STATUS_INVALID_XML;
        }
        xmlAddChild(parent, element);
        if (*count > 1 && xmlSetProp(element, xmlStr("INDEX"), xmlStr(std::to_string(i).c_str())) == nullptr)
            return STATUS_NO_MEMORY;
        const xmlNode* first = firstElementChild(node);
        ZELKOR_STATUS status = STATUS_OK;
        if (isXsd(first, "complexType"))
            status = xsdProcessComplexType(first, element);
        else if (isXsd(first, "sequence"))
            status = xsdProcessSequence(first, element);
        else if (isXsd(first, "element"))
            status = xsdProcessElement(first, element);
        if (status == STATUS_OK && named != nullptr) {
            expanding_.push_back(named);
            status = xsdProcessComplexType(named, element);
            expanding_.pop_back();
        }
        if (status != STATUS_OK)
            return status;
    }
    return STATUS_OK;
}

// Of the attribute declarations from node on, those that fix SchemaVersion, Product or UNIT set it on
// parent.
ZELKOR_STATUS DefaultBuilder::xsdProcessAttribute(const xmlNode* node, xmlNode* parent) {
    if (node == nullptr || parent == nullptr)
        return STATUS_NULL_ARGUMENT;
    for (const xmlNode* attribute = node; attribute != nullptr; attribute = nextElementSibling(attribute)) {
        if (!isXsd(attribute, "attribute"))
            continue;
        std::optional<std::string> name = xmlProp(attribute, "name");
        std::optional<std::string> value = defGetAttribValue(attribute);
        if (!name || !value)
            continue;
        if (*name == "SchemaVersion" || *name == "Product" || *name == "UNIT")
            xmlSetProp(parent, xmlStr(name->c_str()), xmlStr(value->c_str()));
    }
    return STATUS_OK;
}

// The complex types that follow a declaration's annotation, each processed under out.
ZELKOR_STATUS xsdProcessSchemaElement(DefaultBuilder& builder, const xmlNode* declaration, xmlNode* out) {
    const xmlNode* annotation = firstElementChild(declaration);
    while (annotation != nullptr && !isXsd(annotation, "annotation"))
        annotation = nextElementSibling(annotation);
    if (annotation == nullptr)
        return STATUS_OK;
    for (const xmlNode* type = nextElementSibling(annotation); type != nullptr; type = nextElementSibling(type))
        if (ZELKOR_STATUS status = builder.xsdProcessComplexType(type, out); status != STATUS_OK)
            return status;
    return STATUS_OK;
}

// The MANUFACTURING declaration's content, the complexTypes after its annotation, under the root.
ZELKOR_STATUS xsdScanRootFromHashTable(const XsdSchema& schema, DefaultBuilder& builder, xmlNode* root,
                                       bool& found) {
    found = false;
    for (xmlNode* declaration : schema.globalElements()) {
        if (!nameIs(declaration, "element") || xmlProp(declaration, "name").value_or("") != "MANUFACTURING")
            continue;
        found = true;
        return xsdProcessSchemaElement(builder, declaration, root);
    }
    return STATUS_OK;
}

ZELKOR_STATUS buildDefault(ConversionSchema& shared, const char* xsdName, const char* outName) {
    std::string schemaPath;
    if (ZELKOR_STATUS status = resolveSchemaPath(xsdName, schemaPath); status != STATUS_OK)
        return status;
    if (ZELKOR_STATUS status = createOutputFile(outName); status != STATUS_OK)
        return status;
    XmlDocPtr document(xmlNewDoc(xmlStr("1.0")));
    if (!document)
        return STATUS_FAILURE;
    ZELKOR_STATUS loaded = STATUS_OK;
    const XsdSchema* schema = shared.get(loaded);
    if (schema == nullptr)
        return loaded;
    xmlNode* root = createManufacturingRoot(document.get(), xsdName);
    if (root == nullptr)
        return STATUS_NO_MEMORY;
    if (ZELKOR_STATUS status = xsdProcessSchema(schema, root); status != STATUS_OK)
        return status;
    return saveDocument(document.get(), outName);
}

} // namespace

ZELKOR_STATUS xsdProcessSchema(const XsdSchema* schema, xmlNode* root) {
    if (schema == nullptr || root == nullptr || schema->globalElements().empty())
        return STATUS_NO_ROOT_DECLARATION;
    DefaultBuilder builder(*schema, root->doc);
    bool found = false;
    if (ZELKOR_STATUS status = xsdScanRootFromHashTable(*schema, builder, root, found); status != STATUS_OK)
        return status;
    return found ? STATUS_OK : STATUS_NO_ROOT_DECLARATION;
}

ZELKOR_STATUS xsdCreateDefaultXml(ConversionSchema& schema, const char* outName) {
    if (outName == nullptr || schema.name().empty())
        return STATUS_NULL_ARGUMENT;
    try {
        return buildDefault(schema, schema.name().c_str(), outName);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

ZELKOR_STATUS xsdCreateDefaultXml(const char* xsdName, const char* outName, void* /*unused*/) {
    if (xsdName == nullptr || outName == nullptr)
        return STATUS_NULL_ARGUMENT;
    try {
        ConversionSchema schema(xsdName);
        return buildDefault(schema, xsdName, outName);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

} // namespace pageengine
