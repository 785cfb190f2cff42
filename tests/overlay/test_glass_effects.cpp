#include "overlay/glass_hover_glow.h"
#include "overlay/glass_specular_highlight.h"
#include "overlay/liquid_glass_modifier.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

using Clock = platform::Scheduler::Clock;

QImage render(QSize size, const std::function<void(QPainter&)>& draw) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    draw(painter);
    return image;
}

TEST(SpecularHighlightTest, SweepsEverySixSecondsFromTheReferenceDate) {
    const auto reference = Clock::time_point(std::chrono::seconds(978307200));
    EXPECT_DOUBLE_EQ(SpecularHighlightView::phase(reference), 0.0);
    EXPECT_DOUBLE_EQ(SpecularHighlightView::phase(reference + std::chrono::milliseconds(1500)), 0.25);
    EXPECT_NEAR(SpecularHighlightView::phase(reference + std::chrono::milliseconds(6000 * 1000 + 4500)), 0.75, 1e-9);

    const auto g = SpecularHighlightView::geometry(QSizeF(400, 80), 0.25);
    EXPECT_EQ(g.centre, QPointF(100, 24));
    EXPECT_EQ(g.endRadius, 48);

    // A ring: clear at the centre, brightest half-way out, clear again at the end radius.
    const QImage image = render(QSize(400, 80), [](QPainter& p) {
        SpecularHighlightView{Qt::white, 0.15}.paint(p, QRectF(0, 0, 400, 80), 0.25);
    });
    EXPECT_LE(qAlpha(image.pixel(100, 24)), 2);
    EXPECT_NEAR(qAlpha(image.pixel(124, 24)), 0.15 * 255, 3);
    EXPECT_EQ(qAlpha(image.pixel(160, 24)), 0);
}

TEST(HoverGlowTest, DrawsOnlyBetweenEnterAndExitAroundThePointer) {
    HoverEdgeGlowView glow(Qt::white, 0.4);
    EXPECT_EQ(HoverEdgeGlowView::glowRadius(QSizeF(340, 64)), 32);

    glow.mouseMoved(QPointF(50, 30));  // before any enter: moves, draws nothing
    EXPECT_EQ(glow.mouseLocation, QPointF(50, 30));
    auto alphaAt = [&glow](QPoint p) {
        return qAlpha(render(QSize(340, 64), [&glow](QPainter& painter) {
                          glow.paint(painter, QRectF(0, 0, 340, 64));
                      }).pixel(p));
    };
    EXPECT_EQ(alphaAt(QPoint(50, 30)), 0);

    glow.mouseEntered();
    EXPECT_NEAR(alphaAt(QPoint(50, 30)), 0.4 * 255, 2);
    EXPECT_EQ(alphaAt(QPoint(50 + 33, 30)), 0);
    glow.mouseExited();
    EXPECT_EQ(alphaAt(QPoint(50, 30)), 0);
}

TEST(HoverGlowTest, HostPointerTrackingUsesTheOneTrackingArea) {
    HoverEdgeGlowView glow;
    glow.updateTrackingAreas(QRectF(0, 0, 100, 50));
    glow.updateTrackingAreas(QRectF(0, 0, 200, 50));  // a resize replaces the area
    EXPECT_EQ(glow.trackingArea, QRectF(0, 0, 200, 50));

    EXPECT_TRUE(glow.trackPointer(QPointF(150, 10)));
    EXPECT_TRUE(glow.isHovering);
    EXPECT_EQ(glow.mouseLocation, QPointF(150, 10));
    glow.trackPointer(QPointF(250, 10));
    EXPECT_FALSE(glow.isHovering);
    glow.trackPointer(QPointF(20, 20));
    EXPECT_TRUE(glow.trackPointer(std::nullopt));
    EXPECT_FALSE(glow.isHovering);
}

TEST(LiquidGlassTest, TintsWithTheAccentWhenThereIsOne) {
    LiquidGlassModifier glass{20, QColor(0, 0, 0), std::nullopt, false};
    EXPECT_EQ(glass.glassColor(), QColor(0, 0, 0));
    EXPECT_EQ(glass.shadows()[1].color, QColor::fromRgbF(0, 0, 0, 0.15f));
    EXPECT_NEAR(glass.glowColor().alphaF(), 0.3, 1e-4);

    glass.accentColor = QColor(200, 40, 40);
    EXPECT_EQ(glass.glassColor(), QColor(200, 40, 40));
    EXPECT_EQ(glass.glowColor().rgb(), QColor(200, 40, 40).rgb());
    EXPECT_EQ(glass.shadows()[1].color.rgb(), QColor(200, 40, 40).rgb());
    EXPECT_EQ(glass.shadows()[0].radius, 25);
    EXPECT_EQ(glass.shadows()[0].offset, QPointF(0, 10));
}

TEST(LiquidGlassTest, SquareTopCornersOnlyWhenAsked) {
    const QRectF rect(0, 0, 400, 80);
    LiquidGlassModifier glass{20, Qt::black, std::nullopt, false};
    EXPECT_TRUE(glass.glassShape(rect).contains(QPointF(0.5, 0.5)));
    EXPECT_TRUE(glass.glassShape(rect).contains(QPointF(399.5, 0.5)));
    EXPECT_FALSE(glass.glassShape(rect).contains(QPointF(1, 79)));
    EXPECT_FALSE(glass.glassShape(rect).contains(QPointF(399, 79)));

    glass.topCornersRounded = true;
    EXPECT_FALSE(glass.glassShape(rect).contains(QPointF(1, 1)));
    EXPECT_FALSE(glass.glassShape(rect).contains(QPointF(399, 1)));
}

TEST(LiquidGlassTest, HoverGlowFollowsThePointerInsideTheGlass) {
    LiquidGlassModifier glass{20, Qt::black, QColor(255, 0, 0), false};
    const QRectF card(20, 20, 400, 80);
    auto draw = [&](HoverEdgeGlowView& glow) {
        return render(QSize(440, 140), [&](QPainter& p) { glass.paintBackground(p, card, 0.0, glow); });
    };
    HoverEdgeGlowView idle;
    HoverEdgeGlowView hovering;
    hovering.mouseEntered();
    hovering.mouseMoved(QPointF(300, 40));
    const QImage without = draw(idle);
    const QImage with = draw(hovering);
    // Red glow at the pointer, nothing changed far from it.
    EXPECT_GT(qRed(with.pixel(320, 60)), qRed(without.pixel(320, 60)) + 30);
    EXPECT_EQ(with.pixel(60, 60), without.pixel(60, 60));
}

}  // namespace
