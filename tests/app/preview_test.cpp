#include <QCheckBox>
#include <QDateTime>
#include <QFileInfo>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <fstream>

#include "TAdvImage.h"
#include "messages.h"
#include "recordedmessages.h"
#include "shellfiles.h"
#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

struct ScriptedPrompts : platform::ShellPrompts {
    bool answer = false;
    int questions = 0;
    bool askYesNo(const std::string&) override {
        ++questions;
        return answer;
    }
    void reportError(const std::string&) override {}
};

} // namespace

// The preview pane, the slide strip, deleting and the viewer, driven through the windows.
class PreviewTest : public QObject {
    Q_OBJECT

    RecordedMessages messages;
    ScriptedPrompts prompts;
    QStringList opened;
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;
    std::unique_ptr<QTemporaryDir> tmp;

    // Each file in a directory of its own, so the reading order is the directories' order.
    QByteArray addImage(const QString& subdir, const QString& name, QSize size,
                        QColor colour = Qt::red, int padding = 0) {
        const QString d = tmp->path() + "/" + subdir;
        QDir().mkpath(d);
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = d + "/" + name;
        if (name.endsWith(".txt")) {
            std::ofstream(QFile::encodeName(path).toStdString())
                << std::string(size_t(padding), 'x');
        } else {
            // Saved as BMP whatever the extension unless it says JPEG: sizes stay exact.
            image.save(path, name.endsWith(".jpg") ? "JPG" : "BMP");
        }
        return QFile::encodeName(path);
    }

    void search() {
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
    }

    void clickRow(int row) {
        const QRect r = w->lvFiles->visualRect(w->lvFilesModel->index(row, 0));
        QTest::mouseClick(w->lvFiles->viewport(), Qt::LeftButton, {}, r.center());
    }

    void enterOnRow(int row) {
        clickRow(row);
        QTest::keyClick(w->lvFiles, Qt::Key_Return);
    }

    QString visibleSlides() const {
        QString out;
        for (TAdvImage* s : w->pnSlides->AdvImage)
            out += s->isVisibleTo(w.get()) ? '1' : '0';
        return out;
    }

    QString orangeSlides() const {
        QString out;
        for (QFrame* p : w->pnSlides->pnImage)
            out += p->palette().color(QPalette::Window) == QColor(255, 128, 0) ? '1' : '0';
        return out;
    }

private slots:
    void init() {
        messages = {};
        prompts = {};
        opened.clear();
        tmp = std::make_unique<QTemporaryDir>();
        MainWindowServices s;
        s.messages = &messages;
        s.shellPrompts = &prompts;
        s.shellOpen = [this](const std::string& target, const std::string&) {
            opened << QFile::decodeName(QByteArray::fromStdString(target));
        };
        QVERIFY(openMainWindow(progress, viewer, w, s, true));
        addDirectory(*w, tmp->path());
    }

    void cleanup() {
        viewer->hide();
        w.reset();
        viewer.reset();
        progress.reset();
        tmp.reset();
    }

