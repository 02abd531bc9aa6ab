#include "resultlist.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace fenwa {

namespace {

int threeWay(int64_t a, int64_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

int compareAscending(const FileRecordStore& rows, size_t a, size_t b, int column) {
    using platform::compareIgnoringAsciiCase;
    switch (column) {
    case ColName:
        return compareIgnoringAsciiCase(rows.name(a), rows.name(b));
    case ColDirectory:
        return compareIgnoringAsciiCase(rows.directory(a), rows.directory(b));
    case ColSize:
        return threeWay(rows.fileSize(a), rows.fileSize(b));
    case ColType:
        return compareIgnoringAsciiCase(rows.type(a), rows.type(b));
    case ColTime:
        // The text's fields run from year to minute with fixed widths, so it sorts as
        // the minute does.
        return threeWay(rows.minute(a), rows.minute(b));
    default:
        return 0;
    }
}

} // namespace

int lvFilesCompare(const FileRecordStore& rows, size_t a, size_t b, uint8_t sortMode) {
    const int column = sortMode / 2;
    return sortMode % 2 == 0 ? compareAscending(rows, a, b, column)
                             : compareAscending(rows, b, a, column);
}

namespace {

uint8_t foldByte(char c) {
    return static_cast<uint8_t>((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);
}

// Up to eight bytes of text from `from` on, folded, as a big-endian number: numbers
// compare as the folded texts do (a name never holds a zero byte, so a shorter text
// sorts first as it should).
uint64_t foldedPrefix(std::string_view text, size_t from) {
    uint64_t key = 0;
    for (size_t i = 0; i < 8; ++i)
        key = (key << 8) | (from + i < text.size() ? foldByte(text[from + i]) : 0u);
    return key;
}

// Ranks of texts in compareIgnoringAsciiCase order; texts that compare equal share one.
std::vector<uint32_t> foldedRanks(const std::vector<std::string_view>& texts) {
    std::vector<uint32_t> byText(texts.size());
    std::iota(byText.begin(), byText.end(), 0u);
    std::sort(byText.begin(), byText.end(), [&](uint32_t a, uint32_t b) {
        return platform::compareIgnoringAsciiCase(texts[a], texts[b]) < 0;
    });
    std::vector<uint32_t> rank(texts.size());
    uint32_t next = 0;
    for (size_t i = 0; i < byText.size(); ++i) {
        if (i > 0 &&
            platform::compareIgnoringAsciiCase(texts[byText[i - 1]], texts[byText[i]]) != 0)
            ++next;
        rank[byText[i]] = next;
    }
    return rank;
}

} // namespace

std::vector<uint32_t> sortedOrder(const FileRecordStore& rows, uint8_t sortMode,
                                  const OuterKeyOf& outer) {
    // Every row gets its sort key once (numbers, ranks, or the first sixteen folded bytes
    // of its name), so comparisons rarely reach the records; equal rows keep their order
    // through the row number as the last key.
    const int column = sortMode / 2;
    const bool descending = sortMode % 2 == 1;
    const size_t n = rows.size();
    struct Item {
        uint64_t key;
        uint64_t key2;
        uint32_t row;
        bool missing = false; // no value: after every row with one
    };
    std::vector<Item> items(n);
    switch (column) {
    case ColName:
        for (size_t r = 0; r < n; ++r)
            items[r] = {foldedPrefix(rows.name(r), 0), foldedPrefix(rows.name(r), 8), uint32_t(r)};
        break;
    case ColDirectory: {
        std::vector<std::string_view> texts;
        texts.reserve(rows.directoryCount());
        for (uint32_t d = 0; d < rows.directoryCount(); ++d)
            texts.push_back(rows.directoryText(d));
        const std::vector<uint32_t> rank = foldedRanks(texts);
        for (size_t r = 0; r < n; ++r)
            items[r] = {rank[rows.record(r).directory], 0, uint32_t(r)};
        break;
    }
    case ColSize:
        for (size_t r = 0; r < n; ++r)
            items[r] = {uint64_t(rows.fileSize(r)) ^ (uint64_t(1) << 63), 0, uint32_t(r)};
        break;
    case ColType: {
        // Few distinct types: each is ranked once.
        std::unordered_map<std::string, uint32_t> typeIndex;
        std::vector<std::string_view> texts;
        std::vector<uint32_t> typeOfRow(n);
        std::string folded;
        for (size_t r = 0; r < n; ++r) {
            const std::string_view type = rows.type(r);
            folded.assign(type);
            for (char& c : folded)
                c = char(foldByte(c));
            auto [it, inserted] = typeIndex.try_emplace(folded, uint32_t(texts.size()));
            if (inserted)
                texts.push_back(type);
            typeOfRow[r] = it->second;
        }
        const std::vector<uint32_t> rank = foldedRanks(texts);
        for (size_t r = 0; r < n; ++r)
            items[r] = {rank[typeOfRow[r]], 0, uint32_t(r)};
        break;
    }
    case ColTime:
        // The text's fields run from year to minute with fixed widths, so it sorts as
        // the minute does.
        for (size_t r = 0; r < n; ++r)
            items[r] = {uint64_t(int64_t(rows.minute(r)) + (int64_t(1) << 32)), 0, uint32_t(r)};
        break;
    case ColPictureSize:
    case ColTaken:
        for (size_t r = 0; r < n; ++r) {
            const OuterKey k = outer ? outer(r) : OuterKey{};
            items[r] = {k.key, k.key2, uint32_t(r), !k.known};
        }
        break;
    case ColLikeness:
        for (size_t r = 0; r < n; ++r)
            items[r] = {rows.likeness(r), 0, uint32_t(r),
                        rows.likeness(r) == FileRecordStore::NoLikeness};
        break;
    default:
        for (size_t r = 0; r < n; ++r)
            items[r] = {0, 0, uint32_t(r)};
        break;
    }
    const bool fullNames = column == ColName;
    std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
        if (a.missing != b.missing)
            return b.missing;
        if (a.key != b.key)
            return descending ? a.key > b.key : a.key < b.key;
        if (a.key2 != b.key2)
            return descending ? a.key2 > b.key2 : a.key2 < b.key2;
        if (fullNames) {
            const int c = platform::compareIgnoringAsciiCase(rows.name(a.row), rows.name(b.row));
            if (c != 0)
                return descending ? c > 0 : c < 0;
        }
        return a.row < b.row;
    });
    std::vector<uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = items[i].row;
    return order;
}

