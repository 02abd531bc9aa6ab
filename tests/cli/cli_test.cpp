#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTransform>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cliapp.h"
#include "directorylist.h"
#include "exportlist.h"
#include "indirectory.h"
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
            lines += (c ? "\t" : "") + fenwa::escapeField(expected.text(r, c));
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
    // Help asked of any command is the usage on the output, and no complaint.
    for (const std::vector<std::string>& asked :
         {std::vector<std::string>{"find-duplicates", "--size", "--help"},
          {"find-all", "-h"},
          {"decode", "--help"}}) {
        const Output help = runCli(asked);
        EXPECT_EQ(help.status, 0) << asked[0];
        EXPECT_TRUE(help.out.starts_with("usage:")) << asked[0];
        EXPECT_EQ(help.err, "") << asked[0];
    }
    // After "--" it is a name like any other.
    EXPECT_EQ(runCli({"find-all", "--", "--help"}).status, 2);
}

TEST(Cli, FindDuplicatesPrintsGroupsAsRuns) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    ::mkdir((root + "/b").c_str(), 0755);
    std::ofstream(root + "/a.jpg") << "1234";
    std::ofstream(root + "/other.txt") << "123";
    std::ofstream(root + "/b/A.JPG") << "abcd";

    Output bySize = runCli({"find-duplicates", "--size", root});
    ASSERT_EQ(bySize.status, 0) << bySize.err;
    // The later-read file first, the leader last.
    EXPECT_EQ(bySize.out.substr(0, bySize.out.find('\t')), "A.JPG");
    EXPECT_EQ(std::count(bySize.out.begin(), bySize.out.end(), '\n'), 2);
    EXPECT_NE(bySize.out.find("\na.jpg\t" + root + "\t4\t.jpg\t"), std::string::npos);

    Output byName = runCli({"find-duplicates", "--name", "--no-subdirs", root});
    EXPECT_EQ(byName.status, 0);
    EXPECT_EQ(byName.out, ""); // the partner is in a subdirectory

    Output none = runCli({"find-duplicates", root});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "您必須至少打一個勾\n");
    EXPECT_EQ(runCli({"find-duplicates", "--size"}).status, 2);
    EXPECT_EQ(runCli({"find-all", "--size", root}).status, 1);
}

TEST(Cli, DecodeWritesTheBitmapTheControlWouldHold) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    // JPEG decoding is covered by the imaging tests; the command itself is the same for a BMP.
    {
        std::ofstream f(root + "/in.bmp", std::ios::binary);
        // 16 x 8, 24-bit, bottom-up, all grey.
        const int w = 16, h = 8, stride = w * 3;
        const uint32_t size = 54 + stride * h;
        auto put32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
        auto put16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
        f.write("BM", 2);
        put32(size);
        put32(0);
        put32(54);
        put32(40);
        put32(w);
        put32(h);
        put16(1);
        put16(24);
        put32(0);
        put32(stride * h);
        put32(2835);
        put32(2835);
        put32(0);
        put32(0);
        f << std::string(size_t(stride * h), char(0x80));
    }
    Output ok = runCli({"decode", root + "/in.bmp", "-o", root + "/out.bmp"});
    ASSERT_EQ(ok.status, 0) << ok.err;
    std::ifstream back(root + "/out.bmp", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    int32_t width = 0;
    std::memcpy(&width, bytes.data() + 18, 4);
    EXPECT_EQ(width, 16);

    std::ofstream(root + "/broken.jpg") << "not a jpeg at all";
    Output bad = runCli({"decode", root + "/broken.jpg", "-o", root + "/x.bmp"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1);
    EXPECT_EQ(runCli({"decode", root + "/missing.jpg", "-o", root + "/x.bmp"}).status, 1);
    EXPECT_EQ(runCli({"decode", root + "/in.bmp", "--scale", "3", "-o", root + "/x.bmp"}).status,
              1);
    EXPECT_EQ(runCli({"decode", root + "/in.bmp"}).status, 1);
}

TEST(Cli, FieldsAreEscapedSoEveryRowIsOneLine) {
    using fenwa::escapeField;
    EXPECT_EQ(escapeField("plain name.jpg"), "plain name.jpg");
    EXPECT_EQ(escapeField("相片 é.jpg"), "相片 é.jpg");
    EXPECT_EQ(escapeField("tab\there"), "tab\\there");
    EXPECT_EQ(escapeField("new\nline\r"), "new\\nline\\r");
    EXPECT_EQ(escapeField("back\\slash"), "back\\\\slash");
    EXPECT_EQ(escapeField(std::string("nul\0x", 5)), "nul\\x00x");
    EXPECT_EQ(escapeField("bad\xff\xfe"), "bad\\xFF\\xFE");
    // An overlong encoding and a lone continuation byte are not UTF-8.
    EXPECT_EQ(escapeField("\xc0\xaf"), "\\xC0\\xAF");
    EXPECT_EQ(escapeField("\x80"), "\\x80");
    // A sequence cut short at the end.
    EXPECT_EQ(escapeField("\xe7\x9b"), "\\xE7\\x9B");

    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    std::ofstream(root + "/two\nlines\tand tab") << "x";
    std::ofstream(root + "/-leading dash") << "x";
    Output o = runCli({"find-all", root});
    ASSERT_EQ(o.status, 0);
    EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 2);
    EXPECT_NE(o.out.find("two\\nlines\\tand tab\t"), std::string::npos);
    EXPECT_NE(o.out.find("-leading dash\t"), std::string::npos);
}

