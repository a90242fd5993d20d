// The core's XML entry points and the schema side of the engine on hostile input: support-file lookup
// with names and variable values of every length, the XML and XSD resolution, zelkor_xml2xml and the
// manufacturing XML validation on user documents made hostile from the chain fixture, and the builders of
// the default, complete and peppered documents on hostile schemas. The checks hold for any input: a
// documented status; no byte written past a caller's buffer (guard bytes behind it); the engine's schema
// check agreeing with xmllint's; a document accepted only when xmllint finds it valid; every document
// written well-formed. A failure names the seed and shows the input.
#include "xmlSupport.h"

#include "config/binaryToXml.h"
#include "config/engineState.h"
#include "config/xmlBuilders.h"
#include "config/xmlParser.h"
#include "core/zelkorInternal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace configtest;
using namespace robust;

constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

// The variable as the test found it, back at the end.
class SupportVariable {
  public:
    SupportVariable() {
        const char* value = std::getenv("ZELKOR_SUPPORT_FILES");
        saved_ = value != nullptr;
        if (saved_)
            value_ = value;
    }
    ~SupportVariable() {
        if (saved_)
            setenv("ZELKOR_SUPPORT_FILES", value_.c_str(), 1);
        else
            unsetenv("ZELKOR_SUPPORT_FILES");
    }
    static void set(const std::string* value) {
        if (value != nullptr)
            setenv("ZELKOR_SUPPORT_FILES", value->c_str(), 1);
        else
            unsetenv("ZELKOR_SUPPORT_FILES");
    }

  private:
    bool saved_ = false;
    std::string value_;
};

template <size_t N> bool terminated(const char (&buffer)[N]) {
    return std::memchr(buffer, '\0', N) != nullptr;
}

class XmlRoadRobustness : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        std::memset(gSharedVars.supportPath, 0, sizeof gSharedVars.supportPath);
        std::memset(gXmlName, 0, sizeof gXmlName);
    }
    void TearDown() override {
        std::memset(gSharedVars.supportPath, 0, sizeof gSharedVars.supportPath);
        std::memset(gXmlName, 0, sizeof gXmlName);
        EngineTest::TearDown();
    }
    ScratchDir dir;
    SupportVariable variable;
};

// ---- support-file lookup ----

TEST_F(XmlRoadRobustness, SupportLookupKeepsToTheCallersBuffer) {
    // Files to find: a short name, and one whose joined path comes close to the buffer's size (as close
    // as the system's path limit lets a file exist).
    const std::string base = dir.file("support");
    std::filesystem::create_directories(base);
    writeText(base + "/found.xsd", "x");
    const std::string longName = std::string(200, 'n') + ".xml";
    writeText(base + "/" + longName, "x");
    std::string deep = base;
    while (deep.size() < 3700)
        deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    writeText(deep + "/" + longName, "x");

    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const uint32_t seed = 0x5FF10000u + static_cast<uint32_t>(i);
        Dice d(seed);
        std::string name;
        switch (d.below(6)) {
        case 0:
            name = "found.xsd";
            break;
        case 1:
            name = longName;
            break;
        case 2:
            name = d.oneOf({"", "a/b.xml", "..\\x.xsd", "c:x.xml", "/etc/passwd", "found.xsd/", ".", ".."});
            break;
        case 3:
            name = std::string(d.oneOf(std::vector<size_t>{4094, 4095, 4096, 4997, 4998, 4999, 5000, 5001, 9000}),
                               'q');
            break;
        default:
            name = hostileValue(d);
            break;
        }
        name = std::string(name.c_str()); // the C interface sees up to the first NUL
        std::string value;
        const bool unset = d.chance(10);
        switch (d.below(5)) {
        case 0:
            value = base;
            break;
        case 1:
            value = base + "/";
            break;
        case 2:
            value = deep + (d.chance(50) ? "/" : "");
            break;
        case 3:
            value = std::string(d.below(6000), '/');
            break;
        default:
            value = std::string(hostileValue(d).c_str());
            break;
        }
        SCOPED_TRACE("seed " + hexNumber(seed) + ", name (" + std::to_string(name.size()) + "): " + shown(name, 300) +
                     "\nvariable (" + (unset ? std::string("unset") : std::to_string(value.size())) +
                     "): " + shown(value, 300));
        SupportVariable::set(unset ? nullptr : &value);

        std::vector<uint8_t> buffer(ZELKOR_XML_NAME_SIZE + kGuardBytes, kGuard);
        const ZELKOR_STATUS status = zelkor_retrieveFileFromEnv(name.c_str(), reinterpret_cast<char*>(buffer.data()));

        EXPECT_TRUE(statusIn(status, {0, 52, 53, 58})) << "status " << status;
        for (size_t k = ZELKOR_XML_NAME_SIZE; k < buffer.size(); ++k)
            ASSERT_EQ(buffer[k], kGuard) << "written past the buffer at " << k;
        const bool directoryPart = name.find_first_of(":\\/") != std::string::npos;
        if (directoryPart) {
            EXPECT_EQ(status, 53u) << "a name with a directory part";
        } else if (unset) {
            EXPECT_EQ(status, 52u) << "the variable is unset";
        }
        if (status != 0)
            continue;
        const char* path = reinterpret_cast<const char*>(buffer.data());
        ASSERT_NE(std::memchr(path, '\0', ZELKOR_XML_NAME_SIZE), nullptr);
        const bool slash = !value.empty() && (value.back() == '/' || value.back() == '\\');
        EXPECT_EQ(std::string(path), value + (slash ? "" : "/") + name);
        EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
    }
}

