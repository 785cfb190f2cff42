#pragma once

// The now-playing service: polls the players through their scripts or the now-playing helper,
// publishes the track on the bus and to the player views, and sends play/pause and skip.

#include "core/app_settings.h"
#include "core/event_bus.h"
#include "core/notch_records.h"
#include "core/settings_enums.h"
#include "music/media_remote_bridge.h"
#include "music/native_player_rule.h"
#include "music/play_position.h"
#include "music/player_presence.h"
#include "music/player_scripts.h"
#include "music/track_lyrics_source.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/grid_timer.h"
#include "platform/runtime/reactive.h"
#include "platform/storage/defaults.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

// The shuffle and loop settings of the player whose track is shown, for the players that have
// them (MPRIS Shuffle and LoopStatus).
struct PlayerModes {
    std::optional<bool> shuffle;
    std::optional<QString> loopStatus;  // "None", "Track" or "Playlist"

    bool operator==(const PlayerModes&) const = default;
};

class MediaRemoteService final : public TrackLyricsSource, public PlayPositionSource {
public:
    static constexpr double kControlCenterPeriod = 0.8;
    static constexpr double kAppleScriptPeriod = 1.0;
    static constexpr double kSnapshotTimeout = 0.5;
    static constexpr int missToleranceCount = 3;
    // While the helper fetches a track's web cover, it is asked again this soon, at most
    // kCoverRefetches times per track: the cover then comes before the mini player stops
    // waiting for it.
    static constexpr double kCoverRefetchDelay = 0.15;
    static constexpr int kCoverRefetches = 2;
    // A player that says its position jumped (a seek, a new rate) is polled at once, so the lyrics
    // follow; a burst of such news is polled at most this often.
    static constexpr double kJumpPollInterval = 0.25;

    // The process-wide service; creating it launches the helper and waits for its READY.
    static MediaRemoteService& shared();

    // `defaults` nullptr: the standard defaults. `bridge` nullptr: a bridge to the helper beside
    // the application. The bridge's helper is launched here, whatever the source. `players`: with
    // one, the poll's ticks run only while a player is there or a track is shown (a poll could
    // find nothing else), on the grid of the timer's start, and a player's seek is polled at once;
    // nullptr: they always run.
    explicit MediaRemoteService(EventBus& bus = EventBus::shared(),
                                platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                platform::Defaults* defaults = nullptr, std::unique_ptr<MediaRemoteBridge> bridge = nullptr,
                                PlayerScripts scripts = PlayerScripts(), PlayerPresence* players = nullptr);
    ~MediaRemoteService() override;
    MediaRemoteService(const MediaRemoteService&) = delete;
    MediaRemoteService& operator=(const MediaRemoteService&) = delete;

    // Observes the source setting, (re)starts the poll timer and polls once now. Main thread.
    void start();
    // Stops polling and clears what is shown; the helper keeps running. Main thread.
    void stop();
    // The application ends: a helper still starting is stopped without counting as a failure.
    void cancelHelperLaunch() { mediaRemoteBridge_->cancelLaunch(); }

    // Transport: the players' scripts for a Music or Spotify track, the helper for any other
    // track and when none is shown. They block the calling (main) thread while the command runs.
    void togglePlayPause();
    void nextTrack();
    void previousTrack();

    // A shown track of a player that is no music application (NativePlayerRule): a browser, or a
    // player without a known desktop entry.
    bool isBrowserMedia() const;

    // The shown player's shuffle and loop settings; both absent for a player without them.
    const PlayerModes& playerModes() const { return playerModes_; }
    // Ask the shown player to flip its shuffle, or to move its loop status on (None, Playlist,
    // Track, None). False, with a log line and nothing sent, when it has no such setting. They
    // block the calling (main) thread while the helper answers.
    bool toggleShuffle();
    bool cycleLoopStatus();

    // The lyrics the player of `track` carries for it (MPRIS xesam:asText); none when that
    // player shows another track meanwhile. Any thread; blocks while the helper answers.
    std::optional<QString> lyricsFor(const NowPlayingInfo& track) override;
    // The position of every poll that found a track with one, whether or not it was published.
    platform::AnyCancellable onPlayPosition(std::function<void(const PlayPosition&)> read) override;

    // Published for the player views; objectWillChange fires before each of them changes.
    const std::optional<NowPlayingInfo>& nowPlaying() const { return nowPlaying_; }
    bool isPlaying() const { return isPlaying_; }
    const std::optional<QImage>& lastArtwork() const { return lastArtwork_; }
    const std::optional<QColor>& artworkDominantColor() const { return artworkDominantColor_; }
    const platform::PassthroughSubject<> objectWillChange;

