#pragma once

// Turns the desktop's lock and session-switch notices into the screen-locked flag, the lock and
// unlock activities, and the move of the application's windows into the lock-screen space.
// Several sources report the same lock (logind, the desktop's screensaver, the session's
// activity). The rule: the latest notice wins. The first lock notice locks and the repeats are
// ignored; any unlock notice, from whichever source, unlocks, so no source can leave it locked.

#include "core/event_bus.h"
#include "live_activities/sky_light_helper.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/session/session_monitor.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class ScreenLockService {
public:
    // The application's windows, as the numbers the window server knows them by.
    using WindowNumbers = std::function<std::vector<int64_t>()>;
    using SkyLightProvider = std::function<SkyLightHelper&()>;

    static constexpr double windowMoveDelay = 0.1;
    static constexpr double unlockStepDelay = 1.5;

    static ScreenLockService& shared();

    // Empty `windowNumbers` reads the application's top-level windows; empty `skyLight` takes
    // SkyLightHelper::shared() (created at the first window move).
    explicit ScreenLockService(EventBus& bus = EventBus::shared(),
                               platform::Scheduler& scheduler = platform::Scheduler::shared(),
                               platform::SessionMonitor& session = platform::SessionMonitor::shared(),
                               WindowNumbers windowNumbers = {}, SkyLightProvider skyLight = {});
    ScreenLockService(const ScreenLockService&) = delete;
    ScreenLockService& operator=(const ScreenLockService&) = delete;

    void start();
    // Always runs and logs, running or not; pending steps still run.
    void stop();

    bool isRunning() const { return isRunning_; }
    bool isLocked() const { return isLocked_; }

    // Observer entry points: the session's activity, then the lock notices.
    void sessionResigned() { handleLock(); }
    void sessionBecameActive() { handleUnlock(); }
    void distributedLock() { handleLock(); }
    void distributedUnlock() { handleUnlock(); }

private:
    void handleLock();
    void handleUnlock();
    void moveNotchWindowToLockScreen();

    EventBus& bus;
    platform::Scheduler& scheduler_;
    platform::SessionMonitor& session_;
    WindowNumbers windowNumbers_;
    SkyLightProvider skyLight_;
    bool isRunning_ = false;
    bool isLocked_ = false;
    platform::CancellableSet observers_;
    // The pending end of the unlock; a new lock cancels it so it cannot report "unlocked" while locked.
    std::optional<platform::WorkItem> unlockWorkItem_;
    platform::Lifetime lifetime_;
};
