#include "core/event_bus.h"

#include "core/wall_clock.h"

EventBus& EventBus::shared() {
    static EventBus* instance = new EventBus();  // never released: channels outlive every subscriber
    return *instance;
}

EventBus::EventBus(platform::Scheduler& scheduler)
    : overlayStateSubject(OverlayState{
          .isVisible = false,
          .mode = IslandMode::peek,
          .count = 0,
          .lastUpdated = wallClockNow(scheduler),
          .message = std::nullopt,
          .sourceHint = std::nullopt,
          .appIconData = std::nullopt,
          .bundleId = std::nullopt,
      }),
      notchModeSubject(NotchMode::idle),
      nowPlayingSubject(std::nullopt),
      hoverStateSubject(false),
      notchDisplayStateSubject(NotchDisplayState{
          .mode = NotchMode::idle,
          .isHovering = false,
          .nowPlaying = std::nullopt,
          .previousMode = std::nullopt,
      }),
      batteryInfoSubject(std::nullopt),
      bluetoothDeviceSubject(std::nullopt),
      volumeInfoSubject(std::nullopt),
      displayBrightnessSubject(std::nullopt),
      keyboardBrightnessSubject(std::nullopt),
      inputSourceSubject(std::nullopt),
      screenLockedSubject(false),
      lyricsSubject(std::nullopt),
      calendarEventsSubject({}),
      weatherInfoSubject(std::nullopt),
      weatherLocationUnavailableSubject(false),
      recentAppsSubject({}),
      bluetoothDevicesSubject({}) {}
