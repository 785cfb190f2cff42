#pragma once

#include "platform/dbus/dbus_connection.h"
#include "platform/session/session_monitor.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>

namespace platform {

// The session on a Linux desktop:
// - screen lock: ActiveChanged(b) of the screensavers on the session bus (freedesktop, GNOME,
//   Xfce, MATE, Cinnamon), and the Lock/Unlock signals and the LockedHint property of this login
//   session on logind;
// - session activity: the Active property of this login session on logind.
// The login session is the one named by `sessionId` (XDG_SESSION_ID by default), else the one
// logind gives for this process.
class DBusSessionMonitor final : public SessionMonitor {
public:
    explicit DBusSessionMonitor(DBusConnection& sessionBus = DBusConnection::session(),
                                DBusConnection& systemBus = DBusConnection::system(),
                                QString sessionId = defaultSessionId());

    static QString defaultSessionId();
    // The screensavers heard; each serves ActiveChanged(b) on an interface of its own name.
    static const QStringList& screenSaverNames();
    static constexpr DBusConnection::Timeout lookupTimeout{2000};

    [[nodiscard]] AnyCancellable observeSessionActive(std::function<void(bool active)> handler) override;
    [[nodiscard]] AnyCancellable observeScreenLock(std::function<void(bool locked)> handler) override;

    // The login session's object path once logind has named it; by then every observation made
    // so far watches its signals, and one made later does before it returns. Empty before, or
    // without logind.
    const QString& sessionPath() const { return sessionPath_; }

private:
    // Hands this login session's object path to `ready`: at once when it is known, else once the
    // one lookup in flight answers (never when not found).
    AnyCancellable resolveSessionPath(std::function<void(const QString& path)> ready);
    void sessionPathAnswered(const DBusReply& reply);

    struct PathLookup {
        std::map<uint64_t, std::function<void(const QString& path)>> waiting;
        uint64_t nextId = 0;
        AnyCancellable call;  // inactive when no lookup is in flight
    };

    DBusConnection& sessionBus_;
    DBusConnection& systemBus_;
    QString sessionId_;
    QString sessionPath_;
    std::shared_ptr<PathLookup> lookup_ = std::make_shared<PathLookup>();
};

}  // namespace platform
