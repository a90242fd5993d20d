// set ipaddr, subnetmask, gateway and dhcp: value checks, the DHCP guard, the confirmation, the write and the
// reset after it.
#include "frontend/clparser.h"
#include "frontend/messages.h"
#include "tests/frontend_exec/execFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

using Writes = std::vector<std::string>;

const std::string kApplyReset = "\nINFO: Apply reset to make the changes effective\n";
const std::string kResetSent = "Expander reset request successfully sent to expander.\n";

std::string repeat(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

struct SetCase {
    Words words; // after the options and the address
    std::string success;
    std::string write;
};

const std::vector<SetCase> kSetCases = {
    {{"set", "ipaddr", "192.168.1.20"}, "\nSet IP address Successful\n", "setMorv 192.168.1.20 selector 0"},
    {{"set", "subnetmask", "255.255.255.0"},
     "\nSet Subnet Mask Successful\n",
     "setMorv 255.255.255.0 selector 1"},
    {{"set", "gateway", "10.0.0.1"}, "\nSet Gateway Successful\n", "setMorv 10.0.0.1 selector 2"},
    {{"set", "dhcp", "1"}, "\nDHCP status is enabled\n", "setMorv 1.0.0.0 selector 3"},
    {{"set", "dhcp", "0"}, "\nDHCP status is disabled\n", "setMorv 0.0.0.0 selector 3"},
    // An empty word counts as 0.
    {{"set", "dhcp", ""}, "\nDHCP status is disabled\n", "setMorv 0.0.0.0 selector 3"},
};

TEST_F(ExecTest, SetWritesTheValueWithoutAQuestionAfterYesOrForce) {
    for (const char* option : {"-y", "-f", "--yes", "--force"}) {
        for (const SetCase& c : kSetCases) {
            gFake.calls.clear();
            gFake.setMorvValues.clear();
            const Words words = commandLine({"-q", option}, c.words);
            // An answer waiting on standard input is never read.
            const RunResult r = run(words, "n\n");
            EXPECT_EQ(r.status, 0) << describe(words);
            EXPECT_EQ(r.out, opened() + c.success + kApplyReset + "\n") << describe(words);
            EXPECT_EQ(deviceWrites(), Writes{c.write}) << describe(words);
        }
    }
}

TEST_F(ExecTest, SetFollowedByTheResetThatWasAskedFor) {
    struct Case {
        const char* option;
        const char* reset;
    };
    for (const Case& k : {Case{"-r", "reset 1"}, Case{"-w", "reset 2"}, Case{"--wdreset", "reset 2"}}) {
        for (const SetCase& c : kSetCases) {
            gFake.calls.clear();
            gFake.setMorvValues.clear();
            const Words words = commandLine({"-q", "-y", k.option}, c.words);
            const RunResult r = run(words);
            EXPECT_EQ(r.status, 0) << describe(words);
            EXPECT_EQ(r.out, opened() + c.success + "\n" + kResetSent + "\n") << describe(words);
            EXPECT_EQ(deviceWrites(), (Writes{c.write, k.reset})) << describe(words);
        }
    }
}

TEST_F(ExecTest, FailedResetAfterSetGivesTheResetStatus) {
    gFake.results["zelkor_hal_resetExpander"] = 24;
    const RunResult r = run(commandLine({"-q", "-y", "-r"}, {"set", "gateway", "10.0.0.1"}));
    EXPECT_EQ(r.status, 24);
    // The reset step shows the status, and main shows it once more.
    EXPECT_EQ(r.out, opened() + "\nSet Gateway Successful\n" + "\nFailed writing to interface.\n" + "\n" +
                         "Failed Resetting Expander\n" + "\nFailed writing to interface.\n" + "\n");
    EXPECT_EQ(deviceWrites(), (Writes{"setMorv 10.0.0.1 selector 2", "reset 1"}));
}

TEST_F(ExecTest, FailedWriteShowsItsStatusOnceAndNoReset) {
    struct Case {
        Words words;
        std::string failure;
    };
    const Case cases[] = {
        {{"set", "ipaddr", "192.168.1.20"}, "\nERROR: Unable to set the IP address\n"},
        {{"set", "subnetmask", "255.255.0.0"}, "\nERROR: Unable to set the Subnet Mask\n"},
        {{"set", "gateway", "10.0.0.1"}, "\nERROR: Unable to set the Gateway\n"},
        {{"set", "dhcp", "1"}, "\nERROR: Unable to set the DHCP\n"},
    };
    gFake.results["zelkor_hal_setMorv"] = 25;
    for (const Case& c : cases) {
        gFake.calls.clear();
        const RunResult r = run(commandLine({"-q", "-y", "-r"}, c.words));
        EXPECT_EQ(r.status, 25) << describe(c.words);
        EXPECT_EQ(r.out, opened() + "\nFailed reading from interface.\n" + c.failure + "\n")
            << describe(c.words);
        EXPECT_EQ(callNames(gFake.calls).back(), "zelkor_ial_close") << "closed: " << describe(c.words);
        EXPECT_EQ(deviceWrites().size(), 1u) << "no reset after a failed write: " << describe(c.words);
    }
}

TEST_F(ExecTest, InvalidAddressValuesAreRefusedBeforeAnythingIsWritten) {
    struct Command {
        const char* sub;
        const char* text;
    };
    const Command commands[] = {{"ipaddr", "\nERROR : Invalid IP Address."},
                                {"subnetmask", "\nERROR : Invalid Subnet Mask Address."},
                                {"gateway", "\nERROR : Invalid Gateway Address."}};
    const char* values[] = {
        "192.168.1.300",
        "1.2.3",
        "1..2.3",
        "1.2.3.4a",
        "1.2.3.4.",
        ".1.2.3",
        "1.2.3.",
        "256.0.0.1",
        " 1.2.3.4",
        "1.2.3.4 ",
        "1,2.3.4",
        "",
        "...",
        "1.2.3.-4",
        // Pieces whose value overflows 32 bits on the way must not wrap to a small number.
        "4294967297.0.0.1",
        "1.2.3.18446744073709551617",
        "0000000000000000000000000256.1.1.1",
    };
    for (const Command& c : commands) {
        for (const char* value : values) {
            gFake.calls.clear();
            const RunResult r = run(commandLine({"-q", "-y"}, {"set", c.sub, value}));
            EXPECT_EQ(r.status, 1) << c.sub << " '" << value << "'";
            EXPECT_EQ(r.out, opened() + c.text + "\n" + "\n") << c.sub << " '" << value << "'";
            EXPECT_TRUE(deviceWrites().empty()) << c.sub << " '" << value << "'";
        }
    }
}

TEST_F(ExecTest, AddressValuesThatAreAccepted) {
    struct Case {
        const char* value;
        const char* bytes;
    };
    const Case cases[] = {{"001.002.003.004", "1.2.3.4"},
                          {"0.0.0.0", "0.0.0.0"},
                          {"255.255.255.255", "255.255.255.255"},
                          {"0000000000000000000000000255.1.1.1", "255.1.1.1"},
                          {"10.20.30.40", "10.20.30.40"}};
    for (const Case& c : cases) {
        gFake.calls.clear();
        gFake.setMorvValues.clear();
        const RunResult r = run(commandLine({"-q", "-y"}, {"set", "ipaddr", c.value}));
        EXPECT_EQ(r.status, 0) << c.value;
        EXPECT_EQ(deviceWrites(), Writes{std::string("setMorv ") + c.bytes + " selector 0"}) << c.value;
    }
}

TEST_F(ExecTest, InvalidDhcpValuesEndWithInvalidArgument) {
    for (const char* value : {"2", "10", "a", "01", "00", " ", " 1", "1 ", "+1"}) {
        gFake.calls.clear();
        restartLog();
        const RunResult r = run(commandLine({"-q", "-y"}, {"set", "dhcp", value}));
        EXPECT_EQ(r.status, 5) << "'" << value << "'";
        EXPECT_EQ(r.out, opened() + "\nInvalid argument.\n" + "\n") << "'" << value << "'";
        EXPECT_TRUE(deviceWrites().empty()) << "'" << value << "'";
        EXPECT_TRUE(containsLine(log_->lines(), "ERROR : morv::main : Invalid argument.")) << value;
    }
}

TEST_F(ExecTest, DhcpOnAtTheTargetRefusesAddressChanges) {
    struct Case {
        const char* sub;
        const char* value;
        const char* text;
        const char* log;
    };
    const Case cases[] = {
        {"ipaddr", "192.168.1.20", "ERROR: Dhcp is enabled so set ip address will not be effective.\n\n",
         "ERROR : morv::executeSetCmd : Dhcp is enabled so set ip address will not be effective."},
        {"subnetmask", "255.255.255.0",
         "ERROR: Dhcp is enabled so set subnet mask will not be effective.\n\n",
         "ERROR : morv::executeSetCmd : Dhcp is enabled so set subnet mask will not be effective."},
        {"gateway", "10.0.0.1", "ERROR: Dhcp is enabled so set gateway address will not be effective.\n\n",
         "ERROR : morv::executeSetCmd : Dhcp is enabled so set gateway address will not be effective."},
    };
    for (uint32_t dhcp : {1u, 7u}) {
        gFake.heapExpanders = {
            makeExpander(ZELKOR_CHIP_QUENZA, "Vellor_36", kTargetHigh, kTargetLow, "1.1.1.1", dhcp)};
        for (const Case& c : cases) {
            gFake.calls.clear();
            restartLog();
            const RunResult r = run(commandLine({"-q", "-y"}, {"set", c.sub, c.value}), "y\n");
            EXPECT_EQ(r.status, 1) << c.sub;
            EXPECT_EQ(r.out, opened() + c.text + "Command unsupported on attached expander.\n" + "\n" + "\n")
                << c.sub;
            EXPECT_TRUE(deviceWrites().empty()) << c.sub;
            EXPECT_TRUE(containsLine(log_->lines(), c.log)) << c.sub;
        }
    }
}

TEST_F(ExecTest, DhcpGuardLooksOnlyAtTheTargetAndOnlyWhenItIsKnownOn) {
    struct Case {
        const char* what;
        std::vector<ZELKOR_EXPANDER> list;
        Words command;
    };
    const Case cases[] = {
        {"DHCP state unknown",
         {makeExpander(ZELKOR_CHIP_QUENZA, "Vellor_36", kTargetHigh, kTargetLow, "1.1.1.1", 0xFFFFFFFF)},
         {"set", "ipaddr", "192.168.1.20"}},
        {"DHCP on at another expander",
         {makeExpander(ZELKOR_CHIP_QUENZA, "Vellor_36", kTargetHigh, kTargetLow, "1.1.1.1", 0),
          makeExpander(ZELKOR_CHIP_QUENZA, "Vellor_24", kTargetHigh, kTargetLow + 1, "1.1.1.2", 1)},
         {"set", "gateway", "192.168.1.1"}},
        {"set dhcp makes no DHCP test",
         {makeExpander(ZELKOR_CHIP_QUENZA, "Vellor_36", kTargetHigh, kTargetLow, "1.1.1.1", 1)},
         {"set", "dhcp", "0"}},
    };
    for (const Case& c : cases) {
        gFake.calls.clear();
        gFake.heapExpanders = c.list;
        const RunResult r = run(commandLine({"-q", "-y"}, c.command));
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(deviceWrites().size(), 1u) << c.what;
    }
}

TEST_F(ExecTest, Gen2ExpanderRefusesSetAndReset) {
    gFake.heapExpanders = {makeExpander(ZELKOR_CHIP_OSTREL, "Ostrel_36", kTargetHigh, kTargetLow)};
    const Words commands[] = {{"set", "ipaddr", "192.168.1.20"}, {"set", "dhcp", "1"}, {"reset", "exp"}};
    for (const Words& command : commands) {
        gFake.calls.clear();
        restartLog();
        const RunResult r = run(commandLine({"-q", "-y"}, command), "y\n");
        EXPECT_EQ(r.status, static_cast<int>(MORV_STATUS_INVALID_INPUT)) << describe(command);
        EXPECT_EQ(r.out, opened("Ostrel_36") + " \nCommand is not supported with attached Gen2 expander. \n" +
                             "\n" + "\n")
            << describe(command);
        EXPECT_TRUE(deviceWrites().empty()) << describe(command);
        EXPECT_TRUE(containsLine(
            log_->lines(),
            "ERROR : morv::" + std::string(command[0] == "set" ? "executeSetCmd" : "executeResetCmd") +
                " : Command is not supported with attached Gen2 expander"));
    }
}

TEST_F(ExecTest, SetOnPalxFailsInTheLibraryWithoutAWrite) {
    gFake.heapExpanders = {makeExpander(ZELKOR_CHIP_PALX, "Palx_36", kTargetHigh, kTargetLow)};
    const RunResult r = run(commandLine({"-q", "-y"}, {"set", "ipaddr", "192.168.1.20"}));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, opened("Palx_36") + "\nFunction is not applicable.\n" +
                         "\nERROR: Unable to set the IP address\n" + "\n");
    EXPECT_TRUE(deviceWrites().empty());
}

