// Similar pictures, measured: from real pictures given on the command line, makes the
// variants a user meets (resized, recompressed, brighter, grey, cropped, 256 colours,
// turned, mirrored, EXIF-turned), heavier ones (10% crop, 16:9 and square crops, 3-degree
// turn, watermark, corner logo, ...) and look-alike negatives (two parts of one picture),
// fingerprints every file, and reports pairwise precision and recall and the recall of
// each variant at each level. Then the speed: pictures a second through the fingerprint
// path against the floor, libjpeg-turbo decoding the same files at the same scale on the
// same threads.
//
//   fenwa-bench-similar [--threads N] [--speed] PICTURE...   (--speed: the speed part only)
//   fenwa-bench-similar --write-corpus DIR [--kinds required|all|none]
//                       [--formats png,tiff,webp,heic,avif,jxl,dng] PICTURE...
//       the labelled corpus, with DIR/labels.tsv: file, source, kind, class; with
//       `--kinds required` only the originals and the copies every level must find, with
//       `--kinds none` only the originals; `--formats` adds a copy at 70% in each photo
//       kind named, written by Debian's encoders (child processes), and "dng": a DNG of
//       the picture with a reduced JPEG preview, as cameras write them
//   fenwa-bench-similar --corpus DIR  the accuracy part over a written corpus
//   fenwa-bench-similar --index [N...] [--threads T]
//       grouping N (default 100,000 and 1,000,000) made-up fingerprints at each level on
//       T threads (default 2)
//   fenwa-bench-similar --index-crops [N...] [--threads T]
//       the same fingerprints also with made-up centre hashes, grouped by
//       GroupFingerprintsWithCrops beside GroupFingerprints
//   fenwa-bench-similar --crops DIR   how often each kind's copy is a crop candidate of its
//       original, and how many pairs of different sources the centre hashes add

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTransform>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

#include "JpegCodec.h"
#if __has_include("minidng.h")
#include "minidng.h"
#define FENWA_BENCH_HAS_DNG 1
#endif
#include "benchsupport.h"
#include "fingerprint.h"
#include "likeness.h"
#include "picturefingerprint.h"
#include "similarindex.h"

using namespace fenwa::similar;

namespace {

QImage adjusted(const QImage& in, const std::function<int(int)>& f) {
    QImage out = in.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(f(qRed(p)), 0, 255), std::clamp(f(qGreen(p)), 0, 255),
                           std::clamp(f(qBlue(p)), 0, 255));
        }
    }
    return out;
}

QImage cropped(const QImage& in, double part) {
    const int dx = int(in.width() * part), dy = int(in.height() * part);
    return in.copy(dx, dy, in.width() - 2 * dx, in.height() - 2 * dy);
}

// Turned by a few degrees, then cut to the largest centred rectangle with no empty corner.
QImage tilted(const QImage& in, double degrees) {
    const QImage turned = in.convertToFormat(QImage::Format_RGB32)
                              .transformed(QTransform().rotate(degrees), Qt::SmoothTransformation);
    const double r = degrees * std::numbers::pi / 180, c = std::cos(r), s = std::sin(r);
    const int w = int(in.width() * c - in.height() * s), h = int(in.height() * c - in.width() * s);
    return turned.copy((turned.width() - w) / 2, (turned.height() - h) / 2, w, h);
}

// A caption box in the lower right corner, as a photographer's mark: a fifth of the width
// by a fourteenth of the height, 1.4% of the picture, half see-through.
QImage watermarked(const QImage& in) {
    QImage out = in.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&out);
    const QRect box(out.width() * 3 / 4, out.height() * 7 / 8, out.width() / 5, out.height() / 14);
    painter.fillRect(box, QColor(255, 255, 255, 160));
    QFont font;
    font.setPixelSize(std::max(8, box.height() * 2 / 3));
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(box, Qt::AlignCenter, QStringLiteral("(c) Fenwa"));
    return out;
}

// The largest centred rectangle of the given shape.
QImage croppedTo(const QImage& in, int across, int down) {
    const int w = std::min(in.width(), in.height() * across / down);
    const int h = std::min(in.height(), in.width() * down / across);
    return in.copy((in.width() - w) / 2, (in.height() - h) / 2, w, h);
}

// A photographer's logo in the lower right corner: an opaque block of 5% of the picture
// (a quarter of the width by a fifth of the height) with an emblem and a little text.
QImage logoMarked(const QImage& in) {
    QImage out = in.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = out.width() / 4, h = out.height() / 5;
    const QRect box(out.width() - w - out.width() / 50, out.height() - h - out.height() / 50, w, h);
    painter.fillRect(box, QColor(24, 40, 72));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(240, 180, 40));
    painter.drawEllipse(QPoint(box.left() + h * 2 / 5, box.center().y()), h / 5, h / 5);
    QFont font;
    font.setPixelSize(std::max(6, h / 6));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(box.adjusted(h * 7 / 10, 0, 0, 0), Qt::AlignCenter,
                     QStringLiteral("FENWA\nPHOTO"));
    return out;
}

QImage saturated(const QImage& in, double factor) {
    QImage out = in.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            const double grey = 0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p);
            auto f = [&](int v) { return std::clamp(int(grey + (v - grey) * factor), 0, 255); };
            line[x] = qRgb(f(qRed(p)), f(qGreen(p)), f(qBlue(p)));
        }
    }
    return out;
}

