#include "overlay/scroll_dismiss_view.h"

#include "platform/scrolling/scroll_directions.h"

#include <QPointingDevice>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <set>

namespace {

// Devices whose driver scrolls naturally, by id; installed while alive.
class FakeScrollDirections final : public platform::ScrollDirections {
public:
    FakeScrollDirections() : previous_(setShared(this)) {}
    ~FakeScrollDirections() override { setShared(previous_); }
    bool isInvertedFromDevice(qint64 deviceId) override {
        ++reads;
        return natural.count(deviceId) > 0;
    }
    std::set<qint64> natural;
    int reads = 0;

private:
    platform::ScrollDirections* previous_;
};

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

TEST(ScrollDismissViewTest, AWheelEventIsReadInTheDirectionOfTheDeviceThatSentIt) {
    FakeScrollDirections directions;
    directions.natural = {12};
    const QPointingDevice touchpad(QStringLiteral("touchpad"), 12, QInputDevice::DeviceType::TouchPad,
                                   QPointingDevice::PointerType::Finger, QInputDevice::Capability::Scroll, 2, 0);
    const QPointingDevice mouse(QStringLiteral("mouse"), 13, QInputDevice::DeviceType::Mouse,
                                QPointingDevice::PointerType::Generic, QInputDevice::Capability::Scroll, 1, 3);
    // A scroll of one wheel notch, down (negative) or up, from `device`; `inverted` as Qt reports it.
    const auto wheel = [](int notches, const QPointingDevice& device, bool inverted = false) {
        return QWheelEvent(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                           Qt::NoModifier, Qt::NoScrollPhase, inverted, Qt::MouseEventNotSynthesized, &device);
    };
    int calls = 0;
    const ScrollDismissView view{true, [&calls] { ++calls; }};
    // Fingers up on the naturally scrolling touchpad arrive as a scroll down: that dismisses.
    EXPECT_TRUE(view.scrollWheel(wheel(-1, touchpad)));
    EXPECT_FALSE(view.scrollWheel(wheel(1, touchpad)));
    // The wheel of the other device keeps its own direction.
    EXPECT_TRUE(view.scrollWheel(wheel(1, mouse)));
    EXPECT_FALSE(view.scrollWheel(wheel(-1, mouse)));
    // Where Qt says the event is inverted, that counts too.
    EXPECT_TRUE(view.scrollWheel(wheel(-1, mouse, true)));
    EXPECT_EQ(calls, 3);

    // A scroll that cannot dismiss asks the device nothing.
    const int reads = directions.reads;
    const ScrollDismissView disabled{false, {}};
    EXPECT_FALSE(disabled.scrollWheel(wheel(-1, touchpad)));
    EXPECT_EQ(directions.reads, reads);
}

}  // namespace
