// Web covers on a loopback server in this process: what arrives, what never does, and that a
// query never waits for either.

#include "music/nowplaying_helper/artwork_fetcher.h"
#include "mpris_session.h"
#include "support/loopback_http_server.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using musictest::MprisSession;
using testsupport::LoopbackHttpServer;
using testsupport::spinUntil;

namespace {

const QByteArray kCover = MprisSession::png(64, 64);

LoopbackHttpServer::Reply route(const QString& path) {
    if (path.startsWith("/cover")) return LoopbackHttpServer::ok(kCover);
    if (path == "/endless") return LoopbackHttpServer::stream(qint64(1) << 30);
    if (path == "/stall") return LoopbackHttpServer::Reply{200, {}, {}, LoopbackHttpServer::Reply::Action::Hang};
    if (path == "/trickle") return LoopbackHttpServer::stream(1 << 20, 64, 0.05);
    if (path == "/to-file") return LoopbackHttpServer::redirect("file:///etc/hostname");
    if (path == "/to-cover") return LoopbackHttpServer::redirect("/cover-moved");
    if (path == "/text") return LoopbackHttpServer::ok("<html>not an image</html>");
    if (path == "/huge") return LoopbackHttpServer::ok(kCover + QByteArray(700 * 1024, 'x'));
    if (path == "/busy") return LoopbackHttpServer::status(503);
    return LoopbackHttpServer::status(404);
}

class ArtworkFetcherTest : public ::testing::Test {
protected:
    static ArtworkFetcher::Limits quick() {
        ArtworkFetcher::Limits limits;
        limits.seconds = 0.3;
        return limits;
    }
    // Asks once, lets the fetch end, asks again: what the second query would carry.
    std::optional<QByteArray> settle(ArtworkFetcher& fetcher, const QString& path) {
        const QString address = server.url(path);
        EXPECT_EQ(fetcher.artwork(address), std::nullopt) << "the first query never waits";
        EXPECT_TRUE(spinUntil([&] { return !fetcher.isFetching(address); }, 10)) << path.toStdString();
        return fetcher.artwork(address);
    }

    LoopbackHttpServer server{route};
};

}  // namespace

TEST_F(ArtworkFetcherTest, ACoverArrivesOnTheNextQueryFetchedOnceAndKeptByAddress) {
    ArtworkFetcher fetcher(quick());
    const QString address = server.url("/cover");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(fetcher.artwork(address), std::nullopt);
    // The server answers only when this thread's loop turns: a query that waited for the cover
    // would have come back with it, or with the fetch over.
    EXPECT_TRUE(fetcher.isFetching(address));
    EXPECT_EQ(fetcher.artwork(address), std::nullopt);  // under way: not asked twice
    EXPECT_EQ(fetcher.fetchesStarted(), 1);
    ASSERT_TRUE(spinUntil([&] { return !fetcher.isFetching(address); }));
    std::cout << "[ figure ] loopback cover fetch: " << timer.elapsed() << " ms\n";
    EXPECT_EQ(fetcher.artwork(address), kCover);
    EXPECT_EQ(fetcher.artwork(address), kCover);
    EXPECT_EQ(server.requests(), QStringList{"/cover"});

    // A redirect within http(s) is followed.
    EXPECT_EQ(settle(fetcher, "/to-cover"), kCover);
}

TEST_F(ArtworkFetcherTest, EndlessStalledTricklingRedirectedAwayAndNonImageBodiesGiveNone) {
    ArtworkFetcher fetcher(quick());
    // The stalled and the trickling server would hold a fetch for ever (the trickle for minutes):
    // only the fetch's own limits end them within settle's wait.
    for (const char* path : {"/endless", "/stall", "/trickle", "/to-file", "/text", "/huge", "/missing"})
        EXPECT_EQ(settle(fetcher, path), std::nullopt) << path;
    // The endless body was cut near the byte limit, not read to its end.
    EXPECT_LT(server.streamed(), qint64(64) << 20);
    // A failed address is not asked again at once.
    const int started = fetcher.fetchesStarted();
    EXPECT_EQ(fetcher.artwork(server.url("/stall")), std::nullopt);
    EXPECT_EQ(fetcher.fetchesStarted(), started);
}

TEST_F(ArtworkFetcherTest, OtherSchemesAreNeverFetchedAndTheCacheStaysSmall) {
    ArtworkFetcher::Limits limits = quick();
    limits.cacheEntries = 2;
    limits.retryAfterSeconds = 0;
    ArtworkFetcher fetcher(limits);
    for (const char* address : {"file:///etc/hostname", "ftp://127.0.0.1/cover", "data:image/png;base64,AAAA", "http://",
                                "/cover", ""}) {
        EXPECT_EQ(fetcher.artwork(QString::fromLatin1(address)), std::nullopt) << address;
    }
    EXPECT_EQ(fetcher.fetchesStarted(), 0);
    EXPECT_TRUE(ArtworkFetcher::isWebAddress("HTTPS://covers.example/a.jpg"));

    for (const char* path : {"/cover-1", "/cover-2", "/cover-3"}) EXPECT_EQ(settle(fetcher, path), kCover);
    EXPECT_EQ(fetcher.fetchesStarted(), 3);
    EXPECT_EQ(fetcher.artwork(server.url("/cover-3")), kCover);
    EXPECT_EQ(fetcher.artwork(server.url("/cover-1")), std::nullopt);  // the oldest went
    EXPECT_EQ(fetcher.fetchesStarted(), 4);

    // Without a pause to wait out, a server that did not answer in time, or was briefly failing,
    // is asked again.
    EXPECT_EQ(settle(fetcher, "/stall"), std::nullopt);
    EXPECT_EQ(fetcher.fetchesStarted(), 6);
    EXPECT_EQ(settle(fetcher, "/busy"), std::nullopt);
    EXPECT_EQ(fetcher.fetchesStarted(), 8);
}

TEST_F(ArtworkFetcherTest, AnAnswerThatIsNoCoverIsFetchedOnceWhateverThePause) {
    ArtworkFetcher::Limits limits = quick();
    limits.retryAfterSeconds = 0;
    ArtworkFetcher fetcher(limits);
    // Asked on every poll while the track plays, the same answer would come each time.
    const QStringList paths{"/text", "/huge", "/missing", "/to-file"};
    for (const QString& path : paths) {
        EXPECT_EQ(settle(fetcher, path), std::nullopt) << path.toStdString();
        EXPECT_EQ(fetcher.artwork(server.url(path)), std::nullopt) << path.toStdString();
    }
    EXPECT_EQ(fetcher.fetchesStarted(), paths.size());
    for (const QString& path : paths) EXPECT_EQ(server.requests().count(path), 1) << path.toStdString();
}

TEST(ArtworkSniffing, KnowsTheImageFormatsTheApplicationDecodes) {
    EXPECT_TRUE(ArtworkFetcher::looksLikeImage(kCover));
    EXPECT_TRUE(ArtworkFetcher::looksLikeImage("\xff\xd8\xff\xe0 jpeg"));
    EXPECT_TRUE(ArtworkFetcher::looksLikeImage("GIF89a..."));
    EXPECT_TRUE(ArtworkFetcher::looksLikeImage(QByteArray("RIFF\0\0\0\0WEBPVP8 ", 16)));
    EXPECT_FALSE(ArtworkFetcher::looksLikeImage(QByteArray("RIFF\0\0\0\0WAVEfmt ", 16)));
    EXPECT_FALSE(ArtworkFetcher::looksLikeImage("{\"json\":true}"));
    EXPECT_FALSE(ArtworkFetcher::looksLikeImage(""));
}
