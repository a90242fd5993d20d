// The product's XMODEM against lrzsz at real timings: our receiver against `sx -b`, our sender against
// `rx -b`, each peer run by socat on the far side of a pseudo-terminal (the peer's stdio is a socket, so
// its last acknowledgement is not lost in a tty flush at exit).
#include "tests/console/comLine.h"

#include "osal/xmodem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> pattern(uint32_t size) {
    std::vector<uint8_t> data(size);
    uint32_t x = 12345;
    for (uint32_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<uint8_t>(x >> 16);
    }
    const uint8_t controls[] = {0x01, 0x04, 0x18, 0x1A, 0x18, 0x04};
    for (uint32_t i = 0; i < size && i < sizeof controls; ++i)
        data[i] = controls[i];
    return data;
}

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// socat serving a pseudo-terminal at link, with command run on its other side.
class SocatPeer {
  public:
    SocatPeer(const fs::path& dir, const std::string& command) : link_(dir / "tty") {
        const std::string pty = "PTY,link=" + link_.string() + ",rawer";
        const std::string system = "SYSTEM:cd " + dir.string() + " && " + command +
                                   " 2>peer.log; echo $? > peer.status";
        const char* argv[] = {"socat", pty.c_str(), system.c_str(), nullptr};
        if (posix_spawnp(&pid_, "socat", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        for (int i = 0; i < 500 && !fs::exists(link_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~SocatPeer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const fs::path& link() const { return link_; }
    // Waits for socat to end (at most the time given); the peer's exit status, or -1.
    int finish(const fs::path& dir, int seconds) {
        for (int i = 0; i < seconds * 100 && pid_ > 0; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_)
                pid_ = -1;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::ifstream in(dir / "peer.status");
        int status = -1;
        in >> status;
        return status;
    }

  private:
    fs::path link_;
    pid_t pid_ = -1;
};

class LrzszPeer : public ::testing::TestWithParam<uint32_t> {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelkor-lrzsz-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(LrzszPeer, OurReceiverTakesWhatSxSends) {
    const uint32_t size = GetParam();
    const std::vector<uint8_t> data = pattern(size);
    {
        std::ofstream out(dir_ / "in.bin", std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    }
    SocatPeer peer(dir_, "sx -b in.bin");
    OpenComLine port(peer.link().string());
    ASSERT_TRUE(port.ok());
    SerialLine& line = port.line();
    std::vector<uint8_t> buffer(size);

    EXPECT_EQ(xFileRcveByte(line, nullptr, buffer.data(), size), XMODEM_SUCCESS);
    EXPECT_EQ(buffer, data);
    EXPECT_EQ(peer.finish(dir_, 20), 0);
}

TEST_P(LrzszPeer, RxTakesWhatOurSenderSends) {
    const uint32_t size = GetParam();
    const std::vector<uint8_t> data = pattern(size);
    // rx starts a second late: its first NAK must not be lost in the port's flush as it opens.
    SocatPeer peer(dir_, "rx --delay-startup 1 -b out.bin");
    OpenComLine port(peer.link().string());
    ASSERT_TRUE(port.ok());
    SerialLine& line = port.line();

    EXPECT_EQ(xFileTransByte(line, nullptr, data.data(), size), XMODEM_SUCCESS);
    EXPECT_EQ(peer.finish(dir_, 20), 0);
    // rx keeps the padding of the last block.
    std::vector<uint8_t> expected = data;
    expected.resize((size + XMODEM_DATA_SIZE - 1) / XMODEM_DATA_SIZE * XMODEM_DATA_SIZE, XMODEM_PAD);
    EXPECT_EQ(readFile(dir_ / "out.bin"), expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LrzszPeer, ::testing::Values(1u, 127u, 128u, 129u, 300u, 65536u));

} // namespace
