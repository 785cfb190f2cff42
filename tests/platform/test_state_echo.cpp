#include "platform/window_shape/state_echo.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <xcb/xcb.h>

#include <memory>

namespace {

constexpr uint32_t kNetWmState = 77;

xcb_property_notify_event_t propertyNotify(WId window, uint32_t atom, uint8_t state = XCB_PROPERTY_NEW_VALUE) {
    xcb_property_notify_event_t event{};
    event.response_type = XCB_PROPERTY_NOTIFY;
    event.window = static_cast<xcb_window_t>(window);
    event.atom = atom;
    event.state = state;
    return event;
}

}  // namespace

TEST(StateEchoFilter, DropsOnlyTheStateEchoesOfItsLiveWindowsThatBypassTheWindowManager) {
    auto bypassing = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::BypassWindowManagerHint);
    QWidget managed(nullptr, Qt::Tool);
    QWidget other(nullptr, Qt::Tool | Qt::BypassWindowManagerHint);
    const WId id = bypassing->winId();
    ASSERT_NE(id, managed.winId());
    ASSERT_NE(id, other.winId());
    platform::StateEchoFilter filter(kNetWmState);
    filter.add(*bypassing);
    filter.add(managed);
    const auto drops = [&filter](auto event, const QByteArray& type = "xcb_generic_event_t") {
        return filter.nativeEventFilter(type, &event, nullptr);
    };

    EXPECT_TRUE(drops(propertyNotify(id, kNetWmState)));
    auto sent = propertyNotify(id, kNetWmState);
    sent.response_type |= 0x80;
    EXPECT_TRUE(drops(sent));

    EXPECT_FALSE(drops(propertyNotify(id, kNetWmState + 1)));                          // another property
    EXPECT_FALSE(drops(propertyNotify(id, kNetWmState, XCB_PROPERTY_DELETE)));         // taken away
    EXPECT_FALSE(drops(propertyNotify(managed.winId(), kNetWmState)));                 // a window manager's
    EXPECT_FALSE(drops(propertyNotify(other.winId(), kNetWmState)));                   // not added
    EXPECT_FALSE(drops(propertyNotify(id, kNetWmState), "windows_generic_MSG"));       // not X11
    xcb_configure_notify_event_t configure{};
    configure.response_type = XCB_CONFIGURE_NOTIFY;
    configure.window = static_cast<xcb_window_t>(id);
    EXPECT_FALSE(drops(configure));

    // The window gone.
    bypassing.reset();
    EXPECT_FALSE(drops(propertyNotify(id, kNetWmState)));
}
