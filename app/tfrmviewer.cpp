#include "tfrmviewer.h"

#include <QAction>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTreeView>

#include "TAdvImage.h"
#include "actioncheck.h"
#include "cursors.h"
#include "filelistmodel.h"
#include "filesystem.h"
#include "layoutrules.h"
#include "shellfiles.h"
#include "tfrmmain.h"

namespace fenwa {

TfrmViewer::TfrmViewer(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName("frmViewer");
    setWindowTitle(QStringLiteral("Image Viewer"));
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);

    Image = new TAdvImage(this);
    Image->setObjectName("Image");
    Image->setColor(Qt::black);
    Image->setStretchRatio(false);
    Image->setCenterView(true);
    Image->setShowEmptyLabel(false);
    Image->setJPEGScale(jsFullSize);
    Image->setJPEGPerformance(jpBestQuality);
    Image->setJPEGPixelFormat(jf24Bit);
    Image->setJPEGGrayscale(false);
    Image->setJPEGProgressiveDisplay(true);
    Image->setContextMenuPolicy(Qt::CustomContextMenu);
    Image->installEventFilter(this);
    Image->setCursor(appCursor(crHandMove));

    PopupMenu1 = new QMenu(this);
    miNextImage = PopupMenu1->addAction(QStringLiteral("Next Image     [PageDown]"));
    miPriorImage = PopupMenu1->addAction(QStringLiteral("Prior Image     [PageUp]"));
    miFirstImage = PopupMenu1->addAction(QStringLiteral("First Image      [Home]"));
    miLastImage = PopupMenu1->addAction(QStringLiteral("Last Image      [End]"));
    PopupMenu1->addSeparator();
    miDelete = PopupMenu1->addAction(QStringLiteral("Delete             [Del]"));
    PopupMenu1->addSeparator();
    miClose = PopupMenu1->addAction(QStringLiteral("Close"));
    for (QAction* a : {miNextImage, miPriorImage, miFirstImage, miLastImage, miDelete, miClose})
        menuCaptions << a->text();
    connect(miNextImage, &QAction::triggered, this, &TfrmViewer::ShowNextImage);
    connect(miPriorImage, &QAction::triggered, this, &TfrmViewer::ShowPriorImage);
    connect(miFirstImage, &QAction::triggered, this, &TfrmViewer::ShowFirstImage);
    connect(miLastImage, &QAction::triggered, this, &TfrmViewer::ShowLastImage);
    connect(miDelete, &QAction::triggered, this, &TfrmViewer::DeleteCommand);
    connect(miClose, &QAction::triggered, this, &TfrmViewer::closeViewer);
    connect(Image, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(Image->mapToGlobal(at)); });
    connect(Image, &TAdvImage::doubleClicked, this, &TfrmViewer::closeViewer);
    connect(Image, &TAdvImage::mouseDown, this, [this](TAdvImage*, QMouseEvent* e) {
        dragging_ = true;
        lastPointer_ = e->globalPosition().toPoint();
    });
    connect(Image, &TAdvImage::mouseMove, this, [this](TAdvImage*, QMouseEvent* e) {
        if (!dragging_)
            return;
        const QPoint now = e->globalPosition().toPoint();
        ScrollImageBy(now.x() - lastPointer_.x(), now.y() - lastPointer_.y());
        lastPointer_ = now;
    });
    connect(Image, &TAdvImage::mouseUp, this,
            [this](TAdvImage*, QMouseEvent*) { dragging_ = false; });
}

void TfrmViewer::SetMenuCaptions(const QStringList& captions) {
    menuCaptions = captions;
    const QList<QAction*> items{miNextImage, miPriorImage, miFirstImage,
                                miLastImage, miDelete,     miClose};
    for (qsizetype i = 0; i < items.size() && i < captions.size(); ++i)
        items[i]->setText(captions[i]);
}

void TfrmViewer::layoutImage() {
    Image->setGeometry(0, 0, std::max(width(), Image->ImageWidth()),
                       std::max(height(), Image->ImageHeight()));
}

void TfrmViewer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A window manager may take room for a panel after the window was shown.
    if (isVisible())
        layoutImage();
}

