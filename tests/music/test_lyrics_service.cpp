// The lyrics service on virtual time with scripted players: the line index, the fetch per track
// and its cache, the once-a-second record, and races between fetches.

#include "music/lyrics_service.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>

using platform::LogLevel;

namespace {

// Players that answer each lyrics request with the next queued text (none when the queue is empty).
class ScriptedLyrics final : public TrackLyricsSource {
public:
    void enqueue(std::optional<QString> text) {
        std::lock_guard lock(mutex_);
        answers_.push_back(std::move(text));
    }
    std::optional<QString> lyricsFor(const NowPlayingInfo& track) override {
        std::function<void()> hook;
        std::optional<QString> answer;
        {
            std::lock_guard lock(mutex_);
            asked_ << track.title.value_or(QString());
            hook = std::exchange(during, nullptr);
            if (!answers_.empty()) {
                answer = answers_.front();
                answers_.pop_front();
            }
        }
        if (hook) hook();
        return answer;
    }
    QStringList asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }
    std::function<void()> during;  // runs inside the next request

private:
    mutable std::mutex mutex_;
    std::deque<std::optional<QString>> answers_;
    QStringList asked_;
};

// The now-playing service's reads of the player's position, sent by the test.
class ReadPositions final : public PlayPositionSource {
public:
    platform::AnyCancellable onPlayPosition(std::function<void(const PlayPosition&)> read) override {
        return reads.sink(std::move(read));
    }
    platform::PassthroughSubject<PlayPosition> reads;
};

NowPlayingInfo track(const QString& title, std::optional<QString> artist, std::optional<double> duration = std::nullopt,
                     std::optional<double> elapsed = std::nullopt, double rate = 1.0) {
    NowPlayingInfo info;
    info.title = title;
    info.artist = std::move(artist);
    info.duration = duration;
    info.elapsedTime = elapsed;
    info.playbackRate = rate;
    return info;
}

QString numberedLines(int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i) lines << QStringLiteral("line %1").arg(i);
    return lines.join(QLatin1Char('\n'));
}

class LyricsServiceTest : public testsupport::QuillvexTest {
protected:
    LyricsServiceTest() : bus(scheduler()) {
        recording = bus.lyricsSubject.sink([this](const std::optional<LyricsInfo>& info) { sent.push_back(info); });
        sent.clear();
    }

    LyricsService& makeService() {
        service = std::make_unique<LyricsService>(bus, scheduler(), &players, &positions);
        return *service;
    }
    void play(const std::optional<NowPlayingInfo>& info) {
        bus.nowPlayingSubject.send(info);
        scheduler().drain();
    }
    int fetches() const { return static_cast<int>(players.asked().size()); }

    // A poll's read of the shown track, taken now.
    void read(const char* title, double elapsed, double rate = 1.0) {
        positions.reads.send(PlayPosition{QString::fromUtf8(title), QStringLiteral("Band"), elapsed, rate,
                                          scheduler().monotonicSeconds()});
    }
    int shownLine() const { return bus.lyricsSubject.value() ? bus.lyricsSubject.value()->currentLineIndex.value_or(-1) : -1; }

    EventBus bus;
    ScriptedLyrics players;
    ReadPositions positions;
    std::unique_ptr<LyricsService> service;
    std::vector<std::optional<LyricsInfo>> sent;
    platform::AnyCancellable recording;
};

}  // namespace

TEST(LyricsLineIndex, FollowsElapsedOverDurationAndStaysInRange) {
    EXPECT_EQ(LyricsService::lineIndex(40, track("S", "B", 240, 60)), 10);
    EXPECT_EQ(LyricsService::lineIndex(40, track("S", "B", 240, 300)), 39);
    EXPECT_EQ(LyricsService::lineIndex(40, track("S", "B", 240, 0)), 0);
    EXPECT_EQ(LyricsService::lineIndex(40, track("S", "B", 240, 239.9)), 39);
    // Unknown length (every player-script track), a zero length, a negative position: the first line.
    EXPECT_EQ(LyricsService::lineIndex(40, track("S", "B", std::nullopt, 60)), 0);
    EXPECT_EQ(LyricsService::lineIndex(40, track("S", "B", 0, 60)), 0);
    EXPECT_EQ(LyricsService::lineIndex(40, track("S", "B", 240, -5)), 0);
    EXPECT_EQ(LyricsService::lineIndex(40, track("S", "B", 240, std::nullopt)), 0);
    EXPECT_EQ(LyricsService::lineIndex(40, std::nullopt), 0);
    EXPECT_EQ(LyricsService::lineIndex(1, track("S", "B", 10, 10)), 0);
}

