#pragma once

// Which way a pointing device scrolls. With "natural" scrolling the driver inverts the device's
// direction, so the content follows the fingers: a swipe up then arrives as a scroll down. On X11
// the switch is libinput's "libinput Natural Scrolling Enabled" property of the device, read
// through XInput2 on a connection of its own.

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>

struct xcb_connection_t;

namespace platform {

class ScrollDirections {
public:
    virtual ~ScrollDirections() = default;

    // The process-wide reader: the X11 one where the application draws on X11, else one that
    // knows of no inversion (unless a test installed another).
    static ScrollDirections& shared();
    // Installs `directions` (nullptr restores the default); returns the previous one.
    static ScrollDirections* setShared(ScrollDirections* directions);

    // Whether the device with this window-system id (the slave device that sent a scroll, as
    // QPointingDevice::systemId() gives it) has its direction inverted. Read afresh at each call,
    // so a change in the desktop's settings counts at the next scroll.
    virtual bool isInvertedFromDevice(qint64 deviceId) = 0;
};

class X11ScrollDirections final : public ScrollDirections {
public:
    // `display` empty: $DISPLAY, connected on first use.
    explicit X11ScrollDirections(QByteArray display = {});
    ~X11ScrollDirections() override;
    X11ScrollDirections(const X11ScrollDirections&) = delete;
    X11ScrollDirections& operator=(const X11ScrollDirections&) = delete;

    // False for a device without the property (not driven by libinput), an unknown device, or
    // without an X server.
    bool isInvertedFromDevice(qint64 deviceId) override;

private:
    xcb_connection_t* connection();

    QByteArray display_;
    xcb_connection_t* connection_ = nullptr;
    bool tried_ = false;
    uint32_t property_ = 0;
};

}  // namespace platform
