// Similar pictures: a small labelled corpus of made-up photos and their variants, the
// damaged files the decoder must survive, and the index against the all-pairs walk.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTransform>
#include <atomic>
#include <bit>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sqlite3.h>
#include <sstream>

#include "fifoswap.h"
#include "fingerprint.h"
#include "likeness.h"
#include "madeupphoto.h"
#include "picturefingerprint.h"
#include "scanner.h"
#include "search.h"
#include "searchcache.h"
#include "similarindex.h"
#include "similarsearch.h"

using namespace fenwa::similar;

namespace {

// A search's tools with the similar stage over `fingerprint` at Normal.
std::function<fenwa::SearchTools(const fenwa::SearchRequest&)>
similarTools(RowFingerprinter fingerprint) {
    return [fingerprint](const fenwa::SearchRequest&) {
        return fenwa::SearchTools{
            nullptr, std::make_shared<SimilarPictures>(fingerprint, SimilarLevel::Normal)};
    };
}

PictureReading readRow(const fenwa::FileRecordStore& rows, size_t row, bool) {
    return ReadPictureFile(rows.fullPath(row), true);
}

// A photo-like picture, softened as a camera's would be.
QImage madeUpPhoto(quint32 seed) {
    const QImage image = madeUpScene(seed);
    return image.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage adjusted(const QImage& in, const std::function<int(int)>& f) {
    QImage out = in.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] =
                qRgb(std::clamp(f(qRed(line[x])), 0, 255), std::clamp(f(qGreen(line[x])), 0, 255),
                     std::clamp(f(qBlue(line[x])), 0, 255));
    }
    return out;
}

struct Variant {
    const char* name;
    std::function<QImage(const QImage&)> make;
    const char* format = "jpg";
    int quality = 90;
    QImageIOHandler::Transformation exif = QImageIOHandler::TransformationNone;
};

class SimilarCorpus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "similar_tests";
        static char* argv[] = {name, nullptr};
        if (!QGuiApplication::instance())
            new QGuiApplication(argc, argv);
        PrepareFingerprinting();
    }

    PictureFingerprint fingerprintOf(const QImage& image, const Variant& v) {
        const QString path = dir.filePath(QString("%1.%2").arg(++written).arg(v.format));
        QImageWriter writer(path);
        writer.setQuality(v.quality);
        writer.setTransformation(v.exif);
        EXPECT_TRUE(writer.write(image)) << v.name;
        const std::optional<PictureFingerprint> print = FingerprintFile(path.toStdString());
        EXPECT_TRUE(print.has_value()) << v.name;
        return print.value_or(PictureFingerprint{});
    }

    QTemporaryDir dir;
    int written = 0;
};

} // namespace

