// The floor of a content search's reading on a cold disk: the time to read, in one pass
// in the order of the disk, exactly the bytes a content search must read.
//
//   fenwa-bench-coldfloor plan TREE > PLAN
//       Decides what must be read, as the content check decides it: nothing of a file
//       whose size no other file has; the first and last 64 KiB of the others (the whole
//       file up to 128 KiB); the whole of a file whose size and ends another file shares.
//       Writes one line a file, "physical-offset inode length-to-read ranges path", in the
//       order of the disk (the physical offset of the file's first byte, from FIEMAP). This
//       reads the files: drop the page cache afterwards.
//   fenwa-bench-coldfloor read PLAN [--threads N] [--ahead MIB] [--order disk|inode]
//       Reads the plan's ranges once, in the order of the disk or of the inodes, on N
//       threads (1 by default) taking files in turn; with --ahead, one more thread opens the files
//       first and asks the system for their ranges (posix_fadvise WILLNEED) up to MIB ahead of the
//       readers. Prints the wall time, the bytes and the files.
//
// A plain C++ program over POSIX: the floor must not depend on the code it measures.

#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t Edge = 64 * 1024;

struct Entry {
    std::string path;
    int64_t size = 0;
    uint64_t inode = 0;
};
std::vector<Entry> g_entries;

int collect(const char* path, const struct stat* st, int type, FTW*) {
    if (type == FTW_F && S_ISREG(st->st_mode) && st->st_size > 0)
        g_entries.push_back({path, int64_t(st->st_size), uint64_t(st->st_ino)});
    return 0;
}

bool readRange(int fd, std::vector<char>& buffer, int64_t offset, int64_t length) {
    while (length > 0) {
        const size_t want = size_t(std::min<int64_t>(length, int64_t(buffer.size())));
        const ssize_t got = ::pread(fd, buffer.data(), want, offset);
        if (got <= 0)
            return false;
        offset += got;
        length -= got;
    }
    return true;
}

uint64_t hashEdges(const std::string& path, int64_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::vector<char> buffer(size_t(std::min<int64_t>(size, 2 * Edge)));
    bool ok;
    if (size <= 2 * Edge) {
        ok = ::pread(fd, buffer.data(), size_t(size), 0) == size;
    } else {
        ok = ::pread(fd, buffer.data(), size_t(Edge), 0) == Edge &&
             ::pread(fd, buffer.data() + Edge, size_t(Edge), size - Edge) == Edge;
    }
    ::close(fd);
    return ok ? XXH3_64bits(buffer.data(), buffer.size()) : 0;
}

uint64_t physicalOffset(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return UINT64_MAX;
    alignas(fiemap) char storage[sizeof(fiemap) + sizeof(fiemap_extent)] = {};
    auto* map = reinterpret_cast<fiemap*>(storage);
    map->fm_start = 0;
    map->fm_length = 1;
    map->fm_extent_count = 1;
    uint64_t at = UINT64_MAX;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) == 0 && map->fm_mapped_extents == 1)
        at = map->fm_extents[0].fe_physical;
    ::close(fd);
    return at;
}

int plan(const char* tree) {
    if (::nftw(tree, collect, 64, FTW_PHYS) != 0) {
        std::fprintf(stderr, "coldfloor: cannot walk %s\n", tree);
        return 1;
    }
    std::map<int64_t, std::vector<size_t>> bySize;
    for (size_t i = 0; i < g_entries.size(); ++i)
        bySize[g_entries[i].size].push_back(i);
    struct Line {
        uint64_t physical;
        int64_t bytes;
        bool whole;
        size_t entry;
    };
    std::vector<Line> lines;
    for (const auto& [size, members] : bySize) {
        if (members.size() < 2)
            continue;
        std::map<uint64_t, int> edges;
        std::vector<uint64_t> hash(members.size());
        for (size_t k = 0; k < members.size(); ++k)
            ++edges[hash[k] = hashEdges(g_entries[members[k]].path, size)];
        for (size_t k = 0; k < members.size(); ++k) {
            const bool whole = size <= 2 * Edge || edges[hash[k]] >= 2;
            lines.push_back({physicalOffset(g_entries[members[k]].path), whole ? size : 2 * Edge,
                             whole, members[k]});
        }
    }
    std::sort(lines.begin(), lines.end(),
              [](const Line& a, const Line& b) { return a.physical < b.physical; });
    int64_t total = 0;
    for (const Line& l : lines) {
        std::printf("%llu %llu %lld %s %s\n", static_cast<unsigned long long>(l.physical),
                    static_cast<unsigned long long>(g_entries[l.entry].inode),
                    static_cast<long long>(l.bytes), l.whole ? "whole" : "edges",
                    g_entries[l.entry].path.c_str());
        total += l.bytes;
    }
    std::fprintf(stderr, "coldfloor: %zu files to read, %.1f MiB\n", lines.size(),
                 double(total) / (1 << 20));
    return 0;
}

