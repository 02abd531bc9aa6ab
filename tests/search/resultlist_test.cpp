#include <gtest/gtest.h>

#include "resultlist.h"

using namespace fenwa;

namespace {

FileRecordStore rowsOf(std::vector<std::tuple<std::string, std::string, int64_t, int32_t>> rows) {
    FileRecordStore s;
    for (auto& [name, dir, size, minute] : rows)
        s.append(s.internDirectory(dir), name, size, minute);
    return s;
}

std::vector<std::string> namesInOrder(const FileRecordStore& s,
                                      const std::vector<uint32_t>& order) {
    std::vector<std::string> out;
    for (uint32_t r : order)
        out.emplace_back(s.name(r));
    return out;
}

const Criteria SizeOnly{false, true, false};

} // namespace

TEST(ResultList, ColumnClicksAlternateAscendingAndDescending) {
    uint8_t mode = 0;
    mode = nextSortMode(mode, ColSize);
    EXPECT_EQ(mode, 4);
    mode = nextSortMode(mode, ColSize);
    EXPECT_EQ(mode, 5);
    mode = nextSortMode(mode, ColSize);
    EXPECT_EQ(mode, 4);
    mode = nextSortMode(mode, ColName); // another column always starts ascending
    EXPECT_EQ(mode, 0);
    mode = nextSortMode(mode, ColName);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(nextSortMode(9, ColTime), 8);
}

TEST(ResultList, SortsEveryColumnBothWays) {
    auto s = rowsOf({{"b.jpg", "/Y", 10, 3},
                     {"A.jpg", "/x", 9, 1},
                     {"c.GIF", "/z", 100, 2},
                     {"d", "/w", 4294967396, 0}});
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 0)),
              (std::vector<std::string>{"A.jpg", "b.jpg", "c.GIF", "d"}));
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 1)),
              (std::vector<std::string>{"d", "c.GIF", "b.jpg", "A.jpg"}));
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 2)),
              (std::vector<std::string>{"d", "A.jpg", "b.jpg", "c.GIF"}));
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 3)),
              (std::vector<std::string>{"c.GIF", "b.jpg", "A.jpg", "d"}));
    // Sizes are numbers: 9 before 10, and 4 GiB + 100 last.
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 4)),
              (std::vector<std::string>{"A.jpg", "b.jpg", "c.GIF", "d"}));
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 5)),
              (std::vector<std::string>{"d", "c.GIF", "b.jpg", "A.jpg"}));
    // Types: "" < ".GIF" < ".jpg" with case folded; equal types keep their order.
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 6)),
              (std::vector<std::string>{"d", "c.GIF", "b.jpg", "A.jpg"}));
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 7)),
              (std::vector<std::string>{"b.jpg", "A.jpg", "c.GIF", "d"}));
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 8)),
              (std::vector<std::string>{"d", "A.jpg", "c.GIF", "b.jpg"}));
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 9)),
              (std::vector<std::string>{"b.jpg", "c.GIF", "A.jpg", "d"}));
}

TEST(ResultList, PictureColumnsAndLikenessSortRowsWithoutAValueLastBothWays) {
    auto s = rowsOf(
        {{"none", "/d", 1, 0}, {"big", "/d", 1, 0}, {"small", "/d", 1, 0}, {"wide", "/d", 1, 0}});
    // Picture sizes as pixel counts (the width breaks ties): "none" has no value.
    const std::vector<OuterKey> keys = {{}, {400, 20, true}, {100, 10, true}, {400, 40, true}};
    const OuterKeyOf outer = [&](size_t row) { return keys[row]; };
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 2 * ColPictureSize, outer)),
              (std::vector<std::string>{"small", "big", "wide", "none"}));
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 2 * ColTaken + 1, outer)),
              (std::vector<std::string>{"wide", "big", "small", "none"}));
    // Likeness from the records; a row never measured last.
    s.setLikeness(1, 97);
    s.setLikeness(2, 100);
    s.setLikeness(3, 80);
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 2 * ColLikeness)),
              (std::vector<std::string>{"wide", "big", "small", "none"}));
    EXPECT_EQ(namesInOrder(s, sortedOrder(s, 2 * ColLikeness + 1)),
              (std::vector<std::string>{"small", "big", "wide", "none"}));
}

TEST(ResultList, RowsMatchNeedsATickAndEveryTickedField) {
    auto s = rowsOf({{"A.jpg", "/a", 5, 1}, {"a.JPG", "/b", 5, 2}, {"a.jpg", "/c", 6, 1}});
    EXPECT_FALSE(RowsMatch(s, 0, 1, Criteria{}));
    EXPECT_TRUE(RowsMatch(s, 0, 1, Criteria{true, false, false}));
    EXPECT_TRUE(RowsMatch(s, 0, 1, SizeOnly));
    EXPECT_FALSE(RowsMatch(s, 0, 1, Criteria{true, true, true}));
    EXPECT_TRUE(RowsMatch(s, 0, 2, Criteria{true, false, true}));
    EXPECT_FALSE(RowsMatch(s, 0, 2, Criteria{true, true, false}));
}

