// The main window's side of the preview pane and the slide strip, and deleting the
// selected files.

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSaveFile>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include "TAdvImage.h"
#include "carryout.h"
#include "deleteplanner.h"
#include "exportlist.h"
#include "filesystem.h"
#include "fingerprint.h"
#include "messages.h"
#include "nativename.h"
#include "pathrules.h"
#include "picturefingerprint.h"
#include "shellfiles.h"
#include "tfrmmain.h"
#include "tfrmviewer.h"
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
// Deleting

int TfrmMain::DeleteFlags() const {
    return pgOptions->DeleteFlags();
}

platform::ShellPrompts& TfrmMain::shellPrompts() const {
    return *services_.shellPrompts;
}

void TfrmMain::reportChangedFiles(const QStringList& descriptions) {
    services_.messages->error(QApplication::activeWindow(),
                              QStringLiteral("這些檔案在搜尋之後已經改變, 沒有刪除:\n") +
                                  descriptions.join('\n'));
}

void TfrmMain::miDeleteClick() {
    DeleteSelectedFiles();
}

void TfrmMain::DeleteSelectedFiles() {
    const QModelIndexList selected = lvFiles->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    std::vector<size_t> asked;
    asked.reserve(size_t(selected.size()));
    for (const QModelIndex& index : selected)
        asked.push_back(size_t(index.row()));
    DeleteRowsThroughPlanner(asked);
    const QModelIndex current = lvFiles->currentIndex();
    if (current.isValid()) {
        lvFiles->selectionModel()->select(current,
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        lvFiles->scrollTo(current, QAbstractItemView::EnsureVisible);
    }
}

std::vector<QByteArray> TfrmMain::DeleteRowsThroughPlanner(const std::vector<size_t>& asked) {
    const FileRecordStore& rows = lvFilesModel->store();
    actions::DeleteRequest request{asked, duplicateList_,
                                   actions::protectionOf(protectedDirectories())};
    // A list of similar pictures is checked at the level it was searched with.
    if (duplicateList_ && searchedCriteria_.similar) {
        request.fingerprint = [](const std::string& path) {
            return similar::FingerprintFile(path);
        };
        request.similarThreshold =
            similar::LevelThreshold(similar::SimilarLevel(searchedSimilarLevel_));
    }
    const actions::DeletePlan plan =
        actions::PlanDelete(rows, request, actions::probeDisk, actions::hashFileNow);
    const auto pathText = [&](size_t row) { return platform::fromNative(rows.fullPath(row)); };
    // What changed since the search is not what the user chose to delete: it is left
    // alone and named.
    if (!plan.kept.empty()) {
        QStringList changed;
        for (const actions::DeletePlan::Kept& k : plan.kept)
            changed << pathText(k.row) + "  (" +
                           QString::fromUtf8(actions::keepReasonText(k.reason)) + ")";
        reportChangedFiles(changed);
    }
    const actions::DeleteOutcome outcome =
        actions::CarryOutDelete(rows, plan, request, DeleteFlags(), shellPrompts(),
                                actions::probeDisk, actions::hashFileNow);
    if (outcome.declined)
        return {};
    const platform::DeleteReport& report = outcome.report;

    // Whatever the request reported, exactly the rows whose files are gone leave the list.
    std::vector<bool> remove(size_t(lvFilesModel->rowCount()), false);
    std::vector<QByteArray> gone;
    std::vector<size_t> affected = plan.remove;
    affected.insert(affected.end(), plan.gone.begin(), plan.gone.end());
    for (size_t row : affected) {
        const std::string path = rows.fullPath(row);
        if (platform::pathExists(path))
            continue;
        const QByteArray native = QByteArray::fromStdString(path);
        pnSlides->forget(native);
        remove[row] = true;
        gone.push_back(native);
    }
    // What went to the trash can be put back, rows included.
    journalTrash(report, remove);
    if (!gone.empty())
        DeleteRows(remove);
    return gone;
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
    if (row < 0 || row >= lvFilesModel->rowCount())
        return false;
    const QByteArray path = rowPath(row);
    const auto& slides = pnSlides->AdvImage;
    const bool onSlide = std::any_of(slides.begin(), slides.end(), [&](TAdvImage* slide) {
        return slide->NativeFileName() == path;
    });
    if (DeleteRowsThroughPlanner({size_t(row)}).empty())
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
