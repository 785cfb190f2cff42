#pragma once

#include "core/event_bus.h"
#include "core/notification_records.h"
#include "detection/ax_tree_snapshot.h"
#include "platform/runtime/dispatch.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The timer-driven detector of the "ui" road: compares accessibility-tree snapshots and grades
// what changed into signals of weak, normal or strong confidence.
class PollingDetector {
public:
    using SnapshotSource = std::function<std::optional<AXTreeSnapshot>()>;
    // A reading of one window of the notification process alone.
    using PopupSource = std::function<std::optional<AXTreeSnapshot>(const platform::AXElement& window)>;

    // `takeSnapshot` defaults to AXTreeSnapshot::take(), `readPopup` to a reading of that window
    // from the same shared sources.
    explicit PollingDetector(EventBus& bus = EventBus::shared(),
                             platform::Scheduler& scheduler = platform::Scheduler::shared(),
                             SnapshotSource takeSnapshot = {}, PopupSource readPopup = {});
    PollingDetector(const PollingDetector&) = delete;
    PollingDetector& operator=(const PollingDetector&) = delete;

    // Begins polling and takes the baseline; does nothing when already running.
    void start();
    // Ends polling and forgets the baseline and the cooldown.
    void stop();

    bool isRunning() const { return timer_.isValid(); }

private:
    void poll();
    void emitReading(SignalConfidence confidence, const AXTreeSnapshot& now, const AXTreeSnapshot& old);
    void emitSignal(SignalConfidence confidence, const std::optional<QString>& appName,
                    const std::optional<QString>& message, std::optional<QByteArray> appIconData,
                    const std::optional<QString>& bundleId);

    platform::RepeatingTimer timer_;  // owning: destroying the detector stops it
    std::optional<AXTreeSnapshot> lastSnapshot_;
    EventBus& bus_;
    const double pollingInterval_ = 0.8;
    std::optional<double> bulkIncreaseDetectedAt_;  // monotonic seconds
    const double bulkIncreaseCooldown_ = 2.0;
    platform::Scheduler& scheduler_;
    SnapshotSource takeSnapshot_;
    PopupSource readPopup_;
    platform::Lifetime lifetime_;
};
