#include "platform/workspace/linux_workspace.h"

#include "platform/files/local_reach.h"
#include "platform/process/child_process.h"
#include "platform/shell/main_bundle.h"
#include "platform/workspace/icon_lookup.h"
#include "platform/workspace/x11_clients.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QMimeDatabase>
#include <QPainter>
#include <QSocketNotifier>
#include <QThread>
#include <QWidget>

#include <chrono>
#include <map>
#include <set>
#include <utility>

namespace platform {

LinuxWorkspace::LinuxWorkspace(QByteArray display, ProcessLauncher& launcher, DBusConnection* bus)
    : display_(std::move(display)), launcher_(launcher), bus_(bus) {}

LinuxWorkspace::~LinuxWorkspace() = default;

X11Clients* LinuxWorkspace::x11() const {
    if (!x11Tried_) {
        x11Tried_ = true;
        x11_ = X11Clients::connect(display_);
    }
    return x11_.get();
}

namespace {

bool hasGui() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

QIcon entryIcon(const QString& icon) { return DesktopEntries::icon(icon); }

bool isDesktopFile(const QString& path) { return path.endsWith(QLatin1String(".desktop")); }

// A D-Bus activatable application is slow to start at most; its file manager or itself answering
// later than this counts as not answering.
constexpr std::chrono::milliseconds kActivationTimeout{10000};

// The object path an application id names on the bus: dots become slashes, dashes underscores.
QString applicationObjectPath(const QString& id) {
    QString path = QLatin1Char('/') + id;
    path.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

}  // namespace

void LinuxWorkspace::track(const X11Client& client, bool withIcon) const {
    TrackedWindow& tracked = windows_[client.window];
    const QImage ownIcon = withIcon ? client.icon : tracked.client.icon;
    tracked.client = client;
    tracked.client.icon = ownIcon;
    tracked.entry = desktopEntries_.match(client.desktopHint, client.wmClass, client.wmInstance);
    resolveIcon(tracked);
}

void LinuxWorkspace::resolveIcon(TrackedWindow& tracked) const {
    const quint64 pending = IconLookup::pendingAnswers();
    tracked.iconTheme = QIcon::themeName();
    tracked.icon = tracked.entry ? entryIcon(tracked.entry->icon) : QIcon();
    // The entry's icon is still being looked up: the window's own stands in until the next listing.
    tracked.iconPending = IconLookup::pendingAnswers() != pending;
    const QImage& ownIcon = tracked.client.icon;
    if (tracked.icon.isNull() && !ownIcon.isNull() && hasGui()) tracked.icon = QIcon(QPixmap::fromImage(ownIcon));
}

void LinuxWorkspace::refreshWindows() const {
    X11Clients* x = x11();
    if (!x) return;
    const bool first = !tracking_;
    if (first) {
        tracking_ = true;
        x->watchActiveWindow();
        // Notices are drained as they come, so none pile up between listings.
        if (hasGui() && QThread::currentThread() == QCoreApplication::instance()->thread()) {
            trackingNotifier_ = std::make_unique<QSocketNotifier>(x->fileDescriptor(), QSocketNotifier::Read);
            QObject::connect(trackingNotifier_.get(), &QSocketNotifier::activated, trackingNotifier_.get(),
                             [this] { pendingChanges_.add(x11_->takeChanges()); });
        }
    }
    X11Clients::Changes changes = std::exchange(pendingChanges_, {});
    changes.add(x->takeChanges());
    std::vector<uint32_t> added;
    if (first || changes.clientList) {
        windowOrder_ = x->clientWindows();
        std::set<uint32_t> listed(windowOrder_.begin(), windowOrder_.end());
        std::erase_if(windows_, [&listed](const auto& entry) { return !listed.count(entry.first); });
        for (uint32_t window : windowOrder_) {
            if (!windows_.count(window)) added.push_back(window);
        }
        // Watched before they are read, so no change slips in between.
        x->watchWindows(added);
    }
    std::set<uint32_t> withIcon(added.begin(), added.end());
    for (uint32_t window : changes.icons) {
        if (windows_.count(window)) withIcon.insert(window);
    }
    std::set<uint32_t> withoutIcon;
    for (uint32_t window : changes.hints) {
        if (windows_.count(window) && !withIcon.count(window)) withoutIcon.insert(window);
    }
    for (const X11Client& client : x->describe(std::vector<uint32_t>(withIcon.begin(), withIcon.end()), true))
        track(client, true);
    for (const X11Client& client : x->describe(std::vector<uint32_t>(withoutIcon.begin(), withoutIcon.end()), false))
        track(client, false);
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() const {
    std::vector<RunningApplication> apps;
    const qint64 ownPid = QCoreApplication::applicationPid();
    bool selfListed = false;
    refreshWindows();
    // One application per process, at the place of its first window; a window without a
    // process id cannot be told apart from others nor checked before activating, so it is left out.
    std::map<qint64, size_t> index;
    for (uint32_t window : windowOrder_) {
        const auto found = windows_.find(window);
        if (found == windows_.end()) continue;
        TrackedWindow& tracked = found->second;
        // A window keeps its entry's icon until the desktop's icon theme changes.
        if (tracked.iconPending || tracked.iconTheme != QIcon::themeName()) resolveIcon(tracked);
        const X11Client& client = tracked.client;
        if (client.pid <= 0) continue;
        const bool ordinary = client.normal && !client.skipTaskbar;
        auto [it, added] = index.emplace(client.pid, apps.size());
        if (!added) {
            RunningApplication& app = apps[it->second];
            if (ordinary) app.activationPolicy = ActivationPolicy::Regular;
            if (!app.icon && !client.icon.isNull() && hasGui()) app.icon = QIcon(QPixmap::fromImage(client.icon));
            continue;
        }
        if (client.pid == ownPid) {
            RunningApplication app = self();
            app.activationPolicy = ordinary ? ActivationPolicy::Regular : ActivationPolicy::Accessory;
            apps.push_back(std::move(app));
            selfListed = true;
            continue;
        }
        RunningApplication app;
        app.processIdentifier = client.pid;
        app.activationPolicy = ordinary ? ActivationPolicy::Regular : ActivationPolicy::Accessory;
        if (!client.desktopHint.isEmpty()) app.bundleIdentifier = client.desktopHint;
        else if (tracked.entry) app.bundleIdentifier = tracked.entry->id;
        if (tracked.entry) app.localizedName = tracked.entry->name;
        else if (!client.name.isEmpty()) app.localizedName = client.name;
        else if (!client.wmClass.isEmpty()) app.localizedName = client.wmClass;
        if (!tracked.icon.isNull()) app.icon = tracked.icon;
        apps.push_back(std::move(app));
    }
    if (!selfListed) {
        RunningApplication app = self();
        // Without a window of its own on screen it is not among the ordinary applications.
        if (x11_) app.activationPolicy = ActivationPolicy::Accessory;
        apps.push_back(std::move(app));
    }
    return apps;
}

RunningApplication LinuxWorkspace::self() const {
    RunningApplication self;
    self.processIdentifier = QCoreApplication::applicationPid();
    self.bundleIdentifier = MainBundle::shared().bundleIdentifier();
    const QString name = QGuiApplication::applicationDisplayName();
    if (!name.isEmpty()) self.localizedName = name;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        const QIcon icon = QGuiApplication::windowIcon();
        if (!icon.isNull()) self.icon = icon;
    }
    return self;
}

// An application's place on Linux is its desktop entry file.
std::optional<QString> LinuxWorkspace::urlForApplicationWithBundleIdentifier(const QString& bundleIdentifier) const {
    if (auto entry = desktopEntries_.resolve(bundleIdentifier)) return entry->path;
    return std::nullopt;
}

QIcon LinuxWorkspace::genericIcon() {
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(142, 142, 147));
    painter.drawRoundedRect(QRectF(12, 12, 104, 104), 24, 24);
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

QIcon LinuxWorkspace::iconForFile(const QString& path) const {
    if (isDesktopFile(path)) {
        if (auto entry = DesktopEntries::parse(path, QString())) {
            const QIcon icon = entryIcon(entry->icon);
            if (!icon.isNull()) return icon;
        }
    }
    // The type's icon, by the name alone: telling the type by content, or asking the desktop for the
    // file's icon, would open the file here, and it may be one an SQLite connection of ours holds.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
        // Looked at only where it lies on this machine's own file systems.
        const std::optional<struct stat> info = LocalReach().status(QFile::encodeName(QFileInfo(path).absoluteFilePath()));
        const QStringList names = info && S_ISDIR(info->st_mode) ? QStringList{QStringLiteral("folder")}
                                                                 : QStringList{type.iconName(), type.genericIconName()};
        for (const QString& name : names) {
            const QIcon icon = DesktopEntries::icon(name);
            if (!icon.isNull()) return icon;
        }
    }
    return genericIcon();
}

bool LinuxWorkspace::openUrl(const QUrl& url) {
    // Only schemes a Linux desktop can hand on; the system-settings deep links have no handler here,
    // and passing them on would only make the desktop complain.
    static const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file"),
                                     QStringLiteral("mailto")};
    return url.isValid() && schemes.contains(url.scheme().toLower()) && QDesktopServices::openUrl(url);
}

