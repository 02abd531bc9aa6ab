#include "actioncheck.h"

#include "filesystem.h"

namespace fenwa {

Staleness checkRow(const FileRecordStore& rows, size_t row, const FileProbe& probe) {
    FileNow now;
    if (!probe(rows.fullPath(row), now))
        return Staleness::Gone;
    if (!now.regularFile)
        return Staleness::NotAFile;
    if (now.size != rows.fileSize(row))
        return Staleness::SizeChanged;
    if (now.minute != rows.minute(row))
        return Staleness::TimeChanged;
    return Staleness::Unchanged;
}

std::vector<GroupBounds> wholeGroupsSelected(const FileRecordStore& rows,
                                             const std::vector<bool>& selected,
                                             const Criteria& criteria) {
    std::vector<GroupBounds> whole;
    if (!criteria.any())
        return whole;
    for (const GroupBounds& run : groupRuns(rows, criteria)) {
        if (run.last == run.first)
            continue;
        bool all = true;
        for (size_t r = run.first; r <= run.last && all; ++r)
            all = r < selected.size() && selected[r];
        if (all)
            whole.push_back(run);
    }
    return whole;
}

bool probeFile(const std::string& nativePath, FileNow& now) {
    int64_t size = 0, mtime = 0;
    if (platform::statRegularFile(nativePath, size, mtime)) {
        now = {true, size, platform::localMinuteOf(mtime)};
        return true;
    }
    now = {};
    return platform::pathExists(nativePath);
}

} // namespace fenwa