TEST(LyricsLines, KeepsNonBlankLinesAsTheyAreAndSplitsOnlyAtLineFeeds) {
    EXPECT_EQ(LyricsService::splitLines(QStringLiteral("  one \n\n \t \ntwo\t\nthree")),
              (QStringList{QStringLiteral("  one "), QStringLiteral("two\t"), QStringLiteral("three")}));
    EXPECT_EQ(LyricsService::splitLines(QStringLiteral("a\rb\rc")), QStringList{QStringLiteral("a\rb\rc")});
    EXPECT_TRUE(LyricsService::splitLines(QStringLiteral(" \n\t\n\n")).isEmpty());
    EXPECT_EQ(LyricsService::lyricsKey(QStringLiteral("Song"), QStringLiteral("Band")), QStringLiteral("Song:::Band"));
}

TEST(LyricsTimedLines, TakesTheTagsOffOrdersTheLinesByTimeAndLeavesAnyOtherTextUntimed) {
    const auto timed = [](const char* text) { return parseTimedLyrics(LyricsService::splitLines(QString::fromUtf8(text))); };
    // Header lines are no lyric lines; a line with two tags is sung twice; a tag alone marks time.
    const auto lyrics = timed("[ar:Band]\n[ti:Song]\n[length:03:30]\n[by:Someone]\n[00:12.00][01:30.5] chorus \r\n"
                              "[00:01.00]  one\n[00:05.123]two\n[00:20.00]\n[1:40]end\n[999999:59.999]far");
    ASSERT_TRUE(lyrics);
    EXPECT_EQ(lyrics->lines, (QStringList{"one", "two", "chorus", "chorus", "end", "far"}));
    EXPECT_EQ(lyrics->startsMs, (std::vector<qint64>{1000, 5123, 12000, 90500, 100000, 59999999999}));
    const auto bare = timed("[00:01.00]\n[00:02.00]  ");
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->lines.isEmpty());
    // The times of single words go too; other angle brackets are words.
    const auto words = timed("[00:08.00]<00:08.00>One <00:08.40>two<00:09.10>\n[00:10.00] <00:10.00> three <00:10.50> four\n"
                             "[00:12.00]<b>bold</b> <1:02.5>x<y<00:13.00>z <00:1x>\n[00:14.00]<00:14.00>");
    ASSERT_TRUE(words);
    EXPECT_EQ(words->lines, (QStringList{"One two", "three four", "<b>bold</b> x<yz <00:1x>"}));
    EXPECT_EQ(words->startsMs, (std::vector<qint64>{8000, 10000, 12000}));

    // Untagged lines, garbled or absurd times: the text is shown as it is.
    for (const char* text : {"plain\n[00:01.00] tagged", "[Chorus]\n[00:01.00] la", "[00:01.00] a\n[00:1x] b", "[00:01.00 a",
                             "[99999999:99] a", "[99999999999999999999:00] a", "[00:75.00] a", "[00:01.00][00:02.00x] a",
                             "[ar:Band]\nwords", "[ar:Band]"}) {
        EXPECT_FALSE(timed(text)) << text;
    }

    const std::vector<qint64> starts{1000, 2000, 2000, 5000};
    EXPECT_EQ(timedLineIndex(starts, 0.5), 0);
    EXPECT_EQ(timedLineIndex(starts, 1.5), 0);
    EXPECT_EQ(timedLineIndex(starts, 2.0), 2);
    EXPECT_EQ(timedLineIndex(starts, 4.99), 2);
    EXPECT_EQ(timedLineIndex(starts, 1e300), 3);
    EXPECT_EQ(timedLineIndex(starts, std::nullopt), 0);
    // Lines of the first second are followed too.
    EXPECT_EQ(timedLineIndex({0, 400, 900}, 0.5), 1);
}

