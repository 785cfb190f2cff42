#pragma once

#include "app/notch_features.h"

// The notch features of the running application: each service is the process-wide one, started
// and stopped in the order the delegate relies on.
class DesktopNotchFeatures final : public NotchFeatures {
public:
    void startCoreServices() override;
    void startCalendarService() override;
    void startWeatherService() override;
    void startAppSwitcherService() override;
    bool isCalendarAccessGranted() const override;
    void stopAll() override;
    bool hasNotchWindowController() const override;
    void releaseNotchWindowController() override;

private:
    bool liveActivityManagerHeld_ = false;
};