TEST(ResultList, GroupNavigation) {
    // Groups by size: rows 0-2 (size 1), 3-4 (size 2), 5 (size 3), 6-7 (size 4).
    auto s = rowsOf({{"a", "/", 1, 0},
                     {"b", "/", 1, 0},
                     {"c", "/", 1, 0},
                     {"d", "/", 2, 0},
                     {"e", "/", 2, 0},
                     {"f", "/", 3, 0},
                     {"g", "/", 4, 0},
                     {"h", "/", 4, 0}});
    auto g = groupAround(s, 1, SizeOnly);
    EXPECT_EQ(g.first, 0u);
    EXPECT_EQ(g.last, 2u);
    g = groupAround(s, 5, SizeOnly);
    EXPECT_EQ(g.first, 5u);
    EXPECT_EQ(g.last, 5u);

    EXPECT_EQ(NextGroup(s, 0, SizeOnly), 3);
    EXPECT_EQ(NextGroup(s, 4, SizeOnly), 5);
    EXPECT_EQ(NextGroup(s, 6, SizeOnly), 6);  // inside the last group: stays
    EXPECT_EQ(NextGroup(s, 7, SizeOnly), -1); // the very last row
    EXPECT_EQ(NextGroup(s, -1, SizeOnly), -1);

    EXPECT_EQ(PriorGroup(s, 0, SizeOnly), -1);
    EXPECT_EQ(PriorGroup(s, 2, SizeOnly), 0); // inside the first group
    EXPECT_EQ(PriorGroup(s, 4, SizeOnly), 0); // second row of the second group
    EXPECT_EQ(PriorGroup(s, 5, SizeOnly), 3);
    EXPECT_EQ(PriorGroup(s, 7, SizeOnly), 5);

    // Nothing ticked: every row is a group of its own.
    EXPECT_EQ(NextGroup(s, 1, Criteria{}), 2);
    EXPECT_EQ(PriorGroup(s, 1, Criteria{}), 0);
    EXPECT_EQ(PriorGroup(s, 4, Criteria{}), 3);
    g = groupAround(s, 1, Criteria{});
    EXPECT_EQ(g.first, 1u);
    EXPECT_EQ(g.last, 1u);
}

TEST(ResultList, SlideWindowAroundTheCurrentRow) {
    EXPECT_EQ(slideStart(5, 4, 6), 4u); // three candidates: from the first
    EXPECT_EQ(slideStart(4, 0, 8), 2u); // nine, current fifth: centred
    EXPECT_EQ(slideStart(0, 0, 7), 0u); // first of eight
    EXPECT_EQ(slideStart(7, 0, 7), 3u); // last of eight: the last five
    EXPECT_EQ(slideStart(1, 0, 6), 0u); // second of seven
    EXPECT_EQ(slideWidth(550, 5), 107); // 534 * 0.2 = 106.8
    EXPECT_EQ(slideWidth(16, 5), 0);
}

TEST(ResultList, SlideRowsStopAtNonImagesAndNonNeighbours) {
    // Sizes: 1 1 1 (txt) 1 1 2; images except row 3.
    auto s = rowsOf({{"a.jpg", "/", 1, 0},
                     {"b.jpg", "/", 1, 0},
                     {"c.jpg", "/", 1, 0},
                     {"d.txt", "/", 1, 0},
                     {"e.jpg", "/", 1, 0},
                     {"f.gif", "/", 1, 0},
                     {"g.gif", "/", 2, 0}});
    auto r = slideRows(s, 1, SizeOnly);
    EXPECT_EQ(r.first, 0u);
    EXPECT_EQ(r.last, 2u); // the text file ends the run
    EXPECT_EQ(r.start, 0u);
    r = slideRows(s, 4, SizeOnly);
    EXPECT_EQ(r.first, 4u);
    EXPECT_EQ(r.last, 5u);
    // Nothing ticked: every image row within reach counts.
    r = slideRows(s, 5, Criteria{});
    EXPECT_EQ(r.first, 4u);
    EXPECT_EQ(r.last, 6u);
}

TEST(ResultList, SlideRowsLookAtMostFiveRowsEachWay) {
    FileRecordStore s;
    uint32_t d = s.internDirectory("/");
    for (int i = 0; i < 20; ++i)
        s.append(d, std::to_string(i) + ".jpg", 7, 0);
    auto r = slideRows(s, 10, SizeOnly);
    EXPECT_EQ(r.first, 5u);
    EXPECT_EQ(r.last, 15u);
    EXPECT_EQ(r.start, 8u);
}

