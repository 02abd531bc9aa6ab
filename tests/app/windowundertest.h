#pragma once
// The main window as the window tests build it: a progress window and a viewer of its
// own, shown offscreen at 1000×700.

#include <QLineEdit>
#include <QtTest>
#include <memory>

#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"

namespace fenwa {

// Makes the progress window and viewer where they are missing, then the main window;
// `linkViewer` lets the viewer act on the window's list. False when it was never shown.
inline bool openMainWindow(std::unique_ptr<TfrmProgress>& progress,
                           std::unique_ptr<TfrmViewer>& viewer, std::unique_ptr<TfrmMain>& w,
                           const MainWindowServices& services, bool linkViewer = false) {
    if (!progress)
        progress = std::make_unique<TfrmProgress>();
    if (!viewer)
        viewer = std::make_unique<TfrmViewer>();
    w = std::make_unique<TfrmMain>(progress.get(), viewer.get(), services);
    if (linkViewer)
        viewer->setList(w.get());
    w->resize(1000, 700);
    w->show();
    return QTest::qWaitForWindowExposed(w.get());
}

// Waits for the search a Find button started to be shown (at once when none runs).
inline void waitForSearch(TfrmMain& w) {
    QTRY_VERIFY_WITH_TIMEOUT(!w.isSearching(), 30000);
}

// Waits for a search or a delete's checks to end, as a user waits for the progress window.
inline void waitUntilIdle(TfrmMain& w) {
    QTRY_VERIFY_WITH_TIMEOUT(!w.isBusy(), 30000);
}

// Types a directory into the field and adds it to the list, as Enter would.
inline void addDirectory(TfrmMain& w, const QString& directory) {
    w.dirBand->Edit1->setText(directory);
    w.AddPendingDirectory();
}

} // namespace fenwa
