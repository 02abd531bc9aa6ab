// The acts beside Delete on real files: what the planner refuses, what carrying out
// leaves on the disk, and Undo giving each file back whole.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

#include "carryout.h"
#include "deletesession.h"
#include "resultlist.h"
#include "undo.h"

using namespace fenwa;
using namespace fenwa::actions;

namespace {

struct Quiet : DeleteQuestions {
    std::vector<std::string> errors;
    bool askYesNo(const std::string&) override { return true; }
    void reportError(const std::string& text) override { errors.push_back(text); }
    void reportChanged(const std::vector<std::string>&) override {}
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct stat lstatOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}

// Files on the disk and the list a search by size made of them.
class Acts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home = new QTemporaryDir;
        ::setenv("XDG_DATA_HOME", home->path().toLocal8Bit().constData(), 1);
    }
    static void TearDownTestSuite() { delete home; }
    void SetUp() override {
        dir = home->path().toStdString() + "/" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir().mkpath(QString::fromStdString(dir + "/sub"));
    }
    // `file` relative to dir; a row for each, then groups by size.
    void add(const std::string& file, const std::string& content) {
        std::ofstream(dir + "/" + file, std::ios::binary) << content;
        listFile(file);
    }
    void listFile(const std::string& file) {
        const std::string path = dir + "/" + file;
        platform::FileState now;
        platform::statFileNow(path, now);
        const size_t slash = path.rfind('/');
        const uint32_t d = rows.internDirectory(path.substr(0, slash), now.identity.device);
        rows.append(d, path.substr(slash + 1), now.size, platform::localMinuteOf(now.mtimeSeconds),
                    now.identity.inode, now.changeStamp);
    }
    void group() { recordGroups(rows, Criteria{false, true, false, false}); }
    DeleteRequest request(ActKind act, std::vector<size_t> asked) {
        DeleteRequest r{std::move(asked), true, {}};
        r.act = act;
        r.moveTo = dir + "/moved";
        r.listedDirectories = {dir};
        r.canReflink = [](const std::string&, const std::string&) { return true; };
        return r;
    }
    static QTemporaryDir* home;
    std::string dir;
    FileRecordStore rows;
};
QTemporaryDir* Acts::home = nullptr;

} // namespace

// What the planner answers for a row, before anything is touched.
TEST_F(Acts, ThePlanRefusesWhatCannotBeActedOn) {
    enum Setup { Identical, BytesDiffer, HardLinked, KeeperEdited, MoveTargetTaken };
    const struct {
        const char* name;
        ActKind act;
        Setup setup;
        bool reflinkPossible;
        std::optional<KeepReason> kept; // nothing: planned, kept copy row 0
    } cases[] = {
        {"identical", ActKind::HardLink, Identical, true, std::nullopt},
        {"symlink", ActKind::SymbolicLink, Identical, true, std::nullopt},
        {"move", ActKind::Move, Identical, true, std::nullopt},
        {"size-only list, other bytes", ActKind::HardLink, BytesDiffer, true,
         KeepReason::NotIdentical},
        {"reflink, other bytes", ActKind::Reflink, BytesDiffer, true, KeepReason::NotIdentical},
        {"hard link of the kept copy", ActKind::SymbolicLink, HardLinked, true,
         KeepReason::AlreadySameFile},
        {"no clone possible", ActKind::Reflink, Identical, false, KeepReason::NoReflink},
        {"kept copy changed since the search", ActKind::HardLink, KeeperEdited, true,
         KeepReason::NoCopyLeft},
        {"move target taken", ActKind::Move, MoveTargetTaken, true, KeepReason::TargetExists},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rows = FileRecordStore{};
        const std::string sub = "c" + std::to_string(n++);
        QDir().mkpath(QString::fromStdString(dir + "/" + sub));
        add(sub + "/keep", "same bytes");
        if (c.setup == HardLinked) {
            ::link((dir + "/" + sub + "/keep").c_str(), (dir + "/" + sub + "/copy").c_str());
            listFile(sub + "/copy");
        } else {
            add(sub + "/copy", c.setup == BytesDiffer ? "other byte" : "same bytes");
        }
        group();
        if (c.setup == KeeperEdited)
            std::ofstream(dir + "/" + sub + "/keep") << "edited!!!!";
        if (c.setup == MoveTargetTaken) {
            QDir().mkpath(QString::fromStdString(dir + "/moved/" + sub));
            std::ofstream(dir + "/moved/" + sub + "/copy") << "x";
        }
        DeleteRequest r = request(c.act, {1});
        r.canReflink = [&c](const std::string&, const std::string&) { return c.reflinkPossible; };
        const DeletePlan plan = PlanDelete(rows, r, probeDisk, hashFileNow);
        if (c.kept) {
            EXPECT_TRUE(plan.remove.empty());
            ASSERT_EQ(plan.kept.size(), 1u);
            EXPECT_EQ(plan.kept[0].reason, *c.kept);
            continue;
        }
        ASSERT_EQ(plan.remove, std::vector<size_t>{1});
        EXPECT_EQ(keeperOf(plan, 1), std::optional<size_t>(0));
        EXPECT_EQ(bytesFreed(rows, plan), 10);
        if (c.act == ActKind::Move) {
            ASSERT_EQ(plan.destinations.size(), 1u);
            EXPECT_EQ(plan.destinations[0].path, dir + "/moved/" + sub + "/copy");
        }
        EXPECT_EQ(describeAct(rows, plan, r, 1, false),
                  c.act == ActKind::Move ? "would move " + dir + "/" + sub + "/copy -> " + dir +
                                               "/moved/" + sub + "/copy"
                                         : std::string("would ") + actKindName(c.act) + " " + dir +
                                               "/" + sub + "/copy -> " + dir + "/" + sub + "/keep");
    }
}

