#include "console/ConsoleServer.h"

#include "console/HostFrame.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace zsim {

namespace {

uint64_t nowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// Waits without a sleep call: the simulator's preload makes sleeps return at once.
void pause(int milliseconds) {
    if (milliseconds > 0)
        ::poll(nullptr, 0, milliseconds);
}

} // namespace

ConsoleServer::ConsoleServer(LineEndpoint& endpoint, uint32_t baud) : endpoint_(endpoint), baud_(baud) {
    char name[128] = {};
    termios raw{};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        return;
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        endpoint_.begin(nowMs());
    }
    thread_ = std::thread([this] { run(); });
}

ConsoleServer::~ConsoleServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
}

unsigned long long ConsoleServer::slaveDevice() const {
    struct stat st {};
    return slave_ >= 0 && fstat(slave_, &st) == 0 ? static_cast<unsigned long long>(st.st_rdev) : 0;
}

bool ConsoleServer::idle() {
    if (busy_)
        return false;
    int pending = 0;
    if (ioctl(slave_, FIONREAD, &pending) == 0 && pending > 0)
        return false; // output for the product not yet read: it is not silence
    if (master_ >= 0 && ioctl(master_, FIONREAD, &pending) == 0 && pending > 0)
        return false; // the product's bytes not yet taken: an answer may follow
    std::lock_guard<std::mutex> lock(mutex_);
    const auto next = endpoint_.nextDeadline();
    return endpoint_.output().empty() && (!next || *next > nowMs() + 100);
}

void ConsoleServer::sendPaced(const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count && !stop_) {
        const size_t chunk = baud_ == 0 ? count - done : 1;
        const ssize_t n = ::write(master_, bytes + done, chunk);
        if (n < 0) {
            if (errno == EAGAIN)
                pause(1);
            else
                return;
            continue;
        }
        done += static_cast<size_t>(n);
    }
}

void ConsoleServer::run() {
    std::vector<uint8_t> in(4096);
    uint64_t owed = 0; // paced bytes whose time has not been waited yet, in microseconds
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, 5);
        busy_ = true;
        std::vector<uint8_t> out;
        bool dropped = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const uint64_t now = nowMs();
            const ssize_t n = (p.revents & POLLIN) != 0 ? ::read(master_, in.data(), in.size()) : 0;
            if (n > 0) {
                // The endpoint learns each frame the product sets, whether or not it answers at it.
                const UartFrame frame = hostFrame(master_, slave_);
                if (frame != hostFrame_) {
                    endpoint_.onFrame(frame);
                    hostFrame_ = frame;
                }
            }
            if (n > 0 && (!framing_ || framing_())) {
                endpoint_.onBytes(in.data(), static_cast<size_t>(n), now);
                if (baud_ != 0)
                    owed += static_cast<uint64_t>(n) * 10000000ull / baud_; // the bytes' time on the wire
            }
            endpoint_.onTime(now);
            out.swap(endpoint_.output());
            dropped = endpoint_.dropped();
        }
        if (!out.empty()) {
            if (baud_ == 0) {
                sendPaced(out.data(), out.size());
            } else {
                for (uint8_t byte : out) {
                    sendPaced(&byte, 1);
                    owed += 10000000ull / baud_;
                    if (owed >= 1000) {
                        pause(static_cast<int>(owed / 1000));
                        owed %= 1000;
                    }
                }
            }
        }
        if (owed >= 1000) {
            pause(static_cast<int>(owed / 1000));
            owed %= 1000;
        }
        busy_ = false;
        if (dropped) {
            // Hang the line up: the product's reads and writes fail from now on.
            ::close(master_);
            master_ = -1;
            return;
        }
    }
}

} // namespace zsim
