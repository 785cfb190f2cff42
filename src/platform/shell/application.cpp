#include "platform/shell/application.h"

#include "platform/shell/desktop_application.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<Application*> installed{nullptr};
}  // namespace

const char* activationPolicyName(ActivationPolicy policy) {
    return policy == ActivationPolicy::Regular ? "regular" : "accessory";
}

Application& Application::shared() {
    if (Application* application = installed.load()) return *application;
    static auto* desktop = new DesktopApplication();
    return *desktop;
}

Application* Application::setShared(Application* application) { return installed.exchange(application); }

void Application::handleReopen() {
    if (reopenHandler_) {
        auto handler = reopenHandler_;  // survives a handler replacing itself
        handler();
        return;
    }
    if (delegate_) delegate_->applicationShouldHandleReopen(hasVisibleWindows());
}

std::shared_ptr<Window> Application::makeWindow(QSize contentSize, WindowStyleMask style) {
    return std::make_shared<Window>(windows_, contentSize, style);
}

bool Application::hasVisibleWindows() const {
    for (Window* window : windows_.orderedWindows()) {
        if (window->isVisible()) return true;
    }
    return false;
}

bool Application::runWillTerminateOnce() {
    if (terminated_) return false;
    terminated_ = true;
    if (delegate_) delegate_->applicationWillTerminate();
    return true;
}

}  // namespace platform