// ---- the question before a change ----

struct AnswerCase {
    const char* what;
    std::string input;
    int questions; // how often the question is put
    bool proceeds;
};

const std::vector<AnswerCase> kAnswers = {
    {"y", "y\n", 1, true},
    {"Y", "Y\n", 1, true},
    {"n", "n\n", 1, false},
    {"N", "N\n", 1, false},
    {"junk, then y", "maybe\ny\n", 2, true},
    {"yes is not y", "yes\nn\n", 2, false},
    {"empty line, then Y", "\nY\n", 2, true},
    {"a blank before y", " y\ny\n", 2, true},
    {"several junk answers", "a\nb\nc\nN\n", 4, false},
    {"last line without line feed", "y", 1, true},
    {"end of input", "", 1, false},
    {"junk, then end of input", "what\n", 2, false},
    {"junk without line feed", "what", 2, false},
    // One long line is one answer: its 256th character is not a second answer.
    {"y beyond the line limit", std::string(255, 'x') + "y\n", 2, false},
    {"long junk line, then y", std::string(1000, 'x') + "\ny\n", 2, true},
};

TEST_F(ExecTest, SetAsksUntilYesOrNoAndTheEndOfInputDeclines) {
    const std::string question = "Are you sure you want to set IP Address?(y/n):";
    for (const AnswerCase& c : kAnswers) {
        gFake.calls.clear();
        gFake.setMorvValues.clear();
        const RunResult r = run(commandLine({"-q"}, {"set", "ipaddr", "192.168.1.20"}), c.input);
        const std::string asked = opened() + repeat(question + "\n", c.questions);
        if (c.proceeds) {
            EXPECT_EQ(r.status, 0) << c.what;
            EXPECT_EQ(r.out, asked + "\nSet IP address Successful\n" + kApplyReset + "\n") << c.what;
            EXPECT_EQ(deviceWrites(), Writes{"setMorv 192.168.1.20 selector 0"}) << c.what;
        } else {
            EXPECT_EQ(r.status, static_cast<int>(MORV_STATUS_DECLINED)) << c.what;
            EXPECT_EQ(r.out, asked + "Set operation aborted by user." + "\n" + "\n") << c.what;
            EXPECT_TRUE(deviceWrites().empty()) << c.what;
        }
    }
}

