// Makes a deterministic test tree for the benchmarks: N empty-but-sized (sparse) files
// spread over a two-level directory tree, with mixed-case and non-ASCII names, about
// 30% of the files sharing a size with another, names repeating across directories and
// a handful of distinct modification minutes. The same N always gives the same tree.

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A small fixed generator, so the tree does not depend on the C library's rand().
struct Rng {
    uint64_t s;
    uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    uint64_t below(uint64_t n) { return next() % n; }
};

void makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "gentree: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
}

const char* const DirectoryStems[] = {"Photos", "相片",    "Urlaub",   "Été",  "backup",
                                      "IMG",    "Каталог", "家族旅行", "misc", "Scans"};
const char* const NameStems[] = {"IMG_", "img_", "DSC", "Foto ", "照片_", "Résumé-", "scan", "Ånd"};
const char* const Extensions[] = {".JPG", ".jpg", ".jpeg", ".gif", ".png", ".txt", ".GIF", ".bmp"};

} // namespace

int main(int argc, char** argv) {
    const bool flat = argc == 4 && std::strcmp(argv[3], "--flat") == 0;
    if (argc != 3 && !flat) {
        std::fprintf(stderr, "usage: gentree DIR FILES [--flat]\n");
        return 1;
    }
    const std::string root = argv[1];
    const long files = std::strtol(argv[2], nullptr, 10);
    constexpr long FilesPerDirectory = 100;
    const long leaves = (files + FilesPerDirectory - 1) / FilesPerDirectory;
    long tops = 1;
    while (tops * tops < leaves)
        ++tops;
    makeDirectory(root);

    // A handful of minutes in 2019, seconds varying within each.
    const int64_t base = 1546300800; // 2019-01-01 00:00:00 UTC
    const int64_t minutes[] = {0, 1, 60, 1440, 1441, 20000, 300000};
    // Sizes shared by about 30% of the files: a pool small enough that each is reused.
    constexpr uint64_t SharedSizes = 20000;
    constexpr long NamePool = 5000;

    Rng rng{0x9E3779B97F4A7C15ull};
    long made = 0;
    char name[256];
    // Every file directly in DIR: one directory of FILES entries, names all distinct.
    const auto makeFile = [&](const std::string& path) {
        const uint64_t sizeDraw = rng.next();
        const int64_t size = sizeDraw % 100 < 30
                                 ? int64_t(1000 + (sizeDraw >> 8) % SharedSizes)
                                 : int64_t(100000 + (sizeDraw >> 8) % 4000000000ull);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::ftruncate(fd, size) != 0) {
            std::fprintf(stderr, "gentree: cannot create %s: %s\n", path.c_str(),
                         std::strerror(errno));
            std::exit(1);
        }
        const int64_t when = base + minutes[rng.below(sizeof minutes / sizeof *minutes)] * 60 +
                             int64_t(rng.below(60));
        const struct timespec times[2] = {{when, 0}, {when, 0}};
        ::futimens(fd, times);
        ::close(fd);
    };
    if (flat) {
        for (; made < files; ++made) {
            const uint64_t r = rng.next();
            std::snprintf(name, sizeof name, "/%s%07ld-%04" PRIx64 "%s", NameStems[(r >> 8) % 8],
                          made, (r >> 16) & 0xffff, Extensions[(r >> 24) % 8]);
            makeFile(root + name);
        }
        std::printf("%ld files\n", made);
        return 0;
    }
    for (long top = 0; top < tops && made < files; ++top) {
        std::snprintf(name, sizeof name, "/%s %03ld", DirectoryStems[top % 10], top);
        const std::string topDir = root + name;
        makeDirectory(topDir);
        for (long leaf = 0; leaf < tops && made < files; ++leaf) {
            std::snprintf(name, sizeof name, "/%s%04ld", leaf % 3 ? "sub" : "Sub", leaf);
            const std::string dir = topDir + name;
            makeDirectory(dir);
            const long dirIndex = top * tops + leaf;
            for (long i = 0; i < FilesPerDirectory && made < files; ++i, ++made) {
                const uint64_t r = rng.next();
                if (r % 5 == 0) {
                    // A name from a pool that repeats across directories; the index
                    // walks the pool, so names within a directory stay distinct.
                    const long k = (dirIndex * 37 + i) % NamePool;
                    std::snprintf(name, sizeof name, "/%s%05ld%s", NameStems[k % 8], k,
                                  Extensions[k % 8]);
                } else {
                    std::snprintf(name, sizeof name, "/%s%07ld-%04" PRIx64 "%s",
                                  NameStems[(r >> 8) % 8], made, (r >> 16) & 0xffff,
                                  Extensions[(r >> 24) % 8]);
                }
                makeFile(dir + name);
            }
        }
    }
    std::printf("%ld files\n", made);
    return 0;
}
