#include "osal/osalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor unless it was handed over to a stream.
class Descriptor {
  public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }
    int release() {
        const int descriptor = descriptor_;
        descriptor_ = -1;
        return descriptor;
    }

  private:
    int descriptor_;
};

} // namespace

FILE* osal_openRegularFileForWrite(const char* path, bool truncate) {
    if (path == nullptr || path[0] == '\0')
        return nullptr;
    // No O_TRUNC here: the file is emptied only once it is known to be a regular file. O_NONBLOCK keeps
    // the open of a FIFO from waiting for a reader; it has no effect on a regular file and is cleared.
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (truncate ? 0 : O_APPEND);
    Descriptor file(::open(path, flags, 0666));
    if (file.get() < 0)
        return nullptr;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    if (::fcntl(file.get(), F_SETFL, truncate ? 0 : O_APPEND) != 0)
        return nullptr;
    if (truncate && ::ftruncate(file.get(), 0) != 0)
        return nullptr;
    FILE* stream = ::fdopen(file.get(), truncate ? "wb" : "ab");
    if (stream != nullptr)
        file.release();
    return stream;
}
