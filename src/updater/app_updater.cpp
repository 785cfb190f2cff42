#include "updater/app_updater.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "core/wall_clock.h"
#include "platform/shell/bundle_info.h"
#include "updater/install_script.h"
#include "updater/update_package.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <limits>
#include <utility>

QString updaterErrorDescription(UpdaterError error, const QString& detail) {
    switch (error) {
    case UpdaterError::invalidFeedURL:
        return L10n::updateFeedInvalid();
    case UpdaterError::unexpectedResponse:
        return L10n::updateUnexpectedResponse();
    case UpdaterError::downloadFailed:
        return L10n::updateDownloadFailed();
    case UpdaterError::hashMismatch:
        return L10n::updateHashMismatch();
    case UpdaterError::unsupportedPackageType:
        return L10n::updateUnsupportedPackage();
    case UpdaterError::extractedAppNotFound:
        return L10n::updateExtractedAppMissing();
    case UpdaterError::nonBundleInstall:
        return L10n::updateRequiresAppBundle();
    case UpdaterError::runningFromDiskImage:
        return L10n::updateMoveToApplications();
    case UpdaterError::processFailed:
        return L10n::format(L10n::updateProcessFailedFormat(), detail);
    }
    return {};
}

AppUpdater& AppUpdater::shared() {
    static auto* updater = new AppUpdater();
    return *updater;
}

AppUpdater::AppUpdater(AppUpdaterEnvironment environment)
    : defaults_(environment.defaults),
      scheduler_(environment.scheduler),
      http_(environment.http),
      alerts_(environment.alerts),
      application_(environment.application),
      installedVersion_(std::move(environment.installedVersion)),
      processes_(environment.processes),
      bundle_(environment.bundle),
      applicationSupportDirectory_(std::move(environment.applicationSupportDirectory)),
      processIdentifier_(std::move(environment.processIdentifier)),
      deadlines_(environment.deadlines),
      lastCheckedAt_(AppSettings(&defaults()).lastUpdateCheckAt()) {}

AppUpdater::~AppUpdater() = default;

void AppUpdater::start() {
    if (hasStarted_) return;
    hasStarted_ = true;
    scheduleTimer();
    const double delay = scheduler().randomUniform(firstCheckMinDelay, firstCheckMaxDelay);
    scheduler().after(delay, lifetime_.wrap([this] { checkForUpdatesIfNeeded(); }));
}

void AppUpdater::scheduleTimer() {
    timer_.invalidate();
    timer_ = scheduler().every(timerInterval, lifetime_.wrap([this] { checkForUpdatesIfNeeded(); }));
}

void AppUpdater::checkForUpdatesIfNeeded() {
    if (!AppSettings(&defaults()).automaticUpdateChecks() || !shouldPerformScheduledCheck(now())) return;
    scheduler().post(lifetime_.wrap([this] { performCheck(true, false, false); }));
}

void AppUpdater::checkForUpdatesInteractively() {
    scheduler().post(lifetime_.wrap([this] { performCheck(true, true, true); }));
}

void AppUpdater::installAvailableUpdate() {
    if (!availableUpdate_) return;
    if (isInstalling_) {
        // A second install would race the first for the same bundle. A check may have published
        // its own outcome meanwhile: the press shows that the install is still under way.
        if (state_ != installState_) {
            state_ = installState_;
            changed();
        }
        return;
    }
    isInstalling_ = true;
    installState_ = state_;
    const AppUpdateInfo update = *availableUpdate_;
    scheduler().post(lifetime_.wrap([this, update] { downloadAndInstall(update); }));
}

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Creates `path` (and what leads to it) and keeps it to its owner.
bool makePrivateDirectory(const QString& path) {
    return QDir().mkpath(path) && QFile::setPermissions(path, ownerOnly);
}

QString folderNotCreated(const QString& path) { return QStringLiteral("The folder “%1” could not be created.").arg(path); }

}  // namespace

