// The main window's side of the preview pane, the slide strip and the full-size viewer.

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include "TAdvImage.h"
#include "deleteflow.h"
#include "listactions.h"
#include "pathrules.h"
#include "tfrmmain.h"
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
        listActions_->OpenFocusedFile();
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
    return deleteShownFile(rowPath(row), [this, row] { return deleteFlow_->deleteRowNow(row); });
}

bool TfrmMain::deleteSeenFile(const QByteArray& path, const platform::FileState& seen) {
    return deleteShownFile(
        path, [&] { return deleteFlow_->deleteSeenFileNow(path.toStdString(), seen); });
}

bool TfrmMain::deleteShownFile(const QByteArray& path, const std::function<bool()>& deleteIt) {
    // The viewer pages on as soon as this answers, so its one file is checked here and
    // now, not beside the window.
    if (isBusy())
        return false;
    const auto& slides = pnSlides->AdvImage;
    const bool onSlide = std::any_of(slides.begin(), slides.end(), [&](TAdvImage* slide) {
        return slide->NativeFileName() == path;
    });
    if (!deleteIt())
        return false;
    DeselectAll();
    Panel2->forget(path);
    pnSlides->forget(path);
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
