#include "detection/sqlite_connection.h"

#include "platform/files/database_files.h"

#include <sqlite3.h>

#include <utility>

SqliteConnection::SqliteConnection(SqliteConnection&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), openResult_(other.openResult_) {}

SqliteConnection& SqliteConnection::operator=(SqliteConnection&& other) noexcept {
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
        openResult_ = other.openResult_;
    }
    return *this;
}

SqliteConnection::~SqliteConnection() { close(); }

SqliteConnection SqliteConnection::open(const QString& path, int flags) {
    platform::recordFilesHeldByDatabases();
    SqliteConnection connection;
    connection.openResult_ = sqlite3_open_v2(path.toUtf8().constData(), &connection.db_, flags, nullptr);
    return connection;
}

SqliteConnection SqliteConnection::openReadOnly(const QString& path) { return open(path, SQLITE_OPEN_READONLY); }

SqliteConnection SqliteConnection::openReadWriteCreate(const QString& path) {
    return open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

QString SqliteConnection::errorMessage() const {
    if (!db_) return QStringLiteral("unknown sqlite error");
    return QString::fromUtf8(sqlite3_errmsg(db_));
}

bool SqliteConnection::lastErrorIsLock() const {
    if (!db_) return false;
    const int code = sqlite3_errcode(db_) & 0xFF;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

bool SqliteConnection::execute(const char* sql) {
    return isOpen() && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

long long SqliteConnection::lastInsertRowId() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

void SqliteConnection::setBusyTimeout(int milliseconds) {
    if (db_) sqlite3_busy_timeout(db_, milliseconds);
}

void SqliteConnection::close() {
    // close_v2 defers the release while a statement is still alive, so the order in which
    // wrappers go never leaks a handle.
    if (db_) sqlite3_close_v2(std::exchange(db_, nullptr));
}
