#include "similarindex.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "bigallocator.h"
#include "fingerprint.h"
#include "workerpool.h"

namespace fenwa::similar {

namespace {

using fenwa::BigUninitialisedAllocator;

template <class T> using Big = std::vector<T, BigUninitialisedAllocator<T>>;

constexpr uint32_t Buckets = 1u << 16;
constexpr uint32_t Block = 1024; // buckets per unit of join work

// A class of 16 bits: those of odd or even v (rows) and odd or even u (columns).
struct Region {
    int rowParity, columnParity;
};

// The four bits of one parity in each byte, by byte value.
const std::array<std::array<uint8_t, 256>, 2>& nibbles() {
    static const auto table = [] {
        std::array<std::array<uint8_t, 256>, 2> t{};
        for (int parity = 0; parity < 2; ++parity)
            for (int byte = 0; byte < 256; ++byte)
                for (int j = 0; j < 4; ++j)
                    if (byte >> (2 * j + parity) & 1)
                        t[size_t(parity)][size_t(byte)] |= uint8_t(1 << j);
        return t;
    }();
    return table;
}

uint32_t key(uint64_t hash, Region r) {
    const auto& nib = nibbles()[size_t(r.columnParity)];
    uint32_t k = 0;
    for (int i = 0; i < 4; ++i)
        k |= uint32_t(nib[(hash >> (8 * (2 * i + r.rowParity))) & 0xFF]) << (4 * i);
    return k;
}

// For a class that a transpose maps onto itself, the key of the transposed hash by key.
std::vector<uint16_t> transposedKeys(Region r) {
    std::vector<uint16_t> out(Buckets);
    for (uint32_t k = 0; k < Buckets; ++k) {
        uint64_t hash = 0;
        for (int i = 0; i < 16; ++i)
            if (k >> i & 1)
                hash |= uint64_t(1)
                        << (8 * (2 * (i / 4) + r.rowParity) + 2 * (i % 4) + r.columnParity);
        out[k] = uint16_t(key(OrientedFingerprint(hash, 4), r));
    }
    return out;
}

// The hashes sorted by one region's key, each entry with its hash (so a bucket is read
// front to back without looking elsewhere) and its position among the distinct hashes.
// Within a bucket the crowded hashes (see below) come last. Built again for each region
// into the same memory.
struct Table {
    std::vector<uint32_t> start, crowdedFrom;
    Big<uint64_t> value;
    Big<uint32_t> id;
    Big<uint16_t> keys;

    // First the keys and the bucket sizes; then crowd() and fill().
    void count(const Big<uint64_t>& hashes, Region r, bool transposed) {
        start.assign(Buckets + 1, 0);
        keys.resize(hashes.size());
        for (size_t i = 0; i < hashes.size(); ++i) {
            keys[i] = uint16_t(key(transposed ? OrientedFingerprint(hashes[i], 4) : hashes[i], r));
            ++start[keys[i] + 1u];
        }
    }

    // Marks the hashes of buckets over `most` crowded.
    void crowd(uint32_t most, Big<char>& crowded) const {
        if (std::none_of(start.begin(), start.end(), [&](uint32_t c) { return c > most; }))
            return;
        for (size_t i = 0; i < keys.size(); ++i)
            crowded[i] |= start[keys[i] + 1u] > most;
    }

