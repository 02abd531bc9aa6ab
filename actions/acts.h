#pragma once
// What a Delete request may do with the files it takes, instead of deleting them. Every
// act goes through the delete planner (DeleteRequest::act): the files are read again at
// that moment, the groups are those the search built, protected folders are asked about
// and the kept copy is looked at again after each file.
//
// - Move: the file goes to a folder, keeping its path below the listed directory that
//   holds it (two IMG_0001.JPG never collide); an existing target is never overwritten.
// - HardLink, SymbolicLink, Reflink: the file's path then shows the kept copy's bytes, so
//   the two must be byte-identical now, whatever the list's criteria were: both are hashed
//   whole. A hard link only joins files of one file system; a symbolic link holds the kept
//   copy's absolute path (it stays right wherever the link itself is moved to, and every
//   link to one copy reads the same); a reflink clone shares the kept copy's blocks while
//   both stay independent files, where the file system can. The replacement is made
//   under a temporary name in the file's directory and renamed over it, with the file's
//   permissions and times where the kind allows.
// Each act is journalled per file, so that Undo moves the file back, or writes the
// original bytes (the kept copy's, checked against the hash taken before the act) back
// as an independent file with its permissions and times.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fenwa::actions {

enum class ActKind {
    Delete, // to the trash or for good, as the request's flags say
    Move,
    HardLink,
    SymbolicLink,
    Reflink,
};

// The kinds whose path ends up showing the kept copy's bytes.
constexpr bool replacesWithKeeper(ActKind act) {
    return act == ActKind::HardLink || act == ActKind::SymbolicLink || act == ActKind::Reflink;
}

// "delete", "move", "hardlink", "symlink", "reflink": the command line's words.
const char* actKindName(ActKind act);
bool actKindNamed(std::string_view name, ActKind& act);

// Whether a reflink clone of `keeper` can stand at `path` (both native bytes): both on
// one file system that shares blocks between files.
using ReflinkProbe = std::function<bool(const std::string& path, const std::string& keeper)>;

// What happened to one row's file when a plan was carried out.
enum class ActStatus {
    Done,
    Changed,      // left alone: it or its kept copy changed after the plan was made
    Failed,       // the disk refused (message says why); the file is as it was
    TargetExists, // Move: something is at the destination; the file stays
    PutBack,      // the kept copy changed as the act was done: the file was restored
    NotPutBack    // as PutBack, but restoring failed (message says why and where it is)
};

struct RowActed {
    size_t row = 0;
    ActStatus status = ActStatus::Done;
    std::string message; // for Failed and NotPutBack, in the interface language
};

} // namespace fenwa::actions