void TfrmViewer::showPath(const QByteArray& nativePath) {
    if (Image->NativeFileName() != nativePath)
        Image->loadNativeFile(nativePath);
    if (!isVisible()) {
        // Fill the screen even where no window manager maximises.
        if (QScreen* s = screen())
            setGeometry(s->geometry());
        showMaximized();
    }
    raise();
    activateWindow();
    layoutImage();
}

void TfrmViewer::ShowFile(const QByteArray& nativePath) {
    if (Image->NativeFileName() == nativePath)
        return;
    // No intermediate picture or size is ever drawn.
    setUpdatesEnabled(false);
    Image->loadNativeFile(nativePath);
    layoutImage();
    const bool fits = width() >= Image->width() && height() >= Image->height();
    Image->setCursor(fits ? QCursor(Qt::ArrowCursor) : appCursor(crHandMove));
    setUpdatesEnabled(true);
}

void TfrmViewer::ScrollImageBy(int dx, int dy) {
    dx = clampScroll(Image->x(), Image->width(), width(), dx);
    dy = clampScroll(Image->y(), Image->height(), height(), dy);
    if (dx != 0 || dy != 0)
        Image->move(Image->pos() + QPoint(dx, dy));
}

int TfrmViewer::IndexOfFile(const QByteArray& nativePath) const {
    const int focused = main_->currentRow();
    if (focused >= 0 && main_->rowPath(focused) == nativePath)
        return focused;
    const int count = main_->lvFilesModel->rowCount();
    for (int row = 0; row < count; ++row)
        if (main_->rowPath(row) == nativePath)
            return row;
    return -1;
}

bool TfrmViewer::showFirstImageRow(int first, int step) {
    const int count = main_->lvFilesModel->rowCount();
    bool found = false;
    for (int row = first; row >= 0 && row < count; row += step) {
        if (!main_->rowIsImage(row))
            continue;
        ShowFile(main_->rowPath(row));
        main_->lvFiles->selectionModel()->setCurrentIndex(main_->lvFilesModel->index(row, 0),
                                                          QItemSelectionModel::NoUpdate);
        found = true;
        break;
    }
    main_->DeselectAll();
    const QModelIndex focused = main_->lvFiles->currentIndex();
    if (focused.isValid())
        main_->lvFiles->scrollTo(focused, QAbstractItemView::EnsureVisible);
    return found;
}

bool TfrmViewer::ShowNextImage() {
    if (main_->currentRow() < 0)
        return false;
    return showFirstImageRow(IndexOfFile(Image->NativeFileName()) + 1, +1);
}

bool TfrmViewer::ShowPriorImage() {
    if (main_->currentRow() < 0)
        return false;
    return showFirstImageRow(IndexOfFile(Image->NativeFileName()) - 1, -1);
}

bool TfrmViewer::ShowFirstImage() {
    if (main_->lvFilesModel->rowCount() == 0)
        return false;
    return showFirstImageRow(0, +1);
}

bool TfrmViewer::ShowLastImage() {
    const int count = main_->lvFilesModel->rowCount();
    if (count == 0)
        return false;
    return showFirstImageRow(count - 1, -1);
}

