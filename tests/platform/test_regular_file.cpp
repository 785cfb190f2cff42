// Reading a file that another program named: local files in place, everything that may lead to a
// file system that never answers in a child process that can be left behind.

#include "platform/files/child_file_read.h"
#include "platform/files/local_reach.h"
#include "platform/files/mount_table.h"
#include "platform/files/regular_file.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"
#include "support/stuck_fuse_mount.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <thread>
#include <utility>

using namespace std::chrono_literals;

namespace {

TEST(MountTable, OnlyPathsWhoseEveryMountIsOfALocalTypeAreLocal) {
    const QByteArray table =
        "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "40 27 0:40 / /home/u/remote rw,nosuid shared:5 - fuse.sshfs host:/ rw,user_id=1000\n"
        "41 27 0:41 / /mnt/nfs rw - nfs4 server:/export rw\n"
        "42 41 0:42 / /mnt/nfs/cache rw - tmpfs tmpfs rw\n"
        "43 27 0:43 / /media/My\\040Disk rw - vfat /dev/sdb1 rw\n"
        "44 27 0:44 / /media/Odd\\040Share rw - cifs //nas/share rw\n"
        "45 27 0:45 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n";
    for (const char* local : {"/home/u/picture.png", "/home/u/remote2/x.png", "/proc/42/cgroup", "/media/My Disk/a.png",
                              "/media/My"})
        EXPECT_TRUE(platform::isOnLocalFileSystem(QString::fromUtf8(local), table)) << local;
    for (const char* remote : {"/home/u/remote", "/home/u/remote/x.png", "/mnt/nfs/a", "/mnt/nfs/cache/a",
                               "/media/Odd Share/a.png", "/run/user/1000/gvfs/sftp:host=h/x.png", "relative.png"})
        EXPECT_FALSE(platform::isOnLocalFileSystem(QString::fromUtf8(remote), table)) << remote;
    // No root mount listed, an unknown type, a line cut short: nothing can be trusted.
    EXPECT_FALSE(platform::isOnLocalFileSystem(QStringLiteral("/a"), "22 27 0:21 / /proc rw - proc proc rw\n"));
    EXPECT_FALSE(platform::isOnLocalFileSystem(QStringLiteral("/a"), "27 1 254:0 / / rw - newfs /dev/vda rw\n"));
    EXPECT_FALSE(platform::isOnLocalFileSystem(QStringLiteral("/a"), "27 1 254:0 / / rw shared:1\n"));
    EXPECT_FALSE(platform::isOnLocalFileSystem(QStringLiteral("/a"), "27 1 254:0 / / rw shared:1 -\n"));
}

// The kernel's views hold nothing, nor does an automount point until something is mounted on it.
TEST(MountTable, PathsOnTheKernelsViewsOrUnderAnUncoveredAutomountAreVirtual) {
    const QByteArray table =
        "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
        "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw\n"
        "50 27 0:50 / /home rw,relatime - autofs auto.home rw\n"
        "51 50 0:51 / /home/alice rw,relatime - nfs4 server:/alice rw\n";
    const platform::MountTable mounts(table);
    for (const char* path : {"/proc", "/proc/self/status", "/sys/fs/cgroup/cpu", "/home/bob/.local", "/home"})
        EXPECT_TRUE(mounts.isVirtual(path)) << path;
    for (const char* path : {"/", "/usr/share/icons", "/home/alice/.local/share", "/processes"})
        EXPECT_FALSE(mounts.isVirtual(path)) << path;
    EXPECT_FALSE(mounts.isLocal("/home/alice/.local/share")) << "a child still reads a share mounted there";
}

int interrupted[2] = {-1, -1};
void onInterrupt(int) { [[maybe_unused]] const auto n = ::write(interrupted[1], "!", 1); }

// The thread that hears of mount changes, once it sleeps: it sleeps nowhere but in its wait.
std::optional<pid_t> sleepingMountWatch() {
    QElapsedTimer clock;
    clock.start();
    do {
        const QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks.filePath(task + QStringLiteral("/comm"))), stat(tasks.filePath(task + QStringLiteral("/stat")));
            if (!comm.open(QIODevice::ReadOnly) || comm.readAll() != "mount-watch\n" || !stat.open(QIODevice::ReadOnly)) continue;
            const QByteArray fields = stat.readAll();
            if (fields.mid(fields.lastIndexOf(')') + 2, 1) == "S") return task.toInt();
        }
        std::this_thread::sleep_for(1ms);
    } while (clock.elapsed() < 10000);
    return std::nullopt;
}

