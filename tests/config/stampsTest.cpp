// USE, FORMAT and QUERY resolved in a document, in the peppered form and in the user form (types from
// the test family's schema).
#include "chainSupport.h"
#include "config/stamps.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

using namespace configtest;

const std::string XSD = fixture("chain/region.xsd");

std::string peppered(const std::string& fields, const std::string& pageName = "p") {
    return userDocument("<PAGE NAME=\"" + pageName + "\" ID=\"FF10\">" + fields + "</PAGE>", "peppered.xsd");
}

enum class Resolution { Use, Format, Query };

struct Outcome {
    ZELKOR_STATUS status;
    std::string printed;
    std::string document;
};

class StampsTest : public EngineTest {
  public:
    Outcome resolve(Resolution which, const std::string& text, pageengine::QUERY_VALUE_CALLBACK callback = nullptr,
                    void* context = nullptr) {
        std::string path = dir.file("stamped.xml");
        writeText(path, text);
        pageengine::XmlDocPtr document = parseFile(path);
        EXPECT_TRUE(document);
        xmlNode* root = xmlDocGetRootElement(document.get());
        ::testing::internal::CaptureStdout();
        Outcome outcome{};
        switch (which) {
        case Resolution::Use:
            outcome.status = pageengine::processUseAttrib(root, document.get(), nullptr, XSD.c_str());
            break;
        case Resolution::Format:
            outcome.status = pageengine::processFormatDecAttrib(root, document.get(), nullptr, XSD.c_str());
            break;
        case Resolution::Query:
            outcome.status = pageengine::searchQueryAttrib(root, document.get(), callback, context, XSD.c_str());
            break;
        }
        outcome.printed = ::testing::internal::GetCapturedStdout();
        xmlSaveFormatFile(path.c_str(), document.get(), 0);
        std::string whole = body(path);
        std::size_t start = whole.find('>');
        outcome.document = whole.substr(start + 1, whole.rfind("</MANUFACTURING>") - start - 1);
        return outcome;
    }
    ScratchDir dir;
};

struct Case {
    const char* what;
    std::string document;
    ZELKOR_STATUS status;
    std::string printed;
    std::string result; // the root's content afterwards, checked when the status is 0
};

void runTable(StampsTest& test, Resolution which, const std::vector<Case>& cases,
              pageengine::QUERY_VALUE_CALLBACK callback = nullptr) {
    for (const Case& c : cases) {
        Outcome outcome = test.resolve(which, c.document, callback);
        EXPECT_EQ(outcome.status, c.status) << c.what;
        EXPECT_EQ(outcome.printed, c.printed) << c.what;
        if (c.status == 0) {
            EXPECT_EQ(outcome.document, c.result) << c.what;
        }
    }
}

const std::string MISUSE_USE_X = "\nERROR: Invalid utilization of \"USE\" attribute for element \"x\" in page \"p\".\n";

TEST_F(StampsTest, UseTakesTheDefinedValue) {
    runTable(*this, Resolution::Use,
             {
                 {"defined once, used once", peppered("<DWORD NAME=\"a\" DEFINE=\"s\">1234</DWORD><DWORD NAME=\"x\" USE=\"s\"/>"),
                  0, "", "<PAGE NAME=\"p\" ID=\"FF10\"><DWORD NAME=\"a\" DEFINE=\"s\">1234</DWORD><DWORD NAME=\"x\">1234</DWORD></PAGE>"},
                 {"a 0x value is stored without its prefix",
                  peppered("<DWORD NAME=\"a\" DEFINE=\"s\">0x1234</DWORD><DWORD NAME=\"x\" USE=\"s\"/>"), 0, "",
                  "<PAGE NAME=\"p\" ID=\"FF10\"><DWORD NAME=\"a\" DEFINE=\"s\">0x1234</DWORD><DWORD NAME=\"x\">1234</DWORD></PAGE>"},
                 {"text is taken as text", peppered("<CHAR NAME=\"a\" DEFINE=\"s\" LENGTH=\"4\">A&amp;B</CHAR><CHAR NAME=\"x\" LENGTH=\"4\" USE=\"s\"/>"),
                  0, "", "<PAGE NAME=\"p\" ID=\"FF10\"><CHAR NAME=\"a\" DEFINE=\"s\" LENGTH=\"4\">A&amp;B</CHAR><CHAR NAME=\"x\" LENGTH=\"4\">A&amp;B</CHAR></PAGE>"},
                 {"user form, type from the schema", userDocument("<page1><count DEFINE=\"s\">00000010</count><small USE=\"s\"/></page1>"),
                  40, "\nERROR: Invalid utilization of \"USE\" attribute for element \"small\" in page \"page1\".\n", ""},
                 {"user form, fitting value", userDocument("<page1><small DEFINE=\"s\">7F</small><count USE=\"s\"/></page1>"),
                  0, "", "<page1><small DEFINE=\"s\">7F</small><count>7F</count></page1>"},
                 {"a field left to QUERY", peppered("<DWORD NAME=\"x\" USE=\"s\" QUERY=\"true\"/>"), 0, "",
                  "<PAGE NAME=\"p\" ID=\"FF10\"><DWORD NAME=\"x\" USE=\"s\" QUERY=\"true\"/></PAGE>"},
             });
}

