#include "platform/accessibility/atspi_reader.h"

#include "platform/dbus/dbus_connection.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QThread>
#include <QUuid>

#include <deque>

namespace platform::atspi {

namespace {

const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kRegistry = QStringLiteral("org.a11y.atspi.Registry");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");

// Each call waits at most this long; a daemon that does not answer in time is read again at its
// next announcement, its last reading stays.
constexpr int kCallTimeoutMs = 1000;
// Events come in bursts (a popup announces its window, then each child): one reading after the
// burst settles.
constexpr int kCoalesceMs = 30;
// Applications announced this soon after a listing are taken as one burst, listed once at its end.
constexpr int kAnnouncementBurstMs = 100;
// A notification daemon that has no application on the accessibility bus (one without
// accessibility) is looked for again at most this often.
constexpr qint64 kRelistIntervalMs = 2000;
// The bounds of a reading, as those of the walks over it.
constexpr int kMaxNodes = 2000;
constexpr int kMaxDepth = 13;

// The events that keep a mirror current. A toolkit sends only events some client registered.
const char* const kRegisteredEvents[] = {"window:create", "window:destroy", "object:children-changed",
                                         "object:property-change:accessible-name", "object:text-changed"};

QDBusMessage methodCall(const QString& service, const QString& path, const QString& interface, const QString& method,
                        const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return message;
}

using ObjectRefs = std::vector<std::pair<QString, QString>>;  // (bus name, object path)

ObjectRefs objectRefs(const QVariant& value) {
    ObjectRefs refs;
    if (!value.canConvert<QDBusArgument>()) return refs;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QString bus;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> bus >> path;
        argument.endStructure();
        refs.emplace_back(bus, path.path());
    }
    argument.endArray();
    return refs;
}

std::optional<std::pair<QString, QString>> objectRef(const QVariant& value) {
    QVariant inner = value;
    if (inner.canConvert<QDBusVariant>()) inner = inner.value<QDBusVariant>().variant();
    if (!inner.canConvert<QDBusArgument>()) return std::nullopt;
    const QDBusArgument argument = inner.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::StructureType) return std::nullopt;
    QString bus;
    QDBusObjectPath path;
    argument.beginStructure();
    argument >> bus >> path;
    argument.endStructure();
    return std::make_pair(bus, path.path());
}

bool isReply(const QDBusMessage& reply) { return reply.type() == QDBusMessage::ReplyMessage; }

}  // namespace

Reader::Reader(std::shared_ptr<PublishedState> state, Deliver deliver)
    : state_(std::move(state)), deliver_(std::move(deliver)) {
    // A child, so it moves to the reader's thread with it.
    refreshTimer_.setParent(this);
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(kCoalesceMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &Reader::refreshDirty);
    relistTimer_.setParent(this);
    relistTimer_.setSingleShot(true);
    connect(&relistTimer_, &QTimer::timeout, this, &Reader::listAnnouncedApplications);
}

Reader::~Reader() = default;

void Reader::begin() {
    const QString address = platform::sessionBusAddress();
    if (!address.isEmpty()) {
        sessionName_ = QStringLiteral("quillvex-atspi-session-") + QUuid::createUuid().toString(QUuid::Id128);
        session_ = QDBusConnection::connectToBus(address, sessionName_);
    }
    if (session_.isConnected()) {
        // A daemon that takes over the notification service, or an accessibility bus that comes
        // or goes, is seen at once rather than at the next probe.
        session_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                         QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), {kNotifications},
                         QString(), this, SLOT(onNotificationsOwnerChanged()));
        session_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                         QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"),
                         {QStringLiteral("org.a11y.Bus")}, QString(), this, SLOT(onA11yBusOwnerChanged()));
        // The launcher announces each turn of the desktop's switch.
        const bool followed =
            session_.connect(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), kProperties,
                             QStringLiteral("PropertiesChanged"), this, SLOT(onA11yStatusChanged()));
        std::lock_guard lock(state_->mutex);
        state_->trustFollowed = followed;
    }
    probe();
}

