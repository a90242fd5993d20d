// The preloaded simulator: plays the kernel's sg driver and sysfs for an unmodified process. It presents
// /sys/class/scsi_generic and /dev/sgN from the scenario named by ZSIM_SCENARIO, answers SG_IO through the
// SCSI target in front of the simulated devices, makes sleeps cost no time, records every command in the
// trace (ZSIM_TRACE) and writes the enclosure's final state (ZSIM_STATE) when the process ends. Every
// other call goes on to the next definition (the C library, or a sanitizer runtime loaded after us).
#include "preload/zsimControl.h"
#include "preload/zsimSerialLine.h"
#include "scenario/Scenario.h"
#include "scsi/ScsiTarget.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#define ZSIM_EXPORT extern "C" __attribute__((visibility("default")))

static_assert(sizeof(struct stat) == sizeof(struct stat64), "stat and stat64 share one layout here");
static_assert(sizeof(struct dirent) == sizeof(struct dirent64), "dirent and dirent64 share one layout here");

namespace {

using namespace zsim;

constexpr const char* kClassDirectory = "/sys/class/scsi_generic";
constexpr unsigned kSgMajor = 21;
constexpr int kSgVersion = 30536; // sg driver 3.5.36
constexpr int kScenarioExitCode = 97;
constexpr unsigned long kSgGetAccessCount = 0x2289; // not in every header set

// ---- the next definitions of the interposed functions ----

template <typename F> F next(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "zsim: %s not found after the preload\n", name);
        _exit(kScenarioExitCode);
    }
    return reinterpret_cast<F>(symbol);
}

#define ZSIM_NEXT(name) (next<decltype(&::name)>(#name))

struct Real {
    decltype(&::open) open = ZSIM_NEXT(open);
    decltype(&::openat) openat = ZSIM_NEXT(openat);
    decltype(&::close) close = ZSIM_NEXT(close);
    decltype(&::ioctl) ioctl = ZSIM_NEXT(ioctl);
    decltype(&::opendir) opendir = ZSIM_NEXT(opendir);
    decltype(&::readdir) readdir = ZSIM_NEXT(readdir);
    decltype(&::readdir64) readdir64 = ZSIM_NEXT(readdir64);
    decltype(&::closedir) closedir = ZSIM_NEXT(closedir);
    decltype(&::rewinddir) rewinddir = ZSIM_NEXT(rewinddir);
    decltype(&::scandir) scandir = ZSIM_NEXT(scandir);
    decltype(&::scandir64) scandir64 = ZSIM_NEXT(scandir64);
    decltype(&::stat) stat = ZSIM_NEXT(stat);
    decltype(&::lstat) lstat = ZSIM_NEXT(lstat);
    decltype(&::fstat) fstat = ZSIM_NEXT(fstat);
    decltype(&::fstatat) fstatat = ZSIM_NEXT(fstatat);
    decltype(&::statx) statx = ZSIM_NEXT(statx);
    decltype(&::access) access = ZSIM_NEXT(access);
    decltype(&::faccessat) faccessat = ZSIM_NEXT(faccessat);
    decltype(&::nanosleep) nanosleep = ZSIM_NEXT(nanosleep);
};

Real& real() {
    static Real functions;
    return functions;
}

// ---- the simulated kernel state ----

