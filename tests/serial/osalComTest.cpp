// The serial port layer on a socat pseudo-terminal pair: settings, reads ending in silence, writes,
// the debug-port write with echo, flushes, open failures and a dropped line.
#include "osal/osalCom.h"
#include "osal/osalTime.h"
#include "socatPair.h"

#include "client/zsimClient.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::vector<uint32_t> gSleeps;
void recordSleep(uint32_t microseconds) { gSleeps.push_back(microseconds); }

// The test queues everything the far end says before the product reads, so silence is simply an empty
// input queue.
bool queuedOnly(int descriptor, uint32_t) {
    pollfd entry{descriptor, POLLIN, 0};
    return poll(&entry, 1, 0) > 0;
}

SERIAL_PORT_SETTINGS settings(uint32_t baud, uint32_t bits, uint32_t interByte = 0, uint32_t postWrite = 0) {
    return SERIAL_PORT_SETTINGS{baud, bits, 1, 0, 0, interByte, postWrite};
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char chunk[256];
    while (fgets(chunk, sizeof chunk, pipe) != nullptr)
        out += chunk;
    pclose(pipe);
    return out;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pair_.ready()) << "socat did not start";
        previousWait_ = osal_setSilenceWaitFunction(queuedOnly);
        previousSleep_ = osal_setSleepUsFunction(recordSleep);
        gSleeps.clear();
        gChipTypeFlag = 0;
        port_ = osal_serialPortOpen(pair_.productPath().c_str());
        ASSERT_NE(port_, nullptr);
    }
    void TearDown() override {
        if (port_ != nullptr) {
            EXPECT_EQ(osal_serialPortClose(port_), kSerialOk);
        }
        osal_setSilenceWaitFunction(previousWait_);
        osal_setSleepUsFunction(previousSleep_);
        osal_setSleepFunction(nullptr);
        gChipTypeFlag = 0;
    }
    void configure(const SERIAL_PORT_SETTINGS& s) { ASSERT_EQ(osal_serialPortSetParam(port_, &s), kSerialOk); }
    // The far end says bytes; returns once they are waiting on the product's side.
    void say(const std::vector<uint8_t>& bytes) {
        pair_.send(bytes);
        ASSERT_TRUE(waitForQueued(port_->descriptor, bytes.size()));
    }
    size_t queuedForProduct() const {
        int n = 0;
        ioctl(port_->descriptor, FIONREAD, &n);
        return static_cast<size_t>(n);
    }

    SocatPair pair_;
    SERIAL_PORT_HANDLE* port_ = nullptr;
    OsalSilenceWaitFunction previousWait_ = nullptr;
    OsalSleepUsFunction previousSleep_ = nullptr;
};

struct ReadCase {
    const char* name;
    uint32_t baud;
    uint32_t bits;
    size_t sent;
    uint32_t asked;
    ZELKOR_STATUS status;
    uint32_t got;
};

TEST_F(SerialPortTest, ReadsEndAtCountOrSilence) {
    const ReadCase cases[] = {
        {"nothing at 115200 8N1 fails", kSerialBaud115200, 8, 0, 4, kSerialFailed, 0},
        {"nothing at 38400 8N1 is an empty success", kSerialBaud38400, 8, 0, 4, kSerialOk, 0},
        {"nothing at 38400 7N1 fails", kSerialBaud38400, 7, 0, 4, kSerialFailed, 0},
        {"nothing at 57600 8N1 fails", kSerialBaud57600, 8, 0, 4, kSerialFailed, 0},
        {"two of four then silence", kSerialBaud115200, 8, 2, 4, kSerialOk, 2},
        {"all four", kSerialBaud115200, 8, 4, 4, kSerialOk, 4},
        {"more than asked leaves the rest", kSerialBaud115200, 8, 6, 4, kSerialOk, 4},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        configure(settings(c.baud, c.bits));
        std::vector<uint8_t> sent;
        for (size_t i = 0; i < c.sent; ++i)
            sent.push_back(static_cast<uint8_t>(0xA0 + i));
        if (!sent.empty())
            say(sent);
        std::array<uint8_t, 8> buffer{};
        uint32_t got = 99;
        EXPECT_EQ(osal_serialPortRead(port_, buffer.data(), c.asked, &got), c.status);
        EXPECT_EQ(osal_serialPortGetLastStatus(), c.status);
        EXPECT_EQ(got, c.got);
        for (uint32_t i = 0; i < got; ++i)
            EXPECT_EQ(buffer[i], sent[i]);
        EXPECT_EQ(queuedForProduct(), c.sent > c.asked ? c.sent - c.asked : 0);
    }
}

