#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "shellfiles.h"

using namespace fenwa::platform;

namespace {

struct ScriptedPrompts : ShellPrompts {
    std::vector<bool> answers; // given in order; "no" once they run out
    std::vector<std::string> questions;
    std::vector<std::string> errors;
    bool askYesNo(const std::string& q) override {
        questions.push_back(q);
        if (answers.empty())
            return false;
        bool a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    void reportError(const std::string& text) override { errors.push_back(text); }
};

bool exists(const std::string& p) {
    return ::access(p.c_str(), F_OK) == 0;
}

// Every test trashes into a trash of its own: the desktop's trash lives under
// XDG_DATA_HOME, which GIO reads once, so it is set before the first trash call.
class ShellFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dataHome = new QTemporaryDir;
        ::setenv("XDG_DATA_HOME", dataHome->path().toLocal8Bit().constData(), 1);
    }
    static void TearDownTestSuite() { delete dataHome; }
    void SetUp() override {
        // The files live beside the trash, on the same file system.
        dir = dataHome->path().toStdString() + "/files-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ::mkdir(dir.c_str(), 0755);
    }
    std::string file(const std::string& name) {
        std::string p = dir + "/" + name;
        std::ofstream(p) << "data";
        return p;
    }
    std::string trashed(const std::string& name) {
        return dataHome->path().toStdString() + "/Trash/files/" + name;
    }
    static QTemporaryDir* dataHome;
    std::string dir;
};
QTemporaryDir* ShellFiles::dataHome = nullptr;

} // namespace

TEST_F(ShellFiles, AnsweringNoTouchesNothing) {
    auto a = file("a.jpg"), b = file("b.jpg"), c = file("c.jpg");
    ScriptedPrompts prompts;
    ShellDeleteFiles({a, b, c}, FOF_ALLOWUNDO, prompts);
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_EQ(prompts.questions[0], "Are you sure you want to move these 3 items to the trash?");
    EXPECT_TRUE(exists(a) && exists(b) && exists(c));
}

TEST_F(ShellFiles, ToTheTrashAfterYes) {
    auto a = file("photo.jpg");
    auto keep = file("keep.jpg");
    ScriptedPrompts prompts;
    prompts.answers = {true};
    ShellDeleteFiles({a}, FOF_ALLOWUNDO, prompts);
    EXPECT_EQ(prompts.questions.at(0), "Are you sure you want to move \"photo.jpg\" to the trash?");
    EXPECT_FALSE(exists(a));
    EXPECT_TRUE(exists(trashed("photo.jpg")));
    EXPECT_TRUE(exists(dataHome->path().toStdString() + "/Trash/info/photo.jpg.trashinfo"));
    EXPECT_TRUE(exists(keep)); // only what was asked for
    EXPECT_TRUE(prompts.errors.empty());
}

TEST_F(ShellFiles, NoConfirmationNoTrashDeletesForGoodAtOnce) {
    auto a = file("gone.jpg"), b = file("name with \xff byte");
    ScriptedPrompts prompts;
    ShellDeleteFiles({a, b}, FOF_NOCONFIRMATION, prompts);
    EXPECT_TRUE(prompts.questions.empty());
    EXPECT_FALSE(exists(a));
    EXPECT_FALSE(exists(b));
    EXPECT_FALSE(exists(trashed("gone.jpg")));
}

TEST_F(ShellFiles, QuestionsNameTheFileOrCountThem) {
    // Deleting for good says it cannot be undone.
    EXPECT_EQ(deleteQuestion({"/x/a.jpg"}, false),
              std::string("Are you sure you want to permanently delete \"a.jpg\"?\n") +
                  CannotBeUndone);
    EXPECT_EQ(deleteQuestion({"/x/a", "/x/b"}, false),
              std::string("Are you sure you want to permanently delete these 2 items?\n") +
                  CannotBeUndone);
    EXPECT_EQ(deleteQuestion({"/x/a.jpg"}, true).find(CannotBeUndone), std::string::npos);
    // A name that is not UTF-8 is shown readably, never as raw bytes.
    const std::string q = deleteQuestion({"/x/bad\xff.jpg"}, true);
    EXPECT_NE(q.find("bad\xef\xbf\xbd.jpg"), std::string::npos);
}

