// A simulated serial line in a thread of the test: the endpoint (the console persona) on the master side
// of a pseudo-terminal, the product on the slave, which the server keeps open itself so that the product's
// close and reopen never hang the line up. Bytes cross at once or paced at a line rate; a dropped
// endpoint hangs the line up. The endpoint is reached from the test only through inspect().
#ifndef ZSIM_CONSOLE_SERVER_H
#define ZSIM_CONSOLE_SERVER_H

#include "console/LineEndpoint.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace zsim {

class ConsoleServer {
  public:
    // baud 0: bytes cross at once; else each byte takes ten bit times of that rate.
    explicit ConsoleServer(LineEndpoint& endpoint, uint32_t baud = 0);
    ~ConsoleServer();
    ConsoleServer(const ConsoleServer&) = delete;
    ConsoleServer& operator=(const ConsoleServer&) = delete;

    // The slave's path, for the product to open.
    const std::string& path() const { return path_; }
    // The master side: tcgetattr on it shows the speed the product set on the slave.
    int masterDescriptor() const { return master_; }
    // The slave's device number, by which the preload reports the frame the product asked for.
    unsigned long long slaveDevice() const;
    // True while no byte waits in either direction and the endpoint has no timed event due soon: the far
    // end has nothing more to say for now.
    bool idle();

    // Whether the line's frame, as the product set it, is the endpoint's own; while it is not, the
    // product's bytes are dropped unanswered. Unset: always.
    void setFraming(std::function<bool()> matches) {
        std::lock_guard<std::mutex> lock(mutex_);
        framing_ = std::move(matches);
    }

    template <typename F> auto inspect(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(endpoint_);
    }

  private:
    void run();
    void sendPaced(const uint8_t* bytes, size_t count);

    LineEndpoint& endpoint_;
    uint32_t baud_;
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> busy_{false};
    std::function<bool()> framing_;
    UartFrame hostFrame_; // the frame the endpoint was last told of
    std::thread thread_;
};

} // namespace zsim

#endif
