#include "directorylist.h"

#include <algorithm>

namespace fenwa {

AddDirectoryCheck checkDirectoryToAdd(std::string_view text,
                                      const std::vector<std::string>& entries,
                                      const std::function<bool(const std::string&)>& isDirectory,
                                      platform::PathStyle style,
                                      const DirectoryAncestry& ancestry) {
    AddDirectoryCheck check;
    if (!isDirectory(std::string(text))) {
        check.outcome = AddDirectoryOutcome::NotADirectory;
        return check;
    }
    check.directory = std::string(platform::trimmed(text));
    const std::vector<platform::FileIdentity> mine =
        ancestry ? ancestry(std::string(text)) : std::vector<platform::FileIdentity>{};
    const auto within = [](const std::vector<platform::FileIdentity>& chain,
                           const platform::FileIdentity& id) {
        return std::find(chain.begin(), chain.end(), id) != chain.end();
    };
    for (const std::string& entry : entries) {
        if (platform::sameDirectoryText(style, check.directory, entry)) {
            check.outcome = AddDirectoryOutcome::AlreadyListed;
            return check;
        }
        // What the two are on the disk decides when both can be seen there: one is the
        // other, or lies below it, whatever the spellings ("p/a/../b" is no child of
        // "p/a"). Only a text that cannot be looked at is judged by its components.
        const std::vector<platform::FileIdentity> theirs =
            mine.empty() ? std::vector<platform::FileIdentity>{} : ancestry(entry);
        const bool relatives = theirs.empty()
                                   ? platform::areRelatives(style, check.directory, entry)
                                   : within(theirs, mine.front()) || within(mine, theirs.front());
        if (relatives) {
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
