#pragma once

#include "notch/player_media.h"

#include <QStringList>

#include <memory>

namespace notchtest {

// A scripted now-playing service: tests set the track and flags and publish; commands are recorded.
class FakePlayerMedia final : public PlayerMedia {
public:
    std::optional<NowPlayingInfo> track;
    bool playing = false;
    bool browser = false;
    QStringList commands;

    void publish() { changed_.send(); }

    std::optional<NowPlayingInfo> nowPlaying() const override { return track; }
    bool isPlaying() const override { return playing; }
    bool isBrowserMedia() const override { return browser; }
    platform::AnyCancellable observe(std::function<void()> changed) override { return changed_.sink(std::move(changed)); }
    void togglePlayPause() override { commands << QStringLiteral("togglePlayPause"); }
    void nextTrack() override { commands << QStringLiteral("nextTrack"); }
    void previousTrack() override { commands << QStringLiteral("previousTrack"); }

private:
    platform::PassthroughSubject<> changed_;
};

}  // namespace notchtest
