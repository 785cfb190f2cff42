// The now-playing service on virtual time, with a scripted helper and scripted players: what it
// publishes, when it clears, its decision logs, the source switch, stop and the transport.

#include "fake_helper.h"
#include "music/media_remote_service.h"
#include "scripted_players.h"
#include "platform/process/posix_process_launcher.h"
#include "platform/runtime/qt_scheduler.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using musictest::FakeHelper;
using musictest::ScriptedPlayers;
using platform::LogLevel;
using platform::ScriptOutcome;

namespace {

const QByteArray kSongByBand =
    "{\"isPlaying\":true,\"title\":\"Song\",\"artist\":\"Band\",\"album\":\"Record\",\"bundleIdentifier\":\"mockplayer\","
    "\"duration\":180.0,\"elapsedTime\":42.0,\"playbackRate\":1.0}";
const QByteArray kPaused =
    "{\"isPlaying\":false,\"title\":\"Song\",\"artist\":\"Band\",\"bundleIdentifier\":\"mockplayer\",\"playbackRate\":0.0}";

QByteArray png(int width, int height, QColor colour = QColor(220, 20, 30)) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Players the test puts on and takes off the bus.
class FakePlayerPresence final : public PlayerPresence {
public:
    bool anyPlayer() const override { return any; }
    platform::AnyCancellable onChange(std::function<void()> changed) override {
        return changed_.subscribe([changed = std::move(changed)](const platform::Unit&) { changed(); });
    }
    void set(bool value) {
        any = value;
        changed_.send();
    }
    platform::AnyCancellable onPositionJump(std::function<void()> jumped) override {
        return jumped_.subscribe([jumped = std::move(jumped)](const platform::Unit&) { jumped(); });
    }
    void jump() { jumped_.send(); }
    bool any = false;

private:
    platform::PassthroughSubject<platform::Unit> changed_;
    platform::PassthroughSubject<platform::Unit> jumped_;
};

class MediaRemoteServiceTest : public testsupport::QuillvexTest {
protected:
    MediaRemoteServiceTest() : bus(scheduler()) {
        nowPlayingSubscription = bus.nowPlayingSubject.sink([this](const std::optional<NowPlayingInfo>& info) {
            published.push_back(info);
        });
        published.clear();
    }

    MediaRemoteService& makeService(MusicNowPlayingSource source = MusicNowPlayingSource::appleScript) {
        if (source == MusicNowPlayingSource::controlCenter) {
            defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("controlCenter"));
        }
        auto bridge = std::make_unique<MediaRemoteBridge>(helper.launcher, scheduler(), QStringLiteral("/fake/helper"));
        service = std::make_unique<MediaRemoteService>(bus, scheduler(), &defaults(), std::move(bridge),
                                                       PlayerScripts(&players, [](double) {},
                                                                     [](const QUrl&) { return std::nullopt; }),
                                                       presence);
        scheduler().drain();  // the helper's launch runs on a worker
        return *service;
    }
    int queries() const { return static_cast<int>(helper.requests.count("query")); }

    EventBus bus;
    FakeHelper helper;
    ScriptedPlayers players;
    PlayerPresence* presence = nullptr;  // none: the ticks always run
    std::unique_ptr<MediaRemoteService> service;
    std::vector<std::optional<NowPlayingInfo>> published;
    platform::AnyCancellable nowPlayingSubscription;
};

}  // namespace

