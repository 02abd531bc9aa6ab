// Makes a deterministic test tree for the benchmarks: N empty-but-sized (sparse) files
// spread over a two-level directory tree, with mixed-case and non-ASCII names, about
// 30% of the files sharing a size with another, names repeating across directories and
// a handful of distinct modification minutes. The same N always gives the same tree.
//
// With --real, MIB is the tree's size in MiB and every file holds real bytes, so the
// content check has to tell files apart: many small files sharing sizes with different
// contents (a tenth are copies), pairs of medium files that differ only beyond their
// first and last 64 KiB or in one middle byte or not at all, and a few large files
// (a pair of copies and one that differs from them in one middle byte).

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <tuple>
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

// Writes `size` bytes made by `fill` (which fills a buffer from an offset) to a new file.
template <class Fill> void writeFile(const std::string& path, int64_t size, Fill fill) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "gentree: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
    static std::vector<uint64_t> buffer(1 << 17); // 1 MiB
    for (int64_t at = 0; at < size;) {
        const size_t n = size_t(std::min<int64_t>(int64_t(buffer.size() * 8), size - at));
        fill(reinterpret_cast<unsigned char*>(buffer.data()), at, n);
        if (::write(fd, buffer.data(), n) != ssize_t(n)) {
            std::fprintf(stderr, "gentree: cannot write %s\n", path.c_str());
            std::exit(1);
        }
        at += int64_t(n);
    }
    ::close(fd);
}

// Bytes that depend only on a seed and the offset, so two files of one seed are equal.
void seeded(uint64_t seed, unsigned char* out, int64_t at, size_t n) {
    Rng rng{(seed + uint64_t(at) / 8) * 0x9E3779B97F4A7C15ull | 1};
    for (size_t i = 0; i < n; i += 8) {
        const uint64_t v = rng.next();
        std::memcpy(out + i, &v, std::min<size_t>(8, n - i));
    }
}

int makeRealTree(const std::string& root, long mib) {
    for (const char* part : {"", "/small", "/medium", "/large"})
        makeDirectory(root + part);
    Rng rng{0xC0FFEE1234567ull};
    uint64_t seeds = 1;
    long made = 0;
    char name[256];
    const auto file = [&](const std::string& dir, const char* stem, long i, int64_t size,
                          uint64_t seed, int64_t flipAt = -1) {
        makeDirectory(dir);
        std::snprintf(name, sizeof name, "/%s%06ld.bin", stem, i);
        writeFile(dir + name, size, [&](unsigned char* out, int64_t at, size_t n) {
            seeded(seed, out, at, n);
            if (flipAt >= at && flipAt < at + int64_t(n))
                out[flipAt - at] ^= 0x5A;
        });
        ++made;
    };
    // Small files: sizes from a pool so each is shared by about ten files.
    const long small = mib * 12;
    const int64_t pool = std::max<long>(1, small / 10);
    std::vector<std::pair<int64_t, uint64_t>> kept; // (size, seed) of earlier small files
    for (long i = 0; i < small; ++i) {
        const int64_t size = 512 + int64_t(rng.below(uint64_t(pool))) * 32768 / pool;
        uint64_t seed = seeds++;
        int64_t fileSize = size;
        if (!kept.empty() && rng.below(10) == 0) { // a copy of an earlier file
            std::tie(fileSize, seed) = kept[rng.below(kept.size())];
        }
        kept.emplace_back(fileSize, seed);
        std::snprintf(name, sizeof name, "/small/%03ld", i / 500);
        file(root + name, "s", i, fileSize, seed);
    }
    // Medium pairs (256 KiB to 4 MiB): differing beyond the edges, in one byte, or not.
    const long pairs = std::max<long>(1, mib / 26);
    for (long i = 0; i < pairs; ++i) {
        const int64_t size = (256 << 10) + int64_t(rng.below(15 << 18));
        const uint64_t seed = seeds++;
        std::snprintf(name, sizeof name, "/medium/%03ld", i / 50);
        const std::string dir = root + name;
        file(dir, "copy-a", i, size, seed);
        file(dir, "copy-b", i, size, seed);
        // Equal ends, different middles: only the whole-file hash tells them apart.
        const uint64_t middle = seeds++;
        for (const char* stem : {"ends-a", "ends-b"}) {
            const uint64_t own = stem[5] == 'a' ? middle : seeds++;
            makeDirectory(dir);
            std::snprintf(name, sizeof name, "/%s%06ld.bin", stem, i);
            writeFile(dir + name, size, [&](unsigned char* out, int64_t at, size_t n) {
                for (size_t k = 0; k < n; k += 8) {
                    const int64_t o = at + int64_t(k);
                    const bool edge = o < 65536 || o >= size - 65536 - 8;
                    unsigned char word[8];
                    seeded(edge ? seed : own, word, o, 8);
                    std::memcpy(out + k, word, std::min<size_t>(8, n - k));
                }
            });
            ++made;
        }
        file(dir, "byte-a", i, size, seeds);
        file(dir, "byte-b", i, size, seeds++, size / 2);
    }
    // Large files: two copies and one that differs in a middle byte.
    const int64_t large = int64_t(mib) * 118 / 1000 << 20;
    const uint64_t seed = seeds++;
    file(root + "/large", "large-a", 0, large, seed);
    file(root + "/large", "large-b", 0, large, seed);
    file(root + "/large", "large-c", 0, large, seed, large / 2);
    std::printf("%ld files\n", made);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[3], "--real") == 0)
        return makeRealTree(argv[1], std::strtol(argv[2], nullptr, 10));
    const bool flat = argc == 4 && std::strcmp(argv[3], "--flat") == 0;
    if (argc != 3 && !flat) {
        std::fprintf(stderr, "usage: gentree DIR FILES [--flat] | gentree DIR MIB --real\n");
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
