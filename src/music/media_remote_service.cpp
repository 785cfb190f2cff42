#include "music/media_remote_service.h"

#include "core/app_icon_helper.h"
#include "core/enum_cases.h"
#include "core/format.h"
#include "core/log.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kNil = QStringLiteral("nil");

PlayerModes modesOf(const MediaRemoteSnapshot& snapshot) { return PlayerModes{snapshot.shuffle, snapshot.loopStatus}; }

}  // namespace

MediaRemoteService& MediaRemoteService::shared() {
    static auto* players = new MprisPlayerPresence();
    static auto* instance = new MediaRemoteService(EventBus::shared(), platform::Scheduler::shared(), nullptr, nullptr,
                                                   PlayerScripts(), players);
    return *instance;
}

MediaRemoteService::MediaRemoteService(EventBus& bus, platform::Scheduler& scheduler, platform::Defaults* defaults,
                                       std::unique_ptr<MediaRemoteBridge> bridge, PlayerScripts scripts,
                                       PlayerPresence* players)
    : bus_(bus),
      scheduler_(scheduler),
      defaults_(defaults),
      settings_(defaults),
      players_(players),
      currentSource_(settings_.musicNowPlayingSource()),
      mediaRemoteBridge_(bridge ? std::move(bridge) : std::make_unique<MediaRemoteBridge>(platform::ProcessLauncher::system(), scheduler)),
      scripts_(std::move(scripts)) {
    // A helper may take seconds to greet, or never: the wait is a worker's, and through the poll
    // gate, so the service outlives it. Polls meanwhile get no answer from the helper.
    mediaRemoteBridge_->announceLaunch();
    scheduler_.global([bridge = mediaRemoteBridge_.get(), gate = pollGate_] {
        {
            std::lock_guard lock(gate->mutex);
            if (!gate->open) return;
            ++gate->running;
        }
        bridge->launchHelper();
        std::lock_guard lock(gate->mutex);
        --gate->running;
        gate->idle.notify_all();
    });
}

MediaRemoteService::~MediaRemoteService() {
    updateTimer_.reset();
    playersWatch_.cancel();
    jumpsWatch_.cancel();
    settingsCancellable_.cancel();
    mediaRemoteBridge_->cancelLaunch();
    std::unique_lock lock(pollGate_->mutex);
    pollGate_->open = false;
    pollGate_->idle.wait(lock, [this] { return pollGate_->running == 0; });
}

// MARK: - Published properties

void MediaRemoteService::setNowPlaying(std::optional<NowPlayingInfo> value) {
    objectWillChange.send();
    nowPlaying_ = std::move(value);
    tickOnlyWithSomethingToFind();
}

void MediaRemoteService::setIsPlaying(bool value) {
    objectWillChange.send();
    isPlaying_ = value;
}

void MediaRemoteService::setLastArtwork(std::optional<QImage> value) {
    objectWillChange.send();
    lastArtwork_ = std::move(value);
}

void MediaRemoteService::setArtworkDominantColor(std::optional<QColor> value) {
    objectWillChange.send();
    artworkDominantColor_ = std::move(value);
}

void MediaRemoteService::setPlayerModes(PlayerModes value) {
    if (value == playerModes_) return;
    objectWillChange.send();
    playerModes_ = std::move(value);
}

// MARK: - Start and stop

void MediaRemoteService::start() {
    if (players_) {
        playersWatch_ = players_->onChange(lifetime_.wrap([this] { tickOnlyWithSomethingToFind(); }));
        jumpsWatch_ = players_->onPositionJump(lifetime_.wrap([this] { pollAfterJump(); }));
    }
    setupSettingsObserver();
    restartPollingTimer();
    fetchNowPlayingInfo();
    Log::shared().info(QStringLiteral("MediaRemoteService: Started monitoring (") + rawValue(currentSource()) + QLatin1Char(')'));
}

void MediaRemoteService::stop() {
    updateTimer_.reset();
    playersWatch_.cancel();
    jumpsWatch_.cancel();
    settingsCancellable_.cancel();
    ++generation_;
    consecutiveMissCount_ = 0;
    setNowPlaying(std::nullopt);
    setIsPlaying(false);
    setLastArtwork(std::nullopt);
    setPlayerModes({});
    bus_.nowPlayingSubject.send(std::nullopt);
    Log::shared().info(QStringLiteral("MediaRemoteService: Stopped monitoring"));
}

