#pragma once

// What the delegate asks of the in-app updater.
class AppUpdaterPort {
public:
    virtual ~AppUpdaterPort() = default;

    // First call only: schedules the periodic check and a first check after a random delay.
    virtual void start() = 0;
    // Stops the periodic check timer (at termination).
    virtual void invalidateTimer() = 0;
    // A check that tells the user its outcome, also when there is no update.
    virtual void checkForUpdatesInteractively() = 0;
};

// The updater is not part of the application yet: every request is accepted and does nothing.
class EmptyAppUpdater final : public AppUpdaterPort {
public:
    void start() override {}
    void invalidateTimer() override {}
    void checkForUpdatesInteractively() override {}
};
