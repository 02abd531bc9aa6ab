#include "messages.h"

#include <QMessageBox>

namespace fenwa {

void MessageBoxMessages::error(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QStringLiteral("Fenwa"), text);
}

void MessageBoxMessages::information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QStringLiteral("Fenwa"), text);
}

bool MessageBoxMessages::confirm(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QStringLiteral("Fenwa"), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

} // namespace fenwa
