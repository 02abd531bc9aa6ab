// Selecting by rule in the main window, then deleting through the planner: what is left
// on disk is the kept file and the protected one, and a protected file survives a
// Delete answered No.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>
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
        for (const QModelIndex& index : w->lvFiles->selectionModel()->selectedRows())
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
        w->pgOptions->ckNoConfirm->setChecked(true);
        w->pgOptions->ckNoRecycle->setChecked(true);
        for (const char* d : {"a", "b", "ref"})
            addDirectory(*w, path(d));
        // "ref" protected through the directory list's menu.
        w->dirBand->lstDir->setCurrentRow(2);
        w->dirBand->PopupMenu3->popup(w->dirBand->lstDir->mapToGlobal(QPoint(5, 5)));
        QVERIFY(w->dirBand->miProtectDir->isEnabled() && !w->dirBand->miProtectDir->isChecked());
        w->dirBand->miProtectDir->trigger();
        w->dirBand->PopupMenu3->hide();
        QCOMPARE(w->protectedDirectories(),
                 std::vector<std::string>{QFile::encodeName(path("ref")).toStdString()});
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 5);
    }

    void aRuleSelectsAndDeleteLeavesTheKeptAndProtectedFiles() {
        w->PopupMenu1Popup();
        QVERIFY(w->miSelect->menuAction()->isEnabled());
        // The newest is kept in each group; the protected, oldest x.jpg is never selected.
        QCOMPARE(w->SelectByRule(actions::KeepRule::Newest), size_t(0));
        QCOMPARE(selectedPaths(), (QStringList{path("a/x.jpg"), path("a/y.txt")}));
        QVERIFY(w->lblSelection->text().contains("2 files, 12 bytes"));
        // The selection is the user's to change: Invert within groups, and back.
        w->miInvertSelection->trigger();
        QCOMPARE(selectedPaths(),
                 (QStringList{path("b/x.jpg"), path("b/y.txt"), path("ref/x.jpg")}));
        w->miInvertSelection->trigger();
        QTest::keyClick(w->lvFiles, Qt::Key_Delete);
        waitUntilIdle(*w);
        QVERIFY(!QFile::exists(path("a/x.jpg")) && !QFile::exists(path("a/y.txt")));
        for (const char* kept : {"b/x.jpg", "b/y.txt", "ref/x.jpg"})
            QVERIFY2(QFile::exists(path(kept)), kept);
        QCOMPARE(w->lvFilesModel->rowCount(), 3);
    }

    void aProtectedFileSurvivesADeleteAnsweredNo() {
        // Kept under the chosen directory: b/x.jpg stays, and ref/x.jpg is protected.
        QCOMPARE(w->SelectByRule(actions::KeepRule::UnderDirectory), size_t(0));
        QVERIFY(selectedPaths().isEmpty());
        w->miClearSelection->trigger();
        int refRow = -1;
        for (int r = 0; r < w->lvFilesModel->rowCount(); ++r)
            if (QFile::decodeName(w->rowPath(r)) == path("ref/x.jpg"))
                refRow = r;
        QVERIFY(refRow >= 0);
        w->SelectRowAlone(refRow);
        prompts.questions.clear();
        QTest::keyClick(w->lvFiles, Qt::Key_Delete);
        waitUntilIdle(*w);
        QCOMPARE(prompts.questions.size(), 1);
        QVERIFY(prompts.questions.front().contains(path("ref/x.jpg")));
        QVERIFY(QFile::exists(path("ref/x.jpg")));
        QCOMPARE(w->lvFilesModel->rowCount(), 3);
    }

    void captionsInChinese() {
        w->SetLanguage(2);
        QCOMPARE(w->dirBand->miProtectDir->text(), QStringLiteral("保護 (不刪除)"));
        QCOMPARE(w->miSelect->menuAction()->text(), QStringLiteral("選取"));
        w->SetLanguage(1);
        QCOMPARE(w->miSelect->menuAction()->text(), QStringLiteral("Select"));
    }

    void cleanupTestCase() {
        w.reset();
        viewer.reset();
        progress.reset();
    }
};

QTEST_MAIN(SelectRulesWindowTest)
#include "select_rules_window_test.moc"
