#include "platform/notification_store/notification_store_writer.h"

#include "platform/files/database_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return statement_ != nullptr; }
    bool bindText(int index, const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        return sqlite3_bind_text(statement_, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT) ==
               SQLITE_OK;
    }
    bool bindInt64(int index, int64_t value) { return sqlite3_bind_int64(statement_, index, value) == SQLITE_OK; }
    bool bindBlob(int index, const QByteArray& data) {
        return sqlite3_bind_blob(statement_, index, data.constData(), static_cast<int>(data.size()), SQLITE_TRANSIENT) ==
               SQLITE_OK;
    }
    bool bindNull(int index) { return sqlite3_bind_null(statement_, index) == SQLITE_OK; }
    int step() { return sqlite3_step(statement_); }
    int64_t columnInt64(int column) { return sqlite3_column_int64(statement_, column); }

private:
    sqlite3_stmt* statement_ = nullptr;
};

// Creates the missing folders of `folder` one by one as 0700 (mkpath would follow the umask).
bool makePrivateFolders(const QString& folder) {
    QStringList missing;
    QString current = QDir::cleanPath(folder);
    while (!current.isEmpty() && !QFileInfo::exists(current)) {
        missing.prepend(current);
        const QString parent = QFileInfo(current).path();
        if (parent == current) break;
        current = parent;
    }
    for (const auto& path : missing) {
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) return false;
    }
    return QFileInfo(folder).isDir();
}

// Creates the file at `path` as 0600, or narrows the one there to its owner (never through a
// link); false with errno set when it cannot be read and written.
bool makePrivateFile(const QByteArray& path) {
    struct stat info {};
    if (::lstat(path.constData(), &info) == 0) {
        if (S_ISLNK(info.st_mode) || S_ISDIR(info.st_mode)) {
            errno = S_ISLNK(info.st_mode) ? ELOOP : EISDIR;
            return false;
        }
        if (::access(path.constData(), R_OK | W_OK) != 0) return false;
        // Narrowed only; a store of another owner keeps its mode, as before.
        ::chmod(path.constData(), info.st_mode & 0600);
        return true;
    }
    if (errno != ENOENT) return false;
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errno == EEXIST && makePrivateFile(path);
    ::fchmod(fd, 0600);
    ::close(fd);
    return true;
}

}  // namespace

QByteArray encodeNotificationRecord(const QString& bundleId, const std::optional<QString>& title,
                                    const std::optional<QString>& subtitle, const std::optional<QString>& body,
                                    const StoredIcon& icon) {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "identifier", plist_new_string(bundleId.toUtf8().constData()));
    plist_t request = plist_new_dict();
    if (title) plist_dict_set_item(request, "titl", plist_new_string(title->toUtf8().constData()));
    if (subtitle) plist_dict_set_item(request, "subt", plist_new_string(subtitle->toUtf8().constData()));
    if (body) plist_dict_set_item(request, "body", plist_new_string(body->toUtf8().constData()));
    plist_dict_set_item(root, "req", request);
    if (!icon.isEmpty()) {
        plist_t stored = plist_new_dict();
        if (!icon.themedName.isEmpty())
            plist_dict_set_item(stored, "name", plist_new_string(icon.themedName.toUtf8().constData()));
        if (!icon.png.isEmpty())
            plist_dict_set_item(stored, "png", plist_new_data(icon.png.constData(), uint64_t(icon.png.size())));
        plist_dict_set_item(root, "icon", stored);
    }
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    QByteArray out(bytes, static_cast<qsizetype>(length));
    std::free(bytes);
    plist_free(root);
    return out;
}

NotificationStoreWriter::NotificationStoreWriter(const QString& path, int busyTimeoutMs)
    : path_(path), busyTimeoutMs_(busyTimeoutMs) {
    open();
}

NotificationStoreWriter::~NotificationStoreWriter() { close(); }

void NotificationStoreWriter::open() {
    const QString folder = QFileInfo(path_).absolutePath();
    if (!makePrivateFolders(folder)) {
        error_ = QStringLiteral("cannot create folder ") + folder;
        return;
    }
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    // Made (or narrowed) before SQLite opens it: the journal files take the store's mode. An
    // existing store is narrowed by its path: another connection of this process may hold it, and
    // closing a descriptor of it would drop that connection's locks.
    const QByteArray file = QFile::encodeName(path_);
    if (!makePrivateFile(file)) {
        error_ = QStringLiteral("cannot open ") + path_ + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno));
        return;
    }
    recordFilesHeldByDatabases();
    if (sqlite3_open_v2(file.constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        fail(QStringLiteral("cannot open ") + path_);
        return;
    }
    sqlite3_busy_timeout(db_, busyTimeoutMs_);
    {
        // journal_mode answers with a row, so it goes through a statement of its own.
        Statement journal(db_, "PRAGMA journal_mode=WAL");
        if (!journal.ok() || journal.step() != SQLITE_ROW) {
            fail(QStringLiteral("cannot switch to the write-ahead journal"));
            return;
        }
    }
    // Keep the write-ahead log when the last connection closes (emptied, not deleted), as a
    // store that is held open would: a reader watching the log keeps its events.
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    if (!execute("PRAGMA journal_size_limit=0; PRAGMA synchronous=NORMAL;"
                 "CREATE TABLE IF NOT EXISTS app (app_id INTEGER PRIMARY KEY, identifier TEXT UNIQUE);"
                 "CREATE TABLE IF NOT EXISTS record (rec_id INTEGER PRIMARY KEY AUTOINCREMENT, app_id INTEGER, "
                 "data BLOB);")) {
        fail(QStringLiteral("cannot create the tables"));
        return;
    }
    {
        Statement sequence(db_, "SELECT seq FROM sqlite_sequence WHERE name = 'record'");
        if (sequence.ok() && sequence.step() == SQLITE_ROW) highestId_ = std::max(highestId_, sequence.columnInt64(0));
    }
    // The log and the index exist once the connection has read the store.
    files_[0] = identityOf(path_);
    files_[1] = identityOf(path_ + QStringLiteral("-wal"));
    files_[2] = identityOf(path_ + QStringLiteral("-shm"));
    opened_ = true;
}

