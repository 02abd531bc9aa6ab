// Replacing a copy by a link or clone of the kept file, moving it, and undoing both: the
// bytes, mode, owner and times come out right, and a file that is not the one planned for,
// a name taken, or a file system that cannot do it leaves everything as it was and no
// temporary behind.
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "replacefile.h"

using namespace fenwa::platform;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Every name in a folder, hidden ones included: a temporary left behind shows here.
std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.insert(e->d_name);
        ::closedir(d);
    }
    return names;
}

FileMeta metaOf(const std::string& path) {
    FileMeta meta;
    EXPECT_TRUE(readFileMeta(path, meta)) << path;
    return meta;
}

// A copy with a mode, owner and times of its own, unlike the keeper's.
void makeCopy(const std::string& path, const std::string& content) {
    writeFile(path, content);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const struct timespec times[2] = {{1500000000, 123456789}, {1400000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 4321, 4321), 0);
    }
}

// The file now at the path has the copy's mode, owner and times as makeCopy set them.
void expectCopysMeta(const std::string& path, const FileMeta& original) {
    const FileMeta now = metaOf(path);
    EXPECT_EQ(now.mode & 07777, original.mode & 07777);
    EXPECT_EQ(now.mtimeNs, original.mtimeNs);
    EXPECT_EQ(now.atimeNs, original.atimeNs);
    EXPECT_EQ(now.uid, original.uid);
    EXPECT_EQ(now.gid, original.gid);
}

// A user attribute set on a file; false where the file system keeps none.
bool setNote(const std::string& path, const std::string& value) {
    return ::setxattr(path.c_str(), "user.fenwa.note", value.data(), value.size(), 0) == 0;
}
std::string noteOf(const std::string& path) {
    char value[256];
    const ssize_t n = ::getxattr(path.c_str(), "user.fenwa.note", value, sizeof value);
    return n < 0 ? "(none)" : std::string(value, size_t(n));
}

bool isSymlink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string linkText(const std::string& path) {
    char text[4096];
    const ssize_t n = ::readlink(path.c_str(), text, sizeof text);
    return n < 0 ? std::string() : std::string(text, size_t(n));
}

std::string command(const std::string& line) {
    std::string out;
    if (FILE* p = ::popen(line.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p))
            out += buffer;
        ::pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

// A file system of the test's own, mounted under `where`: tmpfs, or a sparse image on a
// loop device made with mkfs. Unmounted and detached when it goes; `skip` says why it
// could not be made.
class OwnFileSystem {
public:
    OwnFileSystem(const std::string& where, const std::string& type) : where_(where) {
        ::mkdir(where.c_str(), 0755);
        if (type == "tmpfs") {
            if (::mount("tmpfs", where.c_str(), "tmpfs", 0, "size=4m") != 0)
                skip = "cannot mount a tmpfs here (needs root)";
            return;
        }
        image_ = where + ".img";
        const std::string mkfs = type == "xfs" ? "mkfs.xfs -q -m reflink=1 " : "mkfs.btrfs -q ";
        const long megabytes = type == "xfs" ? 300 : 128;
        if (::truncate((writeFile(image_, ""), image_).c_str(), megabytes << 20) != 0 ||
            std::system((mkfs + "'" + image_ + "' >/dev/null 2>&1").c_str()) != 0) {
            skip = "mkfs for " + type + " is not available (install btrfs-progs, xfsprogs)";
            return;
        }
        device_ = command("losetup --find --show '" + image_ + "' 2>/dev/null");
        if (device_.empty()) {
            skip = "no loop device here (needs root and losetup)";
            return;
        }
        if (::mount(device_.c_str(), where.c_str(), type.c_str(), 0, nullptr) != 0)
            skip = "cannot mount " + type + " here";
    }
    ~OwnFileSystem() {
        if (skip.empty())
            ::umount2(where_.c_str(), 0) == 0 || ::umount2(where_.c_str(), MNT_DETACH);
        if (!device_.empty())
            (void)std::system(("losetup -d '" + device_ + "'").c_str());
        if (!image_.empty())
            ::unlink(image_.c_str());
    }
    OwnFileSystem(const OwnFileSystem&) = delete;
    OwnFileSystem& operator=(const OwnFileSystem&) = delete;
    std::string skip;

private:
    std::string where_, image_, device_;
};

class ReplaceFile : public testing::Test {
protected:
    QTemporaryDir tmp;
    std::string dir = tmp.path().toStdString();
    std::string keeper = dir + "/keeper.jpg";
    std::string copy = dir + "/copy.jpg";
    void SetUp() override {
        writeFile(keeper, "the picture");
        makeCopy(copy, "the picture");
    }
};

} // namespace

