// A module delivered as a shared object: its operations are found by the dynamic loader.
#include "core/zelkor.h"

extern "C" __attribute__((visibility("default"))) ZELKOR_STATUS zelkor_ial_version(uint8_t* major,
                                                                                   uint8_t* minor) {
    *major = 3;
    *minor = 4;
    return 0;
}
