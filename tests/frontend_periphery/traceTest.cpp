// The trace formatter against the C library's own, and the trace and log decoders over buffers built here.
#include "frontend/trace.h"
#include "frontend/traceFormat.h"
#include "tests/frontend_periphery/traceBuffers.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string format(const std::string& fmt, std::vector<uint32_t> args) {
    return formatTrace(fmt.data(), fmt.size(), args.data(), args.size());
}

// snprintf of one conversion with the argument of the type that conversion takes.
std::string reference(const std::string& spec, char conversion, uint32_t value) {
    char text[TRACE_LINE_LIMIT];
    int n = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (conversion == 'p')
        n = std::snprintf(text, sizeof text, spec.c_str(), reinterpret_cast<void*>(static_cast<uintptr_t>(value)));
    else if (conversion == 'd' || conversion == 'i')
        n = std::snprintf(text, sizeof text, spec.c_str(), static_cast<int>(static_cast<int32_t>(value)));
    else if (conversion == 'c')
        n = std::snprintf(text, sizeof text, spec.c_str(), static_cast<int>(value & 0xFF));
    else
        n = std::snprintf(text, sizeof text, spec.c_str(), static_cast<unsigned>(value));
#pragma GCC diagnostic pop
    // %c of 0 writes a zero byte, which belongs to the text.
    return std::string(text, static_cast<size_t>(n));
}

TEST(TraceFormat, EqualsTheCLibraryOnRandomFlagsWidthsAndValues) {
    std::mt19937 random(20261210);
    const std::string conversions = "diuxXocp";
    const std::array<uint32_t, 8> edges{0, 1, 7, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x41, 0x1234ABCD};
    for (int round = 0; round < 20000; ++round) {
        std::string spec = "%";
        for (char flag : std::string("-+ #0"))
            if (random() % 3 == 0)
                spec += flag;
        if (random() % 2 == 0)
            spec += std::to_string(random() % 24);
        const char conversion = conversions[random() % conversions.size()];
        // A precision is defined for the numeric conversions only.
        if (conversion != 'c' && conversion != 'p' && random() % 2 == 0)
            spec += std::string(".") + (random() % 4 == 0 ? std::string() : std::to_string(random() % 14));
        spec += conversion;
        const uint32_t value = random() % 3 == 0 ? edges[random() % edges.size()] : static_cast<uint32_t>(random());
        const std::string text = std::string("<") + spec + ">";
        ASSERT_EQ(format(text, {value}), std::string("<") + reference(spec, conversion, value) + ">")
            << "format " << text << " value " << value;
    }
}

