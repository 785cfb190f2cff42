// The desktop notification recorder on a private session bus with python3-dbusmock's
// notification daemon: what it writes, that it only watches, and how the store is kept.

#include "platform/notification_store/desktop_notification_recorder.h"
#include "platform/notification_store/notification_store_writer.h"

#include "detection/notification_record_decoder.h"
#include "detection/property_list.h"
#include "platform/files/file_access_probe.h"
#include "support/held_locks.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

using namespace std::chrono_literals;

namespace {

template <class F>
bool spinUntil(F done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

int mode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

struct Row {
    int64_t id;
    QString identifier;
    QByteArray data;
};

std::vector<Row> rows(const QString& path) {
    std::vector<Row> out;
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT r.rec_id, a.identifier, r.data FROM record r LEFT JOIN app a ON a.app_id = r.app_id "
                       "ORDER BY r.rec_id",
                       -1, &s, nullptr);
    while (s && sqlite3_step(s) == SQLITE_ROW) {
        out.push_back({sqlite3_column_int64(s, 0),
                       QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 1))),
                       QByteArray(static_cast<const char*>(sqlite3_column_blob(s, 2)), sqlite3_column_bytes(s, 2))});
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return out;
}

int64_t scalar(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    const int64_t value = s && sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return value;
}

// The CPU time, in clock ticks, that this process's thread named `name` has used; -1 without one.
long threadCpuTicks(const QByteArray& name) {
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name) continue;
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly)) return -1;
        // After the name in parentheses: state, then user and system time as the 12th and 13th.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
    }
    return -1;
}

// Closing any descriptor of a file drops the process's locks on it: the access probe must not
// take those of the open store away, or another process deletes its log under it.
TEST(NotificationStoreWriter, ProbingTheOpenStoreForReadingKeepsItsLocks) {
    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("db"));
    platform::NotificationStoreWriter writer(path, 100);
    ASSERT_TRUE(writer.appendRecord(QStringLiteral("x"), "d"));
    const int held = testsupport::locksHeld(path);
    ASSERT_GT(held, 0);
    auto& probe = platform::FileAccessProbe::system();
    EXPECT_EQ(probe.openForReading(path), std::nullopt);
    EXPECT_EQ(testsupport::locksHeld(path), held);
    EXPECT_EQ(probe.openForReading(home.filePath(QStringLiteral("missing"))), "No such file or directory");
    // Nor may another writer opening it, nor a sender that names the store, its log or its index as
    // its picture.
    {
        platform::NotificationStoreWriter second(path, 100);
        EXPECT_TRUE(second.isOpen());
        EXPECT_EQ(testsupport::locksHeld(path), held);
    }
    for (const QString& file : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")}) {
        const int before = testsupport::locksHeld(file);
        EXPECT_TRUE(platform::resolveSenderIcon({{platform::IconSource::Kind::file, file, {}, {}}}).isEmpty());
        EXPECT_EQ(testsupport::locksHeld(file), before) << file.toStdString();
    }
}

TEST(NotificationStoreWriter, IsPrivateAndItsIdsNeverGoDown) {
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/a/b");
    const QString path = folder + QStringLiteral("/db");
    platform::NotificationStoreWriter writer(path, 100);
    ASSERT_TRUE(writer.isOpen()) << writer.error().toStdString();
    EXPECT_EQ(mode(home.path() + QStringLiteral("/a")), 0700);
    EXPECT_EQ(mode(folder), 0700);
    EXPECT_EQ(mode(path), 0600);
    ASSERT_TRUE(writer.appendRecord(QStringLiteral("x"), "d"));
    EXPECT_EQ(mode(path + QStringLiteral("-wal")), 0600);
    EXPECT_EQ(mode(path + QStringLiteral("-shm")), 0600);

    for (int i = 2; i <= 10; ++i) ASSERT_TRUE(writer.appendRecord(QStringLiteral("x%1").arg(i % 5), "d"));
    EXPECT_EQ(writer.pruneKeepingNewest(3), 7);
    auto kept = rows(path);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept.front().id, 8);
    EXPECT_EQ(kept.back().id, 10);
    // Applications go with their last record.
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM app"), 3);
    // Even a store emptied behind its back continues the sequence: readers keep a watermark.
    ASSERT_TRUE(writer.execute("DELETE FROM record"));
    EXPECT_EQ(writer.appendRecord(QStringLiteral("x"), "d"), 11);

    // An existing store opened with a wider mode is narrowed.
    ::chmod(QFile::encodeName(path).constData(), 0644);
    platform::NotificationStoreWriter again(path, 100);
    EXPECT_TRUE(again.isOpen());
    EXPECT_EQ(mode(path), 0600);
}

