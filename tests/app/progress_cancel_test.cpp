#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <fstream>
#include <utility>

#include "messages.h"
#include "search.h"
#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"
#include "windowundertest.h"

using namespace fenwa;

namespace {

struct RecordedMessages : UserMessages {
    QStringList errors;
    void error(QWidget*, const QString& text) override { errors << text; }
    void information(QWidget*, const QString&) override {}
};

} // namespace

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
        QCOMPARE(w->lvFilesModel->rowCount(), 0);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:0"));
        QVERIFY(!progress->isVisible());
        QVERIFY(w->ListIdle);
        QVERIFY(messages.errors.isEmpty());
        QCOMPARE(w->dirBand->lstDir->count(), 1);
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
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 80);
        QCOMPARE(progress->btnCancel->text(), QStringLiteral("Cancel"));

        auto ran =
            duringNextSearch([this] { QTest::mouseClick(progress->btnCancel, Qt::LeftButton); });
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QVERIFY(*ran);
        expectCancelled();

        // The request belonged to that search only.
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 80);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:80"));
    }

    void escapeStopsTheContentCheck() {
        w->pgOptions->ckContent->setChecked(true);
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 80); // each a.jpg holds what its b.txt holds
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
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
        watch.stop();
        QVERIFY(sent);
        expectCancelled();
    }

    void escapeStopsFindDuplicates() {
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 80);

        auto ran = duringNextSearch([this] { QTest::keyClick(progress.get(), Qt::Key_Escape); });
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
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
                QTest::mouseClick(progress->btnCancel, Qt::LeftButton);
                poll->stop();
            }
        });
        poll->start();
        return ran;
    }

    void progressMovesWhileTheTreeIsRead() {
        // The search before ends at 100%; the next one starts again from 0.
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(progress->Progress->value(), 100);
        // Enough directories that reading them moves the bar many times.
        for (int d = 0; d < 4000; ++d)
            QDir().mkpath(tmp->path() + QStringLiteral("/wide/%1").arg(d));
        std::vector<int> seen;
        const QMetaObject::Connection watch =
            connect(progress->Progress, &QProgressBar::valueChanged, progress.get(), [&](int v) {
                if (w->statusText(1) == QStringLiteral("Reading all files..."))
                    seen.push_back(v);
            });
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        disconnect(watch);
        QCOMPARE(w->lvFilesModel->rowCount(), 80);
        QCOMPARE(progress->Progress->value(), 100);
        // It starts from 0, moves while the directories are read, and never goes back.
        QVERIFY(!seen.empty());
        QCOMPARE(seen.front(), 0);
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QVERIFY(std::any_of(seen.begin(), seen.end(), [](int v) { return v > 0 && v < 100; }));
    }

    void cancelWhileReadingFiles() {
        for (int d = 0; d < 4000; ++d)
            QDir().mkpath(tmp->path() + QStringLiteral("/wide/%1").arg(d));
        auto ran = cancelWhen([this] {
            return w->statusText(1) == QStringLiteral("Reading all files...") &&
                   progress->Progress->value() > 0;
        });
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QVERIFY(*ran);
        expectCancelled();
    }

    void closingTheWindowDuringASearchStopsItAndCloses() {
        makeSlowContent();
        w->pgOptions->ckContent->setChecked(true);
        bool closed = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, progress.get(), [&] {
            if (!closed && w->statusText(1) == QStringLiteral("Checking content...")) {
                closed = true;
                w->close();
            }
        });
        watch.start(1);
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(closed, 30000);
        watch.stop();
        // The close waited for the search to stop: nothing runs on once it returned.
        QVERIFY(!w->isSearching());
        QVERIFY(!w->isVisible());
        QVERIFY(!progress->isVisible());
        QCOMPARE(w->lvFilesModel->rowCount(), 0);
    }

    void aFailedSearchLeavesTheWindowUsable() {
        failNext = true;
        QSignalSpy finished(w.get(), &TfrmMain::searchFinished);
        QTest::mouseClick(w->btnFindDuplicates, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY(messages.errors.front().startsWith(QStringLiteral("搜尋失敗")));
        messages.errors.clear();
        expectCancelled();
        // The next search runs to its end, and the window stays open.
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QCOMPARE(w->lvFilesModel->rowCount(), 80);
        QVERIFY(w->isVisible());
    }

    void otherWindowsRefuseInputWhileSearching() {
        const QString typed = w->dirBand->Edit1->text();
        auto ran = duringNextSearch([this] {
            QTest::keyClicks(w->dirBand->Edit1, QStringLiteral("xyz"));
            QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        });
        QTest::mouseClick(w->btnFindAll, Qt::LeftButton);
        waitForSearch(*w);
        QVERIFY(*ran);
        QCOMPARE(w->dirBand->Edit1->text(), typed);
        QCOMPARE(w->lvFilesModel->rowCount(), 80);
        QCOMPARE(w->statusText(1), QStringLiteral("Total Files:80"));
        // Once the search is over, input is taken again.
        QTest::keyClicks(w->dirBand->Edit1, QStringLiteral("xyz"));
        QCOMPARE(w->dirBand->Edit1->text(), typed + QStringLiteral("xyz"));
    }
};

QTEST_MAIN(ProgressCancelTest)
#include "progress_cancel_test.moc"
