#pragma once
// Carrying out a delete plan: the questions the plan calls for, then the files one by
// one. After each file goes to the trash the copy it counted on is looked at again; when
// that copy is gone or changed, the file is put back from the trash at once and the user
// told. The windows update their lists from what this answers.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "deleteplanner.h"
#include "shellfiles.h"
#include "undojournal.h"

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

struct ActOutcome {
    bool declined = false; // the user said No: nothing was done
    // Each row of the plan's `remove`, in its order, and what became of its file.
    std::vector<RowActed> acted;
    // The files acted on (for Undo): a Move or Replace entry, without rows; empty when
    // nothing was done.
    std::optional<UndoAction> journal;
};

// Carries out a plan whose request's act is not Delete. Asks as a delete does: protected
// files by name, a group's last copy (Move), and, without FOF_NOCONFIRMATION in `flags`,
// once for the whole act. Just before each file its row and kept copy are looked at
// again; just after, the kept copy: a file whose kept copy no longer holds is restored
// at once. Failures and put-back files are reported through `prompts` at the end.
ActOutcome CarryOutAct(const FileRecordStore& rows, const DeletePlan& plan,
                       const DeleteRequest& request, int flags, platform::ShellPrompts& prompts,
                       const FileProbe& probe, const ContentHasher& hasher);

} // namespace fenwa::actions
