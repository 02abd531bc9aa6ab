// Renaming in place, opening with other programs and saving the list: the rules live in
// the actions library and exportlist; this part ties them to the list and its menu.

#include "listactions.h"

#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QSaveFile>
#include <QStyledItemDelegate>
#include <QTreeView>

#include "deleteplanner.h"
#include "exportlist.h"
#include "filelistmodel.h"
#include "filesystem.h"
#include "headerfacts.h"
#include "identity.h"
#include "listhost.h"
#include "messages.h"
#include "nativename.h"
#include "openwith.h"
#include "renaming.h"
#include "uitext.h"

namespace fenwa {

namespace {

using platform::fromNative;

// Why a rename was refused at the last moment.
QString renameRefusedMessage(const QString& path, actions::RowCheck state) {
    const char* why = actions::rowCheckText(state);
    return QString::fromUtf8(say("The file changed or vanished since the search and was not "
                                 "renamed:\n",
                                 "這個檔案在搜尋之後已經改變或不存在, 沒有改名:\n")) +
           path + QStringLiteral("  (") + QString::fromUtf8(why) + QStringLiteral(")");
}

// The in-place name editor renames only when the user presses Enter. Every other way an
// edit can end (the current row moving under it, a click elsewhere, the window losing
// focus) would otherwise hand the half-typed name to the model, which renames the file
// on disk; those ends cancel instead, and Ctrl+Up/Ctrl+Down stay inside the editor.
class NameEditDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        accepting_ = false;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        if (accepting_)
            QStyledItemDelegate::setModelData(editor, model, index);
        accepting_ = false;
    }

protected:
    // A hard link's name is in italics.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(FileListModel::HardLinkRole).toBool())
            option->font.setItalic(true);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            // The commit that Enter starts arrives a moment later.
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                accepting_ = true;
            if ((key->modifiers() & Qt::ControlModifier) &&
                (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down))
                return true;
        }
        return QStyledItemDelegate::eventFilter(watched, event);
    }

private:
    mutable bool accepting_ = false;
};

void openWith(const MainWindowServices& services, const actions::OpenRequest& request) {
    if (services.shellOpen)
        services.shellOpen(request.target, request.parameters);
}

} // namespace

ListActions::ListActions(QWidget* window, QTreeView* list, FileListModel* model, ListHost& host,
                         Items items, const MainWindowServices& services)
    : QObject(window), window_(window), lvFiles(list), lvFilesModel(model), host_(host),
      items_(items), services_(services) {
    connect(items_.miOpen, &QAction::triggered, this, &ListActions::miOpenClick);
    connect(items_.miAcdsee, &QAction::triggered, this, &ListActions::miAcdseeClick);
    connect(items_.miUltraEdit, &QAction::triggered, this, &ListActions::miUltraEditClick);
    connect(items_.miSaveList, &QAction::triggered, this, &ListActions::miSaveListClick);
    // The Name column is edited in place: F2, or a click on the current row.
    lvFilesModel->setNameEditor(
        [this](int row, const QString& newName) { return lvFilesEdited(row, newName); });
    lvFiles->setEditTriggers(QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::SelectedClicked);
    lvFiles->setItemDelegateForColumn(ColName, new NameEditDelegate(lvFiles));
}

// ---------------------------------------------------------------------------
// Renaming in the result list

bool ListActions::lvFilesEdited(int row, const QString& newName) {
    if (row < 0 || row >= lvFilesModel->rowCount())
        return false;
    const std::string typed = QFile::encodeName(newName).toStdString();
    const actions::NameCheck check = actions::checkNewName(typed);
    // After a message the list keeps the keyboard, as it had it before the edit.
    if (check != actions::NameCheck::Acceptable) {
        services_.messages->error(window_, QString::fromUtf8(actions::nameCheckMessage(check)));
        lvFiles->setFocus();
        return false;
    }
    const FileRecordStore& rows = lvFilesModel->store();
    // A file that changed or vanished since the search is not what the user chose to
    // rename: it is left alone and named.
    const actions::RowCheck state = actions::checkRow(rows, size_t(row), actions::probeDisk);
    if (state != actions::RowCheck::Unchanged) {
        services_.messages->error(
            window_, renameRefusedMessage(fromNative(rows.fullPath(size_t(row))), state));
        lvFiles->setFocus();
        return false;
    }
    const actions::RenameOutcome outcome =
        actions::renameInDirectory(rows.directory(size_t(row)), rows.name(size_t(row)), typed);
    if (!outcome.renamed && !outcome.systemMessage.empty()) {
        services_.messages->error(window_, fromNative(outcome.systemMessage));
        lvFiles->setFocus();
    }
    if (outcome.renamed) {
        // A rename moves the file's status-change time: the row takes the new one, so the
        // program's own rename is not taken for a change by someone else.
        platform::FileState now;
        const std::string renamed =
            platform::JoinPath(platform::nativePathStyle(), rows.directory(size_t(row)), typed);
        const bool seen = platform::statFileNow(renamed, now) && now.exists;
        // The file renamed is the row's, which was checked just before.
        platform::FileIdentity identity = seen ? now.identity : platform::FileIdentity{};
        if (rows.inode(size_t(row)) != 0 && rows.device(size_t(row)) != 0)
            identity = {rows.device(size_t(row)), rows.inode(size_t(row))};
        host_.journalRename(row, typed, identity);
        if (seen && now.identity.inode == rows.inode(size_t(row)))
            lvFilesModel->setChangeStamp(row, now.changeStamp);
    }
    return outcome.renamed;
}

// ---------------------------------------------------------------------------
// Opening with other programs

void ListActions::OpenFocusedFile() {
    const int row = host_.currentRow();
    if (row >= 0)
        openWith(services_, actions::openRequest(lvFilesModel->nativePath(row).toStdString()));
}

void ListActions::miAcdseeClick() {
    const int row = host_.currentRow();
    if (row < 0)
        return;
    if (const auto request = actions::acdseeRequest(lvFilesModel->store().name(size_t(row)),
                                                    lvFilesModel->nativePath(row).toStdString()))
        openWith(services_, *request);
}

void ListActions::miUltraEditClick() {
    const int row = host_.currentRow();
    if (row >= 0)
        openWith(services_, actions::ultraEditRequest(lvFilesModel->nativePath(row).toStdString()));
}

// ---------------------------------------------------------------------------
// Saving the list

void ListActions::miSaveListClick() {
    if (!services_.pickSaveFile)
        return;
    const std::optional<QString> chosen =
        services_.pickSaveFile(window_, items_.miSaveList->text().remove(QStringLiteral("...")));
    if (!chosen)
        return;
    const ExportFormat format = chosen->endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)
                                    ? ExportFormat::Json
                                    : ExportFormat::Csv;
    // Every picture's header is read for its size and the time it was taken.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string text =
        rowsAsText(lvFilesModel->store(), format, nullptr, similar::ReadPictureFacts);
    QGuiApplication::restoreOverrideCursor();
    // Written beside the target and renamed over it, so a failure never leaves half a file.
    QSaveFile file(*chosen);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.commit())
        services_.messages->error(
            window_, QString::fromUtf8(say("Could not write %1: %2", "無法寫入 %1: %2"))
                         .arg(*chosen, file.errorString()));
}

} // namespace fenwa