// Whatever sits at the store's path that is not a file of its own stays as it is: a link is never
// followed (its target neither narrowed nor made a database), a folder never narrowed.
TEST(NotificationStoreWriter, ALinkOrAFolderAtItsPathIsRefusedAndLeftAsItIs) {
    QTemporaryDir home;
    const QString elsewhere = home.filePath(QStringLiteral("shared.txt"));
    QFile target(elsewhere);
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.close();
    ASSERT_EQ(::chmod(QFile::encodeName(elsewhere).constData(), 0644), 0);
    const QString link = home.filePath(QStringLiteral("linked/db"));
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("linked"))));
    ASSERT_TRUE(QFile::link(elsewhere, link));
    const QString folder = home.filePath(QStringLiteral("folder/db"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);

    for (const auto& [path, reason] : {std::pair{link, ELOOP}, std::pair{folder, EISDIR}}) {
        platform::NotificationStoreWriter writer(path, 100);
        EXPECT_FALSE(writer.isOpen()) << path.toStdString();
        EXPECT_EQ(writer.error().toStdString(), "cannot open " + path.toStdString() + ": " + strerror(reason));
        EXPECT_FALSE(writer.appendRecord(QStringLiteral("x"), "d"));
    }
    EXPECT_EQ(mode(elsewhere), 0644);
    EXPECT_EQ(QFileInfo(elsewhere).size(), 0);
    EXPECT_FALSE(QFileInfo::exists(link + QStringLiteral("-wal")));
    EXPECT_EQ(mode(folder), 0755);
    EXPECT_TRUE(QDir(folder).isEmpty());
}

TEST(NotificationStoreWriter, AWriteThatMeetsALockDoesNotEndTheNextOnes) {
    QTemporaryDir home;
    const QString path = home.path() + QStringLiteral("/db");
    platform::NotificationStoreWriter writer(path, 20);
    ASSERT_TRUE(writer.isOpen());
    platform::NotificationStoreWriter other(path, 20);
    ASSERT_TRUE(other.execute("BEGIN IMMEDIATE"));
    EXPECT_FALSE(writer.appendRecord(QStringLiteral("x"), "d"));
    EXPECT_FALSE(writer.error().isEmpty());
    ASSERT_TRUE(other.execute("COMMIT"));
    EXPECT_TRUE(writer.isOpen());
    EXPECT_EQ(writer.appendRecord(QStringLiteral("x"), "d"), 1);
}

TEST(DesktopNotification, BundleIdentifierIsTheDesktopEntryElseTheAppName) {
    auto identifier = [](const QString& appName, const QString& desktopEntry) {
        platform::DesktopNotification n;
        n.appName = appName;
        n.desktopEntry = desktopEntry;
        return n.bundleIdentifier();
    };
    EXPECT_EQ(identifier("Mail", "org.example.Mail"), "org.example.Mail");
    EXPECT_EQ(identifier("Mail", ""), "Mail");
    EXPECT_EQ(identifier("Mail", "  "), "Mail");
}