// What a variant is counted as: a copy the default level must find, a heavier copy
// reported without a target, or a look-alike that is another picture.
enum class Role { Original, Required, Heavier, LookAlike };
const char* roleName(Role r) {
    switch (r) {
    case Role::Original:
        return "original";
    case Role::Required:
        return "required";
    case Role::Heavier:
        return "heavier";
    case Role::LookAlike:
        return "look-alike";
    }
    return "";
}

struct Variant {
    const char* name;
    std::function<QImage(const QImage&)> make;
    const char* format = "jpg";
    int quality = 90;
    QImageIOHandler::Transformation exif = QImageIOHandler::TransformationNone;
    Role role = Role::Required;
};

std::vector<Variant> variants() {
    auto rotate = [](int degrees) {
        return [degrees](const QImage& i) { return i.transformed(QTransform().rotate(degrees)); };
    };
    auto part = [](int which) {
        // The left and right 45%: no pixel in common.
        return [which](const QImage& i) {
            const int w = i.width() * 45 / 100;
            return i.copy(which ? i.width() - w : 0, 0, w, i.height());
        };
    };
    const Role H = Role::Heavier;
    return {
        {"original", [](const QImage& i) { return i; }, "jpg", 90, {}, Role::Original},
        {"resized 50%",
         [](const QImage& i) { return i.scaledToWidth(i.width() / 2, Qt::SmoothTransformation); }},
        {"resized to 640 px",
         [](const QImage& i) { return i.scaledToWidth(640, Qt::SmoothTransformation); }},
        {"resized to 320 px",
         [](const QImage& i) { return i.scaledToWidth(320, Qt::SmoothTransformation); }},
        {"JPEG quality 30", [](const QImage& i) { return i; }, "jpg", 30},
        {"brighter 15%",
         [](const QImage& i) { return adjusted(i, [](int v) { return v * 115 / 100; }); }},
        {"darker 15%",
         [](const QImage& i) { return adjusted(i, [](int v) { return v * 85 / 100; }); }},
        {"contrast +15%",
         [](const QImage& i) {
             return adjusted(i, [](int v) { return 128 + (v - 128) * 115 / 100; });
         }},
        {"contrast -15%",
         [](const QImage& i) {
             return adjusted(i, [](int v) { return 128 + (v - 128) * 85 / 100; });
         }},
        {"greyscale", [](const QImage& i) { return i.convertToFormat(QImage::Format_Grayscale8); }},
        {"crop 3% a side", [](const QImage& i) { return cropped(i, 0.03); }},
        {"256 colours (BMP)",
         [](const QImage& i) { return i.convertToFormat(QImage::Format_Indexed8); }, "bmp"},
        // Written as a paletted PNG; bench/similar-peers turns it into a GIF.
        {"256 colours (GIF)",
         [](const QImage& i) { return i.convertToFormat(QImage::Format_Indexed8); }, "png"},
        {"BMP", [](const QImage& i) { return i; }, "bmp"},
        {"turned 90", rotate(90)},
        {"turned 180", rotate(180)},
        {"turned 270", rotate(270)},
        {"mirrored", [](const QImage& i) { return i.mirrored(true, false); }},
        // Stored turned a quarter; the EXIF tag turns it back for display.
        {"EXIF-turned", rotate(270), "jpg", 90, QImageIOHandler::TransformationRotate90},
        {"crop 5% a side", [](const QImage& i) { return cropped(i, 0.05); }, "jpg", 90, {}, H},
        {"crop 10% a side", [](const QImage& i) { return cropped(i, 0.10); }, "jpg", 90, {}, H},
        {"turned 3 degrees", [](const QImage& i) { return tilted(i, 3); }, "jpg", 90, {}, H},
        {"corner watermark", watermarked, "jpg", 90, {}, H},
        {"crop to 16:9", [](const QImage& i) { return croppedTo(i, 16, 9); }, "jpg", 90, {}, H},
        {"crop to a square", [](const QImage& i) { return croppedTo(i, 1, 1); }, "jpg", 90, {}, H},
        {"corner logo 5%", logoMarked, "jpg", 90, {}, H},
        {"JPEG quality 12", [](const QImage& i) { return i; }, "jpg", 12, {}, H},
        {"blurred",
         [](const QImage& i) {
             return i.scaledToWidth(std::max(1, i.width() / 6), Qt::SmoothTransformation)
                 .scaled(i.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
         },
         "jpg",
         90,
         {},
         H},
        {"stretched 4:3 to 5:3",
         [](const QImage& i) {
             return i.scaled(i.width() * 5 / 4, i.height(), Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
         },
         "jpg",
         90,
         {},
         H},
        {"saturation +50%", [](const QImage& i) { return saturated(i, 1.5); }, "jpg", 90, {}, H},
        {"left part", part(0), "jpg", 90, {}, Role::LookAlike},
        {"right part", part(1), "jpg", 90, {}, Role::LookAlike},
    };
}

// Pictures of one source share a label: "Elephants_3840x2160" is "Elephants".
QString labelOf(const QString& path) {
    QString stem = QFileInfo(path).completeBaseName();
    stem.remove(QRegularExpression("_\\d+x\\d+$"));
    return stem;
}

// The photo kinds' copies: the picture at 70%, encoded by the encoder Debian ships.
struct PhotoCopy {
    const char* format; // as --formats names it, and the file's extension
    const char* name;
    const char* program;
    std::function<QStringList(const QString& in, const QString& out)> arguments;
};

const std::vector<PhotoCopy>& photoCopies() {
    static const std::vector<PhotoCopy> list = {
        {"png", "PNG 70%", "convert",
         [](auto& in, auto& out) {
             return QStringList{in, out};
         }},
        {"tiff", "TIFF 70%", "convert",
         [](auto& in, auto& out) {
             return QStringList{in, "-compress", "lzw", out};
         }},
        {"webp", "WebP 70%", "cwebp",
         [](auto& in, auto& out) { return QStringList{"-quiet", "-q", "90", in, "-o", out}; }},
        {"heic", "HEIC 70%", "heif-enc",
         [](auto& in, auto& out) {
             return QStringList{"-q", "85", in, "-o", out};
         }},
        {"avif", "AVIF 70%", "avifenc",
         [](auto& in, auto& out) {
             return QStringList{"-s", "8", in, out};
         }},
        {"jxl", "JPEG XL 70%", "cjxl",
         [](auto& in, auto& out) {
             return QStringList{"-q", "90", in, out};
         }},
        {"dng", "DNG preview", nullptr, {}},
    };
    return list;
}

bool writePhotoCopy(const PhotoCopy& copy, const QImage& image, const QString& path) {
    if (!copy.program) {
#ifdef FENWA_BENCH_HAS_DNG
        // The sensor data is the picture itself; the preview a camera embeds is smaller.
        DngSpec spec;
        spec.picture = image;
        spec.previewSize = image.size().scaled(1024, 1024, Qt::KeepAspectRatio);
        const QByteArray bytes = MakeDng(spec);
        QFile file(path);
        return !bytes.isEmpty() && file.open(QIODevice::WriteOnly) &&
               file.write(bytes) == bytes.size();
#else
        std::fprintf(stderr, "this build has no DNG writer\n");
        return false;
#endif
    }
    QTemporaryDir work;
    const QString in = work.filePath("in.png");
    const QImage smaller = image.scaled(image.width() * 7 / 10, image.height() * 7 / 10,
                                        Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!work.isValid() || !smaller.save(in, "PNG", 10))
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(copy.program, copy.arguments(in, path));
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", copy.program, process.readAll().constData());
        return false;
    }
    return true;
}

// Which of the variants a corpus holds besides the originals.
enum class KindSet { All, Required, None };

// Writes every variant of every source into `dir` with DIR/labels.tsv: file, source,
// variant, role. Look-alikes are sources of their own ("Elephants/left part"). With
// KindSet::Required, only the original and the copies every level must find; with
// KindSet::None, the original alone. `formats` adds the photo kinds' copies.
bool writeCorpus(const QString& dir, const QStringList& sources, KindSet set = KindSet::All,
                 const QStringList& formats = {}) {
    QDir().mkpath(dir);
    QFile labels(QDir(dir).filePath("labels.tsv"));
    if (!labels.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const std::vector<Variant> kinds = variants();
    int written = 0;
    for (const QString& source : sources) {
        QImage image(source);
        if (image.isNull())
            continue;
        if (image.hasAlphaChannel()) {
            // Pictures with transparency are seen on white, as the viewer shows them.
            QImage flat(image.size(), QImage::Format_RGB32);
            flat.fill(Qt::white);
            QPainter(&flat).drawImage(0, 0, image);
            image = flat;
        }
        // A nearly blank picture (a transparent overlay on white) has nothing to find and
        // takes no part in similarity: left out of the corpus, and said so.
        const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
        if (!FingerprintGrey(grey.constBits(), grey.width(), grey.height(),
                             int(grey.bytesPerLine()))) {
            std::fprintf(stderr, "nearly blank, left out: %s\n", qPrintable(source));
            continue;
        }
        // Variants of very large pictures are made from a 1920-pixel copy, to keep the
        // corpus quick to write; the 640-pixel copy is made from the original.
        const QImage full = image;
        if (std::max(image.width(), image.height()) > 1920)
            image = image.width() >= image.height()
                        ? image.scaledToWidth(1920, Qt::SmoothTransformation)
                        : image.scaledToHeight(1920, Qt::SmoothTransformation);
        const QString label = labelOf(source);
        for (size_t k = 0; k < kinds.size(); ++k) {
            if (kinds[k].role != Role::Original &&
                (set == KindSet::None ||
                 (set == KindSet::Required && kinds[k].role != Role::Required)))
                continue;
            // No spaces in names: the peers' outputs are lists split at spaces.
            const QString file =
                QString("%1-%2.%3").arg(written++, 5, 10, QChar('0')).arg(k).arg(kinds[k].format);
            QImageWriter writer(QDir(dir).filePath(file));
            writer.setQuality(kinds[k].quality);
            writer.setTransformation(kinds[k].exif);
            const bool fromFull = QString(kinds[k].name) == "resized to 640 px";
            if (!writer.write(kinds[k].make(fromFull ? full : image))) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                continue;
            }
            const QString owner =
                kinds[k].role == Role::LookAlike ? label + "/" + kinds[k].name : label;
            labels.write(QString("%1\t%2\t%3\t%4\n")
                             .arg(file, owner, kinds[k].name, roleName(kinds[k].role))
                             .toUtf8());
        }
        const std::vector<PhotoCopy>& copies = photoCopies();
        for (size_t c = 0; c < copies.size(); ++c) {
            if (!formats.contains(copies[c].format))
                continue;
            const QString file = QString("%1-%2.%3")
                                     .arg(written++, 5, 10, QChar('0'))
                                     .arg(kinds.size() + c)
                                     .arg(copies[c].format);
            if (!writePhotoCopy(copies[c], image, QDir(dir).filePath(file))) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                return false;
            }
            labels.write(
                QString("%1\t%2\t%3\trequired\n").arg(file, label, copies[c].name).toUtf8());
        }
    }
    return true;
}

