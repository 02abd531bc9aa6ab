#include "cachefiles.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fenwa::platform {

namespace {

// The path with no empty or "." parts and ".." taken back where it can be, as Qt cleans
// its home path; "/" stays "/".
std::string cleaned(const std::string& path) {
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i)
        out += (i ? "/" : "") + parts[i];
    return out.empty() ? "." : out;
}

} // namespace

std::string userCacheDirectory() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg)
        return xdg;
    const char* home = std::getenv("HOME");
    return cleaned(home && *home ? home : "/") + "/.cache";
}

bool makeDirectories(const std::string& nativePath) {
    struct stat st {};
    if (nativePath.empty())
        return false;
    if (::stat(nativePath.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const size_t slash = nativePath.find_last_not_of('/') == std::string::npos
                             ? std::string::npos
                             : nativePath.rfind('/', nativePath.find_last_not_of('/'));
    if (slash != std::string::npos && slash > 0)
        makeDirectories(nativePath.substr(0, slash));
    // Another process making it at the same moment is as good.
    return ::mkdir(nativePath.c_str(), 0777) == 0 ||
           (errno == EEXIST && ::stat(nativePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

bool fileThere(const std::string& nativePath) {
    struct stat st {};
    return ::lstat(nativePath.c_str(), &st) == 0;
}

bool removeFileIfThere(const std::string& nativePath) {
    struct stat st {};
    if (::lstat(nativePath.c_str(), &st) != 0)
        return errno == ENOENT;
    return !S_ISDIR(st.st_mode) && ::unlink(nativePath.c_str()) == 0;
}

} // namespace fenwa::platform
