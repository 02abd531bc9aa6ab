// The main window's preview pane with its load delay, the slide strip, and deleting
// the selected files.

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>
#include <QSaveFile>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

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
#include "tupdown.h"
#include "undojournal.h"
#include "windowlook.h"

namespace fenwa {

namespace {

const QColor LoadingColour(255, 255, 0);
const QColor LoadedColour(0, 128, 128);
const QColor CurrentSlideColour(255, 128, 0);

// The same file as the file system names files: Windows ignores case, while a POSIX
// directory can hold "a.bmp" and "A.bmp" as two pictures.
bool sameFilePath(const QByteArray& a, const QByteArray& b) {
    if constexpr (platform::nativePathStyle() == platform::PathStyle::Windows)
        return platform::equalsIgnoringAsciiCase(std::string_view(a.constData(), size_t(a.size())),
                                                 std::string_view(b.constData(), size_t(b.size())));
    return a == b;
}

} // namespace

void TfrmMain::connectPreviewControls() {
    connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
    connect(edTime, &QLineEdit::textChanged, this, &TfrmMain::edTimeChange);
    // Toggling runs the handlers whether the user or the settings loader changes a box.
    connect(raDblClick, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            raDblClickClick();
    });
    connect(raClick, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            raClickClick();
    });
    connect(ckPreview, &QCheckBox::toggled, this, &TfrmMain::ckPreviewClick);
    connect(ckShowSlides, &QCheckBox::toggled, this, &TfrmMain::ckShowSlidesClick);
    connect(PopupMenu2, &QMenu::aboutToShow, this, &TfrmMain::PopupMenu2Popup);
    connect(miView, &QAction::triggered, this, &TfrmMain::miViewClick);
    connect(miViewFull, &QAction::triggered, this, &TfrmMain::miViewFullClick);
    connect(miPreview, &QAction::triggered, this, &TfrmMain::miPreviewClick);
    connect(miDelete, &QAction::triggered, this, &TfrmMain::miDeleteClick);
    connect(miSaveList, &QAction::triggered, this, &TfrmMain::miSaveListClick);
    for (TAdvImage* slide : AdvImage)
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

// ---------------------------------------------------------------------------
// Acting on a row

void TfrmMain::lvFilesDblClick() {
    const int row = currentRow();
    if (row < 0)
        return;
    if (!rowIsImage(row)) {
        OpenFocusedFile();
        return;
    }
    if (raDblClick->isChecked()) {
        if (ckPreview->isChecked())
            LoadPreview();
        else if (!ckShowSlides->isChecked())
            ShowInViewer(rowPath(row));
        ScheduleSlides();
    } else {
        // Selecting already previews in this mode, so the double click goes full size.
        ShowInViewer(rowPath(row));
    }
}

void TfrmMain::LoadPreview() {
    const int row = currentRow();
    if (!ListIdle || row < 0 || !ckPreview->isChecked() || !rowIsImage(row))
        return;
    // The preview fills the pane (its layout keeps it so while StretchRatio is on);
    // otherwise it takes the picture's own size.
    if (!Image->StretchRatio())
        Image->setFixedSize(Image->ImageWidth(), Image->ImageHeight());
    const QByteArray path = rowPath(row);
    if (sameFilePath(path, Image->NativeFileName()))
        return;
    if (raDblClick->isChecked()) {
        Image->loadNativeFile(path);
    } else {
        Timer1->stop();
        Timer1->start();
        PendingPreview = true;
        PendingPreviewPath = path;
    }
}

void TfrmMain::ScheduleSlides() {
    if (raDblClick->isChecked()) {
        FillSlides();
        return;
    }
    if (!ckPreview->isChecked()) {
        Timer1->stop();
        Timer1->start();
    }
    PendingPreview = true;
}

void TfrmMain::Timer1Timer() {
    if (searching_)
        return; // the list is being replaced; the search stopped the timer
    if (PendingPreview) {
        if (ckPreview->isChecked())
            Image->loadNativeFile(PendingPreviewPath);
        if (ckShowSlides->isChecked())
            FillSlides();
    }
    PendingPreview = false;
    Timer1->stop();
}

