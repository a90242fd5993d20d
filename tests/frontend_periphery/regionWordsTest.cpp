// Region words, hexadecimal and decimal words, region lookup over a region list, and the XML defaults question.
#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "frontend/handlerSupport.h"
#include "frontend/messages.h"
#include "frontend/regions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Runs the routine with standard output captured.
template <typename F> std::string captured(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

TEST(RegionWords, MapWordAndIndexOntoAKind) {
    struct Case {
        const char* word;
        const char* index;
        uint32_t kind;
        std::string shown;
    };
    const std::vector<Case> cases{
        {"rmboot", nullptr, 10, ""},    {"rmboot", "3", 10, ""},  {"flash", nullptr, 1, ""},
        {"flash", "1", 1, ""},          {"fw", "0", 2, ""},       {"fw", "12", 2, ""},
        {"fw", "1a", 13, "Invalid Region Index Provided.\n"},     {"fw", "", 13, "Invalid Region Index Provided.\n"},
        {"fw", "-1", 13, "Invalid Region Index Provided.\n"},     {"fw", nullptr, 13, "Invalid Region Index Provided.\n"},
        {"mfg", nullptr, 6, ""},        {"mfg", "2", 2, ""},      {"cfg", nullptr, 7, ""},
        {"cfg", "1", 2, ""},            {"log", nullptr, 8, ""},  {"log", "0", 2, ""},
        {"trace", nullptr, 9, ""},      {"trace", "1", 2, ""},    {"ram", nullptr, 11, ""},
        {"ram", "4", 11, ""},           {"mem", nullptr, 0, ""},  {"reg", "7", 0, ""},
        {"rams", nullptr, 13, "Unable to retrieve RegionID\n"},   {"FW", "1", 13, "Unable to retrieve RegionID\n"},
        {"", nullptr, 13, "Unable to retrieve RegionID\n"},       {nullptr, nullptr, 13, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.word ? c.word : "(null)") + std::string(" ") + (c.index ? c.index : "(null)"));
        uint32_t kind = 0;
        const std::string out = captured([&] { kind = getRegion(0, c.word, c.index); });
        EXPECT_EQ(kind, c.kind);
        EXPECT_EQ(out, c.shown);
    }
}

TEST(HexWords, ReadEightDigitsWithOrWithoutPrefix) {
    struct Case {
        const char* text;
        uint32_t status;
        uint32_t value;
    };
    const std::vector<Case> cases{
        {"0x1000", 0, 0x1000},         {"0X00001000", 0, 0x1000},  {"0xDEADbeef", 0, 0xDEADBEEF},
        {"deadBEEF", 0, 0xDEADBEEF},   {"0", 0, 0},                {"ffffffff", 0, 0xFFFFFFFF},
        {"0x", 1, 0},                  {"", 1, 0},                 {"0x123456789", 1, 0},
        {"123456789", 1, 0},           {"0x12g4", 1, 0},           {"12 4", 1, 0},
        {"-1", 1, 0},                  {"0x-1", 1, 0},             {"x12", 1, 0},
        {"0x0x12", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t value = 0xA5A5A5A5;
        EXPECT_EQ(hexStrToU32(c.text, &value), c.status);
        EXPECT_EQ(value, c.value);
    }
    uint32_t value = 7;
    EXPECT_EQ(hexStrToU32(nullptr, &value), 1u);
}

TEST(DecimalWords, AcceptDigitsWithinThirtyTwoBits) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t value;
    };
    const std::vector<Case> cases{
        {"0", true, 0},          {"47", true, 47},         {"4294967295", true, 0xFFFFFFFF},
        {"4294967296", false, 0}, {"99999999999999999999", false, 0}, {"abc", false, 0},
        {"", false, 0},           {"3a", false, 0},          {"-3", false, 0},
        {"+3", false, 0},         {" 3", false, 0},          {"0x10", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t value = 0;
        EXPECT_EQ(morv::parseDecimalWord(c.text, value), c.ok);
        if (c.ok) {
            EXPECT_EQ(value, c.value);
        }
    }
}

class RegionLookup : public testing::Test {
  protected:
    void SetUp() override {
        gInstance = MORV_INSTANCE{};
        displayCount = 0;
    }
    void TearDown() override { gInstance.regionList = nullptr; }

    void useList(const std::vector<std::pair<uint32_t, uint32_t>>& kindsAndIndexes) {
        nodes_.assign(kindsAndIndexes.size(), ZELKOR_REGION_LIST{});
        for (size_t i = 0; i < nodes_.size(); ++i) {
            nodes_[i].region.kind = kindsAndIndexes[i].first;
            nodes_[i].region.index = kindsAndIndexes[i].second;
            nodes_[i].region.regionId = static_cast<uint32_t>(0x80 + i);
            nodes_[i].next = i + 1 < nodes_.size() ? &nodes_[i + 1] : nullptr;
        }
        gInstance.regionList = nodes_.empty() ? nullptr : nodes_.data();
    }