// Each act done and undone on real files: the path shows the kept copy's bytes (or is
// gone to the folder), and Undo gives back the very file: bytes, permissions and times,
// sharing nothing with the kept copy. The journal entry goes through its text first, as
// after a restart.
TEST_F(Acts, EachActIsUndoneWithContentTimesAndPermissions) {
    for (ActKind act : {ActKind::HardLink, ActKind::SymbolicLink, ActKind::Move}) {
        SCOPED_TRACE(actKindName(act));
        rows = FileRecordStore{};
        const std::string sub = std::string("sub/") + actKindName(act);
        QDir().mkpath(QString::fromStdString(dir + "/" + sub));
        const std::string keep = dir + "/" + sub + "/keep", copy = dir + "/" + sub + "/copy";
        std::ofstream(keep) << "twelve bytes";
        std::ofstream(copy) << "twelve bytes";
        ::chmod(copy.c_str(), 0604);
        const timespec times[2] = {{1000000000, 111}, {1200000000, 222}};
        ::utimensat(AT_FDCWD, copy.c_str(), times, 0);
        listFile(sub + "/keep");
        listFile(sub + "/copy");
        group();
        const ino_t keepInode = lstatOf(keep).st_ino;

        DeleteSession session(std::make_shared<const FileRecordStore>(rows), request(act, {1}),
                              probeDisk, hashFileNow);
        session.planHere();
        Quiet quiet;
        const DeleteResult result = session.carryOut(0, quiet, 5);
        ASSERT_EQ(result.acted.size(), 1u);
        ASSERT_EQ(result.acted[0].status, ActStatus::Done) << result.acted[0].message;
        EXPECT_EQ(result.removed, std::vector<size_t>{1});
        ASSERT_TRUE(result.journal);
        if (act == ActKind::HardLink) {
            EXPECT_EQ(lstatOf(copy).st_ino, keepInode);
        }
        if (act == ActKind::SymbolicLink) {
            EXPECT_TRUE(S_ISLNK(lstatOf(copy).st_mode));
            EXPECT_EQ(readAll(copy), "twelve bytes");
        }
        if (act == ActKind::Move) {
            EXPECT_FALSE(platform::pathExists(copy));
            EXPECT_EQ(readAll(dir + "/moved/sub/move/copy"), "twelve bytes");
        }

        const std::optional<std::deque<UndoAction>> read =
            UndoJournal::parse(UndoJournal::serialise({*result.journal}));
        ASSERT_TRUE(read && read->size() == 1);
        UndoAction again = read->front();
        again.rows = result.journal->rows; // the list's part is not written
        again.listGeneration = 5;
        FileRecordStore left = rows;
        left.removeRows({false, true});
        const ListUndo undone = undoOnList(left, again, 5);
        EXPECT_EQ(undone.problems, "");
        EXPECT_EQ(undone.returnedRows, std::vector<size_t>{1});
        const struct stat st = lstatOf(copy);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_NE(st.st_ino, keepInode);
        EXPECT_EQ(st.st_mode & 07777, 0604u);
        EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
        EXPECT_EQ(st.st_mtim.tv_nsec, 222);
        EXPECT_EQ(readAll(copy), "twelve bytes");
        EXPECT_EQ(readAll(keep), "twelve bytes");
    }
}

