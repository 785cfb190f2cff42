#include "detection/notification_database_detector.h"

#include "core/image_helper.h"
#include "core/log.h"
#include "core/wall_clock.h"
#include "detection/notification_center_name.h"
#include "detection/notification_database_schema.h"
#include "detection/notification_record_decoder.h"
#include "detection/property_list.h"
#include "detection/sqlite_connection.h"
#include "detection/sqlite_statement.h"
#include "permissions/notification_database_locations.h"
#include "platform/workspace/icon_lookup.h"

#include <QStringList>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>

namespace {

const QString kPrefix = QStringLiteral("NotificationDatabaseDetector: ");

// With file events doing the work the timer only catches what they miss (a change notice that
// came before the writer's commit was visible, a log created after start).
constexpr double kMonitoredTimerPeriod = 2.0;

// A writer holds the store's lock only briefly (a commit, a checkpoint). Polls run on the main
// thread, so they wait a moment for it and otherwise leave the rows to the next poll.
constexpr int kReadBusyTimeoutMs = 100;

void debug(const QString& text) { Log::shared().debug(kPrefix + text); }
void info(const QString& text) { Log::shared().info(kPrefix + text); }
void warning(const QString& text) { Log::shared().warning(kPrefix + text); }

}  // namespace

NotificationDatabaseDetector::NotificationDatabaseDetector(EventBus& bus, platform::Scheduler& scheduler,
                                                           platform::Workspace& workspace,
                                                           platform::UserDirectories& userDirectories,
                                                           platform::FileAccessProbe& fileAccess,
                                                           platform::FileWatcher& fileWatcher)
    : bus_(bus),
      scheduler_(scheduler),
      workspace_(workspace),
      userDirectories_(userDirectories),
      fileAccess_(fileAccess),
      fileWatcher_(fileWatcher) {
    // An icon found wakes the notifications that wait for theirs.
    iconListener_ = platform::IconLookup::shared().addListener(
        [this, wake = lifetime_.wrap([this] { releaseHeld(); })] { scheduler_.post(wake); });
}

NotificationDatabaseDetector::~NotificationDatabaseDetector() {
    platform::IconLookup::shared().removeListener(iconListener_);
}

// MARK: Location and schema

QString NotificationDatabaseDetector::resolvedHomePath() const {
    return NotificationDatabaseLocations::resolveHome(userDirectories_).resolved;
}

std::optional<QString> NotificationDatabaseDetector::darwinUserDirectory() const {
    auto raw = userDirectories_.perUserDirectory();
    if (!raw) return std::nullopt;
    QString text = QString::fromUtf8(raw->c_str()).trimmed();
    if (text.isEmpty()) return std::nullopt;
    return text;
}

std::optional<QString> NotificationDatabaseDetector::getDarwinUserDirNotificationDB() const {
    auto directory = darwinUserDirectory();
    if (!directory) return std::nullopt;
    // The system's value ends in a separator, so none is added here.
    const QString current = *directory + NotificationDatabaseLocations::perUserCurrentSuffix();
    if (fileAccess_.exists(current)) return current;
    const QString previous = *directory + NotificationDatabaseLocations::perUserPreviousSuffix();
    if (fileAccess_.exists(previous)) return previous;
    return std::nullopt;
}

bool NotificationDatabaseDetector::isValidSQLiteDatabase(const QString& path) const {
    auto result = fileAccess_.openSqliteReadOnly(path);
    if (result.opened) return true;
    debug(QStringLiteral("Failed to open sqlite '") + path + QStringLiteral("' result=") +
          QString::number(result.resultCode) + QStringLiteral(" error='") +
          result.message.value_or(QStringLiteral("unknown sqlite error")) + u'\'');
    return false;
}

