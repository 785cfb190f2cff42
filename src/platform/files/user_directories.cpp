#include "platform/files/user_directories.h"

#include <QDir>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace platform {

namespace {
// The configuration-string name of the per-user directory on the system that defines it.
constexpr int kPerUserDirectoryName = 65536;
}  // namespace

UserDirectories& UserDirectories::system() {
    static SystemUserDirectories instance;
    return instance;
}

QString SystemUserDirectories::homeDirectory() const { return QDir::homePath(); }

QString SystemUserDirectories::passwordDatabaseHome() const {
    // Read once: the entry does not change under a running process, and the permission checks
    // ask for it on every status refresh.
    static const QString home = readPasswordDatabaseHome();
    return home;
}

QString SystemUserDirectories::readPasswordDatabaseHome() {
    // getpwuid_r with a generous buffer: the non-reentrant form shares a static record.
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return {};
    return QString::fromLocal8Bit(found->pw_dir);
}

std::optional<std::string> SystemUserDirectories::perUserDirectory() const {
    size_t length = ::confstr(kPerUserDirectoryName, nullptr, 0);
    if (length < 1) return std::nullopt;
    std::vector<char> buffer(length, '\0');
    if (::confstr(kPerUserDirectoryName, buffer.data(), buffer.size()) < 1) return std::nullopt;
    buffer.back() = '\0';
    return std::string(buffer.data());
}

bool SystemUserDirectories::hasSandboxContainerId() const {
    return qEnvironmentVariableIsSet("APP_SANDBOX_CONTAINER_ID");
}

}  // namespace platform
