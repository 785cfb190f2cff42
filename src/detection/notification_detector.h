#pragma once

#include "detection/ax_observer_detector.h"
#include "detection/notification_database_detector.h"
#include "detection/polling_detector.h"
#include "platform/storage/defaults.h"

#include <functional>
#include <memory>

// How the UI fallback is chosen.
enum class DetectionMode {
    observerOnly,  // accessibility observer only, no polling
    pollingOnly,   // polling detector only
    auto_,         // the observer, and the polling detector when the observer cannot start
};

// The one entry point that starts and stops notification detection. It picks the database
// detector or the accessibility fallback by the detection source and the caller's verdict on
// Full Disk Access, and keeps the detector it started so that stop() can stop it. The detectors
// publish on the bus themselves.
class NotificationDetector {
public:
    // Builds fresh, stopped detectors; the default ones use the shared bus and platform ports as
    // they are at the moment of each build.
    struct Factories {
        std::function<std::unique_ptr<AXObserverDetector>()> observerDetector;
        std::function<std::unique_ptr<PollingDetector>()> pollingDetector;
        std::function<std::unique_ptr<NotificationDatabaseDetector>()> databaseDetector;
        static Factories standard();
    };

    static NotificationDetector& shared();

    // `defaults` nullptr reads the standard defaults, looked up at each start.
    explicit NotificationDetector(DetectionMode mode = DetectionMode::auto_,
                                  Factories factories = Factories::standard(), platform::Defaults* defaults = nullptr);
    NotificationDetector(const NotificationDetector&) = delete;
    NotificationDetector& operator=(const NotificationDetector&) = delete;

    // Starts detection unless it already runs; `allowDatabaseDetection` says whether the
    // database may be tried at all. The outcome is isRunning() and the log.
    void start(bool allowDatabaseDetection);
    // Stops and drops every detector.
    void stop();

    bool isRunning() const { return isRunning_; }
    const AXObserverDetector* observerDetector() const { return observerDetector_.get(); }
    const PollingDetector* pollingDetector() const { return pollingDetector_.get(); }
    const NotificationDatabaseDetector* databaseDetector() const { return databaseDetector_.get(); }

private:
    bool startUIDetectorFallback();
    std::unique_ptr<PollingDetector> startPollingDetector();

    std::unique_ptr<AXObserverDetector> observerDetector_;
    std::unique_ptr<PollingDetector> pollingDetector_;
    std::unique_ptr<NotificationDatabaseDetector> databaseDetector_;
    const DetectionMode currentMode_;
    bool isRunning_ = false;
    Factories factories_;
    platform::Defaults* defaults_;
};
