#include "likeness.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace fenwa::similar {

namespace {

constexpr int S = LikenessSide;
constexpr int C = LikenessChromaSide;
constexpr char Mark = 'L';
constexpr size_t HeaderBytes = 6; // mark, flags, width and height (16 bits each)
constexpr size_t GreyBytes = size_t(S) * S;
constexpr size_t ChromaBytes = size_t(C) * C * 2;
// A picture whose cells all stay this close to grey (levels of Cb and Cr) has no colour
// to compare.
constexpr int MinChroma = 6;

// Area-averages a plane of bytes (rows `stride` apart, samples `step` apart) to side x side,
// each output cell the exact overlap-weighted mean of the samples under it.
std::vector<float> reduce(const uint8_t* plane, int width, int height, size_t stride, size_t step,
                          int side) {
    struct Span {
        int from, to;      // the samples a cell touches
        float first, last; // the weights of its first and last sample (inner ones 1)
        float scale;       // 1 / the cell's width
    };
    const auto spans = [side](int length) {
        std::vector<Span> out;
        const double cell = double(length) / side;
        for (int c = 0; c < side; ++c) {
            const double lo = c * cell, hi = (c + 1) * cell;
            Span sp{int(std::floor(lo)), std::min(length, int(std::ceil(hi))), 0, 0,
                    float(1 / cell)};
            sp.first = float(std::min(hi, double(sp.from + 1)) - lo);
            sp.last = float(hi - std::max(lo, double(sp.to - 1)));
            out.push_back(sp);
        }
        return out;
    };
    const std::vector<Span> sx = spans(width), sy = spans(height);
    // Rows first: every row reduced to `side` cells.
    std::vector<float> rows(size_t(height) * size_t(side));
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = plane + size_t(y) * stride;
        float* out = rows.data() + size_t(y) * size_t(side);
        for (int c = 0; c < side; ++c) {
            const Span& sp = sx[size_t(c)];
            if (sp.to - sp.from == 1) {
                out[c] = row[size_t(sp.from) * step];
                continue;
            }
            uint32_t inner = 0;
            for (int x = sp.from + 1; x < sp.to - 1; ++x)
                inner += row[size_t(x) * step];
            out[c] = (sp.first * row[size_t(sp.from) * step] + float(inner) +
                      sp.last * row[size_t(sp.to - 1) * step]) *
                     sp.scale;
        }
    }
    std::vector<float> out(size_t(side) * size_t(side));
    for (int c = 0; c < side; ++c) {
        const Span& sp = sy[size_t(c)];
        float* to = out.data() + size_t(c) * size_t(side);
        for (int y = sp.from; y < sp.to; ++y) {
            const float w = sp.to - sp.from == 1 ? 1.0f
                            : y == sp.from       ? sp.first * sp.scale
                            : y == sp.to - 1     ? sp.last * sp.scale
                                                 : sp.scale;
            const float* from = rows.data() + size_t(y) * size_t(side);
            for (int x = 0; x < side; ++x)
                to[x] += w * from[x];
        }
    }
    return out;
}

uint8_t byteOf(double v) {
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

// A print read back: grey and chroma planes as numbers, the shape, whether coloured.
struct Print {
    int width = 0, height = 0;
    bool coloured = false;
    std::vector<float> grey;   // S x S
    std::vector<float> cb, cr; // C x C, 0 = grey
};

bool parse(const std::string& bytes, Print& out) {
    if (!ValidLikenessPrint(bytes))
        return false;
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    out.coloured = b[1] & 1;
    out.width = b[2] | b[3] << 8;
    out.height = b[4] | b[5] << 8;
    out.grey.assign(b + HeaderBytes, b + HeaderBytes + GreyBytes);
    if (out.coloured) {
        const uint8_t* c = b + HeaderBytes + GreyBytes;
        out.cb.resize(size_t(C) * C), out.cr.resize(size_t(C) * C);
        for (size_t i = 0; i < size_t(C) * C; ++i)
            out.cb[i] = float(c[i]) - 128, out.cr[i] = float(c[size_t(C) * C + i]) - 128;
    }
    return true;
}

// The plane turned by one of the eight orientations the way the fingerprint's
// OrientedFingerprint turns the hash: the result's (x, y) reads the source at the
// position the orientation maps it to.
std::vector<float> oriented(const std::vector<float>& plane, int side, int orientation) {
    std::vector<float> out(plane.size());
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            int sx = x, sy = y;
            if (orientation & 1)
                sx = side - 1 - sx;
            if (orientation & 2)
                sy = side - 1 - sy;
            if (orientation & 4)
                std::swap(sx, sy);
            out[size_t(y) * size_t(side) + size_t(x)] =
                plane[size_t(sy) * size_t(side) + size_t(sx)];
        }
    return out;
}