TEST_F(ShellFiles, FilesThatCannotGoToTheTrashAreDeletedOnlyAfterAsking) {
    // A trash that cannot be created (a plain file stands in its place) refuses every
    // file, even for root.
    const std::string trashDir = dataHome->path().toStdString() + "/Trash";
    ::system(("rm -rf '" + trashDir + "'").c_str());
    std::ofstream(trashDir) << "not a directory"; // the trash cannot be created
    auto a = file("stuck.jpg");
    ScriptedPrompts prompts;
    prompts.answers = {true, false};
    ShellDeleteFiles({a}, FOF_ALLOWUNDO, prompts);
    ASSERT_EQ(prompts.questions.size(), 2u);
    EXPECT_NE(prompts.questions[1].find("cannot be moved to the trash"), std::string::npos);
    EXPECT_TRUE(exists(a)); // the user said no to deleting it for good

    prompts.answers = {true, true};
    prompts.questions.clear();
    ShellDeleteFiles({a}, FOF_ALLOWUNDO, prompts);
    EXPECT_FALSE(exists(a));
    ::unlink(trashDir.c_str());
}

TEST_F(ShellFiles, FailuresAreReportedAndMissingFilesAreNotErrors) {
    ScriptedPrompts prompts;
    ShellDeleteFiles({dir + "/never-existed"}, FOF_NOCONFIRMATION, prompts);
    EXPECT_TRUE(prompts.errors.empty());
    // A directory cannot be unlinked: reported, and left alone.
    const std::string sub = dir + "/subdir";
    ::mkdir(sub.c_str(), 0755);
    ShellDeleteFiles({sub}, FOF_NOCONFIRMATION, prompts);
    ASSERT_EQ(prompts.errors.size(), 1u);
    EXPECT_NE(prompts.errors[0].find("subdir"), std::string::npos);
    EXPECT_TRUE(exists(sub));
}

TEST_F(ShellFiles, AThousandFilesAndNamesThatAreNotUtf8GoToTheTrash) {
    std::vector<std::string> paths;
    for (int i = 0; i < 1000; ++i)
        paths.push_back(file("many-" + std::to_string(i) + ".jpg"));
    paths.push_back(file("odd\xff\xfe name.jpg"));
    auto bystander = file("bystander.jpg");
    ScriptedPrompts prompts;
    const DeleteReport report =
        ShellDeleteFiles(paths, FOF_ALLOWUNDO | FOF_NOCONFIRMATION, prompts);
    EXPECT_TRUE(prompts.questions.empty());
    EXPECT_TRUE(prompts.errors.empty());
    for (const std::string& p : paths)
        EXPECT_FALSE(exists(p)) << p;
    EXPECT_TRUE(exists(trashed("odd\xff\xfe name.jpg")));
    EXPECT_TRUE(exists(trashed("many-999.jpg")));
    EXPECT_TRUE(exists(bystander));
    // And all of them come back.
    ASSERT_EQ(report.trashed.size(), paths.size());
    for (const RestoreResult& r : restoreFromTrash(report.trashed))
        EXPECT_EQ(r.status, RestoreStatus::Restored);
    for (const std::string& p : paths)
        EXPECT_TRUE(exists(p)) << p;
}

