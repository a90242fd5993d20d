// XMODEM throughput against lrzsz: one side on a socat pseudo-terminal, the lrzsz peer run by socat with a
// socket for its stdio. sx to rx is the baseline; our receiver against sx and our sender against rx are
// given as ratios of its wall time, through the product's serial port with its post-write delay 0 and as
// the console's first probe mode prescribes (20 ms). ZELKOR_BENCH_BYTES sets the transfer size (default 1 MiB).
#include "osal/xmodem.h"
#include "tests/console/comLine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Socat {
    Socat(const fs::path& dir, const std::string& command) : link(dir / "tty") {
        const std::string pty = "PTY,link=" + link.string() + ",rawer";
        const std::string system = "SYSTEM:cd " + dir.string() + " && " + command + " 2>/dev/null";
        const char* argv[] = {"socat", pty.c_str(), system.c_str(), nullptr};
        if (posix_spawnp(&pid, "socat", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            pid = -1;
        for (int i = 0; i < 500 && !fs::exists(link); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~Socat() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    void wait() {
        if (pid > 0)
            waitpid(pid, nullptr, 0);
        pid = -1;
    }
    fs::path link;
    pid_t pid = -1;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    const char* sizeText = std::getenv("ZELKOR_BENCH_BYTES");
    const uint32_t size = sizeText != nullptr ? static_cast<uint32_t>(std::strtoul(sizeText, nullptr, 0)) : 1u << 20;
    char pattern[] = "/tmp/zelkor-xmodem-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const fs::path dir = pattern;
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    {
        std::ofstream out(dir / "in.bin", std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    }

    double baseline = 0;
    {
        Socat peer(dir, "rx -b out.bin");
        const auto start = std::chrono::steady_clock::now();
        const std::string command = "cd " + dir.string() + " && sx -b in.bin < tty > tty 2>/dev/null";
        const int status = std::system(command.c_str());
        peer.wait();
        baseline = secondsSince(start);
        std::printf("sx to rx: %.2f s (status %d)\n", baseline, status);
    }
    for (uint32_t postWriteUs : {0u, 20000u}) {
        {
            Socat peer(dir, "sx -b in.bin");
            OpenComLine port(peer.link.string(), postWriteUs);
            std::vector<uint8_t> buffer(size);
            const auto start = std::chrono::steady_clock::now();
            const ZELKOR_STATUS status = xFileRcveByte(port.line(), nullptr, buffer.data(), size);
            const double wall = secondsSince(start);
            std::printf("sx to our receiver, post-write %u us: %.2f s, %.2f of the baseline (status %u, %s)\n",
                        postWriteUs, wall, wall / baseline, status, buffer == data ? "data equal" : "DATA DIFFER");
            peer.wait();
        }
        {
            fs::remove(dir / "out.bin");
            Socat peer(dir, "rx --delay-startup 1 -b out.bin");
            OpenComLine port(peer.link.string(), postWriteUs);
            const auto start = std::chrono::steady_clock::now();
            const ZELKOR_STATUS status = xFileTransByte(port.line(), nullptr, data.data(), size);
            peer.wait();
            const double wall = secondsSince(start) - 1.0; // less rx's delayed start
            std::printf("our sender to rx, post-write %u us: %.2f s, %.2f of the baseline (status %u)\n", postWriteUs,
                        wall, wall / baseline, status);
        }
    }
    fs::remove_all(dir);
    return 0;
}