// Bilinear sample of a side x side plane at pixel coordinates (centres at integers);
// false outside.
inline bool sample(const float* p, int side, float x, float y, float& v, float& gx, float& gy) {
    if (!(x >= 0 && y >= 0 && x <= float(side - 1) && y <= float(side - 1)))
        return false;
    const int x0 = std::min(int(x), side - 2), y0 = std::min(int(y), side - 2);
    const float fx = x - float(x0), fy = y - float(y0);
    const float* r0 = p + size_t(y0) * size_t(side) + size_t(x0);
    const float* r1 = r0 + side;
    const float a = r0[0], b = r0[1], c = r1[0], d = r1[1];
    const float top = a + (b - a) * fx, bottom = c + (d - c) * fx;
    v = top + (bottom - top) * fy;
    gx = (b - a) + ((d - c) - (b - a)) * fy;
    gy = bottom - top;
    return true;
}

// A [1 2 1] / 4 blur on both axes, edges repeated.
std::vector<float> blur(const std::vector<float>& p, int side) {
    std::vector<float> t(p.size()), out(p.size());
    const auto at = [side](int i) { return std::clamp(i, 0, side - 1); };
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            t[size_t(y * side + x)] =
                0.25f * (p[size_t(y * side + at(x - 1))] + 2 * p[size_t(y * side + x)] +
                         p[size_t(y * side + at(x + 1))]);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            out[size_t(y * side + x)] =
                0.25f * (t[size_t(at(y - 1) * side + x)] + 2 * t[size_t(y * side + x)] +
                         t[size_t(at(y + 1) * side + x)]);
    return out;
}

// Half the size, blurred first so that fine texture (lines of text) does not alias into
// a pattern that differs between two scales of one picture.
std::vector<float> halve(const std::vector<float>& unblurred, int side) {
    const std::vector<float> p = blur(unblurred, side);
    const int h = side / 2;
    std::vector<float> out(size_t(h) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < h; ++x) {
            const float* r = p.data() + size_t(2 * y) * size_t(side) + size_t(2 * x);
            out[size_t(y) * size_t(h) + size_t(x)] = 0.25f * (r[0] + r[1] + r[side] + r[side + 1]);
        }
    return out;
}

// Where the member's normalised (u, v) in [0, 1] lies in the leader: (x, y) = M (u, v) + t;
// and the member's grey as gain * leader + offset.
struct Alignment {
    double m[4] = {1, 0, 0, 1};
    double t[2] = {0, 0};
    double gain = 1, offset = 0;
    double residual = 1e9; // root mean square over the pixels compared
    double covered = 0;    // share of the member's pixels that lie in the leader
};

// Solves the n x n system a x = b in place (Gaussian elimination with pivoting).
template <int N> bool solve(std::array<double, N * N>& a, std::array<double, N>& b) {
    for (int c = 0; c < N; ++c) {
        int pivot = c;
        for (int r = c + 1; r < N; ++r)
            if (std::abs(a[size_t(r * N + c)]) > std::abs(a[size_t(pivot * N + c)]))
                pivot = r;
        if (std::abs(a[size_t(pivot * N + c)]) < 1e-12)
            return false;
        if (pivot != c) {
            for (int k = 0; k < N; ++k)
                std::swap(a[size_t(c * N + k)], a[size_t(pivot * N + k)]);
            std::swap(b[size_t(c)], b[size_t(pivot)]);
        }
        for (int r = c + 1; r < N; ++r) {
            const double f = a[size_t(r * N + c)] / a[size_t(c * N + c)];
            for (int k = c; k < N; ++k)
                a[size_t(r * N + k)] -= f * a[size_t(c * N + k)];
            b[size_t(r)] -= f * b[size_t(c)];
        }
    }
    for (int r = N - 1; r >= 0; --r) {
        double s = b[size_t(r)];
        for (int k = r + 1; k < N; ++k)
            s -= a[size_t(r * N + k)] * b[size_t(k)];
        b[size_t(r)] = s / a[size_t(r * N + r)];
    }
    return true;
}

