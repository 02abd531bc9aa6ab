// The practical floor of a metadata scan: readdir and one fstatat per entry, nothing
// else. Prints the number of regular files and their total size.
//
//     walk [--threads N] DIR
//
// With N threads the top directory is read first and its subdirectories are handed out
// one at a time to N threads, each walking its subtree as the one-thread walker does:
// the floor for a scan that uses N cores.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Totals {
    uint64_t files = 0;
    uint64_t bytes = 0;
};

bool dotOrDotDot(const char* n) {
    return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0));
}

// Walks the directory open as dirFd and closes it. With `subdirectories` set, the
// subdirectories' names are collected there instead of being walked.
void walk(int dirFd, Totals& totals, std::vector<std::string>* subdirectories = nullptr) {
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (dotOrDotDot(n))
            continue;
        struct stat st;
        if (::fstatat(dirFd, n, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(st.st_mode)) {
            ++totals.files;
            totals.bytes += uint64_t(st.st_size);
        } else if (S_ISDIR(st.st_mode)) {
            if (subdirectories) {
                subdirectories->push_back(n);
                continue;
            }
            const int child = ::openat(dirFd, n, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child >= 0)
                walk(child, totals);
        }
    }
    ::closedir(dir);
}

} // namespace

int main(int argc, char** argv) {
    int threads = 1;
    int arg = 1;
    if (argc == 4 && std::strcmp(argv[1], "--threads") == 0) {
        threads = std::atoi(argv[2]);
        arg = 3;
    }
    if (argc != arg + 1 || threads < 1) {
        std::fprintf(stderr, "usage: walk [--threads N] DIR\n");
        return 1;
    }
    const int fd = ::open(argv[arg], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[arg]);
        return 1;
    }
    Totals totals;
    if (threads == 1) {
        walk(fd, totals);
    } else {
        // The top stays open for the subtrees' openat; the listing uses a duplicate.
        std::vector<std::string> subdirectories;
        walk(::dup(fd), totals, &subdirectories);
        std::atomic<size_t> next = 0;
        std::vector<Totals> perThread(static_cast<size_t>(threads));
        const auto work = [&](Totals& mine) {
            for (size_t i = next++; i < subdirectories.size(); i = next++) {
                const int child =
                    ::openat(fd, subdirectories[i].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (child >= 0)
                    walk(child, mine);
            }
        };
        std::vector<std::thread> helpers;
        for (int i = 1; i < threads; ++i)
            helpers.emplace_back(work, std::ref(perThread[size_t(i)]));
        work(perThread[0]);
        for (std::thread& t : helpers)
            t.join();
        for (const Totals& t : perThread) {
            totals.files += t.files;
            totals.bytes += t.bytes;
        }
        ::close(fd);
    }
    std::printf("%llu files, %llu bytes\n", (unsigned long long)totals.files,
                (unsigned long long)totals.bytes);
    return 0;
}
