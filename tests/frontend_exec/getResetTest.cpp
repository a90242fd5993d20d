// get avail, get ipconfig and reset exp: the listings, the resets they may ask for, and the question of
// reset.
#include "frontend/messages.h"
#include "tests/frontend_exec/execFixture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Writes = std::vector<std::string>;

const std::string kResetSent = "Expander reset request successfully sent to expander.\n";
const std::string kResetNeedsAddress =
    "\nERROR: A reset needs the SAS address of the expander (-i <sas addr>); no expander was reset.\n";

// Expanders of every chip type, two of no known type among them, and one whose name fills its field.
std::vector<ZELKOR_EXPANDER> mixedList() {
    ZELKOR_EXPANDER dax = makeExpander(ZELKOR_CHIP_QUENZA_DAX, "", 0x50040000, 4, "10.0.0.5");
    std::memset(dax.name, 'K', sizeof dax.name);
    std::strcpy(dax.revision, "REV");
    return {
        makeExpander(ZELKOR_CHIP_QUENZA, "Vellor_48", kTargetHigh, kTargetLow, "10.0.0.4"),
        makeExpander(ZELKOR_CHIP_PALX, "Palx_36", 0x50010000, 1, "192.168.1.5"),
        makeExpander(ZELKOR_CHIP_OSTREL, "Ostrel_36", 0x50020000, 2, "NotConfigured"),
        makeExpander(6, "Mystery", 0x50050000, 5, "10.0.0.6"),
        makeExpander(0, "Nothing", 0x50060000, 6, "10.0.0.7"),
        makeExpander(ZELKOR_CHIP_OSTREL_SWITCH, "Ostrel_Sw", 0x50030000, 3, "10.0.0.3"),
        dax,
    };
}

const std::string kMixedListing = "1) Vellor_48 (5000ABCD:00001234)  (10.0.0.4) \n"
                                  "2) Palx_36 (50010000:00000001)  \n"
                                  "3) Ostrel_36 (50020000:00000002)  \n"
                                  "4) Ostrel_Sw (50030000:00000003)  (10.0.0.3) \n"
                                  "5) " +
                                  std::string(30, 'K') + " (50040000:00000004)  (10.0.0.5) \n";

// The target the interface open was given, as the fake recorded it.
std::string openTargetArgument() {
    for (const std::string& call : gFake.calls) {
        if (call.rfind("zelkor_ial_open(", 0) == 0) {
            const size_t first = call.find(',');
            return call.substr(first + 1, call.find(',', first + 1) - first - 1);
        }
    }
    return "none";
}

TEST_F(ExecTest, GetAvailListsTheKnownChipTypesInOrder) {
    gFake.heapExpanders = mixedList();
    struct Case {
        Words words;
        std::string target;
    };
    const Case cases[] = {
        {{"-q", "-i", kTarget, "get", "avail"}, std::to_string(0x5000ABCD00001234ull)},
        {{"-q", "-i", "get", "avail"}, "0"},
    };
    for (const Case& c : cases) {
        gFake.calls.clear();
        // get avail never asks.
        const RunResult r = run(c.words, "n\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, opened("Vellor_48") + kMixedListing + "\n");
        EXPECT_EQ(openTargetArgument(), c.target);
        EXPECT_TRUE(deviceWrites().empty());
    }
}

TEST_F(ExecTest, GetAvailWithResetResetsOnlyTheAddressedExpander) {
    struct Case {
        Words words;
        int status;
        std::string tail; // after the listing
        Writes writes;
    };
    const Case cases[] = {
        {{"-q", "-r", "-i", kTarget, "get", "avail"}, 0, "\n" + kResetSent, {"reset 1"}},
        {{"-q", "-w", "-i", kTarget, "get", "avail"}, 0, "\n" + kResetSent, {"reset 2"}},
        // Without an address the handle stands on whichever expander came first: refused, nothing reset.
        {{"-q", "-r", "-i", "get", "avail"},
         static_cast<int>(MORV_STATUS_INVALID_INPUT),
         kResetNeedsAddress + "\n",
         {}},
        {{"-q", "-w", "-y", "-f", "-i", "get", "avail"},
         static_cast<int>(MORV_STATUS_INVALID_INPUT),
         kResetNeedsAddress + "\n",
         {}},
    };
    for (const Case& c : cases) {
        gFake.calls.clear();
        gFake.heapExpanders = mixedList();
        const RunResult r = run(c.words, "y\n");
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, opened("Vellor_48") + kMixedListing + c.tail + "\n");
        EXPECT_EQ(deviceWrites(), c.writes);
    }
}

