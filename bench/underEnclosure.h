// The benchmarks whose library reaches the enclosure only through the simulator's preload run themselves
// again under it, in an empty scenario of their own (the benchmark loads its scenarios itself).
#ifndef BENCH_UNDER_ENCLOSURE_H
#define BENCH_UNDER_ENCLOSURE_H

#include "client/zsimClient.h"

#include <string>
#include <unistd.h>
#include <vector>

// Returns only when already under the preload (true) or when the run again could not start (false).
inline bool runUnderEnclosure(int argc, char** argv, const char* name) {
    if (zsim::client::active())
        return true;
    std::string empty = std::string("/tmp/") + name + "-XXXXXX";
    const int fd = mkstemp(empty.data());
    if (fd < 0)
        return false;
    ::close(fd);
    std::vector<char*> args = {const_cast<char*>(ZSIM_WITH_ENCLOSURE), empty.data(), const_cast<char*>("--")};
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    execv(ZSIM_WITH_ENCLOSURE, args.data());
    return false;
}

#endif
