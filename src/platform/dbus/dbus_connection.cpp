#include "platform/dbus/dbus_connection.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QFileInfo>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <atomic>

namespace platform {

namespace {

const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
// The bus answers AddMatch at once; one that does not within this has refused it.
constexpr int kAddMatchTimeoutMs = 10000;

QVariant plainValue(const QVariant& value);

// Reads the argument at the cursor of `arg` and advances past it.
QVariant readPlain(const QDBusArgument& arg) {
    switch (arg.currentType()) {
    case QDBusArgument::BasicType:
    case QDBusArgument::VariantType:
        return plainValue(arg.asVariant());
    case QDBusArgument::ArrayType: {
        const QString signature = arg.currentSignature();
        if (signature == QLatin1String("ay")) {
            QByteArray bytes;
            arg >> bytes;
            return bytes;
        }
        if (signature == QLatin1String("as")) {
            QStringList strings;
            arg >> strings;
            return strings;
        }
        QVariantList items;
        arg.beginArray();
        while (!arg.atEnd()) items.append(readPlain(arg));
        arg.endArray();
        return items;
    }
    case QDBusArgument::MapType: {
        QVariantMap map;
        arg.beginMap();
        while (!arg.atEnd()) {
            arg.beginMapEntry();
            const QVariant key = readPlain(arg);
            // Object paths key GetManagedObjects' answer; QVariant has no text for them.
            const QString text = key.metaType() == QMetaType::fromType<QDBusObjectPath>() ? key.value<QDBusObjectPath>().path()
                                                                                          : key.toString();
            map.insert(text, readPlain(arg));
            arg.endMapEntry();
        }
        arg.endMap();
        return map;
    }
    case QDBusArgument::StructureType: {
        QVariantList fields;
        arg.beginStructure();
        while (!arg.atEnd()) fields.append(readPlain(arg));
        arg.endStructure();
        return fields;
    }
    case QDBusArgument::MapEntryType:
    case QDBusArgument::UnknownType:
        break;
    }
    return {};
}

QVariant plainValue(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusVariant>()) return plainValue(value.value<QDBusVariant>().variant());
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) return readPlain(value.value<QDBusArgument>());
    return value;
}

QVariantList plainValues(const QVariantList& values) {
    QVariantList out;
    out.reserve(values.size());
    for (const auto& v : values) out.append(plainValue(v));
    return out;
}

DBusReply replyFrom(const QDBusMessage& message) {
    DBusReply reply;
    if (message.type() == QDBusMessage::ReplyMessage) {
        reply.status = DBusReply::Status::ok;
        reply.values = plainValues(message.arguments());
        return reply;
    }
    reply.errorName = message.errorName();
    reply.errorMessage = message.errorMessage();
    if (reply.errorName == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        reply.errorName == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        reply.status = DBusReply::Status::timedOut;
    else if (reply.errorName == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
             message.type() == QDBusMessage::InvalidMessage)
        reply.status = DBusReply::Status::noBus;
    else
        reply.status = DBusReply::Status::error;
    return reply;
}

// Never 0 or negative: Qt reads those as "use the 25 s default".
int timeoutMs(DBusConnection::Timeout timeout) {
    return static_cast<int>(std::clamp<long long>(timeout.count(), 1, 24 * 60 * 60 * 1000));
}

QDBusMessage messageFor(const DBusCall& call) {
    QDBusMessage message = QDBusMessage::createMethodCall(call.service, call.path, call.interface, call.method);
    message.setArguments(call.arguments);
    return message;
}

QString nextConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("platform-dbus-%1").arg(++counter);
}

DBusConnection* sessionOverride = nullptr;
DBusConnection* systemOverride = nullptr;

}  // namespace

QString sessionBusAddress() {
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty()) return QString::fromLocal8Bit(address);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QString socket = QString::fromLocal8Bit(runtime) + QStringLiteral("/bus");
        if (QFileInfo(socket).exists()) return QStringLiteral("unix:path=") + socket;
    }
    return {};
}