TEST(Cli, FormatsForFindDuplicates) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    ::mkdir((root + "/b").c_str(), 0755);
    std::ofstream(root + "/a.jpg") << "1234";
    std::ofstream(root + "/b/c.jpg") << "abcd";
    Output csv = runCli({"find-duplicates", "--size", "--format", "csv", root});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.substr(0, 35), "group,name,directory,size,type,time");
    EXPECT_NE(csv.out.find("\r\n1,c.jpg,"), std::string::npos);
    EXPECT_NE(csv.out.find("\r\n1,a.jpg,"), std::string::npos);
    Output json = runCli({"find-all", "--format", "json", root});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out.front(), '[');
    EXPECT_EQ(runCli({"find-all", "--format", "xml", root}).status, 1);
}

namespace {

// A JPEG file of the picture with an EXIF block saying to turn it a quarter (6) and
// when it was taken: IFD0 with the orientation and a link to the EXIF directory, which
// holds DateTimeOriginal.
QByteArray jpegTakenAt(const QImage& picture, const char* taken) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPG");
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    const auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.append(char(value >> (8 * i) & 0xFF));
    };
    const auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        put(tag, 2), put(type, 2), put(count, 4), put(value, 4);
    };
    put(2, 2);
    entry(0x0112, 3, 1, 6);  // orientation, a SHORT
    entry(0x8769, 4, 1, 38); // the EXIF directory, right after this one
    put(0, 4);
    put(1, 2);
    entry(0x9003, 2, 20, 56); // DateTimeOriginal, its text right after
    put(0, 4);
    tiff.append(taken, 20);
    QByteArray app1("\xFF\xE1", 2);
    const int length = 2 + 6 + int(tiff.size());
    app1.append(char(length >> 8)).append(char(length & 0xFF));
    app1.append(QByteArray("Exif\0\0", 6)).append(tiff);
    return jpeg.insert(2, app1);
}

} // namespace

// CSV and JSON carry a picture's size as shown and when it was taken, from its header,
// and nothing of the kind for other files; TSV is the five columns it always was.
TEST(Cli, CsvAndJsonCarryWhatAPicturesHeaderTells) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    QFile photo(QString::fromStdString(root + "/photo.jpg"));
    ASSERT_TRUE(photo.open(QIODevice::WriteOnly));
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    photo.write(jpegTakenAt(picture, "2019:05:06 07:08:09"));
    photo.close();
    std::ofstream(root + "/notes.txt") << "text";

    Output csv = runCli({"find-all", "--format", "csv", root});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.substr(0, csv.out.find('\r')),
              "group,name,directory,size,type,time,width,height,taken,likeness");
    // Stored 300 x 200, shown turned a quarter.
    EXPECT_NE(csv.out.find(",200,300,2019-05-06 07:08:09,\r\n"), std::string::npos) << csv.out;
    const size_t notes = csv.out.find(",notes.txt,");
    ASSERT_NE(notes, std::string::npos);
    const std::string line = csv.out.substr(notes, csv.out.find('\r', notes) - notes);
    EXPECT_TRUE(line.ends_with(",,,,")) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 9) << line; // from after the group

    Output json = runCli({"find-all", "--format", "json", root});
    ASSERT_EQ(json.status, 0) << json.err;
    for (const QJsonValue& row :
         QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array()) {
        const QJsonObject o = row.toObject();
        const bool isPhoto = o["name"] == QStringLiteral("photo.jpg");
        EXPECT_EQ(o["width"], isPhoto ? QJsonValue(200) : QJsonValue());
        EXPECT_EQ(o["height"], isPhoto ? QJsonValue(300) : QJsonValue());
        EXPECT_EQ(o["taken"], isPhoto ? QJsonValue("2019-05-06 07:08:09") : QJsonValue());
        EXPECT_TRUE(o["likeness"].isNull());
    }

    Output tsv = runCli({"find-all", root});
    ASSERT_EQ(tsv.status, 0);
    EXPECT_EQ(std::count(tsv.out.begin(), tsv.out.end(), '\t'), 8) << tsv.out;
}

