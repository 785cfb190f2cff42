#pragma once

// Lyrics of the track that plays, asked of the player that shows it when the track changes, cached
// for as long as the service runs, and published once a second with the line at the play position.
// The track is published again only when more than its position changes (a seek is not), so the
// position is the player's last read one (every poll reads it), else the last published one, moved
// on by the time since at the track's rate. A read that moves the line shows the new one at once.
// Lyrics whose every line carries time tags show without them, and the line whose time has come.
// The second's tick runs only while the current track has lines cached (a tick without them does
// nothing); it keeps the grid of start(), so the ticks that run fall where they always would.

#include "core/event_bus.h"
#include "core/notch_records.h"
#include "music/play_position.h"
#include "music/timed_lyrics.h"
#include "music/track_lyrics_source.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/grid_timer.h"
#include "platform/runtime/reactive.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

class LyricsService {
public:
    static constexpr double kPollInterval = 1.0;

    static LyricsService& shared();

    // `source` nullptr: the now-playing service, which asks the track's player through its helper
    // and reads its position; looked up at start(). With a `source`, positions come from
    // `positions` alone (nullptr: from the published track only).
    explicit LyricsService(EventBus& bus = EventBus::shared(), platform::Scheduler& scheduler = platform::Scheduler::shared(),
                           TrackLyricsSource* source = nullptr, PlayPositionSource* positions = nullptr);
    ~LyricsService();
    LyricsService(const LyricsService&) = delete;
    LyricsService& operator=(const LyricsService&) = delete;

    // Main thread. start() expects a stopped service.
    void start();
    void stop();

    // Started (the second's grid laid), and ticking (lines cached for the current track).
    bool isPolling() const { return pollTimer_.isStarted(); }
    bool isTicking() const { return pollTimer_.isTicking(); }
    const std::optional<QString>& currentTrackKey() const { return currentTrackKey_; }
    bool hasCachedLyrics(const QString& key) const { return lyricsCache_.contains(key); }

    static QString lyricsKey(const QString& title, const QString& artist);
    // Lines that are not blank (spaces and tabs) once trimmed, kept as they are; only line feeds split.
    static QStringList splitLines(const QString& text);
    // The line at the play position: the track's elapsed time moved on by `secondsSinceRead` at
    // its rate (a paused track stays), over its duration; the first line when either is unknown.
    static int lineIndex(int lineCount, const std::optional<NowPlayingInfo>& info, double secondsSinceRead = 0);
    // The same at a position known apart from the track (none: the first line).
    static int lineIndex(int lineCount, std::optional<double> duration, std::optional<double> position);

private:
    // The lines shown, and when each starts where the lyrics are timed (else empty).
    struct ShownLyrics {
        QStringList lines;
        std::vector<qint64> startsMs;
    };
    static std::optional<double> playPosition(const std::optional<NowPlayingInfo>& info, double secondsSinceRead);

    void handleTrackChange(const std::optional<NowPlayingInfo>& info);
    void handleFetchResult(const QString& key, const QString& title, const std::optional<QString>& text);
    void handlePositionRead(const PlayPosition& read);
    // The play position now, from the last read of the shown track or from its publication.
    std::optional<double> positionNow(const std::optional<NowPlayingInfo>& info) const;
    // `onlyWhenMoved`: send nothing when the line is the one last sent.
    void updateCurrentLine(bool onlyWhenMoved = false);
    bool hasCurrentLines() const;
    void tickOnlyWithLines();

    EventBus& bus_;
    platform::Scheduler& scheduler_;
    TrackLyricsSource* source_;
    PlayPositionSource* positions_;
    platform::GridTimer pollTimer_;
    platform::CancellableSet cancellables_;
    QHash<QString, ShownLyrics> lyricsCache_;
    std::optional<QString> currentTrackKey_;
    double publishedAt_ = 0;  // monotonic seconds when the track (and its position) was last published
    std::optional<PlayPosition> lastRead_;  // since that publication
    std::optional<int> sentIndex_;          // the line of the last record sent
    platform::Lifetime lifetime_;
};
