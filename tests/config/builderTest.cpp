// The peppered builders and the complete document on small hand-written schemas.
#include "chainSupport.h"

#include <gtest/gtest.h>

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace configtest;

// A leaf declaration with fixed TYPE and LENGTH (and further attribute declarations).
std::string leaf(const std::string& name, const std::string& type, const std::string& length,
                 const std::string& more = "", const std::string& defaultText = "") {
    return "<xs:element name=\"" + name + "\"" + (defaultText.empty() ? "" : " default=\"" + defaultText + "\"") +
           "><xs:complexType><xs:simpleContent><xs:extension base=\"xs:string\">"
           "<xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"" +
           type + "\"/><xs:attribute name=\"LENGTH\" type=\"xs:string\" fixed=\"" + length + "\"/>" + more +
           "<xs:attribute name=\"FORMAT\" type=\"xs:string\"/><xs:attribute name=\"INDEX\" type=\"xs:string\"/>"
           "</xs:extension></xs:simpleContent></xs:complexType></xs:element>";
}

std::string pageType(const std::string& name, const std::string& content, const std::string& more = "") {
    return "<xs:complexType name=\"" + name + "\">" + content +
           "<xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"PAGE\"/>"
           "<xs:attribute name=\"ID\" type=\"xs:string\" default=\"0001\"/>"
           "<xs:attribute name=\"UNIT\" type=\"xs:string\"/>" +
           more + "</xs:complexType>";
}

const std::string ROOT_ATTRIBUTES = "<xs:attribute name=\"SchemaVersion\" type=\"xs:string\" fixed=\"03\"/>"
                                    "<xs:attribute name=\"Product\" type=\"xs:string\" fixed=\"Ostrel\"/>";

class BuilderTest : public EngineTest {
  protected:
    ZELKOR_STATUS buildStatic(const std::string& schemaText, const std::string& user, uint8_t recordPages = 0) {
        writeText(schema, schemaText);
        writeText(userPath, user);
        pageengine::XmlDocPtr document = parseFile(userPath);
        EXPECT_TRUE(document);
        ::testing::internal::CaptureStdout();
        ZELKOR_STATUS status = pageengine::createPepperedXml(schema.c_str(), document.get(), output.c_str(), recordPages);
        printed = ::testing::internal::GetCapturedStdout();
        return status;
    }
    // The root's content of the output.
    std::string content() {
        std::string whole = body(output);
        std::size_t start = whole.find('>');
        std::size_t end = whole.rfind("</MANUFACTURING>");
        return end == std::string::npos ? "" : whole.substr(start + 1, end - start - 1);
    }
    ScratchDir dir;
    std::string schema = dir.file("region.xsd");
    std::string userPath = dir.file("user.xml");
    std::string output = dir.file("out.xml");
    std::string printed;
};

const std::string TWO_DWORDS = pageType(
    "cfgType", "<xs:sequence>" +
                   leaf("first", "DWORD", "1", "<xs:attribute name=\"OFFSET\" type=\"xs:string\" fixed=\"0\"/>") +
                   leaf("second", "DWORD", "1", "<xs:attribute name=\"OFFSET\" type=\"xs:string\" fixed=\"4\"/>",
                        "0000ABCD") +
                   leaf("spare", "DWORD", "1", "<xs:attribute name=\"NAME\" type=\"xs:string\" fixed=\"Reserved 1\"/>",
                        "0") +
                   "</xs:sequence>");

TEST_F(BuilderTest, StaticPageFromTheSchema) {
    std::string xsd = regionSchema("<xs:element name=\"cfg\" type=\"cfgType\" minOccurs=\"0\"/>", ROOT_ATTRIBUTES, TWO_DWORDS);
    ASSERT_EQ(buildStatic(xsd, userDocument("<cfg ID=\"FF10\" UNIT=\"TRUE\"><first>1234</first></cfg>"), 1), 0u);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(content(), "<PAGE NAME=\"cfg\" UNIT=\"TRUE\" ID=\"FF10\">"
                         "<DWORD NAME=\"first\" LENGTH=\"1\" OFFSET=\"0\">1234</DWORD>"
                         "<DWORD NAME=\"second\" LENGTH=\"1\" OFFSET=\"4\">0000ABCD</DWORD>"
                         "<DWORD NAME=\"Reserved 1\" LENGTH=\"1\">0</DWORD></PAGE>");
    EXPECT_NE(body(output).find("SchemaVersion=\"03\" Product=\"Ostrel\""), std::string::npos) << body(output);
    EXPECT_TRUE(xmllintAccepts(output, fixture("peppered.xsd"))) << readText(output);
    ASSERT_EQ(pageengine::conversionCarry().gStaticPageList.size(), 1u);
    EXPECT_EQ(pageengine::conversionCarry().gStaticPageList[0].name, "cfg");
}