TEST_F(SimilarCorpus, VariantsMatchAndUnrelatedPicturesDoNot) {
    const auto turn = [](int degrees) {
        return [degrees](const QImage& i) { return i.transformed(QTransform().rotate(degrees)); };
    };
    const auto crop = [](int percent) {
        return [percent](const QImage& i) {
            const int dx = i.width() * percent / 100, dy = i.height() * percent / 100;
            return i.copy(dx, dy, i.width() - 2 * dx, i.height() - 2 * dy);
        };
    };
    const std::vector<Variant> variants = {
        {"resized to 37%",
         [](const QImage& i) { return i.scaledToWidth(237, Qt::SmoothTransformation); }},
        {"enlarged 1.6x",
         [](const QImage& i) { return i.scaledToWidth(1024, Qt::SmoothTransformation); }},
        {"quality 30", [](const QImage& i) { return i; }, "jpg", 30},
        {"brighter 15%",
         [](const QImage& i) { return adjusted(i, [](int v) { return v * 115 / 100; }); }},
        {"darker 15%",
         [](const QImage& i) { return adjusted(i, [](int v) { return v * 85 / 100; }); }},
        {"contrast -15%",
         [](const QImage& i) {
             return adjusted(i, [](int v) { return 128 + (v - 128) * 85 / 100; });
         }},
        {"greyscale", [](const QImage& i) { return i.convertToFormat(QImage::Format_Grayscale8); }},
        {"crop 3% a side", crop(3)},
        {"crop 5% a side", crop(5)},
        {"saturation +50%",
         [](const QImage& i) {
             QImage out = i.convertToFormat(QImage::Format_RGB32);
             for (int y = 0; y < out.height(); ++y)
                 for (int x = 0; x < out.width(); ++x) {
                     const QColor c = out.pixelColor(x, y);
                     out.setPixelColor(x, y,
                                       QColor::fromHsv(c.hsvHue(),
                                                       std::min(255, c.hsvSaturation() * 3 / 2),
                                                       c.value()));
                 }
             return out;
         }},
        {"256 colours", [](const QImage& i) { return i.convertToFormat(QImage::Format_Indexed8); },
         "bmp"},
        {"BMP", [](const QImage& i) { return i; }, "bmp"},
        {"turned 90", turn(90)},
        {"turned 180", turn(180)},
        {"turned 270", turn(270)},
        {"mirrored", [](const QImage& i) { return i.mirrored(true, false); }},
        {"EXIF-turned", turn(270), "jpg", 90, QImageIOHandler::TransformationRotate90},
    };
    const int normal = LevelThreshold(SimilarLevel::Normal);
    const auto similar = [&](const PictureFingerprint& a, const PictureFingerprint& b) {
        return FingerprintDistance(a.hash, b.hash) <= normal &&
               ConfirmSimilar(a.hash, a.colour, b.hash, b.colour, normal);
    };
    // One drawing in another colour scheme: the grey hash cannot tell, the colours must.
    const auto recoloured = [](const QImage& i) {
        QImage out = i.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x) {
                const QColor c = out.pixelColor(x, y);
                out.setPixelColor(x, y,
                                  QColor::fromHsv((std::max(0, c.hsvHue()) + 120) % 360,
                                                  c.hsvSaturation(), c.value()));
            }
        return out;
    };
    std::vector<uint64_t> originals;
    for (quint32 seed = 1; seed <= 6; ++seed) {
        const QImage photo = madeUpPhoto(seed);
        const PictureFingerprint original = fingerprintOf(photo, {"original", {}});
        for (const Variant& v : variants) {
            const PictureFingerprint copy = fingerprintOf(v.make(photo), v);
            // Colour cannot confirm a grey copy, which then must come closer than the
            // level: the hash itself keeps it within the level.
            if (std::string_view(v.name) == "greyscale")
                EXPECT_LE(FingerprintDistance(original.hash, copy.hash), normal);
            else
                EXPECT_TRUE(similar(original, copy)) << v.name << ", picture " << seed;
        }
        EXPECT_FALSE(similar(original, fingerprintOf(recoloured(photo), {"recoloured", {}})))
            << "picture " << seed;
        originals.push_back(original.hash);
    }
    // A nearly blank picture (a faint mark on white) has no fingerprint to match by.
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(QColor(250, 250, 250));
    QPainter(&blank).fillRect(100, 100, 50, 50, QColor(249, 249, 249));
    const QString blankPath = dir.filePath("blank.bmp");
    ASSERT_TRUE(blank.save(blankPath));
    EXPECT_FALSE(FingerprintFile(blankPath.toStdString()).has_value());
    EXPECT_EQ(ReadPictureFile(blankPath.toStdString(), true).outcome, PictureOutcome::NearlyBlank);
    for (size_t a = 0; a < originals.size(); ++a)
        for (size_t b = a + 1; b < originals.size(); ++b)
            EXPECT_GT(FingerprintDistance(originals[a], originals[b]),
                      LevelThreshold(SimilarLevel::Loose))
                << "pictures " << a + 1 << " and " << b + 1;
}

