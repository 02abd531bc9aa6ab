// The photo kinds, measured: how long the similar-pictures search takes to read a photo
// (open, read, decode, fingerprint) against the fastest way the kind's own library gives
// a picture of the size the fingerprint needs, in one process, on real files.
//
//   fenwa-bench-photo --make DIR [PICTURE...]
//       the corpus: the wallpapers under /usr/share/backgrounds (or the pictures given),
//       some up-scaled to camera sizes (12 and 24 megapixels), written by Debian's
//       encoders into DIR/<kind>/ (convert, cwebp, heif-enc with thumbnails as a phone
//       writes them and with -A for AVIF, avifenc, cjxl) and as DNGs with an embedded
//       JPEG preview of full or reduced size
//   fenwa-bench-photo [--rounds N] DIR
//       per kind: the search's step (similar::ReadPictureFile), the kind's decode alone
//       (PhotoFormat::decode asked for the fingerprint's short side) and the library's
//       fastest way; then the preview of a 24-megapixel HEIC (LoadPictureFile at 1x)
//       against libheif's full decode. Rounds interleave the three; medians of the
//       processor time (the machine is shared: wall times move with the other work).
//
// The library's fastest way, per kind: libheif decoding the smallest thumbnail whose
// shorter side is at least the fingerprint's, else the primary picture; libwebp with
// use_scaling to that short side; LibRaw reading the embedded preview and libjpeg-turbo
// decoding it at the smallest DCT scale that keeps the short side; libjxl's full decode;
// libpng's full decode; libtiff's TIFFReadRGBAImage. Each reads the whole file into memory
// first, except LibRaw and libtiff, which read what they need themselves. libjxl runs on
// this thread alone: the processor time is the measure, and threads only add to it.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jxl/decode.h>
#include <libheif/heif.h>
#include <libraw/libraw.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>

#include "PictureHolder.h"
#include "PictureLoader.h"
#include "benchsupport.h"
#include "formats/PhotoFormat.h"
#include "picturefingerprint.h"
#include "readfile.h"

#if __has_include("minidng.h")
#include "minidng.h"
#define FENWA_BENCH_HAS_DNG 1
#endif

using namespace fenwa;

namespace {

constexpr int NeededShortSide = similar::MinShortSide;

// ---- The corpus ----

QImage flattened(const QImage& in) {
    if (!in.hasAlphaChannel())
        return in.convertToFormat(QImage::Format_RGB32);
    // Transparent wallpapers are seen on white, as the viewer shows them.
    QImage flat(in.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, in);
    return flat;
}

QImage toMegapixels(const QImage& in, double megapixels) {
    const double f = std::sqrt(megapixels * 1e6 / (double(in.width()) * double(in.height())));
    return in.scaled(int(std::lround(in.width() * f)), int(std::lround(in.height() * f)),
                     Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAll().constData());
        return false;
    }
    return true;
}

struct Encoding {
    const char* dir; // also the kind's name in the tables
    const char* suffix;
    const char* program;
    std::function<QStringList(const QString& in, const QString& out)> arguments;
};

const std::vector<Encoding>& encodings() {
    static const std::vector<Encoding> list = {
        {"png", "png", "convert",
         [](auto& in, auto& out) {
             return QStringList{in, out};
         }},
        {"tiff", "tiff", "convert",
         [](auto& in, auto& out) {
             return QStringList{in, "-compress", "lzw", out};
         }},
        {"webp", "webp", "cwebp",
         [](auto& in, auto& out) { return QStringList{"-quiet", "-q", "90", in, "-o", out}; }},
        // A phone's HEIC carries a small thumbnail beside the picture.
        {"heic", "heic", "heif-enc",
         [](auto& in, auto& out) { return QStringList{"-q", "85", "-t", "320", in, "-o", out}; }},
        {"avif-heif-enc", "avif", "heif-enc",
         [](auto& in, auto& out) { return QStringList{"-A", "-q", "85", in, "-o", out}; }},
        {"avif-avifenc", "avif", "avifenc",
         [](auto& in, auto& out) {
             return QStringList{"-s", "8", in, out};
         }},
        {"jxl", "jxl", "cjxl",
         [](auto& in, auto& out) {
             return QStringList{"-q", "90", in, out};
         }},
    };
    return list;
}

