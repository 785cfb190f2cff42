#include "platform/window_shape/bypass_window_events.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <xcb/xcb.h>

#include <memory>

namespace {

constexpr uint32_t kNetWmState = 77;
constexpr uint8_t kSent = 0x80;
constexpr WId kRoot = 0x7fffff;

xcb_property_notify_event_t propertyNotify(WId window, uint32_t atom, uint8_t state = XCB_PROPERTY_NEW_VALUE) {
    xcb_property_notify_event_t event{};
    event.response_type = XCB_PROPERTY_NOTIFY;
    event.window = static_cast<xcb_window_t>(window);
    event.atom = atom;
    event.state = state;
    return event;
}

xcb_configure_notify_event_t configureNotify(WId window, WId to = 0) {
    xcb_configure_notify_event_t event{};
    event.response_type = XCB_CONFIGURE_NOTIFY;
    event.event = static_cast<xcb_window_t>(to ? to : window);
    event.window = static_cast<xcb_window_t>(window);
    event.x = 10;
    event.y = -20;
    return event;
}

class BypassWindowEventsTest : public ::testing::Test {
protected:
    BypassWindowEventsTest() {
        filter.add(*bypassing);
        filter.add(managed);
    }
    // Whether the filter drops `event`; `event` as Qt then gets it.
    template <typename Event>
    bool drops(Event& event, const QByteArray& type = "xcb_generic_event_t") {
        return filter.nativeEventFilter(type, &event, nullptr);
    }

    std::unique_ptr<QWidget> bypassing = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::BypassWindowManagerHint);
    QWidget managed{nullptr, Qt::Tool};
    QWidget other{nullptr, Qt::Tool | Qt::BypassWindowManagerHint};
    const WId id = bypassing->winId();
    platform::BypassWindowEvents filter{kNetWmState};
};

TEST_F(BypassWindowEventsTest, OnlyTheStateEchoesOfLiveWindowsThatBypassTheWindowManagerAreDropped) {
    ASSERT_NE(id, managed.winId());
    ASSERT_NE(id, other.winId());
    auto echo = propertyNotify(id, kNetWmState);
    EXPECT_TRUE(drops(echo));
    auto sent = propertyNotify(id, kNetWmState);
    sent.response_type |= kSent;
    EXPECT_TRUE(drops(sent));

    auto otherProperty = propertyNotify(id, kNetWmState + 1);
    auto deleted = propertyNotify(id, kNetWmState, XCB_PROPERTY_DELETE);
    auto managers = propertyNotify(managed.winId(), kNetWmState);
    auto notAdded = propertyNotify(other.winId(), kNetWmState);
    auto notX11 = propertyNotify(id, kNetWmState);
    EXPECT_FALSE(drops(otherProperty));
    EXPECT_FALSE(drops(deleted));
    EXPECT_FALSE(drops(managers));
    EXPECT_FALSE(drops(notAdded));
    EXPECT_FALSE(drops(notX11, "windows_generic_MSG"));

    bypassing.reset();
    auto gone = propertyNotify(id, kNetWmState);
    EXPECT_FALSE(drops(gone));
}

TEST_F(BypassWindowEventsTest, AConfigureOfAWindowThatBypassesTheWindowManagerIsPassedOnAsOneToTakeAsItIs) {
    auto own = configureNotify(id);
    EXPECT_FALSE(drops(own));
    EXPECT_EQ(own.response_type, XCB_CONFIGURE_NOTIFY | kSent);
    EXPECT_EQ(own.x, 10);
    EXPECT_EQ(own.y, -20);

    // A window a manager may have framed, one not added, the root's report of a child, another system's event.
    for (auto event : {configureNotify(managed.winId()), configureNotify(other.winId()), configureNotify(id, kRoot)}) {
        EXPECT_FALSE(drops(event));
        EXPECT_EQ(event.response_type, XCB_CONFIGURE_NOTIFY);
    }
    auto notX11 = configureNotify(id);
    EXPECT_FALSE(drops(notX11, "windows_generic_MSG"));
    EXPECT_EQ(notX11.response_type, XCB_CONFIGURE_NOTIFY);
}

}  // namespace