// ---------------------------------------------------------------------------
// The loading indicator and the viewer

void TfrmMain::indicatorOn() {
    setStatusText(0, QStringLiteral("Loading"));
    StatusBar->repaint();
    Label1->show();
    Panel3->layout()->activate();
    Label1->repaint();
    setTextColour(Label4, LoadingColour);
    Label4->repaint();
}

void TfrmMain::indicatorOff() {
    setStatusText(0, QString());
    Label1->hide();
    setTextColour(Label4, LoadedColour);
}

void TfrmMain::ImageImageLoading() {
    indicatorOn();
}

void TfrmMain::ImageImageLoaded() {
    indicatorOff();
}

void TfrmMain::ShowInViewer(const QByteArray& nativePath) {
    indicatorOn();
    frmViewer_->showPath(nativePath);
    indicatorOff();
}

void TfrmMain::ImageDblClick() {
    if (!Image->NativeFileName().isEmpty())
        ShowInViewer(Image->NativeFileName());
}

void TfrmMain::miViewClick() {
    ImageDblClick();
}

void TfrmMain::PopupMenu2Popup() {
    miView->setEnabled(!Image->NativeFileName().isEmpty());
}

void TfrmMain::miViewFullClick() {
    const int row = currentRow();
    if (rowIsImage(row))
        ShowInViewer(rowPath(row));
}

void TfrmMain::miPreviewClick() {
    if (rowIsImage(currentRow()))
        LoadPreview();
}

// ---------------------------------------------------------------------------
// Options of the pane

void TfrmMain::PreviewSizeClick() {
    if (rbFullSize->isChecked())
        Image->setJPEGScale(jsFullSize);
    else if (rbHalf->isChecked())
        Image->setJPEGScale(jsHalf);
    else if (rbQuarter->isChecked())
        Image->setJPEGScale(jsQuarter);
    else if (rbEighth->isChecked())
        Image->setJPEGScale(jsEighth);
}

void TfrmMain::ckPreviewClick() {
    const bool on = ckPreview->isChecked();
    Image->setVisible(on);
    pnScale->setVisible(on);
    Image->loadNativeFile(QByteArray());
    Panel2Caption->setText(QString());
    Panel2Caption->setText(QStringLiteral("不看也罷"));
    Panel2Caption->setVisible(!on);
}

bool TfrmMain::edTimeKeyPress(QKeyEvent* event) {
    // Only digits may be typed. Control characters (Backspace, Tab, the Delete key's
    // DEL) are no text, and the clipboard keys may carry their letter: those keys edit
    // and move as usual.
    for (QKeySequence::StandardKey k :
         {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::SelectAll,
          QKeySequence::Undo, QKeySequence::Redo})
        if (event->matches(k))
            return false;
    const QString text = event->text();
    for (QChar c : text)
        if (c.isPrint() && (c < QLatin1Char('0') || c > QLatin1Char('9')))
            return true;
    return false;
}

void TfrmMain::edTimeChange() {
    bool ok = false;
    const int value = edTime->text().toInt(&ok);
    if (!ok) {
        // The interval keeps its value until a valid number is typed.
        services_.messages->error(
            this, QStringLiteral("'%1' is not a valid integer value.").arg(edTime->text()));
        return;
    }
    Timer1->setInterval(value == 0 ? 5 : value);
}

void TfrmMain::raDblClickClick() {
    edTime->setEnabled(false);
    UpDown1->setEnabled(false);
    Timer1->stop();
}

void TfrmMain::raClickClick() {
    edTime->setEnabled(true);
    UpDown1->setEnabled(true);
}

// ---------------------------------------------------------------------------
// Slide strip

void TfrmMain::setSlideHighlight(size_t slide, bool current) {
    QPalette p = pnImage[slide]->palette();
    p.setColor(QPalette::Window, current ? CurrentSlideColour : palette().color(QPalette::Button));
    pnImage[slide]->setPalette(p);
}