bool RowsMatch(const FileRecordStore& rows, size_t a, size_t b, const Criteria& criteria) {
    if (!criteria.any())
        return false;
    if (criteria.name && !platform::equalsIgnoringAsciiCase(rows.name(a), rows.name(b)))
        return false;
    if (criteria.size && rows.fileSize(a) != rows.fileSize(b))
        return false;
    if (criteria.time && rows.minute(a) != rows.minute(b))
        return false;
    if (criteria.content && !rows.sameContent(a, b))
        return false;
    if (criteria.similar && !rows.sameGroup(a, b))
        return false;
    return true;
}

GroupBounds groupAround(const FileRecordStore& rows, size_t row, const Criteria& criteria) {
    GroupBounds g{row, row};
    while (g.first > 0 && RowsMatch(rows, g.first - 1, row, criteria))
        --g.first;
    while (g.last + 1 < rows.size() && RowsMatch(rows, g.last + 1, row, criteria))
        ++g.last;
    return g;
}

std::vector<GroupBounds> groupRuns(const FileRecordStore& rows, const Criteria& criteria) {
    std::vector<GroupBounds> runs;
    for (size_t start = 0; start < rows.size();) {
        size_t end = start;
        while (end + 1 < rows.size() && RowsMatch(rows, end + 1, start, criteria))
            ++end;
        runs.push_back({start, end});
        start = end + 1;
    }
    return runs;
}