// Gauss-Newton over the affine map and the gain and offset together (Lucas-Kanade with
// a linear brightness model), pixels whose residual is far past the typical one left
// out, so that a pasted object or a mark does not pull the alignment.
void refine(const std::vector<float>& leader, const std::vector<float>& member, int side,
            int iterations, Alignment& al) {
    const float* a = leader.data();
    double cut = 1e9;
    for (int it = 0; it <= iterations; ++it) {
        std::array<double, 64> h{};
        std::array<double, 8> g{};
        double sq = 0;
        int n = 0;
        std::vector<float> residuals;
        residuals.reserve(size_t(side) * size_t(side));
        for (int py = 0; py < side; ++py) {
            const double v = (py + 0.5) / side;
            for (int px = 0; px < side; ++px) {
                const double u = (px + 0.5) / side;
                const double x = al.m[0] * u + al.m[1] * v + al.t[0];
                const double y = al.m[2] * u + al.m[3] * v + al.t[1];
                float s, gx, gy;
                if (!sample(a, side, float(x * side - 0.5), float(y * side - 0.5), s, gx, gy))
                    continue;
                const double r =
                    member[size_t(py) * size_t(side) + size_t(px)] - (al.gain * s + al.offset);
                residuals.push_back(float(std::abs(r)));
                sq += r * r;
                ++n;
                if (std::abs(r) > cut || it == iterations)
                    continue;
                // d(gain * A(W(p)))/dp, with A's gradient per unit of normalised position.
                const double ex = al.gain * gx * side, ey = al.gain * gy * side;
                const double j[8] = {ex * u, ex * v, ey * u, ey * v, ex, ey, s, 1.0};
                for (int r1 = 0; r1 < 8; ++r1) {
                    g[size_t(r1)] += j[r1] * r;
                    for (int r2 = r1; r2 < 8; ++r2)
                        h[size_t(r1 * 8 + r2)] += j[r1] * j[r2];
                }
            }
        }
        al.covered = double(n) / (double(side) * side);
        al.residual = n ? std::sqrt(sq / n) : 1e9;
        if (it == iterations || n < side * side / 4)
            return;
        // Past three times the median residual (and at least 12 levels) a pixel is an
        // outlier: changed content rather than noise.
        std::nth_element(residuals.begin(), residuals.begin() + long(residuals.size() / 2),
                         residuals.end());
        cut = std::max(12.0, 3.0 * residuals[residuals.size() / 2]);
        for (int r1 = 0; r1 < 8; ++r1)
            for (int r2 = 0; r2 < r1; ++r2)
                h[size_t(r1 * 8 + r2)] = h[size_t(r2 * 8 + r1)];
        for (int d = 0; d < 8; ++d)
            h[size_t(d * 9)] *= 1.0 + 1e-6;
        if (!solve<8>(h, g))
            return;
        al.m[0] += g[0], al.m[1] += g[1], al.m[2] += g[2], al.m[3] += g[3];
        al.t[0] += g[4], al.t[1] += g[5];
        al.gain += g[6], al.offset += g[7];
        // Settled: a step under a twentieth of a pixel anywhere in the picture. One more
        // pass measures the residual where it now stands.
        const double step = std::abs(g[0]) + std::abs(g[1]) + std::abs(g[2]) + std::abs(g[3]) +
                            std::abs(g[4]) + std::abs(g[5]);
        if (step * side < 0.05 && it + 1 < iterations)
            it = iterations - 1;
        if (!std::isfinite(al.gain) || std::abs(al.m[0] * al.m[3] - al.m[1] * al.m[2]) < 0.05)
            return;
    }
}

// The levels of a print from finest (S) to coarsest (16), and the side of level `l`.
constexpr int Coarsest = 16;
constexpr int sideOf(size_t level) {
    return S >> level;
}

std::vector<std::vector<float>> pyramid(const std::vector<float>& grey) {
    std::vector<std::vector<float>> out{grey};
    for (int side = S; side > 16; side /= 2)
        out.push_back(halve(out.back(), side));
    return out;
}

} // namespace

