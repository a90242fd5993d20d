#include "osal/osalTime.h"

#include <cerrno>
#include <chrono>
#include <ctime>

#include <poll.h>

namespace {

void realSleepUs(uint32_t microseconds) {
    timespec request{static_cast<time_t>(microseconds / 1000000),
                     static_cast<long>(microseconds % 1000000) * 1000L};
    timespec rest{};
    while (nanosleep(&request, &rest) != 0 && errno == EINTR)
        request = rest;
}

void realSleepMs(uint32_t milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec rest{};
    while (nanosleep(&request, &rest) != 0 && errno == EINTR)
        request = rest;
}

// Exactly one of the two is in use: a replacement given in milliseconds, or one in microseconds.
OsalSleepFunction sSleepMs = realSleepMs;
OsalSleepUsFunction sSleepUs = nullptr;

bool pollForInput(int descriptor, uint32_t tenths) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(tenths * 100U);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - Clock::now()).count();
        const timespec wait{static_cast<time_t>(left > 0 ? left / 1000000000 : 0),
                            static_cast<long>(left > 0 ? left % 1000000000 : 0)};
        pollfd entry{descriptor, POLLIN, 0};
        const int ready = ppoll(&entry, 1, &wait, nullptr);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return true; // a failing poll is left to the read to report
        if (ready == 0 && Clock::now() >= end)
            return false;
    }
}

OsalSilenceWaitFunction sSilenceWait = pollForInput;

} // namespace

void osal_sleepMs(uint32_t milliseconds) {
    if (sSleepUs != nullptr)
        sSleepUs(milliseconds * 1000U);
    else
        sSleepMs(milliseconds);
}

void osal_sleepUs(uint32_t microseconds) {
    if (sSleepUs != nullptr)
        sSleepUs(microseconds);
    else if (sSleepMs == realSleepMs)
        realSleepUs(microseconds);
    else
        sSleepMs((microseconds + 999U) / 1000U);
}

OsalSleepFunction osal_setSleepFunction(OsalSleepFunction function) {
    const OsalSleepFunction previous = sSleepUs != nullptr ? nullptr : sSleepMs;
    sSleepUs = nullptr;
    sSleepMs = function != nullptr ? function : realSleepMs;
    return previous;
}

OsalSleepUsFunction osal_setSleepUsFunction(OsalSleepUsFunction function) {
    const OsalSleepUsFunction previous = sSleepUs;
    sSleepMs = realSleepMs;
    sSleepUs = function;
    return previous;
}

bool osal_waitForInput(int descriptor, uint32_t tenths) { return sSilenceWait(descriptor, tenths); }

OsalSilenceWaitFunction osal_setSilenceWaitFunction(OsalSilenceWaitFunction function) {
    const OsalSilenceWaitFunction previous = sSilenceWait;
    sSilenceWait = function != nullptr ? function : pollForInput;
    return previous;
}
