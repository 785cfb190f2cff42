// The screenshot service over a real folder watched through inotify; time is virtual, so a batch
// arrives only when the test moves the clock past the latency.

#include "core/event_bus.h"
#include "live_activities/screenshot_service.h"
#include "platform/files/directory_watcher.h"
#include "support/fake_directory_watcher.h"
#include "support/fake_user_folders.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using platform::DirectoryEvent;

namespace {

const QString kScreenshot = QStringLiteral("Screenshot 2024-01-01 at 10.00.00.png");

class ScreenshotServiceTest : public ::testing::Test {
protected:
    ScreenshotServiceTest() {
        home = QDir(root.path()).canonicalPath();
        folder = home + QStringLiteral("/Pictures/Screenshots");
        QDir().mkpath(folder);
        folders.home = home;
        folders.screenshots = folder;
        subscription = bus.liveActivityEventSubject.sink([this](const std::optional<LiveActivityType>& type) {
            events.push_back(type);
        });
    }

    static void pumpEvents() {
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    }
    // Lets inotify's events in and the batch's latency pass, then runs what the batch posted.
    void settle() {
        pumpEvents();
        scheduler.advance(ScreenshotService::eventLatency);
        scheduler.drain();
    }
    QString in(const QString& name) const { return folder + QLatin1Char('/') + name; }
    int screenshotEvents() const {
        return static_cast<int>(std::count(events.begin(), events.end(), LiveActivityType::screenshot));
    }

