#pragma once
// A minimal DNG writer for tests and benchmarks, so camera RAW files are made at run
// time from any picture: the sensor data is an RGGB Bayer mosaic of the picture
// (16-bit, uncompressed, linear light) and the optional preview is the same picture as
// a JPEG, so the preview and a full decode show one scene.
//
// The layout is the usual one: IFD0 holds the preview (NewSubFileType 1) and the camera
// tags, and its SubIFDs entry points to the raw directory (NewSubFileType 0, CFA tags);
// without a preview IFD0 is the raw directory itself. Directories come first, then the
// preview, then the sensor data, as cameras and converters write them.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QSize>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

struct DngSpec {
    QImage picture;    // what the sensor saw, as it saw it (before the orientation)
    QSize rawSize;     // the mosaic's size; empty for the picture's own
    QSize previewSize; // the embedded JPEG preview's size; empty for none
    int previewQuality = 90;
    bool previewUncompressed = false; // 8-bit RGB samples instead of a JPEG
    int previewExifOrientation = 0;   // an EXIF orientation inside the preview JPEG; 0 for none
    int orientation = 1;              // the Orientation tag, 1..8
    QByteArray dateTimeOriginal;      // "YYYY:MM:DD HH:MM:SS" in the EXIF directory; empty for none
    QByteArray make = "Fenwa";
    QByteArray model = "Test Camera";
    // A size the raw directory claims instead of the real one (the data stays the real
    // size), as a damaged or hostile file would.
    QSize claimedRawSize;
};

namespace minidng {

enum : uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, SRational = 10 };

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    QByteArray data; // little-endian values
};

inline void put16(QByteArray& out, uint32_t v) {
    out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
inline void put32(QByteArray& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline Entry shorts(uint16_t tag, std::initializer_list<uint32_t> values) {
    Entry e{tag, Short, uint32_t(values.size()), {}};
    for (uint32_t v : values)
        put16(e.data, v);
    return e;
}
inline Entry longs(uint16_t tag, std::initializer_list<uint32_t> values) {
    Entry e{tag, Long, uint32_t(values.size()), {}};
    for (uint32_t v : values)
        put32(e.data, v);
    return e;
}
inline Entry bytes(uint16_t tag, std::initializer_list<uint8_t> values) {
    Entry e{tag, Byte, uint32_t(values.size()), {}};
    for (uint8_t v : values)
        e.data.append(char(v));
    return e;
}
inline Entry ascii(uint16_t tag, const QByteArray& text) {
    Entry e{tag, Ascii, uint32_t(text.size() + 1), text};
    e.data.append('\0');
    return e;
}
// Values as fractions over 10000.
inline Entry rationals(uint16_t tag, uint16_t type, std::initializer_list<double> values) {
    Entry e{tag, type, uint32_t(values.size()), {}};
    for (double v : values) {
        put32(e.data, uint32_t(int32_t(std::lround(v * 10000))));
        put32(e.data, 10000);
    }
    return e;
}

inline uint32_t ifdSize(const std::vector<Entry>& entries) {
    uint32_t size = 2 + 12 * uint32_t(entries.size()) + 4;
    for (const Entry& e : entries)
        if (e.data.size() > 4)
            size += uint32_t(e.data.size() + (e.data.size() & 1));
    return size;
}

// Appends the directory (sorted by tag, as readers expect) with its values after it.
inline void appendIfd(QByteArray& out, std::vector<Entry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    uint32_t extra = uint32_t(out.size()) + 2 + 12 * uint32_t(entries.size()) + 4;
    QByteArray values;
    put16(out, uint32_t(entries.size()));
    for (const Entry& e : entries) {
        put16(out, e.tag);
        put16(out, e.type);
        put32(out, e.count);
        if (e.data.size() <= 4) {
            out.append(e.data).append(4 - e.data.size(), '\0');
        } else {
            put32(out, extra + uint32_t(values.size()));
            values.append(e.data);
            if (values.size() & 1)
                values.append('\0');
        }
    }
    put32(out, 0);
    out.append(values);
}

// The preview as a baseline JPEG, with an EXIF block when one is asked for, or as
// plain samples.
inline QByteArray previewJpeg(const DngSpec& spec) {
    if (spec.previewUncompressed) {
        const QImage rgb =
            spec.picture.scaled(spec.previewSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_RGB888);
        QByteArray samples;
        for (int y = 0; y < rgb.height(); ++y)
            samples.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
        return samples;
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    spec.picture.scaled(spec.previewSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32)
        .save(&buffer, "JPG", spec.previewQuality);
    if (spec.previewExifOrientation > 0 && jpeg.startsWith("\xFF\xD8")) {
        QByteArray tiff("II*\0", 4);
        put32(tiff, 8);
        appendIfd(tiff, {shorts(0x0112, {uint32_t(spec.previewExifOrientation)})});
        QByteArray segment("\xFF\xE1", 2);
        const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
        segment.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xFF));
        jpeg.insert(2, segment + payload);
    }
    return jpeg;
}

// The mosaic in linear light between the black and white levels: red on even rows and
// columns, blue on odd ones, green between.
inline QByteArray bayerData(const QImage& picture, QSize size, int black, int white) {
    const QImage rgb = (picture.size() == size
                            ? picture
                            : picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))
                           .convertToFormat(QImage::Format_RGB32);
    uint16_t lut[256];
    for (int i = 0; i < 256; ++i) {
        const double c = i / 255.0;
        const double linear = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        lut[i] = uint16_t(black + std::lround(linear * (white - black)));
    }
    QByteArray data(qsizetype(size.width()) * size.height() * 2, Qt::Uninitialized);
    auto* out = reinterpret_cast<uint8_t*>(data.data());
    for (int y = 0; y < size.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < size.width(); ++x, out += 2) {
            const QRgb p = row[x];
            const int v = (y & 1) == 0 ? ((x & 1) == 0 ? lut[qRed(p)] : lut[qGreen(p)])
                                       : ((x & 1) == 0 ? lut[qGreen(p)] : lut[qBlue(p)]);
            out[0] = uint8_t(v & 0xFF);
            out[1] = uint8_t(v >> 8);
        }
    }
    return data;
}

} // namespace minidng