void Reader::shutdown() {
    refreshTimer_.stop();
    relistTimer_.stop();
    dropAccessibilityBus();
    if (!sessionName_.isEmpty()) {
        session_ = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(sessionName_);
        sessionName_.clear();
    }
}

void Reader::enable() {
    if (session_.isConnected()) {
        session_.call(methodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), kProperties,
                                 QStringLiteral("Set"),
                                 {QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"),
                                  QVariant::fromValue(QDBusVariant(true))}),
                      QDBus::Block, kCallTimeoutMs);
    }
    probe();
}

void Reader::watch(int pid) {
    if (!watched_.insert(pid).second) return;
    if (a11y_.isConnected() && enabled_) refresh(pid);
    publish();
}

void Reader::onNotificationsOwnerChanged() {
    ownerStale_ = true;
    probe();
}

void Reader::onA11yBusOwnerChanged() {
    addressStale_ = true;
    probe();
}

void Reader::onA11yStatusChanged() { probe(); }

// The owners of the accessibility bus and of the notification service are followed by their
// owner changes, so a probe asks again only for the switch (whose change signal probes too).
void Reader::probe() {
    QString address = addressStale_ || !a11y_.isConnected() ? QString() : a11yAddress_;
    enabled_ = false;
    if (session_.isConnected()) {
        if (address.isEmpty()) {
            const QDBusMessage reply = session_.call(
                methodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"),
                           QStringLiteral("GetAddress")),
                QDBus::Block, kCallTimeoutMs);
            if (isReply(reply) && !reply.arguments().isEmpty()) address = reply.arguments().constFirst().toString();
            addressStale_ = false;
        }
        if (!address.isEmpty()) {
            const QDBusMessage status = session_.call(
                methodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), kProperties,
                           QStringLiteral("Get"), {QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled")}),
                QDBus::Block, kCallTimeoutMs);
            if (isReply(status) && !status.arguments().isEmpty())
                enabled_ = status.arguments().constFirst().value<QDBusVariant>().variant().toBool();
        }
    }
    if (address.isEmpty()) {
        dropAccessibilityBus();
    } else if (address != a11yAddress_ || !a11y_.isConnected()) {
        dropAccessibilityBus();
        connectAccessibilityBus(address);
    }

    const auto pid = ownerStale_ ? notificationOwnerPid() : notificationPid_;
    ownerStale_ = false;
    const bool ownerChanged = pid != notificationPid_;
    notificationPid_ = pid;
    if (pid) watched_.insert(*pid);

    if (a11y_.isConnected() && enabled_) {
        bool missing = false;
        for (int32_t watched : watched_) {
            bool found = false;
            for (auto it = appPids_.cbegin(); it != appPids_.cend(); ++it) found = found || it.value() == watched;
            missing = missing || !found;
        }
        if (ownerChanged || !lastListing_.isValid() || (missing && lastListing_.elapsed() >= kRelistIntervalMs))
            listApplications();
        for (int32_t watched : watched_)
            if (!mirrors_.count(watched)) refresh(watched);
    }
    publish();
}

std::optional<int32_t> Reader::notificationOwnerPid() {
    if (!session_.isConnected()) return std::nullopt;
    const QString bus = QStringLiteral("org.freedesktop.DBus");
    const QString path = QStringLiteral("/org/freedesktop/DBus");
    const QDBusMessage owner =
        session_.call(methodCall(bus, path, bus, QStringLiteral("GetNameOwner"), {kNotifications}), QDBus::Block,
                      kCallTimeoutMs);
    if (!isReply(owner) || owner.arguments().isEmpty()) return std::nullopt;
    const QDBusMessage pid = session_.call(
        methodCall(bus, path, bus, QStringLiteral("GetConnectionUnixProcessID"), {owner.arguments().constFirst()}),
        QDBus::Block, kCallTimeoutMs);
    if (!isReply(pid) || pid.arguments().isEmpty()) return std::nullopt;
    return static_cast<int32_t>(pid.arguments().constFirst().toUInt());
}