TEST_F(MediaRemoteServiceTest, ControlCenterPublishesATrackOnceAndClearsOnTheThirdMiss) {
    helper.answerQueries(kSongByBand);
    MediaRemoteService& s = makeService(MusicNowPlayingSource::controlCenter);
    int changes = 0;
    auto willChange = s.objectWillChange.sink([&changes] { ++changes; });
    std::vector<double> positions;
    auto reading = s.onPlayPosition([&positions](const PlayPosition& read) { positions.push_back(read.elapsed); });
    s.start();
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteService: Started monitoring (controlCenter)"));
    scheduler().drain();

    ASSERT_TRUE(s.nowPlaying());
    EXPECT_EQ(s.nowPlaying()->title, QStringLiteral("Song"));
    EXPECT_EQ(s.nowPlaying()->album, QStringLiteral("Record"));
    EXPECT_EQ(s.nowPlaying()->duration, 180.0);
    EXPECT_EQ(s.nowPlaying()->elapsedTime, 42.0);
    EXPECT_TRUE(s.isPlaying());
    EXPECT_TRUE(s.isBrowserMedia());
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published.back()->bundleIdentifier, QStringLiteral("mockplayer"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, "MediaRemoteService: Updated - Song by Band"));
    EXPECT_TRUE(log.contains(LogLevel::Debug,
                             "MediaRemoteService[controlCenter] MediaRemote hit: playing=true title=Song artist=Band "
                             "bundle=mockplayer rate=Optional(1.0)"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, "MediaRemoteService[controlCenter] MediaRemoteHelper: playing=true "
                                              "title=Song artist=Band bundle=mockplayer"));
    EXPECT_GT(changes, 0);

    // The same track, only further along or sought back: nothing is published again, but the
    // lyrics get the position of every poll.
    helper.answerQueries(QByteArray(kSongByBand).replace("42.0", "43.0"));
    scheduler().advance(1.6);
    EXPECT_EQ(queries(), 3);
    helper.answerQueries(QByteArray(kSongByBand).replace("42.0", "3.0"));
    scheduler().advance(0.8);
    EXPECT_EQ(published.size(), 1u);
    EXPECT_EQ(log.count("MediaRemoteService: Updated - Song by Band"), 1);
    EXPECT_EQ(positions, (std::vector<double>{42.0, 43.0, 43.0, 3.0}));

    // Paused: two misses keep it, the third clears; the decision line is not repeated within 3 s.
    helper.answerQueries(kPaused);
    positions.clear();
    const QString clearing = "MediaRemoteService[controlCenter] MediaRemote: not playing; clearing";
    scheduler().advance(0.8);
    EXPECT_EQ(s.consecutiveMissCount(), 1);
    scheduler().advance(0.8);
    EXPECT_EQ(s.consecutiveMissCount(), 2);
    EXPECT_TRUE(s.nowPlaying());
    scheduler().advance(0.8);
    EXPECT_FALSE(s.nowPlaying());
    EXPECT_FALSE(s.isPlaying());
    EXPECT_EQ(s.consecutiveMissCount(), 0);
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published.back(), std::nullopt);
    EXPECT_EQ(log.count(clearing), 1);
    scheduler().advance(0.8);  // 2.4 s after the first
    EXPECT_EQ(log.count(clearing), 1);
    scheduler().advance(0.8);  // 3.2 s after the first: said again
    EXPECT_EQ(log.count(clearing), 2);
    EXPECT_EQ(published.size(), 2u);  // with nothing shown, misses are not counted
    EXPECT_EQ(s.consecutiveMissCount(), 0);
    EXPECT_TRUE(positions.empty());
}

TEST_F(MediaRemoteServiceTest, AHitBetweenMissesStartsTheCountAgain) {
    helper.answerQueries(kSongByBand);
    MediaRemoteService& s = makeService(MusicNowPlayingSource::controlCenter);
    s.start();
    scheduler().drain();
    helper.answerQueries(kPaused);
    scheduler().advance(1.6);
    EXPECT_EQ(s.consecutiveMissCount(), 2);
    helper.answerQueries(kSongByBand);
    scheduler().advance(0.8);
    EXPECT_EQ(s.consecutiveMissCount(), 0);
    helper.answerQueries(kPaused);
    scheduler().advance(1.6);
    EXPECT_TRUE(s.nowPlaying());
}

