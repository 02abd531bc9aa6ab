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

// Runs both passes and answers the hidden rows in result-list order: each group is a run
// with its members in run order and its leader last, groups in the order of the
// earliest-read file with their key. With several criteria ticked, files that differ from
// a leader stay in the run for the next leader with the same key, so every set of two or
// more files equal on all ticked criteria forms a group. Names are equal when their bytes
// are, ASCII case ignored: how unequal names would sort never matters, so no collation is
// involved.
// Content is not looked at here: the groups are those of candidateCriteria(criteria),
// which the content check (contentcheck.h) then splits.
// progress(step, count) is called before each step of each pass. When `stop` is raised
// the search ends early with an empty answer.
std::vector<uint32_t>
FindDuplicateRows(const FileRecordStore& hidden, const Criteria& criteria,
                  const std::function<void(size_t step, size_t count)>& progress = {},
                  const std::atomic<bool>* stop = nullptr);

} // namespace fenwa