#ifdef FENWA_BENCH_HAS_DNG
// A camera's DNG: the picture as sensor data with a JPEG preview embedded, either of the
// full size or a reduced one as many cameras write.
bool writeDng(const QImage& picture, const QString& path, bool fullPreview) {
    DngSpec spec;
    spec.picture = picture;
    spec.previewSize =
        fullPreview ? picture.size() : picture.size().scaled(1024, 1024, Qt::KeepAspectRatio);
    const QByteArray bytes = MakeDng(spec);
    QFile file(path);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
#endif

int makeCorpus(const QString& dir, QStringList pictures) {
    if (pictures.isEmpty()) {
        for (const QFileInfo& f : QDir("/usr/share/backgrounds")
                                      .entryInfoList({"*.jpg", "*.png"}, QDir::Files, QDir::Name))
            pictures << f.filePath();
        // A large camera-shaped one beside the 16:10 wallpapers.
        const QString elephants = "/usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg";
        if (QFileInfo::exists(elephants))
            pictures << elephants;
    }
    QTemporaryDir work;
    for (const Encoding& e : encodings())
        QDir(dir).mkpath(e.dir);
#ifdef FENWA_BENCH_HAS_DNG
    QDir(dir).mkpath("dng-full-preview");
    QDir(dir).mkpath("dng-reduced-preview");
#endif
    int index = 0;
    for (const QString& path : pictures) {
        QImage image(path);
        if (image.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            continue;
        }
        image = flattened(image);
        // Four at 12 megapixels and two at 24, as cameras and phones take them.
        if (index < 4)
            image = toMegapixels(image, 12);
        else if (index < 6)
            image = toMegapixels(image, 24);
        const QString stem =
            QString("%1-%2").arg(index, 2, 10, QChar('0')).arg(QFileInfo(path).completeBaseName());
        const QString source = work.filePath(stem + ".png");
        if (!image.save(source, "PNG", 10))
            return 1;
        std::fprintf(stderr, "%s %dx%d\n", qPrintable(stem), image.width(), image.height());
        for (const Encoding& e : encodings()) {
            const QString out = QDir(dir).filePath(QString("%1/%2.%3").arg(e.dir, stem, e.suffix));
            if (!QFileInfo::exists(out) && !run(e.program, e.arguments(source, out)))
                return 1;
        }
#ifdef FENWA_BENCH_HAS_DNG
        for (bool full : {true, false}) {
            const QString out = QDir(dir).filePath(
                QString("%1/%2.dng").arg(full ? "dng-full-preview" : "dng-reduced-preview", stem));
            if (!QFileInfo::exists(out) && !writeDng(image, out, full))
                return 1;
        }
#endif
        QFile::remove(source);
        ++index;
    }
    return 0;
}

// ---- The libraries' fastest ways ----

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Decoded pixels, for the checks that every way gave a picture of the needed size.
struct Decoded {
    int width = 0;
    int height = 0;
    bool ok() const { return std::min(width, height) >= NeededShortSide; }
};

Decoded heifDecode(const QString& path, bool smallest) {
    const QByteArray bytes = fileBytes(path);
    Decoded out;
    heif_context* context = heif_context_alloc();
    heif_image_handle* primary = nullptr;
    if (heif_context_read_from_memory_without_copy(context, bytes.constData(), size_t(bytes.size()),
                                                   nullptr)
                .code == heif_error_Ok &&
        heif_context_get_primary_image_handle(context, &primary).code == heif_error_Ok) {
        heif_image_handle* chosen = primary;
        heif_image_handle* thumbnail = nullptr;
        if (smallest) {
            const int count = heif_image_handle_get_number_of_thumbnails(primary);
            std::vector<heif_item_id> ids(size_t(std::max(count, 0)));
            heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
            for (heif_item_id id : ids) {
                heif_image_handle* t = nullptr;
                if (heif_image_handle_get_thumbnail(primary, id, &t).code != heif_error_Ok)
                    continue;
                const int side =
                    std::min(heif_image_handle_get_width(t), heif_image_handle_get_height(t));
                if (side >= NeededShortSide &&
                    (!thumbnail ||
                     heif_image_handle_get_width(t) < heif_image_handle_get_width(thumbnail))) {
                    if (thumbnail)
                        heif_image_handle_release(thumbnail);
                    thumbnail = t;
                } else {
                    heif_image_handle_release(t);
                }
            }
            if (thumbnail)
                chosen = thumbnail;
        }
        heif_image* image = nullptr;
        if (heif_decode_image(chosen, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                              nullptr)
                .code == heif_error_Ok) {
            out.width = heif_image_get_width(image, heif_channel_interleaved);
            out.height = heif_image_get_height(image, heif_channel_interleaved);
            heif_image_release(image);
        }
        if (thumbnail)
            heif_image_handle_release(thumbnail);
        heif_image_handle_release(primary);
    }
    heif_context_free(context);
    return out;
}

Decoded webpDecode(const QString& path) {
    const QByteArray bytes = fileBytes(path);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    WebPDecoderConfig config;
    Decoded out;
    if (!WebPInitDecoderConfig(&config) ||
        WebPGetFeatures(data, size_t(bytes.size()), &config.input) != VP8_STATUS_OK)
        return out;
    const int w = config.input.width, h = config.input.height;
    const double f = double(NeededShortSide) / std::min(w, h);
    if (f < 1) {
        config.options.use_scaling = 1;
        config.options.scaled_width = std::max(NeededShortSide, int(std::ceil(w * f)));
        config.options.scaled_height = std::max(NeededShortSide, int(std::ceil(h * f)));
    }
    config.output.colorspace = MODE_RGB;
    if (WebPDecode(data, size_t(bytes.size()), &config) == VP8_STATUS_OK) {
        out.width = config.output.width;
        out.height = config.output.height;
    }
    WebPFreeDecBuffer(&config.output);
    return out;
}

Decoded jxlDecode(const QString& path) {
    const QByteArray bytes = fileBytes(path);
    Decoded out;
    JxlDecoder* decoder = JxlDecoderCreate(nullptr);
    JxlDecoderSubscribeEvents(decoder, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(decoder, reinterpret_cast<const uint8_t*>(bytes.constData()),
                       size_t(bytes.size()));
    JxlDecoderCloseInput(decoder);
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info{};
    std::vector<uint8_t> pixels;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder);
        if (status == JXL_DEC_BASIC_INFO) {
            JxlDecoderGetBasicInfo(decoder, &info);
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            size_t size = 0;
            JxlDecoderImageOutBufferSize(decoder, &format, &size);
            pixels.resize(size);
            JxlDecoderSetImageOutBuffer(decoder, &format, pixels.data(), size);
        } else if (status == JXL_DEC_FULL_IMAGE) {
            out.width = int(info.xsize);
            out.height = int(info.ysize);
        } else {
            break; // success or an error
        }
    }
    JxlDecoderDestroy(decoder);
    return out;
}

