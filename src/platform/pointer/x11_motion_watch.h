#pragma once

// Tells when the pointer moves on an X display, without saying where: XInput2 raw motion events
// selected on the root window of a connection of its own. Costs nothing while the pointer stands
// still (the socket is watched, never polled), and nothing while it is not listening.

#include <QByteArray>

#include <functional>
#include <memory>

struct xcb_connection_t;
class QSocketNotifier;

namespace platform {

class X11MotionWatch {
public:
    // Watches `display` (empty: $DISPLAY); nullptr without a display or the input extension.
    // `moved` runs on the main thread once per batch of motion the server sent.
    static std::unique_ptr<X11MotionWatch> start(std::function<void()> moved, const QByteArray& display = {});
    ~X11MotionWatch();
    X11MotionWatch(const X11MotionWatch&) = delete;
    X11MotionWatch& operator=(const X11MotionWatch&) = delete;

    // Selects raw motion again, or deselects it so that no motion wakes the process meanwhile.
    void setListening(bool listening);
    void readPendingEvents();

private:
    X11MotionWatch() = default;

    xcb_connection_t* connection_ = nullptr;
    uint32_t root_ = 0;
    uint8_t xinputOpcode_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> moved_;
};

}  // namespace platform
