#include "frontend/brannic.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Descriptors 0, 1 and 2 stay the standard streams for the whole run: one that the caller left closed
// is opened on /dev/null, so that no device node or file the tool opens later takes its number (the
// console text would go into it, answers would be read from it). False when one cannot be opened.
bool keepStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = open("/dev/null", O_RDWR);
        if (opened < 0)
            return false;
        // The lowest free number is this one, since every lower one is open by now.
        if (opened != fd) {
            const bool moved = dup2(opened, fd) == fd;
            close(opened);
            if (!moved)
                return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Without its standard descriptors the tool does nothing at all rather than risk writing its text into
    // a device.
    if (!keepStandardDescriptors())
        return 1;
    return brannicMain(argc, argv);
}
