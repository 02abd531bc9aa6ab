#include "undo.h"

#include "pathrules.h"

namespace fenwa::actions {

UndoOutcome reverseOnDisk(const UndoAction& action) {
    UndoOutcome outcome;
    if (action.kind == UndoKind::Trash) {
        outcome.restored = platform::restoreFromTrash(action.trashed);
        return outcome;
    }
    const platform::PathStyle style = platform::nativePathStyle();
    outcome.renamedBack =
        platform::renameNoReplace(platform::JoinPath(style, action.directory, action.newName),
                                  platform::JoinPath(style, action.directory, action.oldName));
    return outcome;
}

} // namespace fenwa::actions
