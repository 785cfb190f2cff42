#pragma once

#include "platform/accessibility/accessibility.h"
#include "platform/runtime/dispatch.h"
#include "platform/workspace/workspace.h"

#include <QString>

#include <functional>
#include <optional>

// The Accessibility permission the "ui" detection road needs: the trust test, the system's
// prompt, and the settings pane where the user grants it.
class PermissionManager {
public:
    static PermissionManager& shared();

    // nullptr uses the shared port, looked up at each use (so a test's swap is honoured).
    explicit PermissionManager(platform::Accessibility* accessibility = nullptr,
                               platform::Workspace* workspace = nullptr);
    PermissionManager(const PermissionManager&) = delete;
    PermissionManager& operator=(const PermissionManager&) = delete;

    static inline const QString accessibilitySettingsURL =
        QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");

    // Never prompts.
    bool isAccessibilityTrusted() const;
    // Asks the system to prompt (it does only while not trusted), then opens the settings pane.
    void requestAccessibility();
    void openAccessibilitySettings();
    // Ends a trust observation. Nothing in the application starts one (the delegate polls the
    // permissions itself), so this only clears what would be left of it.
    void stopObserving();

private:
    platform::Accessibility& accessibility() const;
    platform::Workspace& workspace() const;

    platform::Accessibility* accessibility_;
    platform::Workspace* workspace_;
    platform::RepeatingTimer observationTimer_;
    std::function<void(bool)> observedCallback_;
    std::optional<bool> lastObservedTrusted_;
};
