#include "support/window_manager.h"

#include <QDeadlineTimer>

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace testsupport {

std::unique_ptr<ServiceProcess> startOpenbox(QString* error, std::chrono::milliseconds timeout) {
    std::unique_ptr<ServiceProcess> wm =
        ServiceProcess::start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, {}, -1, error);
    if (!wm) return nullptr;
    // It names itself first and sets up its desktops afterwards.
    if (!waitForRootProperties({"_NET_SUPPORTING_WM_CHECK", "_NET_NUMBER_OF_DESKTOPS", "_NET_CURRENT_DESKTOP",
                                "_NET_CLIENT_LIST"},
                               timeout, wm.get())) {
        if (error) *error = QStringLiteral("openbox did not take over the screen");
        return nullptr;
    }
    return wm;
}

bool waitForRootProperties(const QList<QByteArray>& names, std::chrono::milliseconds timeout, ServiceProcess* process) {
    const QDeadlineTimer deadline(timeout);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> connection(c, xcb_disconnect);
    if (xcb_connection_has_error(c)) return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // Listening before the first look: a property set in between still wakes the wait.
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);

    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const QByteArray& name : names)
        cookies.push_back(xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData()));
    std::vector<xcb_atom_t> atoms;
    for (const xcb_intern_atom_cookie_t& cookie : cookies) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
        if (!reply) return false;
        atoms.push_back(reply->atom);
        std::free(reply);
    }
    const auto allSet = [&] {
        return std::all_of(atoms.begin(), atoms.end(), [&](xcb_atom_t atom) {
            xcb_get_property_reply_t* reply =
                xcb_get_property_reply(c, xcb_get_property(c, 0, root, atom, XCB_ATOM_ANY, 0, 0), nullptr);
            const bool set = reply && reply->type != XCB_NONE;
            std::free(reply);
            return set;
        });
    };

    while (!allSet()) {
        if (xcb_connection_has_error(c) || deadline.hasExpired() || (process && !process->isRunning())) return false;
        // Whatever came meanwhile (some of it read while waiting for the replies above) is a reason
        // to look again; otherwise sleep until the server sends more. The sleep is cut short now
        // and then to notice a window manager that exited.
        bool changed = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            changed = true;
            std::free(event);
        }
        if (changed) continue;
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::min<qint64>(deadline.remainingTime(), 100)));
    }
    return true;
}

}  // namespace testsupport
