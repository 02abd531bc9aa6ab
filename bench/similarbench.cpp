// Similar pictures, measured: from real pictures given on the command line, makes the
// variants a user meets (resized, recompressed, brighter, grey, cropped, 256 colours,
// turned, mirrored, EXIF-turned) in a temporary directory, fingerprints every file, and
// reports pairwise precision and recall and the recall of each variant at each level.
// Then the speed: pictures a second through the fingerprint path against the floor,
// libjpeg-turbo decoding the same files at the same scale on the same threads.
//
//   fenwa-bench-similar [--threads N] PICTURE...
//   fenwa-bench-similar --index [N...] [--threads T]
//       grouping N (default 100,000 and 1,000,000) made-up fingerprints at each level on
//       T threads (default 2)

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTransform>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "JpegCodec.h"
#include "benchsupport.h"
#include "fingerprint.h"
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

struct Variant {
    const char* name;
    std::function<QImage(const QImage&)> make;
    const char* format = "jpg";
    int quality = 90;
    QImageIOHandler::Transformation exif = QImageIOHandler::TransformationNone;
};

std::vector<Variant> variants() {
    auto rotate = [](int degrees) {
        return [degrees](const QImage& i) { return i.transformed(QTransform().rotate(degrees)); };
    };
    return {
        {"original", [](const QImage& i) { return i; }},
        {"resized 50%",
         [](const QImage& i) { return i.scaledToWidth(i.width() / 2, Qt::SmoothTransformation); }},
        {"resized 320px",
         [](const QImage& i) { return i.scaledToWidth(320, Qt::SmoothTransformation); }},
        {"quality 30", [](const QImage& i) { return i; }, "jpg", 30},
        {"brighter 15%",
         [](const QImage& i) { return adjusted(i, [](int v) { return v * 115 / 100; }); }},
        {"darker 15%",
         [](const QImage& i) { return adjusted(i, [](int v) { return v * 85 / 100; }); }},
        {"contrast +15%",
         [](const QImage& i) {
             return adjusted(i, [](int v) { return 128 + (v - 128) * 115 / 100; });
         }},
        {"greyscale", [](const QImage& i) { return i.convertToFormat(QImage::Format_Grayscale8); }},
        {"crop 3%", [](const QImage& i) { return cropped(i, 0.03); }},
        {"crop 5%", [](const QImage& i) { return cropped(i, 0.05); }},
        {"256 colours (BMP)",
         [](const QImage& i) { return i.convertToFormat(QImage::Format_Indexed8); }, "bmp"},
        {"BMP", [](const QImage& i) { return i; }, "bmp"},
        {"turned 90", rotate(90)},
        {"turned 180", rotate(180)},
        {"turned 270", rotate(270)},
        {"mirrored", [](const QImage& i) { return i.mirrored(true, false); }},
        // Stored turned a quarter; the EXIF tag turns it back for display.
        {"EXIF-turned", rotate(270), "jpg", 90, QImageIOHandler::TransformationRotate90},
    };
}

