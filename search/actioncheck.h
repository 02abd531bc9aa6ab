#pragma once
// Checks made at the moment of an action, against what the search saw: a file that
// changed since is not touched, and deleting every copy of a group is confirmed.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "filerecord.h"
#include "resultlist.h"

namespace fenwa {

// What the disk says of a row's file now: absent, or a regular file of a size and time.
struct FileNow {
    bool regularFile = false;
    int64_t size = 0;
    int32_t minute = 0; // local minute of the modification time
};
using FileProbe = std::function<bool(const std::string& nativePath, FileNow& now)>;

enum class Staleness { Unchanged, Gone, SizeChanged, TimeChanged, NotAFile };

// Whether a row's file is still what the row says. `probe` answers false when nothing is
// at the path any more.
Staleness checkRow(const FileRecordStore& rows, size_t row, const FileProbe& probe);

// The groups (runs of adjacent rows matching on the ticked criteria, two rows or more)
// whose every row is selected.
std::vector<GroupBounds> wholeGroupsSelected(const FileRecordStore& rows,
                                             const std::vector<bool>& selected,
                                             const Criteria& criteria);

// The probe over the real file system.
bool probeFile(const std::string& nativePath, FileNow& now);

// Hashes a file's whole content as the content check does; false when it cannot be read
// or is not `size` bytes long.
using ContentHasher =
    std::function<bool(const std::string& nativePath, int64_t size, ContentHash& hash)>;

enum class ContentState {
    NotChecked,     // the row's group was not formed by content
    Same,           // still the bytes the search hashed, with a copy that stays
    ContentChanged, // the file's bytes are no longer those the search hashed
    NoCopyLeft,     // no other copy of the group that stays still has those bytes
};

// The check made before deleting rows of groups formed by content (Content ticked): each
// file must still hold the bytes the search found, and unless every copy of its group is
// being deleted (which is asked about on its own), another copy that stays must still
// exist with the same bytes. Each file is hashed at most once per check.
class ContentRecheck {
public:
    ContentRecheck(const FileRecordStore& rows, const Criteria& criteria,
                   const std::vector<bool>& deleting, ContentHasher hasher);
    ContentState check(size_t row);

private:
    bool stillSame(size_t row);

    const FileRecordStore& rows_;
    Criteria criteria_;
    const std::vector<bool>& deleting_;
    ContentHasher hasher_;
    std::vector<int8_t> verified_; // per row: 0 not yet hashed, 1 same, -1 changed
};

// The hasher over the real file system.
bool hashFileNow(const std::string& nativePath, int64_t size, ContentHash& hash);

} // namespace fenwa
