#pragma once
// The preview pane: the current row's picture at the chosen scale, loaded at once or
// after the delay of single-click mode, with the loading label below it.

#include <QByteArray>
#include <QWidget>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QRadioButton;
class QTimer;
class TAdvImage;

namespace fenwa {

class PaneHost;
class TfrmViewer;

class PreviewPane : public QWidget {
    Q_OBJECT
public:
    PreviewPane(PaneHost& host, TfrmViewer* viewer, QWidget* parent);

    QFrame* pnScale;
    QRadioButton* rbFullSize;
    QRadioButton* rbHalf;
    QRadioButton* rbQuarter;
    QRadioButton* rbEighth;
    TAdvImage* Image;
    QLabel* Panel2Caption;
    QFrame* Panel3;
    QLabel* Label1;
    QMenu* PopupMenu2;
    QAction* miView;
    // The load delay of single-click mode.
    QTimer* Timer1;
    // Native bytes, not text: a name that is not UTF-8 must load as it is.
    QByteArray PendingPreviewPath;
    bool PendingPreview = false;

    // Lets go of the file at `path` when the preview shows it (it was deleted).
    void forget(const QByteArray& path);

signals:
    // The slides are due for the current row.
    void slidesDue();

public slots:
    // The current row was double-clicked (or Enter pressed on it); it is a picture.
    void actOnPicture(int row);
    void LoadPreview();
    void ScheduleSlides();
    void Timer1Timer();
    void ShowInViewer(const QByteArray& nativePath);
    void ImageImageLoading();
    void ImageImageLoaded();
    void ImageDblClick();
    void miViewClick();
    void PopupMenu2Popup();
    void miViewFullClick();
    void miPreviewClick();
    void PreviewSizeClick();
    // Shows or hides the preview as the Preview box says.
    void ckPreviewClick();

private:
    void indicatorOn();
    void indicatorOff();

    PaneHost& host_;
    TfrmViewer* viewer_;
};

} // namespace fenwa
