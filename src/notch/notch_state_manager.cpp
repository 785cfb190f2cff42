#include "notch/notch_state_manager.h"

#include "core/log.h"

namespace {

bool isPlaying(const std::optional<NowPlayingInfo>& info) { return info && info->playbackRate > 0; }

}  // namespace

NotchStateManager& NotchStateManager::shared() {
    static NotchStateManager* instance = new NotchStateManager();
    return *instance;
}

NotchStateManager::NotchStateManager(EventBus& bus, platform::Scheduler& scheduler, platform::Defaults* defaults)
    : bus(bus), scheduler_(scheduler), settings_(defaults) {
    setupObservers();
}

QString NotchStateManager::makeTrackKey(const NowPlayingInfo& info) {
    return info.title.value_or(QString()) + QLatin1Char('|') + info.artist.value_or(QString()) + QLatin1Char('|') +
           info.album.value_or(QString()) + QLatin1Char('|') + info.bundleIdentifier.value_or(QString());
}

void NotchStateManager::setupObservers() {
    cancellables.insert(bus.nowPlayingSubject.removeDuplicates().sink(
        lifetime_.wrap([this](const std::optional<NowPlayingInfo>& info) { handleNowPlayingChange(info); })));
    cancellables.insert(
        bus.overlayStateSubject.sink(lifetime_.wrap([this](const OverlayState& state) { handleOverlayStateChange(state); })));
    cancellables.insert(platform::combineLatest(bus.notchModeSubject, bus.hoverStateSubject, bus.nowPlayingSubject)
                            .sink(lifetime_.wrap([this](const auto& latest) {
                                const auto& [mode, hovering, nowPlaying] = latest;
                                bus.notchDisplayStateSubject.send(
                                    NotchDisplayState{mode, hovering, nowPlaying, modeBeforeNotification});
                            })));
    cancellables.insert(bus.dropEventSubject.sink(lifetime_.wrap([this](const QList<QUrl>&) { handleDrop(); })));
}

bool NotchStateManager::isMiniPlayerEnabled() const {
    return settings_.enableNotchFeatures() && settings_.showMiniPlayerWhenPlaying();
}

void NotchStateManager::handleNowPlayingChange(const std::optional<NowPlayingInfo>& info) {
    const NotchMode current = mode();
    // A hovered, locked or otherwise occupied notch ignores the music; the next change decides.
    if (bus.hoverStateSubject.value() || current.isLiveActivity() || current == NotchMode::notification ||
        bus.screenLockedSubject.value()) {
        return;
    }

    if (isPlaying(info)) {
        cancelPendingIdleDismiss();
        if (isMiniPlayerEnabled()) {
            if (current != NotchMode::idle) return;
            if (!info->artwork) {
                scheduleMiniPlayerStartWithoutArtwork(*info);
                return;
            }
            cancelPendingMiniPlayerStart();
            setMode(NotchMode::miniPlayer);
            Log::shared().info(QStringLiteral("NotchStateManager: Switched to miniPlayer (music started with artwork)"));
        } else {
            cancelPendingMiniPlayerStart();
            if (current == NotchMode::miniPlayer) {
                setMode(NotchMode::idle);
                Log::shared().info(QStringLiteral("NotchStateManager: Kept idle because mini player auto-show is disabled"));
            }
        }
        return;
    }

    cancelPendingMiniPlayerStart();
    if (current == NotchMode::miniPlayer) scheduleMiniPlayerDismiss();
}

void NotchStateManager::cancelPendingMiniPlayerStart() {
    if (pendingMiniPlayerWorkItem) pendingMiniPlayerWorkItem->cancel();
    pendingMiniPlayerWorkItem.reset();
    pendingMiniPlayerTrackKey.reset();
}

