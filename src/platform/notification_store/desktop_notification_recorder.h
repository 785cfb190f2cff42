#pragma once

// Records the desktop notifications that applications send on the session bus into the
// notification store, by all three roads: org.freedesktop.Notifications.Notify,
// org.gtk.Notifications.AddNotification and the desktop portal's AddNotification. It watches as
// a bus monitor: it sees copies of the calls, never answers them, and leaves the desktop's
// notification services serving them as before. A second, ordinary connection asks the bus which
// process sent a portal call.

#include "platform/notification_store/desktop_notification.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

class DesktopNotificationRecorder {
public:
    struct Options {
        QString storePath;
        // Empty: the session bus as libdbus finds it (never auto-launched).
        QString busAddress;
        // Also the bound on notifications waiting while the store cannot be written.
        int keepNewest = 1000;
        // Each write's wait for another program's lock, and the pause between tries.
        int busyTimeoutMs = 250;
        // Bound on connecting and on the monitoring request.
        int busTimeoutMs = 2000;
        // How often the monitoring connection is checked while nothing arrives, where its end
        // cannot be heard, and the first wait before monitoring again once the bus dropped it, a
        // second at most (doubling up to 30 s).
        int busCheckMs = 10000;
        // Where processes are read to find the application behind a portal call.
        QString procRoot = QStringLiteral("/proc");
    };
    struct Status {
        bool recording = false;
        QString reason;  // why not, when not recording
    };
    // A change worth a log line, after the start: writing fails or works again, notifications
    // are lost to the bound, the store was replaced under the recorder, the bus dropped
    // the monitor or took it back. `text` comes without the component's name.
    struct Notice {
        bool warning = false;
        QString text;
    };

    explicit DesktopNotificationRecorder(Options options);
    // Stops monitoring and finishes the writes already received.
    ~DesktopNotificationRecorder();
    DesktopNotificationRecorder(const DesktopNotificationRecorder&) = delete;
    DesktopNotificationRecorder& operator=(const DesktopNotificationRecorder&) = delete;

    // Creates the store now (when missing) so that readers find it, then connects and starts
    // monitoring on a thread of its own. `done` runs once on the calling thread's event loop with
    // the outcome. Call once, on a thread with a Qt event loop.
    void start(std::function<void(const Status&)> done);

    // Called on the starting thread's event loop with each notice. Set before start().
    void setNoticeHandler(std::function<void(const Notice&)> handler);

    // Called on the recorder's thread after each record is committed (row id) or lost
    // (nullopt: dropped by the bound, or still unwritten when the recorder stops): benchmarks and
    // tests. Set before start().
    void setRecordObserver(std::function<void(std::optional<int64_t> recordId)> observer);

    const QString& storePath() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace platform
