// PNG through libpng's simplified reader, WebP through libwebp and TIFF through libtiff.
// PNG is not read through QImageReader: its allocation limit is one value for the whole
// process, and raising it for large photos would raise it for every other reader too.

#include "PhotoFormat.h"

#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <QtEndian>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fenwa::imaging {

namespace {

// The whole bytes of a source that decodes from memory: its own when it has them,
// else read once, refused above what a decoder may hold.
struct WholeBytes {
    QByteArray read;
    const QByteArray* bytes = nullptr;
};

bool readWhole(PictureSource& source, WholeBytes& out) {
    if ((out.bytes = source.bytes()))
        return true;
    if (source.size() > MaxDecoderBytes)
        return false;
    std::optional<QByteArray> all = source.range(0, source.size());
    if (!all)
        return false;
    out.read = std::move(*all);
    out.bytes = &out.read;
    return true;
}

uint32_t bigEndian32(const QByteArray& bytes, qsizetype at) {
    return qFromBigEndian<uint32_t>(bytes.constData() + at);
}

// --- PNG ---

constexpr char PngSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
// An EXIF block larger than this is not a camera's and is passed over.
constexpr int64_t MaxExifBytes = int64_t(1) << 20;

bool sniffPng(const QByteArray& head) {
    return head.size() >= 8 && std::memcmp(head.constData(), PngSignature, 8) == 0;
}

// IHDR must come first; the chunks up to the first IDAT may hold an eXIf.
std::optional<PhotoHeader> readPngHeader(PictureSource& source) {
    const QByteArray head = source.head(8 + 8 + 13);
    if (head.size() < 29 || !sniffPng(head) || bigEndian32(head, 8) != 13 ||
        head.mid(12, 4) != "IHDR")
        return std::nullopt;
    PhotoHeader header;
    const uint32_t width = bigEndian32(head, 16), height = bigEndian32(head, 20);
    if (width == 0 || height == 0 || width > uint32_t(MaxPhotoSide) ||
        height > uint32_t(MaxPhotoSide))
        return std::nullopt;
    header.width = int(width);
    header.height = int(height);
    int64_t at = 8 + 12 + 13;
    for (int chunks = 0; chunks < 10000; ++chunks) {
        const std::optional<QByteArray> chunk = source.range(at, 8);
        if (!chunk)
            break;
        const int64_t length = bigEndian32(*chunk, 0);
        const QByteArray type = chunk->mid(4, 4);
        if (type == "IDAT" || type == "IEND")
            break;
        if (type == "eXIf" && length <= MaxExifBytes) {
            if (const std::optional<QByteArray> block = source.range(at + 8, length)) {
                const ExifFacts facts = ReadExifBlock(*block);
                header.orientation = facts.orientation;
                header.captureTime = facts.captureTime;
            }
            break;
        }
        at += 12 + length;
    }
    return header;
}

// libpng allocates an ancillary chunk at the length the file claims, up to 2 GiB, before
// it finds that the bytes are not there; a file whose chunks claim more than it holds
// is refused first. A cut in the last chunk's checksum or in IEND is let through.
bool pngChunksFit(const QByteArray& bytes) {
    qsizetype at = 8;
    while (at + 8 <= bytes.size()) {
        const int64_t length = bigEndian32(bytes, at);
        if (length > bytes.size() - at - 8)
            return false;
        if (std::memcmp(bytes.constData() + at + 4, "IEND", 4) == 0)
            break;
        at += 12 + qsizetype(length);
    }
    return true;
}

std::optional<PhotoImage> decodePng(PictureSource& source, const PhotoRequest&) {
    const std::optional<PhotoHeader> header = readPngHeader(source);
    WholeBytes whole;
    if (!header || !PhotoFitsBound(header->width, header->height) || !readWhole(source, whole) ||
        !pngChunksFit(*whole.bytes))
        return std::nullopt;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    std::unique_ptr<png_image, void (*)(png_imagep)> release(&png, png_image_free);
    if (!png_image_begin_read_from_memory(&png, whole.bytes->constData(),
                                          size_t(whole.bytes->size())) ||
        png.width != uint32_t(header->width) || png.height != uint32_t(header->height))
        return std::nullopt;
    // Grey stays grey (one byte a pixel) unless it has alpha; 32-bit pixels are laid
    // out as QImage's ARGB32 in native byte order.
    const bool alpha = png.format & PNG_FORMAT_FLAG_ALPHA;
    QImage image;
    if (!(png.format & PNG_FORMAT_FLAG_COLOR) && !alpha) {
        png.format = PNG_FORMAT_GRAY;
        image = QImage(header->width, header->height, QImage::Format_Grayscale8);
    } else if (alpha) {
        png.format = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
        image = QImage(header->width, header->height, QImage::Format_ARGB32);
    } else {
        png.format = PNG_FORMAT_RGB;
        image = QImage(header->width, header->height, QImage::Format_RGB888);
    }
    if (image.isNull() || !png_image_finish_read(&png, nullptr, image.bits(),
                                                 png_int_32(image.bytesPerLine()), nullptr))
        return std::nullopt;
    return PhotoImage{std::move(image), header->orientation, header->width, header->height};
}

// --- WebP ---

bool sniffWebp(const QByteArray& head) {
    return head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP";
}

// The EXIF chunk of an extended file, found by walking the chunk headers so that a
// file source is not read whole for it.
ExifFacts webpExif(PictureSource& source) {
    const int64_t end = std::min<int64_t>(source.size(), int64_t(8) + 0xffffffffu);
    int64_t at = 12;
    for (int chunks = 0; chunks < 10000; ++chunks) {
        uchar chunk[8];
        if (at + 8 > end || source.readAt(chunk, sizeof chunk, at) != int64_t(sizeof chunk))
            break;
        const int64_t length = qFromLittleEndian<uint32_t>(chunk + 4);
        if (std::memcmp(chunk, "EXIF", 4) == 0) {
            if (length <= MaxExifBytes)
                if (const std::optional<QByteArray> block = source.range(at + 8, length))
                    return ReadExifBlock(*block);
            break;
        }
        at += 8 + length + (length & 1); // chunks are padded to even lengths
    }
    return {};
}

std::optional<PhotoHeader> readWebpHeader(PictureSource& source) {
    const QByteArray head = source.head(4096);
    WebPBitstreamFeatures features;
    if (!sniffWebp(head) ||
        WebPGetFeatures(reinterpret_cast<const uint8_t*>(head.constData()), size_t(head.size()),
                        &features) != VP8_STATUS_OK ||
        features.width <= 0 || features.height <= 0)
        return std::nullopt;
    PhotoHeader header;
    header.width = features.width;
    header.height = features.height;
    // An extended file says in its VP8X flags whether it carries EXIF.
    if (head.size() >= 21 && head.mid(12, 4) == "VP8X" && (uint8_t(head[20]) & 0x08)) {
        const ExifFacts facts = webpExif(source);
        header.orientation = facts.orientation;
        header.captureTime = facts.captureTime;
    }
    return header;
}

// 32-bit pixels in the order of QImage's ARGB32 on this machine.
constexpr WEBP_CSP_MODE NativeArgb = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;

// The first frame of an animation as the animation shows it, on its canvas.
QImage firstWebpFrame(const WebPData& data) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return {};
    options.color_mode = NativeArgb;
    options.use_threads = 0;
    std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> decoder(
        WebPAnimDecoderNew(&data, &options), WebPAnimDecoderDelete);
    WebPAnimInfo info;
    uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info) ||
        !PhotoFitsBound(info.canvas_width, info.canvas_height) ||
        !WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp))
        return {};
    QImage frame(int(info.canvas_width), int(info.canvas_height), QImage::Format_ARGB32);
    if (frame.isNull())
        return {};
    for (int y = 0; y < frame.height(); ++y)
        std::memcpy(frame.scanLine(y), pixels + size_t(y) * info.canvas_width * 4,
                    size_t(info.canvas_width) * 4);
    return frame;
}

