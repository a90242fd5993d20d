// The page engine on hostile input, both directions. Peppered documents made hostile from the engine
// tests' fixtures go through the parse and, when it succeeds, the image writer; region images made hostile
// from a converted image go back to XML. The checks hold for any input: a documented status, never success
// for a text that is not XML, an image that walks by the format when the parse succeeded, XML that
// libxml2 and xmllint read back whenever a document was written, and, for random valid values, the way
// back gives the values that went in. A failure names the seed and shows the input.
#include "xmlSupport.h"

#include "config/binaryToXml.h"
#include "config/engineState.h"
#include "config/mfgRegion.h"
#include "config/xmlBuilders.h"
#include "config/xmlParser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace configtest;
using namespace robust;

constexpr int kCases = 400;

class PageEngineRobustness : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        pageengine::setTimestampClock(fixedClock);
    }
    ScratchDir dir;
};

// ---- peppered documents to images ----

TEST_F(PageEngineRobustness, PepperedDocumentsParseOrFailWithADocumentedStatus) {
    const std::vector<std::string> sources = {"basic.xml",    "ids.xml",       "timestamp.xml",    "units.xml",
                                              "unit_only.xml", "general_only.xml", "largest_page.xml"};
    std::vector<std::string> texts;
    for (const std::string& name : sources)
        texts.push_back(readText(fixture(name)));

    std::vector<std::string> accepted;
    int parsed = 0;
    for (int i = 0; i < kCases && !HasFailure(); ++i) {
        const uint32_t seed = 0x9E990000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const std::string text = d.chance(5) ? d.text(d.below(400)) : hostileXml(d, d.oneOf(texts));
        const bool unit = d.chance(10), general = !unit && d.chance(10);
        const char* rootSwitch = d.chance(10) ? "skip" : nullptr;
        SCOPED_TRACE("seed " + hexNumber(seed) + (unit ? ", unit filter" : "") + (general ? ", general filter" : "") +
                     (rootSwitch ? ", no root check" : "") + ", document:\n" + shown(text));
        pageengine::resetEngineState();
        pageengine::clearEngineSwitches();
        if (unit)
            pageengine::setUnitON();
        if (general)
            pageengine::setGeneralON();
        const std::string path = dir.file("peppered_" + std::to_string(i) + ".xml");
        writeText(path, text);

        ::testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = pageengine::zelkor_ParseXmlFile(nullptr, path.c_str(), rootSwitch, nullptr);
        std::vector<uint8_t> image;
        ZELKOR_STATUS written = 0;
        if (status == 0) {
            FILE* file = std::tmpfile();
            ASSERT_NE(file, nullptr);
            written = pageengine::zelkor_CreateBinaryFile(nullptr, file);
            image = readWholeFile(file);
            std::fclose(file);
        }
        ::testing::internal::GetCapturedStdout();

        EXPECT_TRUE(statusIn(status, {0, 6, 36, 37, 38, 39, 40, 41, 54, 55})) << "status " << status;
        if (!wellFormed(text)) {
            EXPECT_EQ(status, 41u) << "a text that is not XML";
        }
        if (status != 0)
            continue;
        ++parsed;
        accepted.push_back(path);
        // The page list holds distinct ids, each page's length a multiple of 4 that its 16 bits can hold.
        const auto& pages = pageengine::engineState().gXMLPagelist;
        std::set<uint16_t> ids;
        for (const auto& page : pages) {
            EXPECT_TRUE(ids.insert(page.pageId).second) << "page id 0x" << std::hex << page.pageId << " twice";
            EXPECT_EQ(page.length % 4, 0u) << page.name;
            EXPECT_LE(page.length, 0xFFFCu) << page.name;
        }
        if (pages.empty()) {
            EXPECT_EQ(written, 1u) << "an empty page list writes no image";
            continue;
        }
        EXPECT_EQ(written, 0u);
        const std::vector<WalkedPage> walked = walkImageIndependently(image);
        ASSERT_EQ(walked.size(), pages.size());
        for (size_t k = 0; k < walked.size(); ++k) {
            EXPECT_EQ(walked[k].id, pages[k].pageId);
            EXPECT_EQ(walked[k].data.size() + 4, pages[k].length);
        }
    }
    // The mutations must leave enough documents the engine takes to reach the writer.
    EXPECT_GT(parsed, kCases / 10);
    // Whatever the engine took, xmllint reads as XML.
    for (const std::string& refused : xmllintRefuses(accepted))
        ADD_FAILURE() << "accepted by the engine, not XML for xmllint:\n" << shown(readText(refused));
}

// ---- region images to XML ----