// Between the plan and the act: the kept copy edited (nothing is done to its copy), a
// move target taken (the file stays); and a replacement whose kept copy was edited after
// the act cannot be undone: its original bytes are gone, and nothing is touched.
TEST_F(Acts, ChangesAfterThePlanLeaveTheFilesAlone) {
    add("keep", "same bytes");
    add("copy", "same bytes");
    add("sub/keep", "more bytes!");
    add("sub/copy", "more bytes!");
    group();
    DeleteSession linking(std::make_shared<const FileRecordStore>(rows),
                          request(ActKind::HardLink, {1}), probeDisk, hashFileNow);
    linking.planHere();
    DeleteSession moving(std::make_shared<const FileRecordStore>(rows), request(ActKind::Move, {3}),
                         probeDisk, hashFileNow);
    moving.planHere();
    ASSERT_EQ(std::as_const(linking).plan().remove.size(), 1u);
    ASSERT_EQ(std::as_const(moving).plan().remove.size(), 1u);
    std::ofstream(dir + "/keep") << "edited!!!!";
    QDir().mkpath(QString::fromStdString(dir + "/moved/sub"));
    std::ofstream(dir + "/moved/sub/copy") << "taken";
    Quiet quiet;
    const DeleteResult linked = linking.carryOut(0, quiet, 1);
    const DeleteResult moved = moving.carryOut(0, quiet, 1);
    ASSERT_EQ(linked.acted.size(), 1u);
    EXPECT_EQ(linked.acted[0].status, ActStatus::Changed);
    ASSERT_EQ(moved.acted.size(), 1u);
    EXPECT_EQ(moved.acted[0].status, ActStatus::TargetExists);
    EXPECT_TRUE(linked.removed.empty() && moved.removed.empty());
    EXPECT_FALSE(linked.journal || moved.journal);
    EXPECT_EQ(readAll(dir + "/copy"), "same bytes");
    EXPECT_EQ(readAll(dir + "/sub/copy"), "more bytes!");
    EXPECT_EQ(readAll(dir + "/moved/sub/copy"), "taken");

    // A symbolic link to "sub/keep", then the kept copy edited.
    DeleteSession symlinking(std::make_shared<const FileRecordStore>(rows),
                             request(ActKind::SymbolicLink, {3}), probeDisk, hashFileNow);
    symlinking.planHere();
    const DeleteResult result = symlinking.carryOut(0, quiet, 1);
    ASSERT_TRUE(result.journal);
    std::ofstream(dir + "/sub/keep") << "MORE BYTES!";
    const UndoOutcome outcome = reverseOnDisk(*result.journal);
    ASSERT_EQ(outcome.acts.size(), 1u);
    EXPECT_FALSE(outcome.acts[0].done);
    EXPECT_NE(outcome.acts[0].why, "");
    EXPECT_TRUE(S_ISLNK(lstatOf(dir + "/sub/copy").st_mode));
}

// The journal as a restarted program reads it, with the rows of the list it left.
UndoAction journalled(const UndoAction& action) {
    const std::optional<std::deque<UndoAction>> read =
        UndoJournal::parse(UndoJournal::serialise({action}));
    EXPECT_TRUE(read && read->size() == 1);
    return read && !read->empty() ? read->front() : UndoAction{};
}

// Undoing a move removes the folders it made once they are empty again, and no other:
// not the destination that was there before, not one that holds something new.
TEST_F(Acts, UndoingAMoveRemovesOnlyTheEmptyFoldersItMade) {
    QDir().mkpath(QString::fromStdString(dir + "/sub/x"));
    QDir().mkpath(QString::fromStdString(dir + "/sub/y"));
    QDir().mkpath(QString::fromStdString(dir + "/moved")); // there before
    add("keep", "same bytes");
    add("sub/x/copy", "same bytes");
    add("sub/y/copy", "same bytes");
    group();
    DeleteSession session(std::make_shared<const FileRecordStore>(rows),
                          request(ActKind::Move, {1, 2}), probeDisk, hashFileNow);
    session.planHere();
    Quiet quiet;
    const DeleteResult result = session.carryOut(0, quiet, 1);
    ASSERT_TRUE(result.journal);
    ASSERT_EQ(result.removed, (std::vector<size_t>{1, 2}));
    std::ofstream(dir + "/moved/sub/y/new") << "the user's";

    const UndoOutcome outcome = reverseOnDisk(journalled(*result.journal));
    ASSERT_EQ(outcome.acts.size(), 2u);
    EXPECT_TRUE(outcome.acts[0].done && outcome.acts[1].done);
    EXPECT_EQ(readAll(dir + "/sub/x/copy"), "same bytes");
    for (const auto& [folder, stays] : std::vector<std::pair<std::string, bool>>{
             {"moved", true}, {"moved/sub", true}, {"moved/sub/y", true}, {"moved/sub/x", false}})
        EXPECT_EQ(platform::pathExists(dir + "/" + folder), stays) << folder;
}