void MediaRemoteService::setupSettingsObserver() {
    platform::Defaults& defaults = defaults_ ? *defaults_ : platform::Defaults::standard();
    settingsCancellable_ = defaults.didChange().receiveOnMain(&scheduler_).sink(
        lifetime_.wrap([this](const QString&) { handleSettingsChange(); }));
}

void MediaRemoteService::handleSettingsChange() {
    const MusicNowPlayingSource source = settings_.musicNowPlayingSource();
    if (rawValue(source) == rawValue(currentSource())) return;
    currentSource_ = source;
    consecutiveMissCount_ = 0;
    restartPollingTimer();
    fetchNowPlayingInfo();
    Log::shared().info(QStringLiteral("MediaRemoteService: Switched source to ") + rawValue(source));
}

void MediaRemoteService::restartPollingTimer() {
    const double period = currentSource() == MusicNowPlayingSource::controlCenter ? kControlCenterPeriod : kAppleScriptPeriod;
    updateTimer_ = std::make_unique<platform::GridTimer>(scheduler_, period, lifetime_.wrap([this] { fetchNowPlayingInfo(); }));
    updateTimer_->start();
    tickOnlyWithSomethingToFind();
}

// With no player on the bus and nothing shown, a poll can only find nothing and clear nothing.
// A poll still under way that finds a track shows it, and the ticks resume with it.
void MediaRemoteService::tickOnlyWithSomethingToFind() {
    if (!updateTimer_ || !updateTimer_->isStarted()) return;
    if (!players_ || players_->anyPlayer() || nowPlaying_) {
        updateTimer_->resume();
    } else {
        updateTimer_->pause();
    }
}

// MARK: - Polling

void MediaRemoteService::fetchNowPlayingInfo() {
    const uint64_t generation = generation_;
    scheduler_.global([this, gate = pollGate_, generation] {
        {
            std::lock_guard lock(gate->mutex);
            if (!gate->open) return;
            ++gate->running;
        }
        if (currentSource() == MusicNowPlayingSource::controlCenter) {
            fetchNowPlayingViaControlCenter(generation);
        } else {
            fetchNowPlayingViaAppleScript(generation);
        }
        std::lock_guard lock(gate->mutex);
        --gate->running;
        gate->idle.notify_all();
    });
}

NowPlayingInfo MediaRemoteService::infoFrom(const MediaRemoteSnapshot& snapshot) {
    NowPlayingInfo info;
    info.title = snapshot.title;
    info.artist = snapshot.artist;
    info.album = snapshot.album;
    info.artwork = snapshot.artwork;
    info.duration = snapshot.duration;
    info.elapsedTime = snapshot.elapsedTime;
    info.playbackRate = snapshot.playbackRate.value_or(1.0);
    info.bundleIdentifier = snapshot.bundleIdentifier;
    return info;
}

void MediaRemoteService::fetchNowPlayingViaControlCenter(uint64_t generation) {
    const std::optional<MediaRemoteSnapshot> snapshot = mediaRemoteBridge_->currentSnapshot(kSnapshotTimeout);
    maybeLogMediaRemoteDebug(QStringLiteral("controlCenter"));
    if (!snapshot) {
        logControlCenterDecision(QStringLiteral("MediaRemote returned nil; fallback=AppleScript"));
        fetchNowPlayingViaAppleScript(generation);
        return;
    }
    if (!snapshot->isPlaying) {
        logControlCenterDecision(QStringLiteral("MediaRemote: not playing; clearing"));
        handleTransientMissOnMain(generation);
        return;
    }
    logControlCenterDecision(QStringLiteral("MediaRemote hit: playing=true title=") + snapshot->title.value_or(kNil) +
                             QStringLiteral(" artist=") + snapshot->artist.value_or(kNil) + QStringLiteral(" bundle=") +
                             snapshot->bundleIdentifier.value_or(kNil) + QStringLiteral(" rate=") +
                             format::optional(snapshot->playbackRate));
    hit(generation, infoFrom(*snapshot), modesOf(*snapshot), snapshot->artworkPending);
}

