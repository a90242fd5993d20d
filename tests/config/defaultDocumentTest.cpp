// The default document built from a schema alone, and the schema lookup it shares with the builders.
#include "chainSupport.h"
#include "config/xsdParser.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace configtest;

const std::string ROOT_OPEN = "<MANUFACTURING xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                              "xsi:noNamespaceSchemaLocation=\"";

class DefaultDocumentTest : public EngineTest {
  protected:
    ZELKOR_STATUS build(const std::string& schemaText, std::string& printed) {
        writeText(schema, schemaText);
        ::testing::internal::CaptureStdout();
        ZELKOR_STATUS status = pageengine::xsdCreateDefaultXml(schema.c_str(), output.c_str(), nullptr);
        printed = ::testing::internal::GetCapturedStdout();
        return status;
    }
    ScratchDir dir;
    std::string schema = dir.file("region.xsd");
    std::string output = dir.file("default.xml");
};

TEST_F(DefaultDocumentTest, EveryDeclaredElementWithItsDefaultRepeatedAsDeclared) {
    const std::string types =
        "<xs:complexType name=\"DWORD\"><xs:sequence><xs:element name=\"inner\" type=\"xs:string\" minOccurs=\"0\"/>"
        "</xs:sequence></xs:complexType>"
        "<xs:complexType name=\"pairType\"><xs:sequence><xs:element name=\"a\" type=\"xs:string\" default=\"1\"/>"
        "<xs:element name=\"b\" type=\"xs:string\" default=\"2\"/></xs:sequence></xs:complexType>"
        "<xs:complexType name=\"pageType\"><xs:sequence>"
        "<xs:element name=\"three\" default=\"00\" maxOccurs=\"3\"><xs:complexType><xs:simpleContent>"
        "<xs:extension base=\"xs:string\"><xs:attribute name=\"INDEX\" type=\"xs:string\"/></xs:extension>"
        "</xs:simpleContent></xs:complexType></xs:element>"
        "<xs:element name=\"many\" type=\"xs:string\" default=\"1\" maxOccurs=\"unbounded\"/>"
        "<xs:element name=\"none\" type=\"xs:string\" minOccurs=\"0\" maxOccurs=\"0\"/>"
        "<xs:element name=\"amp\" type=\"xs:string\" default=\"A&amp;B &lt;c&gt;\"/>"
        "<xs:element name=\"dw\" type=\"DWORD\"/>"
        "<xs:element name=\"pair\" type=\"pairType\"/>"
        "</xs:sequence><xs:attribute name=\"UNIT\" type=\"xs:string\" fixed=\"TRUE\"/>"
        "<xs:attribute name=\"INDEX\" type=\"xs:string\"/></xs:complexType>";
    const std::string rootAttributes = "<xs:attribute name=\"Product\" type=\"xs:string\" fixed=\"Quenza\"/>"
                                       "<xs:attribute name=\"OFFSET\" type=\"xs:string\" fixed=\"4\"/>";
    std::string printed;
    std::string text = regionSchema("<xs:element name=\"page1\" type=\"pageType\"/>", rootAttributes, types);
    ASSERT_EQ(build(text, printed), 0u);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(body(output), ROOT_OPEN + schema +
                                "\" Product=\"Quenza\"><page1 UNIT=\"TRUE\"><three INDEX=\"0\">00</three>"
                                "<three INDEX=\"1\">00</three><three INDEX=\"2\">00</three><many>1</many>"
                                "<amp>A&amp;B &lt;c&gt;</amp><dw/><pair><a>1</a><b>2</b></pair></page1>"
                                "</MANUFACTURING>");
    EXPECT_TRUE(xmllintAccepts(output, schema)) << readText(output);

    // A commented, indented copy of the same schema builds the same document; so does a second build.
    std::string first = readText(output);
    std::string commented = text;
    for (std::string tag : {"<xs:sequence>", "<xs:complexType>", "</xs:element>"}) {
        for (size_t from = 0; (from = commented.find(tag, from)) != std::string::npos;) {
            commented.insert(from + tag.size(), "\n   <!-- note -->\n   ");
            from += tag.size();
        }
    }
    ASSERT_EQ(build(commented, printed), 0u);
    EXPECT_EQ(readText(output), first);
}

