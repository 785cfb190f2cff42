#include "platform/scrolling/scroll_directions.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace platform {

namespace {

std::atomic<ScrollDirections*> installed{nullptr};

// Where nothing says otherwise, every device scrolls as it moves.
class UninvertedScrollDirections final : public ScrollDirections {
public:
    bool isInvertedFromDevice(qint64) override { return false; }
};

constexpr char kNaturalScrolling[] = "libinput Natural Scrolling Enabled";

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

}  // namespace

ScrollDirections& ScrollDirections::shared() {
    if (ScrollDirections* directions = installed.load()) return *directions;
    static ScrollDirections* fallback = [] () -> ScrollDirections* {
        if (qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb")) return new X11ScrollDirections();
        return new UninvertedScrollDirections();
    }();
    return *fallback;
}

ScrollDirections* ScrollDirections::setShared(ScrollDirections* directions) { return installed.exchange(directions); }

X11ScrollDirections::X11ScrollDirections(QByteArray display) : display_(std::move(display)) {}

X11ScrollDirections::~X11ScrollDirections() {
    if (connection_) xcb_disconnect(connection_);
}

xcb_connection_t* X11ScrollDirections::connection() {
    if (tried_) return connection_;
    tried_ = true;
    xcb_connection_t* c = xcb_connect(display_.isEmpty() ? nullptr : display_.constData(), nullptr);
    const xcb_query_extension_reply_t* input = c && !xcb_connection_has_error(c) ? xcb_get_extension_data(c, &xcb_input_id) : nullptr;
    if (!input || !input->present) {
        if (c) xcb_disconnect(c);
        return nullptr;
    }
    connection_ = c;
    return connection_;
}

bool X11ScrollDirections::isInvertedFromDevice(qint64 deviceId) {
    if (deviceId <= 0 || deviceId > 0xffff) return false;
    xcb_connection_t* c = connection();
    if (!c) return false;
    if (!property_) {
        // The server knows the name once a libinput device has been added; until then no device
        // can have it (asked again at the next scroll).
        std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> atom(xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 1, static_cast<uint16_t>(std::strlen(kNaturalScrolling)), kNaturalScrolling), nullptr));
        if (!atom || atom->atom == XCB_ATOM_NONE) return false;
        property_ = atom->atom;
    }
    xcb_generic_error_t* error = nullptr;
    std::unique_ptr<xcb_input_xi_get_property_reply_t, FreeDeleter> reply(xcb_input_xi_get_property_reply(
        c, xcb_input_xi_get_property(c, static_cast<xcb_input_device_id_t>(deviceId), 0, property_, XCB_ATOM_ANY, 0, 1),
        &error));
    std::free(error);  // a device that is gone
    if (!reply || reply->num_items < 1) return false;
    const void* items = xcb_input_xi_get_property_items(reply.get());
    switch (reply->format) {
    case 8: return static_cast<const uint8_t*>(items)[0] != 0;
    case 16: return static_cast<const uint16_t*>(items)[0] != 0;
    case 32: return static_cast<const uint32_t*>(items)[0] != 0;
    default: return false;
    }
}

}  // namespace platform
