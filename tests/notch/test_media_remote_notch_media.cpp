// The now-playing service behind both player ports, on a scripted helper: each port reads the
// published track, and an observer hears of a publication only after it can read it.

#include "core/app_settings.h"
#include "core/event_bus.h"
#include "music/fake_helper.h"
#include "music/media_remote_service.h"
#include "notch/media_remote_notch_media.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class MediaRemoteNotchMediaTest : public testsupport::QuillvexTest {
protected:
    MediaRemoteNotchMediaTest() : bus(scheduler()) {
        defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("controlCenter"));
        auto bridge = std::make_unique<MediaRemoteBridge>(helper.launcher, scheduler(), QStringLiteral("/fake/helper"));
        service = std::make_unique<MediaRemoteService>(bus, scheduler(), &defaults(), std::move(bridge),
                                                       PlayerScripts(nullptr, [](double) {},
                                                                     [](const QUrl&) { return std::nullopt; }));
        media = std::make_unique<MediaRemoteNotchMedia>(service.get(), scheduler());
    }

    EventBus bus;
    musictest::FakeHelper helper;
    std::unique_ptr<MediaRemoteService> service;
    std::unique_ptr<MediaRemoteNotchMedia> media;
};

TEST_F(MediaRemoteNotchMediaTest, BothPortsReadThePublishedTrackAndHearOfItOnlyOnceItIsThere) {
    helper.answerQueries(
        "{\"isPlaying\":true,\"title\":\"Song\",\"artist\":\"Band\",\"bundleIdentifier\":\"mockplayer\",\"playbackRate\":1.0}");
    PlayerMedia& player = *media;
    MiniPlayerMedia& mini = *media;
    std::vector<QString> seenByPlayer;
    int miniCalls = 0;
    platform::AnyCancellable playerWatch = player.observe([&] {
        seenByPlayer.push_back(player.nowPlaying() ? player.nowPlaying()->title.value_or(QString()) : QString());
    });
    platform::AnyCancellable miniWatch = mini.observe([&] { ++miniCalls; });

    service->start();
    scheduler().drain();

    ASSERT_FALSE(seenByPlayer.empty());
    EXPECT_EQ(seenByPlayer.front(), QStringLiteral("Song"));  // told after the change, not before it
    EXPECT_EQ(miniCalls, static_cast<int>(seenByPlayer.size()));
    ASSERT_TRUE(mini.nowPlaying());
    EXPECT_EQ(mini.nowPlaying()->artist, QStringLiteral("Band"));
    EXPECT_TRUE(player.isPlaying());
    EXPECT_EQ(mini.lastArtwork().has_value(), service->lastArtwork().has_value());
}

TEST_F(MediaRemoteNotchMediaTest, AnObserverCancelledWhileItsCallIsQueuedIsNotCalled) {
    int calls = 0;
    platform::AnyCancellable watch = static_cast<MiniPlayerMedia&>(*media).observe([&] { ++calls; });
    service->objectWillChange.send();
    EXPECT_EQ(calls, 0);  // the call waits for the next pass of the main queue
    watch.cancel();
    scheduler().drain();
    EXPECT_EQ(calls, 0);

    platform::AnyCancellable again = static_cast<PlayerMedia&>(*media).observe([&] { ++calls; });
    service->objectWillChange.send();
    scheduler().drain();
    EXPECT_EQ(calls, 1);
}

}  // namespace
