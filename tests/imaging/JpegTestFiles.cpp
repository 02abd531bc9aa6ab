#include "JpegTestFiles.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

QByteArray EncodeTestJpeg(const JpegEncodeOptions& o) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(o.width);
    cinfo.image_height = JDIMENSION(o.height);
    const int components = o.grayscale ? 1 : o.cmyk ? 4 : 3;
    cinfo.input_components = components;
    cinfo.in_color_space = o.grayscale ? JCS_GRAYSCALE : o.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (o.cmyk)
        jpeg_set_colorspace(&cinfo, JCS_YCCK);
    jpeg_set_quality(&cinfo, o.quality, TRUE);
    if (o.progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = o.restartInterval;
    if (o.cmyk)
        cinfo.write_Adobe_marker = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(std::size_t(o.width) * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < o.width; ++x) {
            const int r = (x * 255) / std::max(1, o.width - 1);
            const int g = (y * 255) / std::max(1, o.height - 1);
            const int b = ((x / 8 + y / 8) % 2) ? 220 : 30; // a checkerboard for edges
            unsigned char* px = row.data() + std::size_t(x) * components;
            if (o.grayscale) {
                px[0] = static_cast<unsigned char>((r + g + b) / 3);
            } else if (o.cmyk) {
                // Inverted CMYK as Adobe writes it: 255 means no ink.
                px[0] = static_cast<unsigned char>(r);
                px[1] = static_cast<unsigned char>(g);
                px[2] = static_cast<unsigned char>(b);
                px[3] = 255;
            } else {
                px[0] = static_cast<unsigned char>(r);
                px[1] = static_cast<unsigned char>(g);
                px[2] = static_cast<unsigned char>(b);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return out;
}

QByteArray PatchJpegSize(QByteArray jpeg, int width, int height) {
    for (qsizetype i = 2; i + 9 < jpeg.size(); ++i) {
        const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && marker >= 0xC0 && marker <= 0xC2) {
            jpeg[i + 5] = char(height >> 8);
            jpeg[i + 6] = char(height & 0xFF);
            jpeg[i + 7] = char(width >> 8);
            jpeg[i + 8] = char(width & 0xFF);
            return jpeg;
        }
    }
    return jpeg;
}

namespace {

// Reads a binary PPM (P6) or PGM (P5) with maxval 255.
QImage parsePnm(const QByteArray& data) {
    qsizetype pos = 0;
    auto token = [&]() -> QByteArray {
        while (pos < data.size()) {
            if (data[pos] == '#') {
                while (pos < data.size() && data[pos] != '\n')
                    ++pos;
            } else if (std::isspace(static_cast<unsigned char>(data[pos]))) {
                ++pos;
            } else {
                break;
            }
        }
        const qsizetype start = pos;
        while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos])))
            ++pos;
        return data.mid(start, pos - start);
    };
    const QByteArray magic = token();
    const int width = token().toInt();
    const int height = token().toInt();
    const int maxval = token().toInt();
    ++pos; // the single whitespace before the samples
    if (maxval != 255 || width <= 0 || height <= 0)
        return {};
    const bool grey = magic == "P5";
    if (!grey && magic != "P6")
        return {};
    const int channels = grey ? 1 : 3;
    if (data.size() - pos < qsizetype(width) * height * channels)
        return {};
    QImage image(width, height, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), data.constData() + pos + qsizetype(y) * width * channels,
                    std::size_t(width) * channels);
    return image;
}

} // namespace

