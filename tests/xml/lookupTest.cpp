// Finding the XML and its XSD: the support-file lookup under ZELKOR_SUPPORT_FILES, the resolution of an XML
// and the schema it names, and the hardware modules' own lookups with their texts.
#include "driverSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using namespace xmltest;

const std::string kNoSupport = "<unset>";

// A user document that names the given schema location.
std::string userNaming(const std::string& schema) {
    return "<?xml version=\"1.0\"?>\n<MANUFACTURING xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xsi:noNamespaceSchemaLocation=\"" +
           schema + "\" SchemaVersion=\"01\" Product=\"Quenza\"/>\n";
}

struct RetrieveCase {
    const char* what;
    std::string name;
    std::string support; // relative to the workspace unless it starts with '/'; kNoSupport: unset
    long status;
    std::string path; // relative to the workspace, when found
};

void PrintTo(const RetrieveCase& c, std::ostream* os) {
    *os << c.what;
}

class Retrieve : public ::testing::TestWithParam<RetrieveCase> {};

TEST_P(Retrieve, JoinsBoundsAndProves) {
    const RetrieveCase& c = GetParam();
    Workspace ws;
    ws.write("support/x.xsd", "<x/>\n");
    ws.write("x.xsd", "<x/>\n"); // in the current directory: the lookup does not look here
    std::optional<std::string> support;
    if (c.support != kNoSupport)
        support = c.support[0] == '/' ? c.support : ws.file(c.support);
    RunResult r = ws.run({"retrieve", c.name}, support);
    EXPECT_EQ(stepStatus(r.output, "retrieve"), c.status) << r.output;
    const std::string expected = c.path.empty() ? "" : ws.file(c.path);
    EXPECT_NE(r.output.find("retrieve status=" + std::to_string(c.status) + " path=" + expected + "\n"),
              std::string::npos)
        << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Names, Retrieve,
    ::testing::Values(RetrieveCase{"Unset", "x.xsd", kNoSupport, 52, ""},
                      RetrieveCase{"Found", "x.xsd", "support", 0, "support/x.xsd"},
                      RetrieveCase{"TrailingSlash", "x.xsd", "support/", 0, "support/x.xsd"},
                      RetrieveCase{"Missing", "y.xsd", "support", 53, ""},
                      RetrieveCase{"Slash", "support/x.xsd", ".", 53, ""},
                      RetrieveCase{"Backslash", "sub\\x.xsd", "support", 53, ""},
                      RetrieveCase{"Colon", "c:x.xsd", "support", 53, ""},
                      // A name with a directory part is refused before the variable is looked at.
                      RetrieveCase{"SlashWithoutVariable", "support/x.xsd", kNoSupport, 53, ""},
                      // A name that leaves the joined path at a directory finds no file.
                      RetrieveCase{"EmptyName", "", "support", 53, ""},
                      RetrieveCase{"DotName", ".", "support", 53, ""},
                      RetrieveCase{"DotDotName", "..", "support/", 53, ""},
                      RetrieveCase{"VariableTooLong", "x.xsd", "/" + std::string(4994, 'd'), 58, ""},
                      RetrieveCase{"VariableJustFits", "x.xsd", "/" + std::string(4992, 'd'), 53, ""}),
    [](const auto& info) { return std::string(info.param.what); });

struct ResolveCase {
    const char* what;
    std::string xml;
    std::string xsd; // "-": from the XML
    std::string quiet;
    bool support; // ZELKOR_SUPPORT_FILES names "support"
    long status;
    std::string xmlFound; // relative to the workspace ("" when not checked)
    std::string xsdFound;
    std::vector<std::string> printed;
    std::vector<std::string> notPrinted = {};
};

void PrintTo(const ResolveCase& c, std::ostream* os) {
    *os << c.what;
}

class Resolve : public ::testing::TestWithParam<ResolveCase> {};

const char* kXmlHere = "\nINFO: XML is picked up from the specified location\n";
const char* kXmlThere = "\nINFO: XML is picked up from the Environment Variable path\n";
const char* kXsdHere = "\nINFO: XSD is picked up from the specified location\n";
const char* kXsdThere = "\nINFO: XSD is picked up from the Environment Variable path\n";

