#pragma once
// The slide strip under the result list: up to five pictures of the current row's group,
// the current one framed in orange; a click on a slide selects its row.

#include <QFrame>
#include <array>

class QLabel;
class TAdvImage;

namespace fenwa {

class PaneHost;

class SlideStrip : public QFrame {
    Q_OBJECT
public:
    SlideStrip(PaneHost& host, QWidget* parent);

    static constexpr int SlideBorderWidth = 5;
    std::array<QFrame*, 5> pnImage{};
    std::array<QLabel*, 5> slideLetter{}; // the panels' captions
    std::array<TAdvImage*, 5> AdvImage{};

    // Lets go of the file at `path` on every slide showing it (it was deleted).
    void forget(const QByteArray& path);
    // Frames no slide as the current one.
    void clearHighlights();

signals:
    // A slide's picture is to be shown full size.
    void viewRequested(const QByteArray& nativePath);

public slots:
    void FillSlides();
    void HighlightSlides();
    void ClearSlides();
    // Shows or hides the strip as the Show Slides box says.
    void ckShowSlidesClick();
    void pnSlidesResize();
    void SlideImageMouseDown(TAdvImage* slide);
    void SlideImageDblClick(TAdvImage* slide);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setSlideHighlight(size_t slide, bool current);

    PaneHost& host_;
};

} // namespace fenwa
