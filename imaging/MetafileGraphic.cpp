// TMetafileGraphic: which of the two formats the bytes hold, the picture's size, and
// playing it. The players are EmfPlayer.cpp and WmfPlayer.cpp; both draw through the
// device context of GdiCanvas.cpp.

#include "MetafileGraphic.h"

#include "EmfPlayer.h"
#include "GraphicErrors.h"
#include "WmfPlayer.h"

#include <QPainter>
#include <cmath>
#include <optional>

using metafile::EmfHeader;
using metafile::WmfHeader;

void TMetafileGraphic::loadFromBytes(const QByteArray& bytes) {
    kind_ = Kind::None;
    width_ = height_ = 0;
    if (const std::optional<EmfHeader> emf = metafile::readEmfHeader(bytes)) {
        if (!metafile::emfRecordsAreSound(bytes) || emf->frame.width() <= 0 ||
            emf->frame.height() <= 0)
            throw EInvalidGraphic("damaged enhanced metafile");
        frame_ = emf->frame;
        // The frame is in hundredths of a millimetre.
        width_ = int(std::lround(emf->frame.width() * kMetafilePixelsPerInch / 2540.0));
        height_ = int(std::lround(emf->frame.height() * kMetafilePixelsPerInch / 2540.0));
        kind_ = Kind::Emf;
    } else if (const std::optional<WmfHeader> wmf = metafile::readWmfHeader(bytes)) {
        if (!metafile::wmfRecordsAreSound(bytes, wmf->recordsOffset))
            throw EInvalidGraphic("damaged metafile");
        if (wmf->placeable && wmf->unitsPerInch > 0 && !wmf->bounds.isEmpty()) {
            frame_ = wmf->bounds;
            width_ = int(std::lround(frame_.width() * kMetafilePixelsPerInch / wmf->unitsPerInch));
            height_ =
                int(std::lround(frame_.height() * kMetafilePixelsPerInch / wmf->unitsPerInch));
        } else {
            // Without a placeable header the window is taken to be in pixels.
            frame_ = metafile::wmfWindow(bytes, wmf->recordsOffset);
            width_ = int(std::abs(frame_.width()));
            height_ = int(std::abs(frame_.height()));
        }
        if (width_ <= 0 || height_ <= 0)
            throw EInvalidGraphic("metafile without a size");
        kind_ = Kind::Wmf;
    } else {
        throw EInvalidGraphic("not a metafile");
    }
    bytes_ = bytes;
    changed();
}

void TMetafileGraphic::draw(QPainter& painter, const QRect& dest) {
    if (kind_ == Kind::None || dest.isEmpty())
        return;
    const QRectF target(dest);
    if (kind_ == Kind::Emf) {
        if (const std::optional<EmfHeader> header = metafile::readEmfHeader(bytes_))
            metafile::playEmf(bytes_, *header, painter, target);
    } else if (const std::optional<WmfHeader> header = metafile::readWmfHeader(bytes_)) {
        metafile::playWmf(bytes_, *header, frame_, painter, target);
    }
}
