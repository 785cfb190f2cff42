// Where the overlay exists on screen. Without a compositor the window system shows a window's
// clear pixels black, so the overlay's window is cut to the pixels its pills or card draw.

#include "drawn_pixels.h"
#include "test_island_view_fixture.h"

#include "core/l10n.h"
#include "platform/window_shape/input_region.h"
#include "platform/window_shape/window_shape.h"
#include "support/fake_compositor.h"
#include "support/service_fixtures.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <string>

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

// The card is clipped to its frame, and scaled the clip scales with it: shrunk in a window larger
// than its frame, the glass card's shadows, which reach the frame's edges, draw no pixel whose
// centre lies beyond the scaled frame.
TEST_F(IslandShapeTest, AShrunkCardDrawsNothingBeyondItsScaledFrame) {
    compositor.set(true);
    showStyle(QStringLiteral("liquidGlass"));
    view().resize(view().sizeHint() + QSize(80, 80));
    bus.overlayDismissSubject.send();
    at(scheduler().elapsed() + 3.0);
    const double scale = IslandView::shrunkScale;
    ASSERT_EQ(view().contentScaleY().value(), scale);
    // Scaled about its top centre.
    const QRectF frame = view().frameRect();
    const QRectF scaled(frame.center().x() - frame.width() * scale / 2, frame.top(), frame.width() * scale,
                        frame.height() * scale);
    const QRect centresInside(QPoint(int(std::ceil(scaled.left() - 0.5)), int(std::ceil(scaled.top() - 0.5))),
                              QPoint(int(std::floor(scaled.right() - 0.5)), int(std::floor(scaled.bottom() - 0.5))));
    const QRegion drawn = drawnPixels(rendered(view()));
    ASSERT_FALSE(drawn.isEmpty());
    const QRect beyond = (drawn - centresInside).boundingRect();
    EXPECT_TRUE(beyond.isEmpty()) << "drawn beyond it within " << beyond.width() << "x" << beyond.height() << "+"
                                  << beyond.x() << "+" << beyond.y();
}

// Without a compositor the panel's window is cut to its card, a point to spare around it left
// out. Shown again in a new native window (Qt makes one where it must, as when a window's flags
// change), which starts whole, it is cut again.
TEST(IslandPanelShape, APanelShownInANewNativeWindowIsCutToItsCardAgain) {
    QString error;
    const auto x = testsupport::PrivateXServer::start(QStringLiteral("1024x768x24"), &error);
    if (!x) QUILLVEX_SERVICE_MISSING("no X server: " << error.toStdString());
    QTemporaryDir home;
    QProcess host;
    host.setProcessEnvironment(testsupport::xcbProgramEnvironment(x->display(), home.path()));
    testsupport::dieWithTest(host);
    host.start(QStringLiteral(QUILLVEX_PANEL_HOST));
    // "window ID WxH shape X,Y,W,H ...", after each show.
    const auto shown = [&host] {
        for (QDeadlineTimer deadline(20000); !host.canReadLine() && !deadline.hasExpired();) host.waitForReadyRead(100);
        return QString::fromUtf8(host.readLine()).trimmed().split(u' ');
    };
    const QStringList first = shown();
    ASSERT_EQ(first.value(0).toStdString(), "window") << host.readAllStandardError().toStdString();
    EXPECT_EQ(first.mid(2).join(u' ').toStdString(), "202x42 shape 1,1,200,40");

    host.write("again\n");
    const QStringList again = shown();
    ASSERT_EQ(again.value(0).toStdString(), "window") << host.readAllStandardError().toStdString();
    EXPECT_NE(again.value(1), first.value(1)) << "a new native window";
    EXPECT_EQ(again.mid(2).join(u' ').toStdString(), first.mid(2).join(u' ').toStdString());
    host.closeWriteChannel();
    EXPECT_TRUE(host.waitForFinished(10000));
}

}  // namespace
}  // namespace overlaytest
