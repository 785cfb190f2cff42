#include "notch/notch_aware_shape.h"

#include <gtest/gtest.h>

#include <QList>
#include <QPointF>

namespace {

// The points the outline passes through, in order (curve control points left out).
QList<QPointF> vertices(const QPainterPath& path) {
    QList<QPointF> points;
    for (int i = 0; i < path.elementCount(); ++i) {
        const auto element = path.elementAt(i);
        if (element.isMoveTo() || element.isLineTo()) {
            points << QPointF(element);
        } else if (element.isCurveTo()) {
            points << QPointF(path.elementAt(i + 2));
            i += 2;
        }
    }
    return points;
}

}  // namespace

TEST(NotchAwareShapeTest, OutlineOfATypicalSurface) {
    const QPainterPath path = NotchAwareShape{16, NotchInfo{}}.path(QRectF(0, 0, 276, 32));
    const QList<QPointF> expected{{0, 0},   {6, 6},   {6, 16}, {22, 32}, {254, 32},
                                  {270, 16}, {270, 6}, {276, 0}, {0, 0}};
    EXPECT_EQ(vertices(path), expected);

    // Quadratic flares and corners: the left flare's control point is on the top edge 6 points
    // in, the bottom-left corner's at the bottom-left of the inset side (as cubic controls,
    // two thirds of the way from each end toward it).
    ASSERT_TRUE(path.elementAt(1).isCurveTo());
    EXPECT_EQ(QPointF(path.elementAt(1)), QPointF(4, 0));
    EXPECT_EQ(QPointF(path.elementAt(2)), QPointF(6, 2));
    ASSERT_TRUE(path.elementAt(5).isCurveTo());
    EXPECT_EQ(QPointF(path.elementAt(5)), QPointF(6, 16 + 16 * 2.0 / 3.0));
    EXPECT_EQ(QPointF(path.elementAt(6)), QPointF(6 + 16 / 3.0, 32));
}

TEST(NotchAwareShapeTest, RadiusIsUsedUnclampedAndOffsetsFollowTheRectangle) {
    // A radius of 24 leaves sides of only 2 points; 40 runs them upwards, past the flares.
    auto sides = [](double radius) {
        const auto points = vertices(NotchAwareShape{radius, NotchInfo{}}.path(QRectF(0, 0, 100, 32)));
        return std::pair(points[1].y(), points[2].y());
    };
    EXPECT_EQ(sides(24), std::pair(6.0, 8.0));
    EXPECT_EQ(sides(40), std::pair(6.0, -8.0));

    const auto moved = vertices(NotchAwareShape{8, NotchInfo{}}.path(QRectF(10, 20, 100, 40)));
    EXPECT_EQ(moved.first(), QPointF(10, 20));
    EXPECT_EQ(moved[3], QPointF(24, 60));
    EXPECT_EQ(moved[6], QPointF(104, 26));
}

TEST(NotchAwareShapeTest, NotchGeometryDoesNotShapeTheOutlineAndRadiusIsNotAnimated) {
    const QRectF rect(0, 0, 200, 40);
    const NotchAwareShape plain{12, NotchInfo{}};
    NotchAwareShape notched{12, NotchInfo{185, 32, true}};
    EXPECT_EQ(plain.path(rect), notched.path(rect));

    EXPECT_EQ(notched.animatableData(), std::pair(6.0, 12.0));
    notched.setAnimatableData({0, 3});
    EXPECT_EQ(notched.animatableData(), std::pair(6.0, 12.0));
    EXPECT_EQ(notched.path(rect), plain.path(rect));
}
