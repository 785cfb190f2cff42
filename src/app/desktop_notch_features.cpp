#include "app/desktop_notch_features.h"

#include "glance/calendar_service.h"
#include "live_activities/live_activity_manager.h"
#include "live_activities/screen_lock_service.h"
#include "music/global_hotkey_service.h"
#include "music/lyrics_service.h"
#include "music/media_remote_service.h"
#include "platform/calendar/calendar_store.h"

#include <utility>

void DesktopNotchFeatures::startCoreServices() {
    // Order: notch window and state manager, now playing, hover detector, the system-event services,
    // the live-activity manager, lyrics, media hotkeys.
    MediaRemoteService::shared().start();
    ScreenLockService::shared().start();
    LiveActivityManager::shared().start();
    liveActivityManagerHeld_ = true;
    LyricsService::shared().start();
    GlobalHotkeyService::shared().start();
}

void DesktopNotchFeatures::startCalendarService() { CalendarService::shared().start(); }

void DesktopNotchFeatures::startWeatherService() {}

void DesktopNotchFeatures::startAppSwitcherService() {}

// Linux has no per-application calendar gate: a reachable desktop calendar store is full access.
bool DesktopNotchFeatures::isCalendarAccessGranted() const {
    return platform::CalendarStore::shared().authorizationStatus() == platform::CalendarAuthorizationStatus::fullAccess;
}

void DesktopNotchFeatures::stopAll() {
    MediaRemoteService::shared().stop();
    ScreenLockService::shared().stop();
    // Only a manager this start took: its stop line belongs to a run.
    if (std::exchange(liveActivityManagerHeld_, false)) LiveActivityManager::shared().stop();
    LyricsService::shared().stop();
    GlobalHotkeyService::shared().stop();
    // The glance services stop whether or not this start ran them: the settings may have started one.
    CalendarService::shared().stop();
}

bool DesktopNotchFeatures::hasNotchWindowController() const { return false; }

void DesktopNotchFeatures::releaseNotchWindowController() {}
