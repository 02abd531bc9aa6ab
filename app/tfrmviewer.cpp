#include "tfrmviewer.h"

#include <QAction>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>

#include "TAdvImage.h"
#include "cursors.h"
#include "filesystem.h"
#include "layoutrules.h"
#include "viewerlist.h"

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

void TfrmViewer::loadShown(const QByteArray& nativePath) {
    // Looked at before the load: a file replaced in between is refused later, never
    // deleted unseen.
    if (!platform::statFileNow(nativePath.toStdString(), seen_))
        seen_ = {};
    Image->loadNativeFile(nativePath);
}

void TfrmViewer::showPath(const QByteArray& nativePath) {
    if (Image->NativeFileName() != nativePath)
        loadShown(nativePath);
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
    loadShown(nativePath);
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
    const int focused = list_->currentRow();
    if (focused >= 0 && list_->rowPath(focused) == nativePath)
        return focused;
    const int count = list_->rowCount();
    for (int row = 0; row < count; ++row)
        if (list_->rowPath(row) == nativePath)
            return row;
    return -1;
}

bool TfrmViewer::showFirstImageRow(int first, int step) {
    const int count = list_->rowCount();
    for (int row = first; row >= 0 && row < count; row += step) {
        if (!list_->rowIsImage(row))
            continue;
        ShowFile(list_->rowPath(row));
        list_->showRow(row);
        return true;
    }
    list_->showRow(list_->currentRow());
    return false;
}

bool TfrmViewer::ShowNextImage() {
    if (list_->currentRow() < 0)
        return false;
    return showFirstImageRow(IndexOfFile(Image->NativeFileName()) + 1, +1);
}

bool TfrmViewer::ShowPriorImage() {
    if (list_->currentRow() < 0)
        return false;
    return showFirstImageRow(IndexOfFile(Image->NativeFileName()) - 1, -1);
}

bool TfrmViewer::ShowFirstImage() {
    if (list_->rowCount() == 0)
        return false;
    return showFirstImageRow(0, +1);
}

bool TfrmViewer::ShowLastImage() {
    const int count = list_->rowCount();
    if (count == 0)
        return false;
    return showFirstImageRow(count - 1, -1);
}

bool TfrmViewer::DeleteShownImage() {
    // The list decides, through its delete planner, whether the shown file may go: as
    // its row while it is one, otherwise as the file it was when it was shown.
    const QByteArray shown = Image->NativeFileName();
    if (shown.isEmpty())
        return false;
    const int listed = IndexOfFile(shown);
    if (listed >= 0 ? !list_->deleteRow(listed) : !list_->deleteSeenFile(shown, seen_))
        return false; // declined, changed or failed: nothing changes
    bool moveOn = true;
    const int focused = list_->currentRow();
    if (focused >= 0) {
        if (list_->rowIsImage(focused)) {
            loadShown(list_->rowPath(focused));
            moveOn = false;
        }
        list_->showRow(focused);
    }
    return moveOn;
}

void TfrmViewer::DeleteCommand() {
    if (list_->isEditingName())
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
    if (list_)
        list_->viewerActivated(true);
}

void TfrmViewer::FormDeactivate() {
    if (list_)
        list_->viewerActivated(false);
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
