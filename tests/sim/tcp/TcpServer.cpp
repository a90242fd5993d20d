#include "tcp/TcpServer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zsim {

namespace {

constexpr size_t kQuerySize = 12;
constexpr size_t kRequestHeaderSize = 50;
constexpr size_t kReplyHeaderSize = 28;
constexpr size_t kQueryReplySize = 32;
constexpr uint32_t kLargestRequest = 0x1000000 + kRequestHeaderSize;
constexpr uint8_t kOpReadBuffer = 0x3C;
constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kResetControlBuffer = 0xE9;
constexpr uint8_t kConfigPageBuffer = 0xE6;
constexpr auto kSegmentPause = std::chrono::milliseconds(20);

uint32_t getBe(const uint8_t* in, unsigned bytes) {
    uint32_t value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value = (value << 8) | in[i];
    return value;
}

void putBe(uint8_t* out, uint32_t value, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

TcpBytes replyFrame(uint8_t type, uint8_t transactionId, uint32_t value, const uint8_t* data, size_t size) {
    TcpBytes frame(kReplyHeaderSize + size, 0);
    frame[0] = type;
    frame[1] = transactionId;
    putBe(&frame[4], static_cast<uint32_t>(kReplyHeaderSize + size), 4);
    putBe(&frame[24], value, 4);
    if (size > 0)
        std::copy_n(data, size, frame.begin() + kReplyHeaderSize);
    return frame;
}

TcpBytes responseFrame(uint8_t transactionId, uint32_t status) {
    return replyFrame(kTcpResponseFrame, transactionId, status, nullptr, 0);
}

bool sendAll(int socket, const uint8_t* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(socket, bytes + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void closeWithReset(int socket) {
    const linger abort{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(socket);
}

} // namespace

// What to send for one frame, and how the connection goes on afterwards.
struct TcpServer::Reply {
    enum class End { Keep, Fin, Rst };
    std::vector<TcpBytes> frames;
    End end = End::Keep;
};

TcpServer::TcpServer(Expander& expander) : expander_(expander) {
    const uint64_t tunnel = expander.sasAddress() + 1;
    tunnel_.resize(8);
    for (int i = 0; i < 8; ++i)
        tunnel_[i] = static_cast<uint8_t>(tunnel >> (56 - 8 * i));

    // Tests run side by side in separate processes: each starts its search somewhere else.
    const unsigned start = static_cast<unsigned>(getpid()) % 253;
    for (unsigned attempt = 0; attempt < 253 && listener_ < 0; ++attempt) {
        const std::string address = "127.0.0." + std::to_string((start + attempt) % 253 + 2);
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            break;
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kManagementPort);
        local.sin_addr.s_addr = inet_addr(address.c_str());
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 && listen(fd, 4) == 0) {
            listener_ = fd;
            address_ = address;
        } else {
            close(fd);
        }
    }
    if (listener_ < 0 || pipe2(stopPipe_, O_CLOEXEC) != 0) {
        if (listener_ >= 0)
            close(listener_);
        throw std::runtime_error("the TCP front end found no free loopback address");
    }
    thread_ = std::thread([this] { run(); });
}

TcpServer::~TcpServer() {
    const uint8_t stop = 1;
    (void)!write(stopPipe_[1], &stop, 1);
    thread_.join();
    close(listener_);
    close(stopPipe_[0]);
    close(stopPipe_[1]);
}

void TcpServer::addFault(TcpFault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back(fault);
}

void TcpServer::setResetDrop(TcpResetDrop drop) {
    std::lock_guard<std::mutex> lock(mutex_);
    resetDrop_ = drop;
}

void TcpServer::setTunnelAddress(const TcpBytes& tunnel) {
    std::lock_guard<std::mutex> lock(mutex_);
    tunnel_ = tunnel;
    tunnel_.resize(8);
}

TcpBytes TcpServer::tunnelAddress() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tunnel_;
}

std::vector<TcpReceivedFrame> TcpServer::frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

void TcpServer::clearFrames() {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.clear();
}

std::vector<uint32_t> TcpServer::faultsStruck() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint32_t> struck;
    for (const TcpFault& fault : faults_)
        struck.push_back(fault.struck);
    return struck;
}

