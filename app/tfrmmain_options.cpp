// The main window's settings, interface languages, renaming in the result list and
// opening files with other programs. The rules live in settingsstore, languages and the
// actions library; this file ties them to the controls.

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
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
#include "searchcache.h"
#include "settingsstore.h"
#include "tfrmmain.h"
#include "tfrmviewer.h"

namespace fenwa {

namespace {

using platform::fromNative;

// Sets a check box or radio button the way a click of the user would: its handlers run
// only when the state changes, and selecting a radio button clears the others of its
// group. Clearing a radio button touches nothing else, so a pair stored with neither
// selected loads with neither selected (Qt's exclusive groups would refuse that).
void setButtonAsUser(QAbstractButton* button, bool on) {
    if (button->isChecked() == on)
        return;
    if (on || !qobject_cast<QRadioButton*>(button)) {
        if (button->isEnabled())
            button->click();
        else
            button->setChecked(on);
        return;
    }
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(exclusive);
}

// The window's controls as the settings store reads and writes them.
class WindowSettingsControls : public SettingsControls {
public:
    WindowSettingsControls(TfrmMain& window, UserMessages* messages)
        : window_(window), messages_(messages) {}

    void setFlag(const QString& name, bool value) override {
        if (QAbstractButton* b = button(name))
            setButtonAsUser(b, value);
    }
    void setText(const QString& name, const QString& value) override {
        if (name == QLatin1String("edTime"))
            window_.edTime->setText(value);
        // The level as 1, 2 or 3; anything else keeps the default.
        bool number = false;
        const int level = value.toInt(&number);
        if (name == QLatin1String("cbSimilarLevel") && number && level >= 1 &&
            level <= similar::SimilarLevelCount)
            window_.cbSimilarLevel->setCurrentIndex(level - 1);
    }
    bool flag(const QString& name) const override {
        QAbstractButton* b = button(name);
        return b && b->isChecked();
    }
    QString text(const QString& name) const override {
        if (name == QLatin1String("cbSimilarLevel"))
            return QString::number(window_.cbSimilarLevel->currentIndex() + 1);
        return name == QLatin1String("edTime") ? window_.edTime->text() : QString();
    }
    std::vector<std::string> directories() const override { return window_.directoryEntries(); }
    bool isDirectoryProtected(size_t index) const override {
        return window_.isDirectoryProtected(int(index));
    }
    void protectDirectory(size_t index) override {
        window_.setDirectoryProtected(int(index), true);
    }
    std::vector<platform::FileIdentity> directoryAncestry(const std::string& d) const override {
        return platform::DirectoryLineage{}(d);
    }
    void appendDirectory(const std::string& directory) override {
        auto* item = new QListWidgetItem(fromNative(directory));
        item->setData(Qt::UserRole, QByteArray::fromStdString(directory));
        window_.lstDir->addItem(item);
    }
    bool isExistingDirectory(const std::string& directory) const override {
        return platform::isExistingDirectory(directory);
    }
    void showError(const QString& message) override {
        if (messages_)
            messages_->error(&window_, message);
    }
    void showInformation(const QString& message) override {
        if (messages_)
            messages_->information(&window_, message);
    }

private:
    // The settings name the check boxes and radio buttons by their object names.
    QAbstractButton* button(const QString& name) const {
        return window_.findChild<QAbstractButton*>(name);
    }

    TfrmMain& window_;
    UserMessages* messages_;
};

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
    connect(btnSaveOptions, &QPushButton::clicked, this, &TfrmMain::btnSaveOptionsClick);
    connect(btnClearCache, &QPushButton::clicked, this, &TfrmMain::btnClearCacheClick);
    showCacheSize();
    // A radio button's handler runs when it becomes selected, by the user or by a load.
    for (QRadioButton* language : {rbEnglish, rbChinese})
        connect(language, &QRadioButton::toggled, this, [this](bool selected) {
            if (selected)
                ChangeLangClick();
        });
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
// Settings

void TfrmMain::LoadSettings() {
    if (!services_.openSettings)
        return;
    const std::unique_ptr<QSettings> settings = services_.openSettings();
    if (!settings)
        return;
    WindowSettingsControls controls(*this, services_.messages);
    loadSettings(*settings, controls);
}

bool TfrmMain::SaveSettings() {
    if (!services_.openSettings)
        return false;
    const std::unique_ptr<QSettings> settings = services_.openSettings();
    if (!settings)
        return false;
    WindowSettingsControls controls(*this, services_.messages);
    return saveSettings(*settings, controls);
}

void TfrmMain::btnSaveOptionsClick() {
    SaveSettings();
}

// ---------------------------------------------------------------------------
// The cache of fingerprints and content hashes

void TfrmMain::showCacheSize() {
    const QFileInfo file(QString::fromStdString(services_.searchCachePath));
    btnClearCache->setEnabled(!searching_ && !services_.searchCachePath.empty());
    lbCacheSize->setText(file.exists() ? QLocale::c().formattedDataSize(file.size())
                                       : QStringLiteral("0 bytes"));
}

void TfrmMain::btnClearCacheClick() {
    // A search holds the cache open and writes to it as it ends.
    if (searching_ || services_.searchCachePath.empty())
        return;
    if (!services_.messages->confirm(this, QStringLiteral("清除快取? 下次搜尋會重新讀取所有檔案 "
                                                          "(Clear the cache? The next search "
                                                          "reads every file again.)")))
        return;
    // Emptied through the database, so a fenwa-cli run using it at the same moment is
    // waited for rather than cut off. A damaged file is set aside by the opening.
    similar::SearchCache cache(services_.searchCachePath);
    if (!cache.clear())
        services_.messages->error(this, QStringLiteral("無法清除快取 (the cache could not be "
                                                       "cleared): ") +
                                            QString::fromStdString(services_.searchCachePath));
    showCacheSize();
}

// ---------------------------------------------------------------------------
// Languages

void TfrmMain::ChangeLangClick() {
    SetLanguage(rbEnglish->isChecked() ? English : Chinese);
}

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
        } else if (control == tbsOptions || control == tbsMore) {
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
    OpenDialogFileName = dialog.fileName;
    OpenDialogFilter = dialog.filter;
    OpenDialogTitle = dialog.title;
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