TEST_F(BuilderTest, StaticBuilderCases) {
    const std::string loop = pageType("loopType", "<xs:sequence><xs:element name=\"again\" type=\"loopType\" "
                                                  "minOccurs=\"0\"/></xs:sequence>");
    const std::string decimal = pageType("decType", "<xs:sequence>" + leaf("w", "WORD", "1") + "</xs:sequence>");
    const std::string groups = pageType(
        "grpType", "<xs:sequence><xs:choice maxOccurs=\"unbounded\">"
                   "<xs:element name=\"cg_a\"><xs:complexType><xs:sequence>" + leaf("x", "BYTE", "1", "", "01") +
                       "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"CONFIGSET\"/>"
                       "</xs:complexType></xs:element>"
                       "<xs:element name=\"cg_b\"><xs:complexType><xs:sequence>" + leaf("y", "BYTE", "1", "", "02") +
                       "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"CONFIGSET\"/>"
                       "</xs:complexType></xs:element></xs:choice></xs:sequence>");
    const std::string nested = pageType(
        "nestType", "<xs:sequence><xs:element name=\"c\"><xs:complexType><xs:sequence>" + leaf("y", "BYTE", "1", "", "01") +
                        "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"CONFIGSET\"/>"
                        "</xs:complexType></xs:element>" + leaf("y", "BYTE", "1", "", "0F") + "</xs:sequence>");
    const std::string twoGroups = pageType(
        "twoType", "<xs:sequence><xs:element name=\"cg_a\" minOccurs=\"0\"><xs:complexType><xs:sequence>" +
                       leaf("x", "BYTE", "1", "", "01") +
                       "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"CONFIGSET\"/>"
                       "</xs:complexType></xs:element>"
                       "<xs:element name=\"cg_b\" minOccurs=\"0\"><xs:complexType><xs:sequence>" +
                       leaf("y", "BYTE", "1", "", "02") +
                       "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"CONFIGSET\"/>"
                       "</xs:complexType></xs:element></xs:sequence>");
    // A value written before its name, after a declaration with a name and no value.
    const std::string pairing = pageType(
        "pairType", "<xs:sequence><xs:element name=\"f\"><xs:complexType><xs:simpleContent><xs:extension "
                    "base=\"xs:string\"><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"BYTE\"/>"
                    "<xs:attribute name=\"QUERY\" type=\"xs:string\"/>"
                    "<xs:attribute fixed=\"2\" name=\"LENGTH\" type=\"xs:string\"/>"
                    "</xs:extension></xs:simpleContent></xs:complexType></xs:element></xs:sequence>");
    struct Case {
        const char* what;
        std::string schema;
        std::string user;
        ZELKOR_STATUS status;
        std::string printed;
        std::string content; // checked when the status is 0
    };
    const std::string invalid = "\nERROR : Invalid content for element \"w\" in page \"p\".\n\nERROR : Invalid XML file.\n";
    const Case cases[] = {
        {"FORMAT=Dec converted and carried", regionSchema("<xs:element name=\"p\" type=\"decType\"/>", ROOT_ATTRIBUTES, decimal),
         userDocument("<p><w FORMAT=\"Dec\">255</w></p>"), 0, "",
         "<PAGE NAME=\"p\" ID=\"0001\"><WORD NAME=\"w\" FORMAT=\"Dec\" LENGTH=\"1\">ff</WORD></PAGE>"},
        {"FORMAT=Dec not a number", regionSchema("<xs:element name=\"p\" type=\"decType\"/>", ROOT_ATTRIBUTES, decimal),
         userDocument("<p><w FORMAT=\"Dec\">25x</w></p>"), 40, invalid, ""},
        {"every alternative of a choice of groups, the one the user chose with the user's value",
         regionSchema("<xs:element name=\"p\" type=\"grpType\"/>", ROOT_ATTRIBUTES, groups),
         userDocument("<p><cg_b><y>07</y></cg_b></p>"), 0, "",
         "<PAGE NAME=\"p\" ID=\"0001\"><CONFIGSET NAME=\"cg_a\"><BYTE NAME=\"x\" LENGTH=\"1\">01</BYTE></CONFIGSET>"
         "<CONFIGSET NAME=\"cg_b\"><BYTE NAME=\"y\" LENGTH=\"1\">07</BYTE></CONFIGSET></PAGE>"},
        {"the choice once with every alternative, then once per further group in the user's order",
         regionSchema("<xs:element name=\"p\" type=\"grpType\"/>", ROOT_ATTRIBUTES, groups),
         userDocument("<p><cg_b><y>07</y></cg_b><cg_a/><cg_b/></p>"), 0, "",
         "<PAGE NAME=\"p\" ID=\"0001\"><CONFIGSET NAME=\"cg_a\"><BYTE NAME=\"x\" LENGTH=\"1\">01</BYTE></CONFIGSET>"
         "<CONFIGSET NAME=\"cg_b\"><BYTE NAME=\"y\" LENGTH=\"1\">07</BYTE></CONFIGSET>"
         "<CONFIGSET NAME=\"cg_a\"><BYTE NAME=\"x\" LENGTH=\"1\">01</BYTE></CONFIGSET>"
         "<CONFIGSET NAME=\"cg_b\"><BYTE NAME=\"y\" LENGTH=\"1\">02</BYTE></CONFIGSET></PAGE>"},
        {"a type containing itself", regionSchema("<xs:element name=\"p\" type=\"loopType\"/>", ROOT_ATTRIBUTES, loop),
         userDocument("<p/>"), 40, "\nERROR : Type of element \"again\" contains itself.\n", ""},
        {"maxOccurs is not read: one element per declaration",
         regionSchema("<xs:element name=\"p\" type=\"repType\"/>", ROOT_ATTRIBUTES,
                      pageType("repType", "<xs:sequence><xs:element name=\"w\" default=\"00\" maxOccurs=\"70000\">"
                                          "<xs:complexType><xs:simpleContent><xs:extension base=\"xs:string\">"
                                          "<xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"BYTE\"/>"
                                          "</xs:extension></xs:simpleContent></xs:complexType></xs:element>"
                                          "</xs:sequence>")),
         userDocument("<p/>"), 0, "", "<PAGE NAME=\"p\" ID=\"0001\"><BYTE NAME=\"w\">00</BYTE></PAGE>"},
        {"a field of a container is not taken for the page's field of that name",
         regionSchema("<xs:element name=\"p\" type=\"nestType\"/>", ROOT_ATTRIBUTES, nested),
         userDocument("<p><c><y>05</y></c></p>"), 0, "",
         "<PAGE NAME=\"p\" ID=\"0001\"><CONFIGSET NAME=\"c\"><BYTE NAME=\"y\" LENGTH=\"1\">05</BYTE></CONFIGSET>"
         "<BYTE NAME=\"y\" LENGTH=\"1\">0F</BYTE></PAGE>"},
        {"two group declarations take their groups in turn",
         regionSchema("<xs:element name=\"p\" type=\"twoType\"/>", ROOT_ATTRIBUTES, twoGroups),
         userDocument("<p><cg_a><x>05</x></cg_a><cg_b><y>06</y></cg_b></p>"), 0, "",
         "<PAGE NAME=\"p\" ID=\"0001\"><CONFIGSET NAME=\"cg_a\"><BYTE NAME=\"x\" LENGTH=\"1\">05</BYTE></CONFIGSET>"
         "<CONFIGSET NAME=\"cg_b\"><BYTE NAME=\"y\" LENGTH=\"1\">06</BYTE></CONFIGSET></PAGE>"},
        {"groups in another order than the page declares them are refused",
         regionSchema("<xs:element name=\"p\" type=\"twoType\"/>", ROOT_ATTRIBUTES, twoGroups),
         userDocument("<p><cg_b><y>06</y></cg_b><cg_a><x>05</x></cg_a></p>"), 40,
         "\nERROR : More \"cg_a\" elements than page \"p\" declares.\n", ""},
        {"a field given twice in a container with one place for it",
         regionSchema("<xs:element name=\"p\" type=\"nestType\"/>", ROOT_ATTRIBUTES, nested),
         userDocument("<p><c><y>05</y><y>06</y></c></p>"), 40, "\nERROR : More \"y\" elements than page \"p\" declares.\n",
         ""},
        {"a page declared in a choice of pages",
         regionSchema("<xs:choice maxOccurs=\"unbounded\"><xs:element name=\"p\" type=\"decType\"/>"
                      "<xs:element name=\"q\" type=\"decType\"/></xs:choice>",
                      ROOT_ATTRIBUTES, decimal),
         userDocument("<q><w>1</w></q>"), 0, "", "<PAGE NAME=\"q\" ID=\"0001\"><WORD NAME=\"w\" LENGTH=\"1\">1</WORD></PAGE>"},
        {"a name and a value pair up within one attribute declaration",
         regionSchema("<xs:element name=\"p\" type=\"pairType\"/>", ROOT_ATTRIBUTES, pairing),
         userDocument("<p><f>0102</f></p>"), 0, "", "<PAGE NAME=\"p\" ID=\"0001\"><BYTE NAME=\"f\" LENGTH=\"2\">0102</BYTE></PAGE>"},
        {"PAGE with a CONFIGSET", regionSchema("<xs:element name=\"p\" type=\"decType\"/>", ROOT_ATTRIBUTES, decimal),
         userDocument("<PAGE NAME=\"x\" ID=\"1\"><CONFIGSET><DWORD NAME=\"d\">1</DWORD></CONFIGSET></PAGE>"), 1,
         "\nCONFIGSET type (Or cg_ element and configGroup) is not supported with dynamic pages\n", ""},
        {"PAGE copied unchanged", regionSchema("<xs:element name=\"p\" type=\"decType\"/>", ROOT_ATTRIBUTES, decimal),
         userDocument("<PAGE NAME=\"x\" ID=\"1\"><DWORD NAME=\"d\" LENGTH=\"1\">A&amp;B</DWORD></PAGE><unknown/>"), 0, "",
         "<PAGE NAME=\"x\" ID=\"1\"><DWORD NAME=\"d\" LENGTH=\"1\">A&amp;B</DWORD></PAGE>"},
        {"a TYPE that is no XML name",
         regionSchema("<xs:element name=\"p\" type=\"oddType\"/>", ROOT_ATTRIBUTES,
                      pageType("oddType", "<xs:sequence>" + leaf("w", "4294967296", "1") + "</xs:sequence>")),
         userDocument("<p><w>1</w></p>"), 40, "\nERROR : Invalid TYPE \"4294967296\" for element \"w\".\n", ""},
        {"a TYPE longer than a reader takes as a name",
         regionSchema("<xs:element name=\"p\" type=\"longType\"/>", ROOT_ATTRIBUTES,
                      pageType("longType", "<xs:sequence>" + leaf("w", std::string(60000, 'A'), "1") + "</xs:sequence>")),
         userDocument("<p><w>1</w></p>"), 40,
         "\nERROR : Invalid TYPE \"" + std::string(511, 'A') + "\" for element \"w\".\n", ""},
        {"no MANUFACTURING in the user document", regionSchema("<xs:element name=\"p\" type=\"decType\"/>", ROOT_ATTRIBUTES, decimal),
         "<OTHER/>", 1, "", ""},
        {"no MANUFACTURING in the schema",
         "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element name=\"OTHER\"/></xs:schema>",
         userDocument("<p/>"), 36, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(buildStatic(c.schema, c.user), c.status) << c.what;
        EXPECT_EQ(printed, c.printed) << c.what;
        if (c.status == 0) {
            EXPECT_EQ(content(), c.content) << c.what;
            EXPECT_TRUE(xmllintAccepts(output, fixture("peppered.xsd"))) << c.what << readText(output);
        }
    }
}

// The user's UNIT="TRUE" stays over the schema's default, and the user's page ID goes to the page even
// when a field, emitted before the page's own attributes, declares an ID of its own.
TEST_F(BuilderTest, PageCarryOversStayOnThePage) {
    const std::string types = "<xs:complexType name=\"uType\"><xs:sequence>" +
                              leaf("f", "BYTE", "1", "<xs:attribute name=\"ID\" type=\"xs:string\" default=\"77\"/>") +
                              "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"PAGE\"/>"
                              "<xs:attribute name=\"ID\" type=\"xs:string\" default=\"0001\"/>"
                              "<xs:attribute name=\"UNIT\" type=\"xs:string\" default=\"FALSE\"/></xs:complexType>";
    const std::string xsd = regionSchema("<xs:element name=\"p\" type=\"uType\" minOccurs=\"0\"/>"
                                         "<xs:element name=\"q\" type=\"uType\" minOccurs=\"0\"/>",
                                         ROOT_ATTRIBUTES, types);
    ASSERT_EQ(buildStatic(xsd, userDocument("<p ID=\"0F10\" UNIT=\"TRUE\"><f>01</f></p><q><f>02</f></q>")), 0u);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(content(), "<PAGE NAME=\"p\" UNIT=\"TRUE\" ID=\"0F10\"><BYTE NAME=\"f\" LENGTH=\"1\" ID=\"77\">01</BYTE></PAGE>"
                         "<PAGE NAME=\"q\" ID=\"0001\" UNIT=\"FALSE\"><BYTE NAME=\"f\" LENGTH=\"1\" ID=\"77\">02</BYTE></PAGE>");
}

TEST_F(BuilderTest, RecordedPagesInOrderAndFreshOnEachBuild) {
    std::string xsd = regionSchema("<xs:element name=\"cfg\" type=\"cfgType\" minOccurs=\"0\"/>", ROOT_ATTRIBUTES, TWO_DWORDS);
    std::string user = userDocument("<cfg/><second/><third/>");
    ASSERT_EQ(buildStatic(xsd, user, 1), 0u);
    std::string first = readText(output);
    ASSERT_EQ(buildStatic(xsd, user, 1), 0u);
    EXPECT_EQ(readText(output), first) << "a second build equals the first";
    const auto& pages = pageengine::conversionCarry().gStaticPageList;
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].name, "cfg");
    EXPECT_EQ(pages[1].name, "second");
    EXPECT_EQ(pages[2].name, "third");
}

