#include "support/xsettings_manager.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace testsupport {

namespace {

// A round trip: the server has done everything asked before.
void sync(xcb_connection_t* c) { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

}  // namespace

XSettingsManager::~XSettingsManager() {
    if (c_) xcb_disconnect(c_);
}

QByteArray XSettingsManager::settings(const std::vector<std::pair<QByteArray, QByteArray>>& strings, bool bigEndian) {
    QByteArray data;
    const auto card = [&](quint32 value, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
            data.append(char((value >> shift) & 0xff));
        }
    };
    const auto pad = [&] {
        while (data.size() % 4) data.append('\0');
    };
    const auto header = [&](char type, const QByteArray& name) {
        data.append(type).append('\0');
        card(quint32(name.size()), 2);
        data.append(name);
        pad();
        card(7, 4);  // last-change serial
    };
    data.append(char(bigEndian ? 1 : 0)).append(QByteArray(3, '\0'));
    card(1, 4);  // serial
    card(quint32(strings.size() + 2), 4);
    header(0, "Net/DoubleClickTime");
    card(400, 4);
    header(2, "Gtk/Colour");
    card(1, 2), card(2, 2), card(3, 2), card(4, 2);
    for (const auto& [name, value] : strings) {
        header(1, name);
        card(quint32(value.size()), 4);
        data.append(value);
        pad();
    }
    return data;
}

void XSettingsManager::serveIconTheme(const QByteArray& iconTheme) {
    publish(settings({{"Net/IconThemeName", iconTheme}}));
}

void XSettingsManager::publish(const QByteArray& value) {
    if (!c_) c_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c_)) return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    const bool starting = !window_;
    if (starting) {
        window_ = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
    }
    const xcb_atom_t property = atom("_XSETTINGS_SETTINGS");
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, property, property, 8, uint32_t(value.size()),
                        value.constData());
    if (starting) {
        xcb_set_selection_owner(c_, window_, atom("_XSETTINGS_S0"), XCB_CURRENT_TIME);
        xcb_client_message_event_t announce{};
        announce.response_type = XCB_CLIENT_MESSAGE;
        announce.format = 32;
        announce.window = screen->root;
        announce.type = atom("MANAGER");
        announce.data.data32[0] = XCB_CURRENT_TIME;
        announce.data.data32[1] = atom("_XSETTINGS_S0");
        announce.data.data32[2] = window_;
        xcb_send_event(c_, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&announce));
    }
    sync(c_);
}

void XSettingsManager::quit() {
    if (!c_ || !window_) return;
    xcb_destroy_window(c_, window_);
    window_ = 0;
    sync(c_);
}

uint32_t XSettingsManager::atom(const QByteArray& name) {
    auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(name.size()), name.constData()), nullptr);
    const xcb_atom_t value = reply ? reply->atom : 0;
    std::free(reply);
    return value;
}

}  // namespace testsupport
