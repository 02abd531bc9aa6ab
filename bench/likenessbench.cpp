// What the likeness check measures on a labelled corpus (written by
// `fenwa-bench-similar --write-corpus`): every pair the fingerprint makes a candidate at
// the loose level, with the check's measures, one line a pair, for choosing its limits.
//
//   fenwa-bench-likeness DIR > pairs.tsv
//
// Columns: source and kind of the leader (the larger file) and of the member, 1 when
// they are copies of one source, hash distance, whether the colour layouts confirm at
// normal, and the measures (MeasureLikeness), then whether VerifyLikeness accepts at each
// level.

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QTextStream>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fingerprint.h"
#include "likeness.h"
#include "picturefingerprint.h"

using namespace fenwa::similar;

namespace {

struct Picture {
    QString file, source, kind;
    qint64 size = 0;
    uint64_t hash = 0, colour = 0;
    std::string print;
};

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fenwa-bench-likeness DIR\n");
        return 1;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QFile labels(dir + "/labels.tsv");
    if (!labels.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "no labels.tsv in %s\n", argv[1]);
        return 1;
    }
    std::vector<Picture> pictures;
    QTextStream in(&labels);
    while (!in.atEnd()) {
        const QStringList f = in.readLine().split('\t');
        if (f.size() < 3)
            continue;
        if (qEnvironmentVariableIsSet("FENWA_LIKENESS_AS_SEARCH")) {
            // As the search reads pictures: reduced JPEG decodes, the picture loaders.
            PrepareFingerprinting();
            const PictureReading r = ReadPictureFile((dir + "/" + f[0]).toStdString(), true);
            if (!r.fingerprinted())
                continue;
            Picture p;
            p.file = f[0], p.source = f[1], p.kind = f[2];
            p.size = QFileInfo(dir + "/" + f[0]).size();
            p.hash = r.fingerprint.hash, p.colour = r.fingerprint.colour, p.print = r.print;
            pictures.push_back(std::move(p));
            continue;
        }
        QImageReader reader(dir + "/" + f[0]);
        reader.setAutoTransform(false);
        const QImage image = reader.read().convertToFormat(QImage::Format_RGB888);
        if (image.isNull())
            continue;
        Picture p;
        p.file = f[0], p.source = f[1], p.kind = f[2];
        p.size = QFileInfo(dir + "/" + f[0]).size();
        std::vector<uint8_t> grey(size_t(image.width()) * size_t(image.height()));
        for (int y = 0; y < image.height(); ++y) {
            const uchar* s = image.constScanLine(y);
            for (int x = 0; x < image.width(); ++x)
                grey[size_t(y) * size_t(image.width()) + size_t(x)] =
                    uint8_t((s[3 * x] * 77 + s[3 * x + 1] * 150 + s[3 * x + 2] * 29 + 128) >> 8);
        }
        const auto hash =
            FingerprintGrey(grey.data(), image.width(), image.height(), image.width());
        if (!hash)
            continue;
        p.hash = *hash;
        p.colour = ColourLayout(image.constBits(), image.width(), image.height(),
                                int(image.bytesPerLine()));
        p.print = MakeLikenessPrint(image.constBits(), image.width(), image.height(),
                                    int(image.bytesPerLine()), 3);
        pictures.push_back(std::move(p));
    }
    size_t raw = 0, packed = 0;
    for (const Picture& p : pictures) {
        raw += p.print.size();
        packed += size_t(qCompress(QByteArray::fromStdString(p.print)).size());
    }
    std::fprintf(stderr, "%zu pictures, prints %.0f bytes each, %.0f compressed\n", pictures.size(),
                 double(raw) / double(pictures.size()), double(packed) / double(pictures.size()));
    std::map<std::pair<QString, QString>, int> pairsOf;
    double seconds = 0;
    long checks = 0;
    std::printf("leader\tlkind\tmember\tmkind\tsame\tdist\tcolour\torient\tgain\toffset\tsat\t"
                "residual\tcovered\tarea\tregions\tstructure\tmean\tchroma\tsbc\tcbc\tspread\t"
                "typical\tuneasy\tstrict\tnormal\tloose\n");
    ;
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t j = i + 1; j < pictures.size(); ++j) {
            const Picture *a = &pictures[i], *b = &pictures[j];
            if (b->size > a->size)
                std::swap(a, b);
            const int d = FingerprintDistance(a->hash, b->hash);
            // Every copy with its original, candidate or not (to see what the fingerprint
            // misses); pairs of different sources only where the fingerprint would ask.
            if (d > LevelThreshold(SimilarLevel::Loose) && a->source != b->source)
                continue;
            // Copies against their original; at most 40 pairs of two different sources.
            if (a->source == b->source
                    ? a->kind != "original" && b->kind != "original"
                    : ++pairsOf[{std::min(a->source, b->source), std::max(a->source, b->source)}] >
                          40)
                continue;
            const auto t0 = std::chrono::steady_clock::now();
            const LikenessMeasure m = MeasureLikeness(a->print, a->hash, b->print, b->hash);
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            ++checks;
            std::printf("%s\t%s\t%s\t%s\t%d\t%d\t%d\t%d\t%.3f\t%.1f\t%.2f\t%.2f\t%.3f\t%.3f\t%d\t%."
                        "3f\t%.1f\t%.1f\t%.3f\t%.1f\t%.3f\t%.4f\t%d\t%d\t%d\t%d\n",
                        qPrintable(a->source), qPrintable(a->kind), qPrintable(b->source),
                        qPrintable(b->kind), a->source == b->source, d,
                        ConfirmSimilar(a->hash, a->colour, b->hash, b->colour, 7), m.orientation,
                        m.gain, m.offset, m.saturation, m.residual, m.covered, m.area, m.regions,
                        m.worstStructure, m.worstMean, m.worstChroma, m.structureBesideCorner,
                        m.chromaBesideCorner, m.spread, m.typicalStructure, m.uneasyRegions,

                        VerifyLikeness(a->print, a->hash, b->print, b->hash, SimilarLevel::Strict),
                        VerifyLikeness(a->print, a->hash, b->print, b->hash, SimilarLevel::Normal),
                        VerifyLikeness(a->print, a->hash, b->print, b->hash, SimilarLevel::Loose));
        }
    std::fprintf(stderr, "%ld checks, %.3f ms each\n", checks,
                 checks ? 1e3 * seconds / checks : 0.0);
    return 0;
}
