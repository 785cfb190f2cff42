#include "notch/player_media.h"

#include "music/media_remote_service.h"

#include <memory>

PlayerMedia& PlayerMedia::shared() {
    static MediaRemotePlayerMedia media;
    return media;
}

MediaRemotePlayerMedia::MediaRemotePlayerMedia(MediaRemoteService* service, platform::Scheduler& scheduler)
    : service_(service), scheduler_(scheduler) {}

MediaRemoteService& MediaRemotePlayerMedia::service() const {
    if (!service_) service_ = &MediaRemoteService::shared();
    return *service_;
}

std::optional<NowPlayingInfo> MediaRemotePlayerMedia::nowPlaying() const { return service().nowPlaying(); }
bool MediaRemotePlayerMedia::isPlaying() const { return service().isPlaying(); }
bool MediaRemotePlayerMedia::isBrowserMedia() const { return service().isBrowserMedia(); }

platform::AnyCancellable MediaRemotePlayerMedia::observe(std::function<void()> changed) {
    // A subscription cancelled while its hop is queued must not call back.
    auto alive = std::make_shared<bool>(true);
    auto handler = std::make_shared<std::function<void()>>(std::move(changed));
    platform::Scheduler* scheduler = &scheduler_;
    platform::AnyCancellable upstream = service().objectWillChange.sink([alive, handler, scheduler] {
        std::weak_ptr<bool> weak = alive;
        scheduler->post([weak, handler] {
            if (auto a = weak.lock(); a && *a) (*handler)();
        });
    });
    auto holder = std::make_shared<platform::AnyCancellable>(std::move(upstream));
    return platform::AnyCancellable([alive, holder] {
        *alive = false;
        holder->cancel();
    });
}

void MediaRemotePlayerMedia::togglePlayPause() { service().togglePlayPause(); }
void MediaRemotePlayerMedia::nextTrack() { service().nextTrack(); }
void MediaRemotePlayerMedia::previousTrack() { service().previousTrack(); }
