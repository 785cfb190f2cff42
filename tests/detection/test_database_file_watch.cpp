// The inotify watcher and the detector on real files, driven by Qt's event loop without waiting:
// a write queues its event in the kernel at once, so one pass of processEvents() delivers it.

#include "platform/files/file_watcher.h"
#include "test_database_fixture.h"

#include <QCoreApplication>
#include <QFile>

namespace {

void append(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(bytes);
}

}  // namespace

TEST(InotifyFileWatcherTest, OneCallPerBatchOfWritesAndSafeSelfRelease) {
    QTemporaryDir dir;
    const QString path = dir.filePath("watched");
    append(path, "a");
    platform::InotifyFileWatcher watcher;
    EXPECT_FALSE(watcher.watchWrites(dir.filePath("missing"), [] {}));

    int calls = 0;
    std::unique_ptr<platform::FileEventSource> source = watcher.watchWrites(path, [&] { ++calls; });
    ASSERT_TRUE(source);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
    append(path, "b");
    append(path, "c");
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);

    // A handler that releases its own watch.
    source = watcher.watchWrites(path, [&] {
        ++calls;
        source.reset();
    });
    append(path, "d");
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(source);
    append(path, "e");
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(calls, 2);
}

using DatabaseFileWatchTest = DatabaseDetectorTest;

TEST_F(DatabaseFileWatchTest, CommittedInsertReachesTheBusWithinOneFileEvent) {
    store();
    platform::InotifyFileWatcher inotify;
    NotificationDatabaseDetector detector(bus, scheduler(), workspace, directories, fileAccess, inotify);
    ASSERT_TRUE(detector.start());
    ASSERT_TRUE(detector.isFileMonitored());
    for (int i = 1; i <= 3; ++i) {
        post("com.example.Mail", QStringLiteral("Live %1").arg(i));
        QCoreApplication::processEvents();
        ASSERT_EQ(received.size(), static_cast<size_t>(i));
    }
    EXPECT_EQ(messages(), (QStringList{"Live 1", "Live 2", "Live 3"}));
    EXPECT_EQ(scheduler().elapsed(), 0.0);  // no timer tick was needed
}
