// The main window's Undo: journalling renames and moves to the trash, and reversing the
// most recent of them. The journal, the disk work and the placing of rows live in the
// actions library; this file ties them to the list and its menu.

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QRadioButton>
#include <QTreeView>
#include <cerrno>
#include <set>

#include "languages.h"
#include "messages.h"
#include "nativename.h"
#include "pathrules.h"
#include "shellfiles.h"
#include "tfrmmain.h"
#include "undo.h"
#include "undojournal.h"
#include "undorows.h"

namespace fenwa {

namespace {

using platform::fromNative;

std::string joinNative(const std::string& directory, std::string_view name) {
    return platform::JoinPath(platform::nativePathStyle(), directory, name);
}

} // namespace

void TfrmMain::connectUndo() {
    undoJournal_ = std::make_unique<actions::UndoJournal>(services_.undoJournalPath);
    // A damaged journal is an empty one: the next action writes a sound file over it.
    undoJournal_->load();
    miUndo = new QAction(PopupMenu1);
    miUndo->setObjectName("miUndo");
    // Right after Delete, before the separator that follows it.
    const QList<QAction*> items = PopupMenu1->actions();
    const qsizetype deleteAt = items.indexOf(miDelete);
    PopupMenu1->insertAction(deleteAt + 1 < items.size() ? items[deleteAt + 1] : nullptr, miUndo);
    connect(miUndo, &QAction::triggered, this, &TfrmMain::miUndoClick);
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmMain::updateUndoAction);
    connect(pgOptions->rbEnglish, &QRadioButton::toggled, this, &TfrmMain::updateUndoAction);
    updateUndoAction();
}

void TfrmMain::updateUndoAction() {
    const actions::UndoAction* last = undoJournal_->last();
    const UndoCaption caption = !last                                    ? UndoCaption::Nothing
                                : last->kind == actions::UndoKind::Trash ? UndoCaption::Delete
                                                                         : UndoCaption::Rename;
    miUndo->setText(
        undoMenuCaptionFor(pgOptions->rbEnglish->isChecked() ? English : Chinese, caption));
    miUndo->setEnabled(last != nullptr);
}

// ---------------------------------------------------------------------------
// Journalling

void TfrmMain::journalTrash(const platform::DeleteReport& report,
                            const std::vector<bool>& removing) {
    if (report.trashed.empty())
        return;
    actions::UndoAction action;
    action.kind = actions::UndoKind::Trash;
    action.trashed = report.trashed;
    action.listGeneration = listGeneration_;
    std::set<std::string> trashed;
    for (const platform::TrashedFile& f : report.trashed)
        trashed.insert(f.originalPath);

    const FileRecordStore& rows = lvFilesModel->store();
    const size_t count = rows.size();
    auto leaving = [&](size_t row) { return row < removing.size() && removing[row]; };
    auto neighbour = [&](long row) {
        actions::RemovedRow::Neighbour n;
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
        if (!leaving(size_t(row)))
            last = row;
    }
    for (long row = long(count) - 1, next = -1; row >= 0; --row) {
        below[size_t(row)] = next;
        if (!leaving(size_t(row)))
            next = row;
    }
    for (size_t row = 0; row < count; ++row) {
        if (!leaving(row) || !trashed.count(rows.fullPath(row)))
            continue;
        actions::RemovedRow removed;
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
        action.rows.push_back(std::move(removed));
    }
    undoJournal_->push(std::move(action));
    updateUndoAction();
}

void TfrmMain::journalRename(int row, const std::string& newName,
                             const platform::FileIdentity& renamed) {
    const FileRecordStore& rows = lvFilesModel->store();
    actions::UndoAction action;
    action.kind = actions::UndoKind::Rename;
    action.directory = rows.directory(size_t(row));
    action.oldName = std::string(rows.name(size_t(row)));
    action.newName = newName;
    action.renamed = renamed;
    undoJournal_->push(std::move(action));
    updateUndoAction();
}

// ---------------------------------------------------------------------------
// Undo

void TfrmMain::Undo() {
    std::optional<actions::UndoAction> action = undoJournal_->takeLast();
    updateUndoAction();
    if (!action)
        return;
    if (action->kind == actions::UndoKind::Trash)
        undoTrash(*action);
    else
        undoRename(*action);
}