std::optional<QString> NotificationDatabaseDetector::findNotificationDatabase() {
    const QStringList candidates = NotificationDatabaseLocations::fixedCandidates(resolvedHomePath());
    QStringList denied;

    if (auto perUser = getDarwinUserDirNotificationDB()) {
        info(QStringLiteral("Trying DARWIN_USER_DIR database at ") + *perUser);
        if (isValidSQLiteDatabase(*perUser)) return perUser;
        if (fileAccess_.exists(*perUser)) denied << *perUser;
    }

    for (const QString& path : candidates) {
        debug(QStringLiteral("Checking ") + path);
        if (!fileAccess_.exists(path)) continue;
        info(QStringLiteral("Found file at ") + path);
        if (isValidSQLiteDatabase(path)) return path;
        denied << path;
    }

    if (!denied.isEmpty()) {
        warning(QStringLiteral("Found notification DB file(s) but access was denied: ") +
                denied.mid(0, 3).join(QStringLiteral(", ")) +
                QStringLiteral(". Grant Full Disk Access to Quillvex and relaunch."));
    }
    warning(QStringLiteral("Database not found. This is normal if Full Disk Access is not granted or macOS changed "
                           "the database location."));
    return std::nullopt;
}

bool NotificationDatabaseDetector::prepareQueryCandidates(const QString& path) {
    SqliteConnection db = SqliteConnection::openReadOnly(path);
    if (!db.isOpen()) {
        warning(QStringLiteral("Failed to open db for schema check: ") + db.errorMessage());
        return false;
    }
    queryCandidatesCache_ = queryCandidates(db);
    return !queryCandidatesCache_.empty();
}

std::vector<QueryCandidate> NotificationDatabaseDetector::queryCandidates(const SqliteConnection& db) {
    const NotificationDatabaseSchema schema = NotificationDatabaseSchema::read(db);
    if (!didLogSchemaDiagnostics_) {
        didLogSchemaDiagnostics_ = true;
        info(QStringLiteral("Schema ") + schema.description());
    }
    std::vector<QueryCandidate> candidates = schema.queryCandidates();
    if (candidates.empty()) warning(QStringLiteral("No compatible query candidates for current DB schema"));
    return candidates;
}

// MARK: Running life

bool NotificationDatabaseDetector::start() {
    info(QStringLiteral("Starting"));

    auto path = findNotificationDatabase();
    if (!path) {
        warning(QStringLiteral("Could not find notification database"));
        return false;
    }
    dbPath_ = path;
    info(QStringLiteral("Found database at ") + *path);

    if (!prepareQueryCandidates(*path)) {
        warning(QStringLiteral("No compatible schema detected at startup. Stopping database detector."));
        dbPath_.reset();
        return false;
    }

    initializeQueryWatermarks();

    double period = pollingInterval_;
    if (setupFileMonitoring(*path)) {
        info(QStringLiteral("Using file monitoring for real-time detection"));
        period = kMonitoredTimerPeriod;
    } else {
        warning(QStringLiteral("File monitoring failed, using polling only"));
    }
    timer_ = scheduler_.every(period, lifetime_.wrap([this] { poll(); }));

    info(QStringLiteral("Started successfully"));
    return true;
}

void NotificationDatabaseDetector::stop() {
    timer_.invalidate();
    fileMonitor_.reset();  // also closes the event-only descriptor
    dbPath_.reset();
    isPolling_ = false;
    queryCandidatesCache_.clear();
    lastNotificationIdByQuery_.clear();
    activeQueryLabel_.reset();
    info(QStringLiteral("Stopped"));
}

void NotificationDatabaseDetector::initializeQueryWatermarks() {
    if (!dbPath_) return;
    SqliteConnection db = SqliteConnection::openReadOnly(*dbPath_);
    if (!db.isOpen()) {
        warning(QStringLiteral("Failed to open db for watermark init: ") + db.errorMessage());
        return;
    }
    for (const QueryCandidate& candidate : queryCandidatesCache_) {
        int64_t value = 0;
        {
            SqliteStatement statement(db, candidate.watermarkSQL);
            // A NULL maximum (empty table) reads as 0.
            if (statement.isPrepared() && statement.step() == SQLITE_ROW) value = statement.columnInt64(0);
        }
        lastNotificationIdByQuery_[candidate.label] = value;
        debug(QStringLiteral("Initial watermark [") + candidate.label + QStringLiteral("] = ") + QString::number(value));
    }
}

