#include "actioncheck.h"

#include "contentcheck.h"

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

ContentRecheck::ContentRecheck(const FileRecordStore& rows, const Criteria& criteria,
                               const std::vector<bool>& deleting, ContentHasher hasher)
    : rows_(rows), criteria_(criteria), deleting_(deleting), hasher_(std::move(hasher)),
      verified_(rows.size(), 0) {}

bool ContentRecheck::stillSame(size_t row) {
    if (verified_[row] == 0) {
        const ContentHash* stored = rows_.contentHash(row);
        ContentHash now;
        const bool same =
            stored && hasher_(rows_.fullPath(row), rows_.fileSize(row), now) && now == *stored;
        verified_[row] = same ? 1 : -1;
    }
    return verified_[row] == 1;
}

ContentState ContentRecheck::check(size_t row) {
    if (!criteria_.content || row >= rows_.size() || !rows_.contentHash(row))
        return ContentState::NotChecked;
    if (!stillSame(row))
        return ContentState::ContentChanged;
    const GroupBounds group = groupAround(rows_, row, criteria_);
    bool anyStays = false;
    for (size_t r = group.first; r <= group.last; ++r) {
        if (r == row || (r < deleting_.size() && deleting_[r]))
            continue;
        anyStays = true;
        if (stillSame(r))
            return ContentState::Same;
    }
    // Deleting every copy is the user's explicit choice, confirmed separately.
    return anyStays ? ContentState::NoCopyLeft : ContentState::Same;
}

bool hashFileNow(const std::string& nativePath, int64_t size, ContentHash& hash) {
    return hashWholeFile(nativePath, size, hash);
}

} // namespace fenwa
