// Region images back to XML: statuses, the image read, text XML cannot carry, the user's elements kept,
// and the schema check with xmllint as the reference.
#include "chainSupport.h"
#include "config/binaryToXml.h"

#include <gtest/gtest.h>

#include <libxml/xmlschemas.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace configtest;

const std::string XSD = fixture("chain/region.xsd");
// The pages as the road of static pages takes them (one place for the repeatable field).
const std::string USER = fixture("chain/static_user.xml");

struct RawPage {
    uint16_t id;
    std::vector<uint8_t> data; // a multiple of 4 bytes
};

std::vector<uint8_t> makeImage(const std::vector<RawPage>& pages) {
    std::vector<uint8_t> image = {0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01};
    for (const RawPage& page : pages) {
        uint16_t length = static_cast<uint16_t>(page.data.size() + 4);
        std::vector<uint8_t> counted = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                        static_cast<uint8_t>(page.id), static_cast<uint8_t>(page.id >> 8)};
        counted.insert(counted.end(), page.data.begin(), page.data.end());
        uint8_t sum = 0;
        for (uint8_t byte : counted)
            sum = static_cast<uint8_t>(sum + byte);
        image.insert(image.end(), {0xF9, sum, 0xFF, 0xFF});
        image.insert(image.end(), counted.begin(), counted.end());
    }
    return image;
}

class BinaryToXmlTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        pageengine::XmlDocPtr user = parseFile(USER);
        ASSERT_EQ(pageengine::createPepperedXml(XSD.c_str(), user.get(), peppered.c_str(), 1), 0u);
        ASSERT_EQ(pepperedToImage(peppered.c_str(), image), 0u);
        pageengine::resetEngineState();
        ASSERT_EQ(pageengine::createPepperedXml(XSD.c_str(), user.get(), peppered.c_str(), 1), 0u);
    }
    ZELKOR_STATUS convert(const std::string& imagePath, const std::string& user = USER,
                          const std::string& pepperedPath = "") {
        ::testing::internal::CaptureStdout();
        ZELKOR_STATUS status =
            imageToXml(user, output, imagePath, pepperedPath.empty() ? peppered : pepperedPath);
        printed = ::testing::internal::GetCapturedStdout();
        return status;
    }
    // Lists the user's pages again, as a fresh peppered build would.
    void relist() {
        pageengine::XmlDocPtr user = parseFile(USER);
        ASSERT_EQ(pageengine::createPepperedXml(XSD.c_str(), user.get(), peppered.c_str(), 1), 0u);
    }
    std::string writeImage(const std::vector<uint8_t>& bytes, const char* name = "made.bin") {
        std::string path = dir.file(name);
        writeText(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }

    ScratchDir dir;
    std::string peppered = dir.file("peppered.xml");
    std::string image = dir.file("image.bin");
    std::string output = dir.file("out.xml");
    std::string printed;
};

