// The queries the builders make on schema declarations, and the schema of one conversion compiled once
// for every builder that reads it.
#include "chainSupport.h"
#include "config/stamps.h"
#include "config/xsdParser.h"

#include <gtest/gtest.h>

namespace {

using namespace configtest;
using pageengine::ConversionSchema;
using pageengine::firstElementChild;
using pageengine::xmlProp;
using pageengine::xmlStr;
using pageengine::XsdSchema;

const std::string DECLARATIONS =
    "<xs:complexType name=\"pageType\"><xs:sequence>"
    "<xs:element name=\"a\" type=\"xs:string\"/>"
    "<xs:choice><xs:element name=\"Bee\" type=\"xs:string\"/><xs:sequence><xs:element name=\"c\" type=\"xs:string\"/>"
    "</xs:sequence></xs:choice>"
    "<xs:element name=\"d\" type=\"xs:string\"/>"
    "<xs:element name=\"bits\"><xs:complexType><xs:sequence><xs:element name=\"b0\" type=\"BIT\"/></xs:sequence>"
    "<xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"DWORD\"/></xs:complexType></xs:element>"
    "<xs:element name=\"based\"><xs:complexType><xs:simpleContent><xs:extension base=\"BIT\">"
    "<xs:attribute name=\"OFFSET\" type=\"xs:string\" fixed=\"1F\"/><xs:attribute name=\"LENGTH\" type=\"xs:string\" "
    "default=\"2\"/></xs:extension></xs:simpleContent></xs:complexType></xs:element>"
    "<xs:element name=\"declared\"><xs:complexType><xs:simpleContent><xs:extension base=\"xs:string\">"
    "<xs:attribute name=\"type\" type=\"xs:string\" fixed=\"WORD\"/></xs:extension></xs:simpleContent></xs:complexType>"
    "</xs:element>"
    "</xs:sequence></xs:complexType>"
    "<xs:simpleType name=\"BIT\"><xs:restriction base=\"xs:string\"/></xs:simpleType>";

class XsdQueries : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        writeText(path, regionSchema("<xs:element name=\"page\" type=\"pageType\" minOccurs=\"0\"/>",
                                     "<xs:attribute name=\"Product\" type=\"xs:string\"/>", DECLARATIONS));
        ASSERT_EQ(XsdSchema::load(path, schema), 0u);
        page = schema->pageDeclaration("page");
        ASSERT_NE(page, nullptr);
    }
    const xmlNode* child(const char* name) { return pageengine::defGetChildNode(*schema, page, name); }

    ScratchDir dir;
    std::string path = dir.file("queries.xsd");
    std::unique_ptr<XsdSchema> schema;
    const xmlNode* page = nullptr;
};

TEST_F(XsdQueries, DeclarationsAreFoundThroughTheContentModelWithoutRegardToCase) {
    const xmlNode* first = pageengine::defGetSchemaElementsForNode(*schema, page);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(xmlProp(first, "name"), "a");
    struct Case {
        const char* name;
        const char* kind;
        const char* found; // nullptr: none
    };
    const Case cases[] = {
        {"bee", "element", "Bee"},  // inside a choice, letter case ignored
        {"C", "ELEMENT", "c"},      // inside a sequence inside the choice
        {"d", "element", "d"},      // after the choice
        {"b0", "element", nullptr}, // a container's child is no sibling
        {"a", "attribute", nullptr},
        {"zz", "element", nullptr},
    };
    for (const Case& c : cases) {
        const xmlNode* named = pageengine::defGetNamedNodeFromSchema(first, c.name, c.kind);
        EXPECT_EQ(named != nullptr ? xmlProp(named, "name").value_or("?") : "<none>", c.found ? c.found : "<none>")
            << c.name;
        if (std::string(c.kind) != "attribute") {
            EXPECT_EQ(child(c.name), named) << "the declaration below the page: " << c.name;
        }
    }
    EXPECT_EQ(xmlProp(pageengine::defGetChildNode(*schema, child("bits"), "B0"), "name"), "b0");
    EXPECT_EQ(pageengine::defGetSchemaElementsForNode(*schema, child("d")), nullptr) << "a leaf declares no fields";
}