TEST(LyricsTimedLines, TheHeadersOffsetShowsEveryLineEarlierWhenPositiveAndLaterWhenNegative) {
    const auto starts = [](const char* offset) {
        const auto timed = parseTimedLyrics(LyricsService::splitLines(
            QString::fromUtf8(offset) + QStringLiteral("\n[00:01.00] one\n[00:10.00] ten")));
        return timed ? timed->startsMs : std::vector<qint64>{};
    };
    EXPECT_EQ(starts("[offset:+3000]"), (std::vector<qint64>{-2000, 7000}));
    EXPECT_EQ(timedLineIndex(starts("[offset:+3000]"), 7.0), 1);
    EXPECT_EQ(starts("[offset:-500]"), (std::vector<qint64>{1500, 10500}));
    EXPECT_EQ(starts("[Offset: 250 ]"), (std::vector<qint64>{750, 9750}));
    EXPECT_EQ(starts("[offset:soon]"), (std::vector<qint64>{1000, 10000}));
}

TEST_F(LyricsServiceTest, FetchesOncePerTrackAndPublishesTheCurrentLineEverySecond) {
    LyricsService& s = makeService();
    players.enqueue(numberedLines(40));
    bus.nowPlayingSubject.send(track("Song", "Band", 240, 60));
    s.start();
    EXPECT_TRUE(log.contains(LogLevel::Info, "LyricsService: Started"));
    EXPECT_EQ(fetches(), 0);  // the current track is handled on the next turn of the main queue
    scheduler().drain();

    EXPECT_EQ(players.asked(), QStringList{"Song"});  // the shown track's player is asked
    EXPECT_TRUE(log.contains(LogLevel::Info, "LyricsService: Fetched 40 lines for Song"));
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_TRUE(sent.back());
    EXPECT_EQ(sent.back()->lines.size(), 40);
    EXPECT_EQ(sent.back()->fullText, numberedLines(40));
    EXPECT_EQ(sent.back()->currentLineIndex, 10);

    sent.clear();
    scheduler().advance(0.99);
    EXPECT_TRUE(sent.empty());
    scheduler().advance(0.01);
    EXPECT_EQ(sent.size(), 1u);
    scheduler().advance(2.0);
    EXPECT_EQ(sent.size(), 3u);  // also when nothing changed

    // The same track republished (position moved) is no new track; the index follows it.
    bus.nowPlayingSubject.send(track("Song", "Band", 240, 300, 0.0));
    scheduler().advance(1.0);
    EXPECT_EQ(fetches(), 1);
    EXPECT_FALSE(log.contains("LyricsService: Using cached lyrics for Song"));
    EXPECT_EQ(sent.back()->currentLineIndex, 39);

    // Back to a track already fetched: the cache answers.
    players.enqueue(QStringLiteral("x"));
    play(track("Other", "Band"));
    play(track("Song", "Band"));
    EXPECT_EQ(fetches(), 2);
    EXPECT_TRUE(log.contains(LogLevel::Debug, "LyricsService: Using cached lyrics for Song"));
    EXPECT_EQ(sent.back()->lines.size(), 40);
    EXPECT_EQ(sent.back()->currentLineIndex, 0);  // no duration
}

