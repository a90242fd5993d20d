#include "osal/osalTime.h"

#include <cerrno>
#include <ctime>

namespace {

void realSleep(uint32_t milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec rest{};
    while (nanosleep(&request, &rest) != 0 && errno == EINTR)
        request = rest;
}

OsalSleepFunction sSleep = realSleep;

} // namespace

void osal_sleepMs(uint32_t milliseconds) { sSleep(milliseconds); }

OsalSleepFunction osal_setSleepFunction(OsalSleepFunction function) {
    OsalSleepFunction previous = sSleep;
    sSleep = function != nullptr ? function : realSleep;
    return previous;
}
