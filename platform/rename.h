#pragma once
// Renaming a file without ever replacing another one. A plain rename() overwrites an
// existing target; here the target must not exist, checked by the system in the same
// step as the rename, so no other program can slip a file in between.

#include <string>

namespace fenwa::platform {

struct RenameResult {
    bool renamed = false;
    int error = 0;       // the system's error number when not renamed
    std::string message; // the failure in the layer's own words, empty on success
};

// Both paths are native bytes. Fails with EEXIST when the new path names an existing
// file (or link, or directory).
RenameResult renameNoReplace(const std::string& oldPath, const std::string& newPath);

} // namespace fenwa::platform
