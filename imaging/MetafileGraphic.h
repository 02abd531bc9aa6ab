#pragma once
// TMetafileGraphic holds a Windows metafile (WMF, with or without its placeable
// header) or an enhanced metafile (EMF) and plays its records with a QPainter into
// the destination rectangle (EmfPlayer.cpp, WmfPlayer.cpp, drawing through GdiCanvas.cpp).
// Records are read through libuemf's bounds-checked parsers; a file that fails those
// checks does not load.

#include "Graphic.h"

#include <QByteArray>
#include <QRectF>

class TMetafileGraphic : public TGraphic {
public:
    enum class Kind { None, Wmf, Emf };

    void loadFromBytes(const QByteArray& bytes) override;
    int width() override { return width_; }
    int height() override { return height_; }
    bool empty() override { return kind_ == Kind::None; }
    void draw(QPainter& painter, const QRect& dest) override;

    Kind kind() const { return kind_; }
    // The picture's frame in logical units of the file (what is mapped onto dest).
    QRectF frame() const { return frame_; }

private:
    QByteArray bytes_;
    Kind kind_ = Kind::None;
    int width_ = 0;
    int height_ = 0;
    QRectF frame_;
};

// Screen resolution a metafile's physical size is converted with.
inline constexpr int kMetafilePixelsPerInch = 96;
