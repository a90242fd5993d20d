// The serial layer's silence wait for a product on a console server's pseudo-terminal: silence is reported
// once the server has been idle a while (the kernel hands bytes between the pseudo-terminal's ends with a
// little delay); otherwise the real wait.
#ifndef TESTS_CONSOLE_CONSOLE_SEAM_H
#define TESTS_CONSOLE_CONSOLE_SEAM_H

#include "console/ConsoleServer.h"
#include "osal/osalTime.h"

#include <cstdint>
#include <poll.h>

// The server the wait asks; null: the real wait.
inline zsim::ConsoleServer*& consoleSeamServer() {
    static zsim::ConsoleServer* server = nullptr;
    return server;
}

inline bool consoleSilenceWait(int descriptor, uint32_t tenths) {
    constexpr uint32_t kIdleMs = 30;
    uint32_t idleFor = 0;
    for (uint32_t waited = 0; waited < tenths * 100; waited += 5) {
        pollfd p{descriptor, POLLIN, 0};
        if (::poll(&p, 1, 0) == 1)
            return true;
        zsim::ConsoleServer* server = consoleSeamServer();
        idleFor = server != nullptr && server->idle() ? idleFor + 5 : 0;
        if (idleFor >= kIdleMs)
            return false;
        ::poll(nullptr, 0, 5);
    }
    return false;
}

// While it lives, the product's silence waits ask the server and its sleeps return at once.
class ConsoleSeams {
  public:
    explicit ConsoleSeams(zsim::ConsoleServer& server) {
        consoleSeamServer() = &server;
        previousWait_ = osal_setSilenceWaitFunction(consoleSilenceWait);
        previousSleep_ = osal_setSleepFunction([](uint32_t) {});
    }
    ~ConsoleSeams() {
        osal_setSilenceWaitFunction(previousWait_);
        osal_setSleepFunction(previousSleep_);
        consoleSeamServer() = nullptr;
    }
    ConsoleSeams(const ConsoleSeams&) = delete;
    ConsoleSeams& operator=(const ConsoleSeams&) = delete;

  private:
    OsalSilenceWaitFunction previousWait_ = nullptr;
    OsalSleepFunction previousSleep_ = nullptr;
};

#endif
