#pragma once

#include "balloongeometry.h"
#include "balloonpainter.h"
#include "hintfonts.h"

#include <QImage>
#include <QWidget>

#include <functional>

// The balloon window: a tool-tip window that takes neither focus nor input. Each showing
// places it beside the cursor, keeps a picture of the screen behind it for as long as it
// shows, and paints the balloon over that picture, so that only the balloon's shape seems
// to stand on the screen. Where the screen cannot be read the window is translucent and
// masked to the balloon's shape instead, which looks the same.
class TNewHint : public QWidget {
    Q_OBJECT
public:
    // Reads the screen content of a rectangle given in global coordinates; a null image means
    // it could not.
    using ScreenGrabber = std::function<QImage(const QRect&)>;

    // Reads the screen where the platform allows it (X11); empty elsewhere.
    static ScreenGrabber DefaultScreenGrabber();

    explicit TNewHint(ScreenGrabber grabber = DefaultScreenGrabber());

    // Size of the hint rectangle for a text: the text measured with the canvas font, wrapped
    // to at most maxWidth pixels, and a small margin.
    QSize CalcHintRect(int maxWidth, const QString& text) const;

    // Shows a hint painted with the look. Only the rectangle's size is used: the balloon goes
    // beside the cursor, on the preferred side where it fits, else on another.
    void ShowBalloon(const QRect& rect, const QString& text, QPoint cursor, const BalloonLook& look,
                     THintDirection preferred);

    // The direction actually used for the current showing.
    THintDirection ShownDirection() const { return shownDirection_; }
    // The hint text of the current showing.
    const QString& HintText() const { return text_; }

    const THintFont& CanvasFont() const { return canvasFont_; }
    void SetCanvasFont(const THintFont& font) { canvasFont_ = font; }

    // What the window shows: the balloon painted over the background of this showing.
    const QImage& Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ScreenGrabber grabber_;
    THintDirection shownDirection_ = hdUpRight;
    THintFont canvasFont_ = DefaultHintFont();
    QString text_;
    QImage picture_;
};
