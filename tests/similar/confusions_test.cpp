// Pictures that only look alike, searched as the user searches them: files in a folder,
// a Similar search equipped as the window and the command line equip it. Each case is a
// few files and whether they must end up together: different pages, contracts, screens
// and scenes must never be offered as copies of one another, while honest copies of the
// same kinds of picture must still be found.

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <functional>
#include <set>

#include "confuserpictures.h"
#include "fingerprint.h"
#include "madeupphoto.h"
#include "search.h"
#include "similarsearch.h"

using namespace fenwa::testing;

namespace {

struct File {
    const char* name; // the suffix picks the format (PNG is no picture to a search)
    std::function<QImage()> draw;
    int quality = 90;
};

struct Confusion {
    const char* name;
    std::vector<File> files;
    bool grouped; // all in one group, or no two together
    std::vector<fenwa::similar::SimilarLevel> levels = {fenwa::similar::SimilarLevel::Normal};
};

void PrintTo(const Confusion& c, std::ostream* out) {
    *out << c.name;
}

QImage brighter(const QImage& in, int percent) {
    QImage out = in.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const auto up = [&](int v) { return std::min(255, v * (100 + percent) / 100); };
            line[x] = qRgb(up(qRed(line[x])), up(qGreen(line[x])), up(qBlue(line[x])));
        }
    }
    return out;
}

QImage toWidth(const QImage& in, int width) {
    return in.scaledToWidth(width, Qt::SmoothTransformation);
}

using fenwa::similar::SimilarLevel;

// The pairs the fingerprint alone confuses: the copies a user keeps of each (thumbnails,
// brightened or recompressed ones) come within the level of the other picture's.
const Confusion Cases[] = {
    {"TextPagesOfOtherWords",
     {{"page3.jpg", [] { return toWidth(textPage(3), 640); }},
      {"page5.jpg", [] { return toWidth(textPage(5), 640); }}},
     false},
    {"ContractsAFewAmountsAndAMonthApart",
     {{"a.bmp", [] { return contractVersion({}, "March"); }},
      {"b.bmp",
       [] {
           return contractVersion({{1, "520.00"}, {3, "810.00"}, {5, "5,270.00"}}, "March");
       }},
      {"c.bmp",
       [] {
           return contractVersion({{2, "2,150.00"}}, "May");
       }}},
     false},
    {"EditorScreenshotsOfOtherCode",
     {{"three.bmp", [] { return editorScreenshot(3); }},
      {"four.bmp", [] { return editorScreenshot(4); }}},
     false},
    {"WebPagesOfOtherText",
     {{"three.bmp", [] { return webPageScreenshot(3); }},
      {"four.bmp", [] { return webPageScreenshot(4); }}},
     false},
    {"GradientsWhiteBlackAndYellowPurple",
     {{"whiteblack.jpg", [] { return brighter(twoColourGradient(Qt::white, Qt::black), 15); }},
      {"yellowpurple.jpg",
       [] { return toWidth(twoColourGradient(Qt::yellow, QColor(128, 0, 128)), 640); }}},
     false,
     {SimilarLevel::Strict, SimilarLevel::Normal}},
    {"GradientsWhiteGreyAndRedBlue",
     {{"whitegrey.jpg", [] { return twoColourGradient(Qt::white, Qt::gray); }},
      {"redblue.jpg", [] { return toWidth(twoColourGradient(Qt::red, Qt::blue), 600); }}},
     false,
     {SimilarLevel::Strict, SimilarLevel::Normal}},
    {"SceneWithAFigurePastedIn",
     {{"scene.bmp", [] { return madeUpScene(4); }},
      {"person.bmp", [] { return withPerson(madeUpScene(4)); }}},
     false},
    {"SceneWithARedLineOfText",
     {{"scene.bmp", [] { return madeUpScene(1); }},
      {"marked.bmp", [] { return withRedText(madeUpScene(1)); }}},
     false},
    {"TextPageAndItsSmallerJpeg",
     {{"page.bmp", [] { return textPage(3); }},
      {"copy.jpg", [] { return toWidth(textPage(3), 1240 * 60 / 100); }, 75}},
     true},
    {"ScreenshotAndItsJpeg",
     {{"shot.bmp", [] { return editorScreenshot(3); }},
      {"shot.jpg", [] { return editorScreenshot(3); }}},
     true},
    {"SceneAndItsResizedBrighterCopy",
     {{"scene.bmp", [] { return madeUpScene(2); }},
      {"copy.jpg", [] { return brighter(toWidth(madeUpScene(2), 480), 8); }}},
     true},
};

class Confusions : public ::testing::TestWithParam<Confusion> {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "similar_tests";
        static char* argv[] = {name, nullptr};
        if (!QGuiApplication::instance())
            new QGuiApplication(argc, argv);
    }
};

TEST_P(Confusions, SearchGroupsOnlyCopies) {
    const Confusion& c = GetParam();
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QDir root(temp.path());
    ASSERT_TRUE(root.mkpath("pictures") && root.mkpath("cache"));
    qputenv("XDG_CACHE_HOME", root.filePath("cache").toUtf8());
    std::set<std::string> names;
    for (const File& f : c.files) {
        ASSERT_TRUE(f.draw().save(root.filePath(QString("pictures/") + f.name), nullptr, f.quality))
            << f.name;
        names.insert(f.name);
    }
    for (SimilarLevel level : c.levels) {
        fenwa::SearchRequest request;
        request.directories = {root.filePath("pictures").toStdString()};
        request.duplicatesOnly = true;
        request.criteria.similar = true;
        request.similarLevel = int(level);
        request.cachePath = root.filePath("cache/fingerprints.db").toStdString();
        fenwa::similar::EquipSearch(request);
        const fenwa::SearchOutcome found = fenwa::RunSearch(request);
        ASSERT_FALSE(found.cancelled);
        std::set<std::string> grouped;
        std::set<uint32_t> groups;
        for (size_t row = 0; row < found.rows.size(); ++row) {
            grouped.emplace(found.rows.name(row));
            groups.insert(found.rows.group(row));
        }
        if (c.grouped) {
            EXPECT_EQ(grouped, names) << "level " << int(level);
            EXPECT_EQ(groups.size(), 1u) << "level " << int(level);
        } else {
            // Groups of one drop out: anything left is a pair offered as copies.
            EXPECT_TRUE(grouped.empty())
                << "level " << int(level) << ": " << grouped.size() << " grouped as copies";
        }
    }
    qunsetenv("XDG_CACHE_HOME");
}

INSTANTIATE_TEST_SUITE_P(Pictures, Confusions, ::testing::ValuesIn(Cases),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