TEST_F(XsdQueries, TypesOffsetsAndValuesOfDeclarations) {
    struct Case {
        const char* declaration;
        std::optional<std::string> own, base, type, offset;
    };
    const Case cases[] = {
        {"a", std::nullopt, std::nullopt, std::nullopt, std::nullopt}, // xs:string names no field type
        {"bits", std::nullopt, std::nullopt, "DWORD", std::nullopt},
        {"based", std::nullopt, "BIT", "BIT", "1F"},
        {"declared", std::nullopt, std::nullopt, "WORD", std::nullopt},
        {"page", "pageType", std::nullopt, "pageType", std::nullopt},
    };
    for (const Case& c : cases) {
        const xmlNode* node = std::string(c.declaration) == "page" ? page : child(c.declaration);
        ASSERT_NE(node, nullptr) << c.declaration;
        EXPECT_EQ(pageengine::defGetTypeFromSchema(node), c.own) << c.declaration;
        EXPECT_EQ(pageengine::defGetTypeFromSimpleContent(node), c.base) << c.declaration;
        EXPECT_EQ(pageengine::defGetTypeFromNode(node), c.type) << c.declaration;
        EXPECT_EQ(pageengine::defGetElementOffsetFromNode(node), c.offset) << c.declaration;
    }
    EXPECT_NE(pageengine::defFindNodeFromSchema(*schema, "pageType"), nullptr);
    EXPECT_EQ(pageengine::defFindNodeFromSchema(*schema, "xs:string"), nullptr);

    // The LENGTH declaration of "based": its value by the declaration and by the attribute read alone.
    const xmlNode* extension = firstElementChild(firstElementChild(firstElementChild(child("based"))));
    const xmlNode* length = pageengine::defGetSchemaAttributeNode(extension);
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(xmlProp(length, "name"), "OFFSET") << "the first attribute declaration";
    length = length->next;
    EXPECT_EQ(pageengine::defGetAttribValue(length), "2");
    EXPECT_EQ(pageengine::getAttribValue(xmlHasProp(length, xmlStr("default"))), "2");
    EXPECT_EQ(pageengine::getAttribValue(xmlHasProp(length, xmlStr("name"))), std::nullopt);
    EXPECT_EQ(pageengine::defGetAttributeValueFromSchemaNode(length, "name"), "LENGTH");
    xmlSetProp(const_cast<xmlNode*>(length), xmlStr("name"), xmlStr(std::string(512, 'N').c_str()));
    EXPECT_EQ(pageengine::defGetAttributeValueFromSchemaNode(length, "name"), std::nullopt) << "512 characters";
}