TEST_F(SerialPortTest, EveryByteValueCrossesUnchangedBothWays) {
    configure(settings(kSerialBaud115200, 8));
    std::vector<uint8_t> all(256);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<uint8_t>(i);

    uint32_t written = 0;
    ASSERT_EQ(osal_serialPortWrite(port_, all.data(), 256, &written, 0), kSerialOk);
    EXPECT_EQ(written, 256U);
    EXPECT_EQ(pair_.receive(256), all);

    say(all);
    std::vector<uint8_t> back(256);
    uint32_t got = 0;
    ASSERT_EQ(osal_serialPortRead(port_, back.data(), 256, &got), kSerialOk);
    EXPECT_EQ(got, 256U);
    EXPECT_EQ(back, all);
}

TEST_F(SerialPortTest, SettingsShowInTheTerminalAttributes) {
    struct Case {
        SERIAL_PORT_SETTINGS s;
        std::vector<std::string> shown;
        std::string asked; // the frame as the line record shows the request
    };
    const Case cases[] = {
        {{kSerialBaud115200, 8, 1, 0, 0, 0, 0},
         {"speed 115200 baud", "min = 0", "time = 3", "-icanon", "-echo", "-opost", "-isig", "-cstopb", "-crtscts",
          "-ixon", "ignbrk"},
         "speed=115200 bits=8 parity=none stop=1 flow=none vmin=0 vtime=3"},
        {{kSerialBaud38400, 7, 2, 1, 2, 0, 0},
         {"speed 38400 baud", "cstopb", "crtscts", "-ixon"},
         "speed=38400 bits=7 parity=odd stop=2 flow=rtscts"},
        {{kSerialBaud57600, 6, 1, 2, 1, 0, 0}, {"speed 57600 baud", "ixon", "ixoff", "-crtscts"},
         "speed=57600 bits=6 parity=even stop=1 flow=xon"},
        {{0, 5, 1, 0, 0, 0, 0}, {"speed 110 baud"}, "speed=110 bits=5"},
        {{6, 8, 1, 0, 0, 0, 0}, {"speed 9600 baud"}, "speed=9600 bits=8"},
    };
    for (const Case& c : cases) {
        zsim::client::clearSerialLineRecord();
        configure(c.s);
        const auto record = zsim::client::serialLineRecord();
        ASSERT_EQ(record.size(), 1U);
        EXPECT_NE(record[0].find(c.asked), std::string::npos) << record[0];
        const std::string shown = run("env -u LD_PRELOAD stty -a -F " + pair_.productPath() + " 2>&1");
        for (const std::string& word : c.shown)
            EXPECT_NE((" " + shown + " ").find(word), std::string::npos) << word << " in\n" << shown;
        EXPECT_EQ(std::memcmp(&port_->settings, &c.s, sizeof c.s), 0);
        EXPECT_EQ(port_->flags & kSerialPortConfigured, kSerialPortConfigured);
    }
}

TEST_F(SerialPortTest, ReadTimeoutDependsOnTheSettingsHeldBefore) {
    auto vtime = [&] {
        termios attributes{};
        tcgetattr(port_->descriptor, &attributes);
        return static_cast<int>(attributes.c_cc[VTIME]);
    };
    configure(settings(kSerialBaud115200, 8));
    EXPECT_EQ(vtime(), 3);
    configure(settings(kSerialBaud38400, 8));
    EXPECT_EQ(vtime(), 3);
    configure(settings(kSerialBaud38400, 8));
    EXPECT_EQ(vtime(), 2);
    configure(settings(kSerialBaud115200, 8));
    EXPECT_EQ(vtime(), 2);
    configure(settings(kSerialBaud115200, 8));
    EXPECT_EQ(vtime(), 3);
}