TEST_F(MediaRemoteServiceTest, TheHelpersRateIsKeptAndOnlyAMissingOneBecomesOne) {
    helper.answerQueries("{\"isPlaying\":true,\"title\":\"Song\",\"playbackRate\":0.0}");
    MediaRemoteService& s = makeService(MusicNowPlayingSource::controlCenter);
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.nowPlaying());
    EXPECT_EQ(s.nowPlaying()->playbackRate, 0.0);
    EXPECT_FALSE(s.isPlaying());
    EXPECT_TRUE(log.contains("MediaRemoteService[controlCenter] MediaRemote hit: playing=true title=Song artist=nil "
                             "bundle=nil rate=Optional(0.0)"));
    EXPECT_FALSE(s.isBrowserMedia());  // no bundle

    helper.answerQueries("{\"isPlaying\":true,\"bundleIdentifier\":\"org.example.web\"}");
    scheduler().advance(0.8);
    EXPECT_EQ(s.nowPlaying()->title, QStringLiteral("org.example.web"));
    EXPECT_EQ(s.nowPlaying()->playbackRate, 1.0);
    EXPECT_TRUE(s.isPlaying());
    EXPECT_TRUE(log.contains("MediaRemoteService: Updated - org.example.web by Unknown"));
    EXPECT_TRUE(log.matching("MediaRemoteService[controlCenter] MediaRemote hit:").last().endsWith(" rate=nil"));
}

TEST_F(MediaRemoteServiceTest, ControlCenterWithoutAHelperFallsBackToThePlayerScripts) {
    helper.greeting = FakeHelper::Greeting::other;  // alive, never ready
    players.answerText(PlayerScripts::probeScript(), "MUSIC_PLAYING");
    players.answerText(PlayerScripts::musicInfoScript(), "Track|||Artist|||Album");
    MediaRemoteService& s = makeService(MusicNowPlayingSource::controlCenter);
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.nowPlaying());
    EXPECT_EQ(s.nowPlaying()->bundleIdentifier, QStringLiteral("com.apple.Music"));
    EXPECT_FALSE(s.isBrowserMedia());

    scheduler().advance(8.0);  // ten polls
    const QString fallback = "MediaRemoteService[controlCenter] MediaRemote returned nil; fallback=AppleScript";
    EXPECT_EQ(log.count(fallback), 3);  // 0, 3.2 and 6.4 s
    EXPECT_EQ(log.count("MediaRemoteService[controlCenter] MediaRemoteHelper: failed to receive READY signal"), 2);  // 0, 5.6 s
    EXPECT_EQ(log.count("MediaRemoteService[appleScript] probe=musicPlaying"), 3);
    EXPECT_EQ(queries(), 0);
}

TEST_F(MediaRemoteServiceTest, AppleScriptSourceAsksTheHelperWhenNoPlayerPlaysAndClearsAtOnce) {
    helper.answerQueries(kSongByBand);
    MediaRemoteService& s = makeService();
    s.start();
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteService: Started monitoring (appleScript)"));
    scheduler().drain();
    ASSERT_TRUE(s.nowPlaying());
    EXPECT_EQ(s.nowPlaying()->title, QStringLiteral("Song"));
    EXPECT_TRUE(log.contains(LogLevel::Info,
                             "MediaRemoteService[appleScript] probe=none; MediaRemote fallback hit: title=Song bundle=mockplayer"));
    EXPECT_FALSE(log.contains("MediaRemoteService[appleScript] probe=none"));
    EXPECT_TRUE(log.matching("MediaRemoteService: AppleScript error").isEmpty());

    helper.answerQueries(kPaused);
    scheduler().advance(1.0);
    EXPECT_FALSE(s.nowPlaying());
    EXPECT_EQ(published.back(), std::nullopt);
}

