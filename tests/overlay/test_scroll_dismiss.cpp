#include "overlay/scroll_dismiss_view.h"

#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

struct Case {
    double deltaY;
    bool natural;
    bool dismisses;
};

TEST(ScrollDismissViewTest, OnlyAnUpwardScrollOfHalfAPointDismisses) {
    const Case cases[] = {
        {0.4, false, false}, {-0.4, false, false}, {0.5, false, true},  {-0.5, false, false},
        {3, false, true},    {-3, false, false},   {-3, true, true},    {3, true, false},
        {0, false, false},   {0, true, false},     {-0.5, true, true},  {-0.49, true, false},
    };
    for (const Case& c : cases) {
        int calls = 0;
        ScrollDismissView view{true, [&calls] { ++calls; }};
        EXPECT_EQ(view.scrollWheel(c.deltaY, c.natural), c.dismisses) << c.deltaY << " natural " << c.natural;
        EXPECT_EQ(calls, c.dismisses ? 1 : 0) << c.deltaY;
    }
}

TEST(ScrollDismissViewTest, DisabledPassesEverythingOnAndNoActionStillSwallows) {
    int calls = 0;
    ScrollDismissView disabled{false, [&calls] { ++calls; }};
    EXPECT_FALSE(disabled.scrollWheel(5, false));
    EXPECT_FALSE(disabled.scrollWheel(-5, true));
    EXPECT_EQ(calls, 0);

    ScrollDismissView noAction{true, {}};
    EXPECT_TRUE(noAction.scrollWheel(1, false));
}

TEST(ScrollDismissViewTest, ReadsPixelDeltaFirstThenWheelNotches) {
    auto event = [](QPoint pixel, QPoint angle, bool inverted) {
        return QWheelEvent(QPointF(5, 5), QPointF(5, 5), pixel, angle, Qt::NoButton, Qt::NoModifier, Qt::ScrollUpdate,
                           inverted);
    };
    EXPECT_EQ(ScrollDismissView::scrollingDeltaY(event(QPoint(0, 4), QPoint(0, 480), false)), 4);
    EXPECT_EQ(ScrollDismissView::scrollingDeltaY(event(QPoint(), QPoint(0, 60), false)), 0.5);
    EXPECT_EQ(ScrollDismissView::scrollingDeltaY(event(QPoint(), QPoint(0, -48), false)), -0.4);

    int calls = 0;
    ScrollDismissView view{true, [&calls] { ++calls; }};
    EXPECT_TRUE(view.scrollWheel(event(QPoint(), QPoint(0, -120), true)));
    EXPECT_FALSE(view.scrollWheel(event(QPoint(), QPoint(0, -120), false)));
    EXPECT_EQ(calls, 1);
}

}  // namespace
