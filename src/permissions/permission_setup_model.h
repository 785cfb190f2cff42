#pragma once

#include "permissions/full_disk_access_manager.h"
#include "permissions/permission_manager.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace platform {
class Application;
}

// What the permission setup talks to; each nullptr means the shared one, looked up at each use.
struct PermissionSetupEnvironment {
    PermissionManager* permissions = nullptr;
    FullDiskAccessManager* fullDiskAccess = nullptr;
    platform::Workspace* workspace = nullptr;
    platform::Application* application = nullptr;
    platform::Scheduler* scheduler = nullptr;
    // The running application's bundle path; empty function: the main bundle's.
    std::function<QString()> bundlePath;
    // Puts text on the clipboard; empty function: the system clipboard.
    std::function<void(const QString&)> copyText;
};

// The state and logic of the guided permission setup: which permission is missing, what the
// current screen says and which buttons it offers. It grants nothing: it re-reads both
// permissions every 0.8 s while on screen and runs the actions its creator gave it.
class PermissionSetupModel {
public:
    enum class Step { accessibility, fullDisk, done };

    struct Actions {
        std::function<void()> openAccessibilitySettings;
        std::function<void()> openFullDiskAccessSettings;
        std::function<void()> continueWithoutFullDiskAccess;
        std::function<void()> quit;
    };

    using Environment = PermissionSetupEnvironment;

    struct Chip {
        QString title;
        bool isComplete = false;
        bool isCurrent = false;
    };
    struct StatusLine {
        QString title;
        QString value;
        bool monospace = false;
    };
    struct Button {
        QString title;
        bool isDefault = false;  // also answers the Return key
        std::function<void()> action;
    };

    static inline const QString developmentBuildMarker = QStringLiteral("/DerivedData/");

    PermissionSetupModel(bool requiresAccessibility, bool requiresFullDiskAccess, Actions actions,
                         Environment environment = {});
    ~PermissionSetupModel();
    PermissionSetupModel(const PermissionSetupModel&) = delete;
    PermissionSetupModel& operator=(const PermissionSetupModel&) = delete;

    bool requiresAccessibility() const { return requiresAccessibility_; }
    bool requiresFullDiskAccess() const { return requiresFullDiskAccess_; }
    bool isAXTrusted() const { return isAXTrusted_; }
    const FullDiskAccessManager::DiagnosticSnapshot& fullDiskDiagnostic() const { return fullDiskDiagnostic_; }

    Step currentStep() const;
    // Re-reads both permissions; sends `changed` when anything shown differs.
    void refreshStatus();
    bool isRunningFromDerivedData() const;
    QString bundlePath() const;

    // The view came on screen: refresh, bring the application forward, start the 0.8 s poll.
    void appear();
    // The view left the screen: the poll stops.
    void disappear();
    bool isPolling() const { return statusTimer_.isValid(); }

    // What the current screen shows.
    std::vector<Chip> chips() const;
    QString heading() const;
    QString explanation() const;
    // Four instruction lines; empty on the done step.
    QStringList instructions() const;
    // The development-build warning, Full Disk Access step only.
    std::optional<QString> warning() const;
    std::vector<StatusLine> statusLines() const;
    // The step's buttons before the gap; "Quit" follows the gap on every step.
    std::vector<Button> buttons() const;
    Button quitButton() const;
    // Runs the default button of the step; false when it has none.
    bool performDefaultAction() const;

    void revealApp() const;
    // Opens the folder that holds the notification store, where its owner and modes are set.
    void revealStore() const;
    void copyAppPath() const;

    const platform::PassthroughSubject<>& changed() const { return changed_; }

private:
    PermissionManager& permissions() const;
    FullDiskAccessManager& fullDiskAccess() const;

    const bool requiresAccessibility_;
    const bool requiresFullDiskAccess_;
    Actions actions_;
    Environment environment_;
    bool isAXTrusted_ = false;
    FullDiskAccessManager::DiagnosticSnapshot fullDiskDiagnostic_;
    platform::RepeatingTimer statusTimer_;
    platform::PassthroughSubject<> changed_;
};
