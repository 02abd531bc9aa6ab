#pragma once

#include "balloongeometry.h"
#include "balloonpainter.h"
#include "newhint.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

// What the installed balloon component asks of every hint: the look it is painted with, the
// side it prefers, and a handler that may choose another side for one showing. The handler
// gets the deepest control under the mouse, disabled ones included.
struct THintStyle {
    BalloonLook look;
    THintDirection direction = hdUpRight;
    std::function<void(QWidget* control, THintDirection& direction)> selectDirection;
};

// The application's hint handling while a balloon component is installed. It watches the
// mouse over every widget: when the mouse rests for the hint pause on a control that has a
// hint (its tool-tip text, or the nearest parent's), it measures the text and shows it in the
// balloon window, which it owns, handing it the style's look and the side chosen for this
// showing. The component passes its style down; nothing here calls back into it. The balloon
// goes when the mouse leaves the control, on a click, a key, the wheel, when the application
// loses focus, or after the hide pause. The framework's own tool-tip events for those
// controls are swallowed, so the standard tool-tip never shows. One per process; without an
// installed balloon it watches nothing.
class THintHost : public QObject {
    Q_OBJECT
public:
    static THintHost* Instance();

    // Delay before a hint shows, in milliseconds.
    int HintPause() const { return pause_; }
    void SetHintPause(int milliseconds) { pause_ = milliseconds; }
    // How long a hint stays when nothing else hides it; 0 keeps it.
    int HintHidePause() const { return hidePause_; }
    void SetHintHidePause(int milliseconds) { hidePause_ = milliseconds; }
    // Widest a hint text may be before it wraps.
    int HintMaxWidth() const { return maxWidth_; }
    void SetHintMaxWidth(int pixels) { maxWidth_ = pixels; }
    // How hint windows made from now on read the screen.
    void SetScreenGrabber(TNewHint::ScreenGrabber grabber) { grabber_ = std::move(grabber); }

    // Makes balloon the component whose style hints take, and starts watching the mouse.
    void Install(QObject* balloon, THintStyle style);
    // Takes a changed style of the installed component; another component's is ignored.
    void SetStyle(QObject* balloon, THintStyle style);
    // Forgets the balloon (if it is the installed one): the hint window goes and the
    // standard tool-tip is back.
    void Release(QObject* balloon);
    QObject* Balloon() const { return balloon_; }
    const THintStyle& Style() const { return style_; }

    // Replaces the hint window with a fresh balloon window that measures with the style's font.
    void RecreateHintWindow();
    TNewHint* HintWindow() const { return window_.get(); }

    // The control whose hint is pending or showing.
    QWidget* HintControl() const { return control_; }
    // Hides the hint and forgets the control, as a click does.
    void CancelHint();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit THintHost(QObject* parent);
    ~THintHost() override;

    void MouseMoved(QWidget* receiver, QPoint position, QPoint globalPosition);
    void ActivateHint();
    void HideHint();

    int pause_ = 500;
    int hidePause_ = 2500;
    int maxWidth_ = 400;
    TNewHint::ScreenGrabber grabber_ = TNewHint::DefaultScreenGrabber();
    bool filtering_ = false;
    QPointer<QObject> balloon_;
    THintStyle style_;
    std::unique_ptr<TNewHint> window_;
    QPointer<QWidget> control_;
    QPoint cursor_;
    // The hint of the current control has been shown and timed out; it shows again only
    // after the mouse has been elsewhere.
    bool spent_ = false;
    QTimer pauseTimer_;
    QTimer hideTimer_;
};
