#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "contentcheck.h"
#include "filesystem.h"
#include "grouping.h"
#include "progress.h"
#include "scanner.h"

using namespace fenwa;

namespace {

Criteria ticked(bool name, bool size, bool time, bool content) {
    return Criteria{name, size, time, content};
}

// A directory of test files, scanned as the window scans it.
class Tree {
public:
    Tree() { EXPECT_TRUE(tmp_.isValid()); }
    std::string path(const std::string& relative) const {
        return tmp_.path().toStdString() + "/" + relative;
    }
    void write(const std::string& relative, const std::string& bytes, time_t mtime = 0) const {
        const std::string p = path(relative);
        const size_t slash = relative.rfind('/');
        if (slash != std::string::npos)
            ::mkdir(path(relative.substr(0, slash)).c_str(), 0755);
        std::ofstream(p, std::ios::binary) << bytes;
        if (mtime != 0) {
            utimbuf t{mtime, mtime};
            ::utime(p.c_str(), &t);
        }
    }
    FileRecordStore scan() const {
        FileRecordStore store;
        ReadDirectory(tmp_.path().toStdString(), store, true);
        return store;
    }

private:
    QTemporaryDir tmp_;
};

// The groups of a search as the result list sees them: the rows copied out in order,
// then cut into runs by RowsMatch, each run as the set of its names.
std::vector<std::multiset<std::string>> groupsOf(FileRecordStore& hidden, const Criteria& criteria,
                                                 const ContentCheckOptions& options = {}) {
    const std::vector<uint32_t> order = FindDuplicates(hidden, criteria, options);
    FileRecordStore shown;
    shown.appendRows(hidden, order);
    std::vector<std::multiset<std::string>> groups;
    for (const GroupBounds& run : groupRuns(shown, criteria)) {
        std::multiset<std::string> names;
        for (size_t r = run.first; r <= run.last; ++r)
            names.insert(std::string(shown.name(r)));
        groups.push_back(names);
    }
    std::sort(groups.begin(), groups.end());
    return groups;
}

using Groups = std::vector<std::multiset<std::string>>;

std::string bytesWithChangeAt(size_t size, size_t at) {
    std::string s(size, 'x');
    if (at < size)
        s[at] = 'y';
    return s;
}

} // namespace

TEST(ContentCheck, EqualSizeWithDifferentBytesNeverGroups) {
    Tree tree;
    const size_t big = 3 * size_t(ContentEdgeBytes) + 7;
    tree.write("a", std::string(1000, 'x'));
    tree.write("b", std::string(1000, 'x'));
    tree.write("c", bytesWithChangeAt(1000, 500));
    tree.write("d", bytesWithChangeAt(big, big)); // no change
    tree.write("e", bytesWithChangeAt(big, big));
    // Differs only in the middle, beyond both hashed ends: only the whole hash tells.
    tree.write("f", bytesWithChangeAt(big, big / 2));
    tree.write("g", bytesWithChangeAt(big, big / 2));
    tree.write("h", bytesWithChangeAt(big, 0));
    tree.write("i", bytesWithChangeAt(big, big - 1));
    // Just over twice the edge: the ends overlap nothing and the middle byte is unread.
    const size_t justOver = 2 * size_t(ContentEdgeBytes) + 1;
    tree.write("j", bytesWithChangeAt(justOver, justOver));
    tree.write("k", bytesWithChangeAt(justOver, size_t(ContentEdgeBytes)));
    FileRecordStore hidden = tree.scan();

    EXPECT_EQ(groupsOf(hidden, ticked(false, false, false, true)),
              (Groups{{"a", "b"}, {"d", "e"}, {"f", "g"}}));
    EXPECT_EQ(groupsOf(hidden, ticked(false, true, false, true)),
              (Groups{{"a", "b"}, {"d", "e"}, {"f", "g"}}));
    // Rows never content-checked (as Find All lists them) match nothing on Content.
    const FileRecordStore listed = tree.scan();
    EXPECT_EQ(listed.contentHash(0), nullptr);
    EXPECT_FALSE(RowsMatch(listed, 0, 0, ticked(false, false, false, true)));
}

TEST(ContentCheck, IdenticalBytesGroupWhateverTheirNamesAndTimes) {
    Tree tree;
    tree.write("one/photo.jpg", "same bytes", 1000000000);
    tree.write("two/copy of photo.JPG", "same bytes", 1200000000);
    tree.write("two/PHOTO.jpg", "same bytes", 1300000000);
    tree.write("three/photo.jpg", "other byte", 1000000000);
    tree.write("three/empty1", "");
    tree.write("three/empty2", "", 1100000000);
    FileRecordStore hidden = tree.scan();

    EXPECT_EQ(groupsOf(hidden, ticked(false, false, false, true)),
              (Groups{{"PHOTO.jpg", "copy of photo.JPG", "photo.jpg"}, {"empty1", "empty2"}}));
    // With Name as well both must agree: the copy under another name and the file of
    // the same name with other bytes drop out.
    EXPECT_EQ(groupsOf(hidden, ticked(true, false, false, true)),
              (Groups{{"PHOTO.jpg", "photo.jpg"}}));
}

