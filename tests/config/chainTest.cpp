// The conversion chain end to end on both roads (static pages: user XML and XSD to peppered; dynamic
// pages: default, complete, peppered), there and back twice, with xmllint judging every document.
#include "chainSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace configtest;
using pageengine::XmlDocPtr;

const std::string XSD = fixture("chain/region.xsd");
const std::string USER = fixture("chain/user.xml");
// The same pages for the road of static pages, where the repeatable field has one place.
const std::string STATIC_USER = fixture("chain/static_user.xml");
const std::string PEPPERED_XSD = fixture("peppered.xsd");

// Page 0xFF10 of user.xml as the format lays it out, field by field.
const std::vector<uint8_t> PAGE1_DATA = {
    0x0A, 0x00, 0x00, 0x01,                   // ipAddr 10.0.0.1
    0x78, 0x56, 0x34, 0x12,                   // count 12345678
    0xFF, 0xFF,                               // word 65535, given in decimal
    0x7F,                                     // small
    0xA1, 0xB2, 0xC3, 0xD4,                   // serial, in text order
    0x0C, 0x0B, 0x0A,                         // blob, the text read as one number
    'A',  '&',  'B',  ' ',  '<',  'c',  '>',  // label, CHAR of 7
    'a',  'b',  0x00, 0x00,                   // padded, CHAR_NULL_PAD of 4
    'h',  0x00, 'i',  0x00, 0x00, 0x00,       // wide
    0xA3, 0x00, 0x00, 0x00,                   // flags: low 3, high A
    0x01, 0x02,                               // lanes INDEX 0 and 1
    0x00, 0x00, 0x00, 0x00,                   // reserved0
    0x00, 0x00, 0x00,                         // padding to a multiple of 4
};
// The static page: one lanes, and 4 + 44 data bytes need no padding.
const std::vector<uint8_t> STATIC_PAGE1_DATA = [] {
    std::vector<uint8_t> data(PAGE1_DATA.begin(), PAGE1_DATA.end() - 9);
    data.insert(data.end(), {0x01, 0x00, 0x00, 0x00, 0x00});
    return data;
}();
const std::vector<uint8_t> PAGE2_DATA = {0x0D, 0xF0, 0xFE, 0xCA};

enum class Road { Static, Dynamic };

class ChainTest : public EngineTest, public ::testing::WithParamInterface<Road> {
  protected:
    // user XML -> peppered; every intermediate document must satisfy xmllint.
    void toPeppered(const std::string& user, const std::string& peppered, uint8_t recordPages) {
        XmlDocPtr document = parseFile(user);
        ASSERT_TRUE(document);
        if (GetParam() == Road::Static) {
            ASSERT_EQ(pageengine::createPepperedXml(XSD.c_str(), document.get(), peppered.c_str(), recordPages), 0u);
        } else {
            std::string defaults = dir.file("default.xml");
            std::string complete = dir.file("complete.xml");
            ASSERT_EQ(pageengine::xsdCreateDefaultXml(XSD.c_str(), defaults.c_str(), nullptr), 0u);
            EXPECT_TRUE(xmllintAccepts(defaults, XSD)) << readText(defaults);
            ASSERT_EQ(pageengine::comCreateCompleteXml(defaults.c_str(), document.get(), complete.c_str(), nullptr),
                      0u);
            EXPECT_TRUE(xmllintAccepts(complete, XSD)) << readText(complete);
            ASSERT_EQ(pageengine::defCreatePepperedXml(XSD.c_str(), complete.c_str(), peppered.c_str(), recordPages),
                      0u);
        }
        EXPECT_TRUE(xmllintAccepts(peppered, PEPPERED_XSD)) << readText(peppered);
    }

    void xmlToBin(const std::string& user, const std::string& image) {
        std::string peppered = dir.file("to_bin_peppered.xml");
        toPeppered(user, peppered, 0);
        ASSERT_EQ(pepperedToImage(peppered, image), 0u) << readText(peppered);
    }

    void binToXml(const std::string& user, const std::string& image, const std::string& output) {
        std::string peppered = dir.file("to_xml_peppered.xml");
        toPeppered(user, peppered, 1);
        ASSERT_EQ(imageToXml(user, output, image, peppered), 0u);
        EXPECT_TRUE(xmllintAccepts(output, XSD)) << readText(output);
    }

    ScratchDir dir;
};

