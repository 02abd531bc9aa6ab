#include <QDateTime>
#include <QFileInfo>
#include <QFrame>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <functional>

#include "TAdvImage.h"
#include "recordedmessages.h"
#include "shellfiles.h"
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

    void search() { findDuplicates(*w); }
    void clickRow(int row) { fenwa::clickRow(*w, row); }
    void enterOnRow(int row) {
        clickRow(row);
        QTest::keyClick(fileList(*w), Qt::Key_Return);
    }
    void deleteKey() { pressInList(*w, Qt::Key_Delete); }
    void deleteInViewer() {
        QTest::keyClick(viewer.get(), Qt::Key_Delete);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 30000);
    }
    TAdvImage* preview() const { return part<TAdvImage>(*w, "Image"); }
    TAdvImage* slide(int i) const { return nth<TAdvImage>(*w, "AdvImage", i + 1); }
    QString letter(int i) const { return nth<QLabel>(*w, "slideLetter", i + 1)->text(); }
    TAdvImage* shown() const { return part<TAdvImage>(*viewer, "Image"); }
    QTimer* timer() const { return part<QTimer>(*w, "Timer1"); }

    // One character a slide: '1' where it shows, or (`orange`) where its frame is orange.
    QString slides(bool orange = false) const {
        QString out;
        for (int i = 0; i < 5; ++i)
            out += (orange ? nth(*w, "pnImage", i + 1)->palette().color(QPalette::Window) ==
                                 QColor(255, 128, 0)
                           : slide(i)->isVisibleTo(w.get()))
                       ? '1'
                       : '0';
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
        QCOMPARE(model(*w)->rowCount(), 2);
        clickRow(1);
        QVERIFY(preview()->NativeFileName().isEmpty()); // moving loads nothing
        QCOMPARE(slides(), QStringLiteral("00000"));
        QTest::keyClick(fileList(*w), Qt::Key_Return);
        QCOMPARE(preview()->NativeFileName(), w->rowPath(1));
        QCOMPARE(preview()->ImageWidth(), 64);
        QCOMPARE(slides(), QStringLiteral("11000"));
        QCOMPARE(slides(true), QStringLiteral("01000"));
        // The list's menu belongs to the slide pictures, not to their frames or letters.
        const auto rightClickOpensTheMenu = [](QWidget* target) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                                    target->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(target, &event);
            QWidget* popup = QApplication::activePopupWidget();
            closeMenus();
            return popup && popup->objectName() == QLatin1String("PopupMenu1");
        };
        QVERIFY(rightClickOpensTheMenu(slide(0)));
        QVERIFY(!rightClickOpensTheMenu(nth(*w, "pnImage", 5)));
        QVERIFY(!rightClickOpensTheMenu(nth(*w, "slideLetter", 5)));
        QVERIFY(!rightClickOpensTheMenu(nth(*w, "pnImage", 1)));
        // The indicator is off again and the title light is teal.
        QVERIFY(!part<QLabel>(*w, "Label1")->isVisible());
        QCOMPARE(w->statusText(0), QString());
        QCOMPARE(part<QLabel>(*w, "Label4")->palette().color(QPalette::WindowText),
                 QColor(0, 128, 128));
        // A double click does the same.
        preview()->loadNativeFile(QByteArray());
        const QRect r = fileList(*w)->visualRect(model(*w)->index(0, 0));
        QTest::mouseClick(fileList(*w)->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(fileList(*w)->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(preview()->NativeFileName(), w->rowPath(0));
        // Below the last row it acts on the focused row.
        clickRow(1);
        const QPoint below(r.center().x(), fileList(*w)->viewport()->height() - 5);
        QVERIFY(!fileList(*w)->indexAt(below).isValid());
        QTest::mouseDClick(fileList(*w)->viewport(), Qt::LeftButton, {}, below);
        QCOMPARE(preview()->NativeFileName(), w->rowPath(1));
    }

    void singleClickModeLoadsTheLastRowAfterTheDelay() {
        QList<QByteArray> paths;
        for (int i = 0; i < 6; ++i)
            paths << addImage(QStringLiteral("d%1").arg(i), QStringLiteral("p%1.bmp").arg(i),
                              QSize(10, 10));
        search(); // all six have the same size
        QCOMPARE(model(*w)->rowCount(), 6);
        tick(*w, "raClick");
        QVERIFY(lineEdit(*w, "edTime")->isEnabled());
        typeInto(*w, "edTime", "100");
        QCOMPARE(timer()->interval(), 100);
        clickRow(0);
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(fileList(*w), Qt::Key_Down);
        QVERIFY(timer()->isActive());
        QVERIFY(preview()->NativeFileName().isEmpty());
        QTRY_COMPARE(preview()->NativeFileName(), w->rowPath(5));
        QVERIFY(!timer()->isActive());
        QCOMPARE(slides(), QStringLiteral("11111"));
        QCOMPARE(slides(true), QStringLiteral("00001"));
        // Selecting the row already shown starts no timer.
        clickRow(4);
        clickRow(5);
        QTRY_VERIFY(!timer()->isActive());
        // Double-click mode drops a waiting load.
        clickRow(2);
        QVERIFY(timer()->isActive());
        tick(*w, "raDblClick");
        QVERIFY(!timer()->isActive());
        QVERIFY(!lineEdit(*w, "edTime")->isEnabled());
        // A load still waiting when a search starts is not dropped: it comes after it.
        tick(*w, "raClick");
        clickRow(1);
        const QByteArray waiting = w->rowPath(1);
        QVERIFY(timer()->isActive());
        search();
        QTRY_COMPARE(preview()->NativeFileName(), waiting);
    }

    void delayFieldTakesDigitsOnly() {
        tick(*w, "raClick");
        QLineEdit* e = lineEdit(*w, "edTime");
        e->setFocus();
        e->selectAll();
        QTest::keyClicks(e, "a0b");
        QCOMPARE(e->text(), QStringLiteral("0"));
        QCOMPARE(timer()->interval(), 5); // 0 acts as 5 ms
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
        QCOMPARE(timer()->interval(), 2250);
    }

    void nonImageRowsOpenWithTheirProgram() {
        addImage("d1", "notes.txt", QSize(), Qt::red, 7);
        addImage("d2", "more.txt", QSize(), Qt::red, 7);
        search();
        enterOnRow(0);
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened[0].endsWith("/more.txt"));
        const QRect r = fileList(*w)->visualRect(model(*w)->index(0, 0));
        QTest::mouseDClick(fileList(*w)->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(opened.size(), 2); // once per double click
        QVERIFY(preview()->NativeFileName().isEmpty());
    }

    void switchingThePreviewOffShowsTheCaption() {
        tick(*w, "ckPreview", false);
        QVERIFY(!preview()->isVisibleTo(w.get()));
        QVERIFY(!part<QFrame>(*w, "pnScale")->isVisibleTo(w.get()));
        QVERIFY(part<QLabel>(*w, "Panel2Caption")->isVisibleTo(w.get()));
        QCOMPARE(part<QLabel>(*w, "Panel2Caption")->text(), QStringLiteral("不看也罷"));
        tick(*w, "ckPreview");
        QVERIFY(preview()->isVisibleTo(w.get()));
        QVERIFY(!part<QLabel>(*w, "Panel2Caption")->isVisibleTo(w.get()));
    }

    void scaleAppliesToTheNextJpeg() {
        addImage("d1", "a.jpg", QSize(80, 64));
        addImage("d2", "b.jpg", QSize(80, 64));
        search();
        if (model(*w)->rowCount() < 2)
            QSKIP("the two JPEG files were not written with the same size");
        enterOnRow(0);
        QCOMPARE(preview()->ImageWidth(), 40); // half, as designed
        tick(*w, "rbEighth");
        QCOMPARE(preview()->ImageWidth(), 40); // the shown picture stays
        enterOnRow(1);
        QCOMPARE(preview()->ImageWidth(), 10);
    }

    void slidesShowTheGroupAndAClickSelectsWithoutLoading() {
        addImage("d1", "a.bmp", QSize(8, 8));
        addImage("d2", "b.bmp", QSize(8, 8));
        addImage("d3", "c.bmp", QSize(8, 8));
        addImage("d4", "other.bmp", QSize(9, 9));
        addImage("d5", "other2.bmp", QSize(9, 9));
        search();
        QCOMPARE(model(*w)->rowCount(), 5);
        enterOnRow(1);
        QCOMPARE(slides(), QStringLiteral("11100"));
        QCOMPARE(slides(true), QStringLiteral("01000"));
        QCOMPARE(letter(0), QString());
        const QByteArray shown = preview()->NativeFileName();
        // Moving within the group in double-click mode only reframes.
        clickRow(2);
        QCOMPARE(slides(true), QStringLiteral("00100"));
        QCOMPARE(preview()->NativeFileName(), shown);
        // A click on slide 1 selects its row; the preview and the group icon stay.
        QTest::mouseClick(slide(0), Qt::LeftButton);
        QCOMPARE(w->currentRow(), 0);
        QCOMPARE(slides(true), QStringLiteral("10000"));
        QCOMPARE(preview()->NativeFileName(), shown);
        for (size_t r : {0, 1, 2})
            QCOMPARE(model(*w)->store().icon(r), 2);
        // Switching the strip off clears it; on again shows the letters.
        tick(*w, "ckShowSlides", false);
        QVERIFY(!part<QFrame>(*w, "pnSlides")->isVisibleTo(w.get()));
        QCOMPARE(slides(), QStringLiteral("00000"));
        tick(*w, "ckShowSlides");
        QCOMPARE(letter(4), QStringLiteral("A"));
        // A new search clears the strip as well.
        enterOnRow(3);
        QCOMPARE(slides(), QStringLiteral("11000"));
        search();
        QCOMPARE(slides(), QStringLiteral("00000"));
        QCOMPARE(letter(0), QStringLiteral("F"));
    }

    void deletingFollowsTheDisk() {
        const QByteArray a = addImage("d1", "a.bmp", QSize(8, 8));
        const QByteArray b = addImage("d2", "b.bmp", QSize(8, 8));
        const QByteArray c = addImage("d3", "c.bmp", QSize(8, 8));
        search();
        QCOMPARE(model(*w)->rowCount(), 3);
        enterOnRow(0);
        QCOMPARE(slides(), QStringLiteral("11100"));
        QTest::keyClick(fileList(*w), Qt::Key_A, Qt::ControlModifier);
        // Every copy of the group is selected: asked once more, and the user says no.
        deleteKey();
        QCOMPARE(prompts.questions, 1);
        QCOMPARE(model(*w)->rowCount(), 3);
        // One copy: the desktop's question, and again no.
        clickRow(2);
        deleteKey();
        QCOMPARE(prompts.questions, 2);
        QCOMPARE(model(*w)->rowCount(), 3);
        // Without confirmation and for good: gone at once.
        tick(*w, "ckNoConfirm");
        tick(*w, "ckNoRecycle");
        QCOMPARE(w->DeleteFlags(), platform::FOF_NOCONFIRMATION);
        clickRow(1); // the row of the middle slide
        const QByteArray middle = w->rowPath(1);
        deleteKey();
        QCOMPARE(prompts.questions, 2);
        QVERIFY(!QFile::exists(QFile::decodeName(middle)));
        QCOMPARE(model(*w)->rowCount(), 2);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:2"));
        QCOMPARE(slides(), QStringLiteral("10100"));
        QVERIFY(slide(1)->NativeFileName().isEmpty());
        // The focused row becomes the selection.
        QCOMPARE(fileList(*w)->selectionModel()->selectedRows().size(), 1);
        // Delete while a name is being edited goes to the editor and deletes nothing.
        QLineEdit* editor = startEditing(*w, 0);
        QVERIFY(editor && w->isEditingName());
        QTest::keyClick(editor, Qt::Key_Delete);
        QCOMPARE(model(*w)->rowCount(), 2);
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!w->isEditingName());
        // Deleting everything leaves an empty list, once the user confirms deleting every copy.
        prompts.answer = true;
        QTest::keyClick(fileList(*w), Qt::Key_A, Qt::ControlModifier);
        QVERIFY(choose(*w, "lvFiles", "miDelete"));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 30000);
        QCOMPARE(prompts.questions, 3);
        QCOMPARE(model(*w)->rowCount(), 0);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:0"));
        QVERIFY(!QFile::exists(QFile::decodeName(a)) && !QFile::exists(QFile::decodeName(b)) &&
                !QFile::exists(QFile::decodeName(c)));
    }

    void filesChangedSinceTheSearchAreNotDeleted() {
        addImage("d1", "a.bmp", QSize(8, 8));
        addImage("d2", "b.bmp", QSize(8, 8));
        addImage("d3", "c.bmp", QSize(8, 8));
        search();
        QCOMPARE(model(*w)->rowCount(), 3);
        tick(*w, "ckNoConfirm");
        tick(*w, "ckNoRecycle");
        const QByteArray changed = w->rowPath(0), same = w->rowPath(1);
        {
            QFile f(QFile::decodeName(changed));
            QVERIFY(f.open(QIODevice::Append));
            f.write("grown since the search");
        }
        clickRow(0);
        fenwa::clickRow(*w, 1, Qt::ControlModifier);
        QCOMPARE(fileList(*w)->selectionModel()->selectedRows().size(), 2);
        deleteKey();
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors[0].contains(QFile::decodeName(changed)));
        QVERIFY(QFile::exists(QFile::decodeName(changed)));
        QVERIFY(!QFile::exists(QFile::decodeName(same)));
        QCOMPARE(model(*w)->rowCount(), 2);
        QCOMPARE(prompts.questions, 0);
    }

    void viewerScrollsLargePicturesAndPagesThroughImageRows() {
        addImage("d1", "big.bmp", QSize(2000, 1500), Qt::blue);
        addImage("d2", "small.bmp", QSize(800, 600), Qt::green);
        addImage("d3", "notes.txt", QSize(), Qt::red, 3);
        addImage("d4", "last.bmp", QSize(100, 100), Qt::red);
        findAll(*w);
        QCOMPARE(model(*w)->rowCount(), 4);
        clickRow(1);
        // The hand cursor is the picture's from the start.
        QCOMPARE(shown()->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(shown()->cursor().hotSpot(), QPoint(15, 13));
        viewRow(*w, 1);
        QVERIFY(viewer->isVisible());
        // A size change after the window was shown lays the picture out again.
        viewer->resize(1024, 768);
        QTRY_COMPARE(viewer->width(), 1024);
        QCOMPARE(shown()->geometry(), QRect(0, 0, 1024, 768));
        QTest::keyClick(viewer.get(), Qt::Key_Right);
        QCOMPARE(shown()->x(), 0); // a picture that fits does not move

        viewer->ShowFile(w->rowPath(0));
        QCOMPARE(shown()->size(), QSize(2000, 1500));
        QCOMPARE(shown()->cursor().shape(), Qt::BitmapCursor);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(viewer.get(), Qt::Key_Right);
        QCOMPARE(shown()->x(), -820);
        QTest::keyClick(viewer.get(), Qt::Key_Right);
        QCOMPARE(shown()->x(), -976);
        QTest::keyClick(viewer.get(), Qt::Key_Right);
        QCOMPARE(shown()->x(), -976);

        // Page Down skips the text file; Shift makes no difference.
        fileList(*w)->setCurrentIndex(model(*w)->index(1, 0));
        viewer->ShowFile(w->rowPath(1));
        QTest::keyClick(viewer.get(), Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(shown()->NativeFileName(), w->rowPath(3));
        QCOMPARE(w->currentRow(), 3);
        QVERIFY(fileList(*w)->selectionModel()->selectedRows().isEmpty());
        QTest::keyClick(viewer.get(), Qt::Key_PageDown); // the last image: nothing moves
        QCOMPARE(shown()->NativeFileName(), w->rowPath(3));
        QTest::keyClick(viewer.get(), Qt::Key_Home);
        QCOMPARE(w->currentRow(), 0);
        QTest::keyClick(viewer.get(), Qt::Key_End);
        QCOMPARE(w->currentRow(), 3);
        QTest::keyClick(viewer.get(), Qt::Key_PageUp);
        QCOMPARE(w->currentRow(), 1);
        QTest::keyClick(viewer.get(), Qt::Key_Escape);
        QVERIFY(!viewer->isVisible());
        // Closing the main window ends the program: the viewer goes with it.
        viewRow(*w, 1);
        QVERIFY(viewer->isVisible());
        w->close();
        QVERIFY(!viewer->isVisible());
    }

    // A shown file whose row has left the list is still deleted, only while it is the
    // file that was shown; gone already, the viewer moves on without a word.
    void theViewerDeletesItsFileOnceItsRowLeftTheList() {
        tick(*w, "ckNoConfirm");
        tick(*w, "ckNoRecycle");
        addImage("d0", "stays.bmp", QSize(8, 8));
        const auto grow = [](const QString& path) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append));
            f.write("more bytes");
        };
        // Another file of the same size in its place: another inode.
        const auto replace = [this](const QString& path) {
            const QString other = QFile::decodeName(addImage("d9", "other.bmp", QSize(8, 8)));
            QVERIFY(QFile::remove(path));
            QVERIFY(QFile::rename(other, path));
        };
        const struct {
            const char* name;
            std::function<void(const QString&)> change;
            bool stays;
            bool named;
        } cases[] = {
            {"unchanged", [](const QString&) {}, false, false},
            {"replaced", replace, true, true},
            {"grown", grow, true, true},
            {"gone", [](const QString& path) { QFile::remove(path); }, false, false},
        };
        for (const auto& c : cases) {
            const QByteArray file =
                addImage("d1", QString::fromLatin1(c.name) + ".bmp", QSize(8, 8));
            const QString path = QFile::decodeName(file);
            findAll(*w);
            QCOMPARE(model(*w)->rowCount(), 2);
            const int row = w->rowPath(0) == file ? 0 : 1;
            viewRow(*w, row);
            QCOMPARE(shown()->NativeFileName(), file);
            std::vector<bool> remove(2, false);
            remove[size_t(row)] = true;
            w->DeleteRows(remove);
            c.change(path);
            const qsizetype errors = messages.errors.size();
            deleteInViewer();
            QVERIFY2(QFile::exists(path) == c.stays, c.name);
            QCOMPARE(messages.errors.size(), errors + (c.named ? 1 : 0));
            if (c.named)
                QVERIFY(messages.errors.back().contains(path));
            const bool stillOnIt = viewer->isVisible() && shown()->NativeFileName() == file;
            QVERIFY2(stillOnIt == c.stays, c.name);
            QCOMPARE(model(*w)->rowCount(), 1);
            viewer->hide();
            QFile::remove(path);
        }
    }

    void deletingInTheViewerMovesOnAndClosesAfterTheLast() {
        addImage("d1", "a.bmp", QSize(8, 8));
        addImage("d2", "b.bmp", QSize(8, 8));
        search();
        QCOMPARE(model(*w)->rowCount(), 2);
        tick(*w, "ckNoConfirm");
        tick(*w, "ckNoRecycle");
        const QByteArray first = w->rowPath(0), second = w->rowPath(1);
        viewRow(*w, 0);
        deleteInViewer();
        QVERIFY(!QFile::exists(QFile::decodeName(first)));
        QCOMPARE(model(*w)->rowCount(), 1);
        QCOMPARE(shown()->NativeFileName(), second);
        QVERIFY(viewer->isVisible());
        // The last copy of its group: asked about even without confirmations, and kept
        // when the answer is No.
        const int asked = prompts.questions;
        deleteInViewer();
        QCOMPARE(prompts.questions, asked + 1);
        QCOMPARE(model(*w)->rowCount(), 1);
        QVERIFY(QFile::exists(QFile::decodeName(second)));
        prompts.answer = true;
        deleteInViewer();
        prompts.answer = false;
        QCOMPARE(model(*w)->rowCount(), 0);
        QVERIFY(!viewer->isVisible());

        // A file changed since the search is named and kept.
        const QByteArray grown = addImage("d4", "grown.bmp", QSize(8, 8));
        findAll(*w);
        {
            QFile f(QFile::decodeName(grown));
            QVERIFY(f.open(QIODevice::Append));
            f.write("more bytes");
        }
        viewRow(*w, 0);
        deleteInViewer();
        QVERIFY(QFile::exists(QFile::decodeName(grown)));
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(viewer->isVisible());
        viewer->hide();
        QFile::remove(QFile::decodeName(grown));

        // Grouped by content: once the only other copy holds other bytes of the same
        // size and time, the shown file is the last of its kind and is kept.
        const QByteArray kept1 = addImage("c1", "copy.bmp", QSize(8, 8), Qt::blue);
        const QByteArray changed2 = addImage("c2", "copy.bmp", QSize(8, 8), Qt::blue);
        tick(*w, "ckContent");
        search();
        QCOMPARE(model(*w)->rowCount(), 2);
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
        viewRow(*w, w->rowPath(0) == kept1 ? 0 : 1);
        deleteInViewer();
        QVERIFY(QFile::exists(QFile::decodeName(kept1)));
        QCOMPARE(messages.errors.size(), errorsBefore + 1);
        viewer->hide();
        tick(*w, "ckContent", false);
        QFile::remove(QFile::decodeName(kept1));
        QFile::remove(QFile::decodeName(changed2));

        // A declined request changes nothing.
        const QByteArray kept = addImage("d3", "kept.bmp", QSize(8, 8));
        findAll(*w);
        tick(*w, "ckNoConfirm", false);
        viewRow(*w, 0);
        QCOMPARE(shown()->NativeFileName(), kept);
        const int questionsBefore = prompts.questions;
        deleteInViewer();
        QCOMPARE(prompts.questions, questionsBefore + 1);
        QVERIFY(QFile::exists(QFile::decodeName(kept)));
        QCOMPARE(model(*w)->rowCount(), 1);
        QVERIFY(viewer->isVisible());
    }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