    std::vector<ZELKOR_REGION_LIST> nodes_;
};

TEST_F(RegionLookup, FindsPartitionsByIndexAndOtherKindsByKind) {
    useList({{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {6, 5}, {6, 9}});
    EXPECT_EQ(findRegion(2, 1), &nodes_[3]);
    EXPECT_EQ(findRegion(2, 2), &nodes_[4]);
    EXPECT_EQ(findRegion(6, 9), &nodes_[5]) << "kinds other than 2 take the first of the kind";
    EXPECT_EQ(findRegion(0, 4), &nodes_[0]);
    EXPECT_EQ(displayCount, 0u);
}

TEST_F(RegionLookup, MissesTellWhatIsMissingAndCountForTheRun) {
    // Only region 0: the second miss names the missing region and that only region 0 exists.
    useList({{0, 0}, {1, 0}, {2, 0}});
    std::string out = captured([&] { EXPECT_EQ(findRegion(2, 3), nullptr); });
    EXPECT_EQ(out, "");
    out = captured([&] { EXPECT_EQ(findRegion(9, 0), nullptr); });
    EXPECT_EQ(out, "Region not found.Currently only region 0 is available.\n");
    out = captured([&] { EXPECT_EQ(findRegion(2, 3), nullptr); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(displayCount, 3u);

    // Designated kinds ask for a region; numbered partitions keep other misses silent.
    displayCount = 0;
    useList({{0, 0}, {2, 0}, {2, 1}});
    out = captured([&] { EXPECT_EQ(findRegion(5, 0), nullptr); });
    EXPECT_EQ(out, " You must specify a region.\n");
    out = captured([&] { EXPECT_EQ(findRegion(2, 7), nullptr); });
    EXPECT_EQ(out, "Region not found.");

    // An empty list is a miss like any other.
    displayCount = 0;
    useList({});
    out = captured([&] { EXPECT_EQ(findRegion(0, 0), nullptr); });
    EXPECT_EQ(out, "");
}

TEST_F(RegionLookup, RefusalsThatNeedNoDevice) {
    // No memory window: getMemory and setMemory have nowhere to go.
    useList({{2, 0}});
    std::string out = captured([&] { EXPECT_EQ(getMemory("0x1000", "1"), 1u); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(setMemory(0x1000, 4, nullptr), 1u);

    // A file whose length cannot be taken (a pipe) is refused before any download.
    nodes_[0].region.size = 0x100;
    FILE* pipe = popen("true", "r");
    ASSERT_NE(pipe, nullptr);
    out = captured([&] { EXPECT_EQ(downloadRegion(0, 0, 2, pipe), 5u); });
    pclose(pipe);
    EXPECT_EQ(downloadRegion(0, 0, 2, nullptr), 5u);
}

class XmlDefaultsQuestion : public testing::Test {
  protected:
    void SetUp() override {
        gClParser = CL_PARSER{};
        std::snprintf(gClParser.xmlFileName, sizeof gClParser.xmlFileName, "%s", "board.xml");
        path_ = testing::TempDir() + std::string("xml_question_") + std::to_string(getpid());
    }
    void TearDown() override {
        ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
        std::remove(path_.c_str());
        gClParser = CL_PARSER{};
    }
    void feed(const std::string& input) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << input;
        ASSERT_NE(std::freopen(path_.c_str(), "r", stdin), nullptr);
    }
    std::string path_;
};

TEST_F(XmlDefaultsQuestion, TakesTheFirstCharacterOfTheLineAndDropsTheRest) {
    const std::string question = "\nFile board.xml contains dynamic values.\nDo you wish to proceed with default "
                                 "values (y/n)?";
    struct Case {
        const char* input;
        uint32_t status;
        std::string after;
    };
    const std::vector<Case> cases{
        {"y\nnext\n", 0, ""},
        {"Y", 0, ""},
        {"yes please\nnext\n", 0, ""},
        {"n\nnext\n", MORV_STATUS_DECLINED, "Download operation aborted by user\n"},
        {"\ny\n", MORV_STATUS_DECLINED, "Download operation aborted by user\n"},
        {"", MORV_STATUS_DECLINED, "Download operation aborted by user\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        feed(c.input);
        uint32_t status = 0;
        const std::string out = captured([&] { status = getUserConfirmationForXMLDefaultNode(); });
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(out, question + c.after);
        // What follows the answer's line is left for the next question.
        char rest[16] = {};
        const bool more = std::fgets(rest, sizeof rest, stdin) != nullptr;
        if (std::string(c.input).find("next") != std::string::npos) {
            EXPECT_STREQ(rest, "next\n");
        } else if (std::string(c.input) != "\ny\n") {
            EXPECT_FALSE(more);
        }
    }
    gClParser.optionFlags = CL_OPT_YES;
    feed("n\n");
    const std::string out = captured([] { EXPECT_EQ(getUserConfirmationForXMLDefaultNode(), 0u); });
    EXPECT_EQ(out, "");
}

} // namespace
