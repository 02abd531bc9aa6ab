#include "undorows.h"

#include <algorithm>
#include <map>
#include <set>

namespace fenwa::actions {

namespace {

using Key = std::pair<std::string, std::string>; // directory, name

bool sameNeighbour(const RemovedRow::Neighbour& a, const RemovedRow::Neighbour& b) {
    return a.exists == b.exists && a.directory == b.directory && a.name == b.name;
}

// A row of the list in the group a removed row was in.
bool inGroupOf(const FileRecordStore& list, size_t row, const RemovedRow& removed) {
    return removed.group != 0 && list.group(row) == removed.group;
}

} // namespace

std::vector<RowInsertion> placeRestoredRows(const FileRecordStore& list,
                                            const std::vector<RemovedRow>& restored) {
    // The rows that left together, in their order.
    std::vector<size_t> order(restored.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return restored[a].index < restored[b].index; });
    std::vector<std::vector<size_t>> runs;
    for (size_t i : order) {
        if (!runs.empty()) {
            const RemovedRow& previous = restored[runs.back().back()];
            if (sameNeighbour(previous.above, restored[i].above) &&
                sameNeighbour(previous.below, restored[i].below)) {
                runs.back().push_back(i);
                continue;
            }
        }
        runs.push_back({i});
    }

    // Where the neighbours are now: one pass over the list.
    std::set<std::string, std::less<>> names;
    for (const RemovedRow& row : restored)
        for (const RemovedRow::Neighbour* n : {&row.above, &row.below})
            if (n->exists)
                names.insert(n->name);
    std::map<Key, size_t> found;
    for (size_t row = 0; row < list.size() && !names.empty(); ++row) {
        if (names.find(list.name(row)) == names.end())
            continue;
        found.emplace(Key{list.directory(row), std::string(list.name(row))}, row);
    }
    auto rowOf = [&](const RemovedRow::Neighbour& n) -> long {
        if (!n.exists)
            return -1;
        const auto it = found.find(Key{n.directory, n.name});
        return it == found.end() ? -1 : long(it->second);
    };

    const size_t n = list.size();
    std::vector<RowInsertion> insertions;
    for (std::vector<size_t>& run : runs) {
        const RemovedRow& first = restored[run.front()];
        size_t position = n;
        if (const long above = rowOf(first.above); above >= 0) {
            position = size_t(above) + 1;
        } else if (const long below = rowOf(first.below); below >= 0) {
            position = size_t(below);
        } else {
            // After the last row of its group.
            for (size_t row = n; row-- > 0;)
                if (inGroupOf(list, row, first)) {
                    position = row + 1;
                    break;
                }
        }
        // Between two rows of a group the run does not belong to: after that group.
        if (position > 0 && position < n && list.sameGroup(position - 1, position) &&
            !inGroupOf(list, position - 1, first)) {
            while (position < n && list.sameGroup(position - 1, position))
                ++position;
        }
        insertions.push_back({position, std::move(run)});
    }
    std::stable_sort(
        insertions.begin(), insertions.end(),
        [](const RowInsertion& a, const RowInsertion& b) { return a.position < b.position; });
    return insertions;
}

} // namespace fenwa::actions
