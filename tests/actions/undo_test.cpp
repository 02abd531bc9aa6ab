// The undo journal (its file, its capacity, damaged files) and where restored rows go.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "filelock.h"
#include "resultlist.h"
#include "undo.h"
#include "undojournal.h"
#include "undorows.h"

using namespace fenwa;
using namespace fenwa::actions;

namespace {

UndoAction renameAction(const std::string& from, const std::string& to) {
    UndoAction a;
    a.kind = UndoKind::Rename;
    a.directory = "/photos/\xff raw";
    a.oldName = from;
    a.newName = to;
    a.renamed = {0xfedcba9876543210ull, 42};
    return a;
}

UndoAction trashAction(const std::string& path) {
    UndoAction a;
    a.kind = UndoKind::Trash;
    a.trashed.push_back({path, "2026-12-08T10:41:51", 1796726511, "/home/u/Trash/files/x"});
    a.rows.push_back({}); // in memory only
    a.listGeneration = 7;
    return a;
}

} // namespace

TEST(UndoJournal, ANewJournalReadsWhatTheLastOneWrote) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("data/Fenwa/undo-journal.json"); // folders made on save
    {
        UndoJournal journal(path);
        ASSERT_TRUE(journal.load()); // no file yet: empty
        EXPECT_TRUE(journal.empty());
        EXPECT_TRUE(journal.push(trashAction("/p/caf\xe9 100%.jpg")));
        EXPECT_TRUE(journal.push(renameAction("old\xfe.jpg", "new name.jpg")));
    }
    UndoJournal reread(path);
    ASSERT_TRUE(reread.load());
    ASSERT_EQ(reread.size(), 2u);
    const UndoAction& rename = reread.actions()[1];
    EXPECT_EQ(rename.kind, UndoKind::Rename);
    EXPECT_EQ(rename.directory, "/photos/\xff raw");
    EXPECT_EQ(rename.oldName, "old\xfe.jpg");
    EXPECT_EQ(rename.newName, "new name.jpg");
    EXPECT_EQ(rename.renamed, (platform::FileIdentity{0xfedcba9876543210ull, 42}));
    const UndoAction& trash = reread.actions()[0];
    ASSERT_EQ(trash.trashed.size(), 1u);
    EXPECT_EQ(trash.trashed[0].originalPath, "/p/caf\xe9 100%.jpg");
    EXPECT_EQ(trash.trashed[0].deletionDate, "2026-12-08T10:41:51");
    EXPECT_EQ(trash.trashed[0].deletedAt, 1796726511);
    EXPECT_EQ(trash.trashed[0].trashedAs, "/home/u/Trash/files/x");
    // The rows belong to the run that made them.
    EXPECT_TRUE(trash.rows.empty());
    EXPECT_EQ(trash.listGeneration, 0u);

    // Undo takes the most recent first, and the file follows.
    EXPECT_EQ(reread.takeLast()->kind, UndoKind::Rename);
    UndoJournal third(path);
    third.load();
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(third.last()->kind, UndoKind::Trash);
}

TEST(UndoJournal, AFileThatCannotBeWrittenIsReported) {
    QTemporaryDir tmp;
    QFile blocker(tmp.filePath("blocker")); // where the journal's folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    UndoJournal journal(tmp.filePath("blocker/journal.json"));
    EXPECT_FALSE(journal.push(renameAction("x", "y")));
    EXPECT_EQ(journal.size(), 1u); // still undoable in this run
    bool saved = true;
    EXPECT_TRUE(journal.takeLast(&saved).has_value());
    EXPECT_FALSE(saved);
}

TEST(UndoJournal, KeepsTheLastHundredActions) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("journal.json");
    UndoJournal journal(path);
    for (int i = 0; i < 130; ++i)
        EXPECT_TRUE(journal.push(renameAction("a" + std::to_string(i), "b" + std::to_string(i))));
    EXPECT_EQ(journal.size(), UndoJournal::Capacity);
    EXPECT_EQ(journal.actions().front().oldName, "a30");
    EXPECT_EQ(journal.last()->oldName, "a129");
    UndoJournal reread(path);
    reread.load();
    EXPECT_EQ(reread.size(), 100u);
    EXPECT_EQ(reread.actions().front().oldName, "a30");
}

