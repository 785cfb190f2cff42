#pragma once

#include "platform/workspace/desktop_entries.h"
#include "platform/workspace/workspace.h"

#include <QByteArray>

#include <memory>

class QSocketNotifier;

namespace platform {

class X11Clients;

// What a Linux desktop offers. On X11 the running applications are the processes behind the
// windows the window manager lists (EWMH), named and drawn by their `.desktop` entries, and
// activations follow the active window; without X11 this process is the only one it knows.
// There are no application bundles to find or launch, file icons come from the icon theme and
// URLs open in the desktop's handler.
class LinuxWorkspace final : public Workspace {
public:
    // `display` empty: $DISPLAY, connected on first use.
    explicit LinuxWorkspace(QByteArray display = {});
    ~LinuxWorkspace() override;
    LinuxWorkspace(const LinuxWorkspace&) = delete;
    LinuxWorkspace& operator=(const LinuxWorkspace&) = delete;

    std::vector<RunningApplication> runningApplications() const override;
    std::optional<QString> urlForApplicationWithBundleIdentifier(const QString& bundleIdentifier) const override;
    QIcon iconForFile(const QString& path) const override;

    bool openUrl(const QUrl& url) override;
    // Names come from other applications' notifications; they are never turned into commands.
    bool launchApplicationWithBundleIdentifier(const QString& bundleIdentifier) override;
    bool launchApplicationNamed(const QString& name) override;
    bool activateApplication(qint64 processIdentifier, bool ignoringOtherApps) override;
    AnyCancellable observeActivations(std::function<void(const RunningApplication&)> handler) override;

    // The icon for files the theme has none for.
    static QIcon genericIcon();

private:
    RunningApplication self() const;
    X11Clients* x11() const;
    void activeWindowChanged();

    QByteArray display_;
    mutable std::unique_ptr<X11Clients> x11_;
    mutable bool x11Tried_ = false;
    mutable DesktopEntries desktopEntries_;
    // A connection of its own for the notices, so replies to listings never swallow them.
    std::unique_ptr<X11Clients> watcher_;
    std::unique_ptr<QSocketNotifier> notifier_;
    qint64 lastActivePid_ = 0;
};

}  // namespace platform