struct OpenDevice {
    int number = 0;
    int flags = 0;
    int timeout = 60 * 100; // in USER_HZ ticks, as the driver keeps it
    int reservedSize = 32768;
    int commandQueue = 0;
    int keepOrphan = 0;
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

// Never destroyed: the C library may call in here from its own exit handlers.
World& world() {
    static World* instance = new World();
    return *instance;
}

using Lock = std::lock_guard<std::recursive_mutex>;

void ensureLoaded(World& w) {
    if (w.loaded)
        return;
    w.loaded = true;
    w.pid = getpid();
    if (const char* trace = std::getenv("ZSIM_TRACE"))
        w.tracePath = trace;
    if (const char* state = std::getenv("ZSIM_STATE"))
        w.statePath = state;
    const char* scenario = std::getenv("ZSIM_SCENARIO");
    if (scenario == nullptr || *scenario == '\0') {
        // No scenario: a host without SCSI-generic devices.
        w.enclosure = std::make_unique<Enclosure>();
        w.enclosure->sysfs = SysfsState::Absent;
        return;
    }
    try {
        w.enclosure = loadScenarioFile(scenario);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zsim: %s\n", error.what());
        _exit(kScenarioExitCode);
    }
}

World& loadedWorld() {
    World& w = world();
    ensureLoaded(w);
    return w;
}

// Writes text to a file through the next definitions, so that the simulator's own files never pass
// through the interposed functions.
bool putFile(const std::string& path, const std::string& text, int flags) {
    const int fd = real().open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    real().close(fd);
    return done == text.size();
}

void traceLine(World& w, const std::string& line) {
    const std::string text = line + '\n';
    w.traceText += text;
    if (!w.tracePath.empty())
        putFile(w.tracePath, text, O_APPEND);
}

std::string field(const char* name, long long value) {
    return std::string(" ") + name + "=" + std::to_string(value);
}

std::string hexField(const char* name, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return std::string(" ") + name + "=" + text;
}

std::string header(World& w, const char* kind) {
    return std::string(kind) + field("seq", static_cast<long long>(++w.sequence));
}

// ---- paths ----

enum class PathKind { Other, ClassDirectory, ClassEntry, ClassDeeper, Node };

struct PathInfo {
    PathKind kind = PathKind::Other;
    std::string entry;
    int number = -1;
};

// Device number of a node name "sgN" as the driver names its nodes.
bool nodeNumber(const std::string& name, int* number) {
    if (name.size() < 3 || name.size() > 7 || name.compare(0, 2, "sg") != 0)
        return false;
    if (name.size() > 3 && name[2] == '0')
        return false;
    int value = 0;
    for (size_t i = 2; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        value = value * 10 + (name[i] - '0');
    }
    *number = value;
    return true;
}

PathInfo classify(const char* path) {
    PathInfo info;
    if (path == nullptr || path[0] != '/')
        return info;
    std::string normal;
    for (const char* p = path; *p != '\0'; ++p)
        if (!(*p == '/' && !normal.empty() && normal.back() == '/'))
            normal += *p;
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    const std::string classDirectory = kClassDirectory;
    if (normal == classDirectory) {
        info.kind = PathKind::ClassDirectory;
    } else if (normal.compare(0, classDirectory.size() + 1, classDirectory + "/") == 0) {
        info.entry = normal.substr(classDirectory.size() + 1);
        info.kind = info.entry.find('/') == std::string::npos ? PathKind::ClassEntry : PathKind::ClassDeeper;
    } else if (normal.compare(0, 5, "/dev/") == 0 && nodeNumber(normal.substr(5), &info.number)) {
        info.kind = PathKind::Node;
    }
    return info;
}

bool hasEntry(const Enclosure& enclosure, const std::string& name) {
    for (const std::string& entry : enclosure.entries)
        if (entry == name)
            return true;
    return false;
}

Device* nodeDevice(World& w, int number) {
    Device* device = w.enclosure->find(number);
    return device != nullptr && device->hasNode ? device : nullptr;
}

OpenDevice* openDevice(World& w, int fd) {
    const auto found = w.descriptors.find(fd);
    return found == w.descriptors.end() ? nullptr : &found->second;
}

int fail(int error) {
    errno = error;
    return -1;
}

void fillNodeStat(struct stat* st, int number) {
    std::memset(st, 0, sizeof *st);
    st->st_mode = S_IFCHR | 0660;
    st->st_nlink = 1;
    st->st_rdev = makedev(kSgMajor, static_cast<unsigned>(number));
    st->st_dev = makedev(0, 5);
    st->st_ino = 1000 + static_cast<ino_t>(number);
    st->st_blksize = 4096;
}

// stat of a simulated path: nullopt when the path is not simulated, else the result of the call.
std::optional<int> simulatedStat(const char* path, bool follow, struct stat* st) {
    const PathInfo info = classify(path);
    if (info.kind == PathKind::Other)
        return std::nullopt;
    World& w = loadedWorld();
    Lock lock(w.mutex);
    w.touched = true;
    if (st == nullptr)
        return fail(EFAULT);
    const bool sysfs = w.enclosure->sysfs != SysfsState::Absent;
    switch (info.kind) {
    case PathKind::ClassDirectory:
    case PathKind::ClassEntry:
        if (!sysfs || (info.kind == PathKind::ClassEntry && !hasEntry(*w.enclosure, info.entry)))
            return fail(ENOENT);
        std::memset(st, 0, sizeof *st);
        st->st_mode = info.kind == PathKind::ClassEntry && !follow ? (S_IFLNK | 0777) : (S_IFDIR | 0755);
        st->st_nlink = 2;
        st->st_ino = 2;
        st->st_blksize = 4096;
        return 0;
    case PathKind::Node:
        if (nodeDevice(w, info.number) == nullptr)
            return fail(ENOENT);
        fillNodeStat(st, info.number);
        return 0;
    default:
        return fail(ENOENT);
    }
}

std::optional<int> simulatedFstat(int fd, struct stat* st) {
    World& w = world();
    Lock lock(w.mutex);
    if (!w.loaded)
        return std::nullopt;
    OpenDevice* open = openDevice(w, fd);
    if (open == nullptr)
        return std::nullopt;
    w.touched = true;
    if (st == nullptr)
        return fail(EFAULT);
    fillNodeStat(st, open->number);
    return 0;
}

// ---- open and close ----

std::optional<int> simulatedOpen(const char* path, int flags) {
    if (serialOpenDenied(path))
        return fail(EACCES);
    const PathInfo info = classify(path);
    if (info.kind == PathKind::Other)
        return std::nullopt;
    World& w = loadedWorld();
    Lock lock(w.mutex);
    w.touched = true;
    if (info.kind != PathKind::Node)
        return fail(w.enclosure->sysfs == SysfsState::Absent ? ENOENT : EOPNOTSUPP);
    std::string line = header(w, "open") + " dev=sg" + std::to_string(info.number) + hexField("flags", flags);
    if (nodeDevice(w, info.number) == nullptr) {
        traceLine(w, line + " fd=-1" + field("errno", ENOENT));
        return fail(ENOENT);
    }
    // A real descriptor stands for the device node, so that descriptor numbers behave as the kernel's do.
    const int fd = real().open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0)
        return -1;
    w.descriptors[fd] = OpenDevice{info.number, flags};
    traceLine(w, line + field("fd", fd));
    return fd;
}

