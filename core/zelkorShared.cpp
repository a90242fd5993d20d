// The shared option block lives in the library so that every handle and module reaches the same one.
#include "core/zelkor.h"

extern "C" {
ZELKOR_SHARED_VARS gSharedVars{};
}