// ---- XML and XSD resolution, xml2xml and manufacturing validation ----

// A query answer: the longest valid text for the type and length, written into the engine's buffer (its
// room is what the contract promises), a replaced buffer, an invalid text, or a refusal.
// The chain fixture's user document with stamps of every kind.
std::string stampedUser() {
    std::string stamped = readText(fixture("chain/user.xml"));
    stamped.replace(stamped.find("<small>7F</small>"), 17, "<small USE=\"s\"/>");
    stamped.replace(stamped.find("<lanes INDEX=\"0\">"), 17, "<lanes INDEX=\"0\" DEFINE=\"s\">");
    stamped.replace(stamped.find("<value>CAFEF00D</value>"), 23, "<value QUERY=\"TRUE\">1</value>");
    stamped.replace(stamped.find("<blob>"), 6, "<blob QUERY=\"True\">");
    return stamped;
}

// zelkor_xml2xml hands the callback no context of its own, so the answers' die is the test's.
Dice* gAnswers = nullptr;

ZELKOR_STATUS answerQuery(void*, char** value, const char* typeName, uint32_t length) {
    Dice& d = *gAnswers;
    if (value == nullptr || *value == nullptr || typeName == nullptr) {
        ADD_FAILURE() << "query without a buffer or a type";
        return 1;
    }
    const std::string type = typeName;
    const uint32_t count = std::max<uint32_t>(length, 1);
    std::string answer;
    if (type == "DWORD" || type == "WORD" || type == "BYTE" || type == "ByteArray" || type == "ByteString") {
        const uint32_t width = type == "DWORD" ? 4 : type == "WORD" ? 2 : 1;
        answer = "0x" + std::string(2 * width * count, 'F');
    } else if (type == "IPAddress") {
        answer = "255.255.255.255";
    } else if (type == "BIT") {
        answer = "1";
    } else {
        answer = std::string(count, 'c');
    }
    switch (d.below(5)) {
    case 0: {
        char* replaced = static_cast<char*>(std::malloc(answer.size() + 1));
        std::memcpy(replaced, answer.c_str(), answer.size() + 1);
        std::free(*value);
        *value = replaced;
        return 0;
    }
    case 1: {
        const std::string junk = hostileValue(d);
        char* replaced = static_cast<char*>(std::malloc(junk.size() + 1));
        std::memcpy(replaced, junk.c_str(), junk.size() + 1);
        std::free(*value);
        *value = replaced;
        return 0;
    }
    case 2:
        return 49;
    default:
        // Only for a length the engine named; with 0 the length came from the XSD.
        if (length != 0)
            std::memcpy(*value, answer.c_str(), answer.size() + 1);
        return 0;
    }
}