TEST(Cli, DecodeReadsGifFiles) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    // GIF89a, 2 x 1, a global table of two colours, pixels 0 and 1.
    const unsigned char gif[] = {
        'G',  'I', 'F',  '8',  '9', 'a',  2, 0, 1, 0, 0x80, 0, 0, // screen: 2x1, 2-colour table
        0xFF, 0,   0,    0,    0,   0xFF,                         // red, blue
        0x2C, 0,   0,    0,    0,   2,    0, 1, 0, 0,             // image 2x1, no local table
        2,    2,   0x44, 0x0A, 0,                                 // LZW: clear, 0, 1, end
        0x3B};
    std::ofstream(root + "/tiny.gif", std::ios::binary)
        .write(reinterpret_cast<const char*>(gif), sizeof gif);
    Output o = runCli({"decode", root + "/tiny.gif", "-o", root + "/tiny.bmp"});
    ASSERT_EQ(o.status, 0) << o.err;
    std::ifstream back(root + "/tiny.bmp", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(back)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 54u + 4u);
    int32_t width = 0;
    std::memcpy(&width, bytes.data() + 18, 4);
    EXPECT_EQ(width, 2);
    // 24-bit rows in blue, green, red order: the first pixel is red.
    uint32_t offset = 0;
    std::memcpy(&offset, bytes.data() + 10, 4);
    EXPECT_EQ(static_cast<unsigned char>(bytes[offset + 2]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[offset + 0]), 0x00);
    // The second is blue.
    EXPECT_EQ(static_cast<unsigned char>(bytes[offset + 3]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[offset + 5]), 0x00);
}

TEST(Cli, ContentKeepsOnlyIdenticalFiles) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    ::mkdir((root + "/b").c_str(), 0755);
    std::ofstream(root + "/a.jpg") << "1234";
    std::ofstream(root + "/b/copy.jpg") << "1234";
    std::ofstream(root + "/b/a.jpg") << "abcd"; // same size and name, other bytes

    auto names = [](const std::string& out) {
        std::vector<std::string> lines;
        for (size_t at = 0; at < out.size(); at = out.find('\n', at) + 1)
            lines.push_back(out.substr(at, out.find('\t', at) - at));
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    Output content = runCli({"find-duplicates", "--content", root});
    ASSERT_EQ(content.status, 0) << content.err;
    EXPECT_EQ(names(content.out), (std::vector<std::string>{"a.jpg", "copy.jpg"}));
    Output both = runCli({"find-duplicates", "--name", "--content", root});
    EXPECT_EQ(both.out, "");
    Output json = runCli({"find-duplicates", "--size", "--content", "--format", "json", root});
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '{'), 2) << json.out;
    EXPECT_NE(runCli({"--help"}).out.find("--content"), std::string::npos);
    EXPECT_EQ(runCli({"find-all", "--content", root}).status, 1);
}

namespace {

// Undoes escapeField: \\, \t, \n, \r and \xHH.
std::string unescapeField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 >= field.size()) {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        if (c == 't')
            out += '\t';
        else if (c == 'n')
            out += '\n';
        else if (c == 'r')
            out += '\r';
        else if (c == 'x' && i + 2 < field.size()) {
            out += char(std::stoi(field.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
}

} // namespace

TEST(Cli, HostileNamesOnDiskComeOutOneLineEachAndRecoverable) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    const std::vector<std::string> names{
        "\xff\xfe not utf8.jpg", "new\nline.jpg",  "tab\there.jpg",
        "-rf leading.jpg",       "  blanks  .jpg", "quote\" 'single'.jpg",
        "back\\slash.jpg",       "cr\r.jpg",       std::string(251, 'n') + ".jpg"};
    for (const char* d : {"/d1", "/d2"}) {
        ::mkdir((root + d).c_str(), 0755);
        for (const std::string& n : names)
            std::ofstream(root + d + "/" + n) << "same";
    }
    Output o = runCli({"find-duplicates", "--name", "--size", root});
    ASSERT_EQ(o.status, 0) << o.err;
    std::multiset<std::string> listed;
    size_t start = 0, lines = 0;
    for (size_t end; (end = o.out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = o.out.substr(start, end - start);
        ++lines;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 4) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
        listed.insert(unescapeField(line.substr(0, line.find('\t'))));
    }
    EXPECT_EQ(start, o.out.size()); // every line ends with its newline
    EXPECT_EQ(lines, 2 * names.size());
    for (const std::string& n : names)
        EXPECT_EQ(listed.count(n), 2u) << n;

    // JSON must stay valid UTF-8 and one value per file.
    Output json = runCli({"find-duplicates", "--name", "--size", "--format", "json", root});
    ASSERT_EQ(json.status, 0);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_EQ(doc.array().size(), qsizetype(2 * names.size()));
}

TEST(Cli, ASecondSpellingOfAListedDirectoryIsRefused) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    ::mkdir((root + "/d2").c_str(), 0755);
    ::mkdir((root + "/d3").c_str(), 0755);
    std::ofstream(root + "/d2/f.jpg") << "photo";
    ASSERT_EQ(::symlink((root + "/d2").c_str(), (root + "/link").c_str()), 0);
    RunInDirectory(root, [&] {
        for (const std::string& second :
             {root + "/d2", std::string("link"), root + "/d3/../d2", std::string("./d2")}) {
            const Output o = runCli({"find-duplicates", "--size", "d2", second});
            EXPECT_EQ(o.status, 2) << second;
            EXPECT_EQ(o.out, "") << second;
            EXPECT_NE(o.err.find("是直系親屬"), std::string::npos) << second;
        }
        // The same text twice is listed once: the file is no copy of itself.
        const Output same = runCli({"find-duplicates", "--content", "d2", "d2"});
        EXPECT_EQ(same.status, 0);
        EXPECT_EQ(same.out, "");
    });
}