// Pictures of one source share a label: "Elephants_3840x2160" is "Elephants".
QString labelOf(const QString& path) {
    QString stem = QFileInfo(path).completeBaseName();
    stem.remove(QRegularExpression("_\\d+x\\d+$"));
    return stem;
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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    PrepareFingerprinting();
    unsigned threads = 2;
    QStringList sources;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == "--threads" && i + 1 < argc)
            threads = unsigned(std::max(1, atoi(argv[++i])));
        else
            sources << a;
    }
    QTemporaryDir dir;
    struct Picture {
        QString path;
        QString label;
        int variant;
        uint64_t hash = 0;
        bool ok = false;
    };
    std::vector<Picture> pictures;
    const std::vector<Variant> kinds = variants();
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
        // Variants of very large pictures are made from a 1920-pixel copy, to keep the
        // corpus quick to write; the speed rows below read the originals.
        if (std::max(image.width(), image.height()) > 1920)
            image = image.width() >= image.height()
                        ? image.scaledToWidth(1920, Qt::SmoothTransformation)
                        : image.scaledToHeight(1920, Qt::SmoothTransformation);
        const QString label = labelOf(source);
        for (size_t k = 0; k < kinds.size(); ++k) {
            const QString path = dir.filePath(
                QString("%1-%2-%3.%4").arg(pictures.size()).arg(label).arg(k).arg(kinds[k].format));
            QImageWriter writer(path);
            writer.setQuality(kinds[k].quality);
            writer.setTransformation(kinds[k].exif);
            if (!writer.write(kinds[k].make(image)))
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            pictures.push_back({path, label, int(k)});
        }
    }
    for (Picture& p : pictures) {
        const std::optional<uint64_t> h = FingerprintFile(p.path.toStdString());
        p.ok = h.has_value();
        p.hash = h.value_or(0);
    }

    std::printf("%zu pictures from %lld sources, %zu variants each\n\n", pictures.size(),
                (long long)sources.size(), kinds.size());
    std::printf("| Level (distance) | Precision | Recall | False pairs | Missed pairs |\n");
    std::printf("|---|---|---|---|---|\n");
    for (SimilarLevel level : {SimilarLevel::Strict, SimilarLevel::Normal, SimilarLevel::Loose}) {
        const int t = LevelThreshold(level);
        size_t tp = 0, fp = 0, fn = 0;
        for (size_t a = 0; a < pictures.size(); ++a)
            for (size_t b = a + 1; b < pictures.size(); ++b) {
                const bool same = pictures[a].label == pictures[b].label;
                const bool match = pictures[a].ok && pictures[b].ok &&
                                   FingerprintDistance(pictures[a].hash, pictures[b].hash) <= t;
                tp += same && match;
                fp += !same && match;
                fn += same && !match;
            }
        std::printf("| %s (<= %d) | %.4f | %.4f | %zu | %zu |\n",
                    level == SimilarLevel::Strict   ? "strict"
                    : level == SimilarLevel::Normal ? "normal"
                                                    : "loose",
                    t, tp + fp ? double(tp) / double(tp + fp) : 1.0,
                    tp + fn ? double(tp) / double(tp + fn) : 1.0, fp, fn);
    }
    // Distances between pictures of different sources: how close unrelated ones come.
    std::map<int, size_t> unrelated;
    for (size_t a = 0; a < pictures.size(); ++a)
        for (size_t b = a + 1; b < pictures.size(); ++b)
            if (pictures[a].label != pictures[b].label && pictures[a].variant == 0 &&
                pictures[b].variant == 0) {
                const int d = FingerprintDistance(pictures[a].hash, pictures[b].hash);
                ++unrelated[d];
                if (d <= 11 && qEnvironmentVariableIsSet("FENWA_BENCH_VERBOSE"))
                    std::fprintf(stderr, "close: %d %s %s\n", d, qPrintable(pictures[a].label),
                                 qPrintable(pictures[b].label));
            }
    std::printf("\nDistances between different sources' originals (distance: pairs):");
    for (auto [d, n] : unrelated)
        if (d <= 20)
            std::printf(" %d:%zu", d, n);
    std::printf("\n\n| Variant | strict | normal | loose | mean distance | worst "
                "|\n|---|---|---|---|---|---|\n");
    for (size_t k = 1; k < kinds.size(); ++k) {
        size_t hits[3] = {}, count = 0;
        double sum = 0;
        int worst = 0;
        for (size_t i = 0; i < pictures.size(); ++i) {
            if (pictures[i].variant != int(k))
                continue;
            const Picture& original = pictures[i - k];
            const int d = pictures[i].ok && original.ok
                              ? FingerprintDistance(original.hash, pictures[i].hash)
                              : 64;
            ++count;
            sum += d;
            worst = std::max(worst, d);
            for (int l = 0; l < 3; ++l)
                hits[l] += d <= LevelThreshold(SimilarLevel(l));
        }
        std::printf("| %s | %.2f | %.2f | %.2f | %.1f | %d |\n", kinds[k].name,
                    double(hits[0]) / double(count), double(hits[1]) / double(count),
                    double(hits[2]) / double(count), sum / double(count), worst);
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
    const int rounds = 3;
    double ours = 0, floor = 0;
    for (int r = 0; r < rounds; ++r) {
        ours += timed(bytes.size(), threads, [&](size_t i) {
            fingerprinted += FingerprintBytes(bytes[i], jpegSources[i]).has_value();
        });
        floor += timed(raw.size(), threads, [&](size_t i) {
            // The same scale as the fingerprint's decode: the smallest keeping 64 pixels.
            const TJpegHeaderInfo header = JpegReadHeader(bytes[i]);
            unsigned denom = 8;
            while (denom > 1 &&
                   unsigned(std::min(header.width, header.height)) / denom < unsigned(MinShortSide))
                denom /= 2;
            std::vector<unsigned char> out;
            unsigned w = 0, h = 0;
            if (!fenwa::bench::referenceJpegDecode(raw[i], denom, true, false, out, w, h))
                return;
            ++decoded;
        });
    }
    const double n = double(bytes.size()) * rounds;
    std::printf("\n| Path, %u threads | Pictures/s | Decoded |\n|---|---|---|\n", threads);
    std::printf("| fingerprint (decode + hash) | %.0f | %zu |\n", n / ours,
                fingerprinted.load() / rounds);
    std::printf("| floor: libjpeg-turbo grey at the same scale | %.0f | %zu |\n", n / floor,
                decoded.load() / rounds);
    return 0;
}
