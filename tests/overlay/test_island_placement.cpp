#include "overlay/island_metrics.h"
#include "overlay/island_placement.h"
#include "support/fake_screens.h"

#include <gtest/gtest.h>

using platform::ScreenInfo;
using testsupport::notchedScreen;
using testsupport::plainScreen;

namespace {

OverlayState stateWith(bool visible, IslandMode mode, int count = 1) {
    return OverlayState{visible, mode, count, QDateTime(), std::nullopt, std::nullopt, std::nullopt, std::nullopt};
}

const ScreenInfo kNotched = notchedScreen(0, 0, 1512, 982, 32, 662, 662, 1);
const ScreenInfo kExternal = plainScreen(1512, 0, 1920, 1080, 25, 2);

}  // namespace

TEST(IslandMetrics, TableAndPanelSizes) {
    using M = IslandMetrics;
    EXPECT_EQ(M::metrics(IslandMode::peek, OverlayStyle::splitPill, true), (M{90, 70, 36, 250}));

    struct Row {
        OverlayStyle style;
        QSizeF peek, expanded, stacked;
    };
    const std::vector<Row> rows{
        {OverlayStyle::singlePill, {186, 42}, {326, 42}, {266, 42}},
        {OverlayStyle::splitPill, {256, 42}, {376, 42}, {336, 42}},
        {OverlayStyle::notchSheet, {326, 78}, {386, 78}, {386, 78}},
        {OverlayStyle::liquidGlass, {346, 86}, {406, 86}, {406, 86}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(M::panelSize(stateWith(true, IslandMode::peek), row.style), row.peek);
        EXPECT_EQ(M::panelSize(stateWith(true, IslandMode::expanded), row.style), row.expanded);
        EXPECT_EQ(M::panelSize(stateWith(true, IslandMode::stacked), row.style), row.stacked);
    }
    // A hidden state is measured as a fresh one.
    EXPECT_EQ(M::panelSize(stateWith(false, IslandMode::stacked, 5), OverlayStyle::splitPill), QSizeF(256, 42));
}

TEST(IslandPlacement, EndFramesHangBelowTheNotchOrMenuBarAndBelowTallerNotchModes) {
    using P = IslandPlacement;
    const auto anchor = P::WindowAnchor::belowNotch;
    EXPECT_EQ(P::notchCenterX(kNotched), 756.0);
    EXPECT_EQ(P::framesForDisplay(kNotched, 326, 42, anchor, NotchMode::idle).endFrame, QRectF(593, 908, 326, 42));
    EXPECT_EQ(P::framesForDisplay(kNotched, 326, 42, anchor, NotchMode::expanded).endFrame,
              QRectF(593, 765, 326, 42));
    EXPECT_EQ(P::framesForDisplay(kNotched, 326, 42, anchor, NotchMode::liveActivity(LiveActivityType::volume)).endFrame,
              QRectF(593, 908, 326, 42));  // the notch inset is already lower than 32
    // Below the panels of the glance (200 tall), the drop zone (180) and the switcher (160).
    EXPECT_EQ(P::framesForDisplay(kNotched, 326, 42, anchor, NotchMode::glance).endFrame.y(), 982 - 200 - 42);
    EXPECT_EQ(P::framesForDisplay(kNotched, 326, 42, anchor, NotchMode::drop).endFrame.y(), 982 - 180 - 42);
    EXPECT_EQ(P::framesForDisplay(kNotched, 326, 42, anchor, NotchMode::switcher).endFrame.y(), 982 - 160 - 42);
    EXPECT_EQ(P::framesForDisplay(kExternal, 326, 42, anchor, NotchMode::idle).endFrame, QRectF(2309, 1013, 326, 42));
    // Halves round away from zero.
    EXPECT_EQ(P::framesForDisplay(kExternal, 325, 42, anchor, NotchMode::idle).endFrame.x(), 2310.0);

    // A notch inset without auxiliary areas hangs below the inset but centres on the screen.
    ScreenInfo odd = kNotched;
    odd.auxiliaryTopRightArea.reset();
    odd.frame.moveLeft(10);
    EXPECT_FALSE(P::notchCenterX(odd));
    EXPECT_EQ(P::framesForDisplay(odd, 326, 42, anchor, NotchMode::idle).endFrame, QRectF(603, 908, 326, 42));
}

TEST(IslandPlacement, CollapsedStripSitsInsideTheNotch) {
    using P = IslandPlacement;
    const QRectF strip = P::collapsedOverlayFrame(kNotched, 593, 326, 42);
    EXPECT_NEAR(strip.y(), 962.6, 1e-9);
    EXPECT_NEAR(strip.height(), 10.5, 1e-12);
    EXPECT_EQ(strip.x(), 593);
    EXPECT_EQ(strip.width(), 326);
    EXPECT_EQ(P::collapsedOverlayFrame(kNotched, 0, 10, 5).height(), 2);
    EXPECT_EQ(P::collapsedOverlayFrame(kNotched, 0, 10, 2.5).height(), 2);
    // Tall sources are lifted at most 42 points and never above the screen's top less 2.
    const QRectF tall = P::collapsedOverlayFrame(kNotched, 0, 10, 200);
    EXPECT_NEAR(tall.y() + tall.height(), 980, 1e-9);
}

TEST(IslandPlacement, TargetScreensFollowTheSetting) {
    using P = IslandPlacement;
    ScreenInfo external = kExternal;
    const ScreenInfo unnumberedBuiltIn = notchedScreen(0, 0, 1512, 982, 32, 662, 662, std::nullopt);
    const std::vector<ScreenInfo> screens{external, kNotched};
    int asked = 0;
    const auto at = [&asked](QPointF point) {
        return [&asked, point] {
            ++asked;
            return point;
        };
    };
    const auto onExternal = at(QPointF(2000, 500));
    const auto nowhere = at(QPointF(-50, -50));

    EXPECT_EQ(P::targetScreens(NotificationDisplayScreen::main, screens, nowhere), std::vector<ScreenInfo>{kNotched});
    EXPECT_EQ(P::targetScreens(NotificationDisplayScreen::main, {external, unnumberedBuiltIn}, nowhere),
              std::vector<ScreenInfo>{external});
    EXPECT_EQ(P::targetScreens(NotificationDisplayScreen::current, screens, onExternal),
              std::vector<ScreenInfo>{external});
    EXPECT_EQ(P::targetScreens(NotificationDisplayScreen::current, {kNotched, external}, nowhere),
              std::vector<ScreenInfo>{kNotched});
    EXPECT_EQ(P::targetScreens(NotificationDisplayScreen::all, screens, nowhere), screens);
    EXPECT_TRUE(P::targetScreens(NotificationDisplayScreen::all, {}, nowhere).empty());
    // The pointer is read only where it picks among screens.
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(P::targetScreens(NotificationDisplayScreen::current, {external}, nowhere), std::vector<ScreenInfo>{external});
    EXPECT_EQ(asked, 2);
}
