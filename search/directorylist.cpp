#include "directorylist.h"

namespace fenwa {

AddDirectoryCheck checkDirectoryToAdd(std::string_view text,
                                      const std::vector<std::string>& entries,
                                      const std::function<bool(const std::string&)>& isDirectory,
                                      platform::PathStyle style) {
    AddDirectoryCheck check;
    if (!isDirectory(std::string(text))) {
        check.outcome = AddDirectoryOutcome::NotADirectory;
        return check;
    }
    check.directory = std::string(platform::trimmed(text));
    for (const std::string& entry : entries) {
        if (platform::sameDirectoryText(style, check.directory, entry)) {
            check.outcome = AddDirectoryOutcome::AlreadyListed;
            return check;
        }
        if (platform::areRelatives(style, check.directory, entry)) {
            check.outcome = AddDirectoryOutcome::Relatives;
            check.conflict = entry;
            return check;
        }
    }
    check.outcome = AddDirectoryOutcome::Added;
    return check;
}

std::string relativesMessage(std::string_view directory, std::string_view conflict) {
    std::string message(directory);
    message += MsgRelativesJoin;
    message += conflict;
    message += MsgRelativesTail;
    return message;
}

} // namespace fenwa
