// The front end's message writer, progress dots and status texts.
#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "frontend/messages.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

class MessagesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gClParser = CL_PARSER{};
        gSharedVars = ZELKOR_SHARED_VARS{};
        gInstance = MORV_INSTANCE{};
    }
    void TearDown() override {
        zelkor_closeLogger();
        gClParser = CL_PARSER{};
        gSharedVars = ZELKOR_SHARED_VARS{};
        gInstance = MORV_INSTANCE{};
    }

    void openLog() {
        LOG_CONFIG config{};
        std::snprintf(config.name, sizeof config.name, "%s", log_.c_str());
        config.truncate = 1;
        config.typeMask = 0xFFFFFFFF;
        config.levelMask = 0xFF;
        ASSERT_EQ(zelkor_initLogger(&config), 0u);
    }
    std::string closeAndReadLog() {
        zelkor_closeLogger();
        return testsupport::readFile(log_);
    }

    testsupport::TempDir dir_;
    std::filesystem::path log_ = dir_ / "m.log";
};

// Status texts exactly as the user sees them, for every code that has one.
const std::map<uint32_t, std::string> kTexts = {
    {2, "Function is not applicable.\n"},
    {3, "Function is not supported via present interface.\n"},
    {4, "Invalid handle.\n"},
    {5, "Invalid argument.\n"},
    {6, "Failed allocating memory.\n"},
    {7, "Library is not initialized properly.\n"},
    {8, "Failed loading IAL library.\n"},
    {9, "Failed loading HAL library.\n"},
    {10, "Failed mapping IAL vectors.\n"},
    {11, "Failed mapping HAL vectors.\n"},
    {12, "Failed instantiating IAL.\n"},
    {13, "Failed instantiating HAL.\n"},
    {14, "Failed retrieving IAL version.\n"},
    {15, "Failed retrieving HAL version.\n"},
    {16, "Incompatible IAL library.\n"},
    {17, "Incompatible HAL library.\n"},
    {18, "IAL or HAL API failed.\n"},
    {19, "Invalid expander type.\n"},
    {20, "Unknown error while opening the interface.\n"},
    {21, "Interface does not exists.\n"},
    {22, "Interface permission denied.\n"},
    {23, "Interface was opened, but failed while setting the connection parameters.\n"},
    {24, "Failed writing to interface.\n"},
    {25, "Failed reading from interface.\n"},
    {26, "Failed loading dynamic regions.\n"},
    {29, "Command unsupported on attached expander.\n"},
    {30, "No attached device found.\n"},
    {31, "Routing not configured .\n"},
    {32, "Region does not contain a valid firmware image.\n"},
    {36, "The XML file failed Schema validation.\n"},
    {37, "Invalid Page Id in XML File.\n"},
    {38, "Duplicate Page Id in XML File.\n"},
    {39, "Offset validation failed for the XML document.\n"},
    {40, "Invalid XML file.\n"},
    {41, "LIBXML2 failed to parse the XML file.\n"},
    {42, "Flash region is blank.\n"},
    {43, "Data Size larger than Region Size.\n"},
    {44, "Data Size larger than Flash Size.\n"},
    {45, "Invalid Phy ID.\n"},
    {46, "Zoning Not Enabled on Expander.\n"},
    {47, "Route Table Not Enabled on Expander.\n"},
    {48, "Routing Attribute of the Phy is Not Table.\n"},
    {52, "Environmental variable ZELKOR_SUPPORT_FILES is not defined"},
    {53,
     "Not able to find the support files (*.fw, *.xsd, *.xml) under ZELKOR_SUPPORT_FILES env variable and "
     "current directory.\n"},
    {58, "Env path + support file name lenght is greather than 512 Bytes"},
};

std::string shownStatus(uint32_t status) {
    testing::internal::CaptureStdout();
    displayZelkorStatus(status);
    return testing::internal::GetCapturedStdout();
}

