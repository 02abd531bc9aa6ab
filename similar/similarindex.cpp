#include "similarindex.h"

#include <algorithm>
#include <array>
#include <bit>

#include "fingerprint.h"

namespace fenwa::similar {

namespace {

constexpr int Quarters = 4;
constexpr uint32_t Values = 1u << 16;

uint32_t quarter(uint64_t hash, int q) {
    return uint32_t(hash >> (16 * q)) & 0xFFFFu;
}

// Every 16-bit value within `radius` bits of `value`.
void near(uint32_t value, int radius, int from, std::vector<uint32_t>& out) {
    out.push_back(value);
    if (radius == 0)
        return;
    for (int bit = from; bit < 16; ++bit)
        near(value ^ (1u << bit), radius - 1, bit + 1, out);
}

// One quarter's table: the hashes by quarter value, each bucket in order. Each entry
// carries its hash, so a bucket is read front to back without looking elsewhere.
class QuarterTable {
public:
    struct Entry {
        uint64_t hash;
        uint32_t position;
    };

    QuarterTable(const std::vector<uint64_t>& hashes, int q) : start_(Values + 1, 0) {
        for (uint64_t h : hashes)
            ++start_[quarter(h, q) + 1];
        for (uint32_t v = 0; v < Values; ++v)
            start_[v + 1] += start_[v];
        std::vector<uint32_t> end(start_.begin(), start_.end() - 1);
        entries_.resize(hashes.size());
        for (size_t i = 0; i < hashes.size(); ++i)
            entries_[end[quarter(hashes[i], q)]++] = {hashes[i], uint32_t(i)};
    }

    // A bucket's bounds, and hints to load them and its entries ahead of use: a lookup
    // is a few random reads, which the memory serves faster when asked for many at once.
    void prefetchBounds(uint32_t value) const { __builtin_prefetch(&start_[value]); }
    uint32_t begin(uint32_t value) const { return start_[value]; }
    uint32_t end(uint32_t value) const { return start_[value + 1]; }
    void prefetchEntries(uint32_t from) const { __builtin_prefetch(entries_.data() + from); }
    const Entry& entry(uint32_t at) const { return entries_[at]; }

private:
    std::vector<uint32_t> start_;
    std::vector<Entry> entries_;
};

} // namespace

std::vector<uint32_t> GroupFingerprints(const std::vector<uint64_t>& hashes, int threshold,
                                        const std::function<void(size_t, size_t)>& progress,
                                        const std::atomic<bool>* stop) {
    const size_t n = hashes.size();
    std::vector<uint32_t> leader(n);
    for (size_t i = 0; i < n; ++i)
        leader[i] = uint32_t(i);
    if (n < 2 || threshold < 0)
        return leader;
    threshold = std::min(threshold, 63);
    const int radius = threshold / Quarters;
    std::vector<QuarterTable> tables;
    for (int q = 0; q < Quarters; ++q)
        tables.emplace_back(hashes, q);
    std::vector<char> grouped(n, 0);
    std::vector<uint32_t> values;
    struct Probe {
        const QuarterTable* table;
        uint32_t value;
        uint64_t query;
        uint32_t begin = 0, end = 0;
    };
    std::vector<Probe> probes;
    for (size_t i = 0; i < n; ++i) {
        if ((i & 1023) == 0) {
            if (progress)
                progress(i, n);
            if (stop && stop->load(std::memory_order_relaxed))
                break;
        }
        if (grouped[i])
            continue;
        grouped[i] = 1;
        std::array<uint64_t, 8> oriented{};
        probes.clear();
        for (int o = 0; o < 8; ++o) {
            oriented[size_t(o)] = OrientedFingerprint(hashes[i], o);
            // A symmetric hash has fewer distinct orientations.
            if (std::find(oriented.begin(), oriented.begin() + o, oriented[size_t(o)]) !=
                oriented.begin() + o)
                continue;
            const uint64_t query = oriented[size_t(o)];
            for (int q = 0; q < Quarters; ++q) {
                values.clear();
                near(quarter(query, q), radius, 0, values);
                for (uint32_t v : values) {
                    tables[size_t(q)].prefetchBounds(v);
                    probes.push_back({&tables[size_t(q)], v, query});
                }
            }
        }
        for (Probe& p : probes) {
            p.begin = p.table->begin(p.value);
            p.end = p.table->end(p.value);
            if (p.begin != p.end)
                p.table->prefetchEntries(p.begin);
        }
        for (const Probe& p : probes)
            for (uint32_t at = p.begin; at < p.end; ++at) {
                const auto& e = p.table->entry(at);
                if (std::popcount(p.query ^ e.hash) <= threshold && !grouped[e.position]) {
                    grouped[e.position] = 1;
                    leader[e.position] = uint32_t(i);
                }
            }
    }
    if (progress)
        progress(n, n);
    return leader;
}

} // namespace fenwa::similar
