#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "deleteplanner.h"
#include "textprotection.h"

using namespace fenwa;
using namespace fenwa::actions;

namespace {

// A list of rows as a search left it, and a disk that may have changed since.
struct World {
    FileRecordStore rows;
    std::map<std::string, platform::FileState> disk;
    std::map<std::string, ContentHash> bytes;
    std::vector<std::string> protect;

    // A row read as (directory, name), its file being inode `inode` on `device`.
    void row(const std::string& dir, uint64_t dirInode, const std::string& name, uint64_t inode,
             uint64_t device = 1) {
        const uint32_t d = rows.internDirectory(dir, device);
        rows.append(d, name, 100, 5, inode, 7);
        platform::FileState now;
        now.exists = now.regularFile = true;
        now.size = 100;
        now.identity = {device, inode};
        now.changeStamp = 7;
        now.directory = {1, dirInode};
        disk[dir + "/" + name] = now;
    }
    DeletePlan plan(std::vector<size_t> asked, Criteria criteria = {false, true, false, false},
                    bool duplicates = true) {
        FileProbe probe = [this](const std::string& path, platform::FileState& now) {
            auto it = disk.find(path);
            if (it == disk.end() || !it->second.exists)
                return false;
            now = it->second;
            return true;
        };
        ContentHasher hasher = [this](const std::string& path, int64_t, ContentHash& hash) {
            auto it = bytes.find(path);
            if (it == bytes.end())
                return false;
            hash = it->second;
            return true;
        };
        // The groups a search with these criteria would have recorded.
        if (duplicates)
            recordGroups(rows, criteria);
        return PlanDelete(rows, {std::move(asked), duplicates, fake::protectionByText(protect)},
                          probe, hasher);
    }
};

// The initializers let a case name only its leading fields without a warning.
struct Expected {
    std::vector<size_t> remove{};
    std::vector<size_t> gone{};
    std::vector<std::pair<size_t, KeepReason>> kept{};
    std::vector<size_t> lastCopies{};
    std::vector<size_t> sharedData{};
    std::vector<size_t> protectedRows{};
};

void expectPlan(const DeletePlan& plan, const Expected& e) {
    EXPECT_EQ(plan.remove, e.remove);
    EXPECT_EQ(plan.gone, e.gone);
    std::vector<std::pair<size_t, KeepReason>> kept;
    for (const DeletePlan::Kept& k : plan.kept)
        kept.emplace_back(k.row, k.reason);
    EXPECT_EQ(kept, e.kept);
    EXPECT_EQ(plan.lastCopies, e.lastCopies);
    EXPECT_EQ(plan.sharedData, e.sharedData);
    EXPECT_EQ(plan.protectedRows, e.protectedRows);
}

} // namespace