    void fill(const Big<uint64_t>& hashes, bool transposed, const Big<char>& crowded) {
        crowdedFrom.assign(Buckets, 0);
        value.resize(hashes.size());
        id.resize(hashes.size());
        for (size_t i = 0; i < hashes.size(); ++i)
            crowdedFrom[keys[i]] += !crowded[i];
        for (uint32_t v = 0; v < Buckets; ++v)
            start[v + 1] += start[v];
        std::vector<uint32_t> light(start.begin(), start.end() - 1);
        for (uint32_t v = 0; v < Buckets; ++v)
            crowdedFrom[v] += start[v];
        std::vector<uint32_t> heavy(crowdedFrom);
        for (size_t i = 0; i < hashes.size(); ++i) {
            const uint32_t at = crowded[i] ? heavy[keys[i]]++ : light[keys[i]]++;
            value[at] = transposed ? OrientedFingerprint(hashes[i], 4) : hashes[i];
            id[at] = uint32_t(i);
        }
    }
};

// One join: the hashes by `region` against the same (or the transposed) hashes by it,
// keys `flip`ped whole or not. `masks` are the orientations (flips after the transpose)
// that move the region this way; only they are checked, as the other orientations have
// joins of their own. A join of a table with itself is symmetric, so it is read once.
struct Join {
    int region;
    bool transposed;
    bool flip;
    std::array<uint64_t, 4> masks;
    int maskCount;
};

constexpr std::array<Region, 4> Regions = {Region{0, 1}, Region{1, 0}, Region{1, 1}, Region{0, 0}};

// Whether orientation (x, y) flips region `r`'s bits.
bool flips(Region r, int x, int y) {
    return ((r.columnParity & x) ^ (r.rowParity & y)) != 0;
}

std::vector<Join> joinsOf(int region) {
    const Region r = Regions[size_t(region)];
    std::vector<Join> out;
    for (bool transposed : {false, true}) {
        // A transposed join of the odd-u, even-v region against itself is the same pairs
        // as that of the even-u, odd-v one, read the other way round.
        if (transposed && r.rowParity == 1 && r.columnParity == 0)
            continue;
        for (bool flip : {false, true}) {
            Join j{region, transposed, flip, {}, 0};
            for (int x = 0; x < 2; ++x)
                for (int y = 0; y < 2; ++y)
                    if (flips(r, x, y) == flip)
                        j.masks[size_t(j.maskCount++)] = (x ? OddColumns : 0) ^ (y ? OddRows : 0);
            if (j.maskCount > 0)
                out.push_back(j);
        }
    }
    return out;
}

// Checks every entry of a left bucket against every one of a right bucket (each pair once
// when the two are the same bucket) under the join's orientations, adding the pairs
// within the threshold.
[[gnu::always_inline]] inline void
checkBucketsScalar(const uint64_t* left, const uint32_t* leftId, uint32_t leftCount,
                   const uint64_t* right, const uint32_t* rightId, uint32_t rightCount, bool same,
                   const uint64_t* masks, int maskCount, int threshold, Big<uint64_t>& pairs) {
    for (uint32_t a = 0; a < leftCount; ++a) {
        const uint64_t h = left[a];
        for (uint32_t b = same ? a + 1 : 0; b < rightCount; ++b) {
            const uint64_t x = h ^ right[b];
            bool hit = false;
            for (int m = 0; m < maskCount; ++m)
                hit |= std::popcount(x ^ masks[m]) <= threshold;
            if (hit && leftId[a] != rightId[b])
                pairs.push_back(uint64_t(std::min(leftId[a], rightId[b])) << 32 |
                                std::max(leftId[a], rightId[b]));
        }
    }
}

void checkBucketsPlain(const uint64_t* left, const uint32_t* leftId, uint32_t leftCount,
                       const uint64_t* right, const uint32_t* rightId, uint32_t rightCount,
                       bool same, const uint64_t* masks, int maskCount, int threshold,
                       Big<uint64_t>& pairs) {
    checkBucketsScalar(left, leftId, leftCount, right, rightId, rightCount, same, masks, maskCount,
                       threshold, pairs);
}

#if defined(__x86_64__)
// With the processor's popcount instruction, which the baseline build may not assume.
__attribute__((target("popcnt"))) void
checkBucketsPopcnt(const uint64_t* left, const uint32_t* leftId, uint32_t leftCount,
                   const uint64_t* right, const uint32_t* rightId, uint32_t rightCount, bool same,
                   const uint64_t* masks, int maskCount, int threshold, Big<uint64_t>& pairs) {
    checkBucketsScalar(left, leftId, leftCount, right, rightId, rightCount, same, masks, maskCount,
                       threshold, pairs);
}

// The lanes where x is within `limit` bits of some oriented right entry.
template <int MaskCount>
__attribute__((target("avx512f,avx512vpopcntdq"), always_inline)) inline __mmask8
hits(__m512i x, __mmask8 valid, const __m512i* oriented, __m512i limit) {
    __m512i best = _mm512_popcnt_epi64(_mm512_xor_si512(x, oriented[0]));
    for (int k = 1; k < MaskCount; ++k)
        best = _mm512_maskz_min_epu64(0xFF, best,
                                      _mm512_popcnt_epi64(_mm512_xor_si512(x, oriented[k])));
    return _mm512_mask_cmple_epu64_mask(valid, best, limit);
}

// Sixteen right entries at a time, held (in each orientation of the join) while every
// left entry is checked against them.
template <int MaskCount>
__attribute__((target("avx512f,avx512vpopcntdq"))) void
checkBucketsWide(const uint64_t* left, const uint32_t* leftId, uint32_t leftCount,
                 const uint64_t* right, const uint32_t* rightId, uint32_t rightCount, bool same,
                 const uint64_t* masks, int threshold, Big<uint64_t>& pairs) {
    const __m512i limit = _mm512_set1_epi64(threshold);
    const auto lanes = [](uint32_t remaining) {
        return remaining >= 8 ? __mmask8(0xFF) : __mmask8((1u << remaining) - 1);
    };
    const auto emit = [&](uint32_t a, uint32_t b, __mmask8 hit) {
        for (; hit; hit &= __mmask8(hit - 1)) {
            const uint32_t c = b + uint32_t(std::countr_zero(unsigned(hit)));
            if (leftId[a] != rightId[c])
                pairs.push_back(uint64_t(std::min(leftId[a], rightId[c])) << 32 |
                                std::max(leftId[a], rightId[c]));
        }
    };
    for (uint32_t b = 0; b < rightCount; b += 16) {
        const __mmask8 valid0 = lanes(rightCount - b);
        const __mmask8 valid1 = rightCount - b > 8 ? lanes(rightCount - b - 8) : __mmask8(0);
        const __m512i r0 = _mm512_maskz_loadu_epi64(valid0, right + b);
        const __m512i r1 = _mm512_maskz_loadu_epi64(valid1, right + b + 8);
        __m512i o0[MaskCount], o1[MaskCount];
        for (int k = 0; k < MaskCount; ++k) {
            o0[k] = _mm512_xor_si512(r0, _mm512_set1_epi64(int64_t(masks[k])));
            o1[k] = _mm512_xor_si512(r1, _mm512_set1_epi64(int64_t(masks[k])));
        }
        for (uint32_t a = 0; a < leftCount; ++a) {
            // Within one bucket, each pair once: only entries after a.
            __mmask8 v0 = valid0, v1 = valid1;
            if (same) {
                if (a + 1 >= b + 16)
                    continue;
                const uint32_t skip = a + 1 > b ? a + 1 - b : 0;
                v0 = skip >= 8 ? __mmask8(0) : __mmask8(v0 & (0xFFu << skip));
                v1 = skip <= 8 ? v1 : __mmask8(v1 & (0xFFu << (skip - 8)));
            }
            const __m512i h = _mm512_set1_epi64(int64_t(left[a]));
            const __mmask8 hit0 = hits<MaskCount>(h, v0, o0, limit);
            const __mmask8 hit1 = valid1 ? hits<MaskCount>(h, v1, o1, limit) : __mmask8(0);
            if (hit0 | hit1) [[unlikely]] {
                emit(a, b, hit0);
                emit(a, b + 8, hit1);
            }
        }
    }
}

void checkBucketsAvx512(const uint64_t* left, const uint32_t* leftId, uint32_t leftCount,
                        const uint64_t* right, const uint32_t* rightId, uint32_t rightCount,
                        bool same, const uint64_t* masks, int maskCount, int threshold,
                        Big<uint64_t>& pairs) {
    if (maskCount == 2)
        checkBucketsWide<2>(left, leftId, leftCount, right, rightId, rightCount, same, masks,
                            threshold, pairs);
    else if (maskCount == 4)
        checkBucketsWide<4>(left, leftId, leftCount, right, rightId, rightCount, same, masks,
                            threshold, pairs);
    else
        checkBucketsPopcnt(left, leftId, leftCount, right, rightId, rightCount, same, masks,
                           maskCount, threshold, pairs);
}
#endif

using CheckBuckets = void (*)(const uint64_t*, const uint32_t*, uint32_t, const uint64_t*,
                              const uint32_t*, uint32_t, bool, const uint64_t*, int, int,
                              Big<uint64_t>&);

bool kernelAvailable(IndexKernel kernel) {
#if defined(__x86_64__)
    __builtin_cpu_init();
    switch (kernel) {
    case IndexKernel::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq");
    case IndexKernel::Popcount:
        return __builtin_cpu_supports("popcnt");
    default:
        return true;
    }
#else
    return kernel == IndexKernel::Best || kernel == IndexKernel::Plain;
#endif
}

std::atomic<IndexKernel> forcedKernel{IndexKernel::Best};

CheckBuckets checkBuckets() {
    const IndexKernel kernel = forcedKernel.load();
#if defined(__x86_64__)
    if (kernel == IndexKernel::Avx512 ||
        (kernel == IndexKernel::Best && kernelAvailable(IndexKernel::Avx512)))
        return checkBucketsAvx512;
    if (kernel == IndexKernel::Popcount ||
        (kernel == IndexKernel::Best && kernelAvailable(IndexKernel::Popcount)))
        return checkBucketsPopcnt;
#endif
    return checkBucketsPlain;
}

// Every 16-bit mask of at most `radius` bits.
std::vector<uint32_t> masksUpTo(int radius) {
    std::vector<uint32_t> out;
    for (uint32_t e = 0; e < Buckets; ++e)
        if (std::popcount(e) <= radius)
            out.push_back(e);
    return out;
}

// Runs work(unit, worker) for units [0, count) on `threads` threads, the calling thread
// being worker 0 and the only one to call `tick`. False when stopped.
template <class Work, class Tick>
bool runUnits(size_t count, unsigned threads, const std::atomic<bool>* stop, Work&& work,
              Tick&& tick) {
    WorkerOptions options;
    options.stop = stop;
    return RunWorkers(
        count, threads,
        [&](size_t unit, unsigned worker) {
            work(unit, worker);
            if (worker == 0)
                tick(unit);
        },
        options);
}

// Centre hashes matched to whole hashes, between distinct values of each.
// Centre hashes are not made distinct: equal ones are as rare as equal pictures, and
// listing them in reading order needs no sort.
struct CropLinks {
    Big<uint64_t> hash;                    // the nonzero centre hashes, in reading order
    Big<uint32_t> entry;                   // of each, row << 2 | part
    Big<uint32_t> ofRow;                   // per row and part, its centre hash or NoPart
    Big<uint32_t> toCentreStart, toCentre; // per distinct whole hash, the centre ones near it
    Big<uint32_t> toWholeStart, toWhole;   // per centre hash, the distinct whole ones near it
};
constexpr uint32_t NoPart = ~0u;

// Compressed lists from pairs (from, to).
void listsOf(const std::vector<Big<uint64_t>>& found, size_t count, bool byLow,
             Big<uint32_t>& start, Big<uint32_t>& list) {
    start.assign(count + 1, 0);
    for (const auto& f : found)
        for (uint64_t p : f)
            ++start[(byLow ? uint32_t(p) : uint32_t(p >> 32)) + 1];
    for (size_t k = 0; k < count; ++k)
        start[k + 1] += start[k];
    list.resize(start[count]);
    std::vector<uint32_t> end(start.begin(), start.end() - 1);
    for (const auto& f : found)
        for (uint64_t p : f) {
            const uint32_t from = byLow ? uint32_t(p) : uint32_t(p >> 32);
            list[end[from]++] = byLow ? uint32_t(p >> 32) : uint32_t(p);
        }
}

// The joins of the whole hashes (`whole`, distinct) with the centre hashes. False when
// stopped. Progress ticks once per unit through `tick`.
template <class Tick>
bool linkCrops(const Big<uint64_t>& whole, const std::vector<CentreHashes>& centres,
               int cropThreshold, unsigned threads, const std::atomic<bool>* stop, CropLinks& links,
               Tick&& tick) {
    const size_t n = centres.size();
    links.ofRow.assign(n * CentreParts, NoPart);
    size_t parts = 0;
    for (const CentreHashes& c : centres)
        for (uint64_t h : c)
            parts += h != 0;
    links.hash.reserve(parts);
    links.entry.reserve(parts);
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < CentreParts; ++k)
            if (centres[i][size_t(k)] != 0) {
                links.ofRow[i * CentreParts + size_t(k)] = uint32_t(links.hash.size());
                links.hash.push_back(centres[i][size_t(k)]);
                links.entry.push_back(uint32_t(i) << 2 | uint32_t(k));
            }
    const size_t u = whole.size(), c = links.hash.size();
    // Pairs as whole << 32 | centre.
    std::vector<Big<uint64_t>> found(std::max(1u, threads));
    if (u != 0 && c != 0 && cropThreshold >= 0) {
        if (double(u) * double(c) <= 4e6) {
            for (size_t a = 0; a < u; ++a)
                for (size_t b = 0; b < c; ++b)
                    if (FingerprintDistance(whole[a], links.hash[b]) <= cropThreshold)
                        found[0].push_back(uint64_t(a) << 32 | b);
        } else {
            const CheckBuckets check = checkBuckets();
            const std::vector<uint32_t> near = masksUpTo(std::min(cropThreshold / 4, 16));
            constexpr size_t Blocks = Buckets / Block;
            const uint32_t mostWhole = std::max<uint32_t>(256, uint32_t(8 * u / Buckets));
            const uint32_t mostCentre = std::max<uint32_t>(256, uint32_t(8 * c / Buckets));
            const Big<char> none(std::max(u, c), 0);
            // The whole hashes' tables, plain and transposed, and the centre hashes', filled
            // again for each class into the same memory. Transposing the whole hash rather
            // than the part (a transpose is a permutation of bits) keeps the larger side one
            // table.
            std::array<Table, 3> tables;
            for (int region = 0; region < 4; ++region) {
                const Region r = Regions[size_t(region)];
                runUnits(
                    3, threads, nullptr,
                    [&](size_t t, unsigned) {
                        const Big<uint64_t>& from = t == 2 ? links.hash : whole;
                        tables[t].count(from, r, t == 1);
                        tables[t].fill(from, t == 1, none);
                        // Centre ids after the whole ones: a pair keeps which is which.
                        if (t == 2)
                            for (uint32_t& id : tables[t].id)
                                id += uint32_t(u);
                    },
                    [](size_t) {});
                // Whole against part turned by o = (t, x, y): popcount(W ^ T^t(C) ^ m(x, y))
                // is popcount(T^t(W) ^ C ^ T^t(m)); the masks that flip this class and those
                // that do not make a join each.
                std::vector<Join> joins;
                for (bool transposed : {false, true})
                    for (bool flip : {false, true}) {
                        Join j{region, transposed, flip, {}, 0};
                        for (int x = 0; x < 2; ++x)
                            for (int y = 0; y < 2; ++y) {
                                uint64_t m = (x ? OddColumns : 0) ^ (y ? OddRows : 0);
                                if (transposed)
                                    m = OrientedFingerprint(m, 4);
                                if ((key(m, r) != 0) == flip)
                                    j.masks[size_t(j.maskCount++)] = m;
                            }
                        if (j.maskCount > 0)
                            joins.push_back(j);
                    }
                const Table& right = tables[2];
                const bool finished = runUnits(
                    joins.size() * Blocks, threads, stop,
                    [&](size_t unit, unsigned worker) {
                        const Join& j = joins[unit / Blocks];
                        const Table& left = tables[j.transposed ? 1 : 0];
                        const uint32_t flip = j.flip ? 0xFFFFu : 0u;
                        const uint32_t from = uint32_t(unit % Blocks) * Block;
                        for (uint32_t e : near)
                            for (uint32_t v = from; v < from + Block; ++v) {
                                const uint32_t lb = left.start[v], le = left.start[v + 1];
                                if (lb == le)
                                    continue;
                                const uint32_t w = v ^ e ^ flip;
                                const uint32_t rb = right.start[w], re = right.start[w + 1];
                                if (rb == re || (le - lb > mostWhole && re - rb > mostCentre))
                                    continue;
                                check(left.value.data() + lb, left.id.data() + lb, le - lb,
                                      right.value.data() + rb, right.id.data() + rb, re - rb, false,
                                      j.masks.data(), j.maskCount, cropThreshold, found[worker]);
                            }
                    },
                    tick);
                if (!finished)
                    return false;
            }
            for (auto& f : found)
                for (uint64_t& p : f)
                    p -= uint64_t(u); // the centre's own position again
        }
    }
    listsOf(found, u, false, links.toCentreStart, links.toCentre);
    listsOf(found, c, true, links.toWholeStart, links.toWhole);
    // A whole hash's parts in reading order, so the walk finds the rows after a leader.
    for (size_t k = 0; k < u; ++k)
        std::sort(links.toCentre.begin() + links.toCentreStart[k],
                  links.toCentre.begin() + links.toCentreStart[k + 1]);
    return true;
}

} // namespace

