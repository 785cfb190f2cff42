#pragma once

#include "platform/workspace/workspace.h"

#include <QColor>
#include <QImage>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace testsupport {

// A solid square icon of `size` pixels, told apart from others by its colour.
QIcon solidIcon(const QColor& color, int size = 64);

// Scripted running applications, application folders and file icons; records every open,
// launch and activation. Installs itself as the shared workspace while alive.
class FakeWorkspace final : public platform::Workspace {
public:
    FakeWorkspace();
    ~FakeWorkspace() override;
    FakeWorkspace(const FakeWorkspace&) = delete;
    FakeWorkspace& operator=(const FakeWorkspace&) = delete;

    // Appends a running application; returns it for further edits.
    platform::RunningApplication& addApplication(qint64 pid, std::optional<QString> bundleIdentifier,
                                                 std::optional<QString> localizedName,
                                                 std::optional<QIcon> icon = std::nullopt);

    // Tells the activation observers that `app` became the active application.
    void announceActivation(const platform::RunningApplication& app) const { applicationActivated.send(app); }
    size_t activationObserverCount() const { return applicationActivated.subscriberCount(); }

    std::vector<platform::RunningApplication> applications;
    // Bundle identifier -> application folder.
    std::map<QString, QString> applicationPaths;
    // Path -> icon; other paths get `defaultFileIcon`.
    std::map<QString, QIcon> fileIcons;
    // Path -> the icon name its entry gives, looked up as the desktop's workspace does.
    std::map<QString, QString> fileIconNames;
    QIcon defaultFileIcon;
    // What launches report.
    std::set<QString> launchableBundleIdentifiers;
    std::set<QString> launchableNames;

    // Recorded calls, in order.
    mutable std::vector<QString> iconRequests;
    std::vector<QUrl> openedUrls;
    std::vector<QString> launchedNames;
    std::vector<std::pair<qint64, bool>> activations;
    std::vector<QString> openedApplicationPaths;
    std::vector<std::vector<QUrl>> fileViewerSelections;
    mutable int runningApplicationsReads = 0;

    std::vector<platform::RunningApplication> runningApplications() const override;
    std::optional<QString> urlForApplicationWithBundleIdentifier(const QString& bundleIdentifier) const override;
    QIcon iconForFile(const QString& path) const override;
    bool openUrl(const QUrl& url) override;
    bool launchApplicationWithBundleIdentifier(const QString& bundleIdentifier) override;
    bool launchApplicationNamed(const QString& name) override;
    bool activateApplication(qint64 processIdentifier, bool ignoringOtherApps) override;
    bool activateFileViewerSelecting(const std::vector<QUrl>& urls) override {
        fileViewerSelections.push_back(urls);
        return true;
    }
    bool openApplicationAtPath(const QString& path) override {
        openedApplicationPaths.push_back(path);
        return true;
    }

private:
    platform::Workspace* previous_;
};

}  // namespace testsupport
