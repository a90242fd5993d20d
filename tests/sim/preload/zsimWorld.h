// The simulated kernel's state inside the preload, shared by its parts: the open descriptors, the
// directory listings, the loaded enclosure and the trace, with the helpers that write trace lines.
#ifndef ZSIM_WORLD_H
#define ZSIM_WORLD_H

#include "scenario/Enclosure.h"

#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zsim::preload {

inline constexpr unsigned kSgMajor = 21;
inline constexpr int kSgVersion = 30536;                 // sg driver 3.5.36
inline constexpr unsigned long kSgGetAccessCount = 0x2289; // not in every header set

struct OpenDevice {
    int number = 0;
    int flags = 0;
    int timeout = 60 * 100; // in USER_HZ ticks, as the driver keeps it
    int reservedSize = 32768;
    int commandQueue = 0;
    int keepOrphan = 0;
    bool bsg = false; // the expander's SMP node, not its sg node
};

struct DirListing {
    std::vector<struct dirent> entries;
    size_t next = 0;
};

struct World {
    std::recursive_mutex mutex;
    bool loaded = false;
    bool touched = false; // the process reached a simulated path or descriptor
    pid_t pid = 0;
    std::unique_ptr<Enclosure> enclosure;
    std::map<int, OpenDevice> descriptors;
    std::map<DIR*, DirListing> listings;
    std::string tracePath;
    std::string statePath;
    std::string traceText;
    std::string lastError;
    uint64_t sequence = 0;
};

using Lock = std::lock_guard<std::recursive_mutex>;

// The state, created on first use and never destroyed; loadedWorld also loads the scenario.
World& world();
World& loadedWorld();

void traceLine(World& w, const std::string& line);
std::string field(const char* name, long long value);
std::string hexField(const char* name, unsigned value);
// The kind of a trace line and its sequence number.
std::string header(World& w, const char* kind);
// Sets errno and returns -1.
int fail(int error);
// The next definition of nanosleep: a real wait.
int realNanosleep(const struct timespec* request, struct timespec* rest);

// The device behind sg node N (null without one), and the expander behind SMP node N.
Device* nodeDevice(World& w, int number);
Device* bsgDevice(World& w, int number);

// An ioctl on a simulated descriptor, traced.
int simulatedIoctl(World& w, int fd, OpenDevice& open, unsigned long request, void* arg);

} // namespace zsim::preload

#endif
