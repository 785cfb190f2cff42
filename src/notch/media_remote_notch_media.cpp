#include "notch/media_remote_notch_media.h"

#include "music/media_remote_service.h"

#include <memory>

namespace {

MediaRemoteNotchMedia& sharedMedia() {
    static MediaRemoteNotchMedia media;
    return media;
}

}  // namespace

PlayerMedia& PlayerMedia::shared() { return sharedMedia(); }
MiniPlayerMedia& MiniPlayerMedia::shared() { return sharedMedia(); }

MediaRemoteNotchMedia::MediaRemoteNotchMedia(MediaRemoteService* service, platform::Scheduler& scheduler)
    : service_(service), scheduler_(scheduler) {}

MediaRemoteService& MediaRemoteNotchMedia::service() const {
    if (!service_) service_ = &MediaRemoteService::shared();
    return *service_;
}

std::optional<NowPlayingInfo> MediaRemoteNotchMedia::nowPlaying() const { return service().nowPlaying(); }

platform::AnyCancellable MediaRemoteNotchMedia::observe(std::function<void()> changed) {
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

bool MediaRemoteNotchMedia::isPlaying() const { return service().isPlaying(); }
bool MediaRemoteNotchMedia::isBrowserMedia() const { return service().isBrowserMedia(); }
void MediaRemoteNotchMedia::togglePlayPause() { service().togglePlayPause(); }
void MediaRemoteNotchMedia::nextTrack() { service().nextTrack(); }
void MediaRemoteNotchMedia::previousTrack() { service().previousTrack(); }
std::optional<bool> MediaRemoteNotchMedia::shuffle() const { return service().playerModes().shuffle; }
std::optional<QString> MediaRemoteNotchMedia::loopStatus() const { return service().playerModes().loopStatus; }
bool MediaRemoteNotchMedia::toggleShuffle() { return service().toggleShuffle(); }
bool MediaRemoteNotchMedia::cycleLoopStatus() { return service().cycleLoopStatus(); }

std::optional<QImage> MediaRemoteNotchMedia::lastArtwork() const { return service().lastArtwork(); }
std::optional<QColor> MediaRemoteNotchMedia::artworkDominantColor() const { return service().artworkDominantColor(); }
