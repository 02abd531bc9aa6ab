#pragma once
// The rules of the result list, over the rows of a record store: sorting by a column,
// whether two rows match on the ticked criteria, where a run of matching rows begins and
// ends, and where group navigation goes. Two kinds of group meet here. The groups a
// duplicate search found are recorded in the rows (FileRecordStore::group) and are what
// every action that removes or selects files trusts, whatever is ticked later and however
// the list is sorted. The marks, Ctrl+Up/Down and the slides follow the runs of adjacent
// rows that agree on the ticks as they are now.

#include <span>

#include <cstdint>
#include <functional>
#include <vector>

#include "filerecord.h"

namespace fenwa {

// The ticked criteria of a duplicate search.
struct Criteria {
    bool name = false;
    bool size = false;
    bool time = false;
    // Identical bytes: rows match only when the content check gave both the same hash.
    bool content = false;
    // Similar pictures: rows match only when the similarity check put both in one group.
    bool similar = false;
    bool any() const { return name || size || time || content || similar; }
};

// The list's columns after the records' own: a picture's size as shown and when it was
// taken, both read from its header, and in a list of similar pictures how alike a row is
// to its group's first.
enum ListColumn : int { ColPictureSize = ColumnCount, ColTaken, ColLikeness, ListColumnCount };

// SortMode: 2c sorts column c ascending, 2c + 1 descending.
inline constexpr uint8_t SortModeCount = 2 * ListColumnCount;

// The sort mode after a click on column c: ascending, unless that is the mode already.
constexpr uint8_t nextSortMode(uint8_t sortMode, int column) {
    const auto ascending = static_cast<uint8_t>(2 * column);
    return sortMode == ascending ? uint8_t(ascending + 1) : ascending;
}

// Negative, zero or positive as row a sorts before, with or after row b. Texts compare
// ordinally with a to z folded to upper case; sizes compare as numbers.
int lvFilesCompare(const FileRecordStore& rows, size_t a, size_t b, uint8_t sortMode);

// A row's sort key for a column whose values are not in the records (the picture
// facts); a row without a value sorts after every row with one, in either direction.
struct OuterKey {
    uint64_t key = 0;
    uint64_t key2 = 0;
    bool known = false;
};
using OuterKeyOf = std::function<OuterKey(size_t row)>;

// The rows' new order for a sort mode: new row i is old row order[i]. Rows that compare
// equal keep their order. The picture columns take their keys from `outer` (without it
// no row has a value); likeness sorts by the records, rows never measured last.
std::vector<uint32_t> sortedOrder(const FileRecordStore& rows, uint8_t sortMode,
                                  const OuterKeyOf& outer = nullptr);

// True when at least one criterion is ticked and the rows agree on every ticked one. For
// Content, rows without a stored hash (never content-checked) match nothing; for Similar,
// rows match when the search recorded them in one group.
bool RowsMatch(const FileRecordStore& rows, size_t a, size_t b, const Criteria& criteria);

// The run [first, last] of adjacent rows around `row` that match it; the row alone when
// nothing is ticked.
struct GroupBounds {
    size_t first = 0;
    size_t last = 0;
};
GroupBounds groupAround(const FileRecordStore& rows, size_t row, const Criteria& criteria);

// The list cut into groups from the top: each run of adjacent rows that match the run's
// first row; with nothing ticked every row is a run of its own.
std::vector<GroupBounds> groupRuns(const FileRecordStore& rows, const Criteria& criteria);

// Records the groups of a duplicate search's answer, laid out as runs of adjacent rows
// that match on the searched criteria: each run of two or more rows gets an id of its own;
// a row alone gets none.
void recordGroups(FileRecordStore& rows, const Criteria& searched);

// The recorded groups, gathered by id across the whole list, so a re-sorted list gives
// the same groups. Each group's rows are in list order; groups are ordered by id.
class RecordedGroups {
public:
    // Every group of the list.
    explicit RecordedGroups(const FileRecordStore& rows);
    // Only the groups the rows `of` are in.
    RecordedGroups(const FileRecordStore& rows, std::span<const size_t> of);

    size_t count() const { return ids_.size(); }
    std::span<const size_t> members(size_t g) const {
        return std::span<const size_t>(members_).subspan(starts_[g], starts_[g + 1] - starts_[g]);
    }
    // The index of the group with this id, or count() when it was not gathered.
    size_t indexOf(uint32_t id) const;
    // The rows of a row's group; nothing when the row is in no group.
    std::span<const size_t> groupOf(const FileRecordStore& rows, size_t row) const;

private:
    void gather(const FileRecordStore& rows);

    std::vector<uint32_t> ids_;  // sorted
    std::vector<size_t> starts_; // group g is members_[starts_[g], starts_[g + 1])
    std::vector<size_t> members_;
};

// What a duplicate list offers to free. Of each recorded group of two or more rows one
// file stays and every other copy could go; a file is counted once however many rows
// reach it (two spellings, hard links), so a group of links to one file frees nothing.
// The file that stays is the group's largest, so the bytes are what is surely freed.
struct GroupSummary {
    size_t groups = 0;
    size_t couldGo = 0;
    int64_t bytes = 0;
};
GroupSummary SummariseGroups(const FileRecordStore& rows);

// The bytes freed by removing `removed` (rows of `rows`): each file once, and nothing for
// a file that another row, not removed, still reaches.
int64_t BytesFreedByRemoving(const FileRecordStore& rows, const std::vector<size_t>& removed);

// The row Ctrl+Down selects from `current`: the first row after the current group, or
// the current row itself when its group is the last. -1 when there is nothing to do (no
// current row, or it is the last row).
long NextGroup(const FileRecordStore& rows, long current, const Criteria& criteria);

// The row Ctrl+Up selects from `current`: the first row of the group before the current
// row's group, or row 0 from the first group. -1 when there is nothing to do.
long PriorGroup(const FileRecordStore& rows, long current, const Criteria& criteria);

// The rows the slide strip shows for current row p: up to five consecutive image rows
// around p that agree with it on every ticked criterion (every image row when nothing is
// ticked), looking at most five rows each way; a row that does not qualify ends the run
// on its side. The shown rows are [start, min(start + 4, last)].
struct SlideRows {
    size_t first = 0; // the run of neighbours around p
    size_t last = 0;
    size_t start = 0; // the row on slide 1
};
SlideRows slideRows(const FileRecordStore& rows, size_t p, const Criteria& criteria);

// The first of five shown rows for a run [first, last] around p: p in the middle when
// the run allows, else the run's end or start.
constexpr size_t slideStart(size_t p, size_t first, size_t last) {
    if (last - first < 4)
        return first;
    if (p - first >= 2 && last - p >= 2)
        return p - 2;
    if (p - first >= 2)
        return last - 4;
    return first;
}

// Width of each of the first four slide panels: a fifth of the strip inside its border.
constexpr int slideWidth(int clientWidth, int borderWidth) {
    const int inner = clientWidth - 2 * borderWidth - 6;
    // Round half away from zero, as the fifth is never negative in practice.
    return inner >= 0 ? (inner * 2 + 5) / 10 : -((-inner * 2 + 5) / 10);
}

} // namespace fenwa
