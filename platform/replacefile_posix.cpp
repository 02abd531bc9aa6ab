#include "replacefile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include <linux/fs.h>

#include "changestamp.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif
#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

namespace fenwa::platform {

namespace {

// One open descriptor, closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    void reset(int fd) {
        close();
        fd_ = fd;
    }
    // Closes now, reporting the system's answer: a write can fail only here.
    int close() {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int fd_;
};

FileIdentity identityOf(const struct stat& st) {
    return {uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

int64_t nanoseconds(const struct timespec& t) {
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct timespec timespecOf(int64_t ns) {
    struct timespec t {};
    int64_t seconds = ns / 1000000000;
    int64_t rest = ns % 1000000000;
    if (rest < 0) {
        rest += 1000000000;
        --seconds;
    }
    t.tv_sec = time_t(seconds);
    t.tv_nsec = long(rest);
    return t;
}

FileMeta metaOf(const struct stat& st) {
    FileMeta meta;
    meta.mode = uint32_t(st.st_mode);
    meta.uid = uint32_t(st.st_uid);
    meta.gid = uint32_t(st.st_gid);
    meta.atimeNs = nanoseconds(st.st_atim);
    meta.mtimeNs = nanoseconds(st.st_mtim);
    meta.size = int64_t(st.st_size);
    meta.identity = identityOf(st);
    return meta;
}

ActResult succeeded(FileIdentity after = {}) {
    ActResult r;
    r.ok = true;
    r.after = after;
    return r;
}

ActResult failed(ActError error, int sysError = 0, std::string message = {}) {
    ActResult r;
    r.error = error;
    r.sysError = sysError;
    r.message = sysError != 0 && message.empty() ? std::strerror(sysError) : std::move(message);
    return r;
}

// The kind of failure an errno stands for. `whenMissing` is what a vanished entry means
// to the step that met it.
ActResult failedErrno(int e, ActError whenMissing = ActError::Changed) {
    ActError kind = ActError::Io;
    switch (e) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP: // a link at a path opened without following one
        kind = whenMissing;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        kind = ActError::Permission;
        break;
    case ENOSPC:
    case EDQUOT:
        kind = ActError::NoSpace;
        break;
    case EXDEV:
        kind = ActError::CrossDevice;
        break;
    case EEXIST:
    case ENOTEMPTY:
        kind = ActError::Exists;
        break;
    case EOPNOTSUPP:
    case ENOTTY:
        kind = ActError::NotSupported;
        break;
    default:
        break;
    }
    return failed(kind, e);
}

// A path split into its directory's text and its last name; the name is empty when the
// path has none (ends in a slash, or is empty).
struct Entry {
    std::string directory;
    std::string name;
};
Entry splitPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}
bool usableName(const std::string& name) {
    return !name.empty() && name != "." && name != "..";
}

// A directory opened once; every step of an act names its entries relative to it, so
// the acts cannot drift to another directory if the path's text comes to mean one.
int openDirectory(const std::string& path) {
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == EACCES) // a folder one may enter and write but not list
        fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

// Opens a file the user named: never following a link at it, never waiting on a FIFO or
// device, and kept only when it is a regular file. -1 with errno set (EINVAL for a file
// that is not regular). A descriptor only linked or cloned from is left non-blocking.
int openRegular(int dirfd, const char* name, struct stat& st, bool forReading) {
    int fd;
    do
        fd = ::openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int e = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        errno = e;
        return -1;
    }
    // Reads of a regular file wait for the disk as they should: with the flag left on, a
    // file under a lock or on some network file systems could answer "try again".
    const int flags = forReading ? ::fcntl(fd, F_GETFL) : -1;
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// Whether a file seen now is the one planned for: `whenChanged` when it is not.
ActError compare(const struct stat& st, const ExpectedFile& expected, ActError whenChanged) {
    if (identityOf(st) != expected.identity)
        return whenChanged;
    if (!S_ISREG(st.st_mode))
        return ActError::NotRegular;
    if ((expected.size && *expected.size != int64_t(st.st_size)) ||
        (expected.mtimeNs && *expected.mtimeNs != nanoseconds(st.st_mtim)) ||
        (expected.changeStamp &&
         *expected.changeStamp != changeStampOfTimes(st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                                                     st.st_ctim.tv_sec, st.st_ctim.tv_nsec)))
        return whenChanged;
    return ActError::None;
}

// The extended attributes of an open file, or of a path (not following a link at it):
// 0, E2BIG when they come to more than `limit` bytes, or an errno. A file system that
// keeps none answers none.
int readAttributes(int fd, const char* path, std::vector<ExtendedAttribute>& out, size_t limit) {
    out.clear();
    const auto list = [&](char* buffer, size_t size) {
        return fd >= 0 ? ::flistxattr(fd, buffer, size) : ::llistxattr(path, buffer, size);
    };
    const auto get = [&](const char* name, void* buffer, size_t size) {
        return fd >= 0 ? ::fgetxattr(fd, name, buffer, size)
                       : ::lgetxattr(path, name, buffer, size);
    };
    std::string names;
    for (int attempt = 0;; ++attempt) {
        const ssize_t size = list(nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP || errno == ENOSYS ? 0 : errno;
        if (size == 0)
            return 0;
        if (size_t(size) > limit)
            return E2BIG;
        names.resize(size_t(size));
        const ssize_t got = list(names.data(), names.size());
        if (got >= 0) {
            names.resize(size_t(got));
            break;
        }
        if (errno != ERANGE || attempt > 3) // ERANGE: one was added meanwhile
            return errno;
    }
    size_t total = names.size();
    for (size_t at = 0; at < names.size();) {
        const char* name = names.c_str() + at;
        at += std::strlen(name) + 1;
        ExtendedAttribute attribute{name, {}};
        for (int attempt = 0;; ++attempt) {
            const ssize_t size = get(name, nullptr, 0);
            if (size < 0) {
                if (errno == ENODATA) // gone meanwhile
                    break;
                return errno;
            }
            attribute.value.resize(size_t(size));
            const ssize_t got = get(name, attribute.value.data(), attribute.value.size());
            if (got >= 0) {
                attribute.value.resize(size_t(got));
                break;
            }
            if (errno != ERANGE || attempt > 3)
                return errno;
        }
        total += attribute.value.size();
        if (total > limit)
            return E2BIG;
        out.push_back(std::move(attribute));
    }
    return 0;
}

// Gives a file just written the attributes of the one it stands for. Where the file
// system keeps none, or refuses one (a namespace only the system may set, a value too
// large for it), that one is left out; only a failure of the disk itself is an error.
int applyAttributes(int fd, const std::vector<ExtendedAttribute>& attributes) {
    for (const ExtendedAttribute& a : attributes) {
        if (::fsetxattr(fd, a.name.c_str(), a.value.data(), a.value.size(), 0) == 0)
            continue;
        switch (errno) {
        case ENOTSUP:
        case ENOSYS:
        case EPERM:
        case EACCES:
        case EINVAL:
        case E2BIG:
        case ERANGE:
            continue;
        default:
            return errno;
        }
    }
    return 0;
}

} // namespace

// Folders opened once, kept copies opened once, for as long as the acts go on. Bounded:
// when full, all are closed and opened again as needed.
struct ActFolders::Impl {
    struct Folder {
        Fd fd;
        struct stat st {};
        int error = 0; // when it could not be opened
    };
    struct OpenFile {
        Fd fd;
        int error = 0;
    };
    static constexpr size_t MaxOpen = 64;
    std::unordered_map<std::string, Folder> folders;
    std::unordered_map<std::string, OpenFile> keepers;

    // The folder of that text, opened and looked at once; nullptr with errno set.
    const Folder* folder(const std::string& path) {
        auto found = folders.find(path);
        if (found == folders.end()) {
            if (folders.size() >= MaxOpen)
                folders.clear();
            found = folders.try_emplace(path).first;
            Folder& f = found->second;
            f.fd.reset(openDirectory(path));
            if (!f.fd.ok() || ::fstat(f.fd.get(), &f.st) != 0) {
                f.error = errno;
                f.fd.reset(-1);
            }
        }
        if (found->second.error != 0) {
            const int e = found->second.error;
            folders.erase(found); // asked again next time: it may come to exist
            errno = e;
            return nullptr;
        }
        return &found->second;
    }
    // A kept copy opened for reading its blocks, not following a link at it: the
    // descriptor, or -1 with errno (EINVAL: not a regular file).
    int keeper(const std::string& path) {
        auto found = keepers.find(path);
        if (found == keepers.end()) {
            if (keepers.size() >= MaxOpen)
                keepers.clear();
            found = keepers.try_emplace(path).first;
            struct stat st {};
            found->second.fd.reset(openRegular(AT_FDCWD, path.c_str(), st, false));
            found->second.error = found->second.fd.ok() ? 0 : errno;
        }
        if (!found->second.fd.ok()) {
            const int e = found->second.error;
            keepers.erase(found);
            errno = e;
            return -1;
        }
        return found->second.fd.get();
    }
};

ActFolders::ActFolders() : impl_(std::make_unique<Impl>()) {}
ActFolders::~ActFolders() = default;

namespace {

// A name no other program is using: hidden, random, recognisably ours.
std::string temporaryName() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string name = ".fenwa-";
    uint64_t bits = random();
    for (int i = 0; i < 12; ++i, bits >>= 4)
        name += digits[bits & 15];
    return name + ".tmp";
}

// Makes something under a fresh temporary name: `make` returns 0 or an errno; a name
// found taken is never reused, another is drawn.
int makeTemporary(std::string& name, const std::function<int(const char*)>& make) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temporaryName();
        const int e = make(name.c_str());
        if (e != EEXIST)
            return e;
    }
    return EEXIST;
}

