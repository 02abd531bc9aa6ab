#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <map>

#include "actioncheck.h"
#include "contentcheck.h"

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

namespace {

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace

TEST(ActionCheck, ContentGroupsAreCheckedAgainstTheBytesTheSearchHashed) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string root = dir.path().toStdString();
    // Small files (hashed whole in one step) and large ones (edges, then whole).
    const std::string small(1000, 's'), large(300 * 1024, 'L');
    FileRecordStore hidden;
    const uint32_t d = hidden.internDirectory(root);
    for (const char* name : {"a", "b", "c"}) {
        writeBytes(root + "/" + name, small);
        hidden.append(d, name, int64_t(small.size()), 0);
    }
    for (const char* name : {"x", "y"}) {
        writeBytes(root + "/" + name, large);
        hidden.append(d, name, int64_t(large.size()), 0);
    }
    Criteria content;
    content.content = true;
    const std::vector<uint32_t> order = FindDuplicates(hidden, content);
    FileRecordStore rows;
    for (uint32_t r : order)
        rows.appendCopy(hidden, r);
    ASSERT_EQ(rows.size(), 5u);
    const auto rowNamed = [&](std::string_view name) {
        for (size_t r = 0; r < rows.size(); ++r)
            if (rows.name(r) == name)
                return r;
        return rows.size();
    };
    std::vector<bool> deleting(rows.size(), false);
    deleting[rowNamed("a")] = true;
    deleting[rowNamed("x")] = true;

    {
        // Nothing changed: the hashes of the search are what the disk still has.
        ContentRecheck recheck(rows, content, deleting, hashFileNow);
        EXPECT_EQ(recheck.check(rowNamed("a")), ContentState::Same);
        EXPECT_EQ(recheck.check(rowNamed("x")), ContentState::Same);
    }
    // The file to delete got other bytes of the same size: it is not the copy it was.
    std::string changed = large;
    changed[150 * 1024] = 'M';
    writeBytes(root + "/x", changed);
    // Both other copies of "a" changed: deleting it would lose those bytes.
    writeBytes(root + "/b", std::string(1000, 't'));
    writeBytes(root + "/c", std::string(1000, 'u'));
    {
        ContentRecheck recheck(rows, content, deleting, hashFileNow);
        EXPECT_EQ(recheck.check(rowNamed("x")), ContentState::ContentChanged);
        EXPECT_EQ(recheck.check(rowNamed("a")), ContentState::NoCopyLeft);
    }
    // Deleting every copy is asked about separately, not refused here.
    std::vector<bool> all(rows.size(), true);
    ContentRecheck everyCopy(rows, content, all, hashFileNow);
    EXPECT_EQ(everyCopy.check(rowNamed("a")), ContentState::Same);
    // Without the Content criterion nothing is hashed.
    ContentRecheck bySize(rows, Criteria{false, true, false}, deleting,
                          [](const std::string&, int64_t, ContentHash&) -> bool {
                              ADD_FAILURE() << "hashed without the Content criterion";
                              return false;
                          });
    EXPECT_EQ(bySize.check(rowNamed("a")), ContentState::NotChecked);
}