TEST(Cli, KeepMarksWhatARuleWouldDeleteAndDeletesNothing) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    for (const char* d : {"/big", "/small", "/ref", "/x"})
        ::mkdir((root + d).c_str(), 0755);
    // Two bitmap headers of one length: 64×64 and 8×8 pixels, told apart by header alone.
    const auto bitmap = [](const std::string& path, char side) {
        std::string bytes = "BM" + std::string(24, '\0');
        bytes[14] = 40;
        bytes[18] = bytes[22] = side;
        std::ofstream(path, std::ios::binary) << bytes;
    };
    bitmap(root + "/big/p.bmp", 64);
    bitmap(root + "/small/p.bmp", 8);
    std::ofstream(root + "/ref/t.txt") << "abc";
    std::ofstream(root + "/x/t.txt") << "abc";
    // The files a JSON run marks, as directory/name under the root.
    const auto selected = [&](std::vector<std::string> args, size_t undecided) {
        args.insert(args.begin(), {"find-duplicates", "--size", "--format", "json"});
        args.push_back(root);
        const Output o = runCli(args);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err.find(" groups left") != std::string::npos, undecided > 0) << o.err;
        if (undecided) {
            EXPECT_NE(o.err.find(std::to_string(undecided) + " groups left"), std::string::npos);
        }
        std::set<std::string> marked;
        const QJsonArray rows = QJsonDocument::fromJson(QByteArray::fromStdString(o.out)).array();
        EXPECT_EQ(rows.size(), 4);
        for (const QJsonValue& row : rows)
            if (row["selected"].toBool(false))
                marked.insert(row["directory"].toString().toStdString().substr(root.size()) + "/" +
                              row["name"].toString().toStdString());
        return marked;
    };
    using Marked = std::set<std::string>;
    // The text files have no pixels: their group is left, and said so.
    EXPECT_EQ(selected({"--keep", "pixels,first"}, 1), Marked{"/small/p.bmp"});
    // A protected file is the keeper of its group: the rule keeps nothing besides, so
    // the bigger picture is marked and the text file beside the protected one too.
    EXPECT_EQ(selected({"--keep", "pixels,shortest-path", "--protect", root + "/x/../small",
                        "--protect", root + "/ref"},
                       0),
              (Marked{"/big/p.bmp", "/x/t.txt"}));
    // Spelled other ways than the rows: the text file under ref is kept.
    EXPECT_EQ(selected({"--keep", "under=" + root + "/x/../ref"}, 1), Marked{"/x/t.txt"});
    Output tsv =
        runCli({"find-duplicates", "--size", "--keep", "largest", "--mark-selected", root});
    EXPECT_EQ(std::count(tsv.out.begin(), tsv.out.end(), '*'), 2);
    EXPECT_EQ(runCli({"find-duplicates", "--size", "--keep", "biggest", root}).status, 1);
    for (const char* f : {"/big/p.bmp", "/small/p.bmp", "/ref/t.txt", "/x/t.txt"})
        EXPECT_EQ(::access((root + f).c_str(), F_OK), 0) << f;
}

