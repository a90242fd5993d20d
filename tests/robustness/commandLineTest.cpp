// Morvane's command line on seeded hostile argument vectors, run in-process through the parser, the executors,
// the core and the real hardware modules down to the expander model (the model-backed fake in place of the
// interface modules). Vectors are valid commands mutated (a word dropped, repeated, swapped or replaced) or
// words drawn at random: over-long and empty words, missing values, numbers out of range, bytes outside
// ASCII, options repeated or clustered. The checks hold for any vector: the process status is 0, one of the
// front end's own statuses or a library status with its message shown; a refused command line says so; and
// nothing reaches the expander unless the vector asks for a set or a reset and the user confirmed it, in
// which case only the Ethernet fields a set may change differ. A failure names the seed and shows the vector.
#include "dice.h"
#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "frontend/messages.h"
#include "osal/osalTime.h"
#include "tests/hal/modelFrontEnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using robust::Dice;

using modelfront::kTarget;
using robust::seedText;

// A word as the shell hands it over: any bytes but zero; no slash, so that a word taken for a log file name
// stays inside the scratch directory.
std::string noZero(std::string text) {
    for (char& c : text)
        if (c == '\0')
            c = '\x80';
        else if (c == '/')
            c = '_';
    return text;
}

std::string hostileWord(Dice& d) {
    switch (d.below(9)) {
    case 0:
        return "";
    case 8: // conversions, should a word reach a format
        return d.oneOf({"%s%s%s%s%n", "%x%x%x%x", "%999999d", "%.9999s", "ipaddr%n", "-%s", "%"});
    case 1:
        return std::string(d.pick({255, 256, 1023, 1024, 1025, 4096}, 6000), d.chance(50) ? 'A' : '9');
    case 2:
        return noZero(d.text(d.pick({1, 2, 8, 64}, 300)));
    case 3: // numbers around the limits of what the values and addresses hold
        return d.oneOf({"256.1.1.1", "1.2.3", "1.2.3.4.5", "-1.2.3.4", "0x1.2.3.4", " 1.2.3.4", "1.2.3.4 ",
                        "4294967296", "-1", "2", "01", "1e3", "255.255.255.255", "0.0.0.0", "1..2.3",
                        "999999999999999999999.1.1.1", "1.2.3.04", "+1.2.3.4"});
    case 4: // addresses
        return d.oneOf({"0x0000000000000000", "0000000000000000", "5000ABCD0000123", "5000ABCD000012345",
                        "0x5000ABCD00001234", "5000abcd00001234", "5000ABCD0000123G", "0x", "-5000ABCD00001234",
                        "FFFFFFFFFFFFFFFF", "5000ABCD:00001234", "192.168.0.1:5000"});
    case 5: // option lookalikes
        return d.oneOf({"-", "--", "---", "-x", "-Q", "--help=1", "--log=", "--inband=", "-iq", "-qi", "-yfq",
                        "-hq", "-help", "--he", "--i", "--qu", "-resetchip", "--resetchi", "-l-", "-i-i"});
    case 6: // command words of another case or cut
        return d.oneOf({"SET", "Get", "RESET", "se", "gett", "ipadd", "IPADDR", "avail ", "exp\n", "dhcp\t",
                        "help", "get avail"});
    default:
        return noZero(std::string("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x92\xA9\xFF\xFE", 1 + d.below(11)));
    }
}

// One of the command lines the front end carries out.
std::vector<std::string> validCommand(Dice& d) {
    std::vector<std::string> words;
    for (const char* option : {"-q", "-y", "-f", "-r", "-w"})
        if (d.chance(option[1] == 'q' || option[1] == 'y' ? 50 : 12))
            words.push_back(option);
    words.push_back(d.chance(80) ? "-i" : "--inband");
    words.push_back(kTarget);
    switch (d.below(8)) {
    case 0:
        words.insert(words.end(), {"set", "ipaddr", d.oneOf({"10.1.2.3", "192.168.7.9", "0.0.0.0"})});
        break;
    case 1:
        words.insert(words.end(), {"set", "subnetmask", d.oneOf({"255.255.255.0", "255.0.0.0"})});
        break;
    case 2:
        words.insert(words.end(), {"set", "gateway", "10.0.0.254"});
        break;
    case 3:
        words.insert(words.end(), {"set", "dhcp", d.oneOf({"0", "1"})});
        break;
    case 4:
        words.insert(words.end(), {"get", "avail"});
        break;
    case 5:
        words.insert(words.end(), {"get", "ipconfig"});
        break;
    case 6:
        words.insert(words.end(), {"reset", "exp"});
        break;
    default:
        words.insert(words.end(), {"-h", d.oneOf({"set", "get", "reset", "i", "log", "x", ""})});
        break;
    }
    // The options may stand anywhere: now and then the command words come first.
    if (d.chance(20) && words.size() > 3)
        std::rotate(words.begin(), words.end() - 2, words.end());
    return words;
}

