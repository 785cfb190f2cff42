#pragma once

#include <QString>

struct sqlite3;

// One SQLite connection, closed when the object goes. Opening never throws: a failed open leaves
// an object that is not open but still knows the result code and the error message.
class SqliteConnection {
public:
    SqliteConnection() = default;
    SqliteConnection(SqliteConnection&& other) noexcept;
    SqliteConnection& operator=(SqliteConnection&& other) noexcept;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;
    ~SqliteConnection();

    // Read-only, with the default file-system layer.
    static SqliteConnection openReadOnly(const QString& path);
    // Read-write, creating the file when it is missing.
    static SqliteConnection openReadWriteCreate(const QString& path);

    bool isOpen() const { return openResult_ == 0 && db_ != nullptr; }
    // The connection's latest error message; "unknown sqlite error" when the open returned no
    // connection at all.
    QString errorMessage() const;
    // Whether the latest error was another connection's lock (SQLITE_BUSY or SQLITE_LOCKED).
    bool lastErrorIsLock() const;

    // Runs one or more statements without results. False on the first error.
    bool execute(const char* sql);
    long long lastInsertRowId() const;
    // How long a statement waits for another connection's lock before it reports busy.
    void setBusyTimeout(int milliseconds);

    sqlite3* handle() const { return db_; }

    // Closes now (also a failed open's connection); errorMessage() then reports the default.
    void close();

private:
    static SqliteConnection open(const QString& path, int flags);

    sqlite3* db_ = nullptr;
    int openResult_ = 0;
};
