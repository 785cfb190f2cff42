#pragma once

#include "platform/session/session_monitor.h"
#include "platform/shell/application.h"

#include <QObject>

#include <memory>

namespace platform {

// The application on a Linux desktop. There is no Dock, so the activation policy is only
// recorded; it starts as accessory, as a menu-bar application does. Resources come from the
// bundle's Contents/Resources folder. The session resigns active when the login session stops
// being the active one (another user took the screen).
class DesktopApplication final : public Application {
public:
    explicit DesktopApplication(SessionMonitor& session = SessionMonitor::shared());
    ~DesktopApplication() override;

    ActivationPolicy activationPolicy() const override { return policy_; }
    bool setActivationPolicy(ActivationPolicy policy) override;
    void activate(bool ignoringOtherApps) override;
    void terminate() override;
    void setApplicationIconImage(const QIcon& icon) override;
    // This desktop reads no icon containers of the bundle kind: for "icns" the same resource in
    // a format it does read (svg, png) stands in when the container itself does not load.
    std::optional<QIcon> imageResource(const QString& name, const QString& extension) const override;

    // Tells the delegate it finished launching once the event loop runs, then runs the loop;
    // returns its exit code.
    int run();

private:
    ActivationPolicy policy_ = ActivationPolicy::Accessory;
    std::unique_ptr<QObject> context_;
    AnyCancellable sessionActivity_;
};

}  // namespace platform
