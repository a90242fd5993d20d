// Serial lines under the preload: a pseudo-terminal refuses any frame but 8 data bits without parity, so
// the frame a program asks for is recorded here (the simulated expander reads it back) and the kernel is
// given 8 bits and no parity. One chosen path can be made to refuse its open with EACCES, which a root
// process never meets otherwise.
#include "preload/zsimControl.h"
#include "preload/zsimSerialLine.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#define ZSIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Frame {
    int dataBits = 8;
    int parity = 0;
    int stopBits = 1;
};

struct SerialWorld {
    std::mutex mutex;
    std::map<unsigned long long, Frame> frames;
    std::string record;
    std::string deniedPath;
};

// Called before a line setting changes, so that a simulated far end takes the bytes already written at
// the setting they were written with; and before a queue is flushed, so that the flush finds every byte
// written already taken and every answer to them already sent, however late the far end's thread runs.
void (*sLineChangeHook)(int) = nullptr;

SerialWorld& serialWorld() {
    static SerialWorld* instance = new SerialWorld();
    return *instance;
}

using TcsetattrFunction = int (*)(int, int, const struct termios*);
using TcflushFunction = int (*)(int, int);
using FstatFunction = int (*)(int, struct stat*);

TcsetattrFunction realTcsetattr() {
    static auto function = reinterpret_cast<TcsetattrFunction>(dlsym(RTLD_NEXT, "tcsetattr"));
    return function;
}

FstatFunction realFstat() {
    static auto function = reinterpret_cast<FstatFunction>(dlsym(RTLD_NEXT, "fstat"));
    return function;
}

TcflushFunction realTcflush() {
    static auto function = reinterpret_cast<TcflushFunction>(dlsym(RTLD_NEXT, "tcflush"));
    return function;
}

bool isTerminal(int fd, struct stat* st) { return realFstat()(fd, st) == 0 && S_ISCHR(st->st_mode); }

int bitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

unsigned long speedOf(speed_t speed) {
    static const std::map<speed_t, unsigned long> speeds = {
        {B0, 0},         {B50, 50},       {B75, 75},       {B110, 110},       {B134, 134},     {B150, 150},
        {B200, 200},     {B300, 300},     {B600, 600},     {B1200, 1200},     {B1800, 1800},   {B2400, 2400},
        {B4800, 4800},   {B9600, 9600},   {B19200, 19200}, {B38400, 38400},   {B57600, 57600}, {B115200, 115200},
        {B230400, 230400}};
    const auto found = speeds.find(speed);
    return found != speeds.end() ? found->second : 0;
}

} // namespace

namespace zsim {

bool serialOpenDenied(const char* path) {
    SerialWorld& w = serialWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    return path != nullptr && !w.deniedPath.empty() && w.deniedPath == path;
}

} // namespace zsim

ZSIM_EXPORT int tcsetattr(int fd, int action, const struct termios* attributes) {
    if (attributes == nullptr)
        return realTcsetattr()(fd, action, attributes);
    struct stat st {};
    if (!isTerminal(fd, &st))
        return realTcsetattr()(fd, action, attributes);
    const unsigned long long device = st.st_rdev;
    if (sLineChangeHook != nullptr)
        sLineChangeHook(fd);
    Frame frame;
    frame.dataBits = bitsOf(attributes->c_cflag);
    frame.parity = (attributes->c_cflag & PARENB) == 0 ? 0 : (attributes->c_cflag & PARODD) != 0 ? 1 : 2;
    frame.stopBits = (attributes->c_cflag & CSTOPB) != 0 ? 2 : 1;
    struct termios applied = *attributes;
    applied.c_cflag = (applied.c_cflag & ~(CSIZE | PARENB | PARODD)) | CS8;
    const int result = realTcsetattr()(fd, action, &applied);
    if (result == 0) {
        SerialWorld& w = serialWorld();
        std::lock_guard<std::mutex> lock(w.mutex);
        w.frames[device] = frame;
        const char* flow = (attributes->c_cflag & CRTSCTS) != 0 ? "rtscts"
                           : (attributes->c_iflag & IXON) != 0  ? "xon"
                                                                : "none";
        const char* parity = frame.parity == 0 ? "none" : frame.parity == 1 ? "odd" : "even";
        w.record += "tcsetattr dev=" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)) +
                    " speed=" + std::to_string(speedOf(cfgetospeed(attributes))) +
                    " bits=" + std::to_string(frame.dataBits) + " parity=" + parity +
                    " stop=" + std::to_string(frame.stopBits) + " flow=" + flow +
                    " vmin=" + std::to_string(attributes->c_cc[VMIN]) +
                    " vtime=" + std::to_string(attributes->c_cc[VTIME]) + "\n";
    }
    return result;
}

// A flush of unsent output would otherwise discard whatever part of the last frame the far end had not
// read yet, and a flush of unread input miss an answer still on its way: how much depends on when the far
// end's thread ran.
ZSIM_EXPORT int tcflush(int fd, int queue) {
    struct stat st {};
    if (sLineChangeHook != nullptr && isTerminal(fd, &st))
        sLineChangeHook(fd);
    return realTcflush()(fd, queue);
}

ZSIM_EXPORT int zsim_serialLineFrame(unsigned long long device, int* dataBits, int* parity, int* stopBits) {
    SerialWorld& w = serialWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    const auto found = w.frames.find(device);
    if (found == w.frames.end())
        return -1;
    if (dataBits != nullptr)
        *dataBits = found->second.dataBits;
    if (parity != nullptr)
        *parity = found->second.parity;
    if (stopBits != nullptr)
        *stopBits = found->second.stopBits;
    return 0;
}

ZSIM_EXPORT char* zsim_serialLineRecord(void) {
    SerialWorld& w = serialWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    char* copy = static_cast<char*>(std::malloc(w.record.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, w.record.c_str(), w.record.size() + 1);
    return copy;
}

ZSIM_EXPORT void zsim_serialLineClearRecord(void) {
    SerialWorld& w = serialWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.record.clear();
}

ZSIM_EXPORT void zsim_serialDenyOpen(const char* path) {
    SerialWorld& w = serialWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.deniedPath = path != nullptr ? path : "";
}

ZSIM_EXPORT void zsim_serialSetLineChangeHook(void (*hook)(int)) {
    sLineChangeHook = hook;
}
