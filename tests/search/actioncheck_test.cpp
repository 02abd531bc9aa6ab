#include <gtest/gtest.h>

#include <map>

#include "actioncheck.h"

using namespace fenwa;

TEST(ActionCheck, RowsAreComparedWithTheDiskNow) {
    FileRecordStore rows;
    const uint32_t d = rows.internDirectory("/p");
    rows.append(d, "same", 10, 100);
    rows.append(d, "grown", 10, 100);
    rows.append(d, "touched", 10, 100);
    rows.append(d, "gone", 10, 100);
    rows.append(d, "now a directory", 10, 100);
    std::map<std::string, FileNow> disk{{"/p/same", {true, 10, 100}},
                                        {"/p/grown", {true, 11, 100}},
                                        {"/p/touched", {true, 10, 101}},
                                        {"/p/now a directory", {false, 0, 0}}};
    FileProbe probe = [&](const std::string& path, FileNow& now) {
        auto it = disk.find(path);
        if (it == disk.end())
            return false;
        now = it->second;
        return true;
    };
    EXPECT_EQ(checkRow(rows, 0, probe), Staleness::Unchanged);
    EXPECT_EQ(checkRow(rows, 1, probe), Staleness::SizeChanged);
    EXPECT_EQ(checkRow(rows, 2, probe), Staleness::TimeChanged);
    EXPECT_EQ(checkRow(rows, 3, probe), Staleness::Gone);
    EXPECT_EQ(checkRow(rows, 4, probe), Staleness::NotAFile);
}

TEST(ActionCheck, WholeGroupsAreThoseWithEveryRowSelected) {
    FileRecordStore rows;
    const uint32_t d = rows.internDirectory("/p");
    for (int64_t size : {1, 1, 2, 2, 2, 3})
        rows.append(d, "f" + std::to_string(size), size, 0);
    const Criteria bySize{false, true, false};
    auto whole = wholeGroupsSelected(rows, {true, true, true, false, true, true}, bySize);
    ASSERT_EQ(whole.size(), 1u); // the single row of size 3 is no group
    EXPECT_EQ(whole[0].first, 0u);
    EXPECT_EQ(whole[0].last, 1u);
    whole = wholeGroupsSelected(rows, std::vector<bool>(6, true), bySize);
    EXPECT_EQ(whole.size(), 2u);
    EXPECT_TRUE(wholeGroupsSelected(rows, std::vector<bool>(6, true), Criteria{}).empty());
}