TEST(Cli, ProtectCoversTheDirectoryReachedThroughALinkOrABindMount) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    for (const char* d : {"/ref", "/other", "/zbind"})
        ::mkdir((root + d).c_str(), 0755);
    ASSERT_EQ(::symlink((root + "/ref").c_str(), (root + "/link").c_str()), 0);
    if (::mount((root + "/ref").c_str(), (root + "/zbind").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts are not allowed here";
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{root + "/zbind"};
    std::ofstream(root + "/ref/x") << "same";
    std::ofstream(root + "/other/x") << "same";
    const auto marked = [&](std::vector<std::string> protect) {
        std::vector<std::string> args{"find-duplicates", "--size", "--keep",
                                      "under=" + root + "/other", "--mark-selected"};
        args.insert(args.end(), protect.begin(), protect.end());
        args.insert(args.end(), {root + "/other", root + "/zbind"});
        const Output o = runCli(args);
        // The directory of the one marked row.
        const size_t star = o.out.find("*\t");
        EXPECT_EQ(o.out.find("*\t", star + 1), std::string::npos) << o.out;
        if (star == std::string::npos)
            return std::string();
        const size_t from = o.out.find('\t', star + 2) + 1;
        return o.out.substr(from, o.out.find('\t', from) - from);
    };
    // Keeping the file under other/ would take zbind/x, the protected file by another
    // path; protected, it is the one kept instead.
    EXPECT_EQ(marked({}), root + "/zbind");
    EXPECT_EQ(marked({"--protect", root + "/ref"}), root + "/other");
    EXPECT_EQ(marked({"--protect", root + "/link"}), root + "/other");
}

TEST(Cli, SimilarGroupsLookalikePicturesWithGroupNumbers) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(root + "/cache"));
    ::mkdir((root + "/pictures").c_str(), 0755);
    QImage picture(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            picture.setPixel(x, y, qRgb(x * 255 / 300, (x * y) % 256, y));
    ASSERT_TRUE(picture.save(QString::fromStdString(root + "/pictures/big.jpg")));
    ASSERT_TRUE(picture.scaledToWidth(120, Qt::SmoothTransformation)
                    .mirrored(true, false)
                    .save(QString::fromStdString(root + "/pictures/small.jpg")));
    ASSERT_TRUE(picture.transformed(QTransform().rotate(45))
                    .save(QString::fromStdString(root + "/pictures/other.jpg")));
    std::ofstream(root + "/pictures/notes.txt") << "text";

    const std::string pictures = root + "/pictures";
    Output csv = runCli({"find-duplicates", "--similar", "--format", "csv", pictures});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find("\n1,big.jpg,"), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find("\n1,small.jpg,"), std::string::npos) << csv.out;
    EXPECT_EQ(csv.out.find("other.jpg"), std::string::npos) << csv.out;
    EXPECT_NE(csv.err.find("1 not pictures"), std::string::npos) << csv.err;
    EXPECT_TRUE(
        QFile::exists(QString::fromStdString(root + "/cache/Zantrel/Fenwa/fingerprints.sqlite")));
    EXPECT_EQ(runCli({"find-duplicates", "--similar", "--level", "4", pictures}).status, 1);
    qunsetenv("XDG_CACHE_HOME");
}

namespace {

// A folder shown again through bindfs for the length of a test; unmounted however the
// test ends. Not mounted where FUSE is not allowed.
struct Mirror {
    std::string at;
    bool mounted = false;
    Mirror(const std::string& source, const std::string& point, const std::string& options = {})
        : at(point) {
        ::mkdir(point.c_str(), 0755);
        const std::string command =
            "bindfs " + options + " '" + source + "' '" + point + "' >/dev/null 2>&1";
        mounted = std::system(command.c_str()) == 0;
    }
    ~Mirror() {
        if (mounted)
            (void)std::system(("fusermount -u '" + at + "' >/dev/null 2>&1").c_str());
    }
};

// Sets a file's modification time back an hour before `now`, as a restored backup is.
void setBack(const std::string& path, time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

} // namespace

TEST(Cli, AMirroredFolderHoldsNoCopyOfItsOwnFiles) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    ::mkdir((root + "/orig").c_str(), 0755);
    std::ofstream(root + "/orig/only.jpg") << "the only photo";
    Mirror mirror(root + "/orig", root + "/mirror");
    if (!mirror.mounted)
        GTEST_SKIP() << "bindfs could not mount here (FUSE not allowed)";
    for (const auto& [first, second] : {std::pair{"orig", "mirror"}, {"mirror", "orig"}}) {
        const Output o = runCli({"find-duplicates", "--content", "--keep", "first",
                                 "--mark-selected", root + "/" + first, root + "/" + second});
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '*'), 0) << o.out;
    }
    EXPECT_EQ(::access((root + "/orig/only.jpg").c_str(), F_OK), 0);
}

TEST(Cli, NothingIsTakenFromTheCacheWhereChangeTimesAreMadeUp) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(root + "/cache"));
    const std::string orig = root + "/orig";
    ::mkdir(orig.c_str(), 0755);
    QImage picture(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            picture.setPixel(x, y, qRgb(x * 255 / 300, (x * y) % 256, y));
    const auto save = [&](const QImage& image, const char* name) {
        ASSERT_TRUE(image.save(QString::fromStdString(orig + "/" + name), "BMP"));
    };
    save(picture, "big.bmp");
    save(picture.mirrored(true, false), "turned.bmp");
    std::ofstream(orig + "/a.dat") << std::string(5000, 'a');
    std::ofstream(orig + "/b.dat") << std::string(5000, 'a');
    const time_t before = std::time(nullptr) - 3600;
    for (const char* name : {"big.bmp", "turned.bmp", "a.dat", "b.dat"})
        setBack(orig + "/" + name, before);
    // Its status-change time follows the modification time, as sshfs's does.
    Mirror mirror(orig, root + "/mirror", "--ctime-from-mtime");
    if (!mirror.mounted)
        GTEST_SKIP() << "bindfs could not mount here (FUSE not allowed)";
    const std::vector<std::string> similar = {"find-duplicates", "--similar", mirror.at};
    const std::vector<std::string> content = {"find-duplicates", "--content", mirror.at};
    ASSERT_NE(runCli(similar).out.find("turned.bmp"), std::string::npos);
    ASSERT_NE(runCli(content).out.find("b.dat"), std::string::npos);

    // Rewritten in place, size and time restored: nothing on the mount tells.
    const qint64 size = QFile(QString::fromStdString(orig + "/turned.bmp")).size();
    save(picture.transformed(QTransform().rotate(45))
             .scaled(300, 200)
             .convertToFormat(QImage::Format_RGB32),
         "turned.bmp");
    ASSERT_EQ(QFile(QString::fromStdString(orig + "/turned.bmp")).size(), size);
    std::ofstream(orig + "/b.dat", std::ios::in | std::ios::out) << 'b';
    setBack(orig + "/turned.bmp", before);
    setBack(orig + "/b.dat", before);
    EXPECT_EQ(runCli(similar).out.find("turned.bmp"), std::string::npos);
    EXPECT_EQ(runCli(content).out, "");
    qunsetenv("XDG_CACHE_HOME");
}

