#include "platform/session/dbus_session_monitor.h"

#include <QDBusObjectPath>

#include <unistd.h>

#include <memory>
#include <utility>
#include <vector>

namespace platform {

namespace {

const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");

// Everything one observation holds; cancelling it drops every part, including a lookup in flight.
struct Observation {
    std::vector<AnyCancellable> parts;
};

AnyCancellable own(std::shared_ptr<Observation> observation) {
    return AnyCancellable([observation] {
        auto parts = std::move(observation->parts);
        observation->parts.clear();
        for (auto& part : parts) part.cancel();
    });
}

QString pathOf(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
    return value.toString();
}

}  // namespace

DBusSessionMonitor::DBusSessionMonitor(DBusConnection& sessionBus, DBusConnection& systemBus, QString sessionId)
    : sessionBus_(sessionBus), systemBus_(systemBus), sessionId_(std::move(sessionId)) {}

QString DBusSessionMonitor::defaultSessionId() { return qEnvironmentVariable("XDG_SESSION_ID"); }

AnyCancellable DBusSessionMonitor::resolveSessionPath(std::function<void(const QString& path)> ready) {
    if (!sessionPath_.isEmpty()) {
        ready(sessionPath_);
        return {};
    }
    // Every observation waits on one lookup, so that all of them watch the session before the path
    // is known: one looking it up on its own would still miss what the session does meanwhile.
    const uint64_t id = lookup_->nextId++;
    lookup_->waiting.emplace(id, std::move(ready));
    if (!lookup_->call.isActive()) {
        DBusCall call{kLogindService, kLogindPath, kManagerInterface, QString(), {}};
        if (!sessionId_.isEmpty()) {
            call.method = QStringLiteral("GetSession");
            call.arguments = {sessionId_};
        } else {
            call.method = QStringLiteral("GetSessionByPID");
            call.arguments = {static_cast<uint>(getpid())};
        }
        // The monitor owns the call: it ends with the monitor.
        lookup_->call = systemBus_.callAsync(call, lookupTimeout, [this](const DBusReply& reply) { sessionPathAnswered(reply); });
    }
    return AnyCancellable([weak = std::weak_ptr<PathLookup>(lookup_), id] {
        if (auto lookup = weak.lock()) lookup->waiting.erase(id);
    });
}

void DBusSessionMonitor::sessionPathAnswered(const DBusReply& reply) {
    const auto waiting = std::exchange(lookup_->waiting, {});
    lookup_->call = AnyCancellable();
    // No logind (or a process outside any session): the other sources still report, and a later
    // observation asks again.
    if (!reply.ok()) return;
    const QString path = pathOf(reply.value());
    if (path.isEmpty()) return;
    for (const auto& [id, ready] : waiting) ready(path);
    sessionPath_ = path;
}

const QStringList& DBusSessionMonitor::screenSaverNames() {
    static const QStringList names{QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver"),
                                   QStringLiteral("org.xfce.ScreenSaver"), QStringLiteral("org.mate.ScreenSaver"),
                                   QStringLiteral("org.cinnamon.ScreenSaver")};
    return names;
}

AnyCancellable DBusSessionMonitor::observeSessionActive(std::function<void(bool active)> handler) {
    auto observation = std::make_shared<Observation>();
    std::weak_ptr<Observation> weak = observation;
    auto shared = std::make_shared<std::function<void(bool)>>(std::move(handler));
    observation->parts.push_back(resolveSessionPath([this, weak, shared](const QString& path) {
        auto live = weak.lock();
        if (!live) return;
        live->parts.push_back(systemBus_.subscribePropertiesChanged(
            kLogindService, path, kSessionInterface, [shared](const QVariantMap& changed, const QStringList&) {
                const auto it = changed.find(QStringLiteral("Active"));
                if (it != changed.end()) (*shared)(it->toBool());
            }));
    }));
    return own(observation);
}

AnyCancellable DBusSessionMonitor::observeScreenLock(std::function<void(bool locked)> handler) {
    auto observation = std::make_shared<Observation>();
    std::weak_ptr<Observation> weak = observation;
    auto shared = std::make_shared<std::function<void(bool)>>(std::move(handler));

    for (const QString& name : screenSaverNames()) {
        observation->parts.push_back(sessionBus_.subscribe(
            DBusMatch{name, QString(), name, QStringLiteral("ActiveChanged"), QString()}, [shared](const DBusSignal& s) {
                if (!s.arguments.isEmpty()) (*shared)(s.arguments.first().toBool());
            }));
    }
    observation->parts.push_back(resolveSessionPath([this, weak, shared](const QString& path) {
        auto live = weak.lock();
        if (!live) return;
        for (const bool locked : {true, false}) {
            const QString member = locked ? QStringLiteral("Lock") : QStringLiteral("Unlock");
            live->parts.push_back(systemBus_.subscribe(DBusMatch{kLogindService, path, kSessionInterface, member, QString()},
                                                       [shared, locked](const DBusSignal&) { (*shared)(locked); }));
        }
        // What the locker reports once the lock screen is up or gone; Lock/Unlock above are only
        // requests to the locker, and some lockers answer nothing else.
        live->parts.push_back(systemBus_.subscribePropertiesChanged(
            kLogindService, path, kSessionInterface, [shared](const QVariantMap& changed, const QStringList&) {
                const auto it = changed.find(QStringLiteral("LockedHint"));
                if (it != changed.end()) (*shared)(it->toBool());
            }));
    }));
    return own(observation);
}

namespace {
SessionMonitor* monitorOverride = nullptr;
}

SessionMonitor& SessionMonitor::shared() {
    if (monitorOverride) return *monitorOverride;
    static auto* monitor = new DBusSessionMonitor();
    return *monitor;
}

SessionMonitor* SessionMonitor::setShared(SessionMonitor* monitor) { return std::exchange(monitorOverride, monitor); }

}  // namespace platform