TEST(DeletePlanner, EachCaseOfOneGroupOfThree) {
    struct Case {
        const char* what;
        std::vector<size_t> asked;
        std::function<void(World&)> change; // what happened on disk since the search
        Expected expected;
        bool content = false;
    };
    const auto at = [](World& w, const char* path) -> platform::FileState& {
        return w.disk["/p/" + std::string(path)];
    };
    const std::vector<Case> cases = {
        {"one copy of three", {0}, {}, {{0}}},
        {"two of three", {0, 2}, {}, {{0, 2}}},
        {"every copy", {0, 1, 2}, {}, {{0, 1, 2}, {}, {}, {0}}},
        {"a protected file goes only when asked about",
         {0, 1},
         [](World& w) { w.protect = {"/p"}; },
         {{0, 1}, {}, {}, {}, {}, {0, 1}}},
        {"gone already", {1}, [&](World& w) { at(w, "b").exists = false; }, {{}, {1}}},
        {"size changed",
         {1},
         [&](World& w) { at(w, "b").size = 99; },
         {{}, {}, {{1, KeepReason::SizeChanged}}}},
        {"times changed",
         {1},
         [&](World& w) { at(w, "b").changeStamp = 8; },
         {{}, {}, {{1, KeepReason::TimeChanged}}}},
        {"another file of the same size and time now there",
         {1},
         [&](World& w) { at(w, "b").identity.inode = 99; },
         {{}, {}, {{1, KeepReason::Replaced}}}},
        {"a directory now there",
         {1},
         [&](World& w) { at(w, "b").regularFile = false; },
         {{}, {}, {{1, KeepReason::NotAFile}}}},
        {"the copies that stay changed",
         {0},
         [&](World& w) {
             at(w, "b").size = 1;
             at(w, "c").changeStamp = 9;
         },
         {{}, {}, {{0, KeepReason::NoCopyLeft}}}},
        {"the only copy that stays is gone",
         {0, 1},
         [&](World& w) { at(w, "c").exists = false; },
         {{}, {}, {{0, KeepReason::NoCopyLeft}, {1, KeepReason::NoCopyLeft}}}},
        {"a changed one asked for with the rest: the rest keep it as no copy",
         {0, 1, 2},
         [&](World& w) { at(w, "c").size = 1; },
         {{},
          {},
          {{2, KeepReason::SizeChanged},
           {0, KeepReason::NoCopyLeft},
           {1, KeepReason::NoCopyLeft}}}},
        {"content: bytes changed",
         {0},
         [&](World& w) {
             w.bytes["/p/a"] = {1, 2};
         },
         {{}, {}, {{0, KeepReason::ContentChanged}}},
         true},
        {"content: the copies that stay hold other bytes now",
         {0},
         [&](World& w) {
             w.bytes["/p/b"] = {1, 2};
             w.bytes.erase("/p/c");
         },
         {{}, {}, {{0, KeepReason::NoCopyLeft}}},
         true},
        {"the copies that stay show it through mirror mounts",
         {0},
         [&](World& w) { at(w, "b").mirrorOf = at(w, "c").mirrorOf = at(w, "a").identity; },
         {{}, {}, {{0, KeepReason::NoCopyLeft}}}},
        {"it is shown through a mirror mount of the copy that stays",
         {0, 1},
         [&](World& w) { at(w, "a").mirrorOf = at(w, "c").identity; },
         {{1}, {}, {{0, KeepReason::NoCopyLeft}}}},
        {"content: one copy that stays is enough",
         {0},
         [&](World& w) {
             w.bytes["/p/b"] = {1, 2};
         },
         {{0}},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World w;
        // Equal content hashes: rows of a content group.
        for (const char* name : {"a", "b", "c"}) {
            w.row("/p", 10, name, std::string("abc").find(name[0]) + 1);
            if (c.content) {
                w.rows.setContentHash(w.rows.size() - 1, ContentHash{1, 1});
                w.bytes["/p/" + std::string(name)] = ContentHash{1, 1};
            }
        }
        if (c.change)
            c.change(w);
        expectPlan(w.plan(c.asked, {false, true, false, c.content}), c.expected);
    }
}

TEST(DeletePlanner, ASecondSpellingIsNoCopyAndAHardLinkFreesNothing) {
    World w;
    // Rows 0 and 1: one entry reached through two directory spellings (same directory
    // identity, same name). Row 2: a hard link of that file in another directory.
    w.row("/p", 10, "f", 1);
    w.row("/link-to-p", 10, "f", 1);
    // The other spelling goes with the entry: this is the last copy, asked about.
    expectPlan(w.plan({0}), {{0}, {}, {}, {0}});
    w.row("/q", 11, "f", 1);
    expectPlan(w.plan({0}), {{0}, {}, {}, {}, {0}});
    // Another copy beside them changes nothing while the twin stays; deleting both
    // names of the data frees its space.
    w.row("/r", 12, "f", 2);
    expectPlan(w.plan({0}), {{0}, {}, {}, {}, {0}});
    expectPlan(w.plan({0, 2}), {{0, 2}});
}

TEST(DeletePlanner, AFilePassedThroughAnotherDeviceIsNoCopy) {
    World w;
    // Row 1: row 0's file as a mount passing inode numbers on shows it (another device,
    // the same inode, size and time to the nanosecond).
    w.row("/p", 10, "f", 1);
    w.row("/mirror", 20, "f", 1, 2);
    expectPlan(w.plan({0}), {{}, {}, {{0, KeepReason::NoCopyLeft}}});
    expectPlan(w.plan({1}), {{}, {}, {{1, KeepReason::NoCopyLeft}}});
    // Another time: another file after all. A real copy is the one counted on.
    w.disk["/mirror/f"].mtimeNanoseconds = 1;
    w.row("/q", 11, "g", 2);
    const DeletePlan plan = w.plan({0});
    expectPlan(plan, {{0}});
    ASSERT_EQ(plan.countedOn.size(), 1u);
    EXPECT_EQ(plan.countedOn[0].copy, 1u);
}

TEST(DeletePlanner, SimilarPicturesThatNoLongerMatchAreKept) {
    World w;
    w.row("/p", 10, "a", 1);
    w.row("/p", 10, "b", 2);
    w.rows.setGroup(0, 5);
    w.rows.setGroup(1, 5);
    // One made-up picture, and another with the same hash but other pixels.
    std::vector<uint8_t> grey(64 * 48), other(64 * 48);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = uint8_t(i % 64 * 4), other[i] = uint8_t((i % 64) * (i / 64) % 251);
    const std::string print = similar::MakeLikenessPrint(grey.data(), 64, 48, 64, 1);
    std::map<std::string, similar::PictureLikeness> now = {{"/p/a", {{0, 0}, print}},
                                                           {"/p/b", {{0, 0}, print}}};
    const auto planWith = [&] {
        DeleteRequest request{{0}, true, {}};
        request.fingerprint = [&](const std::string& path) {
            return std::optional<similar::PictureLikeness>(now.at(path));
        };
        return PlanDelete(w.rows, request,
                          [&](const std::string& path, platform::FileState& state) {
                              state = w.disk.at(path);
                              return true;
                          },
                          {});
    };
    expectPlan(planWith(), {{0}});
    // The picture that stays was rewritten in place, its size and times as they were.
    now["/p/b"].fingerprint.hash = ~uint64_t(0) >> 8;
    expectPlan(planWith(), {{}, {}, {{0, KeepReason::NoLongerSimilar}}});
    // Or rewritten as another picture whose hash happens to be the same.
    now["/p/b"] = {{0, 0}, similar::MakeLikenessPrint(other.data(), 64, 48, 64, 1)};
    expectPlan(planWith(), {{}, {}, {{0, KeepReason::NoLongerSimilar}}});
}

TEST(DeletePlanner, AListOfEveryFileHasNoCopiesToKeep) {
    World w;
    w.row("/p", 10, "lone", 1);
    expectPlan(w.plan({0}, {false, true, false, false}, false), {{0}});
    // The same row left alone in a list of duplicates is the last copy of its group.
    expectPlan(w.plan({0}), {{0}, {}, {}, {0}});
}

TEST(DeletePlanner, GroupsAreTheRecordedOnesWhateverTheTicksAndTheOrder) {
    // Two pictures X and Y of one size, each with a copy, searched by size and content:
    // groups [X1 X2] [Y1 Y2]. The plans are made on the list as it stands later.
    World searched;
    for (const char* name : {"x1", "x2", "y1", "y2"}) {
        searched.row("/p", 10, name, uint64_t(searched.rows.size() + 1));
        const ContentHash hash{name[0] == 'x' ? 1u : 2u, 0};
        searched.rows.setContentHash(searched.rows.size() - 1, hash);
        searched.bytes["/p/" + std::string(name)] = hash;
    }
    recordGroups(searched.rows, {false, true, false, true});
    struct Case {
        const char* what;
        std::vector<uint32_t> order; // of the searched rows
        std::vector<size_t> asked;
        Expected expected;
    };
    const std::vector<Case> cases = {
        {"both X rows: every copy of X, asked about", {0, 1, 2, 3}, {0, 1}, {{0, 1}, {}, {}, {0}}},
        {"one X row: its copy stays", {0, 1, 2, 3}, {0}, {{0}}},
        {"interleaved by sorting: one X row, its copy stays", {0, 2, 1, 3}, {0}, {{0}}},
        {"interleaved: both X rows, asked about once", {0, 2, 1, 3}, {0, 2}, {{0, 2}, {}, {}, {0}}},
        {"interleaved: one of each", {0, 2, 1, 3}, {0, 1}, {{0, 1}}},
        {"reversed: X1 and Y2, the copies stay", {3, 2, 1, 0}, {0, 3}, {{0, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World w;
        w.disk = searched.disk;
        w.bytes = searched.bytes;
        w.rows.appendRows(searched.rows, c.order);
        const FileProbe probe = [&w](const std::string& path, platform::FileState& now) {
            now = w.disk.at(path);
            return true;
        };
        const ContentHasher hasher = [&w](const std::string& path, int64_t, ContentHash& hash) {
            hash = w.bytes.at(path);
            return true;
        };
        // No criteria here: the plan reads only the recorded groups.
        expectPlan(PlanDelete(w.rows, {c.asked, true, {}}, probe, hasher), c.expected);
    }
}
