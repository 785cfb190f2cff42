#pragma once

// The one hub between producers and consumers. It has no logic: it creates its channels once and
// they live as long as the bus. Subscriptions without a scheduling operator run synchronously
// inside the sender's send.

#include "core/glance_records.h"
#include "core/notch_records.h"
#include "core/notification_records.h"
#include "core/system_event_records.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/workspace/running_application.h"

#include <QList>
#include <QUrl>

#include <functional>
#include <optional>

class EventBus {
public:
    // Run by the receiver of a hide request once it has finished.
    using Completion = std::function<void()>;

    // The process-wide bus, created on first use and never released.
    static EventBus& shared();

    // Current-value channels start at their initial values; the hidden overlay state is stamped
    // with the scheduler's wall-clock time of this moment.
    explicit EventBus(platform::Scheduler& scheduler = platform::Scheduler::shared());
    EventBus(const EventBus&) = delete;
    EventBus& operator=(const EventBus&) = delete;

    const platform::PassthroughSubject<NotificationSignal> signalSubject;
    const platform::CurrentValueSubject<OverlayState> overlayStateSubject;
    const platform::PassthroughSubject<> overlayDismissSubject;
    const platform::CurrentValueSubject<NotchMode> notchModeSubject;
    const platform::CurrentValueSubject<std::optional<NowPlayingInfo>> nowPlayingSubject;
    const platform::CurrentValueSubject<bool> hoverStateSubject;
    const platform::CurrentValueSubject<NotchDisplayState> notchDisplayStateSubject;
    const platform::CurrentValueSubject<std::optional<BatteryInfo>> batteryInfoSubject;
    // Absent asks for the shown activity to be dismissed.
    const platform::PassthroughSubject<std::optional<LiveActivityType>> liveActivityEventSubject;
    const platform::CurrentValueSubject<std::optional<BluetoothDeviceInfo>> bluetoothDeviceSubject;
    const platform::PassthroughSubject<std::optional<Completion>> notchHideRequestSubject;
    const platform::CurrentValueSubject<std::optional<VolumeInfo>> volumeInfoSubject;
    const platform::CurrentValueSubject<std::optional<BrightnessInfo>> displayBrightnessSubject;
    const platform::CurrentValueSubject<std::optional<BrightnessInfo>> keyboardBrightnessSubject;
    const platform::PassthroughSubject<> liveActivityDismissSubject;
    const platform::PassthroughSubject<> miniPlayerDismissSubject;
    const platform::PassthroughSubject<> expandedDismissSubject;
    const platform::PassthroughSubject<> expandedDismissCompleteSubject;
    const platform::CurrentValueSubject<std::optional<InputSourceInfo>> inputSourceSubject;
    const platform::CurrentValueSubject<bool> screenLockedSubject;
    const platform::CurrentValueSubject<std::optional<LyricsInfo>> lyricsSubject;
    const platform::CurrentValueSubject<QList<CalendarEvent>> calendarEventsSubject;
    const platform::CurrentValueSubject<std::optional<WeatherInfo>> weatherInfoSubject;
    // True while no location can come for the weather (no location service, or access refused)
    // and none is known, so no forecast is on its way either.
    const platform::CurrentValueSubject<bool> weatherLocationUnavailableSubject;
    const platform::PassthroughSubject<QList<QUrl>> dropEventSubject;  // file URLs
    const platform::CurrentValueSubject<QList<platform::RunningApplication>> recentAppsSubject;
    const platform::CurrentValueSubject<QList<BluetoothDeviceInfo>> bluetoothDevicesSubject;
};
