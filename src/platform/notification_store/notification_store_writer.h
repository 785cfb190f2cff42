#pragma once

// Writes the notification store in the layout the database detector reads: tables `app`
// (app_id, identifier) and `record` (rec_id, app_id, data holding a binary property list),
// write-ahead journal kept between commits, synchronous=NORMAL. Record ids only ever grow
// (AUTOINCREMENT), also when old records are pruned: readers keep a watermark on them.

#include "platform/notification_store/sender_icon.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <cstdint>
#include <optional>

struct sqlite3;

namespace platform {

// The record property list of one notification, binary encoded: the bundle identifier at the
// top level, the request's title, subtitle and body (absent ones left out), and the sender's icon
// under "icon" when it named one: {"name": themed name} or {"png": data}.
QByteArray encodeNotificationRecord(const QString& bundleId, const std::optional<QString>& title,
                                    const std::optional<QString>& subtitle = std::nullopt,
                                    const std::optional<QString>& body = std::nullopt,
                                    const StoredIcon& icon = {});

class NotificationStoreWriter {
public:
    // Opens the store at `path`, creating it, its missing folders (0700) and its tables when
    // missing; the file is made readable by the user alone (0600). Not open on failure; error()
    // says why. `busyTimeoutMs` bounds each wait for another writer's lock.
    explicit NotificationStoreWriter(const QString& path, int busyTimeoutMs = 5000);
    ~NotificationStoreWriter();
    NotificationStoreWriter(const NotificationStoreWriter&) = delete;
    NotificationStoreWriter& operator=(const NotificationStoreWriter&) = delete;

    bool isOpen() const { return opened_; }
    // Whether the store's file, its write-ahead log or its shared index at the path are no longer
    // the ones this connection holds (removed or replaced by another program). Writes would then
    // go where no reader looks: reopen().
    bool filesReplaced() const;
    // Closes the connection (what it holds is saved into the store's file when that is still
    // there) and opens the store at the path again, creating it when it went. Record ids go on
    // from the highest this writer gave, also in a store made anew.
    bool reopen();
    // Why it did not open, or why the last write failed. A failed write (a lock held past the
    // busy timeout) leaves the store open for the next one.
    const QString& error() const { return error_; }
    const QString& path() const { return path_; }

    // Appends one record for `bundleId` (its `app` row made on first use); returns the new row id.
    std::optional<int64_t> appendRecord(const QString& bundleId, const QByteArray& data);
    // Appends one record with a NULL app_id.
    std::optional<int64_t> appendRecordWithoutApp(const std::optional<QByteArray>& data);
    // Deletes all but the newest `keep` records, and the applications no record names any more;
    // returns how many records went, nullopt on failure.
    std::optional<int> pruneKeepingNewest(int keep);
    // Runs SQL without results (transactions in bulk writers); a failure sets error().
    bool execute(const char* sql);

private:
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    static std::optional<FileIdentity> identityOf(const QString& path);
    void open();
    void close();
    bool keepIdsGrowing();
    std::optional<int64_t> appId(const QString& bundleId);
    std::optional<int64_t> insertRecord(std::optional<int64_t> app, const std::optional<QByteArray>& data);
    bool fail(const QString& what);

    QString path_;
    int busyTimeoutMs_;
    sqlite3* db_ = nullptr;
    // The files as opened: the store, its write-ahead log and its shared index.
    std::optional<FileIdentity> files_[3];
    int64_t highestId_ = 0;
    bool opened_ = false;
    QString error_;
};

}  // namespace platform
