#pragma once

#include "platform/dbus/dbus_connection.h"
#include "platform/process/child_process.h"
#include "platform/workspace/desktop_entries.h"
#include "platform/workspace/workspace.h"
#include "platform/workspace/x11_clients.h"

#include <QByteArray>

#include <map>
#include <memory>

class QSocketNotifier;

namespace platform {

// What a Linux desktop offers. On X11 the running applications are the processes behind the
// windows the window manager lists (EWMH), named and drawn by their `.desktop` entries, and
// activations follow the active window; without X11 this process is the only one it knows.
// An application's identity is its desktop entry: a bundle identifier resolves to the entry's
// file, its icon comes from the icon theme, and opening it brings its window forward when one is
// open, else activates it on the session bus when the entry is D-Bus activatable, else launches
// the entry's program as an application of its own. File icons come from the icon theme, URLs
// open in the desktop's handler, and files are shown selected by the file manager's
// org.freedesktop.FileManager1 interface (else their folder opens).
class LinuxWorkspace final : public Workspace {
public:
    // `display` empty: $DISPLAY, connected on first use. `bus` nullptr: the session bus at each use.
    explicit LinuxWorkspace(QByteArray display = {}, ProcessLauncher& launcher = ProcessLauncher::system(),
                            DBusConnection* bus = nullptr);
    ~LinuxWorkspace() override;
    LinuxWorkspace(const LinuxWorkspace&) = delete;
    LinuxWorkspace& operator=(const LinuxWorkspace&) = delete;

    std::vector<RunningApplication> runningApplications() const override;
    std::optional<QString> urlForApplicationWithBundleIdentifier(const QString& bundleIdentifier) const override;
    QIcon iconForFile(const QString& path) const override;

    bool openUrl(const QUrl& url) override;
    // Names come from other applications' notifications; they only pick an installed entry,
    // whose running window is activated, or which is activated or run as the entry says.
    bool launchApplicationWithBundleIdentifier(const QString& bundleIdentifier) override;
    bool launchApplicationNamed(const QString& name) override;
    // `path` is a desktop entry file.
    bool openApplicationAtPath(const QString& path) override;
    bool activateApplication(qint64 processIdentifier, bool ignoringOtherApps) override;
    // The file manager answers later; when it cannot, the folder of the first file opens.
    bool activateFileViewerSelecting(const std::vector<QUrl>& urls) override;
    AnyCancellable observeActivations(std::function<void(const RunningApplication&)> handler) override;

    // The icon for files the theme has none for.
    static QIcon genericIcon();

private:
    // A managed window as last read, with what it resolves to.
    struct TrackedWindow {
        X11Client client;
        std::optional<DesktopEntry> entry;
        QIcon icon;
        bool iconPending = false;  // the entry's icon was still being looked up
        QString iconTheme;         // the icon theme it was looked up in
    };

    RunningApplication self() const;
    X11Clients* x11() const;
    // Brings the tracked windows up to date: reads only the windows that came or changed since.
    void refreshWindows() const;
    void track(const X11Client& client, bool withIcon) const;
    void resolveIcon(TrackedWindow& tracked) const;
    // The topmost tracked window that `belongs`, preferring ordinary ones; 0 when none.
    uint32_t topmostWindow(const std::function<bool(const TrackedWindow&)>& belongs) const;
    // Asks the window manager to activate the topmost window of `entry`; false when none is open.
    bool activateOpenWindow(const DesktopEntry& entry);
    // org.freedesktop.Application.Activate on the entry's bus name, launching the entry's
    // program when that fails.
    bool activateOnBus(const DesktopEntry& entry);
    DBusConnection& bus() const { return bus_ ? *bus_ : DBusConnection::session(); }
    void activeWindowChanged();

    QByteArray display_;
    ProcessLauncher& launcher_;
    DBusConnection* bus_;
    // Calls in flight whose answer decides a fallback; a newer one replaces each, and they end
    // with the workspace.
    AnyCancellable pendingReveal_;
    AnyCancellable pendingActivation_;
    mutable std::unique_ptr<X11Clients> x11_;
    mutable bool x11Tried_ = false;
    mutable DesktopEntries desktopEntries_;
    // The window manager's client list, kept current from its change notices on the listing
    // connection, so a listing costs no more with more windows open.
    mutable bool tracking_ = false;
    mutable X11Clients::Changes pendingChanges_;
    mutable std::vector<uint32_t> windowOrder_;
    mutable std::map<uint32_t, TrackedWindow> windows_;
    mutable std::unique_ptr<QSocketNotifier> trackingNotifier_;
    // A connection of its own for the notices, so replies to listings never swallow them.
    std::unique_ptr<X11Clients> watcher_;
    std::unique_ptr<QSocketNotifier> notifier_;
    qint64 lastActivePid_ = 0;
};

}  // namespace platform
