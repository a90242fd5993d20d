// The request protocol against socat, a peer that shares no code with the library, the scripted peer or
// the simulator: a shell script behind socat records exactly the bytes that arrive (dd, one byte at a
// time) and answers with prepared reply files. What it recorded is what went over the wire.
#include "osal/osalTcp.h"
#include "osal/osalTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// "02 07 0A 00 ..." as bytes; every byte is two digits.
Bytes hex(const std::string& text) {
    std::istringstream in(text);
    Bytes bytes;
    std::string pair;
    while (in >> pair) {
        EXPECT_EQ(pair.size(), 2u) << text;
        bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    return bytes;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t gSleeps = 0;
void countSleep(uint32_t) {
    ++gSleeps;
}

// socat listening on a 127.0.0.x address of the management port for one connection, running a shell
// script with the connection as its standard input and output. The address is held by a bound socket of
// the test (SO_REUSEPORT, never listening) so that no other test's server can take it meanwhile.
class SocatPeer {
  public:
    SocatPeer() {
        char pattern[] = "/tmp/zelkor-wire-XXXXXX";
        if (mkdtemp(pattern) != nullptr)
            dir_ = pattern;
    }
    ~SocatPeer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (holder_ >= 0)
            close(holder_);
        if (!dir_.empty())
            std::system(("rm -rf " + dir_).c_str());
    }

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // Starts socat with the script and connects the product to it: the product's socket, or -1.
    int start(const std::string& script) {
        if (dir_.empty() || !reserveAddress())
            return -1;
        std::ofstream(path("peer.sh")) << "cd " << dir_ << " || exit 1\n" << script;
        const std::string listen =
            "TCP-LISTEN:" + std::to_string(kTcpPort) + ",bind=" + address_ + ",reuseaddr=1,reuseport=1";
        const std::string run = "SYSTEM:/bin/sh " + path("peer.sh");
        const char* argv[] = {"socat", "-T", "10", listen.c_str(), run.c_str(), nullptr};
        if (posix_spawnp(&pid_, "socat", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
            pid_ = -1;
            return -1;
        }
        // Refused until socat listens; socat serves the first connection that gets through.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < limit) {
            const int socket = osal_tcpConnOpen(address_.c_str());
            if (socket >= 0)
                return socket;
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

    // Waits until socat has ended (the script ran to its end); false when it had to be stopped.
    bool finish() {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pid_ > 0 && std::chrono::steady_clock::now() < limit) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

  private:
    bool reserveAddress() {
        const unsigned start = static_cast<unsigned>(getpid()) * 7 % 253;
        for (unsigned attempt = 0; attempt < 253; ++attempt) {
            const std::string candidate = "127.0.0." + std::to_string((start + attempt) % 253 + 2);
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int on = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_port = htons(kTcpPort);
            local.sin_addr.s_addr = inet_addr(candidate.c_str());
            if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) {
                holder_ = fd;
                address_ = candidate;
                return true;
            }
            close(fd);
        }
        return false;
    }

    std::string dir_;
    std::string address_;
    int holder_ = -1;
    pid_t pid_ = -1;
};

// The query, a read answered busy and then with its data, and a write after which the peer goes away:
// the frames on the wire are the documented ones byte for byte.
TEST(TcpWire, FramesOnTheWireMatchTheDocumentedBytes) {
    tcpResetProtocolState();
    gSleeps = 0;
    const OsalSleepFunction previous = osal_setSleepFunction(countSleep);

    SocatPeer peer;
    const Bytes tunnel = hex("50 06 05 B0 00 11 22 3F");
    writeFile(peer.path("query-reply"), hex("08 00 08 00 00 00 00 20 00 00 00 00 00 00 00 00 "
                                            "50 00 C5 00 0A BC DE F1") +
                                            tunnel);
    // RESPONSE status 8, then DATA of 4 bytes and RESPONSE status 0.
    const Bytes header24(24, 0x00);
    Bytes busy = header24 + hex("00 00 00 08");
    busy[0] = 0x05;
    Bytes data = header24 + hex("00 00 00 04 78 56 34 12");
    data[0] = 0x04;
    Bytes good = header24 + hex("00 00 00 00");
    good[0] = 0x05;
    writeFile(peer.path("busy"), busy);
    writeFile(peer.path("data"), data + good);
    const int socket = peer.start("dd bs=1 count=12 status=none >> wire && cat query-reply &&\n"
                                  "dd bs=1 count=50 status=none >> wire && cat busy &&\n"
                                  "dd bs=1 count=50 status=none >> wire && cat data &&\n"
                                  "dd bs=1 count=54 status=none >> wire\n");
    ASSERT_GE(socket, 0) << "socat is needed (scripts/install-deps.sh installs it)";

    uint32_t high = 0, low = 0;
    ASSERT_EQ(tcpQuerySasAddress(socket, &high, &low), 0u);
    EXPECT_EQ(high, 0x5000C500u);
    EXPECT_EQ(low, 0x0ABCDEF1u);

    gTransactionID = 7;
    uint8_t word[4] = {};
    ASSERT_EQ(tcpReadBuffer(socket, 0xC2, word, 0xC000004C, 4, tcpTunnelAddress(), 0), 0u);
    EXPECT_EQ(Bytes(word, word + 4), hex("78 56 34 12"));
    EXPECT_EQ(gSleeps, 1u);

    const Bytes value = hex("11 22 33 44");
    EXPECT_EQ(tcpWriteBuffer(socket, 0xC2, value.data(), 0xC00000A0, 4, tcpTunnelAddress(), 0),
              kTcpStatusConnectionLost)
        << "the peer closed instead of answering";
    osal_tcpConnClose(socket);
    ASSERT_TRUE(peer.finish());

    const Bytes query = hex("08 00 08 00 00 00 00 0C 00 00 03 FC");
    const Bytes read = hex("02 07 0A 00 00 00 00 32 00 00 00 36 00 04 93 E0") + tunnel +
                       hex("00 00 00 00 00 00 00 00 00 00 00 0A 00 00 00 04 "
                           "3C 01 C2 C0 00 00 4C 00 04 00");
    const Bytes write = hex("01 08 0A 00 00 00 00 36 00 00 00 36 00 04 93 E0") + tunnel +
                        hex("00 00 00 00 00 00 00 00 00 00 00 0A 00 00 00 04 "
                            "3B 01 C2 C0 00 00 A0 00 04 00 11 22 33 44");
    EXPECT_EQ(readFile(peer.path("wire")), query + read + read + write);
    osal_setSleepFunction(previous);
}

} // namespace