std::string MakeLikenessPrint(const uint8_t* samples, int width, int height, int stride,
                              int channels, ColourSpace space) {
    if (!samples || width <= 0 || height <= 0 || (channels != 1 && channels != 3) ||
        width > 65535 || height > 65535)
        return {};
    const bool ycc = channels == 3 && space == ColourSpace::YCbCr;
    // Planes of grey and, for colour, of Cb and Cr as JPEG defines them (offset by 128);
    // JPEG's own YCbCr is used as it is.
    std::vector<uint8_t> planes;
    const uint8_t* greyPlane = samples;
    size_t greyStride = size_t(stride), greyStep = size_t(channels);
    if (channels == 3 && !ycc) {
        const size_t area = size_t(width) * size_t(height);
        planes.resize(3 * area);
        for (int y = 0; y < height; ++y) {
            const uint8_t* p = samples + size_t(y) * size_t(stride);
            for (int x = 0; x < width; ++x, p += 3) {
                const size_t i = size_t(y) * size_t(width) + size_t(x);
                const int r = p[0], g = p[1], b = p[2];
                planes[i] = uint8_t((r * 77 + g * 150 + b * 29) >> 8);
                planes[area + i] =
                    uint8_t(std::clamp((-43 * r - 85 * g + 128 * b) / 256 + 128, 0, 255));
                planes[2 * area + i] =
                    uint8_t(std::clamp((128 * r - 107 * g - 21 * b) / 256 + 128, 0, 255));
            }
        }
        greyPlane = planes.data(), greyStride = size_t(width), greyStep = 1;
    }
    std::vector<float> grey = reduce(greyPlane, width, height, greyStride, greyStep, 2 * S);
    grey = halve(grey, 2 * S);
    std::string out(HeaderBytes, '\0');
    out[0] = Mark;
    out[2] = char(width & 255), out[3] = char(width >> 8);
    out[4] = char(height & 255), out[5] = char(height >> 8);
    out.reserve(HeaderBytes + GreyBytes + ChromaBytes);
    for (float v : grey)
        out.push_back(char(byteOf(v)));
    if (channels == 3) {
        const auto chroma = [&](int which) {
            if (ycc)
                return reduce(samples + 1 + which, width, height, size_t(stride), 3, C);
            const size_t area = size_t(width) * size_t(height);
            return reduce(planes.data() + (1 + size_t(which)) * area, width, height, size_t(width),
                          1, C);
        };
        const std::vector<float> cb = chroma(0), cr = chroma(1);
        bool coloured = false;
        for (size_t i = 0; i < cb.size(); ++i)
            coloured |= std::abs(cb[i] - 128) >= MinChroma || std::abs(cr[i] - 128) >= MinChroma;
        if (coloured) {
            out[1] = 1;
            for (float v : cb)
                out.push_back(char(byteOf(v)));
            for (float v : cr)
                out.push_back(char(byteOf(v)));
        }
    }
    return out;
}

bool ValidLikenessPrint(const std::string& print) {
    if (print.size() < HeaderBytes || print[0] != Mark)
        return false;
    const auto* b = reinterpret_cast<const uint8_t*>(print.data());
    if ((b[1] & ~1) != 0 || (b[2] | b[3] << 8) == 0 || (b[4] | b[5] << 8) == 0)
        return false;
    return print.size() == HeaderBytes + GreyBytes + ((b[1] & 1) ? ChromaBytes : 0);
}

