#include "notch/mini_player_media.h"

#include "music/media_remote_service.h"

#include <memory>

MiniPlayerMedia& MiniPlayerMedia::shared() {
    static MediaRemoteMiniPlayerMedia media;
    return media;
}

MediaRemoteMiniPlayerMedia::MediaRemoteMiniPlayerMedia(MediaRemoteService* service, platform::Scheduler& scheduler)
    : service_(service), scheduler_(scheduler) {}

MediaRemoteService& MediaRemoteMiniPlayerMedia::service() const {
    if (!service_) service_ = &MediaRemoteService::shared();
    return *service_;
}

std::optional<NowPlayingInfo> MediaRemoteMiniPlayerMedia::nowPlaying() const { return service().nowPlaying(); }
std::optional<QImage> MediaRemoteMiniPlayerMedia::lastArtwork() const { return service().lastArtwork(); }
std::optional<QColor> MediaRemoteMiniPlayerMedia::artworkDominantColor() const {
    return service().artworkDominantColor();
}

platform::AnyCancellable MediaRemoteMiniPlayerMedia::observe(std::function<void()> changed) {
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
