#pragma once

#include "platform/shell/window.h"
#include "platform/shell/window_registry.h"
#include "platform/runtime/reactive.h"

#include <QIcon>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

// Regular: a Dock icon and activation; accessory: menu-bar only.
enum class ActivationPolicy { Regular, Accessory };

const char* activationPolicyName(ActivationPolicy policy);  // "regular", "accessory"

// What the application tells its delegate about its life cycle. Every call is on the main thread.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    // Runs once, before the application quits, whatever asked it to.
    virtual void applicationWillTerminate() = 0;
    virtual void applicationDidBecomeActive() {}
    // The user started the application again while it runs; true lets the platform go on with
    // its own handling (there is none here).
    virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) {
        (void)hasVisibleWindows;
        return true;
    }
};

// The running application: its activation policy, activation, termination, icon, windows and
// the reopen request of a second start.
class Application {
public:
    virtual ~Application() = default;

    // The process-wide application (the desktop one unless a test installed another).
    static Application& shared();
    // Installs `application` (nullptr restores the default); returns the previous one.
    static Application* setShared(Application* application);

    void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }
    ApplicationDelegate* delegate() const { return delegate_; }

    virtual ActivationPolicy activationPolicy() const = 0;
    // Returns whether the policy was accepted.
    virtual bool setActivationPolicy(ActivationPolicy policy) = 0;
    // Brings the application's front window forward.
    virtual void activate(bool ignoringOtherApps) = 0;
    // Runs the delegate's will-terminate (once), then quits the event loop.
    virtual void terminate() = 0;
    virtual void setApplicationIconImage(const QIcon& icon) = 0;
    // The image of a bundle resource, when the resource exists and loads.
    virtual std::optional<QIcon> imageResource(const QString& name, const QString& extension) const = 0;

    // A reopen request replaces the delegate's own reopen handling while a handler is installed.
    void setReopenHandler(std::function<void()> handler) { reopenHandler_ = std::move(handler); }
    // Delivers a reopen request (a second start of the application).
    void handleReopen();

    // The user's login session became inactive (another user took the screen).
    const PassthroughSubject<>& sessionDidResignActive() const { return sessionDidResignActive_; }

    // Windows of this application; they register with its window list.
    std::shared_ptr<Window> makeWindow(QSize contentSize, WindowStyleMask style);
    const WindowRegistry& windows() const { return windows_; }
    bool hasVisibleWindows() const;

protected:
    // Runs the delegate's will-terminate the first time only; true when it ran now.
    bool runWillTerminateOnce();
    bool hasTerminated() const { return terminated_; }

private:
    ApplicationDelegate* delegate_ = nullptr;
    std::function<void()> reopenHandler_;
    WindowRegistry windows_;
    PassthroughSubject<> sessionDidResignActive_;
    bool terminated_ = false;
};

}  // namespace platform
