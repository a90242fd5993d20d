#include "osal/osalTcp.h"

#include "osal/osalTime.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

uint8_t gTransactionID = 0;

namespace {

constexpr const char* kModule = "zelkor_ial_TCP";
constexpr uint32_t kQueryCode = 0x000003FC;
constexpr uint8_t kHeaderCode = 0x0A;
constexpr uint8_t kOpReadBuffer = 0x3C;
constexpr uint8_t kOpWriteBuffer = 0x3B;

// The reply of the SAS-address query and the tunnel address it brought.
uint8_t sTcpIofCommBuffer[kTcpCommBufferSize];
uint8_t sSsptSasAddr[kTcpTunnelAddressSize];

void putBe(uint8_t* out, uint32_t value, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

uint32_t getBe32(const uint8_t* in) {
    return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

void logFailure(const char* function, const char* step) {
    zelkor_messageLog(kModule, function, ZELKOR_LOG_TCP, ZELKOR_LOG_ERROR, 1, "%s **** FAILED ****", step);
}

bool sendAll(int socket, const void* data, size_t length) {
    uint32_t sent = 0;
    return osal_tcpConnWrite(socket, data, static_cast<uint32_t>(length), &sent) == 0 && sent == length;
}

// Finishes a connect that a signal interrupted: the attempt goes on in the kernel.
bool awaitConnected(int socket) {
    pollfd watch{socket, POLLOUT, 0};
    int ready;
    do
        ready = poll(&watch, 1, -1);
    while (ready < 0 && errno == EINTR);
    int error = 0;
    socklen_t size = sizeof error;
    return ready == 1 && getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// One request frame (header, and for a write the data), kept for resending.
class Request {
  public:
    // Builds the request (taking a transaction id) and sends it: 0, 5 for bad arguments, 6 when memory
    // runs out, 1 when the send fails.
    ZELKOR_STATUS issue(int socket, uint8_t frameType, uint8_t bufferId, const uint8_t* data, uint32_t offset,
                        uint32_t length, const uint8_t* tunnelAddress, uint8_t descriptorFlag) {
        if (data == nullptr || tunnelAddress == nullptr || length == 0)
            return 5;
        const bool write = frameType == kTcpFrameWrite;
        uint8_t cdb[kTcpCdbSize];
        if (!tcpPrepareCdb(cdb, write ? kOpWriteBuffer : kOpReadBuffer, bufferId, offset, length,
                           descriptorFlag))
            return 5;
        size_ = sizeof(TCP_REQUEST_HEADER) + (write ? length : 0);
        frame_.reset(new (std::nothrow) uint8_t[size_]);
        if (frame_ == nullptr)
            return 6;
        TCP_REQUEST_HEADER header;
        tcpBuildRequestHeader(header, frameType, gTransactionID++, length, tunnelAddress, cdb);
        std::memcpy(frame_.get(), &header, sizeof header);
        if (write)
            std::memcpy(frame_.get() + sizeof header, data, length);
        if (!send(socket)) {
            logFailure(write ? "tcpWriteBuffer" : "tcpReadBuffer", "Sending the request");
            return 1;
        }
        return 0;
    }

    bool send(int socket) const { return sendAll(socket, frame_.get(), size_); }

    // Gives the frame the next transaction id.
    void renumber() { frame_[offsetof(TCP_REQUEST_HEADER, transactionId)] = gTransactionID++; }

  private:
    std::unique_ptr<uint8_t[]> frame_;
    size_t size_ = 0;
};

// Reassembles the reply frames of one exchange from the byte stream. A frame is handed on only when
// it is complete; bytes after it stay for the next frame. DATA bytes go to the caller's room as they
// arrive; those beyond the room are consumed and dropped so that framing holds.
class ReplyStream {
  public:
    enum class Kind { Data, Response, Unknown, Lost };
    struct Event {
        Kind kind;
        uint32_t value; // RESPONSE status, or the bytes a DATA frame delivered
    };

    ReplyStream(int socket, uint8_t* room, uint32_t roomSize)
        : socket_(socket), room_(room), roomSize_(roomSize) {}

    Event next() {
        for (;;) {
            const uint8_t* frame = buffer_ + start_;
            const size_t arrived = end_ - start_;
            if (inData_) {
                const uint32_t take = static_cast<uint32_t>(std::min<size_t>(dataLeft_, arrived));
                const uint32_t copy = std::min(take, roomSize_ - delivered_);
                if (copy > 0)
                    std::memcpy(room_ + delivered_, frame, copy);
                delivered_ += copy;
                frameDelivered_ += copy;
                dataLeft_ -= take;
                start_ += take;
                if (dataLeft_ == 0) {
                    inData_ = false;
                    return {Kind::Data, frameDelivered_};
                }
            } else if (arrived > 0) {
                uint32_t value = 0;
                if (frame[0] == kTcpFrameData) {
                    if (tcpParseDataHeader(frame, arrived, &value)) {
                        start_ += kTcpReplyHeaderSize;
                        inData_ = sawData_ = true;
                        dataLeft_ = value;
                        frameDelivered_ = 0;
                        continue;
                    }
                } else if (frame[0] == kTcpFrameResponse) {
                    if (tcpParseResponse(frame, arrived, &value)) {
                        start_ += kTcpReplyHeaderSize;
                        return {Kind::Response, value};
                    }
                } else {
                    // A frame of unknown type has no known length: drop what arrived with it.
                    start_ = end_ = 0;
                    return {Kind::Unknown, frame[0]};
                }
            }
            if (!receive())
                return {Kind::Lost, 0};
        }
    }

    uint32_t delivered() const { return delivered_; }
    bool sawData() const { return sawData_; }
    // True while part of a frame is held that has not completed.
    bool holdsPartialFrame() const { return inData_ || start_ < end_; }

  private:
    // Appends one receive to what is held; false when it fails or the peer closed.
    bool receive() {
        if (start_ > 0) {
            std::memmove(buffer_, buffer_ + start_, end_ - start_);
            end_ -= start_;
            start_ = 0;
        }
        uint32_t got = 0;
        if (osal_tcpConnRead(socket_, buffer_ + end_, static_cast<uint32_t>(sizeof buffer_ - end_), &got) !=
                0 ||
            got == 0)
            return false;
        end_ += got;
        return true;
    }

    int socket_;
    uint8_t* room_;
    uint32_t roomSize_;
    uint32_t delivered_ = 0;
    uint8_t buffer_[kTcpReceiveChunk];
    size_t start_ = 0;
    size_t end_ = 0;
    bool inData_ = false;
    bool sawData_ = false;
    uint32_t dataLeft_ = 0;
    uint32_t frameDelivered_ = 0;
};

// Waits, then sends the request again (with a new transaction id when asked); false once the resends
// are used up or the send fails.
bool resendAfterWait(const char* function, int socket, Request& request, uint32_t& resends, bool renumber) {
    if (++resends > kTcpBusyRetries) {
        logFailure(function, "Request still busy after the last resend");
        return false;
    }
    osal_sleepMs(kTcpBusyWaitMs);
    if (renumber)
        request.renumber();
    if (!request.send(socket)) {
        logFailure(function, "Resending the request");
        return false;
    }
    return true;
}

bool tooManyIdleFrames(const char* function, uint32_t& idle) {
    if (++idle <= kTcpMaxIdleFrames)
        return false;
    logFailure(function, "Too many frames without progress");
    return true;
}

} // namespace

int osal_tcpConnOpen(const char* address) {
    if (address == nullptr)
        return -1;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(kTcpPort);
    peer.sin_addr.s_addr = inet_addr(address);
    if (peer.sin_addr.s_addr == INADDR_NONE)
        return -1;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return -1;
    bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    if (!connected && errno == EINTR)
        connected = awaitConnected(fd);
    const timeval timeout{static_cast<time_t>(kTcpReceiveTimeoutSeconds), 0};
    if (!connected || setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int osal_tcpConnWrite(int socket, const void* data, uint32_t length, uint32_t* sent) {
    uint32_t done = 0;
    if (sent != nullptr)
        *sent = 0;
    if (length > 0 && data == nullptr)
        return -1;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (done < length) {
        // MSG_NOSIGNAL: a peer that went away gives EPIPE, never SIGPIPE.
        const ssize_t n = send(socket, bytes + done, length - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += static_cast<uint32_t>(n);
        if (sent != nullptr)
            *sent = done;
    }
    return 0;
}

int osal_tcpConnRead(int socket, void* buffer, uint32_t length, uint32_t* received) {
    if (received != nullptr)
        *received = 0;
    if (buffer == nullptr || received == nullptr)
        return kTcpReadFailed;
    ssize_t n;
    do
        n = recv(socket, buffer, length, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == ECONNRESET ? kTcpReadReset : kTcpReadFailed;
    *received = static_cast<uint32_t>(n);
    return 0;
}

int osal_tcpConnClose(int socket) {
    if (socket >= 0)
        close(socket);
    return 0;
}

bool tcpPrepareCdb(uint8_t (&cdb)[kTcpCdbSize], uint8_t operation, uint8_t bufferId, uint32_t offset,
                   uint32_t length, uint8_t descriptorFlag) {
    std::memset(cdb, 0, sizeof cdb);
    // Registers and memory take a 32-bit address and a 16-bit length; every other buffer a 24-bit
    // offset and a 24-bit length. A value that does not fit is refused rather than cut short.
    const bool registers = bufferId >= 0xC0 && bufferId <= 0xDF;
    if (registers ? length > 0xFFFF : (offset > 0xFFFFFF || length > 0xFFFFFF))
        return false;
    cdb[0] = operation;
    cdb[2] = bufferId;
    if (registers) {
        cdb[1] = 1;
        putBe(cdb + 3, offset, 4);
        putBe(cdb + 7, length, 2);
    } else {
        cdb[1] = descriptorFlag == 1 && (bufferId == 0 || bufferId >= 0xE0) ? 3 : 2;
        putBe(cdb + 3, offset, 3);
        putBe(cdb + 6, length, 3);
    }
    return true;
}

void tcpBuildSasAddressQuery(TCP_SAS_ADDRESS_QUERY& query, uint8_t transactionId) {
    query = {};
    query.frameType = kTcpFrameQuery;
    query.transactionId = transactionId;
    query.headerCode = 0x08;
    putBe(query.frameLength, sizeof query, 4);
    putBe(query.queryCode, kQueryCode, 4);
}

void tcpBuildRequestHeader(TCP_REQUEST_HEADER& header, uint8_t frameType, uint8_t transactionId,
                           uint32_t dataLength, const uint8_t* tunnelAddress,
                           const uint8_t (&cdb)[kTcpCdbSize]) {
    header = {};
    const uint32_t total = dataLength + static_cast<uint32_t>(sizeof header);
    header.frameType = frameType;
    header.transactionId = transactionId;
    header.headerCode = kHeaderCode;
    putBe(header.bytesSent, frameType == kTcpFrameWrite ? total : static_cast<uint32_t>(sizeof header), 4);
    putBe(header.totalLength, total, 4);
    putBe(header.timeout, kTcpRequestTimeoutMs, 4);
    if (tunnelAddress != nullptr)
        std::memcpy(header.tunnelAddress, tunnelAddress, kTcpTunnelAddressSize);
    header.cdbLength = kHeaderCode;
    putBe(header.dataLength, dataLength, 4);
    std::memcpy(header.cdb, cdb, kTcpCdbSize);
}

bool tcpParseSasAddressReply(const uint8_t* reply, size_t arrived, uint32_t* sasHigh, uint32_t* sasLow,
                             uint8_t (&tunnelAddress)[kTcpTunnelAddressSize]) {
    if (reply == nullptr || arrived < kTcpSasAddressReplySize)
        return false;
    *sasHigh = getBe32(reply + 16);
    *sasLow = getBe32(reply + 20);
    std::memcpy(tunnelAddress, reply + 24, kTcpTunnelAddressSize);
    return true;
}

bool tcpParseDataHeader(const uint8_t* frame, size_t arrived, uint32_t* dataLength) {
    if (frame == nullptr || arrived < kTcpReplyHeaderSize || frame[0] != kTcpFrameData)
        return false;
    *dataLength = getBe32(frame + 24);
    return true;
}

bool tcpParseResponse(const uint8_t* frame, size_t arrived, uint32_t* status) {
    if (frame == nullptr || arrived < kTcpReplyHeaderSize || frame[0] != kTcpFrameResponse)
        return false;
    *status = getBe32(frame + 24);
    return true;
}

ZELKOR_STATUS tcpQuerySasAddress(int socket, uint32_t* sasHigh, uint32_t* sasLow) {
    if (sasHigh == nullptr || sasLow == nullptr)
        return 5;
    TCP_SAS_ADDRESS_QUERY query;
    tcpBuildSasAddressQuery(query, gTransactionID++);
    if (!sendAll(socket, &query, sizeof query)) {
        logFailure(__func__, "Sending the SAS address query");
        return 1;
    }
    // Gather the reply until its fields are all there; a reply cut short is a failure.
    std::memset(sTcpIofCommBuffer, 0, sizeof sTcpIofCommBuffer);
    size_t arrived = 0;
    while (arrived < kTcpSasAddressReplySize) {
        uint32_t got = 0;
        if (osal_tcpConnRead(socket, sTcpIofCommBuffer + arrived,
                             static_cast<uint32_t>(sizeof sTcpIofCommBuffer - arrived), &got) != 0 ||
            got == 0) {
            logFailure(__func__, "Receiving the SAS address reply");
            return 1;
        }
        arrived += got;
    }
    uint8_t tunnel[kTcpTunnelAddressSize];
    if (!tcpParseSasAddressReply(sTcpIofCommBuffer, arrived, sasHigh, sasLow, tunnel))
        return 1;
    std::memcpy(sSsptSasAddr, tunnel, sizeof tunnel);
    return 0;
}

const uint8_t* tcpTunnelAddress() {
    return sSsptSasAddr;
}

ZELKOR_STATUS tcpReadBuffer(int socket, uint8_t bufferId, uint8_t* data, uint32_t offset, uint32_t length,
                            const uint8_t* tunnelAddress, uint8_t descriptorFlag) {
    Request request;
    const ZELKOR_STATUS issued =
        request.issue(socket, kTcpFrameRead, bufferId, data, offset, length, tunnelAddress, descriptorFlag);
    if (issued != 0)
        return issued;
    ReplyStream replies(socket, data, length);
    uint32_t resends = 0;
    uint32_t idle = 0;
    bool failed = false;
    for (bool done = false; !done;) {
        const ReplyStream::Event event = replies.next();
        switch (event.kind) {
        case ReplyStream::Kind::Lost:
            // Whatever frame was under way when the connection failed never completed.
            failed = replies.holdsPartialFrame();
            done = true;
            break;
        case ReplyStream::Kind::Data:
            done = failed = event.value == 0 && tooManyIdleFrames(__func__, idle);
            break;
        case ReplyStream::Kind::Response:
            if (event.value != kTcpResponseBusy) {
                failed = event.value != kTcpResponseSuccess;
                done = true;
                break;
            }
            [[fallthrough]];
        case ReplyStream::Kind::Unknown:
            // Until data flows the same request (same transaction id) is sent again; afterwards the
            // data that is coming is awaited.
            if (!replies.sawData())
                done = failed = !resendAfterWait(__func__, socket, request, resends, false);
            else
                done = failed = tooManyIdleFrames(__func__, idle);
            break;
        }
    }
    if (failed || replies.delivered() < length) {
        logFailure(__func__, "Reading the buffer");
        return 1;
    }
    return 0;
}

ZELKOR_STATUS tcpWriteBuffer(int socket, uint8_t bufferId, const uint8_t* data, uint32_t offset,
                             uint32_t length, const uint8_t* tunnelAddress, uint8_t descriptorFlag) {
    Request request;
    const ZELKOR_STATUS issued =
        request.issue(socket, kTcpFrameWrite, bufferId, data, offset, length, tunnelAddress, descriptorFlag);
    if (issued != 0)
        return issued;
    ReplyStream replies(socket, nullptr, 0);
    uint32_t resends = 0;
    uint32_t idle = 0;
    for (;;) {
        const ReplyStream::Event event = replies.next();
        switch (event.kind) {
        case ReplyStream::Kind::Lost:
            // The expander drops the connection after a reset request; the caller judges this.
            return kTcpStatusConnectionLost;
        case ReplyStream::Kind::Data:
            if (tooManyIdleFrames(__func__, idle))
                return 1;
            break;
        case ReplyStream::Kind::Response:
            if (event.value == kTcpResponseSuccess)
                return 0;
            if (event.value != kTcpResponseBusy) {
                logFailure(__func__, "Writing the buffer");
                return 1;
            }
            [[fallthrough]];
        case ReplyStream::Kind::Unknown:
            if (replies.sawData() ? tooManyIdleFrames(__func__, idle)
                                  : !resendAfterWait(__func__, socket, request, resends, true))
                return 1;
            break;
        }
    }
}

void tcpResetProtocolState() {
    gTransactionID = 0;
    std::memset(sSsptSasAddr, 0, sizeof sSsptSasAddr);
    std::memset(sTcpIofCommBuffer, 0, sizeof sTcpIofCommBuffer);
}
