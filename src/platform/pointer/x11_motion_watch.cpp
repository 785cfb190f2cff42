#include "platform/pointer/x11_motion_watch.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace platform {

namespace {

xcb_void_cookie_t selectRawMotion(xcb_connection_t* c, xcb_window_t root, bool listening) {
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection = {{XCB_INPUT_DEVICE_ALL_MASTER, 1}, listening ? uint32_t{XCB_INPUT_XI_EVENT_MASK_RAW_MOTION} : 0u};
    return xcb_input_xi_select_events_checked(c, root, 1, &selection.head);
}

}  // namespace

std::unique_ptr<X11MotionWatch> X11MotionWatch::start(std::function<void()> moved, const QByteArray& display) {
    const QByteArray name = display.isEmpty() ? qgetenv("DISPLAY") : display;
    if (name.isEmpty()) return nullptr;
    std::unique_ptr<X11MotionWatch> watch(new X11MotionWatch);
    watch->connection_ = xcb_connect(name.constData(), nullptr);
    xcb_connection_t* c = watch->connection_;
    if (!c || xcb_connection_has_error(c)) return nullptr;

    const xcb_query_extension_reply_t* xi = xcb_get_extension_data(c, &xcb_input_id);
    if (!xi || !xi->present) return nullptr;
    watch->xinputOpcode_ = xi->major_opcode;
    auto* version = xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr);
    // Raw events reach a root listener whoever grabs the pointer from 2.1 on.
    const bool recent = version && (version->major_version > 2 ||
                                    (version->major_version == 2 && version->minor_version >= 1));
    std::free(version);
    if (!recent) return nullptr;

    watch->root_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_generic_error_t* error = xcb_request_check(c, selectRawMotion(c, watch->root_, true));
    if (error) {
        std::free(error);
        return nullptr;
    }
    watch->moved_ = std::move(moved);
    watch->notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    X11MotionWatch* raw = watch.get();
    QObject::connect(watch->notifier_.get(), &QSocketNotifier::activated, [raw] { raw->readPendingEvents(); });
    return watch;
}

void X11MotionWatch::setListening(bool listening) {
    // Not waited for: a server that went away is noticed by the socket.
    xcb_discard_reply(connection_, selectRawMotion(connection_, root_, listening).sequence);
    xcb_flush(connection_);
}

X11MotionWatch::~X11MotionWatch() {
    notifier_.reset();
    if (connection_) xcb_disconnect(connection_);
}

void X11MotionWatch::readPendingEvents() {
    bool moved = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if ((event->response_type & 0x7f) == XCB_GE_GENERIC) {
            auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
            moved = moved || (generic->extension == xinputOpcode_ && generic->event_type == XCB_INPUT_RAW_MOTION);
        }
        std::free(event);
    }
    if (xcb_connection_has_error(connection_)) {
        // The server went away: no more wake-ups; the poller keeps its own pace.
        notifier_.reset();
    }
    if (moved && moved_) moved_();
}

}  // namespace platform