// The smallest size of the picture's shape whose shorter side is at least minShortSide.
QSize reducedSize(int width, int height, int minShortSide) {
    const int shortSide = std::min(width, height);
    if (minShortSide <= 0 || minShortSide >= shortSide)
        return {width, height};
    // The longer side to the nearest pixel, keeping the shape as well as can be.
    auto scale = [&](int side) {
        return int(std::min<int64_t>(side, (2 * int64_t(side) * minShortSide + shortSide) /
                                               (2 * int64_t(shortSide))));
    };
    return width <= height ? QSize(minShortSide, scale(height)) : QSize(scale(width), minShortSide);
}

std::optional<PhotoImage> decodeWebp(PictureSource& source, const PhotoRequest& request) {
    WholeBytes whole;
    if (!readWhole(source, whole))
        return std::nullopt;
    const WebPData data{reinterpret_cast<const uint8_t*>(whole.bytes->constData()),
                        size_t(whole.bytes->size())};
    std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demux(WebPDemux(&data), WebPDemuxDelete);
    if (!demux)
        return std::nullopt;
    PhotoImage out;
    out.fullWidth = int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
    out.fullHeight = int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
    if (!PhotoFitsBound(out.fullWidth, out.fullHeight))
        return std::nullopt;
    const uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    WebPChunkIterator exif;
    if ((flags & EXIF_FLAG) && WebPDemuxGetChunk(demux.get(), "EXIF", 1, &exif)) {
        out.orientation =
            ReadExifBlock(QByteArray::fromRawData(reinterpret_cast<const char*>(exif.chunk.bytes),
                                                  qsizetype(exif.chunk.size)))
                .orientation;
        WebPDemuxReleaseChunkIterator(&exif);
    }
    if (flags & ANIMATION_FLAG) {
        out.image = firstWebpFrame(data);
        if (out.image.isNull())
            return std::nullopt;
        return out;
    }

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) ||
        WebPGetFeatures(data.bytes, data.size, &config.input) != VP8_STATUS_OK ||
        config.input.width != out.fullWidth || config.input.height != out.fullHeight)
        return std::nullopt;
    // Scaled decoding is much faster than decoding whole and scaling down after.
    const QSize size = reducedSize(out.fullWidth, out.fullHeight, request.minShortSide);
    if (size != QSize(out.fullWidth, out.fullHeight)) {
        config.options.use_scaling = 1;
        config.options.scaled_width = size.width();
        config.options.scaled_height = size.height();
    }
    const bool alpha = config.input.has_alpha;
    out.image = QImage(size, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB888);
    if (out.image.isNull())
        return std::nullopt;
    config.output.colorspace = alpha ? NativeArgb : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out.image.bits();
    config.output.u.RGBA.stride = int(out.image.bytesPerLine());
    config.output.u.RGBA.size = size_t(out.image.sizeInBytes());
    const VP8StatusCode status = WebPDecode(data.bytes, data.size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        return std::nullopt;
    return out;
}

