// The main window's side of the preview pane and the slide strip, and deleting the
// selected files.

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>
#include <QSaveFile>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include "TAdvImage.h"
#include "deleteplanner.h"
#include "deletesession.h"
#include "exportlist.h"
#include "filesystem.h"
#include "fingerprint.h"
#include "messages.h"
#include "nativename.h"
#include "pathrules.h"
#include "picturefingerprint.h"
#include "shellfiles.h"
#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"
#include "undojournal.h"
#include "windowlook.h"

namespace fenwa {

namespace {

const QColor LoadingColour(255, 255, 0);
const QColor LoadedColour(0, 128, 128);

} // namespace

void TfrmMain::connectPreviewControls() {
    connect(pgOptions, &OptionsPages::delayChanged, Panel2->Timer1,
            qOverload<int>(&QTimer::setInterval));
    connect(pgOptions, &OptionsPages::doubleClickChosen, Panel2->Timer1, &QTimer::stop);
    connect(pgOptions->ckPreview, &QCheckBox::toggled, Panel2, &PreviewPane::ckPreviewClick);
    connect(pgOptions->ckShowSlides, &QCheckBox::toggled, pnSlides, &SlideStrip::ckShowSlidesClick);
    connect(Panel2, &PreviewPane::slidesDue, pnSlides, &SlideStrip::FillSlides);
    connect(pnSlides, &SlideStrip::viewRequested, Panel2, &PreviewPane::ShowInViewer);
    connect(miViewFull, &QAction::triggered, Panel2, &PreviewPane::miViewFullClick);
    connect(miPreview, &QAction::triggered, Panel2, &PreviewPane::miPreviewClick);
    connect(miDelete, &QAction::triggered, this, &TfrmMain::miDeleteClick);
    connect(miSaveList, &QAction::triggered, this, &TfrmMain::miSaveListClick);
    for (TAdvImage* slide : pnSlides->AdvImage)
        connect(slide, &QWidget::customContextMenuRequested, this,
                [this, slide](const QPoint& p) { PopupMenu1->popup(slide->mapToGlobal(p)); });
}

QByteArray TfrmMain::rowPath(int row) const {
    return lvFilesModel->nativePath(row);
}

bool TfrmMain::rowIsImage(int row) const {
    return row >= 0 && row < lvFilesModel->rowCount() &&
           IsImageName(lvFilesModel->store().name(size_t(row)));
}

bool TfrmMain::isEditingName() const {
    // The in-place editor is a line edit on the list's viewport while it is open.
    const auto editors = lvFiles->viewport()->findChildren<QLineEdit*>();
    return std::any_of(editors.begin(), editors.end(),
                       [](const QLineEdit* e) { return e->isVisible(); });
}

void TfrmMain::lvFilesDblClick() {
    const int row = currentRow();
    if (row < 0)
        return;
    if (!rowIsImage(row))
        OpenFocusedFile();
    else
        Panel2->actOnPicture(row);
}

// ---------------------------------------------------------------------------
// The list as the preview and the slides see it

bool TfrmMain::previewOn() const {
    return pgOptions->ckPreview->isChecked();
}

bool TfrmMain::doubleClickToAct() const {
    return pgOptions->raDblClick->isChecked();
}

bool TfrmMain::slidesOn() const {
    return pgOptions->ckShowSlides->isChecked();
}

SlideRows TfrmMain::slideRowsAround(int row) const {
    return slideRows(lvFilesModel->store(), size_t(row), criteria());
}

bool TfrmMain::selectRowShowing(const QByteArray& target) {
    const SelectionChangeGuard guard(*this);
    const int count = lvFilesModel->rowCount();
    const int p = currentRow();
    const int from = p >= 0 ? std::max(p - 4, 0) : 0;
    const int to = p >= 0 ? std::min(p + 4, count - 1) : count - 1;
    DeselectAll();
    auto selectFirstMatch = [&](int first, int last) {
        for (int row = first; row <= last; ++row) {
            if (rowPath(row) != target)
                continue;
            const QModelIndex index = lvFilesModel->index(row, 0);
            lvFiles->selectionModel()->setCurrentIndex(index, QItemSelectionModel::Select |
                                                                  QItemSelectionModel::Rows);
            return true;
        }
        return false;
    };
    const bool found = selectFirstMatch(from, to) || selectFirstMatch(0, count - 1);
    if (lvFiles->currentIndex().isValid())
        lvFiles->scrollTo(lvFiles->currentIndex(), QAbstractItemView::EnsureVisible);
    return found;
}

void TfrmMain::showLoading(bool on) {
    setStatusText(0, on ? QStringLiteral("Loading") : QString());
    if (on)
        StatusBar->repaint();
    setTextColour(Label4, on ? LoadingColour : LoadedColour);
    if (on)
        Label4->repaint();
}

// ---------------------------------------------------------------------------
// Deleting: the checks, questions and deletes are the actions library's; the window
// starts them, shows their progress and takes their answer into the list.

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
                        QStringLiteral("這些檔案在搜尋之後已經改變, 沒有刪除:\n") +
                            named.join('\n'));
    }

