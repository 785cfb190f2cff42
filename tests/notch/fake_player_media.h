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
    // The shown player's settings; absent: a player without them, whose presses send nothing.
    std::optional<bool> playerShuffle;
    std::optional<QString> playerLoopStatus;
    QStringList commands;

    void publish() { changed_.send(); }

    std::optional<NowPlayingInfo> nowPlaying() const override { return track; }
    bool isPlaying() const override { return playing; }
    bool isBrowserMedia() const override { return browser; }
    platform::AnyCancellable observe(std::function<void()> changed) override { return changed_.sink(std::move(changed)); }
    void togglePlayPause() override { commands << QStringLiteral("togglePlayPause"); }
    void nextTrack() override { commands << QStringLiteral("nextTrack"); }
    void previousTrack() override { commands << QStringLiteral("previousTrack"); }
    std::optional<bool> shuffle() const override { return playerShuffle; }
    std::optional<QString> loopStatus() const override { return playerLoopStatus; }
    bool toggleShuffle() override {
        if (!playerShuffle) return false;
        commands << QStringLiteral("toggleShuffle");
        return true;
    }
    bool cycleLoopStatus() override {
        if (!playerLoopStatus) return false;
        commands << QStringLiteral("cycleLoopStatus");
        return true;
    }

private:
    platform::PassthroughSubject<> changed_;
};

}  // namespace notchtest