void NotificationStoreWriter::close() {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    opened_ = false;
}

std::optional<NotificationStoreWriter::FileIdentity> NotificationStoreWriter::identityOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

bool NotificationStoreWriter::filesReplaced() const {
    if (!opened_) return false;
    const QString paths[3] = {path_, path_ + QStringLiteral("-wal"), path_ + QStringLiteral("-shm")};
    for (int i = 0; i < 3; ++i) {
        // A file that was not there at the opening is one SQLite has not made yet.
        if (files_[i] && identityOf(paths[i]) != files_[i]) return true;
    }
    return false;
}

bool NotificationStoreWriter::reopen() {
    close();
    error_.clear();
    open();
    return opened_ && keepIdsGrowing();
}

bool NotificationStoreWriter::keepIdsGrowing() {
    if (highestId_ <= 0) return true;
    // AUTOINCREMENT continues after the sequence's value; a store made anew starts without one.
    if (!execute("INSERT INTO sqlite_sequence (name, seq) SELECT 'record', 0 "
                 "WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'record')"))
        return false;
    Statement raise(db_, "UPDATE sqlite_sequence SET seq = ?1 WHERE name = 'record' AND seq < ?1");
    if (!raise.ok() || !raise.bindInt64(1, highestId_) || raise.step() != SQLITE_DONE)
        return fail(QStringLiteral("cannot carry the record ids over"));
    return true;
}

bool NotificationStoreWriter::fail(const QString& what) {
    error_ = what + QStringLiteral(": ") + QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : "out of memory");
    return false;
}

bool NotificationStoreWriter::execute(const char* sql) {
    if (!db_) return false;
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) error_ = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    return rc == SQLITE_OK;
}

std::optional<int64_t> NotificationStoreWriter::appId(const QString& bundleId) {
    {
        Statement insert(db_, "INSERT OR IGNORE INTO app (identifier) VALUES (?)");
        if (!insert.ok() || !insert.bindText(1, bundleId) || insert.step() != SQLITE_DONE) {
            fail(QStringLiteral("cannot add the application"));
            return std::nullopt;
        }
    }
    Statement select(db_, "SELECT app_id FROM app WHERE identifier = ?");
    if (!select.ok() || !select.bindText(1, bundleId) || select.step() != SQLITE_ROW) {
        fail(QStringLiteral("cannot find the application"));
        return std::nullopt;
    }
    return select.columnInt64(0);
}

std::optional<int64_t> NotificationStoreWriter::insertRecord(std::optional<int64_t> app,
                                                             const std::optional<QByteArray>& data) {
    Statement insert(db_, "INSERT INTO record (app_id, data) VALUES (?, ?)");
    const bool bound = (app ? insert.bindInt64(1, *app) : insert.bindNull(1)) &&
                       (data ? insert.bindBlob(2, *data) : insert.bindNull(2));
    if (!insert.ok() || !bound || insert.step() != SQLITE_DONE) {
        fail(QStringLiteral("cannot add the record"));
        return std::nullopt;
    }
    highestId_ = std::max(highestId_, static_cast<int64_t>(sqlite3_last_insert_rowid(db_)));
    return sqlite3_last_insert_rowid(db_);
}

std::optional<int64_t> NotificationStoreWriter::appendRecord(const QString& bundleId, const QByteArray& data) {
    if (!isOpen()) return std::nullopt;
    auto app = appId(bundleId);
    if (!app) return std::nullopt;
    return insertRecord(app, data);
}

std::optional<int64_t> NotificationStoreWriter::appendRecordWithoutApp(const std::optional<QByteArray>& data) {
    if (!isOpen()) return std::nullopt;
    return insertRecord(std::nullopt, data);
}

std::optional<int> NotificationStoreWriter::pruneKeepingNewest(int keep) {
    if (!isOpen()) return std::nullopt;
    // By id, not by count of rows: the newest row (and with it the id sequence) always stays.
    Statement prune(db_, "DELETE FROM record WHERE rec_id <= (SELECT MAX(rec_id) FROM record) - ?");
    if (!prune.ok() || !prune.bindInt64(1, std::max(keep, 1)) || prune.step() != SQLITE_DONE) {
        fail(QStringLiteral("cannot prune the records"));
        return std::nullopt;
    }
    const int pruned = sqlite3_changes(db_);
    // Applications no record names any more go too, or many distinct names fill the store.
    Statement unused(db_, "DELETE FROM app WHERE app_id NOT IN (SELECT app_id FROM record WHERE app_id IS NOT NULL)");
    if (!unused.ok() || unused.step() != SQLITE_DONE) {
        fail(QStringLiteral("cannot prune the applications"));
        return std::nullopt;
    }
    return pruned;
}

}  // namespace platform