// Each builder names the output it cannot create.
TEST_F(BuilderTest, OutputThatCannotBeCreated) {
    std::string xsd = regionSchema("<xs:element name=\"cfg\" type=\"cfgType\" minOccurs=\"0\"/>", ROOT_ATTRIBUTES, TWO_DWORDS);
    writeText(schema, xsd);
    writeText(userPath, userDocument("<cfg><first>1</first></cfg>"));
    std::string defaults = dir.file("default.xml");
    ASSERT_EQ(pageengine::xsdCreateDefaultXml(schema.c_str(), defaults.c_str(), nullptr), 0u);
    pageengine::XmlDocPtr user = parseFile(userPath);
    const std::string unwritable = dir.file("missing/out.xml");
    struct Case {
        const char* what;
        std::function<ZELKOR_STATUS()> build;
    };
    const Case cases[] = {
        {"static peppered", [&] { return pageengine::createPepperedXml(schema.c_str(), user.get(), unwritable.c_str(), 0); }},
        {"complete", [&] { return pageengine::comCreateCompleteXml(defaults.c_str(), user.get(), unwritable.c_str(), nullptr); }},
        {"dynamic peppered", [&] { return pageengine::defCreatePepperedXml(schema.c_str(), defaults.c_str(), unwritable.c_str(), 0); }},
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(c.build(), 1u) << c.what;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unable to open file :" + unwritable + "\n") << c.what;
    }
}

