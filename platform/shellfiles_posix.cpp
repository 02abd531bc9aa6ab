#include "shellfiles.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <gio/gio.h>
#include <unistd.h>

namespace fenwa::platform {

namespace {

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Shows a native name readably: invalid UTF-8 becomes replacement characters.
std::string displayName(const std::string& path) {
    gchar* valid = g_utf8_make_valid(baseName(path).c_str(), -1);
    std::string out(valid);
    g_free(valid);
    return out;
}

// Moves one file to the desktop's trash (including the trash directory of another
// mounted file system). Answers the error text, empty on success.
std::string moveToTrash(const std::string& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    const gboolean ok = g_file_trash(file, nullptr, &error);
    std::string message;
    if (!ok)
        message = error ? error->message : "unknown error";
    if (error)
        g_error_free(error);
    g_object_unref(file);
    return message;
}

// Deletes one file for good. Answers the error text, empty on success or when the file
// was already gone.
std::string removeForGood(const std::string& path) {
    if (::unlink(path.c_str()) == 0)
        return {};
    const int error = errno;
    return error == ENOENT ? std::string() : std::string(std::strerror(error));
}

std::string failureReport(const std::vector<std::pair<std::string, std::string>>& failures) {
    std::string text =
        failures.size() == 1 ? "Could not delete " : "Could not delete these files:\n";
    for (const auto& [path, why] : failures) {
        if (failures.size() == 1)
            text += "\"" + displayName(path) + "\": " + why;
        else
            text += "\"" + displayName(path) + "\": " + why + "\n";
    }
    return text;
}

} // namespace

std::string deleteQuestion(const std::vector<std::string>& nativePaths, bool toTrash) {
    if (nativePaths.size() == 1) {
        const std::string name = "\"" + displayName(nativePaths.front()) + "\"";
        return toTrash
                   ? "Are you sure you want to move " + name + " to the trash?"
                   : "Are you sure you want to permanently delete " + name + "?\n" + CannotBeUndone;
    }
    const std::string count = std::to_string(nativePaths.size());
    return toTrash ? "Are you sure you want to move these " + count + " items to the trash?"
                   : "Are you sure you want to permanently delete these " + count + " items?\n" +
                         CannotBeUndone;
}

DeleteReport ShellDeleteFiles(const std::vector<std::string>& nativePaths, int flags,
                              ShellPrompts& prompts, const DeleteGuard& guard) {
    DeleteReport report;
    if (nativePaths.empty())
        return report;
    const bool toTrash = flags & FOF_ALLOWUNDO;
    if (!(flags & FOF_NOCONFIRMATION) && !prompts.askYesNo(deleteQuestion(nativePaths, toTrash)))
        return report;

    const auto mayGo = [&](size_t index) {
        if (!guard.before || guard.before(index))
            return true;
        report.leftAlone.push_back(index);
        return false;
    };
    std::vector<std::pair<std::string, std::string>> failures;
    std::vector<size_t> notTrashed;
    std::vector<std::string> trashed;
    const int64_t trashFrom = int64_t(std::time(nullptr));
    for (size_t index = 0; index < nativePaths.size(); ++index) {
        const std::string& path = nativePaths[index];
        if (toTrash) {
            const int64_t movedFrom = int64_t(std::time(nullptr));
            const std::string why = moveToTrash(path);
            if (why.empty()) {
                if (!guard.after || guard.after(index)) {
                    trashed.push_back(path);
                    continue;
                }
                // What it was counted on to leave behind is not there: it comes back.
                const std::vector<TrashedFile> item =
                    findTrashed({path}, movedFrom, int64_t(std::time(nullptr)));
                if (restoreFromTrash(item).front().status == RestoreStatus::Restored) {
                    report.putBack.push_back(index);
                } else {
                    report.notPutBack.push_back(index);
                    trashed.push_back(path);
                }
                continue;
            }
            // Gone already: nothing to ask about.
            if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT)
                continue;
            notTrashed.push_back(index);
        } else if (mayGo(index)) {
            const std::string why = removeForGood(path);
            if (!why.empty())
                failures.emplace_back(path, why);
        }
    }
    if (!notTrashed.empty()) {
        std::string question =
            notTrashed.size() == 1
                ? "\"" + displayName(nativePaths[notTrashed.front()]) +
                      "\" cannot be moved to the trash. Do you want to delete it permanently?"
                : std::to_string(notTrashed.size()) +
                      " files cannot be moved to the trash. Do you want to delete them "
                      "permanently?";
        question += std::string("\n") + CannotBeUndone;
        if (prompts.askYesNo(question)) {
            for (size_t index : notTrashed) {
                if (!mayGo(index))
                    continue;
                const std::string why = removeForGood(nativePaths[index]);
                if (!why.empty())
                    failures.emplace_back(nativePaths[index], why);
            }
        }
    }
    if (!failures.empty())
        prompts.reportError(failureReport(failures));
    // Each trashed file is found in the trash again, to be recognised there later.
    if (!trashed.empty())
        report.trashed = findTrashed(trashed, trashFrom, int64_t(std::time(nullptr)));
    return report;
}

} // namespace fenwa::platform