TEST_F(SimilarCorpus, DamagedFilesGiveNoFingerprintAndNoCrash) {
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        madeUpPhoto(7).save(&buffer, "JPG");
    }
    QByteArray wrongMarkers = jpeg;
    for (qsizetype i = 20; i < wrongMarkers.size(); i += 97)
        wrongMarkers[i] = char(0xFF);
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty.jpg", {}},
        {"start.jpg", QByteArray("\xFF\xD8\xFF", 3)},
        {"header.jpg", jpeg.left(400)},
        {"noise.jpg", QByteArray(5000, '\x5A')},
        {"markers.jpg", wrongMarkers},
        {"text.bmp", QByteArray("BM this is no bitmap")},
        {"text.gif", QByteArray("GIF89a\x01\x00\x01\x00")},
        {"text.emf", QByteArray(200, '\x01')},
    };
    for (const auto& c : cases) {
        // A truncated JPEG may still decode (grey rows fill the rest); it must not crash.
        const PictureReading reading = ReadPictureBytes(c.bytes, c.name, true);
        EXPECT_EQ(reading.print.empty(), !reading.fingerprinted()) << c.name;
        if (c.bytes.size() < 500) {
            EXPECT_EQ(reading.outcome, PictureOutcome::Undecodable) << c.name;
        }
    }
    EXPECT_FALSE(FingerprintFile(dir.path().toStdString()).has_value()); // a directory
}

// Clusters of hashes at exact random distances from random centres, turned at random,
// so that every level has members inside, outside and on its edge; some rows repeat; and
// optionally a crowd of near-blank hashes.
namespace {
std::vector<uint64_t> madeUp(int clusters, int crowd, uint32_t seed) {
    std::mt19937_64 random(seed);
    std::vector<uint64_t> hashes;
    // A crowd of near-blank hashes, more than the index lets share a bucket, and some
    // ordinary neighbours of theirs: bits only where u and v are both even, then one
    // more in each of the other three classes.
    const auto evenBit = [&] { return uint64_t(1) << (16 * (random() % 4) + 2 * (random() % 4)); };
    for (int member = 0; member < crowd; ++member) {
        uint64_t h = 0;
        for (int bits = 1 + int(random() % 8); bits > 0; --bits)
            h |= evenBit() & ~uint64_t(1);
        hashes.push_back(OrientedFingerprint(h, int(random() % 8)));
        if (member % 6 == 0)
            hashes.push_back(OrientedFingerprint(h ^ 0x302, int(random() % 8)));
    }
    for (int cluster = 0; cluster < clusters; ++cluster) {
        const uint64_t centre = random() & ~uint64_t(1);
        for (int member = 0; member < 8; ++member) {
            const int distance = int(random() % 14);
            uint64_t flipped = 0;
            while (std::popcount(flipped) < distance)
                flipped |= uint64_t(2) << (random() % 63);
            hashes.push_back(OrientedFingerprint(centre ^ flipped, int(random() % 8)));
            if (random() % 16 == 0)
                hashes.push_back(hashes.back());
        }
    }
    std::shuffle(hashes.begin(), hashes.end(), random);
    return hashes;
}
} // namespace

