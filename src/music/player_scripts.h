#pragma once

// The scripts sent to the Music and Spotify players, and the reading of their answers. No
// script launches a player that is not running.

#include "core/enum_cases.h"
#include "core/notch_records.h"
#include "platform/scripting/scripting.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// Which player the probe found playing; Music is asked first.
enum class PlaybackProbeResult { musicPlaying, spotifyPlaying, none, error };

template <>
struct EnumCases<PlaybackProbeResult> {
    static constexpr bool hasRawValue = false;
    static constexpr std::array<std::pair<PlaybackProbeResult, const char*>, 4> table{{
        {PlaybackProbeResult::musicPlaying, "musicPlaying"},
        {PlaybackProbeResult::spotifyPlaying, "spotifyPlaying"},
        {PlaybackProbeResult::none, "none"},
        {PlaybackProbeResult::error, "error"},
    }};
};

class PlayerScripts {
public:
    // Blocks the calling thread for the given seconds.
    using Sleep = std::function<void(double seconds)>;
    // All bytes at an address, read synchronously; absent when the read fails.
    using UrlReader = std::function<std::optional<QByteArray>(const QUrl&)>;

    // Defaults: the shared script runner, a real sleep, and a reader of file and http(s)
    // addresses with a 60 s transfer limit.
    explicit PlayerScripts(platform::ScriptRunner* runner = nullptr, Sleep sleep = {}, UrlReader readUrl = {});

    static QString probeScript();
    static QString musicInfoScript();
    static QString musicArtworkScript();
    static QString spotifyInfoScript();
    static QString musicPlayPauseScript();
    static QString spotifyPlayPauseScript();
    static QString musicNextTrackScript();
    static QString spotifyNextTrackScript();
    static QString musicPreviousTrackScript();
    static QString spotifyPreviousTrackScript();

    // The script's result as text; failures are logged and give nothing.
    std::optional<QString> runAppleScript(const QString& source) const;
    PlaybackProbeResult probeActivePlayer() const;
    // Rate 1.0, the player's bundle identifier, no duration or elapsed time.
    std::optional<NowPlayingInfo> fetchAppleMusicInfo() const;
    std::optional<NowPlayingInfo> fetchSpotifyInfo() const;
    std::optional<QImage> fetchAppleMusicArtwork() const;

    // A cover larger than this, local or from the web, is not read.
    static constexpr qint64 kMaxLocalArtworkBytes = 16 * 1024 * 1024;
    // The most a web cover's whole read may take, however steadily its server sends.
    static constexpr double kWebArtworkSeconds = 60.0;
    static std::optional<QByteArray> readUrl(const QUrl& url, double webSeconds = kWebArtworkSeconds);

private:
    platform::ScriptRunner& runner() const;

    platform::ScriptRunner* runner_;
    Sleep sleep_;
    UrlReader readUrl_;
};
