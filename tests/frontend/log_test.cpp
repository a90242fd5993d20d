// The library log: filtering, line format, open, append, truncate and close.
#include "core/zelkor.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <regex>

namespace {

LOG_CONFIG configFor(const std::filesystem::path& path, uint8_t truncate, uint32_t typeMask = 0xFFFFFFFF,
                     uint8_t levelMask = 0xFF) {
    LOG_CONFIG config{};
    std::snprintf(config.name, sizeof config.name, "%s", path.c_str());
    config.truncate = truncate;
    config.typeMask = typeMask;
    config.levelMask = levelMask;
    return config;
}

class LogTest : public ::testing::Test {
  protected:
    void TearDown() override { zelkor_closeLogger(); }

    void open(uint32_t typeMask = 0xFFFFFFFF, uint8_t levelMask = 0xFF) {
        LOG_CONFIG config = configFor(path_, 1, typeMask, levelMask);
        ASSERT_EQ(zelkor_initLogger(&config), 0u);
    }
    std::string closeAndRead() {
        EXPECT_EQ(zelkor_closeLogger(), 0u);
        return testsupport::readFile(path_);
    }

    testsupport::TempDir dir_;
    std::filesystem::path path_ = dir_ / "lib.log";
};

// One line without a time stamp: what it is written with and what the file holds afterwards.
struct LineCase {
    const char* label;
    uint32_t typeMask;
    uint8_t levelMask;
    const char* module;
    const char* function;
    uint32_t type;
    uint32_t level;
    const char* format; // one %s conversion at most, filled with argument
    const char* argument;
    std::string expected;
};

TEST_F(LogTest, LineFormatAndFilters) {
    const LineCase cases[] = {
        {"info", 0xFFFFFFFF, 0xFF, "zelkor", "open", 4, 1, "ready", nullptr, "INFO : zelkor::open : ready\n"},
        {"warn", 0xFFFFFFFF, 0xFF, "zelkor", "open", 4, 2, "slow", nullptr, "WARN : zelkor::open : slow\n"},
        {"error", 0xFFFFFFFF, 0xFF, "zelkor", "open", 4, 4, "broken", nullptr,
         "ERROR : zelkor::open : broken\n"},
        {"level without word", 0xFFFFFFFF, 0xFF, "zelkor", "open", 4, 3, "both", nullptr,
         "zelkor::open : both\n"},
        {"level 0", 0xFFFFFFFF, 0xFF, "morv", "f", 4, 0, "dot", nullptr, "morv::f : dot\n"},
        {"null module", 0xFFFFFFFF, 0xFF, nullptr, "open", 4, 1, "m", nullptr, "INFO : open : m\n"},
        {"null function", 0xFFFFFFFF, 0xFF, "zelkor", nullptr, 4, 4, "bare", nullptr, "bare\n"},
        {"null module and function", 0xFFFFFFFF, 0xFF, nullptr, nullptr, 4, 1, "bare", nullptr, "bare\n"},
        {"entry trace", 0xFFFFFFFF, 0xFF, "zelkor", "open", 5, 1, nullptr, nullptr,
         "INFO : zelkor::open : Entry\n"},
        {"exit trace", 0xFFFFFFFF, 0xFF, "zelkor", "open", 6, 1, nullptr, nullptr,
         "INFO : zelkor::open : Exit\n"},
        {"entry wins over exit", 0xFFFFFFFF, 0xFF, "zelkor", "f", 7, 1, nullptr, nullptr,
         "INFO : zelkor::f : Entry\n"},
        {"no format, no trace", 0xFFFFFFFF, 0xFF, "zelkor", "f", 4, 1, nullptr, nullptr,
         "INFO : zelkor::f : \n"},
        {"bare trace", 0xFFFFFFFF, 0xFF, "zelkor", nullptr, 5, 1, nullptr, nullptr, "Entry\n"},
        {"text ending in line feed", 0xFFFFFFFF, 0xFF, "morv", "main", 0x80000000, 1, "Entry.\n", nullptr,
         "INFO : morv::main : Entry.\n\n"},
        {"percent in a value", 0xFFFFFFFF, 0xFF, "zelkor", "f", 4, 1, "file %s", "a%sb%d%n.xml",
         "INFO : zelkor::f : file a%sb%d%n.xml\n"},
        // Type mask: every type bit must be enabled.
        {"front end only: core dropped", 0x80000000, 0xFF, "zelkor", "f", 4, 1, "x", nullptr, ""},
        {"front end only: front end written", 0x80000000, 0xFF, "morv", "f", 0x80000000, 1, "x", nullptr,
         "INFO : morv::f : x\n"},
        {"core entry needs bit 1", 0x4, 0xFF, "zelkor", "f", 5, 1, nullptr, nullptr, ""},
        {"core entry with bits 1 and 4", 0x5, 0xFF, "zelkor", "f", 5, 1, nullptr, nullptr,
         "INFO : zelkor::f : Entry\n"},
        {"core exit without bit 2", 0x5, 0xFF, "zelkor", "f", 6, 1, nullptr, nullptr, ""},
        {"type 0 always passes", 0x0, 0xFF, "zelkor", "f", 0, 1, "x", nullptr, "INFO : zelkor::f : x\n"},
        // Level mask: every level bit must be enabled.
        {"errors only: info dropped", 0xFFFFFFFF, 0x4, "zelkor", "f", 4, 1, "x", nullptr, ""},
        {"errors only: error written", 0xFFFFFFFF, 0x4, "zelkor", "f", 4, 4, "x", nullptr,
         "ERROR : zelkor::f : x\n"},
        {"level 3 with one bit", 0xFFFFFFFF, 0x1, "zelkor", "f", 4, 3, "x", nullptr, ""},
        {"level 3 with both bits", 0xFFFFFFFF, 0x3, "zelkor", "f", 4, 3, "x", nullptr, "zelkor::f : x\n"},
        {"level above the mask's byte", 0xFFFFFFFF, 0xFF, "zelkor", "f", 4, 0x100, "x", nullptr, ""},
    };
    for (const LineCase& c : cases) {
        open(c.typeMask, c.levelMask);
        if (c.format == nullptr)
            zelkor_messageLog(c.module, c.function, c.type, c.level, 0, nullptr);
        else if (c.argument == nullptr)
            zelkor_messageLog(c.module, c.function, c.type, c.level, 0, "%s", c.format);
        else
            zelkor_messageLog(c.module, c.function, c.type, c.level, 0, c.format, c.argument);
        EXPECT_EQ(closeAndRead(), c.expected) << c.label;
    }
}

TEST_F(LogTest, StampIsTheLocalDateAndTime) {
    open();
    const std::time_t before = std::time(nullptr);
    zelkor_messageLog("zelkor", "open", 4, 1, 1, "stamped %d", 7);
    const std::time_t after = std::time(nullptr);
    const std::string line = closeAndRead();
    const std::string rest = "INFO : zelkor::open : stamped 7\n";
    EXPECT_TRUE(line == testsupport::logStamp(before) + " : " + rest ||
                line == testsupport::logStamp(after) + " : " + rest)
        << line;
    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(\d{1,2}/\d{1,2}/\d{2} \d{2}:\d{2}:\d{2} : INFO : .*\n)")));
}

TEST_F(LogTest, StampFlagMustBeExactlyOne) {
    open();
    zelkor_messageLog("zelkor", "f", 4, 1, 2, "x");
    zelkor_messageLog("zelkor", nullptr, 4, 1, 1, "bare");
    EXPECT_EQ(closeAndRead(), "INFO : zelkor::f : x\nbare\n");
}

TEST_F(LogTest, LongMessageIsCutTo510Characters) {
    const std::string text(600, 'q');
    open();
    zelkor_messageLog("zelkor", nullptr, 4, 1, 0, "%s", text.c_str());
    zelkor_messageLog("zelkor", "f", 4, 1, 0, "%s", std::string(510, 'r').c_str());
    EXPECT_EQ(closeAndRead(),
              text.substr(0, 510) + "\n" + "INFO : zelkor::f : " + std::string(510, 'r') + "\n");
}

TEST_F(LogTest, LinesWhileClosedAreDropped) {
    zelkor_messageLog("zelkor", "f", 4, 1, 0, "before");
    open();
    zelkor_messageLog("zelkor", "f", 4, 1, 0, "during");
    EXPECT_EQ(closeAndRead(), "INFO : zelkor::f : during\n");
    zelkor_messageLog("zelkor", "f", 4, 1, 0, "after");
    EXPECT_EQ(testsupport::readFile(path_), "INFO : zelkor::f : during\n");
}

TEST_F(LogTest, AppendKeepsAndTruncateStartsAnew) {
    testsupport::writeFile(path_, "old line\n");
    LOG_CONFIG append = configFor(path_, 0);
    ASSERT_EQ(zelkor_initLogger(&append), 0u);
    zelkor_messageLog(nullptr, nullptr, 4, 1, 0, "appended");
    EXPECT_EQ(closeAndRead(), "old line\nappended\n");

    LOG_CONFIG truncate = configFor(path_, 1);
    ASSERT_EQ(zelkor_initLogger(&truncate), 0u);
    zelkor_messageLog(nullptr, nullptr, 4, 1, 0, "fresh");
    EXPECT_EQ(closeAndRead(), "fresh\n");
}

TEST_F(LogTest, OpenFailures) {
    EXPECT_EQ(zelkor_initLogger(nullptr), 1u);

    LOG_CONFIG empty = configFor("", 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_initLogger(&empty), 59u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Log file creation failed.\n");

    LOG_CONFIG missingDir = configFor(dir_ / "no" / "such.log", 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_initLogger(&missingDir), 59u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Log file creation failed.\n");
    EXPECT_EQ(zelkor_closeLogger(), 1u); // nothing was opened
}

// Names under which something other than a regular file stands are refused as logs that cannot be
// created: nothing is written through them and what they name stays as it was.
TEST_F(LogTest, OnlyARegularFileBecomesTheLog) {
    const std::filesystem::path target = dir_ / "target.txt";
    const std::string original = "root:x:0:0:root:/root:/bin/sh\n";
    struct Case {
        const char* label;
        std::function<std::filesystem::path()> make; // plants the name, returns it
    };
    const Case cases[] = {
        {"symbolic link to a file",
         [&] {
             std::filesystem::create_symlink(target, dir_ / "link.log");
             return dir_ / "link.log";
         }},
        {"dangling symbolic link",
         [&] {
             std::filesystem::create_symlink(dir_ / "absent.txt", dir_ / "dangling.log");
             return dir_ / "dangling.log";
         }},
        {"directory",
         [&] {
             std::filesystem::create_directory(dir_ / "dir.log");
             return dir_ / "dir.log";
         }},
        {"device", [] { return std::filesystem::path("/dev/full"); }},
    };
    for (const Case& c : cases) {
        for (const uint8_t truncate : {uint8_t{1}, uint8_t{0}}) {
            SCOPED_TRACE(std::string(c.label) + (truncate == 1 ? ", truncate" : ", append"));
            testsupport::writeFile(target, original);
            const std::filesystem::path name = c.make();
            LOG_CONFIG config = configFor(name, truncate);
            testing::internal::CaptureStdout();
            EXPECT_EQ(zelkor_initLogger(&config), 59u);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Log file creation failed.\n");
            EXPECT_EQ(zelkor_closeLogger(), 1u); // nothing was opened
            EXPECT_EQ(testsupport::readFile(target), original);
            EXPECT_FALSE(std::filesystem::exists(dir_ / "absent.txt"));
            if (name.parent_path() == dir_.path())
                std::filesystem::remove_all(name);
        }
    }
}

// A FIFO is refused whether or not a reader holds it open: nothing reaches the reader, and without one the
// open does not wait (a child process, so that a waiting open fails the test instead of hanging it).
TEST_F(LogTest, FifoIsRefusedWithoutWaiting) {
    const std::filesystem::path fifo = dir_ / "fifo.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    LOG_CONFIG config = configFor(fifo, 1);
    EXPECT_EXIT(
        {
            ::alarm(10);
            if (std::freopen("/dev/null", "w", stdout) == nullptr)
                std::_Exit(1);
            std::_Exit(static_cast<int>(zelkor_initLogger(&config)));
        },
        ::testing::ExitedWithCode(59), "");

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (const uint8_t truncate : {uint8_t{1}, uint8_t{0}}) {
        config.truncate = truncate;
        testing::internal::CaptureStdout();
        EXPECT_EQ(zelkor_initLogger(&config), 59u);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Log file creation failed.\n");
        zelkor_messageLog(nullptr, nullptr, 4, 1, 0, "nothing");
    }
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 0); // no writer ever held it: end of file, no data
    ::close(reader);
    EXPECT_EQ(zelkor_closeLogger(), 1u);
}

// A new log is created with the usual permissions; its descriptor is not inherited by programs the
// process starts, and writes to it block as any regular file's do.
TEST_F(LogTest, NewLogPermissionsAndDescriptorFlags) {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    for (const uint8_t truncate : {uint8_t{1}, uint8_t{0}}) {
        LOG_CONFIG config = configFor(path_, truncate);
        ASSERT_EQ(zelkor_initLogger(&config), 0u);
        struct stat status {};
        ASSERT_EQ(::stat(path_.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
        int found = -1;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (std::filesystem::read_symlink(entry.path(), error) == path_)
                found = std::stoi(entry.path().filename().string());
        }
        ASSERT_GE(found, 0);
        EXPECT_NE(::fcntl(found, F_GETFD) & FD_CLOEXEC, 0);
        const int flags = ::fcntl(found, F_GETFL);
        EXPECT_EQ(flags & O_NONBLOCK, 0);
        EXPECT_EQ((flags & O_APPEND) != 0, truncate == 0);
        EXPECT_EQ(zelkor_closeLogger(), 0u);
    }
}

TEST_F(LogTest, FailedOpenKeepsTheOpenLog) {
    open();
    LOG_CONFIG missingDir = configFor(dir_ / "no" / "such.log", 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_initLogger(&missingDir), 59u);
    testing::internal::GetCapturedStdout();
    zelkor_messageLog(nullptr, nullptr, 4, 1, 0, "still here");
    EXPECT_EQ(closeAndRead(), "still here\n");
}

TEST_F(LogTest, CloseWithoutOpenFails) {
    EXPECT_EQ(zelkor_closeLogger(), 1u);
}

TEST_F(LogTest, SecondOpenReplacesTheFirst) {
    const std::filesystem::path second = dir_ / "second.log";
    open();
    zelkor_messageLog(nullptr, nullptr, 4, 1, 0, "first");
    LOG_CONFIG other = configFor(second, 1, 0x4, 0x1);
    ASSERT_EQ(zelkor_initLogger(&other), 0u);
    // The first file was closed with its line; the second one's masks now apply.
    EXPECT_EQ(testsupport::readFile(path_), "first\n");
    zelkor_messageLog(nullptr, nullptr, 4, 1, 0, "second");
    zelkor_messageLog(nullptr, nullptr, 4, 4, 0, "filtered");
    EXPECT_EQ(zelkor_closeLogger(), 0u);
    EXPECT_EQ(testsupport::readFile(second), "second\n");
}

} // namespace
