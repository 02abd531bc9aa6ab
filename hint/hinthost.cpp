#include "hinthost.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScreen>

#include <algorithm>

namespace {

// The control whose hint applies at a widget: the widget itself or its nearest parent with a
// hint, within one window.
QWidget* HintControlAt(QWidget* widget) {
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (!w->toolTip().isEmpty())
            return w;
        if (w->isWindow())
            break;
    }
    return nullptr;
}

// Like the standard tool-tip, hints show over the active window (or a window it owns) or
// where a window asks for them always.
bool ShowsHints(QWidget* control) {
    QWidget* window = control->window();
    if (window->testAttribute(Qt::WA_AlwaysShowToolTips))
        return true;
    for (; window; window = window->parentWidget() ? window->parentWidget()->window() : nullptr)
        if (window->isActiveWindow())
            return true;
    return false;
}

// The deepest widget at a point of a window, disabled ones included: a disabled widget gets
// no mouse events of its own, yet it is the control the mouse is on.
QWidget* DeepestWidgetAt(QWidget* window, QPoint globalPosition) {
    QWidget* child = window->childAt(window->mapFromGlobal(globalPosition));
    return child ? child : window;
}

} // namespace

THintHost* THintHost::Instance() {
    static QPointer<THintHost> instance;
    if (!instance)
        instance = new THintHost(QCoreApplication::instance());
    return instance;
}

THintHost::THintHost(QObject* parent) : QObject(parent) {
    pauseTimer_.setSingleShot(true);
    hideTimer_.setSingleShot(true);
    connect(&pauseTimer_, &QTimer::timeout, this, &THintHost::ActivateHint);
    connect(&hideTimer_, &QTimer::timeout, this, [this] {
        HideHint();
        spent_ = true;
    });
}

THintHost::~THintHost() = default;

void THintHost::Install(QObject* balloon, THintStyle style) {
    balloon_ = balloon;
    style_ = std::move(style);
    if (!filtering_ && qApp) {
        qApp->installEventFilter(this);
        filtering_ = true;
    }
}

void THintHost::SetStyle(QObject* balloon, THintStyle style) {
    if (!balloon_ || balloon_ != balloon)
        return;
    style_ = std::move(style);
    if (window_)
        window_->SetCanvasFont(style_.look.font);
}

void THintHost::Release(QObject* balloon) {
    if (balloon_ && balloon_ != balloon)
        return;
    CancelHint();
    balloon_ = nullptr;
    style_ = THintStyle{};
    if (filtering_ && qApp)
        qApp->removeEventFilter(this);
    filtering_ = false;
    window_.reset();
}

void THintHost::RecreateHintWindow() {
    CancelHint();
    window_.reset();
    window_ = std::make_unique<TNewHint>(grabber_);
    window_->SetCanvasFont(style_.look.font);
}

void THintHost::CancelHint() {
    pauseTimer_.stop();
    HideHint();
    control_ = nullptr;
    spent_ = false;
}

void THintHost::HideHint() {
    hideTimer_.stop();
    if (window_ && window_->isVisible())
        window_->hide();
}

void THintHost::MouseMoved(QWidget* receiver, QPoint position, QPoint globalPosition) {
    // A move that a child ignored reaches its parents too; judge it by the deepest widget.
    QWidget* target = receiver->childAt(position);
    QWidget* control = HintControlAt(target ? target : receiver);
    if (control != control_) {
        CancelHint();
        control_ = control;
    } else if (!control || spent_ || (window_ && window_->isVisible())) {
        return;
    }
    if (!control)
        return;
    // The hint waits until the mouse rests.
    cursor_ = globalPosition;
    pauseTimer_.start(std::max(0, pause_));
}

void THintHost::ActivateHint() {
    QWidget* control = control_;
    if (!balloon_ || !control || !control->isVisible())
        return;
    if (!ShowsHints(control))
        return;
    const QString text = control->toolTip();
    if (text.isEmpty())
        return;
    if (!window_) {
        RecreateHintWindow();
        control_ = control;
    }
    QScreen* screen = QGuiApplication::screenAt(cursor_);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    int maxWidth = maxWidth_;
    if (screen)
        maxWidth = std::min(maxWidth, screen->geometry().width() - balloon::ExtraWidth - 6);
    const QSize size = window_->CalcHintRect(std::max(1, maxWidth), text);
    // The handler's choice holds for this showing only; the style keeps its direction.
    THintDirection direction = style_.direction;
    if (const auto select = style_.selectDirection)
        select(DeepestWidgetAt(control->window(), cursor_), direction);
    if (!balloon_ || !window_) // the handler released the component
        return;
    window_->ShowBalloon(QRect(cursor_, size), text, cursor_, style_.look, direction);
    if (hidePause_ > 0)
        hideTimer_.start(hidePause_);
}

bool THintHost::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ToolTip:
        // Hints of controls are ours; anything else (an item's own tip) is left alone.
        if (balloon_ && watched->isWidgetType() && HintControlAt(static_cast<QWidget*>(watched)))
            return true;
        break;
    case QEvent::MouseMove:
        if (balloon_ && watched->isWidgetType()) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->buttons() == Qt::NoButton)
                MouseMoved(static_cast<QWidget*>(watched), mouse->position().toPoint(),
                           mouse->globalPosition().toPoint());
            else
                CancelHint();
        }
        break;
    case QEvent::Leave:
        if (watched == control_.data())
            CancelHint();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::ApplicationDeactivate:
        CancelHint();
        break;
    case QEvent::WindowDeactivate:
        if (control_ && watched == control_->window())
            CancelHint();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