// Asked for every file another program names: the table is kept open to hear of mounts, one
// descriptor however often it is asked, and a file system mounted since it was read counts. The
// watch hears of it too, also after a signal's handler ran on its thread while it waited.
TEST(MountTable, ThisProcesssOwnTableKeepsOneDescriptorAndHearsOfEachMount) {
    const auto mountInfoDescriptors = [] {
        int open = 0;
        const QDir fds(QStringLiteral("/proc/self/fd"));
        for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            if (QFile::symLinkTarget(fds.filePath(fd)).endsWith(QStringLiteral("/mountinfo"))) ++open;
        return open;
    };
    // /proc's own mount is always listed, and of a local type.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(platform::isOnLocalFileSystem(QStringLiteral("/proc/self/status")));
    EXPECT_EQ(mountInfoDescriptors(), 1);

    // A handled signal breaks the watch's wait; the errno it leaves behind must not make the next
    // wake-up look like one more break.
    ASSERT_EQ(::pipe2(interrupted, O_CLOEXEC), 0);
    struct sigaction action {}, previous {};
    action.sa_handler = onInterrupt;
    ::sigaction(SIGUSR1, &action, &previous);
    platform::MountTable::changes();
    const std::optional<pid_t> watch = sleepingMountWatch();
    ASSERT_TRUE(watch);
    ASSERT_EQ(::tgkill(::getpid(), *watch, SIGUSR1), 0);
    pollfd handled{interrupted[0], POLLIN, 0};
    const int ready = ::poll(&handled, 1, 10000);
    ::sigaction(SIGUSR1, &previous, nullptr);
    for (int& fd : interrupted) ::close(std::exchange(fd, -1));
    ASSERT_EQ(ready, 1);
    const quint64 seen = platform::MountTable::changes();

    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    EXPECT_FALSE(platform::isOnLocalFileSystem(mount->stuckFile()));
    EXPECT_EQ(mountInfoDescriptors(), 1);
    EXPECT_TRUE(platform::MountTable::waitForChange(seen, 20s));
}

TEST(RegularFile, FilesBehindLinksAreReadByAChildWithTheSameLimitsAsInPlace) {
    QTemporaryDir dir;
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    };
    const QString small = write(QStringLiteral("small"), "twelve bytes");
    const QString large = write(QStringLiteral("large"), QByteArray(100, 'x'));
    write(QStringLiteral("empty"), {});
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))).constData(), 0600), 0);
    for (const char* name : {"small", "large", "empty", "fifo"})
        ASSERT_TRUE(QFile::link(dir.filePath(QString::fromLatin1(name)), dir.filePath(QStringLiteral("to-") + name)));
    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath(QStringLiteral("folder"))));

    // In place and through a link, one reading each way.
    for (const QString& prefix : {QStringLiteral(""), QStringLiteral("to-")}) {
        SCOPED_TRACE(prefix.toStdString());
        EXPECT_EQ(platform::readRegularFile(dir.filePath(prefix + "small"), 12), QByteArray("twelve bytes"));
        EXPECT_FALSE(platform::readRegularFile(dir.filePath(prefix + "small"), 11));
        EXPECT_EQ(platform::readRegularFile(dir.filePath(prefix + "large"), 100)->size(), 100);
        EXPECT_FALSE(platform::readRegularFile(dir.filePath(prefix + "large"), 99));
        EXPECT_FALSE(platform::readRegularFile(dir.filePath(prefix + "empty"), 10));
        EXPECT_FALSE(platform::readRegularFile(dir.filePath(prefix + "fifo"), 10));  // never waits for a writer
        EXPECT_FALSE(platform::readRegularFile(dir.filePath(prefix + "missing"), 10));
    }
    EXPECT_EQ(platform::readRegularFile(dir.filePath(QStringLiteral("folder/small")), 12), QByteArray("twelve bytes"));
    EXPECT_EQ(platform::readRegularFile(dir.filePath(QStringLiteral("x/../small")), 12), QByteArray("twelve bytes"));
    EXPECT_FALSE(platform::readRegularFile(dir.path(), 10));
    EXPECT_FALSE(platform::readRegularFile(QStringLiteral("/dev/zero"), 10));
    EXPECT_EQ(platform::childFileReadsLeftBehind(), 0);

    // A cancelled reader gives up before it starts.
    platform::FileReadCanceller canceller;
    EXPECT_FALSE(canceller.isCancelled());
    canceller.cancel();
    EXPECT_TRUE(canceller.isCancelled());
    // Local, and a link that stays on this machine's own file systems: in place.
    EXPECT_EQ(platform::readRegularFile(small, 12, &canceller), QByteArray("twelve bytes"));
    EXPECT_EQ(platform::readRegularFile(dir.filePath(QStringLiteral("to-small")), 12, &canceller), QByteArray("twelve bytes"));
    EXPECT_TRUE(platform::readsInPlace(dir.filePath(QStringLiteral("folder/to-small"))));
    Q_UNUSED(large);
}