void simulatedClose(int fd) {
    World& w = world();
    Lock lock(w.mutex);
    OpenDevice* open = openDevice(w, fd);
    if (open == nullptr)
        return;
    traceLine(w, header(w, "close") + " dev=sg" + std::to_string(open->number) + field("fd", fd));
    w.descriptors.erase(fd);
}

mode_t modeArgument(int flags, va_list args) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(args, int))
                                                                      : 0;
}

// ---- ioctl ----

DataDirection direction(int sgDirection) {
    switch (sgDirection) {
    case SG_DXFER_TO_DEV:
        return DataDirection::ToDevice;
    case SG_DXFER_FROM_DEV:
        return DataDirection::FromDevice;
    case SG_DXFER_TO_FROM_DEV:
        return DataDirection::Both;
    default:
        return DataDirection::None;
    }
}

const char* directionName(DataDirection d) {
    switch (d) {
    case DataDirection::ToDevice:
        return "out";
    case DataDirection::FromDevice:
        return "in";
    case DataDirection::Both:
        return "both";
    case DataDirection::None:
        break;
    }
    return "none";
}

int sgIo(World& w, int fd, OpenDevice& open, sg_io_hdr* h) {
    if (h == nullptr)
        return fail(EFAULT);
    if (h->interface_id != 'S')
        return fail(ENOSYS);
    if (h->cmdp == nullptr || h->cmd_len < 6 || h->cmd_len > 16 || (h->dxfer_len > 0 && h->dxferp == nullptr))
        return fail(EINVAL);
    if (h->iovec_count != 0) // scatter-gather lists are not simulated
        return fail(EINVAL);
    Device* device = nodeDevice(w, open.number);
    if (device == nullptr)
        return fail(ENODEV);
    ScsiCommand command;
    command.cdb = {h->cmdp, h->cmd_len};
    command.direction = direction(h->dxfer_direction);
    const auto* data = static_cast<const uint8_t*>(h->dxferp);
    if (command.direction == DataDirection::ToDevice || command.direction == DataDirection::Both)
        command.dataOut = {data, h->dxfer_len};
    if (command.direction == DataDirection::FromDevice || command.direction == DataDirection::Both)
        command.dataInLength = h->dxfer_len;
    const ScsiReply reply = executeScsi(*device, command);
    if (w.enclosure->commandLatencyUs != 0) {
        // The device's own time for the command: a real wait, not one of the program's sleeps.
        const uint32_t us = w.enclosure->commandLatencyUs;
        timespec request{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
        timespec rest{};
        const int saved = errno;
        while (real().nanosleep(&request, &rest) != 0 && errno == EINTR)
            request = rest;
        errno = saved;
    }

    std::string line = header(w, "cmd") + " dev=" + device->name() + field("fd", fd) +
                       " cdb=" + toHex(h->cmdp, h->cmd_len) + " dir=" + directionName(command.direction) +
                       field("len", h->dxfer_len) + field("timeout", h->timeout) +
                       field("sblen", h->mx_sb_len);
    if (reply.ioctlFailed) {
        traceLine(w, line + " ioctl=-1" + field("errno", reply.ioctlErrno));
        return fail(reply.ioctlErrno);
    }
    const size_t delivered = std::min<size_t>(reply.dataIn.size(), h->dxfer_len);
    if (delivered > 0)
        std::memcpy(h->dxferp, reply.dataIn.data(), delivered);
    const size_t senseLength = h->sbp == nullptr ? 0 : std::min<size_t>(reply.sense.size(), h->mx_sb_len);
    if (senseLength > 0)
        std::memcpy(h->sbp, reply.sense.data(), senseLength);
    h->status = reply.status;
    h->masked_status = static_cast<unsigned char>((reply.status & 0x3E) >> 1);
    h->msg_status = 0;
    h->sb_len_wr = static_cast<unsigned char>(senseLength);
    h->host_status = reply.hostStatus;
    h->driver_status = reply.driverStatus;
    h->resid = static_cast<int>(reply.resid);
    h->duration = 0;
    h->info =
        reply.status != 0 || reply.hostStatus != 0 || reply.driverStatus != 0 ? SG_INFO_CHECK : SG_INFO_OK;

    line += " ioctl=0" + hexField("status", reply.status) + hexField("host", reply.hostStatus) +
            hexField("driver", reply.driverStatus) + field("resid", reply.resid) +
            " sense=" + toHex(reply.sense.data(), reply.sense.size()) +
            " out=" + toHex(command.dataOut.data(), command.dataOut.size()) +
            " in=" + toHex(reply.dataIn.data(), delivered);
    traceLine(w, line);
    return 0;
}

int putInt(void* arg, int value) {
    if (arg == nullptr)
        return fail(EFAULT);
    *static_cast<int*>(arg) = value;
    return 0;
}

int getInt(const void* arg, int* value) {
    if (arg == nullptr)
        return fail(EFAULT);
    *value = *static_cast<const int*>(arg);
    return 0;
}

int driverIoctl(World& w, int fd, OpenDevice& open, unsigned long request, void* arg) {
    Device* device = nodeDevice(w, open.number);
    const ScsiIdentity* id = device != nullptr ? &device->identity : nullptr;
    switch (request) {
    case SG_IO:
        return sgIo(w, fd, open, static_cast<sg_io_hdr*>(arg));
    case SG_GET_SCSI_ID: {
        if (arg == nullptr)
            return fail(EFAULT);
        if (id == nullptr)
            return fail(ENODEV);
        auto* out = static_cast<sg_scsi_id*>(arg);
        std::memset(out, 0, sizeof *out);
        out->host_no = id->host;
        out->channel = id->channel;
        out->scsi_id = id->target;
        out->lun = id->lun;
        out->scsi_type = id->peripheralType;
        out->h_cmd_per_lun = 1;
        out->d_queue_depth = 1;
        return 0;
    }
    case SG_GET_VERSION_NUM:
        return putInt(arg, kSgVersion);
    case SG_GET_TIMEOUT:
        return open.timeout;
    case SG_SET_TIMEOUT:
        return getInt(arg, &open.timeout);
    case SG_GET_RESERVED_SIZE:
        return putInt(arg, open.reservedSize);
    case SG_SET_RESERVED_SIZE:
        return getInt(arg, &open.reservedSize);
    case SG_GET_COMMAND_Q:
        return putInt(arg, open.commandQueue);
    case SG_SET_COMMAND_Q:
        return getInt(arg, &open.commandQueue);
    case SG_GET_KEEP_ORPHAN:
        return putInt(arg, open.keepOrphan);
    case SG_SET_KEEP_ORPHAN:
        return getInt(arg, &open.keepOrphan);
    case SG_EMULATED_HOST:
    case SG_GET_LOW_DMA:
    case SG_GET_NUM_WAITING:
        return putInt(arg, 0);
    case SG_GET_PACK_ID:
        return putInt(arg, -1);
    case SG_GET_SG_TABLESIZE:
        return putInt(arg, 128);
    case kSgGetAccessCount:
        return putInt(arg, 1);
    case SG_SET_FORCE_LOW_DMA:
    case SG_SET_FORCE_PACK_ID:
    case SG_SET_DEBUG:
    case SG_NEXT_CMD_LEN:
    case SG_SCSI_RESET:
        return 0;
    case SCSI_IOCTL_GET_IDLUN: {
        if (arg == nullptr)
            return fail(EFAULT);
        if (id == nullptr)
            return fail(ENODEV);
        auto* out = static_cast<int*>(arg);
        out[0] = (id->target & 0xFF) | ((id->lun & 0xFF) << 8) | ((id->channel & 0xFF) << 16) |
                 ((id->host & 0xFF) << 24);
        out[1] = id->host + 1;
        return 0;
    }
    case SCSI_IOCTL_GET_BUS_NUMBER:
        return id == nullptr ? fail(ENODEV) : putInt(arg, id->host);
    default:
        return fail(ENOTTY);
    }
}

int simulatedIoctl(World& w, int fd, OpenDevice& open, unsigned long request, void* arg) {
    const int saved = errno;
    errno = 0;
    const int result = driverIoctl(w, fd, open, request, arg);
    const int error = errno;
    if (request != SG_IO) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04lX", request);
        traceLine(w, header(w, "ioctl") + " dev=sg" + std::to_string(open.number) + field("fd", fd) +
                         " request=" + code + field("result", result) +
                         (result < 0 ? field("errno", error) : ""));
    }
    errno = result < 0 ? error : saved;
    return result;
}