void NotchStateManager::scheduleMiniPlayerStartWithoutArtwork(const NowPlayingInfo& info) {
    if (!isMiniPlayerEnabled()) {
        cancelPendingMiniPlayerStart();
        return;
    }
    const QString key = makeTrackKey(info);
    // A start already pending for this track keeps its first deadline.
    if (pendingMiniPlayerTrackKey == key) return;

    cancelPendingMiniPlayerStart();
    pendingMiniPlayerTrackKey = key;
    pendingMiniPlayerWorkItem = scheduler_.after(miniPlayerStartDelay, lifetime_.wrap([this, key] {
        const auto& nowPlaying = bus.nowPlayingSubject.value();
        if (mode() == NotchMode::idle && !bus.hoverStateSubject.value() && isMiniPlayerEnabled() &&
            isPlaying(nowPlaying) && makeTrackKey(*nowPlaying) == key) {
            setMode(NotchMode::miniPlayer);
            Log::shared().info(QStringLiteral("NotchStateManager: Switched to miniPlayer after artwork wait timeout"));
        }
        cancelPendingMiniPlayerStart();
    }));
}

void NotchStateManager::cancelPendingIdleDismiss() {
    if (pendingIdleWorkItem) pendingIdleWorkItem->cancel();
    pendingIdleWorkItem.reset();
    if (modeChangeWorkItem) modeChangeWorkItem->cancel();
    modeChangeWorkItem.reset();
}

void NotchStateManager::scheduleMiniPlayerDismiss() {
    // The count runs from the first stop; later stopped records do not push it back.
    if (pendingIdleWorkItem) return;
    pendingIdleWorkItem = scheduler_.after(miniPlayerDismissDelay, lifetime_.wrap([this] {
        pendingIdleWorkItem.reset();
        if (!isPlaying(bus.nowPlayingSubject.value()) && mode() == NotchMode::miniPlayer) dismissMiniPlayerAnimated();
    }));
}

void NotchStateManager::dismissMiniPlayerAnimated() {
    // The content plays its exit first; the window follows once it has.
    bus.miniPlayerDismissSubject.send();
    if (modeChangeWorkItem) modeChangeWorkItem->cancel();
    modeChangeWorkItem = scheduler_.after(windowModeChangeDelayAfterContent, lifetime_.wrap([this] {
        modeChangeWorkItem.reset();
        // Another writer may have taken the notch in the meantime (expanded, drop, an activity).
        if (isPlaying(bus.nowPlayingSubject.value()) || mode() != NotchMode::miniPlayer) return;
        setMode(NotchMode::idle);
        Log::shared().info(QStringLiteral("NotchStateManager: Switched to idle (music stopped, 2-phase dismiss)"));
    }));
}

void NotchStateManager::handleOverlayStateChange(const OverlayState& state) {
    const NotchMode current = mode();
    const auto& nowPlaying = bus.nowPlayingSubject.value();

    if (state.isVisible) {
        // While music plays the notch keeps its mode; the overlay still shows on its own panel.
        if (isPlaying(nowPlaying)) return;
        if (nowPlaying && (current == NotchMode::notification || current == NotchMode::expanded ||
                           current == NotchMode::miniPlayer)) {
            return;
        }
        if (!nowPlaying && current == NotchMode::notification) return;
        modeBeforeNotification = current;
        setMode(NotchMode::notification);
        Log::shared().info(QStringLiteral("NotchStateManager: Switched to notification (saved previous mode: ") +
                           current.description() + QLatin1Char(')'));
        return;
    }

    if (current == NotchMode::notification) {
        const NotchMode next = determineReturnMode();
        setMode(next);
        Log::shared().info(QStringLiteral("NotchStateManager: Returned from notification to ") + next.description());
    }
}

NotchMode NotchStateManager::determineReturnMode() const {
    if (bus.hoverStateSubject.value()) return NotchMode::expanded;
    const auto& nowPlaying = bus.nowPlayingSubject.value();
    if (isMiniPlayerEnabled() && isPlaying(nowPlaying) && nowPlaying->artwork) return NotchMode::miniPlayer;
    return NotchMode::idle;
}

void NotchStateManager::handleDrop() {
    const NotchMode current = mode();
    if (!settings_.enableDrop() || current == NotchMode::drop) return;
    modeBeforeNotification = current;
    setMode(NotchMode::drop);
    Log::shared().info(QStringLiteral("NotchStateManager: Switched to drop mode"));
}