TEST_F(ExecTest, EachSetCommandPutsItsOwnQuestion) {
    struct Case {
        Words command;
        const char* question;
        const char* write; // once answered y
    };
    const Case cases[] = {
        {{"set", "subnetmask", "255.255.255.0"},
         "Are you sure you want to set Subnet Mask?(y/n):",
         "setMorv 255.255.255.0 selector 1"},
        {{"set", "gateway", "10.0.0.1"},
         "Are you sure you want to set Gateway?(y/n):",
         "setMorv 10.0.0.1 selector 2"},
        {{"set", "dhcp", "1"},
         "Are you sure you want to enable DHCP Status?(y/n):",
         "setMorv 1.0.0.0 selector 3"},
        {{"set", "dhcp", "0"},
         "Are you sure you want to disable DHCP Status?(y/n):",
         "setMorv 0.0.0.0 selector 3"},
        {{"set", "dhcp", ""},
         "Are you sure you want to disable DHCP Status?(y/n):",
         "setMorv 0.0.0.0 selector 3"},
    };
    for (const Case& c : cases) {
        gFake.calls.clear();
        restartLog();
        const RunResult r = run(commandLine({"-q", "-r"}, c.command), "n\n");
        EXPECT_EQ(r.status, static_cast<int>(MORV_STATUS_DECLINED)) << c.question;
        EXPECT_EQ(r.out, opened() + c.question + "\n" + "Set operation aborted by user." + "\n" + "\n");
        EXPECT_TRUE(deviceWrites().empty()) << "neither the write nor the reset: " << c.question;
        EXPECT_TRUE(
            containsLine(log_->lines(), "ERROR : morv::getConfirmation : Set operation aborted by user."));

        gFake.calls.clear();
        gFake.setMorvValues.clear();
        const RunResult confirmed = run(commandLine({"-q"}, c.command), "y\n");
        EXPECT_EQ(confirmed.status, 0) << c.question;
        EXPECT_EQ(confirmed.out.substr(0, opened().size() + std::strlen(c.question) + 1),
                  opened() + c.question + "\n");
        EXPECT_EQ(deviceWrites(), Writes{c.write}) << c.question;
    }
}

TEST_F(ExecTest, ConfirmationWithoutItsTextsDeclinesAndNoQuestionReadsNothing) {
    feed("y\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(getConfirmation(nullptr, "aborted", 1), MORV_STATUS_DECLINED);
    EXPECT_EQ(getConfirmation("Go on?(y/n):", nullptr, 1), MORV_STATUS_DECLINED);
    // Ask 0, or -y: consent without a question, and the answer stays unread.
    EXPECT_EQ(getConfirmation("Go on?(y/n):", "aborted", 0), 0u);
    gClParser.optionFlags = CL_OPT_YES;
    EXPECT_EQ(getConfirmation("Go on?(y/n):", "aborted", 1), 0u);
    gClParser.optionFlags = 0;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(std::fgetc(stdin), 'y');
    EXPECT_TRUE(containsLine(log_->lines(), "ERROR : morv::getConfirmation : Invalid function parameters"));
}

} // namespace
