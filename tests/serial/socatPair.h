// A pseudo-terminal pair made by socat: the product opens one end as its serial port, the test holds the
// other end raw. Each test gets a pair of its own in a fresh directory.
#ifndef TESTS_SERIAL_SOCAT_PAIR_H
#define TESTS_SERIAL_SOCAT_PAIR_H

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

class SocatPair {
  public:
    SocatPair();
    ~SocatPair();
    SocatPair(const SocatPair&) = delete;
    SocatPair& operator=(const SocatPair&) = delete;

    bool ready() const { return peer_ >= 0; }
    // The end the product opens.
    const std::string& productPath() const { return productPath_; }
    int peer() const { return peer_; }

    void send(const std::vector<uint8_t>& bytes) const;
    // Reads exactly count bytes from the peer end, waiting at most about five seconds.
    std::vector<uint8_t> receive(size_t count) const;
    // Ends socat: both lines drop.
    void drop();

  private:
    std::string directory_;
    std::string productPath_;
    std::string peerPath_;
    pid_t socat_ = -1;
    int peer_ = -1;
};

// Waits until the descriptor holds count unread input bytes (at most about five seconds).
bool waitForQueued(int descriptor, size_t count);

#endif
