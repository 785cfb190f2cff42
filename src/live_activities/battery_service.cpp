#include "live_activities/battery_service.h"

#include "core/format.h"
#include "core/log.h"

BatteryService& BatteryService::shared() {
    static auto* instance = new BatteryService();
    return *instance;
}

BatteryService::BatteryService(EventBus& bus, platform::Scheduler& scheduler, platform::PowerSources& powerSources)
    : bus(bus), scheduler_(scheduler), powerSources_(powerSources) {}

std::optional<BatteryInfo> BatteryService::fetchBatteryInfo() {
    const auto source = powerSources_.firstPowerSource();
    if (!source || !source->currentCapacity) return std::nullopt;
    BatteryInfo info;
    info.level = *source->currentCapacity;
    info.isCharging = source->isCharging.value_or(false);
    info.isPluggedIn = source->powerSourceState == platform::kACPowerState;
    return info;
}

void BatteryService::start() {
    if (isRunning_) return;
    isRunning_ = true;

    const std::optional<BatteryInfo> info = fetchBatteryInfo();
    previouslyPluggedIn_ = info ? info->isPluggedIn : false;
    previousLevel_ = info ? info->level : 100;
    // A start below a threshold must not announce it: that discharge was not seen falling.
    for (const int threshold : lowBatteryThresholds)
        if (threshold >= previousLevel_) notifiedThresholds_.insert(threshold);

    if (!info) {
        Log::shared().warning(QStringLiteral("BatteryService: No battery detected"));
    } else {
        bus.batteryInfoSubject.send(*info);
        Log::shared().info(QStringLiteral("BatteryService: Initial state - level: ") + QString::number(info->level) +
                           QStringLiteral("%, pluggedIn: ") + format::boolean(info->isPluggedIn) +
                           QStringLiteral(", charging: ") + format::boolean(info->isCharging));
    }

    if (auto source = powerSources_.createChangeNotification(lifetime_.wrap([this] { powerSourcesChanged(); }))) {
        runLoopSource_ = std::move(*source);
        Log::shared().info(QStringLiteral("BatteryService: Registered IOKit power change callback"));
    }
    timer_ = scheduler_.every(checkInterval, lifetime_.wrap([this] { checkBatteryState(); }));
    Log::shared().info(QStringLiteral("BatteryService: Started monitoring"));
}

void BatteryService::stop() {
    if (runLoopSource_) {
        runLoopSource_->cancel();
        runLoopSource_.reset();
    }
    timer_.invalidate();
    queuedChecks_.reset();
    isRunning_ = false;
    Log::shared().info(QStringLiteral("BatteryService: Stopped monitoring"));
}

void BatteryService::powerSourcesChanged() {
    // Always a later turn of the main queue, also when the notice arrives there.
    scheduler_.post(queuedChecks_.wrap(lifetime_.wrap([this] { checkBatteryState(); })));
}

void BatteryService::checkBatteryState() {
    const std::optional<BatteryInfo> reading = fetchBatteryInfo();
    if (!reading) {
        Log::shared().debug(QStringLiteral("BatteryService: fetchBatteryInfo returned nil"));
        return;
    }
    const BatteryInfo info = *reading;
    bus.batteryInfoSubject.send(info);

    if (info.isPluggedIn) {
        if (!previouslyPluggedIn_) {
            Log::shared().info(QStringLiteral("BatteryService: Power adapter connected (level: ") +
                               QString::number(info.level) + QStringLiteral("%, charging: ") +
                               format::boolean(info.isCharging) + QStringLiteral(")"));
            bus.liveActivityEventSubject.send(LiveActivityType::charging);
        }
        previouslyPluggedIn_ = true;
        notifiedThresholds_.clear();
        previousLevel_ = info.level;
        return;
    }

    if (previouslyPluggedIn_) {
        Log::shared().info(QStringLiteral("BatteryService: Power adapter disconnected (level: ") +
                           QString::number(info.level) + QStringLiteral("%)"));
        bus.liveActivityEventSubject.send(LiveActivityType::powerDisconnect);
    }
    previouslyPluggedIn_ = false;

    for (const int threshold : lowBatteryThresholds) {
        if (info.level <= threshold && threshold < previousLevel_ && !notifiedThresholds_.contains(threshold)) {
            notifiedThresholds_.insert(threshold);
            bus.liveActivityEventSubject.send(LiveActivityType::lowBattery);
            Log::shared().info(QStringLiteral("BatteryService: Low battery warning at ") + QString::number(info.level) +
                               QStringLiteral("% (threshold: ") + QString::number(threshold) + QStringLiteral("%)"));
            break;
        }
    }
    if (info.level >= rearmLevel) notifiedThresholds_.clear();
    previousLevel_ = info.level;
}
