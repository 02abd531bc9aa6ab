#include "balloonhint.h"
#include "balloonpainter.h"
#include "hintfonts.h"
#include "hinthost.h"
#include "newhint.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QHelpEvent>
#include <QPushButton>
#include <QScreen>
#include <QToolTip>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(THintDirection)

namespace {

const QColor Background(0, 128, 0);
const QColor Yellow(255, 255, 0);
const QColor Purple(128, 0, 128);
const QColor Black(0, 0, 0);

QColor PixelAt(const QImage& image, int x, int y) {
    return QColor::fromRgba(image.pixel(x, y));
}

BalloonLook DefaultLook() {
    return {Yellow, Purple, MainWindowHintFont()};
}

QImage Filled(QSize size, const QColor& colour) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

// A window with one button that has a hint and one that has none.
struct HintWindow {
    QWidget top;
    QPushButton* withHint = new QPushButton(QStringLiteral("With"), &top);
    QPushButton* withoutHint = new QPushButton(QStringLiteral("Without"), &top);
    HintWindow() {
        auto* layout = new QVBoxLayout(&top);
        layout->addWidget(withHint);
        layout->addWidget(withoutHint);
        withHint->setToolTip(QStringLiteral("Add Directory"));
        top.setGeometry(200, 200, 300, 200);
    }
    // Shows the window with the mouse on its margin, where no control has a hint. (The mouse
    // has to move for a hint to start; a move to where it already is does not count.)
    bool ShowActive() {
        top.show();
        if (!QTest::qWaitForWindowActive(&top))
            return false;
        QTest::mouseMove(top.windowHandle(), QPoint(1, 1));
        return true;
    }
};

} // namespace

class BalloonHintTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RegisterHintFontSubstitutes(); }
    void cleanup();

    void defaultsFollowTheTable();
    void pauseTimeChangesTheApplicationPauseOnlyWhenNew();
    void hintFontReachesANewHintWindow();
    void mingFontHasChineseGlyphs();

    void paintsTheBalloonOverTheBackground_data();
    void paintsTheBalloonOverTheBackground();
    void outsideTheShapeStaysTransparent();
    void ampersandsAreDrawnAndLongTextWraps();

    void showBalloonPlacesBesideTheCursor();
    void handlerChoosesTheDirectionForOneShowing();
    void capturedBackgroundShowsAroundTheBalloon();

    void restingTheMouseShowsTheBalloonInsteadOfTheToolTip();
    void leavingOrClickingHidesTheBalloon();
    void withoutTheComponentTheStandardToolTipShows();
};

void BalloonHintTest::cleanup() {
    QToolTip::hideText();
    THintHost::Instance()->SetScreenGrabber(TNewHint::DefaultScreenGrabber());
    THintHost::Instance()->SetHintHidePause(2500);
}

