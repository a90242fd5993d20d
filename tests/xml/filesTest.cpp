// What the conversions leave in the working directory and in TMPDIR, over successes and failures: the
// directory sees nothing created or deleted but the output asked for, files of the user's that share the
// intermediates' old names stay as they were, and TMPDIR ends empty.
#include "driverSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using namespace xmltest;

const std::string kUsersOwn = "the user's own file\n";

// A Quenza user document with one change to its text.
std::string quenzaUserWith(const std::string& from, const std::string& to) {
    std::string text;
    Workspace scratch;
    scratch.fixture("quenza_user.xml");
    text = scratch.read("quenza_user.xml");
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

struct FileCase {
    const char* name;
    std::vector<std::string> steps;
    const char* step;    // the step whose status is checked
    long status;
    const char* output;  // the output asked for (the only name the directory may see come or go)
    bool outputStays;    // whether it exists afterwards
    bool support = false; // ZELKOR_SUPPORT_FILES set to the empty directory "support"
    bool longSupport = false;
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

class Files : public ::testing::TestWithParam<FileCase> {};

TEST_P(Files, OnlyTheRequestedOutputComesOrGoes) {
    const FileCase& c = GetParam();
    Workspace ws;
    for (const char* name : {"ostrel_user.xml", "ostrel.xsd", "quenza_user.xml", "quenza.xsd"})
        ws.fixture(name);
    ws.write("peppered.xml", kUsersOwn);
    ws.write("out.xml", kUsersOwn);
    ws.write("bad.xml", "<MANUFACTURING><pageA></MANUFACTURING>\n");
    ws.write("no_product.xml", quenzaUserWith(" Product=\"Quenza\"", ""));
    ws.write("unknown_stamp.xml", quenzaUserWith("<value>CAFEF00D</value>", "<value USE=\"nowhere\">00</value>"));
    ws.write("undeclared.xml", quenzaUserWith("<pageB>", "<pageZ><value>01</value></pageZ><pageB>"));
    std::filesystem::create_directory(ws.file("support"));
    // The image of ostrel_user.xml, for the conversions back.
    RunResult made = ws.run({"open", "5", "-", "xml2bin", "ostrel_user.xml", "-", "image.bin"});
    ASSERT_EQ(stepStatus(made.output, "xml2bin"), 0) << made.output;

    std::optional<std::string> support;
    if (c.support)
        support = ws.file("support");
    if (c.longSupport)
        support = "/" + std::string(600, 'd');
    RunResult r = ws.run(c.steps, support);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(stepStatus(r.output, c.step), c.status) << r.output;

    // Besides the output, only xml2xml's temporary beside it, renamed onto it (see below).
    auto allowed = [&](const std::string& name) {
        return name == c.output || (name.rfind(std::string(c.output) + ".", 0) == 0 && !ws.exists(name));
    };
    for (const auto* names : {&r.created, &r.deleted, &r.movedFrom, &r.movedTo})
        for (const std::string& name : *names)
            EXPECT_TRUE(allowed(name)) << name << " came or went in the working directory";
    if (c.output[0] != '/') {
        EXPECT_EQ(ws.exists(c.output), c.outputStays);
    }
    EXPECT_EQ(ws.read("peppered.xml"), kUsersOwn);
    EXPECT_EQ(ws.read("out.xml"), kUsersOwn);
    EXPECT_TRUE(ws.tmpEntries().empty());
}

std::vector<std::string> ostrel(std::vector<std::string> steps) {
    steps.insert(steps.begin(), {"open", "5", "-"});
    return steps;
}
std::vector<std::string> quenza(std::vector<std::string> steps) {
    steps.insert(steps.begin(), {"setxsd", "quenza.xsd", "open", "6", "-"});
    return steps;
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, Files,
    ::testing::Values(
        FileCase{"OstrelToImage", ostrel({"xml2bin", "ostrel_user.xml", "-", "new.bin"}), "xml2bin", 0, "new.bin", true},
        FileCase{"QuenzaToImage", quenza({"xml2bin", "quenza_user.xml", "-", "new.bin"}), "xml2bin", 0, "new.bin", true},
        FileCase{"OstrelBack", ostrel({"bin2xml", "ostrel_user.xml", "new.xml", "image.bin"}), "bin2xml", 0, "new.xml",
                 true},
        FileCase{"QuenzaBack", quenza({"bin2xml", "quenza_user.xml", "new.xml", "image.bin"}), "bin2xml", 0,
                 "new.xml", true},
        FileCase{"NameWithoutExtension", quenza({"xml2bin", "quenza_user.xm", "-", "new.bin"}), "xml2bin", 40,
                 "new.bin", true},
        FileCase{"NoVariable", ostrel({"xml2bin", "absent.xml", "-", "new.bin"}), "xml2bin", 52, "new.bin", true},
        FileCase{"NotUnderVariable", quenza({"xml2bin", "absent.xml", "-", "new.bin"}), "xml2bin", 53, "new.bin", true,
                 true},
        FileCase{"VariableTooLong", ostrel({"xml2bin", "absent.xml", "-", "new.bin"}), "xml2bin", 58, "new.bin", true,
                 false, true},
        FileCase{"Malformed", quenza({"xml2bin", "bad.xml", "-", "new.bin"}), "xml2bin", 41, "new.bin", true},
        FileCase{"NoProduct", quenza({"xml2bin", "no_product.xml", "-", "new.bin"}), "xml2bin", 36, "new.bin", true},
        FileCase{"UnknownStamp", quenza({"xml2bin", "unknown_stamp.xml", "-", "new.bin"}), "xml2bin", 40, "new.bin",
                 true},
        FileCase{"UndeclaredPage", quenza({"xml2bin", "undeclared.xml", "-", "new.bin"}), "xml2bin", 40, "new.bin",
                 true},
        FileCase{"ImageOnFullDevice", ostrel({"xml2bin", "ostrel_user.xml", "-", "/dev/full"}), "xml2bin", 1,
                 "/dev/full", true},
        FileCase{"XmlOnFullDevice", quenza({"bin2xml", "quenza_user.xml", "/dev/full", "image.bin"}), "bin2xml", 1,
                 "/dev/full", true},
        FileCase{"MalformedTemplate", ostrel({"bin2xml", "bad.xml", "new.xml", "image.bin"}), "bin2xml", 41, "new.xml",
                 false},
        // The output is created before the image is read; an image that cannot be read leaves none.
        FileCase{"UnreadableImage", quenza({"bin2xml", "quenza_user.xml", "new.xml", "."}), "bin2xml", 43, "new.xml",
                 false},
        FileCase{"ResolvedXml", {"xml2xml", "quenza_user.xml", "-", "new.xml"}, "xml2xml", 0, "new.xml", true},
        FileCase{"ResolvedXmlOfNoProduct", {"xml2xml", "no_product.xml", "quenza.xsd", "new.xml"}, "xml2xml", 36,
                 "new.xml", false},
        FileCase{"Validation", {"validate", "quenza_user.xml", "-"}, "validate", 0, "none", false}),
    [](const auto& info) { return std::string(info.param.name); });

// xml2xml writes its result beside outName and renames it: the only other name the directory sees is that
// temporary one, and it is gone afterwards.
TEST(FilesOfXml2xml, ResultReplacesOutNameWhole) {
    Workspace ws;
    ws.fixture("quenza_user.xml");
    ws.fixture("quenza.xsd");
    ws.write("new.xml", kUsersOwn);
    RunResult r = ws.run({"xml2xml", "quenza_user.xml", "-", "new.xml"});
    ASSERT_EQ(stepStatus(r.output, "xml2xml"), 0) << r.output;
    EXPECT_EQ(r.deleted, std::vector<std::string>{});
    ASSERT_EQ(r.movedTo, std::vector<std::string>{"new.xml"});
    ASSERT_EQ(r.created.size(), 1u);
    EXPECT_EQ(r.created[0].rfind("new.xml.", 0), 0u) << r.created[0];
    EXPECT_EQ(r.movedFrom, r.created);
    EXPECT_FALSE(ws.exists(r.created[0]));
    EXPECT_NE(ws.read("new.xml"), kUsersOwn);
    EXPECT_TRUE(schemaValid(ws.file("new.xml"), ws.file("quenza.xsd")));
}

} // namespace

namespace {

// Without a scratch directory no conversion starts, and none falls back to the working directory.
TEST(FilesWithoutScratch, EveryConversionRefuses) {
    Workspace ws;
    for (const char* name : {"ostrel_user.xml", "ostrel.xsd", "quenza_user.xml", "quenza.xsd"})
        ws.fixture(name);
    RunResult r = ws.run({"open", "5", "-", "xml2bin", "ostrel_user.xml", "-", "a.bin", "close", "setxsd", "quenza.xsd",
                          "open", "6", "-", "xml2bin", "quenza_user.xml", "-", "b.bin", "validate", "quenza_user.xml",
                          "-"},
                         std::nullopt, ws.file("missing"));
    EXPECT_EQ(stepStatuses(r.output, "xml2bin"), (std::vector<long>{1, 1})) << r.output;
    EXPECT_EQ(stepStatus(r.output, "validate"), 1) << r.output;
    std::vector<std::string> created = r.created;
    std::sort(created.begin(), created.end());
    EXPECT_EQ(created, (std::vector<std::string>{"a.bin", "b.bin"}));
    EXPECT_TRUE(r.deleted.empty());
}

} // namespace
