#include <QDir>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <utility>

#include "recordedmessages.h"
#include "search.h"
#include "windowundertest.h"

using namespace fenwa;

// Stopping a search from the progress window, and the input it refuses meanwhile. The
// user's action is queued before the search starts, so it runs while the search does.
class ProgressCancelTest : public QObject {
    Q_OBJECT

    RecordedMessages messages;
    std::unique_ptr<TfrmProgress> progress;
    std::unique_ptr<TfrmViewer> viewer;
    std::unique_ptr<TfrmMain> w;
    std::unique_ptr<QTemporaryDir> tmp;
    bool failNext = false; // the next search throws

    // Pairs of equal files in many directories, so a search has many steps.
    void makeTree() {
        for (int d = 0; d < 40; ++d) {
            const QString dir = tmp->path() + QStringLiteral("/d%1").arg(d);
            QDir().mkpath(dir);
            for (const char* name : {"/a.jpg", "/b.txt"})
                std::ofstream(QFile::encodeName(dir + name).toStdString(), std::ios::binary)
                    << std::string(size_t(d + 1), 'x');
        }
    }

    // Runs `during` while the next search runs; true once it ran.
    std::shared_ptr<bool> duringNextSearch(std::function<void()> during) {
        auto ran = std::make_shared<bool>(false);
        QTimer::singleShot(0, progress.get(), [ran, during] {
            during();
            *ran = true;
        });
        return ran;
    }

    // Two large files of one size whose bytes the content check must read whole: a
    // search that takes a while. They are sparse, so they take no room on the disk.
    void makeSlowContent() {
        for (const char* name : {"/big1.bin", "/big2.bin"}) {
            QFile f(tmp->path() + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(qint64(6) << 30));
        }
    }

