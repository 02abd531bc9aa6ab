#pragma once
// Acting on a duplicate without deleting it: moving it to another folder, or putting in
// its place a hard link, a symbolic link or a reflink clone of the copy that is kept, and
// giving back an independent file when such an act is undone.
//
// Every act works on one directory entry, opened through its directory once, and follows
// one pattern: the new thing is made under a temporary name of its own in the same
// directory (never a name anybody else could have taken), checked, and then renamed over
// the entry in one step. Until that rename the entry is untouched; when anything fails on
// the way the temporary is removed and the entry is left as it was. Just before the
// rename the entry is checked to still be the file the caller planned for: another file
// put there meanwhile (another inode, or the same one rewritten) is never replaced.
//
// Paths are native bytes. Nothing here follows a symbolic link at the acted-on path; the
// kept copy ("keeper") is opened without following one either.
//
// Words: this layer does not choose a language. A result carries its kind of failure and
// the system's error; actErrorWords() gives the sentence for each kind in both interface
// languages, for the caller to pick with say() (search/uitext.h) and to follow with
// `message`, the system's own words.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "filesystem.h"

namespace fenwa::platform {

// An extended attribute of a file (POSIX ACLs are kept as such): name and value bytes.
struct ExtendedAttribute {
    std::string name;
    std::string value;
    friend bool operator==(const ExtendedAttribute&, const ExtendedAttribute&) = default;
};

// The most bytes of extended attributes (names and values together) an act keeps of a
// file it replaces, so that Undo can give them back; a file with more is not replaced.
constexpr size_t MaxKeptAttributeBytes = 16 * 1024;

// What an act keeps of a file and what undoing it puts back: read without following a
// link at the path (lstat).
struct FileMeta {
    uint32_t mode = 0; // st_mode, type bits included
    uint32_t uid = 0;
    uint32_t gid = 0;
    int64_t atimeNs = 0; // nanoseconds since 1970 (UTC)
    int64_t mtimeNs = 0;
    int64_t size = 0;
    FileIdentity identity;
    // Where the file system keeps them; empty where it has none.
    std::vector<ExtendedAttribute> attributes;
};
bool readFileMeta(const std::string& nativePath, FileMeta& meta);

// The file an act was planned for. The identity always has to match, and the entry has to
// be a regular file; the size and modification time, when given, have to match too, so a
// file rewritten in place since it was compared is not taken for the copy it was; the
// directory, when given (non-zero), has to be the one holding the entry. The status-change
// time is not compared: every link made to a kept file changes its own, so the second
// copy of a group would find its keeper "changed".
struct ExpectedFile {
    FileIdentity identity;
    std::optional<int64_t> size;
    std::optional<int64_t> mtimeNs;
    // FileState::changeStamp as a search recorded it: both times to the nanosecond.
    std::optional<uint64_t> changeStamp;
    FileIdentity directory;

    ExpectedFile() = default;
    ExpectedFile(const FileIdentity& id) : identity(id) {} // NOLINT: an identity alone will do
    // Everything a FileState tells: identity, size, time to the nanosecond, directory.
    static ExpectedFile of(const FileState& state);
    static ExpectedFile of(const FileMeta& meta);
};

enum class ActError {
    None,
    Changed,       // the path is no longer the file expected (gone, another file, rewritten)
    KeeperChanged, // the kept copy is no longer the file expected
    SameFile,      // the path already is the kept copy (one inode): nothing to replace
    NotRegular,    // the path or the kept copy is not a regular file
    CrossDevice,   // a hard link or clone across file systems
    NotSupported,  // this file system cannot clone (message names it)
    Exists,        // the move's target name is taken
    Permission,
    NoSpace,            // no room, or over quota
    AttributesTooLarge, // more extended attributes than an act keeps for Undo
    Io,                 // any other failure of the system (message says which)
};

// A sentence for each kind of failure, in both interface languages.
struct ActWords {
    const char* english;
    const char* chinese;
};
ActWords actErrorWords(ActError error);

struct ActResult {
    bool ok = false;
    ActError error = ActError::None;
    int sysError = 0;    // errno of the failing call, 0 when the failure is a check's
    std::string message; // the system's words for sysError, or the file system's name for
                         // NotSupported; empty on success
    // On success, what is at the acted-on entry now (for a move: at its new path); for a
    // symbolic link, the link itself.
    FileIdentity after;
};

// Many acts in a row, as a plan is carried out: each folder is opened once (and checked
// once), each kept copy looked up through its open folder instead of by its whole path,
// a kept copy read for clones opened once. Holds a bounded number of open descriptors
// until it goes. An act given none makes one of its own.
class ActFolders {
public:
    ActFolders();
    ~ActFolders();
    ActFolders(const ActFolders&) = delete;
    ActFolders& operator=(const ActFolders&) = delete;

