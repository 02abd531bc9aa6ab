// Replacing copies by hard links, as fenwa-cli --act hardlink does, against the floor of
// the system calls themselves. From a tree of bench/gentree, N files (the small ones, in
// walk order) each get a kept copy and a copy of the same size (sparse, so of equal
// bytes) under WORK, which the tree itself never is. Measured, median of five rounds
// (FENWA_BENCH_ROUNDS), each round on copies made afresh:
//   dry run  - the plan (every file and its kept copy read whole) and its lines;
//   act      - the plan, the carry-out and the journal, as fenwa-cli --act --yes;
//   carry-out- the carry-out and the journal alone, the plan made before: the act itself;
//   C loop   - link(kept, temporary) + rename(temporary, copy) for each file;
//   hashing  - both files of every pair hashed whole, as the plan proves equal bytes;
//   reading  - both files of every pair read whole into a buffer, nothing else: the
//              floor of the hashing.
// With --real the files hold real bytes (a pattern of their own, the same in both), as
// photos do, so replacing a copy frees its blocks.
// Usage: fenwa-bench-acts TREE WORK [N] [--real]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "carryout.h"
#include "deleteplanner.h"
#include "scanner.h"
#include "undo.h"
#include "undojournal.h"

using namespace fenwa;
using Clock = std::chrono::steady_clock;

namespace {

struct NoQuestions : platform::ShellPrompts {
    bool askYesNo(const std::string&) override { return true; }
    void reportError(const std::string& text) override { std::fputs(text.c_str(), stderr); }
};

struct Pair {
    std::string keep, copy;
    int64_t size;
};

bool realBytes = false;

void makeFile(const std::string& path, int64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string bytes;
    if (realBytes) {
        bytes.resize(size_t(size));
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 131 + size_t(size)) >> 3);
    }
    if (fd < 0 || (realBytes ? ::write(fd, bytes.data(), bytes.size()) != ssize_t(size)
                             : ::ftruncate(fd, size) != 0)) {
        std::fprintf(stderr, "cannot make %s\n", path.c_str());
        std::exit(1);
    }
    ::close(fd);
}

// The files afresh: kept copies and copies, 100 to a directory.
std::vector<Pair> makeCopies(const std::string& work, const std::vector<int64_t>& sizes) {
    std::filesystem::remove_all(work + "/acts");
    std::vector<Pair> pairs;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string d = "/" + std::to_string(i / 100);
        if (i % 100 == 0) {
            std::filesystem::create_directories(work + "/acts/keep" + d);
            std::filesystem::create_directories(work + "/acts/copy" + d);
        }
        const std::string name = "/f" + std::to_string(i) + ".bin";
        pairs.push_back({work + "/acts/keep" + d + name, work + "/acts/copy" + d + name, sizes[i]});
        makeFile(pairs.back().keep, sizes[i]);
        makeFile(pairs.back().copy, sizes[i]);
    }
    ::sync();
    return pairs;
}