TEST_F(MessagesTest, EveryStatusShowsAnEmptyLineAndItsText) {
    std::vector<uint32_t> codes;
    for (uint32_t code = 0; code <= 60; ++code)
        codes.push_back(code);
    codes.insert(codes.end(), {MORV_STATUS_HELP_TOPIC, MORV_STATUS_NO_COMMAND, MORV_STATUS_INVALID_INPUT,
                               MORV_STATUS_DECLINED, 0xFFFFFFFF});
    for (uint32_t code : codes) {
        const auto text = kTexts.find(code);
        EXPECT_EQ(shownStatus(code), "\n" + (text != kTexts.end() ? text->second : std::string()))
            << "status " << code;
    }
}

TEST_F(MessagesTest, StatusIsShownInQuietModeAndNotLogged) {
    gClParser.optionFlags = CL_OPT_QUIET;
    openLog();
    EXPECT_EQ(shownStatus(29), "\nCommand unsupported on attached expander.\n");
    EXPECT_EQ(closeAndReadLog(), "");
}

TEST_F(MessagesTest, DestinationsQuietAndEcho) {
    struct Case {
        uint32_t destination;
        bool quiet;
        uint32_t echo;
        bool console;
        bool logged;
    };
    const Case cases[] = {
        {0, false, 0, true, false}, {1, false, 0, true, false}, {2, false, 0, true, false},
        {3, false, 0, false, true}, {4, false, 0, false, true}, {0, true, 0, false, false},
        {1, true, 0, false, false}, {2, true, 0, true, false},  {3, true, 0, false, true},
        {1, true, 1, true, false},  {2, true, 1, true, false},  {3, false, 1, true, true},
        {3, true, 1, true, true},   {1, true, 2, false, false}, {3, false, 2, false, true},
    };
    for (const Case& c : cases) {
        gClParser.optionFlags = c.quiet ? CL_OPT_QUIET : 0;
        gSharedVars.consoleEcho = c.echo;
        openLog();
        testing::internal::CaptureStdout();
        messageLog(kMorvModule, ZELKOR_LOG_WARN, 0, "probe", c.destination, "value %d", 42);
        const std::string console = testing::internal::GetCapturedStdout();
        const std::string log = closeAndReadLog();
        const std::string label = "destination " + std::to_string(c.destination) + (c.quiet ? " quiet" : "") +
                                  " echo " + std::to_string(c.echo);
        EXPECT_EQ(console, c.console ? "value 42" : "") << label;
        EXPECT_EQ(log, c.logged ? "WARN : morv::probe : value 42\n" : "") << label;
    }
}

TEST_F(MessagesTest, LoggedTextIsWrittenVerbatim) {
    openLog();
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, "main", MSG_DEST_LOG, "Opening %s", "file%s%d%n.xml");
    messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_LOG, "%s", "bare 100% line");
    EXPECT_EQ(closeAndReadLog(), "INFO : morv::main : Opening file%s%d%n.xml\nbare 100% line\n");
}

TEST_F(MessagesTest, LongMessagesAreCut) {
    const std::string longText(700, 'x');
    openLog();
    testing::internal::CaptureStdout();
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "%s", longText.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), longText.substr(0, MSG_TEXT_LIMIT));
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_LOG, "%s", longText.c_str());
    EXPECT_EQ(closeAndReadLog(), longText.substr(0, MSG_TEXT_LIMIT) + "\n");
}

TEST_F(MessagesTest, ProgressDotsOnlyWhileBusy) {
    struct Case {
        int32_t event;
        bool busy;
        bool quiet;
        uint32_t echo;
        const char* shown;
    };
    const Case cases[] = {
        {1, true, false, 0, "."}, {1, false, false, 0, ""}, {2, true, false, 0, ""},
        {0, true, false, 0, ""},  {1, true, true, 0, ""},   {1, true, true, 1, "."},
    };
    for (const Case& c : cases) {
        gInstance.busy = c.busy ? 1 : 0;
        gClParser.optionFlags = c.quiet ? CL_OPT_QUIET : 0;
        gSharedVars.consoleEcho = c.echo;
        testing::internal::CaptureStdout();
        zelkor_messageHandler(c.event, 99);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.shown)
            << "event " << c.event << (c.busy ? " busy" : "") << (c.quiet ? " quiet" : "");
    }
}

} // namespace
