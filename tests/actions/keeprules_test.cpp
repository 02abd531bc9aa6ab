#include <gtest/gtest.h>

#include <map>
#include <string>

#include "keeprules.h"
#include "textprotection.h"

using namespace fenwa;
using namespace fenwa::actions;

TEST(KeepRules, EachRuleOnItsGroups) {
    struct Row {
        const char* dir;
        const char* name;
        int64_t size;
        int32_t minute;
        uint64_t inode = 0;
        uint64_t pixels = 0;
        uint64_t hash = 0; // content hash, for the content criterion
        uint64_t device = 1;
        const char* taken = ""; // capture time as a picture's header gives it
    };
    struct Case {
        const char* what;
        Criteria criteria;
        std::vector<Row> rows;
        KeepRules rules;
        std::vector<std::string> protect;
        std::vector<size_t> selected;
        size_t undecided = 0;
    };
    const Criteria size{false, true, false, false}, name{true, false, false, false},
        time{false, false, true, false}, content{false, false, false, true};
    const std::vector<Case> cases = {
        {"newest keeps the latest, whatever its place",
         size,
         {{"/a", "x", 10, 1}, {"/b", "x", 10, 3}, {"/c", "x", 10, 2}, {"/d", "lone", 11, 9}},
         {KeepRule::Newest},
         {},
         {0, 2}},
        {"oldest ties within a time group; largest breaks them, then the first row",
         time,
         {{"/a", "p", 3, 5}, {"/b", "q", 7, 5}, {"/c", "r", 4, 9}, {"/d", "s", 4, 9}},
         {KeepRule::Oldest, KeepRule::Largest},
         {},
         {0, 3}},
        {"largest ties in a name group (case folded); the shortest path breaks it",
         name,
         {{"/deep/er", "p.jpg", 5, 0}, {"/s", "P.JPG", 5, 0}, {"/t", "q.jpg", 1, 0}},
         {KeepRule::Largest, KeepRule::ShortestPath},
         {},
         {0}},
        {"pixels in content groups: an unknown count is never kept, all unknown is left",
         content,
         {{"/a", "a", 10, 0, 0, 0, 1},
          {"/a", "b", 10, 0, 0, 100, 1},
          {"/a", "c", 10, 0, 0, 50, 1},
          {"/a", "d", 10, 0, 0, 0, 2},
          {"/a", "e", 10, 0, 0, 0, 2}},
         {KeepRule::MostPixels},
         {},
         {0, 2},
         1},
        {"under a directory, by whole components; a group with none there is left",
         size,
         {{"/x", "a", 1, 0}, {"/keep/sub", "a", 1, 0}, {"/x", "b", 2, 0}, {"/keeping", "b", 2, 0}},
         {KeepRule::UnderDirectory, std::nullopt, "/keep/"},
         {},
         {0},
         1},
        {"a protected file is the keeper: every copy goes, the rule keeps none besides",
         size,
         {{"/ref", "a", 1, 1},
          {"/x", "a", 1, 5},
          {"/y", "a", 1, 3},
          {"/ref/s", "b", 2, 0},
          {"/ref", "c", 2, 0}},
         {KeepRule::Newest},
         {"/ref"},
         {1, 2}},
        {"a hard link or second spelling of a protected file stays; all protected is decided",
         size,
         {{"/x", "a", 1, 0, 5},
          {"/ref", "a", 1, 0, 5},
          {"/y", "a", 1, 9},
          {"/ref", "a", 1, 0, 5},
          {"/ref", "b", 2, 0},
          {"/ref/s", "b", 2, 3}},
         {KeepRule::Newest},
         {"/ref"},
         {2}},
        {"with a protected file the rule is not asked: no unknown pixel count leaves it",
         size,
         {{"/x", "a", 1, 0}, {"/ref", "a", 1, 0}},
         {KeepRule::MostPixels},
         {"/ref"},
         {0}},
        {"the kept file's second spelling and hard links stay, another device's do not",
         size,
         {{"/a", "x", 1, 9, 7},
          {"/a", "x", 1, 0, 0},
          {"/b", "y", 1, 0, 7},
          {"/c", "z", 1, 0, 8},
          {"/e", "w", 1, 0, 7, 0, 0, 2}},
         {KeepRule::Newest},
         {},
         {3, 4}},
        {"taken keeps the earliest (seconds count); a file that does not say is never kept; "
         "a group where none says is the tie-break's",
         content,
         {{"/a", "a", 10, 0, 0, 0, 1, 1, ""},
          {"/a", "b", 10, 0, 0, 0, 1, 1, "2020:01:02 03:04:06"},
          {"/a", "c", 10, 0, 0, 0, 1, 1, "2020:01:02 03:04:05"},
          {"/deeper", "d", 10, 0, 0, 0, 2, 1, "0000:00:00 00:00:00"},
          {"/a", "e", 10, 0, 0, 0, 2, 1, ""}},
         {KeepRule::EarliestTaken, KeepRule::ShortestPath},
         {},
         {0, 1, 3}},
        {"taken without a tie-break leaves a group where none says",
         content,
         {{"/a", "a", 10, 0, 0, 0, 1, 1, "2021:07:04 13:45:10"},
          {"/a", "b", 10, 0, 0, 0, 1, 1, "2021:07:04 13:45"},
          {"/a", "c", 10, 0, 0, 0, 2, 1, ""},
          {"/a", "d", 10, 0, 0, 0, 2, 1, ""}},
         {KeepRule::EarliestTaken},
         {},
         {0},
         1},
        {"first keeps the group's first row",
         size,
         {{"/a", "x", 1, 0}, {"/b", "x", 1, 9}, {"/c", "x", 1, 0}},
         {KeepRule::First, KeepRule::Newest},
         {},
         {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileRecordStore rows;
        std::map<std::string, uint64_t> pixels;
        std::map<std::string, std::string> taken;
        for (const Row& r : c.rows) {
            rows.append(rows.internDirectory(r.dir, r.device), r.name, r.size, r.minute, r.inode);
            if (r.hash)
                rows.setContentHash(rows.size() - 1, {r.hash, 0});
            pixels[rows.fullPath(rows.size() - 1)] = r.pixels;
            taken[rows.fullPath(rows.size() - 1)] = r.taken;
        }
        recordGroups(rows, c.criteria);
        const KeepSelection got = SelectByRule(
            rows, c.rules, fake::protectionByText(c.protect),
            [&](const std::string& path) { return pixels.at(path); },
            [&](const std::string& path) { return taken.at(path); });
        EXPECT_EQ(got.selected, c.selected);
        EXPECT_EQ(got.undecided, c.undecided);
        int64_t bytes = 0;
        for (size_t row : c.selected)
            bytes += rows.fileSize(row);
        EXPECT_EQ(got.selectedBytes, bytes);
    }
}

TEST(KeepRules, RulesAndInvertFollowTheRecordedGroupsWhereverSortingPutsThem) {
    // Two pictures of one size, each with a copy: a content search makes two groups.
    FileRecordStore searched;
    const uint32_t a = searched.internDirectory("/a"), b = searched.internDirectory("/b");
    const struct {
        uint32_t dir;
        const char* name;
        int32_t minute;
        uint64_t hash;
    } files[] = {{a, "x", 1, 1}, {b, "x", 3, 1}, {a, "y", 2, 2}, {b, "y", 4, 2}};
    for (const auto& f : files) {
        searched.append(f.dir, f.name, 10, f.minute);
        searched.setContentHash(searched.size() - 1, {f.hash, 0});
    }
    recordGroups(searched, Criteria{false, true, false, true});
    struct Case {
        const char* what;
        std::vector<uint32_t> order; // of the searched rows
        KeepRule rule;
        std::vector<size_t> selected;      // by the rule
        std::vector<size_t> selectedFirst; // for Invert
        std::vector<size_t> inverted;
    };
    const std::vector<Case> cases = {
        {"as searched", {0, 1, 2, 3}, KeepRule::Newest, {0, 2}, {0}, {1, 2, 3}},
        {"sorted by time: the groups interleave",
         {0, 2, 1, 3},
         KeepRule::Newest,
         {0, 1},
         {0, 1},
         {2, 3}},
        {"first keeps each group's first row as the list stands",
         {3, 2, 1, 0},
         KeepRule::First,
         {1, 3},
         {3},
         {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileRecordStore rows;
        rows.appendRows(searched, c.order);
        EXPECT_EQ(SelectByRule(rows, {c.rule}, {}, nullptr).selected, c.selected);
        std::vector<bool> now(rows.size(), false);
        for (size_t row : c.selectedFirst)
            now[row] = true;
        EXPECT_EQ(InvertWithinGroups(rows, now), c.inverted);
    }
    // A list of every file has no groups: nothing to select.
    FileRecordStore all;
    all.append(a, "x", 10, 1);
    all.append(b, "x", 10, 2);
    EXPECT_TRUE(SelectByRule(all, {KeepRule::Newest}, {}, nullptr).selected.empty());
    EXPECT_TRUE(InvertWithinGroups(all, {false, false}).empty());
}
