// The helper's reply lines and request handling, and how the bridge reads a reply back.

#include "music/media_remote_snapshot.h"
#include "music/nowplaying_helper/helper_reply.h"
#include "music/nowplaying_helper/now_playing_helper.h"
#include "music/nowplaying_helper/seek_timeline.h"

#include <QBuffer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

QJsonObject parse(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    return document.object();
}

QByteArray pngBytes(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(200, 30, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

class ScriptedSource final : public NowPlayingHelperSource {
public:
    std::optional<HelperQueryReply> reply = HelperQueryReply{};
    bool commandResult = true;
    std::vector<uint32_t> commands;
    int queries = 0;

    std::optional<HelperQueryReply> query() override {
        ++queries;
        return reply;
    }
    bool sendCommand(uint32_t command) override {
        commands.push_back(command);
        return commandResult;
    }
    std::optional<HelperLyricsReply> lyrics(const QString& player) override {
        settings << QStringLiteral("lyrics ") + player;
        return lyricsReply;
    }
    bool setShuffle(const QString& player, bool shuffle) override {
        settings << QStringLiteral("shuffle %1 %2").arg(shuffle ? "true" : "false", player);
        return commandResult;
    }
    bool setLoopStatus(const QString& player, const QString& status) override {
        settings << QStringLiteral("loop %1 %2").arg(status, player);
        return commandResult;
    }
    std::optional<HelperLyricsReply> lyricsReply = HelperLyricsReply{};
    QStringList settings;
};

}  // namespace

TEST(HelperReply, NothingPlayingIsTheBareFlagAndMembersComeInOrderWithoutSpacesAndEmptyTextsLeftOut) {
    EXPECT_EQ(HelperQueryReply{}.encode(), "{\"isPlaying\":false}");
    HelperQueryReply reply;
    reply.isPlaying = true;
    reply.title = QStringLiteral("Song");
    reply.artist = QStringLiteral("Band");
    reply.album = QString();  // empty: left out
    reply.bundleIdentifier = QStringLiteral("mockplayer");
    reply.duration = 215.0;
    reply.elapsedTime = 0.5;
    reply.playbackRate = 1.0;
    reply.artworkData = QByteArrayLiteral("\x01\x02\x03\x04");
    EXPECT_EQ(reply.encode(),
              "{\"isPlaying\":true,\"title\":\"Song\",\"artist\":\"Band\",\"bundleIdentifier\":\"mockplayer\","
              "\"duration\":215.0,\"elapsedTime\":0.5,\"playbackRate\":1.0,\"artworkBase64\":\"AQIDBA==\"}");
}

TEST(HelperReply, NumbersInTheirShortestFormAndNonFiniteOnesLeftOut) {
    EXPECT_EQ(helper_reply::jsonNumber(1e-05), "1e-05");
    EXPECT_EQ(helper_reply::jsonNumber(1e16), "1e+16");
    EXPECT_EQ(helper_reply::jsonNumber(0.1), "0.1");
    HelperQueryReply reply;
    reply.duration = std::numeric_limits<double>::infinity();
    reply.elapsedTime = std::numeric_limits<double>::quiet_NaN();
    reply.playbackRate = 0.0;
    EXPECT_EQ(reply.encode(), "{\"isPlaying\":false,\"playbackRate\":0.0}");
}

TEST(HelperReply, EscapesKeepEveryLineValidJson) {
    EXPECT_EQ(helper_reply::jsonString(QStringLiteral("a\\b\"c\nd\re\tf")), "\"a\\\\b\\\"c\\nd\\re\\tf\"");
    // Other control characters as \u00XX; non-ASCII text stays as UTF-8.
    EXPECT_EQ(helper_reply::jsonString(QString::fromUtf8("x\x01y\x1f\x7f" "\xc3\xa9")), "\"x\\u0001y\\u001f\x7f\xc3\xa9\"");

    HelperQueryReply reply;
    reply.isPlaying = true;
    reply.title = QString::fromUtf8("Say \"hi\"\nnow\x02 \xe6\x9b\xb2");
    const QJsonObject object = parse(reply.encode());
    EXPECT_EQ(object.value("title").toString(), *reply.title);
}

TEST(HelperProtocol, AnswersQueriesCommandsAndIgnoresTheRest) {
    ScriptedSource source;
    NowPlayingHelperProtocol protocol(source);
    bool quit = false;

    EXPECT_EQ(protocol.handle(" \tquery\r\n", quit), std::optional<QByteArray>("{\"isPlaying\":false}"));
    source.reply.reset();  // the source did not answer in time
    EXPECT_EQ(protocol.handle("query", quit), std::optional<QByteArray>("{\"error\":\"timeout\"}"));

    EXPECT_EQ(protocol.handle("cmd:2", quit), std::optional<QByteArray>("{\"commandResult\":true}"));
    source.commandResult = false;
    EXPECT_EQ(protocol.handle("cmd:4", quit), std::optional<QByteArray>("{\"commandResult\":false}"));
    EXPECT_EQ(source.commands, (std::vector<uint32_t>{2, 4}));

    // Not a number: answered false without reaching the source.
    for (const char* line : {"cmd:x", "cmd:", "cmd: 2", "cmd:-1", "cmd:4294967296"}) {
        EXPECT_EQ(protocol.handle(line, quit), std::optional<QByteArray>("{\"commandResult\":false}")) << line;
    }
    EXPECT_EQ(source.commands.size(), 2u);
    EXPECT_EQ(NowPlayingHelperProtocol::parseCommand("4294967295"), std::optional<uint32_t>(4294967295u));

    EXPECT_EQ(protocol.handle("QUERY", quit), std::nullopt);
    EXPECT_EQ(protocol.handle("", quit), std::nullopt);
    EXPECT_FALSE(quit);
    EXPECT_EQ(protocol.handle(" quit\n", quit), std::nullopt);
    EXPECT_TRUE(quit);
}

TEST(HelperProtocol, LyricsAndPlayerSettingsNameThePlayerLastAndRefuseMalformedLines) {
    ScriptedSource source;
    NowPlayingHelperProtocol protocol(source);
    bool quit = false;
    EXPECT_EQ(protocol.handle("lyrics:mpv", quit), std::optional<QByteArray>("{\"found\":false}"));
    source.lyricsReply = HelperLyricsReply{true, QStringLiteral("Song"), QStringLiteral("Band"), QStringLiteral("la\nla")};
    EXPECT_EQ(protocol.handle("lyrics:org.example.Tunes", quit),
              std::optional<QByteArray>("{\"found\":true,\"title\":\"Song\",\"artist\":\"Band\",\"lyrics\":\"la\\nla\"}"));
    source.lyricsReply.reset();
    EXPECT_EQ(protocol.handle("lyrics:mpv", quit), std::optional<QByteArray>("{\"error\":\"timeout\"}"));

    // Lyrics past the limit end with their last whole line, so no half time tag makes them untimed.
    const qsizetype limit = HelperLyricsReply::kMaxLyricsLength;
    QString lyrics;
    for (int i = 0; lyrics.size() <= limit; ++i) {
        lyrics += QStringLiteral("[%1:%2.00] line\n").arg(i / 60).arg(i % 60, 2, 10, QLatin1Char('0'));
    }
    const auto cut = [](const QString& text) {
        return parse(HelperLyricsReply{true, {}, {}, text}.encode()).value("lyrics").toString();
    };
    const QString sent = cut(lyrics);
    EXPECT_LE(sent.size(), limit);
    EXPECT_GT(sent.size(), limit - 20);
    EXPECT_EQ(sent, lyrics.left(sent.size()));
    EXPECT_TRUE(lyrics.at(sent.size()) == QLatin1Char('\n')) << sent.right(20).toStdString();
    EXPECT_EQ(cut(lyrics.left(limit)), lyrics.left(limit));  // within the limit: whole
    EXPECT_EQ(cut(QString(limit + 10, QLatin1Char('a'))).size(), limit);  // one long line: cut where it must be
    EXPECT_EQ(protocol.handle("lyrics:", quit), std::optional<QByteArray>("{\"found\":false}"));

    const auto result = [&](const char* line) { return protocol.handle(line, quit); };
    EXPECT_EQ(result("shuffle:1:mpv"), std::optional<QByteArray>("{\"commandResult\":true}"));
    EXPECT_EQ(result("shuffle:0:a:b"), std::optional<QByteArray>("{\"commandResult\":true}"));
    EXPECT_EQ(result("loop:Track:mpv"), std::optional<QByteArray>("{\"commandResult\":true}"));
    EXPECT_EQ(result("loop:Playlist:x"), std::optional<QByteArray>("{\"commandResult\":true}"));
    for (const char* line : {"shuffle:2:mpv", "shuffle:1:", "shuffle:1", "shuffle:true:mpv", "loop:Once:mpv", "loop:None:",
                             "loop:None", "loop::mpv"}) {
        EXPECT_EQ(result(line), std::optional<QByteArray>("{\"commandResult\":false}")) << line;
    }
    EXPECT_EQ(source.settings, QStringList({"lyrics mpv", "lyrics org.example.Tunes", "lyrics mpv", "shuffle true mpv",
                                            "shuffle false a:b", "loop Track mpv", "loop Playlist x"}));
    EXPECT_FALSE(quit);

    // The shown player's settings travel in the query reply, before the cover.
    HelperQueryReply reply;
    reply.shuffle = false;
    reply.loopStatus = QStringLiteral("Track");
    reply.artworkData = QByteArray("x");
    EXPECT_EQ(reply.encode(), "{\"isPlaying\":false,\"shuffle\":false,\"loopStatus\":\"Track\",\"artworkBase64\":\"eA==\"}");
    reply.artworkData.reset();
    reply.artworkPending = true;
    EXPECT_TRUE(MediaRemoteSnapshot::fromReply(parse(reply.encode())).artworkPending);
    const MediaRemoteSnapshot snapshot = MediaRemoteSnapshot::fromReply(parse(reply.encode()));
    EXPECT_EQ(snapshot.shuffle, false);
    EXPECT_EQ(snapshot.loopStatus, QStringLiteral("Track"));
    EXPECT_EQ(MediaRemoteSnapshot::fromReply(parse("{\"isPlaying\":true,\"shuffle\":\"yes\"}")).shuffle, std::nullopt);
}

TEST(HelperSeekTimeline, AnUnreadablePositionFollowsTheLastSeekAtTheRatesReadAndOnlyInItsTrack) {
    SeekTimeline seeks;
    EXPECT_EQ(seeks.position(":1.5", "song", std::nullopt, 1.0, 0), std::nullopt);
    seeks.seeked(":1.5", 37.0, 1000);
    EXPECT_EQ(seeks.position(":1.6", "song", std::nullopt, 1.0, 1000), std::nullopt);  // another player's
    EXPECT_EQ(seeks.position(":1.5", "song", std::nullopt, 1.0, 1500), 37.5);
    EXPECT_EQ(seeks.position(":1.5", "song", -1.0, 0.0, 3500), 39.5);  // played on, now paused
    EXPECT_EQ(seeks.position(":1.5", "song", std::nullopt, 2.0, 9500), 39.5);
    EXPECT_EQ(seeks.position(":1.5", "song", std::nullopt, 2.0, 10000), 40.5);
    EXPECT_EQ(seeks.position(":1.5", "next", std::nullopt, 1.0, 11000), std::nullopt);
    EXPECT_EQ(seeks.position(":1.5", "song", std::nullopt, 1.0, 12000), std::nullopt);
    // A position the player tells wins, and ends the seek's timeline.
    seeks.seeked(":1.5", 10.0, 12000);
    EXPECT_EQ(seeks.position(":1.5", "song", 20.0, 1.0, 13000), 20.0);
    EXPECT_EQ(seeks.position(":1.5", "song", std::nullopt, 1.0, 14000), std::nullopt);
}

TEST(MediaRemoteSnapshotReading, NothingPlayingFallsBackToNowPlayingAndSaysNil) {
    QString summary;
    const MediaRemoteSnapshot snapshot = MediaRemoteSnapshot::fromReply(parse("{\"isPlaying\":false}"), &summary);
    EXPECT_FALSE(snapshot.isPlaying);
    EXPECT_EQ(snapshot.title, QStringLiteral("Now Playing"));
    EXPECT_EQ(summary, "MediaRemoteHelper: playing=false title=nil artist=nil bundle=nil");
}

TEST(MediaRemoteSnapshotReading, FieldsOfTheWrongKindCountAsAbsent) {
    QString summary;
    const MediaRemoteSnapshot snapshot = MediaRemoteSnapshot::fromReply(
        parse("{\"isPlaying\":1,\"title\":5,\"artist\":\"Band\",\"bundleIdentifier\":\"org.example.web\","
              "\"duration\":\"10\",\"elapsedTime\":3.5,\"playbackRate\":null,\"artworkBase64\":\"not base64!\"}"),
        &summary);
    EXPECT_FALSE(snapshot.isPlaying);
    EXPECT_EQ(snapshot.title, QStringLiteral("org.example.web"));  // the bundle stands in for a title
    EXPECT_EQ(snapshot.artist, QStringLiteral("Band"));
    EXPECT_EQ(snapshot.duration, std::nullopt);
    EXPECT_EQ(snapshot.elapsedTime, 3.5);
    EXPECT_EQ(snapshot.playbackRate, std::nullopt);
    EXPECT_EQ(snapshot.artwork, std::nullopt);
    EXPECT_EQ(summary, "MediaRemoteHelper: playing=false title=nil artist=Band bundle=org.example.web");
}

TEST(MediaRemoteSnapshotReading, WhatTheHelperWritesComesBackUnchanged) {
    HelperQueryReply reply;
    reply.isPlaying = true;
    reply.title = QStringLiteral("Say \"hi\"\r\nback\\slash\ttab");
    reply.album = QStringLiteral("Album");
    reply.playbackRate = 0.0;
    reply.artworkData = pngBytes(300, 300);
    const MediaRemoteSnapshot snapshot = MediaRemoteSnapshot::fromReply(parse(reply.encode()));
    EXPECT_TRUE(snapshot.isPlaying);
    EXPECT_EQ(snapshot.title, reply.title);
    EXPECT_EQ(snapshot.album, QStringLiteral("Album"));
    EXPECT_EQ(snapshot.playbackRate, 0.0);
    ASSERT_TRUE(snapshot.artwork);
    EXPECT_EQ(snapshot.artwork->size(), QSize(300, 300));

    // Through a decoder the same cover gives back the very same image, another cover a new one.
    ArtworkDecoder covers;
    const auto artworkVia = [&] { return MediaRemoteSnapshot::fromReply(parse(reply.encode()), nullptr, &covers).artwork; };
    const qint64 first = artworkVia()->cacheKey();
    EXPECT_EQ(artworkVia()->cacheKey(), first);
    reply.artworkData = pngBytes(200, 200);
    EXPECT_EQ(artworkVia()->size(), QSize(200, 200));

    // Bytes that are no image give no artwork.
    reply.artworkData = QByteArrayLiteral("plain text");
    EXPECT_EQ(MediaRemoteSnapshot::fromReply(parse(reply.encode())).artwork, std::nullopt);
}