void MediaRemoteService::fetchNowPlayingViaAppleScript(uint64_t generation) {
    const PlaybackProbeResult probe = scripts_.probeActivePlayer();
    logAppleScriptDecision(QStringLiteral("probe=") + caseName(probe));
    std::optional<NowPlayingInfo> info;
    switch (probe) {
    case PlaybackProbeResult::musicPlaying:
        info = scripts_.fetchAppleMusicInfo();
        break;
    case PlaybackProbeResult::spotifyPlaying:
        info = scripts_.fetchSpotifyInfo();
        break;
    case PlaybackProbeResult::error:
        info = scripts_.fetchAppleMusicInfo();
        if (!info) info = scripts_.fetchSpotifyInfo();
        break;
    case PlaybackProbeResult::none: {
        const std::optional<MediaRemoteSnapshot> snapshot = mediaRemoteBridge_->currentSnapshot(kSnapshotTimeout);
        if (!snapshot || !snapshot->isPlaying) {
            clearNowPlayingOnMain(generation);
            return;
        }
        logAppleScriptDecision(QStringLiteral("probe=none; MediaRemote fallback hit: title=") + snapshot->title.value_or(kNil) +
                               QStringLiteral(" bundle=") + snapshot->bundleIdentifier.value_or(kNil));
        hit(generation, infoFrom(*snapshot), modesOf(*snapshot), snapshot->artworkPending);
        return;
    }
    }
    if (info) {
        hit(generation, std::move(*info));
    } else {
        handleTransientMissOnMain(generation);
    }
}

void MediaRemoteService::hit(uint64_t generation, NowPlayingInfo info, PlayerModes modes, bool coverPending) {
    // Desktop entries are files: they are read here, on the poll's thread.
    const bool browser = info.bundleIdentifier && !nativePlayers_.isNativePlayer(*info.bundleIdentifier);
    const double readAt = scheduler_.monotonicSeconds();
    scheduler_.post(lifetime_.wrap([this, generation, info = std::move(info), modes = std::move(modes), browser,
                                        coverPending, readAt] {
        if (generation != generation_) return;
        consecutiveMissCount_ = 0;
        if (browser != isBrowserPlayer_) {
            objectWillChange.send();
            isBrowserPlayer_ = browser;
        }
        setPlayerModes(modes);
        updateNowPlaying(info);
        // Views see no seek (the track is unchanged), the lyrics must.
        if (info.elapsedTime && std::isfinite(*info.elapsedTime) && *info.elapsedTime >= 0) {
            playPositions_.send(PlayPosition{info.title, info.artist, *info.elapsedTime,
                                             std::isfinite(info.playbackRate) ? info.playbackRate : 0.0, readAt});
        }
        if (coverPending) {
            const QString track = info.title.value_or(QString()) + QLatin1Char('\n') + info.artist.value_or(QString()) +
                                  QLatin1Char('\n') + info.bundleIdentifier.value_or(QString());
            if (track != coverRefetchTrack_) {
                coverRefetchTrack_ = track;
                coverRefetches_ = 0;
            }
            if (coverRefetches_ < kCoverRefetches) {
                ++coverRefetches_;
                refetchAfter(kCoverRefetchDelay);
            }
        }
    }));
}

void MediaRemoteService::updateNowPlaying(const NowPlayingInfo& info) {
    const NowPlayingInfo resolved = withFallbackArtworkIfNeeded(info);
    if (nowPlaying_ && *nowPlaying_ == resolved) return;
    setNowPlaying(resolved);
    setIsPlaying(resolved.playbackRate > 0);
    // Identity, not content: the colour is worked out once per artwork that arrives.
    if (resolved.artwork && !(lastArtwork_ && lastArtwork_->cacheKey() == resolved.artwork->cacheKey())) {
        setLastArtwork(resolved.artwork);
        setArtworkDominantColor(AppIconHelper::dominantColor(*resolved.artwork));
    }
    bus_.nowPlayingSubject.send(resolved);
    Log::shared().debug(QStringLiteral("MediaRemoteService: Updated - ") + resolved.title.value_or(QStringLiteral("Unknown")) +
                        QStringLiteral(" by ") + resolved.artist.value_or(QStringLiteral("Unknown")));
}

