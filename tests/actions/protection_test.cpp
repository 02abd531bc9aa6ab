// Protected directories known by what they are: through a link or a bind mount of the
// protected directory its files stay protected, for the keep rules and for a Delete.
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include "deleteplanner.h"
#include "keeprules.h"
#include "protection.h"
#include "textprotection.h"

using namespace fenwa;
using namespace fenwa::actions;

TEST(Protection, ADirectoryIsProtectedByWhatItIsNotByItsText) {
    FileRecordStore rows;
    struct Case {
        const char* directory;
        bool covered;
    };
    const std::vector<Case> cases = {
        {"/ref", true},          {"/ref/deep/er", true}, {"/alias/sub", true}, // one directory
        {"/refs", false},        {"/other", false},      {"/", false},
        {"/ref/../gone", false}, // not to be seen on the disk: no files left to protect
    };
    for (const Case& c : cases)
        rows.append(rows.internDirectory(c.directory), "x", 1, 0);
    const Protection protection =
        fake::protectionByText({"/ref"}, {{"/alias", "/ref"}}, {"/ref/../gone"});
    const std::vector<bool> covered = protectedDirectoryIndexes(rows, protection);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(covered[rows.record(i).directory], cases[i].covered) << cases[i].directory;
    EXPECT_EQ(protectedDirectoryIndexes(rows, Protection{}), std::vector<bool>(cases.size()));
}

namespace {

// A bind mount of the test's own, undone when the test ends.
class BindMount {
public:
    BindMount(const std::string& from, const std::string& to) : to_(to) {
        mounted_ = ::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~BindMount() {
        if (mounted_)
            ::umount2(to_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string to_;
    bool mounted_ = false;
};

} // namespace

TEST(Protection, ReachedThroughALinkOrABindMountOfTheProtectedDirectory) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    for (const char* d : {"/ref", "/ref/sub", "/other", "/other/sub", "/bind", "/bindsub"})
        ASSERT_EQ(::mkdir((root + d).c_str(), 0755), 0);
    ASSERT_EQ(::symlink((root + "/ref").c_str(), (root + "/link").c_str()), 0);
    const BindMount bind(root + "/ref", root + "/bind");
    const BindMount bindSub(root + "/ref/sub", root + "/bindsub"); // ".." leads elsewhere
    if (!bind.mounted() || !bindSub.mounted())
        GTEST_SKIP() << "bind mounts are not allowed here";
    for (const char* d : {"/ref/", "/other/"}) {
        std::ofstream(root + d + "x") << "1";
        std::ofstream(root + d + "sub/y") << "22";
        std::ofstream(root + d + "z") << "333";
    }

    // Rows as a search of other/, link/, bind/ and bindsub/ reads them: ref/ itself is
    // not listed.
    FileRecordStore rows;
    for (const char* path :
         {"/other/x", "/link/x", "/other/sub/y", "/bindsub/y", "/other/z", "/bind/z"}) {
        const std::string full = root + path;
        platform::FileState now;
        ASSERT_TRUE(platform::statFileNow(full, now)) << full;
        const std::string dir = full.substr(0, full.rfind('/'));
        rows.append(rows.internDirectory(dir, now.identity.device), full.substr(dir.size() + 1),
                    now.size, platform::localMinuteOf(now.mtimeSeconds), now.identity.inode,
                    now.changeStamp);
    }
    const Protection protection = protectionOf({root + "/ref"});
    recordGroups(rows, Criteria{false, true, false, false});

    // Each group's second row is a protected file, kept instead of the first row the rule
    // would keep.
    const KeepSelection chosen = SelectByRule(rows, {KeepRule::First}, protection, nullptr);
    EXPECT_EQ(chosen.selected, (std::vector<size_t>{0, 2, 4}));
    // A Delete of them asks about each by name first.
    const DeletePlan plan =
        PlanDelete(rows, {{0, 1, 3, 5}, false, protection}, probeDisk, hashFileNow);
    EXPECT_EQ(plan.remove, (std::vector<size_t>{0, 1, 3, 5}));
    EXPECT_EQ(plan.protectedRows, (std::vector<size_t>{1, 3, 5}));
    // And a protected link protects the directory it leads to.
    EXPECT_EQ(protectedDirectoryIndexes(rows, protectionOf({root + "/link"})),
              protectedDirectoryIndexes(rows, protection));
}
