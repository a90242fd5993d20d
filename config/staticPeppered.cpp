// Peppered document of static pages: the XSD walked alongside the user's document. For every element the
// schema declares on the way to a user page one element is emitted, named by the type its TYPE attribute
// declaration fixes, with the other declared attributes, and the user's text or else the schema's default.
//
// The walk follows the schema: the root scan finds MANUFACTURING, the complex types and sequences below it
// lead to the page's declaration, and from there every declaration of the page (each alternative of a
// choice included) is processed once. The user's elements are matched as the walk goes: a declaration
// takes the next user element of its name among the children of the user element of the declaration
// around it (the page, a container, a configuration group), so that a value is never taken from another
// container; a page that gives an element more often than it declares places for it is refused.
// Configuration groups (user elements named "cg_..." or "configGroup") are taken in the user's order by
// the group cursor: the first group element by the group's declaration, each further one by processing
// that declaration again.
#include "config/binaryToXml.h"
#include "config/builderSupport.h"
#include "config/engineState.h"
#include "config/valueConversion.h"
#include "config/xmlBuilders.h"
#include "config/xmlParser.h"
#include "config/xsdParser.h"

#include <libxml/hash.h>
#include <libxml/schemasInternals.h>

#include <algorithm>
#include <iterator>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace pageengine {

namespace {

// processXmlElement's answer for a page declaration that is not the user page being looked for.
constexpr ZELKOR_STATUS NOT_THIS_PAGE = 1;

// A user element whose children the declarations being walked are matched among, with how many of each
// name were taken so far.
struct UserScope {
    const xmlNode* user = nullptr; // null: the user gave nothing here, the declarations take defaults
    std::unordered_map<std::string, std::size_t> taken;
};

// The children of a sequence the look for a page visits: the element declarations by name, and the
// other children (choices), by position.
struct SequenceIndex {
    std::vector<const xmlNode*> children;
    std::unordered_map<std::string, std::vector<std::size_t>> elements;
    std::vector<std::size_t> others;
};

// Everything one conversion builds up; it lives for one createPepperedXml.
struct StaticPepperedState {
    // output
    xmlDoc* gPtrPepperedXml = nullptr;
    const XsdSchema* gSchemaPtr = nullptr;
    std::string gStrSchemaFilename;
    bool gBoolRootElementCreated = false;
    xmlNode* root = nullptr;
    // input cursor
    const xmlNode* userManufacturing = nullptr;
    const xmlNode* gPtrCurrentInputXmlNode = nullptr; // the user page being matched, or the user's MANUFACTURING
    const xmlNode* gCurrentInputXmlChild = nullptr;   // the user element last matched
    bool gBoolLookForPage = false;
    std::vector<UserScope> scopes;
    // page carry-over
    bool gUnitFlag = false;
    bool gPageIdFlag = false;
    std::string gStrPageId;
    std::string gXsdElementName;
    xmlNode* pageElement = nullptr; // the element emitted for the user page
    // configuration groups
    bool gConfigGroupFlag = false;      // a group element of the page was taken
    bool gConfigGroupChildFlag = false; // inside a group's own content
    long gConfigNodeCount = 0;          // group elements of the page beyond the first, not yet processed
    const xmlNode* gCurrentInputXmlConfigGroupChild = nullptr;    // the group element being filled
    const xmlNode* gTmpCurrentInputXmlConfigGroupChild = nullptr; // the group element after it
    bool gCgNextElementFlag = false;                // move on to the next group element at its declaration
    bool gConfigGroupChoiceElementSkipFlag = false; // a further group pass: a choice takes its group alternative
    bool currentGroupTaken = false;                 // the current group element has been filled
    std::unordered_set<const xmlNode*> takenGroups;
    std::unordered_set<std::string> declaredGroups; // group declarations met on the page
    std::unordered_map<const xmlNode*, SequenceIndex> sequences;
    // guards
    ExpansionGuard guard;
    uint64_t made = 0;
};

bool isGroupElement(const xmlNode* node) {
    return isElement(node) && isConfigGroupName(charStr(node->name));
}

// The first group element at or after node among its siblings.
const xmlNode* groupFrom(const xmlNode* node) {
    while (node != nullptr && !isGroupElement(node))
        node = nextElementSibling(node);
    return node;
}

// An attribute's value compared without copying it (the look for a page compares every declaration).
bool attributeEquals(const xmlNode* node, const char* name, const std::string& value) {
    for (const xmlAttr* attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
        if (!xmlStrEqual(attribute->name, xmlStr(name)))
            continue;
        const xmlNode* text = attribute->children;
        if (text != nullptr && text->next == nullptr && text->type == XML_TEXT_NODE)
            return value == charStr(text->content);
        XmlCharPtr whole(xmlNodeListGetString(node->doc, attribute->children, 1));
        return value == (whole ? charStr(whole.get()) : "");
    }
    return false;
}

// The xs:annotation a declaration or type begins with, or null.
const xmlNode* annotationOf(const xmlNode* declaration) {
    const xmlNode* first = firstElementChild(declaration);
    return isXsd(first, "annotation") ? first : nullptr;
}

class StaticPepperedBuilder {
  public:
    explicit StaticPepperedBuilder(StaticPepperedState& state) : s_(state) {}

