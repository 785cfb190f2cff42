#include "platform/screens/qt_screens.h"
#include "platform/screens/screen_geometry.h"
#include "support/fake_screens.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

using namespace platform;

TEST(SimulatedNotchTest, ParsesOnlyPositiveSizes) {
    EXPECT_EQ(parseSimulatedNotch(QStringLiteral("200x32")), QSizeF(200, 32));
    EXPECT_EQ(parseSimulatedNotch(QStringLiteral(" 185.5X37 ")), QSizeF(185.5, 37));
    for (const char* bad : {"", "200", "x32", "200x", "0x32", "200x0", "-200x32", "200x32x1", "wide x tall", "1e3x5"}) {
        EXPECT_FALSE(parseSimulatedNotch(QString::fromLatin1(bad)).has_value()) << bad;
    }
}

TEST(SimulatedNotchTest, CentresTheNotchBetweenTwoAreas) {
    ScreenInfo screen = testsupport::plainScreen(100, 50, 1512, 982, 24);
    applySimulatedNotch(screen, QSizeF(200, 32));

    EXPECT_DOUBLE_EQ(screen.safeAreaTopInset, 32);
    EXPECT_EQ(screen.auxiliaryTopLeftArea, QRectF(100, 1000, 656, 32));
    EXPECT_EQ(screen.auxiliaryTopRightArea, QRectF(956, 1000, 656, 32));
    EXPECT_DOUBLE_EQ(frameTop(screen.visibleFrame), 1000);  // the menu bar is as tall as the notch
    EXPECT_TRUE(screen.isBuiltIn);

    // A notch wider than the screen leaves empty areas, never negative ones.
    ScreenInfo narrow = testsupport::plainScreen(0, 0, 100, 100);
    applySimulatedNotch(narrow, QSizeF(300, 20));
    EXPECT_DOUBLE_EQ(narrow.auxiliaryTopLeftArea->width(), 0);
    EXPECT_DOUBLE_EQ(narrow.auxiliaryTopRightArea->width(), 0);
}

TEST(QtScreensTest, ReportsPrimaryFirstWithStableNumbers) {
    QtScreens plain{std::nullopt};
    const std::vector<ScreenInfo> screens = plain.screens();
    ASSERT_FALSE(screens.empty());
    EXPECT_EQ(plain.mainScreen(), screens.front());
    EXPECT_EQ(screens.front().frame.topLeft(), QPointF(0, 0));  // global origin is the primary screen
    EXPECT_DOUBLE_EQ(screens.front().safeAreaTopInset, 0);
    EXPECT_FALSE(screens.front().auxiliaryTopLeftArea.has_value());
    ASSERT_TRUE(screens.front().displayNumber.has_value());
    EXPECT_EQ(plain.screens().front().displayNumber, screens.front().displayNumber);
    EXPECT_EQ(plain.primaryQtGeometry(), QRectF(QGuiApplication::primaryScreen()->geometry()));

    QtScreens notched{QSizeF(200, 32)};
    const std::optional<ScreenInfo> main = notched.mainScreen();
    ASSERT_TRUE(main.has_value());
    EXPECT_DOUBLE_EQ(main->safeAreaTopInset, 32);
    EXPECT_DOUBLE_EQ(main->frame.width() - main->auxiliaryTopLeftArea->width() - main->auxiliaryTopRightArea->width(),
                     200);
}

TEST(FakeScreensTest, FindsTheScreenUnderThePointer) {
    testsupport::FakeScreens fake;
    fake.screenList = {testsupport::notchedScreen(0, 0, 1512, 982, 32, 662, 662, 1),
                       testsupport::plainScreen(1512, 0, 1920, 1080, 25, 2)};
    fake.mouse = QPointF(2000, 500);
    EXPECT_EQ(Screens::shared().screenContainingMouse()->displayNumber, 2u);
    fake.mouse = QPointF(-10, 500);
    EXPECT_FALSE(Screens::shared().screenContainingMouse().has_value());

    // Conversion goes through the primary screen: the top strip of the notched display.
    EXPECT_EQ(Screens::shared().toQt(QRectF(593, 908, 326, 42)), QRectF(593, 32, 326, 42));
}

TEST(ScreenGeometryTest, PrimaryScreenAtQtOrigin) {
    // The primary screen itself, and an overlay hanging 32 points below its top edge.
    const QRectF primary(0, 0, 1512, 982);
    EXPECT_EQ(toQtRect(primary, primary), primary);
    EXPECT_EQ(toQtRect(QRectF(593, 908, 326, 42), primary), QRectF(593, 32, 326, 42));
    EXPECT_EQ(fromQtRect(QRectF(593, 32, 326, 42), primary), QRectF(593, 908, 326, 42));

    // A screen above the primary one has negative Qt y; one to the right keeps its x.
    EXPECT_EQ(toQtRect(QRectF(0, 982, 1920, 1080), primary), QRectF(0, -1080, 1920, 1080));
    EXPECT_EQ(fromQtRect(QRectF(1512, -98, 1920, 1080), primary), QRectF(1512, 0, 1920, 1080));
    EXPECT_EQ(fromQtPoint(QPointF(756, 0), primary), QPointF(756, 982));
}

TEST(ScreenGeometryTest, PrimaryScreenAwayFromQtOrigin) {
    // Qt places the primary screen right of and below another one.
    const QRectF primary(1920, 200, 1512, 982);
    EXPECT_EQ(fromQtRect(primary, primary), QRectF(0, 0, 1512, 982));
    EXPECT_EQ(fromQtRect(QRectF(0, 0, 1920, 1080), primary), QRectF(-1920, 102, 1920, 1080));
    EXPECT_EQ(fromQtPoint(QPointF(1920, 1182), primary), QPointF(0, 0));
    for (const QRectF& rect : {QRectF(0, 0, 10, 10), QRectF(-1920, 102, 1920, 1080), QRectF(12.5, 7.25, 3.5, 0)}) {
        EXPECT_EQ(fromQtRect(toQtRect(rect, primary), primary), rect);
    }
}
