// The delete flow: a DeleteSession plans beside the window while the progress window
// offers Cancel; its plan is carried out here, with the window's questions. Moving files
// to a folder and replacing them by links or clones go the same way.

#include "deleteflow.h"

#include <QApplication>
#include <QFile>
#include <QProgressBar>
#include <QStringList>
#include <QTimer>
#include <QTreeView>
#include <utility>

#include "deleteplanner.h"
#include "deletesession.h"
#include "filelistmodel.h"
#include "fingerprint.h"
#include "groupsummary.h"
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

using actions::ActKind;

// Names files left alone, one line each (native bytes), under a heading.
void reportLeftAlone(UserMessages& messages, const char* heading,
                     const std::vector<std::string>& lines) {
    QStringList named;
    for (const std::string& line : lines)
        named << platform::fromNative(line);
    messages.error(QApplication::activeWindow(), QString::fromUtf8(heading) + named.join('\n'));
}

// The delete's questions, through the window's message services. A move or replacement
// names the files it leaves alone itself, before its question.
class WindowDeleteQuestions : public actions::DeleteQuestions {
public:
    WindowDeleteQuestions(UserMessages& messages, platform::ShellPrompts& prompts,
                          bool namesChanged = true)
        : messages_(messages), prompts_(prompts), namesChanged_(namesChanged) {}
    bool askYesNo(const std::string& question) override { return prompts_.askYesNo(question); }
    void reportError(const std::string& text) override { prompts_.reportError(text); }
    void reportChanged(const std::vector<std::string>& lines) override {
        if (namesChanged_)
            reportLeftAlone(messages_,
                            say("These files changed since the search and were not deleted:\n",
                                "這些檔案在搜尋之後已經改變, 沒有刪除:\n"),
                            lines);
    }

private:
    UserMessages& messages_;
    platform::ShellPrompts& prompts_;
    bool namesChanged_;
};

// "12 files", in the chosen language.
QString fileCount(size_t files) {
    return QString::fromUtf8(say(files == 1 ? "%1 file" : "%1 files", "%1 個檔案")).arg(files);
}

// The one question before a move or replacement: what will happen, and what it frees.
QString actQuestion(ActKind act, size_t files, int64_t bytes, const QString& folder) {
    const char* text = "";
    switch (act) {
    case ActKind::Move:
        return QString::fromUtf8(say("Move %1 (%2) to %3? Each keeps its path below its listed "
                                     "directory; nothing there is overwritten.",
                                     "確定要把 %1 (%2) 移到 %3 嗎? 每個檔案保留它在所列目錄下的"
                                     "路徑, 不會覆蓋任何檔案。"))
            .arg(fileCount(files), bytesForPeople(bytes), folder);
    case ActKind::HardLink:
        text = say("Replace %1 with hard links to their kept copies? The paths stay; %2 is freed.",
                   "確定要把 %1換成指向留下副本的硬連結嗎? 路徑不變, 釋放 %2。");
        break;
    case ActKind::SymbolicLink:
        text = say("Replace %1 with symbolic links to their kept copies? The paths stay; %2 is "
                   "freed.",
                   "確定要把 %1換成指向留下副本的符號連結嗎? 路徑不變, 釋放 %2。");
        break;
    case ActKind::Reflink:
        text = say("Replace %1 with reflink clones of their kept copies? The paths stay; %2 is "
                   "freed.",
                   "確定要把 %1換成留下副本的 reflink 複本嗎? 路徑不變, 釋放 %2。");
        break;
    case ActKind::Delete:
        break;
    }
    return QString::fromUtf8(text).arg(fileCount(files), bytesForPeople(bytes));
}

} // namespace

DeleteFlow::DeleteFlow(QWidget* window, QTreeView* list, FileListModel* model, ListHost& host,
                       TfrmProgress* progress, Items items, const MainWindowServices& services)
    : QObject(window), window_(window), lvFiles(list), lvFilesModel(model), host_(host),
      frmProgress_(progress), services_(services), deletePoll_(new QTimer(this)) {
    connect(items.miDelete, &QAction::triggered, this, &DeleteFlow::miDeleteClick);
    for (const auto& [item, act] :
         {std::pair{items.miMoveTo, ActKind::Move}, std::pair{items.miHardLink, ActKind::HardLink},
          std::pair{items.miSymLink, ActKind::SymbolicLink},
          std::pair{items.miReflink, ActKind::Reflink}})
        connect(item, &QAction::triggered, this, [this, act = act] { ActOnSelected(act); });
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
    if (deleteSession_) {
        stopped_ = true;
        deleteSession_->cancel();
    }
}