    void expectCancelled() {
        QCOMPARE(model(*w)->rowCount(), 0);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:0"));
        QVERIFY(!progress->isVisible());
        QVERIFY(!w->isBusy());
        QVERIFY(messages.errors.isEmpty());
        QCOMPARE(part<QListWidget>(*w, "lstDir")->count(), 1);
    }

private slots:
    void init() {
        messages = {};
        tmp = std::make_unique<QTemporaryDir>();
        makeTree();
        MainWindowServices s;
        s.messages = &messages;
        s.searchTools = [this](const SearchRequest&) {
            if (std::exchange(failNext, false))
                throw 7; // not even a std::exception
            return SearchTools{};
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

    void cancelButtonStopsFindAllAndTheNextSearchRuns() {
        findAll(*w);
        QCOMPARE(model(*w)->rowCount(), 80);
        QCOMPARE(part<QPushButton>(*progress, "btnCancel")->text(), QStringLiteral("Cancel"));

        auto ran = duringNextSearch([this] {
            QTest::mouseClick(part<QPushButton>(*progress, "btnCancel"), Qt::LeftButton);
        });
        findAll(*w);
        QVERIFY(*ran);
        expectCancelled();

        // The request belonged to that search only.
        findAll(*w);
        QCOMPARE(model(*w)->rowCount(), 80);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:80"));
    }

    void escapeStopsTheContentCheck() {
        tick(*w, "ckContent");
        findDuplicates(*w);
        QCOMPARE(model(*w)->rowCount(), 80); // each a.jpg holds what its b.txt holds
        makeSlowContent();

        // Esc once the files are being read, not before.
        bool sent = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, progress.get(), [&] {
            if (!sent && w->statusText(1) == QStringLiteral("Checking content...")) {
                sent = true;
                QTest::keyClick(progress.get(), Qt::Key_Escape);
            }
        });
        watch.start(0);
        findDuplicates(*w);
        watch.stop();
        QVERIFY(sent);
        expectCancelled();
    }

    void escapeStopsFindDuplicates() {
        findDuplicates(*w);
        QCOMPARE(model(*w)->rowCount(), 80);

        auto ran = duringNextSearch([this] { QTest::keyClick(progress.get(), Qt::Key_Escape); });
        findDuplicates(*w);
        QVERIFY(*ran);
        expectCancelled();
    }

    // Clicks Cancel from the first event processing at which `when` holds.
    std::shared_ptr<bool> cancelWhen(std::function<bool()> when) {
        auto ran = std::make_shared<bool>(false);
        auto poll = new QTimer(progress.get());
        poll->setInterval(0);
        connect(poll, &QTimer::timeout, progress.get(), [this, ran, poll, when] {
            if (!*ran && when()) {
                *ran = true;
                QTest::mouseClick(part<QPushButton>(*progress, "btnCancel"), Qt::LeftButton);
                poll->stop();
            }
        });
        poll->start();
        return ran;
    }

    void progressMovesWhileTheTreeIsRead() {
        // The search before ends at 100%; the next one starts again from its first report.
        findAll(*w);
        QCOMPARE(part<QProgressBar>(*progress, "Progress")->value(), 100);
        // Enough directories that reading them moves the bar many times.
        for (int d = 0; d < 4000; ++d)
            QDir().mkpath(tmp->path() + QStringLiteral("/wide/%1").arg(d));
        std::vector<int> seen;
        QProgressBar* bar = part<QProgressBar>(*progress, "Progress");
        const QMetaObject::Connection watch =
            connect(bar, &QProgressBar::valueChanged, progress.get(), [&](int v) {
                if (w->statusText(1) == QStringLiteral("Reading all files..."))
                    seen.push_back(v);
            });
        findAll(*w);
        disconnect(watch);
        QCOMPARE(model(*w)->rowCount(), 80);
        QCOMPARE(part<QProgressBar>(*progress, "Progress")->value(), 100);
        // It moves while the directories are read and never goes back.
        QVERIFY(!seen.empty());
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QVERIFY(std::any_of(seen.begin(), seen.end(), [](int v) { return v > 0 && v < 100; }));
    }

    void progressShowsFromTheFirstReportWithTheReportsOwnValues() {
        for (int i = 0; i < 8; ++i)
            std::ofstream(
                QFile::encodeName(tmp->path() + QStringLiteral("/top%1").arg(i)).toStdString())
                << std::string(size_t(i % 4 + 1), 'x');
        tick(*w, "ckInclude", false);
        const EventRecorder shows(QEvent::Show, progress.get());
        const QString panel0 = w->statusText(0);
        // Reading without subdirectories reports nothing: the window never shows and
        // panel 0 keeps what it showed.
        findAll(*w);
        QCOMPARE(model(*w)->rowCount(), 8);
        QVERIFY(shows.seen.empty());
        QCOMPARE(w->statusText(0), panel0);

        // Grouping reports every row of both passes: each percentage is shown, the first
        // bringing the window up, all under "Checking duplicates...".
        QStringList seen;
        const QMetaObject::Connection watch =
            connect(part<QProgressBar>(*progress, "Progress"), &QProgressBar::valueChanged,
                    progress.get(), [&](int v) {
                        seen << QStringLiteral("%1%2 %3").arg(v).arg(
                            progress->isVisible() ? "" : " hidden", w->statusText(1));
                    });
        findDuplicates(*w);
        disconnect(watch);
        QCOMPARE(model(*w)->rowCount(), 8);
        QStringList expected;
        for (int pass = 0; pass < 2; ++pass)
            for (int v : {12, 25, 38, 50, 62, 75, 88, 100})
                expected << QStringLiteral("%1 Checking duplicates...").arg(v);
        QCOMPARE(seen, expected);
        QCOMPARE(shows.seen.size(), size_t(1));
        QCOMPARE(w->statusText(0), QStringLiteral("100%"));
        QVERIFY(!progress->isVisible());
    }

    void cancelWhileReadingFiles() {
        for (int d = 0; d < 4000; ++d)
            QDir().mkpath(tmp->path() + QStringLiteral("/wide/%1").arg(d));
        auto ran = cancelWhen([this] {
            return w->statusText(1) == QStringLiteral("Reading all files...") &&
                   part<QProgressBar>(*progress, "Progress")->value() > 0;
        });
        findAll(*w);
        QVERIFY(*ran);
        expectCancelled();
    }

    void closingTheWindowDuringASearchStopsItAndCloses() {
        makeSlowContent();
        tick(*w, "ckContent");
        bool closed = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, progress.get(), [&] {
            if (!closed && w->statusText(1) == QStringLiteral("Checking content...")) {
                closed = true;
                w->close();
            }
        });
        watch.start(1);
        click(*w, "btnFindDuplicates");
        QTRY_VERIFY_WITH_TIMEOUT(closed, 30000);
        watch.stop();
        // The close waited for the search to stop: nothing runs on once it returned.
        QVERIFY(!w->isSearching());
        QVERIFY(!w->isVisible());
        QVERIFY(!progress->isVisible());
        QCOMPARE(model(*w)->rowCount(), 0);
    }

    void aFailedSearchLeavesTheWindowUsable() {
        failNext = true;
        QSignalSpy finished(w.get(), &TfrmMain::searchFinished);
        findDuplicates(*w);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors.front().startsWith(QStringLiteral("The search failed: ")));
        messages.errors.clear();
        expectCancelled();
        // The next search runs to its end, and the window stays open.
        findAll(*w);
        QCOMPARE(model(*w)->rowCount(), 80);
        QVERIFY(w->isVisible());
    }

    void otherWindowsRefuseInputWhileSearching() {
        const QString typed = lineEdit(*w, "Edit1")->text();
        auto ran = duringNextSearch([this] {
            QTest::keyClicks(lineEdit(*w, "Edit1"), QStringLiteral("xyz"));
            click(*w, "btnFindAll");
        });
        findAll(*w);
        QVERIFY(*ran);
        QCOMPARE(lineEdit(*w, "Edit1")->text(), typed);
        QCOMPARE(model(*w)->rowCount(), 80);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:80"));
        // Once the search is over, input is taken again.
        QTest::keyClicks(lineEdit(*w, "Edit1"), QStringLiteral("xyz"));
        QCOMPARE(lineEdit(*w, "Edit1")->text(), typed + QStringLiteral("xyz"));
    }
};

QTEST_MAIN(ProgressCancelTest)
#include "progress_cancel_test.moc"
