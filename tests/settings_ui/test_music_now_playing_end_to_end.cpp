// The Music tab's Now Playing card over the real now-playing helper, reading a fake desktop
// player on a private session bus.

#include "music/media_remote_service.h"
#include "music/mpris_session.h"
#include "platform/process/posix_process_launcher.h"
#include "settings_fixture.h"
#include "settings_ui/music_settings_tab.h"

#include <QLabel>

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

class MusicNowPlayingEndToEndTest : public SettingsTest {
protected:
    static void SetUpTestSuite() {
        session.start([](QString* error) { return musictest::MprisSession::start(error); });
    }
    static void TearDownTestSuite() { session.stop(); }
    void SetUp() override {
        if (!session) QUILLVEX_SERVICE_MISSING(session.error().toStdString());
    }

    static inline testsupport::SuiteService<musictest::MprisSession> session;
    platform::PosixProcessLauncher launcher;
    EventBus bus{scheduler()};
};

}  // namespace

TEST_F(MusicNowPlayingEndToEndTest, TheCardFollowsEachPublication) {
    defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("controlCenter"));
    auto player = session->player("mockplayer", musictest::MprisSession::playing("Song", {"Band"}));
    ASSERT_TRUE(player);
    MediaRemoteService service(bus, scheduler(), &defaults(),
                               std::make_unique<MediaRemoteBridge>(launcher, scheduler(),
                                                                   QStringLiteral(QUILLVEX_NOWPLAYING_HELPER)));
    environment.bus = &bus;
    environment.mediaService = &service;
    MusicSettingsTab tab(environment);
    auto* title = find<QLabel>(&tab, QStringLiteral("trackTitle"));
    auto* artist = find<QLabel>(&tab, QStringLiteral("trackArtist"));
    auto* dot = find<PlayingDot>(&tab, QStringLiteral("playingDot"));
    auto* trackRow = find<QWidget>(&tab, QStringLiteral("trackRow"));
    EXPECT_TRUE(trackRow->isHidden());

    service.start();
    scheduler().drain();
    ASSERT_FALSE(trackRow->isHidden());
    EXPECT_EQ(title->text(), "Song");
    EXPECT_EQ(artist->text(), "Band");
    EXPECT_TRUE(dot->isPlaying());

    player->setProperty(kPlayerInterface, "Metadata",
                        QVariantMap{{"xesam:title", "Second"}, {"xesam:artist", QStringList{"Other"}}});
    scheduler().advance(MediaRemoteService::kControlCenterPeriod);
    scheduler().drain();
    EXPECT_EQ(title->text(), "Second");
    EXPECT_EQ(artist->text(), "Other");

    // Paused: the service lets the track go after its tolerated misses, and the card empties.
    player->setProperty(kPlayerInterface, "PlaybackStatus", "Paused");
    scheduler().advance(4 * MediaRemoteService::kControlCenterPeriod);
    scheduler().drain();
    EXPECT_TRUE(trackRow->isHidden());
    EXPECT_FALSE(find<QWidget>(&tab, QStringLiteral("noMusicRow"))->isHidden());
    service.stop();
}