// The complete document: user values over the defaults, repeated fields by INDEX, user errors.
class CompleteTest : public BuilderTest {
  protected:
    ZELKOR_STATUS complete(const std::string& schemaText, const std::string& user) {
        writeText(schema, schemaText);
        writeText(userPath, user);
        std::string defaults = dir.file("default.xml");
        EXPECT_EQ(pageengine::xsdCreateDefaultXml(schema.c_str(), defaults.c_str(), nullptr), 0u);
        pageengine::XmlDocPtr document = parseFile(userPath);
        ::testing::internal::CaptureStdout();
        ZELKOR_STATUS status = pageengine::comCreateCompleteXml(defaults.c_str(), document.get(), output.c_str(), nullptr);
        printed = ::testing::internal::GetCapturedStdout();
        return status;
    }
};

const std::string FIVE_FIELDS =
    pageType("fiveType", "<xs:sequence>" + leaf("a", "BYTE", "1", "", "0A") + leaf("b", "BYTE", "1", "", "0B") +
                             leaf("c", "BYTE", "1", "", "0C") + leaf("d", "BYTE", "1", "", "0D") +
                             "<xs:element name=\"e\" default=\"0E\" maxOccurs=\"3\"><xs:complexType><xs:simpleContent>"
                             "<xs:extension base=\"xs:string\"><xs:attribute name=\"INDEX\" type=\"xs:string\"/>"
                             "</xs:extension></xs:simpleContent></xs:complexType></xs:element></xs:sequence>",
             "");