TEST(DynamicQueries, LengthInUnitsAndBitChildren) {
    struct Case {
        const char* type;
        std::optional<std::string> text;
        long length;
    };
    const Case cases[] = {{"DWORD", std::nullopt, 1}, {"DWORD", "10", 16}, {"IPAddress", "8", 4},
                          {"BYTE", "0x0A", 10},       {"BYTE", "1G", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(pageengine::defGetLengthInBytes(c.type, c.text), c.length) << c.type << " " << c.text.value_or("-");

    ScratchDir dir;
    writeText(dir.file("c.xml"), "<r><DWORD><BYTE/><BIT/></DWORD><DWORD><BYTE/>BIT</DWORD></r>");
    pageengine::XmlDocPtr document = parseFile(dir.file("c.xml"));
    const xmlNode* first = pageengine::firstElementChild(xmlDocGetRootElement(document.get()));
    EXPECT_EQ(pageengine::defAreChildrenBits(first), 1);
    EXPECT_EQ(pageengine::defAreChildrenBits(pageengine::nextElementSibling(first)), 0) << "a text is no child";
}

TEST(StampSearch, DefinedNodesInDocumentOrderUpToTwo) {
    ScratchDir dir;
    writeText(dir.file("d.xml"), "<r><a DEFINE=\"s\"><b DEFINE=\"t\"/><c DEFINE=\"s\"/></a><d DEFINE=\"s\"/></r>");
    pageengine::XmlDocPtr document = parseFile(dir.file("d.xml"));
    std::vector<xmlNode*> found;
    pageengine::fetchDefinedNodeWithStamp(xmlDocGetRootElement(document.get()), "s", found);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_STREQ(reinterpret_cast<const char*>(found[0]->name), "a");
    EXPECT_STREQ(reinterpret_cast<const char*>(found[1]->name), "c") << "depth first: a's child before a's sibling";
    found.clear();
    pageengine::fetchDefinedNodeWithStamp(xmlDocGetRootElement(document.get()), "S", found);
    EXPECT_TRUE(found.empty()) << "stamps compare exactly";
}

// The dynamic road's builders read the conversion's compiled schema: a schema file spoilt after the
// compile does not reach them, while builders that compile the file themselves refuse it.
TEST_F(EngineTest, ConversionSchemaIsCompiledOnceForEveryBuilder) {
    ScratchDir dir;
    const std::string xsd = dir.file("region.xsd");
    writeText(xsd, readText(fixture("chain/region.xsd")));
    pageengine::XmlDocPtr user = parseFile(fixture("chain/user.xml"));
    ConversionSchema schema(xsd);
    ZELKOR_STATUS status = 1;
    const XsdSchema* compiled = schema.get(status);
    ASSERT_NE(compiled, nullptr);
    EXPECT_EQ(status, 0u);
    writeText(xsd, "<not a schema");
    EXPECT_EQ(schema.get(status), compiled);

    const std::string defaults = dir.file("default.xml"), complete = dir.file("complete.xml");
    const std::string peppered = dir.file("peppered.xml");
    ASSERT_EQ(pageengine::xsdCreateDefaultXml(schema, defaults.c_str()), 0u);
    ASSERT_EQ(pageengine::comCreateCompleteXml(defaults.c_str(), user.get(), complete.c_str(), nullptr), 0u);
    ASSERT_EQ(pageengine::defCreatePepperedXml(schema, complete.c_str(), peppered.c_str(), 0), 0u);
    EXPECT_TRUE(xmllintAccepts(peppered, fixture("peppered.xsd"))) << readText(peppered);
    EXPECT_EQ(pageengine::zelkor_ParseXmlFile(nullptr, peppered.c_str(), nullptr, nullptr), 0u);
    EXPECT_EQ(pageengine::engineState().gXMLPagelist.size(), 2u);

    EXPECT_EQ(pageengine::xsdCreateDefaultXml(xsd.c_str(), defaults.c_str(), nullptr), 41u);
    EXPECT_EQ(pageengine::defCreatePepperedXml(xsd.c_str(), complete.c_str(), peppered.c_str(), 0), 41u);

    // A schema that cannot be had keeps the status of its one attempt.
    unsetenv("ZELKOR_SUPPORT_FILES");
    ConversionSchema missing(dir.file("none.xsd"));
    EXPECT_EQ(missing.get(status), nullptr);
    EXPECT_EQ(status, 52u);
    EXPECT_EQ(pageengine::xsdCreateDefaultXml(missing, defaults.c_str()), 52u);
}

TEST_F(XsdQueries, RootScanOnItsOwn) {
    pageengine::XmlDocPtr document(xmlNewDoc(xmlStr("1.0")));
    xmlNode* root = pageengine::createManufacturingRoot(document.get(), path);
    EXPECT_EQ(pageengine::xsdProcessSchema(nullptr, root), 36u);
    ASSERT_EQ(pageengine::xsdProcessSchema(schema.get(), root), 0u);
    const xmlNode* built = pageengine::firstElementChild(root);
    ASSERT_NE(built, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(built->name), "page");

    writeText(dir.file("other.xsd"),
              "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element name=\"OTHER\"/></xs:schema>");
    std::unique_ptr<XsdSchema> other;
    ASSERT_EQ(XsdSchema::load(dir.file("other.xsd"), other), 0u);
    EXPECT_EQ(pageengine::xsdProcessSchema(other.get(), root), 36u) << "no MANUFACTURING";
}

} // namespace
