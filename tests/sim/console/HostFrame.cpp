#include "console/HostFrame.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <termios.h>

namespace zsim {

namespace {

struct SpeedRow {
    speed_t code;
    uint32_t baud;
};
constexpr SpeedRow kSpeeds[] = {{B110, 110},     {B300, 300},     {B600, 600},     {B1200, 1200},
                                {B2400, 2400},   {B4800, 4800},   {B9600, 9600},   {B19200, 19200},
                                {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};

using FrameFunction = int (*)(unsigned long long, int*, int*, int*);

} // namespace

UartFrame hostFrame(int master, int slave) {
    UartFrame frame;
    termios attributes{};
    if (tcgetattr(master, &attributes) == 0)
        for (const SpeedRow& row : kSpeeds)
            if (row.code == cfgetospeed(&attributes))
                frame.speed = row.baud;
    static auto frameOf = reinterpret_cast<FrameFunction>(dlsym(RTLD_DEFAULT, "zsim_serialLineFrame"));
    struct stat st {};
    if (frameOf != nullptr && fstat(slave, &st) == 0) {
        int bits = 8;
        int parity = 0;
        int stop = 1;
        if (frameOf(st.st_rdev, &bits, &parity, &stop) == 0) {
            frame.dataBits = bits;
            frame.parity = parity;
            frame.stopBits = stop;
        }
    }
    return frame;
}

std::string frameText(const UartFrame& frame) {
    const char* parity = frame.parity == 0 ? "none" : frame.parity == 1 ? "odd" : "even";
    return "speed=" + std::to_string(frame.speed) + " bits=" + std::to_string(frame.dataBits) + " parity=" + parity +
           " stop=" + std::to_string(frame.stopBits);
}

} // namespace zsim
