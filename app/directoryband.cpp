#include "directoryband.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "directorylist.h"
#include "dirlistbox.h"
#include "filesystem.h"
#include "identity.h"
#include "languages.h"
#include "messages.h"
#include "nativename.h"
#include "pathrules.h"
#include "uitext.h"
#include "windowlook.h"

namespace fenwa {

namespace {

constexpr int ProtectedRole = Qt::UserRole + 1;

using platform::fromNative;

} // namespace

DirectoryBand::DirectoryBand(QWidget* band, UserMessages* messages, FilePicker pickFile)
    : QObject(band), band_(band), messages_(messages), pickFile_(std::move(pickFile)) {
    setObjectName("DirectoryBand");
    Label2 = new QLabel(QStringLiteral("Input directories to find duplicates:"), band);
    Label2->setGeometry(158, 4, 240, 16);
    Label2->setObjectName("Label2");
    Edit1 = new QLineEdit(band);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(158, 22, 212, 22);
    auto* dirList = new DirListBox(band);
    dirList->onClick = [this] { lstDirClick(); };
    lstDir = dirList;
    lstDir->setObjectName("lstDir");
    lstDir->setGeometry(158, 48, 212, 80);
    lstDir->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstDir->setContextMenuPolicy(Qt::CustomContextMenu);
    btnAddDir = new QPushButton(QStringLiteral("+"), band);
    btnSubDir = new QPushButton(QStringLiteral("-"), band);
    btnClearDir = new QPushButton(QStringLiteral("C"), band);
    int y = 48;
    for (QPushButton* b : {btnAddDir, btnSubDir, btnClearDir}) {
        b->setFont(arialFont(12, true));
        b->setGeometry(376, y, 22, 22);
        y += 28;
    }
    btnAddDir->setObjectName("btnAddDir");
    btnSubDir->setObjectName("btnSubDir");
    btnClearDir->setObjectName("btnClearDir");
    connect(Edit1, &QLineEdit::returnPressed, this, &DirectoryBand::Edit1KeyDown);
    connect(btnAddDir, &QPushButton::clicked, this, &DirectoryBand::btnAddDirClick);
    connect(btnSubDir, &QPushButton::clicked, this, &DirectoryBand::miDelItemsClick);
    connect(btnClearDir, &QPushButton::clicked, this, &DirectoryBand::miDelAllItemsClick);
    connect(lstDir, &QListWidget::clicked, this, &DirectoryBand::lstDirClick);

    PopupMenu3 = new QMenu(band);
    PopupMenu3->setObjectName("PopupMenu3");
    miAddItem = menuItem(PopupMenu3, "miAddItem", QStringLiteral("Add"));
    PopupMenu3->addSeparator();
    miDelItems = menuItem(PopupMenu3, "miDelItems", QStringLiteral("Delete"));
    miDelAllItems = menuItem(PopupMenu3, "miDelAllItems", QStringLiteral("Delete All"));
    miProtectDir = new QAction(englishCaption("miProtectDir"), PopupMenu3);
    miProtectDir->setObjectName("miProtectDir");
    miProtectDir->setCheckable(true);
    PopupMenu3->addSeparator();
    PopupMenu3->addAction(miProtectDir);
    connect(PopupMenu3, &QMenu::aboutToShow, this, &DirectoryBand::PopupMenu3Popup);
    connect(miDelItems, &QAction::triggered, this, &DirectoryBand::miDelItemsClick);
    connect(miDelAllItems, &QAction::triggered, this, &DirectoryBand::miDelAllItemsClick);
    connect(miProtectDir, &QAction::triggered, this, &DirectoryBand::miProtectDirClick);
    connect(lstDir, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu3->popup(lstDir->viewport()->mapToGlobal(p)); });
}

std::vector<std::string> DirectoryBand::directoryEntries() const {
    std::vector<std::string> entries;
    entries.reserve(size_t(lstDir->count()));
    for (int i = 0; i < lstDir->count(); ++i)
        entries.push_back(lstDir->item(i)->data(Qt::UserRole).toByteArray().toStdString());
    return entries;
}

bool DirectoryBand::isEmpty() const {
    return lstDir->count() == 0;
}

void DirectoryBand::appendDirectory(const std::string& directory) {
    auto* item = new QListWidgetItem(fromNative(directory));
    item->setData(Qt::UserRole, QByteArray::fromStdString(directory));
    lstDir->addItem(item);
}

bool DirectoryBand::ValidateAndAddDirectory(const QString& text) {
    return ValidateAndAddNativeDirectory(QFile::encodeName(text).toStdString());
}

