// main() for test binaries that need the simulated enclosure: when the simulator is not yet preloaded,
// the binary runs itself again with libzsim.so in LD_PRELOAD, so that it works the same under ctest,
// test discovery and by hand.
#include "client/zsimClient.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#ifndef ZSIM_PRELOAD_PATH
#error "ZSIM_PRELOAD_PATH must name the built libzsim.so"
#endif

int main(int argc, char** argv) {
    if (!zsim::client::active()) {
        if (std::getenv("ZSIM_REEXEC") != nullptr) {
            std::fprintf(stderr, "the simulator did not load from %s\n", ZSIM_PRELOAD_PATH);
            return 1;
        }
        std::string preload = ZSIM_PRELOAD_PATH;
        if (const char* existing = std::getenv("LD_PRELOAD"); existing != nullptr && *existing != '\0')
            preload = std::string(existing) + ":" + preload;
        // A sanitizer runtime linked into this binary then follows the preload in the lookup order.
        std::string asan = "verify_asan_link_order=0";
        if (const char* existing = std::getenv("ASAN_OPTIONS"); existing != nullptr && *existing != '\0')
            asan = std::string(existing) + ":" + asan;
        setenv("LD_PRELOAD", preload.c_str(), 1);
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
        setenv("ZSIM_REEXEC", "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("execv");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