struct Picture {
    QString path;
    QString label;
    QString kind;
    Role role = Role::Original;
    uint64_t hash = 0;
    uint64_t colour = 0;
    CentreHashes centre = {};
    std::string print = {};
    bool ok = false;
};

std::vector<Picture> readCorpus(const QString& dir) {
    std::vector<Picture> pictures;
    QFile labels(QDir(dir).filePath("labels.tsv"));
    if (!labels.open(QIODevice::ReadOnly))
        return pictures;
    while (!labels.atEnd()) {
        const QStringList f = QString::fromUtf8(labels.readLine()).trimmed().split('\t');
        if (f.size() < 4)
            continue;
        Role role = Role::Original;
        for (Role r : {Role::Required, Role::Heavier, Role::LookAlike})
            if (f[3] == roleName(r))
                role = r;
        pictures.push_back({QDir(dir).filePath(f[0]), f[1], f[2], role});
    }
    for (Picture& p : pictures) {
        PictureReading h = ReadPictureFile(p.path.toStdString(), true);
        p.ok = h.fingerprinted();
        p.hash = h.fingerprint.hash;
        p.colour = h.fingerprint.colour;
        p.centre = h.fingerprint.centre;
        p.print = std::move(h.print);
    }
    return pictures;
}

// Pairwise scores at each level, and each variant's distance to its source's original.
void scoreCorpus(const std::vector<Picture>& pictures) {
    const bool verbose = qEnvironmentVariableIsSet("FENWA_BENCH_VERBOSE");
    std::map<QString, size_t> originalOf;
    for (size_t i = 0; i < pictures.size(); ++i)
        if (pictures[i].role == Role::Original)
            originalOf[pictures[i].label] = i;
    // With the colour check a pair within the distance must also agree in colour, and
    // then pass the likeness check at the level, as a search confirms it.
    bool colourCheck = true;
    int level = 0;
    SimilarLevel likenessLevel = SimilarLevel::Strict;
    std::unordered_map<uint64_t, bool> alike[SimilarLevelCount];
    auto distance = [&](size_t a, size_t b) {
        if (!pictures[a].ok || !pictures[b].ok)
            return 65;
        const Picture &p = pictures[a], &q = pictures[b];
        // With the checks, the pair rule of the search itself: close whole hashes whose
        // colours confirm, or a crop of a centred part; then the prints must agree.
        if (colourCheck) {
            // Asked once a pair and level: the passes with and without heavier kinds share.
            auto [it, added] = alike[size_t(likenessLevel)].try_emplace(uint64_t(a) << 32 | b);
            if (added)
                it->second = PicturesAlike({p.hash, p.colour, p.centre}, p.print,
                                           {q.hash, q.colour, q.centre}, q.print, likenessLevel);
            return it->second ? 0 : 64;
        }
        return FingerprintDistance(p.hash, q.hash);
    };
    auto counted = [&](size_t i, bool heavier) {
        return pictures[i].role == Role::Original || pictures[i].role == Role::Required ||
               (heavier && pictures[i].role == Role::Heavier);
    };
    // At normal with the colour check, over every pair of the corpus (a look-alike is
    // another picture): the pairs of different sources matched, and the copies found.
    struct Tally {
        size_t tp = 0, fp = 0, fn = 0;
    } everyPair[2];
    auto tally = [&](bool heavier, size_t a, size_t b, bool match) {
        if (!heavier && (pictures[a].role == Role::Heavier || pictures[b].role == Role::Heavier))
            return;
        const bool same = pictures[a].label == pictures[b].label;
        everyPair[heavier].tp += same && match;
        everyPair[heavier].fp += !same && match;
        everyPair[heavier].fn += same && !match;
    };
    size_t sources = 0;
    for (const Picture& p : pictures)
        sources += p.role == Role::Original;
    std::printf("%zu pictures from %zu sources\n\n", pictures.size(), sources);
    std::printf("| Level (distance) | Colour, crops, likeness | Pictures | Precision | Recall | "
                "False pairs "
                "| Missed pairs | Look-alike false pairs |\n|---|---|---|---|---|---|---|---|\n");
    for (bool check : {false, true})
        for (bool heavier : {false, true})
            for (SimilarLevel l :
                 {SimilarLevel::Strict, SimilarLevel::Normal, SimilarLevel::Loose}) {
                const int t = LevelThreshold(l);
                colourCheck = check;
                level = t;
                likenessLevel = l;
                size_t tp = 0, fp = 0, fn = 0, lookAlike = 0;
                for (size_t a = 0; a < pictures.size(); ++a)
                    for (size_t b = a + 1; b < pictures.size(); ++b) {
                        const bool match = distance(a, b) <= t;
                        if (check && l == SimilarLevel::Normal)
                            tally(heavier, a, b, match);
                        if (!counted(a, heavier) || !counted(b, heavier)) {
                            // A look-alike matching anything is a false pair of its own count.
                            if (!heavier && match && pictures[a].label != pictures[b].label &&
                                (pictures[a].role == Role::LookAlike ||
                                 pictures[b].role == Role::LookAlike) &&
                                pictures[a].role != Role::Heavier &&
                                pictures[b].role != Role::Heavier) {
                                ++lookAlike;
                                if (verbose && l == SimilarLevel::Normal)
                                    std::fprintf(stderr, "look-alike: %s | %s\n",
                                                 qPrintable(pictures[a].path),
                                                 qPrintable(pictures[b].path));
                            }
                            continue;
                        }
                        const bool same = pictures[a].label == pictures[b].label;
                        tp += same && match;
                        fp += !same && match;
                        fn += same && !match;
                        if (verbose && !same && match && l == SimilarLevel::Normal && !heavier &&
                            check)
                            std::fprintf(stderr, "false: %d %s | %s\n", distance(a, b),
                                         qPrintable(pictures[a].path),
                                         qPrintable(pictures[b].path));
                    }
                std::printf("| %s (<= %d) | %s | %s | %.4f | %.4f | %zu | %zu | %s |\n",
                            l == SimilarLevel::Strict   ? "strict"
                            : l == SimilarLevel::Normal ? "normal"
                                                        : "loose",
                            t, check ? "yes" : "no", heavier ? "with heavier" : "required",
                            tp + fp ? double(tp) / double(tp + fp) : 1.0,
                            tp + fn ? double(tp) / double(tp + fn) : 1.0, fp, fn,
                            heavier ? "" : std::to_string(lookAlike).c_str());
            }
    for (bool heavier : {false, true}) {
        const Tally& t = everyPair[heavier];
        std::printf("\n%s, normal with the colour check: precision %.4f over every pair (%zu "
                    "false pairs), copies found %.4f (%zu of %zu pairs)",
                    heavier ? "With heavier" : "Required",
                    t.tp + t.fp ? double(t.tp) / double(t.tp + t.fp) : 1.0, t.fp,
                    t.tp + t.fn ? double(t.tp) / double(t.tp + t.fn) : 1.0, t.tp, t.tp + t.fn);
    }
    std::printf("\n");
    colourCheck = true;
    std::printf("\n| Variant | strict | normal | loose | mean hash distance | worst "
                "|\n|---|---|---|---|---|---|\n");
    std::vector<QString> kindOrder;
    for (const Picture& p : pictures)
        if (p.role == Role::Required || p.role == Role::Heavier)
            if (std::find(kindOrder.begin(), kindOrder.end(), p.kind) == kindOrder.end())
                kindOrder.push_back(p.kind);
    for (const QString& kind : kindOrder) {
        size_t hits[3] = {}, count = 0;
        double sum = 0;
        int worst = 0;
        for (size_t i = 0; i < pictures.size(); ++i) {
            if (pictures[i].kind != kind || !originalOf.count(pictures[i].label))
                continue;
            const size_t o = originalOf[pictures[i].label];
            colourCheck = false;
            const int d = distance(o, i);
            ++count;
            sum += d;
            worst = std::max(worst, d);
            colourCheck = true;
            for (int l = 0; l < 3; ++l) {
                level = LevelThreshold(SimilarLevel(l));
                likenessLevel = SimilarLevel(l);
                hits[l] += distance(o, i) <= level;
                if (verbose && l == 1 && distance(o, i) > level)
                    std::fprintf(stderr, "missed: %d %s\n", d, qPrintable(pictures[i].path));
            }
        }
        std::printf("| %s | %.2f | %.2f | %.2f | %.1f | %d |\n", qPrintable(kind),
                    double(hits[0]) / double(count), double(hits[1]) / double(count),
                    double(hits[2]) / double(count), sum / double(count), worst);
    }
    // Hash distances between different sources: how close unrelated ones come.
    colourCheck = false;
    std::map<int, size_t> unrelated;
    for (size_t a = 0; a < pictures.size(); ++a)
        for (size_t b = a + 1; b < pictures.size(); ++b)
            if (pictures[a].label != pictures[b].label && pictures[a].role == Role::Original &&
                pictures[b].role == Role::Original)
                ++unrelated[distance(a, b)];
    std::printf("\nDistances between different sources' originals (distance: pairs):");
    for (auto [d, n] : unrelated)
        if (d <= 20)
            std::printf(" %d:%zu", d, n);
    std::printf("\n");
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Runs job(i) for every file on `threads` threads; answers the wall time.
double timed(size_t count, unsigned threads, const std::function<void(size_t)>& job) {
    std::atomic<size_t> next{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (size_t i; (i = next.fetch_add(1)) < count;)
                job(i);
        });
    for (std::thread& t : pool)
        t.join();
    return seconds(start);
}