// A command line: one carried out as it stands (a fifth of them), one mutated, or words drawn at random.
std::vector<std::string> hostileVector(Dice& d, const std::string& scratch) {
    std::vector<std::string> words;
    const uint32_t kind = d.below(10);
    if (kind < 2) {
        words = validCommand(d);
    } else if (kind < 8) {
        words = validCommand(d);
        for (uint32_t n = 1 + d.below(3); n > 0; --n) {
            const size_t at = d.below(static_cast<uint32_t>(words.size() + 1));
            switch (d.below(5)) {
            case 0:
                if (!words.empty())
                    words.erase(words.begin() + static_cast<long>(std::min(at, words.size() - 1)));
                break;
            case 1: // a word repeated
                if (!words.empty())
                    words.insert(words.begin() + static_cast<long>(at), words[d.below(static_cast<uint32_t>(words.size()))]);
                break;
            case 2:
                if (at < words.size())
                    words[at] = hostileWord(d);
                break;
            case 3:
                words.insert(words.begin() + static_cast<long>(at), hostileWord(d));
                break;
            default:
                if (words.size() >= 2)
                    std::swap(words[d.below(static_cast<uint32_t>(words.size()))],
                              words[d.below(static_cast<uint32_t>(words.size()))]);
                break;
            }
        }
    } else {
        static const std::vector<std::string> pool{"-q", "-y", "-f", "-r", "-w", "-h", "-i", "-l", "--log",
                                                   "--yes", "set", "get", "reset", "ipaddr", "subnetmask",
                                                   "gateway", "dhcp", "avail", "ipconfig", "exp", kTarget,
                                                   "10.1.2.3", "1"};
        for (uint32_t n = d.below(9); n > 0; --n)
            words.push_back(d.chance(60) ? d.oneOf(pool) : hostileWord(d));
    }
    // A log file now and then, in the scratch directory, or a name that cannot be opened.
    if (kind >= 2 && d.chance(15)) {
        const std::string name = d.chance(70) ? scratch + "/run.log" : d.oneOf({"", "/nonexistent/dir/x.log",
                                                                                 "-q"});
        words.insert(words.begin() + static_cast<long>(d.below(static_cast<uint32_t>(words.size() + 1))), "-l");
        words.insert(words.begin() + static_cast<long>(d.below(static_cast<uint32_t>(words.size() + 1))), name);
    }
    return words;
}

std::string shown(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) {
        text += '[';
        for (unsigned char c : w.substr(0, 80))
            if (c >= 0x20 && c < 0x7F) {
                text += static_cast<char>(c);
            } else {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\x%02X", c);
                text += esc;
            }
        text += w.size() > 80 ? "...(" + std::to_string(w.size()) + ")] " : "] ";
    }
    return text;
}

