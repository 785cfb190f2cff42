#pragma once

#include "app/notch_features.h"

#include <memory>

class NotchStateManager;
class NotchWindowController;

// The notch features of the running application: each service is the process-wide one, started
// and stopped in the order the delegate relies on.
class DesktopNotchFeatures final : public NotchFeatures {
public:
    DesktopNotchFeatures();
    ~DesktopNotchFeatures() override;

    void startCoreServices() override;
    void startCalendarService() override;
    void startWeatherService() override;
    void startAppSwitcherService() override;
    bool isCalendarAccessGranted() const override;
    bool isCalendarAccessPending() const override;
    platform::AnyCancellable observeCalendarAccess(std::function<void()> handler) override;
    std::optional<platform::CalendarStoreProblem> calendarStoreProblem() const override;
    void stopAll() override;
    void prepareForExit() override;
    bool hasNotchWindowController() const override;
    void releaseNotchWindowController() override;

    // Installs the views of the other folders in the notch container's standard makers (once).
    static void installNotchContent();

    // The notch window of the last start while it is held, and the state manager taken with it.
    NotchWindowController* notchWindowController() const { return notchWindowController_.get(); }
    NotchStateManager* notchStateManager() const { return notchStateManager_; }

private:
    std::unique_ptr<NotchWindowController> notchWindowController_;
    NotchStateManager* notchStateManager_ = nullptr;
    bool liveActivityManagerHeld_ = false;
};
