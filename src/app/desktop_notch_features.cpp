#include "app/desktop_notch_features.h"

void DesktopNotchFeatures::startCoreServices() {
    // Order: notch window and state manager, now playing, hover detector, the system-event services,
    // the live-activity manager, lyrics, media hotkeys.
}

void DesktopNotchFeatures::startCalendarService() {}

void DesktopNotchFeatures::startWeatherService() {}

void DesktopNotchFeatures::startAppSwitcherService() {}

bool DesktopNotchFeatures::isCalendarAccessGranted() const { return false; }

void DesktopNotchFeatures::stopAll() {
    // The glance services stop whether or not this start ran them: the settings may have started one.
}

bool DesktopNotchFeatures::hasNotchWindowController() const { return false; }

void DesktopNotchFeatures::releaseNotchWindowController() {}