struct Job {
    std::string path;
    int64_t size = 0;
    bool whole = false;
    uint64_t inode = 0;
};

// The ranges of a job, (offset, length).
std::vector<std::pair<int64_t, int64_t>> rangesOf(const Job& job) {
    if (job.whole || job.size <= 2 * Edge)
        return {{0, job.size}};
    return {{0, Edge}, {job.size - Edge, Edge}};
}

int read(const char* planPath, unsigned threads, int64_t aheadBytes, bool inodeOrder) {
    std::vector<Job> jobs;
    {
        std::ifstream in(planPath);
        unsigned long long physical, inode;
        long long bytes;
        std::string kind, path;
        while (in >> physical >> inode >> bytes >> kind && std::getline(in >> std::ws, path)) {
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0)
                continue;
            jobs.push_back({path, int64_t(st.st_size), kind == "whole", uint64_t(inode)});
        }
    }
    if (inodeOrder)
        std::stable_sort(jobs.begin(), jobs.end(),
                         [](const Job& a, const Job& b) { return a.inode < b.inode; });
    const auto start = std::chrono::steady_clock::now();
    std::atomic<int64_t> bytesRead{0};
    std::vector<int> fds(jobs.size(), -1);
    std::vector<std::atomic<bool>> opened(jobs.size());
    std::atomic<size_t> next{0};
    std::atomic<int64_t> consumed{0}; // bytes the readers finished
    std::mutex m;
    std::condition_variable cv;
    std::thread opener;
    if (aheadBytes > 0) {
        opener = std::thread([&] {
            int64_t advised = 0;
            for (size_t i = 0; i < jobs.size(); ++i) {
                const int fd = ::open(jobs[i].path.c_str(), O_RDONLY | O_CLOEXEC);
                if (fd >= 0)
                    for (auto [offset, length] : rangesOf(jobs[i])) {
                        ::posix_fadvise(fd, offset, length, POSIX_FADV_WILLNEED);
                        advised += length;
                    }
                fds[i] = fd;
                {
                    std::lock_guard lock(m);
                    opened[i] = true;
                }
                cv.notify_all();
                while (advised - consumed.load() > aheadBytes)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    std::vector<std::thread> readers;
    for (unsigned t = 0; t < threads; ++t)
        readers.emplace_back([&] {
            std::vector<char> buffer(256 << 10);
            for (size_t i; (i = next++) < jobs.size();) {
                int fd;
                if (aheadBytes > 0) {
                    std::unique_lock lock(m);
                    cv.wait(lock, [&] { return opened[i].load(); });
                    fd = fds[i];
                } else {
                    fd = ::open(jobs[i].path.c_str(), O_RDONLY | O_CLOEXEC);
                }
                if (fd < 0)
                    continue;
                for (auto [offset, length] : rangesOf(jobs[i])) {
                    if (readRange(fd, buffer, offset, length))
                        bytesRead += length;
                    consumed += length;
                }
                ::close(fd);
            }
        });
    for (std::thread& t : readers)
        t.join();
    if (opener.joinable())
        opener.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f s  %.1f MiB  %zu files  (threads %u, ahead %lld MiB, %s order)\n", seconds,
                double(bytesRead.load()) / (1 << 20), jobs.size(), threads,
                static_cast<long long>(aheadBytes >> 20), inodeOrder ? "inode" : "disk");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "plan") == 0)
        return plan(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "read") == 0) {
        unsigned threads = 1;
        int64_t ahead = 0;
        bool inodeOrder = false;
        for (int i = 3; i + 1 < argc; i += 2) {
            if (std::strcmp(argv[i], "--threads") == 0)
                threads = unsigned(std::max(1L, std::strtol(argv[i + 1], nullptr, 10)));
            else if (std::strcmp(argv[i], "--ahead") == 0)
                ahead = std::strtoll(argv[i + 1], nullptr, 10) << 20;
            else if (std::strcmp(argv[i], "--order") == 0)
                inodeOrder = std::strcmp(argv[i + 1], "inode") == 0;
        }
        return read(argv[2], threads, ahead, inodeOrder);
    }
    std::fprintf(stderr, "usage: fenwa-bench-coldfloor plan TREE > PLAN\n"
                         "       fenwa-bench-coldfloor read PLAN [--threads N] [--ahead MIB] "
                         "[--order disk|inode]\n");
    return 2;
}
