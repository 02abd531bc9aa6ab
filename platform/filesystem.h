#pragma once
// The file-system facilities the scanner and the directory list need, over native
// byte paths. Only regular files and real directories are reported: symbolic links
// are neither listed nor followed, and FIFOs, sockets and devices are skipped.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fenwa::platform {

// True when the system reports the path as an existing directory (following a link
// the user typed, as the shell would).
bool isExistingDirectory(const std::string& nativePath);

// What a file is, not how its path is spelled: its device and inode. Hard links share
// one; two spellings of one directory (a link, a bind mount, "..") do too.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct FileIdentityHash {
    size_t operator()(const FileIdentity& id) const {
        return size_t(id.device * 0x9E3779B97F4A7C15ull ^ id.inode);
    }
};

struct FileEntry {
    std::string_view name; // valid only during the callback
    int64_t size = 0;
    int64_t mtimeSeconds = 0; // seconds since the epoch, UTC
    FileIdentity identity;
    // Changes whenever the file's data or status changes: its modification and
    // status-change times to the nanosecond, folded into one number. Never 0.
    uint64_t changeStamp = 0;
};

// A file as the disk shows it now, for the checks made at the moment of an action. The
// path itself is looked at (a link is not followed); its directory is identified too, so
// that two spellings of one directory entry can be told from two entries.
struct FileState {
    bool exists = false;      // something is at the path
    bool regularFile = false; // and it is a regular file
    int64_t size = 0;
    int64_t mtimeSeconds = 0;
    FileIdentity identity;
    uint64_t changeStamp = 0;
    FileIdentity directory;       // the identity of the directory holding the entry
    int64_t mtimeNanoseconds = 0; // the modification time to the nanosecond
    // On a FUSE or network mount that shows a local folder: the file it shows there (the
    // last of a chain of such mounts); zero elsewhere.
    FileIdentity mirrorOf;
};
bool statFileNow(const std::string& nativePath, FileState& state);

// Whether two files seen now are one file however they are reached: one device and
// inode; one shown through a mirror mount of the other (or both of a third); or, on
// different devices, the same inode, size and modification time to the nanosecond, as a
// mount passing a file through shows it. Deleting either deletes both: neither is ever
// the other's copy.
bool oneFile(const FileState& a, const FileState& b);

// Whether the file system holding a path (or an open file) keeps a status-change time and
// an identity of its own for every file, changed whenever the file is. FUSE and network
// file systems (NFS, SMB, 9p, ...) show another system's files and may make both up: nothing keyed
// on them may be trusted to notice a change. False when the path cannot be looked at.
bool changeTimeTrusted(const std::string& nativePath);
bool changeTimeTrusted(int fd);

// The local path a FUSE or network mount shows at `nativePath`, as the mount table
// names its source (a local path, or one on "localhost:"); empty when the path is on no
// such mount or its source is not a local path.
std::string mirroredPath(const std::string& nativePath);

// Whether a file, by its open descriptor (fd >= 0) or else by its path, still is the
// regular file a cache key describes and last changed at least `settleSeconds` ago. File
// times tick coarsely: a change made just after a read can leave them as they were, so
// what was read from a file changed that recently is not worth keeping.
bool fileSettled(int fd, const std::string& nativePath, const FileIdentity& identity, int64_t size,
                 uint64_t changeStamp, int settleSeconds);

// The identities of a directory and of each directory above it, up to its file system's
// root and on through the mounts above, as ".." leads from it: one link or bind mount
// of the directory gives the same list from where it is found. Empty when the path is not
// an existing directory (a link the user typed is followed).
std::vector<FileIdentity> directoryAncestry(const std::string& nativePath);

// Calls onDirectory with the name of every subdirectory that is not hidden (a name
// beginning with ".") and is a real directory, not a link to one.
bool forEachSubdirectory(const std::string& nativeDirectory,
                         const std::function<void(std::string_view name)>& onDirectory);

// An open directory, for walks whose paths may be longer than the system accepts:
// a subdirectory is opened relative to its parent by name alone. Moves, never copies.
class DirectoryHandle {
public:
    DirectoryHandle() = default;
    ~DirectoryHandle();
    DirectoryHandle(DirectoryHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    void close();

    // Opens a directory by its text (a link the user typed is followed).
    bool open(const std::string& nativeDirectory);
    // Opens the subdirectory `name` of `parent`; a name that is now a link, a file or
    // gone is not opened.
    bool openChild(const DirectoryHandle& parent, std::string_view name);

    // The device and inode, telling one directory reached twice (another spelling, a
    // bind mount) from another.
    bool identity(FileIdentity& id) const;

    // One reading of the directory: onFile for every regular file, in the system's
    // enumeration order, hidden files included; the names of the subdirectories that
    // are not hidden and are real directories, not links, appended to `subdirectories`.
    // Without onFile only the subdirectories are looked for.
    bool read(const std::function<void(const FileEntry&)>& onFile,
              std::vector<std::string>& subdirectories) const;

private:
    friend class RegularFile; // opens a file by its name in the directory
    int fd_ = -1;
};

// True when something exists at the path (a link counts, whatever it points to).
bool pathExists(const std::string& nativePath);

// Local time of a modification time, as whole minutes since 1970-01-01 00:00 local time.
// The seconds are dropped, so two times within the same local minute are equal.
int32_t localMinuteOf(int64_t mtimeSeconds);

// One-time process set-up that makes local-time conversion cheap (a cached zone).
void initialiseProcess();

} // namespace fenwa::platform
