// Morvane's commands in-process down to the expander model: the front end, the core and the real hardware
// modules, with the model-backed fake in place of the in-band interface module. What reaches the expander is
// read back from the model.
#include "frontend/brannic.h"
#include "osal/osalTime.h"
#include "tests/hal/halFixture.h"
#include "tests/hal/modelFrontEnd.h"

#include <gmock/gmock.h>

#include <fstream>
#include <regex>
#include <unistd.h>

namespace {

using testing::HasSubstr;

using modelfront::kHigh;
using modelfront::kLow;
using modelfront::kTarget;

struct CommandRun {
    int status = -1;
    std::string out;
};

class FrontEndToModel : public ModelFrontEnd {
  protected:
    void SetUp() override {
        ModelFrontEnd::SetUp();
        inputPath_ = testing::TempDir() + "hal_frontend_input_" + std::to_string(getpid());
    }
    void TearDown() override {
        ModelFrontEnd::TearDown();
        ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
        std::remove(inputPath_.c_str());
    }

    CommandRun run(std::vector<std::string> words, const std::string& input = "") {
        {
            std::ofstream file(inputPath_, std::ios::binary | std::ios::trunc);
            file << input;
        }
        EXPECT_NE(std::freopen(inputPath_.c_str(), "r", stdin), nullptr);
        gInstance = MORV_INSTANCE{};
        gDisplayStatusFlag = 0;
        words.insert(words.begin(), "Morvane");
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        CommandRun result;
        testing::internal::CaptureStdout();
        result.status = brannicMain(static_cast<int>(words.size()), argv.data());
        result.out = testing::internal::GetCapturedStdout();
        return result;
    }

    std::string inputPath_;
};

TEST_F(FrontEndToModel, SetChangesExactlyTheSelectedField) {
    struct Case {
        std::vector<std::string> command;
        size_t at;
        std::vector<uint8_t> bytes;
        const char* success;
    };
    const Case cases[] = {
        {{"set", "ipaddr", "192.168.7.9"}, 4, {192, 168, 7, 9}, "\nSet IP address Successful\n"},
        {{"set", "subnetmask", "255.255.255.0"}, 8, {255, 255, 255, 0}, "\nSet Subnet Mask Successful\n"},
        {{"set", "gateway", "192.168.7.1"}, 12, {192, 168, 7, 1}, "\nSet Gateway Successful\n"},
        {{"set", "dhcp", "1"}, 28, {1, 0, 0, 0}, "\nDHCP status is enabled\n"},
    };
    for (auto [family, chipType] : {std::pair{zsim::Family::Quenza, 4u}, std::pair{zsim::Family::Quenza, 5u},
                                    std::pair{zsim::Family::Ostrel, 3u}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.command[1] + " on chip type " + std::to_string(chipType));
            expander(family, chipType);
            std::vector<uint8_t> expected = page();
            std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + static_cast<long>(c.at));
            std::vector<std::string> words = {"-q", "-i", kTarget};
            words.insert(words.end(), c.command.begin(), c.command.end());
            const CommandRun r = run(words, "y\n");
            EXPECT_EQ(r.status, 0);
            EXPECT_THAT(r.out, HasSubstr(c.success));
            EXPECT_THAT(r.out, HasSubstr("\nINFO: Apply reset to make the changes effective\n"));
            EXPECT_EQ(page(), expected);
            EXPECT_EQ(writes(), 1u);
        }
    }
}

TEST_F(FrontEndToModel, NothingIsWrittenWhenTheCommandStopsBeforeTheWrite) {
    struct Case {
        const char* label;
        zsim::Family family;
        uint32_t chipType;
        bool dhcp;
        std::vector<std::string> words;
        std::string input;
        int status;
    };
    const Case cases[] = {
        {"declined",
         zsim::Family::Quenza,
         4,
         false,
         {"-q", "-i", kTarget, "set", "ipaddr", "1.2.3.4"},
         "n\n",
         0x1027},
        {"end of input",
         zsim::Family::Quenza,
         4,
         false,
         {"-q", "-i", kTarget, "set", "gateway", "1.2.3.4"},
         "",
         0x1027},
        {"junk then end of input",
         zsim::Family::Ostrel,
         3,
         false,
         {"-i", kTarget, "reset", "exp"},
         "maybe\n",
         0x1027},
        {"invalid value",
         zsim::Family::Quenza,
         4,
         false,
         {"-q", "-y", "-i", kTarget, "set", "ipaddr", "1.2.3.256"},
         "",
         1},
        {"DHCP on",
         zsim::Family::Quenza,
         4,
         true,
         {"-q", "-y", "-i", kTarget, "set", "subnetmask", "255.0.0.0"},
         "",
         1},
        {"Gen2 expander",
         zsim::Family::Ostrel,
         2,
         false,
         {"-q", "-y", "-i", kTarget, "set", "dhcp", "0"},
         "",
         0x1026},
        {"Palx reset in-band",
         zsim::Family::Palx,
         1,
         false,
         {"-q", "-y", "-i", kTarget, "reset", "exp"},
         "",
         0x1026},
        {"reset without an address",
         zsim::Family::Quenza,
         4,
         false,
         {"-q", "-r", "-i", "get", "avail"},
         "",
         0x1026},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        expander(c.family, c.chipType, c.dhcp);
        const std::vector<uint8_t> before = page();
        const CommandRun r = run(c.words, c.input);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(writes(), 0u);
        EXPECT_EQ(page(), before);
        EXPECT_EQ(gModel.expander->chipResets() + gModel.expander->watchdogResets(), 0u);
    }
}