class ImageRobustness : public PageEngineRobustness {
  protected:
    void SetUp() override {
        PageEngineRobustness::SetUp();
        XSD = fixture("chain/region.xsd");
        USER = fixture("chain/static_user.xml"); // the static road: one place for the repeatable field
        pageengine::XmlDocPtr user = parseFile(USER);
        ASSERT_TRUE(user);
        const std::string toBin = dir.file("to_bin.xml");
        ASSERT_EQ(pageengine::createPepperedXml(XSD.c_str(), user.get(), toBin.c_str(), 0), 0u);
        const std::string imagePath = dir.file("valid.bin");
        ASSERT_EQ(pepperedToImage(toBin, imagePath), 0u);
        std::vector<uint8_t> bytes = readBytes(imagePath);
        valid.assign(bytes.begin(), bytes.end());
        pageengine::resetEngineState();
        ASSERT_EQ(pageengine::createPepperedXml(XSD.c_str(), user.get(), peppered.c_str(), 1), 0u);
        carry = pageengine::conversionCarry();
        carry.gStrSchemaVersion = "03";
        carry.gStrProductName = "Quenza";
        ASSERT_FALSE(carry.gStaticPageList.empty());
    }

    std::string XSD, USER;
    std::string peppered = dir.file("peppered.xml");
    std::string valid;
    pageengine::ConversionCarry carry;
};

TEST_F(ImageRobustness, ImagesConvertOrFailWithADocumentedStatus) {
    std::vector<std::string> outputs;
    int converted = 0;
    for (int i = 0; i < kCases && !HasFailure(); ++i) {
        const uint32_t seed = 0x1B460000u + static_cast<uint32_t>(i);
        Dice d(seed);
        std::string image = d.chance(5) ? d.text(d.below(200)) : mutateImage(d, valid);
        if (d.chance(20))
            image = mutateImage(d, image);
        // The user's elements are filled when the user's document lists the page, the peppered page's
        // elements otherwise.
        const bool userPages = d.chance(60);
        SCOPED_TRACE("seed " + hexNumber(seed) + (userPages ? ", user pages" : ", peppered pages") + ", image:\n" +
                     shown(image));
        pageengine::resetEngineState();
        pageengine::conversionCarry() = carry;
        if (!userPages)
            pageengine::conversionCarry().gStaticPageList.clear();
        const std::string imagePath = dir.file("image.bin");
        writeText(imagePath, image);
        const std::string output = dir.file("out_" + std::to_string(i) + ".xml");

        ::testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = imageToXml(USER, output, imagePath, peppered);
        ::testing::internal::GetCapturedStdout();

        EXPECT_TRUE(statusIn(status, {0, 1, 6, 38, 39, 40, 43})) << "status " << status;
        EXPECT_TRUE(pageengine::conversionCarry().gStaticPageList.empty());
        const bool exists = std::filesystem::exists(output);
        if (status == 0) {
            EXPECT_TRUE(exists);
        }
        if (!exists)
            continue;
        converted += status == 0 ? 1 : 0;
        const std::string text = readText(output);
        EXPECT_TRUE(wellFormed(text)) << "output not XML:\n" << shown(text);
        outputs.push_back(output);
    }
    EXPECT_GT(converted, kCases / 10);
    for (const std::string& refused : xmllintRefuses(outputs))
        ADD_FAILURE() << "written by the engine, not XML for xmllint:\n" << shown(readText(refused));
}

// The valid image read back through hostile descriptions: the user's document (whose pages are listed)
// or the peppered document made hostile. Whatever they hold, a documented status, and a document written
// only as XML.
TEST_F(ImageRobustness, HostileDescriptionsOfAValidImage) {
    const std::string userText = readText(USER), pepperedText = readText(peppered);
    const std::string imagePath = dir.file("valid_image.bin");
    writeText(imagePath, valid);
    std::vector<std::string> outputs;
    for (int i = 0; i < kCases && !HasFailure(); ++i) {
        const uint32_t seed = 0x3D5C0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const bool hostileUser = d.chance(60);
        const std::string text = hostileXml(d, hostileUser ? userText : pepperedText);
        const std::string description = dir.file("description.xml");
        writeText(description, text);
        SCOPED_TRACE("seed " + hexNumber(seed) + (hostileUser ? ", user document:\n" : ", peppered document:\n") +
                     shown(text));
        pageengine::resetEngineState();
        pageengine::conversionCarry() = carry;
        const std::string output = dir.file("described_" + std::to_string(i) + ".xml");
        ::testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = hostileUser ? imageToXml(description, output, imagePath, peppered)
                                                 : imageToXml(USER, output, imagePath, description);
        ::testing::internal::GetCapturedStdout();
        EXPECT_TRUE(statusIn(status, {0, 1, 6, 36, 37, 38, 39, 40, 41})) << "status " << status;
        if (!wellFormed(text)) {
            EXPECT_EQ(status, 41u) << "a description that is not XML";
        }
        if (!std::filesystem::exists(output)) {
            EXPECT_NE(status, 0u);
            continue;
        }
        EXPECT_TRUE(wellFormed(readText(output))) << "output not XML:\n" << shown(readText(output));
        outputs.push_back(output);
    }
    for (const std::string& refused : xmllintRefuses(outputs))
        ADD_FAILURE() << "written by the engine, not XML for xmllint:\n" << shown(readText(refused));
}

