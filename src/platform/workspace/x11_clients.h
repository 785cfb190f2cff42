#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

// One top-level window the window manager manages, as its EWMH and ICCCM hints describe it.
struct X11Client {
    uint32_t window = 0;
    qint64 pid = 0;  // 0: the client did not say (_NET_WM_PID is optional)
    QString wmClass;
    QString wmInstance;
    QString name;
    // _KDE_NET_WM_DESKTOP_FILE or _GTK_APPLICATION_ID, without ".desktop".
    QString desktopHint;
    bool normal = true;  // no type, or a normal one
    bool skipTaskbar = false;
    QImage icon;  // the largest _NET_WM_ICON up to 256 pixels; null when none was asked or given
};

// A connection to the X server for reading the window manager's client list and the active
// window, and for asking it to activate a window. Not thread-safe; one per user.
class X11Clients {
public:
    // Connects to `display` (empty: $DISPLAY); nullptr when there is no X server or no EWMH atoms.
    static std::unique_ptr<X11Clients> connect(const QByteArray& display = {});
    ~X11Clients();
    X11Clients(const X11Clients&) = delete;
    X11Clients& operator=(const X11Clients&) = delete;

    // The managed windows in mapping order (_NET_CLIENT_LIST); empty without a window manager.
    std::vector<X11Client> clients(bool withIcons) const;
    std::vector<uint32_t> clientWindows() const;
    // Bottom to top (_NET_CLIENT_LIST_STACKING).
    std::vector<uint32_t> stacking() const;
    // Reads only the windows asked for, in one round trip; a window that is gone comes back
    // without a process id.
    std::vector<X11Client> describe(const std::vector<uint32_t>& windows, bool withIcons) const;
    std::optional<X11Client> describe(uint32_t window, bool withIcon) const;
    // 0 when no window is active.
    uint32_t activeWindow() const;
    // Asks the window manager to activate `window` as a pager would, so focus-stealing
    // prevention lets it through.
    bool requestActivation(uint32_t window);

    // Change notices: after watchActiveWindow() the root's (active window, client list), after
    // watchWindows() those windows' hints. fileDescriptor() is readable whenever the server sent
    // something; takeChanges() drains what arrived, without asking the server anything.
    void watchActiveWindow();
    void watchWindows(const std::vector<uint32_t>& windows);
    int fileDescriptor() const;
    struct Changes {
        bool activeWindow = false;
        bool clientList = false;
        std::vector<uint32_t> hints;  // windows whose description changed, the icon aside
        std::vector<uint32_t> icons;  // windows whose _NET_WM_ICON changed
        void add(const Changes& later);
    };
    Changes takeChanges();
    bool takeActiveWindowChange() { return takeChanges().activeWindow; }

private:
    struct State;
    explicit X11Clients(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace platform
