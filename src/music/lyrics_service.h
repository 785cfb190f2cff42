#pragma once

// Lyrics of the track that plays, asked of the Music player when the track changes, cached for
// as long as the service runs, and published once a second with the line at the play position.

#include "core/event_bus.h"
#include "core/notch_records.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/scripting/scripting.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

class LyricsService {
public:
    static constexpr double kPollInterval = 1.0;

    static LyricsService& shared();

    // `runner` nullptr: the shared script runner, looked up at each fetch.
    explicit LyricsService(EventBus& bus = EventBus::shared(), platform::Scheduler& scheduler = platform::Scheduler::shared(),
                           platform::ScriptRunner* runner = nullptr);
    ~LyricsService();
    LyricsService(const LyricsService&) = delete;
    LyricsService& operator=(const LyricsService&) = delete;

    // Main thread. start() expects a stopped service.
    void start();
    void stop();

    bool isPolling() const { return pollTimer_.isValid(); }
    const std::optional<QString>& currentTrackKey() const { return currentTrackKey_; }
    bool hasCachedLyrics(const QString& key) const { return lyricsCache_.contains(key); }

    static QString lyricsScript();
    static QString lyricsKey(const QString& title, const QString& artist);
    // Lines that are not blank (spaces and tabs) once trimmed, kept as they are; only line feeds split.
    static QStringList splitLines(const QString& text);
    // The line at the play position: elapsed / duration of the track, or the first line when
    // either is unknown.
    static int lineIndex(int lineCount, const std::optional<NowPlayingInfo>& info);

private:
    void handleTrackChange(const std::optional<NowPlayingInfo>& info);
    void handleFetchResult(const QString& key, const QString& title, const std::optional<QString>& text);
    void updateCurrentLine();
    static std::optional<QString> fetchLyricsViaAppleScript(platform::ScriptRunner& runner);

    EventBus& bus_;
    platform::Scheduler& scheduler_;
    platform::ScriptRunner* runner_;
    platform::RepeatingTimer pollTimer_;
    platform::CancellableSet cancellables_;
    QHash<QString, QStringList> lyricsCache_;
    std::optional<QString> currentTrackKey_;
    platform::Lifetime lifetime_;
};