TEST_F(MediaRemoteServiceTest, AMusicTrackIsPublishedOnceAndKeepsItsArtworkThroughAPollWithout) {
    players.answerText(PlayerScripts::probeScript(), "MUSIC_PLAYING");
    players.answerText(PlayerScripts::musicInfoScript(), "Song|||Band|||Album");
    ScriptOutcome artwork = ScriptOutcome::success();
    artwork.data = png(60, 60);
    players.answerInTurn(PlayerScripts::musicArtworkScript(), {artwork, ScriptOutcome::failure("gone")});
    MediaRemoteService& s = makeService();
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.nowPlaying());
    ASSERT_TRUE(s.nowPlaying()->artwork);
    ASSERT_TRUE(s.lastArtwork());
    ASSERT_TRUE(s.artworkDominantColor());
    EXPECT_GT(s.artworkDominantColor()->red(), 150);
    EXPECT_EQ(s.nowPlaying()->playbackRate, 1.0);
    EXPECT_EQ(log.count("MediaRemoteService[appleScript] probe=musicPlaying"), 1);

    scheduler().advance(2.0);  // two polls whose artwork fetch fails
    EXPECT_EQ(published.size(), 1u);
    EXPECT_TRUE(s.nowPlaying()->artwork);
    EXPECT_EQ(log.count("MediaRemoteService[appleScript] probe=musicPlaying"), 1);  // within 3 s

    // The next track has no artwork: shown without, the last artwork and its colour stay.
    players.answerText(PlayerScripts::musicInfoScript(), "Next|||Band|||Album");
    scheduler().advance(1.0);
    EXPECT_EQ(published.size(), 2u);
    EXPECT_FALSE(s.nowPlaying()->artwork);
    EXPECT_TRUE(s.lastArtwork());
    EXPECT_TRUE(s.artworkDominantColor());
}

// The helper sends the cover with every poll: the same cover is decoded and coloured once, so a
// republication (a new rate) keeps the very same image; a new cover is taken and coloured anew.
TEST_F(MediaRemoteServiceTest, TheSameCoverIsTakenOnceAndANewOneAgain) {
    const auto withCover = [](const QByteArray& reply, QColor colour) {
        return QByteArray(reply).replace("}", ",\"artworkBase64\":\"" + png(40, 40, colour).toBase64() + "\"}");
    };
    const QByteArray halfRate = QByteArray(kSongByBand).replace("\"playbackRate\":1.0", "\"playbackRate\":0.5");
    helper.answerQueries(withCover(kSongByBand, QColor(220, 20, 30)));
    MediaRemoteService& s = makeService(MusicNowPlayingSource::controlCenter);
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.lastArtwork() && s.artworkDominantColor());
    const qint64 first = s.lastArtwork()->cacheKey();
    const QColor red = *s.artworkDominantColor();

    helper.answerQueries(withCover(halfRate, QColor(220, 20, 30)));
    scheduler().advance(0.8);
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published.back()->artwork->cacheKey(), first);
    EXPECT_EQ(s.lastArtwork()->cacheKey(), first);

    helper.answerQueries(withCover(kSongByBand, QColor(40, 200, 90)));
    scheduler().advance(0.8);
    ASSERT_EQ(published.size(), 3u);
    EXPECT_NE(s.lastArtwork()->cacheKey(), first);
    EXPECT_NE(s.artworkDominantColor(), red);
}

TEST_F(MediaRemoteServiceTest, RefusedScriptsAreCountedMisses) {
    players.answerText(PlayerScripts::probeScript(), "MUSIC_PLAYING");
    players.answerText(PlayerScripts::musicInfoScript(), "Song|||Band|||Album");
    MediaRemoteService& s = makeService();
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.nowPlaying());

    const ScriptOutcome refused = ScriptOutcome::failure("Not authorized to send Apple events to Music.");
    players.answer(PlayerScripts::probeScript(), refused);
    players.answer(PlayerScripts::musicInfoScript(), refused);
    players.answer(PlayerScripts::spotifyInfoScript(), refused);
    scheduler().advance(2.0);
    EXPECT_TRUE(s.nowPlaying());
    EXPECT_EQ(s.consecutiveMissCount(), 2);
    scheduler().advance(1.0);
    EXPECT_FALSE(s.nowPlaying());
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteService[appleScript] probe=error"));
}

