#include "newhint.h"

#include "balloonpainter.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

namespace {

QScreen* ScreenAt(QPoint point) {
    QScreen* screen = QGuiApplication::screenAt(point);
    return screen ? screen : QGuiApplication::primaryScreen();
}

// Margin the hint rectangle adds around the measured text.
constexpr int HintRectMarginWidth = 6;
constexpr int HintRectMarginHeight = 2;

} // namespace

TNewHint::ScreenGrabber TNewHint::DefaultScreenGrabber() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    return [](const QRect& area) -> QImage {
        QScreen* screen = ScreenAt(area.center());
        if (!screen)
            return {};
        const QRect geometry = screen->geometry();
        const QPixmap grabbed = screen->grabWindow(
            0, area.x() - geometry.x(), area.y() - geometry.y(), area.width(), area.height());
        if (grabbed.isNull())
            return {};
        QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.drawPixmap(QRect(QPoint(0, 0), grabbed.deviceIndependentSize().toSize()), grabbed);
        return image;
    };
}

TNewHint::TNewHint(ScreenGrabber grabber)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                           Qt::BypassGraphicsProxyWidget),
      grabber_(std::move(grabber)) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_NoSystemBackground);
    // Without a picture of the screen the corners and the gaps between the shadow dots have
    // to let the screen through.
    if (!grabber_)
        setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

QSize TNewHint::CalcHintRect(int maxWidth, const QString& text) const {
    const QSize textSize = balloon::MeasureHintText(canvasFont_.font, text, maxWidth);
    return {textSize.width() + HintRectMarginWidth, textSize.height() + HintRectMarginHeight};
}

void TNewHint::ShowBalloon(const QRect& rect, const QString& text, QPoint cursor,
                           const BalloonLook& look, THintDirection preferred) {
    // The picture of the screen must not hold the previous balloon.
    if (isVisible())
        hide();
    text_ = text;
    QScreen* screen = ScreenAt(cursor);
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 640, 480);
    const balloon::Placement placement =
        balloon::PlaceBalloon(cursor, rect.size(), screenRect, preferred);
    shownDirection_ = placement.direction;
    const QRect bounds(placement.topLeft, balloon::WindowSize(rect.size(), shownDirection_));

    QImage background = grabber_ ? grabber_(bounds) : QImage();
    const bool captured = !background.isNull() && background.size() == bounds.size();
    if (!captured) {
        background = QImage(bounds.size(), QImage::Format_ARGB32_Premultiplied);
        background.fill(Qt::transparent);
    }
    picture_ = balloon::PaintBalloon(background, shownDirection_, look, text);
    // Without a picture of the screen the window is also cut to the balloon's shape, for
    // displays that cannot blend a translucent window (the offscreen one has no masks).
    if (!captured && QGuiApplication::platformName() != QLatin1String("offscreen"))
        setMask(QBitmap::fromImage(picture_.createAlphaMask()));
    else
        clearMask();

    // A tool-tip window comes up above everything when it is shown.
    setGeometry(bounds);
    show();
    update();
}

void TNewHint::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, picture_);
}