Decoded pngDecode(const QString& path) {
    const QByteArray bytes = fileBytes(path);
    Decoded out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.constData(), size_t(bytes.size())))
        return out;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        out.width = int(image.width);
        out.height = int(image.height);
    }
    png_image_free(&image);
    return out;
}

Decoded tiffDecode(const QString& path) {
    Decoded out;
    TIFF* tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff)
        return out;
    uint32_t w = 0, h = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    std::vector<uint32_t> raster(size_t(w) * size_t(h));
    if (!raster.empty() && TIFFReadRGBAImage(tiff, w, h, raster.data(), 0)) {
        out.width = int(w);
        out.height = int(h);
    }
    TIFFClose(tiff);
    return out;
}

// A JPEG decoded at the smallest DCT scale that keeps the needed short side.
Decoded jpegDecodeReduced(const unsigned char* data, size_t size) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump;
    info.err = jpeg_std_error(&errors);
    info.client_data = &jump;
    errors.error_exit = [](j_common_ptr i) {
        std::longjmp(*static_cast<std::jmp_buf*>(i->client_data), 1);
    };
    Decoded out;
    std::vector<uint8_t> pixels;
    jpeg_create_decompress(&info);
    if (!setjmp(jump)) {
        jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
        jpeg_read_header(&info, TRUE);
        const unsigned side = std::min(info.image_width, info.image_height);
        unsigned denom = 8;
        while (denom > 1 && (side + denom - 1) / denom < unsigned(NeededShortSide))
            denom /= 2;
        info.scale_num = 1;
        info.scale_denom = denom;
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        const size_t line = size_t(info.output_width) * 3;
        pixels.resize(line * info.output_height);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = pixels.data() + line * info.output_scanline;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        out.width = int(info.output_width);
        out.height = int(info.output_height);
    }
    jpeg_destroy_decompress(&info);
    return out;
}

