#pragma once

// What the mini player reads of the now-playing service: the published track, the last artwork
// seen and its dominant colour, and a signal after each publication. The shared one is the
// now-playing service itself (media_remote_notch_media.h); tests script their own.

#include "core/notch_records.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QColor>
#include <QImage>

#include <functional>
#include <optional>


class MiniPlayerMedia {
public:
    virtual ~MiniPlayerMedia() = default;

    // The now-playing service's view; the service is created on the first read.
    static MiniPlayerMedia& shared();

    virtual std::optional<NowPlayingInfo> nowPlaying() const = 0;
    virtual std::optional<QImage> lastArtwork() const = 0;
    virtual std::optional<QColor> artworkDominantColor() const = 0;
    // `changed` runs on the main thread after each publication, once the new values can be read.
    virtual platform::AnyCancellable observe(std::function<void()> changed) = 0;
};
