#include "picturefingerprint.h"

#include <QImage>
#include <QPainter>
#include <csetjmp>
#include <cstring>

#include "DibBitmap.h"
#include "GifRegistration.h"
#include "Graphic.h"
#include "JpegErrors.h"
#include "PictureHolder.h"
#include "PictureLoader.h"
#include "fingerprint.h"
#include "formats/PhotoFormat.h"
#include "likeness.h"
#include "readfile.h"

namespace fenwa::similar {

namespace {

// A file of thousands of scans costs time at every scale; real ones have a dozen.
constexpr int MaxScans = 1000;
// Corrupt data produces warnings; past this many the file is given up.
constexpr long MaxWarnings = 10000;
constexpr long MaxDecoderMemory = 256L << 20;

struct ScanGuard {
    jpeg_progress_mgr pub;
};

void checkProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > MaxScans || cinfo->err->num_warnings > MaxWarnings)
        cinfo->err->error_exit(cinfo);
}

// A decoded picture, rows top-down without padding, 1 sample a pixel (grey) or 3 (RGB).
struct Pixels {
    int width = 0;
    int height = 0;
    int channels = 1;
    bool ycc = false; // 3 channels: Y, Cb, Cr rather than R, G, B
    std::vector<uint8_t> samples;
};

// Everything that could be skipped by the longjmp lives in the caller. With `colour`, a
// colour JPEG comes out in colour: at the reduced scales the chroma costs little more,
// as the entropy decoding of every component is needed for grey too.
bool decodeInner(jpeg_decompress_struct& cinfo, JpegErrorManager& errors, const QByteArray& bytes,
                 bool colour, Pixels& out) {
    if (setjmp(errors.jump))
        return false;
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    const unsigned shortSide = std::min(cinfo.image_width, cinfo.image_height);
    unsigned denom = 8;
    while (denom > 1 && (shortSide + denom - 1) / denom < unsigned(MinShortSide))
        denom /= 2;
    cinfo.scale_num = 1;
    cinfo.scale_denom = denom;
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK)
        return false; // libjpeg cannot make grey from four components; rare in photos
    // YCbCr as stored: no conversion, and Y is the grey.
    out.ycc = colour && cinfo.jpeg_color_space == JCS_YCbCr;
    out.channels = out.ycc || (colour && cinfo.jpeg_color_space == JCS_RGB) ? 3 : 1;
    cinfo.out_color_space = out.channels == 1 ? JCS_GRAYSCALE : out.ycc ? JCS_YCbCr : JCS_RGB;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.do_block_smoothing = FALSE;
    jpeg_calc_output_dimensions(&cinfo);
    if (!TDibBitmap::fitsBound(int(cinfo.output_width), int(cinfo.output_height), 8) ||
        cinfo.output_width > 65535 || cinfo.output_height > 65535)
        return false;
    jpeg_start_decompress(&cinfo);
    out.width = int(cinfo.output_width);
    out.height = int(cinfo.output_height);
    const size_t line = size_t(out.width) * size_t(out.channels);
    out.samples.resize(line * size_t(out.height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.samples.data() + size_t(cinfo.output_scanline) * line;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
            return false;
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

// RGB of a 24-bit blue-green-red or 8-bit paletted bitmap.
Pixels rgbOf(const TDibBitmap& bitmap) {
    Pixels rgb;
    if (bitmap.empty())
        return rgb;
    rgb.width = bitmap.width();
    rgb.height = bitmap.height();
    rgb.channels = 3;
    rgb.samples.resize(size_t(rgb.width) * size_t(rgb.height) * 3);
    const TPalette& palette = bitmap.palette();
    for (int y = 0; y < rgb.height; ++y) {
        const uint8_t* in = bitmap.scanLine(y);
        uint8_t* out = rgb.samples.data() + size_t(y) * size_t(rgb.width) * 3;
        for (int x = 0; x < rgb.width; ++x) {
            int r, g, b;
            if (bitmap.bitsPerPixel() == 8) {
                const TPaletteEntry e = in[x] < palette.size() ? palette[in[x]] : TPaletteEntry{};
                r = e.red, g = e.green, b = e.blue;
            } else {
                b = in[3 * x], g = in[3 * x + 1], r = in[3 * x + 2];
            }
            out[3 * x] = uint8_t(r), out[3 * x + 1] = uint8_t(g), out[3 * x + 2] = uint8_t(b);
        }
    }
    return rgb;
}

// Metafiles are played small: the fingerprint reads 32 x 32.
constexpr int MetafileSide = 256;

// Loads a picture of another kind through its registered loader and reduces it to grey.
template <class Load> std::optional<Pixels> loadOther(const QByteArray& nativeName, Load&& load) {
    try {
        const std::optional<TPictureFormats::Entry> entry =
            TPictureFormats::Find(PictureExtension(nativeName));
        if (!entry)
            return std::nullopt;
        std::unique_ptr<TGraphic> graphic = entry->factory();
        load(*graphic);
        if (graphic->empty())
            return std::nullopt;
        if (auto* raster = dynamic_cast<TBitmapGraphic*>(graphic.get()))
            return rgbOf(DibFromImage(raster->image()));
        const int w = graphic->width(), h = graphic->height();
        if (w <= 0 || h <= 0)
            return std::nullopt;
        const double scale = std::min(1.0, double(MetafileSide) / std::max(w, h));
        QImage canvas(std::max(1, int(w * scale)), std::max(1, int(h * scale)),
                      QImage::Format_RGB32);
        canvas.fill(Qt::white);
        {
            QPainter painter(&canvas);
            graphic->draw(painter, canvas.rect());
        }
        return rgbOf(DibFromImage(canvas));
    } catch (...) {
        return std::nullopt;
    }
}

bool decodeJpeg(const QByteArray& bytes, bool colour, Pixels& out) {
    jpeg_decompress_struct cinfo{};
    JpegErrorManager errors{};
    ScanGuard guard{};
    cinfo.err = JpegQuietErrors(errors);
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = MaxDecoderMemory;
    guard.pub.progress_monitor = checkProgress;
    cinfo.progress = &guard.pub;
    const bool ok = !bytes.isEmpty() && decodeInner(cinfo, errors, bytes, colour, out);
    jpeg_destroy_decompress(&cinfo);
    if (!ok)
        out = Pixels{};
    return ok;
}

// The picture reduced by a whole factor to a shorter side of 128 to 255 pixels (as a JPEG
// is by its DCT scales), each output sample the mean of its block, grey staying grey and
// transparency seen on white as the picture is shown. Each source pixel is read once: the
// kinds that cannot decode reduced hand over whole photos of 12 to 24 megapixels.
void reducePhoto(const QImage& source, Pixels& out) {
    QImage converted;
    const QImage* image = &source;
    const QImage::Format format = source.format();
    if (format != QImage::Format_Grayscale8 && format != QImage::Format_RGB888 &&
        format != QImage::Format_RGB32 && format != QImage::Format_ARGB32) {
        converted = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                    : QImage::Format_RGB32);
        image = &converted;
    }
    const QImage::Format kind = image->format();
    const int w = image->width(), h = image->height();
    const int factor = std::max(1, std::min(w, h) / MinShortSide);
    out.width = (w + factor - 1) / factor;
    out.height = (h + factor - 1) / factor;
    out.channels = kind == QImage::Format_Grayscale8 ? 1 : 3;
    out.ycc = false;
    const int ch = out.channels;
    out.samples.resize(size_t(out.width) * size_t(out.height) * size_t(ch));
    std::vector<uint32_t> sums(size_t(out.width) * size_t(ch));
    for (int oy = 0; oy < out.height; ++oy) {
        std::fill(sums.begin(), sums.end(), 0u);
        const int y0 = oy * factor, y1 = std::min(h, y0 + factor);
        for (int y = y0; y < y1; ++y) {
            const uchar* line = image->constScanLine(y);
            uint32_t* sum = sums.data();
            for (int x0 = 0; x0 < w; x0 += factor, sum += ch) {
                const int x1 = std::min(w, x0 + factor);
                if (kind == QImage::Format_Grayscale8) {
                    for (int x = x0; x < x1; ++x)
                        sum[0] += line[x];
                } else if (kind == QImage::Format_RGB888) {
                    for (int x = x0; x < x1; ++x)
                        sum[0] += line[3 * x], sum[1] += line[3 * x + 1], sum[2] += line[3 * x + 2];
                } else {
                    const auto* px = reinterpret_cast<const QRgb*>(line);
                    const bool alpha = kind == QImage::Format_ARGB32;
                    for (int x = x0; x < x1; ++x) {
                        const QRgb p = px[x];
                        if (alpha && qAlpha(p) != 255) {
                            const int a = qAlpha(p), white = 255 * (255 - a);
                            sum[0] += uint32_t((qRed(p) * a + white + 127) / 255);
                            sum[1] += uint32_t((qGreen(p) * a + white + 127) / 255);
                            sum[2] += uint32_t((qBlue(p) * a + white + 127) / 255);
                        } else {
                            sum[0] += uint32_t(qRed(p)), sum[1] += uint32_t(qGreen(p));
                            sum[2] += uint32_t(qBlue(p));
                        }
                    }
                }
            }
        }
        uint8_t* row = out.samples.data() + size_t(oy) * size_t(out.width) * size_t(ch);
        for (int ox = 0; ox < out.width; ++ox) {
            const uint32_t count =
                uint32_t(y1 - y0) * uint32_t(std::min(w, (ox + 1) * factor) - ox * factor);
            for (int c = 0; c < ch; ++c)
                row[ox * ch + c] = uint8_t((sums[size_t(ox * ch + c)] + count / 2) / count);
        }
    }
}

// A photo kind decoded by its own library, as small as the fingerprint allows (a RAW
// file's preview, a HEIF thumbnail, WebP scaled while decoding). The orientation is left
// as stored, as for JPEG: the fingerprint compares every turn.
bool decodePhoto(const imaging::PhotoFormat& format, imaging::PictureSource& source, Pixels& out) {
    std::optional<imaging::PhotoImage> photo =
        format.decode(source, {.minShortSide = MinShortSide, .ownThreads = false});
    if (!photo || photo->image.isNull())
        return false;
    reducePhoto(photo->image, out);
    return true;
}

template <class Load>
PictureReading readPicture(const QByteArray& bytes, const QByteArray& nativeName, bool withPrint,
                           Load&& load, imaging::PictureSource* photoSource = nullptr,
                           const imaging::PhotoFormat* photo = nullptr) {
    PictureReading reading;
    Pixels pixels;
    if (photo && photoSource) {
        if (!decodePhoto(*photo, *photoSource, pixels))
            return reading;
    } else if (bytes.startsWith("\xFF\xD8")) {
        if (!decodeJpeg(bytes, true, pixels))
            return reading;
    } else if (const imaging::PhotoFormat* format = imaging::PhotoFormatFor(
                   nativeName.toStdString(), bytes.left(imaging::PhotoSniffBytes))) {
        imaging::BytesSource source(bytes);
        if (!decodePhoto(*format, source, pixels))
            return reading;
    } else {
        std::optional<Pixels> other = loadOther(nativeName, load);
        if (!other || other->width <= 0 || other->height <= 0)
            return reading;
        pixels = std::move(*other);
    }
    const ColourSpace space = pixels.ycc ? ColourSpace::YCbCr : ColourSpace::Rgb;
    std::vector<uint8_t> converted;
    const uint8_t* grey = pixels.samples.data();
    if (pixels.channels == 3) {
        converted.resize(size_t(pixels.width) * size_t(pixels.height));
        for (size_t i = 0; i < converted.size(); ++i) {
            const uint8_t* p = pixels.samples.data() + 3 * i;
            converted[i] =
                pixels.ycc ? p[0] : uint8_t((p[0] * 77 + p[1] * 150 + p[2] * 29 + 128) >> 8);
        }
        grey = converted.data();
    }
    const GreyFingerprint hash =
        FingerprintGreyOutcome(grey, pixels.width, pixels.height, pixels.width);
    if (hash.outcome != GreyOutcome::Hashed) {
        if (hash.outcome == GreyOutcome::NearlyBlank)
            reading.outcome = PictureOutcome::NearlyBlank;
        return reading;
    }
    reading.outcome = PictureOutcome::Fingerprinted;
    reading.fingerprint.hash = hash.hash;
    reading.fingerprint.centre =
        CentreFingerprints(grey, pixels.width, pixels.height, pixels.width);
    if (pixels.channels == 3)
        reading.fingerprint.colour = ColourLayout(pixels.samples.data(), pixels.width,
                                                  pixels.height, pixels.width * 3, space);
    if (withPrint)
        reading.print = MakeLikenessPrint(pixels.samples.data(), pixels.width, pixels.height,
                                          pixels.width * pixels.channels, pixels.channels, space);
    return reading;
}

std::optional<PictureFingerprint> fingerprintOnly(const PictureReading& reading) {
    return reading.fingerprinted() ? std::optional(reading.fingerprint) : std::nullopt;
}

} // namespace

