#pragma once

#include "platform/files/file_access_probe.h"

#include <QString>

#include <map>
#include <optional>

namespace testsupport {

// Answers like the real file system unless a path was scripted otherwise. Tests run as root,
// where permission bits deny nothing, so "denied" comes from here.
class FakeFileAccessProbe final : public platform::FileAccessProbe {
public:
    void setExists(const QString& path, bool exists) { scripts_[path].exists = exists; }
    void setReadable(const QString& path, bool readable) { scripts_[path].readable = readable; }
    void setOpenError(const QString& path, const QString& description) { scripts_[path].openError = description; }
    void failSqliteOpen(const QString& path, int resultCode, std::optional<QString> message) {
        scripts_[path].sqlite = SqliteOpenResult{false, resultCode, std::move(message)};
    }
    // Exists and readable, but neither a read handle nor SQLite can open it.
    void deny(const QString& path);

    bool exists(const QString& path) const override;
    bool isReadable(const QString& path) const override;
    std::optional<QString> openForReading(const QString& path) const override;
    SqliteOpenResult openSqliteReadOnly(const QString& path) const override;

private:
    struct Script {
        std::optional<bool> exists;
        std::optional<bool> readable;
        std::optional<QString> openError;
        std::optional<SqliteOpenResult> sqlite;
    };
    const Script* script(const QString& path) const;

    std::map<QString, Script> scripts_;
    platform::SystemFileAccessProbe system_;
};

}  // namespace testsupport
