#pragma once

// Keeps the notch's rules for music, notifications and dropped files: watches the track, the
// overlay, the hover flag and drops on the bus and writes the notch mode. Owns no window and draws
// nothing; everything shown in the notch follows the mode it writes. It has no stop: once created it
// keeps its subscriptions for the life of the process.

#include "core/app_settings.h"
#include "core/event_bus.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QString>

#include <optional>

class NotchStateManager {
public:
    static NotchStateManager& shared();

    // Subscribes to the bus at once; the current values of the track and the overlay are handled
    // during construction.
    explicit NotchStateManager(EventBus& bus = EventBus::shared(),
                               platform::Scheduler& scheduler = platform::Scheduler::shared(),
                               platform::Defaults* defaults = nullptr);
    NotchStateManager(const NotchStateManager&) = delete;
    NotchStateManager& operator=(const NotchStateManager&) = delete;

    // "title|artist|album|bundleIdentifier", absent parts empty.
    static QString makeTrackKey(const NowPlayingInfo& info);

    static constexpr double miniPlayerStartDelay = 0.35;
    static constexpr double miniPlayerDismissDelay = 1.5;
    static constexpr double windowModeChangeDelayAfterContent = 0.3;

private:
    void setupObservers();
    void handleNowPlayingChange(const std::optional<NowPlayingInfo>& info);
    void handleOverlayStateChange(const OverlayState& state);
    void handleDrop();
    NotchMode determineReturnMode() const;
    void cancelPendingIdleDismiss();
    void cancelPendingMiniPlayerStart();
    void scheduleMiniPlayerStartWithoutArtwork(const NowPlayingInfo& info);
    void scheduleMiniPlayerDismiss();
    void dismissMiniPlayerAnimated();

    bool isMiniPlayerEnabled() const;
    NotchMode mode() const { return bus.notchModeSubject.value(); }
    void setMode(const NotchMode& mode) { bus.notchModeSubject.send(mode); }

    EventBus& bus;
    platform::CancellableSet cancellables;
    NotchMode modeBeforeNotification = NotchMode::idle;
    std::optional<platform::WorkItem> pendingMiniPlayerWorkItem;
    std::optional<QString> pendingMiniPlayerTrackKey;
    std::optional<platform::WorkItem> pendingIdleWorkItem;
    std::optional<platform::WorkItem> modeChangeWorkItem;

    platform::Scheduler& scheduler_;
    AppSettings settings_;
    platform::Lifetime lifetime_;
};