TEST(UndoJournal, ADamagedFileIsAnEmptyJournalThatCanBeWrittenAgain) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("journal.json");
    for (const QByteArray& garbage :
         {QByteArray("\x00\x01 not json", 10), QByteArray("[1, 2, 3]"),
          QByteArray(R"({"format":"something else","version":1,"actions":[]})"),
          QByteArray(R"({"format":"fenwa-undo-journal","version":1,"actions":[)")}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(garbage);
        f.close();
        UndoJournal journal(path);
        EXPECT_FALSE(journal.load()) << garbage.toStdString();
        EXPECT_TRUE(journal.empty());
        EXPECT_TRUE(journal.push(renameAction("x", "y")));
        EXPECT_NE(journal.problem(), "");
        UndoJournal reread(path);
        EXPECT_TRUE(reread.load());
        EXPECT_EQ(reread.size(), 1u);
        // Never written over: the damaged bytes are kept beside, each under its own name.
        bool kept = false;
        for (const QString& name : QDir(tmp.path()).entryList({"journal.json.damaged*"})) {
            QFile aside(tmp.filePath(name));
            kept = kept || (aside.open(QIODevice::ReadOnly) && aside.readAll() == garbage);
        }
        EXPECT_TRUE(kept);
    }
    // Entries that make no sense are skipped; the sound ones stay.
    const QByteArray mixed = R"({"format":"fenwa-undo-journal","version":1,"actions":[
        {"kind":"rename","directory":"/d","from":"","to":"b"},
        {"kind":"trash","files":[]},
        {"kind":"explode"},
        {"kind":"trash","files":[{"path":"/d/\u00e9","deletedAt":5}]},
        {"kind":"rename","directory":"/d","from":"a%FF","to":"b"}]})";
    const auto parsed = UndoJournal::parse(mixed);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->size(), 1u);
    EXPECT_EQ(parsed->front().oldName, "a\xff");
}

// The window and fenwa-cli, each with the journal loaded, act and undo in turn: neither
// loses what the other wrote, Undo takes the latest of either, and an entry keeps the
// rows of its own run's list.
TEST(UndoJournal, TwoProcessesSharingTheFileLoseNothing) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("journal.json");
    UndoJournal window(path), cli(path);
    ASSERT_TRUE(window.load() && cli.load());
    ASSERT_TRUE(window.push(trashAction("/p/a.jpg")));
    ASSERT_TRUE(cli.push(renameAction("c", "d")));
    ASSERT_TRUE(window.push(renameAction("e", "f")));
    const auto names = [&path] {
        UndoJournal reread(path);
        reread.load();
        std::vector<std::string> out;
        for (const UndoAction& a : reread.actions())
            out.push_back(a.kind == UndoKind::Trash ? a.trashed[0].originalPath : a.oldName);
        return out;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"/p/a.jpg", "c", "e"}));
    EXPECT_EQ(window.actions().front().listGeneration, 7u);
    EXPECT_EQ(window.actions().front().rows.size(), 1u);

    EXPECT_EQ(cli.takeLast()->oldName, "e");
    EXPECT_EQ(window.takeLast()->oldName, "c"); // not "e" a second time
    EXPECT_EQ(names(), std::vector<std::string>{"/p/a.jpg"});
    ASSERT_TRUE(cli.reload());
    ASSERT_EQ(cli.size(), 1u);

    // Held by another process: left as it is, the change kept for this run, and written
    // with the next change once free.
    {
        platform::FileLock other;
        ASSERT_EQ(other.lock((path + ".lock").toStdString(), 0),
                  platform::FileLock::Result::Locked);
        EXPECT_FALSE(cli.push(renameAction("g", "h")));
        EXPECT_NE(cli.problem(), "");
        EXPECT_EQ(cli.size(), 2u);
        EXPECT_EQ(names(), std::vector<std::string>{"/p/a.jpg"});
    }
    ASSERT_TRUE(cli.push(renameAction("i", "j")));
    EXPECT_EQ(names(), (std::vector<std::string>{"/p/a.jpg", "g", "i"}));
}