QImage DecodeWithDjpeg(const QByteArray& jpeg, const QStringList& arguments) {
    QProcess djpeg;
    djpeg.start("djpeg", QStringList(arguments) << "-pnm");
    if (!djpeg.waitForStarted())
        return {};
    djpeg.write(jpeg);
    djpeg.closeWriteChannel();
    if (!djpeg.waitForFinished(120000) || djpeg.exitCode() != 0)
        return {};
    return parsePnm(djpeg.readAllStandardOutput());
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

namespace {

void put16(QByteArray& out, int value, bool bigEndian) {
    const char hi = char((value >> 8) & 0xFF), lo = char(value & 0xFF);
    out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
}

void put32(QByteArray& out, quint32 value, bool bigEndian) {
    put16(out, int(bigEndian ? value >> 16 : value & 0xFFFF), bigEndian);
    put16(out, int(bigEndian ? value & 0xFFFF : value >> 16), bigEndian);
}

} // namespace

QByteArray ExifTiffBlock(int orientation, bool bigEndian, int type) {
    QByteArray tiff(bigEndian ? "MM" : "II");
    put16(tiff, 42, bigEndian);
    put32(tiff, 8, bigEndian); // the directory follows the header
    put16(tiff, 2, bigEndian);
    // Make, ASCII, 4 bytes held in the entry itself.
    put16(tiff, 0x010F, bigEndian);
    put16(tiff, 2, bigEndian);
    put32(tiff, 4, bigEndian);
    tiff.append("abc", 4);
    // Orientation: one value in the first two bytes of the value field.
    put16(tiff, 0x0112, bigEndian);
    put16(tiff, type, bigEndian);
    put32(tiff, 1, bigEndian);
    put16(tiff, orientation, bigEndian);
    put16(tiff, 0, bigEndian);
    put32(tiff, 0, bigEndian); // no further directory
    return tiff;
}

QByteArray ExifSegment(const QByteArray& tiff) {
    QByteArray segment("\xFF\xE1", 2);
    put16(segment, int(2 + 6 + tiff.size()), true);
    segment.append("Exif\0\0", 6).append(tiff);
    return segment;
}

QByteArray InsertJpegSegment(const QByteArray& jpeg, const QByteArray& segment) {
    qsizetype at = 2;
    if (jpeg.size() > 6 && uchar(jpeg[2]) == 0xFF && uchar(jpeg[3]) == 0xE0)
        at = 4 + (qsizetype(uchar(jpeg[4])) << 8 | uchar(jpeg[5]));
    QByteArray out = jpeg;
    out.insert(at, segment);
    return out;
}

QByteArray WithExifOrientation(const QByteArray& jpeg, int orientation, bool bigEndian) {
    return InsertJpegSegment(jpeg, ExifSegment(ExifTiffBlock(orientation, bigEndian)));
}

QByteArray WithStrayStartMarker(const QByteArray& jpeg, int scan, double fraction) {
    const auto at = [&](qsizetype i) { return uchar(jpeg[i]); };
    // Marker segments up to the scan's start-of-scan marker, each skipped by its length.
    qsizetype pos = 2;
    int seen = -1;
    while (pos + 4 <= jpeg.size() && at(pos) == 0xFF) {
        const qsizetype length = qsizetype(at(pos + 2)) << 8 | at(pos + 3);
        const bool sos = at(pos + 1) == 0xDA;
        pos += 2 + length;
        if (sos) {
            if (++seen == scan)
                break;
            // Entropy data runs to the next marker that is neither stuffing nor a restart.
            while (pos + 1 < jpeg.size() &&
                   !(at(pos) == 0xFF && at(pos + 1) != 0 && (at(pos + 1) & 0xF8) != 0xD0))
                ++pos;
        }
    }
    if (seen != scan)
        return {};
    qsizetype end = pos;
    while (end + 1 < jpeg.size() &&
           !(at(end) == 0xFF && at(end + 1) != 0 && (at(end + 1) & 0xF8) != 0xD0))
        ++end;
    qsizetype cut = pos + qsizetype(double(end - pos) * fraction);
    if (cut > pos && cut < end && at(cut - 1) == 0xFF)
        ++cut; // not between a 0xFF and its stuffing byte
    QByteArray out = jpeg;
    out.insert(cut, "\xFF\xD8", 2);
    return out;
}
