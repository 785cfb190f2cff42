#pragma once

#include "platform/runtime/reactive.h"

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <chrono>
#include <functional>
#include <memory>

namespace platform {

// One D-Bus method call. Arguments are marshalled by Qt's rules: QString -> s, uint -> u,
// int -> i, bool -> b, QStringList -> as, QVariantMap -> a{sv}; wrap in QDBusVariant/
// QDBusObjectPath where a signature needs it.
struct DBusCall {
    QString service;
    QString path;
    QString interface;
    QString method;
    QVariantList arguments;
};

// What came back. Values are plain Qt values: containers arrive as QVariantMap/QVariantList/
// QStringList, variants unwrapped, object paths as QDBusObjectPath, so callers never see a
// QDBusArgument.
struct DBusReply {
    enum class Status {
        ok,
        error,     // the peer (or the bus) answered with an error
        timedOut,  // no answer within the call's timeout
        noBus,     // not connected to the bus
    };
    Status status = Status::noBus;
    QVariantList values;
    QString errorName;
    QString errorMessage;

    bool ok() const { return status == Status::ok; }
    QVariant value(int index = 0) const { return index < values.size() ? values.at(index) : QVariant(); }
};

// Which signals a subscription receives; an empty field matches anything. `service` may be a
// well-known name (the bus resolves it to its current owner) or a unique name.
struct DBusMatch {
    QString service;
    QString path;
    QString interface;
    QString member;
    QString arg0;  // only signals whose first argument is this string (e.g. NameOwnerChanged)
    // Also signals sent to another connection, which a bus hands on only to an eavesdropping match
    // (where the bus allows it).
    bool eavesdrop = false;
    // Runs once, on the main thread, with the bus's error when it refuses the eavesdropping match
    // (dbus-broker refuses every one): the subscription then hears only what is sent to everyone
    // or to us.
    std::function<void(const QString& errorName)> eavesdropRefused = nullptr;
};

struct DBusSignal {
    QString sender;  // unique name of the emitter
    QString path;
    QString interface;
    QString member;
    QVariantList arguments;  // plain values, as in DBusReply
};

// One bus (session or system). Every call carries its own timeout: there is no default, so no
// caller inherits the library's 25 s wait. Use the main thread for everything; callbacks and
// signal handlers run on the main thread.
class DBusConnection {
public:
    using Timeout = std::chrono::milliseconds;
    using ReplyHandler = std::function<void(const DBusReply&)>;
    using SignalHandler = std::function<void(const DBusSignal&)>;

    virtual ~DBusConnection() = default;

    // The process-wide connections to the user's session bus and the system bus (from
    // DBUS_SESSION_BUS_ADDRESS / DBUS_SYSTEM_BUS_ADDRESS, as libdbus finds them).
    static DBusConnection& session();
    static DBusConnection& system();
    // Replaces session()/system() (tests); returns the previous one, nullptr restores the default.
    static DBusConnection* setSession(DBusConnection* connection);
    static DBusConnection* setSystem(DBusConnection* connection);

    // Whether the bus is reachable now.
    virtual bool isConnected() const = 0;
    // This connection's unique name (":1.42"), empty when not connected.
    virtual QString uniqueName() const = 0;

    // Calls and waits at most `timeout` (blocks the calling thread: keep it short on the main
    // thread, or use callAsync). A zero or negative timeout waits the shortest time, never the
    // library's default.
    virtual DBusReply call(const DBusCall& call, Timeout timeout) = 0;
    // Calls without waiting; `done` runs once on the main thread with the reply, the error, or
    // timedOut after `timeout`. Cancelling (or dropping) the cancellable drops the callback.
    [[nodiscard]] virtual AnyCancellable callAsync(const DBusCall& call, Timeout timeout, ReplyHandler done) = 0;
    // Receives matching signals on the main thread until the cancellable is cancelled or dropped;
    // signals already queued when it is cancelled are dropped too. The match needs an interface
    // or a member: without one (or without a bus) the cancellable comes back inactive.
    [[nodiscard]] virtual AnyCancellable subscribe(const DBusMatch& match, SignalHandler handler) = 0;

    // org.freedesktop.DBus.Properties helpers built on the calls above. The reply's value(0) is
    // the property (unwrapped), or for getAll a QVariantMap of name -> value.
    DBusReply property(const QString& service, const QString& path, const QString& interface, const QString& name,
                       Timeout timeout);
    [[nodiscard]] AnyCancellable propertyAsync(const QString& service, const QString& path, const QString& interface,
                                               const QString& name, Timeout timeout, ReplyHandler done);
    [[nodiscard]] AnyCancellable allPropertiesAsync(const QString& service, const QString& path,
                                                    const QString& interface, Timeout timeout, ReplyHandler done);
    [[nodiscard]] AnyCancellable setPropertyAsync(const QString& service, const QString& path, const QString& interface,
                                                  const QString& name, const QVariant& value, Timeout timeout,
                                                  ReplyHandler done);
    // PropertiesChanged of `interface` at `path`: handler(changed, invalidated names).
    [[nodiscard]] AnyCancellable subscribePropertiesChanged(
        const QString& service, const QString& path, const QString& interface,
        std::function<void(const QVariantMap& changed, const QStringList& invalidated)> handler);
    // Owner changes of one well-known name: handler(newOwner), empty when the name went away.
    [[nodiscard]] AnyCancellable watchNameOwner(const QString& name, std::function<void(const QString& newOwner)> handler);
    // Owner changes of every name in a namespace ("org.mpris.MediaPlayer2" covers it and the names
    // below it): handler(name, newOwner), newOwner empty when the name went away. On a real bus
    // only those changes are sent to us, so other clients coming and going wake nothing.
    [[nodiscard]] virtual AnyCancellable watchNameNamespace(const QString& space,
                                                            std::function<void(const QString& name, const QString& newOwner)> handler);
    // Names currently on the bus (ListNames), empty on failure.
    [[nodiscard]] AnyCancellable listNamesAsync(Timeout timeout, std::function<void(const QStringList& names)> done);
};

// The session bus address as libdbus finds it (DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus), but never by launching a bus; empty when there is none.
QString sessionBusAddress();

// Qt DBus on a real bus.
class QtDBusConnection final : public DBusConnection {
public:
    enum class Bus { session, system };
    // The user's session or the system bus.
    explicit QtDBusConnection(Bus bus);
    // A bus by address (private buses in tests); `name` must be unique in the process.
    QtDBusConnection(const QString& address, const QString& name);
    ~QtDBusConnection() override;

    bool isConnected() const override;
    QString uniqueName() const override;
    DBusReply call(const DBusCall& call, Timeout timeout) override;
    [[nodiscard]] AnyCancellable callAsync(const DBusCall& call, Timeout timeout, ReplyHandler done) override;
    [[nodiscard]] AnyCancellable subscribe(const DBusMatch& match, SignalHandler handler) override;
    [[nodiscard]] AnyCancellable watchNameNamespace(const QString& space,
                                                    std::function<void(const QString& name, const QString& newOwner)> handler) override;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
