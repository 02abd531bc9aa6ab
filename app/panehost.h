#pragma once
// What the preview pane and the slide strip need of the window that holds the result
// list: the list as the viewer sees it, the options of the moment, and a few answers
// only the list can give. The main window answers; the panes never reach into it.

#include <QByteArray>

#include "resultlist.h"
#include "viewerlist.h"

namespace fenwa {

class PaneHost : public ViewerList {
public:
    // The options the panes follow, as ticked at this moment.
    virtual bool previewOn() const = 0;
    virtual bool doubleClickToAct() const = 0;
    virtual bool slidesOn() const = 0;
    // False while a search empties and refills the list.
    virtual bool listIdle() const = 0;
    virtual bool searching() const = 0;
    // The rows the strip shows around `row`, by the list's criteria.
    virtual SlideRows slideRowsAround(int row) const = 0;
    // Makes the row showing `path` (the nearest to the current row first) the only
    // selected and current row; false when no row shows it.
    virtual bool selectRowShowing(const QByteArray& path) = 0;
    // Shows, or clears, that a picture is being loaded.
    virtual void showLoading(bool on) = 0;
};

} // namespace fenwa