void BalloonHintTest::defaultsFollowTheTable() {
    TBalloonHint hint;
    QCOMPARE(hint.HintDirection(), hdUpRight);
    QCOMPARE(hint.HintColor(), QColor(255, 255, 0));
    QCOMPARE(hint.HintShadowColor(), QColor(128, 0, 128));
    QCOMPARE(hint.HintFont().font.family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(hint.HintFont().font.pointSize(), 12);
    QVERIFY(hint.HintFont().font.bold());
    QVERIFY(hint.HintFont().font.italic());
    QCOMPARE(hint.HintFont().color, QColor(0, 0, 255));
    QCOMPARE(hint.HintPauseTime(), 600);
    QVERIFY(!hint.OnSelectHintDirection());

    THintHost* host = THintHost::Instance();
    QCOMPARE(host->HintPause(), 600);
    QCOMPARE(host->Balloon(), &hint);
    QVERIFY(host->HintWindow());
    QCOMPARE(host->HintWindow()->CanvasFont(), hint.HintFont());
}

void BalloonHintTest::pauseTimeChangesTheApplicationPauseOnlyWhenNew() {
    TBalloonHint hint;
    THintHost* host = THintHost::Instance();
    host->SetHintPause(250); // set by someone else
    hint.SetHintPauseTime(600);
    QCOMPARE(host->HintPause(), 250);
    hint.SetHintPauseTime(900);
    QCOMPARE(hint.HintPauseTime(), 900);
    QCOMPARE(host->HintPause(), 900);
}

void BalloonHintTest::hintFontReachesANewHintWindow() {
    TBalloonHint hint;
    THintHost* host = THintHost::Instance();
    const QPointer<TNewHint> before = host->HintWindow();
    const QSize defaultSize = before->CalcHintRect(400, QStringLiteral("Add Directory"));
    hint.SetHintFont(MainWindowHintFont());
    QVERIFY(!before); // rebuilt
    QVERIFY(host->HintWindow());
    QCOMPARE(host->HintWindow()->CanvasFont(), MainWindowHintFont());
    QVERIFY(host->HintWindow()->CalcHintRect(400, QStringLiteral("Add Directory")) != defaultSize);
}

void BalloonHintTest::mingFontHasChineseGlyphs() {
    RegisterHintFontSubstitutes();
    const QFont font = MainWindowHintFont().font;
    QCOMPARE(font.family(), QStringLiteral("新細明體"));
    const QString used = QFontInfo(font).family();
    const QStringList substitutes = QFont::substitutes(QStringLiteral("新細明體"));
    QVERIFY2(substitutes.contains(used, Qt::CaseInsensitive), qPrintable(used));
    QVERIFY(QFontMetrics(font).inFontUcs4(QStringLiteral("目").toUcs4().first()));
}

void BalloonHintTest::paintsTheBalloonOverTheBackground_data() {
    QTest::addColumn<THintDirection>("direction");
    QTest::addRow("up right") << hdUpRight;
    QTest::addRow("up left") << hdUpLeft;
    QTest::addRow("down right") << hdDownRight;
    QTest::addRow("down left") << hdDownLeft;
}

void BalloonHintTest::paintsTheBalloonOverTheBackground() {
    QFETCH(THintDirection, direction);
    const QSize size = balloon::WindowSize(QSize(104, 30), direction);
    const int w = size.width();
    const int h = size.height();
    const QImage image =
        balloon::PaintBalloon(Filled(size, Background), direction, DefaultLook(), QString());
    QCOMPARE(image.size(), size);
    const bool up = balloon::IsUp(direction);
    const bool right = balloon::IsRight(direction);
    const int boxTop = up ? 0 : 15;
    const int boxBottom = up ? h - 15 : h - 9;
    const int middle = (boxTop + boxBottom) / 2;

    // Box colour inside, a black outline round it.
    QCOMPARE(PixelAt(image, w / 2, middle), Yellow);
    QCOMPARE(PixelAt(image, 0, middle), Black);
    QCOMPARE(PixelAt(image, w - 7, middle), Black);
    QCOMPARE(PixelAt(image, 40, boxTop), Black);
    QCOMPARE(PixelAt(image, 40, boxBottom), Black);
    // Rounded corner: the very corner shows the background.
    QCOMPARE(PixelAt(image, 0, boxTop), Background);

    // The shadow band right of the box: dots on the checkerboard, background between.
    for (int x = w - 5; x <= w - 2; ++x) {
        const bool dot = balloon::IsShadowDot(x, middle);
        QCOMPARE(PixelAt(image, x, middle), dot ? Purple : Background);
    }
    // And below the box.
    const int below = up ? h - 11 : h - 5;
    QCOMPARE(PixelAt(image, 50, below), balloon::IsShadowDot(50, below) ? Purple : Background);
    QCOMPARE(PixelAt(image, 51, below), balloon::IsShadowDot(51, below) ? Purple : Background);

    // The tail: its outer edge reaches the window corner on the cursor's side, the box is
    // open where it joins, and beside the tip the background shows.
    const int tipRow = up ? h - 1 : 0;
    const int tipColumn = right ? (up ? 1 : 0) : (up ? w - 7 : w - 6);
    QCOMPARE(PixelAt(image, tipColumn, tipRow), Black);
    QCOMPARE(PixelAt(image, right ? 15 : w - 21, up ? boxBottom : boxTop), Yellow);
    QCOMPARE(PixelAt(image, right ? 10 : w - 16, up ? h - 10 : 10), Yellow);
    QCOMPARE(PixelAt(image, right ? 5 : w - 11, tipRow), Background);
    QCOMPARE(PixelAt(image, right ? w - 3 : 2, tipRow), Background);
}

void BalloonHintTest::outsideTheShapeStaysTransparent() {
    const QSize size = balloon::WindowSize(QSize(104, 30), hdUpRight);
    const QImage image = balloon::PaintBalloon(Filled(size, Qt::transparent), hdUpRight,
                                               DefaultLook(), QStringLiteral("Hint"));
    QCOMPARE(qAlpha(image.pixel(size.width() - 1, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size.width() / 2, 10)), 255);
    // Between the shadow dots the screen must show through too.
    const int y = 20;
    const int x = balloon::IsShadowDot(size.width() - 3, y) ? size.width() - 2 : size.width() - 3;
    QCOMPARE(qAlpha(image.pixel(x, y)), 0);
    QCOMPARE(qAlpha(image.pixel(x + 1, y)), 255);
}

void BalloonHintTest::ampersandsAreDrawnAndLongTextWraps() {
    const QFont font = MainWindowHintFont().font;
    const QSize size = balloon::WindowSize(QSize(60, 30), hdUpRight);
    const QImage plain =
        balloon::PaintBalloon(Filled(size, Background), hdUpRight, DefaultLook(), QString());
    const QImage ampersand = balloon::PaintBalloon(Filled(size, Background), hdUpRight,
                                                   DefaultLook(), QStringLiteral("&"));
    QVERIFY(plain != ampersand);
    // The text is blue.
    bool blue = false;
    for (int y = 0; y < size.height() && !blue; ++y)
        for (int x = 0; x < size.width() && !blue; ++x) {
            const QColor c = PixelAt(ampersand, x, y);
            blue = c.blue() > 150 && c.red() < 100 && c.green() < 100;
        }
    QVERIFY(blue);
    const auto width = [&](const char* text) {
        return balloon::MeasureHintText(font, QString::fromUtf8(text), 400).width();
    };
    QVERIFY(width("a&b") > width("ab"));
    QVERIFY(width("a&&b") > width("a&b"));

    // A long text wraps to the width; a text of more than 255 characters is kept whole.
    const QString line = QStringLiteral("Find the duplicates in the directories");
    const QSize one = balloon::MeasureHintText(font, line, 1000);
    const QSize wrapped = balloon::MeasureHintText(font, line, one.width() / 2);
    QVERIFY(wrapped.width() <= one.width() / 2);
    QVERIFY(wrapped.height() >= 2 * one.height());
    const QString chinese = QStringLiteral("選擇縮圖比例比例越小速度越快").repeated(20);
    QVERIFY(chinese.size() > 255);
    const QSize all = balloon::MeasureHintText(font, chinese, 300);
    const QSize part = balloon::MeasureHintText(font, chinese.left(255), 300);
    QVERIFY(all.height() > part.height());
    QVERIFY(all.width() <= 300);
}

void BalloonHintTest::showBalloonPlacesBesideTheCursor() {
    TBalloonHint hint;
    TNewHint* window = THintHost::Instance()->HintWindow();
    const THintStyle& style = THintHost::Instance()->Style();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QSize hintSize(100, 24);

    const QPoint middle = screen.center();
    window->ShowBalloon(QRect(QPoint(), hintSize), QStringLiteral("Hint"), middle, style.look,
                        style.direction);
    QVERIFY(window->isVisible());
    QCOMPARE(window->ShownDirection(), hdUpRight);
    QCOMPARE(window->geometry(), QRect(middle + QPoint(0, -5 - 44), QSize(116, 44)));

    // Near the right edge it turns left, its tail at the bottom-right corner.
    const QPoint nearRight(screen.right() - 20, screen.center().y());
    window->ShowBalloon(QRect(QPoint(), hintSize), QStringLiteral("Hint"), nearRight, style.look,
                        style.direction);
    QCOMPARE(window->ShownDirection(), hdUpLeft);
    QCOMPARE(window->geometry().bottomRight(), nearRight + QPoint(5, -6));

    // Near the top it goes below, 9 pixels taller.
    const QPoint nearTop(screen.center().x(), screen.top() + 10);
    window->ShowBalloon(QRect(QPoint(), hintSize), QStringLiteral("Hint"), nearTop, style.look,
                        style.direction);
    QCOMPARE(window->ShownDirection(), hdDownRight);
    QCOMPARE(window->geometry(), QRect(nearTop + QPoint(0, 15), QSize(116, 53)));
    QCOMPARE(window->Picture().size(), QSize(116, 53));
    // Nothing was captured here: outside the shape the window is see-through.
    QVERIFY(window->testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(qAlpha(window->Picture().pixel(115, 0)), 0);
}

void BalloonHintTest::handlerChoosesTheDirectionForOneShowing() {
    HintWindow controls;
    // A disabled control without a hint of its own, on the control that has one.
    auto* inner = new QWidget(controls.withHint);
    inner->setEnabled(false);
    TBalloonHint hint(&controls.top);
    hint.SetHintPauseTime(50);
    QWidget* asked = nullptr;
    hint.SetOnSelectHintDirection([&](QWidget* control, THintDirection& direction) {
        asked = control;
        if (control == inner)
            direction = hdDownLeft;
    });
    THintHost* host = THintHost::Instance();
    host->SetHintHidePause(0);
    QVERIFY(controls.ShowActive());
    inner->setGeometry(QRect(controls.withHint->rect().center() - QPoint(10, 5), QSize(20, 10)));
    inner->show();
    TNewHint* window = host->HintWindow();
    QWindow* handle = controls.top.windowHandle();

    // The handler is asked about the deepest control under the mouse, not the one whose hint
    // shows.
    QTest::mouseMove(handle, inner->mapTo(&controls.top, inner->rect().center()));
    QTRY_VERIFY(window->isVisible());
    QCOMPARE(asked, inner);
    QCOMPARE(window->ShownDirection(), hdDownLeft);
    QCOMPARE(hint.HintDirection(), hdUpRight);

    QTest::mouseMove(handle, controls.withoutHint->geometry().center());
    QTest::mouseMove(handle, controls.withHint->geometry().topLeft() + QPoint(4, 4));
    QTRY_VERIFY(window->isVisible());
    QCOMPARE(asked, controls.withHint);
    QCOMPARE(window->ShownDirection(), hdUpRight);
}

void BalloonHintTest::capturedBackgroundShowsAroundTheBalloon() {
    QRect grabbed;
    THintHost::Instance()->SetScreenGrabber([&](const QRect& area) {
        grabbed = area;
        return Filled(area.size(), Background);
    });
    TBalloonHint hint;
    TNewHint* window = THintHost::Instance()->HintWindow();
    const QPoint middle = QGuiApplication::primaryScreen()->geometry().center();
    const THintStyle& style = THintHost::Instance()->Style();
    window->ShowBalloon(QRect(QPoint(), QSize(100, 24)), QStringLiteral("Hint"), middle, style.look,
                        style.direction);
    QCOMPARE(grabbed, window->geometry());
    const QImage& picture = window->Picture();
    QCOMPARE(PixelAt(picture, picture.width() - 1, 0), Background);
    QCOMPARE(PixelAt(picture, 0, picture.height() - 1), Background);
    QCOMPARE(PixelAt(picture, picture.width() / 2, 12), Yellow);
    // A second paint of the same showing draws the same picture.
    QCOMPARE(window->grab().toImage().convertToFormat(QImage::Format_RGB32),
             picture.convertToFormat(QImage::Format_RGB32));
}

void BalloonHintTest::restingTheMouseShowsTheBalloonInsteadOfTheToolTip() {
    HintWindow controls;
    TBalloonHint hint(&controls.top);
    hint.SetHintPauseTime(50);
    THintHost* host = THintHost::Instance();
    host->SetHintHidePause(0);
    QVERIFY(controls.ShowActive());
    TNewHint* window = host->HintWindow();
    QVERIFY(!window->isVisible());

    const QPoint inButton = controls.withHint->rect().center();
    QTest::mouseMove(controls.top.windowHandle(),
                     controls.withHint->mapTo(&controls.top, inButton));
    QCOMPARE(host->HintControl(), controls.withHint);
    QTRY_VERIFY(window->isVisible());
    QCOMPARE(window->HintText(), QStringLiteral("Add Directory"));
    const QPoint cursor = controls.withHint->mapToGlobal(inButton);
    QCOMPARE(window->geometry().bottomLeft(), cursor + QPoint(0, -6));
    QVERIFY(!QToolTip::isVisible());

    // The framework's own tool-tip event for the control is swallowed.
    QHelpEvent help(QEvent::ToolTip, inButton, cursor);
    QApplication::sendEvent(controls.withHint, &help);
    QVERIFY(!QToolTip::isVisible());
}

void BalloonHintTest::leavingOrClickingHidesTheBalloon() {
    HintWindow controls;
    TBalloonHint hint(&controls.top);
    hint.SetHintPauseTime(50);
    THintHost* host = THintHost::Instance();
    host->SetHintHidePause(0);
    QVERIFY(controls.ShowActive());
    TNewHint* window = host->HintWindow();
    QWindow* handle = controls.top.windowHandle();
    const QPoint onHint = controls.withHint->geometry().center();

    QTest::mouseMove(handle, onHint);
    QTRY_VERIFY(window->isVisible());
    QTest::mouseMove(handle, controls.withoutHint->geometry().center());
    QVERIFY(!window->isVisible());
    QCOMPARE(host->HintControl(), nullptr);

    QTest::mouseMove(handle, onHint + QPoint(1, 0));
    QTRY_VERIFY(window->isVisible());
    QTest::mouseClick(handle, Qt::LeftButton, {}, onHint + QPoint(1, 0));
    QVERIFY(!window->isVisible());
}

void BalloonHintTest::withoutTheComponentTheStandardToolTipShows() {
    HintWindow controls;
    controls.top.show();
    QVERIFY(QTest::qWaitForWindowActive(&controls.top));
    {
        TBalloonHint hint(&controls.top);
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5),
                        controls.withHint->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(controls.withHint, &help);
        QVERIFY(!QToolTip::isVisible());
    }
    QCOMPARE(THintHost::Instance()->Balloon(), nullptr);
    QCOMPARE(THintHost::Instance()->HintWindow(), nullptr);
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), controls.withHint->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(controls.withHint, &help);
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QStringLiteral("Add Directory"));
}

QTEST_MAIN(BalloonHintTest)
#include "tst_balloonhint.moc"