class CommandLine : public ModelFrontEnd {
  protected:
    void SetUp() override {
        ModelFrontEnd::SetUp();
        // Whatever files a vector names are made in a scratch directory of the test's own.
        scratch_ = testing::TempDir() + "morv_cli_robust_" + std::to_string(getpid());
        std::filesystem::create_directories(scratch_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(scratch_);
        inputPath_ = scratch_ + "/input";
    }
    void TearDown() override {
        EXPECT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(scratch_);
        ModelFrontEnd::TearDown();
    }

    // One process run: a fresh front-end state, the words after the program name, the input on stdin.
    int run(std::vector<std::string> words, const std::string& input, std::string& out) {
        std::ofstream(inputPath_, std::ios::binary | std::ios::trunc) << input;
        EXPECT_NE(std::freopen(inputPath_.c_str(), "r", stdin), nullptr);
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
        gDisplayStatusFlag = 0;
        std::memset(gCmdbuff, 0, sizeof gCmdbuff);
        words.insert(words.begin(), "Morvane");
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        const int status = brannicMain(static_cast<int>(words.size()), argv.data());
        out = testing::internal::GetCapturedStdout();
        return status;
    }

    std::string scratch_;
    std::filesystem::path previous_;
    std::string inputPath_;
};

bool has(const std::vector<std::string>& words, std::initializer_list<const char*> any) {
    return std::any_of(words.begin(), words.end(), [&](const std::string& w) {
        return std::any_of(any.begin(), any.end(), [&](const char* a) { return w == a; });
    });
}

// A word that gives -y or -f: alone, long, or among clustered letters.
bool confirmsByOption(const std::vector<std::string>& words) {
    return std::any_of(words.begin(), words.end(), [](const std::string& w) {
        if (w == "--yes" || w == "--force" || w == "--y" || w == "--f")
            return true;
        return w.size() >= 2 && w[0] == '-' && w[1] != '-' && w.find_first_of("yf") != std::string::npos;
    });
}

TEST_F(CommandLine, HostileVectorsEndCleanlyAndWriteOnlyWhatWasAsked) {
    const std::pair<zsim::Family, uint32_t> kinds[] = {
        {zsim::Family::Quenza, 4}, {zsim::Family::Ostrel, 3}, {zsim::Family::Quenza, 5}, {zsim::Family::Palx, 1}};
    int carried = 0;
    int refused = 0;
    int wrote = 0;
    for (int i = 0; i < 400 && !HasFailure(); ++i) {
        const uint32_t seed = 0xC11E0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const auto [family, chipType] = kinds[d.below(4)];
        expander(family, chipType);
        const std::vector<std::string> words = hostileVector(d, scratch_);
        const std::string input = d.oneOf({"y\n", "n\n", "", "maybe\n", "Y\n", "yes\n"});
        SCOPED_TRACE(seedText(seed) + ", chip type " + std::to_string(chipType) + ", input \"" +
                     input.substr(0, input.size() - (input.empty() ? 0 : 1)) + "\", words: " + shown(words));
        const std::vector<uint8_t> before = page();
        gModel.calls.clear();
        std::string out;
        const int status = run(words, input, out);

        const bool frontEnd = status >= static_cast<int>(MORV_STATUS_HELP_TOPIC) &&
                              status <= static_cast<int>(MORV_STATUS_DECLINED);
        EXPECT_TRUE(status == 0 || frontEnd || (status > 0 && status < 0x100)) << "status " << status;
        if (status != 0) {
            EXPECT_FALSE(out.empty()) << "status " << status << " without a message";
        }
        if (status == static_cast<int>(MORV_STATUS_INVALID_INPUT))
            ++refused;
        if (status == 0)
            ++carried;

        // A set writes the page after a confirmation; a reset goes out after one, or on -r or -w alone.
        const bool resetOption = has(words, {"--resetchip", "--wdreset", "--r", "--w"}) ||
                                 std::any_of(words.begin(), words.end(), [](const std::string& w) {
                                     return w.size() >= 2 && w[0] == '-' && w[1] != '-' &&
                                            w.find_first_of("rw") != std::string::npos;
                                 });
        const bool confirmed = confirmsByOption(words) || input.starts_with("y") || input.starts_with("Y");
        const bool setAsked = has(words, {"set"}) && confirmed;
        const bool resetAsked = (has(words, {"reset"}) && confirmed) || resetOption;
        const std::vector<uint8_t> after = page();
        ASSERT_EQ(after.size(), before.size());
        for (size_t k = 0; k < after.size(); ++k) {
            // Only the address, mask, gateway and DHCP word are settable.
            const bool settable = (k >= 4 && k < 16) || (k >= 28 && k < 32);
            if (!settable || !setAsked) {
                EXPECT_EQ(after[k], before[k]) << "page byte " << k << "\n" << out;
            }
        }
        const uint32_t resets = gModel.expander->chipResets() + gModel.expander->watchdogResets();
        if (!resetAsked) {
            EXPECT_EQ(resets, 0u) << out;
        }
        if (writes() != 0) {
            ++wrote;
            EXPECT_TRUE(setAsked || resetAsked) << "a write nobody asked for:\n" << out;
        }
    }
    // The vectors must reach both ends: some carried out, some refused, some writes.
    EXPECT_GT(carried, 40);
    EXPECT_GT(refused, 40);
    EXPECT_GT(wrote, 5);
}

} // namespace
