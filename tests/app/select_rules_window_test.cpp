// Selecting by rule in the main window, then deleting through the planner: a protected
// file is its group's keeper and what is left on disk, and a protected file survives a
// Delete answered No, whether its listed directory is marked or a folder of the options
// protects it.
#include <QComboBox>
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
    QString picked; // what the directory picker answers
    int rowOf(const QString& relative) const {
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            if (QFile::decodeName(w->rowPath(r)) == path(relative))
                return r;
        return -1;
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
        s.pickDirectory = [this](QWidget*, const QString&) { return std::optional(picked); };
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
        // The protected, oldest x.jpg is its group's keeper: the rule keeps no other copy
        // of it. The newest y.txt is kept.
        QVERIFY(choose(*w, "lvFiles", "miKeepNewest"));
        QVERIFY(!selectionNote(*w).contains("left for you"));
        QCOMPARE(selectedPaths(), (QStringList{path("a/x.jpg"), path("a/y.txt"), path("b/x.jpg")}));
        QVERIFY(selectionNote(*w).contains("3 files, 17 bytes"));
        // The selection is the user's to change: Invert within groups, and back.
        QVERIFY(choose(*w, "lvFiles", "miInvertSelection"));
        QCOMPARE(selectedPaths(), (QStringList{path("b/y.txt"), path("ref/x.jpg")}));
        QVERIFY(choose(*w, "lvFiles", "miInvertSelection"));
        pressInList(*w, Qt::Key_Delete);
        for (const char* gone : {"a/x.jpg", "a/y.txt", "b/x.jpg"})
            QVERIFY2(!QFile::exists(path(gone)), gone);
        for (const char* kept : {"b/y.txt", "ref/x.jpg"})
            QVERIFY2(QFile::exists(path(kept)), kept);
        QCOMPARE(model(*w)->rowCount(), 2);
    }

    void aFolderProtectedInTheOptionsIsKeptMarkedAndAskedAbout() {
        // b/sub is no listed directory: the options' list protects it.
        QVERIFY(QDir().mkpath(path("b/sub")));
        for (const char* f : {"a/q.dat", "b/q.dat", "b/sub/q.dat"})
            addFile(f, 9, 30);
        picked = path("b/sub");
        click(*w, "btnAddProtected");
        QCOMPARE(part<QComboBox>(*w, "cbProtected")->count(), 1);
        findDuplicates(*w);
        QCOMPARE(model(*w)->rowCount(), 3);
        const int sub = rowOf("b/sub/q.dat");
        QVERIFY(sub >= 0);
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            QCOMPARE(model(*w)->isProtectedRow(r), r == sub);
        QVERIFY(model(*w)
                    ->index(sub, ColName)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains("Protected folder"));
        QVERIFY(model(*w)->index(sub, ColName).data(Qt::FontRole).value<QFont>().italic());
        // Keeping the one under b would keep b/q.dat besides the protected file.
        picked = path("b");
        QVERIFY(choose(*w, "lvFiles", "miKeepUnder"));
        QVERIFY(!selectionNote(*w).contains("left for you"));
        QCOMPARE(selectedPaths(), (QStringList{path("a/q.dat"), path("b/q.dat")}));

        clickRow(*w, sub);
        QTRY_VERIFY2(selectionNote(*w).contains("selected: 1 file, "),
                     qPrintable(selectionNote(*w)));
        prompts.questions.clear();
        pressInList(*w, Qt::Key_Delete);
        QCOMPARE(prompts.questions.size(), 1);
        QVERIFY(prompts.questions.front().contains(path("b/sub/q.dat")));
        QVERIFY(QFile::exists(path("b/sub/q.dat")));
        QCOMPARE(model(*w)->rowCount(), 3);

        // Removed from the list, the folder protects nothing more, and its row shows it.
        click(*w, "btnDelProtected");
        QVERIFY(!model(*w)->isProtectedRow(sub));
        QVERIFY(!model(*w)->index(sub, ColName).data(Qt::FontRole).isValid());
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
