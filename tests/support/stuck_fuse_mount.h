#pragma once

// A FUSE file system whose one file never answers a read, as a hung sshfs, NFS or gvfs server
// would not, and whose one folder answers as a working one does: served by a python3-fuse
// program, mounted on a temporary folder. Ending it ends the
// server (the kernel then fails the reads still waiting) and unmounts lazily, so nothing stays
// stuck.

#include "support/service_fixtures.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

class StuckFuseMount {
public:
    // Null with `error` set when it could not be mounted; `noFuse` set when the machine offers no
    // /dev/fuse to this user at all (the only reason a test may skip). Mounted on `point` (a folder
    // it makes) when given, else on a folder of its own.
    static std::unique_ptr<StuckFuseMount> start(QString* error, bool* noFuse, const QString& point = {});
    ~StuckFuseMount();
    StuckFuseMount(const StuckFuseMount&) = delete;
    StuckFuseMount& operator=(const StuckFuseMount&) = delete;

    // A file whose reads never return (any name ending in ".png"); its attributes and opening
    // answer at once.
    QString stuckFile(const QString& name = QStringLiteral("icon.png")) const { return point_ + u'/' + name; }
    // A folder that never answers even whether it exists, as a whole server that stopped would
    // not: everything under it hangs as soon as it is looked at.
    QString hungFolder() const { return point_ + QStringLiteral("/hung"); }
    // A folder that answers: it shows what backingFolder(), a folder of this machine's, holds. The
    // server looks up one name in a folder at a time: a look into hungFolder() holds up this one
    // too, as the mount's root holds both.
    QString answeringFolder() const { return point_ + QStringLiteral("/mirror"); }
    QString backingFolder() const { return folder_.filePath(QStringLiteral("backing")); }
    // Waits at most `timeoutMs` for the server to receive a read of that file, or a look at that
    // folder.
    bool waitForRead(int timeoutMs = 10000);
    bool waitForStat(int timeoutMs = 10000);
    qint64 serverPid() const { return server_.processId(); }
    // Ends the server and unmounts; idempotent.
    void stop();

private:
    StuckFuseMount() = default;
    bool waitForLine(const QByteArray& line, int timeoutMs);

    QTemporaryDir folder_;
    QString point_;
    QProcess server_;
    QByteArray output_;
    bool mounted_ = false;
};

}  // namespace testsupport

// In a test's body: mounts a StuckFuseMount into `mount` (given start's `point`, if any); the test
// skips where the machine offers no FUSE, and reports the service missing where it could not mount.
#define QUILLVEX_MOUNT_STUCK_FUSE(mount, ...)                                                              \
    do {                                                                                                  \
        QString fuseError_;                                                                               \
        bool noFuse_ = false;                                                                             \
        mount = ::testsupport::StuckFuseMount::start(&fuseError_, &noFuse_ __VA_OPT__(, ) __VA_ARGS__); \
        if (noFuse_) GTEST_SKIP() << fuseError_.toStdString();                                            \
        if (!mount) QUILLVEX_SERVICE_MISSING(fuseError_.toStdString());                                   \
    } while (false)
