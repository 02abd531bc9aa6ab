#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <fstream>
#include <utime.h>

#include "languages.h"
#include "recordedmessages.h"
#include "shellfiles.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

const QString Hint = QStringLiteral("   Ctrl+Up=Prior group  Ctrl+Down=Next group");

// Records every question; answers No to the one about deleting every copy.
struct ScriptedPrompts : platform::ShellPrompts {
    QStringList questions;
    bool askYesNo(const std::string& q) override {
        questions << QString::fromStdString(q);
        return !questions.back().contains("every copy");
    }
    void reportError(const std::string&) override {}
};

} // namespace

// Find Duplicates, sorting, group marking and navigation, driven through the window.
class ResultListWindowTest : public QObject {
    Q_OBJECT

    RecordedMessages messages;
    ScriptedPrompts prompts;
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;
    std::unique_ptr<QTemporaryDir> tmp;
    const QString* saveTarget = nullptr; // where the save dialog is answered to save

    // Each file in a directory of its own, so the reading order is the names' order.
    void addFile(const QString& subdir, const QString& name, int bytes) {
        const QString d = tmp->path() + "/" + subdir;
        QDir().mkpath(d);
        std::ofstream(QFile::encodeName(d + "/" + name).toStdString(), std::ios::binary)
            << std::string(size_t(bytes), 'x');
    }

    QStringList names() const { return column(*w, ColName); }

    QString icons() const {
        QString out;
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            out += QString::number(model(*w)->store().icon(size_t(r)));
        return out;
    }

    void clickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
        fenwa::clickRow(*w, row, modifiers);
    }
    void clickHeader(int column) { fenwa::clickHeader(*w, column); }
    QList<int> selectedRows() const { return fenwa::selectedRows(*w); }
    void findDuplicates() { fenwa::findDuplicates(*w); }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { pressInList(*w, key, modifiers); }

