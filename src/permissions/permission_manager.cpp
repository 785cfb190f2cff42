#include "permissions/permission_manager.h"

#include <QUrl>

PermissionManager& PermissionManager::shared() {
    static PermissionManager instance;
    return instance;
}

PermissionManager::PermissionManager(platform::Accessibility* accessibility, platform::Workspace* workspace)
    : accessibility_(accessibility), workspace_(workspace) {}

platform::Accessibility& PermissionManager::accessibility() const {
    return accessibility_ ? *accessibility_ : platform::Accessibility::shared();
}

platform::Workspace& PermissionManager::workspace() const {
    return workspace_ ? *workspace_ : platform::Workspace::shared();
}

bool PermissionManager::isAccessibilityTrusted() const { return accessibility().isProcessTrusted(); }

void PermissionManager::requestAccessibility() {
    accessibility().isProcessTrustedWithOptions(true);
    openAccessibilitySettings();
}

void PermissionManager::openAccessibilitySettings() {
    const QUrl url(accessibilitySettingsURL, QUrl::StrictMode);
    if (!url.isValid()) return;
    workspace().openUrl(url);
}

void PermissionManager::stopObserving() {
    observationTimer_.invalidate();
    observedCallback_ = nullptr;
    lastObservedTrusted_.reset();
}