bool TfrmViewer::DeleteShownImage() {
    const QByteArray f = Image->NativeFileName();
    // A file that changed since the search is not what the user chose to delete.
    const int listed = IndexOfFile(f);
    if (listed >= 0) {
        const Staleness state = checkRow(main_->lvFilesModel->store(), size_t(listed), probeFile);
        if (state != Staleness::Unchanged && state != Staleness::Gone) {
            main_->reportChangedFiles({QFile::decodeName(f)});
            return false;
        }
        // In a group formed by content, the bytes must still be the ones found, with an
        // identical copy that stays.
        if (state == Staleness::Unchanged && main_->criteria().content) {
            std::vector<bool> deleting(size_t(main_->lvFilesModel->rowCount()), false);
            deleting[size_t(listed)] = true;
            ContentRecheck recheck(main_->lvFilesModel->store(), main_->criteria(), deleting,
                                   hashFileNow);
            const ContentState content = recheck.check(size_t(listed));
            if (content == ContentState::ContentChanged || content == ContentState::NoCopyLeft) {
                main_->reportChangedFiles({QFile::decodeName(f)});
                return false;
            }
        }
    }
    const platform::DeleteReport report =
        platform::ShellDeleteFiles({f.toStdString()}, main_->DeleteFlags(), main_->shellPrompts());
    if (platform::pathExists(f.toStdString()))
        return false; // declined or failed: nothing changes
    main_->DeselectAll();
    if (main_->Image->NativeFileName() == f)
        main_->Image->loadNativeFile(QByteArray());
    for (size_t k = 0; k < main_->AdvImage.size(); ++k) {
        TAdvImage* slide = main_->AdvImage[k];
        if (slide->NativeFileName() != f)
            continue;
        slide->hide();
        slide->loadNativeFile(QByteArray());
        for (QFrame* panel : main_->pnImage) {
            QPalette p = panel->palette();
            p.setColor(QPalette::Window, palette().color(QPalette::Button));
            panel->setPalette(p);
        }
    }
    const int i = IndexOfFile(f);
    std::vector<bool> remove(size_t(main_->lvFilesModel->rowCount()), false);
    if (i >= 0 && i < main_->lvFilesModel->rowCount())
        remove[size_t(i)] = true;
    // What went to the trash can be put back, its row included.
    main_->journalTrash(report, remove);
    if (i >= 0 && i < main_->lvFilesModel->rowCount())
        main_->DeleteRows(remove);
    bool moveOn = true;
    const int focused = main_->currentRow();
    if (focused >= 0) {
        if (main_->rowIsImage(focused)) {
            Image->loadNativeFile(main_->rowPath(focused));
            moveOn = false;
        }
        main_->lvFiles->scrollTo(main_->lvFilesModel->index(focused, 0),
                                 QAbstractItemView::EnsureVisible);
    }
    return moveOn;
}

void TfrmViewer::DeleteCommand() {
    if (main_->isEditingName())
        return;
    if (!DeleteShownImage())
        return;
    if (ShowNextImage() || ShowPriorImage())
        return;
    closeViewer();
}

void TfrmViewer::FormKeyDown(QKeyEvent* event) {
    const int sx = scrollStep(width());
    const int sy = scrollStep(height());
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        closeViewer();
        break;
    case Qt::Key_Up:
        ScrollImageBy(0, sy);
        break;
    case Qt::Key_Down:
        ScrollImageBy(0, -sy);
        break;
    case Qt::Key_Left:
        ScrollImageBy(sx, 0);
        break;
    case Qt::Key_Right:
        ScrollImageBy(-sx, 0);
        break;
    case Qt::Key_PageUp:
        ShowPriorImage();
        break;
    case Qt::Key_PageDown:
        ShowNextImage();
        break;
    case Qt::Key_Home:
        ShowFirstImage();
        break;
    case Qt::Key_End:
        ShowLastImage();
        break;
    case Qt::Key_Delete:
        DeleteCommand();
        break;
    default:
        break;
    }
}

void TfrmViewer::keyPressEvent(QKeyEvent* event) {
    // Keys that arrive while a picture loads are swallowed.
    if (!Image->Loading())
        FormKeyDown(event);
    event->accept();
}

bool TfrmViewer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image && event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmViewer::mouseDoubleClickEvent(QMouseEvent* event) {
    closeViewer();
    event->accept();
}

void TfrmViewer::FormActivate() {
    if (main_)
        main_->SuppressSelectionChange = true;
}

void TfrmViewer::FormDeactivate() {
    if (!main_)
        return;
    main_->SuppressSelectionChange = false;
    main_->lvFilesChange();
}

void TfrmViewer::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) {
        const bool nowActive = isActiveWindow();
        if (nowActive != active_) {
            active_ = nowActive;
            nowActive ? FormActivate() : FormDeactivate();
        }
    }
    QWidget::changeEvent(event);
}

void TfrmViewer::hideEvent(QHideEvent* event) {
    // Closing deactivates the viewer, also where the platform sends no activation change.
    if (active_) {
        active_ = false;
        FormDeactivate();
    }
    QWidget::hideEvent(event);
}

} // namespace fenwa