TEST_F(MediaRemoteServiceTest, CreationLaunchesTheHelperAndWritingTheSourceSwitchesOnceAndChangesTheCadence) {
    MediaRemoteService& s = makeService();
    EXPECT_EQ(helper.launcher.children().size(), 1u);
    EXPECT_TRUE(s.bridge().isReady());
    EXPECT_EQ(s.currentSource(), MusicNowPlayingSource::appleScript);
    EXPECT_FALSE(s.isPolling());
    s.start();
    scheduler().drain();
    EXPECT_EQ(queries(), 1);
    scheduler().advance(1.0);
    EXPECT_EQ(queries(), 2);

    defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("controlCenter"));
    scheduler().drain();
    EXPECT_EQ(log.count("MediaRemoteService: Switched source to controlCenter"), 1);
    EXPECT_EQ(s.currentSource(), MusicNowPlayingSource::controlCenter);
    EXPECT_EQ(queries(), 3);  // a poll at once
    scheduler().advance(0.8);
    EXPECT_EQ(queries(), 4);
    scheduler().advance(0.8);
    EXPECT_EQ(queries(), 5);

    // The same source again, its older spelling, or any other setting: nothing happens.
    defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("controlCenter"));
    defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("mediaRemoteExperimental"));
    defaults().set(AppSettings::enableDropKey, false);
    scheduler().drain();
    EXPECT_EQ(log.matching("MediaRemoteService: Switched source").size(), 1);
    EXPECT_EQ(queries(), 5);

    defaults().remove(AppSettings::musicNowPlayingSourceKey);
    scheduler().drain();
    EXPECT_TRUE(log.contains("MediaRemoteService: Switched source to appleScript"));
}

TEST_F(MediaRemoteServiceTest, StopClearsEverythingButTheColourAndDropsPollsAlreadyUnderWay) {
    players.answerText(PlayerScripts::probeScript(), "MUSIC_PLAYING");
    players.answerText(PlayerScripts::musicInfoScript(), "Song|||Band|||Album");
    ScriptOutcome artwork = ScriptOutcome::success();
    artwork.data = png(20, 20);
    players.answer(PlayerScripts::musicArtworkScript(), artwork);
    MediaRemoteService& s = makeService();
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.nowPlaying());

    // A poll started before stop() must not bring the track back.
    scheduler().advance(1.0 - 1e-6);
    s.start();  // polls once more now
    s.stop();
    scheduler().drain();
    EXPECT_FALSE(s.nowPlaying());
    EXPECT_FALSE(s.isPlaying());
    EXPECT_FALSE(s.lastArtwork());
    EXPECT_TRUE(s.artworkDominantColor());
    EXPECT_FALSE(s.isPolling());
    EXPECT_EQ(published.back(), std::nullopt);
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteService: Stopped monitoring"));
    scheduler().advance(5.0);
    EXPECT_FALSE(s.nowPlaying());

    // Stopping with nothing shown still says so on the bus; the helper stays.
    const size_t before = published.size();
    s.stop();
    EXPECT_EQ(published.size(), before + 1);
    EXPECT_EQ(published.back(), std::nullopt);
    EXPECT_TRUE(helper.child().isRunning());

    s.start();
    scheduler().drain();
    EXPECT_TRUE(s.nowPlaying());
}

TEST_F(MediaRemoteServiceTest, TransportGoesThroughTheHelperForOtherApplications) {
    helper.answerQueries(kSongByBand);
    MediaRemoteService& s = makeService();
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.isBrowserMedia());
    players.clear();

    const int before = queries();
    s.togglePlayPause();
    EXPECT_EQ(helper.requests.last(), "cmd:2");
    scheduler().advance(0.1);
    EXPECT_EQ(queries(), before + 1);  // refetched 0.1 s later
    s.nextTrack();
    EXPECT_EQ(helper.requests.last(), "cmd:4");
    scheduler().advance(0.2);
    EXPECT_EQ(queries(), before + 1);
    scheduler().advance(0.1);
    EXPECT_EQ(queries(), before + 2);
    s.previousTrack();
    EXPECT_EQ(helper.requests.last(), "cmd:5");
    EXPECT_TRUE(log.contains(LogLevel::Debug, "MediaRemoteBridge: sendCommand(5) -> true"));
    EXPECT_EQ(players.ran().filter("System Events").size(), 0);

    // A refetch still due when the service stops does not bring the track back.
    s.stop();
    scheduler().advance(1.0);
    EXPECT_EQ(queries(), before + 2);
    EXPECT_FALSE(s.nowPlaying());
}

