#pragma once

// The lines the now-playing helper writes: one JSON object per line, members in a fixed order,
// no spaces.

#include <QByteArray>
#include <QString>

#include <optional>

struct HelperQueryReply {
    // Texts are cut to this many UTF-16 units on a character boundary: far more than any view
    // shows, and short enough that a reply always fits the application's line limit.
    static constexpr qsizetype kMaxTextLength = 1024;

    bool isPlaying = false;
    std::optional<QString> title;
    std::optional<QString> artist;
    std::optional<QString> album;
    std::optional<QString> bundleIdentifier;
    std::optional<double> duration;     // seconds
    std::optional<double> elapsedTime;  // seconds
    std::optional<double> playbackRate;
    // The player's MPRIS Shuffle and LoopStatus ("None", "Track", "Playlist"), when it has them.
    std::optional<bool> shuffle;
    std::optional<QString> loopStatus;
    // A cover is on its way from the web: asking again shortly brings it.
    bool artworkPending = false;
    std::optional<QByteArray> artworkData;

    // The reply line without its line feed. Empty texts and non-finite numbers are left out,
    // long texts cut (kMaxTextLength).
    QByteArray encode() const;
};

// The reply to "lyrics:<player>": the track that player shows and the lyrics it carries for it.
struct HelperLyricsReply {
    // Longer lyrics are cut here, after their last whole line within it.
    static constexpr qsizetype kMaxLyricsLength = 64 * 1024;

    bool found = false;  // a player with that identity answered
    std::optional<QString> title;
    std::optional<QString> artist;
    std::optional<QString> lyrics;

    QByteArray encode() const;
};

namespace helper_reply {

// A JSON string: backslash, quotation mark, line feed, carriage return and tab as their short
// escapes, every other control character as \u00XX, everything else as is (UTF-8).
QByteArray jsonString(const QString& text);
// A double in its shortest form that reads back the same ("215.0", "0.5", "1e-05").
QByteArray jsonNumber(double value);

QByteArray commandResult(bool result);  // {"commandResult":true}
QByteArray timeout();                   // {"error":"timeout"}

}  // namespace helper_reply