int renameAt2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    return ::syscall(SYS_renameat2, fromDir, from, toDir, to, flags) == 0 ? 0 : errno;
}

// Never replaces `to`: renameat2's own check where the file system has it, else a hard
// link (which never replaces) and the removal of the old name; never a plain rename.
int renameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to) {
    const int e = renameAt2(fromDir, from, toDir, to, RENAME_NOREPLACE);
    if (e != EINVAL && e != ENOSYS && e != EOPNOTSUPP)
        return e;
    if (::linkat(fromDir, from, toDir, to, 0) != 0)
        return errno;
    if (::unlinkat(fromDir, from, 0) != 0) {
        const int error = errno;
        ::unlinkat(toDir, to, 0);
        return error;
    }
    return 0;
}

// After an exchange: the entry back under its name and the temporary removed. Exchanged
// again where possible (an entry that is now a directory cannot be renamed over a file);
// else renamed over the temporary, which does nothing when both are one inode, so the
// temporary then goes by hand.
void putBack(int dirfd, const char* temporary, const char* name) {
    if (renameAt2(dirfd, temporary, dirfd, name, RENAME_EXCHANGE) == 0) {
        ::unlinkat(dirfd, temporary, 0);
        return;
    }
    ::renameat(dirfd, temporary, dirfd, name);
    struct stat st {};
    if (::fstatat(dirfd, temporary, &st, AT_SYMLINK_NOFOLLOW) == 0)
        ::unlinkat(dirfd, temporary, 0);
}

