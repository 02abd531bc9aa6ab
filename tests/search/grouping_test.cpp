#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

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

// The rule stated plainly: rows sorted by key (here by folded bytes, not by any collation:
// how unequal keys sort must not matter), ties in the order of their numbers as text; for
// each row in reading order, the first remaining row of its key leads, and the remaining
// rows of that key equal to the leader on every criterion follow it.
namespace {

std::vector<uint32_t> plainRule(const FileRecordStore& rows, const Criteria& c) {
    const KeyKind kind = primaryKey(c);
    const auto key = [&](uint32_t r) {
        if (kind == KeyKind::Name) {
            std::string s(rows.name(r));
            for (char& ch : s)
                if (ch >= 'a' && ch <= 'z')
                    ch = char(ch - 32);
            return s;
        }
        return std::to_string(kind == KeyKind::Size ? rows.fileSize(r) : rows.minute(r));
    };
    std::vector<uint32_t> sorted(rows.size());
    std::iota(sorted.begin(), sorted.end(), 0u);
    std::sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) {
        return std::pair{key(a), std::to_string(a)} < std::pair{key(b), std::to_string(b)};
    });
    std::vector<bool> taken(rows.size(), false);
    std::vector<uint32_t> out;
    for (uint32_t q = 0; q < rows.size(); ++q) {
        auto leader = std::find_if(sorted.begin(), sorted.end(),
                                   [&](uint32_t r) { return !taken[r] && key(r) == key(q); });
        if (leader == sorted.end())
            continue;
        taken[*leader] = true;
        const size_t before = out.size();
        for (auto it = leader + 1; it != sorted.end(); ++it)
            if (!taken[*it] && key(*it) == key(q) && RowsMatch(rows, *it, *leader, c)) {
                taken[*it] = true;
                out.push_back(*it);
            }
        if (out.size() > before)
            out.push_back(*leader);
    }
    return out;
}

} // namespace

TEST(Grouping, GroupsAndOrderFollowThePlainRule) {
    const char* const names[] = {"a.jpg", "A.JPG", "b", "B", "\xc3\xa4", "\xc3\x84", "ab", "a b"};
    std::vector<Row> rows;
    uint64_t s = 7;
    for (int i = 0; i < 160; ++i) { // past 99 so that the numbers' texts differ in length
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        rows.push_back({names[(s >> 33) % 8], int64_t((s >> 40) % 4), int32_t((s >> 50) % 3)});
    }
    const auto hidden = hiddenList(rows);
    for (int bits = 1; bits < 8; ++bits) {
        const Criteria c = only(bits & 1, bits & 2, bits & 4);
        EXPECT_EQ(FindDuplicateRows(hidden, c), plainRule(hidden, c)) << "criteria " << bits;
    }
}

TEST(Grouping, KeysNumberedWhileRowsArriveGiveTheSameGroups) {
    // Rows arrive in pieces, as the walk joins its subtrees, and the numbering's table
    // grows several times between them.
    const char* const stems[] = {"IMG_", "img_", "\xc3\xa4", "x y "};
    std::vector<Row> rows;
    uint64_t s = 11;
    for (int i = 0; i < 700; ++i) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        rows.push_back({stems[(s >> 33) % 4] + std::to_string((s >> 36) % 150),
                        int64_t((s >> 44) % 260), int32_t((s >> 54) % 90)});
    }
    const size_t pieces[] = {0, 1, 2, 40, 41, 300, 555, 700};
    for (int bits = 1; bits < 8; ++bits)
        for (KeyKind kind : {KeyKind::Name, KeyKind::Size, KeyKind::Time}) {
            FileRecordStore hidden;
            KeyNumbering numbering(kind);
            for (size_t p = 1; p < std::size(pieces); ++p) {
                for (size_t i = pieces[p - 1]; i < pieces[p]; ++i)
                    hidden.append(hidden.internDirectory(rows[i].dir), rows[i].name, rows[i].size,
                                  rows[i].minute);
                ASSERT_TRUE(numbering.catchUp(hidden));
            }
            const Criteria c = only(bits & 1, bits & 2, bits & 4);
            EXPECT_EQ(FindDuplicateRows(hidden, c, {}, nullptr, &numbering), plainRule(hidden, c))
                << "criteria " << bits << ", numbered by " << int(kind);
        }
}
