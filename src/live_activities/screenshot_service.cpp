#include "live_activities/screenshot_service.h"

#include "core/log.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString expandTilde(const QString& path, const QString& home) {
    if (path == QStringLiteral("~")) return home;
    if (path.startsWith(QStringLiteral("~/"))) return home + path.mid(1);
    return path;
}

}  // namespace

ScreenshotService& ScreenshotService::shared() {
    static auto* instance = new ScreenshotService();
    return *instance;
}

ScreenshotService::ScreenshotService(EventBus& bus, platform::Scheduler& scheduler, platform::DirectoryWatcher& watcher,
                                     const platform::UserFolders& folders)
    : bus(bus), scheduler_(scheduler), watcher_(watcher), folders_(folders) {}

bool ScreenshotService::isScreenshotName(const QString& name) {
    const QString lower = name.toLower();
    const bool named = lower.contains(QStringLiteral("screenshot")) ||
                       lower.contains(QStringLiteral("スクリーンショット")) || lower.contains(QStringLiteral("cleanshot"));
    if (!named) return false;
    for (const char* extension : {".png", ".jpg", ".jpeg", ".tiff"})
        if (lower.endsWith(QLatin1String(extension))) return true;
    return false;
}

QString ScreenshotService::getScreenshotDirectory(const platform::UserFolders& folders) {
    const QString home = folders.homeDirectory();
    const QString desktop = home + QStringLiteral("/Desktop");
    if (const auto location = folders.screenshotLocation()) {
        const QString expanded = expandTilde(*location, home);
        // On a fresh account neither exists yet: the screenshot tool makes its own folder at its
        // first save, so that is the one to wait for.
        if (QFileInfo::exists(expanded) || !QFileInfo::exists(desktop)) return expanded;
    }
    return desktop;
}

void ScreenshotService::start() {
    if (isRunning_) return;
    isRunning_ = true;
    const uint64_t run = ++runGeneration_;
    auto resolved = lifetime_.wrap([this, run](const QString& folder) {
        if (!isRunning_ || run != runGeneration_) return;  // stopped (and maybe started again) meanwhile
        screenshotDir_ = folder;
        snapshotExistingFiles();
        startFSEvents();
        Log::shared().info(QStringLiteral("ScreenshotService: Started watching ") + screenshotDir_);
    });
    // The screenshot tool's settings are the user's files: read off the main thread.
    scheduler_.global([&folders = folders_, &scheduler = scheduler_, resolved]() mutable {
        const QString folder = getScreenshotDirectory(folders);
        scheduler.post([resolved, folder]() mutable { resolved(folder); });
    });
}

void ScreenshotService::stop() {
    isRunning_ = false;
    ++runGeneration_;
    if (eventStream_) {
        eventStream_->stop();
        eventStream_.reset();
    }
    knownFiles_.clear();
    Log::shared().info(QStringLiteral("ScreenshotService: Stopped"));
}

void ScreenshotService::snapshotExistingFiles() {
    knownFiles_.clear();
    const QFileInfo folder(screenshotDir_);
    if (!folder.isDir() || !folder.isReadable()) return;
    const QStringList names =
        QDir(screenshotDir_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        if (isScreenshotName(name)) knownFiles_.insert(name);
    Log::shared().info(QStringLiteral("ScreenshotService: Found ") + QString::number(knownFiles_.size()) +
                       QStringLiteral(" existing screenshots"));
}

void ScreenshotService::startFSEvents() {
    // Only the folder's own entries: inotify does not follow subfolders, so a screenshot saved
    // into one is never seen (the name test below would only count it when the folder itself
    // held the same name). A folder not made yet is waited for.
    auto started = watcher_.watchOnceItExists(screenshotDir_, eventLatency,
                                  lifetime_.wrap([this](const std::vector<platform::DirectoryEvent>& batch) {
                                      QStringList paths;
                                      paths.reserve(static_cast<qsizetype>(batch.size()));
                                      for (const auto& event : batch) paths << event.path;
                                      handleFSEvent(paths);
                                  }));
    if (!started) {
        Log::shared().warning(QStringLiteral("ScreenshotService: Failed to create FSEventStream"));
        return;
    }
    eventStream_ = std::move(started.watch);
}

void ScreenshotService::handleFSEvent(const QStringList& paths) {
    if (!isRunning_ || paths.isEmpty()) return;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        if (!isScreenshotName(name)) continue;
        if (knownFiles_.contains(name)) continue;
        // The folder's own entry: a name reported but already gone may still count later.
        if (!QFileInfo::exists(screenshotDir_ + QLatin1Char('/') + name)) continue;
        knownFiles_.insert(name);
        Log::shared().info(QStringLiteral("ScreenshotService: New screenshot: ") + name);
        scheduler_.post(lifetime_.wrap([this] { bus.liveActivityEventSubject.send(LiveActivityType::screenshot); }));
    }
}