bool UseIndexKernel(IndexKernel kernel) {
    if (!kernelAvailable(kernel))
        return false;
    forcedKernel = kernel;
    return true;
}

namespace {

std::vector<uint32_t> group(const std::vector<uint64_t>& hashes, int threshold,
                            const std::function<void(size_t, size_t)>& progress,
                            const std::atomic<bool>* stop,
                            const std::function<bool(uint32_t, uint32_t)>& confirm,
                            unsigned threads, const std::vector<CentreHashes>* centres,
                            int cropThreshold,
                            const std::function<bool(uint32_t, uint32_t, PairMatch)>& confirmHow,
                            std::vector<PairMatch>* how, std::vector<char>* paired = nullptr,
                            bool parallelConfirm = false) {
    const size_t n = hashes.size();
    std::vector<uint32_t> leader(n);
    for (size_t i = 0; i < n; ++i)
        leader[i] = uint32_t(i);
    if (n < 2 || threshold < 0)
        return leader;
    threshold = std::min(threshold, 64);

    // Fewer hashes are grouped sooner than threads start.
    if (threads == 0)
        threads = n >= 50000 ? WorkerThreads() : 1;

    // Equal hashes are looked up once: the distinct hashes, and the rows of each in order
    // (rows sorted by hash, ties in reading order).
    Big<uint32_t> order(n);
    Big<uint64_t> distinct;
    Big<uint32_t> rowsStart; // rows of distinct hash k: order[rowsStart[k]...]
    {
        struct Row {
            uint64_t hash;
            uint32_t row;
        };
        // Bucketed by the top 16 bits, each thread counting and placing a slice of the
        // rows after those of the slices before it, so that ties stay in reading order.
        std::vector<std::vector<uint32_t>> next(threads, std::vector<uint32_t>(Buckets, 0));
        const auto slice = [&](size_t t) {
            return std::pair(n * t / threads, n * (t + 1) / threads);
        };
        runUnits(
            threads, threads, nullptr,
            [&](size_t t, unsigned) {
                for (size_t i = slice(t).first; i < slice(t).second; ++i)
                    ++next[t][hashes[i] >> 48];
            },
            [](size_t) {});
        std::vector<uint32_t> start(Buckets + 1, 0);
        for (uint32_t v = 0; v < Buckets; ++v) {
            start[v + 1] = start[v];
            for (auto& a : next) {
                const uint32_t count = a[v];
                a[v] = start[v + 1];
                start[v + 1] += count;
            }
        }
        Big<Row> rows(n);
        runUnits(
            threads, threads, nullptr,
            [&](size_t t, unsigned) {
                for (size_t i = slice(t).first; i < slice(t).second; ++i)
                    rows[next[t][hashes[i] >> 48]++] = {hashes[i], uint32_t(i)};
            },
            [](size_t) {});
        // Each run of buckets sorted and its distinct hashes counted, then written out at
        // its offset.
        constexpr size_t Chunks = Buckets / Block;
        std::vector<uint32_t> distinctIn(Chunks + 1, 0);
        runUnits(
            Chunks, threads, nullptr,
            [&](size_t c, unsigned) {
                const auto first = rows.begin() + start[c * Block];
                const auto last = rows.begin() + start[(c + 1) * Block];
                const auto byHash = [](const Row& x, const Row& y) { return x.hash < y.hash; };
                for (uint32_t v = uint32_t(c * Block); v < (c + 1) * Block; ++v) {
                    const auto from = rows.begin() + start[v], to = rows.begin() + start[v + 1];
                    if (to - from > 32) {
                        std::stable_sort(from, to, byHash);
                        continue;
                    }
                    // A bucket holds a few rows: insertion, which keeps ties in order.
                    for (auto it = from; it != to; ++it)
                        for (auto at = it; at != from && byHash(*at, *(at - 1)); --at)
                            std::swap(*at, *(at - 1));
                }
                for (auto it = first; it != last; ++it)
                    distinctIn[c + 1] += it == first || it->hash != (it - 1)->hash;
            },
            [](size_t) {});
        for (size_t c = 0; c < Chunks; ++c)
            distinctIn[c + 1] += distinctIn[c];
        distinct.resize(distinctIn[Chunks]);
        rowsStart.resize(distinctIn[Chunks] + 1);
        rowsStart.back() = uint32_t(n);
        runUnits(
            Chunks, threads, nullptr,
            [&](size_t c, unsigned) {
                uint32_t k = distinctIn[c];
                for (uint32_t p = start[c * Block]; p < start[(c + 1) * Block]; ++p) {
                    if (p == start[c * Block] || rows[p].hash != rows[p - 1].hash) {
                        distinct[k] = rows[p].hash;
                        rowsStart[k++] = p;
                    }
                    order[p] = rows[p].row;
                }
            },
            [](size_t) {});
    }
    const size_t u = distinct.size();

    // The pairs of distinct hashes within the threshold, as (lower << 32 | higher), some
    // more than once.
    std::vector<Big<uint64_t>> found(1);
    Big<char> crowded(u, 0);
    const int radius = std::min(threshold / 4, 16);
    const std::vector<uint32_t> near = masksUpTo(radius);
    const double joinCost = 4.0 * Buckets * 8 +
                            12.0 * double(std::min<size_t>(u, Buckets)) * double(near.size()) +
                            8.5 * double(near.size()) * double(u) * double(u) / Buckets;
    const double pairCost = 4.0 * double(u) * double(u);
    // Progress counts units of join work, then rows of the walk.
    size_t steps = n, walkFrom = 0;
    if (pairCost <= joinCost) {
        for (size_t a = 0; a < u; ++a)
            for (size_t b = a + 1; b < u; ++b)
                if (FingerprintDistance(distinct[a], distinct[b]) <= threshold)
                    found[0].push_back(uint64_t(a) << 32 | b);
    } else {
        found.resize(threads);
        const CheckBuckets check = checkBuckets();
        constexpr size_t Blocks = Buckets / Block;
        size_t joinUnits = 0;
        for (int region = 0; region < 4; ++region)
            joinUnits += joinsOf(region).size() * Blocks;
        steps = joinUnits + n;
        walkFrom = joinUnits;
        size_t doneUnits = 0;
        // A crowded hash sits in a bucket far fuller than the average (near-blank pictures
        // all hash alike): pairs of two crowded hashes are left to the walk, which drops
        // a hash once its rows are grouped, rather than listing every pair of a crowd.
        // Which hashes are crowded only decides who finds a pair, so a hash found crowded
        // in a later class joins the crowd from there on.
        const uint32_t most = std::max<uint32_t>(256, uint32_t(8 * u / Buckets));
        // Every class's keys first, so that a crowd is known before any join; then each
        // class's tables filled, joined and let go.
        std::array<Table, 8> tables; // by class, then transposed or not
        const auto used = [](size_t table) {
            const std::vector<Join> joins = joinsOf(int(table / 2));
            return table % 2 == 0 || std::any_of(joins.begin(), joins.end(),
                                                 [](const Join& j) { return j.transposed; });
        };
        runUnits(
            tables.size(), threads, nullptr,
            [&](size_t t, unsigned) {
                if (used(t))
                    tables[t].count(distinct, Regions[t / 2], t % 2 == 1);
            },
            [](size_t) {});
        for (size_t t = 0; t < tables.size(); ++t)
            if (used(t))
                tables[t].crowd(most, crowded);
        for (int region = 0; region < 4; ++region) {
            const Region r = Regions[size_t(region)];
            const std::vector<Join> joins = joinsOf(region);
            // Such a class's transposed join meets each pair twice, at buckets (v, w) and
            // (turn[w], turn[v]); it is read where v <= turn[w].
            const std::vector<uint16_t> turn =
                r.rowParity == r.columnParity ? transposedKeys(r) : std::vector<uint16_t>();
            Table& plain = tables[size_t(region) * 2];
            Table& turned = tables[size_t(region) * 2 + 1];
            runUnits(
                2, threads, nullptr,
                [&](size_t t, unsigned) {
                    if (used(size_t(region) * 2 + t))
                        tables[size_t(region) * 2 + t].fill(distinct, t == 1, crowded);
                },
                [](size_t) {});
            const bool finished = runUnits(
                joins.size() * Blocks, threads, stop,
                [&](size_t unit, unsigned worker) {
                    const Join& j = joins[unit / Blocks];
                    const Table& other = j.transposed ? turned : plain;
                    const uint32_t flip = j.flip ? 0xFFFFu : 0u;
                    Big<uint64_t>& out = found[worker];
                    const uint32_t from = uint32_t(unit % Blocks) * Block;
                    uint32_t filled[Block], count = 0;
                    for (uint32_t v = from; v < from + Block; ++v)
                        if (plain.start[v] != plain.start[v + 1])
                            filled[count++] = v;
                    // One mask at a time over the run of buckets, so that both sides
                    // are read nearly in order and the left run stays in cache.
                    for (uint32_t e : near)
                        for (const uint32_t v : std::span(filled, count)) {
                            const uint32_t w = v ^ e ^ flip;
                            // Read each pair of buckets once where a join meets it twice.
                            if (j.transposed ? !turn.empty() && turn[w] < v : w < v)
                                continue;
                            const uint32_t lb = plain.start[v], le = plain.start[v + 1];
                            const uint32_t rb = other.start[w], re = other.start[w + 1];
                            if (lb == le || rb == re)
                                continue;
                            const uint32_t ls = plain.crowdedFrom[v], rs = other.crowdedFrom[w];
                            const auto pairsOf = [&](uint32_t l0, uint32_t l1, uint32_t r0,
                                                     uint32_t r1, bool same) {
                                if (l0 < l1 && r0 < r1)
                                    check(plain.value.data() + l0, plain.id.data() + l0, l1 - l0,
                                          other.value.data() + r0, other.id.data() + r0, r1 - r0,
                                          same, j.masks.data(), j.maskCount, threshold, out);
                            };
                            if (!j.transposed && w == v) {
                                pairsOf(lb, ls, lb, ls, true);
                                pairsOf(lb, ls, ls, le, false);
                            } else {
                                pairsOf(lb, ls, rb, re, false);
                                pairsOf(ls, le, rb, rs, false);
                            }
                        }
                },
                [&](size_t) {
                    if (progress && (++doneUnits & 15) == 0)
                        progress(doneUnits, steps);
                });
            if (!finished)
                return leader;
            plain = {};
            turned = {};
        }
    }

    // With centre hashes, the whole hashes near each of them, after the whole pairs.
    CropLinks links;
    if (centres) {
        const size_t cropUnits = (4 * 4 - 1) * (Buckets / Block);
        const size_t from = walkFrom;
        steps += cropUnits;
        walkFrom += cropUnits;
        size_t done = 0;
        if (!linkCrops(distinct, *centres, cropThreshold, threads, stop, links, [&](size_t) {
                if (progress && (++done & 15) == 0)
                    progress(from + done, steps);
            }))
            return leader;
    }

    // Each distinct hash's neighbours (a pair found twice is a neighbour twice).
    Big<uint32_t> nearStart(u + 1, 0);
    for (const auto& f : found)
        for (uint64_t p : f) {
            ++nearStart[(p >> 32) + 1];
            ++nearStart[(p & 0xFFFFFFFFu) + 1];
        }
    for (size_t k = 0; k < u; ++k)
        nearStart[k + 1] += nearStart[k];
    Big<uint32_t> nearList(nearStart[u]);
    {
        std::vector<uint32_t> end(nearStart.begin(), nearStart.end() - 1);
        for (const auto& f : found)
            for (uint64_t p : f) {
                const uint32_t a = uint32_t(p >> 32), b = uint32_t(p);
                nearList[end[a]++] = b;
                nearList[end[b]++] = a;
            }
    }
    found = {};
    // Rows whose hash has a neighbour or another row; every other row leads a group of one.
    Big<char> shared(n, 0);
    Big<uint32_t> distinctOf(n);            // for those rows only
    std::vector<uint32_t> crowd, ungrouped; // the crowded hashes, and their rows left
    for (size_t k = 0; k < u; ++k)
        if (crowded[k]) {
            crowd.push_back(uint32_t(k));
            ungrouped.push_back(rowsStart[k + 1] - rowsStart[k]);
        }
    for (size_t k = 0; k < u; ++k)
        if (nearStart[k + 1] > nearStart[k] || rowsStart[k + 1] - rowsStart[k] > 1 || crowded[k])
            for (uint32_t p = rowsStart[k]; p < rowsStart[k + 1]; ++p) {
                shared[order[p]] = 1;
                distinctOf[order[p]] = uint32_t(k);
            }
    if (centres) {
        // Every row's hash, and which rows a part links.
        for (size_t k = 0; k < u; ++k)
            for (uint32_t p = rowsStart[k]; p < rowsStart[k + 1]; ++p) {
                distinctOf[order[p]] = uint32_t(k);
                shared[order[p]] |= links.toCentreStart[k + 1] > links.toCentreStart[k];
            }
        for (size_t c = 0; c < links.hash.size(); ++c)
            if (links.toWholeStart[c + 1] > links.toWholeStart[c])
                shared[links.entry[c] >> 2] = 1;
    }

    if (paired) {
        // Instead of the walk, which rows have a neighbour: another row of their hash or of
        // a near one that `confirm` agrees with, or a crop link either way. A crowded
        // hash's neighbours in its crowd are not listed: its rows count as paired, which
        // costs them a needless check at worst.
        for (size_t i = 0; i < n; ++i) {
            if ((i & 1023) == 0 && stop && stop->load(std::memory_order_relaxed))
                return leader;
            if (!shared[i])
                continue;
            const uint32_t k = distinctOf[i];
            bool hit = crowded[k];
            const auto pairsWithin = [&](uint32_t of) {
                for (uint32_t p = rowsStart[of]; !hit && p < rowsStart[of + 1]; ++p)
                    hit = order[p] != i && (!confirm || confirm(uint32_t(i), order[p]));
            };
            pairsWithin(k);
            for (uint32_t at = nearStart[k]; !hit && at < nearStart[k + 1]; ++at)
                pairsWithin(nearList[at]);
            if (centres && !hit) {
                hit = links.toCentreStart[k + 1] > links.toCentreStart[k];
                for (int part = 0; !hit && part < CentreParts; ++part) {
                    const uint32_t c = links.ofRow[i * CentreParts + size_t(part)];
                    hit = c != NoPart && links.toWholeStart[c + 1] > links.toWholeStart[c];
                }
            }
            (*paired)[i] = hit;
        }
        return leader;
    }

    // The leader walk: every row before i is in a group by the time i is reached.
    Big<char> grouped(n, 0);
    std::vector<uint32_t> members;
    std::vector<uint64_t> linked; // member << 3 | how (0 whole, 1 + leader's part, 4 + own)
    std::vector<std::pair<uint32_t, PairMatch>> asks; // one leader's members, with how
    std::vector<char> answers;
    const auto gather = [&](uint32_t k, uint32_t after) {
        const auto first = order.begin() + rowsStart[k], last = order.begin() + rowsStart[k + 1];
        for (auto it = std::upper_bound(first, last, after); it != last; ++it)
            if (!grouped[*it])
                members.push_back(*it);
    };
    for (size_t i = 0; i < n; ++i) {
        if ((i & 1023) == 0) {
            if (progress)
                progress(walkFrom + i, steps);
            if (stop && stop->load(std::memory_order_relaxed))
                return leader;
        }
        if (!shared[i] || grouped[i])
            continue;
        members.clear();
        const uint32_t k = distinctOf[i];
        gather(k, uint32_t(i));
        for (uint32_t at = nearStart[k]; at < nearStart[k + 1]; ++at)
            gather(nearList[at], uint32_t(i));
        if (crowded[k]) {
            // The crowd's other hashes, those with rows left, checked whole.
            size_t kept = 0;
            for (size_t c = 0; c < crowd.size(); ++c) {
                if (ungrouped[c] == 0)
                    continue;
                crowd[kept] = crowd[c];
                ungrouped[kept++] = ungrouped[c];
                if (crowd[c] != k &&
                    FingerprintDistance(distinct[k], distinct[crowd[c]]) <= threshold)
                    gather(crowd[c], uint32_t(i));
            }
            crowd.resize(kept);
            ungrouped.resize(kept);
        }
        const auto take = [&](uint32_t row) {
            grouped[row] = 1;
            const uint32_t of = distinctOf[row];
            if (crowded[of])
                --ungrouped[size_t(std::lower_bound(crowd.begin(), crowd.end(), of) -
                                   crowd.begin())];
        };
        if (centres) {
            // Rows a part links, each with how; a row also near whole is taken as whole.
            linked.clear();
            for (uint32_t m : members)
                linked.push_back(uint64_t(m) << 3);
            // Centre hashes are numbered in reading order: those of rows after i.
            const auto first = links.toCentre.begin() + links.toCentreStart[k];
            const auto last = links.toCentre.begin() + links.toCentreStart[k + 1];
            const auto after = std::partition_point(
                first, last, [&](uint32_t c) { return links.entry[c] >> 2 <= i; });
            for (auto it = after; it != last; ++it) {
                const uint32_t e = links.entry[*it];
                if (!grouped[e >> 2])
                    linked.push_back(uint64_t(e >> 2) << 3 | (4 + (e & 3)));
            }
            for (int part = 0; part < CentreParts; ++part) {
                const uint32_t c = links.ofRow[i * CentreParts + size_t(part)];
                if (c == NoPart)
                    continue;
                for (uint32_t at = links.toWholeStart[c]; at < links.toWholeStart[c + 1]; ++at) {
                    members.clear();
                    gather(links.toWhole[at], uint32_t(i));
                    for (uint32_t m : members)
                        linked.push_back(uint64_t(m) << 3 | uint64_t(1 + part));
                }
            }
            std::sort(linked.begin(), linked.end());
            take(uint32_t(i));
            asks.clear();
            for (size_t at = 0; at < linked.size(); ++at) {
                const uint32_t m = uint32_t(linked[at] >> 3);
                if (at > 0 && linked[at - 1] >> 3 == m)
                    continue;
                const int code = int(linked[at] & 7);
                asks.emplace_back(m, code == 0 ? PairMatch{}
                                     : code < 4
                                         ? PairMatch{PairMatch::LeaderPart, uint8_t(code - 1)}
                                         : PairMatch{PairMatch::MemberPart, uint8_t(code - 4)});
            }
            // One leader's members are confirmed independently of each other: a slow
            // confirmation (comparing two pictures) may ask them on several threads.
            answers.assign(asks.size(), 1);
            if (confirmHow && parallelConfirm && asks.size() > 1)
                RunWorkers(asks.size(), std::min<unsigned>(WorkerThreads(), unsigned(asks.size())),
                           [&](size_t a, unsigned) {
                               answers[a] = confirmHow(uint32_t(i), asks[a].first, asks[a].second);
                           });
            else if (confirmHow)
                for (size_t a = 0; a < asks.size(); ++a)
                    answers[a] = confirmHow(uint32_t(i), asks[a].first, asks[a].second);
            for (size_t a = 0; a < asks.size(); ++a)
                if (answers[a]) {
                    take(asks[a].first);
                    leader[asks[a].first] = uint32_t(i);
                    if (how)
                        (*how)[asks[a].first] = asks[a].second;
                }
            continue;
        }
        std::sort(members.begin(), members.end());
        members.erase(std::unique(members.begin(), members.end()), members.end());
        take(uint32_t(i));
        for (uint32_t m : members)
            if (!confirm || confirm(uint32_t(i), m)) {
                take(m);
                leader[m] = uint32_t(i);
            }
    }
    if (progress)
        progress(steps, steps);
    return leader;
}

} // namespace