TEST(SimilarIndex, GroupsAndFindsNeighboursAsTheAllPairsWalkDoes) {
    // The large set takes the index's joins, the small one its all-pairs path; `confirm`
    // vetoes some members, which must then stay free for later leaders. The neighbours
    // (asked with the veto made symmetric) are exact but for the crowd, whose rows may
    // count as paired.
    const std::function<bool(uint32_t, uint32_t)> everyone;
    const std::function<bool(uint32_t, uint32_t)> someVetoed = [](uint32_t l, uint32_t m) {
        return (l + 2 * m) % 5 != 0;
    };
    const struct {
        int clusters, crowd;
        unsigned threads;
        const std::function<bool(uint32_t, uint32_t)>& confirm;
    } cases[] = {{60, 0, 0, everyone},    {60, 0, 0, someVetoed},  {250, 0, 2, someVetoed},
                 {250, 600, 1, everyone}, {250, 600, 2, everyone}, {250, 600, 2, someVetoed}};
    std::vector<uint64_t> hashes;
    std::vector<uint8_t> distance; // of i < j at i * size + j
    for (const auto& c : cases) {
        if (std::vector<uint64_t> made = madeUp(c.clusters, c.crowd, 42); made != hashes) {
            hashes = made;
            distance.assign(hashes.size() * hashes.size(), 0);
            for (size_t i = 0; i < hashes.size(); ++i)
                for (size_t j = i + 1; j < hashes.size(); ++j)
                    distance[i * hashes.size() + j] =
                        uint8_t(FingerprintDistance(hashes[i], hashes[j]));
        }
        for (int threshold : {0, 3, 4, 7, 8, 11, 12}) {
            std::vector<uint32_t> expected(hashes.size(), UINT32_MAX);
            for (uint32_t i = 0; i < hashes.size(); ++i) {
                if (expected[i] != UINT32_MAX)
                    continue;
                expected[i] = i;
                for (uint32_t j = i + 1; j < hashes.size(); ++j)
                    if (expected[j] == UINT32_MAX && distance[i * hashes.size() + j] <= threshold &&
                        (!c.confirm || c.confirm(i, j)))
                        expected[j] = i;
            }
            const auto said = [&] {
                std::ostringstream s;
                s << hashes.size() << " hashes, threshold " << threshold << ", " << c.threads
                  << " threads" << (c.confirm ? ", some vetoed" : "");
                return s.str();
            };
            EXPECT_EQ(GroupFingerprints(hashes, threshold, {}, nullptr, c.confirm, c.threads),
                      expected)
                << said();
            const auto symmetric = [&](uint32_t a, uint32_t b) {
                return !c.confirm || c.confirm(std::min(a, b), std::max(a, b));
            };
            std::vector<char> paired(hashes.size(), 0);
            for (uint32_t i = 0; i < hashes.size(); ++i)
                for (uint32_t j = i + 1; j < hashes.size(); ++j)
                    if (distance[i * hashes.size() + j] <= threshold && symmetric(i, j))
                        paired[i] = paired[j] = 1;
            const std::vector<char> found =
                ConfirmedNeighbours(hashes, threshold, symmetric, nullptr, c.threads);
            if (c.crowd == 0) {
                EXPECT_EQ(found, paired) << said();
            } else {
                for (size_t i = 0; i < hashes.size(); ++i)
                    EXPECT_TRUE(found[i] || !paired[i]) << said() << ", hash " << i;
            }
        }
    }
}

// Each way of comparing hashes that the processor has gives the plain one's groups.
class SimilarKernel : public ::testing::TestWithParam<IndexKernel> {
protected:
    void TearDown() override { UseIndexKernel(IndexKernel::Best); }
};

