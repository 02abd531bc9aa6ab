#include "fingerprint.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>
#include <vector>

namespace fenwa::similar {

namespace {

constexpr int Side = 32; // the reduced picture
constexpr int Low = 8;   // coefficients kept per axis

// Weights of the source samples that fall in each of the Side cells of the span
// [start, end) of an axis of `length` samples, by exact overlap, so that a mirrored
// picture reduces to the mirror of the reduced picture. A centred part's span has
// fractional ends.
struct AxisWeights {
    std::vector<int> first;      // per cell, the first source sample
    std::vector<int> count;      // per cell, how many samples
    std::vector<double> weights; // per cell, count entries in a row
    std::vector<size_t> offset;  // per cell, into weights
};

AxisWeights axisWeights(double start, double end, int length) {
    AxisWeights a;
    const double step = (end - start) / Side;
    for (int cell = 0; cell < Side; ++cell) {
        const double lo = start + cell * step, hi = start + (cell + 1) * step;
        const int from = std::max(0, int(std::floor(lo)));
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

// 0.5 - 0.5 cos(2 pi t) over the cell centres: symmetric, so mirroring still negates
// exactly the odd coefficients.
const std::array<double, Side>& window() {
    static const auto table = [] {
        std::array<double, Side> t{};
        for (int x = 0; x < Side; ++x)
            t[size_t(x)] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (x + 0.5) / Side);
        return t;
    }();
    return table;
}

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

// The hash of the part of a picture the two axes' weights cover, or nothing when that part
// is nearly blank.
std::optional<uint64_t> hashOf(const uint8_t* pixels, int stride, const AxisWeights& ax,
                               const AxisWeights& ay) {
    // Rows first: each source row the part spans reduced to Side columns.
    const int top = ay.first.front();
    const int bottom = ay.first.back() + ay.count.back();
    std::vector<double> rows(size_t(bottom - top) * Side);
    for (int y = top; y < bottom; ++y) {
        const uint8_t* line = pixels + size_t(y) * size_t(stride);
        for (int cell = 0; cell < Side; ++cell) {
            const double* w = ax.weights.data() + ax.offset[size_t(cell)];
            const uint8_t* s = line + ax.first[size_t(cell)];
            double sum = 0;
            for (int i = 0; i < ax.count[size_t(cell)]; ++i)
                sum += w[i] * s[i];
            rows[size_t(y - top) * Side + size_t(cell)] = sum;
        }
    }
    std::array<double, Side * Side> small{};
    for (int cell = 0; cell < Side; ++cell) {
        const double* w = ay.weights.data() + ay.offset[size_t(cell)];
        for (int i = 0; i < ay.count[size_t(cell)]; ++i) {
            const double* row = rows.data() + size_t(ay.first[size_t(cell)] - top + i) * Side;
            for (int x = 0; x < Side; ++x)
                small[size_t(cell) * Side + size_t(x)] += w[i] * row[x];
        }
    }
    // A nearly blank picture (a transparent overlay seen on white) has only noise to sign.
    double mean = 0, variance = 0;
    for (double v : small)
        mean += v;
    mean /= Side * Side;
    for (double v : small)
        variance += (v - mean) * (v - mean);
    if (std::sqrt(variance / (Side * Side)) < BlankDeviation)
        return std::nullopt;
    // Centre-weighted: the Hann window fades the border out, so what a small crop, a
    // slight turn or a corner mark changes there moves few signs.
    const auto& w = window();
    for (int y = 0; y < Side; ++y)
        for (int x = 0; x < Side; ++x) {
            double& v = small[size_t(y) * Side + size_t(x)];
            v = (v - mean) * w[size_t(x)] * w[size_t(y)];
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

} // namespace

std::optional<uint64_t> FingerprintGrey(const uint8_t* pixels, int width, int height, int stride) {
    const GreyFingerprint grey = FingerprintGreyOutcome(pixels, width, height, stride);
    return grey.outcome == GreyOutcome::Hashed ? std::optional(grey.hash) : std::nullopt;
}

GreyFingerprint FingerprintGreyOutcome(const uint8_t* pixels, int width, int height, int stride) {
    if (!pixels || width <= 0 || height <= 0)
        return {GreyOutcome::Empty, 0};
    const std::optional<uint64_t> hash =
        hashOf(pixels, stride, axisWeights(0, width, width), axisWeights(0, height, height));
    return hash ? GreyFingerprint{GreyOutcome::Hashed, *hash}
                : GreyFingerprint{GreyOutcome::NearlyBlank, 0};
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

namespace {

constexpr int Grid = 4;
constexpr int HueSteps = 15;
// Chroma (distance from grey, in levels of B - Y and R - Y) a cell needs for a hue.
constexpr double MinChroma = 6;
// Cells coloured in both layouts needed before colour can disagree.
constexpr int MinColouredCells = 4;

int cellOf(uint64_t layout, int cell) {
    return int(layout >> (4 * cell)) & 15;
}

// The cell that lands on (row, column) under one of the eight orientations.
int orientedCell(int row, int column, int orientation) {
    if (orientation & 1)
        column = Grid - 1 - column;
    if (orientation & 2)
        row = Grid - 1 - row;
    if (orientation & 4)
        std::swap(row, column);
    return Grid * row + column;
}

} // namespace

uint64_t ColourLayout(const uint8_t* rgb, int width, int height, int stride, ColourSpace space) {
    if (!rgb || width <= 0 || height <= 0)
        return 0;
    uint64_t layout = 0;
    for (int row = 0; row < Grid; ++row)
        for (int column = 0; column < Grid; ++column) {
            const int x0 = column * width / Grid,
                      x1 = std::max(x0 + 1, (column + 1) * width / Grid);
            const int y0 = row * height / Grid, y1 = std::max(y0 + 1, (row + 1) * height / Grid);
            double r = 0, g = 0, b = 0;
            for (int y = y0; y < std::min(y1, height); ++y) {
                const uint8_t* p = rgb + size_t(y) * size_t(stride) + size_t(x0) * 3;
                for (int x = x0; x < std::min(x1, width); ++x, p += 3)
                    r += p[0], g += p[1], b += p[2];
            }
            const double n = double(std::min(y1, height) - y0) * (std::min(x1, width) - x0);
            r /= n, g /= n, b /= n;
            // B - Y and R - Y; JPEG stores them scaled and offset by 128.
            const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
            const double cb = space == ColourSpace::Rgb ? b - luma : (g - 128) / 0.564;
            const double cr = space == ColourSpace::Rgb ? r - luma : (b - 128) / 0.713;
            if (std::hypot(cb, cr) < MinChroma)
                continue;
            const double turn = std::atan2(cr, cb) / (2 * std::numbers::pi) + 0.5; // [0, 1]
            const int hue = std::min(HueSteps - 1, int(turn * HueSteps));
            layout |= uint64_t(1 + hue) << (4 * (Grid * row + column));
        }
    return layout;
}

ColourMatch CompareColours(uint64_t a, uint64_t b) {
    ColourMatch best = ColourMatch::Differ;
    for (int o = 0; o < 8; ++o) {
        int both = 0, differ = 0;
        for (int row = 0; row < Grid; ++row)
            for (int column = 0; column < Grid; ++column) {
                const int ha = cellOf(a, Grid * row + column);
                const int hb = cellOf(b, orientedCell(row, column, o));
                if (ha == 0 || hb == 0)
                    continue;
                ++both;
                const int d = std::abs(ha - hb);
                differ += std::min(d, HueSteps - d) > 1;
            }
        if (both < MinColouredCells)
            best = ColourMatch::Unknown;
        else if (4 * differ <= both)
            return ColourMatch::Agree;
    }
    return best;
}

bool ConfirmSimilar(uint64_t hashA, uint64_t colourA, uint64_t hashB, uint64_t colourB,
                    int threshold) {
    switch (CompareColours(colourA, colourB)) {
    case ColourMatch::Agree:
        return true;
    case ColourMatch::Unknown:
        return FingerprintDistance(hashA, hashB) <= threshold - UnconfirmedMargin;
    case ColourMatch::Differ:
        break;
    }
    return false;
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

CentreHashes CentreFingerprints(const uint8_t* pixels, int width, int height, int stride) {
    CentreHashes out{};
    if (!pixels || width <= 0 || height <= 0)
        return out;
    const double w = width, h = height;
    // The widest 16:9 rectangle in the picture's own orientation (9:16 standing up).
    const double wide = std::max(w, h), narrow = std::min(w, h);
    const double wideSide = std::min(wide, narrow * 16 / 9);
    const double narrowSide = std::min(narrow, wide * 9 / 16);
    const std::array<std::pair<double, double>, CentreParts> parts = {{
        {narrow, narrow},
        {w >= h ? wideSide : narrowSide, w >= h ? narrowSide : wideSide},
        {w * (1 - 2 * CentreMargin), h * (1 - 2 * CentreMargin)},
    }};
    for (size_t k = 0; k < parts.size(); ++k) {
        const auto [pw, ph] = parts[k];
        // Too small to reduce, or so nearly the whole picture that its hash adds nothing.
        if (pw < Side || ph < Side || (pw > 0.97 * w && ph > 0.97 * h))
            continue;
        const double x0 = (w - pw) / 2, y0 = (h - ph) / 2;
        out[k] = hashOf(pixels, stride, axisWeights(x0, x0 + pw, width),
                        axisWeights(y0, y0 + ph, height))
                     .value_or(0);
    }
    return out;
}

} // namespace fenwa::similar
