#pragma once
// The picture kind for the photo formats (PNG, WebP, TIFF, HEIF/AVIF, JPEG XL, camera
// RAW). Like a JPEG picture it keeps the file's bytes, learns its size from the header
// at load, and decodes only when first drawn, at the reduced scale it is given and in
// grey when asked (as the slides ask of every JPEG picture): a
// reduced picture is decoded the fastest way the format offers and brought to the size
// a JPEG picture would have at that scale. The EXIF orientation is applied after
// decoding, and width() and height() give the turned size before any decoding.

#include "../Graphic.h"
#include "PhotoFormat.h"

#include <QByteArray>
#include <QImage>

class TPhotoGraphic : public TGraphic {
public:
    explicit TPhotoGraphic(const fenwa::imaging::PhotoFormat& format) : format_(format) {}

    // Reads the header only; throws EInvalidGraphic when it cannot be read or the
    // picture exceeds the size bound.
    void loadFromBytes(const QByteArray& bytes) override;

    int width() override;
    int height() override;
    bool empty() override { return bytes_.isEmpty() && image_.isNull(); }
    void draw(QPainter& painter, const QRect& dest) override;
    // Decodes now; throws EInvalidGraphic when the pixels cannot be decoded.
    void prepareForDraw() override { decoded(); }
    void setPhotoDecoding(TJPEGScale scale, bool grayscale) override;

    TJPEGScale scale() const { return scale_; }
    const fenwa::imaging::PhotoFormat& format() const { return format_; }
    const fenwa::imaging::PhotoHeader& header() const { return header_; }
    // The picture as shown, decoded at the scale when it was not yet.
    const QImage& decoded();

private:
    QSize targetSize() const; // as stored, before the orientation

    const fenwa::imaging::PhotoFormat& format_;
    QByteArray bytes_;
    fenwa::imaging::PhotoHeader header_;
    TJPEGScale scale_ = jsFullSize;
    bool grayscale_ = false;
    QImage image_;
    QImage scaled_;
};
