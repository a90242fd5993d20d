// The resolved XML of a user's document (product, QUERY answers, schema check), the manufacturing XML
// validation, and the core's boundary around the conversions, through the shared library.
#include "driverSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace xmltest;

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The Quenza fixtures in a workspace, with any.xsd: the same schema with a free Product.
void quenzaFiles(Workspace& ws) {
    ws.fixture("quenza_user.xml");
    ws.fixture("quenza.xsd");
    ws.write("any.xsd", replaced(ws.read("quenza.xsd"), "fixed=\"Quenza\"", ""));
}

std::string userWithProduct(Workspace& ws, const std::string& product) {
    std::string text = replaced(ws.read("quenza_user.xml"), "quenza.xsd", "any.xsd");
    return replaced(text, "Product=\"Quenza\"", product.empty() ? "" : "Product=\"" + product + "\"");
}

struct ProductCase {
    const char* what;
    std::string product;
    long status;
    long chip;
};

void PrintTo(const ProductCase& c, std::ostream* os) {
    *os << c.what;
}

class Products : public ::testing::TestWithParam<ProductCase> {};

TEST_P(Products, ChipTypeOfTheProduct) {
    const ProductCase& c = GetParam();
    Workspace ws;
    quenzaFiles(ws);
    ws.write("in.xml", userWithProduct(ws, c.product));
    RunResult r = ws.run({"xml2xml", "in.xml", "-", "res.xml"});
    EXPECT_NE(r.output.find("xml2xml status=" + std::to_string(c.status) + " chip=" + std::to_string(c.chip)),
              std::string::npos)
        << r.output;
    EXPECT_EQ(ws.exists("res.xml"), c.status == 0);
    if (c.status == 0) {
        EXPECT_TRUE(schemaValid(ws.file("res.xml"), ws.file("any.xsd")));
    }
}

INSTANTIATE_TEST_SUITE_P(Xml2xml, Products,
                         ::testing::Values(ProductCase{"Ostrel", "Ostrel", 0, 2},
                                           ProductCase{"QuenzaInLowerCase", "quenza", 0, 4},
                                           ProductCase{"Dax", "Dax", 0, 5}, ProductCase{"Palx", "Palx", 36, 0},
                                           ProductCase{"None", "", 36, 0}),
                         [](const auto& info) { return std::string(info.param.what); });

struct QueryCase {
    const char* what;
    std::string field;   // the count element as the user writes it
    std::string answers; // the driver's query table
    long status;
    std::string countText; // of the result, when status is 0
    std::string queryAfter;
    bool asked;
};

void PrintTo(const QueryCase& c, std::ostream* os) {
    *os << c.what;
}

class Queries : public ::testing::TestWithParam<QueryCase> {};

TEST_P(Queries, AnsweredThroughTheCallback) {
    const QueryCase& c = GetParam();
    Workspace ws;
    quenzaFiles(ws);
    ws.write("in.xml", replaced(ws.read("quenza_user.xml"), "<count FORMAT=\"Dec\">4660</count>", c.field));
    RunResult r = ws.run({"query", c.answers, "xml2xml", "in.xml", "-", "res.xml"});
    EXPECT_EQ(stepStatus(r.output, "xml2xml"), c.status) << r.output;
    // The type comes from the XSD, so the length is 0.
    EXPECT_EQ(r.output.find("query type=DWORD length=0\n") != std::string::npos, c.asked) << r.output;
    EXPECT_EQ(ws.exists("res.xml"), c.status == 0);
    if (c.status != 0)
        return;
    const std::string result = ws.read("res.xml");
    EXPECT_NE(result.find(c.countText), std::string::npos) << result;
    EXPECT_NE(result.find(c.queryAfter), std::string::npos) << result;
    EXPECT_TRUE(schemaValid(ws.file("res.xml"), ws.file("quenza.xsd")));
}

