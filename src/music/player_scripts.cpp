#include "music/player_scripts.h"

#include "platform/files/regular_file.h"

#include "core/image_helper.h"
#include "core/log.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <thread>

namespace {

QString joined(std::initializer_list<const char*> lines) {
    QStringList out;
    for (const char* line : lines) out << QString::fromUtf8(line);
    return out.join(QLatin1Char('\n'));
}

// The transport family: ask System Events whether the player's process exists, send the
// command only then; with `answers`, say "OK" or "NO_APP".
QString transportScript(const QString& player, const QString& command, bool answers) {
    QStringList lines{
        QStringLiteral("tell application \"System Events\""),
        QStringLiteral("    if exists process \"%1\" then").arg(player),
        QStringLiteral("        tell application \"%1\" to %2").arg(player, command),
    };
    if (answers) lines << QStringLiteral("        return \"OK\"");
    lines << QStringLiteral("    end if") << QStringLiteral("end tell");
    if (answers) lines << QStringLiteral("return \"NO_APP\"");
    return lines.join(QLatin1Char('\n'));
}

const QString kSeparator = QStringLiteral("|||");

}  // namespace

PlayerScripts::PlayerScripts(platform::ScriptRunner* runner, Sleep sleep, UrlReader readUrl)
    : runner_(runner), sleep_(std::move(sleep)), readUrl_(std::move(readUrl)) {
    if (!sleep_) {
        sleep_ = [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); };
    }
    if (!readUrl_) readUrl_ = [](const QUrl& url) { return PlayerScripts::readUrl(url); };
}

platform::ScriptRunner& PlayerScripts::runner() const { return runner_ ? *runner_ : platform::ScriptRunner::shared(); }

QString PlayerScripts::probeScript() {
    return joined({
        "if application \"Music\" is running then",
        "    tell application \"Music\"",
        "        if player state is playing then return \"MUSIC_PLAYING\"",
        "    end tell",
        "end if",
        "",
        "if application \"Spotify\" is running then",
        "    tell application \"Spotify\"",
        "        if player state is playing then return \"SPOTIFY_PLAYING\"",
        "    end tell",
        "end if",
        "",
        "return \"NONE\"",
    });
}

QString PlayerScripts::musicInfoScript() {
    return joined({
        "if application \"Music\" is not running then return \"NOT_RUNNING\"",
        "tell application \"Music\"",
        "    if player state is not playing then return \"NOT_PLAYING\"",
        "    set trackName to name of current track",
        "    set artistName to artist of current track",
        "    set albumName to album of current track",
        "    return trackName & \"|||\" & artistName & \"|||\" & albumName",
        "end tell",
    });
}

QString PlayerScripts::musicArtworkScript() {
    return joined({
        "tell application \"Music\"",
        "    try",
        "        set artworkData to raw data of artwork 1 of current track",
        "        return artworkData",
        "    on error",
        "        return missing value",
        "    end try",
        "end tell",
    });
}

QString PlayerScripts::spotifyInfoScript() {
    return joined({
        "if application \"Spotify\" is not running then return \"NOT_RUNNING\"",
        "tell application \"Spotify\"",
        "    if player state is not playing then return \"NOT_PLAYING\"",
        "    set trackName to name of current track",
        "    set artistName to artist of current track",
        "    set albumName to album of current track",
        "    set artworkURL to artwork url of current track",
        "    return trackName & \"|||\" & artistName & \"|||\" & albumName & \"|||\" & artworkURL",
        "end tell",
    });
}

QString PlayerScripts::musicPlayPauseScript() { return transportScript(QStringLiteral("Music"), QStringLiteral("playpause"), true); }
QString PlayerScripts::spotifyPlayPauseScript() { return transportScript(QStringLiteral("Spotify"), QStringLiteral("playpause"), true); }
QString PlayerScripts::musicNextTrackScript() { return transportScript(QStringLiteral("Music"), QStringLiteral("next track"), true); }
QString PlayerScripts::spotifyNextTrackScript() { return transportScript(QStringLiteral("Spotify"), QStringLiteral("next track"), false); }
QString PlayerScripts::musicPreviousTrackScript() { return transportScript(QStringLiteral("Music"), QStringLiteral("previous track"), true); }
QString PlayerScripts::spotifyPreviousTrackScript() {
    return transportScript(QStringLiteral("Spotify"), QStringLiteral("previous track"), false);
}

std::optional<QString> PlayerScripts::runAppleScript(const QString& source) const {
    const platform::ScriptOutcome outcome = runner().run(source);
    if (outcome.error) {
        Log::shared().error(QStringLiteral("MediaRemoteService: AppleScript error: ") + *outcome.error);
        return std::nullopt;
    }
    return outcome.result;
}

