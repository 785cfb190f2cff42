#pragma once

// The now-playing helper's side of its line protocol: "query", "cmd:<n>", "lyrics:<player>",
// "shuffle:<0|1>:<player>", "loop:<None|Track|Playlist>:<player>", "quit", anything else ignored;
// each line trimmed before it is compared.

#include "music/nowplaying_helper/helper_reply.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

// Where the helper reads what plays and sends commands to.
class NowPlayingHelperSource {
public:
    virtual ~NowPlayingHelperSource() = default;
    // What plays now; absent when the answer did not come in time.
    virtual std::optional<HelperQueryReply> query() = 0;
    // Sends a numbered command: 0 play, 1 pause, 2 toggle play/pause, 3 stop, 4 next track,
    // 5 previous track. False when it could not be sent or the number is unknown.
    virtual bool sendCommand(uint32_t command) = 0;

    // The players below are named by their identity, as a query reports it (bundleIdentifier).
    // The track the player shows and its lyrics; absent when the answer did not come in time.
    virtual std::optional<HelperLyricsReply> lyrics(const QString& player) = 0;
    // Sets the player's Shuffle, or its LoopStatus ("None", "Track", "Playlist"); false when it
    // could not be set.
    virtual bool setShuffle(const QString& player, bool shuffle) = 0;
    virtual bool setLoopStatus(const QString& player, const QString& status) = 0;
};

class NowPlayingHelperProtocol {
public:
    explicit NowPlayingHelperProtocol(NowPlayingHelperSource& source) : source_(source) {}

    // The reply to one request line (without its line feed), or nothing for a line that gets
    // none. `quit` becomes true for "quit".
    std::optional<QByteArray> handle(const QByteArray& line, bool& quit);

    // "cmd:" is followed by an unsigned 32-bit decimal number and nothing else.
    static std::optional<uint32_t> parseCommand(const QByteArray& text);

private:
    NowPlayingHelperSource& source_;
};