bool LinuxWorkspace::launchApplicationWithBundleIdentifier(const QString& bundleIdentifier) {
    const auto entry = desktopEntries_.resolve(bundleIdentifier);
    if (!entry) return false;
    // A running application comes forward, as a launch of one does on every desktop: a second
    // copy would be a new window, or an empty one for a program that opens files.
    if (activateOpenWindow(*entry)) return true;
    if (entry->dbusActivatable && activateOnBus(*entry)) return true;
    return DesktopEntries::launch(*entry, launcher_);
}

uint32_t LinuxWorkspace::topmostWindow(const std::function<bool(const TrackedWindow&)>& belongs) const {
    X11Clients* x = x11();
    if (!x) return 0;
    refreshWindows();
    uint32_t target = 0;
    uint32_t fallback = 0;
    for (uint32_t window : x->stacking()) {
        const auto it = windows_.find(window);
        if (it == windows_.end() || !belongs(it->second)) continue;
        fallback = window;
        if (it->second.client.normal && !it->second.client.skipTaskbar) target = window;
    }
    return target ? target : fallback;
}

bool LinuxWorkspace::activateOpenWindow(const DesktopEntry& entry) {
    const qint64 ownPid = QCoreApplication::applicationPid();
    // A window tied to another entry that claims the same class (a distribution's copy of the
    // entry) is still this entry's program, unless the window names its entry itself.
    const uint32_t window = topmostWindow([&entry, ownPid](const TrackedWindow& tracked) {
        if (tracked.client.pid == ownPid) return false;
        if (tracked.entry && tracked.entry->id == entry.id) return true;
        return tracked.client.desktopHint.isEmpty() &&
               DesktopEntries::describes(entry, tracked.client.wmClass, tracked.client.wmInstance);
    });
    return window && x11()->requestActivation(window);
}

