#include "platform/input_source/fcitx5_tray_menu.h"

#include <QDBusObjectPath>

#include <utility>

namespace platform {

namespace {

const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kWatcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItem = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenu = QStringLiteral("com.canonical.dbusmenu");

DBusCall processOf(const QString& name) {
    return DBusCall{kBus, kBusPath, kBus, QStringLiteral("GetConnectionUnixProcessID"), {name}};
}

QString pathText(const QVariant& value) {
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
}

}  // namespace

Fcitx5TrayMenu::Fcitx5TrayMenu(DBusConnection& sessionBus) : sessionBus_(sessionBus) {}

Fcitx5TrayMenu::~Fcitx5TrayMenu() { stop(); }

void Fcitx5TrayMenu::start(const QString& fcitxOwner, std::function<void(const InputMethodStatus&, bool)> heard,
                           std::function<void()> known) {
    stop();
    heard_ = std::move(heard);
    known_ = std::move(known);
    registrations_ = sessionBus_.subscribe(
        DBusMatch{kWatcherName, kWatcherPath, kWatcherName, QStringLiteral("StatusNotifierItemRegistered"), QString()},
        lifetime_.wrap([this](const DBusSignal& signal) {
            if (signal.arguments.size() != 1 || signal.arguments.at(0).metaType() != QMetaType::fromType<QString>()) return;
            consider(signal.arguments.at(0).toString(), false);
        }));
    knowFcitxProcess(fcitxOwner);
}

void Fcitx5TrayMenu::stop() {
    ++generation_;
    heard_ = nullptr;
    known_ = nullptr;
    listedPending_ = 0;
    itemFound_ = false;
    firstRead_ = false;
    fcitxProcess_ = 0;
    service_.clear();
    menuPath_.clear();
    layoutStale_ = false;
    calls_.cancelAll();
    layoutRead_.cancel();
    registrations_.cancel();
    layoutUpdates_.cancel();
}

void Fcitx5TrayMenu::knowFcitxProcess(const QString& fcitxOwner) {
    const uint64_t generation = generation_;
    calls_.insert(sessionBus_.callAsync(processOf(fcitxOwner), callTimeout,
                                        lifetime_.wrap([this, generation](const DBusReply& reply) {
                                            if (generation != generation_) return;
                                            if (!reply.ok()) return firstReadKnown();
                                            fcitxProcess_ = reply.value().toUInt();
                                            listItems();
                                        })));
}

void Fcitx5TrayMenu::listItems() {
    const uint64_t generation = generation_;
    calls_.insert(sessionBus_.propertyAsync(kWatcherName, kWatcherPath, kWatcherName,
                                            QStringLiteral("RegisteredStatusNotifierItems"), callTimeout,
                                            lifetime_.wrap([this, generation](const DBusReply& reply) {
                                                if (generation != generation_) return;
                                                const QStringList items = reply.ok() ? reply.value().toStringList() : QStringList();
                                                if (items.isEmpty()) return firstReadKnown();
                                                listedPending_ = static_cast<int>(items.size());
                                                for (const QString& item : items) consider(item, true);
                                            })));
}

// An item is named "<service>" or "<service><object path>" (watchers differ).
void Fcitx5TrayMenu::consider(const QString& item, bool listed) {
    if (fcitxProcess_ == 0 || isFollowing() || item.isEmpty()) {
        if (listed) listedConsidered();
        return;
    }
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    const QString service = slash < 0 ? item : item.left(slash);
    const QString itemPath = slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash);
    const uint64_t generation = generation_;
    calls_.insert(sessionBus_.callAsync(processOf(service), callTimeout,
                                        lifetime_.wrap([this, generation, service, itemPath, listed](const DBusReply& reply) {
                                            if (generation != generation_) return;
                                            if (reply.ok() && !itemFound_ && reply.value().toUInt() == fcitxProcess_) {
                                                itemFound_ = true;
                                                follow(service, itemPath);
                                            }
                                            if (listed) listedConsidered();
                                        })));
}

void Fcitx5TrayMenu::listedConsidered() {
    if (--listedPending_ <= 0 && !itemFound_) firstReadKnown();
}

void Fcitx5TrayMenu::firstReadKnown() {
    if (auto known = std::exchange(known_, nullptr)) known();
}

void Fcitx5TrayMenu::follow(const QString& service, const QString& itemPath) {
    const uint64_t generation = generation_;
    calls_.insert(sessionBus_.propertyAsync(
        service, itemPath, kItem, QStringLiteral("Menu"), callTimeout,
        lifetime_.wrap([this, generation, service](const DBusReply& reply) {
            if (generation != generation_ || isFollowing()) return;
            if (!reply.ok()) {
                itemFound_ = false;
                return firstReadKnown();
            }
            service_ = service;
            menuPath_ = pathText(reply.value());
            layoutUpdates_ = sessionBus_.subscribe(DBusMatch{service_, menuPath_, kMenu, QStringLiteral("LayoutUpdated"), QString()},
                                                   lifetime_.wrap([this](const DBusSignal&) { readLayout(); }));
            readLayout();
        })));
}

void Fcitx5TrayMenu::readLayout() {
    // One read at a time; changes meanwhile are read once it is in.
    if (layoutRead_.isActive()) {
        layoutStale_ = true;
        return;
    }
    layoutStale_ = false;
    const uint64_t generation = generation_;
    const QStringList wanted{QStringLiteral("label"), QStringLiteral("toggle-type"), QStringLiteral("toggle-state"),
                             QStringLiteral("children-display")};
    layoutRead_ = sessionBus_.callAsync(
        DBusCall{service_, menuPath_, kMenu, QStringLiteral("GetLayout"), {0, 1, wanted}}, callTimeout,
        lifetime_.wrap([this, generation](const DBusReply& reply) {
            layoutRead_ = AnyCancellable();
            if (generation != generation_) return;
            // GetLayout answers (revision, layout).
            const bool first = !std::exchange(firstRead_, true);
            if (reply.ok())
                if (auto status = trayMenuInputMethod(reply.value(1)); status && heard_) heard_(*status, first);
            if (generation != generation_) return;
            if (first) firstReadKnown();
            if (layoutStale_ && generation == generation_) readLayout();
        }));
}

}  // namespace platform
