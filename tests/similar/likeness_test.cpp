// The likeness check on made-up pictures: copies a user makes pass it, pictures that only
// look alike do not, and a damaged print confirms nothing.

#include <QImage>
#include <QPainter>
#include <QTransform>
#include <gtest/gtest.h>

#include "confuserpictures.h"
#include "fingerprint.h"
#include "likeness.h"
#include "madeupphoto.h"

using namespace fenwa::similar;
using fenwa::testing::twoColourGradient;

namespace {

struct Printed {
    uint64_t hash = 0;
    std::string print;
};

Printed printOf(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    Printed p;
    p.hash =
        FingerprintGrey(grey.constBits(), grey.width(), grey.height(), int(grey.bytesPerLine()))
            .value_or(0);
    p.print =
        MakeLikenessPrint(rgb.constBits(), rgb.width(), rgb.height(), int(rgb.bytesPerLine()), 3);
    return p;
}

bool alike(const QImage& leader, const QImage& member, SimilarLevel level = SimilarLevel::Normal) {
    const Printed a = printOf(leader), b = printOf(member);
    return VerifyLikeness(a.print, a.hash, b.print, b.hash, level);
}

QImage cropped(const QImage& in, double part) {
    const int dx = int(in.width() * part), dy = int(in.height() * part);
    return in.copy(dx, dy, in.width() - 2 * dx, in.height() - 2 * dy);
}

QImage withBlock(QImage picture, QRect where, QColor colour) {
    QPainter(&picture).fillRect(where, colour);
    return picture;
}

} // namespace

TEST(Likeness, CopiesPassAndLookAlikesDoNot) {
    const QImage scene = madeUpScene(3).scaled(640, 480);
    QImage brighter = scene;
    for (int y = 0; y < brighter.height(); ++y)
        for (int x = 0; x < brighter.width(); ++x) {
            const QColor c = brighter.pixelColor(x, y);
            brighter.setPixelColor(x, y,
                                   QColor(std::min(255, c.red() * 110 / 100),
                                          std::min(255, c.green() * 110 / 100),
                                          std::min(255, c.blue() * 110 / 100)));
        }
    const struct {
        const char* what;
        QImage member;
        bool copy;
    } cases[] = {
        {"resized", scene.scaled(200, 150, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), true},
        {"mirrored and turned", scene.mirrored(true, false).transformed(QTransform().rotate(90)),
         true},
        {"brighter", brighter, true},
        {"grey", scene.convertToFormat(QImage::Format_Grayscale8), true},
        {"crop 5% a side", cropped(scene, 0.05), true},
        {"crop to a square", scene.copy(80, 0, 480, 480), true},
        {"mark in a corner", withBlock(scene, QRect(560, 420, 80, 60), Qt::white), true},
        {"figure pasted in", withBlock(scene, QRect(240, 140, 130, 250), QColor(40, 60, 160)),
         false},
        {"another scene", madeUpScene(5).scaled(640, 480), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(alike(scene, c.member), c.copy) << c.what;
}

TEST(Likeness, GradientsOfOtherColoursDiffer) {
    const QImage whiteBlack = twoColourGradient(Qt::white, Qt::black);
    EXPECT_TRUE(alike(whiteBlack, whiteBlack.scaled(600, 400)));
    for (SimilarLevel level : {SimilarLevel::Strict, SimilarLevel::Normal}) {
        EXPECT_FALSE(alike(whiteBlack, twoColourGradient(Qt::yellow, QColor(128, 0, 128)), level));
        EXPECT_FALSE(alike(twoColourGradient(Qt::white, Qt::gray),
                           twoColourGradient(Qt::red, Qt::blue), level));
    }
}

TEST(Likeness, MalformedPrintsConfirmNothing) {
    const Printed a = printOf(madeUpScene(1));
    ASSERT_TRUE(ValidLikenessPrint(a.print));
    std::string cut = a.print.substr(0, a.print.size() - 1), marked = a.print;
    marked[0] = 'X';
    for (const std::string& bad : {std::string(), cut, marked}) {
        EXPECT_FALSE(ValidLikenessPrint(bad));
        EXPECT_FALSE(VerifyLikeness(a.print, a.hash, bad, a.hash, SimilarLevel::Loose));
    }
    EXPECT_TRUE(VerifyLikeness(a.print, a.hash, a.print, a.hash, SimilarLevel::Strict));
}
