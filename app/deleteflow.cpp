// The delete flow: a DeleteSession plans beside the window while the progress window
// offers Cancel; its plan is carried out here, with the window's questions.

#include "deleteflow.h"

#include <QApplication>
#include <QProgressBar>
#include <QStringList>
#include <QTimer>
#include <QTreeView>

#include "deleteplanner.h"
#include "deletesession.h"
#include "filelistmodel.h"
#include "fingerprint.h"
#include "listhost.h"
#include "messages.h"
#include "nativename.h"
#include "pathrules.h"
#include "picturefingerprint.h"
#include "shellfiles.h"
#include "tfrmprogress.h"
#include "uitext.h"
#include "undojournal.h"

namespace fenwa {

namespace {

// The delete's questions, through the window's message services.
class WindowDeleteQuestions : public actions::DeleteQuestions {
public:
    WindowDeleteQuestions(UserMessages& messages, platform::ShellPrompts& prompts)
        : messages_(messages), prompts_(prompts) {}
    bool askYesNo(const std::string& question) override { return prompts_.askYesNo(question); }
    void reportError(const std::string& text) override { prompts_.reportError(text); }
    void reportChanged(const std::vector<std::string>& lines) override {
        QStringList named;
        for (const std::string& line : lines)
            named << platform::fromNative(line);
        messages_.error(QApplication::activeWindow(),
                        QString::fromUtf8(say("These files changed since the search and were "
                                              "not deleted:\n",
                                              "這些檔案在搜尋之後已經改變, 沒有刪除:\n")) +
                            named.join('\n'));
    }

private:
    UserMessages& messages_;
    platform::ShellPrompts& prompts_;
};

} // namespace

DeleteFlow::DeleteFlow(QWidget* window, QTreeView* list, FileListModel* model, ListHost& host,
                       TfrmProgress* progress, QAction* miDelete,
                       const MainWindowServices& services)
    : QObject(window), window_(window), lvFiles(list), lvFilesModel(model), host_(host),
      frmProgress_(progress), services_(services), deletePoll_(new QTimer(this)) {
    connect(miDelete, &QAction::triggered, this, &DeleteFlow::miDeleteClick);
    deletePoll_->setInterval(15);
    connect(deletePoll_, &QTimer::timeout, this, [this] {
        if (!deleteSession_)
            return;
        if (frmProgress_->cancelRequested())
            deleteSession_->cancel();
        host_.showProgressPercent(deleteSession_->percent());
    });
    // Rows the plan names must still be the list's rows when it is carried out.
    const auto changed = [this] {
        if (deleting_)
            listChangedWhileDeleting_ = true;
    };
    connect(lvFilesModel, &QAbstractItemModel::rowsInserted, this, changed);
    connect(lvFilesModel, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(lvFilesModel, &QAbstractItemModel::layoutChanged, this, changed);
    connect(lvFilesModel, &QAbstractItemModel::modelReset, this, changed);
}

DeleteFlow::~DeleteFlow() = default;

void DeleteFlow::cancel() {
    if (deleteSession_)
        deleteSession_->cancel();
}

bool DeleteFlow::deleteRowNow(int row) {
    const std::unique_ptr<actions::DeleteSession> session = sessionFor({size_t(row)});
    session->planHere();
    WindowDeleteQuestions questions(*services_.messages, *services_.shellPrompts);
    return showDeleteResult(*session, session->carryOut(host_.DeleteFlags(), questions,
                                                        host_.listGeneration())) > 0;
}

bool DeleteFlow::deleteSeenFileNow(const std::string& path, const platform::FileState& seen) {
    WindowDeleteQuestions questions(*services_.messages, *services_.shellPrompts);
    FileRecordStore row = actions::SeenFileRow(path, seen);
    if (row.empty()) {
        // No file was there when it was shown: nothing of it to delete, and what is
        // there now is not what was shown.
        if (!platform::pathExists(path))
            return true;
        questions.reportChanged(
            {path + "  (" + actions::rowCheckText(actions::RowCheck::Replaced) + ")"});
        return false;
    }
    actions::DeleteRequest request{{0}, false, actions::protectionOf(host_.protectedDirectories())};
    actions::DeleteSession session(std::make_shared<const FileRecordStore>(std::move(row)),
                                   std::move(request));
    session.planHere();
    // It is in no list, so Undo puts the file back and no row: no list is generation 0.
    const actions::DeleteResult result = session.carryOut(host_.DeleteFlags(), questions, 0);
    if (!result.failure.empty()) {
        services_.messages->error(
            window_, QString::fromUtf8(say("Checking the files failed, nothing was deleted: ",
                                           "刪除前的檢查失敗, 沒有刪除任何檔案: ")) +
                         QString::fromLocal8Bit(result.failure));
        return false;
    }
    if (result.journal)
        host_.pushToJournal(*result.journal);
    return !result.removed.empty();
}

std::unique_ptr<actions::DeleteSession>
DeleteFlow::sessionFor(const std::vector<size_t>& asked) const {
    actions::DeleteRequest request{asked, host_.holdsDuplicateGroups(),
                                   actions::protectionOf(host_.protectedDirectories())};
    // A list of similar pictures is checked at the level it was searched with.
    if (const std::optional<int> level = host_.searchedSimilarLevel()) {
        similar::PrepareFingerprinting(); // the plan's thread fingerprints
        request.fingerprint = [](const std::string& path) {
            similar::PictureReading read = similar::ReadPictureFile(path, true);
            return read.fingerprinted() ? std::optional(similar::PictureLikeness{
                                              read.fingerprint, std::move(read.print)})
                                        : std::nullopt;
        };
        request.similarLevel = similar::SimilarLevel(*level);
    }
    // The session reads a copy of the list, which stays as it is while the list may not.
    auto rows = std::make_shared<const FileRecordStore>(lvFilesModel->store());
    return std::make_unique<actions::DeleteSession>(std::move(rows), std::move(request),
                                                    actions::probeDisk, services_.deleteHasher);
}

void DeleteFlow::DeleteSelectedFiles() {
    if (deleting_ || host_.searching())
        return;
    const QModelIndexList selected = lvFiles->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    std::vector<size_t> asked;
    asked.reserve(size_t(selected.size()));
    for (const QModelIndex& index : selected)
        asked.push_back(size_t(index.row()));
    deleteSession_ = sessionFor(asked);
    deleting_ = true;
    listChangedWhileDeleting_ = false;
    statusBeforeDelete_ = host_.statusText(0);
    frmProgress_->showCentred();
    frmProgress_->Progress->setValue(0);
    host_.restartProgress();
    deletePoll_->start();
    deleteSession_->start(this, [this] { finishDelete(); });
}

void DeleteFlow::finishDelete() {
    deletePoll_->stop();
    const std::unique_ptr<actions::DeleteSession> session = std::move(deleteSession_);
    // A Cancel that came before the plan was taken counts, however late in the plan.
    if (frmProgress_->cancelRequested())
        session->cancel();
    frmProgress_->hide();
    host_.setStatusText(0, statusBeforeDelete_);
    if (listChangedWhileDeleting_) {
        services_.messages->error(
            window_, QString::fromUtf8(say("The list changed while the files were "
                                           "checked: nothing was deleted.",
                                           "清單在檢查檔案時已改變, 沒有刪除任何檔案。")));
    } else {
        WindowDeleteQuestions questions(*services_.messages, *services_.shellPrompts);
        showDeleteResult(*session,
                         session->carryOut(host_.DeleteFlags(), questions, host_.listGeneration()));
        const QModelIndex current = lvFiles->currentIndex();
        if (current.isValid()) {
            lvFiles->selectionModel()->select(current, QItemSelectionModel::Select |
                                                           QItemSelectionModel::Rows);
            lvFiles->scrollTo(current, QAbstractItemView::EnsureVisible);
        }
    }
    deleting_ = false;
    emit finished();
}

size_t DeleteFlow::showDeleteResult(const actions::DeleteSession& session,
                                    const actions::DeleteResult& result) {
    if (!result.failure.empty()) {
        services_.messages->error(
            window_, QString::fromUtf8(say("Checking the files failed, nothing was deleted: ",
                                           "刪除前的檢查失敗, 沒有刪除任何檔案: ")) +
                         QString::fromLocal8Bit(result.failure));
        return 0;
    }
    // What went to the trash can be put back, rows included.
    if (result.journal)
        host_.pushToJournal(*result.journal);
    if (!result.removed.empty())
        host_.removeDeletedRows(session.rows(), result.removed);
    return result.removed.size();
}

} // namespace fenwa
