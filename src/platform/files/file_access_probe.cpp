#include "platform/files/file_access_probe.h"

#include "platform/files/database_files.h"

#include <QFile>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileAccessProbe& FileAccessProbe::system() {
    static SystemFileAccessProbe instance;
    return instance;
}

bool SystemFileAccessProbe::exists(const QString& path) const {
    struct stat info {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

bool SystemFileAccessProbe::isReadable(const QString& path) const {
    return !path.isEmpty() && ::access(QFile::encodeName(path).constData(), R_OK) == 0;
}

std::optional<QString> SystemFileAccessProbe::openForReading(const QString& path) const {
    // A read-only SQLite open opens the file at once and reads nothing yet.
    recordFilesHeldByDatabases();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::optional<QString> error;
    if (rc != SQLITE_OK) {
        const int systemError = db ? sqlite3_system_errno(db) : 0;
        error = systemError ? QString::fromLocal8Bit(std::strerror(systemError))
                            : QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    }
    sqlite3_close_v2(db);
    return error;
}

FileAccessProbe::SqliteOpenResult SystemFileAccessProbe::openSqliteReadOnly(const QString& path) const {
    recordFilesHeldByDatabases();
    sqlite3* db = nullptr;
    SqliteOpenResult result;
    result.resultCode = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    result.opened = result.resultCode == SQLITE_OK;
    if (!result.opened && db) result.message = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_close_v2(db);  // harmless on nullptr
    return result;
}

}  // namespace platform
