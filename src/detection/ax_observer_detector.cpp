#include "detection/ax_observer_detector.h"

#include "core/image_helper.h"
#include "core/log.h"
#include "core/wall_clock.h"
#include "detection/ax_tree_snapshot.h"
#include "detection/notification_center_name.h"
#include "detection/popup_content.h"

#include <QStringList>
#include <QUuid>

#include <algorithm>
#include <variant>

namespace {

const QString kWindowCreated = QStringLiteral("AXWindowCreated");
const QString kWindows = QStringLiteral("AXWindows");
// How long a burst of events is given to settle before the reading, and how many readings a new
// window is given to show its text.
constexpr double kSettleSeconds = 0.1;
constexpr int kMaxEmptyReadings = 10;

}  // namespace

AXObserverDetector::AXObserverDetector(EventBus& bus, platform::Accessibility& accessibility,
                                       platform::Workspace& workspace, platform::Scheduler& scheduler)
    : bus_(bus), accessibility_(accessibility), workspace_(workspace), scheduler_(scheduler) {}

AXObserverDetector::~AXObserverDetector() { removeRegistrations(); }

const QStringList& AXObserverDetector::observedNotifications() {
    static const QStringList names{QStringLiteral("AXCreated"), QStringLiteral("AXUIElementDestroyed"), kWindowCreated};
    return names;
}

bool AXObserverDetector::start() {
    if (observer_) {
        Log::shared().info(QStringLiteral("AXObserverDetector: Already running"));
        return true;
    }
    const auto pid = findNotificationCenterPID();
    if (!pid) {
        Log::shared().warning(QStringLiteral("AXObserverDetector: Notification Center process not found"));
        return false;
    }

    std::unique_ptr<platform::AXObserver> observer;
    const platform::AXError created = accessibility_.createObserver(*pid, &axObserverCallback, observer);
    if (created != platform::AXError::Success || !observer) {
        Log::shared().warning(
            QStringLiteral("AXObserverDetector: AXObserverCreate failed (%1)").arg(platform::axErrorCode(created)));
        return false;
    }

    const platform::AXElement appElement = accessibility_.createApplication(*pid);
    bool registered = false;
    for (const auto& name : observedNotifications()) {
        const platform::AXError error = observer->addNotification(appElement, name, this);
        if (error == platform::AXError::Success) {
            registered = true;
        } else {
            Log::shared().debug(QStringLiteral("AXObserverDetector: Failed to register %1 (%2)")
                                    .arg(name)
                                    .arg(platform::axErrorCode(error)));
        }
    }
    if (!registered) {
        Log::shared().warning(QStringLiteral("AXObserverDetector: No notifications could be registered"));
        return false;
    }

    observer->addRunLoopSource();
    runLoopSource_ = true;
    observer_ = std::move(observer);
    observedAppElement_ = appElement;
    observedPID_ = *pid;
    // What is on screen already is not news.
    const std::vector<uint64_t> onScreen = currentWindows();
    reported_ = std::set<uint64_t>(onScreen.begin(), onScreen.end());
    Log::shared().info(QStringLiteral("AXObserverDetector: Started for pid=%1").arg(*pid));
    return true;
}

void AXObserverDetector::stop() {
    removeRegistrations();
    observedAppElement_.reset();
    observedPID_.reset();
    observer_.reset();
    pendingReading_.cancel();
    reported_.clear();
    emptyReadings_ = 0;
    Log::shared().info(QStringLiteral("AXObserverDetector: Stopped"));
}

void AXObserverDetector::removeRegistrations() {
    if (observer_ && observedAppElement_) {
        for (const auto& name : observedNotifications()) observer_->removeNotification(*observedAppElement_, name);
    }
    if (runLoopSource_) {
        if (observer_) observer_->removeRunLoopSource();
        runLoopSource_ = false;
    }
}