bool NotificationDatabaseDetector::setupFileMonitoring(const QString& path) {
    const QString wal = path + QStringLiteral("-wal");
    const QString target = fileAccess_.exists(wal) ? wal : path;
    fileMonitor_ = fileWatcher_.watchWrites(target, lifetime_.wrap([this, target] {
        debug(QStringLiteral("Database file changed (") + target + QStringLiteral("), checking for new notifications"));
        poll();
    }));
    if (!fileMonitor_) {
        warning(QStringLiteral("Failed to open file descriptor for monitoring"));
        return false;
    }
    return true;
}

void NotificationDatabaseDetector::poll() {
    if (isPolling_ || !dbPath_) return;
    isPolling_ = true;

    std::vector<PendingRow> rows;
    QueryCandidate chosen;
    {
        SqliteConnection db = SqliteConnection::openReadOnly(*dbPath_);
        if (!db.isOpen()) {
            debug(QStringLiteral("Failed to open db in poll: ") + db.errorMessage());
            isPolling_ = false;
            return;
        }
        db.setBusyTimeout(kReadBusyTimeoutMs);
        if (queryCandidatesCache_.empty()) {
            debug(QStringLiteral("Query cache is empty, skipping poll"));
            isPolling_ = false;
            return;
        }

        std::vector<QueryCandidate> order = queryCandidatesCache_;
        if (activeQueryLabel_) {
            auto found = std::find_if(order.begin(), order.end(),
                                      [&](const QueryCandidate& c) { return c.label == *activeQueryLabel_; });
            if (found != order.end())
                std::rotate(order.begin(), found, found + 1);
            else
                activeQueryLabel_.reset();
        }

        bool ran = false;
        for (const QueryCandidate& candidate : order) {
            SqliteStatement statement(db, candidate.sql);
            if (!statement.isPrepared() && db.lastErrorIsLock()) {
                // A lock says nothing about the schema: keep the active query and try again at
                // the next poll.
                isPolling_ = false;
                return;
            }
            if (!statement.isPrepared()) {
                debug(QStringLiteral("Query '") + candidate.label + QStringLiteral("' prepare failed: ") + db.errorMessage());
                continue;
            }
            if (activeQueryLabel_ != candidate.label) {
                activeQueryLabel_ = candidate.label;
                info(QStringLiteral("Selected active query '") + candidate.label + u'\'');
            }

            const int64_t watermark = lastNotificationIdByQuery_.count(candidate.label)
                                          ? lastNotificationIdByQuery_[candidate.label]
                                          : 0;
            statement.bindInt64(1, watermark);
            int64_t maxId = watermark;
            // Any result but a row (done or an error) ends the loop; what was read still counts.
            while (statement.step() == SQLITE_ROW) {
                const int64_t id = statement.columnInt64(0);
                maxId = std::max(maxId, id);
                if (candidate.format == QueryFormat::sequoiaRecord) {
                    rows.push_back({id, statement.columnText(1), std::nullopt, statement.columnBlob(2)});
                } else {
                    auto title = statement.columnText(2);
                    auto body = statement.columnText(3);
                    rows.push_back({id, statement.columnText(4), title ? title : body, std::nullopt});
                }
            }
            // The watermark moves before any row is handed on.
            lastNotificationIdByQuery_[candidate.label] = maxId;
            chosen = candidate;
            ran = true;
            break;
        }

        if (!ran) {
            if (activeQueryLabel_) {
                warning(QStringLiteral("No query candidate matched; clearing active query"));
                activeQueryLabel_.reset();
            }
            isPolling_ = false;
            return;
        }
    }  // the connection is closed before anything is published

    if (!rows.empty()) {
        std::weak_ptr<char> alive = alive_;
        // The queries return newest first; hand them on oldest first.
        for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
            if (chosen.format == QueryFormat::sequoiaRecord)
                processSequoiaNotification(row->bundleId, row->data);
            else
                processLegacyNotification(row->title, row->bundleId);
            if (alive.expired()) return;  // a subscriber destroyed this detector
        }
        info(QStringLiteral("Processed ") + QString::number(rows.size()) + QStringLiteral(" notifications using query '") +
             chosen.label + u'\'');
    }
    isPolling_ = false;
}

