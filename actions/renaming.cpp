#include "renaming.h"

#include "pathrules.h"
#include "rename.h"

namespace fenwa::actions {

NameCheck checkNewName(std::string_view newName) {
    if (platform::trimmed(newName).empty())
        return NameCheck::Empty;
    for (char c : ForbiddenNameCharacters)
        if (newName.find(c) != std::string_view::npos)
            return NameCheck::ForbiddenCharacter;
    return NameCheck::Acceptable;
}

const char* nameCheckMessage(NameCheck check) {
    switch (check) {
    case NameCheck::Empty:
        return MsgEmptyName;
    case NameCheck::ForbiddenCharacter:
        return MsgForbiddenCharacter;
    case NameCheck::Acceptable:
        break;
    }
    return "";
}

RenameOutcome ShellRenameFile(const std::string& oldPath, const std::string& newPath) {
    const platform::RenameResult result = platform::renameNoReplace(oldPath, newPath);
    return RenameOutcome{result.renamed, result.message};
}

RenameOutcome renameInDirectory(const std::string& directory, std::string_view oldName,
                                std::string_view newName) {
    const platform::PathStyle style = platform::nativePathStyle();
    return ShellRenameFile(platform::JoinPath(style, directory, oldName),
                           platform::JoinPath(style, directory, newName));
}

} // namespace fenwa::actions
