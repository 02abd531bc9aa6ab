#pragma once
// The real main window for the benchmark programs, offscreen.

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeView>
#include <QtTest>
#include <cstdio>
#include <cstdlib>

#include "filelistmodel.h"
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
        part<QLineEdit>("Edit1")->setText(directory);
        QTest::keyClick(part<QLineEdit>("Edit1"), Qt::Key_Return);
    }
    // The window's parts, found by object name as the tests find them.
    template <class T> T* part(const char* name) {
        T* found = w.findChild<T*>(QString::fromLatin1(name));
        if (!found) {
            std::fprintf(stderr, "benchmark: the window has no %s\n", name);
            std::exit(1);
        }
        return found;
    }
    QTreeView* list() { return part<QTreeView>("lvFiles"); }
    FileListModel* model() { return qobject_cast<FileListModel*>(list()->model()); }
    void tick(const char* name, bool on) { part<QAbstractButton>(name)->setChecked(on); }
    // The searches run beside the window: these wait for the result to be shown.
    void findDuplicates() {
        part<QAbstractButton>("btnFindDuplicates")->click();
        waitForSearch();
    }
    void findAll() {
        part<QAbstractButton>("btnFindAll")->click();
        waitForSearch();
    }
    // A click on the list's column header, as the user sorts.
    void clickHeader(int column) {
        QHeaderView* header = list()->header();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 4, header->height() / 2));
    }
    void waitForSearch() {
        while (w.isSearching())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
};

} // namespace fenwa::bench
