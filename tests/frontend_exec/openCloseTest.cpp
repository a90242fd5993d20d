// The open of every command (init), what quiet and the progress dots show, the log traces, and the end of the
// run in main: status shown once, lists freed, handle closed, exit status.
#include "core/zelkorInternal.h"
#include "frontend/clparser.h"
#include "frontend/messages.h"
#include "tests/frontend/test_support.h"
#include "tests/frontend_exec/execFixture.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using Writes = std::vector<std::string>;

const std::string kResetSent = "Expander reset request successfully sent to expander.\n";
const std::string kFailedInit = "Failed to Initialize Communication!\n";

Words withCommand(const Words& command) {
    return commandLine({"-q", "-y"}, command);
}

const std::vector<Words> kEveryCommand = {
    {"get", "avail"},
    {"get", "ipconfig"},
    {"set", "ipaddr", "192.168.1.20"},
    {"set", "subnetmask", "255.0.0.0"},
    {"set", "gateway", "10.0.0.1"},
    {"set", "dhcp", "1"},
    {"set", "dhcp", "0"},
    {"reset", "exp"},
};

TEST_F(ExecTest, FailedOpenOrRegionFetchEndsEveryCommandWithoutTouchingTheExpander) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        int status;
        std::string out;
    };
    const Case cases[] = {
        // No expander list: the executors end with 0x1026 and main shows nothing more.
        {"interface open fails twice",
         [] {
             gFake.ialOpenResults = {21, 21};
         },
         static_cast<int>(MORV_STATUS_INVALID_INPUT), "\nFailed instantiating IAL.\n" + kFailedInit + "\n"},
        {"interface operation missing", [] { gFake.missing = {"zelkor_ial_eraseRegion"}; },
         static_cast<int>(MORV_STATUS_INVALID_INPUT), "\nFailed mapping IAL vectors.\n" + kFailedInit + "\n"},
        {"interface version too old", [] { gFake.ialMajor = 0; }, static_cast<int>(MORV_STATUS_INVALID_INPUT),
         "\nIncompatible IAL library.\n" + kFailedInit + "\n"},
        {"expander listing fails", [] { gFake.results["zelkor_ial_getExpanders"] = 25; },
         static_cast<int>(MORV_STATUS_INVALID_INPUT),
         "**** Zelkor is unable to get Expanders detail  FAILED****\n\nIAL or HAL API failed.\n" +
             kFailedInit + "\n"},
        // The list came before the hardware open failed: the failed open hands out none all the same.
        {"hardware open fails", [] { gFake.results["zelkor_hal_open"] = 7; },
         static_cast<int>(MORV_STATUS_INVALID_INPUT), "\nFailed instantiating HAL.\n" + kFailedInit + "\n"},
        {"hardware version too old", [] { gFake.halMajor = 0x80; }, static_cast<int>(MORV_STATUS_INVALID_INPUT),
         "\nIncompatible HAL library.\n" + kFailedInit + "\n"},
        {"unknown chip type", [] { gFake.heapExpanders = {makeExpander(9, "Odd", kTargetHigh, kTargetLow)}; },
         static_cast<int>(MORV_STATUS_INVALID_INPUT), "\nInvalid expander type.\n" + kFailedInit + "\n"},
        // The handle is open when the region list cannot be had: it is closed again.
        {"no region list", [] { gFake.handOutRegions = false; }, 33,
         "\nUnable to retrieve Region List.\n" + std::string("\n") + "\n"},
        {"empty region list", [] { gFake.regions.clear(); }, 33,
         "\nUnable to retrieve Region List.\n" + std::string("\n") + "\n"},
        // A failed copy hands over what it copied; the front end frees it.
        {"region fetch fails", [] { gFake.results["zelkor_hal_getRegions"] = 6; }, 6,
         "\nFailed allocating memory.\nUnable to retrieve Region List.\n\nFailed allocating memory.\n\n"},
    };
    for (const Case& c : cases) {
        for (const Words& command : kEveryCommand) {
            SCOPED_TRACE(std::string(c.what) + ": " + describe(command));
            resetState();
            c.arrange();
            const RunResult r = run(withCommand(command), "y\n");
            EXPECT_EQ(r.status, c.status);
            EXPECT_EQ(r.out, c.out);
            EXPECT_TRUE(deviceWrites().empty());
            const bool noList = c.status == static_cast<int>(MORV_STATUS_INVALID_INPUT);
            EXPECT_EQ(
                containsLine(log_->lines(), "ERROR : morv::" +
                                                std::string(command[0] == "set"   ? "executeSetCmd"
                                                            : command[0] == "get" ? "executeGetCmd"
                                                                                  : "executeResetCmd") +
                                                " : No Expander seems to be attached to the Host machine"),
                noList);
            // After a failed open the in-band list stays with its module (the fake), which lets it go now.
            if (noList)
                gFake.releaseKeptList();
        }
    }
}

