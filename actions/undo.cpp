#include "undo.h"

#include <cerrno>

#include "pathrules.h"

namespace fenwa::actions {

UndoOutcome reverseOnDisk(const UndoAction& action) {
    UndoOutcome outcome;
    if (action.kind == UndoKind::Trash) {
        outcome.restored = platform::restoreFromTrash(action.trashed);
        return outcome;
    }
    const platform::PathStyle style = platform::nativePathStyle();
    const std::string now = platform::JoinPath(style, action.directory, action.newName);
    platform::FileState state;
    if (!platform::statFileNow(now, state) || !state.exists) {
        outcome.renamedBack.error = ENOENT;
        return outcome;
    }
    if (action.renamed == platform::FileIdentity{} || state.identity != action.renamed) {
        outcome.notTheRenamedFile = true;
        return outcome;
    }
    outcome.renamedBack =
        platform::renameNoReplace(now, platform::JoinPath(style, action.directory, action.oldName));
    return outcome;
}

} // namespace fenwa::actions