TEST_F(StampsTest, UseMisuses) {
    runTable(*this, Resolution::Use,
             {
                 {"defined twice", peppered("<DWORD NAME=\"a\" DEFINE=\"s\">1</DWORD><DWORD NAME=\"b\" DEFINE=\"s\">2</DWORD><DWORD NAME=\"x\" USE=\"s\"/>"),
                  40, "\nERROR: Stamp \"s\" is defined more than once in XML.\n" + MISUSE_USE_X, ""},
                 {"not defined", peppered("<DWORD NAME=\"x\" USE=\"s\"/>"), 40,
                  "\nERROR: Stamp \"s\" is not defined in XML.\n" + MISUSE_USE_X, ""},
                 {"empty stamp", peppered("<DWORD NAME=\"x\" USE=\"\"/>"), 40, MISUSE_USE_X, ""},
                 {"stamp starting with a blank", peppered("<DWORD NAME=\"a\" DEFINE=\" s\">1</DWORD><DWORD NAME=\"x\" USE=\" s\"/>"), 40, MISUSE_USE_X, ""},
                 {"field with text", peppered("<DWORD NAME=\"a\" DEFINE=\"s\">1</DWORD><DWORD NAME=\"x\" USE=\"s\">2</DWORD>"), 40, MISUSE_USE_X, ""},
                 {"container", peppered("<DWORD NAME=\"x\" USE=\"s\"><BIT NAME=\"b\">1</BIT></DWORD>"), 40, MISUSE_USE_X, ""},
                 {"value too long", peppered("<DWORD NAME=\"a\" DEFINE=\"s\">123456789</DWORD><DWORD NAME=\"x\" USE=\"s\"/>"), 40, MISUSE_USE_X, ""},
                 {"value not hexadecimal", peppered("<CHAR NAME=\"a\" DEFINE=\"s\" LENGTH=\"4\">zz</CHAR><DWORD NAME=\"x\" USE=\"s\"/>"), 40, MISUSE_USE_X, ""},
                 {"no page known", userDocument("<DWORD USE=\"s\"/>"), 40,
                  "\nERROR: Stamp \"s\" is not defined in XML.\n\nERROR: Invalid utilization of \"USE\" attribute.\n", ""},
                 {"a field without NAME", peppered("<DWORD USE=\"\"/>"), 40,
                  "\nERROR: Invalid utilization of \"USE\" attribute in page \"p\".\n", ""},
                 {"a PAGE without NAME", userDocument("<PAGE ID=\"FF10\"><DWORD NAME=\"x\" USE=\"\"/></PAGE>"), 40,
                  "\nERROR: Invalid utilization of \"USE\" attribute for element \"x\".\n", ""},
             });
}

const std::string INVALID_IN_P = "\nERROR : Invalid content for element \"x\" in page \"p\".\n\n";

