#pragma once

#include "core/event_bus.h"
#include "detection/notification_record_decoder.h"
#include "detection/query_candidate.h"
#include "platform/runtime/dispatch.h"
#include "platform/files/file_access_probe.h"
#include "platform/files/file_watcher.h"
#include "platform/files/user_directories.h"
#include "platform/workspace/workspace.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class SqliteConnection;

// Reads the system's notification store (read-only) and publishes every row added after start
// as one strong signal on the bus. Wakes on writes to the store's write-ahead log (or the store
// itself) and on a repeating timer; a stopped detector is not restarted, a new one is made.
class NotificationDatabaseDetector {
public:
    explicit NotificationDatabaseDetector(EventBus& bus = EventBus::shared(),
                                          platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                          platform::Workspace& workspace = platform::Workspace::shared(),
                                          platform::UserDirectories& userDirectories = platform::UserDirectories::system(),
                                          platform::FileAccessProbe& fileAccess = platform::FileAccessProbe::system(),
                                          platform::FileWatcher& fileWatcher = platform::FileWatcher::system());
    ~NotificationDatabaseDetector();
    NotificationDatabaseDetector(const NotificationDatabaseDetector&) = delete;
    NotificationDatabaseDetector& operator=(const NotificationDatabaseDetector&) = delete;

    // Finds the store, derives the query candidates from its schema, records the current highest
    // row ids and starts watching. True when running.
    bool start();
    // Stops the timer and the watch and forgets the store; logs "Stopped" on every call.
    void stop();

    // The store in use while running.
    const std::optional<QString>& databasePath() const { return dbPath_; }
    bool isFileMonitored() const { return static_cast<bool>(fileMonitor_); }

private:
    // A row read by a poll, handed to the decoding oldest first.
    struct PendingRow {
        int64_t id;
        std::optional<QString> bundleId;
        std::optional<QString> title;
        std::optional<QByteArray> data;
    };

    std::optional<QString> findNotificationDatabase();
    QString resolvedHomePath() const;
    std::optional<QString> darwinUserDirectory() const;
    std::optional<QString> getDarwinUserDirNotificationDB() const;
    bool isValidSQLiteDatabase(const QString& path) const;
    bool prepareQueryCandidates(const QString& path);
    std::vector<QueryCandidate> queryCandidates(const SqliteConnection& db);

    void initializeQueryWatermarks();
    bool setupFileMonitoring(const QString& path);
    // One read-only open of the store, closed again before anything is published.
    void poll();

    void processSequoiaNotification(const std::optional<QString>& bundleId, const std::optional<QByteArray>& data);
    void processLegacyNotification(const std::optional<QString>& title, const std::optional<QString>& bundleId);
    // `senderIcon` stands in when no installed application's icon is found. Published in the
    // order they came: one whose icon is still being looked up (see IconLookup) waits for it, at
    // most kIconWait, and less once a later one waited kHeldBehindIcon behind it.
    void publish(const std::optional<QString>& bundleId, const std::optional<QString>& message,
                 const NotificationRecordDecoder::SenderIcon& senderIcon = {});
    struct Held {
        std::optional<QString> bundleId;
        std::optional<QString> message;
        NotificationRecordDecoder::SenderIcon senderIcon;
        double arrived = 0;  // monotonic seconds
    };
    // As pictures are waited for when notifications are recorded.
    static constexpr double kIconWait = 1.0;
    static constexpr double kHeldBehindIcon = 0.1;
    static constexpr double kTimerSlack = 0.001;
    void releaseHeld();
    // The signal for `held` (none when it is dropped); false while an icon is being looked up and
    // `last` does not say to go on without it.
    bool resolve(const Held& held, bool last, std::optional<NotificationSignal>* signal);

    EventBus& bus_;
    platform::Scheduler& scheduler_;
    platform::Workspace& workspace_;
    platform::UserDirectories& userDirectories_;
    platform::FileAccessProbe& fileAccess_;
    platform::FileWatcher& fileWatcher_;

    // Both go with the detector, so neither can reach a dead one; destruction logs nothing (the
    // "Stopped" line belongs to stop()). The watch owns the event-only descriptor.
    platform::RepeatingTimer timer_;
    std::deque<Held> held_;
    platform::WorkItem heldTimer_;
    int iconListener_ = 0;
    std::unique_ptr<platform::FileEventSource> fileMonitor_;
    std::optional<QString> dbPath_;
    std::vector<QueryCandidate> queryCandidatesCache_;
    std::map<QString, int64_t> lastNotificationIdByQuery_;
    std::optional<QString> activeQueryLabel_;
    bool didLogSchemaDiagnostics_ = false;
    double pollingInterval_ = 0.3;
    bool isPolling_ = false;

    // Callbacks handed out (timer, file events) do nothing once this is gone; a poll checks it
    // after every signal it sends, since a subscriber may destroy the detector.
    platform::Lifetime lifetime_;
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};
