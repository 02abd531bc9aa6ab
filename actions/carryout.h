#pragma once
// Carrying out a delete plan: the questions the plan calls for, then the files one by
// one. After each file goes to the trash the copy it counted on is looked at again; when
// that copy is gone or changed, the file is put back from the trash at once and the user
// told. The windows update their lists from what this answers.

#include <cstddef>
#include <string>
#include <vector>

#include "deleteplanner.h"
#include "shellfiles.h"

namespace fenwa::actions {

struct DeleteOutcome {
    // Nothing was deleted: the user said No to a question.
    bool declined = false;
    platform::DeleteReport report; // what went to the trash and stayed there
    std::vector<size_t> putBack;   // rows whose files came back: their copy changed
};

// `flags` are the delete request's (platform::FOF_*). The probe and hasher look at the
// counted-on copies, as the planner did.
DeleteOutcome CarryOutDelete(const FileRecordStore& rows, const DeletePlan& plan,
                             const DeleteRequest& request, int flags,
                             platform::ShellPrompts& prompts, const FileProbe& probe,
                             const ContentHasher& hasher);

} // namespace fenwa::actions
