#include "overlay/scroll_dismiss_view.h"

#include <gtest/gtest.h>

namespace {

TEST(ScrollDismissViewTest, OnlyAnUpwardScrollOfHalfAPointDismisses) {
    struct Case {
        double deltaY;
        bool natural;
        bool dismisses;
    };
    const Case cases[] = {
        {0.4, false, false}, {-0.4, false, false}, {0.5, false, true}, {-0.5, false, false}, {-3, true, true},
        {3, true, false},    {0, false, false},    {0, true, false},   {-0.49, true, false},
    };
    for (const Case& c : cases) {
        int calls = 0;
        const ScrollDismissView view{true, [&calls] { ++calls; }};
        EXPECT_EQ(view.scrollWheel(c.deltaY, c.natural), c.dismisses) << c.deltaY << " natural " << c.natural;
        EXPECT_EQ(calls, c.dismisses ? 1 : 0) << c.deltaY;
    }

    int calls = 0;
    const ScrollDismissView disabled{false, [&calls] { ++calls; }};
    EXPECT_FALSE(disabled.scrollWheel(5, false));
    EXPECT_FALSE(disabled.scrollWheel(-5, true));
    EXPECT_EQ(calls, 0);
    // No action set: still swallowed.
    EXPECT_TRUE((ScrollDismissView{true, {}}.scrollWheel(1, false)));
}

}  // namespace