void AppUpdater::downloadAndInstall(const AppUpdateInfo& update) {
    const QString bundlePath = mainBundle().bundlePath();
    if (QFileInfo(bundlePath).suffix().toLower() != QLatin1String("app")) {
        failInstall({UpdaterError::nonBundleInstall, {}});
        return;
    }
    if (bundlePath.startsWith(QLatin1String("/Volumes/"))) {
        failInstall({UpdaterError::runningFromDiskImage, {}});
        return;
    }
    setInstallState(State::Kind::downloading);

    InstallFailure failure;
    const std::optional<QString> workingDirectory = makeWorkingDirectory(update, &failure);
    if (!workingDirectory) {
        failInstall(failure);
        return;
    }
    attemptDirectory_ = *workingDirectory;
    const QString archive = QDir(*workingDirectory).filePath(UpdatePackage::archiveFileName(update.downloadURL));
    platform::HttpRequest request{update.downloadURL, packageTimeout, packageByteLimit(update),
                                 packageDeadline(update, deadlines_)};
    request.onProgress = lifetime_.wrap([this](int64_t received) {
        if (packageWatch_) packageWatch_->received(received);
    });
    // However long the whole may take, a download that stops moving ends within the window.
    packageStalled_ = false;
    if (deadlines_.packageStallSeconds > 0) {
        packageWatch_.emplace(scheduler(), deadlines_.packageStallSeconds, deadlines_.packageStallMinimumBytes,
                              lifetime_.wrap([this] {
                                  packageStalled_ = true;
                                  packageTransfer_.cancel(platform::HttpError{platform::HttpError::Kind::Timeout,
                                                                              QStringLiteral("The download stopped moving."), {}});
                              }));
    }
    packageTransfer_ = http().download(
        request, archive,
        lifetime_.wrap([this, update, bundlePath, working = *workingDirectory, archive](platform::HttpResult result) {
            packageWatch_.reset();
            packageTransfer_ = {};
            if (!result.ok() && packageStalled_) {
                failInstall({UpdaterError::downloadFailed, {}});
                return;
            }
            if (!result.ok()) {
                const platform::HttpError& error = *result.error;
                switch (error.kind) {
                case platform::HttpError::Kind::InvalidURL:
                case platform::HttpError::Kind::InsecureRedirect:
                case platform::HttpError::Kind::Status:
                case platform::HttpError::Kind::BodyTooLarge:
                    failInstall({UpdaterError::downloadFailed, {}});
                    return;
                case platform::HttpError::Kind::Timeout:
                case platform::HttpError::Kind::Transport:
                case platform::HttpError::Kind::File:
                    failInstall({std::nullopt, error.description});
                    return;
                }
            }
            continueInstall(update, bundlePath, working, archive);
        }));
}

int64_t AppUpdater::packageByteLimit(const AppUpdateInfo& update) {
    // A body longer than announced is not the package the feed describes.
    if (!update.fileSizeBytes) return maxPackageBytes;
    return std::clamp<int64_t>(*update.fileSizeBytes, 0, maxPackageBytes);
}

double AppUpdater::packageDeadline(const AppUpdateInfo& update, const AppUpdaterDeadlines& deadlines) {
    const int64_t limit = packageByteLimit(update);
    // The watch lets a download run while each window brings its minimum, so the largest accepted
    // package may take that many windows: a slow link that keeps moving is never cut short.
    if (deadlines.packageStallSeconds > 0 && deadlines.packageStallMinimumBytes > 0) {
        const int64_t minimum = deadlines.packageStallMinimumBytes;
        const int64_t windows = limit / minimum + (limit % minimum != 0 ? 1 : 0);
        return deadlines.packageFloorSeconds + deadlines.packageStallSeconds * static_cast<double>(windows);
    }
    return deadlines.packageFloorSeconds + static_cast<double>(limit);  // no watch: a byte a second
}