TEST_F(StampsTest, FormatDec) {
    runTable(*this, Resolution::Format,
             {
                 {"peppered WORD 65535", peppered("<WORD NAME=\"x\" FORMAT=\"Dec\">65535</WORD>"), 0, "",
                  "<PAGE NAME=\"p\" ID=\"FF10\"><WORD NAME=\"x\" FORMAT=\"Dec\">ffff</WORD></PAGE>"},
                 {"peppered page named page1 is still peppered", peppered("<BYTE NAME=\"x\" FORMAT=\"dec\">255</BYTE>", "page1"), 0, "",
                  "<PAGE NAME=\"page1\" ID=\"FF10\"><BYTE NAME=\"x\" FORMAT=\"dec\">ff</BYTE></PAGE>"},
                 {"peppered WORD 65536", peppered("<WORD NAME=\"x\" FORMAT=\"Dec\">65536</WORD>"), 40, INVALID_IN_P, ""},
                 {"letters", peppered("<DWORD NAME=\"x\" FORMAT=\"DEC\">12a</DWORD>"), 40, INVALID_IN_P, ""},
                 {"above 32 bits", peppered("<DWORD NAME=\"x\" FORMAT=\"Dec\">4294967296</DWORD>"), 40,
                  "\nINFO  : Maximum value supported for Decimal format is 4294967295(i.e. 0XFFFFFFFF).\n" + INVALID_IN_P, ""},
                 {"another FORMAT value is ignored", peppered("<DWORD NAME=\"x\" FORMAT=\"Hex\">12a</DWORD>"), 0, "",
                  "<PAGE NAME=\"p\" ID=\"FF10\"><DWORD NAME=\"x\" FORMAT=\"Hex\">12a</DWORD></PAGE>"},
                 {"CHAR is not converted", peppered("<CHAR NAME=\"x\" FORMAT=\"Dec\" LENGTH=\"3\">abc</CHAR>"), 0, "",
                  "<PAGE NAME=\"p\" ID=\"FF10\"><CHAR NAME=\"x\" FORMAT=\"Dec\" LENGTH=\"3\">abc</CHAR></PAGE>"},
                 {"user form stays decimal", userDocument("<page1><word FORMAT=\"Dec\">65535</word></page1>"), 0, "",
                  "<page1><word FORMAT=\"Dec\">65535</word></page1>"},
                 {"user form range from the schema", userDocument("<page1><word FORMAT=\"Dec\">65536</word></page1>"), 40,
                  "\nERROR : Invalid content for element \"word\" in page \"page1\".\n\n", ""},
                 {"container", peppered("<DWORD NAME=\"x\" FORMAT=\"Dec\"><BIT NAME=\"b\">1</BIT></DWORD>"), 40,
                  "\nERROR: Invalid utilization of \"FORMAT\" attribute for element \"x\" in page \"p\".\n", ""},
                 {"letters outside a page", userDocument("<DWORD FORMAT=\"Dec\">12a</DWORD>"), 40,
                  "\nERROR : Invalid content for element \"DWORD\".\n\n", ""},
                 {"container without NAME", peppered("<DWORD FORMAT=\"Dec\"><BIT NAME=\"b\">1</BIT></DWORD>"), 40,
                  "\nERROR: Invalid utilization of \"FORMAT\" attribute in page \"p\".\n", ""},
                 {"container in a PAGE without NAME",
                  userDocument("<PAGE ID=\"FF10\"><DWORD NAME=\"x\" FORMAT=\"Dec\"><BIT NAME=\"b\">1</BIT></DWORD></PAGE>"), 40,
                  "\nERROR: Invalid utilization of \"FORMAT\" attribute for element \"x\".\n", ""},
                 {"container outside a page", userDocument("<DWORD FORMAT=\"Dec\"><BIT>1</BIT></DWORD>"), 40,
                  "\nERROR: Invalid utilization of \"FORMAT\" attribute.\n", ""},
             });
}

// Answers the longest valid value for the field, or replaces the buffer by a longer malloc'd one.
ZELKOR_STATUS longestAnswer(void*, char** value, const char* type, uint32_t length) {
    std::string answer;
    if (std::strcmp(type, "IPAddress") == 0)
        answer = "255.255.255.255";
    else if (std::strcmp(type, "CHAR") == 0)
        answer = std::string(length, 'c');
    else
        answer = "0x" + std::string(std::size_t{2} * (std::strcmp(type, "DWORD") == 0 ? 4 : 1) * length, 'F');
    if (answer.size() + 1 <= pageengine::queryValueBufferSize(length)) {
        std::memcpy(*value, answer.c_str(), answer.size() + 1);
        return 0;
    }
    std::free(*value);
    *value = static_cast<char*>(std::malloc(answer.size() + 1));
    std::memcpy(*value, answer.c_str(), answer.size() + 1);
    return 0;
}

// Always hands back a buffer of its own, freeing the one it was given.
ZELKOR_STATUS replacingAnswer(void*, char** value, const char*, uint32_t length) {
    std::string answer(length, 'r');
    std::free(*value);
    *value = static_cast<char*>(std::malloc(answer.size() + 1));
    std::memcpy(*value, answer.c_str(), answer.size() + 1);
    return 0;
}