TEST(ContentCheck, SplitGroupsStayRunsInTheOrderTheirRowsHad) {
    Tree tree;
    // Read in the order 0 a, 1 b, 2 c, 3 d; by size alone they form one group laid out
    // as b, c, d, a (members in key order, leader last).
    tree.write("a", "AAAA");
    tree.write("b", "BBBB");
    tree.write("c", "AAAA");
    tree.write("d", "BBBB");
    tree.write("e", "CCCCC");
    tree.write("f", "CCCCC");
    // Listed in this order, as a scan of a directory that reads them so would.
    FileRecordStore hidden;
    const uint32_t dir = hidden.internDirectory(tree.path(""));
    for (const char* name : {"a", "b", "c", "d", "e", "f"})
        hidden.append(dir, name, name[0] < 'e' ? 4 : 5, 0);

    const std::vector<uint32_t> bySize =
        FindDuplicateRows(hidden, ticked(false, true, false, false));
    ASSERT_EQ(bySize, (std::vector<uint32_t>{1, 2, 3, 0, 5, 4}));
    // b's content first (b, d), then a's (c, a); the group of equal files is unchanged.
    EXPECT_EQ(FindDuplicates(hidden, ticked(false, true, false, true)),
              (std::vector<uint32_t>{1, 3, 2, 0, 5, 4}));

    // The stored hashes follow their rows through sorting and deletion.
    FileRecordStore shown;
    shown.appendRows(hidden, FindDuplicates(hidden, ticked(false, false, false, true)));
    shown.permute(sortedOrder(shown, 0)); // by name: a b c d e f
    const Criteria content = ticked(false, false, false, true);
    EXPECT_TRUE(RowsMatch(shown, 0, 2, content));  // a, c
    EXPECT_FALSE(RowsMatch(shown, 0, 1, content)); // a, b
    shown.removeRows({true, false, false, false, false, false});
    EXPECT_TRUE(RowsMatch(shown, 0, 2, content));  // b, d
    EXPECT_FALSE(RowsMatch(shown, 1, 2, content)); // c, d
}

