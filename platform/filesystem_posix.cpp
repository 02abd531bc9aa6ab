#include "filesystem.h"

#include "civiltime.h"

#include <algorithm>
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

namespace {

uint64_t changeStampOf(const struct stat& st) {
    // A 64-bit mix of both times; the low bit keeps it from ever being 0 ("not known").
    uint64_t h = uint64_t(st.st_mtim.tv_sec) * 0x9E3779B97F4A7C15ull;
    h ^= uint64_t(st.st_mtim.tv_nsec) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
    h ^= uint64_t(st.st_ctim.tv_sec) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
    h ^= uint64_t(st.st_ctim.tv_nsec) + 0x165667B19E3779F9ull + (h << 6) + (h >> 2);
    return h | 1;
}

FileEntry entryOf(const char* name, const struct stat& st) {
    FileEntry entry;
    entry.name = name;
    entry.size = st.st_size;
    entry.mtimeSeconds = st.st_mtim.tv_sec;
    entry.identity = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    entry.changeStamp = changeStampOf(st);
    return entry;
}

} // namespace

bool statFileNow(const std::string& nativePath, FileState& state) {
    state = FileState{};
    struct stat st {};
    if (nativePath.empty() || ::lstat(nativePath.c_str(), &st) != 0)
        return false;
    state.exists = true;
    state.regularFile = S_ISREG(st.st_mode);
    state.size = st.st_size;
    state.mtimeSeconds = st.st_mtim.tv_sec;
    state.identity = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    state.changeStamp = changeStampOf(st);
    const size_t slash = nativePath.find_last_of('/');
    const std::string directory = slash == std::string::npos ? std::string(".")
                                  : slash == 0               ? std::string("/")
                                                             : nativePath.substr(0, slash);
    struct stat ds {};
    if (::stat(directory.c_str(), &ds) == 0)
        state.directory = {uint64_t(ds.st_dev), uint64_t(ds.st_ino)};
    return true;
}

bool fileSettled(int fd, const std::string& nativePath, const FileIdentity& identity, int64_t size,
                 uint64_t changeStamp, int settleSeconds) {
    struct stat st {};
    if ((fd >= 0 ? ::fstat(fd, &st) : ::lstat(nativePath.c_str(), &st)) != 0)
        return false;
    if (!S_ISREG(st.st_mode) || st.st_size != size || uint64_t(st.st_dev) != identity.device ||
        uint64_t(st.st_ino) != identity.inode || changeStampOf(st) != changeStamp)
        return false;
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto nanoseconds = [](const struct timespec& t) {
        return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    const int64_t changed = std::max(nanoseconds(st.st_mtim), nanoseconds(st.st_ctim));
    return nanoseconds(now) - changed >= int64_t(settleSeconds) * 1000000000;
}

std::vector<FileIdentity> directoryAncestry(const std::string& nativePath) {
    std::vector<FileIdentity> chain;
    int fd =
        ::open(nativePath.empty() ? "." : nativePath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Bounded, so that a file system answering strangely cannot keep this going.
    for (int level = 0; fd >= 0 && level < 65536; ++level) {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            break;
        const FileIdentity id{uint64_t(st.st_dev), uint64_t(st.st_ino)};
        if (!chain.empty() && chain.back() == id)
            break; // ".." of the root is the root
        chain.push_back(id);
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
    }
    if (fd >= 0)
        ::close(fd);
    return chain;
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

bool DirectoryHandle::identity(FileIdentity& id) const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return false;
    id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
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
            onFile(entryOf(name, st));
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