struct Seen {
    std::string type;
    uint32_t length;
    std::string given;
};
Seen gSeen;
ZELKOR_STATUS recordingAnswer(void*, char** value, const char* type, uint32_t length) {
    gSeen = {type, length, *value};
    std::strcpy(*value, "0x1234");
    return 0;
}
ZELKOR_STATUS refusingAnswer(void*, char**, const char*, uint32_t) {
    return 77;
}
ZELKOR_STATUS invalidAnswer(void*, char** value, const char*, uint32_t) {
    std::strcpy(*value, "xyz");
    return 0;
}
// Answers a text in a form no document can carry: an encoded surrogate, then a control character.
int gUncarriable = 0;
ZELKOR_STATUS uncarriableAnswer(void*, char** value, const char*, uint32_t) {
    std::strcpy(*value, gUncarriable++ % 2 == 0 ? "a\xED\xA0\x80" : "a\x01");
    return 0;
}

TEST_F(StampsTest, QueryAsksTheCaller) {
    runTable(*this, Resolution::Query,
             {
                 {"DWORD", peppered("<DWORD NAME=\"x\" QUERY=\"True\" USE=\"s\"/>"), 0, "",
                  "<PAGE NAME=\"p\" ID=\"FF10\"><DWORD NAME=\"x\" QUERY=\"FALSE\">1234</DWORD></PAGE>"},
             },
             recordingAnswer);
    EXPECT_EQ(gSeen.type, "DWORD");
    EXPECT_EQ(gSeen.length, 1u);
    Outcome user = resolve(Resolution::Query, userDocument("<page1><count QUERY=\"TRUE\">5</count></page1>"), recordingAnswer);
    EXPECT_EQ(user.status, 0u);
    EXPECT_EQ(user.document, "<page1><count QUERY=\"FALSE\">1234</count></page1>");
    EXPECT_EQ(gSeen.type, "DWORD");
    EXPECT_EQ(gSeen.length, 0u) << "a type from the schema comes with length 0";
    EXPECT_EQ(gSeen.given, "5");

    runTable(*this, Resolution::Query,
             {
                 {"longest DWORD answer", peppered("<DWORD NAME=\"x\" LENGTH=\"2\" QUERY=\"TRUE\"/>"), 0, "",
                  "<PAGE NAME=\"p\" ID=\"FF10\"><DWORD NAME=\"x\" LENGTH=\"2\" QUERY=\"FALSE\">FFFFFFFFFFFFFFFF</DWORD></PAGE>"},
                 {"longest address", peppered("<IPAddress NAME=\"x\" QUERY=\"TRUE\"/>"), 0, "",
                  "<PAGE NAME=\"p\" ID=\"FF10\"><IPAddress NAME=\"x\" QUERY=\"FALSE\">255.255.255.255</IPAddress></PAGE>"},
                 {"longest text answer", peppered("<CHAR NAME=\"x\" LENGTH=\"40\" QUERY=\"TRUE\"/>"), 0, "",
                  "<PAGE NAME=\"p\" ID=\"FF10\"><CHAR NAME=\"x\" LENGTH=\"40\" QUERY=\"FALSE\">" + std::string(40, 'c') +
                      "</CHAR></PAGE>"},
             },
             longestAnswer);
    runTable(*this, Resolution::Query,
             {{"a buffer replaced by the callback", peppered("<CHAR NAME=\"x\" LENGTH=\"5\" QUERY=\"TRUE\">old</CHAR>"), 0,
               "", "<PAGE NAME=\"p\" ID=\"FF10\"><CHAR NAME=\"x\" LENGTH=\"5\" QUERY=\"FALSE\">rrrrr</CHAR></PAGE>"}},
             replacingAnswer);
    runTable(*this, Resolution::Query,
             {{"the callback's status", peppered("<DWORD NAME=\"x\" QUERY=\"TRUE\"/>"), 77, "", ""}}, refusingAnswer);
    runTable(*this, Resolution::Query,
             {{"an invalid answer", peppered("<DWORD NAME=\"x\" QUERY=\"TRUE\"/>"), 49, "", ""},
              {"container", peppered("<DWORD NAME=\"x\" QUERY=\"TRUE\"><BIT NAME=\"b\">1</BIT></DWORD>"), 40,
               "\nERROR: Invalid utilization of \"QUERY\" attribute for element \"x\" in page \"p\".\n", ""},
              {"outside a page", userDocument("<DWORD QUERY=\"TRUE\"/>"), 40,
               "\nERROR: Invalid utilization of \"QUERY\" attribute.\n", ""},
              {"container without NAME", peppered("<DWORD QUERY=\"TRUE\"><BIT NAME=\"b\">1</BIT></DWORD>"), 40,
               "\nERROR: Invalid utilization of \"QUERY\" attribute in page \"p\".\n", ""},
              {"a PAGE without NAME", userDocument("<PAGE ID=\"FF10\"><DWORD NAME=\"x\" QUERY=\"TRUE\"/></PAGE>"), 40,
               "\nERROR: Invalid utilization of \"QUERY\" attribute for element \"x\".\n", ""},
              // Not asked at all: no page holds the field, and its buffer would be sized by the document.
              {"a LENGTH no page holds", peppered("<DWORD NAME=\"x\" LENGTH=\"4294967295\" QUERY=\"TRUE\"/>"), 40,
               "\nERROR: Invalid utilization of \"QUERY\" attribute for element \"x\" in page \"p\".\n", ""},
              {"a text one byte longer than a page", peppered("<CHAR NAME=\"x\" LENGTH=\"65529\" QUERY=\"TRUE\"/>"), 40,
               "\nERROR: Invalid utilization of \"QUERY\" attribute for element \"x\" in page \"p\".\n", ""}},
             invalidAnswer);
    runTable(*this, Resolution::Query,
             {{"an encoded surrogate", peppered("<CHAR NAME=\"x\" LENGTH=\"8\" QUERY=\"TRUE\"/>"), 49, "", ""},
              {"a control character", peppered("<CHAR NAME=\"x\" LENGTH=\"8\" QUERY=\"TRUE\"/>"), 49, "", ""}},
             uncarriableAnswer);
    runTable(*this, Resolution::Query,
             {{"a text as long as a page holds", peppered("<CHAR NAME=\"x\" LENGTH=\"65528\" QUERY=\"TRUE\"/>"), 0, "",
               "<PAGE NAME=\"p\" ID=\"FF10\"><CHAR NAME=\"x\" LENGTH=\"65528\" QUERY=\"FALSE\">" +
                   std::string(65528, 'c') + "</CHAR></PAGE>"}},
             longestAnswer);
}

