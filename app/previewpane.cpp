#include "previewpane.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "TAdvImage.h"
#include "panehost.h"
#include "pathrules.h"
#include "tfrmviewer.h"
#include "windowlook.h"

namespace fenwa {

namespace {

// The same file as the file system names files: Windows ignores case, while a POSIX
// directory can hold "a.bmp" and "A.bmp" as two pictures.
bool sameFilePath(const QByteArray& a, const QByteArray& b) {
    if constexpr (platform::nativePathStyle() == platform::PathStyle::Windows)
        return platform::equalsIgnoringAsciiCase(std::string_view(a.constData(), size_t(a.size())),
                                                 std::string_view(b.constData(), size_t(b.size())));
    return a == b;
}

} // namespace

PreviewPane::PreviewPane(PaneHost& host, TfrmViewer* viewer, QWidget* parent)
    : QWidget(parent), host_(host), viewer_(viewer) {
    // On black, with the scale bar and the loading label.
    setObjectName("Panel2");
    setBackground(this, Qt::black);
    auto* right = new QVBoxLayout(this);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    pnScale = new QFrame(this);
    pnScale->setObjectName("pnScale");
    pnScale->setFrameShape(QFrame::Panel);
    pnScale->setFrameShadow(QFrame::Raised);
    pnScale->setFixedHeight(41);
    pnScale->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setBackground(pnScale, parent->palette().color(QPalette::Window));
    auto* scales = new QHBoxLayout(pnScale);
    scales->setContentsMargins(6, 2, 6, 2);
    rbFullSize = new QRadioButton(QStringLiteral("1x"), pnScale);
    rbHalf = new QRadioButton(QStringLiteral("1/2"), pnScale);
    rbQuarter = new QRadioButton(QStringLiteral("1/4"), pnScale);
    rbEighth = new QRadioButton(QStringLiteral("1/8(Faster)"), pnScale);
    rbFullSize->setObjectName("rbFullSize");
    rbHalf->setObjectName("rbHalf");
    rbQuarter->setObjectName("rbQuarter");
    rbEighth->setObjectName("rbEighth");
    rbHalf->setChecked(true);
    for (QRadioButton* r : {rbFullSize, rbHalf, rbQuarter, rbEighth}) {
        r->setFont(arialFont(12, true));
        scales->addWidget(r);
        connect(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                PreviewSizeClick();
        });
    }
    scales->addStretch(1);
    right->addWidget(pnScale);

    Image = new TAdvImage(this);
    Image->setObjectName("Image");
    setUpImageControl(Image, jsHalf, /*grayscale=*/false, /*progressiveDisplay=*/true);
    right->addWidget(Image, 1);
    connect(Image, &TAdvImage::imageLoading, this, &PreviewPane::ImageImageLoading);
    connect(Image, &TAdvImage::imageLoaded, this, &PreviewPane::ImageImageLoaded);
    connect(Image, &TAdvImage::doubleClicked, this, &PreviewPane::ImageDblClick);

    // The pane's caption, seen only while the preview is switched off.
    Panel2Caption = new QLabel(this);
    Panel2Caption->setObjectName("Panel2Caption");
    Panel2Caption->setAlignment(Qt::AlignCenter);
    QFont captionFont(QStringLiteral("標楷體"));
    captionFont.setPixelSize(48);
    Panel2Caption->setFont(captionFont);
    setTextColour(Panel2Caption, Qt::gray);
    Panel2Caption->hide();
    right->addWidget(Panel2Caption, 1);

    Panel3 = new QFrame(this);
    Panel3->setObjectName("Panel3");
    Panel3->setFixedHeight(43);
    auto* bottom = new QHBoxLayout(Panel3);
    bottom->setContentsMargins(4, 0, 4, 0);
    Label1 = new QLabel(QStringLiteral("Loading..."), Panel3);
    Label1->setObjectName("Label1");
    Label1->setFont(arialFont(24, true, true));
    Label1->setAlignment(Qt::AlignCenter);
    setTextColour(Label1, Qt::red);
    bottom->addWidget(Label1);
    Label1->setVisible(false);
    right->addWidget(Panel3);

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName("PopupMenu2");
    miView = menuItem(PopupMenu2, "miView", QStringLiteral("View Image In Full Size"));
    connect(Image, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu2->popup(Image->mapToGlobal(p)); });
    connect(PopupMenu2, &QMenu::aboutToShow, this, &PreviewPane::PopupMenu2Popup);
    connect(miView, &QAction::triggered, this, &PreviewPane::miViewClick);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->stop();
    connect(Timer1, &QTimer::timeout, this, &PreviewPane::Timer1Timer);
}

