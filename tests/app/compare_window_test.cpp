// The comparison window, opened from the result list as a user opens it: the copies side
// by side with their facts, a number key keeping one, N stepping through the groups.
#include <QBuffer>
#include <QTemporaryDir>
#include <fstream>
#include <unistd.h>

#include "comparewindow.h"
#include "encodedphoto.h"
#include "madeupphoto.h"
#include "recordedmessages.h"
#include "windowundertest.h"

using namespace fenwa;

class CompareWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    RecordedMessages messages;
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;

    void write(const QString& relative, const QByteArray& bytes) {
        const QString path = tmp.path() + "/" + relative;
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    // The row showing the file, by its folder's last part and its name.
    int rowOf(const QString& folder, const QString& name) const {
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            if (model(*w)->displayText(r, ColName) == name &&
                model(*w)->displayText(r, ColDirectory).endsWith("/" + folder))
                return r;
        qFatal("no row for %s/%s", qPrintable(folder), qPrintable(name));
    }
    TfrmCompare* compare() const { return part<TfrmCompare>(*w, "frmCompare"); }
    QString facts(int pane) const {
        return nth<QLabel>(*compare(), "lblCompareFacts", pane)->text();
    }
    QStringList shownNames() const {
        QStringList names;
        for (int pane = 1; pane <= compare()->paneCount(); ++pane)
            names << facts(pane).section('\n', 0, 0).section(": ", 1);
        return names;
    }
    void select(const QList<int>& rows) {
        clickRow(*w, rows.front());
        for (int row : rows.mid(1))
            clickRow(*w, row, Qt::ControlModifier);
        QCOMPARE(selectedRows(*w).size(), rows.size());
    }
    void closeCompare() {
        if (w->findChild<TfrmCompare*>())
            compare()->close();
    }

private slots:
    void initTestCase() {
        // Three copies of a PNG photo, two of a BMP, two of a text file: Size groups them.
        const QByteArray png = EncodePhoto(madeUpScene(7), "png");
        QVERIFY2(!png.isEmpty(), "no PNG encoder");
        for (const char* d : {"a1", "a2", "a3"})
            write(QString(d) + "/p.png", png);
        QImage small(64, 48, QImage::Format_RGB32);
        small.fill(Qt::darkCyan);
        QByteArray bmp;
        QBuffer buffer(&bmp);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && small.save(&buffer, "BMP"));
        for (const char* d : {"b1", "b2"})
            write(QString(d) + "/q.bmp", bmp);
        for (const char* d : {"t1", "t2"})
            write(QString(d) + "/n.txt", "plain words");
        MainWindowServices s;
        s.messages = &messages;
        QVERIFY(openMainWindow(progress, viewer, w, s));
        addDirectory(*w, tmp.path());
        findDuplicates(*w);
        QCOMPARE(model(*w)->rowCount(), 7);
        clickHeader(*w, ColDirectory); // a1, a2, a3, b1, b2, t1, t2
        QCOMPARE(rowOf("a1", "p.png"), 0);
    }

    void init() { messages = {}; }
    void cleanup() { closeCompare(); }

    void theMenuItemComparesTheSelectedCopies() {
        select({rowOf("a3", "p.png"), rowOf("a1", "p.png")});
        QVERIFY(choose(*w, "lvFiles", "miCompare"));
        QVERIFY(compare()->isVisible());
        QCOMPARE(compare()->paneCount(), 2);
        // Panes in list order, with the facts read from the file.
        QVERIFY(facts(1).contains("/a1\n") && facts(2).contains("/a3\n"));
        for (int pane : {1, 2}) {
            QTRY_VERIFY2(facts(pane).contains("Picture: 640 × 480"), qPrintable(facts(pane)));
            QVERIFY(facts(pane).contains("Name: p.png"));
            QVERIFY(facts(pane).contains(
                QStringLiteral("Size: %1 bytes")
                    .arg(QLocale::c().toString(QFileInfo(tmp.path() + "/a1/p.png").size()))));
            QVERIFY(facts(pane).contains(QStringLiteral("Taken: —")));
            QVERIFY(facts(pane).contains("Selected in the list"));
        }
        // The picture itself is drawn: the scene's middle is not the pane's black.
        QWidget* picture = nth(*compare(), "imgCompare", 1);
        QTRY_VERIFY(picture->grab().toImage().pixelColor(picture->rect().center()) !=
                    QColor(Qt::black));
        QVERIFY(messages.errors.isEmpty());
    }

    void theKeyComparesARowWithTheRestOfItsGroup() {
        select({rowOf("b2", "q.bmp")});
        QTest::keyClick(fileList(*w), Qt::Key_F3);
        QVERIFY(compare()->isVisible());
        // The chosen row first, then the group's other row.
        QCOMPARE(shownNames(), (QStringList{"q.bmp", "q.bmp"}));
        QVERIFY(facts(1).contains("/b2\n") && facts(2).contains("/b1\n"));
        QTRY_VERIFY2(facts(2).contains("Picture: 64 × 48"), qPrintable(facts(2)));
    }

    void aNumberKeyKeepsThatCopyAndSelectsTheOthers() {
        select({rowOf("a2", "p.png")});
        QTest::keyClick(fileList(*w), Qt::Key_F3);
        QCOMPARE(compare()->paneCount(), 3);
        // A selection in another group is the user's and stays.
        clickRow(*w, rowOf("b1", "q.bmp"), Qt::ControlModifier);
        QTest::keyClick(compare(), Qt::Key_2);
        const int kept = rowOf("a3", "p.png"); // a2, then a3, then a1
        QVERIFY(facts(2).contains("/a3\n"));
        QList<int> expected{rowOf("a1", "p.png"), rowOf("a2", "p.png"), rowOf("b1", "q.bmp")};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(selectedRows(*w), expected);
        QVERIFY(!selectedRows(*w).contains(kept));
        QVERIFY(!facts(2).contains("Selected in the list"));
        QVERIFY(facts(1).contains("Selected in the list"));
        // Keeping another one moves the selection within the group.
        QTest::keyClick(compare(), Qt::Key_1);
        QVERIFY(!selectedRows(*w).contains(rowOf("a2", "p.png")));
        QVERIFY(selectedRows(*w).contains(kept));
    }

    void nAndPStepThroughThePictureGroupsInListOrder() {
        // Sorting by name scatters nothing here but reorders the groups.
        clickHeader(*w, ColName); // n.txt, then p.png, then q.bmp
        select({rowOf("a1", "p.png")});
        QTest::keyClick(fileList(*w), Qt::Key_F3);
        QCOMPARE(shownNames(), (QStringList{"p.png", "p.png", "p.png"}));
        QTest::keyClick(compare(), Qt::Key_N);
        QCOMPARE(shownNames(), (QStringList{"q.bmp", "q.bmp"}));
        QTest::keyClick(compare(), Qt::Key_PageDown); // the last group stays
        QCOMPARE(shownNames(), (QStringList{"q.bmp", "q.bmp"}));
        QVERIFY(part<QLabel>(*compare(), "lblCompareStatus")->text().contains("last group"));
        QTest::keyClick(compare(), Qt::Key_P);
        QCOMPARE(shownNames(), (QStringList{"p.png", "p.png", "p.png"}));
        // The text files' group, first in the list, has no picture: P passes over it.
        QTest::keyClick(compare(), Qt::Key_PageUp);
        QCOMPARE(shownNames(), (QStringList{"p.png", "p.png", "p.png"}));
        QVERIFY(part<QLabel>(*compare(), "lblCompareStatus")->text().contains("first group"));
        clickHeader(*w, ColDirectory);
    }

    void zoomAndPanMoveEveryPane() {
        select({rowOf("a1", "p.png"), rowOf("a2", "p.png")});
        QTest::keyClick(fileList(*w), Qt::Key_F3);
        QWidget* first = nth(*compare(), "imgCompare", 1);
        QWidget* second = nth(*compare(), "imgCompare", 2);
        // Fitted, the 4:3 picture leaves a black border in the pane's corner.
        const auto corner = [second] {
            return second->grab().toImage().pixelColor(second->width() - 3, 2);
        };
        QTRY_VERIFY(!facts(2).contains("Picture: ..."));
        QTRY_VERIFY(nth(*compare(), "imgCompare", 2)
                        ->grab()
                        .toImage()
                        .pixelColor(second->rect().center()) != QColor(Qt::black));
        QCOMPARE(corner(), QColor(Qt::black));
        QWheelEvent wheel(first->rect().center(), first->mapToGlobal(first->rect().center()), {},
                          {0, 120 * 6}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(first, &wheel);
        QVERIFY(compare()->zoom() > 3);
        QVERIFY(corner() != QColor(Qt::black)); // the other pane zoomed too
        const QPointF before = compare()->centre();
        QTest::mousePress(second, Qt::LeftButton, {}, {100, 100});
        QMouseEvent move(QEvent::MouseMove, QPointF(60, 100), second->mapToGlobal(QPointF(60, 100)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(second, &move);
        QTest::mouseRelease(second, Qt::LeftButton, {}, {60, 100});
        QVERIFY(compare()->centre().x() > before.x());
        QTest::keyClick(compare(), Qt::Key_F);
        QCOMPARE(compare()->zoom(), 1.0);
    }

    void choicesThatCompareNothingAreRefused_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("message");
        QTest::newRow("two groups") << QStringList{"a1/p.png", "b1/q.bmp"} << "of one group";
        QTest::newRow("no picture") << QStringList{"t1/n.txt"} << "is a picture";
        QTest::newRow("five rows")
            << QStringList{"a1/p.png", "a2/p.png", "a3/p.png", "b1/q.bmp", "b2/q.bmp"}
            << "two to four";
    }
    void choicesThatCompareNothingAreRefused() {
        QFETCH(QStringList, rows);
        QFETCH(QString, message);
        QList<int> chosen;
        for (const QString& r : rows)
            chosen << rowOf(r.section('/', 0, 0), r.section('/', 1));
        select(chosen);
        QTest::keyClick(fileList(*w), Qt::Key_F3);
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY2(messages.errors.front().contains(message), qPrintable(messages.errors.front()));
        QVERIFY(!w->findChild<TfrmCompare*>() || !compare()->isVisible());
    }

    void captionsInChinese() {
        tick(*w, "rbChinese");
        QCOMPARE(action(*w, "miCompare")->text(), QStringLiteral("並排比較 [F3]"));
        select({rowOf("b1", "q.bmp")});
        QTest::keyClick(fileList(*w), Qt::Key_F3);
        QVERIFY(facts(1).startsWith(QStringLiteral("名稱: q.bmp")));
        QVERIFY(part<QLabel>(*compare(), "lblCompareKeys")->text().contains("保留"));
        tick(*w, "rbEnglish");
        QVERIFY(facts(1).startsWith("Name: q.bmp"));
    }

    // Keeping a copy never selects that same file reached through another row.
    void aKeptFileIsNotSelectedThroughItsHardLink() {
        QVERIFY(QDir().mkpath(tmp.path() + "/a4"));
        QCOMPARE(::link(QFile::encodeName(tmp.path() + "/a1/p.png").constData(),
                        QFile::encodeName(tmp.path() + "/a4/p.png").constData()),
                 0);
        findDuplicates(*w);
        clickHeader(*w, ColDirectory);
        select({rowOf("a1", "p.png")});
        QTest::keyClick(fileList(*w), Qt::Key_F3);
        QCOMPARE(compare()->paneCount(), 4);
        QTest::keyClick(compare(), Qt::Key_1);
        QList<int> expected{rowOf("a2", "p.png"), rowOf("a3", "p.png")};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(selectedRows(*w), expected);
    }

    void cleanupTestCase() {
        w.reset();
        viewer.reset();
        progress.reset();
    }
};

QTEST_MAIN(CompareWindowTest)
#include "compare_window_test.moc"
