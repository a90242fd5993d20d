#include "scriptedPeer.h"

#include "osal/osalTcp.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

PeerStep expect(size_t count) {
    return {PeerStep::Expect, count, {}};
}
PeerStep send(Bytes bytes) {
    return {PeerStep::Send, 0, std::move(bytes)};
}
PeerStep sendWhenDrained(Bytes bytes) {
    return {PeerStep::SendWhenDrained, 0, std::move(bytes)};
}
PeerStep answerEach(size_t count, Bytes bytes) {
    return {PeerStep::AnswerEach, count, std::move(bytes)};
}
PeerStep closeFin() {
    return {PeerStep::CloseFin, 0, {}};
}
PeerStep closeRst() {
    return {PeerStep::CloseRst, 0, {}};
}

std::string testLoopbackAddress(unsigned attempt) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    uint32_t hash = 2166136261u;
    for (char c : name)
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    hash += attempt;
    return "127.0.0." + std::to_string(hash % 253 + 2);
}

namespace {

bool sendAllBytes(int socket, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

ScriptedPeer::ScriptedPeer(std::vector<PeerStep> steps) : steps_(std::move(steps)) {
    for (unsigned attempt = 0; attempt < 64 && listener_ < 0; ++attempt) {
        const std::string address = testLoopbackAddress(attempt);
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kTcpPort);
        local.sin_addr.s_addr = inet_addr(address.c_str());
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 && listen(fd, 1) == 0) {
            listener_ = fd;
            address_ = address;
        } else {
            close(fd);
        }
    }
    if (listener_ < 0)
        throw std::runtime_error("no loopback address free for the scripted peer");
    thread_ = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer() {
    if (thread_.joinable())
        thread_.join();
    close(listener_);
}

Bytes ScriptedPeer::finish() {
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool ScriptedPeer::receiveExactly(int socket, size_t count) {
    uint8_t chunk[4096];
    while (count > 0) {
        const ssize_t n = recv(socket, chunk, std::min(count, sizeof chunk), 0);
        if (n <= 0)
            return false;
        std::lock_guard<std::mutex> lock(mutex_);
        received_.insert(received_.end(), chunk, chunk + n);
        count -= static_cast<size_t>(n);
    }
    return true;
}

void ScriptedPeer::run() {
    pollfd watch{listener_, POLLIN, 0};
    if (poll(&watch, 1, 10000) != 1)
        return;
    int socket = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0)
        return;
    // A guard so that a test whose client misbehaves ends instead of hanging.
    const timeval guard{10, 0};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, 1 /* TCP_NODELAY */, &on, sizeof on);

    bool going = true;
    for (const PeerStep& step : steps_) {
        if (!going)
            break;
        switch (step.kind) {
        case PeerStep::Expect:
            going = receiveExactly(socket, step.count);
            break;
        case PeerStep::SendWhenDrained: {
            // The client has taken what came before once its receive queue is empty.
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            int queued = 1;
            while (client_ >= 0 && ioctl(client_, FIONREAD, &queued) == 0 && queued > 0 &&
                   std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            going = sendAllBytes(socket, step.bytes);
            break;
        }
        case PeerStep::Send:
            going = sendAllBytes(socket, step.bytes);
            break;
        case PeerStep::AnswerEach:
            while (receiveExactly(socket, step.count) && sendAllBytes(socket, step.bytes)) {
            }
            going = false;
            break;
        case PeerStep::CloseRst: {
            const linger abort{1, 0};
            setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            close(socket);
            return;
        }
        case PeerStep::CloseFin:
            close(socket);
            return;
        }
    }
    // Record whatever else the client sends until it closes.
    while (receiveExactly(socket, 1)) {
    }
    close(socket);
}
