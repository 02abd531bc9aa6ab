#include "resultlist.h"

#include <algorithm>
#include <numeric>

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

std::vector<uint32_t> sortedOrder(const FileRecordStore& rows, uint8_t sortMode) {
    std::vector<uint32_t> order(rows.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return lvFilesCompare(rows, a, b, sortMode) < 0;
    });
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

} // namespace fenwa