    QTemporaryDir root;
    QString home;
    QString folder;
    testsupport::LogCapture log;
    platform::VirtualScheduler scheduler;
    EventBus bus{scheduler};
    platform::InotifyDirectoryWatcher watcher{scheduler};
    testsupport::FakeUserFolders folders;
    ScreenshotService service{bus, scheduler, watcher, folders};
    std::vector<std::optional<LiveActivityType>> events;
    platform::AnyCancellable subscription;
};

TEST_F(ScreenshotServiceTest, ANewScreenshotGivesOneEventAfterTheLatencyAndItsLaterChangesNone) {
    service.start();
    scheduler.drain();
    EXPECT_EQ(log.texts(), (QStringList{"ScreenshotService: Found 0 existing screenshots",
                                        "ScreenshotService: Started watching " + folder}));

    ASSERT_TRUE(testsupport::writeFile(in(kScreenshot), "png"));
    pumpEvents();
    scheduler.advance(0.49);
    EXPECT_TRUE(events.empty());
    scheduler.advance(0.01);
    EXPECT_EQ(events, (std::vector<std::optional<LiveActivityType>>{LiveActivityType::screenshot}));
    EXPECT_EQ(log.count("ScreenshotService: New screenshot: " + kScreenshot), 1);

    ASSERT_TRUE(testsupport::writeFile(in(kScreenshot), "png, edited"));
    ASSERT_EQ(::chmod(QFile::encodeName(in(kScreenshot)).constData(), 0600), 0);
    settle();
    EXPECT_EQ(screenshotEvents(), 1);
    EXPECT_EQ(log.matching("ScreenshotService: New screenshot: ").size(), 1);
}

TEST_F(ScreenshotServiceTest, OnlyScreenshotNamesWithAnImageExtensionCountEachOnceInOneBatch) {
    EXPECT_TRUE(ScreenshotService::isScreenshotName("CleanShot 2024-01-01 at 10.00.00.PNG"));
    EXPECT_TRUE(ScreenshotService::isScreenshotName(QStringLiteral("スクリーンショット 2024-01-01 10.00.00.png")));
    EXPECT_TRUE(ScreenshotService::isScreenshotName("Screenshot_20260102_101113.jpeg"));
    EXPECT_TRUE(ScreenshotService::isScreenshotName("SCREENSHOT.TIFF"));
    EXPECT_TRUE(ScreenshotService::isScreenshotName("my screenshot.jpg"));
    EXPECT_FALSE(ScreenshotService::isScreenshotName("screenshot.gif"));
    EXPECT_FALSE(ScreenshotService::isScreenshotName("photo.png"));
    EXPECT_FALSE(ScreenshotService::isScreenshotName("Screenshot.png.part"));
    EXPECT_FALSE(ScreenshotService::isScreenshotName("Screenshots"));

    service.start();
    scheduler.drain();
    const QStringList counted{"CleanShot 2024-01-01 at 10.00.00.PNG", QStringLiteral("スクリーンショット 2024-01-01 10.00.00.png"),
                              "Screenshot from 2026-01-02 10-11-12.png"};
    for (const QString& name : counted) ASSERT_TRUE(testsupport::writeFile(in(name), "x"));
    ASSERT_TRUE(testsupport::writeFile(in("screenshot.gif"), "x"));
    ASSERT_TRUE(testsupport::writeFile(in("photo.png"), "x"));
    settle();
    EXPECT_EQ(screenshotEvents(), 3);
    EXPECT_EQ(service.knownFiles(), QSet<QString>(counted.begin(), counted.end()));

    // Written elsewhere and renamed in, as GNOME's tool does: counted once, under its final name.
    ASSERT_TRUE(testsupport::writeFile(home + "/tmp.png", "x"));
    ASSERT_TRUE(QFile::rename(home + "/tmp.png", in("Screenshot from 2026-01-02 10-11-13.png")));
    settle();
    EXPECT_EQ(screenshotEvents(), 4);
}

TEST_F(ScreenshotServiceTest, ScreenshotsPresentAtStartAreRememberedAndARestartSnapshotsAfresh) {
    ASSERT_TRUE(testsupport::writeFile(in(kScreenshot), "x"));
    ASSERT_TRUE(testsupport::writeFile(in("CleanShot 1.png"), "x"));
    ASSERT_TRUE(testsupport::writeFile(in("photo.png"), "x"));
    service.stop();  // stop always runs and logs; start is guarded
    service.start();
    scheduler.drain();
    service.start();
    scheduler.drain();
    EXPECT_EQ(log.count("ScreenshotService: Stopped"), 1);
    EXPECT_EQ(log.matching("ScreenshotService: Started watching").size(), 1);
    EXPECT_TRUE(log.contains("ScreenshotService: Found 2 existing screenshots"));
    ASSERT_TRUE(testsupport::writeFile(in(kScreenshot), "changed"));
    settle();
    EXPECT_TRUE(events.empty());

    service.stop();
    service.stop();
    EXPECT_EQ(log.count("ScreenshotService: Stopped"), 3);
    EXPECT_FALSE(service.isRunning());
    EXPECT_TRUE(service.knownFiles().isEmpty());
    EXPECT_EQ(service.screenshotDirectory(), folder);
    ASSERT_TRUE(testsupport::writeFile(in("Screenshot while stopped.png"), "x"));
    settle();
    EXPECT_TRUE(events.empty());

    log.clear();
    service.start();
    scheduler.drain();
    EXPECT_TRUE(log.contains("ScreenshotService: Found 3 existing screenshots"));
    settle();
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(testsupport::writeFile(in("Screenshot after restart.png"), "x"));
    settle();
    EXPECT_EQ(screenshotEvents(), 1);
}

TEST_F(ScreenshotServiceTest, AMissingOrUnsetLocationFallsBackToTheDesktop) {
    const QString desktop = home + "/Desktop";
    QDir().mkpath(desktop);
    folders.screenshots = home + "/Pictures/Nowhere";
    service.start();
    scheduler.drain();
    EXPECT_EQ(service.screenshotDirectory(), desktop);
    EXPECT_TRUE(log.contains("ScreenshotService: Started watching " + desktop));
    ASSERT_TRUE(testsupport::writeFile(desktop + "/" + kScreenshot, "x"));
    settle();
    EXPECT_EQ(screenshotEvents(), 1);
    service.stop();

    folders.screenshots.reset();
    service.start();
    scheduler.drain();
    EXPECT_EQ(service.screenshotDirectory(), desktop);
    service.stop();

    // A location written with a tilde means the home folder.
    folders.screenshots = QStringLiteral("~/Pictures/Screenshots");
    service.start();
    scheduler.drain();
    EXPECT_EQ(service.screenshotDirectory(), folder);
    service.stop();
}

TEST_F(ScreenshotServiceTest, OnAFreshAccountTheScreenshotFolderIsAwaitedAndItsFirstScreenshotCounts) {
    QDir(home + "/Pictures").removeRecursively();  // neither the screenshot folder nor the Desktop
    service.start();
    scheduler.drain();
    EXPECT_TRUE(service.isWatching());
    EXPECT_EQ(log.texts(), QStringList{"ScreenshotService: Started watching " + folder});

    // The tool makes both folders and saves at once, before a watch on them could begin.
    ASSERT_TRUE(testsupport::writeFile(in(kScreenshot), "png"));
    settle();
    EXPECT_EQ(screenshotEvents(), 1);
    ASSERT_TRUE(testsupport::writeFile(in("Screenshot 2.png"), "png"));
    settle();
    EXPECT_EQ(screenshotEvents(), 2);

    // Removed and made again: waited for again.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    settle();
    ASSERT_TRUE(testsupport::writeFile(in("Screenshot 3.png"), "png"));
    settle();
    EXPECT_EQ(screenshotEvents(), 3);
    EXPECT_EQ(log.count("ScreenshotService: New screenshot: Screenshot 3.png"), 1);
}

TEST(ScreenshotServiceEvents, ANameNoLongerInTheFolderIsSkippedAndMayCountLater) {
    QTemporaryDir root;
    testsupport::LogCapture log;
    platform::VirtualScheduler scheduler;
    EventBus bus{scheduler};
    testsupport::FakeDirectoryWatcher watcher;
    testsupport::FakeUserFolders folders;
    folders.home = root.path();
    folders.screenshots = root.path();
    ScreenshotService service{bus, scheduler, watcher, folders};
    int events = 0;
    auto subscription = bus.liveActivityEventSubject.sink([&](const auto&) { ++events; });
    service.start();
    scheduler.drain();
    EXPECT_EQ(watcher.latencyFor(root.path()), 0.5);

    const QString path = root.path() + "/" + kScreenshot;
    watcher.deliver(root.path(), {{path, DirectoryEvent::Kind::Created}, {path, DirectoryEvent::Kind::Deleted}});
    scheduler.drain();
    EXPECT_EQ(events, 0);
    EXPECT_TRUE(service.knownFiles().isEmpty());

    // Reported from a subfolder's path: the folder's own entry decides.
    ASSERT_TRUE(testsupport::writeFile(path, "x"));
    watcher.deliver(root.path(), {{root.path() + "/sub/" + kScreenshot, DirectoryEvent::Kind::Created}});
    scheduler.drain();
    EXPECT_EQ(events, 1);

    service.stop();
    EXPECT_EQ(watcher.activeWatchCount(), 0);
    EXPECT_EQ(watcher.deliver(root.path(), {{root.path() + "/Screenshot 2.png", DirectoryEvent::Kind::Created}}), 0);

    // No folder on the way to a missing one can be watched: reported; the service stays running.
    watcher.failFor(root.path(), "Permission denied");
    folders.screenshots = root.path() + "/Pictures/Screenshots";
    service.start();
    scheduler.drain();
    EXPECT_TRUE(service.isRunning());
    EXPECT_FALSE(service.isWatching());
    EXPECT_TRUE(log.contains(platform::LogLevel::Warning, "ScreenshotService: Failed to create FSEventStream"));
}

}  // namespace

