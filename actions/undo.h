#pragma once
// Reversing a journalled action on the disk: the files of a move to the trash go back to
// their places, a renamed file takes its old name again. Nothing is ever replaced: a
// path that is taken now keeps what it holds, and the file stays where it is; and only
// the file that was renamed is renamed back, not another that has its name now.

#include <vector>

#include "rename.h"
#include "trash.h"
#include "undojournal.h"

namespace fenwa::actions {

struct UndoOutcome {
    // A move to the trash: one result per trashed file, in the action's order.
    std::vector<platform::RestoreResult> restored;
    // A rename: the rename back.
    platform::RenameResult renamedBack;
    // A rename not undone because the file now at the new name is not the one renamed (or
    // which one was renamed is not known): both files are left alone.
    bool notTheRenamedFile = false;
};

UndoOutcome reverseOnDisk(const UndoAction& action);

} // namespace fenwa::actions