bool DeleteFlow::deleteRowNow(int row) {
    act_ = ActKind::Delete;
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

std::unique_ptr<actions::DeleteSession> DeleteFlow::sessionFor(const std::vector<size_t>& asked,
                                                               ActKind act,
                                                               const std::string& moveTo) const {
    actions::DeleteRequest request{asked, host_.holdsDuplicateGroups(),
                                   actions::protectionOf(host_.protectedDirectories())};
    request.act = act;
    if (act == ActKind::Move) {
        request.moveTo = moveTo;
        request.listedDirectories = host_.searchedDirectories();
    }
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

void DeleteFlow::ActOnSelected(ActKind act) {
    if (deleting_ || host_.searching())
        return;
    const QModelIndexList selected = lvFiles->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    if (actions::replacesWithKeeper(act) && !host_.holdsDuplicateGroups()) {
        services_.messages->error(
            window_, QString::fromUtf8(say("A list of every file has no kept copies to link "
                                           "to: use Find Duplicates first.",
                                           "列出所有檔案的清單沒有留下的副本可以連結, "
                                           "請先找出重複。")));
        return;
    }
    QString folder;
    if (act == ActKind::Move) {
        const std::optional<QString> picked =
            services_.pickDirectory
                ? services_.pickDirectory(window_, QString::fromUtf8(say("Move the selected "
                                                                         "files to",
                                                                         "把選取的檔案移到")))
                : std::nullopt;
        if (!picked || picked->isEmpty())
            return;
        folder = *picked;
    }
    std::vector<size_t> asked;
    asked.reserve(size_t(selected.size()));
    for (const QModelIndex& index : selected)
        asked.push_back(size_t(index.row()));
    deleteSession_ = sessionFor(asked, act, QFile::encodeName(folder).toStdString());
    act_ = act;
    moveTo_ = folder;
    deleting_ = true;
    stopped_ = false;
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
        stopped_ = true;
    if (stopped_)
        session->cancel();
    frmProgress_->hide();
    host_.setStatusText(0, statusBeforeDelete_);
    if (listChangedWhileDeleting_) {
        services_.messages->error(
            window_, QString::fromUtf8(act_ == ActKind::Delete
                                           ? say("The list changed while the files were "
                                                 "checked: nothing was deleted.",
                                                 "清單在檢查檔案時已改變, 沒有刪除任何檔案。")
                                           : say("The list changed while the files were "
                                                 "checked: nothing was done.",
                                                 "清單在檢查檔案時已改變, 沒有處理任何檔案。")));
    } else {
        if (act_ == ActKind::Delete) {
            WindowDeleteQuestions questions(*services_.messages, *services_.shellPrompts);
            showDeleteResult(*session, session->carryOut(host_.DeleteFlags(), questions,
                                                         host_.listGeneration()));
        } else {
            carryOutAct(*session);
        }
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

size_t DeleteFlow::carryOutAct(actions::DeleteSession& session) {
    const actions::DeletePlan& plan = std::as_const(session).plan();
    const FileRecordStore& rows = session.rows();
    const char* const notDone =
        act_ == ActKind::Move ? say("These files were not moved:\n", "這些檔案沒有移動:\n")
                              : say("These files were not replaced:\n", "這些檔案沒有被取代:\n");
    int flags = host_.DeleteFlags();
    // A stopped plan is answered as such by the session, before anything is shown or asked.
    if (!plan.cancelled && !stopped_) {
        // The files left alone, and why (another file system, no clone, other bytes, changed
        // since the search), are named before anything happens.
        if (!plan.kept.empty()) {
            std::vector<std::string> lines;
            for (const actions::DeletePlan::Kept& k : plan.kept)
                lines.push_back(rows.fullPath(k.row) + "  (" + keepReasonText(k.reason) + ")");
            reportLeftAlone(*services_.messages, notDone, lines);
        }
        // Protected files and a group's last copies are asked about by name whatever "No
        // confirmation" says; that question is then the act's only one.
        const bool askedByName = !plan.protectedRows.empty() || !plan.lastCopies.empty();
        if (!plan.remove.empty() && !askedByName && !(flags & platform::FOF_NOCONFIRMATION) &&
            !services_.shellPrompts->askYesNo(
                QFile::encodeName(
                    actQuestion(act_, plan.remove.size(), actions::bytesFreed(rows, plan), moveTo_))
                    .toStdString()))
            return 0;
        flags |= platform::FOF_NOCONFIRMATION;
    }
    WindowDeleteQuestions questions(*services_.messages, *services_.shellPrompts, false);
    const actions::DeleteResult result = session.carryOut(flags, questions, host_.listGeneration());
    // Files that changed between the plan and their turn, or whose destination was taken
    // meanwhile, stayed as they were.
    std::vector<std::string> late;
    for (const actions::RowActed& acted : result.acted)
        if (acted.status == actions::ActStatus::Changed ||
            acted.status == actions::ActStatus::TargetExists)
            late.push_back(rows.fullPath(acted.row) + "  (" +
                           (acted.status == actions::ActStatus::Changed
                                ? say("changed after it was checked", "檢查之後已經改變")
                                : keepReasonText(actions::KeepReason::TargetExists)) +
                           ")");
    if (!late.empty())
        reportLeftAlone(*services_.messages, notDone, late);
    // A hard link made to a kept copy moved its status-change time; the copy is still the
    // file the search read, and later acts take it as such.
    if (act_ == ActKind::HardLink)
        for (const actions::RowActed& acted : result.acted)
            if (acted.status == actions::ActStatus::Done)
                if (const std::optional<size_t> keeper = actions::keeperOf(plan, acted.row))
                    host_.restampRow(int(*keeper));
    return showDeleteResult(session, result);
}

size_t DeleteFlow::showDeleteResult(const actions::DeleteSession& session,
                                    const actions::DeleteResult& result) {
    if (!result.failure.empty()) {
        services_.messages->error(
            window_, QString::fromUtf8(act_ == ActKind::Delete
                                           ? say("Checking the files failed, nothing was "
                                                 "deleted: ",
                                                 "刪除前的檢查失敗, 沒有刪除任何檔案: ")
                                           : say("Checking the files failed, nothing was done: ",
                                                 "檢查檔案失敗, 沒有處理任何檔案: ")) +
                         QString::fromLocal8Bit(result.failure));
        return 0;
    }
    // What went to the trash, was moved or replaced can be put back, rows included.
    if (result.journal)
        host_.pushToJournal(*result.journal);
    if (!result.removed.empty())
        host_.removeDeletedRows(session.rows(), result.removed, act_, moveTo_);
    return result.removed.size();
}

} // namespace fenwa
