#pragma once
// The percentage a long operation shows for step i (from 0) of n.

#include <cstdint>

namespace fenwa {

// (i + 1) / n * 100 rounded to the nearest integer, ties to even. 0 when n is 0.
constexpr int ProgressPercent(uint64_t step, uint64_t count) {
    if (count == 0)
        return 0;
    const uint64_t scaled = (step + 1) * 100;
    uint64_t q = scaled / count;
    const uint64_t twiceRemainder = (scaled % count) * 2;
    if (twiceRemainder > count || (twiceRemainder == count && q % 2 == 1))
        ++q;
    return static_cast<int>(q);
}

// The status bar is repainted at once only for even percentages.
constexpr bool ProgressRepaints(int percent) {
    return percent % 2 == 0;
}

} // namespace fenwa
