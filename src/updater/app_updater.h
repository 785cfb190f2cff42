#pragma once

#include "updater/app_update_info.h"
#include "updater/stall_watch.h"

#include "platform/http/http_client.h"
#include "platform/process/child_process.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/shell/alert_presenter.h"
#include "platform/shell/application.h"
#include "platform/shell/main_bundle.h"
#include "platform/storage/defaults.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

// The updater's own failures; their texts follow the language at the moment they are read.
enum class UpdaterError {
    invalidFeedURL,
    unexpectedResponse,
    downloadFailed,
    hashMismatch,
    unsupportedPackageType,
    extractedAppNotFound,
    nonBundleInstall,
    runningFromDiskImage,
    processFailed,
};

// `detail` is the failed tool's output (processFailed only).
QString updaterErrorDescription(UpdaterError error, const QString& detail = {});

// How long the updater's transfers may take as a whole, however steadily the server sends, and
// how little a package download may bring before it counts as stalled.
struct AppUpdaterDeadlines {
    double feedSeconds = 30.0;
    // A package gets the floor plus the time its announced size (the largest accepted size when
    // none is announced) takes at the stall watch's pace below: every download the watch lets run
    // may finish, however poor the link.
    double packageFloorSeconds = 60.0;
    // A download that brings fewer bytes than this in any such stretch has stopped: even the
    // poorest working link moves that much, while a server that drips stays far below it.
    double packageStallSeconds = 45.0;
    int64_t packageStallMinimumBytes = 8 * 1024;
};

// Everything the updater talks to; each nullptr means the shared one, looked up at each use.
struct AppUpdaterEnvironment {
    platform::Defaults* defaults = nullptr;
    platform::Scheduler* scheduler = nullptr;
    platform::HttpClient* http = nullptr;
    platform::AlertPresenter* alerts = nullptr;
    platform::Application* application = nullptr;
    // The installed version, read at each check (InstalledAppVersion::current() when empty).
    std::function<InstalledAppVersion()> installedVersion;
    platform::ProcessLauncher* processes = nullptr;
    // The running bundle (MainBundle::shared() when null).
    const platform::MainBundle* bundle = nullptr;
    // Holds "Quillvex/Updater" (the user's data folder, $XDG_DATA_HOME, when empty).
    QString applicationSupportDirectory = {};
    // The process the install script waits for (this one when empty).
    std::function<long long()> processIdentifier = {};
    AppUpdaterDeadlines deadlines = {};
};

// The application's updater: an hourly schedule with a randomly delayed first check, scheduled
// and interactive checks of the update feed, the update alert offered once per version, and the
// state the Updates tab shows. Main thread only (hashing and unpacking a package run on workers);
// it writes nothing to the log.
class AppUpdater {
public:
    struct State {
        enum class Kind { idle, checking, upToDate, updateAvailable, downloading, extracting, installing, failed };
        Kind kind = Kind::idle;
        QString message;  // failed only

        static State failed(QString message) { return State{Kind::failed, std::move(message)}; }
        friend bool operator==(const State& a, const State& b) {
            return a.kind == b.kind && (a.kind != Kind::failed || a.message == b.message);
        }
    };

    static constexpr double timerInterval = 3600.0;
    static constexpr double firstCheckMinDelay = 15.0;
    static constexpr double firstCheckMaxDelay = 180.0;
    static constexpr double feedTimeout = 30.0;
    static constexpr int64_t maxFeedBytes = 1 << 20;
    // The download gives up when no byte arrived for this long; larger packages are refused.
    static constexpr double packageTimeout = 60.0;
    static constexpr int64_t maxPackageBytes = int64_t{1} << 30;
    static constexpr const char* ownBundleIdentifier = "com.varnock.Quillvex";

    // The most a package download may bring: what the feed announced, within maxPackageBytes.
    static int64_t packageByteLimit(const AppUpdateInfo& update);
    // Seconds the whole download of `update` may take.
    static double packageDeadline(const AppUpdateInfo& update, const AppUpdaterDeadlines& deadlines);

    static AppUpdater& shared();
    explicit AppUpdater(AppUpdaterEnvironment environment = {});
    ~AppUpdater();
    AppUpdater(const AppUpdater&) = delete;
    AppUpdater& operator=(const AppUpdater&) = delete;

    // First call only: the hourly timer and the delayed first scheduled check.
    void start();
    void scheduleTimer();
    void invalidateTimer() { timer_.invalidate(); }
    bool hasTimer() const { return timer_.isValid(); }
    bool hasStarted() const { return hasStarted_; }

