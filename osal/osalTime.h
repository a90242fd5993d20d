// The one place where the library waits. Every prescribed sleep goes through this seam so that an
// in-process test can replace it; a test of the built binary replaces the libc call underneath.
#ifndef OSAL_TIME_H
#define OSAL_TIME_H

#include <cstdint>

using OsalSleepFunction = void (*)(uint32_t milliseconds);
using OsalSleepUsFunction = void (*)(uint32_t microseconds);

void osal_sleepMs(uint32_t milliseconds);
void osal_sleepUs(uint32_t microseconds);

// Replaces the sleep for the rest of the process (null restores the real one); returns the previous
// millisecond function (null when a microsecond function was in place). While a millisecond function
// is installed, microsecond sleeps reach it rounded up to whole milliseconds.
OsalSleepFunction osal_setSleepFunction(OsalSleepFunction function);
// The same seam with microsecond resolution; returns the previous microsecond function (null when a
// millisecond function was in place).
OsalSleepUsFunction osal_setSleepUsFunction(OsalSleepUsFunction function);

// The wait of a serial read for its next input: true as soon as the descriptor has input (or a
// condition a read reports, such as a dropped line), false after `tenths` tenths of a second of
// silence. The default polls for exactly that long; tests replace it with one that knows when the
// far end has nothing more to say.
using OsalSilenceWaitFunction = bool (*)(int descriptor, uint32_t tenths);

bool osal_waitForInput(int descriptor, uint32_t tenths);
// Null restores the default; returns the previous function.
OsalSilenceWaitFunction osal_setSilenceWaitFunction(OsalSilenceWaitFunction function);

#endif
