// The TCP front end of the simulated enclosure: an expander's management port on a loopback address
// (127.0.0.x, port 5574). It decodes the SAS-address query and the read and write requests, carries their
// buffer commands out on the expander model, answers with DATA and RESPONSE frames, records every frame
// it receives, and injects faults into chosen exchanges. It runs in a thread of the test process.
#ifndef ZSIM_TCP_SERVER_H
#define ZSIM_TCP_SERVER_H

#include "model/Expander.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zsim {

using TcpBytes = std::vector<uint8_t>;

inline constexpr uint16_t kManagementPort = 5574;

// Frame types of the protocol.
inline constexpr uint8_t kTcpQueryFrame = 0x08;
inline constexpr uint8_t kTcpWriteFrame = 0x01;
inline constexpr uint8_t kTcpReadFrame = 0x02;
inline constexpr uint8_t kTcpDataFrame = 0x04;
inline constexpr uint8_t kTcpResponseFrame = 0x05;

// RESPONSE statuses the server sends.
inline constexpr uint32_t kTcpStatusGood = 0;
inline constexpr uint32_t kTcpStatusRefused = 2; // malformed request, wrong tunnel address, refused command
inline constexpr uint32_t kTcpStatusBusy = 8;

inline constexpr uint32_t kTcpDataChunk = 1024; // data bytes per DATA frame

enum class TcpFrameKind { Any, Query, Read, Write };

struct TcpFaultMatch {
    TcpFrameKind frame = TcpFrameKind::Any;
    std::optional<uint8_t> bufferId; // requests only
    std::optional<uint32_t> offset;  // expander address or buffer offset, as decoded
};

enum class TcpFaultKind {
    Busy,      // RESPONSE status 8; the request is not carried out
    Fail,      // RESPONSE with status `argument`; not carried out
    Split,     // carried out; the reply goes out in two segments cut at byte `argument`
    Coalesce,  // carried out; all frames of the reply in one segment (else one segment per frame)
    Truncate,  // carried out; only the first `argument` reply bytes go out, then the connection closes
    ShortData, // carried out; a read delivers only `argument` data bytes, in well-formed frames
    Oversize,  // carried out; a read's DATA frame carries `argument` bytes more than were asked for
    CloseFin,  // the connection is closed instead of carrying the request out
    CloseRst,  // the connection is reset instead of carrying the request out
    Silence,   // carried out, never answered; the connection stays open
};

struct TcpFault {
    TcpFaultMatch match;
    TcpFaultKind kind = TcpFaultKind::Busy;
    uint32_t argument = 0;
    uint32_t skip = 0;  // matching frames let through before the fault strikes
    uint32_t count = 1; // times it strikes; 0 = every time
    uint32_t seen = 0;
    uint32_t struck = 0;
};

// A frame the server received, raw and decoded.
struct TcpReceivedFrame {
    TcpBytes bytes; // the whole frame as it arrived
    TcpFrameKind kind = TcpFrameKind::Any;
    uint8_t transactionId = 0;
    uint8_t bufferId = 0;
    uint8_t mode = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    TcpBytes data; // a write's data
};

// How the expander ends the connection after a chip or watchdog reset request.
enum class TcpResetDrop { Fin, Rst };

class TcpServer {
  public:
    // Listens on the first free 127.0.0.x address from a start derived from the process id.
    explicit TcpServer(Expander& expander);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    const std::string& address() const { return address_; }

    void addFault(TcpFault fault);
    void setResetDrop(TcpResetDrop drop);
    // The tunnel address the query reply hands out and every request must carry (default: the SAS
    // address plus one, big-endian).
    void setTunnelAddress(const TcpBytes& tunnel);
    TcpBytes tunnelAddress() const;

    std::vector<TcpReceivedFrame> frames() const;
    void clearFrames();
    std::vector<uint32_t> faultsStruck() const;
    uint32_t connections() const { return connections_.load(); }

    // Runs f on the expander while the server does not touch it.
    template <typename F> auto inspect(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(expander_);
    }

  private:
    struct Reply;
    void run();
    void serve(int socket);
    bool receiveExactly(int socket, uint8_t* out, size_t count);
    TcpFault* strikingFault(const TcpReceivedFrame& frame);
    Reply answerQuery(const TcpReceivedFrame& frame);
    Reply answerRequest(const TcpReceivedFrame& frame, const TcpBytes& header, TcpFault* fault);
    bool sendReply(int socket, const Reply& reply, const TcpFault* fault);

    Expander& expander_;
    std::string address_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::vector<TcpFault> faults_;
    std::vector<TcpReceivedFrame> frames_;
    TcpBytes tunnel_;
    TcpResetDrop resetDrop_ = TcpResetDrop::Fin;
    std::atomic<uint32_t> connections_{0};
    std::thread thread_;
};

} // namespace zsim

#endif
