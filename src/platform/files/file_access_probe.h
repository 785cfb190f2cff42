#pragma once

#include <QString>

#include <optional>

namespace platform {

// Asks the file system what this process may do with a file. Every answer is fresh: nothing is
// cached, so a permission granted meanwhile shows at the next call.
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
    // the system's description of the failure.
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
