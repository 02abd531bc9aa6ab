#pragma once
// Finding files again in the desktop's trash and putting them back. The trash is the
// freedesktop.org one that the delete request fills through GIO: the home trash under
// the user's data directory, and the trash at the top of another mounted file system.
// Every item there has an info file naming its original path and the moment it was
// deleted; an item is found again by both, so a later file of the same name that was
// trashed too is never taken for it. Paths are native bytes throughout.

#include <cstdint>
#include <string>
#include <vector>

namespace fenwa::platform {

// A file the program moved to the trash, as it is found there again.
struct TrashedFile {
    std::string originalPath;
    // The info file's deletion date as written ("YYYY-MM-DDThh:mm:ss", local time); empty
    // when the item could not be found right after the move.
    std::string deletionDate;
    // The same moment in seconds since 1970 (UTC): when the text is empty, or the time
    // zone changed since, the item is recognised by this within a few seconds.
    int64_t deletedAt = 0;
    // Where the item was found in the trash: preferred when two items fit equally.
    std::string trashedAs;
};

// One item of a trash.
struct TrashItem {
    std::string originalPath;
    std::string deletionDate;
    int64_t deletedAt = 0; // -1 when the date cannot be read
    std::string filePath;  // the trashed file itself
    std::string infoPath;  // its info file
    int64_t changedNs = 0; // when the trashed file last changed (its move into the trash)
};

// The items of every trash that could hold a file from these original paths, whose
// original path is one of them.
std::vector<TrashItem> trashItemsFor(const std::vector<std::string>& originalPaths);

// The records of files just moved to the trash, each between `from` and `to` (seconds
// since 1970). A file whose item is not found gets an empty date and `from`.
std::vector<TrashedFile> findTrashed(const std::vector<std::string>& originalPaths, int64_t from,
                                     int64_t to);

enum class RestoreStatus {
    Restored,
    NotInTrash, // the item is gone from the trash (emptied, or restored by other means)
    Occupied,   // something now exists at the original path: it is not replaced
    FolderGone, // the original folder no longer exists
    Failed,     // the system refused (the folder is gone, no permission...)
};

struct RestoreResult {
    RestoreStatus status = RestoreStatus::Failed;
    std::string message; // the system's words for a failure
};

// Moves each file back to its original path, never replacing what is there now. The
// results are in the order of `files`.
std::vector<RestoreResult> restoreFromTrash(const std::vector<TrashedFile>& files);

} // namespace fenwa::platform