// Receives the signals of one subscription; dropped (never called again) when cancelled.
class DBusSignalReceiver : public QObject {
    Q_OBJECT
public:
    explicit DBusSignalReceiver(DBusConnection::SignalHandler handler) : handler_(std::move(handler)) {}
    void deactivate() { handler_ = nullptr; }
    bool isActive() const { return static_cast<bool>(handler_); }

public Q_SLOTS:
    void receive(const QDBusMessage& message) {
        if (!handler_) return;
        DBusSignal signal{message.service(), message.path(), message.interface(), message.member(),
                          plainValues(message.arguments())};
        // A copy: the handler may cancel its own subscription.
        auto handler = handler_;
        handler(signal);
    }

private:
    DBusConnection::SignalHandler handler_;
};

struct QtDBusConnection::State {
    QString name;
    QDBusConnection connection{QString()};
    bool owned = false;
};

QtDBusConnection::QtDBusConnection(Bus bus) : state_(std::make_shared<State>()) {
    state_->name = nextConnectionName();
    if (bus == Bus::system) {
        state_->connection = QDBusConnection::connectToBus(QDBusConnection::SystemBus, state_->name);
    } else {
        const QString address = sessionBusAddress();
        state_->connection = address.isEmpty() ? QDBusConnection(state_->name)
                                               : QDBusConnection::connectToBus(address, state_->name);
    }
    state_->owned = true;
}

QtDBusConnection::QtDBusConnection(const QString& address, const QString& name) : state_(std::make_shared<State>()) {
    state_->name = name;
    state_->connection = QDBusConnection::connectToBus(address, name);
    state_->owned = true;
}

QtDBusConnection::~QtDBusConnection() {
    if (state_->owned) QDBusConnection::disconnectFromBus(state_->name);
}

bool QtDBusConnection::isConnected() const { return state_->connection.isConnected(); }

QString QtDBusConnection::uniqueName() const {
    return isConnected() ? state_->connection.baseService() : QString();
}

DBusReply QtDBusConnection::call(const DBusCall& call, Timeout timeout) {
    if (!isConnected()) return {};
    return replyFrom(state_->connection.call(messageFor(call), QDBus::Block, timeoutMs(timeout)));
}

AnyCancellable QtDBusConnection::callAsync(const DBusCall& call, Timeout timeout, ReplyHandler done) {
    auto handler = std::make_shared<ReplyHandler>(std::move(done));
    QObject* context = nullptr;
    if (!isConnected()) {
        // Answered on the next turn of the event loop, like any other answer.
        context = new QObject;
        QTimer::singleShot(0, context, [handler, context] {
            context->deleteLater();
            if (auto fn = std::exchange(*handler, nullptr)) fn(DBusReply{});
        });
    } else {
        auto* watcher = new QDBusPendingCallWatcher(state_->connection.asyncCall(messageFor(call), timeoutMs(timeout)));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [handler](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            if (auto fn = std::exchange(*handler, nullptr)) fn(replyFrom(w->reply()));
        });
        context = watcher;
    }
    QPointer<QObject> guard(context);
    return AnyCancellable([handler, guard] {
        *handler = nullptr;
        if (guard) guard->deleteLater();
    });
}

namespace {

QString eavesdropRuleFor(const DBusMatch& match) {
    QString rule = QStringLiteral("type='signal',eavesdrop='true'");
    const auto add = [&rule](const char* key, const QString& value) {
        if (!value.isEmpty()) rule += QStringLiteral(",%1='%2'").arg(QLatin1String(key), value);
    };
    add("sender", match.service);
    add("path", match.path);
    add("interface", match.interface);
    add("member", match.member);
    add("arg0", match.arg0);
    return rule;
}

QDBusMessage busMessage(const QString& method, const QString& rule) {
    QDBusMessage message = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, method);
    message << rule;
    return message;
}

}  // namespace

