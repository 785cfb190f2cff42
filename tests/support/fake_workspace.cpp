#include "support/fake_workspace.h"

#include "platform/workspace/desktop_entries.h"

#include <QPixmap>

namespace testsupport {

QIcon solidIcon(const QColor& color, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return QIcon(QPixmap::fromImage(image));
}

FakeWorkspace::FakeWorkspace()
    : defaultFileIcon(solidIcon(QColor(128, 128, 128))), previous_(platform::Workspace::setShared(this)) {}

FakeWorkspace::~FakeWorkspace() { platform::Workspace::setShared(previous_); }

platform::RunningApplication& FakeWorkspace::addApplication(qint64 pid, std::optional<QString> bundleIdentifier,
                                                            std::optional<QString> localizedName,
                                                            std::optional<QIcon> icon) {
    applications.push_back({pid, std::move(bundleIdentifier), std::move(localizedName), std::move(icon)});
    return applications.back();
}

std::vector<platform::RunningApplication> FakeWorkspace::runningApplications() const {
    ++runningApplicationsReads;
    return applications;
}

std::optional<QString> FakeWorkspace::urlForApplicationWithBundleIdentifier(const QString& bundleIdentifier) const {
    const auto it = applicationPaths.find(bundleIdentifier);
    if (it == applicationPaths.end()) return std::nullopt;
    return it->second;
}

QIcon FakeWorkspace::iconForFile(const QString& path) const {
    iconRequests.push_back(path);
    if (const auto named = fileIconNames.find(path); named != fileIconNames.end())
        return platform::DesktopEntries::icon(named->second);
    const auto it = fileIcons.find(path);
    return it == fileIcons.end() ? defaultFileIcon : it->second;
}

bool FakeWorkspace::openUrl(const QUrl& url) {
    openedUrls.push_back(url);
    return true;
}

bool FakeWorkspace::launchApplicationWithBundleIdentifier(const QString& bundleIdentifier) {
    return launchableBundleIdentifiers.count(bundleIdentifier) > 0;
}

bool FakeWorkspace::launchApplicationNamed(const QString& name) {
    launchedNames.push_back(name);
    return launchableNames.count(name) > 0;
}

bool FakeWorkspace::activateApplication(qint64 processIdentifier, bool ignoringOtherApps) {
    activations.emplace_back(processIdentifier, ignoringOtherApps);
    return true;
}

}  // namespace testsupport