// --- TIFF ---

bool sniffTiff(const QByteArray& head) {
    // Classic TIFF and BigTIFF, in either byte order.
    return head.size() >= 4 &&
           ((head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) &&
             head[3] == 0) ||
            (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43)));
}

// libtiff reads through these at offsets in the source; nothing is mapped or copied.
struct TiffStream {
    PictureSource& source;
    int64_t position = 0;
};

tmsize_t tiffRead(thandle_t handle, void* buffer, tmsize_t count) {
    auto* stream = static_cast<TiffStream*>(handle);
    if (count < 0)
        return -1;
    const int64_t got = stream->source.readAt(buffer, size_t(count), stream->position);
    if (got > 0)
        stream->position += got;
    return tmsize_t(got);
}

tmsize_t tiffWrite(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence) {
    auto* stream = static_cast<TiffStream*>(handle);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = stream->position;
    else if (whence == SEEK_END)
        base = stream->source.size();
    else if (whence != SEEK_SET)
        return toff_t(-1);
    // Offsets come from the file: anything past 2^62 is refused before it can overflow.
    if (offset > (toff_t(1) << 62) || base + int64_t(offset) < 0)
        return toff_t(-1);
    stream->position = base + int64_t(offset);
    return toff_t(stream->position);
}

int tiffClose(thandle_t) {
    return 0;
}

