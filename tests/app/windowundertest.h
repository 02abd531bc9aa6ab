#pragma once
// The main window as the window tests build it: a progress window and a viewer of its
// own, shown offscreen at 1000×700.

#include <QtTest>
#include <memory>

#include "tfrmmain.h"
#include "tfrmprogress.h"
#include "tfrmviewer.h"
#include "windowparts.h"

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

// Types a directory into the field and adds it to the list with Enter.
inline void addDirectory(TfrmMain& w, const QString& directory) {
    typeInto(w, "Edit1", directory, true);
}

// Clicks the button (a search, a delete) and waits until the window has done with it.
inline void clickAndWait(TfrmMain& w, const char* name) {
    click(w, name);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isBusy(), 30000);
}
inline void findDuplicates(TfrmMain& w) {
    clickAndWait(w, "btnFindDuplicates");
}
inline void findAll(TfrmMain& w) {
    clickAndWait(w, "btnFindAll");
}
// Presses a key in the result list and waits until what it started is done.
inline void pressInList(TfrmMain& w, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(fileList(w), key, modifiers);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isBusy(), 30000);
}
// Opens the focused row in the full-size viewer from the list's menu.
inline void viewRow(TfrmMain& w, int row) {
    clickRow(w, row);
    QVERIFY(choose(w, "lvFiles", "miViewFull"));
}

} // namespace fenwa