private slots:
    void init() {
        messages = {};
        prompts = {};
        tmp = std::make_unique<QTemporaryDir>();
        MainWindowServices s;
        s.messages = &messages;
        s.shellPrompts = &prompts;
        s.pickSaveFile = [this](QWidget*, const QString&) -> std::optional<QString> {
            return *saveTarget;
        };
        QVERIFY(openMainWindow(progress, viewer, w, s));
        addDirectory(*w, tmp->path());
    }

    void cleanup() {
        w.reset();
        viewer.reset();
        progress.reset();
        tmp.reset();
    }

    void sizeOnlyListsTheGroups() {
        addFile("d1", "a.jpg", 1000);
        addFile("d2", "b.gif", 1000);
        addFile("d3", "c.bmp", 2000);
        findDuplicates();
        QCOMPARE(names(), (QStringList{"b.gif", "a.jpg"}));
        QCOMPARE(w->statusText(1), "Total Files:2" + Hint);
        QVERIFY(!progress->isVisible());
        QVERIFY(!w->isBusy());
        QVERIFY(messages.errors.isEmpty());
    }

    void refusedSearchesKeepTheList() {
        addFile("d1", "a.jpg", 5);
        addFile("d2", "b.jpg", 5);
        findDuplicates();
        QCOMPARE(model(*w)->rowCount(), 2);
        tick(*w, "ckSize", false);
        findDuplicates();
        QCOMPARE(messages.errors, QStringList{"您必須至少打一個勾"});
        QCOMPARE(model(*w)->rowCount(), 2);
        QCOMPARE(w->statusText(1), "Total Files:2" + Hint + Hint);

        tick(*w, "ckSize");
        click(*w, "btnClearDir");
        typeInto(*w, "Edit1", {});
        findDuplicates();
        QCOMPARE(messages.errors.last(), QStringLiteral("您沒有輸入目錄叫我怎麼找?"));
        QCOMPARE(model(*w)->rowCount(), 2);
    }

    void noPartnerGivesAnEmptyList() {
        addFile("d1", "only.jpg", 1);
        findDuplicates();
        QCOMPARE(model(*w)->rowCount(), 0);
        QCOMPARE(w->statusText(1), "Total Files:0" + Hint);
        QVERIFY(messages.errors.isEmpty());
    }

    void namesAcrossDirectoriesAndTheMendedMultiCriterionCase() {
        addFile("d1", "a.jpg", 100);
        addFile("d2", "A.JPG", 200);
        addFile("d3", "a.jpg", 200);
        tick(*w, "ckName");
        findDuplicates();
        QCOMPARE(names(), (QStringList{"a.jpg", "A.JPG"}));
        tick(*w, "ckSize", false);
        findDuplicates();
        QCOMPARE(names(), (QStringList{"A.JPG", "a.jpg", "a.jpg"}));
    }

    void clickingMarksTheGroupAndNavigationMovesBetweenGroups() {
        // Groups by size: three of 10, two of 20, two of 30.
        addFile("d1", "a1.jpg", 10);
        addFile("d2", "b1.txt", 20);
        addFile("d3", "c1.gif", 30);
        addFile("d4", "a2.jpg", 10);
        addFile("d5", "b2.txt", 20);
        addFile("d6", "c2.gif", 30);
        addFile("d7", "a3.jpg", 10);
        addFile("d8", "single", 40);
        findDuplicates();
        QCOMPARE(names(), (QStringList{"a2.jpg", "a3.jpg", "a1.jpg", "b2.txt", "b1.txt", "c2.gif",
                                       "c1.gif"}));
        QCOMPARE(icons(), QStringLiteral("0001100"));

        clickRow(1);
        QCOMPARE(icons(), QStringLiteral("2221100"));
        clickRow(4);
        QCOMPARE(icons(), QStringLiteral("0002200"));

        // Ctrl+Down: first row of the next group; the key does not move the cursor itself.
        key(Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 5);
        QCOMPARE(selectedRows(), QList<int>{5});
        QCOMPARE(icons(), QStringLiteral("0001122"));
        // Inside the last group a multi-row selection collapses to the current row.
        clickRow(3, Qt::ControlModifier);
        clickRow(6, Qt::ControlModifier);
        clickRow(5, Qt::ControlModifier);
        clickRow(5, Qt::ControlModifier); // the cursor on 5, still selected
        QCOMPARE(w->currentRow(), 5);
        QCOMPARE(selectedRows(), (QList<int>{3, 5, 6}));
        key(Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 5);
        QCOMPARE(selectedRows(), QList<int>{5});
        // On the very last row it does nothing at all.
        clickRow(6, Qt::ControlModifier);
        key(Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 6);
        QCOMPARE(selectedRows(), (QList<int>{5, 6}));
        // Ctrl+Up from the second row of a group goes to the first row of the group before.
        key(Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 3);
        key(Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 0);
        QCOMPARE(icons(), QStringLiteral("2221100"));
        key(Qt::Key_Up, Qt::ControlModifier); // row 0: nothing
        QCOMPARE(w->currentRow(), 0);
        // The menu items do the same.
        QVERIFY(choose(*w, "lvFiles", "miNextGroup"));
        QCOMPARE(w->currentRow(), 3);
        QVERIFY(choose(*w, "lvFiles", "miPriorGroup"));
        QCOMPARE(w->currentRow(), 0);
        // Plain arrows move one row as usual.
        key(Qt::Key_Down);
        QCOMPARE(w->currentRow(), 1);

        // With nothing ticked every row is its own group.
        tick(*w, "ckSize", false);
        key(Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 2);
        QCOMPARE(icons().at(2), QLatin1Char('2'));
        key(Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 1);
    }

    void contentSplitsTheSizeGroupAndMarkingFollowsIt() {
        auto write = [this](const QString& subdir, const char* bytes) {
            QDir().mkpath(tmp->path() + "/" + subdir);
            std::ofstream(QFile::encodeName(tmp->path() + "/" + subdir + "/f.jpg").toStdString(),
                          std::ios::binary)
                << bytes;
        };
        write("d1", "AAAA");
        write("d2", "BBBB");
        write("d3", "AAAA");
        write("d4", "BBBB");
        write("d5", "CCCCC");
        tick(*w, "ckSize", false);
        tick(*w, "ckContent");
        findDuplicates();
        // By size d2 d3 d4 d1; split by content, each part where its first row stood.
        QStringList dirs;
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            dirs << model(*w)->index(r, ColDirectory).data().toString().section('/', -1);
        QCOMPARE(dirs, (QStringList{"d2", "d4", "d3", "d1"}));
        QCOMPARE(w->statusText(1), "Total Files:4" + Hint);

        clickRow(0);
        QCOMPARE(icons(), QStringLiteral("2200"));
        key(Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(selectedRows(), QList<int>{2});
        QCOMPARE(icons(), QStringLiteral("0022"));
    }

    void headerClicksSortAndScatterGroups() {
        addFile("d1", "b.jpg", 10);
        addFile("d2", "A.jpg", 9);
        addFile("d3", "c.jpg", 10);
        addFile("d4", "d.jpg", 9);
        findDuplicates();
        QCOMPARE(names(), (QStringList{"c.jpg", "b.jpg", "d.jpg", "A.jpg"}));
        // Each click on the size header turns the order round; another column starts afresh.
        for (const char* first : {"9", "10", "9"}) {
            clickHeader(ColSize);
            QCOMPARE(model(*w)->index(0, ColSize).data().toString(), QLatin1String(first));
        }
        clickHeader(ColName);
        QCOMPARE(names(), (QStringList{"A.jpg", "b.jpg", "c.jpg", "d.jpg"}));
        // Sorted by name the groups scatter: only adjacent equal sizes are marked.
        clickRow(1);
        QCOMPARE(icons(), QStringLiteral("0220"));
        clickRow(0);
        QCOMPARE(icons(), QStringLiteral("2000"));
    }

    void savingTheListWritesCsvOrJson() {
        addFile("d1", "a.jpg", 3);
        addFile("d2", "b.jpg", 3);
        // A picture's header gives its size; one that cannot be read gives nothing.
        QImage picture(7, 5, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(tmp->path() + "/d1/p.bmp") && picture.save(tmp->path() + "/d2/p.bmp"));
        findDuplicates();
        QString target = tmp->path() + "/list.csv";
        saveTarget = &target;
        QVERIFY(choose(*w, "lvFiles", "miSaveList"));
        QFile csv(target);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines[0],
                 QByteArray("group,name,directory,size,type,time,width,height,taken,likeness\r"));
        QVERIFY(lines[1].startsWith("1,b.jpg,"));
        QVERIFY(lines[2].startsWith("1,a.jpg,"));
        QCOMPARE(lines.size(), 6); // and the empty rest after the last line's end
        for (const QByteArray& line : lines.mid(1, 4))
            QVERIFY2(line.endsWith(line.contains(",p.bmp,") ? ",7,5,,\r" : ",,,,\r"), line);
        target = tmp->path() + "/list.json";
        QVERIFY(choose(*w, "lvFiles", "miSaveList"));
        QFile json(target);
        QVERIFY(json.open(QIODevice::ReadOnly));
        QVERIFY(json.readAll().startsWith("[\n {\"group\": 1, \"name\": \"b.jpg\""));
        // A place that cannot be written is reported.
        target = tmp->path() + "/missing-dir/list.csv";
        QVERIFY(choose(*w, "lvFiles", "miSaveList"));
        QCOMPARE(messages.errors.size(), 1);
    }

    // Ticks changed after the search, and the list sorted: Delete and the Select rules
    // still work on the groups the search found.
    void changedTicksLeaveTheSearchsGroups_data() {
        QTest::addColumn<bool>("size");
        QTest::addColumn<QString>("searched");
        QTest::newRow("size and content, content unticked") << true << "Size, Content";
        QTest::newRow("content alone, unticked") << false << "Content";
    }
    void changedTicksLeaveTheSearchsGroups() {
        QFETCH(bool, size);
        QFETCH(QString, searched);
        // Two different pictures of one size, each with a copy, written in this order.
        const std::pair<const char*, const char*> files[] = {
            {"d1", "XXXX"}, {"d2", "YYYY"}, {"d3", "XXXX"}, {"d4", "YYYY"}};
        int minute = 0;
        for (const auto& [dir, bytes] : files) {
            QDir().mkpath(tmp->path() + "/" + dir);
            const QByteArray p = QFile::encodeName(tmp->path() + "/" + dir + "/f.jpg");
            std::ofstream(p.toStdString(), std::ios::binary) << bytes;
            const utimbuf times{1'600'000'000 + 600 * minute, 1'600'000'000 + 600 * minute};
            QCOMPARE(::utime(p.constData(), &times), 0);
            ++minute;
        }
        const auto rowOf = [this](const char* dir) {
            for (int r = 0; r < model(*w)->rowCount(); ++r)
                if (w->rowPath(r).endsWith(QByteArray("/") + dir + "/f.jpg"))
                    return r;
            return -1;
        };
        const auto selectedDirs = [&] {
            QStringList dirs;
            for (int r : selectedRows())
                dirs << QFile::decodeName(w->rowPath(r)).section('/', -2, -2);
            dirs.sort();
            return dirs;
        };
        if (!size)
            click(*w, "ckSize");
        click(*w, "ckContent");
        QCOMPARE(ticked(*w, "ckSize"), size);
        findDuplicates();
        QCOMPARE(model(*w)->rowCount(), 4);
        const auto* notice = part<QLabel>(*w, "lblTicksChanged");
        QVERIFY(notice->text().isEmpty());

        click(*w, "ckContent");
        QVERIFY(notice->isVisibleTo(w.get()));
        QCOMPARE(
            notice->text(),
            QStringLiteral("Ticks changed since the search: Delete and the Select rules keep the "
                           "search's groups (%1)")
                .arg(searched));
        clickHeader(ColTime); // the groups interleave: d1 d2 d3 d4
        QCOMPARE(rowOf("d1"), 0);
        QCOMPARE(rowOf("d4"), 3);

        // Keep the newest of each group; invert within groups.
        QVERIFY(choose(*w, "lvFiles", "miKeepNewest"));
        QVERIFY(!selectionNote(*w).contains("left for you"));
        QCOMPARE(selectedDirs(), (QStringList{"d1", "d2"}));
        clickRow(rowOf("d1"));
        QVERIFY(choose(*w, "lvFiles", "miInvertSelection"));
        QCOMPARE(selectedDirs(), (QStringList{"d2", "d3", "d4"}));

        // Both rows of X, then Delete: that is every copy of X, and the answer is No.
        tick(*w, "ckNoRecycle");
        clickRow(rowOf("d1"));
        clickRow(rowOf("d3"), Qt::ControlModifier);
        QCOMPARE(selectedDirs(), (QStringList{"d1", "d3"}));
        key(Qt::Key_Delete);
        QCOMPARE(prompts.questions.size(), 1);
        QVERIFY(prompts.questions[0].contains("every copy"));
        QVERIFY(QFile::exists(tmp->path() + "/d1/f.jpg"));
        QVERIFY(QFile::exists(tmp->path() + "/d3/f.jpg"));
        QCOMPARE(model(*w)->rowCount(), 4);

        // Ticked as searched again, the notice goes; a new search records the new ticks.
        click(*w, "ckContent");
        QVERIFY(notice->text().isEmpty());
        QVERIFY(!notice->isVisibleTo(w.get()));
        click(*w, "ckTime");
        QVERIFY(!notice->text().isEmpty());
        findDuplicates(); // every minute differs: no groups
        QVERIFY(notice->text().isEmpty());
    }

    void deletingRowsKeepsTheCountCurrent() {
        for (int i = 0; i < 10; ++i)
            addFile(QStringLiteral("d%1").arg(i), QStringLiteral("f%1").arg(i), 7);
        findDuplicates();
        QCOMPARE(model(*w)->rowCount(), 10);
        tick(*w, "ckNoConfirm");
        tick(*w, "ckNoRecycle");
        clickRow(2);
        clickRow(7, Qt::ControlModifier);
        key(Qt::Key_Delete);
        QCOMPARE(model(*w)->rowCount(), 8);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:8"));
    }

    void groupsAreShadedCountedAndADeleteSaysWhatItFreed() {
        for (const char* d : {"a", "b", "c"})
            addFile(d, "x.txt", 10);
        for (const char* d : {"d", "e"})
            addFile(d, "y.txt", 2000);
        findDuplicates();
        QCOMPARE(model(*w)->rowCount(), 5);
        const auto* summary = part<QLabel>(*w, "lblGroups");
        QTRY_COMPARE(summary->text(), QStringLiteral("2 groups, 3 copies could go, freeing 2 kB"));
        QCOMPARE(summary->toolTip(), summary->text());
        // After a search with a status text far longer than the bar, the window still fits
        // a laptop's screen and a desktop's, and can be resized to either.
        w->setStatusText(1, w->statusText(1) + QString(2000, QLatin1Char('x')));
        QCoreApplication::processEvents();
        for (const QSize screen : {QSize(1366, 768), QSize(1600, 1000)}) {
            w->resize(screen);
            QTRY_COMPARE(w->width(), screen.width());
        }
        // The second group is shaded, the first not.
        const auto shaded = [&](int row) {
            return model(*w)->index(row, ColName).data(FileListModel::GroupBandRole).toBool();
        };
        QVERIFY(shaded(0) != shaded(4));
        QCOMPARE(shaded(0), shaded(1));

        // A rule that cannot decide (no pictures to count pixels of) leaves both groups to
        // the user; the note goes as soon as the user picks rows by hand.
        QVERIFY(choose(*w, "lvFiles", "miKeepPixels"));
        QVERIFY(selectionNote(*w).contains("2 groups left for you to decide"));
        clickRow(0);
        QTRY_VERIFY(!selectionNote(*w).contains("left for you"));

        tick(*w, "ckNoConfirm");
        tick(*w, "ckNoRecycle");
        for (int r = 0; r < model(*w)->rowCount(); ++r)
            if (QFile::decodeName(w->rowPath(r)).endsWith("/e/y.txt"))
                clickRow(r);
        key(Qt::Key_Delete);
        QTRY_VERIFY(!QFile::exists(tmp->path() + "/e/y.txt"));
        QTRY_COMPARE(summary->text(),
                     QStringLiteral("1 file deleted for good, 2 kB freed  ·  "
                                    "1 group, 2 copies could go, freeing 20 bytes"));
        // The language chosen on the options page speaks here too.
        click(*w, "rbChinese");
        QCOMPARE(summary->text(),
                 QStringLiteral(
                     "1 個檔案已永久刪除, 釋放 2 kB  ·  1 組, 2 個副本可刪除, 可釋放 20 位元組"));
        click(*w, "rbEnglish");
        findDuplicates();
        QTRY_COMPARE(summary->text(),
                     QStringLiteral("1 group, 2 copies could go, freeing 20 bytes"));
    }

    // The picture columns read the headers; a click on one sorts by it once every
    // picture's facts are in, a row without a value last either way.
    void pictureColumnsShowHeaderFactsAndSortByPictureSize() {
        const auto write = [&](const QString& subdir, const QString& name, const QByteArray& b) {
            QDir().mkpath(tmp->path() + "/" + subdir);
            QFile f(tmp->path() + "/" + subdir + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(b) == b.size());
        };
        const auto encoded = [](int width, int height, const char* format) {
            QImage picture(width, height, QImage::Format_RGB32);
            picture.fill(Qt::darkCyan);
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, format);
            return bytes;
        };
        // An EXIF block after the JPEG's start: DateTimeOriginal in the EXIF directory.
        QByteArray tiff("II*\0\x08\0\0\0\x01\0\x69\x87\x04\0\x01\0\0\0\x1a\0\0\0"
                        "\0\0\0\0\x01\0\x03\x90\x02\0\x14\0\0\0\x2c\0\0\0\0\0\0\0",
                        44);
        tiff += QByteArray("2019:05:06 07:08:09", 20);
        const QByteArray exif = QByteArray("Exif\0\0", 6) + tiff;
        QByteArray jpeg = encoded(40, 30, "JPEG");
        jpeg.insert(2, QByteArray("\xFF\xE1", 2) + char((exif.size() + 2) >> 8) +
                           char((exif.size() + 2) & 0xFF) + exif);
        // Pictures below many other rows: never shown, so the sort has to read them.
        for (int i = 0; i < 60; ++i)
            write("a", QStringLiteral("%1.txt").arg(i), "text");
        write("z1", "a.jpg", jpeg);
        write("z2", "b.png", encoded(64, 16, "PNG"));
        write("z3", "c.txt", "not a picture");
        write("z4", "d.jpg", encoded(10, 10, "JPEG"));
        findAll(*w);
        QCOMPARE(names().mid(60), (QStringList{"a.jpg", "b.png", "c.txt", "d.jpg"}));
        QVERIFY(!model(*w)->pictureFacts(60));
        fileList(*w)->scrollTo(model(*w)->index(0, ColTaken)); // as the user scrolls there
        clickHeader(ColPictureSize);
        QTRY_COMPARE(names().mid(0, 3), (QStringList{"d.jpg", "b.png", "a.jpg"}));
        QCOMPARE(names().last(), QStringLiteral("c.txt")); // no value: last
        QCOMPARE(column(*w, ColPictureSize).mid(0, 4),
                 QString::fromUtf8("10 × 10|64 × 16|40 × 30|").split(u'|'));
        QCOMPARE(column(*w, ColTaken).mid(0, 4), QStringList({"", "", "2019/05/06 07:08", ""}));
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:64"));
        clickHeader(ColPictureSize);
        QCOMPARE(names().mid(0, 3), (QStringList{"a.jpg", "b.png", "d.jpg"}));
        QCOMPARE(names().last(), QStringLiteral("c.txt"));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        w->SetLanguage(Chinese);
        QCOMPARE(model(*w)->headerData(ColTaken, Qt::Horizontal).toString(),
                 QStringLiteral("拍攝時間"));
        QCOMPARE(model(*w)->headerData(ColTime, Qt::Horizontal).toString(), QStringLiteral("Time"));
    }
};

QTEST_MAIN(ResultListWindowTest)
#include "resultlist_window_test.moc"