// The extended attributes of a file replaced by a link come back with Undo.
TEST_F(Acts, UndoGivesBackTheExtendedAttributes) {
    std::ofstream(dir + "/keep") << "same bytes";
    std::ofstream(dir + "/copy") << "same bytes";
    const std::string value(3000, 'v');
    if (::setxattr((dir + "/copy").c_str(), "user.fenwa.note", value.data(), value.size(), 0) != 0)
        GTEST_SKIP() << "no user extended attributes here";
    listFile("keep");
    listFile("copy");
    group();
    DeleteSession session(std::make_shared<const FileRecordStore>(rows),
                          request(ActKind::HardLink, {1}), probeDisk, hashFileNow);
    session.planHere();
    Quiet quiet;
    const DeleteResult result = session.carryOut(0, quiet, 1);
    ASSERT_TRUE(result.journal);
    char read[4096];
    EXPECT_LT(::getxattr((dir + "/copy").c_str(), "user.fenwa.note", read, sizeof read), 0);

    const UndoOutcome outcome = reverseOnDisk(journalled(*result.journal));
    ASSERT_EQ(outcome.acts.size(), 1u);
    EXPECT_TRUE(outcome.acts[0].done) << outcome.acts[0].why;
    const ssize_t n = ::getxattr((dir + "/copy").c_str(), "user.fenwa.note", read, sizeof read);
    EXPECT_EQ(std::string(read, size_t(std::max<ssize_t>(n, 0))), value);
    EXPECT_LT(::getxattr((dir + "/keep").c_str(), "user.fenwa.note", read, sizeof read), 0);
}

// A hard link never joins two file systems: refused in the plan, before anything.
TEST_F(Acts, AHardLinkAcrossFileSystemsIsRefused) {
    const std::string other = dir + "/other";
    QDir().mkpath(QString::fromStdString(other));
    if (::mount("tmpfs", other.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    add("keep", "same bytes");
    add("other/copy", "same bytes");
    group();
    const DeletePlan plan =
        PlanDelete(rows, request(ActKind::HardLink, {1}), probeDisk, hashFileNow);
    ::umount(other.c_str());
    EXPECT_TRUE(plan.remove.empty());
    ASSERT_EQ(plan.kept.size(), 1u);
    EXPECT_EQ(plan.kept[0].reason, KeepReason::OtherFileSystem);
}

// A journal written before the acts still reads; an entry of a kind this program does
// not know (as the acts are to an older one) is skipped, the others kept.
TEST(ActJournal, OldAndUnknownEntriesParse) {
    const QByteArray text = R"({"format": "fenwa-undo-journal", "version": 1, "actions": [
        {"kind": "rename", "directory": "/p", "from": "a", "to": "b"},
        {"kind": "copy", "files": [{"path": "/p/x"}]},
        {"kind": "replace", "files": [{"act": "symlink", "path": "/p/c%FF", "keeper": "/p/k",
          "mode": "33188", "user": "0", "group": "0", "accessed": "-5", "modified": "7",
          "size": "3", "hash": "000000000000000a000000000000000b", "device": "1",
          "inode": "2", "link": "/p/k"}]},
        {"kind": "move", "files": [{"act": "hardlink", "path": "/p/d", "destination": "/q/d",
          "mode": "0", "user": "0", "group": "0", "accessed": "0", "modified": "0",
          "size": "0", "hash": "0", "device": "0", "inode": "0"}]}]})";
    const std::optional<std::deque<UndoAction>> read = UndoJournal::parse(text);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 2u); // the unknown kind and the damaged move are skipped
    EXPECT_EQ((*read)[0].kind, UndoKind::Rename);
    const UndoAction& replace = (*read)[1];
    ASSERT_EQ(replace.kind, UndoKind::Replace);
    ASSERT_EQ(replace.acted.size(), 1u);
    const ActedFile& f = replace.acted[0];
    EXPECT_EQ(f.path, "/p/c\xff");
    EXPECT_EQ(f.act, ActKind::SymbolicLink);
    EXPECT_EQ(f.meta.mode, 33188u);
    EXPECT_EQ(f.meta.atimeNs, -5);
    EXPECT_EQ(f.hash, (ContentHash{0xb, 0xa}));
    EXPECT_TRUE(f.left.symlink);
    EXPECT_EQ(f.left.linkText, "/p/k");
    // Written again, it reads the same.
    const auto again = UndoJournal::parse(UndoJournal::serialise(*read));
    ASSERT_TRUE(again && again->size() == 2u);
    EXPECT_EQ((*again)[1].acted[0].hash, f.hash);
    EXPECT_EQ((*again)[1].acted[0].meta.atimeNs, -5);
    EXPECT_EQ((*again)[1].acted[0].meta.mtimeNs, 7);
    EXPECT_EQ((*again)[1].acted[0].left.identity, (platform::FileIdentity{1, 2}));
}
