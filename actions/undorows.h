#pragma once
// Where the rows of files taken back from the trash go in the result list. Each run of
// rows that left together goes back after the row that stood above it, or else before
// the row that stood below it; failing both, after the last row of the group it was
// in, or else at the end. A run never goes into the middle of a group it does not belong
// to, so groups stay contiguous. Groups are those the search recorded in the rows.

#include <vector>

#include "filerecord.h"
#include "undojournal.h"

namespace fenwa::actions {

struct RowInsertion {
    size_t position = 0;      // before this row of the list as it is now; size(): the end
    std::vector<size_t> rows; // indexes into the restored rows, in list order
};

// The insertions for `restored` (in the order the rows had), sorted by position; rows
// for the same position keep their order.
std::vector<RowInsertion> placeRestoredRows(const FileRecordStore& list,
                                            const std::vector<RemovedRow>& restored);

} // namespace fenwa::actions