private:
    UserMessages& messages_;
    platform::ShellPrompts& prompts_;
};

} // namespace

int TfrmMain::DeleteFlags() const {
    return pgOptions->DeleteFlags();
}

void TfrmMain::miDeleteClick() {
    DeleteSelectedFiles();
}

std::unique_ptr<actions::DeleteSession>
TfrmMain::deleteSessionFor(const std::vector<size_t>& asked) const {
    actions::DeleteRequest request{asked, duplicateList_,
                                   actions::protectionOf(protectedDirectories())};
    // A list of similar pictures is checked at the level it was searched with.
    if (duplicateList_ && searchedCriteria_.similar) {
        similar::PrepareFingerprinting(); // the plan's thread fingerprints
        request.fingerprint = [](const std::string& path) {
            return similar::FingerprintFile(path);
        };
        request.similarThreshold =
            similar::LevelThreshold(similar::SimilarLevel(searchedSimilarLevel_));
    }
    // The session reads a copy of the list, which stays as it is while the list may not.
    auto rows = std::make_shared<const FileRecordStore>(lvFilesModel->store());
    return std::make_unique<actions::DeleteSession>(std::move(rows), std::move(request),
                                                    actions::probeDisk, services_.deleteHasher);
}

void TfrmMain::DeleteSelectedFiles() {
    if (isBusy())
        return;
    const QModelIndexList selected = lvFiles->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    std::vector<size_t> asked;
    asked.reserve(size_t(selected.size()));
    for (const QModelIndex& index : selected)
        asked.push_back(size_t(index.row()));
    if (!deletePoll_) {
        deletePoll_ = new QTimer(this);
        deletePoll_->setInterval(15);
        connect(deletePoll_, &QTimer::timeout, this, [this] {
            if (!deleteSession_)
                return;
            if (frmProgress_->cancelRequested())
                deleteSession_->cancel();
            showProgressPercent(deleteSession_->percent());
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
    deleteSession_ = deleteSessionFor(asked);
    deleting_ = true;
    listChangedWhileDeleting_ = false;
    statusBeforeDelete_ = statusText(0);
    frmProgress_->showCentred();
    frmProgress_->Progress->setValue(0);
    lastProgressPercent_ = -1;
    showProgressPercent(0);
    deletePoll_->start();
    deleteSession_->start(this, [this] { finishDelete(); });
}

void TfrmMain::finishDelete() {
    deletePoll_->stop();
    const std::unique_ptr<actions::DeleteSession> session = std::move(deleteSession_);
    // A Cancel that came before the plan was taken counts, however late in the plan.
    if (frmProgress_->cancelRequested())
        session->cancel();
    frmProgress_->hide();
    setStatusText(0, statusBeforeDelete_);
    if (listChangedWhileDeleting_) {
        services_.messages->error(this, QStringLiteral("清單在檢查檔案時已改變, 沒有刪除任何檔案 "
                                                       "(the list changed while the files were "
                                                       "checked: nothing was deleted)"));
    } else {
        WindowDeleteQuestions questions(*services_.messages, *services_.shellPrompts);
        showDeleteResult(*session, session->carryOut(DeleteFlags(), questions, listGeneration_));
        const QModelIndex current = lvFiles->currentIndex();
        if (current.isValid()) {
            lvFiles->selectionModel()->select(current, QItemSelectionModel::Select |
                                                           QItemSelectionModel::Rows);
            lvFiles->scrollTo(current, QAbstractItemView::EnsureVisible);
        }
    }
    deleting_ = false;
    emit deleteFinished();
}

size_t TfrmMain::showDeleteResult(const actions::DeleteSession& session,
                                  const actions::DeleteResult& result) {
    if (!result.failure.empty()) {
        services_.messages->error(this, QStringLiteral("刪除前的檢查失敗, 沒有刪除任何檔案 "
                                                       "(checking the files failed, nothing was "
                                                       "deleted): ") +
                                            QString::fromLocal8Bit(result.failure));
        return 0;
    }
    const FileRecordStore& rows = session.rows();
    std::vector<bool> remove(size_t(lvFilesModel->rowCount()), false);
    for (size_t row : result.removed) {
        const QByteArray native = QByteArray::fromStdString(rows.fullPath(row));
        pnSlides->forget(native);
        if (row < remove.size())
            remove[row] = true;
    }
    // What went to the trash can be put back, rows included.
    if (result.journal)
        pushToJournal(*result.journal);
    if (!result.removed.empty())
        DeleteRows(remove);
    return result.removed.size();
}

// ---------------------------------------------------------------------------
// Export

void TfrmMain::miSaveListClick() {
    if (!services_.pickSaveFile)
        return;
    const std::optional<QString> chosen =
        services_.pickSaveFile(this, miSaveList->text().remove(QStringLiteral("...")));
    if (!chosen)
        return;
    const ExportFormat format = chosen->endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)
                                    ? ExportFormat::Json
                                    : ExportFormat::Csv;
    const std::string text = rowsAsText(lvFilesModel->store(), format);
    // Written beside the target and renamed over it, so a failure never leaves half a file.
    QSaveFile file(*chosen);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), qint64(text.size())) != qint64(text.size()) || !file.commit())
        services_.messages->error(
            this, QStringLiteral("無法寫入 %1: %2").arg(*chosen, file.errorString()));
}

} // namespace fenwa