LikenessMeasure MeasureLikeness(const std::string& leaderPrint, uint64_t leaderHash,
                                const std::string& memberPrint, uint64_t memberHash) {
    LikenessMeasure best;
    Print a, b;
    if (!parse(leaderPrint, a) || !parse(memberPrint, b))
        return best;
    best.greyAgainstColour = a.coloured != b.coloured;
    int distance[8], least = 64;
    for (int o = 0; o < 8; ++o)
        least = std::min(least, distance[o] =
                                    std::popcount(leaderHash ^ OrientedFingerprint(memberHash, o)));
    const auto leaderLevels = pyramid(a.grey);
    const size_t levels = leaderLevels.size();
    // Every orientation the hashes nearly agree on and every starting guess are tried on
    // the two coarsest levels; the best goes on to the next finer one. The finest level is
    // only compared, not fitted: half a pixel there moves nothing a region measures.
    struct Trial {
        int orientation = 0;
        Alignment al;
        double score = 1e18;
        Alignment start;
    } bestTrial;
    std::vector<Trial> trials;
    // A smooth picture (a gradient) fits nearly as well zoomed in with another contrast:
    // of fits alike, the one nearest its start wins.
    const auto score = [](const Alignment& al, const Alignment& start) {
        const double area = std::abs(al.m[0] * al.m[3] - al.m[1] * al.m[2]);
        const double startArea = std::abs(start.m[0] * start.m[3] - start.m[1] * start.m[2]);
        return al.residual + 4 * std::abs(std::log(area / startArea));
    };
    std::vector<std::vector<std::vector<float>>> memberLevels(8);
    for (int o = 0; o < 8; ++o) {
        if (distance[o] > least + 1)
            continue;
        memberLevels[size_t(o)] = pyramid(oriented(b.grey, S, o));
        // The member's shape in the leader's orientation.
        double wb = b.width, hb = b.height;
        if (o & 4)
            std::swap(wb, hb);
        const double q = (wb / hb) / (double(a.width) / a.height);
        std::vector<Alignment> starts(1);
        if (q > 1.03 || q < 1 / 1.03) {
            // A crop to another shape: the member inside the leader, or the other way.
            Alignment inside, outside;
            if (q > 1) {
                inside.m[3] = 1 / q, inside.t[1] = 0.5 - 0.5 / q;
                outside.m[0] = q, outside.t[0] = 0.5 - 0.5 * q;
            } else {
                inside.m[0] = q, inside.t[0] = 0.5 - 0.5 * q;
                outside.m[3] = 1 / q, outside.t[1] = 0.5 - 0.5 / q;
            }
            starts.push_back(inside);
            starts.push_back(outside);
        }
        for (const Alignment& start : starts) {
            Alignment al = start;
            refine(leaderLevels[levels - 1], memberLevels[size_t(o)][levels - 1],
                   sideOf(levels - 1), 8, al);
            trials.push_back({o, al, score(al, start), start});
        }
    }
    if (trials.empty())
        return best;
    // The two best on the coarsest level go on to the next; the better there wins.
    std::sort(trials.begin(), trials.end(),
              [](const Trial& x, const Trial& y) { return x.score < y.score; });
    trials.resize(std::min<size_t>(trials.size(), 2));
    for (Trial& t : trials) {
        refine(leaderLevels[levels - 2], memberLevels[size_t(t.orientation)][levels - 2],
               sideOf(levels - 2), 8, t.al);
        t.score = score(t.al, t.start);
        if (t.score < bestTrial.score)
            bestTrial = t;
    }
    if (bestTrial.score >= 1e17)
        return best;
    {
        Alignment& al = bestTrial.al;
        const int o = bestTrial.orientation;
        for (size_t level = levels - 2; level-- > 1;)
            refine(leaderLevels[level], memberLevels[size_t(o)][level], sideOf(level), 4, al);
        best.residual = al.residual;
        best.orientation = o;
        best.gain = al.gain;
        best.offset = al.offset;
        best.covered = al.covered;
        best.area = std::abs(al.m[0] * al.m[3] - al.m[1] * al.m[2]);
        std::copy(std::begin(al.m), std::end(al.m), best.m);
        std::copy(std::begin(al.t), std::end(al.t), best.t);
    }
    // Region by region, at the finest level both pictures had the pixels for: a copy
    // made small must not lose to its original for the detail it never had.
    const int shortest = std::min({a.width, a.height, b.width, b.height});
    size_t compareLevel = 0;
    while (compareLevel + 1 < levels && sideOf(compareLevel) > shortest * 4 / 3)
        ++compareLevel;
    const int side = sideOf(compareLevel);
    const std::vector<float>& leaderGrey = leaderLevels[compareLevel];
    const std::vector<float>& grey = memberLevels[size_t(best.orientation)][compareLevel];
    constexpr int Cell = 8;
    const int R = side / Cell;
    best.worstStructure = 1, best.worstMean = 0;
    std::vector<double> structureOf(size_t(R) * size_t(R), 1.0);
    for (int ry = 0; ry < R; ++ry)
        for (int rx = 0; rx < R; ++rx) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            int n = 0;
            for (int y = ry * Cell; y < (ry + 1) * Cell; ++y)
                for (int x = rx * Cell; x < (rx + 1) * Cell; ++x) {
                    // The leader warped onto the member's pixel, the brightness fit applied.
                    const double u = (x + 0.5) / side, v = (y + 0.5) / side;
                    const double lx = best.m[0] * u + best.m[1] * v + best.t[0];
                    const double ly = best.m[2] * u + best.m[3] * v + best.t[1];
                    float s, gx, gy;
                    if (!sample(leaderGrey.data(), side, float(lx * side - 0.5),
                                float(ly * side - 0.5), s, gx, gy))
                        continue;
                    const double ra = best.gain * s + best.offset;
                    const double rb = grey[size_t(y) * size_t(side) + size_t(x)];
                    sa += ra, sb += rb, saa += ra * ra, sbb += rb * rb, sab += ra * rb;
                    ++n;
                }
            if (n < Cell * Cell * 3 / 4)
                continue;
            const double ma = sa / n, mb = sb / n;
            const double va = std::max(0.0, saa / n - ma * ma),
                         vb = std::max(0.0, sbb / n - mb * mb);
            const double cov = sab / n - ma * mb;
            constexpr double C2 = 58.5; // (0.03 * 255)^2, as structural similarity uses
            double structure = (2 * cov + C2) / (va + vb + C2);
            // Where both regions are nearly flat (a standard deviation under 8 levels) the
            // structure is mostly recompression noise: it may not refuse a pair alone.
            if (std::max(va, vb) < 64)
                structure = std::max(structure, 0.95);
            best.worstStructure = std::min(best.worstStructure, structure);
            structureOf[size_t(ry) * size_t(R) + size_t(rx)] = structure;
            best.worstMean = std::max(best.worstMean, std::abs(ma - mb));
            ++best.regions;
        }
    // A mark in one corner is allowed: the worst region outside the corner that helps most.
    const auto outsideCorner = [](const std::vector<double>& of, int n, int block, bool low) {
        double keep = low ? -1e9 : 1e9;
        for (int corner = 0; corner < 4; ++corner) {
            double worst = low ? 1e9 : -1e9;
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x) {
                    const bool inCorner = ((corner & 1) ? x >= n - block : x < block) &&
                                          ((corner & 2) ? y >= n - block : y < block);
                    if (!inCorner)
                        worst = low ? std::min(worst, of[size_t(y * n + x)])
                                    : std::max(worst, of[size_t(y * n + x)]);
                }
            keep = low ? std::max(keep, worst) : std::min(keep, worst);
        }
        return keep;
    };
    best.structureBesideCorner = outsideCorner(structureOf, R, R / 3, true);
    for (double v : structureOf)
        best.uneasyRegions += v < 0.98;
    if (best.regions > 0) {
        double sum = 0;
        for (double v : structureOf)
            sum += v;
        // Regions left uncompared hold 1 and are not counted.
        best.meanStructure =
            (sum - double(size_t(R) * size_t(R) - size_t(best.regions))) / double(best.regions);
        std::vector<double> compared;
        for (double v : structureOf)
            if (v < 1.0)
                compared.push_back(v);
        compared.resize(std::max(compared.size(), size_t(1)), 1.0);
        std::nth_element(compared.begin(), compared.begin() + long(compared.size() / 2),
                         compared.end());
        best.typicalStructure = compared[compared.size() / 2];
    }
    {
        double sa = 0, sb = 0, saa = 0, sbb = 0;
        for (size_t i = 0; i < a.grey.size(); ++i)
            sa += a.grey[i], saa += double(a.grey[i]) * a.grey[i], sb += b.grey[i],
                sbb += double(b.grey[i]) * b.grey[i];
        const double n = double(a.grey.size());
        const double va = saa / n - (sa / n) * (sa / n), vb = sbb / n - (sb / n) * (sb / n);
        best.spread = va > 0 ? std::sqrt(std::max(0.0, vb) / va) : 0;
    }
    // Colour, where both have it: the member's chroma cells against the leader's at the
    // aligned place, after one saturation factor.
    if (a.coloured && b.coloured) {
        // Both blurred alike, so that cells made over other grids (a crop's) compare.
        const std::vector<float> cb = blur(oriented(b.cb, C, best.orientation), C),
                                 cr = blur(oriented(b.cr, C, best.orientation), C);
        a.cb = blur(a.cb, C), a.cr = blur(a.cr, C);
        std::vector<double> la, lb, ma, mb;
        for (int py = 0; py < C; ++py)
            for (int px = 0; px < C; ++px) {
                const double u = (px + 0.5) / C, v = (py + 0.5) / C;
                const double x = best.m[0] * u + best.m[1] * v + best.t[0];
                const double y = best.m[2] * u + best.m[3] * v + best.t[1];
                float s1, s2, gx, gy;
                if (!sample(a.cb.data(), C, float(x * C - 0.5), float(y * C - 0.5), s1, gx, gy) ||
                    !sample(a.cr.data(), C, float(x * C - 0.5), float(y * C - 0.5), s2, gx, gy))
                    continue;
                la.push_back(s1), lb.push_back(s2);
                ma.push_back(cb[size_t(py) * C + size_t(px)]),
                    mb.push_back(cr[size_t(py) * C + size_t(px)]);
            }
        double dot = 0, norm = 0;
        for (size_t i = 0; i < la.size(); ++i)
            dot += la[i] * ma[i] + lb[i] * mb[i], norm += la[i] * la[i] + lb[i] * lb[i];
        const double saturation = norm > 0 ? std::clamp(dot / norm, 0.5, 2.0) : 1.0;
        best.saturation = saturation;
        best.worstChroma = 0;
        std::vector<double> chromaOf(size_t(C) * C, 0.0);
        size_t k = 0;
        for (int py = 0; py < C; ++py)
            for (int px = 0; px < C; ++px) {
                const double u = (px + 0.5) / C, v = (py + 0.5) / C;
                const double x = best.m[0] * u + best.m[1] * v + best.t[0];
                const double y = best.m[2] * u + best.m[3] * v + best.t[1];
                if (!(x * C - 0.5 >= 0 && y * C - 0.5 >= 0 && x * C - 0.5 <= C - 1 &&
                      y * C - 0.5 <= C - 1))
                    continue;
                // A colour edge may fall half a cell either way in a cropped or turned
                // copy: the nearest the leader comes within that counts.
                double d = std::hypot(ma[k] - saturation * la[k], mb[k] - saturation * lb[k]);
                for (double ox : {-0.5, 0.0, 0.5})
                    for (double oy : {-0.5, 0.0, 0.5}) {
                        float s1, s2, gx, gy;
                        const float sx = float(x * C - 0.5 + ox), sy = float(y * C - 0.5 + oy);
                        if (sample(a.cb.data(), C, sx, sy, s1, gx, gy) &&
                            sample(a.cr.data(), C, sx, sy, s2, gx, gy))
                            d = std::min(
                                d, std::hypot(ma[k] - saturation * s1, mb[k] - saturation * s2));
                    }
                ++k;
                chromaOf[size_t(py * C + px)] = d;
                best.worstChroma = std::max(best.worstChroma, d);
            }
        best.chromaBesideCorner = outsideCorner(chromaOf, C, C / 3, false);
    }
    return best;
}