// A child asked which of some paths is a file answers with the first, or that none is: an answer
// either way, never taken for a file system that did not answer.
TEST(ChildFileRead, AProbeAnswersWithTheFirstFileOrThatNoneIs) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("b")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere")), dir.filePath(QStringLiteral("c"))));
    const auto path = [&dir](const char* name) { return QFile::encodeName(dir.filePath(QString::fromLatin1(name))); };
    const auto deadline = [] { return std::chrono::steady_clock::now() + std::chrono::seconds(10); };
    const std::optional<platform::ChildProbe> found = platform::firstFileInChild({path("a"), path("c"), path("b")}, deadline());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->index, 1u) << "a link counts, not followed";
    const std::optional<platform::ChildProbe> none = platform::firstFileInChild({path("a"), dir.path().toUtf8()}, deadline());
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->index);
}

// A child lists the files of a kind under each place and reads them: in subfolders up to eight deep,
// through a link to a file but never into a linked folder nor onto a kernel's view, leaving out
// empty files and those over the limit; a place that is such a file itself comes with no path below
// it. More than the whole may hold is no answer.
TEST(ChildFileRead, AChildListsAndReadsTheFilesOfAKindUnderEachPlace) {
    QTemporaryDir dir;
    const auto put = [&dir](const char* name, const QByteArray& bytes) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return QFile::encodeName(path);
    };
    const QByteArray apps = QFile::encodeName(dir.filePath(QStringLiteral("apps")));
    put("apps/a.desktop", "A");
    put("apps/sub/deeper/b.desktop", "BB");
    put("apps/c.txt", "C");
    put("apps/empty.desktop", "");
    put("apps/large.desktop", "0123456789+");
    put("apps/1/2/3/4/5/6/7/8/e.desktop", "E");
    put("apps/1/2/3/4/5/6/7/8/9/f.desktop", "F");
    // A file of /proc within the limit.
    ASSERT_EQ(::symlink("/proc/sys/kernel/ostype", (apps + "/kernel.desktop").constData()), 0);
    const QByteArray other = put("other/d.desktop", "D");
    ASSERT_EQ(::symlink(other.constData(), (apps + "/linked.desktop").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(dir.filePath(QStringLiteral("other"))).constData(), (apps + "/folder").constData()), 0);
    const auto deadline = std::chrono::steady_clock::now() + 10s;

    const auto found = platform::filesInChild({apps, other, apps + "/missing"}, ".desktop", 10, 1 << 20, deadline);
    ASSERT_TRUE(found);
    std::map<std::pair<size_t, QByteArray>, QByteArray> files;
    for (const platform::ChildFile& file : *found) files[{file.root, file.relative}] = file.bytes;
    const std::map<std::pair<size_t, QByteArray>, QByteArray> expected{
        {{0, "a.desktop"}, "A"}, {{0, "sub/deeper/b.desktop"}, "BB"}, {{0, "1/2/3/4/5/6/7/8/e.desktop"}, "E"},
        {{0, "linked.desktop"}, "D"}, {{1, ""}, "D"}};
    EXPECT_EQ(files, expected);
    EXPECT_FALSE(platform::filesInChild({apps}, ".desktop", 10, 8, deadline));
}

// A path that a link on this machine's own file systems leads through is opened where the link
// leads, and that is the path told.
TEST(LocalReach, APathThroughALocalLinkIsOpenedWhereTheLinkLeadsAndThatPathIsTold) {
    QTemporaryDir dir;
    ASSERT_TRUE(testsupport::writeFile(dir.filePath(QStringLiteral("real/file")), "x"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("real")), dir.filePath(QStringLiteral("link"))));
    QByteArray reached;
    const int fd = platform::LocalReach().open(QFile::encodeName(dir.filePath(QStringLiteral("link/file"))), O_RDONLY, &reached);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(reached, QFile::encodeName(QFileInfo(dir.path()).canonicalFilePath() + QStringLiteral("/real/file")));
}