std::vector<uint32_t> GroupFingerprints(const std::vector<uint64_t>& hashes, int threshold,
                                        const std::function<void(size_t, size_t)>& progress,
                                        const std::atomic<bool>* stop,
                                        const std::function<bool(uint32_t, uint32_t)>& confirm,
                                        unsigned threads) {
    return group(hashes, threshold, progress, stop, confirm, threads, nullptr, -1, {}, nullptr);
}

std::vector<char> ConfirmedNeighbours(const std::vector<uint64_t>& hashes, int threshold,
                                      const std::function<bool(uint32_t, uint32_t)>& confirm,
                                      const std::atomic<bool>* stop, unsigned threads,
                                      const std::vector<CentreHashes>* centres, int cropThreshold) {
    std::vector<char> paired(hashes.size(), 0);
    const bool crops = centres && centres->size() == hashes.size();
    group(hashes, threshold, {}, stop, confirm, threads, crops ? centres : nullptr,
          crops ? std::min(cropThreshold, 64) : -1, {}, nullptr, &paired);
    return paired;
}

std::vector<uint32_t>
GroupFingerprintsWithCrops(const std::vector<uint64_t>& hashes,
                           const std::vector<CentreHashes>& centres, int threshold,
                           int cropThreshold, const std::function<void(size_t, size_t)>& progress,
                           const std::atomic<bool>* stop,
                           const std::function<bool(uint32_t, uint32_t, PairMatch)>& confirm,
                           unsigned threads, std::vector<PairMatch>* how, bool parallelConfirm) {
    if (how)
        how->assign(hashes.size(), PairMatch{});
    if (centres.size() != hashes.size()) {
        // Whole hashes only: every pair is a whole match.
        const auto whole = [&](uint32_t l, uint32_t m) {
            return !confirm || confirm(l, m, PairMatch{});
        };
        return group(hashes, threshold, progress, stop, whole, threads, nullptr, -1, {}, how);
    }
    return group(hashes, threshold, progress, stop, {}, threads, &centres,
                 std::min(cropThreshold, 64), confirm, how, nullptr, parallelConfirm);
}

} // namespace fenwa::similar