TEST_F(SerialPortTest, OutOfRangeSettingsFailAndClearTheStoredOnes) {
    const SERIAL_PORT_SETTINGS good = settings(kSerialBaud38400, 8);
    const SERIAL_PORT_SETTINGS bad[] = {
        {11, 8, 1, 0, 0, 0, 0}, {kSerialBaud38400, 9, 1, 0, 0, 0, 0}, {kSerialBaud38400, 4, 1, 0, 0, 0, 0},
        {kSerialBaud38400, 8, 3, 0, 0, 0, 0}, {kSerialBaud38400, 8, 0, 0, 0, 0, 0},
        {kSerialBaud38400, 8, 1, 3, 0, 0, 0}, {kSerialBaud38400, 8, 1, 0, 3, 0, 0},
    };
    for (const SERIAL_PORT_SETTINGS& s : bad) {
        configure(good);
        EXPECT_EQ(osal_serialPortSetParam(port_, &s), kSerialBadArgument);
        EXPECT_EQ(osal_serialPortGetLastStatus(), kSerialBadArgument);
        const SERIAL_PORT_SETTINGS zero{};
        EXPECT_EQ(std::memcmp(&port_->settings, &zero, sizeof zero), 0);
        // The configured bit stays; the 38400/8-bit silence rule no longer holds.
        EXPECT_EQ(port_->flags & kSerialPortConfigured, kSerialPortConfigured);
        uint8_t byte = 0;
        uint32_t got = 0;
        EXPECT_EQ(osal_serialPortRead(port_, &byte, 1, &got), kSerialFailed);
    }
    configure(good);
    EXPECT_EQ(osal_serialPortSetParam(port_, nullptr), kSerialBadArgument);
    EXPECT_EQ(port_->settings.baudIndex, 0U);
    EXPECT_EQ(osal_serialPortSetParam(nullptr, &good), kSerialBadArgument);
}

TEST_F(SerialPortTest, ApplyingDiscardsPendingInput) {
    configure(settings(kSerialBaud115200, 8));
    say({1, 2, 3});
    configure(settings(kSerialBaud115200, 8));
    EXPECT_EQ(queuedForProduct(), 0U);
}

TEST_F(SerialPortTest, UnusableHandlesAndArguments) {
    uint8_t byte = 0x55;
    uint32_t count = 7;
    EXPECT_EQ(osal_serialPortRead(port_, &byte, 1, &count), kSerialNotConfigured);
    EXPECT_EQ(count, 0U);
    EXPECT_EQ(osal_serialPortWrite(port_, &byte, 1, &count, 0), kSerialNotConfigured);
    EXPECT_EQ(osal_serialComDbgPortWrite(port_, &byte, 1, &count, 0), kSerialNotConfigured);
    EXPECT_EQ(osal_serialPortRead(nullptr, &byte, 1, &count), kSerialNullHandle);
    EXPECT_EQ(osal_serialPortWrite(nullptr, &byte, 1, &count, 0), kSerialNullHandle);
    configure(settings(kSerialBaud115200, 8));
    EXPECT_EQ(osal_serialPortRead(port_, nullptr, 1, &count), kSerialBadArgument);
    EXPECT_EQ(osal_serialPortRead(port_, &byte, 0, &count), kSerialBadArgument);
    EXPECT_EQ(osal_serialPortRead(port_, &byte, 1, nullptr), kSerialBadArgument);
    EXPECT_EQ(osal_serialPortWrite(port_, nullptr, 1, &count, 0), kSerialBadArgument);
    EXPECT_EQ(osal_serialPortWrite(port_, &byte, 0, &count, 0), kSerialBadArgument);
    EXPECT_EQ(osal_serialPortClearError(nullptr), kSerialBadArgument);
    EXPECT_EQ(osal_serialPortClearError(port_), kSerialOk);
    EXPECT_EQ(osal_serialPortGetLastStatus(), kSerialOk);
    EXPECT_EQ(osal_serialPortClose(nullptr), kSerialBadArgument);
}