    MusicNowPlayingSource currentSource() const { return currentSource_.load(); }
    int consecutiveMissCount() const { return consecutiveMissCount_; }
    bool isPolling() const { return updateTimer_ && updateTimer_->isStarted(); }
    bool isTicking() const { return updateTimer_ && updateTimer_->isTicking(); }
    MediaRemoteBridge& bridge() { return *mediaRemoteBridge_; }

private:
    // A pair of a decision log's last text and when it went out, kept whole under one lock.
    struct Throttle {
        QString signature;
        std::optional<double> at;  // monotonic seconds; none is the distant past
    };
    // Lets pool threads still in a poll finish before the service goes.
    struct PollGate {
        std::mutex mutex;
        std::condition_variable idle;
        bool open = true;
        int running = 0;
    };

    void setupSettingsObserver();
    void handleSettingsChange();
    void restartPollingTimer();
    void tickOnlyWithSomethingToFind();
    void fetchNowPlayingInfo();
    void fetchNowPlayingViaControlCenter(uint64_t generation);
    void fetchNowPlayingViaAppleScript(uint64_t generation);
    // On the poll's thread, as soon as the poll has its answer (the position's time of reading).
    // `coverPending`: the helper is still fetching the track's web cover.
    void hit(uint64_t generation, NowPlayingInfo info, PlayerModes modes = {}, bool coverPending = false);
    void updateNowPlaying(const NowPlayingInfo& info);
    NowPlayingInfo withFallbackArtworkIfNeeded(const NowPlayingInfo& info) const;
    void handleTransientMissOnMain(uint64_t generation);
    void clearNowPlayingOnMain(uint64_t generation);
    void clearNowPlayingImmediately();
    void logAppleScriptDecision(const QString& text);
    void logControlCenterDecision(const QString& text);
    void maybeLogMediaRemoteDebug(const QString& context);
    bool passesThrottle(Throttle& throttle, const QString& text, double interval);
    void refetchAfter(double seconds);
    void pollAfterJump();
    void sendTransport(uint32_t command, const QString& musicScript, const QString& spotifyScript);
    static NowPlayingInfo infoFrom(const MediaRemoteSnapshot& snapshot);

    void setNowPlaying(std::optional<NowPlayingInfo> value);
    void setIsPlaying(bool value);
    void setLastArtwork(std::optional<QImage> value);
    void setArtworkDominantColor(std::optional<QColor> value);
    void setPlayerModes(PlayerModes value);
    std::optional<QString> shownPlayer() const;

    std::optional<NowPlayingInfo> nowPlaying_;
    bool isPlaying_ = false;
    std::optional<QImage> lastArtwork_;
    std::optional<QColor> artworkDominantColor_;
    PlayerModes playerModes_;
    bool isBrowserPlayer_ = false;  // of the shown track's player, worked out on the poll's thread
    EventBus& bus_;
    platform::Scheduler& scheduler_;
    platform::Defaults* defaults_;
    AppSettings settings_;
    std::unique_ptr<platform::GridTimer> updateTimer_;
    PlayerPresence* players_;
    platform::AnyCancellable playersWatch_;
    platform::AnyCancellable jumpsWatch_;
    bool jumpPollDue_ = false;
    std::optional<double> lastJumpPollAt_;  // monotonic seconds
    platform::AnyCancellable settingsCancellable_;
    std::atomic<MusicNowPlayingSource> currentSource_;
    int consecutiveMissCount_ = 0;
    QString coverRefetchTrack_;  // the track the early refetches below were for
    int coverRefetches_ = 0;
    std::unique_ptr<MediaRemoteBridge> mediaRemoteBridge_;
    PlayerScripts scripts_;
    NativePlayerRule nativePlayers_;
    platform::PassthroughSubject<PlayPosition> playPositions_;

    std::mutex throttleMutex_;
    Throttle mediaRemoteDebug_;
    Throttle controlCenterDecision_;
    Throttle appleScriptDecision_;

    // Bumped by stop(): results of polls begun before it are dropped, so a track cannot come
    // back with no timer left to clear it.
    uint64_t generation_ = 0;
    std::shared_ptr<PollGate> pollGate_ = std::make_shared<PollGate>();
    platform::Lifetime lifetime_;
};