void TfrmMain::FillSlides() {
    const int p = currentRow();
    if (!ckShowSlides->isChecked() || p < 0 || !rowIsImage(p))
        return;
    const SlideRows run = slideRows(lvFilesModel->store(), size_t(p), criteria());
    size_t s = run.start;
    bool anyShown = false;
    for (size_t k = 0; k < AdvImage.size(); ++k) {
        TAdvImage* slide = AdvImage[k];
        if (s > run.last) {
            slide->hide();
            slide->loadNativeFile(QByteArray());
            setSlideHighlight(k, false);
            continue;
        }
        const QByteArray path = rowPath(int(s));
        if (slide->NativeFileName() != path)
            slide->loadNativeFile(path);
        setSlideHighlight(k, s == size_t(p));
        slide->show();
        anyShown = true;
        ++s;
    }
    if (anyShown)
        for (QLabel* letter : slideLetter)
            letter->setText(QString());
}

void TfrmMain::HighlightSlides() {
    const int p = currentRow();
    if (!ckShowSlides->isChecked() || p < 0 || !rowIsImage(p))
        return;
    const QByteArray path = rowPath(p);
    for (size_t k = 0; k < AdvImage.size(); ++k)
        setSlideHighlight(k, AdvImage[k]->NativeFileName() == path);
}

void TfrmMain::ClearSlides() {
    for (size_t k = 0; k < AdvImage.size(); ++k) {
        AdvImage[k]->hide();
        AdvImage[k]->loadNativeFile(QByteArray());
        setSlideHighlight(k, false);
        slideLetter[k]->setText(slideCaption(k));
    }
}

void TfrmMain::ckShowSlidesClick() {
    if (ckShowSlides->isChecked()) {
        pnSlides->show();
    } else {
        pnSlides->hide();
        ClearSlides();
    }
}

void TfrmMain::pnSlidesResize() {
    const int w = slideWidth(pnSlides->width(), SlideBorderWidth);
    if (w <= 0)
        return;
    for (size_t k = 0; k < 4; ++k)
        pnImage[k]->setFixedWidth(w);
}

void TfrmMain::SlideImageMouseDown(TAdvImage* slide) {
    const SelectionChangeGuard guard(*this);
    const QByteArray target = slide->NativeFileName();
    const std::string_view trimmedName =
        platform::trimmed(std::string_view(target.constData(), size_t(target.size())));
    if (!trimmedName.empty()) {
        for (size_t k = 0; k < pnImage.size(); ++k)
            setSlideHighlight(k, false);
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
                const auto k =
                    size_t(std::find(AdvImage.begin(), AdvImage.end(), slide) - AdvImage.begin());
                setSlideHighlight(k, true);
                return true;
            }
            return false;
        };
        if (!selectFirstMatch(from, to))
            selectFirstMatch(0, count - 1);
        if (lvFiles->currentIndex().isValid())
            lvFiles->scrollTo(lvFiles->currentIndex(), QAbstractItemView::EnsureVisible);
    }
}

void TfrmMain::SlideImageDblClick(TAdvImage* slide) {
    ShowInViewer(slide->NativeFileName());
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
    int flags = 0;
    if (ckNoConfirm->isChecked())
        flags += platform::FOF_NOCONFIRMATION;
    if (!ckNoRecycle->isChecked())
        flags += platform::FOF_ALLOWUNDO;
    return flags;
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
        for (TAdvImage* slide : AdvImage) {
            if (slide->NativeFileName() == native) {
                slide->hide();
                slide->loadNativeFile(QByteArray());
            }
        }
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
    const bool onSlide = std::any_of(AdvImage.begin(), AdvImage.end(), [&](TAdvImage* slide) {
        return slide->NativeFileName() == path;
    });
    const std::unique_ptr<actions::DeleteSession> session = deleteSessionFor({size_t(row)});
    session->planHere();
    WindowDeleteQuestions questions(*services_.messages, *services_.shellPrompts);
    if (showDeleteResult(*session, session->carryOut(DeleteFlags(), questions, listGeneration_)) ==
        0)
        return false;
    DeselectAll();
    if (Image->NativeFileName() == path)
        Image->loadNativeFile(QByteArray());
    // The slides no longer show the group as it was.
    if (onSlide)
        for (QFrame* panel : pnImage) {
            QPalette p = panel->palette();
            p.setColor(QPalette::Window, palette().color(QPalette::Button));
            panel->setPalette(p);
        }
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
