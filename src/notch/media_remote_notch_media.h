#pragma once

// The now-playing service seen through both the player's and the mini player's port. Its change
// signal fires before the values change, so the views are told on the next pass of the main queue.

#include "notch/mini_player_media.h"
#include "notch/player_media.h"

class MediaRemoteService;

class MediaRemoteNotchMedia final : public PlayerMedia, public MiniPlayerMedia {
public:
    // `service` nullptr: MediaRemoteService::shared(), resolved at first use.
    explicit MediaRemoteNotchMedia(MediaRemoteService* service = nullptr,
                                   platform::Scheduler& scheduler = platform::Scheduler::shared());

    std::optional<NowPlayingInfo> nowPlaying() const override;
    platform::AnyCancellable observe(std::function<void()> changed) override;

    bool isPlaying() const override;
    bool isBrowserMedia() const override;
    void togglePlayPause() override;
    void nextTrack() override;
    void previousTrack() override;
    std::optional<bool> shuffle() const override;
    std::optional<QString> loopStatus() const override;
    bool toggleShuffle() override;
    bool cycleLoopStatus() override;

    std::optional<QImage> lastArtwork() const override;
    std::optional<QColor> artworkDominantColor() const override;

private:
    MediaRemoteService& service() const;

    mutable MediaRemoteService* service_;
    platform::Scheduler& scheduler_;
};
