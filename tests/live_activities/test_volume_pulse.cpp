// The volume service against a real PulseAudio daemon with two null sinks, driven by pactl.

#include "live_activities/volume_service.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QElapsedTimer>

#include <thread>
#include <vector>

using testsupport::PrivatePulseAudio;

namespace {

class VolumePulseTest : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        pulse = PrivatePulseAudio::start({QStringLiteral("quill_a"), QStringLiteral("quill_b")}, &setUpError).release();
        if (!pulse) return;
        environment = pulse->exportServer().release();
        audio = platform::makePulseAudioOutput("quillvex-test").release();
    }

    static void TearDownTestSuite() {
        delete audio;
        delete environment;
        delete pulse;
        audio = nullptr;
        environment = nullptr;
        pulse = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(pulse, nullptr) << setUpError.toStdString();
        ASSERT_TRUE(pactl({"set-default-sink", "quill_a"}));
        ASSERT_TRUE(pactl({"set-sink-volume", "quill_a", "100%"}));
        ASSERT_TRUE(pactl({"set-sink-mute", "quill_a", "0"}));
        // The mirror follows the server: wait until it shows the state set above.
        ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [] {
            const auto device = audio->defaultOutputDevice();
            return device && audio->volume(*device) == 1.0f && audio->isMuted(*device) == false;
        }));
        subscription = bus.volumeInfoSubject.sink([this](const std::optional<VolumeInfo>& info) {
            if (info) infos.push_back(*info);
        });
    }

    static bool pactl(const QStringList& arguments) { return pulse->pactl(arguments); }


    static inline PrivatePulseAudio* pulse = nullptr;
    static inline testsupport::ScopedEnvironment* environment = nullptr;
    static inline platform::AudioOutput* audio = nullptr;
    static inline QString setUpError;

    EventBus bus{scheduler()};
    std::vector<VolumeInfo> infos;
    platform::AnyCancellable subscription;
};

}  // namespace

TEST_F(VolumePulseTest, AVolumeAndAMuteSetWithPactlReachTheBus) {
    VolumeService service(bus, scheduler(), audio);
    service.start();
    ASSERT_TRUE(log.contains(QStringLiteral("VolumeService: Monitoring device %1, volume=1.0, muted=false")
                                 .arg(service.currentDeviceID())));
    ASSERT_TRUE(pactl({"set-sink-volume", "@DEFAULT_SINK@", "40%"}));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return !infos.empty(); }));
    EXPECT_EQ(infos.back().level, 0.4f);
    EXPECT_FALSE(infos.back().isMuted);
    EXPECT_TRUE(log.contains("VolumeService: Volume=40% muted=false (show)"));

    ASSERT_TRUE(pactl({"set-sink-mute", "@DEFAULT_SINK@", "1"}));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return infos.back().isMuted; }));
    EXPECT_NEAR(infos.back().level, 0.4, 1e-3);
    service.stop();
}

TEST_F(VolumePulseTest, ANewDefaultSinkIsFollowedWithoutPublishing) {
    ASSERT_TRUE(pactl({"set-sink-volume", "quill_b", "25%"}));
    VolumeService service(bus, scheduler(), audio);
    service.start();
    const platform::AudioDeviceId first = service.currentDeviceID();
    ASSERT_TRUE(pactl({"set-default-sink", "quill_b"}));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return service.currentDeviceID() != first; }));
    EXPECT_TRUE(log.contains(QStringLiteral("VolumeService: Monitoring device %1, volume=0.25, muted=false")
                                 .arg(service.currentDeviceID())));
    EXPECT_TRUE(infos.empty());

    ASSERT_TRUE(pactl({"set-sink-volume", "quill_a", "10%"}));  // the old default is not heard
    ASSERT_TRUE(pactl({"set-sink-volume", "quill_b", "60%"}));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return !infos.empty(); }));
    EXPECT_NEAR(infos.front().level, 0.6, 1e-3);
    service.stop();
}

// A sound server that goes away and comes back (here: another daemon at the address the client
// now finds) is followed again without a restart of the service.
TEST_F(VolumePulseTest, AServerThatGoesAwayIsFoundAgainWhenItComesBack) {
    QString error;
    auto first = PrivatePulseAudio::start({QStringLiteral("quill_first")}, &error);
    ASSERT_NE(first, nullptr) << error.toStdString();
    auto firstAddress = first->exportServer();
    auto output = platform::makePulseAudioOutput("quillvex-test");
    VolumeService service(bus, scheduler(), output.get());
    service.start();
    ASSERT_TRUE(output->defaultOutputDevice().has_value());

    auto second = PrivatePulseAudio::start({QStringLiteral("quill_second")}, &error);
    ASSERT_NE(second, nullptr) << error.toStdString();
    auto secondAddress = second->exportServer();
    first.reset();
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return log.contains("VolumeService: Failed to get default output device"); }));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return log.matching("VolumeService: Monitoring device").size() == 2; }));

    ASSERT_TRUE(second->pactl({"set-sink-volume", "@DEFAULT_SINK@", "40%"}));
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return !infos.empty(); }));
    EXPECT_NEAR(infos.back().level, 0.4, 1e-3);
    service.stop();
}