namespace {

bool LikenessHolds(const LikenessMeasure& m, SimilarLevel level) {
    // A copy keeps most of the picture (a crop of a tenth a side keeps 64%) and its
    // contrast within what brightness and contrast changes do; a smooth picture in other
    // colours (another gradient) differs in contrast even where its shape agrees.
    if (m.regions == 0 || m.covered < 0.5 || m.area < 0.5 || m.area > 2)
        return false;
    if (m.gain < 0.78 || m.gain > 1.3 || m.spread < 0.75 || m.spread > 1.33)
        return false;
    // Per level: the lowest structural agreement a region may have, the largest chroma
    // difference a cell may have (both outside one corner, where a mark may stand).
    // Measured on honest copies and look-alikes (docs/SIMILAR.md): copies stay above 0.7
    // but for crops and turns of text, which alias at this size; a figure pasted in or a
    // line of red text across falls below 0.7, pages of other text below 0.45.
    static constexpr double MinStructure[SimilarLevelCount] = {0.8, 0.7, 0.6};
    static constexpr double MaxChroma[SimilarLevelCount] = {20, 30, 40};
    const int l = std::clamp(int(level), 0, SimilarLevelCount - 1);
    if (m.structureBesideCorner < MinStructure[l])
        return false;
    // An edit, not a copy: one place changed while nearly every other region agrees
    // (amounts changed on a page). What copying does (clipping, grey, recompression)
    // touches many regions a little rather than a few much.
    static constexpr double EditedStructure[SimilarLevelCount] = {0.95, 0.92, 0.9};
    static constexpr int EditedRegions[SimilarLevelCount] = {10, 8, 6};
    // A grey copy of a colour picture changes the structure of a few saturated regions
    // the way an edit does (its grey weights are not the picture's): not taken for one.
    if (!m.greyAgainstColour && m.structureBesideCorner < EditedStructure[l] &&
        m.uneasyRegions <= EditedRegions[l])
        return false;
    return m.chromaBesideCorner < 0 || m.chromaBesideCorner <= MaxChroma[l];
}

} // namespace