std::optional<int32_t> AXObserverDetector::findNotificationCenterPID() const {
    // The owner of the desktop's notification service, where the backend knows it.
    if (auto pid = accessibility_.notificationServerPID()) return pid;
    for (const char* bundleId : {"com.apple.notificationcenterui", "com.apple.controlcenter"}) {
        const auto apps = workspace_.runningApplicationsWithBundleIdentifier(QString::fromLatin1(bundleId));
        if (!apps.empty()) return static_cast<int32_t>(apps.front().processIdentifier);
    }
    for (const auto& app : workspace_.runningApplications()) {
        if (!app.localizedName) continue;
        const QString l = app.localizedName->toLower();
        if (l.contains(QLatin1String("notification center")) || l.contains(QLatin1String("control center")))
            return static_cast<int32_t>(app.processIdentifier);
    }
    return std::nullopt;
}

void AXObserverDetector::axObserverCallback(platform::AXObserver&, const platform::AXElement&,
                                            const QString& notification, void* context) {
    if (!context) return;
    static_cast<AXObserverDetector*>(context)->handleAXNotification(notification);
}

void AXObserverDetector::handleAXNotification(const QString& notification) {
    Log::shared().debug(QStringLiteral("AXObserverDetector: Received ") + notification);
    // One reading serves the whole burst a popup raises (its window, then each child).
    if (pendingReading_.isPending()) return;
    pendingReading_ = scheduler_.after(kSettleSeconds, lifetime_.wrap([this] { readNewPopups(); }));
}

std::vector<uint64_t> AXObserverDetector::currentWindows() const {
    std::vector<uint64_t> ids;
    if (!observedAppElement_) return ids;
    platform::AXAttributeValue value;
    if (accessibility_.copyAttributeValue(*observedAppElement_, kWindows, value) != platform::AXError::Success)
        return ids;
    if (auto list = std::get_if<platform::AXElementList>(&value))
        for (const auto& window : *list) ids.push_back(window.id());
    return ids;
}

void AXObserverDetector::readNewPopups() {
    if (!observedPID_) return;
    const std::vector<uint64_t> windows = currentWindows();
    std::erase_if(reported_, [&](uint64_t id) { return std::find(windows.begin(), windows.end(), id) == windows.end(); });

    const AXTreeSnapshot::Sources sources{accessibility_, workspace_, scheduler_};
    bool waiting = false;
    for (uint64_t id : windows) {
        if (reported_.count(id)) continue;
        const auto snapshot = AXTreeSnapshot::take(sources, {platform::AXElement(*observedPID_, id)});
        if (!snapshot) continue;
        // A window is announced before its content: wait a little for its text.
        if (snapshot->texts.isEmpty() && emptyReadings_ < kMaxEmptyReadings) {
            waiting = true;
            continue;
        }
        reported_.insert(id);
        const auto [message, appName] = PopupContent::of(*snapshot);
        emitSignal(SignalConfidence::normal, appName, message, snapshot->appIconData, snapshot->bundleId);
    }
    if (waiting) {
        ++emptyReadings_;
        pendingReading_ = scheduler_.after(kSettleSeconds, lifetime_.wrap([this] { readNewPopups(); }));
    } else {
        emptyReadings_ = 0;
    }
}

void AXObserverDetector::emitSignal(SignalConfidence confidence, const std::optional<QString>& appName,
                                    const std::optional<QString>& message, std::optional<QByteArray> appIconData,
                                    const std::optional<QString>& bundleId) {
    if (appName && namesNotificationCenter(*appName)) {
        Log::shared().debug(QStringLiteral("AXObserverDetector: Ignoring notification from Notification Center"));
        return;
    }
    if (!appIconData) appIconData = ImageHelper::appIconPNGData(appName, bundleId);
    bus_.signalSubject.send(NotificationSignal{QUuid::createUuid(), wallClockNow(scheduler_), confidence, appName,
                                               message, appIconData, bundleId, false});
}
