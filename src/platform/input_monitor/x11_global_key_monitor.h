#pragma once

// The global key monitor on X11: XInput2 raw key events selected on the root window, read from
// a connection of its own. Raw events are copies sent to a listener; the key still goes to the
// focused window, so nothing is grabbed or swallowed. One connection serves every handler and
// exists only while a handler does; it costs nothing between key presses (the socket is watched,
// never polled).

#include "platform/input_monitor/global_key_monitor.h"
#include "platform/input_monitor/x11_key_state.h"

#include <QByteArray>

#include <map>
#include <memory>

struct xcb_connection_t;
class QSocketNotifier;

namespace platform {

class X11GlobalKeyMonitor final : public GlobalKeyMonitor {
public:
    // `display`: the X display to watch; empty means $DISPLAY at the moment a handler is added.
    explicit X11GlobalKeyMonitor(QByteArray display = {});
    ~X11GlobalKeyMonitor() override;
    X11GlobalKeyMonitor(const X11GlobalKeyMonitor&) = delete;
    X11GlobalKeyMonitor& operator=(const X11GlobalKeyMonitor&) = delete;

    std::optional<Token> addKeyDownMonitor(Handler handler) override;
    void removeMonitor(Token token) override;

    bool isConnected() const { return connection_ != nullptr; }
    size_t handlerCount() const { return handlers_.size(); }
    // Reads and dispatches what the server has sent (the socket watcher calls it).
    void readPendingEvents();

private:
    bool connect();
    void disconnect();
    bool loadKeyboardMapping();
    void seedHeldKeys();
    void dispatch(const KeyEvent& event);

    QByteArray display_;
    xcb_connection_t* connection_ = nullptr;
    uint8_t xinputOpcode_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    X11KeyState keys_;
    std::map<Token, Handler> handlers_;
    Token nextToken_ = 1;
};

}  // namespace platform
