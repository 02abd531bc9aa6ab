#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "carryout.h"
#include "resultlist.h"

using namespace fenwa;
using namespace fenwa::actions;

namespace {

struct RecordedPrompts : platform::ShellPrompts {
    std::vector<std::string> errors;
    bool askYesNo(const std::string&) override { return true; }
    void reportError(const std::string& text) override { errors.push_back(text); }
};

// The desktop's trash lives under XDG_DATA_HOME, which GIO reads once.
class CarryOut : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home = new QTemporaryDir;
        ::setenv("XDG_DATA_HOME", home->path().toLocal8Bit().constData(), 1);
    }
    static void TearDownTestSuite() { delete home; }
    // Two files of one size group, both as the search read them.
    void SetUp() override {
        dir = home->path().toStdString() + "/" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir().mkpath(QString::fromStdString(dir));
        for (const char* name : {"a", "b"}) {
            std::ofstream(dir + "/" + name) << "same";
            platform::FileState now;
            platform::statFileNow(dir + "/" + name, now);
            const uint32_t d = rows.internDirectory(dir, now.identity.device);
            rows.append(d, name, now.size, platform::localMinuteOf(now.mtimeSeconds),
                        now.identity.inode, now.changeStamp);
        }
        recordGroups(rows, Criteria{false, true, false, false});
    }
    static QTemporaryDir* home;
    std::string dir;
    FileRecordStore rows;
};
QTemporaryDir* CarryOut::home = nullptr;

} // namespace

TEST_F(CarryOut, AFileWhoseCopyWentAsItWentIsPutBack) {
    const DeleteRequest request{{0}, true, {}};
    const DeletePlan plan = PlanDelete(rows, request, probeDisk, hashFileNow);
    ASSERT_EQ(plan.remove, std::vector<size_t>{0});
    ASSERT_EQ(plan.countedOn.size(), 1u);
    EXPECT_EQ(plan.countedOn[0].copy, 1u);
    // The copy disappears with the file: as a mirror of it would.
    const std::string a = dir + "/a";
    const FileProbe probe = [&](const std::string& path, platform::FileState& now) {
        return (path == a || platform::pathExists(a)) && probeDisk(path, now);
    };
    RecordedPrompts prompts;
    const DeleteOutcome outcome =
        CarryOutDelete(rows, plan, request, platform::FOF_ALLOWUNDO, prompts, probe, hashFileNow);
    EXPECT_EQ(outcome.putBack, std::vector<size_t>{0});
    EXPECT_TRUE(outcome.report.trashed.empty());
    EXPECT_TRUE(platform::pathExists(a));
    ASSERT_EQ(prompts.errors.size(), 1u);
    EXPECT_NE(prompts.errors[0].find(a), std::string::npos);

    // With the copy still there the file goes and stays in the trash.
    const DeleteOutcome second = CarryOutDelete(rows, plan, request, platform::FOF_ALLOWUNDO,
                                                prompts, probeDisk, hashFileNow);
    EXPECT_TRUE(second.putBack.empty());
    EXPECT_EQ(second.report.trashed.size(), 1u);
    EXPECT_FALSE(platform::pathExists(a));
}

TEST_F(CarryOut, AFileWhoseCopyChangedIsNotDeletedForGood) {
    const DeleteRequest request{{0}, true, {}};
    const DeletePlan plan = PlanDelete(rows, request, probeDisk, hashFileNow);
    std::ofstream(dir + "/b") << "other";
    RecordedPrompts prompts;
    const DeleteOutcome outcome =
        CarryOutDelete(rows, plan, request, 0, prompts, probeDisk, hashFileNow);
    EXPECT_TRUE(platform::pathExists(dir + "/a"));
    EXPECT_EQ(prompts.errors.size(), 1u);
    EXPECT_TRUE(outcome.putBack.empty());
}
