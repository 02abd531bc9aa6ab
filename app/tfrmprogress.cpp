#include "tfrmprogress.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace fenwa {

namespace {

bool isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
        return true;
    default:
        return false;
    }
}

} // namespace

TfrmProgress::TfrmProgress(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("frmProgress");
    setWindowTitle(QStringLiteral("Please wait a moment..."));
    setFixedSize(519, 31);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    outer->addWidget(panel);
    auto* inner = new QHBoxLayout(panel);
    inner->setContentsMargins(5, 5, 5, 5);
    inner->setSpacing(5);
    Progress = new QProgressBar(panel);
    Progress->setObjectName("Progress");
    Progress->setRange(0, 100);
    Progress->setValue(0);
    Progress->setTextVisible(false);
    inner->addWidget(Progress, 1);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), panel);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setFixedSize(75, 21);
    btnCancel->setFocusPolicy(Qt::NoFocus);
    inner->addWidget(btnCancel);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);
}

TfrmProgress::~TfrmProgress() {
    if (guarding_)
        qApp->removeEventFilter(this);
}

void TfrmProgress::begin() {
    cancelRequested_ = false;
    if (!guarding_) {
        // Installed last, so it sees input before the main window's key preview does.
        qApp->installEventFilter(this);
        guarding_ = true;
    }
}

void TfrmProgress::showCentred() {
    if (!guarding_)
        begin();
    if (QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void TfrmProgress::end() {
    hide();
    stopGuarding(); // also when it was never shown
}

void TfrmProgress::stopGuarding() {
    if (guarding_) {
        qApp->removeEventFilter(this);
        guarding_ = false;
    }
}

void TfrmProgress::hideEvent(QHideEvent* event) {
    stopGuarding();
    QWidget::hideEvent(event);
}

void TfrmProgress::btnCancelClick() {
    cancelRequested_ = true;
    emit cancelled();
}

void TfrmProgress::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        btnCancelClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TfrmProgress::eventFilter(QObject* watched, QEvent* event) {
    // While an operation runs, input reaches this window only; everything else is
    // dropped, as a disabled window would drop it.
    if (!guarding_ || !isUserInput(event->type()))
        return false;
    bool ours = false;
    if (auto* widget = qobject_cast<QWidget*>(watched))
        ours = widget->window() == this;
    else if (auto* window = qobject_cast<QWindow*>(watched))
        ours = window == windowHandle();
    else
        return false;
    if (ours)
        return false;
    // Esc stops the operation wherever it is pressed, also before this window shows.
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        btnCancelClick();
    return true;
}

} // namespace fenwa
