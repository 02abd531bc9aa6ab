#include "filesystem.h"

#include "civiltime.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwa::platform {

namespace {

// Owns an open directory stream.
class DirectoryStream {
public:
    explicit DirectoryStream(const std::string& path)
        : dir_(::opendir(path.empty() ? "." : path.c_str())) {}
    ~DirectoryStream() {
        if (dir_)
            ::closedir(dir_);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

bool isDotOrDotDot(const char* n) {
    return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0));
}

} // namespace

bool isExistingDirectory(const std::string& nativePath) {
    struct stat st {};
    return !nativePath.empty() && ::stat(nativePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const std::string& nativePath) {
    struct stat st {};
    return !nativePath.empty() && ::lstat(nativePath.c_str(), &st) == 0;
}

bool statRegularFile(const std::string& nativePath, int64_t& size, int64_t& mtimeSeconds) {
    struct stat st {};
    if (nativePath.empty() || ::lstat(nativePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = st.st_size;
    mtimeSeconds = st.st_mtim.tv_sec;
    return true;
}

bool forEachFile(const std::string& nativeDirectory,
                 const std::function<void(const FileEntry&)>& onFile) {
    DirectoryStream stream(nativeDirectory);
    if (!stream.get())
        return false;
    int fd = ::dirfd(stream.get());
    while (dirent* e = ::readdir(stream.get())) {
        if (isDotOrDotDot(e->d_name))
            continue;
        // The entry type saves a stat for directories, links and special files.
        if (e->d_type != DT_UNKNOWN && e->d_type != DT_REG)
            continue;
        struct stat st {};
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue; // vanished since the listing, or not a regular file
        FileEntry entry;
        entry.name = e->d_name;
        entry.size = st.st_size;
        entry.mtimeSeconds = st.st_mtim.tv_sec;
        onFile(entry);
    }
    return true;
}

bool forEachSubdirectory(const std::string& nativeDirectory,
                         const std::function<void(std::string_view name)>& onDirectory) {
    DirectoryStream stream(nativeDirectory);
    if (!stream.get())
        return false;
    int fd = ::dirfd(stream.get());
    while (dirent* e = ::readdir(stream.get())) {
        if (e->d_name[0] == '.') // ".", ".." and hidden directories
            continue;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
                continue;
        } else if (e->d_type != DT_DIR) {
            continue;
        }
        onDirectory(e->d_name);
    }
    return true;
}

bool listDirectory(const std::string& nativeDirectory, DirectoryListing& listing) {
    listing.clear();
    DirectoryStream stream(nativeDirectory);
    if (!stream.get())
        return false;
    int fd = ::dirfd(stream.get());
    while (dirent* e = ::readdir(stream.get())) {
        const char* name = e->d_name;
        if (isDotOrDotDot(name))
            continue;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN && name[0] != '.') {
            struct stat st {};
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
                type = DT_DIR;
        }
        if (type == DT_DIR) {
            if (name[0] != '.') // hidden directories are not walked
                listing.subdirectories.emplace_back(name);
        } else if (type == DT_REG || type == DT_UNKNOWN) {
            listing.fileNames.append(name);
            listing.fileNames.push_back('\0');
        }
    }
    return true;
}

bool forEachListedFile(const std::string& nativeDirectory, const DirectoryListing& listing,
                       const std::function<void(const FileEntry&)>& onFile) {
    const int fd = ::open(nativeDirectory.empty() ? "." : nativeDirectory.c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const char* p = listing.fileNames.data();
    const char* end = p + listing.fileNames.size();
    while (p < end) {
        const size_t length = std::strlen(p);
        struct stat st {};
        if (::fstatat(fd, p, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
            FileEntry entry;
            entry.name = std::string_view(p, length);
            entry.size = st.st_size;
            entry.mtimeSeconds = st.st_mtim.tv_sec;
            onFile(entry);
        }
        p += length + 1;
    }
    ::close(fd);
    return true;
}

DirectoryHandle::~DirectoryHandle() {
    close();
}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void DirectoryHandle::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool DirectoryHandle::open(const std::string& nativeDirectory) {
    close();
    fd_ = ::open(nativeDirectory.empty() ? "." : nativeDirectory.c_str(),
                 O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd_ >= 0;
}

bool DirectoryHandle::openChild(const DirectoryHandle& parent, std::string_view name) {
    close();
    if (!parent.isOpen() || name.empty() || name.find('/') != std::string_view::npos)
        return false;
    const std::string text(name);
    fd_ = ::openat(parent.fd_, text.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd_ >= 0;
}

bool DirectoryHandle::identity(uint64_t& device, uint64_t& inode) const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return false;
    device = uint64_t(st.st_dev);
    inode = uint64_t(st.st_ino);
    return true;
}

bool DirectoryHandle::read(const std::function<void(const FileEntry&)>& onFile,
                           std::vector<std::string>& subdirectories) const {
    if (fd_ < 0)
        return false;
    // The stream gets a descriptor of its own: this one stays open for the children.
    const int streamFd = ::dup(fd_);
    if (streamFd < 0)
        return false;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(streamFd), ::closedir);
    if (!dir) {
        ::close(streamFd);
        return false;
    }
    // Back to the first entry: the descriptor shares its position with fd_.
    ::rewinddir(dir.get());
    while (dirent* e = ::readdir(dir.get())) {
        const char* name = e->d_name;
        if (isDotOrDotDot(name))
            continue;
        unsigned char type = e->d_type;
        if (type == DT_DIR) {
            if (name[0] != '.') // hidden directories are not walked
                subdirectories.emplace_back(name);
            continue;
        }
        if (type != DT_REG && type != DT_UNKNOWN)
            continue; // links, FIFOs, sockets, devices
        if (type == DT_REG && !onFile)
            continue;
        // Each file is looked at while its directory is fresh in the caches.
        struct stat st {};
        if (::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // vanished since the reading
        if (S_ISREG(st.st_mode) && onFile) {
            FileEntry entry;
            entry.name = name;
            entry.size = st.st_size;
            entry.mtimeSeconds = st.st_mtim.tv_sec;
            onFile(entry);
        } else if (S_ISDIR(st.st_mode) && name[0] != '.') {
            subdirectories.emplace_back(name);
        }
    }
    return true;
}

namespace {

// The local minute through the C library: the slow path, taken once per hour of time.
bool slowLocalMinute(int64_t seconds, int64_t& minute, long& offset) {
    time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    if (!::localtime_r(&t, &local))
        return false;
    int64_t days = daysFromCivil(int64_t(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday);
    minute = days * 1440 + local.tm_hour * 60 + local.tm_min;
    offset = local.tm_gmtoff;
    return true;
}

int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The zone's offset from UTC for each recently seen hour of time, where it is the same
// at both ends of the hour: files of an archive cluster in time, so most conversions
// are one addition.
struct HourOffsetCache {
    static constexpr size_t Slots = 1024;
    struct Slot {
        int64_t hour = INT64_MIN;
        long offset = 0;
    };
    Slot slots[Slots];
    // The zone the slots were filled under, as tzset() last described it: a change of
    // zone empties the cache.
    long zoneOffset = 0;
    const char* zoneNames[2] = {nullptr, nullptr};

    void followZone() {
        if (zoneOffset == ::timezone && zoneNames[0] == ::tzname[0] && zoneNames[1] == ::tzname[1])
            return;
        for (Slot& slot : slots)
            slot.hour = INT64_MIN;
        zoneOffset = ::timezone;
        zoneNames[0] = ::tzname[0];
        zoneNames[1] = ::tzname[1];
    }
};

thread_local HourOffsetCache hourOffsets;

int32_t clampMinute(int64_t minutes) {
    if (minutes > INT32_MAX || minutes < INT32_MIN)
        return 0;
    return static_cast<int32_t>(minutes);
}

} // namespace

int32_t localMinuteOf(int64_t mtimeSeconds) {
    hourOffsets.followZone();
    const int64_t hour = floorDiv(mtimeSeconds, 3600);
    HourOffsetCache::Slot& slot = hourOffsets.slots[size_t(hour) % HourOffsetCache::Slots];
    if (slot.hour == hour)
        return clampMinute(floorDiv(mtimeSeconds + slot.offset, 60));
    int64_t minute = 0;
    long offset = 0;
    if (!slowLocalMinute(mtimeSeconds, minute, offset))
        return 0;
    // The offset holds for the whole hour only when both ends agree on it and the
    // minute it gives is the library's own (no leap seconds in the zone).
    int64_t startMinute = 0, endMinute = 0;
    long startOffset = 0, endOffset = 0;
    const int64_t start = hour * 3600;
    if (minute == floorDiv(mtimeSeconds + offset, 60) &&
        slowLocalMinute(start, startMinute, startOffset) &&
        slowLocalMinute(start + 3599, endMinute, endOffset) && startOffset == offset &&
        endOffset == offset && startMinute == floorDiv(start + offset, 60) &&
        endMinute == floorDiv(start + 3599 + offset, 60)) {
        slot.hour = hour;
        slot.offset = offset;
    }
    return clampMinute(minute);
}

void initialiseProcess() {
    // Without TZ glibc re-reads /etc/localtime at every conversion; naming the file once
    // lets it cache the zone.
    if (!std::getenv("TZ"))
        ::setenv("TZ", ":/etc/localtime", 1);
    ::tzset();
}

} // namespace fenwa::platform
