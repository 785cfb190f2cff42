#include "app/desktop_notch_features.h"

#include "drop/drop_zone_view.h"
#include "drop/file_converter_service.h"
#include "glance/calendar_service.h"
#include "live_activities/battery_service.h"
#include "glance/glance_expanded_view.h"
#include "glance/weather_service.h"
#include "live_activities/bluetooth_service.h"
#include "live_activities/brightness_services.h"
#include "live_activities/input_source_service.h"
#include "live_activities/live_activity_manager.h"
#include "live_activities/air_drop_service.h"
#include "live_activities/screen_lock_service.h"
#include "live_activities/screenshot_service.h"
#include "live_activities/volume_service.h"
#include "music/global_hotkey_service.h"
#include "music/lyrics_service.h"
#include "music/media_remote_service.h"
#include "live_activities/live_activity_container_view.h"
#include "notch/expanded_dismiss_handshake.h"
#include "notch/notch_container_view.h"
#include "notch/notch_content_factory.h"
#include "notch/notch_hover_detector.h"
#include "notch/notch_state_manager.h"
#include "notch/notch_window_controller.h"
#include "platform/calendar/calendar_store.h"
#include "switcher/app_switcher_service.h"
#include "switcher/app_switcher_view.h"

#include <utility>

// The notch container shows the live activities through the views of their own folder.
void DesktopNotchFeatures::installNotchContent() {
    NotchContentFactory& factory = NotchContentFactory::standard();
    if (!factory.glance) factory.glance = [](QWidget* parent) -> QWidget* { return new GlanceExpandedView(parent); };
    if (!factory.drop) factory.drop = [](QWidget* parent) -> QWidget* { return new DropZoneView(parent); };
    if (!factory.switcher) factory.switcher = [](QWidget* parent) -> QWidget* { return new AppSwitcherView(parent); };
    if (factory.liveActivity) return;
    factory.liveActivity = [](LiveActivityType type, QWidget* parent) -> QWidget* {
        return new LiveActivityContainerView(type, parent);
    };
    factory.updateLiveActivity = [](QWidget* view, LiveActivityType type) {
        if (auto* container = qobject_cast<LiveActivityContainerView*>(view)) container->setActivityType(type);
    };
}

DesktopNotchFeatures::DesktopNotchFeatures() = default;
DesktopNotchFeatures::~DesktopNotchFeatures() = default;

void DesktopNotchFeatures::startCoreServices() {
    // Order: notch window and state manager, now playing, hover detector, the system-event services,
    // the live-activity manager, lyrics, media hotkeys.
    installNotchContent();
    // Conversions cut short by an earlier run (a crash, a kill) leave unfinished files behind.
    FileConverterService::shared().removeStaleParts();
    notchWindowController_ = std::make_unique<NotchWindowController>(
        [] { return new NotchContainerView; }, EventBus::shared(), nullptr, platform::Scheduler::shared(),
        // The expanded view's answer to this very request; a late answer to an abandoned one
        // cannot end a newer wait early.
        [](std::function<void()> done) { return ExpandedDismissHandshake::shared().requestDismiss(std::move(done)); });
    notchWindowController_->windowDidLoad();
    notchStateManager_ = &NotchStateManager::shared();
    MediaRemoteService::shared().start();
    NotchHoverDetector::shared().start();
    BatteryService::shared().start();
    BluetoothService::shared().start();
    VolumeService::shared().start();
    DisplayBrightnessService::shared().start();
    KeyboardBrightnessService::shared().start();
    ScreenLockService::shared().start();
    ScreenshotService::shared().start();
    AirDropService::shared().start();
    InputSourceService::shared().start();
    LiveActivityManager::shared().start();
    liveActivityManagerHeld_ = true;
    LyricsService::shared().start();
    GlobalHotkeyService::shared().start();
}

void DesktopNotchFeatures::startCalendarService() { CalendarService::shared().start(); }

void DesktopNotchFeatures::startWeatherService() { WeatherService::shared().start(); }

void DesktopNotchFeatures::startAppSwitcherService() { AppSwitcherService::shared().start(); }

// Linux has no per-application calendar gate: a reachable desktop calendar store is full access.
bool DesktopNotchFeatures::isCalendarAccessGranted() const {
    return platform::CalendarStore::shared().authorizationStatus() == platform::CalendarAuthorizationStatus::fullAccess;
}

bool DesktopNotchFeatures::isCalendarAccessPending() const { return platform::CalendarStore::shared().statusPending(); }

platform::AnyCancellable DesktopNotchFeatures::observeCalendarAccess(std::function<void()> handler) {
    return platform::CalendarStore::shared().observeStatus(std::move(handler));
}

std::optional<platform::CalendarStoreProblem> DesktopNotchFeatures::calendarStoreProblem() const {
    return platform::CalendarStore::shared().problem();
}

void DesktopNotchFeatures::prepareForExit() { MediaRemoteService::shared().cancelHelperLaunch(); }

void DesktopNotchFeatures::stopAll() {
    NotchHoverDetector::shared().stop();
    MediaRemoteService::shared().stop();
    BatteryService::shared().stop();
    BluetoothService::shared().stop();
    VolumeService::shared().stop();
    DisplayBrightnessService::shared().stop();
    KeyboardBrightnessService::shared().stop();
    ScreenLockService::shared().stop();
    ScreenshotService::shared().stop();
    AirDropService::shared().stop();
    InputSourceService::shared().stop();
    // Only a manager this start took: its stop line belongs to a run.
    if (std::exchange(liveActivityManagerHeld_, false)) LiveActivityManager::shared().stop();
    LyricsService::shared().stop();
    GlobalHotkeyService::shared().stop();
    // The glance services stop whether or not this start ran them: the settings may have started one.
    CalendarService::shared().stop();
    WeatherService::shared().stop();
    AppSwitcherService::shared().stop();
    releaseNotchWindowController();
    // The shared manager lives on with its subscriptions; only the reference goes.
    notchStateManager_ = nullptr;
}

bool DesktopNotchFeatures::hasNotchWindowController() const { return notchWindowController_ != nullptr; }

void DesktopNotchFeatures::releaseNotchWindowController() {
    if (!notchWindowController_) return;
    if (IslandPanel* window = notchWindowController_->window()) window->close();
    notchWindowController_.reset();
}