// ---- random valid values there and back ----

std::string hexDigits(Dice& d, size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += digits[d.below(16)];
    return text;
}

std::string printable(Dice& d, size_t count, bool blanks) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        char c = static_cast<char>(0x21 + d.below(0x5E));
        if (blanks && i > 0 && i + 1 < count && d.chance(10))
            c = ' ';
        text += c;
    }
    return text;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return out;
}

struct FieldValue {
    const char* xpath;
    std::string text;
};

// static_user.xml's fields with random values of their types, as the way back prints them.
std::vector<FieldValue> randomValues(Dice& d) {
    const std::string ip = std::to_string(d.below(256)) + "." + std::to_string(d.below(256)) + "." +
                           std::to_string(d.below(256)) + "." + std::to_string(d.below(256));
    return {
        {"//page1/ipAddr", ip},
        {"//page1/count", hexDigits(d, 8)},
        {"//page1/word", std::to_string(d.below(65536))},
        {"//page1/small", hexDigits(d, 2)},
        {"//page1/serial", hexDigits(d, 8)},
        {"//page1/blob", hexDigits(d, 6)},
        {"//page1/label", printable(d, 7, true)}, // CHAR reads back space padded: all seven given
        {"//page1/padded", printable(d, d.below(5), false)},
        {"//page1/wide", printable(d, 1 + d.below(4), false)}, // an empty one takes the schema's default
        {"//page1/flags/low", hexDigits(d, 1)},
        {"//page1/flags/high", hexDigits(d, 1)},
        {"//page1/lanes", hexDigits(d, 2)},
        {"//page2/value", hexDigits(d, 8)},
    };
}

std::string userOf(const std::vector<FieldValue>& v) {
    auto at = [&v](size_t i) { return escaped(v[i].text); };
    return userDocument("<page1 ID=\"FF10\"><ipAddr>" + at(0) + "</ipAddr><count>" + at(1) +
                        "</count><word FORMAT=\"Dec\">" + at(2) + "</word><small>" + at(3) + "</small><serial>" +
                        at(4) + "</serial><blob>" + at(5) + "</blob><label>" + at(6) + "</label><padded>" + at(7) +
                        "</padded><wide>" + at(8) + "</wide><flags><low>" + at(9) + "</low><high>" + at(10) +
                        "</high></flags><lanes>" + at(11) +
                        "</lanes><reserved0>00000000</reserved0></page1><page2><value>" + at(12) +
                        "</value></page2>");
}

TEST_F(PageEngineRobustness, RandomValidValuesComeBackAsTheyWent) {
    const std::string xsd = fixture("chain/region.xsd");
    // The schema next to the documents, which name it by its bare name.
    writeText(dir.file("region.xsd"), readText(xsd));
    std::vector<std::string> users;
    for (int i = 0; i < 150 && !HasFailure(); ++i) {
        const uint32_t seed = 0x7A1E0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const std::vector<FieldValue> values = randomValues(d);
        const std::string user = dir.file("user_" + std::to_string(i) + ".xml");
        writeText(user, userOf(values));
        SCOPED_TRACE("seed " + hexNumber(seed) + ", document:\n" + readText(user));
        users.push_back(user);

        ::testing::internal::CaptureStdout();
        pageengine::resetEngineState();
        pageengine::XmlDocPtr document = parseFile(user);
        ASSERT_TRUE(document);
        const std::string toBin = dir.file("to_bin.xml"), image = dir.file("values.bin");
        const std::string toXml = dir.file("to_xml.xml"), output = dir.file("values_out.xml");
        ZELKOR_STATUS there = pageengine::createPepperedXml(xsd.c_str(), document.get(), toBin.c_str(), 0);
        if (there == 0)
            there = pepperedToImage(toBin, image);
        ZELKOR_STATUS back = 1;
        if (there == 0) {
            pageengine::resetEngineState();
            back = pageengine::createPepperedXml(xsd.c_str(), document.get(), toXml.c_str(), 1);
            if (back == 0) {
                pageengine::conversionCarry().gStrSchemaVersion = "03";
                pageengine::conversionCarry().gStrProductName = "Quenza";
                back = imageToXml(user, output, image, toXml);
            }
        }
        ::testing::internal::GetCapturedStdout();
        ASSERT_EQ(there, 0u);
        ASSERT_EQ(back, 0u);
        for (const FieldValue& field : values)
            EXPECT_EQ(selectText(output, field.xpath), field.text) << field.xpath;
    }
    // Every document the round trip used is valid for xmllint.
    for (const std::string& refused : xmllintRefuses(users, dir.file("region.xsd")))
        ADD_FAILURE() << "test document not valid:\n" << readText(refused);
}

} // namespace
