#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QTemporaryDir>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

#include "scanner.h"

using namespace fenwa;

namespace {

void makeFile(const std::string& path, size_t bytes = 0) {
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

void makeDir(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}

class Scanner : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path().toStdString();
    }
    QTemporaryDir tmp;
    std::string root;
};

} // namespace

TEST_F(Scanner, DirectoriesInPreOrderWithSiblingsSortedIgnoringCase) {
    for (const char* d :
         {"/b", "/b/z", "/b/Y", "/A", "/c", "/c/.hidden", "/c/.hidden/deep", "/A/1"})
        makeDir(root + d);
    std::vector<std::string> list;
    EXPECT_EQ(CollectDirectories(root + "/", list), 7u);
    std::vector<std::string> expected;
    for (const char* d : {"", "/A", "/A/1", "/b", "/b/Y", "/b/z", "/c"})
        expected.push_back(root + d);
    EXPECT_EQ(list, expected);
}

TEST_F(Scanner, ListSubdirectoriesKeepsTheListSorted) {
    for (const char* d : {"/m", "/K", "/a"})
        makeDir(root + d);
    std::vector<std::string> list{root + "/L"};
    EXPECT_EQ(ListSubdirectories(root, list), 3u);
    EXPECT_EQ(list, (std::vector<std::string>{root + "/a", root + "/K", root + "/L", root + "/m"}));
}

TEST_F(Scanner, RecordsCarryNameDirectorySizeTypeTimeAndIcon) {
    makeFile(root + "/photo.jpg", 1000);
    makeFile(root + "/.profile", 3);
    makeFile(root + "/archive.tar.gz");
    makeFile(root + "/README", 5);
    makeDir(root + "/.hidden");
    makeFile(root + "/.hidden/inside.jpg");

    // 13:05:59 local time shows minute 05.
    std::tm local{};
    local.tm_year = 2021 - 1900;
    local.tm_mon = 6;
    local.tm_mday = 4;
    local.tm_hour = 13;
    local.tm_min = 5;
    local.tm_sec = 59;
    local.tm_isdst = -1;
    timeval times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
    ASSERT_EQ(::utimes((root + "/photo.jpg").c_str(), times), 0);

    FileRecordStore store;
    EXPECT_EQ(ReadDirectory(root, store, true), 4u);
    std::map<std::string, size_t> byName;
    for (size_t r = 0; r < store.size(); ++r)
        byName[std::string(store.name(r))] = r;
    ASSERT_EQ(byName.size(), 4u);
    EXPECT_EQ(byName.count("inside.jpg"), 0u);

    size_t p = byName["photo.jpg"];
    EXPECT_EQ(store.text(p, ColDirectory), root);
    EXPECT_EQ(store.text(p, ColSize), "1000");
    EXPECT_EQ(store.text(p, ColType), ".jpg");
    EXPECT_EQ(store.text(p, ColTime), "2021/07/04 13:05");
    EXPECT_EQ(store.icon(p), IconImageFile);
    EXPECT_EQ(store.text(byName[".profile"], ColType), ".profile");
    EXPECT_EQ(store.text(byName["archive.tar.gz"], ColType), ".gz");
    EXPECT_EQ(store.text(byName["archive.tar.gz"], ColSize), "0");
    EXPECT_EQ(store.icon(byName["README"]), IconOtherFile);
    EXPECT_EQ(store.text(byName["README"], ColType), "");
}

TEST_F(Scanner, DirectoryTextDependsOnIncludeSubdirectories) {
    makeFile(root + "/name");
    FileRecordStore with, without;
    ReadDirectory(root + "/", with, true);
    ReadDirectory(root + "/", without, false);
    ASSERT_EQ(with.size(), 1u);
    ASSERT_EQ(without.size(), 1u);
    EXPECT_EQ(with.directory(0), root);
    EXPECT_EQ(without.directory(0), root + "/");
    EXPECT_EQ(with.fullPath(0), root + "/name");
    EXPECT_EQ(without.fullPath(0), root + "/name");
}

TEST_F(Scanner, WithoutSubdirectoriesOnlyTheDirectoryItselfAndNoProgress) {
    makeFile(root + "/top");
    makeDir(root + "/sub");
    makeFile(root + "/sub/below");
    FileRecordStore store;
    ScanSession session;
    EXPECT_EQ(ReadDirectory(root, store, false, &session), 1u);
    EXPECT_EQ(session.directoriesRead(), 1u);

    FileRecordStore all;
    ScanSession session2;
    EXPECT_EQ(ReadDirectory(root, all, true, &session2), 2u);
    EXPECT_EQ(session2.directoriesRead(), 2u);
    EXPECT_EQ(session2.directoriesKnown(), 2u);
    // Files of a directory come before those of its subdirectories.
    EXPECT_EQ(all.name(0), "top");
    EXPECT_EQ(all.name(1), "below");
}

