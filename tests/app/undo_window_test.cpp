// Undo in the main window, driven by keys and the list's menu: deletes to the trash and
// renames are reversed, across a restart too, and a rename re-checks its file first.
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "TAdvImage.h"
#include "madeupphoto.h"
#include "recordedmessages.h"
#include "shellfiles.h"
#include "undojournal.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

struct NoPrompts : platform::ShellPrompts {
    QStringList questions;
    bool askYesNo(const std::string& q) override {
        questions << QString::fromStdString(q);
        return true;
    }
    void reportError(const std::string&) override {}
};

std::string contentOf(const QByteArray& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A photo-like picture `width` pixels wide.
QImage madeUpPhoto(quint32 seed, int width) {
    const QImage image = madeUpScene(seed);
    return image.scaledToWidth(width, Qt::SmoothTransformation);
}

} // namespace

class UndoWindowTest : public QObject {
    Q_OBJECT

    // The desktop's trash lives under XDG_DATA_HOME, which GIO reads once: one for the run.
    QTemporaryDir dataHome;
    RecordedMessages messages;
    NoPrompts prompts;
    std::unique_ptr<QTemporaryDir> tmp;
    QString journalPath;
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;

    void makeWindow(actions::ContentHasher deleteHasher = {}) {
        w.reset();
        MainWindowServices s;
        s.messages = &messages;
        s.shellPrompts = &prompts;
        s.undoJournalPath = journalPath;
        s.deleteHasher = std::move(deleteHasher);
        QVERIFY(openMainWindow(progress, viewer, w, s, true));
        tick(*w, "ckNoConfirm"); // to the trash without a question
    }

    // A file of `bytes` in a directory of its own, so the reading order is the
    // directories' order.
    QByteArray addFile(const QString& subdir, const QString& name, const std::string& bytes) {
        const QString d = tmp->path() + "/" + subdir;
        QDir().mkpath(d);
        const QByteArray path = QFile::encodeName(d + "/" + name);
        std::ofstream(path.toStdString(), std::ios::binary) << bytes;
        return path;
    }

    void search() {
        addDirectory(*w, tmp->path());
        findDuplicates(*w);
    }

    QList<QByteArray> rowPaths() const {
        QList<QByteArray> paths;
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            paths << w->rowPath(r);
        return paths;
    }

    void deleteRow(int row) {
        clickRow(*w, row);
        pressInList(*w, Qt::Key_Delete);
    }

    void ctrlZ() { pressInList(*w, Qt::Key_Z, Qt::ControlModifier); }

    // Opens the list's menu and clicks the Undo item.
    void clickUndoInMenu() {
        QMenu* menu = openContextMenu(*w, "lvFiles", QPoint(10, 10));
        QVERIFY(menu && QTest::qWaitForWindowExposed(menu));
        QAction* undo = menuItem(*menu, "miUndo");
        QVERIFY(undo->isEnabled());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(undo).center());
        QTRY_VERIFY(!menu->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 30000);
    }