Decoded rawPreviewDecode(const QString& path) {
    Decoded out;
    libraw_data_t* raw = libraw_init(0);
    if (!raw)
        return out;
    if (libraw_open_file(raw, QFile::encodeName(path).constData()) == LIBRAW_SUCCESS &&
        libraw_unpack_thumb(raw) == LIBRAW_SUCCESS &&
        raw->thumbnail.tformat == LIBRAW_THUMBNAIL_JPEG)
        out = jpegDecodeReduced(reinterpret_cast<const unsigned char*>(raw->thumbnail.thumb),
                                raw->thumbnail.tlength);
    libraw_close(raw);
    return out;
}

Decoded libraryDecode(const QString& kind, const QString& path) {
    if (kind == "png")
        return pngDecode(path);
    if (kind == "tiff")
        return tiffDecode(path);
    if (kind == "webp")
        return webpDecode(path);
    if (kind == "heic" || kind.startsWith("avif"))
        return heifDecode(path, true);
    if (kind == "jxl")
        return jxlDecode(path);
    if (kind.startsWith("dng"))
        return rawPreviewDecode(path);
    return {};
}

// ---- Ours ----

// The kind's decode as the search asks it, from the file opened as the search opens it.
Decoded oursDecode(const QString& path) {
    platform::RegularFile file;
    QByteArray head;
    const std::string native = QFile::encodeName(path).toStdString();
    if (file.open(native) != platform::ReadFileError::None ||
        file.readSome(head, imaging::PhotoSniffBytes) != platform::ReadFileError::None)
        return {};
    const imaging::PhotoFormat* format = imaging::PhotoFormatFor(native, head);
    if (!format)
        return {};
    imaging::FileSource source(file);
    const std::optional<imaging::PhotoImage> photo =
        format->decode(source, {NeededShortSide, false});
    if (!photo || photo->image.isNull())
        return {};
    return {photo->image.width(), photo->image.height()};
}

Decoded oursSearch(const QString& path) {
    const similar::PictureReading reading =
        similar::ReadPictureFile(QFile::encodeName(path).toStdString(), false);
    // The fingerprint reads 128 pixels a side at least; a reading is all it says.
    return reading.fingerprinted() ? Decoded{NeededShortSide, NeededShortSide} : Decoded{};
}

Decoded oursPreview(const QString& path) {
    TPicture picture;
    const TPictureLoadResult result = LoadPictureFile(picture, QFile::encodeName(path), {});
    return result.loaded ? Decoded{result.width, result.height} : Decoded{};
}

// ---- Measuring ----

double loadAverage() {
    QFile file("/proc/loadavg");
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0).toDouble() : 0;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Way {
    const char* name;
    std::function<Decoded(const QString&)> decode;
};

struct Row {
    QString kind;
    QStringList files;
    std::vector<Way> ways; // the library's first
    std::vector<std::vector<double>> cpu = {}, wall = {};
    std::vector<int> failures = {};
    std::vector<Decoded> sizes = {}; // of the first file
    std::vector<double> loads = {};
};

void measure(std::vector<Row>& rows, int rounds) {
    for (Row& row : rows) {
        row.cpu.assign(row.ways.size(), {});
        row.wall.assign(row.ways.size(), {});
        row.failures.assign(row.ways.size(), 0);
        row.sizes.assign(row.ways.size(), {});
    }
    // One warm-up round (the page cache, the libraries' first allocations), then the
    // rounds; within a round each kind's ways run one after another, starting each round
    // with another one so that none always follows the same.
    for (int round = -1; round < rounds; ++round) {
        for (Row& row : rows) {
            row.loads.push_back(loadAverage());
            const size_t n = row.ways.size();
            for (size_t k = 0; k < n; ++k) {
                const size_t w = (k + size_t(std::max(round, 0))) % n;
                const double cpu = bench::cpuSeconds();
                const auto start = std::chrono::steady_clock::now();
                int failed = 0;
                for (const QString& file : row.files) {
                    const Decoded d = row.ways[w].decode(file);
                    failed += !d.ok();
                    if (round < 0 && &file == &row.files.front())
                        row.sizes[w] = d;
                }
                const double took = bench::cpuSeconds() - cpu;
                const double wall =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (round < 0) {
                    row.failures[w] = failed;
                    continue;
                }
                row.cpu[w].push_back(took);
                row.wall[w].push_back(wall);
            }
        }
        if (round >= 0)
            std::fprintf(stderr, "round %d of %d done\n", round + 1, rounds);
    }
}

