#include <QListWidget>
#include <QProgressBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <fstream>

#include "progress.h"
#include "recordedmessages.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

void makeFile(const QString& path, int bytes = 0) {
    std::ofstream(QFile::encodeName(path).toStdString(), std::ios::binary)
        << std::string(size_t(bytes), 'x');
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    RecordedMessages messages;
    QStringList opened;
    std::optional<QString> nextPick;
    MainWindowServices::PickRequest lastPick;
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;
    std::unique_ptr<QTemporaryDir> tmp;

    QString dir(const QString& relative = {}) const {
        return relative.isEmpty() ? tmp->path() : tmp->path() + "/" + relative;
    }

    void typeDirectory(const QString& text) { typeInto(*w, "Edit1", text, true); }
    QListWidget* lstDir() const { return part<QListWidget>(*w, "lstDir"); }

    QStringList listedDirectories() const {
        QStringList out;
        for (int i = 0; i < lstDir()->count(); ++i)
            out << lstDir()->item(i)->text();
        return out;
    }

private slots:
    void init() {
        messages = {};
        opened.clear();
        nextPick.reset();
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
        MainWindowServices s;
        s.messages = &messages;
        s.shellOpen = [this](const std::string& target, const std::string&) {
            opened << QFile::decodeName(QByteArray::fromStdString(target));
        };
        s.pickFile = [this](QWidget*, const MainWindowServices::PickRequest& r) {
            lastPick = r;
            return nextPick;
        };
        QVERIFY(openMainWindow(progress, viewer, w, s));
    }

    void cleanup() {
        w.reset();
        viewer.reset();
        progress.reset();
        tmp.reset();
    }

    void createdState() {
        QCOMPARE(w->windowTitle(), QStringLiteral("Fenwa"));
        QCOMPARE(part<QLabel>(*w, "lblVersion")->text(), QStringLiteral("Version: 0.5"));
        QCOMPARE(part<QLabel>(*w, "lblDate")->text(), QStringLiteral("Date: 4/20/1998"));
        QCOMPARE(part<QTabWidget>(*w, "pgOptions")->currentWidget(),
                 part<QWidget>(*w, "tbsOptions"));
        QVERIFY(!part<QTimer>(*w, "Timer1")->isActive());
        QCOMPARE(part<QTimer>(*w, "Timer1")->interval(), 200);
        QVERIFY(!lineEdit(*w, "edTime")->isEnabled());
        QVERIFY(ticked(*w, "ckSize") && !ticked(*w, "ckName") && !ticked(*w, "ckTime"));
        QVERIFY(ticked(*w, "ckInclude"));
        QVERIFY(!part<QLabel>(*w, "Label1")->isVisible());
        QVERIFY(!w->isBusy());
        QVERIFY(!progress->isVisible());
        QCOMPARE(model(*w)->columnCount(), int(ListColumnCount));
        QCOMPARE(model(*w)->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Size"));
        QCOMPARE(fileList(*w)->columnWidth(0), 150);
        QCOMPARE(part(*w, "StatusPanel0")->width(), 80);
    }

    void programWindowsComeMainProgressViewer() {
        const EventRecorder created(QEvent::Create);
        MainWindowServices s;
        s.messages = &messages;
        const TfrmMain program(s);
        const auto at = [&created](const QObject* window) {
            return std::find(created.seen.begin(), created.seen.end(), window) -
                   created.seen.begin();
        };
        QVERIFY(at(&program) < at(program.progressWindow()));
        QVERIFY(at(program.progressWindow()) < at(program.viewer()));
        QVERIFY(at(program.viewer()) < qsizetype(created.seen.size()));
    }

    // A report of step i of n: panel 0 and the bar show the percentage at once, and the
    // status bar is painted before the report returns when the percentage is even.
    void progressReportRepaintsOnEvenPercentages_data() {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("painted");
        QTest::addRow("0 of 3") << 0 << 3 << "33%" << false;
        QTest::addRow("0 of 8") << 0 << 8 << "12%" << true; // 12.5, ties to even
        QTest::addRow("1 of 8") << 1 << 8 << "25%" << false;
        QTest::addRow("2 of 8") << 2 << 8 << "38%" << true; // 37.5
    }
    void progressReportRepaintsOnEvenPercentages() {
        QFETCH(int, step);
        QFETCH(int, count);
        QFETCH(QString, shown);
        QFETCH(bool, painted);
        QVERIFY(!progress->isVisible());
        const EventRecorder paints(QEvent::Paint, part(*w, "StatusBar"));
        w->showProgressPercent(ProgressPercent(uint64_t(step), uint64_t(count)));
        QCOMPARE(!paints.seen.empty(), painted);
        QCOMPARE(w->statusText(0), shown);
        QCOMPARE(QString::number(part<QProgressBar>(*progress, "Progress")->value()) + "%", shown);
        QVERIFY(progress->isVisible()); // shown by the report
        progress->hide();
    }

    void altXClosesFromAnyControl_data() {
        QTest::addColumn<QString>("focus");
        QTest::addRow("edit") << "Edit1";
        QTest::addRow("list") << "lvFiles";
    }
    void altXClosesFromAnyControl() {
        QFETCH(QString, focus);
        QWidget* target = part(*w, qPrintable(focus));
        target->setFocus();
        QTest::keyClick(target, Qt::Key_X);
        QVERIFY(w->isVisible());
        if (focus == "Edit1")
            QCOMPARE(lineEdit(*w, "Edit1")->text(), QStringLiteral("x")); // X alone types
        QTest::keyClick(target, Qt::Key_X, Qt::AltModifier);
        QVERIFY(!w->isVisible());
    }

    void narrowWindowKeepsLogoRightOfSeparator() {
        w->resize(600, 600);
        const QWidget *logo = part(*w, "Image1"), *bevel = part(*w, "Bevel3");
        QTRY_COMPARE(logo->x(), bevel->x() + bevel->width() + 2);
        w->resize(1400, 600);
        QTRY_VERIFY(logo->x() > bevel->x() + bevel->width() + 2);
        const int leftGap = logo->x() - (bevel->x() + bevel->width());
        const int rightGap = part(*w, "Panel1")->width() - (logo->x() + logo->width());
        QVERIFY(qAbs(leftGap - rightGap) <= 1);
    }

    void longStatusTextsNeverWidenTheWindow() {
        // The status bar's texts grow with the list (a long selection note, counts, a
        // cache problem): they are cut short, and the window can still be made narrow.
        const QString longText(3000, QLatin1Char('x'));
        for (const char* label : {"StatusPanel1", "lblSelection", "lblGroups", "lblTicksChanged"}) {
            part<QLabel>(*w, label)->setText(longText);
            part<QLabel>(*w, label)->show();
        }
        QCoreApplication::processEvents();
        // A laptop's screen and a desktop's: the window fits either and can be resized.
        QVERIFY(w->minimumSizeHint().width() <= 1366);
        for (const QSize screen : {QSize(1366, 768), QSize(1600, 1000), QSize(600, 600)}) {
            w->resize(screen);
            QTRY_COMPARE(w->width(), screen.width());
        }
    }

    void titleAndLogoClicks() {
        QTest::mouseClick(part<QLabel>(*w, "Label4"), Qt::LeftButton);
        QCOMPARE(messages.notices.size(), 1);
        QVERIFY(messages.notices[0].startsWith("Fenwa Version 0.5\nDate:4/20/1998\n\n"));
        QTest::mouseClick(part<QLabel>(*w, "Image1"), Qt::LeftButton);
        QCOMPARE(opened, QStringList{QString::fromLatin1(TfrmMain::MakerPage)});
    }

    void directoryValidationThroughTheEdit() {
        QDir(dir()).mkpath("pics/2020");
        QDir(dir()).mkpath("pic");
        typeDirectory("");
        QCOMPARE(messages.errors, QStringList{"您沒有輸入目錄, 不然就是目錄名稱輸入錯誤!"});
        typeDirectory(dir("pics"));
        QCOMPARE(listedDirectories(), QStringList{dir("pics")});
        QCOMPARE(lineEdit(*w, "Edit1")->text(), dir("pics")); // the edit keeps its text
        typeDirectory(dir("pics"));                           // already listed: silence
        QCOMPARE(messages.errors.size(), 1);
        typeDirectory(dir("pics/2020"));
        QCOMPARE(messages.errors.last(),
                 dir("pics/2020") + " 和 " + dir("pics") + " 是直系親屬, 不可同時存在!");
        typeDirectory(dir("pics") + "/");
        QCOMPARE(messages.errors.size(), 3);
        // A shared prefix is not kinship.
        typeDirectory(dir("pic"));
        QCOMPARE(listedDirectories(), (QStringList{dir("pics"), dir("pic")}));
        typeDirectory(dir());
        QCOMPARE(messages.errors.last(),
                 dir() + " 和 " + dir("pics") + " 是直系親屬, 不可同時存在!");
        // Existence is asked of the text as typed: on POSIX blanks belong to names.
        typeDirectory("  " + dir("pic") + "  ");
        QCOMPARE(messages.errors.last(),
                 QStringLiteral("您沒有輸入目錄, 不然就是目錄名稱輸入錯誤!"));
    }

    void directoryPickedWithTheDialog() {
        QDir(dir()).mkpath("pics");
        nextPick = dir("pics/does-not-exist.jpg");
        click(*w, "btnAddDir");
        QCOMPARE(listedDirectories(), QStringList{dir("pics")});
        QCOMPARE(lineEdit(*w, "Edit1")->text(), dir("pics"));
        // The first show applies the English texts of the dialog.
        QCOMPARE(lastPick.title, QStringLiteral("You can input any file name"));
        QCOMPARE(lastPick.initialDirectory, QString()); // the edit was empty
        QCOMPARE(lastPick.fileName, QStringLiteral("Any file name"));

        // With a directory in the edit the dialog starts there.
        nextPick.reset(); // cancelled
        click(*w, "btnAddDir");
        QCOMPARE(lastPick.initialDirectory, dir("pics"));
        QCOMPARE(lastPick.fileName, dir("pics") + "/Any File Name");
        QCOMPARE(listedDirectories(), QStringList{dir("pics")});
        QVERIFY(messages.errors.isEmpty());
    }

    void deletingSelectedEntriesKeepsTheOthersInOrder() {
        for (const char* d : {"a", "b", "c", "d"}) {
            QDir(dir()).mkpath(d);
            typeDirectory(dir(d));
        }
        QVERIFY(!offered(*w, "lstDir", "miDelItems"));
        QVERIFY(offered(*w, "lstDir", "miDelAllItems"));
        const auto clickEntry = [&](int i, Qt::KeyboardModifiers modifiers = {}) {
            const QRect r = lstDir()->visualItemRect(lstDir()->item(i));
            QTest::mouseClick(lstDir()->viewport(), Qt::LeftButton, modifiers, r.center());
        };
        clickEntry(0);
        clickEntry(2, Qt::ControlModifier);
        QVERIFY(offered(*w, "lstDir", "miDelItems"));
        click(*w, "btnSubDir");
        QCOMPARE(listedDirectories(), (QStringList{dir("b"), dir("d")}));
        // A click on an entry copies it into the edit.
        clickEntry(1);
        QCOMPARE(lineEdit(*w, "Edit1")->text(), dir("d"));
        click(*w, "btnClearDir");
        QCOMPARE(lstDir()->count(), 0);
    }

    void findAllWithNothingListedKeepsThePreviousRows() {
        QDir(dir()).mkpath("p");
        makeFile(dir("p/one.jpg"));
        typeDirectory(dir("p"));
        findAll(*w);
        QCOMPARE(model(*w)->rowCount(), 1);
        click(*w, "btnClearDir");
        typeInto(*w, "Edit1", {});
        findAll(*w);
        QCOMPARE(messages.errors, QStringList{"您沒有輸入目錄叫我怎麼找?"});
        QCOMPARE(model(*w)->rowCount(), 1);
    }

    void findAllListsEveryFileInReadingOrder() {
        QDir(dir()).mkpath("top/B");
        QDir(dir()).mkpath("top/a");
        QDir(dir()).mkpath("top/.hidden");
        QDir(dir()).mkpath("other");
        makeFile(dir("top/photo.jpg"), 10);
        makeFile(dir("top/B/b.txt"), 3);
        makeFile(dir("top/a/a.gif"), 4);
        makeFile(dir("top/.hidden/no.jpg"));
        makeFile(dir("other/z.bmp"), 1);
        typeDirectory(dir("top"));
        // An unlisted directory typed into the edit joins the list and the search.
        typeInto(*w, "Edit1", dir("other"));
        findAll(*w);
        QVERIFY(messages.errors.isEmpty());
        QCOMPARE(listedDirectories(), (QStringList{dir("top"), dir("other")}));
        QCOMPARE(column(*w, ColName), (QStringList{"photo.jpg", "a.gif", "b.txt", "z.bmp"}));
        QCOMPARE(column(*w, ColDirectory),
                 (QStringList{dir("top"), dir("top/a"), dir("top/B"), dir("other")}));
        QCOMPARE(column(*w, ColSize), (QStringList{"10", "4", "3", "1"}));
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:4"));
        QCOMPARE(w->statusText(0), QStringLiteral("100%"));
        QVERIFY(!progress->isVisible());
        QCOMPARE(part<QProgressBar>(*progress, "Progress")->value(), 100);

        // Without subdirectories only the listed directories' own files, and a wrong
        // text in the edit is reported but the search goes on.
        tick(*w, "ckInclude", false);
        typeInto(*w, "Edit1", dir("missing"));
        findAll(*w);
        QCOMPARE(messages.errors, QStringList{"您沒有輸入目錄, 不然就是目錄名稱輸入錯誤!"});
        QCOMPARE(column(*w, ColName), (QStringList{"photo.jpg", "z.bmp"}));
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:2"));
    }

    void resultListMenuEnabling() {
        QMenu* menu = openContextMenu(*w, "lvFiles");
        QVERIFY(menu);
        for (QAction* a : menu->actions())
            if (!a->isSeparator())
                QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
        closeMenus();

        QDir(dir()).mkpath("p");
        for (const char* n : {"a.jpg", "b.jpg", "c.txt"})
            makeFile(dir("p/") + n);
        typeDirectory(dir("p"));
        findAll(*w);
        QCOMPARE(model(*w)->rowCount(), 3);
        clickRow(*w, 0);
        for (const char* item : {"miPreview", "miDelete", "miNextGroup", "miOpen"})
            QVERIFY2(offered(*w, "lvFiles", item), item);
        clickRow(*w, 2, Qt::ControlModifier);
        QVERIFY(!offered(*w, "lvFiles", "miPreview")); // two rows selected
        QVERIFY(offered(*w, "lvFiles", "miDelete"));
        tick(*w, "ckPreview", false);
        clickRow(*w, 0);
        QVERIFY(!offered(*w, "lvFiles", "miPreview")); // preview is off
    }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