    ZELKOR_STATUS traverseInputXml(xmlDoc* userDocument, uint8_t recordPages);
    ZELKOR_STATUS traverseSchema(const XsdSchema* schema);
    void elementHashTableScanner(const xmlSchemaElement* declaration, const xmlChar* name, ZELKOR_STATUS& status);

  private:
    ZELKOR_STATUS processXmlComplexType(const xmlNode* node, xmlNode* parent);
    ZELKOR_STATUS processChildNode(const xmlNode* node, xmlNode* parent);
    ZELKOR_STATUS processXmlSequence(const xmlNode* node, xmlNode* parent);
    ZELKOR_STATUS processXmlElement(const xmlNode* node, xmlNode* parent);
    ZELKOR_STATUS processXmlAttribute(const xmlNode* node, xmlNode* parent);
    ZELKOR_STATUS processChoice(const xmlNode* node, xmlNode* parent);
    ZELKOR_STATUS processExtension(const xmlNode* node, xmlNode* parent) { return processChildNode(node, parent); }
    ZELKOR_STATUS processSimpleContent(const xmlNode* node, xmlNode* parent) { return processChildNode(node, parent); }
    ZELKOR_STATUS processXmlSchemaElement(const xmlNode* declaration, xmlNode* parent) {
        return processAnnotation(annotationOf(declaration), parent);
    }
    ZELKOR_STATUS processAnnotation(const xmlNode* annotation, xmlNode* parent);

    bool createRoot();
    std::vector<const xmlNode*> pageCandidates(const xmlNode* sequence, const std::string& page);
    void startPage(const xmlNode* page);
    const xmlNode* matchUserElement(const std::string& name);
    const xmlNode* takeConfigGroup(const std::string& name);
    void advanceConfigGroup();
    bool declaresGroup(const xmlNode* child, const xmlNode* group) const;
    ZELKOR_STATUS checkPlaces(const UserScope& scope);
    ZELKOR_STATUS fillElement(xmlNode* element, const xmlNode* user, const std::string& name,
                              const std::optional<std::string>& defaultText);

