#include "rename.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/syscall.h>
#endif

namespace fenwa::platform {

namespace {

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the file system cannot rename without replacing, a hard link followed by the
// removal of the old name does the same job: link() never replaces its target.
int linkThenUnlink(const std::string& oldPath, const std::string& newPath) {
    if (::link(oldPath.c_str(), newPath.c_str()) != 0)
        return errno;
    if (::unlink(oldPath.c_str()) != 0) {
        const int error = errno;
        ::unlink(newPath.c_str());
        return error;
    }
    return 0;
}

int renameWithoutReplacing(const std::string& oldPath, const std::string& newPath) {
#if defined(__linux__) && defined(SYS_renameat2)
#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif
    if (::syscall(SYS_renameat2, AT_FDCWD, oldPath.c_str(), AT_FDCWD, newPath.c_str(),
                  RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    // Older kernels and some file systems do not know the flag.
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return error;
#endif
    return linkThenUnlink(oldPath, newPath);
}

} // namespace

RenameResult renameNoReplace(const std::string& oldPath, const std::string& newPath) {
    RenameResult result;
    const int error = renameWithoutReplacing(oldPath, newPath);
    if (error == 0) {
        result.renamed = true;
        return result;
    }
    result.error = error;
    result.message = "Cannot rename " + baseName(oldPath) + ": ";
    switch (error) {
    case EEXIST:
    case ENOTEMPTY:
        result.message += "A file with the name you specified already exists. Specify a "
                          "different file name.";
        break;
    case ENOENT:
        result.message += "Cannot find the specified file. Make sure you specify the correct "
                          "path and file name.";
        break;
    default:
        result.message += std::strerror(error);
        result.message += '.';
        break;
    }
    return result;
}

} // namespace fenwa::platform
