#include "core/wall_clock.h"
#include "test_database_fixture.h"

#include <QFile>

using platform::LogLevel;

namespace {
const QString kPrefix = QStringLiteral("NotificationDatabaseDetector: ");
}

class DatabasePollingTest : public DatabaseDetectorTest {
protected:
    void postTitles(int from, int to) {
        for (int i = from; i <= to; ++i) post("com.example.Mail", QStringLiteral("T%1").arg(i));
    }
    QStringList titles(int from, int to) {
        QStringList out;
        for (int i = from; i <= to; ++i) out << QStringLiteral("T%1").arg(i);
        return out;
    }
};

TEST_F(DatabasePollingTest, ExistingRowsAreSkippedAndABurstPublishesTheNewestTwentyOldestFirst) {
    postTitles(1, 3);
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    EXPECT_TRUE(log.contains(LogLevel::Debug, kPrefix + "Initial watermark [sequoia-record-join-app_id] = 3"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, kPrefix + "Initial watermark [sequoia-record-no-join] = 3"));
    scheduler().advance(2.0);
    EXPECT_TRUE(received.empty());

    postTitles(4, 28);
    scheduler().advance(2.0);
    const QDateTime pollTime = wallClockNow(scheduler());
    EXPECT_EQ(messages(), titles(9, 28));
    EXPECT_TRUE(log.contains(LogLevel::Info, kPrefix + "Processed 20 notifications using query 'sequoia-record-join-app_id'"));
    EXPECT_EQ(log.count(kPrefix + "Selected active query 'sequoia-record-join-app_id'"), 1);

    // The five oldest of the burst are never published, nothing is published twice.
    scheduler().advance(10.0);
    EXPECT_EQ(received.size(), 20u);

    const NotificationSignal& s = received.back();
    EXPECT_EQ(s.confidence, SignalConfidence::strong);
    EXPECT_EQ(s.bundleId, "com.example.Mail");
    EXPECT_EQ(s.sourceHint, "Mail");
    EXPECT_FALSE(s.isCallAlert);
    EXPECT_EQ(s.timestamp, pollTime);
    EXPECT_NE(received.front().id, s.id);
}

TEST_F(DatabasePollingTest, FileEventOnTheWriteAheadLogPollsAtOnce) {
    store();  // kept open: the write-ahead log exists
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    const QString wal = storePath() + "-wal";
    EXPECT_EQ(watcher.watchedPaths(), QStringList{wal});
    EXPECT_TRUE(log.contains(LogLevel::Info, kPrefix + "Using file monitoring for real-time detection"));

    post("com.example.Mail", "Hello");
    ASSERT_EQ(watcher.fire(wal), 1);
    EXPECT_EQ(messages(), QStringList{"Hello"});
    EXPECT_TRUE(log.contains(LogLevel::Debug,
                             kPrefix + "Database file changed (" + wal + "), checking for new notifications"));

    // An event and a timer tick together: the second poll finds nothing new.
    post("com.example.Mail", "Again");
    watcher.fire(wal);
    scheduler().advance(2.0);
    EXPECT_EQ(messages(), (QStringList{"Hello", "Again"}));

    // Without an event the timer finds a row within its 2.0 s period, not before.
    post("com.example.Mail", "Late");
    scheduler().advance(1.9);
    EXPECT_EQ(received.size(), 2u);
    scheduler().advance(0.1);
    EXPECT_EQ(received.size(), 3u);
}

TEST_F(DatabasePollingTest, WithoutWriteAheadLogTheStoreItselfIsWatched) {
    execute(storePath(), "CREATE TABLE record (data BLOB)");  // rollback journal: no log file
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    EXPECT_EQ(watcher.watchedPaths().join(","), storePath());
}

TEST_F(DatabasePollingTest, UnwatchableFilePollsEveryThreeTenthsOfASecond) {
    store();
    watcher.failFor(storePath() + "-wal");
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    EXPECT_TRUE(log.contains(LogLevel::Warning, kPrefix + "Failed to open file descriptor for monitoring"));
    EXPECT_TRUE(log.contains(LogLevel::Warning, kPrefix + "File monitoring failed, using polling only"));
    EXPECT_FALSE(detector->isFileMonitored());

    post("com.example.Mail", "Polled");
    scheduler().advance(0.29);
    EXPECT_TRUE(received.empty());
    scheduler().advance(0.01);
    EXPECT_EQ(messages(), QStringList{"Polled"});
}

