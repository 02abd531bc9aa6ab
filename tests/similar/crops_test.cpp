// Crops: the hashes of a picture's centred parts, and grouping that also joins a whole
// hash to another picture's part, against the all-pairs walk.

#include <gtest/gtest.h>

#include <QImage>
#include <bit>
#include <numeric>
#include <optional>
#include <random>
#include <tuple>

#include "fingerprint.h"
#include "madeupphoto.h"
#include "similarindex.h"

using namespace fenwa::similar;

namespace {

std::vector<uint8_t> greyOf(const QImage& image) {
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    std::vector<uint8_t> out(size_t(grey.width()) * size_t(grey.height()));
    for (int y = 0; y < grey.height(); ++y)
        std::copy_n(grey.constScanLine(y), grey.width(), out.begin() + y * grey.width());
    return out;
}

uint64_t wholeHash(const QImage& image) {
    const std::vector<uint8_t> grey = greyOf(image);
    return FingerprintGrey(grey.data(), image.width(), image.height(), image.width()).value_or(0);
}

CentreHashes centresOf(const QImage& image) {
    const std::vector<uint8_t> grey = greyOf(image);
    return CentreFingerprints(grey.data(), image.width(), image.height(), image.width());
}

} // namespace

// A 640 x 480 picture's parts fall on whole pixels (square 480 at x 80, 16:9 640 x 360 at
// y 60, the centre 512 x 384 at (64, 48)), so each part's hash is the crop's own, bit for
// bit; a crop resized as a copy is, and the part of a turned picture, stay within
// CropThreshold.
TEST(SimilarCrops, APartHashesAsACopyCroppedToItDoes) {
    const QRect parts[CentreParts] = {{80, 0, 480, 480}, {0, 60, 640, 360}, {64, 48, 512, 384}};
    for (quint32 seed : {3u, 11u, 29u}) {
        const QImage photo = madeUpScene(seed)
                                 .scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const CentreHashes centre = centresOf(photo);
        const CentreHashes turned = centresOf(photo.transformed(QTransform().rotate(90)));
        for (int k = 0; k < CentreParts; ++k) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", part " << k);
            const QImage crop = photo.copy(parts[k]);
            ASSERT_NE(centre[size_t(k)], 0u);
            EXPECT_EQ(centre[size_t(k)], wholeHash(crop));
            EXPECT_LE(
                FingerprintDistance(centre[size_t(k)],
                                    wholeHash(crop.scaled(crop.size() / 2, Qt::KeepAspectRatio,
                                                          Qt::SmoothTransformation))),
                CropThreshold);
            EXPECT_LE(FingerprintDistance(centre[size_t(k)], turned[size_t(k)]), CropThreshold);
        }
    }
    // No part where it would be under 32 pixels, nearly blank, or nearly the whole.
    const QImage square = madeUpScene(5).scaled(300, 300);
    EXPECT_EQ(centresOf(square)[0], 0u);
    EXPECT_NE(centresOf(square)[1], 0u);
    EXPECT_EQ(centresOf(madeUpScene(5).scaled(36, 36)), CentreHashes{});
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(Qt::white);
    EXPECT_EQ(centresOf(blank), CentreHashes{});
}