namespace {

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST_F(ShellFiles, ATrashedFileComesBackByteIdenticalToItsPlace) {
    const std::string path = dir + "/caf\xe9 %41 copy.jpg"; // not UTF-8, and a literal %
    const std::string bytes("\x00\xff\xd8 picture \r\n\x01", 15);
    writeBytes(path, bytes);
    ScriptedPrompts prompts;
    const DeleteReport report =
        ShellDeleteFiles({path}, FOF_ALLOWUNDO | FOF_NOCONFIRMATION, prompts);
    ASSERT_EQ(report.trashed.size(), 1u);
    EXPECT_EQ(report.trashed[0].originalPath, path);
    EXPECT_EQ(report.trashed[0].deletionDate.size(), 19u); // found in the trash right away
    ASSERT_FALSE(exists(path));

    const std::vector<RestoreResult> back = restoreFromTrash(report.trashed);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].status, RestoreStatus::Restored) << back[0].message;
    EXPECT_EQ(contentOf(path), bytes);
    EXPECT_FALSE(exists(trashed("caf\xe9 %41 copy.jpg")));
    EXPECT_FALSE(
        exists(dataHome->path().toStdString() + "/Trash/info/caf\xe9 %41 copy.jpg.trashinfo"));
    // Nothing is left to put back a second time.
    EXPECT_EQ(restoreFromTrash(report.trashed)[0].status, RestoreStatus::NotInTrash);
}

TEST_F(ShellFiles, RestoringNeverReplacesWhatNowOccupiesThePath) {
    const std::string path = dir + "/taken.jpg";
    writeBytes(path, "the trashed one");
    ScriptedPrompts prompts;
    const DeleteReport report =
        ShellDeleteFiles({path}, FOF_ALLOWUNDO | FOF_NOCONFIRMATION, prompts);
    ASSERT_EQ(report.trashed.size(), 1u);
    writeBytes(path, "a newcomer");
    EXPECT_EQ(restoreFromTrash(report.trashed)[0].status, RestoreStatus::Occupied);
    EXPECT_EQ(contentOf(path), "a newcomer");
    EXPECT_TRUE(exists(trashed("taken.jpg"))); // still in the trash
    ::unlink(path.c_str());
    EXPECT_EQ(restoreFromTrash(report.trashed)[0].status, RestoreStatus::Restored);
    EXPECT_EQ(contentOf(path), "the trashed one");
}

TEST_F(ShellFiles, TheSamePathTrashedTwiceComesBackAsEachRecordSays) {
    const std::string path = dir + "/twice.jpg";
    ScriptedPrompts prompts;
    writeBytes(path, "first");
    const DeleteReport first =
        ShellDeleteFiles({path}, FOF_ALLOWUNDO | FOF_NOCONFIRMATION, prompts);
    writeBytes(path, "second");
    const DeleteReport second =
        ShellDeleteFiles({path}, FOF_ALLOWUNDO | FOF_NOCONFIRMATION, prompts);
    ASSERT_EQ(first.trashed.size(), 1u);
    ASSERT_EQ(second.trashed.size(), 1u);
    EXPECT_NE(first.trashed[0].trashedAs, second.trashed[0].trashedAs);
    EXPECT_EQ(restoreFromTrash(second.trashed)[0].status, RestoreStatus::Restored);
    EXPECT_EQ(contentOf(path), "second");
    ::unlink(path.c_str());
    EXPECT_EQ(restoreFromTrash(first.trashed)[0].status, RestoreStatus::Restored);
    EXPECT_EQ(contentOf(path), "first");
}

TEST_F(ShellFiles, AFileWhoseFolderIsGoneStaysInTheTrash) {
    const std::string folder = dir + "/gone";
    ::mkdir(folder.c_str(), 0755);
    const std::string path = folder + "/lost.jpg";
    writeBytes(path, "lost");
    ScriptedPrompts prompts;
    const DeleteReport report =
        ShellDeleteFiles({path}, FOF_ALLOWUNDO | FOF_NOCONFIRMATION, prompts);
    ::rmdir(folder.c_str());
    EXPECT_EQ(restoreFromTrash(report.trashed)[0].status, RestoreStatus::FolderGone);
    EXPECT_TRUE(exists(trashed("lost.jpg")));
}