// ---- directories ----

struct dirent makeEntry(const std::string& name, unsigned char type, long index) {
    struct dirent entry;
    std::memset(&entry, 0, sizeof entry);
    entry.d_ino = 100 + static_cast<ino_t>(index);
    entry.d_off = index + 1;
    entry.d_reclen = sizeof entry;
    entry.d_type = type;
    std::snprintf(entry.d_name, sizeof entry.d_name, "%s", name.c_str());
    return entry;
}

std::vector<struct dirent> classEntries(const Enclosure& enclosure) {
    std::vector<struct dirent> entries{makeEntry(".", DT_DIR, 0), makeEntry("..", DT_DIR, 1)};
    for (const std::string& name : enclosure.entries)
        entries.push_back(makeEntry(name, DT_LNK, static_cast<long>(entries.size())));
    return entries;
}

// For a simulated directory path: nullopt when it is listable (entries filled), else the errno.
std::optional<int> listingError(const PathInfo& info, World& w, std::vector<struct dirent>* entries) {
    if (info.kind != PathKind::ClassDirectory)
        return w.enclosure->sysfs == SysfsState::Absent || info.kind == PathKind::ClassDeeper ||
                       (info.kind == PathKind::ClassEntry && !hasEntry(*w.enclosure, info.entry))
                   ? ENOENT
                   : ENOTDIR;
    if (w.enclosure->sysfs == SysfsState::Absent)
        return ENOENT;
    if (w.enclosure->sysfs == SysfsState::Unreadable)
        return EACCES;
    *entries = classEntries(*w.enclosure);
    return std::nullopt;
}