void recordGroups(FileRecordStore& rows, const Criteria& searched) {
    // Every criterion is an equivalence, so a run goes on while a row matches the one
    // before it. Two passes, one to count the runs for their ids and one to write them,
    // and nothing kept per run: a list of a million rows takes only its ids. Each match
    // is read before either row's id is written, as Similar matches by the old ids.
    const size_t n = rows.size();
    const auto linked = [&](size_t row) {
        return row + 1 < n && RowsMatch(rows, row, row + 1, searched);
    };
    size_t runs = 0;
    bool previous = false;
    for (size_t row = 0; row < n; ++row) {
        const bool next = linked(row);
        runs += !previous && next;
        previous = next;
    }
    uint32_t id = FileRecordStore::reserveGroups(runs) - 1;
    previous = false;
    for (size_t row = 0; row < n; ++row) {
        const bool next = linked(row);
        id += !previous && next;
        rows.setGroup(row, previous || next ? id : 0);
        previous = next;
    }
}

RecordedGroups::RecordedGroups(const FileRecordStore& rows) {
    if (!rows.hasGroups())
        return;
    for (size_t row = 0; row < rows.size(); ++row)
        if (rows.group(row) != 0)
            ids_.push_back(rows.group(row));
    gather(rows);
}

RecordedGroups::RecordedGroups(const FileRecordStore& rows, std::span<const size_t> of) {
    if (!rows.hasGroups())
        return;
    for (size_t row : of)
        if (row < rows.size() && rows.group(row) != 0)
            ids_.push_back(rows.group(row));
    gather(rows);
}

void RecordedGroups::gather(const FileRecordStore& rows) {
    // The ids of one search are one range: a table over it gives a row's group at once,
    // and the ids in order without sorting. Ids from anywhere are sorted and searched.
    std::vector<uint32_t> slot;
    uint32_t low = 0;
    if (!ids_.empty()) {
        const auto [lowest, highest] = std::minmax_element(ids_.begin(), ids_.end());
        low = *lowest;
        if (size_t(*highest - low) <= 2 * rows.size() + 64) {
            slot.assign(size_t(*highest - low) + 1, UINT32_MAX);
            for (uint32_t id : ids_)
                slot[id - low] = 0;
            ids_.clear();
            for (size_t i = 0; i < slot.size(); ++i)
                if (slot[i] == 0) {
                    slot[i] = uint32_t(ids_.size());
                    ids_.push_back(low + uint32_t(i));
                }
        }
    }
    if (slot.empty()) {
        std::sort(ids_.begin(), ids_.end());
        ids_.erase(std::unique(ids_.begin(), ids_.end()), ids_.end());
    }
    ids_.shrink_to_fit();
    const auto groupOfRow = [&](size_t row) -> size_t {
        const uint32_t id = rows.group(row);
        if (slot.empty())
            return indexOf(id);
        if (id < low || size_t(id - low) >= slot.size() || slot[id - low] == UINT32_MAX)
            return ids_.size();
        return slot[id - low];
    };
    // Counted, then placed: two passes in list order keep each group's rows in order.
    starts_.assign(ids_.size() + 1, 0);
    for (size_t row = 0; row < rows.size(); ++row)
        if (const size_t g = groupOfRow(row); g < ids_.size())
            ++starts_[g + 1];
    for (size_t g = 0; g < ids_.size(); ++g)
        starts_[g + 1] += starts_[g];
    members_.resize(starts_.back());
    std::vector<size_t> next(starts_.begin(), starts_.end() - 1);
    for (size_t row = 0; row < rows.size(); ++row)
        if (const size_t g = groupOfRow(row); g < ids_.size())
            members_[next[g]++] = row;
}

size_t RecordedGroups::indexOf(uint32_t id) const {
    if (id == 0)
        return ids_.size();
    const auto it = std::lower_bound(ids_.begin(), ids_.end(), id);
    return it != ids_.end() && *it == id ? size_t(it - ids_.begin()) : ids_.size();
}

std::span<const size_t> RecordedGroups::groupOf(const FileRecordStore& rows, size_t row) const {
    const size_t g = row < rows.size() ? indexOf(rows.group(row)) : ids_.size();
    return g < ids_.size() ? members(g) : std::span<const size_t>();
}

