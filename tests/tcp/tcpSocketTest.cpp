// The socket layer against loopback peers.
#include "tcpFixture.h"

#include <csignal>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace {

using TcpSocket = TcpPeerTest;

TEST_F(TcpSocket, OpensWithCloseOnExecAndTheFortySecondReceiveTimeout) {
    peer_ = std::make_unique<ScriptedPeer>(std::vector<PeerStep>{});
    socket_ = osal_tcpConnOpen(peer_->address().c_str());
    ASSERT_GE(socket_, 0);
    EXPECT_TRUE(fcntl(socket_, F_GETFD) & FD_CLOEXEC);
    timeval timeout{};
    socklen_t size = sizeof timeout;
    ASSERT_EQ(getsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, &size), 0);
    EXPECT_EQ(timeout.tv_sec, 40);
    EXPECT_EQ(timeout.tv_usec, 0);
}

TEST_F(TcpSocket, RefusesBadAddressesAndRefusedConnections) {
    EXPECT_EQ(osal_tcpConnOpen(nullptr), -1);
    EXPECT_EQ(osal_tcpConnOpen("not an address"), -1);
    // A bound socket that does not listen answers a connection with a reset.
    const int reserved = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(reserved, 0);
    std::string address;
    for (unsigned attempt = 0; attempt < 64 && address.empty(); ++attempt) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kTcpPort);
        local.sin_addr.s_addr = inet_addr(testLoopbackAddress(attempt).c_str());
        if (bind(reserved, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)
            address = testLoopbackAddress(attempt);
    }
    ASSERT_FALSE(address.empty());
    EXPECT_EQ(osal_tcpConnOpen(address.c_str()), -1);
    close(reserved);
}

TEST_F(TcpSocket, ReadReportsCloseAsZeroBytesAndResetAsItsOwnCode) {
    start({closeFin()});
    uint8_t buffer[16];
    uint32_t received = 99;
    EXPECT_EQ(osal_tcpConnRead(socket_, buffer, sizeof buffer, &received), 0);
    EXPECT_EQ(received, 0u);
    finish();

    start({closeRst()});
    EXPECT_EQ(osal_tcpConnRead(socket_, buffer, sizeof buffer, &received), kTcpReadReset);
    finish();
}

TEST_F(TcpSocket, ReadTimesOutAsFailure) {
    start({});
    setReceiveTimeout(50);
    uint8_t buffer[4];
    uint32_t received = 99;
    EXPECT_EQ(osal_tcpConnRead(socket_, buffer, sizeof buffer, &received), kTcpReadFailed);
    EXPECT_EQ(received, 0u);
}

TEST_F(TcpSocket, WriteSendsEverythingAndNothingForZeroLength) {
    start({expect(3000)});
    Bytes data(3000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    uint32_t sent = 99;
    EXPECT_EQ(osal_tcpConnWrite(socket_, data.data(), 0, &sent), 0);
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(osal_tcpConnWrite(socket_, data.data(), static_cast<uint32_t>(data.size()), &sent), 0);
    EXPECT_EQ(sent, data.size());
    EXPECT_EQ(finish(), data);
    EXPECT_EQ(osal_tcpConnClose(-1), 0);
}

TEST_F(TcpSocket, WritingToAGonePeerFailsWithoutSigpipe) {
    // With the default disposition a SIGPIPE would end this test process.
    struct sigaction keep {};
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &standard, &keep);

    start({closeFin()});
    uint8_t byte[1];
    uint32_t received = 99;
    ASSERT_EQ(osal_tcpConnRead(socket_, byte, sizeof byte, &received), 0);
    ASSERT_EQ(received, 0u) << "the peer has closed";
    // The first send goes out and draws the peer's reset; it may well succeed, as the reset is not in yet.
    const Bytes data(64, 0x5A);
    uint32_t sent = 0;
    osal_tcpConnWrite(socket_, data.data(), static_cast<uint32_t>(data.size()), &sent);
    // Only once the reset is in must a send fail: it reports the reset as a broken pipe, and so does every
    // send after it. The wait is for that event, not for a span of time.
    pollfd reset{socket_, 0, 0};
    ASSERT_EQ(poll(&reset, 1, 10000), 1) << "the reset never came";
    ASSERT_NE(reset.revents & (POLLERR | POLLHUP), 0);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("send " + std::to_string(i + 2));
        EXPECT_NE(osal_tcpConnWrite(socket_, data.data(), static_cast<uint32_t>(data.size()), &sent), 0);
    }
    const uint8_t tunnel[kTcpTunnelAddressSize] = {};
    EXPECT_NE(tcpWriteBuffer(socket_, 0xC2, data.data(), 0xC0000000, 4, tunnel, 0), 0u);
    finish();
    sigaction(SIGPIPE, &keep, nullptr);
}

} // namespace
