#pragma once
// The few file steps the search cache takes beside SQLite's own: finding the user's cache
// directory, making it, and moving a damaged file out of the way. No Qt, so that the
// command line front end's cache module can use them.

#include <string>

namespace fenwa::platform {

// The XDG cache directory: $XDG_CACHE_HOME when set, else $HOME/.cache, spelled as the
// window's Qt spells its generic cache location, so that both name the same file.
std::string userCacheDirectory();

// Makes the directory and those above it that are missing; whether it is there now.
bool makeDirectories(const std::string& nativePath);

// Whether something (a file, link or anything else) is there, links not followed.
bool fileThere(const std::string& nativePath);

// Removes what is there unless it is a directory; whether nothing is there now.
bool removeFileIfThere(const std::string& nativePath);

} // namespace fenwa::platform
