#pragma once
// The full-size viewer window: borderless, maximised and black, showing one image at its
// natural size. A large picture scrolls with the arrow keys or by dragging; Page Up,
// Page Down, Home and End step through the image rows of the result list; Delete deletes
// the shown file. It exists for the whole run and closing only hides it.

#include <QPoint>
#include <QStringList>
#include <QWidget>

#include "filesystem.h"

class QAction;
class QMenu;
class TAdvImage;

namespace fenwa {

class ViewerList;

class TfrmViewer : public QWidget {
    Q_OBJECT
public:
    explicit TfrmViewer(QWidget* parent = nullptr);
    // The result list the viewer pages through.
    void setList(ViewerList* list) { list_ = list; }

    TAdvImage* Image;
    QMenu* PopupMenu1;
    QAction* miNextImage;
    QAction* miPriorImage;
    QAction* miFirstImage;
    QAction* miLastImage;
    QAction* miDelete;
    QAction* miClose;

    // The menu captions, in the order next, prior, first, last, delete, close.
    QStringList menuCaptions;
    void SetMenuCaptions(const QStringList& captions);

    // Opens the viewer on a file: loads it unless it is already shown, shows the window
    // and lays the picture out.
    void showPath(const QByteArray& nativePath);
    void ShowFile(const QByteArray& nativePath);
    void ScrollImageBy(int dx, int dy);
    int IndexOfFile(const QByteArray& nativePath) const;
    bool ShowNextImage();
    bool ShowPriorImage();
    bool ShowFirstImage();
    bool ShowLastImage();
    bool DeleteShownImage();
    // The Delete key and menu item: delete, then move on to a neighbouring image.
    void DeleteCommand();

public slots:
    void closeViewer() { hide(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormActivate();
    void FormDeactivate();
    void FormKeyDown(QKeyEvent* event);
    void layoutImage();
    // Loads a file into Image, noting first what is at its path: a file deleted once its
    // row is gone must still be that one.
    void loadShown(const QByteArray& nativePath);
    // Examines rows from `first` in steps of `step` (+1 or -1) and shows the first image
    // row found; the list's focus follows. Answers whether one was found.
    bool showFirstImageRow(int first, int step);

    ViewerList* list_ = nullptr;
    platform::FileState seen_; // the shown file as it was when loaded
    bool dragging_ = false;
    QPoint lastPointer_;
    bool active_ = false;
};

} // namespace fenwa
