// One-page schemas through zelkor_xml2bin on offline expanders: the road of static pages (interface codes 5
// and 6 with Product "Ostrel") against images worked out by hand from the region format, and the road of
// dynamic pages (code 6, Product "Quenza") against the images it has always given for the same schemas.
#include "chainSupport.h"
#include "core/zelkorInternal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

using namespace configtest;
namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

const Bytes REGION_HEADER = {0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01};

Bytes image(const Bytes& pages) {
    Bytes whole = REGION_HEADER;
    whole.insert(whole.end(), pages.begin(), pages.end());
    return whole;
}

struct OnePage {
    const char* user;          // fixture onepage/<user>.xml, of schema onepage/<schema>.xsd
    const char* schema;
    Bytes staticImage;         // empty: the conversion is refused
    const char* refusal;       // what the refused conversion prints
    Bytes dynamicImage;
};

// Page headers: flags F9, the checksum (the 8-bit sum of length, id and data bytes), FF FF, the length
// (4 + data bytes, little-endian) and the page id (little-endian). Fields are BYTEs of LENGTH 1 in schema
// order; zero bytes pad the data to a multiple of 4 with the length field.
const OnePage CASES[] = {
    {"repeat_one", "repeat",
     image({0xF9, 0x37, 0xFF, 0xFF, 0x08, 0x00, 0x10, 0x0A, // 08+00+10+0A+01+11+03+00 = 37
            0x01,                                           // lead, default
            0x11,                                           // rep: its one place, the user's value
            0x03,                                           // tail, default
            0x00}),                                         // padding
     nullptr, image({0xF9, 0x37, 0xFF, 0xFF, 0x08, 0x00, 0x10, 0x0A, 0x01, 0x11, 0x03, 0x00})},
    {"repeat_none", "repeat",
     image({0xF9, 0xA5, 0xFF, 0xFF, 0x08, 0x00, 0x10, 0x0A, // 08+10+0A+01+7F+03 = A5
            0x01,                                           // lead
            0x7F,                                           // rep, default (maxOccurs 2 is not a second place)
            0x03,                                           // tail
            0x00}),
     nullptr, image({0xF9, 0x24, 0xFF, 0xFF, 0x08, 0x00, 0x10, 0x0A, 0x01, 0x7F, 0x7F, 0x03})},
    {"repeat_two", "repeat", {}, "\nERROR : More \"rep\" elements than page \"rpage\" declares.\n",
     image({0xF9, 0x59, 0xFF, 0xFF, 0x08, 0x00, 0x10, 0x0A, 0x01, 0x11, 0x22, 0x03})},
    {"choice_a", "choice",
     image({0xF9, 0x14, 0xFF, 0xFF, 0x08, 0x00, 0x20, 0x0B, // 08+20+0B+01+22+BB+03 = 114 -> 14
            0x01,                                           // lead
            0x22,                                           // altA, chosen
            0xBB,                                           // altB, not chosen: its default
            0x03}),                                         // tail; 4 + 4 bytes need no padding
     nullptr, image({0xF9, 0x37, 0xFF, 0xFF, 0x08, 0x00, 0x20, 0x0B, 0x01, 0x03, 0x00, 0x00})},
    {"choice_b", "choice",
     image({0xF9, 0x03, 0xFF, 0xFF, 0x08, 0x00, 0x20, 0x0B, // 08+20+0B+01+AA+22+03 = 103 -> 03
            0x01,                                           // lead
            0xAA,                                           // altA, not chosen: its default
            0x22,                                           // altB, chosen
            0x03}),                                         // tail
     nullptr, image({0xF9, 0x37, 0xFF, 0xFF, 0x08, 0x00, 0x20, 0x0B, 0x01, 0x03, 0x00, 0x00})},
    {"group_one", "group",
     image({0xF9, 0xA8, 0xFF, 0xFF, 0x08, 0x00, 0x30, 0x0C, // 08+30+0C+01+11+6F+E3 = 1A8 -> A8
            0x01,                                           // g_lead
            0x11, 0x6F,                                     // cg_a: g_f given, g_h default
            0xE3}),                                         // g_tail, default
     nullptr, image({0xF9, 0xA8, 0xFF, 0xFF, 0x08, 0x00, 0x30, 0x0C, 0x01, 0x11, 0x6F, 0xE3})},
    {"group_tail", "group",
     image({0xF9, 0xC8, 0xFF, 0xFF, 0x08, 0x00, 0x30, 0x0C, // 08+30+0C+01+11+6F+03 = C8
            0x01,                                           // g_lead
            0x11, 0x6F,                                     // cg_a
            0x03}),                                         // g_tail: the page's, given after the group
     nullptr, image({0xF9, 0xC8, 0xFF, 0xFF, 0x08, 0x00, 0x30, 0x0C, 0x01, 0x11, 0x6F, 0x03})},
    {"group_two", "group",
     image({0xF9, 0x3D, 0xFF, 0xFF, 0x0C, 0x00, 0x30, 0x0C, // 0C+30+0C+01+11+6F+22+6F+E3 = 33D -> 3D
            0x01,                                           // g_lead
            0x11, 0x6F,                                     // first cg_a: g_f 11, g_h default
            0x22, 0x6F,                                     // second cg_a: g_f 22, g_h default
            0xE3,                                           // g_tail, default
            0x00, 0x00}),                                   // padding: 4 + 6 bytes to 12
     nullptr,
     image({0xF9, 0x3D, 0xFF, 0xFF, 0x0C, 0x00, 0x30, 0x0C, 0x01, 0x11, 0x6F, 0x22, 0x6F, 0xE3, 0x00, 0x00})},
};