TEST_F(MediaRemoteServiceTest, TransportTriesMusicThenSpotifyForTheirTrackAndTheHelperWithNothingShown) {
    MediaRemoteService& s = makeService();
    // Nothing shown (a paused player is cleared): the helper picks the player, no script runs.
    s.nextTrack();
    s.togglePlayPause();
    EXPECT_EQ(helper.requests, (QList<QByteArray>{"cmd:4", "cmd:2"}));
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteService: No track shown; sent command 4 through the helper -> true"));
    EXPECT_EQ(players.ran(), QStringList{});

    players.answerText(PlayerScripts::probeScript(), "MUSIC_PLAYING");
    players.answerText(PlayerScripts::musicInfoScript(), "Song|||Band|||Album");
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.nowPlaying());
    const qsizetype helperRequests = helper.requests.size();
    players.clear();
    s.nextTrack();
    EXPECT_EQ(players.ran(), (QStringList{PlayerScripts::musicNextTrackScript(), PlayerScripts::spotifyNextTrackScript()}));
    players.clear();
    players.answerText(PlayerScripts::musicPlayPauseScript(), "OK");
    s.togglePlayPause();
    EXPECT_EQ(players.ran(), QStringList{PlayerScripts::musicPlayPauseScript()});
    EXPECT_EQ(helper.requests.size(), helperRequests);
}

TEST_F(MediaRemoteServiceTest, AnInstalledNonBrowserPlayerIsNativeAndItsSettingsAndLyricsGoThroughTheHelper) {
    QTemporaryDir data;
    testsupport::ScopedEnvironment env;
    env.set("XDG_DATA_HOME", data.path().toUtf8());
    env.set("XDG_DATA_DIRS", (data.path() + "/none").toUtf8());
    ASSERT_TRUE(testsupport::writeFile(data.path() + "/applications/mpv.desktop",
                                       "[Desktop Entry]\nType=Application\nName=mpv\nCategories=AudioVideo;Audio;Player;\n"));
    ASSERT_TRUE(testsupport::writeFile(data.path() + "/applications/firefox.desktop",
                                       "[Desktop Entry]\nType=Application\nName=Firefox\nCategories=Network;WebBrowser;\n"));
    QByteArray query = "{\"isPlaying\":true,\"title\":\"Song\",\"artist\":\"Band\",\"bundleIdentifier\":\"mpv\","
                       "\"playbackRate\":1.0,\"shuffle\":false,\"loopStatus\":\"None\"}";
    helper.answer = [&query](const QByteArray& line) -> QByteArray {
        if (line == "query") return query + '\n';
        if (line == "lyrics:mpv") return "{\"found\":true,\"title\":\"Song\",\"artist\":\"Band\",\"lyrics\":\"la\\nla\"}\n";
        if (line.startsWith("lyrics:")) return "{\"found\":false}\n";
        return "{\"commandResult\":true}\n";
    };
    MediaRemoteService& s = makeService(MusicNowPlayingSource::controlCenter);
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.nowPlaying());
    EXPECT_FALSE(s.isBrowserMedia());
    EXPECT_EQ(s.playerModes(), (PlayerModes{false, QStringLiteral("None")}));

    // Presses ask the shown player; its answer shows at once.
    EXPECT_TRUE(s.toggleShuffle());
    EXPECT_EQ(helper.requests.last(), "shuffle:1:mpv");
    EXPECT_EQ(s.playerModes().shuffle, true);
    for (const char* expected : {"loop:Playlist:mpv", "loop:Track:mpv", "loop:None:mpv"}) {
        EXPECT_TRUE(s.cycleLoopStatus());
        EXPECT_EQ(helper.requests.last(), expected);
    }
    // Transport for a desktop player goes through the helper, never the player scripts.
    s.togglePlayPause();
    EXPECT_EQ(helper.requests.last(), "cmd:2");
    EXPECT_EQ(players.ran(), QStringList{});

    // Lyrics are the shown player's, and only for the track it still shows.
    NowPlayingInfo track = *s.nowPlaying();
    EXPECT_EQ(s.lyricsFor(track), QStringLiteral("la\nla"));
    track.title = QStringLiteral("Another");
    EXPECT_EQ(s.lyricsFor(track), std::nullopt);
    track.bundleIdentifier = QStringLiteral("firefox");
    EXPECT_EQ(s.lyricsFor(track), std::nullopt);

    // A browser, and a player whose entry is unknown, are browser media; a press sends nothing.
    for (const char* bundle : {"firefox", "mockplayer"}) {
        query = "{\"isPlaying\":true,\"title\":\"Video\",\"artist\":\"Site\",\"bundleIdentifier\":\"" + QByteArray(bundle) +
                "\",\"playbackRate\":1.0}";
        scheduler().advance(MediaRemoteService::kControlCenterPeriod);
        scheduler().drain();
        ASSERT_EQ(s.nowPlaying()->bundleIdentifier, QString::fromLatin1(bundle));
        EXPECT_TRUE(s.isBrowserMedia()) << bundle;
        EXPECT_EQ(s.playerModes(), PlayerModes{});
    }
    const qsizetype sent = helper.requests.size();
    EXPECT_FALSE(s.toggleShuffle());
    EXPECT_FALSE(s.cycleLoopStatus());
    EXPECT_EQ(helper.requests.size(), sent);
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteService: Shuffle pressed; mockplayer has no shuffle setting, nothing sent"));
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteService: Repeat pressed; mockplayer has no loop setting, nothing sent"));

    // The player scripts' own two stay native without any entry.
    EXPECT_TRUE(NativePlayerRule().isNativePlayer(QStringLiteral("com.spotify.client")));
    EXPECT_FALSE(NativePlayerRule().isNativePlayer(QString()));
}

