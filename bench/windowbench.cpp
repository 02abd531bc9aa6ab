// Drives the real main window offscreen over a generated tree and prints one
// "name value" line per measurement: Find Duplicates until the list is painted, the
// rows shown after a search, sorting every column, Ctrl+Down through groups, and the
// memory the list holds per row.

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTreeView>
#include <QtTest>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "benchsupport.h"
#include "benchwindow.h"
#include "filesystem.h"
#include "scanner.h"
#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"

using namespace fenwa;

namespace {

double seconds(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

size_t residentBytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return size_t(resident) * size_t(::sysconf(_SC_PAGESIZE));
}

// The process's peak resident memory so far, in MiB.
double peakResidentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return double(std::atol(line.c_str() + 6)) / 1024.0;
    return 0;
}

void report(const char* name, double value) {
    std::printf("%s %.6f\n", name, value);
    std::fflush(stdout);
}

// Paints the list now, as the screen would show it.
void paintList(bench::BenchWindow& bench) {
    QApplication::processEvents();
    bench.list()->viewport()->repaint();
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchProcess process(argc, argv, "windowbench DIR [GROUP-STEPS]");
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int groupSteps = argc > 2 ? std::atoi(argv[2]) : 1000;

    bench::BenchWindow bench(dir);
    TfrmMain& w = bench.w;

    report("window_start_mb", double(residentBytes()) / (1024.0 * 1024.0));
    // Find Duplicates by size, until the list shows the groups.
    bench.tick("ckName", false);
    bench.tick("ckSize", true);
    bench.tick("ckTime", false);
    QElapsedTimer t;
    t.start();
    bench.findDuplicates();
    paintList(bench);
    report("window_find_duplicates_size_s", seconds(t));
    report("window_duplicate_rows", bench.model()->rowCount());
    report("window_find_duplicates_peak_mb", peakResidentMiB());

    // Ctrl+Down through the groups, each step painted.
    bench.list()->setFocus();
    bench.list()->setCurrentIndex(bench.model()->index(0, 0));
    paintList(bench);
    t.restart();
    int steps = 0;
    for (; steps < groupSteps; ++steps) {
        QTest::keyClick(bench.list(), Qt::Key_Down, Qt::ControlModifier);
        QApplication::processEvents();
    }
    report("window_next_group_steps", steps);
    report("window_next_group_s", seconds(t));
    report("window_next_group_last_row", w.currentRow());

    // Find All: every file of the tree in the list.
    w.ClearResultList();
    ::malloc_trim(0);
    const size_t before = residentBytes();
    t.restart();
    bench.findAll();
    paintList(bench);
    report("window_find_all_s", seconds(t));
    report("window_find_all_peak_mb", peakResidentMiB());
    const size_t rows = size_t(bench.model()->rowCount());
    const FileRecordStore& store = bench.model()->store();
    size_t nameBytes = 0;
    for (size_t r = 0; r < rows; ++r)
        nameBytes += store.name(r).size();
    const size_t after = residentBytes();
    report("window_rows", double(rows));
    report("window_row_bytes_beyond_names",
           rows ? (double(after) - double(before) - double(nameBytes)) / double(rows) : 0);
    report("window_store_bytes_beyond_names",
           rows ? (double(store.memoryUsage()) - double(nameBytes)) / double(rows) : 0);

    // The picture columns scrolled into view: the picture rows shown read their headers
    // beside the window, once each, until every one of them shows its facts.
    {
        QTreeView* list = bench.list();
        list->scrollTo(bench.model()->index(0, ColTaken));
        t.restart();
        paintList(bench);
        const int first = std::max(list->indexAt(QPoint(1, 1)).row(), 0);
        int last = list->indexAt(QPoint(1, list->viewport()->height() - 2)).row();
        if (last < 0)
            last = int(rows) - 1;
        const auto allIn = [&] {
            for (int r = first; r <= last; ++r)
                if (IsImageName(store.name(size_t(r))) && !bench.model()->pictureFacts(r))
                    return false;
            return true;
        };
        while (!allIn() && t.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        paintList(bench);
        report("window_picture_columns_shown_s", seconds(t));
        report("window_picture_columns_rows", double(last - first + 1));
        list->scrollTo(bench.model()->index(0, ColName));
    }

    // Sorting by each column, ascending, until painted.
    const char* sortNames[ColumnCount] = {"window_sort_name_s", "window_sort_directory_s",
                                          "window_sort_size_s", "window_sort_type_s",
                                          "window_sort_time_s"};
    for (int c = 0; c < ColumnCount; ++c) {
        // Another column first, so the timed click sorts ascending by this one.
        bench.clickHeader(c + 1 < ColumnCount ? c + 1 : 0);
        t.restart();
        bench.clickHeader(c);
        paintList(bench);
        report(sortNames[c], seconds(t));
    }

    // The rows shown after a search: the read rows join the empty list and are painted.
    w.ClearResultList();
    FileRecordStore read;
    ReadDirectory(dir.toLocal8Bit().toStdString(), read, true);
    t.restart();
    bench.list()->setUpdatesEnabled(false);
    bench.model()->appendRows(std::move(read));
    bench.list()->setUpdatesEnabled(true);
    paintList(bench);
    report("window_rows_shown_s", seconds(t));

    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    report("window_peak_rss_mb", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
