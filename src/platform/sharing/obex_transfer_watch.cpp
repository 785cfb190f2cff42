#include "platform/sharing/obex_transfer_watch.h"

#include "platform/sharing/obex.h"

#include <QStringList>

#include <map>
#include <utility>

namespace platform {

namespace {

const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kStatus = QStringLiteral("Status");
const QString kFilename = QStringLiteral("Filename");

}  // namespace

bool isIncomingTransfer(const QString& path) { return path.startsWith(obex::serverSessionsPrefix); }

struct ObexTransferWatch::State : std::enable_shared_from_this<State> {
    struct Entry {
        QVariantMap properties;
        bool ended = false;
        bool filenameAsked = false;
    };

    explicit State(DBusConnection& bus, EndHandler ended) : bus(bus), ended(std::move(ended)) {}

    DBusConnection& bus;
    EndHandler ended;
    bool alive = true;
    std::map<QString, Entry> transfers;
    std::vector<AnyCancellable> subscriptions;
    std::map<uint64_t, AnyCancellable> lookups;
    uint64_t nextLookup = 0;

    // Runs one lookup; its cancellable goes once it has answered.
    void lookup(const DBusCall& call, std::function<void(State&, const DBusReply&)> done) {
        const uint64_t id = nextLookup++;
        std::weak_ptr<State> weak = weak_from_this();
        AnyCancellable pending = bus.callAsync(call, lookupTimeout, [weak, id, done](const DBusReply& reply) {
            auto state = weak.lock();
            if (!state || !state->alive) return;
            state->lookups.erase(id);
            done(*state, reply);
        });
        if (pending.isActive()) lookups.emplace(id, std::move(pending));
    }

    void readManagedObjects() {
        lookup({obex::service, obex::managerPath, kObjectManager, QStringLiteral("GetManagedObjects"), {}},
               [](State& state, const DBusReply& reply) {
                   if (!reply.ok()) return;
                   const QVariantMap objects = reply.value().toMap();
                   for (auto it = objects.begin(); it != objects.end() && state.alive; ++it)
                       state.added(it.key(), it->toMap(), /*announced=*/false);
               });
    }

    // A transfer object seen whole: announced now, or already there when the watch started
    // (then a final Status means it ended before we knew of it).
    void added(const QString& path, const QVariantMap& interfaces, bool announced) {
        const auto transfer = interfaces.find(obex::transferInterface);
        if (transfer == interfaces.end()) return;
        const bool known = transfers.count(path) > 0;
        Entry& entry = transfers[path];
        // What changed since is newer than this picture of the object.
        const QVariantMap properties = transfer->toMap();
        for (auto it = properties.begin(); it != properties.end(); ++it)
            if (!entry.properties.contains(it.key())) entry.properties.insert(it.key(), *it);
        const QString status = entry.properties.value(kStatus).toString();
        if (!announced && !known && (status == QLatin1String("complete") || status == QLatin1String("error"))) {
            entry.ended = true;
            return;
        }
        settle(path);
    }

    void changed(const QString& path, const QVariantMap& properties) {
        const bool known = transfers.count(path) > 0;
        Entry& entry = transfers[path];
        for (auto it = properties.begin(); it != properties.end(); ++it) entry.properties.insert(it.key(), *it);
        if (!known) {
            // Learned from a change alone: the rest of the object is read now, while it exists.
            lookup({obex::service, path, kProperties, QStringLiteral("GetAll"), {obex::transferInterface}},
                   [path](State& state, const DBusReply& reply) {
                       const auto it = state.transfers.find(path);
                       if (!reply.ok() || it == state.transfers.end()) return;
                       const QVariantMap all = reply.value().toMap();
                       for (auto p = all.begin(); p != all.end(); ++p)
                           if (!it->second.properties.contains(p.key())) it->second.properties.insert(p.key(), *p);
                   });
        }
        settle(path);
    }

    void removed(const QString& path, const QStringList& interfaces) {
        if (!interfaces.contains(obex::transferInterface)) return;
        const auto it = transfers.find(path);
        if (it == transfers.end()) return;
        Entry entry = std::move(it->second);
        transfers.erase(it);
        if (!entry.ended) tell(Ending{path, false, entry.properties});
    }