bool DirectoryBand::ValidateAndAddNativeDirectory(const std::string& native) {
    const AddDirectoryCheck check =
        checkDirectoryToAdd(native, directoryEntries(), platform::isExistingDirectory,
                            platform::nativePathStyle(), platform::DirectoryLineage{});
    switch (check.outcome) {
    case AddDirectoryOutcome::NotADirectory:
        messages_->error(band_->window(), QString::fromUtf8(MsgNotADirectory));
        return false;
    case AddDirectoryOutcome::AlreadyListed:
        return false;
    case AddDirectoryOutcome::Relatives:
        messages_->error(band_->window(),
                         fromNative(relativesMessage(check.directory, check.conflict)));
        return false;
    case AddDirectoryOutcome::Added:
        break;
    }
    appendDirectory(check.directory);
    return true;
}

std::string DirectoryBand::edit1Path() const {
    // A name that is not UTF-8 shows with replacement characters, which would name
    // another directory: an entry copied from the list keeps its bytes while unedited.
    if (!edit1Native_.isEmpty() && Edit1->text() == QFile::decodeName(edit1Native_))
        return edit1Native_.toStdString();
    return QFile::encodeName(Edit1->text()).toStdString();
}

void DirectoryBand::AddPendingDirectory() {
    if (!Edit1->text().trimmed().isEmpty())
        ValidateAndAddNativeDirectory(edit1Path());
}

void DirectoryBand::Edit1KeyDown() {
    ValidateAndAddNativeDirectory(edit1Path());
}

void DirectoryBand::btnAddDirClick() {
    PickRequest request;
    request.title = OpenDialogTitle;
    request.filter = dialogNameFilter(OpenDialogFilter);
    request.fileName = OpenDialogFileName;
    const QString typed = Edit1->text();
    if (!typed.isEmpty()) {
        const std::string native = edit1Path();
        if (platform::isExistingDirectory(native))
            request.initialDirectory = typed;
        request.fileName =
            fromNative(platform::JoinPath(platform::nativePathStyle(), native, "Any File Name"));
    }
    if (!pickFile_)
        return;
    const std::optional<QString> chosen = pickFile_(band_->window(), request);
    if (!chosen)
        return;
    const QString dir = fromNative(platform::directoryOfFile(
        platform::nativePathStyle(), QFile::encodeName(*chosen).toStdString()));
    if (ValidateAndAddDirectory(dir))
        Edit1->setText(dir);
}

void DirectoryBand::lstDirClick() {
    if (QListWidgetItem* item = lstDir->currentItem()) {
        edit1Native_ = item->data(Qt::UserRole).toByteArray();
        Edit1->setText(QFile::decodeName(edit1Native_));
    }
}

void DirectoryBand::miDelItemsClick() {
    for (int i = lstDir->count() - 1; i >= 0; --i)
        if (lstDir->item(i)->isSelected())
            delete lstDir->takeItem(i);
}

void DirectoryBand::miDelAllItemsClick() {
    lstDir->clear();
}

void DirectoryBand::PopupMenu3Popup() {
    miDelItems->setEnabled(!lstDir->selectedItems().isEmpty());
    miDelAllItems->setEnabled(true);
    miAddItem->setEnabled(true);
    const QListWidgetItem* current = lstDir->currentItem();
    miProtectDir->setEnabled(current != nullptr);
    miProtectDir->setChecked(current && isDirectoryProtected(lstDir->row(current)));
}

// ---------------------------------------------------------------------------
// Protected directories

bool DirectoryBand::isDirectoryProtected(int index) const {
    const QListWidgetItem* item = lstDir->item(index);
    return item && item->data(ProtectedRole).toBool();
}

void DirectoryBand::setDirectoryProtected(int index, bool on) {
    QListWidgetItem* item = lstDir->item(index);
    if (!item)
        return;
    item->setData(ProtectedRole, on);
    // A check mark only on protected entries; the others show no box at all.
    item->setData(Qt::CheckStateRole, on ? QVariant(Qt::Checked) : QVariant());
    item->setToolTip(
        on ? QString::fromUtf8(say("Protected: rules never select its files, and a Delete "
                                   "asks first",
                                   "受保護: 規則不會選取, 刪除前會先問"))
           : QString());
}

std::vector<std::string> DirectoryBand::protectedDirectories() const {
    std::vector<std::string> dirs;
    for (int i = 0; i < lstDir->count(); ++i)
        if (isDirectoryProtected(i))
            dirs.push_back(lstDir->item(i)->data(Qt::UserRole).toByteArray().toStdString());
    return dirs;
}

void DirectoryBand::miProtectDirClick() {
    const QListWidgetItem* current = lstDir->currentItem();
    if (!current)
        return;
    // The current entry's new state goes to every selected entry with it.
    const bool on = !isDirectoryProtected(lstDir->row(current));
    for (int i = 0; i < lstDir->count(); ++i)
        if (lstDir->item(i) == current || lstDir->item(i)->isSelected())
            setDirectoryProtected(i, on);
}

} // namespace fenwa
