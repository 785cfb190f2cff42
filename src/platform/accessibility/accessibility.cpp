#include "platform/accessibility/accessibility.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<Accessibility*> installed{nullptr};
}

Accessibility& Accessibility::shared() {
    if (Accessibility* backend = installed.load()) return *backend;
    static NullAccessibility linuxBackend;
    return linuxBackend;
}

Accessibility* Accessibility::setShared(Accessibility* backend) { return installed.exchange(backend); }

}  // namespace platform
