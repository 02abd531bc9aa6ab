#pragma once
// What the result list does to one file besides deleting it: renaming it in place,
// opening it with other programs, and saving the whole list to a file.

#include <QObject>
#include <QString>

#include "windowservices.h"

class QAction;
class QTreeView;
class QWidget;

namespace fenwa {

class FileListModel;
class ListHost;

class ListActions : public QObject {
    Q_OBJECT
public:
    // The Name column of `list` becomes editable in place; the actions are the window's
    // menu items, which trigger these slots.
    struct Items {
        QAction* miOpen;
        QAction* miAcdsee;
        QAction* miUltraEdit;
        QAction* miSaveList;
    };
    ListActions(QWidget* window, QTreeView* list, FileListModel* model, ListHost& host, Items items,
                const MainWindowServices& services);

    // Renames the row's file to the typed name; true when the row may take it.
    bool lvFilesEdited(int row, const QString& newName);

public slots:
    void OpenFocusedFile();
    void miOpenClick() { OpenFocusedFile(); }
    void miAcdseeClick();
    void miUltraEditClick();
    // Writes the result list, in its order with a group number per row, as CSV, or as
    // JSON when the chosen name ends in ".json".
    void miSaveListClick();

private:
    QWidget* window_;
    QTreeView* lvFiles;
    FileListModel* lvFilesModel;
    ListHost& host_;
    Items items_;
    MainWindowServices services_;
};

} // namespace fenwa