TEST_F(Scanner, MissingAndUnreadableDirectoriesContributeNothing) {
    FileRecordStore store;
    EXPECT_EQ(ReadDirectory(root + "/missing", store, true), 0u);
    EXPECT_EQ(ReadDirectory(root + "/missing", store, false), 0u);
    makeDir(root + "/locked");
    makeDir(root + "/locked/inner");
    makeFile(root + "/locked/secret");
    makeFile(root + "/locked/inner/deeper");
    makeFile(root + "/open");
    makeDir(root + "/other");
    makeFile(root + "/other/visible");
    ::chmod(root.c_str(), 0755);
    ::chmod((root + "/locked").c_str(), 0);
    // The superuser reads everything: the walk then runs in a child as nobody.
    const auto countAsReader = [&]() -> int {
        if (::geteuid() != 0) {
            FileRecordStore rows;
            return int(ReadDirectory(root, rows, true));
        }
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(100);
            FileRecordStore rows;
            ::_exit(int(ReadDirectory(root, rows, true)));
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const int rows = countAsReader();
    ::chmod((root + "/locked").c_str(), 0755);
    if (rows == 100)
        GTEST_SKIP() << "cannot take another user's permissions here";
    EXPECT_EQ(rows, 2); // "open" and "other/visible"
}

TEST_F(Scanner, DeepNestingDoesNotExhaustTheStack) {
    // Deep enough that a recursive walk with a large frame would be at risk, short enough
    // for ordinary path limits.
    std::string path = root;
    const int depth = 1500;
    for (int i = 0; i < depth; ++i) {
        path += "/d";
        makeDir(path);
    }
    makeFile(path + "/leaf");
    FileRecordStore store;
    std::vector<std::string> dirs;
    EXPECT_EQ(CollectDirectories(root, dirs), size_t(depth + 1));
    EXPECT_EQ(ReadDirectory(root, store, true), 1u);
}

namespace {

// The rows as (full path, size, minute), for comparing two readings.
std::vector<std::tuple<std::string, int64_t, int32_t>> rowsOf(const FileRecordStore& store) {
    std::vector<std::tuple<std::string, int64_t, int32_t>> rows;
    for (size_t i = 0; i < store.size(); ++i)
        rows.emplace_back(store.fullPath(i), store.fileSize(i), store.minute(i));
    return rows;
}

// The reading the walk must equal: every directory of the tree in walk order, each read
// by its own path.
FileRecordStore readOneByOne(const std::string& root) {
    std::vector<std::string> dirs;
    CollectDirectories(root, dirs);
    FileRecordStore store;
    for (const std::string& d : dirs)
        ReadFiles(d, store);
    return store;
}

// Removes a tree of any depth, relative to open directories (paths would be too long).
void removeTreeAt(int parent, const char* name) {
    int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd >= 0) {
        std::vector<std::string> entries;
        if (DIR* d = ::fdopendir(::dup(fd))) {
            while (dirent* e = ::readdir(d))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                    entries.emplace_back(e->d_name);
            ::closedir(d);
        }
        for (const std::string& e : entries)
            if (::unlinkat(fd, e.c_str(), 0) != 0)
                removeTreeAt(fd, e.c_str());
        ::close(fd);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

} // namespace

TEST_F(Scanner, ReadingSubtreesSideBySideKeepsTheOrderOfOneWalk) {
    // A single-child chain at the top, then enough subtrees for every walking thread,
    // with files at every level, hidden directories, links and a FIFO among them.
    makeDir(root + "/top");
    makeFile(root + "/top/at-top.jpg", 3);
    const std::string base = root + "/top/only";
    makeDir(base);
    makeFile(base + "/in-only.txt", 5);
    for (int i = 0; i < 40; ++i) {
        const std::string sub = base + "/Sub" + std::to_string(i * 7 % 40);
        makeDir(sub);
        for (int j = 0; j < 3; ++j) {
            makeDir(sub + "/" + char('c' - j));
            for (int k = 0; k < 4; ++k)
                makeFile(sub + "/" + char('c' - j) + "/f" + std::to_string(k), size_t(k + j));
        }
        makeFile(sub + "/own", size_t(i));
        if (i % 5 == 0) {
            makeDir(sub + "/.hidden");
            makeFile(sub + "/.hidden/unseen");
            makeFile(sub + "/.seen");
            ASSERT_EQ(::symlink(base.c_str(), (sub + "/loop").c_str()), 0);
            ASSERT_EQ(::mkfifo((sub + "/pipe").c_str(), 0644), 0);
        }
    }
    FileRecordStore walked;
    const size_t count = ReadDirectory(root, walked, true);
    EXPECT_EQ(count, 2u + 40 * 13 + 8);
    EXPECT_EQ(rowsOf(walked), rowsOf(readOneByOne(root)));

    // The same again into a store that already holds rows.
    FileRecordStore more;
    ReadDirectory(base + "/Sub3", more, true);
    const size_t before = more.size();
    ReadDirectory(root, more, true);
    EXPECT_EQ(more.size(), before + count);
    EXPECT_EQ(more.fullPath(before), walked.fullPath(0));
    EXPECT_EQ(more.fullPath(more.size() - 1), walked.fullPath(count - 1));

    // Two subtrees, one holding nearly all: the walk opens them a level or two further
    // so that the threads share it, and the rows stay those of one walk.
    const std::string few = root + "/few";
    makeDir(few);
    makeDir(few + "/small");
    makeFile(few + "/small/one");
    makeDir(few + "/big");
    makeFile(few + "/big/own");
    for (int i = 0; i < 6; ++i) {
        const std::string d = few + "/big/D" + std::to_string(5 - i);
        makeDir(d);
        makeFile(d + "/mid" + std::to_string(i));
        for (int j = 0; j < 4; ++j) {
            makeDir(d + "/e" + std::to_string(j));
            makeDir(d + "/e" + std::to_string(j) + "/deep");
            makeFile(d + "/e" + std::to_string(j) + "/deep/f", size_t(i + j));
        }
    }
    FileRecordStore split;
    EXPECT_EQ(ReadDirectory(few, split, true), 2u + 6 * 5);
    EXPECT_EQ(rowsOf(split), rowsOf(readOneByOne(few)));
}

TEST_F(Scanner, AStoppedSessionEndsTheWalkOnEveryThread) {
    for (int i = 0; i < 30; ++i) {
        makeDir(root + "/d" + std::to_string(i));
        for (int j = 0; j < 10; ++j)
            makeFile(root + "/d" + std::to_string(i) + "/f" + std::to_string(j));
    }
    std::atomic<bool> stop{false};
    ScanSession session(&stop);
    FileRecordStore store;
    // Raised by another thread once the walk is under way, as the window's Cancel does.
    std::thread canceller([&] {
        while (session.directoriesRead() < 3)
            std::this_thread::yield();
        stop = true;
    });
    ReadDirectory(root, store, true, &session);
    canceller.join();
    EXPECT_LT(session.directoriesRead(), 31u + 1);
    // Whatever was read before the stop, nothing is read once it is seen.
    FileRecordStore after;
    EXPECT_EQ(ReadDirectory(root + "/d0", after, true, &session), 0u);
}

TEST_F(Scanner, TreesDeeperThanThePathLimitAreReadWhole) {
    // 5,000 levels of ten-letter names: paths of about 55,000 bytes, far past what the
    // system accepts in one path, so every level must be reached from its parent.
    const int depth = 5000;
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    std::string expectedDeepest = root;
    for (int level = 1; level <= depth; ++level) {
        ASSERT_EQ(::mkdirat(fd, "directory", 0755), 0) << level;
        int child = ::openat(fd, "directory", O_RDONLY | O_DIRECTORY);
        ASSERT_GE(child, 0);
        ::close(fd);
        fd = child;
        expectedDeepest += "/directory";
        if (level % 1000 == 0 || level == 1) {
            int file =
                ::openat(fd, ("at-" + std::to_string(level)).c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(file, 0);
            ASSERT_EQ(::write(file, "abc", 3), 3);
            ::close(file);
        }
    }
    ::close(fd);

    FileRecordStore store;
    ScanSession session;
    EXPECT_EQ(ReadDirectory(root, store, true, &session), 6u);
    ASSERT_EQ(store.size(), 6u);
    EXPECT_EQ(store.name(0), "at-1");
    EXPECT_EQ(store.directory(0), root + "/directory");
    EXPECT_EQ(store.name(5), "at-5000");
    EXPECT_EQ(store.directory(5), expectedDeepest);
    EXPECT_EQ(store.fileSize(5), 3);
    EXPECT_EQ(session.directoriesKnown(), size_t(depth + 1));

    std::vector<std::string> dirs;
    EXPECT_EQ(CollectDirectories(root, dirs), size_t(depth + 1));
    EXPECT_EQ(dirs.back(), expectedDeepest);

    int top = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    removeTreeAt(top, "directory");
    ::close(top);
}

TEST_F(Scanner, ABindMountLoopingBackIsWalkedOnce) {
    makeDir(root + "/a");
    makeDir(root + "/b");
    makeDir(root + "/b/loop");
    makeFile(root + "/a/file");
    makeFile(root + "/top-file");
    if (::geteuid() != 0 ||
        std::system(("mount --bind '" + root + "' '" + root + "/b/loop' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "bind mounts are not permitted here";
    FileRecordStore store;
    const size_t rows = ReadDirectory(root, store, true);
    std::vector<std::string> dirs;
    CollectDirectories(root, dirs);
    std::system(("umount '" + root + "/b/loop'").c_str());
    EXPECT_EQ(rows, 2u);
    EXPECT_EQ(dirs, (std::vector<std::string>{root, root + "/a", root + "/b"}));
}
