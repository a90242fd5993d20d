// Each family's road there and back through the shared library, in one process per road: user XML to
// image, image back to XML with the user XML as template, and that XML to the same image again.
#include "driverSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace xmltest;

// The two pages of every test product, laid out by hand.
const std::vector<uint8_t> kPageA = {
    0xC0, 0xA8, 0x01, 0x14, // ipAddr 192.168.1.20
    0x34, 0x12, 0x00, 0x00, // count 4660 given in decimal: 0x1234
    'a',  'b',  ' ',  ' ',  // label, CHAR of 4, blank padded
    0xA3, 0x00, 0x00, 0x00, // flags: low 3 in bits 0-3, high A in bits 4-7
};
const std::vector<uint8_t> kPageB = {0x0D, 0xF0, 0xFE, 0xCA}; // value CAFEF00D

std::vector<uint8_t> expectedImage() {
    std::vector<uint8_t> image = {0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01};
    // flags, checksum (length, id and data summed), reserved, length = data + 4, id
    const std::vector<uint8_t> headerA = {0xF9, 0x88, 0xFF, 0xFF, 0x14, 0x00, 0x01, 0x0A};
    const std::vector<uint8_t> headerB = {0xF9, 0xDA, 0xFF, 0xFF, 0x08, 0x00, 0x02, 0x0B};
    for (const auto* part : {&headerA, &kPageA, &headerB, &kPageB})
        image.insert(image.end(), part->begin(), part->end());
    return image;
}

struct Road {
    const char* name;
    const char* openCode;
    const char* optionXsd; // the option block's XSD, "-" for none
    const char* user;
    const char* xsd;
    const char* expected;
};

class RoundTrip : public ::testing::TestWithParam<Road> {};

TEST_P(RoundTrip, ImageByHandThenTheSameXmlAndTheSameImage) {
    const Road& road = GetParam();
    Workspace ws;
    ws.fixture(road.user);
    ws.fixture(road.xsd);
    RunResult r = ws.run({"setxsd", road.optionXsd, "open", road.openCode, "-", "xml2bin", road.user, "-", "first.bin",
                          "bin2xml", road.user, "back.xml", "first.bin", "xml2bin", "back.xml", "-", "second.bin",
                          "close"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(stepStatuses(r.output, "xml2bin"), (std::vector<long>{0, 0})) << r.output;
    EXPECT_EQ(stepStatus(r.output, "bin2xml"), 0) << r.output;

    const std::vector<uint8_t> first = bytesOf(ws.read("first.bin"));
    EXPECT_EQ(first, expectedImage());
    std::vector<WalkedPage> pages = walkImage(first);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].id, 0x0A01);
    EXPECT_EQ(pages[0].data, kPageA);
    EXPECT_EQ(pages[1].id, 0x0B02);
    EXPECT_EQ(pages[1].data, kPageB);

    EXPECT_TRUE(schemaValid(ws.file("back.xml"), ws.file(road.xsd))) << ws.read("back.xml");
    EXPECT_EQ(canonicalForm(ws.file("back.xml")), canonicalForm(fixturePath(road.expected)));
    EXPECT_EQ(bytesOf(ws.read("second.bin")), first);
    EXPECT_TRUE(ws.tmpEntries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Families, RoundTrip,
    ::testing::Values(Road{"Ostrel", "5", "-", "ostrel_user.xml", "ostrel.xsd", "ostrel_expected.xml"},
                      Road{"Quenza", "6", "quenza.xsd", "quenza_user.xml", "quenza.xsd", "quenza_expected.xml"},
                      Road{"Dax", "6", "dax.xsd", "dax_user.xml", "dax.xsd", "dax_expected.xml"},
                      Road{"OstrelProductOnQuenza", "6", "ostrel.xsd", "ostrel_user.xml", "ostrel.xsd",
                           "ostrel_expected.xml"}),
    [](const auto& info) { return std::string(info.param.name); });

// One process chaining xml2xml, both directions and a second family gives what separate processes give.
TEST(ChainedRun, EqualsSeparateRuns) {
    Workspace ws;
    for (const char* name : {"quenza_user.xml", "quenza.xsd", "ostrel_user.xml", "ostrel.xsd"})
        ws.fixture(name);
    RunResult chained = ws.run({"xml2xml", "quenza_user.xml", "-", "c_resolved.xml", "open", "6", "-", "xml2bin",
                                "c_resolved.xml", "-", "c_a.bin", "bin2xml", "c_resolved.xml", "c_back.xml", "c_a.bin",
                                "xml2bin", "c_back.xml", "-", "c_b.bin", "close", "setxsd", "-", "open", "5", "-",
                                "xml2bin", "ostrel_user.xml", "-", "c_o.bin", "close"});
    ASSERT_EQ(chained.exitCode, 0) << chained.output;
    EXPECT_EQ(stepStatuses(chained.output, "xml2bin"), (std::vector<long>{0, 0, 0})) << chained.output;

    RunResult one = ws.run({"xml2xml", "quenza_user.xml", "-", "s_resolved.xml"});
    RunResult two = ws.run({"setxsd", "quenza.xsd", "open", "6", "-", "xml2bin", "s_resolved.xml", "-", "s_a.bin"});
    RunResult three = ws.run({"setxsd", "quenza.xsd", "open", "6", "-", "bin2xml", "s_resolved.xml", "s_back.xml",
                              "s_a.bin"});
    RunResult four = ws.run({"setxsd", "quenza.xsd", "open", "6", "-", "xml2bin", "s_back.xml", "-", "s_b.bin"});
    RunResult five = ws.run({"open", "5", "-", "xml2bin", "ostrel_user.xml", "-", "s_o.bin"});
    for (const RunResult* r : {&one, &two, &three, &four, &five})
        ASSERT_EQ(r->exitCode, 0) << r->output;
    EXPECT_EQ(ws.read("c_resolved.xml"), ws.read("s_resolved.xml"));
    EXPECT_EQ(ws.read("c_a.bin"), ws.read("s_a.bin"));
    EXPECT_EQ(ws.read("c_back.xml"), ws.read("s_back.xml"));
    EXPECT_EQ(ws.read("c_b.bin"), ws.read("s_b.bin"));
    EXPECT_EQ(ws.read("c_o.bin"), ws.read("s_o.bin"));
    EXPECT_EQ(bytesOf(ws.read("c_o.bin")), expectedImage());
    EXPECT_EQ(ws.read("c_a.bin"), ws.read("c_o.bin"));
}

} // namespace
