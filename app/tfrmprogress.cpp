#include "tfrmprogress.h"

#include <QFrame>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

namespace fenwa {

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
    auto* inner = new QVBoxLayout(panel);
    inner->setContentsMargins(5, 5, 5, 5);
    Progress = new QProgressBar(panel);
    Progress->setObjectName("Progress");
    Progress->setRange(0, 100);
    Progress->setValue(0);
    Progress->setTextVisible(false);
    inner->addWidget(Progress);
}

void TfrmProgress::showCentred() {
    if (QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

} // namespace fenwa