TEST(DesktopNotificationRecorder, WithoutABusItSaysSoAndStillCreatesTheStore) {
    QTemporaryDir home;
    platform::DesktopNotificationRecorder::Options options;
    options.storePath = home.path() + QStringLiteral("/s/db");
    options.busAddress = QStringLiteral("unix:path=/nonexistent/bus");
    platform::DesktopNotificationRecorder recorder(options);
    std::optional<platform::DesktopNotificationRecorder::Status> status;
    recorder.start([&](const auto& s) { status = s; });
    EXPECT_TRUE(QFileInfo::exists(options.storePath)) << "readers find the store from the start";
    EXPECT_FALSE(status) << "the outcome arrives through the event loop";
    ASSERT_TRUE(spinUntil([&] { return status.has_value(); }));
    EXPECT_FALSE(status->recording);
    EXPECT_TRUE(status->reason.startsWith(QStringLiteral("no session bus"))) << status->reason.toStdString();
}

TEST(DesktopNotificationRecorder, ABusThatRefusesMonitoringIsReportedAsNotRecording) {
    QString error;
    auto bus = testsupport::PrivateBus::startRefusingMonitors(&error);
    if (!bus) QUILLVEX_SERVICE_MISSING(error.toStdString());
    QTemporaryDir home;
    platform::DesktopNotificationRecorder::Options options;
    options.storePath = home.path() + QStringLiteral("/s/db");
    options.busAddress = bus->address();
    platform::DesktopNotificationRecorder recorder(options);
    std::optional<platform::DesktopNotificationRecorder::Status> status;
    recorder.start([&](const auto& s) { status = s; });
    ASSERT_TRUE(spinUntil([&] { return status.has_value(); }));
    EXPECT_FALSE(status->recording);
    EXPECT_TRUE(status->reason.startsWith(QStringLiteral("monitoring refused: "))) << status->reason.toStdString();
}

// One bus and one notification daemon for the suite; each test records into a fresh store.
class RecorderOnBus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared = testsupport::NotificationBus::start();
        bus = shared->bus.get();
        daemon = shared->daemon.get();
    }
    static void TearDownTestSuite() { shared.reset(); }
    void SetUp() override {
        if (!shared->started()) QUILLVEX_SERVICE_MISSING(shared->error.toStdString());
    }

    // Starts a recorder on the private bus; records are counted as they are committed, notices
    // kept as "<level> <text>".
    void startRecorder(int keepNewest = 1000,
                       const std::function<void(platform::DesktopNotificationRecorder::Options&)>& adjust = {}) {
        platform::DesktopNotificationRecorder::Options options;
        options.storePath = home.path() + QStringLiteral("/Library/db2/db");
        options.busAddress = bus->address();
        options.keepNewest = keepNewest;
        if (adjust) adjust(options);
        recorder = std::make_unique<platform::DesktopNotificationRecorder>(options);
        recorder->setRecordObserver([this](std::optional<int64_t> id) {
            std::lock_guard lock(mutex);
            recorded.push_back(id);
        });
        recorder->setNoticeHandler([this](const auto& n) { notices << (n.warning ? "warning " : "info ") + n.text; });
        std::optional<platform::DesktopNotificationRecorder::Status> status;
        recorder->start([&](const auto& s) { status = s; });
        ASSERT_TRUE(spinUntil([&] { return status.has_value(); }));
        ASSERT_TRUE(status->recording) << status->reason.toStdString();
    }
    size_t recordedCount() {
        std::lock_guard lock(mutex);
        return recorded.size();
    }
    platform::DBusReply notify(const QString& app, const QString& summary, const QString& body,
                               const QVariantMap& hints = {}, testsupport::PrivateBus* on = nullptr) {
        return (on ? on : bus)
            ->connection()
            .call({QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                   QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"),
                   {app, 0u, QString(), summary, body, QStringList(), hints, -1}},
                  2s);
    }
    QString storePath() const { return recorder->storePath(); }

    static inline std::unique_ptr<testsupport::NotificationBus> shared;
    static inline testsupport::PrivateBus* bus = nullptr;
    static inline testsupport::DBusMock* daemon = nullptr;
    QTemporaryDir home;
    std::unique_ptr<platform::DesktopNotificationRecorder> recorder;
    std::mutex mutex;
    std::vector<std::optional<int64_t>> recorded;
    QStringList notices;
};

