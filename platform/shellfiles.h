#pragma once
// The desktop's file operations for deleting: one request for a list of files, with
// the desktop's own question first (unless told not to ask) and the desktop's trash
// (unless told to delete for good). The request reports its own failures to the user;
// the caller checks the disk afterwards. What went to the trash is reported back, so
// that it can be put back later.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "trash.h"

namespace fenwa::platform {

// Flags of a delete request.
inline constexpr int FOF_NOCONFIRMATION = 16; // do not ask first
inline constexpr int FOF_ALLOWUNDO = 64;      // to the trash, not for good

// How the request talks to the user. The window hands in message boxes; tests record.
class ShellPrompts {
public:
    virtual ~ShellPrompts() = default;
    virtual bool askYesNo(const std::string& question) = 0;
    virtual void reportError(const std::string& text) = 0;
};

// The question asked before a delete: names the file, or counts the files.
std::string deleteQuestion(const std::vector<std::string>& nativePaths, bool toTrash);

struct DeleteReport {
    // The files moved to the trash (and left there), in the order they were named.
    std::vector<TrashedFile> trashed;
    // Indexes of the files the guard stopped: left alone (before), or put back from the
    // trash at once (after); those that could not be put back are in `notPutBack`, still
    // in the trash and in `trashed`.
    std::vector<size_t> leftAlone;
    std::vector<size_t> putBack;
    std::vector<size_t> notPutBack;
};

// Asked of each file, by its index among those named: `before` just before it is deleted
// for good (false: it is left alone); `after` right after it went to the trash (false: it
// is put back at once). Either may be empty.
struct DeleteGuard {
    std::function<bool(size_t index)> before;
    std::function<bool(size_t index)> after;
};

// The line every question about deleting for good ends with.
inline constexpr const char* CannotBeUndone = "This cannot be undone. 刪除後無法復原。";

// Deletes exactly the files named (native byte paths), one by one, each under the guard.
// Files that cannot go to the trash are deleted for good only after the user says so;
// nothing falls back silently.
DeleteReport ShellDeleteFiles(const std::vector<std::string>& nativePaths, int flags,
                              ShellPrompts& prompts, const DeleteGuard& guard = {});

} // namespace fenwa::platform
