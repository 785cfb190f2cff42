#include "detection/notification_database_schema.h"
#include "test_database_fixture.h"


using platform::LogLevel;

namespace {

const QString kPrefix = QStringLiteral("NotificationDatabaseDetector: ");

QStringList labels(const std::vector<QueryCandidate>& candidates) {
    QStringList out;
    for (const auto& c : candidates) out << c.label;
    return out;
}


}  // namespace

using DatabaseLocationTest = DatabaseDetectorTest;

TEST_F(DatabaseLocationTest, JoinableRecordStoreGivesBothRecordCandidatesAndLogsSortedSchema) {
    execute(storePath(), "CREATE TABLE app (app_id INTEGER PRIMARY KEY, identifier TEXT);"
                         "CREATE TABLE record (data BLOB, app_id INTEGER);");
    SqliteConnection db = SqliteConnection::openReadOnly(storePath());
    auto schema = NotificationDatabaseSchema::read(db);
    EXPECT_EQ(labels(schema.queryCandidates()),
              (QStringList{"sequoia-record-join-app_id", "sequoia-record-no-join"}));

    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    EXPECT_TRUE(log.contains(LogLevel::Info, kPrefix + "Schema record=[\"app_id\", \"data\"] "
                                                       "app=[\"app_id\", \"identifier\"] notifications=[] notification=[]"));
    EXPECT_TRUE(log.contains(LogLevel::Info, kPrefix + "Found database at " + storePath()));
    EXPECT_TRUE(log.contains(LogLevel::Info, kPrefix + "Started successfully"));
}