    void serviceLeft() {
        auto gone = std::move(transfers);
        transfers.clear();
        for (auto& [path, entry] : gone) {
            if (!alive) return;
            if (!entry.ended) tell(Ending{path, false, entry.properties});
        }
    }

    // Acts on a transfer's status: reads its Filename once data flows, tells its end.
    void settle(const QString& path) {
        const auto it = transfers.find(path);
        if (it == transfers.end() || it->second.ended) return;
        Entry& entry = it->second;
        const QString status = entry.properties.value(kStatus).toString();
        if (status == QLatin1String("complete") || status == QLatin1String("error")) {
            entry.ended = true;
            tell(Ending{path, status == QLatin1String("complete"), entry.properties});
            return;
        }
        if (status == QLatin1String("active") && entry.properties.value(kFilename).toString().isEmpty() &&
            !entry.filenameAsked) {
            entry.filenameAsked = true;
            lookup({obex::service, path, kProperties, QStringLiteral("Get"), {obex::transferInterface, kFilename}},
                   [path](State& state, const DBusReply& reply) {
                       const auto it = state.transfers.find(path);
                       if (!reply.ok() || it == state.transfers.end() || reply.value().toString().isEmpty()) return;
                       it->second.properties.insert(kFilename, reply.value().toString());
                   });
        }
    }

    void tell(const Ending& ending) {
        // A copy: the handler may destroy the watch, and this state with it once we return.
        auto keep = shared_from_this();
        EndHandler handler = ended;
        if (handler) handler(ending);
    }
};

ObexTransferWatch::ObexTransferWatch(DBusConnection& sessionBus, EndHandler ended)
    : state_(std::make_shared<State>(sessionBus, std::move(ended))) {
    std::weak_ptr<State> weak = state_;
    auto guarded = [weak](auto fn) {
        return [weak, fn](const DBusSignal& signal) {
            auto state = weak.lock();
            if (state && state->alive) fn(*state, signal);
        };
    };
    state_->subscriptions.push_back(sessionBus.subscribe(
        DBusMatch{obex::service, QString(), kProperties, QStringLiteral("PropertiesChanged"), obex::transferInterface},
        guarded([](State& state, const DBusSignal& signal) {
            if (signal.arguments.size() < 2) return;
            state.changed(signal.path, signal.arguments.at(1).toMap());
        })));
    state_->subscriptions.push_back(sessionBus.subscribe(
        DBusMatch{obex::service, obex::managerPath, kObjectManager, QStringLiteral("InterfacesAdded"), QString()},
        guarded([](State& state, const DBusSignal& signal) {
            if (signal.arguments.size() < 2) return;
            state.added(obex::objectPath(signal.arguments.at(0)), signal.arguments.at(1).toMap(), /*announced=*/true);
        })));
    state_->subscriptions.push_back(sessionBus.subscribe(
        DBusMatch{obex::service, obex::managerPath, kObjectManager, QStringLiteral("InterfacesRemoved"), QString()},
        guarded([](State& state, const DBusSignal& signal) {
            if (signal.arguments.size() < 2) return;
            state.removed(obex::objectPath(signal.arguments.at(0)), signal.arguments.at(1).toStringList());
        })));
    state_->subscriptions.push_back(sessionBus.watchNameOwner(obex::service, [weak](const QString& owner) {
        auto state = weak.lock();
        if (!state || !state->alive) return;
        // obexd left (its transfers went with it) or came back (started on demand).
        state->serviceLeft();
        if (state->alive && !owner.isEmpty()) state->readManagedObjects();
    }));
    state_->readManagedObjects();
}

ObexTransferWatch::~ObexTransferWatch() {
    state_->alive = false;
    state_->ended = nullptr;
    auto subscriptions = std::move(state_->subscriptions);
    auto lookups = std::move(state_->lookups);
    for (auto& s : subscriptions) s.cancel();
    for (auto& [id, lookup] : lookups) lookup.cancel();
}

void ObexTransferWatch::follow(const QString& path, const QVariantMap& properties) {
    state_->added(path, QVariantMap{{obex::transferInterface, properties}}, /*announced=*/true);
}

QVariantMap ObexTransferWatch::propertiesOf(const QString& path) const {
    const auto it = state_->transfers.find(path);
    return it == state_->transfers.end() ? QVariantMap() : it->second.properties;
}

}  // namespace platform
