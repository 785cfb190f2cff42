#pragma once

// What the player views need of the now-playing service: the published track and playing flag,
// a signal after each publication, and the three transport commands. The shared one is the
// now-playing service itself; tests script their own.

#include "core/notch_records.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <functional>
#include <optional>

class MediaRemoteService;

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
};

// The now-playing service seen through PlayerMedia. Its change signal fires before the values
// change, so the views are told on the next pass of the main queue.
class MediaRemotePlayerMedia final : public PlayerMedia {
public:
    // `service` nullptr: MediaRemoteService::shared(), resolved at first use.
    explicit MediaRemotePlayerMedia(MediaRemoteService* service = nullptr,
                                    platform::Scheduler& scheduler = platform::Scheduler::shared());

    std::optional<NowPlayingInfo> nowPlaying() const override;
    bool isPlaying() const override;
    bool isBrowserMedia() const override;
    platform::AnyCancellable observe(std::function<void()> changed) override;
    void togglePlayPause() override;
    void nextTrack() override;
    void previousTrack() override;

private:
    MediaRemoteService& service() const;

    mutable MediaRemoteService* service_;
    platform::Scheduler& scheduler_;
};
