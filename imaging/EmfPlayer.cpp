// The EMF player: each record goes to the function of its group, which changes the
// device context or draws through it.

#include "EmfPlayer.h"

#include "GdiCanvas.h"
#include "MetafileRecord.h"

#include <QPainter>

#include <uemf_safe.h>

namespace metafile {

namespace {

// Calls visit(type, reader) for every record; false when a record fails the checks.
template <typename Visit> bool forEachEmfRecord(const QByteArray& bytes, Visit visit) {
    std::size_t offset = 0;
    const std::size_t total = std::size_t(bytes.size());
    while (offset + 8 <= total) {
        const char* record = bytes.constData() + offset;
        const uint32_t type = qFromLittleEndian<uint32_t>(record);
        const uint32_t size = qFromLittleEndian<uint32_t>(record + 4);
        if (size < 8 || size % 4 != 0 || size > total - offset)
            return false;
        if (type < U_EMR_MIN || type > U_EMR_MAX || !U_emf_record_safe(record))
            return false;
        if (!visit(type, RecordReader(record, size)))
            return true;
        if (type == U_EMR_EOF)
            return true;
        offset += size;
    }
    return true;
}

QPolygonF emfPoints(const RecordReader& r, std::size_t countOffset, std::size_t pointsOffset,
                    bool sixteen) {
    const uint32_t count = r.u32(countOffset);
    const std::size_t step = sixteen ? 4 : 8;
    QPolygonF points;
    if (!r.has(pointsOffset, std::size_t(count) * step))
        return points;
    points.reserve(int(count));
    for (uint32_t i = 0; i < count; ++i) {
        const std::size_t o = pointsOffset + i * step;
        points.append(sixteen ? QPointF(r.i16(o), r.i16(o + 2)) : QPointF(r.i32(o), r.i32(o + 4)));
    }
    return points;
}

std::vector<QPolygonF> emfPolyPoints(const RecordReader& r, bool sixteen) {
    const uint32_t polys = r.u32(24);
    const uint32_t total = r.u32(28);
    std::vector<QPolygonF> result;
    const std::size_t step = sixteen ? 4 : 8;
    if (!r.has(32, std::size_t(polys) * 4))
        return result;
    std::size_t pointOffset = 32 + std::size_t(polys) * 4;
    if (!r.has(pointOffset, std::size_t(total) * step))
        return result;
    uint64_t used = 0;
    for (uint32_t p = 0; p < polys; ++p) {
        const uint32_t count = r.u32(32 + p * 4);
        used += count;
        if (used > total)
            break;
        QPolygonF polygon;
        for (uint32_t i = 0; i < count; ++i, pointOffset += step)
            polygon.append(sixteen ? QPointF(r.i16(pointOffset), r.i16(pointOffset + 2))
                                   : QPointF(r.i32(pointOffset), r.i32(pointOffset + 4)));
        result.push_back(polygon);
    }
    return result;
}

QImage emfBitmap(const RecordReader& r, std::size_t infoOffsetField) {
    const uint32_t offBmi = r.u32(infoOffsetField);
    const uint32_t cbBmi = r.u32(infoOffsetField + 4);
    const uint32_t offBits = r.u32(infoOffsetField + 8);
    const uint32_t cbBits = r.u32(infoOffsetField + 12);
    if (cbBmi == 0 || !r.has(offBmi, cbBmi) || !r.has(offBits, cbBits))
        return {};
    return imageFromDib(r.data() + offBmi, cbBmi, r.data() + offBits, cbBits);
}

std::vector<QRectF> regionRects(const RecordReader& r, std::size_t offset, uint32_t bytes) {
    std::vector<QRectF> rects;
    const uint32_t count = r.u32(offset + 8);
    if (!r.has(offset, bytes) || !r.has(offset + 32, std::size_t(count) * 16) ||
        32 + std::size_t(count) * 16 > bytes)
        return rects;
    for (uint32_t i = 0; i < count; ++i) {
        const QRectF rect = r.rect32(offset + 32 + i * 16);
        rects.push_back(rect);
    }
    return rects;
}

// The window, the viewport, the mapping mode and the world transform.
bool playMappingRecord(uint32_t type, const RecordReader& r, GdiCanvas& canvas) {
    DcState& s = canvas.state();
    switch (type) {
    case U_EMR_SETWINDOWEXTEX:
        s.windowExtent = QSizeF(r.i32(8), r.i32(12));
        break;
    case U_EMR_SETWINDOWORGEX:
        s.windowOrigin = QPointF(r.i32(8), r.i32(12));
        break;
    case U_EMR_SETVIEWPORTEXTEX:
        s.viewportExtent = QSizeF(r.i32(8), r.i32(12));
        break;
    case U_EMR_SETVIEWPORTORGEX:
        s.viewportOrigin = QPointF(r.i32(8), r.i32(12));
        break;
    case U_EMR_SCALEVIEWPORTEXTEX:
        if (r.i32(12) != 0 && r.i32(20) != 0)
            s.viewportExtent = QSizeF(s.viewportExtent.width() * r.i32(8) / r.i32(12),
                                      s.viewportExtent.height() * r.i32(16) / r.i32(20));
        break;
    case U_EMR_SCALEWINDOWEXTEX:
        if (r.i32(12) != 0 && r.i32(20) != 0)
            s.windowExtent = QSizeF(s.windowExtent.width() * r.i32(8) / r.i32(12),
                                    s.windowExtent.height() * r.i32(16) / r.i32(20));
        break;
    case U_EMR_SETMAPMODE:
        s.mapMode = int(r.u32(8));
        break;
    case U_EMR_SETWORLDTRANSFORM:
        s.world = QTransform(r.f32(8), r.f32(12), r.f32(16), r.f32(20), r.f32(24), r.f32(28));
        break;
    case U_EMR_MODIFYWORLDTRANSFORM: {
        const QTransform x(r.f32(8), r.f32(12), r.f32(16), r.f32(20), r.f32(24), r.f32(28));
        switch (r.u32(32)) {
        case U_MWT_IDENTITY:
            s.world = QTransform();
            break;
        case U_MWT_LEFTMULTIPLY:
            s.world = x * s.world;
            break;
        case U_MWT_RIGHTMULTIPLY:
            s.world = s.world * x;
            break;
        default:
            break;
        }
        break;
    }
    default:
        return false;
    }
    return true;
}

// Colours, modes and the saved states of the device context.
bool playStateRecord(uint32_t type, const RecordReader& r, GdiCanvas& canvas) {
    DcState& s = canvas.state();
    switch (type) {
    case U_EMR_SETBKMODE:
        s.opaqueBackground = r.u32(8) == U_OPAQUE;
        break;
    case U_EMR_SETPOLYFILLMODE:
        s.fillRule = r.u32(8) == U_WINDING ? Qt::WindingFill : Qt::OddEvenFill;
        break;
    case U_EMR_SETTEXTALIGN:
        s.textAlign = r.u32(8);
        break;
    case U_EMR_SETTEXTCOLOR:
        s.textColour = r.colour(8);
        break;
    case U_EMR_SETBKCOLOR:
        s.backgroundColour = r.colour(8);
        break;
    case U_EMR_SETARCDIRECTION:
        s.arcClockwise = r.u32(8) == U_AD_CLOCKWISE;
        break;
    case U_EMR_SAVEDC:
        canvas.saveDc();
        break;
    case U_EMR_RESTOREDC:
        canvas.restoreDc(r.i32(8));
        break;
    default:
        return false;
    }
    return true;
}

// Pens, brushes and fonts: creating, selecting and deleting them.
bool playObjectRecord(uint32_t type, const RecordReader& r, GdiCanvas& canvas) {
    switch (type) {
    case U_EMR_CREATEPEN:
        canvas.setObject(r.u32(8), makePen(r.u32(12), r.i32(16), r.colour(24)));
        break;
    case U_EMR_EXTCREATEPEN:
        canvas.setObject(r.u32(8), makePen(r.u32(28), r.u32(32), r.colour(40)));
        break;
    case U_EMR_CREATEBRUSHINDIRECT:
        canvas.setObject(r.u32(8), makeBrush(r.u32(12), r.colour(16), r.u32(20)));
        break;
    case U_EMR_CREATEDIBPATTERNBRUSHPT:
    case U_EMR_CREATEMONOBRUSH: {
        GdiBrush brush;
        brush.pattern = emfBitmap(r, 16);
        if (brush.pattern.isNull())
            brush.colour = Qt::gray;
        canvas.setObject(r.u32(8), brush);
        break;
    }
    case U_EMR_EXTCREATEFONTINDIRECTW: {
        GdiFont font;
        font.height = r.i32(12);
        font.escapement = r.i32(20);
        font.weight = r.i32(28);
        font.italic = r.u8(32) != 0;
        font.underline = r.u8(33) != 0;
        font.strikeOut = r.u8(34) != 0;
        font.charset = r.u8(35);
        for (int i = 0; i < 32; ++i) {
            const char16_t c = char16_t(r.u16(44 + std::size_t(i) * 2));
            if (c == 0)
                break;
            font.face.append(QChar(c));
        }
        canvas.setObject(r.u32(8), font);
        break;
    }
    case U_EMR_SELECTOBJECT:
        canvas.selectObject(r.u32(8));
        break;
    case U_EMR_DELETEOBJECT:
        canvas.deleteObject(r.u32(8));
        break;
    default:
        return false;
    }
    return true;
}

// Lines, curves, shapes and filled regions.
bool playDrawingRecord(uint32_t type, const RecordReader& r, GdiCanvas& canvas) {
    DcState& s = canvas.state();
    switch (type) {
    case U_EMR_MOVETOEX:
        canvas.moveTo(QPointF(r.i32(8), r.i32(12)));
        break;
    case U_EMR_LINETO:
        canvas.lineTo(QPointF(r.i32(8), r.i32(12)));
        break;
    case U_EMR_SETPIXELV:
        canvas.setPixel(QPointF(r.i32(8), r.i32(12)), r.colour(16));
        break;
    case U_EMR_POLYLINE:
    case U_EMR_POLYLINE16:
        canvas.polyline(emfPoints(r, 24, 28, type == U_EMR_POLYLINE16), false);
        break;
    case U_EMR_POLYLINETO:
    case U_EMR_POLYLINETO16:
        canvas.polyline(emfPoints(r, 24, 28, type == U_EMR_POLYLINETO16), true);
        break;
    case U_EMR_POLYBEZIER:
    case U_EMR_POLYBEZIER16:
        canvas.bezier(emfPoints(r, 24, 28, type == U_EMR_POLYBEZIER16), false);
        break;
    case U_EMR_POLYBEZIERTO:
    case U_EMR_POLYBEZIERTO16:
        canvas.bezier(emfPoints(r, 24, 28, type == U_EMR_POLYBEZIERTO16), true);
        break;
    case U_EMR_POLYGON:
    case U_EMR_POLYGON16:
        canvas.polygons({emfPoints(r, 24, 28, type == U_EMR_POLYGON16)});
        break;
    case U_EMR_POLYPOLYGON:
    case U_EMR_POLYPOLYGON16:
        canvas.polygons(emfPolyPoints(r, type == U_EMR_POLYPOLYGON16));
        break;
    case U_EMR_POLYPOLYLINE:
    case U_EMR_POLYPOLYLINE16:
        canvas.polylines(emfPolyPoints(r, type == U_EMR_POLYPOLYLINE16));
        break;
    case U_EMR_RECTANGLE:
        canvas.rectangle(r.rect32(8));
        break;
    case U_EMR_ROUNDRECT:
        canvas.roundRect(r.rect32(8), QSizeF(r.i32(24), r.i32(28)));
        break;
    case U_EMR_ELLIPSE:
        canvas.ellipse(r.rect32(8));
        break;
    case U_EMR_ARC:
    case U_EMR_CHORD:
    case U_EMR_PIE:
    case U_EMR_ARCTO: {
        const GdiCanvas::ArcKind kind = type == U_EMR_ARC     ? GdiCanvas::ArcKind::Arc
                                        : type == U_EMR_CHORD ? GdiCanvas::ArcKind::Chord
                                        : type == U_EMR_PIE   ? GdiCanvas::ArcKind::Pie
                                                              : GdiCanvas::ArcKind::ArcTo;
        canvas.arc(r.rect32(8), QPointF(r.i32(24), r.i32(28)), QPointF(r.i32(32), r.i32(36)), kind);
        break;
    }
    case U_EMR_FILLRGN:
    case U_EMR_PAINTRGN: {
        const bool fill = type == U_EMR_FILLRGN;
        const std::vector<QRectF> rects = regionRects(r, fill ? 32 : 28, r.u32(24));
        if (fill)
            canvas.selectObject(r.u32(28)); // GDI fills with the given brush
        for (const QRectF& rect : rects)
            canvas.fillRect(rect, s.brush);
        break;
    }
    default:
        return false;
    }
    return true;
}

// Paths and the clipping region.
bool playPathAndClipRecord(uint32_t type, const RecordReader& r, GdiCanvas& canvas) {
    switch (type) {
    case U_EMR_BEGINPATH:
        canvas.beginPath();
        break;
    case U_EMR_ENDPATH:
        canvas.endPath();
        break;
    case U_EMR_ABORTPATH:
        canvas.abortPath();
        break;
    case U_EMR_CLOSEFIGURE:
        canvas.closeFigure();
        break;
    case U_EMR_FILLPATH:
        canvas.drawPath(false, true);
        break;
    case U_EMR_STROKEPATH:
        canvas.drawPath(true, false);
        break;
    case U_EMR_STROKEANDFILLPATH:
        canvas.drawPath(true, true);
        break;
    case U_EMR_SELECTCLIPPATH:
        canvas.clipToPath(r.u32(8));
        break;
    case U_EMR_INTERSECTCLIPRECT:
        canvas.intersectClip(r.rect32(8));
        break;
    case U_EMR_EXCLUDECLIPRECT:
        canvas.excludeClip(r.rect32(8));
        break;
    case U_EMR_EXTSELECTCLIPRGN: {
        const uint32_t cb = r.u32(8);
        canvas.selectClipRegion(cb ? regionRects(r, 16, cb) : std::vector<QRectF>{}, r.u32(12));
        break;
    }
    default:
        return false;
    }
    return true;
}

// Text.
bool playTextRecord(uint32_t type, const RecordReader& r, GdiCanvas& canvas) {
    DcState& s = canvas.state();
    switch (type) {
    case U_EMR_EXTTEXTOUTW:
    case U_EMR_EXTTEXTOUTA: {
        const uint32_t count = r.u32(44);
        const uint32_t offString = r.u32(48);
        const uint32_t options = r.u32(52);
        const uint32_t offDx = r.u32(72);
        QString text;
        if (type == U_EMR_EXTTEXTOUTW) {
            if (!r.has(offString, std::size_t(count) * 2))
                break;
            for (uint32_t i = 0; i < count; ++i)
                text.append(QChar(char16_t(r.u16(offString + i * 2))));
        } else {
            if (!r.has(offString, count))
                break;
            QStringDecoder decoder = decoderForCharset(s.font.charset);
            text = decoder(QByteArrayView(r.data() + offString, count));
        }
        std::vector<double> dx;
        const std::size_t dxStep = (options & U_ETO_PDY) ? 8 : 4;
        if (offDx != 0 && r.has(offDx, std::size_t(count) * dxStep) &&
            text.size() == qsizetype(count)) {
            for (uint32_t i = 0; i < count; ++i)
                dx.push_back(r.i32(offDx + i * dxStep));
        }
        canvas.text(QPointF(r.i32(36), r.i32(40)), text, dx, options, r.rect32(56));
        break;
    }
    default:
        return false;
    }
    return true;
}

// Bitmaps and pattern fills of rectangles.
bool playBitmapRecord(uint32_t type, const RecordReader& r, GdiCanvas& canvas) {
    switch (type) {
    case U_EMR_BITBLT:
    case U_EMR_STRETCHBLT: {
        const QRectF target(QPointF(r.i32(24), r.i32(28)), QSizeF(r.i32(32), r.i32(36)));
        const uint32_t rop = r.u32(40);
        const QImage image = emfBitmap(r, 84);
        QRectF source(QPointF(r.i32(44), r.i32(48)), QSizeF(target.size()));
        if (type == U_EMR_STRETCHBLT)
            source.setSize(QSizeF(r.i32(100), r.i32(104)));
        canvas.image(target, image, source, rop);
        break;
    }
    case U_EMR_STRETCHDIBITS: {
        const QRectF target(QPointF(r.i32(24), r.i32(28)), QSizeF(r.i32(72), r.i32(76)));
        const QRectF source(QPointF(r.i32(32), r.i32(36)), QSizeF(r.i32(40), r.i32(44)));
        canvas.image(target, emfBitmap(r, 48), source, r.u32(68));
        break;
    }
    case U_EMR_SETDIBITSTODEVICE: {
        const QRectF source(QPointF(r.i32(32), r.i32(36)), QSizeF(r.i32(40), r.i32(44)));
        const QRectF target(QPointF(r.i32(24), r.i32(28)), source.size());
        canvas.image(target, emfBitmap(r, 48), source, U_SRCCOPY);
        break;
    }
    default:
        return false;
    }
    return true;
}

// Each record belongs to one group; records of no group are skipped.
using RecordGroup = bool (*)(uint32_t type, const RecordReader& r, GdiCanvas& canvas);
constexpr RecordGroup kRecordGroups[] = {playMappingRecord, playStateRecord,       playObjectRecord,
                                         playDrawingRecord, playPathAndClipRecord, playTextRecord,
                                         playBitmapRecord};

} // namespace

std::optional<EmfHeader> readEmfHeader(const QByteArray& bytes) {
    if (bytes.size() < 88)
        return std::nullopt;
    const RecordReader r(bytes.constData(), std::size_t(bytes.size()));
    if (r.u32(0) != U_EMR_HEADER || r.u32(40) != 0x464D4520) // " EMF"
        return std::nullopt;
    const uint32_t size = r.u32(4);
    if (size < 88 || size > std::size_t(bytes.size()) || !U_emf_record_safe(bytes.constData()))
        return std::nullopt;
    EmfHeader header;
    header.frame = r.rect32(24).normalized();
    header.devicePixels = QSizeF(r.i32(72), r.i32(76));
    header.deviceMillimetres = QSizeF(r.i32(80), r.i32(84));
    if (header.devicePixels.width() <= 0 || header.devicePixels.height() <= 0 ||
        header.deviceMillimetres.width() <= 0 || header.deviceMillimetres.height() <= 0) {
        header.devicePixels = QSizeF(1024, 768);
        header.deviceMillimetres = QSizeF(1024 * 25.4 / 96, 768 * 25.4 / 96);
    }
    return header;
}

bool emfRecordsAreSound(const QByteArray& bytes) {
    bool eof = false;
    const bool sound = forEachEmfRecord(bytes, [&](uint32_t type, const RecordReader&) {
        eof = type == U_EMR_EOF;
        return true;
    });
    return sound && eof;
}

void playEmf(const QByteArray& bytes, const EmfHeader& header, QPainter& painter,
             const QRectF& dest) {
    const double ppmX = header.devicePixels.width() / header.deviceMillimetres.width();
    const double ppmY = header.devicePixels.height() / header.deviceMillimetres.height();
    // The frame in the reference device's pixels is what lands on dest.
    const QRectF frame(header.frame.left() * ppmX / 100, header.frame.top() * ppmY / 100,
                       header.frame.width() * ppmX / 100, header.frame.height() * ppmY / 100);
    if (frame.width() <= 0 || frame.height() <= 0)
        return;
    const QTransform deviceToDest =
        QTransform::fromTranslate(-frame.left(), -frame.top()) *
        QTransform::fromScale(dest.width() / frame.width(), dest.height() / frame.height()) *
        QTransform::fromTranslate(dest.left(), dest.top());
    GdiCanvas canvas(painter, deviceToDest, ppmX, ppmY, false, dest);
    forEachEmfRecord(bytes, [&](uint32_t type, const RecordReader& r) {
        for (const RecordGroup play : kRecordGroups)
            if (play(type, r, canvas))
                break;
        return true;
    });
}

} // namespace metafile
