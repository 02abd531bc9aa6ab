#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>
#include <fstream>
#include <utime.h>

#include "messages.h"
#include "recordedmessages.h"
#include "shellfiles.h"
#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"
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

    // Each file in a directory of its own, so the reading order is the names' order.
    void addFile(const QString& subdir, const QString& name, int bytes) {
        const QString d = tmp->path() + "/" + subdir;
        QDir().mkpath(d);
        std::ofstream(QFile::encodeName(d + "/" + name).toStdString(), std::ios::binary)
            << std::string(size_t(bytes), 'x');
    }

    QStringList names() const {
        QStringList out;
        for (int r = 0; r < w->lvFilesModel->rowCount(); ++r)
            out << w->lvFilesModel->index(r, ColName).data().toString();
        return out;
    }

    QString icons() const {
        QString out;
        for (int r = 0; r < w->lvFilesModel->rowCount(); ++r)
            out += QString::number(w->lvFilesModel->store().icon(size_t(r)));
        return out;
    }

    void clickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
        const QRect r = w->lvFiles->visualRect(w->lvFilesModel->index(row, 0));
        QTest::mouseClick(w->lvFiles->viewport(), Qt::LeftButton, modifiers, r.center());
    }

    void clickHeader(int column) {
        QHeaderView* h = w->lvFiles->header();
        const QPoint p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2,
                       h->height() / 2);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
    }

    QList<int> selectedRows() const {
        QList<int> rows;
        for (const QModelIndex& i : w->lvFiles->selectionModel()->selectedRows())
            rows << i.row();
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    void findDuplicates() {
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
    }

private slots:
    void init() {
        messages = {};
        prompts = {};
        tmp = std::make_unique<QTemporaryDir>();
        MainWindowServices s;
        s.messages = &messages;
        s.shellPrompts = &prompts;
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
        QVERIFY(w->ListIdle);
        QVERIFY(messages.errors.isEmpty());
    }

    void refusedSearchesKeepTheList() {
        addFile("d1", "a.jpg", 5);
        addFile("d2", "b.jpg", 5);
        findDuplicates();
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
        w->pgOptions->ckSize->setChecked(false);
        findDuplicates();
        QCOMPARE(messages.errors, QStringList{"您必須至少打一個勾"});
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
        QCOMPARE(w->statusText(1), "Total Files:2" + Hint + Hint);

        w->pgOptions->ckSize->setChecked(true);
        w->dirBand->lstDir->clear();
        w->dirBand->Edit1->clear();
        findDuplicates();
        QCOMPARE(messages.errors.last(), QStringLiteral("您沒有輸入目錄叫我怎麼找?"));
        QCOMPARE(w->lvFilesModel->rowCount(), 2);
    }

    void noPartnerGivesAnEmptyList() {
        addFile("d1", "only.jpg", 1);
        findDuplicates();
        QCOMPARE(w->lvFilesModel->rowCount(), 0);
        QCOMPARE(w->statusText(1), "Total Files:0" + Hint);
        QVERIFY(messages.errors.isEmpty());
    }

    void namesAcrossDirectoriesAndTheMendedMultiCriterionCase() {
        addFile("d1", "a.jpg", 100);
        addFile("d2", "A.JPG", 200);
        addFile("d3", "a.jpg", 200);
        w->pgOptions->ckName->setChecked(true);
        findDuplicates();
        QCOMPARE(names(), (QStringList{"a.jpg", "A.JPG"}));
        w->pgOptions->ckSize->setChecked(false);
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
        QCOMPARE(w->HighlightedRow, 1);
        clickRow(4);
        QCOMPARE(icons(), QStringLiteral("0002200"));

        // Ctrl+Down: first row of the next group; the key does not move the cursor itself.
        QTest::keyClick(w->lvFiles, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 5);
        QCOMPARE(selectedRows(), QList<int>{5});
        QCOMPARE(icons(), QStringLiteral("0001122"));
        // Inside the last group a multi-row selection collapses to the current row.
        clickRow(3, Qt::ControlModifier);
        clickRow(6, Qt::ControlModifier);
        w->lvFiles->selectionModel()->setCurrentIndex(w->lvFilesModel->index(5, 0),
                                                      QItemSelectionModel::NoUpdate);
        QCOMPARE(selectedRows(), (QList<int>{3, 5, 6}));
        QTest::keyClick(w->lvFiles, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 5);
        QCOMPARE(selectedRows(), QList<int>{5});
        // On the very last row it does nothing at all.
        clickRow(6, Qt::ControlModifier);
        QTest::keyClick(w->lvFiles, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 6);
        QCOMPARE(selectedRows(), (QList<int>{5, 6}));
        // Ctrl+Up from the second row of a group goes to the first row of the group before.
        QTest::keyClick(w->lvFiles, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 3);
        QTest::keyClick(w->lvFiles, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 0);
        QCOMPARE(icons(), QStringLiteral("2221100"));
        QTest::keyClick(w->lvFiles, Qt::Key_Up, Qt::ControlModifier); // row 0: nothing
        QCOMPARE(w->currentRow(), 0);
        // The menu items do the same.
        w->miNextGroup->trigger();
        QCOMPARE(w->currentRow(), 3);
        w->miPriorGroup->trigger();
        QCOMPARE(w->currentRow(), 0);
        // Plain arrows move one row as usual.
        QTest::keyClick(w->lvFiles, Qt::Key_Down);
        QCOMPARE(w->currentRow(), 1);

        // With nothing ticked every row is its own group.
        w->pgOptions->ckSize->setChecked(false);
        QTest::keyClick(w->lvFiles, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(w->currentRow(), 2);
        QCOMPARE(icons().at(2), QLatin1Char('2'));
        QTest::keyClick(w->lvFiles, Qt::Key_Up, Qt::ControlModifier);
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
        w->pgOptions->ckSize->setChecked(false);
        w->pgOptions->ckContent->setChecked(true);
        findDuplicates();
        // By size d2 d3 d4 d1; split by content, each part where its first row stood.
        QStringList dirs;
        for (int r = 0; r < w->lvFilesModel->rowCount(); ++r)
            dirs << w->lvFilesModel->index(r, ColDirectory).data().toString().section('/', -1);
        QCOMPARE(dirs, (QStringList{"d2", "d4", "d3", "d1"}));
        QCOMPARE(w->statusText(1), "Total Files:4" + Hint);

        clickRow(0);
        QCOMPARE(icons(), QStringLiteral("2200"));
        QTest::keyClick(w->lvFiles, Qt::Key_Down, Qt::ControlModifier);
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
        clickHeader(ColSize);
        QCOMPARE(w->SortMode, uint8_t(4));
        QCOMPARE(w->lvFilesModel->index(0, ColSize).data().toString(), QStringLiteral("9"));
        clickHeader(ColSize);
        QCOMPARE(w->SortMode, uint8_t(5));
        QCOMPARE(w->lvFilesModel->index(0, ColSize).data().toString(), QStringLiteral("10"));
        clickHeader(ColSize);
        QCOMPARE(w->SortMode, uint8_t(4));
        clickHeader(ColName);
        QCOMPARE(w->SortMode, uint8_t(0));
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
        findDuplicates();
        QString target = tmp->path() + "/list.csv";
        w->setSaveFilePicker(
            [&](QWidget*, const QString&) { return std::optional<QString>(target); });
        w->miSaveList->trigger();
        QFile csv(target);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines[0], QByteArray("group,name,directory,size,type,time\r"));
        QVERIFY(lines[1].startsWith("1,b.jpg,"));
        QVERIFY(lines[2].startsWith("1,a.jpg,"));
        target = tmp->path() + "/list.json";
        w->miSaveList->trigger();
        QFile json(target);
        QVERIFY(json.open(QIODevice::ReadOnly));
        QVERIFY(json.readAll().startsWith("[\n {\"group\": 1, \"name\": \"b.jpg\""));
        // A place that cannot be written is reported.
        target = tmp->path() + "/missing-dir/list.csv";
        w->miSaveList->trigger();
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
            for (int r = 0; r < w->lvFilesModel->rowCount(); ++r)
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
            QTest::mouseClick(w->pgOptions->ckSize, Qt::LeftButton);
        QTest::mouseClick(w->pgOptions->ckContent, Qt::LeftButton);
        QCOMPARE(w->criteria().size, size);
        findDuplicates();
        QCOMPARE(w->lvFilesModel->rowCount(), 4);
        const auto* notice = w->findChild<QLabel*>("lblTicksChanged");
        QVERIFY(notice);
        QVERIFY(notice->text().isEmpty());

        QTest::mouseClick(w->pgOptions->ckContent, Qt::LeftButton);
        QVERIFY(notice->isVisibleTo(w.get()));
        QCOMPARE(
            notice->text(),
            QStringLiteral("勾選已改變: 刪除和選取規則仍依搜尋時的組 (%1) (ticks changed since "
                           "the search: Delete and the Select rules keep the search's groups)")
                .arg(searched));
        clickHeader(ColTime); // the groups interleave: d1 d2 d3 d4
        QCOMPARE(rowOf("d1"), 0);
        QCOMPARE(rowOf("d4"), 3);

        // Keep the newest of each group; invert within groups.
        QCOMPARE(w->SelectByRule(actions::KeepRule::Newest), size_t(0));
        QCOMPARE(selectedDirs(), (QStringList{"d1", "d2"}));
        w->SelectRowAlone(rowOf("d1"));
        w->InvertSelectionWithinGroups();
        QCOMPARE(selectedDirs(), (QStringList{"d2", "d3", "d4"}));

        // Both rows of X, then Delete: that is every copy of X, and the answer is No.
        w->pgOptions->ckNoRecycle->setChecked(true);
        w->SelectRowAlone(rowOf("d1"));
        clickRow(rowOf("d3"), Qt::ControlModifier);
        QCOMPARE(selectedDirs(), (QStringList{"d1", "d3"}));
        QTest::keyClick(w->lvFiles, Qt::Key_Delete);
        waitUntilIdle(*w);
        QCOMPARE(prompts.questions.size(), 1);
        QVERIFY(prompts.questions[0].contains("every copy"));
        QVERIFY(QFile::exists(tmp->path() + "/d1/f.jpg"));
        QVERIFY(QFile::exists(tmp->path() + "/d3/f.jpg"));
        QCOMPARE(w->lvFilesModel->rowCount(), 4);

        // Ticked as searched again, the notice goes; a new search records the new ticks.
        QTest::mouseClick(w->pgOptions->ckContent, Qt::LeftButton);
        QVERIFY(notice->text().isEmpty());
        QVERIFY(!notice->isVisibleTo(w.get()));
        QTest::mouseClick(w->pgOptions->ckTime, Qt::LeftButton);
        QVERIFY(!notice->text().isEmpty());
        findDuplicates(); // every minute differs: no groups
        QVERIFY(notice->text().isEmpty());
    }

    void deletingRowsKeepsTheCountCurrent() {
        for (int i = 0; i < 10; ++i)
            addFile(QStringLiteral("d%1").arg(i), QStringLiteral("f%1").arg(i), 7);
        findDuplicates();
        QCOMPARE(w->lvFilesModel->rowCount(), 10);
        std::vector<bool> remove(10, false);
        remove[2] = remove[7] = true;
        w->DeleteRows(remove);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:8"));
        // While a search runs the count is left alone.
        w->ListIdle = false;
        w->DeleteRows({true});
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:8"));
        QCOMPARE(w->lvFilesModel->rowCount(), 7);
    }
};

QTEST_MAIN(ResultListWindowTest)
#include "resultlist_window_test.moc"
