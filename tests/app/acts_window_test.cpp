// Moving and replacing from the list's menu: the selected copies are moved to a folder or
// replaced by links or clones of their kept copy after one question, their rows leave the
// list, the status bar says what was done, and Undo brings files and rows back.
#include <QTemporaryDir>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "recordedmessages.h"
#include "replacefile.h"
#include "shellfiles.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

struct YesPrompts : platform::ShellPrompts {
    QStringList questions;
    QStringList errors;
    bool askYesNo(const std::string& q) override {
        questions << QString::fromStdString(q);
        return true;
    }
    void reportError(const std::string& text) override { errors << QString::fromStdString(text); }
};

std::string contentOf(const QString& path) {
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct stat lstatOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        st.st_nlink = 0;
    return st;
}

} // namespace

class ActsWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir home; // the test's own XDG folders
    std::unique_ptr<QTemporaryDir> tmp;
    RecordedMessages messages;
    YesPrompts prompts;
    QString picked; // the folder dialog's answer
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;

    QString path(const QString& relative) const { return tmp->path() + "/files/" + relative; }
    void addFile(const QString& relative, const std::string& bytes) {
        QDir().mkpath(QFileInfo(path(relative)).path());
        std::ofstream(QFile::encodeName(path(relative)).toStdString(), std::ios::binary) << bytes;
    }
    QStringList rowPaths() const {
        QStringList paths;
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            paths << QFile::decodeName(w->rowPath(r));
        return paths;
    }
    // The directories listed as a user may type them, with a trailing slash.
    void search(const char* button, const QStringList& directories) {
        for (const QString& directory : directories)
            addDirectory(*w, path(directory) + "/");
        clickAndWait(*w, button);
    }
    // Opens the list's menu over a row and clicks the item, as the user does.
    void clickInMenu(const char* item) {
        QMenu* menu = openContextMenu(*w, "lvFiles", rowRect(*w, 0).center());
        QVERIFY(menu && QTest::qWaitForWindowExposed(menu));
        QAction* a = menuItem(*menu, item);
        QVERIFY2(a->isEnabled(), item);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
        QTRY_VERIFY(!menu->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 30000);
    }