TEST(UndoRename, RenamesBackOnlyTheFileItRenamed) {
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    const auto read = [&](const char* name) {
        std::ifstream in(dir + "/" + name);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto renamed = [&](const char* from, const char* to) {
        std::ofstream(dir + "/" + from) << from;
        EXPECT_TRUE(platform::renameNoReplace(dir + "/" + from, dir + "/" + to).renamed);
        UndoAction a;
        a.kind = UndoKind::Rename;
        a.directory = dir;
        a.oldName = from;
        a.newName = to;
        platform::FileState now;
        EXPECT_TRUE(platform::statFileNow(dir + "/" + to, now));
        a.renamed = now.identity;
        return a;
    };

    const UndoAction plain = renamed("a", "b");
    EXPECT_TRUE(reverseOnDisk(plain).renamedBack.renamed);
    EXPECT_EQ(read("a"), "a");

    // Another file took the new name since: neither it nor anything else moves.
    const UndoAction replaced = renamed("c", "d");
    std::ofstream(dir + "/x") << "stranger"; // made first, so never on the same inode
    ASSERT_EQ(::unlink((dir + "/d").c_str()), 0);
    ASSERT_TRUE(platform::renameNoReplace(dir + "/x", dir + "/d").renamed);
    for (UndoAction action : {replaced, [&] {
                                  UndoAction unknown = replaced; // journalled without identity
                                  unknown.renamed = {};
                                  return unknown;
                              }()}) {
        const UndoOutcome outcome = reverseOnDisk(action);
        EXPECT_TRUE(outcome.notTheRenamedFile);
        EXPECT_FALSE(outcome.renamedBack.renamed);
        EXPECT_EQ(read("d"), "stranger");
        EXPECT_FALSE(platform::pathExists(dir + "/c"));
    }
}

namespace {

RemovedRow removed(const FileRecordStore& before, size_t row, long above, long below) {
    RemovedRow r;
    r.directory = before.directory(row);
    r.name = std::string(before.name(row));
    r.size = before.fileSize(row);
    r.minute = before.minute(row);
    r.index = row;
    r.group = before.group(row);
    if (above >= 0)
        r.above = {true, before.directory(size_t(above)), std::string(before.name(size_t(above)))};
    if (below >= 0)
        r.below = {true, before.directory(size_t(below)), std::string(before.name(size_t(below)))};
    return r;
}

// A list whose groups are its runs of one size, as a search by size recorded them.
FileRecordStore listOf(const std::vector<std::pair<const char*, int64_t>>& rows) {
    FileRecordStore store;
    const uint32_t d = store.internDirectory("/d");
    for (const auto& [name, size] : rows)
        store.append(d, name, size, 0);
    recordGroups(store, Criteria{false, true, false});
    return store;
}

} // namespace

TEST(RestoredRows, GoBackBetweenTheirNeighboursOrIntoTheirGroupAndNeverSplitOne) {
    // Groups by size: [a b] [c d e] [f].
    const FileRecordStore before =
        listOf({{"a", 1}, {"b", 1}, {"c", 2}, {"d", 2}, {"e", 2}, {"f", 3}});
    const auto keeping = [&](std::vector<uint32_t> rows) {
        FileRecordStore now;
        now.appendRows(before, rows);
        return now;
    };
    // d and e left together, b alone.
    const std::vector<RemovedRow> rows = {removed(before, 1, 0, 2), removed(before, 3, 2, 5),
                                          removed(before, 4, 2, 5)};
    auto placed = placeRestoredRows(keeping({0, 2, 5}), rows);
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_EQ(placed[0].position, 1u); // after a
    EXPECT_EQ(placed[0].rows, std::vector<size_t>{0});
    EXPECT_EQ(placed[1].position, 2u); // after c, d before e
    EXPECT_EQ(placed[1].rows, (std::vector<size_t>{1, 2}));

    // The row above is gone too: before the row below. Neither: after the last row of
    // its group wherever that is, or else at the end.
    EXPECT_EQ(placeRestoredRows(keeping({2, 5}), {rows[0]})[0].position, 0u);
    RemovedRow lost = rows[1];
    lost.above = lost.below = {};
    EXPECT_EQ(placeRestoredRows(keeping({0, 4, 1, 5}), {lost})[0].position, 2u);
    EXPECT_EQ(placeRestoredRows(keeping({0, 5}), {lost})[0].position, 2u);
    // Rows of the same size from another search are not its group.
    const FileRecordStore strangers = listOf({{"x", 2}, {"y", 2}, {"z", 9}});
    EXPECT_EQ(placeRestoredRows(strangers, {lost})[0].position, 3u);

    // Sorted since: the neighbour above now heads a group of others, which stays whole.
    const FileRecordStore sorted = listOf({{"a", 1}, {"q", 1}, {"c", 2}, {"f", 3}});
    const RemovedRow three = removed(listOf({{"a", 1}, {"t", 3}}), 1, 0, -1);
    EXPECT_EQ(placeRestoredRows(sorted, {three})[0].position, 2u);
    // A row of that very group may go inside it.
    RemovedRow member = rows[0];
    member.group = sorted.group(0);
    EXPECT_EQ(placeRestoredRows(sorted, {member})[0].position, 1u);
}
