#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

struct sqlite3_stmt;
class SqliteConnection;

// One prepared statement, finalized when the object goes.
class SqliteStatement {
public:
    // Prepares `sql` on `connection`; check isPrepared(). The connection must outlive the statement.
    SqliteStatement(const SqliteConnection& connection, const QString& sql);
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&&) = delete;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    ~SqliteStatement();

    bool isPrepared() const { return stmt_ != nullptr && prepareResult_ == 0; }

    bool bindInt64(int index, int64_t value);
    bool bindText(int index, const QString& value);
    bool bindBlob(int index, const QByteArray& value);
    bool bindNull(int index);

    // SQLite's result code of one step: SQLITE_ROW, SQLITE_DONE or an error.
    int step();
    // Steps while rows come; true when the statement ran to its end.
    bool run();

    int64_t columnInt64(int index) const;
    bool columnIsNull(int index) const;
    std::optional<QString> columnText(int index) const;
    // The bytes of a blob column; none when it is NULL or empty.
    std::optional<QByteArray> columnBlob(int index) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
    int prepareResult_ = 0;
};