bool LinuxWorkspace::activateOnBus(const DesktopEntry& entry) {
    DBusConnection& connection = bus();
    if (!connection.isConnected()) return false;
    const DBusCall activate{entry.id, applicationObjectPath(entry.id), QStringLiteral("org.freedesktop.Application"),
                            QStringLiteral("Activate"), {QVariantMap()}};
    // The bus starts the application when it does not run; when it cannot, its program runs.
    pendingActivation_ = connection.callAsync(activate, kActivationTimeout, [this, entry](const DBusReply& reply) {
        if (reply.status != DBusReply::Status::ok && reply.status != DBusReply::Status::timedOut)
            DesktopEntries::launch(entry, launcher_);
    });
    return true;
}

bool LinuxWorkspace::launchApplicationNamed(const QString& name) { return launchApplicationWithBundleIdentifier(name); }

bool LinuxWorkspace::openApplicationAtPath(const QString& path) {
    if (!isDesktopFile(path)) return false;
    const auto entry = DesktopEntries::parse(path, QString());
    return entry && DesktopEntries::launch(*entry, launcher_);
}

bool LinuxWorkspace::activateApplication(qint64 processIdentifier, bool) {
    if (processIdentifier != QCoreApplication::applicationPid()) {
        X11Clients* x = x11();
        if (!x || processIdentifier <= 0) return false;
        // The topmost ordinary window of the process, else its topmost window of any kind.
        return x->requestActivation(topmostWindow(
            [processIdentifier](const TrackedWindow& tracked) { return tracked.client.pid == processIdentifier; }));
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        // A window that takes no focus keeps its own stacking, and asking to activate it only warns.
        if (!window->isVisible() || window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus)) continue;
        window->raise();
        window->activateWindow();
    }
    return true;
}

bool LinuxWorkspace::activateFileViewerSelecting(const std::vector<QUrl>& urls) {
    QStringList uris;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) uris << url.toString(QUrl::FullyEncoded);
    }
    if (uris.isEmpty()) return false;
    const QUrl first = urls.front();
    DBusConnection& connection = bus();
    if (!connection.isConnected()) return Workspace::activateFileViewerSelecting(urls);
    // Nautilus, Nemo, Thunar, Dolphin and others serve it, most of them started by the bus on demand.
    const DBusCall showItems{QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
                             QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"),
                             {uris, QString()}};
    pendingReveal_ = connection.callAsync(showItems, kActivationTimeout, [this, first](const DBusReply& reply) {
        if (!reply.ok()) Workspace::activateFileViewerSelecting({first});
    });
    return true;
}

}  // namespace platform

namespace platform {

AnyCancellable LinuxWorkspace::observeActivations(std::function<void(const RunningApplication&)> handler) {
    if (!watcher_ && hasGui()) {
        watcher_ = X11Clients::connect(display_);
        if (watcher_) {
            watcher_->watchActiveWindow();
            lastActivePid_ = 0;
            if (const uint32_t active = watcher_->activeWindow()) {
                if (auto client = watcher_->describe(active, false)) lastActivePid_ = client->pid;
            }
            notifier_ = std::make_unique<QSocketNotifier>(watcher_->fileDescriptor(), QSocketNotifier::Read);
            QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                             [this] { activeWindowChanged(); });
        }
    }
    return Workspace::observeActivations(std::move(handler));
}

void LinuxWorkspace::activeWindowChanged() {
    // Reading the active window is a round trip that may queue further notices: drain until quiet.
    while (watcher_->takeActiveWindowChange()) {
        const uint32_t active = watcher_->activeWindow();
        if (!active) continue;
        const std::optional<X11Client> client = watcher_->describe(active, false);
        if (!client || client->pid <= 0) continue;
        // Some window managers set the same active window twice for one activation, and a
        // second window of the same process is no new application either.
        if (client->pid == lastActivePid_) continue;
        lastActivePid_ = client->pid;
        if (auto app = runningApplicationWithProcessIdentifier(client->pid)) applicationActivated.send(*app);
    }
}

}  // namespace platform