TEST_F(ExecTest, InterfaceOpenIsRetriedOnce) {
    gFake.ialOpenResults = {21};
    const RunResult r = run(withCommand({"set", "ipaddr", "192.168.1.20"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(deviceWrites(), Writes{"setMorv 192.168.1.20 selector 0"});
}

TEST_F(ExecTest, OpenWarningStopsGetAndSetButNotReset) {
    for (ZELKOR_STATUS warning : {26u, 32u}) {
        const std::string text = warning == 26 ? "\nFailed loading dynamic regions.\n"
                                               : "\nRegion does not contain a valid firmware image.\n";
        for (const Words& command : kEveryCommand) {
            SCOPED_TRACE(std::to_string(warning) + ": " + describe(command));
            resetState();
            gFake.results["zelkor_hal_open"] = warning;
            const RunResult r = run(withCommand(command));
            if (command[0] == "reset") {
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(r.out, opened() + kResetSent + "\n");
                EXPECT_EQ(deviceWrites(), Writes{"reset 1"});
            } else {
                EXPECT_EQ(r.status, static_cast<int>(warning));
                EXPECT_EQ(r.out, opened() + text + "\n");
                EXPECT_TRUE(deviceWrites().empty());
            }
        }
    }
}

TEST_F(ExecTest, RegionCountStartsAtTheThirdRegion) {
    struct Case {
        std::vector<uint32_t> indexes;
        int32_t count;
    };
    const Case cases[] = {
        {{0}, -1},
        {{0, 0}, -1},
        {{0, 0, 0}, 0},
        {{0, 0, 4, 5, 6}, 2},
        {{0, 0, 0, 0, 7}, 0},
        {{0, 0, 3, 9, 0, 8}, 1},
        {{5, 5, 5, 5}, 1},
    };
    for (const Case& c : cases) {
        gFake.regions.clear();
        for (uint32_t index : c.indexes)
            gFake.regions.push_back(makeRegion(index));
        const RunResult r = run(withCommand({"get", "ipconfig"}));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(gSharedVars.regionCount, c.count) << c.indexes.size() << " regions";
    }
}

// ---- quiet and the progress dots ----

TEST_F(ExecTest, QuietHidesOnlyTheBannerAndTheOpen) {
    progressOn("zelkor_hal_open");
    progressOn("zelkor_hal_setMorv");
    progressOn("zelkor_hal_resetExpander");
    struct Case {
        Words words;
        std::string out;
    };
    const Case cases[] = {
        {{"-y", "-i", kTarget, "reset", "exp"},
         banner() + "Initializing Interface." + "." + opened() + "." + kResetSent + "\n"},
        // The dots of the reset command itself are shown: quiet ends with the open.
        {{"-q", "-y", "-i", kTarget, "reset", "exp"}, opened() + "." + kResetSent + "\n"},
        // No dots while writing or during the reset after a set.
        {{"-y", "-r", "-i", kTarget, "set", "ipaddr", "1.2.3.4"},
         banner() + "Initializing Interface." + "." + opened() + "\nSet IP address Successful\n" + "\n" +
             kResetSent + "\n"},
        {{"-q", "-y", "-w", "-i", kTarget, "set", "ipaddr", "1.2.3.4"},
         opened() + "\nSet IP address Successful\n" + "\n" + kResetSent + "\n"},
        {{"-q", "-i", kTarget, "get", "avail"},
         opened() + "1) Vellor_36 (5000ABCD:00001234)  (192.168.1.10) \n\n"},
    };
    for (const Case& c : cases) {
        gFake.calls.clear();
        const RunResult r = run(c.words);
        EXPECT_EQ(r.status, 0) << describe(c.words);
        EXPECT_EQ(r.out, c.out) << describe(c.words);
    }
}

// ---- the log ----

TEST_F(ExecTest, LogFileHoldsTheTracesOfTheRun) {
    testsupport::TempDir dir;
    const std::string path = (dir / "run.log").string();
    const RunResult r = run({"-q", "-y", "-r", "-l", path, "-i", kTarget, "set", "ipaddr", "1.2.3.4"});
    ASSERT_EQ(r.status, 0) << r.out;
    static const std::regex stamp(R"(^\d+/\d+/\d\d \d\d:\d\d:\d\d : )");
    std::vector<std::string> lines;
    for (const std::string& line : testsupport::readLines(path))
        lines.push_back(std::regex_replace(line, stamp, ""));
    EXPECT_TRUE(
        containsInOrder(lines, {"INFO : morv::main : Entry.", "INFO : morv::executeSetCmd : Entry.",
                                "INFO : morv::init : Entry.", "INFO : zelkor::zelkor_open : Entry",
                                "INFO : zelkor::zelkor_getRegions : Entry", "INFO : morv::init : Exit.",
                                "INFO : morv::setIpAddress : Entry.", "INFO : zelkor::zelkor_setMorv : Entry",
                                "INFO : morv::setIpAddress : Exit.", "INFO : morv::resetExpander : Entry.",
                                "INFO : morv::resetExpander : Exit.", "INFO : morv::executeSetCmd : Exit.",
                                "INFO : zelkor::zelkor_close : Entry", "INFO : morv::main : Exit."}));
}

TEST_F(ExecTest, DeclineIsLogged) {
    const RunResult r = run({"-q", "-i", kTarget, "set", "gateway", "1.2.3.4"}, "n\n");
    EXPECT_EQ(r.status, static_cast<int>(MORV_STATUS_DECLINED));
    EXPECT_TRUE(
        containsInOrder(log_->lines(), {"INFO : morv::getConfirmation : Entry.", "",
                                        "ERROR : morv::getConfirmation : Set operation aborted by user.",
                                        "INFO : morv::getConfirmation : Exit."}));
}

// ---- the end of the run ----

TEST_F(ExecTest, FailedCloseIsShownAndBecomesTheExitStatus) {
    // The handle disappears from the library's list while the command runs, so the close cannot find it.
    ZELKOR_INSTANCE* unlisted = nullptr;
    gFake.onCall["zelkor_hal_setMorv"] = [&unlisted] {
        unlisted = getZelkorInstance(gFake.halOpenHandle);
        ASSERT_NE(unlisted, nullptr);
        ASSERT_EQ(ll_remove(gZelkorInstanceList, LL_AT_CURSOR), LL_SUCCESS);
    };
    const RunResult r = run(withCommand({"set", "ipaddr", "1.2.3.4"}));
    ASSERT_NE(unlisted, nullptr);
    freeResources(unlisted);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, opened() + "\nSet IP address Successful\n" +
                         "\nINFO: Apply reset to make the changes effective\n" +
                         "Falied to close zelkor instance.\n" + "\nInvalid handle.\n" + "\n");
}

TEST_F(ExecTest, CommandStatusWinsOverTheCloseStatusAndListsAreFreedFirst) {
    gFake.onCall["zelkor_hal_setMorv"] = [] {
        ASSERT_NE(getZelkorInstance(gFake.halOpenHandle), nullptr);
        ASSERT_EQ(ll_remove(gZelkorInstanceList, LL_AT_CURSOR), LL_SUCCESS);
    };
    gFake.results["zelkor_hal_setMorv"] = 24;
    const RunResult r = run(withCommand({"-r", "set", "ipaddr", "1.2.3.4"}));
    freeResources(gFake.halOpenHandle);
    EXPECT_EQ(r.status, 24);
    // The failed write's status was shown already; the close failure adds its line but no second status.
    EXPECT_EQ(r.out, opened() + "\nFailed writing to interface.\n" +
                         "\nERROR: Unable to set the IP address\n" + "Falied to close zelkor instance.\n" +
                         "\n");
    EXPECT_EQ(deviceWrites(), Writes{"setMorv 1.2.3.4 selector 0"}) << "no reset after a failed write";
    EXPECT_EQ(gInstance.expanderList, nullptr);
    EXPECT_EQ(gInstance.regionList, nullptr);
    EXPECT_EQ(gInstance.handle, nullptr);
}

} // namespace
