#include "GifImage.h"

#include "GifBitmap.h"
#include "GifBusyCursor.h"
#include "GifPicture.h"

#include <QPainter>
#include <QTimer>

namespace fenwa {

TGifImage::TGifImage(QObject* owner) : QObject(owner), timer_(new QTimer(this)) {
    connect(timer_, &QTimer::timeout, this, &TGifImage::TimerTick);
}

TGifImage::~TGifImage() {
    timer_->stop();
}

void TGifImage::LoadFromFile(const QByteArray& nativePath) {
    emit OnImageLoading();
    loading_ = true;
    // The load runs to its end: no window messages are processed in between, so nothing
    // can start another load of this object while its file is being decoded.
    gifFile_ = std::make_unique<gif::TGifFile>();
    currentImage_ = 1;
    {
        const GifBusyCursor busy;
        gifFile_->LoadFromFile(nativePath.toStdString());
    }
    timer_->stop();
    if (gifFile_->ImageCount() != 1) {
        // The delay is in hundredths of a second.
        timer_->setInterval(gifFile_->AnimationDelay() * 10);
        // A timer of interval 0 would fire at every pass of the event loop; a delay of 0
        // means the images are never stepped.
        if (startImmediately_ && timer_->interval() > 0)
            timer_->start();
    }
    picture_ = toQImage(gifFile_->GetImage(currentImage_).GetBitmap());
    loading_ = false;
    emit OnImageLoaded();
}

void TGifImage::Advance() {
    if (!gifFile_)
        return;
    ++currentImage_;
    if (currentImage_ > gifFile_->ImageCount())
        currentImage_ = 1;
    gif::TGifSubImage& image = gifFile_->GetImage(currentImage_);
    if (currentImage_ == 1) {
        // Restarts the animation from a clean first frame.
        picture_ = toQImage(image.GetBitmap());
        return;
    }
    // Later images are drawn over the picture at their place; what lies outside image 1
    // is cut off.
    QPainter painter(&picture_);
    painter.drawImage(image.Left, image.Top, toQImage(image.GetBitmap()));
}

void TGifImage::TimerTick() {
    if (loading_)
        return;
    // A timer slot must not let an exception escape; a frame that cannot be shown is
    // skipped and the animation goes on with the next tick.
    try {
        Advance();
    } catch (const std::exception&) {
    }
}

} // namespace fenwa
