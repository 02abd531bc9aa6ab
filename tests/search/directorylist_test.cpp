#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "directorylist.h"
#include "identity.h"
#include "indirectory.h"

using namespace fenwa;
using fenwa::platform::PathStyle;

namespace {

// Directories that "exist" for these tests.
auto existing(std::set<std::string> dirs) {
    return [dirs = std::move(dirs)](const std::string& t) { return dirs.count(t) > 0; };
}

} // namespace

TEST(DirectoryList, WindowsRules) {
    auto exists = existing(
        {"C:\\Pics", "c:\\PICS", "C:\\Pics\\2020", "C:\\", "C:\\Pics\\", " C:\\Other ", "C:\\Pic"});
    std::vector<std::string> list{"C:\\Pics"};

    auto r = checkDirectoryToAdd("c:\\PICS", list, exists, PathStyle::Windows);
    EXPECT_EQ(r.outcome, AddDirectoryOutcome::AlreadyListed);

    r = checkDirectoryToAdd("C:\\Pics\\2020", list, exists, PathStyle::Windows);
    EXPECT_EQ(r.outcome, AddDirectoryOutcome::Relatives);
    EXPECT_EQ(relativesMessage(r.directory, r.conflict),
              "C:\\Pics\\2020 和 C:\\Pics 是直系親屬, 不可同時存在!");

    r = checkDirectoryToAdd("C:\\", list, exists, PathStyle::Windows);
    EXPECT_EQ(relativesMessage(r.directory, r.conflict),
              "C:\\ 和 C:\\Pics 是直系親屬, 不可同時存在!");

    r = checkDirectoryToAdd("C:\\Pics\\", list, exists, PathStyle::Windows);
    EXPECT_EQ(r.outcome, AddDirectoryOutcome::Relatives);

    // A name that merely starts like a listed one is no relative.
    r = checkDirectoryToAdd("C:\\Pic", list, exists, PathStyle::Windows);
    EXPECT_EQ(r.outcome, AddDirectoryOutcome::Added);

    // Existence is tested on the text as given; the entry is stored trimmed.
    r = checkDirectoryToAdd(" C:\\Other ", list, exists, PathStyle::Windows);
    EXPECT_EQ(r.outcome, AddDirectoryOutcome::Added);
    EXPECT_EQ(r.directory, "C:\\Other");

    r = checkDirectoryToAdd("", list, exists, PathStyle::Windows);
    EXPECT_EQ(r.outcome, AddDirectoryOutcome::NotADirectory);
}

TEST(DirectoryList, PosixRules) {
    auto exists = existing({"/data/pictures", "/data/pic", "/data/Pictures", "/", "/data/pictures/",
                            "/data/pictures/2020", "/other"});
    std::vector<std::string> list{"/data/pictures"};
    EXPECT_EQ(checkDirectoryToAdd("/data/pictures", list, exists).outcome,
              AddDirectoryOutcome::AlreadyListed);
    // Case matters on POSIX: another directory.
    EXPECT_EQ(checkDirectoryToAdd("/data/Pictures", list, exists).outcome,
              AddDirectoryOutcome::Added);
    EXPECT_EQ(checkDirectoryToAdd("/data/pic", list, exists).outcome, AddDirectoryOutcome::Added);
    auto r = checkDirectoryToAdd("/", list, exists);
    EXPECT_EQ(r.outcome, AddDirectoryOutcome::Relatives);
    EXPECT_EQ(r.conflict, "/data/pictures");
    EXPECT_EQ(checkDirectoryToAdd("/data/pictures/", list, exists).outcome,
              AddDirectoryOutcome::Relatives);
    EXPECT_EQ(checkDirectoryToAdd("/data/pictures/2020", list, exists).outcome,
              AddDirectoryOutcome::Relatives);
    // The first conflicting entry is named.
    list = {"/other", "/data/pictures"};
    r = checkDirectoryToAdd("/data/pictures/2020", list, exists);
    EXPECT_EQ(r.conflict, "/data/pictures");
    EXPECT_EQ(checkDirectoryToAdd("/missing", list, exists).outcome,
              AddDirectoryOutcome::NotADirectory);
}

// Whether the directory a mount at `point` shows can be reached by the path the mount
// table gives for it (a table that hides the file system's whole mount cannot lead there).
static bool mountSourceReachable(const std::string& point) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, source, at;
        if (!(fields >> id >> parent >> device >> source >> at) || at != point)
            continue;
        struct stat shown {
        }, there{};
        return ::stat(point.c_str(), &shown) == 0 && ::stat(source.c_str(), &there) == 0 &&
               shown.st_dev == there.st_dev && shown.st_ino == there.st_ino;
    }
    return false;
}

TEST(DirectoryList, SpellingsOfOneDirectoryOnDiskAreRelatives) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    for (const char* d : {"/d2", "/d2/sub", "/d3", "/bind"})
        ASSERT_EQ(::mkdir((root + d).c_str(), 0755), 0);
    ASSERT_EQ(::symlink((root + "/d2").c_str(), (root + "/link").c_str()), 0);
    const std::vector<std::string> list{root + "/d2"};
    struct Case {
        std::string text;
        AddDirectoryOutcome outcome;
    };
    // A bind mount of the subdirectory, where mounting is allowed: ".." from it leads to
    // the test's folder, not to d2.
    struct Unmount {
        std::string at;
        bool mounted;
        ~Unmount() {
            if (mounted)
                ::umount2(at.c_str(), MNT_DETACH);
        }
    } bind{root + "/bind", ::mount((root + "/d2/sub").c_str(), (root + "/bind").c_str(), nullptr,
                                   MS_BIND, nullptr) == 0};
    std::vector<Case> cases{
        {"d2", AddDirectoryOutcome::Relatives},
        {"link", AddDirectoryOutcome::Relatives},
        {root + "/d3/../d2", AddDirectoryOutcome::Relatives},
        {root + "/d2/../d3", AddDirectoryOutcome::Added}, // a sibling, whatever the text
        {"link/sub", AddDirectoryOutcome::Relatives},     // below the listed one
        {root, AddDirectoryOutcome::Relatives},           // above it
        {root + "/d2", AddDirectoryOutcome::AlreadyListed},
        {root + "/d3", AddDirectoryOutcome::Added},
    };
    // Where the bind mount's source lies is found through the mount table; inside a
    // chroot the file system's own mount is hidden from it, and nothing can tell.
    if (bind.mounted && mountSourceReachable(root + "/bind"))
        cases.push_back({root + "/bind", AddDirectoryOutcome::Relatives});
    // Relative spellings name folders in the test's own.
    RunInDirectory(root, [&] {
        for (const Case& c : cases) {
            const AddDirectoryCheck r =
                checkDirectoryToAdd(c.text, list, platform::isExistingDirectory,
                                    platform::nativePathStyle(), platform::DirectoryLineage{});
            EXPECT_EQ(r.outcome, c.outcome) << c.text;
            if (r.outcome == AddDirectoryOutcome::Relatives) {
                EXPECT_EQ(relativesMessage(r.directory, r.conflict),
                          c.text + " 和 " + list[0] + " 是直系親屬, 不可同時存在!");
            }
        }
    });
}
