#include "detection/notification_detector.h"

#include "core/app_settings.h"
#include "core/log.h"

NotificationDetector::Factories NotificationDetector::Factories::standard() {
    return {
        [] { return std::make_unique<AXObserverDetector>(); },
        [] { return std::make_unique<PollingDetector>(); },
        [] { return std::make_unique<NotificationDatabaseDetector>(); },
    };
}

NotificationDetector& NotificationDetector::shared() {
    // Never released: its detectors hold the scheduler and ports, which may be gone at exit.
    static NotificationDetector* instance = new NotificationDetector();
    return *instance;
}

NotificationDetector::NotificationDetector(DetectionMode mode, Factories factories, platform::Defaults* defaults)
    : currentMode_(mode), factories_(std::move(factories)), defaults_(defaults) {}

void NotificationDetector::start(bool allowDatabaseDetection) {
    if (isRunning_) {
        Log::shared().warning(QStringLiteral("NotificationDetector: Already running"));
        return;
    }
    Log::shared().info(QStringLiteral("NotificationDetector: ===== STARTING NOTIFICATION DETECTION ====="));

    // Read as stored at this moment; only the exact raw text of the UI source selects it.
    platform::Defaults& defaults = defaults_ ? *defaults_ : platform::Defaults::standard();
    const bool uiSource = defaults.stringValue(AppSettings::detectionSourceKey) == QLatin1String("ui");

    if (!uiSource) {
        if (!allowDatabaseDetection) {
            Log::shared().warning(QStringLiteral(
                "NotificationDetector: Full Disk Access unavailable, skipping database detector and starting UI "
                "fallback"));
        } else {
            auto detector = factories_.databaseDetector();
            if (detector->start()) {
                databaseDetector_ = std::move(detector);
                Log::shared().info(QStringLiteral(
                    "NotificationDetector: ✓ Database detector started (detects banner-off notifications)"));
                isRunning_ = true;
                Log::shared().info(QStringLiteral("NotificationDetector: ===== DETECTION STARTED ====="));
                return;
            }
            Log::shared().warning(QStringLiteral(
                "NotificationDetector: ✗ Database detector not available (likely Full Disk Access). Falling back to UI "
                "detection."));
        }
    }

    isRunning_ = startUIDetectorFallback();
    if (isRunning_) {
        Log::shared().info(QStringLiteral("NotificationDetector: ===== DETECTION STARTED ====="));
    } else {
        Log::shared().warning(QStringLiteral("NotificationDetector: No detector started"));
    }
}

void NotificationDetector::stop() {
    if (observerDetector_) observerDetector_->stop();
    if (pollingDetector_) pollingDetector_->stop();
    if (databaseDetector_) databaseDetector_->stop();
    observerDetector_.reset();
    pollingDetector_.reset();
    databaseDetector_.reset();
    isRunning_ = false;
}

std::unique_ptr<PollingDetector> NotificationDetector::startPollingDetector() {
    auto detector = factories_.pollingDetector();
    detector->start();
    return detector;
}

bool NotificationDetector::startUIDetectorFallback() {
    if (currentMode_ == DetectionMode::pollingOnly) {
        pollingDetector_ = startPollingDetector();
        Log::shared().info(QStringLiteral("NotificationDetector: ✓ Polling detector started"));
        return true;
    }

    auto observer = factories_.observerDetector();
    if (observer->start()) {
        observerDetector_ = std::move(observer);
        Log::shared().info(QStringLiteral("NotificationDetector: ✓ AXObserver detector started"));
        return true;
    }
    if (currentMode_ == DetectionMode::observerOnly) {
        Log::shared().warning(QStringLiteral("NotificationDetector: ✗ AXObserver detector failed"));
        return false;
    }
    Log::shared().info(QStringLiteral("NotificationDetector: ✗ AXObserver failed, falling back to polling"));
    pollingDetector_ = startPollingDetector();
    Log::shared().info(QStringLiteral("NotificationDetector: ✓ Polling detector started (UI-based)"));
    return true;
}
