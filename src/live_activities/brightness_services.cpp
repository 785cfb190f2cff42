#include "live_activities/brightness_services.h"

#include "core/log.h"

#include <algorithm>
#include <cmath>
#include <utility>

BrightnessService::BrightnessService(EventBus& bus, platform::Scheduler& scheduler, const platform::Backlights& backlights,
                                     platform::BacklightWatch& watch,
                                     const platform::CurrentValueSubject<std::optional<BrightnessInfo>>& subject,
                                     LiveActivityType event, QString name)
    : bus(bus),
      backlights_(backlights),
      scheduler_(scheduler),
      subject_(subject),
      event_(event),
      name_(std::move(name)),
      watch_(watch),
      pollTimer_(scheduler, pollInterval, [this] { poll(); }) {}

float BrightnessService::snap(float level) {
    if (level > 0.97f) return 1.0f;
    if (level < 0.03f) return 0.0f;
    return level;
}

QString BrightnessService::line(const char* text, float level) const {
    const int percent = static_cast<int>(level * 100.0f);
    return name_ + QString::fromLatin1(text).arg(percent);
}

void BrightnessService::start() {
    if (isRunning_) return;
    if (!canStart()) return;
    isRunning_ = true;
    const std::optional<float> level = currentLevel();
    needsBase_ = !level;
    if (level) lastBrightness_ = *level;
    pollTimer_.start();
    Log::shared().info(line(": Started (brightness=%1%)", level ? *level : std::max(lastBrightness_, 0.0f)));
    waitForDeviceIfNone();
}

void BrightnessService::stop() {
    isRunning_ = false;
    pollTimer_.stop();
    deviceWatch_.cancel();
    if (activityDebounceWorkItem_) activityDebounceWorkItem_->cancel();
    activityDebounceWorkItem_.reset();
    isActivityShowing_ = false;
    Log::shared().info(name_ + QStringLiteral(": Stopped"));
}

void BrightnessService::poll() {
    if (!isRunning_) return;
    readAndPublish();
    waitForDeviceIfNone();
}

// Without a device the level reads 0: after one such poll the last level is within the threshold
// of 0, so further polls could publish nothing until a device comes.
void BrightnessService::waitForDeviceIfNone() {
    if (!isRunning_ || hadDevice() || !pollTimer_.isTicking()) return;
    pollTimer_.pause();
    deviceWatch_ = watch_.onChange(lifetime_.wrap([this] {
        if (!isRunning_) return;
        deviceWatch_.cancel();
        pollTimer_.resume();
    }));
}

void BrightnessService::readAndPublish() {
    // A failed read is no reading: it must not show the backlight as off.
    const std::optional<float> level = currentLevel();
    if (!level) return;
    if (std::exchange(needsBase_, false)) {
        lastBrightness_ = *level;
        return;
    }
    if (!(std::fabs(*level - lastBrightness_) > publishThreshold)) return;
    lastBrightness_ = *level;
    subject_.send(BrightnessInfo{*level});
    if (!isActivityShowing_) {
        isActivityShowing_ = true;
        lastReportedBrightness_ = *level;
        bus.liveActivityEventSubject.send(event_);
        Log::shared().info(line(": Brightness=%1% (show)", *level));
    }
    if (activityDebounceWorkItem_) activityDebounceWorkItem_->cancel();
    activityDebounceWorkItem_ = scheduler_.after(settleDelay, lifetime_.wrap([this] { settle(); }));
}

void BrightnessService::settle() {
    if (!isRunning_) return;
    isActivityShowing_ = false;
    if (std::fabs(lastBrightness_ - lastReportedBrightness_) > reportThreshold) {
        lastReportedBrightness_ = lastBrightness_;
        bus.liveActivityEventSubject.send(event_);
        Log::shared().info(line(": Brightness=%1% (final)", lastBrightness_));
    }
}

// --- display ---------------------------------------------------------------------------------

DisplayBrightnessService& DisplayBrightnessService::shared() {
    static auto* instance = new DisplayBrightnessService();
    return *instance;
}

DisplayBrightnessService::DisplayBrightnessService(EventBus& bus, platform::Scheduler& scheduler,
                                                   const platform::Backlights& backlights, platform::BacklightWatch& watch)
    : BrightnessService(bus, scheduler, backlights, watch, bus.displayBrightnessSubject, LiveActivityType::displayBrightness,
                        QStringLiteral("DisplayBrightnessService")) {
    using Result = platform::Backlights::DisplayLookup::Result;
    const auto lookup = backlights.findDisplay();
    switch (lookup.result) {
    case Result::found: devicePath_ = lookup.devicePath; break;
    case Result::noBacklightClass:
        Log::shared().warning(QStringLiteral("DisplayBrightnessService: Failed to load DisplayServices framework"));
        break;
    case Result::noDevice:
        Log::shared().warning(QStringLiteral("DisplayBrightnessService: DisplayServicesGetBrightness symbol not found"));
        break;
    }
}

bool DisplayBrightnessService::canStart() {
    if (devicePath_) return true;
    Log::shared().warning(QStringLiteral("DisplayBrightnessService: DisplayServices not available"));
    return false;
}

std::optional<float> DisplayBrightnessService::currentLevel() {
    if (!devicePath_) return 0.0f;
    const std::optional<float> level = platform::Backlights::readLevel(*devicePath_);
    if (!level) return std::nullopt;
    return snap(*level);
}

// --- keyboard --------------------------------------------------------------------------------

KeyboardBrightnessService& KeyboardBrightnessService::shared() {
    static auto* instance = new KeyboardBrightnessService();
    return *instance;
}

KeyboardBrightnessService::KeyboardBrightnessService(EventBus& bus, platform::Scheduler& scheduler,
                                                     const platform::Backlights& backlights, platform::BacklightWatch& watch)
    : BrightnessService(bus, scheduler, backlights, watch, bus.keyboardBrightnessSubject, LiveActivityType::keyboardBrightness,
                        QStringLiteral("KeyboardBrightnessService")) {}

std::optional<float> KeyboardBrightnessService::currentLevel() {
    const std::optional<QString> device = backlights_.findKeyboard();
    hadDevice_ = device.has_value();
    if (!device) return 0.0f;
    const std::optional<float> level = platform::Backlights::readLevel(*device);
    if (!level) return std::nullopt;
    return snap(*level);
}