TEST_P(Resolve, FindsTheXmlAndItsSchema) {
    const ResolveCase& c = GetParam();
    Workspace ws;
    ws.write("u.XML", userNaming("q.xsd"));
    ws.write("q.xsd", "<q/>\n");
    ws.write("dir/bare.xml", userNaming("u.xsd"));
    ws.write("dir/u.xsd", "<u/>\n");
    ws.write("dir/dotted.xml", userNaming("./u.xsd"));
    ws.write("dir/parted.xml", userNaming("sub/x.xsd"));
    ws.write("sub/x.xsd", "<x/>\n");
    ws.write("dir/long.xml", userNaming(std::string(4994, 'n') + ".xsd"));
    ws.write("dir/nolocation.xml", "<MANUFACTURING Product=\"Quenza\"/>\n");
    ws.write("support/far.xml", userNaming("far.xsd"));
    ws.write("support/far.xsd", "<f/>\n");
    ws.write("support/given.xsd", "<g/>\n");
    RunResult r = ws.run({"resolve", c.xml, c.xsd, c.quiet},
                         c.support ? std::optional<std::string>(ws.file("support")) : std::nullopt);
    // The environment path is absolute; paths found here are as given, so relative.
    EXPECT_EQ(stepStatus(r.output, "resolve"), c.status) << r.output;
    auto expand = [&](const std::string& path) { return path.rfind("support/", 0) == 0 ? ws.file(path) : path; };
    if (!c.xmlFound.empty()) {
        EXPECT_NE(r.output.find(" xml=" + expand(c.xmlFound) + " "), std::string::npos) << r.output;
    }
    if (!c.xsdFound.empty()) {
        EXPECT_NE(r.output.find(" xsd=" + expand(c.xsdFound) + "\n"), std::string::npos) << r.output;
    }
    for (const std::string& text : c.printed)
        EXPECT_NE(r.output.find(text), std::string::npos) << text << " in\n" << r.output;
    for (const std::string& text : c.notPrinted)
        EXPECT_EQ(r.output.find(text), std::string::npos) << text << " in\n" << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Documents, Resolve,
    ::testing::Values(
        ResolveCase{"CapitalExtensionAndBareSchema", "u.XML", "-", "0", false, 0, "u.XML", "q.xsd",
                    {kXmlHere, kXsdHere}},
        ResolveCase{"Quiet", "u.XML", "-", "1", false, 0, "u.XML", "q.xsd", {}, {kXmlHere, kXsdHere}},
        ResolveCase{"NoExtension", "u.txt", "-", "0", false, 40, "", "",
                    {"ERROR : Invalid file name. xml file extension missing."}},
        ResolveCase{"CommandLineTooLong", std::string(4092, 'a') + ".xml", "-", "0", false, 1, "", "",
                    {"ERROR: CommandLine length should be less than 4096 characters \n"}},
        ResolveCase{"SchemaBesideTheXml", "dir/bare.xml", "-", "0", false, 0, "dir/bare.xml", "dir/u.xsd", {kXsdHere}},
        ResolveCase{"DottedSchemaBesideTheXml", "dir/dotted.xml", "-", "0", false, 0, "", "dir/./u.xsd", {}},
        // A schema with a directory part is taken from the current directory, then refused by the lookup.
        ResolveCase{"SchemaWithDirectoryPart", "dir/parted.xml", "-", "0", true, 0, "", "sub/x.xsd", {kXsdHere}},
        ResolveCase{"XmlUnderTheVariable", "far.xml", "-", "0", true, 0, "support/far.xml", "support/far.xsd",
                    {kXmlThere, kXsdHere}},
        ResolveCase{"XmlNowhere", "absent.xml", "-", "0", true, 60, "", "", {"ERROR: XML file not found"}},
        ResolveCase{"XmlNowhereWithoutVariable", "absent.xml", "-", "0", false, 60, "", "",
                    {"ERROR: XML file not found"}},
        ResolveCase{"SchemaLocationTooLong", "dir/long.xml", "-", "0", true, 61, "", "", {"ERROR: XSD file not found"}},
        ResolveCase{"NoSchemaLocation", "dir/nolocation.xml", "-", "0", false, 36, "", "", {}},
        ResolveCase{"GivenXsd", "u.XML", "q.xsd", "0", false, 0, "", "q.xsd", {}},
        ResolveCase{"GivenXsdUnderTheVariable", "u.XML", "given.xsd", "0", true, 0, "", "support/given.xsd",
                    {kXsdThere}},
        ResolveCase{"GivenXsdTooLong", "u.XML", std::string(5000, 'g'), "0", true, 61, "", "",
                    {"ERROR: XSD file not found"}}),
    [](const auto& info) { return std::string(info.param.what); });