TEST_F(ExecTest, GetIpConfigShowsTheSettingsAndTheDhcpState) {
    struct Case {
        uint32_t dhcp;
        const char* shown;
    };
    const Case cases[] = {{0, "Disabled"}, {0xFFFFFFFF, "Unknown"}, {1, "Enabled"}, {0x80, "Enabled"}};
    for (const Case& c : cases) {
        gFake.calls.clear();
        gFake.heapExpanders = {makeExpander(ZELKOR_CHIP_QUENZA_DAX, "Kestan_24", kTargetHigh, kTargetLow,
                                            "192.168.7.7", c.dhcp)};
        const RunResult r = run({"-q", "-i", kTarget, "get", "ipconfig"}, "n\n");
        EXPECT_EQ(r.status, 0) << c.shown;
        EXPECT_EQ(r.out, opened("Kestan_24") +
                             "          IP Address: 192.168.7.7\n"
                             "         Subnet Mask: 255.255.255.0\n"
                             "             Gateway: 192.168.1.1\n"
                             "         MAC Address: 00:11:22:33:44:55\n "
                             "         DHCP Status: " +
                             c.shown + "\n" + "\n")
            << c.shown;
        EXPECT_TRUE(deviceWrites().empty());
    }
}

TEST_F(ExecTest, GetIpConfigWithResetResetsAfterTheListing) {
    const RunResult r = run({"-q", "-w", "-i", kTarget, "get", "ipconfig"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.ends_with("DHCP Status: Disabled\n\n" + kResetSent + "\n")) << r.out;
    EXPECT_EQ(deviceWrites(), Writes{"reset 2"});
}

TEST_F(ExecTest, GetIpConfigOnPalxIsUnsupported) {
    gFake.heapExpanders = {makeExpander(ZELKOR_CHIP_PALX, "Palx_36", kTargetHigh, kTargetLow)};
    const RunResult r = run({"-q", "-r", "-i", kTarget, "get", "ipconfig"});
    EXPECT_EQ(r.status, 29);
    EXPECT_EQ(r.out, opened("Palx_36") + "\nCommand unsupported on attached expander.\n" + "\n");
    EXPECT_TRUE(deviceWrites().empty());
}

// ---- reset exp ----

TEST_F(ExecTest, ResetExpAsksAndAlwaysSendsTheChipReset) {
    const std::string question = "Are you sure you want to reset Expander?(y/n):";
    struct Case {
        Words options;
        std::string input;
        int status;
        std::string middle;
        Writes writes;
    };
    const Case cases[] = {
        {{"-q"}, "y\n", 0, question + "\n" + kResetSent, {"reset 1"}},
        {{"-q"}, "x\nY\n", 0, question + "\n" + question + "\n" + kResetSent, {"reset 1"}},
        {{"-q", "-w"}, "y\n", 0, question + "\n" + kResetSent, {"reset 1"}},
        {{"-q", "-y"}, "n\n", 0, kResetSent, {"reset 1"}},
        {{"-q", "-f", "-w"}, "", 0, kResetSent, {"reset 1"}},
        {{"-q"},
         "n\n",
         static_cast<int>(MORV_STATUS_DECLINED),
         question + "\n" + "Reset operation aborted by user\n" + "\n",
         {}},
        {{"-q", "-r"},
         "",
         static_cast<int>(MORV_STATUS_DECLINED),
         question + "\n" + "Reset operation aborted by user\n" + "\n",
         {}},
    };
    for (const Case& c : cases) {
        gFake.calls.clear();
        Words words = c.options;
        words.insert(words.end(), {"-i", kTarget, "reset", "exp"});
        const RunResult r = run(words, c.input);
        EXPECT_EQ(r.status, c.status) << c.input;
        EXPECT_EQ(r.out, opened() + c.middle + "\n") << c.input;
        EXPECT_EQ(deviceWrites(), c.writes) << c.input;
    }
}

TEST_F(ExecTest, FailedResetExpGivesItsStatus) {
    gFake.results["zelkor_hal_resetExpander"] = 24;
    restartLog();
    const RunResult r = run({"-q", "-y", "-i", kTarget, "reset", "exp"});
    EXPECT_EQ(r.status, 24);
    EXPECT_EQ(r.out, opened() + "\nFailed writing to interface.\n" + "Failed Resetting Expander\n" +
                         "\nFailed writing to interface.\n" + "\n");
    EXPECT_EQ(deviceWrites(), Writes{"reset 1"});
    EXPECT_TRUE(containsInOrder(
        log_->lines(), {"INFO : morv::resetExpander : Entry.", "", "INFO : morv::resetExpander : Exit.", "",
                        "ERROR : morv::executeResetCmd : Failed Resetting Expander"}));
}

TEST_F(ExecTest, ResetExpOnPalxInBandIsRefused) {
    gFake.heapExpanders = {makeExpander(ZELKOR_CHIP_PALX, "Palx_36", kTargetHigh, kTargetLow)};
    const RunResult r = run({"-q", "-y", "-i", kTarget, "reset", "exp"});
    EXPECT_EQ(r.status, static_cast<int>(MORV_STATUS_INVALID_INPUT));
    EXPECT_EQ(r.out, opened("Palx_36") +
                         "WARN: This functionality is not supported in PALX through SAS interface" + "\n\n");
    EXPECT_TRUE(deviceWrites().empty());
    EXPECT_TRUE(
        containsLine(log_->lines(),
                     "WARN : morv::executeResetCmd : This functionality is not supported in PALX through SAS "
                     "interface"));
}

} // namespace