TEST_F(LyricsServiceTest, OnlyTheLastOfTwoTrackChangesWithinOneFetchIsKept) {
    LyricsService& s = makeService();
    s.start();
    scheduler().drain();
    players.enqueue(QStringLiteral("first a\nfirst b"));
    players.enqueue(QStringLiteral("second"));
    bus.nowPlayingSubject.send(track("First", "Band"));
    bus.nowPlayingSubject.send(track("Second", "Band"));
    scheduler().drain();

    EXPECT_EQ(fetches(), 2);
    EXPECT_FALSE(s.hasCachedLyrics(QStringLiteral("First:::Band")));
    EXPECT_TRUE(s.hasCachedLyrics(QStringLiteral("Second:::Band")));
    EXPECT_TRUE(log.matching("LyricsService: Fetched").contains("LyricsService: Fetched 1 lines for Second"));
    EXPECT_EQ(log.matching("LyricsService: Fetched").size(), 1);
    ASSERT_TRUE(bus.lyricsSubject.value());
    EXPECT_EQ(bus.lyricsSubject.value()->lines, QStringList{QStringLiteral("second")});
}

TEST_F(LyricsServiceTest, StopClearsEverythingAndStartFetchesAgain) {
    LyricsService& s = makeService();
    players.enqueue(QStringLiteral("la"));
    bus.nowPlayingSubject.send(track("Song", "Band"));
    s.start();
    scheduler().drain();
    ASSERT_TRUE(bus.lyricsSubject.value());

    s.stop();
    EXPECT_FALSE(bus.lyricsSubject.value());
    EXPECT_FALSE(s.isPolling());
    EXPECT_FALSE(s.currentTrackKey());
    EXPECT_FALSE(s.hasCachedLyrics(QStringLiteral("Song:::Band")));
    EXPECT_TRUE(log.contains(LogLevel::Info, "LyricsService: Stopped"));
    sent.clear();
    scheduler().advance(3.0);
    EXPECT_TRUE(sent.empty());

    players.enqueue(QStringLiteral("la"));
    s.start();
    scheduler().drain();
    EXPECT_EQ(fetches(), 2);
    ASSERT_TRUE(bus.lyricsSubject.value());
}

TEST_F(LyricsServiceTest, AFetchUnderWayWhenTheServiceRestartsIsDropped) {
    // The player restarts the service while the first fetch is running.
    makeService();
    players.enqueue(QStringLiteral("words"));
    players.enqueue(QStringLiteral("words"));
    players.during = [this] {
        service->stop();
        service->start();
    };
    service->start();
    play(track("Song", "Band"));
    // Only the fetch of the new run is taken.
    EXPECT_EQ(log.matching("LyricsService: Fetched").size(), 1);
    EXPECT_TRUE(service->hasCachedLyrics(QStringLiteral("Song:::Band")));
    ASSERT_TRUE(bus.lyricsSubject.value());
}

TEST_F(LyricsServiceTest, BlankLyricsMissingArtistsEmptyAnswersAndSilentPlayersSendNoneInsteadOfThePreviousTracks) {
    LyricsService& s = makeService();
    s.start();
    players.enqueue(QStringLiteral("la la"));
    play(track("Song", "Band"));
    ASSERT_TRUE(bus.lyricsSubject.value());

    players.enqueue(QStringLiteral(" \n\t\n"));
    play(track("Blank", "Band"));
    EXPECT_TRUE(log.contains(LogLevel::Info, "LyricsService: Fetched 0 lines for Blank"));
    EXPECT_FALSE(bus.lyricsSubject.value());
    sent.clear();
    scheduler().advance(2.0);
    EXPECT_TRUE(sent.empty());

    // Coming back from the cache, the blank track still shows none.
    play(track("Song", "Band"));
    ASSERT_TRUE(bus.lyricsSubject.value());
    play(track("Blank", "Band"));
    EXPECT_EQ(fetches(), 2);
    EXPECT_FALSE(bus.lyricsSubject.value());

    // A missing artist, an empty answer and a script error send none too.
    play(track("Song", "Band"));
    ASSERT_TRUE(bus.lyricsSubject.value());
    play(track("Browser video", std::nullopt));
    EXPECT_FALSE(bus.lyricsSubject.value());
    EXPECT_FALSE(s.currentTrackKey());
    EXPECT_EQ(fetches(), 2);

    players.enqueue(QString());
    play(track("Quiet", "Band"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, "LyricsService: No lyrics available for Quiet"));
    EXPECT_FALSE(s.hasCachedLyrics(QStringLiteral("Quiet:::Band")));

    players.enqueue(std::nullopt);  // the player has none, or did not answer
    play(track("Broken", "Band"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, "LyricsService: No lyrics available for Broken"));

    // Nothing cached: the next change to the track asks again.
    players.enqueue(QStringLiteral("now"));
    play(std::nullopt);
    play(track("Quiet", "Band"));
    EXPECT_TRUE(s.hasCachedLyrics(QStringLiteral("Quiet:::Band")));
}