void TfrmMain::undoTrash(const actions::UndoAction& action) {
    const actions::UndoOutcome outcome = actions::reverseOnDisk(action);
    QStringList problems;
    std::set<std::string> back;
    for (size_t i = 0; i < action.trashed.size() && i < outcome.restored.size(); ++i) {
        const std::string& path = action.trashed[i].originalPath;
        const platform::RestoreResult& result = outcome.restored[i];
        switch (result.status) {
        case platform::RestoreStatus::Restored:
            back.insert(path);
            continue;
        case platform::RestoreStatus::Occupied:
            problems << fromNative(path) +
                            QStringLiteral("  (原來的位置已經有檔案, 檔案留在垃圾桶; something now "
                                           "occupies this path, the file stays in the trash)");
            break;
        case platform::RestoreStatus::NotInTrash:
            problems << fromNative(path) +
                            QStringLiteral("  (垃圾桶裡已經找不到這個檔案; it is no longer in the "
                                           "trash)");
            break;
        case platform::RestoreStatus::FolderGone:
            problems << fromNative(path) +
                            QStringLiteral("  (原來的資料夾已經不存在, 檔案留在垃圾桶; its folder "
                                           "no longer exists, the file stays in the trash)");
            break;
        case platform::RestoreStatus::Failed:
            problems << fromNative(path) + QStringLiteral("  (") + fromNative(result.message) +
                            QStringLiteral(")");
            break;
        }
    }

    // The rows go back only into the list they left; after a restart or a new search
    // there is no such list.
    std::vector<actions::RemovedRow> restored;
    if (action.listGeneration == listGeneration_)
        for (const actions::RemovedRow& row : action.rows)
            if (back.count(joinNative(row.directory, row.name)))
                restored.push_back(row);
    if (!restored.empty()) {
        const std::vector<actions::RowInsertion> insertions =
            actions::placeRestoredRows(lvFilesModel->store(), restored);
        // The marked group is marked again once the rows are in.
        UnmarkGroup(HighlightedRow);
        HighlightedRow = -1;
        std::vector<int> newRows;
        for (auto it = insertions.rbegin(); it != insertions.rend(); ++it) {
            FileRecordStore block;
            for (size_t i : it->rows) {
                const actions::RemovedRow& row = restored[i];
                // The file as it is back on the disk: a later action checks against that.
                platform::FileState now;
                const bool known =
                    platform::statFileNow(joinNative(row.directory, row.name), now) &&
                    now.regularFile;
                block.append(block.internDirectory(row.directory, known ? now.identity.device : 0),
                             row.name, row.size, row.minute, known ? now.identity.inode : 0,
                             known ? now.changeStamp : 0);
                // Back in its group, as the search found it.
                block.setGroup(block.size() - 1, row.group);
                if (row.contentHash)
                    block.setContentHash(block.size() - 1, *row.contentHash);
            }
            lvFilesModel->insertRows(int(it->position), std::move(block));
        }
        // Where the inserted rows are now: every earlier insertion pushed them down.
        size_t shift = 0;
        for (const actions::RowInsertion& insertion : insertions) {
            for (size_t k = 0; k < insertion.rows.size(); ++k)
                newRows.push_back(int(insertion.position + shift + k));
            shift += insertion.rows.size();
        }
        // The rows that came back become the selection, the first of them the current row.
        DeselectAll();
        lvFiles->selectionModel()->setCurrentIndex(lvFilesModel->index(newRows.front(), 0),
                                                   QItemSelectionModel::NoUpdate);
        for (int row : newRows)
            lvFiles->selectionModel()->select(lvFilesModel->index(row, 0),
                                              QItemSelectionModel::Select |
                                                  QItemSelectionModel::Rows);
        lvFiles->scrollTo(lvFilesModel->index(newRows.front(), 0),
                          QAbstractItemView::EnsureVisible);
        if (ListIdle)
            setStatusText(1, QStringLiteral("Total Files:") +
                                 QString::number(lvFilesModel->rowCount()));
    }
    if (!problems.isEmpty())
        services_.messages->error(this, QStringLiteral("無法復原這些檔案 (these files could not be "
                                                       "put back):\n") +
                                            problems.join('\n'));
}

void TfrmMain::undoRename(const actions::UndoAction& action) {
    const actions::UndoOutcome outcome = actions::reverseOnDisk(action);
    const platform::RenameResult& result = outcome.renamedBack;
    if (outcome.notTheRenamedFile) {
        services_.messages->error(
            this, QStringLiteral("無法復原改名 (could not undo the rename):\n") +
                      fromNative(joinNative(action.directory, action.newName)) +
                      QStringLiteral("  (這個名稱現在是另一個檔案, 兩個檔案都沒有動; another "
                                     "file has this name now, neither file was touched)"));
        return;
    }
    if (!result.renamed) {
        QString why;
        if (result.error == EEXIST || result.error == ENOTEMPTY)
            why = QStringLiteral("原來的名稱已經有檔案, 沒有改回; the old name is taken now, "
                                 "nothing was renamed");
        else if (result.error == ENOENT)
            why = QStringLiteral("檔案已經不存在; the renamed file no longer exists");
        else
            why = fromNative(result.message);
        services_.messages->error(this,
                                  QStringLiteral("無法復原改名 (could not undo the rename):\n") +
                                      fromNative(joinNative(action.directory, action.newName)) +
                                      QStringLiteral("  (") + why + QStringLiteral(")"));
        return;
    }
    // The row of the file, when the list shows it, takes the old name again.
    const FileRecordStore& rows = lvFilesModel->store();
    for (size_t row = 0; row < rows.size(); ++row) {
        if (rows.name(row) == action.newName && rows.directory(row) == action.directory &&
            (rows.inode(row) == 0 || rows.inode(row) == action.renamed.inode)) {
            lvFilesModel->renameRow(int(row), action.oldName);
            restampRow(int(row));
            break;
        }
    }
}

} // namespace fenwa

namespace fenwa {

void TfrmMain::restampRow(int row) {
    const FileRecordStore& rows = lvFilesModel->store();
    platform::FileState now;
    if (row >= 0 && row < int(rows.size()) &&
        platform::statFileNow(rows.fullPath(size_t(row)), now) && now.regularFile &&
        now.identity.inode == rows.inode(size_t(row)))
        lvFilesModel->setChangeStamp(row, now.changeStamp);
}

} // namespace fenwa
