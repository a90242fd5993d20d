// The one place where the library waits. Every prescribed sleep goes through osal_sleepMs so that an
// in-process test can replace it; a test of the built binary replaces the libc call underneath.
#ifndef OSAL_TIME_H
#define OSAL_TIME_H

#include <cstdint>

using OsalSleepFunction = void (*)(uint32_t milliseconds);

void osal_sleepMs(uint32_t milliseconds);

// Replaces the sleep for the rest of the process (null restores the real one); returns the previous.
OsalSleepFunction osal_setSleepFunction(OsalSleepFunction function);

#endif
