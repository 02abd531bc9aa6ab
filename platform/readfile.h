#pragma once
// Reading a file's bytes for display or comparison without ever blocking on what the
// path names. A path can be swapped between a listing and a read: a FIFO with no writer
// would block a plain open for good, a device could be read forever. The file is opened
// once, without blocking, checked on the descriptor to be a regular file, and read from
// that descriptor only. Plain C++: the GIF codec uses it too.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fenwa::platform {

class DirectoryHandle;

enum class ReadFileError {
    None,
    Missing,        // nothing at the path (or a directory on the way is missing)
    NotRegularFile, // a directory, FIFO, socket or device: never read
    TooLarge,       // longer than the caller's bound
    Unreadable,     // no permission, or the read failed
};

// A short English reason for a message, e.g. "not a regular file".
const char* readFileErrorText(ReadFileError error);

// One regular file, open for reading. Moves, never copies.
class RegularFile {
public:
    RegularFile() = default;
    ~RegularFile();
    RegularFile(RegularFile&& other) noexcept
        : fd_(other.fd_), size_(other.size_), position_(other.position_) {
        other.fd_ = -1;
    }
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // Opens the path (a link is followed, as the user's own programs would) without
    // waiting for a writer or a device, then keeps it only if the descriptor is a
    // regular file.
    ReadFileError open(const std::string& nativePath);
    // The same for the entry `name` of an open directory: one name looked up, not a path.
    ReadFileError openIn(const DirectoryHandle& directory, std::string_view name);
    bool isOpen() const { return fd_ >= 0; }
    // For the checks that take one (platform::fileSettled, changeTimeTrusted).
    int descriptor() const { return fd_; }
    // The length when opened.
    int64_t size() const { return size_; }

    // Reads from the current position until `count` bytes or the end of the file:
    // the bytes read, -1 on an error.
    int64_t read(void* buffer, size_t count);
    // Reads up to `count` bytes at `offset`, leaving the position alone; it stops once
    // `enough` bytes are in (on a regular file a short read is its end, so asking again
    // would only cost a call answering 0). The bytes read, -1 on an error.
    int64_t readAt(void* buffer, size_t count, int64_t offset, size_t enough = SIZE_MAX);
    // Tells the system the file will be read from start to end.
    void willReadInOrder();
    // Tells the system only the parts asked for will be read, so that nothing around
    // them is read ahead from the disk.
    void willReadOnlyParts();

    // Appends at most `count` further bytes to `bytes` (a QByteArray, std::string or
    // std::vector<uint8_t>).
    template <class Bytes> ReadFileError readSome(Bytes& bytes, int64_t count);
    // Appends the rest of the file, as long as the whole of `bytes` stays within
    // maxBytes; TooLarge otherwise. Memory beyond the length found at open is taken only
    // as a growing file needs it.
    template <class Bytes> ReadFileError readRest(Bytes& bytes, int64_t maxBytes);

private:
    ReadFileError adopt(int fd);
    bool waitsFromNowOn();

    int fd_ = -1;
    int64_t size_ = 0;
    int64_t position_ = 0;
};

// The whole of a regular file of at most maxBytes; `fileSize`, when given, gets its
// length whenever it could be opened.
template <class Bytes>
ReadFileError readRegularFile(const std::string& nativePath, int64_t maxBytes, Bytes& bytes,
                              int64_t* fileSize = nullptr) {
    bytes.clear();
    RegularFile file;
    if (const ReadFileError error = file.open(nativePath); error != ReadFileError::None)
        return error;
    if (fileSize)
        *fileSize = file.size();
    if (file.size() > maxBytes)
        return ReadFileError::TooLarge; // refused before anything is allocated
    return file.readRest(bytes, maxBytes);
}

template <class Bytes> ReadFileError RegularFile::readSome(Bytes& bytes, int64_t count) {
    // Memory for what the file held at open and one byte more, which meets the end; a
    // file that has grown since is read on in small steps.
    int64_t step = std::max<int64_t>(size_ - position_, 0) + 1;
    while (count > 0) {
        const int64_t want = std::min(count, step);
        const int64_t used = int64_t(bytes.size());
        bytes.resize(decltype(bytes.size())(used + want));
        const int64_t got = read(bytes.data() + used, size_t(want));
        bytes.resize(decltype(bytes.size())(used + std::max<int64_t>(got, 0)));
        if (got < 0)
            return ReadFileError::Unreadable;
        if (got < want)
            break; // the end of the file
        count -= got;
        step = 65536;
    }
    return ReadFileError::None;
}

template <class Bytes> ReadFileError RegularFile::readRest(Bytes& bytes, int64_t maxBytes) {
    const int64_t used = int64_t(bytes.size());
    if (used > maxBytes)
        return ReadFileError::TooLarge;
    // One byte past the bound tells a file that is too long from one that just fits.
    if (const ReadFileError error = readSome(bytes, maxBytes + 1 - used);
        error != ReadFileError::None)
        return error;
    return int64_t(bytes.size()) > maxBytes ? ReadFileError::TooLarge : ReadFileError::None;
}

} // namespace fenwa::platform
