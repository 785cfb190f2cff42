// The reopen channel against what any local program could do to it: hold connections open,
// exhaust the descriptors of the listener, or put the socket where another user can reach it.

#include "platform/shell/reopen_channel.h"
#include "support/fixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <vector>

using platform::ReopenChannel;

namespace {

// Real sockets: runs the event loop until `done`, bounded, never longer than needed.
template <class Predicate>
bool processEventsUntil(Predicate done) {
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

int connectedClient(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = path.toLocal8Bit();
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sets $XDG_RUNTIME_DIR for its lifetime (unset when `value` is null).
class ScopedRuntimeDir {
public:
    explicit ScopedRuntimeDir(const char* value) : old_(qgetenv("XDG_RUNTIME_DIR")), had_(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        if (value)
            qputenv("XDG_RUNTIME_DIR", value);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }
    ~ScopedRuntimeDir() {
        if (had_)
            qputenv("XDG_RUNTIME_DIR", old_);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }

private:
    QByteArray old_;
    bool had_;
};

class ReopenChannelTest : public ::testing::Test {
protected:
    ReopenChannelTest() { ::chmod(QFile::encodeName(dir.path()).constData(), 0700); }
    QString socketPath() const { return dir.path() + QStringLiteral("/app.reopen"); }

    QTemporaryDir dir;
    platform::VirtualScheduler scheduler;
    int reopened = 0;
};

}  // namespace

TEST_F(ReopenChannelTest, IdleClientsAreCappedAndTimedOutWhileRequestsGetThrough) {
    ASSERT_TRUE(testsupport::writeFile(socketPath()));  // left by an instance that died: it blocks no one
    ReopenChannel running(socketPath(), scheduler);
    ASSERT_EQ(running.start([this] { ++reopened; }), ReopenChannel::Outcome::Listening);
    struct stat socketInfo {};
    ASSERT_EQ(::stat(QFile::encodeName(socketPath()).constData(), &socketInfo), 0);
    EXPECT_EQ(socketInfo.st_mode & 07777, 0600u);  // only this user may ask for a reopen

    std::vector<int> idle;
    for (int i = 0; i < 3 * ReopenChannel::maxConnections; ++i) {
        const int fd = connectedClient(socketPath());
        ASSERT_GE(fd, 0);
        idle.push_back(fd);
        // Accepted before the next connects, so the listen backlog never fills; clients beyond
        // the cap are turned away at once rather than held.
        char byte;
        if (i < ReopenChannel::maxConnections)
            EXPECT_TRUE(processEventsUntil([&] { return running.connectionCount() == i + 1; }));
        else
            EXPECT_TRUE(processEventsUntil([&] { return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0; }));
    }
    EXPECT_EQ(running.connectionCount(), ReopenChannel::maxConnections);
    char byte;

    scheduler.advance(ReopenChannel::idleTimeoutSeconds - 0.1);
    EXPECT_EQ(running.connectionCount(), ReopenChannel::maxConnections);
    scheduler.advance(0.1);
    EXPECT_EQ(running.connectionCount(), 0);
    EXPECT_EQ(::recv(idle.front(), &byte, 1, MSG_DONTWAIT), 0);  // closed by the listener
    for (int fd : idle) ::close(fd);

    ReopenChannel second(socketPath(), scheduler);
    EXPECT_EQ(second.start([] { FAIL() << "the second start must not listen"; }),
              ReopenChannel::Outcome::DeliveredToRunningInstance);
    EXPECT_TRUE(processEventsUntil([&] { return reopened == 1; }));
    EXPECT_EQ(running.connectionCount(), 0);
}

TEST_F(ReopenChannelTest, RunningOutOfDescriptorsKeepsTheSocketAndAcceptsLater) {
    // accept(2) as it fails in a process that has used up its descriptors.
    bool outOfDescriptors = true;
    int failedAccepts = 0;
    ReopenChannel running(socketPath(), scheduler, [&](int listenFd) {
        if (!outOfDescriptors) return ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        ++failedAccepts;
        errno = EMFILE;
        return -1;
    });
    ASSERT_EQ(running.start([this] { ++reopened; }), ReopenChannel::Outcome::Listening);
    const int client = connectedClient(socketPath());
    ASSERT_GE(client, 0);
    ASSERT_EQ(::send(client, "reopen\n", 7, MSG_NOSIGNAL), 7);
    ASSERT_TRUE(processEventsUntil([&] { return failedAccepts > 0; }));
    // No spinning on the client still queued: the listener waits for the retry.
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(failedAccepts, 1);
    EXPECT_TRUE(running.isListening());
    EXPECT_TRUE(QFileInfo(socketPath()).exists());

    // The socket is still there, so a later start finds the running instance.
    ReopenChannel second(socketPath(), scheduler);
    EXPECT_EQ(second.start([] { FAIL() << "the second start must not listen"; }),
              ReopenChannel::Outcome::DeliveredToRunningInstance);
    scheduler.advance(ReopenChannel::acceptRetrySeconds);  // still out of descriptors
    EXPECT_EQ(failedAccepts, 2);
    outOfDescriptors = false;
    scheduler.advance(ReopenChannel::acceptRetrySeconds);
    EXPECT_TRUE(processEventsUntil([&] { return reopened == 2; }));
    ::close(client);
}

TEST_F(ReopenChannelTest, AFolderAtTheSocketPathIsLeftAloneAndReported) {
    ASSERT_TRUE(QDir().mkpath(socketPath()));
    ReopenChannel channel(socketPath(), scheduler);
    EXPECT_EQ(channel.start([] {}), ReopenChannel::Outcome::Unavailable);
    EXPECT_EQ(channel.problem(), "the socket path '" + socketPath() + "' is a folder");
    EXPECT_TRUE(QFileInfo(socketPath()).isDir());
}

TEST_F(ReopenChannelTest, TheSocketLivesOnlyInAFolderPrivateToThisUser) {
    testsupport::ScopedTempHome home;
    QString problem;
    {
        ScopedRuntimeDir runtime(QFile::encodeName(dir.path()).constData());
        EXPECT_EQ(ReopenChannel::defaultSocketPath("App", &problem), dir.path() + "/App.reopen");
    }

    // A runtime folder that is unsafe (another user could take the name first) or relative is
    // passed over as if unset: every start meets at the one under the home folder, so a second
    // start still finds the running instance.
    const QString own = home.path() + "/.local/state/App";
    const QString shared = dir.path() + "/shared";
    ASSERT_TRUE(QDir().mkpath(shared));
    ::chmod(QFile::encodeName(shared).constData(), 0777);
    const QString file = dir.path() + "/file";
    ASSERT_TRUE(testsupport::writeFile(file));
    const QString missing = dir.path() + "/missing";
    QStringList unsafe{shared, file, missing, QStringLiteral("run/user")};
    if (::geteuid() == 0) {
        const QString foreign = dir.path() + "/foreign";
        ASSERT_TRUE(QDir().mkpath(foreign));
        ::chmod(QFile::encodeName(foreign).constData(), 0700);
        ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
        unsafe << foreign;
    }
    for (const QString& folder : unsafe) {
        SCOPED_TRACE(folder.toStdString());
        ScopedRuntimeDir runtime(QFile::encodeName(folder).constData());
        problem.clear();
        EXPECT_EQ(ReopenChannel::defaultSocketPath("App", &problem), own + "/App.reopen");
        EXPECT_TRUE(problem.isEmpty());
    }
    EXPECT_FALSE(QFileInfo(missing).exists());  // the session's runtime folder is never made up

    // Without a runtime folder: one of our own under the home folder, closed to others.
    ScopedRuntimeDir unset(nullptr);
    EXPECT_EQ(ReopenChannel::defaultSocketPath("App", &problem), own + "/App.reopen");
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(own).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ::chmod(QFile::encodeName(own).constData(), 0755);
    EXPECT_FALSE(ReopenChannel::defaultSocketPath("App", &problem));
    EXPECT_EQ(problem, "'" + own + "' is open to other users");
}