TEST_F(ReplaceFile, AHardLinkTakesTheCopysPlace) {
    const FileMeta before = metaOf(copy), kept = metaOf(keeper);
    const ActResult r =
        replaceWithHardLink(copy, ExpectedFile::of(before), keeper, ExpectedFile::of(kept));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(metaOf(copy).identity, kept.identity);
    EXPECT_EQ(r.after, kept.identity);
    EXPECT_EQ(readFile(copy), "the picture");
    EXPECT_EQ((std::set<std::string>{"keeper.jpg", "copy.jpg"}), namesIn(dir));
    // Once it is the keeper, there is nothing left to replace.
    const ActResult again = replaceWithHardLink(copy, kept.identity, keeper, kept.identity);
    EXPECT_EQ(again.error, ActError::SameFile);
}

TEST_F(ReplaceFile, ASymbolicLinkReachesTheKeeperAndKeepsTheCopysTimes) {
    const FileMeta before = metaOf(copy);
    const std::string text = relativeLinkText(copy, keeper);
    ASSERT_EQ(text, "keeper.jpg");
    const ActResult r = replaceWithSymlink(copy, before.identity, text, metaOf(keeper).identity);
    ASSERT_TRUE(r.ok) << r.message;
    ASSERT_TRUE(isSymlink(copy));
    EXPECT_EQ(linkText(copy), "keeper.jpg");
    EXPECT_EQ(readFile(copy), "the picture");
    const FileMeta link = metaOf(copy);
    EXPECT_EQ(r.after, link.identity);
    EXPECT_EQ(link.mtimeNs, before.mtimeNs);
    EXPECT_EQ(link.uid, before.uid);
    EXPECT_EQ((std::set<std::string>{"keeper.jpg", "copy.jpg"}), namesIn(dir));
}

TEST_F(ReplaceFile, ALinkTextThatMissesTheKeeperReplacesNothing) {
    const FileMeta before = metaOf(copy);
    writeFile(dir + "/other.jpg", "the picture");
    for (const std::string& text :
         {std::string("nowhere.jpg"), std::string("other.jpg"), dir + "/other.jpg"}) {
        const ActResult r =
            replaceWithSymlink(copy, before.identity, text, metaOf(keeper).identity);
        EXPECT_EQ(r.error, ActError::KeeperChanged) << text;
        EXPECT_FALSE(isSymlink(copy));
        EXPECT_EQ(metaOf(copy).identity, before.identity);
    }
    // The keeper's own name never becomes a link to itself.
    const FileMeta kept = metaOf(keeper);
    EXPECT_EQ(replaceWithSymlink(keeper, kept.identity, "keeper.jpg", kept.identity).error,
              ActError::SameFile);
    EXPECT_EQ(readFile(keeper), "the picture");
    EXPECT_EQ((std::set<std::string>{"keeper.jpg", "copy.jpg", "other.jpg"}), namesIn(dir));
}