void PreviewPane::forget(const QByteArray& path) {
    if (Image->NativeFileName() == path)
        Image->loadNativeFile(QByteArray());
}

// ---------------------------------------------------------------------------
// Acting on a row

void PreviewPane::actOnPicture(int row) {
    if (host_.doubleClickToAct()) {
        if (host_.previewOn())
            LoadPreview();
        else if (!host_.slidesOn())
            ShowInViewer(host_.rowPath(row));
        ScheduleSlides();
    } else {
        // Selecting already previews in this mode, so the double click goes full size.
        ShowInViewer(host_.rowPath(row));
    }
}

void PreviewPane::LoadPreview() {
    const int row = host_.currentRow();
    if (!host_.listIdle() || row < 0 || !host_.previewOn() || !host_.rowIsImage(row))
        return;
    // The preview fills the pane (its layout keeps it so while StretchRatio is on);
    // otherwise it takes the picture's own size.
    if (!Image->StretchRatio())
        Image->setFixedSize(Image->ImageWidth(), Image->ImageHeight());
    const QByteArray path = host_.rowPath(row);
    if (sameFilePath(path, Image->NativeFileName()))
        return;
    if (host_.doubleClickToAct()) {
        Image->loadNativeFile(path);
    } else {
        Timer1->stop();
        Timer1->start();
        PendingPreview = true;
        PendingPreviewPath = path;
    }
}

void PreviewPane::ScheduleSlides() {
    if (host_.doubleClickToAct()) {
        emit slidesDue();
        return;
    }
    if (!host_.previewOn()) {
        Timer1->stop();
        Timer1->start();
    }
    PendingPreview = true;
}

void PreviewPane::Timer1Timer() {
    if (host_.searching())
        return; // the list is being replaced: a waiting load comes at a tick after the search
    if (PendingPreview) {
        if (host_.previewOn())
            Image->loadNativeFile(PendingPreviewPath);
        if (host_.slidesOn())
            emit slidesDue();
    }
    PendingPreview = false;
    Timer1->stop();
}

// ---------------------------------------------------------------------------
// The loading indicator and the viewer

void PreviewPane::indicatorOn() {
    host_.showLoading(true);
    Label1->show();
    Panel3->layout()->activate();
    Label1->repaint();
}

void PreviewPane::indicatorOff() {
    host_.showLoading(false);
    Label1->hide();
}

void PreviewPane::ImageImageLoading() {
    indicatorOn();
}

void PreviewPane::ImageImageLoaded() {
    indicatorOff();
}

void PreviewPane::ShowInViewer(const QByteArray& nativePath) {
    indicatorOn();
    viewer_->showPath(nativePath);
    indicatorOff();
}

void PreviewPane::ImageDblClick() {
    if (!Image->NativeFileName().isEmpty())
        ShowInViewer(Image->NativeFileName());
}

void PreviewPane::miViewClick() {
    ImageDblClick();
}

void PreviewPane::PopupMenu2Popup() {
    miView->setEnabled(!Image->NativeFileName().isEmpty());
}

void PreviewPane::miViewFullClick() {
    const int row = host_.currentRow();
    if (host_.rowIsImage(row))
        ShowInViewer(host_.rowPath(row));
}

void PreviewPane::miPreviewClick() {
    if (host_.rowIsImage(host_.currentRow()))
        LoadPreview();
}

// ---------------------------------------------------------------------------
// Options of the pane

void PreviewPane::PreviewSizeClick() {
    if (rbFullSize->isChecked())
        Image->setJPEGScale(jsFullSize);
    else if (rbHalf->isChecked())
        Image->setJPEGScale(jsHalf);
    else if (rbQuarter->isChecked())
        Image->setJPEGScale(jsQuarter);
    else if (rbEighth->isChecked())
        Image->setJPEGScale(jsEighth);
}

void PreviewPane::ckPreviewClick() {
    const bool on = host_.previewOn();
    Image->setVisible(on);
    pnScale->setVisible(on);
    Image->loadNativeFile(QByteArray());
    Panel2Caption->setText(QString());
    Panel2Caption->setText(QStringLiteral("不看也罷"));
    Panel2Caption->setVisible(!on);
}

} // namespace fenwa
