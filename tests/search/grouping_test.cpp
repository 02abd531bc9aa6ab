#include <gtest/gtest.h>

#include "grouping.h"

using namespace fenwa;

namespace {

struct Row {
    std::string name;
    int64_t size = 0;
    int32_t minute = 0;
    std::string dir = "/d";
};

FileRecordStore hiddenList(const std::vector<Row>& rows) {
    FileRecordStore s;
    for (const Row& r : rows)
        s.append(s.internDirectory(r.dir), r.name, r.size, r.minute);
    return s;
}

Criteria only(bool name, bool size, bool time) {
    return Criteria{name, size, time};
}

// Rows of distinct size, name and time, except where a test sets them equal.
std::vector<Row> distinctRows(size_t n) {
    std::vector<Row> rows;
    for (size_t i = 0; i < n; ++i)
        rows.push_back({"f" + std::to_string(i), int64_t(1000 + i), int32_t(i)});
    return rows;
}

} // namespace

TEST(Grouping, SizeOnlyListsPartnersWithTheLeaderLast) {
    auto hidden = hiddenList({{"a.jpg", 1000}, {"b.gif", 1000}, {"c.bmp", 2000}});
    EXPECT_EQ(FindDuplicateRows(hidden, only(false, true, false)), (std::vector<uint32_t>{1, 0}));
}

TEST(Grouping, MembersFollowTheIndexAsText) {
    auto rows = distinctRows(12);
    rows[3].size = rows[5].size = rows[7].size = 7;
    auto hidden = hiddenList(rows);
    EXPECT_EQ(FindDuplicateRows(hidden, only(false, true, false)),
              (std::vector<uint32_t>{5, 7, 3}));

    rows = distinctRows(12);
    rows[2].size = rows[10].size = rows[11].size = 7;
    hidden = hiddenList(rows);
    // "10" < "11" < "2": the leader is 10.
    EXPECT_EQ(FindDuplicateRows(hidden, only(false, true, false)),
              (std::vector<uint32_t>{11, 2, 10}));
}

TEST(Grouping, GroupsComeInTheOrderOfTheirEarliestFile) {
    auto hidden = hiddenList({{"x", 5}, {"y", 7}, {"z", 7}, {"w", 5}, {"v", 9}});
    EXPECT_EQ(FindDuplicateRows(hidden, only(false, true, false)),
              (std::vector<uint32_t>{3, 0, 2, 1}));
}

TEST(Grouping, NamesIgnoreAsciiCaseOnly) {
    auto hidden = hiddenList({{"Photo.JPG", 1, 0, "/a"},
                              {"photo.jpg", 2, 5, "/b"},
                              {"\xc3\x84.jpg", 1}, // Ä
                              {"\xc3\xa4.jpg", 2}, // ä
                              {"\xc3\xa4.jpg", 3}});
    EXPECT_EQ(FindDuplicateRows(hidden, only(true, false, false)),
              (std::vector<uint32_t>{1, 0, 4, 3}));
}

TEST(Grouping, NamesWithArrowsAndPunctuationFindTheirPartners) {
    // Keys that punctuation or "->" inside names could scatter in a text-sorted list.
    auto hidden =
        hiddenList({{"a b"}, {"a"}, {"x->1"}, {"a"}, {"a b"}, {"x->1"}, {"a-b"}, {"a-b"}});
    auto out = FindDuplicateRows(hidden, only(true, false, false));
    EXPECT_EQ(out, (std::vector<uint32_t>{4, 0, 3, 1, 5, 2, 7, 6}));
}

TEST(Grouping, TimeMatchesToTheMinute) {
    const int32_t minute = 60 * 10 + 15;
    auto hidden = hiddenList({{"a.jpg", 1, minute},
                              {"a.jpg", 2, minute},
                              {"b.jpg", 1, minute + 1},
                              {"b.jpg", 1, minute + 2}});
    EXPECT_EQ(FindDuplicateRows(hidden, only(true, false, true)), (std::vector<uint32_t>{1, 0}));
}