TEST_F(LyricsServiceTest, TheSecondsTickRunsOnlyWhileTheTrackHasLinesAndKeepsTheGridOfStart) {
    LyricsService& s = makeService();
    s.start();  // the second's grid: 1, 2, 3, ...
    scheduler().drain();
    EXPECT_TRUE(s.isPolling());
    EXPECT_FALSE(s.isTicking());  // nothing plays
    EXPECT_EQ(scheduler().pendingCount(), 0u);

    // A track without lyrics: still nothing to tick for.
    scheduler().advance(0.2);
    play(track("Silent", "Band"));
    EXPECT_FALSE(s.isTicking());

    // Lines arrive at 0.5: one record at once, then on the grid, at 1.0 and 2.0.
    scheduler().advance(0.3);
    players.enqueue(QStringLiteral("one\ntwo"));
    play(track("Song", "Band"));
    EXPECT_TRUE(s.isTicking());
    std::vector<double> times;
    platform::AnyCancellable timing = bus.lyricsSubject.sink([&](const std::optional<LyricsInfo>& info) {
        if (info) times.push_back(scheduler().elapsed());
    });
    times.clear();
    scheduler().advance(1.6);
    ASSERT_EQ(times.size(), 2u);
    EXPECT_NEAR(times[0], 1.0, 1e-6);
    EXPECT_NEAR(times[1], 2.0, 1e-6);

    // Nothing plays, then the cached track again at 2.4: a record at once, the next at 3.0.
    play(std::nullopt);
    EXPECT_FALSE(s.isTicking());
    scheduler().advance(0.3);
    times.clear();
    play(track("Song", "Band"));
    scheduler().advance(0.7);
    ASSERT_EQ(times.size(), 2u);
    EXPECT_NEAR(times[0], 2.4, 1e-6);
    EXPECT_NEAR(times[1], 3.0, 1e-6);

    // Blank lyrics cache an empty list: nothing to tick for.
    players.enqueue(QStringLiteral(" \n"));
    play(track("Blank", "Band"));
    EXPECT_TRUE(s.hasCachedLyrics(QStringLiteral("Blank:::Band")));
    EXPECT_FALSE(s.isTicking());
    s.stop();
    EXPECT_FALSE(s.isPolling());
}

TEST_F(LyricsServiceTest, TheLineFollowsTheClockFromTheLastPublishedPositionAtTheTracksRate) {
    // The track is published again only when more than its position changes: the line must move
    // on with the clock between publications.
    LyricsService& s = makeService();
    players.enqueue(numberedLines(40));  // one line per 6 s of a 240 s track
    bus.nowPlayingSubject.send(track("Song", "Band", 240, 61));
    s.start();
    scheduler().drain();
    ASSERT_TRUE(bus.lyricsSubject.value());
    EXPECT_EQ(bus.lyricsSubject.value()->currentLineIndex, 10);
    scheduler().advance(30.0);
    EXPECT_EQ(bus.lyricsSubject.value()->currentLineIndex, 15);  // 91 s

    // Paused: the position stays where the pause left it.
    bus.nowPlayingSubject.send(track("Song", "Band", 240, 97, 0.0));
    scheduler().advance(30.0);
    EXPECT_EQ(bus.lyricsSubject.value()->currentLineIndex, 16);

    // Twice as fast, from the position the resumed track brings.
    bus.nowPlayingSubject.send(track("Song", "Band", 240, 121, 2.0));
    scheduler().advance(30.0);
    EXPECT_EQ(bus.lyricsSubject.value()->currentLineIndex, 30);  // 181 s
    EXPECT_EQ(fetches(), 1);

    // Past the end of the track the last line stays.
    scheduler().advance(600.0);
    EXPECT_EQ(bus.lyricsSubject.value()->currentLineIndex, 39);
}

