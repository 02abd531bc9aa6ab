#include "messages.h"

#include <QMessageBox>

namespace fenwa {

void MessageBoxMessages::error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QStringLiteral("Fenwa"), text);
}

void MessageBoxMessages::information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QStringLiteral("Fenwa"), text);
}

} // namespace fenwa
