#include "permissions/permission_setup_model.h"

#include "platform/shell/application.h"
#include "platform/shell/main_bundle.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <tuple>

namespace {

constexpr double kStatusInterval = 0.8;

QString yesNo(bool value) { return value ? QStringLiteral("Yes") : QStringLiteral("No"); }

// What the screen shows of the two permissions.
auto shownState(bool isAXTrusted, const FullDiskAccessManager::DiagnosticSnapshot& d) {
    return std::make_tuple(isAXTrusted, d.dbPath, d.isReadable, d.canOpen, d.errorDescription);
}

}  // namespace

PermissionSetupModel::PermissionSetupModel(bool requiresAccessibility, bool requiresFullDiskAccess, Actions actions,
                                           Environment environment)
    : requiresAccessibility_(requiresAccessibility),
      requiresFullDiskAccess_(requiresFullDiskAccess),
      actions_(std::move(actions)),
      environment_(std::move(environment)),
      isAXTrusted_(permissions().isAccessibilityTrusted()),
      fullDiskDiagnostic_(fullDiskAccess().diagnosticSnapshot()) {}

PermissionSetupModel::~PermissionSetupModel() = default;

PermissionManager& PermissionSetupModel::permissions() const {
    return environment_.permissions ? *environment_.permissions : PermissionManager::shared();
}

FullDiskAccessManager& PermissionSetupModel::fullDiskAccess() const {
    return environment_.fullDiskAccess ? *environment_.fullDiskAccess : FullDiskAccessManager::shared();
}

PermissionSetupModel::Step PermissionSetupModel::currentStep() const {
    if (requiresAccessibility_ && !isAXTrusted_) return Step::accessibility;
    if (!requiresFullDiskAccess_) return Step::done;
    // Only an open that worked counts; a readable file alone does not finish the step.
    if (fullDiskDiagnostic_.canOpen) return Step::done;
    return Step::fullDisk;
}

void PermissionSetupModel::refreshStatus() {
    const auto before = shownState(isAXTrusted_, fullDiskDiagnostic_);
    isAXTrusted_ = permissions().isAccessibilityTrusted();
    fullDiskDiagnostic_ = fullDiskAccess().diagnosticSnapshot();
    // A redraw on every tick would drop the user's text selection.
    if (shownState(isAXTrusted_, fullDiskDiagnostic_) != before) changed_.send();
}

QString PermissionSetupModel::bundlePath() const {
    if (environment_.bundlePath) return environment_.bundlePath();
    return platform::MainBundle::shared().bundlePath();
}

bool PermissionSetupModel::isRunningFromDerivedData() const {
    return bundlePath().contains(developmentBuildMarker, Qt::CaseSensitive);
}

void PermissionSetupModel::appear() {
    refreshStatus();
    auto& application = environment_.application ? *environment_.application : platform::Application::shared();
    application.activate(true);
    auto& scheduler = environment_.scheduler ? *environment_.scheduler : platform::Scheduler::shared();
    // The handle is a member: the timer dies with the model.
    statusTimer_ = scheduler.every(kStatusInterval, [this] { refreshStatus(); });
}

void PermissionSetupModel::disappear() { statusTimer_.invalidate(); }

std::vector<PermissionSetupModel::Chip> PermissionSetupModel::chips() const {
    std::vector<Chip> chips;
    const Step step = currentStep();
    if (requiresAccessibility_) {
        chips.push_back({QStringLiteral("Accessibility"), isAXTrusted_, step == Step::accessibility});
    }
    if (requiresFullDiskAccess_) {
        chips.push_back({QStringLiteral("Full Disk Access"), fullDiskDiagnostic_.canOpen, step == Step::fullDisk});
    }
    return chips;
}

QString PermissionSetupModel::heading() const {
    switch (currentStep()) {
    case Step::accessibility:
        return QStringLiteral("Step 1. Allow Accessibility");
    case Step::fullDisk:
        return QStringLiteral("Step ") + (requiresAccessibility_ ? QStringLiteral("2") : QStringLiteral("1")) +
               QStringLiteral(". Allow Full Disk Access");
    case Step::done:
        break;
    }
    return QStringLiteral("Permissions look good");
}

QString PermissionSetupModel::explanation() const {
    switch (currentStep()) {
    case Step::accessibility:
        return QStringLiteral(
            "Quillvex uses the Accessibility API (AT-SPI) to detect visible notification banners in real time.");
    case Step::fullDisk:
        return QStringLiteral(
            "Database-based notification detection reads the notification store, a file Quillvex itself writes under "
            "your home folder. Linux has no Full Disk Access: the store only has to be yours and readable by you.");
    case Step::done:
        break;
    }
    return QStringLiteral("You can close this window. Quillvex will continue automatically.");
}

