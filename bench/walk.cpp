// The practical floor of a metadata scan: one thread, readdir and one fstatat per
// entry, nothing else. Prints the number of regular files and their total size.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint64_t files = 0;
uint64_t bytes = 0;

void walk(int dirFd) {
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        struct stat st;
        if (::fstatat(dirFd, n, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(st.st_mode)) {
            ++files;
            bytes += uint64_t(st.st_size);
        } else if (S_ISDIR(st.st_mode)) {
            const int child = ::openat(dirFd, n, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child >= 0)
                walk(child);
        }
    }
    ::closedir(dir);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: walk DIR\n");
        return 1;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    walk(fd);
    std::printf("%llu files, %llu bytes\n", (unsigned long long)files, (unsigned long long)bytes);
    return 0;
}
