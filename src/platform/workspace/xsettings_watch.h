#pragma once

#include <QByteArray>

#include <xcb/xcb.h>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

// The settings the XSETTINGS manager of a display's default screen publishes (the
// _XSETTINGS_SETTINGS property of the window that owns the _XSETTINGS_S<screen> selection),
// followed as toolkits follow them: the property's changes, a new manager's MANAGER message on the
// root window and the manager's window going away, all told on an X connection of its own, which
// wakes the event loop only when one of them happens. Main thread.
class XSettingsWatch {
public:
    // `display` empty: $DISPLAY. None when the display cannot be reached.
    static std::unique_ptr<XSettingsWatch> connect(const QByteArray& display);
    ~XSettingsWatch();
    XSettingsWatch(const XSettingsWatch&) = delete;
    XSettingsWatch& operator=(const XSettingsWatch&) = delete;

    // The property's value as last read; empty while no manager runs or its value is unusable (not
    // 8-bit data, or larger than a settings manager's ever is).
    const QByteArray& settings() const { return settings_; }
    // From now on `changed` runs on the event loop each time the settings read differ from before;
    // it must not destroy the watch.
    void follow(std::function<void()> changed);

private:
    XSettingsWatch() = default;
    // Looks for the selection's owner, watches its window and reads its settings.
    void findManager();
    void readSettings();
    void takeEvents();

    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    xcb_window_t manager_ = XCB_NONE;
    xcb_atom_t selection_ = XCB_NONE;
    xcb_atom_t property_ = XCB_NONE;
    xcb_atom_t managerMessage_ = XCB_NONE;
    QByteArray settings_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> changed_;
};

}  // namespace platform
