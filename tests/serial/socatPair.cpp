#include "socatPair.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr auto kPatience = std::chrono::seconds(5);

void makeRaw(int descriptor) {
    termios attributes{};
    tcgetattr(descriptor, &attributes);
    cfmakeraw(&attributes);
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 0;
    tcsetattr(descriptor, TCSANOW, &attributes);
}

} // namespace

bool waitForQueued(int descriptor, size_t count) {
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < end) {
        int queued = 0;
        if (ioctl(descriptor, FIONREAD, &queued) == 0 && static_cast<size_t>(queued) >= count)
            return true;
        poll(nullptr, 0, 1); // not a prescribed wait: the preload makes the sleep calls return at once
    }
    return false;
}

SocatPair::SocatPair() {
    char pattern[] = "/tmp/zserialXXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return;
    directory_ = pattern;
    productPath_ = directory_ + "/product";
    peerPath_ = directory_ + "/peer";
    const std::string left = "pty,raw,echo=0,link=" + productPath_;
    const std::string right = "pty,raw,echo=0,link=" + peerPath_;
    socat_ = fork();
    if (socat_ == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        dup2(devNull, STDERR_FILENO);
        unsetenv("LD_PRELOAD");
        execlp("socat", "socat", left.c_str(), right.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < end) {
        if (std::filesystem::exists(productPath_) && std::filesystem::exists(peerPath_)) {
            peer_ = ::open(peerPath_.c_str(), O_RDWR | O_NOCTTY);
            if (peer_ >= 0) {
                makeRaw(peer_);
                return;
            }
        }
        poll(nullptr, 0, 5);
    }
}

SocatPair::~SocatPair() {
    if (peer_ >= 0)
        ::close(peer_);
    drop();
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

void SocatPair::drop() {
    if (socat_ > 0) {
        kill(socat_, SIGTERM);
        waitpid(socat_, nullptr, 0);
        socat_ = -1;
    }
}

void SocatPair::send(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(peer_, bytes.data() + done, bytes.size() - done);
        if (n <= 0 && errno != EINTR)
            return;
        if (n > 0)
            done += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> SocatPair::receive(size_t count) const {
    std::vector<uint8_t> bytes;
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (bytes.size() < count && std::chrono::steady_clock::now() < end) {
        pollfd entry{peer_, POLLIN, 0};
        if (poll(&entry, 1, 50) <= 0)
            continue;
        uint8_t chunk[512];
        const ssize_t n = ::read(peer_, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (n > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}
