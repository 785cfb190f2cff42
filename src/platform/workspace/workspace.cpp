#include "platform/workspace/workspace.h"

#include "platform/workspace/linux_workspace.h"

#include <QFileInfo>

#include <atomic>

namespace platform {

namespace {
std::atomic<Workspace*> installed{nullptr};
}  // namespace

Workspace& Workspace::shared() {
    if (Workspace* workspace = installed.load()) return *workspace;
    static auto* linuxWorkspace = new LinuxWorkspace();
    return *linuxWorkspace;
}

Workspace* Workspace::setShared(Workspace* workspace) { return installed.exchange(workspace); }

bool Workspace::activateFileViewerSelecting(const std::vector<QUrl>& urls) {
    if (urls.empty() || !urls.front().isLocalFile()) return false;
    return openUrl(QUrl::fromLocalFile(QFileInfo(urls.front().toLocalFile()).absolutePath()));
}

std::vector<RunningApplication> Workspace::runningApplicationsWithBundleIdentifier(
    const QString& bundleIdentifier) const {
    std::vector<RunningApplication> result;
    for (RunningApplication& app : runningApplications()) {
        if (app.bundleIdentifier == bundleIdentifier) result.push_back(std::move(app));
    }
    return result;
}

std::optional<RunningApplication> Workspace::runningApplicationWithProcessIdentifier(qint64 processIdentifier) const {
    for (RunningApplication& app : runningApplications()) {
        if (app.processIdentifier == processIdentifier) return std::move(app);
    }
    return std::nullopt;
}

}  // namespace platform
