#pragma once

// Whether a compositing manager runs on the display. Without one the window system ignores a
// window's transparency and shows its clear pixels black, so a window that draws only part of
// itself must shape itself to what it draws. On X11 a compositor owns the _NET_WM_CM_S<screen>
// selection; its owner changes are followed (XFixes, on Qt's own connection, so nothing wakes the
// process while nothing changes). Where the application does not run on X11 the platform
// composites, and this reads true.

#include "platform/runtime/reactive.h"

#include <functional>
#include <memory>

namespace platform {

class CompositorWatch {
public:
    virtual ~CompositorWatch() = default;

    // The process-wide watch (the display's unless a test installed another).
    static CompositorWatch& shared();
    // Installs `watch` (nullptr restores the default); returns the previous one.
    static CompositorWatch* setShared(CompositorWatch* watch);

    // Main thread only.
    virtual bool isActive() = 0;
    // Calls `handler` on the main thread each time a compositor starts or stops, until the
    // returned handle is cancelled.
    virtual AnyCancellable observe(std::function<void()> handler) = 0;
};

}  // namespace platform
