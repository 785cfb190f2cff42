#include "platform/input_monitor/x11_global_key_monitor.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <vector>

namespace platform {

namespace {
template <class T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;
}  // namespace

X11GlobalKeyMonitor::X11GlobalKeyMonitor(QByteArray display) : display_(std::move(display)) {}

X11GlobalKeyMonitor::~X11GlobalKeyMonitor() { disconnect(); }

std::optional<GlobalKeyMonitor::Token> X11GlobalKeyMonitor::addKeyDownMonitor(Handler handler) {
    if (!handler) return std::nullopt;
    if (!connection_ && !connect()) return std::nullopt;
    const Token token = nextToken_++;
    handlers_.emplace(token, std::move(handler));
    return token;
}

void X11GlobalKeyMonitor::removeMonitor(Token token) {
    if (handlers_.erase(token) == 0) return;
    if (handlers_.empty()) disconnect();
}

bool X11GlobalKeyMonitor::connect() {
    const QByteArray name = display_.isEmpty() ? qgetenv("DISPLAY") : display_;
    // Without a display name xcb would fall back to guesses; no display means no monitor.
    if (name.isEmpty()) return false;
    xcb_connection_t* c = xcb_connect(name.constData(), nullptr);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return false;
    }
    connection_ = c;

    const xcb_query_extension_reply_t* xi = xcb_get_extension_data(c, &xcb_input_id);
    bool ok = xi && xi->present;
    if (ok) {
        xinputOpcode_ = xi->major_opcode;
        Reply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        ok = version && version->major_version >= 2;
    }
    if (ok) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        struct {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } selection = {{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                       XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
        xcb_generic_error_t* error = xcb_request_check(c, xcb_input_xi_select_events_checked(c, root, 1, &selection.head));
        if (error) {
            std::free(error);
            ok = false;
        }
    }
    ok = ok && loadKeyboardMapping();
    if (!ok) {
        disconnect();
        return false;
    }
    seedHeldKeys();

    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readPendingEvents(); });
    // Round trips above may have queued events already; the socket will not signal those.
    readPendingEvents();
    return true;
}

void X11GlobalKeyMonitor::disconnect() {
    if (notifier_) {
        notifier_->setEnabled(false);
        // It may be emitting right now (a handler removed the last monitor).
        notifier_.release()->deleteLater();
    }
    if (connection_) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
    }
    keys_.releaseAll();
}

bool X11GlobalKeyMonitor::loadKeyboardMapping() {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    Reply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, static_cast<uint8_t>(count)), nullptr));
    if (!mapping || mapping->keysyms_per_keycode == 0) return false;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int length = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
    keys_.clearKeysyms();
    for (int i = 0; i < count; ++i) {
        const int index = i * mapping->keysyms_per_keycode;
        if (index >= length) break;
        keys_.setKeysym(static_cast<uint8_t>(first + i), syms[index]);
    }
    return true;
}

void X11GlobalKeyMonitor::seedHeldKeys() {
    keys_.releaseAll();
    Reply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(connection_, xcb_query_keymap(connection_), nullptr));
    if (!keymap) return;
    for (int keycode = 0; keycode < 256; ++keycode) {
        if (keymap->keys[keycode / 8] & (1u << (keycode % 8))) keys_.setHeld(static_cast<uint8_t>(keycode), true);
    }
}

void X11GlobalKeyMonitor::readPendingEvents() {
    while (connection_) {
        if (xcb_connection_has_error(connection_)) {
            // The server went away: the handlers stay registered but hear nothing more.
            notifier_->setEnabled(false);
            return;
        }
        Reply<xcb_generic_event_t> event(xcb_poll_for_event(connection_));
        if (!event) return;
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY) {
            auto* notify = reinterpret_cast<xcb_mapping_notify_event_t*>(event.get());
            if (notify->request == XCB_MAPPING_KEYBOARD) loadKeyboardMapping();
            continue;
        }
        if (type != XCB_GE_GENERIC) continue;
        auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event.get());
        if (generic->extension != xinputOpcode_) continue;
        if (generic->event_type == XCB_INPUT_RAW_KEY_PRESS) {
            auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(event.get());
            if (auto keyEvent = keys_.press(static_cast<uint8_t>(raw->detail))) dispatch(*keyEvent);
        } else if (generic->event_type == XCB_INPUT_RAW_KEY_RELEASE) {
            auto* raw = reinterpret_cast<xcb_input_raw_key_release_event_t*>(event.get());
            keys_.release(static_cast<uint8_t>(raw->detail));
        }
    }
}

void X11GlobalKeyMonitor::dispatch(const KeyEvent& event) {
    // A handler may add or remove monitors; call those present when the key came.
    std::vector<Token> tokens;
    for (const auto& entry : handlers_) tokens.push_back(entry.first);
    for (Token token : tokens) {
        auto it = handlers_.find(token);
        if (it == handlers_.end()) continue;
        Handler handler = it->second;
        handler(event);
    }
}

}  // namespace platform
