#include "shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace fenwa::platform {

void ShellOpen(const QString& target, const QString& parameters) {
    Q_UNUSED(parameters);
    if (target.isEmpty())
        return;
    const QUrl url = QUrl::fromUserInput(target);
    QDesktopServices::openUrl(QFileInfo(target).isAbsolute() ? QUrl::fromLocalFile(target) : url);
}

} // namespace fenwa::platform