TEST_F(FrontEndToModel, ResetsReachTheExpander) {
    struct Case {
        zsim::Family family;
        uint32_t chipType;
        std::vector<std::string> words;
        uint32_t chip;
        uint32_t watchdog;
    };
    const Case cases[] = {
        {zsim::Family::Quenza, 4, {"-q", "-y", "-i", kTarget, "reset", "exp"}, 1, 0},
        {zsim::Family::Ostrel, 3, {"-q", "-f", "-w", "-i", kTarget, "reset", "exp"}, 1, 0},
        {zsim::Family::Quenza, 5, {"-q", "-w", "-i", kTarget, "get", "avail"}, 0, 1},
        {zsim::Family::Ostrel, 3, {"-q", "-r", "-i", kTarget, "get", "ipconfig"}, 1, 0},
        {zsim::Family::Quenza, 4, {"-q", "-y", "-w", "-i", kTarget, "set", "dhcp", "0"}, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.words));
        expander(c.family, c.chipType);
        const CommandRun r = run(c.words);
        EXPECT_EQ(r.status, 0);
        EXPECT_THAT(r.out, HasSubstr("Expander reset request successfully sent to expander.\n"));
        EXPECT_EQ(gModel.expander->chipResets(), c.chip);
        EXPECT_EQ(gModel.expander->watchdogResets(), c.watchdog);
    }
}

TEST_F(FrontEndToModel, GetListsTheExpanderFromTheOpenedHandle) {
    expander(zsim::Family::Ostrel, 3);
    const CommandRun avail = run({"-q", "-i", kTarget, "get", "avail"});
    EXPECT_EQ(avail.status, 0);
    EXPECT_EQ(avail.out, "\nExpander: Vellor_36\n\n\n1) Vellor_36 (5000ABCD:00001234)  (10.0.0.5) \n\n");
    EXPECT_EQ(writes(), 0u);
    // A foreign image in the flash: the open warns and get ends with the warning's status.
    gModel.reset(zsim::Family::Quenza, 4);
    gModel.heapList = true;
    std::strcpy(gModel.listed.expander.name, "Vellor_48");
    zsim::FirmwareHeader header;
    header.signature = {1, 2, 3};
    gModel.expander->writeFirmwareHeader(header);
    const CommandRun foreign = run({"-q", "-i", kTarget, "get", "avail"});
    EXPECT_EQ(foreign.status, 32);
    EXPECT_THAT(foreign.out, HasSubstr("Region does not contain a valid firmware image.\n"));
}

TEST_F(FrontEndToModel, LogHoldsTheFrontEndAndLibraryLinesInOrder) {
    expander(zsim::Family::Quenza, 4);
    const std::string path = testing::TempDir() + "hal_frontend_log_" + std::to_string(getpid());
    const CommandRun r = run({"-l", path, "-q", "-y", "-r", "-i", kTarget, "set", "ipaddr", "10.1.2.3"});
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> lines;
    {
        static const std::regex stamp(R"(^\d+/\d+/\d\d \d\d:\d\d:\d\d : )");
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);)
            lines.push_back(std::regex_replace(line, stamp, ""));
    }
    std::remove(path.c_str());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "******************** # Morvane LOG # *******************");
    EXPECT_TRUE(
        containsInOrder(lines, {
                                   "INFO : morv::executeSetCmd : Entry.",
                                   "INFO : morv::init : Entry.",
                                   "INFO : zelkor::zelkor_open : Entry",
                                   "INFO : zelkor::zelkor_open : Opening GEN3 HAL Library",
                                   "INFO : zelkor_hal_GEN3::zelkor_hal_open : Entry",
                                   "INFO : zelkor_hal_GEN3::zelkor_hal_open : Populating the region List",
                                   "INFO : zelkor_hal_GEN3::halPopulateRegionList : Reading 84 bytes at "
                                   "0x00000000 offset",
                                   "INFO : zelkor_hal_GEN3::halPopulateRegionList : Reading 424 bytes at "
                                   "0x00000100 offset",
                                   "INFO : zelkor::zelkor_open : Exit",
                                   "INFO : zelkor_hal_GEN3::zelkor_hal_getRegions : Region List Populated "
                                   "successfully.",
                                   "INFO : morv::init : Exit.",
                                   "INFO : morv::setIpAddress : Entry.",
                                   "INFO : zelkor::zelkor_setMorv : Entry",
                                   "INFO : zelkor_hal_GEN3::zelkor_hal_setMorv : Getting HAL region List",
                                   "INFO : zelkor_hal_GEN3::zelkor_hal_setMorv : Writing data in Ethernet "
                                   "Configuration Page",
                                   "INFO : morv::setIpAddress : Exit.",
                                   "INFO : morv::resetExpander : Entry.",
                                   "INFO : zelkor_hal_GEN3::zelkor_hal_resetExpander : Writing 4 bytes at "
                                   "0xc3800200 offset",
                                   "INFO : morv::resetExpander : Exit.",
                                   "INFO : morv::executeSetCmd : Exit.",
                                   "INFO : zelkor::zelkor_close : Entry",
                                   "INFO : zelkor_hal_GEN3::zelkor_hal_close : Entry",
                                   "INFO : morv::main : Exit.",
                               }));
}

} // namespace
