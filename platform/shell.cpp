#include "shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cstring>

#include "nativename.h"
#include "programs.h"

namespace fenwa::platform {

namespace {

// "Uedit32.exe" or "xdg-open": no directory part and no address scheme.
bool isBareProgramName(const std::string& target) {
    return target.find_first_of("/\\:") == std::string::npos;
}

ShellOpenResult failure(const QString& message) {
    return ShellOpenResult{false, message};
}

} // namespace

QByteArray fileUrlOf(const std::string& absolutePath) {
    return "file://" + QByteArray::fromStdString(absolutePath).toPercentEncoding("/");
}

ShellOpenResult ShellOpen(const std::string& target, const std::string& parameters) {
    if (target.empty())
        return {};
    if (isBareProgramName(target)) {
        const QString program = findProgram(fromNative(target));
        if (program.isEmpty())
            return failure(QStringLiteral("Cannot find '%1'. Make sure you typed the name "
                                          "correctly, and then try again.")
                               .arg(fromNative(target)));
        std::vector<std::string> arguments;
        if (!parameters.empty())
            arguments.push_back(parameters);
        if (const int error = startDetached(QFile::encodeName(program).toStdString(), arguments))
            return failure(QStringLiteral("Cannot start '%1': %2.")
                               .arg(program, QString::fromLocal8Bit(std::strerror(error))));
        return {};
    }
    // Anything but an address is a file, also a relative path like "pics/a.jpg" (which
    // QUrl::fromUserInput would take for a web host).
    const bool isFile = target.find("://") == std::string::npos &&
                        !QByteArray::fromStdString(target).toLower().startsWith("mailto:");
    QUrl url;
    if (isFile) {
        std::string absolute = target;
        if (absolute.front() != '/')
            absolute = QFile::encodeName(QDir::currentPath()).toStdString() + '/' + absolute;
        // Built from bytes: QUrl::fromLocalFile would need a QString, which cannot hold
        // a name that is not UTF-8.
        url = QUrl::fromEncoded(fileUrlOf(absolute), QUrl::StrictMode);
    } else {
        url = QUrl::fromUserInput(fromNative(target));
    }
    if (!QDesktopServices::openUrl(url))
        return failure(isFile ? QStringLiteral("There is no program associated with '%1', or "
                                               "it could not be started.")
                                    .arg(fromNative(target))
                              : QStringLiteral("Cannot open '%1'.").arg(fromNative(target)));
    return {};
}

} // namespace fenwa::platform