private slots:
    void initTestCase() {
        QVERIFY(dataHome.isValid());
        ::setenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()).constData(), 1);
    }

    void init() {
        messages = {};
        prompts = {};
        // The files live beside the trash, on the same file system.
        tmp = std::make_unique<QTemporaryDir>(dataHome.path() + "/files-XXXXXX");
        QVERIFY(tmp->isValid());
        journalPath = tmp->path() + "/data/undo-journal.json";
        progress = std::make_unique<TfrmProgress>();
        viewer = std::make_unique<TfrmViewer>();
        makeWindow();
    }

    void cleanup() {
        w.reset();
        viewer.reset();
        progress.reset();
        tmp.reset();
    }

    void ctrlZPutsDeletedFilesAndTheirRowsBackMostRecentFirst() {
        std::map<QByteArray, std::string> bytes;
        bytes[addFile("d1", "a.jpg", "aaaaa")] = "aaaaa";
        bytes[addFile("d2", "b.jpg", std::string("b\0b\xff\n", 5))] = std::string("b\0b\xff\n", 5);
        bytes[addFile("d3", "c.jpg", "ccccc")] = "ccccc";
        addFile("d4", "x.txt", "xxxxxxx");
        addFile("d5", "y.txt", "yyyyyyy");
        search();
        const QList<QByteArray> before = rowPaths();
        QCOMPARE(before.size(), 5);
        QVERIFY(!action(*w, "miUndo")->isEnabled());
        QCOMPARE(action(*w, "miUndo")->text(), QStringLiteral("Undo [Ctrl+Z]"));

        // The middle row of the first group.
        const int rowB = 1;
        const QByteArray b = before[rowB];
        QVERIFY(bytes.count(b));
        deleteRow(rowB);
        QVERIFY(!QFile::exists(QFile::decodeName(b)));
        QCOMPARE(model(*w)->rowCount(), 4);
        QVERIFY(action(*w, "miUndo")->isEnabled());
        QCOMPARE(action(*w, "miUndo")->text(), QStringLiteral("Undo Delete [Ctrl+Z]"));

        ctrlZ();
        QCOMPARE(contentOf(b), bytes[b]);
        QCOMPARE(rowPaths(), before); // at its old place
        QCOMPARE(w->currentRow(), rowB);
        QCOMPARE(fileList(*w)->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:5"));
        QVERIFY(messages.errors.isEmpty());
        QVERIFY(!action(*w, "miUndo")->isEnabled());

        // Two deletes, then two Undos: the last one first, and all back in order.
        deleteRow(4);
        deleteRow(0);
        QCOMPARE(model(*w)->rowCount(), 3);
        ctrlZ();
        QCOMPARE(model(*w)->rowCount(), 4);
        QCOMPARE(w->rowPath(0), before[0]);
        QVERIFY(!QFile::exists(QFile::decodeName(before[4])));
        ctrlZ();
        QCOMPARE(rowPaths(), before);
        ctrlZ(); // nothing left: nothing happens
        QCOMPARE(rowPaths(), before);
        QVERIFY(messages.errors.isEmpty());

        // Deleting for good journals nothing, and asking for every copy says so.
        tick(*w, "ckNoRecycle");
        deleteRow(0);
        QVERIFY(!QFile::exists(QFile::decodeName(before[0])));
        QVERIFY(!action(*w, "miUndo")->isEnabled());
        QTest::keyClick(fileList(*w), Qt::Key_A, Qt::ControlModifier);
        pressInList(*w, Qt::Key_Delete);
        QCOMPARE(prompts.questions.size(), 1);
        QVERIFY(prompts.questions[0].contains(QStringLiteral("無法復原")));
        QCOMPARE(model(*w)->rowCount(), 0);
        QVERIFY(!action(*w, "miUndo")->isEnabled());
    }

    void undoFromTheMenuRenamesBackAndAnOpenEditorKeepsCtrlZ() {
        const QByteArray old = addFile("p", "x.jpg", "x");
        addFile("q", "y.jpg", "y");
        search();
        QCOMPARE(model(*w)->rowCount(), 2);
        const int row = w->rowPath(0) == old ? 0 : 1;
        editName(*w, row, QStringLiteral("renamed.jpg"));
        QVERIFY(messages.errors.isEmpty());
        QVERIFY(QFile::exists(tmp->path() + "/p/renamed.jpg"));

        // Ctrl+Z in the name editor is the editor's own.
        QLineEdit* editor = startEditing(*w, row);
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(QFile::exists(tmp->path() + "/p/renamed.jpg"));
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!openEditor(*w));

        // The item names the action, in the language of the window.
        QAbstractButton* chinese = button(*w, "rbChinese");
        QTest::mouseClick(chinese, Qt::LeftButton, {}, QPoint(6, chinese->height() / 2));
        QVERIFY(ticked(*w, "rbChinese"));
        QCOMPARE(action(*w, "miUndo")->text(), QStringLiteral("復原改名 [Ctrl+Z]"));
        clickUndoInMenu();
        QVERIFY(QFile::exists(QFile::decodeName(old)));
        QVERIFY(!QFile::exists(tmp->path() + "/p/renamed.jpg"));
        QCOMPARE(model(*w)->index(row, ColName).data().toString(), QStringLiteral("x.jpg"));
        QVERIFY(!action(*w, "miUndo")->isEnabled());
        QCOMPARE(action(*w, "miUndo")->text(), QStringLiteral("復原 [Ctrl+Z]"));

        // The old name taken in the meantime: nothing is replaced, the user is told.
        editName(*w, row, QStringLiteral("again.jpg"));
        addFile("p", "x.jpg", "newcomer");
        ctrlZ();
        QCOMPARE(contentOf(old), std::string("newcomer"));
        QVERIFY(QFile::exists(tmp->path() + "/p/again.jpg"));
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors[0].contains(QStringLiteral("again.jpg")));
    }

    void aRenameIsRefusedWhenTheFileChangedSinceTheSearch() {
        const QByteArray grown = addFile("p", "x.jpg", "xx");
        addFile("q", "y.jpg", "yy");
        search();
        const int row = w->rowPath(0) == grown ? 0 : 1;
        std::ofstream(grown.toStdString(), std::ios::app) << "more";
        editName(*w, row, QStringLiteral("z.jpg"));
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors[0].contains(QFile::decodeName(grown)));
        QVERIFY(messages.errors[0].contains(QStringLiteral("was not renamed")));
        QVERIFY(messages.errors[0].contains(QStringLiteral("size changed")));
        QVERIFY(QFile::exists(QFile::decodeName(grown)));
        QVERIFY(!QFile::exists(tmp->path() + "/p/z.jpg"));
        QCOMPARE(model(*w)->index(row, ColName).data().toString(), QStringLiteral("x.jpg"));
        QVERIFY(!action(*w, "miUndo")->isEnabled());

        // Gone since the search: refused and named too.
        QFile::remove(QFile::decodeName(grown));
        editName(*w, row, QStringLiteral("z.jpg"));
        QCOMPARE(messages.errors.size(), 2);
        QVERIFY(messages.errors[1].contains(QStringLiteral("no longer exists")));
    }

    void afterARestartUndoPutsTheFileBackWithoutAList() {
        const QByteArray a = addFile("d1", "a.jpg", "same");
        addFile("d2", "b.jpg", "same");
        search();
        deleteRow(w->rowPath(0) == a ? 0 : 1);
        QVERIFY(!QFile::exists(QFile::decodeName(a)));

        makeWindow(); // a new run reads the journal
        QCOMPARE(model(*w)->rowCount(), 0);
        QVERIFY(action(*w, "miUndo")->isEnabled());
        ctrlZ();
        QCOMPARE(contentOf(a), std::string("same"));
        QCOMPARE(model(*w)->rowCount(), 0);
        QVERIFY(messages.errors.isEmpty());

        // A journal that is not one: an empty Undo, and the program goes on.
        w.reset();
        QFile f(journalPath);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("{ broken");
        f.close();
        makeWindow();
        QVERIFY(!action(*w, "miUndo")->isEnabled());
        ctrlZ();
        QVERIFY(messages.errors.isEmpty());
    }

    void aDeleteInTheViewerIsUndoneToo() {
        addFile("d1", "a.jpg", "same");
        addFile("d2", "b.jpg", "same");
        search();
        const QList<QByteArray> before = rowPaths();
        viewRow(*w, 0);
        QTest::keyClick(viewer.get(), Qt::Key_Delete);
        QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 30000);
        QVERIFY(!QFile::exists(QFile::decodeName(before[0])));
        viewer->hide();
        QCOMPARE(model(*w)->rowCount(), 1);
        ctrlZ();
        QCOMPARE(rowPaths(), before);
        QCOMPARE(contentOf(before[0]), std::string("same"));
    }

    void aFileIsNotPutBackOverANewcomer() {
        const QByteArray a = addFile("d1", "a.jpg", "trashed");
        addFile("d2", "b.jpg", "other!!");
        search();
        deleteRow(w->rowPath(0) == a ? 0 : 1);
        addFile("d1", "a.jpg", "newcomer");
        ctrlZ();
        QCOMPARE(contentOf(a), std::string("newcomer"));
        QCOMPARE(model(*w)->rowCount(), 1); // no row for a file that did not come back
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors[0].contains(QFile::decodeName(a)));
        QVERIFY(messages.errors[0].contains(QStringLiteral("stays in the trash")));
        QVERIFY(!action(*w, "miUndo")->isEnabled()); // the attempt used the action up
    }

    void groupKeysDuringAnEditLeaveTheNameAndTheRowAlone() {
        addFile("a", "one.jpg", "same");
        addFile("b", "two.jpg", "same");
        addFile("c", "three.jpg", "other");
        addFile("d", "four.jpg", "other");
        makeWindow();
        search();
        QCOMPARE(model(*w)->rowCount(), 4);
        const QByteArray path = w->rowPath(0);
        QLineEdit* editor = startEditing(*w, 0);
        QVERIFY(editor);
        editor->selectAll();
        typeText(editor, QStringLiteral("half"));
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Down}) {
            QTest::keyClick(editor, key, Qt::ControlModifier);
            QCoreApplication::processEvents();
            QCOMPARE(w->currentRow(), 0);
        }
        // Moving the row from elsewhere ends the edit without renaming.
        w->showRow(2); // the viewer pages on: the edit holds the row
        fileList(*w)->setCurrentIndex(model(*w)->index(2, ColName));
        QCoreApplication::processEvents();
        QVERIFY(QFile::exists(QFile::decodeName(path)));
        QVERIFY(!QFile::exists(tmp->path() + "/a/half"));
        QCOMPARE(model(*w)->index(0, ColName).data().toString(),
                 QFile::decodeName(path).section('/', -1));
    }

    // A row put back into a list of similar pictures is in its group again: the slides
    // show the group, Ctrl+Down passes it and a rule selects in it.
    void undoInASimilarListPutsTheRowBackInItsGroup() {
        const std::pair<quint32, int> pictures[] = {{11, 640}, {11, 200}, {12, 640}, {12, 200}};
        int n = 0;
        for (const auto& [seed, width] : pictures) {
            const QString d = tmp->path() + QStringLiteral("/d%1").arg(++n);
            QDir().mkpath(d);
            QVERIFY(madeUpPhoto(seed, width).save(d + "/p.jpg", "JPG", 85));
        }
        click(*w, "ckSize");
        click(*w, "ckSimilar");
        search();
        const QList<QByteArray> before = rowPaths();
        QCOMPARE(before.size(), 4);
        const auto visibleSlides = [this] {
            QString out;
            for (int i = 1; i <= 5; ++i)
                out += nth(*w, "AdvImage", i)->isVisibleTo(w.get()) ? '1' : '0';
            return out;
        };

        deleteRow(1);
        QCOMPARE(model(*w)->rowCount(), 3);
        ctrlZ();
        QCOMPARE(rowPaths(), before);
        QCOMPARE(w->currentRow(), 1);
        QTest::keyClick(fileList(*w), Qt::Key_Return);
        QCOMPARE(visibleSlides(), QStringLiteral("11000"));
        clickRow(*w, 0);
        QTest::keyClick(fileList(*w), Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 2);
        QVERIFY(choose(*w, "lvFiles", "miKeepFirst"));
        QVERIFY(!selectionNote(*w).contains("left for you"));
        QCOMPARE(fileList(*w)->selectionModel()->selectedRows().size(), 2);
        QVERIFY(!fileList(*w)->selectionModel()->isRowSelected(0));
        QVERIFY(fileList(*w)->selectionModel()->isRowSelected(1));
    }

    void aFileReplacedSinceTheSearchIsNotDeleted() {
        addFile("a", "one.jpg", "same");
        addFile("b", "two.jpg", "same");
        makeWindow();
        search();
        QCOMPARE(model(*w)->rowCount(), 2);
        // Another file of the same size and minute now stands at the row's path.
        const QByteArray path = w->rowPath(0);
        const QFileInfo before(QFile::decodeName(path));
        const QByteArray other = addFile("a", "new.tmp", "SAME");
        QVERIFY(::rename(other.constData(), path.constData()) == 0);
        QFile f(QFile::decodeName(path));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(before.lastModified(), QFileDevice::FileModificationTime));
        f.close();
        messages.errors.clear();
        deleteRow(0);
        QCOMPARE(contentOf(path), std::string("SAME"));
        QCOMPARE(model(*w)->rowCount(), 2);
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors[0].contains(QFile::decodeName(path)));
        QVERIFY(messages.errors[0].contains(QStringLiteral("replaced by another file")));
    }

    void cancelWhileTheFilesAreReadAgainDeletesNothing() {
        // The reading waits until released, so Cancel comes while the plan is still reading.
        std::atomic<bool> reading{false}, release{false};
        struct Release {
            std::atomic<bool>& flag;
            ~Release() { flag = true; }
        } releaseOnExit{release};
        makeWindow([&](const std::string& path, int64_t size, ContentHash& hash) {
            reading = true;
            while (!release)
                QThread::msleep(1);
            return actions::hashFileNow(path, size, hash);
        });
        tick(*w, "ckContent");
        const QByteArray a = addFile("d1", "a", "same bytes");
        const QByteArray b = addFile("d2", "b", "same bytes");
        search();
        QCOMPARE(model(*w)->rowCount(), 2);
        QSignalSpy finished(w.get(), &TfrmMain::deleteFinished);
        clickRow(*w, 0);
        QTest::keyClick(fileList(*w), Qt::Key_Delete);
        QTRY_VERIFY(reading);
        QVERIFY(w->isBusy());
        QVERIFY(progress->isVisible());
        QTest::mouseClick(part<QPushButton>(*progress, "btnCancel"), Qt::LeftButton);
        release = true;
        QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 30000);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!progress->isVisible());
        QVERIFY(QFile::exists(QFile::decodeName(a)) && QFile::exists(QFile::decodeName(b)));
        QCOMPARE(model(*w)->rowCount(), 2);
        QVERIFY(!action(*w, "miUndo")->isEnabled());
        QVERIFY(messages.errors.isEmpty());
        // Not cancelled, the same delete goes through.
        deleteRow(0);
        QCOMPARE(finished.count(), 2);
        QCOMPARE(model(*w)->rowCount(), 1);
        QVERIFY(action(*w, "miUndo")->isEnabled());
    }
};

QTEST_MAIN(UndoWindowTest)
#include "undo_window_test.moc"
