#pragma once
// The duplicate search over the rows read into a hidden list. Every row gets a key (its
// text for the first ticked criterion, in the order Name, Size, Time); the key list is
// sorted so that equal keys are adjacent; the second pass then finds each row's run of
// equal keys by binary search and lays out the groups found in it. The result is the
// order of the hidden rows that the result list shows.

#include <QCollator>
#include <QCollatorSortKey>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "filerecord.h"
#include "resultlist.h"

namespace fenwa {

enum class KeyKind { Name, Size, Time };

// The criteria the key list groups by: the ticked ones without Content and Similar.
// Equal content needs equal size, so Content ticked alone gathers files of equal size;
// Similar alone gathers nothing (every picture is a candidate).
Criteria candidateCriteria(const Criteria& ticked);

// The key of the first ticked criterion; Name when nothing is ticked.
KeyKind primaryKey(const Criteria& criteria);

// The key list: one entry per hidden row, the row's key and its position q in the hidden
// list. Entries are ordered by key (names by the user's locale collation, case ignored,
// ties broken by the ASCII-case-folded name so that text-equal keys are adjacent; sizes
// and times as numbers), then by q compared as decimal text, character by character.
class KeyList {
public:
    KeyList(const FileRecordStore& rows, KeyKind kind);

    // First pass: the entry of hidden row q.
    void append(uint32_t q);
    void sort();

    size_t size() const { return entries_.size(); }
    uint32_t index(size_t position) const { return entries_[position]; }
    // The entry as text: the key, "->", and q in decimal.
    std::string KeyEntry(size_t position) const;
    std::string keyText(uint32_t row) const;

    // Compares the keys of two hidden rows in the list's order.
    int compareKeys(uint32_t a, uint32_t b) const;
    // Text equality of two rows' keys (ASCII case ignored).
    bool keysEqual(uint32_t a, uint32_t b) const;

private:
    const FileRecordStore& rows_;
    KeyKind kind_;
    std::vector<uint32_t> entries_;
    std::optional<QCollator> collator_;
    bool foldBeforeCollating_ = false;
    std::vector<QCollatorSortKey> sortKeys_; // by hidden row, names only
};

// The position of the first entry whose key equals the key of hidden row `row`, or -1.
long FindFirstKey(const KeyList& list, uint32_t row);

// Runs both passes and answers the hidden rows in result-list order: each group is a run
// with its members in key-list order and its leader last, groups in the order of the
// earliest-read file with their key. With several criteria ticked, files that differ from
// a leader stay in the key list for the next leader with the same key, so every set of
// two or more files equal on all ticked criteria forms a group.
// Content is not looked at here: the groups are those of candidateCriteria(criteria),
// which the content check (contentcheck.h) then splits.
// progress(step, count) is called before each step of each pass. When `stop` is raised
// the search ends early with an empty answer.
std::vector<uint32_t>
FindDuplicateRows(const FileRecordStore& hidden, const Criteria& criteria,
                  const std::function<void(size_t step, size_t count)>& progress = {},
                  const std::atomic<bool>* stop = nullptr);

} // namespace fenwa
