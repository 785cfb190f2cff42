#include "platform/screens/screen_geometry.h"

#include <gtest/gtest.h>

using namespace platform;

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
