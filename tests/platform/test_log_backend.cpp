#include "platform/logging/system_log_backend.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using platform::LogLevel;
using platform::SystemLogBackend;

// Reads what a backend mirrors, through a pipe standing in for standard error.
class Mirror {
public:
    Mirror() {
        EXPECT_EQ(::pipe(fds_), 0);
        ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    }
    ~Mirror() {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    int fd() const { return fds_[1]; }
    QByteArray take() {
        QByteArray out;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
        return out;
    }

private:
    int fds_[2] = {-1, -1};
};

TEST(SystemLogBackend, MirrorsOneLinePerMessageWithItsLevelWordAndDebugOnlyWhenEnabled) {
    Mirror mirror;
    SystemLogBackend backend({.debugEnabled = false, .toSyslog = false, .mirrorFd = mirror.fd()});
    backend.write(LogLevel::Info, "VolumeService: Started");
    backend.write(LogLevel::Warning, "AppDelegate: Calendar access missing");
    backend.write(LogLevel::Error, "Détecteur: 100% %s %n");
    backend.write(LogLevel::Info, "first\nsecond");
    EXPECT_EQ(mirror.take(),
              "info VolumeService: Started\n"
              "warning AppDelegate: Calendar access missing\n"
              "error Détecteur: 100% %s %n\n"
              "info first\\nsecond\n");

    // Debug is kept only when enabled.
    backend.write(LogLevel::Debug, "Releasing previous IslandQueue instance");
    EXPECT_EQ(mirror.take(), "");

    SystemLogBackend verbose({.debugEnabled = true, .toSyslog = false, .mirrorFd = mirror.fd()});
    verbose.write(LogLevel::Debug, "Releasing previous IslandQueue instance");
    EXPECT_EQ(mirror.take(), "debug Releasing previous IslandQueue instance\n");
}

TEST(SystemLogBackend, ReadsItsSwitchesFromTheEnvironment) {
    qputenv("QUILLVEX_LOG_STDERR", "1");
    qputenv("QUILLVEX_LOG_LEVEL", "debug");
    auto on = SystemLogBackend::optionsFromEnvironment();
    EXPECT_EQ(on.mirrorFd, STDERR_FILENO);
    EXPECT_TRUE(on.debugEnabled);
    qputenv("QUILLVEX_LOG_STDERR", "yes");
    qputenv("QUILLVEX_LOG_LEVEL", "info");
    auto off = SystemLogBackend::optionsFromEnvironment();
    EXPECT_EQ(off.mirrorFd, -1);
    EXPECT_FALSE(off.debugEnabled);
    qunsetenv("QUILLVEX_LOG_STDERR");
    qunsetenv("QUILLVEX_LOG_LEVEL");
}

// A datagram socket standing in for the log daemon's.
class SyslogDaemon {
public:
    explicit SyslogDaemon(const QByteArray& path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    ~SyslogDaemon() { ::close(fd_); }
    QList<QByteArray> take() {
        QList<QByteArray> out;
        char buffer[8192];
        ssize_t n;
        while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) out << QByteArray(buffer, n);
        return out;
    }

private:
    int fd_ = -1;
};

TEST(SystemLogBackend, SendsEachMessageAsDataToTheLogDaemonEvenOneThatStartsLater) {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("log")));
    SystemLogBackend backend({.debugEnabled = true, .toSyslog = true, .mirrorFd = -1, .syslogPath = path.constData()});
    backend.write(LogLevel::Info, "Test: nobody listens yet");  // dropped, no error

    SyslogDaemon daemon(path);
    backend.write(LogLevel::Error, "Test: %s%s%s%n");  // would crash if used as a format
    backend.write(LogLevel::Debug, "Test: debug");
    const QList<QByteArray> lines = daemon.take();
    ASSERT_EQ(lines.size(), 2);
    const QByteArray tag = " com.varnock.Quillvex[" + QByteArray::number(::getpid()) + "]: ";
    EXPECT_TRUE(lines[0].startsWith("<11>")) << lines[0].constData();  // user facility, error
    EXPECT_TRUE(lines[0].endsWith(tag + "Test: %s%s%s%n")) << lines[0].constData();
    EXPECT_TRUE(lines[1].startsWith("<15>")) << lines[1].constData();  // user facility, debug
    EXPECT_TRUE(lines[1].endsWith(tag + "Test: debug")) << lines[1].constData();
}

}  // namespace
