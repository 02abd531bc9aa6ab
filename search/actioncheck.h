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

} // namespace fenwa
