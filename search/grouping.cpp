#include "grouping.h"

#include <QFile>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <unordered_map>

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

int threeWay(int64_t a, int64_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
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

KeyList::KeyList(const FileRecordStore& rows, KeyKind kind) : rows_(rows), kind_(kind) {
    entries_.reserve(rows.size());
    if (kind_ == KeyKind::Name) {
        collator_.emplace();
        collator_->setCaseSensitivity(Qt::CaseInsensitive);
        // Qt's sort keys ignore the case setting in the C locale: fold first there.
        foldBeforeCollating_ = collator_->locale().language() == QLocale::C;
        sortKeys_.reserve(rows.size());
    }
}

void KeyList::append(uint32_t q) {
    if (kind_ == KeyKind::Name) {
        // Sort keys are computed once per entry, in reading order, so sortKeys_[q] is row q's.
        QString name = QFile::decodeName(
            QByteArray::fromRawData(rows_.name(q).data(), qsizetype(rows_.name(q).size())));
        if (foldBeforeCollating_)
            name = name.toCaseFolded();
        sortKeys_.push_back(collator_->sortKey(name));
    }
    entries_.push_back(q);
}

int KeyList::compareKeys(uint32_t a, uint32_t b) const {
    switch (kind_) {
    case KeyKind::Name: {
        const int c = sortKeys_[a].compare(sortKeys_[b]);
        if (c != 0)
            return c < 0 ? -1 : 1;
        return platform::compareIgnoringAsciiCase(rows_.name(a), rows_.name(b));
    }
    case KeyKind::Size:
        return threeWay(rows_.fileSize(a), rows_.fileSize(b));
    case KeyKind::Time:
        return threeWay(rows_.minute(a), rows_.minute(b));
    }
    return 0;
}

bool KeyList::keysEqual(uint32_t a, uint32_t b) const {
    switch (kind_) {
    case KeyKind::Name:
        return platform::equalsIgnoringAsciiCase(rows_.name(a), rows_.name(b));
    case KeyKind::Size:
        return rows_.fileSize(a) == rows_.fileSize(b);
    case KeyKind::Time:
        return rows_.minute(a) == rows_.minute(b);
    }
    return false;
}

void KeyList::sort() {
    if (kind_ == KeyKind::Name) {
        std::sort(entries_.begin(), entries_.end(), [this](uint32_t a, uint32_t b) {
            const int c = compareKeys(a, b);
            return c != 0 ? c < 0 : compareAsDecimalText(a, b) < 0;
        });
        return;
    }
    // Numeric keys are copied next to their rows so the sort reads memory in order; the
    // decimal-text tie-break is a number too: the padded row number and its length.
    struct Entry {
        int64_t key;
        uint64_t paddedRow; // the row's digits followed by zeros to ten digits
        uint32_t digits;
        uint32_t row;
    };
    std::vector<Entry> sorted;
    sorted.reserve(entries_.size());
    for (uint32_t q : entries_) {
        const int64_t key = kind_ == KeyKind::Size ? rows_.fileSize(q) : rows_.minute(q);
        const int digits = digitCount(q);
        uint64_t padded = q;
        for (int i = digits; i < 10; ++i)
            padded *= 10;
        sorted.push_back({key, padded, uint32_t(digits), q});
    }
    std::sort(sorted.begin(), sorted.end(), [](const Entry& a, const Entry& b) {
        if (a.key != b.key)
            return a.key < b.key;
        if (a.paddedRow != b.paddedRow)
            return a.paddedRow < b.paddedRow;
        return a.digits < b.digits;
    });
    for (size_t i = 0; i < sorted.size(); ++i)
        entries_[i] = sorted[i].row;
}

std::string KeyList::keyText(uint32_t row) const {
    switch (kind_) {
    case KeyKind::Name:
        return std::string(rows_.name(row));
    case KeyKind::Size:
        return rows_.sizeText(row);
    case KeyKind::Time:
        return rows_.timeText(row);
    }
    return {};
}

std::string KeyList::KeyEntry(size_t position) const {
    return keyText(entries_[position]) + "->" + std::to_string(entries_[position]);
}

long FindFirstKey(const KeyList& list, uint32_t row) {
    // A lower bound by binary search: the first entry whose key is not below the row's.
    // Searching for the bound directly, rather than stepping back entry by entry from any
    // equal one, keeps a run of a hundred thousand equal sizes from costing its square.
    size_t lo = 0, hi = list.size();
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (list.compareKeys(list.index(mid), row) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < list.size() && list.keysEqual(list.index(lo), row))
        return long(lo);
    return -1;
}

std::vector<uint32_t> FindDuplicateRows(const FileRecordStore& hidden, const Criteria& ticked,
                                        const std::function<void(size_t, size_t)>& progress,
                                        const std::atomic<bool>* stop) {
    // Looked at every few thousand rows: a stop is seen within a few milliseconds.
    const auto stopped = [stop](size_t q) {
        return stop && (q & 4095) == 0 && stop->load(std::memory_order_relaxed);
    };
    const Criteria criteria = candidateCriteria(ticked);
    const size_t n = hidden.size();
    KeyList keys(hidden, primaryKey(criteria));
    for (size_t q = 0; q < n; ++q) {
        if (progress)
            progress(q, n);
        if (stopped(q))
            return {};
        keys.append(uint32_t(q));
    }
    keys.sort();

    // Entries are never moved: a consumed flag per entry, and for each run of equal keys a
    // cursor to its first remaining entry, give the same answers as removing them.
    std::vector<bool> consumed(n, false);
    std::vector<uint32_t> cursor(n);
    std::vector<uint32_t> runEnd(n);
    // For numeric keys a row's run is found through its own position in the key list:
    // the start of the run holding that position is what the binary search would find.
    const bool numeric = primaryKey(criteria) != KeyKind::Name;
    std::vector<uint32_t> runStartOfRow;
    if (numeric)
        runStartOfRow.resize(n);
    for (size_t start = 0; start < n;) {
        size_t end = start + 1;
        while (end < n && keys.keysEqual(keys.index(end), keys.index(start)))
            ++end;
        cursor[start] = uint32_t(start);
        runEnd[start] = uint32_t(end);
        if (numeric)
            for (size_t p = start; p < end; ++p)
                runStartOfRow[keys.index(p)] = uint32_t(start);
        start = end;
    }
    const bool single = int(criteria.name) + int(criteria.size) + int(criteria.time) <= 1;

    // With several criteria a run of equal keys splits into sets equal on every ticked
    // criterion. Each set is chained in key-list order when its run is first met, so a
    // leader's group is found without scanning the run again.
    constexpr uint32_t None = UINT32_MAX;
    std::vector<uint32_t> nextInSet;
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
            auto [it, inserted] = lastOfSet.try_emplace(keys.index(p), uint32_t(p));
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
        const long r = numeric ? long(runStartOfRow[q]) : FindFirstKey(keys, uint32_t(q));
        if (r < 0)
            continue;
        const size_t start = size_t(r), end = runEnd[start];
        size_t leaderPos = cursor[start];
        while (leaderPos < end && consumed[leaderPos])
            ++leaderPos;
        cursor[start] = uint32_t(leaderPos);
        if (leaderPos == end)
            continue; // every entry of this key was taken by an earlier leader
        const uint32_t leader = keys.index(leaderPos);
        consumed[leaderPos] = true;
        const size_t before = out.size();
        if (single) {
            for (size_t p = leaderPos + 1; p < end; ++p) {
                out.push_back(keys.index(p));
                consumed[p] = true;
            }
        } else {
            if (!chained[start])
                chainRun(start, end);
            for (uint32_t p = nextInSet[leaderPos]; p != None; p = nextInSet[p]) {
                out.push_back(keys.index(p));
                consumed[p] = true;
            }
        }
        if (out.size() > before)
            out.push_back(leader);
    }
    return out;
}

} // namespace fenwa
