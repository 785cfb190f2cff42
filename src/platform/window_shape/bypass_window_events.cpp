#include "platform/window_shape/bypass_window_events.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace platform {

namespace {
// Set in an event's type by the server for one a client sent.
constexpr uint8_t kSentEvent = 0x80;
}  // namespace

void BypassWindowEvents::add(QWidget& window) {
    std::erase_if(windows_, [](const QPointer<QWidget>& w) { return !w; });
    windows_.emplace_back(&window);
}

bool BypassWindowEvents::isBypassing(uint32_t window) const {
    // Only a window that still bypasses the window manager: none reparents or gives it a state.
    return std::any_of(windows_.begin(), windows_.end(), [window](const QPointer<QWidget>& w) {
        return w && w->internalWinId() == window && w->windowFlags().testFlag(Qt::BypassWindowManagerHint);
    });
}

bool BypassWindowEvents::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    switch (event->response_type & ~kSentEvent) {
    case XCB_CONFIGURE_NOTIFY: {
        const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        // Of the window itself, not of a child, as the root's own structure events are.
        if (configure->event == configure->window && isBypassing(configure->window)) event->response_type |= kSentEvent;
        return false;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        return notify->atom == netWmState_ && notify->state == XCB_PROPERTY_NEW_VALUE && isBypassing(notify->window);
    }
    default:
        return false;
    }
}

void spareBypassWindowRoundTrips(QWidget& window) {
    static std::unique_ptr<BypassWindowEvents> filter = []() -> std::unique_ptr<BypassWindowEvents> {
        if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c) return nullptr;
        static const char name[] = "_NET_WM_STATE";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof(name) - 1, name), nullptr);
        if (!atom) return nullptr;
        auto made = std::make_unique<BypassWindowEvents>(atom->atom);
        std::free(atom);
        QCoreApplication::instance()->installNativeEventFilter(made.get());
        return made;
    }();
    if (filter) filter->add(window);
}

}  // namespace platform
