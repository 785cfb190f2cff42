#include "platform/workspace/x11_clients.h"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform {

struct X11Clients::State {
    xcb_connection_t* connection = nullptr;
    xcb_ewmh_connection_t ewmh{};
    xcb_window_t root = 0;
    xcb_atom_t kdeDesktopFile = 0;
    xcb_atom_t gtkApplicationId = 0;
    int screen = 0;
};

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

QString propertyText(xcb_get_property_reply_t* reply) {
    if (!reply) return {};
    const int length = xcb_get_property_value_length(reply);
    QByteArray bytes(static_cast<const char*>(xcb_get_property_value(reply)), length);
    std::free(reply);
    while (bytes.endsWith('\0')) bytes.chop(1);
    return QString::fromUtf8(bytes);
}

QImage largestIcon(xcb_ewmh_get_wm_icon_reply_t& reply) {
    xcb_ewmh_wm_icon_iterator_t it = xcb_ewmh_get_wm_icon_iterator(&reply);
    uint32_t bestW = 0, bestH = 0;
    const uint32_t* best = nullptr;
    for (; it.rem; xcb_ewmh_get_wm_icon_next(&it)) {
        // A lying size would read past the property; the iterator stops at its end anyway, but
        // oversized entries are not worth decoding.
        if (it.width == 0 || it.height == 0 || it.width > 256 || it.height > 256) continue;
        if (it.width * it.height > bestW * bestH) {
            bestW = it.width;
            bestH = it.height;
            best = it.data;
        }
    }
    if (!best) return {};
    QImage image(static_cast<int>(bestW), static_cast<int>(bestH), QImage::Format_ARGB32);
    for (uint32_t y = 0; y < bestH; ++y) {
        std::memcpy(image.scanLine(static_cast<int>(y)), best + y * bestW, bestW * 4);
    }
    return image;
}

}  // namespace

X11Clients::X11Clients(std::unique_ptr<State> state) : state_(std::move(state)) {}

X11Clients::~X11Clients() {
    xcb_ewmh_connection_wipe(&state_->ewmh);
    xcb_disconnect(state_->connection);
}

std::unique_ptr<X11Clients> X11Clients::connect(const QByteArray& display) {
    auto state = std::make_unique<State>();
    if (display.isEmpty() && !std::getenv("DISPLAY")) return nullptr;
    state->connection = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &state->screen);
    if (!state->connection || xcb_connection_has_error(state->connection)) {
        if (state->connection) xcb_disconnect(state->connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(state->connection));
    for (int i = 0; i < state->screen && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(state->connection);
        return nullptr;
    }
    state->root = screens.data->root;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(state->connection, &state->ewmh);
    if (!xcb_ewmh_init_atoms_replies(&state->ewmh, cookies, nullptr)) {
        xcb_disconnect(state->connection);
        return nullptr;
    }
    state->kdeDesktopFile = internAtom(state->connection, "_KDE_NET_WM_DESKTOP_FILE");
    state->gtkApplicationId = internAtom(state->connection, "_GTK_APPLICATION_ID");
    return std::unique_ptr<X11Clients>(new X11Clients(std::move(state)));
}

std::vector<uint32_t> X11Clients::clientWindows() const {
    xcb_ewmh_get_windows_reply_t list;
    if (!xcb_ewmh_get_client_list_reply(&state_->ewmh, xcb_ewmh_get_client_list(&state_->ewmh, state_->screen), &list,
                                        nullptr)) {
        return {};
    }
    std::vector<uint32_t> windows(list.windows, list.windows + list.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&list);
    return windows;
}

std::vector<X11Client> X11Clients::clients(bool withIcons) const { return describe(clientWindows(), withIcons); }

