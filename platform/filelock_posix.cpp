#include "filelock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

namespace fenwa::platform {

FileLock::Result FileLock::lock(const std::string& path, int waitMilliseconds) {
    unlock();
    error_ = 0;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = errno;
        return Result::Failed;
    }
    for (int waited = 0;; waited += 10) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            return Result::Locked;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error_ = errno;
            ::close(fd);
            return Result::Failed;
        }
        if (waited >= waitMilliseconds) {
            ::close(fd);
            return Result::Busy;
        }
        const struct timespec pause { 0, 10 * 1000 * 1000 };
        ::nanosleep(&pause, nullptr);
    }
}

void FileLock::unlock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the only descriptor lets the lock go
    fd_ = -1;
}

} // namespace fenwa::platform
