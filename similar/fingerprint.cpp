#include "fingerprint.h"

#include <array>
#include <bit>
#include <cmath>
#include <numbers>
#include <vector>

namespace fenwa::similar {

namespace {

constexpr int Side = 32; // the reduced picture
constexpr int Low = 8;   // coefficients kept per axis

// Weights of the source samples that fall in each of the Side cells of an axis of
// `length` samples, by exact overlap, so that a mirrored picture reduces to the mirror
// of the reduced picture.
struct AxisWeights {
    std::vector<int> first;      // per cell, the first source sample
    std::vector<int> count;      // per cell, how many samples
    std::vector<double> weights; // per cell, count entries in a row
    std::vector<size_t> offset;  // per cell, into weights
};

AxisWeights axisWeights(int length) {
    AxisWeights a;
    const double step = double(length) / Side;
    for (int cell = 0; cell < Side; ++cell) {
        const double lo = cell * step, hi = (cell + 1) * step;
        const int from = int(std::floor(lo));
        const int to = std::min(length, int(std::ceil(hi)));
        a.first.push_back(from);
        a.count.push_back(to - from);
        a.offset.push_back(a.weights.size());
        for (int s = from; s < to; ++s)
            a.weights.push_back((std::min(hi, double(s + 1)) - std::max(lo, double(s))) / step);
    }
    return a;
}

// cos(pi (2x + 1) u / 2 Side) for the kept frequencies.
const std::array<std::array<double, Side>, Low>& cosines() {
    static const auto table = [] {
        std::array<std::array<double, Side>, Low> t{};
        for (int u = 0; u < Low; ++u)
            for (int x = 0; x < Side; ++x)
                t[size_t(u)][size_t(x)] =
                    std::cos(std::numbers::pi * (2 * x + 1) * u / (2.0 * Side));
        return t;
    }();
    return table;
}

// The bits of odd u (horizontal) and of odd v (vertical).
constexpr uint64_t OddColumns = 0xAAAAAAAAAAAAAAAAull;
constexpr uint64_t OddRows = 0xFF00FF00FF00FF00ull;

// Swaps bit 8v + u with bit 8u + v.
uint64_t transpose(uint64_t x) {
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

} // namespace

uint64_t FingerprintGrey(const uint8_t* pixels, int width, int height, int stride) {
    if (!pixels || width <= 0 || height <= 0)
        return 0;
    const AxisWeights ax = axisWeights(width), ay = axisWeights(height);
    // Rows first: each source row reduced to Side columns.
    std::vector<double> rows(size_t(height) * Side);
    for (int y = 0; y < height; ++y) {
        const uint8_t* line = pixels + size_t(y) * size_t(stride);
        for (int cell = 0; cell < Side; ++cell) {
            const double* w = ax.weights.data() + ax.offset[size_t(cell)];
            const uint8_t* s = line + ax.first[size_t(cell)];
            double sum = 0;
            for (int i = 0; i < ax.count[size_t(cell)]; ++i)
                sum += w[i] * s[i];
            rows[size_t(y) * Side + size_t(cell)] = sum;
        }
    }
    std::array<double, Side * Side> small{};
    for (int cell = 0; cell < Side; ++cell) {
        const double* w = ay.weights.data() + ay.offset[size_t(cell)];
        for (int i = 0; i < ay.count[size_t(cell)]; ++i) {
            const double* row = rows.data() + size_t(ay.first[size_t(cell)] + i) * Side;
            for (int x = 0; x < Side; ++x)
                small[size_t(cell) * Side + size_t(x)] += w[i] * row[x];
        }
    }
    // The separable DCT, only the kept frequencies.
    const auto& c = cosines();
    std::array<double, Side * Low> half{}; // [y][u]
    for (int y = 0; y < Side; ++y)
        for (int u = 0; u < Low; ++u) {
            double sum = 0;
            for (int x = 0; x < Side; ++x)
                sum += c[size_t(u)][size_t(x)] * small[size_t(y) * Side + size_t(x)];
            half[size_t(y) * Low + size_t(u)] = sum;
        }
    uint64_t hash = 0;
    for (int v = 0; v < Low; ++v)
        for (int u = 0; u < Low; ++u) {
            if (u == 0 && v == 0)
                continue;
            double sum = 0;
            for (int y = 0; y < Side; ++y)
                sum += c[size_t(v)][size_t(y)] * half[size_t(y) * Low + size_t(u)];
            // Rounding noise of a flat picture must not decide bits.
            if (sum > 1e-6 * Side * Side)
                hash |= uint64_t(1) << (8 * v + u);
        }
    return hash;
}

uint64_t OrientedFingerprint(uint64_t hash, int orientation) {
    if (orientation & 4)
        hash = transpose(hash);
    if (orientation & 1)
        hash ^= OddColumns;
    if (orientation & 2)
        hash ^= OddRows;
    return hash;
}

int FingerprintDistance(uint64_t a, uint64_t b) {
    int best = 64;
    for (int o = 0; o < 8; ++o)
        best = std::min(best, std::popcount(a ^ OrientedFingerprint(b, o)));
    return best;
}

int LevelThreshold(SimilarLevel level) {
    switch (level) {
    case SimilarLevel::Strict:
        return 3;
    case SimilarLevel::Normal:
        return 7;
    case SimilarLevel::Loose:
        return 11;
    }
    return 7;
}

} // namespace fenwa::similar