TEST_F(BinaryToXmlTest, DescriptionErrors) {
    std::string bad = dir.file("bad.xml");
    struct Case {
        const char* what;
        std::string peppered; // "" keeps the built one
        std::vector<uint8_t> image;
        ZELKOR_STATUS status;
        std::string printed;
    };
    const std::vector<uint8_t> twice = makeImage({{0xFE01, {1, 2, 3, 4}}, {0xFE01, {1, 2, 3, 4}}});
    const Case cases[] = {
        {"same page id twice in the image", "", twice, 38,
         "\nERROR : Page ID \"FE01\" is used for multiple pages.\n\nThe XML file failed Schema validation.\n"},
        {"no schema location", "<MANUFACTURING><PAGE NAME=\"a\" ID=\"1\"/></MANUFACTURING>", twice, 36,
         "\n1: element MANUFACTURING: Schemas validity error : element MANUFACTURING: "
         "'xsi:noNamespaceSchemaLocation' is required but missing\n"},
        {"no PAGE", userDocument(""), twice, 40, "\nERROR : XML does not contain any page.\nInvalid XML file.\n"},
        {"page without ID", userDocument("<PAGE NAME=\"a\"><DWORD NAME=\"x\"/></PAGE>"), twice, 37,
         "\nERROR : Page ID is missing for page \"a\".\n\nThe XML file failed Schema validation.\n"},
        {"invalid ID", userDocument("<PAGE NAME=\"a\" ID=\"FG01\"><DWORD NAME=\"x\"/></PAGE>"), twice, 40,
         "\nERROR : Invalid Page ID for page \"a\".\n\nThe XML file failed Schema validation.\n"},
        {"one id, two names", userDocument("<PAGE NAME=\"a\" ID=\"FE01\"><DWORD NAME=\"x\"/></PAGE>"
                                           "<PAGE NAME=\"b\" ID=\"1FE01\"><DWORD NAME=\"x\"/></PAGE>"),
         makeImage({{0xFE01, {1, 2, 3, 4}}}), 38,
         "\nERROR : Page ID \"FE01\" is used for multiple pages.\n\nThe XML file failed Schema validation.\n"},
        {"peppered not XML", "<MANUFACTURING", twice, 41, ""},
    };
    for (const Case& c : cases) {
        std::string pepperedPath = peppered;
        if (!c.peppered.empty()) {
            writeText(bad, c.peppered);
            pepperedPath = bad;
        }
        EXPECT_EQ(convert(writeImage(c.image), USER, pepperedPath), c.status) << c.what;
        EXPECT_EQ(printed, c.printed) << c.what;
    }
    LogCapture log;
    EXPECT_EQ(convert(image, dir.file("missing.xml")), 41u);
    EXPECT_EQ(pageengine::zelkor_CreateOutputXMLFile(nullptr, USER.c_str(), output.c_str(), nullptr, peppered.c_str()), 5u);
    FILE* file = std::fopen(image.c_str(), "rb");
    EXPECT_EQ(pageengine::zelkor_CreateOutputXMLFile(nullptr, nullptr, output.c_str(), file, peppered.c_str()), 5u);
    std::string logged = log.text();
    EXPECT_NE(logged.find(engineLogLine("LIBXML2 failed to parse the XML file " + dir.file("missing.xml") + ".\n", "ERROR",
                                        "zelkor_hal_bin2xml")),
              std::string::npos)
        << logged;
    EXPECT_NE(logged.find(engineLogLine("File Name missing.\n", "ERROR", "zelkor_hal_bin2xml")), std::string::npos)
        << logged;
    EXPECT_EQ(pageengine::zelkor_CreateOutputXMLFile(nullptr, USER.c_str(), output.c_str(), file, nullptr), 5u);
    std::fclose(file);
}

TEST_F(BinaryToXmlTest, ImagesThatCannotBeReadWhole) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::vector<uint8_t> bytes = readBytes(image);
    ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fds[1]);
    FILE* pipeEnd = fdopen(fds[0], "rb");
    EXPECT_EQ(pageengine::zelkor_CreateOutputXMLFile(nullptr, USER.c_str(), output.c_str(), pipeEnd, peppered.c_str()),
              43u);
    std::fclose(pipeEnd);

    // Opened for writing only: measurable, but its bytes cannot be read.
    FILE* writeOnly = std::fopen(dir.file("write_only.bin").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), writeOnly);
    EXPECT_EQ(pageengine::zelkor_CreateOutputXMLFile(nullptr, USER.c_str(), output.c_str(), writeOnly,
                                                     peppered.c_str()),
              43u);
    std::fclose(writeOnly);

    std::string huge = dir.file("huge.bin");
    FILE* sparse = std::fopen(huge.c_str(), "wb");
    ASSERT_EQ(ftruncate(fileno(sparse), pageengine::MAX_IMAGE_SIZE + 1), 0);
    std::fclose(sparse);
    EXPECT_EQ(convert(huge), 43u);
}