namespace {

// Every file, link and directory under a directory with what an act could change: kind,
// inode, links, mode, size, modification time and bytes. Without `whole`, the files and
// links alone, without their inodes: what an undo gives back.
std::string treeListing(const std::string& root, bool whole = true) {
    std::string listing;
    const std::function<void(const std::string&)> walk = [&](const std::string& dir) {
        QDir d(QString::fromStdString(dir));
        for (const QString& name :
             d.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name)) {
            const std::string path = dir + "/" + name.toStdString();
            struct stat st {};
            ::lstat(path.c_str(), &st);
            std::string bytes;
            if (S_ISREG(st.st_mode)) {
                std::ifstream in(path, std::ios::binary);
                bytes.assign(std::istreambuf_iterator<char>(in), {});
            }
            if (whole || !S_ISDIR(st.st_mode))
                listing += path + " " + std::to_string(st.st_mode) + " " +
                           (whole ? std::to_string(st.st_ino) : "") + " " +
                           std::to_string(st.st_nlink) + " " + std::to_string(st.st_size) + " " +
                           std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec) + " " + bytes + "\n";
            if (S_ISDIR(st.st_mode))
                walk(path);
        }
    };
    walk(root);
    return listing;
}

// Folders of the test's own for the journal and the trash.
struct OwnDataHome {
    explicit OwnDataHome(const std::string& root) {
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(root + "/data"));
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(root + "/cache"));
    }
    ~OwnDataHome() {
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_CACHE_HOME");
    }
};

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_ino;
}

} // namespace

// A dry run changes nothing and says what would happen; --yes does it, skipping the
// group the rule cannot decide; undo shows, then gives every file back.
TEST(Cli, ActIsADryRunUntilYesAndUndoGivesTheFilesBack) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString() + "/tree";
    const OwnDataHome data(tmp.path().toStdString());
    for (const char* d : {"", "/a", "/b", "/c"})
        ::mkdir((root + d).c_str(), 0755);
    std::ofstream(root + "/a/p.txt") << "hello";
    std::ofstream(root + "/b/p.txt") << "hello";
    std::ofstream(root + "/a/q.txt") << "world!";
    std::ofstream(root + "/b/q.txt") << "world!";
    std::ofstream(root + "/b/r.txt") << "undecided";
    std::ofstream(root + "/c/r.txt") << "undecided";
    ::chmod((root + "/b/p.txt").c_str(), 0600);
    const std::vector<std::string> act = {
        "find-duplicates", "--content", "--keep", "under=" + root + "/a",
        "--act",           "hardlink",  root};
    const std::string before = treeListing(root), undoneListing = treeListing(root, false);

    const Output dry = runCli(act);
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(treeListing(root), before);
    EXPECT_NE(dry.out.find("would hardlink " + root + "/b/p.txt -> " + root + "/a/p.txt\n"),
              std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("would hardlink " + root + "/b/q.txt -> " + root + "/a/q.txt\n"),
              std::string::npos);
    EXPECT_NE(dry.out.find("fenwa: act=hardlink planned=2 done=0 skipped=0 failed=0 same=0 "
                           "undecided=1 freed=11 dry-run=yes\n"),
              std::string::npos)
        << dry.out;

    std::vector<std::string> yes = act;
    yes.insert(yes.end() - 1, "--yes");
    const Output done = runCli(yes);
    EXPECT_EQ(done.status, 0) << done.err << done.out;
    EXPECT_NE(done.out.find("planned=2 done=2 skipped=0 failed=0 same=0 undecided=1 freed=11 "
                            "dry-run=no\n"),
              std::string::npos)
        << done.out;
    EXPECT_EQ(inodeOf(root + "/b/p.txt"), inodeOf(root + "/a/p.txt"));
    EXPECT_EQ(inodeOf(root + "/b/q.txt"), inodeOf(root + "/a/q.txt"));
    EXPECT_NE(inodeOf(root + "/b/r.txt"), inodeOf(root + "/c/r.txt"));
    // Acting again: the rule marks no hard link of a kept file.
    EXPECT_NE(runCli(act).out.find("planned=0 done=0 skipped=0 failed=0"), std::string::npos);

    const std::string linked = treeListing(root);
    const Output show = runCli({"undo"});
    EXPECT_EQ(show.status, 0);
    EXPECT_NE(show.out.find("would restore " + root + "/b/p.txt from " + root + "/a/p.txt\n"),
              std::string::npos)
        << show.out;
    EXPECT_NE(show.out.find("fenwa: undo=hardlink files=2 done=0 failed=0 dry-run=yes"),
              std::string::npos);
    EXPECT_EQ(treeListing(root), linked);
    const Output back = runCli({"undo", "--yes"});
    EXPECT_EQ(back.status, 0) << back.out << back.err;
    EXPECT_NE(back.out.find("fenwa: undo=hardlink files=2 done=2 failed=0 dry-run=no"),
              std::string::npos);
    // Back as they were, but for their inodes and status-change times.
    EXPECT_EQ(treeListing(root, false), undoneListing);
    EXPECT_EQ(runCli({"undo"}).out, "fenwa: undo=none files=0 done=0 failed=0 dry-run=yes\n");
}

