#pragma once
// Plays a Windows metafile (WMF), with or without its placeable header, through a
// GdiCanvas. libuemf vets the header (wmfheader_get) and each record's framing
// (U_WMRRECSAFE_get) before any field of it is read.

#include <QByteArray>
#include <QRectF>
#include <cstddef>
#include <cstdint>
#include <optional>

class QPainter;

namespace metafile {

// The function numbers of the records the player knows. The low byte numbers the record;
// the high byte counts the parameter words of its basic form.
enum class WmfRecord : uint16_t {
    Eof = 0x0000,
    Arc = 0x0817,
    Chord = 0x0830,
    CreateBitmap = 0x06FE,
    CreateBitmapIndirect = 0x02FD,
    CreateBrushIndirect = 0x02FC,
    CreateFontIndirect = 0x02FB,
    CreatePalette = 0x00F7,
    CreatePatternBrush = 0x01F9,
    CreatePenIndirect = 0x02FA,
    CreateRegion = 0x06FF,
    DeleteObject = 0x01F0,
    DibBitBlt = 0x0940,
    DibCreatePatternBrush = 0x0142,
    DibStretchBlt = 0x0B41,
    Ellipse = 0x0418,
    ExcludeClipRect = 0x0415,
    ExtTextOut = 0x0A32,
    IntersectClipRect = 0x0416,
    LineTo = 0x0213,
    MoveTo = 0x0214,
    OffsetWindowOrg = 0x020F,
    PatBlt = 0x061D,
    Pie = 0x081A,
    PolyPolygon = 0x0538,
    Polygon = 0x0324,
    Polyline = 0x0325,
    Rectangle = 0x041B,
    RestoreDc = 0x0127,
    RoundRect = 0x061C,
    SaveDc = 0x001E,
    ScaleWindowExt = 0x0410,
    SelectClipRegion = 0x012C,
    SelectObject = 0x012D,
    SetBkColor = 0x0201,
    SetBkMode = 0x0102,
    SetDibToDev = 0x0D33,
    SetPixel = 0x041F,
    SetPolyFillMode = 0x0106,
    SetTextAlign = 0x012E,
    SetTextColor = 0x0209,
    SetWindowExt = 0x020C,
    SetWindowOrg = 0x020B,
    StretchDib = 0x0F43,
    TextOut = 0x0521,
};

struct WmfHeader {
    std::size_t recordsOffset = 0;
    bool placeable = false;
    QRectF bounds; // logical units
    int unitsPerInch = 0;
};

// The header, if the bytes start with one (placeable or not).
std::optional<WmfHeader> readWmfHeader(const QByteArray& bytes);
// Whether every record from offset on passes the checks.
bool wmfRecordsAreSound(const QByteArray& bytes, std::size_t offset);
// Where the window starts for a WMF without a placeable header: its first
// SETWINDOWORG and SETWINDOWEXT.
QRectF wmfWindow(const QByteArray& bytes, std::size_t offset);
// Plays the records with the window mapped onto dest.
void playWmf(const QByteArray& bytes, const WmfHeader& header, const QRectF& window,
             QPainter& painter, const QRectF& dest);

} // namespace metafile
