#include "GdiCanvas.h"

#include <QFont>
#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

constexpr double kPi = 3.14159265358979323846;

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

} // namespace

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

GdiCanvas::GdiCanvas(QPainter& painter, const QTransform& deviceToDest, double pixelsPerMmX,
                     double pixelsPerMmY, bool windowMapsToDest, const QRectF& dest)
    : painter_(painter), deviceToDest_(deviceToDest), pixelsPerMmX_(pixelsPerMmX),
      pixelsPerMmY_(pixelsPerMmY), windowMapsToDest_(windowMapsToDest), dest_(dest) {
    painter_.save();
    painter_.setClipRect(dest_, Qt::ReplaceClip);
    painter_.setRenderHint(QPainter::Antialiasing, true);
}

GdiCanvas::~GdiCanvas() {
    while (!saved_.empty()) {
        saved_.pop_back();
        painter_.restore();
    }
    painter_.restore();
}

void GdiCanvas::setObject(uint32_t index, GdiObject object) {
    if (index < 0x10000)
        objects_[index] = std::move(object);
}

void GdiCanvas::addObject(GdiObject object) {
    while (objects_.count(lowestFree_))
        ++lowestFree_;
    if (lowestFree_ > 0xFFFF)
        return;
    objects_[lowestFree_] = std::move(object);
}

void GdiCanvas::deleteObject(uint32_t index) {
    if (objects_.erase(index) && index < lowestFree_)
        lowestFree_ = index;
}