// zelkor_xml2xml on a fresh engine, its queries answered from the seed, its printing kept off the test's.
ZELKOR_STATUS resolveQuietly(const std::string& user, const std::string& xsd, const std::string& output,
                             uint32_t answerSeed) {
    pageengine::resetEngineState();
    Dice answers(answerSeed);
    gAnswers = &answers;
    uint32_t chip = 0;
    ::testing::internal::CaptureStdout();
    const ZELKOR_STATUS status = zelkor_xml2xml(user.c_str(), xsd.c_str(), output.c_str(), answerQuery, &chip);
    ::testing::internal::GetCapturedStdout();
    gAnswers = nullptr;
    return status;
}

TEST_F(XmlRoadRobustness, UserDocumentsResolveOnlyWhenValid) {
    const std::string xsd = dir.file("region.xsd");
    writeText(xsd, readText(fixture("chain/region.xsd")));
    const std::vector<std::string> sources = {readText(fixture("chain/user.xml")), stampedUser()};

    struct Case {
        std::string path;
        std::string text;
        std::string output;
        ZELKOR_STATUS xml2xml;
        ZELKOR_STATUS validation;
        int engineValid;
    };
    std::vector<Case> cases;
    int resolved = 0;
    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const uint32_t seed = 0x2C2C0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        Case c;
        c.text = d.chance(10) ? d.oneOf(sources) : hostileXml(d, d.oneOf(sources));
        c.path = dir.file("user_" + std::to_string(i) + ".xml");
        c.output = dir.file("resolved_" + std::to_string(i) + ".xml");
        writeText(c.path, c.text);
        const bool withXsd = d.chance(50);
        SCOPED_TRACE("seed " + hexNumber(seed) + (withXsd ? ", XSD given" : ", XSD from the document") +
                     ", document:\n" + shown(c.text));

        pageengine::resetEngineState();
        uint32_t chip = 0xDEAD;
        Dice answers(seed ^ 0x55u);
        gAnswers = &answers;
        ::testing::internal::CaptureStdout();
        c.xml2xml = zelkor_xml2xml(c.path.c_str(), withXsd ? xsd.c_str() : nullptr, c.output.c_str(),
                                   d.chance(80) ? answerQuery : nullptr, &chip);
        EXPECT_TRUE(terminated(gXmlName));
        EXPECT_TRUE(terminated(gSharedVars.supportPath));
        pageengine::resetEngineState();
        c.validation = zelkor_upMfgXmlValidation(c.path.c_str(), withXsd ? xsd.c_str() : nullptr);
        xmlDoc* document = xmlReadMemory(c.text.data(), static_cast<int>(c.text.size()), "user.xml", nullptr,
                                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        c.engineValid = document != nullptr ? pageengine::is_valid(document, xsd.c_str()) : 0;
        xmlFreeDoc(document);
        ::testing::internal::GetCapturedStdout();

        EXPECT_TRUE(statusIn(c.xml2xml, {0, 1, 5, 6, 36, 40, 41, 49, 54, 60, 61})) << "xml2xml status " << c.xml2xml;
        EXPECT_TRUE(statusIn(c.validation, {0, 1, 6, 36, 40, 41, 54, 60, 61})) << "validation status " << c.validation;
        if (!wellFormed(c.text)) {
            EXPECT_NE(c.xml2xml, 0u);
            EXPECT_NE(c.validation, 0u);
        }
        if (c.xml2xml == 0) {
            ++resolved;
            EXPECT_TRUE(chip == ZELKOR_CHIP_OSTREL || chip == ZELKOR_CHIP_QUENZA || chip == ZELKOR_CHIP_QUENZA_DAX)
                << "chip " << chip;
            EXPECT_TRUE(wellFormed(readText(c.output))) << shown(readText(c.output));
        } else {
            EXPECT_EQ(chip, 0xDEADu) << "chip type reported on failure";
        }
        cases.push_back(std::move(c));
    }
    EXPECT_GT(resolved, 20);

    // xmllint judges every document once: the engine's schema check must agree with it exactly, and a
    // document the entry points accept must be valid (they check more than the schema, so a valid one
    // may still be refused).
    std::vector<std::string> inputs, outputs;
    for (const Case& c : cases) {
        inputs.push_back(c.path);
        if (c.xml2xml == 0)
            outputs.push_back(c.output);
    }
    const std::set<std::string> invalid = xmllintRefuses(inputs, xsd);
    for (const Case& c : cases) {
        const bool valid = invalid.count(c.path) == 0;
        SCOPED_TRACE("document:\n" + shown(c.text));
        if (wellFormed(c.text)) {
            EXPECT_EQ(c.engineValid == 6, valid) << "is_valid " << c.engineValid;
        }
        if (!valid) {
            EXPECT_NE(c.xml2xml, 0u);
            EXPECT_NE(c.validation, 0u);
        }
    }
    for (const std::string& refused : xmllintRefuses(outputs, xsd))
        ADD_FAILURE() << "xml2xml wrote a document its schema refuses:\n" << shown(readText(refused));
}

