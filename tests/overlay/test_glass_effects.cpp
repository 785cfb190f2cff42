#include "overlay/glass_blur.h"
#include "overlay/glass_hover_glow.h"
#include "overlay/glass_specular_highlight.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

QImage render(QSize size, const std::function<void(QPainter&)>& draw) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    draw(painter);
    return image;
}

TEST(SpecularHighlightTest, SweepsEverySixSecondsFromTheReferenceDate) {
    const auto reference = platform::Scheduler::Clock::time_point(std::chrono::seconds(978307200));
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
    auto alphaAt = [&glow](QPoint p) {
        return qAlpha(render(QSize(340, 64), [&glow](QPainter& painter) {
                          glow.paint(painter, QRectF(0, 0, 340, 64));
                      }).pixel(p));
    };

    glow.mouseMoved(QPointF(50, 30));  // before any enter: moves, draws nothing
    EXPECT_EQ(alphaAt(QPoint(50, 30)), 0);
    glow.mouseEntered();
    EXPECT_NEAR(alphaAt(QPoint(50, 30)), 0.4 * 255, 2);
    EXPECT_EQ(alphaAt(QPoint(50 + 33, 30)), 0);
    glow.mouseExited();
    EXPECT_EQ(alphaAt(QPoint(50, 30)), 0);

    // The host derives enter and exit from the one tracking area, replaced on a resize.
    glow.updateTrackingAreas(QRectF(0, 0, 100, 50));
    glow.updateTrackingAreas(QRectF(0, 0, 200, 50));
    glow.trackPointer(QPointF(150, 10));
    EXPECT_TRUE(glow.isHovering);
    glow.trackPointer(QPointF(250, 10));
    EXPECT_FALSE(glow.isHovering);
    glow.trackPointer(QPointF(20, 20));
    glow.trackPointer(std::nullopt);
    EXPECT_FALSE(glow.isHovering);
}

// A shape is drawn into the picture its blur starts from with smooth edges: with no blur to soften
// them, a blurred fill and a shadow of what a caller draws are the shape as a plain antialiased fill
// draws it, not a jagged one.
TEST(GlassBlurTest, TheShapeABlurStartsFromHasSmoothEdges) {
    QPainterPath disc;
    disc.addEllipse(QRectF(4, 4, 24, 24));
    const QImage plain = render(QSize(32, 32), [&disc](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(disc, Qt::black);
    });
    const QImage fill = render(QSize(32, 32), [&disc](QPainter& p) { glass::paintBlurredFill(p, disc, Qt::black, 0); });
    const QImage shadow = render(QSize(32, 32), [&disc](QPainter& p) {
        glass::paintShadowOf(p, disc.boundingRect(), [&disc](QPainter& q) { q.fillPath(disc, Qt::black); }, Qt::black, 0,
                             QPointF());
    });
    for (const auto& [name, image] : {std::pair{"fill", &fill}, {"shadow", &shadow}}) {
        int worst = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x)
                worst = std::max(worst, std::abs(qAlpha(image->pixel(x, y)) - qAlpha(plain.pixel(x, y))));
        }
        EXPECT_LE(worst, 1) << name;
    }
}

}  // namespace