INSTANTIATE_TEST_SUITE_P(
    Xml2xml, Queries,
    ::testing::Values(
        QueryCase{"HexAnswer", "<count QUERY=\"True\">0</count>", "DWORD=0x1234", 0, ">1234</count>",
                  "QUERY=\"FALSE\"", true},
        QueryCase{"NotAsked", "<count QUERY=\"FALSE\">00000007</count>", "DWORD=0x1234", 0, ">00000007</count>",
                  "QUERY=\"FALSE\"", false},
        QueryCase{"CallbackStatusPassed", "<count QUERY=\"TRUE\">0</count>", "DWORD=!7", 7, "", "", true},
        QueryCase{"InvalidAnswer", "<count QUERY=\"TRUE\">0</count>", "DWORD=zz", 49, "", "", true},
        QueryCase{"NoCallback", "<count QUERY=\"TRUE\">0</count>", "none", 5, "", "", false},
        QueryCase{"NoCallbackNoQuery", "<count>00000009</count>", "none", 0, ">00000009</count>", "<count>", false}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Xml2xml, SchemaInvalidDocumentIs36AndWritesNothing) {
    Workspace ws;
    quenzaFiles(ws);
    ws.write("in.xml", replaced(ws.read("quenza_user.xml"), "<pageB>", "<bogus/><pageB>"));
    RunResult r = ws.run({"xml2xml", "in.xml", "-", "res.xml"});
    EXPECT_EQ(stepStatus(r.output, "xml2xml"), 36) << r.output;
    EXPECT_FALSE(ws.exists("res.xml"));
}

// A failure after the checks leaves whatever outName was, even when it is the input itself.
TEST(Xml2xml, FailureLeavesOutNameAsItWas) {
    Workspace ws;
    quenzaFiles(ws);
    ws.write("in.xml", replaced(ws.read("quenza_user.xml"), "<count FORMAT=\"Dec\">4660</count>",
                                "<count QUERY=\"TRUE\">0</count>"));
    const std::string input = ws.read("in.xml");
    ws.write("older.xml", "an older result\n");
    RunResult r = ws.run({"query", "DWORD=!9", "xml2xml", "in.xml", "-", "in.xml", "xml2xml", "in.xml", "-",
                          "older.xml"});
    EXPECT_EQ(stepStatuses(r.output, "xml2xml"), (std::vector<long>{9, 9})) << r.output;
    EXPECT_EQ(ws.read("in.xml"), input);
    EXPECT_EQ(ws.read("older.xml"), "an older result\n");
}

// A write that fails is a failure; a device that is not a regular file is written directly and kept.
TEST(Xml2xml, OutputDevices) {
    Workspace ws;
    quenzaFiles(ws);
    RunResult r = ws.run({"xml2xml", "quenza_user.xml", "-", "/dev/full", "xml2xml", "quenza_user.xml", "-",
                          "/dev/null"});
    EXPECT_EQ(stepStatuses(r.output, "xml2xml"), (std::vector<long>{1, 0})) << r.output;
    EXPECT_NE(r.output.find("Unable to open file :/dev/full\n"), std::string::npos) << r.output;
    EXPECT_TRUE(std::filesystem::exists("/dev/null"));
}

// A file that xml2xml wrote is converted without resolving its stamps again; any other file is resolved,
// so a USE left open there is an error rather than a silent default.
TEST(Xml2xml, StampsAreSkippedOnlyForTheFileItWrote) {
    Workspace ws;
    quenzaFiles(ws);
    ws.write("open_use.xml", replaced(ws.read("quenza_user.xml"), "<value>CAFEF00D</value>",
                                      "<value USE=\"nowhere\">00000000</value>"));
    RunResult r = ws.run({"xml2xml", "quenza_user.xml", "-", "res.xml", "open", "6", "-", "xml2bin", "res.xml", "-",
                          "a.bin", "xml2bin", "open_use.xml", "-", "b.bin"});
    EXPECT_EQ(stepStatus(r.output, "xml2xml"), 0) << r.output;
    EXPECT_EQ(stepStatuses(r.output, "xml2bin"), (std::vector<long>{0, 40})) << r.output;
}

struct ValidationCase {
    const char* what;
    std::string from, to;
    long status;
};

void PrintTo(const ValidationCase& c, std::ostream* os) {
    *os << c.what;
}

class Validation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(Validation, SchemaThenFormat) {
    const ValidationCase& c = GetParam();
    Workspace ws;
    quenzaFiles(ws);
    ws.write("in.xml", replaced(ws.read("quenza_user.xml"), c.from, c.to));
    RunResult r = ws.run({"validate", "in.xml", "-"});
    EXPECT_EQ(stepStatus(r.output, "validate"), c.status) << r.output;
    EXPECT_TRUE(ws.tmpEntries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    UpMfg, Validation,
    ::testing::Values(ValidationCase{"Valid", "<label>", "<label>", 0},
                      ValidationCase{"SchemaInvalid", "<pageB>", "<bogus/><pageB>", 36},
                      ValidationCase{"DecimalAbove32Bits", ">4660<", ">99999999999<", 40}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- the core's boundary ----

TEST(Boundary, NullAndClosedHandles) {
    Workspace ws;
    quenzaFiles(ws);
    ws.fixture("ostrel_user.xml");
    ws.fixture("ostrel.xsd");
    RunResult r = ws.run({"log", "core.log", "nullhandle", "xml2bin", "ostrel_user.xml", "-", "a.bin", "bin2xml",
                          "ostrel_user.xml", "b.xml", "a.bin", "open", "5", "-", "close", "xml2bin",
                          "ostrel_user.xml", "-", "a.bin", "bin2xml", "ostrel_user.xml", "b.xml", "a.bin"});
    EXPECT_EQ(stepStatuses(r.output, "xml2bin"), (std::vector<long>{5, 1})) << r.output;
    EXPECT_EQ(stepStatuses(r.output, "bin2xml"), (std::vector<long>{5, 1})) << r.output;
    EXPECT_NE(r.output.find("zelkor_xml2bin: invalid handle\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("zelkor_bin2xml: invalid handle\n"), std::string::npos) << r.output;
    const std::string log = ws.read("core.log");
    EXPECT_NE(log.find("zelkor::zelkor_xml2bin : Handle is NULL **** FAILED ****"), std::string::npos) << log;
    EXPECT_NE(log.find("zelkor::zelkor_bin2xml : Handle is NULL **** FAILED ****"), std::string::npos) << log;
    EXPECT_FALSE(ws.exists("b.xml"));
}

TEST(Boundary, VerboseDumpsEachPageHeader) {
    Workspace ws;
    ws.fixture("ostrel_user.xml");
    ws.fixture("ostrel.xsd");
    RunResult r = ws.run({"verbose", "open", "5", "-", "xml2bin", "ostrel_user.xml", "-", "a.bin"});
    EXPECT_EQ(stepStatus(r.output, "xml2bin"), 0) << r.output;
    EXPECT_NE(r.output.find("PageId        a01 \n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("PageId        b02 \n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("PageLength    20 \n"), std::string::npos) << r.output;
}

struct FilterCase {
    const char* what;
    const char* filter;
    const char* unitA;
    const char* unitB;
    long status;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << c.what;
}

class Filters : public ::testing::TestWithParam<FilterCase> {};

TEST_P(Filters, UnitAndGeneralPages) {
    const FilterCase& c = GetParam();
    Workspace ws;
    quenzaFiles(ws);
    std::string text = replaced(ws.read("quenza_user.xml"), "<pageA>", std::string("<pageA") + c.unitA + ">");
    ws.write("in.xml", replaced(text, "<pageB>", std::string("<pageB") + c.unitB + ">"));
    RunResult r = ws.run({c.filter, "setxsd", "quenza.xsd", "open", "6", "-", "xml2bin", "in.xml", "-", "a.bin"});
    EXPECT_EQ(stepStatus(r.output, "xml2bin"), c.status) << r.output;
}

INSTANTIATE_TEST_SUITE_P(Switches, Filters,
                         ::testing::Values(FilterCase{"UnitWithoutUnitPage", "unit", "", "", 54},
                                           FilterCase{"GeneralWithOnlyUnitPages", "general", " UNIT=\"TRUE\"",
                                                      " UNIT=\"TRUE\"", 55},
                                           FilterCase{"UnitWithAUnitPage", "unit", " UNIT=\"TRUE\"", "", 0}),
                         [](const auto& info) { return std::string(info.param.what); });

// An undeclared page is refused with a status, and the process converts the next document.
TEST(Boundary, UndeclaredPageIsAStatusNotACrash) {
    Workspace ws;
    quenzaFiles(ws);
    ws.write("undeclared.xml", replaced(ws.read("quenza_user.xml"), "<pageB>", "<pageQ><x>1</x></pageQ><pageB>"));
    RunResult r = ws.run({"setxsd", "quenza.xsd", "open", "6", "-", "xml2bin", "undeclared.xml", "-", "a.bin",
                          "xml2bin", "quenza_user.xml", "-", "b.bin", "close"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(stepStatuses(r.output, "xml2bin"), (std::vector<long>{40, 0})) << r.output;
    EXPECT_NE(r.output.find("pageQ"), std::string::npos) << r.output;
    EXPECT_EQ(stepStatus(r.output, "close"), 0);
}

} // namespace

namespace {

// A document of product Ostrel whose direct build fails: the Ostrel module passes the engine's status on,
// the Quenza module answers 1.
TEST(Boundary, DirectBuildFailureOnEitherHandle) {
    Workspace ws;
    ws.fixture("ostrel_user.xml");
    ws.fixture("ostrel.xsd");
    ws.write("wide.xml", replaced(ws.read("ostrel_user.xml"), ">4660<", ">99999999999<"));
    RunResult r = ws.run({"open", "5", "-", "xml2bin", "wide.xml", "-", "a.bin", "close", "setxsd", "ostrel.xsd",
                          "open", "6", "-", "xml2bin", "wide.xml", "-", "b.bin", "close"});
    EXPECT_EQ(stepStatuses(r.output, "xml2bin"), (std::vector<long>{40, 1})) << r.output;
}

} // namespace

namespace {

// A null path or file is refused with 5 before anything is looked up, parsed or written.
TEST(Boundary, NullPathsAndFilesAre5) {
    Workspace ws;
    quenzaFiles(ws);
    ws.fixture("ostrel_user.xml");
    ws.fixture("ostrel.xsd");
    for (const char* code : {"5", "6"}) {
        SCOPED_TRACE(code);
        RunResult r = ws.run({"setxsd", "quenza.xsd", "open", code, "-", "xml2bin", "-", "-", "a.bin", "xml2bin",
                              "ostrel_user.xml", "-", "-", "bin2xml", "-", "b.xml", "a.bin", "bin2xml",
                              "ostrel_user.xml", "-", "a.bin", "bin2xml", "ostrel_user.xml", "b.xml", "-"});
        EXPECT_EQ(stepStatuses(r.output, "xml2bin"), (std::vector<long>{5, 5})) << r.output;
        EXPECT_EQ(stepStatuses(r.output, "bin2xml"), (std::vector<long>{5, 5, 5})) << r.output;
        EXPECT_FALSE(ws.exists("b.xml"));
        EXPECT_TRUE(ws.tmpEntries().empty());
    }
    RunResult r = ws.run({"xml2xml", "-", "-", "res.xml", "xml2xml", "quenza_user.xml", "-", "-", "validate", "-",
                          "-", "resolve", "-", "-", "0", "retrieve", "-"});
    EXPECT_EQ(stepStatuses(r.output, "xml2xml"), (std::vector<long>{5, 5})) << r.output;
    EXPECT_EQ(stepStatus(r.output, "validate"), 5) << r.output;
    EXPECT_EQ(stepStatus(r.output, "resolve"), 5) << r.output;
    EXPECT_EQ(stepStatus(r.output, "retrieve"), 5) << r.output;
}

} // namespace
