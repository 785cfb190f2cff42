#pragma once

#include <QString>

#include <optional>
#include <string>

namespace platform {

// Where the current user's files live, as the operating system reports it.
class UserDirectories {
public:
    virtual ~UserDirectories() = default;

    // The process-wide instance backed by the running system.
    static UserDirectories& system();

    // The home directory the file manager reports for the current user (inside a sandbox
    // container when the process is sandboxed).
    virtual QString homeDirectory() const = 0;
    // The home directory of the password-database entry of the real user id; empty when there
    // is no entry.
    virtual QString passwordDatabaseHome() const = 0;
    // The per-user configuration directory (`_CS_DARWIN_USER_DIR`), exactly as the system
    // returns it up to its terminating zero, untrimmed; none when the system has no such value.
    virtual std::optional<std::string> perUserDirectory() const = 0;
    // Whether the sandbox names this process's container in its environment.
    virtual bool hasSandboxContainerId() const = 0;
};

// The running system. Linux has no per-user configuration directory, so that lookup asks
// `confstr` for the name and gets nothing back.
class SystemUserDirectories final : public UserDirectories {
public:
    QString homeDirectory() const override;
    QString passwordDatabaseHome() const override;
    std::optional<std::string> perUserDirectory() const override;
    bool hasSandboxContainerId() const override;

private:
    static QString readPasswordDatabaseHome();
};

}  // namespace platform
