// The region image: exact images of the fixtures, the verbose dump, the version-page stamp, the writer's
// failures and the bounded page walk.
#include "testSupport.h"

#include <gmock/gmock.h>

#include <cctype>
#include <ctime>

using namespace configtest;
using namespace pageengine;
using ::testing::HasSubstr;

namespace {

const std::vector<uint8_t> kBasicImage = {
    // region header
    0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01,
    // page 0xFF01: three bytes and one byte of padding
    0xF9, 0x0E, 0xFF, 0xFF, 0x08, 0x00, 0x01, 0xFF, 0x01, 0x02, 0x03, 0x00,
    // page 0x0010, 48 data bytes, no padding
    0xF9, 0x8A, 0xFF, 0xFF, 0x34, 0x00, 0x10, 0x00, 0x34, 0x12, 0xCD, 0xAB, // WORD x2 ABCD1234
    0x01, 0x00, 0x00, 0x00,                                                 // DWORD 1
    0x00, 0x1A, 0x2B, 0x3C,                         // ByteString 1A2B3C, padded in front
    0xC0, 0xA8, 0x01, 0x0A,                         // IPAddress 192.168.1.10
    0x61, 0x62, 0x63, 0x20, 0x20, 0x20, 0x20, 0x20, // CHAR "abc"
    0x61, 0x62, 0x63, 0x00, 0x00, 0x00, 0x00, 0x00, // CHAR_NULL_PAD "abc"
    0x61, 0x00, 0x62, 0x00, 0x00, 0x00,             // UNICHARV "ab"
    0xA3, 0x00, 0x00, 0x00,                         // DWORD of bits 3 and A
    0x11, 0x22,                                     // WORD of two bytes
    0x0B, 0x00,                                     // BYTE x2 of bits 1 and 5
    0x02, 0x01,                                     // ByteArray 0102
    // page 0xFE01 of two groups
    0xF9, 0x0E, 0xFF, 0xFF, 0x0C, 0x00, 0x01, 0xFE, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};

class RegionFormat : public EngineTest {};

TEST_F(RegionFormat, BasicFixtureGivesTheExactImage) {
    Conversion result = convertFixture("basic.xml");
    ASSERT_EQ(result.parseStatus, 0u) << result.output;
    ASSERT_EQ(result.writeStatus, 0u);
    EXPECT_EQ(result.image, kBasicImage);
    std::vector<WalkedPage> pages = walkImageIndependently(result.image);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].id, 0xFF01);
    EXPECT_EQ(pages[1].id, 0x0010);
    EXPECT_EQ(pages[2].id, 0xFE01);
    EXPECT_EQ(result.output, "");
}

TEST_F(RegionFormat, VerboseDumpShowsEachPageAndTheOffsetOfItsIdField) {
    setVerboseON();
    Conversion result = convertFixture("basic.xml");
    ASSERT_EQ(result.writeStatus, 0u);
    EXPECT_EQ(result.output, "Writing new Page.......... \n"
                             "PageName      Report Manufacturer Configuration Page \n"
                             "PageId        ff01 \n"
                             "PageLength    8 \n"
                             "PageOffset    14 \n\n"
                             "Writing new Page.......... \n"
                             "PageName      Every Type \n"
                             "PageId        10 \n"
                             "PageLength    52 \n"
                             "PageOffset    26 \n\n"
                             "Writing new Page.......... \n"
                             "PageName      Grouped \n"
                             "PageId        fe01 \n"
                             "PageLength    12 \n"
                             "PageOffset    82 \n\n");
    // A second image starts counting afresh.
    FILE* file = std::tmpfile();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_CreateBinaryFile(nullptr, file), 0u);
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("PageOffset    14 \n"));
    std::fclose(file);
}

