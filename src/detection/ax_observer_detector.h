#pragma once

#include "core/event_bus.h"
#include "core/notification_records.h"
#include "platform/accessibility/accessibility.h"
#include "platform/runtime/dispatch.h"
#include "platform/workspace/workspace.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

// The event-driven detector of the "ui" road: an accessibility observer on the process that shows
// notifications turns its events into signals of confidence `normal`.
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
    std::optional<QString> sourceName(const QString& notification) const;
    void handleAXNotification(const QString& notification);
    void emitSignal(SignalConfidence confidence, const std::optional<QString>& appName);
    void removeRegistrations();

    std::unique_ptr<platform::AXObserver> observer_;
    bool runLoopSource_ = false;  // the observer's source is on the main loop
    std::optional<platform::AXElement> observedAppElement_;
    std::optional<int32_t> observedPID_;
    EventBus& bus_;
    platform::Accessibility& accessibility_;
    platform::Workspace& workspace_;
    platform::Scheduler& scheduler_;
};