void TcpServer::run() {
    for (;;) {
        pollfd watch[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (poll(watch, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watch[1].revents != 0)
            return;
        const int socket = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        ++connections_;
        const int on = 1;
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        serve(socket);
    }
}

// False when the client closed, the connection failed or the server is stopping.
bool TcpServer::receiveExactly(int socket, uint8_t* out, size_t count) {
    while (count > 0) {
        pollfd watch[2] = {{socket, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (poll(watch, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (watch[1].revents != 0)
            return false;
        const ssize_t n = recv(socket, out, count, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

void TcpServer::serve(int socket) {
    for (;;) {
        TcpBytes bytes(kQuerySize);
        if (!receiveExactly(socket, bytes.data(), 1))
            break;
        TcpReceivedFrame frame;
        frame.transactionId = 0;
        Reply reply;
        TcpFault* fault = nullptr;
        if (bytes[0] == kTcpQueryFrame) {
            if (!receiveExactly(socket, bytes.data() + 1, kQuerySize - 1))
                break;
            frame.kind = TcpFrameKind::Query;
            frame.transactionId = bytes[1];
            frame.bytes = bytes;
            std::lock_guard<std::mutex> lock(mutex_);
            frames_.push_back(frame);
            fault = strikingFault(frame);
            reply = answerQuery(frame);
        } else if (bytes[0] == kTcpReadFrame || bytes[0] == kTcpWriteFrame) {
            bytes.resize(kRequestHeaderSize);
            if (!receiveExactly(socket, bytes.data() + 1, kRequestHeaderSize - 1))
                break;
            // The frame is as long as its bytes-sent field says.
            const uint32_t sent = getBe(&bytes[4], 4);
            if (sent < kRequestHeaderSize || sent > kLargestRequest)
                break;
            const TcpBytes header = bytes;
            bytes.resize(sent);
            if (!receiveExactly(socket, bytes.data() + kRequestHeaderSize, sent - kRequestHeaderSize))
                break;
            frame.kind = bytes[0] == kTcpReadFrame ? TcpFrameKind::Read : TcpFrameKind::Write;
            frame.transactionId = bytes[1];
            frame.bytes = bytes;
            const uint8_t* cdb = &bytes[40];
            frame.mode = cdb[1];
            frame.bufferId = cdb[2];
            if (frame.mode == 1) {
                frame.offset = getBe(cdb + 3, 4);
                frame.length = getBe(cdb + 7, 2);
            } else {
                frame.offset = getBe(cdb + 3, 3);
                frame.length = getBe(cdb + 6, 3);
            }
            frame.data.assign(bytes.begin() + kRequestHeaderSize, bytes.end());
            std::lock_guard<std::mutex> lock(mutex_);
            frames_.push_back(frame);
            fault = strikingFault(frame);
            reply = answerRequest(frame, header, fault);
        } else {
            // A frame of no known type has no known length: the stream cannot be followed.
            break;
        }
        if (!sendReply(socket, reply, fault))
            return;
    }
    close(socket);
}

TcpFault* TcpServer::strikingFault(const TcpReceivedFrame& frame) {
    TcpFault* striking = nullptr;
    for (TcpFault& fault : faults_) {
        const TcpFaultMatch& m = fault.match;
        const bool request = frame.kind != TcpFrameKind::Query;
        if ((m.frame != TcpFrameKind::Any && m.frame != frame.kind) ||
            (m.bufferId && (!request || *m.bufferId != frame.bufferId)) ||
            (m.offset && (!request || *m.offset != frame.offset)))
            continue;
        ++fault.seen;
        if (striking == nullptr && fault.seen > fault.skip &&
            (fault.count == 0 || fault.struck < fault.count)) {
            ++fault.struck;
            striking = &fault;
        }
    }
    return striking;
}

TcpServer::Reply TcpServer::answerQuery(const TcpReceivedFrame& frame) {
    Reply reply;
    const TcpBytes expected = {
        kTcpQueryFrame, frame.transactionId, 0x08, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x03, 0xFC};
    if (frame.bytes != expected) {
        reply.end = Reply::End::Fin;
        return reply;
    }
    TcpBytes answer(kQueryReplySize, 0);
    answer[0] = kTcpQueryFrame;
    answer[1] = frame.transactionId;
    answer[2] = 0x08;
    putBe(&answer[4], kQueryReplySize, 4);
    const uint64_t sas = expander_.sasAddress();
    putBe(&answer[16], static_cast<uint32_t>(sas >> 32), 4);
    putBe(&answer[20], static_cast<uint32_t>(sas), 4);
    std::copy(tunnel_.begin(), tunnel_.end(), answer.begin() + 24);
    reply.frames.push_back(answer);
    return reply;
}

TcpServer::Reply TcpServer::answerRequest(const TcpReceivedFrame& frame, const TcpBytes& header,
                                          TcpFault* fault) {
    Reply reply;
    const uint8_t id = frame.transactionId;
    if (fault != nullptr) {
        switch (fault->kind) {
        case TcpFaultKind::Busy:
            reply.frames.push_back(responseFrame(id, kTcpStatusBusy));
            return reply;
        case TcpFaultKind::Fail:
            reply.frames.push_back(responseFrame(id, fault->argument));
            return reply;
        case TcpFaultKind::CloseFin:
            reply.end = Reply::End::Fin;
            return reply;
        case TcpFaultKind::CloseRst:
            reply.end = Reply::End::Rst;
            return reply;
        default:
            break;
        }
    }

    // The header must describe the frame it opens and carry the tunnel address handed out.
    const bool write = frame.kind == TcpFrameKind::Write;
    const uint32_t dataLength = getBe(&header[36], 4);
    const uint8_t* cdb = &header[40];
    const bool wellFormed =
        header[2] == 0x0A && header[3] == 0 && header[35] == 0x0A &&
        getBe(&header[8], 4) == dataLength + kRequestHeaderSize &&
        getBe(&header[4], 4) == (write ? dataLength + kRequestHeaderSize : kRequestHeaderSize) &&
        getBe(&header[12], 4) == 300000 &&
        std::all_of(&header[24], &header[35], [](uint8_t b) { return b == 0; }) &&
        std::equal(tunnel_.begin(), tunnel_.end(), &header[16]) &&
        cdb[0] == (write ? kOpWriteBuffer : kOpReadBuffer) && cdb[9] == 0 && frame.length == dataLength &&
        (frame.mode == 1 ? frame.bufferId >= 0xC0 && frame.bufferId <= 0xDF
                         : frame.mode == 2 || frame.mode == 3);
    if (!wellFormed) {
        reply.frames.push_back(responseFrame(id, kTcpStatusRefused));
        return reply;
    }

    Outcome outcome = Outcome::Ok;
    if (write) {
        const uint32_t resetsBefore = expander_.chipResets() + expander_.watchdogResets();
        if (frame.mode == 1)
            outcome = expander_.writeMemory(frame.offset, frame.data);
        else if (frame.bufferId == kResetControlBuffer)
            outcome = expander_.resetControl(frame.offset, frame.data);
        else if (frame.bufferId == kConfigPageBuffer)
            outcome = expander_.writePage(static_cast<uint16_t>(frame.offset), frame.data);
        else
            outcome = expander_.writeBuffer(frame.bufferId, frame.offset, frame.data);
        if (expander_.chipResets() + expander_.watchdogResets() != resetsBefore) {
            // The expander restarts: the connection goes without a reply.
            reply.end = resetDrop_ == TcpResetDrop::Fin ? Reply::End::Fin : Reply::End::Rst;
            return reply;
        }
        reply.frames.push_back(
            responseFrame(id, outcome == Outcome::Ok ? kTcpStatusGood : kTcpStatusRefused));
        return reply;
    }

    std::vector<uint8_t> data;
    if (frame.mode == 1) {
        outcome = expander_.readMemory(frame.offset, frame.length, data);
    } else if (frame.mode == 3) {
        uint32_t capacity = 0;
        outcome = expander_.bufferCapacity(frame.bufferId, capacity);
        data = {0x00, static_cast<uint8_t>(capacity >> 16), static_cast<uint8_t>(capacity >> 8),
                static_cast<uint8_t>(capacity)};
        data.resize(std::min<size_t>(data.size(), frame.length));
    } else if (frame.bufferId == kConfigPageBuffer) {
        outcome = expander_.readPage(static_cast<uint16_t>(frame.offset), frame.length, data);
    } else {
        outcome = expander_.readBuffer(frame.bufferId, frame.offset, frame.length, data);
    }
    if (outcome != Outcome::Ok) {
        reply.frames.push_back(responseFrame(id, kTcpStatusRefused));
        return reply;
    }
    if (fault != nullptr && fault->kind == TcpFaultKind::ShortData)
        data.resize(std::min<size_t>(data.size(), fault->argument));
    if (fault != nullptr && fault->kind == TcpFaultKind::Oversize)
        data.insert(data.end(), fault->argument, kTcpResponseFrame); // looks like a frame start if misread
    for (size_t at = 0; at < data.size(); at += kTcpDataChunk) {
        const size_t size = std::min<size_t>(kTcpDataChunk, data.size() - at);
        reply.frames.push_back(
            replyFrame(kTcpDataFrame, id, static_cast<uint32_t>(size), data.data() + at, size));
    }
    reply.frames.push_back(responseFrame(id, kTcpStatusGood));
    return reply;
}

// False when the connection ended.
bool TcpServer::sendReply(int socket, const Reply& reply, const TcpFault* fault) {
    TcpBytes all;
    for (const TcpBytes& frame : reply.frames)
        all.insert(all.end(), frame.begin(), frame.end());
    const TcpFaultKind kind = fault != nullptr ? fault->kind : TcpFaultKind::Busy;
    bool going = true;
    if (fault != nullptr && kind == TcpFaultKind::Silence) {
        // Carried out, never answered.
    } else if (fault != nullptr && kind == TcpFaultKind::Split) {
        const size_t cut = std::min<size_t>(fault->argument, all.size());
        going = sendAll(socket, all.data(), cut);
        std::this_thread::sleep_for(kSegmentPause);
        going = going && sendAll(socket, all.data() + cut, all.size() - cut);
    } else if (fault != nullptr && kind == TcpFaultKind::Coalesce) {
        going = sendAll(socket, all.data(), all.size());
    } else if (fault != nullptr && kind == TcpFaultKind::Truncate) {
        sendAll(socket, all.data(), std::min<size_t>(fault->argument, all.size()));
        std::this_thread::sleep_for(kSegmentPause);
        close(socket);
        return false;
    } else {
        for (const TcpBytes& frame : reply.frames)
            going = going && sendAll(socket, frame.data(), frame.size());
    }
    if (reply.end == Reply::End::Fin || !going) {
        close(socket);
        return false;
    }
    if (reply.end == Reply::End::Rst) {
        closeWithReset(socket);
        return false;
    }
    return true;
}

} // namespace zsim
