#pragma once

#include "platform/runtime/reactive.h"

#include <QString>

#include <functional>
#include <optional>

// Where the player of the shown track was in it when a poll read it. The track is published
// again only when more than its position changes, so a seek reaches the lyrics only this way.
struct PlayPosition {
    std::optional<QString> title;  // the track read
    std::optional<QString> artist;
    double elapsed = 0;  // seconds
    double rate = 0;     // 0 while paused
    double readAt = 0;   // the scheduler's monotonic seconds at the read
};

class PlayPositionSource {
public:
    virtual ~PlayPositionSource() = default;
    // Each read of the shown track's position, on the main thread, also when it published nothing.
    virtual platform::AnyCancellable onPlayPosition(std::function<void(const PlayPosition&)> read) = 0;
};