toff_t tiffSize(thandle_t handle) {
    return toff_t(std::max<int64_t>(static_cast<TiffStream*>(handle)->source.size(), 0));
}

int tiffMap(thandle_t, void**, toff_t*) {
    return 0;
}

void tiffUnmap(thandle_t, void*, toff_t) {}

// The library's messages would go to its global handlers, which every thread shares;
// this handle's stay silent, and a failure shows as a failed call.
int tiffQuiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

using TiffHandle = std::unique_ptr<TIFF, void (*)(TIFF*)>;

TiffHandle openTiff(TiffStream& stream) {
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                         TIFFOpenOptionsFree);
    if (!options)
        return TiffHandle(nullptr, TIFFClose);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), tiffQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), tiffQuiet, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(MaxDecoderBytes));
    // "m": never mapped, every read goes through tiffRead.
    return TiffHandle(TIFFClientOpenExt("photo", "rm", &stream, tiffRead, tiffWrite, tiffSeek,
                                        tiffClose, tiffSize, tiffMap, tiffUnmap, options.get()),
                      TIFFClose);
}

QSize tiffSize(TIFF* tiff) {
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) || width > uint32_t(MaxPhotoSide) ||
        height > uint32_t(MaxPhotoSide))
        return {};
    return {int(width), int(height)};
}

int tiffOrientation(TIFF* tiff) {
    uint16_t orientation = 1;
    if (!TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation) || orientation < 1 ||
        orientation > 8)
        return 1;
    return orientation;
}

QString tiffDate(TIFF* tiff, uint32_t tag) {
    const char* text = nullptr;
    if (!TIFFGetField(tiff, tag, &text) || !text)
        return {};
    const QByteArray date = QByteArray(text, qsizetype(strnlen(text, 64))).trimmed();
    for (const char c : date)
        if (c < 0x20 || c > 0x7e)
            return {};
    // Cameras whose clock was never set write blanks or zeros.
    if (date.count('0') + date.count(':') + date.count(' ') == date.size())
        return {};
    return QString::fromLatin1(date);
}

std::optional<PhotoHeader> readTiffHeader(PictureSource& source) {
    if (!sniffTiff(source.head(4)))
        return std::nullopt;
    TiffStream stream{source};
    const TiffHandle tiff = openTiff(stream);
    if (!tiff)
        return std::nullopt;
    PhotoHeader header;
    const QSize size = tiffSize(tiff.get());
    if (size.isEmpty())
        return std::nullopt;
    header.width = size.width();
    header.height = size.height();
    header.orientation = tiffOrientation(tiff.get());
    const QString dateTime = tiffDate(tiff.get(), TIFFTAG_DATETIME);
    toff_t exif = 0;
    if (TIFFGetField(tiff.get(), TIFFTAG_EXIFIFD, &exif) && exif != 0 &&
        TIFFReadEXIFDirectory(tiff.get(), exif))
        header.captureTime = tiffDate(tiff.get(), EXIFTAG_DATETIMEORIGINAL);
    if (header.captureTime.isEmpty())
        header.captureTime = dateTime;
    return header;
}

// libtiff's oriented reading only flips: asked for top-left, it undoes 2, 3 and 4
// entirely, but of 5..8 only the flip, and the picture stays transposed. What is
// still to be applied to what it returns, by the file's orientation.
constexpr int TiffOrientationLeft[9] = {1, 1, 1, 1, 1, 5, 7, 5, 7};

// The directory to decode: the first page, or the smallest reduced-resolution subfile
// whose shorter side is still at least minShortSide.
int tiffDirectoryFor(TIFF* tiff, int minShortSide, QSize fullSize, int orientation) {
    if (minShortSide <= 0)
        return 0;
    int best = 0;
    QSize bestSize = fullSize;
    for (int index = 1; index < 64 && TIFFReadDirectory(tiff); ++index) {
        uint32_t subfile = 0;
        const QSize size = tiffSize(tiff);
        if (!TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfile) ||
            !(subfile & FILETYPE_REDUCEDIMAGE) || size.isEmpty() ||
            tiffOrientation(tiff) != orientation)
            continue;
        // A reduction of the same picture keeps its shape (within rounding).
        const int64_t cross =
            int64_t(size.width()) * fullSize.height() - int64_t(size.height()) * fullSize.width();
        if (std::abs(cross) > std::max(fullSize.width(), fullSize.height()))
            continue;
        if (std::min(size.width(), size.height()) >= minShortSide &&
            int64_t(size.width()) * size.height() < int64_t(bestSize.width()) * bestSize.height()) {
            best = index;
            bestSize = size;
        }
    }
    return best;
}

