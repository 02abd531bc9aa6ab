#pragma once
// The duplicate search over the rows read into a hidden list. The rows are gathered by the
// key of the first ticked criterion (in the order Name, Size, Time): rows with equal keys
// form a run, in the order of their row numbers as decimal text. A pass in reading order
// then lays out the groups found in each run. The result is the order of the hidden rows
// that the result list shows.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "bigallocator.h"
#include "filerecord.h"
#include "resultlist.h"

namespace fenwa {

enum class KeyKind { Name, Size, Time };

// The criteria the runs are gathered by: the ticked ones without Content and Similar.
// Equal content needs equal size, so Content ticked alone gathers files of equal size;
// Similar alone gathers nothing (every picture is a candidate).
Criteria candidateCriteria(const Criteria& ticked);

// The key of the first ticked criterion; Name when nothing is ticked.
KeyKind primaryKey(const Criteria& criteria);

// The rows' keys of one kind numbered in order of first appearance, row by row, in
// reading order. A search numbers its rows while they are still being read (whichever
// thread adds them), so that the grouping after the reading starts from the numbers.
class KeyNumbering {
public:
    explicit KeyNumbering(KeyKind kind) : kind_(kind) {}
    KeyKind kind() const { return kind_; }
    // Numbers the rows of `rows` after those numbered before: a store that rows are only
    // ever appended to. False when `stopped(row)` ended it early.
    bool catchUp(const FileRecordStore& rows,
                 const std::function<void(size_t step, size_t count)>& progress = {},
                 const std::function<bool(size_t)>& stopped = {});
    size_t rowsNumbered() const { return keyOfRow_.size(); }
    uint32_t keys() const { return keys_; }
    // Each row's key number; the numbering is left empty.
    BigVector<uint32_t> takeKeysOfRows() {
        keys_ = 0;
        table_ = {};
        return std::move(keyOfRow_);
    }

private:
    struct Slot {
        uint32_t tag = 0;
        uint32_t firstRowPlusOne = 0;
    };
    uint64_t hashOf(const FileRecordStore& rows, uint32_t row) const;
    bool sameKey(const FileRecordStore& rows, uint32_t a, uint32_t b) const;
    void grow(const FileRecordStore& rows, size_t capacity);

    KeyKind kind_;
    // Open addressing: each slot holds the hash's high half and the key's first row + 1.
    BigVector<Slot> table_;
    BigVector<uint32_t> keyOfRow_;
    uint32_t keys_ = 0;
};

// Runs both passes and answers the hidden rows in result-list order: each group is a run
// with its members in run order and its leader last, groups in the order of the
// earliest-read file with their key. With several criteria ticked, files that differ from
// a leader stay in the run for the next leader with the same key, so every set of two or
// more files equal on all ticked criteria forms a group. Names are equal when their bytes
// are, ASCII case ignored: how unequal names would sort never matters, so no collation is
// involved.
// Content is not looked at here: the groups are those of candidateCriteria(criteria),
// which the content check (contentcheck.h) then splits.
// progress(step, count) is called before each step of each pass. `numbered`, when its
// kind is the first ticked criterion's, holds the keys of the rows read so far. When `stop` is
// raised the search ends early with an empty answer.
std::vector<uint32_t>
FindDuplicateRows(const FileRecordStore& hidden, const Criteria& criteria,
                  const std::function<void(size_t step, size_t count)>& progress = {},
                  const std::atomic<bool>* stop = nullptr, KeyNumbering* numbered = nullptr);

} // namespace fenwa
