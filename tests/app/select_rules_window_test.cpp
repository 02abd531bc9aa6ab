// Selecting by rule in the main window, then deleting through the planner: what is left
// on disk is the kept file and the protected one, and a protected file survives a
// Delete answered No.
#include <QListWidget>
#include <QTemporaryDir>
#include <fstream>
#include <utime.h>

#include "recordedmessages.h"
#include "shellfiles.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

// Answers every question Yes but the one about protected files.
struct ScriptedPrompts : platform::ShellPrompts {
    QStringList questions;
    bool protectedAnswer = false;
    bool askYesNo(const std::string& q) override {
        questions << QString::fromStdString(q);
        return questions.back().contains("protected") ? protectedAnswer : true;
    }
    void reportError(const std::string&) override {}
};

} // namespace

class SelectRulesWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    RecordedMessages messages;
    ScriptedPrompts prompts;
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;

    QString path(const QString& relative) const { return tmp.path() + "/" + relative; }
    // A file of `size` bytes last written `minute` minutes after a fixed moment.
    void addFile(const QString& relative, int size, int minute) {
        const QByteArray p = QFile::encodeName(path(relative));
        std::ofstream(p.toStdString(), std::ios::binary) << std::string(size_t(size), 'x');
        const utimbuf times{1'600'000'000 + minute * 60, 1'600'000'000 + minute * 60};
        QCOMPARE(::utime(p.constData(), &times), 0);
    }
    QStringList selectedPaths() const {
        QStringList paths;
        for (const QModelIndex& index : fileList(*w)->selectionModel()->selectedRows())
            paths << QFile::decodeName(w->rowPath(index.row()));
        paths.sort();
        return paths;
    }

private slots:
    void initTestCase() {
        for (const char* d : {"a", "b", "ref"})
            QVERIFY(QDir().mkpath(path(d)));
        addFile("ref/x.jpg", 5, 0);
        addFile("a/x.jpg", 5, 10);
        addFile("b/x.jpg", 5, 20);
        addFile("a/y.txt", 7, 10);
        addFile("b/y.txt", 7, 20);
        MainWindowServices s;
        s.messages = &messages;
        s.shellPrompts = &prompts;
        s.pickDirectory = [this](QWidget*, const QString&) {
            return std::optional<QString>(path("b"));
        };
        QVERIFY(openMainWindow(progress, viewer, w, s));
        tick(*w, "ckNoConfirm");
        tick(*w, "ckNoRecycle");
        for (const char* d : {"a", "b", "ref"})
            addDirectory(*w, path(d));
        // "ref" protected through the directory list's menu.
        auto* lstDir = part<QListWidget>(*w, "lstDir");
        QTest::mouseClick(lstDir->viewport(), Qt::LeftButton, {},
                          lstDir->visualItemRect(lstDir->item(2)).center());
        QVERIFY(!action(*w, "miProtectDir")->isChecked());
        QVERIFY(choose(*w, "lstDir", "miProtectDir"));
        QCOMPARE(w->protectedDirectories(),
                 std::vector<std::string>{QFile::encodeName(path("ref")).toStdString()});
        findDuplicates(*w);
        QCOMPARE(model(*w)->rowCount(), 5);
    }

    void aRuleSelectsAndDeleteLeavesTheKeptAndProtectedFiles() {
        QVERIFY(offered(*w, "lvFiles", "miSelect"));
        // The newest is kept in each group; the protected, oldest x.jpg is never selected.
        QVERIFY(choose(*w, "lvFiles", "miKeepNewest"));
        QVERIFY(!selectionNote(*w).contains("left for you"));
        QCOMPARE(selectedPaths(), (QStringList{path("a/x.jpg"), path("a/y.txt")}));
        QVERIFY(selectionNote(*w).contains("2 files, 12 bytes"));
        // The selection is the user's to change: Invert within groups, and back.
        QVERIFY(choose(*w, "lvFiles", "miInvertSelection"));
        QCOMPARE(selectedPaths(),
                 (QStringList{path("b/x.jpg"), path("b/y.txt"), path("ref/x.jpg")}));
        QVERIFY(choose(*w, "lvFiles", "miInvertSelection"));
        pressInList(*w, Qt::Key_Delete);
        QVERIFY(!QFile::exists(path("a/x.jpg")) && !QFile::exists(path("a/y.txt")));
        for (const char* kept : {"b/x.jpg", "b/y.txt", "ref/x.jpg"})
            QVERIFY2(QFile::exists(path(kept)), kept);
        QCOMPARE(model(*w)->rowCount(), 3);
    }

    void aProtectedFileSurvivesADeleteAnsweredNo() {
        // Kept under the chosen directory: b/x.jpg stays, and ref/x.jpg is protected.
        QVERIFY(choose(*w, "lvFiles", "miKeepUnder"));
        QVERIFY(!selectionNote(*w).contains("left for you"));
        QVERIFY(selectedPaths().isEmpty());
        QVERIFY(!offered(*w, "lvFiles", "miClearSelection")); // nothing to clear
        int refRow = -1;
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            if (QFile::decodeName(w->rowPath(r)) == path("ref/x.jpg"))
                refRow = r;
        QVERIFY(refRow >= 0);
        clickRow(*w, refRow);
        QTRY_VERIFY2(selectionNote(*w).contains("selected: 1 file, "),
                     qPrintable(selectionNote(*w)));
        prompts.questions.clear();
        pressInList(*w, Qt::Key_Delete);
        QCOMPARE(prompts.questions.size(), 1);
        QVERIFY(prompts.questions.front().contains(path("ref/x.jpg")));
        QVERIFY(QFile::exists(path("ref/x.jpg")));
        QCOMPARE(model(*w)->rowCount(), 3);
    }

    void captionsInChinese() {
        tick(*w, "rbChinese");
        QCOMPARE(action(*w, "miProtectDir")->text(), QStringLiteral("保護 (不刪除)"));
        QCOMPARE(part<QMenu>(*w, "miSelect")->title(), QStringLiteral("選取"));
        tick(*w, "rbEnglish");
        QCOMPARE(part<QMenu>(*w, "miSelect")->title(), QStringLiteral("Select"));
    }

    void cleanupTestCase() {
        w.reset();
        viewer.reset();
        progress.reset();
    }
};

QTEST_MAIN(SelectRulesWindowTest)
#include "select_rules_window_test.moc"
