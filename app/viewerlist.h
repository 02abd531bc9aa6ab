#pragma once
// What the full-size viewer needs of the list it pages through, and nothing more: the
// main window answers for its result list. The viewer never reaches into the window.

#include <QByteArray>

#include "filesystem.h"

namespace fenwa {

class ViewerList {
public:
    virtual ~ViewerList() = default;
    virtual int rowCount() const = 0;
    virtual QByteArray rowPath(int row) const = 0;
    virtual bool rowIsImage(int row) const = 0;
    // The row holding the keyboard focus, or -1.
    virtual int currentRow() const = 0;
    // Makes `row` the current row with nothing selected, scrolled into view (-1: only
    // clears the selection).
    virtual void showRow(int row) = 0;
    // Deletes the row's file through the delete planner; true when the file is gone
    // (its row has left the list, and the preview and slides let go of it).
    virtual bool deleteRow(int row) = 0;
    // Deletes a file that is no row of the list through the delete planner, only while it
    // is still the file `seen` when it was shown; true when it is gone (the preview and
    // slides let go of it).
    virtual bool deleteSeenFile(const QByteArray& path, const platform::FileState& seen) = 0;
    virtual bool isEditingName() const = 0;
    // The viewer became the active window, or stopped being it: the list does not act on
    // its selection meanwhile, and catches up after.
    virtual void viewerActivated(bool active) = 0;
};

} // namespace fenwa
