#pragma once
// TGraphic is what the picture holder owns: one loaded picture of some kind (a
// bitmap, an icon, a metafile, a JPEG picture) that knows its size and draws itself
// into a rectangle. Kinds are created through the extension registry (PictureHolder.h).

#include "JpegCodec.h"

#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <functional>

class TGraphic {
public:
    virtual ~TGraphic() = default;
    TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    // Loads from the bytes of a whole file; the picture holder reads them (every kind
    // loads from bytes, so no loader opens a file by its name).
    virtual void loadFromBytes(const QByteArray& bytes) = 0;

    virtual int width() = 0;
    virtual int height() = 0;
    virtual bool empty() = 0;
    // Draws the picture into dest (its own size at dest's corner for icons).
    virtual void draw(QPainter& painter, const QRect& dest) = 0;
    // Does the work a first draw would do (decoding), so that its failure can be
    // handled where the picture is loaded rather than in a paint event.
    virtual void prepareForDraw() {}
    // The photo kinds take the JPEG picture's scale and grey output (a JPEG picture has
    // setters of its own); other kinds are always whole and in colour.
    virtual void setPhotoDecoding(TJPEGScale, bool /*grayscale*/) {}

    // Raised after the picture's content or settings changed.
    std::function<void()> OnChange;
    // Raised while a picture decodes; nothing in the program has to listen.
    TProgressEvent OnProgress;

protected:
    void changed() {
        if (OnChange)
            OnChange();
    }
};

// Larger files are not read as pictures.
inline constexpr qint64 MaxPictureBytes = qint64(1) << 31;

// Reads a whole regular file named by native bytes (at most MaxPictureBytes), opening
// it once without blocking. Throws EInvalidGraphic when it cannot be opened or read, or
// is a FIFO, device or directory.
QByteArray ReadWholeFile(const QByteArray& nativePath);

// The image scaled to size with filtering, for decoders that bring a picture to a
// size (never for drawing). Large reductions first halve the image with a 2 x 2 box
// filter until it is less than twice the size, which is several times faster than
// filtering the whole image at once and looks the same.
QImage ScaleImageSmoothly(const QImage& image, const QSize& size);

// The image stretched to size without filtering: each pixel is the source pixel under
// its centre, so a picture keeps its own colours and sharp edges as a plain stretching
// transfer draws them. RGB32, or ARGB32 premultiplied when the image has alpha.
QImage StretchImage(const QImage& image, const QSize& size);

// Draws image stretched into dest, unfiltered. A picture drawn at another size is
// stretched once and the copy kept in cache for the next paint at the same size.
void DrawImageStretched(QPainter& painter, const QRect& dest, const QImage& image, QImage& cache);

// A raster picture read by Qt's image readers (BMP, or any format another library
// registers through RegisterImageLoader), or taken from a given image.
class TBitmapGraphic : public TGraphic {
public:
    explicit TBitmapGraphic(QByteArray format = {}) : format_(std::move(format)) {}
    void loadFromBytes(const QByteArray& bytes) override;
    void assign(const QImage& image);
    const QImage& image() const { return image_; }

    int width() override { return image_.width(); }
    int height() override { return image_.height(); }
    bool empty() override { return image_.isNull(); }
    void draw(QPainter& painter, const QRect& dest) override;

private:
    QByteArray format_;
    QImage image_;
    QImage scaled_;
};

// An icon file: its image of the standard size 32 x 32 (the deepest of them) is shown,
// else its first image, always at its own size at the destination's top-left corner.
class TIconGraphic : public TGraphic {
public:
    void loadFromBytes(const QByteArray& bytes) override;
    int width() override { return image_.width(); }
    int height() override { return image_.height(); }
    bool empty() override { return image_.isNull(); }
    void draw(QPainter& painter, const QRect& dest) override;

private:
    QImage image_;
};