// Types that branch into many children of the next type, searched for a field they reach only by
// reference: the lookup searches each declaration once and ends at once; the field keeps its own type.
TEST_F(StampsTest, LookupThroughBranchingTypesEnds) {
    std::string types;
    for (int i = 0; i < 20; ++i) {
        types += "<xs:complexType name=\"T" + std::to_string(i) + "\"><xs:sequence>";
        for (int b = 0; b < 8; ++b)
            types += "<xs:element name=\"e" + std::to_string(b) + "\" type=\"T" + std::to_string(i + 1) +
                     "\" minOccurs=\"0\"/>";
        types += "<xs:element ref=\"field\" minOccurs=\"0\"/></xs:sequence></xs:complexType>";
    }
    types += "<xs:complexType name=\"T20\"/><xs:element name=\"field\" type=\"xs:string\"/>";
    const std::string xsd = dir.file("branching.xsd");
    writeText(xsd, regionSchema("<xs:element name=\"page1\" type=\"T0\" minOccurs=\"0\"/>", "", types));
    const std::string path = dir.file("branching.xml");
    writeText(path, userDocument("<page1><e0><DWORD QUERY=\"TRUE\">5</DWORD><field QUERY=\"TRUE\">7</field></e0></page1>"));
    pageengine::XmlDocPtr document = parseFile(path);
    ASSERT_TRUE(document);
    gSeen = {};
    ::testing::internal::CaptureStdout();
    const ZELKOR_STATUS status = pageengine::searchQueryAttrib(xmlDocGetRootElement(document.get()), document.get(),
                                                               recordingAnswer, nullptr, xsd.c_str());
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(gSeen.given, "7") << "the field after the DWORD was asked for too";
}

