#include "undo.h"

#include <cerrno>
#include <set>

#include "pathrules.h"
#include "uitext.h"
#include "undorows.h"

namespace fenwa::actions {

ActUndone undoActedFile(const ActedFile& file, const ContentHasher& hasher) {
    ActUndone undone;
    if (file.act == ActKind::Move) {
        const platform::ActResult back =
            platform::moveNoReplace(file.destination, file.left.identity, file.path);
        undone.done = back.ok;
        if (back.error == platform::ActError::Exists)
            undone.why = say("something now occupies its old path, the file stays where it "
                             "was moved to",
                             "原來的位置已經有檔案, 檔案留在移動後的位置");
        else if (back.error == platform::ActError::Changed)
            undone.why = say("the moved file is no longer where it was moved to",
                             "移動後的檔案已經不在原處");
        else if (!back.ok)
            undone.why = say(platform::actErrorWords(back.error).english,
                             platform::actErrorWords(back.error).chinese) +
                         (back.message.empty() ? "" : " (" + back.message + ")");
        return undone;
    }
    // The original bytes: the kept copy's while it still hashes as the file did; for a
    // hard link the path's own file is the kept copy's inode, kept even if the copy's
    // name went.
    std::vector<std::string> sources{file.keeper};
    if (file.act == ActKind::HardLink)
        sources.push_back(file.path);
    for (const std::string& source : sources) {
        ContentHash now;
        platform::FileState state;
        if (!platform::statFileNow(source, state) || !state.regularFile ||
            !hasher(source, file.meta.size, now) || now != file.hash)
            continue;
        const platform::ActResult back =
            platform::restoreIndependentCopy(file.path, file.left, source, file.meta);
        if (back.ok) {
            // The bytes given back are checked, as written.
            undone.done = hasher(file.path, file.meta.size, now) && now == file.hash;
            if (!undone.done)
                undone.why = say("the restored file does not hold the original bytes",
                                 "復原的檔案內容和原來的不同");
            return undone;
        }
        undone.why = back.error == platform::ActError::Changed
                         ? say("the file was changed since, nothing was touched",
                               "檔案之後已被改變, 沒有動它")
                         : say(platform::actErrorWords(back.error).english,
                               platform::actErrorWords(back.error).chinese) +
                               (back.message.empty() ? "" : " (" + back.message + ")");
        return undone;
    }
    undone.why = say("the kept copy was changed or removed since: the original bytes are gone",
                     "留下的副本之後已被改變或刪除, 原來的內容已經不在了");
    return undone;
}

UndoOutcome reverseOnDisk(const UndoAction& action) {
    UndoOutcome outcome;
    if (action.kind == UndoKind::Move || action.kind == UndoKind::Replace) {
        std::vector<platform::MadeFolder> made;
        for (const ActedFile& file : action.acted) {
            outcome.acts.push_back(undoActedFile(file));
            made.insert(made.end(), file.madeFolders.begin(), file.madeFolders.end());
        }
        // Once every file is back: a folder made by the move holds another moved file
        // until that one is back too.
        platform::removeFoldersIfEmpty(made);
        return outcome;
    }
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

namespace fenwa::actions {

namespace {

std::string joinNative(const std::string& directory, std::string_view name) {
    return platform::JoinPath(platform::nativePathStyle(), directory, name);
}

void rowsBack(const FileRecordStore& list, const UndoAction& action,
              const std::set<std::string>& back, uint64_t listGeneration, ListUndo& undone);

ListUndo undoTrash(const FileRecordStore& list, const UndoAction& action, uint64_t listGeneration) {
    ListUndo undone;
    const UndoOutcome outcome = reverseOnDisk(action);
    std::string problems;
    std::set<std::string> back;
    for (size_t i = 0; i < action.trashed.size() && i < outcome.restored.size(); ++i) {
        const std::string& path = action.trashed[i].originalPath;
        const platform::RestoreResult& result = outcome.restored[i];
        switch (result.status) {
        case platform::RestoreStatus::Restored:
            back.insert(path);
            continue;
        case platform::RestoreStatus::Occupied:
            problems += path + "  (" +
                        say("something now occupies this path, the file stays in the trash",
                            "原來的位置已經有檔案, 檔案留在垃圾桶") +
                        ")";
            break;
        case platform::RestoreStatus::NotInTrash:
            problems += path + "  (" +
                        say("it is no longer in the trash", "垃圾桶裡已經找不到這個檔案") + ")";
            break;
        case platform::RestoreStatus::FolderGone:
            problems += path + "  (" +
                        say("its folder no longer exists, the file stays in the trash",
                            "原來的資料夾已經不存在, 檔案留在垃圾桶") +
                        ")";
            break;
        case platform::RestoreStatus::Failed:
            problems += path + "  (" + result.message + ")";
            break;
        }
        problems += "\n";
    }
    if (!problems.empty()) {
        problems.pop_back();
        undone.problems =
            std::string(say("These files could not be put back:\n", "無法復原這些檔案:\n")) +
            problems;
    }

    rowsBack(list, action, back, listGeneration, undone);
    return undone;
}

// The rows of the files back at their paths go back into the list they left.
void rowsBack(const FileRecordStore& list, const UndoAction& action,
              const std::set<std::string>& back, uint64_t listGeneration, ListUndo& undone) {
    std::vector<RemovedRow> restored;
    if (action.listGeneration == listGeneration)
        for (const RemovedRow& row : action.rows)
            if (back.count(joinNative(row.directory, row.name)))
                restored.push_back(row);
    if (restored.empty())
        return;
    const std::vector<RowInsertion> insertions = placeRestoredRows(list, restored);
    // From the last position up, so that each position still means the list as it is.
    for (auto it = insertions.rbegin(); it != insertions.rend(); ++it) {
        ListUndo::Block block;
        block.position = it->position;
        for (size_t i : it->rows) {
            const RemovedRow& row = restored[i];
            // The file as it is back on the disk: a later action checks against that.
            platform::FileState now;
            const bool known =
                platform::statFileNow(joinNative(row.directory, row.name), now) && now.regularFile;
            FileRecordStore& rows = block.rows;
            rows.append(rows.internDirectory(row.directory, known ? now.identity.device : 0),
                        row.name, row.size, row.minute, known ? now.identity.inode : 0,
                        known ? now.changeStamp : 0);
            // Back in its group, as the search found it.
            rows.setGroup(rows.size() - 1, row.group);
            if (row.contentHash)
                rows.setContentHash(rows.size() - 1, *row.contentHash);
        }
        undone.blocks.push_back(std::move(block));
    }
    // Every earlier insertion pushed the later ones down.
    size_t shift = 0;
    for (const RowInsertion& insertion : insertions) {
        for (size_t k = 0; k < insertion.rows.size(); ++k)
            undone.returnedRows.push_back(insertion.position + shift + k);
        shift += insertion.rows.size();
    }
}

ListUndo undoActs(const FileRecordStore& list, const UndoAction& action, uint64_t listGeneration) {
    ListUndo undone;
    const UndoOutcome outcome = reverseOnDisk(action);
    std::string problems;
    std::set<std::string> back;
    for (size_t i = 0; i < action.acted.size() && i < outcome.acts.size(); ++i) {
        if (outcome.acts[i].done)
            back.insert(action.acted[i].path);
        else
            problems += action.acted[i].path + "  (" + outcome.acts[i].why + ")\n";
    }
    if (!problems.empty()) {
        problems.pop_back();
        undone.problems =
            std::string(say("These files could not be put back:\n", "無法復原這些檔案:\n")) +
            problems;
    }
    rowsBack(list, action, back, listGeneration, undone);
    return undone;
}

ListUndo undoRename(const FileRecordStore& rows, const UndoAction& action) {
    ListUndo undone;
    const UndoOutcome outcome = reverseOnDisk(action);
    const platform::RenameResult& result = outcome.renamedBack;
    if (outcome.notTheRenamedFile || !result.renamed) {
        std::string why;
        if (outcome.notTheRenamedFile)
            why = say("another file has this name now, neither file was touched",
                      "這個名稱現在是另一個檔案, 兩個檔案都沒有動");
        else if (result.error == EEXIST || result.error == ENOTEMPTY)
            why = say("the old name is taken now, nothing was renamed",
                      "原來的名稱已經有檔案, 沒有改回");
        else if (result.error == ENOENT)
            why = say("the renamed file no longer exists", "檔案已經不存在");
        else
            why = result.message;
        undone.problems = std::string(say("Could not undo the rename:\n", "無法復原改名:\n")) +
                          joinNative(action.directory, action.newName) + "  (" + why + ")";
        return undone;
    }
    // The row of the file, when the list shows it, takes the old name again.
    for (size_t row = 0; row < rows.size(); ++row) {
        if (rows.name(row) == action.newName && rows.directory(row) == action.directory &&
            (rows.inode(row) == 0 || rows.inode(row) == action.renamed.inode)) {
            undone.renamedRow = row;
            undone.oldName = action.oldName;
            break;
        }
    }
    return undone;
}

} // namespace

namespace {

// The rows flagged in `leaving` whose paths are among `paths`, each with the staying rows
// nearest above and below it.
std::vector<RemovedRow> removedRowsOf(const FileRecordStore& rows, const std::vector<bool>& leaving,
                                      const std::set<std::string>& trashed) {
    std::vector<RemovedRow> removedRows;

    const size_t count = rows.size();
    const auto goes = [&](size_t row) { return row < leaving.size() && leaving[row]; };
    const auto neighbour = [&](long row) {
        RemovedRow::Neighbour n;
        if (row >= 0 && size_t(row) < count) {
            n.exists = true;
            n.directory = rows.directory(size_t(row));
            n.name = std::string(rows.name(size_t(row)));
        }
        return n;
    };
    // The nearest staying row above each row, then below it.
    std::vector<long> above(count, -1), below(count, -1);
    for (long row = 0, last = -1; size_t(row) < count; ++row) {
        above[size_t(row)] = last;
        if (!goes(size_t(row)))
            last = row;
    }
    for (long row = long(count) - 1, next = -1; row >= 0; --row) {
        below[size_t(row)] = next;
        if (!goes(size_t(row)))
            next = row;
    }
    for (size_t row = 0; row < count; ++row) {
        if (!goes(row) || !trashed.count(rows.fullPath(row)))
            continue;
        RemovedRow removed;
        removed.directory = rows.directory(row);
        removed.name = std::string(rows.name(row));
        removed.size = rows.fileSize(row);
        removed.minute = rows.minute(row);
        removed.index = row;
        removed.group = rows.group(row);
        if (const ContentHash* hash = rows.contentHash(row))
            removed.contentHash = *hash;
        removed.above = neighbour(above[row]);
        removed.below = neighbour(below[row]);
        removedRows.push_back(std::move(removed));
    }
    return removedRows;
}

} // namespace

UndoAction trashActionFor(const FileRecordStore& rows, const platform::DeleteReport& report,
                          const std::vector<bool>& leaving, uint64_t listGeneration) {
    UndoAction action;
    action.kind = UndoKind::Trash;
    action.trashed = report.trashed;
    action.listGeneration = listGeneration;
    std::set<std::string> trashed;
    for (const platform::TrashedFile& f : report.trashed)
        trashed.insert(f.originalPath);
    action.rows = removedRowsOf(rows, leaving, trashed);
    return action;
}

UndoAction actActionFor(const FileRecordStore& rows, UndoAction acted,
                        const std::vector<bool>& leaving, uint64_t listGeneration) {
    acted.listGeneration = listGeneration;
    std::set<std::string> paths;
    for (const ActedFile& f : acted.acted)
        paths.insert(f.path);
    acted.rows = removedRowsOf(rows, leaving, paths);
    return acted;
}

UndoAction renameActionFor(const FileRecordStore& rows, size_t row, std::string newName,
                           const platform::FileIdentity& renamed) {
    UndoAction action;
    action.kind = UndoKind::Rename;
    action.directory = rows.directory(row);
    action.oldName = std::string(rows.name(row));
    action.newName = std::move(newName);
    action.renamed = renamed;
    return action;
}

ListUndo undoOnList(const FileRecordStore& rows, const UndoAction& action,
                    uint64_t listGeneration) {
    switch (action.kind) {
    case UndoKind::Trash:
        return undoTrash(rows, action, listGeneration);
    case UndoKind::Rename:
        return undoRename(rows, action);
    case UndoKind::Move:
    case UndoKind::Replace:
        break;
    }
    return undoActs(rows, action, listGeneration);
}

} // namespace fenwa::actions
