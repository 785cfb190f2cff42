#include "switcher/app_switcher_service.h"

#include "platform/shell/main_bundle.h"

#include <QCoreApplication>

namespace {
// The file manager is always running; it stays out of the list.
const QString fileManagerBundleIdentifier = QStringLiteral("com.apple.finder");
}  // namespace

AppSwitcherService& AppSwitcherService::shared() {
    static auto* service = new AppSwitcherService();
    return *service;
}

AppSwitcherService::AppSwitcherService(EventBus& bus, platform::Workspace* workspace, platform::Scheduler& scheduler,
                                       std::optional<std::optional<QString>> ownBundleIdentifier,
                                       std::optional<qint64> ownProcessIdentifier)
    : bus_(bus),
      workspace_(workspace),
      scheduler_(scheduler),
      ownBundleIdentifier_(ownBundleIdentifier ? *ownBundleIdentifier
                                               : platform::MainBundle::shared().bundleIdentifier()),
      ownProcessIdentifier_(ownProcessIdentifier ? *ownProcessIdentifier : QCoreApplication::applicationPid()) {}

void AppSwitcherService::start() {
    // One subscription per run: a second start would deliver every activation twice.
    if (isRunning()) return;
    std::weak_ptr<AppSwitcherService*> weak = self_;
    cancellables_.insert(workspace().observeActivations([weak, this](const platform::RunningApplication& app) {
        scheduler_.post([weak, app] {
            // An activation still queued when the service stopped belongs to the finished run.
            if (const auto self = weak.lock(); self && (*self)->isRunning()) (*self)->handleAppActivation(app);
        });
    }));
    populateInitialApps();
    bus_.recentAppsSubject.send(recentApps_);
}

void AppSwitcherService::stop() { cancellables_.cancelAll(); }

void AppSwitcherService::populateInitialApps() {
    QList<platform::RunningApplication> apps;
    for (platform::RunningApplication& app : workspace().runningApplications()) {
        if (!shouldTrack(app)) continue;
        apps.append(std::move(app));
        if (apps.size() == maxApps) break;
    }
    recentApps_ = std::move(apps);
}

void AppSwitcherService::handleAppActivation(const platform::RunningApplication& app) {
    if (!shouldTrack(app)) return;
    recentApps_.removeIf([&](const platform::RunningApplication& entry) {
        return entry.processIdentifier == app.processIdentifier;
    });
    recentApps_.prepend(app);
    if (recentApps_.size() > maxApps) recentApps_.resize(maxApps);
    bus_.recentAppsSubject.send(recentApps_);
}

bool AppSwitcherService::shouldTrack(const platform::RunningApplication& app) const {
    // Unbundled (as in development) this program has no identifier; then its process stands in
    // for it, or every application without one would count as this program.
    if (ownBundleIdentifier_) {
        if (app.bundleIdentifier == ownBundleIdentifier_) return false;
    }
    if (app.processIdentifier == ownProcessIdentifier_) return false;
    if (app.bundleIdentifier == fileManagerBundleIdentifier) return false;
    return app.activationPolicy == platform::ActivationPolicy::Regular;
}
