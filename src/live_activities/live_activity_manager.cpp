#include "live_activities/live_activity_manager.h"

#include "core/enum_cases.h"
#include "core/format.h"
#include "core/log.h"

#include <cmath>

LiveActivityManager& LiveActivityManager::shared() {
    static LiveActivityManager* instance = new LiveActivityManager();
    return *instance;
}

LiveActivityManager::LiveActivityManager(EventBus& bus, platform::Scheduler& scheduler, platform::Defaults* defaults)
    : bus(bus), scheduler_(scheduler), settings_(defaults) {}

std::optional<double> LiveActivityManager::showTime(LiveActivityType type) {
    if (type == LiveActivityType::screenLock) return std::nullopt;
    return refreshTime(type);
}

double LiveActivityManager::refreshTime(LiveActivityType type) {
    switch (type) {
    case LiveActivityType::charging:
    case LiveActivityType::airdrop: return 4.0;
    case LiveActivityType::bluetooth:
    case LiveActivityType::lowBattery: return 5.0;
    case LiveActivityType::inputSource: return 2.5;
    case LiveActivityType::powerDisconnect:
    case LiveActivityType::volume:
    case LiveActivityType::displayBrightness:
    case LiveActivityType::keyboardBrightness:
    case LiveActivityType::screenLock:
    case LiveActivityType::screenUnlock:
    case LiveActivityType::screenshot: return 3.0;
    }
    return 3.0;
}

void LiveActivityManager::start() {
    // A second start would deliver every request twice.
    if (isRunning) return;
    isRunning = true;
    setupObservers();
    Log::shared().info(QStringLiteral("LiveActivityManager: Started"));
}

void LiveActivityManager::stop() {
    isRunning = false;
    cancellables.cancelAll();
    if (dismissWorkItem) dismissWorkItem->cancel();
    dismissWorkItem.reset();
    if (modeChangeWorkItem) modeChangeWorkItem->cancel();
    modeChangeWorkItem.reset();
    pendingReturnMode_.reset();
    currentActivityType.reset();
    previousNotchModeBeforeLiveActivity.reset();
    Log::shared().info(QStringLiteral("LiveActivityManager: Stopped"));
}

void LiveActivityManager::setupObservers() {
    cancellables.insert(bus.liveActivityEventSubject.receiveOnMain(&scheduler_).sink(
        lifetime_.wrap([this](const std::optional<LiveActivityType>& request) { handleRequest(request); })));
}

void LiveActivityManager::handleRequest(const std::optional<LiveActivityType>& request) {
    if (!request) {
        dismissCurrentActivity();
        return;
    }
    const LiveActivityType type = *request;
    // The unlock is shown by the lock activity itself.
    if (type == LiveActivityType::screenUnlock) return;
    if (bus.screenLockedSubject.value() && type != LiveActivityType::screenLock) return;
    if (!settings_.isLiveActivityEnabled(type)) return;
    showActivity(type);
}

void LiveActivityManager::scheduleDismiss(double seconds) {
    const int64_t now = scheduler_.monotonicMicros();
    dismissDeadlineMicros_ = now + std::llround(seconds * 1e6);
    if (dismissWorkItem && dismissWorkItem->isPending() && dismissDueMicros_ <= dismissDeadlineMicros_) return;
    if (dismissWorkItem) dismissWorkItem->cancel();
    dismissDueMicros_ = dismissDeadlineMicros_;
    dismissWorkItem = scheduler_.after(seconds, lifetime_.wrap([this] { dismissTimerFired(); }));
}

void LiveActivityManager::cancelDismiss() {
    if (dismissWorkItem) dismissWorkItem->cancel();
}

void LiveActivityManager::dismissTimerFired() {
    const int64_t now = scheduler_.monotonicMicros();
    if (dismissDeadlineMicros_ > now) {
        // The activity was refreshed meanwhile: wait out the rest.
        dismissDueMicros_ = dismissDeadlineMicros_;
        dismissWorkItem = scheduler_.after(static_cast<double>(dismissDeadlineMicros_ - now) / 1e6,
                                           lifetime_.wrap([this] { dismissTimerFired(); }));
        return;
    }
    dismissCurrentActivity();
}

void LiveActivityManager::showActivity(LiveActivityType type) {
    const QString name = caseName(type);
    if (currentActivityType == type) {
        // The view on screen stays and plays no new entrance.
        const double time = refreshTime(type);
        scheduleDismiss(time);
        Log::shared().info(QStringLiteral("LiveActivityManager: Refreshing ") + name + QStringLiteral(" activity timer (") +
                           format::number(time) + QStringLiteral("s)"));
        return;
    }

    if (modeChangeWorkItem) {
        modeChangeWorkItem->cancel();
        modeChangeWorkItem.reset();
        // Within the exit's hand-back window the notch still shows the ended activity: return to
        // where that hand-back was going, never to a live-activity mode.
        if (!previousNotchModeBeforeLiveActivity) previousNotchModeBeforeLiveActivity = pendingReturnMode_;
        pendingReturnMode_.reset();
    }
    // A chain of activities returns to the mode from before its first one. An activity mode is never
    // a return target: it would come back with no timer and stick.
    if (!previousNotchModeBeforeLiveActivity && !bus.notchModeSubject.value().isLiveActivity()) {
        previousNotchModeBeforeLiveActivity = bus.notchModeSubject.value();
    }
    currentActivityType = type;
    bus.notchModeSubject.send(NotchMode::liveActivity(type));

    if (const auto time = showTime(type)) {
        scheduleDismiss(*time);
        Log::shared().info(QStringLiteral("LiveActivityManager: Showing ") + name + QStringLiteral(" activity for ") +
                           format::number(*time) + QStringLiteral("s"));
    } else {
        cancelDismiss();
        Log::shared().info(QStringLiteral("LiveActivityManager: Showing ") + name +
                           QStringLiteral(" activity (persistent until unlock)"));
    }
}

void LiveActivityManager::dismissCurrentActivity() {
    if (!currentActivityType) return;
    if (dismissWorkItem) dismissWorkItem->cancel();
    dismissWorkItem.reset();
    currentActivityType.reset();
    const NotchMode returnMode = previousNotchModeBeforeLiveActivity.value_or(determineReturnMode());
    previousNotchModeBeforeLiveActivity.reset();

    bus.liveActivityDismissSubject.send();
    pendingReturnMode_ = returnMode;
    modeChangeWorkItem = scheduler_.after(windowModeChangeDelayAfterContent, lifetime_.wrap([this, returnMode] {
        modeChangeWorkItem.reset();
        pendingReturnMode_.reset();
        bus.notchModeSubject.send(returnMode);
        Log::shared().info(QStringLiteral("LiveActivityManager: Returned to ") + returnMode.description());
    }));
}

NotchMode LiveActivityManager::determineReturnMode() const {
    const auto& nowPlaying = bus.nowPlayingSubject.value();
    if (nowPlaying && nowPlaying->playbackRate > 0 && settings_.enableNotchFeatures() &&
        settings_.showMiniPlayerWhenPlaying()) {
        return NotchMode::miniPlayer;
    }
    return NotchMode::idle;
}