TEST(Cli, ActUsageAndExitStatus) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString() + "/tree";
    const OwnDataHome data(tmp.path().toStdString());
    for (const char* d : {"", "/a", "/b", "/../moved", "/../moved/b"})
        ::mkdir((root + d).c_str(), 0755);
    std::ofstream(root + "/a/p.txt") << "hello";
    std::ofstream(root + "/b/p.txt") << "hello";
    std::ofstream(root + "/a/q.txt") << "other!";
    std::ofstream(root + "/b/q.txt") << "bytes!";
    std::ofstream(root + "/../moved/b/p.txt") << "taken";
    const std::string moved = tmp.path().toStdString() + "/moved";
    const std::string keep = "under=" + root + "/a";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says; // on the output, or else the error output
    } cases[] = {
        {{"--size", "--act", "hardlink"}, 1, "--act needs --keep"},
        {{"--size", "--keep", keep, "--act", "copy"}, 1, "--act takes"},
        {{"--size", "--keep", keep, "--yes"}, 1, "--yes goes with --act"},
        {{"--size", "--keep", keep, "--act", "move=" + root + "/none"}, 2, fenwa::MsgNotADirectory},
        // Never over what is at the destination, even told --yes.
        {{"--content", "--keep", keep, "--act", "move=" + moved},
         0,
         "skip " + root + "/b/p.txt  (something already exists where it would be moved to)"},
        {{"--content", "--keep", keep, "--act", "move=" + moved, "--yes"},
         3,
         "fenwa: act=move planned=0 done=0 skipped=1"},
        // Same sizes, other bytes: a link would lose q.txt's own.
        {{"--size", "--keep", keep, "--act", "symlink", "--yes"},
         3,
         "skip " + root + "/b/q.txt  (its bytes differ from the kept copy's)"},
        {{"--size", "--keep", keep, "--act", "symlink"}, 0, "planned=0 done=0 skipped=1"},
    };
    // A directory typed with a trailing slash keeps each file's path below it
    // (before the cases below act on the tree).
    const Output slash = runCli({"find-duplicates", "--content", "--keep", keep, "--act",
                                 "move=" + tmp.path().toStdString(), root + "/"});
    EXPECT_EQ(slash.status, 0) << slash.out << slash.err;
    EXPECT_NE(slash.out.find("would move " + root + "/b/p.txt -> " + tmp.path().toStdString() +
                             "/b/p.txt"),
              std::string::npos)
        << slash.out << slash.err;
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "find-duplicates");
        args.push_back(root);
        SCOPED_TRACE(args[args.size() - 2]);
        const Output o = runCli(args);
        EXPECT_EQ(o.status, c.status) << o.out << o.err;
        EXPECT_NE((o.out + o.err).find(c.says), std::string::npos) << o.out << o.err;
    }
    std::string taken, own;
    std::ifstream(moved + "/b/p.txt") >> taken;
    std::ifstream(root + "/b/q.txt") >> own;
    EXPECT_EQ(taken + own, "takenbytes!");
    struct stat st {};
    EXPECT_TRUE(::lstat((root + "/b/p.txt").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
}

// A clone where the file system shares data (a Btrfs image of the test's own); refused,
// before anything, where it cannot.
TEST(Cli, ReflinkClonesWhereTheFileSystemCan) {
    QTemporaryDir tmp;
    const std::string base = tmp.path().toStdString();
    const OwnDataHome data(base);
    const auto twoCopies = [](const std::string& root) {
        for (const char* d : {"", "/a", "/b"})
            ::mkdir((root + d).c_str(), 0755);
        const std::string bytes(65536, 'x');
        std::ofstream(root + "/a/p.bin") << bytes;
        std::ofstream(root + "/b/p.bin") << bytes;
    };
    const auto reflink = [](const std::string& root) {
        return runCli({"find-duplicates", "--content", "--keep", "under=" + root + "/a", "--act",
                       "reflink", "--yes", root});
    };
    twoCopies(base + "/plain");
    const Output refused = reflink(base + "/plain");
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.out.find("skip " + base + "/plain/b/p.bin  (its file system cannot"),
              std::string::npos)
        << refused.out;

    const std::string image = base + "/btrfs.img", root = base + "/btrfs";
    ::mkdir(root.c_str(), 0755);
    std::string device;
    if (::truncate((std::ofstream(image), image).c_str(), 128 << 20) == 0 &&
        std::system(("mkfs.btrfs -q '" + image + "' >/dev/null 2>&1").c_str()) == 0 &&
        std::system(
            ("losetup --find --show '" + image + "' >'" + base + "/dev' 2>/dev/null").c_str()) == 0)
        std::ifstream(base + "/dev") >> device;
    const bool mounted =
        !device.empty() && ::mount(device.c_str(), root.c_str(), "btrfs", 0, nullptr) == 0;
    if (mounted) {
        twoCopies(root);
        ::chmod((root + "/b/p.bin").c_str(), 0640);
        const timespec times[2] = {{1000000000, 0}, {1100000000, 5}};
        ::utimensat(AT_FDCWD, (root + "/b/p.bin").c_str(), times, 0);
        const std::string before = treeListing(root, false);
        const Output cloned = reflink(root);
        EXPECT_EQ(cloned.status, 0) << cloned.out << cloned.err;
        EXPECT_NE(cloned.out.find("done=1 skipped=0 failed=0"), std::string::npos) << cloned.out;
        EXPECT_NE(inodeOf(root + "/a/p.bin"), inodeOf(root + "/b/p.bin"));
        std::ifstream in(root + "/b/p.bin", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string(65536, 'x'));
        // Undone: the file's own bytes, permissions and time again, sharing nothing.
        const Output back = runCli({"undo", "--yes"});
        EXPECT_EQ(back.status, 0) << back.out << back.err;
        EXPECT_EQ(treeListing(root, false), before);
        ::umount2(root.c_str(), MNT_DETACH);
    }
    if (!device.empty())
        (void)std::system(("losetup -d '" + device + "'").c_str());
    if (!mounted)
        GTEST_SKIP() << "cannot make and mount a Btrfs image here (needs root, losetup and "
                        "btrfs-progs)";
}