TEST(ContentCheck, FilesThatCannotBeReadAreLeftOutAndTheRestGoesOn) {
    Tree tree;
    tree.write("gone", "12345678");
    tree.write("stays1", "12345678");
    tree.write("stays2", "12345678");
    tree.write("grows1", "abcdefgh");
    tree.write("grows2", "abcdefgh");
    tree.write("locked1", "ABCDEFGH!");
    tree.write("locked2", "ABCDEFGH!");
    FileRecordStore hidden = tree.scan();
    ::unlink(tree.path("gone").c_str());
    // Rewritten since it was listed: same first bytes, more of them.
    tree.write("grows2", "abcdefgh and more");
    const bool canLock = ::geteuid() != 0; // root reads through any permission
    if (canLock)
        ::chmod(tree.path("locked2").c_str(), 0);

    Groups expected{{"stays1", "stays2"}};
    if (!canLock)
        expected.push_back({"locked1", "locked2"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(groupsOf(hidden, ticked(false, false, false, true)), expected);
    ContentHash h;
    bool whole = false;
    EXPECT_FALSE(hashFileEdges(tree.path("gone"), 8, h, whole));
    EXPECT_FALSE(hashWholeFile(tree.path("grows2"), 8, h));
    EXPECT_FALSE(hashWholeFile(tree.path("."), 0, h)); // a directory is no file
}

TEST(ContentCheck, CancellingStopsTheReadersAndALaterSearchIsWhole) {
    Tree tree;
    const std::string big = bytesWithChangeAt(4 * size_t(ContentEdgeBytes), 0);
    for (int i = 0; i < 40; ++i)
        tree.write("f" + std::to_string(i), big);
    FileRecordStore hidden = tree.scan();

    for (unsigned threads : {1u, 3u}) {
        ContentCheckOptions options;
        options.threads = threads;
        std::atomic<bool> stop{false};
        options.stop = &stop;
        bool reading = false;
        options.beforeReading = [&] { reading = true; };
        // Raised once files are being read, as another thread would raise it: the whole
        // files are then never read, so no group comes out.
        options.progress = [&](size_t, size_t) {
            if (reading)
                stop = true;
        };
        EXPECT_TRUE(FindDuplicates(hidden, ticked(false, false, false, true), options).empty());
    }
    // Nothing of the cancelled searches is left behind.
    Groups all(1);
    for (int i = 0; i < 40; ++i)
        all[0].insert("f" + std::to_string(i));
    EXPECT_EQ(groupsOf(hidden, ticked(false, false, false, true)), all);
}

namespace {

// Pages of [from, to) of a file that are in the page cache.
size_t residentPages(const std::string& path, size_t from, size_t to) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st {};
    ::fstat(fd, &st);
    void* map = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> in((size_t(st.st_size) + page - 1) / page);
    ::mincore(map, size_t(st.st_size), in.data());
    ::munmap(map, size_t(st.st_size));
    size_t count = 0;
    for (size_t p = from / page; p < (to + page - 1) / page && p < in.size(); ++p)
        count += in[p] & 1;
    return count;
}

} // namespace

TEST(ContentCheck, ReadingTheEndsLeavesTheMiddleOnTheDisk) {
    Tree tree;
    const size_t size = 8 << 20;
    tree.write("photo", bytesWithChangeAt(size, size / 2));
    const std::string path = tree.path("photo");
    {
        const int fd = ::open(path.c_str(), O_RDONLY);
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    if (residentPages(path, 0, size) != 0)
        GTEST_SKIP() << "this file system keeps the file in memory (tmpfs?): nothing to measure";
    ContentHash h;
    bool whole = true;
    ASSERT_TRUE(hashFileEdges(path, int64_t(size), h, whole));
    EXPECT_FALSE(whole);
    // Most files are told apart by their ends: what lies between them is read only when
    // the ends agree, so no read-ahead may fetch it now.
    const size_t edge = size_t(ContentEdgeBytes);
    EXPECT_LT(residentPages(path, edge, size - edge), 4u);
    EXPECT_GT(residentPages(path, 0, edge), 0u);
}

namespace {

// Keeps what the check stores, in the order it stores it, and answers lookups from it.
class RecordingCache : public ContentHashCache {
public:
    std::vector<std::optional<KeptContentHashes>>
    lookupContents(const std::vector<FileStamp>& stamps) override {
        std::vector<std::optional<KeptContentHashes>> out;
        for (const FileStamp& s : stamps) {
            const auto it = kept.find(s.inode);
            out.push_back(it == kept.end() ? std::nullopt : std::optional(it->second));
        }
        return out;
    }
    void storeContent(const FileStamp& stamp, const KeptContentHashes& hashes) override {
        std::lock_guard lock(mutex);
        stored.push_back(hashes.whole.has_value());
        kept[stamp.inode] = hashes;
    }
    int settleSeconds() const override { return 0; }

    std::mutex mutex;
    std::vector<bool> stored; // per store: whether it held the whole file's hash
    std::map<uint64_t, KeptContentHashes> kept;
};

} // namespace

TEST(ContentCheck, AClassIsReadWholeOnceItsEndsAreKnownNotAfterEveryEnd) {
    Tree tree;
    const size_t big = 3 * size_t(ContentEdgeBytes);
    tree.write("a1", bytesWithChangeAt(big, big));
    tree.write("a2", bytesWithChangeAt(big, big));
    tree.write("b1", bytesWithChangeAt(big + 1, big / 2));
    tree.write("b2", bytesWithChangeAt(big + 1, big / 2));
    tree.write("b3", bytesWithChangeAt(big + 1, big / 3)); // the same ends, another middle
    if (!platform::changeTimeTrusted(tree.path("")))
        GTEST_SKIP() << "nothing is kept in a hash cache on this file system";
    FileRecordStore hidden = tree.scan();
    const Groups expected{{"a1", "a2"}, {"b1", "b2"}};

    RecordingCache cache;
    ContentCheckOptions options;
    options.cache = &cache;
    options.threads = 1; // one reader: the order of the stores is the order of the reads
    ASSERT_EQ(groupsOf(hidden, ticked(false, false, false, true), options), expected);
    ASSERT_EQ(cache.stored.size(), 5u + 5u) << "every file's ends, then its whole";
    // The first class is decided while the other's ends are still to be read: its whole
    // files are read then, not after the last ends.
    const auto firstWhole = std::find(cache.stored.begin(), cache.stored.end(), true);
    const auto lastEnds = std::find(cache.stored.rbegin(), cache.stored.rend(), false).base() - 1;
    EXPECT_LT(firstWhole, lastEnds);

    // A cache that knows only the ends decides every class before a file is opened; the
    // whole files must still be read, on any number of readers.
    for (unsigned threads : {1u, 8u}) {
        for (auto& [inode, hashes] : cache.kept)
            hashes.whole.reset();
        options.threads = threads;
        EXPECT_EQ(groupsOf(hidden, ticked(false, false, false, true), options), expected);
    }
}
