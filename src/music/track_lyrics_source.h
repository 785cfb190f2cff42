#pragma once

#include "core/notch_records.h"

#include <QString>

#include <optional>

// Where the lyrics of a track come from: the player that shows it.
class TrackLyricsSource {
public:
    virtual ~TrackLyricsSource() = default;
    // The lyrics text, none when the player has none for this track. Blocks; any thread.
    virtual std::optional<QString> lyricsFor(const NowPlayingInfo& track) = 0;
};
