#include "core/wall_clock.h"
#include "test_database_fixture.h"

#include <QFile>

#include <sqlite3.h>

#include <utility>

class DatabasePollingTest : public DatabaseDetectorTest {
protected:
    void postTitles(int from, int to) {
        for (int i = from; i <= to; ++i) post("com.example.Mail", QStringLiteral("T%1").arg(i));
    }
};

TEST_F(DatabasePollingTest, ExistingRowsAreSkippedAndABurstPublishesTheNewestTwentyOldestFirst) {
    postTitles(1, 3);
    auto detector = startedDetector();
    EXPECT_TRUE(logged(LogLevel::Debug, "Initial watermark [sequoia-record-join-app_id] = 3"));
    EXPECT_TRUE(logged(LogLevel::Debug, "Initial watermark [sequoia-record-no-join] = 3"));
    scheduler().advance(2.0);
    EXPECT_TRUE(received.empty());

    postTitles(4, 28);
    scheduler().advance(2.0);
    const QDateTime pollTime = wallClockNow(scheduler());
    QStringList newest;
    for (int i = 9; i <= 28; ++i) newest << QStringLiteral("T%1").arg(i);
    EXPECT_EQ(messages(), newest);
    EXPECT_TRUE(logged(LogLevel::Info, "Processed 20 notifications using query 'sequoia-record-join-app_id'"));
    EXPECT_EQ(loggedCount("Selected active query 'sequoia-record-join-app_id'"), 1);

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

TEST_F(DatabasePollingTest, FileEventOnTheWriteAheadLogPollsAtOnceAndTheTimerEveryTwoSeconds) {
    store();  // kept open: the write-ahead log exists
    auto detector = startedDetector();
    EXPECT_EQ(watcher.watchedPaths(), QStringList{walPath()});
    EXPECT_TRUE(logged(LogLevel::Info, "Using file monitoring for real-time detection"));

    post("com.example.Mail", "Hello");
    ASSERT_EQ(watcher.fire(walPath()), 1);
    EXPECT_EQ(messages(), QStringList{"Hello"});
    EXPECT_TRUE(logged(LogLevel::Debug, "Database file changed (" + walPath() + "), checking for new notifications"));

    // An event and a timer tick together: the second poll finds nothing new.
    post("com.example.Mail", "Again");
    watcher.fire(walPath());
    scheduler().advance(2.0);
    EXPECT_EQ(messages(), (QStringList{"Hello", "Again"}));

    post("com.example.Mail", "Late");
    scheduler().advance(1.9);
    EXPECT_EQ(received.size(), 2u);
    scheduler().advance(0.1);
    EXPECT_EQ(received.size(), 3u);
}

// Counts the connections SQLite opens on the store in this process, read-only or not, by standing
// in for the default file system layer while it lives.
class StoreOpenCounter {
public:
    explicit StoreOpenCounter(QString path) : path_(QFile::encodeName(path)), base_(sqlite3_vfs_find(nullptr)) {
        counting_ = *base_;
        counting_.zName = "store-open-counter";
        counting_.pNext = nullptr;
        counting_.xOpen = &StoreOpenCounter::open;
        current_ = this;
        sqlite3_vfs_register(&counting_, 1);
    }
    ~StoreOpenCounter() {
        sqlite3_vfs_unregister(&counting_);
        sqlite3_vfs_register(base_, 1);
        current_ = nullptr;
    }
    // Opens since the last call: {read-only, any other}.
    std::pair<int, int> take() { return {std::exchange(readOnly_, 0), std::exchange(other_, 0)}; }

private:
    static int open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
        StoreOpenCounter* self = current_;
        if (name && (flags & SQLITE_OPEN_MAIN_DB) && self->path_ == name)
            ++((flags & SQLITE_OPEN_READONLY) ? self->readOnly_ : self->other_);
        return self->base_->xOpen(self->base_, name, file, flags, outFlags);
    }

    static inline StoreOpenCounter* current_ = nullptr;
    QByteArray path_;
    sqlite3_vfs* base_;
    sqlite3_vfs counting_{};
    int readOnly_ = 0;
    int other_ = 0;
};