TEST(RelativeLinkText, IsWorkedOutFromTheLinksFolder) {
    const struct {
        const char* link;
        const char* target;
        const char* text;
    } cases[] = {
        {"/a/b/x", "/a/c/y", "../c/y"},
        {"/a/x", "/a/y", "y"},
        {"/x", "/a/b/y", "a/b/y"},
        {"/a/b/c/x", "/y", "../../../y"},
        {"/a/x", "/a/b/y", "b/y"},
        {"/ab/x", "/a/y", "../a/y"},
        {"/a/b/x", "/a/b", "../b"},
        {"relative/x", "/a/y", ""},
        {"/photos/2019/x.jpg", "/photos/2019/x (1).jpg", "x (1).jpg"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(relativeLinkText(c.link, c.target), c.text) << c.link << " -> " << c.target;
}

// Another file put at the path after the plan (a new inode, or the same one rewritten) is
// never replaced or moved, by any act.
TEST_F(ReplaceFile, AFileChangedSincePlannedIsLeftAlone) {
    const FileMeta planned = metaOf(copy), kept = metaOf(keeper);
    const std::function<ActResult(const ExpectedFile&)> acts[] = {
        [&](const ExpectedFile& e) { return replaceWithHardLink(copy, e, keeper, kept.identity); },
        [&](const ExpectedFile& e) {
            return replaceWithSymlink(copy, e, "keeper.jpg", kept.identity);
        },
        [&](const ExpectedFile& e) { return replaceWithReflink(copy, e, keeper, kept.identity); },
        [&](const ExpectedFile& e) { return moveNoReplace(copy, e, dir + "/moved/copy.jpg"); },
    };
    for (const auto& act : acts) {
        // Another file of the same bytes renamed over the copy.
        writeFile(dir + "/other", "the picture");
        ASSERT_EQ(::rename((dir + "/other").c_str(), copy.c_str()), 0);
        const FileIdentity swapped = metaOf(copy).identity;
        EXPECT_EQ(act(ExpectedFile::of(planned)).error, ActError::Changed);
        EXPECT_EQ(metaOf(copy).identity, swapped);
        // The same inode rewritten: its size and time tell.
        const FileMeta rewrittenPlan = metaOf(copy);
        writeFile(copy, "edited since");
        EXPECT_EQ(act(ExpectedFile::of(rewrittenPlan)).error, ActError::Changed);
        EXPECT_EQ(readFile(copy), "edited since");
        EXPECT_EQ((std::set<std::string>{"keeper.jpg", "copy.jpg"}), namesIn(dir));
        // Only its status changed (a chmod): the change stamp a search recorded tells.
        FileState seen;
        ASSERT_TRUE(statFileNow(copy, seen));
        ExpectedFile stamped(seen.identity);
        stamped.changeStamp = seen.changeStamp;
        ASSERT_EQ(::chmod(copy.c_str(), 0604), 0);
        EXPECT_EQ(act(stamped).error, ActError::Changed);
        EXPECT_EQ(metaOf(copy).identity, seen.identity);
    }
    // A keeper changed since is not linked to either.
    const FileMeta copyNow = metaOf(copy);
    writeFile(keeper, "keeper edited");
    EXPECT_EQ(replaceWithHardLink(copy, copyNow.identity, keeper, ExpectedFile::of(kept)).error,
              ActError::KeeperChanged);
    EXPECT_EQ(metaOf(copy).identity, copyNow.identity);
}

// An entry is its folder and its name: the same file linked into another folder put
// where the planned folder was is not the entry planned for.
TEST_F(ReplaceFile, AFolderReplacedSincePlannedIsLeftAlone) {
    ::mkdir((dir + "/a").c_str(), 0755);
    const std::string inA = dir + "/a/copy.jpg";
    ASSERT_EQ(::rename(copy.c_str(), inA.c_str()), 0);
    FileState planned;
    ASSERT_TRUE(statFileNow(inA, planned));
    ASSERT_EQ(::rename((dir + "/a").c_str(), (dir + "/b").c_str()), 0);
    ::mkdir((dir + "/a").c_str(), 0755);
    ASSERT_EQ(::link((dir + "/b/copy.jpg").c_str(), inA.c_str()), 0);
    const ActResult r =
        replaceWithHardLink(inA, ExpectedFile::of(planned), keeper, metaOf(keeper).identity);
    EXPECT_EQ(r.error, ActError::Changed);
    EXPECT_EQ(metaOf(inA).identity, planned.identity);
    // Without the folder, the file alone is what was planned.
    EXPECT_TRUE(replaceWithHardLink(inA, planned.identity, keeper, metaOf(keeper).identity).ok);
}

TEST_F(ReplaceFile, AMoveMakesTheMissingFoldersAndKeepsModeAndTimes) {
    const FileMeta before = metaOf(copy);
    const mode_t mask = ::umask(022);
    const std::string to = dir + "/a/b/c/copy.jpg";
    const ActResult r = moveNoReplace(copy, ExpectedFile::of(before), to);
    ::umask(mask);
    ASSERT_TRUE(r.ok) << r.message;
    expectCopysMeta(to, before); // before a read moves the access time
    EXPECT_EQ(readFile(to), "the picture");
    EXPECT_EQ(metaOf(to).identity, before.identity);
    EXPECT_EQ(metaOf(dir + "/a/b").mode & 0777, 0755u);
    EXPECT_EQ((std::set<std::string>{"keeper.jpg", "a"}), namesIn(dir));
    // And back, as Undo does.
    ASSERT_TRUE(moveNoReplace(to, before.identity, copy).ok);
    EXPECT_EQ(readFile(copy), "the picture");
}

TEST_F(ReplaceFile, AMoveNeverReplacesWhatIsThere) {
    ::mkdir((dir + "/to").c_str(), 0755);
    writeFile(dir + "/to/copy.jpg", "another");
    const FileMeta before = metaOf(copy);
    const ActResult r = moveNoReplace(copy, before.identity, dir + "/to/copy.jpg");
    EXPECT_EQ(r.error, ActError::Exists);
    EXPECT_EQ(readFile(copy), "the picture");
    EXPECT_EQ(readFile(dir + "/to/copy.jpg"), "another");
    EXPECT_EQ((std::set<std::string>{"copy.jpg"}), namesIn(dir + "/to"));
}

TEST_F(ReplaceFile, ThisFileSystemCannotCloneAndSaysSo) {
    const ActResult probe = canReflink(keeper, dir);
    EXPECT_EQ(probe.error, ActError::NotSupported);
    EXPECT_EQ(probe.message, "ext2/ext3/ext4");
    const FileMeta before = metaOf(copy);
    EXPECT_EQ(replaceWithReflink(copy, before.identity, keeper, metaOf(keeper).identity).error,
              ActError::NotSupported);
    EXPECT_EQ(metaOf(copy).identity, before.identity);
    EXPECT_EQ((std::set<std::string>{"keeper.jpg", "copy.jpg"}), namesIn(dir));
}

// Another device: a hard link is refused before anything is made; a move copies, and
// back again.
TEST_F(ReplaceFile, AcrossFileSystems) {
    OwnFileSystem other(dir + "/other", "tmpfs");
    if (!other.skip.empty())
        GTEST_SKIP() << other.skip;
    const std::string there = dir + "/other/copy.jpg";
    makeCopy(there, "the picture");
    const FileMeta thereMeta = metaOf(there);
    const ActResult link =
        replaceWithHardLink(there, thereMeta.identity, keeper, metaOf(keeper).identity);
    EXPECT_EQ(link.error, ActError::CrossDevice);
    EXPECT_EQ((std::set<std::string>{"copy.jpg"}), namesIn(dir + "/other"));
    EXPECT_EQ(canReflink(keeper, dir + "/other").error, ActError::CrossDevice);

    const bool noted = setNote(copy, "carried");
    const FileMeta before = metaOf(copy);
    const std::string to = dir + "/other/new/copy.jpg";
    std::vector<MadeFolder> made;
    const ActResult away = moveNoReplace(copy, ExpectedFile::of(before), to, &made);
    ASSERT_TRUE(away.ok) << away.message;
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].path, dir + "/other/new");
    if (noted) {
        EXPECT_EQ(noteOf(to), "carried");
    }
    EXPECT_FALSE(metaOf(to).identity == before.identity);
    EXPECT_EQ(away.after, metaOf(to).identity);
    expectCopysMeta(to, before);
    EXPECT_EQ(readFile(to), "the picture");
    EXPECT_EQ((std::set<std::string>{"keeper.jpg", "other"}), namesIn(dir));
    // Taken names are not replaced across devices either, and nothing is left there.
    writeFile(copy, "came back meanwhile");
    EXPECT_EQ(moveNoReplace(to, metaOf(to).identity, copy).error, ActError::Exists);
    EXPECT_EQ(readFile(copy), "came back meanwhile");
    EXPECT_EQ((std::set<std::string>{"keeper.jpg", "copy.jpg", "other"}), namesIn(dir));
    ASSERT_EQ(::unlink(copy.c_str()), 0);
    const FileMeta moved = metaOf(to); // its access time moved with the reads above
    ASSERT_TRUE(moveNoReplace(to, moved.identity, copy).ok);
    expectCopysMeta(copy, moved);
    EXPECT_EQ(readFile(copy), "the picture");
    EXPECT_EQ((std::set<std::string>{"copy.jpg", "new"}), namesIn(dir + "/other"));
}

