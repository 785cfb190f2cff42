#include "live_activities/screen_lock_service.h"

#include "core/log.h"

#include <QGuiApplication>
#include <QWindow>

namespace {

std::vector<int64_t> topLevelWindowNumbers() {
    std::vector<int64_t> numbers;
    if (!qGuiApp) return numbers;
    for (QWindow* window : QGuiApplication::topLevelWindows()) numbers.push_back(static_cast<int64_t>(window->winId()));
    return numbers;
}

}  // namespace

ScreenLockService& ScreenLockService::shared() {
    static auto* instance = new ScreenLockService();
    return *instance;
}

ScreenLockService::ScreenLockService(EventBus& bus, platform::Scheduler& scheduler, platform::SessionMonitor& session,
                                     WindowNumbers windowNumbers, SkyLightProvider skyLight)
    : bus(bus),
      scheduler_(scheduler),
      session_(session),
      windowNumbers_(windowNumbers ? std::move(windowNumbers) : WindowNumbers(topLevelWindowNumbers)),
      skyLight_(skyLight ? std::move(skyLight) : SkyLightProvider([]() -> SkyLightHelper& { return SkyLightHelper::shared(); })) {}

void ScreenLockService::start() {
    if (isRunning_) return;
    isRunning_ = true;
    observers_.insert(session_.observeSessionActive(lifetime_.wrap([this](bool active) {
        if (active) sessionBecameActive();
        else sessionResigned();
    })));
    observers_.insert(session_.observeScreenLock(lifetime_.wrap([this](bool locked) {
        if (locked) distributedLock();
        else distributedUnlock();
    })));
    Log::shared().info(QStringLiteral("ScreenLockService: Started"));
}

void ScreenLockService::stop() {
    isRunning_ = false;
    observers_.cancelAll();
    Log::shared().info(QStringLiteral("ScreenLockService: Stopped"));
}

void ScreenLockService::handleLock() {
    if (!isRunning_ || isLocked_) return;
    isLocked_ = true;
    Log::shared().info(QStringLiteral("ScreenLockService: Screen locked"));
    // A lock right after an unlock: the unlock's end step must not run while locked. The unlock
    // activity it would have ended goes now, so this lock shows a fresh lock activity instead of
    // refreshing the old one (which would give it a timer and leave the notch idle).
    if (unlockWorkItem_ && unlockWorkItem_->isPending()) {
        unlockWorkItem_->cancel();
        bus.liveActivityEventSubject.send(std::nullopt);
    }
    unlockWorkItem_.reset();
    scheduler_.post(lifetime_.wrap([this] {
        bus.screenLockedSubject.send(true);
        bus.notchModeSubject.send(NotchMode::idle);
        bus.liveActivityEventSubject.send(LiveActivityType::screenLock);
        scheduler_.after(windowMoveDelay, lifetime_.wrap([this] { moveNotchWindowToLockScreen(); }));
    }));
}

void ScreenLockService::handleUnlock() {
    if (!isRunning_ || !isLocked_) return;
    isLocked_ = false;
    Log::shared().info(QStringLiteral("ScreenLockService: Screen unlocked"));
    bus.liveActivityEventSubject.send(LiveActivityType::screenUnlock);
    unlockWorkItem_ = scheduler_.after(unlockStepDelay, lifetime_.wrap([this] {
        bus.liveActivityEventSubject.send(std::nullopt);
        bus.screenLockedSubject.send(false);
    }));
}

void ScreenLockService::moveNotchWindowToLockScreen() {
    const std::vector<int64_t> windows = windowNumbers_();
    for (const int64_t number : windows) {
        SkyLightHelper& helper = skyLight_();
        if (!helper.isAvailable) continue;
        const SkyLightHelper::NumberArray one{number};
        helper.fnAddWindows(helper.connection, helper.space, &one, 7);
        Log::shared().info(QStringLiteral("SkyLightHelper: Moved window ") + QString::number(number) +
                           QStringLiteral(" to lock screen space"));
    }
}