// Documents in the peppered form under the peppered form's schema, with stamps on their fields: any LENGTH
// the schema allows (it bounds none) reaches the stamps.
TEST_F(XmlRoadRobustness, PepperedFormDocumentsWithStampsResolveOrFailWithADocumentedStatus) {
    const std::string xsd = dir.file("peppered.xsd");
    writeText(xsd, readText(fixture("peppered.xsd")));
    std::string text = readText(fixture("basic.xml"));
    text.replace(text.find("<DWORD NAME=\"dword\">"), 20, "<DWORD NAME=\"dword\" QUERY=\"TRUE\">");
    text.replace(text.find("<CHAR NAME=\"spaced\" LENGTH=\"8\">"), 31, "<CHAR NAME=\"spaced\" LENGTH=\"8\" QUERY=\"True\">");
    text.replace(text.find("<ByteArray NAME=\"array\" LENGTH=\"2\">0102"), 39,
                 "<ByteArray NAME=\"array\" LENGTH=\"2\" FORMAT=\"Dec\">258");
    int resolved = 0;
    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const uint32_t seed = 0x9E9F0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const std::string document = d.chance(10) ? text : hostileXml(d, text);
        const std::string path = dir.file("peppered_user.xml"), output = dir.file("peppered_resolved.xml");
        writeText(path, document);
        SCOPED_TRACE("seed " + hexNumber(seed) + ", document:\n" + shown(document));
        const ZELKOR_STATUS status = resolveQuietly(path, xsd, output, seed ^ 0xAAu);
        EXPECT_TRUE(statusIn(status, {0, 1, 6, 36, 40, 41, 49})) << "status " << status;
        if (status != 0)
            continue;
        ++resolved;
        EXPECT_TRUE(wellFormed(readText(output))) << shown(readText(output));
    }
    EXPECT_GT(resolved, 20);
}

