#include "tfrmviewer.h"

#include <QPalette>

namespace fenwa {

TfrmViewer::TfrmViewer(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName("frmViewer");
    setWindowTitle(QStringLiteral("Fenwa"));
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);
}

void TfrmViewer::SetMenuCaptions(const QStringList& captions) {
    menuCaptions = captions;
}

} // namespace fenwa