TEST(ResultList, RecordedGroupsAreOwnedByTheRowsAndNeverShared) {
    // Runs by size [a b] c [d e]; c alone is in no group.
    FileRecordStore s = rowsOf({{"a", "/p", 1, 0},
                                {"b", "/q", 1, 0},
                                {"c", "/p", 2, 0},
                                {"d", "/p", 3, 0},
                                {"e", "/q", 3, 0}});
    recordGroups(s, SizeOnly);
    EXPECT_TRUE(s.sameGroup(0, 1));
    EXPECT_TRUE(s.sameGroup(3, 4));
    EXPECT_FALSE(s.sameGroup(1, 3));
    EXPECT_EQ(s.group(2), 0u);
    // Another search's groups take other ids.
    FileRecordStore other = rowsOf({{"a", "/p", 1, 0}, {"b", "/q", 1, 0}});
    recordGroups(other, SizeOnly);
    EXPECT_NE(other.group(0), s.group(0));
    EXPECT_NE(other.group(0), s.group(3));

    // Sorted by directory, then one row removed: gathered by id, wherever the rows are.
    s.permute(sortedOrder(s, 2)); // a c d | b e
    s.removeRows({false, true});  // a d b e
    const RecordedGroups all(s);
    ASSERT_EQ(all.count(), 2u);
    EXPECT_EQ(std::vector<size_t>(all.groupOf(s, 0).begin(), all.groupOf(s, 0).end()),
              (std::vector<size_t>{0, 2}));
    EXPECT_EQ(std::vector<size_t>(all.groupOf(s, 3).begin(), all.groupOf(s, 3).end()),
              (std::vector<size_t>{1, 3}));
    const std::vector<size_t> asked{3};
    const RecordedGroups some(s, asked);
    EXPECT_EQ(some.count(), 1u);
    EXPECT_TRUE(some.groupOf(s, 0).empty());
    EXPECT_EQ(some.groupOf(s, 1).size(), 2u);

    // Ids far apart (not one search's range) are gathered as well.
    s.setGroup(1, 3'000'000'000u);
    s.setGroup(3, 4'000'000'000u);
    const RecordedGroups spread(s);
    ASSERT_EQ(spread.count(), 3u);
    EXPECT_EQ(spread.groupOf(s, 1).size(), 1u);
    EXPECT_EQ(spread.groupOf(s, 3).front(), 3u);
    EXPECT_EQ(spread.groupOf(s, 2).front(), 0u);
}

TEST(ResultList, GroupSummaryCountsEachFileOnceAndKeepsTheLargest) {
    // Rows: name, group, size, device, inode, hard-linked mark.
    struct Row {
        const char* name;
        uint32_t group;
        int64_t size;
        uint64_t inode;
        bool linked;
    };
    const Row table[] = {{"a1", 1, 100, 11, false},
                         {"a2", 1, 100, 12, false},
                         {"a3", 1, 100, 13, false},
                         // A similar group of three sizes: the 300-byte file is the one that stays.
                         {"b1", 2, 300, 21, false},
                         {"b2", 2, 200, 22, false},
                         {"b3", 2, 50, 23, false},
                         // Two links to one file and a copy: one copy could go.
                         {"c1", 3, 70, 31, true},
                         {"c2", 3, 70, 31, true},
                         {"c3", 3, 70, 32, false},
                         // A group of links to one file frees nothing; a group of one is no group.
                         {"d1", 4, 90, 41, true},
                         {"d2", 4, 90, 41, true},
                         {"e1", 5, 999, 51, false},
                         {"lone", 0, 5, 61, false}};
    FileRecordStore rows;
    const uint32_t dir = rows.internDirectory("/d", 7);
    for (const Row& r : table) {
        rows.append(dir, r.name, r.size, 0, r.inode);
        rows.setGroup(rows.size() - 1, r.group);
        rows.setHardLinked(rows.size() - 1, r.linked);
    }
    const GroupSummary summary = SummariseGroups(rows);
    EXPECT_EQ(summary.groups, 4u);
    EXPECT_EQ(summary.couldGo, 2u + 2u + 1u + 0u);
    EXPECT_EQ(summary.bytes, 200 + 250 + 70 + 0);
    EXPECT_EQ(SummariseGroups(FileRecordStore{}).groups, 0u);

    // Removing a link whose file another row still reaches frees nothing; removing both
    // frees the file once.
    EXPECT_EQ(BytesFreedByRemoving(rows, {0, 1}), 200);
    EXPECT_EQ(BytesFreedByRemoving(rows, {6}), 0);
    EXPECT_EQ(BytesFreedByRemoving(rows, {6, 7}), 70);
    EXPECT_EQ(BytesFreedByRemoving(rows, {9, 10, 12}), 95);
}