std::time_t fixedClock() {
    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 2; // March
    local.tm_mday = 15;
    local.tm_hour = 13;
    local.tm_min = 45;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

TEST_F(RegionFormat, VersionPageCarriesTheConversionTime) {
    setTimestampClock(fixedClock);
    Conversion result = convertFixture("timestamp.xml");
    ASSERT_EQ(result.parseStatus, 0u) << result.output;
    // 45 << 22 | 13 << 17 | 15 << 12 | 3 << 8 | 24 = 0x0B5AF318, replacing the XML's FFFFFFFF.
    const std::vector<uint8_t> expected = {0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01,
                                           0xF9, 0x8F, 0xFF, 0xFF, 0x0C, 0x00, 0x0F, 0xFF,
                                           0x18, 0xF3, 0x5A, 0x0B, 0x05, 0x00, 0x00, 0x00};
    EXPECT_EQ(result.image, expected);
    walkImageIndependently(result.image);
}

TEST(Timestamp, EachPartStaysInItsBitField) {
    std::tm local{};
    local.tm_year = 2031 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 31;
    local.tm_hour = 23;
    local.tm_min = 59;
    EXPECT_EQ(mfgTimestamp(local), (59u << 22) | (23u << 17) | (31u << 12) | (12u << 8) | 31u);
    local.tm_year = 1999 - 1900; // a clock before 2000 must not reach the month bits
    EXPECT_EQ(mfgTimestamp(local) & 0xFFFFFF00u, (59u << 22) | (23u << 17) | (31u << 12) | (12u << 8));
}

PAGE_RECORD versionPage(FieldType type, uint32_t width, uint32_t count) {
    PAGE_RECORD page;
    page.name = "MFG Version Info Page";
    page.pageId = 0xFF0F;
    PAGE_DATA_NODE other;
    other.name = "timestamps";
    other.width = 4;
    other.type = FieldType::Dword;
    other.data.assign(4, 0xEE);
    PAGE_DATA_NODE stamp;
    stamp.name = "timestamp";
    stamp.type = type;
    stamp.width = width;
    stamp.count = count;
    stamp.data.assign(std::size_t{width} * count, 0xEE);
    page.nodes = {other, stamp};
    return page;
}

TEST_F(RegionFormat, StampGoesIntoTheFieldNamedExactlyTimestamp) {
    setTimestampClock(fixedClock);
    PAGE_RECORD page = versionPage(FieldType::ByteArray, 1, 6);
    EXPECT_EQ(modifyPepperedXmlOutput(page), 0u);
    EXPECT_EQ(page.nodes[0].data, std::vector<uint8_t>(4, 0xEE));
    EXPECT_EQ(page.nodes[1].data, (std::vector<uint8_t>{0x18, 0xF3, 0x5A, 0x0B, 0xEE, 0xEE}));

    PAGE_RECORD other = versionPage(FieldType::Dword, 4, 1);
    other.pageId = 0xFF01;
    EXPECT_EQ(modifyPepperedXmlOutput(other), 0u);
    EXPECT_EQ(other.nodes[1].data, std::vector<uint8_t>(4, 0xEE));
}

TEST_F(RegionFormat, StampIsRefusedByAFieldNarrowerThanFourBytes) {
    PAGE_RECORD page = versionPage(FieldType::Word, 2, 1);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(modifyPepperedXmlOutput(page), 40u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "\nERROR : Invalid content for element \"timestamp\" in page \"MFG Version Info Page\".\n\n");
    EXPECT_EQ(page.nodes[1].data, std::vector<uint8_t>(2, 0xEE));
}

TEST_F(RegionFormat, LargestPageIsWrittenAndOneByteMoreIsRefused) {
    Conversion largest = convertFixture("largest_page.xml");
    ASSERT_EQ(largest.parseStatus, 0u) << largest.output;
    ASSERT_EQ(largest.image.size(), 8u + 4u + 0xFFFCu);
    EXPECT_EQ(largest.image[12], 0xFC);
    EXPECT_EQ(largest.image[13], 0xFF);
    EXPECT_EQ(largest.image.back(), 0x7F);
    walkImageIndependently(largest.image);

    Conversion tooLong = convertFixture("errors/page_too_long.xml");
    EXPECT_EQ(tooLong.parseStatus, 40u);
    EXPECT_TRUE(engineState().gXMLPagelist.empty());
}

TEST_F(RegionFormat, WriterFailures) {
    LogCapture log;
    EXPECT_EQ(zelkor_CreateBinaryFile(nullptr, nullptr), 5u);
    FILE* file = std::tmpfile();
    EXPECT_EQ(zelkor_CreateBinaryFile(nullptr, file), 1u);
    EXPECT_TRUE(readWholeFile(file).empty());
    std::fclose(file);
    EXPECT_THAT(log.text(), HasSubstr(engineLogLine("Cannot create binary File.NULL Data List.\n")));

    EXPECT_EQ(writeDataToFile(nullptr, stdout), 5u);
    PAGE_DATA_NODE node;
    node.data = {1};
    EXPECT_EQ(writeDataToFile(&node, nullptr), 5u);
    EXPECT_EQ(writeRegionHeaderToFile(nullptr), 5u);
    EXPECT_EQ(writePageHeaderToFile(nullptr, PAGE_RECORD{}), 5u);

    PAGE_RECORD tooLong;
    tooLong.length = 0x10000;
    FILE* out = std::tmpfile();
    EXPECT_EQ(writePageHeaderToFile(out, tooLong), 1u);
    EXPECT_TRUE(readWholeFile(out).empty());
    std::fclose(out);
}

TEST_F(RegionFormat, ByteThatCannotBeWrittenFailsTheImage) {
    Conversion parsed = convertFixture("basic.xml");
    ASSERT_EQ(parsed.parseStatus, 0u);
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    EXPECT_EQ(zelkor_CreateBinaryFile(nullptr, full), 1u);
    std::fclose(full);
}

TEST(RegionHeaders, EncodeAndDecode) {
    auto region = encodeRegionHeader();
    EXPECT_EQ(std::vector<uint8_t>(region.begin(), region.end()),
              (std::vector<uint8_t>{0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01}));
    MFG_REGION_HEADER decoded = decodeRegionHeader(region.data());
    EXPECT_EQ(decoded.formatCode, MFG_REGION_FORMAT_CODE);
    EXPECT_EQ(decoded.firstPageOffset, 8);
    EXPECT_EQ(decoded.version, 0x0100);

    MFG_PAGE_HEADER header{0xF9, 0x0E, 0xFFFF, 8, 0xFF01};
    auto bytes = encodePageHeader(header);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()),
              (std::vector<uint8_t>{0xF9, 0x0E, 0xFF, 0xFF, 0x08, 0x00, 0x01, 0xFF}));
    MFG_PAGE_HEADER back = decodePageHeader(bytes.data());
    EXPECT_EQ(back.length, 8);
    EXPECT_EQ(back.pageId, 0xFF01);
    EXPECT_EQ(back.checksum, 0x0E);
}