    StaticPepperedState& s_;
};

struct ScanContext {
    StaticPepperedBuilder* builder;
    bool found = false;
    ZELKOR_STATUS status = STATUS_OK;
};

void scanElement(void* payload, void* data, const xmlChar* name) {
    auto* context = static_cast<ScanContext*>(data);
    context->found = true;
    if (context->status == STATUS_OK)
        context->builder->elementHashTableScanner(static_cast<const xmlSchemaElement*>(payload), name,
                                                  context->status);
}

bool StaticPepperedBuilder::createRoot() {
    if (s_.gBoolRootElementCreated)
        return true;
    s_.root = createRootNodeInPepperedXml(s_.gPtrPepperedXml, s_.gStrSchemaFilename);
    s_.gBoolRootElementCreated = s_.root != nullptr;
    return s_.gBoolRootElementCreated;
}

ZELKOR_STATUS StaticPepperedBuilder::traverseSchema(const XsdSchema* schema) {
    if (schema == nullptr || schema->compiled() == nullptr || schema->compiled()->elemDecl == nullptr)
        return STATUS_NO_ROOT_DECLARATION;
    ScanContext context{this};
    xmlHashScan(schema->compiled()->elemDecl, scanElement, &context);
    return context.found ? context.status : STATUS_NO_ROOT_DECLARATION;
}

void StaticPepperedBuilder::elementHashTableScanner(const xmlSchemaElement* declaration, const xmlChar* name,
                                                    ZELKOR_STATUS& status) {
    if (declaration == nullptr || declaration->node == nullptr || !xmlStrEqual(name, xmlStr("MANUFACTURING")))
        return;
    if (!createRoot()) {
        status = STATUS_NO_MEMORY;
        return;
    }
    status = processXmlSchemaElement(declaration->node, s_.root);
}

// An annotation and its following siblings: the complex types and sequences among them are the content.
ZELKOR_STATUS StaticPepperedBuilder::processAnnotation(const xmlNode* annotation, xmlNode* parent) {
    for (const xmlNode* node = annotation; node != nullptr; node = nextElementSibling(node)) {
        ZELKOR_STATUS status = STATUS_OK;
        if (isXsd(node, "complexType"))
            status = processXmlComplexType(node, parent);
        else if (isXsd(node, "sequence"))
            status = processXmlSequence(node, parent);
        if (status != STATUS_OK)
            return status;
    }
    return STATUS_OK;
}

// A flag set for the extent of one routine and then given back its value.
class FlagScope {
  public:
    explicit FlagScope(bool& flag) : flag_(flag), saved_(flag) {}
    ~FlagScope() { flag_ = saved_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

  private:
    bool& flag_;
    bool saved_;
};

ZELKOR_STATUS StaticPepperedBuilder::processXmlComplexType(const xmlNode* node, xmlNode* parent) {
    if (!isXsd(node, "complexType"))
        return STATUS_OK;
    const xmlNode* first = firstElementChild(node);
    if (isXsd(first, "sequence")) {
        FlagScope inside(s_.gConfigGroupChildFlag);
        if (s_.gConfigGroupFlag)
            s_.gConfigGroupChildFlag = true;
        return processXmlSequence(first, parent);
    }
    if (isXsd(first, "simpleContent"))
        return processSimpleContent(first, parent);
    return STATUS_OK;
}

ZELKOR_STATUS StaticPepperedBuilder::processChildNode(const xmlNode* node, xmlNode* parent) {
    if (parent == nullptr)
        return STATUS_NULL_ARGUMENT;
    const xmlNode* first = firstElementChild(node);
    if (isXsd(first, "complexType"))
        return processXmlComplexType(first, parent);
    if (isXsd(first, "sequence"))
        return processXmlSequence(first, parent);
    if (isXsd(first, "element"))
        return processXmlElement(first, parent);
    if (isXsd(first, "attribute"))
        return processXmlAttribute(first, parent);
    if (isXsd(first, "simpleContent"))
        return processSimpleContent(first, parent);
    if (isXsd(first, "extension"))
        return processExtension(first, parent);
    if (isXsd(first, "choice"))
        return processChoice(first, parent);
    return STATUS_OK;
}

// Whether a child of a sequence declares the group an element of that name fills: the group's own
// declaration, or a choice with it among its alternatives.
bool StaticPepperedBuilder::declaresGroup(const xmlNode* child, const xmlNode* group) const {
    const std::string name = charStr(group->name);
    if (isXsd(child, "element"))
        return attributeEquals(child, "name", name);
    if (isXsd(child, "choice"))
        for (const xmlNode* alternative = firstElementChild(child); alternative != nullptr;
             alternative = nextElementSibling(alternative))
            if (isXsd(alternative, "element") && attributeEquals(alternative, "name", name))
                return true;
    return false;
}

ZELKOR_STATUS StaticPepperedBuilder::processXmlSequence(const xmlNode* node, xmlNode* parent) {
    if (!isXsd(node, "sequence"))
        return STATUS_OK;
    FlagScope inside(s_.gConfigGroupChildFlag);
    const bool underRoot = parent == s_.root;
    // Looking for the page, only the declaration of that name (and any choice) is of interest.
    const bool looking = s_.gBoolLookForPage;
    std::vector<const xmlNode*> candidates;
    if (looking)
        candidates = pageCandidates(node, charStr(s_.gPtrCurrentInputXmlNode->name));
    std::size_t next = 0;
    for (const xmlNode* child = looking ? (candidates.empty() ? nullptr : candidates[next++]) : firstElementChild(node);
         child != nullptr && s_.gPtrCurrentInputXmlNode != s_.userManufacturing;
         child = looking ? (next < candidates.size() ? candidates[next++] : nullptr) : nextElementSibling(child)) {
        auto process = [&]() -> ZELKOR_STATUS {
            if (isXsd(child, "element"))
                return processXmlElement(child, parent);
            if (isXsd(child, "choice"))
                return processChoice(child, parent);
            return STATUS_OK;
        };
        ZELKOR_STATUS status = process();
        if (underRoot && looking && status == NOT_THIS_PAGE)
            continue;
        if (status != STATUS_OK)
            return status;
        if (underRoot && looking && !s_.gBoolLookForPage)
            break; // the page has been emitted
        // Each further group element of the page: the declaration that took the group before is
        // processed again, as long as the next group element is one it declares.
        while (s_.gConfigNodeCount > 0 && s_.gConfigGroupFlag && !s_.gConfigGroupChildFlag &&
               s_.gTmpCurrentInputXmlConfigGroupChild != nullptr &&
               declaresGroup(child, s_.gTmpCurrentInputXmlConfigGroupChild)) {
            // A choice passes over its other alternatives; nothing below it sees the flag.
            s_.gConfigGroupChoiceElementSkipFlag = isXsd(child, "choice");
            --s_.gConfigNodeCount;
            status = process();
            s_.gConfigGroupChoiceElementSkipFlag = false;
            if (status != STATUS_OK)
                return status;
        }
    }
    if (parent->properties != nullptr) {
        XmlCharPtr first(xmlNodeListGetString(parent->doc, parent->properties->children, 1));
        s_.gXsdElementName = first ? charStr(first.get()) : "";
    }
    // One attribute run covers every attribute declaration after the sequence.
    for (const xmlNode* sibling = nextElementSibling(node); sibling != nullptr; sibling = nextElementSibling(sibling))
        if (isXsd(sibling, "attribute"))
            return processXmlAttribute(sibling, parent);
    return STATUS_OK;
}

std::vector<const xmlNode*> StaticPepperedBuilder::pageCandidates(const xmlNode* sequence, const std::string& page) {
    auto [entry, added] = s_.sequences.try_emplace(sequence);
    SequenceIndex& index = entry->second;
    if (added) {
        for (const xmlNode* child = firstElementChild(sequence); child != nullptr; child = nextElementSibling(child)) {
            const std::size_t at = index.children.size();
            index.children.push_back(child);
            if (!isXsd(child, "element"))
                index.others.push_back(at);
            else if (std::optional<std::string> name = xmlProp(child, "name"))
                index.elements[*name].push_back(at);
        }
    }
    static const std::vector<std::size_t> none;
    auto named = index.elements.find(page);
    const std::vector<std::size_t>& elements = named != index.elements.end() ? named->second : none;
    std::vector<std::size_t> merged;
    std::merge(elements.begin(), elements.end(), index.others.begin(), index.others.end(), std::back_inserter(merged));
    std::vector<const xmlNode*> candidates;
    for (std::size_t at : merged)
        candidates.push_back(index.children[at]);
    return candidates;
}

// The group element a group declaration of the page takes: the page's first group element when no group
// was taken yet, else the next group element once the one before it was filled. Null when the user's
// next group is another one (the declaration then emits its defaults).
const xmlNode* StaticPepperedBuilder::takeConfigGroup(const std::string& name) {
    s_.declaredGroups.insert(name);
    if (!s_.gConfigGroupFlag) {
        const xmlNode* first = groupFrom(firstElementChild(s_.gPtrCurrentInputXmlNode));
        if (first == nullptr || name != charStr(first->name))
            return nullptr;
        s_.gCurrentInputXmlConfigGroupChild = first;
        s_.gTmpCurrentInputXmlConfigGroupChild = groupFrom(nextElementSibling(first));
        s_.gConfigGroupFlag = true;
        s_.currentGroupTaken = false;
    } else if (s_.gCgNextElementFlag && s_.gTmpCurrentInputXmlConfigGroupChild != nullptr &&
               name == charStr(s_.gTmpCurrentInputXmlConfigGroupChild->name)) {
        advanceConfigGroup();
    }
    const xmlNode* current = s_.gCurrentInputXmlConfigGroupChild;
    if (s_.currentGroupTaken || current == nullptr || name != charStr(current->name))
        return nullptr;
    s_.currentGroupTaken = true;
    s_.takenGroups.insert(current);
    return current;
}

void StaticPepperedBuilder::advanceConfigGroup() {
    s_.gCurrentInputXmlConfigGroupChild = s_.gTmpCurrentInputXmlConfigGroupChild;
    s_.gTmpCurrentInputXmlConfigGroupChild = groupFrom(nextElementSibling(s_.gCurrentInputXmlConfigGroupChild));
    s_.gCurrentInputXmlChild = s_.gCurrentInputXmlConfigGroupChild;
    s_.gCgNextElementFlag = false;
    s_.currentGroupTaken = false;
}

// The user element a declaration of that name takes in the current scope: the next one of that name.
const xmlNode* StaticPepperedBuilder::matchUserElement(const std::string& name) {
    if (s_.scopes.empty())
        return nullptr;
    UserScope& scope = s_.scopes.back();
    if (scope.user == s_.gPtrCurrentInputXmlNode && isConfigGroupName(name))
        return takeConfigGroup(name);
    std::size_t wanted = scope.taken[name]++;
    for (const xmlNode* child = firstElementChild(scope.user); child != nullptr; child = nextElementSibling(child))
        if (name == charStr(child->name) && wanted-- == 0)
            return child;
    return nullptr;
}

// A user element holding more elements of one name than the declarations around it have places for.
ZELKOR_STATUS StaticPepperedBuilder::checkPlaces(const UserScope& scope) {
    if (scope.user == nullptr)
        return STATUS_OK;
    const bool page = scope.user == s_.gPtrCurrentInputXmlNode;
    std::unordered_map<std::string, std::size_t> given;
    for (const xmlNode* child = firstElementChild(scope.user); child != nullptr; child = nextElementSibling(child)) {
        const std::string name = charStr(child->name);
        if (page && isConfigGroupName(name)) {
            if (s_.declaredGroups.count(name) != 0 && s_.takenGroups.count(child) == 0) {
                userMessage("\nERROR : More \"%s\" elements than page \"%s\" declares.\n", name.c_str(),
                            charStr(s_.gPtrCurrentInputXmlNode->name));
                return STATUS_INVALID_XML;
            }
            continue;
        }
        ++given[name];
    }
    for (const auto& [name, count] : given) {
        auto declared = scope.taken.find(name);
        if (declared != scope.taken.end() && declared->second > 0 && count > declared->second) {
            userMessage("\nERROR : More \"%s\" elements than page \"%s\" declares.\n", name.c_str(),
                        charStr(s_.gPtrCurrentInputXmlNode->name));
            return STATUS_INVALID_XML;
        }
    }
    return STATUS_OK;
}

// The new element's text and the attributes carried from the user's element.
ZELKOR_STATUS StaticPepperedBuilder::fillElement(xmlNode* element, const xmlNode* user, const std::string& name,
                                                 const std::optional<std::string>& defaultText) {
    std::string text = defaultText.value_or("");
    bool decimal = false;
    if (user != nullptr && !hasElementChild(user)) {
        std::string given = xmlText(user);
        if (!given.empty())
            text = given;
        decimal = isDecimalWord(xmlProp(user, "FORMAT"));
    }
    // A decimal value is written in hexadecimal, as the peppered form is read.
    std::string converted;
    if (!fieldTextForPeppered(text, decimal, name, charStr(s_.gPtrCurrentInputXmlNode->name), converted))
        return STATUS_INVALID_XML;
    if (!converted.empty() && !setElementText(element, converted))
        return STATUS_NO_MEMORY;
    xmlSetProp(element, xmlStr("NAME"), xmlStr(name.c_str()));
    if (s_.gUnitFlag) {
        xmlSetProp(element, xmlStr("UNIT"), xmlStr("TRUE"));
        s_.gUnitFlag = false;
    }
    if (decimal)
        xmlSetProp(element, xmlStr("FORMAT"), xmlStr("Dec"));
    return STATUS_OK;
}

ZELKOR_STATUS StaticPepperedBuilder::processXmlElement(const xmlNode* node, xmlNode* parent) {
    std::optional<std::string> typeName = xmlProp(node, "type");
    if (!typeName)
        typeName = xmlProp(node, "TYPE");
    std::optional<std::string> defaultText = defGetAttribValue(node);
    std::optional<std::string> nameText = xmlProp(node, "name");
    if (!nameText) // a reference or a nameless declaration makes no element
        return s_.gBoolLookForPage ? NOT_THIS_PAGE : STATUS_OK;
    const std::string name = cutName(*nameText);
    s_.gXsdElementName = name;

    const xmlNode* user = nullptr;
    const bool page = s_.gBoolLookForPage;
    if (page) {
        if (name != charStr(s_.gPtrCurrentInputXmlNode->name))
            return NOT_THIS_PAGE;
        s_.gBoolLookForPage = false;
        s_.gCurrentInputXmlChild = firstElementChild(s_.gPtrCurrentInputXmlNode);
        s_.gCgNextElementFlag = false;
        user = s_.gPtrCurrentInputXmlNode;
    } else {
        user = matchUserElement(name);
        if (user != nullptr)
            s_.gCurrentInputXmlChild = user;
    }
    const bool group = user != nullptr && user == s_.gCurrentInputXmlConfigGroupChild;

    if (++s_.made > XSD_MAX_ELEMENTS) {
        userMessage("\nERROR : Page \"%s\" makes more elements than a document can hold.\n",
                    charStr(s_.gPtrCurrentInputXmlNode->name));
        return STATUS_INVALID_XML;
    }
    xmlNode* element = xmlNewDocNode(s_.gPtrPepperedXml, nullptr, xmlStr("NEW"), nullptr);
    if (element == nullptr)
        return STATUS_INVALID_XML;
    if (xmlAddChild(parent, element) == nullptr) {
        xmlFreeNode(element);
        return STATUS_INVALID_XML;
    }
    if (page)
        s_.pageElement = element;
    if (ZELKOR_STATUS status = fillElement(element, user, name, defaultText); status != STATUS_OK)
        return status;

    // The declaration's content and its type's are matched among the user element's children.
    s_.scopes.push_back(UserScope{user, {}});
    ZELKOR_STATUS status = STATUS_OK;
    if (firstElementChild(node) != nullptr)
        status = processChildNode(node, element);
    if (status == STATUS_OK && typeName) {
        if (const xmlNode* type = defFindNodeFromSchema(*s_.gSchemaPtr, *typeName)) {
            if (!s_.guard.enter(type, name)) {
                status = STATUS_INVALID_XML;
            } else {
                status = processAnnotation(annotationOf(type), element);
                if (status == STATUS_OK)
                    status = processXmlComplexType(type, element);
                s_.guard.leave();
            }
        }
    }
    if (status == STATUS_OK)
        status = checkPlaces(s_.scopes.back());
    s_.scopes.pop_back();
    if (group && s_.gTmpCurrentInputXmlConfigGroupChild != nullptr)
        s_.gCgNextElementFlag = true;
    return status;
}

ZELKOR_STATUS StaticPepperedBuilder::processXmlAttribute(const xmlNode* node, xmlNode* parent) {
    if (node == nullptr || parent == nullptr)
        return STATUS_NULL_ARGUMENT;
    for (const xmlNode* declaration = node; declaration != nullptr; declaration = nextElementSibling(declaration)) {
        // A name and its value pair up within one declaration.
        std::optional<std::string> name, value;
        for (const xmlAttr* attribute = declaration->properties; attribute != nullptr; attribute = attribute->next) {
            if (xmlStrEqual(attribute->name, xmlStr("name"))) {
                XmlCharPtr text(xmlNodeListGetString(declaration->doc, attribute->children, 1));
                name = text ? charStr(text.get()) : "";
            } else if (std::optional<std::string> fixed = getAttribValue(attribute)) {
                value = fixed;
            }
            if (!name || !value)
                continue;
            if (*name == "TYPE") {
                // The field's element is named by it: a value that is no XML name, or one longer than any
                // name a reader takes, would make the document unreadable.
                if (value->size() > MAX_NAME_LENGTH || xmlValidateName(xmlStr(value->c_str()), 0) != 0) {
                    userMessage("\nERROR : Invalid TYPE \"%s\" for element \"%s\".\n", cutName(*value).c_str(),
                                s_.gXsdElementName.c_str());
                    return STATUS_INVALID_XML;
                }
                xmlNodeSetName(parent, xmlStr(value->c_str()));
            } else if (*name == "ID" && s_.gPageIdFlag && parent == s_.pageElement) {
                xmlSetProp(parent, xmlStr("ID"), xmlStr(s_.gStrPageId.c_str()));
                s_.gPageIdFlag = false;
            } else if (*name == "NAME" && !isReservedFieldName(*value)) {
                xmlSetProp(parent, xmlStr("NAME"), xmlStr(s_.gXsdElementName.c_str()));
            } else if ((*name != "UNIT" && *name != "FORMAT") || xmlHasProp(parent, xmlStr(name->c_str())) == nullptr) {
                // What the user's element carried (UNIT="TRUE", FORMAT="Dec") stays.
                xmlSetProp(parent, xmlStr(name->c_str()), xmlStr(value->c_str()));
            }
            name.reset();
            value.reset();
        }
    }
    return STATUS_OK;
}

ZELKOR_STATUS StaticPepperedBuilder::processChoice(const xmlNode* node, xmlNode* parent) {
    const xmlNode* next = s_.gTmpCurrentInputXmlConfigGroupChild;
    if (next != nullptr && s_.gCgNextElementFlag && declaresGroup(node, next))
        advanceConfigGroup();
    if (firstElementChild(node) == nullptr) {
        if (s_.gTmpCurrentInputXmlConfigGroupChild != nullptr)
            s_.gCgNextElementFlag = true;
        return STATUS_OK;
    }
    // A further group pass processes the alternative of the group element it is for, and only that one.
    const bool furtherGroup = s_.gConfigGroupChoiceElementSkipFlag;
    const xmlNode* current = s_.gCurrentInputXmlConfigGroupChild;
    ZELKOR_STATUS status = STATUS_OK;
    for (const xmlNode* alternative = firstElementChild(node); alternative != nullptr;
         alternative = nextElementSibling(alternative)) {
        if (s_.gConfigGroupChoiceElementSkipFlag) {
            if (current == nullptr || !isXsd(alternative, "element") ||
                !attributeEquals(alternative, "name", charStr(current->name)))
                continue;
            s_.gConfigGroupChoiceElementSkipFlag = false;
        }
        const bool looking = s_.gBoolLookForPage;
        if (isXsd(alternative, "element"))
            status = processXmlElement(alternative, parent);
        else if (isXsd(alternative, "sequence"))
            status = processXmlSequence(alternative, parent);
        else if (isXsd(alternative, "choice"))
            status = processChoice(alternative, parent);
        if (status != STATUS_OK && status != NOT_THIS_PAGE)
            return status;
        if (looking && !s_.gBoolLookForPage)
            return status; // the page has been emitted
        if (furtherGroup)
            break;
    }
    if (s_.gTmpCurrentInputXmlConfigGroupChild != nullptr && status == STATUS_OK)
        s_.gCgNextElementFlag = true;
    return status;
}

// A new user page: its carry-overs, the input cursor on it and the group cursor cleared.
void StaticPepperedBuilder::startPage(const xmlNode* page) {
    s_.gUnitFlag = xmlProp(page, "UNIT") == "TRUE";
    std::optional<std::string> id = xmlProp(page, "ID");
    s_.gPageIdFlag = id.has_value();
    s_.gStrPageId = id.value_or("");
    s_.gPtrCurrentInputXmlNode = page;
    s_.gCurrentInputXmlChild = nullptr;
    s_.gConfigGroupFlag = false;
    s_.gConfigGroupChildFlag = false;
    long groups = 0;
    for (const xmlNode* child = firstElementChild(page); child != nullptr; child = nextElementSibling(child))
        if (isGroupElement(child))
            ++groups;
    s_.gConfigNodeCount = groups - 1;
    s_.gCurrentInputXmlConfigGroupChild = nullptr;
    s_.gTmpCurrentInputXmlConfigGroupChild = nullptr;
    s_.gCgNextElementFlag = false;
    s_.gConfigGroupChoiceElementSkipFlag = false;
    s_.currentGroupTaken = false;
    s_.takenGroups.clear();
    s_.declaredGroups.clear();
    s_.pageElement = nullptr;
    s_.gBoolLookForPage = true;
    s_.scopes.clear();
}

bool pageHasGroups(const xmlNode* page) {
    for (const xmlNode* child = firstElementChild(page); child != nullptr; child = nextElementSibling(child))
        if (nameIs(child, "CONFIGSET") || isGroupElement(child))
            return true;
    return false;
}

ZELKOR_STATUS StaticPepperedBuilder::traverseInputXml(xmlDoc* userDocument, uint8_t recordPages) {
    const xmlNode* manufacturing = findXmlNode(userDocument, "//MANUFACTURING");
    if (manufacturing == nullptr)
        return STATUS_FAILURE;
    s_.userManufacturing = manufacturing;
    for (const xmlNode* child = firstElementChild(manufacturing); child != nullptr; child = nextElementSibling(child)) {
        if (nameIs(child, "PAGE")) {
            if (!s_.gBoolRootElementCreated) {
                s_.gPtrCurrentInputXmlNode = manufacturing;
                s_.gBoolLookForPage = false;
                if (ZELKOR_STATUS status = traverseSchema(s_.gSchemaPtr); status != STATUS_OK)
                    return status;
            }
            if (pageHasGroups(child)) {
                userMessage("\nCONFIGSET type (Or cg_ element and configGroup) is not supported with dynamic pages");
                return STATUS_FAILURE;
            }
            xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(child), s_.gPtrPepperedXml, 1);
            if (copy == nullptr || !createRoot()) {
                xmlFreeNode(copy);
                return STATUS_FAILURE;
            }
            xmlAddChild(s_.root, copy);
            continue;
        }
        startPage(child);
        if (ZELKOR_STATUS status = traverseSchema(s_.gSchemaPtr); status != STATUS_OK)
            return status;
        if (recordPages == 1)
            recordStaticPage(charStr(child->name));
    }
    // A document without pages still gets its root and the root's attributes; a schema without
    // MANUFACTURING gives none.
    if (!s_.gBoolRootElementCreated) {
        s_.gPtrCurrentInputXmlNode = manufacturing;
        s_.gBoolLookForPage = false;
        if (ZELKOR_STATUS status = traverseSchema(s_.gSchemaPtr); status != STATUS_OK)
            return status;
    }
    return s_.gBoolRootElementCreated ? STATUS_OK : STATUS_NO_ROOT_DECLARATION;
}

ZELKOR_STATUS buildStatic(const char* xsdName, xmlDoc* userDocument, const char* outName, uint8_t recordPages) {
    ConversionCarry& carry = conversionCarry();
    freeStaticPageList();
    carry.gStrSchemaFilename.clear();
    if (xsdName == nullptr || userDocument == nullptr || outName == nullptr)
        return STATUS_NULL_ARGUMENT;
    StaticPepperedState state;
    if (ZELKOR_STATUS status = resolveSchemaPath(xsdName, state.gStrSchemaFilename); status != STATUS_OK)
        return status;
    carry.gStrSchemaFilename = state.gStrSchemaFilename;
    if (ZELKOR_STATUS status = createOutputFile(outName); status != STATUS_OK)
        return status;
    XmlDocPtr output(xmlNewDoc(xmlStr("1.0")));
    if (!output)
        return STATUS_FAILURE;
    std::unique_ptr<XsdSchema> schema;
    if (ZELKOR_STATUS status = XsdSchema::load(state.gStrSchemaFilename, schema); status != STATUS_OK)
        return status == STATUS_NO_MEMORY ? status : STATUS_XML_PARSE;
    state.gPtrPepperedXml = output.get();
    state.gSchemaPtr = schema.get();
    StaticPepperedBuilder builder(state);
    if (ZELKOR_STATUS status = builder.traverseInputXml(userDocument, recordPages); status != STATUS_OK)
        return status;
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
