#include "music/nowplaying_helper/now_playing_helper.h"

#include <limits>

std::optional<uint32_t> NowPlayingHelperProtocol::parseCommand(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::optional<QByteArray> NowPlayingHelperProtocol::handle(const QByteArray& line, bool& quit) {
    const QByteArray request = line.trimmed();
    if (request == "query") {
        if (const std::optional<HelperQueryReply> reply = source_.query()) return reply->encode();
        return helper_reply::timeout();
    }
    if (request.startsWith("cmd:")) {
        const std::optional<uint32_t> command = parseCommand(request.mid(4));
        return helper_reply::commandResult(command && source_.sendCommand(*command));
    }
    if (request.startsWith("lyrics:")) {
        const QString player = QString::fromUtf8(request.mid(7));
        if (player.isEmpty()) return HelperLyricsReply{}.encode();
        if (const std::optional<HelperLyricsReply> reply = source_.lyrics(player)) return reply->encode();
        return helper_reply::timeout();
    }
    if (request.startsWith("shuffle:")) {
        // "shuffle:1:<player>"; the player's identity comes last, as it may hold anything.
        const QByteArray rest = request.mid(8);
        const bool valid = rest.size() > 2 && (rest[0] == '0' || rest[0] == '1') && rest[1] == ':';
        return helper_reply::commandResult(valid && source_.setShuffle(QString::fromUtf8(rest.mid(2)), rest[0] == '1'));
    }
    if (request.startsWith("loop:")) {
        const QByteArray rest = request.mid(5);
        const qsizetype colon = rest.indexOf(':');
        const QByteArray status = rest.left(colon);
        const bool valid = colon > 0 && colon + 1 < rest.size() &&
                           (status == "None" || status == "Track" || status == "Playlist");
        return helper_reply::commandResult(
            valid && source_.setLoopStatus(QString::fromUtf8(rest.mid(colon + 1)), QString::fromLatin1(status)));
    }
    if (request == "quit") quit = true;
    return std::nullopt;
}