NowPlayingInfo MediaRemoteService::withFallbackArtworkIfNeeded(const NowPlayingInfo& info) const {
    if (info.artwork) return info;
    if (nowPlaying_ && nowPlaying_->title == info.title && nowPlaying_->artist == info.artist &&
        nowPlaying_->album == info.album && nowPlaying_->bundleIdentifier == info.bundleIdentifier && nowPlaying_->artwork) {
        NowPlayingInfo withArtwork = info;
        withArtwork.artwork = nowPlaying_->artwork;
        return withArtwork;
    }
    return info;
}

void MediaRemoteService::handleTransientMissOnMain(uint64_t generation) {
    scheduler_.post(lifetime_.wrap([this, generation] {
        if (generation != generation_ || !nowPlaying_) return;
        ++consecutiveMissCount_;
        if (consecutiveMissCount_ >= missToleranceCount) clearNowPlayingImmediately();
    }));
}

void MediaRemoteService::clearNowPlayingOnMain(uint64_t generation) {
    scheduler_.post(lifetime_.wrap([this, generation] {
        if (generation != generation_) return;
        clearNowPlayingImmediately();
    }));
}

void MediaRemoteService::clearNowPlayingImmediately() {
    if (!nowPlaying_) return;
    consecutiveMissCount_ = 0;
    setNowPlaying(std::nullopt);
    setIsPlaying(false);
    setPlayerModes({});
    bus_.nowPlayingSubject.send(std::nullopt);
}

// MARK: - Decision logs

bool MediaRemoteService::passesThrottle(Throttle& throttle, const QString& text, double interval) {
    const double now = scheduler_.monotonicSeconds();
    std::lock_guard lock(throttleMutex_);
    if (throttle.at && text == throttle.signature && now - *throttle.at < interval) return false;
    throttle.signature = text;
    throttle.at = now;
    return true;
}

void MediaRemoteService::logAppleScriptDecision(const QString& text) {
    if (text == QLatin1String("probe=none")) return;
    if (passesThrottle(appleScriptDecision_, text, 3.0)) {
        Log::shared().info(QStringLiteral("MediaRemoteService[appleScript] ") + text);
    }
}

void MediaRemoteService::logControlCenterDecision(const QString& text) {
    if (passesThrottle(controlCenterDecision_, text, 3.0)) {
        Log::shared().debug(QStringLiteral("MediaRemoteService[controlCenter] ") + text);
    }
}

void MediaRemoteService::maybeLogMediaRemoteDebug(const QString& context) {
    const QString summary = mediaRemoteBridge_->lastDebugSummary();
    if (passesThrottle(mediaRemoteDebug_, summary, 5.0)) {
        Log::shared().debug(QStringLiteral("MediaRemoteService[") + context + QStringLiteral("] ") + summary);
    }
}

// MARK: - Transport

bool MediaRemoteService::isBrowserMedia() const {
    return nowPlaying_ && nowPlaying_->bundleIdentifier && isBrowserPlayer_;
}

std::optional<QString> MediaRemoteService::shownPlayer() const {
    if (!nowPlaying_) return std::nullopt;
    return nowPlaying_->bundleIdentifier;
}

bool MediaRemoteService::toggleShuffle() {
    const std::optional<QString> player = shownPlayer();
    if (!player || isBrowserMedia() || !playerModes_.shuffle) {
        Log::shared().info(QStringLiteral("MediaRemoteService: Shuffle pressed; ") + player.value_or(QStringLiteral("no player")) +
                           QStringLiteral(" has no shuffle setting, nothing sent"));
        return false;
    }
    const bool wanted = !*playerModes_.shuffle;
    const bool sent = mediaRemoteBridge_->setShuffle(*player, wanted);
    Log::shared().debug(QStringLiteral("MediaRemoteService: Shuffle of ") + *player + QStringLiteral(" set to ") +
                        format::boolean(wanted) + QStringLiteral(" -> ") + format::boolean(sent));
    if (sent) {
        PlayerModes modes = playerModes_;
        modes.shuffle = wanted;
        setPlayerModes(std::move(modes));
    }
    refetchAfter(0.1);
    return true;
}