// The stamped user document under hostile schemas: the stamps look their fields' types and lengths up in
// the schema (any LENGTH its fixed values name).
TEST_F(XmlRoadRobustness, StampsUnderHostileSchemasResolveOrFailWithADocumentedStatus) {
    const std::string schemaText = readText(fixture("chain/region.xsd"));
    const std::string user = dir.file("stamped.xml");
    writeText(user, stampedUser());
    int resolved = 0;
    for (int i = 0; i < 300 && !HasFailure(); ++i) {
        const uint32_t seed = 0x57A40000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const std::string text = hostileSchema(d, schemaText);
        const std::string xsd = dir.file("stamp_schema.xsd"), output = dir.file("stamped_out.xml");
        writeText(xsd, text);
        SCOPED_TRACE("seed " + hexNumber(seed) + ", schema:\n" + shown(text));
        pageengine::resetEngineState();
        Dice answers(seed ^ 0x77u);
        gAnswers = &answers;
        uint32_t chip = 0;
        ::testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = zelkor_xml2xml(user.c_str(), xsd.c_str(), output.c_str(), answerQuery, &chip);
        pageengine::resetEngineState();
        const ZELKOR_STATUS validation = zelkor_upMfgXmlValidation(user.c_str(), xsd.c_str());
        ::testing::internal::GetCapturedStdout();
        EXPECT_TRUE(statusIn(status, {0, 1, 6, 36, 40, 41, 49, 54})) << "xml2xml status " << status;
        EXPECT_TRUE(statusIn(validation, {0, 1, 6, 36, 40, 41, 54})) << "validation status " << validation;
        if (status != 0)
            continue;
        ++resolved;
        EXPECT_TRUE(wellFormed(readText(output))) << shown(readText(output));
    }
    EXPECT_GT(resolved, 10);
}

// Schemas whose pages nest one named type in the next, as deep as a reader takes and deeper: every
// document a builder writes must read back.
TEST_F(XmlRoadRobustness, DeepTypeChainsBuildReadableDocumentsOrFail) {
    for (int depth : {2, 50, 200, 254, 255, 256, 257, 300, 1000, 20000}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        std::string types;
        for (int i = 0; i < depth; ++i)
            types += "<xs:complexType name=\"T" + std::to_string(i) + "\"><xs:sequence><xs:element name=\"e" +
                     std::to_string(i) + "\" type=\"T" + std::to_string(i + 1) + "\" minOccurs=\"0\"/>"
                     "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"" +
                     (i == 0 ? "PAGE" : "DWORD") + "\"/><xs:anyAttribute processContents=\"skip\"/></xs:complexType>";
        types += "<xs:complexType name=\"T" + std::to_string(depth) + "\"><xs:simpleContent><xs:extension "
                 "base=\"xs:string\"><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"BIT\"/>"
                 "</xs:extension></xs:simpleContent></xs:complexType>";
        const std::string xsd = dir.file("deep.xsd");
        writeText(xsd, regionSchema("<xs:element name=\"page1\" type=\"T0\" minOccurs=\"0\"/>",
                                    "<xs:attribute name=\"SchemaVersion\" type=\"xs:string\"/>"
                                    "<xs:attribute name=\"Product\" type=\"xs:string\"/>",
                                    types));
        const std::string userPath = dir.file("deep_user.xml");
        writeText(userPath, userDocument("<page1 ID=\"0001\"/>", "deep.xsd"));
        pageengine::XmlDocPtr user = parseFile(userPath);
        ASSERT_TRUE(user);
        const std::string defaults = dir.file("deep_default.xml"), complete = dir.file("deep_complete.xml");
        const std::string dynamicPeppered = dir.file("deep_dynamic.xml"), staticPeppered = dir.file("deep_static.xml");
        for (const std::string& path : {defaults, complete, dynamicPeppered, staticPeppered})
            std::remove(path.c_str());
        ::testing::internal::CaptureStdout();
        pageengine::resetEngineState();
        const ZELKOR_STATUS defaultStatus = pageengine::xsdCreateDefaultXml(xsd.c_str(), defaults.c_str(), nullptr);
        const ZELKOR_STATUS completeStatus =
            defaultStatus == 0 ? pageengine::comCreateCompleteXml(defaults.c_str(), user.get(), complete.c_str(), nullptr)
                               : 1;
        const ZELKOR_STATUS dynamicStatus =
            completeStatus == 0 ? pageengine::defCreatePepperedXml(xsd.c_str(), complete.c_str(), dynamicPeppered.c_str(), 0)
                                : 1;
        pageengine::resetEngineState();
        const ZELKOR_STATUS staticStatus = pageengine::createPepperedXml(xsd.c_str(), user.get(), staticPeppered.c_str(), 0);
        ::testing::internal::GetCapturedStdout();
        const std::pair<ZELKOR_STATUS, std::string> built[] = {
            {defaultStatus, defaults}, {completeStatus, complete}, {dynamicStatus, dynamicPeppered}, {staticStatus, staticPeppered}};
        for (const auto& [status, path] : built) {
            EXPECT_TRUE(statusIn(status, {0, 1, 6, 36, 40, 41})) << path << " status " << status;
            if (status == 0) {
                EXPECT_TRUE(parseFile(path) != nullptr) << path << " written but unreadable";
            }
        }
        if (depth <= 200) {
            EXPECT_EQ(defaultStatus, 0u);
            EXPECT_EQ(staticStatus, 0u);
        }
        // The stamps look the queried field's type up through the whole chain.
        const std::string queried = dir.file("deep_queried.xml"), resolved = dir.file("deep_resolved.xml");
        writeText(queried, userDocument("<page1 ID=\"0001\"><e0 QUERY=\"TRUE\"/></page1>", "deep.xsd"));
        const ZELKOR_STATUS queryStatus = resolveQuietly(queried, xsd, resolved, static_cast<uint32_t>(depth));
        EXPECT_TRUE(statusIn(queryStatus, {0, 1, 36, 40, 49})) << "xml2xml status " << queryStatus;
    }
}

