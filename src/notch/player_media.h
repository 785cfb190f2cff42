#pragma once

// What the player views need of the now-playing service: the published track and playing flag,
// the shown player's shuffle and loop settings, a signal after each publication, and the
// transport and setting commands. The shared one is the
// now-playing service itself (media_remote_notch_media.h); tests script their own.

#include "core/notch_records.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QString>

#include <functional>
#include <optional>


class PlayerMedia {
public:
    virtual ~PlayerMedia() = default;

    // The now-playing service's view; the service is created on the first read or command.
    static PlayerMedia& shared();

    virtual std::optional<NowPlayingInfo> nowPlaying() const = 0;
    virtual bool isPlaying() const = 0;
    // A track of an application the native player scripts cannot reach (a browser).
    virtual bool isBrowserMedia() const = 0;
    // `changed` runs on the main thread after each publication, once the new values can be read.
    virtual platform::AnyCancellable observe(std::function<void()> changed) = 0;

    virtual void togglePlayPause() = 0;
    virtual void nextTrack() = 0;
    virtual void previousTrack() = 0;

    // The shown player's shuffle and loop status ("None", "Track", "Playlist"); absent for a
    // player without them.
    virtual std::optional<bool> shuffle() const = 0;
    virtual std::optional<QString> loopStatus() const = 0;
    // Ask the shown player to flip shuffle, or to move its loop status on. False when it has no
    // such setting: nothing is sent.
    virtual bool toggleShuffle() = 0;
    virtual bool cycleLoopStatus() = 0;
};