TEST_F(MediaRemoteServiceTest, AWebCoverOnItsWayIsAskedForTwiceSoonAfterThenOnlyAtThePollPace) {
    QByteArray title = "Song";
    helper.answer = [&title](const QByteArray& line) -> QByteArray {
        if (line != "query") return {};
        return "{\"isPlaying\":true,\"title\":\"" + title + "\",\"artist\":\"Band\",\"bundleIdentifier\":\"tunes\","
               "\"playbackRate\":1.0,\"artworkPending\":true}\n";
    };
    MediaRemoteService& s = makeService(MusicNowPlayingSource::controlCenter);
    s.start();
    scheduler().drain();
    ASSERT_TRUE(s.nowPlaying());  // shown at once, without its cover
    EXPECT_EQ(queries(), 1);
    scheduler().advance(MediaRemoteService::kCoverRefetchDelay);
    EXPECT_EQ(queries(), 2);
    scheduler().advance(MediaRemoteService::kCoverRefetchDelay);
    EXPECT_EQ(queries(), 3);
    scheduler().advance(MediaRemoteService::kControlCenterPeriod - 2 * MediaRemoteService::kCoverRefetchDelay - 0.01);
    EXPECT_EQ(queries(), 3);  // no more early asks for this track
    scheduler().advance(0.01);
    EXPECT_EQ(queries(), 4);  // the regular poll

    // A new track gets its own two.
    title = "Next";
    scheduler().advance(MediaRemoteService::kControlCenterPeriod);
    EXPECT_EQ(queries(), 5);
    scheduler().advance(MediaRemoteService::kCoverRefetchDelay);
    EXPECT_EQ(queries(), 6);
}

