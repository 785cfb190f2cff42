#include "platform/accessibility/accessibility.h"

#include "platform/accessibility/atspi_accessibility.h"

#include <QCoreApplication>

#include <atomic>

namespace platform {

namespace {
std::atomic<Accessibility*> installed{nullptr};
AtSpiAccessibility* desktopBackend = nullptr;

// Before the application object goes, while the bus connections can still be closed.
void shutDownDesktopBackend() {
    if (desktopBackend) desktopBackend->shutdown();
}
}  // namespace

Accessibility& Accessibility::shared() {
    if (Accessibility* backend = installed.load()) return *backend;
    static NullAccessibility withoutApplication;
    if (!QCoreApplication::instance()) return withoutApplication;
    // Made on first use on the main thread, and kept for the process's life.
    static AtSpiAccessibility* desktop = [] {
        desktopBackend = new AtSpiAccessibility();
        qAddPostRoutine(shutDownDesktopBackend);
        return desktopBackend;
    }();
    return *desktop;
}

Accessibility* Accessibility::setShared(Accessibility* backend) { return installed.exchange(backend); }

}  // namespace platform