// A schema whose types branch into many children of the next type, and a page element the schema reaches
// by reference only: the stamps' type lookup must end in reasonable time.
TEST_F(XmlRoadRobustness, BranchingSchemasKeepTheStampLookupBounded) {
    constexpr int kDepth = 20, kBranches = 8;
    std::string types;
    for (int i = 0; i < kDepth; ++i) {
        types += "<xs:complexType name=\"T" + std::to_string(i) + "\"><xs:sequence>";
        for (int b = 0; b < kBranches; ++b)
            types += "<xs:element name=\"e" + std::to_string(b) + "\" type=\"T" + std::to_string(i + 1) +
                     "\" minOccurs=\"0\"/>";
        types += "<xs:element ref=\"field\" minOccurs=\"0\"/></xs:sequence><xs:anyAttribute processContents=\"skip\"/>"
                 "</xs:complexType>";
    }
    types += "<xs:complexType name=\"T" + std::to_string(kDepth) + "\"/>"
             "<xs:element name=\"field\"><xs:complexType><xs:anyAttribute processContents=\"skip\"/></xs:complexType>"
             "</xs:element>";
    const std::string xsd = dir.file("branching.xsd");
    writeText(xsd, regionSchema("<xs:element name=\"page1\" type=\"T0\" minOccurs=\"0\"/>",
                                "<xs:attribute name=\"SchemaVersion\" type=\"xs:string\"/>"
                                "<xs:attribute name=\"Product\" type=\"xs:string\"/>",
                                types));
    const std::string user = dir.file("branching_user.xml"), output = dir.file("branching_out.xml");
    writeText(user, userDocument("<page1><e0><field QUERY=\"TRUE\" USE=\"s\"/></e0></page1>", "branching.xsd"));
    ASSERT_TRUE(xmllintRefuses({user}, xsd).empty()) << "the test document is not valid";
    const ZELKOR_STATUS status = resolveQuietly(user, xsd, output, 1);
    EXPECT_TRUE(statusIn(status, {0, 1, 36, 40, 49})) << "xml2xml status " << status;
}

// ---- the schema side: default, complete and peppered documents from hostile schemas ----