bool Reader::connectAccessibilityBus(const QString& address) {
    a11yName_ = QStringLiteral("quillvex-atspi-") + QUuid::createUuid().toString(QUuid::Id128);
    a11y_ = QDBusConnection::connectToBus(address, a11yName_);
    if (!a11y_.isConnected()) {
        dropAccessibilityBus();
        return false;
    }
    a11yAddress_ = address;
    for (const char* member : {"Create", "Destroy"})
        a11y_.connect(QString(), QString(), QStringLiteral("org.a11y.atspi.Event.Window"), QString::fromLatin1(member),
                      this, SLOT(onEvent(QDBusMessage)));
    for (const char* member : {"ChildrenChanged", "PropertyChange", "TextChanged"})
        a11y_.connect(QString(), QString(), QStringLiteral("org.a11y.atspi.Event.Object"), QString::fromLatin1(member),
                      this, SLOT(onEvent(QDBusMessage)));
    // Applications joining the desktop are announced as children of the registry's root.
    a11y_.connect(QString(), kRootPath, QStringLiteral("org.a11y.atspi.Event.Object"),
                  QStringLiteral("ChildrenChanged"), this, SLOT(onRootChildrenChanged(QDBusMessage)));
    a11y_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                  SLOT(onA11yNameOwnerChanged(QString, QString, QString)));
    // The registry keeps a registration only while this connection lives.
    for (const char* event : kRegisteredEvents) {
        a11y_.asyncCall(methodCall(kRegistry, QStringLiteral("/org/a11y/atspi/registry"), kRegistry,
                                   QStringLiteral("RegisterEvent"),
                                   {QString::fromLatin1(event), QStringList(), QString()}),
                        kCallTimeoutMs);
    }
    return true;
}

void Reader::dropAccessibilityBus() {
    if (!a11yName_.isEmpty()) {
        a11y_ = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(a11yName_);
        a11yName_.clear();
    }
    a11yAddress_.clear();
    appPids_.clear();
    lastListing_.invalidate();
    mirrors_.clear();
    dirty_.clear();
    pending_.clear();
    ids_.clear();
}

void Reader::listApplications() {
    lastListing_.start();
    const QDBusMessage reply = a11y_.call(
        methodCall(kRegistry, kRootPath, kAccessible, QStringLiteral("GetChildren")), QDBus::Block, kCallTimeoutMs);
    if (!isReply(reply) || reply.arguments().isEmpty()) return;
    QHash<QString, int32_t> pids;
    std::vector<std::pair<QString, QDBusPendingCall>> lookups;
    for (const auto& [bus, path] : objectRefs(reply.arguments().constFirst())) {
        if (auto known = appPids_.constFind(bus); known != appPids_.constEnd()) {
            pids.insert(bus, *known);
            continue;
        }
        const QString dbus = QStringLiteral("org.freedesktop.DBus");
        lookups.emplace_back(bus, a11y_.asyncCall(methodCall(dbus, QStringLiteral("/org/freedesktop/DBus"), dbus,
                                                             QStringLiteral("GetConnectionUnixProcessID"), {bus}),
                                                  kCallTimeoutMs));
    }
    for (auto& [bus, call] : lookups) {
        QDBusPendingReply<uint> pid(call);
        pid.waitForFinished();
        if (pid.isValid()) pids.insert(bus, static_cast<int32_t>(pid.value()));
    }
    appPids_ = std::move(pids);
    for (auto it = mirrors_.begin(); it != mirrors_.end();) {
        it = appPids_.contains(it->second->busName) ? std::next(it) : mirrors_.erase(it);
    }
}

void Reader::onRootChildrenChanged(const QDBusMessage& message) {
    if (appPids_.contains(message.service()) || !a11y_.isConnected()) return;
    // The registry announces an application; one listing serves a burst of them. One announced
    // just after a listing may have joined too late for it: the burst's end lists again.
    if (lastListing_.isValid() && lastListing_.elapsed() < kAnnouncementBurstMs) {
        if (!relistTimer_.isActive())
            relistTimer_.start(static_cast<int>(kAnnouncementBurstMs - lastListing_.elapsed()) + 1);
        return;
    }
    listAnnouncedApplications();
}

