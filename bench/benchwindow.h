#pragma once
// The real main window for the benchmark programs, offscreen.

#include <QApplication>
#include <QLineEdit>
#include <QtTest>
#include <cstdio>
#include <cstdlib>

#include "filesystem.h"
#include "messages.h"
#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"

namespace fenwa::bench {

// Messages would block in a modal box; a benchmark only notes them.
struct NotedMessages : UserMessages {
    int errors = 0;
    void error(QWidget*, const QString& text) override {
        ++errors;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    void information(QWidget*, const QString&) override {}
};

// The start every window benchmark shares: DIR as the first argument (without it the
// usage line and exit 1), no screen, and the process set up as the program's own
// before the QApplication.
struct BenchProcessSetUp {
    BenchProcessSetUp(int argc, const char* usage) {
        if (argc < 2) {
            std::fprintf(stderr, "usage: %s\n", usage);
            std::exit(1);
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
        platform::initialiseProcess();
    }
};
struct BenchProcess : BenchProcessSetUp {
    QApplication app;
    BenchProcess(int& argc, char** argv, const char* usage)
        : BenchProcessSetUp(argc, usage), app(argc, argv) {}
};

// The main window with its progress window and viewer, shown offscreen at 1000×700 with
// `directory` in its list. Construct after the QApplication.
struct BenchWindow {
    NotedMessages messages;
    TfrmProgress progress;
    TfrmViewer viewer;
    TfrmMain w;
    explicit BenchWindow(const QString& directory)
        : w(&progress, &viewer, [this] {
              MainWindowServices services;
              services.messages = &messages;
              return services;
          }()) {
        w.resize(1000, 700);
        w.show();
        if (!QTest::qWaitForWindowExposed(&w)) {
            std::fprintf(stderr, "benchmark: the window was never shown\n");
            std::exit(1);
        }
        w.dirBand->Edit1->setText(directory);
        w.AddPendingDirectory();
    }
    // The searches run beside the window: these wait for the result to be shown.
    void findDuplicates() {
        w.btnFindDuplicatesClick();
        waitForSearch();
    }
    void findAll() {
        w.btnFindAllClick();
        waitForSearch();
    }
    void waitForSearch() {
        while (w.isSearching())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
};

} // namespace fenwa::bench
