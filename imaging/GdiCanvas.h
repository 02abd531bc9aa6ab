#pragma once
// The device context both metafile formats draw through: the objects a file creates,
// the colours and modes it sets, its mapping of logical coordinates, its clipping and
// paths, and the QPainter that does the drawing.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QTransform>
#include <cstdint>
#include <map>
#include <optional>
#include <variant>
#include <vector>

#include <uemf.h>

namespace metafile {

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

// A pen from a GDI pen style (line style, end caps and joins), width and colour.
GdiPen makePen(uint32_t style, double width, const QColor& colour);
// A brush from a GDI brush style, colour and hatch.
GdiBrush makeBrush(uint32_t style, const QColor& colour, uint32_t hatch);

// The state machine of a device context, drawing through a QPainter. Logical
// coordinates go through the world transform and the mapping mode into the
// reference device's pixels, which deviceToDest maps onto the destination.
class GdiCanvas {
public:
    GdiCanvas(QPainter& painter, const QTransform& deviceToDest, double pixelsPerMmX,
              double pixelsPerMmY, bool windowMapsToDest, const QRectF& dest);
    ~GdiCanvas();
    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    DcState& state() { return state_; }

    // --- objects ----------------------------------------------------------------
    void setObject(uint32_t index, GdiObject object);
    // WMF objects take the lowest free slot. A file cannot address more than 65536.
    void addObject(GdiObject object);
    void deleteObject(uint32_t index);
    void selectObject(uint32_t index);

    // --- mapping ----------------------------------------------------------------
    QTransform pageTransform() const;
    QTransform logicalToDest() const { return state_.world * pageTransform(); }

    // --- drawing ----------------------------------------------------------------
    void moveTo(QPointF p);
    void lineTo(QPointF p);
    void polyline(const QPolygonF& points, bool fromCurrent);
    void bezier(const QPolygonF& points, bool fromCurrent);
    void polygons(const std::vector<QPolygonF>& polygons);
    void polylines(const std::vector<QPolygonF>& lines);
    void rectangle(const QRectF& r);
    void roundRect(const QRectF& r, QSizeF corner);
    void ellipse(const QRectF& r);
    enum class ArcKind { Arc, Chord, Pie, ArcTo };
    void arc(const QRectF& box, QPointF start, QPointF end, ArcKind kind);
    void fillRect(const QRectF& r, const GdiBrush& brush);
    void setPixel(QPointF p, const QColor& colour);

    // --- paths ------------------------------------------------------------------
    void beginPath();
    void endPath() { inPath_ = false; }
    void abortPath();
    void closeFigure();
    void drawPath(bool stroke, bool fill);
    void clipToPath(uint32_t mode);

    // --- clipping ---------------------------------------------------------------
    void intersectClip(const QRectF& r);
    void excludeClip(const QRectF& r);
    // Rectangles in the reference device's pixels; none resets the clip.
    void selectClipRegion(const std::vector<QRectF>& deviceRects, uint32_t mode);

    // --- saving -----------------------------------------------------------------
    void saveDc();
    // A negative level counts back from the latest save; a positive one names a save by its
    // depth, 1 being the first. A level that names no save changes nothing, as in GDI.
    void restoreDc(int32_t level);

    // --- text and bitmaps ---------------------------------------------------------
    // dx: advances in logical units (empty for the font's own).
    void text(QPointF reference, const QString& text, const std::vector<double>& dx,
              uint32_t options, const QRectF& box);

    void image(const QRectF& target, const QImage& image, const QRectF& source, uint32_t rop);
    void patternBlit(const QRectF& target, uint32_t rop);

private:
    void selectStock(uint32_t stock);
    void applyTransform() { painter_.setTransform(logicalToDest()); }
    QBrush qtBrush(const GdiBrush& brush) const;
    QPen qtPen() const;
    // A figure: recorded when a path is open, otherwise drawn.
    void shape(const QPainterPath& p, bool stroke, bool fill, bool continuesFigure);
    void draw(const QPainterPath& p, bool stroke, bool fill);
    void clip(const QPainterPath& destPath, uint32_t mode);

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

} // namespace metafile
