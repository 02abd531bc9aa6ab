#pragma once
// An exclusive lock between processes on a file of its own (flock), for files that more
// than one program rewrites: each takes the lock, reads, changes and writes, and lets go.

#include <string>

namespace fenwa::platform {

class FileLock {
public:
    FileLock() = default;
    ~FileLock() { unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    enum class Result {
        Locked,
        Busy,  // another process held it the whole time waited
        Failed // the lock file could not be made or opened (errno in error())
    };
    // Takes the lock at `path` (made when missing, never following a link at it), trying
    // for up to `waitMilliseconds`; the lock is never taken from a process that holds it.
    Result lock(const std::string& path, int waitMilliseconds);
    void unlock();
    bool locked() const { return fd_ >= 0; }
    int error() const { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

} // namespace fenwa::platform
