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
    if (request == "quit") quit = true;
    return std::nullopt;
}
