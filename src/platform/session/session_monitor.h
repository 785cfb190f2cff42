#pragma once

#include "platform/runtime/reactive.h"

#include <functional>

namespace platform {

// The user's desktop session: whether the screen is locked, and whether this session is the
// active one (a switch to another user's session resigns it). Handlers run on the main thread.
class SessionMonitor {
public:
    virtual ~SessionMonitor() = default;

    // The process-wide monitor (the desktop's D-Bus services unless a test installed another).
    static SessionMonitor& shared();
    // Installs `monitor` (nullptr restores the default); returns the previous one.
    static SessionMonitor* setShared(SessionMonitor* monitor);

    // The session became active (true) or resigned (false), until the cancellable goes.
    [[nodiscard]] virtual AnyCancellable observeSessionActive(std::function<void(bool active)> handler) = 0;
    // The screen was locked (true) or unlocked (false). Several sources report on their own, so
    // one lock may arrive more than once.
    [[nodiscard]] virtual AnyCancellable observeScreenLock(std::function<void(bool locked)> handler) = 0;
};

}  // namespace platform
