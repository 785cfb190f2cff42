#pragma once

#include <QString>

#include <optional>

// The script that replaces the running bundle once the application has quit. Its text is one
// constant, written afresh for every install.
//
// Normal run:  /bin/bash <script> <target_app> <extracted_app> <pid_to_wait>
// Install run: /bin/bash <script> --perform-install <target_app> <extracted_app>
class InstallScript {
public:
    static const QString& text();

    // Writes the text atomically to "install-update-<UUID>.sh" in `folder` (created 0700 when
    // missing) with the permissions 0700. The script's path, or none with the reason in `error`.
    static std::optional<QString> write(const QString& folder, QString* error = nullptr);
};
