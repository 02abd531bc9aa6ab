#include "readfile.h"

#include "filesystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwa::platform {

const char* readFileErrorText(ReadFileError error) {
    switch (error) {
    case ReadFileError::None:
        return "read";
    case ReadFileError::Missing:
        return "no such file";
    case ReadFileError::NotRegularFile:
        return "not a regular file";
    case ReadFileError::TooLarge:
        return "file too large";
    case ReadFileError::Unreadable:
        return "cannot be read";
    }
    return "cannot be read";
}

RegularFile::~RegularFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        size_ = other.size_;
        position_ = other.position_;
        other.fd_ = -1;
    }
    return *this;
}

ReadFileError RegularFile::open(const std::string& nativePath) {
    *this = RegularFile();
    if (nativePath.empty())
        return ReadFileError::Missing;
    // O_NONBLOCK: opening a FIFO with no writer, or a device waiting for a carrier,
    // returns at once instead of waiting. O_NOCTTY: a terminal never becomes ours.
    int fd;
    do
        fd = ::open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    return adopt(fd);
}

ReadFileError RegularFile::openIn(const DirectoryHandle& directory, std::string_view name) {
    *this = RegularFile();
    if (!directory.isOpen() || name.empty() || name.find('/') != std::string_view::npos)
        return ReadFileError::Missing;
    const std::string text(name);
    int fd;
    do
        fd = ::openat(directory.fd_, text.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    return adopt(fd);
}

// Keeps a descriptor just opened when it is a regular file.
ReadFileError RegularFile::adopt(int fd) {
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadFileError::Missing
                                                   : ReadFileError::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return ReadFileError::Unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadFileError::NotRegularFile;
    }
    // The non-blocking flag stays on: a regular file's reads wait for the disk whatever it
    // says, but for a file under a lock or on some network file systems, which answer
    // "try again" instead (see waitsFromNowOn). Clearing it here would cost two calls a
    // file, a tenth of a content search's system calls.
    fd_ = fd;
    size_ = int64_t(st.st_size);
    return ReadFileError::None;
}

// A read that answered "try again": from now on the descriptor's reads wait. False when
// that cannot be done (the read then fails).
bool RegularFile::waitsFromNowOn() {
    const int flags = ::fcntl(fd_, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0 &&
           ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

int64_t RegularFile::readAt(void* buffer, size_t count, int64_t offset, size_t enough) {
    if (fd_ < 0)
        return -1;
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd_, out + done, count - done, off_t(offset + int64_t(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitsFromNowOn())
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += size_t(got);
        if (done >= enough)
            break;
    }
    return int64_t(done);
}

void RegularFile::willReadInOrder() {
    if (fd_ >= 0)
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void RegularFile::willReadOnlyParts() {
    if (fd_ >= 0)
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_RANDOM);
}

int64_t RegularFile::read(void* buffer, size_t count) {
    if (fd_ < 0)
        return -1;
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd_, out + done, count - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitsFromNowOn())
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += size_t(got);
    }
    position_ += int64_t(done);
    return int64_t(done);
}

} // namespace fenwa::platform