// N fingerprints: nine in ten random, the rest in groups of five copies of a random hash,
// each with up to four bits changed and turned at random.
std::vector<uint64_t> madeUpFingerprints(size_t n) {
    std::mt19937_64 random(1);
    std::vector<uint64_t> hashes;
    hashes.reserve(n);
    while (hashes.size() < n) {
        const uint64_t h = random() & ~uint64_t(1);
        if (random() % 10 != 0) {
            hashes.push_back(h);
            continue;
        }
        for (int copy = 0; copy < 5 && hashes.size() < n; ++copy) {
            uint64_t c = h;
            for (int flips = int(random() % 5); flips > 0; --flips)
                c ^= uint64_t(2) << (random() % 63);
            hashes.push_back(OrientedFingerprint(c, int(random() % 8)));
        }
    }
    std::shuffle(hashes.begin(), hashes.end(), random);
    return hashes;
}

// Groups made-up fingerprints at each level, each run in a process of its own so that its
// peak memory is its own.
int benchIndex(const std::vector<size_t>& sizes, unsigned threads) {
    std::printf("| Level (distance) | Fingerprints | Wall seconds (%u threads) | Processor seconds "
                "| Peak memory, bytes per fingerprint | Rows in groups |\n"
                "|---|---|---|---|---|---|\n",
                threads);
    for (size_t n : sizes) {
        const std::vector<uint64_t> hashes = madeUpFingerprints(n);
        for (SimilarLevel level :
             {SimilarLevel::Strict, SimilarLevel::Normal, SimilarLevel::Loose}) {
            std::fflush(stdout);
            const pid_t child = fork();
            if (child < 0)
                return 1;
            if (child > 0) {
                int status = 0;
                waitpid(child, &status, 0);
                continue;
            }
            rusage before{}, after{};
            getrusage(RUSAGE_SELF, &before);
            const double cpu = fenwa::bench::cpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            const std::vector<uint32_t> leader =
                GroupFingerprints(hashes, LevelThreshold(level), {}, nullptr, {}, threads);
            const double wall = seconds(start);
            const double took = fenwa::bench::cpuSeconds() - cpu;
            getrusage(RUSAGE_SELF, &after);
            std::vector<uint32_t> size(n, 0);
            for (uint32_t l : leader)
                ++size[l];
            size_t grouped = 0;
            for (uint32_t l : leader)
                grouped += size[l] >= 2;
            // The input and the answer are the caller's; the rest is the index's.
            const double peak = double(after.ru_maxrss - before.ru_maxrss) * 1024.0;
            std::printf("| %d | %zu | %.2f | %.2f | %.0f | %zu |\n", LevelThreshold(level), n, wall,
                        took, peak / double(n), grouped);
            std::fflush(stdout);
            _exit(0);
        }
    }
    return 0;
}

