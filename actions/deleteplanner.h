#pragma once
// The one place that decides what a Delete removes, from the list or from the viewer.
// It is handed the rows asked for, reads every file of their groups again at that
// moment, and answers what goes, what stays and why, and what must be asked first. The
// windows carry out its answer and decide nothing themselves.
//
// A file is what the disk says it is now, not how its path is spelled: a row whose path
// now leads to another file (another device and inode), or whose size or times changed,
// is left alone. A copy is another directory entry of the group that stays and is still
// as the search found it; a second spelling of the same entry is never a copy, and a
// hard link that stays keeps the data though deleting its twin frees no space.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "filerecord.h"
#include "filesystem.h"
#include "protection.h"
#include "resultlist.h"

namespace fenwa::actions {

// Looks at a path now (statFileNow on the real disk); false when nothing is there.
using FileProbe = std::function<bool(const std::string& nativePath, platform::FileState& now)>;
// Hashes a file's whole content as the content check does; false when it cannot be read
// or is not `size` bytes long.
using ContentHasher =
    std::function<bool(const std::string& nativePath, int64_t size, ContentHash& hash)>;

enum class RowCheck {
    Unchanged,
    Gone,     // nothing is at the path any more
    NotAFile, // something other than a regular file is
    Replaced, // another file is: another device and inode
    SizeChanged,
    TimeChanged, // its modification or status-change time moved
};

// Whether a row's file is still the one the search read.
RowCheck checkRow(const FileRecordStore& rows, size_t row, const FileProbe& probe);

enum class KeepReason {
    SizeChanged,
    TimeChanged,
    Replaced,
    NotAFile,
    ContentChanged, // its bytes are no longer those the search compared
    NoCopyLeft,     // other rows of its group stay, but none is still an unchanged copy
};

// The reason in the words the messages use.
const char* keepReasonText(KeepReason reason);
const char* rowCheckText(RowCheck check);

struct DeletePlan {
    struct Kept {
        size_t row;
        KeepReason reason;
    };
    std::vector<size_t> remove; // rows whose files the delete request takes, in row order
    std::vector<size_t> gone;   // rows whose files are gone already: they just leave the list
    std::vector<Kept> kept;     // rows left alone, with why
    // The first row of each group of which no copy would remain: deleting these removes
    // the only data of the group, which is asked about once more first (No deletes nothing).
    std::vector<size_t> lastCopies;
    // Rows whose data a hard link that stays keeps: deleting them frees no space.
    std::vector<size_t> sharedData;
    // Rows of `remove` under a protected directory: the user is asked about these by
    // name before anything is deleted (No deletes nothing).
    std::vector<size_t> protectedRows;
};

struct DeleteRequest {
    std::vector<size_t> rows; // the rows asked for
    // True for a list of duplicate groups; a list of every file has no copies to keep.
    // The groups are those the search recorded in the rows, whatever is ticked now.
    bool duplicateList = true;
    // Directories whose files are references, never deleted unasked.
    Protection protectedDirectories;
};

DeletePlan PlanDelete(const FileRecordStore& rows, const DeleteRequest& request,
                      const FileProbe& probe, const ContentHasher& hasher);

// The real disk.
bool probeDisk(const std::string& nativePath, platform::FileState& now);
bool hashFileNow(const std::string& nativePath, int64_t size, ContentHash& hash);

} // namespace fenwa::actions
