#include "filesystem.h"

#include "civiltime.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwa::platform {

namespace {

// Owns an open directory stream.
class DirectoryStream {
public:
    explicit DirectoryStream(const std::string& path)
        : dir_(::opendir(path.empty() ? "." : path.c_str())) {}
    ~DirectoryStream() {
        if (dir_)
            ::closedir(dir_);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

bool isDotOrDotDot(const char* n) {
    return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0));
}

} // namespace

bool isExistingDirectory(const std::string& nativePath) {
    struct stat st {};
    return !nativePath.empty() && ::stat(nativePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const std::string& nativePath) {
    struct stat st {};
    return !nativePath.empty() && ::lstat(nativePath.c_str(), &st) == 0;
}

bool statRegularFile(const std::string& nativePath, int64_t& size, int64_t& mtimeSeconds) {
    struct stat st {};
    if (nativePath.empty() || ::lstat(nativePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = st.st_size;
    mtimeSeconds = st.st_mtim.tv_sec;
    return true;
}

bool forEachFile(const std::string& nativeDirectory,
                 const std::function<void(const FileEntry&)>& onFile) {
    DirectoryStream stream(nativeDirectory);
    if (!stream.get())
        return false;
    int fd = ::dirfd(stream.get());
    while (dirent* e = ::readdir(stream.get())) {
        if (isDotOrDotDot(e->d_name))
            continue;
        // The entry type saves a stat for directories, links and special files.
        if (e->d_type != DT_UNKNOWN && e->d_type != DT_REG)
            continue;
        struct stat st {};
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue; // vanished since the listing, or not a regular file
        FileEntry entry;
        entry.name = e->d_name;
        entry.size = st.st_size;
        entry.mtimeSeconds = st.st_mtim.tv_sec;
        onFile(entry);
    }
    return true;
}

bool forEachSubdirectory(const std::string& nativeDirectory,
                         const std::function<void(std::string_view name)>& onDirectory) {
    DirectoryStream stream(nativeDirectory);
    if (!stream.get())
        return false;
    int fd = ::dirfd(stream.get());
    while (dirent* e = ::readdir(stream.get())) {
        if (e->d_name[0] == '.') // ".", ".." and hidden directories
            continue;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
                continue;
        } else if (e->d_type != DT_DIR) {
            continue;
        }
        onDirectory(e->d_name);
    }
    return true;
}

int32_t localMinuteOf(int64_t mtimeSeconds) {
    time_t t = static_cast<time_t>(mtimeSeconds);
    struct tm local {};
    if (!::localtime_r(&t, &local))
        return 0;
    int64_t days = daysFromCivil(int64_t(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday);
    int64_t minutes = days * 1440 + local.tm_hour * 60 + local.tm_min;
    if (minutes > INT32_MAX || minutes < INT32_MIN)
        return 0;
    return static_cast<int32_t>(minutes);
}

void initialiseProcess() {
    // Without TZ glibc re-reads /etc/localtime at every conversion; naming the file once
    // lets it cache the zone.
    if (!std::getenv("TZ"))
        ::setenv("TZ", ":/etc/localtime", 1);
    ::tzset();
}

} // namespace fenwa::platform