AnyCancellable QtDBusConnection::subscribe(const DBusMatch& match, SignalHandler handler) {
    if (!isConnected()) return {};
    auto* receiver = new DBusSignalReceiver(std::move(handler));
    const QStringList argumentMatch = match.arg0.isEmpty() ? QStringList() : QStringList{match.arg0};
    const bool ok = state_->connection.connect(match.service, match.path, match.interface, match.member,
                                               argumentMatch, QString(), receiver, SLOT(receive(QDBusMessage)));
    if (!ok) {
        delete receiver;
        return {};
    }
    // Qt's own rule hears only what is sent to everyone; the bus hands a signal addressed to another
    // connection to this one only under an eavesdropping rule, which Qt's dispatch then serves
    // like any other.
    const QString eavesdropRule = match.eavesdrop ? eavesdropRuleFor(match) : QString();
    if (!eavesdropRule.isEmpty()) {
        // Owned by the receiver: a subscription dropped before the answer hears no refusal.
        auto* added = new QDBusPendingCallWatcher(
            state_->connection.asyncCall(busMessage(QStringLiteral("AddMatch"), eavesdropRule), kAddMatchTimeoutMs), receiver);
        QObject::connect(added, &QDBusPendingCallWatcher::finished, receiver,
                         [receiver, refused = match.eavesdropRefused](QDBusPendingCallWatcher* watcher) {
                             watcher->deleteLater();
                             if (watcher->isError() && receiver->isActive() && refused) refused(watcher->error().name());
                         });
    }
    std::weak_ptr<State> weak = state_;
    QPointer<DBusSignalReceiver> guard(receiver);
    return AnyCancellable([weak, guard, match, argumentMatch, eavesdropRule] {
        if (!guard) return;
        guard->deactivate();
        if (auto state = weak.lock()) {
            state->connection.disconnect(match.service, match.path, match.interface, match.member, argumentMatch,
                                         QString(), guard.data(), SLOT(receive(QDBusMessage)));
            if (!eavesdropRule.isEmpty()) state->connection.send(busMessage(QStringLiteral("RemoveMatch"), eavesdropRule));
        }
        guard->deleteLater();
    });
}

// --- process-wide connections -------------------------------------------------------------

DBusConnection& DBusConnection::session() {
    if (sessionOverride) return *sessionOverride;
    static auto* connection = new QtDBusConnection(QtDBusConnection::Bus::session);
    return *connection;
}

DBusConnection& DBusConnection::system() {
    if (systemOverride) return *systemOverride;
    static auto* connection = new QtDBusConnection(QtDBusConnection::Bus::system);
    return *connection;
}

DBusConnection* DBusConnection::setSession(DBusConnection* connection) {
    return std::exchange(sessionOverride, connection);
}

DBusConnection* DBusConnection::setSystem(DBusConnection* connection) {
    return std::exchange(systemOverride, connection);
}

// --- helpers --------------------------------------------------------------------------------

DBusReply DBusConnection::property(const QString& service, const QString& path, const QString& interface,
                                   const QString& name, Timeout timeout) {
    return call({service, path, kProperties, QStringLiteral("Get"), {interface, name}}, timeout);
}

AnyCancellable DBusConnection::propertyAsync(const QString& service, const QString& path, const QString& interface,
                                             const QString& name, Timeout timeout, ReplyHandler done) {
    return callAsync({service, path, kProperties, QStringLiteral("Get"), {interface, name}}, timeout, std::move(done));
}

AnyCancellable DBusConnection::allPropertiesAsync(const QString& service, const QString& path,
                                                  const QString& interface, Timeout timeout, ReplyHandler done) {
    return callAsync({service, path, kProperties, QStringLiteral("GetAll"), {interface}}, timeout, std::move(done));
}