const std::string FIVE_XSD = regionSchema("<xs:element name=\"five\" type=\"fiveType\" minOccurs=\"0\"/>"
                                          "<xs:element name=\"nounit\" minOccurs=\"0\"><xs:complexType><xs:sequence>" +
                                              leaf("z", "BYTE", "1") + "</xs:sequence></xs:complexType></xs:element>",
                                          ROOT_ATTRIBUTES, FIVE_FIELDS);

TEST_F(CompleteTest, UserValuesOverDefaults) {
    struct Case {
        const char* what;
        std::string user;
        std::string content;
    };
    const Case cases[] = {
        {"two of five fields", userDocument("<five ID=\"0F\"><d>44</d><b>22</b></five>"),
         "<five ID=\"0F\"><a>0A</a><b>22</b><c>0C</c><d>44</d><e INDEX=\"0\">0E</e><e INDEX=\"1\">0E</e>"
         "<e INDEX=\"2\">0E</e></five>"},
        {"an empty user field takes the default", userDocument("<five><a/></five>"),
         "<five><a>0A</a><b>0B</b><c>0C</c><d>0D</d><e INDEX=\"0\">0E</e><e INDEX=\"1\">0E</e><e INDEX=\"2\">0E</e></five>"},
        {"only INDEX 1: INDEX 0 keeps its default, INDEX 2 is left out", userDocument("<five><e INDEX=\"1\">11</e></five>"),
         "<five><a>0A</a><b>0B</b><c>0C</c><d>0D</d><e INDEX=\"0\">0E</e><e INDEX=\"1\">11</e></five>"},
        {"UNIT True over FALSE", userDocument("<five UNIT=\"True\"/>"),
         "<five UNIT=\"TRUE\"><a>0A</a><b>0B</b><c>0C</c><d>0D</d><e INDEX=\"0\">0E</e><e INDEX=\"1\">0E</e>"
         "<e INDEX=\"2\">0E</e></five>"},
        {"PAGE carried over after the user pages",
         userDocument("<PAGE NAME=\"x\" ID=\"1\"><BYTE NAME=\"q\">1</BYTE></PAGE><nounit><z>5</z></nounit>"),
         "<nounit><z>5</z></nounit><PAGE NAME=\"x\" ID=\"1\"><BYTE NAME=\"q\">1</BYTE></PAGE>"},
    };
    // The page type declares UNIT with a default, so that the default page carries one.
    std::string xsd = FIVE_XSD;
    xsd.replace(xsd.find("<xs:attribute name=\"UNIT\" type=\"xs:string\"/>"),
                std::string("<xs:attribute name=\"UNIT\" type=\"xs:string\"/>").size(),
                "<xs:attribute name=\"UNIT\" type=\"xs:string\" default=\"FALSE\"/>");
    for (const Case& c : cases) {
        EXPECT_EQ(complete(xsd, c.user), 0u) << c.what;
        std::string expected = c.content;
        EXPECT_EQ(content(), expected) << c.what;
        // A PAGE element in the engine's form is outside the user schema.
        if (c.content.find("<PAGE") == std::string::npos) {
            EXPECT_TRUE(xmllintAccepts(output, schema)) << c.what << readText(output);
        }
    }
    EXPECT_NE(body(output).find("xsi:noNamespaceSchemaLocation=\"" + schema + "\" Product=\"Ostrel\" SchemaVersion=\"03\""),
              std::string::npos)
        << body(output);
}

