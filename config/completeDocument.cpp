// The complete document: each user page in the user's order, holding every field of its default page in
// the schema's order, with the user's value where the user gave one and the default everywhere else.
// Repeated fields are matched by INDEX; PAGE elements are carried over after the user pages.
#include "config/builderSupport.h"
#include "config/engineState.h"
#include "config/xmlBuilders.h"
#include "config/xsdParser.h"

#include <new>
#include <unordered_map>

namespace pageengine {

namespace {

using ByName = std::unordered_map<std::string, std::vector<const xmlNode*>>;

ByName elementChildrenByName(const xmlNode* parent) {
    ByName byName;
    for (const xmlNode* child = firstElementChild(parent); child != nullptr; child = nextElementSibling(child))
        byName[charStr(child->name)].push_back(child);
    return byName;
}

bool isBlankText(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The complete root: the schema location, product and version the default document was built with.
xmlNode* comCreateRootInCompleteXml(xmlDoc* complete, const xmlNode* defaultRoot) {
    xmlNode* root =
        createManufacturingRoot(complete, xmlProp(defaultRoot, "noNamespaceSchemaLocation").value_or(""));
    if (root == nullptr)
        return nullptr;
    xmlSetProp(root, xmlStr("Product"), xmlStr(xmlProp(defaultRoot, "Product").value_or("Quenza").c_str()));
    xmlSetProp(root, xmlStr("SchemaVersion"), xmlStr(xmlProp(defaultRoot, "SchemaVersion").value_or("03").c_str()));
    return root;
}

// A whole copy of a node into the complete document; a leaf left empty takes the fallback's text.
xmlNode* comCopy(const xmlNode* node, xmlDoc* complete, const xmlNode* fallback) {
    xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(node), complete, 1);
    if (copy == nullptr)
        return nullptr;
    if (fallback != nullptr && !hasElementChild(copy))
        comCompareAndSetContent(fallback, copy);
    return copy;
}

std::optional<long> indexOf(const xmlNode* node) {
    std::optional<std::string> text = xmlProp(node, "INDEX");
    if (!text || text->empty() || text->size() > 9 || text->find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stol(*text);
}

xmlNode* comCompareNodes(const xmlNode* defaultNode, const xmlNode* userNode, xmlDoc* complete);

// The merged entries of one default field given the user's elements of that name: appended to parent.
// An entry of a repeated field the user left out keeps its default inside a container; directly in a page
// only below the highest INDEX the user gave. Returns false when a copy cannot be made.
bool mergeField(const xmlNode* defaultField, const std::vector<const xmlNode*>& matches, xmlNode* parent,
                xmlDoc* complete, bool inContainer) {
    auto append = [&](xmlNode* node) {
        if (node == nullptr)
            return false;
        xmlAddChild(parent, node);
        return true;
    };
    if (matches.empty())
        return append(comCopy(defaultField, complete, nullptr));
    std::optional<std::string> indexText = xmlProp(defaultField, "INDEX");
    if (!indexText) {
        for (const xmlNode* match : matches)
            if (!append(comCompareNodes(defaultField, match, complete)))
                return false;
        return true;
    }
    std::optional<long> index = indexOf(defaultField);
    long highest = -1;
    const xmlNode* chosen = nullptr;
    for (const xmlNode* match : matches) {
        std::optional<long> given = indexOf(match);
        long at = given.value_or(0);
        highest = std::max(highest, at);
        if (index && at == *index && chosen == nullptr)
            chosen = match;
    }
    if (chosen != nullptr)
        return append(comCompareNodes(defaultField, chosen, complete));
    if (index && (inContainer || *index < highest))
        return append(comCopy(defaultField, complete, nullptr));
    return true;
}

xmlNode* comCompareNodes(const xmlNode* defaultNode, const xmlNode* userNode, xmlDoc* complete) {
    if (!hasElementChild(defaultNode) || !hasElementChild(userNode))
        return comCopy(userNode, complete, defaultNode);
    xmlNode* merged = xmlNewDocNode(complete, nullptr, defaultNode->name, nullptr);
    if (merged == nullptr)
        return nullptr;
    defSetAllAttributes(userNode, merged);
    ByName given = elementChildrenByName(userNode);
    for (const xmlNode* child = firstElementChild(defaultNode); child != nullptr; child = nextElementSibling(child)) {
        auto found = given.find(charStr(child->name));
        static const std::vector<const xmlNode*> none;
        if (!mergeField(child, found != given.end() ? found->second : none, merged, complete, true)) {
            xmlFreeNode(merged);
            return nullptr;
        }
    }
    return merged;
}

ZELKOR_STATUS comMordifyCompleteXml(xmlDoc* userDocument, xmlDoc* defaultDocument, xmlNode* root,
                                    xmlDoc* complete) {
    xmlNode* userRoot = xmlDocGetRootElement(userDocument);
    if (!nameIs(userRoot, "MANUFACTURING"))
        return STATUS_FAILURE;
    std::unordered_map<std::string, const xmlNode*> defaults;
    for (const xmlNode* page = firstElementChild(xmlDocGetRootElement(defaultDocument)); page != nullptr;
         page = nextElementSibling(page))
        defaults.emplace(charStr(page->name), page);

    for (const xmlNode* page = firstElementChild(userRoot); page != nullptr; page = nextElementSibling(page)) {
        if (nameIs(page, "PAGE"))
            continue;
        const char* name = charStr(page->name);
        auto found = defaults.find(name);
        if (found == defaults.end()) {
            userMessage("Invalid Xml File.\nPage %s not found in XSD file.\n", name);
            return STATUS_INVALID_XML;
        }
        const xmlNode* defaultPage = found->second;
        std::optional<std::string> defaultUnit = xmlProp(defaultPage, "UNIT");
        std::optional<std::string> userUnit = xmlProp(page, "UNIT");
        if (!defaultUnit && userUnit) {
            userMessage("Invalid Xml File.\nUnit flag present in xml but not in xsd for page %s.\n", name);
            return STATUS_INVALID_XML;
        }
        xmlNode* merged = xmlNewDocNode(complete, nullptr, page->name, nullptr);
        if (merged == nullptr)
            return STATUS_NO_MEMORY;
        xmlAddChild(root, merged);
        if (std::optional<std::string> id = xmlProp(page, "ID"))
            xmlSetProp(merged, xmlStr("ID"), xmlStr(id->c_str()));
        if (userUnit ? isTrueWord(userUnit) : isTrueWord(defaultUnit))
            xmlSetProp(merged, xmlStr("UNIT"), xmlStr("TRUE"));
        ByName given = elementChildrenByName(page);
        static const std::vector<const xmlNode*> none;
        for (const xmlNode* field = firstElementChild(defaultPage); field != nullptr; field = nextElementSibling(field)) {
            auto match = given.find(charStr(field->name));
            if (!mergeField(field, match != given.end() ? match->second : none, merged, complete, false))
                return STATUS_FAILURE;
        }
    }
    for (const xmlNode* page = firstElementChild(userRoot); page != nullptr; page = nextElementSibling(page)) {
        if (!nameIs(page, "PAGE"))
            continue;
        xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(page), complete, 1);
        if (copy == nullptr)
            return STATUS_FAILURE;
        xmlAddChild(root, copy);
    }
    return STATUS_OK;
}

ZELKOR_STATUS buildComplete(const char* defaultName, xmlDoc* userDocument, const char* completeName) {
    if (defaultName == nullptr || userDocument == nullptr || completeName == nullptr)
        return STATUS_NULL_ARGUMENT;
    XmlDocPtr defaults = readXmlFile(defaultName);
    if (!defaults || xmlDocGetRootElement(defaults.get()) == nullptr)
        return STATUS_XML_PARSE;
    if (ZELKOR_STATUS status = createOutputFile(completeName); status != STATUS_OK)
        return status;
    XmlDocPtr complete(xmlNewDoc(xmlStr("1.0")));
    if (!complete)
        return STATUS_FAILURE;
    xmlNode* root = comCreateRootInCompleteXml(complete.get(), xmlDocGetRootElement(defaults.get()));
    if (root == nullptr)
        return STATUS_NO_MEMORY;
    if (ZELKOR_STATUS status = comMordifyCompleteXml(userDocument, defaults.get(), root, complete.get());
        status != STATUS_OK)
        return status;
    return saveDocument(complete.get(), completeName);
}

} // namespace

XmlXPathObjectPtr getnodeset(xmlDoc* document, const char* xpath) {
    XmlXPathContextPtr context(document != nullptr ? xmlXPathNewContext(document) : nullptr);
    if (!context) {
        userMessage("Error in xmlXPathNewContext");
        return nullptr;
    }
    XmlXPathObjectPtr result(xpath != nullptr ? xmlXPathEvalExpression(xmlStr(xpath), context.get()) : nullptr);
    if (!result) {
        userMessage("Error in xmlXPathEvalExpression");
        return nullptr;
    }
    if (result->nodesetval == nullptr || result->nodesetval->nodeNr == 0)
        return nullptr;
    return result;
}

int comHasValidChildNodes(const xmlNode* node) {
    return node != nullptr && hasElementChild(node) ? 1 : 0;
}

unsigned long childElementCount(const xmlNode* node) {
    if (node == nullptr ||
        (node->type != XML_ELEMENT_NODE && node->type != XML_DOCUMENT_NODE && node->type != XML_ENTITY_DECL))
        return 0;
    unsigned long count = 0;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next)
        count += isElement(child) ? 1 : 0;
    return count;
}

void comCompareAndSetContent(const xmlNode* source, xmlNode* target) {
    if (source != nullptr && target != nullptr && isBlankText(xmlText(target)))
        setElementText(target, xmlText(source));
}

std::string convertDecimalToString(long number) {
    return std::to_string(number < 1 ? 0 : number);
}

ZELKOR_STATUS comCreateCompleteXml(const char* defaultName, xmlDoc* userDocument, const char* completeName,
                                   void* /*unused*/) {
    try {
        return buildComplete(defaultName, userDocument, completeName);
    } catch (const std::bad_alloc&) {
        return STATUS_NO_MEMORY;
    }
}

} // namespace pageengine
