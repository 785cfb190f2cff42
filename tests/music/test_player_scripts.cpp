// The player scripts: how their answers are read, and what Linux answers.

#include "music/player_scripts.h"
#include "scripted_players.h"
#include "support/fixtures.h"
#include "support/loopback_http_server.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using musictest::ScriptedPlayers;
using platform::LogLevel;
using platform::ScriptOutcome;

namespace {

QByteArray png(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

ScriptOutcome dataOutcome(const QByteArray& data) {
    ScriptOutcome outcome = ScriptOutcome::success();
    outcome.data = data;
    return outcome;
}

class PlayerScriptsTest : public testsupport::QuillvexTest {
protected:
    PlayerScriptsTest()
        : scripts(&players, [this](double seconds) { sleeps.push_back(seconds); },
                  [this](const QUrl& url) -> std::optional<QByteArray> {
                      urls << url;
                      if (url.scheme() == "https") return png(64, 64);
                      return std::nullopt;
                  }) {}

    ScriptedPlayers players;
    std::vector<double> sleeps;
    QList<QUrl> urls;
    PlayerScripts scripts;
};

}  // namespace

TEST_F(PlayerScriptsTest, ProbeMapsTheThreeTokensAndCallsEverythingElseAnError) {
    EXPECT_EQ(scripts.probeActivePlayer(), PlaybackProbeResult::none);  // Linux: nothing runs
    for (const auto& [answer, expected] : std::vector<std::pair<QString, PlaybackProbeResult>>{
             {"MUSIC_PLAYING", PlaybackProbeResult::musicPlaying},
             {"SPOTIFY_PLAYING", PlaybackProbeResult::spotifyPlaying},
             {"NONE", PlaybackProbeResult::none},
             {"", PlaybackProbeResult::error},
             {"none", PlaybackProbeResult::error}}) {
        players.answerText(PlayerScripts::probeScript(), answer);
        EXPECT_EQ(scripts.probeActivePlayer(), expected) << answer.toStdString();
    }
    players.answer(PlayerScripts::probeScript(), ScriptOutcome::success());
    EXPECT_EQ(scripts.probeActivePlayer(), PlaybackProbeResult::error);
    players.answer(PlayerScripts::probeScript(), ScriptOutcome::failure("Not authorized to send Apple events"));
    EXPECT_EQ(scripts.probeActivePlayer(), PlaybackProbeResult::error);
    EXPECT_TRUE(log.contains(LogLevel::Error, "MediaRemoteService: AppleScript error: Not authorized to send Apple events"));
}

TEST_F(PlayerScriptsTest, OnLinuxTheReadersFindNoPlayerAndLogNoErrors) {
    EXPECT_EQ(scripts.fetchAppleMusicInfo(), std::nullopt);
    EXPECT_EQ(scripts.fetchSpotifyInfo(), std::nullopt);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "MediaRemoteService: Music app is not running"));
    EXPECT_EQ(scripts.runAppleScript(PlayerScripts::musicPlayPauseScript()), QStringLiteral("NO_APP"));
    EXPECT_EQ(scripts.runAppleScript(PlayerScripts::spotifyNextTrackScript()), std::nullopt);
    for (const auto& line : log.lines()) EXPECT_NE(line.level, LogLevel::Error) << line.text.toStdString();
}

TEST_F(PlayerScriptsTest, MusicReaderSplitsTheAnswerAndRetriesTheArtworkOnce) {
    players.answerText(PlayerScripts::musicInfoScript(), "Song||||||Album|||extra");
    players.answerInTurn(PlayerScripts::musicArtworkScript(),
                         {ScriptOutcome::failure("no artwork yet"), dataOutcome(png(40, 30))});
    const std::optional<NowPlayingInfo> info = scripts.fetchAppleMusicInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->title, QStringLiteral("Song"));
    EXPECT_EQ(info->artist, QStringLiteral(""));  // empty, yet present
    EXPECT_EQ(info->album, QStringLiteral("Album"));
    EXPECT_EQ(info->playbackRate, 1.0);
    EXPECT_EQ(info->bundleIdentifier, QStringLiteral("com.apple.Music"));
    EXPECT_EQ(info->duration, std::nullopt);
    ASSERT_TRUE(info->artwork);
    EXPECT_EQ(info->artwork->size(), QSize(40, 30));
    EXPECT_EQ(sleeps, std::vector<double>{0.12});
    EXPECT_EQ(players.count(PlayerScripts::musicArtworkScript()), 2);
    EXPECT_TRUE(log.contains(LogLevel::Info, "MediaRemoteService: Detected Music playback - Song by "));
    // The artwork script runs directly: its failure is not logged.
    EXPECT_TRUE(log.matching("MediaRemoteService: AppleScript error").isEmpty());
}