// Entries of a repeated field inside a container keep their defaults wherever the user left them out.
TEST_F(CompleteTest, RepeatedFieldInsideAContainer) {
    const std::string xsd = regionSchema(
        "<xs:element name=\"nest\" minOccurs=\"0\"><xs:complexType><xs:sequence><xs:element name=\"grp\">"
        "<xs:complexType><xs:sequence><xs:element name=\"v\" default=\"0V\" maxOccurs=\"3\"><xs:complexType>"
        "<xs:simpleContent><xs:extension base=\"xs:string\"><xs:attribute name=\"INDEX\" type=\"xs:string\"/>"
        "</xs:extension></xs:simpleContent></xs:complexType></xs:element><xs:element name=\"w\" default=\"0W\"/>"
        "</xs:sequence></xs:complexType></xs:element></xs:sequence></xs:complexType></xs:element>",
        ROOT_ATTRIBUTES);
    struct Case {
        const char* what;
        std::string user;
        std::string content;
    };
    const Case cases[] = {
        {"only INDEX 1", userDocument("<nest><grp><v INDEX=\"1\">11</v></grp></nest>"),
         "<nest><grp><v INDEX=\"0\">0V</v><v INDEX=\"1\">11</v><v INDEX=\"2\">0V</v><w>0W</w></grp></nest>"},
        {"only INDEX 0 and the other field", userDocument("<nest><grp><v INDEX=\"0\">10</v><w>1W</w></grp></nest>"),
         "<nest><grp><v INDEX=\"0\">10</v><v INDEX=\"1\">0V</v><v INDEX=\"2\">0V</v><w>1W</w></grp></nest>"},
        {"an empty entry takes its default", userDocument("<nest><grp><v INDEX=\"2\"/></grp></nest>"),
         "<nest><grp><v INDEX=\"0\">0V</v><v INDEX=\"1\">0V</v><v INDEX=\"2\">0V</v><w>0W</w></grp></nest>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(complete(xsd, c.user), 0u) << c.what;
        EXPECT_EQ(content(), c.content) << c.what;
        EXPECT_TRUE(xmllintAccepts(output, schema)) << c.what << readText(output);
    }
}

// The two user errors print and fail; in a child, so that ending the process would show as a wrong exit.
TEST_F(CompleteTest, UndeclaredPageAndUndeclaredUnitFailWithoutEndingTheProcess) {
    struct Case {
        const char* what;
        std::string user;
        std::string printed;
    };
    const Case cases[] = {
        {"a page the schema lacks", userDocument("<extra/>"), "Invalid Xml File.\nPage extra not found in XSD file.\n"},
        {"a UNIT the schema lacks", userDocument("<nounit UNIT=\"TRUE\"/>"),
         "Invalid Xml File.\nUnit flag present in xml but not in xsd for page nounit.\n"},
    };
    for (const Case& c : cases) {
        std::string log = dir.file("child.txt");
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ZELKOR_STATUS status = complete(FIVE_XSD, c.user);
            writeText(log, printed);
            _exit(status == 40 ? 40 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << c.what;
        EXPECT_EQ(WEXITSTATUS(status), 40) << c.what;
        EXPECT_EQ(readText(log), c.printed) << c.what;
    }
}

} // namespace

namespace {

using namespace configtest;

std::string based(const std::string& name, const std::string& base, const std::string& attributes = "") {
    return "<xs:element name=\"" + name + "\"><xs:complexType><xs:simpleContent><xs:extension base=\"" + base + "\">" +
           attributes +
           "<xs:attribute name=\"FORMAT\" type=\"xs:string\"/></xs:extension></xs:simpleContent></xs:complexType>"
           "</xs:element>";
}
std::string fixedAttribute(const std::string& name, const std::string& value) {
    return "<xs:attribute name=\"" + name + "\" type=\"xs:string\" fixed=\"" + value + "\"/>";
}

// Named types nested in each other: as deep as a reader takes the documents are built; deeper, the
// builders refuse before the expansion runs out of stack.
TEST_F(BuilderTest, TypeChainsDeeperThanAReaderTakesAreRefused) {
    auto chain = [](int depth) {
        std::string types;
        for (int i = 0; i < depth; ++i)
            types += "<xs:complexType name=\"T" + std::to_string(i) + "\"><xs:sequence><xs:element name=\"e" +
                     std::to_string(i) + "\" type=\"T" + std::to_string(i + 1) + "\" minOccurs=\"0\"/></xs:sequence>" +
                     fixedAttribute("TYPE", i == 0 ? "PAGE" : "DWORD") + "</xs:complexType>";
        types += "<xs:simpleType name=\"T" + std::to_string(depth) + "\"><xs:restriction base=\"xs:string\"/></xs:simpleType>";
        return regionSchema("<xs:element name=\"deep\" type=\"T0\" minOccurs=\"0\"/>", ROOT_ATTRIBUTES, types);
    };
    const std::string refused = "\nERROR : Elements nest deeper than 256 levels.\n";
    for (int depth : {200, 300, 20000}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        const ZELKOR_STATUS expected = depth <= 200 ? 0 : 40;
        std::remove(output.c_str());
        EXPECT_EQ(buildStatic(chain(depth), userDocument("<deep/>")), expected);
        EXPECT_EQ(printed, expected == 0 ? "" : refused);
        const std::string defaults = dir.file("deep_default.xml");
        std::remove(defaults.c_str());
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(pageengine::xsdCreateDefaultXml(schema.c_str(), defaults.c_str(), nullptr), expected);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected == 0 ? "" : refused);
        if (expected == 0) {
            EXPECT_TRUE(parseFile(defaults));
        }
    }
}

const std::string SIMPLE_TYPES = "<xs:simpleType name=\"DWORD\"><xs:restriction base=\"xs:string\"/></xs:simpleType>"
                                 "<xs:simpleType name=\"WORD\"><xs:restriction base=\"xs:string\"/></xs:simpleType>"
                                 "<xs:simpleType name=\"BYTE\"><xs:restriction base=\"xs:string\"/></xs:simpleType>"
                                 "<xs:simpleType name=\"BIT\"><xs:restriction base=\"xs:string\"/></xs:simpleType>"
                                 "<xs:simpleType name=\"IPAddress\"><xs:restriction base=\"xs:string\"/></xs:simpleType>";

const std::string DYNAMIC_XSD = regionSchema(
    "<xs:element name=\"dyn\" type=\"dynType\" minOccurs=\"0\"/><xs:element name=\"loop\" type=\"loopType\" "
    "minOccurs=\"0\"/><xs:element name=\"holder\" type=\"holderType\" minOccurs=\"0\"/>"
    "<xs:element name=\"untyped\" minOccurs=\"0\"/>",
    "", SIMPLE_TYPES +
            "<xs:complexType name=\"pairType\"><xs:sequence>" + based("p1", "BYTE") + based("p2", "BYTE") +
            "</xs:sequence></xs:complexType>"
            "<xs:complexType name=\"holderType\"><xs:sequence><xs:element name=\"pair\" type=\"pairType\"/>"
            "</xs:sequence><xs:attribute name=\"ID\" type=\"xs:string\" default=\"0002\"/>" +
            fixedAttribute("NOTE", "after the ID") + "</xs:complexType>" +
            "<xs:complexType name=\"loopType\"><xs:sequence><xs:element name=\"again\" type=\"loopType\" minOccurs=\"0\"/>"
            "</xs:sequence></xs:complexType>"
            "<xs:complexType name=\"dynType\"><xs:sequence>" +
            based("big", "DWORD", fixedAttribute("LENGTH", "10")) + "<xs:element name=\"plain\" type=\"DWORD\"/>" +
            based("ip", "IPAddress", fixedAttribute("LENGTH", "8")) +
            "<xs:element name=\"bits\"><xs:complexType><xs:sequence>" +
            based("b1", "BIT", fixedAttribute("OFFSET", "1F")) + "</xs:sequence>" + fixedAttribute("TYPE", "DWORD") +
            "</xs:complexType></xs:element>"
            "<xs:element name=\"group\"><xs:complexType><xs:sequence>" +
            based("x1", "BYTE") + based("x2", "BYTE") + based("x3", "DWORD", fixedAttribute("LENGTH", "4")) +
            "</xs:sequence></xs:complexType></xs:element>" + based("dec", "WORD") +
            based("typed", "xs:string", fixedAttribute("TYPE", "DWORD") + fixedAttribute("LENGTH", "2")) +
            based("odd", "xs:string", fixedAttribute("TYPE", "1 &lt;DWORD&gt;")) +
            "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"PAGE\"/>"
            "<xs:attribute name=\"ID\" type=\"xs:string\" default=\"0001\"/></xs:complexType>");

struct DynamicCase {
    const char* what;
    std::string complete;
    ZELKOR_STATUS status;
    std::string printed;
    std::string content;
};

// Each case runs in a child that has built no default document; the child leaves status, output and
// printed text in files.
TEST(DynamicPepperedTest, PagesAndFieldsFromTheSchema) {
    ScratchDir dir;
    std::string schema = dir.file("dynamic.xsd");
    writeText(schema, DYNAMIC_XSD);
    const std::string fields = "<big>1</big><plain>2</plain><ip>1.2.3.4</ip><bits><b1>1</b1></bits>"
                               "<group><x1>1</x1><x2>2</x2><x3>3</x3></group>";
    const std::string invalid = "\nERROR : Invalid content for element \"dec\" in page \"dyn\".\n\nERROR : Invalid XML file.\n";
    const DynamicCase cases[] = {
        {"every declaration form",
         userDocument("<dyn>" + fields + "<dec FORMAT=\"Dec\">255</dec><typed>5</typed></dyn><missing/>"), 0, "",
         "<PAGE NAME=\"dyn\" ID=\"0001\"><DWORD NAME=\"big\" LENGTH=\"16\">1</DWORD>"
         "<DWORD NAME=\"plain\" LENGTH=\"1\">2</DWORD><IPAddress NAME=\"ip\" LENGTH=\"4\">1.2.3.4</IPAddress>"
         "<DWORD NAME=\"bits\" LENGTH=\"1\"><BIT NAME=\"b1\" LENGTH=\"1\" OFFSET=\"31\">1</BIT></DWORD>"
         "<CONFIGSET NAME=\"group\" LENGTH=\"6\"><BYTE NAME=\"x1\" LENGTH=\"1\">1</BYTE><BYTE NAME=\"x2\" LENGTH=\"1\">2</BYTE>"
         "<DWORD NAME=\"x3\" LENGTH=\"4\">3</DWORD></CONFIGSET><WORD NAME=\"dec\" LENGTH=\"1\" FORMAT=\"Dec\">ff</WORD>"
         "<DWORD NAME=\"typed\" LENGTH=\"2\">5</DWORD></PAGE>"},
        {"decimal with a letter", userDocument("<dyn><dec FORMAT=\"dec\">25x</dec></dyn>"), 40, invalid, ""},
        {"decimal above 32 bits", userDocument("<dyn><dec FORMAT=\"DEC\">4294967296</dec></dyn>"), 40,
         "\nINFO  : Maximum value supported for Decimal format is 4294967295(i.e. 0XFFFFFFFF).\n" + invalid, ""},
        {"a TYPE that is no XML name", userDocument("<dyn><odd>1</odd></dyn>"), 40,
         "\nERROR : Invalid TYPE \"1 <DWORD>\" for element \"odd\".\n", ""},
        {"a type containing itself", userDocument("<loop><again><again><again/></again></again></loop>"), 40,
         "\nERROR : Type of element \"again\" contains itself.\n", ""},
        {"the page's own ID ends the schema's page attributes",
         userDocument("<holder ID=\"0003\"><pair><p1>1</p1><p2>2</p2></pair></holder>"), 0, "",
         "<PAGE NAME=\"holder\" ID=\"0003\"><CONFIGSET NAME=\"pair\" LENGTH=\"2\"><BYTE NAME=\"p1\" LENGTH=\"1\">1</BYTE>"
         "<BYTE NAME=\"p2\" LENGTH=\"1\">2</BYTE></CONFIGSET></PAGE>"},
        {"a container typed by a named type that declares no type", userDocument("<holder><pair><p1>1</p1><p2>2</p2></pair></holder>"),
         0, "",
         "<PAGE NAME=\"holder\" ID=\"0002\"><CONFIGSET NAME=\"pair\" LENGTH=\"2\"><BYTE NAME=\"p1\" LENGTH=\"1\">1</BYTE>"
         "<BYTE NAME=\"p2\" LENGTH=\"1\">2</BYTE></CONFIGSET></PAGE>"},
        {"a page declared without a type", userDocument("<untyped ID=\"0005\"><x>1</x></untyped>"
                                                          "<PAGE NAME=\"x\" ID=\"2\"><BYTE NAME=\"q\">1</BYTE></PAGE>"),
         0, "", "<PAGE NAME=\"x\" ID=\"2\"><BYTE NAME=\"q\">1</BYTE></PAGE>"},
        {"PAGE copied", userDocument("<PAGE NAME=\"x\" ID=\"2\"><BYTE NAME=\"q\">1</BYTE></PAGE>"), 0, "",
         "<PAGE NAME=\"x\" ID=\"2\"><BYTE NAME=\"q\">1</BYTE></PAGE>"},
    };
    for (const DynamicCase& c : cases) {
        std::string complete = dir.file("complete.xml"), output = dir.file("peppered.xml"),
                    printedPath = dir.file("printed.txt");
        writeText(complete, c.complete);
        std::remove(output.c_str());
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::testing::internal::CaptureStdout();
            ZELKOR_STATUS status = pageengine::defCreatePepperedXml(schema.c_str(), complete.c_str(), output.c_str(), 1);
            writeText(printedPath, ::testing::internal::GetCapturedStdout());
            _exit(static_cast<int>(status));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << c.what;
        EXPECT_EQ(static_cast<ZELKOR_STATUS>(WEXITSTATUS(status)), c.status) << c.what;
        EXPECT_EQ(readText(printedPath), c.printed) << c.what;
        if (c.status == 0) {
            std::string whole = body(output);
            std::size_t start = whole.find('>');
            EXPECT_EQ(whole.substr(start + 1, whole.rfind("</MANUFACTURING>") - start - 1), c.content) << c.what;
            EXPECT_TRUE(xmllintAccepts(output, fixture("peppered.xsd"))) << c.what << readText(output);
        }
    }
}

TEST(DynamicPepperedTest, LengthOfNamedTypes) {
    struct Case {
        const char* type;
        const char* length;
    };
    const Case cases[] = {{"U8", "1"},        {"DWORD", "1"},     {"IPAddress", "4"}, {"U64", "8"},
                          {"STRING_4", "4"},  {"STRING_256", "256"}, {"STRING_8", "0"}, {"dword", "0"}};
    for (const Case& c : cases)
        EXPECT_STREQ(pageengine::defGetLengthByType(c.type), c.length) << c.type;
}

} // namespace