struct WalkCase {
    const char* what;
    std::vector<uint8_t> image;
    PageWalkEnd end;
    std::size_t pagesVisited;
};

const std::vector<uint8_t> kRegionHeader = {0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01};
const std::vector<uint8_t> kGoodPage = {0xF9, 0x0E, 0xFF, 0xFF, 0x08, 0x00,
                                        0x01, 0xFF, 0x01, 0x02, 0x03, 0x00};

std::vector<uint8_t> image(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> bytes = kRegionHeader;
    for (const auto& part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

void PrintTo(const WalkCase& c, std::ostream* os) {
    *os << c.what;
}

class PageWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(PageWalk, EndsAsTheImageSays) {
    const WalkCase& c = GetParam();
    std::size_t visited = 0;
    PageWalkResult result = walkRegionImage(c.image, [&](const MfgPage& page) {
        EXPECT_EQ(page.data.size(), page.header.length - 4u);
        ++visited;
        return ZELKOR_STATUS{0};
    });
    EXPECT_EQ(result.end, c.end);
    EXPECT_EQ(result.status, c.end == PageWalkEnd::Complete ? 0u : 1u);
    EXPECT_EQ(visited, c.pagesVisited);
}

INSTANTIATE_TEST_SUITE_P(
    Images, PageWalk,
    ::testing::Values(
        WalkCase{"erased length right after the region header",
                 image({{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}), PageWalkEnd::Complete, 0},
        WalkCase{"zero length ends the walk", image({kGoodPage, std::vector<uint8_t>(8, 0)}),
                 PageWalkEnd::Complete, 1},
        WalkCase{"image ends after its last page", image({kGoodPage, kGoodPage}), PageWalkEnd::Complete, 2},
        WalkCase{"wrong checksum",
                 image({kGoodPage, {0xF9, 0x0F, 0xFF, 0xFF, 0x08, 0x00, 0x01, 0xFF, 1, 2, 3, 0}}),
                 PageWalkEnd::BadPage, 1},
        WalkCase{"valid bit clear", image({{0xF8, 0x0E, 0xFF, 0xFF, 0x08, 0x00, 0x01, 0xFF, 1, 2, 3, 0}}),
                 PageWalkEnd::BadPage, 0},
        WalkCase{"header cut by the end of the image", image({kGoodPage, {0xF9, 0x0E, 0xFF, 0xFF, 0x08}}),
                 PageWalkEnd::BadPage, 1},
        WalkCase{"length runs past the end",
                 image({{0xF9, 0x0E, 0xFF, 0xFF, 0x10, 0x00, 0x01, 0xFF, 1, 2, 3, 0}}), PageWalkEnd::BadPage,
                 0},
        WalkCase{"length shorter than its own fields",
                 image({{0xF9, 0x02, 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF}}), PageWalkEnd::BadPage, 0},
        WalkCase{"nothing after the region header", image({}), PageWalkEnd::Complete, 0}),
    [](const ::testing::TestParamInfo<WalkCase>& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(PageWalkStops, VisitorStatusEndsTheWalk) {
    std::vector<uint8_t> bytes = image({kGoodPage, kGoodPage});
    std::size_t visited = 0;
    PageWalkResult result = walkRegionImage(bytes, [&](const MfgPage&) {
        ++visited;
        return ZELKOR_STATUS{38};
    });
    EXPECT_EQ(result.end, PageWalkEnd::Stopped);
    EXPECT_EQ(result.status, 38u);
    EXPECT_EQ(visited, 1u);
}

TEST(PageWalkStops, FlippingAnySummedByteFailsThatPage) {
    // Page 0x0010 of the basic image spans offsets 20 to 75; its summed bytes start at 24.
    for (std::size_t i = 24; i < 76; ++i) {
        std::vector<uint8_t> bytes = kBasicImage;
        bytes[i] ^= 0x01;
        std::vector<uint16_t> ids;
        PageWalkResult result = walkRegionImage(bytes, [&](const MfgPage& page) {
            ids.push_back(page.header.pageId);
            return ZELKOR_STATUS{0};
        });
        EXPECT_EQ(result.end, PageWalkEnd::BadPage) << "byte " << i;
        EXPECT_EQ(ids, std::vector<uint16_t>{0xFF01}) << "byte " << i;
    }
}

} // namespace
