#pragma once

#include "app/app_updater_port.h"
#include "updater/app_updater.h"

// The delegate's updater port over the application's updater.
class DesktopAppUpdater final : public AppUpdaterPort {
public:
    explicit DesktopAppUpdater(AppUpdater& updater = AppUpdater::shared()) : updater_(updater) {}

    void start() override { updater_.start(); }
    void invalidateTimer() override { updater_.invalidateTimer(); }
    void checkForUpdatesInteractively() override { updater_.checkForUpdatesInteractively(); }

    AppUpdater& updater() { return updater_; }

private:
    AppUpdater& updater_;
};