TEST(Grouping, CandidatesThatDifferFromTheLeaderAreLeftForTheNextLeader) {
    auto hidden = hiddenList({{"a.jpg", 100}, {"a.jpg", 200}, {"a.jpg", 200}});
    EXPECT_EQ(FindDuplicateRows(hidden, only(true, true, false)), (std::vector<uint32_t>{2, 1}));

    // Three sets under one name, met in reading order.
    hidden = hiddenList({{"n", 1}, {"n", 2}, {"m", 9}, {"n", 1}, {"n", 2}, {"n", 3}, {"m", 9}});
    EXPECT_EQ(FindDuplicateRows(hidden, only(true, true, false)),
              (std::vector<uint32_t>{3, 0, 4, 1, 6, 2}));
}

TEST(Grouping, NothingToGroup) {
    EXPECT_TRUE(FindDuplicateRows(hiddenList({}), only(false, true, false)).empty());
    EXPECT_TRUE(FindDuplicateRows(hiddenList({{"one", 1}}), only(false, true, false)).empty());
    EXPECT_TRUE(FindDuplicateRows(hiddenList(distinctRows(50)), only(true, true, true)).empty());
}

TEST(Grouping, EveryFileAtMostOnceAndProgressForBothPasses) {
    std::vector<Row> rows;
    for (int i = 0; i < 300; ++i)
        rows.push_back({"n" + std::to_string(i % 7), i % 5, i % 3});
    auto hidden = hiddenList(rows);
    std::vector<std::pair<size_t, size_t>> steps;
    auto out = FindDuplicateRows(hidden, only(true, true, true),
                                 [&](size_t s, size_t c) { steps.emplace_back(s, c); });
    std::vector<uint32_t> sorted = out;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    // i % 7, i % 5 and i % 3 repeat every 105 rows: every file has a partner.
    EXPECT_EQ(out.size(), 300u);
    // Each group is a run that matches on every criterion and has at least two rows.
    size_t i = 0;
    while (i < out.size()) {
        size_t j = i + 1;
        while (j < out.size() && RowsMatch(hidden, out[j], out[i], only(true, true, true)))
            ++j;
        EXPECT_GE(j - i, 2u);
        i = j;
    }
    ASSERT_EQ(steps.size(), 600u);
    EXPECT_EQ(steps.front(), (std::pair<size_t, size_t>{0, 300}));
    EXPECT_EQ(steps[300], (std::pair<size_t, size_t>{0, 300}));
}

TEST(Grouping, KeyListEntriesAndFindFirstKey) {
    auto hidden = hiddenList({{"b", 20}, {"a", 10}, {"B", 20}, {"c", 30}});
    KeyList list(hidden, KeyKind::Name);
    for (uint32_t q = 0; q < hidden.size(); ++q)
        list.append(q);
    list.sort();
    EXPECT_EQ(list.KeyEntry(0), "a->1");
    EXPECT_EQ(list.KeyEntry(1), "b->0");
    EXPECT_EQ(list.KeyEntry(2), "B->2");
    EXPECT_EQ(list.KeyEntry(3), "c->3");
    EXPECT_EQ(FindFirstKey(list, 2), 1); // "B" finds the run that starts with "b"
    EXPECT_EQ(FindFirstKey(list, 3), 3);
    EXPECT_EQ(FindFirstKey(list, 1), 0);

    KeyList sizes(hidden, KeyKind::Size);
    EXPECT_EQ(FindFirstKey(sizes, 0), -1); // empty list
    sizes.append(3);
    sizes.sort();
    EXPECT_EQ(FindFirstKey(sizes, 3), 0);
    EXPECT_EQ(FindFirstKey(sizes, 1), -1);
    EXPECT_EQ(sizes.KeyEntry(0), "30->3");
}
