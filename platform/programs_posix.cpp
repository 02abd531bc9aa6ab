#include "programs.h"

#include <QFile>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fenwa::platform {

std::vector<QString> programNameCandidates(const QString& bareName) {
    std::vector<QString> names{bareName};
    auto add = [&names](const QString& name) {
        if (!name.isEmpty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    };
    QString stem = bareName;
    if (stem.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        stem.chop(4);
    add(stem);
    add(stem.toLower());
    return names;
}

QString findProgram(const QString& bareName) {
    if (bareName.isEmpty() || bareName.contains(QLatin1Char('/')))
        return {};
    for (const QString& name : programNameCandidates(bareName)) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

int startDetached(const std::string& path, const std::vector<std::string>& arguments) {
    // Everything the children touch is prepared before forking: after fork only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return errno;
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return error;
    }
    if (child == 0) {
        ::close(report[0]);
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::setsid();
            ::execv(argv[0], argv.data());
            const int error = errno;
            [[maybe_unused]] auto written = ::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        if (grandchild < 0) {
            const int error = errno;
            [[maybe_unused]] auto written = ::write(report[1], &error, sizeof error);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    return got == ssize_t(sizeof error) ? error : 0;
}

} // namespace fenwa::platform