TEST_F(RecorderOnBus, RecordsEachNotifyAsTheDecoderReadsItWhileTheDaemonKeepsAnswering) {
    startRecorder();
    const auto first = notify(QStringLiteral("Mail"), QStringLiteral("Dinner at 7?"), QStringLiteral("See you there"));
    const auto second = notify(QStringLiteral("chat-client"), QStringLiteral("Ünïcode ✓"), QStringLiteral("line1\nline2"),
                               {{QStringLiteral("desktop-entry"), QStringLiteral("org.example.Chat")}});
    const auto third = notify(QStringLiteral("Mail"), QStringLiteral("Third"), QString());
    // The daemon answers every call with its own id; the monitor's copies are never answered
    // (a monitor that sent anything would be dropped by the bus and miss the later calls).
    for (const auto* reply : {&first, &second, &third}) {
        ASSERT_TRUE(reply->ok()) << reply->errorMessage.toStdString();
        EXPECT_GT(reply->value().toUInt(), 0u);
    }
    ASSERT_TRUE(spinUntil([&] { return recordedCount() == 3; }));

    const auto stored = rows(storePath());
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].identifier, "Mail");
    EXPECT_EQ(stored[1].identifier, "org.example.Chat");
    EXPECT_EQ(stored[2].identifier, "Mail");
    const QString expected[][2] = {{"Dinner at 7?", "See you there"}, {"Ünïcode ✓", "line1\nline2"}, {"Third", ""}};
    for (size_t i = 0; i < stored.size(); ++i) {
        auto root = PropertyList::parse(stored[i].data);
        ASSERT_TRUE(root);
        EXPECT_EQ(NotificationRecordDecoder::extractBundleId(*root), stored[i].identifier);
        const auto request = root->value(QStringLiteral("req"));
        ASSERT_TRUE(request);
        EXPECT_EQ(request->value(QStringLiteral("titl"))->text(), expected[i][0]);
        EXPECT_EQ(request->value(QStringLiteral("body"))->text(), expected[i][1]);
    }
}

// A picture read on a thread of its own wakes the recorder as it ends; once its notification is
// written, the recorder sleeps until the next one comes rather than spinning on that wake-up.
TEST_F(RecorderOnBus, AfterAPictureReadTheRecorderSleepsUntilTheNextNotification) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    startRecorder();
    // Read by a child, on a thread, until the notification's second is over.
    const QVariantMap hints{{QStringLiteral("image-path"), mount->stuckFile()}};
    ASSERT_TRUE(notify(QStringLiteral("App"), QStringLiteral("first"), {}, hints).ok());
    ASSERT_TRUE(spinUntil([&] { return recordedCount() == 1; }));

    const long before = threadCpuTicks("notice-recorder");
    ASSERT_GE(before, 0);
    QElapsedTimer wall;
    wall.start();
    std::this_thread::sleep_for(1s);  // the span its CPU time is measured over, not a wait for it
    const long used = threadCpuTicks("notice-recorder") - before;
    const double span = double(wall.elapsed()) * double(::sysconf(_SC_CLK_TCK)) / 1000.0;
    EXPECT_LT(double(used), 0.3 * span) << used << " ticks of CPU in " << span;

    ASSERT_TRUE(notify(QStringLiteral("App"), QStringLiteral("second"), {}, hints).ok());
    ASSERT_TRUE(spinUntil([&] { return recordedCount() == 2; }));
}

TEST_F(RecorderOnBus, KeepsTheNewestRecordsWithIdsThatOnlyGrow) {
    startRecorder(3);
    for (int i = 1; i <= 6; ++i) {
        ASSERT_TRUE(notify(QStringLiteral("App"), QStringLiteral("n%1").arg(i), QString()).ok());
        ASSERT_TRUE(spinUntil([&] { return recordedCount() == static_cast<size_t>(i); }));
    }
    const auto stored = rows(storePath());
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored.front().id, 4);
    EXPECT_EQ(stored.back().id, 6);
    EXPECT_EQ(mode(storePath()), 0600);
    EXPECT_EQ(mode(QFileInfo(storePath()).absolutePath()), 0700);
}

