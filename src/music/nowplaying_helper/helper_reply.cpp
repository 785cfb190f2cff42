#include "music/nowplaying_helper/helper_reply.h"

#include "core/format.h"

#include <cmath>

namespace helper_reply {

QByteArray jsonString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            // Left raw, any other control character would make the line invalid JSON.
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[(c >> 4) & 0xf];
                out += hex[c & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

QByteArray jsonNumber(double value) { return format::number(value).toLatin1(); }

QByteArray commandResult(bool result) {
    return result ? QByteArrayLiteral("{\"commandResult\":true}") : QByteArrayLiteral("{\"commandResult\":false}");
}

QByteArray timeout() { return QByteArrayLiteral("{\"error\":\"timeout\"}"); }

}  // namespace helper_reply

QByteArray HelperQueryReply::encode() const {
    QByteArray out = isPlaying ? QByteArrayLiteral("{\"isPlaying\":true") : QByteArrayLiteral("{\"isPlaying\":false");
    const auto addText = [&out](const char* key, const std::optional<QString>& value) {
        if (!value || value->isEmpty()) return;
        out += ",\"";
        out += key;
        out += "\":";
        out += helper_reply::jsonString(format::clipped(*value, kMaxTextLength));
    };
    // JSON has no spelling for infinity or not-a-number: such a value is left out.
    const auto addNumber = [&out](const char* key, std::optional<double> value) {
        if (!value || !std::isfinite(*value)) return;
        out += ",\"";
        out += key;
        out += "\":";
        out += helper_reply::jsonNumber(*value);
    };
    addText("title", title);
    addText("artist", artist);
    addText("album", album);
    addText("bundleIdentifier", bundleIdentifier);
    addNumber("duration", duration);
    addNumber("elapsedTime", elapsedTime);
    addNumber("playbackRate", playbackRate);
    if (shuffle) out += *shuffle ? ",\"shuffle\":true" : ",\"shuffle\":false";
    addText("loopStatus", loopStatus);
    if (artworkPending) out += ",\"artworkPending\":true";
    if (artworkData) {
        out += ",\"artworkBase64\":\"";
        out += artworkData->toBase64();
        out += '"';
    }
    out += '}';
    return out;
}

namespace {

// Long lyrics end with their last whole line: a line cut in half may end in half a time tag, and
// one such line makes the whole text untimed. A text of one long line is cut where it must be.
QString clippedAtLineEnd(const QString& text, qsizetype limit) {
    if (text.size() <= limit) return text;
    const qsizetype end = text.lastIndexOf(QLatin1Char('\n'), limit);
    return end > 0 ? text.left(end) : format::clipped(text, limit);
}

}  // namespace

QByteArray HelperLyricsReply::encode() const {
    QByteArray out = found ? QByteArrayLiteral("{\"found\":true") : QByteArrayLiteral("{\"found\":false");
    const auto addText = [&out](const char* key, const QString& value) {
        if (value.isEmpty()) return;
        out += ",\"";
        out += key;
        out += "\":";
        out += helper_reply::jsonString(value);
    };
    addText("title", format::clipped(title.value_or(QString()), HelperQueryReply::kMaxTextLength));
    addText("artist", format::clipped(artist.value_or(QString()), HelperQueryReply::kMaxTextLength));
    addText("lyrics", clippedAtLineEnd(lyrics.value_or(QString()), kMaxLyricsLength));
    out += '}';
    return out;
}
