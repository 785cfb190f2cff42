#pragma once

#include "core/event_bus.h"
#include "detection/notification_database_detector.h"
#include "detection/sqlite_connection.h"
#include "permissions/notification_database_locations.h"
#include "support/fake_file_access.h"
#include "support/fake_file_watcher.h"
#include "support/fake_user_directories.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"
#include "tools/notification_store.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using platform::LogLevel;

// A home folder in a temporary directory, the fakes a database detector needs, a private bus
// and the signals it carried.
class DatabaseDetectorTest : public testsupport::QuillvexTest {
protected:
    DatabaseDetectorTest() {
        directories.home = homeDir.path();
        subscription = bus.signalSubject.sink([this](const NotificationSignal& s) { received.push_back(s); });
    }

    QString storePath(int index = 0) const {
        return NotificationDatabaseLocations::fixedCandidates(homeDir.path()).at(index);
    }
    QString walPath() const { return storePath() + "-wal"; }

    std::unique_ptr<NotificationDatabaseDetector> makeDetector() {
        return std::make_unique<NotificationDatabaseDetector>(bus, scheduler(), workspace, directories, fileAccess,
                                                              watcher);
    }
    std::unique_ptr<NotificationDatabaseDetector> startedDetector() {
        auto detector = makeDetector();
        EXPECT_TRUE(detector->start());
        return detector;
    }

    // A store in the tool's layout at the first candidate, kept open (so its write-ahead log
    // exists) until closeStore().
    notificationstore::Writer& store() {
        if (!writer) writer = std::make_unique<notificationstore::Writer>(storePath());
        EXPECT_TRUE(writer->isOpen()) << writer->error().toStdString();
        return *writer;
    }
    void closeStore() { writer.reset(); }

    void post(const QString& bundleId, const std::optional<QString>& title,
              const std::optional<QString>& subtitle = std::nullopt, const std::optional<QString>& body = std::nullopt) {
        auto data = notificationstore::encodePropertyList(notificationstore::notificationRecord(bundleId, title, subtitle, body));
        ASSERT_TRUE(store().appendRecord(bundleId, data)) << writer->error().toStdString();
    }

    // Runs SQL on a connection of its own, as another process would.
    void execute(const QString& path, const char* sql) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        SqliteConnection db = SqliteConnection::openReadWriteCreate(path);
        ASSERT_TRUE(db.execute(sql)) << db.errorMessage().toStdString();
    }

    // The detector's own log line `text` (without its prefix) at `level`.
    bool logged(LogLevel level, const QString& text) const {
        return log.contains(level, QStringLiteral("NotificationDatabaseDetector: ") + text);
    }
    int loggedCount(const QString& text) const { return log.count(QStringLiteral("NotificationDatabaseDetector: ") + text); }

    QStringList messages() const {
        QStringList out;
        for (const auto& s : received) out << s.message.value_or(QStringLiteral("<none>"));
        return out;
    }

    QTemporaryDir homeDir;
    testsupport::FakeUserDirectories directories;
    testsupport::FakeFileAccessProbe fileAccess;
    testsupport::FakeFileWatcher watcher;
    testsupport::FakeWorkspace workspace;
    EventBus bus{scheduler()};
    std::vector<NotificationSignal> received;
    platform::AnyCancellable subscription;
    std::unique_ptr<notificationstore::Writer> writer;
};
