#include "shell.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cstring>

#include "programs.h"

namespace fenwa::platform {

namespace {

// "Uedit32.exe" or "xdg-open": no directory part and no address scheme.
bool isBareProgramName(const QString& target) {
    return !target.contains(QLatin1Char('/')) && !target.contains(QLatin1Char('\\')) &&
           !target.contains(QLatin1Char(':'));
}

ShellOpenResult failure(const QString& message) {
    return ShellOpenResult{false, message};
}

} // namespace

ShellOpenResult ShellOpen(const QString& target, const QString& parameters) {
    if (target.isEmpty())
        return {};
    if (isBareProgramName(target)) {
        const QString program = findProgram(target);
        if (program.isEmpty())
            return failure(QStringLiteral("Cannot find '%1'. Make sure you typed the name "
                                          "correctly, and then try again.")
                               .arg(target));
        std::vector<std::string> arguments;
        if (!parameters.isEmpty())
            arguments.push_back(QFile::encodeName(parameters).toStdString());
        if (const int error = startDetached(QFile::encodeName(program).toStdString(), arguments))
            return failure(QStringLiteral("Cannot start '%1': %2.")
                               .arg(program, QString::fromLocal8Bit(std::strerror(error))));
        return {};
    }
    // Anything but an address is a file, also a relative path like "pics/a.jpg" (which
    // QUrl::fromUserInput would take for a web host).
    const bool isFile = !target.contains(QLatin1String("://")) &&
                        !target.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive);
    const QUrl url = isFile ? QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath())
                            : QUrl::fromUserInput(target);
    if (!QDesktopServices::openUrl(url))
        return failure(isFile ? QStringLiteral("There is no program associated with '%1', or "
                                               "it could not be started.")
                                    .arg(target)
                              : QStringLiteral("Cannot open '%1'.").arg(target));
    return {};
}

} // namespace fenwa::platform