TEST_F(XmlRoadRobustness, HostileSchemasBuildDocumentsOrFailWithADocumentedStatus) {
    const std::string schemaText = readText(fixture("chain/region.xsd"));
    // Both roads take it: the repeatable field is given once, as a static page has one place for it.
    const std::string user = fixture("chain/static_user.xml");
    pageengine::XmlDocPtr userDocument = parseFile(user);
    ASSERT_TRUE(userDocument);
    std::vector<std::string> written;
    int built = 0;
    constexpr int kSchemas = 400;
    for (int i = 0; i < kSchemas && !HasFailure(); ++i) {
        const uint32_t seed = 0x45D00000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const std::string text = d.chance(75) ? hostileSchema(d, schemaText) : hostileXml(d, schemaText);
        const std::string xsd = dir.file("schema_" + std::to_string(i) + ".xsd");
        writeText(xsd, text);
        SCOPED_TRACE("seed " + hexNumber(seed) + ", schema:\n" + shown(text));
        const std::string base = dir.file("built_" + std::to_string(i));
        const std::string defaults = base + "_default.xml", complete = base + "_complete.xml";
        const std::string dynamicPeppered = base + "_dynamic.xml", staticPeppered = base + "_static.xml";

        ::testing::internal::CaptureStdout();
        pageengine::resetEngineState();
        const ZELKOR_STATUS defaultStatus = pageengine::xsdCreateDefaultXml(xsd.c_str(), defaults.c_str(), nullptr);
        ZELKOR_STATUS completeStatus = 0, dynamicStatus = 0, parsedStatus = 0;
        if (defaultStatus == 0) {
            completeStatus = pageengine::comCreateCompleteXml(defaults.c_str(), userDocument.get(), complete.c_str(),
                                                              nullptr);
            if (completeStatus == 0)
                dynamicStatus = pageengine::defCreatePepperedXml(xsd.c_str(), complete.c_str(),
                                                                 dynamicPeppered.c_str(), d.chance(50) ? 1 : 0);
        }
        pageengine::resetEngineState();
        const ZELKOR_STATUS staticStatus =
            pageengine::createPepperedXml(xsd.c_str(), userDocument.get(), staticPeppered.c_str(), d.chance(50) ? 1 : 0);
        if (staticStatus == 0)
            parsedStatus = pageengine::zelkor_ParseXmlFile(nullptr, staticPeppered.c_str(), nullptr, nullptr);
        ::testing::internal::GetCapturedStdout();

        EXPECT_TRUE(statusIn(defaultStatus, {0, 1, 6, 36, 40, 41})) << "default status " << defaultStatus;
        EXPECT_TRUE(statusIn(completeStatus, {0, 1, 40, 41})) << "complete status " << completeStatus;
        EXPECT_TRUE(statusIn(dynamicStatus, {0, 1, 6, 40, 41})) << "dynamic peppered status " << dynamicStatus;
        EXPECT_TRUE(statusIn(staticStatus, {0, 1, 6, 36, 40, 41})) << "static peppered status " << staticStatus;
        EXPECT_TRUE(statusIn(parsedStatus, {0, 6, 36, 37, 38, 39, 40, 41})) << "parse status " << parsedStatus;
        if (!wellFormed(text)) {
            EXPECT_NE(defaultStatus, 0u);
            EXPECT_NE(staticStatus, 0u);
        }
        const std::pair<ZELKOR_STATUS, std::string> outputs[] = {{defaultStatus, defaults},
                                                                 {defaultStatus == 0 ? completeStatus : 1, complete},
                                                                 {defaultStatus == 0 && completeStatus == 0
                                                                      ? dynamicStatus
                                                                      : 1,
                                                                  dynamicPeppered},
                                                                 {staticStatus, staticPeppered}};
        for (const auto& [status, path] : outputs) {
            if (status != 0)
                continue;
            EXPECT_TRUE(wellFormed(readText(path))) << path << ":\n" << shown(readText(path));
            written.push_back(path);
        }
        built += staticStatus == 0 && defaultStatus == 0 ? 1 : 0;
    }
    EXPECT_GT(built, kSchemas / 10);
    for (const std::string& refused : xmllintRefuses(written))
        ADD_FAILURE() << "built by the engine, not XML for xmllint:\n" << shown(readText(refused));
}

} // namespace