// --index-crops and --crops: the centre hashes that find crops (kept apart from the rest).

// Three random centre hashes a picture, one in a hundred pictures with a part within two
// bits (turned at random) of another's whole hash, as a crop's original has.
std::vector<CentreHashes> madeUpCentres(const std::vector<uint64_t>& hashes) {
    std::mt19937_64 random(2);
    std::vector<CentreHashes> centres(hashes.size());
    for (CentreHashes& c : centres)
        for (uint64_t& h : c)
            h = random() & ~uint64_t(1);
    for (size_t i = 0; i < hashes.size(); ++i)
        if (random() % 100 == 0) {
            uint64_t h = hashes[random() % hashes.size()];
            for (int flips = int(random() % 3); flips > 0; --flips)
                h ^= uint64_t(2) << (random() % 63);
            centres[i][random() % CentreParts] = OrientedFingerprint(h, int(random() % 8));
        }
    return centres;
}

int benchIndexCrops(const std::vector<size_t>& sizes, unsigned threads) {
    std::printf("| Grouping | Level (distance) | Fingerprints | Wall seconds (%u threads) | "
                "Processor seconds | Peak memory, bytes per fingerprint | Rows in groups |\n"
                "|---|---|---|---|---|---|---|\n",
                threads);
    for (size_t n : sizes) {
        const std::vector<uint64_t> hashes = madeUpFingerprints(n);
        const std::vector<CentreHashes> centres = madeUpCentres(hashes);
        for (SimilarLevel level : {SimilarLevel::Strict, SimilarLevel::Normal, SimilarLevel::Loose})
            for (bool crops : {false, true}) {
                std::fflush(stdout);
                const pid_t child = fork();
                if (child < 0)
                    return 1;
                if (child > 0) {
                    int status = 0;
                    waitpid(child, &status, 0);
                    continue;
                }
                rusage before{}, after{};
                getrusage(RUSAGE_SELF, &before);
                const double cpu = fenwa::bench::cpuSeconds();
                const auto start = std::chrono::steady_clock::now();
                const std::vector<uint32_t> leader =
                    crops ? GroupFingerprintsWithCrops(hashes, centres, LevelThreshold(level),
                                                       CropThreshold, {}, nullptr, {}, threads)
                          : GroupFingerprints(hashes, LevelThreshold(level), {}, nullptr, {},
                                              threads);
                const double wall = seconds(start);
                const double took = fenwa::bench::cpuSeconds() - cpu;
                getrusage(RUSAGE_SELF, &after);
                std::vector<uint32_t> size(n, 0);
                for (uint32_t l : leader)
                    ++size[l];
                size_t grouped = 0;
                for (uint32_t l : leader)
                    grouped += size[l] >= 2;
                const double peak = double(after.ru_maxrss - before.ru_maxrss) * 1024.0;
                std::printf("| %s | %d | %zu | %.2f | %.2f | %.0f | %zu |\n",
                            crops ? "with crops" : "whole only", LevelThreshold(level), n, wall,
                            took, peak / double(n), grouped);
                std::fflush(stdout);
                _exit(0);
            }
    }
    return 0;
}