// What the entry must still be for the act to replace it: ActError::None when it is.
using EntryCheck = std::function<ActError(int dirfd, const char* name)>;

// Puts the temporary in the entry's place in one step, never replacing anything but the
// checked entry. Where the file system can exchange two names, the two are swapped and
// the entry, now under the temporary name, is checked where nobody can change what the
// name holds; when it is not the file planned for, it is put back where it was. Elsewhere the entry
// is checked just before a plain rename. The temporary is gone afterwards, whatever happened.
// `placed`, when known, is the identity of what the temporary holds.
ActResult swapIn(int dirfd, const std::string& temporary, const std::string& name,
                 const EntryCheck& check, const FileIdentity* placed = nullptr) {
    const char* tmp = temporary.c_str();
    const int e = renameAt2(dirfd, tmp, dirfd, name.c_str(), RENAME_EXCHANGE);
    if (e == 0) {
        if (const ActError error = check(dirfd, tmp); error != ActError::None) {
            putBack(dirfd, tmp, name.c_str());
            return failed(error);
        }
        if (::unlinkat(dirfd, tmp, 0) != 0) {
            const int error = errno;
            putBack(dirfd, tmp, name.c_str());
            return failedErrno(error);
        }
    } else if (e == EINVAL || e == ENOSYS || e == EOPNOTSUPP) {
        if (const ActError error = check(dirfd, name.c_str()); error != ActError::None) {
            ::unlinkat(dirfd, tmp, 0);
            return failed(error);
        }
        if (::renameat(dirfd, tmp, dirfd, name.c_str()) != 0) {
            const int error = errno;
            ::unlinkat(dirfd, tmp, 0);
            return failedErrno(error);
        }
    } else {
        ::unlinkat(dirfd, tmp, 0);
        return failedErrno(e);
    }
    // The folder is not flushed: a crash that undid the rename would leave the file as it
    // was, which is safe, and a flush a file costs a journal commit each (10,000 copies
    // took over a minute that way).
    if (placed)
        return succeeded(*placed);
    struct stat st {};
    ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    return succeeded(identityOf(st));
}

EntryCheck expectedAt(const ExpectedFile& expected) {
    return [expected](int dirfd, const char* name) {
        struct stat st {};
        if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return ActError::Changed;
        return compare(st, expected, ActError::Changed);
    };
}

// The entry an act works on, checked to be the file planned for; its status in `st`.
// The folder's descriptor belongs to the ActFolders it came from.
struct Target {
    int dir = -1;
    struct stat dirSt {};
    std::string name;
    struct stat st {};
};
ActResult openTarget(const std::string& path, const ExpectedFile& expected, Target& target,
                     ActFolders& folders) {
    Entry entry = splitPath(path);
    if (!usableName(entry.name))
        return failed(ActError::NotRegular);
    target.name = std::move(entry.name);
    const ActFolders::Impl::Folder* folder = folders.impl().folder(entry.directory);
    if (!folder)
        return failedErrno(errno);
    target.dir = folder->fd.get();
    target.dirSt = folder->st;
    if (expected.directory != FileIdentity{} && identityOf(folder->st) != expected.directory)
        return failed(ActError::Changed);
    if (::fstatat(target.dir, target.name.c_str(), &target.st, AT_SYMLINK_NOFOLLOW) != 0)
        return failedErrno(errno);
    const ActError error = compare(target.st, expected, ActError::Changed);
    return error == ActError::None ? succeeded() : failed(error);
}