    void doubleClickModeLoadsOnEnterOnly() {
        addImage("d1", "a.bmp", QSize(64, 48));
        addImage("d2", "b.bmp", QSize(64, 48));
        search();
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
        clickRow(1);
        QVERIFY(w->Panel2->Image->NativeFileName().isEmpty()); // moving loads nothing
        QCOMPARE(visibleSlides(), QStringLiteral("00000"));
        QTest::keyClick(w->lvFiles, Qt::Key_Return);
        QCOMPARE(w->Panel2->Image->NativeFileName(), w->rowPath(1));
        QCOMPARE(w->Panel2->Image->ImageWidth(), 64);
        QCOMPARE(visibleSlides(), QStringLiteral("11000"));
        QCOMPARE(orangeSlides(), QStringLiteral("01000"));
        // The indicator is off again and the title light is teal.
        QVERIFY(!w->Panel2->Label1->isVisible());
        QCOMPARE(w->statusText(0), QString());
        QCOMPARE(w->Label4->palette().color(QPalette::WindowText), QColor(0, 128, 128));
        // A double click does the same.
        w->Panel2->Image->loadNativeFile(QByteArray());
        const QRect r = w->lvFiles->visualRect(w->lvFilesModel->index(0, 0));
        QTest::mouseClick(w->lvFiles->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(w->lvFiles->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(w->Panel2->Image->NativeFileName(), w->rowPath(0));
        // Below the last row it acts on the focused row.
        clickRow(1);
        const QPoint below(r.center().x(), w->lvFiles->viewport()->height() - 5);
        QVERIFY(!w->lvFiles->indexAt(below).isValid());
        QTest::mouseDClick(w->lvFiles->viewport(), Qt::LeftButton, {}, below);
        QCOMPARE(w->Panel2->Image->NativeFileName(), w->rowPath(1));
    }

    void singleClickModeLoadsTheLastRowAfterTheDelay() {
        QList<QByteArray> paths;
        for (int i = 0; i < 6; ++i)
            paths << addImage(QStringLiteral("d%1").arg(i), QStringLiteral("p%1.bmp").arg(i),
                              QSize(10, 10));
        search(); // all six have the same size
        QCOMPARE(w->lvFilesModel->rowCount(), 6);
        w->pgOptions->raClick->setChecked(true);
        QVERIFY(w->pgOptions->edTime->isEnabled());
        w->pgOptions->edTime->setText("100");
        QCOMPARE(w->Panel2->Timer1->interval(), 100);
        clickRow(0);
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(w->lvFiles, Qt::Key_Down);
        QVERIFY(w->Panel2->Timer1->isActive());
        QVERIFY(w->Panel2->PendingPreview);
        QVERIFY(w->Panel2->Image->NativeFileName().isEmpty());
        QTRY_COMPARE(w->Panel2->Image->NativeFileName(), w->rowPath(5));
        QVERIFY(!w->Panel2->Timer1->isActive());
        QVERIFY(!w->Panel2->PendingPreview);
        QCOMPARE(visibleSlides(), QStringLiteral("11111"));
        QCOMPARE(orangeSlides(), QStringLiteral("00001"));
        // Selecting the row already shown starts no timer.
        clickRow(4);
        clickRow(5);
        QTRY_VERIFY(!w->Panel2->Timer1->isActive());
        // Double-click mode drops a waiting load.
        clickRow(2);
        QVERIFY(w->Panel2->Timer1->isActive());
        w->pgOptions->raDblClick->setChecked(true);
        QVERIFY(!w->Panel2->Timer1->isActive());
        QVERIFY(!w->pgOptions->edTime->isEnabled());
    }

    void delayFieldTakesDigitsOnly() {
        w->pgOptions->raClick->setChecked(true);
        QLineEdit* e = w->pgOptions->edTime;
        e->setFocus();
        e->selectAll();
        QTest::keyClicks(e, "a0b");
        QCOMPARE(e->text(), QStringLiteral("0"));
        QCOMPARE(w->Panel2->Timer1->interval(), 5); // 0 acts as 5 ms
        // Printable characters other than digits are refused; the other keys edit.
        using Keys = QList<QPair<Qt::Key, Qt::KeyboardModifiers>>;
        const Qt::KeyboardModifiers none, ctrl = Qt::ControlModifier;
        const struct {
            const char* name;
            Keys keys;
            const char* expected;
        } cases[] = {
            {"letter", {{Qt::Key_X, none}}, "250"},
            {"space", {{Qt::Key_Space, none}}, "250"},
            {"digit", {{Qt::Key_7, none}}, "2507"},
            {"backspace", {{Qt::Key_Backspace, none}}, "25"},
            {"delete", {{Qt::Key_Home, none}, {Qt::Key_Delete, none}}, "50"},
            {"left", {{Qt::Key_Left, none}, {Qt::Key_Backspace, none}}, "20"},
            {"clipboard",
             {{Qt::Key_A, ctrl},
              {Qt::Key_C, ctrl},
              {Qt::Key_End, none},
              {Qt::Key_Backspace, none},
              {Qt::Key_Backspace, none},
              {Qt::Key_V, ctrl}},
             "2250"},
        };
        for (const auto& c : cases) {
            e->setText("250");
            e->end(false);
            for (const auto& [key, modifiers] : c.keys)
                QTest::keyClick(e, key, modifiers);
            QVERIFY2(e->text() == QLatin1String(c.expected), c.name);
        }
        QTest::keyClick(e, Qt::Key_Tab);
        QVERIFY(!e->hasFocus());
        QCOMPARE(e->text(), QStringLiteral("2250"));
        QVERIFY(messages.errors.isEmpty());
        e->setText(QString());
        QCOMPARE(messages.errors.size(), 1); // not a number: reported, interval kept
        QCOMPARE(w->Panel2->Timer1->interval(), 2250);
    }

    void nonImageRowsOpenWithTheirProgram() {
        addImage("d1", "notes.txt", QSize(), Qt::red, 7);
        addImage("d2", "more.txt", QSize(), Qt::red, 7);
        search();
        enterOnRow(0);
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened[0].endsWith("/more.txt"));
        const QRect r = w->lvFiles->visualRect(w->lvFilesModel->index(0, 0));
        QTest::mouseDClick(w->lvFiles->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(opened.size(), 2); // once per double click
        QVERIFY(w->Panel2->Image->NativeFileName().isEmpty());
    }

    void switchingThePreviewOffShowsTheCaption() {
        w->pgOptions->ckPreview->setChecked(false);
        QVERIFY(!w->Panel2->Image->isVisibleTo(w.get()));
        QVERIFY(!w->Panel2->pnScale->isVisibleTo(w.get()));
        QVERIFY(w->Panel2->Panel2Caption->isVisibleTo(w.get()));
        QCOMPARE(w->Panel2->Panel2Caption->text(), QStringLiteral("不看也罷"));
        w->pgOptions->ckPreview->setChecked(true);
        QVERIFY(w->Panel2->Image->isVisibleTo(w.get()));
        QVERIFY(!w->Panel2->Panel2Caption->isVisibleTo(w.get()));
    }

    void scaleAppliesToTheNextJpeg() {
        addImage("d1", "a.jpg", QSize(80, 64));
        addImage("d2", "b.jpg", QSize(80, 64));
        search();
        if (w->lvFilesModel->rowCount() < 2)
            QSKIP("the two JPEG files were not written with the same size");
        enterOnRow(0);
        QCOMPARE(w->Panel2->Image->ImageWidth(), 40); // half, as designed
        w->Panel2->rbEighth->setChecked(true);
        QCOMPARE(w->Panel2->Image->ImageWidth(), 40); // the shown picture stays
        enterOnRow(1);
        QCOMPARE(w->Panel2->Image->ImageWidth(), 10);
    }

    void slidesShowTheGroupAndAClickSelectsWithoutLoading() {
        addImage("d1", "a.bmp", QSize(8, 8));
        addImage("d2", "b.bmp", QSize(8, 8));
        addImage("d3", "c.bmp", QSize(8, 8));
        addImage("d4", "other.bmp", QSize(9, 9));
        addImage("d5", "other2.bmp", QSize(9, 9));
        search();
        QCOMPARE(w->lvFilesModel->rowCount(), 5);
        enterOnRow(1);
        QCOMPARE(visibleSlides(), QStringLiteral("11100"));
        QCOMPARE(orangeSlides(), QStringLiteral("01000"));
        QCOMPARE(w->pnSlides->slideLetter[0]->text(), QString());
        const QByteArray shown = w->Panel2->Image->NativeFileName();
        // Moving within the group in double-click mode only reframes.
        clickRow(2);
        QCOMPARE(orangeSlides(), QStringLiteral("00100"));
        QCOMPARE(w->Panel2->Image->NativeFileName(), shown);
        // A click on slide 1 selects its row; the preview and the group icon stay.
        QTest::mouseClick(w->pnSlides->AdvImage[0], Qt::LeftButton);
        QCOMPARE(w->currentRow(), 0);
        QCOMPARE(orangeSlides(), QStringLiteral("10000"));
        QCOMPARE(w->Panel2->Image->NativeFileName(), shown);
        QCOMPARE(w->HighlightedRow, 2);
        // Switching the strip off clears it; on again shows the letters.
        w->pgOptions->ckShowSlides->setChecked(false);
        QVERIFY(!w->pnSlides->isVisibleTo(w.get()));
        QCOMPARE(visibleSlides(), QStringLiteral("00000"));
        w->pgOptions->ckShowSlides->setChecked(true);
        QCOMPARE(w->pnSlides->slideLetter[4]->text(), QStringLiteral("A"));
        // A new search clears the strip as well.
        enterOnRow(3);
        QCOMPARE(visibleSlides(), QStringLiteral("11000"));
        search();
        QCOMPARE(visibleSlides(), QStringLiteral("00000"));
        QCOMPARE(w->pnSlides->slideLetter[0]->text(), QStringLiteral("F"));
    }

    void deletingFollowsTheDisk() {
        const QByteArray a = addImage("d1", "a.bmp", QSize(8, 8));
        const QByteArray b = addImage("d2", "b.bmp", QSize(8, 8));
        const QByteArray c = addImage("d3", "c.bmp", QSize(8, 8));
        search();
        QCOMPARE(w->lvFilesModel->rowCount(), 3);
        enterOnRow(0);
        QCOMPARE(visibleSlides(), QStringLiteral("11100"));
        w->lvFiles->selectAll();
        // Every copy of the group is selected: asked once more, and the user says no.
        QTest::keyClick(w->lvFiles, Qt::Key_Delete);
        waitUntilIdle(*w);
        QCOMPARE(prompts.questions, 1);
        QCOMPARE(w->lvFilesModel->rowCount(), 3);
        // One copy: the desktop's question, and again no.
        w->lvFiles->clearSelection();
        clickRow(2);
        QTest::keyClick(w->lvFiles, Qt::Key_Delete);
        waitUntilIdle(*w);
        QCOMPARE(prompts.questions, 2);
        QCOMPARE(w->lvFilesModel->rowCount(), 3);
        // Without confirmation and for good: gone at once.
        w->pgOptions->ckNoConfirm->setChecked(true);
        w->pgOptions->ckNoRecycle->setChecked(true);
        QCOMPARE(w->DeleteFlags(), platform::FOF_NOCONFIRMATION);
        w->lvFiles->clearSelection();
        clickRow(1); // the row of the middle slide
        const QByteArray middle = w->rowPath(1);
        QTest::keyClick(w->lvFiles, Qt::Key_Delete);
        waitUntilIdle(*w);
        QCOMPARE(prompts.questions, 2);
        QVERIFY(!QFile::exists(QFile::decodeName(middle)));
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:2"));
        QCOMPARE(visibleSlides(), QStringLiteral("10100"));
        QVERIFY(w->pnSlides->AdvImage[1]->NativeFileName().isEmpty());
        // The focused row becomes the selection.
        QCOMPARE(w->lvFiles->selectionModel()->selectedRows().size(), 1);
        // Delete while a name is being edited goes to the editor and deletes nothing.
        w->lvFiles->edit(w->lvFilesModel->index(0, 0));
        QVERIFY(w->isEditingName());
        QLineEdit* editor = w->lvFiles->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_Delete);
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!w->isEditingName());
        // Deleting everything leaves an empty list, once the user confirms deleting every copy.
        prompts.answer = true;
        w->lvFiles->selectAll();
        w->miDelete->trigger();
        waitUntilIdle(*w);
        QCOMPARE(prompts.questions, 3);
        QCOMPARE(w->lvFilesModel->rowCount(), 0);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:0"));
        QVERIFY(!QFile::exists(QFile::decodeName(a)) && !QFile::exists(QFile::decodeName(b)) &&
                !QFile::exists(QFile::decodeName(c)));
    }

