#pragma once
// The directory list of the top band: the field, the list, its three buttons and its
// menu, adding only directories that exist and are not relatives of a listed one, and
// marking entries protected.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "optionspages.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QWidget;

namespace fenwa {

class UserMessages;

class DirectoryBand : public QObject, public SettingsDirectories {
    Q_OBJECT
public:
    struct PickRequest {
        QString title;
        QString filter;
        QString initialDirectory;
        QString fileName;
    };
    using FilePicker = std::function<std::optional<QString>(QWidget*, const PickRequest&)>;

    // The controls go on `band` at their places in it.
    DirectoryBand(QWidget* band, UserMessages* messages, FilePicker pickFile);

    QLabel* Label2;
    QLineEdit* Edit1;
    QListWidget* lstDir;
    QPushButton* btnAddDir;
    QPushButton* btnSubDir;
    QPushButton* btnClearDir;
    QMenu* PopupMenu3;
    QAction* miAddItem;
    QAction* miDelItems;
    QAction* miDelAllItems;
    QAction* miProtectDir; // checkable

    // The directory-picking dialog's texts (the filter as "description|pattern").
    QString OpenDialogFileName = QStringLiteral("You can input any file name");
    QString OpenDialogFilter = QStringLiteral("No need to change.|.___");
    QString OpenDialogTitle =
        QStringLiteral("隨便選個檔案即可指定此目錄(Choose any file to select this Dir.)");

    // The list's entries as native paths, top to bottom.
    std::vector<std::string> directoryEntries() const override;
    bool isDirectoryProtected(int index) const override;
    void setDirectoryProtected(int index, bool on) override;
    void appendDirectory(const std::string& directory) override;
    // The entries marked protected, native paths.
    std::vector<std::string> protectedDirectories() const;
    bool isEmpty() const;

public slots:
    bool ValidateAndAddDirectory(const QString& text);
    bool ValidateAndAddNativeDirectory(const std::string& native);
    // Adds what the field holds, if anything.
    void AddPendingDirectory();
    void Edit1KeyDown();
    void btnAddDirClick();
    void lstDirClick();
    void miDelItemsClick();
    void miDelAllItemsClick();
    void PopupMenu3Popup();
    void miProtectDirClick();

private:
    // Edit1's text as a native path.
    std::string edit1Path() const;

    QWidget* band_;
    UserMessages* messages_;
    FilePicker pickFile_;
    QByteArray edit1Native_; // the list entry last copied into Edit1
};

} // namespace fenwa
