#pragma once
// Renaming a file of the result list: the new name typed into the list is checked,
// then the file is renamed on disk, never over another file. Names and paths are
// native bytes, so files whose names are not UTF-8 rename like any other.

#include <string>
#include <string_view>

namespace fenwa::actions {

// The messages for names the program refuses before asking the system.
inline constexpr const char* MsgEmptyName = "至少隨便打幾個字吧大哥!";
inline constexpr const char* MsgForbiddenCharacter =
    "檔名之中不可以含有 \\ / : * ? \" < > | 這樣的字元, 知道嗎!";

// The characters no file name may hold, in the order they are looked for.
inline constexpr std::string_view ForbiddenNameCharacters = "\\/:*?\"<>|";

enum class NameCheck { Acceptable, Empty, ForbiddenCharacter };

// Empty when nothing but blanks and control characters is left after trimming both ends.
NameCheck checkNewName(std::string_view newName);
// The message for a refused name (empty for an acceptable one).
const char* nameCheckMessage(NameCheck check);

struct RenameOutcome {
    bool renamed = false;
    // Why the system refused, in the layer's own words; empty when renamed.
    std::string systemMessage;
};

// Renames oldPath to newPath, refusing to replace an existing file.
RenameOutcome ShellRenameFile(const std::string& oldPath, const std::string& newPath);

// Renames the file `oldName` in `directory` to `newName` (as typed, untrimmed).
RenameOutcome renameInDirectory(const std::string& directory, std::string_view oldName,
                                std::string_view newName);

} // namespace fenwa::actions
