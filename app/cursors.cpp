#include "cursors.h"

#include <QPixmap>

namespace fenwa {

QCursor appCursor(int id) {
    switch (id) {
    case crHandPoint:
        return QCursor(QPixmap(QStringLiteral(":/images/HandPoint.png")), 13, 2);
    case crHandMove:
        return QCursor(QPixmap(QStringLiteral(":/images/HandMove.png")), 15, 13);
    default:
        return QCursor(Qt::ArrowCursor);
    }
}

} // namespace fenwa