TEST(TraceFormat, RefusesWhatIsNotInTheSetAndNeverReadsPastTheArguments) {
    struct Case {
        const char* format;
        std::vector<uint32_t> args;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"name %s at %p", {0x1234, 0}, "name 0x1234 at (nil)"},
        {"%-8s|", {0xAB}, "0xab    |"},
        {"%ld %hhx %llu %zX", {5, 0x1FF, 7, 0xBEEF}, "5 1ff 7 BEEF"},
        {"%f %n %*d %e %q", {1, 2, 3}, "%f %n %*d %e %q"},
        {"%d %d %d", {1}, "1 %d %d"},
        {"100%% done %5%", {}, "100% done %"},
        {"ends in %", {1}, "ends in %"},
        {"ends in %-08l", {1}, "ends in %-08l"},
        {"%c%c", {0x141, 0x42}, "AB"},
        {"%.0d|%.0x|%#.0o", {0, 0, 0}, "||0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(format(c.format, c.args), c.expected) << c.format;
}

TEST(TraceFormat, CutsTheLineAtItsLimit) {
    const std::string wide = format("%999999999999d|", {1});
    EXPECT_EQ(wide.size(), TRACE_LINE_LIMIT - 1);
    EXPECT_EQ(wide.back(), ' ');
    const std::string text(3000, 'a');
    EXPECT_EQ(format(text, {}), std::string(TRACE_LINE_LIMIT - 1, 'a'));
    // The format's own length bounds it: no terminating zero is needed.
    const char unterminated[] = {'%', 'x', '!'};
    const uint32_t arg = 0xAB;
    EXPECT_EQ(formatTrace(unterminated, 2, &arg, 1), "ab");
}

// ---- trace buffers ----

TraceBuffer sampleTrace() {
    TraceBuffer t;
    t.strings[0] = {"boot %d"};
    t.strings[2] = {"s0", "s1", "s2", "s3", "s4", "phy %d rate %x", "dev %s"};
    t.strings[6] = {"six args %d %d %d %d %d %d", "last"};
    return t;
}

DecodedText decode(const std::vector<uint8_t>& b) {
    return decodeTrace(b.data(), b.size());
}

TEST(TraceDecode, PrintsEachEntryWithItsSubsystemsString) {
    TraceBuffer t = sampleTrace();
    t.entries = {{5, 2, {3, 0xA}}, {0, 0, {42}}, {6, 2, {0x5000}}, {1, 6, {}}};
    std::vector<uint8_t> b = t.build();
    // A zero entry word between entries is passed over.
    b.insert(b.end() - 4, {0, 0, 0, 0});
    putLe32(b, 4, static_cast<uint32_t>(b.size()));
    const DecodedText d = decode(b);
    EXPECT_EQ(d.status, 0u);
    EXPECT_EQ(d.console, "phy 3 rate a\nboot 42\ndev 0x5000\nlast\n");
    EXPECT_TRUE(d.log.empty());
}

TEST(TraceDecode, MoreThanFiveArgumentsAreRefusedAndTheWalkGoesOn) {
    TraceBuffer t = sampleTrace();
    t.entries = {{0, 6, {1, 2, 3, 4, 5, 6}}, {1, 6, {}}};
    const DecodedText d = decode(t.build());
    EXPECT_EQ(d.status, 0u);
    EXPECT_EQ(d.console, "**** ERROR **** Currently max 5 arguments are supported\nlast\n");
}

// Entries after the strings: an entry in error ends the walk with its status after what came before.
TEST(TraceDecode, EntriesInErrorEndTheWalk) {
    struct Case {
        const char* label;
        TraceEntry bad;
        uint32_t status;
        std::string console;
        std::string log;
    };
    const std::vector<Case> cases{
        {"subsystem 7",
         {0, 7, {}},
         TRACE_STATUS_UNDECODABLE,
         "**** ERROR **** Currently FW is supporting only #6 subsystems",
         "Currently only #6 subsystems supported. Subsystem = 7\n"},
        {"index past the subsystem's strings",
         {7, 2, {}},
         1,
         "**** ERROR **** Invalid String Index**** ERROR **** String Index = 7 and Subsystem = 2\n",
         "Invalid String Index. Subsystem = 2 and String index = 7\n"},
        {"subsystem without strings",
         {0, 3, {}},
         1,
         "**** ERROR **** Invalid String Index**** ERROR **** String Index = 0 and Subsystem = 3\n",
         "Invalid String Index. Subsystem = 3 and String index = 0\n"},
        {"arguments past the trace length",
         {5, 2, {1}, 200},
         TRACE_STATUS_UNDECODABLE,
         "**** ERROR **** Trace entry is past the trace length\n",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TraceBuffer t = sampleTrace();
        t.entries = {{0, 0, {1}}, c.bad, {1, 6, {}}};
        const DecodedText d = decode(t.build());
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.console, "boot 1\n" + c.console);
        ASSERT_EQ(d.log.size(), 1u);
        if (!c.log.empty()) {
            EXPECT_EQ(d.log[0], c.log);
        }
    }
}

TEST(TraceDecode, StringBlocksThatDoNotAddUpAreRefused) {
    // The header counts three strings where the block holds two.
    {
        TraceBuffer t = sampleTrace();
        std::vector<uint8_t> b = t.build();
        b[16 + 2] = 3;
        const DecodedText d = decode(b);
        EXPECT_EQ(d.status, TRACE_STATUS_UNDECODABLE);
        EXPECT_EQ(d.console, "**** ERROR **** Number of strings are not Matching. Embedded strings header says #3 "
                             "strings and available #1\nSubSystem = 0 \n");
        ASSERT_EQ(d.log.size(), 1u);
        EXPECT_EQ(d.log[0], "Unmatching number of strings. Embedded strings header says #3 strings and "
                            "available #1\n");
    }
    // A block as long as all strings together.
    {
        TraceBuffer t = sampleTrace();
        std::vector<uint8_t> b = t.build();
        putLe32(b, 16 + 4, static_cast<uint32_t>(b[12] | b[13] << 8));
        const DecodedText d = decode(b);
        EXPECT_EQ(d.status, TRACE_STATUS_UNDECODABLE);
        EXPECT_EQ(d.console, "Embedded String Length of a particular subsystem cannot be greater than Total "
                             "Embedded Strings Length");
    }
    // A string without its zero byte at the block's end: the scan stops there, and the count no longer fits.
    {
        TraceBuffer t = sampleTrace();
        size_t stringsEnd = 0;
        std::vector<uint8_t> b = t.build(&stringsEnd);
        const size_t firstBlockData = 16 + 16;
        b[firstBlockData + std::strlen("boot %d")] = 'X';
        const DecodedText d = decode(b);
        EXPECT_EQ(d.status, TRACE_STATUS_UNDECODABLE);
        EXPECT_EQ(d.console.rfind("**** buffer crossing the limit i = 0\n", 0), 0u) << d.console;
    }
    // More than a thousand strings in one block.
    {
        TraceBuffer t;
        t.strings[1].assign(1001, "");
        std::vector<uint8_t> b = t.build();
        const DecodedText d = decode(b);
        EXPECT_EQ(d.status, TRACE_STATUS_UNDECODABLE);
        EXPECT_EQ(d.console, "**** ERROR **** More than 1000 strings in one subsystem\n");
    }
    // Exactly a thousand is a full table.
    {
        TraceBuffer t;
        t.strings[1].assign(1000, "x");
        t.strings[1].back() = "last %u";
        t.entries = {{999, 1, {7}}};
        std::vector<uint8_t> b = t.build();
        // The header's 16-bit count holds 1000.
        b[16 + 16 + 2] = static_cast<uint8_t>(1000 & 0xFF);
        b[16 + 16 + 3] = static_cast<uint8_t>(1000 >> 8);
        const DecodedText d = decode(b);
        EXPECT_EQ(d.status, 0u) << d.console;
        EXPECT_EQ(d.console, "last 7\n");
    }
}

// Lengths of the buffer's own header that point past what was read.
TEST(TraceDecode, LengthsPastTheBytesReadAreRefused) {
    TraceBuffer t = sampleTrace();
    t.entries = {{5, 2, {1, 2}}};
    size_t stringsEnd = 0;
    const std::vector<uint8_t> good = t.build(&stringsEnd);
    struct Case {
        const char* label;
        size_t size;
        size_t patchAt;
        uint32_t value;
    };
    const std::vector<Case> cases{
        {"total length past the buffer", good.size(), 4, static_cast<uint32_t>(good.size() + 1)},
        {"strings length past the buffer", good.size(), 12, static_cast<uint32_t>(good.size() - 15)},
        {"strings length near 4 GiB", good.size(), 12, 0xFFFFFFF0},
        {"total length ends inside the string blocks", good.size(), 4, 40},
        {"total length leaves a partial entry", good.size(), 4, static_cast<uint32_t>(stringsEnd + 2)},
        {"total length cuts the arguments", good.size(), 4, static_cast<uint32_t>(good.size() - 2)},
        {"block length past the strings", good.size(), 16 + 4, static_cast<uint32_t>(stringsEnd - 16 - 8)},
        {"buffer shorter than its header", 15, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> b = good;
        if (c.patchAt != 0)
            putLe32(b, c.patchAt, c.value);
        b.resize(c.size);
        // A copy of exactly the bytes read, so that the sanitizer sees any read past them.
        std::vector<uint8_t> exact(b.begin(), b.end());
        const DecodedText d = decodeTrace(exact.data(), exact.size());
        EXPECT_NE(d.status, 0u);
        EXPECT_EQ(d.log.size(), 1u);
        EXPECT_EQ(d.console.find("phy 1"), std::string::npos);
    }
}

// ---- event log ----

std::array<uint8_t, 64> logEntry(uint32_t seed) {
    std::array<uint8_t, 64> e{};
    for (size_t i = 0; i < e.size(); ++i)
        e[i] = static_cast<uint8_t>(seed + i);
    return e;
}

TEST(LogDecode, PrintsEveryEntryFieldByField) {
    std::vector<uint8_t> b;
    std::array<uint8_t, 64> e{};
    // Time stamp 0x0000000112345678, sequence 0x0203, qualifier 0x0405, code 0xC0DE0001, locale 0x0607,
    // argument type 0x08, class 0x09; data words '%' 'n' 0x00 0x80, 0x20 0x80 0x7F 0x21, then 1..8. The
    // first word shows all four of its bytes as they are (a conversion among them is no format), the others
    // only their characters.
    const uint8_t head[24] = {0x78, 0x56, 0x34, 0x12, 1, 0, 0, 0, 0, 0, 0, 0,
                              0x03, 0x02, 0x05, 0x04, 0x01, 0x00, 0xDE, 0xC0, 0x07, 0x06, 0x08, 0x09};
    std::memcpy(e.data(), head, sizeof head);
    const uint8_t words[8] = {'%', 'n', 0x00, 0x80, 0x20, 0x80, 0x7F, 0x21};
    std::memcpy(e.data() + 24, words, sizeof words);
    for (int w = 2; w < 10; ++w)
        e[24 + 4 * w] = static_cast<uint8_t>(w - 1);
    b.insert(b.end(), e.begin(), e.end());
    const DecodedText d = decodeLog(b.data(), b.size(), false);
    std::string expected = "Decoding the Log "
                           "         Time Stamp: 0x0000000112345678\n"
                           "Log Entry Qualifier: 0x0405\n"
                           "       Log Sequence: 0x0203\n"
                           "           Log Code: 0xc0de0001\n"
                           "          Log Class: 0x09\n"
                           "      Argument Type: 0x08\n"
                           "             Locale: 0x0607\n"
                           "  Log Specific Data: 0x80006E25\t %n";
    expected += std::string("\0\x80\n", 3);
    expected += "                   : 0x217F8020\t \x7F!\n";
    for (int w = 1; w <= 8; ++w) {
        char line[64];
        std::snprintf(line, sizeof line, "                   : 0x%08X\t \n", w);
        expected += line;
    }
    expected += "-------------------------------------------";
    EXPECT_EQ(d.status, 0u);
    EXPECT_EQ(d.console, expected);
}

TEST(LogDecode, EndsAtAnEndEntryOrTheLastWholeEntry) {
    std::array<uint8_t, 64> allFF{};
    allFF.fill(0xFF);
    std::array<uint8_t, 64> marker{}; // words 0, 4 and 12 all ones, the rest anything
    marker = logEntry(3);
    for (size_t at : {0u, 4u, 12u})
        std::memset(marker.data() + at, 0xFF, 4);
    const std::array<uint8_t, 64> zero{};
    struct Case {
        const char* label;
        std::vector<std::array<uint8_t, 64>> entries;
        size_t partialBytes;
        size_t decoded;
    };
    const std::vector<Case> cases{
        {"zero entry ends", {logEntry(1), zero, logEntry(2)}, 0, 1},
        {"ones marker ends", {logEntry(1), logEntry(2), marker, logEntry(4)}, 0, 2},
        {"all ones ends", {allFF}, 0, 0},
        {"trailing partial entry", {logEntry(1)}, 63, 1},
        {"first entry zero", {zero, logEntry(1)}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> b;
        for (const auto& e : c.entries)
            b.insert(b.end(), e.begin(), e.end());
        for (size_t i = 0; i < c.partialBytes; ++i)
            b.push_back(0x11);
        std::vector<uint8_t> exact(b);
        const DecodedText d = decodeLog(exact.data(), exact.size(), false);
        EXPECT_EQ(d.status, 0u);
        size_t count = 0;
        for (size_t at = d.console.find("Time Stamp"); at != std::string::npos;
             at = d.console.find("Time Stamp", at + 1))
            ++count;
        EXPECT_EQ(count, c.decoded);
        if (c.decoded == 0) {
            EXPECT_EQ(d.console, "There are no valid log entry in the log region.");
        }
    }
    const DecodedText offline = decodeLog(zero.data(), zero.size(), true);
    EXPECT_EQ(offline.console, "No valid log entry found in the file.");
}

TEST(LogDecode, TextLogIsShownUpToItsZeroByteOrItsEnd) {
    const std::string withZero("100% up\nnext %s %n\0rest", 24);
    const DecodedText d = decodeTextLog(reinterpret_cast<const uint8_t*>(withZero.data()), withZero.size());
    EXPECT_EQ(d.status, 0u);
    EXPECT_EQ(d.console, "100% up\nnext %s %n");
    const std::vector<uint8_t> noZero{'a', '%', 'd'};
    EXPECT_EQ(decodeTextLog(noZero.data(), noZero.size()).console, "a%d");
    const std::vector<uint8_t> empty{0, 'x'};
    const DecodedText none = decodeTextLog(empty.data(), empty.size());
    EXPECT_EQ(none.status, 1u);
    EXPECT_EQ(none.console, "There are no valid log entry in the log region.");
}

} // namespace
