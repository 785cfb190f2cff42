// A desktop music player on a private session bus, through the real helper, the now-playing and
// lyrics services, into the expanded player: what the user sees and what a press changes.

#include "music/lyrics_service.h"
#include "music/media_remote_service.h"
#include "music/mpris_session.h"
#include "notch/expanded_player_view.h"
#include "notch/media_remote_notch_media.h"
#include "notch_view_fixture.h"
#include "platform/process/posix_process_launcher.h"

#include <QTemporaryDir>

using musictest::MprisSession;
using notchtest::NotchViewTest;

namespace {

const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

class DesktopPlayerTest : public NotchViewTest {
protected:
    static void SetUpTestSuite() {
        session.start([](QString* error) { return MprisSession::start(error); });
    }
    static void TearDownTestSuite() { session.stop(); }
    void SetUp() override {
        if (!session) QUILLVEX_SERVICE_MISSING(session.error().toStdString());
        // Only the entries written here are installed.
        env.set("XDG_DATA_HOME", data.path().toUtf8());
        env.set("XDG_DATA_DIRS", (data.path() + "/none").toUtf8());
        install("tunes", "AudioVideo;Audio;Player;");
        install("webby", "Network;WebBrowser;");
    }
    void install(const QString& id, const QByteArray& categories) {
        ASSERT_TRUE(testsupport::writeFile(data.path() + "/applications/" + id + ".desktop",
                                           "[Desktop Entry]\nType=Application\nName=" + id.toUtf8() +
                                               "\nCategories=" + categories + "\n"));
    }

    // The services and an opened player, once the first poll and the lyrics fetch are through.
    std::unique_ptr<ExpandedPlayerView> open() {
        defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("controlCenter"));
        service = std::make_unique<MediaRemoteService>(
            bus, scheduler, &defaults(),
            std::make_unique<MediaRemoteBridge>(launcher, scheduler, QStringLiteral(QUILLVEX_NOWPLAYING_HELPER)));
        lyrics = std::make_unique<LyricsService>(bus, scheduler, service.get());
        nowPlaying = std::make_unique<MediaRemoteNotchMedia>(service.get(), scheduler);
        service->start();
        lyrics->start();
        scheduler.drain();
        NotchViewServices viewServices = services();
        auto view = std::make_unique<ExpandedPlayerView>(nullptr, NotchViewServices{
            bus, scheduler, defaults(), screens, workspace, *nowPlaying, handshake, viewServices.locale, viewServices.timeZone});
        view->resize(620, 143);
        view->show();
        scheduler.drain();
        return view;
    }
    void TearDown() override {
        if (lyrics) lyrics->stop();
        if (service) service->stop();
    }
    static QString text(const ExpandedPlayerLayout& layout, const QString& key) {
        const DrawItem* item = layout.drawing.find(key);
        return item ? item->text : QStringLiteral("<none>");
    }

    static inline testsupport::SuiteService<MprisSession> session;
    QTemporaryDir data;
    testsupport::ScopedEnvironment env;
    platform::PosixProcessLauncher launcher;
    std::unique_ptr<MediaRemoteService> service;
    std::unique_ptr<LyricsService> lyrics;
    std::unique_ptr<MediaRemoteNotchMedia> nowPlaying;
};

}  // namespace

TEST_F(DesktopPlayerTest, AMusicPlayerShowsFiveButtonsItsLyricAtThePositionAndShuffleReachesIt) {
    auto player = session->player(
        "tunes", MprisSession::playing("Song", {"Band"},
                                       {{"mpris:length", QVariant::fromValue<qlonglong>(240'000'000)},
                                        {"xesam:asText", "first\nsecond\n\nthird\nfourth"}}));
    ASSERT_TRUE(player);
    player->addProperties(kPlayer, {{"Shuffle", false}, {"LoopStatus", "Playlist"}});
    player->setProperty(kPlayer, "Position", QVariant::fromValue<qlonglong>(130'000'000));

    auto view = open();
    ASSERT_TRUE(service->nowPlaying());
    ExpandedPlayerLayout layout = view->layout();
    ASSERT_EQ(layout.controls.size(), 5u);
    EXPECT_FALSE(layout.drawing.has("player.source.name"));
    EXPECT_EQ(text(layout, "player.lyric"), "third");  // 130 of 240 s, four lines
    const QColor accent = view->palette().color(QPalette::Highlight);
    EXPECT_EQ(layout.drawing.find("player.control.shuffle")->color, whiteAt(0.6));
    EXPECT_EQ(layout.drawing.find("player.control.repeat")->color, accent);

    view->tapControl(PlayerControl::shuffle);
    const platform::DBusReply shuffle = player->call("Get", {kPlayer, "Shuffle"}, "org.freedesktop.DBus.Properties");
    ASSERT_TRUE(shuffle.ok());
    EXPECT_EQ(shuffle.values.value(0), QVariant(true));
    scheduler.advance(0.2);  // the refetch confirms it
    EXPECT_EQ(service->playerModes().shuffle, true);
    EXPECT_EQ(view->layout().drawing.find("player.control.shuffle")->color, accent);
    player.reset();
}

TEST_F(DesktopPlayerTest, ABrowsersTrackKeepsTheSourceRowAndThreeButtons) {
    workspace.applicationPaths["webby"] = data.path() + "/applications/webby.desktop";
    auto player = session->player("webby", MprisSession::playing("Clip", {"Channel"}, {{"xesam:asText", "words"}}));
    ASSERT_TRUE(player);
    player->addProperties(kPlayer, {{"Shuffle", false}, {"LoopStatus", "None"}});

    auto view = open();
    ASSERT_TRUE(service->nowPlaying());
    const ExpandedPlayerLayout layout = view->layout();
    EXPECT_EQ(layout.controls.size(), 3u);
    EXPECT_EQ(text(layout, "player.source.name"), "webby");
    EXPECT_FALSE(layout.drawing.has("player.lyric"));
    player.reset();
}