namespace {

// Whole hashes in loose clusters (some repeated), each picture with three centre hashes,
// some zero; planted: a whole hash near another picture's part, or a part near another's
// whole hash, at 0 to CropThreshold + 1 bits and turned at random.
std::pair<std::vector<uint64_t>, std::vector<CentreHashes>> madeUpWithCrops(int clusters,
                                                                            uint32_t seed) {
    std::mt19937_64 random(seed);
    const auto near = [&](uint64_t h, int most) {
        for (int bits = int(random() % uint64_t(most + 1)); bits > 0; --bits)
            h ^= uint64_t(2) << (random() % 63);
        return OrientedFingerprint(h, int(random() % 8));
    };
    std::vector<uint64_t> hashes;
    std::vector<CentreHashes> centres;
    for (int cluster = 0; cluster < clusters; ++cluster) {
        const uint64_t h = random() & ~uint64_t(1);
        for (int member = 0; member < 4; ++member) {
            hashes.push_back(member == 3 && random() % 2 ? hashes.back() : near(h, 12));
            CentreHashes c;
            for (uint64_t& part : c)
                part = random() % 5 == 0 ? 0 : random() & ~uint64_t(1);
            centres.push_back(c);
        }
    }
    const size_t n = hashes.size();
    for (size_t planted = 0; planted < n / 2; ++planted) {
        const size_t a = random() % n, b = random() % n;
        const size_t part = random() % CentreParts;
        if (random() % 2)
            hashes[a] = near(centres[b][part] | 2, CropThreshold + 1);
        else
            centres[a][part] = near(hashes[b], CropThreshold + 1);
    }
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t(0));
    std::shuffle(order.begin(), order.end(), random);
    std::vector<uint64_t> h(n);
    std::vector<CentreHashes> c(n);
    for (size_t i = 0; i < n; ++i)
        h[i] = hashes[order[i]], c[i] = centres[order[i]];
    return {h, c};
}

} // namespace

TEST(SimilarCrops, GroupsAsTheAllPairsWalkDoes) {
    using Call = std::tuple<uint32_t, uint32_t, PairMatch>;
    // The small set takes the all-pairs paths, the large one the joins.
    for (int clusters : {60, 700}) {
        const auto [hashes, centres] = madeUpWithCrops(clusters, 17);
        const uint32_t n = uint32_t(hashes.size());
        for (int threshold : {3, 7}) {
            SCOPED_TRACE(testing::Message() << n << " pictures, threshold " << threshold);
            // Some members refused, so that they stay free for later leaders.
            const auto refuses = [](uint32_t l, uint32_t m) { return (l + 2 * m) % 7 == 0; };
            std::vector<Call> expectedCalls, calls;
            std::vector<uint32_t> expected(n, UINT32_MAX);
            std::vector<PairMatch> expectedHow(n);
            for (uint32_t i = 0; i < n; ++i) {
                if (expected[i] != UINT32_MAX)
                    continue;
                expected[i] = i;
                for (uint32_t j = i + 1; j < n; ++j) {
                    if (expected[j] != UINT32_MAX)
                        continue;
                    std::optional<PairMatch> how;
                    if (FingerprintDistance(hashes[i], hashes[j]) <= threshold)
                        how = PairMatch{};
                    for (uint8_t p = 0; p < CentreParts && !how; ++p)
                        if (centres[i][p] &&
                            FingerprintDistance(hashes[j], centres[i][p]) <= CropThreshold)
                            how = PairMatch{PairMatch::LeaderPart, p};
                    for (uint8_t p = 0; p < CentreParts && !how; ++p)
                        if (centres[j][p] &&
                            FingerprintDistance(hashes[i], centres[j][p]) <= CropThreshold)
                            how = PairMatch{PairMatch::MemberPart, p};
                    if (!how)
                        continue;
                    expectedCalls.emplace_back(i, j, *how);
                    if (!refuses(i, j))
                        expected[j] = i, expectedHow[j] = *how;
                }
            }
            for (unsigned threads : {1u, 2u}) {
                std::vector<PairMatch> how;
                calls.clear();
                EXPECT_EQ(GroupFingerprintsWithCrops(
                              hashes, centres, threshold, CropThreshold, {}, nullptr,
                              [&](uint32_t l, uint32_t m, PairMatch match) {
                                  calls.emplace_back(l, m, match);
                                  return !refuses(l, m);
                              },
                              threads, &how),
                          expected)
                    << threads << " threads";
                EXPECT_TRUE(calls == expectedCalls) << threads << " threads";
                EXPECT_TRUE(how == expectedHow) << threads << " threads";
            }
            // Every relation was planted and met.
            size_t kinds[3] = {};
            for (const auto& [l, m, match] : calls)
                ++kinds[match.kind];
            EXPECT_GT(kinds[PairMatch::LeaderPart], 0u);
            EXPECT_GT(kinds[PairMatch::MemberPart], 0u);
        }
    }
}