TEST_F(RecorderOnBus, HugeTextsAreCutOnACharacterBoundarySoEveryRecordStaysReadable) {
    startRecorder();
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");  // four bytes, a surrogate pair
    const QString summary = QStringLiteral("a") + emoji.repeated(300000);
    const QString body(600 * 1024, u'b');  // beyond what the decoder reads
    const QString app(1000, QChar(0xE4));  // two bytes each
    ASSERT_TRUE(notify(app, summary, body).ok());
    ASSERT_TRUE(spinUntil([&] { return recordedCount() == 1; }));

    const auto stored = rows(storePath());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].identifier, app.left(127));
    auto root = PropertyList::parse(stored[0].data);
    ASSERT_TRUE(root);
    const auto request = root->value(QStringLiteral("req"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->value(QStringLiteral("titl"))->text(), summary.left(1 + 4095 * 2));
    EXPECT_EQ(request->value(QStringLiteral("body"))->text(), body.left(16 * 1024));
}

// The sqlite3 shell in a process of its own, holding the store's write lock until released.
class LockFromAnotherProcess {
public:
    explicit LockFromAnotherProcess(const QString& path) {
        shell_.start(QStringLiteral("sqlite3"), {path});
        if (!shell_.waitForStarted(5000)) return;
        shell_.write("BEGIN IMMEDIATE;\nSELECT 'locked';\n");
        QElapsedTimer clock;
        clock.start();
        while (!shell_.readAllStandardOutput().contains("locked") && clock.elapsed() < 10000) shell_.waitForReadyRead(100);
        held_ = clock.elapsed() < 10000;
    }
    ~LockFromAnotherProcess() { release(); }
    bool held() const { return held_; }
    void release() {
        if (shell_.state() == QProcess::NotRunning) return;
        shell_.write("COMMIT;\n.quit\n");
        shell_.closeWriteChannel();
        shell_.waitForFinished(5000);
    }

private:
    QProcess shell_;
    bool held_ = false;
};

std::vector<QString> titles(const QString& path) {
    std::vector<QString> out;
    for (const auto& row : rows(path)) {
        auto root = PropertyList::parse(row.data);
        out.push_back(root ? root->value(QStringLiteral("req"))->value(QStringLiteral("titl"))->text().value_or(QString()) : QString());
    }
    return out;
}

TEST_F(RecorderOnBus, NotificationsThatMeetAnotherProgramsLockWaitAndGoInInOrderOnceItGoes) {
    startRecorder(1000, [](auto& options) { options.busyTimeoutMs = 20; });
    LockFromAnotherProcess other(storePath());
    ASSERT_TRUE(other.held());
    for (int i = 1; i <= 5; ++i) ASSERT_TRUE(notify(QStringLiteral("App"), QStringLiteral("n%1").arg(i), {}).ok());
    ASSERT_TRUE(spinUntil([&] { return notices.size() == 1; })) << notices.join(u'\n').toStdString();
    // Several tries meet the lock meanwhile: nothing is written, nothing is given up.
    spinUntil([] { return false; }, 200);
    EXPECT_EQ(recordedCount(), 0u);
    other.release();
    ASSERT_TRUE(spinUntil([&] { return recordedCount() == 5; }));
    EXPECT_EQ(titles(storePath()), (std::vector<QString>{"n1", "n2", "n3", "n4", "n5"}));
    ASSERT_TRUE(spinUntil([&] { return notices.size() == 2; })) << notices.join(u'\n').toStdString();
    EXPECT_EQ(notices.join(u'\n').toStdString(),
              "warning Cannot write the notification store - database is locked; notifications wait until writing "
              "works again\n"
              "info Writing the notification store again; the 5 notifications that waited are written");
}