void Reader::listAnnouncedApplications() {
    if (!a11y_.isConnected()) return;
    listApplications();
    for (int32_t watched : watched_)
        if (!mirrors_.count(watched)) refresh(watched);
    publish();
}

void Reader::onA11yNameOwnerChanged(const QString& name, const QString&, const QString& newOwner) {
    if (!newOwner.isEmpty() || !appPids_.contains(name)) return;
    appPids_.remove(name);
    for (auto it = mirrors_.begin(); it != mirrors_.end();) {
        it = it->second->busName == name ? mirrors_.erase(it) : std::next(it);
    }
    publish();
}

void Reader::onEvent(const QDBusMessage& message) {
    const QString sender = message.service();
    auto app = appPids_.constFind(sender);
    if (app == appPids_.constEnd() || !watched_.count(*app)) return;
    const int32_t pid = *app;
    const QString interface = message.interface();
    const QString member = message.member();
    const QVariantList args = message.arguments();
    // A toolkit announces the role and parent of each object as a reader first touches it: only a
    // changed name or description changes what the mirror shows.
    if (member == QLatin1String("PropertyChange")) {
        const QString property = args.value(0).toString();
        if (property != QLatin1String("accessible-name") && property != QLatin1String("accessible-description")) return;
    }
    dirty_.insert(pid);

    if (interface == QLatin1String("org.a11y.atspi.Event.Window")) {
        const bool created = member == QLatin1String("Create");
        pending_[pid].push_back({created ? QStringLiteral("AXWindowCreated") : QStringLiteral("AXUIElementDestroyed"),
                                 idFor(sender, message.path())});
    } else if (member == QLatin1String("ChildrenChanged") && !args.isEmpty() &&
               args.constFirst().toString() == QLatin1String("add") && args.size() >= 4) {
        if (auto child = objectRef(args.at(3)); child && child->first == sender)
            pending_[pid].push_back({QStringLiteral("AXCreated"), idFor(sender, child->second)});
    }
    if (!refreshTimer_.isActive()) refreshTimer_.start();
}

void Reader::refreshDirty() {
    const std::set<int32_t> dirty = std::exchange(dirty_, {});
    for (int32_t pid : dirty) refresh(pid);
    publish();
    auto pending = std::exchange(pending_, {});
    for (auto& [pid, events] : pending)
        if (deliver_ && !events.empty()) deliver_(pid, std::move(events));
}

void Reader::refresh(int32_t pid) {
    QString busName;
    for (auto it = appPids_.cbegin(); it != appPids_.cend(); ++it)
        if (it.value() == pid) busName = it.key();
    if (busName.isEmpty()) {
        mirrors_.erase(pid);
        return;
    }
    std::optional<Mirror> fresh = read(pid, busName);
    if (!fresh) return;  // the daemon did not answer: its last reading stays
    auto old = mirrors_.find(pid);
    if (old != mirrors_.end() && old->second->busName == busName && old->second->sameContent(*fresh)) return;
    // Unique across mirrors and their replacements, so a reading cached for one never passes for another.
    fresh->generation = ++generations_;
    mirrors_[pid] = std::make_shared<const Mirror>(std::move(*fresh));
}

uint64_t Reader::idFor(const QString& busName, const QString& path) {
    const QString key = busName + QLatin1Char(' ') + path;
    auto it = ids_.find(key);
    if (it == ids_.end()) it = ids_.insert(key, nextId_++);
    return *it;
}

