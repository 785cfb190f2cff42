#pragma once

#include "platform/files/user_directories.h"

#include <QString>
#include <QStringList>

// The places where the system keeps its notification store, shared by the database detector and
// the Full Disk Access diagnostics so that both always look at the same files.
class NotificationDatabaseLocations {
public:
    struct Home {
        QString fileManagerHome;  // what the file manager reports for the current user
        QString passwordHome;     // the real user's password-database home, empty when none
        bool isSandboxed = false;
        QString resolved;         // the home the store lives under
    };

    // Sandboxed processes see a container as their home; the store lives under the real one.
    static Home resolveHome(const platform::UserDirectories& directories);

    // The fixed candidate files in the order they are tried, formed by plain concatenation with
    // `home` (which the detector expects without a trailing separator).
    static QStringList fixedCandidates(const QString& home);
    // The same files, formed by appending path components to `home`: one separator between the
    // parts whatever `home` ends in.
    static QStringList fixedCandidatesByComponents(const QString& home);

    // The store inside the per-user directory, relative to that directory: the current layout
    // and the one before it.
    static QString perUserCurrentSuffix() { return QStringLiteral("com.apple.notificationcenter/db2/db"); }
    static QString perUserPreviousSuffix() { return QStringLiteral("com.apple.notificationcenter/db/db"); }

    // `base` with `relative` appended as path components (one separator in between).
    static QString appendingPathComponents(const QString& base, const QString& relative);
};
