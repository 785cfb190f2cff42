#pragma once

// Qt asks the X server, a round trip each, about two events of a top-level window whose answers a
// window that bypasses the window manager already carries:
// - at a ConfigureNotify (also a mere restack as the window is raised) it asks where the window
//   is, since a window manager may have put it in a frame of its own; such a window's parent is the
//   root, so the event's own position is the answer: it is marked as one Qt may take as it is;
// - at each change of _NET_WM_STATE it reads the property back to learn what a window manager made
//   of it; such a window gets no state but the one Qt writes itself on every show: that echo is
//   dropped.

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace platform {

// Treats the events of `window` (a top-level widget that bypasses the window manager) so while it
// lives. Does nothing off X11.
void spareBypassWindowRoundTrips(QWidget& window);

// The filter behind it, for the atom `netWmState` names on the display.
class BypassWindowEvents final : public QAbstractNativeEventFilter {
public:
    explicit BypassWindowEvents(uint32_t netWmState) : netWmState_(netWmState) {}
    void add(QWidget& window);
    // Drops a state echo; marks a configure as sent, so Qt takes its position as it is.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    bool isBypassing(uint32_t window) const;

    uint32_t netWmState_;
    std::vector<QPointer<QWidget>> windows_;
};

}  // namespace platform