template <typename Entry>
int simulatedScandir(const PathInfo& info, Entry*** list, int (*filter)(const Entry*),
                     int (*compare)(const Entry**, const Entry**)) {
    World& w = loadedWorld();
    Lock lock(w.mutex);
    w.touched = true;
    std::vector<struct dirent> entries;
    if (const auto error = listingError(info, w, &entries))
        return fail(*error);
    if (list == nullptr)
        return fail(EFAULT);
    std::vector<Entry*> chosen;
    for (const struct dirent& entry : entries) {
        auto* copy = static_cast<Entry*>(std::malloc(sizeof(Entry)));
        if (copy == nullptr)
            return fail(ENOMEM);
        std::memcpy(copy, &entry, sizeof(Entry));
        if (filter != nullptr && filter(copy) == 0) {
            std::free(copy);
            continue;
        }
        chosen.push_back(copy);
    }
    if (compare != nullptr)
        std::qsort(chosen.data(), chosen.size(), sizeof(Entry*),
                   reinterpret_cast<int (*)(const void*, const void*)>(compare));
    *list = static_cast<Entry**>(std::malloc(sizeof(Entry*) * (chosen.empty() ? 1 : chosen.size())));
    if (*list == nullptr) {
        for (Entry* entry : chosen)
            std::free(entry);
        return fail(ENOMEM);
    }
    std::copy(chosen.begin(), chosen.end(), *list);
    return static_cast<int>(chosen.size());
}

struct dirent* nextEntry(DIR* dir, bool* simulated) {
    World& w = world();
    Lock lock(w.mutex);
    const auto found = w.listings.find(dir);
    *simulated = found != w.listings.end();
    if (!*simulated)
        return nullptr;
    DirListing& listing = found->second;
    return listing.next < listing.entries.size() ? &listing.entries[listing.next++] : nullptr;
}

// ---- sleeps ----