PlaybackProbeResult PlayerScripts::probeActivePlayer() const {
    const std::optional<QString> answer = runAppleScript(probeScript());
    if (!answer) return PlaybackProbeResult::error;
    if (*answer == QLatin1String("MUSIC_PLAYING")) return PlaybackProbeResult::musicPlaying;
    if (*answer == QLatin1String("SPOTIFY_PLAYING")) return PlaybackProbeResult::spotifyPlaying;
    if (*answer == QLatin1String("NONE")) return PlaybackProbeResult::none;
    return PlaybackProbeResult::error;
}

std::optional<NowPlayingInfo> PlayerScripts::fetchAppleMusicInfo() const {
    const std::optional<QString> answer = runAppleScript(musicInfoScript());
    if (!answer) {
        Log::shared().debug(QStringLiteral("MediaRemoteService: Apple Music AppleScript failed (check Automation permissions)"));
        return std::nullopt;
    }
    if (*answer == QLatin1String("NOT_RUNNING")) {
        Log::shared().debug(QStringLiteral("MediaRemoteService: Music app is not running"));
        return std::nullopt;
    }
    if (*answer == QLatin1String("NOT_PLAYING")) {
        Log::shared().debug(QStringLiteral("MediaRemoteService: Music app is running but not playing"));
        return std::nullopt;
    }
    const QStringList pieces = answer->split(kSeparator);
    if (pieces.size() < 3) {
        Log::shared().error(QStringLiteral("MediaRemoteService: Invalid Music info format: ") + *answer);
        return std::nullopt;
    }
    std::optional<QImage> artwork = fetchAppleMusicArtwork();
    if (!artwork) {
        sleep_(0.12);
        artwork = fetchAppleMusicArtwork();
    }
    Log::shared().info(QStringLiteral("MediaRemoteService: Detected Music playback - ") + pieces[0] + QStringLiteral(" by ") +
                       pieces[1]);
    NowPlayingInfo info;
    info.title = pieces[0];
    info.artist = pieces[1];
    info.album = pieces[2];
    info.artwork = std::move(artwork);
    info.playbackRate = 1.0;
    info.bundleIdentifier = QStringLiteral("com.apple.Music");
    return info;
}

std::optional<QImage> PlayerScripts::fetchAppleMusicArtwork() const {
    // Run directly: a missing artwork is common and not worth an error line.
    const platform::ScriptOutcome outcome = runner().run(musicArtworkScript());
    if (outcome.error || !outcome.data || outcome.data->isEmpty()) return std::nullopt;
    return ImageHelper::image(*outcome.data);
}

std::optional<NowPlayingInfo> PlayerScripts::fetchSpotifyInfo() const {
    const std::optional<QString> answer = runAppleScript(spotifyInfoScript());
    if (!answer || *answer == QLatin1String("NOT_RUNNING") || *answer == QLatin1String("NOT_PLAYING")) return std::nullopt;
    const QStringList pieces = answer->split(kSeparator);
    if (pieces.size() < 3) return std::nullopt;
    std::optional<QImage> artwork;
    if (pieces.size() >= 4) {
        const QUrl url(pieces[3], QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty()) {
            if (const std::optional<QByteArray> bytes = readUrl_(url)) artwork = ImageHelper::image(*bytes);
        }
    }
    NowPlayingInfo info;
    info.title = pieces[0];
    info.artist = pieces[1];
    info.album = pieces[2];
    info.artwork = std::move(artwork);
    info.playbackRate = 1.0;
    info.bundleIdentifier = QStringLiteral("com.spotify.client");
    return info;
}

std::optional<QByteArray> PlayerScripts::readUrl(const QUrl& url, double webSeconds) {
    if (url.isLocalFile()) {
        // Only a plain file (a pipe or device there would block the poll for good), and never
        // more than a cover can sensibly be, whatever its size claims.
        return platform::readRegularFile(url.toLocalFile(), kMaxLocalArtworkBytes);
    }
    if (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")) return std::nullopt;
    // A blocking read on the calling (pool) thread, with its own manager and loop.
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(60'000);
    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // A server that sends a byte now and then never trips the idle timeout; nor may it send more
    // than a cover can be.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxLocalArtworkBytes) reply->abort();
    });
    deadline.start(static_cast<int>(webSeconds * 1000));
    loop.exec();
    std::optional<QByteArray> bytes;
    // The whole body may have arrived before its progress was reported.
    if (reply->error() == QNetworkReply::NoError && reply->bytesAvailable() <= kMaxLocalArtworkBytes) {
        bytes = reply->readAll();
    }
    reply->deleteLater();
    return bytes;
}
