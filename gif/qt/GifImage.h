#pragma once

#include "GifFile.h"

#include <QByteArray>
#include <QImage>
#include <QObject>

#include <memory>

class QTimer;

namespace fenwa {

// A GIF image holder for the image view control: loads a GIF file by name, keeps the file
// model and shows its first image in Picture; on its timer it can step through the images
// of an animated file. It has no window; the image view control copies Picture.
class TGifImage : public QObject {
    Q_OBJECT
public:
    explicit TGifImage(QObject* owner = nullptr);
    ~TGifImage() override;

    // True while LoadFromFile runs, and after a load that failed until one succeeds.
    bool Loading() const { return loading_; }
    // The file of the last load (partly read when that load failed), or null.
    gif::TGifFile* GifFile() const { return gifFile_.get(); }
    QTimer* Timer() const { return timer_; }
    // 1-based number of the image shown.
    int32_t CurrentImage() const { return currentImage_; }
    bool StartImmediately() const { return startImmediately_; }
    void SetStartImmediately(bool value) { startImmediately_ = value; }
    // The picture shown: an opaque copy of image CurrentImage (or, while animating, image 1
    // with the later images drawn over it).
    const QImage& Picture() const { return picture_; }

    // Loads the file at a native path. Errors pass on to the caller: Loading then stays
    // true, Picture keeps what it held and OnImageLoaded is not emitted.
    void LoadFromFile(const QByteArray& nativePath);
    // Shows the next image, wrapping from the last to the first.
    void Advance();

signals:
    void OnImageLoading();
    void OnImageLoaded();

private:
    void TimerTick();

    bool loading_ = false;
    std::unique_ptr<gif::TGifFile> gifFile_;
    QTimer* timer_;
    int32_t currentImage_ = 0;
    bool startImmediately_ = false;
    QImage picture_;
};

} // namespace fenwa