// The list a search would have made: each kept copy and its copy one group.
FileRecordStore listOf(const std::vector<Pair>& pairs) {
    FileRecordStore rows;
    uint32_t group = 0;
    for (const Pair& p : pairs) {
        ++group;
        for (const std::string* path : {&p.keep, &p.copy}) {
            platform::FileState now;
            platform::statFileNow(*path, now);
            const size_t slash = path->rfind('/');
            rows.append(rows.internDirectory(path->substr(0, slash), now.identity.device),
                        path->substr(slash + 1), now.size,
                        platform::localMinuteOf(now.mtimeSeconds), now.identity.inode,
                        now.changeStamp);
            rows.setGroup(rows.size() - 1, group);
        }
    }
    return rows;
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Both files of every pair read whole, as plainly as the system allows: the floor of the
// hashing. Answers the bytes read, so that nothing is optimised away.
uint64_t readAll(const std::vector<Pair>& pairs) {
    std::vector<char> buffer(size_t(1) << 18);
    uint64_t total = 0;
    for (const Pair& p : pairs)
        for (const std::string* path : {&p.keep, &p.copy}) {
            const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
            for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer.data(), buffer.size())) > 0;)
                total += uint64_t(got);
            if (fd >= 0)
                ::close(fd);
        }
    return total;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: fenwa-bench-acts TREE WORK [N] [--real]\n");
        return 1;
    }
    const std::string tree = argv[1], work = argv[2];
    const size_t wanted = argc > 3 ? size_t(std::atol(argv[3])) : 10000;
    realBytes = argc > 4 && std::string(argv[4]) == "--real";
    platform::initialiseProcess();
    FileRecordStore found;
    ReadDirectory(tree, found, true);
    std::vector<int64_t> sizes;
    for (size_t r = 0; r < found.size() && sizes.size() < wanted; ++r)
        if (found.fileSize(r) > 0 && found.fileSize(r) <= 64 * 1024)
            sizes.push_back(found.fileSize(r));
    std::fprintf(stderr, "%zu copies of files of %s\n", sizes.size(), tree.c_str());

    std::vector<double> dry, act, carry, journalled, loop, hashing, reading;
    const char* roundsText = std::getenv("FENWA_BENCH_ROUNDS");
    const int rounds = roundsText ? std::max(1, std::atoi(roundsText)) : 5;
    for (int round = 0; round < rounds; ++round) {
        // The dry run and the whole act on the same copies: the dry run changes nothing.
        std::vector<Pair> pairs = makeCopies(work, sizes);
        FileRecordStore rows = listOf(pairs);
        // The proof of equal bytes on its own, and its floor, alternating which goes first.
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0) {
                const auto started = Clock::now();
                ContentHash hash;
                for (const Pair& p : pairs)
                    if (!actions::hashFileNow(p.keep, p.size, hash) ||
                        !actions::hashFileNow(p.copy, p.size, hash))
                        return 1;
                hashing.push_back(seconds(started));
            } else {
                const auto started = Clock::now();
                if (readAll(pairs) == uint64_t(-1))
                    return 1;
                reading.push_back(seconds(started));
            }
        }
        actions::DeleteRequest request{{}, true, {}};
        request.act = actions::ActKind::HardLink;
        for (size_t r = 1; r < rows.size(); r += 2)
            request.rows.push_back(r);
        std::FILE* devnull = std::fopen("/dev/null", "w");
        auto start = Clock::now();
        {
            const actions::DeletePlan plan =
                actions::PlanDelete(rows, request, actions::probeDisk, actions::hashFileNow);
            for (size_t row : plan.remove)
                std::fprintf(devnull, "%s\n",
                             actions::describeAct(rows, plan, request, row, false).c_str());
            std::fprintf(devnull, "%lld\n", (long long)actions::bytesFreed(rows, plan));
        }
        dry.push_back(seconds(start));
        std::fclose(devnull);

        const QString journalPath = QString::fromStdString(work + "/journal.json");
        std::filesystem::remove(work + "/journal.json");
        NoQuestions prompts;
        start = Clock::now();
        {
            const actions::DeletePlan plan =
                actions::PlanDelete(rows, request, actions::probeDisk, actions::hashFileNow);
            const auto carried = Clock::now();
            actions::ActOutcome outcome =
                actions::CarryOutAct(rows, plan, request, platform::FOF_NOCONFIRMATION, prompts,
                                     actions::probeDisk, actions::hashFileNow);
            const auto journalling = Clock::now();
            std::vector<bool> leaving(rows.size(), false);
            size_t done = 0;
            for (const actions::RowActed& a : outcome.acted)
                if (a.status == actions::ActStatus::Done)
                    leaving[a.row] = true, ++done;
            actions::UndoJournal journal(journalPath);
            if (!outcome.journal ||
                !journal.push(
                    actions::actActionFor(rows, std::move(*outcome.journal), leaving, 1)) ||
                done != pairs.size()) {
                std::fprintf(stderr, "the act did %zu of %zu\n", done, pairs.size());
                return 1;
            }
            carry.push_back(seconds(carried));
            journalled.push_back(seconds(journalling));
        }
        act.push_back(seconds(start));

        // The floor: the two calls a replacement by a hard link cannot do without.
        pairs = makeCopies(work, sizes);
        start = Clock::now();
        for (const Pair& p : pairs) {
            const std::string temporary = p.copy.substr(0, p.copy.rfind('/')) + "/.tmp";
            if (::link(p.keep.c_str(), temporary.c_str()) != 0 ||
                ::rename(temporary.c_str(), p.copy.c_str()) != 0) {
                std::perror("link/rename");
                return 1;
            }
        }
        loop.push_back(seconds(start));
    }
    std::filesystem::remove_all(work + "/acts");
    std::filesystem::remove(work + "/journal.json");
    const double floor = median(loop);
    std::printf("files\t%zu\n", sizes.size());
    std::printf("dry run\t%.3f s\n", median(dry));
    std::printf("act (plan, carry-out, journal)\t%.3f s\t%.2fx the loop\n", median(act),
                median(act) / floor);
    std::printf("carry-out and journal\t%.3f s\t%.2fx the loop\n", median(carry),
                median(carry) / floor);
    std::printf("of which the journal\t%.3f s\n", median(journalled));
    std::printf("C loop link+rename\t%.3f s\n", floor);
    std::printf("hashing both files of each pair\t%.3f s\t%.2fx the reading\n", median(hashing),
                median(hashing) / median(reading));
    std::printf("reading both files of each pair\t%.3f s\n", median(reading));
    return 0;
}