// What a child writes comes whole however much more it is than a pipe holds: the child waits for
// the reader rather than give up once the pipe is full.
TEST(ChildFileRead, OutputLargerThanAPipeHoldsComesWhole) {
    QTemporaryDir dir;
    const QByteArray bytes = QByteArray("0123456789abcdef").repeated(1 << 16);
    const QString path = dir.filePath(QStringLiteral("large.desktop"));
    ASSERT_TRUE(testsupport::writeFile(path, bytes));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    EXPECT_EQ(platform::readRegularFileInChild(QFile::encodeName(path), bytes.size(), deadline), bytes);
    const auto listed = platform::filesInChild({QFile::encodeName(dir.path())}, ".desktop", bytes.size(), 2 * bytes.size(), deadline);
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 1u);
    EXPECT_EQ(listed->front().bytes, bytes);
}

// A read that finds no descriptor left for its pipe gives its place back: reads go on once there
// are descriptors again.
TEST(ChildFileRead, AReadThatCannotMakeItsPipeGivesItsPlaceBack) {
    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(testsupport::writeFile(small, "twelve bytes"));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a process of its own: the limit on descriptors is the whole process's.
    EXPECT_EXIT(
        {
            const auto read = [&small] {
                return platform::readRegularFileInChild(QFile::encodeName(small), 12, std::chrono::steady_clock::now() + 10s);
            };
            rlimit limit{};
            ::getrlimit(RLIMIT_NOFILE, &limit);
            const rlim_t usual = limit.rlim_cur;
            limit.rlim_cur = 0;
            ::setrlimit(RLIMIT_NOFILE, &limit);
            bool none = true;
            for (int i = 0; i < platform::kMaxChildFileReads; ++i) none = !read() && none;
            limit.rlim_cur = usual;
            ::setrlimit(RLIMIT_NOFILE, &limit);
            const bool readAgain = read() == QByteArray("twelve bytes");
            dir.remove();
            std::_Exit(none && readAgain ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// A link whose ".." steps climb to the root and then lead down onto another file system is not
// followed here.
TEST(RegularFile, ALinkThatClimbsToTheRootAndDownOntoAnotherFileSystemIsLeftToAChild) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    QTemporaryDir dir;
    const QByteArray target = QByteArray("../").repeated(dir.path().count(u'/') + 2) + QFile::encodeName(mount->stuckFile()).mid(1);
    const QString link = dir.filePath(QStringLiteral("climbs.png"));
    ASSERT_EQ(::symlink(target.constData(), QFile::encodeName(link).constData()), 0);
    EXPECT_FALSE(platform::readsInPlace(link));
}

// Readers at work and readers stuck on a hung mount share the places: a read that ends gives its
// place back, a stuck one keeps it until its file system goes.
TEST(ChildFileRead, ReadsThatEndGiveTheirPlaceBackAndStuckOnesKeepItUntilTheirMountGoes) {
    std::unique_ptr<testsupport::StuckFuseMount> mount;
    QUILLVEX_MOUNT_STUCK_FUSE(mount);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("small")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("twelve bytes");
    file.close();
    const auto readSmall = [&] {
        return platform::readRegularFileInChild(QFile::encodeName(file.fileName()), 12,
                                                std::chrono::steady_clock::now() + 10s);
    };
    for (int i = 0; i <= platform::kMaxChildFileReads; ++i) ASSERT_EQ(readSmall(), QByteArray("twelve bytes")) << i;
    // A link leading onto the mount is read by a child, never followed here.
    ASSERT_TRUE(QFile::link(mount->stuckFile(), dir.filePath(QStringLiteral("to-stuck.png"))));
    EXPECT_FALSE(platform::readsInPlace(dir.filePath(QStringLiteral("to-stuck.png"))));
    EXPECT_EQ(platform::childFileReadsLeftBehind(), 0);

    // Each stuck read is given up once the server has it.
    for (int i = 0; i < platform::kMaxChildFileReads; ++i) {
        platform::FileReadCanceller canceller;
        std::optional<QByteArray> read = "unread";
        std::thread reader([&] {
            read = platform::readRegularFileInChild(QFile::encodeName(mount->stuckFile()), 4096,
                                                    std::chrono::steady_clock::now() + 10s, &canceller);
        });
        const bool reached = mount->waitForRead();
        canceller.cancel();
        reader.join();
        ASSERT_TRUE(reached) << i;
        EXPECT_FALSE(read) << i;
    }
    EXPECT_EQ(platform::childFileReadsLeftBehind(), platform::kMaxChildFileReads);
    EXPECT_FALSE(readSmall()) << "no place is left";

    mount->stop();
    QElapsedTimer clock;
    clock.start();
    while (platform::childFileReadsLeftBehind() > 0 && clock.elapsed() < 10000) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(platform::childFileReadsLeftBehind(), 0);
    EXPECT_EQ(readSmall(), QByteArray("twelve bytes"));
}

}  // namespace
