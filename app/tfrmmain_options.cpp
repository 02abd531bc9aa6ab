// The main window's interface languages, renaming in the result list and opening files
// with other programs. The rules live in languages and the actions library; this file
// ties them to the controls.

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTreeView>

#include "TAdvImage.h"
#include "deleteplanner.h"
#include "filesystem.h"
#include "fingerprint.h"
#include "identity.h"
#include "languages.h"
#include "messages.h"
#include "nativename.h"
#include "openwith.h"
#include "pathrules.h"
#include "renaming.h"
#include "tfrmmain.h"
#include "tfrmviewer.h"

namespace fenwa {

namespace {

using platform::fromNative;

// Why a rename was refused at the last moment, in both languages.
QString renameRefusedMessage(const QString& path, actions::RowCheck state) {
    const char* why = actions::rowCheckText(state);
    return QStringLiteral("這個檔案在搜尋之後已經改變或不存在, 沒有改名 (the file changed or "
                          "vanished since the search and was not renamed):\n") +
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

void TfrmMain::connectOptions() {
    connect(pgOptions, &OptionsPages::languageChosen, this, &TfrmMain::SetLanguage);
    connect(miOpen, &QAction::triggered, this, &TfrmMain::miOpenClick);
    connect(miAcdsee, &QAction::triggered, this, &TfrmMain::miAcdseeClick);
    connect(miUltraEdit, &QAction::triggered, this, &TfrmMain::miUltraEditClick);

    // The Name column is edited in place: F2, or a click on the current row.
    lvFilesModel->setNameEditor(
        [this](int row, const QString& newName) { return lvFilesEdited(row, newName); });
    lvFiles->setEditTriggers(QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::SelectedClicked);
    lvFiles->setItemDelegateForColumn(ColName, new NameEditDelegate(lvFiles));

    // The window is designed with the English hints.
    applyLanguageTexts(English, true);
}

// ---------------------------------------------------------------------------
// Languages

QObject* TfrmMain::languageControl(const QString& name) {
    if (name == QLatin1String("TfrmMain"))
        return this;
    // The Select menu's captions belong to its menu actions; every other control the
    // table names carries that name as its object name.
    if (QObject* control = selectMenuControl(name))
        return control;
    return findChild<QObject*>(name);
}

void TfrmMain::applyLanguageTexts(int code, bool hintsOnly) {
    for (const LanguageText& entry : languageTable()) {
        if (hintsOnly && entry.role != TextRole::Hint)
            continue;
        QObject* control = languageControl(QString::fromLatin1(entry.control));
        if (!control)
            continue;
        const QString text = languageText(entry, code);
        if (entry.role == TextRole::Hint) {
            if (auto* widget = qobject_cast<QWidget*>(control))
                widget->setToolTip(text);
            else if (auto* action = qobject_cast<QAction*>(control))
                action->setToolTip(text);
        } else if (control == this) {
            setWindowTitle(text);
        } else if (control == pgOptions->tbsOptions || control == pgOptions->tbsMore) {
            pgOptions->setTabText(pgOptions->indexOf(static_cast<QWidget*>(control)), text);
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            button->setText(text);
        } else if (auto* label = qobject_cast<QLabel*>(control)) {
            label->setText(text);
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            // The items' texts, separated by '|'.
            const QStringList items = text.split(QLatin1Char('|'));
            for (int i = 0; i < std::min(combo->count(), int(items.size())); ++i)
                combo->setItemText(i, items[i]);
        } else if (auto* action = qobject_cast<QAction*>(control)) {
            action->setText(text);
        }
    }
}

void TfrmMain::SetLanguage(int code) {
    const LanguageFont font = windowFontFor(code);
    setFont(QFont(font.family, font.points));
    applyLanguageTexts(code, false);
    const OpenDialogTexts dialog = openDialogTextsFor(code);
    dirBand->OpenDialogFileName = dialog.fileName;
    dirBand->OpenDialogFilter = dialog.filter;
    dirBand->OpenDialogTitle = dialog.title;
    if (frmViewer_)
        frmViewer_->SetMenuCaptions(viewerMenuCaptionsFor(code));
}

// ---------------------------------------------------------------------------
// Renaming in the result list

bool TfrmMain::lvFilesEdited(int row, const QString& newName) {
    if (row < 0 || row >= lvFilesModel->rowCount())
        return false;
    const std::string typed = QFile::encodeName(newName).toStdString();
    const actions::NameCheck check = actions::checkNewName(typed);
    // After a message the list keeps the keyboard, as it had it before the edit.
    if (check != actions::NameCheck::Acceptable) {
        services_.messages->error(this, QString::fromUtf8(actions::nameCheckMessage(check)));
        lvFiles->setFocus();
        return false;
    }
    const FileRecordStore& rows = lvFilesModel->store();
    // A file that changed or vanished since the search is not what the user chose to
    // rename: it is left alone and named.
    const actions::RowCheck state = actions::checkRow(rows, size_t(row), actions::probeDisk);
    if (state != actions::RowCheck::Unchanged) {
        services_.messages->error(
            this, renameRefusedMessage(fromNative(rows.fullPath(size_t(row))), state));
        lvFiles->setFocus();
        return false;
    }
    const actions::RenameOutcome outcome =
        actions::renameInDirectory(rows.directory(size_t(row)), rows.name(size_t(row)), typed);
    if (!outcome.renamed && !outcome.systemMessage.empty()) {
        services_.messages->error(this, fromNative(outcome.systemMessage));
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
        journalRename(row, typed, identity);
        if (seen && now.identity.inode == rows.inode(size_t(row)))
            lvFilesModel->setChangeStamp(row, now.changeStamp);
    }
    return outcome.renamed;
}

// ---------------------------------------------------------------------------
// Opening with other programs

void TfrmMain::OpenFocusedFile() {
    const int row = currentRow();
    if (row >= 0)
        openWith(services_, actions::openRequest(lvFilesModel->nativePath(row).toStdString()));
}

void TfrmMain::miOpenClick() {
    OpenFocusedFile();
}

void TfrmMain::miAcdseeClick() {
    const int row = currentRow();
    if (row < 0)
        return;
    if (const auto request = actions::acdseeRequest(lvFilesModel->store().name(size_t(row)),
                                                    lvFilesModel->nativePath(row).toStdString()))
        openWith(services_, *request);
}

void TfrmMain::miUltraEditClick() {
    const int row = currentRow();
    if (row >= 0)
        openWith(services_, actions::ultraEditRequest(lvFilesModel->nativePath(row).toStdString()));
}

} // namespace fenwa