TEST(XdgUserFolders, TheScreenshotFolderIsInThePicturesFolderTheUserDirectoriesName) {
    testsupport::ScopedTempHome home;
    platform::XdgUserFolders folders;
    ASSERT_TRUE(testsupport::writeFile(home.configPath() + "/user-dirs.dirs",
                                       "XDG_PICTURES_DIR=\"$HOME/Bilder\"\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"));
    QDir().mkpath(home.path() + "/Bilder");
    QDir().mkpath(home.path() + "/Downloads");
    EXPECT_EQ(folders.screenshotLocation(), home.path() + "/Bilder/Screenshots");
    EXPECT_EQ(folders.downloadDirectory(), home.path() + "/Downloads");
    EXPECT_EQ(folders.homeDirectory(), home.path());
}

// Each desktop's own tool says where its screenshots go; the pictures folder the user directories
// name is where the defaults start.
TEST(XdgUserFolders, TheScreenshotFolderIsWhereTheDesktopsOwnToolSaves) {
    testsupport::ScopedTempHome home;
    testsupport::ScopedEnvironment env;
    platform::XdgUserFolders folders;
    const QString config = home.configPath();
    ASSERT_TRUE(testsupport::writeFile(config + "/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"));
    QDir().mkpath(home.path() + "/Bilder");
    const QString pictures = home.path() + "/Bilder";

    env.set("XDG_CURRENT_DESKTOP", "KDE");
    EXPECT_EQ(folders.screenshotLocation(), pictures + "/Screenshots");  // Spectacle's default
    ASSERT_TRUE(testsupport::writeFile(config + "/spectaclerc", "[Save]\ndefaultSaveLocation=file://" +
                                                                     home.path().toUtf8() + "/Old%20Shots/\n"));
    EXPECT_EQ(folders.screenshotLocation(), home.path() + "/Old Shots");
    ASSERT_TRUE(testsupport::writeFile(config + "/spectaclerc", "[General]\nimageSaveLocation=file:///elsewhere\n"
                                                                     "[ImageSave]\nimageSaveLocation[$e]=$HOME/Shots/\n"));
    EXPECT_EQ(folders.screenshotLocation(), home.path() + "/Shots");

    env.set("XDG_CURRENT_DESKTOP", "XFCE");
    EXPECT_EQ(folders.screenshotLocation(), pictures);  // xfce4-screenshooter's default
    ASSERT_TRUE(QDir().mkpath(config + "/xfce4"));
    ASSERT_TRUE(testsupport::writeFile(config + "/xfce4/xfce4-screenshooter",
                                       "app=ristretto\nscreenshot_dir=file://" + home.path().toUtf8() + "/Captures\n"));
    EXPECT_EQ(folders.screenshotLocation(), home.path() + "/Captures");

    // GNOME, and a desktop whose tool keeps no folder of its own, use GNOME's folder; another
    // desktop's tool settings do not count there.
    for (const char* desktop : {"ubuntu:GNOME", "MATE", ""}) {
        env.set("XDG_CURRENT_DESKTOP", desktop);
        EXPECT_EQ(folders.screenshotLocation(), pictures + "/Screenshots") << desktop;
    }
    // A setting that names no local folder is no setting.
    env.set("XDG_CURRENT_DESKTOP", "KDE");
    ASSERT_TRUE(testsupport::writeFile(config + "/spectaclerc", "[ImageSave]\nimageSaveLocation=smb://server/shots\n"));
    EXPECT_EQ(folders.screenshotLocation(), pictures + "/Screenshots");
}

