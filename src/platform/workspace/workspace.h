#pragma once

#include "platform/runtime/reactive.h"
#include "platform/workspace/running_application.h"

#include <QIcon>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

// Running applications, application folders, file icons, and opening URLs and applications.
class Workspace {
public:
    virtual ~Workspace() = default;

    // The process-wide workspace (the Linux one unless a test installed another).
    static Workspace& shared();
    // Installs `workspace` (nullptr restores the default); returns the previous one.
    static Workspace* setShared(Workspace* workspace);

    // Every running application, in the workspace's own order.
    virtual std::vector<RunningApplication> runningApplications() const = 0;
    // The folder of the application with this bundle identifier, when one is installed.
    virtual std::optional<QString> urlForApplicationWithBundleIdentifier(const QString& bundleIdentifier) const = 0;
    // The icon the desktop shows for the file or folder at `path`; never null.
    virtual QIcon iconForFile(const QString& path) const = 0;

    // Each returns whether the request was accepted.
    virtual bool openUrl(const QUrl& url) = 0;
    virtual bool launchApplicationWithBundleIdentifier(const QString& bundleIdentifier) = 0;
    virtual bool launchApplicationNamed(const QString& name) = 0;
    virtual bool activateApplication(qint64 processIdentifier, bool ignoringOtherApps) = 0;
    // Shows the local files at `urls` selected in the desktop's file viewer; returns whether the
    // request was accepted. The base opens the folder that holds the first.
    virtual bool activateFileViewerSelecting(const std::vector<QUrl>& urls);
    // Opens the application whose folder is `path`. No desktop here opens an application by its
    // folder, so the base refuses.
    virtual bool openApplicationAtPath(const QString& path) {
        (void)path;
        return false;
    }

    // Calls `handler` with each application that becomes the active one, on the main thread, until
    // the returned subscription is cancelled. The base delivers what `applicationActivated` carries.
    virtual AnyCancellable observeActivations(std::function<void(const RunningApplication&)> handler) {
        return applicationActivated.sink(std::move(handler));
    }

    // The running applications with this bundle identifier, in the workspace's order.
    std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(const QString& bundleIdentifier) const;
    std::optional<RunningApplication> runningApplicationWithProcessIdentifier(qint64 processIdentifier) const;

protected:
    PassthroughSubject<RunningApplication> applicationActivated;
};

}  // namespace platform
