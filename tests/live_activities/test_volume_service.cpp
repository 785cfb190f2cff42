#include "live_activities/volume_service.h"
#include "support/fake_audio_output.h"
#include "support/fixtures.h"

#include <vector>

namespace {

class VolumeServiceTest : public testsupport::QuillvexTest {
protected:
    VolumeServiceTest() {
        audio.setDefaultDevice(7);
        audio.setVolume(7, 0.5f);
        audio.setMuted(7, false);
        subscriptions.insert(bus.volumeInfoSubject.sink([this](const std::optional<VolumeInfo>& info) {
            if (info) infos.push_back(*info);
        }));
        subscriptions.insert(bus.liveActivityEventSubject.sink([this](const std::optional<LiveActivityType>& type) {
            if (type == LiveActivityType::volume) ++requests;
        }));
    }

    EventBus bus{scheduler()};
    testsupport::FakeAudioOutput audio;
    VolumeService service{bus, scheduler(), &audio};
    std::vector<VolumeInfo> infos;
    int requests = 0;
    platform::CancellableSet subscriptions;
};

}  // namespace

TEST_F(VolumeServiceTest, StartReadsTheDeviceAsABaseAndPublishesNothing) {
    service.start();
    scheduler().drain();
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, "VolumeService: Monitoring device 7, volume=0.5, muted=false"));
    EXPECT_TRUE(log.contains("VolumeService: Started"));
    EXPECT_TRUE(infos.empty());
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(audio.listenerCount(), 3);

    service.start();  // guarded
    EXPECT_EQ(log.count("VolumeService: Started"), 1);
}

TEST_F(VolumeServiceTest, SmallStepsAddUpAndABurstAsksTwice) {
    service.start();
    // Five steps of 0.004, delivered before the main thread gets to any of them: each carries
    // the level of its own notice.
    for (int i = 1; i <= 5; ++i) audio.changeVolume(7, 0.5f + 0.004f * static_cast<float>(i));
    scheduler().drain();
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_FLOAT_EQ(infos[0].level, 0.512f);
    EXPECT_FALSE(infos[0].isMuted);
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(log.contains("VolumeService: Volume=51% muted=false (show)"));

    scheduler().advance(0.499);
    EXPECT_EQ(requests, 1);
    scheduler().advance(0.001);
    EXPECT_EQ(requests, 2);
    EXPECT_TRUE(log.contains("VolumeService: Volume=51% muted=false (final)"));
    EXPECT_FALSE(service.isActivityShowing());
}

TEST_F(VolumeServiceTest, ChangesTwoTenthsApartAreOneBurst) {
    service.start();
    for (float level : {0.6f, 0.7f, 0.8f}) {
        audio.changeVolume(7, level);
        scheduler().advance(0.2);
    }
    EXPECT_EQ(infos.size(), 3u);
    EXPECT_EQ(requests, 1);
    scheduler().advance(0.299);
    EXPECT_EQ(requests, 1);
    scheduler().advance(0.001);  // 0.5 s after the last change
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(log.matching("VolumeService: Volume=").size(), 2);

    audio.changeVolume(7, 0.9f);  // a new burst
    scheduler().drain();
    EXPECT_EQ(requests, 3);
    EXPECT_TRUE(log.contains("VolumeService: Volume=90% muted=false (show)"));
}

TEST_F(VolumeServiceTest, MuteAlonePublishesWithTheLevelUnchanged) {
    service.start();
    audio.changeMute(7, true);
    scheduler().drain();
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0], (VolumeInfo{0.5f, true}));
    EXPECT_TRUE(log.contains("VolumeService: Volume=50% muted=true (show)"));
    audio.notifyMute(7);  // nothing new
    scheduler().drain();
    EXPECT_EQ(infos.size(), 1u);
}

TEST_F(VolumeServiceTest, ADeviceSwitchReattachesWithoutPublishing) {
    audio.setVolume(9, 0.3f);
    audio.setMuted(9, true);
    service.start();
    // The old device's listener is still installed until the switch runs on the main thread:
    // its notice queued meanwhile is dropped.
    audio.switchDefault(9);
    audio.changeVolume(7, 0.9f);
    scheduler().drain();
    EXPECT_EQ(service.currentDeviceID(), 9u);
    EXPECT_TRUE(log.contains("VolumeService: Monitoring device 9, volume=0.3, muted=true"));
    EXPECT_TRUE(infos.empty());
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(audio.listenerCount(), 3);

    audio.changeVolume(7, 0.9f);  // the old device is no longer heard
    audio.changeVolume(9, 0.305f);  // compared with the new device's own values
    scheduler().drain();
    EXPECT_TRUE(infos.empty());
    audio.changeMute(9, false);
    scheduler().drain();
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0], (VolumeInfo{0.305f, false}));
}

TEST_F(VolumeServiceTest, UnreadableDeviceReadsAsSilentAndNoDefaultWaitsForOne) {
    audio.setDefaultDevice(0);
    service.start();
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning, "VolumeService: Failed to get default output device"));
    EXPECT_TRUE(service.isRunning());
    EXPECT_EQ(audio.listenerCount(), 1);

    audio.setDefaultDevice(4);  // a device whose values cannot be read
    audio.switchDefault(4);
    scheduler().drain();
    EXPECT_TRUE(log.contains("VolumeService: Monitoring device 4, volume=0.0, muted=false"));
    audio.changeVolume(4, 0.25f);
    scheduler().drain();
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0], (VolumeInfo{0.25f, false}));
}

TEST_F(VolumeServiceTest, StopEndsTheBurstAndNothingQueuedBeforeItRunsAfter) {
    service.start();
    audio.changeVolume(7, 0.8f);
    scheduler().drain();
    EXPECT_EQ(requests, 1);
    audio.changeVolume(7, 0.6f);  // queued on the main thread, not yet run
    service.stop();
    EXPECT_TRUE(log.contains("VolumeService: Stopped"));
    EXPECT_EQ(audio.listenerCount(), 0);
    EXPECT_FALSE(service.isActivityShowing());
    // A start right after must not let the old notice through either: against the re-read base
    // of 0.8 it would count as a change.
    audio.setVolume(7, 0.8f);
    service.start();
    scheduler().advance(2.0);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(infos.size(), 1u);
    EXPECT_EQ(log.matching("VolumeService: Volume=").size(), 1);

    service.stop();
    service.stop();  // guarded
    EXPECT_EQ(log.count("VolumeService: Stopped"), 2);
}