// Undo of each replacement gives back a file of its own with the copy's bytes, mode,
// owner and times, and only while the entry is still what the act left.
TEST_F(ReplaceFile, UndoGivesBackAnIndependentCopy) {
    const FileMeta kept = metaOf(keeper);
    for (const bool symlink : {false, true}) {
        ::unlink(copy.c_str());
        makeCopy(copy, "the picture");
        const FileMeta original = metaOf(copy);
        const ActResult r =
            symlink ? replaceWithSymlink(copy, original.identity, keeper, kept.identity)
                    : replaceWithHardLink(copy, original.identity, keeper, kept.identity);
        ASSERT_TRUE(r.ok) << r.message;
        const ActLeft left{r.after, symlink, symlink ? keeper : ""};
        // Something else at the path since (another file, another link text): refused.
        ActLeft wrong = left;
        if (symlink)
            wrong.linkText = "elsewhere";
        else
            wrong.identity = original.identity;
        EXPECT_EQ(restoreIndependentCopy(copy, wrong, keeper, original).error, ActError::Changed);
        EXPECT_EQ(metaOf(copy).identity, left.identity);

        const ActResult back = restoreIndependentCopy(copy, left, keeper, original);
        ASSERT_TRUE(back.ok) << back.message;
        EXPECT_FALSE(isSymlink(copy));
        expectCopysMeta(copy, original);
        EXPECT_EQ(readFile(copy), "the picture");
        EXPECT_NE(metaOf(copy).identity, kept.identity);
        EXPECT_EQ(back.after, metaOf(copy).identity);
        EXPECT_EQ(metaOf(keeper).mode, kept.mode); // the keeper keeps its own
        EXPECT_EQ((std::set<std::string>{"keeper.jpg", "copy.jpg"}), namesIn(dir));
    }
}