TEST_F(StampsTest, FetchTheDefinedValue) {
    struct Case {
        const char* what;
        std::string fields;
        ZELKOR_STATUS status;
        std::string printed;
        std::string value;
    };
    const Case cases[] = {
        {"defined once, deep in a container", "<DWORD NAME=\"c\"><BIT NAME=\"b\" DEFINE=\"s\">1</BIT></DWORD>", 0, "", "1"},
        {"defined twice", "<DWORD NAME=\"a\" DEFINE=\"s\">1</DWORD><DWORD NAME=\"b\" DEFINE=\"s\">2</DWORD>", 40,
         "\nERROR: Stamp \"s\" is defined more than once in XML.\n", ""},
        {"another stamp only, letter case counts", "<DWORD NAME=\"a\" DEFINE=\"S\">1</DWORD>", 40,
         "\nERROR: Stamp \"s\" is not defined in XML.\n", ""},
        {"defined without content", "<DWORD NAME=\"a\" DEFINE=\"s\"/>", 40, "", ""},
    };
    for (const Case& c : cases) {
        std::string path = dir.file("defined.xml");
        writeText(path, peppered(c.fields));
        pageengine::XmlDocPtr document = parseFile(path);
        std::string value;
        ::testing::internal::CaptureStdout();
        ZELKOR_STATUS status = pageengine::fetchDataForUseAttrib(xmlDocGetRootElement(document.get()), document.get(),
                                                                  nullptr, nullptr, "s", value);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed) << c.what;
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_EQ(value, c.value) << c.what;
    }
}

TEST_F(StampsTest, RemoveUseAndNullArguments) {
    std::string path = dir.file("use.xml");
    writeText(path, peppered("<DWORD NAME=\"x\" USE=\"s\"><BIT NAME=\"b\" USE=\"t\">1</BIT></DWORD>"));
    pageengine::XmlDocPtr document = parseFile(path);
    EXPECT_EQ(pageengine::removeUseAttrib(xmlDocGetRootElement(document.get()), document.get(), nullptr, nullptr), 0u);
    EXPECT_EQ(pageengine::findXmlNode(document.get(), "//*[@USE]"), nullptr);
    EXPECT_EQ(pageengine::removeUseAttrib(nullptr, document.get(), nullptr, nullptr), 5u);
    EXPECT_EQ(pageengine::processUseAttrib(nullptr, document.get(), nullptr, nullptr), 5u);
    EXPECT_EQ(pageengine::processFormatDecAttrib(nullptr, document.get(), nullptr, nullptr), 5u);
    EXPECT_EQ(pageengine::searchQueryAttrib(xmlDocGetRootElement(document.get()), document.get(), nullptr, nullptr, nullptr),
              5u);
}

} // namespace

namespace {

using namespace configtest;

// The properties the schema declares for a user-form field, and the page filters.
TEST_F(EngineTest, FieldPropertiesFromTheSchema) {
    std::unique_ptr<pageengine::XsdSchema> schema;
    ASSERT_EQ(pageengine::XsdSchema::load(fixture("chain/region.xsd"), schema), 0u);
    pageengine::XmlDocPtr document = parseFile(fixture("chain/user.xml"));
    struct Case {
        const char* xpath;
        ZELKOR_STATUS status;
        const char* type;
        uint32_t length;
    };
    const Case cases[] = {
        {"//page1/count", 0, "DWORD", 1},      {"//page1/flags/low", 0, "BIT", 4}, {"//page1/label", 0, "CHAR", 7},
        {"//page1/ipAddr", 0, "IPAddress", 4}, {"//page2/value", 0, "DWORD", 1},   {"//page1", 1, "", 1},
    };
    for (const Case& c : cases) {
        pageengine::XsdFieldProperties properties;
        xmlNode* element = pageengine::findXmlNode(document.get(), c.xpath);
        ASSERT_NE(element, nullptr) << c.xpath;
        EXPECT_EQ(pageengine::fetchElementfromXsd(schema.get(), element, properties), c.status) << c.xpath;
        if (c.status == 0) {
            EXPECT_EQ(properties.typeName, c.type) << c.xpath;
            EXPECT_EQ(properties.length, c.length) << c.xpath;
        }
    }
    // page1 is not a unit page (its UNIT defaults to FALSE): the unit filter drops it, the general keeps it.
    xmlNode* count = pageengine::findXmlNode(document.get(), "//page1/count");
    pageengine::XsdFieldProperties properties;
    pageengine::setUnitON();
    EXPECT_EQ(pageengine::fetchElementfromXsd(schema.get(), count, properties), 54u);
    pageengine::clearEngineSwitches();
    pageengine::setGeneralON();
    EXPECT_EQ(pageengine::fetchElementfromXsd(schema.get(), count, properties), 0u);
}

} // namespace