inline QByteArray MakeDng(const DngSpec& spec) {
    using namespace minidng;
    const QSize rawSize = spec.rawSize.isEmpty() ? spec.picture.size() : spec.rawSize;
    const QSize claimed = spec.claimedRawSize.isEmpty() ? rawSize : spec.claimedRawSize;
    constexpr int black = 256, white = 16383;
    const bool hasPreview = !spec.previewSize.isEmpty();
    const QByteArray preview = hasPreview ? previewJpeg(spec) : QByteArray();
    const QByteArray raw = bayerData(spec.picture, rawSize, black, white);

    // The camera's colours are linear sRGB: its matrix is sRGB's from XYZ (D65), and
    // neutral grey is equal in the three channels.
    std::vector<Entry> camera = {
        ascii(271, spec.make),
        ascii(272, spec.model),
        shorts(274, {uint32_t(spec.orientation)}),
        bytes(50706, {1, 4, 0, 0}),
        bytes(50707, {1, 1, 0, 0}),
        ascii(50708, spec.make + " " + spec.model),
        rationals(50721, SRational,
                  {3.2404542, -1.5371385, -0.4985314, -0.9692660, 1.8760108, 0.0415560, 0.0556434,
                   -0.2040259, 1.0572252}),
        rationals(50728, Rational, {1, 1, 1}),
        shorts(50778, {21}),
    };
    std::vector<Entry> rawIfd = {
        longs(254, {0}),
        longs(256, {uint32_t(claimed.width())}),
        longs(257, {uint32_t(claimed.height())}),
        shorts(258, {16}),
        shorts(259, {1}),
        shorts(262, {32803}),
        longs(273, {0}), // the data's offset, set below
        shorts(277, {1}),
        longs(278, {uint32_t(claimed.height())}),
        longs(279, {uint32_t(uint64_t(claimed.width()) * uint64_t(claimed.height()) * 2)}),
        shorts(284, {1}),
        shorts(33421, {2, 2}),
        bytes(33422, {0, 1, 1, 2}),
        bytes(50710, {0, 1, 2}),
        shorts(50711, {1}),
        longs(50714, {uint32_t(black)}),
        longs(50717, {uint32_t(white)}),
    };
    std::vector<Entry> exif;
    if (!spec.dateTimeOriginal.isEmpty())
        exif.push_back(ascii(36867, spec.dateTimeOriginal));
    std::vector<Entry> ifd0;
    if (hasPreview) {
        ifd0 = {
            longs(254, {1}),
            longs(256, {uint32_t(spec.previewSize.width())}),
            longs(257, {uint32_t(spec.previewSize.height())}),
            shorts(258, {8, 8, 8}),
            shorts(259, {spec.previewUncompressed ? 1u : 7u}),
            shorts(262, {spec.previewUncompressed ? 2u : 6u}),
            longs(273, {0}), // the preview's offset, set below
            shorts(277, {3}),
            longs(278, {uint32_t(spec.previewSize.height())}),
            longs(279, {uint32_t(preview.size())}),
            shorts(284, {1}),
            longs(330, {0}), // the raw directory's offset, set below
        };
        ifd0.insert(ifd0.end(), camera.begin(), camera.end());
    } else {
        ifd0 = rawIfd;
        ifd0.insert(ifd0.end(), camera.begin(), camera.end());
    }
    if (!exif.empty())
        ifd0.push_back(longs(34665, {0})); // the EXIF directory's offset, set below

    // Offsets follow from the directories' sizes, which do not depend on them.
    const uint32_t ifd0At = 8;
    const uint32_t rawIfdAt = ifd0At + ifdSize(ifd0);
    const uint32_t exifAt = rawIfdAt + (hasPreview ? ifdSize(rawIfd) : 0);
    const uint32_t previewAt = exifAt + (exif.empty() ? 0 : ifdSize(exif));
    const uint32_t rawAt = previewAt + uint32_t(preview.size() + (preview.size() & 1));
    const auto setLong = [](std::vector<Entry>& entries, uint16_t tag, uint32_t value) {
        for (Entry& e : entries)
            if (e.tag == tag)
                e = longs(tag, {value});
    };
    setLong(ifd0, 273, hasPreview ? previewAt : rawAt);
    setLong(ifd0, 330, rawIfdAt);
    setLong(ifd0, 34665, exifAt);
    setLong(rawIfd, 273, rawAt);

    QByteArray out("II*\0", 4);
    out.reserve(qsizetype(rawAt) + raw.size());
    put32(out, ifd0At);
    appendIfd(out, ifd0);
    if (hasPreview)
        appendIfd(out, rawIfd);
    if (!exif.empty())
        appendIfd(out, exif);
    out.append(preview);
    if (preview.size() & 1)
        out.append('\0');
    out.append(raw);
    return out;
}
