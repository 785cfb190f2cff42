#pragma once

#include "core/event_bus.h"
#include "core/notification_records.h"
#include "platform/accessibility/accessibility.h"
#include "platform/runtime/dispatch.h"
#include "platform/workspace/workspace.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

// The event-driven detector of the "ui" road: an accessibility observer on the process that shows
// notifications. Its events carry no content, so each burst of them leads to a reading of the
// windows that appeared, and every new popup becomes one signal of confidence `normal` with the
// popup's title and text, however many events it raised.
class AXObserverDetector {
public:
    explicit AXObserverDetector(EventBus& bus = EventBus::shared(),
                                platform::Accessibility& accessibility = platform::Accessibility::shared(),
                                platform::Workspace& workspace = platform::Workspace::shared(),
                                platform::Scheduler& scheduler = platform::Scheduler::shared());
    // Removes the registrations and the run-loop source, since the observer's callback holds a
    // plain pointer to this detector; logs nothing (the "Stopped" line belongs to stop()).
    ~AXObserverDetector();
    AXObserverDetector(const AXObserverDetector&) = delete;
    AXObserverDetector& operator=(const AXObserverDetector&) = delete;

    // Attaches the observer; true when running afterwards (also when it already was).
    bool start();
    // Detaches everything and clears the fields; always logs.
    void stop();

    bool isRunning() const { return static_cast<bool>(observer_); }
    std::optional<int32_t> observedPID() const { return observedPID_; }

    // The notifications observed, in registration order.
    static const QStringList& observedNotifications();

private:
    static void axObserverCallback(platform::AXObserver& observer, const platform::AXElement& element,
                                   const QString& notification, void* context);
    std::optional<int32_t> findNotificationCenterPID() const;
    void handleAXNotification(const QString& notification);
    std::vector<uint64_t> currentWindows() const;
    void readNewPopups();
    void emitSignal(SignalConfidence confidence, const std::optional<QString>& appName,
                    const std::optional<QString>& message, std::optional<QByteArray> appIconData,
                    const std::optional<QString>& bundleId);
    void removeRegistrations();

    std::unique_ptr<platform::AXObserver> observer_;
    bool runLoopSource_ = false;  // the observer's source is on the main loop
    std::optional<platform::AXElement> observedAppElement_;
    std::optional<int32_t> observedPID_;
    EventBus& bus_;
    platform::Accessibility& accessibility_;
    platform::Workspace& workspace_;
    platform::Scheduler& scheduler_;
    std::set<uint64_t> reported_;  // windows signalled already, or on screen when observing began
    platform::WorkItem pendingReading_;
    int emptyReadings_ = 0;  // readings in a row that found a new window still without text
    platform::Lifetime lifetime_;
};
