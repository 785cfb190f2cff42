#pragma once

// Asks for the screenshot activity whenever a new screenshot file appears in the folder the
// desktop saves screenshots into. A file counts by its name alone; the names already there at
// start are remembered, so only new ones count, each once however many events it produces.

#include "core/event_bus.h"
#include "platform/files/directory_watcher.h"
#include "platform/files/user_folders.h"
#include "platform/runtime/dispatch.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class ScreenshotService {
public:
    static constexpr double eventLatency = 0.5;

    static ScreenshotService& shared();

    explicit ScreenshotService(EventBus& bus = EventBus::shared(),
                               platform::Scheduler& scheduler = platform::Scheduler::shared(),
                               platform::DirectoryWatcher& watcher = platform::DirectoryWatcher::system(),
                               const platform::UserFolders& folders = platform::UserFolders::system());
    ScreenshotService(const ScreenshotService&) = delete;
    ScreenshotService& operator=(const ScreenshotService&) = delete;

    // Resolves the folder off the main thread, then takes stock of it and starts watching.
    void start();
    // Always runs and logs, running or not.
    void stop();

    bool isRunning() const { return isRunning_; }
    bool isWatching() const { return eventStream_ != nullptr; }
    // Kept after stop until the next start resolves it again.
    const QString& screenshotDirectory() const { return screenshotDir_; }
    const QSet<QString>& knownFiles() const { return knownFiles_; }

    // Case-insensitive: a screenshot tool's word in the name and an image extension.
    static bool isScreenshotName(const QString& name);

private:
    // Blocking (it may read the screenshot tool's settings).
    static QString getScreenshotDirectory(const platform::UserFolders& folders);
    void snapshotExistingFiles();
    void startFSEvents();
    void handleFSEvent(const QStringList& paths);

    EventBus& bus;
    platform::Scheduler& scheduler_;
    platform::DirectoryWatcher& watcher_;
    const platform::UserFolders& folders_;
    bool isRunning_ = false;
    std::unique_ptr<platform::DirectoryWatch> eventStream_;
    QSet<QString> knownFiles_;
    QString screenshotDir_;
    // Counts starts and stops, so a folder resolved for an earlier run is dropped.
    uint64_t runGeneration_ = 0;
    platform::Lifetime lifetime_;
};
