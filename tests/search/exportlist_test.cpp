#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>

#include "exportlist.h"

using namespace fenwa;

namespace {

// Groups as a search by size recorded them: [a b] [c d], e alone.
FileRecordStore rows() {
    FileRecordStore s;
    const uint32_t d = s.internDirectory("/p");
    s.append(d, "a.jpg", 5, 0);
    s.append(d, "b, \"quoted\".jpg", 5, 0);
    s.append(d, "c\xff.jpg", 7, 0);
    s.append(d, "d.jpg", 7, 0);
    s.append(d, "e.jpg", 9, 0);
    recordGroups(s, Criteria{false, true, false});
    return s;
}

} // namespace

TEST(ExportList, GroupNumbersAreTheRecordedGroupsInOrderOfAppearance) {
    EXPECT_EQ(groupNumbers(rows()), (std::vector<uint32_t>{1, 1, 2, 2, 3}));
    // Sorted by name descending: e, d, c, b, a. The groups stay the search's.
    FileRecordStore sorted = rows();
    sorted.permute({4, 3, 2, 1, 0});
    EXPECT_EQ(groupNumbers(sorted), (std::vector<uint32_t>{1, 2, 2, 3, 3}));
    // Interleaved: each group keeps one number wherever its rows are.
    sorted.permute({4, 2, 0, 1, 3}); // a, c, e, d, b
    EXPECT_EQ(groupNumbers(sorted), (std::vector<uint32_t>{1, 2, 3, 2, 1}));
    // A list of every file has no groups: a number per row.
    FileRecordStore all;
    for (int i = 0; i < 3; ++i)
        all.append(all.internDirectory("/p"), "same", 5, 0);
    EXPECT_EQ(groupNumbers(all), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_TRUE(groupNumbers(FileRecordStore{}).empty());
}

TEST(ExportList, CsvQuotesAndEscapes) {
    const std::string csv = rowsAsText(rows(), ExportFormat::Csv);
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
              "group,name,directory,size,type,time,width,height,taken,likeness");
    EXPECT_NE(csv.find("\r\n1,\"b, \"\"quoted\"\".jpg\",/p,5,.jpg,1970/01/01 00:00,,,,\r\n"),
              std::string::npos);
    EXPECT_NE(csv.find("\r\n2,c\\xFF.jpg,/p,7,"), std::string::npos);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 6);
}

TEST(ExportList, JsonIsValidAndCarriesEveryField) {
    const std::string json = rowsAsText(rows(), ExportFormat::Json);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
    const QJsonArray array = doc.array();
    ASSERT_EQ(array.size(), 5);
    EXPECT_EQ(array[1].toObject()["name"].toString(), QStringLiteral("b, \"quoted\".jpg"));
    EXPECT_EQ(array[2].toObject()["name"].toString(), QStringLiteral("c\\xFF.jpg"));
    EXPECT_EQ(array[2].toObject()["group"].toInt(), 2);
    EXPECT_EQ(array[4].toObject()["size"].toInt(), 9);
    EXPECT_EQ(array[0].toObject()["time"].toString(), QStringLiteral("1970/01/01 00:00"));
    EXPECT_EQ(rowsAsText(FileRecordStore{}, ExportFormat::Json), "[]\n");
}

TEST(ExportList, TsvIsTheFiveColumns) {
    const std::string tsv = rowsAsText(rows(), ExportFormat::Tsv);
    EXPECT_EQ(tsv.substr(0, tsv.find('\n')), "a.jpg\t/p\t5\t.jpg\t1970/01/01 00:00");
    EXPECT_EQ(exportFormatNamed("csv"), ExportFormat::Csv);
    EXPECT_FALSE(exportFormatNamed("xml").has_value());
}

// The picture columns come last, after `selected`, so that readers of the older columns
// find them where they were. Only picture rows are read, each once, and TSV reads none.
TEST(ExportList, PictureFactsAndLikenessComeLastAndOnlyPicturesAreRead) {
    FileRecordStore s;
    const uint32_t d = s.internDirectory("/p");
    s.append(d, "photo.jpg", 5, 0);
    s.append(d, "notes.txt", 5, 0);
    s.append(d, "copy.jpg", 5, 0);
    recordGroups(s, Criteria{false, true, false});
    s.setLikeness(0, 100);
    s.setLikeness(2, 87);
    std::atomic<int> reads{0};
    const PictureFactsRead reader = [&](const std::string& path) {
        ++reads;
        EXPECT_NE(path.find(".jpg"), std::string::npos) << path;
        return path == "/p/photo.jpg" ? PictureFacts{4000, 3000, 20210601100000} : PictureFacts{};
    };
    SelectionColumn selection{{false, true, true}, false};
    const std::string csv = rowsAsText(s, ExportFormat::Csv, &selection, reader);
    EXPECT_EQ(reads.load(), 2);
    EXPECT_EQ(csv, "group,name,directory,size,type,time,selected,width,height,taken,likeness\r\n"
                   "1,photo.jpg,/p,5,.jpg,1970/01/01 00:00,no,4000,3000,2021-06-01 10:00:00,100\r\n"
                   "1,notes.txt,/p,5,.txt,1970/01/01 00:00,yes,,,,\r\n"
                   "1,copy.jpg,/p,5,.jpg,1970/01/01 00:00,yes,,,,87\r\n");

    const QJsonArray array =
        QJsonDocument::fromJson(
            QByteArray::fromStdString(rowsAsText(s, ExportFormat::Json, nullptr, reader)))
            .array();
    ASSERT_EQ(array.size(), 3);
    const QJsonObject photo = array[0].toObject(), notes = array[1].toObject();
    EXPECT_EQ(photo["width"].toInt(), 4000);
    EXPECT_EQ(photo["height"].toInt(), 3000);
    EXPECT_EQ(photo["taken"].toString(), QStringLiteral("2021-06-01 10:00:00"));
    EXPECT_EQ(photo["likeness"].toInt(), 100);
    for (const char* key : {"width", "height", "taken", "likeness"})
        EXPECT_TRUE(notes[key].isNull()) << key;
    EXPECT_EQ(array[2].toObject()["likeness"].toInt(), 87);

    reads = 0;
    EXPECT_EQ(rowsAsText(s, ExportFormat::Tsv, nullptr, reader), rowsAsText(s, ExportFormat::Tsv));
    EXPECT_EQ(reads.load(), 0);
}

// Headers are read a batch of pictures at a time on several threads: each row still
// gets its own file's facts, whatever the mix of pictures and other files.
TEST(ExportList, EveryPictureRowGetsItsOwnFactsAcrossBatches) {
    FileRecordStore s;
    const uint32_t d = s.internDirectory("/p");
    for (int i = 0; i < 3000; ++i)
        s.append(d, std::to_string(i) + (i % 3 ? ".jpg" : ".txt"), 1, 0);
    const QJsonArray array =
        QJsonDocument::fromJson(QByteArray::fromStdString(rowsAsText(
                                    s, ExportFormat::Json, nullptr,
                                    [](const std::string& path) {
                                        return PictureFacts{std::stoi(path.substr(3)) + 1, 1, 0};
                                    })))
            .array();
    ASSERT_EQ(array.size(), 3000);
    for (int i = 0; i < 3000; ++i) {
        const QJsonValue width = array[i].toObject()["width"];
        if (i % 3)
            ASSERT_EQ(width.toInt(), i + 1) << i;
        else
            ASSERT_TRUE(width.isNull()) << i;
    }
}
