#include "permissions/full_disk_access_manager.h"

#include "core/format.h"
#include "core/log.h"
#include "permissions/notification_database_locations.h"

#include <QUrl>

namespace {

QString orNone(const std::optional<QString>& text) { return text.value_or(QStringLiteral("none")); }

bool isControl(QChar c) {
    const auto category = c.category();
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

QString trimmedOfControlCharacters(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isControl(text.at(begin))) ++begin;
    while (end > begin && isControl(text.at(end - 1))) --end;
    return text.mid(begin, end - begin);
}

}  // namespace

FullDiskAccessManager& FullDiskAccessManager::shared() {
    static FullDiskAccessManager instance;
    return instance;
}

FullDiskAccessManager::FullDiskAccessManager(platform::UserDirectories& userDirectories,
                                             platform::FileAccessProbe& fileAccess, platform::Workspace& workspace)
    : userDirectories_(userDirectories), fileAccess_(fileAccess), workspace_(workspace) {}

std::optional<QString> FullDiskAccessManager::getDarwinUserDirNotificationDB() const {
    auto raw = userDirectories_.perUserDirectory();
    if (!raw) return std::nullopt;
    // Only control characters go; unlike the detector's lookup, spaces stay and the file need
    // not exist.
    const QString directory = trimmedOfControlCharacters(QString::fromUtf8(raw->c_str()));
    if (directory.isEmpty()) return std::nullopt;
    return NotificationDatabaseLocations::appendingPathComponents(directory,
                                                                  NotificationDatabaseLocations::perUserCurrentSuffix());
}

QStringList FullDiskAccessManager::notificationDatabaseCandidates() const {
    QStringList candidates;
    if (auto perUser = getDarwinUserDirNotificationDB()) candidates << *perUser;
    const QString home = NotificationDatabaseLocations::resolveHome(userDirectories_).resolved;
    candidates << NotificationDatabaseLocations::fixedCandidatesByComponents(home);
    return candidates;
}

FullDiskAccessManager::DiagnosticSnapshot FullDiskAccessManager::diagnosticSnapshot() const {
    const auto home = NotificationDatabaseLocations::resolveHome(userDirectories_);
    DiagnosticSnapshot snapshot;
    snapshot.isSandboxed = home.isSandboxed;
    snapshot.containerHome = home.fileManagerHome;
    snapshot.realHome = home.passwordHome;

    const QStringList candidates = notificationDatabaseCandidates();
    if (candidates.isEmpty()) {
        snapshot.dbPath = QStringLiteral("(not found)");
        snapshot.errorDescription = QStringLiteral("not readable");
        return snapshot;
    }

    std::optional<QString> firstExisting;
    std::optional<QString> firstReadable;
    std::optional<QString> lastOpenError;
    for (const QString& path : candidates) {
        const bool exists = fileAccess_.exists(path);
        if (exists && !firstExisting) firstExisting = path;
        if (!fileAccess_.isReadable(path)) {
            snapshot.attempts.push_back(
                {path, exists, false, false, exists ? QStringLiteral("not readable") : QStringLiteral("not found")});
            continue;
        }
        if (!firstReadable) firstReadable = path;
        auto openError = fileAccess_.openForReading(path);
        if (!openError) {
            snapshot.attempts.push_back({path, exists, true, true, std::nullopt});
            snapshot.dbPath = path;
            snapshot.isReadable = true;
            snapshot.canOpen = true;
            return snapshot;
        }
        lastOpenError = openError;
        snapshot.attempts.push_back({path, exists, true, false, openError});
    }

    snapshot.dbPath = firstReadable.value_or(firstExisting.value_or(candidates.first()));
    snapshot.isReadable = firstReadable.has_value();
    snapshot.canOpen = false;
    snapshot.errorDescription = lastOpenError.value_or(QStringLiteral("not readable"));
    return snapshot;
}

QString FullDiskAccessManager::diagnosticSignature(const DiagnosticSnapshot& snapshot) {
    using format::boolean;
    QStringList attempts;
    for (const Attempt& a : snapshot.attempts)
        attempts << QStringList{a.path, boolean(a.exists), boolean(a.readable), boolean(a.canOpen), orNone(a.errorDescription)}
                        .join(u'|');
    return QStringList{snapshot.dbPath, boolean(snapshot.isReadable), boolean(snapshot.canOpen),
                       orNone(snapshot.errorDescription), attempts.join(QStringLiteral("||"))}
        .join(QStringLiteral("::"));
}

void FullDiskAccessManager::logDiagnosticSnapshotIfNeeded(const std::optional<DiagnosticSnapshot>& given,
                                                          const QString& context) {
    const DiagnosticSnapshot snapshot = given ? *given : diagnosticSnapshot();
    const QString signature = diagnosticSignature(snapshot);
    if (lastLoggedDiagnosticSignature_ == signature) return;
    lastLoggedDiagnosticSignature_ = signature;

    using format::boolean;
    const QString prefix = QStringLiteral("FullDiskAccessManager[") + context + QStringLiteral("]: ");
    Log::shared().info(prefix + QStringLiteral("appPath=") + platform::MainBundle::shared().bundlePath() +
                       QStringLiteral(" sandboxed=") + boolean(snapshot.isSandboxed) +
                       QStringLiteral(" containerHome=") + snapshot.containerHome + QStringLiteral(" realHome=") +
                       snapshot.realHome + QStringLiteral(" dbPath=") + snapshot.dbPath + QStringLiteral(" readable=") +
                       boolean(snapshot.isReadable) + QStringLiteral(" openable=") + boolean(snapshot.canOpen) +
                       QStringLiteral(" error=") + orNone(snapshot.errorDescription));
    for (const Attempt& a : snapshot.attempts) {
        Log::shared().debug(prefix + QStringLiteral("candidate path=") + a.path + QStringLiteral(" exists=") +
                            boolean(a.exists) + QStringLiteral(" readable=") + boolean(a.readable) +
                            QStringLiteral(" openable=") + boolean(a.canOpen) + QStringLiteral(" error=") +
                            orNone(a.errorDescription));
    }
}

void FullDiskAccessManager::openFullDiskAccessSettings() {
    const QUrl url(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles"));
    if (url.isValid()) workspace_.openUrl(url);  // the outcome is not looked at
}