namespace {

using namespace configtest;

TEST(CompleteDocumentHelpers, NodeSetsCountsAndTexts) {
    ScratchDir dir;
    std::string path = dir.file("doc.xml");
    writeText(path, "<r><a>x</a><!-- c --><b/>text<c><d/></c></r>");
    pageengine::XmlDocPtr document = parseFile(path);
    xmlNode* root = xmlDocGetRootElement(document.get());

    pageengine::XmlXPathObjectPtr found = pageengine::getnodeset(document.get(), "//b|//d");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->nodesetval->nodeNr, 2);
    EXPECT_FALSE(pageengine::getnodeset(document.get(), "//missing"));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(pageengine::getnodeset(document.get(), "//["));
    EXPECT_FALSE(pageengine::getnodeset(nullptr, "//a"));
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Error in xmlXPathEvalExpression\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Error in xmlXPathNewContext\n"), std::string::npos) << printed;

    EXPECT_EQ(pageengine::childElementCount(root), 3u);
    EXPECT_EQ(pageengine::childElementCount(reinterpret_cast<xmlNode*>(document.get())), 1u);
    EXPECT_EQ(pageengine::childElementCount(root->children->children), 0u) << "a text node";
    EXPECT_EQ(pageengine::comHasValidChildNodes(root), 1);
    EXPECT_EQ(pageengine::comHasValidChildNodes(root->children), 0);

    xmlNode* a = pageengine::findXmlNode(document.get(), "//a");
    xmlNode* b = pageengine::findXmlNode(document.get(), "//b");
    xmlNodeSetContent(a, reinterpret_cast<const xmlChar*>("A&amp;B"));
    pageengine::comCompareAndSetContent(a, b);
    EXPECT_EQ(pageengine::xmlText(b), "A&B");
    xmlNodeSetContent(a, reinterpret_cast<const xmlChar*>("other"));
    pageengine::comCompareAndSetContent(a, b);
    EXPECT_EQ(pageengine::xmlText(b), "A&B") << "a text of its own stays";

    EXPECT_EQ(pageengine::convertDecimalToString(42), "42");
    EXPECT_EQ(pageengine::convertDecimalToString(0), "0");
    EXPECT_EQ(pageengine::convertDecimalToString(-5), "0");
}

} // namespace
