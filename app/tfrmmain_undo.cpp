// The main window's Undo: the journal, the disk work and the placing of rows live in the
// actions library; this file ties them to the list and its menu.

#include <QAction>
#include <QMenu>
#include <QRadioButton>
#include <QTreeView>
#include <set>

#include "languages.h"
#include "messages.h"
#include "nativename.h"
#include "tfrmmain.h"
#include "uitext.h"
#include "undo.h"
#include "undojournal.h"

namespace fenwa {

using platform::fromNative;

namespace {
// The journal still holds the action for this run; only its file is behind.
const char* unsavedJournal() {
    return say("The undo journal could not be saved; Undo reaches this change only until "
               "Fenwa closes.",
               "無法儲存復原紀錄; 關閉 Fenwa 之前仍可復原這個變更。");
}
} // namespace

// Records an action; the journal still holds it for this run when its file cannot be
// written, which the user is told.
void TfrmMain::pushToJournal(actions::UndoAction action) {
    if (!undoJournal_->push(std::move(action)) && services_.messages)
        services_.messages->error(this, QString::fromUtf8(unsavedJournal()));
    updateUndoAction();
}

void TfrmMain::connectUndo() {
    undoJournal_ = std::make_unique<actions::UndoJournal>(services_.undoJournalPath);
    // A damaged journal is an empty one: the next action writes a sound file over it.
    undoJournal_->load();
    miUndo = new QAction(PopupMenu1);
    miUndo->setObjectName("miUndo");
    // Right after Delete and the other acts, before the separator that follows them.
    const QList<QAction*> items = PopupMenu1->actions();
    const qsizetype lastActAt = items.indexOf(miReflink);
    PopupMenu1->insertAction(lastActAt + 1 < items.size() ? items[lastActAt + 1] : nullptr, miUndo);
    connect(miUndo, &QAction::triggered, this, &TfrmMain::miUndoClick);
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmMain::updateUndoAction);
    connect(pgOptions->rbEnglish, &QRadioButton::toggled, this, &TfrmMain::updateUndoAction);
    updateUndoAction();
}

void TfrmMain::updateUndoAction() {
    // fenwa-cli may have acted or undone since: the menu names what Undo would take.
    undoJournal_->reload();
    const actions::UndoAction* last = undoJournal_->last();
    UndoCaption caption = UndoCaption::Nothing;
    if (last)
        switch (last->kind) {
        case actions::UndoKind::Trash:
            caption = UndoCaption::Delete;
            break;
        case actions::UndoKind::Rename:
            caption = UndoCaption::Rename;
            break;
        case actions::UndoKind::Move:
            caption = UndoCaption::Move;
            break;
        case actions::UndoKind::Replace:
            caption = UndoCaption::Replace;
            break;
        }
    miUndo->setText(
        undoMenuCaptionFor(pgOptions->rbEnglish->isChecked() ? English : Chinese, caption));
    miUndo->setEnabled(last != nullptr);
}

// ---------------------------------------------------------------------------
// Journalling and undoing

void TfrmMain::journalRename(int row, const std::string& newName,
                             const platform::FileIdentity& renamed) {
    pushToJournal(actions::renameActionFor(lvFilesModel->store(), size_t(row), newName, renamed));
}

void TfrmMain::Undo() {
    if (isBusy())
        return;
    bool saved = true;
    std::optional<actions::UndoAction> action = undoJournal_->takeLast(&saved);
    if (!saved && services_.messages)
        services_.messages->error(this, QString::fromUtf8(unsavedJournal()));
    updateUndoAction();
    if (!action)
        return;
    actions::ListUndo undone = actions::undoOnList(lvFilesModel->store(), *action, listGeneration_);
    if (!undone.blocks.empty()) {
        // The marked group is marked again once the rows are in.
        UnmarkGroup(HighlightedRow);
        HighlightedRow = -1;
        for (actions::ListUndo::Block& block : undone.blocks)
            lvFilesModel->insertRows(int(block.position), std::move(block.rows));
        // The rows that came back become the selection, the first of them the current row.
        DeselectAll();
        const QModelIndex first = lvFilesModel->index(int(undone.returnedRows.front()), 0);
        lvFiles->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
        for (size_t row : undone.returnedRows)
            lvFiles->selectionModel()->select(lvFilesModel->index(int(row), 0),
                                              QItemSelectionModel::Select |
                                                  QItemSelectionModel::Rows);
        lvFiles->scrollTo(first, QAbstractItemView::EnsureVisible);
        if (ListIdle)
            setStatusText(1, QStringLiteral("Total Files:") +
                                 QString::number(lvFilesModel->rowCount()));
    }
    if (undone.renamedRow) {
        lvFilesModel->renameRow(int(*undone.renamedRow), undone.oldName);
        restampRow(int(*undone.renamedRow));
    }
    // A hard link undone moved its kept copy's status-change time; the copy is still the
    // file the search read.
    std::set<std::string> keepers;
    for (const actions::ActedFile& file : action->acted)
        if (file.act == actions::ActKind::HardLink)
            keepers.insert(file.keeper);
    if (!keepers.empty())
        for (int row = 0; row < lvFilesModel->rowCount(); ++row)
            if (keepers.count(lvFilesModel->store().fullPath(size_t(row))))
                restampRow(row);
    if (!undone.problems.empty())
        services_.messages->error(this, fromNative(undone.problems));
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