TEST_F(SerialPortTest, PacedWritesSleepAfterEveryByteAndPostWriteAfterEveryCall) {
    struct Case {
        const char* name;
        size_t count;
        uint32_t paced;
        std::vector<uint32_t> sleeps;
    };
    const Case cases[] = {
        {"one paced byte is one call", 1, 1, {700}},
        {"three paced bytes", 3, 1, {300, 300, 300, 700}},
        {"three unpaced bytes", 3, 0, {700}},
    };
    configure(settings(kSerialBaud115200, 8, 300, 700));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gSleeps.clear();
        const std::vector<uint8_t> data = {0x11, 0x22, 0x33};
        uint32_t written = 0;
        EXPECT_EQ(osal_serialPortWrite(port_, data.data(), static_cast<uint32_t>(c.count), &written, c.paced),
                  kSerialOk);
        EXPECT_EQ(written, c.count);
        EXPECT_EQ(gSleeps, c.sleeps);
        EXPECT_EQ(pair_.receive(c.count), std::vector<uint8_t>(data.begin(), data.begin() + c.count));
    }
    configure(settings(kSerialBaud115200, 8));
    gSleeps.clear();
    uint32_t written = 0;
    const uint8_t two[] = {1, 2};
    EXPECT_EQ(osal_serialPortWrite(port_, two, 2, &written, 1), kSerialOk);
    EXPECT_TRUE(gSleeps.empty());
    pair_.receive(2);
}

TEST_F(SerialPortTest, FlushSelectorsPickTheirQueue) {
    configure(settings(kSerialBaud115200, 8));
    EXPECT_EQ(osal_serialPortEmptyBuffer(port_, 0), kSerialBadArgument);
    EXPECT_EQ(osal_serialPortEmptyBuffer(nullptr, 2), kSerialBadArgument);
    struct Case {
        uint32_t selector;
        size_t left;
    };
    for (const Case c : {Case{1, 2}, Case{3, 2}, Case{2, 0}}) {
        SCOPED_TRACE(c.selector);
        say({9, 8});
        EXPECT_EQ(osal_serialPortEmptyBuffer(port_, c.selector), kSerialOk);
        EXPECT_EQ(queuedForProduct(), c.left);
        osal_serialPortEmptyBuffer(port_, 2);
    }
}

struct EchoCase {
    const char* name;
    bool quenza;
    uint32_t baud;
    std::string farEnd;  // everything the monitor says, queued before the write
    uint32_t waitAfterError;
    ZELKOR_STATUS status;
    uint32_t echoed;
    size_t reachedFarEnd; // bytes of "p C 00\r" the monitor received
    size_t leftUnread;
};

