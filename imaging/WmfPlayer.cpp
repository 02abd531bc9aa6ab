// The WMF player: each record goes to the function of its group, which changes the
// device context or draws through it. A record's parameters start after its size and
// function number, at byte 6.

#include "WmfPlayer.h"

#include "GdiCanvas.h"
#include "MetafileRecord.h"

#include <QPainter>

#include <uwmf.h>

namespace metafile {

namespace {

constexpr std::size_t kParams = 6; // where a record's parameters start

template <typename Visit>
bool forEachWmfRecord(const QByteArray& bytes, std::size_t offset, Visit visit) {
    const char* begin = bytes.constData();
    const char* limit = begin + bytes.size();
    while (offset + kParams <= std::size_t(bytes.size())) {
        const char* record = begin + offset;
        const std::size_t size = U_WMRRECSAFE_get(record, limit);
        if (size < kParams)
            return false;
        const uint16_t function = qFromLittleEndian<uint16_t>(record + 4);
        if (WmfRecord(function) == WmfRecord::Eof)
            return true;
        if (!visit(function, RecordReader(record, size)))
            return true;
        offset += size;
    }
    return true;
}

QRectF wmfRect(const RecordReader& r, std::size_t offset) { // bottom, right, top, left
    return QRectF(QPointF(r.i16(offset + 6), r.i16(offset + 4)),
                  QPointF(r.i16(offset + 2), r.i16(offset)));
}

QPolygonF wmfPoints(const RecordReader& r, std::size_t offset, uint32_t count) {
    QPolygonF points;
    if (!r.has(offset, std::size_t(count) * 4))
        return points;
    for (uint32_t i = 0; i < count; ++i)
        points.append(QPointF(r.i16(offset + i * 4), r.i16(offset + i * 4 + 2)));
    return points;
}

QImage wmfDib(const RecordReader& r, std::size_t offset) {
    if (!r.has(offset, 12))
        return {};
    const std::size_t info = dibInfoSize(r, offset);
    if (info == 0 || !r.has(offset, info))
        return {};
    return imageFromDib(r.data() + offset, info, r.data() + offset + info,
                        r.size() - offset - info);
}

// The window: its origin and extent.
bool playMappingRecord(uint16_t function, const RecordReader& r, GdiCanvas& canvas) {
    const std::size_t p = kParams;
    DcState& s = canvas.state();
    switch (WmfRecord(function)) {
    case WmfRecord::SetWindowOrg:
        s.windowOrigin = QPointF(r.i16(p + 2), r.i16(p));
        break;
    case WmfRecord::SetWindowExt:
        s.windowExtent = QSizeF(r.i16(p + 2), r.i16(p));
        break;
    case WmfRecord::OffsetWindowOrg:
        s.windowOrigin += QPointF(r.i16(p + 2), r.i16(p));
        break;
    case WmfRecord::ScaleWindowExt: { // yDenom, yNum, xDenom, xNum
        const int yDenom = r.i16(p), yNum = r.i16(p + 2), xDenom = r.i16(p + 4),
                  xNum = r.i16(p + 6);
        if (xDenom != 0 && yDenom != 0)
            s.windowExtent = QSizeF(s.windowExtent.width() * xNum / xDenom,
                                    s.windowExtent.height() * yNum / yDenom);
        break;
    }
    default:
        return false;
    }
    return true;
}

// Colours, modes and the saved states of the device context.
bool playStateRecord(uint16_t function, const RecordReader& r, GdiCanvas& canvas) {
    const std::size_t p = kParams;
    DcState& s = canvas.state();
    switch (WmfRecord(function)) {
    case WmfRecord::SetBkColor:
        s.backgroundColour = r.colour(p);
        break;
    case WmfRecord::SetBkMode:
        s.opaqueBackground = r.u16(p) == U_OPAQUE;
        break;
    case WmfRecord::SetPolyFillMode:
        s.fillRule = r.u16(p) == U_WINDING ? Qt::WindingFill : Qt::OddEvenFill;
        break;
    case WmfRecord::SetTextColor:
        s.textColour = r.colour(p);
        break;
    case WmfRecord::SetTextAlign:
        s.textAlign = r.u16(p);
        break;
    case WmfRecord::SaveDc:
        canvas.saveDc();
        break;
    case WmfRecord::RestoreDc:
        canvas.restoreDc(r.i16(p));
        break;
    default:
        return false;
    }
    return true;
}

// Pens, brushes and fonts, and the objects that only take a slot.
bool playObjectRecord(uint16_t function, const RecordReader& r, GdiCanvas& canvas) {
    const std::size_t p = kParams;
    switch (WmfRecord(function)) {
    case WmfRecord::SelectObject:
        canvas.selectObject(r.u16(p));
        break;
    case WmfRecord::DeleteObject:
        canvas.deleteObject(r.u16(p));
        break;
    case WmfRecord::CreatePenIndirect:
        canvas.addObject(makePen(r.u16(p), r.i16(p + 2), r.colour(p + 6)));
        break;
    case WmfRecord::CreateBrushIndirect:
        canvas.addObject(makeBrush(r.u16(p), r.colour(p + 2), r.u16(p + 6)));
        break;
    case WmfRecord::CreateFontIndirect: {
        GdiFont font;
        font.height = r.i16(p);
        font.escapement = r.i16(p + 4);
        font.weight = r.i16(p + 8);
        font.italic = r.u8(p + 10) != 0;
        font.underline = r.u8(p + 11) != 0;
        font.strikeOut = r.u8(p + 12) != 0;
        font.charset = r.u8(p + 13);
        QByteArray face;
        for (std::size_t i = p + 18; i < r.size() && i < p + 18 + 32 && r.u8(i) != 0; ++i)
            face.append(char(r.u8(i)));
        QStringDecoder decoder = decoderForCharset(font.charset);
        font.face = decoder(face);
        canvas.addObject(font);
        break;
    }
    // Parameters: style, usage, dib
    case WmfRecord::DibCreatePatternBrush: {
        GdiBrush brush;
        brush.pattern = wmfDib(r, p + 4);
        canvas.addObject(brush);
        break;
    }
    // Palettes, old-style pattern brushes, regions and bitmaps are not kept, but each
    // still takes an object slot.
    case WmfRecord::CreatePalette:
    case WmfRecord::CreatePatternBrush:
    case WmfRecord::CreateRegion:
    case WmfRecord::CreateBitmapIndirect:
    case WmfRecord::CreateBitmap:
        canvas.addObject(std::monostate{});
        break;
    default:
        return false;
    }
    return true;
}

// Lines, shapes and pixels.
bool playDrawingRecord(uint16_t function, const RecordReader& r, GdiCanvas& canvas) {
    const std::size_t p = kParams;
    const WmfRecord record = WmfRecord(function);
    switch (record) {
    case WmfRecord::LineTo:
        canvas.lineTo(QPointF(r.i16(p + 2), r.i16(p)));
        break;
    case WmfRecord::MoveTo:
        canvas.moveTo(QPointF(r.i16(p + 2), r.i16(p)));
        break;
    case WmfRecord::Arc:
    case WmfRecord::Pie:
    case WmfRecord::Chord: {
        const auto kind = record == WmfRecord::Arc   ? GdiCanvas::ArcKind::Arc
                          : record == WmfRecord::Pie ? GdiCanvas::ArcKind::Pie
                                                     : GdiCanvas::ArcKind::Chord;
        canvas.arc(wmfRect(r, p + 8), QPointF(r.i16(p + 6), r.i16(p + 4)),
                   QPointF(r.i16(p + 2), r.i16(p)), kind);
        break;
    }
    case WmfRecord::Ellipse:
        canvas.ellipse(wmfRect(r, p));
        break;
    case WmfRecord::Rectangle:
        canvas.rectangle(wmfRect(r, p));
        break;
    case WmfRecord::RoundRect:
        canvas.roundRect(wmfRect(r, p + 4), QSizeF(r.i16(p + 2), r.i16(p)));
        break;
    case WmfRecord::SetPixel:
        canvas.setPixel(QPointF(r.i16(p + 6), r.i16(p + 4)), r.colour(p));
        break;
    case WmfRecord::Polygon:
        canvas.polygons({wmfPoints(r, p + 2, r.u16(p))});
        break;
    case WmfRecord::Polyline:
        canvas.polyline(wmfPoints(r, p + 2, r.u16(p)), false);
        break;
    // Parameters: count, counts..., points...
    case WmfRecord::PolyPolygon: {
        const uint16_t polys = r.u16(p);
        std::size_t at = p + 2 + std::size_t(polys) * 2;
        std::vector<QPolygonF> list;
        for (uint16_t i = 0; i < polys; ++i) {
            const uint16_t n = r.u16(p + 2 + std::size_t(i) * 2);
            list.push_back(wmfPoints(r, at, n));
            at += std::size_t(n) * 4;
        }
        canvas.polygons(list);
        break;
    }
    default:
        return false;
    }
    return true;
}

// The clipping region.
bool playClipRecord(uint16_t function, const RecordReader& r, GdiCanvas& canvas) {
    const std::size_t p = kParams;
    switch (WmfRecord(function)) {
    case WmfRecord::ExcludeClipRect:
        canvas.excludeClip(wmfRect(r, p));
        break;
    case WmfRecord::IntersectClipRect:
        canvas.intersectClip(wmfRect(r, p));
        break;
    // Regions are not kept, so selecting one resets the clip.
    case WmfRecord::SelectClipRegion:
        canvas.selectClipRegion({}, U_RGN_COPY);
        break;
    default:
        return false;
    }
    return true;
}

// Text.
bool playTextRecord(uint16_t function, const RecordReader& r, GdiCanvas& canvas) {
    const std::size_t p = kParams;
    DcState& s = canvas.state();
    switch (WmfRecord(function)) {
    // Parameters: length, string (even length), y, x
    case WmfRecord::TextOut: {
        const int length = r.i16(p);
        if (length <= 0 || !r.has(p + 2, std::size_t(length)))
            break;
        const std::size_t after = p + 2 + ((std::size_t(length) + 1) & ~std::size_t(1));
        QStringDecoder decoder = decoderForCharset(s.font.charset);
        const QString text = decoder(QByteArrayView(r.data() + p + 2, length));
        canvas.text(QPointF(r.i16(after + 2), r.i16(after)), text, {}, 0, QRectF());
        break;
    }
    // Parameters: y, x, count, options, [rect], string, [dx]
    case WmfRecord::ExtTextOut: {
        const int count = r.i16(p + 4);
        const uint16_t options = r.u16(p + 6);
        std::size_t at = p + 8;
        QRectF box;
        if (options & (U_ETO_OPAQUE | U_ETO_CLIPPED)) {
            box = QRectF(QPointF(r.i16(at), r.i16(at + 2)), QPointF(r.i16(at + 4), r.i16(at + 6)));
            at += 8;
        }
        if (count <= 0 || !r.has(at, std::size_t(count))) {
            if (options & U_ETO_OPAQUE)
                canvas.text(QPointF(r.i16(p + 2), r.i16(p)), QString(), {}, options, box);
            break;
        }
        QStringDecoder decoder = decoderForCharset(s.font.charset);
        const QString text = decoder(QByteArrayView(r.data() + at, count));
        const std::size_t dxAt = at + ((std::size_t(count) + 1) & ~std::size_t(1));
        std::vector<double> dx;
        if (text.size() == count && r.has(dxAt, std::size_t(count) * 2)) {
            for (int i = 0; i < count; ++i)
                dx.push_back(r.i16(dxAt + std::size_t(i) * 2));
        }
        canvas.text(QPointF(r.i16(p + 2), r.i16(p)), text, dx, options, box);
        break;
    }
    default:
        return false;
    }
    return true;
}

// Bitmaps and pattern fills of rectangles.
bool playBitmapRecord(uint16_t function, const RecordReader& r, GdiCanvas& canvas) {
    const std::size_t p = kParams;
    switch (WmfRecord(function)) {
    // Parameters: rop, height, width, y, x
    case WmfRecord::PatBlt:
        canvas.patternBlit(
            QRectF(QPointF(r.i16(p + 10), r.i16(p + 8)), QSizeF(r.i16(p + 6), r.i16(p + 4))),
            r.u32(p));
        break;
    // Parameters: rop, ySrc, xSrc, [reserved], height, width, yDest, xDest, dib
    case WmfRecord::DibBitBlt: {
        const bool noBitmap = r.size() == std::size_t(((function >> 8) + 3) * 2);
        const std::size_t q = noBitmap ? p + 2 : p;
        const QRectF target(QPointF(r.i16(q + 14), r.i16(q + 12)),
                            QSizeF(r.i16(q + 10), r.i16(q + 8)));
        const QRectF source(QPointF(r.i16(p + 6), r.i16(p + 4)), target.size());
        canvas.image(target, noBitmap ? QImage() : wmfDib(r, p + 16), source, r.u32(p));
        break;
    }
    // Parameters: rop, srcH, srcW, ySrc, xSrc, [reserved], dstH, dstW, yDst, xDst, dib
    case WmfRecord::DibStretchBlt: {
        const bool noBitmap = r.size() == std::size_t(((function >> 8) + 3) * 2);
        const std::size_t q = noBitmap ? p + 2 : p;
        const QRectF source(QPointF(r.i16(p + 10), r.i16(p + 8)),
                            QSizeF(r.i16(p + 6), r.i16(p + 4)));
        const QRectF target(QPointF(r.i16(q + 18), r.i16(q + 16)),
                            QSizeF(r.i16(q + 14), r.i16(q + 12)));
        canvas.image(target, noBitmap ? QImage() : wmfDib(r, p + 20), source, r.u32(p));
        break;
    }
    // Parameters: rop, usage, srcH, srcW, ySrc, xSrc, dstH, dstW, yDst, xDst, dib
    case WmfRecord::StretchDib: {
        const QRectF source(QPointF(r.i16(p + 12), r.i16(p + 10)),
                            QSizeF(r.i16(p + 8), r.i16(p + 6)));
        const QRectF target(QPointF(r.i16(p + 20), r.i16(p + 18)),
                            QSizeF(r.i16(p + 16), r.i16(p + 14)));
        canvas.image(target, wmfDib(r, p + 22), source, r.u32(p));
        break;
    }
    // Parameters: usage, scans, start, yDib, xDib, h, w, yDest, xDest, dib
    case WmfRecord::SetDibToDev: {
        const QRectF source(QPointF(r.i16(p + 8), r.i16(p + 6)),
                            QSizeF(r.i16(p + 12), r.i16(p + 10)));
        const QRectF target(QPointF(r.i16(p + 16), r.i16(p + 14)), source.size());
        canvas.image(target, wmfDib(r, p + 18), source, U_SRCCOPY);
        break;
    }
    default:
        return false;
    }
    return true;
}

// Each record belongs to one group; records of no group are skipped.
using RecordGroup = bool (*)(uint16_t function, const RecordReader& r, GdiCanvas& canvas);
constexpr RecordGroup kRecordGroups[] = {playMappingRecord, playStateRecord, playObjectRecord,
                                         playDrawingRecord, playClipRecord,  playTextRecord,
                                         playBitmapRecord};

} // namespace

std::optional<WmfHeader> readWmfHeader(const QByteArray& bytes) {
    if (bytes.size() < 18)
        return std::nullopt;
    U_WMRPLACEABLE placeable{};
    U_WMRHEADER header{};
    const char* begin = bytes.constData();
    const int consumed = wmfheader_get(begin, begin + bytes.size(), &placeable, &header);
    if (consumed <= 0 || consumed > bytes.size())
        return std::nullopt;
    const RecordReader r(begin, std::size_t(bytes.size()));
    WmfHeader result;
    result.placeable = r.u32(0) == 0x9AC6CDD7u;
    std::size_t headerAt = result.placeable ? 22 : 0;
    const uint16_t type = r.u16(headerAt);
    const uint16_t headerWords = r.u16(headerAt + 2);
    if ((type != 1 && type != 2) || headerWords != 9)
        return std::nullopt;
    result.recordsOffset = headerAt + 18;
    if (result.placeable) {
        result.bounds =
            QRectF(QPointF(r.i16(6), r.i16(8)), QPointF(r.i16(10), r.i16(12))).normalized();
        result.unitsPerInch = r.u16(14);
    }
    return result;
}

bool wmfRecordsAreSound(const QByteArray& bytes, std::size_t offset) {
    return forEachWmfRecord(bytes, offset, [](uint16_t, const RecordReader&) { return true; });
}

QRectF wmfWindow(const QByteArray& bytes, std::size_t offset) {
    QPointF origin;
    QSizeF extent;
    forEachWmfRecord(bytes, offset, [&](uint16_t function, const RecordReader& r) {
        if (WmfRecord(function) == WmfRecord::SetWindowOrg && origin.isNull())
            origin = QPointF(r.i16(kParams + 2), r.i16(kParams));
        if (WmfRecord(function) == WmfRecord::SetWindowExt && extent.isEmpty())
            extent = QSizeF(r.i16(kParams + 2), r.i16(kParams));
        return extent.isEmpty();
    });
    return QRectF(origin, extent);
}

void playWmf(const QByteArray& bytes, const WmfHeader& header, const QRectF& window,
             QPainter& painter, const QRectF& dest) {
    GdiCanvas canvas(painter, QTransform(), 1, 1, true, dest);
    DcState& s = canvas.state();
    s.windowOrigin = window.topLeft();
    s.windowExtent = window.size();
    forEachWmfRecord(bytes, header.recordsOffset, [&](uint16_t function, const RecordReader& r) {
        for (const RecordGroup play : kRecordGroups)
            if (play(function, r, canvas))
                break;
        return true;
    });
}

} // namespace metafile