TEST_F(DatabaseLocationTest, CandidatesFollowTheDeclaredColumns) {
    struct Case {
        const char* sql;
        QStringList expected;
    };
    const Case cases[] = {
        {"CREATE TABLE record (data BLOB)", {"sequoia-record-no-join"}},
        {"CREATE TABLE record (app_id, data); CREATE TABLE app (app_id)", {"sequoia-record-no-join"}},
        // The join is not tested for "data".
        {"CREATE TABLE record (app_id); CREATE TABLE app (app_id, identifier)", {"sequoia-record-join-app_id"}},
        // The implicit row id is never a listed column; names keep their case.
        {"CREATE TABLE notifications (title, body, bundle_id)", {}},
        {"CREATE TABLE notifications (rowid, title, body, bundle_id)", {}},
        {"CREATE TABLE notifications (record_id INTEGER, title, body, bundle_id)", {"legacy-notifications-record_id"}},
        {"CREATE TABLE notification (ROWID, record_id, title, body, bundle_id)",
         {"legacy-notification-rowid", "legacy-notification-record_id"}},
        {"CREATE TABLE notification (record_id, title, bundle_id)", {}},
        {"CREATE TABLE notification (record_id, title, body, bundle_id); CREATE TABLE record (data)",
         {"sequoia-record-no-join", "legacy-notification-record_id"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString path = homeDir.filePath(QStringLiteral("case%1.db").arg(n++));
        execute(path, c.sql);
        SqliteConnection db = SqliteConnection::openReadOnly(path);
        EXPECT_EQ(labels(NotificationDatabaseSchema::read(db).queryCandidates()), c.expected) << c.sql;
    }

    SqliteConnection db = SqliteConnection::openReadOnly(homeDir.filePath("case6.db"));
    auto candidates = NotificationDatabaseSchema::read(db).queryCandidates();
    EXPECT_EQ(candidates[0].sql, "SELECT ROWID, app_id, title, body, bundle_id FROM notification WHERE ROWID > ? "
                                 "ORDER BY ROWID DESC LIMIT 20");
    EXPECT_EQ(candidates[1].watermarkSQL, "SELECT MAX(record_id) FROM notification");
    EXPECT_EQ(candidates[1].format, QueryFormat::legacy);
}

TEST_F(DatabaseLocationTest, EmptyStoreHasNoCandidatesAndStartFails) {
    execute(storePath(), "PRAGMA user_version = 1");
    auto detector = makeDetector();
    EXPECT_FALSE(detector->start());
    EXPECT_TRUE(log.contains(LogLevel::Warning, kPrefix + "No compatible query candidates for current DB schema"));
    EXPECT_TRUE(log.contains(LogLevel::Warning,
                             kPrefix + "No compatible schema detected at startup. Stopping database detector."));
    EXPECT_FALSE(detector->databasePath());
    EXPECT_FALSE(detector->hasTimer());
    EXPECT_EQ(watcher.activeWatchCount(), 0);
    EXPECT_EQ(scheduler().pendingCount(), 0u);
}

TEST_F(DatabaseLocationTest, SchemaLineIsLoggedOncePerInstance) {
    store();
    const QString schemaPrefix = kPrefix + "Schema ";
    auto first = makeDetector();
    ASSERT_TRUE(first->start());
    first->stop();
    ASSERT_TRUE(first->start());
    EXPECT_EQ(log.matching(schemaPrefix).size(), 1);
    auto second = makeDetector();
    ASSERT_TRUE(second->start());
    EXPECT_EQ(log.matching(schemaPrefix).size(), 2);
}

TEST_F(DatabaseLocationTest, DeniedCandidatesAreNamedFirstThreeInOrder) {
    for (int i = 0; i < 5; ++i) fileAccess.deny(storePath(i));
    auto detector = makeDetector();
    EXPECT_FALSE(detector->start());

    const QStringList lines = log.texts();
    const QString denied = kPrefix + "Found notification DB file(s) but access was denied: " + storePath(0) + ", " +
                           storePath(1) + ", " + storePath(2) + ". Grant Full Disk Access to Quillvex and relaunch.";
    const QString notFound = kPrefix + "Database not found. This is normal if Full Disk Access is not granted or "
                                       "macOS changed the database location.";
    ASSERT_TRUE(lines.contains(denied));
    EXPECT_EQ(lines.indexOf(notFound), lines.indexOf(denied) + 1);
    EXPECT_TRUE(log.contains(LogLevel::Warning, kPrefix + "Could not find notification database"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, kPrefix + "Failed to open sqlite '" + storePath(4) +
                                                  "' result=23 error='authorization denied'"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, kPrefix + "Checking /private/var/db/NotificationCenter/db"));
    EXPECT_TRUE(log.contains(LogLevel::Info, kPrefix + "Found file at " + storePath(3)));
}

TEST_F(DatabaseLocationTest, PerUserStoreIsTriedFirstWithItsOlderLayoutAsFallback) {
    const QString perUser = homeDir.filePath("peruser") + "/";
    directories.perUser = ("  " + perUser + "\n").toStdString();  // trimmed of white space

    // Exists but does not open, and nothing else: named as denied.
    const QString current = perUser + "com.apple.notificationcenter/db2/db";
    fileAccess.deny(current);
    fileAccess.failSqliteOpen(current, 14, std::nullopt);
    auto denied = makeDetector();
    EXPECT_FALSE(denied->start());
    EXPECT_TRUE(log.contains(LogLevel::Info, kPrefix + "Trying DARWIN_USER_DIR database at " + current));
    EXPECT_TRUE(log.contains(LogLevel::Debug, kPrefix + "Failed to open sqlite '" + current +
                                                  "' result=14 error='unknown sqlite error'"));
    EXPECT_TRUE(log.contains(kPrefix + "Found notification DB file(s) but access was denied: " + current +
                             ". Grant Full Disk Access to Quillvex and relaunch."));

    // Only the older layout exists: it is used, ahead of the fixed candidates.
    fileAccess.setExists(current, false);
    const QString previous = perUser + "com.apple.notificationcenter/db/db";
    execute(previous, "CREATE TABLE record (data BLOB)");
    store();
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    EXPECT_EQ(detector->databasePath(), previous);
}

TEST_F(DatabaseLocationTest, SandboxedProcessLooksUnderTheRealHome) {
    store();
    directories.home = homeDir.filePath("Library/Containers/com.varnock.Quillvex/Data");
    directories.passwordHome = homeDir.path();
    auto detector = makeDetector();
    ASSERT_TRUE(detector->start());
    EXPECT_EQ(detector->databasePath(), storePath());

    // Without a password entry the container home is all there is.
    directories.passwordHome.clear();
    auto lost = makeDetector();
    EXPECT_FALSE(lost->start());
}

TEST(NotificationDatabaseLocationsTest, HomeResolution) {
    testsupport::FakeUserDirectories dirs;
    dirs.home = "/home/ada";
    dirs.passwordHome = "/home/real";
    auto home = NotificationDatabaseLocations::resolveHome(dirs);
    EXPECT_FALSE(home.isSandboxed);
    EXPECT_EQ(home.resolved, "/home/ada");

    dirs.sandboxContainerId = true;
    EXPECT_EQ(NotificationDatabaseLocations::resolveHome(dirs).resolved, "/home/real");

    auto candidates = NotificationDatabaseLocations::fixedCandidates("/home/ada");
    ASSERT_EQ(candidates.size(), 12);
    EXPECT_EQ(candidates.first(), "/home/ada/Library/Group Containers/group.com.apple.usernoted/db2/db");
    EXPECT_EQ(candidates.last(), "/private/var/db/NotificationCenter/db");
    EXPECT_EQ(NotificationDatabaseLocations::fixedCandidatesByComponents("/"),
              NotificationDatabaseLocations::fixedCandidates(""));
}
