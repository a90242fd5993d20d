// Shared fixture of the connection tests: fresh protocol state, a counting sleep in place of the real
// one, a scripted peer and the product's socket connected to it.
#ifndef TESTS_TCP_FIXTURE_H
#define TESTS_TCP_FIXTURE_H

#include "osal/osalTcp.h"
#include "osal/osalTime.h"
#include "scriptedPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include <sys/socket.h>
#include <sys/time.h>

inline uint32_t gSleepCalls = 0;
inline uint64_t gSleptMs = 0;

inline void countingSleep(uint32_t milliseconds) {
    ++gSleepCalls;
    gSleptMs += milliseconds;
}

class TcpPeerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tcpResetProtocolState();
        gSleepCalls = 0;
        gSleptMs = 0;
        previousSleep_ = osal_setSleepFunction(countingSleep);
    }

    void TearDown() override {
        disconnect();
        peer_.reset();
        osal_setSleepFunction(previousSleep_);
    }

    // Starts the peer and connects the product to it.
    int start(std::vector<PeerStep> steps) {
        peer_ = std::make_unique<ScriptedPeer>(std::move(steps));
        socket_ = osal_tcpConnOpen(peer_->address().c_str());
        EXPECT_GE(socket_, 0);
        peer_->watchClient(socket_);
        // The product waits 40 s for a reply; a faulty exchange should fail the test sooner.
        setReceiveTimeout(5000);
        return socket_;
    }

    void setReceiveTimeout(long milliseconds) {
        const timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
        ASSERT_EQ(setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout), 0);
    }

    void disconnect() {
        osal_tcpConnClose(socket_);
        socket_ = -1;
    }

    // Closes the product's side and returns every byte the peer received.
    Bytes finish() {
        disconnect();
        return peer_->finish();
    }

    int socket_ = -1;
    std::unique_ptr<ScriptedPeer> peer_;

  private:
    OsalSleepFunction previousSleep_ = nullptr;
};

// Reply frames as an expander sends them.
inline Bytes dataFrame(const Bytes& data, uint32_t announced) {
    Bytes frame(kTcpReplyHeaderSize + data.size(), 0);
    frame[0] = kTcpFrameData;
    for (int i = 0; i < 4; ++i)
        frame[24 + i] = static_cast<uint8_t>(announced >> (24 - 8 * i));
    std::copy(data.begin(), data.end(), frame.begin() + kTcpReplyHeaderSize);
    return frame;
}
inline Bytes dataFrame(const Bytes& data) {
    return dataFrame(data, static_cast<uint32_t>(data.size()));
}

inline Bytes responseFrame(uint32_t status) {
    Bytes frame(kTcpReplyHeaderSize, 0);
    frame[0] = kTcpFrameResponse;
    for (int i = 0; i < 4; ++i)
        frame[24 + i] = static_cast<uint8_t>(status >> (24 - 8 * i));
    return frame;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes repeated(const Bytes& frame, size_t times) {
    Bytes out;
    for (size_t i = 0; i < times; ++i)
        out = out + frame;
    return out;
}

#endif