namespace fenwa {

// ---------------------------------------------------------------------------
// The list as the viewer sees it

int TfrmMain::rowCount() const {
    return lvFilesModel->rowCount();
}

void TfrmMain::showRow(int row) {
    if (row >= 0 && row < lvFilesModel->rowCount() && !isEditingName())
        lvFiles->selectionModel()->setCurrentIndex(lvFilesModel->index(row, 0),
                                                   QItemSelectionModel::NoUpdate);
    DeselectAll();
    const QModelIndex focused = lvFiles->currentIndex();
    if (focused.isValid())
        lvFiles->scrollTo(focused, QAbstractItemView::EnsureVisible);
}

bool TfrmMain::deleteRow(int row) {
    // The viewer pages on as soon as this answers, so its one file is checked here and
    // now, not beside the window.
    if (isBusy() || row < 0 || row >= lvFilesModel->rowCount())
        return false;
    const QByteArray path = rowPath(row);
    const auto& slides = pnSlides->AdvImage;
    const bool onSlide = std::any_of(slides.begin(), slides.end(), [&](TAdvImage* slide) {
        return slide->NativeFileName() == path;
    });
    const std::unique_ptr<actions::DeleteSession> session = deleteSessionFor({size_t(row)});
    session->planHere();
    WindowDeleteQuestions questions(*services_.messages, *services_.shellPrompts);
    if (showDeleteResult(*session, session->carryOut(DeleteFlags(), questions, listGeneration_)) ==
        0)
        return false;
    DeselectAll();
    Panel2->forget(path);
    // The slides no longer show the group as it was.
    if (onSlide)
        pnSlides->clearHighlights();
    return true;
}

void TfrmMain::viewerActivated(bool active) {
    if (active) {
        if (!viewerGuard_)
            viewerGuard_ = std::make_unique<SelectionChangeGuard>(*this);
        return;
    }
    viewerGuard_.reset();
    lvFilesChange();
}

} // namespace fenwa