std::vector<X11Client> X11Clients::describe(const std::vector<uint32_t>& windows, bool withIcons) const {
    // Every request first, then the replies: one round trip for the whole list.
    struct Cookies {
        xcb_get_property_cookie_t pid, type, state, name, wmName, wmClass, kde, gtk, icon;
    };
    xcb_connection_t* c = state_->connection;
    xcb_ewmh_connection_t* ew = &state_->ewmh;
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (uint32_t w : windows) {
        Cookies k{};
        k.pid = xcb_ewmh_get_wm_pid(ew, w);
        k.type = xcb_ewmh_get_wm_window_type(ew, w);
        k.state = xcb_ewmh_get_wm_state(ew, w);
        k.name = xcb_ewmh_get_wm_name(ew, w);
        k.wmName = xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 256);
        k.wmClass = xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
        k.kde = xcb_get_property(c, 0, w, state_->kdeDesktopFile, ew->UTF8_STRING, 0, 256);
        k.gtk = xcb_get_property(c, 0, w, state_->gtkApplicationId, ew->UTF8_STRING, 0, 256);
        if (withIcons) k.icon = xcb_ewmh_get_wm_icon(ew, w);
        cookies.push_back(k);
    }
    std::vector<X11Client> result;
    result.reserve(windows.size());
    for (size_t i = 0; i < windows.size(); ++i) {
        const Cookies& k = cookies[i];
        X11Client client;
        client.window = windows[i];
        uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(ew, k.pid, &pid, nullptr)) client.pid = pid;
        xcb_ewmh_get_atoms_reply_t atoms;
        if (xcb_ewmh_get_wm_window_type_reply(ew, k.type, &atoms, nullptr)) {
            // The first type the client knows wins; only the normal type makes an ordinary window.
            client.normal = atoms.atoms_len == 0 || atoms.atoms[0] == ew->_NET_WM_WINDOW_TYPE_NORMAL;
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        if (xcb_ewmh_get_wm_state_reply(ew, k.state, &atoms, nullptr)) {
            for (uint32_t a = 0; a < atoms.atoms_len; ++a) {
                if (atoms.atoms[a] == ew->_NET_WM_STATE_SKIP_TASKBAR) client.skipTaskbar = true;
            }
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        xcb_ewmh_get_utf8_strings_reply_t name;
        if (xcb_ewmh_get_wm_name_reply(ew, k.name, &name, nullptr)) {
            client.name = QString::fromUtf8(name.strings, static_cast<qsizetype>(name.strings_len));
            xcb_ewmh_get_utf8_strings_reply_wipe(&name);
        }
        const QString legacyName = propertyText(xcb_get_property_reply(c, k.wmName, nullptr));
        if (client.name.isEmpty()) client.name = legacyName;
        if (xcb_get_property_reply_t* reply = xcb_get_property_reply(c, k.wmClass, nullptr)) {
            // "instance\0class\0"
            const int length = xcb_get_property_value_length(reply);
            const QList<QByteArray> parts =
                QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), length).split('\0');
            if (!parts.isEmpty()) client.wmInstance = QString::fromUtf8(parts.value(0));
            client.wmClass = QString::fromUtf8(parts.value(1));
            std::free(reply);
        }
        QString hint = propertyText(xcb_get_property_reply(c, k.kde, nullptr));
        const QString gtk = propertyText(xcb_get_property_reply(c, k.gtk, nullptr));
        if (hint.isEmpty()) hint = gtk;
        if (hint.endsWith(QLatin1String(".desktop"))) hint.chop(8);
        client.desktopHint = hint;
        if (withIcons) {
            xcb_ewmh_get_wm_icon_reply_t icon;
            if (xcb_ewmh_get_wm_icon_reply(ew, k.icon, &icon, nullptr)) {
                client.icon = largestIcon(icon);
                xcb_ewmh_get_wm_icon_reply_wipe(&icon);
            }
        }
        result.push_back(std::move(client));
    }
    return result;
}

std::vector<uint32_t> X11Clients::stacking() const {
    xcb_ewmh_get_windows_reply_t list;
    if (!xcb_ewmh_get_client_list_stacking_reply(
            &state_->ewmh, xcb_ewmh_get_client_list_stacking(&state_->ewmh, state_->screen), &list, nullptr)) {
        return {};
    }
    std::vector<uint32_t> windows(list.windows, list.windows + list.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&list);
    return windows;
}

std::optional<X11Client> X11Clients::describe(uint32_t window, bool withIcon) const {
    std::vector<X11Client> one = describe(std::vector<uint32_t>{window}, withIcon);
    if (one.empty() || one.front().pid <= 0) return std::nullopt;
    return std::move(one.front());
}

uint32_t X11Clients::activeWindow() const {
    xcb_window_t active = 0;
    if (!xcb_ewmh_get_active_window_reply(&state_->ewmh, xcb_ewmh_get_active_window(&state_->ewmh, state_->screen),
                                          &active, nullptr)) {
        return 0;
    }
    return active;
}

bool X11Clients::requestActivation(uint32_t window) {
    if (!window) return false;
    xcb_ewmh_request_change_active_window(&state_->ewmh, state_->screen, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                          XCB_CURRENT_TIME, XCB_NONE);
    return xcb_flush(state_->connection) > 0;
}

void X11Clients::watchActiveWindow() {
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(state_->connection, state_->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(state_->connection);
}

void X11Clients::watchWindows(const std::vector<uint32_t>& windows) {
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    for (uint32_t window : windows) xcb_change_window_attributes(state_->connection, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(state_->connection);
}

int X11Clients::fileDescriptor() const { return xcb_get_file_descriptor(state_->connection); }

void X11Clients::Changes::add(const Changes& later) {
    activeWindow = activeWindow || later.activeWindow;
    clientList = clientList || later.clientList;
    hints.insert(hints.end(), later.hints.begin(), later.hints.end());
    icons.insert(icons.end(), later.icons.begin(), later.icons.end());
}

X11Clients::Changes X11Clients::takeChanges() {
    Changes changes;
    const xcb_ewmh_connection_t& ew = state_->ewmh;
    const xcb_atom_t described[] = {ew._NET_WM_PID,  ew._NET_WM_WINDOW_TYPE,    ew._NET_WM_STATE,
                                    ew._NET_WM_NAME, XCB_ATOM_WM_NAME,          XCB_ATOM_WM_CLASS,
                                    state_->kdeDesktopFile, state_->gtkApplicationId};
    // Errors (a window gone before its selection arrived) come here too and are dropped.
    while (xcb_generic_event_t* event = xcb_poll_for_event(state_->connection)) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (notify->window == state_->root) {
                changes.activeWindow = changes.activeWindow || notify->atom == ew._NET_ACTIVE_WINDOW;
                changes.clientList = changes.clientList || notify->atom == ew._NET_CLIENT_LIST;
            } else if (notify->atom == ew._NET_WM_ICON) {
                changes.icons.push_back(notify->window);
            } else if (std::find(std::begin(described), std::end(described), notify->atom) != std::end(described)) {
                changes.hints.push_back(notify->window);
            }
        }
        std::free(event);
    }
    return changes;
}

}  // namespace platform