    // The scheduled check: runs only while automatic checks are on and a check is due.
    void checkForUpdatesIfNeeded();
    // The user's check: reports every outcome in an alert. Returns at once.
    void checkForUpdatesInteractively();
    // Downloads, verifies and extracts availableUpdate(), starts the install script and quits.
    // Returns at once; a call while an install is under way starts nothing and shows the install's
    // state again. Failures end in failed(message), lastErrorMessage and the error alert.
    void installAvailableUpdate();
    bool isInstalling() const { return isInstalling_; }

    // One check; a check that starts while another runs does nothing.
    void performCheck(bool promptIfAvailable, bool showNoUpdatePrompt, bool ignorePromptedVersion);
    bool shouldPerformScheduledCheck(const QDateTime& now) const;

    // What the Updates tab shows.
    const State& state() const { return state_; }
    const std::optional<AppUpdateInfo>& availableUpdate() const { return availableUpdate_; }
    const std::optional<QDateTime>& lastCheckedAt() const { return lastCheckedAt_; }
    const std::optional<QString>& lastErrorMessage() const { return lastErrorMessage_; }
    QString statusDescription() const;
    QString currentVersionSummary() const;
    bool isChecking() const { return isChecking_; }
    // Fires after any of state, availableUpdate, lastCheckedAt or lastErrorMessage changed.
    const platform::PassthroughSubject<>& didChange() const { return didChange_; }

private:
    struct FeedOutcome {
        std::optional<AppUpdateInfo> info;
        QString errorMessage;
    };
    void fetchFeed(std::function<void(FeedOutcome)> done);
    void finishCheck(FeedOutcome outcome, bool promptIfAvailable, bool showNoUpdatePrompt, bool ignorePromptedVersion);
    void presentUpdateAlert(const AppUpdateInfo& update, std::function<void()> done);
    void presentInfoAlert(const QString& title, const QString& message, std::function<void()> done);
    void presentErrorAlert(const QString& message, std::function<void()> done);
    void runModal(platform::Alert alert, std::function<void(int button)> done);
    // A step's failure: the updater's own error, or the platform's wording alone.
    struct InstallFailure {
        std::optional<UpdaterError> error;
        QString detail;
        QString message() const { return error ? updaterErrorDescription(*error, detail) : detail; }
    };
    void downloadAndInstall(const AppUpdateInfo& update);
    void continueInstall(const AppUpdateInfo& update, const QString& bundlePath, const QString& workingDirectory,
                         const QString& archive);
    void finishInstall(const AppUpdateInfo& update, const QString& bundlePath, const std::optional<QString>& extracted,
                       const InstallFailure& failure);
    void failInstall(const InstallFailure& failure);
    void setInstallState(State::Kind kind);
    std::optional<QString> makeWorkingDirectory(const AppUpdateInfo& update, InstallFailure* failure) const;
    // Blocking; runs on a worker.
    static std::optional<QString> extractApplication(const QString& archive, const QString& workingDirectory,
                                                     InstallFailure* failure);
    std::optional<InstallFailure> checkExtractedBundle(const QString& bundle, const AppUpdateInfo& update) const;
    std::optional<InstallFailure> launchInstaller(const QString& currentApp, const QString& extractedApp) const;
    QString updaterDirectory() const;
    void changed() { didChange_.send(platform::Unit{}); }
    QDateTime now() const;
    InstalledAppVersion installedVersion() const;

    // Collaborators not given are the shared ones, looked up at each use (a test may swap them).
    platform::Defaults& defaults() const;
    platform::Scheduler& scheduler() const;
    platform::HttpClient& http() const;
    platform::AlertPresenter& alerts() const;
    platform::Application& application() const;
    platform::ProcessLauncher& processes() const;
    const platform::MainBundle& mainBundle() const;

    platform::Defaults* defaults_;
    platform::Scheduler* scheduler_;
    platform::HttpClient* http_;
    platform::AlertPresenter* alerts_;
    platform::Application* application_;
    std::function<InstalledAppVersion()> installedVersion_;
    platform::ProcessLauncher* processes_;
    const platform::MainBundle* bundle_;
    QString applicationSupportDirectory_;
    std::function<long long()> processIdentifier_;
    AppUpdaterDeadlines deadlines_;

    State state_;
    std::optional<AppUpdateInfo> availableUpdate_;
    std::optional<QDateTime> lastCheckedAt_;
    std::optional<QString> lastErrorMessage_;
    platform::RepeatingTimer timer_;
    bool hasStarted_ = false;
    bool isChecking_ = false;
    bool isInstalling_ = false;
    // The running install attempt's working folder, removed when the attempt fails.
    QString attemptDirectory_;
    // Where the running install stands, whatever a check has published since.
    State installState_;
    // The package download under way, and whether it was ended for bringing too little.
    platform::HttpTransfer packageTransfer_;
    std::optional<StallWatch> packageWatch_;
    bool packageStalled_ = false;
    platform::PassthroughSubject<> didChange_;
    platform::Lifetime lifetime_;
};