TEST_F(PlayerScriptsTest, MusicReaderLogsEachWayItFindsNothing) {
    players.answer(PlayerScripts::musicInfoScript(), ScriptOutcome::failure("denied"));
    EXPECT_EQ(scripts.fetchAppleMusicInfo(), std::nullopt);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "MediaRemoteService: Apple Music AppleScript failed (check Automation permissions)"));
    players.answerText(PlayerScripts::musicInfoScript(), "NOT_PLAYING");
    EXPECT_EQ(scripts.fetchAppleMusicInfo(), std::nullopt);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "MediaRemoteService: Music app is running but not playing"));
    players.answerText(PlayerScripts::musicInfoScript(), "Song|||Band");
    EXPECT_EQ(scripts.fetchAppleMusicInfo(), std::nullopt);
    EXPECT_TRUE(log.contains(LogLevel::Error, "MediaRemoteService: Invalid Music info format: Song|||Band"));
    // Without artwork on both tries the track still comes.
    players.answerText(PlayerScripts::musicInfoScript(), "Song|||Band|||Album");
    const auto info = scripts.fetchAppleMusicInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->artwork, std::nullopt);
}

TEST_F(PlayerScriptsTest, SpotifyReaderTakesTheFourthPieceAsTheArtworkAddress) {
    players.answerText(PlayerScripts::spotifyInfoScript(), "Song|||Band|||Album|||https://i.example/cover.png");
    auto info = scripts.fetchSpotifyInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bundleIdentifier, QStringLiteral("com.spotify.client"));
    ASSERT_TRUE(info->artwork);
    EXPECT_EQ(urls, QList<QUrl>{QUrl("https://i.example/cover.png")});

    // A name holding the separator shifts the pieces; no address, no read.
    urls.clear();
    players.answerText(PlayerScripts::spotifyInfoScript(), "A|||B|||Band|||Album");
    info = scripts.fetchSpotifyInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->title, QStringLiteral("A"));
    EXPECT_EQ(info->artwork, std::nullopt);
    players.answerText(PlayerScripts::spotifyInfoScript(), "Song|||Band|||Album|||");
    EXPECT_EQ(scripts.fetchSpotifyInfo()->artwork, std::nullopt);
    EXPECT_EQ(urls.size(), 0);  // "Album" and "" are no addresses

    players.answerText(PlayerScripts::spotifyInfoScript(), "Song|||Band");
    EXPECT_EQ(scripts.fetchSpotifyInfo(), std::nullopt);
    players.answerText(PlayerScripts::spotifyInfoScript(), "NOT_PLAYING");
    EXPECT_EQ(scripts.fetchSpotifyInfo(), std::nullopt);
    EXPECT_TRUE(log.matching("MediaRemoteService: Invalid").isEmpty());
}

TEST(PlayerScriptsUrl, ReadsPlainLocalFilesOnly) {
    QTemporaryDir dir;
    ASSERT_TRUE(testsupport::writeFile(dir.filePath("cover.png"), png(8, 8)));
    EXPECT_EQ(PlayerScripts::readUrl(QUrl::fromLocalFile(dir.filePath("cover.png"))), png(8, 8));
    EXPECT_EQ(PlayerScripts::readUrl(QUrl::fromLocalFile(dir.path())), std::nullopt);
    EXPECT_EQ(PlayerScripts::readUrl(QUrl::fromLocalFile("/proc/self/pagemap")), std::nullopt);  // endless
    EXPECT_EQ(PlayerScripts::readUrl(QUrl::fromLocalFile(dir.filePath("missing.png"))), std::nullopt);
    EXPECT_EQ(PlayerScripts::readUrl(QUrl("ftp://example.com/x.png")), std::nullopt);
}

TEST(PlayerScriptsUrl, AWebCoverIsReadWithinItsDeadlineAndSize) {
    using testsupport::LoopbackHttpServer;
    // Served by this thread's loop, which the blocking read runs.
    LoopbackHttpServer server([](const QString& path) {
        if (path == "/cover.png") return LoopbackHttpServer::ok(png(8, 8));
        if (path == "/trickle") return LoopbackHttpServer::stream(200, 1, 0.05);  // 10 s, a byte at a time
        if (path == "/huge") return LoopbackHttpServer::stream(PlayerScripts::kMaxLocalArtworkBytes + (1 << 20));
        return LoopbackHttpServer::status(404);
    });
    ASSERT_TRUE(server.isListening());
    EXPECT_EQ(PlayerScripts::readUrl(QUrl(server.url("/cover.png")), 5.0), png(8, 8));
    EXPECT_EQ(PlayerScripts::readUrl(QUrl(server.url("/trickle")), 0.5), std::nullopt);
    EXPECT_EQ(PlayerScripts::readUrl(QUrl(server.url("/huge")), 30.0), std::nullopt);
}
