#include "platform/files/private_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// An XDG base folder from the environment; relative values are to be ignored.
QString absoluteFromEnvironment(const char* variable) {
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? value : QString();
}
}  // namespace

std::optional<QString> privateFolderProblem(const QString& folder, bool create) {
    const QByteArray path = QFile::encodeName(folder);
    struct stat info {};
    // Never through a link: one planted where the folder belongs could lead anywhere.
    if (::lstat(path.constData(), &info) != 0) {
        if (errno != ENOENT || !create)
            return QStringLiteral("'") + folder + QStringLiteral("' cannot be used: ") + errnoText(errno);
        QDir().mkpath(QFileInfo(folder).path());
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
            return QStringLiteral("'") + folder + QStringLiteral("' cannot be created: ") + errnoText(errno);
        if (::lstat(path.constData(), &info) != 0)
            return QStringLiteral("'") + folder + QStringLiteral("' cannot be used: ") + errnoText(errno);
    }
    if (S_ISLNK(info.st_mode)) return QStringLiteral("'") + folder + QStringLiteral("' is a link");
    if (!S_ISDIR(info.st_mode)) return QStringLiteral("'") + folder + QStringLiteral("' is not a folder");
    if (info.st_uid != ::geteuid()) return QStringLiteral("'") + folder + QStringLiteral("' belongs to another user");
    if (info.st_mode & 077) return QStringLiteral("'") + folder + QStringLiteral("' is open to other users");
    return std::nullopt;
}

QString privateFolder(const QString& name, QString* problem) {
    // The runtime folder belongs to the session: used when private, never created here.
    const QString runtime = absoluteFromEnvironment("XDG_RUNTIME_DIR");
    QString base = runtime;
    if (runtime.isEmpty() || privateFolderProblem(runtime, false)) {
        base = absoluteFromEnvironment("XDG_CACHE_HOME");
        if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.cache");
    }
    const QString folder = base + QLatin1Char('/') + name;
    if (auto why = privateFolderProblem(folder, true)) {
        if (problem) *problem = *why;
        return {};
    }
    return folder;
}

}  // namespace platform
