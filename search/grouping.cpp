#include "grouping.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "bigallocator.h"

namespace fenwa {

namespace {

int digitCount(uint32_t v) {
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

// Decimal texts of two numbers compared character by character ("10" < "2"): the
// shorter text, padded with zeros to the other's length, compares as a number; when the
// padded numbers are equal the shorter text is a prefix and comes first.
int compareAsDecimalText(uint32_t a, uint32_t b) {
    const int la = digitCount(a), lb = digitCount(b);
    uint64_t wa = a, wb = b;
    for (int i = la; i < lb; ++i)
        wa *= 10;
    for (int i = lb; i < la; ++i)
        wb *= 10;
    if (wa != wb)
        return wa < wb ? -1 : 1;
    return la == lb ? 0 : (la < lb ? -1 : 1);
}

} // namespace

Criteria candidateCriteria(const Criteria& ticked) {
    Criteria c = ticked;
    c.content = false;
    c.similar = false;
    if (ticked.content && !c.any())
        c.size = true;
    return c;
}

KeyKind primaryKey(const Criteria& criteria) {
    if (criteria.name)
        return KeyKind::Name;
    if (criteria.size)
        return KeyKind::Size;
    if (criteria.time)
        return KeyKind::Time;
    return KeyKind::Name;
}

namespace {

// Folds ASCII letters to upper case; every other byte is itself.
constexpr std::array<uint8_t, 256> AsciiUpper = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[size_t(c)] = uint8_t(c >= 'a' && c <= 'z' ? c - 32 : c);
    return t;
}();

uint64_t foldedNameHash(std::string_view name) {
    uint64_t h = 0xcbf29ce484222325ull; // FNV-1a
    for (char c : name)
        h = (h ^ AsciiUpper[uint8_t(c)]) * 0x100000001b3ull;
    return h;
}

uint64_t mixed(uint64_t v) {
    v ^= v >> 33;
    v *= 0xff51afd7ed558ccdull;
    v ^= v >> 33;
    return v;
}

// The rows gathered by key: `entries` holds each key's rows together (a run), each run
// in the order of the row numbers as decimal text ("10" < "2"), so the first entry of a
// run is the row whose number comes first as text. A row's key is found by hashing, in
// reading order; keys are never sorted against each other, as the groups and their
// order depend only on which keys are equal.
struct Runs {
    BigVector<uint32_t> entries;
    BigVector<uint32_t> runStartOfRow; // by row: where its run begins in entries
    BigVector<uint32_t> runEnd;        // by run start: one past its last entry
};

} // namespace

uint64_t KeyNumbering::hashOf(const FileRecordStore& rows, uint32_t row) const {
    switch (kind_) {
    case KeyKind::Name:
        return foldedNameHash(rows.name(row));
    case KeyKind::Size:
        return mixed(uint64_t(rows.fileSize(row)));
    case KeyKind::Time:
        break;
    }
    return mixed(uint64_t(uint32_t(rows.minute(row))));
}

bool KeyNumbering::sameKey(const FileRecordStore& rows, uint32_t a, uint32_t b) const {
    switch (kind_) {
    case KeyKind::Name:
        return platform::equalsIgnoringAsciiCase(rows.name(a), rows.name(b));
    case KeyKind::Size:
        return rows.fileSize(a) == rows.fileSize(b);
    case KeyKind::Time:
        break;
    }
    return rows.minute(a) == rows.minute(b);
}

void KeyNumbering::grow(const FileRecordStore& rows, size_t capacity) {
    BigVector<Slot> old(capacity);
    old.swap(table_);
    const size_t mask = capacity - 1;
    for (const Slot& slot : old) {
        if (slot.firstRowPlusOne == 0)
            continue;
        size_t i = size_t(hashOf(rows, slot.firstRowPlusOne - 1)) & mask;
        while (table_[i].firstRowPlusOne != 0)
            i = (i + 1) & mask;
        table_[i] = slot;
    }
}

bool KeyNumbering::catchUp(const FileRecordStore& rows,
                           const std::function<void(size_t, size_t)>& progress,
                           const std::function<bool(size_t)>& stopped) {
    const size_t from = keyOfRow_.size(), n = rows.size();
    if (from >= n)
        return true;
    // Room for every key the new rows could bring, at most half the slots in use.
    size_t capacity = std::max<size_t>(table_.size(), 16);
    while (capacity < (size_t(keys_) + (n - from)) * 2)
        capacity *= 2;
    if (capacity != table_.size())
        grow(rows, capacity);
    keyOfRow_.resize(n);
    const size_t mask = capacity - 1;
    // The table is far larger than the caches and each row lands at random in it: the
    // slot of a row some way ahead is asked for while this one is placed.
    constexpr size_t Ahead = 16;
    std::array<uint64_t, Ahead> ahead{};
    for (size_t q = from; q < std::min(n, from + Ahead); ++q) {
        ahead[q % Ahead] = hashOf(rows, uint32_t(q));
        __builtin_prefetch(&table_[size_t(ahead[q % Ahead]) & mask]);
    }
    for (size_t q = from; q < n; ++q) {
        if (progress)
            progress(q, n);
        if (stopped && stopped(q)) {
            keyOfRow_.resize(q);
            return false;
        }
        const uint64_t h = ahead[q % Ahead];
        if (q + Ahead < n) {
            ahead[q % Ahead] = hashOf(rows, uint32_t(q + Ahead));
            __builtin_prefetch(&table_[size_t(ahead[q % Ahead]) & mask]);
        }
        const uint32_t tag = uint32_t(h >> 32);
        for (size_t i = size_t(h) & mask;; i = (i + 1) & mask) {
            Slot& slot = table_[i];
            if (slot.firstRowPlusOne == 0) {
                slot = {tag, uint32_t(q + 1)};
                keyOfRow_[q] = keys_++;
                break;
            }
            if (slot.tag == tag && sameKey(rows, slot.firstRowPlusOne - 1, uint32_t(q))) {
                keyOfRow_[q] = keyOfRow_[slot.firstRowPlusOne - 1];
                break;
            }
        }
    }
    return true;
}

namespace {

bool gatherRuns(const FileRecordStore& rows, KeyKind kind, Runs& runs,
                const std::function<void(size_t, size_t)>& progress,
                const std::function<bool(size_t)>& stopped, KeyNumbering* numbered) {
    const size_t n = rows.size();
    KeyNumbering own(kind);
    KeyNumbering& numbering = numbered && numbered->kind() == kind ? *numbered : own;
    if (numbering.rowsNumbered() > n)
        throw std::logic_error("rows numbered that the store does not hold");
    if (!numbering.catchUp(rows, progress, stopped))
        return false;
    const uint32_t keys = numbering.keys();
    BigVector<uint32_t> keyOfRow = numbering.takeKeysOfRows();

    // A counting sort by key number keeps each run in reading order.
    BigVector<uint32_t> start(size_t(keys) + 1, 0);
    for (uint32_t k : keyOfRow)
        ++start[k + 1];
    for (size_t k = 1; k <= keys; ++k)
        start[k] += start[k - 1];
    runs.entries.resize(n);
    runs.runEnd.assign(n, 0);
    {
        BigVector<uint32_t> fill(start.begin(), start.end() - 1);
        for (size_t q = 0; q < n; ++q)
            runs.entries[fill[keyOfRow[q]]++] = uint32_t(q);
    }
    runs.runStartOfRow = std::move(keyOfRow);
    for (size_t q = 0; q < n; ++q)
        runs.runStartOfRow[q] = start[runs.runStartOfRow[q]];
    for (size_t k = 0; k < keys; ++k) {
        const uint32_t first = start[k], end = start[k + 1];
        runs.runEnd[first] = end;
        // Numeric order is decimal-text order unless the run's numbers differ in length.
        if (end - first > 1 && digitCount(runs.entries[first]) != digitCount(runs.entries[end - 1]))
            std::sort(runs.entries.begin() + first, runs.entries.begin() + end,
                      [](uint32_t a, uint32_t b) { return compareAsDecimalText(a, b) < 0; });
    }
    return true;
}

} // namespace

std::vector<uint32_t> FindDuplicateRows(const FileRecordStore& hidden, const Criteria& ticked,
                                        const std::function<void(size_t, size_t)>& progress,
                                        const std::atomic<bool>* stop, KeyNumbering* numbered) {
    // Looked at every few thousand rows: a stop is seen within a few milliseconds.
    const auto stopped = [stop](size_t q) {
        return stop && (q & 4095) == 0 && stop->load(std::memory_order_relaxed);
    };
    const Criteria criteria = candidateCriteria(ticked);
    const size_t n = hidden.size();
    Runs runs;
    if (!gatherRuns(hidden, primaryKey(criteria), runs, progress, stopped, numbered))
        return {};
    const BigVector<uint32_t>& entries = runs.entries;

    // Entries are never moved: a consumed flag per entry, and for each run a cursor to its
    // first remaining entry, give the same answers as removing them.
    std::vector<bool> consumed(n, false);
    BigVector<uint32_t> cursor(n);
    std::iota(cursor.begin(), cursor.end(), 0u);
    const bool single = int(criteria.name) + int(criteria.size) + int(criteria.time) <= 1;

    // With several criteria a run of equal keys splits into sets equal on every ticked
    // criterion. Each set is chained in run order when its run is first met, so a
    // leader's group is found without scanning the run again.
    constexpr uint32_t None = UINT32_MAX;
    BigVector<uint32_t> nextInSet;
    std::vector<bool> chained;
    if (!single) {
        nextInSet.assign(n, None);
        chained.assign(n, false);
    }
    auto rowHash = [&](uint32_t row) {
        size_t h = 0;
        if (criteria.name) {
            for (char c : hidden.name(row))
                h = h * 131 + size_t((c >= 'a' && c <= 'z') ? c - 32 : c);
        }
        if (criteria.size)
            h = h * 1000003 ^ std::hash<int64_t>{}(hidden.fileSize(row));
        if (criteria.time)
            h = h * 1000003 ^ std::hash<int32_t>{}(hidden.minute(row));
        return h;
    };
    auto rowEqual = [&](uint32_t a, uint32_t b) { return RowsMatch(hidden, a, b, criteria); };
    auto chainRun = [&](size_t start, size_t end) {
        std::unordered_map<uint32_t, uint32_t, decltype(rowHash), decltype(rowEqual)> lastOfSet(
            end - start, rowHash, rowEqual);
        for (size_t p = start; p < end; ++p) {
            auto [it, inserted] = lastOfSet.try_emplace(entries[p], uint32_t(p));
            if (!inserted) {
                nextInSet[it->second] = uint32_t(p);
                it->second = uint32_t(p);
            }
        }
        chained[start] = true;
    };

    std::vector<uint32_t> out;
    for (size_t q = 0; q < n; ++q) {
        if (progress)
            progress(q, n);
        if (stopped(q))
            return {};
        const size_t start = runs.runStartOfRow[q], end = runs.runEnd[start];
        size_t leaderPos = cursor[start];
        while (leaderPos < end && consumed[leaderPos])
            ++leaderPos;
        cursor[start] = uint32_t(leaderPos);
        if (leaderPos == end)
            continue; // every entry of this key was taken by an earlier leader
        const uint32_t leader = entries[leaderPos];
        consumed[leaderPos] = true;
        const size_t before = out.size();
        if (single) {
            for (size_t p = leaderPos + 1; p < end; ++p) {
                out.push_back(entries[p]);
                consumed[p] = true;
            }
        } else {
            if (!chained[start])
                chainRun(start, end);
            for (uint32_t p = nextInSet[leaderPos]; p != None; p = nextInSet[p]) {
                out.push_back(entries[p]);
                consumed[p] = true;
            }
        }
        if (out.size() > before)
            out.push_back(leader);
    }
    return out;
}

} // namespace fenwa
