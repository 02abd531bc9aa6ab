#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <fstream>

#include "messages.h"
#include "recordedmessages.h"
#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"
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

    void typeDirectory(const QString& text) {
        w->dirBand->Edit1->clear();
        QTest::keyClicks(w->dirBand->Edit1, text);
        QTest::keyClick(w->dirBand->Edit1, Qt::Key_Return);
    }

    QStringList listedDirectories() const {
        QStringList out;
        for (int i = 0; i < w->dirBand->lstDir->count(); ++i)
            out << w->dirBand->lstDir->item(i)->text();
        return out;
    }

    QStringList column(int c) const {
        QStringList out;
        for (int r = 0; r < w->lvFilesModel->rowCount(); ++r)
            out << w->lvFilesModel->index(r, c).data().toString();
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
        QCOMPARE(w->lblVersion->text(), QStringLiteral("Version: 0.5"));
        QCOMPARE(w->lblDate->text(), QStringLiteral("Date: 4/20/1998"));
        QCOMPARE(w->pgOptions->currentWidget(), w->pgOptions->tbsOptions);
        QVERIFY(!w->Panel2->Timer1->isActive());
        QCOMPARE(w->Panel2->Timer1->interval(), 200);
        QVERIFY(!w->pgOptions->edTime->isEnabled());
        QVERIFY(w->pgOptions->ckSize->isChecked() && !w->pgOptions->ckName->isChecked() &&
                !w->pgOptions->ckTime->isChecked());
        QVERIFY(w->pgOptions->ckInclude->isChecked());
        QVERIFY(!w->Panel2->Label1->isVisible());
        QVERIFY(w->ListIdle);
        QCOMPARE(w->HighlightedRow, -1);
        QVERIFY(!progress->isVisible());
        QCOMPARE(w->lvFilesModel->columnCount(), 5);
        QCOMPARE(w->lvFilesModel->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Size"));
        QCOMPARE(w->lvFiles->columnWidth(0), 150);
        QCOMPARE(w->StatusPanel[0]->width(), 80);
    }

    void altXClosesFromAnyControl_data() {
        QTest::addColumn<QString>("focus");
        QTest::addRow("edit") << "Edit1";
        QTest::addRow("list") << "lvFiles";
    }
    void altXClosesFromAnyControl() {
        QFETCH(QString, focus);
        QWidget* target = w->findChild<QWidget*>(focus);
        QVERIFY(target);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_X);
        QVERIFY(w->isVisible());
        if (focus == "Edit1")
            QCOMPARE(w->dirBand->Edit1->text(), QStringLiteral("x")); // X alone types
        QTest::keyClick(target, Qt::Key_X, Qt::AltModifier);
        QVERIFY(!w->isVisible());
    }

    void narrowWindowKeepsLogoRightOfSeparator() {
        w->resize(600, 600);
        QTRY_COMPARE(w->Image1->x(), w->Bevel3->x() + w->Bevel3->width() + 2);
        w->resize(1400, 600);
        QTRY_VERIFY(w->Image1->x() > w->Bevel3->x() + w->Bevel3->width() + 2);
        const int leftGap = w->Image1->x() - (w->Bevel3->x() + w->Bevel3->width());
        const int rightGap = w->Panel1->width() - (w->Image1->x() + w->Image1->width());
        QVERIFY(qAbs(leftGap - rightGap) <= 1);
    }

    void titleAndLogoClicks() {
        QTest::mouseClick(w->Label4, Qt::LeftButton);
        QCOMPARE(messages.notices.size(), 1);
        QVERIFY(messages.notices[0].startsWith("Fenwa Version 0.5\nDate:4/20/1998\n\n"));
        QTest::mouseClick(w->Image1, Qt::LeftButton);
        QCOMPARE(opened, QStringList{QString::fromLatin1(TfrmMain::MakerPage)});
    }

    void directoryValidationThroughTheEdit() {
        QDir(dir()).mkpath("pics/2020");
        QDir(dir()).mkpath("pic");
        typeDirectory("");
        QCOMPARE(messages.errors, QStringList{"您沒有輸入目錄, 不然就是目錄名稱輸入錯誤!"});
        typeDirectory(dir("pics"));
        QCOMPARE(listedDirectories(), QStringList{dir("pics")});
        QCOMPARE(w->dirBand->Edit1->text(), dir("pics")); // the edit keeps its text
        typeDirectory(dir("pics"));                       // already listed: silence
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
        QTest::mouseClick(w->dirBand->btnAddDir, Qt::LeftButton);
        QCOMPARE(listedDirectories(), QStringList{dir("pics")});
        QCOMPARE(w->dirBand->Edit1->text(), dir("pics"));
        // The first show applies the English texts of the dialog.
        QCOMPARE(lastPick.title, QStringLiteral("You can input any file name"));
        QCOMPARE(lastPick.initialDirectory, QString()); // the edit was empty
        QCOMPARE(lastPick.fileName, QStringLiteral("Any file name"));

        // With a directory in the edit the dialog starts there.
        nextPick.reset(); // cancelled
        QTest::mouseClick(w->dirBand->btnAddDir, Qt::LeftButton);
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
        w->dirBand->PopupMenu3Popup();
        QVERIFY(!w->dirBand->miDelItems->isEnabled());
        QVERIFY(w->dirBand->miDelAllItems->isEnabled());
        w->dirBand->lstDir->item(0)->setSelected(true);
        w->dirBand->lstDir->item(2)->setSelected(true);
        w->dirBand->PopupMenu3Popup();
        QVERIFY(w->dirBand->miDelItems->isEnabled());
        QTest::mouseClick(w->dirBand->btnSubDir, Qt::LeftButton);
        QCOMPARE(listedDirectories(), (QStringList{dir("b"), dir("d")}));
        // A click on an entry copies it into the edit.
        const QRect r = w->dirBand->lstDir->visualItemRect(w->dirBand->lstDir->item(1));
        QTest::mouseClick(w->dirBand->lstDir->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(w->dirBand->Edit1->text(), dir("d"));
        QTest::mouseClick(w->dirBand->btnClearDir, Qt::LeftButton);
        QCOMPARE(w->dirBand->lstDir->count(), 0);
    }

    void findAllWithNothingListedKeepsThePreviousRows() {
        QDir(dir()).mkpath("p");
        makeFile(dir("p/one.jpg"));
        typeDirectory(dir("p"));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 1);
        QTest::mouseClick(w->dirBand->btnClearDir, Qt::LeftButton);
        w->dirBand->Edit1->clear();
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(messages.errors, QStringList{"您沒有輸入目錄叫我怎麼找?"});
        QCOMPARE(w->lvFilesModel->rowCount(), 1);
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
        w->dirBand->Edit1->setText(dir("other"));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QVERIFY(messages.errors.isEmpty());
        QCOMPARE(listedDirectories(), (QStringList{dir("top"), dir("other")}));
        QCOMPARE(column(ColName), (QStringList{"photo.jpg", "a.gif", "b.txt", "z.bmp"}));
        QCOMPARE(column(ColDirectory),
                 (QStringList{dir("top"), dir("top/a"), dir("top/B"), dir("other")}));
        QCOMPARE(column(ColSize), (QStringList{"10", "4", "3", "1"}));
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:4"));
        QCOMPARE(w->statusText(0), QStringLiteral("100%"));
        QVERIFY(!progress->isVisible());
        QCOMPARE(progress->Progress->value(), 100);
        QVERIFY(w->ListIdle);

        // Without subdirectories only the listed directories' own files, and a wrong
        // text in the edit is reported but the search goes on.
        w->pgOptions->ckInclude->setChecked(false);
        w->dirBand->Edit1->setText(dir("missing"));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(messages.errors, QStringList{"您沒有輸入目錄, 不然就是目錄名稱輸入錯誤!"});
        QCOMPARE(column(ColName), (QStringList{"photo.jpg", "z.bmp"}));
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:2"));
    }

    void resultListMenuEnabling() {
        w->PopupMenu1Popup();
        for (QAction* a : w->PopupMenu1->actions())
            if (!a->isSeparator())
                QVERIFY2(!a->isEnabled(), qPrintable(a->text()));

        QDir(dir()).mkpath("p");
        for (const char* n : {"a.jpg", "b.jpg", "c.txt"})
            makeFile(dir("p/") + n);
        typeDirectory(dir("p"));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 3);
        const QRect r0 = w->lvFiles->visualRect(w->lvFilesModel->index(0, 0));
        const QRect r2 = w->lvFiles->visualRect(w->lvFilesModel->index(2, 0));
        QTest::mouseClick(w->lvFiles->viewport(), Qt::LeftButton, {}, r0.center());
        w->PopupMenu1Popup();
        QVERIFY(w->miPreview->isEnabled());
        QVERIFY(w->miDelete->isEnabled());
        QVERIFY(w->miNextGroup->isEnabled() && w->miOpen->isEnabled());
        QTest::mouseClick(w->lvFiles->viewport(), Qt::LeftButton, Qt::ControlModifier, r2.center());
        w->PopupMenu1Popup();
        QVERIFY(!w->miPreview->isEnabled()); // two rows selected
        QVERIFY(w->miDelete->isEnabled());
        w->pgOptions->ckPreview->setChecked(false);
        QTest::mouseClick(w->lvFiles->viewport(), Qt::LeftButton, {}, r0.center());
        w->PopupMenu1Popup();
        QVERIFY(!w->miPreview->isEnabled()); // preview is off
    }
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