// The centre hashes of a picture file, from its luma (the fingerprint path does not make
// them yet), at full size or, with FENWA_BENCH_CROPS_REDUCED set, reduced as the JPEG
// decode is: by the largest of 1/2, 1/4, 1/8 that keeps MinShortSide pixels.
CentreHashes centresOfFile(const QString& path) {
    QImage image = QImage(path).convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return {};
    if (qEnvironmentVariableIsSet("FENWA_BENCH_CROPS_REDUCED")) {
        int denom = 8;
        while (denom > 1 && std::min(image.width(), image.height()) / denom < MinShortSide)
            denom /= 2;
        image = image.scaled(image.width() / denom, image.height() / denom, Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
    }
    std::vector<uint8_t> grey(size_t(image.width()) * size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            grey[size_t(y) * size_t(image.width()) + size_t(x)] = uint8_t(
                (qRed(line[x]) * 77 + qGreen(line[x]) * 150 + qBlue(line[x]) * 29 + 128) >> 8);
    }
    return CentreFingerprints(grey.data(), image.width(), image.height(), image.width());
}

// Per kind, how often a copy is a candidate of its source's original: whole within the
// level, or one's whole hash within `crop` of the other's centre hash; and the pairs of
// different sources' pictures the centre hashes make that the whole hashes do not.
void scoreCrops(const QString& dir) {
    struct Entry {
        QString source, kind;
        bool original = false;
        std::optional<PictureFingerprint> print;
    };
    std::vector<Entry> entries;
    QFile labels(QDir(dir).filePath("labels.tsv"));
    if (!labels.open(QIODevice::ReadOnly))
        return;
    while (!labels.atEnd()) {
        const QStringList f = QString::fromUtf8(labels.readLine()).trimmed().split('\t');
        if (f.size() < 4)
            continue;
        const QString path = QDir(dir).filePath(f[0]);
        entries.push_back(
            {f[1], f[2], f[3] == roleName(Role::Original), FingerprintFile(path.toStdString())});
        if (entries.back().print)
            entries.back().print->centre = centresOfFile(path);
    }
    const int normal = LevelThreshold(SimilarLevel::Normal);
    // Whether a's whole is within `limit` of one of b's parts, or the other way.
    const auto cropNear = [](const PictureFingerprint& a, const PictureFingerprint& b, int limit) {
        for (uint64_t c : b.centre)
            if (c != 0 && FingerprintDistance(a.hash, c) <= limit)
                return true;
        for (uint64_t c : a.centre)
            if (c != 0 && FingerprintDistance(b.hash, c) <= limit)
                return true;
        return false;
    };
    std::map<QString, size_t> originalOf;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].original && entries[i].print)
            originalOf[entries[i].source] = i;
    const std::vector<int> limits = {2, 3, 4, 5, 6};
    // The nearest a copy's whole hash and its original's parts come, either way.
    const auto cropDistance = [](const PictureFingerprint& a, const PictureFingerprint& b) {
        int best = 64;
        for (const auto& [x, y] : {std::pair(&a, &b), std::pair(&b, &a)})
            for (uint64_t c : y->centre)
                if (c != 0)
                    best = std::min(best, FingerprintDistance(x->hash, c));
        return best;
    };
    std::printf("| Kind | Copies | Whole within normal | Crop distance: mean, worst |");
    for (int l : limits)
        std::printf(" Either, crop %d |", l);
    std::printf("\n|---|---|---|---|");
    for (size_t l = 0; l < limits.size(); ++l)
        std::printf("---|");
    std::printf("\n");
    std::map<QString, std::vector<size_t>> byKind;
    for (size_t i = 0; i < entries.size(); ++i)
        if (!entries[i].original && entries[i].print && originalOf.count(entries[i].source))
            byKind[entries[i].kind].push_back(i);
    for (const auto& [kind, copies] : byKind) {
        size_t whole = 0;
        int worst = 0;
        double sum = 0;
        std::vector<size_t> either(limits.size(), 0);
        for (size_t i : copies) {
            const PictureFingerprint& c = *entries[i].print;
            const PictureFingerprint& o = *entries[originalOf[entries[i].source]].print;
            const bool w = FingerprintDistance(c.hash, o.hash) <= normal;
            whole += w;
            const int d = cropDistance(c, o);
            worst = std::max(worst, d);
            sum += d;
            for (size_t l = 0; l < limits.size(); ++l)
                either[l] += w || cropNear(c, o, limits[l]);
        }
        std::printf("| %s | %zu | %.2f | %.1f, %d |", qPrintable(kind), copies.size(),
                    double(whole) / double(copies.size()), sum / double(copies.size()), worst);
        for (size_t e : either)
            std::printf(" %.2f |", double(e) / double(copies.size()));
        std::printf("\n");
    }
    std::printf("\nPairs of different sources' pictures that only the centre hashes make:\n");
    for (int l : limits) {
        size_t added = 0, pictures = 0;
        for (size_t a = 0; a < entries.size(); ++a) {
            if (!entries[a].print)
                continue;
            ++pictures;
            for (size_t b = a + 1; b < entries.size(); ++b)
                if (entries[b].print && entries[a].source != entries[b].source &&
                    FingerprintDistance(entries[a].print->hash, entries[b].print->hash) > normal &&
                    cropNear(*entries[a].print, *entries[b].print, l))
                    ++added;
        }
        std::printf("crop threshold %d: %zu pairs among %zu pictures\n", l, added, pictures);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--index") {
        std::vector<size_t> sizes;
        unsigned threads = 2;
        for (int i = 2; i < argc; ++i) {
            if (std::string(argv[i]) == "--threads" && i + 1 < argc)
                threads = unsigned(std::max(1, atoi(argv[++i])));
            else
                sizes.push_back(size_t(std::stoull(argv[i])));
        }
        if (sizes.empty())
            sizes = {100000, 1000000};
        return benchIndex(sizes, threads);
    }
    if (argc >= 2 && std::string(argv[1]) == "--index-crops") {
        std::vector<size_t> sizes;
        unsigned threads = 2;
        for (int i = 2; i < argc; ++i) {
            if (std::string(argv[i]) == "--threads" && i + 1 < argc)
                threads = unsigned(std::max(1, atoi(argv[++i])));
            else
                sizes.push_back(size_t(std::stoull(argv[i])));
        }
        if (sizes.empty())
            sizes = {100000, 1000000};
        return benchIndexCrops(sizes, threads);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    PrepareFingerprinting();
    if (argc >= 3 && std::string(argv[1]) == "--write-corpus") {
        QStringList sources, formats;
        KindSet set = KindSet::All;
        for (int i = 3; i < argc; ++i) {
            const std::string a = argv[i];
            const std::string next = i + 1 < argc ? argv[i + 1] : "";
            if (a == "--kinds" && (next == "required" || next == "all" || next == "none")) {
                set = next == "required" ? KindSet::Required
                      : next == "none"   ? KindSet::None
                                         : KindSet::All;
                ++i;
            } else if (a == "--kinds") {
                std::fprintf(stderr, "--kinds takes required, all or none\n");
                return 1;
            } else if (a == "--formats" && i + 1 < argc) {
                formats = QString::fromLocal8Bit(argv[++i]).split(',', Qt::SkipEmptyParts);
                for (const QString& f : formats)
                    if (std::none_of(photoCopies().begin(), photoCopies().end(),
                                     [&](const PhotoCopy& c) { return f == c.format; })) {
                        std::fprintf(stderr, "--formats: unknown kind %s\n", qPrintable(f));
                        return 1;
                    }
            } else
                sources << QString::fromLocal8Bit(argv[i]);
        }
        return writeCorpus(QString::fromLocal8Bit(argv[2]), sources, set, formats) ? 0 : 1;
    }
    if (argc == 3 && std::string(argv[1]) == "--crops") {
        scoreCrops(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "--corpus") {
        scoreCorpus(readCorpus(QString::fromLocal8Bit(argv[2])));
        return 0;
    }
    unsigned threads = 2;
    bool speedOnly = false;
    QStringList sources;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == "--threads" && i + 1 < argc)
            threads = unsigned(std::max(1, atoi(argv[++i])));
        else if (a == "--speed")
            speedOnly = true;
        else
            sources << a;
    }
    QTemporaryDir dir;
    if (!speedOnly) {
        if (!writeCorpus(dir.path(), sources))
            return 1;
        scoreCorpus(readCorpus(dir.path()));
    }

    // Speed over the original files, read into memory first so the disk is not measured.
    std::vector<QByteArray> bytes;
    std::vector<std::vector<unsigned char>> raw;
    std::vector<std::string> jpegSources;
    for (const QString& source : sources) {
        QFile f(source);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray all = f.readAll();
        if (!all.startsWith("\xFF\xD8"))
            continue; // the floor is a JPEG decode
        jpegSources.push_back(source.toStdString());
        bytes.push_back(all);
        raw.emplace_back(bytes.back().begin(), bytes.back().end());
    }
    std::atomic<size_t> fingerprinted{0}, decoded{0};
    const int rounds = 5;
    double ours = 0, floor[2] = {0, 0};
    // The same scale as the fingerprint's decode: the smallest keeping 64 pixels.
    const auto reference = [&](size_t i, bool grey) {
        const TJpegHeaderInfo header = JpegReadHeader(bytes[i]);
        unsigned denom = 8;
        while (denom > 1 &&
               unsigned(std::min(header.width, header.height)) / denom < unsigned(MinShortSide))
            denom /= 2;
        std::vector<unsigned char> out;
        unsigned w = 0, h = 0;
        decoded += fenwa::bench::referenceJpegDecode(raw[i], denom, grey, false, out, w, h);
    };
    // Interleaved, so that the machine's load falls on every path alike.
    for (int r = 0; r < rounds; ++r) {
        ours += timed(bytes.size(), threads, [&](size_t i) {
            fingerprinted += FingerprintBytes(bytes[i], jpegSources[i]).has_value();
        });
        floor[0] += timed(raw.size(), threads, [&](size_t i) { reference(i, true); });
        floor[1] += timed(raw.size(), threads, [&](size_t i) { reference(i, false); });
    }
    const double n = double(bytes.size()) * rounds;
    std::printf("\n| Path, %u threads | Pictures/s | Time against the grey floor | Decoded "
                "|\n|---|---|---|---|\n",
                threads);
    std::printf("| fingerprint (colour decode + hash + colour layout) | %.1f | %.2f | %zu |\n",
                n / ours, ours / floor[0], fingerprinted.load() / rounds);
    std::printf("| floor: libjpeg-turbo grey at the same scale | %.1f | 1.00 | %zu |\n",
                n / floor[0], decoded.load() / rounds / 2);
    std::printf("| floor: libjpeg-turbo RGB at the same scale | %.1f | %.2f | |\n", n / floor[1],
                floor[1] / floor[0]);
    return 0;
}