bool MediaRemoteService::cycleLoopStatus() {
    const std::optional<QString> player = shownPlayer();
    if (!player || isBrowserMedia() || !playerModes_.loopStatus) {
        Log::shared().info(QStringLiteral("MediaRemoteService: Repeat pressed; ") + player.value_or(QStringLiteral("no player")) +
                           QStringLiteral(" has no loop setting, nothing sent"));
        return false;
    }
    const QString& now = *playerModes_.loopStatus;
    const QString wanted = now == QLatin1String("None")       ? QStringLiteral("Playlist")
                           : now == QLatin1String("Playlist") ? QStringLiteral("Track")
                                                              : QStringLiteral("None");
    const bool sent = mediaRemoteBridge_->setLoopStatus(*player, wanted);
    Log::shared().debug(QStringLiteral("MediaRemoteService: Loop status of ") + *player + QStringLiteral(" set to ") + wanted +
                        QStringLiteral(" -> ") + format::boolean(sent));
    if (sent) {
        PlayerModes modes = playerModes_;
        modes.loopStatus = wanted;
        setPlayerModes(std::move(modes));
    }
    refetchAfter(0.1);
    return true;
}

std::optional<QString> MediaRemoteService::lyricsFor(const NowPlayingInfo& track) {
    if (!track.bundleIdentifier) return std::nullopt;
    const std::optional<MediaRemoteBridge::PlayerLyrics> reply = mediaRemoteBridge_->lyrics(*track.bundleIdentifier);
    if (!reply) return std::nullopt;
    // Lyrics of the track the player moved on to would be cached under this one's key.
    if (reply->title != track.title || reply->artist != track.artist) return std::nullopt;
    return reply->lyrics;
}

platform::AnyCancellable MediaRemoteService::onPlayPosition(std::function<void(const PlayPosition&)> read) {
    return playPositions_.sink(std::move(read));
}

void MediaRemoteService::refetchAfter(double seconds) {
    // Like a poll under way, a refetch due after stop() would show a track nothing clears.
    scheduler_.after(seconds, lifetime_.wrap([this, generation = generation_] {
        if (generation == generation_) fetchNowPlayingInfo();
    }));
}

void MediaRemoteService::pollAfterJump() {
    if (jumpPollDue_) return;  // the poll already due reads the latest position
    const double now = scheduler_.monotonicSeconds();
    const double wait = lastJumpPollAt_ ? std::max(0.0, *lastJumpPollAt_ + kJumpPollInterval - now) : 0.0;
    jumpPollDue_ = true;
    scheduler_.after(wait, lifetime_.wrap([this, generation = generation_] {
        jumpPollDue_ = false;
        lastJumpPollAt_ = scheduler_.monotonicSeconds();
        if (generation == generation_) fetchNowPlayingInfo();
    }));
}

void MediaRemoteService::sendTransport(uint32_t command, const QString& musicScript, const QString& spotifyScript) {
    if (!nowPlaying_) {
        // Nothing shown, as after a pause cleared the track: the helper picks the player it would
        // report (the first paused one), so play resumes what was paused.
        const bool sent = mediaRemoteBridge_->sendCommand(command);
        Log::shared().info(QStringLiteral("MediaRemoteService: No track shown; sent command ") + QString::number(command) +
                           QStringLiteral(" through the helper -> ") + format::boolean(sent));
    } else if (nowPlaying_->bundleIdentifier && !NativePlayerRule::isScriptedPlayer(*nowPlaying_->bundleIdentifier)) {
        // Every player the scripts cannot reach, the desktop's MPRIS players among them.
        mediaRemoteBridge_->sendCommand(command);
    } else if (scripts_.runAppleScript(musicScript) != QStringLiteral("OK")) {
        scripts_.runAppleScript(spotifyScript);
    }
}

void MediaRemoteService::togglePlayPause() {
    sendTransport(2, PlayerScripts::musicPlayPauseScript(), PlayerScripts::spotifyPlayPauseScript());
    refetchAfter(0.1);
}

void MediaRemoteService::nextTrack() {
    sendTransport(4, PlayerScripts::musicNextTrackScript(), PlayerScripts::spotifyNextTrackScript());
    refetchAfter(0.3);
}

void MediaRemoteService::previousTrack() {
    sendTransport(5, PlayerScripts::musicPreviousTrackScript(), PlayerScripts::spotifyPreviousTrackScript());
    refetchAfter(0.3);
}
