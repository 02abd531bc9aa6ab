// A long session in one process: the real main window, offscreen, runs Find Duplicates
// over the same tree many times in a row (by size, and every tenth run by name and size,
// so both kinds of key list are built and freed), painting the list after each run.
// Prints "name value" lines: the resident memory before the first run, after it, and
// after the last, each also after malloc_trim so that memory the allocator merely keeps
// for reuse is told apart from memory still held. Memory that is held must not grow with
// the number of runs.
//
//     fenwa-bench-longsession DIR [RUNS]

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

#include "benchwindow.h"
#include "filesystem.h"

using namespace fenwa;

namespace {

// VmRSS of /proc/self/status, in KiB.
long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

void report(const char* name, double value) {
    std::printf("%s %.3f\n", name, value);
    std::fflush(stdout);
}

void reportMemory(const char* when) {
    const std::string name = std::string("rss_") + when + "_mib";
    report(name.c_str(), residentKiB() / 1024.0);
    ::malloc_trim(0);
    report((name + "_trimmed").c_str(), residentKiB() / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchProcess process(argc, argv, "fenwa-bench-longsession DIR [RUNS]");
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 200;

    bench::BenchWindow bench(dir);
    bench.tick("ckTime", false);
    bench.tick("ckSize", true);
    QApplication::processEvents();
    reportMemory("before");

    QElapsedTimer t;
    t.start();
    int rows = -1;
    for (int run = 1; run <= runs; ++run) {
        bench.tick("ckName", run % 10 == 0);
        bench.findDuplicates();
        QApplication::processEvents();
        bench.list()->viewport()->repaint();
        if (run % 10 != 0) {
            // The same tree gives the same list every time.
            if (rows >= 0 && rows != bench.model()->rowCount()) {
                std::fprintf(stderr, "run %d listed %d rows, not %d\n", run,
                             bench.model()->rowCount(), rows);
                return 1;
            }
            rows = bench.model()->rowCount();
        }
        if (run == 1)
            reportMemory("after_first");
        else if (run % 50 == 0 && run != runs)
            reportMemory(("after_" + std::to_string(run)).c_str());
    }
    report("runs", runs);
    report("rows_by_size", rows);
    report("seconds", double(t.nsecsElapsed()) / 1e9);
    reportMemory("after_all");
    return bench.messages.errors == 0 ? 0 : 1;
}
