// Plays Windows metafiles (WMF) and enhanced metafiles (EMF) with a QPainter.
//
// Both formats are sequences of GDI calls. libuemf vets each record's framing (EMF:
// U_emf_record_safe; WMF: wmfheader_get and U_WMRRECSAFE_get); fields are then read
// through RecordReader, whose accessors answer 0 past the record's end, so a record
// that lies about its counts cannot make us read outside it. GdiCanvas keeps the
// device-context state (objects, colours, mapping mode, transforms, clipping, paths)
// that both formats share and draws.

#include "GraphicErrors.h"
#include "MetafileGraphic.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainterPath>
#include <QStringDecoder>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <variant>
#include <vector>

#include <uemf.h>
#include <uemf_safe.h>
#include <uwmf.h>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Bounds-checked little-endian reads inside one record.
class RecordReader {
public:
    RecordReader(const char* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t size() const { return size_; }
    const char* data() const { return data_; }
    bool has(std::size_t offset, std::size_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    uint32_t u32(std::size_t offset) const {
        return has(offset, 4) ? qFromLittleEndian<uint32_t>(data_ + offset) : 0;
    }
    int32_t i32(std::size_t offset) const { return int32_t(u32(offset)); }
    uint16_t u16(std::size_t offset) const {
        return has(offset, 2) ? qFromLittleEndian<uint16_t>(data_ + offset) : 0;
    }
    int16_t i16(std::size_t offset) const { return int16_t(u16(offset)); }
    uint8_t u8(std::size_t offset) const { return has(offset, 1) ? uint8_t(data_[offset]) : 0; }
    float f32(std::size_t offset) const {
        const uint32_t bits = u32(offset);
        float value;
        std::memcpy(&value, &bits, 4);
        return std::isfinite(value) ? value : 0.0f;
    }
    QColor colour(std::size_t offset) const {
        return QColor(u8(offset), u8(offset + 1), u8(offset + 2));
    }
    QRectF rect32(std::size_t offset) const { // left, top, right, bottom
        return QRectF(QPointF(i32(offset), i32(offset + 4)),
                      QPointF(i32(offset + 8), i32(offset + 12)));
    }

private:
    const char* data_;
    std::size_t size_;
};

// A device-independent bitmap (BITMAPINFO followed by its bits) as a QImage, by
// wrapping it in a .bmp file header for Qt's reader.
QImage imageFromDib(const char* info, std::size_t infoSize, const char* bits,
                    std::size_t bitsSize) {
    if (!info || infoSize < 12 || infoSize > (1u << 20) || bitsSize > (std::size_t(1) << 30))
        return {};
    QByteArray file(14, '\0');
    file[0] = 'B';
    file[1] = 'M';
    qToLittleEndian<uint32_t>(uint32_t(14 + infoSize + bitsSize), file.data() + 2);
    qToLittleEndian<uint32_t>(uint32_t(14 + infoSize), file.data() + 10);
    file.append(info, qsizetype(infoSize));
    if (bits)
        file.append(bits, qsizetype(bitsSize));
    QImage image;
    image.loadFromData(file, "BMP");
    return image;
}

// The byte size of a BITMAPINFO (header and colour table) at info, or 0.
std::size_t dibInfoSize(const RecordReader& r, std::size_t offset) {
    const uint32_t headerSize = r.u32(offset);
    if (headerSize == 12) { // BITMAPCOREHEADER: 3-byte colour entries
        const int bitCount = r.u16(offset + 10);
        return 12 + (bitCount <= 8 ? (std::size_t(1) << bitCount) * 3 : 0);
    }
    if (headerSize < 40 || headerSize > 124)
        return 0;
    const int bitCount = r.u16(offset + 14);
    const uint32_t compression = r.u32(offset + 16);
    uint32_t colours = r.u32(offset + 32);
    if (colours == 0 && bitCount <= 8)
        colours = 1u << bitCount;
    if (colours > 256)
        colours = 256;
    std::size_t size = headerSize + std::size_t(colours) * 4;
    if (compression == 3 && headerSize == 40) // BI_BITFIELDS masks follow the header
        size += 12;
    return size;
}

struct GdiPen {
    bool null = false;
    Qt::PenStyle style = Qt::SolidLine;
    double width = 0; // logical units; 0 is one device pixel
    QColor colour = Qt::black;
    Qt::PenCapStyle cap = Qt::RoundCap;
    Qt::PenJoinStyle join = Qt::RoundJoin;
};

struct GdiBrush {
    bool null = false;
    QColor colour = Qt::white;
    std::optional<int> hatch;
    QImage pattern;
};

struct GdiFont {
    int height = 0;
    int escapement = 0;
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charset = 1;
    QString face;
};

using GdiObject = std::variant<std::monostate, GdiPen, GdiBrush, GdiFont>;

struct DcState {
    GdiPen pen;
    GdiBrush brush;
    GdiFont font;
    QColor textColour = Qt::black;
    QColor backgroundColour = Qt::white;
    bool opaqueBackground = true;
    uint32_t textAlign = 0;
    Qt::FillRule fillRule = Qt::OddEvenFill;
    int mapMode = U_MM_TEXT;
    QPointF windowOrigin;
    QSizeF windowExtent{1, 1};
    QPointF viewportOrigin;
    QSizeF viewportExtent{1, 1};
    QTransform world;
    QPointF current;
    bool arcClockwise = false;
};

Qt::BrushStyle hatchStyle(int hatch) {
    switch (hatch) {
    case 0:
        return Qt::HorPattern;
    case 1:
        return Qt::VerPattern;
    case 2:
        return Qt::FDiagPattern; // "\\\\"
    case 3:
        return Qt::BDiagPattern; // "////"
    case 4:
        return Qt::CrossPattern;
    default:
        return Qt::DiagCrossPattern;
    }
}

Qt::PenStyle penStyle(uint32_t style) {
    switch (style & 0xF) {
    case 1:
        return Qt::DashLine;
    case 2:
        return Qt::DotLine;
    case 3:
        return Qt::DashDotLine;
    case 4:
        return Qt::DashDotDotLine;
    case 5:
        return Qt::NoPen;
    default:
        return Qt::SolidLine;
    }
}

GdiPen makePen(uint32_t style, double width, const QColor& colour) {
    GdiPen pen;
    pen.style = penStyle(style);
    pen.null = pen.style == Qt::NoPen;
    pen.width = width;
    pen.colour = colour;
    switch (style & 0xF00) {
    case 0x100:
        pen.cap = Qt::SquareCap;
        break;
    case 0x200:
        pen.cap = Qt::FlatCap;
        break;
    default:
        pen.cap = Qt::RoundCap;
    }
    switch (style & 0xF000) {
    case 0x1000:
        pen.join = Qt::BevelJoin;
        break;
    case 0x2000:
        pen.join = Qt::MiterJoin;
        break;
    default:
        pen.join = Qt::RoundJoin;
    }
    return pen;
}

GdiBrush makeBrush(uint32_t style, const QColor& colour, uint32_t hatch) {
    GdiBrush brush;
    brush.colour = colour;
    if (style == 1) // BS_NULL
        brush.null = true;
    else if (style == 2) // BS_HATCHED
        brush.hatch = int(hatch);
    return brush;
}

QStringDecoder decoderForCharset(int charset) {
    const char* name = "windows-1252";
    switch (charset) {
    case 2:
        name = "ISO-8859-1";
        break;
    case 128:
        name = "Shift_JIS";
        break;
    case 129:
        name = "CP949";
        break;
    case 134:
        name = "GBK";
        break;
    case 136:
        name = "Big5";
        break;
    case 161:
        name = "windows-1253";
        break;
    case 162:
        name = "windows-1254";
        break;
    case 177:
        name = "windows-1255";
        break;
    case 178:
        name = "windows-1256";
        break;
    case 186:
        name = "windows-1257";
        break;
    case 204:
        name = "windows-1251";
        break;
    case 222:
        name = "windows-874";
        break;
    case 238:
        name = "windows-1250";
        break;
    default:
        break;
    }
    QStringDecoder decoder(name);
    if (!decoder.isValid())
        return QStringDecoder(QStringDecoder::Latin1);
    return decoder;
}

// The state machine of a device context, drawing through a QPainter. Logical
// coordinates go through the world transform and the mapping mode into the
// reference device's pixels, which deviceToDest maps onto the destination.
class GdiCanvas {
public:
    GdiCanvas(QPainter& painter, const QTransform& deviceToDest, double pixelsPerMmX,
              double pixelsPerMmY, bool windowMapsToDest, const QRectF& dest)
        : painter_(painter), deviceToDest_(deviceToDest), pixelsPerMmX_(pixelsPerMmX),
          pixelsPerMmY_(pixelsPerMmY), windowMapsToDest_(windowMapsToDest), dest_(dest) {
        painter_.save();
        painter_.setClipRect(dest_, Qt::ReplaceClip);
        painter_.setRenderHint(QPainter::Antialiasing, true);
    }
    ~GdiCanvas() {
        while (!saved_.empty()) {
            saved_.pop_back();
            painter_.restore();
        }
        painter_.restore();
    }

    DcState& state() { return state_; }

    // --- objects ----------------------------------------------------------------
    void setObject(uint32_t index, GdiObject object) {
        if (index < 0x10000)
            objects_[index] = std::move(object);
    }
    // WMF objects take the lowest free slot. A file cannot address more than 65536.
    void addObject(GdiObject object) {
        while (objects_.count(lowestFree_))
            ++lowestFree_;
        if (lowestFree_ > 0xFFFF)
            return;
        objects_[lowestFree_] = std::move(object);
    }
    void deleteObject(uint32_t index) {
        if (objects_.erase(index) && index < lowestFree_)
            lowestFree_ = index;
    }
    void selectObject(uint32_t index) {
        if (index & 0x80000000u) {
            selectStock(index & 0x7FFFFFFFu);
            return;
        }
        auto it = objects_.find(index);
        if (it == objects_.end())
            return;
        if (auto* pen = std::get_if<GdiPen>(&it->second))
            state_.pen = *pen;
        else if (auto* brush = std::get_if<GdiBrush>(&it->second))
            state_.brush = *brush;
        else if (auto* font = std::get_if<GdiFont>(&it->second))
            state_.font = *font;
    }

    // --- mapping ----------------------------------------------------------------
    QTransform pageTransform() const {
        const DcState& s = state_;
        if (windowMapsToDest_) {
            // A WMF is played with its window mapped onto the destination.
            const double sx =
                s.windowExtent.width() != 0 ? dest_.width() / s.windowExtent.width() : 1;
            const double sy =
                s.windowExtent.height() != 0 ? dest_.height() / s.windowExtent.height() : 1;
            return QTransform::fromTranslate(-s.windowOrigin.x(), -s.windowOrigin.y()) *
                   QTransform::fromScale(sx, sy) *
                   QTransform::fromTranslate(dest_.left(), dest_.top());
        }
        double sx = 1;
        double sy = 1;
        switch (s.mapMode) {
        case U_MM_LOMETRIC:
            sx = pixelsPerMmX_ * 0.1, sy = -pixelsPerMmY_ * 0.1;
            break;
        case U_MM_HIMETRIC:
            sx = pixelsPerMmX_ * 0.01, sy = -pixelsPerMmY_ * 0.01;
            break;
        case U_MM_LOENGLISH:
            sx = pixelsPerMmX_ * 0.254, sy = -pixelsPerMmY_ * 0.254;
            break;
        case U_MM_HIENGLISH:
            sx = pixelsPerMmX_ * 0.0254, sy = -pixelsPerMmY_ * 0.0254;
            break;
        case U_MM_TWIPS:
            sx = pixelsPerMmX_ * 25.4 / 1440, sy = -pixelsPerMmY_ * 25.4 / 1440;
            break;
        case U_MM_ISOTROPIC:
        case U_MM_ANISOTROPIC:
            sx =
                s.windowExtent.width() != 0 ? s.viewportExtent.width() / s.windowExtent.width() : 1;
            sy = s.windowExtent.height() != 0 ? s.viewportExtent.height() / s.windowExtent.height()
                                              : 1;
            if (s.mapMode == U_MM_ISOTROPIC) {
                const double m = std::min(std::abs(sx), std::abs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
            break;
        default:
            break;
        }
        return QTransform::fromTranslate(-s.windowOrigin.x(), -s.windowOrigin.y()) *
               QTransform::fromScale(sx, sy) *
               QTransform::fromTranslate(s.viewportOrigin.x(), s.viewportOrigin.y()) *
               deviceToDest_;
    }
    QTransform logicalToDest() const { return state_.world * pageTransform(); }

    // --- drawing ----------------------------------------------------------------
    void moveTo(QPointF p) {
        state_.current = p;
        if (inPath_)
            path_.moveTo(p);
    }
    void lineTo(QPointF p) {
        if (inPath_) {
            if (path_.elementCount() == 0)
                path_.moveTo(state_.current);
            path_.lineTo(p);
        } else {
            QPainterPath line(state_.current);
            line.lineTo(p);
            draw(line, true, false);
        }
        state_.current = p;
    }
    void polyline(const QPolygonF& points, bool fromCurrent) {
        if (points.isEmpty())
            return;
        QPainterPath p(fromCurrent ? state_.current : points.first());
        for (int i = fromCurrent ? 0 : 1; i < points.size(); ++i)
            p.lineTo(points[i]);
        if (fromCurrent)
            state_.current = points.last();
        shape(p, true, false, fromCurrent);
    }
    void bezier(const QPolygonF& points, bool fromCurrent) {
        if (points.isEmpty())
            return;
        QPainterPath p(fromCurrent ? state_.current : points.first());
        for (int i = fromCurrent ? 0 : 1; i + 2 < points.size(); i += 3)
            p.cubicTo(points[i], points[i + 1], points[i + 2]);
        if (fromCurrent)
            state_.current = points.last();
        shape(p, true, false, fromCurrent);
    }
    void polygons(const std::vector<QPolygonF>& polygons) {
        QPainterPath p;
        p.setFillRule(state_.fillRule);
        for (const QPolygonF& polygon : polygons) {
            if (polygon.isEmpty())
                continue;
            p.addPolygon(polygon);
            p.closeSubpath();
        }
        shape(p, true, true, false);
    }
    void polylines(const std::vector<QPolygonF>& lines) {
        QPainterPath p;
        for (const QPolygonF& line : lines) {
            if (line.isEmpty())
                continue;
            p.moveTo(line.first());
            for (int i = 1; i < line.size(); ++i)
                p.lineTo(line[i]);
        }
        shape(p, true, false, false);
    }
    void rectangle(const QRectF& r) {
        QPainterPath p;
        p.addRect(r.normalized());
        shape(p, true, true, false);
    }
    void roundRect(const QRectF& r, QSizeF corner) {
        QPainterPath p;
        p.addRoundedRect(r.normalized(), std::abs(corner.width()) / 2,
                         std::abs(corner.height()) / 2);
        shape(p, true, true, false);
    }
    void ellipse(const QRectF& r) {
        QPainterPath p;
        p.addEllipse(r.normalized());
        shape(p, true, true, false);
    }
    enum class ArcKind { Arc, Chord, Pie, ArcTo };
    void arc(const QRectF& box, QPointF start, QPointF end, ArcKind kind) {
        const QRectF r = box.normalized();
        if (r.width() <= 0 || r.height() <= 0)
            return;
        const QPointF c = r.center();
        auto angleOf = [&](QPointF p) {
            // The angle of the radial through p, as an angle of the ellipse's parameter.
            return std::atan2(-(p.y() - c.y()) * r.width() / r.height(), p.x() - c.x()) * 180 / kPi;
        };
        const double a0 = angleOf(start);
        double sweep = angleOf(end) - a0;
        if (state_.arcClockwise) {
            if (sweep >= 0)
                sweep -= 360;
        } else if (sweep <= 0) {
            sweep += 360;
        }
        QPainterPath p;
        if (kind == ArcKind::Pie)
            p.moveTo(c);
        else if (kind == ArcKind::ArcTo)
            p.moveTo(state_.current);
        else
            p.arcMoveTo(r, a0);
        p.arcTo(r, a0, sweep);
        if (kind == ArcKind::Pie || kind == ArcKind::Chord)
            p.closeSubpath();
        if (kind == ArcKind::ArcTo)
            state_.current = p.currentPosition();
        const bool filled = kind == ArcKind::Pie || kind == ArcKind::Chord;
        shape(p, true, filled, kind == ArcKind::ArcTo);
    }
    void fillRect(const QRectF& r, const GdiBrush& brush) {
        applyTransform();
        painter_.fillRect(r.normalized(), qtBrush(brush));
    }
    void setPixel(QPointF p, const QColor& colour) {
        applyTransform();
        painter_.fillRect(QRectF(p, QSizeF(1, 1)), colour);
    }

    // --- paths ------------------------------------------------------------------
    void beginPath() {
        inPath_ = true;
        path_ = QPainterPath();
        path_.setFillRule(state_.fillRule);
    }
    void endPath() { inPath_ = false; }
    void abortPath() {
        inPath_ = false;
        path_ = QPainterPath();
    }
    void closeFigure() {
        if (inPath_)
            path_.closeSubpath();
    }
    void drawPath(bool stroke, bool fill) {
        inPath_ = false;
        path_.setFillRule(state_.fillRule);
        draw(path_, stroke, fill);
        path_ = QPainterPath();
    }
    void clipToPath(uint32_t mode) {
        inPath_ = false;
        applyTransform();
        clip(painter_.transform().map(path_), mode);
        path_ = QPainterPath();
    }

    // --- clipping ---------------------------------------------------------------
    void intersectClip(const QRectF& r) {
        QPainterPath p;
        p.addRect(r.normalized());
        clip(logicalToDest().map(p), U_RGN_AND);
    }
    void excludeClip(const QRectF& r) {
        QPainterPath p;
        p.addRect(r.normalized());
        clip(logicalToDest().map(p), U_RGN_DIFF);
    }
    // Rectangles in the reference device's pixels; none resets the clip.
    void selectClipRegion(const std::vector<QRectF>& deviceRects, uint32_t mode) {
        if (deviceRects.empty() && mode == U_RGN_COPY) {
            painter_.resetTransform();
            painter_.setClipRect(dest_, Qt::ReplaceClip);
            return;
        }
        QPainterPath p;
        for (const QRectF& r : deviceRects)
            p.addRect(r.normalized());
        clip(deviceToDest_.map(p), mode);
    }

    // --- saving -----------------------------------------------------------------
    void saveDc() {
        if (saved_.size() > 1000)
            return;
        saved_.push_back(state_);
        painter_.save();
    }
    void restoreDc(int relative) {
        int count = relative < 0 ? -relative : int(saved_.size()) - relative + 1;
        while (count-- > 0 && !saved_.empty()) {
            state_ = saved_.back();
            saved_.pop_back();
            painter_.restore();
        }
    }

    // --- text and bitmaps ---------------------------------------------------------
    // dx: advances in logical units (empty for the font's own).
    void text(QPointF reference, const QString& text, const std::vector<double>& dx,
              uint32_t options, const QRectF& box) {
        const DcState& s = state_;
        if (s.textAlign & U_TA_UPDATECP)
            reference = s.current;
        const QTransform toDest = logicalToDest();
        if (options & U_ETO_OPAQUE) {
            applyTransform();
            painter_.fillRect(box.normalized(), s.backgroundColour);
        }
        if (text.isEmpty())
            return;
        const double scaleX = std::hypot(toDest.m11(), toDest.m12());
        const double scaleY = std::hypot(toDest.m21(), toDest.m22());

        QFont font(s.font.face.isEmpty() ? QStringLiteral("Sans Serif") : s.font.face);
        double cell = std::abs(double(s.font.height)) * scaleY;
        if (s.font.height == 0)
            cell = 12 * scaleY;
        double pixelSize = cell;
        if (s.font.height > 0) { // a cell height: convert to the em height
            QFont probe = font;
            probe.setPixelSize(100);
            pixelSize = cell * 100 / std::max(1.0, QFontMetricsF(probe).height());
        }
        font.setPixelSize(std::max(1, int(std::lround(pixelSize))));
        font.setWeight(
            QFont::Weight(std::clamp(s.font.weight == 0 ? 400 : s.font.weight, 1, 1000)));
        font.setItalic(s.font.italic);
        font.setUnderline(s.font.underline);
        font.setStrikeOut(s.font.strikeOut);
        const QFontMetricsF metrics(font);

        double width = 0;
        if (!dx.empty()) {
            for (double d : dx)
                width += d * scaleX;
        } else {
            width = metrics.horizontalAdvance(text);
        }
        double x = 0;
        switch (s.textAlign & U_TA_CENTER) {
        case U_TA_RIGHT:
            x = -width;
            break;
        case U_TA_CENTER:
            x = -width / 2;
            break;
        default:
            break;
        }
        double y = 0;
        switch (s.textAlign & U_TA_BASELINE) {
        case U_TA_BASELINE:
            break;
        case U_TA_BOTTOM:
            y = -metrics.descent();
            break;
        default:
            y = metrics.ascent();
        }

        painter_.save();
        if (options & U_ETO_CLIPPED) {
            QPainterPath clipBox;
            clipBox.addRect(box.normalized());
            painter_.resetTransform();
            painter_.setClipPath(toDest.map(clipBox), Qt::IntersectClip);
        }
        painter_.resetTransform();
        painter_.translate(toDest.map(reference));
        painter_.rotate(-s.font.escapement / 10.0);
        painter_.setFont(font);
        if (s.opaqueBackground && !(options & U_ETO_OPAQUE))
            painter_.fillRect(QRectF(x, y - metrics.ascent(), width, metrics.height()),
                              s.backgroundColour);
        painter_.setPen(s.textColour);
        if (dx.empty() || int(dx.size()) != text.size()) {
            painter_.drawText(QPointF(x, y), text);
        } else {
            for (int i = 0; i < text.size(); ++i) {
                painter_.drawText(QPointF(x, y), QString(text[i]));
                x += dx[std::size_t(i)] * scaleX;
            }
        }
        painter_.restore();
        if (s.textAlign & U_TA_UPDATECP) {
            const QTransform back = toDest.inverted();
            state_.current = back.map(toDest.map(reference) + QPointF(width, 0));
        }
    }

    void image(const QRectF& target, const QImage& image, const QRectF& source, uint32_t rop) {
        applyTransform();
        if (image.isNull()) {
            patternBlit(target, rop);
            return;
        }
        painter_.save();
        switch (rop) {
        case U_SRCAND:
            painter_.setCompositionMode(QPainter::CompositionMode_Multiply);
            break;
        case U_SRCPAINT:
            painter_.setCompositionMode(QPainter::CompositionMode_Lighten);
            break;
        default:
            break;
        }
        QRectF src = source;
        if (src.width() <= 0 || src.height() <= 0)
            src = QRectF(image.rect());
        // Enlarged bitmaps keep their pixels sharp, as GDI stretches them; reduced ones
        // are filtered.
        const QRectF onDest = painter_.transform().mapRect(target.normalized());
        painter_.setRenderHint(QPainter::SmoothPixmapTransform,
                               onDest.width() < src.width() || onDest.height() < src.height());
        painter_.drawImage(target.normalized(), image, src);
        painter_.restore();
    }
    void patternBlit(const QRectF& target, uint32_t rop) {
        applyTransform();
        if (rop == U_BLACKNESS)
            painter_.fillRect(target.normalized(), Qt::black);
        else if (rop == U_WHITENESS)
            painter_.fillRect(target.normalized(), Qt::white);
        else if (rop == U_PATCOPY && !state_.brush.null)
            painter_.fillRect(target.normalized(), qtBrush(state_.brush));
    }

private:
    void selectStock(uint32_t stock) {
        switch (stock) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4: {
            static const int greys[] = {255, 192, 128, 64, 0};
            state_.brush = GdiBrush{};
            state_.brush.colour = QColor(greys[stock], greys[stock], greys[stock]);
            break;
        }
        case 5:
            state_.brush = GdiBrush{};
            state_.brush.null = true;
            break;
        case 6:
            state_.pen = GdiPen{};
            state_.pen.colour = Qt::white;
            break;
        case 7:
            state_.pen = GdiPen{};
            break;
        case 8:
            state_.pen = GdiPen{};
            state_.pen.null = true;
            break;
        case 10:
        case 11:
        case 12:
        case 13:
        case 14:
        case 16:
        case 17:
            state_.font = GdiFont{};
            break;
        default:
            break;
        }
    }

    void applyTransform() { painter_.setTransform(logicalToDest()); }

    QBrush qtBrush(const GdiBrush& brush) const {
        if (brush.null)
            return Qt::NoBrush;
        if (!brush.pattern.isNull())
            return QBrush(brush.pattern);
        if (brush.hatch)
            return QBrush(brush.colour, hatchStyle(*brush.hatch));
        return QBrush(brush.colour);
    }

    QPen qtPen() const {
        const GdiPen& p = state_.pen;
        if (p.null)
            return Qt::NoPen;
        QPen pen(p.colour);
        pen.setStyle(p.style);
        pen.setCapStyle(p.cap);
        pen.setJoinStyle(p.join);
        if (p.width <= 1) {
            pen.setCosmetic(true);
            pen.setWidthF(1);
        } else {
            pen.setWidthF(p.width);
        }
        return pen;
    }

    // A figure: recorded when a path is open, otherwise drawn.
    void shape(const QPainterPath& p, bool stroke, bool fill, bool continuesFigure) {
        if (inPath_) {
            if (continuesFigure && path_.elementCount() > 0)
                path_.connectPath(p);
            else
                path_.addPath(p);
            return;
        }
        draw(p, stroke, fill);
    }

    void draw(const QPainterPath& p, bool stroke, bool fill) {
        applyTransform();
        if (fill && !state_.brush.null) {
            if (state_.brush.hatch && state_.opaqueBackground) {
                painter_.fillPath(p, state_.backgroundColour);
            }
            // Hatches keep their spacing in device pixels, as GDI draws them.
            QBrush brush = qtBrush(state_.brush);
            if (state_.brush.hatch)
                brush.setTransform(painter_.transform().inverted());
            painter_.fillPath(p, brush);
        }
        if (stroke && !state_.pen.null)
            painter_.strokePath(p, qtPen());
    }

    void clip(const QPainterPath& destPath, uint32_t mode) {
        painter_.resetTransform();
        switch (mode) {
        case U_RGN_COPY:
            painter_.setClipRect(dest_, Qt::ReplaceClip);
            painter_.setClipPath(destPath, Qt::IntersectClip);
            break;
        case U_RGN_DIFF: {
            QPainterPath outside;
            outside.addRect(dest_.adjusted(-1, -1, 1, 1));
            painter_.setClipPath(outside.subtracted(destPath), Qt::IntersectClip);
            break;
        }
        case U_RGN_OR:
            if (painter_.hasClipping())
                painter_.setClipPath(painter_.clipPath().united(destPath), Qt::ReplaceClip);
            break;
        default:
            painter_.setClipPath(destPath, Qt::IntersectClip);
        }
    }

    QPainter& painter_;
    QTransform deviceToDest_;
    double pixelsPerMmX_;
    double pixelsPerMmY_;
    bool windowMapsToDest_;
    QRectF dest_;
    DcState state_;
    std::vector<DcState> saved_;
    std::map<uint32_t, GdiObject> objects_;
    uint32_t lowestFree_ = 0;
    bool inPath_ = false;
    QPainterPath path_;
};

// ---------------------------------------------------------------------------------
// EMF

struct EmfHeader {
    QRectF frame; // 0.01 mm
    QSizeF devicePixels;
    QSizeF deviceMillimetres;
};

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
    DcState& s = canvas.state();

    forEachEmfRecord(bytes, [&](uint32_t type, const RecordReader& r) {
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
        case U_EMR_SAVEDC:
            canvas.saveDc();
            break;
        case U_EMR_RESTOREDC:
            canvas.restoreDc(r.i32(8));
            break;
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
            canvas.arc(r.rect32(8), QPointF(r.i32(24), r.i32(28)), QPointF(r.i32(32), r.i32(36)),
                       kind);
            break;
        }
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
            break;
        }
        return true;
    });
}