TEST_F(RecorderOnBus, WhileTheStoreIsLockedOnlyTheOldestBeyondTheBoundAreLostAndThatIsSaid) {
    startRecorder(3, [](auto& options) { options.busyTimeoutMs = 20; });
    {
        LockFromAnotherProcess other(storePath());
        ASSERT_TRUE(other.held());
        for (int i = 1; i <= 5; ++i) {
            ASSERT_TRUE(notify(QStringLiteral("App"), QStringLiteral("n%1").arg(i), {}).ok());
            // Each one waits on its own try, so the bound is met one at a time.
            spinUntil([] { return false; }, 50);
        }
        ASSERT_TRUE(spinUntil([&] { return recordedCount() == 2; })) << "the two oldest are given up";
    }
    ASSERT_TRUE(spinUntil([&] { return recordedCount() == 5; }));
    EXPECT_EQ(titles(storePath()), (std::vector<QString>{"n3", "n4", "n5"}));
    ASSERT_TRUE(spinUntil([&] { return notices.size() == 3; })) << notices.join(u'\n').toStdString();
    EXPECT_EQ(notices.mid(1).join(u'\n').toStdString(),
              "warning More than 3 notifications wait for the notification store; the oldest are lost\n"
              "info Writing the notification store again; the 3 notifications that waited are written, 2 were lost");
}

TEST_F(RecorderOnBus, AStoreWhoseFilesAreRemovedUnderItIsOpenedAgainAndStaysReadable) {
    startRecorder();
    ASSERT_TRUE(notify(QStringLiteral("App"), QStringLiteral("before"), {}).ok());
    ASSERT_TRUE(spinUntil([&] { return recordedCount() == 1; }));
    ASSERT_TRUE(QFile::remove(storePath() + QStringLiteral("-wal")));
    // A reader that comes now (the detector polls) finds an index that names a log that is gone.
    rows(storePath());
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(notify(QStringLiteral("App"), QStringLiteral("after %1").arg(i), {}).ok());
        ASSERT_TRUE(spinUntil([&] { return recordedCount() == static_cast<size_t>(1 + i); }));
        EXPECT_EQ(titles(storePath()).size(), static_cast<size_t>(1 + i)) << "each one readable as it comes";
    }
    EXPECT_EQ(titles(storePath()), (std::vector<QString>{"before", "after 1", "after 2", "after 3"}));
    // A notice comes to this thread by its loop, after the record it went with may be counted.
    ASSERT_TRUE(spinUntil([&] { return !notices.isEmpty(); }));
    EXPECT_EQ(notices.join(u'\n').toStdString(),
              "warning The notification store was removed or replaced by another program; opening it again");

    // The store itself removed: made anew, its record ids go on above what readers have seen.
    ASSERT_TRUE(QFile::remove(storePath()));
    ASSERT_TRUE(notify(QStringLiteral("App"), QStringLiteral("new store"), {}).ok());
    ASSERT_TRUE(spinUntil([&] { return recordedCount() == 5; }));
    const auto stored = rows(storePath());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].id, 5);
    ASSERT_TRUE(spinUntil([&] { return notices.size() == 2; })) << notices.join(u'\n').toStdString();
}

TEST_F(RecorderOnBus, ABusThatDropsTheMonitorIsMonitoredAgainWhenItIsBack) {
    QString error;
    auto own = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(own) << error.toStdString();
    startRecorder(1000, [&](auto& options) {
        options.busAddress = own->address();
        options.busCheckMs = 600000;  // the end of the connection is heard, not found by a check
    });
    ASSERT_TRUE(own->restart(&error)) << error.toStdString();
    ASSERT_TRUE(spinUntil([&] { return notices.size() == 2; })) << notices.join(u'\n').toStdString();
    EXPECT_EQ(notices.join(u'\n').toStdString(),
              "warning The session bus dropped the monitoring; monitoring again when it allows\n"
              "info Monitoring desktop notifications again");
    auto ownDaemon = testsupport::DBusMock::startNotificationDaemon(*own, &error);
    ASSERT_TRUE(ownDaemon) << error.toStdString();
    ASSERT_TRUE(notify(QStringLiteral("App"), QStringLiteral("after the restart"), {}, {}, own.get()).ok());
    ASSERT_TRUE(spinUntil([&] { return recordedCount() == 1; }));
}

}  // namespace
