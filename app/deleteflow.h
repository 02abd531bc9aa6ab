#pragma once
// Deleting the selected files of the result list: the checks, questions and deletes are
// the actions library's; this part starts them, shows their progress and takes their
// answer into the list.

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

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
    // `miDelete` is the window's menu item, which starts DeleteSelectedFiles.
    DeleteFlow(QWidget* window, QTreeView* list, FileListModel* model, ListHost& host,
               TfrmProgress* progress, QAction* miDelete, const MainWindowServices& services);
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
    void DeleteSelectedFiles();

signals:
    // A delete begun by DeleteSelectedFiles is over, whether anything was deleted or not.
    void finished();

private:
    std::unique_ptr<actions::DeleteSession> sessionFor(const std::vector<size_t>& rows) const;
    void finishDelete();
    // Shows what a carried-out delete did; answers the number of rows that left.
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
    std::unique_ptr<actions::DeleteSession> deleteSession_;
    QTimer* deletePoll_;
    QString statusBeforeDelete_; // panel 0, shown again once the delete is over
};

} // namespace fenwa
