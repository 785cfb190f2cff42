#pragma once

// The most recently activated ordinary applications, most recent first, at most eight, published
// whole on the bus whenever the list changes. The list lives in memory only.

#include "core/event_bus.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/workspace/workspace.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

class AppSwitcherService {
public:
    static constexpr qsizetype maxApps = 8;

    static AppSwitcherService& shared();

    // `workspace` null: the shared one at each use (tests install and remove their own).
    // `ownBundleIdentifier` and `ownProcessIdentifier` say which application is this program;
    // empty: the running bundle's identifier and this process.
    explicit AppSwitcherService(EventBus& bus = EventBus::shared(), platform::Workspace* workspace = nullptr,
                                platform::Scheduler& scheduler = platform::Scheduler::shared(),
                                std::optional<std::optional<QString>> ownBundleIdentifier = std::nullopt,
                                std::optional<qint64> ownProcessIdentifier = std::nullopt);
    AppSwitcherService(const AppSwitcherService&) = delete;
    AppSwitcherService& operator=(const AppSwitcherService&) = delete;

    // Follows activations and seeds the list from the running applications. A second start
    // before stop() does nothing.
    void start();
    // Stops following activations; the list keeps its content and nothing is published.
    void stop();

    bool isRunning() const { return !cancellables_.empty(); }
    const QList<platform::RunningApplication>& recentApps() const { return recentApps_; }

private:
    void populateInitialApps();
    void handleAppActivation(const platform::RunningApplication& app);
    bool shouldTrack(const platform::RunningApplication& app) const;

    EventBus& bus_;
    platform::Workspace& workspace() const { return workspace_ ? *workspace_ : platform::Workspace::shared(); }

    platform::Workspace* workspace_;
    platform::Scheduler& scheduler_;
    std::optional<QString> ownBundleIdentifier_;
    qint64 ownProcessIdentifier_;
    platform::CancellableSet cancellables_;
    QList<platform::RunningApplication> recentApps_;
    // Activations posted to the main queue check it, so none reaches a destroyed service.
    std::shared_ptr<AppSwitcherService*> self_ = std::make_shared<AppSwitcherService*>(this);
};