// What the file at `path` (found as `st`) is, for the journal: its status and its
// extended attributes, within what an act keeps.
ActResult describeReplaced(const std::string& path, const struct stat& st, FileMeta& meta) {
    meta = metaOf(st);
    if (const int e = readAttributes(-1, path.c_str(), meta.attributes, MaxKeptAttributeBytes);
        e != 0)
        return e == E2BIG ? failed(ActError::AttributesTooLarge) : failedErrno(e);
    return succeeded();
}

// The file as an act found it, for the check of what the exchange took out: identity,
// size and modification time. Not the status-change time: the exchange itself moves it.
ExpectedFile seenAs(const struct stat& st) {
    ExpectedFile e(identityOf(st));
    e.size = int64_t(st.st_size);
    e.mtimeNs = nanoseconds(st.st_mtim);
    return e;
}

// File systems whose owners and modes are fixed by the mount (a camera card, a stick):
// they refuse chown and some chmod even to root, and keep nothing to lose.
bool ownersFixedByMount(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    switch (uint32_t(fs.f_type)) {
    case 0x4d44:     // vfat, msdos
    case 0x2011BAB0: // exfat
    case 0x5346544e: // ntfs
    case 0x7366746e: // ntfs3
        return true;
    default:
        return false;
    }
}

// The owner a new file is to have. Anybody may try; a user's refusal (EPERM) leaves the
// file theirs, as a copy they made would be. Root is refused only where the file system
// keeps no owners: elsewhere a file that came to belong to root instead of its user
// would be a failure.
int applyOwner(int fd, uint32_t uid, uint32_t gid) {
    if (::fchown(fd, uid_t(uid), gid_t(gid)) == 0)
        return 0;
    const int e = errno;
    return e == EPERM && (::geteuid() != 0 || ownersFixedByMount(fd)) ? 0 : e;
}

// Mode, owner, extended attributes and times of a file just written, then its bytes to
// the disk. The owner comes first: changing it clears the set-user-ID bits the mode may
// set; the attributes after the mode, since a mode changed after an access list would
// change the list's mask.
int finishFile(int fd, const FileMeta& meta) {
    if (const int e = applyOwner(fd, meta.uid, meta.gid); e != 0)
        return e;
    if (::fchmod(fd, mode_t(meta.mode & 07777)) != 0) {
        const int e = errno;
        if (!ownersFixedByMount(fd))
            return e;
    }
    if (const int e = applyAttributes(fd, meta.attributes); e != 0)
        return e;
    const struct timespec times[2] = {timespecOf(meta.atimeNs), timespecOf(meta.mtimeNs)};
    if (::futimens(fd, times) != 0)
        return errno;
    return ::fsync(fd) == 0 ? 0 : errno;
}

// Copies every byte from one descriptor to another, from the start: 0 or an errno (EIO
// when the source ended short of `size`, or grew).
int copyBytes(int from, int to, int64_t size) {
    std::vector<char> buffer(size_t(1) << 20);
    int64_t done = 0;
    for (;;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), off_t(done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(to, buffer.data() + written, size_t(got - written));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            written += put;
        }
        done += got;
    }
    return done == size ? 0 : EIO;
}

// A new regular file under a temporary name in `dirfd`, open for writing, 0600 until
// its own mode is applied.
int createTemporary(int dirfd, std::string& name, Fd& out) {
    int fd = -1;
    const int e = makeTemporary(name, [&](const char* n) {
        fd = ::openat(dirfd, n, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        return fd >= 0 ? 0 : errno;
    });
    if (e == 0)
        out.reset(fd);
    return e;
}

// The name of a file system that cannot clone, for the message.
std::string fileSystemName(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return {};
    switch (uint32_t(fs.f_type)) {
    case 0xEF53:
        return "ext2/ext3/ext4";
    case 0x01021994:
        return "tmpfs";
    case 0x9123683E:
        return "btrfs";
    case 0x58465342:
        return "xfs";
    case 0xF2F52010:
        return "f2fs";
    case 0x4d44:
        return "vfat";
    case 0x2011BAB0:
        return "exfat";
    case 0x5346544e:
        return "ntfs";
    case 0x65735546:
        return "fuse";
    case 0x6969:
        return "nfs";
    case 0xFF534D42:
    case 0xFE534D42:
        return "cifs/smb";
    case 0x794c7630:
        return "overlayfs";
    case 0x2fc12fc1:
        return "zfs";
    case 0xca451a4e:
        return "bcachefs";
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(fs.f_type));
        return text;
    }
    }
}

// A failed clone in the words of its file system.
ActResult cloneFailed(int e, int dirfd) {
    if (e == EOPNOTSUPP || e == ENOTTY || e == EINVAL || e == ENOSYS)
        return failed(ActError::NotSupported, e, fileSystemName(dirfd));
    return failedErrno(e, ActError::KeeperChanged);
}

} // namespace

ExpectedFile ExpectedFile::of(const FileState& state) {
    ExpectedFile e(state.identity);
    e.size = state.size;
    e.mtimeNs = state.mtimeNanoseconds;
    e.directory = state.directory;
    return e;
}

ExpectedFile ExpectedFile::of(const FileMeta& meta) {
    ExpectedFile e(meta.identity);
    e.size = meta.size;
    e.mtimeNs = meta.mtimeNs;
    return e;
}

