#pragma once

#include "platform/files/file_access_probe.h"
#include "platform/shell/main_bundle.h"
#include "platform/files/user_directories.h"
#include "platform/workspace/workspace.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Finds out by trying whether the notification store can be read (which takes Full Disk Access),
// logs what it found whenever that changes, and opens the matching System Settings pane.
class FullDiskAccessManager {
public:
    // One candidate file examined.
    struct Attempt {
        QString path;
        bool exists = false;
        bool readable = false;
        bool canOpen = false;
        // "not found", "not readable", the open error's description, or none when it opened.
        std::optional<QString> errorDescription;

        friend bool operator==(const Attempt&, const Attempt&) = default;
    };

    struct DiagnosticSnapshot {
        bool isSandboxed = false;
        QString containerHome;
        QString realHome;
        QString dbPath;
        bool isReadable = false;
        bool canOpen = false;  // whether Full Disk Access is available
        std::optional<QString> errorDescription;
        std::vector<Attempt> attempts;  // in the order examined
    };

    static FullDiskAccessManager& shared();

    explicit FullDiskAccessManager(platform::UserDirectories& userDirectories = platform::UserDirectories::system(),
                                   platform::FileAccessProbe& fileAccess = platform::FileAccessProbe::system(),
                                   platform::Workspace& workspace = platform::Workspace::shared());
    FullDiskAccessManager(const FullDiskAccessManager&) = delete;
    FullDiskAccessManager& operator=(const FullDiskAccessManager&) = delete;

    // Probes the candidate files now, stopping at the first that opens.
    DiagnosticSnapshot diagnosticSnapshot() const;
    // Logs `snapshot` (a fresh one when none is given) unless it matches the last one logged,
    // whatever the context. `context` tags every line ("check", "setup-flow").
    void logDiagnosticSnapshotIfNeeded(const std::optional<DiagnosticSnapshot>& snapshot, const QString& context);
    void openFullDiskAccessSettings();

private:
    // Everything the user is shown, but neither the home directories nor the sandbox flag.
    static QString diagnosticSignature(const DiagnosticSnapshot& snapshot);
    std::optional<QString> getDarwinUserDirNotificationDB() const;
    QStringList notificationDatabaseCandidates() const;

    platform::UserDirectories& userDirectories_;
    platform::FileAccessProbe& fileAccess_;
    platform::Workspace& workspace_;
    std::optional<QString> lastLoggedDiagnosticSignature_;
};