std::optional<PhotoImage> decodeTiff(PictureSource& source, const PhotoRequest& request) {
    if (!sniffTiff(source.head(4)))
        return std::nullopt;
    TiffStream stream{source};
    const TiffHandle tiff = openTiff(stream);
    if (!tiff)
        return std::nullopt;
    PhotoImage out;
    const QSize full = tiffSize(tiff.get());
    const int orientation = tiffOrientation(tiff.get());
    if (!PhotoFitsBound(full.width(), full.height()))
        return std::nullopt;
    out.fullWidth = full.width();
    out.fullHeight = full.height();
    const int directory = tiffDirectoryFor(tiff.get(), request.minShortSide, full, orientation);
    if (!TIFFSetDirectory(tiff.get(), tdir_t(directory)))
        return std::nullopt;
    const QSize size = tiffSize(tiff.get());
    char message[1024] = {};
    TIFFRGBAImage rgba;
    if (!PhotoFitsBound(size.width(), size.height()) || !TIFFRGBAImageOK(tiff.get(), message) ||
        !TIFFRGBAImageBegin(&rgba, tiff.get(), 1, message))
        return std::nullopt;
    std::unique_ptr<TIFFRGBAImage, void (*)(TIFFRGBAImage*)> end(&rgba, TIFFRGBAImageEnd);
    rgba.req_orientation = ORIENTATION_TOPLEFT;
    // libtiff fills the pixels as 0xAABBGGRR words, premultiplied when there is alpha.
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull() || !TIFFRGBAImageGet(&rgba, reinterpret_cast<uint32_t*>(image.bits()),
                                            uint32_t(size.width()), uint32_t(size.height())))
        return std::nullopt;
    const bool grey = rgba.alpha == 0 && (rgba.photometric == PHOTOMETRIC_MINISBLACK ||
                                          rgba.photometric == PHOTOMETRIC_MINISWHITE);
    if (grey) {
        out.image = QImage(size, QImage::Format_Grayscale8);
        if (out.image.isNull())
            return std::nullopt;
        for (int y = 0; y < size.height(); ++y) {
            const auto* in = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
            uchar* line = out.image.scanLine(y);
            for (int x = 0; x < size.width(); ++x)
                line[x] = uchar(TIFFGetR(in[x]));
        }
    } else {
        for (int y = 0; y < size.height(); ++y) {
            auto* line = reinterpret_cast<uint32_t*>(image.scanLine(y));
            for (int x = 0; x < size.width(); ++x) {
                const uint32_t p = line[x];
                line[x] = qRgba(int(TIFFGetR(p)), int(TIFFGetG(p)), int(TIFFGetB(p)),
                                rgba.alpha ? int(TIFFGetA(p)) : 255);
            }
        }
        out.image = rgba.alpha ? std::move(image).convertToFormat(QImage::Format_ARGB32)
                               : std::move(image).convertToFormat(QImage::Format_RGB32);
    }
    out.orientation = TiffOrientationLeft[orientation];
    return out;
}

} // namespace

const PhotoFormat& PngFormat() {
    static const PhotoFormat format{"PNG",    "PNG Image",   {"png"},
                                    sniffPng, readPngHeader, decodePng};
    return format;
}

const PhotoFormat& WebpFormat() {
    static const PhotoFormat format{"WebP",    "WebP Image",   {"webp"},
                                    sniffWebp, readWebpHeader, decodeWebp};
    return format;
}

const PhotoFormat& TiffFormat() {
    static const PhotoFormat format{"TIFF",    "TIFF Image",   {"tif", "tiff"},
                                    sniffTiff, readTiffHeader, decodeTiff};
    return format;
}

} // namespace fenwa::imaging