TEST_P(ChainTest, ThereAndBackTwiceGivesTheSameImageAndTheSameDocument) {
    pageengine::setTimestampClock(fixedClock);
    ::testing::internal::CaptureStdout();
    std::string bin1 = dir.file("first.bin"), xml1 = dir.file("first.xml");
    std::string bin2 = dir.file("second.bin"), xml2 = dir.file("second.xml");
    const bool statically = GetParam() == Road::Static;
    const std::string& user = statically ? STATIC_USER : USER;
    xmlToBin(user, bin1);
    binToXml(user, bin1, xml1);
    xmlToBin(xml1, bin2);
    binToXml(xml1, bin2, xml2);
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "");

    std::vector<WalkedPage> pages = walkImageIndependently(readBytes(bin1));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].id, 0xFF10);
    EXPECT_EQ(pages[0].data, statically ? STATIC_PAGE1_DATA : PAGE1_DATA);
    EXPECT_EQ(pages[1].id, 0xFE01);
    EXPECT_EQ(pages[1].data, PAGE2_DATA);
    EXPECT_EQ(readBytes(bin1), readBytes(bin2));
    EXPECT_EQ(canonical(xml1), canonical(xml2));

    // The same document without comments and blanks gives the same image.
    std::string minified = dir.file("minified.xml"), bin3 = dir.file("minified.bin");
    std::string text = canonical(user);
    for (std::size_t at; (at = text.find("<!--")) != std::string::npos;)
        text.erase(at, text.find("-->", at) + 3 - at);
    writeText(minified, text);
    ASSERT_EQ(readText(minified).find("<!--"), std::string::npos);
    ::testing::internal::CaptureStdout();
    xmlToBin(minified, bin3);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(readBytes(bin3), readBytes(bin1));

    // The document read back keeps the user's names and values, the decimal field in decimal.
    struct Expected {
        const char* xpath;
        const char* text;
    };
    const Expected fields[] = {
        {"//page1/ipAddr", "10.0.0.1"}, {"//page1/count", "12345678"},  {"//page1/word", "65535"},
        {"//page1/small", "7F"},        {"//page1/serial", "A1B2C3D4"}, {"//page1/blob", "0A0B0C"}, {"//page1/label", "A&B <c>"},
        {"//page1/padded", "ab"},       {"//page1/wide", "hi"},         {"//page1/flags/low", "3"},
        {"//page1/flags/high", "A"},    {"//page2/value", "CAFEF00D"},
    };
    for (const Expected& field : fields)
        EXPECT_EQ(selectText(xml1, field.xpath), field.text) << field.xpath;
    if (statically)
        EXPECT_EQ(selectText(xml1, "//page1/lanes"), "01");
    else
        EXPECT_EQ(selectText(xml1, "//page1/lanes[@INDEX='1']"), "02");
}

// Fields the user leaves out take the schema's defaults, on both roads alike; a static page has one place
// for the repeatable field, which takes the one value given.
TEST_P(ChainTest, OmittedFieldsTakeTheirDefaults) {
    std::string user = dir.file("partial.xml");
    writeText(user, R"(<MANUFACTURING xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
        xsi:noNamespaceSchemaLocation="region.xsd" SchemaVersion="03" Product="Quenza">
      <page1><flags><low>5</low></flags><lanes INDEX="1">09</lanes></page1></MANUFACTURING>)");
    std::string image = dir.file("partial.bin");
    xmlToBin(user, image);
    std::vector<WalkedPage> pages = walkImageIndependently(readBytes(image));
    ASSERT_EQ(pages.size(), 1u);
    std::vector<uint8_t> expected = {
        0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, // blob
        'n',  'o',  'n',  'e',  ' ',  ' ',  ' ',  0x00, 0x00, 0x00, 0x00, 'w',  0x00, 0x00, 0x00,
        0x05, 0x00, 0x00, 0x00, // high omitted after low was found: its default 0
        0x00, 0x09,             // lanes: INDEX 0 keeps its default below the INDEX 1 given
        0x00, 0x00, 0x00, 0x00, // reserved0
    };
    if (GetParam() == Road::Static)
        expected.erase(expected.end() - 6); // the one lanes holds 09
    expected.resize(expected.size() + (4 - (expected.size() + 4) % 4) % 4, 0);
    EXPECT_EQ(pages[0].data, expected);
}

INSTANTIATE_TEST_SUITE_P(BothRoads, ChainTest, ::testing::Values(Road::Static, Road::Dynamic),
                         [](const auto& info) { return info.param == Road::Static ? "Static" : "Dynamic"; });

} // namespace
