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

// One quarter's table: the positions of the hashes by quarter value, each bucket in
// order. Grouped positions are dropped from a bucket when it is next read.
class QuarterTable {
public:
    QuarterTable(const std::vector<uint64_t>& hashes, int q) : start_(Values + 1, 0) {
        for (uint64_t h : hashes)
            ++start_[quarter(h, q) + 1];
        for (uint32_t v = 0; v < Values; ++v)
            start_[v + 1] += start_[v];
        end_.assign(start_.begin(), start_.end() - 1);
        positions_.resize(hashes.size());
        for (size_t i = 0; i < hashes.size(); ++i)
            positions_[end_[quarter(hashes[i], q)]++] = uint32_t(i);
    }

    template <class Visit>
    void visit(uint32_t value, const std::vector<char>& grouped, Visit&& visitor) {
        uint32_t kept = start_[value];
        for (uint32_t p = start_[value]; p < end_[value]; ++p) {
            const uint32_t i = positions_[p];
            if (grouped[i])
                continue;
            positions_[kept++] = i;
            visitor(i);
        }
        end_[value] = kept;
    }

private:
    std::vector<uint32_t> start_;
    std::vector<uint32_t> end_;
    std::vector<uint32_t> positions_;
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
                for (uint32_t v : values)
                    tables[size_t(q)].visit(v, grouped, [&](uint32_t j) {
                        if (std::popcount(query ^ hashes[j]) <= threshold) {
                            grouped[j] = 1;
                            leader[j] = uint32_t(i);
                        }
                    });
            }
        }
    }
    if (progress)
        progress(n, n);
    return leader;
}

} // namespace fenwa::similar
