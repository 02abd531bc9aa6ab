#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "carryout.h"
#include "deletesession.h"
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

namespace {

// Answers the questions in turn and records everything said.
struct ScriptedQuestions : DeleteQuestions {
    std::vector<bool> answers;
    size_t asked = 0;
    std::vector<std::string> changed, errors;
    bool askYesNo(const std::string&) override {
        return asked < answers.size() && answers[asked++];
    }
    void reportError(const std::string& text) override { errors.push_back(text); }
    void reportChanged(const std::vector<std::string>& lines) override {
        changed.insert(changed.end(), lines.begin(), lines.end());
    }
};

} // namespace

// What a session deletes and journals for each way the user answers.
TEST_F(CarryOut, TheAnswersDecideWhatIsDeletedAndJournalled) {
    enum Before { Nothing, Protect, Stop, ChangeA, RemoveA };
    const struct {
        const char* name;
        std::vector<size_t> asked;
        Before before;
        std::vector<bool> answers;
        size_t questions;
        std::vector<size_t> removed;
        size_t journalled; // rows in the journal entry; 0: no entry
        int percent;       // of the bytes the plan may read again
    } cases[] = {
        {"one copy of two", {0}, Nothing, {}, 0, {0}, 1, 100},
        {"every copy, yes", {0, 1}, Nothing, {true}, 1, {0, 1}, 2, 100},
        {"every copy, no", {0, 1}, Nothing, {false}, 1, {}, 0, 100},
        {"protected, yes", {0}, Protect, {true}, 1, {0}, 1, 100},
        {"protected, no", {0}, Protect, {false}, 1, {}, 0, 100},
        {"stopped while planning", {0, 1}, Stop, {true}, 0, {}, 0, 0},
        {"changed since the search", {0}, ChangeA, {}, 0, {}, 0, 0},
        {"gone already", {0}, RemoveA, {}, 0, {0}, 0, 0},
    };
    const int flags = platform::FOF_ALLOWUNDO | platform::FOF_NOCONFIRMATION;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string where = dir + "/" + c.name;
        QDir().mkpath(QString::fromStdString(where));
        auto list = std::make_shared<FileRecordStore>();
        for (const char* name : {"a", "b"}) {
            std::ofstream(where + "/" + name) << "same";
            platform::FileState now;
            ASSERT_TRUE(platform::statFileNow(where + "/" + name, now));
            list->append(list->internDirectory(where, now.identity.device), name, now.size,
                         platform::localMinuteOf(now.mtimeSeconds), now.identity.inode,
                         now.changeStamp);
            // As a Content search leaves them: the plan reads both again.
            ContentHash hash;
            ASSERT_TRUE(hashFileNow(where + "/" + name, now.size, hash));
            list->setContentHash(list->size() - 1, hash);
        }
        recordGroups(*list, Criteria{false, true, false, false});
        DeleteRequest request{c.asked, true, {}};
        if (c.before == Protect)
            request.protectedDirectories = protectionOf({where});
        if (c.before == ChangeA)
            std::ofstream(where + "/a", std::ios::app) << "more";
        if (c.before == RemoveA)
            std::remove((where + "/a").c_str());

        DeleteSession session(list, request);
        if (c.before == Stop)
            session.cancel();
        session.planHere();
        EXPECT_EQ(session.percent(), c.percent);
        ScriptedQuestions questions;
        questions.answers = c.answers;
        const DeleteResult result = session.carryOut(flags, questions, 7);

        EXPECT_EQ(questions.asked, c.questions);
        EXPECT_EQ(result.removed, c.removed);
        EXPECT_EQ(result.cancelled, c.before == Stop);
        for (size_t row = 0; row < 2; ++row) {
            const bool gone = std::find(c.removed.begin(), c.removed.end(), row) != c.removed.end();
            EXPECT_EQ(platform::pathExists(list->fullPath(row)), !gone) << row;
        }
        ASSERT_EQ(result.journal.has_value(), c.journalled > 0);
        if (result.journal) {
            EXPECT_EQ(result.journal->rows.size(), c.journalled);
            EXPECT_EQ(result.journal->trashed.size(), c.journalled);
            EXPECT_EQ(result.journal->listGeneration, 7u);
        }
        EXPECT_EQ(questions.changed.size(), c.before == ChangeA ? 1u : 0u);
        if (c.before == ChangeA) {
            EXPECT_EQ(questions.changed[0].rfind(where + "/a  (", 0), 0u);
        }
    }
}
