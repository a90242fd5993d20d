// A scripted expander on a loopback address: accepts one connection on the management port, performs
// its steps in order, answers with the byte sequences it was given and records every byte it
// receives until the client closes.
#ifndef TESTS_TCP_SCRIPTED_PEER_H
#define TESTS_TCP_SCRIPTED_PEER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct PeerStep {
    enum Kind {
        Expect,          // receive exactly count bytes
        Send,            // send bytes
        SendWhenDrained, // send bytes once the client has taken everything sent before
        AnswerEach,      // until the client closes: receive count bytes, answer bytes
        CloseFin,        // close normally
        CloseRst,        // close with a reset (linger 0)
    };
    Kind kind;
    size_t count = 0;
    Bytes bytes;
};

PeerStep expect(size_t count);
PeerStep send(Bytes bytes);
PeerStep sendWhenDrained(Bytes bytes);
PeerStep answerEach(size_t count, Bytes bytes);
PeerStep closeFin();
PeerStep closeRst();

// A loopback address (127.0.0.x, never .1) derived from the running test's name, so that tests running side
// by side on the fixed port do not meet.
std::string testLoopbackAddress(unsigned attempt);

class ScriptedPeer {
  public:
    explicit ScriptedPeer(std::vector<PeerStep> steps);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    const std::string& address() const { return address_; }
    // The client's socket: SendWhenDrained watches its receive queue.
    void watchClient(int socket) { client_ = socket; }
    // Waits until the peer is done (the client must have closed) and returns what it received.
    Bytes finish();

  private:
    void run();
    bool receiveExactly(int socket, size_t count);

    std::vector<PeerStep> steps_;
    std::string address_;
    int listener_ = -1;
    std::atomic<int> client_{-1};
    std::mutex mutex_;
    Bytes received_;
    std::thread thread_;
};

#endif