    // Whether the kept copy at `keeperPath` still is `keeper` (a regular file of that
    // identity, size and time): one look through its folder.
    bool keeperHolds(const std::string& keeperPath, const ExpectedFile& keeper);
    // The file at `path` as statFileNow sees it (its mirror aside), in one look through
    // its open folder; false when nothing is there.
    bool lookAt(const std::string& path, FileState& state);

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// The replacements below, given `replaced`, fill it with what the file at `path` was
// (mode, owner, times, size, identity, extended attributes) as they found it, for the
// journal; a file with more than MaxKeptAttributeBytes of attributes is then refused
// (AttributesTooLarge) before anything is done.

// A hard link to the kept copy replaces the file at `path`. The link is the keeper's own
// inode: its mode, owner and times are the keeper's and cannot be the replaced file's.
// Refused up front when the keeper and the path's directory are on different devices.
ActResult replaceWithHardLink(const std::string& path, const ExpectedFile& expected,
                              const std::string& keeperPath, const ExpectedFile& keeper,
                              ActFolders* folders = nullptr, FileMeta* replaced = nullptr);

// The text of a symbolic link at `linkPath` reaching `targetPath` relative to the link's
// directory, worked out on the texts alone: both must be absolute and already canonical
// (no ".", "..", doubled slashes or links in their directories). E.g. "/a/b/x" to "/a/c/y"
// gives "../c/y".
std::string relativeLinkText(const std::string& linkPath, const std::string& targetPath);

// A symbolic link with the caller's text (absolute, or relative to the path's directory)
// replaces the file at `path`. Before anything is replaced the new link must reach the
// kept copy (`keeper`'s identity, followed from the path's directory), so a wrong text
// never leaves a dangling link in place of a file. The link gets the replaced file's
// access and modification times; permissions do not apply to links; the owner is the
// replaced file's where the system allows (as root).
ActResult replaceWithSymlink(const std::string& path, const ExpectedFile& expected,
                             const std::string& linkText, const ExpectedFile& keeper,
                             ActFolders* folders = nullptr, FileMeta* replaced = nullptr);

// Whether a clone of `keeperPath` can be made in `targetDirectory`, answered before any
// file is touched: a probe file made there is removed at once, whatever the answer. Fails
// with CrossDevice, NotSupported (ext4, tmpfs...: the message names the file system),
// Permission, etc.
ActResult canReflink(const std::string& keeperPath, const std::string& targetDirectory);

// A reflink clone of the kept copy (sharing its data until either is written) replaces the
// file at `path`. The clone is a file of its own: it gets the replaced file's mode, owner
// and extended attributes (where the system allows) and times, and is flushed to disk
// before the rename.
ActResult replaceWithReflink(const std::string& path, const ExpectedFile& expected,
                             const std::string& keeperPath, const ExpectedFile& keeper,
                             ActFolders* folders = nullptr, FileMeta* replaced = nullptr);

// A folder a move made on its way, and what it is, so that undoing the move removes that
// folder and no other of its name.
struct MadeFolder {
    std::string path;
    FileIdentity identity;
};
// Removes each folder still the one made (deepest first) when it is empty; any other, or
// one holding anything, stays.
void removeFoldersIfEmpty(const std::vector<MadeFolder>& folders);

// Moves the file at `from` to `toPath`, never replacing anything there (Exists). Missing
// folders on the way are made as `mkdir -p` would, with the user's umask. On one device
// the move is one rename; across devices the file is copied into a temporary in the
// target folder, flushed, given the original's mode, owner and extended attributes (where
// allowed) and times, linked to its name (never replacing), checked, and only then is
// `from` removed, after one more check that it is still the file expected. A failure
// leaves `from` as it was and no copy behind. Undo is the same call the other way. The
// folders made are added to `made`, when given (also when the move then fails).
ActResult moveNoReplace(const std::string& from, const ExpectedFile& expected,
                        const std::string& toPath, std::vector<MadeFolder>* made = nullptr);

// What an act left at an entry, as undoing it must find it.
struct ActLeft {
    FileIdentity identity; // the keeper's inode (hard link), the clone's, or the link's
    bool symlink = false;  // a symbolic link, whose text must be `linkText`
    std::string linkText;
};

// Undoing a link or clone: the entry at `path` must still be what the act left (else
// Changed and nothing happens). A new file with the bytes of `contentSource` (opened
// without following a link at it, regular files only) and the `original` mode, owner
// and extended attributes (where allowed) and times is written under a temporary name, flushed, and
// renamed over `path`. The bytes are copied, never cloned: the file given back shares no data with
// the source, as it did not before the act. The caller checks the content afterwards.
ActResult restoreIndependentCopy(const std::string& path, const ActLeft& whatIsThereNow,
                                 const std::string& contentSource, const FileMeta& original);

} // namespace fenwa::platform
