#include "platform/files/directory_watcher.h"
#include "support/virtual_scheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::DirectoryEvent;
using Kind = platform::DirectoryEvent::Kind;

namespace {

// The inotify instances this process holds: every watch has one of its own.
int inotifyInstances() {
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds) return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(fds)) {
        char target[64] = {};
        const QByteArray link = QByteArray("/proc/self/fd/") + entry->d_name;
        if (::readlink(link.constData(), target, sizeof target - 1) > 0 && QByteArray(target) == "anon_inode:inotify") ++count;
    }
    ::closedir(fds);
    return count;
}

class DirectoryWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = QDir(dir.path()).canonicalPath();
    }

    // The inotify queue is filled by the time a file call returns; a few turns of the event
    // loop let the notifier read it. Time itself is virtual.
    static void pumpEvents() {
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    }

    platform::DirectoryWatcher::StartResult start(double latency) {
        return watcher.watch(folder, latency, [this](const std::vector<DirectoryEvent>& batch) { batches.push_back(batch); });
    }

    QString path(const char* name) const { return folder + "/" + name; }

    static void writeFile(const QString& file, const QByteArray& first, const QByteArray& second) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, first.constData(), first.size()), first.size());
        ASSERT_EQ(::write(fd, second.constData(), second.size()), second.size());
        ::close(fd);
    }

    QTemporaryDir dir;
    QString folder;
    platform::VirtualScheduler scheduler;
    platform::InotifyDirectoryWatcher watcher{scheduler};
    std::vector<std::vector<DirectoryEvent>> batches;
};

TEST_F(DirectoryWatcherTest, EventsWithinTheLatencyArriveAsOneOrderedBatch) {
    auto watch = start(0.5);
    ASSERT_TRUE(watch) << watch.errorText.toStdString();

    writeFile(path("a"), "x", "y");
    writeFile(path("z"), "1", "");
    writeFile(path("a"), "x", "y");  // the same events again: given once
    pumpEvents();
    scheduler.advance(0.3);
    EXPECT_TRUE(batches.empty());

    ASSERT_EQ(::rename(QFile::encodeName(path("a")).constData(), QFile::encodeName(path("b")).constData()), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path("b")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::remove(path("b")));
    pumpEvents();
    scheduler.advance(0.19);
    EXPECT_TRUE(batches.empty());
    scheduler.advance(0.01);  // the latency counts from the first event

    ASSERT_EQ(batches.size(), 1u);
    const std::vector<DirectoryEvent> expected{
        {path("a"), Kind::Created},   {path("a"), Kind::Modified},          {path("a"), Kind::ClosedWrite},
        {path("z"), Kind::Created},   {path("z"), Kind::Modified},          {path("z"), Kind::ClosedWrite},
        {path("a"), Kind::MovedFrom}, {path("b"), Kind::MovedTo},           {path("b"), Kind::AttributesChanged},
        {path("b"), Kind::Deleted},
    };
    EXPECT_EQ(batches[0], expected);

    // The next event starts a new batch.
    writeFile(path("c"), "1", "");
    pumpEvents();
    scheduler.advance(0.5);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[1].front(), (DirectoryEvent{path("c"), Kind::Created}));
}

TEST_F(DirectoryWatcherTest, StopEndsDeliveriesIncludingOneAlreadyDue) {
    auto watch = start(0.2);
    ASSERT_TRUE(watch);
    writeFile(path("a"), "x", "");
    pumpEvents();
    watch.watch->stop();
    scheduler.advance(1);
    writeFile(path("b"), "x", "");
    pumpEvents();
    scheduler.advance(1);
    EXPECT_TRUE(batches.empty());
    watch.watch->stop();  // again: harmless

    // Stopped, or destroyed outright, from inside its own delivery.
    auto selfStopping = watcher.watch(folder, 0.2, [&](const std::vector<DirectoryEvent>& batch) {
        batches.push_back(batch);
        watch.watch.reset();
    });
    ASSERT_TRUE(selfStopping);
    watch.watch = std::move(selfStopping.watch);
    writeFile(path("c"), "x", "");
    pumpEvents();
    scheduler.advance(0.2);
    EXPECT_EQ(batches.size(), 1u);
    EXPECT_FALSE(watch.watch);
}

// The kernel allows a user few inotify instances: none may outlive its watch. And a descriptor
// closed once is never closed again, whoever holds its number by then.
TEST_F(DirectoryWatcherTest, EveryWatchClosesItsDescriptorOnceAndNoOtherOne) {
    const int before = inotifyInstances();
    ASSERT_GE(before, 0);
    const bool inputOpen = ::fcntl(STDIN_FILENO, F_GETFD) != -1;
    EXPECT_FALSE(watcher.watch(path("absent"), 0.1, [](const auto&) {}));
    EXPECT_EQ(inotifyInstances(), before);

    auto watch = start(0.1);
    ASSERT_TRUE(watch);
    EXPECT_EQ(inotifyInstances(), before + 1);
    watch.watch->stop();
    EXPECT_EQ(inotifyInstances(), before);

    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);  // the lowest free number: most likely its old one
    ASSERT_GE(reused, 0);
    watch.watch->stop();
    watch.watch.reset();
    EXPECT_NE(::fcntl(reused, F_GETFD), -1);
    EXPECT_EQ(::fcntl(STDIN_FILENO, F_GETFD) != -1, inputOpen);
    ::close(reused);

    // A watch whose folder went away still holds its instance until it is stopped.
    auto ended = start(0.1);
    ASSERT_TRUE(ended);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    pumpEvents();
    scheduler.advance(0.1);
    ASSERT_EQ(batches.size(), 1u);
    ended.watch.reset();
    EXPECT_EQ(inotifyInstances(), before);
}

TEST_F(DirectoryWatcherTest, TheFolderGoingAwayIsReportedOnce) {
    auto watch = start(0.1);
    ASSERT_TRUE(watch);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    pumpEvents();
    scheduler.advance(0.1);
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], (std::vector<DirectoryEvent>{{folder, Kind::Deleted}}));
    pumpEvents();
    scheduler.advance(1);
    EXPECT_EQ(batches.size(), 1u);
}

TEST_F(DirectoryWatcherTest, MissingFileOrUnreadableFolderFailsClearly) {
    auto missing = watcher.watch(path("absent"), 0.1, [](const auto&) {});
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.errorText, "No such file or directory");

    writeFile(path("plain"), "x", "");
    auto file = watcher.watch(path("plain"), 0.1, [](const auto&) {});
    EXPECT_FALSE(file);
    EXPECT_EQ(file.errorText, "Not a directory");

    EXPECT_FALSE(watcher.watch(QString(), 0.1, [](const auto&) {}));

    if (::geteuid() != 0) {  // root reads every folder
        ASSERT_TRUE(QDir(folder).mkdir("locked"));
        ::chmod(QFile::encodeName(path("locked")).constData(), 0);
        auto locked = watcher.watch(path("locked"), 0.1, [](const auto&) {});
        EXPECT_FALSE(locked);
        EXPECT_EQ(locked.errorText, "Permission denied");
        ::chmod(QFile::encodeName(path("locked")).constData(), 0700);
    }
}

}  // namespace