TEST_F(SerialPortTest, DebugPortWriteChecksEchoesAndWaitsForThePrompt) {
    const std::string poke = "p C 00\r";
    const EchoCase cases[] = {
        {"echo and monitor prompt", false, kSerialBaud115200, poke + "\n% ", 0, kSerialOk, 7, 7, 0},
        {"echo and bootstrap prompt", false, kSerialBaud115200, poke + "#", 0, kSerialOk, 7, 7, 0},
        {"the prompt's blank ends it", false, kSerialBaud115200, poke + "\n% XY", 0, kSerialOk, 7, 7, 2},
        {"one wrong echo", false, kSerialBaud115200, "p C 0X\r\n% ", 0, kSerialFailed, 6, 7, 0},
        {"no echo at all stops at the first byte", false, kSerialBaud115200, "", 0, kSerialFailed, 0, 1, 0},
        {"no echo with wait-after-error still seeks the prompt", false, kSerialBaud115200, "", 1, kSerialFailed, 0, 1,
         0},
        {"echo but no prompt", false, kSerialBaud115200, poke, 0, kSerialFailed, 7, 7, 0},
        {"quiet mode tolerates missing echoes but needs a prompt", false, kSerialBaud38400, "", 0, kSerialFailed, 0, 7,
         0},
        {"quiet mode with prompt only", false, kSerialBaud38400, "%", 0, kSerialFailed, 0, 7, 0},
        {"family Quenza: no echo, no prompt", true, kSerialBaud115200, "", 0, kSerialOk, 0, 7, 0},
        {"family Quenza leaves what comes back", true, kSerialBaud115200, "%", 0, kSerialOk, 0, 7, 1},
    };
    for (const EchoCase& c : cases) {
        SCOPED_TRACE(c.name);
        configure(settings(c.baud, 8));
        gChipTypeFlag = c.quenza ? 1 : 0;
        if (!c.farEnd.empty())
            say(bytesOf(c.farEnd));
        uint32_t echoed = 99;
        EXPECT_EQ(osal_serialComDbgPortWrite(port_, reinterpret_cast<const uint8_t*>(poke.data()), 7, &echoed,
                                             c.waitAfterError),
                  c.status);
        EXPECT_EQ(echoed, c.echoed);
        EXPECT_EQ(pair_.receive(c.reachedFarEnd), std::vector<uint8_t>(poke.begin(), poke.begin() + c.reachedFarEnd));
        EXPECT_EQ(queuedForProduct(), c.leftUnread);
    }
}

TEST_F(SerialPortTest, DroppedLineFailsWithoutHangingOrSignals) {
    osal_setSilenceWaitFunction(nullptr); // the real poll: a hang-up must end it at once
    configure(settings(kSerialBaud115200, 8));
    pair_.drop();
    const auto start = std::chrono::steady_clock::now();
    uint8_t buffer[4] = {};
    uint32_t got = 0;
    EXPECT_EQ(osal_serialPortRead(port_, buffer, 4, &got), kSerialFailed);
    EXPECT_EQ(got, 0U);
    uint32_t written = 0;
    EXPECT_EQ(osal_serialPortWrite(port_, buffer, 4, &written, 0), kSerialFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(osal_serialPortClose(port_), kSerialOk);
    port_ = nullptr;
}

TEST_F(SerialPortTest, DefaultSilenceWaitLastsTheReadTimeout) {
    osal_setSilenceWaitFunction(nullptr);
    configure(settings(kSerialBaud115200, 8));
    uint8_t byte = 0;
    uint32_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(osal_serialPortRead(port_, &byte, 1, &got), kSerialFailed);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST(SerialPortOpen, FailuresGiveTheirStatus) {
    EXPECT_EQ(osal_serialPortOpen(nullptr), nullptr);
    EXPECT_EQ(osal_serialPortGetLastStatus(), kSerialBadArgument);
    EXPECT_EQ(osal_serialPortOpen("/dev/zelkor-no-such-tty"), nullptr);
    EXPECT_EQ(osal_serialPortGetLastStatus(), kSerialNoDevice);
    EXPECT_EQ(osal_serialPortOpen("/proc/self"), nullptr); // a directory cannot be opened read-write
    EXPECT_EQ(osal_serialPortGetLastStatus(), kSerialFailed);

    // The preload refuses a chosen path as the kernel refuses an unprivileged user.
    zsim::client::denySerialOpen("/dev/null");
    EXPECT_EQ(osal_serialPortOpen("/dev/null"), nullptr);
    EXPECT_EQ(osal_serialPortGetLastStatus(), kSerialNoPermission);
    zsim::client::denySerialOpen("");

    // Permission is only refused to an unprivileged user: a child drops to one.
    char path[] = "/tmp/zserialNoAccessXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    chmod(path, 0);
    const pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 && setuid(65534) != 0)
            _exit(3);
        const bool refused = osal_serialPortOpen(path) == nullptr &&
                             osal_serialPortGetLastStatus() == kSerialNoPermission;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    unlink(path);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