TEST(Cli, FiltersLeaveFilesAndFoldersOut) {
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString();
    for (const char* d : {"/raw", "/skip", "/skip/in"})
        ::mkdir((root + d).c_str(), 0755);
    for (const char* name : {"/a.jpg", "/raw/d.jpg", "/raw/x.dat", "/skip/e.jpg", "/skip/in/f.jpg"})
        std::ofstream(root + name) << "1234";
    for (const char* name : {"/b.jpg", "/y.dat"})
        std::ofstream(root + name) << "";
    std::ofstream(root + "/c.jpg") << std::string(3000, 'x');

    const Output o = runCli({"find-all", "--min-size", "1", "--max-size", "2k", "--skip",
                             root + "/skip", "--skip", root + "/gone", "--pictures-only", root});
    ASSERT_EQ(o.status, 0) << o.err;
    std::set<std::string> names;
    for (size_t at = 0; at < o.out.size(); at = o.out.find('\n', at) + 1)
        names.insert(o.out.substr(at, o.out.find('\t', at) - at));
    EXPECT_EQ(names, (std::set<std::string>{"a.jpg", "d.jpg"}));
    EXPECT_NE(o.err.find("--skip " + root + "/gone: no such folder"), std::string::npos) << o.err;
    // b.jpg, y.dat, c.jpg and x.dat; skip/ and all in it unread.
    EXPECT_NE(o.err.find("left out by the filters: 4 files, 1 folders"), std::string::npos)
        << o.err;

    // Empty files are all of one size: left out, they make no group.
    const Output sized = runCli({"find-duplicates", "--size", "--skip-empty", root});
    ASSERT_EQ(sized.status, 0) << sized.err;
    EXPECT_EQ(sized.out.find("b.jpg"), std::string::npos);
    EXPECT_NE(sized.out.find("x.dat"), std::string::npos);
    EXPECT_NE(runCli({"find-duplicates", "--size", root}).out.find("b.jpg"), std::string::npos);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"find-all", "--min-size", "lots", root},
          {"find-duplicates", "--size", "--min-size", "2M", "--max-size", "1M", root}}) {
        const Output refused = runCli(bad);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.err.find("size"), std::string::npos);
    }
    EXPECT_NE(runCli({"--help"}).out.find("--pictures-only"), std::string::npos);
}