void GdiCanvas::selectObject(uint32_t index) {
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

QTransform GdiCanvas::pageTransform() const {
    const DcState& s = state_;
    if (windowMapsToDest_) {
        // A WMF is played with its window mapped onto the destination.
        const double sx = s.windowExtent.width() != 0 ? dest_.width() / s.windowExtent.width() : 1;
        const double sy =
            s.windowExtent.height() != 0 ? dest_.height() / s.windowExtent.height() : 1;
        return QTransform::fromTranslate(-s.windowOrigin.x(), -s.windowOrigin.y()) *
               QTransform::fromScale(sx, sy) * QTransform::fromTranslate(dest_.left(), dest_.top());
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
        sx = s.windowExtent.width() != 0 ? s.viewportExtent.width() / s.windowExtent.width() : 1;
        sy = s.windowExtent.height() != 0 ? s.viewportExtent.height() / s.windowExtent.height() : 1;
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
           QTransform::fromTranslate(s.viewportOrigin.x(), s.viewportOrigin.y()) * deviceToDest_;
}

void GdiCanvas::moveTo(QPointF p) {
    state_.current = p;
    if (inPath_)
        path_.moveTo(p);
}

void GdiCanvas::lineTo(QPointF p) {
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

void GdiCanvas::polyline(const QPolygonF& points, bool fromCurrent) {
    if (points.isEmpty())
        return;
    QPainterPath p(fromCurrent ? state_.current : points.first());
    for (int i = fromCurrent ? 0 : 1; i < points.size(); ++i)
        p.lineTo(points[i]);
    if (fromCurrent)
        state_.current = points.last();
    shape(p, true, false, fromCurrent);
}

void GdiCanvas::bezier(const QPolygonF& points, bool fromCurrent) {
    if (points.isEmpty())
        return;
    QPainterPath p(fromCurrent ? state_.current : points.first());
    for (int i = fromCurrent ? 0 : 1; i + 2 < points.size(); i += 3)
        p.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (fromCurrent)
        state_.current = points.last();
    shape(p, true, false, fromCurrent);
}

void GdiCanvas::polygons(const std::vector<QPolygonF>& polygons) {
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

void GdiCanvas::polylines(const std::vector<QPolygonF>& lines) {
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

void GdiCanvas::rectangle(const QRectF& r) {
    QPainterPath p;
    p.addRect(r.normalized());
    shape(p, true, true, false);
}

void GdiCanvas::roundRect(const QRectF& r, QSizeF corner) {
    QPainterPath p;
    p.addRoundedRect(r.normalized(), std::abs(corner.width()) / 2, std::abs(corner.height()) / 2);
    shape(p, true, true, false);
}

void GdiCanvas::ellipse(const QRectF& r) {
    QPainterPath p;
    p.addEllipse(r.normalized());
    shape(p, true, true, false);
}

void GdiCanvas::arc(const QRectF& box, QPointF start, QPointF end, ArcKind kind) {
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

void GdiCanvas::fillRect(const QRectF& r, const GdiBrush& brush) {
    applyTransform();
    painter_.fillRect(r.normalized(), qtBrush(brush));
}

void GdiCanvas::setPixel(QPointF p, const QColor& colour) {
    applyTransform();
    painter_.fillRect(QRectF(p, QSizeF(1, 1)), colour);
}

void GdiCanvas::beginPath() {
    inPath_ = true;
    path_ = QPainterPath();
    path_.setFillRule(state_.fillRule);
}

void GdiCanvas::abortPath() {
    inPath_ = false;
    path_ = QPainterPath();
}

void GdiCanvas::closeFigure() {
    if (inPath_)
        path_.closeSubpath();
}

void GdiCanvas::drawPath(bool stroke, bool fill) {
    inPath_ = false;
    path_.setFillRule(state_.fillRule);
    draw(path_, stroke, fill);
    path_ = QPainterPath();
}

void GdiCanvas::clipToPath(uint32_t mode) {
    inPath_ = false;
    applyTransform();
    clip(painter_.transform().map(path_), mode);
    path_ = QPainterPath();
}

void GdiCanvas::intersectClip(const QRectF& r) {
    QPainterPath p;
    p.addRect(r.normalized());
    clip(logicalToDest().map(p), U_RGN_AND);
}

void GdiCanvas::excludeClip(const QRectF& r) {
    QPainterPath p;
    p.addRect(r.normalized());
    clip(logicalToDest().map(p), U_RGN_DIFF);
}

void GdiCanvas::selectClipRegion(const std::vector<QRectF>& deviceRects, uint32_t mode) {
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

void GdiCanvas::saveDc() {
    if (saved_.size() > 1000)
        return;
    saved_.push_back(state_);
    painter_.save();
}

void GdiCanvas::restoreDc(int32_t level) {
    // In 64 bits: a file may give any 32-bit level, INT32_MIN included.
    const int64_t depth = int64_t(saved_.size());
    const int64_t count = level < 0 ? -int64_t(level) : depth - int64_t(level) + 1;
    if (count <= 0 || count > depth)
        return;
    for (int64_t i = 0; i < count; ++i) {
        state_ = saved_.back();
        saved_.pop_back();
        painter_.restore();
    }
}

void GdiCanvas::text(QPointF reference, const QString& text, const std::vector<double>& dx,
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
    font.setWeight(QFont::Weight(std::clamp(s.font.weight == 0 ? 400 : s.font.weight, 1, 1000)));
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

void GdiCanvas::image(const QRectF& target, const QImage& image, const QRectF& source,
                      uint32_t rop) {
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

void GdiCanvas::patternBlit(const QRectF& target, uint32_t rop) {
    applyTransform();
    if (rop == U_BLACKNESS)
        painter_.fillRect(target.normalized(), Qt::black);
    else if (rop == U_WHITENESS)
        painter_.fillRect(target.normalized(), Qt::white);
    else if (rop == U_PATCOPY && !state_.brush.null)
        painter_.fillRect(target.normalized(), qtBrush(state_.brush));
}

void GdiCanvas::selectStock(uint32_t stock) {
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

QBrush GdiCanvas::qtBrush(const GdiBrush& brush) const {
    if (brush.null)
        return Qt::NoBrush;
    if (!brush.pattern.isNull())
        return QBrush(brush.pattern);
    if (brush.hatch)
        return QBrush(brush.colour, hatchStyle(*brush.hatch));
    return QBrush(brush.colour);
}

QPen GdiCanvas::qtPen() const {
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

void GdiCanvas::shape(const QPainterPath& p, bool stroke, bool fill, bool continuesFigure) {
    if (inPath_) {
        if (continuesFigure && path_.elementCount() > 0)
            path_.connectPath(p);
        else
            path_.addPath(p);
        return;
    }
    draw(p, stroke, fill);
}

void GdiCanvas::draw(const QPainterPath& p, bool stroke, bool fill) {
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

void GdiCanvas::clip(const QPainterPath& destPath, uint32_t mode) {
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

} // namespace metafile