// A real helper process that never greets, with the application's own scheduler: creating the
// service (which the application does while it starts) waits for nothing, and so neither do the
// main thread, the polls or the transport.
TEST_F(MediaRemoteServiceTest, ASilentHelperIsWaitedForOnAWorkerWhileTheMainThreadAndRequestsGoOn) {
    QTemporaryDir folder;
    const QString program = folder.filePath(QStringLiteral("silent-helper"));
    {
        QFile script(program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexec sleep 30\n");
    }
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    platform::QtScheduler real;
    platform::PosixProcessLauncher launcher;
    EventBus realBus{real};
    {
        MediaRemoteService s(realBus, real, &defaults(), std::make_unique<MediaRemoteBridge>(launcher, real, program),
                             PlayerScripts(&players, [](double) {}, [](const QUrl&) { return std::nullopt; }));
        EXPECT_FALSE(log.contains(LogLevel::Error, "MediaRemoteBridge: helper did not send READY (got: nil)"));
        bool ran = false;
        real.post([&] { ran = true; });
        QElapsedTimer clock;
        clock.start();
        while (!ran && clock.elapsed() < 4000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_TRUE(ran);
        // Requests meanwhile answer at once instead of queueing behind the greeting.
        EXPECT_FALSE(s.bridge().currentSnapshot(0.5));
        EXPECT_FALSE(s.bridge().sendCommand(2));
        EXPECT_FALSE(log.contains(LogLevel::Error, "MediaRemoteBridge: helper did not send READY (got: nil)"))
            << "all of this came before the greeting's wait was over";
        EXPECT_FALSE(s.bridge().isReady());
    }  // going, the service ends a wait still in progress: the helper is killed
}

TEST_F(MediaRemoteServiceTest, WithNoPlayerOnTheBusAndNothingShownTheTicksWaitAndResumeOnTheirGrid) {
    FakePlayerPresence players;
    presence = &players;
    helper.answerQueries(kPaused);
    MediaRemoteService& s = makeService(MusicNowPlayingSource::controlCenter);
    s.start();  // one poll now; the grid: 0.8, 1.6, 2.4, ...
    scheduler().drain();
    EXPECT_EQ(queries(), 1);
    EXPECT_TRUE(s.isPolling());
    EXPECT_FALSE(s.isTicking());
    scheduler().advance(2.0);
    EXPECT_EQ(queries(), 1);

    // A player comes at 2.0: it is asked at 2.4, then every 0.8 s.
    helper.answerQueries(kSongByBand);
    players.set(true);
    scheduler().advance(0.39);
    EXPECT_EQ(queries(), 1);
    scheduler().advance(0.01);
    EXPECT_EQ(queries(), 2);
    ASSERT_TRUE(s.nowPlaying());

    // It goes while its track is shown: the polls go on until the third miss clears it, then wait.
    helper.answerQueries(kPaused);
    players.set(false);
    EXPECT_TRUE(s.isTicking());
    scheduler().advance(2.4);
    EXPECT_EQ(queries(), 5);
    EXPECT_FALSE(s.nowPlaying());
    EXPECT_FALSE(s.isTicking());
    scheduler().advance(3.0);
    EXPECT_EQ(queries(), 5);

    // Stopped, a player coming starts nothing.
    s.stop();
    players.set(true);
    EXPECT_FALSE(s.isPolling());
    scheduler().advance(2.0);
    EXPECT_EQ(queries(), 5);
}

TEST_F(MediaRemoteServiceTest, APlayersSeekIsPolledAtOnceAndABurstOfThemAtMostFourTimesASecond) {
    FakePlayerPresence players;
    players.any = true;
    presence = &players;
    helper.answerQueries(kSongByBand);
    MediaRemoteService& s = makeService();
    std::vector<double> positions;
    auto reading = s.onPlayPosition([&positions](const PlayPosition& read) { positions.push_back(read.elapsed); });
    s.start();  // the grid: 1.0, 2.0, ...
    scheduler().drain();
    scheduler().advance(0.5);
    ASSERT_EQ(queries(), 1);

    // Sought back at 0.5: read at once, not at 1.0.
    helper.answerQueries(QByteArray(kSongByBand).replace("42.0", "3.0"));
    players.jump();
    scheduler().drain();
    EXPECT_EQ(queries(), 2);
    EXPECT_EQ(positions.back(), 3.0);
    EXPECT_EQ(published.size(), 1u);  // the same track: nothing published

    // A burst at 0.6: one poll, at 0.75.
    scheduler().advance(0.1);
    for (int i = 0; i < 5; ++i) players.jump();
    scheduler().advance(0.14);
    EXPECT_EQ(queries(), 2);
    scheduler().advance(0.01);
    EXPECT_EQ(queries(), 3);
    scheduler().advance(0.2);  // 0.95
    EXPECT_EQ(queries(), 3);

    s.stop();
    players.jump();
    scheduler().advance(1.0);
    EXPECT_EQ(queries(), 3);
}