TEST_F(LyricsServiceTest, TimedLyricsShowWithoutTheirTagsAndTheLineWhoseTimeHasCome) {
    LyricsService& s = makeService();
    players.enqueue(QStringLiteral("[ti:Song]\n[00:00.50] Line number 1\n[00:02.00] Line number 2\n[00:30.00] Line number 3"));
    bus.nowPlayingSubject.send(track("Song", "Band", 240, 0));
    s.start();
    scheduler().drain();
    EXPECT_TRUE(log.contains(LogLevel::Info, "LyricsService: Fetched 3 lines for Song"));
    ASSERT_TRUE(bus.lyricsSubject.value());
    EXPECT_EQ(bus.lyricsSubject.value()->lines, (QStringList{"Line number 1", "Line number 2", "Line number 3"}));
    EXPECT_EQ(bus.lyricsSubject.value()->fullText, QStringLiteral("Line number 1\nLine number 2\nLine number 3"));
    EXPECT_EQ(bus.lyricsSubject.value()->currentLineIndex, 0);  // before the first tag

    // Position over length would stay on the first line for the first 80 s.
    scheduler().advance(3.0);
    EXPECT_EQ(bus.lyricsSubject.value()->currentLineIndex, 1);
    scheduler().advance(27.0);
    EXPECT_EQ(bus.lyricsSubject.value()->currentLineIndex, 2);
    // The tags need no length.
    bus.nowPlayingSubject.send(track("Song", "Band", std::nullopt, 10, 0.0));
    scheduler().advance(1.0);
    EXPECT_EQ(bus.lyricsSubject.value()->currentLineIndex, 1);
    EXPECT_EQ(fetches(), 1);
}

TEST_F(LyricsServiceTest, APositionReadAfterASeekShowsItsLineAtOnceForUntimedAndTimedLyrics) {
    // The now-playing service publishes no seek (the track is the same); its polls read it.
    LyricsService& s = makeService();
    players.enqueue(numberedLines(40));  // one line per 6 s of a 240 s track
    bus.nowPlayingSubject.send(track("Song", "Band", 240, 61));
    s.start();
    scheduler().drain();
    ASSERT_EQ(shownLine(), 10);
    scheduler().advance(0.5);
    sent.clear();
    read("Song", 3.0);  // sought back to the start
    ASSERT_EQ(sent.size(), 1u);  // not at the next tick
    EXPECT_EQ(shownLine(), 0);
    read("Song", 3.2);
    EXPECT_EQ(sent.size(), 1u);  // the same line: sent at the tick only
    scheduler().advance(9.5);    // on from the read: 12.7 s
    EXPECT_EQ(shownLine(), 2);
    read("Song", 200.0, 0.0);  // sought forward while paused
    EXPECT_EQ(shownLine(), 33);
    scheduler().advance(10.0);
    EXPECT_EQ(shownLine(), 33);
    read("Other", 6.0);  // a read of a track not shown moves nothing
    scheduler().advance(1.0);
    EXPECT_EQ(shownLine(), 33);
    // The track published again brings its own position.
    bus.nowPlayingSubject.send(track("Song", "Band", 240, 7, 1.0));
    scheduler().advance(1.0);
    EXPECT_EQ(shownLine(), 1);

    players.enqueue(QStringLiteral("[00:00.00] zero\n[00:10.00] ten\n[00:20.00] twenty\n[00:30.00] thirty"));
    play(track("Timed", "Band", std::nullopt, 15));
    ASSERT_EQ(shownLine(), 1);
    read("Timed", 26.0);
    EXPECT_EQ(shownLine(), 2);
    read("Timed", 3.0);
    EXPECT_EQ(shownLine(), 0);
    scheduler().advance(7.0);
    EXPECT_EQ(shownLine(), 1);
    EXPECT_EQ(fetches(), 2);
}