bool readFileMeta(const std::string& nativePath, FileMeta& meta) {
    struct stat st {};
    if (nativePath.empty() || ::lstat(nativePath.c_str(), &st) != 0)
        return false;
    meta = metaOf(st);
    readAttributes(-1, nativePath.c_str(), meta.attributes, size_t(1) << 30);
    return true;
}

ActWords actErrorWords(ActError error) {
    switch (error) {
    case ActError::None:
        return {"Done.", "完成。"};
    case ActError::Changed:
        return {"The file is no longer the one that was compared; nothing was done.",
                "該檔案已不是比較時的那個檔案, 沒有做任何事。"};
    case ActError::KeeperChanged:
        return {"The kept copy is no longer the file that was compared; nothing was done.",
                "留下的副本已不是比較時的那個檔案, 沒有做任何事。"};
    case ActError::SameFile:
        return {"The file already is the kept copy under another name; nothing was done.",
                "該檔案已是留下的副本的另一個名稱, 沒有做任何事。"};
    case ActError::NotRegular:
        return {"Not a regular file; nothing was done.", "不是一般檔案, 沒有做任何事。"};
    case ActError::CrossDevice:
        return {"The file and the kept copy are on different file systems: they cannot be "
                "linked or cloned.",
                "該檔案與留下的副本在不同的檔案系統上, 無法連結或複製。"};
    case ActError::NotSupported:
        return {"This file system cannot clone files (reflink).",
                "這個檔案系統不支援 reflink 複本。"};
    case ActError::Exists:
        return {"A file of that name is already there; nothing was replaced.",
                "目的地已有同名的檔案, 沒有取代任何檔案。"};
    case ActError::Permission:
        return {"Permission denied.", "沒有權限。"};
    case ActError::NoSpace:
        return {"There is not enough space on the disk.", "磁碟空間不足。"};
    case ActError::AttributesTooLarge:
        return {"The file's extended attributes are too large to keep for Undo; nothing was "
                "done.",
                "該檔案的延伸屬性太大, 無法保留以供復原, 沒有做任何事。"};
    case ActError::Io:
        break;
    }
    return {"The system refused the operation.", "系統拒絕了這個操作。"};
}

