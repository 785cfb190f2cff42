// Where the overlay exists on screen. Without a compositor the window system shows a window's
// clear pixels black, so the overlay's window is cut to the pixels its pills or card draw.

#include "drawn_pixels.h"
#include "test_island_view_fixture.h"

#include "core/l10n.h"
#include "platform/window_shape/input_region.h"
#include "platform/window_shape/window_shape.h"
#include "support/fake_compositor.h"

namespace overlaytest {
namespace {

class IslandShapeTest : public IslandViewTest {
protected:
    void SetUp() override { defaults().set(L10n::languageKey, L10n::languageEnglish); }

    // `style` at rest, its view as large as the window the controller gives it.
    void showStyle(const QString& style, IslandMode mode = IslandMode::expanded) {
        setStyle(style);
        send(visible(QStringLiteral("Build finished \u2022 All 12 targets are up to date"), QStringLiteral("Chat"), mode));
        at(scheduler().elapsed() + 3.0);
        view().resize(view().sizeHint());
    }
    // The view's shape in device pixels at `ratio`, as the window takes it.
    QRegion shape(qreal ratio) { return view().drawnPixels(ratio, QPoint()); }

    testsupport::FakeCompositor compositor{false};
};

TEST_F(IslandShapeTest, TheShapeIsEveryPixelEachStyleDrawsAtEitherPixelRatio) {
    for (const char* style : {"singlePill", "splitPill", "notchSheet", "liquidGlass"}) {
        for (const IslandMode mode : {IslandMode::peek, IslandMode::expanded}) {
            showStyle(QString::fromLatin1(style), mode);
            for (const qreal ratio : {1.0, 2.0}) {
                const QRegion drawn = drawnPixels(rendered(view(), ratio));
                EXPECT_TRUE((shape(ratio) ^ drawn).isEmpty()) << style << " " << caseName(mode).toStdString() << " @" << ratio << "x: "
                                               << (shape(ratio) - drawn).rectCount() << " shape rectangles undrawn, "
                                               << (drawn - shape(ratio)).rectCount() << " drawn outside";
            }
        }
    }
}

TEST_F(IslandShapeTest, TheSplitPillsShapeIsTwoCapsulesWithTheNotchBetweenThem) {
    showStyle(QStringLiteral("splitPill"));
    // Pills of 150 × 36 at x 3 and 223 in a frame of 376 × 42.
    for (const qreal ratio : {1.0, 2.0}) {
        const QRegion pixels = shape(ratio);
        const auto at = [ratio](double x, double y) { return QPoint(int(x * ratio), int(y * ratio)); };
        EXPECT_EQ(pixels.boundingRect(), QRect(at(3, 3), QSize(370, 36) * ratio));
        EXPECT_TRUE(pixels.contains(at(78, 21)));
        EXPECT_TRUE(pixels.contains(at(298, 21)));
        for (const double x : {154.0, 188.0, 222.0}) EXPECT_FALSE(pixels.contains(at(x, 21))) << x;  // the notch
        // The capsules' round ends: nothing at the frame's corners, all along the middle.
        EXPECT_FALSE(pixels.contains(at(3, 3)));
        EXPECT_FALSE(pixels.contains(at(372, 38)));
        EXPECT_TRUE(pixels.contains(at(3, 21)));
        EXPECT_TRUE(pixels.contains(at(21, 3)));
        // What a frame draws of it, in points: the two capsules' boxes, whatever the ratio.
        EXPECT_EQ(platform::fromDevicePixels(platform::columnBounds(pixels), ratio),
                  QRegion(3, 3, 150, 36) + QRegion(223, 3, 150, 36));
    }
    // Columns that touch are one run.
    EXPECT_EQ(platform::columnBounds(QRegion(0, 0, 2, 2) + QRegion(2, 5, 2, 2)), QRegion(0, 0, 4, 7));
}

TEST_F(IslandShapeTest, TheGlassCardsShadowsAreDrawnOnlyWhileACompositorShowsThem) {
    showStyle(QStringLiteral("liquidGlass"));
    const QRegion card = platform::pixelsCovered(view().drawnOutline());
    EXPECT_TRUE((drawnPixels(rendered(view())) - card).isEmpty());
    // A compositor starts: the shadows fall below the card.
    compositor.set(true);
    const QRegion drawn = drawnPixels(rendered(view()));
    EXPECT_TRUE((drawn ^ shape(1)).isEmpty());
    EXPECT_GT(drawn.boundingRect().bottom(), card.boundingRect().bottom());
    compositor.set(false);
    EXPECT_TRUE((drawnPixels(rendered(view())) - card).isEmpty());
    EXPECT_TRUE((drawnPixels(rendered(view())) ^ shape(1)).isEmpty());
}

}  // namespace
}  // namespace overlaytest