AnyCancellable DBusConnection::setPropertyAsync(const QString& service, const QString& path, const QString& interface,
                                                const QString& name, const QVariant& value, Timeout timeout,
                                                ReplyHandler done) {
    return callAsync({service, path, kProperties, QStringLiteral("Set"),
                      {interface, name, QVariant::fromValue(QDBusVariant(value))}},
                     timeout, std::move(done));
}

AnyCancellable DBusConnection::subscribePropertiesChanged(
    const QString& service, const QString& path, const QString& interface,
    std::function<void(const QVariantMap&, const QStringList&)> handler) {
    return subscribe({service, path, kProperties, QStringLiteral("PropertiesChanged"), interface},
                     [interface, handler = std::move(handler)](const DBusSignal& signal) {
                         if (signal.arguments.size() < 3 || signal.arguments.at(0).toString() != interface) return;
                         handler(signal.arguments.at(1).toMap(), signal.arguments.at(2).toStringList());
                     });
}

// NameOwnerChanged as the bus itself sends it: (name, old owner, new owner), all strings.
static bool isOwnerChange(const DBusSignal& signal) {
    if (signal.sender != kBusService || signal.arguments.size() != 3) return false;
    for (const QVariant& argument : signal.arguments)
        if (argument.metaType() != QMetaType::fromType<QString>()) return false;
    return true;
}

AnyCancellable DBusConnection::watchNameOwner(const QString& name, std::function<void(const QString&)> handler) {
    return subscribe({kBusService, kBusPath, kBusService, QStringLiteral("NameOwnerChanged"), name},
                     [name, handler = std::move(handler)](const DBusSignal& signal) {
                         if (!isOwnerChange(signal) || signal.arguments.at(0).toString() != name) return;
                         handler(signal.arguments.at(2).toString());
                     });
}

static bool inNameSpace(const QString& name, const QString& space) {
    return name == space || (name.startsWith(space) && name.at(space.size()) == QLatin1Char('.'));
}

AnyCancellable DBusConnection::watchNameNamespace(const QString& space,
                                                  std::function<void(const QString&, const QString&)> handler) {
    return subscribe({kBusService, kBusPath, kBusService, QStringLiteral("NameOwnerChanged"), {}},
                     [space, handler = std::move(handler)](const DBusSignal& signal) {
                         if (!isOwnerChange(signal)) return;
                         const QString name = signal.arguments.at(0).toString();
                         if (inNameSpace(name, space)) handler(name, signal.arguments.at(2).toString());
                     });
}

AnyCancellable QtDBusConnection::watchNameNamespace(const QString& space,
                                                    std::function<void(const QString&, const QString&)> handler) {
    if (!isConnected()) return {};
    // The watcher's wildcard asks the bus for arg0namespace matches alone.
    auto* watcher = new QDBusServiceWatcher(space + QLatin1Char('*'), state_->connection,
                                            QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, watcher,
                     [space, handler = std::move(handler)](const QString& name, const QString&, const QString& newOwner) {
                         if (inNameSpace(name, space)) handler(name, newOwner);
                     });
    QPointer<QDBusServiceWatcher> guard(watcher);
    return AnyCancellable([guard] {
        if (!guard) return;
        guard->disconnect();
        // Its match goes now, while the connection surely lives: the deferred deletion may run
        // after the connection has ended, and would then reach into it from the bus thread.
        guard->setWatchedServices({});
        guard->deleteLater();
    });
}

AnyCancellable DBusConnection::listNamesAsync(Timeout timeout, std::function<void(const QStringList&)> done) {
    return callAsync({kBusService, kBusPath, kBusService, QStringLiteral("ListNames"), {}}, timeout,
                     [done = std::move(done)](const DBusReply& reply) {
                         done(reply.ok() ? reply.value().toStringList() : QStringList());
                     });
}

}  // namespace platform

#include "dbus_connection.moc"