// Clones for real, on the file systems that make them.
class Reflink : public testing::TestWithParam<const char*> {};

TEST_P(Reflink, AClonesDataIsSharedUntilWrittenAndUndoIsIndependent) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "loop devices need root";
    QTemporaryDir tmp;
    OwnFileSystem fs(tmp.path().toStdString() + "/fs", GetParam());
    if (!fs.skip.empty())
        GTEST_SKIP() << fs.skip;
    const std::string dir = tmp.path().toStdString() + "/fs";
    const std::string keeper = dir + "/keeper.jpg", copy = dir + "/copy.jpg";
    const std::string content(200000, 'p');
    writeFile(keeper, content);
    makeCopy(copy, content);
    ASSERT_TRUE(setNote(copy, "the copy's"));
    const FileMeta before = metaOf(copy), kept = metaOf(keeper);

    const ActResult probe = canReflink(keeper, dir);
    ASSERT_TRUE(probe.ok) << probe.message;
    EXPECT_EQ(namesIn(dir), (std::set<std::string>{"keeper.jpg", "copy.jpg"}));

    const ActResult r =
        replaceWithReflink(copy, ExpectedFile::of(before), keeper, ExpectedFile::of(kept));
    ASSERT_TRUE(r.ok) << r.message;
    expectCopysMeta(copy, before);
    EXPECT_EQ(noteOf(copy), "the copy's");
    EXPECT_EQ(noteOf(keeper), "(none)");
    EXPECT_EQ(readFile(copy), content);
    EXPECT_NE(r.after, kept.identity);
    EXPECT_NE(r.after, before.identity);
    EXPECT_EQ(namesIn(dir), (std::set<std::string>{"keeper.jpg", "copy.jpg"}));
    // Writing one leaves the other.
    {
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(100);
        f << "XYZ";
    }
    EXPECT_EQ(readFile(keeper), content);
    std::string edited = content;
    edited.replace(100, 3, "XYZ");
    EXPECT_EQ(readFile(copy), edited);

    // Undo: refused for an entry that is not the clone; then a file of its own comes back
    // with the original's meta.
    const FileMeta clone = metaOf(copy);
    EXPECT_EQ(restoreIndependentCopy(copy, {kept.identity, false, {}}, keeper, before).error,
              ActError::Changed);
    const ActResult back =
        restoreIndependentCopy(copy, {clone.identity, false, {}}, keeper, before);
    ASSERT_TRUE(back.ok) << back.message;
    expectCopysMeta(copy, before);
    EXPECT_EQ(readFile(copy), content);
    EXPECT_EQ(namesIn(dir), (std::set<std::string>{"keeper.jpg", "copy.jpg"}));
}

INSTANTIATE_TEST_SUITE_P(FileSystems, Reflink, testing::Values("btrfs", "xfs"));
