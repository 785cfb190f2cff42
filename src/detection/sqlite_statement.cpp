#include "detection/sqlite_statement.h"

#include "detection/sqlite_connection.h"

#include <sqlite3.h>

#include <utility>

SqliteStatement::SqliteStatement(const SqliteConnection& connection, const QString& sql) {
    if (!connection.handle()) {
        prepareResult_ = SQLITE_MISUSE;
        return;
    }
    QByteArray text = sql.toUtf8();
    prepareResult_ = sqlite3_prepare_v2(connection.handle(), text.constData(), static_cast<int>(text.size()), &stmt_, nullptr);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), prepareResult_(other.prepareResult_) {}

SqliteStatement::~SqliteStatement() {
    if (stmt_) sqlite3_finalize(stmt_);
}

bool SqliteStatement::bindInt64(int index, int64_t value) {
    return stmt_ && sqlite3_bind_int64(stmt_, index, static_cast<sqlite3_int64>(value)) == SQLITE_OK;
}

bool SqliteStatement::bindText(int index, const QString& value) {
    QByteArray text = value.toUtf8();
    return stmt_ && sqlite3_bind_text(stmt_, index, text.constData(), static_cast<int>(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
}

bool SqliteStatement::bindBlob(int index, const QByteArray& value) {
    return stmt_ && sqlite3_bind_blob(stmt_, index, value.constData(), static_cast<int>(value.size()), SQLITE_TRANSIENT) == SQLITE_OK;
}

bool SqliteStatement::bindNull(int index) { return stmt_ && sqlite3_bind_null(stmt_, index) == SQLITE_OK; }

int SqliteStatement::step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }

bool SqliteStatement::run() {
    int rc;
    while ((rc = step()) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE;
}

int64_t SqliteStatement::columnInt64(int index) const {
    return stmt_ ? static_cast<int64_t>(sqlite3_column_int64(stmt_, index)) : 0;
}

bool SqliteStatement::columnIsNull(int index) const {
    return !stmt_ || sqlite3_column_type(stmt_, index) == SQLITE_NULL;
}

std::optional<QString> SqliteStatement::columnText(int index) const {
    if (columnIsNull(index)) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
    int size = sqlite3_column_bytes(stmt_, index);
    if (!text) return QString();
    return QString::fromUtf8(text, size);
}

std::optional<QByteArray> SqliteStatement::columnBlob(int index) const {
    if (columnIsNull(index)) return std::nullopt;
    const void* data = sqlite3_column_blob(stmt_, index);
    int size = sqlite3_column_bytes(stmt_, index);
    if (!data || size <= 0) return std::nullopt;
    return QByteArray(static_cast<const char*>(data), size);
}