// Reads the application's tree a level at a time, each level's calls in flight together, so a
// popup of a dozen objects costs a handful of round trips.
std::optional<Mirror> Reader::read(int32_t pid, const QString& busName) {
    Mirror mirror;
    mirror.pid = pid;
    mirror.busName = busName;

    struct Pending {
        uint64_t id;
        QString path;
        QDBusPendingCall role, properties, children, text;
    };
    auto ask = [&](const QString& path, const QString& interface, const QString& method, const QVariantList& args = {}) {
        return a11y_.asyncCall(methodCall(busName, path, interface, method, args), kCallTimeoutMs);
    };

    const QDBusMessage rootName =
        a11y_.call(methodCall(busName, kRootPath, kProperties, QStringLiteral("Get"), {kAccessible, QStringLiteral("Name")}),
                   QDBus::Block, kCallTimeoutMs);
    if (!isReply(rootName)) return std::nullopt;
    if (!rootName.arguments().isEmpty())
        mirror.applicationName = rootName.arguments().constFirst().value<QDBusVariant>().variant().toString();
    const QDBusMessage rootChildren =
        a11y_.call(methodCall(busName, kRootPath, kAccessible, QStringLiteral("GetChildren")), QDBus::Block, kCallTimeoutMs);
    if (!isReply(rootChildren) || rootChildren.arguments().isEmpty()) return std::nullopt;

    std::vector<std::pair<uint64_t, QString>> level;
    for (const auto& [bus, path] : objectRefs(rootChildren.arguments().constFirst())) {
        if (bus != busName) continue;
        const uint64_t id = idFor(busName, path);
        mirror.windows.push_back(id);
        level.emplace_back(id, path);
    }

    int nodes = 0;
    for (int depth = 0; depth < kMaxDepth && !level.empty() && nodes < kMaxNodes; ++depth) {
        std::vector<Pending> calls;
        for (const auto& [id, path] : level) {
            if (nodes++ >= kMaxNodes) break;
            calls.push_back({id, path, ask(path, kAccessible, QStringLiteral("GetRoleName")),
                             ask(path, kProperties, QStringLiteral("GetAll"), {kAccessible}),
                             ask(path, kAccessible, QStringLiteral("GetChildren")),
                             ask(path, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"), {0, -1})});
        }
        std::vector<std::pair<uint64_t, QString>> next;
        for (Pending& call : calls) {
            call.role.waitForFinished();
            QDBusPendingReply<QString> role(call.role);
            if (role.isError() && role.error().type() == QDBusError::NoReply) return std::nullopt;
            MirrorNode node;
            node.topLevel = depth == 0;
            if (role.isValid()) node.role = role.value();
            QDBusPendingReply<QVariantMap> properties(call.properties);
            properties.waitForFinished();
            if (properties.isValid()) {
                const QVariantMap map = properties.value();
                node.name = map.value(QStringLiteral("Name")).toString();
                node.description = map.value(QStringLiteral("Description")).toString();
                node.accessibleId = map.value(QStringLiteral("AccessibleId")).toString();
            }
            QDBusPendingReply<QString> text(call.text);
            text.waitForFinished();
            if (text.isValid()) node.text = text.value();
            call.children.waitForFinished();
            const QDBusMessage children = call.children.reply();
            if (isReply(children) && !children.arguments().isEmpty()) {
                for (const auto& [bus, path] : objectRefs(children.arguments().constFirst())) {
                    if (bus != busName) continue;  // an embedded object of another process is not read
                    const uint64_t child = idFor(busName, path);
                    if (mirror.nodes.count(child)) continue;  // a cycle in a broken tree
                    node.children.push_back(child);
                    next.emplace_back(child, path);
                }
            }
            mirror.nodes.emplace(call.id, std::move(node));
        }
        level = std::move(next);
    }
    return mirror;
}

void Reader::publish() {
    std::set<int32_t> accessible;
    for (auto it = appPids_.cbegin(); it != appPids_.cend(); ++it) accessible.insert(it.value());
    std::lock_guard lock(state_->mutex);
    state_->trusted = a11y_.isConnected() && enabled_;
    state_->notificationServerPid = notificationPid_;
    state_->accessiblePids = std::move(accessible);
    state_->mirrors = mirrors_;
}

}  // namespace platform::atspi