// A poll is one read-only connection and nothing beside it: at rest as after a change.
TEST_F(DatabasePollingTest, EveryTickAndEveryNoticeOpensTheStoreOnceReadOnly) {
    store();
    auto detector = startedDetector();
    StoreOpenCounter opens(storePath());
    for (int tick = 1; tick <= 20; ++tick) {
        scheduler().advance(2.0);
        ASSERT_EQ(opens.take(), std::make_pair(1, 0)) << "tick " << tick;
    }

    post("com.example.Mail", "Hello");
    watcher.fire(walPath());
    EXPECT_EQ(messages(), QStringList{"Hello"});
    EXPECT_EQ(opens.take(), std::make_pair(1, 0));
    EXPECT_EQ(scheduler().pendingCount(), 1u);  // the timer, nothing more
}

// A writer that syncs at every commit makes its change notice before the commit is visible; the
// timer is what reads it then, once.
TEST_F(DatabasePollingTest, ANoticeBeforeTheCommitIsVisibleLeavesTheRowToTheNextTick) {
    store();
    auto detector = startedDetector();
    ASSERT_TRUE(store().execute("BEGIN"));
    post("com.example.Mail", "Synced");
    watcher.fire(walPath());
    ASSERT_TRUE(store().execute("COMMIT"));
    EXPECT_EQ(scheduler().pendingCount(), 1u);
    scheduler().advance(1.9);
    EXPECT_TRUE(received.empty());
    scheduler().advance(0.1);
    EXPECT_EQ(messages(), QStringList{"Synced"});
    watcher.fire(walPath());
    scheduler().advance(2.0);
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(DatabasePollingTest, WithoutALogTheStoreIsWatchedAndAnUnwatchableFileIsPolledEveryThreeTenths) {
    execute(storePath(), "CREATE TABLE record (data BLOB)");  // rollback journal: no log file
    {
        auto detector = startedDetector();
        EXPECT_EQ(watcher.watchedPaths(), QStringList{storePath()});
    }

    watcher.failFor(storePath());
    auto detector = startedDetector();
    EXPECT_TRUE(logged(LogLevel::Warning, "Failed to open file descriptor for monitoring"));
    EXPECT_TRUE(logged(LogLevel::Warning, "File monitoring failed, using polling only"));
    execute(storePath(), "INSERT INTO record (data) VALUES (NULL)");
    scheduler().advance(0.29);
    EXPECT_TRUE(received.empty());
    scheduler().advance(0.01);
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(DatabasePollingTest, DroppedJoinTableMovesToTheNoJoinCandidate) {
    store();
    auto detector = startedDetector();
    post("com.example.Mail", "Joined");
    scheduler().advance(2.0);
    ASSERT_EQ(messages(), QStringList{"Joined"});

    execute(storePath(), "DROP TABLE app");
    ASSERT_TRUE(store().appendRecordWithoutApp(notificationstore::encodePropertyList(
        notificationstore::notificationRecord("com.example.Notes", QStringLiteral("Unjoined")))));
    scheduler().advance(2.0);
    EXPECT_TRUE(logged(LogLevel::Debug, "Query 'sequoia-record-join-app_id' prepare failed: no such table: app"));
    EXPECT_TRUE(logged(LogLevel::Info, "Selected active query 'sequoia-record-no-join'"));
    // The other candidate keeps its own watermark from start, so the row already published
    // through the join comes again; the bundle now comes from the record itself.
    EXPECT_EQ(messages(), (QStringList{"Joined", "Joined", "Unjoined"}));
    EXPECT_EQ(received.back().bundleId, "com.example.Notes");
    scheduler().advance(2.0);  // the active query is tried first from now on
    EXPECT_EQ(loggedCount("Query 'sequoia-record-join-app_id' prepare failed: no such table: app"), 1);

    // Nothing prepares any more: the active query is cleared, once.
    execute(storePath(), "DROP TABLE record");
    scheduler().advance(4.0);
    EXPECT_EQ(loggedCount("No query candidate matched; clearing active query"), 1);
}

TEST_F(DatabasePollingTest, AStoreLockedAcrossAPollIsNoSchemaChange) {
    store();
    auto detector = startedDetector();
    post("com.example.Mail", "Before");
    scheduler().advance(2.0);
    ASSERT_EQ(messages(), QStringList{"Before"});

    // A rollback journal lets one writer's exclusive lock shut readers out, as a checkpoint does.
    closeStore();
    ASSERT_TRUE(SqliteConnection::openReadWriteCreate(storePath()).execute("PRAGMA journal_mode=DELETE"));
    SqliteConnection locker = SqliteConnection::openReadWriteCreate(storePath());
    ASSERT_TRUE(locker.execute("BEGIN EXCLUSIVE"));
    log.clear();
    scheduler().advance(2.0);
    EXPECT_EQ(loggedCount("No query candidate matched; clearing active query"), 0);
    EXPECT_TRUE(log.matching("NotificationDatabaseDetector: Query ").isEmpty());
    ASSERT_TRUE(locker.execute("ROLLBACK"));
    locker.close();

    post("com.example.Mail", "After");
    scheduler().advance(2.0);
    EXPECT_EQ(messages(), (QStringList{"Before", "After"}));
    EXPECT_EQ(loggedCount("Selected active query 'sequoia-record-join-app_id'"), 0);  // it stayed active
}

TEST_F(DatabasePollingTest, LegacyRowsUseTheBodyWhenTheTitleIsMissing) {
    execute(storePath(), "CREATE TABLE notifications (record_id INTEGER PRIMARY KEY, app_id, title, body, bundle_id);"
                         "INSERT INTO notifications (title, bundle_id) VALUES ('old', 'com.example.Old');");
    auto detector = startedDetector();
    execute(storePath(), "INSERT INTO notifications (title, body, bundle_id) VALUES (NULL, 'Body only', 'com.example.Chat');"
                         "INSERT INTO notifications (title, body, bundle_id) VALUES ('Title', 'Body', NULL);");
    scheduler().advance(2.0);
    EXPECT_EQ(messages(), (QStringList{"Body only", "Title"}));
    EXPECT_EQ(received[0].sourceHint, "Chat");
    EXPECT_FALSE(received[1].bundleId);
    EXPECT_TRUE(logged(LogLevel::Info, "Processed 2 notifications using query 'legacy-notifications-record_id'"));
}

TEST_F(DatabasePollingTest, UnopenableStoreIsRetriedAtTheNextTrigger) {
    store();
    auto detector = startedDetector();
    closeStore();
    QFile::rename(storePath(), storePath() + ".moved");
    scheduler().advance(2.0);
    EXPECT_TRUE(logged(LogLevel::Debug, "Failed to open db in poll: unable to open database file"));
    QFile::rename(storePath() + ".moved", storePath());
    post("com.example.Mail", "Back");
    scheduler().advance(2.0);
    EXPECT_EQ(messages(), QStringList{"Back"});
}

TEST_F(DatabasePollingTest, StopTwiceLogsStoppedTwiceAndLeavesNothingBehind) {
    store();
    auto detector = startedDetector();
    detector->stop();
    detector->stop();
    EXPECT_EQ(loggedCount("Stopped"), 2);
    EXPECT_EQ(watcher.activeWatchCount(), 0);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
    EXPECT_FALSE(detector->databasePath());
}

// The timer and the watch must never reach a detector that is gone, also when a subscriber of its
// own signal destroys it in the middle of a poll.
TEST_F(DatabasePollingTest, DestroyedDetectorReleasesTimerAndWatchWithoutStoppedLine) {
    store();
    auto detector = startedDetector();
    detector.reset();
    EXPECT_EQ(watcher.activeWatchCount(), 0);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
    EXPECT_EQ(loggedCount("Stopped"), 0);

    detector = startedDetector();
    auto stopper = bus.signalSubject.sink([&](const NotificationSignal&) { detector.reset(); });
    postTitles(1, 3);
    watcher.fire(walPath());
    EXPECT_EQ(messages(), QStringList{"T1"});
    EXPECT_EQ(scheduler().pendingCount(), 0u);
    scheduler().advance(5.0);
    EXPECT_EQ(received.size(), 1u);
}
