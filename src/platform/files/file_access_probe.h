#pragma once

#include <QString>

#include <optional>

namespace platform {

// Asks the file system what this process may do with a file. Every answer is fresh: nothing is
// cached, so a permission granted meanwhile shows at the next call.
//
// The rule for every probe here and any added later: never open() and close() a database file
// (nor its -wal or -shm) outside SQLite. Closing any descriptor of a file drops every POSIX lock
// this process holds on it, also those of an SQLite connection still open on it (the recorder
// keeps one on the notification store), and another process then checkpoints and deletes the
// write-ahead log under that connection. Ask without a descriptor (stat, access) or go through
// SQLite, whose file layer keeps such a descriptor open until the process's locks are released.
class FileAccessProbe {
public:
    struct SqliteOpenResult {
        bool opened = false;
        int resultCode = 0;        // SQLite's result code of the open call
        std::optional<QString> message;  // the connection's error message, when a connection came back
    };

    virtual ~FileAccessProbe() = default;

    static FileAccessProbe& system();

    // A file (or folder) exists at the path; symbolic links are followed.
    virtual bool exists(const QString& path) const = 0;
    // The process may read the file, by its permission bits and access rules.
    virtual bool isReadable(const QString& path) const = 0;
    // Creates a read handle on the file and releases it at once: none when that worked, else
    // the system's description of the failure. The handle is made through SQLite (see above).
    virtual std::optional<QString> openForReading(const QString& path) const = 0;
    // Opens the file with SQLite, read-only and with the default file-system layer, and closes
    // it again.
    virtual SqliteOpenResult openSqliteReadOnly(const QString& path) const = 0;
};

class SystemFileAccessProbe final : public FileAccessProbe {
public:
    bool exists(const QString& path) const override;
    bool isReadable(const QString& path) const override;
    std::optional<QString> openForReading(const QString& path) const override;
    SqliteOpenResult openSqliteReadOnly(const QString& path) const override;
};

}  // namespace platform