QStringList PermissionSetupModel::instructions() const {
    switch (currentStep()) {
    case Step::accessibility:
        // No desktop has a pane for it: the button switches the desktop's accessibility on.
        return {QStringLiteral("1. Press Turn On Accessibility"),
                QStringLiteral("2. Quillvex switches on the desktop's accessibility (AT-SPI)"),
                QStringLiteral("3. If the status stays Waiting, install at-spi2-core and log in again"),
                QStringLiteral("4. This window closes by itself once detection starts")};
    case Step::fullDisk:
        // The store is made once, as Quillvex starts: a missing file needs a restart.
        return {QStringLiteral("1. Press Open Store Folder, or open a terminal"),
                QStringLiteral("2. Go to the folder of the Detected DB path below"),
                QStringLiteral("3. Make the file and its folders yours and readable by you"),
                QStringLiteral("4. If the file is missing, restart Quillvex: it creates the store as it starts")};
    case Step::done:
        break;
    }
    return {};
}

std::optional<QString> PermissionSetupModel::warning() const {
    if (currentStep() != Step::fullDisk || !isRunningFromDerivedData()) return std::nullopt;
    return QStringLiteral(
        "This build is running from Xcode DerivedData. Full Disk Access can be unstable there because the app path "
        "changes between builds.");
}

std::vector<PermissionSetupModel::StatusLine> PermissionSetupModel::statusLines() const {
    switch (currentStep()) {
    case Step::accessibility:
        return {{QStringLiteral("Current status"), isAXTrusted_ ? QStringLiteral("Allowed") : QStringLiteral("Waiting"),
                 false}};
    case Step::fullDisk: {
        const auto& d = fullDiskDiagnostic_;
        std::vector<StatusLine> lines{{QStringLiteral("Current app path"), bundlePath(), true},
                                      {QStringLiteral("Detected DB path"), d.dbPath, true},
                                      {QStringLiteral("Readable"), yesNo(d.isReadable), false},
                                      {QStringLiteral("Openable"), yesNo(d.canOpen), false}};
        if (d.errorDescription && !d.canOpen) lines.push_back({QStringLiteral("Last error"), *d.errorDescription, true});
        return lines;
    }
    case Step::done:
        break;
    }
    return {};
}

std::vector<PermissionSetupModel::Button> PermissionSetupModel::buttons() const {
    switch (currentStep()) {
    case Step::accessibility:
        return {{QStringLiteral("Turn On Accessibility"), true, actions_.openAccessibilitySettings}};
    case Step::fullDisk:
        return {{QStringLiteral("Open Store Folder"), true,
                 [this] {
                     if (actions_.openFullDiskAccessSettings) actions_.openFullDiskAccessSettings();
                     revealStore();
                 }},
                {QStringLiteral("Reveal Quillvex.app"), false, [this] { revealApp(); }},
                {QStringLiteral("Copy App Path"), false, [this] { copyAppPath(); }},
                {QStringLiteral("Continue With Limited Detection"), false, actions_.continueWithoutFullDiskAccess}};
    case Step::done:
        break;
    }
    return {};
}

PermissionSetupModel::Button PermissionSetupModel::quitButton() const {
    return {QStringLiteral("Quit"), false, actions_.quit};
}

bool PermissionSetupModel::performDefaultAction() const {
    for (const Button& button : buttons()) {
        if (!button.isDefault) continue;
        if (button.action) button.action();
        return true;
    }
    return false;
}

void PermissionSetupModel::revealApp() const {
    auto& workspace = environment_.workspace ? *environment_.workspace : platform::Workspace::shared();
    workspace.activateFileViewerSelecting({QUrl::fromLocalFile(bundlePath())});
}

void PermissionSetupModel::revealStore() const {
    // The nearest folder that exists: the store's own may not have been made yet.
    QFileInfo folder(QFileInfo(fullDiskDiagnostic_.dbPath).absolutePath());
    while (!folder.isDir() && !folder.isRoot()) folder.setFile(folder.absolutePath());
    auto& workspace = environment_.workspace ? *environment_.workspace : platform::Workspace::shared();
    workspace.openUrl(QUrl::fromLocalFile(folder.absoluteFilePath()));
}

void PermissionSetupModel::copyAppPath() const {
    const QString path = bundlePath();
    if (environment_.copyText) {
        environment_.copyText(path);
        return;
    }
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(path);
    }
}