private slots:
    void initTestCase() {
        QVERIFY(home.isValid());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            ::setenv(name, QFile::encodeName(home.path()).constData(), 1);
    }

    void init() {
        messages = {};
        prompts = {};
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
        picked = tmp->path() + "/moved";
        MainWindowServices s;
        s.messages = &messages;
        s.shellPrompts = &prompts;
        s.undoJournalPath = tmp->path() + "/undo-journal.json";
        s.pickDirectory = [this](QWidget*, const QString&) { return std::optional(picked); };
        QVERIFY(openMainWindow(progress, viewer, w, s));
    }

    void cleanup() {
        w.reset();
        viewer.reset();
        progress.reset();
        tmp.reset();
    }

    void actOnTheSelectedCopies_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("noConfirmation");
        QTest::addColumn<QString>("asked"); // a word of the question; empty: none asked
        QTest::addColumn<QString>("note");  // the status bar's account, after the count
        QTest::newRow("move") << "miMoveTo" << false << "Move 3 files"
                              << "files (15 bytes) moved to";
        QTest::newRow("hard link") << "miHardLink" << false << "hard links"
                                   << "files replaced by hard links, 10 bytes freed";
        QTest::newRow("symbolic link") << "miSymLink" << true << ""
                                       << "files replaced by symbolic links";
        QTest::newRow("reflink") << "miReflink" << false << "reflink clones"
                                 << "files replaced by reflink clones";
    }

    // One group of the same size: the kept first row, two true copies and one file whose
    // bytes differ. A move takes all three; a replacement only the true copies, and names
    // the other.
    void actOnTheSelectedCopies() {
        QFETCH(QString, item);
        QFETCH(bool, noConfirmation);
        QFETCH(QString, asked);
        QFETCH(QString, note);
        addFile("d1/a.jpg", "same!");
        addFile("d2/a.jpg", "same!");
        addFile("d3/sub/b.jpg", "same!");
        addFile("d4/c.jpg", "other");
        tick(*w, "ckNoConfirm", noConfirmation);
        search("btnFindDuplicates", {"d1", "d2", "d3", "d4"});
        clickHeader(*w, ColDirectory); // the rows in the directories' order
        const QStringList before = rowPaths();
        QCOMPARE(before, (QStringList{path("d1/a.jpg"), path("d2/a.jpg"), path("d3/sub/b.jpg"),
                                      path("d4/c.jpg")}));
        const QString keeper = before[0];
        clickRow(*w, 1);
        clickRow(*w, 3, Qt::ShiftModifier);

        const bool moving = item == "miMoveTo";
        // A reflink clone needs a file system that shares blocks; without one the act is
        // refused for every file before anything happens.
        const bool refused = item == "miReflink" &&
                             !platform::canReflink(QFile::encodeName(keeper).toStdString(),
                                                   QFile::encodeName(path("d2")).toStdString())
                                  .ok;
        clickInMenu(qPrintable(item));

        if (refused) {
            QVERIFY(prompts.questions.isEmpty());
            QCOMPARE(messages.errors.size(), 1);
            QVERIFY(messages.errors[0].contains("reflink"));
            QCOMPARE(rowPaths(), before);
            QVERIFY(QFileInfo(path("d2/a.jpg")).isFile());
            QCOMPARE(lstatOf(path("d2/a.jpg")).st_nlink, nlink_t(1));
            return;
        }
        QCOMPARE(prompts.questions.size(), asked.isEmpty() ? 0 : 1);
        if (!asked.isEmpty())
            QVERIFY2(prompts.questions[0].contains(asked), qPrintable(prompts.questions[0]));
        QVERIFY(prompts.errors.isEmpty());
        const QStringList copies{path("d2/a.jpg"), path("d3/sub/b.jpg")};
        if (moving) {
            QVERIFY(messages.errors.isEmpty());
            // Each keeps its path below its listed directory.
            for (const char* relative : {"d2/a.jpg", "d3/sub/b.jpg", "d4/c.jpg"})
                QVERIFY(!QFileInfo::exists(path(relative)));
            QCOMPARE(contentOf(picked + "/a.jpg"), std::string("same!"));
            QCOMPARE(contentOf(picked + "/sub/b.jpg"), std::string("same!"));
            QCOMPARE(contentOf(picked + "/c.jpg"), std::string("other"));
            QCOMPARE(rowPaths(), QStringList{keeper});
        } else {
            // The file whose bytes differ is named and stays.
            QCOMPARE(messages.errors.size(), 1);
            QVERIFY(messages.errors[0].contains(path("d4/c.jpg")));
            QVERIFY(messages.errors[0].contains("differ"));
            QCOMPARE(rowPaths(), (QStringList{keeper, path("d4/c.jpg")}));
            const struct stat kept = lstatOf(keeper);
            for (const QString& copy : copies) {
                QCOMPARE(contentOf(copy), std::string("same!"));
                const struct stat now = lstatOf(copy);
                if (item == "miHardLink")
                    QVERIFY(now.st_ino == kept.st_ino && now.st_dev == kept.st_dev);
                else if (item == "miSymLink")
                    QCOMPARE(QFileInfo(copy).symLinkTarget(), keeper);
                else
                    QVERIFY(S_ISREG(now.st_mode) && now.st_ino != kept.st_ino);
            }
            QCOMPARE(kept.st_nlink, nlink_t(item == "miHardLink" ? 3 : 1));
        }
        // The panel is brought up to date once the window's events run.
        QTRY_VERIFY2(part<QLabel>(*w, "lblGroups")
                         ->text()
                         .startsWith(QString::number(moving ? 3 : 2) + " " + note),
                     qPrintable(part<QLabel>(*w, "lblGroups")->text()));

        // Undo puts back independent files at their paths, and their rows.
        QVERIFY(action(*w, "miUndo")->text().startsWith(moving ? "Undo Move" : "Undo Replace"));
        pressInList(*w, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(rowPaths(), before);
        for (const QString& copy : copies) {
            QVERIFY(QFileInfo(copy).isFile() && !QFileInfo(copy).isSymLink());
            QCOMPARE(contentOf(copy), std::string("same!"));
        }
        QCOMPARE(lstatOf(keeper).st_nlink, nlink_t(1));
        if (moving)
            QVERIFY(!QFileInfo::exists(picked + "/a.jpg"));
        QCOMPARE(messages.errors.size(), moving ? 0 : 1);

        // The kept copy is still the file the search read (a hard link to it moved its
        // status time): a Delete of every other file counts on it and goes through.
        tick(*w, "ckNoConfirm");
        tick(*w, "ckNoRecycle");
        clickRow(*w, 1);
        clickRow(*w, 3, Qt::ShiftModifier);
        pressInList(*w, Qt::Key_Delete);
        QCOMPARE(messages.errors.size(), moving ? 0 : 1);
        QCOMPARE(rowPaths(), QStringList{keeper});
    }

    // A list of every file has no kept copies: a replacement says so and touches nothing;
    // a move with the folder dialog cancelled does nothing.
    void refusedOrCancelledActsLeaveEverything() {
        addFile("d1/a.jpg", "same!");
        addFile("d2/a.jpg", "same!");
        search("btnFindAll", {"d1", "d2"});
        clickRow(*w, 1);
        clickInMenu("miHardLink");
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors[0].contains("Find Duplicates"));
        picked.clear();
        clickInMenu("miMoveTo");
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(prompts.questions.isEmpty());
        QCOMPARE(rowPaths(), (QStringList{path("d1/a.jpg"), path("d2/a.jpg")}));
        QCOMPARE(lstatOf(path("d2/a.jpg")).st_nlink, nlink_t(1));
        QVERIFY(!action(*w, "miUndo")->isEnabled());
    }
};

QTEST_MAIN(ActsWindowTest)
#include "acts_window_test.moc"
