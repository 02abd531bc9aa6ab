#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <sys/stat.h>

#include "cliapp.h"
#include "scanner.h"

namespace {

struct Output {
    int status = 0;
    std::string out, err;
};

std::string slurp(std::FILE* f) {
    std::rewind(f);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

Output runCli(const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Output o;
    o.status = fenwa::cli::run(args, out, err);
    o.out = slurp(out);
    o.err = slurp(err);
    return o;
}

} // namespace

TEST(Cli, FindAllPrintsTheListsRowsInOrder) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    ::mkdir((root + "/sub").c_str(), 0755);
    std::ofstream(root + "/a.jpg") << "1234";
    std::ofstream(root + "/sub/b.txt") << "1";

    Output o = runCli({"find-all", root});
    ASSERT_EQ(o.status, 0) << o.err;
    fenwa::FileRecordStore expected;
    fenwa::ReadDirectory(root, expected, true);
    std::string lines;
    for (size_t r = 0; r < expected.size(); ++r) {
        for (int c = 0; c < fenwa::ColumnCount; ++c)
            lines += (c ? "\t" : "") + expected.text(r, c);
        lines += "\n";
    }
    EXPECT_EQ(o.out, lines);
    EXPECT_NE(o.out.find("a.jpg\t" + root + "\t4\t.jpg\t"), std::string::npos);

    Output flat = runCli({"find-all", "--no-subdirs", root});
    EXPECT_EQ(flat.status, 0);
    EXPECT_EQ(flat.out.find("b.txt"), std::string::npos);
    EXPECT_NE(flat.out.find("a.jpg"), std::string::npos);
}

TEST(Cli, RefusedDirectoriesStopTheSearch) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    ::mkdir((root + "/sub").c_str(), 0755);

    Output missing = runCli({"find-all", root, root + "/missing"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "您沒有輸入目錄, 不然就是目錄名稱輸入錯誤!\n");

    Output relatives = runCli({"find-all", root, root + "/sub"});
    EXPECT_EQ(relatives.status, 2);
    EXPECT_EQ(relatives.err, root + "/sub 和 " + root + " 是直系親屬, 不可同時存在!\n");

    EXPECT_EQ(runCli({"find-all"}).status, 2);
    EXPECT_EQ(runCli({}).status, 1);
    EXPECT_EQ(runCli({"frobnicate"}).status, 1);
    EXPECT_EQ(runCli({"find-all", "--bogus", root}).status, 1);
}