// A schema named with a directory part that is not in the current directory is refused: 61.
TEST(ResolveSchema, DirectoryPartNotHereIsRefused) {
    Workspace ws;
    ws.write("dir/parted.xml", userNaming("sub/x.xsd"));
    ws.write("support/x.xsd", "<x/>\n");
    RunResult r = ws.run({"resolve", "dir/parted.xml", "-", "0"}, ws.file("support"));
    EXPECT_EQ(stepStatus(r.output, "resolve"), 61) << r.output;
    EXPECT_NE(r.output.find("ERROR: XSD file not found"), std::string::npos);
}

struct ModuleLookupCase {
    const char* what;
    std::vector<std::string> steps;
    std::string support; // relative to the workspace unless it starts with '/'; kNoSupport: unset
    long status;
    std::vector<std::string> logged;
};

void PrintTo(const ModuleLookupCase& c, std::ostream* os) {
    *os << c.what;
}

class ModuleLookup : public ::testing::TestWithParam<ModuleLookupCase> {};

TEST_P(ModuleLookup, StatusAndLogLines) {
    const ModuleLookupCase& c = GetParam();
    Workspace ws;
    ws.fixture("ostrel_user.xml", "support/far_ostrel.xml");
    ws.fixture("ostrel.xsd", "support/ostrel.xsd");
    ws.fixture("quenza.xsd");
    std::vector<std::string> steps = {"log", "lookup.log"};
    steps.insert(steps.end(), c.steps.begin(), c.steps.end());
    std::optional<std::string> support;
    if (c.support != kNoSupport)
        support = c.support[0] == '/' ? c.support : ws.file(c.support);
    RunResult r = ws.run(steps, support);
    // The last conversion of the steps is the one looked at.
    const bool back = std::find(c.steps.begin(), c.steps.end(), "bin2xml") != c.steps.end();
    EXPECT_EQ(stepStatus(r.output, back ? "bin2xml" : "xml2bin"), c.status) << r.output;
    const std::string log = ws.read("lookup.log");
    for (const std::string& line : c.logged)
        EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
}

INSTANTIATE_TEST_SUITE_P(
    Families, ModuleLookup,
    ::testing::Values(
        ModuleLookupCase{"QuenzaDirectoryPart",
                         {"setxsd", "quenza.xsd", "open", "6", "-", "xml2bin", "sub/far.xml", "-", "o.bin"},
                         "support",
                         53,
                         {"zelkor_hal_GEN3::retrieveXmlFromEnv : File not found at specified location",
                          "zelkor_hal_GEN3::retrieveXmlFromEnv : File not found at Env Variable path location"}},
        ModuleLookupCase{"QuenzaUnset",
                         {"setxsd", "quenza.xsd", "open", "6", "-", "xml2bin", "far.xml", "-", "o.bin"},
                         kNoSupport,
                         52,
                         {"retrieveXmlFromEnv : ZELKOR_SUPPORT_FILES Environmental variable is not populated **** "
                          "FAILED ****"}},
        ModuleLookupCase{"QuenzaNoXsdName",
                         {"setxsd", "-", "open", "6", "-", "xml2bin", "support/far_ostrel.xml", "-", "o.bin"},
                         kNoSupport,
                         1,
                         {"zelkor_hal_xml2bin : XSD File name is not present in variable"}},
        ModuleLookupCase{"OstrelMissing",
                         {"setxsd", "-", "open", "5", "-", "xml2bin", "absent.xml", "-", "o.bin"},
                         "support",
                         53,
                         {"zelkor_hal_OSTREL::zelkor_hal_xml2bin : Unable to open absent.xml file**** FAILED ****"}},
        ModuleLookupCase{"OstrelTooLong",
                         {"setxsd", "-", "open", "5", "-", "xml2bin", "absent.xml", "-", "o.bin"},
                         "/" + std::string(505, 'd'),
                         58,
                         {"greater that 512 characters **** FAILED ****"}},
        ModuleLookupCase{"OstrelFoundUnderTheVariable",
                         {"setxsd", "-", "open", "5", "-", "xml2bin", "far_ostrel.xml", "-", "o.bin"},
                         "support",
                         0,
                         {"zelkor_hal_OSTREL::zelkor_hal_xml2bin : ZELKOR_SUPPORT_FILES is set as '",
                          "zelkor_hal_OSTREL::zelkor_hal_xml2bin : 'ostrel.xsd' Schema file is not present under "
                          "current location"}},
        // The template found under the variable is the one the conversion back reads.
        ModuleLookupCase{"OstrelTemplateUnderTheVariable",
                         {"setxsd", "-", "open", "5", "-", "xml2bin", "far_ostrel.xml", "-", "o.bin", "bin2xml",
                          "far_ostrel.xml", "back.xml", "o.bin"},
                         "support",
                         0,
                         {}}),
    [](const auto& info) { return std::string(info.param.what); });

} // namespace