    void filesChangedSinceTheSearchAreNotDeleted() {
        addImage("d1", "a.bmp", QSize(8, 8));
        addImage("d2", "b.bmp", QSize(8, 8));
        addImage("d3", "c.bmp", QSize(8, 8));
        search();
        QCOMPARE(w->lvFilesModel->rowCount(), 3);
        w->pgOptions->ckNoConfirm->setChecked(true);
        w->pgOptions->ckNoRecycle->setChecked(true);
        const QByteArray changed = w->rowPath(0), same = w->rowPath(1);
        {
            QFile f(QFile::decodeName(changed));
            QVERIFY(f.open(QIODevice::Append));
            f.write("grown since the search");
        }
        clickRow(0);
        clickRow(1);
        w->lvFiles->selectionModel()->select(
            w->lvFilesModel->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(w->lvFiles->selectionModel()->selectedRows().size(), 2);
        QTest::keyClick(w->lvFiles, Qt::Key_Delete);
        waitUntilIdle(*w);
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors[0].contains(QFile::decodeName(changed)));
        QVERIFY(QFile::exists(QFile::decodeName(changed)));
        QVERIFY(!QFile::exists(QFile::decodeName(same)));
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
        QCOMPARE(prompts.questions, 0);
    }

    void viewerScrollsLargePicturesAndPagesThroughImageRows() {
        addImage("d1", "big.bmp", QSize(2000, 1500), Qt::blue);
        addImage("d2", "small.bmp", QSize(800, 600), Qt::green);
        addImage("d3", "notes.txt", QSize(), Qt::red, 3);
        addImage("d4", "last.bmp", QSize(100, 100), Qt::red);
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 4);
        clickRow(1);
        // The hand cursor is the picture's from the start.
        QCOMPARE(viewer->Image->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(viewer->Image->cursor().hotSpot(), QPoint(15, 13));
        w->Panel2->ShowInViewer(w->rowPath(1));
        QVERIFY(viewer->isVisible());
        // A size change after the window was shown lays the picture out again.
        viewer->resize(1024, 768);
        QTRY_COMPARE(viewer->width(), 1024);
        QCOMPARE(viewer->Image->geometry(), QRect(0, 0, 1024, 768));
        QTest::keyClick(viewer.get(), Qt::Key_Right);
        QCOMPARE(viewer->Image->x(), 0); // a picture that fits does not move

        viewer->ShowFile(w->rowPath(0));
        QCOMPARE(viewer->Image->size(), QSize(2000, 1500));
        QCOMPARE(viewer->Image->cursor().shape(), Qt::BitmapCursor);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(viewer.get(), Qt::Key_Right);
        QCOMPARE(viewer->Image->x(), -820);
        QTest::keyClick(viewer.get(), Qt::Key_Right);
        QCOMPARE(viewer->Image->x(), -976);
        QTest::keyClick(viewer.get(), Qt::Key_Right);
        QCOMPARE(viewer->Image->x(), -976);

        // Page Down skips the text file; Shift makes no difference.
        w->lvFiles->setCurrentIndex(w->lvFilesModel->index(1, 0));
        viewer->ShowFile(w->rowPath(1));
        QTest::keyClick(viewer.get(), Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(viewer->Image->NativeFileName(), w->rowPath(3));
        QCOMPARE(w->currentRow(), 3);
        QVERIFY(w->lvFiles->selectionModel()->selectedRows().isEmpty());
        QTest::keyClick(viewer.get(), Qt::Key_PageDown); // the last image: nothing moves
        QCOMPARE(viewer->Image->NativeFileName(), w->rowPath(3));
        QTest::keyClick(viewer.get(), Qt::Key_Home);
        QCOMPARE(w->currentRow(), 0);
        QTest::keyClick(viewer.get(), Qt::Key_End);
        QCOMPARE(w->currentRow(), 3);
        QTest::keyClick(viewer.get(), Qt::Key_PageUp);
        QCOMPARE(w->currentRow(), 1);
        QTest::keyClick(viewer.get(), Qt::Key_Escape);
        QVERIFY(!viewer->isVisible());
    }

    void deletingInTheViewerMovesOnAndClosesAfterTheLast() {
        addImage("d1", "a.bmp", QSize(8, 8));
        addImage("d2", "b.bmp", QSize(8, 8));
        search();
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
        w->pgOptions->ckNoConfirm->setChecked(true);
        w->pgOptions->ckNoRecycle->setChecked(true);
        clickRow(0);
        const QByteArray first = w->rowPath(0), second = w->rowPath(1);
        w->Panel2->ShowInViewer(first);
        QTest::keyClick(viewer.get(), Qt::Key_Delete);
        QVERIFY(!QFile::exists(QFile::decodeName(first)));
        QCOMPARE(w->lvFilesModel->rowCount(), 1);
        QCOMPARE(viewer->Image->NativeFileName(), second);
        QVERIFY(viewer->isVisible());
        // The last copy of its group: asked about even without confirmations, and kept
        // when the answer is No.
        const int asked = prompts.questions;
        QTest::keyClick(viewer.get(), Qt::Key_Delete);
        QCOMPARE(prompts.questions, asked + 1);
        QCOMPARE(w->lvFilesModel->rowCount(), 1);
        QVERIFY(QFile::exists(QFile::decodeName(second)));
        prompts.answer = true;
        QTest::keyClick(viewer.get(), Qt::Key_Delete);
        prompts.answer = false;
        QCOMPARE(w->lvFilesModel->rowCount(), 0);
        QVERIFY(!viewer->isVisible());

        // A file changed since the search is named and kept.
        const QByteArray grown = addImage("d4", "grown.bmp", QSize(8, 8));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        {
            QFile f(QFile::decodeName(grown));
            QVERIFY(f.open(QIODevice::Append));
            f.write("more bytes");
        }
        w->Panel2->ShowInViewer(grown);
        QTest::keyClick(viewer.get(), Qt::Key_Delete);
        QVERIFY(QFile::exists(QFile::decodeName(grown)));
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(viewer->isVisible());
        viewer->hide();
        QFile::remove(QFile::decodeName(grown));

        // Grouped by content: once the only other copy holds other bytes of the same
        // size and time, the shown file is the last of its kind and is kept.
        const QByteArray kept1 = addImage("c1", "copy.bmp", QSize(8, 8), Qt::blue);
        const QByteArray changed2 = addImage("c2", "copy.bmp", QSize(8, 8), Qt::blue);
        w->pgOptions->ckContent->setChecked(true);
        search();
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
        {
            const QFileInfo before(QFile::decodeName(changed2));
            const QDateTime modified = before.lastModified();
            QImage other(8, 8, QImage::Format_RGB32);
            other.fill(Qt::green);
            QVERIFY(other.save(QFile::decodeName(changed2), "BMP"));
            QFile f(QFile::decodeName(changed2));
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
        }
        const qsizetype errorsBefore = messages.errors.size();
        w->Panel2->ShowInViewer(kept1);
        QTest::keyClick(viewer.get(), Qt::Key_Delete);
        QVERIFY(QFile::exists(QFile::decodeName(kept1)));
        QCOMPARE(messages.errors.size(), errorsBefore + 1);
        viewer->hide();
        w->pgOptions->ckContent->setChecked(false);
        QFile::remove(QFile::decodeName(kept1));
        QFile::remove(QFile::decodeName(changed2));

        // A declined request changes nothing.
        const QByteArray kept = addImage("d3", "kept.bmp", QSize(8, 8));
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        w->pgOptions->ckNoConfirm->setChecked(false);
        clickRow(0);
        w->Panel2->ShowInViewer(kept);
        const int questionsBefore = prompts.questions;
        QTest::keyClick(viewer.get(), Qt::Key_Delete);
        QCOMPARE(prompts.questions, questionsBefore + 1);
        QVERIFY(QFile::exists(QFile::decodeName(kept)));
        QCOMPARE(w->lvFilesModel->rowCount(), 1);
        QVERIFY(viewer->isVisible());
    }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