// MARK: Record decoding

void NotificationDatabaseDetector::processSequoiaNotification(const std::optional<QString>& bundleIdColumn,
                                                              const std::optional<QByteArray>& data) {
    std::optional<QString> bundleId = bundleIdColumn;
    std::optional<QString> message;
    NotificationRecordDecoder::SenderIcon senderIcon;
    if (data && !data->isEmpty()) {
        QString error;
        auto root = PropertyList::parse(*data, &error);
        if (!root) {
            debug(QStringLiteral("Failed to parse plist data: ") + error);
        } else if (root->isDictionary()) {
            if (!bundleId) bundleId = NotificationRecordDecoder::extractBundleId(*root);
            message = NotificationRecordDecoder::chooseMessage(*root, bundleId);
            senderIcon = NotificationRecordDecoder::senderIcon(*root);
            if (NotificationRecordDecoder::isGenericNotificationMessage(message)) {
                for (const QString& line : NotificationRecordDecoder::potentialMessageFieldLines(*root, bundleId))
                    Log::shared().debug(line);
            }
        }
    }
    publish(bundleId, message, senderIcon);
}

void NotificationDatabaseDetector::processLegacyNotification(const std::optional<QString>& title,
                                                             const std::optional<QString>& bundleId) {
    publish(bundleId, title);
}

void NotificationDatabaseDetector::publish(const std::optional<QString>& bundleId, const std::optional<QString>& message,
                                           const NotificationRecordDecoder::SenderIcon& senderIcon) {
    held_.push_back({bundleId, message, senderIcon, scheduler_.monotonicSeconds()});
    releaseHeld();
}

void NotificationDatabaseDetector::releaseHeld() {
    heldTimer_.cancel();
    std::weak_ptr<char> alive = alive_;
    while (!held_.empty()) {
        // A timer may fire a little before its time, which still counts as come.
        const double now = scheduler_.monotonicSeconds() + kTimerSlack;
        // The first goes on without what is still being looked up once its time is over, or once
        // the next has waited behind it long enough.
        const bool last = now >= held_.front().arrived + kIconWait ||
                          (held_.size() > 1 && now >= held_[1].arrived + kHeldBehindIcon);
        std::optional<NotificationSignal> signal;
        if (!resolve(held_.front(), last, &signal)) break;
        held_.pop_front();
        if (!signal) continue;
        bus_.signalSubject.send(*signal);
        if (alive.expired()) return;  // a subscriber destroyed this detector
    }
    if (held_.empty()) return;
    double due = held_.front().arrived + kIconWait;
    if (held_.size() > 1) due = std::min(due, held_[1].arrived + kHeldBehindIcon);
    // Never sooner than the slack: a wake-up that finds nothing to release waits at least that.
    heldTimer_ = scheduler_.after(std::max(due - scheduler_.monotonicSeconds(), kTimerSlack),
                                  lifetime_.wrap([this] { releaseHeld(); }));
}

bool NotificationDatabaseDetector::resolve(const Held& held, bool last, std::optional<NotificationSignal>* signal) {
    const std::optional<QString>& bundleId = held.bundleId;
    std::optional<QString> appName;
    if (bundleId && !bundleId->isEmpty()) {
        auto running = workspace_.runningApplicationsWithBundleIdentifier(*bundleId);
        if (!running.empty()) {
            appName = running.front().localizedName;
        } else {
            const QStringList components = bundleId->split(u'.', Qt::SkipEmptyParts);
            if (!components.isEmpty()) appName = components.last();
        }
    }
    if (appName && namesNotificationCenter(*appName)) return true;  // silently

    const quint64 pending = platform::IconLookup::pendingAnswers();
    auto icon = ImageHelper::appIconPNGData(appName, bundleId);
    if (!icon) icon = ImageHelper::senderIconPNGData(held.senderIcon.themedName, held.senderIcon.png);
    if (!last && platform::IconLookup::pendingAnswers() != pending) return false;
    *signal = NotificationSignal{
        QUuid::createUuid(), wallClockNow(scheduler_), SignalConfidence::strong, appName, held.message, icon, bundleId,
        false,
    };
    return true;
}
