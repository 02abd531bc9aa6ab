#pragma once
// Deleting the selected files of the result list, or moving them to a folder, or
// replacing them by links or clones of their kept copies: the checks, questions and acts
// are the actions library's; this part starts them, shows their progress and takes their
// answer into the list.

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "acts.h"
#include "filesystem.h"
#include "windowservices.h"

class QAction;
class QTimer;
class QTreeView;
class QWidget;

namespace fenwa {

namespace actions {
class DeleteSession;
struct DeleteResult;
} // namespace actions
class FileListModel;
class ListHost;
class TfrmProgress;

class DeleteFlow : public QObject {
    Q_OBJECT
public:
    // The window's menu items: Delete starts DeleteSelectedFiles, the others ActOnSelected.
    struct Items {
        QAction* miDelete;
        QAction* miMoveTo;
        QAction* miHardLink;
        QAction* miSymLink;
        QAction* miReflink;
    };
    DeleteFlow(QWidget* window, QTreeView* list, FileListModel* model, ListHost& host,
               TfrmProgress* progress, Items items, const MainWindowServices& services);
    ~DeleteFlow() override;

    // True while the checks before a delete run: destructive input waits.
    bool deleting() const { return deleting_; }
    // A closing window deletes nothing more.
    void cancel();
    // Checks, asks and deletes the row's one file here and now; true when it is gone.
    bool deleteRowNow(int row);
    // The same for a file that is no row, as it was `seen` when shown (the viewer's).
    bool deleteSeenFileNow(const std::string& path, const platform::FileState& seen);

public slots:
    void miDeleteClick() { DeleteSelectedFiles(); }
    // Checks the selected rows' files off the window's thread, with progress and Cancel,
    // then asks and deletes as the plan says; finished() follows.
    void DeleteSelectedFiles() { ActOnSelected(actions::ActKind::Delete); }
    // The same for any act; a move first asks for the folder. Replacing needs the kept
    // copies of a duplicate list.
    void ActOnSelected(actions::ActKind act);

signals:
    // An act begun by ActOnSelected is over, whether anything was done or not.
    void finished();

private:
    std::unique_ptr<actions::DeleteSession>
    sessionFor(const std::vector<size_t>& rows, actions::ActKind act = actions::ActKind::Delete,
               const std::string& moveTo = {}) const;
    void finishDelete();
    // Carries out a planned move or replacement: the files left alone are named, one
    // question says what will happen, then the acts; answers the number of rows that left.
    size_t carryOutAct(actions::DeleteSession& session);
    // Shows what a carried-out act did; answers the number of rows that left.
    size_t showDeleteResult(const actions::DeleteSession& session,
                            const actions::DeleteResult& result);

    QWidget* window_;
    QTreeView* lvFiles;
    FileListModel* lvFilesModel;
    ListHost& host_;
    TfrmProgress* frmProgress_;
    MainWindowServices services_;
    bool deleting_ = false;
    bool listChangedWhileDeleting_ = false;
    bool stopped_ = false; // cancel(): what is planned is not carried out
    actions::ActKind act_ = actions::ActKind::Delete;
    QString moveTo_; // the folder of a move, as the user picked it
    std::unique_ptr<actions::DeleteSession> deleteSession_;
    QTimer* deletePoll_;
    QString statusBeforeDelete_; // panel 0, shown again once the delete is over
};

} // namespace fenwa
