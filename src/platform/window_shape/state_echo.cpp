#include "platform/window_shape/state_echo.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace platform {

void StateEchoFilter::add(QWidget& window) {
    std::erase_if(windows_, [](const QPointer<QWidget>& w) { return !w; });
    windows_.emplace_back(&window);
}

bool StateEchoFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (notify->atom != netWmState_ || notify->state != XCB_PROPERTY_NEW_VALUE) return false;
    // Only a window that still bypasses the window manager: nobody else sets its state.
    return std::any_of(windows_.begin(), windows_.end(), [&](const QPointer<QWidget>& w) {
        return w && w->internalWinId() == notify->window && w->windowFlags().testFlag(Qt::BypassWindowManagerHint);
    });
}

void dropStateEchoes(QWidget& window) {
    static std::unique_ptr<StateEchoFilter> filter = []() -> std::unique_ptr<StateEchoFilter> {
        if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c) return nullptr;
        static const char name[] = "_NET_WM_STATE";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof(name) - 1, name), nullptr);
        if (!atom) return nullptr;
        auto made = std::make_unique<StateEchoFilter>(atom->atom);
        std::free(atom);
        QCoreApplication::instance()->installNativeEventFilter(made.get());
        return made;
    }();
    if (filter) filter->add(window);
}

}  // namespace platform