void AppUpdater::continueInstall(const AppUpdateInfo& update, const QString& bundlePath, const QString& workingDirectory,
                                 const QString& archive) {
    // Hashing and unpacking take seconds on a large package: they run on a worker, and only
    // their outcomes come back to the main thread.
    platform::Scheduler* scheduler = &this->scheduler();
    auto verified = lifetime_.wrap([this, update, bundlePath, workingDirectory, archive](std::optional<QString> digest,
                                                                                         QString detail) {
        if (!digest) {
            failInstall({std::nullopt, detail});
            return;
        }
        if (*digest != update.sha256.trimmed().toLower()) {
            failInstall({UpdaterError::hashMismatch, {}});
            return;
        }
        setInstallState(State::Kind::extracting);
        auto extracted = lifetime_.wrap([this, update, bundlePath](std::optional<QString> bundle, InstallFailure failure) {
            finishInstall(update, bundlePath, bundle, failure);
        });
        this->scheduler().global([scheduler = &this->scheduler(), archive, workingDirectory, extracted] {
            InstallFailure failure;
            std::optional<QString> bundle = extractApplication(archive, workingDirectory, &failure);
            scheduler->post([extracted, bundle, failure]() mutable { extracted(bundle, failure); });
        });
    });
    scheduler->global([scheduler, archive, verified] {
        UpdatePackage::Failure failure;
        std::optional<QString> digest = UpdatePackage::sha256Hex(archive, &failure);
        scheduler->post([verified, digest, detail = failure.detail]() mutable { verified(digest, detail); });
    });
}

void AppUpdater::finishInstall(const AppUpdateInfo& update, const QString& bundlePath,
                               const std::optional<QString>& extracted, const InstallFailure& failure) {
    if (!extracted) {
        failInstall(failure);
        return;
    }
    if (std::optional<InstallFailure> refused = checkExtractedBundle(*extracted, update)) {
        failInstall(*refused);
        return;
    }
    setInstallState(State::Kind::installing);
    if (std::optional<InstallFailure> launchFailure = launchInstaller(bundlePath, *extracted)) {
        failInstall(*launchFailure);
        return;
    }
    // The script installs from this attempt's folder: it is no longer ours to remove.
    attemptDirectory_.clear();
    application().terminate();
}

void AppUpdater::setInstallState(State::Kind kind) {
    installState_ = State{kind, {}};
    state_ = installState_;
    changed();
}

void AppUpdater::failInstall(const InstallFailure& failure) {
    isInstalling_ = false;
    // A failed attempt's folder holds nothing worth keeping (a partial package or an unpacked
    // tree that was refused): the message below says what went wrong.
    if (!attemptDirectory_.isEmpty()) {
        scheduler().global([folder = std::exchange(attemptDirectory_, QString())] { QDir(folder).removeRecursively(); });
    }
    const QString message = failure.message();
    state_ = State::failed(message);
    lastErrorMessage_ = message;
    changed();
    presentErrorAlert(message, [] {});
}

QString AppUpdater::updaterDirectory() const {
    QString support = applicationSupportDirectory_;
    if (support.isEmpty()) support = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(support).filePath(QStringLiteral("Quillvex/Updater"));
}

