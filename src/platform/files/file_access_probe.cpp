#include "platform/files/file_access_probe.h"

#include <QFile>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return std::nullopt;
}

FileAccessProbe::SqliteOpenResult SystemFileAccessProbe::openSqliteReadOnly(const QString& path) const {
    sqlite3* db = nullptr;
    SqliteOpenResult result;
    result.resultCode = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    result.opened = result.resultCode == SQLITE_OK;
    if (!result.opened && db) result.message = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_close_v2(db);  // harmless on nullptr
    return result;
}

}  // namespace platform
