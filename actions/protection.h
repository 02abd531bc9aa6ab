#pragma once
// Protected directories: references whose files the rules never select and a Delete asks
// about by name. A protected directory is what it is on the disk, its device and inode,
// not the text it was listed under, so it protects its files however a search reached
// them: through a link to it, a bind mount of it, or a spelling with "..".

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "directorylist.h"
#include "filerecord.h"
#include "filesystem.h"
#include "identity.h"

namespace fenwa::actions {

struct Protection {
    std::unordered_set<platform::FileIdentity, platform::FileIdentityHash> directories;
    // How a row's directory is seen on the disk: its identity and those above it as ".."
    // leads, which is the way the search came down to it, and through the bind mounts on
    // that way to the directories they show.
    DirectoryAncestry ancestry = platform::DirectoryLineage{};

    bool empty() const { return directories.empty(); }
};

// The identities of the directories named by `paths` (native bytes; a link is followed).
// A path that names no directory now protects nothing: no file can be reached under it.
Protection protectionOf(const std::vector<std::string>& paths);

// Whether `directory` (a directory text as the rows hold it) is, or lies below, a
// protected one, as it is on the disk now.
bool coversDirectory(const Protection& protection, const std::string& directory);

// Whether a row's directory is, or lies below, a protected one. Each directory of the
// store is looked at once, and only when a row of it is asked about.
class ProtectionCheck {
public:
    ProtectionCheck(const FileRecordStore& rows, const Protection& protection)
        : rows_(rows), protection_(protection), known_(rows.directoryCount(), Unknown) {}

    bool directory(uint32_t index);
    bool row(size_t row) { return directory(rows_.record(row).directory); }

private:
    enum : uint8_t { Unknown, No, Yes };
    const FileRecordStore& rows_;
    const Protection& protection_;
    std::vector<uint8_t> known_;
};

// For each of the store's directory indexes, whether it is protected.
std::vector<bool> protectedDirectoryIndexes(const FileRecordStore& rows,
                                            const Protection& protection);

// True when `directory` is `ancestor` or lies beneath it, by their texts (whole path
// components).
bool isWithinDirectory(std::string_view directory, std::string_view ancestor);

} // namespace fenwa::actions