void recordSleep(const char* function, unsigned long long microseconds) {
    World& w = loadedWorld();
    Lock lock(w.mutex);
    traceLine(w, header(w, "sleep") + " fn=" + function + field("us", static_cast<long long>(microseconds)));
}

unsigned long long microsecondsOf(const struct timespec& t) {
    return static_cast<unsigned long long>(t.tv_sec) * 1000000ull +
           static_cast<unsigned long long>(t.tv_nsec) / 1000ull;
}

void writeStateFile(World& w) {
    if (w.statePath.empty() || !w.enclosure)
        return;
    if (!putFile(w.statePath, describeState(*w.enclosure), O_TRUNC))
        std::fprintf(stderr, "zsim: cannot write the state file %s: %s\n", w.statePath.c_str(),
                     std::strerror(errno));
}

char* copyText(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

// The state of the last process that reached the simulator is what the state file shows.
__attribute__((destructor)) static void zsimFinish() {
    World& w = world();
    Lock lock(w.mutex);
    if (w.loaded && w.touched && w.pid == getpid())
        writeStateFile(w);
}

// ---- control interface ----

ZSIM_EXPORT int zsim_loadScenario(const char* text) {
    World& w = loadedWorld();
    Lock lock(w.mutex);
    try {
        w.enclosure = parseScenario(text != nullptr ? text : "", "scenario text");
    } catch (const std::exception& error) {
        w.lastError = error.what();
        return -1;
    }
    w.descriptors.clear();
    w.listings.clear();
    w.traceText.clear();
    w.sequence = 0;
    w.touched = true;
    w.lastError.clear();
    return 0;
}

ZSIM_EXPORT const char* zsim_lastError(void) {
    return world().lastError.c_str();
}

ZSIM_EXPORT char* zsim_trace(void) {
    World& w = loadedWorld();
    Lock lock(w.mutex);
    return copyText(w.traceText);
}

ZSIM_EXPORT char* zsim_state(void) {
    World& w = loadedWorld();
    Lock lock(w.mutex);
    return copyText(describeState(*w.enclosure));
}

ZSIM_EXPORT void zsim_clearTrace(void) {
    World& w = loadedWorld();
    Lock lock(w.mutex);
    w.traceText.clear();
}

// ---- interposed C library functions ----

// The mode argument that open passes on only with O_CREAT or O_TMPFILE.
#define ZSIM_MODE_ARGUMENT(flags)                                                                            \
    mode_t mode = 0;                                                                                         \
    {                                                                                                        \
        va_list args;                                                                                        \
        va_start(args, flags);                                                                               \
        mode = modeArgument(flags, args);                                                                    \
        va_end(args);                                                                                        \
    }

ZSIM_EXPORT int open(const char* path, int flags, ...) {
    ZSIM_MODE_ARGUMENT(flags);
    const auto result = simulatedOpen(path, flags);
    return result ? *result : real().open(path, flags, mode);
}

ZSIM_EXPORT int open64(const char* path, int flags, ...) {
    ZSIM_MODE_ARGUMENT(flags);
    const auto result = simulatedOpen(path, flags);
    return result ? *result : real().open(path, flags | O_LARGEFILE, mode);
}

ZSIM_EXPORT int openat(int dirfd, const char* path, int flags, ...) {
    ZSIM_MODE_ARGUMENT(flags);
    const auto result = simulatedOpen(path, flags);
    return result ? *result : real().openat(dirfd, path, flags, mode);
}

ZSIM_EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
    ZSIM_MODE_ARGUMENT(flags);
    const auto result = simulatedOpen(path, flags);
    return result ? *result : real().openat(dirfd, path, flags | O_LARGEFILE, mode);
}

// The _FORTIFY_SOURCE entry points.
static int fortifiedOpen(const char* name, const char* path, int flags) {
    const auto result = simulatedOpen(path, flags);
    return result ? *result : next<int (*)(const char*, int)>(name)(path, flags);
}

static int fortifiedOpenat(const char* name, int dirfd, const char* path, int flags) {
    const auto result = simulatedOpen(path, flags);
    return result ? *result : next<int (*)(int, const char*, int)>(name)(dirfd, path, flags);
}

ZSIM_EXPORT int __open_2(const char* path, int flags) {
    return fortifiedOpen("__open_2", path, flags);
}
ZSIM_EXPORT int __open64_2(const char* path, int flags) {
    return fortifiedOpen("__open64_2", path, flags);
}
ZSIM_EXPORT int __openat_2(int dirfd, const char* path, int flags) {
    return fortifiedOpenat("__openat_2", dirfd, path, flags);
}
ZSIM_EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
    return fortifiedOpenat("__openat64_2", dirfd, path, flags);
}