TEST_F(DefaultDocumentTest, SchemaShapesAndTheirStatuses) {
    const std::string loop = "<xs:complexType name=\"loop\"><xs:sequence><xs:element name=\"again\" type=\"loop\" "
                             "minOccurs=\"0\"/></xs:sequence></xs:complexType>";
    struct Case {
        const char* what;
        std::string schema;
        ZELKOR_STATUS status;
        std::string body; // checked when the status is 0
    };
    const Case cases[] = {
        {"no annotation: a bare root",
         "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element name=\"MANUFACTURING\">"
         "<xs:complexType><xs:sequence><xs:element name=\"page1\" type=\"xs:string\"/></xs:sequence>"
         "</xs:complexType></xs:element></xs:schema>",
         0, ROOT_OPEN + schema + "\"/>"},
        {"no global element", "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:complexType name=\"t\"/>"
                              "</xs:schema>",
         36, ""},
        {"no MANUFACTURING", "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element name=\"OTHER\"/>"
                             "</xs:schema>",
         36, ""},
        {"a type that contains itself", regionSchema("<xs:element name=\"page1\" type=\"loop\"/>", "", loop), 40, ""},
        {"more occurrences than a page holds",
         regionSchema("<xs:element name=\"page1\" type=\"xs:string\" maxOccurs=\"65532\"/>"), 40, ""},
        {"repetitions nested in repetitions beyond what a build makes",
         regionSchema("<xs:element name=\"page1\" maxOccurs=\"3000\"><xs:complexType><xs:sequence><xs:element "
                      "name=\"b\" type=\"xs:string\" maxOccurs=\"3000\"/></xs:sequence></xs:complexType></xs:element>"),
         40, ""},
        {"the most a page holds",
         regionSchema("<xs:element name=\"page1\"><xs:complexType><xs:sequence><xs:element name=\"b\" "
                      "type=\"xs:string\" maxOccurs=\"2\"/></xs:sequence></xs:complexType></xs:element>"),
         0, ROOT_OPEN + schema + "\"><page1><b INDEX=\"0\"/><b INDEX=\"1\"/></page1></MANUFACTURING>"},
        {"not a schema", "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element/></xs:schema>", 41, ""},
        {"not XML", "<xs:schema", 41, ""},
    };
    for (const Case& c : cases) {
        std::string printed;
        EXPECT_EQ(build(c.schema, printed), c.status) << c.what;
        if (c.status == 0) {
            EXPECT_EQ(body(output), c.body) << c.what;
        }
    }
}

TEST_F(DefaultDocumentTest, ArgumentsAndOutputFile) {
    writeText(schema, regionSchema("<xs:element name=\"page1\" type=\"xs:string\"/>"));
    EXPECT_EQ(pageengine::xsdCreateDefaultXml(nullptr, output.c_str(), nullptr), 5u);
    EXPECT_EQ(pageengine::xsdCreateDefaultXml(schema.c_str(), nullptr, nullptr), 5u);
    ::testing::internal::CaptureStdout();
    std::string unwritable = dir.file("missing/default.xml");
    EXPECT_EQ(pageengine::xsdCreateDefaultXml(schema.c_str(), unwritable.c_str(), nullptr), 1u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unable to open file :" + unwritable + "\n");
    EXPECT_EQ(pageengine::xsdCreateDefaultXml(schema.c_str(), "/dev/full", nullptr), 41u);
}

// A schema that is not where it is named is looked for under ZELKOR_SUPPORT_FILES.
TEST_F(DefaultDocumentTest, SupportFileLookup) {
    writeText(schema, regionSchema("<xs:element name=\"page1\" type=\"xs:string\" default=\"x\"/>"));
    const char* saved = std::getenv("ZELKOR_SUPPORT_FILES");
    std::string savedValue = saved != nullptr ? saved : "";
    std::string directory = schema.substr(0, schema.rfind('/'));
    struct Case {
        const char* what;
        std::optional<std::string> variable;
        ZELKOR_STATUS status;
    };
    const Case cases[] = {
        {"variable not set", std::nullopt, 52},
        {"found under it", directory, 0},
        {"found under it, trailing slash", directory + "/", 0},
        {"not under it", directory + "/elsewhere", 53},
        {"path too long", std::string(600, 'd'), 58},
    };
    for (const Case& c : cases) {
        if (c.variable)
            setenv("ZELKOR_SUPPORT_FILES", c.variable->c_str(), 1);
        else
            unsetenv("ZELKOR_SUPPORT_FILES");
        std::remove(output.c_str());
        EXPECT_EQ(pageengine::xsdCreateDefaultXml("region.xsd", output.c_str(), nullptr), c.status) << c.what;
        if (c.status == 0) {
            EXPECT_EQ(selectText(output, "//page1"), "x") << c.what;
        }
        std::string found;
        EXPECT_EQ(pageengine::fetchFileFromEnvironmantVariable("region.xsd", found), c.status) << c.what;
        if (c.status == 0) {
            EXPECT_EQ(found, directory + "/region.xsd");
        }
    }
    if (saved != nullptr)
        setenv("ZELKOR_SUPPORT_FILES", savedValue.c_str(), 1);
    else
        unsetenv("ZELKOR_SUPPORT_FILES");
}

TEST(StandardDataType, NamesWithoutRegardToCase) {
    struct Case {
        const char* name;
        bool standard;
    };
    const Case cases[] = {{"dword", true}, {"DWORD", true}, {"Hex", true},   {"UNICHARV", true}, {"char_null_pad", true},
                          {"U32", false},  {"", false},     {nullptr, false}, {"DWORDS", false}};
    for (const Case& c : cases)
        EXPECT_EQ(pageengine::isStandardDataType(c.name), c.standard) << (c.name ? c.name : "null");
}

} // namespace
