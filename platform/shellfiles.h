#pragma once
// The desktop's file operations for deleting: one request for a list of files, with
// the desktop's own question first (unless told not to ask) and the desktop's trash
// (unless told to delete for good). The request reports its own failures to the user;
// the caller checks the disk afterwards. What went to the trash is reported back, so
// that it can be put back later.

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
    // The files moved to the trash, in the order they were named.
    std::vector<TrashedFile> trashed;
};

// The line every question about deleting for good ends with.
inline constexpr const char* CannotBeUndone = "This cannot be undone. 刪除後無法復原。";

// Deletes exactly the files named (native byte paths). Files that cannot go to the
// trash are deleted for good only after the user says so; nothing falls back silently.
DeleteReport ShellDeleteFiles(const std::vector<std::string>& nativePaths, int flags,
                              ShellPrompts& prompts);

} // namespace fenwa::platform