bool ActFolders::keeperHolds(const std::string& keeperPath, const ExpectedFile& keeper) {
    const Entry entry = splitPath(keeperPath);
    const Impl::Folder* folder = usableName(entry.name) ? impl_->folder(entry.directory) : nullptr;
    struct stat st {};
    return folder &&
           ::fstatat(folder->fd.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           compare(st, keeper, ActError::KeeperChanged) == ActError::None;
}

bool ActFolders::lookAt(const std::string& path, FileState& state) {
    state = FileState{};
    const Entry entry = splitPath(path);
    const Impl::Folder* folder = usableName(entry.name) ? impl_->folder(entry.directory) : nullptr;
    struct stat st {};
    if (!folder || ::fstatat(folder->fd.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    state.exists = true;
    state.regularFile = S_ISREG(st.st_mode);
    state.size = int64_t(st.st_size);
    state.mtimeSeconds = int64_t(st.st_mtim.tv_sec);
    state.identity = identityOf(st);
    state.changeStamp = changeStampOfTimes(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec,
                                           st.st_ctim.tv_nsec);
    state.directory = identityOf(folder->st);
    state.mtimeNanoseconds = nanoseconds(st.st_mtim);
    return true;
}

ActResult replaceWithHardLink(const std::string& path, const ExpectedFile& expected,
                              const std::string& keeperPath, const ExpectedFile& keeper,
                              ActFolders* folders, FileMeta* replaced) {
    if (expected.identity == keeper.identity)
        return failed(ActError::SameFile);
    ActFolders own;
    ActFolders& open = folders ? *folders : own;
    Target target;
    if (ActResult r = openTarget(path, expected, target, open); !r.ok)
        return r;
    if (uint64_t(target.dirSt.st_dev) != keeper.identity.device)
        return failed(ActError::CrossDevice, EXDEV);
    const Entry kept = splitPath(keeperPath);
    if (!usableName(kept.name))
        return failed(ActError::NotRegular);
    const ActFolders::Impl::Folder* keeperFolder = open.impl().folder(kept.directory);
    if (!keeperFolder)
        return failedErrno(errno, ActError::KeeperChanged);
    if (replaced)
        if (ActResult r = describeReplaced(path, target.st, *replaced); !r.ok)
            return r;

    // The link is made by the kept copy's name in its folder; what it joined is then
    // checked to be the kept copy, as planned (identity, size and time), whatever the
    // name came to mean meanwhile.
    std::string tmp;
    const int e = makeTemporary(tmp, [&](const char* name) {
        return ::linkat(keeperFolder->fd.get(), kept.name.c_str(), target.dir, name, 0) == 0
                   ? 0
                   : errno;
    });
    if (e != 0)
        return failedErrno(e, ActError::KeeperChanged);
    struct stat linked {};
    if (::fstatat(target.dir, tmp.c_str(), &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
        compare(linked, keeper, ActError::KeeperChanged) != ActError::None) {
        ::unlinkat(target.dir, tmp.c_str(), 0);
        return failed(ActError::KeeperChanged);
    }
    const FileIdentity keeperInode = identityOf(linked);
    return swapIn(target.dir, tmp, target.name, expectedAt(seenAs(target.st)), &keeperInode);
}

std::string relativeLinkText(const std::string& linkPath, const std::string& targetPath) {
    if (linkPath.empty() || targetPath.empty() || linkPath[0] != '/' || targetPath[0] != '/')
        return {};
    auto parts = [](const std::string& path) {
        std::vector<std::string> out;
        size_t start = 0;
        while (start <= path.size()) {
            const size_t slash = std::min(path.find('/', start), path.size());
            if (slash > start)
                out.push_back(path.substr(start, slash - start));
            start = slash + 1;
        }
        return out;
    };
    std::vector<std::string> from = parts(linkPath);
    const std::vector<std::string> to = parts(targetPath);
    if (from.empty() || to.empty())
        return {};
    from.pop_back(); // the link's own name: the text is read from its directory
    size_t common = 0;
    while (common < from.size() && common + 1 < to.size() && from[common] == to[common])
        ++common;
    std::string text;
    for (size_t i = common; i < from.size(); ++i)
        text += "../";
    for (size_t i = common; i < to.size(); ++i)
        text += (i > common ? "/" : "") + to[i];
    return text;
}

ActResult replaceWithSymlink(const std::string& path, const ExpectedFile& expected,
                             const std::string& linkText, const ExpectedFile& keeper,
                             ActFolders* folders, FileMeta* replaced) {
    if (linkText.empty())
        return failed(ActError::KeeperChanged);
    // One of the keeper's own names turned into a link could be the only way the link
    // reaches it: a link to itself.
    if (expected.identity == keeper.identity)
        return failed(ActError::SameFile);
    ActFolders own;
    Target target;
    if (ActResult r = openTarget(path, expected, target, folders ? *folders : own); !r.ok)
        return r;
    if (replaced)
        if (ActResult r = describeReplaced(path, target.st, *replaced); !r.ok)
            return r;
    const int dirfd = target.dir;
    std::string tmp;
    const int e = makeTemporary(tmp, [&](const char* name) {
        return ::symlinkat(linkText.c_str(), dirfd, name) == 0 ? 0 : errno;
    });
    if (e != 0)
        return failedErrno(e);
    auto fail = [&](ActResult r) {
        ::unlinkat(dirfd, tmp.c_str(), 0);
        return r;
    };
    // The text is read from the link's directory, as it will be once in place.
    struct stat reached {};
    if (::fstatat(dirfd, tmp.c_str(), &reached, 0) != 0)
        return fail(failed(ActError::KeeperChanged, errno, std::strerror(errno)));
    if (const ActError error = compare(reached, keeper, ActError::KeeperChanged);
        error != ActError::None)
        return fail(failed(error));
    if (::fchownat(dirfd, tmp.c_str(), target.st.st_uid, target.st.st_gid, AT_SYMLINK_NOFOLLOW) !=
            0 &&
        !(errno == EPERM && ::geteuid() != 0))
        return fail(failedErrno(errno));
    const struct timespec times[2] = {target.st.st_atim, target.st.st_mtim};
    if (::utimensat(dirfd, tmp.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(failedErrno(errno));
    return swapIn(dirfd, tmp, target.name, expectedAt(seenAs(target.st)));
}

ActResult canReflink(const std::string& keeperPath, const std::string& targetDirectory) {
    struct stat st {};
    Fd keeper(openRegular(AT_FDCWD, keeperPath.c_str(), st, false));
    if (!keeper.ok())
        return errno == EINVAL ? failed(ActError::NotRegular)
                               : failedErrno(errno, ActError::KeeperChanged);
    Fd dir(openDirectory(targetDirectory));
    if (!dir.ok())
        return failedErrno(errno);
    // A file without a name where the system can make one: nothing is ever left behind.
    Fd probe(::openat(dir.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    std::string named;
    if (!probe.ok()) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return failedErrno(errno);
        if (const int e = createTemporary(dir.get(), named, probe); e != 0)
            return failedErrno(e);
        ::unlinkat(dir.get(), named.c_str(), 0); // open, it still takes the clone
    }
    if (::ioctl(probe.get(), FICLONE, keeper.get()) != 0)
        return cloneFailed(errno, dir.get());
    return succeeded();
}

ActResult replaceWithReflink(const std::string& path, const ExpectedFile& expected,
                             const std::string& keeperPath, const ExpectedFile& keeper,
                             ActFolders* folders, FileMeta* replaced) {
    if (expected.identity == keeper.identity)
        return failed(ActError::SameFile);
    ActFolders own;
    ActFolders& open = folders ? *folders : own;
    Target target;
    if (ActResult r = openTarget(path, expected, target, open); !r.ok)
        return r;
    // The clone stands for the replaced file: its mode, owner, times and attributes.
    FileMeta meta;
    if (ActResult r = describeReplaced(path, target.st, meta); !r.ok)
        return r;
    const int keeperFd = open.impl().keeper(keeperPath);
    if (keeperFd < 0)
        return errno == EINVAL ? failed(ActError::NotRegular)
                               : failedErrno(errno, ActError::KeeperChanged);
    // Checked through the open descriptor: the blocks cloned are this file's.
    const auto keeperAsPlanned = [&] {
        struct stat now {};
        return ::fstat(keeperFd, &now) == 0 &&
               compare(now, keeper, ActError::KeeperChanged) == ActError::None;
    };
    if (!keeperAsPlanned())
        return failed(ActError::KeeperChanged);
    const int dirfd = target.dir;
    std::string tmp;
    Fd clone;
    if (const int e = createTemporary(dirfd, tmp, clone); e != 0)
        return failedErrno(e);
    auto fail = [&](ActResult r) {
        clone.close();
        ::unlinkat(dirfd, tmp.c_str(), 0);
        return r;
    };
    if (::ioctl(clone.get(), FICLONE, keeperFd) != 0)
        return fail(cloneFailed(errno, dirfd));
    struct stat cloned {
    }, keeperNow{};
    if (::fstat(clone.get(), &cloned) != 0 || ::fstat(keeperFd, &keeperNow) != 0 ||
        cloned.st_size != keeperNow.st_size ||
        compare(keeperNow, keeper, ActError::KeeperChanged) != ActError::None)
        return fail(failed(ActError::KeeperChanged));
    if (const int e = finishFile(clone.get(), meta); e != 0)
        return fail(failedErrno(e));
    if (replaced)
        *replaced = meta;
    if (const int e = clone.close(); e != 0)
        return fail(failedErrno(e));
    return swapIn(dirfd, tmp, target.name, expectedAt(seenAs(target.st)));
}

namespace {

// Makes every missing directory of an absolute or relative path, as `mkdir -p` does:
// mode 0777 less the user's umask; each one made is added to `made`. 0 or an errno.
int makeDirectories(const std::string& path, std::vector<MadeFolder>* made) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) == 0)
        return path.empty() || S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && part.back() != '/') {
            if (::mkdir(part.c_str(), 0777) == 0) {
                struct stat madeSt {};
                if (made && ::lstat(part.c_str(), &madeSt) == 0)
                    made->push_back({part, identityOf(madeSt)});
            } else if (errno != EEXIST) {
                return errno;
            }
        }
        if (slash == std::string::npos)
            break;
    }
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// The move across file systems: a copy made whole and flushed under a temporary name,
// given its name without replacing anything, and only then the original's removal.
ActResult copyAcross(Target& source, const ExpectedFile& expected, int toDir,
                     const std::string& toName) {
    const int fromDir = source.dir;
    struct stat st {};
    Fd in(openRegular(fromDir, source.name.c_str(), st, true));
    if (!in.ok())
        return errno == EINVAL ? failed(ActError::NotRegular) : failedErrno(errno);
    if (const ActError error = compare(st, expected, ActError::Changed); error != ActError::None)
        return failed(error);
    std::string tmp;
    Fd out;
    if (const int e = createTemporary(toDir, tmp, out); e != 0)
        return failedErrno(e);
    struct stat made {};
    if (::fstat(out.get(), &made) != 0) {
        const int e = errno;
        out.close();
        ::unlinkat(toDir, tmp.c_str(), 0);
        return failedErrno(e);
    }
    bool named = false;
    auto fail = [&](ActResult r) {
        out.close();
        ::unlinkat(toDir, tmp.c_str(), 0);
        struct stat now {};
        if (named && ::fstatat(toDir, toName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            identityOf(now) == identityOf(made)) // only while it is still the copy made here
            ::unlinkat(toDir, toName.c_str(), 0);
        return r;
    };
    if (const int e = copyBytes(in.get(), out.get(), int64_t(st.st_size)); e != 0)
        return fail(failedErrno(e));
    FileMeta meta = metaOf(st);
    if (const int e = readAttributes(in.get(), nullptr, meta.attributes, size_t(1) << 30); e != 0)
        return fail(failedErrno(e));
    if (const int e = finishFile(out.get(), meta); e != 0)
        return fail(failedErrno(e));
    if (const int e = out.close(); e != 0)
        return fail(failedErrno(e));
    if (const int e = renameNoReplaceAt(toDir, tmp.c_str(), toDir, toName.c_str()); e != 0)
        return fail(failedErrno(e));
    named = true;
    ::fsync(toDir); // the copy's name is on the disk before the original goes
    struct stat placed {};
    if (::fstatat(toDir, toName.c_str(), &placed, AT_SYMLINK_NOFOLLOW) != 0 ||
        identityOf(placed) != identityOf(made) || placed.st_size != st.st_size)
        return fail(failed(ActError::Io, EIO));
    // The original must not have changed while it was copied.
    struct stat now {};
    if (::fstatat(fromDir, source.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        identityOf(now) != identityOf(st) || now.st_size != st.st_size ||
        nanoseconds(now.st_mtim) != nanoseconds(st.st_mtim))
        return fail(failed(ActError::Changed));
    if (::unlinkat(fromDir, source.name.c_str(), 0) != 0)
        return fail(failedErrno(errno));
    return succeeded(identityOf(made));
}

} // namespace

void removeFoldersIfEmpty(const std::vector<MadeFolder>& folders) {
    std::vector<const MadeFolder*> deepestFirst;
    for (const MadeFolder& f : folders)
        deepestFirst.push_back(&f);
    std::stable_sort(
        deepestFirst.begin(), deepestFirst.end(),
        [](const MadeFolder* a, const MadeFolder* b) { return a->path.size() > b->path.size(); });
    for (const MadeFolder* f : deepestFirst) {
        const Entry entry = splitPath(f->path);
        if (!usableName(entry.name))
            continue;
        Fd parent(openDirectory(entry.directory));
        struct stat st {};
        // rmdir refuses a folder that holds anything.
        if (parent.ok() &&
            ::fstatat(parent.get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode) && identityOf(st) == f->identity)
            ::unlinkat(parent.get(), entry.name.c_str(), AT_REMOVEDIR);
    }
}

ActResult moveNoReplace(const std::string& from, const ExpectedFile& expected,
                        const std::string& toPath, std::vector<MadeFolder>* made) {
    ActFolders own;
    Target source;
    if (ActResult r = openTarget(from, expected, source, own); !r.ok)
        return r;
    const Entry to = splitPath(toPath);
    if (!usableName(to.name))
        return failed(ActError::Exists, EEXIST);
    if (const int e = makeDirectories(to.directory, made); e != 0)
        return failedErrno(e);
    Fd toDir(openDirectory(to.directory));
    if (!toDir.ok())
        return failedErrno(errno);

    const int e = renameNoReplaceAt(source.dir, source.name.c_str(), toDir.get(), to.name.c_str());
    if (e == EXDEV)
        return copyAcross(source, expected, toDir.get(), to.name);
    if (e != 0)
        return failedErrno(e);
    // The name was checked just before the rename; what was moved is checked after it,
    // and a file put there in between goes straight back.
    struct stat moved {};
    ::fstatat(toDir.get(), to.name.c_str(), &moved, AT_SYMLINK_NOFOLLOW);
    if (const ActError error = compare(moved, seenAs(source.st), ActError::Changed);
        error != ActError::None) {
        renameNoReplaceAt(toDir.get(), to.name.c_str(), source.dir, source.name.c_str());
        return failed(error);
    }
    return succeeded(identityOf(moved));
}

ActResult restoreIndependentCopy(const std::string& path, const ActLeft& whatIsThereNow,
                                 const std::string& contentSource, const FileMeta& original) {
    const Entry entry = splitPath(path);
    if (!usableName(entry.name))
        return failed(ActError::Changed);
    Fd dir(openDirectory(entry.directory));
    if (!dir.ok())
        return failedErrno(errno);
    const ActLeft left = whatIsThereNow;
    const EntryCheck stillLeft = [left](int dirfd, const char* name) {
        struct stat st {};
        if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            identityOf(st) != left.identity)
            return ActError::Changed;
        if (!left.symlink)
            return S_ISREG(st.st_mode) ? ActError::None : ActError::Changed;
        if (!S_ISLNK(st.st_mode))
            return ActError::Changed;
        std::string text(left.linkText.size() + 1, '\0');
        const ssize_t n = ::readlinkat(dirfd, name, text.data(), text.size());
        return n >= 0 && size_t(n) == left.linkText.size() &&
                       text.compare(0, size_t(n), left.linkText) == 0
                   ? ActError::None
                   : ActError::Changed;
    };
    if (const ActError error = stillLeft(dir.get(), entry.name.c_str()); error != ActError::None)
        return failed(error);

    struct stat st {};
    Fd in(openRegular(AT_FDCWD, contentSource.c_str(), st, true));
    if (!in.ok())
        return errno == EINVAL ? failed(ActError::NotRegular)
                               : failedErrno(errno, ActError::KeeperChanged);
    std::string tmp;
    Fd out;
    if (const int e = createTemporary(dir.get(), tmp, out); e != 0)
        return failedErrno(e);
    // Plain reads and writes: a copy the system might clone would share the source's data
    // again, and the file given back is to stand on its own as it did.
    int e = copyBytes(in.get(), out.get(), int64_t(st.st_size));
    if (e == 0)
        e = finishFile(out.get(), original);
    if (const int closed = out.close(); e == 0)
        e = closed;
    if (e != 0) {
        ::unlinkat(dir.get(), tmp.c_str(), 0);
        return failedErrno(e, ActError::KeeperChanged);
    }
    return swapIn(dir.get(), tmp, entry.name, stillLeft);
}

} // namespace fenwa::platform
