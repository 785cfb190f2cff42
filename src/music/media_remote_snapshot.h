#pragma once

#include <QImage>
#include <QJsonObject>
#include <QString>

#include <mutex>
#include <optional>

// Decodes the helper's base64 covers, keeping the last one: the helper sends the same cover with
// every poll, and the same text gives back the very same image (one decode, one colour, one scaling
// downstream, which all key on the image's identity). Safe from several poll threads.
class ArtworkDecoder {
public:
    std::optional<QImage> decode(const QString& base64);

private:
    std::mutex mutex_;
    std::optional<QString> text_;
    std::optional<QImage> image_;
};

// What one "query" reply of the now-playing helper says.
struct MediaRemoteSnapshot {
    bool isPlaying = false;
    std::optional<QString> title;
    std::optional<QString> artist;
    std::optional<QString> album;
    std::optional<QImage> artwork;
    std::optional<double> duration;     // seconds
    std::optional<double> elapsedTime;  // seconds
    std::optional<double> playbackRate;
    std::optional<QString> bundleIdentifier;
    // The player's shuffle and loop status ("None", "Track", "Playlist"), when it has them.
    std::optional<bool> shuffle;
    std::optional<QString> loopStatus;
    bool artworkPending = false;  // the helper is still fetching the cover

    // Reads a reply without an "error" member. Members of the wrong kind count as absent; a
    // missing title falls back to the bundle identifier, then to "Now Playing". `summary`
    // receives the one-line description of the reply as sent (before that fallback). `covers`
    // nullptr decodes the cover afresh.
    static MediaRemoteSnapshot fromReply(const QJsonObject& reply, QString* summary = nullptr,
                                         ArtworkDecoder* covers = nullptr);
};