// ---------------------------------------------------------------------------------
// WMF

struct WmfHeader {
    std::size_t recordsOffset = 0;
    bool placeable = false;
    QRectF bounds; // logical units
    int unitsPerInch = 0;
};

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

template <typename Visit>
bool forEachWmfRecord(const QByteArray& bytes, std::size_t offset, Visit visit) {
    const char* begin = bytes.constData();
    const char* limit = begin + bytes.size();
    while (offset + 6 <= std::size_t(bytes.size())) {
        const char* record = begin + offset;
        const std::size_t size = U_WMRRECSAFE_get(record, limit);
        if (size < 6)
            return false;
        const uint16_t function = qFromLittleEndian<uint16_t>(record + 4);
        if (function == 0) // META_EOF
            return true;
        if (!visit(function, RecordReader(record, size)))
            return true;
        offset += size;
    }
    return true;
}

// Where the window starts for a WMF without a placeable header: its first
// SETWINDOWORG and SETWINDOWEXT.
QRectF wmfWindow(const QByteArray& bytes, std::size_t offset) {
    QPointF origin;
    QSizeF extent;
    forEachWmfRecord(bytes, offset, [&](uint16_t function, const RecordReader& r) {
        if (function == 0x020B && origin.isNull())
            origin = QPointF(r.i16(8), r.i16(6));
        if (function == 0x020C && extent.isEmpty())
            extent = QSizeF(r.i16(8), r.i16(6));
        return extent.isEmpty();
    });
    return QRectF(origin, extent);
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

void playWmf(const QByteArray& bytes, const WmfHeader& header, const QRectF& window,
             QPainter& painter, const QRectF& dest) {
    GdiCanvas canvas(painter, QTransform(), 1, 1, true, dest);
    DcState& s = canvas.state();
    s.windowOrigin = window.topLeft();
    s.windowExtent = window.size();
    forEachWmfRecord(bytes, header.recordsOffset, [&](uint16_t function, const RecordReader& r) {
        const std::size_t p = 6; // parameters start here
        switch (function) {
        case 0x0201:
            s.backgroundColour = r.colour(p);
            break;
        case 0x0102:
            s.opaqueBackground = r.u16(p) == U_OPAQUE;
            break;
        case 0x0106:
            s.fillRule = r.u16(p) == U_WINDING ? Qt::WindingFill : Qt::OddEvenFill;
            break;
        case 0x0209:
            s.textColour = r.colour(p);
            break;
        case 0x012E:
            s.textAlign = r.u16(p);
            break;
        case 0x020B:
            s.windowOrigin = QPointF(r.i16(p + 2), r.i16(p));
            break;
        case 0x020C:
            s.windowExtent = QSizeF(r.i16(p + 2), r.i16(p));
            break;
        case 0x020F:
            s.windowOrigin += QPointF(r.i16(p + 2), r.i16(p));
            break;
        case 0x0410: { // yDenom, yNum, xDenom, xNum
            const int yDenom = r.i16(p), yNum = r.i16(p + 2), xDenom = r.i16(p + 4),
                      xNum = r.i16(p + 6);
            if (xDenom != 0 && yDenom != 0)
                s.windowExtent = QSizeF(s.windowExtent.width() * xNum / xDenom,
                                        s.windowExtent.height() * yNum / yDenom);
            break;
        }
        case 0x0213:
            canvas.lineTo(QPointF(r.i16(p + 2), r.i16(p)));
            break;
        case 0x0214:
            canvas.moveTo(QPointF(r.i16(p + 2), r.i16(p)));
            break;
        case 0x0415:
            canvas.excludeClip(wmfRect(r, p));
            break;
        case 0x0416:
            canvas.intersectClip(wmfRect(r, p));
            break;
        case 0x0817:
        case 0x081A:
        case 0x0830: {
            const auto kind = function == 0x0817   ? GdiCanvas::ArcKind::Arc
                              : function == 0x081A ? GdiCanvas::ArcKind::Pie
                                                   : GdiCanvas::ArcKind::Chord;
            canvas.arc(wmfRect(r, p + 8), QPointF(r.i16(p + 6), r.i16(p + 4)),
                       QPointF(r.i16(p + 2), r.i16(p)), kind);
            break;
        }
        case 0x0418:
            canvas.ellipse(wmfRect(r, p));
            break;
        case 0x041B:
            canvas.rectangle(wmfRect(r, p));
            break;
        case 0x061C:
            canvas.roundRect(wmfRect(r, p + 4), QSizeF(r.i16(p + 2), r.i16(p)));
            break;
        case 0x061D: // PATBLT: rop, height, width, y, x
            canvas.patternBlit(
                QRectF(QPointF(r.i16(p + 10), r.i16(p + 8)), QSizeF(r.i16(p + 6), r.i16(p + 4))),
                r.u32(p));
            break;
        case 0x001E:
            canvas.saveDc();
            break;
        case 0x0127:
            canvas.restoreDc(r.i16(p));
            break;
        case 0x041F:
            canvas.setPixel(QPointF(r.i16(p + 6), r.i16(p + 4)), r.colour(p));
            break;
        case 0x0521: { // TEXTOUT: length, string (even length), y, x
            const int length = r.i16(p);
            if (length <= 0 || !r.has(p + 2, std::size_t(length)))
                break;
            const std::size_t after = p + 2 + ((std::size_t(length) + 1) & ~std::size_t(1));
            QStringDecoder decoder = decoderForCharset(s.font.charset);
            const QString text = decoder(QByteArrayView(r.data() + p + 2, length));
            canvas.text(QPointF(r.i16(after + 2), r.i16(after)), text, {}, 0, QRectF());
            break;
        }
        case 0x0A32: { // EXTTEXTOUT: y, x, count, options, [rect], string, [dx]
            const int count = r.i16(p + 4);
            const uint16_t options = r.u16(p + 6);
            std::size_t at = p + 8;
            QRectF box;
            if (options & (U_ETO_OPAQUE | U_ETO_CLIPPED)) {
                box = QRectF(QPointF(r.i16(at), r.i16(at + 2)),
                             QPointF(r.i16(at + 4), r.i16(at + 6)));
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
        case 0x0324:
            canvas.polygons({wmfPoints(r, p + 2, r.u16(p))});
            break;
        case 0x0325:
            canvas.polyline(wmfPoints(r, p + 2, r.u16(p)), false);
            break;
        case 0x0538: { // POLYPOLYGON: count, counts..., points...
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
        case 0x012D:
            canvas.selectObject(r.u16(p));
            break;
        case 0x01F0:
            canvas.deleteObject(r.u16(p));
            break;
        case 0x012C: // SELECTCLIPREGION; regions are not kept, so this resets the clip
            canvas.selectClipRegion({}, U_RGN_COPY);
            break;
        case 0x02FA:
            canvas.addObject(makePen(r.u16(p), r.i16(p + 2), r.colour(p + 6)));
            break;
        case 0x02FC:
            canvas.addObject(makeBrush(r.u16(p), r.colour(p + 2), r.u16(p + 6)));
            break;
        case 0x02FB: {
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
        case 0x0142: { // DIBCREATEPATTERNBRUSH: style, usage, dib
            GdiBrush brush;
            brush.pattern = wmfDib(r, p + 4);
            canvas.addObject(brush);
            break;
        }
        case 0x00F7: // palettes, old-style pattern brushes, regions and bitmaps still
        case 0x01F9: // take an object slot
        case 0x06FF:
        case 0x02FD:
        case 0x06FE:
            canvas.addObject(std::monostate{});
            break;
        case 0x0940: { // DIBBITBLT: rop, ySrc, xSrc, [reserved], height, width, yDest, xDest, dib
            const bool noBitmap = r.size() == std::size_t(((function >> 8) + 3) * 2);
            const std::size_t q = noBitmap ? p + 2 : p;
            const QRectF target(QPointF(r.i16(q + 14), r.i16(q + 12)),
                                QSizeF(r.i16(q + 10), r.i16(q + 8)));
            const QRectF source(QPointF(r.i16(p + 6), r.i16(p + 4)), target.size());
            canvas.image(target, noBitmap ? QImage() : wmfDib(r, p + 16), source, r.u32(p));
            break;
        }
        case 0x0B41: { // DIBSTRETCHBLT: rop, srcH, srcW, ySrc, xSrc, [reserved], dstH, dstW, yDst,
                       // xDst, dib
            const bool noBitmap = r.size() == std::size_t(((function >> 8) + 3) * 2);
            const std::size_t q = noBitmap ? p + 2 : p;
            const QRectF source(QPointF(r.i16(p + 10), r.i16(p + 8)),
                                QSizeF(r.i16(p + 6), r.i16(p + 4)));
            const QRectF target(QPointF(r.i16(q + 18), r.i16(q + 16)),
                                QSizeF(r.i16(q + 14), r.i16(q + 12)));
            canvas.image(target, noBitmap ? QImage() : wmfDib(r, p + 20), source, r.u32(p));
            break;
        }
        case 0x0F43: { // STRETCHDIB: rop, usage, srcH, srcW, ySrc, xSrc, dstH, dstW, yDst, xDst,
                       // dib
            const QRectF source(QPointF(r.i16(p + 12), r.i16(p + 10)),
                                QSizeF(r.i16(p + 8), r.i16(p + 6)));
            const QRectF target(QPointF(r.i16(p + 20), r.i16(p + 18)),
                                QSizeF(r.i16(p + 16), r.i16(p + 14)));
            canvas.image(target, wmfDib(r, p + 22), source, r.u32(p));
            break;
        }
        case 0x0D33: { // SETDIBTODEV: usage, scans, start, yDib, xDib, h, w, yDest, xDest, dib
            const QRectF source(QPointF(r.i16(p + 8), r.i16(p + 6)),
                                QSizeF(r.i16(p + 12), r.i16(p + 10)));
            const QRectF target(QPointF(r.i16(p + 16), r.i16(p + 14)), source.size());
            canvas.image(target, wmfDib(r, p + 18), source, U_SRCCOPY);
            break;
        }
        default:
            break;
        }
        return true;
    });
}

} // namespace

void TMetafileGraphic::loadFromBytes(const QByteArray& bytes) {
    kind_ = Kind::None;
    width_ = height_ = 0;
    if (const std::optional<EmfHeader> emf = readEmfHeader(bytes)) {
        bool eof = false;
        const bool sound = forEachEmfRecord(bytes, [&](uint32_t type, const RecordReader&) {
            eof = type == U_EMR_EOF;
            return true;
        });
        if (!sound || !eof || emf->frame.width() <= 0 || emf->frame.height() <= 0)
            throw EInvalidGraphic("damaged enhanced metafile");
        frame_ = emf->frame;
        // The frame is in hundredths of a millimetre.
        width_ = int(std::lround(emf->frame.width() * kMetafilePixelsPerInch / 2540.0));
        height_ = int(std::lround(emf->frame.height() * kMetafilePixelsPerInch / 2540.0));
        kind_ = Kind::Emf;
    } else if (const std::optional<WmfHeader> wmf = readWmfHeader(bytes)) {
        if (!forEachWmfRecord(bytes, wmf->recordsOffset,
                              [](uint16_t, const RecordReader&) { return true; }))
            throw EInvalidGraphic("damaged metafile");
        if (wmf->placeable && wmf->unitsPerInch > 0 && !wmf->bounds.isEmpty()) {
            frame_ = wmf->bounds;
            width_ = int(std::lround(frame_.width() * kMetafilePixelsPerInch / wmf->unitsPerInch));
            height_ =
                int(std::lround(frame_.height() * kMetafilePixelsPerInch / wmf->unitsPerInch));
        } else {
            // Without a placeable header the window is taken to be in pixels.
            frame_ = wmfWindow(bytes, wmf->recordsOffset);
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
        if (const std::optional<EmfHeader> header = readEmfHeader(bytes_))
            playEmf(bytes_, *header, painter, target);
    } else if (const std::optional<WmfHeader> header = readWmfHeader(bytes_)) {
        playWmf(bytes_, *header, frame_, painter, target);
    }
}
