// The large stores' array keeps every value it was given whichever way it grows or
// shrinks: within the heap, from the heap into mapped memory, by moving mapped pages, and
// back.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bigallocator.h"

using namespace fenwa;

namespace {

uint64_t valueAt(size_t i) {
    return i * 0x9e3779b97f4a7c15ull;
}

} // namespace

TEST(BigArray, KeepsItsValuesThroughEveryGrowthAndShrink) {
    // Sizes in values of 8 bytes, across the huge page (262,144 of them).
    const std::vector<size_t> steps = {10,      1000,   262143, 262144, 700000,
                                       2000000, 300000, 100,    0,      500000};
    BigArray<uint64_t> array;
    for (size_t target : steps) {
        if (target > array.size()) {
            for (size_t i = array.size(); i < target; ++i)
                array.push_back(valueAt(i));
        } else {
            array.resize(target);
            array.shrink_to_fit();
            EXPECT_EQ(array.capacity(), target);
        }
        ASSERT_EQ(array.size(), target);
        for (size_t i = 0; i < target; i += 997)
            ASSERT_EQ(array[i], valueAt(i)) << "at " << i << " of " << target;
        if (target) {
            EXPECT_EQ(array.back(), valueAt(target - 1));
        }
    }

    // A copy is its own; a move leaves the source empty.
    BigArray<uint64_t> copy(array);
    copy[0] = 1;
    EXPECT_EQ(array[0], valueAt(0));
    BigArray<uint64_t> moved(std::move(array));
    EXPECT_TRUE(array.empty());
    EXPECT_EQ(moved.size(), copy.size());
    EXPECT_EQ(moved[moved.size() - 1], copy[copy.size() - 1]);

    // Appended in one piece, past the huge page, and reserved ahead.
    BigArray<char> bytes;
    std::vector<char> piece(3 << 20);
    for (size_t i = 0; i < piece.size(); ++i)
        piece[i] = char(i * 7);
    bytes.append(piece.data(), 10);
    bytes.append(piece.data() + 10, piece.size() - 10);
    bytes.reserve(bytes.size() * 3);
    ASSERT_EQ(bytes.size(), piece.size());
    EXPECT_EQ(std::vector<char>(bytes.begin(), bytes.end()), piece);
}