TEST_P(SimilarKernel, GroupsAsThePlainKernelDoes) {
    const std::vector<uint64_t> hashes = madeUp(250, 600, 7);
    for (int threshold : {3, 8, 12}) { // all take the joins
        ASSERT_TRUE(UseIndexKernel(IndexKernel::Plain));
        const std::vector<uint32_t> plain =
            GroupFingerprints(hashes, threshold, {}, nullptr, {}, 2);
        if (!UseIndexKernel(GetParam()))
            GTEST_SKIP() << "this processor lacks the kernel";
        EXPECT_EQ(GroupFingerprints(hashes, threshold, {}, nullptr, {}, 2), plain)
            << "threshold " << threshold;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, SimilarKernel,
                         ::testing::Values(IndexKernel::Popcount, IndexKernel::Avx512),
                         [](const auto& kernel) {
                             return kernel.param == IndexKernel::Popcount ? "Popcount" : "Avx512";
                         });

TEST_F(SimilarCorpus, SearchGroupsSimilarPicturesAndCombinesWithName) {
    // a.jpg and its small copy in sub/ are one picture; b.jpg another; c.jpg a turned copy
    // of b named like a; notes.txt, broken.jpg and the nearly blank blank.bmp stay out and
    // are counted.
    QDir(dir.path()).mkdir("sub");
    const auto save = [&](const QImage& image, const QString& name) {
        ASSERT_TRUE(image.save(dir.filePath(name), nullptr, 85));
    };
    save(madeUpPhoto(11), "a.jpg");
    save(madeUpPhoto(11).scaledToWidth(200, Qt::SmoothTransformation), "sub/a.jpg");
    save(madeUpPhoto(12), "b.jpg");
    save(madeUpPhoto(12).transformed(QTransform().rotate(90)), "sub/c.jpg");
    QFile(dir.filePath("notes.txt")).open(QIODevice::WriteOnly);
    QFile broken(dir.filePath("broken.jpg"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\xFF\xD8 not a picture");
    broken.close();
    QImage blank(64, 64, QImage::Format_RGB32);
    blank.fill(QColor(250, 250, 250));
    save(blank, "blank.bmp");

    fenwa::SearchRequest request;
    request.directories = {dir.path().toStdString()};
    request.duplicatesOnly = true;
    request.tools = similarTools(readRow);
    // The groups as sorted name lists, in sorted order: reading order is the system's.
    const auto groupsOf = [&](const fenwa::SearchOutcome& found) {
        std::vector<std::vector<std::string>> groups;
        for (const fenwa::GroupBounds& run : fenwa::groupRuns(found.rows, request.criteria)) {
            groups.emplace_back();
            for (size_t row = run.first; row <= run.last; ++row)
                groups.back().push_back((found.rows.directory(row).ends_with("sub") ? "sub/" : "") +
                                        std::string(found.rows.name(row)));
            std::sort(groups.back().begin(), groups.back().end());
        }
        std::sort(groups.begin(), groups.end());
        return groups;
    };
    using Groups = std::vector<std::vector<std::string>>;
    request.criteria.similar = true;
    request.listLeftOut = true;
    fenwa::SearchOutcome found = fenwa::RunSearch(request);
    EXPECT_EQ(groupsOf(found), (Groups{{"a.jpg", "sub/a.jpg"}, {"b.jpg", "sub/c.jpg"}}));
    const fenwa::SimilarLeftOut& left = found.similarLeftOut;
    EXPECT_EQ(left.notPictures, 1u);
    EXPECT_EQ(left.undecodable, 1u);
    EXPECT_EQ(left.nearlyBlank, 1u);
    // Each file left out is named with its reason, and counted by its kind.
    std::vector<std::pair<std::string, fenwa::LeftOutReason>> named;
    for (const auto& [path, reason] : left.files)
        named.emplace_back(QFileInfo(QString::fromStdString(path)).fileName().toStdString(),
                           reason);
    std::sort(named.begin(), named.end());
    using R = fenwa::LeftOutReason;
    EXPECT_EQ(named, (decltype(named){{"blank.bmp", R::NearlyBlank},
                                      {"broken.jpg", R::Undecodable},
                                      {"notes.txt", R::NotPicture}}));
    EXPECT_EQ(fenwa::DescribeLeftOutKinds(left.kinds[int(R::NotPicture)], 3), "1 .txt");

    request.criteria.name = true; // only a.jpg and sub/a.jpg share a name
    EXPECT_EQ(groupsOf(fenwa::RunSearch(request)), (Groups{{"a.jpg", "sub/a.jpg"}}));
}

// Each kept row carries how alike it is to its group's first row: the first 100, an
// exact copy 100, a smaller copy with a patch painted over a corner less, yet far from
// nothing. In group a the first row is the original, which leads; in group b it is the
// marked copy (read first, outside sub/), so the pair is compared apart from the grouping.
TEST_F(SimilarCorpus, RowsCarryTheirLikenessToTheirGroupsFirstRow) {
    QDir(dir.path()).mkdir("sub");
    const auto save = [&](const QImage& image, const QString& name) {
        ASSERT_TRUE(image.save(dir.filePath(name), nullptr, 90));
    };
    const auto marked = [](QImage image) {
        QPainter painter(&image);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                painter.fillRect(20 + 20 * x, 20 + 20 * y, 20, 20,
                                 (x + y) % 2 ? Qt::black : Qt::white);
        painter.end();
        return image.scaledToWidth(320, Qt::SmoothTransformation);
    };
    save(madeUpPhoto(41), "a.jpg");
    ASSERT_TRUE(QFile::copy(dir.filePath("a.jpg"), dir.filePath("sub/a-twin.jpg")));
    save(marked(madeUpPhoto(41)), "sub/a-marked.jpg");
    save(marked(madeUpPhoto(42)), "b-marked.jpg");
    save(madeUpPhoto(42), "sub/b.jpg");

    fenwa::SearchRequest request;
    request.directories = {dir.path().toStdString()};
    request.duplicatesOnly = true;
    request.criteria.similar = true;
    request.tools = similarTools(readRow);
    const fenwa::SearchOutcome found = fenwa::RunSearch(request);
    std::map<std::string, int> likeness;
    for (size_t row = 0; row < found.rows.size(); ++row)
        likeness[std::string(found.rows.name(row))] = found.rows.likeness(row);
    ASSERT_EQ(likeness.size(), 5u);
    EXPECT_EQ(likeness["a.jpg"], 100);
    EXPECT_EQ(likeness["a-twin.jpg"], 100);
    EXPECT_EQ(likeness["b-marked.jpg"], 100);
    for (const char* copy : {"a-marked.jpg", "b.jpg"}) {
        EXPECT_LT(likeness[copy], 100) << copy;
        EXPECT_GT(likeness[copy], 50) << copy;
    }
}

// x.bmp keeps turning into a FIFO with no writer: its fingerprint is the picture's or
// nothing, and a Similar search over the folder always finishes.
TEST_F(SimilarCorpus, AFifoSwappedInForAPictureNeverHoldsUpTheSearch) {
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(madeUpPhoto(13).scaledToWidth(160).save(&buffer, "BMP"));
    ASSERT_TRUE(madeUpPhoto(13).scaledToWidth(160).save(dir.filePath("y.bmp"), "BMP"));
    const std::string x = dir.filePath("x.bmp").toStdString();
    const std::optional<PictureFingerprint> expected = FingerprintBytes(bmp, "x.bmp");
    ASSERT_TRUE(expected.has_value());
    EXPECT_TRUE(fenwa::testing::ReaderSurvivesFifoSwaps(x, bmp.toStdString(), [&] {
        const std::optional<PictureFingerprint> print = FingerprintFile(x);
        EXPECT_TRUE(!print || print->hash == expected->hash);
    }));

    fenwa::SearchRequest request;
    request.directories = {dir.path().toStdString()};
    request.duplicatesOnly = true;
    request.criteria.similar = true;
    request.tools = similarTools([](const fenwa::FileRecordStore& rows, size_t row, bool print) {
        return CachedPicture(nullptr, rows, row, print);
    });
    EXPECT_TRUE(fenwa::testing::ReaderSurvivesFifoSwaps(
        x, bmp.toStdString(), [&] { EXPECT_FALSE(fenwa::RunSearch(request).cancelled); }, 150));
}

TEST_F(SimilarCorpus, LargestFileLeadsSoThatCopiesFartherApartStayTogether) {
    // Two copies each 5 bits from the original and 10 from one another (a grey copy and a
    // crop), read before it (it is in a subfolder): the original, the largest file, leads
    // and takes both.
    const uint64_t original = 0x9E3779B97F4A7C14;
    const struct {
        const char* name;
        int bytes;
        uint64_t hash;
    } files[] = {{"grey.jpg", 2000, original ^ 0x3E},
                 {"crop.jpg", 1000, original ^ 0x7C00},
                 {"sub/original.jpg", 3000, original},
                 {"other.jpg", 4000, ~original & ~1ull}};
    QDir(dir.path()).mkdir("sub");
    for (const auto& f : files) {
        QFile file(dir.filePath(f.name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(f.bytes, 'x'));
    }
    ASSERT_EQ(FingerprintDistance(files[0].hash, files[1].hash), 10);
    fenwa::SearchRequest request;
    request.directories = {dir.path().toStdString()};
    request.duplicatesOnly = true;
    request.criteria.similar = true;
    // One picture's print for all: the prints agree, and the hashes decide.
    std::vector<uint8_t> grey(64 * 64);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = uint8_t(i % 64 * 3 + i / 64 * 2);
    const std::string print = MakeLikenessPrint(grey.data(), 64, 64, 64, 1);
    request.tools = similarTools([&](const fenwa::FileRecordStore& rows, size_t row, bool) {
        for (const auto& f : files)
            if (std::string_view(f.name).ends_with(rows.name(row)))
                return PictureReading{
                    PictureOutcome::Fingerprinted, {f.hash, 0x1111111111111111, {}}, print};
        return PictureReading{};
    });
    const fenwa::SearchOutcome found = fenwa::RunSearch(request);
    std::vector<std::string> names;
    for (size_t row = 0; row < found.rows.size(); ++row)
        names.emplace_back(found.rows.name(row));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"crop.jpg", "grey.jpg", "original.jpg"}));
}

namespace {
std::atomic<int> decodes{0};
PictureReading countingDecode(const std::string& path) {
    ++decodes;
    return ReadPictureFile(path, true);
}
} // namespace

TEST_F(SimilarCorpus, CacheSparesDecodingUnchangedFilesAndRebuildsWhatItCannotTrust) {
    const QString pictures = dir.filePath("pictures");
    QDir().mkpath(pictures);
    ASSERT_TRUE(madeUpPhoto(21).save(pictures + "/a.jpg"));
    ASSERT_TRUE(madeUpPhoto(22).save(pictures + "/b.bmp"));
    QFile broken(pictures + "/broken.gif");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly) && broken.write("GIF89a") == 6);
    broken.close();
    const std::string cachePath = dir.filePath("cache/fingerprints.sqlite").toStdString();

    // Fingerprints every row through a cache opened afresh; answers the decodes made.
    std::vector<std::optional<PictureFingerprint>> hashes;
    const auto fingerprintOf = [](const PictureReading& reading) {
        return reading.fingerprinted() ? std::optional(reading.fingerprint) : std::nullopt;
    };
    const auto search = [&] {
        fenwa::FileRecordStore rows;
        fenwa::ReadDirectory(pictures.toStdString(), rows, false);
        decodes = 0;
        hashes.clear();
        SearchCache cache(cachePath);
        cache.setSettleSeconds(0); // the pictures were written a moment ago
        EXPECT_TRUE(cache.usable());
        for (size_t row = 0; row < rows.size(); ++row)
            hashes.push_back(
                fingerprintOf(CachedPicture(&cache, rows, row, false, countingDecode)));
        std::sort(hashes.begin(), hashes.end());
        return decodes.load();
    };
    EXPECT_EQ(search(), 3);
    const auto first = hashes;
    EXPECT_EQ(search(), 0); // undecodable files are remembered too
    EXPECT_EQ(hashes, first);

    ASSERT_TRUE(madeUpPhoto(23).save(pictures + "/a.jpg")); // a changed file
    EXPECT_EQ(search(), 1);
    EXPECT_NE(hashes, first);

    const auto replaceCache = [&](const QByteArray& bytes) {
        QFile file(QString::fromStdString(cachePath));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    replaceCache(QByteArray(4096, 'x')); // not a database
    EXPECT_EQ(search(), 3);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(cachePath) + ".set-aside"));
    EXPECT_EQ(search(), 0);

    QFile cacheFile(QString::fromStdString(cachePath));
    ASSERT_TRUE(cacheFile.open(QIODevice::ReadWrite));
    QByteArray bytes = cacheFile.readAll();
    cacheFile.close();
    bytes.replace("fenwa-fingerprints", "someone-elses-data"); // a foreign file
    replaceCache(bytes);
    EXPECT_EQ(search(), 3);
}