std::optional<QString> AppUpdater::makeWorkingDirectory(const AppUpdateInfo& update, InstallFailure* failure) const {
    const QString updater = updaterDirectory();
    if (!makePrivateDirectory(updater)) {
        *failure = {std::nullopt, folderNotCreated(updater)};
        return std::nullopt;
    }
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString name = UpdatePackage::workingDirectoryName(update.version, uuid);
    const QString working = QDir(updater).filePath(name);
    if (!makePrivateDirectory(working)) {
        *failure = {std::nullopt, folderNotCreated(working)};
        return std::nullopt;
    }
    // Attempts that ended without this process cleaning up (a crash, a kill, an install that the
    // script finished) leave their folders: only the new one is needed.
    scheduler().global([updater, name] {
        static const QRegularExpression attempt(
            QStringLiteral("-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
        const QDir folder(updater);
        for (const QString& entry : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
            if (entry != name && attempt.match(entry).hasMatch()) QDir(folder.filePath(entry)).removeRecursively();
        }
    });
    return working;
}

std::optional<QString> AppUpdater::extractApplication(const QString& archive, const QString& workingDirectory,
                                                      InstallFailure* failure) {
    const QString extracted = QDir(workingDirectory).filePath(QStringLiteral("Extracted"));
    if (!makePrivateDirectory(extracted)) {
        *failure = {std::nullopt, folderNotCreated(extracted)};
        return std::nullopt;
    }
    UpdatePackage::Failure packageFailure;
    std::optional<UpdatePackage::Failure> extractFailure = UpdatePackage::extract(archive, extracted);
    std::optional<QString> bundle;
    if (!extractFailure) {
        bundle = UpdatePackage::findApplication(extracted, &packageFailure);
        if (!bundle) extractFailure = packageFailure;
    }
    if (!extractFailure) return bundle;
    switch (extractFailure->kind) {
    case UpdatePackage::Failure::Kind::File:
        *failure = {std::nullopt, extractFailure->detail};
        break;
    case UpdatePackage::Failure::Kind::Archive:
        *failure = {UpdaterError::processFailed, extractFailure->detail};
        break;
    case UpdatePackage::Failure::Kind::NotFound:
        *failure = {UpdaterError::extractedAppNotFound, {}};
        break;
    }
    return std::nullopt;
}

std::optional<AppUpdater::InstallFailure> AppUpdater::checkExtractedBundle(const QString& bundle,
                                                                        const AppUpdateInfo& update) const {
    // Only our own bundle at exactly the offered version may replace the running one.
    const QString infoPlist = platform::BundleInfo::infoPlistPath(bundle);
    const std::map<QString, QString> info = platform::BundleInfo::stringValues(infoPlist);
    const auto identifier = info.find(QStringLiteral("CFBundleIdentifier"));
    const QString expectedIdentifier = mainBundle().bundleIdentifier().value_or(QString::fromLatin1(ownBundleIdentifier));
    if (identifier == info.end() || identifier->second != expectedIdentifier) {
        return InstallFailure{UpdaterError::processFailed,
                              QStringLiteral("the bundle in the package is not %1").arg(expectedIdentifier)};
    }
    const InstalledAppVersion extracted = InstalledAppVersion::fromInfoPlist(infoPlist);
    const InstalledAppVersion offered{update.version, std::nullopt};
    const InstalledAppVersion extractedVersion{extracted.version, std::nullopt};
    const bool sameVersion = !(extractedVersion < offered) && !(offered < extractedVersion);
    if (!sameVersion || (update.build && extracted.build != update.build)) {
        return InstallFailure{UpdaterError::processFailed, QStringLiteral("the bundle in the package is version %1, not %2")
                                                               .arg(extracted.summary(), update.versionSummary())};
    }
    const QFileInfo executable(QDir(bundle).filePath(QStringLiteral("Contents/MacOS/Quillvex")));
    if (executable.isSymLink() || !executable.isFile() || !executable.isExecutable()) {
        return InstallFailure{UpdaterError::processFailed, QStringLiteral("the bundle in the package has no executable")};
    }
    return std::nullopt;
}

std::optional<AppUpdater::InstallFailure> AppUpdater::launchInstaller(const QString& currentApp,
                                                                   const QString& extractedApp) const {
    QString error;
    const std::optional<QString> script = InstallScript::write(updaterDirectory(), &error);
    if (!script) return InstallFailure{std::nullopt, error};
    const long long pid = processIdentifier_ ? processIdentifier_() : QCoreApplication::applicationPid();

    // The script sees only what it needs: no preloads, no shell start-up files. The session's
    // display and bus addresses go along so the relaunched application reaches the desktop.
    QStringList arguments{QStringLiteral("-i"), QStringLiteral("PATH=/usr/bin:/bin")};
    // The user's own XDG folders go along too, or the relaunched app would read default settings.
    for (const char* name : {"HOME", "LANG", "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR",
                             "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CACHE_HOME",
                             "DBUS_SESSION_BUS_ADDRESS"}) {
        if (qEnvironmentVariableIsSet(name)) {
            arguments << QString::fromLatin1(name) + QLatin1Char('=') + qEnvironmentVariable(name);
        }
    }
    arguments << QStringLiteral("/bin/bash") << *script << currentApp << extractedApp << QString::number(pid);
    platform::ProcessSpec spec;
    spec.program = QStringLiteral("/usr/bin/env");
    spec.arguments = arguments;
    if (!processes().startDetached(spec, &error)) return InstallFailure{std::nullopt, error};
    return std::nullopt;
}

bool AppUpdater::shouldPerformScheduledCheck(const QDateTime& now) const {
    const AppSettings settings(&defaults());
    // Hours so large that the seconds would not fit are held at the largest that do.
    constexpr int64_t maxHours = std::numeric_limits<int64_t>::max() / 3600;
    const int64_t hours = std::min(settings.updateCheckIntervalHours(), maxHours);
    const double interval = static_cast<double>(hours * 3600);
    const std::optional<QDateTime> last = settings.lastUpdateCheckAt();
    if (!last) return true;
    const double elapsed = static_cast<double>(last->msecsTo(now)) / 1000.0;
    return elapsed >= interval;
}

void AppUpdater::performCheck(bool promptIfAvailable, bool showNoUpdatePrompt, bool ignorePromptedVersion) {
    if (isChecking_) return;
    isChecking_ = true;
    state_ = State{State::Kind::checking, {}};
    lastErrorMessage_.reset();
    changed();
    fetchFeed(lifetime_.wrap([this, promptIfAvailable, showNoUpdatePrompt, ignorePromptedVersion](FeedOutcome outcome) {
        finishCheck(std::move(outcome), promptIfAvailable, showNoUpdatePrompt, ignorePromptedVersion);
    }));
}

void AppUpdater::fetchFeed(std::function<void(FeedOutcome)> done) {
    // The address as typed; the client refuses anything but a complete https address.
    const QUrl url(AppSettings(&defaults()).updateFeedURL(), QUrl::StrictMode);
    // The idle timeout alone lets a server that sends a byte now and then hold the check forever.
    const platform::HttpRequest request{url, feedTimeout, maxFeedBytes, deadlines_.feedSeconds};
    http().get(request, [done = std::move(done)](platform::HttpResult result) {
        if (!result.ok()) {
            const platform::HttpError& error = *result.error;
            switch (error.kind) {
            case platform::HttpError::Kind::InvalidURL:
                done(FeedOutcome{std::nullopt, updaterErrorDescription(UpdaterError::invalidFeedURL)});
                return;
            case platform::HttpError::Kind::Status:
            case platform::HttpError::Kind::InsecureRedirect:
            case platform::HttpError::Kind::BodyTooLarge:
                done(FeedOutcome{std::nullopt, updaterErrorDescription(UpdaterError::unexpectedResponse)});
                return;
            case platform::HttpError::Kind::Timeout:
            case platform::HttpError::Kind::Transport:
            case platform::HttpError::Kind::File:
                done(FeedOutcome{std::nullopt, error.description});
                return;
            }
        }
        AppUpdateInfo::Decoded decoded = AppUpdateInfo::decode(result.response->body);
        if (!decoded.info) {
            done(FeedOutcome{std::nullopt, decoded.error->description});
            return;
        }
        done(FeedOutcome{std::move(decoded.info), {}});
    });
}

void AppUpdater::finishCheck(FeedOutcome outcome, bool promptIfAvailable, bool showNoUpdatePrompt,
                             bool ignorePromptedVersion) {
    auto end = lifetime_.wrap([this] { isChecking_ = false; });
    if (!outcome.info) {
        lastErrorMessage_ = outcome.errorMessage;
        state_ = State::failed(outcome.errorMessage);
        changed();
        if (showNoUpdatePrompt) {
            presentErrorAlert(outcome.errorMessage, end);
        } else {
            end();
        }
        return;
    }

    const AppUpdateInfo& feed = *outcome.info;
    const InstalledAppVersion installed = installedVersion();
    const QDateTime checkedAt = now();
    lastCheckedAt_ = checkedAt;
    AppSettings(&defaults()).setLastUpdateCheckAt(checkedAt);

    if (installed < InstalledAppVersion{feed.version, feed.build}) {
        availableUpdate_ = feed;
        state_ = State{State::Kind::updateAvailable, {}};
        changed();
        if (!promptIfAvailable) {
            end();
            return;
        }
        const QString summary = feed.versionSummary();
        if (!ignorePromptedVersion &&
            defaults().stringValue(AppSettings::lastPromptedUpdateVersionKey) == std::optional<QString>(summary)) {
            end();
            return;
        }
        defaults().set(AppSettings::lastPromptedUpdateVersionKey, summary);
        presentUpdateAlert(feed, end);
        return;
    }

    availableUpdate_.reset();
    state_ = State{State::Kind::upToDate, {}};
    changed();
    if (showNoUpdatePrompt) {
        presentInfoAlert(L10n::noUpdateAvailable(), L10n::format(L10n::currentVersionIsLatestFormat(), currentVersionSummary()),
                         end);
    } else {
        end();
    }
}

QString AppUpdater::statusDescription() const {
    switch (state_.kind) {
    case State::Kind::idle:
        return L10n::updateStatusIdle();
    case State::Kind::checking:
        return L10n::updateStatusChecking();
    case State::Kind::upToDate:
        return L10n::updateStatusUpToDate();
    case State::Kind::updateAvailable:
        if (availableUpdate_) return L10n::format(L10n::updateStatusAvailableFormat(), availableUpdate_->versionSummary());
        return L10n::updateStatusAvailable();
    case State::Kind::downloading:
        return L10n::updateStatusDownloading();
    case State::Kind::extracting:
        return L10n::updateStatusExtracting();
    case State::Kind::installing:
        return L10n::updateStatusInstalling();
    case State::Kind::failed:
        return L10n::format(L10n::updateStatusFailedFormat(), state_.message);
    }
    return {};
}

QString AppUpdater::currentVersionSummary() const { return installedVersion().summary(); }

void AppUpdater::presentUpdateAlert(const AppUpdateInfo& update, std::function<void()> done) {
    platform::Alert alert;
    alert.style = platform::Alert::Style::Informational;
    alert.messageText = L10n::format(L10n::updateAvailableFormat(), update.versionSummary());
    QString informative = L10n::updateReadyToInstall();
    if (update.notes && !update.notes->isEmpty()) informative += QStringLiteral("\n\n") + *update.notes;
    informative += QStringLiteral("\n\n") + L10n::updateMayRequestAdminPassword();
    alert.informativeText = informative;
    alert.buttons = {L10n::installUpdate(), L10n::later()};
    runModal(std::move(alert), lifetime_.wrap([this, done = std::move(done)](int button) {
        if (button == 0) installAvailableUpdate();
        done();
    }));
}

void AppUpdater::presentInfoAlert(const QString& title, const QString& message, std::function<void()> done) {
    platform::Alert alert;
    alert.style = platform::Alert::Style::Informational;
    alert.messageText = title;
    alert.informativeText = message;
    alert.buttons = {L10n::ok()};
    runModal(std::move(alert), [done = std::move(done)](int) { done(); });
}

void AppUpdater::presentErrorAlert(const QString& message, std::function<void()> done) {
    platform::Alert alert;
    alert.style = platform::Alert::Style::Warning;
    alert.messageText = L10n::updateErrorTitle();
    alert.informativeText = message;
    alert.buttons = {L10n::ok()};
    runModal(std::move(alert), [done = std::move(done)](int) { done(); });
}

void AppUpdater::runModal(platform::Alert alert, std::function<void(int)> done) {
    platform::Application& application = this->application();
    const platform::ActivationPolicy previous = application.activationPolicy();
    const bool switched = previous != platform::ActivationPolicy::Regular;
    if (switched) application.setActivationPolicy(platform::ActivationPolicy::Regular);
    application.activate(true);
    alerts().present(std::move(alert), lifetime_.wrap([this, &application, previous, switched, done = std::move(done)](int button) {
        // Put back a moment later, so the closing alert is not cut short by the policy change.
        if (switched) {
            scheduler().after(0.1, lifetime_.wrap([&application, previous] { application.setActivationPolicy(previous); }));
        }
        done(button);
    }));
}

QDateTime AppUpdater::now() const { return wallClockNow(scheduler()); }

InstalledAppVersion AppUpdater::installedVersion() const {
    return installedVersion_ ? installedVersion_() : InstalledAppVersion::current();
}

platform::Defaults& AppUpdater::defaults() const { return defaults_ ? *defaults_ : platform::Defaults::standard(); }
platform::Scheduler& AppUpdater::scheduler() const { return scheduler_ ? *scheduler_ : platform::Scheduler::shared(); }
platform::HttpClient& AppUpdater::http() const { return http_ ? *http_ : platform::HttpClient::shared(); }
platform::AlertPresenter& AppUpdater::alerts() const { return alerts_ ? *alerts_ : platform::AlertPresenter::shared(); }
platform::ProcessLauncher& AppUpdater::processes() const {
    return processes_ ? *processes_ : platform::ProcessLauncher::system();
}
const platform::MainBundle& AppUpdater::mainBundle() const { return bundle_ ? *bundle_ : platform::MainBundle::shared(); }
platform::Application& AppUpdater::application() const {
    return application_ ? *application_ : platform::Application::shared();
}