// On KDE a screenshot saved where Spectacle is set to save, named as Spectacle names it, counts.
TEST(ScreenshotServiceOnTheDesktop, ScreenshotsOfTheDesktopsToolAreSeen) {
    testsupport::ScopedTempHome home;
    testsupport::ScopedEnvironment env;
    env.set("XDG_CURRENT_DESKTOP", "KDE");
    const QString shots = QDir(home.path()).canonicalPath() + "/Shots";
    ASSERT_TRUE(QDir().mkpath(shots));
    ASSERT_TRUE(testsupport::writeFile(home.configPath() + "/spectaclerc",
                                       "[ImageSave]\nimageSaveLocation=file://" + shots.toUtf8() + "/\n"));
    testsupport::LogCapture log;
    platform::VirtualScheduler scheduler;
    EventBus bus{scheduler};
    platform::InotifyDirectoryWatcher watcher{scheduler};
    platform::XdgUserFolders folders;
    ScreenshotService service{bus, scheduler, watcher, folders};
    int events = 0;
    auto subscription = bus.liveActivityEventSubject.sink([&](const auto&) { ++events; });
    service.start();
    EXPECT_FALSE(service.isWatching());  // the folder is being resolved off the main thread
    scheduler.drain();
    EXPECT_TRUE(log.contains("ScreenshotService: Started watching " + shots));

    ASSERT_TRUE(testsupport::writeFile(shots + "/Screenshot_20260102_101113.png", "png"));
    ASSERT_TRUE(testsupport::writeFile(shots + "/notes.png", "png"));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    scheduler.advance(ScreenshotService::eventLatency);
    scheduler.drain();
    EXPECT_EQ(events, 1);
    EXPECT_TRUE(log.contains("ScreenshotService: New screenshot: Screenshot_20260102_101113.png"));

    // Stopped before the folder was resolved: nothing starts.
    service.stop();
    service.start();
    service.stop();
    log.clear();
    scheduler.drain();
    EXPECT_FALSE(service.isWatching());
    EXPECT_TRUE(log.matching("ScreenshotService: Started watching").isEmpty());
}