bool VerifyLikeness(const std::string& leaderPrint, uint64_t leaderHash,
                    const std::string& memberPrint, uint64_t memberHash, SimilarLevel level) {
    return LikenessHolds(MeasureLikeness(leaderPrint, leaderHash, memberPrint, memberHash), level);
}

bool VerifyLikeness(const std::string& leaderPrint, const PictureFingerprint& leader,
                    const std::string& memberPrint, const PictureFingerprint& member, PairMatch how,
                    SimilarLevel level, LikenessMeasure* measured) {
    const size_t part = std::min<size_t>(how.part, CentreParts - 1);
    const uint64_t leaderHash =
        how.kind == PairMatch::LeaderPart ? leader.centre[part] : leader.hash;
    const uint64_t memberHash =
        how.kind == PairMatch::MemberPart ? member.centre[part] : member.hash;
    const LikenessMeasure m = MeasureLikeness(leaderPrint, leaderHash, memberPrint, memberHash);
    if (measured)
        *measured = m;
    return LikenessHolds(m, level);
}

int LikenessPercent(const LikenessMeasure& measure) {
    if (measure.regions == 0)
        return -1;
    return int(std::clamp(std::lround(100 * measure.meanStructure), 0L, 100L));
}

LikenessMeasure MeasurePictures(const std::string& leaderPrint, const PictureFingerprint& leader,
                                const std::string& memberPrint, const PictureFingerprint& member) {
    uint64_t leaderHash = leader.hash, memberHash = member.hash;
    int least = FingerprintDistance(leaderHash, memberHash);
    for (size_t part = 0; part < CentreParts; ++part) {
        if (leader.centre[part] && FingerprintDistance(leader.centre[part], member.hash) < least) {
            leaderHash = leader.centre[part], memberHash = member.hash;
            least = FingerprintDistance(leaderHash, memberHash);
        }
        if (member.centre[part] && FingerprintDistance(leader.hash, member.centre[part]) < least) {
            leaderHash = leader.hash, memberHash = member.centre[part];
            least = FingerprintDistance(leaderHash, memberHash);
        }
    }
    return MeasureLikeness(leaderPrint, leaderHash, memberPrint, memberHash);
}

bool PicturesAlike(const PictureFingerprint& a, const std::string& printA,
                   const PictureFingerprint& b, const std::string& printB, SimilarLevel level) {
    const int threshold = LevelThreshold(level);
    if (FingerprintDistance(a.hash, b.hash) <= threshold &&
        ConfirmSimilar(a.hash, a.colour, b.hash, b.colour, threshold) &&
        VerifyLikeness(printA, a.hash, printB, b.hash, level))
        return true;
    for (uint8_t part = 0; part < CentreParts; ++part) {
        if (a.centre[part] && FingerprintDistance(a.centre[part], b.hash) <= CropThreshold &&
            VerifyLikeness(printA, a, printB, b, {PairMatch::LeaderPart, part}, level))
            return true;
        if (b.centre[part] && FingerprintDistance(a.hash, b.centre[part]) <= CropThreshold &&
            VerifyLikeness(printA, a, printB, b, {PairMatch::MemberPart, part}, level))
            return true;
    }
    return false;
}

} // namespace fenwa::similar
