#include "detection/ax_observer_detector.h"

#include "core/log.h"
#include "core/wall_clock.h"
#include "detection/notification_center_name.h"

#include <QStringList>
#include <QUuid>

namespace {

const QString kWindowCreated = QStringLiteral("AXWindowCreated");

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
    Log::shared().info(QStringLiteral("AXObserverDetector: Started for pid=%1").arg(*pid));
    return true;
}

void AXObserverDetector::stop() {
    removeRegistrations();
    observedAppElement_.reset();
    observedPID_.reset();
    observer_.reset();
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

// Every event of a run comes from the same process, so the observed process's own name says
// nothing about the posting application, and as the source name it would either drop every
// event (Notification Center) or pass the dozens of element creations and destructions that one
// banner causes (Control Center). A banner arrives in a window of its own, so a new window is the
// one event that stands for one notification: it gets no name and reaches the overlay as a
// content-free signal. Element creations and destructions are named after the notification
// process, so the name filter drops them.
std::optional<QString> AXObserverDetector::sourceName(const QString& notification) const {
    if (notification == kWindowCreated) return std::nullopt;
    return QStringLiteral("Notification Center");
}

void AXObserverDetector::handleAXNotification(const QString& notification) {
    const auto name = sourceName(notification);
    Log::shared().debug(QStringLiteral("AXObserverDetector: Received ") + notification);
    emitSignal(SignalConfidence::normal, name);
}

void AXObserverDetector::emitSignal(SignalConfidence confidence, const std::optional<QString>& appName) {
    if (appName && namesNotificationCenter(*appName)) {
        Log::shared().debug(QStringLiteral("AXObserverDetector: Ignoring notification from Notification Center"));
        return;
    }
    bus_.signalSubject.send(NotificationSignal{QUuid::createUuid(), wallClockNow(scheduler_), confidence, appName,
                                               std::nullopt, std::nullopt, std::nullopt, false});
}