void PrepareFingerprinting() {
    EnsureJpeExtension();
    RegisterGifPictureKind();
}

PictureReading ReadPictureBytes(const QByteArray& bytes, const std::string& name, bool withPrint) {
    return readPicture(bytes, QByteArray::fromStdString(name), withPrint,
                       [&](TGraphic& graphic) { graphic.loadFromBytes(bytes); });
}

PictureReading ReadPictureFile(const std::string& path, bool withPrint) {
    // Opened once without blocking: a FIFO or device swapped in for the picture is
    // refused at once, not waited on by a reader. The photo kinds read the open file at
    // the offsets their library asks for (a RAW file's preview without its sensor data);
    // every other kind decodes the whole file's bytes.
    platform::RegularFile file;
    if (file.open(path) != platform::ReadFileError::None || file.size() > MaxPictureFileBytes)
        return {};
    QByteArray bytes;
    if (file.readSome(bytes, imaging::PhotoSniffBytes) != platform::ReadFileError::None)
        return {};
    if (!bytes.startsWith("\xFF\xD8"))
        if (const imaging::PhotoFormat* photo = imaging::PhotoFormatFor(path, bytes)) {
            imaging::FileSource source(file);
            return readPicture(
                bytes, QByteArray::fromStdString(path), withPrint, [](TGraphic&) {}, &source,
                photo);
        }
    if (file.readRest(bytes, MaxPictureFileBytes) != platform::ReadFileError::None)
        return {};
    return ReadPictureBytes(bytes, path, withPrint);
}

std::optional<PictureFingerprint> FingerprintBytes(const QByteArray& bytes,
                                                   const std::string& name) {
    return fingerprintOnly(ReadPictureBytes(bytes, name, false));
}

std::optional<PictureFingerprint> FingerprintFile(const std::string& path) {
    return fingerprintOnly(ReadPictureFile(path, false));
}

} // namespace fenwa::similar