// A Similar search through the cache: the first decodes each picture once, prints and
// all; a second decodes nothing; one whose cache lost the prints decodes only the
// pictures with a neighbour; a picture whose print cannot be made is grouped with nobody.
TEST_F(SimilarCorpus, PrintsAreAskedOnlyOfCandidatesAndKeptForTheNextSearch) {
    const QString pictures = dir.filePath("pictures");
    QDir().mkpath(pictures);
    ASSERT_TRUE(madeUpPhoto(31).save(pictures + "/a.jpg"));
    ASSERT_TRUE(
        madeUpPhoto(31).scaledToWidth(200, Qt::SmoothTransformation).save(pictures + "/copy.jpg"));
    ASSERT_TRUE(madeUpPhoto(32).save(pictures + "/b.jpg"));
    QImage blank(64, 64, QImage::Format_RGB32);
    blank.fill(QColor(250, 250, 250));
    ASSERT_TRUE(blank.save(pictures + "/blank.bmp"));
    QFile broken(pictures + "/broken.gif");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly) && broken.write("GIF89a") == 6);
    broken.close();
    const std::string cachePath = dir.filePath("cache/fingerprints.sqlite").toStdString();

    std::mutex mutex;
    std::set<std::string> askedPrint;
    std::string printless; // a name whose print is never made
    const auto search = [&](std::vector<std::string>* grouped = nullptr,
                            fenwa::SimilarLeftOut* leftOut = nullptr) {
        decodes = 0;
        askedPrint.clear();
        auto cache = std::make_shared<SearchCache>(cachePath);
        cache->setSettleSeconds(0); // the pictures were written a moment ago
        fenwa::SearchRequest request;
        request.directories = {pictures.toStdString()};
        request.duplicatesOnly = true;
        request.criteria.similar = true;
        request.tools = [&, cache](const fenwa::SearchRequest&) {
            const auto read = [&, cache](const fenwa::FileRecordStore& rows, size_t row,
                                         bool withPrint) {
                PictureReading reading =
                    CachedPicture(cache.get(), rows, row, withPrint, countingDecode);
                std::lock_guard lock(mutex);
                if (withPrint)
                    askedPrint.emplace(rows.name(row));
                if (rows.name(row) == printless)
                    reading.print.clear();
                return reading;
            };
            const auto keep = [cache](const fenwa::FileRecordStore& rows, size_t row,
                                      const PictureReading& reading) {
                KeepPicturePrint(cache.get(), rows, row, reading);
            };
            return fenwa::SearchTools{
                cache, std::make_shared<SimilarPictures>(read, SimilarLevel::Normal, keep)};
        };
        const fenwa::SearchOutcome found = fenwa::RunSearch(request);
        EXPECT_EQ(found.cacheProblem, "");
        if (grouped)
            for (size_t row = 0; row < found.rows.size(); ++row)
                grouped->emplace_back(found.rows.name(row));
        if (leftOut)
            *leftOut = found.similarLeftOut;
        return decodes.load();
    };
    const std::set<std::string> candidates = {"a.jpg", "copy.jpg"};
    std::vector<std::string> grouped;
    fenwa::SimilarLeftOut leftOut;
    EXPECT_EQ(search(&grouped, &leftOut), 5); // each once: the prints were made on the way
    std::sort(grouped.begin(), grouped.end());
    EXPECT_EQ(grouped, (std::vector<std::string>{"a.jpg", "copy.jpg"}));
    EXPECT_EQ(leftOut.undecodable, 1u);
    EXPECT_EQ(leftOut.nearlyBlank, 1u);
    EXPECT_EQ(askedPrint, std::set<std::string>());

    EXPECT_EQ(search(), 0);
    EXPECT_EQ(askedPrint, candidates); // from the cache

    // A cache that knows the fingerprints without prints: only the candidates are decoded.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(cachePath.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE fingerprints SET print = NULL", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(search(), 2);
    EXPECT_EQ(askedPrint, candidates);
    EXPECT_EQ(search(), 0);

    printless = "copy.jpg";
    grouped.clear();
    search(&grouped, &leftOut);
    EXPECT_EQ(grouped, std::vector<std::string>());
    EXPECT_EQ(leftOut.undecodable, 2u);
}
