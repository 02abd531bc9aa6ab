// Replacing copies by hard links to the kept file: platform::replaceWithHardLink (its
// checks of both files, the temporary link, the exchange and the check after it) against
// the bare floor, a C loop of link() to a temporary name and rename() over the copy. Both
// work on identical fresh copies made before each timed pass, in folders of their own,
// in one process, alternately; the median of the rounds is printed for each, and the
// ratio.
//
//     fenwa-bench-replace DIR [COPIES] [ROUNDS]
//
// One line per contender: "<name> <median ms> <ratio to the floor>". Another act is one
// more entry in `contenders`.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "replacefile.h"

using namespace fenwa;

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
        std::perror(path.c_str());
        std::exit(1);
    }
    ::close(fd);
}

void removeTree(const std::string& dir) {
    const std::string command = "rm -rf '" + dir + "'";
    if (std::system(command.c_str()) != 0)
        std::exit(1);
}

// One folder of fresh copies, and what a plan would know of each.
struct Copies {
    std::string keeper;
    std::vector<std::string> paths;
    std::vector<platform::ExpectedFile> expected;
    platform::ExpectedFile keeperExpected;
};

Copies makeCopies(const std::string& dir, size_t count, const std::string& bytes) {
    removeTree(dir);
    ::mkdir(dir.c_str(), 0755);
    Copies c;
    c.keeper = dir + "/keeper.jpg";
    writeFile(c.keeper, bytes);
    platform::FileMeta meta;
    platform::readFileMeta(c.keeper, meta);
    c.keeperExpected = platform::ExpectedFile::of(meta);
    for (size_t i = 0; i < count; ++i) {
        c.paths.push_back(dir + "/IMG_" + std::to_string(i) + ".jpg");
        writeFile(c.paths.back(), bytes);
        platform::readFileMeta(c.paths.back(), meta);
        c.expected.push_back(platform::ExpectedFile::of(meta));
    }
    return c;
}

struct Contender {
    const char* name;
    // Replaces every copy; false when one failed.
    std::function<bool(const Copies&)> run;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [COPIES] [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const size_t count = argc > 2 ? size_t(std::atol(argv[2])) : 10'000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::string bytes(4096, 'p');
    ::mkdir(root.c_str(), 0755);

    const Contender contenders[] = {
        {"link+rename", // the floor: no checks at all
         [](const Copies& c) {
             for (const std::string& path : c.paths) {
                 const std::string tmp = path + ".tmp";
                 if (::link(c.keeper.c_str(), tmp.c_str()) != 0 ||
                     ::rename(tmp.c_str(), path.c_str()) != 0)
                     return false;
             }
             return true;
         }},
        {"replaceWithHardLink",
         [](const Copies& c) {
             for (size_t i = 0; i < c.paths.size(); ++i)
                 if (!platform::replaceWithHardLink(c.paths[i], c.expected[i], c.keeper,
                                                    c.keeperExpected)
                          .ok)
                     return false;
             return true;
         }},
    };
    const size_t n = std::size(contenders);
    std::vector<std::vector<double>> ms(n);
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < n; ++k) {
            // Alternate who goes first: the second pass may find warmer caches.
            const size_t who = round % 2 ? n - 1 - k : k;
            const std::string dir = root + "/" + std::to_string(who);
            const Copies copies = makeCopies(dir, count, bytes);
            ::sync();
            const auto start = std::chrono::steady_clock::now();
            const bool ok = contenders[who].run(copies);
            const auto end = std::chrono::steady_clock::now();
            if (!ok) {
                std::fprintf(stderr, "%s failed\n", contenders[who].name);
                return 1;
            }
            ms[who].push_back(std::chrono::duration<double, std::milli>(end - start).count());
            removeTree(dir);
        }
    }
    const double floor = median(ms[0]);
    for (size_t k = 0; k < n; ++k)
        std::printf("%s %.1f %.2f\n", contenders[k].name, median(ms[k]), median(ms[k]) / floor);
    return 0;
}