TEST_F(DatabasePollingTest, DroppedJoinTableMovesToTheNoJoinCandidate) {
    store();
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    post("com.example.Mail", "Joined");
    scheduler().advance(2.0);
    ASSERT_EQ(messages(), QStringList{"Joined"});

    execute(storePath(), "DROP TABLE app");
    ASSERT_TRUE(store().appendRecordWithoutApp(notificationstore::encodePropertyList(
        notificationstore::notificationRecord("com.example.Notes", QStringLiteral("Unjoined")))));
    scheduler().advance(2.0);

    EXPECT_TRUE(log.contains(LogLevel::Debug,
                             kPrefix + "Query 'sequoia-record-join-app_id' prepare failed: no such table: app"));
    EXPECT_TRUE(log.contains(LogLevel::Info, kPrefix + "Selected active query 'sequoia-record-no-join'"));
    // The other candidate keeps its own watermark from start, so the row already published
    // through the join comes again; the bundle now comes from the record itself.
    EXPECT_EQ(messages(), (QStringList{"Joined", "Joined", "Unjoined"}));
    EXPECT_EQ(received.back().bundleId, "com.example.Notes");

    // Nothing prepares any more: the active query is cleared, once.
    execute(storePath(), "DROP TABLE record");
    scheduler().advance(4.0);
    EXPECT_EQ(log.count(kPrefix + "No query candidate matched; clearing active query"), 1);
}

TEST_F(DatabasePollingTest, RowIdsBelowTheWatermarkArePassedOver) {
    postTitles(1, 5);
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    execute(storePath(), "DELETE FROM record");  // the store starts again from row id 1
    postTitles(6, 11);                           // row ids 1 to 6
    scheduler().advance(2.0);
    EXPECT_EQ(messages(), QStringList{"T11"});
}

TEST_F(DatabasePollingTest, LegacyRowsUseTheBodyWhenTheTitleIsMissing) {
    execute(storePath(), "CREATE TABLE notifications (record_id INTEGER PRIMARY KEY, app_id, title, body, bundle_id);"
                         "INSERT INTO notifications (title, bundle_id) VALUES ('old', 'com.example.Old');");
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    execute(storePath(), "INSERT INTO notifications (title, body, bundle_id) VALUES (NULL, 'Body only', 'com.example.Chat');"
                         "INSERT INTO notifications (title, body, bundle_id) VALUES ('Title', 'Body', NULL);");
    scheduler().advance(2.0);
    EXPECT_EQ(messages(), (QStringList{"Body only", "Title"}));
    EXPECT_EQ(received[0].sourceHint, "Chat");
    EXPECT_FALSE(received[1].bundleId);
    EXPECT_TRUE(log.contains(kPrefix + "Processed 2 notifications using query 'legacy-notifications-record_id'"));
}

TEST_F(DatabasePollingTest, UnopenableStoreIsRetriedAtTheNextTrigger) {
    store();
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    closeStore();
    QFile::rename(storePath(), storePath() + ".moved");
    scheduler().advance(2.0);
    EXPECT_TRUE(log.contains(LogLevel::Debug, kPrefix + "Failed to open db in poll: unable to open database file"));
    QFile::rename(storePath() + ".moved", storePath());
    post("com.example.Mail", "Back");
    scheduler().advance(2.0);
    EXPECT_EQ(messages(), QStringList{"Back"});
}

TEST_F(DatabasePollingTest, StopTwiceLogsStoppedTwiceAndLeavesNothingBehind) {
    store();
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    EXPECT_EQ(watcher.activeWatchCount(), 1);
    detector->stop();
    detector->stop();
    EXPECT_EQ(log.count(kPrefix + "Stopped"), 2);
    EXPECT_EQ(watcher.activeWatchCount(), 0);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
    EXPECT_FALSE(detector->databasePath());

    post("com.example.Mail", "After stop");
    watcher.fire(storePath() + "-wal");
    scheduler().advance(5.0);
    EXPECT_TRUE(received.empty());
}

TEST_F(DatabasePollingTest, DestroyedWhileRunningReleasesTimerAndWatchWithoutStoppedLine) {
    store();
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    detector.reset();
    EXPECT_EQ(watcher.activeWatchCount(), 0);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
    EXPECT_EQ(log.count(kPrefix + "Stopped"), 0);
    post("com.example.Mail", "Orphan");
    scheduler().advance(5.0);
    EXPECT_TRUE(received.empty());
}

TEST_F(DatabasePollingTest, SubscriberMayDestroyTheDetectorWhilePublishing) {
    store();
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    auto stopper = bus.signalSubject.sink([&](const NotificationSignal&) { detector.reset(); });
    postTitles(1, 3);
    watcher.fire(storePath() + "-wal");
    EXPECT_EQ(messages(), QStringList{"T1"});
    EXPECT_FALSE(detector);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
}
