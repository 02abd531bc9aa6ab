// The content check alone, without the program's start: scans TREE as a search does,
// then splits it by content (an empty hash cache: every file that must be read is), and
// prints the wall times of the scan and the check, the groups, and a digest of the rows
// in their order with their hashes, so that two builds can be compared byte for byte.
//
//   fenwa-bench-contentcheck TREE [--threads N] [--rounds R]
//
// Every round scans and checks anew; drop the page cache between runs for a cold one.

#include <xxhash.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "contentcheck.h"
#include "resultlist.h"
#include "scanner.h"

using namespace fenwa;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fenwa-bench-contentcheck TREE [--threads N] [--rounds R]\n");
        return 2;
    }
    unsigned threads = 0;
    int rounds = 1;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--threads") == 0)
            threads = unsigned(std::strtoul(argv[i + 1], nullptr, 10));
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
    }
    using Clock = std::chrono::steady_clock;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        FileRecordStore hidden;
        ReadDirectory(argv[1], hidden, true);
        const auto scanned = Clock::now();
        ContentCheckOptions options;
        options.threads = threads;
        Criteria content;
        content.content = true;
        const std::vector<uint32_t> order = FindDuplicates(hidden, content, options);
        const auto checked = Clock::now();

        XXH3_state_t* digest = XXH3_createState();
        XXH3_64bits_reset(digest);
        size_t groups = 0;
        const ContentHash* last = nullptr;
        for (uint32_t row : order) {
            const ContentHash* hash = hidden.contentHash(row);
            if (!last || !hash || hash->low != last->low || hash->high != last->high)
                ++groups;
            last = hash;
            const std::string path = hidden.fullPath(row);
            XXH3_64bits_update(digest, path.data(), path.size() + 1);
            if (hash)
                XXH3_64bits_update(digest, hash, sizeof *hash);
        }
        const auto seconds = [](Clock::duration d) {
            return std::chrono::duration<double>(d).count();
        };
        std::printf("scan %.3f s  check %.3f s  files %zu  groups %zu  rows %zu  digest %016llx\n",
                    seconds(scanned - start), seconds(checked - scanned), hidden.size(), groups,
                    order.size(), static_cast<unsigned long long>(XXH3_64bits_digest(digest)));
        XXH3_freeState(digest);
    }
    return 0;
}
