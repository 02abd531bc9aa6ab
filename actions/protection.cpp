#include "protection.h"

#include "pathrules.h"

namespace fenwa::actions {

Protection protectionOf(const std::vector<std::string>& paths) {
    Protection protection;
    for (const std::string& path : paths) {
        platform::DirectoryHandle handle;
        platform::FileIdentity id;
        if (handle.open(path) && handle.identity(id))
            protection.directories.insert(id);
    }
    return protection;
}

bool coversDirectory(const Protection& protection, const std::string& directory) {
    if (protection.empty() || !protection.ancestry)
        return false;
    for (const platform::FileIdentity& id : protection.ancestry(directory))
        if (protection.directories.count(id))
            return true;
    return false;
}

bool ProtectionCheck::directory(uint32_t index) {
    if (index >= known_.size() || protection_.empty())
        return false;
    // A directory gone since the search has no files left to protect; whatever else a
    // Delete finds at its rows' paths is checked there.
    if (known_[index] == Unknown)
        known_[index] = coversDirectory(protection_, rows_.directoryText(index)) ? Yes : No;
    return known_[index] == Yes;
}

std::vector<bool> protectedDirectoryIndexes(const FileRecordStore& rows,
                                            const Protection& protection) {
    std::vector<bool> covered(rows.directoryCount(), false);
    ProtectionCheck check(rows, protection);
    for (uint32_t d = 0; d < rows.directoryCount(); ++d)
        covered[d] = check.directory(d);
    return covered;
}

bool isWithinDirectory(std::string_view directory, std::string_view ancestor) {
    const platform::PathStyle style = platform::nativePathStyle();
    const std::string a = platform::normalizeDirectory(style, ancestor);
    const std::string d = platform::normalizeDirectory(style, directory);
    if (a.empty() || d.size() < a.size() ||
        !platform::sameDirectoryText(style, d.substr(0, a.size()), a))
        return false;
    // A root keeps its separator; any other ancestor must end where a component does.
    return d.size() == a.size() || platform::isSeparator(style, a.back()) ||
           platform::isSeparator(style, d[a.size()]);
}

} // namespace fenwa::actions
