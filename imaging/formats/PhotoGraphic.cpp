#include "PhotoGraphic.h"

#include "../ExifOrientation.h"
#include "../GraphicErrors.h"

namespace {

int denominator(TJPEGScale scale) {
    switch (scale) {
    case jsHalf:
        return 2;
    case jsQuarter:
        return 4;
    case jsEighth:
        return 8;
    default:
        return 1;
    }
}

} // namespace

void TPhotoGraphic::loadFromBytes(const QByteArray& bytes) {
    fenwa::imaging::BytesSource source(bytes);
    const std::optional<fenwa::imaging::PhotoHeader> header = format_.readHeader(source);
    if (!header || !fenwa::imaging::PhotoFitsBound(header->width, header->height))
        throw EInvalidGraphic(std::string("cannot read ") + format_.kind + " picture");
    bytes_ = bytes;
    header_ = *header;
    image_ = QImage();
    scaled_ = QImage();
    changed();
}

QSize TPhotoGraphic::targetSize() const {
    const int d = denominator(scale_);
    return {(header_.width + d - 1) / d, (header_.height + d - 1) / d};
}

int TPhotoGraphic::width() {
    if (!image_.isNull())
        return image_.width();
    return OrientedSize(targetSize(), header_.orientation).width();
}

int TPhotoGraphic::height() {
    if (!image_.isNull())
        return image_.height();
    return OrientedSize(targetSize(), header_.orientation).height();
}

void TPhotoGraphic::setPhotoDecoding(TJPEGScale scale, bool grayscale) {
    if (scale == scale_ && grayscale == grayscale_)
        return;
    scale_ = scale;
    grayscale_ = grayscale;
    image_ = QImage();
    scaled_ = QImage();
    changed();
}

const QImage& TPhotoGraphic::decoded() {
    if (!image_.isNull() || bytes_.isEmpty())
        return image_;
    const QSize target = targetSize();
    fenwa::imaging::BytesSource source(bytes_);
    std::optional<fenwa::imaging::PhotoImage> photo = format_.decode(
        source, {denominator(scale_) == 1 ? 0 : std::min(target.width(), target.height())});
    if (!photo || photo->image.isNull())
        throw EInvalidGraphic(std::string("cannot decode ") + format_.kind + " picture");
    QImage image = std::move(photo->image);
    // A larger reduction than asked for is brought to the size of the scale (a decoder's
    // rounding may leave one side a pixel over); a camera's preview that is smaller than
    // its sensor stays as it is.
    if (image.width() >= target.width() && image.height() >= target.height() &&
        image.size() != target)
        image = ScaleImageSmoothly(image, target);
    if (grayscale_ && image.format() != QImage::Format_Grayscale8)
        image = image.convertToFormat(QImage::Format_Grayscale8);
    image_ = fenwa::imaging::OrientedImage(image, photo->orientation);
    return image_;
}

void TPhotoGraphic::draw(QPainter& painter, const QRect& dest) {
    DrawImageStretched(painter, dest, decoded(), scaled_);
}