TEST_F(BinaryToXmlTest, TextThatXmlCannotCarryIsRefused) {
    // page2's peppered page holds one DWORD; a CHAR page describes the 0xFF bytes.
    std::string pepperedChar = dir.file("char.xml");
    writeText(pepperedChar, userDocument("<PAGE NAME=\"text\" ID=\"0101\"><CHAR NAME=\"name\" LENGTH=\"4\"/></PAGE>"
                                         "<PAGE NAME=\"wide\" ID=\"0102\"><UNICHARV NAME=\"w\" LENGTH=\"2\"/></PAGE>"));
    const std::string charRefused = "\nERROR : Invalid content for element \"name\" in page \"text\".\n\n";
    const std::string wideRefused = "\nERROR : Invalid content for element \"w\" in page \"wide\".\n\n";
    struct Case {
        const char* what;
        uint16_t page;
        std::vector<uint8_t> data;
        ZELKOR_STATUS status;
        std::string printed;
    };
    const Case cases[] = {
        {"erased bytes", 0x0101, {0xFF, 0xFF, 0xFF, 0xFF}, 40, charRefused},
        {"a control character", 0x0101, {'a', 0x01, 'b', 0x00}, 40, charRefused},
        {"UTF-8 text", 0x0101, {0xC3, 0xA9, 'e', 0x00}, 0, ""},
        // Well-formed UTF-8 byte patterns of what is no XML character, or no character at all.
        {"an encoded surrogate", 0x0101, {0xED, 0xA0, 0x80, 0x00}, 40, charRefused},
        {"U+FFFE", 0x0101, {0xEF, 0xBF, 0xBE, 0x00}, 40, charRefused},
        {"an overlong letter", 0x0101, {0xC1, 0x81, 0x00, 0x00}, 40, charRefused},
        {"an overlong NUL", 0x0101, {0xE0, 0x80, 0x80, 0x00}, 40, charRefused},
        {"above U+10FFFF", 0x0101, {0xF4, 0x90, 0x80, 0x80}, 40, charRefused},
        {"a four-byte character", 0x0101, {0xF0, 0x9F, 0x98, 0x80}, 0, ""},
        {"plain text", 0x0101, {'a', 'b', ' ', 0x00}, 0, ""},
        {"a wide control character", 0x0102, {0x01, 0x00, 0x00, 0x00}, 40, wideRefused},
        {"a wide letter", 0x0102, {'h', 0x00, 0x00, 0x00}, 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(convert(writeImage(makeImage({{c.page, c.data}})), USER, pepperedChar), c.status) << c.what;
        EXPECT_EQ(printed, c.printed) << c.what;
        if (c.status == 0) {
            EXPECT_TRUE(xmllintAccepts(output)) << c.what;
        }
    }
}

TEST_F(BinaryToXmlTest, EmptyImageGivesABareRootAndUnwritableOutputFails) {
    pageengine::conversionCarry().gStrSchemaVersion = "03";
    pageengine::conversionCarry().gStrProductName = "Quenza";
    EXPECT_EQ(convert(writeImage({})), 0u);
    EXPECT_EQ(body(output), "<MANUFACTURING xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                            "xsi:noNamespaceSchemaLocation=\"" + XSD + "\" SchemaVersion=\"03\" Product=\"Quenza\"/>");
    EXPECT_TRUE(xmllintAccepts(output, XSD));
    relist();
    output = "/dev/full";
    EXPECT_EQ(convert(image), 1u);
}

TEST_F(BinaryToXmlTest, BadSecondPageKeepsTheFirstAndUndescribedPagesAreSkipped) {
    std::vector<WalkedPage> pages = walkImageIndependently(readBytes(image));
    ASSERT_EQ(pages.size(), 2u);
    std::vector<uint8_t> bytes = makeImage({{0x1234, {9, 9, 9, 9}}, {pages[0].id, pages[0].data}, {pages[1].id, pages[1].data}});
    bytes.back() ^= 0x01; // page2's checksum no longer holds
    std::string user = dir.file("user.xml");
    writeText(user, userDocument("<page1><count USE=\"s\"/></page1>"));
    EXPECT_EQ(convert(writeImage(bytes), user), 1u);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(selectText(output, "//page1/count"), "12345678");
    EXPECT_EQ(selectText(output, "//page2"), "<none>");
    EXPECT_NE(pageengine::findXmlNode(parseFile(output).get(), "//count[@USE]"), nullptr) << "kept after a bad page";

    relist();
    EXPECT_EQ(convert(image, user), 0u);
    EXPECT_EQ(pageengine::findXmlNode(parseFile(output).get(), "//count[@USE]"), nullptr) << "removed after success";
    EXPECT_EQ(selectText(output, "//page1/count"), "12345678");
}

// The user's page keeps its names; a reserved field keeps the user's text; a user element that matches
// no field does not stop the fields after it. A listed page the user's file lacks takes the peppered form.
TEST_F(BinaryToXmlTest, UserElementsAreFilledFieldByField) {
    std::string user = dir.file("user.xml");
    writeText(user, userDocument("<page1><count>0</count><unknown>u</unknown><label>old</label>"
                                 "<flags><high>0</high></flags><reserved0>CAFE</reserved0></page1>"));
    EXPECT_EQ(convert(image, user), 0u);
    EXPECT_EQ(body(output).substr(body(output).find("<page1")),
              "<page1><count>12345678</count><unknown>u</unknown><label>A&amp;B &lt;c&gt;</label>"
              "<flags><high>A</high></flags><reserved0>CAFE</reserved0></page1>"
              "<PAGE NAME=\"page2\" ID=\"FE01\"><DWORD NAME=\"value\" LENGTH=\"1\">CAFEF00D</DWORD></PAGE>"
              "</MANUFACTURING>");
}

TEST_F(BinaryToXmlTest, IsValidAgreesWithXmllint) {
    struct Case {
        const char* what;
        std::string document;
    };
    const Case cases[] = {
        {"the user document", readText(USER)},
        {"an unknown field", userDocument("<page1><nothing/></page1>")},
        {"a bad hexadecimal value", userDocument("<page1><count>XYZ</count></page1>")},
        {"fields out of order", userDocument("<page1><word>1</word><count>1</count></page1>")},
        {"an empty root", userDocument("")},
    };
    for (const Case& c : cases) {
        std::string path = dir.file("candidate.xml");
        writeText(path, c.document);
        pageengine::XmlDocPtr document = parseFile(path);
        EXPECT_EQ(pageengine::is_valid(document.get(), XSD.c_str()) == 6, xmllintAccepts(path, XSD)) << c.what;
    }
    pageengine::XmlDocPtr document = parseFile(USER);
    EXPECT_EQ(pageengine::is_valid(document.get(), XSD.c_str()), 6);
    EXPECT_EQ(pageengine::is_valid(nullptr, XSD.c_str()), 5);
    EXPECT_EQ(pageengine::is_valid(document.get(), nullptr), 1);
    EXPECT_EQ(pageengine::is_valid(document.get(), dir.file("none.xsd").c_str()), 1);
    EXPECT_EQ(pageengine::is_valid(document.get(), USER.c_str()), 3) << "a document that is not a schema";
}

// Cleaning up the engine leaves libxml2 usable: a schema compiled before still validates. In a child
// process, so that a hang ends in the alarm instead of the test run.
TEST_F(BinaryToXmlTest, SchemaParsedBeforeCleanupStillValidates) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);
        pageengine::XmlDocPtr schemaDocument(xmlReadFile(XSD.c_str(), nullptr, XML_PARSE_NONET));
        xmlSchemaParserCtxt* parser = xmlSchemaNewDocParserCtxt(schemaDocument.get());
        xmlSchema* schema = xmlSchemaParse(parser);
        pageengine::zelkor_CleanXmlParser();
        pageengine::XmlDocPtr document = parseFile(USER);
        xmlSchemaValidCtxt* validation = xmlSchemaNewValidCtxt(schema);
        int result = xmlSchemaValidateDoc(validation, document.get());
        xmlSchemaFreeValidCtxt(validation);
        xmlSchemaFree(schema);
        xmlSchemaFreeParserCtxt(parser);
        _exit(result == 0 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // What the cleanup does free: the engine's lists.
    EXPECT_EQ(pageengine::conversionCarry().gStaticPageList.size(), 2u);
    EXPECT_EQ(pageengine::zelkor_CleanXmlParser(), 0u);
    EXPECT_TRUE(pageengine::conversionCarry().gStaticPageList.empty());
}

} // namespace
