// A SerialLine over a tty the test opened itself (raw, 38400 8N1, reads ending on 0.2 s of quiet), for
// the peer tests against lrzsz on a pseudo-terminal that socat provides.
#ifndef TESTS_CONSOLE_TTY_LINE_H
#define TESTS_CONSOLE_TTY_LINE_H

#include "osal/serialLine.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

class TtyLine : public SerialLine {
  public:
    explicit TtyLine(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios t{};
        if (fd_ < 0 || tcgetattr(fd_, &t) != 0)
            return;
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 2;
        cfsetispeed(&t, B38400);
        cfsetospeed(&t, B38400);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~TtyLine() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TtyLine(const TtyLine&) = delete;
    TtyLine& operator=(const TtyLine&) = delete;
    bool ok() const { return fd_ >= 0; }

    bool read(uint8_t* buffer, uint32_t count, uint32_t& got) override {
        got = 0;
        while (got < count) {
            const ssize_t n = ::read(fd_, buffer + got, count - got);
            if (n < 0)
                return got > 0;
            if (n == 0)
                break;
            got += static_cast<uint32_t>(n);
        }
        return true;
    }
    bool write(const uint8_t* data, uint32_t count) override {
        uint32_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, data + done, count - done);
            if (n <= 0)
                return false;
            done += static_cast<uint32_t>(n);
        }
        return true;
    }
    bool dropInput() override { return tcflush(fd_, TCIFLUSH) == 0; }
    bool waitInput(uint32_t milliseconds) override {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(milliseconds)) == 1 && (p.revents & POLLIN) != 0;
    }
    uint64_t nowMs() override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }

  private:
    int fd_;
};

#endif
