#pragma once

#include "platform/workspace/workspace.h"

namespace platform {

// What a Linux desktop offers through Qt: this process is the only running application it
// knows, there are no application bundles to find or launch, icons come from the icon theme and
// URLs open in the desktop's handler.
class LinuxWorkspace final : public Workspace {
public:
    std::vector<RunningApplication> runningApplications() const override;
    std::optional<QString> urlForApplicationWithBundleIdentifier(const QString& bundleIdentifier) const override;
    QIcon iconForFile(const QString& path) const override;

    bool openUrl(const QUrl& url) override;
    // Names come from other applications' notifications; they are never turned into commands.
    bool launchApplicationWithBundleIdentifier(const QString& bundleIdentifier) override;
    bool launchApplicationNamed(const QString& name) override;
    bool activateApplication(qint64 processIdentifier, bool ignoringOtherApps) override;

    // The icon for files the theme has none for.
    static QIcon genericIcon();
};

}  // namespace platform