ZSIM_EXPORT int close(int fd) {
    simulatedClose(fd);
    return real().close(fd);
}

ZSIM_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    World& w = world();
    {
        Lock lock(w.mutex);
        if (OpenDevice* open = w.loaded ? openDevice(w, fd) : nullptr) {
            w.touched = true;
            return simulatedIoctl(w, fd, *open, request, arg);
        }
    }
    return real().ioctl(fd, request, arg);
}

// stat family, including the entry points of binaries built against older C libraries.
ZSIM_EXPORT int stat(const char* path, struct stat* st) noexcept {
    if (const auto result = simulatedStat(path, true, st))
        return *result;
    return real().stat(path, st);
}

ZSIM_EXPORT int lstat(const char* path, struct stat* st) noexcept {
    if (const auto result = simulatedStat(path, false, st))
        return *result;
    return real().lstat(path, st);
}

ZSIM_EXPORT int fstat(int fd, struct stat* st) noexcept {
    if (const auto result = simulatedFstat(fd, st))
        return *result;
    return real().fstat(fd, st);
}

ZSIM_EXPORT int stat64(const char* path, struct stat64* st) noexcept {
    return stat(path, reinterpret_cast<struct stat*>(st));
}

ZSIM_EXPORT int lstat64(const char* path, struct stat64* st) noexcept {
    return lstat(path, reinterpret_cast<struct stat*>(st));
}

ZSIM_EXPORT int fstat64(int fd, struct stat64* st) noexcept {
    return fstat(fd, reinterpret_cast<struct stat*>(st));
}

ZSIM_EXPORT int fstatat(int dirfd, const char* path, struct stat* st, int flags) noexcept {
    if ((flags & AT_EMPTY_PATH) != 0 && path != nullptr && *path == '\0')
        if (const auto result = simulatedFstat(dirfd, st))
            return *result;
    if (const auto result = simulatedStat(path, (flags & AT_SYMLINK_NOFOLLOW) == 0, st))
        return *result;
    return real().fstatat(dirfd, path, st, flags);
}

ZSIM_EXPORT int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) noexcept {
    return fstatat(dirfd, path, reinterpret_cast<struct stat*>(st), flags);
}

ZSIM_EXPORT int __xstat(int, const char* path, struct stat* st) {
    return stat(path, st);
}
ZSIM_EXPORT int __xstat64(int, const char* path, struct stat64* st) {
    return stat64(path, st);
}
ZSIM_EXPORT int __lxstat(int, const char* path, struct stat* st) {
    return lstat(path, st);
}
ZSIM_EXPORT int __lxstat64(int, const char* path, struct stat64* st) {
    return lstat64(path, st);
}
ZSIM_EXPORT int __fxstat(int, int fd, struct stat* st) {
    return fstat(fd, st);
}
ZSIM_EXPORT int __fxstat64(int, int fd, struct stat64* st) {
    return fstat64(fd, st);
}
ZSIM_EXPORT int __fxstatat(int, int dirfd, const char* path, struct stat* st, int flags) {
    return fstatat(dirfd, path, st, flags);
}
ZSIM_EXPORT int __fxstatat64(int, int dirfd, const char* path, struct stat64* st, int flags) {
    return fstatat64(dirfd, path, st, flags);
}

ZSIM_EXPORT int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* out) noexcept {
    struct stat st;
    std::optional<int> result;
    if ((flags & AT_EMPTY_PATH) != 0 && path != nullptr && *path == '\0')
        result = simulatedFstat(dirfd, &st);
    if (!result)
        result = simulatedStat(path, (flags & AT_SYMLINK_NOFOLLOW) == 0, &st);
    if (!result)
        return real().statx(dirfd, path, flags, mask, out);
    if (*result != 0)
        return *result;
    if (out == nullptr)
        return fail(EFAULT);
    std::memset(out, 0, sizeof *out);
    out->stx_mask = STATX_BASIC_STATS;
    out->stx_mode = static_cast<uint16_t>(st.st_mode);
    out->stx_nlink = static_cast<uint32_t>(st.st_nlink);
    out->stx_ino = st.st_ino;
    out->stx_blksize = static_cast<uint32_t>(st.st_blksize);
    out->stx_rdev_major = major(st.st_rdev);
    out->stx_rdev_minor = minor(st.st_rdev);
    out->stx_dev_major = major(st.st_dev);
    out->stx_dev_minor = minor(st.st_dev);
    return 0;
}