struct Converted {
    ZELKOR_STATUS status = 0;
    std::string printed;
    Bytes image;
};

class OnePageTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        savedTmp_ = std::getenv("TMPDIR") != nullptr ? std::optional<std::string>(std::getenv("TMPDIR")) : std::nullopt;
        fs::create_directory(dir.file("tmp"));
        setenv("TMPDIR", dir.file("tmp").c_str(), 1);
    }
    void TearDown() override {
        std::memset(gSharedVars.supportPath, 0, sizeof gSharedVars.supportPath);
        if (savedTmp_)
            setenv("TMPDIR", savedTmp_->c_str(), 1);
        else
            unsetenv("TMPDIR");
        EngineTest::TearDown();
    }

    // The user document with its Product, through an expander of the interface code opened for it alone.
    Converted convert(const OnePage& c, uint32_t interfaceCode, const std::string& product) {
        const std::string xsd = fixture(std::string("onepage/") + c.schema + ".xsd");
        std::string text = readText(fixture(std::string("onepage/") + c.user + ".xml"));
        const std::string ostrel = "Product=\"Ostrel\"";
        text.replace(text.find(ostrel), ostrel.size(), "Product=\"" + product + "\"");
        const std::string user = dir.file(c.user + std::string(".xml")), out = dir.file("image.bin");
        writeText(user, text);
        EXPECT_TRUE(xmllintAccepts(user, xsd)) << user;
        std::snprintf(gSharedVars.supportPath, sizeof gSharedVars.supportPath, "%s", xsd.c_str());

        Converted result;
        ZELKOR_INSTANCE* handle = nullptr;
        ::testing::internal::CaptureStdout();
        const ZELKOR_STATUS opened = zelkor_open(interfaceCode, 0, &handle, nullptr, nullptr);
        FILE* file = std::fopen(out.c_str(), "wb");
        if (opened == 0 && file != nullptr)
            result.status = zelkor_xml2bin(handle, user.c_str(), xsd.c_str(), file, nullptr);
        if (file != nullptr)
            std::fclose(file);
        if (handle != nullptr)
            zelkor_close(handle);
        result.printed = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(opened, 0u);
        result.image = readBytes(out);
        EXPECT_TRUE(fs::is_empty(dir.file("tmp"))) << "an intermediate outlived its conversion";
        return result;
    }

    ScratchDir dir;

  private:
    std::optional<std::string> savedTmp_;
};

TEST_F(OnePageTest, StaticPagesGiveTheImagesOfTheirDeclarations) {
    for (const OnePage& c : CASES) {
        for (uint32_t code : {ZELKOR_INTERFACE_OFFLINE_OSTREL, ZELKOR_INTERFACE_OFFLINE_QUENZA}) {
            SCOPED_TRACE(std::string(c.user) + " on interface code " + std::to_string(code));
            const Converted converted = convert(c, code, "Ostrel");
            if (c.refusal != nullptr) {
                // The family of static pages passes the builder's status on; the other reports its own 1.
                EXPECT_EQ(converted.status, code == ZELKOR_INTERFACE_OFFLINE_OSTREL ? 40u : 1u);
                EXPECT_EQ(converted.printed, c.refusal);
                EXPECT_TRUE(converted.image.empty()) << "a refused conversion writes no image";
                continue;
            }
            EXPECT_EQ(converted.status, 0u);
            EXPECT_EQ(converted.printed, "");
            EXPECT_EQ(converted.image, c.staticImage);
            walkImageIndependently(converted.image);
        }
    }
}

TEST_F(OnePageTest, DynamicPagesOfTheSameSchemasAreUnchanged) {
    for (const OnePage& c : CASES) {
        SCOPED_TRACE(c.user);
        const Converted converted = convert(c, ZELKOR_INTERFACE_OFFLINE_QUENZA, "Quenza");
        EXPECT_EQ(converted.status, 0u);
        EXPECT_EQ(converted.printed, "");
        EXPECT_EQ(converted.image, c.dynamicImage);
    }
}

// Two conversions in one process build from state of their own: the second gives what a first would.
TEST_F(OnePageTest, ASecondConversionInTheProcessIsLikeTheFirst) {
    const OnePage& twoGroups = CASES[7];
    const OnePage& refused = CASES[2];
    const Converted first = convert(twoGroups, ZELKOR_INTERFACE_OFFLINE_OSTREL, "Ostrel");
    EXPECT_EQ(convert(refused, ZELKOR_INTERFACE_OFFLINE_OSTREL, "Ostrel").status, 40u);
    const Converted second = convert(twoGroups, ZELKOR_INTERFACE_OFFLINE_OSTREL, "Ostrel");
    EXPECT_EQ(second.status, 0u);
    EXPECT_EQ(second.image, first.image);
    EXPECT_EQ(second.image, twoGroups.staticImage);
}

} // namespace
