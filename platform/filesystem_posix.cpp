#include "changestamp.h"
#include "filesystem.h"

#include "civiltime.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
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
    return changeStampOfTimes(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec,
                              st.st_ctim.tv_nsec);
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

namespace {

// File systems that show another system's files: FUSE, network and cluster file systems.
// Their status-change times and inode numbers are whatever they report. An overlay keeps
// its layers' real times, and shows a lower layer's file with its inode number, so it is
// told by the file's numbers (oneFile), not here.
bool untrustedKind(int64_t type) {
    switch (uint32_t(type)) {
    case 0x65735546u: // FUSE (sshfs, bindfs, GVFS, virtiofs)
    case 0x6969u:     // NFS
    case 0x517Bu:     // SMB
    case 0xFF534D42u: // CIFS
    case 0xFE534D42u: // SMB2
    case 0x01021997u: // 9p
    case 0x00C36400u: // Ceph
    case 0x5346414Fu: // AFS
    case 0x6B414653u: // kAFS
    case 0x73757245u: // Coda
    case 0x564Cu:     // NCP
    case 0x01161970u: // GFS2
    case 0x0BD00BD0u: // Lustre
    case 0x786F4256u: // VirtualBox shared folders
        return true;
    default:
        return false;
    }
}

// Undoes the mount table's octal escapes ("\040" for a space).
std::string unescapeMountText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3' &&
            text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7') {
            out += char((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The local folder a mount's source names, or empty: a path, or a path on this machine
// reached through the network ("localhost:/path", "user@127.0.0.1:/path").
std::string localSource(const std::string& source) {
    if (!source.empty() && source.front() == '/')
        return source;
    std::string rest = source;
    const size_t at = rest.find('@');
    if (at != std::string::npos && at < rest.find(':'))
        rest = rest.substr(at + 1);
    for (const char* host : {"localhost:", "127.0.0.1:", "[::1]:"}) {
        const std::string prefix(host);
        if (rest.compare(0, prefix.size(), prefix) == 0 && rest.size() > prefix.size() &&
            rest[prefix.size()] == '/')
            return rest.substr(prefix.size());
    }
    return {};
}

bool isUnder(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/")
        return !path.empty() && path.front() == '/';
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}

} // namespace

bool changeTimeTrusted(const std::string& nativePath) {
    struct statfs fs {};
    return !nativePath.empty() && ::statfs(nativePath.c_str(), &fs) == 0 &&
           !untrustedKind(int64_t(fs.f_type));
}

bool changeTimeTrusted(int fd) {
    struct statfs fs {};
    return fd >= 0 && ::fstatfs(fd, &fs) == 0 && !untrustedKind(int64_t(fs.f_type));
}

std::string mirroredPath(const std::string& nativePath) {
    struct stat st {};
    if (nativePath.empty() || ::lstat(nativePath.c_str(), &st) != 0)
        return {};
    // The path as the mount table spells it: its folder with every link resolved.
    char* resolved = ::realpath(parentOf(nativePath).c_str(), nullptr);
    if (!resolved)
        return {};
    std::string real(resolved);
    std::free(resolved);
    const size_t slash = nativePath.find_last_of('/');
    const std::string name = slash == std::string::npos ? nativePath : nativePath.substr(slash + 1);
    if (name != "." && name != ".." && !name.empty())
        real += (real == "/" ? "" : "/") + name;

    std::ifstream table("/proc/self/mountinfo");
    const std::string device =
        std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    std::string line, best, bestPoint;
    bool found = false;
    while (std::getline(table, line)) {
        // id parent major:minor root mount-point options [optional...] - type source ...
        std::istringstream fields(line);
        std::string id, parent, numbers, root, point, options, field, type, source;
        if (!(fields >> id >> parent >> numbers >> root >> point >> options) || numbers != device)
            continue;
        while (fields >> field && field != "-") {
        }
        if (!(fields >> type >> source))
            continue;
        point = unescapeMountText(point);
        if (!isUnder(real, point) || (found && point.size() <= bestPoint.size()))
            continue;
        const std::string local = localSource(unescapeMountText(source));
        found = true;
        bestPoint = point;
        if (local.empty()) {
            best.clear();
            continue;
        }
        root = unescapeMountText(root);
        best = local + (root == "/" ? std::string() : root) +
               (point == "/" ? real : real.substr(point.size()));
    }
    if (best.size() > 1 && best.back() == '/')
        best.pop_back();
    return best;
}

bool oneFile(const FileState& a, const FileState& b) {
    if (!a.exists || !b.exists)
        return false;
    if (a.identity == b.identity)
        return true;
    const FileIdentity none{};
    if (a.mirrorOf != none && (a.mirrorOf == b.identity || a.mirrorOf == b.mirrorOf))
        return true;
    if (b.mirrorOf != none && b.mirrorOf == a.identity)
        return true;
    return a.identity.device != b.identity.device && a.identity.inode == b.identity.inode &&
           a.size == b.size && a.mtimeNanoseconds == b.mtimeNanoseconds;
}

uint64_t changeStampOfTimes(int64_t mtimeSeconds, int64_t mtimeNanoseconds, int64_t ctimeSeconds,
                            int64_t ctimeNanoseconds) {
    // A 64-bit mix of both times; the low bit keeps it from ever being 0 ("not known").
    uint64_t h = uint64_t(mtimeSeconds) * 0x9E3779B97F4A7C15ull;
    h ^= uint64_t(mtimeNanoseconds) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
    h ^= uint64_t(ctimeSeconds) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
    h ^= uint64_t(ctimeNanoseconds) + 0x165667B19E3779F9ull + (h << 6) + (h >> 2);
    return h | 1;
}

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
    state.mtimeNanoseconds = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    struct stat ds {};
    if (::stat(parentOf(nativePath).c_str(), &ds) == 0)
        state.directory = {uint64_t(ds.st_dev), uint64_t(ds.st_ino)};
    // Through a chain of mirror mounts to the file they show; bounded, so that a mount
    // naming itself cannot keep this going.
    std::string path = nativePath;
    for (int hop = 0; hop < 8 && !changeTimeTrusted(path); ++hop) {
        path = mirroredPath(path);
        struct stat ms {};
        if (path.empty() || ::lstat(path.c_str(), &ms) != 0)
            break;
        state.mirrorOf = {uint64_t(ms.st_dev), uint64_t(ms.st_ino)};
    }
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
    // Where the status-change time is made up, an edit need not change the stamp.
    if (fd >= 0 ? !changeTimeTrusted(fd) : !changeTimeTrusted(nativePath))
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
    // lets it cache the zone. The zone itself is read at the first conversion, so that a
    // command that converts no time does not read it.
    if (!std::getenv("TZ"))
        ::setenv("TZ", ":/etc/localtime", 1);
}

} // namespace fenwa::platform