void report(const std::vector<Row>& rows, int rounds, const char* title) {
    std::printf("\n### %s\n\n", title);
    std::printf("Processor time per file, medians of %d rounds (wall time in brackets); the ratio "
                "is to the library's way in the same rounds.\n\n",
                rounds);
    std::printf("| Kind | Files | First file: ours / library | ");
    for (size_t w = 0; w < rows.front().ways.size(); ++w)
        std::printf("%s | ", rows.front().ways[w].name);
    for (size_t w = 1; w < rows.front().ways.size(); ++w)
        std::printf("Ratio: %s | ", rows.front().ways[w].name);
    std::printf("Load |\n|---|---|---|");
    for (size_t w = 0; w < 2 * rows.front().ways.size(); ++w)
        std::printf("---|");
    std::printf("\n");
    for (const Row& row : rows) {
        const double n = double(row.files.size());
        const double library = median(row.cpu[0]);
        std::printf("| %s | %zu | %dx%d / %dx%d | ", qPrintable(row.kind), size_t(row.files.size()),
                    row.sizes[1].width, row.sizes[1].height, row.sizes[0].width,
                    row.sizes[0].height);
        for (size_t w = 0; w < row.ways.size(); ++w) {
            std::printf("%.1f ms (%.1f)", 1000 * median(row.cpu[w]) / n,
                        1000 * median(row.wall[w]) / n);
            if (row.failures[w])
                std::printf(", **%d failed**", row.failures[w]);
            std::printf(" | ");
        }
        for (size_t w = 1; w < row.ways.size(); ++w)
            std::printf("%.2f× (%.2f×) | ", library > 0 ? median(row.cpu[w]) / library : 0,
                        median(row.wall[0]) > 0 ? median(row.wall[w]) / median(row.wall[0]) : 0);
        std::printf("%.1f |\n", median(row.loads));
    }
}

int measureCorpus(const QString& dir, int rounds) {
    similar::PrepareFingerprinting();
    heif_init(nullptr);
    const Way library{"library", {}};
    std::vector<Row> rows;
    std::vector<Row> preview;
    QStringList kinds;
    for (const Encoding& e : encodings())
        kinds << e.dir;
    kinds << "dng-full-preview"
          << "dng-reduced-preview";
    for (const QString& kind : kinds) {
        QStringList files;
        for (const QFileInfo& f :
             QDir(QDir(dir).filePath(kind)).entryInfoList(QDir::Files, QDir::Name))
            files << f.filePath();
        if (files.isEmpty())
            continue;
        rows.push_back({kind,
                        files,
                        {{"library", [kind](const QString& p) { return libraryDecode(kind, p); }},
                         {"ours: decode", oursDecode},
                         {"ours: search step", oursSearch}}});
        if (kind == "heic") {
            // The preview of the 24-megapixel pictures: the whole picture at 1x.
            QStringList large;
            for (const QString& f : files) {
                heif_context* context = heif_context_alloc();
                heif_image_handle* handle = nullptr;
                if (heif_context_read_from_file(context, QFile::encodeName(f).constData(), nullptr)
                            .code == heif_error_Ok &&
                    heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok) {
                    if (int64_t(heif_image_handle_get_width(handle)) *
                            heif_image_handle_get_height(handle) >=
                        20'000'000)
                        large << f;
                    heif_image_handle_release(handle);
                }
                heif_context_free(context);
            }
            if (!large.isEmpty())
                preview.push_back(
                    {"heic 24 MP, whole picture",
                     large,
                     {{"library", [](const QString& p) { return heifDecode(p, false); }},
                      {"ours: preview at 1x", oursPreview}}});
        }
    }
    if (rows.empty()) {
        std::fprintf(stderr, "no pictures under %s: make them with --make\n", qPrintable(dir));
        return 1;
    }
    const double loadBefore = loadAverage();
    measure(rows, rounds);
    measure(preview, rounds);
    std::printf("Load average %.1f at the start, %.1f at the end.\n", loadBefore, loadAverage());
    report(rows, rounds, "Fingerprinting, per kind");
    if (!preview.empty())
        report(preview, rounds, "The preview of a 24-megapixel HEIC");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The preview's loader paints and scales as the window does; no screen is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() >= 2 && args[0] == "--make")
        return makeCorpus(args[1], args.mid(2));
    int rounds = 5;
    QString dir;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--rounds" && i + 1 < args.size())
            rounds = std::max(1, args[++i].toInt());
        else
            dir = args[i];
    }
    if (dir.isEmpty()) {
        std::fprintf(stderr, "usage: fenwa-bench-photo --make DIR [PICTURE...]\n"
                             "       fenwa-bench-photo [--rounds N] DIR\n");
        return 2;
    }
    return measureCorpus(dir, rounds);
}