long NextGroup(const FileRecordStore& rows, long current, const Criteria& criteria) {
    const long last = long(rows.size()) - 1;
    if (current < 0 || current >= last)
        return -1;
    long i = current + 1;
    while (i <= last && RowsMatch(rows, size_t(i), size_t(current), criteria))
        ++i;
    return i > last ? current : i;
}

long PriorGroup(const FileRecordStore& rows, long current, const Criteria& criteria) {
    if (current <= 0 || current >= long(rows.size()))
        return -1;
    long c = current;
    size_t ref = size_t(current);
    int boundaries = 2;
    for (;;) {
        const long b = c - 1;
        if (b < 0)
            break;
        if (RowsMatch(rows, size_t(b), ref, criteria)) {
            c = b;
            continue;
        }
        // A group boundary: the row before it is the reference of the earlier group.
        ref = size_t(b);
        if (--boundaries == 0)
            break;
        c = b;
    }
    return c;
}

SlideRows slideRows(const FileRecordStore& rows, size_t p, const Criteria& criteria) {
    auto neighbour = [&](size_t row) {
        return IsImageName(rows.name(row)) &&
               (!criteria.any() || RowsMatch(rows, row, p, criteria));
    };
    SlideRows r{p, p, p};
    while (r.first > 0 && neighbour(r.first - 1) && p - (r.first - 1) <= 5)
        --r.first;
    while (r.last + 1 < rows.size() && neighbour(r.last + 1) && (r.last + 1) - p <= 5)
        ++r.last;
    r.start = slideStart(p, r.first, r.last);
    return r;
}

namespace {

// A file's data as the disk knows it; rows without an inode are each a file of their own.
struct DataKey {
    uint64_t device, inode;
    size_t row;
    bool operator==(const DataKey& o) const {
        return inode == o.inode && (inode != 0 ? device == o.device : row == o.row);
    }
};
struct DataKeyHash {
    size_t operator()(const DataKey& k) const {
        return k.inode != 0 ? std::hash<uint64_t>()(k.device * 0x9E3779B97F4A7C15ULL ^ k.inode)
                            : std::hash<size_t>()(k.row);
    }
};
DataKey dataKey(const FileRecordStore& rows, size_t row) {
    return {rows.device(row), rows.inode(row), row};
}

} // namespace

GroupSummary SummariseGroups(const FileRecordStore& rows) {
    GroupSummary summary;
    const RecordedGroups groups(rows);
    std::unordered_set<DataKey, DataKeyHash> seen;
    for (size_t g = 0; g < groups.count(); ++g) {
        const std::span<const size_t> members = groups.members(g);
        if (members.size() < 2)
            continue;
        ++summary.groups;
        // Only rows marked as sharing their file with another row need their data told
        // apart; the rest are each a file of their own.
        seen.clear();
        size_t files = 0;
        int64_t total = 0, largest = 0;
        for (size_t row : members)
            if (!rows.hardLinked(row) || seen.insert(dataKey(rows, row)).second) {
                ++files;
                total += rows.fileSize(row);
                largest = std::max(largest, rows.fileSize(row));
            }
        summary.couldGo += files - 1;
        summary.bytes += total - largest;
    }
    return summary;
}

int64_t BytesFreedByRemoving(const FileRecordStore& rows, const std::vector<size_t>& removed) {
    std::vector<bool> goes(rows.size(), false);
    std::unordered_set<DataKey, DataKeyHash> removedData, held, counted;
    for (size_t row : removed)
        if (row < rows.size()) {
            goes[row] = true;
            removedData.insert(dataKey(rows, row));
        }
    // A removed file that a remaining row still reaches keeps its bytes.
    for (size_t row = 0; row < rows.size(); ++row)
        if (!goes[row] && rows.inode(row) != 0 && removedData.contains(dataKey(rows, row)))
            held.insert(dataKey(rows, row));
    int64_t bytes = 0;
    for (size_t row : removed)
        if (row < rows.size() && !held.contains(dataKey(rows, row)) &&
            counted.insert(dataKey(rows, row)).second)
            bytes += rows.fileSize(row);
    return bytes;
}

} // namespace fenwa
