#pragma once

// Qt reads a top-level window's _NET_WM_STATE back from the X server each time the property
// changes, a round trip, to learn what a window manager made of it. A window that bypasses the
// window manager gets no state but the one Qt writes itself as it shows the window: for such a
// window that echo of every show is dropped before Qt reads it.

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace platform {

// Drops the echoes of `window` (a top-level widget that bypasses the window manager) while it
// lives. Does nothing off X11.
void dropStateEchoes(QWidget& window);

// The filter behind it, for the atom `netWmState` names on the display.
class StateEchoFilter final : public QAbstractNativeEventFilter {
public:
    explicit StateEchoFilter(uint32_t netWmState) : netWmState_(netWmState) {}
    void add(QWidget& window);
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    uint32_t netWmState_;
    std::vector<QPointer<QWidget>> windows_;
};

}  // namespace platform