ZSIM_EXPORT int access(const char* path, int mode) noexcept {
    struct stat st;
    if (const auto result = simulatedStat(path, true, &st)) {
        if (*result != 0)
            return *result;
        if ((mode & R_OK) != 0 && S_ISDIR(st.st_mode) &&
            loadedWorld().enclosure->sysfs == SysfsState::Unreadable)
            return fail(EACCES);
        return 0;
    }
    return real().access(path, mode);
}

ZSIM_EXPORT int faccessat(int dirfd, const char* path, int mode, int flags) noexcept {
    if (classify(path).kind != PathKind::Other)
        return access(path, mode);
    return real().faccessat(dirfd, path, mode, flags);
}

// Directory listing. A simulated listing rides on a real directory stream, so that every function that
// takes a DIR* stays safe whoever receives it.
ZSIM_EXPORT DIR* opendir(const char* path) {
    const PathInfo info = classify(path);
    if (info.kind == PathKind::Other)
        return real().opendir(path);
    World& w = loadedWorld();
    Lock lock(w.mutex);
    w.touched = true;
    std::vector<struct dirent> entries;
    if (const auto error = listingError(info, w, &entries)) {
        errno = *error;
        return nullptr;
    }
    DIR* dir = real().opendir("/");
    if (dir != nullptr)
        w.listings[dir] = DirListing{std::move(entries), 0};
    return dir;
}

ZSIM_EXPORT struct dirent* readdir(DIR* dir) {
    bool simulated = false;
    struct dirent* entry = nextEntry(dir, &simulated);
    return simulated ? entry : real().readdir(dir);
}

ZSIM_EXPORT struct dirent64* readdir64(DIR* dir) {
    bool simulated = false;
    struct dirent* entry = nextEntry(dir, &simulated);
    return simulated ? reinterpret_cast<struct dirent64*>(entry) : real().readdir64(dir);
}

ZSIM_EXPORT void rewinddir(DIR* dir) {
    {
        World& w = world();
        Lock lock(w.mutex);
        if (const auto found = w.listings.find(dir); found != w.listings.end())
            found->second.next = 0;
    }
    real().rewinddir(dir);
}

ZSIM_EXPORT int closedir(DIR* dir) {
    {
        World& w = world();
        Lock lock(w.mutex);
        w.listings.erase(dir);
    }
    return real().closedir(dir);
}

ZSIM_EXPORT int scandir(const char* path, struct dirent*** list, int (*filter)(const struct dirent*),
                        int (*compare)(const struct dirent**, const struct dirent**)) {
    const PathInfo info = classify(path);
    if (info.kind == PathKind::Other)
        return real().scandir(path, list, filter, compare);
    return simulatedScandir(info, list, filter, compare);
}

ZSIM_EXPORT int scandir64(const char* path, struct dirent64*** list, int (*filter)(const struct dirent64*),
                          int (*compare)(const struct dirent64**, const struct dirent64**)) {
    const PathInfo info = classify(path);
    if (info.kind == PathKind::Other)
        return real().scandir64(path, list, filter, compare);
    return simulatedScandir(info, list, filter, compare);
}

// Prescribed waits cost no time under the simulator; the trace records them.
ZSIM_EXPORT unsigned int sleep(unsigned int seconds) {
    recordSleep("sleep", static_cast<unsigned long long>(seconds) * 1000000ull);
    return 0;
}

ZSIM_EXPORT int usleep(useconds_t microseconds) {
    recordSleep("usleep", microseconds);
    return 0;
}

ZSIM_EXPORT int nanosleep(const struct timespec* request, struct timespec* remaining) {
    if (request == nullptr || request->tv_nsec < 0 || request->tv_nsec >= 1000000000L || request->tv_sec < 0)
        return fail(EINVAL);
    recordSleep("nanosleep", microsecondsOf(*request));
    if (remaining != nullptr)
        *remaining = timespec{0, 0};
    return 0;
}

ZSIM_EXPORT int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request,
                                struct timespec* remaining) {
    if (request == nullptr || request->tv_nsec < 0 || request->tv_nsec >= 1000000000L)
        return EINVAL;
    unsigned long long microseconds = microsecondsOf(*request);
    if ((flags & TIMER_ABSTIME) != 0) {
        struct timespec now {};
        if (clock_gettime(clock, &now) != 0)
            return errno;
        const unsigned long long current = microsecondsOf(now);
        microseconds = microseconds > current ? microseconds - current : 0;
    }
    recordSleep("clock_nanosleep", microseconds);
    if (remaining != nullptr && (flags & TIMER_ABSTIME) == 0)
        *remaining = timespec{0, 0};
    return 0;
}
