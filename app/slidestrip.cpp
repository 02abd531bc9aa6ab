#include "slidestrip.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <algorithm>

#include "TAdvImage.h"
#include "panehost.h"
#include "pathrules.h"
#include "windowlook.h"

namespace fenwa {

namespace {

const QColor CurrentSlideColour(255, 128, 0);

} // namespace

SlideStrip::SlideStrip(PaneHost& host, QWidget* parent) : QFrame(parent), host_(host) {
    setObjectName("pnSlides");
    setFixedHeight(114);
    // The strip sizes its panels to its own width, so it asks for no width of its own.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setLineWidth(SlideBorderWidth);
    auto* strip = new QHBoxLayout(this);
    strip->setContentsMargins(SlideBorderWidth, SlideBorderWidth, SlideBorderWidth,
                              SlideBorderWidth);
    strip->setSpacing(0);
    const QColor colours[5] = {Qt::red, QColor(255, 128, 64), Qt::yellow, Qt::green, Qt::blue};
    QFont letterFont(QStringLiteral("標楷體"));
    letterFont.setPixelSize(64);
    for (int i = 0; i < 5; ++i) {
        auto* panel = new QFrame(this);
        panel->setObjectName(QStringLiteral("pnImage%1").arg(i + 1));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setLineWidth(SlideBorderWidth);
        panel->setAutoFillBackground(true);
        if (i < 4)
            panel->setFixedWidth(100);
        auto* inside = new QGridLayout(panel);
        inside->setContentsMargins(SlideBorderWidth, SlideBorderWidth, SlideBorderWidth,
                                   SlideBorderWidth);
        // The letter is the panel's caption: it shows wherever no slide covers it.
        auto* letter = new QLabel(slideCaption(size_t(i)), panel);
        letter->setObjectName(QStringLiteral("slideLetter%1").arg(i + 1));
        letter->setAlignment(Qt::AlignCenter);
        letter->setFont(letterFont);
        setTextColour(letter, colours[i]);
        inside->addWidget(letter, 0, 0);
        auto* slide = new TAdvImage(panel);
        slide->setObjectName(QStringLiteral("AdvImage%1").arg(i + 1));
        setUpImageControl(slide, jsEighth, /*grayscale=*/true, /*progressiveDisplay=*/false);
        slide->hide();
        inside->addWidget(slide, 0, 0);
        strip->addWidget(panel, i < 4 ? 0 : 1);
        pnImage[size_t(i)] = panel;
        slideLetter[size_t(i)] = letter;
        AdvImage[size_t(i)] = slide;
        connect(slide, &TAdvImage::mouseDown, this,
                [this](TAdvImage* sender, QMouseEvent*) { SlideImageMouseDown(sender); });
        connect(slide, &TAdvImage::doubleClicked, this, &SlideStrip::SlideImageDblClick);
    }
    // The panels take their widths before the strip's layout places them.
    installEventFilter(this);
}

bool SlideStrip::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this && event->type() == QEvent::Resize)
        pnSlidesResize();
    return QFrame::eventFilter(watched, event);
}

void SlideStrip::setSlideHighlight(size_t slide, bool current) {
    QPalette p = pnImage[slide]->palette();
    p.setColor(QPalette::Window,
               current ? CurrentSlideColour : window()->palette().color(QPalette::Button));
    pnImage[slide]->setPalette(p);
}

void SlideStrip::clearHighlights() {
    for (size_t k = 0; k < pnImage.size(); ++k)
        setSlideHighlight(k, false);
}

void SlideStrip::forget(const QByteArray& path) {
    for (TAdvImage* slide : AdvImage) {
        if (slide->NativeFileName() == path) {
            slide->hide();
            slide->loadNativeFile(QByteArray());
        }
    }
}

void SlideStrip::FillSlides() {
    const int p = host_.currentRow();
    if (!host_.slidesOn() || p < 0 || !host_.rowIsImage(p))
        return;
    const SlideRows run = host_.slideRowsAround(p);
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
        const QByteArray path = host_.rowPath(int(s));
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

void SlideStrip::HighlightSlides() {
    const int p = host_.currentRow();
    if (!host_.slidesOn() || p < 0 || !host_.rowIsImage(p))
        return;
    const QByteArray path = host_.rowPath(p);
    for (size_t k = 0; k < AdvImage.size(); ++k)
        setSlideHighlight(k, AdvImage[k]->NativeFileName() == path);
}

void SlideStrip::ClearSlides() {
    for (size_t k = 0; k < AdvImage.size(); ++k) {
        AdvImage[k]->hide();
        AdvImage[k]->loadNativeFile(QByteArray());
        setSlideHighlight(k, false);
        slideLetter[k]->setText(slideCaption(k));
    }
}

void SlideStrip::ckShowSlidesClick() {
    if (host_.slidesOn()) {
        show();
    } else {
        hide();
        ClearSlides();
    }
}

void SlideStrip::pnSlidesResize() {
    const int w = slideWidth(width(), SlideBorderWidth);
    if (w <= 0)
        return;
    for (size_t k = 0; k < 4; ++k)
        pnImage[k]->setFixedWidth(w);
}

void SlideStrip::SlideImageMouseDown(TAdvImage* slide) {
    const QByteArray target = slide->NativeFileName();
    const std::string_view trimmedName =
        platform::trimmed(std::string_view(target.constData(), size_t(target.size())));
    if (trimmedName.empty())
        return;
    clearHighlights();
    if (host_.selectRowShowing(target)) {
        const auto k =
            size_t(std::find(AdvImage.begin(), AdvImage.end(), slide) - AdvImage.begin());
        setSlideHighlight(k, true);
    }
}

void SlideStrip::SlideImageDblClick(TAdvImage* slide) {
    emit viewRequested(slide->NativeFileName());
}

} // namespace fenwa
