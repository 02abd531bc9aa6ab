#pragma once
// Reversing a journalled action on the disk: the files of a move to the trash go back to
// their places, a renamed file takes its old name again. Nothing is ever replaced: a
// path that is taken now keeps what it holds, and the file stays where it is; and only
// the file that was renamed is renamed back, not another that has its name now.

#include <optional>
#include <string>
#include <vector>

#include "deleteplanner.h"
#include "filerecord.h"
#include "rename.h"
#include "shellfiles.h"
#include "trash.h"
#include "undojournal.h"

namespace fenwa::actions {

// Undoing one file of a Move or Replace.
struct ActUndone {
    bool done = false;
    std::string why; // when not done, in the interface language
};
// A moved file goes back to its path, never over anything there; a replaced file gets
// its own bytes back, as an independent file with its mode, owner and times: from the
// kept copy (or, for a hard link, the path's own file, which is the kept copy's) only
// while those still hash as the file did; if neither does, the original bytes are gone
// and nothing is touched. Only what the act left at the path is ever replaced.
ActUndone undoActedFile(const ActedFile& file, const ContentHasher& hasher = hashFileNow);

struct UndoOutcome {
    // A move to the trash: one result per trashed file, in the action's order.
    std::vector<platform::RestoreResult> restored;
    // A rename: the rename back.
    platform::RenameResult renamedBack;
    // A rename not undone because the file now at the new name is not the one renamed (or
    // which one was renamed is not known): both files are left alone.
    bool notTheRenamedFile = false;
    // A Move or Replace: one result per file, in the action's order.
    std::vector<ActUndone> acts;
};

UndoOutcome reverseOnDisk(const UndoAction& action);

// The journal entry for the files a delete request moved to the trash, with the rows
// they had in `rows` (flagged in `leaving`, still in `rows`) and the rows around them.
UndoAction trashActionFor(const FileRecordStore& rows, const platform::DeleteReport& report,
                          const std::vector<bool>& leaving, uint64_t listGeneration);
// The journal entry for a rename of a row's file, done on disk; `renamed` is what the
// renamed file is, so that Undo renames back no other file.
// The journal entry of an act (`acted`, from CarryOutAct) with the rows its files had.
UndoAction actActionFor(const FileRecordStore& rows, UndoAction acted,
                        const std::vector<bool>& leaving, uint64_t listGeneration);
UndoAction renameActionFor(const FileRecordStore& rows, size_t row, std::string newName,
                           const platform::FileIdentity& renamed);

// Reverses an action on the disk and answers what the list takes from it.
struct ListUndo {
    // Rows of files back from the trash, in blocks to insert one after another, each
    // at its position in the list as the blocks before it left it. The rows carry the
    // files as they are back on the disk, in their groups.
    struct Block {
        size_t position = 0;
        FileRecordStore rows;
    };
    std::vector<Block> blocks;
    // Where the rows that came back stand once every block is in, in list order.
    std::vector<size_t> returnedRows;
    // A rename undone: the row that takes its old name again, when the list shows it.
    std::optional<size_t> renamedRow;
    std::string oldName;
    // What could not be undone, a heading and one line a file (native bytes); empty when
    // everything was.
    std::string problems;
};
// Rows go back only into the list they left (`listGeneration`): after a restart or a
// new search there is no such list.
ListUndo undoOnList(const FileRecordStore& rows, const UndoAction& action, uint64_t listGeneration);

} // namespace fenwa::actions
