#include "detection/notification_database_schema.h"
#include "test_database_fixture.h"

namespace {

QStringList labels(const std::vector<QueryCandidate>& candidates) {
    QStringList out;
    for (const auto& c : candidates) out << c.label;
    return out;
}

}  // namespace

using DatabaseLocationTest = DatabaseDetectorTest;

TEST_F(DatabaseLocationTest, JoinableRecordStoreGivesBothRecordCandidatesAndLogsSortedSchemaOncePerInstance) {
    execute(storePath(), "CREATE TABLE app (app_id INTEGER PRIMARY KEY, identifier TEXT);"
                         "CREATE TABLE record (data BLOB, app_id INTEGER);");
    SqliteConnection db = SqliteConnection::openReadOnly(storePath());
    EXPECT_EQ(labels(NotificationDatabaseSchema::read(db).queryCandidates()),
              (QStringList{"sequoia-record-join-app_id", "sequoia-record-no-join"}));

    auto first = startedDetector();
    EXPECT_TRUE(logged(LogLevel::Info, "Schema record=[\"app_id\", \"data\"] app=[\"app_id\", \"identifier\"] "
                                       "notifications=[] notification=[]"));
    first->stop();
    ASSERT_TRUE(first->start());
    EXPECT_EQ(log.matching("NotificationDatabaseDetector: Schema ").size(), 1);
    auto second = startedDetector();
    EXPECT_EQ(log.matching("NotificationDatabaseDetector: Schema ").size(), 2);
}

TEST_F(DatabaseLocationTest, CandidatesFollowTheDeclaredColumns) {
    struct Case {
        const char* sql;
        QStringList expected;
    };
    const Case cases[] = {
        {"CREATE TABLE record (app_id, data); CREATE TABLE app (app_id)", {"sequoia-record-no-join"}},
        // The join is not tested for "data".
        {"CREATE TABLE record (app_id); CREATE TABLE app (app_id, identifier)", {"sequoia-record-join-app_id"}},
        // The implicit row id is never a listed column; names keep their case.
        {"CREATE TABLE notifications (rowid, title, body, bundle_id)", {}},
        {"CREATE TABLE notifications (record_id INTEGER, title, body, bundle_id)", {"legacy-notifications-record_id"}},
        {"CREATE TABLE notification (ROWID, record_id, title, body, bundle_id)",
         {"legacy-notification-rowid", "legacy-notification-record_id"}},
        {"CREATE TABLE notification (record_id, title, bundle_id)", {}},
        {"CREATE TABLE notification (record_id, title, body, bundle_id); CREATE TABLE record (data)",
         {"sequoia-record-no-join", "legacy-notification-record_id"}},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        const QString path = homeDir.filePath(QStringLiteral("case%1.db").arg(n));
        execute(path, cases[n].sql);
        SqliteConnection db = SqliteConnection::openReadOnly(path);
        const auto candidates = NotificationDatabaseSchema::read(db).queryCandidates();
        EXPECT_EQ(labels(candidates), cases[n].expected) << cases[n].sql;
        if (n == 4) {
            EXPECT_EQ(candidates[0].sql, "SELECT ROWID, app_id, title, body, bundle_id FROM notification WHERE ROWID > ? "
                                         "ORDER BY ROWID DESC LIMIT 20");
            EXPECT_EQ(candidates[1].watermarkSQL, "SELECT MAX(record_id) FROM notification");
        }
    }
}

TEST_F(DatabaseLocationTest, EmptyStoreHasNoCandidatesAndStartFailsLeavingNothing) {
    execute(storePath(), "PRAGMA user_version = 1");
    auto detector = makeDetector();
    EXPECT_FALSE(detector->start());
    EXPECT_TRUE(logged(LogLevel::Warning, "No compatible query candidates for current DB schema"));
    EXPECT_TRUE(logged(LogLevel::Warning, "No compatible schema detected at startup. Stopping database detector."));
    EXPECT_FALSE(detector->databasePath());
    EXPECT_EQ(watcher.activeWatchCount(), 0);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
}

TEST_F(DatabaseLocationTest, DeniedCandidatesAreNamedFirstThreeInOrder) {
    for (int i = 0; i < 5; ++i) fileAccess.deny(storePath(i));
    EXPECT_FALSE(makeDetector()->start());

    const QStringList lines = log.texts();
    const QString denied = "NotificationDatabaseDetector: Found notification DB file(s) but access was denied: " +
                           storePath(0) + ", " + storePath(1) + ", " + storePath(2) +
                           ". Grant Full Disk Access to Quillvex and relaunch.";
    ASSERT_TRUE(lines.contains(denied));
    EXPECT_EQ(lines.indexOf("NotificationDatabaseDetector: Database not found. This is normal if Full Disk Access is "
                            "not granted or macOS changed the database location."),
              lines.indexOf(denied) + 1);
    EXPECT_TRUE(logged(LogLevel::Warning, "Could not find notification database"));
    EXPECT_TRUE(logged(LogLevel::Debug, "Failed to open sqlite '" + storePath(4) + "' result=23 error='authorization denied'"));
}

TEST_F(DatabaseLocationTest, PerUserStoreIsTriedFirstWithItsOlderLayoutAsFallback) {
    const QString perUser = homeDir.filePath("peruser") + "/";
    directories.perUser = ("  " + perUser + "\n").toStdString();  // trimmed of white space

    // Exists but does not open, and nothing else: named as denied.
    const QString current = perUser + "com.apple.notificationcenter/db2/db";
    fileAccess.deny(current);
    fileAccess.failSqliteOpen(current, 14, std::nullopt);
    EXPECT_FALSE(makeDetector()->start());
    EXPECT_TRUE(logged(LogLevel::Info, "Trying DARWIN_USER_DIR database at " + current));
    EXPECT_TRUE(logged(LogLevel::Debug, "Failed to open sqlite '" + current + "' result=14 error='unknown sqlite error'"));
    EXPECT_TRUE(logged(LogLevel::Warning, "Found notification DB file(s) but access was denied: " + current +
                                              ". Grant Full Disk Access to Quillvex and relaunch."));

    // Only the older layout exists: it is used, ahead of the fixed candidates.
    fileAccess.setExists(current, false);
    const QString previous = perUser + "com.apple.notificationcenter/db/db";
    execute(previous, "CREATE TABLE record (data BLOB)");
    store();
    EXPECT_EQ(startedDetector()->databasePath(), previous);
}
