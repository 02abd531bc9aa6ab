#include "JPEGImage.h"
#include "ExifOrientation.h"
#include "GraphicErrors.h"
#include "PictureHolder.h"

#include <stdexcept>

TJPEGImage::Defaults& TJPEGImage::ClassDefaults() {
    static Defaults defaults;
    return defaults;
}

TJPEGImage::TJPEGImage() : data_(std::make_shared<TJPEGData>()) {
    const Defaults& d = ClassDefaults();
    CompressionQuality = d.compressionQuality;
    grayscale_ = d.grayscale;
    performance_ = d.performance;
    pixelFormat_ = d.pixelFormat;
    ProgressiveDisplay = d.progressiveDisplay;
    ProgressiveEncoding = d.progressiveEncoding;
    scale_ = d.scale;
    smoothing_ = d.smoothing;
}

void TJPEGImage::loadFromBytes(const QByteArray& bytes) {
    freeBitmap();
    auto data = std::make_shared<TJPEGData>();
    data->bytes = bytes;
    data->hasBytes = true;
    data_ = data;
    needRecalculate_ = true;
    if (!bytes.isEmpty()) {
        const TJpegHeaderInfo header = JpegReadHeader(bytes);
        data->width = header.width;
        data->height = header.height;
        data->grayscale = header.grayscale;
        data->progressive = header.progressive;
        data->orientation = JpegExifOrientation(bytes);
        ProgressiveEncoding = header.progressive;
    }
    paletteModified_ = true;
    changed();
}

TJpegDecodeOptions TJPEGImage::decodeOptions() const {
    TJpegDecodeOptions options;
    options.scale = scale_;
    options.smoothing = smoothing_;
    options.grayscale = grayscale_;
    options.pixelFormat = pixelFormat_;
    options.performance = performance_;
    options.progressiveDisplay = ProgressiveDisplay;
    return options;
}

QSize TJPEGImage::storedOutputSize() {
    if (scale_ == jsFullSize)
        return QSize(data_->width, data_->height);
    if (needRecalculate_) {
        const QSize size = JpegOutputSize(data_->bytes, decodeOptions());
        scaledWidth_ = size.width();
        scaledHeight_ = size.height();
        ProgressiveEncoding = data_->progressive;
        needRecalculate_ = false;
    }
    return QSize(scaledWidth_, scaledHeight_);
}

int TJPEGImage::width() {
    if (bitmap_)
        return bitmap_->width();
    return OrientedSize(storedOutputSize(), data_->orientation).width();
}

int TJPEGImage::height() {
    if (bitmap_)
        return bitmap_->height();
    return OrientedSize(storedOutputSize(), data_->orientation).height();
}

bool TJPEGImage::empty() {
    if (data_->hasBytes)
        return false;
    return !bitmap_ || bitmap_->empty();
}

void TJPEGImage::setWidth(int) {
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::setHeight(int) {
    throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::setPixelFormat(TJPEGPixelFormat value) {
    if (value == pixelFormat_)
        return;
    freeBitmap();
    pixelFormat_ = value;
    paletteModified_ = true;
    changed();
}

void TJPEGImage::setGrayscale(bool value) {
    if (value == grayscale_)
        return;
    freeBitmap();
    grayscale_ = value;
    paletteModified_ = true;
    changed();
}

void TJPEGImage::setPerformance(TJPEGPerformance value) {
    if (value == performance_)
        return;
    freeBitmap();
    performance_ = value;
    paletteModified_ = true;
    changed();
}

void TJPEGImage::setScale(TJPEGScale value) {
    if (value == scale_)
        return;
    freeBitmap();
    scale_ = value;
    needRecalculate_ = true;
    changed();
}

void TJPEGImage::setSmoothing(bool value) {
    if (value == smoothing_)
        return;
    freeBitmap();
    smoothing_ = value;
    changed();
}

void TJPEGImage::freeBitmap() {
    bitmap_.reset();
    scaled_ = QImage();
}

void TJPEGImage::DIBNeeded() {
    if (bitmap_)
        return;
    TDibBitmap bitmap;
    const TPalette* external = nullptr;
    if (temporaryPalette_) {
        if (pixelFormat_ == jf8Bit) {
            bitmap.setPalette(*temporaryPalette_);
            external = &*temporaryPalette_;
        } else {
            temporaryPalette_.reset();
        }
    }
    const int orientation = data_->orientation;
    TProgressEvent turnedProgress;
    if (OnProgress && orientation != 1) {
        // Rows decoded so far are reported where they will show once turned.
        const QSize stored = storedOutputSize();
        turnedProgress = [this, stored, orientation](TProgressStage stage, int percent, bool redraw,
                                                     const QRect& rows) {
            OnProgress(stage, percent, redraw, OrientedRect(rows, stored, orientation));
        };
    }
    const TProgressEvent& progress = turnedProgress ? turnedProgress : OnProgress;
    bool madePalette = false;
    try {
        madePalette = JpegDecode(data_->bytes, decodeOptions(), external, bitmap, progress);
    } catch (const EJPEG& e) {
        // A decode the library gave up part-way keeps what it decoded, and later draws
        // show it without decoding again (an empty bitmap when nothing was). A bitmap
        // refused for its size keeps nothing.
        if (e.libraryCode >= 0) {
            try {
                keepBitmap(std::move(bitmap));
            } catch (...) {
                // Too large to turn: the library's error is the one to report.
            }
            changed();
        }
        throw;
    }
    keepBitmap(std::move(bitmap));
    if (madePalette) {
        paletteModified_ = true;
        changed();
    }
}

void TJPEGImage::keepBitmap(TDibBitmap&& bitmap) {
    const int orientation = data_->orientation;
    if (orientation != 1 && !bitmap.empty()) {
        try {
            bitmap = OrientedBitmap(bitmap, orientation);
        } catch (const std::length_error&) {
            throw EJPEG(-1, "JPEG image too large to decode");
        }
    }
    bitmap_ = std::move(bitmap);
    scaled_ = QImage();
}

const TDibBitmap& TJPEGImage::bitmap() {
    DIBNeeded();
    return *bitmap_;
}

void TJPEGImage::draw(QPainter& painter, const QRect& dest) {
    DIBNeeded();
    DrawImageStretched(painter, dest, bitmap_->toQImage(), scaled_);
}

std::optional<TPalette> TJPEGImage::palette() const {
    if (bitmap_) {
        if (bitmap_->bitsPerPixel() == 8)
            return bitmap_->palette();
        return std::nullopt;
    }
    return temporaryPalette_;
}

void TJPEGImage::setPalette(const TPalette& palette) {
    if (temporaryPalette_ && *temporaryPalette_ == palette)
        return;
    const bool discard = bitmap_ && bitmap_->palette() != palette;
    if (discard)
        freeBitmap();
    temporaryPalette_ = palette;
    if (discard) {
        paletteModified_ = true;
        changed();
    }
}

void TJPEGImage::assign(const TJPEGImage& other) {
    if (&other == this)
        return;
    data_ = other.data_;
    freeBitmap();
    if (other.bitmap_)
        bitmap_ = *other.bitmap_;
    needRecalculate_ = true;
    changed();
}

void TJPEGImage::assign(const TDibBitmap& bitmap) {
    data_ = std::make_shared<TJPEGData>();
    freeBitmap();
    bitmap_ = bitmap;
    needRecalculate_ = true;
    changed();
}

void TJPEGImage::assignTo(TDibBitmap& target) {
    target = bitmap();
}
